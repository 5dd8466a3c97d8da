package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.scc.internal.NativeBridge;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CompletableFuture;
import java.util.concurrent.TimeUnit;
import java.util.function.Function;
import java.util.function.ToLongFunction;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The provider API's entry points beyond the 28 natives, through the natives of
 * {@link NativeBridge}: what the provider receives, what comes back, the callbacks in the order the
 * provider makes them, cancel from another thread, and -15 where the provider lacks the entry point.
 */
@Tag("further")
class FurtherEntryPointsTest extends NativeTestBase {
    private static final String CTX = "context=" + CallLog.hex(DEFAULT_CONTEXT);
    private static final String INIT_ONLY_KEY = "Software\\Vantrel\\InitOnly";

    /** One native call and what it must leave behind. */
    private interface Call {
        long run(long handle, Object[] outputs);
    }

    private static Arguments row(String what, String script, Call call, Object[] outputs, long code,
            Object[] expectedOutputs, String... log) {
        return Arguments.of(what, script, call, outputs, code, expectedOutputs, List.of(log));
    }

    static Stream<Arguments> calls() {
        return Stream.of(
                row("rename", "return SccRename 5", (h, o) -> NativeBridge.rename(h, "/w/a.c", "/w/b c.c"),
                        new Object[0], 5, new Object[0],
                        "SccRename " + CTX + " window=null name=\"/w/a.c\" newname=\"/w/b c.c\""),
                row("event queue on", "", (h, o) -> NativeBridge.setOption(h, 1, 1), new Object[0], 0,
                        new Object[0], "SccSetOption " + CTX + " option=1 value=1"),
                row("share sub-projects answered", "return SccSetOption 7",
                        (h, o) -> NativeBridge.setOption(h, 6, 0), new Object[0], 7, new Object[0],
                        "SccSetOption " + CTX + " option=6 value=0"),
                row("check-out only, negative value", "", (h, o) -> NativeBridge.setOption(h, 5, -2),
                        new Object[0], 0, new Object[0], "SccSetOption " + CTX + " option=5 value=-2"),
                row("events", "event 2050 4 /w/changed file.c",
                        (h, o) -> NativeBridge.getEvents(h, (String[]) o[0], (int[]) o[1]),
                        new Object[] {new String[] {"x"}, new int[2]}, 0,
                        new Object[] {new String[] {"/w/changed file.c"}, new int[] {2050, 4}},
                        "SccGetEvents " + CTX + " name=set status=set remaining=set"),
                row("events: nothing written on an error", "event 1 1 /w/f\nreturn SccGetEvents -14",
                        (h, o) -> NativeBridge.getEvents(h, (String[]) o[0], (int[]) o[1]),
                        new Object[] {new String[] {"x"}, new int[] {7, 7}}, -14,
                        new Object[] {new String[] {"x"}, new int[] {7, 7}},
                        "SccGetEvents " + CTX + " name=set status=set remaining=set"),
                row("extended capability", "excap 5 1\nexcap 6 0",
                        (h, o) -> NativeBridge.getExtendedCapabilities(h, 5, (boolean[]) o[0]),
                        new Object[] {new boolean[1]}, 0, new Object[] {new boolean[] {true}},
                        "SccGetExtendedCapabilities " + CTX + " capability=5 supported=set"),
                row("user option", "useroption 1 1",
                        (h, o) -> NativeBridge.getUserOption(h, 1, (int[]) o[0]),
                        new Object[] {new int[1]}, 0, new Object[] {new int[] {1}},
                        "SccGetUserOption " + CTX + " option=1 value=set"),
                row("begin batch", "", (h, o) -> NativeBridge.beginBatch(h), new Object[0], 0, new Object[0],
                        "SccBeginBatch"),
                row("end batch", "return SccEndBatch -8", (h, o) -> NativeBridge.endBatch(h), new Object[0],
                        -8, new Object[0], "SccEndBatch"),
                row("create sub-project",
                        "outpath.user bob\noutpath.aux srv:1\noutpath.path $/p/sub",
                        (h, o) -> NativeBridge.createSubProject(h, (String[]) o[0]),
                        new Object[] {new String[] {"ann", "$/p", "sub", "aux", ""}}, 0,
                        new Object[] {new String[] {"bob", "$/p", "sub", "srv:1", "$/p/sub"}},
                        "SccCreateSubProject " + CTX + " window=null user=\"ann\" parent=\"$/p\""
                                + " name=\"sub\" aux=\"aux\" subpath=\"\""),
                row("parent project path", "outpath.path $/p",
                        (h, o) -> NativeBridge.getParentProjectPath(h, (String[]) o[0]),
                        new Object[] {new String[] {"ann", "$/p/sub", "aux", "old"}}, 0,
                        new Object[] {new String[] {"ann", "$/p/sub", "aux", "$/p"}},
                        "SccGetParentProjectPath " + CTX + " window=null user=\"ann\" path=\"$/p/sub\""
                                + " aux=\"aux\" parent=\"old\""),
                row("folder status", "status 1 3",
                        (h, o) -> NativeBridge.dirQueryInfo(h, new String[] {"/w/d1", "/w/d2"}, (int[]) o[0]),
                        new Object[] {new int[] {9, 0}}, 0, new Object[] {new int[] {9, 3}},
                        "SccDirQueryInfo " + CTX + " count=2 names=[\"/w/d1\",\"/w/d2\"] status=[9,0]"),
                row("folder diff", "", (h, o) -> NativeBridge.dirDiff(h, "/w/d", 0x10), new Object[0], 0,
                        new Object[0], "SccDirDiff " + CTX + " window=null name=\"/w/d\" flags=16 options=0x0"),
                row("multi-checkout", "multicheckout 1",
                        (h, o) -> NativeBridge.isMultiCheckoutEnabled(h, (boolean[]) o[0]),
                        new Object[] {new boolean[1]}, 0, new Object[] {new boolean[] {true}},
                        "SccIsMultiCheckoutEnabled " + CTX + " enabled=set"),
                row(".scc files", "status 1 1",
                        (h, o) -> NativeBridge.willCreateSccFile(h, new String[] {"/w/a", "/w/b"},
                                (boolean[]) o[0]),
                        new Object[] {new boolean[2]}, 0, new Object[] {new boolean[] {false, true}},
                        "SccWillCreateSccFile " + CTX + " count=2 names=[\"/w/a\",\"/w/b\"] status=[0,0]"),
                row("add from source control into a folder: the array goes back to be freed",
                        "addfromscc a.h\naddfromscc b c.h",
                        (h, o) -> NativeBridge.addFromScc(h, "/w/dest", (String[][]) o[0]),
                        new Object[] {new String[1][]}, 0,
                        new Object[] {new String[][] {{"a.h", "b c.h"}}},
                        "SccAddFromScc " + CTX + " window=null count=1 names=[\"/w/dest\"]",
                        "SccAddFromScc " + CTX + " window=null count=null names=own"),
                row("add from source control, no folder, cancelled: still freed",
                        "addfromscc a.h\naddfromscc.count 0\nreturn SccAddFromScc 2",
                        (h, o) -> NativeBridge.addFromScc(h, null, (String[][]) o[0]),
                        new Object[] {new String[1][]}, 2, new Object[] {new String[][] {{}}},
                        "SccAddFromScc " + CTX + " window=null count=0 names=null",
                        "SccAddFromScc " + CTX + " window=null count=null names=own"));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("calls")
    void theProviderSeesTheArgumentsAndTheOutputsComeBack(String what, String lines, Call call,
            Object[] outputs, long code, Object[] expected, List<String> log) {
        long handle = connect();
        for (String line : lines.split("\n")) {
            if (!line.isEmpty()) {
                script.line(line);
            }
        }
        assertEquals(code, call.run(handle, outputs), what + ": code");
        assertEquals(log, callLog.take(), what + ": provider calls");
        assertEquals(Arrays.deepToString(expected), Arrays.deepToString(outputs), what + ": outputs");
    }

    // --- Callbacks --------------------------------------------------------------------------

    @Test
    void changesArriveInOrderAndFalseStopsTheProvider() {
        long handle = connect();
        script.line("change 2 /w/a.c /w/a.c").line("change 8 /w/b.c /w/c.c").line("change 4 /w/d.c /w/d.c");
        List<String> seen = new ArrayList<>();
        long code = NativeBridge.queryChanges(handle, new String[] {"/w/a.c", "/w/b.c", "/w/d.c"},
                (name, type, latest) -> {
                    seen.add(name + " " + type + " " + latest);
                    return seen.size() < 2;
                });
        assertEquals(0L, code);
        assertEquals(List.of("/w/a.c 2 /w/a.c", "/w/b.c 8 /w/c.c"), seen);
        assertEquals(List.of("SccQueryChanges " + CTX + " count=3 names=[\"/w/a.c\",\"/w/b.c\",\"/w/d.c\"]"
                        + " callback=set callerdata=set",
                "change name=\"/w/a.c\" type=2 latest=\"/w/a.c\" -> 0",
                "change name=\"/w/b.c\" type=8 latest=\"/w/c.c\" -> 2"), callLog.take());
    }

    @Test
    void folderItemsArriveInOrderAndAThrowingReceiverStopsTheProvider() {
        long handle = connect();
        script.line("diritem 1 /w/d").line("diritem 0 /w/d/f.c").line("diritem 0 /w/d/g.c");
        List<String> seen = new ArrayList<>();
        IllegalStateException thrown = assertThrows(IllegalStateException.class,
                () -> NativeBridge.populateDirList(handle, new String[] {"/w/d"}, 3, (folder, name) -> {
                    seen.add(folder + " " + name);
                    if (!folder) {
                        throw new IllegalStateException("stop here");
                    }
                    return true;
                }));
        assertEquals("stop here", thrown.getMessage());
        assertEquals(List.of("true /w/d", "false /w/d/f.c"), seen);
        assertEquals(List.of("SccPopulateDirList " + CTX + " count=1 names=[\"/w/d\"] callback=set"
                        + " callerdata=set options=3",
                "diritem folder=1 name=\"/w/d\" -> 0", "diritem folder=0 name=\"/w/d/f.c\" -> 2"),
                callLog.take());
    }

    @Test
    void renameReportsReachTheReceiverDuringTheCallOrTheNextOne() {
        long handle = connect();
        List<String> seen = new ArrayList<>();
        assertEquals(0L, NativeBridge.setNameChangeReceiver(handle, (o, n) -> seen.add(o + ">" + n)));
        List<String> set = callLog.take();
        assertEquals(2, set.size(), set.toString());
        assertTrue(set.get(0).startsWith("SccSetOption " + CTX + " option=2 value="), set.get(0));
        assertFalse(set.get(0).endsWith("value=0"), "the user data identifies the connection");
        assertEquals("SccSetOption " + CTX + " option=4 value=set", set.get(1));

        script.line("namechange SccRename /w/a /w/b").line("namechange.thread SccRename /w/c /w/d");
        assertEquals(0L, NativeBridge.rename(handle, "/w/a", "/w/b"));
        assertTrue(seen.contains("/w/a>/w/b"), "reported on the calling thread: delivered during the call");
        script.clear();
        JavaSCCInterface._getVersion(handle);
        assertEquals(List.of("/w/a>/w/b", "/w/c>/w/d"), seen, "every report arrives by the next call");

        callLog.clear();
        assertEquals(0L, NativeBridge.setNameChangeReceiver(handle, null));
        assertEquals(List.of("SccSetOption " + CTX + " option=2 value=0",
                "SccSetOption " + CTX + " option=4 value=null"), callLog.take());
        assertEquals(NONSPECIFIC_ERROR, NativeBridge.setOption(handle, 2, 1), "user data is the bridge's");
        assertEquals(NONSPECIFIC_ERROR, NativeBridge.setOption(handle, 4, 1), "the callback is the bridge's");
        assertEquals(List.of(), callLog.take());
    }

    // --- Cancel -----------------------------------------------------------------------------

    private long connectWithTextOut() {
        long handle = connect();
        assertEquals(0L, JavaSCCInterface._openProject(handle, ProjDescriptor.standard().full()));
        JavaSCCInterface._getErrList(handle);
        callLog.clear();
        return handle;
    }

    @Test
    void cancelModeAnswersTheCancelMessagesInsteadOfCollectingThem() {
        long handle = connectWithTextOut();
        script.line("message SccGet 5 asked").line("message SccGet 6 show").line("message SccGet 7 hide")
                .line("message SccGet 1 info");
        String[] one = {"/w/a"};
        JavaSCCInterface._getFiles(handle, 1, one);
        assertEquals(List.of("5 asked", "6 show", "7 hide", "1 info"),
                Arrays.asList(JavaSCCInterface._getErrList(handle)), "cancel mode off: all collected");
        assertEquals(0L, NativeBridge.setOption(handle, 3, 1));
        JavaSCCInterface._getFiles(handle, 1, one);
        assertEquals(List.of("1 info"), Arrays.asList(JavaSCCInterface._getErrList(handle)), "cancel mode on");
        List<String> log = callLog.take();
        assertEquals("textout type=5 text=\"asked\" -> 0", log.get(log.size() - 4));
    }

    @Test
    void cancelFromAnotherThreadStopsTheRunningCallOnly() throws Exception {
        long handle = connectWithTextOut();
        assertEquals(0L, NativeBridge.setOption(handle, 3, 1));
        assertTrue(NativeBridge.cancel(handle), "no call running: nothing happens");
        script.line("cancelpoll SccGet 600000");
        CompletableFuture<Long> running = CompletableFuture.supplyAsync(
                () -> JavaSCCInterface._getFiles(handle, 1, new String[] {"/w/a"}));
        Path log = TestEnvironment.callLogPath();
        while (!new String(Files.readAllBytes(log), StandardCharsets.UTF_8).contains("SccGet ")) {
            Thread.sleep(5);
        }
        assertTrue(NativeBridge.cancel(handle));
        assertEquals(2L, running.get(120, TimeUnit.SECONDS), "SCC_I_OPERATIONCANCELED");
        List<String> lines = callLog.take();
        // The cancel may come before the provider shows its cancel control.
        String poll = lines.get(lines.size() - 1);
        assertTrue(poll.matches("cancelpoll start=(0|-1) cancelled=1 stop=-1"), poll);

        script.clear().line("cancelpoll SccGet 2");
        assertEquals(0L, JavaSCCInterface._getFiles(handle, 1, new String[] {"/w/a"}), "the next call runs on");
        lines = callLog.take();
        assertEquals("cancelpoll start=0 cancelled=0 stop=0", lines.get(lines.size() - 1));
        assertEquals(List.of(), Arrays.asList(JavaSCCInterface._getErrList(handle)));
        assertFalse(NativeBridge.cancel(0x1234L), "a handle that is not live");
    }

    // --- Missing entry points and refused arguments -------------------------------------------

    static Stream<Arguments> everyNative() {
        List<Function<Long, Long>> natives = List.of(
                h -> NativeBridge.rename(h, "a", "b"),
                h -> NativeBridge.setOption(h, 1, 1),
                h -> NativeBridge.setNameChangeReceiver(h, (o, n) -> { }),
                h -> NativeBridge.getEvents(h, new String[1], new int[2]),
                h -> NativeBridge.getExtendedCapabilities(h, 1, new boolean[1]),
                h -> NativeBridge.addFromScc(h, null, new String[1][]),
                h -> NativeBridge.getUserOption(h, 1, new int[1]),
                h -> NativeBridge.beginBatch(h),
                h -> NativeBridge.endBatch(h),
                h -> NativeBridge.createSubProject(h, new String[] {"u", "p", "n", "a", ""}),
                h -> NativeBridge.getParentProjectPath(h, new String[] {"u", "p", "a", ""}),
                h -> NativeBridge.dirQueryInfo(h, new String[] {"d"}, new int[1]),
                h -> NativeBridge.dirDiff(h, "d", 0),
                h -> NativeBridge.queryChanges(h, new String[] {"a"}, (n, t, l) -> true),
                h -> NativeBridge.populateDirList(h, new String[] {"d"}, 0, (f, n) -> true),
                h -> NativeBridge.isMultiCheckoutEnabled(h, new boolean[1]),
                h -> NativeBridge.willCreateSccFile(h, new String[] {"a"}, new boolean[1]));
        return natives.stream().map(n -> Arguments.of(natives.indexOf(n), n));
    }

    @ParameterizedTest(name = "native {0}")
    @MethodSource("everyNative")
    void aMissingEntryPointOrAHandleThatIsNotLiveGivesMinus15(int index, Function<Long, Long> call) {
        registry.provider(INIT_ONLY_KEY, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        long handle = connect(INIT_ONLY_KEY);
        assertEquals(NONSPECIFIC_ERROR, call.apply(handle), "entry point missing");
        assertEquals(NONSPECIFIC_ERROR, call.apply(0x1234L), "handle not live");
        assertEquals(List.of(), callLog.take());
    }

    static Stream<Arguments> refusedArguments() {
        ToLongFunction<Long> nullName = h -> NativeBridge.rename(h, null, "b");
        ToLongFunction<Long> nullArray = h -> NativeBridge.dirQueryInfo(h, null, new int[0]);
        ToLongFunction<Long> nullElement = h -> NativeBridge.willCreateSccFile(h, new String[] {"a", null},
                new boolean[2]);
        ToLongFunction<Long> shortWords = h -> NativeBridge.dirQueryInfo(h, new String[] {"a", "b"}, new int[1]);
        ToLongFunction<Long> shortEvents = h -> NativeBridge.getEvents(h, new String[1], new int[1]);
        ToLongFunction<Long> noParent = h -> NativeBridge.createSubProject(h, new String[] {"u", null, "n", "a", ""});
        ToLongFunction<Long> noReceiver = h -> NativeBridge.queryChanges(h, new String[] {"a"}, null);
        return Stream.of(Arguments.of("null name", nullName), Arguments.of("null array", nullArray),
                Arguments.of("null element", nullElement), Arguments.of("short status array", shortWords),
                Arguments.of("short event array", shortEvents), Arguments.of("no parent path", noParent),
                Arguments.of("no receiver", noReceiver));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("refusedArguments")
    void argumentsThatCannotBePassedAreRefusedBeforeTheProvider(String what, ToLongFunction<Long> call) {
        long handle = connect();
        assertEquals(NONSPECIFIC_ERROR, call.applyAsLong(handle), what);
        assertEquals(List.of(), callLog.take(), what);
    }

    // --- Trace ------------------------------------------------------------------------------

    @Test
    void theFirstFurtherCallTracesItsLinesAndTheFurtherCapabilityReport() throws Exception {
        script.initCaps(0x00040000L | 0x00080000L);
        long handle = connect();
        Path trace = dir.resolve("trace.log");
        JavaSCCInterface._setTracing(handle, 1, trace.toString());
        String before = Files.readString(trace, StandardCharsets.ISO_8859_1);
        assertFalse(before.contains("Missing further capability"), before);
        NativeBridge.beginBatch(handle);
        NativeBridge.endBatch(handle);
        String after = Files.readString(trace, StandardCharsets.ISO_8859_1).substring(before.length());
        List<String> lines = new ArrayList<>();
        for (String line : after.split("\n")) {
            lines.add(line.contains("SCCIH> ") ? line.substring(line.indexOf("SCCIH> ")) : line);
        }
        assertEquals(List.of("SCCIH: Missing further capability", "No SCC_CAP_CREATESUBPROJECT",
                "No SCC_CAP_GETPARENTPROJECT", "No SCC_CAP_DIRECTORYDIFF", "No SCC_CAP_MULTICHECKOUT",
                "No SCC_CAP_SCCFILE", "**********", "SCCIH> -->Begin batch", "SCCIH> <--Begin batch",
                "SCCIH> -->End batch", "SCCIH> <--End batch"), lines.subList(1, lines.size()));
    }
}
