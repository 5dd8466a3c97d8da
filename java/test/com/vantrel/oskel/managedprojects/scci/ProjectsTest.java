package com.vantrel.oskel.managedprojects.scci;

import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.GET_AUX_PROJ_PATH;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.GET_LOCAL_PATH;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.GET_PROJECT_NAME;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.GET_USER;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.RE_GET_LOCAL_PATH;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.SETTERS;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.SET_AUX_PROJ_PATH;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.SET_LOCAL_PATH;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.SET_PROJECT_NAME;
import static com.vantrel.oskel.managedprojects.scci.ProjDescriptor.SET_USER;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assertions.fail;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.ProviderScript;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
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
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.EnumSource;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The project natives {@code _openProject}, {@code _getProjPath}, {@code _reGetProjPath} and
 * {@code _closeProject} through the test provider: what they read from the descriptor and in which
 * order, what the provider receives, what is written back, the text limits, the trace lines at
 * every level, and how exceptions raised by the descriptor reach the caller.
 */
@Tag("projects")
class ProjectsTest extends NativeTestBase {
    private static final String INIT_ONLY_KEY = "Software\\Vantrel\\InitOnlyProjects";
    private static final String CONTEXT = CallLog.hex(DEFAULT_CONTEXT);

    /** The three natives that read a descriptor. */
    enum Op {
        OPEN("_openProject", "SccOpenProject", RE_GET_LOCAL_PATH,
                GET_USER, GET_PROJECT_NAME, GET_AUX_PROJ_PATH, RE_GET_LOCAL_PATH),
        GET_PROJ_PATH("_getProjPath", "SccGetProjPath", GET_LOCAL_PATH,
                GET_USER, GET_PROJECT_NAME, GET_LOCAL_PATH, GET_AUX_PROJ_PATH),
        RE_GET_PROJ_PATH("_reGetProjPath", "SccGetProjPath", GET_LOCAL_PATH,
                GET_USER, GET_LOCAL_PATH, GET_PROJECT_NAME, GET_AUX_PROJ_PATH);

        final String nativeName;
        final String entry;
        /** The getter the local path comes from. */
        final String localGetter;
        /** The getters in the order the native calls them. */
        final List<String> getters;

        Op(String nativeName, String entry, String localGetter, String... getters) {
            this.nativeName = nativeName;
            this.entry = entry;
            this.localGetter = localGetter;
            this.getters = List.of(getters);
        }

        /** Runs the native: path queries with allowChangePath false, allowNew true, no overrides. */
        long run(long handle, Object descriptor) {
            switch (this) {
                case OPEN:
                    return JavaSCCInterface._openProject(handle, descriptor);
                case GET_PROJ_PATH:
                    return JavaSCCInterface._getProjPath(handle, descriptor, false, true);
                default:
                    return JavaSCCInterface._reGetProjPath(handle, descriptor, null, null, false, true);
            }
        }

        List<String> getterCalls() {
            return getters.stream().map(ProjDescriptor::getterCall).collect(Collectors.toList());
        }

        /** The provider's log line for a call of {@link #run} with these texts. */
        String providerCall(String user, String project, String local, String aux) {
            String texts = " user=" + quote(user) + " project=" + quote(project) + " local="
                    + quote(local) + " aux=" + quote(aux);
            if (this == OPEN) {
                return "SccOpenProject context=" + CONTEXT + " window=null" + texts
                        + " comment=\"\" textout=set flags=1";
            }
            return "SccGetProjPath context=" + CONTEXT + " window=null" + texts
                    + " allowchangepath=0 allownew=1";
        }

        /** The provider's log line for the texts the descriptor returns. */
        String providerCall(ProjDescriptor d) {
            return providerCall(d.value(GET_USER), d.value(GET_PROJECT_NAME), d.value(localGetter),
                    d.value(GET_AUX_PROJ_PATH));
        }

        /**
         * Scripts the provider to rewrite the texts it receives (SccOpenProject cannot rewrite the
         * local path, which it receives read-only).
         */
        void scriptRewrite(ProviderScript script,
                String user, String project, String local, String aux) {
            String prefix = this == OPEN ? "openproject." : "projpath.";
            script.line(prefix + "user " + text(user));
            script.line(prefix + "project " + text(project));
            if (this != OPEN) {
                script.line(prefix + "local " + text(local));
            }
            script.line(prefix + "aux " + text(aux));
        }

        @Override
        public String toString() {
            return nativeName;
        }
    }

    private static String quote(String ascii) {
        return CallLog.quote(ascii);
    }

    private static String text(String ascii) {
        return ProviderScript.text(ascii);
    }

