package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import com.vantrel.oskel.scc.internal.NativeBridge;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.concurrent.locks.ReentrantLock;
import java.util.function.Consumer;

/**
 * One connection to a source-control provider: the provider library loaded and started with
 * {@code SccInitialize}. Closing it ends the provider connection ({@code SccUninitialize}), after
 * closing its open project if there is one, and releases everything native behind it: the
 * library's connection object is freed, its handle can never reach a provider again, the
 * provider library is unloaded when no other connection uses it, and the host process of a hosted
 * provider ends with its last connection.
 *
 * <p>The native library keeps one message list for the whole process and lets provider calls on
 * different connections share it, so this class runs every provider call of every connection under
 * one process-wide lock and fetches the messages of each call before the next one starts. Each
 * call therefore sees exactly the messages that its own provider call sent, and connections and
 * projects may be used from any thread. Messages go to the connection's message listener (on the
 * calling thread, after the call) and, when the call fails, into the {@link SccException}.
 *
 * @see Scc#connect(String)
 */
public final class Connection implements AutoCloseable {
    /** Serialises provider calls and message fetches across all connections. */
    private static final ReentrantLock CALLS = new ReentrantLock();

    private final long handle;
    private final String providerKey;
    private final String providerName;
    private final int capabilityBits;
    private volatile Consumer<? super ProviderMessage> listener;
    private volatile Consumer<? super String> progressListener;
    /** Hands the provider's status lines to the progress listener during a call. */
    private final NativeBridge.StatusReceiver progress = this::progress;
    // Guarded by CALLS.
    private Integer version;
    private boolean closed;
    private Project project;
    private String tracePath;

    private Connection(long handle, String providerKey, String providerName, int capabilityBits) {
        this.handle = handle;
        this.providerKey = providerKey;
        this.providerName = providerName;
        this.capabilityBits = capabilityBits;
    }

    private static final System.Logger LOG = System.getLogger("com.vantrel.oskel.scc");

    /** Starts the provider of a key (null: the default provider). */
    static Connection open(String providerKey) throws SccConnectException {
        // The key reaches the registry as the JVM's modified UTF-8, not in the locale's encoding.
        if (providerKey != null && providerKey.indexOf('\0') >= 0) {
            throw new IllegalArgumentException("provider key contains a NUL character");
        }
        Scc.ready();
        long handle;
        String name;
        int capabilities;
        CALLS.lock();
        try {
            handle = JavaSCCInterface._initialize(providerKey);
            if (handle == 0) {
                String[] report = NativeBridge.connectReport();
                SccConnectException failure = new SccConnectException(providerKey,
                        connectFailure(providerKey, report), report);
                LOG.log(System.Logger.Level.WARNING, failure.getMessage());
                throw failure;
            }
            name = JavaSCCInterface._getSCCName(handle);
            capabilities = (int) JavaSCCInterface._getCapabilities(handle);
            // Nothing has been sent yet, but the list is shared: leave it empty.
            JavaSCCInterface._getErrList(handle);
        } finally {
            CALLS.unlock();
        }
        return new Connection(handle, providerKey, name == null ? "" : name, capabilities);
    }

    /** The message of a failed connect, from the library's report of it. */
    static String connectFailure(String providerKey, String[] report) {
        StringBuilder text = new StringBuilder("could not connect to the provider ")
                .append(providerKey == null ? "named by ProviderRegKey" : "with key " + providerKey);
        if (report == null || report.length < SccConnectException.Report.COUNT) {
            return text.append(": its library is not registered or did not load, or SccInitialize"
                    + " failed").toString();
        }
        String failure = report[SccConnectException.Report.FAILURE];
        text.append(": ").append(failure == null ? "it did not start" : failure);
        String code = report[SccConnectException.Report.INITIALIZE_CODE];
        if (code != null && !code.equals("0")) {
            int value = Integer.parseInt(code);
            text.append(" with ").append(SccResult.nameOf(value)).append(" (").append(value)
                    .append(')');
        }
        text.append("; registry ").append(report[SccConnectException.Report.REGISTRY])
                .append(" (").append(report[SccConnectException.Report.REGISTRY_STATE]).append(')');
        String library = report[SccConnectException.Report.LIBRARY];
        if (library != null) {
            text.append("; provider library ").append(library);
            String loader = report[SccConnectException.Report.LOADER_ERROR];
            if (loader != null) {
                text.append(": ").append(loader);
            }
        }
        String host = report[SccConnectException.Report.HOST];
        String hostError = report[SccConnectException.Report.HOST_ERROR];
        if (host != null || hostError != null) {
            text.append("; host program ").append(host == null ? "(none)" : host);
            if (hostError != null) {
                text.append(": ").append(hostError);
            }
        }
        return text.toString();
    }

