package com.vantrel.oskel.scc.cli;

/** A failure of the tool itself (exit code 6), reported by its message alone. */
final class ToolFailure extends Exception {
    private static final long serialVersionUID = 1L;

    ToolFailure(String message, Throwable cause) {
        super(message, cause);
    }
}