    /** An ASCII text of {@code length} characters that shows where it was cut. */
    static String textOfLength(char first, int length) {
        StringBuilder sb = new StringBuilder(length);
        for (int i = 0; i < length; i++) {
            sb.append(i == 0 ? first : (char) ('0' + (i % 10)));
        }
        return sb.toString();
    }

    private long connectToInitOnlyProvider() {
        registry.provider(INIT_ONLY_KEY, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        return connect(INIT_ONLY_KEY);
    }

    private static List<String> concat(List<String> a, List<String> b) {
        List<String> all = new ArrayList<>(a);
        all.addAll(b);
        return all;
    }

    // ---------------------------------------------------------------------------------------------
    // Orders, provider arguments and write-back

    static Stream<Arguments> opsAndResults() {
        return Stream.of(Op.values()).flatMap(op -> Stream.of(0L, -1L, 1L, -15L, 7L, -2147483648L,
                2147483647L).map(r -> Arguments.of(op, r)));
    }

    @ParameterizedTest(name = "{0}, provider result {1}")
    @MethodSource("opsAndResults")
    void readsInOrderCallsTheProviderOnceAndWritesBackOnlyOnSuccess(Op op, long result) {
        long handle = connect();
        script.returns(op.entry, result);
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(result, op.run(handle, d.full()), op + " result for provider result " + result);
        List<String> expected = op.getterCalls();
        if (result == 0) {
            expected = concat(expected, ProjDescriptor.writeBack(d.value(GET_PROJECT_NAME),
                    d.value(GET_AUX_PROJ_PATH), d.value(GET_USER), d.value(op.localGetter)));
        }
        assertEquals(expected, d.calls(), op + " descriptor calls for provider result " + result);
        assertEquals(List.of(op.providerCall("user", "project", op == Op.OPEN ? "relocal" : "local",
                "aux")), callLog.lines(), op + " provider calls");
    }

    @ParameterizedTest(name = "{0}, provider result {1}")
    @MethodSource("opsAndResults")
    void textsTheProviderRewritesReachTheSettersOnlyOnSuccess(Op op, long result) {
        long handle = connect();
        op.scriptRewrite(script, "U2", "P2", "L2", "A2");
        script.returns(op.entry, result);
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(result, op.run(handle, d.full()), op + " result");
        List<String> expected = op.getterCalls();
        if (result == 0) {
            // SccOpenProject receives the local path read-only: the one read is written back
            expected = concat(expected, ProjDescriptor.writeBack("P2", "A2", "U2",
                    op == Op.OPEN ? "relocal" : "L2"));
        }
        assertEquals(expected, d.calls(), op + " descriptor calls after the provider rewrote the "
                + "texts and returned " + result);
    }

    @Test
    void openProjectReadsTheLocalPathThroughReGetLocalPathOnly() {
        long handle = connect();
        ProjDescriptor d = ProjDescriptor.standard()
                .throwing(GET_LOCAL_PATH, new IllegalStateException("getLocalPath must not be called"));

        assertEquals(0L, JavaSCCInterface._openProject(handle, d.full()), "_openProject result");
        assertEquals(concat(Op.OPEN.getterCalls(),
                ProjDescriptor.writeBack("project", "aux", "user", "relocal")), d.calls(),
                "descriptor calls of _openProject");
        assertEquals(List.of(Op.OPEN.providerCall("user", "project", "relocal", "aux")),
                callLog.lines(), "SccOpenProject receives the reGetLocalPath value as local path");
    }

    @Test
    void anOrdinaryDescriptorFollowsTheProviderAcrossCalls() {
        long handle = connect();
        ProjDescriptor d = ProjDescriptor.standard();
        Object descriptor = d.full();
        script.openProject("project", "Opened").openProject("aux", "OpenedAux");
        assertEquals(0L, JavaSCCInterface._openProject(handle, descriptor), "_openProject");
        script.clear().projPath("local", "NewLocal").projPath("user", "NewUser");
        assertEquals(0L, JavaSCCInterface._getProjPath(handle, descriptor, true, true), "_getProjPath");
        script.clear();
        callLog.clear();

        assertEquals(0L, JavaSCCInterface._openProject(handle, descriptor), "second _openProject");
        assertEquals(List.of(Op.OPEN.providerCall("NewUser", "Opened", "NewLocal", "OpenedAux")),
                callLog.lines(), "the second SccOpenProject receives what the first calls wrote back");
    }

    static Stream<Arguments> flagPairs() {
        return Stream.of(Op.GET_PROJ_PATH, Op.RE_GET_PROJ_PATH).flatMap(op -> Stream.of(
                Arguments.of(op, false, false), Arguments.of(op, false, true),
                Arguments.of(op, true, false), Arguments.of(op, true, true)));
    }

    @ParameterizedTest(name = "{0} allowChangePath={1} allowNew={2}")
    @MethodSource("flagPairs")
    void pathQueriesPassBothFlagsAsTheCallerGaveThem(Op op, boolean allowChangePath, boolean allowNew) {
        long handle = connect();
        // a value the provider left in the new-project flag at the previous query is not passed on
        script.projPathAllowNew(9);
        assertEquals(0L, JavaSCCInterface._getProjPath(handle, ProjDescriptor.standard().full(),
                !allowChangePath, !allowNew), "first _getProjPath");
        callLog.clear();
        Object d = ProjDescriptor.standard().full();

        long result = op == Op.GET_PROJ_PATH
                ? JavaSCCInterface._getProjPath(handle, d, allowChangePath, allowNew)
                : JavaSCCInterface._reGetProjPath(handle, d, null, null, allowChangePath, allowNew);

        assertEquals(0L, result, op + " result");
        String flags = " allowchangepath=" + (allowChangePath ? 1 : 0) + " allownew=" + (allowNew ? 1 : 0);
        assertEquals(List.of("SccGetProjPath context=" + CONTEXT + " window=null user=\"user\""
                + " project=\"project\" local=\"local\" aux=\"aux\"" + flags), callLog.lines(),
                op + " provider call");
    }

    // ---------------------------------------------------------------------------------------------
    // Providers without the entry points, and _closeProject

    @ParameterizedTest(name = "{0}")
    @EnumSource(Op.class)
    void withoutTheEntryPointTheResultIsMinus15AndNothingIsWrittenBack(Op op) {
        long handle = connectToInitOnlyProvider();
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(NONSPECIFIC_ERROR, op.run(handle, d.full()), op + " without " + op.entry);
        assertEquals(op.getterCalls(), d.calls(), op + " descriptor calls: the getters, no setter");
        assertEquals(List.of(), callLog.lines(), "provider calls");
    }

    @Test
    void closeProjectWithoutTheEntryPointIsMinus15() {
        long handle = connectToInitOnlyProvider();

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._closeProject(handle),
                "_closeProject without SccCloseProject");
        assertEquals(List.of(), callLog.lines(), "provider calls");
    }

