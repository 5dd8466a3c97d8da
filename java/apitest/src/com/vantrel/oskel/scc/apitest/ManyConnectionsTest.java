package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.PopulateResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Queue;
import java.util.Set;
import java.util.TreeSet;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.CopyOnWriteArrayList;
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
 * Many threads, each with a connection and a localstore project of its own, working at once
 * through the typed API: every failure carries the messages about its own files and no others,
 * every listener hears only its own connection, and status and populate lists come back whole.
 */
@Tag("concurrency")
class ManyConnectionsTest {
    private static final int THREADS = 12;
    private static final int ROUNDS = 12;
    private static final Pattern NAME = Pattern.compile("t(\\d+)-r\\d+\\.txt");

    /** The thread numbers named in a message; empty when it names no file of the test. */
    private static Set<String> threadsNamed(String text) {
        Set<String> threads = new TreeSet<>();
        Matcher m = NAME.matcher(text);
        while (m.find()) {
            threads.add(m.group(1));
        }
        return threads;
    }

    @Test
    void threadsOnTheirOwnConnectionsHearOnlyTheirOwnFiles() throws Exception {
        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        TestEnvironment.registerProviders(Map.of("LocalStore", library));

        Queue<String> problems = new ConcurrentLinkedQueue<>();
        CyclicBarrier start = new CyclicBarrier(THREADS);
        ExecutorService pool = Executors.newFixedThreadPool(THREADS);
        List<Future<?>> futures = new ArrayList<>();
        long began = System.nanoTime();
        for (int t = 0; t < THREADS; t++) {
            String own = Integer.toString(t);
            Path work = TestEnvironment.newFolder("many-" + t);
            Path store = TestEnvironment.newFolder("many-store-" + t).resolve("store");
            futures.add(pool.submit(() -> {
                List<ProviderMessage> heard = new CopyOnWriteArrayList<>();
                try (Connection connection = Scc.connect("LocalStore")) {
                    connection.setMessageListener(heard::add);
                    start.await();
                    try (Project project = connection.openProject(
                            ProjectLocation.of("tester", "many" + own, work, store.toString()),
                            OpenMode.CREATE_IF_NEW)) {
                        List<Path> files = new ArrayList<>();
                        for (int round = 0; round < ROUNDS; round++) {
                            String where = "thread " + own + " round " + round + ": ";
                            Path file = work.resolve("t" + own + "-r" + round + ".txt");
                            Files.writeString(file, "round " + round + "\n");
                            files.add(file);
                            if (project.add(Comment.of("first"), file).result() != SccResult.OK) {
                                problems.add(where + "add failed");
                            }
                            try {
                                project.add(Comment.of("again"), file);
                                problems.add(where + "a second add succeeded");
                            } catch (SccException e) {
                                Set<String> named = new TreeSet<>();
                                e.messages().forEach(m -> named.addAll(threadsNamed(m.text())));
                                if (!named.equals(Set.of(own))) {
                                    problems.add(where + "the failure's messages name threads " + named
                                            + ": " + e.messages());
                                }
                            }
                            List<FileStatus> status = project.status(files).files();
                            long controlled = status.stream().filter(FileStatus::isControlled).count();
                            PopulateResult populated = project.populate(SccCommand.GET, files);
                            Set<String> kept = new TreeSet<>();
                            populated.keep().forEach(k -> kept.add(Path.of(k).getFileName().toString()));
                            Set<String> expected = new TreeSet<>();
                            files.forEach(f -> expected.add(f.getFileName().toString()));
                            if (controlled != files.size() || !kept.equals(expected)
                                    || !populated.drop().isEmpty()) {
                                problems.add(where + "status " + status + " keep " + populated.keep()
                                        + " drop " + populated.drop());
                            }
                        }
                    }
                }
                for (ProviderMessage m : heard) {
                    Set<String> named = threadsNamed(m.text());
                    if (!named.isEmpty() && !named.equals(Set.of(own))) {
                        problems.add("thread " + own + " heard " + m);
                    }
                }
                return null;
            }));
        }
        for (Future<?> future : futures) {
            future.get(300, TimeUnit.SECONDS);
        }
        pool.shutdown();
        System.out.println(THREADS + " threads x " + ROUNDS + " rounds in "
                + (System.nanoTime() - began) / 1_000_000 + " ms");
        assertEquals(List.of(), List.copyOf(problems), "answers that were not whole or not one's own");
    }
}
