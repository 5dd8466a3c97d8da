package com.vantrel.oskel.scc;

import java.util.Objects;

/**
 * The comment of a check-out, check-in, add or remove: a type of its own, so that a file name
 * can never be taken for a comment ({@code project.add(Comment.of("first version"), file)}; the
 * same command without a comment is {@code project.add(file)}).
 *
 * <p>The text reaches the provider in the locale's encoding; a text longer than the provider
 * takes ({@link Connection#checkoutCommentLimit()}, {@link Connection#commentLimit()}) is
 * refused before the provider is called.
 */
public final class Comment {
    private final String text;

    private Comment(String text) {
        this.text = text;
    }

    /**
     * A comment.
     *
     * @param text the text
     * @return the comment
     * @throws IllegalArgumentException for a text with a NUL character, or one the locale's
     *         encoding cannot write
     */
    public static Comment of(String text) {
        Objects.requireNonNull(text, "text");
        NativeText.comment(text);
        return new Comment(text);
    }

    /**
     * The text.
     *
     * @return the text
     */
    public String text() {
        return text;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof Comment c && c.text.equals(text);
    }

    @Override
    public int hashCode() {
        return text.hashCode();
    }

    @Override
    public String toString() {
        return text;
    }
}
