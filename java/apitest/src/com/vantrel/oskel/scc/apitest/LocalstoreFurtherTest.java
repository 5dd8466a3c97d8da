package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Batch;
import com.vantrel.oskel.scc.ChangeKind;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.DirEntry;
import com.vantrel.oskel.scc.DirListOption;
import com.vantrel.oskel.scc.ExtendedCapability;
import com.vantrel.oskel.scc.FileChange;
import com.vantrel.oskel.scc.FolderStatus;
import com.vantrel.oskel.scc.ListResult;
import com.vantrel.oskel.scc.NameChange;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccResult;
import com.vantrel.oskel.scc.StatusEvent;
import com.vantrel.oskel.scc.StatusFlag;
import com.vantrel.oskel.scc.UserOption;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The provider's further calls against the real localstore provider, in the JVM's process and
 * in a provider host process: rename with history, folders, changes in the store, events, batches,
 * cancellation and sub-projects.
 */
@Tag("localstore")
class LocalstoreFurtherTest {
    /** Registers localstore, in-process or hosted, as the only provider. */
    private static void register(boolean hosted) {
        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        TestEnvironment.write(TestEnvironment.registry(),
                TestEnvironment.registryText(Map.of("LocalStore", library), hosted));
    }

    /** A new working folder with its store beside it. */
    private static ProjectLocation newProject(String hint) {
        Path work = TestEnvironment.newFolder(hint);
        Path store = TestEnvironment.newFolder(hint + "-store").resolve("store");
        return ProjectLocation.of("tester", "demo", work, store.toString());
    }

    private static Path work(ProjectLocation location) {
        return Path.of(location.localPath());
    }

    private static Path write(Path file, String text) throws Exception {
        Files.createDirectories(file.getParent());
        Files.writeString(file, text);
        return file;
    }

