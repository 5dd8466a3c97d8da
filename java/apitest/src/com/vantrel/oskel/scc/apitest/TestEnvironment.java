package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.stream.Collectors;

/**
 * What run-api-tests.sh sets up for one run: the registry file, the test provider's script and
 * call log, the scratch folder, and where the built jars, library and providers are.
 */
final class TestEnvironment {
    /** The display name under which the tests register the scriptable test provider. */
    static final String TEST_PROVIDER = "Api Test Provider";
    /** Its provider key. */
    static final String TEST_PROVIDER_KEY = "Software\\Vantrel\\ApiTestProvider";

    private static final AtomicInteger folders = new AtomicInteger();

    private TestEnvironment() {}

    private static String required(String value, String what) {
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException(what + " is not set: run these tests through "
                    + "java/apitest/run-api-tests.sh (ctest -L java-api)");
        }
        return value;
    }

    static Path env(String name) {
        return Paths.get(required(System.getenv(name), "environment variable " + name));
    }

    static Path property(String name) {
        return Paths.get(required(System.getProperty(name), "system property " + name));
    }

    static Path workDir() {
        return env("OSKEL_APITEST_DIR");
    }

    static Path registry() {
        return env("OSKELSCCIH_REGISTRY");
    }

    static Path scriptFile() {
        return env("OSKEL_TESTPROVIDER_SCRIPT");
    }

    static Path callLogFile() {
        return env("OSKEL_TESTPROVIDER_LOG");
    }

    /** A provider library of the build, e.g. {@code provider("testprovider")}. */
    static Path provider(String target) {
        String file = windows() ? target + ".dll" : System.mapLibraryName(target);
        return property("oskel.providers").resolve(file).toAbsolutePath();
    }

    /**
     * True when the natives under test are a Windows build's, run under wine through the test
     * bridge (system property {@code oskel.test.platform}).
     */
    static boolean windows() {
        return "windows".equals(System.getProperty("oskel.test.platform"));
    }

    /** The registry as a failure names it: the run's file, or Windows's own registry. */
    static String registryName() {
        return windows() ? "HKEY_LOCAL_MACHINE (the Windows registry)" : registry().toString();
    }

    /** The name the library under test gives a file: a Windows one through wine's drive Z:. */
    static String nativeName(Path file) {
        String name = file.toAbsolutePath().toString();
        return windows() ? "Z:" + name.replace('/', '\\') : name;
    }

    /** A file as the library under test reports it back. */
    static Path nativePath(Path file) {
        return Path.of(nativeName(file));
    }

    static Path apiJar() {
        return property("oskel.api.jar");
    }

    static Path sccJar() {
        return property("oskel.scc.jar");
    }

    static Path builtLibrary() {
        return property("oskel.library");
    }

    static String java() {
        return required(System.getProperty("oskel.java"), "system property oskel.java");
    }

    /** A new empty folder below the scratch folder. */
    static Path newFolder(String hint) {
        Path dir = workDir().resolve("t")
                .resolve(folders.incrementAndGet() + "-" + hint.replaceAll("[^A-Za-z0-9._-]", "_"));
        try {
            return Files.createDirectories(dir);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static void write(Path file, String content) {
        try {
            Files.createDirectories(file.toAbsolutePath().getParent());
            Files.writeString(file, content, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    static String read(Path file) {
        try {
            return Files.readString(file, StandardCharsets.UTF_8);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    // --- registry ---------------------------------------------------------------------------

    /** Registers providers (display name to library file); the first one is the default. */
    static void registerProviders(Map<String, Path> providers) {
        write(registry(), registryText(providers, false));
    }

    /**
     * The text of a registry file with providers (display name to library file), the first one
     * the default; with hosted, each runs in a provider host process.
     */
    static String registryText(Map<String, Path> providers, boolean hosted) {
        StringBuilder reg = new StringBuilder("Windows Registry Editor Version 5.00\r\n\r\n");
        Map<String, String> keys = new LinkedHashMap<>();
        for (String name : providers.keySet()) {
            keys.put(name, name.equals(TEST_PROVIDER) ? TEST_PROVIDER_KEY
                    : "Software\\Vantrel\\" + name.replaceAll("[^A-Za-z0-9]", ""));
        }
        if (!keys.isEmpty()) {
            reg.append("[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider]\r\n")
                    .append("\"ProviderRegKey\"=").append(quoted(keys.values().iterator().next()))
                    .append("\r\n\r\n");
        }
        reg.append("[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider\\InstalledSCCProviders]\r\n");
        keys.forEach((name, key) -> reg.append(quoted(name)).append('=').append(quoted(key))
                .append("\r\n"));
        reg.append("\r\n");
        keys.forEach((name, key) -> reg.append("[HKEY_LOCAL_MACHINE\\").append(key).append("]\r\n")
                .append("\"SCCServerPath\"=").append(quoted(providers.get(name).toString()))
                .append(hosted ? "\r\n\"SCCHostProcess\"=\"1\"" : "")
                .append("\r\n\r\n"));
        return reg.toString();
    }

    /** The test provider as the only, and default, provider. */
    static void registerTestProvider() {
        registerProviders(Map.of(TEST_PROVIDER, provider("testprovider")));
    }

    /**
     * The test provider registered alone, with an empty script and call log, and a new folder to
     * work in.
     */
    static Path testProviderFolder(String hint) {
        registerTestProvider();
        script();
        clearCalls();
        return newFolder(hint);
    }

    static void removeRegistry() {
        try {
            Files.deleteIfExists(registry());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    private static String quoted(String text) {
        return "\"" + text.replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
    }

    // --- the test provider's script and call log ------------------------------------------

    /** Replaces the test provider's script. */
    static void script(String... lines) {
        write(scriptFile(), String.join("\n", lines) + "\n");
    }

    /** The call log's lines since the last clear. */
    static List<String> calls() {
        try {
            String content = Files.readString(callLogFile(), StandardCharsets.ISO_8859_1);
            return content.isEmpty() ? new ArrayList<>()
                                     : new ArrayList<>(Arrays.asList(content.split("\n")));
        } catch (NoSuchFileException e) {
            return new ArrayList<>();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The call log's lines of one entry point. */
    static List<String> calls(String entry) {
        return calls().stream().filter(l -> l.startsWith(entry + " ") || l.equals(entry))
                .collect(Collectors.toList());
    }

    static void clearCalls() {
        try {
            Files.deleteIfExists(callLogFile());
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** A text as the call log quotes it (ASCII only). */
    static String logged(String text) {
        return "\"" + text.replace("\\", "\\\\").replace("\"", "\\\"") + "\"";
    }

    // --- child processes ---------------------------------------------------------------------

    /** The outcome of a child process. */
    record Run(int exit, String out, String err) {
        /** Both outputs, for assertion messages. */
        String both() {
            return "exit " + exit + "\n--- stdout\n" + out + "--- stderr\n" + err;
        }

        /** Fails when the JVM reported a JNI problem or printed a stack trace. */
        Run clean() {
            String all = out + err;
            assertTrue(!all.contains("WARNING in native method")
                            && !all.contains("FATAL ERROR in native method"),
                    "-Xcheck:jni reported a problem:\n" + both());
            assertTrue(!all.matches("(?s).*\\n\\s+at [a-z]+\\.[A-Za-z.$]+\\(.*"),
                    "a stack trace was printed:\n" + both());
            return this;
        }
    }

    /** Runs a command with extra environment variables, in a folder, with input. */
    static Run run(List<String> command, Map<String, String> environment, Path folder,
            String input) {
        try {
            Path out = Files.createTempFile(workDir(), "out", ".txt");
            Path err = Files.createTempFile(workDir(), "err", ".txt");
            ProcessBuilder builder = new ProcessBuilder(command)
                    .directory(folder.toFile())
                    .redirectOutput(out.toFile())
                    .redirectError(err.toFile());
            environment.forEach((name, value) -> {
                if (value == null) {
                    builder.environment().remove(name);
                } else {
                    builder.environment().put(name, value);
                }
            });
            Process process = builder.start();
            if (input != null) {
                process.getOutputStream().write(input.getBytes(StandardCharsets.UTF_8));
            }
            process.getOutputStream().close();
            if (!process.waitFor(120, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                fail("timed out: " + command);
            }
            return new Run(process.exitValue(), read(out), read(err));
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }

    /** The java command for a child JVM with -Xcheck:jni and the run's natives cache. */
    static List<String> javaCommand(String... options) {
        List<String> command = new ArrayList<>(List.of(java(), "-Xcheck:jni",
                "-Doskelsccih.cache=" + System.getProperty("oskelsccih.cache")));
        if (windows()) {
            // the Windows test bridge stands in for the jar's natives in every JVM of the run
            for (String name : List.of("oskelsccih.library", "oskel.test.platform", "oskel.test.windows")) {
                command.add("-D" + name + "=" + System.getProperty(name));
            }
        }
        command.addAll(Arrays.asList(options));
        return command;
    }
}
