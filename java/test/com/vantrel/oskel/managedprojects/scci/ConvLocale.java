package com.vantrel.oskel.managedprojects.scci;

import com.vantrel.oskel.managedprojects.scci.testing.TestEnvironment;
import java.io.ByteArrayOutputStream;
import java.util.Locale;
import org.junit.jupiter.api.Assumptions;

/**
 * The C locale a JVM test runs under, as far as the text conversions care: the library takes its
 * locale from the environment at {@code _initialize}, and run-jvm-tests.sh starts each JVM in one
 * locale. Tables of expected conversions give one column per locale and pick theirs with
 * {@link #pick}.
 */
enum ConvLocale {
    /** C.UTF-8 or another UTF-8 locale. */
    UTF8,
    /** en_US.ISO-8859-1: every byte is a character, U+0000 to U+00FF only. */
    LATIN1,
    /** C / POSIX: ASCII only; bytes 0x80 and up are no characters. */
    ASCII;

    /** The locale of this JVM; aborts the test for a locale the tables do not cover. */
    static ConvLocale current() {
        String codeset = TestEnvironment.localeCodeset().toUpperCase(Locale.ROOT);
        switch (codeset) {
            case "UTF-8":
            case "UTF8":
                return UTF8;
            case "ISO-8859-1":
            case "ISO8859-1":
            case "ISO_8859-1":
                return LATIN1;
            case "ANSI_X3.4-1968":
            case "US-ASCII":
            case "ASCII":
                return ASCII;
            default:
                Assumptions.abort("no expectations for the locale codeset " + codeset);
                return null;
        }
    }

    /** The value of the column for this locale. */
    <T> T pick(T utf8, T latin1, T ascii) {
        switch (this) {
            case UTF8:
                return utf8;
            case LATIN1:
                return latin1;
            default:
                return ascii;
        }
    }

    /**
     * Bytes written as text with {@code \xNN} escapes: {@code bytes("Caf\\xc3\\xa9")}. Every other
     * character must be ASCII. Null stays null (a text that does not convert).
     */
    static byte[] bytes(String escaped) {
        if (escaped == null) {
            return null;
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < escaped.length(); i++) {
            char c = escaped.charAt(i);
            if (c == '\\' && i + 3 < escaped.length() && escaped.charAt(i + 1) == 'x') {
                out.write(Integer.parseInt(escaped.substring(i + 2, i + 4), 16));
                i += 3;
            } else if (c < 0x80) {
                out.write(c);
            } else {
                throw new IllegalArgumentException("not ASCII: " + escaped);
            }
        }
        return out.toByteArray();
    }
}
