package com.vantrel.oskel.scc.apitest;

import com.vantrel.oskel.scc.NativeLibrary;
import com.vantrel.oskel.scc.SccProviderNotFoundException;
import com.vantrel.oskel.scc.SccUnsupportedPlatformException;
import com.vantrel.oskel.scc.Scc;
import java.nio.file.Path;

/**
 * Run in a JVM of its own by the loader tests: loads the native library through the API, then
 * calls a native, and prints what happened as {@code key=value} lines.
 */
public final class LoaderProbe {
    private LoaderProbe() {}

    /**
     * The command that runs this probe in a JVM of its own, beside the API jar.
     *
     * @param start the java command and its first options
     * @param options further JVM options
     * @return the command
     */
    static java.util.List<String> command(java.util.List<String> start, String... options) {
        java.util.List<String> command = new java.util.ArrayList<>(start);
        command.addAll(java.util.List.of(options));
        command.addAll(java.util.List.of("-cp", TestEnvironment.apiJar() + ":" + classes(),
                LoaderProbe.class.getName()));
        return command;
    }

    /**
     * The folder of the test classes, for a class path.
     *
     * @return the folder
     */
    static String classes() {
        try {
            return java.nio.file.Path.of(LoaderProbe.class.getProtectionDomain().getCodeSource()
                    .getLocation().toURI()).toString();
        } catch (java.net.URISyntaxException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * Loads the library and lists the providers; with the arguments {@code registry FILE}, first
     * chooses the registry file the way an application starts, catching {@link Exception} as an
     * application would.
     *
     * @param args nothing, or {@code registry FILE}
     */
    public static void main(String[] args) {
        if (args.length == 2 && args[0].equals("registry")) {
            try {
                Scc.useRegistryFile(Path.of(args[1]));
                System.out.println("registry=chosen");
            } catch (Exception e) {
                System.out.println("exception=" + e.getClass().getName());
                System.out.println("message=" + e.getMessage());
                if (e instanceof SccUnsupportedPlatformException) {
                    SccUnsupportedPlatformException unsupported = (SccUnsupportedPlatformException) e;
                    System.out.println("platform=" + unsupported.osName() + "/"
                            + unsupported.osArch());
                    System.out.println("supported=" + unsupported.supportedPlatforms());
                    System.out.println("jar=" + unsupported.jarContents().keySet());
                }
                // A second call reports the same, not a bare linkage error.
                try {
                    Scc.providers();
                } catch (Exception again) {
                    System.out.println("again=" + again.getClass().getName());
                }
                System.exit(4);
            }
        }
        try {
            System.out.println("loaded=" + NativeLibrary.load().map(Object::toString).orElse("by name"));
        } catch (UnsatisfiedLinkError e) {
            System.out.println("error=" + e.getMessage());
            System.exit(3);
        }
        try {
            System.out.println("providers=" + Scc.providers().size());
        } catch (SccProviderNotFoundException e) {
            System.out.println("providers=none");
        }
    }
}
