package com.vantrel.oskel.scc;

import java.nio.CharBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetEncoder;
import java.nio.charset.CodingErrorAction;
import java.nio.file.Path;
import java.util.Collection;
import java.util.Objects;

/**
 * Checks texts before they go to the library. The library converts file names, comments and
 * project texts to the 8-bit encoding of the process's locale; a text it cannot convert reaches the
 * provider as a null pointer or an empty text, and an overlong project text as an empty one. Both
 * would make the provider act on something the caller did not ask for, so such texts are refused
 * here with an {@link IllegalArgumentException} instead.
 */
final class NativeText {
    private static final Charset CHARSET = localeCharset();

    private NativeText() {}

    /** The encoding of the platform's locale, as the JVM saw it at start. */
    static Charset charset() {
        return CHARSET;
    }

    private static Charset localeCharset() {
        for (String property : new String[] {"native.encoding", "sun.jnu.encoding"}) {
            String name = System.getProperty(property);
            if (name != null && !name.isEmpty()) {
                try {
                    return Charset.forName(name);
                } catch (RuntimeException e) {
                    // an encoding this JVM does not know: try the next source
                }
            }
        }
        return Charset.defaultCharset();
    }

    /**
     * Refuses a text that holds a NUL character, that the locale's encoding cannot represent, or
     * that is longer than limit bytes in that encoding (limit below 0: no limit).
     */
    static void check(String value, String what, int limit) {
        Objects.requireNonNull(value, what);
        if (value.indexOf('\0') >= 0) {
            throw new IllegalArgumentException(what + " contains a NUL character: " + quote(value));
        }
        CharsetEncoder encoder = CHARSET.newEncoder()
                .onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT);
        int length;
        try {
            length = encoder.encode(CharBuffer.wrap(value)).remaining();
        } catch (CharacterCodingException e) {
            throw new IllegalArgumentException(what + " " + quote(value)
                    + " cannot be written in the locale's encoding " + CHARSET.name());
        }
        if (limit >= 0 && length > limit) {
            throw new IllegalArgumentException(what + " is " + length + " bytes long in "
                    + CHARSET.name() + "; the limit is " + limit + ": " + quote(value));
        }
    }

    /** A file name from a path: absolute and normalised, then checked. */
    /**
     * A file name from a path: a relative one is taken against {@code base} (the project's
     * working folder; null: the current folder), then made absolute, normalised and checked.
     */
    static String fileName(Path base, Path file) {
        Objects.requireNonNull(file, "file");
        Path resolved = base != null && !file.isAbsolute() ? base.resolve(file) : file;
        String name = resolved.toAbsolutePath().normalize().toString();
        check(name, "file name", -1);
        return name;
    }

    /**
     * A file name given as text: a relative one is taken against {@code base} as for paths; an
     * absolute one, or one that is no path here, reaches the provider as it stands.
     */
    static String fileName(Path base, String file) {
        Objects.requireNonNull(file, "file");
        check(file, "file name", -1);
        if (base != null) {
            try {
                Path path = Path.of(file);
                if (!path.isAbsolute()) {
                    String name = base.resolve(path).toAbsolutePath().normalize().toString();
                    check(name, "file name", -1);
                    return name;
                }
            } catch (java.nio.file.InvalidPathException e) {
                // not a path on this system: the provider may still know it
            }
        }
        return file;
    }

    static String[] fileNames(Path base, Collection<? extends Path> files) {
        Objects.requireNonNull(files, "files");
        String[] names = new String[files.size()];
        int i = 0;
        for (Path file : files) {
            names[i++] = fileName(base, file);
        }
        return names;
    }

    static String[] fileNames(Path base, String[] files) {
        Objects.requireNonNull(files, "files");
        String[] names = new String[files.length];
        for (int i = 0; i < files.length; i++) {
            names[i] = fileName(base, files[i]);
        }
        return names;
    }

    /**
     * A name the provider reported, as a path: a name that did not convert from the locale's
     * encoding (null), or that is no path on this platform, becomes the path of
     * {@link ProviderMessage#UNREADABLE}.
     */
    static Path path(String name) {
        if (name != null) {
            try {
                return Path.of(name);
            } catch (java.nio.file.InvalidPathException e) {
                // kept visible below rather than dropped
            }
        }
        return Path.of(ProviderMessage.UNREADABLE);
    }

    /** A comment: null stays null (the provider receives no comment). */
    static String comment(String comment) {
        if (comment != null) {
            check(comment, "comment", -1);
        }
        return comment;
    }

    private static String quote(String value) {
        String shown = value.length() > 60 ? value.substring(0, 57) + "..." : value;
        return "\"" + shown.replace("\0", "\\0") + "\"";
    }
}
