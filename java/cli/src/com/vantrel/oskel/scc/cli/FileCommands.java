package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Comment;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.PopulateResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccResult;
import com.vantrel.oskel.scc.StatusFlag;
import com.vantrel.oskel.scc.StatusResult;
import java.io.IOException;
import java.io.PrintWriter;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** The subcommands that run one file command in a project. */
final class FileCommands {
    private FileCommands() {}

    /** A command that works in a project that exists: connection and project options. */
    abstract static class ProjectCommand extends ToolCommand {
        @Mixin
        ConnectionOptions connectionOptions;
        @Mixin
        ProjectOptions projectOptions;

        /** Whether the command may create the project (--create). */
        boolean create() {
            return false;
        }

        /** Whether the command binds its working folder, and so reads no parent's binding. */
        boolean binds() {
            return false;
        }

        @Override
        final int run(Context context) throws Exception {
            context.use(connectionOptions, projectOptions, create());
            if (binds()) {
                context.bindingOfTheFolderOnly();
            }
            Project project = context.project();
            return context.command(() -> run(context, project));
        }

        abstract int run(Context context, Project project) throws Exception;
    }

    /** A command that changes the store: it may create the project with --create. */
    abstract static class ChangingCommand extends ProjectCommand {
        @Option(names = "--create",
                description = "Create the project when it does not exist yet (without it, a "
                        + "project that does not exist is an error).")
        boolean create;

        @Override
        boolean create() {
            return create;
        }
    }

    /** A command over a list of files. */
    abstract static class ListCommand extends ChangingCommand {
        @Parameters(arity = "1..*", paramLabel = "FILE", description = "The files.")
        List<String> files;
    }

    /** A command over a list of files with a comment. */
    abstract static class CommentCommand extends ListCommand {
        @Option(names = {"-m", "--comment"}, paramLabel = "TEXT",
                description = "The comment the provider records.")
        String comment;
    }

    /** A command that reads only: it never creates anything. */
    abstract static class ReadingCommand extends ProjectCommand {
    }

    /** A reading command on one file, whose output is the provider's text. */
    abstract static class SingleFileCommand extends ReadingCommand {
        @Parameters(index = "0", paramLabel = "FILE", description = "The file.")
        String file;
    }

    static Map<String, Object> files(List<Path> paths) {
        Map<String, Object> extra = new LinkedHashMap<>();
        extra.put("files", paths.stream().map(p -> p.toAbsolutePath().normalize().toString())
                .collect(Collectors.toList()));
        return extra;
    }

    @Command(name = "init",
            description = {"Create the project (SccOpenProject with SCC_OP_CREATEIFNEW), or open "
                    + "it when it exists, and bind the working folder to it: the provider, the "
                    + "project and its aux path are written to " + Binding.FILE + " in the "
                    + "working folder (-l DIR, else the current folder), replacing a binding "
                    + "there.",
                "A binding of a parent folder is not used: init in a subfolder of a bound "
                        + "folder binds the subfolder, with the options given. Every later "
                        + "command run in that folder or below it finds the binding by "
                        + "walking up from the current folder (from -l DIR when given) and "
                        + "uses it for the options it is not given: --provider/--key, "
                        + "--project and --aux-path; the folder holding the binding is the "
                        + "working folder (-l). Options given on the command line win, then "
                        + "the binding, then $SCC_PROVIDER, $SCC_PROJECT and $SCC_AUX_PATH. "
                        + "The user (-u) is not recorded. Remove the .scc folder to unbind."})
    static final class Init extends ProjectCommand {
        @Override
        boolean create() {
            return true;
        }

        @Override
        boolean binds() {
            return true;
        }

        @Override
        int run(Context context, Project project) throws Exception {
            ProjectLocation location = project.location();
            ConnectionOptions chosen = context.connectionOptions();
            String key = chosen.chosenKey;
            String name = chosen.chosenName;
            if (key == null && name == null) {
                key = project.connection().providerKey().orElse(null); // the default provider
            }
            Path folder = location.localPath().isEmpty() ? Paths.get("").toAbsolutePath()
                                                         : Paths.get(location.localPath());
            Binding binding = new Binding(folder, name, key, location.projectName(),
                    location.auxProjPath());
            binding.write();
            context.note("bound " + folder + " to project " + location.projectName() + " in "
                    + folder.resolve(Binding.FILE));
            if (context.output().json) {
                Map<String, Object> document = new LinkedHashMap<>();
                document.put("command", "init");
                document.put("result", SccResult.OK.sccName());
                document.put("code", 0);
                document.put("project", location.projectName());
                document.put("localPath", location.localPath());
                document.put("auxPath", location.auxProjPath());
                document.put("user", location.user());
                document.put("binding", folder.resolve(Binding.FILE).toString());
                context.out().println(Json.write(document));
            } else if (context.output().porcelain()) {
                context.record("init\t" + context.name(location.projectName()) + "\t"
                        + context.name(location.localPath()) + "\t"
                        + context.name(location.auxProjPath()));
            } else {
                context.out().println("project " + location.projectName() + " in "
                        + location.localPath() + (location.auxProjPath().isEmpty() ? ""
                                : " (aux path " + location.auxProjPath() + ")"));
            }
            return ExitCodes.OK;
        }
    }

