package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.PopulateResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.function.UnaryOperator;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;

/** Opening, querying and closing projects, and what the file commands hand the provider. */
@Tag("projects")
class ProjectTest extends TestProviderBase {
    @ParameterizedTest(name = "{0} opens with flags={1}")
    @CsvSource({"EXISTING, 0", "CREATE_IF_NEW, 1"})
    void theProviderSTextsAreWrittenBackAndOnlyACreatingOpenMayCreate(OpenMode mode, int flags)
            throws SccException {
        TestEnvironment.script("openproject.user corrected", "openproject.project renamed",
                "openproject.aux /stores/apitest");
        Project project = connect().openProject(location(), mode);
        assertEquals(new ProjectLocation("corrected", "renamed", "/work/apitest", "/stores/apitest"),
                project.location(), "location after the provider changed its texts");
        assertEquals(List.of("SccOpenProject context=0x5cc0c0de window=null user=\"tester\" "
                        + "project=\"apitest\" local=\"/work/apitest\" aux=\"aux\" comment=\"\" "
                        + "textout=set flags=" + flags),
                TestEnvironment.calls("SccOpenProject"), "the open call");
        project.close();
    }

    @Test
    void thePathQueryGivesTheProviderSChoice() throws SccException {
        Connection connection = connect();
        TestEnvironment.script("projpath.project chosen", "projpath.aux /stores/chosen");
        assertEquals(Optional.of(location().withProjectName("chosen").withAuxProjPath("/stores/chosen")),
                connection.queryProjectPath(location(), true, false), "choice of the provider");
        TestEnvironment.script("projpath.project chosen", "return SccGetProjPath 2");
        assertEquals(Optional.empty(), connection.queryProjectPath(location(), true, true),
                "a cancelled query");
        TestEnvironment.clearCalls();
        TestEnvironment.script();
        connection.queryProjectPath(location(), "override", null, false, true);
        assertEquals(List.of("SccGetProjPath context=0x5cc0c0de window=null user=\"override\" "
                        + "project=\"apitest\" local=\"/work/apitest\" aux=\"aux\" "
                        + "allowchangepath=0 allownew=1"),
                TestEnvironment.calls("SccGetProjPath"), "a query with another user");
    }

    static Stream<Arguments> textLimits() {
        String e = "\u00e9"; // two bytes in UTF-8
        return Stream.of(
            Arguments.of("user 260", (UnaryOperator<ProjectLocation>) l -> l.withUser("u".repeat(260)), true),
            Arguments.of("user 261", (UnaryOperator<ProjectLocation>) l -> l.withUser("u".repeat(261)), false),
            Arguments.of("project 300", (UnaryOperator<ProjectLocation>) l -> l.withProjectName("p".repeat(300)), true),
            Arguments.of("project 301", (UnaryOperator<ProjectLocation>) l -> l.withProjectName("p".repeat(301)), false),
            Arguments.of("project 150 two-byte", (UnaryOperator<ProjectLocation>) l -> l.withProjectName(e.repeat(150)), true),
            Arguments.of("project 151 two-byte", (UnaryOperator<ProjectLocation>) l -> l.withProjectName(e.repeat(151)), false),
            Arguments.of("local 260", (UnaryOperator<ProjectLocation>) l -> l.withLocalPath("/" + "l".repeat(259)), true),
            Arguments.of("local 261", (UnaryOperator<ProjectLocation>) l -> l.withLocalPath("/" + "l".repeat(260)), false),
            Arguments.of("aux 300", (UnaryOperator<ProjectLocation>) l -> l.withAuxProjPath("a".repeat(300)), true),
            Arguments.of("aux 301", (UnaryOperator<ProjectLocation>) l -> l.withAuxProjPath("a".repeat(301)), false),
            Arguments.of("NUL in the user", (UnaryOperator<ProjectLocation>) l -> l.withUser("a\0b"), false),
            Arguments.of("lone surrogate", (UnaryOperator<ProjectLocation>) l -> l.withProjectName("x\ud800"), false));
    }

    @ParameterizedTest(name = "{0}: accepted {2}")
    @MethodSource("textLimits")
    void projectTextsOverTheirLimitAreRefusedBeforeTheProviderSeesThem(String what,
            UnaryOperator<ProjectLocation> change, boolean accepted) throws SccException {
        Connection connection = connect();
        ProjectLocation location = change.apply(location());
        if (accepted) {
            Project project = connection.openProject(location);
            project.close();
            assertEquals(location, project.location(), "texts handed back whole for " + what);
        } else {
            assertThrows(IllegalArgumentException.class, () -> connection.openProject(location),
                    what);
            assertEquals(List.of(), TestEnvironment.calls("SccOpenProject"),
                    "provider calls for a refused " + what);
        }
    }

