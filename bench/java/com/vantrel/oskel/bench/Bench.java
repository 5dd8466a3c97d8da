package com.vantrel.oskel.bench;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;

/**
 * Benchmark of the bridge against direct calls of the provider through the FFM API, and against
 * the anchors that bound any JNI bridge (an empty native, a native reading each name with
 * GetStringUTFChars, JNA).
 *
 * <p>The machine is shared, so no figure is taken alone: every scenario is measured in pairs with
 * its partner (the direct FFM call of the same entry point, same names, same JVM), the two
 * alternating batch by batch (AB, BA, AB...), and the ratio is taken per pair. A scenario's ratio
 * is the median of its pair ratios; its spread is the interquartile range of those ratios over
 * their median. In-process batches are timed in the benchmark thread's CPU time, so that time the
 * thread spends off the CPU (another process had the core) counts for neither side; hosted calls
 * wait for another process and are timed on the wall clock.
 *
 * <p>The parent forks the JVMs (several per locale) and takes the median over the forks of each
 * figure; the fork range of each ratio shows how far two runs can differ.
 */
public final class Bench {
    private static final int PAIRS = Integer.getInteger("bench.pairs", 31);
    private static final long BATCH_NANOS = Long.getLong("bench.batchMillis", 2) * 1_000_000L;
    private static final long WARMUP_NANOS = Long.getLong("bench.warmupMillis", 300) * 1_000_000L;
    private static final int FORKS = Integer.getInteger("bench.forks", 2);
    private static final int[] SIZES = {1, 100, 10_000};
    private static final String[] SHAPES = {"ascii", "latin1", "bmp"};

    /** The provider's entry points called directly, without the bridge. */
    public interface Direct {
        int checkout(String[] names, String comment);

        int[] queryInfo(String[] names);
    }

    private Bench() {}

    public static void main(String[] args) throws Throwable {
        if (args.length > 0 && args[0].equals("--child")) {
            child(args[1], args.length > 2 ? args[2] : "");
        } else {
            parent(args.length > 0 ? Path.of(args[0]) : null);
        }
    }

    // ------------------------------------------------------------------ parent

    /** One figure of one fork: what a RESULT line carries. */
    private record Result(double ns, double ratio, double spread) {}

    private static void parent(Path markdown) throws Exception {
        // key "locale|scenario|shape|n" -> one result per fork
        Map<String, List<Result>> results = new LinkedHashMap<>();
        String java = ProcessHandle.current().info().command().orElse("java");
        List<String> jvmArgs = ManagementFactory.getRuntimeMXBean().getInputArguments();
        String filter = System.getProperty("bench.filter", "");
        String[] locales = System.getProperty("bench.locales", "C.UTF-8,en_US.ISO-8859-1").split(",");
        for (String locale : locales) {
            for (int fork = 0; fork < FORKS; fork++) {
                List<String> command = new ArrayList<>();
                command.add(java);
                command.addAll(jvmArgs);
                command.add("-cp");
                command.add(System.getProperty("java.class.path"));
                command.add(Bench.class.getName());
                command.add("--child");
                command.add(locale);
                command.add(filter);
                ProcessBuilder pb = new ProcessBuilder(command).redirectErrorStream(true);
                pb.environment().put("LC_ALL", locale);
                Process p = pb.start();
                try (BufferedReader in =
                        new BufferedReader(new InputStreamReader(p.getInputStream()))) {
                    String line;
                    while ((line = in.readLine()) != null) {
                        if (line.startsWith("RESULT ")) {
                            String[] f = line.split(" ");
                            results.computeIfAbsent(locale + "|" + f[1] + "|" + f[2] + "|" + f[3],
                                    k -> new ArrayList<>())
                                    .add(new Result(Double.parseDouble(f[4]),
                                            Double.parseDouble(f[5]), Double.parseDouble(f[6])));
                        } else {
                            System.out.println("  [" + locale + " fork " + fork + "] " + line);
                        }
                    }
                }
                if (p.waitFor() != 0) {
                    throw new IllegalStateException(locale + " fork " + fork + " failed");
                }
            }
        }
        String report = new Report(results, locales).render();
        System.out.println(report);
        if (markdown != null) {
            Files.writeString(markdown, report);
        }
    }

    static double median(List<Double> values) {
        double[] a = values.stream().mapToDouble(Double::doubleValue).sorted().toArray();
        if (a.length == 0) {
            return Double.NaN;
        }
        return a.length % 2 == 1 ? a[a.length / 2] : (a[a.length / 2 - 1] + a[a.length / 2]) / 2;
    }

