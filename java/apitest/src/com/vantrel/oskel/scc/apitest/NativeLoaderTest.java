package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.NativeLibrary;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccResult;

import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.LinkOption;
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
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.EnumSource;

/**
 * The jars load their own natives: each test starts JVMs of its own (with -Xcheck:jni) on a cache
 * folder of its own.
 */
@Tag("loader")
class NativeLoaderTest {
    private static final String LIBRARY = "liboskelsccih.so";
    private static final String HOST = "oskelsccih-host";
    private static final List<String> EXTRACTED = List.of(LIBRARY, HOST);
    /** A uid that no file of the test run belongs to. */
    private static final int OTHER_UID = 4242;
    /** The folder the Linux files are extracted into: the digest of their list. */
    private String digest;
    /** The digest of the library itself. */
    private String libraryDigest;

    @BeforeEach
    void readDigestFromTheJar() throws Exception {
        TestEnvironment.registerTestProvider();
        try (ZipFile jar = new ZipFile(TestEnvironment.apiJar().toFile());
             InputStream in = jar.getInputStream(
                     jar.getEntry("native/linux-x86_64/files.sha256"))) {
            byte[] list = in.readAllBytes();
            digest = HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(list));
            for (String line : new String(list, StandardCharsets.US_ASCII).split("\n")) {
                if (line.endsWith("  " + LIBRARY)) {
                    libraryDigest = line.substring(0, 64);
                }
            }
        }
    }

    private static String sha256(Path file) throws Exception {
        return HexFormat.of().formatHex(
                MessageDigest.getInstance("SHA-256").digest(Files.readAllBytes(file)));
    }

    private static boolean isRoot() {
        return "root".equals(System.getProperty("user.name"));
    }

    private static List<String> probe(Path cache, String... options) {
        List<String> start = new ArrayList<>(List.of(TestEnvironment.java(), "-Xcheck:jni"));
        if (cache != null) {
            start.add("-Doskelsccih.cache=" + cache);
        }
        return LoaderProbe.command(start, options);
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

    /**
     * On a platform without natives the first call an application makes throws an exception that
     * {@code catch (Exception)} sees, naming the platform, the supported ones and what the jar
     * carries; later calls throw the same.
     */
    @ParameterizedTest
    @CsvSource({"Linux, aarch64", "Plan9, amd64", "Windows 10, arm64", "Mac OS X, x86_64"})
    void anUnsupportedPlatformIsNamed(String osName, String osArch) throws Exception {
        Path cache = TestEnvironment.newFolder("unsupported").resolve("cache");
        List<String> command = probe(cache, "-Dos.name=" + osName, "-Dos.arch=" + osArch,
                "-Djava.library.path=" + cache);
        command.addAll(List.of("registry", cache.resolve("registry.reg").toString()));
        TestEnvironment.Run run = run(command).clean();
        Map<String, String> values = values(run);
        String message = values.getOrDefault("message", "");
        assertEquals(List.of(4, "com.vantrel.oskel.scc.SccUnsupportedPlatformException",
                        osName + "/" + osArch, "[linux-x86_64, windows-x86, windows-x86_64]",
                        "[linux-x86_64, windows-x86, windows-x86_64]",
                        "com.vantrel.oskel.scc.SccUnsupportedPlatformException"),
                List.of(run.exit(), values.getOrDefault("exception", ""),
                        values.getOrDefault("platform", ""), values.getOrDefault("supported", ""),
                        values.getOrDefault("jar", ""), values.getOrDefault("again", "")),
                "exit, exception, platform, supported, jar contents, second call: " + run.both());
        for (String part : List.of("os.name=" + osName, "os.arch=" + osArch,
                "supported platforms: linux-x86_64, windows-x86, windows-x86_64",
                "linux-x86_64 [" + LIBRARY + ", " + HOST + "]", "oskelsccih.library")) {
            assertTrue(message.contains(part), "the message names " + part + ": " + message);
        }
        assertTrue(Files.notExists(cache), "nothing is extracted for another platform");
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
        assertEquals(List.of(libraryDigest, EXTRACTED, "rwx------", "r-x------"),
                List.of(sha256(expected), listing(expected.getParent()),
                        PosixFilePermissions.toString(
                                Files.getPosixFilePermissions(expected.getParent())),
                        PosixFilePermissions.toString(Files.getPosixFilePermissions(
                                expected.resolveSibling(HOST)))),
                "digest of the copy, files in its folder, folder and host permissions");
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
            assertEquals(List.of(libraryDigest, EXTRACTED),
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
        assertEquals(List.of(0, copy.toString(), libraryDigest),
                List.of(run.exit(), values(run).getOrDefault("loaded", ""), sha256(copy)),
                "exit, loaded file and its digest: " + run.both());
    }

    /** Caches another user could swap files in; each row makes one below a folder of its own. */
    enum UnsafeCache {
        /** The cache folder is writable by everyone. */
        WRITABLE_BY_OTHERS,
        /** The cache folder is a link to a private folder of this user. */
        LINK_TO_OWN_FOLDER,
        /** The cache folder belongs to another user. */
        OWNED_BY_OTHER_USER,
        /** A folder above the cache belongs to another user. */
        PARENT_OWNED_BY_OTHER_USER,
        /** A folder above the cache is writable by everyone and not sticky. */
        PARENT_WRITABLE_BY_OTHERS,
        /**
         * In a sticky folder open to all, another user's link named like the cache points to this
         * user's own private folder.
         */
        FOREIGN_LINK_IN_STICKY_FOLDER;

        /** Makes the cache below {@code folder}; returns it and the folder it leads to. */
        Path[] make(Path folder) throws IOException {
            Path own = Files.createDirectories(folder.resolve("own"),
                    PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------")));
            switch (this) {
                case WRITABLE_BY_OTHERS: {
                    Path cache = Files.createDirectories(folder.resolve("cache"));
                    Files.setPosixFilePermissions(cache, PosixFilePermissions.fromString("rwxrwxrwx"));
                    return new Path[] {cache, cache};
                }
                case LINK_TO_OWN_FOLDER:
                    return new Path[] {Files.createSymbolicLink(folder.resolve("cache"), own), own};
                case OWNED_BY_OTHER_USER:
                    Files.setAttribute(own, "unix:uid", OTHER_UID);
                    return new Path[] {own, own};
                case PARENT_OWNED_BY_OTHER_USER:
                    Files.setAttribute(own, "unix:uid", OTHER_UID);
                    return new Path[] {own.resolve("cache"), own.resolve("cache")};
                case PARENT_WRITABLE_BY_OTHERS:
                    Files.setPosixFilePermissions(own, PosixFilePermissions.fromString("rwxrwxrwx"));
                    return new Path[] {own.resolve("cache"), own.resolve("cache")};
                default: {
                    Path shared = Files.createDirectories(folder.resolve("shared"));
                    sticky(shared);
                    Path link = Files.createSymbolicLink(shared.resolve("cache"), own);
                    Files.setAttribute(link, "unix:uid", OTHER_UID, LinkOption.NOFOLLOW_LINKS);
                    return new Path[] {link, own};
                }
            }
        }
    }

    /** chmod 1777: writable by all, entries removable only by their owners. */
    private static void sticky(Path folder) throws IOException {
        try {
            assertEquals(0, new ProcessBuilder("chmod", "1777", folder.toString()).inheritIO()
                    .start().waitFor(), "chmod 1777 " + folder);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IOException(e);
        }
    }

    @ParameterizedTest(name = "{0}")
    @EnumSource(UnsafeCache.class)
    void anUnsafeCacheIsRefusedAndAPrivateFolderUsedInstead(UnsafeCache kind) throws Exception {
        assumeTrue(isRoot() || kind == UnsafeCache.WRITABLE_BY_OTHERS
                        || kind == UnsafeCache.LINK_TO_OWN_FOLDER,
                "giving a file to another user needs root");
        Path folder = TestEnvironment.newFolder("unsafe-" + kind);
        Path[] made = kind.make(folder);
        Path cache = made[0];
        // What the unsafe cache leads to already holds a file under the library's name.
        Path planted = made[1].resolve(digest).resolve(LIBRARY);
        Files.createDirectories(planted.getParent());
        Files.writeString(planted, "planted");
        // A private folder that a JVM which is gone left behind.
        Path temp = Files.createDirectories(folder.resolve("tmp"));
        Files.createDirectories(temp.resolve("oskelsccih-999999999-1").resolve("left"));

        TestEnvironment.Run run = run(probe(cache, "-Djava.io.tmpdir=" + temp)).clean();
        String loaded = values(run).getOrDefault("loaded", "");
        assertEquals(List.of(0, "planted", true, true),
                List.of(run.exit(), Files.readString(planted),
                        loaded.startsWith(temp.toString()) && loaded.endsWith("/" + LIBRARY),
                        run.err().contains("the native library cache " + cache + " is refused")),
                "exit, planted file, loaded from the private folder, reason logged: " + run.both());
        assertEquals(List.of(), listing(temp), "left in the temporary folder after the JVM exited");
    }

    @Test
    void severalClassLoadersEachGetALibraryOfTheirOwn() throws Exception {
        Path cache = TestEnvironment.newFolder("loaders").resolve("cache");
        List<String> command = new ArrayList<>(List.of(TestEnvironment.java(), "-Xcheck:jni",
                "-Doskelsccih.cache=" + cache, "-cp", LoaderProbe.classes(), ClassLoaderProbe.class.getName(),
                TestEnvironment.apiJar().toString(), "3"));
        TestEnvironment.Run run = run(command).clean();
        Path folder = cache.resolve(digest);
        Map<String, String> values = values(run);
        assertEquals(List.of(0, folder.resolve(LIBRARY).toString(),
                        folder.resolve("liboskelsccih-2.so").toString(),
                        folder.resolve("liboskelsccih-3.so").toString(), "oskelsccih.cache"),
                List.of(run.exit(), values.getOrDefault("loaded.1", ""),
                        values.getOrDefault("loaded.2", ""), values.getOrDefault("loaded.3", ""),
                        values.getOrDefault("properties", "")),
                "exit, the file each class loader loaded, system properties: " + run.both());
        assertEquals(3, values.entrySet().stream().filter(e -> e.getKey().startsWith("provider.")
                        && e.getValue().startsWith("Test Provider ")).count(),
                "a connection in every class loader: " + run.both());
        assertEquals(libraryDigest, sha256(folder.resolve("liboskelsccih-3.so")), "copy digest");
    }

    /** localstore registered to run in the provider host program. */
    private static void registerHostedLocalstore() {
        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        String key = "Software\\\\Vantrel\\\\LocalStore";
        TestEnvironment.write(TestEnvironment.registry(), String.join("\r\n",
                "Windows Registry Editor Version 5.00", "",
                "[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider\\InstalledSCCProviders]",
                "\"LocalStore\"=\"" + key + "\"", "",
                "[HKEY_LOCAL_MACHINE\\Software\\Vantrel\\LocalStore]",
                "\"SCCServerPath\"=\"" + library + "\"",
                "\"SCCHostProcess\"=\"1\"", ""));
    }

    @Test
    void aHostedProviderRunsInTheHostFromTheJar() throws Exception {
        registerHostedLocalstore();
        Path work = TestEnvironment.newFolder("hosted-work");
        Path store = TestEnvironment.newFolder("hosted-store").resolve("store");
        Path hello = work.resolve("hello.txt");
        Files.writeString(hello, "Hello.\n");
        Path host = NativeLibrary.load().orElseThrow().resolveSibling(HOST);
        try (Connection connection = Scc.connect("LocalStore")) {
            assertTrue(ProcessHandle.current().children().anyMatch(p -> p.info().command()
                            .map(host.toString()::equals).orElse(false)),
                    "no child process runs " + host);
            try (Project project = connection.openProject(
                    ProjectLocation.of("tester", "demo", work, store.toString()),
                    OpenMode.CREATE_IF_NEW)) {
                assertEquals(List.of(SccResult.OK, SccResult.OK, SccResult.OK, SccResult.OK),
                        List.of(project.add(Comment.of("first"), hello).result(),
                                project.checkout(Comment.of("edit"), hello).result(),
                                project.checkin(Comment.of("edited"), hello).result(),
                                project.history(hello).result()),
                        "add, checkout, checkin, history");
            }
        }
    }

    @Test
    void theToolRunsAHostedProviderFromItsJarAlone() throws Exception {
        registerHostedLocalstore();
        Path folder = TestEnvironment.newFolder("hosted-tool");
        Path work = Files.createDirectories(folder.resolve("work"));
        Files.copy(TestEnvironment.sccJar(), folder.resolve("scc.jar"));
        Files.writeString(work.resolve("a.txt"), "a\n");
        Files.writeString(folder.resolve("session.scc"),
                "add -m first a.txt\ncheckout a.txt\ncheckin -m second a.txt\nhistory a.txt\n");
        Map<String, String> environment = new HashMap<>();
        for (String name : List.of("OSKELSCCIH_HOST", "SCC_PROVIDER", "SCC_PROJECT", "SCC_USER",
                "SCC_AUX_PATH")) {
            environment.put(name, null);
        }
        TestEnvironment.Run run = TestEnvironment.run(List.of(TestEnvironment.java(),
                "-Xcheck:jni", "-Doskelsccih.cache=" + folder.resolve("cache"), "-jar",
                folder.resolve("scc.jar").toString(), "session", "--create", "--provider", "LocalStore",
                "--project", "demo", "--local-path", work.toString(), "--aux-path",
                folder.resolve("store").toString(), folder.resolve("session.scc").toString()),
                environment, work, null).clean();
        assertEquals(0, run.exit(), run.both());
    }

    /**
     * Rows: java options ahead of the probe (its class path and main class follow), whether the
     * JDK must warn about restricted methods.
     */
    @ParameterizedTest(name = "{0} warns: {1}")
    @CsvSource(delimiter = '|', value = {
        "-jar SCC_JAR providers | false",
        "--enable-native-access=com.vantrel.oskel.scc -p API_JAR --add-modules com.vantrel.oskel.scc -cp CLASSES PROBE | false",
        "-p API_JAR --add-modules com.vantrel.oskel.scc -cp CLASSES PROBE | true",
    })
    void jdk25WarnsOnlyWhereNativeAccessIsNotEnabled(String options, boolean warns) {
        Path java = Path.of(System.getenv().getOrDefault("OSKEL_JDK25",
                "/usr/lib/jvm/temurin-25-jdk-amd64/bin/java"));
        assumeTrue(Files.isExecutable(java), "no JDK 25 at " + java);
        List<String> command = new ArrayList<>(List.of(java.toString(),
                "-Doskelsccih.cache=" + TestEnvironment.newFolder("jdk25").resolve("cache")));
        for (String word : options.split(" ")) {
            command.add(word.replace("SCC_JAR", TestEnvironment.sccJar().toString())
                    .replace("API_JAR", TestEnvironment.apiJar().toString())
                    .replace("CLASSES", LoaderProbe.classes()).replace("PROBE", LoaderProbe.class.getName()));
        }
        TestEnvironment.Run run = run(command);
        assertEquals(List.of(0, warns), List.of(run.exit(), run.err().contains("WARNING")),
                "exit and restricted-method warning: " + run.both());
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
                "--add-modules", "com.vantrel.oskel.scc", "-cp", LoaderProbe.classes(),
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
        assertEquals(EXTRACTED,
                listing(home.resolve(".cache").resolve("oskelsccih").resolve(digest)),
                "the per-user cache");
        assertEquals(List.of("scc.jar"), listing(folder), "files next to the jar");
    }
}
