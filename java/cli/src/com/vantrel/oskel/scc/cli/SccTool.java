package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.ConnectException;
import com.vantrel.oskel.scc.ProviderNotFoundException;
import com.vantrel.oskel.scc.SccException;
import java.io.PrintWriter;
import java.util.Locale;
import picocli.AutoComplete;
import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.HelpCommand;
import picocli.CommandLine.IVersionProvider;
import picocli.CommandLine.ParameterException;
import picocli.CommandLine.ParseResult;

/**
 * {@code scc}: the file commands of an SCC API source-control provider from the command line.
 *
 * <p>Every subcommand connects to a provider, runs, and disconnects; {@code session} runs many
 * commands on one connection. Provider messages are printed as they arrive: information and
 * documents on standard output, warnings and errors on standard error.
 */
@Command(name = "scc", mixinStandardHelpOptions = true, versionProvider = SccTool.Version.class,
        usageHelpAutoWidth = true,
        description = {"Drive an SCC API source-control provider through the oskelsccih "
                + "library: list the installed providers, connect to one, open a project and run "
                + "its file commands.",
            "Provider, project and trace options are given to each command; "
                    + "'scc help COMMAND' shows them."},
        subcommands = {
            ConnectionCommands.Providers.class,
            ConnectionCommands.Info.class,
            FileCommands.Get.class,
            FileCommands.Checkout.class,
            FileCommands.Checkin.class,
            FileCommands.Uncheckout.class,
            FileCommands.Add.class,
            FileCommands.Remove.class,
            FileCommands.Diff.class,
            FileCommands.History.class,
            FileCommands.Properties.class,
            FileCommands.Status.class,
            FileCommands.Populate.class,
            ConnectionCommands.Options.class,
            FileCommands.Run.class,
            SessionCommand.class,
            HelpCommand.class,
            AutoComplete.GenerateCompletion.class},
        exitCodeListHeading = "%nExit codes:%n",
        exitCodeList = {
            "0:success",
            "1:the provider answered with an informational result (SCC_I_...), such as a "
                    + "file that differs",
            "2:bad arguments",
            "3:the provider reported an error (SCC_E_...)",
            "4:no such provider, or no provider registry",
            "5:the provider did not start",
            "6:the tool failed (native library, files)"},
        footer = {"", "Example:",
            "  scc checkout --provider LocalStore --project demo -m \"fix the greeting\" hello.txt",
            "", "Environment: SCC_PROVIDER, SCC_PROJECT, SCC_USER and SCC_AUX_PATH give "
                + "defaults for --provider, --project, --user and --aux-path; on Linux "
                + "OSKELSCCIH_REGISTRY names the registry file."})
public final class SccTool implements Runnable {
    /** The command line this command belongs to; set when it is made. */
    private CommandLine line;

    /** Creates the top-level command; picocli calls this. */
    public SccTool() {}

    /**
     * Runs the tool and exits with its exit code.
     *
     * @param args the command line
     */
    public static void main(String[] args) {
        System.exit(execute(args));
    }

    /**
     * Runs the tool.
     *
     * @param args the command line
     * @return the exit code
     */
    public static int execute(String... args) {
        return commandLine(null).execute(args);
    }

    @Override
    public void run() {
        throw new ParameterException(line, "no command given");
    }

    /** The command line of the tool; commands run in the session's context when one is given. */
    static CommandLine commandLine(Context session) {
        CommandLine.IFactory defaults = CommandLine.defaultFactory();
        CommandLine.IFactory factory = new CommandLine.IFactory() {
            @Override
            public <K> K create(Class<K> type) throws Exception {
                K created = defaults.create(type);
                if (created instanceof ToolCommand command) {
                    command.shared = session;
                }
                return created;
            }
        };
        SccTool top = new SccTool();
        CommandLine line = new CommandLine(top, factory);
        top.line = line;
        line.setCaseInsensitiveEnumValuesAllowed(true);
        line.setExecutionExceptionHandler(SccTool::failed);
        if (session != null) {
            line.setOut(session.out());
            line.setErr(session.err());
        }
        for (CommandLine sub : line.getSubcommands().values()) {
            if (sub.getCommand() instanceof ToolCommand command) {
                command.out = line.getOut();
                command.err = line.getErr();
            }
        }
        return line;
    }

    /** Reports a failure on one line, without a stack trace, and gives its exit code. */
    private static int failed(Exception e, CommandLine line, ParseResult parsed) {
        PrintWriter err = line.getErr();
        int code;
        String text;
        if (e instanceof ProviderNotFoundException notFound) {
            code = ExitCodes.NOT_FOUND;
            text = notFound.getMessage();
            if (notFound.reason() == ProviderNotFoundException.Reason.NO_REGISTRY) {
                text += registryHint();
            }
        } else if (e instanceof ConnectException) {
            code = ExitCodes.NOT_STARTED;
            text = e.getMessage();
        } else if (e instanceof SccException failure) {
            code = ExitCodes.PROVIDER_ERROR;
            text = failure.operation() + " failed: " + failure.sccName() + " (" + failure.code()
                    + ")";
        } else if (e instanceof BadArguments || e instanceof IllegalArgumentException) {
            code = ExitCodes.USAGE;
            text = e.getMessage();
        } else if (e instanceof ToolFailure) {
            code = ExitCodes.FAILURE;
            text = e.getMessage();
        } else {
            code = ExitCodes.FAILURE;
            text = "internal error: " + e;
        }
        err.println("scc: " + text);
        if (System.getenv("SCC_DEBUG") != null) {
            e.printStackTrace(err);
        }
        err.flush();
        return code;
    }

    private static String registryHint() {
        if (System.getProperty("os.name", "").toLowerCase(Locale.ROOT).startsWith("windows")) {
            return " (HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider"
                    + "\\InstalledSCCProviders)";
        }
        String file = System.getenv("OSKELSCCIH_REGISTRY");
        return file != null && !file.isEmpty() ? " (registry file " + file + ")"
                : " (registry file /etc/oskelsccih/registry.reg; set OSKELSCCIH_REGISTRY to use "
                        + "another)";
    }

    /** The version from the jar's manifest. */
    static final class Version implements IVersionProvider {
        @Override
        public String[] getVersion() {
            String version = SccTool.class.getPackage().getImplementationVersion();
            return new String[] {"scc " + (version == null ? "(development build)" : version)
                    + " (oskelsccih)"};
        }
    }
}
