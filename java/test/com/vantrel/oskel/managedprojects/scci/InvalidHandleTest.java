package com.vantrel.oskel.managedprojects.scci;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;

import com.vantrel.oskel.managedprojects.scci.testing.NativeTestBase;
import com.vantrel.oskel.managedprojects.scci.testing.RegistryFile;
import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import com.vantrel.oskel.managedprojects.scci.testing.TraceFile;
import java.util.List;
import java.util.function.LongUnaryOperator;
import java.util.stream.Stream;
import org.junit.jupiter.api.Tag;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.Arguments;
import org.junit.jupiter.params.provider.MethodSource;

/**
 * Handles that no successful {@code _initialize} returned are refused without being followed:
 * natives returning a number give -15, those returning a text give null, {@code _setTracing}
 * does nothing, and no provider is called.
 */
@Tag("connection")
class InvalidHandleTest extends NativeTestBase {

    /** A handle made from a valid one (which the test gets first). */
    interface HandleMaker extends LongUnaryOperator {}

    static Stream<Arguments> invalidHandles() {
        return Stream.of(
                Arguments.of("0", (HandleMaker) h -> 0L),
                Arguments.of("1", (HandleMaker) h -> 1L),
                Arguments.of("-1", (HandleMaker) h -> -1L),
                Arguments.of("0x12345678", (HandleMaker) h -> 0x12345678L),
                Arguments.of("Long.MAX_VALUE", (HandleMaker) h -> Long.MAX_VALUE),
                Arguments.of("Long.MIN_VALUE", (HandleMaker) h -> Long.MIN_VALUE),
                Arguments.of("a valid handle + 8", (HandleMaker) h -> h + 8),
                Arguments.of("a valid handle - 8", (HandleMaker) h -> h - 8),
                Arguments.of("a valid handle + 1", (HandleMaker) h -> h + 1),
                Arguments.of("a valid handle with bit 40 flipped", (HandleMaker) h -> h ^ (1L << 40)),
                Arguments.of("the low 32 bits of a valid handle", (HandleMaker) h -> h & 0xffffffffL),
                Arguments.of("a valid handle's 32 low bits sign-extended", (HandleMaker) h -> (long) (int) h));
    }

    @ParameterizedTest(name = "{0}")
    @MethodSource("invalidHandles")
    void nativesRefuseTheHandle(String what, HandleMaker maker) {
        script.initName("Valid").initCaps(0x11);
        long valid = connect();
        long handle = maker.applyAsLong(valid);
        if (handle == valid || (TestEnvironment.pointerBits() == 32 && (int) handle == (int) valid)) {
            // the handle happens to be representable unchanged (a 32-bit library's handle is its
            // low 32 bits): nothing to refuse
            return;
        }
        TraceFile trace = traceFile("trace.log");

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getVersion(handle), "_getVersion(" + what + ")");
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getCapabilities(handle),
                "_getCapabilities(" + what + ")");
        assertNull(JavaSCCInterface._getSCCName(handle), "_getSCCName(" + what + ")");
        JavaSCCInterface._setTracing(handle, 4, trace.path().toString());
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._uninitialize(handle), "_uninitialize(" + what + ")");

        assertFalse(trace.exists(), "_setTracing(" + what + ") created the trace file");
        assertEquals(List.of(), callLog.lines(), "provider calls through handle " + what);

        // The valid handle is untouched.
        assertEquals("Valid", JavaSCCInterface._getSCCName(valid), "_getSCCName of the valid handle");
        assertEquals(0x11L, JavaSCCInterface._getCapabilities(valid), "_getCapabilities of the valid handle");
        JavaSCCInterface._getVersion(valid);
        assertEquals(List.of("SccGetVersion"), callLog.lines(), "provider calls through the valid handle");
        assertFalse(trace.exists(), "_setTracing through the refused handle switched on tracing of the valid one");
    }

    @Test
    void zeroFromAFailedInitializeIsRefused() {
        script.returns("SccInitialize", -1);
        long handle = JavaSCCInterface._initialize(RegistryFile.TEST_PROVIDER_KEY);
        assertEquals(0L, handle, "failing _initialize");
        callLog.clear();

        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getVersion(handle), "_getVersion");
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._getCapabilities(handle), "_getCapabilities");
        assertNull(JavaSCCInterface._getSCCName(handle), "_getSCCName");
        assertEquals(NONSPECIFIC_ERROR, JavaSCCInterface._uninitialize(handle), "_uninitialize");
        assertEquals(List.of(), callLog.lines(), "provider calls");
    }

    @Test
    void handlesStayValidAfterUninitialize() {
        long handle = connect();
        assertEquals(0L, JavaSCCInterface._uninitialize(handle), "_uninitialize");

        assertEquals(0x00010002L, JavaSCCInterface._getVersion(handle), "_getVersion after _uninitialize");
        assertEquals("Test Provider", JavaSCCInterface._getSCCName(handle), "_getSCCName after _uninitialize");
    }
}
