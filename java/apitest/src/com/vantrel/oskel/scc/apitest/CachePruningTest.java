package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.FileTime;
import java.time.Duration;
import java.time.Instant;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The loader removes the cache folders of other versions once they are unused, and nothing else:
 * one cache holds a folder for each case, a JVM loads the library from it, and each folder's fate
 * is checked.
 */
@Tag("loader")
class CachePruningTest {
    private static final Instant OLD = Instant.now().minus(Duration.ofDays(40));
    private static final Instant RECENT = Instant.now().minus(Duration.ofDays(2));

    /** A folder of the cache as a case sets it up, and whether the loader must remove it. */
    private enum Case {
        OLD_WITHOUT_LOCK_FILE(true),
        OLD_WITH_OLD_LOCK_FILE(true),
        USED_RECENTLY(false),
        OLD_BUT_LOCK_FILE_RECENT(false),
        OLD_BUT_LOCKED_BY_A_RUNNING_PROCESS(false),
        OLD_WITH_A_LINK_INSIDE(true),
        OLD_WITH_A_FOLDER_INSIDE(false),
        A_LINK_TO_AN_OLD_FOLDER(false),
        OLD_BUT_NOT_A_DIGEST(false);

        final boolean removed;

        Case(boolean removed) {
            this.removed = removed;
        }

        String folderName() {
            if (this == OLD_BUT_NOT_A_DIGEST) {
                return "notes";
            }
            return String.format("%064x", ordinal() + 1);
        }
    }

    private static void age(Path path, Instant when) throws IOException {
        Files.setLastModifiedTime(path, FileTime.from(when));
    }

    private static Path oldFolder(Path folder, Instant when) throws IOException {
        Files.createDirectories(folder);
        Files.writeString(folder.resolve("liboskelsccih.so"), "an older library");
        age(folder.resolve("liboskelsccih.so"), when);
        return folder;
    }

    private static List<String> probe(Path cache, String... options) {
        return LoaderProbe.command(List.of(TestEnvironment.java(), "-Doskelsccih.cache=" + cache),
                options);
    }

    @Test
    void unusedFoldersOfOtherVersionsAreRemovedAndNothingElse() throws Exception {
        TestEnvironment.registerTestProvider();
        Path root = TestEnvironment.newFolder("prune");
        Path cache = root.resolve("cache");
        Path outside = Files.createDirectories(root.resolve("outside"));
        Path outsideFile = outside.resolve("precious.txt");
        Files.writeString(outsideFile, "not the cache's");
        Path outsideFolder = oldFolder(outside.resolve("old-folder"), OLD);
        FileChannel held = null;
        try {
            for (Case c : Case.values()) {
                Path folder = cache.resolve(c.folderName());
                Path lock = cache.resolve(c.folderName() + ".lock");
                switch (c) {
                    case A_LINK_TO_AN_OLD_FOLDER:
                        Files.createDirectories(cache);
                        Files.createSymbolicLink(folder, outsideFolder);
                        continue;
                    case USED_RECENTLY:
                        oldFolder(folder, RECENT);
                        age(folder, RECENT);
                        continue;
                    case OLD_WITH_A_LINK_INSIDE:
                        oldFolder(folder, OLD);
                        Files.createSymbolicLink(folder.resolve("link"), outsideFile);
                        break;
                    case OLD_WITH_A_FOLDER_INSIDE:
                        oldFolder(folder.resolve("inner"), OLD);
                        age(folder.resolve("inner"), OLD);
                        break;
                    default:
                        oldFolder(folder, OLD);
                        break;
                }
                if (c == Case.OLD_WITH_OLD_LOCK_FILE || c == Case.OLD_BUT_LOCK_FILE_RECENT
                        || c == Case.OLD_BUT_LOCKED_BY_A_RUNNING_PROCESS) {
                    Files.writeString(lock, "");
                    age(lock, c == Case.OLD_BUT_LOCK_FILE_RECENT ? RECENT : OLD);
                }
                if (c == Case.OLD_BUT_LOCKED_BY_A_RUNNING_PROCESS) {
                    // This JVM stands for a running older program that uses the folder.
                    held = FileChannel.open(lock, StandardOpenOption.READ,
                            StandardOpenOption.WRITE);
                    FileLock shared = held.lock(0, Long.MAX_VALUE, true);
                    assertTrue(shared.isShared());
                }
                age(folder, OLD);
            }
            TestEnvironment.Run run = TestEnvironment.run(probe(cache), Map.of(),
                    TestEnvironment.workDir(), null);
            assertEquals(0, run.exit(), run.both());
        } finally {
            if (held != null) {
                held.close();
            }
        }
        Map<Case, Boolean> expected = new TreeMap<>();
        Map<Case, Boolean> found = new TreeMap<>();
        for (Case c : Case.values()) {
            expected.put(c, c.removed);
            found.put(c, !Files.exists(cache.resolve(c.folderName()), LinkOption.NOFOLLOW_LINKS));
        }
        assertEquals(expected, found, "removed (true) or kept, by case");
        // Nothing outside the cache was touched, and removed folders lost their lock files too.
        assertEquals(List.of(true, true, false), List.of(Files.exists(outsideFile),
                Files.exists(outsideFolder.resolve("liboskelsccih.so")),
                Files.exists(cache.resolve(Case.OLD_WITH_OLD_LOCK_FILE.folderName() + ".lock"))),
                "outside file, the linked folder's file, the removed folder's lock file");
    }

    @Test
    void aNegativeKeepDaysKeepsEveryFolderAndTheFolderInUseRecordsItsUse() throws Exception {
        TestEnvironment.registerTestProvider();
        Path cache = TestEnvironment.newFolder("prune-off").resolve("cache");
        Path old = oldFolder(cache.resolve(Case.OLD_WITHOUT_LOCK_FILE.folderName()), OLD);
        age(old, OLD);
        Instant before = Instant.now().minusSeconds(5);
        TestEnvironment.Run run = TestEnvironment.run(
                probe(cache, "-Doskelsccih.cache.keepDays=-1"), Map.of(),
                TestEnvironment.workDir(), null);
        assertEquals(0, run.exit(), run.both());
        assertTrue(Files.exists(old.resolve("liboskelsccih.so")), "the old folder was removed");
        List<Path> locks = new ArrayList<>();
        try (var entries = Files.newDirectoryStream(cache, "*.lock")) {
            entries.forEach(locks::add);
        }
        assertEquals(1, locks.size(), "lock files: " + locks);
        assertTrue(Files.getLastModifiedTime(locks.get(0)).toInstant().isAfter(before),
                "the lock file of the folder in use does not record its use");
    }
}
