package com.vantrel.oskel.scc.examples;

import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccException;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;

/**
 * Puts a file under source control with the provider registered as "LocalStore", changes it and
 * shows its history: connect, open a project, add, check out, check in, history.
 *
 * <pre>
 *   java -cp localstore-example.jar:oskelsccih-scc.jar \
 *       com.vantrel.oskel.scc.examples.LocalstoreExample WORK_FOLDER STORE_FOLDER
 * </pre>
 */
public final class LocalstoreExample {
    private LocalstoreExample() {}

    public static void main(String[] args) throws IOException {
        if (args.length != 2) {
            System.err.println("usage: LocalstoreExample WORK_FOLDER STORE_FOLDER");
            System.exit(2);
        }
        Path work = Files.createDirectories(Path.of(args[0]));
        String store = args[1];
        Path notes = work.resolve("notes.txt");
        Files.writeString(notes, "milk\n");

        try (Connection connection = Scc.connect("LocalStore")) {
            // What the provider says while it works: history entries, warnings, errors.
            connection.setMessageListener(message -> System.out.println("  " + message.text()));
            System.out.println("connected to " + connection.providerName());
            try (Project project = connection.openProject(
                    ProjectLocation.of("example", "example", work, store))) {
                System.out.println("add: " + project.add(List.of(notes), "a shopping list"));
                System.out.println("checkout: " + project.checkout(List.of(notes), "more to buy"));
                Files.writeString(notes, "milk\nbread\n");
                System.out.println("checkin: " + project.checkin(List.of(notes), "bread too"));
                System.out.println("history:");
                project.history(List.of(notes));
            }
        } catch (SccException e) {
            System.err.println("failed: " + e.getMessage());
            System.exit(1);
        }
    }
}
