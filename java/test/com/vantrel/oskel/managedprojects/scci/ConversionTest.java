package com.vantrel.oskel.managedprojects.scci;

import static com.vantrel.oskel.managedprojects.scci.ConvLocale.bytes;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertSame;

import com.vantrel.oskel.managedprojects.scci.testing.CallLog;
import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * The text conversions between Java strings and the locale's bytes, seen from Java: what the
 * provider receives for a Java string (file names, comments, descriptor texts, overrides), and what
 * Java receives for the provider's bytes (messages, populate lists, descriptor write-back). The
 * tables have one column per locale; run-jvm-tests.sh runs this class under C.UTF-8, C and
 * en_US.ISO-8859-1 (tag "locale").
 */
@Tag("locale")
class ConversionTest extends NativeTestBase {
    private static final String CONTEXT = CallLog.hex(DEFAULT_CONTEXT);

    private static final String SMILE = "\ud83d\ude00"; // U+1F600
    private static final String LAST_CHARACTER = "\udbff\udfff"; // U+10FFFF

    // ---------------------------------------------------------------------------------------------
    // Java to the provider

    static Stream<Arguments> javaTexts() {
        return Stream.of(
                // description, Java text, bytes under UTF-8, Latin-1, C (null: does not convert)
                row("empty", "", "", "", ""),
                row("ASCII", "plain name.txt", "plain name.txt", "plain name.txt", "plain name.txt"),
                row("controls and DEL", "\u0001\t\u001f\u007f", "\\x01\\x09\\x1f\\x7f", "\\x01\\x09\\x1f\\x7f",
                        "\\x01\\x09\\x1f\\x7f"),
                row("U+0000 inside cuts the text", "ab\u0000cd", "ab", "ab", "ab"),
                row("U+0000 first", "\u0000rest", "", "", ""),
                row("an unrepresentable character after U+0000 is never reached", "ok\u0000\u4e2d",
                        "ok", "ok", "ok"),
                row("Latin-1 letters", "Caf\u00e9 Gr\u00fc\u00dfe.txt", "Caf\\xc3\\xa9 Gr\\xc3\\xbc\\xc3\\x9fe.txt",
                        "Caf\\xe9 Gr\\xfc\\xdfe.txt", null),
                row("U+0080 and U+00FF", "\u0080\u00ff", "\\xc2\\x80\\xc3\\xbf", "\\x80\\xff", null),
                row("a Latin-1 letter before U+0000", "\u00e9\u0000\u00fc", "\\xc3\\xa9", "\\xe9", null),
                row("euro sign", "\u20ac 5", "\\xe2\\x82\\xac 5", null, null),
                row("CJK ideographs", "\u4e2d\u6587.txt", "\\xe4\\xb8\\xad\\xe6\\x96\\x87.txt", null, null),
                row("U+FFFD", "\ufffd", "\\xef\\xbf\\xbd", null, null),
                row("U+1F600 (a surrogate pair)", "smile" + SMILE + ".txt", "smile\\xf0\\x9f\\x98\\x80.txt",
                        null, null),
                row("U+10FFFF", LAST_CHARACTER, "\\xf4\\x8f\\xbf\\xbf", null, null),
                row("a lone high surrogate", "a\ud800b", null, null, null),
                row("a lone low surrogate", "\udc00", null, null, null),
                row("a pair in the wrong order", "\ude00\ud83d", null, null, null),
                row("a high surrogate at the end", "x\ud83d", null, null, null),
                row("130 e-acute", "\u00e9".repeat(130), "\\xc3\\xa9".repeat(130), "\\xe9".repeat(130), null));
    }

    private static Arguments row(String description, String text, String utf8, String latin1,
            String ascii) {
        return Arguments.of(description, text, utf8, latin1, ascii);
    }

    /** The natives that carry a Java text to the provider. */
    enum ToProvider {
        CHECKOUT_NAME_AND_COMMENT, CHECKOUT_NAME_AFTER_A_WIDE_NAME, DIFF, POPULATE_LIST,
        DESCRIPTOR_PROJECT_NAME, REGETPROJPATH_USER
    }

