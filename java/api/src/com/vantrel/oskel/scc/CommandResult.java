package com.vantrel.oskel.scc;

import java.util.List;
import java.util.Objects;

/**
 * The outcome of one file command: the provider's result and the messages it sent during that
 * call, which for history, diff and properties are the command's output.
 *
 * @param command the command, for example "checkout"
 * @param result the provider's result: {@link SccResult#OK} or informational (errors are thrown as
 *               {@link SccException})
 * @param messages the messages the provider sent during the call, oldest first
 */
public record CommandResult(String command, SccResult result, List<ProviderMessage> messages) {
    /**
     * Copies the messages.
     *
     * @param command the command
     * @param result the result
     * @param messages the messages
     */
    public CommandResult {
        Objects.requireNonNull(command, "command");
        Objects.requireNonNull(result, "result");
        messages = List.copyOf(messages);
    }

    /**
     * The numeric SCC result code.
     *
     * @return 0 for {@link SccResult#OK}, positive for informational results
     */
    public int code() {
        return result.code();
    }

    /**
     * Whether the provider answered {@link SccResult#OK}.
     *
     * @return true for OK
     */
    public boolean isOk() {
        return result == SccResult.OK;
    }

    /**
     * Whether the provider stopped the command because it was cancelled.
     *
     * @return true for {@link SccResult#I_OPERATIONCANCELED}
     * @see Connection#cancel()
     */
    public boolean isCancelled() {
        return result == SccResult.I_OPERATIONCANCELED;
    }

    /**
     * The command's text output: the texts of the information and document messages, one per
     * line, each ending in a line feed.
     *
     * @return the text, empty when the provider sent none
     */
    public String text() {
        return text(messages);
    }

    static String text(List<ProviderMessage> messages) {
        StringBuilder text = new StringBuilder();
        for (ProviderMessage message : messages) {
            if (message.type() == MessageType.INFO || message.type() == MessageType.DOCUMENT) {
                text.append(message.text()).append('\n');
            }
        }
        return text.toString();
    }
}
