package com.vantrel.oskel.scc.internal;

/**
 * The natives the typed API needs beside those of {@code JavaSCCInterface}, in the same native
 * library. Not part of the API: the package is not exported.
 */
public final class NativeBridge {
    private NativeBridge() {}

    /** Receives the provider's status lines while a provider call runs on this thread. */
    public interface StatusReceiver {
        /**
         * One status line.
         *
         * @param text the line
         */
        void status(String text);
    }

    /**
     * Ends a connection for good and frees its native object; the handle is forgotten first.
     *
     * @param handle a handle from {@code _initialize}
     * @return the provider's {@code SccUninitialize} code, or -15 for a handle that is not live
     */
    public static native long release(long handle);

    /**
     * Takes the provider messages collected so far, as {@code _getErrList} does, without a live
     * handle (after {@link #release(long)}).
     *
     * @return the entries, "type text" each; null entries for texts that do not convert
     */
    public static native String[] takeMessages();

    /**
     * Opens a project with the given {@code SccOpenProject} flags.
     *
     * @param handle the connection
     * @param descriptor the project descriptor
     * @param flags {@code SCC_OP_*} flags
     * @return the provider's code
     */
    public static native long openProject(long handle, Object descriptor, int flags);

    /**
     * Installs the receiver of status lines for this thread's provider calls; null removes it.
     * While one is installed, status lines are also kept among the call's messages.
     *
     * @param receiver the receiver, or null
     */
    public static native void setProgress(StatusReceiver receiver);

    /**
     * Names the registry file for the connections that follow; null goes back to the
     * environment variable and the default file.
     *
     * @param path the file, or null
     * @return false where the registry is not a file (Windows)
     */
    public static native boolean setRegistryFile(String path);

    /**
     * What the last failed connect of this thread found: the failed step, registry location and
     * state, provider key, library path, loader error, "hosted" or null, host program, host
     * error, SccInitialize's code; null for what is not known.
     *
     * @return ten texts
     */
    public static native String[] connectReport();
}
