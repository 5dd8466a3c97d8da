package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Project;
import com.vantrel.oskel.scc.ProjectLocation;
import com.vantrel.oskel.scc.ProviderMessage;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccResult;
import java.io.PrintWriter;
import java.util.Locale;

/**
 * The connection and project of one command, or of a whole session: connects and opens on first
 * use, prints the provider's messages as they are fetched, and closes both at the end.
 */
final class Context implements AutoCloseable {
    private final PrintWriter out;
    private final PrintWriter err;
    private final boolean session;
    private ConnectionOptions connectionOptions;
    private ProjectOptions projectOptions;
    private Connection connection;
    private Project project;
    private boolean verbose;
    private boolean quiet;

    /**
     * @param session true for a session, whose options are fixed at its start and which reports
     *                every step
     */
    Context(PrintWriter out, PrintWriter err, boolean session) {
        this.out = out;
        this.err = err;
        this.session = session;
        this.verbose = session;
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

    /** Takes the options of a command; in a session, those of the session command. */
    void use(ConnectionOptions connectionOptions, ProjectOptions projectOptions,
            OutputOptions output) throws BadArguments {
        if (session) {
            if ((connectionOptions != null && connectionOptions.anyGiven())
                    || (projectOptions != null && projectOptions.anyGiven())) {
                throw new BadArguments("in a session, provider, trace and project options "
                        + "belong on the session command");
            }
        } else {
            this.connectionOptions = connectionOptions;
            this.projectOptions = projectOptions;
        }
        if (output != null) {
            verbose = session || output.verbose;
            quiet = output.quiet;
        }
    }

    /** Fixes the options of a session. */
    void fix(ConnectionOptions connectionOptions, ProjectOptions projectOptions) {
        this.connectionOptions = connectionOptions;
        this.projectOptions = projectOptions;
    }

    Connection connection() throws SccException, BadArguments {
        if (connection == null) {
            ConnectionOptions options =
                    connectionOptions != null ? connectionOptions : new ConnectionOptions();
            connection = options.connect();
            connection.setMessageListener(this::print);
            if (verbose) {
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

    Project project() throws SccException, BadArguments {
        if (project == null || !project.isOpen()) {
            ProjectOptions options = projectOptions != null ? projectOptions : new ProjectOptions();
            ProjectLocation location = options.location();
            Connection open = connection();
            if (options.queryPath) {
                ProjectLocation chosen = open.queryProjectPath(location, true, true).orElse(null);
                if (chosen == null) {
                    throw new BadArguments("the provider did not choose a project");
                }
                location = chosen;
            }
            project = open.openProject(location);
            ProjectLocation opened = project.location();
            note("opened project " + opened.projectName() + " in " + opened.localPath()
                    + (opened.auxProjPath().isEmpty() ? "" : " (aux path " + opened.auxProjPath()
                            + ")") + " as " + opened.user());
        }
        return project;
    }

    /** Prints the outcome of a command when verbose or not OK; returns its exit code. */
    int report(String operation, SccResult result) {
        if (verbose || result != SccResult.OK) {
            out.println(operation + ": " + result.sccName());
        }
        return result == SccResult.OK ? ExitCodes.OK : ExitCodes.INFORMATIONAL;
    }

    /** A progress line, printed in verbose mode. */
    void note(String text) {
        if (verbose) {
            out.println("-- " + text);
            out.flush();
        }
    }

    private void print(ProviderMessage message) {
        switch (message.type()) {
            case WARNING -> err.println("warning: " + message.text());
            case ERROR -> err.println("error: " + message.text());
            case INFO -> {
                if (!quiet) {
                    out.println(message.text());
                }
            }
            case DOCUMENT -> out.println(message.text());
            default -> out.println("[message type " + message.typeNumber() + "] "
                    + message.text());
        }
        out.flush();
        err.flush();
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
