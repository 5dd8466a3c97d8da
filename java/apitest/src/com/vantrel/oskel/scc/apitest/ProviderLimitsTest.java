package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.SccException;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/**
 * What providers written elsewhere say about themselves and do: a status query they refuse, and
 * the comment lengths they take.
 */
@Tag("projects")
class ProviderLimitsTest extends TestProviderBase {
    @ParameterizedTest(name = "caps {0}, SccQueryInfo returns {1}")
    @CsvSource({
        "0x00, -14, -14, does not support status queries",
        "0x00, -15, -14, does not support status queries",
        "0x80, -14, -14, SCC_E_OPNOTSUPPORTED",
        "0x80, -6, -6, SCC_E_FILEISLOCKED",
    })
    void aFailedStatusIsThrownNeverReadAsNotControlled(String caps, int returned, int thrown,
            String said) throws Exception {
        TestEnvironment.script("init.caps " + caps, "return SccQueryInfo " + returned,
                "status * 0");
        Project project = open();
        SccException e = assertThrows(SccException.class, () -> project.status("a.txt"));
        assertEquals(thrown, e.code());
        assertTrue(e.getMessage().contains(said), e.getMessage());
    }

    private List<String> comments(String entry) {
        return TestEnvironment.calls(entry).stream()
                .map(line -> line.replaceAll(".* comment=(\\S+).*", "$1")).collect(Collectors.toList());
    }

    @Test
    void commentsLongerThanTheProviderTakesAreRefusedAndNoneIsPassedWhereItTakesNone()
            throws Exception {
        TestEnvironment.script("init.checkoutcommentlen 0", "init.commentlen 4");
        Project project = open();
        assertEquals(List.of(0, 4), List.of(project.connection().checkoutCommentLimit(),
                project.connection().commentLimit()));
        TestEnvironment.clearCalls();

        project.checkout(Comment.of("why"), "a.txt");
        // 4 bytes in UTF-8; in the Windows code page 1252 (under wine) 3, and the refused one 5
        boolean windows = TestEnvironment.windows();
        project.checkin(Comment.of("äbc"), "a.txt");
        String tooLong = windows ? "äbcde" : "äbcd";
        IllegalArgumentException refused =
                assertThrows(IllegalArgumentException.class, () -> project.add(Comment.of(tooLong), "b.txt"));
        assertTrue(refused.getMessage().contains("the limit is 4"), refused.getMessage());

        assertEquals(List.of("null"), comments("SccCheckout"), "a provider taking no comment");
        assertEquals(List.of(windows ? "\"\\xe4bc\"" : "\"\\xc3\\xa4bc\""), comments("SccCheckin"));
        assertEquals(List.of(), TestEnvironment.calls("SccAdd"), "nothing reached the provider");
    }
}
