/**
 * Typed Java access to SCC API source-control providers through the {@code oskelsccih} native
 * library.
 *
 * <p>{@link com.vantrel.oskel.scc.Scc} is the entry point: it lists the installed providers and
 * opens a {@link com.vantrel.oskel.scc.Connection} to one of them. The module also carries the
 * native library for Linux x86-64 and Windows x86 and x64 and loads the right one itself
 * ({@link com.vantrel.oskel.scc.NativeLibrary}). The class of the raw natives,
 * {@code com.vantrel.oskel.managedprojects.scci.JavaSCCInterface}, is exported for callers that
 * drive the natives themselves.
 */
module com.vantrel.oskel.scc {
    exports com.vantrel.oskel.scc;
    exports com.vantrel.oskel.managedprojects.scci;
}
