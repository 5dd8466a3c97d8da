package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.function.BiConsumer;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/** {@code _initialize}: finding and loading the provider, starting it, and failing cleanly. */
@Tag("connection")
class InitializeTest extends NativeTestBase {
    private static final String OTHER_KEY = "Software\\Vantrel\\OtherProvider";

    /** A registry change applied to the standard set-up; gets the test's own folder. */
    interface Setup extends BiConsumer<RegistryFile, Path> {}

    private static Path testProvider() {
        return TestEnvironment.provider(TestEnvironment.TEST_PROVIDER);
    }

    /**
     * A symbolic link to the test provider whose absolute path is exactly {@code length}
     * characters long, made below {@code base} (as many folders as it takes).
     */
    static Path providerLinkOfLength(Path base, int length) throws IOException {
        Path dir = base.toAbsolutePath();
        String fileName = "libp.so";
        while (dir.toString().length() + 1 + fileName.length() < length) {
            int room = length - dir.toString().length() - 1 - fileName.length();
            if (room > 1 + fileName.length() + 100) {
                dir = dir.resolve("d".repeat(100)); // a folder and come back for more
            } else {
                fileName = "p".repeat(room) + fileName; // fill up with the file name itself
                break;
            }
        }
        Files.createDirectories(dir);
        Path link = dir.resolve(fileName);
        if (link.toString().length() != length) {
            throw new IllegalStateException("cannot make a path of " + length + ": " + link);
        }
        return Files.createSymbolicLink(link, testProvider());
    }

    @Test
    void startsTheProviderWithOneSccInitializeCall() {
        long handle = JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);

