package com.vantrel.oskel.scc.apitest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeFalse;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.SccConnectException;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Provider;
import com.vantrel.oskel.scc.SccProviderNotFoundException;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccException;
import java.nio.charset.Charset;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.EnumSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.regex.Pattern;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.ValueSource;

/** Discovery, connecting, and what a connection reports about its provider. */
@Tag("results")
class ConnectionTest extends TestProviderBase {
    @ParameterizedTest(name = "capability word {0}")
    @CsvSource(delimiter = '|', value = {
        "0x00000000 | '' | 0x0",
        "0x00000001 | REMOVE | 0x0",
        "0x00000020 | RUNSCC | 0x0",
        "0x80000000 | SCCFILE | 0x0",
        "0x00010000 | CREATESUBPROJECT | 0x0",
        "0x08140000 | BATCH DIRECTORYDIFF MULTICHECKOUT | 0x0",
        "0x33c0fabd | REMOVE DIFF HISTORY PROPERTIES RUNSCC QUERYINFO GETPROJPATH COMMENTCHECKOUT"
                + " COMMENTCHECKIN COMMENTADD COMMENTREMOVE TEXTOUT HISTORY_MULTFILE IGNORECASE"
                + " IGNORESPACE POPULATELIST DIFFALWAYS GET_NOUI | 0x0",
        "0xffffffff | REMOVE RENAME DIFF HISTORY PROPERTIES RUNSCC GETCOMMANDOPTIONS QUERYINFO"
                + " GETEVENTS GETPROJPATH ADDFROMSCC COMMENTCHECKOUT COMMENTCHECKIN COMMENTADD"
                + " COMMENTREMOVE TEXTOUT CREATESUBPROJECT GETPARENTPROJECT BATCH DIRECTORYSTATUS"
                + " DIRECTORYDIFF ADD_STORELATEST HISTORY_MULTFILE IGNORECASE IGNORESPACE"
                + " POPULATELIST COMMENTPROJECT MULTICHECKOUT DIFFALWAYS GET_NOUI REENTRANT SCCFILE"
                + " | 0x0"})
    void capabilitiesAreDecoded(String word, String names, String unknown) throws SccException {
        int bits = Integer.parseUnsignedInt(word.substring(2), 16);
        TestEnvironment.script("init.caps " + word);
        Connection connection = connect();
        EnumSet<Capability> expected = EnumSet.noneOf(Capability.class);
        if (!names.isEmpty()) {
            Arrays.stream(names.split(" ")).map(Capability::valueOf).forEach(expected::add);
        }
        assertEquals(List.of(expected, bits, Integer.parseUnsignedInt(unknown.substring(2), 16)),
                List.of(connection.capabilities(), connection.capabilityBits(),
                        Capability.unknownBits(connection.capabilityBits())),
                "capabilities, word and unknown bits of " + word);
        for (Capability capability : Capability.values()) {
            assertEquals(expected.contains(capability), connection.has(capability),
                    "has(" + capability + ") for " + word);
        }
    }

    @Test
    void nameAndVersionComeFromTheProvider() throws SccException {
        TestEnvironment.script("init.name Scripted Provider", "version 0x00020005");
        Connection connection = connect();
        assertEquals(List.of("Scripted Provider", 0x00020005, "2.5",
                        TestEnvironment.TEST_PROVIDER_KEY),
                List.of(connection.providerName(), connection.version(),
                        Connection.versionText(connection.version()),
                        connection.providerKey().orElseThrow()),
                "name, version and key");
    }

