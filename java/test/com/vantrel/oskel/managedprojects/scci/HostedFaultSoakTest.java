package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/**
 * Round after round of host processes that crash, abort, exit or hang in a provider call: each
 * call fails alone with its message, and after hundreds of them the JVM holds no more descriptors
 * and child processes than before, and a new connection works.
 */
@Tag("soak")
class HostedFaultSoakTest extends NativeTestBase {
    private static final String KEY = "Software\\Vantrel\\SoakFault";
    private static final String ENDED = "3 SCC provider process ended: ";
    private static final String[] ONE = {"a.txt"};
    private static final int ROUNDS = Integer.getInteger("oskel.soak.rounds", 100);
    private static final String[][] FAULTS = {
        {"crash SccGet", "signal 11"},
        {"abort SccGet", "signal 6"},
        {"exit SccGet 7", "exited with code 7"},
        {"hang SccGet", "no answer within 300 ms"},
    };

    @Test
    void faultsLeaveNoDescriptorsOrProcessesBehind() throws Exception {
        Path library = dir.resolve(System.mapLibraryName("soakprovider"));
        Files.createSymbolicLink(library, TestEnvironment.provider(TestEnvironment.TEST_PROVIDER));
        registry.set(KEY, RegistryFile.SERVER_PATH_VALUE, library.toString())
                .set(KEY, RegistryFile.HOST_PROCESS_VALUE, "1")
                .set(KEY, RegistryFile.HOST_TIMEOUT_VALUE, "300");
        List<String> fdsBefore = HostedFaultTest.openDescriptors();
        List<Long> childrenBefore = HostedFaultTest.children();

        List<String> problems = new ArrayList<>();
        int slowStarts = 0;
        long start = System.nanoTime();
        for (int round = 0; round < ROUNDS && problems.size() < 10; round++) {
            for (String[] fault : FAULTS) {
                String where = "round " + round + ", " + fault[0] + ": ";
                script.clear();
                // The timeout also bounds the host's start: a loaded machine may need a second try.
                long handle = 0;
                for (int attempt = 0; attempt < 3 && handle == 0; attempt++) {
                    handle = JavaSCCInterface._initialize(KEY);
                    slowStarts += handle == 0 ? 1 : 0;
                }
                if (handle == 0) {
                    problems.add(where + "_initialize failed");
                    continue;
                }
                JavaSCCInterface._getErrList(handle);
                script.line(fault[0]);
                long code = JavaSCCInterface._getFiles(handle, 1, ONE);
                String[] messages = JavaSCCInterface._getErrList(handle);
                String last = messages == null || messages.length == 0 ? "" : messages[messages.length - 1];
                if (code != NONSPECIFIC_ERROR || !last.startsWith(ENDED) || !last.contains(fault[1])) {
                    problems.add(where + code + " " + Arrays.toString(messages));
                }
            }
            List<Long> children = HostedFaultTest.children();
            if (!children.equals(childrenBefore)) {
                problems.add("round " + round + ": child processes " + children);
            }
        }
        long seconds = (System.nanoTime() - start) / 1_000_000_000L;
        System.out.println(ROUNDS * FAULTS.length + " faults in " + seconds + " s, "
                + slowStarts + " hosts too slow to start");

        assertEquals(List.of(), problems, "faults that did not end as they should");
        assertEquals(childrenBefore, HostedFaultTest.children(), "child processes after the soak");
        assertEquals(fdsBefore, HostedFaultTest.openDescriptors(), "descriptors after the soak");
        script.clear();
        long handle = JavaSCCInterface._initialize(KEY);
        assertTrue(handle != 0, "a connection after the soak");
        assertEquals(0L, JavaSCCInterface._getFiles(handle, 1, ONE), "a call after the soak");
        assertEquals(0L, JavaSCCInterface._uninitialize(handle));
    }
}
