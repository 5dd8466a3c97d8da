package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.DirEntry;
import com.vantrel.oskel.scc.DirListOption;
import com.vantrel.oskel.scc.FileChange;
import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.FolderStatus;
import com.vantrel.oskel.scc.ListResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccResult;
import com.vantrel.oskel.scc.StatusEvent;
import com.vantrel.oskel.scc.StatusFlag;
import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.Consumer;
import java.util.function.IntFunction;
import picocli.CommandLine.Command;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/**
 * The subcommands of the provider's calls beyond the file commands: rename, events, folders,
 * changes in the store, adding from the store and sub-projects.
 */
final class StoreCommands {
    private StoreCommands() {}

    /** Prints a JSON document; returns the exit code of the result. */
    private static int json(Context context, Map<String, Object> document, SccResult result) {
        context.out().println(Json.write(document));
        context.out().flush();
        return Context.exitCode(result);
    }

    /**
     * Prints the outcome of a list command in the form asked for; returns its exit code. A plain
     * or porcelain list ends with the result line as the file commands print it.
     *
     * @param member the member of the JSON document that holds the entries
     * @param entry the JSON entry of the i-th item
     * @param porcelain the --porcelain record of the i-th item, names quoted by
     *     {@link Context#name}
     * @param plain prints the items in the plain form
     */
    private static int printList(Context context, ListResult<?> result, String member,
            IntFunction<Object> entry, IntFunction<String> porcelain,
            Consumer<PrintWriter> plain) {
        int count = result.items().size();
        if (context.output().json) {
            Map<String, Object> document =
                    Context.document(result.command(), result.result(), result.messages());
            List<Object> entries = new ArrayList<>();
            for (int i = 0; i < count; i++) {
                entries.add(entry.apply(i));
            }
            document.put(member, entries);
            return json(context, document, result.result());
        }
        context.printMessages(result.messages(), false);
        if (context.output().porcelain()) {
            for (int i = 0; i < count; i++) {
                context.record(porcelain.apply(i));
            }
        } else {
            plain.accept(context.out());
        }
        return context.report(new CommandResult(result.command(), result.result(), List.of()),
                false, Map.of());
    }

    /** The plain form of a list as lines, one per item. */
    private static Consumer<PrintWriter> lines(int count, IntFunction<String> line) {
        return out -> {
            for (int i = 0; i < count; i++) {
                out.println(line.apply(i));
            }
        };
    }

    /** The plain form of a list as a table under a header row. */
    private static Consumer<PrintWriter> table(String[] header, int count,
            IntFunction<String[]> row) {
        return out -> {
            String[][] rows = new String[count + 1][];
            rows[0] = header;
            for (int i = 0; i < count; i++) {
                rows[i + 1] = row.apply(i);
            }
            FileCommands.printTable(out, rows);
        };
    }

    @Command(name = "rename",
            description = {"Rename or move a file in the store (SccRename), keeping its history; "
                    + "then move the working file too when OLD exists and NEW does not.",
                "With --store-only the working file stays where it is."})
    static final class Rename extends FileCommands.ProjectCommand {
        @Parameters(index = "0", paramLabel = "OLD", description = "The file's name now.")
        String oldName;

        @Parameters(index = "1", paramLabel = "NEW", description = "Its new name.")
        String newName;

