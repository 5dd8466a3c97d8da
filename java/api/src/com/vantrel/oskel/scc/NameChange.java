package com.vantrel.oskel.scc;

import java.nio.file.Path;
import java.util.Objects;

/**
 * The provider's report that it renamed or moved a file while it carried out a command.
 *
 * @param oldName the file's name before
 * @param newName its name after
 * @see Connection#setNameChangeListener(java.util.function.Consumer)
 */
public record NameChange(Path oldName, Path newName) {
    /**
     * Checks the names.
     *
     * @param oldName the name before, not null
     * @param newName the name after, not null
     */
    public NameChange {
        Objects.requireNonNull(oldName, "oldName");
        Objects.requireNonNull(newName, "newName");
    }
}
