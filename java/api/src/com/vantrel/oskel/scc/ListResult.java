package com.vantrel.oskel.scc;

import java.util.List;
import java.util.Objects;

/**
 * The outcome of a provider call that reports a list: the provider's result, the items in the
 * order it reported them, and the messages it sent during the call.
 *
 * @param <T> the type of the items
 * @param command the command, for example "dirlist"
 * @param result the provider's result: {@link SccResult#OK} or informational, such as
 *               {@link SccResult#I_OPERATIONCANCELED} when the call was cancelled (the items are
 *               then those reported before it stopped); errors are thrown as {@link SccException}
 * @param items the items
 * @param messages the messages the provider sent during the call, oldest first
 */
public record ListResult<T>(String command, SccResult result, List<T> items,
        List<ProviderMessage> messages) {
    /**
     * Copies the lists.
     *
     * @param command the command
     * @param result the result
     * @param items the items
     * @param messages the messages
     */
    public ListResult {
        Objects.requireNonNull(command, "command");
        Objects.requireNonNull(result, "result");
        items = List.copyOf(items);
        messages = List.copyOf(messages);
    }

    /**
     * The result as a command result, without the items.
     *
     * @return the command, result and messages
     */
    public CommandResult commandResult() {
        return new CommandResult(command, result, messages);
    }
}
