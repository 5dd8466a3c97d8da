package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.Consumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** {@code _getProviders} and {@code _getProviderKey}: the installed providers in the registry. */
@Tag("discovery")
class DiscoveryTest extends NativeTestBase {
    private static final String INSTALLED = RegistryFile.INSTALLED_PROVIDERS;

    /** Installs the providers, name and key alternating, in this order. */
    private void install(String... namesAndKeys) {
        registry.clear().key(INSTALLED);
        for (int i = 0; i < namesAndKeys.length; i += 2) {
            registry.installProvider(namesAndKeys[i], namesAndKeys[i + 1]);
        }
    }

    private static String show(String[] names) {
        return names == null ? "null" : Arrays.toString(names);
    }

    @Test
    void standardRegistryListsTheTestProviderAndItsKey() {
        assertArrayEquals(new String[] {RegistryFile.TEST_PROVIDER_NAME}, JavaSCCInterface._getProviders(),
                "_getProviders");
        assertEquals(RegistryFile.TEST_PROVIDER_KEY,
                JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME), "_getProviderKey");
    }

    static Stream<Arguments> listings() {
        String name259 = "N".repeat(258) + "e";
        return Stream.of(
                Arguments.of("three providers in registry order",
                        new String[] {"Zeta SCM", "Software\\Zeta", "Alpha SCM", "Software\\Alpha",
                                "Mid SCM", "Software\\Mid\\Sub"}),
                Arguments.of("a name of 259 characters", new String[] {name259, "Software\\Long",
                        "Short", "Software\\Short"}),
                Arguments.of("a key of 259 characters", new String[] {"Long key",
                        RegistryFile.keyPathOfLength("Software\\Vantrel", 259)}),
                Arguments.of("names with quotes, backslashes and punctuation", new String[] {
                        "Quote \"x\"", "Software\\Q", "Back\\slash", "Software\\B",
                        "Semi;colon = [bracket] @", "Software\\S", "  spaced  ", "Software\\Sp"}),
                Arguments.of("keys with quotes and trailing spaces", new String[] {
                        "Odd key", "Software\\\"Quoted\" Key ", "Empty key", ""}),
                Arguments.of("two names that differ only after many characters", new String[] {
                        "x".repeat(200) + "a", "Software\\A", "x".repeat(200) + "b", "Software\\B"}));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("listings")
    void listsEveryNameInOrderAndEachNameFindsItsKey(String what, String[] namesAndKeys) {
        install(namesAndKeys);

        String[] names = JavaSCCInterface._getProviders();

        String[] expectedNames = new String[namesAndKeys.length / 2];
        for (int i = 0; i < expectedNames.length; i++) {
            expectedNames[i] = namesAndKeys[2 * i];
        }
        assertProviders(expectedNames, names, "_getProviders with " + what + ": " + show(names));
        for (int i = 0; i < expectedNames.length; i++) {
            assertEquals(namesAndKeys[2 * i + 1], JavaSCCInterface._getProviderKey(expectedNames[i]),
                    "_getProviderKey(\"" + expectedNames[i] + "\") with " + what);
        }
    }

    @Test
    void installedKeyWithoutValuesGivesAnEmptyArray() {
        install();

        String[] names = JavaSCCInterface._getProviders();

        assertNotNull(names, "_getProviders with no installed provider");
        assertEquals(0, names.length, "_getProviders with no installed provider: " + show(names));
        assertNull(JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME), "_getProviderKey");
    }

    @Test
    void installedKeyThatExistsOnlyThroughASubkeyGivesAnEmptyArray() {
        registry.clear().key(INSTALLED + "\\Sub");

        String[] names = JavaSCCInterface._getProviders();

        assertNotNull(names, "_getProviders when the key has a subkey and no values");
        assertEquals(0, names.length, "_getProviders: " + show(names));
    }

    /** A change to the standard registry. */
    interface Setup extends Consumer<RegistryFile> {}

    static Stream<Arguments> missingInstalledKeys() {
        return Stream.of(
                Arguments.of("an empty registry", (Setup) RegistryFile::clear),
                Arguments.of("only the parent key", (Setup) r ->
                        r.clear().defaultProvider(RegistryFile.TEST_PROVIDER_KEY)),
                Arguments.of("no registry file", (Setup) RegistryFile::deleteFile),
                Arguments.of("a file without the header", (Setup) r -> r.rawContent(
                        ("[HKEY_LOCAL_MACHINE\\" + INSTALLED + "]\r\n\"A\"=\"B\"\r\n")
                                .getBytes(StandardCharsets.US_ASCII))),
                Arguments.of("the key under another root", (Setup) r -> r.rawContent(
                        ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\"
                                + INSTALLED + "]\r\n\"A\"=\"B\"\r\n").getBytes(StandardCharsets.US_ASCII))));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("missingInstalledKeys")
    void missingInstalledKeyGivesNullFromBoth(String what, Setup setup) {
        setup.accept(registry);

        String[] names = JavaSCCInterface._getProviders();

        assertNull(names, "_getProviders with " + what + ": " + show(names));
        assertNull(JavaSCCInterface._getProviderKey("A"), "_getProviderKey with " + what);
        assertNull(JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME),
                "_getProviderKey with " + what);
    }

    static Stream<Arguments> tooLongNames() {
        return Stream.of(
                Arguments.of(260, 0), Arguments.of(260, 1), Arguments.of(261, 2), Arguments.of(1000, 0));
    }

    @ParameterizedTest(name = "a name of {0} characters at position {1}")
    @MethodSource("tooLongNames")
    void aNameThatDoesNotFitIsLeftOutOfTheListing(int length, int position) {
        registry.clear().key(INSTALLED);
        List<String> listed = new ArrayList<>();
        for (int i = 0; i < 3; i++) {
            registry.installProvider(i == position ? "L".repeat(length) : "Provider " + i, "Software\\P" + i);
            if (i != position) {
                listed.add("Provider " + i);
            }
        }

        String[] names = JavaSCCInterface._getProviders();

        assertProviders(listed.toArray(new String[0]), names,
                "_getProviders with a name of " + length + " characters: " + show(names));
        assertEquals("Software\\P" + ((position + 1) % 3),
                JavaSCCInterface._getProviderKey("Provider " + ((position + 1) % 3)),
                "_getProviderKey of another provider still works");
    }

    @ParameterizedTest(name = "a key of {0} characters")
    @ValueSource(ints = {260, 261, 300, 1000})
    void aKeyThatDoesNotFitGivesNull(int length) {
        String key = RegistryFile.keyPathOfLength("Software\\Vantrel", length);
        install("Too long", key, "Fine", "Software\\Fine");

        assertNull(JavaSCCInterface._getProviderKey("Too long"), "_getProviderKey of a key of " + length
                + " characters");
        assertEquals("Software\\Fine", JavaSCCInterface._getProviderKey("Fine"), "_getProviderKey of another");
        assertProviders(new String[] {"Too long", "Fine"}, JavaSCCInterface._getProviders(),
                "_getProviders does not read the data");
    }

    static Stream<Arguments> unknownNames() {
        return Stream.of(
                Arguments.of("a name that is not listed", "Nobody"),
                Arguments.of("the empty name", ""),
                Arguments.of("a listed name with a trailing space", RegistryFile.TEST_PROVIDER_NAME + " "),
                Arguments.of("a prefix of a listed name", "Vantrel"),
                Arguments.of("the key instead of the name", RegistryFile.TEST_PROVIDER_KEY),
                Arguments.of("a name of 1000 characters", "n".repeat(1000)),
                Arguments.of("null", null));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("unknownNames")
    void unknownNameGivesNull(String what, String name) {
        assertNull(JavaSCCInterface._getProviderKey(name), "_getProviderKey of " + what);
    }

    @Test
    void nameLookupIgnoresLetterCaseAsTheRegistryDoes() {
        assertEquals(RegistryFile.TEST_PROVIDER_KEY,
                JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME.toUpperCase()),
                "_getProviderKey of the name in capitals");
    }

    @Test
    void keyDataIsTakenAsTextWhateverItsType() {
        registry.clear().key(INSTALLED).setDword(INSTALLED, "Dword", 0x00434241);

        assertEquals("ABC", JavaSCCInterface._getProviderKey("Dword"), "_getProviderKey of a dword value");
        assertArrayEquals(new String[] {"Dword"}, JavaSCCInterface._getProviders(), "_getProviders");
    }

    @Test
    void changesToTheRegistryAreSeenAtTheNextCall() {
        assertArrayEquals(new String[] {RegistryFile.TEST_PROVIDER_NAME}, JavaSCCInterface._getProviders(),
                "_getProviders before the change");

        registry.installProvider("Added", "Software\\Added");
        assertProviders(new String[] {RegistryFile.TEST_PROVIDER_NAME, "Added"},
                JavaSCCInterface._getProviders(), "_getProviders after adding a provider");
        assertEquals("Software\\Added", JavaSCCInterface._getProviderKey("Added"), "key of the added provider");

        registry.installProvider("Added", "Software\\Changed");
        assertEquals("Software\\Changed", JavaSCCInterface._getProviderKey("Added"), "key after a change");

        registry.remove(INSTALLED, RegistryFile.TEST_PROVIDER_NAME);
        assertArrayEquals(new String[] {"Added"}, JavaSCCInterface._getProviders(),
                "_getProviders after removing a provider");
        assertNull(JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME),
                "key of the removed provider");
    }

    private static long openDescriptors() throws IOException {
        try (Stream<Path> fds = Files.list(Paths.get("/proc/self/fd"))) {
            return fds.count();
        }
    }

    @Test
    void repeatedCallsGiveTheSameResultsAndLeaveNothingOpen() throws IOException {
        install("One", "Software\\One", "Two", "Software\\Two", "Three", "Software\\Three");
        String[] first = JavaSCCInterface._getProviders();
        String firstKey = JavaSCCInterface._getProviderKey("Two");
        JavaSCCInterface._getProviderKey("Nobody");
        long before = openDescriptors();

        for (int i = 0; i < 300; i++) {
            String[] names = JavaSCCInterface._getProviders();
            if (!Arrays.equals(first, names)) {
                assertArrayEquals(first, names, "_getProviders call " + (i + 2));
            }
            String key = JavaSCCInterface._getProviderKey("Two");
            if (!firstKey.equals(key)) {
                assertEquals(firstKey, key, "_getProviderKey call " + (i + 2));
            }
            assertNull(JavaSCCInterface._getProviderKey("Nobody"), "_getProviderKey of an unknown name");
        }

        long after = openDescriptors();
        assertTrue(after - before < 20, "open file descriptors grew from " + before + " to " + after
                + " over 900 discovery calls");
    }

    @Test
    void listedKeyStartsAConnection() {
        String[] names = JavaSCCInterface._getProviders();
        assertNotNull(names, "_getProviders");
        String key = JavaSCCInterface._getProviderKey(names[0]);

        connect(key);
    }

    @Test
    void discoveryCallsNoProvider() {
        JavaSCCInterface._getProviders();
        JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME);

        assertEquals(List.of(), callLog.lines(), "provider calls made by discovery");
    }

    /**
     * The providers in the order the file lists them; under wine in any order, since wine's
     * registry keeps a key's values sorted by name whatever order they were written in.
     */
    private static void assertProviders(String[] expected, String[] actual, String message) {
        if (TestEnvironment.windows()) {
            expected = expected.clone();
            actual = actual.clone();
            Arrays.sort(expected);
            Arrays.sort(actual);
        }
        assertArrayEquals(expected, actual, message);
    }
}
