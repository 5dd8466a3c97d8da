package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import com.vantrel.oskel.managedprojects.scci.testing.TraceLines;
import java.util.ArrayList;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The command option slots: {@code _getCommandOptions} lets the provider fill the slot of one
 * command, the file command of that number passes it back, {@code _checkCommandOptions} asks
 * without a slot.
 */
@Tag("commands")
class CommandOptionsTest extends NativeTestBase {
    private static final long TWO_TO_32 = 1L << 32;
    private static final String[] ONE_NAME = {"a.java"};
    private static final String INIT_ONLY_KEY = "Software\\Vantrel\\InitOnly";

    /** A distinct, pointer-sized value for the slot of command k. */
    private static long slotValue(int k) {
        return 0x7f0012340000L + 0x10L * k + 1;
    }

    /** The two natives of this group. */
    enum OptionsNative {
        GET("_getCommandOptions", "Get command option", "Getting command option: "),
        CHECK("_checkCommandOptions", "Check command option", "Checking command option: ");

        final String nativeName;
        final String traceText;
        final String detailLabel;

        OptionsNative(String nativeName, String traceText, String detailLabel) {
            this.nativeName = nativeName;
            this.traceText = traceText;
            this.detailLabel = detailLabel;
        }

        long run(long handle, long command) {
            return this == GET ? JavaSCCInterface._getCommandOptions(handle, command)
                    : JavaSCCInterface._checkCommandOptions(handle, command);
        }

        List<Line> expectedTrace(int level, long command) {
            List<Line> lines = new ArrayList<>();
            if (level >= 1) {
                lines.add(Line.stamped("-->" + traceText));
                if (level >= 3) {
                    lines.add(Line.stamped(detailLabel + command));
                }
                lines.add(Line.stamped("<--" + traceText));
            }
            return lines;
        }

        @Override
        public String toString() {
            return nativeName;
        }
    }

    private static String optionsCall(long command, String options) {
        return "SccGetCommandOptions context=" + CallLog.hex(DEFAULT_CONTEXT) + " window=null command=" + command
                + " options=" + options;
    }

    /** Runs every file command once on one name and returns what the provider logged. */
    private List<String> runEveryCommand(long handle) {
        callLog.clear();
        for (CmdFileCommand cmd : CmdFileCommand.values()) {
            cmd.run(handle, ONE_NAME, "c");
        }
        return callLog.take();
    }

    /** The calls {@link #runEveryCommand} must log when the slots hold {@code slots}. */
    private static List<String> everyCommandExpected(long context, long[] slots) {
        List<String> lines = new ArrayList<>();
        for (CmdFileCommand cmd : CmdFileCommand.values()) {
            long value = cmd.slot == CmdFileCommand.NO_SLOT ? 0 : slots[cmd.slot];
            lines.add(cmd.expectedCall(context, List.of(ONE_NAME[0]), "c", value));
        }
        return lines;
    }

    private static String render(List<String> lines) {
        return String.join("\n", lines);
    }

    private void assertSlots(long handle, long[] slots, String what) {
        assertEquals(render(everyCommandExpected(DEFAULT_CONTEXT, slots)), render(runEveryCommand(handle)),
                "provider calls of the eleven file commands " + what);
    }

    private long connectToInitOnlyProvider() {
        registry.provider(INIT_ONLY_KEY, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        return connect(INIT_ONLY_KEY);
    }

    // --- _getCommandOptions fills one slot --------------------------------------------------

    @ParameterizedTest(name = "command {0}")
    @ValueSource(ints = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9})
    void filledSlotReachesOnlyTheCommandOfThatNumber(int command) {
        long handle = connect();
        long[] slots = new long[10];
        assertSlots(handle, slots, "before any _getCommandOptions (every slot null)");
        script.optionsStore(command, slotValue(command));

        assertEquals(0L, JavaSCCInterface._getCommandOptions(handle, command), "_getCommandOptions(" + command + ")");
        assertEquals(List.of(optionsCall(command, "0x0")), callLog.take(),
                "provider calls of _getCommandOptions(" + command + ")");

        slots[command] = slotValue(command);
        assertSlots(handle, slots, "after the provider filled slot " + command);
    }

