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
     * Starts a connection, as {@code _initialize} does, whose provider messages go to a list of
     * its own ({@link #takeMessages(long)}), not to the process-wide list of
     * {@code JavaSCCInterface}.
     *
     * @param providerKey the provider key, or null for the default provider
     * @return the handle, or 0 ({@link #connectReport()} says why)
     */
    public static native long connect(String providerKey);

    /**
     * Ends a connection ({@code SccUninitialize}) and lets its provider go; the handle stays live
     * for {@link #takeMessages(long)} and {@link #release(long)}.
     *
     * @param handle a handle from {@link #connect(String)}
     * @return the provider's {@code SccUninitialize} code, or -15
     */
    public static native long finish(long handle);

    /**
     * Ends a connection for good (unless {@link #finish(long)} did) and frees its native object;
     * the handle is forgotten first, and the object outlives every {@link #cancel(long)} that
     * found it.
     *
     * @param handle a handle from {@code _initialize} or {@link #connect(String)}
     * @return the provider's {@code SccUninitialize} code, or -15 for a handle that is not live
     */
    public static native long release(long handle);

    /**
     * Takes the lock of the connection's provider library for this thread, which every
     * connection to that library in the process shares (all class loaders included).
     *
     * @param handle the connection
     * @param waitMs the longest wait
     * @return 0 taken; 1 not within the wait; 2 this thread holds it already (it is inside a
     *     call to that library); 3 this thread holds another library's lock and this one is
     *     busy (no wait then); -15 for a handle that is not live
     */
    public static native int enter(long handle, int waitMs);

    /**
     * Lets go of the lock {@link #enter(long, int)} took.
     *
     * @param handle the connection
     * @return false when this thread did not hold it
     */
    public static native boolean leave(long handle);

    /**
     * Takes the provider messages of a connection from {@link #connect(String)} collected so far:
     * those of its calls, and those its provider sent from threads of its own. A connection keeps
     * at most 10,000 messages (16 MiB) between takes; the take after more were sent ends with a
     * message saying how many were dropped.
     *
     * @param handle the connection
     * @return the entries, "type text" each; null entries for texts that do not convert; null for
     *     a handle that is not live
     */
    public static native String[] takeMessages(long handle);

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

    // ---- The provider API's entry points beyond the 28 natives ----
    //
    // Each takes a handle from _initialize and returns the provider's code; -15 (traced as the 28
    // natives trace it) for a handle that is not live, an argument that cannot be passed (a null
    // array, a length that does not match, a name that does not convert to the provider's text),
    // or an entry point the provider lacks. Names are converted as the 28 natives convert them;
    // texts coming back that do not convert arrive as null. The provider's messages of the call
    // are collected as for every native. Output arrays are written only when the code is >= 0.

    /** Receives the provider's report that it renamed or moved a file during a call. */
    public interface NameChangeReceiver {
        /**
         * One rename.
         *
         * @param oldName the name before
         * @param newName the name after
         */
        void nameChanged(String oldName, String newName);
    }

    /** Receives the changes of {@link #queryChanges}, one per file. */
    public interface ChangeReceiver {
        /**
         * One file's change.
         *
         * @param name the name asked about
         * @param changeType an {@code SCC_CHANGE_*} number
         * @param latestName the name the file has now
         * @return true to go on, false to stop the provider
         */
        boolean change(String name, int changeType, String latestName);
    }

    /** Receives the items of {@link #populateDirList}, one per call. */
    public interface DirListReceiver {
        /**
         * One item under source control.
         *
         * @param folder true for a folder, false for a file
         * @param name its full local path
         * @return true to go on, false to stop the provider
         */
        boolean item(boolean folder, String name);
    }

    /**
     * {@code SccRename}: renames or moves a file in the store (the working file is the caller's).
     *
     * @param handle the connection
     * @param oldName the current full name
     * @param newName the new full name
     * @return the provider's code
     */
    public static native long rename(long handle, String oldName, String newName);

    /**
     * {@code SccSetOption} for the options whose value is a number: {@code SCC_OPT_EVENTQUEUE}
     * (1), {@code SCC_OPT_HASCANCELMODE} (3), {@code SCC_OPT_SCCCHECKOUTONLY} (5),
     * {@code SCC_OPT_SHARESUBPROJ} (6). User data (2) and the name-change callback (4) are the
     * bridge's own ({@link #setNameChangeReceiver}): -15 here. With cancel mode on, message type 5
     * is the provider's "cancelled?" question (answered from {@link #cancel}) and types 5 to 7 are
     * not collected as messages.
     *
     * @param handle the connection
     * @param option the option number
     * @param value its value
     * @return the provider's code ({@code SCC_I_SHARESUBPROJOK} = 7 answers option 6)
     */
    public static native long setOption(long handle, int option, int value);

    /**
     * Installs the bridge's name-change callback with this receiver ({@code SCC_OPT_USERDATA},
     * then {@code SCC_OPT_NAMECHANGEPFN}), or removes it (null: both set to null). The receiver
     * is called on the thread of the provider call during which the provider reports a rename; a
     * report from another thread, or outside a call, is delivered during the connection's next
     * call.
     *
     * @param handle the connection
     * @param receiver the receiver, or null
     * @return the provider's code for {@code SCC_OPT_NAMECHANGEPFN}
     */
    public static native long setNameChangeReceiver(long handle, NameChangeReceiver receiver);

    /**
     * {@code SccGetEvents}: takes one queued status change.
     *
     * @param handle the connection
     * @param name one element: receives the file's name, "" when the queue was empty
     * @param values two elements: receive the new status word and the events still queued
     * @return the provider's code
     */
    public static native long getEvents(long handle, String[] name, int[] values);

    /**
     * {@code SccGetExtendedCapabilities} for one code.
     *
     * @param handle the connection
     * @param capability an {@code SCC_EXCAP_*} number
     * @param supported one element: receives the answer
     * @return the provider's code
     */
    public static native long getExtendedCapabilities(long handle, int capability, boolean[] supported);

    /**
     * {@code SccAddFromScc}: both calls, the second letting the provider free its array.
     *
     * @param handle the connection
     * @param destination the local destination folder, or null for none
     * @param names one element: receives the names of the files added (names only)
     * @return the provider's code of the first call
     */
    public static native long addFromScc(long handle, String destination, String[][] names);

    /**
     * {@code SccGetUserOption}.
     *
     * @param handle the connection
     * @param option an {@code SCC_USEROPT_*} number
     * @param value one element: receives the value
     * @return the provider's code
     */
    public static native long getUserOption(long handle, int option, int[] value);

    /**
     * {@code SccBeginBatch} of the connection's provider.
     *
     * @param handle the connection
     * @return the provider's code
     */
    public static native long beginBatch(long handle);

    /**
     * {@code SccEndBatch} of the connection's provider.
     *
     * @param handle the connection
     * @return the provider's code
     */
    public static native long endBatch(long handle);

    /**
     * {@code SccCreateSubProject}.
     *
     * @param handle the connection
     * @param texts five elements: user, parent project path, sub-project name, aux project path,
     *     sub-project path; user, aux project path and sub-project path are written back
     * @return the provider's code
     */
    public static native long createSubProject(long handle, String[] texts);

    /**
     * {@code SccGetParentProjectPath}.
     *
     * @param handle the connection
     * @param texts four elements: user, project path, aux project path, parent project path;
     *     user, aux project path and parent project path are written back
     * @return the provider's code
     */
    public static native long getParentProjectPath(long handle, String[] texts);

    /**
     * {@code SccDirQueryInfo}.
     *
     * @param handle the connection
     * @param dirs the folders
     * @param status as many elements: receive {@code SCC_DIRSTATUS_*} words
     * @return the provider's code
     */
    public static native long dirQueryInfo(long handle, String[] dirs, int[] status);

    /**
     * {@code SccQueryInfo} with the provider's code, which {@code _queryInfo} does not pass on.
     *
     * @param handle the connection
     * @param names the files
     * @param status as many elements: receive the status words (when the code is not an error)
     * @return the provider's code; -15 also for a provider without {@code SccQueryInfo}
     */
    public static native long queryInfo(long handle, String[] names, int[] status);

    /**
     * The comment lengths {@code SccInitialize} reported: the longest check-out comment and the
     * longest other comment the provider takes, in bytes of its text.
     *
     * @param handle the connection
     * @return two elements, or null for a handle that is not live
     */
    public static native int[] commentLengths(long handle);

    /**
     * {@code SccDirDiff}, with no provider option block.
     *
     * @param handle the connection
     * @param dir the folder
     * @param flags {@code SCC_DIFF_*} flags
     * @return the provider's code
     */
    public static native long dirDiff(long handle, String dir, int flags);

    /**
     * {@code SccQueryChanges}; the receiver is called on this thread during the call.
     *
     * @param handle the connection
     * @param names the files
     * @param receiver the receiver
     * @return the provider's code
     */
    public static native long queryChanges(long handle, String[] names, ChangeReceiver receiver);

    /**
     * {@code SccPopulateDirList}; the receiver is called on this thread during the call.
     *
     * @param handle the connection
     * @param dirs the folders
     * @param options {@code SCC_PDL_*} flags
     * @param receiver the receiver
     * @return the provider's code
     */
    public static native long populateDirList(long handle, String[] dirs, int options, DirListReceiver receiver);

    /**
     * {@code SccIsMultiCheckoutEnabled}.
     *
     * @param handle the connection
     * @param enabled one element: receives the answer
     * @return the provider's code
     */
    public static native long isMultiCheckoutEnabled(long handle, boolean[] enabled);

    /**
     * {@code SccWillCreateSccFile}.
     *
     * @param handle the connection
     * @param names the files
     * @param sccFiles as many elements: receive the answers
     * @return the provider's code
     */
    public static native long willCreateSccFile(long handle, String[] names, boolean[] sccFiles);

    /**
     * Asks the provider call now running on this connection to stop: from now until that call
     * returns, the text-out callback answers {@code SCC_MSG_DOCANCEL} and every other message
     * with {@code SCC_MSG_RTN_CANCEL}. With no call running, nothing happens. Any thread; it
     * waits for no provider call and takes no lock one holds. It takes effect in cancel mode
     * ({@code setOption(handle, 3, 1)} accepted by the provider): without it the text-out answers
     * stay {@code SCC_MSG_RTN_OK}, as a provider not told of cancel mode expects, and a hosted
     * provider's messages travel one way. In-process, the answer reaches text-out calls the
     * provider makes on the thread of the call; hosted, on any of its threads.
     *
     * @param handle the connection
     * @return false for a handle that is not live
     */
    public static native boolean cancel(long handle);
}
