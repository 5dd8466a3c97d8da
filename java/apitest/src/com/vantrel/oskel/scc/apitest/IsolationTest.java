package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccException;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.concurrent.CancellationException;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Connections side by side: a progress listener cannot break the call it runs in, a long call on
 * one provider library does not hold up another library, and a thread waiting for a busy library
 * can be interrupted.
 */
@Tag("concurrency")
class IsolationTest extends TestProviderBase {
    private static final String OTHER = "Other Test Provider";

    /** The test provider, hosted or not, and a copy of it (another library) as {@link #OTHER}. */
    private static void register(boolean hosted) throws IOException {
        Path copy = TestEnvironment.newFolder("copy").resolve(
                TestEnvironment.provider("testprovider").getFileName());
        Files.copy(TestEnvironment.provider("testprovider"), copy);
        Map<String, Path> providers = new LinkedHashMap<>();
        providers.put(TestEnvironment.TEST_PROVIDER, TestEnvironment.provider("testprovider"));
        providers.put(OTHER, copy);
        TestEnvironment.write(TestEnvironment.registry(),
                TestEnvironment.registryText(providers, hosted));
    }

    private Connection connectTo(String provider) throws SccException {
        Connection connection = Scc.connect(provider);
        connection.setMessageListener(received::add);
        return connection;
    }

    @ParameterizedTest(name = "{0}, hosted {1}")
    @CsvSource({"call, false", "close, false", "same library, false", "other library, false",
            "call, true", "close, true", "same library, true", "other library, true"})
    void aProgressListenerCallingBackFailsAtOnceOrWorksAndTheCallGoesOn(String action,
            boolean hosted) throws Exception {
        register(hosted);
        Project project = open();
        Connection connection = project.connection();
        try (Connection sameLibrary = connectTo(TestEnvironment.TEST_PROVIDER);
                Connection otherLibrary = connectTo(OTHER)) {
            AtomicReference<Object> outcome = new AtomicReference<>("listener not called");
            connection.setProgressListener(line -> {
                try {
                    switch (action) {
                        case "call" -> outcome.set(connection.version());
                        case "close" -> {
                            connection.close();
                            outcome.set("closed");
                        }
                        case "same library" -> outcome.set(sameLibrary.version());
                        default -> outcome.set(otherLibrary.version());
                    }
                } catch (Exception e) {
                    outcome.set(e);
                }
            });
            TestEnvironment.script("message SccGet 4 working", "version 0x00010003");
            CommandResult result = project.get("a.txt");
            if (action.equals("other library")) {
                assertEquals(0x00010003, outcome.get(), "a call to another library works");
            } else {
                assertInstanceOf(IllegalStateException.class, outcome.get(),
                        "the listener's " + action + " is refused");
            }
            assertEquals(0, result.code(), "the running call goes on");
            assertFalse(connection.isClosed(), "a refused close leaves the connection open");
            assertEquals(0x00010003, connection.version(), "and usable after the call");
        }
    }

    @Test
    void aLongCallOnOneLibraryDoesNotHoldUpAnotherAndAWaiterCanBeInterrupted() throws Exception {
        register(false);
        Project busy = open();
        try (Connection other = connectTo(OTHER);
                Connection sameLibrary = connectTo(TestEnvironment.TEST_PROVIDER)) {
            other.version(); // the call path warmed up
            // About 2 s: 2000 "cancelled?" questions a millisecond apart, never answered yes.
            TestEnvironment.script("cancelpoll SccGet 2000", "message SccGet 4 started");
            CountDownLatch started = new CountDownLatch(1);
            busy.connection().setProgressListener(line -> started.countDown());
            CompletableFuture<CommandResult> get = CompletableFuture.supplyAsync(() -> {
                try {
                    return busy.get("a.txt");
                } catch (SccException e) {
                    throw new IllegalStateException(e);
                }
            });
            assertTrue(started.await(10, TimeUnit.SECONDS), "the long call started");

            long start = System.nanoTime();
            int version = other.version();
            long otherMs = (System.nanoTime() - start) / 1_000_000;
            assertEquals(0x00010002, version);
            assertTrue(otherMs < 100, "a call to another library took " + otherMs + " ms");

            AtomicReference<Throwable> waiter = new AtomicReference<>();
            AtomicReference<Boolean> flagKept = new AtomicReference<>();
            Thread thread = new Thread(() -> {
                try {
                    sameLibrary.version();
                } catch (Throwable t) {
                    waiter.set(t);
                    flagKept.set(Thread.currentThread().isInterrupted());
                }
            });
            thread.start();
            Thread.sleep(100);
            long interrupted = System.nanoTime();
            thread.interrupt();
            thread.join(5000);
            long waitedMs = (System.nanoTime() - interrupted) / 1_000_000;
            assertInstanceOf(CancellationException.class, waiter.get(), "the waiter was told");
            assertEquals(true, flagKept.get(), "its interrupt flag is kept");
            assertTrue(waitedMs < 500, "the interrupted waiter returned after " + waitedMs + " ms");
            assertFalse(get.isDone(), "the long call was still running");
            assertEquals(0, get.get(10, TimeUnit.SECONDS).code());
        }
    }

    @Test
    void anInterruptCancelsACallOfAProviderInCancelMode() throws Exception {
        Project project = open();
        project.connection().setCancelMode(true);
        TestEnvironment.script("cancelpoll SccGet 100000", "message SccGet 4 started");
        CountDownLatch started = new CountDownLatch(1);
        project.connection().setProgressListener(line -> started.countDown());
        AtomicReference<CommandResult> result = new AtomicReference<>();
        Thread thread = new Thread(() -> {
            try {
                result.set(project.get("a.txt"));
            } catch (SccException e) {
                throw new IllegalStateException(e);
            }
        });
        thread.start();
        assertTrue(started.await(10, TimeUnit.SECONDS), "the call started");
        thread.interrupt();
        thread.join(10_000);
        assertFalse(thread.isAlive(), "the interrupted call returned");
        assertTrue(result.get().isCancelled(), "and was cancelled: " + result.get());
    }
}