    @Test
    void providersAreListedWithTheirKeys() throws SccException {
        Map<String, java.nio.file.Path> providers = new LinkedHashMap<>();
        providers.put(TestEnvironment.TEST_PROVIDER, TestEnvironment.provider("testprovider"));
        providers.put("Second", TestEnvironment.provider("testprovider_initonly"));
        TestEnvironment.registerProviders(providers);
        assertEquals(List.of(TestEnvironment.TEST_PROVIDER + " (" + TestEnvironment.TEST_PROVIDER_KEY
                        + ")", "Second (Software\\Vantrel\\Second)"),
                Scc.providers().stream().map(Provider::toString).collect(Collectors.toList()),
                "installed providers");
        try (Connection connection = Scc.providers().get(1).connect()) {
            assertEquals("Software\\Vantrel\\Second", connection.providerKey().orElseThrow(),
                    "key of the provider connected through its list entry");
        }
        try (Connection connection = Scc.connectDefault()) {
            assertEquals("Test Provider", connection.providerName(), "the default provider");
        }
    }

    @Test
    void anUnknownProviderNameIsNotFound() {
        SccProviderNotFoundException e = assertThrows(SccProviderNotFoundException.class,
                () -> Scc.connect("No Such Provider"));
        assertEquals(SccProviderNotFoundException.Reason.UNKNOWN_PROVIDER, e.reason(), e.getMessage());
        assertTrue(e.getMessage().contains(TestEnvironment.TEST_PROVIDER),
                "the message lists the installed providers: " + e.getMessage());
    }

    @Test
    void withoutARegistryNothingIsFound() {
        TestEnvironment.removeRegistry();
        SccProviderNotFoundException listing = assertThrows(SccProviderNotFoundException.class,
                Scc::providers);
        SccProviderNotFoundException connecting = assertThrows(SccProviderNotFoundException.class,
                () -> Scc.connect(TestEnvironment.TEST_PROVIDER));
        assertEquals(List.of(SccProviderNotFoundException.Reason.NO_REGISTRY,
                        SccProviderNotFoundException.Reason.NO_REGISTRY),
                List.of(listing.reason(), connecting.reason()), "reasons");
    }

    @ParameterizedTest(name = "{0}")
    @CsvSource(delimiter = '|', value = {
        "a library that does not load | missing | '' | the provider library did not load"
                + " | ; provider library \\S+missing\\S*: \\S*missing\\S*: cannot open shared object file",
        "SccInitialize failing | testprovider | return SccInitialize -1 | SccInitialize failed"
                + " | failed with SCC_E_INITIALIZEFAILED \\(-1\\); registry \\S+ \\(ok\\)",
        "no SccInitialize | testprovider_uninit | '' | the provider library has no SccInitialize"
                + " | has no SccInitialize; registry"})
    void providersThatDoNotStartSayWhy(String what, String library, String script,
            String failure, String pattern) {
        Path path = TestEnvironment.provider(library);
        if (TestEnvironment.windows()) {
            pattern = pattern.replace("\\S*missing\\S*: cannot open shared object file", "error 126")
                    .replace("registry \\S+ \\(ok\\)", "registry HKEY_LOCAL_MACHINE \\(the Windows registry\\) \\(ok\\)");
        }
        TestEnvironment.registerProviders(Map.of("Broken", path));
        TestEnvironment.script(script);
        SccConnectException e = assertThrows(SccConnectException.class, () -> Scc.connect("Broken"));
        assertEquals(List.of(SccConnectException.class, -1, "Software\\Vantrel\\Broken",
                        Optional.of(failure), Optional.of(path.toString()),
                        Optional.of(TestEnvironment.registryName()), Optional.of("ok")),
                List.of(e.getClass(), e.code(), e.providerKey(), e.failure(), e.libraryPath(),
                        e.registryFile(), e.registryState()),
                "failure for " + what + ": " + e.getMessage());
        assertTrue(Pattern.compile(pattern).matcher(e.getMessage()).find(),
                "message for " + what + " should match " + pattern + ": " + e.getMessage());
    }

