package com.vantrel.oskel.scc;

import java.util.EnumSet;
import java.util.Objects;

/**
 * The status of one folder as the provider reported it ({@code SccDirQueryInfo}).
 *
 * @param folder the folder name as it was handed to the provider
 * @param word the provider's status word: {@link #INVALID} when the provider could not tell,
 *             otherwise a combination of {@link DirStatus} bits (0: not controlled)
 */
public record FolderStatus(String folder, int word) {
    /** {@code SCC_DIRSTATUS_INVALID}: the provider could not determine the status. */
    public static final int INVALID = -1;

    /**
     * Checks the folder name.
     *
     * @param folder the folder name, not null
     * @param word the status word
     */
    public FolderStatus {
        Objects.requireNonNull(folder, "folder");
    }

    /**
     * The flags of the status word.
     *
     * @return a new set; empty for an invalid or uncontrolled folder
     */
    public EnumSet<DirStatus> flags() {
        return DirStatus.decode(word);
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
     * Whether the folder has a project under source control.
     *
     * @return true when {@link DirStatus#CONTROLLED} is set
     */
    public boolean isControlled() {
        return flags().contains(DirStatus.CONTROLLED);
    }

    /**
     * The status in words.
     *
     * @return for example {@code "controlled, emptyproj"}, {@code "not controlled"} or
     *         {@code "invalid"}
     */
    public String describe() {
        if (!isValid()) {
            return "invalid";
        }
        EnumSet<DirStatus> flags = flags();
        if (flags.isEmpty()) {
            return "not controlled";
        }
        StringBuilder text = new StringBuilder();
        for (DirStatus flag : flags) {
            text.append(text.length() == 0 ? "" : ", ")
                    .append(flag.name().toLowerCase(java.util.Locale.ROOT));
        }
        return text.toString();
    }
}