    /**
     * The provider's name for itself, as {@code SccInitialize} reported it.
     *
     * @return the name
     */
    public String providerName() {
        return providerName;
    }

    /**
     * The provider key this connection was opened with.
     *
     * @return the key, or empty for the default provider
     */
    public Optional<String> providerKey() {
        return Optional.ofNullable(providerKey);
    }

    /**
     * The provider's capabilities, as {@code SccInitialize} reported them.
     *
     * @return a new set
     */
    public EnumSet<Capability> capabilities() {
        return Capability.decode(capabilityBits);
    }

    /**
     * The provider's capability word as it reported it, bits without a {@link Capability} included.
     *
     * @return the word
     */
    public int capabilityBits() {
        return capabilityBits;
    }

    /**
     * Whether the provider reported a capability.
     *
     * @param capability a capability
     * @return true when its bit is set
     */
    public boolean has(Capability capability) {
        return (capabilityBits & capability.bit()) != 0;
    }

    /**
     * The version number of the SCC API the provider implements ({@code SccGetVersion}, asked once
     * per connection): the major version in the high 16 bits, the minor one in the low 16 bits.
     *
     * @return the version number, 0 when the provider does not tell
     * @throws IllegalStateException when the connection is closed
     */
    public int version() {
        return call(h -> {
            if (version == null) {
                version = (int) JavaSCCInterface._getVersion(h);
            }
            return version;
        }).value();
    }

    /**
     * The version number as text.
     *
     * @param version a version number from {@link #version()}
     * @return for example {@code "1.2"}
     */
    public static String versionText(int version) {
        return (version >>> 16) + "." + (version & 0xffff);
    }

    /**
     * Sets the receiver of the provider's messages. It is called on the thread of each provider
     * call, after the call, once per message in the order sent.
     *
     * @param listener the receiver, or null for none
     */
    public void setMessageListener(Consumer<? super ProviderMessage> listener) {
        this.listener = listener;
    }

    /**
     * Sets the receiver of the provider's progress lines ({@code SCC_MSG_STATUS}). It is called on
     * the thread of the call while the provider works, once per line; the lines are also among
     * the messages of the call. An exception it throws is dropped.
     *
     * @param listener the receiver, or null for none
     */
    public void setProgressListener(Consumer<? super String> listener) {
        this.progressListener = listener;
    }

    private void progress(String text) {
        Consumer<? super String> receiver = progressListener;
        if (receiver != null) {
            try {
                receiver.accept(text);
            } catch (RuntimeException e) {
                LOG.log(System.Logger.Level.DEBUG, "progress listener failed", e);
            }
        }
    }

    /**
     * Starts, changes or stops the trace log of this connection. A level of 1 or more writes the
     * trace settings and the capability report at once, and from then on a line per provider call
     * and, at higher levels, more detail; level 0 stops tracing.
     *
     * @param level the trace level, 0 to stop
     * @param file the trace log; appended to, created when missing
     * @throws IllegalArgumentException for a negative level or a file name with a NUL character
     * @throws IllegalStateException when the connection is closed
     */
    public void setTracing(int level, Path file) {
        Objects.requireNonNull(file, "file");
        if (level < 0) {
            throw new IllegalArgumentException("trace level " + level + " is negative");
        }
        String path = file.toAbsolutePath().toString();
        if (path.indexOf('\0') >= 0) {
            throw new IllegalArgumentException("trace file name contains a NUL character");
        }
        callWithoutProvider(h -> {
            JavaSCCInterface._setTracing(h, level, path);
            tracePath = path;
            return null;
        });
    }

