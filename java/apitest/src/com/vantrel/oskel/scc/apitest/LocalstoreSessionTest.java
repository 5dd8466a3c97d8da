package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.PopulateResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.HashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;

/** A whole session against the real localstore provider, through the typed API. */
@Tag("localstore")
class LocalstoreSessionTest {
    private static String text(List<ProviderMessage> messages) {
        return messages.stream().map(ProviderMessage::text).collect(Collectors.joining("\n"));
    }

    private static List<Boolean> checkedOut(Project project, List<Path> files) throws SccException {
        return project.status(files).files().stream().map(FileStatus::isCheckedOut)
                .collect(Collectors.toList());
    }

    @Test
    void aFullSession() throws Exception {
        Path library = TestEnvironment.provider("localstore");
        assumeTrue(Files.exists(library), "localstore is not built: " + library);
        TestEnvironment.registerProviders(Map.of("LocalStore", library));
        Path work = TestEnvironment.newFolder("work");
        Path store = TestEnvironment.newFolder("store").resolve("store");
        Path hello = work.resolve("hello.txt");
        Path notes = work.resolve("notes.txt");
        Files.writeString(hello, "Hello.\n");
        Files.writeString(notes, "milk\n");
        List<Path> both = List.of(hello, notes);
        List<ProviderMessage> messages = new ArrayList<>();

        try (Connection connection = Scc.connect("LocalStore")) {
            connection.setMessageListener(messages::add);
            assertTrue(connection.capabilities().containsAll(Set.of(Capability.QUERYINFO,
                            Capability.DIFF, Capability.HISTORY, Capability.POPULATELIST)),
                    "capabilities " + connection.capabilities());
            ProjectLocation location = ProjectLocation.of("tester", "demo", work, store.toString());
            SccException missing = assertThrows(SccException.class,
                    () -> connection.openProject(location));
            assertEquals(SccResult.E_UNKNOWNPROJECT, missing.result().orElseThrow(),
                    missing.getMessage());
            assertTrue(missing.getMessage().contains("There is no store in " + TestEnvironment.nativeName(store)),
                    "the reason is in the message: " + missing.getMessage());
            assertFalse(Files.exists(store), "a plain open made no store");
            try (Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
                assertEquals(SccResult.OK, project.add(Comment.of("first versions"), both).result(), "add");
                List<FileStatus> added = project.status(both).files();
                assertEquals(List.of(true, true, false, false),
                        List.of(added.get(0).isControlled(), added.get(1).isControlled(),
                                added.get(0).isCheckedOut(), added.get(1).isCheckedOut()),
                        "controlled and checked out after add: " + added);

                assertEquals(SccResult.OK, project.checkout(Comment.of("greet"), hello).result(), "checkout");
                assertEquals(List.of(true, false), checkedOut(project, both),
                        "checked out after checkout");
                SccException twice = assertThrows(SccException.class,
                        () -> project.checkout(Comment.of("again"), hello));
                assertEquals(SccResult.E_ALREADYCHECKEDOUT, twice.result().orElseThrow(),
                        twice.getMessage());
                assertTrue(text(twice.messages()).contains("hello.txt"),
                        "the error message names the file: " + twice.messages());

                Files.writeString(hello, "Hello, world!\n");
                CommandResult diff = project.diff(hello);
                assertEquals(SccResult.I_FILEDIFFERS, diff.result(), "diff of the edit");
                assertTrue(diff.text().contains("+Hello, world!\n"), "diff text: " + diff);

                assertEquals(SccResult.OK, project.checkin(Comment.of("greet the world"), hello).result(),
                        "checkin");
                assertEquals(List.of(false, false), checkedOut(project, both),
                        "checked out after checkin");
                messages.clear();
                CommandResult history = project.history(hello);
                assertEquals(SccResult.OK, history.result(), "history");
                assertTrue(history.text().contains("greet the world")
                                && history.text().contains("first versions"),
                        "history names both check-ins: " + history);
                assertEquals(history.messages(), messages,
                        "the listener got the same messages as the result");

                SccException undo = assertThrows(SccException.class,
                        () -> project.uncheckout(notes));
                assertEquals(SccResult.E_NOTCHECKEDOUT, undo.result().orElseThrow(),
                        undo.getMessage());

                PopulateResult populate = project.populate(SccCommand.CHECKOUT, both);
                Set<String> sorted = new HashSet<>(populate.keep());
                sorted.addAll(populate.drop());
                assertEquals(Set.of(hello.toString(), notes.toString()), sorted,
                        "every file is in the keep or the drop list: " + populate);
            }
        }
    }
}