    /** The tables and the targets, from the forks' results. */
    private static final class Report {
        private final Map<String, List<Result>> results;
        private final String[] locales;
        private final StringBuilder out = new StringBuilder();

        Report(Map<String, List<Result>> results, String[] locales) {
            this.results = results;
            this.locales = locales;
        }

        private List<Result> of(String locale, String scenario, String shape, int n) {
            return results.get(locale + "|" + scenario + "|" + shape + "|" + n);
        }

        /** Median over the forks of the per-call time (ns); NaN when not measured. */
        double ns(String locale, String scenario, String shape, int n) {
            List<Result> r = of(locale, scenario, shape, n);
            return r == null ? Double.NaN : median(r.stream().map(Result::ns).toList());
        }

        /** Median over the forks of the median pair ratio; NaN when not measured. */
        double ratio(String locale, String scenario, String shape, int n) {
            List<Result> r = of(locale, scenario, shape, n);
            return r == null ? Double.NaN : median(r.stream().map(Result::ratio).toList());
        }

        /** The slope between n=1 and n=100: the cost of one more name (ns). */
        double perName(String locale, String scenario, String shape) {
            return (ns(locale, scenario, shape, 100) - ns(locale, scenario, shape, 1)) / 99;
        }

        /** What a call costs before its names: the intercept of that line (ns). */
        double perCall(String locale, String scenario, String shape) {
            return ns(locale, scenario, shape, 1) - perName(locale, scenario, shape);
        }

        String render() {
            for (String locale : locales) {
                targets(locale);
            }
            for (String locale : locales) {
                slopes(locale);
            }
            for (String locale : locales) {
                table(locale);
            }
            return out.toString();
        }

        private void line(String format, Object... args) {
            out.append(String.format(Locale.ROOT, format, args)).append('\n');
        }

        private static String verdict(double value, double limit) {
            if (Double.isNaN(value)) {
                return "not measured";
            }
            return value <= limit ? "met" : "**not met**";
        }

        private void targets(String locale) {
            line("## Targets, locale %s", locale);
            line("");
            line("| target | limit | measured | |");
            line("|---|---:|---:|---|");
            for (String scenario : new String[] {"checkout", "queryInfo"}) {
                double[] limits = {2.0, 1.4, 1.15};
                for (int i = 0; i < SIZES.length; i++) {
                    double r = ratio(locale, scenario, "ascii", SIZES[i]);
                    line("| `_%s` vs FFM, n=%d (ASCII names) | %.2f× | %.2f× | %s |", scenario,
                            SIZES[i], limits[i], r, verdict(r, limits[i]));
                }
            }
            double populate = perName(locale, "populate+get", "ascii");
            double checkout = perName(locale, "checkout", "ascii");
            line("| `_populateList` + both `_getPopulateList` per name vs `_checkout` per name"
                    + " (%.1f ns vs %.1f ns) | 2.00× | %.2f× | %s |", populate, checkout,
                    populate / checkout, verdict(populate / checkout, 2.0));
            // The same target from pairs: the two medians above come from different stretches
            // of time and move apart with the machine's load.
            double paired = ratio(locale, "populate+get.vs-checkout", "ascii", 10_000);
            line("| the same, paired with `_checkout` of the same 10000 names | 2.00× | %.2f× | %s |",
                    paired, verdict(paired, 2.0));
            for (String shape : new String[] {"latin1", "bmp"}) {
                for (int n : new int[] {100, 10_000}) {
                    double r = ratio(locale, "checkout.vs-ascii", shape, n);
                    line("| `_checkout`, %s names vs ASCII names, n=%d%s | 1.30× | %.2f× | %s |",
                            shape.equals("bmp") ? "BMP" : "Latin-1", n,
                            shape.equals("bmp") && !locale.contains("UTF-8")
                                    ? " (not representable here: each converts to null)" : "",
                            r, verdict(r, 1.3));
                }
            }
            double[] hostedLimits = {15_000, 25_000};
            for (int i = 0; i < 2; i++) {
                double v = ns(locale, "checkout.hosted", "ascii", SIZES[i]);
                line("| hosted `_checkout`, n=%d | %.0f µs | %.1f µs | %s |", SIZES[i],
                        hostedLimits[i] / 1000, v / 1000, verdict(v, hostedLimits[i]));
            }
            line("");
        }

