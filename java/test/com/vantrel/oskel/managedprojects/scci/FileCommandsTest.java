package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import com.vantrel.oskel.managedprojects.scci.testing.TraceLines;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The eleven file commands end to end through the test provider: the exact argument list each
 * entry point receives, the result codes, the counts the natives refuse, the trace output at each
 * level and the behaviour when the provider lacks the entry point.
 */
@Tag("commands")
class FileCommandsTest extends NativeTestBase {
    /** Three names, the second one null. */
    private static final String[] THREE = {"src/a.java", null, "doc/b c.txt"};
    private static final String ONE_FILE = "C:\\work\\a.java";
    private static final String COMMENT = "Fixed \"it\" in C:\\work";
    private static final String INIT_ONLY_KEY = "Software\\Vantrel\\InitOnly";

    private static final long TWO_TO_32 = 1L << 32;

    /** A native's result as a comparable text: "code N", "int[] [..]" or "null". */
    private static String describe(Object result) {
        if (result == null) {
            return "null";
        }
        if (result instanceof int[]) {
            return "int[] " + Arrays.toString((int[]) result);
        }
        return "code " + result;
    }

    /** What a call that reached the provider returns when the provider returns 0. */
    private static String successFor(CmdFileCommand cmd, int n) {
        return cmd == CmdFileCommand.QUERY_INFO ? describe(new int[n]) : describe(0L);
    }

