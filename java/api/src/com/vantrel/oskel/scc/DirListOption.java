package com.vantrel.oskel.scc;

import java.util.Collection;

/**
 * What a folder list takes in ({@code SCC_PDL_...}); with none, it lists one level of folders.
 *
 * @see Project#dirList(java.util.Set, java.nio.file.Path...)
 */
public enum DirListOption {
    /** {@code SCC_PDL_RECURSIVE}: every level below the folders, not only the first. */
    RECURSIVE(0x0001),
    /** {@code SCC_PDL_INCLUDEFILES}: the files as well as the folders. */
    INCLUDE_FILES(0x0002);

    private final int bit;

    DirListOption(int bit) {
        this.bit = bit;
    }

    /**
     * The bit of this option in the provider's option word.
     *
     * @return a single bit
     */
    public int bit() {
        return bit;
    }

    /**
     * The option word of a set of options.
     *
     * @param options any options
     * @return the word; 0 ({@code SCC_PDL_ONELEVEL}) for none
     */
    public static int encode(Collection<DirListOption> options) {
        int word = 0;
        for (DirListOption option : options) {
            word |= option.bit;
        }
        return word;
    }
}