        private void slopes(String locale) {
            line("## Per call and per name, locale %s", locale);
            line("");
            line("The line through n=1 and n=100: what a call costs before its names, and what"
                    + " one more name adds (medians, ns).");
            line("");
            line("| scenario | names | per call | per name | direct per call | direct per name"
                    + " | per call vs direct | per name vs direct |");
            line("|---|---|---:|---:|---:|---:|---:|---:|");
            String[][] rows = {{"checkout", "ffm.checkout"}, {"queryInfo", "ffm.queryInfo"},
                {"populate+get", "ffm.checkout"}, {"anchor.utf", "ffm.checkout"}};
            for (String shape : SHAPES) {
                for (String[] row : rows) {
                    if (of(locale, row[0], shape, 1) == null) {
                        continue;
                    }
                    double call = perCall(locale, row[0], shape);
                    double name = perName(locale, row[0], shape);
                    double dCall = perCall(locale, row[1], shape);
                    double dName = perName(locale, row[1], shape);
                    line("| %s | %s | %.0f | %.1f | %.0f | %.1f | %.2f× | %.2f× |", row[0], shape,
                            call, name, dCall, dName, call / dCall, name / dName);
                }
            }
            line("");
        }

        private void table(String locale) {
            line("## Every figure, locale %s", locale);
            line("");
            line("`vs partner`: the median of the pair ratios against the partner measured"
                    + " alternately with it (the direct FFM call of the same entry point; for"
                    + " `checkout.vs-ascii`, `_checkout` of ASCII names; for `queryInfo.vs-checkout` and"
                    + " `populate+get.vs-checkout`,"
                    + " `_checkout` of the same names); `spread`: the"
                    + " interquartile range of the pair ratios over their median; `forks`: the"
                    + " lowest and highest ratio of the forks.");
            line("");
            line("| scenario | names | n | ns/call | vs partner | spread | forks |");
            line("|---|---|---:|---:|---:|---:|---|");
            Map<String, List<Result>> ordered = new TreeMap<>((a, b) -> {
                String[] x = a.split("\\|"), y = b.split("\\|");
                int c = Integer.compare(Arrays.asList(SHAPES).indexOf(x[2]),
                        Arrays.asList(SHAPES).indexOf(y[2]));
                if (c == 0) c = Integer.compare(Integer.parseInt(x[3]), Integer.parseInt(y[3]));
                if (c == 0) c = Integer.compare(order(x[1]), order(y[1]));
                return c != 0 ? c : a.compareTo(b);
            });
            for (var e : results.entrySet()) {
                if (e.getKey().startsWith(locale + "|")) {
                    ordered.put(e.getKey(), e.getValue());
                }
            }
            for (var e : ordered.entrySet()) {
                String[] k = e.getKey().split("\\|");
                List<Result> r = e.getValue();
                List<Double> ratios = r.stream().map(Result::ratio).toList();
                boolean partnerless = k[1].startsWith("ffm.");
                line("| %s | %s | %s | %.0f | %s | %s | %s |", k[1], k[2], k[3],
                        median(r.stream().map(Result::ns).toList()),
                        partnerless ? "" : String.format(Locale.ROOT, "%.2f×", median(ratios)),
                        partnerless ? "" : String.format(Locale.ROOT, "±%.1f%%",
                                50 * median(r.stream().map(Result::spread).toList())),
                        partnerless ? "" : String.format(Locale.ROOT, "%.2f–%.2f",
                                ratios.stream().mapToDouble(Double::doubleValue).min().orElse(0),
                                ratios.stream().mapToDouble(Double::doubleValue).max().orElse(0)));
            }
            line("");
        }

        private static int order(String scenario) {
            List<String> known = List.of("checkout", "queryInfo", "populate+get", "checkout.vs-ascii",
                    "queryInfo.vs-checkout", "populate+get.vs-checkout",
                    "checkout.trace4", "checkout.hosted", "queryInfo.hosted", "ffm.checkout",
                    "ffm.queryInfo", "anchor.empty", "anchor.utf", "anchor.jna");
            int i = known.indexOf(scenario);
            return i < 0 ? known.size() : i;
        }
    }

    // ------------------------------------------------------------------- child

    private interface Op {
        void run();
    }

    /** A scenario: its calls, its partner, and whether it is timed on the wall clock. */
    private record Scenario(String name, Op op, String partner, boolean wall) {}

    private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

