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
                    + "Default: $SCC_PROVIDER, else the registry's default provider.")
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

    /** A description of the provider asked for, for messages. */
    String describe() {
        if (key != null) {
            return "provider key " + key;
        }
        String name = providerName();
        return name != null ? "provider " + name : "the default provider";
    }

    private String providerName() {
        if (provider != null) {
            return provider;
        }
        String fromEnvironment = System.getenv("SCC_PROVIDER");
        return key == null && fromEnvironment != null && !fromEnvironment.isEmpty()
                ? fromEnvironment : null;
    }

    Connection connect() throws SccException, BadArguments {
        check();
        Connection connection;
        if (key != null) {
            connection = Scc.connectByKey(key);
        } else if (providerName() != null) {
            connection = Scc.connect(providerName());
        } else {
            connection = Scc.connectDefault();
        }
        if (trace != null) {
            connection.setTracing(traceLevel == null ? 1 : traceLevel, trace);
        }
        return connection;
    }
}
