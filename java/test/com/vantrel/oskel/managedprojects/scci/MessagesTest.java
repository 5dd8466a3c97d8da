package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.ProviderScript;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile.Line;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.function.Consumer;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import java.util.stream.Stream;
import org.junit.jupiter.api.Assumptions;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * The provider message list seen from Java: messages the provider sends through the text-out
 * callback during any call, fetched and cleared by {@code _getErrList} on any handle, dropped by
 * every {@code _initialize}, and dumped to the trace log at level 4.
 *
 * <p>The test provider sends through the callback that {@code SccOpenProject} received last, so each
 * test opens a project first.
 */
@Tag("messages")
class MessagesTest extends NativeTestBase {
    private static final String[] NONE = new String[0];
    private static final String[] FILES = {"a.txt"};

    /** Connects, opens a project so that the provider holds the text-out callback, drains the list. */
    private long connectWithTextOut() {
        long handle = connect();
        assertEquals(0L, JavaSCCInterface._openProject(handle, ProjDescriptor.standard().full()),
                "_openProject that hands the provider the text-out callback");
        assertArrayEquals(NONE, JavaSCCInterface._getErrList(handle), "messages after connecting");
        callLog.clear();
        return handle;
    }

    private static List<String> fetch(long handle) {
        String[] messages = JavaSCCInterface._getErrList(handle);
        assertNotNull(messages, "_getErrList returned null");
        return Arrays.asList(messages);
    }

    /** Runs one checkout, which the scripts below use as the call during which messages come. */
    private static void checkout(long handle) {
        JavaSCCInterface._checkout(handle, 1, FILES, "comment");
    }

    // ---------------------------------------------------------------------------------------------
    // Which calls carry messages

    /** A native call on a handle, made while the provider sends the scripted messages. */
    interface Carrier extends Consumer<Long> {}

    static Stream<Arguments> carriers() {
        return Stream.of(
                Arguments.of("_openProject", "SccOpenProject",
                        (Carrier) h -> JavaSCCInterface._openProject(h, ProjDescriptor.standard().full())),
                Arguments.of("_closeProject", "SccCloseProject", (Carrier) JavaSCCInterface::_closeProject),
                Arguments.of("_getProjPath", "SccGetProjPath",
                        (Carrier) h -> JavaSCCInterface._getProjPath(h, ProjDescriptor.standard().full(),
                                false, true)),
                Arguments.of("_reGetProjPath", "SccGetProjPath",
                        (Carrier) h -> JavaSCCInterface._reGetProjPath(h,
                                ProjDescriptor.standard().full(), "u", "l", true, false)),
                Arguments.of("_getFiles", "SccGet", (Carrier) h -> JavaSCCInterface._getFiles(h, 1, FILES)),
                Arguments.of("_checkout", "SccCheckout", (Carrier) MessagesTest::checkout),
                Arguments.of("_checkin", "SccCheckin",
                        (Carrier) h -> JavaSCCInterface._checkin(h, 1, FILES, "c")),
                Arguments.of("_uncheckout", "SccUncheckout",
                        (Carrier) h -> JavaSCCInterface._uncheckout(h, 1, FILES)),
                Arguments.of("_add", "SccAdd", (Carrier) h -> JavaSCCInterface._add(h, 1, FILES, "c")),
                Arguments.of("_remove", "SccRemove",
                        (Carrier) h -> JavaSCCInterface._remove(h, 1, FILES, "c")),
                Arguments.of("_history", "SccHistory", (Carrier) h -> JavaSCCInterface._history(h, 1, FILES)),
                Arguments.of("_diff", "SccDiff", (Carrier) h -> JavaSCCInterface._diff(h, "a.txt")),
                Arguments.of("_properties", "SccProperties",
                        (Carrier) h -> JavaSCCInterface._properties(h, "a.txt")),
                Arguments.of("_queryInfo", "SccQueryInfo",
                        (Carrier) h -> JavaSCCInterface._queryInfo(h, 1, FILES)),
                Arguments.of("_runScc", "SccRunScc", (Carrier) h -> JavaSCCInterface._runScc(h, 1, FILES)),
                Arguments.of("_getCommandOptions", "SccGetCommandOptions",
                        (Carrier) h -> JavaSCCInterface._getCommandOptions(h, 1)),
                Arguments.of("_checkCommandOptions", "SccGetCommandOptions",
                        (Carrier) h -> JavaSCCInterface._checkCommandOptions(h, 2)),
                Arguments.of("_populateList", "SccPopulateList",
                        (Carrier) h -> JavaSCCInterface._populateList(h, 0, 1, FILES)),
                Arguments.of("_getVersion", "SccGetVersion", (Carrier) JavaSCCInterface::_getVersion),
                Arguments.of("_uninitialize", "SccUninitialize", (Carrier) JavaSCCInterface::_uninitialize),
                // the new object resets the list before SccInitialize runs, so its messages stay
                Arguments.of("_initialize", "SccInitialize",
                        (Carrier) h -> assertNotEquals(0L,
                                JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY),
                                "_initialize")));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("carriers")
    void messagesSentDuringAProviderCallAreCollected(String nativeName, String entry, Carrier carrier) {
        long handle = connectWithTextOut();
        script.message(entry, 1, "first from " + entry).message(entry, -2, "second from " + entry)
                .message("SccGetVersion", 3, "not sent during " + nativeName);

        carrier.accept(handle);

        List<String> expected = new ArrayList<>(List.of("1 first from " + entry, "-2 second from " + entry));
        if (entry.equals("SccGetVersion")) {
            expected.add("3 not sent during " + nativeName);
        }
        assertEquals(expected, fetch(handle), "messages collected during " + nativeName);
        assertEquals(List.of(), fetch(handle), "second _getErrList after " + nativeName);
    }

