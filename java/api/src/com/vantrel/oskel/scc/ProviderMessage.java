package com.vantrel.oskel.scc;

import java.util.Objects;

/**
 * A message that the provider sent while it worked.
 *
 * @param typeNumber the message type as the provider gave it (see {@link MessageType})
 * @param text the message text; a message that the library could not convert in the current
 *             locale arrives as {@link #UNREADABLE}
 */
public record ProviderMessage(int typeNumber, String text) {
    /** The text of a message that could not be converted from the provider's encoding. */
    public static final String UNREADABLE = "\uFFFD";

    /**
     * Checks the text.
     *
     * @param typeNumber the message type number
     * @param text the text, not null
     */
    public ProviderMessage {
        Objects.requireNonNull(text, "text");
    }

    /**
     * The message type.
     *
     * @return the type; {@link MessageType#OTHER} for a number the SCC API does not define
     */
    public MessageType type() {
        return MessageType.of(typeNumber);
    }

    /**
     * Reads one entry of the library's message list: the type number, one space, the text.
     *
     * @param entry an entry as the library hands it out, or null for one it could not convert
     * @return the message
     */
    static ProviderMessage parse(String entry) {
        if (entry == null) {
            return new ProviderMessage(0, UNREADABLE);
        }
        int space = entry.indexOf(' ');
        if (space > 0) {
            try {
                return new ProviderMessage(Integer.parseInt(entry.substring(0, space)),
                        entry.substring(space + 1));
            } catch (NumberFormatException e) {
                // not an entry of the usual form: keep it whole
            }
        }
        return new ProviderMessage(0, entry);
    }

    /**
     * The message as a line: the lower-case type name, a colon and the text, for example
     * {@code "warning: file is read-only"}.
     *
     * @return the line
     */
    @Override
    public String toString() {
        MessageType type = type();
        String label = type == MessageType.OTHER ? "type " + typeNumber
                                                 : type.name().toLowerCase(java.util.Locale.ROOT);
        return label + ": " + text;
    }
}
