package com.vantrel.oskel.scc;

import java.nio.file.Path;
import java.util.Collections;
import java.util.EnumSet;
import java.util.Objects;
import java.util.Set;

/**
 * A change of a file's status that the provider queued ({@code SccGetEvents}).
 *
 * @param file the file whose status changed
 * @param flags its new status, in the order of {@link StatusFlag}
 * @param word the provider's status word ({@link FileStatus#INVALID} when it could not tell)
 * @see Connection#pollEvents()
 */
public record StatusEvent(Path file, Set<StatusFlag> flags, int word) {
    /**
     * Copies the flags.
     *
     * @param file the file, not null
     * @param flags the flags of the word
     * @param word the status word
     */
    public StatusEvent {
        Objects.requireNonNull(file, "file");
        EnumSet<StatusFlag> copy = EnumSet.noneOf(StatusFlag.class);
        copy.addAll(flags);
        flags = Collections.unmodifiableSet(copy);
    }

    /**
     * An event with the flags of a status word.
     *
     * @param file the file
     * @param word the status word
     * @return the event
     */
    public static StatusEvent of(Path file, int word) {
        return new StatusEvent(file, StatusFlag.decode(word), word);
    }
}
