package com.vantrel.oskel.scc.examples;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccConnectException;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccProviderNotFoundException;
import com.vantrel.oskel.scc.SccResult;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * Puts a file under source control with the provider registered as "LocalStore", changes it and
 * shows its history: connect, create the project, add, check out, check in, history; and what
 * each kind of failure looks like.
 *
 * <pre>
 *   java -cp localstore-example.jar:oskelsccih-scc.jar \
 *       com.vantrel.oskel.scc.examples.LocalstoreExample WORK_FOLDER STORE_FOLDER [REGISTRY_FILE]
 * </pre>
 *
 * <p>Exits with 0 on success, 1 when the provider reported an error, 3 when the provider is not
 * installed, 4 when it did not start.
 */
public final class LocalstoreExample {
    private LocalstoreExample() {}

    public static void main(String[] args) throws IOException {
        if (args.length < 2 || args.length > 3) {
            System.err.println("usage: LocalstoreExample WORK_FOLDER STORE_FOLDER [REGISTRY_FILE]");
            System.exit(2);
        }
        Path work = Files.createDirectories(Path.of(args[0]));
        String store = args[1];
        if (args.length == 3) {
            Scc.useRegistryFile(Path.of(args[2])); // Linux: the registry file to read
        }
        Path notes = work.resolve("notes.txt");
        Files.writeString(notes, "milk\n");

        try (Connection connection = Scc.connect("LocalStore")) {
            connection.setProgressListener(line -> System.err.println("  ... " + line));
            System.out.println("connected to " + connection.providerName());
            ProjectLocation location = ProjectLocation.of("example", "example", work, store);
            // A plain open never creates: a mistyped store folder is an error, not a new store.
            try (Project project = connection.openProject(location, OpenMode.CREATE_IF_NEW)) {
                System.out.println("add: " + project.add(Comment.of("a shopping list"), notes).result());
                System.out.println("checkout: " + project.checkout(Comment.of("more to buy"), notes).result());
                Files.writeString(notes, "milk\nbread\n");
                CommandResult diff = project.diff(notes);
                System.out.print("diff: " + diff.result() + "\n" + diff.text());
                System.out.println("checkin: " + project.checkin(Comment.of("bread too"), notes).result());
                System.out.print("history:\n" + project.history(notes).text());
                try {
                    project.checkin(Comment.of("nothing to check in"), notes);
                } catch (SccException e) {
                    // The message says it all: command, SCC code and name, the provider's reason.
                    System.out.println("expected failure: " + e.getMessage());
                    if (e.result().orElse(null) != SccResult.E_NOTCHECKEDOUT) {
                        throw e;
                    }
                }
            }
        } catch (SccProviderNotFoundException e) {
            System.err.println("LocalStore is not installed: " + e.getMessage());
            System.exit(3);
        } catch (SccConnectException e) {
            // Names the registry file and its state, the provider library and the loader's
            // error, or the host program and why it did not start.
            System.err.println("LocalStore did not start: " + e.getMessage());
            System.exit(4);
        } catch (SccException e) {
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        }
    }
}
