package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.util.Arrays;
import java.util.stream.Stream;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Texts that reach Java through NewStringUTF — the provider's name and the registry's provider
 * names and keys — whatever bytes they hold. Valid modified UTF-8 comes through unchanged; other
 * bytes are decoded in the C locale, and bytes the locale cannot decode are taken one by one as
 * ISO-8859-1. A listed provider name always finds its key again.
 *
 * <p>The expected text depends on the locale's encoding; run-jvm-tests.sh runs this class once per
 * locale (UTF-8, C and Latin-1 where installed).
 */
@Tag("locale")
class NativeTextTest extends NativeTestBase {

    @BeforeEach
    void setLocaleThroughInitialize() {
        // _initialize sets the C locale from the environment; the texts below depend on it.
        connect();
    }

    private static byte[] b(int... bytes) {
        byte[] out = new byte[bytes.length];
        for (int i = 0; i < bytes.length; i++) {
            out[i] = (byte) bytes[i];
        }
        return out;
    }

    private static byte[] ascii(String text) {
        return RegistryFile.bytes(text);
    }

    /**
     * Bytes, and the Java text expected under a UTF-8 locale and under a single-byte locale (C or
     * Latin-1, which agree here: C decodes ASCII only, the rest falls back to Latin-1).
     */
    static Stream<Arguments> texts() {
        String grin = "\ud83d\ude00";
        return Stream.of(
                Arguments.of("ASCII", ascii("Plain Provider 1.0"), "Plain Provider 1.0", "Plain Provider 1.0"),
                Arguments.of("ASCII controls", b(0x01, 'a', 0x1f, 'b', 0x7f), "\u0001a\u001fb\u007f",
                        "\u0001a\u001fb\u007f"),
                Arguments.of("Latin-1 0xE9", RegistryFile.concat(ascii("Caf"), b(0xe9), ascii(" SCM")),
                        "Caf\u00e9 SCM", "Caf\u00e9 SCM"),
                Arguments.of("Latin-1 0xE9 and 0xFF", RegistryFile.concat(ascii("Caf"), b(0xe9, ' ', 0xff)),
                        "Caf\u00e9 \u00ff", "Caf\u00e9 \u00ff"),
                Arguments.of("a lone 0x80", b('x', 0x80, 'y'), "x\u0080y", "x\u0080y"),
                Arguments.of("UTF-8 cut short at the end", b('a', 'b', 0xc3), "ab\u00c3", "ab\u00c3"),
                Arguments.of("UTF-8 \u00e9 (valid modified UTF-8)", RegistryFile.concat(ascii("Caf"), b(0xc3, 0xa9)),
                        "Caf\u00e9", "Caf\u00e9"),
                Arguments.of("UTF-8 \u20ac and \u4e2d", b(0xe2, 0x82, 0xac, ' ', 0xe4, 0xb8, 0xad),
                        "\u20ac \u4e2d", "\u20ac \u4e2d"),
                Arguments.of("modified UTF-8 NUL", b('a', 0xc0, 0x80, 'b'), "a\u0000b", "a\u0000b"),
                Arguments.of("modified UTF-8 surrogate pair", b(0xed, 0xa0, 0xbd, 0xed, 0xb8, 0x80), grin, grin),
                Arguments.of("four-byte UTF-8", b('<', 0xf0, 0x9f, 0x98, 0x80, '>'),
                        "<" + grin + ">", "<\u00f0\u009f\u0098\u0080>"),
                Arguments.of("Latin-1 0xE9 then UTF-8 \u00e9", b(0xe9, ' ', 0xc3, 0xa9),
                        "\u00e9 \u00e9", "\u00e9 \u00c3\u00a9"));
    }

    private static String expected(String utf8Locale, String singleByteLocale) {
        return TestEnvironment.utf8Locale() ? utf8Locale : singleByteLocale;
    }

    private static String where(String what) {
        return what + " under " + System.getProperty("oskel.test.locale", "?") + " ("
                + TestEnvironment.localeCodeset() + ")";
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("texts")
    void providerNameComesThroughReadable(String what, byte[] bytes, String utf8, String singleByte) {
        script.initName(bytes);
        long handle = connect();

        assertEquals(printable(expected(utf8, singleByte)), printable(JavaSCCInterface._getSCCName(handle)),
                "_getSCCName of " + where(what));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("texts")
    void listedNameComesThroughReadableAndFindsItsKey(String what, byte[] bytes, String utf8, String singleByte) {
        registry.clear().key(RegistryFile.INSTALLED_PROVIDERS)
                .installProvider(ascii("Before"), ascii("Software\\Before"))
                .installProvider(bytes, ascii("Software\\Found"))
                .installProvider(ascii("After"), ascii("Software\\After"));

        String[] names = JavaSCCInterface._getProviders();

        assertNotNull(names, "_getProviders with a name of " + where(what));
        String[] wanted = {"Before", expected(utf8, singleByte), "After"};
        String listed = names.length == 3 ? names[1] : null;
        if (TestEnvironment.windows()) {
            // wine's registry keeps a key's values sorted by name
            names = names.clone();
            Arrays.sort(wanted);
            Arrays.sort(names);
            listed = Arrays.stream(names).filter(n -> !n.equals("Before") && !n.equals("After"))
                    .findFirst().orElse(null);
        }
        assertEquals(printable(Arrays.toString(wanted)),
                printable(Arrays.toString(names)), "_getProviders with a name of " + where(what));
        assertEquals("Software\\Found", JavaSCCInterface._getProviderKey(listed),
                "_getProviderKey of the listed name of " + where(what));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("texts")
    void providerKeyComesThroughReadable(String what, byte[] bytes, String utf8, String singleByte) {
        registry.clear().installProvider(ascii("Provider"), bytes);

        assertEquals(printable(expected(utf8, singleByte)),
                printable(JavaSCCInterface._getProviderKey("Provider")), "_getProviderKey of a key of " + where(what));
    }

    static Stream<Arguments> keys() {
        return Stream.of(
                Arguments.of("ASCII", ascii("Software\\Plain\\Provider")),
                Arguments.of("Latin-1 0xE9", RegistryFile.concat(ascii("Software\\Soci"), b(0xe9), ascii("t"),
                        b(0xe9), ascii("\\SCC"))),
                Arguments.of("Latin-1 0xFF", RegistryFile.concat(ascii("Software\\"), b(0xff), ascii("\\SCC"))),
                Arguments.of("UTF-8 \u00e9", RegistryFile.concat(ascii("Software\\Soci"), b(0xc3, 0xa9),
                        ascii("t"), b(0xc3, 0xa9), ascii("\\SCC"))),
                Arguments.of("four-byte UTF-8", RegistryFile.concat(ascii("Software\\"),
                        b(0xf0, 0x9f, 0x98, 0x80), ascii("\\SCC"))),
                Arguments.of("Latin-1 0xE9 then UTF-8 \u00e9", RegistryFile.concat(ascii("Software\\"),
                        b(0xe9, 0xc3, 0xa9), ascii("\\SCC"))));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("keys")
    void keyFromTheListingStartsAConnection(String what, byte[] keyBytes) {
        registry.clear().key(RegistryFile.INSTALLED_PROVIDERS)
                .installProvider(ascii("Provider"), keyBytes)
                .provider(keyBytes, TestEnvironment.provider(TestEnvironment.TEST_PROVIDER));
        String key = JavaSCCInterface._getProviderKey("Provider");
        assertNotNull(key, "_getProviderKey of a key of " + where(what));

        connect(key);
    }
}
