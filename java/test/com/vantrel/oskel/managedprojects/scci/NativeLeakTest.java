package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestReporter;

/**
 * Runs every one of the 28 natives many times in one JVM and checks that the process's resident
 * memory does not grow with the number of calls: every text, array and list a call makes must be
 * released by the time it returns (or, for the lists, when the next call replaces them).
 *
 * <p>The calls run in a JVM of their own ({@link LeakProbe}) whose Java heap has a fixed size and
 * is touched in full at start-up, so that the Java objects the natives return do not move the
 * figures: what grows is native memory. It interprets only (no compiler threads whose working
 * memory would come and go) and runs with {@code -Xcheck:jni} too.
 *
 * <p>The normal run is short. For a long run set the system property {@code oskel.leak.rounds},
 * for instance to 100000 (that many calls of each file command with 100 names each):
 * {@code JAVA_TOOL_OPTIONS=-Doskel.leak.rounds=100000} in the environment of run-jvm-tests.sh.
 */
@Tag("leak")
class NativeLeakTest extends NativeTestBase {
    static final String ROUNDS_PROPERTY = "oskel.leak.rounds";
    static final int DEFAULT_ROUNDS = 2000;
    /**
     * Allowed growth of the resident memory over the measured rounds. Without a leak the figure
     * settles about 330 kB above the start, whatever the number of rounds. An array of 100 words
     * lost per call of one native costs about 1.1 MB over the default rounds; a buffer of 16 bytes
     * lost per file command call about 40 MB over 100000 rounds.
     */
    static final long BOUND_KB = 768;

    private static int rounds() {
        String value = System.getProperty(ROUNDS_PROPERTY);
        return value == null || value.isBlank() ? DEFAULT_ROUNDS : Integer.parseInt(value.trim());
    }

    /** The figures one {@link LeakProbe} run printed. */
    static final class Figures {
        long startRss = -1;
        long startAnon = -1;
        long endRss = -1;
        long endAnon = -1;
        long rounds;
        long millis;
        long calls;
        final List<String> samples = new ArrayList<>();

        static Figures parse(List<String> output) {
            Figures f = new Figures();
            for (String line : output) {
                String[] w = line.trim().split(" ");
                if (w.length < 2 || !w[0].equals("LEAK")) {
                    continue;
                }
                switch (w[1]) {
                    case "start":
                        f.startRss = Long.parseLong(w[2]);
                        f.startAnon = Long.parseLong(w[3]);
                        break;
                    case "sample":
                        f.samples.add(w[3]);
                        break;
                    case "end":
                        f.rounds = Long.parseLong(w[2]);
                        f.endRss = Long.parseLong(w[3]);
                        f.endAnon = Long.parseLong(w[4]);
                        f.millis = Long.parseLong(w[5]);
                        f.calls = Long.parseLong(w[6]);
                        break;
                    default:
                        break;
                }
            }
            return f;
        }

        boolean complete() {
            return startRss >= 0 && endRss >= 0;
        }

        @Override
        public String toString() {
            return String.format("%d rounds, %d native calls (%d calls of each file command with %d names) in %d ms;"
                    + " VmRSS %d kB -> %d kB (%+d kB), RssAnon %d kB -> %d kB (%+d kB); VmRSS samples %s,%s,%s kB",
                    rounds, calls, rounds, LeakProbe.NAMES, millis, startRss, endRss, endRss - startRss, startAnon,
                    endAnon, endAnon - startAnon, startRss, String.join(",", samples), endRss);
        }
    }

    @Test
    void repeatedCallsOfEveryNativeDoNotGrowTheProcess(TestReporter reporter) throws Exception {
        // A Windows build's memory is the wine process's, which this probe does not see.
        org.junit.jupiter.api.Assumptions.assumeFalse(TestEnvironment.windows(),
                "the Windows library's memory is not this process's");
        int rounds = rounds();
        int warmUp = Math.max(500, rounds / 10);
        // Every provider call sends a message; populate sorts 40 names into the two lists; query
        // info writes status words; get command options fills the slots. The provider reads the
        // script at every call, so it is kept short.
        StringBuilder directives = new StringBuilder();
        directives.append("message * 1 leak check message from the provider\n");
        directives.append("status * 3\n");
        directives.append("options.store * 0x1234\n");
        directives.append("projpath.user leak-user\nprojpath.local /work/leak");
        for (int i = 0; i < 40; i++) {
            directives.append("\npopulate ").append(i % 3 == 0 ? 0 : 1).append(" populated").append(i).append(".java");
        }
        script.line(directives.toString());
        // The call log would take a line per call: a folder in its place makes every append fail.
        callLog.clear();
        Files.createDirectory(callLog.path());
        Path output = dir.resolve("leak-probe.txt");
        List<String> lines;
        int exit;
        try {
            exit = runProbe(rounds, warmUp, output);
            lines = Files.readAllLines(output, StandardCharsets.ISO_8859_1);
        } finally {
            Files.delete(callLog.path());
        }

        String all = String.join("\n", lines);
        assertEquals(0, exit, "exit status of the leak probe JVM; its output:\n" + all);
        List<String> jniReports = lines.stream()
                .filter(l -> l.contains("WARNING in native method") || l.contains("FATAL ERROR in native method"))
                .collect(Collectors.toList());
        assertEquals(List.of(), jniReports, "-Xcheck:jni reports of the leak probe JVM");
        Figures figures = Figures.parse(lines);
        assertTrue(figures.complete(), "the leak probe printed no figures; its output:\n" + all);
        reporter.publishEntry("native memory", figures.toString());
        System.out.println("NativeLeakTest: " + figures);
        long growth = figures.endRss - figures.startRss;
        assertTrue(growth < BOUND_KB, "resident memory grew by " + growth + " kB (bound " + BOUND_KB + " kB): " + figures);
    }

    /** Runs {@link LeakProbe} in a JVM of its own, output to {@code output}; returns its exit status. */
    private static int runProbe(int rounds, int warmUp, Path output) throws IOException, InterruptedException {
        List<String> command = new ArrayList<>();
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.add("-Xcheck:jni");
        command.add("-Xms48m");
        command.add("-Xmx48m");
        command.add("-XX:+AlwaysPreTouch");
        command.add("-XX:+UseSerialGC");
        // No compiler threads: their working memory would move the figures by a megabyte or two.
        command.add("-Xint");
        for (String property : List.of("oskelsccih.library", "oskel.providers")) {
            command.add("-D" + property + "=" + System.getProperty(property));
        }
        command.add("-cp");
        command.add(System.getProperty("java.class.path"));
        command.add(LeakProbe.class.getName());
        command.add(Integer.toString(rounds));
        command.add(Integer.toString(warmUp));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true)
                .redirectOutput(output.toFile());
        // The tool options of this JVM (a long run's rounds) are not for the probe.
        builder.environment().remove("JAVA_TOOL_OPTIONS");
        Process probe = builder.start();
        long minutes = 5 + rounds / 5000;
        if (!probe.waitFor(minutes, TimeUnit.MINUTES)) {
            probe.destroyForcibly().waitFor();
            throw new AssertionError("the leak probe did not finish within " + minutes + " minutes; output in " + output);
        }
        return probe.exitValue();
    }
}