    private static void assertTrace(List<Line> expected, TraceFile trace, String what) {
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                what + " (trace file " + trace.path() + ")");
    }

    /** Switches tracing on and returns the lines written so far (none for level 0 and below). */
    private List<Line> startTracing(long handle, TraceFile trace, int level) {
        JavaSCCInterface._setTracing(handle, level, trace.path().toString());
        return level >= 1 ? TraceLines.tracingStart(trace.path().toString(), level, 0) : List.of();
    }

    private static List<Line> concat(List<Line> a, List<Line> b) {
        List<Line> all = new ArrayList<>(a);
        all.addAll(b);
        return all;
    }

    private long connectToInitOnlyProvider() {
        registry.provider(INIT_ONLY_KEY, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        return connect(INIT_ONLY_KEY);
    }

    // --- What the provider receives ---------------------------------------------------------

    /** One way to call a list command, and the names the provider must see. */
    static final class ListCall {
        final String what;
        final long count;
        final String[] files;
        final String comment;
        final List<String> seen;
        final boolean commentCase;

        ListCall(String what, long count, String[] files, String comment, List<String> seen,
                boolean commentCase) {
            this.what = what;
            this.count = count;
            this.files = files;
            this.comment = comment;
            this.seen = seen;
            this.commentCase = commentCase;
        }

        @Override
        public String toString() {
            return what;
        }
    }

    static List<ListCall> listCalls() {
        return List.of(
                new ListCall("three names, the second null", 3, THREE, COMMENT, Arrays.asList(THREE), false),
                new ListCall("one name", 1, new String[] {"a.java"}, "c", List.of("a.java"), false),
                new ListCall("count 2 of 4 names", 2, new String[] {"a", "b", "c", "d"}, "c",
                        List.of("a", "b"), false),
                new ListCall("count 2^32 + 2 of 3 names", TWO_TO_32 + 2, THREE, "c",
                        Arrays.asList(THREE[0], THREE[1]), false),
                new ListCall("count 2^32 (low 32 bits 0) of 3 names", TWO_TO_32, THREE, "c", List.of(), false),
                new ListCall("count 0, empty array", 0, new String[0], "c", List.of(), false),
                new ListCall("count 0, null array", 0, null, "c", List.of(), false),
                new ListCall("only null names", 2, new String[] {null, null}, "c", Arrays.asList(null, null), false),
                new ListCall("an empty name", 1, new String[] {""}, "c", List.of(""), false),
                new ListCall("a null comment", 1, new String[] {"a.java"}, null, List.of("a.java"), true),
                new ListCall("an empty comment", 1, new String[] {"a.java"}, "", List.of("a.java"), true));
    }

    static Stream<Arguments> listCommandCalls() {
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.listCommands()) {
            for (ListCall call : listCalls()) {
                if (!call.commentCase || cmd.takesComment()) {
                    cases.add(Arguments.of(cmd, call));
                }
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("listCommandCalls")
    void listCommandPassesItsArgumentsToTheProvider(CmdFileCommand cmd, ListCall call) {
        long context = 0x1234abcd5678L;
        script.initContext(context);
        long handle = connect();

        Object result = cmd.runList(handle, call.count, call.files, call.comment);

        List<String> log = callLog.lines();
        if (call.files == null && log.size() == 1) {
            // No names to read: an empty array and a null array serve the provider alike.
            log.set(0, log.get(0).replace(" names=null ", " names=[] "));
        }
        assertEquals(List.of(cmd.expectedCall(context, call.seen, call.comment, 0)), log,
                "provider calls of " + cmd + " with " + call);
        assertEquals(successFor(cmd, call.seen.size()), describe(result), "result of " + cmd + " with " + call);
    }

    static Stream<Arguments> oneFileCalls() {
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.oneFileCommands()) {
            for (String name : Arrays.asList(ONE_FILE, "", null, "x \"y\" \\z")) {
                cases.add(Arguments.of(cmd, name));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}({1})")
    @MethodSource("oneFileCalls")
    void oneFileCommandPassesTheNameToTheProvider(CmdFileCommand cmd, String name) {
        long handle = connect();

        long result = cmd.runOne(handle, name);

        assertEquals(List.of(cmd.expectedCall(DEFAULT_CONTEXT, Arrays.asList(name), null, 0)), callLog.lines(),
                "provider calls of " + cmd + "(" + name + ")");
        assertEquals(0L, result, "result of " + cmd + "(" + name + ")");
    }

    // --- Counts the natives refuse ----------------------------------------------------------

    static Stream<Arguments> refusedCounts() {
        Object[][] counts = {
                {"count -1", -1L, THREE},
                {"count 4 with 3 names", 4L, THREE},
                {"count 1 with a null array", 1L, null},
                {"count 0xffffffff (low 32 bits -1)", 0xffffffffL, THREE},
                {"count 2^32 + 4 (low 32 bits 4) with 3 names", TWO_TO_32 + 4, THREE},
                {"count 0x80000000", 0x80000000L, THREE},
                {"count Integer.MIN_VALUE", (long) Integer.MIN_VALUE, THREE},
                {"count Long.MAX_VALUE (low 32 bits -1)", Long.MAX_VALUE, THREE},
                {"count 1 with an empty array", 1L, new String[0]},
        };
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.listCommands()) {
            for (Object[] c : counts) {
                cases.add(Arguments.of(cmd, c[0], c[1], c[2]));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("refusedCounts")
    void countOutsideTheArrayIsRefusedWithoutAProviderCall(CmdFileCommand cmd, String what, long count,
            String[] files) {
        long handle = connect();

        Object result = cmd.runList(handle, count, files, COMMENT);

        String expected = cmd == CmdFileCommand.QUERY_INFO ? describe(null) : describe(NONSPECIFIC_ERROR);
        assertEquals(expected, describe(result), "result of " + cmd + " with " + what);
        assertEquals(List.of(), callLog.lines(), "provider calls of " + cmd + " with " + what);
    }

    // --- Result codes -----------------------------------------------------------------------

    static Stream<Arguments> resultCodes() {
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.values()) {
            if (cmd == CmdFileCommand.QUERY_INFO) {
                continue;
            }
            for (long code : new long[] {-11, 6, -1, 1, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
                cases.add(Arguments.of(cmd, code));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0} returns {1}")
    @MethodSource("resultCodes")
    void providerCodePassesThroughSignExtended(CmdFileCommand cmd, long code) {
        long handle = connect();
        script.returns(cmd.entryPoint, code);

        Object result = cmd.run(handle, new String[] {"a.java"}, "c");

        assertEquals(describe(code), describe(result), cmd + " when " + cmd.entryPoint + " returns " + code);
        assertEquals(1, callLog.linesOf(cmd.entryPoint).size(), "calls of " + cmd.entryPoint);
    }

    @Test
    void queryInfoDropsTheProviderCodeAndReturnsTheWords() {
        long handle = connect();
        script.returns("SccQueryInfo", -11).status(0, 5).status(1, -1);

        int[] words = JavaSCCInterface._queryInfo(handle, 2, new String[] {"a", "b"});

        assertEquals(describe(new int[] {5, -1}), describe(words), "_queryInfo when SccQueryInfo returns -11");
    }

    @Test
    void queryInfoZeroesTheWordsBeforeEveryCall() {
        long handle = connect();
        script.status(-1, -1);
        assertEquals(describe(new int[] {-1, -1, -1}), describe(JavaSCCInterface._queryInfo(handle, 3, THREE)),
                "first _queryInfo, provider writing -1 to every word");
        script.clear();
        callLog.clear();

        int[] words = JavaSCCInterface._queryInfo(handle, 3, THREE);

        assertEquals(List.of(CmdFileCommand.QUERY_INFO.expectedCall(DEFAULT_CONTEXT, Arrays.asList(THREE), null, 0)),
                callLog.lines(), "second _queryInfo: the words the provider received");
        assertEquals(describe(new int[3]), describe(words), "second _queryInfo, provider writing nothing");
    }

    // --- Missing entry point ----------------------------------------------------------------

    @ParameterizedTest(name = "{0}")
    @EnumSource(CmdFileCommand.class)
    void missingEntryPointGivesMinus15AndStillTraces(CmdFileCommand cmd) {
        long handle = connectToInitOnlyProvider();
        TraceFile trace = traceFile("trace.log");
        List<Line> start = startTracing(handle, trace, 4);
        String[] files = cmd.takesList() ? THREE : new String[] {ONE_FILE};

        Object result = cmd.run(handle, files, COMMENT);

        String expected = cmd == CmdFileCommand.QUERY_INFO ? describe(new int[3]) : describe(NONSPECIFIC_ERROR);
        assertEquals(expected, describe(result), cmd + " without " + cmd.entryPoint);
        assertEquals(List.of(), callLog.lines(), "provider calls of " + cmd + " without " + cmd.entryPoint);
        assertTrace(concat(start, cmd.expectedTrace(4, Arrays.asList(files), new int[3])), trace,
                cmd + " at level 4 without " + cmd.entryPoint);
    }

    // --- Trace output -----------------------------------------------------------------------

    static Stream<Arguments> commandsAndLevels() {
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.values()) {
            for (int level = 0; level <= 5; level++) {
                cases.add(Arguments.of(cmd, level));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0} at level {1}")
    @MethodSource("commandsAndLevels")
    void traceOutputFollowsTheLevel(CmdFileCommand cmd, int level) {
        long handle = connect();
        script.status(0, 1).status(2, -1);
        TraceFile trace = traceFile("trace.log");
        List<Line> start = startTracing(handle, trace, level);
        String[] files = cmd.takesList() ? THREE : new String[] {ONE_FILE};

        cmd.run(handle, files, COMMENT);

        assertEquals(1, callLog.linesOf(cmd.entryPoint).size(), "calls of " + cmd.entryPoint);
        if (level < 1) {
            assertFalse(trace.exists(), cmd + " at level " + level + " created the trace file");
            return;
        }
        assertTrace(concat(start, cmd.expectedTrace(level, Arrays.asList(files), new int[] {1, 0, -1})), trace,
                cmd + " at level " + level);
    }

    static Stream<Arguments> nullNameLevels() {
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.oneFileCommands()) {
            for (int level : new int[] {1, 2, 3, 4}) {
                cases.add(Arguments.of(cmd, level));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}(null) at level {1}")
    @MethodSource("nullNameLevels")
    void nullNameIsTracedAsNullTextAndReachesTheProviderAsNull(CmdFileCommand cmd, int level) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        List<Line> start = startTracing(handle, trace, level);
        List<String> names = Arrays.asList((String) null);

        assertEquals(0L, cmd.runOne(handle, null), "result of " + cmd + "(null)");

        assertEquals(List.of(cmd.expectedCall(DEFAULT_CONTEXT, names, null, 0)), callLog.lines(),
                "provider calls of " + cmd + "(null)");
        assertTrace(concat(start, cmd.expectedTrace(level, names, null)), trace, cmd + "(null) at level " + level);
    }

    static Stream<Arguments> fileDumps() {
        Object[][] dumps = {
                {"count 0, empty array", 0L, new String[0], "On Files:"},
                {"count 2 of 3 names", 2L, THREE, "On Files:src/a.java\t"},
                {"count 3 of 3 names, the second null", 3L, THREE, "On Files:src/a.java\tdoc/b c.txt\t"},
                {"only null names", 2L, new String[] {null, null}, "On Files:"},
                {"an empty name", 1L, new String[] {""}, "On Files:\t"},
                {"count 2^32 + 1", TWO_TO_32 + 1, THREE, "On Files:src/a.java\t"},
        };
        List<Arguments> cases = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.fileDumpCommands()) {
            for (Object[] d : dumps) {
                cases.add(Arguments.of(cmd, d[0], d[1], d[2], d[3]));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("fileDumps")
    void onFilesDumpListsTheFirstNNonNullNames(CmdFileCommand cmd, String what, long count, String[] files,
            String dump) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        List<Line> start = startTracing(handle, trace, 4);

        cmd.runList(handle, count, files, COMMENT);

        assertTrace(concat(start, List.of(cmd.entryLine(), Line.raw(dump), cmd.exitLine())), trace,
                cmd + " at level 4 with " + what);
    }

    static Stream<Arguments> statusDumps() {
        return Stream.of(
                Arguments.of("count 0", 0L, new String[0], new int[0], "Status:"),
                Arguments.of("words -1 and 0", 2L, new String[] {"a.java", "b.java"}, new int[] {-1, 0},
                        "Status: a.java=0xffffffff b.java=0x0"),
                Arguments.of("words 1 and -1", 2L, new String[] {"a.java", "b.java"}, new int[] {1, -1},
                        "Status: a.java=0x1 b.java=0xffffffff"),
                Arguments.of("the extremes", 2L, new String[] {"a", "b"},
                        new int[] {Integer.MIN_VALUE, Integer.MAX_VALUE}, "Status: a=0x80000000 b=0x7fffffff"),
                Arguments.of("lower-case hex", 1L, new String[] {"a"}, new int[] {0xabcdef}, "Status: a=0xabcdef"),
                Arguments.of("a null name", 3L, THREE, new int[] {7, 8, 9},
                        "Status: src/a.java=0x7 (null)=0x8 doc/b c.txt=0x9"),
                Arguments.of("count 2 of 3 names", 2L, THREE, new int[] {7, 8}, "Status: src/a.java=0x7 (null)=0x8"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("statusDumps")
    void statusDumpShowsEveryWordAsUnsignedHex(String what, long count, String[] files, int[] words, String dump) {
        long handle = connect();
        for (int i = 0; i < words.length; i++) {
            script.status(i, words[i]);
        }
        TraceFile trace = traceFile("trace.log");
        List<Line> start = startTracing(handle, trace, 4);

        int[] result = JavaSCCInterface._queryInfo(handle, count, files);

        assertEquals(describe(words), describe(result), "_queryInfo with " + what);
        CmdFileCommand q = CmdFileCommand.QUERY_INFO;
        assertTrace(concat(start, List.of(q.entryLine(), Line.raw(dump), q.exitLine())), trace,
                "_queryInfo at level 4 with " + what);
    }
}
