package com.vantrel.oskel.managedprojects.scci;

/**
 * The native bridge to an SCC API source-control provider.
 *
 * <p>Every method is a thin native of the {@code oskelsccih} library. A connection starts with
 * {@link #_initialize(String)}, which returns an interface handle (0 on failure) that every other
 * connection method takes. Result codes are SCC result codes: 0 for success, the provider's own
 * codes otherwise, and -15 ({@code SCC_E_NONSPECIFICERROR}) when the provider lacks the entry point
 * or the handle is not one that {@code _initialize} returned.
 *
 * <p>The library keeps one provider message list for the whole process, so provider calls and
 * {@link #_getErrList(long)} must be serialised across all handles; calls on one handle come one at
 * a time. {@link #_getProviders()} and {@link #_getProviderKey(String)} may run at any time.
 *
 * <p>Shipped in the typed API's jar, the class leaves the loading to that jar's loader
 * ({@code com.vantrel.oskel.scc.NativeLibrary}, in the same class loader), which extracts the
 * library and its host programs and gives each class loader a copy of its own. Alone, the class
 * loads the library from the path in the system property {@code oskelsccih.library} when it is
 * set, otherwise by name from {@code java.library.path}.
 */
public class JavaSCCInterface {
    static {
        if (!loadedByTheApi()) {
            String path = System.getProperty("oskelsccih.library");
            if (path != null && !path.isEmpty()) {
                System.load(path);
            } else {
                System.loadLibrary("oskelsccih");
            }
        }
    }

    /** Loads the natives through the typed API's loader when this class loader has it. */
    private static boolean loadedByTheApi() {
        Class<?> loader;
        try {
            loader = Class.forName("com.vantrel.oskel.scc.NativeLibrary", true,
                    JavaSCCInterface.class.getClassLoader());
        } catch (ClassNotFoundException e) {
            return false;
        }
        try {
            loader.getMethod("load").invoke(null);
            return true;
        } catch (java.lang.reflect.InvocationTargetException e) {
            if (e.getCause() instanceof Error) {
                throw (Error) e.getCause();
            }
            throw new ExceptionInInitializerError(e.getCause());
        } catch (ReflectiveOperationException e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    public JavaSCCInterface() {}

    // Connection
    public static native long _initialize(String providerKey);
    public static native long _uninitialize(long handle);
    public static native long _getVersion(long handle);
    public static native String _getSCCName(long handle);
    public static native long _getCapabilities(long handle);
    public static native void _setTracing(long handle, int level, String path);

    // Discovery
    public static native String[] _getProviders();
    public static native String _getProviderKey(String providerName);

    // Provider messages
    public static native String[] _getErrList(long handle);

    // Projects
    public static native long _openProject(long handle, Object descriptor);
    public static native long _closeProject(long handle);
    public static native long _getProjPath(long handle, Object descriptor, boolean allowChangePath,
            boolean allowNew);
    public static native long _reGetProjPath(long handle, Object descriptor, String user,
            String localPath, boolean allowChangePath, boolean allowNew);

    // File commands
    public static native long _getFiles(long handle, long count, String[] files);
    public static native long _checkout(long handle, long count, String[] files, String comment);
    public static native long _checkin(long handle, long count, String[] files, String comment);
    public static native long _uncheckout(long handle, long count, String[] files);
    public static native long _add(long handle, long count, String[] files, String comment);
    public static native long _remove(long handle, long count, String[] files, String comment);
    public static native long _history(long handle, long count, String[] files);
    public static native long _diff(long handle, String file);
    public static native long _properties(long handle, String file);
    public static native int[] _queryInfo(long handle, long count, String[] files);
    public static native long _runScc(long handle, long count, String[] files);

    // Command options
    public static native long _getCommandOptions(long handle, long command);
    public static native long _checkCommandOptions(long handle, long command);

    // Populate lists
    public static native long _populateList(long handle, long command, long count, String[] files);
    public static native String[] _getPopulateList(long handle, long which);
}
