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
 *
 * <p>Loading the natives is a restricted operation on JDK 22 and later, which warns about it (and
 * may refuse it in later releases) unless native access is enabled for this module:
 * {@code java --enable-native-access=com.vantrel.oskel.scc ...} with the jar on the module path,
 * or {@code --enable-native-access=ALL-UNNAMED} (or the manifest attribute
 * {@code Enable-Native-Access: ALL-UNNAMED} of an executable jar) with it on the class path. JDK 17
 * to 21 need neither.
 *
 * <p>The module can be loaded by several class loaders of one JVM at once (as plug-ins of an IDE
 * are); each gets a native library of its own.
 */
module com.vantrel.oskel.scc {
    exports com.vantrel.oskel.scc;
    exports com.vantrel.oskel.managedprojects.scci;
}
