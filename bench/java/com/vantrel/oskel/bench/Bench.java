package com.vantrel.oskel.bench;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.function.BiFunction;

/**
 * Benchmark of the bridge against the floor of any JNI bridge and against direct calls of the
 * provider. The parent process forks several JVMs; each runs every scenario (warm-up, then timed
 * rounds) and prints one line per round; the parent takes the median of every fork's median.
 *
 * <p>A round that ran while the benchmark thread was off the CPU (its CPU time falls well short
 * of the wall time: another process took the core) is repeated, a bounded number of times.
 */
public final class Bench {
    private static final int ROUNDS = Integer.getInteger("bench.rounds", 15);
    private static final long ROUND_NANOS = Long.getLong("bench.roundMillis", 60) * 1_000_000L;
    private static final long WARMUP_NANOS = Long.getLong("bench.warmupMillis", 600) * 1_000_000L;
    private static final int FORKS = Integer.getInteger("bench.forks", 3);
    private static final int[] SIZES = {1, 100, 10_000};

    private Bench() {}

    public static void main(String[] args) throws Throwable {
        if (args.length > 0 && args[0].equals("--child")) {
            child(args.length > 1 ? args[1] : "");
        } else {
            parent(args.length > 0 ? Path.of(args[0]) : null);
        }
    }

    // ------------------------------------------------------------------ parent

    private static void parent(Path markdown) throws Exception {
        Map<String, List<Double>> medians = new LinkedHashMap<>();
        Map<String, List<Double>> spreads = new LinkedHashMap<>();
        String java = ProcessHandle.current().info().command().orElse("java");
        List<String> jvmArgs = ManagementFactory.getRuntimeMXBean().getInputArguments();
        String filter = System.getProperty("bench.filter", "");
        for (int fork = 0; fork < FORKS; fork++) {
            List<String> command = new ArrayList<>();
            command.add(java);
            command.addAll(jvmArgs);
            command.add("-cp");
            command.add(System.getProperty("java.class.path"));
            command.add(Bench.class.getName());
            command.add("--child");
            command.add(filter);
            Process p = new ProcessBuilder(command).redirectErrorStream(true).start();
            try (BufferedReader in =
                    new BufferedReader(new InputStreamReader(p.getInputStream()))) {
                String line;
                while ((line = in.readLine()) != null) {
                    if (line.startsWith("RESULT ")) {
                        String[] f = line.split(" ");
                        medians.computeIfAbsent(f[1], k -> new ArrayList<>())
                                .add(Double.parseDouble(f[2]));
                        spreads.computeIfAbsent(f[1], k -> new ArrayList<>())
                                .add(Double.parseDouble(f[3]));
                    } else {
                        System.out.println("  [fork " + fork + "] " + line);
                    }
                }
            }
            if (p.waitFor() != 0) {
                throw new IllegalStateException("fork " + fork + " failed");
            }
        }
        Map<String, Double> median = new LinkedHashMap<>();
        for (var e : medians.entrySet()) {
            median.put(e.getKey(), median(e.getValue()));
        }
        String table = table(median, spreads);
        System.out.println(table);
        if (markdown != null) {
            Files.writeString(markdown, table);
        }
    }

    private static String table(Map<String, Double> median, Map<String, List<Double>> spreads) {
        StringBuilder out = new StringBuilder();
        out.append("| scenario | n | median ns/call | ns/file | spread | vs empty JNI | vs UTF floor"
                + " | vs JNA | vs FFM |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (var e : median.entrySet()) {
            String key = e.getKey();
            int n = Integer.parseInt(key.substring(key.lastIndexOf('@') + 1));
            String shape = key.contains("nonascii") ? "nonascii" : "ascii";
            double v = e.getValue();
            out.append(String.format(Locale.ROOT, "| %s | %d | %.0f | %.1f | ±%.1f%% | %s | %s | %s | %s |\n",
                    key.substring(0, key.lastIndexOf('@')), n, v, v / n,
                    100 * median(spreads.get(key)),
                    ratio(v, median.get("anchor.empty." + shape + "@" + n)),
                    ratio(v, median.get("anchor.utf." + shape + "@" + n)),
                    ratio(v, median.get("anchor.jna." + shape + "@" + n)),
                    ratio(v, median.get("anchor.ffm." + shape + "@" + n))));
        }
        return out.toString();
    }

    private static String ratio(double v, Double anchor) {
        return anchor == null ? "" : String.format(Locale.ROOT, "%.2f×", v / anchor);
    }

    static double median(List<Double> values) {
        double[] a = values.stream().mapToDouble(Double::doubleValue).sorted().toArray();
        return a.length % 2 == 1 ? a[a.length / 2] : (a[a.length / 2 - 1] + a[a.length / 2]) / 2;
    }

    // ------------------------------------------------------------------- child

    private interface Op {
        void run();
    }

