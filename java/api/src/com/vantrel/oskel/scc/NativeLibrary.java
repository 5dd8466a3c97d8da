package com.vantrel.oskel.scc;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.HexFormat;
import java.util.Locale;
import java.util.Optional;
import java.util.Set;

/**
 * Loads the {@code oskelsccih} native library before the class of the natives is first used.
 *
 * <p>The jar carries the library for Linux x86-64 ({@code /native/linux-x86_64/liboskelsccih.so})
 * and for Windows x86 and x64 ({@code /native/windows-x86/oskelsccih.dll},
 * {@code /native/windows-x86_64/oskelsccih.dll}), each with its SHA-256 digest beside it. The one
 * for the running JVM is extracted into a private per-user cache,
 * {@code <cache>/<sha-256>/<file>}, and loaded from there. The cache is
 * {@code $XDG_CACHE_HOME/oskelsccih} or {@code ~/.cache/oskelsccih} on Linux and
 * {@code %LOCALAPPDATA%\oskelsccih\cache} on Windows; the system property
 * {@value #CACHE_PROPERTY} names another one.
 *
 * <p>A cached file is used only when its digest matches. Extraction writes a temporary file in the
 * target folder and moves it into place atomically, then checks the digest again, so two JVMs that
 * start at once both end up loading a complete, verified copy. A cache folder that other users can
 * write to is not used; the library then goes to a private temporary folder.
 *
 * <p>The system property {@value #LIBRARY_PROPERTY}, when set, names the library file to load and
 * overrides all of this. On a platform the jar carries no library for, the library is loaded by
 * name from {@code java.library.path}.
 */
public final class NativeLibrary {
    /** System property naming the native library file to load; it overrides the jar's copy. */
    public static final String LIBRARY_PROPERTY = "oskelsccih.library";
    /** System property naming the folder that extracted libraries are cached in. */
    public static final String CACHE_PROPERTY = "oskelsccih.cache";

    private static final String NATIVES_CLASS =
            "com.vantrel.oskel.managedprojects.scci.JavaSCCInterface";
    private static final Set<PosixFilePermission> PRIVATE_FOLDER =
            PosixFilePermissions.fromString("rwx------");

    private static boolean loaded;
    private static Path loadedFrom;
    private static String failure;

    private NativeLibrary() {}

    /**
     * Makes sure the native library is loaded; the first call loads it, later calls return at once.
     *
     * @return the file the library was loaded from, or empty when it was loaded by name from
     *         {@code java.library.path}
     * @throws UnsatisfiedLinkError when the library could not be found, extracted or loaded; every
     *         later call throws it again
     */
    public static synchronized Optional<Path> load() {
        if (loaded) {
            return Optional.ofNullable(loadedFrom);
        }
        if (failure != null) {
            throw new UnsatisfiedLinkError(failure);
        }
        String explicit = System.getProperty(LIBRARY_PROPERTY);
        Path file = null;
        try {
            if (explicit != null && !explicit.isEmpty()) {
                file = Paths.get(explicit);
            } else {
                Optional<String> platform = platform();
                if (platform.isPresent() && resource(platform.get(), libraryFileName()) != null) {
                    file = extract(platform.get(), cacheDirectory());
                    System.setProperty(LIBRARY_PROPERTY, file.toString());
                }
            }
            Class.forName(NATIVES_CLASS, true, NativeLibrary.class.getClassLoader());
        } catch (IOException | RuntimeException | LinkageError | ClassNotFoundException e) {
            failure = "the oskelsccih native library could not be loaded"
                    + (file != null ? " from " + file : explicit == null ? " by name" : "")
                    + ": " + e;
            UnsatisfiedLinkError error = new UnsatisfiedLinkError(failure);
            error.initCause(e);
            throw error;
        }
        loaded = true;
        loadedFrom = file;
        return Optional.ofNullable(file);
    }

    /**
     * The name of the running platform as the jar's native folders use it.
     *
     * @return {@code linux-x86_64}, {@code windows-x86} or {@code windows-x86_64}; empty for any
     *         other platform
     */
    public static Optional<String> platform() {
        String os = System.getProperty("os.name", "").toLowerCase(Locale.ROOT);
        String arch = System.getProperty("os.arch", "").toLowerCase(Locale.ROOT);
        String cpu;
        if (arch.equals("amd64") || arch.equals("x86_64")) {
            cpu = "x86_64";
        } else if (arch.equals("x86") || arch.matches("i[3-6]86")) {
            cpu = "x86";
        } else {
            return Optional.empty();
        }
        if (os.startsWith("windows")) {
            return Optional.of("windows-" + cpu);
        }
        if (os.equals("linux") && cpu.equals("x86_64")) {
            return Optional.of("linux-" + cpu);
        }
        return Optional.empty();
    }

    /**
     * The folder extracted libraries are cached in: the system property {@value #CACHE_PROPERTY}
     * when set, otherwise the per-user default of the platform.
     *
     * @return the folder, which need not exist yet
     */
    public static Path cacheDirectory() {
        String configured = System.getProperty(CACHE_PROPERTY);
        if (configured != null && !configured.isEmpty()) {
            return Paths.get(configured);
        }
        String home = System.getProperty("user.home", ".");
        if (isWindows()) {
            String local = System.getenv("LOCALAPPDATA");
            Path base = local != null && !local.isEmpty() ? Paths.get(local)
                                                          : Paths.get(home, "AppData", "Local");
            return base.resolve("oskelsccih").resolve("cache");
        }
        String xdg = System.getenv("XDG_CACHE_HOME");
        if (xdg != null && !xdg.isEmpty() && Paths.get(xdg).isAbsolute()) {
            return Paths.get(xdg, "oskelsccih");
        }
        return Paths.get(home, ".cache", "oskelsccih");
    }