    // ---------------------------------------------------------------------------------------------
    // What an entry holds

    static Stream<Arguments> messages() {
        String longText = IntStream.range(0, 5000).mapToObj(i -> Character.toString('a' + i % 26))
                .collect(Collectors.joining());
        return Stream.of(
                // description, type, text (null: a null text), entry (null: dropped)
                Arguments.of("plain text", 1, "hello", "1 hello"),
                Arguments.of("type 0", 0, "zero", "0 zero"),
                Arguments.of("type 2", 2, "two", "2 two"),
                Arguments.of("type 3", 3, "three", "3 three"),
                Arguments.of("type 5", 5, "five", "5 five"),
                Arguments.of("type 4 (status)", 4, "status", null),
                Arguments.of("type 4 with an empty text", 4, "", null),
                Arguments.of("null text", 1, null, null),
                Arguments.of("null text of type 0", 0, null, null),
                Arguments.of("null text of type 4", 4, null, null),
                Arguments.of("empty text", 1, "", "1 "),
                Arguments.of("empty text of type 0", 0, "", "0 "),
                Arguments.of("empty text of a negative type", -7, "", "-7 "),
                Arguments.of("negative type", -1, "neg", "-1 neg"),
                Arguments.of("type -4 is not the status type", -4, "minus four", "-4 minus four"),
                Arguments.of("type -999", -999, "x", "-999 x"),
                Arguments.of("type 9999", 9999, "x", "9999 x"),
                Arguments.of("type -1000", -1000, "x", "-1000 x"),
                Arguments.of("type 10000", 10000, "x", "10000 x"),
                Arguments.of("type 123456789", 123456789, "big", "123456789 big"),
                Arguments.of("type -2147483648", Integer.MIN_VALUE, "min", "-2147483648 min"),
                Arguments.of("type 2147483647", Integer.MAX_VALUE, "max", "2147483647 max"),
                Arguments.of("line breaks and tabs stay", 1, "one\ntwo\r\n\tthree", "1 one\ntwo\r\n\tthree"),
                Arguments.of("spaces stay", 2, "  padded  ", "2   padded  "),
                Arguments.of("format directives stay", 1, "%s %d %n %%", "1 %s %d %n %%"),
                Arguments.of("text of 5000 characters", 1, longText, "1 " + longText),
                Arguments.of("text of 5000 characters, type -2147483648", Integer.MIN_VALUE, longText,
                        "-2147483648 " + longText));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("messages")
    void eachMessageBecomesTypeSpaceTextOrIsDropped(String description, int type, String text,
            String expected) {
        long handle = connectWithTextOut();
        script.message("SccCheckout", 1, "before");
        if (text == null) {
            script.messageNull("SccCheckout", type);
        } else {
            script.message("SccCheckout", type, text);
        }
        script.message("SccCheckout", 1, "after");

        checkout(handle);

        List<String> expectedList = new ArrayList<>();
        expectedList.add("1 before");
        if (expected != null) {
            expectedList.add(expected);
        }
        expectedList.add("1 after");
        assertEquals(expectedList, fetch(handle), "messages for " + description);
    }

    @ParameterizedTest(name = "{0} messages")
    @ValueSource(ints = {0, 1, 31, 32, 33, 63, 64, 65, 200})
    void manyMessagesComeBackCompleteAndInOrder(int count) {
        long handle = connectWithTextOut();
        List<String> expected = new ArrayList<>();
        for (int i = 1; i <= count; i++) {
            int type = i % 4 == 0 ? -i : i % 4; // never the status type 4
            script.message("SccCheckout", type, "message " + i);
            expected.add(type + " message " + i);
        }

        checkout(handle);

        assertEquals(expected, fetch(handle), count + " messages");
        assertEquals(List.of(), fetch(handle), "second _getErrList after " + count + " messages");
    }

    @Test
    void messagesOfSeveralCallsAccumulateInArrivalOrderUntilFetched() {
        long handle = connectWithTextOut();
        script.message("SccCheckout", 1, "checkout").message("SccGet", 2, "get")
                .message("SccCloseProject", 3, "close");

        checkout(handle);
        JavaSCCInterface._getFiles(handle, 1, FILES);
        checkout(handle);
        JavaSCCInterface._closeProject(handle);

        assertEquals(List.of("1 checkout", "2 get", "1 checkout", "3 close"), fetch(handle),
                "messages of four calls");
        JavaSCCInterface._getFiles(handle, 1, FILES);
        assertEquals(List.of("2 get"), fetch(handle), "messages after the fetch");
    }

    @Test
    void withNoMessagesEveryFetchIsAnEmptyArray() {
        long handle = connectWithTextOut();
        checkout(handle);

        assertArrayEquals(NONE, JavaSCCInterface._getErrList(handle), "first _getErrList");
        assertArrayEquals(NONE, JavaSCCInterface._getErrList(handle), "second _getErrList");
    }

    @Test
    void closeProjectAndUninitializeKeepTheCollectedMessages() {
        long handle = connectWithTextOut();
        script.message("SccCheckout", 1, "kept");
        checkout(handle);
        script.clear();

        JavaSCCInterface._closeProject(handle);
        JavaSCCInterface._uninitialize(handle);

        assertEquals(List.of("1 kept"), fetch(handle), "messages after _closeProject and _uninitialize");
    }

    // ---------------------------------------------------------------------------------------------
    // One list for the whole process

    @Test
    void anyHandleFetchesTheMessagesOfEveryConnection() {
        long first = connectWithTextOut();
        long second = connect(); // drops nothing: the list is still empty
        script.message("SccCheckout", 1, "checkout").message("SccGet", 2, "get");

        checkout(first);
        JavaSCCInterface._getFiles(second, 1, FILES);
        checkout(first);

        assertEquals(List.of("1 checkout", "2 get", "1 checkout"), fetch(second),
                "messages of both connections fetched on the second handle");
        assertEquals(List.of(), fetch(first), "the first handle then finds nothing");

        JavaSCCInterface._getFiles(second, 1, FILES);
        assertEquals(List.of("2 get"), fetch(first),
                "a message sent during a call on the second handle, fetched on the first");
        assertEquals(List.of(), fetch(second), "the second handle then finds nothing");
    }

    /** A change of the registry or the script that makes the next {@code _initialize} fail or not. */
    interface InitSetup {
        /** Prepares and returns the key to pass to {@code _initialize}. */
        String prepare(RegistryFile registry, ProviderScript script);
    }

    static Stream<Arguments> initializations() {
        return Stream.of(
                Arguments.of("a successful _initialize", true,
                        (InitSetup) (r, s) -> RegistryFile.TEST_PROVIDER_KEY),
                Arguments.of("a successful _initialize of the default provider", true,
                        (InitSetup) (r, s) -> null),
                Arguments.of("_initialize with a key that is not in the registry", false,
                        (InitSetup) (r, s) -> "Software\\Vantrel\\NoSuchProvider"),
                Arguments.of("_initialize whose library does not load", false,
                        (InitSetup) (r, s) -> {
                            r.provider("Software\\Vantrel\\Missing", "/nonexistent/libmissing.so");
                            return "Software\\Vantrel\\Missing";
                        }),
                Arguments.of("_initialize of a library without SccInitialize", false,
                        (InitSetup) (r, s) -> {
                            r.provider("Software\\Vantrel\\UninitOnly",
                                    TestEnvironment.provider(TestEnvironment.UNINIT_ONLY_PROVIDER));
                            return "Software\\Vantrel\\UninitOnly";
                        }),
                Arguments.of("_initialize whose SccInitialize fails", false,
                        (InitSetup) (r, s) -> {
                            s.returns("SccInitialize", -1);
                            return RegistryFile.TEST_PROVIDER_KEY;
                        }),
                Arguments.of("_initialize whose SccInitialize fails after sending a message", false,
                        (InitSetup) (r, s) -> {
                            s.returns("SccInitialize", 1).message("SccInitialize", 1, "during a failed start");
                            return RegistryFile.TEST_PROVIDER_KEY;
                        }));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("initializations")
    void everyInitializeDropsTheMessagesNotYetFetched(String description, boolean succeeds,
            InitSetup setup) {
        long handle = connectWithTextOut();
        script.message("SccCheckout", 1, "pending one").message("SccCheckout", 2, "pending two");
        checkout(handle);
        script.clear();
        String key = setup.prepare(registry, script);

        long created = JavaSCCInterface._initialize(key);

        assertEquals(succeeds, created != 0, description + ": handle " + created);
        assertEquals(List.of(), fetch(handle), "messages after " + description);
        // the list works on: the next message is collected again
        script.clear().message("SccGet", 3, "later");
        JavaSCCInterface._getFiles(handle, 1, FILES);
        assertEquals(List.of("3 later"), fetch(handle), "a message after " + description);
    }

    // ---------------------------------------------------------------------------------------------
    // The errMsg dump

    @ParameterizedTest(name = "trace level {0}")
    @ValueSource(ints = {-1, 0, 1, 2, 3, 4, 5})
    void atLevel4AndAboveGetErrListDumpsTheMessagesToTheTraceLog(int level) {
        long handle = connectWithTextOut();
        TraceFile trace = traceFile("messages.log");
        JavaSCCInterface._setTracing(handle, level, trace.path().toString());
        trace.delete();
        script.message("SccCheckout", 1, "first").message("SccCheckout", -20, "second")
                .message("SccCheckout", 3, "");
        checkout(handle);
        trace.delete(); // only what _getErrList writes

        assertEquals(List.of("1 first", "-20 second", "3 "), fetch(handle),
                "messages at trace level " + level);
        List<Line> expected = level < 4 ? List.of() : List.of(
                Line.raw("SCCIH errMsg> getErrList for 3 messages"), Line.raw("SCCIH errMsg> 1 first"),
                Line.raw("SCCIH errMsg> -20 second"), Line.raw("SCCIH errMsg> 3 "));
        assertEquals(TraceFile.render(expected), TraceFile.render(trace.lines()),
                "trace of _getErrList at level " + level);
        assertEquals(expected, trace.lines(), "kinds of the trace lines at level " + level);

        // with no messages the count line is still written
        List<Line> empty = level < 4 ? List.of() : List.of(Line.raw("SCCIH errMsg> getErrList for 0 messages"));
        trace.delete();
        assertEquals(List.of(), fetch(handle), "second fetch");
        assertEquals(empty, trace.lines(), "trace of an empty _getErrList at level " + level);
    }

    @Test
    void theDumpGoesToTheTraceLogOfTheHandleUsed() {
        long traced = connectWithTextOut();
        long quiet = connect();
        TraceFile trace = traceFile("traced.log");
        JavaSCCInterface._setTracing(traced, 4, trace.path().toString());
        trace.delete();
        script.message("SccCheckout", 1, "one");

        checkout(quiet);
        assertEquals(List.of("1 one"), fetch(quiet), "messages fetched on the untraced handle");
        assertEquals(List.of(), trace.lines(), "the traced handle's log after a fetch on the other one");

        checkout(quiet);
        assertEquals(List.of("1 one"), fetch(traced), "messages fetched on the traced handle");
        assertEquals(List.of(Line.raw("SCCIH errMsg> getErrList for 1 messages"),
                Line.raw("SCCIH errMsg> 1 one")), trace.lines(),
                "the traced handle's log after a fetch on it");
    }

    // ---------------------------------------------------------------------------------------------
    // A message that does not convert

    @Test
    @Tag("locale")
    void aMessageThatDoesNotConvertBecomesANullElementAndIsDrainedAllTheSame() {
        ConvLocale locale = ConvLocale.current();
        Assumptions.assumeTrue(locale != ConvLocale.LATIN1,
                "every byte is a character under Latin-1: no message fails to convert");
        long handle = connectWithTextOut();
        TraceFile trace = traceFile("unconvertible.log");
        JavaSCCInterface._setTracing(handle, 4, trace.path().toString());
        byte[] invalid = ConvLocale.bytes("bad \\xff byte");
        script.message("SccCheckout", 1, "good").message("SccCheckout", 2, invalid)
                .message("SccCheckout", 3, "also good");
        checkout(handle);
        trace.delete();

        assertEquals(Arrays.asList("1 good", null, "3 also good"), fetch(handle),
                "messages with one that does not convert");
        assertEquals(List.of(), fetch(handle), "the unconvertible message is removed all the same");
        String dumped = new String(ConvLocale.bytes("SCCIH errMsg> 2 bad \\xff byte"),
                StandardCharsets.ISO_8859_1);
        assertEquals(List.of(Line.raw("SCCIH errMsg> getErrList for 3 messages"),
                Line.raw("SCCIH errMsg> 1 good"), Line.raw(dumped), Line.raw("SCCIH errMsg> 3 also good"),
                Line.raw("SCCIH errMsg> getErrList for 0 messages")), trace.lines(),
                "the dump holds the message's bytes as the provider sent them");
    }
}
