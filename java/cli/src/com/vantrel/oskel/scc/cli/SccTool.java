package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.NativeLibrary;
import com.vantrel.oskel.scc.SccUnsupportedPlatformException;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccConnectException;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.SccProviderNotFoundException;
import com.vantrel.oskel.scc.SccResult;
import java.io.PrintWriter;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.stream.Collectors;
import picocli.AutoComplete;
import picocli.CommandLine;
import picocli.CommandLine.Command;
import picocli.CommandLine.HelpCommand;
import picocli.CommandLine.IVersionProvider;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.ParameterException;
import picocli.CommandLine.ParseResult;
import picocli.CommandLine.UnmatchedArgumentException;

/**
 * {@code scc}: the file commands of an SCC API source-control provider from the command line.
 *
 * <p>Every subcommand connects to a provider, runs, and disconnects; {@code session} runs many
 * commands on one connection. The command's output goes to standard output; provider messages,
 * warnings and errors go to standard error, except for history, diff and properties, whose output
 * is the provider's text.
 */
@Command(name = "scc", mixinStandardHelpOptions = true,
        versionProvider = SccTool.Version.class, usageHelpAutoWidth = true,
        description = {"Drive an SCC API source-control provider through the oskelsccih "
                + "library: list the installed providers, connect to one, open a project and run "
                + "its file commands.",
            "Provider, project and trace options are given to each command, or once to "
                    + "'scc init', which binds the working folder to the project (" + Binding.FILE
                    + ") for every later command run in it or below it; 'scc help COMMAND' "
                    + "shows them. -v, -q, --json, --porcelain and -z go anywhere on the line.",
            "An argument holding bytes the locale's encoding cannot decode (which Java reads "
                    + "as U+FFFD, so an argument holding U+FFFD too) is refused with exit code 2: "
                    + "as a name it would reach another file."},
        subcommands = {
            ConnectionCommands.Providers.class,
            ConnectionCommands.Info.class,
            FileCommands.Init.class,
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
            StoreCommands.Rename.class,
            StoreCommands.Changes.class,
            StoreCommands.DirStatusCommand.class,
            StoreCommands.DirList.class,
            StoreCommands.DirDiff.class,
            StoreCommands.Events.class,
            StoreCommands.AddFromScc.class,
            StoreCommands.SubProject.class,
            StoreCommands.Parent.class,
            ConnectionCommands.ExtCaps.class,
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
            "3:the provider reported an error (SCC_E_...), such as a project that does not "
                    + "exist (see --create and 'scc init')",
            "4:no such provider, or no provider registry",
            "5:the provider did not start",
            "6:the tool failed (native library, files)"},
        footer = {"", "Example:",
            "  scc init --provider LocalStore --project demo",
            "  scc checkout -m \"fix the greeting\" hello.txt",
            "  scc status",
            "", "Environment: SCC_PROVIDER, SCC_PROJECT, SCC_USER and SCC_AUX_PATH give "
                + "defaults for --provider, --project, --user and --aux-path where no binding "
                + "gives them; on Linux "
                + "OSKELSCCIH_REGISTRY (or the Java system property oskelsccih.registry) names "
                + "the registry file."})
public final class SccTool implements Runnable {
    /** The command line this command belongs to; set when it is made. */
    private CommandLine line;

    /** Options of the whole tool, accepted anywhere on the line. */
    @Mixin
    OutputOptions output;

    /**
     * The library's log: the tool reports failures itself, so its records are shown only with
     * SCC_DEBUG. Held here so that the setting stays.
     */
    private static final java.util.logging.Logger LIBRARY_LOG =
            java.util.logging.Logger.getLogger("com.vantrel.oskel.scc");

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
        if (System.getenv("SCC_DEBUG") == null) {
            LIBRARY_LOG.setLevel(java.util.logging.Level.OFF);
        }
        CommandLine line = commandLine(null);
        String undecodable = Arguments.undecodable(args);
        if (undecodable != null) {
            return usageError(new ParameterException(line, undecodable), args, null);
        }
        return line.execute(args);
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
        line.setParameterExceptionHandler((e, args) -> usageError(e, args, session));
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