    private static void child(String filter) throws Throwable {
        Map<String, Op> scenarios = new LinkedHashMap<>();
        String provider = System.getProperty("oskelbench.provider");
        long handle = JavaSCCInterface._initialize(System.getProperty("oskelbench.key"));
        if (handle == 0) {
            throw new IllegalStateException("_initialize failed: check the registry file");
        }
        long traced = JavaSCCInterface._initialize(System.getProperty("oskelbench.key"));
        long hosted = JavaSCCInterface._initialize(System.getProperty("oskelbench.hostedKey"));
        if (hosted == 0) {
            throw new IllegalStateException("_initialize of the hosted provider failed");
        }
        Path trace = Files.createTempFile("oskelbench", ".trace");
        JavaSCCInterface._setTracing(traced, 4, trace.toString());
        JnaAnchor jna = new JnaAnchor(provider);
        BiFunction<String[], String, Integer> ffm = loadFfm(provider);

        for (String shape : new String[] {"ascii", "nonascii"}) {
            for (int n : SIZES) {
                String[] names = names(n, shape.equals("nonascii"));
                String at = "." + shape + "@" + n;
                scenarios.put("checkout" + at,
                        () -> JavaSCCInterface._checkout(handle, names.length, names, "comment"));
                scenarios.put("queryInfo" + at,
                        () -> JavaSCCInterface._queryInfo(handle, names.length, names));
                scenarios.put("populate+get" + at, () -> {
                    JavaSCCInterface._populateList(handle, 2, names.length, names);
                    JavaSCCInterface._getPopulateList(handle, 1);
                });
                scenarios.put("checkout.hosted" + at,
                        () -> JavaSCCInterface._checkout(hosted, names.length, names, "comment"));
                scenarios.put("queryInfo.hosted" + at,
                        () -> JavaSCCInterface._queryInfo(hosted, names.length, names));
                if (n <= 100) {
                    scenarios.put("checkout.trace4" + at, () -> JavaSCCInterface._checkout(traced,
                            names.length, names, "comment"));
                }
                scenarios.put("anchor.empty" + at,
                        () -> Anchors.emptyCheckout(handle, names.length, names, "comment"));
                scenarios.put("anchor.utf" + at,
                        () -> Anchors.utfCheckout(handle, names.length, names, "comment"));
                scenarios.put("anchor.jna" + at, () -> jna.checkout(names, "comment"));
                if (ffm != null) {
                    scenarios.put("anchor.ffm" + at, () -> ffm.apply(names, "comment"));
                }
            }
        }
        ThreadMXBean threads = ManagementFactory.getThreadMXBean();
        for (var e : scenarios.entrySet()) {
            if (!filter.isEmpty() && !e.getKey().matches(filter)) {
                continue;
            }
            Op op = e.getValue();
            long calls = calibrate(op);
            double[] perCall = new double[ROUNDS];
            for (int r = 0; r < ROUNDS; r++) {
                for (int attempt = 0;; attempt++) {
                    long cpu0 = threads.getCurrentThreadCpuTime();
                    long t0 = System.nanoTime();
                    for (long i = 0; i < calls; i++) {
                        op.run();
                    }
                    long wall = System.nanoTime() - t0;
                    long cpu = threads.getCurrentThreadCpuTime() - cpu0;
                    perCall[r] = (double) wall / calls;
                    if (cpu >= wall * 0.9 || attempt >= 5) {
                        break; // the round had the core to itself, or we gave up waiting
                    }
                }
            }
            Arrays.sort(perCall);
            double med = perCall[ROUNDS / 2];
            double spread = (perCall[(ROUNDS * 3) / 4] - perCall[ROUNDS / 4]) / med;
            System.out.printf(Locale.ROOT, "RESULT %s %.1f %.4f%n", e.getKey(), med, spread);
            // Keep the trace file from growing without bound.
            Files.write(trace, new byte[0]);
        }
        Files.deleteIfExists(trace);
    }

    /** Warms the operation up and returns the number of calls that fill one round. */
    private static long calibrate(Op op) {
        long calls = 0;
        long start = System.nanoTime();
        while (System.nanoTime() - start < WARMUP_NANOS) {
            op.run();
            calls++;
        }
        long perRound = calls * ROUND_NANOS / Math.max(1, System.nanoTime() - start);
        return Math.max(1, perRound);
    }

    @SuppressWarnings("unchecked")
    private static BiFunction<String[], String, Integer> loadFfm(String provider) {
        if (Runtime.version().feature() < 22) {
            return null;
        }
        try {
            return (BiFunction<String[], String, Integer>) Class
                    .forName("com.vantrel.oskel.bench.FfmAnchor")
                    .getConstructor(String.class).newInstance(provider);
        } catch (ReflectiveOperationException | LinkageError e) {
            System.out.println("no FFM anchor: " + e);
            return null;
        }
    }

    /** Realistic file names of about 55 characters. */
    static String[] names(int n, boolean nonAscii) {
        String[] out = new String[n];
        for (int i = 0; i < n; i++) {
            out[i] = nonAscii
                    ? String.format(Locale.ROOT, "src/main/jäva/com/exämple/prøject/mödüle/Fïle%06d.java", i)
                    : String.format(Locale.ROOT, "src/main/java/com/example/project/module/File%06d.java", i);
        }
        return out;
    }
}