    @Command(name = "get", description = "Get the latest versions of files (SccGet).")
    static final class Get extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report(project.get(paths), false, files(paths));
        }
    }

    @Command(name = "checkout", description = "Check files out for editing (SccCheckout).")
    static final class Checkout extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report((comment == null ? project.checkout(paths) : project.checkout(Comment.of(comment), paths)), false, files(paths));
        }
    }

    @Command(name = "checkin",
            description = "Check changed files in as new versions (SccCheckin).")
    static final class Checkin extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report((comment == null ? project.checkin(paths) : project.checkin(Comment.of(comment), paths)), false, files(paths));
        }
    }

    @Command(name = "uncheckout",
            description = "Undo the check-out of files, dropping their changes (SccUncheckout).")
    static final class Uncheckout extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report(project.uncheckout(paths), false, files(paths));
        }
    }

    @Command(name = "add", description = "Put files under source control (SccAdd).")
    static final class Add extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report((comment == null ? project.add(paths) : project.add(Comment.of(comment), paths)), false, files(paths));
        }
    }

    @Command(name = "remove", description = "Remove files from source control (SccRemove).")
    static final class Remove extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report((comment == null ? project.remove(paths) : project.remove(Comment.of(comment), paths)), false, files(paths));
        }
    }

    @Command(name = "diff",
            description = {"Compare a working file with its controlled version (SccDiff).",
                "Prints the provider's differences; exits with 1 when the provider reports that "
                        + "the file differs."})
    static final class Diff extends SingleFileCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(List.of(file));
            return context.report(project.diff(paths.get(0)), true, files(paths));
        }
    }

    @Command(name = "history",
            description = "Show the history of files (SccHistory): the provider's text.")
    static final class History extends ReadingCommand {
        @Parameters(arity = "1..*", paramLabel = "FILE", description = "The files.")
        List<String> files;

        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report(project.history(paths), true, files(paths));
        }
    }

    @Command(name = "properties",
            description = "Show the properties of a file (SccProperties): the provider's text.")
    static final class Properties extends SingleFileCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(List.of(file));
            return context.report(project.properties(paths.get(0)), true, files(paths));
        }
    }

    @Command(name = "run",
            description = "Let the provider open its own user interface on files (SccRunScc).")
    static final class Run extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            return context.report(project.runScc(paths), false, files(paths));
        }
    }

    @Command(name = "status",
            description = {"Show the source-control status of files (SccQueryInfo); without "
                    + "FILE, of the files in the current folder (not its subfolders).",
                "Columns: the file as given, the status flags, the provider's status word. "
                        + "--porcelain: file, word (0x%%08x), flags joined by ',' ('-' for none, "
                        + "'invalid'), tab-separated."})
    static final class Status extends ReadingCommand {
        @Parameters(arity = "0..*", paramLabel = "FILE",
                description = "The files. Default: the files of the current folder.")
        List<String> files = new ArrayList<>();

        @Override
        int run(Context context, Project project) throws Exception {
            if (files.isEmpty()) {
                files = folderFiles(context);
            }
            List<Path> paths = paths(files);
            // A folder without files asks the provider nothing.
            StatusResult result = paths.isEmpty() ? null : project.status(paths);
            List<ProviderMessage> messages = result == null ? List.of() : result.messages();
            PrintWriter out = context.out();
            if (context.output().json) {
                Map<String, Object> document =
                        Context.document("status", SccResult.OK, messages);
                List<Object> entries = new ArrayList<>();
                for (int i = 0; i < files.size(); i++) {
                    FileStatus status = result.get(i);
                    Map<String, Object> entry = new LinkedHashMap<>();
                    entry.put("file", files.get(i));
                    entry.put("path", status.file());
                    entry.put("word", status.word());
                    entry.put("valid", status.isValid());
                    entry.put("flags", flags(status));
                    entries.add(entry);
                }
                document.put("files", entries);
                out.println(Json.write(document));
                out.flush();
                return ExitCodes.OK;
            }
            context.printMessages(messages, false);
            if (context.output().porcelain()) {
                for (int i = 0; i < files.size(); i++) {
                    FileStatus status = result.get(i);
                    context.record(statusLine(context.name(files.get(i)), status.word(),
                            status.isValid(), flags(status)));
                }
            } else {
                String[][] rows = new String[files.size() + 1][];
                rows[0] = new String[] {"FILE", "STATUS", "WORD"};
                for (int i = 0; i < files.size(); i++) {
                    FileStatus status = result.get(i);
                    rows[i + 1] = new String[] {files.get(i), status.describe(),
                        String.format("0x%04x", status.word())};
                }
                printTable(out, rows);
            }
            out.flush();
            return ExitCodes.OK;
        }

        /**
         * The names of the files in the current folder, sorted; a name the locale cannot
         * decode is left out with a warning, since it would name another file.
         */
        private static List<String> folderFiles(Context context) throws ToolFailure {
            Path folder = Paths.get("").toAbsolutePath();
            List<String> names = new ArrayList<>();
            try (Stream<Path> entries = Files.list(folder)) {
                for (Path entry : (Iterable<Path>) entries::iterator) {
                    String name = entry.getFileName().toString();
                    if (Files.isDirectory(entry, LinkOption.NOFOLLOW_LINKS)) {
                        continue;
                    } else if (name.indexOf(Arguments.REPLACEMENT) >= 0) {
                        context.err().println("warning: left out a name that does not decode "
                                + "in the locale's encoding, or holds U+FFFD: "
                                + Arguments.show(name));
                    } else {
                        names.add(name);
                    }
                }
            } catch (IOException | UncheckedIOException e) {
                throw new ToolFailure("cannot list " + folder + ": " + e.getMessage(), e);
            }
            Collections.sort(names);
            return names;
        }

        private static List<String> flags(FileStatus status) {
            List<String> flags = new ArrayList<>();
            if (status.isValid()) {
                for (StatusFlag flag : status.flags()) {
                    flags.add(Context.lower(flag));
                }
            }
            return flags;
        }
    }

    @Command(name = "populate",
            description = {"Let the provider sort files for a command into the files it keeps "
                    + "and those it drops (SccPopulateList).",
                "Prints one line per file: 'keep' or 'drop', then the file (--porcelain: "
                        + "tab-separated)."})
    static final class Populate extends ListCommand {
        @Option(names = "--for", required = true, paramLabel = "COMMAND",
                description = "The command the list is for: ${COMPLETION-CANDIDATES}.")
        SccCommand command;

        @Override
        int run(Context context, Project project) throws Exception {
            PopulateResult result = project.populate(command, paths(files));
            PrintWriter out = context.out();
            if (context.output().json) {
                Map<String, Object> document =
                        Context.document("populate", result.result(), result.messages());
                document.put("for", Context.lower(command));
                document.put("keep", result.keep());
                document.put("drop", result.drop());
                out.println(Json.write(document));
                out.flush();
                return Context.exitCode(result.result());
            }
            context.printMessages(result.messages(), false);
            if (context.output().porcelain()) {
                for (String file : result.keep()) {
                    context.record("keep\t" + context.name(file));
                }
                for (String file : result.drop()) {
                    context.record("drop\t" + context.name(file));
                }
            } else {
                for (String file : result.keep()) {
                    out.println("keep  " + file);
                }
                for (String file : result.drop()) {
                    out.println("drop  " + file);
                }
            }
            return context.report(new CommandResult("populate", result.result(), List.of()),
                    false, Map.of());
        }
    }

    /**
     * The --porcelain line of a status word: the name, the word (0x%08x), then the flags joined
     * by ',' ('-' for none, 'invalid' for a word that is not valid), tab-separated.
     */
    static String statusLine(String name, int word, boolean valid, List<String> flags) {
        return name + "\t" + String.format("0x%08x", word) + "\t"
                + (!valid ? "invalid" : flags.isEmpty() ? "-" : String.join(",", flags));
    }

    static void printTable(PrintWriter out, String[][] rows) {
        int columns = rows[0].length;
        int[] widths = new int[columns];
        for (String[] row : rows) {
            for (int c = 0; c < columns; c++) {
                widths[c] = Math.max(widths[c], row[c].length());
            }
        }
        for (String[] row : rows) {
            StringBuilder line = new StringBuilder();
            for (int c = 0; c < columns; c++) {
                line.append(row[c]);
                if (c < columns - 1) {
                    line.append(" ".repeat(widths[c] - row[c].length() + 2));
                }
            }
            out.println(line.toString().stripTrailing());
        }
    }
}