    @Test
    void fileNamesThatCannotBeConvertedAreRefused() throws SccException {
        Project project = open();
        TestEnvironment.clearCalls();
        assertThrows(IllegalArgumentException.class,
                () -> project.checkout(Comment.of("good.txt"), "bad\0.txt"), "NUL");
        assertThrows(IllegalArgumentException.class, () -> project.diff("x\udc00.txt"),
                "lone surrogate");
        assertThrows(IllegalArgumentException.class,
                () -> project.checkin(Comment.of("comment \ud800"), "a.txt"), "comment");
        assertEquals(List.of(), TestEnvironment.calls(), "provider calls");
    }

    interface Command {
        Object run(Project project) throws SccException;
    }

    static Stream<Arguments> arguments() {
        String a = absolute("a.txt");
        String b = absolute("b.txt");
        return Stream.of(
            Arguments.of((Command) p -> p.checkout(Comment.of("why"), List.of(Path.of("a.txt"), Path.of("sub/../b.txt"))),
                    "SccCheckout context=0x5cc0c0de window=null count=2 names=[" + TestEnvironment.logged(a)
                            + "," + TestEnvironment.logged(b) + "] comment=\"why\" flags=0 options=0x0"),
            Arguments.of((Command) p -> p.checkout("rel/a.txt"),
                    "SccCheckout context=0x5cc0c0de window=null count=1 names=[" + TestEnvironment.logged(absolute("rel/a.txt")) + "] comment=null flags=0 options=0x0"),
            Arguments.of((Command) p -> p.add(Comment.of("first"), "a", "b"),
                    "SccAdd context=0x5cc0c0de window=null count=2 names=[" + TestEnvironment.logged(absolute("a")) + "," + TestEnvironment.logged(absolute("b")) + "] comment=\"first\" flags=[0,0] options=0x0"),
            Arguments.of((Command) p -> p.checkin(Comment.of("c"), Path.of("a.txt"), Path.of("b.txt")),
                    "SccCheckin context=0x5cc0c0de window=null count=2 names=[" + TestEnvironment.logged(a)
                            + "," + TestEnvironment.logged(b) + "] comment=\"c\" flags=0 options=0x0"),
            Arguments.of((Command) p -> p.uncheckout(Path.of("a.txt")),
                    "SccUncheckout context=0x5cc0c0de window=null count=1 names=[" + TestEnvironment.logged(a)
                            + "] flags=0 options=0x0"),
            Arguments.of((Command) p -> p.status(List.of(Path.of("a.txt"))),
                    "SccQueryInfo context=0x5cc0c0de count=1 names=[" + TestEnvironment.logged(a) + "] status=[0]"),
            Arguments.of((Command) p -> p.get(new String[0]),
                    "SccGet context=0x5cc0c0de window=null count=0 names=[] flags=0 options=0x0"),
            Arguments.of((Command) p -> p.history("a", "b", "c"),
                    "SccHistory context=0x5cc0c0de window=null count=3 names=[" + TestEnvironment.logged(absolute("a")) + "," + TestEnvironment.logged(absolute("b")) + "," + TestEnvironment.logged(absolute("c")) + "] flags=0 options=0x0"),
            Arguments.of((Command) p -> p.diff(Path.of("a.txt")),
                    "SccDiff context=0x5cc0c0de window=null name=" + TestEnvironment.logged(a) + " flags=0 options=0x0"),
            Arguments.of((Command) p -> p.properties("a.txt"),
                    "SccProperties context=0x5cc0c0de window=null name=" + TestEnvironment.logged(absolute("a.txt")) + ""),
            Arguments.of((Command) p -> p.runScc("a.txt"),
                    "SccRunScc context=0x5cc0c0de window=null count=1 names=[" + TestEnvironment.logged(absolute("a.txt")) + "]"),
            Arguments.of((Command) p -> p.remove(Comment.of("obsolete"), "gone.txt"),
                    "SccRemove context=0x5cc0c0de window=null count=1 names=[" + TestEnvironment.logged(absolute("gone.txt")) + "] comment=\"obsolete\" flags=0 options=0x0"));
    }

