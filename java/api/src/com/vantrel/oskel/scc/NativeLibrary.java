package com.vantrel.oskel.scc;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.lang.System.Logger.Level;
import java.nio.charset.StandardCharsets;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.channels.OverlappingFileLockException;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.DirectoryStream;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SecureDirectoryStream;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.BasicFileAttributeView;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.DigestInputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Objects;
import java.util.Optional;

/**
 * Loads the {@code oskelsccih} native library before the class of the natives is first used.
 *
 * <p>The jar carries, for Linux x86-64, Windows x86 and Windows x64, the library and the provider
 * host programs it starts for hosted providers ({@code /native/<platform>/}), with a list of their
 * SHA-256 digests ({@code files.sha256}). The files of the running platform are extracted together
 * into a private per-user cache, {@code <cache>/<digest of the list>/}, so that the library finds
 * its host programs beside itself, and the library is loaded from there. The cache is
 * {@code $XDG_CACHE_HOME/oskelsccih} or {@code ~/.cache/oskelsccih} on Linux and
 * {@code %LOCALAPPDATA%\oskelsccih\cache} on Windows; the system property
 * {@value #CACHE_PROPERTY} names another one.
 *
 * <p>No other user can change what is loaded: every folder on the way to the cache is checked
 * without following links (owned by this user or by root, writable by no one else unless sticky; a
 * link only when this user or root owns it), the cache folder and everything below it must belong
 * to this user, be writable by no one else and be no link, and a file is used only when its digest
 * matches. After loading, the loader checks that the mapped file is the one it verified. A cache
 * that fails these checks is refused, with the reason logged, and the files go to a private
 * temporary folder of this JVM instead, which is removed when the JVM exits (or by the next JVM
 * that finds it left behind by one that crashed).
 *
 * <p>Each class loader that loads this class gets a library of its own (the JVM binds a native
 * library to one class loader): the first uses {@code liboskelsccih.so} ({@code oskelsccih.dll}),
 * further ones verified copies of it in the same folder ({@code liboskelsccih-2.so}, ...). Nothing
 * JVM-wide is set.
 *
 * <p>While a JVM uses a cache folder it holds a shared lock on {@code <cache>/<digest>.lock}, and
 * the lock file's time says when the folder was last used. When the library has been loaded, the
 * folders of other digests (those of other versions) are removed when they were last used more than
 * {@value #DEFAULT_KEEP_DAYS} days ago (the system property {@value #KEEP_DAYS_PROPERTY} sets the
 * number; a negative one keeps every folder) and no JVM holds their lock. Only folders of this user
 * directly in the cache are removed, and no link is followed: a link is removed, never what it
 * points to. A folder that cannot be removed in full (a library still mapped by a process on
 * Windows) is left for a later run.
 *
 * <p>The system property {@value #LIBRARY_PROPERTY}, when set, names the library file to load and
 * overrides all of this. On a platform the jar carries no library for, the library is loaded by
 * name from {@code java.library.path}; when that fails too, the loader throws
 * {@link SccUnsupportedPlatformException}, naming the platform, the supported ones and what the
 * jar carries.
 *
 * <p>The loader logs through {@link System.Logger} {@code com.vantrel.oskel.scc}: where the library
 * was loaded from ({@code DEBUG}), and why a cache was refused ({@code WARNING}).
 */
public final class NativeLibrary {
    /** System property naming the native library file to load; it overrides the jar's copy. */
    public static final String LIBRARY_PROPERTY = "oskelsccih.library";
    /** System property naming the folder that extracted libraries are cached in. */
    public static final String CACHE_PROPERTY = "oskelsccih.cache";
    /** System property: the days after its last use that a cache folder of another version is kept. */
    public static final String KEEP_DAYS_PROPERTY = "oskelsccih.cache.keepDays";
    /** The days a cache folder of another version is kept when {@value #KEEP_DAYS_PROPERTY} is unset. */
    public static final int DEFAULT_KEEP_DAYS = 30;

    private static final System.Logger LOG = System.getLogger("com.vantrel.oskel.scc");
    /** Class loaders of one JVM that can each have a copy of the library. */
    private static final int MAX_COPIES = 64;
    private static final String TEMP_PREFIX = "oskelsccih-";

    /** The platforms the project builds natives for, as the jar's native folders name them. */
    private static final List<String> SUPPORTED =
            List.of("linux-x86_64", "windows-x86", "windows-x86_64");

    private static boolean loaded;
    private static Path loadedFrom;
    /** The shared lock on the cache folder in use, held as long as this class is loaded. */
    private static FileLock inUse;
    private static String failure;
    private static Unsupported unsupported;

