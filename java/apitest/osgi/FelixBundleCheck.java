import java.io.InputStream;
import java.lang.reflect.Method;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.MessageDigest;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.Map;
import java.util.zip.ZipFile;
import org.apache.felix.framework.Felix;
import org.osgi.framework.Bundle;
import org.osgi.framework.BundleContext;
import org.osgi.framework.Constants;
import org.osgi.framework.wiring.BundleWiring;

/**
 * Loads the API jar as a bundle into a real OSGi framework (Debian's Felix) and checks that it
 * resolves, that the framework picks the Linux x86-64 clause of its Bundle-NativeCode (the library
 * it hands out for "oskelsccih" is the jar's native/linux-x86_64/liboskelsccih.so), and that the
 * API loads its natives inside the bundle.
 *
 * <pre>java -cp felix.jar FelixBundleCheck.java API-JAR WORK-FOLDER</pre>
 *
 * Prints "osgi: ok" and exits 0, or says what failed and exits 1.
 */
public final class FelixBundleCheck {
    private FelixBundleCheck() {}

    private static void check(boolean ok, String what) {
        if (!ok) {
            System.out.println("osgi: FAILED: " + what);
            System.exit(1);
        }
    }

    private static String sha256(InputStream in) throws Exception {
        MessageDigest sha = MessageDigest.getInstance("SHA-256");
        sha.update(in.readAllBytes());
        return HexFormat.of().formatHex(sha.digest());
    }

    public static void main(String[] args) throws Exception {
        Path jar = Path.of(args[0]).toAbsolutePath();
        Path work = Files.createDirectories(Path.of(args[1]).toAbsolutePath());
        Map<String, Object> config = new HashMap<>();
        config.put(Constants.FRAMEWORK_STORAGE, work.resolve("felix-cache").toString());
        config.put(Constants.FRAMEWORK_STORAGE_CLEAN, Constants.FRAMEWORK_STORAGE_CLEAN_ONFIRSTINIT);
        // This Felix predates Java 9 and declares execution environments up to Java 8 only; the
        // running JVM is Java 17 or later, as the bundle requires.
        config.put(Constants.FRAMEWORK_SYSTEMCAPABILITIES_EXTRA,
                "osgi.ee; osgi.ee=\"JavaSE\"; version:List<Version>=\"17\"");
        Felix framework = new Felix(config);
        framework.start();
        try {
            BundleContext context = framework.getBundleContext();
            Bundle bundle = context.installBundle(jar.toUri().toString());
            check("com.vantrel.oskel.scc".equals(bundle.getSymbolicName()),
                    "symbolic name " + bundle.getSymbolicName());
            bundle.start();
            check(bundle.getState() == Bundle.ACTIVE, "the bundle is not active: state "
                    + bundle.getState());
            System.out.println("osgi: " + bundle.getSymbolicName() + " " + bundle.getVersion()
                    + " resolved and started in Felix "
                    + framework.getVersion() + " (" + context.getProperty(Constants.FRAMEWORK_OS_NAME)
                    + ", " + context.getProperty(Constants.FRAMEWORK_PROCESSOR) + ")");

            // The framework's choice of native code: what the bundle's class loader finds.
            ClassLoader loader = bundle.adapt(BundleWiring.class).getClassLoader();
            Method find = null;
            for (Class<?> c = loader.getClass(); c != null && find == null; c = c.getSuperclass()) {
                try {
                    find = c.getDeclaredMethod("findLibrary", String.class);
                } catch (NoSuchMethodException e) {
                    // declared further up
                }
            }
            check(find != null, "no findLibrary on " + loader.getClass());
            find.setAccessible(true);
            String library = (String) find.invoke(loader, "oskelsccih");
            check(library != null, "the framework selected no native library for oskelsccih");
            String expected;
            try (ZipFile zip = new ZipFile(jar.toFile());
                 InputStream in = zip.getInputStream(
                         zip.getEntry("native/linux-x86_64/liboskelsccih.so"))) {
                expected = sha256(in);
            }
            String found;
            try (InputStream in = Files.newInputStream(Path.of(library))) {
                found = sha256(in);
            }
            check(expected.equals(found), "the framework selected " + library
                    + ", not the jar's native/linux-x86_64/liboskelsccih.so");
            System.out.println("osgi: Bundle-NativeCode selected the linux x86-64 library ("
                    + Path.of(library).getFileName() + ")");

            // The API itself, inside the bundle: loads its natives and calls one.
            System.setProperty("oskelsccih.cache", work.resolve("cache").toString());
            Path registry = work.resolve("empty.reg");
            Files.writeString(registry, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE"
                    + "\\Software\\SourceCodeControlProvider\\InstalledSCCProviders]\n");
            Class<?> nativeLibrary = bundle.loadClass("com.vantrel.oskel.scc.NativeLibrary");
            check(nativeLibrary.getClassLoader() == loader, "NativeLibrary not from the bundle");
            Object loaded = nativeLibrary.getMethod("load").invoke(null);
            System.out.println("osgi: the API loaded its natives in the bundle: " + loaded);
            Class<?> scc = bundle.loadClass("com.vantrel.oskel.scc.Scc");
            scc.getMethod("useRegistryFile", Path.class).invoke(null, registry);
            Object providers = scc.getMethod("providers").invoke(null);
            check(providers.toString().equals("[]"), "providers of an empty registry: " + providers);
            System.out.println("osgi: providers listed through the natives: " + providers);
            System.out.println("osgi: ok");
        } finally {
            framework.stop();
            framework.waitForStop(10000);
        }
    }
}
