package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.MessageType;
import com.vantrel.oskel.scc.OpenMode;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.concurrent.Callable;

/**
 * The connection and project of one command, or of a whole session: connects and opens on first
 * use, prints the provider's messages, and closes both at the end.
 *
 * <p>Provider messages go to standard error, except the output of the commands whose output is
 * the provider's text (history, diff, properties), which goes to standard output. Progress lines
 * are shown on standard error only when it is a terminal.
 */
final class Context implements AutoCloseable {
    private final PrintWriter out;
    private final PrintWriter err;
    private final boolean session;
    private ConnectionOptions connectionOptions;
    private ProjectOptions projectOptions;
    private boolean create;
    private OutputOptions output = new OutputOptions();
    /** Where the options not given come from; made when the options are known. */
    private Binding.Lookup bindings;
    private Connection connection;
    private Project project;
    /** While a command runs, its messages come with its result and are printed from there. */
    private boolean inCommand;
    /** The messages of a project open, printed when it succeeds (a failure carries them). */
    private List<ProviderMessage> opening;
    /** The messages of the running command's calls, for the commands whose results lack them. */
    private final List<ProviderMessage> captured = new ArrayList<>();
    private boolean progressShown;

    /**
     * @param session true for a session, whose options are fixed at its start and which reports
     *                every step
     */
    Context(PrintWriter out, PrintWriter err, boolean session) {
        this.out = out;
        this.err = err;
        this.session = session;
    }

    boolean isSession() {
        return session;
    }

    PrintWriter out() {
        return out;
    }

    PrintWriter err() {
        return err;
    }

    OutputOptions output() {
        return output;
    }

    void output(OutputOptions options) {
        output = options != null ? options : new OutputOptions();
    }

    private boolean verbose() {
        return session || output.verbose;
    }

    /** Takes the options of a command; in a session, those of the session command. */
    void use(ConnectionOptions connectionOptions, ProjectOptions projectOptions, boolean create)
            throws BadArguments {
        if (session) {
            if ((connectionOptions != null && connectionOptions.anyGiven())
                    || (projectOptions != null && projectOptions.anyGiven()) || create) {
                throw new BadArguments("in a session, provider, trace and project options "
                        + "belong on the session command");
            }
        } else {
            this.connectionOptions = connectionOptions;
            this.projectOptions = projectOptions;
            this.create = create;
            this.bindings = null;
        }
    }

    /** Fixes the options of a session. */
    void fix(ConnectionOptions connectionOptions, ProjectOptions projectOptions, boolean create) {
        this.connectionOptions = connectionOptions;
        this.projectOptions = projectOptions;
        this.create = create;
        this.bindings = null;
    }

    /** The binding the options fall back on, looked for from -l DIR or the current folder. */
    Binding.Lookup bindings() {
        if (bindings == null) {
            bindings = projectOptions != null ? projectOptions.lookup(true)
                                              : new Binding.Lookup(null, true);
        }
        return bindings;
    }

    /**
     * Takes only the binding of the working folder itself (-l DIR, else the current folder), not
     * a parent's: 'scc init' in a subfolder of a bound folder binds the subfolder, and must not
     * take the parent's folder as its working folder. A session keeps its own.
     */
    void bindingOfTheFolderOnly() {
        if (!session) {
            bindings = projectOptions != null ? projectOptions.lookup(false)
                                              : new Binding.Lookup(null, false);
        }
    }

    /** The connection options in use (an empty set when the command has none). */
    ConnectionOptions connectionOptions() {
        if (connectionOptions == null) {
            connectionOptions = new ConnectionOptions();
        }
        return connectionOptions;
    }

