package com.vantrel.oskel.scc;

import java.util.List;

/**
 * The source-control status of files ({@code SccQueryInfo}) and the messages the provider sent
 * while it looked.
 *
 * @param files one status per file, in the order given
 * @param messages the messages of the call, oldest first
 */
public record StatusResult(List<FileStatus> files, List<ProviderMessage> messages) {
    /**
     * Copies the lists.
     *
     * @param files the statuses
     * @param messages the messages
     */
    public StatusResult {
        files = List.copyOf(files);
        messages = List.copyOf(messages);
    }

    /**
     * The status of one file.
     *
     * @param index its position in the list given
     * @return the status
     */
    public FileStatus get(int index) {
        return files.get(index);
    }
}