    @ParameterizedTest(name = "SccCloseProject returns {0}")
    @CsvSource({"0, 0", "-1, -1", "1, 1", "-15, -15", "2147483647, 2147483647",
            "-2147483648, -2147483648", "0xffffffff, -1"})
    void closeProjectCallsTheProviderWhetherOrNotAProjectIsOpen(String scripted, long expected) {
        long handle = connect();
        script.line("return SccCloseProject " + scripted);
        String call = "SccCloseProject context=" + CONTEXT;

        assertEquals(expected, JavaSCCInterface._closeProject(handle), "_closeProject with no project open");
        assertEquals(expected, JavaSCCInterface._closeProject(handle), "second _closeProject");
        script.returns("SccOpenProject", -1);
        assertEquals(-1L, JavaSCCInterface._openProject(handle, ProjDescriptor.standard().full()),
                "failed _openProject");
        assertEquals(expected, JavaSCCInterface._closeProject(handle), "_closeProject after a failed open");
        script.clear();
        assertEquals(0L, JavaSCCInterface._openProject(handle, ProjDescriptor.standard().full()),
                "_openProject");
        assertEquals(0L, JavaSCCInterface._closeProject(handle), "_closeProject after an open");
        assertEquals(0L, JavaSCCInterface._closeProject(handle), "_closeProject after a close");
        assertEquals(List.of(call, call, Op.OPEN.providerCall("user", "project", "relocal", "aux"),
                call, Op.OPEN.providerCall("user", "project", "relocal", "aux"), call, call),
                callLog.lines(), "provider calls");
    }

    @Test
    void closeProjectAfterUninitializeMakesNoProviderCall() {
        // No provider knows a context it never handed out: after _uninitialize the natives that
        // would pass one refuse with -15 instead of calling.
        long handle = connect();
        JavaSCCInterface._uninitialize(handle);
        callLog.clear();
        script.returns("SccCloseProject", -4);

        assertEquals(-15L, JavaSCCInterface._closeProject(handle), "_closeProject after _uninitialize");
        assertEquals(List.of(), callLog.lines(), "provider calls");
    }

    // ---------------------------------------------------------------------------------------------
    // Text limits: user and local path 260 bytes, project name and aux path 300 bytes

