package com.vantrel.oskel.scc;

/**
 * A provider that the registry does not name: no installed-providers key at all, no provider of
 * the given name, or an entry whose key could not be read.
 */
public class SccProviderNotFoundException extends SccConnectException {
    private static final long serialVersionUID = 1L;

    /** Why no provider was found. */
    public enum Reason {
        /** The registry has no list of installed providers. */
        NO_REGISTRY,
        /** No installed provider has the name. */
        UNKNOWN_PROVIDER,
        /** The provider is listed but its key could not be read. */
        NO_KEY
    }

    /** Why no provider was found. */
    private final Reason reason;
    /** The provider name asked for, or null. */
    private final String providerName;

    /**
     * An exception for a provider that is not installed.
     *
     * @param reason why no provider was found
     * @param providerName the name asked for, or null when none was
     * @param description what went wrong
     */
    public SccProviderNotFoundException(Reason reason, String providerName, String description) {
        super(null, description);
        this.reason = reason;
        this.providerName = providerName;
    }

    /**
     * Why no provider was found.
     *
     * @return the reason
     */
    public Reason reason() {
        return reason;
    }

    /**
     * The provider name that was asked for.
     *
     * @return the name, or null
     */
    public String providerName() {
        return providerName;
    }
}