        @Option(names = "--store-only",
                description = "Rename only in the store, not the working file.")
        boolean storeOnly;

        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(List.of(oldName, newName));
            Path from = paths.get(0).toAbsolutePath().normalize();
            Path to = paths.get(1).toAbsolutePath().normalize();
            CommandResult result = project.rename(from, to);
            boolean moved = false;
            if (!storeOnly && result.isOk() && Files.exists(from) && !Files.exists(to)) {
                try {
                    if (to.getParent() != null) {
                        Files.createDirectories(to.getParent());
                    }
                    Files.move(from, to);
                    moved = true;
                } catch (IOException e) {
                    throw new ToolFailure("renamed " + from + " to " + to + " in the store, but "
                            + "could not move the working file: " + e, e);
                }
            }
            Map<String, Object> extra = new LinkedHashMap<>();
            extra.put("from", from.toString());
            extra.put("to", to.toString());
            extra.put("moved", moved);
            return context.report(result, false, extra);
        }
    }

    @Command(name = "events",
            description = {"Show the status changes the provider queues (SccGetEvents): the "
                    + "queue is switched on, FILEs are asked about once (SccQueryInfo) so that "
                    + "the provider watches them, then the queue is read.",
                "With --watch the queue is read again every half second for that many "
                        + "seconds, and events are printed as they come. Columns: file, new "
                        + "status, status word (--porcelain: file, word (0x%%08x), flags joined "
                        + "by ',').",
                "--json: one document; with --watch one JSON document per line instead "
                        + "(JSON Lines), written as it comes: {\"event\":{\"file\",\"word\","
                        + "\"valid\",\"flags\"}} for an event, {\"message\":{...}} for a "
                        + "provider message."})
    static final class Events extends FileCommands.ReadingCommand {
        @Parameters(arity = "0..*", paramLabel = "FILE", description = "Files to watch.")
        List<String> files = new ArrayList<>();

        @Option(names = "--watch", paramLabel = "SECONDS",
                description = "Keep reading the queue for this long. Default: read it once.")
        double watch;

        @Override
        int run(Context context, Project project) throws Exception {
            if (watch < 0 || Double.isNaN(watch)) {
                throw new BadArguments("--watch must be 0 or more seconds");
            }
            Connection connection = project.connection();
            connection.setEventQueue(true);
            if (!files.isEmpty()) {
                project.status(paths(files));
            }
            List<ProviderMessage> messages = new ArrayList<>(context.takeMessages());
            List<Object> entries = new ArrayList<>();
            // Watching under --json streams a line per event, so that a reader sees each as it
            // comes rather than all of them when the watch ends.
            boolean stream = context.output().json && watch > 0;
            if (stream) {
                streamMessages(context, messages);
            }
            long deadline = System.nanoTime() + (long) (watch * 1e9);
            while (true) {
                List<StatusEvent> events = connection.pollEvents();
                List<ProviderMessage> sent = context.takeMessages();
                if (stream) {
                    streamMessages(context, sent);
                    for (StatusEvent event : events) {
                        context.out().println(Json.write(Map.of("event", entry(event))));
                    }
                    context.out().flush();
                } else if (context.output().json) {
                    messages.addAll(sent);
                    for (StatusEvent event : events) {
                        entries.add(entry(event));
                    }
                } else {
                    context.printMessages(sent, false);
                    print(context, events);
                }
                if (System.nanoTime() >= deadline) {
                    break;
                }
                Thread.sleep(Math.min(500, Math.max(1,
                        (deadline - System.nanoTime()) / 1_000_000)));
            }
            if (context.output().json && !stream) {
                Map<String, Object> document = Context.document("events", SccResult.OK, messages);
                document.put("events", entries);
                return json(context, document, SccResult.OK);
            }
            return ExitCodes.OK;
        }

        private static Map<String, Object> entry(StatusEvent event) {
            Map<String, Object> entry = new LinkedHashMap<>();
            entry.put("file", event.file().toString());
            entry.put("word", event.word());
            entry.put("valid", new FileStatus(event.file().toString(), event.word()).isValid());
            entry.put("flags", flags(event));
            return entry;
        }

        private static void streamMessages(Context context, List<ProviderMessage> messages) {
            for (Object message : Context.messages(messages)) {
                context.out().println(Json.write(Map.of("message", message)));
            }
            context.out().flush();
        }

        private static List<String> flags(StatusEvent event) {
            List<String> flags = new ArrayList<>();
            for (StatusFlag flag : event.flags()) {
                flags.add(Context.lower(flag));
            }
            return flags;
        }

        private static void print(Context context, List<StatusEvent> events) {
            PrintWriter out = context.out();
            for (StatusEvent event : events) {
                FileStatus status = new FileStatus(event.file().toString(), event.word());
                if (context.output().porcelain()) {
                    context.record(FileCommands.statusLine(context.name(event.file().toString()),
                            event.word(), status.isValid(), flags(event)));
                } else {
                    out.println(event.file() + "  " + status.describe()
                            + String.format("  0x%04x", event.word()));
                }
            }
            out.flush();
        }
    }

    @Command(name = "dirstatus",
            description = {"Show the source-control status of folders (SccDirQueryInfo).",
                "Columns: the folder as given, its status, the status word (--porcelain: "
                        + "folder, word (0x%%08x), flags joined by ',' ('-' for none, "
                        + "'invalid'), tab-separated)."})
    static final class DirStatusCommand extends FileCommands.ReadingCommand {
        @Parameters(arity = "1..*", paramLabel = "DIR", description = "The folders.")
        List<String> dirs;

        @Override
        int run(Context context, Project project) throws Exception {
            ListResult<FolderStatus> result = project.dirStatus(paths(dirs));
            List<FolderStatus> items = result.items();  // one per folder, in the order given
            return printList(context, result, "dirs", i -> {
                Map<String, Object> entry = new LinkedHashMap<>();
                entry.put("dir", dirs.get(i));
                entry.put("path", items.get(i).folder());
                entry.put("word", items.get(i).word());
                entry.put("valid", items.get(i).isValid());
                entry.put("flags", flags(items.get(i)));
                return entry;
            }, i -> FileCommands.statusLine(context.name(dirs.get(i)), items.get(i).word(),
                    items.get(i).isValid(), flags(items.get(i))),
                    table(new String[] {"DIR", "STATUS", "WORD"}, items.size(),
                            i -> new String[] {dirs.get(i), items.get(i).describe(),
                                String.format("0x%04x", items.get(i).word())}));
        }

        private static List<String> flags(FolderStatus status) {
            return status.flags().stream().map(Context::lower).toList();
        }
    }

    @Command(name = "dirdiff",
            description = {"Compare a working folder with its project in the store (SccDirDiff).",
                "Prints the provider's differences; exits with 1 when the provider reports that "
                        + "they differ."})
    static final class DirDiff extends FileCommands.ReadingCommand {
        @Parameters(index = "0", paramLabel = "DIR", description = "The folder.")
        String dir;

        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(List.of(dir));
            Map<String, Object> extra = new LinkedHashMap<>();
            extra.put("dir", paths.get(0).toAbsolutePath().normalize().toString());
            return context.report(project.dirDiff(paths.get(0)), true, extra);
        }
    }

    @Command(name = "changes",
            description = {"Show how the names of files changed in the store: renamed, added, "
                    + "removed (SccQueryChanges).",
                "Columns: the file, the change, the name it has now (--porcelain: "
                        + "tab-separated, the change in lower case)."})
    static final class Changes extends FileCommands.ReadingCommand {
        @Parameters(arity = "1..*", paramLabel = "FILE", description = "The files.")
        List<String> files;

        @Override
        int run(Context context, Project project) throws Exception {
            ListResult<FileChange> result = project.queryChanges(paths(files));
            List<FileChange> items = result.items();
            // The columns of both forms: the file, the change, the name it has now.
            IntFunction<String[]> columns = i -> new String[] {items.get(i).file().toString(),
                Context.lower(items.get(i).kind()), items.get(i).latestName().toString()};
            return printList(context, result, "changes", i -> {
                String[] row = columns.apply(i);
                Map<String, Object> entry = new LinkedHashMap<>();
                entry.put("file", row[0]);
                entry.put("change", row[1]);
                entry.put("latest", row[2]);
                return entry;
            }, i -> {
                String[] row = columns.apply(i);
                return context.name(row[0]) + "\t" + row[1] + "\t" + context.name(row[2]);
            },
                    table(new String[] {"FILE", "CHANGE", "NOW"}, items.size(), columns));
        }
    }

    @Command(name = "dirlist",
            description = {"List the folders under source control below folders "
                    + "(SccPopulateDirList), with --files also the files.",
                "One line per item: 'dir' or 'file', then its path (--porcelain: "
                        + "tab-separated)."})
    static final class DirList extends FileCommands.ReadingCommand {
        @Parameters(arity = "1..*", paramLabel = "DIR", description = "The folders.")
        List<String> dirs;

        @Option(names = {"-r", "--recursive"}, description = "Every level, not only the first.")
        boolean recursive;

        @Option(names = "--files", description = "List files as well.")
        boolean includeFiles;

        @Override
        int run(Context context, Project project) throws Exception {
            EnumSet<DirListOption> options = EnumSet.noneOf(DirListOption.class);
            if (recursive) {
                options.add(DirListOption.RECURSIVE);
            }
            if (includeFiles) {
                options.add(DirListOption.INCLUDE_FILES);
            }
            ListResult<DirEntry> result = project.dirList(options, paths(dirs));
            List<DirEntry> items = result.items();
            IntFunction<String> kind = i -> items.get(i).folder() ? "dir" : "file";
            return printList(context, result, "items", i -> {
                Map<String, Object> entry = new LinkedHashMap<>();
                entry.put("path", items.get(i).path().toString());
                entry.put("folder", items.get(i).folder());
                return entry;
            }, i -> kind.apply(i) + "\t" + context.name(items.get(i).path().toString()),
                    lines(items.size(),
                            i -> String.format("%-4s  %s", kind.apply(i), items.get(i).path())));
        }
    }

    @Command(name = "addfromscc",
            description = {"Let the provider add files from the store to the project "
                    + "(SccAddFromScc), typically through its own dialog; into DIR when given "
                    + "and the provider takes a destination folder.",
                "Prints the files added, as the provider names them, one per line."})
    static final class AddFromScc extends FileCommands.ProjectCommand {
        @Parameters(index = "0", arity = "0..1", paramLabel = "DIR",
                description = "The local folder the files go to.")
        String dir;

        @Override
        int run(Context context, Project project) throws Exception {
            ListResult<String> result;
            try {
                result = dir == null ? project.addFromScc()
                                     : project.addFromScc(paths(List.of(dir)).get(0));
            } catch (UnsupportedOperationException e) {
                throw new BadArguments(e.getMessage() + "; run addfromscc without DIR");
            }
            List<String> names = result.items();
            return printList(context, result, "files", names::get, i -> context.name(names.get(i)),
                    lines(names.size(), names::get));
        }
    }

    /** Prints a project location the provider gave back; returns exit code 0. */
    private static int location(Context context, String command, ProjectLocation location,
            String label) {
        List<ProviderMessage> messages = context.takeMessages();
        PrintWriter out = context.out();
        if (context.output().json) {
            Map<String, Object> document = Context.document(command, SccResult.OK, messages);
            document.put("project", location.projectName());
            document.put("auxPath", location.auxProjPath());
            document.put("user", location.user());
            return json(context, document, SccResult.OK);
        }
        context.printMessages(messages, false);
        if (context.output().porcelain()) {
            context.record(command + "\t" + context.name(location.projectName()) + "\t"
                    + context.name(location.auxProjPath()) + "\t" + context.name(location.user()));
        } else {
            out.println(label + " " + location.projectName() + (location.auxProjPath().isEmpty()
                    ? "" : " (aux path " + location.auxProjPath() + ")"));
        }
        out.flush();
        return ExitCodes.OK;
    }

    @Command(name = "subproject",
            description = {"Create a sub-project below the project in the store "
                    + "(SccCreateSubProject) and print its project path; the provider may give "
                    + "it another name when NAME is taken.",
                "--porcelain: 'subproject', project path, aux path, user, tab-separated."})
    static final class SubProject extends FileCommands.ProjectCommand {
        @Parameters(index = "0", paramLabel = "NAME", description = "The sub-project's name.")
        String name;

        @Override
        int run(Context context, Project project) throws Exception {
            ProjectLocation created =
                    project.connection().createSubProject(project.location(), name);
            return location(context, "subproject", created, "sub-project");
        }
    }

    @Command(name = "parent",
            description = {"Print the project path of the project's parent in the store "
                    + "(SccGetParentProjectPath); a project at the top is its own parent.",
                "--porcelain: 'parent', project path, aux path, user, tab-separated."})
    static final class Parent extends FileCommands.ReadingCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            ProjectLocation parent = project.connection().parentProject(project.location());
            return location(context, "parent", parent, "parent");
        }
    }
}
