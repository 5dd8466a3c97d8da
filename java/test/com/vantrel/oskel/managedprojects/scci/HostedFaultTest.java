package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.TreeSet;
import java.util.function.LongUnaryOperator;
import java.util.stream.Stream;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * A provider run in a host process that crashes, aborts, hangs or exits in the middle of its
 * callbacks: the call gives -15 at once with a message, the connection is ended, the JVM goes on,
 * the host is reaped and its channel closed, and a new {@code _initialize} works again.
 */
@org.junit.jupiter.api.Tag("hosting")
class HostedFaultTest extends NativeTestBase {
    private static final String FAULT_KEY = "Software\\Vantrel\\HostedFault";
    private static final String ENDED = "3 SCC provider process ended: ";
    private static final String[] TWO = {"a.txt", "b.txt"};

    static Stream<Arguments> faults() {
        LongUnaryOperator get = h -> JavaSCCInterface._getFiles(h, 2, TWO);
        LongUnaryOperator populate = h -> JavaSCCInterface._populateList(h, 0, 2, TWO);
        LongUnaryOperator open =
                h -> JavaSCCInterface._openProject(h, ProjDescriptor.standard().full());
        return Stream.of(
                Arguments.of("segfault in SccGet", List.of("crash SccGet"), get,
                        TestEnvironment.windows() ? "exception 0xC0000005" : "signal 11"),
                Arguments.of("abort in SccGet", List.of("abort SccGet"), get,
                        TestEnvironment.windows() ? "exited with code 3" : "signal 6"),
                Arguments.of("hang in SccGet", List.of("hang SccGet"), get, "no answer within 400 ms"),
                Arguments.of("exit in SccGet", List.of("exit SccGet 9"), get, "exited with code 9"),
                Arguments.of("exit after the 2nd populate callback",
                        List.of("populate 1 k1", "populate 0 d1", "populate 1 k2",
                                "exit.callback SccPopulateList 2 5"),
                        populate, "exited with code 5"),
                Arguments.of("exit after the 1st text-out callback",
                        List.of("message SccOpenProject 1 one", "message SccOpenProject 2 two",
                                "exit.callback SccOpenProject 1 4"),
                        open, "exited with code 4"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("faults")
    void theCallFailsAndANewConnectionWorks(String what, List<String> directives,
            LongUnaryOperator faultingCall, String reason) throws IOException {
        // A library path of its own, so that this test's host is not shared.
        Path library = dir.resolve(TestEnvironment.libraryFile("faultprovider"));
        Files.createSymbolicLink(library, TestEnvironment.provider(TestEnvironment.TEST_PROVIDER));
        registry.set(FAULT_KEY, RegistryFile.SERVER_PATH_VALUE, library.toString())
                .set(FAULT_KEY, RegistryFile.HOST_PROCESS_VALUE, "1")
                .set(FAULT_KEY, RegistryFile.HOST_TIMEOUT_VALUE, "400");
        // A Windows build's hosts are the wine process's children, and its handles that process's.
        boolean processes = !TestEnvironment.windows();
        List<String> fdsBefore = processes ? openDescriptors() : List.of();
        List<Long> childrenBefore = processes ? children() : List.of();

        long handle = connect(FAULT_KEY);
        List<Long> withHost = processes ? children() : List.of(0L);
        assertEquals(childrenBefore.size() + 1, withHost.size(), what + ": one host process started");
        JavaSCCInterface._getErrList(handle); // empties the message list
        directives.forEach(script::line);

        long start = System.nanoTime();
        assertEquals(NONSPECIFIC_ERROR, faultingCall.applyAsLong(handle), what + ": code of the call");
        long millis = (System.nanoTime() - start) / 1_000_000;
        assertTrue(millis < 5000, what + ": the call took " + millis + " ms");

        String[] messages = JavaSCCInterface._getErrList(handle);
        String last = messages.length == 0 ? "" : messages[messages.length - 1];
        assertTrue(last.startsWith(ENDED) && last.contains(reason),
                what + ": last message " + Arrays.toString(messages));
        if (processes) {
            assertEquals(childrenBefore, children(), what + ": host reaped, no zombie left");
            assertEquals(fdsBefore, openDescriptors(), what + ": descriptors after the fault");
        }

        script.clear();
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getFiles(handle, 2, TWO),
                what + ": a later call on the ended connection");
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._uninitialize(handle),
                what + ": _uninitialize on the ended connection");

        long again = connect(FAULT_KEY);
        assertNotEquals(handle, again, what + ": a new handle");
        assertEquals(0L, JavaSCCInterface._getFiles(again, 2, TWO), what + ": a call on the new connection");
        assertEquals(0L, JavaSCCInterface._uninitialize(again), what + ": _uninitialize of the new one");
    }

    /** The open file descriptors of this process, by number and target. */
    static List<String> openDescriptors() {
        List<String> fds = new ArrayList<>();
        try (Stream<Path> entries = Files.list(Paths.get("/proc/self/fd"))) {
            for (Path p : (Iterable<Path>) entries::iterator) {
                try {
                    String target = Files.readSymbolicLink(p).toString();
                    // the listing's own descriptor is gone by the time it is read
                    if (!target.startsWith("/proc/") && !target.contains("/proc/self/fd")) {
                        fds.add(p.getFileName() + " " + target);
                    }
                } catch (IOException gone) {
                    // closed while listing
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        fds.sort(null);
        return fds;
    }

    /** Child processes of this JVM (zombies included), by process id. */
    static List<Long> children() {
        TreeSet<Long> pids = new TreeSet<>();
        try (Stream<Path> tasks = Files.list(Paths.get("/proc/self/task"))) {
            for (Path task : (Iterable<Path>) tasks::iterator) {
                try {
                    String text = Files.readString(task.resolve("children")).trim();
                    for (String pid : text.isEmpty() ? new String[0] : text.split(" ")) {
                        pids.add(Long.parseLong(pid));
                    }
                } catch (IOException gone) {
                    // thread ended while listing
                }
            }
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return new ArrayList<>(pids);
    }
}
