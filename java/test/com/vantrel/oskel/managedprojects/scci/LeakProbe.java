package com.vantrel.oskel.managedprojects.scci;

import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;
import java.util.stream.IntStream;

/**
 * The JVM that {@link NativeLeakTest} starts: it calls every one of the 28 natives over and over
 * and prints the resident memory of its own process between the rounds. It runs with a Java heap
 * of fixed size whose pages are all touched at start-up, so that what the Java side allocates does
 * not show in the figures and any growth is native memory.
 *
 * <p>Arguments: the number of rounds to measure and the number of warm-up rounds before. The
 * registry, the provider script and the call log are the ones of the test run (environment). The
 * output lines that {@link NativeLeakTest} reads:
 *
 * <pre>
 * LEAK start VMRSS_KB RSSANON_KB
 * LEAK sample ROUNDS VMRSS_KB RSSANON_KB
 * LEAK end ROUNDS VMRSS_KB RSSANON_KB MILLISECONDS CALLS
 * </pre>
 */
public final class LeakProbe {
    /** Names per file command call. */
    public static final int NAMES = 100;
    /** Native calls per round. */
    public static final int CALLS_PER_ROUND = 32;
    /** Samples printed between start and end. */
    public static final int SAMPLES = 10;

    private LeakProbe() {}

    /** A project descriptor with the nine methods the project natives call. */
    public static final class Descriptor {
        private String user = "leak-user";
        private String projectName = "leak-project";
        private String localPath = "/work/leak";
        private String auxProjPath = "leak-aux";

        public String getUser() {
            return user;
        }

        public String getProjectName() {
            return projectName;
        }

        public String getLocalPath() {
            return localPath;
        }

        public String getAuxProjPath() {
            return auxProjPath;
        }

        public String reGetLocalPath() {
            return localPath;
        }

        public void setUser(String value) {
            user = value;
        }

        public void setProjectName(String value) {
            projectName = value;
        }

        public void setLocalPath(String value) {
            localPath = value;
        }

        public void setAuxProjPath(String value) {
            auxProjPath = value;
        }
    }

    /** One field of /proc/self/status, in kB. */
    static long statusKb(String field) {
        try {
            for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
                if (line.startsWith(field + ":")) {
                    return Long.parseLong(line.substring(field.length() + 1).replace("kB", "").trim());
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        throw new IllegalStateException("no " + field + " in /proc/self/status");
    }

    private static String memory() {
        return statusKb("VmRSS") + " " + statusKb("RssAnon");
    }

    /** What one round calls, made once so that the loop itself allocates little. */
    static final class Round {
        final long handle;
        final long ended;
        final String[] files;
        final Descriptor descriptor = new Descriptor();
        final String comment = "leak check comment, long enough to need a buffer of its own";
        final String tracePath;

        Round(long handle, long ended, String tracePath) {
            this.handle = handle;
            this.ended = ended;
            this.tracePath = tracePath;
            this.files = IntStream.range(0, NAMES)
                    .mapToObj(i -> String.format(Locale.ROOT, "src/pkg%02d/File%03d.java", i % 7, i))
                    .toArray(String[]::new);
            files[NAMES / 2] = null;
        }

        /** Every native once ({@link #CALLS_PER_ROUND} calls); the file commands on {@link #NAMES} names. */
        void run(int i) {
            long h = handle;
            // Every other round traces everything (to a file that discards it), the others nothing.
            JavaSCCInterface._setTracing(h, i % 2 == 0 ? 4 : 0, tracePath);
            JavaSCCInterface._getVersion(h);
            JavaSCCInterface._getSCCName(h);
            JavaSCCInterface._getCapabilities(h);
            JavaSCCInterface._getProviders();
            JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME);
            JavaSCCInterface._openProject(h, descriptor);
            JavaSCCInterface._getProjPath(h, descriptor, true, false);
            JavaSCCInterface._reGetProjPath(h, descriptor, "leak-user", "/work/leak", false, true);
            JavaSCCInterface._getFiles(h, NAMES, files);
            JavaSCCInterface._checkout(h, NAMES, files, comment);
            JavaSCCInterface._checkin(h, NAMES, files, comment);
            JavaSCCInterface._uncheckout(h, NAMES, files);
            JavaSCCInterface._add(h, NAMES, files, comment);
            JavaSCCInterface._remove(h, NAMES, files, comment);
            JavaSCCInterface._history(h, NAMES, files);
            JavaSCCInterface._diff(h, files[i % NAMES]);
            JavaSCCInterface._properties(h, files[(i + 1) % NAMES]);
            JavaSCCInterface._queryInfo(h, NAMES, files);
            JavaSCCInterface._runScc(h, NAMES, files);
            JavaSCCInterface._getCommandOptions(h, i % 10);
            JavaSCCInterface._checkCommandOptions(h, i % 12);
            JavaSCCInterface._populateList(h, 2, NAMES, files);
            JavaSCCInterface._getPopulateList(h, 1);
            JavaSCCInterface._getPopulateList(h, 0);
            // Refused counts take a path of their own.
            JavaSCCInterface._checkout(h, NAMES + 1, files, comment);
            JavaSCCInterface._queryInfo(h, -1, files);
            JavaSCCInterface._closeProject(h);
            // Drains the messages the provider sent during the round.
            JavaSCCInterface._getErrList(h);
            // A connection that fails after loading the provider, and one whose key is unknown.
            JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);
            JavaSCCInterface._initialize("Software\\Vantrel\\NoSuchProvider");
            JavaSCCInterface._uninitialize(ended);
        }
    }

    /**
     * Runs the rounds on {@code handle} (connected, provider script in place) and {@code ended} (a
     * handle already uninitialized), printing the figures.
     */
    static void measure(long handle, long ended, int rounds, int warmUp) {
        Round round = new Round(handle, ended, "/dev/null");
        for (int i = 0; i < warmUp; i++) {
            round.run(i);
        }
        System.out.println("LEAK start " + memory());
        int every = Math.max(1, rounds / SAMPLES);
        long t0 = System.nanoTime();
        for (int i = 0; i < rounds; i++) {
            round.run(i);
            if ((i + 1) % every == 0 && i + 1 < rounds) {
                System.out.println("LEAK sample " + (i + 1) + " " + memory());
            }
        }
        long ms = (System.nanoTime() - t0) / 1_000_000;
        System.out.println("LEAK end " + rounds + " " + memory() + " " + ms + " " + (long) rounds * CALLS_PER_ROUND);
    }

    public static void main(String[] args) {
        int rounds = Integer.parseInt(args[0]);
        int warmUp = Integer.parseInt(args[1]);
        long handle = JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);
        long ended = JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);
        if (handle == 0 || ended == 0) {
            System.out.println("LEAK error _initialize failed");
            System.exit(3);
        }
        JavaSCCInterface._uninitialize(ended);
        // From here on SccInitialize fails, so each round's _initialize loads and unloads the provider.
        try {
            Path script = Path.of(System.getenv("OSKEL_TESTPROVIDER_SCRIPT"));
            Files.writeString(script, Files.readString(script) + "return SccInitialize -1\n");
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        measure(handle, ended, rounds, warmUp);
    }
}
