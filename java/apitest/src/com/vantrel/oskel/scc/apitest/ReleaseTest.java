package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Closing a connection releases it: connect/close cycles do not grow the process, and the host
 * process of a hosted provider ends with its last connection. Each case runs in a JVM of its own
 * with a fixed heap, so that the growth measured is native.
 */
@Tag("release")
class ReleaseTest {
    @ParameterizedTest(name = "hosted {0}: {1} cycles after {2}")
    // The JVM itself settles only after some thousand cycles (compiled code, allocator arenas).
    @CsvSource({"false, 4000, 10000", "true, 300, 100"})
    void connectAndCloseCyclesDoNotGrowTheProcess(boolean hosted, int cycles, int warmup) {
        Path registry = TestEnvironment.newFolder("release").resolve("probe.reg");
        TestEnvironment.write(registry, TestEnvironment.registryText(
                Map.of("Probe", TestEnvironment.provider("testprovider")), hosted));
        List<String> command = TestEnvironment.javaCommand("-Xms64m", "-Xmx64m",
                "-XX:+AlwaysPreTouch", "-Doskelsccih.library=" + TestEnvironment.builtLibrary(),
                "-D" + "oskelsccih.registry=" + registry,
                "-cp", System.getProperty("java.class.path"),
                ReleaseProbe.class.getName(), String.valueOf(warmup), String.valueOf(cycles));
        Map<String, String> environment = new HashMap<>();
        environment.put("OSKEL_TESTPROVIDER_LOG", null);
        environment.put("OSKELSCCIH_REGISTRY", null);
        TestEnvironment.Run run = TestEnvironment.run(command, environment,
                TestEnvironment.workDir(), null).clean();
        assertEquals(0, run.exit(), run.both());
        Map<String, Long> figures = new HashMap<>();
        for (String line : run.out().split("\n")) {
            String[] words = line.split(" ");
            if (words.length == 2) {
                figures.put(words[0], Long.parseLong(words[1]));
            }
        }
        assertEquals(Arrays.asList(hosted ? 1L : 0L, 0L),
                Arrays.asList(figures.get("hosts-while-open"), figures.get("hosts-after")),
                "host processes while a connection is open and after the last close\n" + run.both());
        assertTrue(figures.get("growth-kb") < 2048,
                "growth over " + cycles + " cycles: " + figures.get("growth-kb") + " kB\n"
                        + run.both());
    }
}
