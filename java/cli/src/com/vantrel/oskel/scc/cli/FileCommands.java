package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.FileStatus;
import com.vantrel.oskel.scc.PopulateResult;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.SccCommand;
import java.io.PrintWriter;
import java.nio.file.Path;
import java.util.List;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** The subcommands that run one file command in a project. */
final class FileCommands {
    private FileCommands() {}

    /** A command that works in a project: connection, project and output options. */
    abstract static class ProjectCommand extends ToolCommand {
        @Mixin
        ConnectionOptions connectionOptions;
        @Mixin
        ProjectOptions projectOptions;
        @Mixin
        OutputOptions output;

        @Override
        final int run(Context context) throws Exception {
            context.use(connectionOptions, projectOptions, output);
            return run(context, context.project());
        }

        abstract int run(Context context, Project project) throws Exception;
    }

    /** A command over a list of files. */
    abstract static class ListCommand extends ProjectCommand {
        @Parameters(arity = "1..*", paramLabel = "FILE", description = "The files.")
        List<String> files;
    }

    /** A command over a list of files with a comment. */
    abstract static class CommentCommand extends ListCommand {
        @Option(names = {"-m", "--comment"}, paramLabel = "TEXT",
                description = "The comment the provider records.")
        String comment;
    }

    /** A command on one file. */
    abstract static class SingleFileCommand extends ProjectCommand {
        @Parameters(index = "0", paramLabel = "FILE", description = "The file.")
        String file;
    }

    @Command(name = "get", description = "Get the latest versions of files (SccGet).")
    static final class Get extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("get", project.get(paths(files)));
        }
    }

    @Command(name = "checkout", description = "Check files out for editing (SccCheckout).")
    static final class Checkout extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("checkout", project.checkout(paths(files), comment));
        }
    }

    @Command(name = "checkin",
            description = "Check changed files in as new versions (SccCheckin).")
    static final class Checkin extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("checkin", project.checkin(paths(files), comment));
        }
    }

    @Command(name = "uncheckout",
            description = "Undo the check-out of files, dropping their changes (SccUncheckout).")
    static final class Uncheckout extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("uncheckout", project.uncheckout(paths(files)));
        }
    }

    @Command(name = "add", description = "Put files under source control (SccAdd).")
    static final class Add extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("add", project.add(paths(files), comment));
        }
    }

    @Command(name = "remove", description = "Remove files from source control (SccRemove).")
    static final class Remove extends CommentCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("remove", project.remove(paths(files), comment));
        }
    }

    @Command(name = "diff",
            description = {"Compare a working file with its controlled version (SccDiff).",
                "Exits with 1 when the provider reports that the file differs."})
    static final class Diff extends SingleFileCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("diff", project.diff(paths(List.of(file)).get(0)));
        }
    }

    @Command(name = "history", description = "Show the history of files (SccHistory).")
    static final class History extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("history", project.history(paths(files)));
        }
    }

    @Command(name = "properties", description = "Show the properties of a file (SccProperties).")
    static final class Properties extends SingleFileCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("properties",
                    project.properties(paths(List.of(file)).get(0)));
        }
    }

    @Command(name = "run",
            description = "Let the provider open its own user interface on files (SccRunScc).")
    static final class Run extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            return context.report("run", project.runScc(paths(files)));
        }
    }

    @Command(name = "status",
            description = {"Show the source-control status of files as a table (SccQueryInfo).",
                "Columns: the file as given, the status flags, the provider's status word."})
    static final class Status extends ListCommand {
        @Override
        int run(Context context, Project project) throws Exception {
            List<Path> paths = paths(files);
            List<FileStatus> statuses = project.status(paths);
            String[][] rows = new String[statuses.size() + 1][];
            rows[0] = new String[] {"FILE", "STATUS", "WORD"};
            for (int i = 0; i < statuses.size(); i++) {
                FileStatus status = statuses.get(i);
                rows[i + 1] = new String[] {files.get(i), status.describe(),
                    String.format("0x%04x", status.word())};
            }
            printTable(context.out(), rows);
            return ExitCodes.OK;
        }
    }

    @Command(name = "populate",
            description = {"Let the provider sort files for a command into the files it keeps "
                    + "and those it drops (SccPopulateList).",
                "Prints one line per file: 'keep' or 'drop', then the file."})
    static final class Populate extends ListCommand {
        @Option(names = "--for", required = true, paramLabel = "COMMAND",
                description = "The command the list is for: ${COMPLETION-CANDIDATES}.")
        SccCommand command;

        @Override
        int run(Context context, Project project) throws Exception {
            PopulateResult result = project.populate(command, paths(files));
            PrintWriter out = context.out();
            for (String file : result.keep()) {
                out.println("keep  " + file);
            }
            for (String file : result.drop()) {
                out.println("drop  " + file);
            }
            return context.report("populate", result.result());
        }
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
