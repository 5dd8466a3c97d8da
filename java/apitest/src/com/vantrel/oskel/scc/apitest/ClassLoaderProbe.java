package com.vantrel.oskel.scc.apitest;

import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Optional;
import java.util.TreeSet;

/**
 * Run in a JVM of its own by the loader tests, with the API jar not on its class path: loads the
 * API in several class loaders of its own (as an IDE loads plug-ins), opens a connection to the
 * default provider in each and keeps them all open at once, then closes them. Prints what happened
 * as {@code key=value} lines.
 */
public final class ClassLoaderProbe {
    private ClassLoaderProbe() {}

    /**
     * Loads the API.
     *
     * @param args the API jar and the number of class loaders
     * @throws Exception when a step fails
     */
    public static void main(String[] args) throws Exception {
        URL jar = Path.of(args[0]).toUri().toURL();
        int count = Integer.parseInt(args[1]);
        List<AutoCloseable> connections = new ArrayList<>();
        List<URLClassLoader> loaders = new ArrayList<>();
        for (int i = 1; i <= count; i++) {
            URLClassLoader loader = new URLClassLoader("plugin-" + i, new URL[] {jar},
                    ClassLoader.getPlatformClassLoader());
            loaders.add(loader);
            Class<?> scc = loader.loadClass("com.vantrel.oskel.scc.Scc");
            AutoCloseable connection = (AutoCloseable) scc.getMethod("connectDefault").invoke(null);
            connections.add(connection);
            Optional<?> loaded = (Optional<?>) loader.loadClass("com.vantrel.oskel.scc.NativeLibrary")
                    .getMethod("load").invoke(null);
            System.out.println("loaded." + i + "=" + loaded.map(Object::toString).orElse("by name"));
        }
        for (int i = 0; i < count; i++) {
            Object connection = connections.get(i);
            Method name = connection.getClass().getMethod("providerName");
            Method capabilities = connection.getClass().getMethod("capabilityBits");
            System.out.println("provider." + (i + 1) + "=" + name.invoke(connection) + " "
                    + capabilities.invoke(connection));
        }
        for (AutoCloseable connection : connections) {
            connection.close();
        }
        for (URLClassLoader loader : loaders) {
            loader.close();
        }
        TreeSet<String> properties = new TreeSet<>();
        for (String key : System.getProperties().stringPropertyNames()) {
            if (key.startsWith("oskelsccih")) {
                properties.add(key);
            }
        }
        System.out.println("properties=" + String.join(",", properties));
    }
}
