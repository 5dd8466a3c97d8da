package com.vantrel.oskel.managedprojects.scci.testing;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.stream.Collectors;

/**
 * The test provider's call log: one line per entry-point call and per callback, appended as the
 * calls happen. The log escapes every byte outside printable ASCII, so its lines are ASCII.
 */
public final class CallLog {
    private final Path path;

    public CallLog(Path path) {
        this.path = path;
    }

    public Path path() {
        return path;
    }

    /** Every line logged since the last clear. */
    public List<String> lines() {
        try {
            String content = new String(Files.readAllBytes(path), StandardCharsets.ISO_8859_1);
            if (content.isEmpty()) {
                return new ArrayList<>();
            }
            if (content.endsWith("\n")) {
                content = content.substring(0, content.length() - 1);
            }
            return new ArrayList<>(Arrays.asList(content.split("\n", -1)));
        } catch (NoSuchFileException e) {
            return new ArrayList<>();
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The lines of calls of one entry point or callback (the first word of the line). */
    public List<String> linesOf(String entry) {
        return lines().stream().filter(l -> l.equals(entry) || l.startsWith(entry + " "))
                .collect(Collectors.toList());
    }

    /** Forgets everything logged so far. */
    public void clear() {
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The lines logged since the last clear, then clears. */
    public List<String> take() {
        List<String> lines = lines();
        clear();
        return lines;
    }

    /** A text as the log writes it: quoted, with {@code \\ \" \xNN} escapes. */
    public static String quote(String ascii) {
        return quote(ascii.getBytes(StandardCharsets.ISO_8859_1));
    }

    public static String quote(byte[] text) {
        StringBuilder sb = new StringBuilder("\"");
        for (byte b : text) {
            int c = b & 0xff;
            if (c == '\\' || c == '"') {
                sb.append('\\').append((char) c);
            } else if (c < 0x20 || c >= 0x7f) {
                sb.append(String.format("\\x%02x", c));
            } else {
                sb.append((char) c);
            }
        }
        return sb.append('"').toString();
    }

    /** An opaque value (context, option slot) as the log writes it. */
    public static String hex(long value) {
        // a pointer of a 32-bit library keeps the low 32 bits
        return "0x" + Long.toHexString(TestEnvironment.pointerBits() == 32 ? value & 0xffffffffL : value);
    }
}
