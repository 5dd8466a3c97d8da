package com.vantrel.oskel.managedprojects.scci.testing;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/**
 * The script of the test provider, which reads it afresh at the start of every entry-point call.
 * Every change rewrites the file, so directives added between two native calls take effect at the
 * next provider call.
 *
 * <p>Texts given as {@code String} must be ASCII; the {@code byte[]} forms send any bytes (written
 * with the script's {@code \xNN} escape).
 */
public final class ProviderScript {
    private final Path path;
    private final List<String> lines = new ArrayList<>();

    public ProviderScript(Path path) {
        this.path = path;
    }

    public Path path() {
        return path;
    }

    /** The empty script: every entry point does its default. */
    public ProviderScript clear() {
        lines.clear();
        return write();
    }

    /** Adds one directive line as it stands. */
    public ProviderScript line(String directive) {
        lines.add(directive);
        return write();
    }

    /** The result code of an entry point ({@code "*"} for every one). */
    public ProviderScript returns(String entry, long code) {
        return line("return " + entry + " " + code);
    }

    /** What SccGetVersion returns. */
    public ProviderScript version(long version) {
        return line("version " + version);
    }

    /** The context that SccInitialize hands out. */
    public ProviderScript initContext(long context) {
        return line("init.context 0x" + Long.toHexString(context));
    }

    /** The provider name that SccInitialize writes. */
    public ProviderScript initName(String name) {
        return line("init.name " + text(name));
    }

    public ProviderScript initName(byte[] name) {
        return line("init.name " + text(name));
    }

    /** The capability bits that SccInitialize writes. */
    public ProviderScript initCaps(long caps) {
        return line("init.caps 0x" + Long.toHexString(caps & 0xffffffffL));
    }

    public ProviderScript initAuxLabel(String label) {
        return line("init.auxlabel " + text(label));
    }

    public ProviderScript initCommentLengths(int checkoutCommentLen, int commentLen) {
        line("init.checkoutcommentlen " + checkoutCommentLen);
        return line("init.commentlen " + commentLen);
    }

    /** SccInitialize writes none of its outputs. */
    public ProviderScript initNoWrite() {
        return line("init.nowrite");
    }

    /** During every call of {@code entry}, send a message through the text-out callback. */
    public ProviderScript message(String entry, int type, String text) {
        return line("message " + entry + " " + type + " " + text(text));
    }

    public ProviderScript message(String entry, int type, byte[] text) {
        return line("message " + entry + " " + type + " " + text(text));
    }

    public ProviderScript messageNull(String entry, int type) {
        return line("message.null " + entry + " " + type);
    }

    /** During SccPopulateList, one callback with this keep flag and name. */
    public ProviderScript populate(long keepFlag, String name) {
        return line("populate " + keepFlag + " " + text(name));
    }

    public ProviderScript populate(long keepFlag, byte[] name) {
        return line("populate " + keepFlag + " " + text(name));
    }

    public ProviderScript populateNull(long keepFlag) {
        return line("populate.null " + keepFlag);
    }

    /** SccQueryInfo and SccPopulateList write this status word ({@code index < 0}: every one). */
    public ProviderScript status(int index, long value) {
        return line("status " + (index < 0 ? "*" : Integer.toString(index)) + " " + value);
    }

    /** SccGetCommandOptions for {@code command} stores {@code value} in the option slot. */
    public ProviderScript optionsStore(long command, long value) {
        return line("options.store " + command + " 0x" + Long.toHexString(value));
    }

    /** SccGetProjPath copies the text into one buffer: user, project, local or aux. */
    public ProviderScript projPath(String field, String text) {
        return line("projpath." + field + " " + text(text));
    }

    public ProviderScript projPath(String field, byte[] text) {
        return line("projpath." + field + " " + text(text));
    }

    public ProviderScript projPathAllowNew(long value) {
        return line("projpath.allownew " + value);
    }

    /** SccOpenProject copies the text into one writable argument: user, project or aux. */
    public ProviderScript openProject(String field, String text) {
        return line("openproject." + field + " " + text(text));
    }

    public ProviderScript openProject(String field, byte[] text) {
        return line("openproject." + field + " " + text(text));
    }

    /** A script TEXT for ASCII text. */
    public static String text(String ascii) {
        for (int i = 0; i < ascii.length(); i++) {
            if (ascii.charAt(i) > 0x7f) {
                throw new IllegalArgumentException("not ASCII, pass the bytes instead: " + ascii);
            }
        }
        return text(ascii.getBytes(StandardCharsets.US_ASCII));
    }

    /** A script TEXT for any bytes. */
    public static String text(byte[] bytes) {
        StringBuilder sb = new StringBuilder();
        for (byte b : bytes) {
            int c = b & 0xff;
            if (c == '\\') {
                sb.append("\\\\");
            } else if (c < 0x20 || c >= 0x7f) {
                sb.append(String.format("\\x%02x", c));
            } else {
                sb.append((char) c);
            }
        }
        return sb.toString();
    }

    private ProviderScript write() {
        try {
            Path tmp = path.resolveSibling(path.getFileName() + ".tmp");
            Files.write(tmp, String.join("\n", lines).concat(lines.isEmpty() ? "" : "\n")
                    .getBytes(StandardCharsets.US_ASCII));
            Files.move(tmp, path, java.nio.file.StandardCopyOption.REPLACE_EXISTING,
                    java.nio.file.StandardCopyOption.ATOMIC_MOVE);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
        return this;
    }
}