    /**
     * Stops the trace log; does nothing when none was started.
     *
     * @throws IllegalStateException when the connection is closed
     */
    public void stopTracing() {
        callWithoutProvider(h -> {
            if (tracePath != null) {
                JavaSCCInterface._setTracing(h, 0, tracePath);
            }
            return null;
        });
    }

    /**
     * Opens a project that exists ({@link OpenMode#EXISTING}): the provider refuses one that does
     * not, with an {@link SccException} such as {@link SccResult#E_UNKNOWNPROJECT}. Texts that the
     * provider changes while it opens the project (a corrected user name, a store folder it
     * chose) are in {@link Project#location()}.
     *
     * @param location the project
     * @return the open project
     * @throws SccException when the provider does not open the project
     * @throws IllegalArgumentException when a text is too long or cannot be written in the locale's
     *         encoding
     * @throws IllegalStateException when the connection is closed or already has an open project
     */
    public Project openProject(ProjectLocation location) throws SccException {
        return openProject(location, OpenMode.EXISTING);
    }

    /**
     * Opens a project, creating it when it is new and {@code mode} is
     * {@link OpenMode#CREATE_IF_NEW}.
     *
     * @param location the project
     * @param mode whether the provider may create the project
     * @return the open project
     * @throws SccException when the provider does not open the project
     * @throws IllegalArgumentException when a text is too long or cannot be written in the locale's
     *         encoding
     * @throws IllegalStateException when the connection is closed or already has an open project
     */
    public Project openProject(ProjectLocation location, OpenMode mode) throws SccException {
        Objects.requireNonNull(location, "location");
        Objects.requireNonNull(mode, "mode");
        location.check();
        ProjectDescriptor descriptor = new ProjectDescriptor(location);
        int flags = mode == OpenMode.CREATE_IF_NEW ? SCC_OP_CREATEIFNEW : 0;
        Fetched<Opened> fetched = call(h -> {
            if (project != null && project.isOpenLocked()) {
                throw new IllegalStateException("the connection already has an open project: "
                        + project.location().projectName());
            }
            long code = NativeBridge.openProject(h, descriptor, flags);
            if (code == 0) {
                project = new Project(this, descriptor.location());
                return new Opened(code, project);
            }
            return new Opened(code, null);
        });
        if (fetched.value().project() == null) {
            // Only SCC_OK opens a project; an informational result leaves it closed as well.
            throw failure("open project", fetched.value().code(), fetched.messages());
        }
        return fetched.value().project();
    }

    private static final int SCC_OP_CREATEIFNEW = 1;

    private record Opened(long code, Project project) {}

    /**
     * Asks the provider for a project ({@code SccGetProjPath}), typically through its own dialog.
     *
     * @param location the texts to start from
     * @param allowChangePath whether the provider may change the local path
     * @param allowNew whether the provider may offer to create a new project
     * @return the texts the provider chose, or empty when it returned an informational result such
     *         as {@link SccResult#I_OPERATIONCANCELED}
     * @throws SccException when the provider fails
     * @throws IllegalStateException when the connection is closed
     */
    public Optional<ProjectLocation> queryProjectPath(ProjectLocation location,
            boolean allowChangePath, boolean allowNew) throws SccException {
        Objects.requireNonNull(location, "location");
        location.check();
        ProjectDescriptor descriptor = new ProjectDescriptor(location);
        Fetched<Long> fetched = call(
                h -> JavaSCCInterface._getProjPath(h, descriptor, allowChangePath, allowNew));
        return pathResult(fetched, descriptor);
    }

