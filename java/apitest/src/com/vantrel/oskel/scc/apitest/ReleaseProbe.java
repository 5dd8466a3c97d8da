package com.vantrel.oskel.scc.apitest;

import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Scc;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Connects to the provider "Probe" and closes again, many times, in a JVM of its own, and reports
 * how much the process grew and which host processes are left:
 *
 * <pre>java ... ReleaseProbe WARMUP CYCLES [keep]</pre>
 *
 * <p>With {@code keep}, one more connection stays open throughout, so that a hosted provider's
 * host lives on and each cycle measures the connection alone.
 * <p>Prints {@code hosts-while-open N}, {@code growth-kb N} and {@code hosts-after N}.
 */
public final class ReleaseProbe {
    private ReleaseProbe() {}

    public static void main(String[] args) throws Exception {
        int warmup = Integer.parseInt(args[0]);
        int cycles = Integer.parseInt(args[1]);
        Connection first = Scc.connect("Probe");
        System.out.println("hosts-while-open " + hosts());
        boolean keep = args.length > 2 && args[2].equals("keep");
        if (!keep) {
            first.close();
        }
        for (int i = 0; i < warmup; i++) {
            cycle();
        }
        System.gc();
        long before = rssKb();
        long started = System.nanoTime();
        for (int i = 0; i < cycles; i++) {
            cycle();
        }
        long micros = (System.nanoTime() - started) / 1000 / Math.max(1, cycles);
        System.gc();
        long after = rssKb();
        System.out.println("rss-kb " + before + " " + after);
        System.out.println("growth-kb " + (after - before));
        System.out.println("us-per-cycle " + micros);
        if (keep) {
            first.close();
        }
        System.out.println("hosts-after " + hosts());
    }

    private static void cycle() throws Exception {
        Scc.connect("Probe").close();
    }

    private static long hosts() {
        return ProcessHandle.current().children().filter(p -> p.info().command()
                .map(c -> c.contains("oskelsccih-host")).orElse(false)).count();
    }

    private static long rssKb() throws IOException {
        for (String line : Files.readAllLines(Path.of("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", ""));
            }
        }
        throw new IOException("no VmRSS in /proc/self/status");
    }
}
