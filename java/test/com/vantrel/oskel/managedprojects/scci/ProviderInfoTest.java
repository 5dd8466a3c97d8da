package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.CsvSource;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * What a connection reports about its provider ({@code _getVersion}, {@code _getSCCName},
 * {@code _getCapabilities}) and the end of the connection ({@code _uninitialize}).
 */
@Tag("connection")
class ProviderInfoTest extends NativeTestBase {
    private static final String UNINITIALIZE_CALL = "SccUninitialize context=" + CallLog.hex(DEFAULT_CONTEXT);

    private long connectToInitOnlyProvider() {
        String key = "Software\\Vantrel\\InitOnly";
        registry.provider(key, TestEnvironment.provider(TestEnvironment.INIT_ONLY_PROVIDER));
        return connect(key);
    }

    @ParameterizedTest(name = "SccGetVersion returns {0}")
    @CsvSource({"65538, 65538", "0, 0", "7, 7", "0x7fffffff, 2147483647", "0x80000000, -2147483648",
            "0xffffffff, -1", "-2, -2"})
    void getVersionReturnsTheProvidersNumberSignExtended(String scripted, long expected) {
        long handle = connect();
        script.line("version " + scripted);

        assertEquals(expected, JavaSCCInterface._getVersion(handle), "_getVersion for version " + scripted);
        assertEquals(List.of("SccGetVersion"), callLog.lines(), "provider calls of _getVersion");
    }

    @Test
    void getVersionIsZeroWhenTheProviderLacksSccGetVersion() {
        long handle = connectToInitOnlyProvider();

        assertEquals(0L, JavaSCCInterface._getVersion(handle), "_getVersion without SccGetVersion");
        assertEquals(List.of(), callLog.lines(), "provider calls");
    }

    @ParameterizedTest(name = "capabilities {0}")
    @CsvSource({"0x0, 0", "0x1, 1", "0x20, 32", "0x77e0ffdf, 2011234271", "0x7fffffff, 2147483647",
            "0x80000000, -2147483648", "0xffffffff, -1", "0x80000001, -2147483647"})
    void getCapabilitiesReturnsWhatSccInitializeWroteSignExtended(String scripted, long expected) {
        script.line("init.caps " + scripted);
        long handle = connect();

        assertEquals(expected, JavaSCCInterface._getCapabilities(handle), "_getCapabilities for " + scripted);
        assertEquals(List.of(), callLog.lines(), "_getCapabilities calls no provider entry point");
    }

    static Stream<Arguments> names() {
        return Stream.of(
                Arguments.of("Test Provider", "Test Provider"),
                Arguments.of("", ""),
                Arguments.of("x", "x"),
                Arguments.of("Quotes \" and ' and \\\\ backslash", "Quotes \" and ' and \\ backslash"),
                Arguments.of("Tab\\tinside", "Tab\tinside"),
                Arguments.of("controls \\x01\\x1f\\x7f", "controls \u0001\u001f\u007f"));
    }

    @ParameterizedTest(name = "script text [{0}]")
    @MethodSource("names")
    void getSCCNameReturnsTheNameSccInitializeWrote(String scriptText, String expected) {
        script.line("init.name " + scriptText);
        long handle = connect();

        assertEquals(expected, JavaSCCInterface._getSCCName(handle), "_getSCCName for script text " + scriptText);
        assertEquals(List.of(), callLog.lines(), "_getSCCName calls no provider entry point");
    }

    @Test
    void getSCCNameReturnsANameOf260CharactersWhole() {
        String name = "N".repeat(259) + "z";
        script.initName(name);
        long handle = connect();

        assertEquals(name, JavaSCCInterface._getSCCName(handle), "_getSCCName of a 260-character name");
    }

    @Test
    void defaultsOfTheTestProviderComeThrough() {
        long handle = connect();

        assertEquals("Test Provider", JavaSCCInterface._getSCCName(handle), "_getSCCName");
        assertEquals(0L, JavaSCCInterface._getCapabilities(handle), "_getCapabilities");
        assertEquals(0x00010002L, JavaSCCInterface._getVersion(handle), "_getVersion");
    }

