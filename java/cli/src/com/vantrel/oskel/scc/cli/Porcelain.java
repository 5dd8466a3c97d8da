package com.vantrel.oskel.scc.cli;

import java.nio.charset.StandardCharsets;

/**
 * File, folder and project names in --porcelain records: a name a line-based reader would split
 * or misread (a control character, a tab, a newline, a double quote, a backslash) is written in
 * double quotes with C escapes, the other names as they are; with -z records end with a NUL and
 * names are never quoted. Provider names and keys, which the registry holds, are not quoted.
 *
 * <p>On Windows, where the backslash separates the folders of every path, a backslash alone does
 * not make a name quoted: a reader unquotes a field that starts with a double quote and takes any
 * other as it is, which stays unambiguous.
 */
final class Porcelain {
    private Porcelain() {}

    private static final boolean BACKSLASH_SEPARATES = java.io.File.separatorChar == '\\';

    /** Whether a name must be quoted in a newline-terminated record. */
    static boolean needsQuotes(String name) {
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            if (c == '"' || (c == '\\' && !BACKSLASH_SEPARATES) || Character.isISOControl(c)) {
                return true;
            }
        }
        return false;
    }

    /** The name as a newline-terminated record carries it. */
    static String quote(String name) {
        if (!needsQuotes(name)) {
            return name;
        }
        StringBuilder quoted = new StringBuilder(name.length() + 8).append('"');
        for (int i = 0; i < name.length(); i++) {
            char c = name.charAt(i);
            switch (c) {
                case '"' -> quoted.append("\\\"");
                case '\\' -> quoted.append("\\\\");
                case '\u0007' -> quoted.append("\\a");
                case '\b' -> quoted.append("\\b");
                case '\t' -> quoted.append("\\t");
                case '\n' -> quoted.append("\\n");
                case '\u000b' -> quoted.append("\\v");
                case '\f' -> quoted.append("\\f");
                case '\r' -> quoted.append("\\r");
                default -> {
                    if (Character.isISOControl(c)) {
                        // The bytes of the character in UTF-8, each as three octal digits.
                        for (byte b : String.valueOf(c).getBytes(StandardCharsets.UTF_8)) {
                            quoted.append(String.format("\\%03o", b & 0xff));
                        }
                    } else {
                        quoted.append(c);
                    }
                }
            }
        }
        return quoted.append('"').toString();
    }
}