    /**
     * Asks the provider for a project ({@code SccGetProjPath}) with another user or local path than
     * the location's.
     *
     * @param location the texts to start from
     * @param user the user to use instead of the location's, or null to keep it
     * @param localPath the local path to use instead of the location's, or null to keep it
     * @param allowChangePath whether the provider may change the local path
     * @param allowNew whether the provider may offer to create a new project
     * @return the texts the provider chose, or empty when it returned an informational result
     * @throws SccException when the provider fails
     * @throws IllegalStateException when the connection is closed
     */
    public Optional<ProjectLocation> queryProjectPath(ProjectLocation location, String user,
            String localPath, boolean allowChangePath, boolean allowNew) throws SccException {
        Objects.requireNonNull(location, "location");
        location.check();
        if (user != null) {
            NativeText.check(user, "user name", ProjectLocation.TEXT_LIMIT);
        }
        if (localPath != null) {
            NativeText.check(localPath, "local path", ProjectLocation.TEXT_LIMIT);
        }
        ProjectDescriptor descriptor = new ProjectDescriptor(location);
        Fetched<Long> fetched = call(h -> JavaSCCInterface._reGetProjPath(h, descriptor, user,
                localPath, allowChangePath, allowNew));
        return pathResult(fetched, descriptor);
    }

    private Optional<ProjectLocation> pathResult(Fetched<Long> fetched,
            ProjectDescriptor descriptor) throws SccException {
        SccResult result = check("query project path", fetched.value(), fetched.messages());
        return result == SccResult.OK ? Optional.of(descriptor.location()) : Optional.empty();
    }

    /**
     * The open project of this connection.
     *
     * @return the project, or empty when none is open
     */
    public Optional<Project> project() {
        CALLS.lock();
        try {
            return project != null && project.isOpenLocked() ? Optional.of(project)
                                                             : Optional.empty();
        } finally {
            CALLS.unlock();
        }
    }

    /**
     * Lets the provider set its options for a command ({@code SccGetCommandOptions}), typically
     * through its own dialog. The file commands of this connection hand the options back to the
     * provider from then on.
     *
     * @param command the command
     * @return the provider's result
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalStateException when the connection is closed
     */
    public SccResult commandOptions(SccCommand command) throws SccException {
        Fetched<Long> fetched =
                call(h -> JavaSCCInterface._getCommandOptions(h, command.number()));
        return check("command options " + command.name().toLowerCase(java.util.Locale.ROOT),
                fetched.value(), fetched.messages());
    }

    /**
     * Asks whether the provider has advanced options for a command ({@code SccGetCommandOptions}
     * without an option block).
     *
     * @param command the command
     * @return true when the provider answers {@link SccResult#I_ADV_SUPPORT}
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalStateException when the connection is closed
     */
    public boolean hasAdvancedOptions(SccCommand command) throws SccException {
        Fetched<Long> fetched =
                call(h -> JavaSCCInterface._checkCommandOptions(h, command.number()));
        return check("check options " + command.name().toLowerCase(java.util.Locale.ROOT),
                fetched.value(), fetched.messages()) == SccResult.I_ADV_SUPPORT;
    }

    /**
     * Whether the connection is closed.
     *
     * @return true after {@link #close()}
     */
    public boolean isClosed() {
        CALLS.lock();
        try {
            return closed;
        } finally {
            CALLS.unlock();
        }
    }