        assertNotEquals(0L, handle, "handle of a successful _initialize");
        assertEquals(List.of(INITIALIZE_CALL), callLog.lines(),
                "provider calls made by _initialize (exactly one SccInitialize with the caller name)");
    }

    static Stream<Arguments> workingKeys() {
        return Stream.of(
                Arguments.of("the key as listed", (Setup) (r, d) -> {}, RegistryFile.TEST_PROVIDER_KEY),
                Arguments.of("the key in other letter case", (Setup) (r, d) -> {},
                        RegistryFile.TEST_PROVIDER_KEY.toLowerCase()),
                Arguments.of("a key of 259 characters", (Setup) (r, d) ->
                        r.provider(RegistryFile.keyPathOfLength("Software\\Vantrel", 259), testProvider()),
                        RegistryFile.keyPathOfLength("Software\\Vantrel", 259)),
                Arguments.of("an SCCServerPath of 259 characters", (Setup) (r, d) -> {
                    try {
                        r.provider(OTHER_KEY, providerLinkOfLength(d, 259));
                    } catch (IOException e) {
                        throw new AssertionError(e);
                    }
                }, OTHER_KEY),
                Arguments.of("a key no provider lists", (Setup) (r, d) ->
                        r.provider(OTHER_KEY, testProvider()), OTHER_KEY));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("workingKeys")
    void loadsTheProviderNamedUnderTheKey(String what, Setup setup, String key) {
        setup.accept(registry, dir);

        long handle = JavaSCCInterface._initialize(key);

        assertNotEquals(0L, handle, "_initialize with " + what);
        assertEquals(List.of(INITIALIZE_CALL), callLog.lines(), "provider calls with " + what);
    }

    static Stream<Arguments> failingKeys() {
        return Stream.of(
                Arguments.of("a key that does not exist", (Setup) (r, d) -> {}, OTHER_KEY),
                Arguments.of("the empty key", (Setup) (r, d) -> {}, ""),
                Arguments.of("a key without SCCServerPath", (Setup) (r, d) ->
                        r.set(OTHER_KEY, "Other", "value"), OTHER_KEY),
                Arguments.of("an SCCServerPath naming no file", (Setup) (r, d) ->
                        r.provider(OTHER_KEY, d.resolve("missing.so")), OTHER_KEY),
                Arguments.of("an empty SCCServerPath", (Setup) (r, d) ->
                        r.provider(OTHER_KEY, ""), OTHER_KEY),
                Arguments.of("an SCCServerPath naming a folder", (Setup) (r, d) ->
                        r.provider(OTHER_KEY, d), OTHER_KEY),
                Arguments.of("an SCCServerPath naming a file that is no library", (Setup) (r, d) -> {
                    try {
                        r.provider(OTHER_KEY, Files.writeString(d.resolve("text.so"), "not a library"));
                    } catch (IOException e) {
                        throw new AssertionError(e);
                    }
                }, OTHER_KEY),
                Arguments.of("an SCCServerPath of 260 characters naming the provider", (Setup) (r, d) -> {
                    try {
                        r.provider(OTHER_KEY, providerLinkOfLength(d, 260));
                    } catch (IOException e) {
                        throw new AssertionError(e);
                    }
                }, OTHER_KEY),
                Arguments.of("an existing key of 260 characters", (Setup) (r, d) ->
                        r.provider(RegistryFile.keyPathOfLength("Software\\Vantrel", 260), testProvider()),
                        RegistryFile.keyPathOfLength("Software\\Vantrel", 260)),
                Arguments.of("an existing key of 1000 characters", (Setup) (r, d) ->
                        r.provider(RegistryFile.keyPathOfLength("Software\\Vantrel", 1000), testProvider()),
                        RegistryFile.keyPathOfLength("Software\\Vantrel", 1000)),
                Arguments.of("no registry file", (Setup) (r, d) -> r.deleteFile(),
                        RegistryFile.TEST_PROVIDER_KEY));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failingKeys")
    void failsWithoutCallingAnyProviderWhenTheLibraryDoesNotLoad(String what, Setup setup, String key) {
        setup.accept(registry, dir);

        long handle = JavaSCCInterface._initialize(key);

        assertEquals(0L, handle, "_initialize with " + what);
        assertEquals(List.of(), callLog.lines(), "provider calls with " + what);
    }

    @Test
    void nullKeyTakesTheProviderThatProviderRegKeyNames() {
        // The listed key leads nowhere; only the default provider's key loads.
        registry.provider(RegistryFile.TEST_PROVIDER_KEY, dir.resolve("missing.so"))
                .provider(OTHER_KEY, testProvider())
                .defaultProvider(OTHER_KEY);

        long handle = JavaSCCInterface._initialize(null);

        assertNotEquals(0L, handle, "_initialize(null) with ProviderRegKey naming a working key");
        assertEquals(List.of(INITIALIZE_CALL), callLog.lines(), "provider calls of _initialize(null)");
    }

    @Test
    void nullKeyTakesAProviderRegKeyOf259Characters() {
        String key = RegistryFile.keyPathOfLength("Software\\Vantrel", 259);
        registry.provider(key, testProvider()).defaultProvider(key);

        assertNotEquals(0L, JavaSCCInterface._initialize(null),
                "_initialize(null) with a ProviderRegKey of 259 characters");
    }

    static Stream<Arguments> failingDefaults() {
        return Stream.of(
                Arguments.of("no ProviderRegKey value", (Setup) (r, d) ->
                        r.remove(RegistryFile.PROVIDER_ROOT, RegistryFile.DEFAULT_PROVIDER_VALUE)),
                Arguments.of("no SourceCodeControlProvider key", (Setup) (r, d) ->
                        r.clear().provider(RegistryFile.TEST_PROVIDER_KEY, testProvider())),
                Arguments.of("a ProviderRegKey naming a missing key", (Setup) (r, d) ->
                        r.defaultProvider(OTHER_KEY)),
                Arguments.of("an empty ProviderRegKey", (Setup) (r, d) -> r.defaultProvider("")),
                Arguments.of("a ProviderRegKey naming a key without SCCServerPath", (Setup) (r, d) ->
                        r.remove(RegistryFile.TEST_PROVIDER_KEY, RegistryFile.SERVER_PATH_VALUE)
                                .key(RegistryFile.TEST_PROVIDER_KEY)),
                Arguments.of("a ProviderRegKey of 260 characters naming a working key", (Setup) (r, d) -> {
                    String key = RegistryFile.keyPathOfLength("Software\\Vantrel", 260);
                    r.provider(key, testProvider()).defaultProvider(key);
                }),
                Arguments.of("no registry file", (Setup) (r, d) -> r.deleteFile()));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("failingDefaults")
    void nullKeyFailsWithoutAUsableDefaultProvider(String what, Setup setup) {
        setup.accept(registry, dir);

        assertEquals(0L, JavaSCCInterface._initialize(null), "_initialize(null) with " + what);
        assertEquals(List.of(), callLog.lines(), "provider calls with " + what);
    }

    @Test
    void libraryWithoutSccInitializeIsUninitializedOnceWithANullContext() {
        registry.provider(OTHER_KEY, TestEnvironment.provider(TestEnvironment.UNINIT_ONLY_PROVIDER));

        long handle = JavaSCCInterface._initialize(OTHER_KEY);

        assertEquals(0L, handle, "_initialize with a provider that lacks SccInitialize");
        assertEquals(List.of("SccUninitialize context=0x0"), callLog.lines(),
                "provider calls when SccInitialize is missing");
    }

    @ParameterizedTest(name = "SccInitialize returns {0}")
    @ValueSource(ints = {-1, 1, -15, -30, Integer.MAX_VALUE, Integer.MIN_VALUE})
    void failingSccInitializeIsFollowedBySccUninitializeWithTheContextItGave(int code) {
        script.returns("SccInitialize", code).initContext(0x1234);

        long handle = JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);

        assertEquals(0L, handle, "_initialize when SccInitialize returns " + code);
        assertEquals(List.of(INITIALIZE_CALL, "SccUninitialize context=0x1234"), callLog.lines(),
                "provider calls when SccInitialize returns " + code);
    }

    @Test
    void failingSccInitializeThatWroteNothingIsUninitializedWithANullContext() {
        script.returns("SccInitialize", -1).initNoWrite();

        assertEquals(0L, JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY),
                "_initialize when SccInitialize fails");
        assertEquals(List.of(INITIALIZE_CALL, "SccUninitialize context=0x0"), callLog.lines(),
                "provider calls when SccInitialize fails without writing the context");
    }

    @Test
    void twoConnectionsWithTheSameKeyAreIndependentObjects() {
        script.initContext(0x1111);
        long first = connect();
        script.clear().initContext(0x2222).initCaps(0x10);
        long second = connect();

        assertNotEquals(first, second, "handles of two _initialize calls");
        assertEquals(0L, JavaSCCInterface._getCapabilities(first), "capabilities of the first object");
        assertEquals(0x10L, JavaSCCInterface._getCapabilities(second), "capabilities of the second");
        assertEquals(0L, JavaSCCInterface._uninitialize(second), "_uninitialize of the second");
        assertEquals(0L, JavaSCCInterface._uninitialize(first), "_uninitialize of the first");
        assertEquals(List.of("SccUninitialize context=0x2222", "SccUninitialize context=0x1111"),
                callLog.lines(), "each object passes its own context");
    }

    @Test
    void registryIsReadAfreshAtEveryInitialize() {
        connect();
        registry.provider(RegistryFile.TEST_PROVIDER_KEY, dir.resolve("missing.so"));
        assertEquals(0L, JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY),
                "_initialize after SCCServerPath was changed to a missing file");
        registry.provider(RegistryFile.TEST_PROVIDER_KEY, testProvider());
        connect();
    }

    @Test
    void failedInitializeDoesNotDisturbEarlierConnections() {
        script.initContext(0x4242).initName("Earlier");
        long handle = connect();
        script.clear().returns("SccInitialize", -1);

        assertEquals(0L, JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY), "failing _initialize");
        callLog.clear();
        script.clear();
        assertEquals("Earlier", JavaSCCInterface._getSCCName(handle), "name of the earlier connection");
        assertEquals(0L, JavaSCCInterface._uninitialize(handle), "_uninitialize of the earlier connection");
        assertEquals(List.of("SccUninitialize context=0x4242"), callLog.lines(),
                "the earlier connection keeps its context");
    }
}
