package com.vantrel.oskel.scc;

/**
 * What happened to a file's name in the store ({@code SCC_CHANGE_...}), as a change query reports
 * it.
 *
 * @see Project#queryChanges(java.nio.file.Path...)
 */
public enum ChangeKind {
    /** {@code SCC_CHANGE_UNKNOWN}: the provider cannot tell; also any number this type does not name. */
    UNKNOWN(0),
    /** {@code SCC_CHANGE_UNCHANGED}: the name has not changed. */
    UNCHANGED(1),
    /** {@code SCC_CHANGE_DIFFERENT}: the store has a file of this name with another identity. */
    DIFFERENT(2),
    /** {@code SCC_CHANGE_NONEXISTENT}: the file exists neither here nor in the store. */
    NONEXISTENT(3),
    /** {@code SCC_CHANGE_DATABASE_DELETED}: the file was removed from the store. */
    DATABASE_DELETED(4),
    /** {@code SCC_CHANGE_LOCAL_DELETED}: the working file is gone; the store still has it. */
    LOCAL_DELETED(5),
    /** {@code SCC_CHANGE_DATABASE_ADDED}: the store has the file; there is no working file. */
    DATABASE_ADDED(6),
    /** {@code SCC_CHANGE_LOCAL_ADDED}: the working file is new; the store does not have it. */
    LOCAL_ADDED(7),
    /** {@code SCC_CHANGE_RENAMED_TO}: the store renamed or moved the file to the latest name. */
    RENAMED_TO(8),
    /** {@code SCC_CHANGE_RENAMED_FROM}: the store renamed or moved the file from the latest name. */
    RENAMED_FROM(9);

    private final int number;

    ChangeKind(int number) {
        this.number = number;
    }

    /**
     * The number the provider reports.
     *
     * @return 0 to 9
     */
    public int number() {
        return number;
    }

    /**
     * The name of the code in the SCC API.
     *
     * @return for example {@code "SCC_CHANGE_RENAMED_TO"}
     */
    public String sccName() {
        return "SCC_CHANGE_" + name();
    }

    /**
     * The kind of a change number.
     *
     * @param number an {@code SCC_CHANGE_...} number
     * @return its kind; {@link #UNKNOWN} for a number this type does not name
     */
    public static ChangeKind forNumber(int number) {
        for (ChangeKind kind : values()) {
            if (kind.number == number) {
                return kind;
            }
        }
        return UNKNOWN;
    }
}
