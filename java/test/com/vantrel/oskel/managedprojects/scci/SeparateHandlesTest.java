package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Queue;
import java.util.TreeMap;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * Many threads, each on an interface object of its own, calling the natives at once (the
 * provider in-process, or all of them through one shared host process): every call answers
 * whole for its own object (status words, keep and drop lists, trace file), and the process-wide
 * message list neither loses nor breaks a message.
 */
@Tag("concurrency")
class SeparateHandlesTest extends NativeTestBase {
    private static final int THREADS = 8;
    private static final int ROUNDS = 120;
    private static final int ENTRIES = 40;
    private static final String[] SAID = {"1 checkout says one", "2 checkout says two"};
    private static final Pattern OWN_NAME = Pattern.compile("t(\\d+)-f\\d+\\.txt");

    @Test
    void threadsOnTheirOwnHandlesGetWholeAnswers() throws Exception {
        List<String> keep = new ArrayList<>();
        List<String> drop = new ArrayList<>();
        for (int i = 0; i < ENTRIES; i++) {
            boolean kept = i % 3 != 0;
            script.populate(kept ? 1 : 0, "entry-" + i);
            (kept ? keep : drop).add("entry-" + i);
        }
        script.message("SccCheckout", 1, "checkout says one")
                .message("SccCheckout", 2, "checkout says two")
                .status(-1, 0x1001);

        // Every _initialize resets the message list: all objects exist before the threads run.
        long[] handles = new long[THREADS];
        Path[] traces = new Path[THREADS];
        for (int t = 0; t < THREADS; t++) {
            handles[t] = connect();
            traces[t] = dir.resolve("trace-" + t + ".log");
            JavaSCCInterface._setTracing(handles[t], 4, traces[t].toString());
            assertEquals(0L, JavaSCCInterface._openProject(handles[t], ProjDescriptor.standard().full()));
        }
        JavaSCCInterface._getErrList(handles[0]);

        Queue<String> problems = new ConcurrentLinkedQueue<>();
        Queue<String> messages = new ConcurrentLinkedQueue<>();
        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        List<Future<?>> futures = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            int thread = t;
            long h = handles[t];
            futures.add(pool.submit(() -> {
                start.await();
                int n = 1 + thread % 5;
                String[] names = new String[n];
                for (int i = 0; i < n; i++) {
                    names[i] = "t" + thread + "-f" + i + ".txt";
                }
                for (int round = 0; round < ROUNDS; round++) {
                    String where = "thread " + thread + " round " + round + ": ";
                    long code = JavaSCCInterface._checkout(h, n, names, "c");
                    int[] status = JavaSCCInterface._queryInfo(h, n, names);
                    int[] expected = new int[n];
                    Arrays.fill(expected, 0x1001);
                    long populated = JavaSCCInterface._populateList(h, 0, n, names);
                    List<String> kept = list(JavaSCCInterface._getPopulateList(h, 1));
                    List<String> dropped = list(JavaSCCInterface._getPopulateList(h, 0));
                    if (code != 0 || populated != 0 || !Arrays.equals(expected, status)
                            || !keep.equals(kept) || !drop.equals(dropped)) {
                        problems.add(where + code + " " + Arrays.toString(status) + " " + populated
                                + " keep " + kept.size() + " drop " + dropped.size());
                    }
                    if (round % 7 == 0) {
                        messages.addAll(Arrays.asList(JavaSCCInterface._getErrList(h)));
                    }
                }
                return null;
            }));
        }
        for (Future<?> future : futures) {
            future.get(240, TimeUnit.SECONDS);
        }
        pool.shutdown();
        messages.addAll(Arrays.asList(JavaSCCInterface._getErrList(handles[0])));

        assertEquals(List.of(), List.copyOf(problems), "calls that did not answer whole");
        Map<String, Integer> counted = new TreeMap<>();
        messages.forEach(m -> counted.merge(m, 1, Integer::sum));
        assertEquals(Map.of(SAID[0], THREADS * ROUNDS, SAID[1], THREADS * ROUNDS), counted,
                "messages collected across all threads");
        for (int t = 0; t < THREADS; t++) {
            Matcher m = OWN_NAME.matcher(Files.readString(traces[t]));
            int names = 0;
            while (m.find()) {
                names++;
                assertEquals(Integer.toString(t), m.group(1), "a name of another thread in trace " + t);
            }
            assertEquals(true, names > 0, "trace " + t + " lists the thread's names");
        }
        for (long h : handles) {
            assertEquals(0L, JavaSCCInterface._closeProject(h));
            assertEquals(0L, JavaSCCInterface._uninitialize(h));
        }
    }

    private static List<String> list(String[] array) {
        return array == null ? List.of("(null)") : Arrays.asList(array);
    }
}
