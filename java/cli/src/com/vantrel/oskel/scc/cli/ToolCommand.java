package com.vantrel.oskel.scc.cli;

import java.io.PrintWriter;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import picocli.CommandLine.Command;
import picocli.CommandLine.Option;
import picocli.CommandLine.ParentCommand;

/**
 * A subcommand of the tool: runs in a context of its own, or in the shared context of a session.
 */
abstract class ToolCommand implements Callable<Integer> {
    /** Where the command prints; set when the command line is made. */
    PrintWriter out;
    PrintWriter err;

    /** The session's context, set by the session before it runs the command. */
    Context shared;

    @Option(names = {"-h", "--help"}, usageHelp = true,
            description = "Show this help message and exit.")
    boolean help;

    /** The tool, whose output options apply to every command. */
    @ParentCommand
    SccTool top;

    @Override
    public final Integer call() throws Exception {
        Context context = shared != null ? shared : new Context(out, err, false);
        if (shared == null) {
            context.output(top != null ? top.output : null);
        } else if (top != null && top.output.any()) {
            context.output(top.output); // a session line's own output options
        }
        int code;
        try {
            code = run(context);
        } catch (Exception | LinkageError e) {
            if (shared == null) {
                try {
                    context.close();
                } catch (Exception closing) {
                    e.addSuppressed(closing);
                }
            }
            Exception failure = wrap(e);
            if (context.output().json) {
                SccTool.jsonFailure(out, name(), failure);
            }
            throw failure;
        }
        if (shared == null) {
            context.close();
        }
        return code;
    }

    /** The command's name, as its annotation gives it. */
    private String name() {
        Command command = getClass().getAnnotation(Command.class);
        return command != null ? command.name() : "scc";
    }

    private static Exception wrap(Throwable e) {
        if (e instanceof LinkageError) {
            return new ToolFailure(e.getMessage(), e);
        }
        return (Exception) e;
    }

    /** Does the command's work; returns its exit code. */
    abstract int run(Context context) throws Exception;

    /**
     * File arguments as absolute paths: relative names are taken from the current folder, which
     * from a subfolder of a binding is not the project's working folder.
     */
    static List<Path> paths(List<String> files) throws BadArguments {
        List<Path> paths = new ArrayList<>(files.size());
        for (String file : files) {
            if (file.isEmpty()) {
                throw new BadArguments("an empty file name");
            }
            if (file.indexOf(Arguments.REPLACEMENT) >= 0) {
                throw new BadArguments("a file name the locale's encoding cannot decode: "
                        + Arguments.show(file));
            }
            try {
                paths.add(Paths.get(file).toAbsolutePath().normalize());
            } catch (InvalidPathException e) {
                throw new BadArguments("not a file name: " + file);
            }
        }
        return paths;
    }
}
