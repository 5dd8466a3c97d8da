package com.vantrel.oskel.managedprojects.scci.testing;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.TestInfo;

/**
 * Base of the JVM tests of the natives. Before each test (and each invocation of a parameterized
 * test) it puts the shared files back into a known state: the registry holds the standard set-up
 * ({@link RegistryFile#standard()}), the provider script is empty and the call log is cleared. Each
 * test also gets a fresh folder of its own for trace files and the like.
 *
 * <p>The library keeps process-wide state (the C locale, the provider message list, every
 * interface object ever made), so the tests of one JVM run one after another.
 */
public abstract class NativeTestBase {
    /** The caller name the library passes to SccInitialize. */
    public static final String CALLER_NAME = "Marrowby for Java SCM v2";
    /** The call log line of the SccInitialize call that {@code _initialize} makes. */
    public static final String INITIALIZE_CALL = "SccInitialize context=set window=null caller="
            + CallLog.quote(CALLER_NAME) + " name=set caps=set auxlabel=set"
            + " checkoutcommentlen=set commentlen=set";
    /** The context the test provider hands out unless the script says otherwise. */
    public static final long DEFAULT_CONTEXT = 0x5cc0c0deL;
    /** SCC_E_NONSPECIFICERROR. */
    public static final long NONSPECIFIC_ERROR = -15;

    protected RegistryFile registry;
    protected ProviderScript script;
    protected CallLog callLog;
    /** A fresh folder for this test. */
    protected Path dir;

    @BeforeEach
    void resetNativeEnvironment(TestInfo info) {
        registry = new RegistryFile(TestEnvironment.registryPath()).standard();
        script = new ProviderScript(TestEnvironment.scriptPath()).clear();
        callLog = new CallLog(TestEnvironment.callLogPath());
        callLog.clear();
        dir = TestEnvironment.newFolder(info.getTestClass().map(Class::getSimpleName).orElse("")
                + "-" + info.getTestMethod().map(m -> m.getName()).orElse(""));
    }

    /**
     * Connects to the default test provider with the script as it stands, checks that the provider
     * saw exactly one SccInitialize call, then clears the call log.
     */
    protected long connect() {
        return connect(RegistryFile.TEST_PROVIDER_KEY);
    }

    protected long connect(String providerKey) {
        callLog.clear();
        long handle = JavaSCCInterface._initialize(providerKey);
        assertNotEquals(0L, handle, "_initialize(" + printable(providerKey) + ") failed");
        assertEquals(List.of(INITIALIZE_CALL), callLog.take(),
                "provider calls of _initialize(" + printable(providerKey) + ")");
        return handle;
    }

    /**
     * A text for assertion messages that reads the same in every locale: characters outside
     * printable ASCII as {@code \\uXXXX}; null as {@code null}.
     */
    public static String printable(String text) {
        if (text == null) {
            return "null";
        }
        StringBuilder sb = new StringBuilder();
        for (int i = 0; i < text.length(); i++) {
            char c = text.charAt(i);
            if (c >= 0x20 && c < 0x7f) {
                sb.append(c);
            } else {
                sb.append(String.format("\\u%04x", (int) c));
            }
        }
        return sb.toString();
    }

    /** A trace file in this test's folder (not created). */
    protected TraceFile traceFile(String name) {
        return new TraceFile(dir.resolve(name));
    }
}