    private static void child(String locale, String filter) throws Throwable {
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
        Charset charset = Charset.forName(System.getProperty("native.encoding"));
        Direct ffm = loadFfm(provider, charset);
        if (ffm == null) {
            throw new IllegalStateException("the benchmark needs the FFM API (JDK 22 or later)");
        }
        System.out.println("locale " + locale + ", native encoding " + charset);
        polluteLoops();

        for (String shape : SHAPES) {
            for (int n : SIZES) {
                String[] names = names(n, shape);
                String[] ascii = names(n, "ascii");
                List<Scenario> scenarios = new ArrayList<>();
                scenarios.add(new Scenario("checkout",
                        () -> JavaSCCInterface._checkout(handle, names.length, names, "comment"),
                        "ffm.checkout", false));
                scenarios.add(new Scenario("queryInfo",
                        () -> JavaSCCInterface._queryInfo(handle, names.length, names),
                        "ffm.queryInfo", false));
                Op populateAndGet = () -> {
                    JavaSCCInterface._populateList(handle, 2, names.length, names);
                    JavaSCCInterface._getPopulateList(handle, 1);
                    JavaSCCInterface._getPopulateList(handle, 0);
                };
                scenarios.add(new Scenario("populate+get", populateAndGet, "ffm.checkout", false));
                // Of two natives that read the same names, what the status words
                // and the int[] they come back in add.
                scenarios.add(new Scenario("queryInfo.vs-checkout",
                        () -> JavaSCCInterface._queryInfo(handle, names.length, names),
                        "checkout.same", false));
                // The populate target, paired: at 10000 names the ratio is that per name.
                scenarios.add(new Scenario("populate+get.vs-checkout", populateAndGet,
                        "checkout.same", false));
                if (!shape.equals("ascii") && n > 1) {
                    scenarios.add(new Scenario("checkout.vs-ascii",
                            () -> JavaSCCInterface._checkout(handle, names.length, names, "comment"),
                            "checkout.ascii", false));
                }
                if (n <= 100) {
                    scenarios.add(new Scenario("checkout.trace4", () -> JavaSCCInterface._checkout(
                            traced, names.length, names, "comment"), "ffm.checkout", false));
                }
                scenarios.add(new Scenario("checkout.hosted",
                        () -> JavaSCCInterface._checkout(hosted, names.length, names, "comment"),
                        "ffm.checkout", true));
                scenarios.add(new Scenario("queryInfo.hosted",
                        () -> JavaSCCInterface._queryInfo(hosted, names.length, names),
                        "ffm.checkout", true));
                scenarios.add(new Scenario("anchor.empty",
                        () -> Anchors.emptyCheckout(handle, names.length, names, "comment"),
                        "ffm.checkout", false));
                scenarios.add(new Scenario("anchor.utf",
                        () -> Anchors.utfCheckout(handle, names.length, names, "comment"),
                        "ffm.checkout", false));
                scenarios.add(new Scenario("anchor.jna", () -> jna.checkout(names, "comment"),
                        "ffm.checkout", false));

                Map<String, Op> partners = Map.of(
                        "ffm.checkout", () -> ffm.checkout(names, "comment"),
                        "ffm.queryInfo", () -> ffm.queryInfo(names),
                        "checkout.ascii",
                        () -> JavaSCCInterface._checkout(handle, ascii.length, ascii, "comment"),
                        "checkout.same",
                        () -> JavaSCCInterface._checkout(handle, names.length, names, "comment"));
                Map<String, List<Double>> partnerTimes = new LinkedHashMap<>();
                Map<String, Long> partnerBatch = new LinkedHashMap<>();
                for (Scenario s : scenarios) {
                    if (!filter.isEmpty() && !(s.name + "." + shape + "@" + n).matches(filter)) {
                        continue;
                    }
                    double[] a = new double[PAIRS];
                    double[] b = new double[PAIRS];
                    double[] ratios = new double[PAIRS];
                    Op partner = partners.get(s.partner);
                    long partnerCalls = partnerBatch.computeIfAbsent(s.partner,
                            k -> calibrate(partner, false));
                    measurePairs(s.op, s.wall, partner, partnerCalls, a, b, ratios);
                    if (s.partner.startsWith("ffm.")) {
                        List<Double> times = partnerTimes.computeIfAbsent(s.partner,
                                k -> new ArrayList<>());
                        for (double t : b) {
                            times.add(t);
                        }
                    }
                    Arrays.sort(ratios);
                    double med = ratios[PAIRS / 2];
                    double spread = (ratios[(PAIRS * 3) / 4] - ratios[PAIRS / 4]) / med;
                    Arrays.sort(a);
                    System.out.printf(Locale.ROOT, "RESULT %s %s %d %.1f %.4f %.4f%n", s.name, shape,
                            n, a[PAIRS / 2], med, spread);
                }
                for (var e : partnerTimes.entrySet()) {
                    System.out.printf(Locale.ROOT, "RESULT %s %s %d %.1f 1 0%n", e.getKey(), shape,
                            n, median(e.getValue()));
                }
                Files.write(trace, new byte[0]); // keeps the trace file from growing without bound
            }
        }
        Files.deleteIfExists(trace);
    }

