package com.vantrel.oskel.scc;

import java.nio.file.Path;
import java.util.Objects;

/**
 * How the name of one file changed in the store, as {@code SccQueryChanges} reported it.
 *
 * @param file the name that was asked about
 * @param kind what happened
 * @param latestName the name the file has now in the store (the same as {@code file} when the
 *                   provider reports no other)
 * @see Project#queryChanges(Path...)
 */
public record FileChange(Path file, ChangeKind kind, Path latestName) {
    /**
     * Checks the components.
     *
     * @param file the file, not null
     * @param kind the kind, not null
     * @param latestName the latest name, not null
     */
    public FileChange {
        Objects.requireNonNull(file, "file");
        Objects.requireNonNull(kind, "kind");
        Objects.requireNonNull(latestName, "latestName");
    }

    /**
     * Whether the store renamed or moved the file, in either direction.
     *
     * @return true for {@link ChangeKind#RENAMED_TO} and {@link ChangeKind#RENAMED_FROM}
     */
    public boolean isRename() {
        return kind == ChangeKind.RENAMED_TO || kind == ChangeKind.RENAMED_FROM;
    }
}
