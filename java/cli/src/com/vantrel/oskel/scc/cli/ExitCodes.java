package com.vantrel.oskel.scc.cli;

/** The exit codes of the scc tool; the help text lists them too. */
final class ExitCodes {
    /** The command did its work and the provider answered SCC_OK. */
    static final int OK = 0;
    /** The provider answered with an informational result (SCC_I_...). */
    static final int INFORMATIONAL = 1;
    /** Bad arguments. */
    static final int USAGE = 2;
    /** The provider reported an error (SCC_E_...). */
    static final int PROVIDER_ERROR = 3;
    /** No such provider, or no provider registry. */
    static final int NOT_FOUND = 4;
    /** The provider did not start. */
    static final int NOT_STARTED = 5;
    /** The tool itself failed: native library, files, an internal error. */
    static final int FAILURE = 6;

    private ExitCodes() {}
}
