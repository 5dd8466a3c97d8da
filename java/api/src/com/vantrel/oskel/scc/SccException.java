package com.vantrel.oskel.scc;

import java.util.List;
import java.util.Optional;

/**
 * A provider call that failed: the provider returned an SCC error code (or a code the SCC API does
 * not define). Carries the code, its SCC name, the operation and the messages the provider sent
 * during the call; the message says all of it, for example
 * {@code add: SCC_E_INVALIDFILEPATH (-24): The working file /w/a.txt does not exist.}
 */
public class SccException extends Exception {
    private static final long serialVersionUID = 1L;

    /** The operation. */
    private final String operation;
    /** The SCC result code. */
    private final int code;
    /** The messages; not serialised. */
    private final transient List<ProviderMessage> messages;

    /**
     * An exception for a failed provider call.
     *
     * @param operation what was asked of the provider, for example "checkout"
     * @param code the SCC result code
     * @param messages the messages the provider sent during the call
     */
    public SccException(String operation, int code, List<ProviderMessage> messages) {
        this(operation, code, messages, null);
    }

    /**
     * An exception with its own description.
     *
     * @param operation what was asked of the provider
     * @param code the SCC result code
     * @param messages the messages the provider sent during the call
     * @param description the exception's message; null for "operation: SCC name (code)" and the
     *        texts of the provider's messages
     */
    protected SccException(String operation, int code, List<ProviderMessage> messages,
            String description) {
        super(description != null ? description : describe(operation, code, messages));
        this.operation = operation;
        this.code = code;
        this.messages = List.copyOf(messages);
    }

    private static String describe(String operation, int code, List<ProviderMessage> messages) {
        StringBuilder text = new StringBuilder(operation).append(": ")
                .append(SccResult.nameOf(code)).append(" (").append(code).append(')');
        String separator = ": ";
        for (ProviderMessage message : messages) {
            if (message.type() != MessageType.STATUS) {
                text.append(separator).append(message.text());
                separator = "; ";
            }
        }
        return text.toString();
    }

    /**
     * What was asked of the provider.
     *
     * @return for example "checkout"
     */
    public String operation() {
        return operation;
    }

    /**
     * The SCC result code.
     *
     * @return the code
     */
    public int code() {
        return code;
    }

    /**
     * The named result of the code.
     *
     * @return the result, or empty for a code that the SCC API does not define
     */
    public Optional<SccResult> result() {
        return SccResult.forCode(code);
    }

    /**
     * The SCC name of the code.
     *
     * @return for example {@code "SCC_E_FILEISLOCKED"}
     */
    public String sccName() {
        return SccResult.nameOf(code);
    }

    /**
     * The messages the provider sent during the failed call, oldest first.
     *
     * @return an unmodifiable list, empty after deserialisation
     */
    public List<ProviderMessage> messages() {
        return messages == null ? List.of() : messages;
    }
}