    static Stream<Arguments> descriptorLengths() {
        List<Arguments> rows = new ArrayList<>();
        for (Op op : Op.values()) {
            for (String getter : List.of(GET_USER, op.localGetter)) {
                for (int length : new int[] {0, 1, 259, 260, 261, 300, 1000}) {
                    rows.add(Arguments.of(op, getter, length, length <= 260));
                }
            }
            for (String getter : List.of(GET_PROJECT_NAME, GET_AUX_PROJ_PATH)) {
                for (int length : new int[] {0, 260, 261, 299, 300, 301, 1000}) {
                    rows.add(Arguments.of(op, getter, length, length <= 300));
                }
            }
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{0}: {1} of {2} characters, taken={3}")
    @MethodSource("descriptorLengths")
    void aDescriptorTextIsTakenWholeUpToItsLimitAndNotAtAllBeyond(Op op, String getter, int length,
            boolean taken) {
        long handle = connect();
        String value = textOfLength('V', length);
        ProjDescriptor d = ProjDescriptor.standard().value(getter, value);
        String sent = taken ? value : "";

        assertEquals(0L, op.run(handle, d.full()), op + " result");
        ProjDescriptor expected = ProjDescriptor.standard().value(getter, sent);
        assertEquals(List.of(op.providerCall(expected)), callLog.lines(), op + " with a " + getter
                + " value of " + length + " characters: the provider receives "
                + (taken ? "it whole" : "an empty text"));
        assertEquals(concat(op.getterCalls(), ProjDescriptor.writeBack(
                expected.value(GET_PROJECT_NAME), expected.value(GET_AUX_PROJ_PATH),
                expected.value(GET_USER), expected.value(op.localGetter))), d.calls(),
                op + " descriptor calls");
    }

    static Stream<Arguments> providerWrittenMaxima() {
        return Stream.of(
                Arguments.of(Op.GET_PROJ_PATH, "projpath.user", SET_USER, 260),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.local", SET_LOCAL_PATH, 260),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.project", SET_PROJECT_NAME, 300),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.aux", SET_AUX_PROJ_PATH, 300),
                Arguments.of(Op.RE_GET_PROJ_PATH, "projpath.project", SET_PROJECT_NAME, 300),
                Arguments.of(Op.RE_GET_PROJ_PATH, "projpath.aux", SET_AUX_PROJ_PATH, 300),
                Arguments.of(Op.OPEN, "openproject.user", SET_USER, 260),
                Arguments.of(Op.OPEN, "openproject.project", SET_PROJECT_NAME, 300),
                Arguments.of(Op.OPEN, "openproject.aux", SET_AUX_PROJ_PATH, 300));
    }

    @ParameterizedTest(name = "{0}: {1} of {3} characters")
    @MethodSource("providerWrittenMaxima")
    void aTextTheProviderWritesAtFullSizeReachesTheSetterWhole(Op op, String directive, String setter,
            int length) {
        long handle = connect();
        String written = textOfLength('W', length);
        script.line(directive + " " + written);
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(0L, op.run(handle, d.full()), op + " result");
        List<String> setterCalls = d.calls().stream().filter(c -> c.startsWith(setter + "("))
                .collect(Collectors.toList());
        assertEquals(List.of(ProjDescriptor.setterCall(setter, written)), setterCalls,
                op + ": " + setter + " after the provider wrote " + length + " characters");
    }

    @ParameterizedTest(name = "through {0}")
    @EnumSource(Op.class)
    void a300CharacterAuxPathFromTheProviderReachesTheNextOpenUnchanged(Op op) {
        long handle = connect();
        String aux = textOfLength('A', 300);
        String project = textOfLength('P', 300);
        script.line((op == Op.OPEN ? "openproject." : "projpath.") + "aux " + aux);
        script.line((op == Op.OPEN ? "openproject." : "projpath.") + "project " + project);
        ProjDescriptor d = ProjDescriptor.standard();
        Object descriptor = d.full();
        assertEquals(0L, op.run(handle, descriptor), op + " result");
        assertEquals(aux, d.value(GET_AUX_PROJ_PATH), "aux path written back by " + op);
        script.clear();
        callLog.clear();
        d.clearCalls();

        assertEquals(0L, JavaSCCInterface._openProject(handle, descriptor), "next _openProject");
        assertEquals(List.of(Op.OPEN.providerCall(d.value(GET_USER), project, d.value(RE_GET_LOCAL_PATH),
                aux)), callLog.lines(), "the next SccOpenProject receives the 300-character texts");
        assertEquals(concat(Op.OPEN.getterCalls(), ProjDescriptor.writeBack(project, aux,
                d.value(GET_USER), d.value(RE_GET_LOCAL_PATH))), d.calls(),
                "descriptor calls of the next _openProject");
    }

    static Stream<Arguments> providerOverruns() {
        return Stream.of(
                Arguments.of(Op.GET_PROJ_PATH, "projpath.user", SET_USER, 260),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.local", SET_LOCAL_PATH, 260),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.project", SET_PROJECT_NAME, 300),
                Arguments.of(Op.GET_PROJ_PATH, "projpath.aux", SET_AUX_PROJ_PATH, 300),
                Arguments.of(Op.OPEN, "openproject.user", SET_USER, 260),
                Arguments.of(Op.OPEN, "openproject.project", SET_PROJECT_NAME, 300),
                Arguments.of(Op.OPEN, "openproject.aux", SET_AUX_PROJ_PATH, 300));
    }

