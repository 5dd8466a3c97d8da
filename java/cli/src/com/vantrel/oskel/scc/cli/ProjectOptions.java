package com.vantrel.oskel.scc.cli;

import com.vantrel.oskel.scc.ProjectLocation;
import java.nio.file.Path;
import java.nio.file.Paths;
import picocli.CommandLine.Option;

/** The project a file command works in. */
final class ProjectOptions {
    @Option(names = {"-p", "--project"}, paramLabel = "NAME",
            description = "Project name. Default: the binding's, else $SCC_PROJECT.")
    String project;

    @Option(names = {"-u", "--user"}, paramLabel = "USER",
            description = "User name. Default: $SCC_USER, else the login name.")
    String user;

    @Option(names = {"-l", "--local-path"}, paramLabel = "DIR",
            description = "Local working folder of the project. Default: the folder holding "
                    + "the binding, else the current folder.")
    Path localPath;

    @Option(names = {"-a", "--aux-path"}, paramLabel = "PATH",
            description = "Aux project path: where the provider keeps the project (LocalStore: "
                    + "the store folder). Default: the binding's, else $SCC_AUX_PATH, else "
                    + "empty, which lets the provider choose.")
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

    /** An environment variable's value; null when it is not set or empty. */
    static String environment(String name) throws BadArguments {
        String value = System.getenv(name);
        if (value != null && value.indexOf(Arguments.REPLACEMENT) >= 0) {
            throw new BadArguments("the environment variable " + name + " holds bytes the "
                    + "locale's encoding cannot decode: " + Arguments.show(value));
        }
        return value == null || value.isEmpty() ? null : value;
    }

    /**
     * Where the binding is looked for: the local path when given, else the current folder, and
     * with walk its parents.
     */
    Binding.Lookup lookup(boolean walk) {
        return new Binding.Lookup(localPath, walk);
    }

    /**
     * The project texts: each option, else the binding's value, else the environment's, else
     * the built-in default.
     */
    ProjectLocation location(Binding.Lookup bindings) throws BadArguments, ToolFailure {
        Binding bound = project == null || localPath == null || auxPath == null
                ? bindings.get().orElse(null) : null;
        String name = project != null ? project
                : bound != null ? bound.project() : environment("SCC_PROJECT");
        if (name == null && !queryPath) {
            throw new BadArguments("no project given: use --project NAME, set SCC_PROJECT, "
                    + "or let the provider choose with --query-path; no binding (" + Binding.FILE
                    + ") found in " + bindings.start() + " or any parent: run 'scc init "
                    + "--provider NAME --project NAME' in the working folder, or pass "
                    + "--provider/--project");
        }
        String userName = user != null ? user : environment("SCC_USER");
        if (userName == null) {
            userName = System.getProperty("user.name", "");
        }
        String aux = auxPath != null ? auxPath
                : bound != null && bound.auxPath() != null ? bound.auxPath()
                : environment("SCC_AUX_PATH");
        Path local = localPath != null ? localPath
                : bound != null ? bound.folder() : Paths.get("");
        return ProjectLocation.of(userName, name, local, aux);
    }
}
