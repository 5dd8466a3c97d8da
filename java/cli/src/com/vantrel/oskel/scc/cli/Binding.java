package com.vantrel.oskel.scc.cli;

import java.io.IOException;
import java.io.StringReader;
import java.io.StringWriter;
import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.AtomicMoveNotSupportedException;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.Optional;
import java.util.Properties;

/**
 * What {@code scc init} recorded about a working folder: the provider, the project and its aux
 * path, in {@value #FILE} below the folder. Later commands find it by walking up from the current
 * folder, the way a version-control tool finds its repository; the folder holding it is the
 * project's local working folder.
 *
 * <p>The file is UTF-8 text in the key=value form of {@link Properties}: {@code provider} (the
 * display name) or {@code key} (the provider key), {@code project}, {@code auxPath}. Keys it does
 * not know are ignored.
 */
record Binding(Path folder, String provider, String key, String project, String auxPath) {
    /** The binding's file, relative to the working folder. */
    static final String FILE = ".scc/binding";
    /** A binding file is a few lines; anything larger is not one. */
    private static final long LIMIT = 64 * 1024;

    /** Finds the binding of a folder once, on first use. */
    static final class Lookup {
        private final Path start;
        private final boolean walk;
        private Optional<Binding> found;

        /**
         * @param start where the walk starts (null: the current folder)
         * @param walk false to look in the start folder alone
         */
        Lookup(Path start, boolean walk) {
            this.start = (start != null ? start : Paths.get("")).toAbsolutePath().normalize();
            this.walk = walk;
        }

        Path start() {
            return start;
        }

        Optional<Binding> get() throws ToolFailure {
            if (found == null) {
                found = walk ? find(start) : read(start);
            }
            return found;
        }
    }

    /** The binding of the folder or of its nearest parent that has one. */
    static Optional<Binding> find(Path start) throws ToolFailure {
        for (Path folder = start; folder != null; folder = folder.getParent()) {
            Optional<Binding> binding = read(folder);
            if (binding.isPresent()) {
                return binding;
            }
        }
        return Optional.empty();
    }

    /** The binding of the folder itself. */
    static Optional<Binding> read(Path folder) throws ToolFailure {
        Path file = folder.resolve(FILE);
        return Files.exists(file, LinkOption.NOFOLLOW_LINKS) ? Optional.of(read(folder, file))
                                                             : Optional.empty();
    }

    private static Binding read(Path folder, Path file) throws ToolFailure {
        Properties values = new Properties();
        try {
            BasicFileAttributes attributes = Files.readAttributes(file, BasicFileAttributes.class,
                    LinkOption.NOFOLLOW_LINKS);
            if (!attributes.isRegularFile() || attributes.size() > LIMIT) {
                throw new ToolFailure("the binding " + file + " is not a regular file of at most "
                        + LIMIT + " bytes; remove it or run 'scc init' again", null);
            }
            String text = StandardCharsets.UTF_8.newDecoder()
                    .onMalformedInput(CodingErrorAction.REPORT)
                    .onUnmappableCharacter(CodingErrorAction.REPORT)
                    .decode(ByteBuffer.wrap(Files.readAllBytes(file))).toString();
            values.load(new StringReader(text));
        } catch (CharacterCodingException e) {
            throw new ToolFailure("the binding " + file + " is not UTF-8 text", e);
        } catch (IOException | IllegalArgumentException e) {
            throw new ToolFailure("cannot read the binding " + file + ": " + e.getMessage(), e);
        }
        Binding binding = new Binding(folder, values.getProperty("provider"),
                values.getProperty("key"), values.getProperty("project"),
                values.getProperty("auxPath"));
        if (binding.project == null || binding.project.isEmpty()) {
            throw new ToolFailure("the binding " + file + " names no project; run 'scc init' "
                    + "again", null);
        }
        return binding;
    }

    /**
     * Writes the binding into its folder, replacing the one there: the text goes to a file next
     * to it first, so a reader never sees half of it.
     */
    void write() throws ToolFailure {
        Properties values = new Properties();
        if (key != null) {
            values.setProperty("key", key);
        } else if (provider != null) {
            values.setProperty("provider", provider);
        }
        values.setProperty("project", project);
        values.setProperty("auxPath", auxPath == null ? "" : auxPath);
        StringWriter text = new StringWriter();
        try {
            values.store(text, null);
        } catch (IOException e) {
            throw new IllegalStateException(e); // a StringWriter does not fail
        }
        // Properties.store starts with the time as a comment; a binding says what it is instead.
        String body = text.toString().replaceFirst("\\A#[^\\n]*\\n", "");
        String content = "# written by 'scc init': the folder holding .scc is the working "
                + "folder of the project\n" + body;
        Path file = folder.resolve(FILE);
        Path temporary = null;
        try {
            Files.createDirectories(file.getParent());
            temporary = Files.createTempFile(file.getParent(), "binding", ".tmp");
            Files.writeString(temporary, content, StandardCharsets.UTF_8);
            try {
                Files.move(temporary, file, StandardCopyOption.REPLACE_EXISTING,
                        StandardCopyOption.ATOMIC_MOVE);
            } catch (AtomicMoveNotSupportedException e) {
                Files.move(temporary, file, StandardCopyOption.REPLACE_EXISTING);
            }
        } catch (IOException e) {
            try {
                if (temporary != null) {
                    Files.deleteIfExists(temporary);
                }
            } catch (IOException ignored) {
                // the error below is the one to report
            }
            throw new ToolFailure("cannot write the binding " + file + ": " + e, e);
        }
    }
}
