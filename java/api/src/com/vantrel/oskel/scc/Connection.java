package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import com.vantrel.oskel.scc.internal.NativeBridge;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.List;
import java.util.Objects;
import java.util.Optional;
import java.util.Set;
import java.util.concurrent.CancellationException;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.Executor;
import java.util.concurrent.locks.ReentrantLock;
import java.util.function.Consumer;
import java.util.function.Supplier;

/**
 * One connection to a source-control provider: the provider library loaded and started with
 * {@code SccInitialize}. Closing it ends the provider connection ({@code SccUninitialize}), after
 * closing its open project if there is one, and releases everything native behind it: the
 * library's connection object is freed, its handle can never reach a provider again, the
 * provider library is unloaded when no other connection uses it, and the host process of a hosted
 * provider ends with its last connection.
 *
 * <p>Threads: a connection and its project may be used from any thread. Each connection has a
 * message list of its own and runs one call at a time; calls to the same provider library (from
 * any connection, class loader or thread of the process) are serialised, since providers are not
 * thread-safe, and calls to different provider libraries run side by side. A thread waiting for
 * its turn can be interrupted: the call then throws a {@link CancellationException} (an
 * {@link IllegalStateException}) and the thread's interrupt flag stays set. An interrupt during a
 * call cancels it like {@link #cancel()} where the provider is in cancel mode.
 *
 * <p>Each call sees exactly the messages that its own provider call sent (and those the provider
 * sent from threads of its own since the last call). Messages go to the connection's message
 * listener (on the calling thread, after the call) and, when the call fails, into the
 * {@link SccException}.
 *
 * <p>Listeners and receivers that run during a call (the progress listener, the receivers of
 * {@link Project#queryChanges} and {@link Project#dirList}) must not call back into the
 * connection: a call or {@link #close()} on it from there throws {@link IllegalStateException} at
 * once, and so does a call on another connection to the same provider library, or to one that is
 * busy. Listeners that run after the call (messages, renames, events) may make any call.
 *
 * <p>Beyond the project commands, a connection reaches the rest of the provider's API: the event
 * queue ({@link #setEventQueue(boolean)}, {@link #pollEvents()}), cancellation of a running
 * command from another thread ({@link #setCancelMode(boolean)}, {@link #cancel()}), batches
 * ({@link #beginBatch()}), extended capabilities, user options, sub-projects and the provider's
 * reports of renames ({@link #setNameChangeListener(Consumer)}).
 *
 * @see Scc#connect(String)
 */
public final class Connection implements AutoCloseable {
    /** Serialises the calls of this connection; never held while an after-call listener runs. */
    private final ReentrantLock lock = new ReentrantLock();

    private final long handle;
    private final String providerKey;
    private final String providerName;
    private final int capabilityBits;
    private final int checkoutCommentLimit;
    private final int commentLimit;
    private volatile Consumer<? super ProviderMessage> listener;
    private volatile Consumer<? super String> progressListener;
    /** Hands the provider's status lines to the progress listener during a call. */
    private final NativeBridge.StatusReceiver progress = this::progress;
    /** Renames the provider reported, waiting to be handed to the listener after the call. */
    private final ConcurrentLinkedQueue<NameChange> renames = new ConcurrentLinkedQueue<>();
    /** Keeps the provider's rename reports; the native side holds on to it while installed. */
    private final NativeBridge.NameChangeReceiver nameChanges = (oldName, newName) -> renames
            .add(new NameChange(NativeText.path(oldName), NativeText.path(newName)));
    private volatile Consumer<? super NameChange> nameChangeListener;
    private volatile Consumer<? super StatusEvent> eventListener;
    /** Set, under the lock, before the native connection is released: cancel() stops reaching it. */
    private volatile boolean released;
    /** Set under the lock; read without it. */
    private volatile boolean closed;
    // Guarded by the lock.
    private Integer version;
    private Project project;
    private String tracePath;
    private Batch batch;

    private Connection(long handle, String providerKey, String providerName, int capabilityBits,
            int[] commentLengths) {
        this.handle = handle;
        this.providerKey = providerKey;
        this.providerName = providerName;
        this.capabilityBits = capabilityBits;
        this.checkoutCommentLimit = commentLengths == null ? -1 : commentLengths[0];
        this.commentLimit = commentLengths == null ? -1 : commentLengths[1];
    }

