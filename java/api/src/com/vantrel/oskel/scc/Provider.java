package com.vantrel.oskel.scc;

import java.util.Objects;
import java.util.Optional;

/**
 * An installed provider as the registry lists it: the name shown to users and the provider key
 * under which the provider records its library.
 */
public final class Provider {
    private final String name;
    private final String key;

    Provider(String name, String key) {
        this.name = Objects.requireNonNull(name, "name");
        this.key = key;
    }

    /**
     * The provider's display name.
     *
     * @return the name
     */
    public String name() {
        return name;
    }

    /**
     * The provider key, the registry path of the provider's own key.
     *
     * @return the key, or empty when the registry entry could not be read
     */
    public Optional<String> key() {
        return Optional.ofNullable(key);
    }

    /**
     * Opens a connection to this provider.
     *
     * @return the connection
     * @throws SccException when the provider's key could not be read or the provider did not start
     */
    public Connection connect() throws SccException {
        if (key == null) {
            throw new SccProviderNotFoundException(SccProviderNotFoundException.Reason.NO_KEY, name,
                    "the registry entry of provider \"" + name + "\" could not be read");
        }
        return Connection.open(key);
    }

    /**
     * The name and key.
     *
     * @return for example {@code "LocalStore (Software\\Vantrel\\LocalStore)"}
     */
    @Override
    public String toString() {
        return name + " (" + (key == null ? "no key" : key) + ")";
    }

    /**
     * Providers are equal when name and key are.
     *
     * @param other another object
     * @return true when equal
     */
    @Override
    public boolean equals(Object other) {
        return other instanceof Provider p && p.name.equals(name) && Objects.equals(p.key, key);
    }

    /**
     * A hash of name and key.
     *
     * @return the hash
     */
    @Override
    public int hashCode() {
        return Objects.hash(name, key);
    }
}
