package com.vantrel.oskel.scc.cli;

import java.util.List;
import java.util.Locale;

/**
 * Checks of the command line before it is parsed: arguments the locale could not decode, and the
 * nearest command to a mistyped one.
 */
final class Arguments {
    private Arguments() {}

    /**
     * What the JVM makes of bytes of an argument that the locale's encoding cannot decode. It
     * cannot be told apart from a real U+FFFD, so an argument holding one is refused: used as a
     * name it would reach another file (n\xff.txt would become n\xef\xbf\xbd.txt).
     */
    static final char REPLACEMENT = '\uFFFD';

    /** The message for the first argument holding {@link #REPLACEMENT}; null when there is none. */
    static String undecodable(String[] args) {
        for (int i = 0; i < args.length; i++) {
            if (args[i].indexOf(REPLACEMENT) >= 0) {
                return "argument " + (i + 1) + " (" + show(args[i]) + ") does not decode in "
                        + "the locale's encoding (" + System.getProperty("sun.jnu.encoding", "?")
                        + "), or holds U+FFFD, which stands for bytes that do not: refused, "
                        + "since as a name it would reach another file";
            }
        }
        return null;
    }

    /** An argument in a message: quoted, with the replacement character as \ufffd. */
    static String show(String argument) {
        return "'" + argument.replace(String.valueOf(REPLACEMENT), "\\ufffd") + "'";
    }

    /**
     * The commands nearest to a mistyped one: those within an edit distance of a third of its
     * length (at least 1, at most 3), adjacent swaps counting once, nearest first.
     */
    static List<String> suggestions(String typed, Iterable<String> commands) {
        String word = typed.toLowerCase(Locale.ROOT);
        int limit = Math.max(1, Math.min(3, word.length() / 3));
        int best = Integer.MAX_VALUE;
        List<String> nearest = new java.util.ArrayList<>();
        for (String command : commands) {
            int distance = distance(word, command);
            if (distance > limit || distance > best) {
                continue;
            }
            if (distance < best) {
                best = distance;
                nearest.clear();
            }
            nearest.add(command);
        }
        return nearest;
    }

    /** Edit distance with adjacent transpositions (optimal string alignment). */
    static int distance(String a, String b) {
        int[][] d = new int[a.length() + 1][b.length() + 1];
        for (int i = 0; i <= a.length(); i++) {
            d[i][0] = i;
        }
        for (int j = 0; j <= b.length(); j++) {
            d[0][j] = j;
        }
        for (int i = 1; i <= a.length(); i++) {
            for (int j = 1; j <= b.length(); j++) {
                int cost = a.charAt(i - 1) == b.charAt(j - 1) ? 0 : 1;
                d[i][j] = Math.min(Math.min(d[i - 1][j] + 1, d[i][j - 1] + 1),
                        d[i - 1][j - 1] + cost);
                if (i > 1 && j > 1 && a.charAt(i - 1) == b.charAt(j - 2)
                        && a.charAt(i - 2) == b.charAt(j - 1)) {
                    d[i][j] = Math.min(d[i][j], d[i - 2][j - 2] + 1);
                }
            }
        }
        return d[a.length()][b.length()];
    }
}
