package com.vantrel.oskel.managedprojects.scci.testing;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;
import java.time.Duration;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Objects;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.stream.Collectors;

/**
 * A trace log file as the library writes it, read back line by line.
 *
 * <p>Each line is one of three kinds: a stamped trace line ("MM/DD/YY HH:MM:SS SCCIH> text"), the
 * ctime timestamp line that opens a capability report ("Tue Dec 08 03:02:44 2026"), or a raw line
 * (the rest of the capability report and the dumps). Reading checks what the tests cannot compare
 * literally: every stamp and every ctime line must be well formed and tell the current local time
 * (within {@link #CLOCK_SLACK}), every line must end with a single line feed and none may hold a
 * carriage return. A file that breaks one of these rules fails the test with the line at fault.
 *
 * <p>The file is read as ISO-8859-1, so each byte becomes one character.
 */
public final class TraceFile {
    public static final Duration CLOCK_SLACK = Duration.ofMinutes(5);

    private static final Pattern STAMPED =
            Pattern.compile("(\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d) SCCIH> (.*)", Pattern.DOTALL);
    private static final Pattern CTIME = Pattern.compile(
            "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
            + "\\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}");
    /** Something that starts like a ctime line, to tell a malformed one from a raw line. */
    private static final Pattern CTIME_LIKE = Pattern.compile(
            "(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) .*");
    private static final Pattern STAMP_LIKE = Pattern.compile("\\d\\d?/\\d.*SCCIH>.*", Pattern.DOTALL);
    private static final DateTimeFormatter STAMP_FORMAT =
            DateTimeFormatter.ofPattern("MM/dd/yy HH:mm:ss", Locale.ROOT);
    private static final DateTimeFormatter CTIME_FORMAT =
            DateTimeFormatter.ofPattern("EEE MMM dd HH:mm:ss yyyy", Locale.ENGLISH);

    /** The kinds of line in a trace file. */
    public enum Kind { STAMPED, CTIME, RAW }

    /**
     * One line of a trace file. Lines compare by kind and text; a CTIME line's text is not compared
     * (reading has checked it against the clock).
     */
    public static final class Line {
        private final Kind kind;
        private final String text;

        private Line(Kind kind, String text) {
            this.kind = kind;
            this.text = text;
        }

        /** A trace line with date, time and tag ahead of {@code text}. */
        public static Line stamped(String text) {
            return new Line(Kind.STAMPED, text);
        }

        /** The ctime line of a capability report. */
        public static Line ctime() {
            return new Line(Kind.CTIME, "");
        }

        /** A line written without date, time or tag. */
        public static Line raw(String text) {
            return new Line(Kind.RAW, text);
        }

        public Kind kind() {
            return kind;
        }

        public String text() {
            return text;
        }

        @Override
        public boolean equals(Object o) {
            if (!(o instanceof Line)) {
                return false;
            }
            Line other = (Line) o;
            return kind == other.kind && (kind == Kind.CTIME || text.equals(other.text));
        }

        @Override
        public int hashCode() {
            return Objects.hash(kind, kind == Kind.CTIME ? "" : text);
        }

        /** "[stamp] text", "[ctime]" or the raw text: readable in assertion messages. */
        @Override
        public String toString() {
            switch (kind) {
                case STAMPED:
                    return "[stamp] " + text;
                case CTIME:
                    return "[ctime]";
                default:
                    return text;
            }
        }
    }

    private final Path path;

    public TraceFile(Path path) {
        this.path = path;
    }

    public Path path() {
        return path;
    }

    public boolean exists() {
        return Files.exists(path);
    }

    /** The file's bytes; empty when there is no file. */
    public byte[] bytes() {
        try {
            return Files.readAllBytes(path);
        } catch (NoSuchFileException e) {
            return new byte[0];
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** Removes the file, so that the next write has to create it anew. */
    public void delete() {
        try {
            Files.deleteIfExists(path);
        } catch (IOException e) {
            throw new UncheckedIOException(e);
        }
    }

    /** The lines of the file, checked as described above; none when there is no file. */
    public List<Line> lines() {
        String content = new String(bytes(), StandardCharsets.ISO_8859_1);
        List<Line> lines = new ArrayList<>();
        if (content.isEmpty()) {
            return lines;
        }
        if (!content.endsWith("\n")) {
            throw new AssertionError("trace file " + path + " does not end with a line feed:\n"
                    + content);
        }
        String[] parts = content.substring(0, content.length() - 1).split("\n", -1);
        for (int i = 0; i < parts.length; i++) {
            lines.add(parse(parts[i], i + 1));
        }
        return lines;
    }

    /** The texts of all lines: stamped lines without their prefix, the others as they are. */
    public List<String> texts() {
        return lines().stream().map(Line::text).collect(Collectors.toList());
    }

    /** The texts of the stamped lines only. */
    public List<String> stampedTexts() {
        return lines().stream().filter(l -> l.kind() == Kind.STAMPED).map(Line::text)
                .collect(Collectors.toList());
    }

    /** The lines rendered one per line as {@link Line#toString()} does, for assertion messages. */
    public static String render(List<Line> lines) {
        return lines.stream().map(Line::toString).collect(Collectors.joining("\n"));
    }

    private Line parse(String line, int number) {
        String where = "trace file " + path + " line " + number + ": \"" + line + "\"";
        if (line.indexOf('\r') >= 0) {
            throw new AssertionError(where + " holds a carriage return");
        }
        Matcher stamped = STAMPED.matcher(line);
        if (stamped.matches()) {
            checkClock(parseTime(stamped.group(1), STAMP_FORMAT, where), where);
            return new Line(Kind.STAMPED, stamped.group(2));
        }
        if (STAMP_LIKE.matcher(line).matches()) {
            throw new AssertionError(where + ": prefix is not \"MM/DD/YY HH:MM:SS SCCIH> \"");
        }
        if (CTIME.matcher(line).matches()) {
            checkClock(parseTime(line, CTIME_FORMAT, where), where);
            return new Line(Kind.CTIME, line);
        }
        if (CTIME_LIKE.matcher(line).matches()) {
            throw new AssertionError(where + ": not a timestamp of the form "
                    + "\"Www Mmm DD HH:MM:SS YYYY\" (day of month as two digits)");
        }
        return new Line(Kind.RAW, line);
    }

    private static LocalDateTime parseTime(String text, DateTimeFormatter format, String where) {
        try {
            return LocalDateTime.parse(text, format);
        } catch (DateTimeParseException e) {
            throw new AssertionError(where + ": not a valid date and time (" + e.getMessage() + ")");
        }
    }

    private static void checkClock(LocalDateTime written, String where) {
        LocalDateTime now = LocalDateTime.now();
        if (Duration.between(written, now).abs().compareTo(CLOCK_SLACK) > 0) {
            throw new AssertionError(where + ": time " + written + " is not the local time " + now);
        }
    }
}
