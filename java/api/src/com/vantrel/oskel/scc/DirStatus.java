package com.vantrel.oskel.scc;

import java.util.EnumSet;

/**
 * The bits of a folder's status word ({@code SCC_DIRSTATUS_...}) as a folder status query reports
 * them; a word without bits is a folder that is not under source control.
 *
 * @see FolderStatus
 * @see Project#dirStatus(java.nio.file.Path...)
 */
public enum DirStatus {
    /** {@code SCC_DIRSTATUS_CONTROLLED}: the folder has a project under source control. */
    CONTROLLED(0x0001),
    /** {@code SCC_DIRSTATUS_EMPTYPROJ}: that project holds no files. */
    EMPTYPROJ(0x0002);

    private final int bit;

    DirStatus(int bit) {
        this.bit = bit;
    }

    /**
     * The bit of this flag in a folder status word.
     *
     * @return a single bit
     */
    public int bit() {
        return bit;
    }

    /**
     * The name of the bit in the SCC API.
     *
     * @return for example {@code "SCC_DIRSTATUS_CONTROLLED"}
     */
    public String sccName() {
        return "SCC_DIRSTATUS_" + name();
    }

    /**
     * The flags set in a folder status word. The invalid word -1 has no flags.
     *
     * @param word a folder status word
     * @return a new set
     */
    public static EnumSet<DirStatus> decode(int word) {
        EnumSet<DirStatus> set = EnumSet.noneOf(DirStatus.class);
        if (word == FolderStatus.INVALID) {
            return set;
        }
        for (DirStatus flag : values()) {
            if ((word & flag.bit) != 0) {
                set.add(flag);
            }
        }
        return set;
    }
}
