package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;

import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.MessageType;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.StatusFlag;
import java.util.Arrays;
import java.util.EnumSet;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Status words and provider messages as the provider sends them, decoded. */
@Tag("results")
class DecodingTest extends TestProviderBase {
    @ParameterizedTest(name = "status word {0}")
    @CsvSource(delimiter = '|', value = {
        "0      | ''                                       | not controlled",
        "0x1    | CONTROLLED                               | controlled",
        "0x3    | CONTROLLED CHECKEDOUT                    | controlled, checkedout",
        "0x1803 | CONTROLLED CHECKEDOUT MODIFIED OUTBYUSER | controlled, checkedout, modified, outbyuser",
        "0x2024 | OUTOTHER OUTOFDATE NOMERGE               | outother, outofdate, nomerge",
        "-1     | ''                                       | invalid",
        "0x4000 | ''                                       | unknown bits 0x4000"})
    void statusWordsAreDecoded(String word, String flags, String description) throws SccException {
        Project project = open();
        TestEnvironment.script("status 0 " + word, "status 1 0x1");
        List<FileStatus> statuses = project.status("one.txt", "two.txt").files();
        int expectedWord = Integer.decode(word);
        EnumSet<StatusFlag> expectedFlags = EnumSet.noneOf(StatusFlag.class);
        if (!flags.isEmpty()) {
            Arrays.stream(flags.split(" ")).map(StatusFlag::valueOf).forEach(expectedFlags::add);
        }
        FileStatus first = statuses.get(0);
        assertEquals(List.of(absolute("one.txt"), expectedWord, expectedFlags, description,
                        expectedWord != -1),
                List.of(first.file(), first.word(), first.flags(), first.describe(),
                        first.isValid()),
                "file, word, flags, description and validity of " + word);
        assertEquals(new FileStatus(absolute("two.txt"), 1), statuses.get(1), "the second file");
    }

    @Test
    void aStatusQueryOfNoFilesIsEmpty() throws SccException {
        assertEquals(List.of(), open().status(new String[0]).files(), "statuses of no files");
    }

    @Test
    void messagesArriveTypedAndInOrder() throws SccException {
        Project project = open();
        TestEnvironment.script(
                "message SccHistory 1 version 3 by pat",
                "message SccHistory 2 the store is old",
                "message SccHistory 3 cannot read version 2",
                "message SccHistory 4 a status line",
                "message SccHistory 5 \\tindented document line",
                "message SccHistory 9 a type of its own",
                "message SccHistory -3 negative type",
                "message SccHistory 1 ",
                "message.null SccHistory 1");
        received.clear();
        project.history("a.txt");
        assertEquals(List.of(
                        "INFO 1 version 3 by pat",
                        "WARNING 2 the store is old",
                        "ERROR 3 cannot read version 2",
                        "STATUS 4 a status line",
                        "DOCUMENT 5 \tindented document line",
                        "OTHER 9 a type of its own",
                        "OTHER -3 negative type",
                        "INFO 1 "),
                received.stream().map(m -> m.type() + " " + m.typeNumber() + " " + m.text())
                        .collect(Collectors.toList()),
                "messages received (null texts are not collected)");
        assertEquals("warning: the store is old", received.get(1).toString(), "message as text");
        assertEquals(MessageType.OTHER, new ProviderMessage(0, "x").type(), "type 0");
    }

    @Test
    void eachCallGetsOnlyItsOwnMessages() throws SccException {
        Project project = open();
        TestEnvironment.script("message SccGet 1 from get", "message SccUncheckout 1 from undo");
        received.clear();
        project.get("a.txt");
        List<ProviderMessage> afterGet = List.copyOf(received);
        received.clear();
        project.uncheckout("a.txt");
        assertEquals(List.of(List.of(new ProviderMessage(1, "from get")),
                        List.of(new ProviderMessage(1, "from undo"))),
                List.of(afterGet, List.copyOf(received)), "messages of each call");
    }
}
