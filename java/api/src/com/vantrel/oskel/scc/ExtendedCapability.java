package com.vantrel.oskel.scc;

import java.util.Optional;

/**
 * The extended capabilities ({@code SCC_EXCAP_...}) that a provider of SCC API 1.3 reports one at
 * a time through {@code SccGetExtendedCapabilities}. Unlike {@link Capability} they are numbers,
 * not bits.
 *
 * @see Connection#extendedCapabilities()
 */
public enum ExtendedCapability {
    /** {@code SCC_EXCAP_CHECKOUT_LOCALVER}: checks out the local version of a file on request. */
    CHECKOUT_LOCALVER(1),
    /** {@code SCC_EXCAP_BACKGROUND_GET}: gets files in the background. */
    BACKGROUND_GET(2),
    /** {@code SCC_EXCAP_ENUM_CHANGED_FILES}: lists the files changed in the store. */
    ENUM_CHANGED_FILES(3),
    /** {@code SCC_EXCAP_POPULATELIST_DIR}: lists the folders under source control ({@link Project#dirList}). */
    POPULATELIST_DIR(4),
    /** {@code SCC_EXCAP_QUERYCHANGES}: reports renames, additions and removals ({@link Project#queryChanges}). */
    QUERYCHANGES(5),
    /** {@code SCC_EXCAP_ADD_FILES_FROM_SCC}: adds files from source control by name. */
    ADD_FILES_FROM_SCC(6),
    /** {@code SCC_EXCAP_GET_USER_OPTIONS}: reports the user's options ({@link Connection#userOption}). */
    GET_USER_OPTIONS(7),
    /** {@code SCC_EXCAP_THREADSAFE_QUERY_INFO}: answers status queries from several threads. */
    THREADSAFE_QUERY_INFO(8),
    /** {@code SCC_EXCAP_REMOVE_DIR}: removes folders from source control. */
    REMOVE_DIR(9),
    /** {@code SCC_EXCAP_DELETE_CHECKEDOUT}: removes files that are checked out. */
    DELETE_CHECKEDOUT(10),
    /** {@code SCC_EXCAP_RENAME_CHECKEDOUT}: renames files that are checked out. */
    RENAME_CHECKEDOUT(11);

    private final int number;

    ExtendedCapability(int number) {
        this.number = number;
    }

    /**
     * The number the provider is asked about.
     *
     * @return 1 to 11
     */
    public int number() {
        return number;
    }

    /**
     * The name of the code in the SCC API.
     *
     * @return for example {@code "SCC_EXCAP_QUERYCHANGES"}
     */
    public String sccName() {
        return "SCC_EXCAP_" + name();
    }

    /**
     * The extended capability of a number.
     *
     * @param number an {@code SCC_EXCAP_...} number
     * @return the capability, or empty for a number this type does not name
     */
    public static Optional<ExtendedCapability> forNumber(int number) {
        for (ExtendedCapability capability : values()) {
            if (capability.number == number) {
                return Optional.of(capability);
            }
        }
        return Optional.empty();
    }
}
