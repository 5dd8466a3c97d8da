package com.vantrel.oskel.scc.cli;

import picocli.CommandLine.Option;

/** How much the tool prints besides the command's own output. */
final class OutputOptions {
    @Option(names = {"-v", "--verbose"},
            description = "Report each step: connecting, opening the project, the result.")
    boolean verbose;

    @Option(names = {"-q", "--quiet"},
            description = "Do not print the provider's information messages (warnings, errors "
                    + "and documents are still printed).")
    boolean quiet;
}