    Connection connection() throws SccException, BadArguments, ToolFailure {
        if (connection == null) {
            ConnectionOptions options = connectionOptions();
            connection = options.connect(bindings());
            connection.setMessageListener(this::onMessage);
            if (stderrIsTerminal()) {
                connection.setProgressListener(this::showProgress);
            }
            if (verbose()) {
                note("connected to " + connection.providerName() + " (SCC API "
                        + Connection.versionText(connection.version()) + ")");
            }
            if (options.trace != null) {
                note("tracing to " + options.trace.toAbsolutePath() + " at level "
                        + (options.traceLevel == null ? 1 : options.traceLevel));
            }
        }
        return connection;
    }

    Project project() throws SccException, BadArguments, ToolFailure {
        if (project == null || !project.isOpen()) {
            ProjectOptions options = projectOptions != null ? projectOptions : new ProjectOptions();
            ProjectLocation location = options.location(bindings());
            Connection open = connection();
            if (options.queryPath) {
                ProjectLocation chosen = open.queryProjectPath(location, true, create)
                        .orElse(null);
                if (chosen == null) {
                    throw new BadArguments("the provider did not choose a project");
                }
                location = chosen;
            }
            opening = new ArrayList<>();
            try {
                project = open.openProject(location,
                        create ? OpenMode.CREATE_IF_NEW : OpenMode.EXISTING);
            } finally {
                List<ProviderMessage> sent = opening;
                opening = null;
                if (project != null && project.isOpen()) {
                    printMessages(sent, false);
                }
            }
            ProjectLocation opened = project.location();
            note("opened project " + opened.projectName() + " in " + opened.localPath()
                    + (opened.auxProjPath().isEmpty() ? "" : " (aux path " + opened.auxProjPath()
                            + ")") + " as " + opened.user());
        }
        return project;
    }

    /** Runs one provider command; its messages are printed with its result, not as they come. */
    <T> T command(Callable<T> call) throws Exception {
        inCommand = true;
        captured.clear();
        try {
            return call.call();
        } finally {
            inCommand = false;
            captured.clear();
            clearProgress();
        }
    }

    /**
     * Prints the outcome of a file command and its messages; returns its exit code.
     *
     * @param textIsOutput true for the commands whose output is the provider's text
     * @param extra more members of the JSON document
     */
    int report(CommandResult result, boolean textIsOutput, Map<String, Object> extra) {
        if (output.json) {
            Map<String, Object> document = document(result.command(), result.result(),
                    result.messages());
            document.putAll(extra);
            if (textIsOutput) {
                document.put("text", result.text());
            }
            out.println(Json.write(document));
        } else {
            printMessages(result.messages(), textIsOutput);
            if (output.porcelain()) {
                record(result.command() + "\t" + result.result().sccName() + "\t"
                        + result.code());
            } else if (verbose() || result.result() != SccResult.OK) {
                out.println(result.command() + ": " + result.result().sccName());
            }
        }
        out.flush();
        return exitCode(result.result());
    }

    static int exitCode(SccResult result) {
        return result == SccResult.OK ? ExitCodes.OK : ExitCodes.INFORMATIONAL;
    }

    /** The members every JSON document of a provider command has. */
    static Map<String, Object> document(String command, SccResult result,
            List<ProviderMessage> messages) {
        Map<String, Object> document = new LinkedHashMap<>();
        document.put("command", command);
        document.put("result", result.sccName());
        document.put("code", result.code());
        document.put("messages", messages(messages));
        return document;
    }

    static List<Object> messages(List<ProviderMessage> messages) {
        List<Object> list = new ArrayList<>();
        for (ProviderMessage message : messages) {
            Map<String, Object> entry = new LinkedHashMap<>();
            entry.put("type", lower(message.type()));
            entry.put("typeNumber", message.typeNumber());
            entry.put("text", message.text());
            list.add(entry);
        }
        return list;
    }

    /** Prints the messages of a command: its text to standard output when that is its output. */
    void printMessages(List<ProviderMessage> messages, boolean textIsOutput) {
        for (ProviderMessage message : messages) {
            MessageType type = message.type();
            boolean text = type == MessageType.INFO || type == MessageType.DOCUMENT;
            if (text && textIsOutput) {
                out.println(message.text());
            } else {
                print(message);
            }
        }
        out.flush();
        err.flush();
    }

