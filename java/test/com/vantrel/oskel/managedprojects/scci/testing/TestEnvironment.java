package com.vantrel.oskel.managedprojects.scci.testing;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.concurrent.atomic.AtomicInteger;

/**
 * Where the JVM tests find the library, the test providers and the files they share with the
 * native side. run-jvm-tests.sh sets all of it up for one run: the system properties
 * {@code oskelsccih.library} and {@code oskel.providers}, and the environment variables
 * {@code OSKELSCCIH_REGISTRY}, {@code OSKEL_TESTPROVIDER_SCRIPT}, {@code OSKEL_TESTPROVIDER_LOG}
 * and {@code OSKEL_JVM_TEST_DIR} (the run's scratch folder).
 */
public final class TestEnvironment {
    /** The three builds of the scriptable test provider. */
    public static final String TEST_PROVIDER = "testprovider";
    /** Exports SccUninitialize only. */
    public static final String UNINIT_ONLY_PROVIDER = "testprovider_uninit";
    /** Exports SccInitialize and SccUninitialize only. */
    public static final String INIT_ONLY_PROVIDER = "testprovider_initonly";

    private static final AtomicInteger folderCounter = new AtomicInteger();

    private TestEnvironment() {}

    private static String required(String value, String what) {
        if (value == null || value.isEmpty()) {
            throw new IllegalStateException(what + " is not set: run the JVM tests through "
                    + "java/run-jvm-tests.sh (ctest -L jvm)");
        }
        return value;
    }

    private static Path env(String name) {
        return Paths.get(required(System.getenv(name), "environment variable " + name));
    }

    /**
     * True in the hosted runs (system property {@code oskel.test.hosted}, set by
     * run-jvm-tests.sh --hosted): the registry asks for every test provider to run in a
     * provider host process.
     */
    public static boolean hosted() {
        return Boolean.getBoolean("oskel.test.hosted");
    }

    /** The .reg file that the library reads as HKEY_LOCAL_MACHINE. */
    public static Path registryPath() {
        return env("OSKELSCCIH_REGISTRY");
    }

    /** The script file of the test provider. */
    public static Path scriptPath() {
        return env("OSKEL_TESTPROVIDER_SCRIPT");
    }

    /** The call log of the test provider. */
    public static Path callLogPath() {
        return env("OSKEL_TESTPROVIDER_LOG");
    }

    /** The run's scratch folder; everything a test creates lives below it. */
    public static Path workDir() {
        return env("OSKEL_JVM_TEST_DIR");
    }

    /** The folder holding the built test providers. */
    public static Path providersDir() {
        return Paths.get(required(System.getProperty("oskel.providers"),
                "system property oskel.providers"));
    }

    /** The file of one provider build, e.g. {@code provider(TEST_PROVIDER)}. */
    public static Path provider(String target) {
        return providersDir().resolve(libraryFile(target)).toAbsolutePath();
    }

    /**
     * True when the natives under test are a Windows build's, run under wine through the test
     * bridge (system property {@code oskel.test.platform}).
     */
    public static boolean windows() {
        return "windows".equals(System.getProperty("oskel.test.platform"));
    }

    /** The width of a pointer in the library under test: 32 for the x86 Windows build. */
    public static int pointerBits() {
        return "win32".equals(System.getProperty("oskel.test.windows")) ? 32 : 64;
    }

    /** The file name of a library target on the platform under test. */
    public static String libraryFile(String target) {
        return windows() ? target + ".dll" : System.mapLibraryName(target);
    }

    /**
     * The encoding of the C locale this JVM was started in, as the JVM saw it
     * ({@code sun.jnu.encoding}: "UTF-8", "ANSI_X3.4-1968", "ISO-8859-1", ...).
     */
    public static String localeCodeset() {
        String codeset = System.getProperty("sun.jnu.encoding");
        return codeset == null ? "" : codeset;
    }

    /** True when the JVM runs under a UTF-8 locale. */
    public static boolean utf8Locale() {
        String codeset = localeCodeset();
        return codeset.equalsIgnoreCase("UTF-8") || codeset.equalsIgnoreCase("UTF8");
    }

    /** A new empty folder below the work folder, named after {@code hint}. */
    public static Path newFolder(String hint) {
        String safe = hint.replaceAll("[^A-Za-z0-9._-]", "_");
        if (safe.length() > 60) {
            safe = safe.substring(0, 60);
        }
        Path dir = workDir().resolve("t").resolve(folderCounter.incrementAndGet() + "-" + safe);
        try {
            return Files.createDirectories(dir);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }
}
