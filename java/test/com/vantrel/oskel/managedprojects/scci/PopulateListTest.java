package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import com.vantrel.oskel.managedprojects.scci.testing.TraceLines;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Populate lists: {@code _populateList} hands a file list to SccPopulateList, the provider sorts
 * the names into the keep and the drop list through the populate callback, and
 * {@code _getPopulateList} returns either list.
 */
@Tag("commands")
class PopulateListTest extends NativeTestBase {
    private static final long TWO_TO_32 = 1L << 32;
    private static final String[] THREE = {"src/a.java", null, "doc/b c.txt"};
    private static final String INIT_ONLY_KEY = "Software\\Vantrel\\InitOnly";
    private static final long KEEP = 1;
    private static final long DROP = 0;

    private static String populateCall(long context, long command, List<String> names) {
        return "SccPopulateList context=" + CallLog.hex(context) + " command=" + command + " count=" + names.size()
                + " names=" + CmdFileCommand.nameArray(names) + " populate=set callerdata=set status=set flags=0";
    }

    /** The call log line of one populate callback. */
    private static String callback(long keep, String name) {
        return "populate keep=" + keep + " name=" + CmdFileCommand.text(name) + " -> 1";
    }

    private static String render(String[] list) {
        return list == null ? "null" : list.length + " " + Arrays.toString(list);
    }

    private static String render(List<String> list) {
        return render(list.toArray(new String[0]));
    }

    private static void assertLists(long handle, List<String> keep, List<String> drop, String what) {
        assertEquals(render(keep), render(JavaSCCInterface._getPopulateList(handle, 1)), "keep list " + what);
        assertEquals(render(drop), render(JavaSCCInterface._getPopulateList(handle, 0)), "drop list " + what);
    }

    private static List<String> names(String prefix, int count) {
        return IntStream.range(0, count).mapToObj(i -> String.format("%s%04d.java", prefix, i))
                .collect(Collectors.toList());
    }

