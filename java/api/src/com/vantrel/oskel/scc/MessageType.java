package com.vantrel.oskel.scc;

/**
 * The type of a provider message ({@code SCC_MSG_...}).
 *
 * @see ProviderMessage
 */
public enum MessageType {
    /** {@code SCC_MSG_INFO}: information. */
    INFO(1),
    /** {@code SCC_MSG_WARNING}: a warning. */
    WARNING(2),
    /** {@code SCC_MSG_ERROR}: an error. */
    ERROR(3),
    /**
     * {@code SCC_MSG_STATUS}: a progress line while a command runs; it reaches the connection's
     * progress listener during the call and the call's messages after it.
     */
    STATUS(4),
    /** {@code SCC_MSG_DOCUMENT}: document text, such as a listing the user asked for. */
    DOCUMENT(5),
    /** A type number that the SCC API does not define. */
    OTHER(0);

    private final int number;

    MessageType(int number) {
        this.number = number;
    }

    /**
     * The type number of the SCC API.
     *
     * @return 1 to 5, or 0 for {@link #OTHER}
     */
    public int number() {
        return number;
    }

    /**
     * The type for a type number.
     *
     * @param number a message type number
     * @return the type; {@link #OTHER} for numbers outside 1 to 5
     */
    public static MessageType of(int number) {
        for (MessageType type : values()) {
            if (type.number == number && type != OTHER) {
                return type;
            }
        }
        return OTHER;
    }
}