    @ParameterizedTest(name = "{0}: {1} of 1000 characters")
    @MethodSource("providerOverruns")
    void aProviderWritingBeyondTheApiSizesIsKeptToTheLimit(Op op, String directive, String setter,
            int limit) {
        long handle = connect();
        String written = textOfLength('X', 1000);
        script.line(directive + " " + written);
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(0L, op.run(handle, d.full()), op + " result");
        List<String> values = d.calls().stream().filter(c -> c.startsWith(setter + "(\""))
                .map(c -> c.substring(setter.length() + 2, c.length() - 2)).collect(Collectors.toList());
        assertEquals(1, values.size(), op + ": " + setter + " calls " + d.calls());
        String got = values.get(0);
        assertTrue(got.length() <= limit && written.startsWith(got), op + ": " + setter + " after the "
                + "provider wrote 1000 characters: expected at most " + limit + " of them, got "
                + got.length() + ": " + got);
    }

    // ---------------------------------------------------------------------------------------------
    // _reGetProjPath overrides

    static Stream<Arguments> overrides() {
        String u260 = textOfLength('U', 260);
        return Stream.of(
                Arguments.of("both null", null, null, "user", "local"),
                Arguments.of("both empty", "", "", "", ""),
                Arguments.of("user given", "ov", null, "ov", "local"),
                Arguments.of("local path given", null, "lo", "user", "lo"),
                Arguments.of("both given", "ov", "lo", "ov", "lo"),
                Arguments.of("user of 260 characters", u260, null, u260, "local"),
                Arguments.of("unconvertible user (lone surrogate)", "a\ud800b", "lo", "", "lo"),
                Arguments.of("unconvertible local path (lone surrogate)", "ov", "\udc00", "ov", ""));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("overrides")
    void reGetProjPathOverridesReplaceTheDescriptorsUserAndLocalPath(String name, String user,
            String localPath, String sentUser, String sentLocal) {
        long handle = connect();
        ProjDescriptor d = ProjDescriptor.standard();

        assertEquals(0L, JavaSCCInterface._reGetProjPath(handle, d.full(), user, localPath, false, true),
                "_reGetProjPath result");
        assertEquals(List.of(Op.RE_GET_PROJ_PATH.providerCall(sentUser, "project", sentLocal, "aux")),
                callLog.lines(), "SccGetProjPath with overrides " + name);
        assertEquals(concat(Op.RE_GET_PROJ_PATH.getterCalls(),
                ProjDescriptor.writeBack("project", "aux", sentUser, sentLocal)), d.calls(),
                "descriptor calls with overrides " + name);
    }

    @ParameterizedTest(name = "{0} characters")
    @CsvSource({"261", "300", "2000"})
    void reGetProjPathOverridesLongerThanTheLimitDoNotRunPastIt(int length) {
        long handle = connect();
        String user = textOfLength('U', length);
        String local = textOfLength('L', length);

        assertEquals(0L, JavaSCCInterface._reGetProjPath(handle, ProjDescriptor.standard().full(), user,
                local, false, true), "_reGetProjPath result");
        List<String> lines = callLog.lines();
        assertEquals(1, lines.size(), "provider calls: " + lines);
        String userSent = field(lines.get(0), "user");
        String localSent = field(lines.get(0), "local");
        assertTrue(userSent.length() <= 260 && user.startsWith(userSent)
                && localSent.length() <= 260 && local.startsWith(localSent),
                "overrides of " + length + " characters: the provider received user of "
                + userSent.length() + " and local path of " + localSent.length() + " characters");
    }

    /** The unquoted text of one field of a call log line (ASCII texts without escapes). */
    private static String field(String line, String name) {
        int start = line.indexOf(" " + name + "=\"");
        if (start < 0) {
            fail("no field " + name + " in " + line);
        }
        start += name.length() + 3;
        return line.substring(start, line.indexOf('"', start));
    }

    // ---------------------------------------------------------------------------------------------
    // Trace lines

    /** One expected trace line and the lowest level that writes it. */
    private static final class Row {
        final int level;
        final String text;

        Row(int level, String text) {
            this.level = level;
            this.text = text;
        }
    }

    private static Row row(int level, String text) {
        return new Row(level, text);
    }

    private static final List<Row> RETURN_LINES = List.of(row(3, "-->Return project path"),
            row(4, "Returning input parameter"), row(3, "<--Return project path"));
    private static final List<Row> RESET_LINES = List.of(row(3, "-->Resetting project path"),
            row(4, "Resetting input parameter"), row(3, "<--Resetting project path"));

    enum TraceCase {
        OPEN_SUCCEEDS, OPEN_FAILS, OPEN_WITHOUT_ENTRY, GET_PROJ_PATH_SUCCEEDS, GET_PROJ_PATH_FAILS,
        GET_PROJ_PATH_WITHOUT_ENTRY, RE_GET_PROJ_PATH_SUCCEEDS, CLOSE, CLOSE_WITHOUT_ENTRY
    }

    static Stream<Arguments> traceCases() {
        return Stream.of(TraceCase.values()).flatMap(c -> IntStream.rangeClosed(0, 4)
                .mapToObj(level -> Arguments.of(c, level)));
    }

    private static List<Row> pathQueryRows(String flags, String before, String after, boolean success) {
        List<Row> rows = new ArrayList<>(List.of(row(1, "-->GetProjectPath"), row(2, flags),
                row(4, before), row(2, flags), row(4, after), row(1, "<--GetProjectPath")));
        if (success) {
            rows.addAll(RESET_LINES);
            rows.addAll(RETURN_LINES);
        }
        return rows;
    }

    @ParameterizedTest(name = "{0} at level {1}")
    @MethodSource("traceCases")
    void traceLinesOfTheProjectNativesAtEachLevel(TraceCase c, int level) {
        boolean withoutEntries = c.name().endsWith("WITHOUT_ENTRY");
        long handle = withoutEntries ? connectToInitOnlyProvider() : connect();
        TraceFile trace = traceFile("projects.log");
        JavaSCCInterface._setTracing(handle, level, trace.path().toString());
        trace.delete(); // the announcement and the capability report are not this test's business
        Object d = ProjDescriptor.standard().full();
        String openDetail = "user:user\tproject name:project\tproject path:relocal\taux path:aux";
        List<Row> rows = new ArrayList<>();
        long result;
        switch (c) {
            case OPEN_SUCCEEDS:
            case OPEN_FAILS:
            case OPEN_WITHOUT_ENTRY:
                if (c == TraceCase.OPEN_FAILS) {
                    script.returns("SccOpenProject", -3);
                }
                script.openProject("project", "Changed");
                result = JavaSCCInterface._openProject(handle, d);
                rows.addAll(List.of(row(1, "-->Open Project(with parameter)"), row(2, openDetail),
                        row(1, "<--Open Project(with parameter)")));
                if (c == TraceCase.OPEN_SUCCEEDS) {
                    rows.addAll(RETURN_LINES);
                }
                break;
            case GET_PROJ_PATH_SUCCEEDS:
            case GET_PROJ_PATH_FAILS:
            case GET_PROJ_PATH_WITHOUT_ENTRY:
                if (c == TraceCase.GET_PROJ_PATH_FAILS) {
                    script.returns("SccGetProjPath", 5);
                }
                // the provider changes a text and the new-project flag; the flag line still shows
                // the value passed in, the text line what the provider left
                script.projPath("project", "Changed").projPathAllowNew(1);
                result = JavaSCCInterface._getProjPath(handle, d, true, false);
                rows.addAll(pathQueryRows("allowChangePath:1\tallowNew:0",
                        "user:user\tproject:project\tpath:local\tauxaux",
                        withoutEntries ? "user:user\tproject:project\tpath:local\tauxaux"
                                : "user:user\tproject:Changed\tpath:local\tauxaux",
                        c == TraceCase.GET_PROJ_PATH_SUCCEEDS));
                break;
            case RE_GET_PROJ_PATH_SUCCEEDS:
                script.projPath("aux", "NewAux");
                result = JavaSCCInterface._reGetProjPath(handle, d, "ov", null, false, true);
                rows.addAll(pathQueryRows("allowChangePath:0\tallowNew:1",
                        "user:ov\tproject:project\tpath:local\tauxaux",
                        "user:ov\tproject:project\tpath:local\tauxNewAux", true));
                break;
            default:
                result = JavaSCCInterface._closeProject(handle);
                rows.addAll(List.of(row(1, "-->close project"), row(1, "<--close project")));
                break;
        }
        long expectedResult = withoutEntries ? NONSPECIFIC_ERROR
                : c == TraceCase.OPEN_FAILS ? -3 : c == TraceCase.GET_PROJ_PATH_FAILS ? 5 : 0;
        assertEquals(expectedResult, result, c + " result");

        List<Line> expected = rows.stream().filter(r -> r.level <= level).map(r -> Line.stamped(r.text))
                .collect(Collectors.toList());
        List<Line> actual = trace.lines();
        assertEquals(TraceFile.render(expected), TraceFile.render(actual),
                c + ": trace lines at level " + level);
        assertEquals(expected, actual, c + ": kinds of the trace lines at level " + level);
    }

    // ---------------------------------------------------------------------------------------------
    // Exceptions raised by the descriptor

    /** The texts the provider receives when the getters in {@code empty} yield nothing. */
    private static String providerCallWithEmpty(Op op, List<String> empty) {
        ProjDescriptor e = ProjDescriptor.standard();
        for (String getter : empty) {
            e.value(getter, "");
        }
        return op.providerCall(e);
    }

    /** What the setters receive when the getters in {@code empty} yielded nothing. */
    private static List<String> writeBackWithEmpty(Op op, List<String> empty) {
        ProjDescriptor e = ProjDescriptor.standard();
        for (String getter : empty) {
            e.value(getter, "");
        }
        return ProjDescriptor.writeBack(e.value(GET_PROJECT_NAME), e.value(GET_AUX_PROJ_PATH),
                e.value(GET_USER), e.value(op.localGetter));
    }

    static Stream<Arguments> missingMethods() {
        List<Arguments> rows = new ArrayList<>();
        for (Op op : Op.values()) {
            rows.add(Arguments.of(op, "nothing", 0L));
            for (String method : ProjDescriptor.METHODS) {
                rows.add(Arguments.of(op, method, 0L));
                rows.add(Arguments.of(op, method, -2L));
            }
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{0} on a descriptor without {1}, provider result {2}")
    @MethodSource("missingMethods")
    void aMissingMethodIsSkippedAndItsNoSuchMethodErrorReachesTheCaller(Op op, String missing,
            long result) {
        long handle = connect();
        script.returns(op.entry, result);
        ProjDescriptor d = ProjDescriptor.standard();
        Object descriptor = missing.equals("nothing") ? d.without() : d.without(missing);
        boolean getterUsed = op.getters.contains(missing);
        boolean setterUsed = SETTERS.contains(missing) && result == 0;

        if (getterUsed || setterUsed) {
            NoSuchMethodError e = assertThrows(NoSuchMethodError.class, () -> op.run(handle, descriptor),
                    op + " on a descriptor without " + missing);
            assertTrue(e.getMessage() != null && e.getMessage().contains(missing),
                    "the error names the missing method " + missing + ": " + e.getMessage());
        } else {
            assertEquals(result, op.run(handle, descriptor), op + " result on a descriptor without "
                    + missing);
        }
        List<String> empty = getterUsed ? List.of(missing) : List.of();
        List<String> expected = op.getterCalls();
        if (result == 0) {
            expected = concat(expected, writeBackWithEmpty(op, empty));
        }
        String missingCall = missing + "(";
        expected = expected.stream().filter(call -> !call.startsWith(missingCall))
                .collect(Collectors.toList());
        assertEquals(expected, d.calls(), op + " descriptor calls without " + missing);
        assertEquals(List.of(providerCallWithEmpty(op, empty)), callLog.lines(),
                op + " provider call without " + missing);
    }

    static Stream<Arguments> throwingMethods() {
        List<Arguments> rows = new ArrayList<>();
        for (Op op : Op.values()) {
            for (String method : concat(op.getters, SETTERS)) {
                rows.add(Arguments.of(op, method, 0L, true));
            }
            for (String method : SETTERS) {
                rows.add(Arguments.of(op, method, -1L, false));
            }
        }
        return rows.stream();
    }

    @ParameterizedTest(name = "{0}, {1} throws, provider result {2}")
    @MethodSource("throwingMethods")
    void aThrowingMethodLetsTheRestRunAndItsExceptionReachesTheCaller(Op op, String method, long result,
            boolean thrown) {
        long handle = connect();
        script.returns(op.entry, result);
        IllegalStateException exception = new IllegalStateException(method + " throws");
        ProjDescriptor d = ProjDescriptor.standard().throwing(method, exception);

        if (thrown) {
            IllegalStateException e = assertThrows(IllegalStateException.class,
                    () -> op.run(handle, d.full()), op + " when " + method + " throws");
            assertSame(exception, e, op + ": the caller sees the exception " + method + " threw");
        } else {
            assertEquals(result, op.run(handle, d.full()), op + " result (no setter is called)");
        }
        // a getter that throws counts as one that returned null: the provider gets an empty text
        List<String> empty = op.getters.contains(method) ? List.of(method) : List.of();
        List<String> expected = op.getterCalls();
        if (result == 0) {
            expected = concat(expected, writeBackWithEmpty(op, empty));
        }
        assertEquals(expected, d.calls(), op + " descriptor calls when " + method + " throws");
        assertEquals(List.of(providerCallWithEmpty(op, empty)), callLog.lines(),
                op + " provider call when " + method + " throws");
    }

    static Stream<Arguments> severalFailures() {
        // missing methods, throwing methods, the one whose exception the caller must see
        List<Object[]> cases = List.of(
                new Object[] {List.of(), List.of(GET_AUX_PROJ_PATH, SET_PROJECT_NAME), GET_AUX_PROJ_PATH},
                new Object[] {List.of(), List.of(SET_USER, SET_AUX_PROJ_PATH), SET_AUX_PROJ_PATH},
                new Object[] {List.of(), List.of(SET_LOCAL_PATH, SET_PROJECT_NAME), SET_PROJECT_NAME},
                new Object[] {List.of(SET_LOCAL_PATH), List.of(SET_PROJECT_NAME), SET_PROJECT_NAME},
                new Object[] {List.of(SET_PROJECT_NAME), List.of(SET_LOCAL_PATH), SET_PROJECT_NAME},
                new Object[] {List.of(GET_PROJECT_NAME), List.of(GET_USER), GET_USER},
                new Object[] {List.of(SET_USER), List.of(GET_PROJECT_NAME), GET_PROJECT_NAME},
                new Object[] {List.of(GET_USER, SET_AUX_PROJ_PATH), List.of(SET_LOCAL_PATH), GET_USER});
        return Stream.of(Op.values()).flatMap(op -> cases.stream()
                .map(c -> Arguments.of(op, c[0], c[1], c[2])));
    }

    @ParameterizedTest(name = "{0}: missing {1}, throwing {2}")
    @MethodSource("severalFailures")
    void ofSeveralFailuresTheFirstReachesTheCaller(Op op, List<String> missing, List<String> throwing,
            String first) {
        long handle = connect();
        ProjDescriptor d = ProjDescriptor.standard();
        List<RuntimeException> exceptions = new ArrayList<>();
        for (String method : throwing) {
            RuntimeException e = new IllegalStateException(method + " throws");
            exceptions.add(e);
            d.throwing(method, e);
        }
        Object descriptor = d.without(missing.toArray(new String[0]));

        Throwable caught = assertThrows(Throwable.class, () -> op.run(handle, descriptor),
                op + " with missing " + missing + " and throwing " + throwing);
        if (throwing.contains(first)) {
            assertSame(exceptions.get(throwing.indexOf(first)), caught,
                    op + ": the caller sees the exception of " + first);
        } else {
            assertTrue(caught instanceof NoSuchMethodError && caught.getMessage().contains(first),
                    op + ": the caller sees the NoSuchMethodError for " + first + ", got " + caught);
        }
        List<String> empty = new ArrayList<>();
        for (String getter : op.getters) {
            if (missing.contains(getter) || throwing.contains(getter)) {
                empty.add(getter);
            }
        }
        List<String> expected = concat(op.getterCalls(), writeBackWithEmpty(op, empty)).stream()
                .filter(call -> missing.stream().noneMatch(m -> call.startsWith(m + "(")))
                .collect(Collectors.toList());
        assertEquals(expected, d.calls(), op + " descriptor calls with missing " + missing
                + " and throwing " + throwing);
        assertEquals(List.of(providerCallWithEmpty(op, empty)), callLog.lines(), op + " provider call");
    }

    @Test
    void nativesWorkNormallyAfterADescriptorException() {
        long handle = connect();
        ProjDescriptor bad = ProjDescriptor.standard();
        assertThrows(NoSuchMethodError.class, () -> JavaSCCInterface._openProject(handle,
                bad.without(SET_USER)), "_openProject without setUser");
        callLog.clear();
        ProjDescriptor good = ProjDescriptor.standard();

        assertEquals(0L, JavaSCCInterface._getProjPath(handle, good.full(), false, true), "_getProjPath");
        assertEquals(0L, JavaSCCInterface._closeProject(handle), "_closeProject");
        assertEquals(Arrays.asList(Op.GET_PROJ_PATH.providerCall(good), "SccCloseProject context=" + CONTEXT),
                callLog.lines(), "provider calls after the exception");
    }
}
