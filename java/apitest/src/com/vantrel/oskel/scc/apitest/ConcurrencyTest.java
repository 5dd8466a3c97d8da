package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccException;
import java.util.ArrayList;
import java.util.List;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.TimeUnit;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * The library keeps one message list for the process; the API serialises provider calls and
 * message fetches across connections, so threads that share connections, and a thread that keeps
 * connecting (which resets the list), never see each other's messages or lose their own.
 */
@Tag("concurrency")
class ConcurrencyTest extends TestProviderBase {
    private static final String[] ENTRIES = {"SccCheckout", "SccCheckin", "SccGet"};
    private static final int WORKERS = 6;
    private static final int ROUNDS = 120;

    private static List<ProviderMessage> expected(String entry) {
        return List.of(new ProviderMessage(3, entry + " one"), new ProviderMessage(2, entry + " two"),
                new ProviderMessage(1, entry + " three"));
    }

    private static SccException failure(Project project, String entry) {
        try {
            switch (entry) {
                case "SccCheckout" -> project.checkout(Comment.of("c"), "a.txt");
                case "SccCheckin" -> project.checkin(Comment.of("c"), "a.txt");
                default -> project.get("a.txt");
            }
            return null;
        } catch (SccException e) {
            return e;
        }
    }

    @Test
    void threadsSeeExactlyTheMessagesOfTheirOwnCalls() throws Exception {
        List<String> script = new ArrayList<>();
        for (String entry : ENTRIES) {
            script.add("return " + entry + " -6");
            script.add("message " + entry + " 3 " + entry + " one");
            script.add("message " + entry + " 2 " + entry + " two");
            script.add("message " + entry + " 1 " + entry + " three");
        }
        Project first = open();
        Project second = open();
        TestEnvironment.script(script.toArray(new String[0]));
        TestEnvironment.clearCalls();
        received.clear();

        Queue<String> problems = new ConcurrentLinkedQueue<>();
        CyclicBarrier start = new CyclicBarrier(WORKERS + 1);
        ExecutorService pool = Executors.newFixedThreadPool(WORKERS + 1);
        List<Future<?>> futures = new ArrayList<>();
        for (int w = 0; w < WORKERS; w++) {
            int worker = w;
            futures.add(pool.submit(() -> {
                start.await();
                Project project = worker % 2 == 0 ? first : second;
                for (int round = 0; round < ROUNDS; round++) {
                    String entry = ENTRIES[(worker + round) % ENTRIES.length];
                    SccException e = failure(project, entry);
                    if (e == null || !e.messages().equals(expected(entry)) || e.code() != -6) {
                        problems.add(entry + " in worker " + worker + " round " + round + ": "
                                + (e == null ? "no failure" : e.code() + " " + e.messages()));
                    }
                }
                return null;
            }));
        }
        // Every connect resets the library's message list.
        futures.add(pool.submit(() -> {
            start.await();
            for (int round = 0; round < ROUNDS / 4; round++) {
                try (Connection extra = Scc.connect(TestEnvironment.TEST_PROVIDER)) {
                    extra.providerName();
                }
            }
            return null;
        }));
        for (Future<?> future : futures) {
            future.get(300, TimeUnit.SECONDS);
        }
        pool.shutdown();

        assertEquals(List.of(), List.copyOf(problems), "calls that saw other messages than their own");
        assertEquals(WORKERS * ROUNDS * 3, received.size(), "messages delivered to listeners");
        // In the provider's call log every callback follows the call that made it.
        String current = null;
        int interleaved = 0;
        for (String line : TestEnvironment.calls()) {
            if (line.startsWith("textout ")) {
                if (current == null || !line.contains("text=\"" + current + " ")) {
                    interleaved++;
                }
            } else {
                current = line.split(" ")[0];
            }
        }
        assertEquals(0, interleaved, "callbacks logged outside their own provider call");
    }
}
