package com.vantrel.oskel.scc;

import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The native library has no build for the platform this JVM runs on: the jar carries no natives
 * for its {@code os.name}/{@code os.arch}, and none could be loaded by name from
 * {@code java.library.path} or from the file the system property
 * {@value NativeLibrary#LIBRARY_PROPERTY} names.
 *
 * <p>Thrown by the first call that needs the natives (listing providers, connecting, choosing the
 * registry file) and again by every later one. It is unchecked, like the {@link LinkageError} it
 * replaces, so that the methods that load the natives keep their signatures; unlike that error it
 * is an {@link Exception}, so {@code catch (Exception e)} sees it. The message names the platform,
 * the supported ones and what the jar carries; the methods give the same as values.
 */
public class SccUnsupportedPlatformException extends UnsupportedOperationException {
    private static final long serialVersionUID = 1L;

    /** The {@code os.name} of this JVM. */
    private final String osName;
    /** The {@code os.arch} of this JVM. */
    private final String osArch;
    /** The platforms the project builds natives for. */
    private final List<String> supportedPlatforms;
    /** The platforms whose natives the jar carries, with their files; not serialised. */
    private final transient Map<String, List<String>> jarContents;

    /**
     * An exception for a platform without natives.
     *
     * @param osName the {@code os.name} of this JVM
     * @param osArch the {@code os.arch} of this JVM
     * @param supportedPlatforms the platforms the project builds natives for, as the jar's native
     *        folders name them (for example {@code linux-x86_64})
     * @param jarContents the platforms the jar carries natives for, each with its file names
     * @param description the exception's message
     * @param cause why loading by name failed, or null
     */
    public SccUnsupportedPlatformException(String osName, String osArch,
            List<String> supportedPlatforms, Map<String, List<String>> jarContents,
            String description, Throwable cause) {
        super(description, cause);
        this.osName = osName;
        this.osArch = osArch;
        this.supportedPlatforms = List.copyOf(supportedPlatforms);
        Map<String, List<String>> contents = new LinkedHashMap<>();
        jarContents.forEach((platform, files) -> contents.put(platform, List.copyOf(files)));
        this.jarContents = Collections.unmodifiableMap(contents);
    }

    /**
     * The operating system as the JVM names it.
     *
     * @return the {@code os.name} system property, for example {@code Linux}
     */
    public String osName() {
        return osName;
    }

    /**
     * The processor architecture as the JVM names it.
     *
     * @return the {@code os.arch} system property, for example {@code aarch64}
     */
    public String osArch() {
        return osArch;
    }

    /**
     * The platforms the project builds natives for.
     *
     * @return for example {@code [linux-x86_64, windows-x86, windows-x86_64]}
     */
    public List<String> supportedPlatforms() {
        return supportedPlatforms;
    }

    /**
     * What the jar carries: the platforms it has natives for, each with its files.
     *
     * @return platform to file names, in the order of {@link #supportedPlatforms()}; empty when the jar carries no natives (or after
     *         deserialisation)
     */
    public Map<String, List<String>> jarContents() {
        return jarContents == null ? Map.of() : jarContents;
    }
}
