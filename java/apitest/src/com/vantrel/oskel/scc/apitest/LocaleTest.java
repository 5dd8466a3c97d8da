package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccException;
import java.util.List;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * Texts the locale cannot represent are refused before they reach the library, which would hand
 * the provider an empty text or a null pointer instead. Each row holds the locale it is for;
 * run-api-tests.sh runs this class once per locale (system property oskel.test.locale).
 */
@Tag("locale")
class LocaleTest extends TestProviderBase {
    private static final String REFUSED = "refused";

    private static boolean runningIn(String locale) {
        return locale.equals(System.getProperty("oskel.test.locale"));
    }

    @ParameterizedTest(name = "{0}: project name {1}")
    @CsvSource({
        "C.UTF-8, caf\u00e9, \"caf\\xc3\\xa9\"",
        "C.UTF-8, \u65e5\u672c, \"\\xe6\\x97\\xa5\\xe6\\x9c\\xac\"",
        "C, caf\u00e9, refused",
        "C, plain, \"plain\"",
        "en_US.ISO-8859-1, caf\u00e9, \"caf\\xe9\"",
        "en_US.ISO-8859-1, \u65e5\u672c, refused"})
    void projectNamesAreSentInTheLocaleEncodingOrRefused(String locale, String name,
            String logged) throws SccException {
        assumeTrue(runningIn(locale), "row for " + locale);
        Connection connection = connect();
        if (logged.equals(REFUSED)) {
            assertThrows(IllegalArgumentException.class,
                    () -> connection.openProject(location().withProjectName(name)), name);
            assertEquals(List.of(), TestEnvironment.calls("SccOpenProject"), "provider calls");
        } else {
            Project project = connection.openProject(location().withProjectName(name));
            project.close();
            String call = TestEnvironment.calls("SccOpenProject").get(0);
            assertEquals(logged, call.replaceAll(".* project=(\"[^\"]*\").*", "$1"),
                    "project name the provider received: " + call);
        }
    }

    @Test
    void aMessageTheLocaleCannotDecodeIsMarkedUnreadable() throws SccException {
        assumeTrue(runningIn("C.UTF-8"), "bytes that are not UTF-8");
        Project project = open();
        TestEnvironment.script("message SccGet 2 \\xff\\xfe", "message SccGet 1 fine");
        received.clear();
        project.get("a.txt");
        assertEquals(List.of(new ProviderMessage(0, ProviderMessage.UNREADABLE),
                        new ProviderMessage(1, "fine")),
                List.copyOf(received), "messages");
    }
}
