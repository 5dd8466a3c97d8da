package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import java.util.zip.ZipFile;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The jars load their own natives: each test starts JVMs of its own (with -Xcheck:jni) on a cache
 * folder of its own.
 */
@Tag("loader")
class NativeLoaderTest {
    private static final String LIBRARY = "liboskelsccih.so";
    private String digest;

    @BeforeEach
    void readDigestFromTheJar() throws IOException {
        TestEnvironment.registerTestProvider();
        try (ZipFile jar = new ZipFile(TestEnvironment.apiJar().toFile());
             InputStream in = jar.getInputStream(
                     jar.getEntry("native/linux-x86_64/" + LIBRARY + ".sha256"))) {
            digest = new String(in.readAllBytes(), StandardCharsets.US_ASCII).split(" ")[0];
        }
    }

    private static String sha256(Path file) throws Exception {
        return HexFormat.of().formatHex(
                MessageDigest.getInstance("SHA-256").digest(Files.readAllBytes(file)));
    }

    private static List<String> probe(Path cache, String... options) {
        List<String> command = new ArrayList<>(List.of(TestEnvironment.java(), "-Xcheck:jni"));
        if (cache != null) {
            command.add("-Doskelsccih.cache=" + cache);
        }
        command.addAll(List.of(options));
        command.addAll(List.of("-cp", TestEnvironment.apiJar() + ":" + classes(),
                LoaderProbe.class.getName()));
        return command;
    }

    private static String classes() {
        try {
            return Path.of(LoaderProbe.class.getProtectionDomain().getCodeSource().getLocation()
                    .toURI()).toString();
        } catch (java.net.URISyntaxException e) {
            throw new IllegalStateException(e);
        }
    }

    private static Map<String, String> values(TestEnvironment.Run run) {
        Map<String, String> values = new HashMap<>();
        for (String line : run.out().split("\n")) {
            int eq = line.indexOf('=');
            if (eq > 0) {
                values.put(line.substring(0, eq), line.substring(eq + 1));
            }
        }
        return values;
    }

    private static TestEnvironment.Run run(List<String> command) {
        return TestEnvironment.run(command, Map.of(), TestEnvironment.workDir(), null);
    }

    private static List<String> listing(Path folder) throws IOException {
        try (Stream<Path> files = Files.list(folder)) {
            return files.map(p -> p.getFileName().toString()).sorted().collect(Collectors.toList());
        }
    }

    @Test
    void aCleanCacheGetsAVerifiedPrivateCopy() throws Exception {
        Path cache = TestEnvironment.newFolder("clean").resolve("cache");
        TestEnvironment.Run run = run(probe(cache)).clean();
        Path expected = cache.resolve(digest).resolve(LIBRARY);
        assertEquals(List.of(0, expected.toString(), "1"),
                List.of(run.exit(), values(run).getOrDefault("loaded", ""),
                        values(run).getOrDefault("providers", "")),
                "exit, loaded file and providers listed: " + run.both());
        assertEquals(List.of(digest, List.of(LIBRARY), "rwx------"),
                List.of(sha256(expected), listing(expected.getParent()),
                        PosixFilePermissions.toString(
                                Files.getPosixFilePermissions(expected.getParent()))),
                "digest of the copy, files in its folder, folder permissions");
    }

    @Test
    void jvmsStartingAtOnceShareOneCompleteCopy() throws Exception {
        for (int round = 0; round < 3; round++) {
            Path cache = TestEnvironment.newFolder("together").resolve("cache");
            List<Process> processes = new ArrayList<>();
            List<Path> outputs = new ArrayList<>();
            for (int i = 0; i < 3; i++) {
                Path out = Files.createTempFile(TestEnvironment.workDir(), "probe", ".txt");
                outputs.add(out);
                processes.add(new ProcessBuilder(probe(cache)).redirectErrorStream(true)
                        .redirectOutput(out.toFile()).start());
            }
            List<String> loaded = new ArrayList<>();
            for (int i = 0; i < processes.size(); i++) {
                assertTrue(processes.get(i).waitFor(120, TimeUnit.SECONDS), "probe finished");
                String output = TestEnvironment.read(outputs.get(i));
                TestEnvironment.Run run =
                        new TestEnvironment.Run(processes.get(i).exitValue(), output, "").clean();
                assertEquals(0, run.exit(), "probe " + i + " of round " + round + ":\n" + output);
                loaded.add(values(run).get("loaded"));
            }
            Path expected = cache.resolve(digest).resolve(LIBRARY);
            assertEquals(List.of(expected.toString(), expected.toString(), expected.toString()),
                    loaded, "files loaded in round " + round);
            assertEquals(List.of(digest, List.of(LIBRARY)),
                    List.of(sha256(expected), listing(expected.getParent())),
                    "the copy and its folder after round " + round);
        }
    }

