package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.Provider;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.SccCommand;
import java.io.PrintWriter;
import java.util.List;
import picocli.CommandLine.Command;
import picocli.CommandLine.Mixin;
import picocli.CommandLine.Option;
import picocli.CommandLine.Parameters;

/** The subcommands that need no project: the provider list, the provider's facts, options. */
final class ConnectionCommands {
    private ConnectionCommands() {}

    @Command(name = "providers",
            description = {"List the installed providers: display name and provider key.",
                "On Linux the registry is the file named by $OSKELSCCIH_REGISTRY, else "
                        + "/etc/oskelsccih/registry.reg."})
    static final class Providers extends ToolCommand {
        @Override
        int run(Context context) throws Exception {
            List<Provider> providers = Scc.providers();
            if (providers.isEmpty()) {
                context.err().println("scc: no providers are installed");
                return ExitCodes.OK;
            }
            String[][] rows = new String[providers.size() + 1][];
            rows[0] = new String[] {"PROVIDER", "KEY"};
            for (int i = 0; i < providers.size(); i++) {
                Provider provider = providers.get(i);
                rows[i + 1] = new String[] {provider.name(), provider.key().orElse("(unreadable)")};
            }
            FileCommands.printTable(context.out(), rows);
            return ExitCodes.OK;
        }
    }

    @Command(name = "info",
            description = "Connect to a provider and show its name, SCC API version and "
                    + "capabilities.")
    static final class Info extends ToolCommand {
        @Mixin
        ConnectionOptions connectionOptions;
        @Mixin
        OutputOptions output;

        @Override
        int run(Context context) throws Exception {
            context.use(connectionOptions, null, output);
            Connection connection = context.connection();
            PrintWriter out = context.out();
            int version = connection.version();
            out.println("provider:     " + connection.providerName());
            out.println("key:          " + connection.providerKey().orElse("(default provider)"));
            out.println("SCC API:      " + Connection.versionText(version)
                    + String.format(" (0x%08x)", version));
            out.println("capabilities: " + String.format("0x%08x", connection.capabilityBits()));
            for (Capability capability : connection.capabilities()) {
                out.println("  " + Context.capabilityLine(capability));
            }
            int unknown = Capability.unknownBits(connection.capabilityBits());
            if (unknown != 0) {
                out.println("  other bits 0x" + Integer.toHexString(unknown));
            }
            return ExitCodes.OK;
        }
    }

    @Command(name = "options",
            description = {"Let the provider set its options for a command "
                    + "(SccGetCommandOptions), or with --check ask whether it has any.",
                "With --check: exits with 0 when the provider has advanced options for the "
                        + "command, 1 when it has none."})
    static final class Options extends ToolCommand {
        @Mixin
        ConnectionOptions connectionOptions;
        @Mixin
        OutputOptions output;

        @Parameters(index = "0", paramLabel = "COMMAND",
                description = "The command: ${COMPLETION-CANDIDATES}.")
        SccCommand command;

        @Option(names = "--check",
                description = "Only ask whether the provider has advanced options for the "
                        + "command.")
        boolean check;

        @Override
        int run(Context context) throws Exception {
            context.use(connectionOptions, null, output);
            Connection connection = context.connection();
            String name = Context.lower(command);
            if (check) {
                boolean advanced = connection.hasAdvancedOptions(command);
                context.out().println(name + ": " + (advanced ? "advanced options available"
                                                               : "no advanced options"));
                return advanced ? ExitCodes.OK : ExitCodes.INFORMATIONAL;
            }
            return context.report("options " + name, connection.commandOptions(command));
        }
    }
}