    /**
     * A usage error: the reason, the nearest commands to a mistyped one, one line of usage and
     * where the full help is, on standard error; under --json also one JSON document with them on
     * standard output. Exit code 2.
     */
    private static int usageError(ParameterException e, String[] args, Context session) {
        CommandLine failing = e.getCommandLine();
        PrintWriter err = failing.getErr();
        List<String> suggestions = List.of();
        if (e instanceof UnmatchedArgumentException unmatched
                && !failing.getSubcommands().isEmpty() && !unmatched.getUnmatched().isEmpty()
                && failing.getParseResult() != null
                && !failing.getParseResult().hasSubcommand()) {
            String typed = unmatched.getUnmatched().get(0);
            if (!typed.startsWith("-")) {
                suggestions = Arguments.suggestions(typed, failing.getSubcommands().keySet());
            }
        }
        String synopsis = failing.getHelp().abbreviatedSynopsis().strip()
                .replaceAll("\\s+", " ");
        String name = failing.getCommandName();
        String help = failing.getParent() == null ? "scc --help" : "scc help " + name;
        err.println("scc: " + e.getMessage());
        if (!suggestions.isEmpty()) {
            err.println("scc: did you mean " + suggestions.stream().map(c -> "'" + c + "'")
                    .collect(Collectors.joining(" or ")) + "?");
        }
        err.println("usage: " + synopsis);
        err.println("see '" + help + "'");
        err.flush();
        if (session != null ? session.output().json : jsonAsked(args)) {
            Map<String, Object> document = new LinkedHashMap<>();
            document.put("command", failing.getParent() == null ? "scc" : name);
            document.put("error", e.getMessage());
            document.put("exit", ExitCodes.USAGE);
            document.put("usage", synopsis);
            document.put("help", help);
            document.put("suggestions", suggestions);
            PrintWriter out = failing.getOut();
            out.println(Json.write(document));
            out.flush();
        }
        return ExitCodes.USAGE;
    }

    /** Whether --json is on a command line that did not parse: any word before "--". */
    private static boolean jsonAsked(String[] args) {
        for (String arg : args) {
            if (arg.equals("--")) {
                return false;
            } else if (arg.equals("--json")) {
                return true;
            }
        }
        return false;
    }

    /** Reports a failure on one line, without a stack trace, and gives its exit code. */
    private static int failed(Exception e, CommandLine line, ParseResult parsed) {
        PrintWriter err = line.getErr();
        String text = e instanceof ToolFailure || e instanceof SccException
                || e instanceof BadArguments || e instanceof IllegalArgumentException
                        ? e.getMessage() : "internal error: " + e;
        if (e instanceof SccProviderNotFoundException notFound
                && notFound.reason() == SccProviderNotFoundException.Reason.NO_REGISTRY) {
            text += registryHint();
        }
        err.println("scc: " + text);
        if (System.getenv("SCC_DEBUG") != null) {
            e.printStackTrace(err);
        }
        err.flush();
        return exitCode(e);
    }

    static int exitCode(Exception e) {
        if (e instanceof SccProviderNotFoundException) {
            return ExitCodes.NOT_FOUND;
        } else if (e instanceof SccConnectException) {
            return ExitCodes.NOT_STARTED;
        } else if (e instanceof SccException) {
            return ExitCodes.PROVIDER_ERROR;
        } else if (e instanceof BadArguments || e instanceof IllegalArgumentException) {
            return ExitCodes.USAGE;
        }
        return ExitCodes.FAILURE;
    }

    /** The JSON document of a failed command, on standard output. */
    static void jsonFailure(PrintWriter out, String command, Exception e) {
        Map<String, Object> document;
        if (e instanceof SccException failure && !(e instanceof SccConnectException)) {
            document = Context.document(command, SccResult.OK, failure.messages());
            document.put("result", failure.sccName());
            document.put("code", failure.code());
        } else {
            document = new LinkedHashMap<>();
            document.put("command", command);
        }
        document.put("error", e.getMessage());
        document.put("exit", exitCode(e));
        out.println(Json.write(document));
        out.flush();
    }

    private static String registryHint() {
        if (System.getProperty("os.name", "").toLowerCase(Locale.ROOT).startsWith("windows")) {
            return " (HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider"
                    + "\\InstalledSCCProviders)";
        }
        return " (set OSKELSCCIH_REGISTRY or -D" + Scc.REGISTRY_PROPERTY
                + " to use another registry file)";
    }

    /**
     * The tool's version and the native library it loaded. It connects to no provider: a version
     * query must not start one. A library that cannot load fails it (exit code 6), so that a
     * script checking the installation with -V sees the failure.
     */
    static final class Version implements IVersionProvider {
        @Override
        public String[] getVersion() throws ToolFailure {
            String version = SccTool.class.getPackage().getImplementationVersion();
            String tool = "scc " + (version == null ? "(development build)" : version)
                    + " (oskelsccih)";
            String library;
            try {
                library = "native library: " + NativeLibrary.load().map(Object::toString)
                        .orElse("loaded by name from java.library.path");
            } catch (LinkageError | SccUnsupportedPlatformException e) {
                throw new ToolFailure(e.getMessage(), e);
            }
            return new String[] {tool, library, "platform: " + NativeLibrary.platform()
                    .orElse(System.getProperty("os.name") + " " + System.getProperty("os.arch"))};
        }
    }
}