    @Test
    void everyCommandPassesTheSlotOfItsOwnNumber() {
        long handle = connect();
        long[] slots = new long[10];
        for (int k = 0; k < 10; k++) {
            script.optionsStore(k, slotValue(k));
            slots[k] = slotValue(k);
        }
        for (int k = 0; k < 10; k++) {
            assertEquals(0L, JavaSCCInterface._getCommandOptions(handle, k), "_getCommandOptions(" + k + ")");
        }
        callLog.clear();

        assertSlots(handle, slots, "with all ten slots filled (properties, query info and run pass none)");
    }

    @Test
    void providerFindsThePreviousValueAndMayReplaceIt() {
        long handle = connect();
        long first = slotValue(1);
        long second = 0x5eed5eedL;
        script.optionsStore(1, first);
        JavaSCCInterface._getCommandOptions(handle, 1);
        callLog.clear();

        script.clear().optionsStore(1, second);
        JavaSCCInterface._getCommandOptions(handle, 1);
        assertEquals(List.of(optionsCall(1, CallLog.hex(first))), callLog.take(),
                "second _getCommandOptions(1): the slot's value on entry");

        script.clear();
        JavaSCCInterface._getCommandOptions(handle, 1);
        assertEquals(List.of(optionsCall(1, CallLog.hex(second))), callLog.take(),
                "third _getCommandOptions(1), provider storing nothing: the slot's value on entry");

        long[] slots = new long[10];
        slots[1] = second;
        assertSlots(handle, slots, "after the provider replaced slot 1 and then left it");
    }

    @ParameterizedTest(name = "code {0}")
    @ValueSource(longs = {-11, 6})
    void valueStoredBeforeAnErrorStays(long code) {
        long handle = connect();
        script.optionsStore(2, slotValue(2)).returns("SccGetCommandOptions", code);

        assertEquals(code, JavaSCCInterface._getCommandOptions(handle, 2), "_getCommandOptions(2) returning " + code);

        long[] slots = new long[10];
        slots[2] = slotValue(2);
        assertSlots(handle, slots, "after the provider stored slot 2 and returned " + code);
    }

    @Test
    void commandBeyond32BitsIsCutToItsLow32Bits() {
        long handle = connect();
        script.optionsStore(3, slotValue(3));

        assertEquals(0L, JavaSCCInterface._getCommandOptions(handle, TWO_TO_32 + 3), "_getCommandOptions(2^32 + 3)");
        assertEquals(List.of(optionsCall(3, "0x0")), callLog.take(), "provider calls of _getCommandOptions(2^32 + 3)");

        long[] slots = new long[10];
        slots[3] = slotValue(3);
        assertSlots(handle, slots, "after _getCommandOptions(2^32 + 3)");
    }

