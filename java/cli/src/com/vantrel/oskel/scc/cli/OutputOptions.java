package com.vantrel.oskel.scc.cli;

import picocli.CommandLine.Option;
import picocli.CommandLine.ScopeType;

/**
 * How the tool prints: options of the tool as a whole, accepted before or after the command.
 */
final class OutputOptions {
    @Option(names = {"-v", "--verbose"}, scope = ScopeType.INHERIT,
            description = "Report each step: connecting, opening the project, the result.")
    boolean verbose;

    @Option(names = {"-q", "--quiet"}, scope = ScopeType.INHERIT,
            description = "Do not print the provider's information messages (warnings and "
                    + "errors are still printed on standard error).")
    boolean quiet;

    @Option(names = "--json", scope = ScopeType.INHERIT,
            description = "Print one JSON document for the command on standard output: files, "
                    + "status flags, result and messages.")
    boolean json;

    @Option(names = "--porcelain", scope = ScopeType.INHERIT,
            description = "Print stable tab-separated lines for scripts (providers, info, "
                    + "extcaps, status, populate, events, dirstatus, dirlist, changes, "
                    + "addfromscc, subproject, parent; the other commands print their result). "
                    + "A file, folder or project name holding a control character (a tab, a "
                    + "newline), a double quote or a backslash is "
                    + "written in double quotes with C escapes (\\t, \\n, \\\", \\\\, "
                    + "\\ooo octal bytes).")
    boolean porcelain;

    @Option(names = "-z", scope = ScopeType.INHERIT,
            description = "With --porcelain (which it implies): end each record with a NUL "
                    + "instead of a newline and write names as they are, unquoted (a "
                    + "'changes' record holds two names: use --json when they may hold a tab).")
    boolean nul;

    boolean any() {
        return verbose || quiet || json || porcelain || nul;
    }

    /** Whether the output is the porcelain form (--porcelain or -z, and not --json). */
    boolean porcelain() {
        return !json && (porcelain || nul);
    }

    /** Whether standard output carries only the command's output: no steps, no prompts. */
    boolean machine() {
        return json || porcelain || nul;
    }

    /** The options of a session line: the session's own, since lines have a command of their own. */
    OutputOptions copy() {
        OutputOptions copy = new OutputOptions();
        copy.verbose = verbose;
        copy.quiet = quiet;
        copy.json = json;
        copy.porcelain = porcelain;
        copy.nul = nul;
        return copy;
    }
}