    @Test
    void sccInitializeThatWritesNothingLeavesNoCapabilitiesAndNoName() {
        script.initNoWrite();
        long handle = connect();

        assertEquals(0L, JavaSCCInterface._getCapabilities(handle), "_getCapabilities when SccInitialize "
                + "wrote nothing");
        String name = JavaSCCInterface._getSCCName(handle);
        assertTrue(name == null || name.isEmpty(),
                "_getSCCName when SccInitialize wrote no name: expected empty or null, was \"" + name + "\"");
    }

    @ParameterizedTest(name = "SccUninitialize returns {0}")
    @CsvSource({"0, 0", "-1, -1", "5, 5", "-15, -15", "0x7fffffff, 2147483647",
            "0x80000000, -2147483648", "0xffffffff, -1"})
    void uninitializeReturnsTheProvidersCodeSignExtended(String scripted, long expected) {
        long handle = connect();
        script.line("return SccUninitialize " + scripted);

        assertEquals(expected, JavaSCCInterface._uninitialize(handle), "_uninitialize for code " + scripted);
        assertEquals(List.of(UNINITIALIZE_CALL), callLog.lines(), "provider calls of _uninitialize");
    }

    @Test
    void secondUninitializeMakesNoProviderCall() {
        long handle = connect();
        assertEquals(0L, JavaSCCInterface._uninitialize(handle), "first _uninitialize");
        script.returns("SccUninitialize", -7);

        assertEquals(-15L, JavaSCCInterface._uninitialize(handle), "second _uninitialize");
        assertEquals(List.of(UNINITIALIZE_CALL), callLog.lines(),
                "provider calls of two _uninitialize");
    }

    @Test
    void uninitializeEndsTheConnectionEvenWhenSccUninitializeFails() {
        long handle = connect();
        script.returns("SccUninitialize", -1);
        assertEquals(-1L, JavaSCCInterface._uninitialize(handle), "failing _uninitialize");
        script.clear();

        assertEquals(-15L, JavaSCCInterface._uninitialize(handle), "second _uninitialize");
        assertEquals(List.of(UNINITIALIZE_CALL), callLog.lines(), "provider calls");
    }

    @Test
    void afterUninitializeTheObjectStillReportsWhatTheProviderSaid() {
        script.initName("Kept Name").initCaps(0x80000005L).version(42);
        long handle = connect();
        String name = JavaSCCInterface._getSCCName(handle);
        long caps = JavaSCCInterface._getCapabilities(handle);
        assertEquals(0L, JavaSCCInterface._uninitialize(handle), "_uninitialize");
        callLog.clear();

        assertEquals(name, JavaSCCInterface._getSCCName(handle), "_getSCCName after _uninitialize");
        assertEquals(caps, JavaSCCInterface._getCapabilities(handle), "_getCapabilities after _uninitialize");
        assertEquals(42L, JavaSCCInterface._getVersion(handle), "_getVersion after _uninitialize");
        assertEquals(List.of("SccGetVersion"), callLog.lines(),
                "_getVersion still calls the provider after _uninitialize");
    }

    @Test
    void uninitializeOfTheProviderWithoutSccGetVersionWorks() {
        long handle = connectToInitOnlyProvider();

        assertEquals(0L, JavaSCCInterface._uninitialize(handle), "_uninitialize");
        assertEquals(List.of(UNINITIALIZE_CALL), callLog.lines(), "provider calls");
    }

    @Test
    void connectionThroughTheListedKeyAndTheDefaultReportTheSame() {
        script.initName("Same").initCaps(0x1234);
        long listed = connect(JavaSCCInterface._getProviderKey(RegistryFile.TEST_PROVIDER_NAME));
        long byDefault = JavaSCCInterface._initialize(null);

        assertEquals(JavaSCCInterface._getSCCName(listed), JavaSCCInterface._getSCCName(byDefault),
                "_getSCCName of the two connections");
        assertEquals(JavaSCCInterface._getCapabilities(listed), JavaSCCInterface._getCapabilities(byDefault),
                "_getCapabilities of the two connections");
    }
}