    /**
     * A step, printed in verbose mode; on standard error when standard output carries JSON or
     * porcelain records, which are all it carries then.
     */
    void note(String text) {
        if (verbose()) {
            PrintWriter to = output.machine() ? err : out;
            to.println("-- " + text);
            to.flush();
        }
    }

    /** One --porcelain record: a newline ends it, or a NUL with -z. */
    void record(String line) {
        out.print(line);
        out.print(output.nul ? '\0' : '\n');
    }

    /** A name in a --porcelain record: quoted when it needs it, as it is with -z. */
    String name(String name) {
        return output.nul ? name : Porcelain.quote(name);
    }

    /** Takes the messages the running command's calls sent so far. */
    List<ProviderMessage> takeMessages() {
        List<ProviderMessage> taken = List.copyOf(captured);
        captured.clear();
        return taken;
    }

    private void onMessage(ProviderMessage message) {
        if (opening != null) {
            opening.add(message);
        } else if (inCommand) {
            captured.add(message);
        } else if (!output.json) {
            print(message);
            err.flush();
        }
    }

    /** One provider message on standard error, marked with its type. */
    private void print(ProviderMessage message) {
        switch (message.type()) {
            case WARNING -> err.println("warning: " + message.text());
            case ERROR -> err.println("error: " + message.text());
            case INFO, DOCUMENT -> {
                if (!output.quiet) {
                    err.println(message.text());
                }
            }
            case STATUS -> {
                // shown as progress while the command runs, if at all
            }
            default -> err.println("[message type " + message.typeNumber() + "] "
                    + message.text());
        }
    }

    private void showProgress(String text) {
        if (output.quiet || output.json) {
            return;
        }
        String line = text.replaceAll("[\\r\\n\\t]", " ");
        if (line.length() > 78) {
            line = line.substring(0, 77) + "\u2026";
        }
        err.print("\r" + line + "\u001b[K");
        err.flush();
        progressShown = true;
    }

    private void clearProgress() {
        if (progressShown) {
            err.print("\r\u001b[K");
            err.flush();
            progressShown = false;
        }
    }

    /** Whether standard error is a terminal (SCC_PROGRESS=always or never overrides). */
    static boolean stderrIsTerminal() {
        String forced = System.getenv("SCC_PROGRESS");
        if ("always".equals(forced)) {
            return true;
        }
        if ("never".equals(forced)) {
            return false;
        }
        Path fd = Path.of("/proc/self/fd/2");
        if (Files.exists(fd)) {
            try {
                String target = Files.readSymbolicLink(fd).toString();
                return target.startsWith("/dev/pts/") || target.startsWith("/dev/tty");
            } catch (IOException | UnsupportedOperationException e) {
                return false;
            }
        }
        return System.console() != null;
    }

    static String capabilityLine(Capability capability) {
        return capability.sccName() + " (0x" + Integer.toHexString(capability.bit()) + ")";
    }

    static String lower(Enum<?> value) {
        return value.name().toLowerCase(Locale.ROOT);
    }

    @Override
    public void close() throws SccException {
        SccException failure = null;
        if (project != null && project.isOpen()) {
            String name = project.location().projectName();
            try {
                project.close();
                note("closed project " + name);
            } catch (SccException e) {
                failure = e;
            }
        }
        if (connection != null && !connection.isClosed()) {
            String name = connection.providerName();
            try {
                connection.close();
                note("disconnected from " + name);
            } catch (SccException e) {
                if (failure == null) {
                    failure = e;
                } else {
                    failure.addSuppressed(e);
                }
            }
        }
        out.flush();
        err.flush();
        if (failure != null) {
            throw failure;
        }
    }
}
