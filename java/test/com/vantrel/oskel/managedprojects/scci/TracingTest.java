package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import com.vantrel.oskel.managedprojects.scci.testing.TraceLines;
import com.vantrel.oskel.managedprojects.scci.testing.TraceLines.Capability;
import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** {@code _setTracing}: the trace file, its announcement and capability report, and the levels. */
@Tag("tracing")
class TracingTest extends NativeTestBase {
    private static final List<Line> GET_VERSION_LINES = List.of(
            Line.stamped("-->Getting SCCI version"), Line.stamped("<--Getting SCCI version"));

    private static void assertTrace(List<Line> expected, TraceFile trace, String what) {
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                what + " (trace file " + trace.path() + ")");
    }

    private static List<Line> concat(List<Line> a, List<Line> b) {
        List<Line> all = new ArrayList<>(a);
        all.addAll(b);
        return all;
    }

    private static String p(TraceFile trace) {
        return trace.path().toString();
    }

    @Test
    void levelOneWritesTheAnnouncementAndTheFullReportForNoCapabilities() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, 1, p(trace));

        List<Line> expected = new ArrayList<>();
        expected.add(Line.stamped("Setting tracing in " + p(trace) + " level=1"));
        expected.add(Line.ctime());
        expected.add(Line.raw("SCCIH: Missing capability"));
        for (String name : List.of("REMOVE", "RENAME", "DIFF", "HISTORY", "PROPERTIES",
                "GETCOMMANDOPTIONS", "QUERYINFO", "GETEVENTS", "GETPROJPATH", "ADDFROMSCC",
                "COMMENTCHECKOUT", "COMMENTCHECKIN", "COMMENTADD", "COMMENTREMOVE", "TEXTOUT",
                "ADD_STORELATEST", "HISTORY_MULTFILE", "IGNORECASE", "IGNORESPACE", "POPULATELIST",
                "COMMENTPROJECT", "DIFFALWAYS", "GET_NOUI", "REENTRANT")) {
            expected.add(Line.raw("No SCC_CAP_" + name));
        }
        expected.add(Line.raw("**********"));
        assertTrace(expected, trace, "_setTracing level 1 with capabilities 0");
        String content = new String(trace.bytes(), java.nio.charset.StandardCharsets.ISO_8859_1);
        assertFalse(content.contains("\r"), "trace file holds a carriage return");
    }

    static Stream<Arguments> capabilityWords() {
        List<Arguments> cases = new ArrayList<>();
        cases.add(Arguments.of("every reported bit", TraceLines.ALL_REPORTED));
        cases.add(Arguments.of("every bit", 0xffffffff));
        cases.add(Arguments.of("only the bits never reported", ~TraceLines.ALL_REPORTED));
        cases.add(Arguments.of("only 0x20", 0x20));
        cases.add(Arguments.of("only 0x80000000", 0x80000000));
        for (Capability cap : TraceLines.CAPABILITIES) {
            cases.add(Arguments.of("only " + cap, cap.bit()));
            cases.add(Arguments.of("all but " + cap, TraceLines.ALL_REPORTED & ~cap.bit()));
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("capabilityWords")
    void reportListsExactlyTheMissingCapabilitiesInOrder(String what, int caps) {
        script.initCaps(caps);
        long handle = connect();
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, 1, p(trace));

        assertTrace(TraceLines.tracingStart(p(trace), 1, caps), trace,
                "_setTracing for capabilities " + what + String.format(" (0x%08x)", caps));
    }

    @ParameterizedTest(name = "level {0}")
    @ValueSource(ints = {1, 2, 3, 4, 5, 100, Integer.MAX_VALUE})
    void announcementCarriesTheLevel(int level) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, level, p(trace));

        assertTrace(TraceLines.tracingStart(p(trace), level, 0), trace, "_setTracing level " + level);
    }

    /**
     * The path reaches the file system as the name the JVM itself gives it (UTF-8 here, the
     * locale's encoding elsewhere), not as the JVM's modified UTF-8, which writes a character
     * beyond U+FFFF as two three-byte halves.
     */
    @Tag("locale")
    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"trace-\u00e4\u00f6\u00fc.log", "trace-\u65e5\u672c.log",
            "trace-\ud83d\ude00.log", "trace-\u00e4\u00f6\u00fc-\u65e5\u672c-\ud83d\ude00.log"})
    void aNonAsciiPathNamesThatFile(String name) throws IOException {
        Charset fileNames = Charset.forName(System.getProperty("sun.jnu.encoding"));
        assumeTrue(fileNames.newEncoder().canEncode(name), "file names in " + fileNames + " cannot hold " + name);
        long handle = connect();
        TraceFile trace = traceFile(name);

        JavaSCCInterface._setTracing(handle, 1, p(trace));

        List<String> present;
        try (Stream<Path> files = Files.list(trace.path().getParent())) {
            present = files.map(f -> f.getFileName().toString()).collect(Collectors.toList());
        }
        assertTrue(trace.exists(), "no file " + name + "; the folder holds " + present);
        // The announcement carries the path as UTF-8 text (the lines are read byte by byte).
        String announcement = "Setting tracing in " + p(trace) + " level=1";
        assertEquals(new String(announcement.getBytes(StandardCharsets.UTF_8), StandardCharsets.ISO_8859_1),
                trace.lines().get(0).text(), "the announcement");
    }

    @ParameterizedTest(name = "level {0}")
    @ValueSource(ints = {0, -1, -100, Integer.MIN_VALUE})
    void levelZeroOrBelowWritesNothingThenOrLater(int level) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, level, p(trace));
        JavaSCCInterface._getVersion(handle);

        assertFalse(trace.exists(), "_setTracing level " + level + " and _getVersion created the trace file");
    }

    @ParameterizedTest(name = "level {0}")
    @ValueSource(ints = {1, 2, 3, 4, 9})
    void getVersionWritesItsLinesFromLevelTwo(int level) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, level, p(trace));
        List<Line> start = trace.lines();

        assertEquals(0x00010002L, JavaSCCInterface._getVersion(handle), "_getVersion while tracing");

        assertTrace(concat(start, level >= 2 ? GET_VERSION_LINES : List.of()), trace,
                "_getVersion at level " + level);
    }

    @Test
    void getVersionWritesItsLinesAlsoWhenTheProviderLacksSccGetVersion() {
        String key = "Software\\Vantrel\\InitOnly";
        registry.provider(key, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        long handle = connect(key);
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 2, p(trace));

        assertEquals(0L, JavaSCCInterface._getVersion(handle), "_getVersion without SccGetVersion");

        assertTrace(concat(TraceLines.tracingStart(p(trace), 2, 0), GET_VERSION_LINES), trace,
                "_getVersion without SccGetVersion at level 2");
    }

    @Test
    void nativesWithoutTraceLinesWriteNothingEvenAtHighLevels() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 100, p(trace));
        List<Line> start = trace.lines();

        JavaSCCInterface._getSCCName(handle);
        JavaSCCInterface._getCapabilities(handle);
        JavaSCCInterface._getProviders();
        JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME);
        connect();
        JavaSCCInterface._uninitialize(handle);

        assertTrace(start, trace, "_getSCCName, _getCapabilities, _getProviders, _getProviderKey, "
                + "_initialize and _uninitialize at level 100");
    }

    @Test
    void nullPathChangesNothing() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 2, p(trace));
        List<Line> start = trace.lines();

        JavaSCCInterface._setTracing(handle, 0, null);
        JavaSCCInterface._setTracing(handle, 1, null);
        JavaSCCInterface._getVersion(handle);

        assertTrace(concat(start, GET_VERSION_LINES), trace,
                "_setTracing with a null path kept level 2 and the path");
    }

    @Test
    void nullPathDoesNotSwitchTracingOn() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 0, p(trace));

        JavaSCCInterface._setTracing(handle, 4, null);
        JavaSCCInterface._getVersion(handle);

        assertFalse(trace.exists(), "a null path switched tracing on at the earlier path");
    }

    @Test
    void nullPathOnAFreshConnectionWritesNothing() throws IOException {
        long handle = connect();

        JavaSCCInterface._setTracing(handle, 4, null);
        JavaSCCInterface._getVersion(handle);

        try (Stream<Path> files = Files.list(dir)) {
            assertEquals(List.of(), files.toList(), "files made by _setTracing with a null path");
        }
    }

    @Test
    void levelZeroSwitchesTracingOff() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 4, p(trace));
        List<Line> start = trace.lines();
        TraceFile other = traceFile("other.log");

        JavaSCCInterface._setTracing(handle, 0, p(other));
        JavaSCCInterface._getVersion(handle);

        assertTrace(start, trace, "old trace file after switching off");
        assertFalse(other.exists(), "level 0 with a new path created the file");
    }

    @Test
    void newPathTakesOverAndTheOldFileKeepsItsLines() {
        script.initCaps(TraceLines.ALL_REPORTED);
        long handle = connect();
        TraceFile first = traceFile("first.log");
        TraceFile second = traceFile("second.log");
        JavaSCCInterface._setTracing(handle, 2, p(first));
        JavaSCCInterface._getVersion(handle);

        JavaSCCInterface._setTracing(handle, 3, p(second));
        JavaSCCInterface._getVersion(handle);

        assertTrace(concat(TraceLines.tracingStart(p(first), 2, TraceLines.ALL_REPORTED), GET_VERSION_LINES),
                first, "first trace file");
        assertTrace(concat(TraceLines.tracingStart(p(second), 3, TraceLines.ALL_REPORTED), GET_VERSION_LINES),
                second, "second trace file");
    }

    @Test
    void settingTracingTwiceWritesAnnouncementAndReportTwice() {
        script.initCaps(0x7fff);
        long handle = connect();
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, 1, p(trace));
        JavaSCCInterface._setTracing(handle, 4, p(trace));

        assertTrace(concat(TraceLines.tracingStart(p(trace), 1, 0x7fff),
                TraceLines.tracingStart(p(trace), 4, 0x7fff)), trace, "two _setTracing calls on one file");
    }

    @Test
    void traceFileIsAppendedToNotReplaced() throws IOException {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        Files.writeString(trace.path(), "earlier line\n");

        JavaSCCInterface._setTracing(handle, 2, p(trace));
        JavaSCCInterface._getVersion(handle);

        List<Line> expected = new ArrayList<>();
        expected.add(Line.raw("earlier line"));
        expected.addAll(TraceLines.tracingStart(p(trace), 2, 0));
        expected.addAll(GET_VERSION_LINES);
        assertTrace(expected, trace, "trace file that held a line before");
    }

    @Test
    void twoObjectsTracingToOneFileAppendInTheOrderOfTheirWrites() {
        script.initCaps(TraceLines.ALL_REPORTED);
        long first = connect();
        script.clear().initCaps(TraceLines.ALL_REPORTED & ~0x1);
        long second = connect();
        TraceFile trace = traceFile("shared.log");

        JavaSCCInterface._setTracing(first, 2, p(trace));
        JavaSCCInterface._setTracing(second, 3, p(trace));
        JavaSCCInterface._getVersion(second);
        JavaSCCInterface._getVersion(first);
        JavaSCCInterface._setTracing(first, 1, p(trace));
        JavaSCCInterface._getVersion(first);
        JavaSCCInterface._getVersion(second);

        List<Line> expected = new ArrayList<>();
        expected.addAll(TraceLines.tracingStart(p(trace), 2, TraceLines.ALL_REPORTED));
        expected.addAll(TraceLines.tracingStart(p(trace), 3, TraceLines.ALL_REPORTED & ~0x1));
        expected.addAll(GET_VERSION_LINES);
        expected.addAll(GET_VERSION_LINES);
        expected.addAll(TraceLines.tracingStart(p(trace), 1, TraceLines.ALL_REPORTED));
        expected.addAll(GET_VERSION_LINES); // second only: first is at level 1 now
        assertTrace(expected, trace, "two objects on one trace file");
    }

    @Test
    void directoryAsPathMakesEveryWriteASilentNoOp() throws IOException {
        long handle = connect();
        Path folder = Files.createDirectory(dir.resolve("folder"));

        JavaSCCInterface._setTracing(handle, 4, folder.toString());
        long version = JavaSCCInterface._getVersion(handle);

        assertEquals(0x00010002L, version, "_getVersion while the trace path names a folder");
        assertTrue(Files.isDirectory(folder), "the folder is still a folder");
        try (Stream<Path> files = Files.list(folder)) {
            assertEquals(List.of(), files.toList(), "files made in the folder named as trace path");
        }
        assertEquals(List.of("SccGetVersion"), callLog.lines(), "provider calls while tracing to a folder");
    }

    @Test
    void fileThatCannotBeOpenedIsTriedAgainAtTheNextWrite() throws IOException {
        long handle = connect();
        Path missingFolder = dir.resolve("later");
        TraceFile trace = new TraceFile(missingFolder.resolve("trace.log"));

        JavaSCCInterface._setTracing(handle, 2, p(trace));
        assertFalse(trace.exists(), "trace file in a missing folder");
        Files.createDirectory(missingFolder);
        JavaSCCInterface._getVersion(handle);

        assertTrace(GET_VERSION_LINES, trace, "lines written once the folder exists");
    }

    @Test
    void fileDeletedBetweenWritesIsMadeAnew() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 2, p(trace));
        JavaSCCInterface._getVersion(handle);

        trace.delete();
        JavaSCCInterface._getVersion(handle);

        assertTrace(GET_VERSION_LINES, trace, "trace file deleted after the first _getVersion");
    }

    @Test
    void tracingSurvivesUninitialize() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 2, p(trace));
        List<Line> start = trace.lines();

        JavaSCCInterface._uninitialize(handle);
        JavaSCCInterface._getVersion(handle);

        assertTrace(concat(start, GET_VERSION_LINES), trace, "_getVersion after _uninitialize");
    }

    @Test
    void tracingCanStartAfterUninitialize() {
        script.initCaps(0x3);
        long handle = connect();
        JavaSCCInterface._uninitialize(handle);
        TraceFile trace = traceFile("trace.log");

        JavaSCCInterface._setTracing(handle, 1, p(trace));

        assertTrace(TraceLines.tracingStart(p(trace), 1, 0x3), trace,
                "_setTracing after _uninitialize reports the capabilities SccInitialize gave");
    }

    static Stream<String> pathNames() {
        return Stream.of("with space.log", "quote\"and'apostrophe.log", "percent %s %d %n.log",
                "back\\slash.log", "long-" + "x".repeat(200) + ".log");
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("pathNames")
    void pathIsUsedAsItStandsAndAnnouncedAsItStands(String name) {
        // A Windows file name has no quote, and a backslash separates folders there.
        org.junit.jupiter.api.Assumptions.assumeFalse(
                TestEnvironment.windows() && (name.contains("\"") || name.contains("\\")),
                "not a file name on Windows");
        long handle = connect();
        TraceFile trace = traceFile(name);

        JavaSCCInterface._setTracing(handle, 2, p(trace));
        JavaSCCInterface._getVersion(handle);

        assertTrace(concat(TraceLines.tracingStart(p(trace), 2, 0), GET_VERSION_LINES), trace,
                "trace file named " + name);
    }

    @Test
    void pathBeyondAsciiIsUsedAsItsUtf8Bytes() {
        assumeTrue(TestEnvironment.utf8Locale(), "file names beyond ASCII need a UTF-8 locale in Java");
        long handle = connect();
        TraceFile trace = traceFile("tr\u00e2ce-\u20ac-\u4e2d.log");

        JavaSCCInterface._setTracing(handle, 2, p(trace));
        JavaSCCInterface._getVersion(handle);

        assertTrace(concat(TraceLines.tracingStart(p(trace), 2, 0), GET_VERSION_LINES), trace,
                "trace file with a name beyond ASCII");
    }
}
