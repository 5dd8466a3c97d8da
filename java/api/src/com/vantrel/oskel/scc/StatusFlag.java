package com.vantrel.oskel.scc;

import java.util.EnumSet;

/**
 * The bits of a file's status word ({@code SCC_STATUS_...}) as a status query or a populate list
 * reports them.
 *
 * @see FileStatus
 */
public enum StatusFlag {
    /** {@code SCC_STATUS_CONTROLLED}: the file is under source control. */
    CONTROLLED(0x0001),
    /** {@code SCC_STATUS_CHECKEDOUT}: the current user has the file checked out. */
    CHECKEDOUT(0x0002),
    /** {@code SCC_STATUS_OUTOTHER}: another user has the file checked out. */
    OUTOTHER(0x0004),
    /** {@code SCC_STATUS_OUTEXCLUSIVE}: the file is checked out exclusively. */
    OUTEXCLUSIVE(0x0008),
    /** {@code SCC_STATUS_OUTMULTIPLE}: several users have the file checked out. */
    OUTMULTIPLE(0x0010),
    /** {@code SCC_STATUS_OUTOFDATE}: the working file is not the latest version. */
    OUTOFDATE(0x0020),
    /** {@code SCC_STATUS_DELETED}: the file was removed from source control. */
    DELETED(0x0040),
    /** {@code SCC_STATUS_LOCKED}: the file is locked. */
    LOCKED(0x0080),
    /** {@code SCC_STATUS_MERGED}: the file was merged and not yet checked in. */
    MERGED(0x0100),
    /** {@code SCC_STATUS_SHARED}: the file is shared between projects. */
    SHARED(0x0200),
    /** {@code SCC_STATUS_PINNED}: the file is pinned to a version. */
    PINNED(0x0400),
    /** {@code SCC_STATUS_MODIFIED}: the checked-out file was changed. */
    MODIFIED(0x0800),
    /** {@code SCC_STATUS_OUTBYUSER}: the current user has the file checked out. */
    OUTBYUSER(0x1000),
    /** {@code SCC_STATUS_NOMERGE}: the file cannot be merged. */
    NOMERGE(0x2000);

    private final int bit;

    StatusFlag(int bit) {
        this.bit = bit;
    }

    /**
     * The bit of this flag in a status word.
     *
     * @return a single bit
     */
    public int bit() {
        return bit;
    }

    /**
     * The name of the bit in the SCC API.
     *
     * @return for example {@code "SCC_STATUS_CHECKEDOUT"}
     */
    public String sccName() {
        return "SCC_STATUS_" + name();
    }

    /**
     * The flags set in a status word. The invalid status word -1 has no flags.
     *
     * @param word a status word
     * @return a new set
     */
    public static EnumSet<StatusFlag> decode(int word) {
        EnumSet<StatusFlag> set = EnumSet.noneOf(StatusFlag.class);
        if (word == FileStatus.INVALID) {
            return set;
        }
        for (StatusFlag flag : values()) {
            if ((word & flag.bit) != 0) {
                set.add(flag);
            }
        }
        return set;
    }
}