    @ParameterizedTest(name = "hosted {0}")
    @ValueSource(booleans = {false, true})
    void aRenamedFileKeepsItsHistoryAndTheStoreReportsTheRename(boolean hosted) throws Exception {
        register(hosted);
        ProjectLocation location = newProject("rename");
        Path work = work(location);
        Path old = write(work.resolve("a.txt"), "one\n");
        Path other = write(work.resolve("lib/c.txt"), "c\n");
        Path renamed = work.resolve("docs/b.txt");
        Path outside = TestEnvironment.newFolder("not-controlled");
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
            project.add(Comment.of("first version"), old, other);
            project.checkout(Comment.of("second"), old);
            Files.writeString(old, "two\n");
            project.checkin(Comment.of("second version"), old);

            List<NameChange> reported = new ArrayList<>();
            connection.setNameChangeListener(reported::add);
            assertEquals(SccResult.OK, project.rename(old, renamed).result(), "rename");
            assertEquals(List.of(new NameChange(TestEnvironment.nativePath(old),
                    TestEnvironment.nativePath(renamed))), reported,
                    "the provider's report of the rename");
            Files.createDirectories(renamed.getParent());
            Files.move(old, renamed);

            String history = project.history(renamed).text();
            assertTrue(history.contains("first version") && history.contains("second version"),
                    "the history of the new name has the versions made under the old one:\n"
                            + history);
            assertEquals(List.of(false, true),
                    List.of(project.status(old).get(0).isControlled(),
                            project.status(renamed).get(0).isControlled()),
                    "old and new name controlled");

            List<FileChange> changes = project.queryChanges(old, renamed).items();
            assertEquals(List.of(new FileChange(old, ChangeKind.RENAMED_TO, TestEnvironment.nativePath(renamed)),
                            new FileChange(renamed, ChangeKind.UNCHANGED, renamed)),
                    changes, "changes of both names");

            List<FolderStatus> folders = project.dirStatus(work, work.resolve("lib"), outside)
                    .items();
            assertEquals(List.of(true, true, false),
                    folders.stream().map(FolderStatus::isControlled).collect(Collectors.toList()),
                    "folder status of the working folder, a sub-folder and another: " + folders);

            Set<DirEntry> everything = Set.copyOf(project.dirList(
                    EnumSet.of(DirListOption.RECURSIVE, DirListOption.INCLUDE_FILES), work).items());
            assertEquals(Set.of(new DirEntry(TestEnvironment.nativePath(work.resolve("docs")), true),
                            new DirEntry(TestEnvironment.nativePath(work.resolve("lib")), true),
                            new DirEntry(TestEnvironment.nativePath(renamed), false),
                            new DirEntry(TestEnvironment.nativePath(other), false)),
                    everything, "recursive list with files");
            assertEquals(Set.of(new DirEntry(TestEnvironment.nativePath(work.resolve("docs")), true),
                            new DirEntry(TestEnvironment.nativePath(work.resolve("lib")), true)),
                    Set.copyOf(project.dirList(Set.of(), work).items()), "one level of folders");

            assertEquals(SccResult.OK, project.dirDiff(work).result(), "folder matches the store");
            write(work.resolve("lib/new.txt"), "not added\n");
            CommandResult differs = project.dirDiff(work);
            assertEquals(SccResult.I_FILEDIFFERS, differs.result(), "folder with a new file");
            assertTrue(differs.text().contains("new.txt"), "the difference is named: " + differs);
        }
    }

    @ParameterizedTest(name = "hosted {0}")
    @ValueSource(booleans = {false, true})
    void theEventQueueReportsAChangeMadeByAnotherConnection(boolean hosted) throws Exception {
        register(hosted);
        ProjectLocation location = newProject("events");
        Path file = write(work(location).resolve("watched.txt"), "w\n");
        try (Connection watcher = Scc.connect("LocalStore");
                Project watching = watcher.openProject(location, OpenMode.CREATE_IF_NEW)) {
            watching.add(file);
            assertEquals(SccResult.OK, watcher.setEventQueue(true), "event queue on");
            watching.status(file);
            watcher.pollEvents();
            try (Connection other = Scc.connect("LocalStore");
                    Project changing = other.openProject(location.withUser("someone"))) {
                changing.checkout(Comment.of("theirs"), file);
            }
            List<StatusEvent> received = new ArrayList<>();
            watcher.setEventListener(received::add);
            int delivered = watcher.deliverEvents();
            assertEquals(received.size(), delivered, "events delivered");
            assertFalse(received.isEmpty(), "an event for the other user's check-out");
            StatusEvent last = received.get(received.size() - 1);
            assertEquals(TestEnvironment.nativePath(file), last.file(), "the event's file: " + received);
            assertTrue(last.flags().containsAll(Set.of(StatusFlag.CONTROLLED, StatusFlag.OUTOTHER)),
                    "checked out by another user: " + received);
            assertEquals(last.flags(), watching.status(file).get(0).flags(),
                    "the event says what a status query says");
            assertTrue(watcher.pollEvent().isEmpty(), "the queue is empty once taken");
        }
    }

    @ParameterizedTest(name = "hosted {0}")
    @ValueSource(booleans = {false, true})
    void aLongGetIsCancelledFromAnotherThread(boolean hosted) throws Exception {
        register(hosted);
        ProjectLocation location = newProject("cancel");
        List<Path> files = new ArrayList<>();
        for (int i = 0; i < 1000; i++) {
            files.add(write(work(location).resolve("f" + i + ".txt"), "file " + i + "\n"));
        }
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
            project.add(files);
            for (Path file : files) {
                Files.delete(file);
            }
            connection.setCancelMode(true);
            Future<CommandResult> get = CompletableFuture.supplyAsync(() -> {
                try {
                    return project.get(files);
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            });
            // cancel() does nothing until the get runs, so keep asking until it returns.
            while (!get.isDone()) {
                assertTrue(connection.cancel(), "cancel on a live connection");
                Thread.onSpinWait();
            }
            CommandResult result = get.get(0, TimeUnit.SECONDS);
            assertTrue(result.isCancelled(), "the get was cancelled: " + result);
            long got = files.stream().filter(Files::exists).count();
            assertTrue(got < files.size(), "the get stopped early: " + got + " files written");
            assertEquals(SccResult.OK, project.get(files).result(),
                    "the next get is not cancelled");
            assertEquals(files.size(), files.stream().filter(Files::exists).count(),
                    "and gets every file");
        }
    }

    @Test
    void batchesDoNotNestAndEndWithTheirConnection() throws Exception {
        register(false);
        ProjectLocation location = newProject("batch");
        Path a = write(work(location).resolve("a.txt"), "a\n");
        Path b = write(work(location).resolve("b.txt"), "b\n");
        Batch left;
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
            try (Batch batch = connection.beginBatch()) {
                project.add(Comment.of("in a batch"), a, b);
                project.checkout(a);
                assertThrows(IllegalStateException.class, connection::beginBatch,
                        "a second batch on the connection");
                assertTrue(batch.isOpen(), "the first batch is still open");
            }
            left = connection.beginBatch();
        }
        assertFalse(left.isOpen(), "closing the connection ended its batch");
        left.close();
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location)) {
            assertEquals(List.of(true, false),
                    List.of(project.status(a).get(0).isCheckedOut(),
                            project.status(b).get(0).isCheckedOut()),
                    "the batch's commands took effect, and the store is usable after it");
            project.checkout(b);
        }
    }

    @Test
    void filesComeBackFromTheStoreIntoTheirFolder() throws Exception {
        register(false);
        ProjectLocation location = newProject("addfromscc");
        Path top = write(work(location).resolve("top.txt"), "t\n");
        Path inLib = write(work(location).resolve("lib/c.txt"), "c\n");
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
            project.add(top, inLib);
            Files.delete(top);
            Files.delete(inLib);
            assertTrue(connection.sharesSubProjects(), "localstore takes a destination folder");
            ListResult<String> lib = project.addFromScc(inLib.getParent());
            assertEquals(List.of(true, false), List.of(Files.exists(inLib), Files.exists(top)),
                    "only the destination folder's file came back: " + lib);
            assertEquals(1, lib.items().size(), "one file named: " + lib.items());
            ListResult<String> all = project.addFromScc();
            assertEquals(List.of(SccResult.OK, 1, true),
                    List.of(all.result(), all.items().size(), Files.exists(top)),
                    "the rest came back: " + all.items());
        }
    }

    @Test
    void subProjectsHaveTheirProjectAsParent() throws Exception {
        register(false);
        ProjectLocation location = newProject("sub");
        try (Connection connection = Scc.connect("LocalStore");
                Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
            assertEquals(List.of(EnumSet.of(ExtendedCapability.POPULATELIST_DIR,
                                    ExtendedCapability.QUERYCHANGES,
                                    ExtendedCapability.ADD_FILES_FROM_SCC,
                                    ExtendedCapability.GET_USER_OPTIONS,
                                    ExtendedCapability.RENAME_CHECKEDOUT),
                            0, false, List.of(false)),
                    List.of(connection.extendedCapabilities(),
                            connection.userOption(UserOption.CHECKOUT_LOCALVER),
                            project.isMultiCheckoutEnabled(),
                            project.willCreateSccFile(work(location).resolve("x.txt"))),
                    "extended capabilities, check-out of the local version, multiple "
                            + "check-outs and binding files of a new store");
            ProjectLocation sub = connection.createSubProject(project.location(), "part");
            assertFalse(sub.projectName().isEmpty(), "the sub-project's path: " + sub);
            assertEquals(project.location().projectName(),
                    connection.parentProject(sub).projectName(), "the sub-project's parent");
            assertEquals(project.location().projectName(),
                    connection.parentProject(project.location()).projectName(),
                    "a project at the top is its own parent");
        }
    }
}
