package com.vantrel.oskel.scc.cli;

/** Arguments that do not fit together (exit code 2). */
final class BadArguments extends Exception {
    private static final long serialVersionUID = 1L;

    BadArguments(String message) {
        super(message);
    }
}
