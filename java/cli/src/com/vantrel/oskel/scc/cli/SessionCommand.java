package com.vantrel.oskel.scc.cli;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.PrintWriter;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/**
 * Runs many commands on one connection and one open project, read as lines from a script or from
 * standard input.
 */
@Command(name = "session",
        description = {"Run the commands of a script on one connection and one project: one "
                + "scc command per line, without the leading 'scc' and without provider, trace "
                + "or project options, which are given once, here.",
            "Empty lines and lines starting with # are skipped; a line starting with ! is run by "
                    + "the shell (sh -c; cmd /c on Windows) in the current folder. Words may be "
                    + "quoted with ' or \" and a backslash escapes the next character.",
            "Each line is echoed with the prompt 'scc> ' before it runs. The session connects "
                    + "at its start, opens the project when a command first needs it, and closes "
                    + "both at its end. It stops at the first line that fails (exit code 2 or "
                    + "more) unless --keep-going is given, and exits with that line's code."})
final class SessionCommand extends ToolCommand {
    @Mixin
    ConnectionOptions connectionOptions;
    @Mixin
    ProjectOptions projectOptions;

    @Option(names = "--create",
            description = "Create the project when it does not exist yet.")
    boolean create;

    @Option(names = {"-k", "--keep-going"},
            description = "Run the remaining lines after a line fails.")
    boolean keepGoing;

    @Parameters(index = "0", arity = "0..1", paramLabel = "SCRIPT",
            description = "The script file; - or none reads standard input.")
    Path script;

    @Override
    int run(Context ignored) throws Exception {
        List<String> lines = readScript();
        int failure = ExitCodes.OK;
        try (Context session = new Context(out, err, true)) {
            connectionOptions.check();
            session.fix(connectionOptions, projectOptions, create);
            if (top != null) {
                session.output(top.output.copy());
            }
            session.connection();
            int number = 0;
            for (String line : lines) {
                number++;
                String text = line.strip();
                if (text.isEmpty() || text.startsWith("#")) {
                    continue;
                }
                out.println("scc> " + text);
                out.flush();
                int code = text.startsWith("!") ? shell(text.substring(1).strip(), err)
                                                : command(session, text, number, err);
                if (code >= ExitCodes.USAGE) {
                    if (failure == ExitCodes.OK) {
                        failure = code;
                    }
                    if (!keepGoing) {
                        err.println("scc: session stopped at line " + number + " (exit " + code
                                + ")");
                        break;
                    }
                }
            }
        }
        return failure;
    }

    private List<String> readScript() throws ToolFailure {
        try {
            if (script == null || script.toString().equals("-")) {
                BufferedReader reader = new BufferedReader(
                        new InputStreamReader(System.in, Charset.defaultCharset()));
                List<String> lines = new ArrayList<>();
                for (String line = reader.readLine(); line != null; line = reader.readLine()) {
                    lines.add(line);
                }
                return lines;
            }
            return Files.readAllLines(script, Charset.defaultCharset());
        } catch (IOException e) {
            throw new ToolFailure("cannot read the session script " + script + ": " + e, e);
        }
    }

    private int command(Context session, String text, int number, PrintWriter err) {
        List<String> words;
        try {
            words = split(text);
        } catch (BadArguments e) {
            err.println("scc: line " + number + ": " + e.getMessage());
            return ExitCodes.USAGE;
        }
        if (words.get(0).equals("session")) {
            err.println("scc: line " + number + ": a session cannot run another session");
            return ExitCodes.USAGE;
        }
        CommandLine line = SccTool.commandLine(session);
        return line.execute(words.toArray(new String[0]));
    }

    private static int shell(String command, PrintWriter err) throws ToolFailure {
        boolean windows = System.getProperty("os.name", "").toLowerCase(Locale.ROOT)
                .startsWith("windows");
        ProcessBuilder builder = windows ? new ProcessBuilder("cmd", "/c", command)
                                         : new ProcessBuilder("/bin/sh", "-c", command);
        builder.inheritIO();
        try {
            int code = builder.start().waitFor();
            if (code != 0) {
                err.println("scc: shell command exited with " + code);
                return ExitCodes.FAILURE;
            }
            return ExitCodes.OK;
        } catch (IOException e) {
            throw new ToolFailure("cannot run the shell: " + e, e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new ToolFailure("interrupted", e);
        }
    }

    /** Splits a line into words: quotes group, a backslash escapes the next character. */
    static List<String> split(String line) throws BadArguments {
        List<String> words = new ArrayList<>();
        StringBuilder word = new StringBuilder();
        boolean inWord = false;
        char quote = 0;
        for (int i = 0; i < line.length(); i++) {
            char c = line.charAt(i);
            if (c == '\\' && quote != '\'') {
                if (++i == line.length()) {
                    throw new BadArguments("a backslash ends the line");
                }
                word.append(line.charAt(i));
                inWord = true;
            } else if (quote != 0) {
                if (c == quote) {
                    quote = 0;
                } else {
                    word.append(c);
                }
            } else if (c == '\'' || c == '"') {
                quote = c;
                inWord = true;
            } else if (Character.isWhitespace(c)) {
                if (inWord) {
                    words.add(word.toString());
                    word.setLength(0);
                    inWord = false;
                }
            } else {
                word.append(c);
                inWord = true;
            }
        }
        if (quote != 0) {
            throw new BadArguments("unclosed quote " + quote);
        }
        if (inWord) {
            words.add(word.toString());
        }
        return words;
    }
}