    @ParameterizedTest(name = "{1}")
    @MethodSource("arguments")
    void commandsHandTheProviderTheirFiles(Command command, String expected) throws SccException {
        Project project = open();
        TestEnvironment.clearCalls();
        command.run(project);
        assertEquals(List.of(expected), TestEnvironment.calls(), "the provider call");
    }

    @Test
    void statusLinesReachTheProgressListenerWhileTheProviderWorks() throws SccException {
        Project project = open();
        List<String> events = new ArrayList<>();
        project.connection().setProgressListener(line -> events.add("progress " + line));
        project.connection().setMessageListener(message -> events.add("message " + message));
        TestEnvironment.script("message SccGet 4 step 1", "message SccGet 1 done",
                "message SccGet 4 step 2");
        CommandResult result = project.get("a.txt");
        assertEquals(List.of("progress step 1", "progress step 2", "message status: step 1",
                        "message info: done", "message status: step 2"),
                events, "progress during the call, messages after it");
        assertEquals("done\n", result.text(), "the command's text leaves the status lines out");
    }

    @Test
    void populateListsComeBackInReportOrder() throws SccException {
        Project project = open();
        TestEnvironment.script("populate 1 a.txt", "populate 0 b.txt", "populate 7 c.txt",
                "populate 1 a.txt", "return SccPopulateList 4");
        PopulateResult result = project.populate(SccCommand.CHECKIN, "a.txt", "b.txt", "c.txt");
        assertEquals(new PopulateResult(SccResult.I_FILENOTAFFECTED,
                        List.of("a.txt", "c.txt", "a.txt"), List.of("b.txt"), List.of()),
                result, "result, keep and drop lists");
        assertTrue(TestEnvironment.calls("SccPopulateList").get(0).contains("command=2 count=3"),
                "command number and count: " + TestEnvironment.calls("SccPopulateList"));
    }

    @Test
    void commandOptionsGoBackToTheProvider() throws SccException {
        Project project = open();
        Connection connection = project.connection();
        TestEnvironment.script("options.store 1 0x1234", "return SccGetCommandOptions 1");
        assertEquals(SccResult.I_ADV_SUPPORT, connection.commandOptions(SccCommand.CHECKOUT),
                "result of the options call");
        assertTrue(connection.hasAdvancedOptions(SccCommand.CHECKOUT), "advanced options");
        TestEnvironment.script();
        assertFalse(connection.hasAdvancedOptions(SccCommand.CHECKOUT), "no advanced options");
        TestEnvironment.clearCalls();
        project.checkout("a");
        project.checkin("a");
        assertEquals(List.of("options=0x1234", "options=0x0"),
                TestEnvironment.calls().stream().map(l -> l.substring(l.lastIndexOf(' ') + 1))
                        .collect(Collectors.toList()),
                "option blocks of check-out and check-in");
    }

    @Test
    void aConnectionHasOneOpenProjectAtATime() throws SccException {
        Project project = open();
        Connection connection = project.connection();
        assertThrows(IllegalStateException.class, () -> connection.openProject(location()),
                "a second open");
        project.close();
        project.close();
        assertFalse(project.isOpen(), "isOpen after close");
        assertThrows(IllegalStateException.class, () -> project.get("a"), "a command after close");
        Project again = connection.openProject(location());
        assertEquals(Optional.of(again), connection.project(), "the open project");
        TestEnvironment.clearCalls();
        connection.close();
        assertEquals(List.of("SccCloseProject", "SccUninitialize"),
                TestEnvironment.calls().stream().map(l -> l.split(" ")[0])
                        .collect(Collectors.toList()),
                "closing the connection closes its project first");
        assertFalse(again.isOpen(), "project of a closed connection");
        again.close();
        assertEquals(1, TestEnvironment.calls("SccCloseProject").size(), "close calls");
    }

    @Test
    void theTraceLogFollowsTheConnection() throws SccException {
        Project project = open();
        Path trace = TestEnvironment.newFolder("trace").resolve("trace.log");
        project.connection().setTracing(4, trace);
        project.checkout("a.txt");
        project.connection().stopTracing();
        project.checkin("a.txt");
        String log = TestEnvironment.read(trace);
        assertTrue(log.contains("SCCIH> -->checking out") && log.contains("On Files:" + absolute("a.txt") + "\t")
                        && !log.contains("checking in"),
                "trace log:\n" + log);
        assertThrows(IllegalArgumentException.class,
                () -> project.connection().setTracing(-1, trace), "negative level");
    }
}
