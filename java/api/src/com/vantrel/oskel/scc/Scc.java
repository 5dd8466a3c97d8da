package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import com.vantrel.oskel.scc.internal.NativeBridge;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Objects;
import java.util.Optional;

/**
 * Finds installed source-control providers and connects to them.
 *
 * <p>Providers are listed in the registry under
 * {@code HKEY_LOCAL_MACHINE\Software\SourceCodeControlProvider\InstalledSCCProviders}, one value per
 * provider from its display name to its provider key; {@code ProviderRegKey} beside it names the
 * default provider. On Linux the library reads these keys from a registry export file: the file
 * given to {@link #useRegistryFile(Path)}, else the one the system property
 * {@value #REGISTRY_PROPERTY} names, else the one the environment variable
 * {@code OSKELSCCIH_REGISTRY} names, else {@code /etc/oskelsccih/registry.reg}.
 *
 * <pre>{@code
 * try (Connection scc = Scc.connect("LocalStore");
 *      Project project = scc.openProject(ProjectLocation.of(user, "demo", folder, null),
 *              OpenMode.CREATE_IF_NEW)) {
 *     project.add("first version", folder.resolve("hello.txt"));
 * }
 * }</pre>
 */
public final class Scc {
    /** System property naming the registry file on Linux, read at each connect and listing. */
    public static final String REGISTRY_PROPERTY = "oskelsccih.registry";

    private static final System.Logger LOG = System.getLogger("com.vantrel.oskel.scc");

    // Guarded by Scc.class.
    private static Path chosenRegistry;
    private static String appliedRegistry;

    private Scc() {}

    /**
     * Names the registry file that the connections and listings that follow read (Linux); the
     * system property {@value #REGISTRY_PROPERTY} and the environment variable
     * {@code OSKELSCCIH_REGISTRY} are then not consulted. Connections already open keep their
     * provider.
     *
     * @param file the registry export file, or null to go back to the property, the environment
     *             variable and the default file
     * @throws UnsupportedOperationException on Windows, where the registry is not a file
     * @throws SccUnsupportedPlatformException when no native library exists for this platform
     *         (the choice is then not kept)
     */
    public static void useRegistryFile(Path file) {
        NativeLibrary.load();
        synchronized (Scc.class) {
            chosenRegistry = file == null ? null : file.toAbsolutePath();
            if (!applyRegistry() && file != null) {
                chosenRegistry = null;
                throw new UnsupportedOperationException(
                        "this platform reads the system registry, not a registry file");
            }
        }
    }

    /**
     * Loads the native library and hands it the registry file chosen through the API or the
     * system property, when that changed; called before every listing and connect. Throws
     * {@link SccUnsupportedPlatformException} on a platform without natives.
     */
    static void ready() {
        NativeLibrary.load();
        synchronized (Scc.class) {
            applyRegistry();
        }
    }

    private static boolean applyRegistry() {
        NativeLibrary.load();
        String wanted = chosenRegistry != null ? chosenRegistry.toString()
                                               : System.getProperty(REGISTRY_PROPERTY);
        if (wanted != null && wanted.isEmpty()) {
            wanted = null;
        }
        if (Objects.equals(wanted, appliedRegistry)) {
            return true;
        }
        if (wanted != null && wanted.indexOf('\0') >= 0) {
            throw new IllegalArgumentException("registry file name contains a NUL character");
        }
        boolean applied = NativeBridge.setRegistryFile(wanted);
        if (applied) {
            appliedRegistry = wanted;
            LOG.log(System.Logger.Level.DEBUG, "registry file: {0}",
                    wanted == null ? "from OSKELSCCIH_REGISTRY or the default" : wanted);
        }
        return applied;
    }

    /**
     * The installed providers, in registry order, each with its provider key.
     *
     * @return the providers; empty when the list of installed providers is empty
     * @throws SccProviderNotFoundException with
     *         {@link SccProviderNotFoundException.Reason#NO_REGISTRY} when the registry has no list
     *         of installed providers, or an entry could not be read
     */
    public static List<Provider> providers() throws SccProviderNotFoundException {
        String[] names = providerNames();
        List<Provider> providers = new ArrayList<>(names.length);
        for (String name : names) {
            providers.add(new Provider(name, JavaSCCInterface._getProviderKey(name)));
        }
        return List.copyOf(providers);
    }

    private static String[] providerNames() throws SccProviderNotFoundException {
        ready();
        String[] names = JavaSCCInterface._getProviders();
        if (names == null) {
            String[] report = NativeBridge.connectReport();
            String where = report == null ? null
                    : report[SccConnectException.Report.REGISTRY] + " ("
                            + report[SccConnectException.Report.REGISTRY_STATE] + ")";
            throw new SccProviderNotFoundException(SccProviderNotFoundException.Reason.NO_REGISTRY,
                    null, "the registry has no readable list of installed source-control providers"
                            + (where == null ? "" : "; registry: " + where));
        }
        return names;
    }

    /**
     * The provider key of an installed provider.
     *
     * @param providerName the provider's display name
     * @return the key, or empty when no installed provider has this name
     */
    public static Optional<String> providerKey(String providerName) {
        Objects.requireNonNull(providerName, "providerName");
        ready();
        return Optional.ofNullable(JavaSCCInterface._getProviderKey(providerName));
    }

    /**
     * Connects to an installed provider by its display name.
     *
     * @param providerName the name, as {@link #providers()} lists it
     * @return the connection
     * @throws SccProviderNotFoundException when the registry does not list the provider
     * @throws SccConnectException when the provider does not start; the message names the
     *         registry file, the provider library and why it did not start
     */
    public static Connection connect(String providerName) throws SccConnectException {
        Optional<String> key = providerKey(providerName);
        if (key.isEmpty()) {
            String[] names = providerNames();
            throw new SccProviderNotFoundException(
                    SccProviderNotFoundException.Reason.UNKNOWN_PROVIDER, providerName,
                    "no source-control provider named \"" + providerName + "\" is installed"
                            + (names.length == 0 ? " (none is)"
                                    : "; installed: " + String.join(", ", names)));
        }
        return Connection.open(key.get());
    }

    /**
     * Connects to a provider by its provider key, the registry path of the provider's own key.
     *
     * @param providerKey the key, for example {@code "Software\\Vantrel\\LocalStore"}
     * @return the connection
     * @throws SccConnectException when the provider does not start
     */
    public static Connection connectByKey(String providerKey) throws SccConnectException {
        Objects.requireNonNull(providerKey, "providerKey");
        return Connection.open(providerKey);
    }

    /**
     * Connects to the default provider, the one whose key {@code ProviderRegKey} holds.
     *
     * @return the connection
     * @throws SccConnectException when there is no default provider or it does not start
     */
    public static Connection connectDefault() throws SccConnectException {
        return Connection.open(null);
    }
}
