package com.vantrel.oskel.scc.cli;

import java.io.PrintWriter;
import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;

/**
 * A subcommand of the tool: runs in a context of its own, or in the shared context of a session.
 */
abstract class ToolCommand implements Callable<Integer> {
    /** Where the command prints; set when the command line is made. */
    PrintWriter out;
    PrintWriter err;

    /** The session's context, set by the session before it runs the command. */
    Context shared;

    @Override
    public final Integer call() throws Exception {
        Context context = shared != null ? shared : new Context(out, err, false);
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
            throw wrap(e);
        }
        if (shared == null) {
            context.close();
        }
        return code;
    }

    private static Exception wrap(Throwable e) {
        if (e instanceof LinkageError) {
            return new ToolFailure(e.getMessage(), e);
        }
        return (Exception) e;
    }

    /** Does the command's work; returns its exit code. */
    abstract int run(Context context) throws Exception;

    /** File arguments as paths. */
    static List<Path> paths(List<String> files) throws BadArguments {
        List<Path> paths = new ArrayList<>(files.size());
        for (String file : files) {
            if (file.isEmpty()) {
                throw new BadArguments("an empty file name");
            }
            try {
                paths.add(Paths.get(file));
            } catch (InvalidPathException e) {
                throw new BadArguments("not a file name: " + file);
            }
        }
        return paths;
    }
}