    private static final System.Logger LOG = System.getLogger("com.vantrel.oskel.scc");

    /** Starts the provider of a key (null: the default provider). */
    static Connection open(String providerKey) throws SccConnectException {
        // The key reaches the registry as the JVM's modified UTF-8, not in the locale's encoding.
        if (providerKey != null && providerKey.indexOf('\0') >= 0) {
            throw new IllegalArgumentException("provider key contains a NUL character");
        }
        Scc.ready();
        // The connection's messages are its own: the process-wide list of JavaSCCInterface's
        // callers is left alone.
        long handle = NativeBridge.connect(providerKey);
        if (handle == 0) {
            String[] report = NativeBridge.connectReport();
            SccConnectException failure = new SccConnectException(providerKey,
                    connectFailure(providerKey, report), report);
            LOG.log(System.Logger.Level.WARNING, failure.getMessage());
            throw failure;
        }
        String name = JavaSCCInterface._getSCCName(handle);
        int capabilities = (int) JavaSCCInterface._getCapabilities(handle);
        return new Connection(handle, providerKey, name == null ? "" : name, capabilities,
                NativeBridge.commentLengths(handle));
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
     * The longest check-out comment the provider takes, in bytes of the locale's encoding, as
     * {@code SccInitialize} reported it. A longer comment is refused before the provider is
     * called ({@link IllegalArgumentException}); with 0 the provider takes none, and a check-out
     * passes it none whatever the comment.
     *
     * @return the length; below 0 when the provider did not say
     */
    public int checkoutCommentLimit() {
        return checkoutCommentLimit;
    }

    /**
     * The longest comment the provider takes for check-in, add and remove, in bytes of the
     * locale's encoding, as {@code SccInitialize} reported it; refused and dropped as for
     * {@link #checkoutCommentLimit()}.
     *
     * @return the length; below 0 when the provider did not say
     */
    public int commentLimit() {
        return commentLimit;
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
        return locked(() -> project != null && project.isOpenLocked() ? Optional.of(project)
                                                                      : Optional.<Project>empty());
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

    // --- options, events, cancellation, batches and the rest of the provider's API ------------

    private static final int SCC_OPT_EVENTQUEUE = 1;
    private static final int SCC_OPT_HASCANCELMODE = 3;
    private static final int SCC_OPT_SCCCHECKOUTONLY = 5;
    private static final int SCC_OPT_SHARESUBPROJ = 6;
    /** The most events {@link #pollEvents()} takes in one call. */
    public static final int EVENT_LIMIT = 10_000;
    /** The longest user name the sub-project calls take ({@code SCC_USER_LEN}). */
    private static final int USER_LIMIT = 31;

    private SccResult option(String operation, int option, int value) throws SccException {
        Fetched<Long> fetched = call(h -> NativeBridge.setOption(h, option, value));
        return check(operation, fetched.value(), fetched.messages());
    }

    /**
     * Switches the provider's event queue on or off ({@code SccSetOption} with
     * {@code SCC_OPT_EVENTQUEUE}). While it is on, the provider queues the status changes it sees,
     * for {@link #pollEvents()}; a provider with {@link Capability#GETEVENTS} offers it.
     *
     * @param enabled true to queue events, false to stop
     * @return the provider's result
     * @throws SccException when the provider refuses, typically with
     *         {@link SccResult#E_OPNOTSUPPORTED}
     * @throws IllegalStateException when the connection is closed
     */
    public SccResult setEventQueue(boolean enabled) throws SccException {
        return option(enabled ? "enable event queue" : "disable event queue", SCC_OPT_EVENTQUEUE,
                enabled ? 1 : 0);
    }

    /**
     * Takes one queued status change from the provider ({@code SccGetEvents}). The call is meant
     * to be cheap: the provider answers from what it already knows.
     *
     * @return the event, or empty when the queue is empty
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalStateException when the connection is closed
     */
    public Optional<StatusEvent> pollEvent() throws SccException {
        List<StatusEvent> events = takeEvents(1);
        return events.isEmpty() ? Optional.empty() : Optional.of(events.get(0));
    }

    /**
     * Takes every queued status change from the provider, at most {@link #EVENT_LIMIT} in one
     * call, oldest first. Should the provider fail after some events were taken, those are
     * returned (they are no longer in its queue) and the failure shows on the next poll.
     *
     * @return the events; empty when the queue is empty
     * @throws SccException when the provider fails before it gave an event, or lacks the entry
     *         point
     * @throws IllegalStateException when the connection is closed
     */
    public List<StatusEvent> pollEvents() throws SccException {
        return takeEvents(EVENT_LIMIT);
    }

    private List<StatusEvent> takeEvents(int limit) throws SccException {
        record Taken(long code, List<StatusEvent> events) {}
        Fetched<Taken> fetched = call(h -> {
            List<StatusEvent> events = new ArrayList<>();
            String[] name = new String[1];
            int[] values = new int[2];
            while (events.size() < limit) {
                name[0] = "";
                values[0] = 0;
                values[1] = 0;
                long code = NativeBridge.getEvents(h, name, values);
                if (isFailure((int) code)) {
                    return new Taken(code, events);
                }
                if (name[0] != null && name[0].isEmpty()) {
                    break; // the queue is empty
                }
                events.add(StatusEvent.of(NativeText.path(name[0]), values[0]));
                if (values[1] <= 0) {
                    break;
                }
            }
            return new Taken(0, events);
        });
        Taken taken = fetched.value();
        if (taken.events().isEmpty()) {
            check("events", taken.code(), fetched.messages());
        }
        return List.copyOf(taken.events());
    }

    /**
     * Sets the receiver of status events for {@link #deliverEvents()}, for callers that poll from
     * a loop of their own; {@link #setEventListener(Consumer, Executor)} delivers them without
     * one. Stops the watching of that method.
     *
     * @param listener the receiver, or null for none
     */
    public void setEventListener(Consumer<? super StatusEvent> listener) {
        stopWatchingEvents();
        this.eventListener = listener;
    }

    /**
     * Sets a receiver of status events that fires on its own: a daemon thread of this connection
     * takes the queued events every {@value #EVENT_POLL_MS} ms (as {@link #pollEvents()} does)
     * and hands each to the listener through {@code executor} (an IDE passes its UI executor),
     * or on that thread itself when the executor is null. The thread ends with
     * {@link #close()} or with the next call of either {@code setEventListener}; a provider that
     * fails to answer is asked again at the next turn. Turn the provider's queue on first
     * ({@link #setEventQueue(boolean)}).
     *
     * @param listener the receiver, or null to stop
     * @param executor where the listener runs, or null for the watching thread
     */
    public void setEventListener(Consumer<? super StatusEvent> listener, Executor executor) {
        stopWatchingEvents();
        this.eventListener = listener;
        if (listener == null || closed) {
            return;
        }
        Thread thread = new Thread(() -> watchEvents(listener, executor),
                "scc events " + providerName);
        thread.setDaemon(true);
        synchronized (watching) {
            watching[0] = thread;
        }
        thread.start();
    }

    /** How often the watching thread of {@link #setEventListener(Consumer, Executor)} polls. */
    public static final int EVENT_POLL_MS = 200;

    /** The thread that watches for events, if any: the one element. */
    private final Thread[] watching = new Thread[1];

    private boolean watchingOn(Thread thread) {
        synchronized (watching) {
            return watching[0] == thread;
        }
    }

    private void stopWatchingEvents() {
        Thread thread;
        synchronized (watching) {
            thread = watching[0];
            watching[0] = null;
        }
        if (thread != null && thread != Thread.currentThread()) {
            thread.interrupt();
        }
    }

    private void watchEvents(Consumer<? super StatusEvent> listener, Executor executor) {
        Thread self = Thread.currentThread();
        while (!closed && watchingOn(self)) {
            try {
                for (StatusEvent event : pollEvents()) {
                    if (executor == null) {
                        listener.accept(event);
                    } else {
                        executor.execute(() -> listener.accept(event));
                    }
                }
            } catch (SccException e) {
                LOG.log(System.Logger.Level.DEBUG, "taking status events failed", e);
            } catch (IllegalStateException e) {
                return; // closed, or interrupted while waiting for the provider
            } catch (RuntimeException e) {
                LOG.log(System.Logger.Level.WARNING, "the event listener failed", e);
            }
            try {
                Thread.sleep(EVENT_POLL_MS);
            } catch (InterruptedException e) {
                return;
            }
        }
    }

    /**
     * Takes the queued status changes, as {@link #pollEvents()} does, and hands each to the event
     * listener on this thread; an IDE calls it from its idle loop. With no listener it takes
     * nothing.
     *
     * @return the number of events delivered
     * @throws SccException when the provider fails before it gave an event
     * @throws IllegalStateException when the connection is closed
     */
    public int deliverEvents() throws SccException {
        Consumer<? super StatusEvent> receiver = eventListener;
        if (receiver == null) {
            return 0;
        }
        List<StatusEvent> events = pollEvents();
        for (StatusEvent event : events) {
            receiver.accept(event);
        }
        return events.size();
    }

    /**
     * Tells the provider whether this side can cancel a running command
     * ({@code SccSetOption} with {@code SCC_OPT_HASCANCELMODE}). With cancel mode on, a provider
     * that supports it asks from time to time during long commands whether to stop, and
     * {@link #cancel()} answers yes. The question shares its message type (5) with
     * {@link MessageType#DOCUMENT}: in cancel mode, messages of that type, and the provider's
     * requests to show and hide a cancel control (6, 7), are answered, not kept among a call's
     * messages.
     *
     * @param on true for cancel mode, false for none (the provider's default)
     * @return the provider's result
     * @throws SccException when the provider refuses
     * @throws IllegalStateException when the connection is closed
     */
    public SccResult setCancelMode(boolean on) throws SccException {
        return option("cancel mode", SCC_OPT_HASCANCELMODE, on ? 1 : 0);
    }

    /**
     * Cancels the command now running on this connection, from any thread: until that command
     * returns, each time the provider asks whether to stop, the answer is yes. It waits for
     * nothing and takes none of the locks that provider calls hold, so it may be called while
     * another thread is inside a long command. With no command running it does nothing.
     *
     * <p>The provider must have been told with {@link #setCancelMode(boolean)} that cancelling is
     * possible, and decides itself how soon it stops. A command it stops returns normally with
     * {@link SccResult#I_OPERATIONCANCELED} ({@link CommandResult#isCancelled()}; a list result
     * then holds the items reported so far), unless the provider reports the stop as an error, which
     * is thrown as an {@link SccException} as always. Files the provider finished stay done.
     *
     * @return false when the connection is closed
     */
    public boolean cancel() {
        if (released) {
            return false;
        }
        return NativeBridge.cancel(handle);
    }

    /**
     * Asks the provider to let files be checked out only through this side, not through its own
     * user interface ({@code SccSetOption} with {@code SCC_OPT_SCCCHECKOUTONLY}).
     *
     * @param on true for check-out only through this side
     * @return the provider's result
     * @throws SccException when the provider refuses
     * @throws IllegalStateException when the connection is closed
     */
    public SccResult setCheckoutOnly(boolean on) throws SccException {
        return option("check-out only", SCC_OPT_SCCCHECKOUTONLY, on ? 1 : 0);
    }

    /**
     * Whether the provider takes a destination folder for {@link Project#addFromScc(Path)}
     * ({@code SccSetOption} with {@code SCC_OPT_SHARESUBPROJ}).
     *
     * @return true when it answers {@link SccResult#I_SHARESUBPROJOK}; false for any other answer
     * @throws IllegalStateException when the connection is closed
     */
    public boolean sharesSubProjects() {
        return call(h -> NativeBridge.setOption(h, SCC_OPT_SHARESUBPROJ, 0))
                .value() == SccResult.I_SHARESUBPROJOK.code();
    }

    /**
     * Sets the receiver of the provider's reports that it renamed or moved a file during a command
     * ({@code SccSetOption} with {@code SCC_OPT_USERDATA} and {@code SCC_OPT_NAMECHANGEPFN}). Each
     * report is handed to it on the calling thread after the command, with the command's messages;
     * a report the provider makes outside a command, or from a thread of its own, comes after the
     * connection's next call.
     *
     * @param listener the receiver, or null to remove it from the provider
     * @throws SccException when the provider refuses the callback, typically with
     *         {@link SccResult#E_OPNOTSUPPORTED}; the previous receiver stays
     * @throws IllegalStateException when the connection is closed
     */
    public void setNameChangeListener(Consumer<? super NameChange> listener) throws SccException {
        Fetched<Long> fetched = call(
                h -> NativeBridge.setNameChangeReceiver(h, listener == null ? null : nameChanges));
        check(listener == null ? "remove name-change callback" : "set name-change callback",
                fetched.value(), fetched.messages());
        nameChangeListener = listener;
    }

    private void deliverRenames() {
        Consumer<? super NameChange> receiver = nameChangeListener;
        for (NameChange change = renames.poll(); change != null; change = renames.poll()) {
            if (receiver != null) {
                receiver.accept(change);
            }
        }
    }

    /**
     * The extended capabilities of a provider of SCC API 1.3 ({@code SccGetExtendedCapabilities},
     * asked once per capability). A capability the provider does not answer for, or cannot be
     * asked about (no such entry point), counts as missing.
     *
     * @return a new set
     * @throws IllegalStateException when the connection is closed
     */
    public EnumSet<ExtendedCapability> extendedCapabilities() {
        return call(h -> {
            EnumSet<ExtendedCapability> set = EnumSet.noneOf(ExtendedCapability.class);
            boolean[] supported = new boolean[1];
            for (ExtendedCapability capability : ExtendedCapability.values()) {
                supported[0] = false;
                long code = NativeBridge.getExtendedCapabilities(h, capability.number(),
                        supported);
                if (!isFailure((int) code) && supported[0]) {
                    set.add(capability);
                }
            }
            return set;
        }).value();
    }

    /**
     * Whether the provider reports one extended capability.
     *
     * @param capability the capability
     * @return true when it answers yes; false when it answers no or fails to answer
     * @throws IllegalStateException when the connection is closed
     */
    public boolean has(ExtendedCapability capability) {
        Objects.requireNonNull(capability, "capability");
        return call(h -> {
            boolean[] supported = new boolean[1];
            long code = NativeBridge.getExtendedCapabilities(h, capability.number(), supported);
            return !isFailure((int) code) && supported[0];
        }).value();
    }

    /**
     * One of the user's options as the provider keeps it ({@code SccGetUserOption}); a provider
     * with {@link ExtendedCapability#GET_USER_OPTIONS} answers.
     *
     * @param option the option
     * @return its value; see the option for what the values mean
     * @throws SccException when the provider fails, does not know the option or lacks the entry
     *         point
     * @throws IllegalStateException when the connection is closed
     */
    public int userOption(UserOption option) throws SccException {
        Objects.requireNonNull(option, "option");
        int[] value = new int[1];
        Fetched<Long> fetched = call(h -> NativeBridge.getUserOption(h, option.number(), value));
        check("user option " + option.name().toLowerCase(java.util.Locale.ROOT), fetched.value(),
                fetched.messages());
        return value[0];
    }

    /**
     * Begins a batch of commands ({@code SccBeginBatch}); {@link Batch#close()} ends it.
     *
     * @return the open batch
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalStateException when this connection already has an open batch (batches do
     *         not nest), or is closed
     */
    public Batch beginBatch() throws SccException {
        record Begun(long code, Batch batch) {}
        Fetched<Begun> fetched = call(h -> {
            if (batch != null) {
                throw new IllegalStateException("the connection to " + providerName
                        + " already has an open batch; batches do not nest");
            }
            long code = NativeBridge.beginBatch(h);
            if (!isFailure((int) code)) {
                batch = new Batch(this);
            }
            return new Begun(code, batch);
        });
        check("begin batch", fetched.value().code(), fetched.messages());
        return fetched.value().batch();
    }

    void endBatch(Batch ending) throws SccException {
        record Ended(boolean called, long code) {}
        Fetched<Ended> fetched;
        try {
            fetched = call(h -> {
                if (batch != ending || !ending.isOpenLocked()) {
                    return new Ended(false, 0);
                }
                ending.endedLocked();
                batch = null;
                return new Ended(true, NativeBridge.endBatch(h));
            });
        } catch (IllegalStateException closedConnection) {
            return; // closing the connection ended the batch
        }
        if (fetched.value().called()) {
            check("end batch", fetched.value().code(), fetched.messages());
        }
    }

    boolean batchOpen(Batch which) {
        return locked(() -> !closed && batch == which && which.isOpenLocked());
    }

    /**
     * Creates a sub-project below a project in the store without asking the user
     * ({@code SccCreateSubProject}); a provider with {@link Capability#CREATESUBPROJECT} offers
     * it. The provider may give the sub-project another name than the one asked for (when the
     * name is taken, say).
     *
     * @param parent the parent project: its user, project name (the provider's project path)
     *               and aux project path; it need not be open
     * @param name the name asked for
     * @return the sub-project's texts to open it with: the user and aux project path as the
     *         provider left them, its project path as project name, and the parent's local path,
     *         which the caller replaces with the sub-project's working folder
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalArgumentException when a text is too long (the user name: 31 bytes) or
     *         cannot be written in the locale's encoding
     * @throws IllegalStateException when the connection is closed
     */
    public ProjectLocation createSubProject(ProjectLocation parent, String name)
            throws SccException {
        Objects.requireNonNull(parent, "parent");
        parent.check();
        NativeText.check(parent.user(), "user name", USER_LIMIT);
        NativeText.check(name, "sub-project name", ProjectLocation.PROJECT_TEXT_LIMIT);
        String[] texts = {parent.user(), parent.projectName(), name, parent.auxProjPath(), ""};
        Fetched<Long> fetched = call(h -> NativeBridge.createSubProject(h, texts));
        check("create sub-project " + name, fetched.value(), fetched.messages());
        return new ProjectLocation(orElse(texts[0], parent.user()), orElse(texts[4], ""),
                parent.localPath(), orElse(texts[3], parent.auxProjPath()));
    }

    /**
     * The parent of a project in the store ({@code SccGetParentProjectPath}); a provider with
     * {@link Capability#GETPARENTPROJECT} offers it. For a project at the top, the provider names
     * the project itself.
     *
     * @param project the project: its user, project name (the provider's project path) and aux
     *                project path; it need not be open
     * @return the parent's texts: the user and aux project path as the provider left them, the
     *         parent's project path as project name, and the given project's local path
     * @throws SccException when the provider fails or lacks the entry point
     * @throws IllegalArgumentException when a text is too long (the user name: 31 bytes) or
     *         cannot be written in the locale's encoding
     * @throws IllegalStateException when the connection is closed
     */
    public ProjectLocation parentProject(ProjectLocation project) throws SccException {
        Objects.requireNonNull(project, "project");
        project.check();
        NativeText.check(project.user(), "user name", USER_LIMIT);
        String[] texts = {project.user(), project.projectName(), project.auxProjPath(), ""};
        Fetched<Long> fetched = call(h -> NativeBridge.getParentProjectPath(h, texts));
        check("parent project of " + project.projectName(), fetched.value(),
                fetched.messages());
        return new ProjectLocation(orElse(texts[0], project.user()), orElse(texts[3], ""),
                project.localPath(), orElse(texts[2], project.auxProjPath()));
    }

    private static String orElse(String value, String otherwise) {
        return value != null ? value : otherwise;
    }

    /**
     * Whether the connection is closed.
     *
     * @return true after {@link #close()}
     */
    public boolean isClosed() {
        return closed;
    }

    /**
     * Closes the open project, if any, ends the provider connection ({@code SccUninitialize}) and
     * releases the native connection. Later calls do nothing.
     *
     * @throws SccException when the provider fails to close the project or to end the connection;
     *         the connection counts as closed and is released all the same
     * @throws IllegalStateException when called from a listener or receiver during a call of this
     *         connection (or of another connection to the same provider library); the connection
     *         stays open
     */
    @Override
    public void close() throws SccException {
        List<ProviderMessage> messages = new ArrayList<>();
        SccException failure = null;
        stopWatchingEvents();
        lockConnection(false);
        try {
            if (closed) {
                return;
            }
            enterProvider(false);
            closed = true;
            NativeBridge.setProgress(progress);
            try {
                if (batch != null) {
                    // A batch left open would keep the provider in it (a store locked, say).
                    batch.endedLocked();
                    batch = null;
                    long code = NativeBridge.endBatch(handle);
                    List<ProviderMessage> sent = drain();
                    messages.addAll(sent);
                    if (isFailure((int) code)) {
                        failure = failure("end batch", code, sent);
                    }
                }
                if (project != null && project.isOpenLocked()) {
                    long code = project.closeLocked();
                    List<ProviderMessage> sent = drain();
                    messages.addAll(sent);
                    if (isFailure((int) code)) {
                        SccException closing = failure("close project", code, sent);
                        if (failure == null) {
                            failure = closing;
                        } else {
                            failure.addSuppressed(closing);
                        }
                    }
                }
                released = true;
                long code = NativeBridge.finish(handle);
                List<ProviderMessage> sent = drain();
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
                NativeBridge.leave(handle);
                NativeBridge.release(handle);
            }
        } finally {
            lock.unlock();
        }
        deliver(messages);
        deliverRenames();
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
     * Runs one native call with the connection's lock and its provider library's lock held, then
     * fetches the messages it produced before the locks are released, and hands them to the
     * listener once they are.
     */
    <T> Fetched<T> call(NativeCall<T> call) {
        T value;
        List<ProviderMessage> messages;
        lockConnection(true);
        try {
            checkOpen();
            enterProvider(true);
            try {
                NativeBridge.setProgress(progress);
                try {
                    value = call.run(handle);
                } finally {
                    NativeBridge.setProgress(null);
                    messages = drain();
                }
            } finally {
                NativeBridge.leave(handle);
            }
        } finally {
            lock.unlock();
        }
        deliver(messages);
        deliverRenames();
        return new Fetched<>(value, messages);
    }

    /**
     * Runs one native call that makes no provider call (so there are no messages to fetch) with
     * the connection's lock held.
     */
    private <T> T callWithoutProvider(NativeCall<T> call) {
        lockConnection(true);
        try {
            checkOpen();
            return call.run(handle);
        } finally {
            lock.unlock();
        }
    }

    private void checkOpen() {
        if (closed) {
            throw new IllegalStateException("the connection to " + providerName + " is closed");
        }
    }

    /** A read of state guarded by the lock; also from a listener running during a call. */
    private <T> T locked(Supplier<T> read) {
        if (lock.isHeldByCurrentThread()) {
            return read.get();
        }
        lock.lock();
        try {
            return read.get();
        } finally {
            lock.unlock();
        }
    }

    /**
     * Takes the connection's lock, refusing a call from inside one of its own calls; the wait can
     * be interrupted when {@code interruptible}.
     */
    private void lockConnection(boolean interruptible) {
        if (lock.isHeldByCurrentThread()) {
            throw new IllegalStateException("a call on the connection to " + providerName
                    + " from a listener or receiver running during one of its calls;"
                    + " make it after the call returns");
        }
        if (!interruptible) {
            lock.lock();
            return;
        }
        try {
            lock.lockInterruptibly();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw interrupted(e);
        }
    }

    // NativeBridge.enter's answers.
    private static final int ENTERED = 0;
    private static final int BUSY = 1;
    private static final int INSIDE_SAME_LIBRARY = 2;
    private static final int INSIDE_OTHER_LIBRARY = 3;
    /** How long one wait for the provider library lasts before the interrupt flag is looked at. */
    private static final int WAIT_SLICE_MS = 50;

    /**
     * Takes the provider library's lock for this thread; every connection to the library, in any
     * class loader, shares it. A wait that is {@code interruptible} ends with the thread's
     * interrupt; otherwise an interrupt is kept for later.
     */
    private void enterProvider(boolean interruptible) {
        boolean interruptedMeanwhile = false;
        try {
            for (;;) {
                int entry = NativeBridge.enter(handle, WAIT_SLICE_MS);
                switch (entry) {
                case ENTERED:
                    return;
                case BUSY:
                    if (Thread.interrupted()) {
                        if (interruptible) {
                            Thread.currentThread().interrupt();
                            throw interrupted(null);
                        }
                        interruptedMeanwhile = true;
                    }
                    break;
                case INSIDE_SAME_LIBRARY:
                    throw new IllegalStateException("a call on the connection to " + providerName
                            + " from a listener or receiver running during a call to the same"
                            + " provider library; make it after that call returns");
                case INSIDE_OTHER_LIBRARY:
                    throw new IllegalStateException("the provider library of " + providerName
                            + " is busy, and this thread is inside a call to another provider"
                            + " library (a listener or receiver); make the call after that one"
                            + " returns");
                default:
                    return; // not live: the native call refuses as it always does
                }
            }
        } finally {
            if (interruptedMeanwhile) {
                Thread.currentThread().interrupt();
            }
        }
    }

    private CancellationException interrupted(InterruptedException cause) {
        CancellationException e = new CancellationException("interrupted while waiting for the"
                + " provider library of " + providerName);
        if (cause != null) {
            e.initCause(cause);
        }
        return e;
    }

    /** The interface handle, for a project's calls made while the lock is held. */
    long handleLocked() {
        assert lock.isHeldByCurrentThread();
        return handle;
    }

    private List<ProviderMessage> drain() {
        return parse(NativeBridge.takeMessages(handle));
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
