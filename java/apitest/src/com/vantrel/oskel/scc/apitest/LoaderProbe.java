package com.vantrel.oskel.scc.apitest;

import com.vantrel.oskel.scc.NativeLibrary;
import com.vantrel.oskel.scc.SccProviderNotFoundException;
import com.vantrel.oskel.scc.Scc;

/**
 * Run in a JVM of its own by the loader tests: loads the native library through the API, then
 * calls a native, and prints what happened as {@code key=value} lines.
 */
public final class LoaderProbe {
    private LoaderProbe() {}

    /**
     * Loads the library and lists the providers.
     *
     * @param args not used
     */
    public static void main(String[] args) {
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
