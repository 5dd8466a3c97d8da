package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
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
 * default provider. On Linux the library reads these keys from a registry export file (the file
 * named by the environment variable {@code OSKELSCCIH_REGISTRY}, or
 * {@code /etc/oskelsccih/registry.reg}).
 *
 * <pre>{@code
 * try (Connection scc = Scc.connect("LocalStore");
 *      Project project = scc.openProject(ProjectLocation.of(user, "demo", folder, null))) {
 *     project.add(List.of(folder.resolve("hello.txt")), "first version");
 * }
 * }</pre>
 */
public final class Scc {
    private Scc() {}

    /**
     * The installed providers, in registry order, each with its provider key.
     *
     * @return the providers; empty when the list of installed providers is empty
     * @throws ProviderNotFoundException with {@link ProviderNotFoundException.Reason#NO_REGISTRY}
     *         when the registry has no list of installed providers, or an entry could not be read
     */
    public static List<Provider> providers() throws ProviderNotFoundException {
        String[] names = providerNames();
        List<Provider> providers = new ArrayList<>(names.length);
        for (String name : names) {
            providers.add(new Provider(name, JavaSCCInterface._getProviderKey(name)));
        }
        return List.copyOf(providers);
    }

    private static String[] providerNames() throws ProviderNotFoundException {
        NativeLibrary.load();
        String[] names = JavaSCCInterface._getProviders();
        if (names == null) {
            throw new ProviderNotFoundException(ProviderNotFoundException.Reason.NO_REGISTRY, null,
                    "the registry has no readable list of installed source-control providers");
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
        NativeLibrary.load();
        return Optional.ofNullable(JavaSCCInterface._getProviderKey(providerName));
    }

    /**
     * Connects to an installed provider by its display name.
     *
     * @param providerName the name, as {@link #providers()} lists it
     * @return the connection
     * @throws ProviderNotFoundException when the registry does not list the provider
     * @throws ConnectException when the provider does not start
     */
    public static Connection connect(String providerName) throws ConnectException {
        Optional<String> key = providerKey(providerName);
        if (key.isEmpty()) {
            String[] names = providerNames();
            throw new ProviderNotFoundException(ProviderNotFoundException.Reason.UNKNOWN_PROVIDER,
                    providerName, "no source-control provider named \"" + providerName
                            + "\" is installed" + (names.length == 0 ? " (none is)"
                                    : "; installed: " + String.join(", ", names)));
        }
        return Connection.open(key.get());
    }

    /**
     * Connects to a provider by its provider key, the registry path of the provider's own key.
     *
     * @param providerKey the key, for example {@code "Software\\Vantrel\\LocalStore"}
     * @return the connection
     * @throws ConnectException when the provider does not start
     */
    public static Connection connectByKey(String providerKey) throws ConnectException {
        Objects.requireNonNull(providerKey, "providerKey");
        return Connection.open(providerKey);
    }

    /**
     * Connects to the default provider, the one whose key {@code ProviderRegKey} holds.
     *
     * @return the connection
     * @throws ConnectException when there is no default provider or it does not start
     */
    public static Connection connectDefault() throws ConnectException {
        return Connection.open(null);
    }
}