    private long connectToInitOnlyProvider() {
        registry.provider(INIT_ONLY_KEY, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        return connect(INIT_ONLY_KEY);
    }

    // --- What the provider receives ---------------------------------------------------------

    static Stream<Arguments> calls() {
        return Stream.of(
                Arguments.of("command 2, three names, the second null", 2L, 3L, THREE, 2L, Arrays.asList(THREE)),
                Arguments.of("command 0, one name", 0L, 1L, new String[] {"a"}, 0L, List.of("a")),
                Arguments.of("command 9, count 2 of 3", 9L, 2L, THREE, 9L, Arrays.asList(THREE[0], THREE[1])),
                Arguments.of("command 2^32 + 4, count 2^32 + 1", TWO_TO_32 + 4, TWO_TO_32 + 1, THREE, 4L,
                        List.of(THREE[0])),
                Arguments.of("count 0, empty array", 1L, 0L, new String[0], 1L, List.of()),
                Arguments.of("count 0, null array", 1L, 0L, null, 1L, List.of()));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("calls")
    void providerGetsTheCommandAndTheFirstNNames(String what, long command, long count, String[] files,
            long seenCommand, List<String> seen) {
        long handle = connect();

        assertEquals(0L, JavaSCCInterface._populateList(handle, command, count, files), "_populateList with " + what);

        List<String> log = callLog.lines();
        if (files == null && log.size() == 1) {
            // No names to read: an empty array and a null array serve the provider alike.
            log.set(0, log.get(0).replace(" names=null ", " names=[] "));
        }
        assertEquals(List.of(populateCall(DEFAULT_CONTEXT, seenCommand, seen)), log, "provider calls with " + what);
    }

    static Stream<Arguments> refusedCounts() {
        return Stream.of(
                Arguments.of("count -1", -1L, THREE),
                Arguments.of("count 4 with 3 names", 4L, THREE),
                Arguments.of("count 1 with a null array", 1L, null),
                Arguments.of("count 0xffffffff", 0xffffffffL, THREE),
                Arguments.of("count 2^32 + 4 with 3 names", TWO_TO_32 + 4, THREE),
                Arguments.of("count Integer.MIN_VALUE", (long) Integer.MIN_VALUE, THREE));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusedCounts")
    void countOutsideTheArrayIsRefusedWithoutAProviderCall(String what, long count, String[] files) {
        long handle = connect();
        script.populate(KEEP, "x");

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._populateList(handle, 2, count, files),
                "_populateList with " + what);
        assertEquals(List.of(), callLog.lines(), "provider calls with " + what);
    }

    // --- The lists ------------------------------------------------------------------------------

    @Test
    void listsAreEmptyBeforeAnyPopulateList() {
        long handle = connect();
        assertLists(handle, List.of(), List.of(), "of a fresh connection");
    }

    @Test
    void oneHundredFiftyKeepEntriesStayInOrderAndTheNextCallReplacesThem() {
        long handle = connect();
        List<String> kept = names("File_", 150);
        for (String name : kept) {
            script.populate(KEEP, name);
        }

        assertEquals(0L, JavaSCCInterface._populateList(handle, 2, 1, new String[] {"x"}), "first _populateList");

        List<String> expectedLog = new ArrayList<>();
        expectedLog.add(populateCall(DEFAULT_CONTEXT, 2, List.of("x")));
        kept.forEach(n -> expectedLog.add(callback(KEEP, n)));
        assertEquals(String.join("\n", expectedLog), String.join("\n", callLog.take()), "provider calls");
        assertLists(handle, kept, List.of(), "after 150 keep callbacks");

        script.clear();
        List<String> next = names("Next_", 10);
        for (int i = 0; i < next.size(); i++) {
            script.populate(i % 2 == 0 ? KEEP : DROP, next.get(i));
        }
        JavaSCCInterface._populateList(handle, 2, 1, new String[] {"x"});

        assertLists(handle, List.of(next.get(0), next.get(2), next.get(4), next.get(6), next.get(8)),
                List.of(next.get(1), next.get(3), next.get(5), next.get(7), next.get(9)),
                "after a second _populateList of 10 names");
    }

    @Test
    void longListsGrowPastEveryStepInOrder() {
        long handle = connect();
        // 2700 names: the keep list passes 200, 400, 800, 1600 and 2600 slots.
        List<String> kept = names("K", 2700);
        List<String> dropped = names("D", 150);
        StringBuilder directives = new StringBuilder();
        for (int i = 0; i < kept.size(); i++) {
            directives.append("populate ").append(KEEP).append(' ').append(kept.get(i)).append('\n');
            if (i < dropped.size()) {
                directives.append("populate ").append(DROP).append(' ').append(dropped.get(i)).append('\n');
            }
        }
        script.line(directives.toString().trim()); // one write for all 2850 directives

        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);
        assertLists(handle, kept, dropped, "after 2700 keep and 150 drop callbacks");

        // Once more: the grown lists are refilled from the start.
        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);
        assertLists(handle, kept, dropped, "after the same callbacks again");
    }

    static Stream<Arguments> keepFlags() {
        return Stream.of(
                Arguments.of(1L, true), Arguments.of(-1L, true), Arguments.of(2L, true), Arguments.of(0x80L, true),
                Arguments.of(0xffL, true), Arguments.of(0x101L, true), Arguments.of(0L, false),
                Arguments.of(0x100L, false), Arguments.of(0x200L, false), Arguments.of(-256L, false));
    }

    @ParameterizedTest(name = "keep flag {0}")
    @MethodSource("keepFlags")
    void lowEightBitsOfTheKeepFlagChooseTheList(long flag, boolean toKeep) {
        long handle = connect();
        script.populate(flag, "x.java");

        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);