    /**
     * Times `a` and `b` in alternating batches (AB, BA, AB...): per batch the time of one call,
     * and per pair the ratio a/b.
     */
    private static void measurePairs(Op a, boolean wall, Op b, long callsB, double[] ta,
            double[] tb, double[] ratios) {
        long callsA = calibrate(a, wall);
        for (int r = 0; r < ratios.length; r++) {
            if (r % 2 == 0) {
                ta[r] = batch(a, callsA, wall);
                tb[r] = batch(b, callsB, false);
            } else {
                tb[r] = batch(b, callsB, false);
                ta[r] = batch(a, callsA, wall);
            }
            ratios[r] = ta[r] / tb[r];
        }
    }

    /** The time of one call, over a batch of `calls` calls. */
    private static double batch(Op op, long calls, boolean wall) {
        long t0 = wall ? System.nanoTime() : THREADS.getCurrentThreadCpuTime();
        for (long i = 0; i < calls; i++) {
            op.run();
        }
        long t1 = wall ? System.nanoTime() : THREADS.getCurrentThreadCpuTime();
        return (double) (t1 - t0) / calls;
    }

    /**
     * The loops of batch() and calibrate() run every operation through one call site. While that
     * site has seen one or two kinds of operation, the JIT inlines them into the loop, where a
     * direct FFM call (its arena and segments then scalar-replaced) gains far more than a JNI
     * call; which operations got inlined then depended on which scenarios the filter let run
     * first. Three kinds of operation, run before anything is measured, make the site megamorphic
     * for good: every operation is measured called through the loop, none inlined into it.
     */
    private static void polluteLoops() {
        int[] sink = new int[1];
        Op[] kinds = {() -> sink[0]++, () -> sink[0]--, () -> sink[0] ^= 1};
        for (int round = 0; round < 3; round++) {
            for (Op op : kinds) {
                batch(op, 20_000, false);
                batch(op, 20_000, true);
            }
        }
        for (Op op : kinds) {
            calibrate(op, false);
        }
    }

    /** Warms the operation up and returns the number of calls that fill one batch. */
    private static long calibrate(Op op, boolean wall) {
        long calls = 0;
        long step = 1;
        long start = wall ? System.nanoTime() : THREADS.getCurrentThreadCpuTime();
        long elapsed;
        do {
            // The clock is read between growing runs of calls: reading the thread's CPU
            // time costs about a microsecond, more than a call.
            for (long i = 0; i < step; i++) {
                op.run();
            }
            calls += step;
            step = Math.min(step * 2, 1024);
            elapsed = (wall ? System.nanoTime() : THREADS.getCurrentThreadCpuTime()) - start;
        } while (elapsed < WARMUP_NANOS);
        return Math.max(1, calls * BATCH_NANOS / Math.max(1, elapsed));
    }

    private static Direct loadFfm(String provider, Charset charset) {
        if (Runtime.version().feature() < 22) {
            return null;
        }
        try {
            return (Direct) Class.forName("com.vantrel.oskel.bench.FfmAnchor")
                    .getConstructor(String.class, Charset.class).newInstance(provider, charset);
        } catch (ReflectiveOperationException | LinkageError e) {
            System.out.println("no FFM anchor: " + e);
            return null;
        }
    }

    /** Realistic file names of about 55 characters: ASCII, Latin-1, or of the wider BMP. */
    static String[] names(int n, String shape) {
        String[] out = new String[n];
        for (int i = 0; i < n; i++) {
            out[i] = switch (shape) {
                case "latin1" -> String.format(Locale.ROOT,
                        "src/main/jäva/com/exämple/prøject/mödüle/Fïle%06d.java", i);
                case "bmp" -> String.format(Locale.ROOT,
                        "src/main/java/com/пример/проект/модуль/Файл%06d.java", i);
                default -> String.format(Locale.ROOT,
                        "src/main/java/com/example/project/module/File%06d.java", i);
            };
        }
        return out;
    }
}
