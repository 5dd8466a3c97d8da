package com.vantrel.oskel.scc;

import java.util.EnumSet;
import java.util.Objects;
import java.util.stream.Collectors;

/**
 * The status of one file as the provider reported it.
 *
 * @param file the file name as it was handed to the provider
 * @param word the provider's status word: {@link #INVALID} when the provider could not tell,
 *             otherwise a combination of {@link StatusFlag} bits (0: not controlled)
 */
public record FileStatus(String file, int word) {
    /** {@code SCC_STATUS_INVALID}: the provider could not determine the status. */
    public static final int INVALID = -1;

    /**
     * Checks the file name.
     *
     * @param file the file name, not null
     * @param word the status word
     */
    public FileStatus {
        Objects.requireNonNull(file, "file");
    }

    /**
     * The flags of the status word.
     *
     * @return a new set; empty for an invalid or uncontrolled file
     */
    public EnumSet<StatusFlag> flags() {
        return StatusFlag.decode(word);
    }

    /**
     * Whether one flag is set.
     *
     * @param flag a flag
     * @return true when the word is valid and has the flag's bit
     */
    public boolean has(StatusFlag flag) {
        return isValid() && (word & flag.bit()) != 0;
    }

    /**
     * Whether the provider could determine the status.
     *
     * @return false for {@link #INVALID}
     */
    public boolean isValid() {
        return word != INVALID;
    }

    /**
     * Whether the file is under source control.
     *
     * @return true when {@link StatusFlag#CONTROLLED} is set
     */
    public boolean isControlled() {
        return has(StatusFlag.CONTROLLED);
    }

    /**
     * Whether the current user has the file checked out.
     *
     * @return true when {@link StatusFlag#CHECKEDOUT} is set
     */
    public boolean isCheckedOut() {
        return has(StatusFlag.CHECKEDOUT);
    }

    /**
     * The status in words: "invalid", "not controlled", or the lower-case flag names joined by
     * commas, for example "controlled, checkedout".
     *
     * @return the description
     */
    public String describe() {
        if (!isValid()) {
            return "invalid";
        }
        EnumSet<StatusFlag> flags = flags();
        if (flags.isEmpty()) {
            return (word & ~0x3fff) == 0 ? "not controlled"
                                         : String.format("unknown bits 0x%x", word);
        }
        return flags.stream().map(f -> f.name().toLowerCase(java.util.Locale.ROOT))
                .collect(Collectors.joining(", "));
    }
}