    @ParameterizedTest(name = "registry file {0}")
    @CsvSource({"missing", "malformed", "not a regular file"})
    void aRegistryFileThatCannotBeUsedIsNamedWithItsState(String state) throws Exception {
        assumeFalse(TestEnvironment.windows(), "Windows reads the system registry, not a file");
        Path registry = TestEnvironment.registry();
        TestEnvironment.removeRegistry();
        if (state.equals("malformed")) {
            TestEnvironment.write(registry, "[HKEY_LOCAL_MACHINE\\Software]\r\n\"a\"=\"b\"\r\n");
        } else if (state.equals("not a regular file")) {
            Files.createDirectory(registry);
        }
        try {
            SccConnectException e = assertThrows(SccConnectException.class,
                    () -> Scc.connectByKey(TestEnvironment.TEST_PROVIDER_KEY));
            assertEquals(List.of(Optional.of(registry.toString()), Optional.of(state)),
                    List.of(e.registryFile(), e.registryState()), e.getMessage());
            assertTrue(e.getMessage().contains("registry " + registry + " (" + state + ")"),
                    e.getMessage());
        } finally {
            if (Files.isDirectory(registry)) {
                Files.delete(registry);
            }
        }
    }

    @Test
    void theRegistryFileCanBeChosenFromJava() throws Exception {
        Path other = TestEnvironment.newFolder("registry").resolve("other.reg");
        TestEnvironment.write(other, TestEnvironment.registryText(
                Map.of("Elsewhere", TestEnvironment.provider("testprovider")), false));
        TestEnvironment.removeRegistry();
        if (TestEnvironment.windows()) {
            assertThrows(UnsupportedOperationException.class, () -> Scc.useRegistryFile(other),
                    "Windows reads the system registry, not a file");
            return;
        }
        try {
            Scc.useRegistryFile(other);
            assertEquals(List.of("Elsewhere"), names(), "providers of the chosen file");
            try (Connection connection = Scc.connect("Elsewhere")) {
                assertEquals("Test Provider", connection.providerName(), "connected");
            }
            Scc.useRegistryFile(null);
            System.setProperty(Scc.REGISTRY_PROPERTY, other.toString());
            assertEquals(List.of("Elsewhere"), names(), "providers of the property's file");
        } finally {
            Scc.useRegistryFile(null);
            System.clearProperty(Scc.REGISTRY_PROPERTY);
        }
        assertThrows(SccProviderNotFoundException.class, Scc::providers,
                "back to the environment's file, which is gone");
    }

    /** The name reaches the file system as the JVM names the file, not as modified UTF-8. */
    @Tag("locale")
    @ParameterizedTest(name = "{0}")
    @ValueSource(strings = {"registry-\u00e4\u00f6\u00fc.reg", "registry-\u00e4\u00f6\u00fc-\u65e5\u672c-\ud83d\ude00.reg"})
    void aRegistryFileWithANonAsciiNameIsTheOneRead(String name) throws Exception {
        assumeFalse(TestEnvironment.windows(), "Windows reads the system registry, not a file");
        Charset fileNames = Charset.forName(System.getProperty("sun.jnu.encoding"));
        assumeTrue(fileNames.newEncoder().canEncode(name), "file names in " + fileNames + " cannot hold " + name);
        Path file = TestEnvironment.newFolder("registry").resolve(name);
        TestEnvironment.write(file, TestEnvironment.registryText(
                Map.of("Elsewhere", TestEnvironment.provider("testprovider")), false));
        try {
            Scc.useRegistryFile(file);
            assertEquals(List.of("Elsewhere"), names(), "providers of " + file);
        } finally {
            Scc.useRegistryFile(null);
        }
    }

    private static List<String> names() throws SccException {
        return Scc.providers().stream().map(Provider::name).collect(Collectors.toList());
    }

    @Test
    void aClosedConnectionRefusesCallsAndClosesOnce() throws SccException {
        Connection connection = connect();
        connection.close();
        connection.close();
        assertEquals(1, TestEnvironment.calls("SccUninitialize").size(),
                "SccUninitialize calls after two closes");
        assertTrue(connection.isClosed(), "isClosed after close");
        assertThrows(IllegalStateException.class, () -> connection.openProject(location()),
                "openProject on a closed connection");
    }
}