        List<String> one = List.of("x.java");
        assertLists(handle, toKeep ? one : List.of(), toKeep ? List.of() : one, "after a callback with keep flag " + flag);
    }

    static Stream<Arguments> selectors() {
        return Stream.of(
                Arguments.of(1L, true), Arguments.of(-1L, true), Arguments.of(7L, true),
                Arguments.of((long) Integer.MAX_VALUE, true), Arguments.of((long) Integer.MIN_VALUE, true),
                Arguments.of(TWO_TO_32 + 1, true), Arguments.of(0L, false), Arguments.of(TWO_TO_32, false),
                Arguments.of(Long.MIN_VALUE, false));
    }

    @ParameterizedTest(name = "which = {0}")
    @MethodSource("selectors")
    void nonzeroLow32BitsOfWhichSelectTheKeepList(long which, boolean keep) {
        long handle = connect();
        script.populate(KEEP, "kept.java").populate(DROP, "dropped.java");
        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);

        String[] list = JavaSCCInterface._getPopulateList(handle, which);

        assertEquals(render(List.of(keep ? "kept.java" : "dropped.java")), render(list), "_getPopulateList(" + which + ")");
    }

    @Test
    void nullNameFromTheProviderIsSkippedAndTheCallbackStillReturnsTrue() {
        long handle = connect();
        script.populate(KEEP, "a").populateNull(KEEP).populateNull(DROP).populate(KEEP, "b");

        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);

        assertEquals(List.of(callback(KEEP, "a"), callback(KEEP, null), callback(DROP, null), callback(KEEP, "b")),
                callLog.linesOf("populate"), "callbacks and their results");
        assertLists(handle, List.of("a", "b"), List.of(), "after callbacks with null names");
    }

    @Test
    void sameNameTwiceIsStoredTwice() {
        long handle = connect();
        script.populate(KEEP, "a").populate(KEEP, "a").populate(DROP, "b").populate(DROP, "b");

        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);

        assertLists(handle, List.of("a", "a"), List.of("b", "b"), "after each name reported twice");
    }

    @Test
    void countZeroStillStoresWhatTheProviderReports() {
        long handle = connect();
        script.populate(KEEP, "k").populate(DROP, "d");

        assertEquals(0L, JavaSCCInterface._populateList(handle, 2, 0, null), "_populateList with count 0");

        assertLists(handle, List.of("k"), List.of("d"), "after _populateList with count 0");
    }

    @ParameterizedTest(name = "code {0}")
    @ValueSource(longs = {-11, 6, Integer.MIN_VALUE})
    void providerCodePassesThroughAndTheReportedNamesStay(long code) {
        long handle = connect();
        script.populate(KEEP, "k").populate(DROP, "d").returns("SccPopulateList", code);

        assertEquals(code, JavaSCCInterface._populateList(handle, 2, 0, new String[0]),
                "_populateList when SccPopulateList returns " + code);

        assertLists(handle, List.of("k"), List.of("d"), "after SccPopulateList returned " + code);
    }

    @Test
    void secondPopulateListEmptiesTheListsEvenWhenTheProviderReportsNothing() {
        long handle = connect();
        script.populate(KEEP, "k").populate(DROP, "d");
        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);
        script.clear().returns("SccPopulateList", -11);

        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);

        assertLists(handle, List.of(), List.of(), "after a _populateList without callbacks");
    }

    @Test
    void missingEntryPointGivesMinus15AndEmptyListsAndStillTraces() {
        long handle = connectToInitOnlyProvider();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 4, trace.path().toString());

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._populateList(handle, 2, 3, THREE),
                "_populateList without SccPopulateList");

        assertEquals(List.of(), callLog.lines(), "provider calls");
        List<Line> expected = new ArrayList<>(TraceLines.tracingStart(trace.path().toString(), 4, 0));
        expected.addAll(List.of(Line.stamped("-->Get populate list"), Line.raw("On Files:src/a.java\tdoc/b c.txt\t"),
                Line.stamped("-->Free populate list"), Line.stamped("<--Free populate list"),
                Line.stamped("<--Get populate list")));
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                "trace of _populateList at level 4 without SccPopulateList");
        JavaSCCInterface._setTracing(handle, 0, trace.path().toString());
        assertLists(handle, List.of(), List.of(), "after _populateList without SccPopulateList");
    }

    @Test
    void getPopulateListReadsOnlyAndOtherCallsLeaveTheLists() {
        long handle = connect();
        script.populate(KEEP, "k1").populate(KEEP, "k2").populate(DROP, "d1");
        JavaSCCInterface._populateList(handle, 2, 0, new String[0]);
        List<String> keep = List.of("k1", "k2");
        List<String> drop = List.of("d1");

        assertLists(handle, keep, drop, "first reading");
        assertLists(handle, keep, drop, "second reading");
        for (CmdFileCommand cmd : CmdFileCommand.values()) {
            cmd.run(handle, new String[] {"a"}, "c");
        }
        JavaSCCInterface._getCommandOptions(handle, 1);
        assertLists(handle, keep, drop, "after the eleven file commands");
        JavaSCCInterface._uninitialize(handle);
        assertLists(handle, keep, drop, "after _uninitialize");
    }

    @Test
    void listsBelongToOneInterfaceObject() {
        long first = connect();
        long second = connect();
        script.populate(KEEP, "k").populate(DROP, "d");

        JavaSCCInterface._populateList(first, 2, 0, new String[0]);

        assertLists(second, List.of(), List.of(), "of a second handle");
        assertLists(first, List.of("k"), List.of("d"), "of the handle that ran _populateList");
    }

    // --- Trace output -----------------------------------------------------------------------

    @ParameterizedTest(name = "level {0}")
    @ValueSource(ints = {0, 1, 2, 3, 4, 5})
    void traceOutputFollowsTheLevel(int level) {
        long handle = connect();
        script.populate(KEEP, "k1.java").populate(DROP, "d1.java").populate(KEEP, "k2.java");
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, level, trace.path().toString());

        JavaSCCInterface._populateList(handle, 2, 3, THREE);
        JavaSCCInterface._getPopulateList(handle, 1);
        JavaSCCInterface._getPopulateList(handle, -1);
        JavaSCCInterface._getPopulateList(handle, 0);

        if (level < 1) {
            assertFalse(trace.exists(), "_populateList and _getPopulateList at level " + level + " created the trace file");
            return;
        }
        List<Line> expected = new ArrayList<>(TraceLines.tracingStart(trace.path().toString(), level, 0));
        expected.add(Line.stamped("-->Get populate list"));
        if (level >= 4) {
            expected.addAll(List.of(Line.raw("On Files:src/a.java\tdoc/b c.txt\t"),
                    Line.stamped("-->Free populate list"), Line.stamped("<--Free populate list")));
        }
        expected.add(Line.stamped("<--Get populate list"));
        if (level >= 4) {
            for (long which : new long[] {1, -1}) {
                expected.addAll(List.of(Line.stamped("getListNumber(" + which + ")=2"), Line.stamped("-->getList"),
                        Line.stamped("getList(" + which + ") size=2"), Line.stamped("  1: k1.java"),
                        Line.stamped("  2: k2.java"), Line.stamped("<--getList")));
            }
            expected.addAll(List.of(Line.stamped("getListNumber(0)=1"), Line.stamped("-->getList"),
                    Line.stamped("getList(0) size=1"), Line.stamped("  1: d1.java"), Line.stamped("<--getList")));
        }
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                "_populateList and _getPopulateList(1, -1, 0) at level " + level);
    }

    @Test
    void emptyListIsTracedWithSizeZero() {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 4, trace.path().toString());
        List<Line> start = trace.lines();

        JavaSCCInterface._getPopulateList(handle, 0);

        List<Line> expected = new ArrayList<>(start);
        expected.addAll(List.of(Line.stamped("getListNumber(0)=0"), Line.stamped("-->getList"),
                Line.stamped("getList(0) size=0"), Line.stamped("<--getList")));
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()), "_getPopulateList(0) of an empty list");
    }
}
