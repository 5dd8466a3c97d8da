package com.vantrel.oskel.scc;

/**
 * The SCC command numbers: the commands for which a provider may keep options
 * ({@link Connection#commandOptions(SccCommand)}) and sort file lists
 * ({@link Project#populate(SccCommand, java.util.Collection)}).
 */
public enum SccCommand {
    /** {@code SCC_COMMAND_GET}: get the latest versions. */
    GET(0),
    /** {@code SCC_COMMAND_CHECKOUT}: check out. */
    CHECKOUT(1),
    /** {@code SCC_COMMAND_CHECKIN}: check in. */
    CHECKIN(2),
    /** {@code SCC_COMMAND_UNCHECKOUT}: undo a check-out. */
    UNCHECKOUT(3),
    /** {@code SCC_COMMAND_ADD}: add to source control. */
    ADD(4),
    /** {@code SCC_COMMAND_REMOVE}: remove from source control. */
    REMOVE(5),
    /** {@code SCC_COMMAND_DIFF}: compare with the controlled version. */
    DIFF(6),
    /** {@code SCC_COMMAND_HISTORY}: show the history. */
    HISTORY(7),
    /** {@code SCC_COMMAND_RENAME}: rename. */
    RENAME(8),
    /** {@code SCC_COMMAND_PROPERTIES}: show the properties. */
    PROPERTIES(9);

    private final int number;

    SccCommand(int number) {
        this.number = number;
    }

    /**
     * The command number the provider receives.
     *
     * @return 0 to 9
     */
    public int number() {
        return number;
    }

    /**
     * The name of the command in the SCC API.
     *
     * @return for example {@code "SCC_COMMAND_CHECKOUT"}
     */
    public String sccName() {
        return "SCC_COMMAND_" + name();
    }
}
