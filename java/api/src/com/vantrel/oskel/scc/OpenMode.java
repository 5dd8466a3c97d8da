package com.vantrel.oskel.scc;

/**
 * Whether opening a project may create it ({@link Connection#openProject(ProjectLocation,
 * OpenMode)}).
 */
public enum OpenMode {
    /** Open a project that exists; the provider refuses one that does not. */
    EXISTING,
    /** Open the project, creating it when it is new ({@code SCC_OP_CREATEIFNEW}). */
    CREATE_IF_NEW
}
