package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.Connection;
import com.vantrel.oskel.scc.SccException;
import com.vantrel.oskel.scc.Scc;
import java.nio.file.Path;
import picocli.CommandLine.Option;

/** Which provider to connect to, and the trace log of the connection. */
final class ConnectionOptions {
    @Option(names = "--provider", paramLabel = "NAME",
            description = "Provider by its display name, as 'scc providers' lists it. "
                    + "Default: the binding's, else $SCC_PROVIDER, else the registry's default "
                    + "provider.")
    String provider;

    @Option(names = "--key", paramLabel = "KEY",
            description = "Provider by its provider key, the registry path of its own key "
                    + "(instead of --provider).")
    String key;

    @Option(names = "--trace", paramLabel = "FILE",
            description = "Append a trace log of the library's calls to FILE.")
    Path trace;

    @Option(names = "--trace-level", paramLabel = "N",
            description = "Trace detail: 1 calls, 2 and 3 their texts, 4 also file lists, "
                    + "status words and messages. Default: 1 with --trace.")
    Integer traceLevel;

    /** Whether any option was given on the command line. */
    boolean anyGiven() {
        return provider != null || key != null || trace != null || traceLevel != null;
    }

    void check() throws BadArguments {
        if (provider != null && key != null) {
            throw new BadArguments("give either --provider or --key, not both");
        }
        if (traceLevel != null && traceLevel < 0) {
            throw new BadArguments("--trace-level must be 0 or more, not " + traceLevel);
        }
        if (traceLevel != null && trace == null) {
            throw new BadArguments("--trace-level needs --trace FILE");
        }
    }

    /** The provider key the last connect used; null when it went by name or to the default. */
    String chosenKey;
    /** The provider name the last connect used; null when it went by key or to the default. */
    String chosenName;

    /**
     * Connects to the provider of the options, else of the binding, else of $SCC_PROVIDER,
     * else to the default provider.
     */
    Connection connect(Binding.Lookup bindings) throws SccException, BadArguments, ToolFailure {
        check();
        chosenKey = key;
        chosenName = provider;
        if (key == null && provider == null) {
            Binding bound = bindings.get().orElse(null);
            if (bound != null && (bound.key() != null || bound.provider() != null)) {
                chosenKey = bound.key();
                chosenName = bound.key() == null ? bound.provider() : null;
            } else {
                chosenName = ProjectOptions.environment("SCC_PROVIDER");
            }
        }
        Connection connection;
        if (chosenKey != null) {
            connection = Scc.connectByKey(chosenKey);
        } else if (chosenName != null) {
            connection = Scc.connect(chosenName);
        } else {
            connection = Scc.connectDefault();
        }
        if (trace != null) {
            connection.setTracing(traceLevel == null ? 1 : traceLevel, trace);
        }
        return connection;
    }
}
