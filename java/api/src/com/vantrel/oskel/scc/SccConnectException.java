package com.vantrel.oskel.scc;

import java.util.List;
import java.util.Optional;

/**
 * A provider that could not be started. The message says which step failed and why: the registry
 * source and its state (missing, unreadable, malformed), the provider library path and the
 * loader's error text, for a hosted provider the host program and why it did not start, or the
 * code {@code SccInitialize} returned. The library does not pass the provider's own code on, so
 * {@link #code()} is {@link SccResult#E_INITIALIZEFAILED}.
 */
public class SccConnectException extends SccException {
    private static final long serialVersionUID = 1L;

    /** The provider key, or null for the default provider. */
    private final String providerKey;
    /** What the library found; null entries for what is not known. */
    private final String[] report;

    /**
     * An exception for a provider that did not start.
     *
     * @param providerKey the provider key, or null for the default provider
     * @param description what went wrong
     */
    public SccConnectException(String providerKey, String description) {
        this(providerKey, description, null);
    }

    SccConnectException(String providerKey, String description, String[] report) {
        super("connect", SccResult.E_INITIALIZEFAILED.code(), List.of(), description);
        this.providerKey = providerKey;
        this.report = report == null ? new String[Report.COUNT] : report.clone();
    }

    /**
     * The provider key that was asked for.
     *
     * @return the key, or null for the default provider
     */
    public String providerKey() {
        return providerKey;
    }

    /**
     * The step that failed, in words, for example "the provider library did not load".
     *
     * @return the step, or empty when not known
     */
    public Optional<String> failure() {
        return field(Report.FAILURE);
    }

    /**
     * Where the registry was read: the registry file on Linux.
     *
     * @return the file, or empty when not known
     */
    public Optional<String> registryFile() {
        return field(Report.REGISTRY);
    }

    /**
     * The state of the registry file: {@code ok}, {@code missing}, {@code unreadable},
     * {@code not a regular file}, {@code too large} or {@code malformed}.
     *
     * @return the state, or empty when not known
     */
    public Optional<String> registryState() {
        return field(Report.REGISTRY_STATE);
    }

    /**
     * The provider library path the registry names ({@code SCCServerPath}).
     *
     * @return the path, or empty when it was not read
     */
    public Optional<String> libraryPath() {
        return field(Report.LIBRARY);
    }

    /**
     * The loader's error text for a library that did not load.
     *
     * @return the text, or empty
     */
    public Optional<String> loaderError() {
        return field(Report.LOADER_ERROR);
    }

    /**
     * The host program of a hosted provider.
     *
     * @return the program, or empty when none was to start
     */
    public Optional<String> hostProgram() {
        return field(Report.HOST);
    }

    /**
     * Why the host program did not start or did not load the library.
     *
     * @return the reason, or empty
     */
    public Optional<String> hostError() {
        return field(Report.HOST_ERROR);
    }

    private Optional<String> field(int index) {
        return report == null ? Optional.empty() : Optional.ofNullable(report[index]);
    }

    /** The positions of the library's connect report. */
    static final class Report {
        static final int FAILURE = 0;
        static final int REGISTRY = 1;
        static final int REGISTRY_STATE = 2;
        static final int KEY = 3;
        static final int LIBRARY = 4;
        static final int LOADER_ERROR = 5;
        static final int HOSTED = 6;
        static final int HOST = 7;
        static final int HOST_ERROR = 8;
        static final int INITIALIZE_CODE = 9;
        static final int COUNT = 10;

        private Report() {}
    }
}