    private NativeLibrary() {}

    /**
     * Makes sure the native library is loaded for this class loader; the first call loads it, later
     * calls return at once.
     *
     * @return the file the library was loaded from, or empty when it was loaded by name from
     *         {@code java.library.path}
     * @throws SccUnsupportedPlatformException when the jar carries no library for this platform and
     *         none could be loaded by name either; every later call throws it again
     * @throws UnsatisfiedLinkError when the library could not be found, extracted or loaded; every
     *         later call throws it again
     */
    public static synchronized Optional<Path> load() {
        if (loaded) {
            return Optional.ofNullable(loadedFrom);
        }
        if (unsupported != null) {
            throw unsupported.again();
        }
        if (failure != null) {
            throw new UnsatisfiedLinkError(failure);
        }
        String explicit = System.getProperty(LIBRARY_PROPERTY);
        Path file = null;
        try {
            if (explicit != null && !explicit.isEmpty()) {
                file = Paths.get(explicit).toAbsolutePath();
                System.load(file.toString());
            } else {
                Optional<String> platform = platform();
                if (platform.isPresent() && NativeLibrary.class.getResource(
                        "/native/" + platform.get() + "/" + Bundle.LIST) != null) {
                    file = loadFromCache(Bundle.read(platform.get()));
                } else {
                    try {
                        System.loadLibrary("oskelsccih");
                    } catch (UnsatisfiedLinkError e) {
                        unsupported = new Unsupported(platform, e);
                        LOG.log(Level.DEBUG, unsupported.description);
                        throw unsupported.again();
                    }
                }
            }
        } catch (IOException | RuntimeException | LinkageError e) {
            if (e instanceof SccUnsupportedPlatformException) {
                throw (SccUnsupportedPlatformException) e;
            }
            failure = "the oskelsccih native library could not be loaded"
                    + (file != null ? " from " + file : explicit == null ? " by name" : "")
                    + ": " + e;
            LOG.log(Level.DEBUG, failure);
            UnsatisfiedLinkError error = new UnsatisfiedLinkError(failure);
            error.initCause(e);
            throw error;
        }
        Path from = file;
        LOG.log(Level.DEBUG, () -> "oskelsccih native library loaded "
                + (from != null ? "from " + from : "by name from java.library.path"));
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

    /** The name of the copy for the n-th class loader: liboskelsccih.so, liboskelsccih-2.so, ... */
    private static String copyName(String library, int n) {
        if (n == 1) {
            return library;
        }
        int dot = library.lastIndexOf('.');
        return library.substring(0, dot) + "-" + n + library.substring(dot);
    }

    // --- Loading --------------------------------------------------------------------------------

    private static Path loadFromCache(Bundle bundle) throws IOException {
        Safety safety = Safety.current();
        Path base = cacheDirectory().toAbsolutePath().normalize();
        Path folder;
        Path cache = null;
        try {
            cache = safety.privateFolder(safety.trustedPath(base.getParent(), true), base);
            inUse = CachePruning.holdInUse(cache, bundle.digest);
            folder = safety.privateFolder(cache, cache.resolve(bundle.digest));
            for (Map.Entry<String, String> file : bundle.files.entrySet()) {
                safety.provide(folder, file.getKey(), bundle.resource(file.getKey()),
                        file.getValue());
            }
        } catch (IOException | SecurityException e) {
            Path scratch = scratchFolder(safety, bundle);
            LOG.log(Level.WARNING, "the native library cache " + base + " is refused ("
                    + e.getMessage() + "); using the private folder " + scratch);
            folder = scratch;
            cache = null;
        }
        Path loadedFile = loadCopy(safety, bundle, folder);
        if (cache != null) {
            CachePruning.prune(safety, cache, bundle.digest, keepDays());
        }
        return loadedFile;
    }

    private static int keepDays() {
        String value = System.getProperty(KEEP_DAYS_PROPERTY, "");
        try {
            return value.isEmpty() ? DEFAULT_KEEP_DAYS : Integer.parseInt(value.trim());
        } catch (NumberFormatException e) {
            LOG.log(Level.WARNING, KEEP_DAYS_PROPERTY + "=" + value + " is no number of days; "
                    + "using " + DEFAULT_KEEP_DAYS);
            return DEFAULT_KEEP_DAYS;
        }
    }

    /**
     * Loads the first copy of the library that no other class loader of this JVM has loaded,
     * making it when it is missing.
     */
    private static Path loadCopy(Safety safety, Bundle bundle, Path folder) throws IOException {
        String library = libraryFileName();
        String digest = bundle.files.get(library);
        for (int n = 1; n <= MAX_COPIES; n++) {
            String name = copyName(library, n);
            Object key = safety.provide(folder, name, bundle.resource(library), digest);
            if (folder.getFileName().toString().startsWith(TEMP_PREFIX)) {
                folder.resolve(name).toFile().deleteOnExit();
            }
            Path file = folder.resolve(name);
            try {
                System.load(file.toString());
            } catch (UnsatisfiedLinkError e) {
                String message = String.valueOf(e.getMessage());
                if (message.contains("another classloader")
                        || message.contains("another class loader")) {
                    continue;
                }
                throw e;
            }
            safety.confirmLoaded(file, key, digest);
            return file;
        }
        throw new IOException(MAX_COPIES + " class loaders of this JVM have loaded the library");
    }

    /**
     * A new private folder of this JVM in the temporary folder, with the bundle in it; removed
     * when the JVM exits. Folders that JVMs which are gone left behind are removed first.
     */
    private static Path scratchFolder(Safety safety, Bundle bundle) throws IOException {
        Path temp = safety.trustedPath(
                Paths.get(System.getProperty("java.io.tmpdir")).toAbsolutePath().normalize(), false);
        long pid = ProcessHandle.current().pid();
        removeLeftovers(safety, temp);
        Path scratch = Files.createTempDirectory(temp, TEMP_PREFIX + pid + "-",
                safety.privateFolderAttributes());
        // Deleted in the reverse order of registering: the files, then the folder.
        scratch.toFile().deleteOnExit();
        safety.privateFolder(temp, scratch);
        for (Map.Entry<String, String> file : bundle.files.entrySet()) {
            scratch.resolve(file.getKey()).toFile().deleteOnExit();
            safety.provide(scratch, file.getKey(), bundle.resource(file.getKey()), file.getValue());
        }
        return scratch;
    }

    private static void removeLeftovers(Safety safety, Path temp) {
        try (DirectoryStream<Path> entries = Files.newDirectoryStream(temp, TEMP_PREFIX + "*-*")) {
            for (Path entry : entries) {
                String[] parts = entry.getFileName().toString().split("-");
                long pid;
                try {
                    pid = Long.parseLong(parts[1]);
                } catch (NumberFormatException e) {
                    continue;
                }
                if (ProcessHandle.of(pid).isPresent() || !safety.isOwnFolder(entry)) {
                    continue;
                }
                try (DirectoryStream<Path> files = Files.newDirectoryStream(entry)) {
                    for (Path file : files) {
                        Files.deleteIfExists(file);
                    }
                }
                Files.deleteIfExists(entry);
            }
        } catch (IOException | RuntimeException e) {
            LOG.log(Level.DEBUG, () -> "left-over native folders in " + temp + " not removed: " + e);
        }
    }

    /**
     * Why this platform has no library: what {@link SccUnsupportedPlatformException} reports, kept
     * to throw again at every later call.
     */
    private static final class Unsupported {
        final String osName = System.getProperty("os.name", "");
        final String osArch = System.getProperty("os.arch", "");
        final Map<String, List<String>> jarContents = jarContents();
        final UnsatisfiedLinkError cause;
        final String description;

        Unsupported(Optional<String> platform, UnsatisfiedLinkError cause) {
            this.cause = cause;
            StringBuilder text = new StringBuilder("the oskelsccih native library has no build for ")
                    .append("this platform (os.name=").append(osName).append(", os.arch=")
                    .append(osArch);
            if (platform.isPresent()) {
                text.append(", ").append(platform.get()).append(", which this jar does not carry");
            }
            text.append("); supported platforms: ").append(String.join(", ", SUPPORTED))
                    .append("; this jar (").append(jarLocation()).append(") carries ");
            if (jarContents.isEmpty()) {
                text.append("no native files");
            } else {
                String separator = "";
                for (Map.Entry<String, List<String>> entry : jarContents.entrySet()) {
                    text.append(separator).append(entry.getKey()).append(' ')
                            .append(entry.getValue());
                    separator = ", ";
                }
            }
            text.append("; no library named oskelsccih was found on java.library.path either (")
                    .append(System.getProperty("java.library.path", "")).append("); the system ")
                    .append("property ").append(LIBRARY_PROPERTY)
                    .append(" can name a library built for this platform");
            description = text.toString();
        }

        SccUnsupportedPlatformException again() {
            return new SccUnsupportedPlatformException(osName, osArch, SUPPORTED, jarContents,
                    description, cause);
        }

        /** The platforms the jar has a list of natives for, each with the files of the list. */
        private static Map<String, List<String>> jarContents() {
            Map<String, List<String>> contents = new LinkedHashMap<>();
            for (String platform : SUPPORTED) {
                if (NativeLibrary.class.getResource("/native/" + platform + "/" + Bundle.LIST)
                        == null) {
                    continue;
                }
                try {
                    contents.put(platform, Bundle.listed(platform));
                } catch (IOException | RuntimeException e) {
                    contents.put(platform, List.of("unreadable list: " + e.getMessage()));
                }
            }
            return contents;
        }

        private static String jarLocation() {
            try {
                java.security.CodeSource source =
                        NativeLibrary.class.getProtectionDomain().getCodeSource();
                if (source != null && source.getLocation() != null) {
                    return source.getLocation().toString();
                }
            } catch (SecurityException e) {
                // the location is only named in the message
            }
            return "location unknown";
        }
    }

    // --- The files of one platform in the jar ---------------------------------------------------

    /** The files the jar carries for one platform, by name, with their SHA-256 digests. */
    static final class Bundle {
        static final String LIST = "files.sha256";

        final String platform;
        /** SHA-256 of the list: the name of the cache folder of these files. */
        final String digest;
        final Map<String, String> files;

        private Bundle(String platform, String digest, Map<String, String> files) {
            this.platform = platform;
            this.digest = digest;
            this.files = files;
        }

        static Bundle read(String platform) throws IOException {
            byte[] list = list(platform);
            Map<String, String> files = parse(platform, list);
            if (!files.containsKey(libraryFileName())) {
                throw new IOException("the jar carries no " + libraryFileName() + " for "
                        + platform);
            }
            MessageDigest sha = sha256();
            return new Bundle(platform, HexFormat.of().formatHex(sha.digest(list)), files);
        }

        /** The names of the files the jar lists for a platform, whichever platform runs. */
        static List<String> listed(String platform) throws IOException {
            return List.copyOf(parse(platform, list(platform)).keySet());
        }

        private static byte[] list(String platform) throws IOException {
            try (InputStream in = open("/native/" + platform + "/" + LIST)) {
                return in.readAllBytes();
            }
        }

        private static Map<String, String> parse(String platform, byte[] list)
                throws IOException {
            Map<String, String> files = new LinkedHashMap<>();
            for (String line : new String(list, StandardCharsets.US_ASCII).split("\n")) {
                if (line.isBlank()) {
                    continue;
                }
                String[] fields = line.trim().split(" +");
                if (fields.length != 2 || !fields[0].matches("[0-9a-f]{64}")
                        || !fields[1].matches("[A-Za-z0-9_][A-Za-z0-9._-]*")) {
                    throw new IOException("damaged list of native files for " + platform + ": "
                            + line);
                }
                files.put(fields[1], fields[0]);
            }
            return files;
        }

        String resource(String file) {
            return "/native/" + platform + "/" + file;
        }
    }

    private static InputStream open(String resource) throws IOException {
        InputStream in = NativeLibrary.class.getResourceAsStream(resource);
        if (in == null) {
            throw new IOException("resource " + resource + " is missing from the jar");
        }
        return in;
    }

    private static MessageDigest sha256() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("SHA-256 is not available", e);
        }
    }

    // --- Removing the cache folders of other versions ------------------------------------------

    /**
     * The in-use locks of the cache folders and the removal of unused ones. A folder
     * {@code <digest>} is in use while a JVM holds a shared lock on {@code <digest>.lock} beside
     * it; a JVM that wants to remove it takes the lock exclusively, without waiting, and removes
     * the folder and then the lock file while holding it. A JVM that was waiting for the lock
     * meanwhile finds its lock file gone or replaced, and starts again.
     */
    static final class CachePruning {
        private static final String LOCK_SUFFIX = ".lock";
        private static final long DAY_MILLIS = 24L * 60 * 60 * 1000;

        private CachePruning() {}

        /**
         * Takes the shared lock on the folder of {@code digest} in {@code cache} and records the
         * time of this use on the lock file. Returns null (logged) when locking is not possible:
         * the folder is then used unlocked, as before there were locks.
         */
        static FileLock holdInUse(Path cache, String digest) {
            Path lockFile = cache.resolve(digest + LOCK_SUFFIX);
            for (int attempt = 0; attempt < 5; attempt++) {
                FileChannel channel = null;
                try {
                    channel = FileChannel.open(lockFile, StandardOpenOption.CREATE,
                            StandardOpenOption.READ, StandardOpenOption.WRITE,
                            LinkOption.NOFOLLOW_LINKS);
                    Object before = identity(lockFile);
                    FileLock lock;
                    try {
                        lock = channel.lock(0, Long.MAX_VALUE, true);
                    } catch (OverlappingFileLockException e) {
                        // Another class loader of this JVM holds it: the folder is in use anyway.
                        channel.close();
                        return null;
                    }
                    Object after = identity(lockFile);
                    if (before == null || !before.equals(after)) {
                        channel.close(); // removed by a pruning JVM while we waited
                        continue;
                    }
                    Files.setLastModifiedTime(lockFile,
                            FileTime.fromMillis(System.currentTimeMillis()));
                    return lock;
                } catch (IOException | RuntimeException e) {
                    closeQuietly(channel);
                    LOG.log(Level.DEBUG, () -> "no in-use lock on " + lockFile + ": " + e);
                    return null;
                }
            }
            LOG.log(Level.DEBUG, () -> "no in-use lock on " + lockFile + ": it keeps being removed");
            return null;
        }

        private static void closeQuietly(FileChannel channel) {
            if (channel != null) {
                try {
                    channel.close();
                } catch (IOException e) {
                    // nothing held by it is needed any more
                }
            }
        }

        private static Object identity(Path file) throws IOException {
            try {
                BasicFileAttributes attributes = Files.readAttributes(file,
                        BasicFileAttributes.class, LinkOption.NOFOLLOW_LINKS);
                return attributes.isRegularFile() ? attributes.fileKey() : null;
            } catch (NoSuchFileException e) {
                return null;
            }
        }

        /**
         * Removes the folders of other digests in {@code cache} that were last used more than
         * {@code keepDays} days ago and that no JVM uses. Failures are logged and leave the folder.
         */
        static void prune(Safety safety, Path cache, String current, int keepDays) {
            if (keepDays < 0) {
                return;
            }
            long limit = System.currentTimeMillis() - keepDays * DAY_MILLIS;
            List<String> candidates = new ArrayList<>();
            try (DirectoryStream<Path> entries = Files.newDirectoryStream(cache)) {
                for (Path entry : entries) {
                    String name = entry.getFileName().toString();
                    if (name.matches("[0-9a-f]{64}") && !name.equals(current)) {
                        candidates.add(name);
                    }
                }
            } catch (IOException | RuntimeException e) {
                LOG.log(Level.DEBUG, () -> "cache folders in " + cache + " not pruned: " + e);
                return;
            }
            for (String name : candidates) {
                try {
                    pruneFolder(safety, cache, name, limit);
                } catch (IOException | RuntimeException e) {
                    LOG.log(Level.DEBUG, () -> "cache folder " + cache.resolve(name)
                            + " not removed: " + e);
                }
            }
        }

        private static void pruneFolder(Safety safety, Path cache, String name, long limit)
                throws IOException {
            Path folder = cache.resolve(name);
            Path lockFile = cache.resolve(name + LOCK_SUFFIX);
            if (!safety.isOwnFolder(folder) || lastUse(folder, lockFile) >= limit) {
                return;
            }
            FileTime seen = Files.isRegularFile(lockFile, LinkOption.NOFOLLOW_LINKS)
                    ? Files.getLastModifiedTime(lockFile, LinkOption.NOFOLLOW_LINKS) : null;
            try (FileChannel channel = FileChannel.open(lockFile, StandardOpenOption.CREATE,
                    StandardOpenOption.READ, StandardOpenOption.WRITE, LinkOption.NOFOLLOW_LINKS)) {
                FileLock lock;
                try {
                    lock = channel.tryLock(0, Long.MAX_VALUE, false);
                } catch (OverlappingFileLockException e) {
                    return; // this JVM uses it
                }
                if (lock == null) {
                    return; // another JVM uses it
                }
                // Used between the look at its time and the lock (a user records its use on a
                // lock file that was there; one made just now has this JVM's time): keep it.
                if ((seen != null && !seen.equals(Files.getLastModifiedTime(lockFile,
                        LinkOption.NOFOLLOW_LINKS))) || !safety.isOwnFolder(folder)) {
                    return;
                }
                if (removeFolder(cache, name)) {
                    Files.deleteIfExists(lockFile);
                    LOG.log(Level.DEBUG, () -> "removed the unused cache folder " + folder);
                }
            }
        }

        /** When the folder was last used: its lock file's time, or its newest file's. */
        private static long lastUse(Path folder, Path lockFile) throws IOException {
            if (Files.isRegularFile(lockFile, LinkOption.NOFOLLOW_LINKS)) {
                return Files.getLastModifiedTime(lockFile, LinkOption.NOFOLLOW_LINKS).toMillis();
            }
            long newest = Files.getLastModifiedTime(folder, LinkOption.NOFOLLOW_LINKS).toMillis();
            try (DirectoryStream<Path> entries = Files.newDirectoryStream(folder)) {
                for (Path entry : entries) {
                    // Files the loader wrote; a link is none of its doing.
                    if (Files.isRegularFile(entry, LinkOption.NOFOLLOW_LINKS)) {
                        newest = Math.max(newest, Files.getLastModifiedTime(entry,
                                LinkOption.NOFOLLOW_LINKS).toMillis());
                    }
                }
            }
            return newest;
        }

        /**
         * Removes the folder {@code name} of {@code cache} with the files and links in it, never
         * following a link; a folder inside it is unexpected and keeps the whole folder. Where the
         * file system offers it, everything is removed relative to the open folders, so swapping a
         * folder for a link on the way changes nothing.
         */
        private static boolean removeFolder(Path cache, String name) throws IOException {
            try (DirectoryStream<Path> parent = Files.newDirectoryStream(cache)) {
                if (parent instanceof SecureDirectoryStream) {
                    @SuppressWarnings("unchecked")
                    SecureDirectoryStream<Path> secureParent = (SecureDirectoryStream<Path>) parent;
                    Path relative = Paths.get(name);
                    try (SecureDirectoryStream<Path> folder = secureParent.newDirectoryStream(
                            relative, LinkOption.NOFOLLOW_LINKS)) {
                        List<Path> entries = new ArrayList<>();
                        for (Path entry : folder) {
                            entries.add(entry.getFileName());
                        }
                        for (Path entry : entries) {
                            BasicFileAttributes attributes = folder.getFileAttributeView(entry,
                                    BasicFileAttributeView.class, LinkOption.NOFOLLOW_LINKS)
                                    .readAttributes();
                            if (attributes.isDirectory()) {
                                return false;
                            }
                        }
                        for (Path entry : entries) {
                            folder.deleteFile(entry); // a link itself, not its target
                        }
                    }
                    secureParent.deleteDirectory(relative);
                    return true;
                }
            }
            Path folder = cache.resolve(name);
            List<Path> entries = new ArrayList<>();
            try (DirectoryStream<Path> stream = Files.newDirectoryStream(folder)) {
                for (Path entry : stream) {
                    if (Files.isDirectory(entry, LinkOption.NOFOLLOW_LINKS)) {
                        return false;
                    }
                    entries.add(entry);
                }
            }
            for (Path entry : entries) {
                Files.delete(entry);
            }
            Files.delete(folder);
            return true;
        }
    }

    // --- Checks of the folders and files --------------------------------------------------------

    /**
     * The checks that keep other users from changing a file between its check and its loading.
     * With POSIX file modes: every check reads the entry itself ({@code lstat}), never what a link
     * points to. Elsewhere (Windows, whose per-user folders other users cannot write to): links
     * are refused and digests checked.
     */
    private static final class Safety {
        private static final int TYPE = 0170000;
        private static final int LINK = 0120000;
        private static final int FOLDER = 0040000;
        private static final int FILE = 0100000;
        private static final int STICKY = 01000;
        private static final int OTHERS_WRITE = 0022;

        private final boolean unix;
        private final int uid;

        private Safety(boolean unix, int uid) {
            this.unix = unix;
            this.uid = uid;
        }

        /** The checks for the user this JVM runs as: the owner of a file it creates. */
        static Safety current() throws IOException {
            if (!FileSystems.getDefault().supportedFileAttributeViews().contains("unix")) {
                return new Safety(false, -1);
            }
            Path probe;
            try {
                probe = Files.createTempFile(TEMP_PREFIX, ".owner");
            } catch (IOException e) {
                // No writable temporary folder: the owner of this process's /proc entry.
                return new Safety(true, (Integer) Files.getAttribute(Paths.get("/proc/self"),
                        "unix:uid"));
            }
            try {
                return new Safety(true, (Integer) Files.getAttribute(probe, "unix:uid",
                        LinkOption.NOFOLLOW_LINKS));
            } finally {
                Files.deleteIfExists(probe);
            }
        }

        FileAttribute<?>[] privateFolderAttributes() {
            return unix ? new FileAttribute<?>[] {
                PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"))}
                        : new FileAttribute<?>[0];
        }

        private Map<String, Object> lstat(Path path) throws IOException {
            return Files.readAttributes(path, "unix:mode,uid,dev,ino", LinkOption.NOFOLLOW_LINKS);
        }

        private static int mode(Map<String, Object> attributes) {
            return (Integer) attributes.get("mode");
        }

        /**
         * Checks every folder of an absolute path from the root down, creating missing ones when
         * {@code create} is set, and returns the same folder with no link in it. Each folder must
         * belong to this user or root and be writable by no one else unless sticky; a link must
         * belong to this user or root, and where it points is checked the same way.
         */
        Path trustedPath(Path path, boolean create) throws IOException {
            return trustedPath(path, create, 0);
        }

        private Path trustedPath(Path path, boolean create, int depth) throws IOException {
            if (depth > 20) {
                throw new IOException(path + ": too many levels of links");
            }
            Path current = path.getRoot();
            if (!unix) {
                for (Path name : path) {
                    current = current.resolve(name);
                    if (create) {
                        Files.createDirectories(current);
                    }
                    if (Files.isSymbolicLink(current)) {
                        throw new IOException(current + " is a link");
                    }
                }
                return current;
            }
            for (Path name : path) {
                Path next = current.resolve(name);
                Map<String, Object> attributes;
                try {
                    attributes = lstat(next);
                } catch (NoSuchFileException e) {
                    if (!create) {
                        throw e;
                    }
                    createFolder(next);
                    attributes = lstat(next);
                }
                int owner = (Integer) attributes.get("uid");
                int mode = mode(attributes);
                if (owner != uid && owner != 0) {
                    throw new IOException(next + " belongs to another user (uid " + owner + ")");
                }
                if ((mode & TYPE) == LINK) {
                    Path target = Files.readSymbolicLink(next);
                    current = trustedPath(current.resolve(target).normalize(), false, depth + 1);
                    continue;
                }
                if ((mode & TYPE) != FOLDER) {
                    throw new IOException(next + " is not a folder");
                }
                if ((mode & OTHERS_WRITE) != 0 && (mode & STICKY) == 0) {
                    throw new IOException(next + " is writable by other users");
                }
                current = next;
            }
            return current;
        }

        private void createFolder(Path folder) throws IOException {
            try {
                Files.createDirectory(folder, privateFolderAttributes());
            } catch (FileAlreadyExistsException e) {
                // made by another JVM meanwhile; checked below like any folder
            }
        }

        /**
         * Makes sure {@code folder}, an entry of the trusted folder {@code parent}, is a folder of
         * this user that no one else can write to and no link, creating it when missing.
         */
        Path privateFolder(Path parent, Path folder) throws IOException {
            Path entry = parent.resolve(folder.getFileName());
            createFolder(entry);
            if (!unix) {
                if (Files.isSymbolicLink(entry) || !Files.isDirectory(entry)) {
                    throw new IOException(entry + " is a link or not a folder");
                }
                return entry;
            }
            Map<String, Object> attributes = lstat(entry);
            int mode = mode(attributes);
            if ((mode & TYPE) == LINK) {
                throw new IOException(entry + " is a link");
            }
            if ((mode & TYPE) != FOLDER) {
                throw new IOException(entry + " is not a folder");
            }
            if ((Integer) attributes.get("uid") != uid) {
                throw new IOException(entry + " belongs to another user (uid "
                        + attributes.get("uid") + ")");
            }
            if ((mode & OTHERS_WRITE) != 0) {
                throw new IOException(entry + " is writable by other users");
            }
            return entry;
        }

        boolean isOwnFolder(Path entry) throws IOException {
            if (!unix) {
                return !Files.isSymbolicLink(entry) && Files.isDirectory(entry);
            }
            Map<String, Object> attributes = lstat(entry);
            return (mode(attributes) & TYPE) == FOLDER && (Integer) attributes.get("uid") == uid;
        }

        /**
         * Makes sure the private folder holds {@code name} with the digest, extracting it from the
         * resource when it is missing or differs, and returns the identity of the checked file.
         */
        Object provide(Path folder, String name, String resource, String digest)
                throws IOException {
            Path target = folder.resolve(name);
            Object key = verified(target, digest);
            if (key != null) {
                return key;
            }
            Path temporary = Files.createTempFile(folder, "." + name + ".", ".tmp");
            try {
                String written;
                try (InputStream in = open(resource);
                     DigestInputStream digesting = new DigestInputStream(in, sha256());
                     OutputStream out = Files.newOutputStream(temporary,
                             LinkOption.NOFOLLOW_LINKS)) {
                    digesting.transferTo(out);
                    written = HexFormat.of().formatHex(digesting.getMessageDigest().digest());
                }
                if (!written.equals(digest)) {
                    throw new IOException("the copy of " + resource + " in the jar is damaged: "
                            + "SHA-256 " + written + ", expected " + digest);
                }
                if (unix) {
                    // The host programs are run, the library mapped: read and execute, owner only.
                    Files.setPosixFilePermissions(temporary,
                            PosixFilePermissions.fromString("r-x------"));
                }
                // A copy that another JVM put in place meanwhile stays: it may be loaded already.
                boolean placed;
                try {
                    Files.createLink(target, temporary);
                    placed = true;
                } catch (UnsupportedOperationException | IOException e) {
                    placed = false;
                }
                if (!placed) {
                    Object existing = verified(target, digest);
                    if (existing != null) {
                        return existing;
                    }
                    replace(temporary, target);
                }
            } finally {
                Files.deleteIfExists(temporary);
            }
            // Another JVM may replace a damaged copy at the same time: with the same content.
            for (int attempt = 0; attempt < 3; attempt++) {
                key = verified(target, digest);
                if (key != null) {
                    return key;
                }
            }
            throw new IOException(target + " changed while it was extracted");
        }

        private static void replace(Path temporary, Path target) throws IOException {
            try {
                Files.move(temporary, target, StandardCopyOption.ATOMIC_MOVE,
                        StandardCopyOption.REPLACE_EXISTING);
            } catch (AtomicMoveNotSupportedException e) {
                throw e; // never within one folder of a local file system
            } catch (IOException e) {
                // Windows refuses to replace a DLL that another JVM has loaded; that copy is as
                // good as ours when its digest matches.
                if (!Files.isRegularFile(target, LinkOption.NOFOLLOW_LINKS)) {
                    throw e;
                }
            }
        }

        /**
         * The identity of the file when it is a regular file of this user, writable by no one
         * else, with the digest, and stayed the same file while it was read; null otherwise.
         */
        private Object verified(Path file, String digest) throws IOException {
            Object before;
            if (unix) {
                Map<String, Object> attributes;
                try {
                    attributes = lstat(file);
                } catch (NoSuchFileException e) {
                    return null;
                }
                int mode = mode(attributes);
                if ((mode & TYPE) != FILE || (Integer) attributes.get("uid") != uid
                        || (mode & OTHERS_WRITE) != 0) {
                    return null;
                }
                before = List.of(attributes.get("dev"), attributes.get("ino"));
            } else {
                if (!Files.isRegularFile(file, LinkOption.NOFOLLOW_LINKS)) {
                    return null;
                }
                before = file;
            }
            String found;
            try (InputStream in = Files.newInputStream(file, LinkOption.NOFOLLOW_LINKS);
                 DigestInputStream digesting = new DigestInputStream(in, sha256())) {
                digesting.transferTo(OutputStream.nullOutputStream());
                found = HexFormat.of().formatHex(digesting.getMessageDigest().digest());
            } catch (IOException e) {
                return null;
            }
            if (!found.equals(digest)) {
                return null;
            }
            if (unix) {
                Map<String, Object> after = lstat(file);
                if (!before.equals(List.of(after.get("dev"), after.get("ino")))) {
                    return null;
                }
            }
            return before;
        }

        /**
         * Checks that the library the JVM mapped for {@code file} is the file that was verified
         * (Linux: by its inode in /proc/self/maps).
         */
        void confirmLoaded(Path file, Object key, String digest) throws IOException {
            if (!unix) {
                return;
            }
            Path maps = Paths.get("/proc/self/maps");
            if (!Files.isReadable(maps)) {
                return;
            }
            List<String> inodes = new ArrayList<>();
            String suffix = " " + file;
            for (String line : Files.readAllLines(maps, StandardCharsets.ISO_8859_1)) {
                if (line.endsWith(suffix)) {
                    String[] fields = line.trim().split(" +");
                    if (fields.length >= 6) {
                        inodes.add(fields[4]);
                    }
                }
            }
            Object checked = ((List<?>) key).get(1);
            if (!inodes.isEmpty() && !inodes.get(0).equals(Objects.toString(checked))) {
                // Another JVM of this user replaced a damaged copy between the check and the
                // loading: what is there now must be what was mapped, and verified.
                Object now = verified(file, digest);
                checked = now == null ? "none" : ((List<?>) now).get(1);
            }
            String inode = Objects.toString(checked);
            if (inodes.isEmpty() || !inodes.stream().allMatch(inode::equals)) {
                throw new IOException("the library mapped from " + file + " (inodes " + inodes
                        + ") is not the verified file (inode " + inode + ")");
            }
        }
    }
}
