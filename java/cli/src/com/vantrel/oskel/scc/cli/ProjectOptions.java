package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.ProjectLocation;
import java.nio.file.Path;
import java.nio.file.Paths;
import picocli.CommandLine.Option;

/** The project a file command works in. */
final class ProjectOptions {
    @Option(names = {"-p", "--project"}, paramLabel = "NAME",
            description = "Project name. Default: $SCC_PROJECT.")
    String project;

    @Option(names = {"-u", "--user"}, paramLabel = "USER",
            description = "User name. Default: $SCC_USER, else the login name.")
    String user;

    @Option(names = {"-l", "--local-path"}, paramLabel = "DIR",
            description = "Local working folder of the project. Default: the current folder.")
    Path localPath;

    @Option(names = {"-a", "--aux-path"}, paramLabel = "PATH",
            description = "Aux project path: where the provider keeps the project (LocalStore: "
                    + "the store folder). Default: $SCC_AUX_PATH, else empty, which lets the "
                    + "provider choose.")
    String auxPath;

    @Option(names = "--query-path",
            description = "Let the provider choose or complete the project (SccGetProjPath) "
                    + "before it is opened.")
    boolean queryPath;

    /** Whether any option was given on the command line. */
    boolean anyGiven() {
        return project != null || user != null || localPath != null || auxPath != null
                || queryPath;
    }

    private static String environment(String name) {
        String value = System.getenv(name);
        return value == null || value.isEmpty() ? null : value;
    }

    /** The project texts from the options and their defaults. */
    ProjectLocation location() throws BadArguments {
        String name = project != null ? project : environment("SCC_PROJECT");
        if (name == null && !queryPath) {
            throw new BadArguments("no project given: use --project NAME, set SCC_PROJECT, "
                    + "or let the provider choose with --query-path");
        }
        String userName = user != null ? user : environment("SCC_USER");
        if (userName == null) {
            userName = System.getProperty("user.name", "");
        }
        String aux = auxPath != null ? auxPath : environment("SCC_AUX_PATH");
        Path local = localPath != null ? localPath : Paths.get("");
        return ProjectLocation.of(userName, name, local, aux);
    }
}
