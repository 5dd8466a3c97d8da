package com.vantrel.oskel.scc;

import java.util.List;

/**
 * A provider that could not be started: its library did not load, lacks {@code SccInitialize}, or
 * {@code SccInitialize} failed. The library does not pass the provider's own code on, so the code
 * is {@link SccResult#E_INITIALIZEFAILED}.
 */
public class ConnectException extends SccException {
    private static final long serialVersionUID = 1L;

    /** The provider key, or null for the default provider. */
    private final String providerKey;

    /**
     * An exception for a provider that did not start.
     *
     * @param providerKey the provider key, or null for the default provider
     * @param description what went wrong
     */
    public ConnectException(String providerKey, String description) {
        super("connect", SccResult.E_INITIALIZEFAILED.code(), List.of(), description);
        this.providerKey = providerKey;
    }

    /**
     * The provider key that was asked for.
     *
     * @return the key, or null for the default provider
     */
    public String providerKey() {
        return providerKey;
    }
}