    private static boolean isWindows() {
        return System.getProperty("os.name", "").toLowerCase(Locale.ROOT).startsWith("windows");
    }

    private static String libraryFileName() {
        return isWindows() ? "oskelsccih.dll" : System.mapLibraryName("oskelsccih");
    }

    private static String resource(String platform, String file) {
        String name = "/native/" + platform + "/" + file;
        return NativeLibrary.class.getResource(name) != null ? name : null;
    }

    /**
     * Extracts the platform's library into the cache below {@code base} unless a verified copy is
     * there already, and returns the file to load.
     */
    static Path extract(String platform, Path base) throws IOException {
        String file = libraryFileName();
        String resource = resource(platform, file);
        if (resource == null) {
            throw new IOException("the jar carries no library for " + platform);
        }
        String digest = expectedDigest(resource);
        try {
            return extractInto(resource, digest, file, base);
        } catch (IOException | SecurityException e) {
            // An unusable cache (not writable, or open to other users): a private folder of this
            // process instead.
            Path scratch = Files.createTempDirectory("oskelsccih-", privateFolder());
            Path extracted = extractInto(resource, digest, file, scratch);
            extracted.toFile().deleteOnExit();
            extracted.getParent().toFile().deleteOnExit();
            scratch.toFile().deleteOnExit();
            return extracted;
        }
    }

    private static Path extractInto(String resource, String digest, String file, Path base)
            throws IOException {
        Path folder = base.resolve(digest);
        Path target = folder.resolve(file);
        if (Files.isRegularFile(target)) {
            checkPrivate(base);
            checkPrivate(folder);
            if (digest.equals(digestOf(target))) {
                return target;
            }
        }
        Files.createDirectories(folder, privateFolder());
        checkPrivate(base);
        checkPrivate(folder);
        Path temporary = Files.createTempFile(folder, "." + file + ".", ".tmp");
        try {
            String written;
            try (InputStream in = open(resource);
                 DigestInputStream digesting = new DigestInputStream(in, sha256());
                 OutputStream out = Files.newOutputStream(temporary)) {
                digesting.transferTo(out);
                written = HexFormat.of().formatHex(digesting.getMessageDigest().digest());
            }
            if (!written.equals(digest)) {
                throw new IOException("the copy of " + resource + " in the jar is damaged: SHA-256 "
                        + written + ", expected " + digest);
            }
            try {
                Files.move(temporary, target, StandardCopyOption.ATOMIC_MOVE,
                        StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                throw e; // never within one folder of a local file system
            } catch (IOException e) {
                // Windows refuses to replace a DLL that another JVM has loaded; that copy is as
                // good as ours when its digest matches.
                if (!Files.isRegularFile(target)) {
                    throw e;
                }
            }
        } finally {
            Files.deleteIfExists(temporary);
        }
        String found = digestOf(target);
        if (!digest.equals(found)) {
            throw new IOException(target + " changed while it was extracted: SHA-256 " + found
                    + ", expected " + digest);
        }
        return target;
    }

    private static InputStream open(String resource) throws IOException {
        InputStream in = NativeLibrary.class.getResourceAsStream(resource);
        if (in == null) {
            throw new IOException("resource " + resource + " is missing");
        }
        return in;
    }

    /** The digest the build recorded beside the library, or the digest of the resource itself. */
    private static String expectedDigest(String resource) throws IOException {
        try (InputStream in = NativeLibrary.class.getResourceAsStream(resource + ".sha256")) {
            if (in != null) {
                String text = new String(in.readAllBytes(), StandardCharsets.US_ASCII).trim();
                int end = text.indexOf(' ');
                String digest = (end < 0 ? text : text.substring(0, end)).toLowerCase(Locale.ROOT);
                if (digest.matches("[0-9a-f]{64}")) {
                    return digest;
                }
            }
        }
        try (InputStream in = open(resource);
             DigestInputStream digesting = new DigestInputStream(in, sha256())) {
            digesting.transferTo(OutputStream.nullOutputStream());
            return HexFormat.of().formatHex(digesting.getMessageDigest().digest());
        }
    }

    private static String digestOf(Path file) throws IOException {
        try (InputStream in = Files.newInputStream(file);
             DigestInputStream digesting = new DigestInputStream(in, sha256())) {
            digesting.transferTo(OutputStream.nullOutputStream());
            return HexFormat.of().formatHex(digesting.getMessageDigest().digest());
        }
    }

    private static MessageDigest sha256() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("SHA-256 is not available", e);
        }
    }

    private static boolean posix() {
        return FileSystems.getDefault().supportedFileAttributeViews().contains("posix");
    }

    private static FileAttribute<?>[] privateFolder() {
        return posix() ? new FileAttribute<?>[] {PosixFilePermissions.asFileAttribute(PRIVATE_FOLDER)}
                       : new FileAttribute<?>[0];
    }

    /**
     * Refuses a folder that belongs to another user or that others may write to: a file there
     * could be swapped between its check and its loading.
     */
    private static void checkPrivate(Path folder) throws IOException {
        if (!posix()) {
            return;
        }
        String owner = Files.getOwner(folder).getName();
        String user = System.getProperty("user.name");
        Set<PosixFilePermission> permissions = Files.getPosixFilePermissions(folder);
        if (!owner.equals(user) || permissions.contains(PosixFilePermission.GROUP_WRITE)
                || permissions.contains(PosixFilePermission.OTHERS_WRITE)) {
            throw new IOException("cache folder " + folder + " is not private to " + user);
        }
    }
}
