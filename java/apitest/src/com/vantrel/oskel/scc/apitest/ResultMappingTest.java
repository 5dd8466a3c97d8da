package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.nio.file.Path;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;

/** SCC result codes become named results or exceptions that carry the provider's messages. */
@Tag("results")
class ResultMappingTest extends TestProviderBase {
    @ParameterizedTest(name = "checkout returning {0}: {1}, thrown {2}")
    @CsvSource({
        "0, SCC_OK, false",
        "2, SCC_I_OPERATIONCANCELED, false",
        "6, SCC_I_FILEDIFFERS, false",
        "7, SCC_I_SHARESUBPROJOK, false",
        "-1, SCC_E_INITIALIZEFAILED, true",
        "-5, SCC_E_ALREADYCHECKEDOUT, true",
        "-15, SCC_E_NONSPECIFICERROR, true",
        "-30, SCC_E_UNKNOWNERROR, true",
        "-31, SCC result -31, true",
        "8, SCC result 8, true",
        "2147483647, SCC result 2147483647, true",
        "-2147483648, SCC result -2147483648, true"})
    void codesMapToNamedResultsOrExceptions(int code, String name, boolean thrown)
            throws SccException {
        Project project = open();
        TestEnvironment.script("return SccCheckout " + code,
                "message SccCheckout 3 a.txt is locked by pat",
                "message SccCheckout 2 second message");
        List<ProviderMessage> expected = List.of(new ProviderMessage(3, "a.txt is locked by pat"),
                new ProviderMessage(2, "second message"));
        received.clear();
        if (thrown) {
            SccException e = assertThrows(SccException.class,
                    () -> project.checkout(Comment.of("c"), "a.txt"));
            assertEquals(List.of(code, name, "checkout", expected),
                    List.of(e.code(), e.sccName(), e.operation(), e.messages()),
                    "code, SCC name, operation and messages of the exception");
            assertEquals("checkout: " + name + " (" + code + "): a.txt is locked by pat; second "
                    + "message", e.getMessage(), "exception text");
        } else {
            CommandResult result = project.checkout(Comment.of("c"), "a.txt");
            assertEquals(List.of(name, expected), List.of(result.result().sccName(),
                    result.messages()), "result and messages of code " + code);
        }
        assertEquals(expected, received, "messages delivered to the listener");
    }

    /** One API call and the entry point it makes. */
    interface Step {
        void run(Fixture fixture) throws SccException;
    }

    /** The connection and project a step works on, made when first asked for. */
    final class Fixture {
        private Connection connection;
        private Project project;

        Connection connection() throws SccException {
            if (connection == null) {
                connection = connect();
            }
            return connection;
        }

        Project project() throws SccException {
            if (project == null) {
                project = connection().openProject(location());
            }
            return project;
        }
    }

    static Stream<Arguments> operations() {
        Path file = Path.of("f.txt");
        return Stream.of(
            Arguments.of("SccOpenProject", "open project",
                    (Step) f -> f.connection().openProject(location())),
            Arguments.of("SccGetProjPath", "query project path",
                    (Step) f -> f.connection().queryProjectPath(location(), false, true)),
            Arguments.of("SccGet", "get", (Step) f -> f.project().get(List.of(file))),
            Arguments.of("SccCheckout", "checkout",
                    (Step) f -> f.project().checkout(Comment.of("c"), List.of(file))),
            Arguments.of("SccCheckin", "checkin", (Step) f -> f.project().checkin(Comment.of("c"), List.of(file))),
            Arguments.of("SccUncheckout", "uncheckout", (Step) f -> f.project().uncheckout(List.of(file))),
            Arguments.of("SccAdd", "add", (Step) f -> f.project().add(List.of(file))),
            Arguments.of("SccRemove", "remove", (Step) f -> f.project().remove(Comment.of("c"), List.of(file))),
            Arguments.of("SccHistory", "history", (Step) f -> f.project().history(List.of(file))),
            Arguments.of("SccDiff", "diff", (Step) f -> f.project().diff(file)),
            Arguments.of("SccProperties", "properties", (Step) f -> f.project().properties(file)),
            Arguments.of("SccRunScc", "run", (Step) f -> f.project().runScc(List.of(file))),
            Arguments.of("SccPopulateList", "populate checkin",
                    (Step) f -> f.project().populate(SccCommand.CHECKIN, List.of(file))),
            Arguments.of("SccGetCommandOptions", "command options history",
                    (Step) f -> f.connection().commandOptions(SccCommand.HISTORY)),
            Arguments.of("SccGetCommandOptions", "check options diff",
                    (Step) f -> f.connection().hasAdvancedOptions(SccCommand.DIFF)),
            Arguments.of("SccCloseProject", "close project", (Step) f -> f.project().close()),
            Arguments.of("SccUninitialize", "disconnect", (Step) f -> f.connection().close()));
    }

    @ParameterizedTest(name = "{1} ({0})")
    @MethodSource("operations")
    void everyOperationReportsItsFailureWithItsMessages(String entry, String operation, Step step)
            throws SccException {
        Fixture fixture = new Fixture();
        // The callback for messages is installed by the first SccOpenProject.
        fixture.project();
        if (entry.equals("SccOpenProject")) {
            fixture.project().close();
        }
        TestEnvironment.script("return " + entry + " -7", "message " + entry + " 3 " + entry
                + " refused");
        SccException e = assertThrows(SccException.class, () -> step.run(fixture));
        assertEquals(List.of(-7, operation, List.of(new ProviderMessage(3, entry + " refused"))),
                List.of(e.code(), e.operation(), e.messages()),
                "code, operation and messages of the failure of " + entry);
    }

    @Test
    void aProviderWithoutTheEntryPointGivesNonspecificError() throws SccException {
        TestEnvironment.registerProviders(java.util.Map.of("Init Only",
                TestEnvironment.provider("testprovider_initonly")));
        try (Connection connection = com.vantrel.oskel.scc.Scc.connect("Init Only")) {
            SccException e = assertThrows(SccException.class,
                    () -> connection.openProject(location()));
            assertEquals(SccResult.E_NONSPECIFICERROR, e.result().orElseThrow(),
                    "open project without SccOpenProject");
            assertEquals(0, connection.version(), "version without SccGetVersion");
        }
    }

    @Test
    void withoutTheFurtherEntryPointsNothingIsClaimedAndNoBatchIsLeftOpen() throws Exception {
        TestEnvironment.registerProviders(java.util.Map.of("Init Only",
                TestEnvironment.provider("testprovider_initonly")));
        Connection closed;
        try (Connection connection = com.vantrel.oskel.scc.Scc.connect("Init Only")) {
            closed = connection;
            assertEquals(List.of(java.util.Set.of(), false, false),
                    List.of(connection.extendedCapabilities(),
                            connection.has(com.vantrel.oskel.scc.ExtendedCapability.QUERYCHANGES),
                            connection.sharesSubProjects()),
                    "extended capabilities and sub-project sharing of a provider that lacks them");
            for (int attempt = 0; attempt < 2; attempt++) {
                SccException e = assertThrows(SccException.class, connection::beginBatch,
                        "begin batch, attempt " + attempt);
                assertEquals(-15, e.code(), "a failed begin opens no batch: " + e.getMessage());
            }
            assertEquals(-15, assertThrows(SccException.class, connection::pollEvents).code(),
                    "events without SccGetEvents");
            assertTrue(connection.cancel(), "cancel on a live connection");
        }
        assertEquals(false, closed.cancel(), "cancel on a closed connection");
    }
}
