package com.vantrel.oskel.scc.cli;

import java.io.IOException;
import java.io.PrintWriter;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetDecoder;
import java.nio.charset.CodingErrorAction;
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
            "Each line is echoed with the prompt 'scc> ' before it runs (on standard error "
                    + "under --json, --porcelain and -z, so that standard output carries only "
                    + "the commands' output: one JSON document per command under --json). The "
                    + "session connects at its start, opens the project when a command first "
                    + "needs it, and closes "
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
                // Under --json and --porcelain standard output carries the commands' output alone.
                PrintWriter echo = session.output().machine() ? err : out;
                echo.println("scc> " + text);
                echo.flush();
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

    /**
     * The lines of the script, in the locale's encoding. A line that does not decode is refused
     * rather than read with replacement characters, which would name other files.
     */
    private List<String> readScript() throws ToolFailure, BadArguments {
        byte[] bytes;
        try {
            bytes = script == null || script.toString().equals("-") ? System.in.readAllBytes()
                                                                   : Files.readAllBytes(script);
        } catch (IOException e) {
            throw new ToolFailure("cannot read the session script " + script + ": " + e, e);
        }
        CharsetDecoder decoder = Charset.defaultCharset().newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT);
        List<String> lines = new ArrayList<>();
        int start = 0;
        while (start < bytes.length) {
            int end = start;
            while (end < bytes.length && bytes[end] != '\n') {
                end++;
            }
            String line;
            try {
                line = decoder.decode(ByteBuffer.wrap(bytes, start, end - start)).toString();
            } catch (CharacterCodingException e) {
                throw new BadArguments("line " + (lines.size() + 1) + " of the session script "
                        + "does not decode in the locale's encoding (" + decoder.charset()
                        + ")");
            }
            lines.add(line.endsWith("\r") ? line.substring(0, line.length() - 1) : line);
            start = end + 1;
        }
        return lines;
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