    @Test
    void aDamagedCopyIsReplaced() throws Exception {
        Path cache = TestEnvironment.newFolder("damaged").resolve("cache");
        Path copy = cache.resolve(digest).resolve(LIBRARY);
        Files.createDirectories(copy.getParent(),
                PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
        Files.write(copy, "not a library".getBytes(StandardCharsets.US_ASCII));
        TestEnvironment.Run run = run(probe(cache)).clean();
        assertEquals(List.of(0, copy.toString(), digest),
                List.of(run.exit(), values(run).getOrDefault("loaded", ""), sha256(copy)),
                "exit, loaded file and its digest: " + run.both());
    }

    @Test
    void aCacheOthersCanWriteToIsNotUsed() throws Exception {
        Path cache = TestEnvironment.newFolder("shared").resolve("cache");
        Files.createDirectories(cache);
        Files.setPosixFilePermissions(cache, PosixFilePermissions.fromString("rwxrwxrwx"));
        TestEnvironment.Run run = run(probe(cache)).clean();
        String loaded = values(run).getOrDefault("loaded", "");
        assertEquals(0, run.exit(), run.both());
        assertFalse(loaded.startsWith(cache.toString()), "loaded from the shared cache: " + loaded);
        assertTrue(loaded.endsWith(LIBRARY), "loaded a copy of the library: " + loaded);
    }

    @Test
    void theLibraryPropertyOverridesTheJar() throws Exception {
        Path cache = TestEnvironment.newFolder("override").resolve("cache");
        String built = TestEnvironment.builtLibrary().toString();
        TestEnvironment.Run run = run(probe(cache, "-Doskelsccih.library=" + built)).clean();
        assertEquals(List.of(0, built, false),
                List.of(run.exit(), values(run).getOrDefault("loaded", ""), Files.exists(cache)),
                "exit, loaded file, cache made: " + run.both());

        String missing = TestEnvironment.workDir().resolve("no-such-library.so").toString();
        TestEnvironment.Run failed = run(probe(cache, "-Doskelsccih.library=" + missing)).clean();
        assertEquals(3, failed.exit(), failed.both());
        assertTrue(values(failed).getOrDefault("error", "").contains(missing),
                "error names the file: " + failed.both());
    }

    @Test
    void theModuleLoadsItsNativesFromTheModulePath() throws Exception {
        Path cache = TestEnvironment.newFolder("module").resolve("cache");
        List<String> command = new ArrayList<>(List.of(TestEnvironment.java(), "-Xcheck:jni",
                "-Doskelsccih.cache=" + cache, "-p", TestEnvironment.apiJar().toString(),
                "--add-modules", "com.vantrel.oskel.scc", "-cp", classes(),
                LoaderProbe.class.getName()));
        TestEnvironment.Run run = run(command).clean();
        assertEquals(List.of(0, cache.resolve(digest).resolve(LIBRARY).toString(), "1"),
                List.of(run.exit(), values(run).getOrDefault("loaded", ""),
                        values(run).getOrDefault("providers", "")),
                "exit, loaded file, providers: " + run.both());
    }

    @Test
    void theToolJarWorksAloneWithThePerUserCache() throws Exception {
        Path folder = TestEnvironment.newFolder("alone");
        Path home = TestEnvironment.newFolder("home");
        Path jar = folder.resolve("scc.jar");
        Files.copy(TestEnvironment.sccJar(), jar, StandardCopyOption.REPLACE_EXISTING);
        Map<String, String> environment = new HashMap<>();
        environment.put("XDG_CACHE_HOME", null);
        TestEnvironment.Run run = TestEnvironment.run(List.of(TestEnvironment.java(), "-Xcheck:jni",
                "-Duser.home=" + home, "-jar", "scc.jar", "providers"), environment, folder, null)
                .clean();
        assertEquals(0, run.exit(), run.both());
        assertTrue(run.out().contains(TestEnvironment.TEST_PROVIDER), run.both());
        assertEquals(List.of(LIBRARY),
                listing(home.resolve(".cache").resolve("oskelsccih").resolve(digest)),
                "the per-user cache");
        assertEquals(List.of("scc.jar"), listing(folder), "files next to the jar");
    }
}
