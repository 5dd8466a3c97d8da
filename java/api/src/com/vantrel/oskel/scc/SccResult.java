package com.vantrel.oskel.scc;

import java.util.Optional;

/**
 * The result codes of the SCC API, by name.
 *
 * <p>Zero is success, positive codes ({@code SCC_I_...}) are informational results of a call that
 * did its work or was cancelled on purpose, negative codes ({@code SCC_E_...}) are failures. The API
 * returns the first two kinds and throws {@link SccException} for the third, and for any code that
 * is not in this table.
 */
public enum SccResult {
    /** {@code SCC_OK}: success. */
    OK(0),
    /** {@code SCC_I_ADV_SUPPORT}: the provider offers advanced options for the command. */
    I_ADV_SUPPORT(1),
    /** {@code SCC_I_OPERATIONCANCELED}: the user cancelled the operation. */
    I_OPERATIONCANCELED(2),
    /** {@code SCC_I_PROJECTCREATED}: a new project was created. */
    I_PROJECTCREATED(3),
    /** {@code SCC_I_FILENOTAFFECTED}: the file was not affected. */
    I_FILENOTAFFECTED(4),
    /** {@code SCC_I_RELOADFILE}: the file changed on disk and should be reloaded. */
    I_RELOADFILE(5),
    /** {@code SCC_I_FILEDIFFERS}: the working file differs from the controlled version. */
    I_FILEDIFFERS(6),
    /** {@code SCC_I_SHARESUBPROJOK}: the subproject may be shared. */
    I_SHARESUBPROJOK(7),
    /** {@code SCC_E_INITIALIZEFAILED}: the provider could not be started. */
    E_INITIALIZEFAILED(-1),
    /** {@code SCC_E_UNKNOWNPROJECT}: no such project. */
    E_UNKNOWNPROJECT(-2),
    /** {@code SCC_E_COULDNOTCREATEPROJECT}: the project could not be created. */
    E_COULDNOTCREATEPROJECT(-3),
    /** {@code SCC_E_NOTCHECKEDOUT}: the file is not checked out. */
    E_NOTCHECKEDOUT(-4),
    /** {@code SCC_E_ALREADYCHECKEDOUT}: the file is already checked out. */
    E_ALREADYCHECKEDOUT(-5),
    /** {@code SCC_E_FILEISLOCKED}: the file is locked. */
    E_FILEISLOCKED(-6),
    /** {@code SCC_E_FILEOUTEXCLUSIVE}: someone else has the file checked out exclusively. */
    E_FILEOUTEXCLUSIVE(-7),
    /** {@code SCC_E_ACCESSFAILURE}: the store could not be accessed. */
    E_ACCESSFAILURE(-8),
    /** {@code SCC_E_CHECKINCONFLICT}: the check-in conflicts with another change. */
    E_CHECKINCONFLICT(-9),
    /** {@code SCC_E_FILEALREADYEXISTS}: the file is already under source control. */
    E_FILEALREADYEXISTS(-10),
    /** {@code SCC_E_FILENOTCONTROLLED}: the file is not under source control. */
    E_FILENOTCONTROLLED(-11),
    /** {@code SCC_E_FILEISCHECKEDOUT}: the file is checked out. */
    E_FILEISCHECKEDOUT(-12),
    /** {@code SCC_E_NOSPECIFIEDVERSION}: no such version. */
    E_NOSPECIFIEDVERSION(-13),
    /** {@code SCC_E_OPNOTSUPPORTED}: the provider does not support the operation. */
    E_OPNOTSUPPORTED(-14),
    /**
     * {@code SCC_E_NONSPECIFICERROR}: a failure without a more specific code; also what the
     * library reports when the provider lacks the entry point of a call.
     */
    E_NONSPECIFICERROR(-15),
    /** {@code SCC_E_OPNOTPERFORMED}: the operation was not performed. */
    E_OPNOTPERFORMED(-16),
    /** {@code SCC_E_TYPENOTSUPPORTED}: the provider does not support this type of file. */
    E_TYPENOTSUPPORTED(-17),
    /** {@code SCC_E_VERIFYMERGE}: a merge needs to be verified. */
    E_VERIFYMERGE(-18),
    /** {@code SCC_E_FIXMERGE}: a merge needs to be fixed by hand. */
    E_FIXMERGE(-19),
    /** {@code SCC_E_SHELLFAILURE}: a shell operation failed. */
    E_SHELLFAILURE(-20),
    /** {@code SCC_E_INVALIDUSER}: the user is not known to the provider. */
    E_INVALIDUSER(-21),
    /** {@code SCC_E_PROJECTALREADYOPEN}: a project is already open. */
    E_PROJECTALREADYOPEN(-22),
    /** {@code SCC_E_PROJSYNTAXERR}: the project name or path is malformed. */
    E_PROJSYNTAXERR(-23),
    /** {@code SCC_E_INVALIDFILEPATH}: the file path is not valid. */
    E_INVALIDFILEPATH(-24),
    /** {@code SCC_E_PROJNOTOPEN}: no project is open. */
    E_PROJNOTOPEN(-25),
    /** {@code SCC_E_NOTAUTHORIZED}: the user may not perform the operation. */
    E_NOTAUTHORIZED(-26),
    /** {@code SCC_E_FILESYNTAXERR}: the file name is malformed. */
    E_FILESYNTAXERR(-27),
    /** {@code SCC_E_FILENOTEXIST}: the file does not exist. */
    E_FILENOTEXIST(-28),
    /** {@code SCC_E_CONNECTIONFAILURE}: the connection to the store failed. */
    E_CONNECTIONFAILURE(-29),
    /** {@code SCC_E_UNKNOWNERROR}: an unknown error. */
    E_UNKNOWNERROR(-30);

    private static final int LOWEST = -30;
    private static final SccResult[] BY_CODE = new SccResult[8 - LOWEST];

    static {
        for (SccResult result : values()) {
            BY_CODE[result.code - LOWEST] = result;
        }
    }

    private final int code;

    SccResult(int code) {
        this.code = code;
    }

    /**
     * The numeric SCC result code.
     *
     * @return the code, 0 for {@link #OK}
     */
    public int code() {
        return code;
    }

    /**
     * The name of the code in the SCC API.
     *
     * @return for example {@code "SCC_E_NOTCHECKEDOUT"}
     */
    public String sccName() {
        return "SCC_" + name();
    }

    /**
     * Whether the code is a failure.
     *
     * @return true for the negative {@code SCC_E_...} codes
     */
    public boolean isError() {
        return code < 0;
    }

    /**
     * Whether the code is an informational result.
     *
     * @return true for the positive {@code SCC_I_...} codes
     */
    public boolean isInformational() {
        return code > 0;
    }

    /**
     * The named result for a code.
     *
     * @param code an SCC result code
     * @return the result, or empty for a code that the SCC API does not define
     */
    public static Optional<SccResult> forCode(int code) {
        int index = code - LOWEST;
        return index >= 0 && index < BY_CODE.length ? Optional.ofNullable(BY_CODE[index])
                                                    : Optional.empty();
    }

    /**
     * The SCC name of any code.
     *
     * @param code an SCC result code
     * @return the name for a defined code, otherwise {@code "SCC result <code>"}
     */
    public static String nameOf(int code) {
        return forCode(code).map(SccResult::sccName).orElse("SCC result " + code);
    }
}
