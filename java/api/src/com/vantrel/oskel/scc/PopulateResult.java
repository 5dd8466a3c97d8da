package com.vantrel.oskel.scc;

import java.util.List;
import java.util.Objects;

/**
 * How the provider sorted a file list for a command.
 *
 * @param result the provider's result
 * @param keep the files the provider keeps for the command, in the order it reported them
 * @param drop the files it drops, in the order it reported them
 * @param messages the messages the provider sent during the call, oldest first
 * @see Project#populate(SccCommand, java.util.Collection)
 */
public record PopulateResult(SccResult result, List<String> keep, List<String> drop,
        List<ProviderMessage> messages) {
    /**
     * Copies the lists.
     *
     * @param result the provider's result
     * @param keep the keep list
     * @param drop the drop list
     * @param messages the messages of the call
     */
    public PopulateResult {
        Objects.requireNonNull(result, "result");
        keep = List.copyOf(keep);
        drop = List.copyOf(drop);
        messages = List.copyOf(messages);
    }
}
