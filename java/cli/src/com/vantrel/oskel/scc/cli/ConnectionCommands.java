package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Capability;
import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.ExtendedCapability;
import com.vantrel.oskel.scc.Provider;
import com.vantrel.oskel.scc.Scc;
import com.vantrel.oskel.scc.CommandResult;
import com.vantrel.oskel.scc.SccCommand;
import com.vantrel.oskel.scc.SccResult;
import java.io.PrintWriter;
import java.util.ArrayList;
import java.util.EnumSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
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
            PrintWriter out = context.out();
            if (context.output().json) {
                List<Object> entries = new ArrayList<>();
                for (Provider provider : providers) {
                    Map<String, Object> entry = new LinkedHashMap<>();
                    entry.put("name", provider.name());
                    entry.put("key", provider.key().orElse(null));
                    entries.add(entry);
                }
                Map<String, Object> document = new LinkedHashMap<>();
                document.put("command", "providers");
                document.put("providers", entries);
                out.println(Json.write(document));
                return ExitCodes.OK;
            }
            if (context.output().porcelain()) {
                for (Provider provider : providers) {
                    context.record(provider.name() + "\t" + provider.key().orElse(""));
                }
                return ExitCodes.OK;
            }
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

        private static String limitText(int limit) {
            return limit < 0 ? "no limit given" : limit == 0 ? "none taken" : limit + " bytes";
        }

        @Override
        int run(Context context) throws Exception {
            context.use(connectionOptions, null, false);
            Connection connection = context.connection();
            PrintWriter out = context.out();
            int version = connection.version();
            if (context.output().json || context.output().porcelain()) {
                List<String> names = new ArrayList<>();
                for (Capability capability : connection.capabilities()) {
                    names.add(capability.sccName());
                }
                if (context.output().json) {
                    Map<String, Object> document = new LinkedHashMap<>();
                    document.put("command", "info");
                    document.put("provider", connection.providerName());
                    document.put("key", connection.providerKey().orElse(null));
                    document.put("version", Connection.versionText(version));
                    document.put("versionNumber", version);
                    document.put("capabilityBits", connection.capabilityBits());
                    document.put("capabilities", names);
                    document.put("checkoutCommentLimit", connection.checkoutCommentLimit());
                    document.put("commentLimit", connection.commentLimit());
                    out.println(Json.write(document));
                } else {
                    context.record("provider\t" + connection.providerName());
                    context.record("key\t" + connection.providerKey().orElse(""));
                    context.record("version\t" + Connection.versionText(version));
                    context.record("capabilities\t" + String.format("0x%08x",
                            connection.capabilityBits()));
                    for (String name : names) {
                        context.record("capability\t" + name);
                    }
                    context.record("checkoutCommentLimit\t" + connection.checkoutCommentLimit());
                    context.record("commentLimit\t" + connection.commentLimit());
                }
                return ExitCodes.OK;
            }
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
            out.println("comments:     check-out " + limitText(connection.checkoutCommentLimit())
                    + ", check-in/add/remove " + limitText(connection.commentLimit()));
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

        @Parameters(index = "0", paramLabel = "COMMAND",
                description = "The command: ${COMPLETION-CANDIDATES}.")
        SccCommand command;

        @Option(names = "--check",
                description = "Only ask whether the provider has advanced options for the "
                        + "command.")
        boolean check;

        @Override
        int run(Context context) throws Exception {
            context.use(connectionOptions, null, false);
            Connection connection = context.connection();
            String name = Context.lower(command);
            if (check) {
                boolean advanced = connection.hasAdvancedOptions(command);
                if (context.output().json) {
                    Map<String, Object> document = new LinkedHashMap<>();
                    document.put("command", "options");
                    document.put("for", name);
                    document.put("advanced", advanced);
                    context.out().println(Json.write(document));
                } else {
                    context.out().println(name + ": " + (advanced ? "advanced options available"
                                                                   : "no advanced options"));
                }
                return advanced ? ExitCodes.OK : ExitCodes.INFORMATIONAL;
            }
            SccResult result = connection.commandOptions(command);
            return context.report(new CommandResult("options " + name, result, List.of()), false,
                    Map.of());
        }
    }

    @Command(name = "extcaps",
            description = {"Connect to a provider and show which extended capabilities of SCC "
                    + "API 1.3 it has (SccGetExtendedCapabilities, asked once for each).",
                "Columns: capability, number, yes or no (--porcelain: tab-separated)."})
    static final class ExtCaps extends ToolCommand {
        @Mixin
        ConnectionOptions connectionOptions;

        @Override
        int run(Context context) throws Exception {
            context.use(connectionOptions, null, false);
            Connection connection = context.connection();
            EnumSet<ExtendedCapability> supported = connection.extendedCapabilities();
            PrintWriter out = context.out();
            if (context.output().json) {
                Map<String, Object> document = new LinkedHashMap<>();
                document.put("command", "extcaps");
                document.put("provider", connection.providerName());
                document.put("extendedCapabilities",
                        supported.stream().map(ExtendedCapability::sccName).toList());
                out.println(Json.write(document));
                return ExitCodes.OK;
            }
            String[][] rows = new String[ExtendedCapability.values().length + 1][];
            rows[0] = new String[] {"CAPABILITY", "NUMBER", "SUPPORTED"};
            int i = 1;
            for (ExtendedCapability capability : ExtendedCapability.values()) {
                rows[i++] = new String[] {capability.sccName(),
                    String.valueOf(capability.number()),
                    supported.contains(capability) ? "yes" : "no"};
            }
            if (context.output().porcelain()) {
                for (int r = 1; r < rows.length; r++) {
                    context.record(String.join("\t", rows[r]));
                }
            } else {
                FileCommands.printTable(out, rows);
            }
            return ExitCodes.OK;
        }
    }
}