    @ParameterizedTest(name = "command {0}")
    @ValueSource(longs = {-1, 10, 11, 100, Integer.MAX_VALUE, Integer.MIN_VALUE, 0xffffffffL, (1L << 32) + 10})
    void getCommandOptionsRefusesACommandOutside0To9(long command) {
        long handle = connect();
        script.line("options.store * 0x777");

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getCommandOptions(handle, command),
                "_getCommandOptions(" + command + ")");
        assertEquals(List.of(), callLog.lines(), "provider calls of _getCommandOptions(" + command + ")");
        assertSlots(handle, new long[10], "after _getCommandOptions(" + command + ")");
    }

    // --- _checkCommandOptions ----------------------------------------------------------------

    @ParameterizedTest(name = "command {0}")
    @ValueSource(longs = {0, 1, 7, 9, 10, 100, Integer.MAX_VALUE, (1L << 32) + 1})
    void checkCommandOptionsPassesANullSlotPointerAndLeavesTheSlots(long command) {
        long handle = connect();
        script.optionsStore(1, slotValue(1));
        JavaSCCInterface._getCommandOptions(handle, 1);
        callLog.clear();
        script.clear().line("options.store * 0x777");

        assertEquals(0L, JavaSCCInterface._checkCommandOptions(handle, command), "_checkCommandOptions(" + command + ")");
        assertEquals(List.of(optionsCall((int) command, "null")), callLog.take(),
                "provider calls of _checkCommandOptions(" + command + ")");

        long[] slots = new long[10];
        slots[1] = slotValue(1);
        assertSlots(handle, slots, "after _checkCommandOptions(" + command + ")");
    }

    @Test
    void checkCommandOptionsPassesANegativeCommandToTheProvider() {
        long handle = connect();

        assertEquals(0L, JavaSCCInterface._checkCommandOptions(handle, -1), "_checkCommandOptions(-1)");

        List<String> log = callLog.lines();
        Matcher m = Pattern.compile("SccGetCommandOptions context=0x5cc0c0de window=null command=(-?\\d+) options=null")
                .matcher(log.size() == 1 ? log.get(0) : "");
        assertTrue(m.matches() && (int) Long.parseLong(m.group(1)) == -1,
                "provider calls of _checkCommandOptions(-1): expected one call with the command -1, got " + log);
    }

    static Stream<Arguments> codes() {
        List<Arguments> cases = new ArrayList<>();
        for (OptionsNative n : OptionsNative.values()) {
            for (long code : new long[] {-11, 6, -1, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
                cases.add(Arguments.of(n, code));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0} returning {1}")
    @MethodSource("codes")
    void providerCodePassesThrough(OptionsNative n, long code) {
        long handle = connect();
        script.returns("SccGetCommandOptions", code);

        assertEquals(code, n.run(handle, 4), n + "(4) when SccGetCommandOptions returns " + code);
        assertEquals(1, callLog.linesOf("SccGetCommandOptions").size(), "calls of SccGetCommandOptions");
    }

    // --- Trace output and a missing entry point ---------------------------------------------

    static Stream<Arguments> traceCases() {
        List<Arguments> cases = new ArrayList<>();
        long[][] commands = {{0, 7}, {1, 7}, {1, 12}, {0, 0}};
        for (long[] c : commands) {
            for (int level = 0; level <= 4; level++) {
                cases.add(Arguments.of(OptionsNative.values()[(int) c[0]], c[1], level));
            }
        }
        return cases.stream();
    }

    @ParameterizedTest(name = "{0}({1}) at level {2}")
    @MethodSource("traceCases")
    void traceLinesFollowTheLevel(OptionsNative n, long command, int level) {
        long handle = connect();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, level, trace.path().toString());

        n.run(handle, command);

        if (level < 1) {
            assertFalse(trace.exists(), n + " at level " + level + " created the trace file");
            return;
        }
        List<Line> expected = new ArrayList<>(TraceLines.tracingStart(trace.path().toString(), level, 0));
        expected.addAll(n.expectedTrace(level, command));
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()), n + "(" + command + ") at level " + level);
    }

    @ParameterizedTest(name = "{0}")
    @EnumSource(OptionsNative.class)
    void missingEntryPointGivesMinus15AndStillTraces(OptionsNative n) {
        long handle = connectToInitOnlyProvider();
        TraceFile trace = traceFile("trace.log");
        JavaSCCInterface._setTracing(handle, 3, trace.path().toString());

        assertEquals(NONSPECIFIC_ERROR, n.run(handle, 1), n + "(1) without SccGetCommandOptions");

        assertEquals(List.of(), callLog.lines(), "provider calls");
        List<Line> expected = new ArrayList<>(TraceLines.tracingStart(trace.path().toString(), 3, 0));
        expected.addAll(n.expectedTrace(3, 1));
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                n + "(1) at level 3 without SccGetCommandOptions");
    }

    // --- Ownership ----------------------------------------------------------------------------

    @Test
    void slotsBelongToOneInterfaceObject() {
        long first = connect();
        long second = connect();
        script.optionsStore(1, slotValue(1));
        JavaSCCInterface._getCommandOptions(first, 1);

        long[] slots = new long[10];
        assertSlots(second, slots, "on a second handle after the first filled slot 1");
        slots[1] = slotValue(1);
        assertSlots(first, slots, "on the handle that filled slot 1");
    }

    @Test
    void fileCommandsAfterUninitializeMakeNoProviderCall() {
        long handle = connect();
        script.optionsStore(2, slotValue(2));
        JavaSCCInterface._getCommandOptions(handle, 2);
        JavaSCCInterface._uninitialize(handle);

        assertEquals(List.of(), runEveryCommand(handle),
                "provider calls of the eleven file commands after _uninitialize (the context is gone)");
    }
}
