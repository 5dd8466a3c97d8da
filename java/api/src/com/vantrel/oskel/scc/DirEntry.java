package com.vantrel.oskel.scc;

import java.nio.file.Path;
import java.util.Objects;

/**
 * One folder or file under source control, as a folder list reports it
 * ({@code SccPopulateDirList}).
 *
 * @param path its full local path
 * @param folder true for a folder, false for a file
 * @see Project#dirList(java.util.Set, Path...)
 */
public record DirEntry(Path path, boolean folder) {
    /**
     * Checks the path.
     *
     * @param path the path, not null
     * @param folder whether it is a folder
     */
    public DirEntry {
        Objects.requireNonNull(path, "path");
    }
}