    static Stream<Arguments> javaTextsByCarrier() {
        return Stream.of(ToProvider.values()).flatMap(c -> javaTexts().map(a -> {
            Object[] row = a.get();
            return Arguments.of(c, row[0], row[1], row[2], row[3], row[4]);
        }));
    }

    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("javaTextsByCarrier")
    void aJavaTextReachesTheProviderInTheLocalesBytes(ToProvider carrier, String description,
            String text, String utf8, String latin1, String ascii) {
        byte[] expected = bytes(ConvLocale.current().pick(utf8, latin1, ascii));
        String x = expected == null ? "null" : CallLog.quote(expected);
        // a descriptor text or an override that does not convert becomes an empty text
        String xOrEmpty = expected == null ? "\"\"" : x;
        String javaText = new String(text.toCharArray()); // a string of its own, not a shared literal
        char[] before = javaText.toCharArray();
        long handle = connect();
        String line;
        switch (carrier) {
            case CHECKOUT_NAME_AND_COMMENT: {
                String[] names = {"first", javaText, "last"};
                JavaSCCInterface._checkout(handle, 3, names, javaText);
                assertSame(javaText, names[1], "the array element after _checkout");
                line = "SccCheckout context=" + CONTEXT + " window=null count=3 names=[\"first\"," + x
                        + ",\"last\"] comment=" + x + " flags=0 options=0x0";
                break;
            }
            case CHECKOUT_NAME_AFTER_A_WIDE_NAME: {
                // A name with a character beyond U+00FF makes the next one read as UTF-16.
                byte[] wide = bytes(ConvLocale.current().pick("\\xd0\\x96", null, null));
                String[] names = {"\u0416", javaText};
                JavaSCCInterface._checkout(handle, 2, names, null);
                line = "SccCheckout context=" + CONTEXT + " window=null count=2 names=["
                        + (wide == null ? "null" : CallLog.quote(wide)) + "," + x
                        + "] comment=null flags=0 options=0x0";
                break;
            }
            case DIFF:
                JavaSCCInterface._diff(handle, javaText);
                line = "SccDiff context=" + CONTEXT + " window=null name=" + x + " flags=0 options=0x0";
                break;
            case POPULATE_LIST:
                JavaSCCInterface._populateList(handle, 2, 2, new String[] {javaText, "z"});
                line = "SccPopulateList context=" + CONTEXT + " command=2 count=2 names=[" + x
                        + ",\"z\"] populate=set callerdata=set status=set flags=0";
                break;
            case DESCRIPTOR_PROJECT_NAME:
                JavaSCCInterface._openProject(handle, ProjDescriptor.standard()
                        .value(ProjDescriptor.GET_PROJECT_NAME, javaText).full());
                line = "SccOpenProject context=" + CONTEXT + " window=null user=\"user\" project="
                        + xOrEmpty + " local=\"relocal\" aux=\"aux\" comment=\"\" textout=set flags=1";
                break;
            default:
                JavaSCCInterface._reGetProjPath(handle, ProjDescriptor.standard().full(), javaText, null,
                        false, true);
                line = "SccGetProjPath context=" + CONTEXT + " window=null user=" + xOrEmpty
                        + " project=\"project\" local=\"local\" aux=\"aux\" allowchangepath=0 allownew=1";
                break;
        }
        assertEquals(List.of(line), callLog.lines(), carrier + " of " + description + " under "
                + ConvLocale.current());
        assertArrayEquals(before, javaText.toCharArray(),
                "the Java string's own characters after " + carrier);
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("javaTexts")
    void aConvertibleFileNameRoundTripsThroughTheProvider(String description, String text, String utf8,
            String latin1, String ascii) {
        byte[] expected = bytes(ConvLocale.current().pick(utf8, latin1, ascii));
        Assumptions.assumeTrue(expected != null && text.indexOf('\u0000') < 0,
                description + " does not convert whole under " + ConvLocale.current());
        long handle = connect();
        JavaSCCInterface._populateList(handle, 0, 1, new String[] {text});
        assertEquals(List.of("SccPopulateList context=" + CONTEXT + " command=0 count=1 names=["
                + CallLog.quote(expected) + "] populate=set callerdata=set status=set flags=0"),
                callLog.lines(), "the name as the provider receives it");
        script.populate(1, expected);

        assertEquals(0L, JavaSCCInterface._populateList(handle, 0, 1, new String[] {text}),
                "_populateList");
        assertArrayEquals(new String[] {text}, JavaSCCInterface._getPopulateList(handle, 1),
                "keep list after the provider reported the bytes it received for " + description);
    }

    static Stream<Arguments> descriptorLimits() {
        return Stream.of(Arguments.of(ProjDescriptor.GET_USER, 260),
                Arguments.of(ProjDescriptor.RE_GET_LOCAL_PATH, 260),
                Arguments.of(ProjDescriptor.GET_PROJECT_NAME, 300),
                Arguments.of(ProjDescriptor.GET_AUX_PROJ_PATH, 300));
    }

    @ParameterizedTest(name = "{0}: {1} bytes")
    @MethodSource("descriptorLimits")
    void descriptorLimitsCountBytesInTheLocale(String getter, int limit) {
        ConvLocale locale = ConvLocale.current();
        // e-acute: two bytes under UTF-8, one under Latin-1, none under C (it does not convert)
        String fits = "\u00e9".repeat(locale.pick(limit / 2, limit, limit));
        byte[] fitsBytes = bytes(locale.pick("\\xc3\\xa9".repeat(limit / 2), "\\xe9".repeat(limit), null));
        long handle = connect();

        for (boolean oneByteMore : new boolean[] {false, true}) {
            String value = oneByteMore ? fits + "a" : fits;
            byte[] sent = oneByteMore ? null : fitsBytes;
            callLog.clear();
            ProjDescriptor d = ProjDescriptor.standard().value(getter, value);
            assertEquals(0L, JavaSCCInterface._openProject(handle, d.full()), "_openProject");
            String received = sent == null ? "\"\"" : CallLog.quote(sent);
            String line = "SccOpenProject context=" + CONTEXT + " window=null"
                    + " user=" + (getter.equals(ProjDescriptor.GET_USER) ? received : "\"user\"")
                    + " project=" + (getter.equals(ProjDescriptor.GET_PROJECT_NAME) ? received : "\"project\"")
                    + " local=" + (getter.equals(ProjDescriptor.RE_GET_LOCAL_PATH) ? received : "\"relocal\"")
                    + " aux=" + (getter.equals(ProjDescriptor.GET_AUX_PROJ_PATH) ? received : "\"aux\"")
                    + " comment=\"\" textout=set flags=1";
            assertEquals(List.of(line), callLog.lines(), getter + " of " + value.length()
                    + " characters" + (oneByteMore ? " (one byte over the limit)" : " (the limit)")
                    + " under " + locale);
        }
    }

    // ---------------------------------------------------------------------------------------------
    // The provider to Java

    static Stream<Arguments> providerTexts() {
        return Stream.of(
                // description, bytes, Java text under UTF-8, Latin-1, C (null: does not convert)
                row("empty", "", "", "", ""),
                row("ASCII", "name.txt", "name.txt", "name.txt", "name.txt"),
                row("controls and DEL", "\\x01\\x09\\x1f\\x7f", "\u0001\t\u001f\u007f", "\u0001\t\u001f\u007f",
                        "\u0001\t\u001f\u007f"),
                row("e-acute in UTF-8", "caf\\xc3\\xa9", "caf\u00e9", "caf\u00c3\u00a9", null),
                row("e-acute in Latin-1", "caf\\xe9", null, "caf\u00e9", null),
                row("byte 0xff", "\\xff", null, "\u00ff", null),
                row("a lone continuation byte", "\\x80", null, "\u0080", null),
                row("CJK ideograph in UTF-8", "\\xe4\\xb8\\xad", "\u4e2d", "\u00e4\u00b8\u00ad", null),
                row("U+1F600 in UTF-8", "\\xf0\\x9f\\x98\\x80", SMILE, "\u00f0\u009f\u0098\u0080", null),
                row("U+10FFFF in UTF-8", "\\xf4\\x8f\\xbf\\xbf", LAST_CHARACTER, "\u00f4\u008f\u00bf\u00bf", null),
                row("an encoded surrogate", "\\xed\\xa0\\x80", null, "\u00ed\u00a0\u0080", null),
                row("beyond U+10FFFF", "\\xf4\\x90\\x80\\x80", null, "\u00f4\u0090\u0080\u0080", null),
                row("an overlong form", "\\xc0\\xaf", null, "\u00c0\u00af", null),
                row("a sequence cut short", "ab\\xc3", null, "ab\u00c3", null));
    }

    /** The natives that carry the provider's bytes to Java. */
    enum ToJava { ERR_LIST, POPULATE_LIST, DESCRIPTOR_WRITE_BACK }

    static Stream<Arguments> providerTextsByCarrier() {
        return Stream.of(ToJava.values()).flatMap(c -> providerTexts().map(a -> {
            Object[] row = a.get();
            return Arguments.of(c, row[0], row[1], row[2], row[3], row[4]);
        }));
    }

    @ParameterizedTest(name = "{0}: {1}")
    @MethodSource("providerTextsByCarrier")
    void theProvidersBytesReachJavaAsTheLocaleReadsThem(ToJava carrier, String description,
            String escaped, String utf8, String latin1, String ascii) {
        String expected = ConvLocale.current().pick(utf8, latin1, ascii);
        byte[] sent = bytes(escaped);
        long handle = connect();
        switch (carrier) {
            case ERR_LIST: {
                assertEquals(0L, JavaSCCInterface._openProject(handle, ProjDescriptor.standard().full()),
                        "_openProject");
                script.message("SccGet", 1, "first").message("SccGet", 2, sent).message("SccGet", 3, "last");
                JavaSCCInterface._getFiles(handle, 1, new String[] {"f"});
                assertEquals(Arrays.asList("1 first", expected == null ? null : "2 " + expected, "3 last"),
                        Arrays.asList(JavaSCCInterface._getErrList(handle)),
                        "_getErrList for a message of " + description + " under " + ConvLocale.current());
                break;
            }
            case POPULATE_LIST:
                script.populate(1, "first").populate(1, sent).populate(1, "last");
                JavaSCCInterface._populateList(handle, 0, 1, new String[] {"f"});
                assertEquals(Arrays.asList("first", expected, "last"),
                        Arrays.asList(JavaSCCInterface._getPopulateList(handle, 1)),
                        "_getPopulateList for an entry of " + description + " under " + ConvLocale.current());
                break;
            default: {
                script.projPath("project", sent);
                ProjDescriptor d = ProjDescriptor.standard();
                assertEquals(0L, JavaSCCInterface._getProjPath(handle, d.full(), false, true), "_getProjPath");
                List<String> calls = d.calls();
                assertEquals(ProjDescriptor.setterCall(ProjDescriptor.SET_PROJECT_NAME, expected),
                        calls.get(4), "setProjectName after the provider wrote " + description
                        + " under " + ConvLocale.current() + "; calls " + calls);
                break;
            }
        }
    }

    @Test
    void onlyTheElementThatDoesNotConvertIsNull() {
        String bad = ConvLocale.current().pick("\ud800", "\u4e2d", "\u00e9");
        long handle = connect();
        String[] names = {"one", bad, "three", null, "five"};
        JavaSCCInterface._getFiles(handle, 5, names);
        assertEquals(List.of("SccGet context=" + CONTEXT + " window=null count=5 names=[\"one\",null,"
                + "\"three\",null,\"five\"] flags=0 options=0x0"), callLog.lines(),
                "SccGet with an unconvertible and a null name");
    }
}