    /**
     * Closes the open project, if any, ends the provider connection ({@code SccUninitialize}) and
     * releases the native connection. Later calls do nothing.
     *
     * @throws SccException when the provider fails to close the project or to end the connection;
     *         the connection counts as closed and is released all the same
     */
    @Override
    public void close() throws SccException {
        List<ProviderMessage> messages = new ArrayList<>();
        SccException failure = null;
        CALLS.lock();
        try {
            if (closed) {
                return;
            }
            closed = true;
            NativeBridge.setProgress(progress);
            try {
                if (project != null && project.isOpenLocked()) {
                    long code = project.closeLocked();
                    List<ProviderMessage> sent = drain();
                    messages.addAll(sent);
                    if (isFailure((int) code)) {
                        failure = failure("close project", code, sent);
                    }
                }
                long code = NativeBridge.release(handle);
                List<ProviderMessage> sent = parse(NativeBridge.takeMessages());
                messages.addAll(sent);
                if (isFailure((int) code)) {
                    SccException disconnect = new SccException("disconnect", (int) code, sent);
                    if (failure == null) {
                        failure = disconnect;
                    } else {
                        failure.addSuppressed(disconnect);
                    }
                }
            } finally {
                NativeBridge.setProgress(null);
            }
        } finally {
            CALLS.unlock();
        }
        deliver(messages);
        if (failure != null) {
            throw failure;
        }
    }

    /**
     * The provider's name and key.
     *
     * @return a description for logs
     */
    @Override
    public String toString() {
        return "Connection[" + providerName + ", key " + (providerKey == null ? "default"
                                                                           : providerKey) + "]";
    }

    // --- the call path shared by connections and projects ------------------------------------

    /** One native call that works on the connection's handle. */
    interface NativeCall<T> {
        T run(long handle);
    }

    /** The value of a native call and the provider messages it produced. */
    record Fetched<T>(T value, List<ProviderMessage> messages) {}

    /**
     * Runs one native call under the process-wide lock, then fetches the messages it produced
     * before the lock is released, and hands them to the listener.
     */
    <T> Fetched<T> call(NativeCall<T> call) {
        T value;
        List<ProviderMessage> messages;
        CALLS.lock();
        try {
            if (closed) {
                throw new IllegalStateException("the connection to " + providerName
                        + " is closed");
            }
            NativeBridge.setProgress(progress);
            try {
                value = call.run(handle);
            } finally {
                NativeBridge.setProgress(null);
                messages = drain();
            }
        } finally {
            CALLS.unlock();
        }
        deliver(messages);
        return new Fetched<>(value, messages);
    }

    /**
     * Runs one native call that makes no provider call (so there are no messages to fetch) under
     * the process-wide lock.
     */
    private <T> T callWithoutProvider(NativeCall<T> call) {
        CALLS.lock();
        try {
            if (closed) {
                throw new IllegalStateException("the connection to " + providerName
                        + " is closed");
            }
            return call.run(handle);
        } finally {
            CALLS.unlock();
        }
    }

    /** The interface handle, for a project's calls made while the lock is held. */
    long handleLocked() {
        assert CALLS.isHeldByCurrentThread();
        return handle;
    }

    private List<ProviderMessage> drain() {
        return parse(JavaSCCInterface._getErrList(handle));
    }

    private static List<ProviderMessage> parse(String[] entries) {
        if (entries == null || entries.length == 0) {
            return List.of();
        }
        List<ProviderMessage> messages = new ArrayList<>(entries.length);
        for (String entry : entries) {
            messages.add(ProviderMessage.parse(entry));
        }
        return List.copyOf(messages);
    }

    private void deliver(List<ProviderMessage> messages) {
        Consumer<? super ProviderMessage> receiver = listener;
        if (receiver != null) {
            for (ProviderMessage message : messages) {
                receiver.accept(message);
            }
        }
    }

    private static boolean isFailure(int code) {
        return SccResult.forCode(code).map(SccResult::isError).orElse(true);
    }

    static SccException failure(String operation, long code, List<ProviderMessage> messages) {
        return new SccException(operation, (int) code, messages);
    }

    /**
     * The named result of a provider code; errors, and codes the SCC API does not define, are
     * thrown.
     */
    static SccResult check(String operation, long rawCode, List<ProviderMessage> messages)
            throws SccException {
        int code = (int) rawCode;
        Optional<SccResult> result = SccResult.forCode(code);
        if (result.isEmpty() || result.get().isError()) {
            throw new SccException(operation, code, messages);
        }
        return result.get();
    }
}
