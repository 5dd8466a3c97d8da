package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.scc.Batch;
import com.vantrel.oskel.scc.ChangeKind;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.DirEntry;
import com.vantrel.oskel.scc.DirListOption;
import com.vantrel.oskel.scc.FileChange;
import com.vantrel.oskel.scc.NameChange;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.StatusEvent;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.List;
import java.util.Optional;
import java.util.Set;
import java.util.concurrent.CompletableFuture;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The provider's further calls against the scriptable test provider: what each API call hands
 * the provider, in which order, and how the provider's answers come back.
 */
@Tag("projects")
class FurtherCallsTest extends TestProviderBase {
    /** One API call on an open project. */
    interface Step {
        void run(Project project) throws Exception;
    }

    /** The call log without the context values, which the rows need not repeat. */
    private static List<String> logged() {
        return TestEnvironment.calls().stream()
                .map(line -> line.replaceFirst(" context=0x[0-9a-f]+", ""))
                .collect(Collectors.toList());
    }

    static Stream<Arguments> calls() {
        String a = absolute("a.txt");
        return Stream.of(
            Arguments.of("rename paths", (Step) p -> p.rename(Path.of("a.txt"), Path.of("d/../b.txt")),
                List.of("SccRename window=null name=\"" + a + "\" newname=\"" + absolute("b.txt") + "\"")),
            Arguments.of("rename texts, relative to the project folder", (Step) p -> p.rename("a.txt", "d/../b.txt"),
                List.of("SccRename window=null name=\"" + a + "\" newname=\"" + absolute("b.txt") + "\"")),
            Arguments.of("event queue", (Step) p -> p.connection().setEventQueue(false),
                List.of("SccSetOption option=1 value=0")),
            Arguments.of("cancel mode", (Step) p -> p.connection().setCancelMode(true),
                List.of("SccSetOption option=3 value=1")),
            Arguments.of("check-out only", (Step) p -> p.connection().setCheckoutOnly(true),
                List.of("SccSetOption option=5 value=1")),
            Arguments.of("folder list options", (Step) p -> p.dirList(
                        EnumSet.of(DirListOption.INCLUDE_FILES, DirListOption.RECURSIVE), "d"),
                List.of("SccPopulateDirList count=1 names=[\"" + absolute("d") + "\"] callback=set callerdata=set options=3")),
            Arguments.of("folder diff", (Step) p -> p.dirDiff("d"),
                List.of("SccDirDiff window=null name=\"" + absolute("d") + "\" flags=0 options=0x0")),
            Arguments.of("add from the store into a folder", (Step) p -> p.addFromScc(Path.of("d")),
                List.of("SccSetOption option=6 value=0",
                        "SccAddFromScc window=null count=1 names=[\"" + absolute("d") + "\"]",
                        "SccAddFromScc window=null count=null names=own")),
            Arguments.of("sub-project", (Step) p -> p.connection().createSubProject(
                        new ProjectLocation("u", "$/p", "/w", "aux"), "sub"),
                List.of("SccCreateSubProject window=null user=\"u\" parent=\"$/p\" name=\"sub\" "
                        + "aux=\"aux\" subpath=\"\"")),
            Arguments.of("a second batch does not reach the provider", (Step) p -> {
                    try (Batch batch = p.connection().beginBatch()) {
                        assertThrows(IllegalStateException.class, p.connection()::beginBatch);
                        assertTrue(batch.isOpen(), "the first batch stays open");
                    }
                },
                List.of("SccBeginBatch", "SccEndBatch")));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("calls")
    void whatTheProviderIsHanded(String name, Step step, List<String> expected) throws Exception {
        TestEnvironment.script("return SccSetOption 7", "addfromscc x.txt");
        Project project = open();
        TestEnvironment.clearCalls();
        step.run(project);
        assertEquals(expected, logged(), "calls of " + name);
    }

    @Test
    void answersComeBackTyped() throws Exception {
        Project project = open();
        TestEnvironment.script("event 0x3 0 /w/a.txt", "change 8 /w/a.txt /w/b.txt",
                "change 42 /w/c.txt /w/c.txt", "diritem 1 /w/d", "diritem 0 /w/d/e.txt",
                "multicheckout 1", "excap 5 1", "excap 11 1", "outpath.path $/p",
                "outpath.aux aux2");
        Connection connection = project.connection();
        assertEquals(Optional.of(StatusEvent.of(Path.of("/w/a.txt"), 3)), connection.pollEvent(),
                "an event");
        assertEquals(List.of(new FileChange(Path.of("/w/a.txt"), ChangeKind.RENAMED_TO,
                                Path.of("/w/b.txt")),
                        new FileChange(Path.of("/w/c.txt"), ChangeKind.UNKNOWN, Path.of("/w/c.txt"))),
                project.queryChanges("a.txt").items(), "changes, an unknown number as UNKNOWN");
        assertEquals(List.of(new DirEntry(Path.of("/w/d"), true),
                        new DirEntry(Path.of("/w/d/e.txt"), false)),
                project.dirList(Set.of(), "d").items(), "folder list");
        assertEquals(List.of(true, EnumSet.of(com.vantrel.oskel.scc.ExtendedCapability.QUERYCHANGES,
                                com.vantrel.oskel.scc.ExtendedCapability.RENAME_CHECKEDOUT),
                        new ProjectLocation("tester", "$/p", "/w", "aux2")),
                List.of(project.isMultiCheckoutEnabled(), connection.extendedCapabilities(),
                        connection.parentProject(new ProjectLocation("tester", "$/p/s", "/w", "aux"))),
                "multi-checkout, extended capabilities, parent");
    }

    @Test
    void renamesReachTheListenerAfterTheCallOrTheNextOne() throws Exception {
        Project project = open();
        List<NameChange> renames = new ArrayList<>();
        project.connection().setNameChangeListener(renames::add);
        TestEnvironment.script("namechange SccGet /w/a /w/b", "namechange.thread SccGet /w/c /w/d");
        project.get("a");
        assertEquals(List.of(new NameChange(Path.of("/w/a"), Path.of("/w/b"))), renames,
                "the rename reported on the calling thread, after the call");
        project.status("a");
        assertEquals(List.of(new NameChange(Path.of("/w/a"), Path.of("/w/b")),
                        new NameChange(Path.of("/w/c"), Path.of("/w/d"))),
                renames, "the one from the provider's own thread, after the next call");
        project.connection().setNameChangeListener(null);
        assertTrue(TestEnvironment.calls("SccSetOption").get(
                        TestEnvironment.calls("SccSetOption").size() - 1).endsWith("option=4 value=null"),
                "removing the listener removes the callback: " + TestEnvironment.calls("SccSetOption"));
    }

    @Test
    void aCommandIsCancelledFromAnotherThreadAndTheNextIsNot() throws Exception {
        Project project = open();
        Connection connection = project.connection();
        connection.setCancelMode(true);
        TestEnvironment.script("cancelpoll SccGet 100000");
        CompletableFuture<CommandResult> get = CompletableFuture.supplyAsync(() -> {
            try {
                return project.get("a.txt");
            } catch (Exception e) {
                throw new IllegalStateException(e);
            }
        });
        while (!get.isDone()) {
            connection.cancel();
            Thread.onSpinWait();
        }
        assertTrue(get.join().isCancelled(), "the get was cancelled: " + get.join());
        TestEnvironment.script("cancelpoll SccGet 3");
        assertEquals(false, project.get("a.txt").isCancelled(), "the next get runs to its end");
    }

    @Test
    void closingTheConnectionEndsItsBatchBeforeTheProject() throws Exception {
        Project project = open();
        Batch batch = project.connection().beginBatch();
        project.connection().close();
        assertEquals(List.of("SccEndBatch", "SccCloseProject", "SccUninitialize"),
                logged().stream().filter(l -> !l.startsWith("SccBeginBatch")
                        && !l.startsWith("SccInitialize") && !l.startsWith("SccOpenProject"))
                        .map(l -> l.split(" ")[0]).collect(Collectors.toList()),
                "calls at the close");
        assertEquals(false, batch.isOpen(), "the batch ended");
    }
}
