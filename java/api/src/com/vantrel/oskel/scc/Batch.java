package com.vantrel.oskel.scc;

/**
 * A batch of commands ({@code SccBeginBatch} to {@code SccEndBatch}): the provider may ask the
 * user a question once for all of them and, for example, take its store's lock once. Begun by
 * {@link Connection#beginBatch()} and ended by {@link #close()}, so that a try-with-resources
 * block is the batch:
 *
 * <pre>{@code
 * try (Batch batch = connection.beginBatch()) {
 *     project.checkout("release", files);
 * }
 * }</pre>
 *
 * <p>The provider's batch is not tied to one connection: its entry points take no connection, so
 * the provider counts the calls of all its connections made meanwhile as part of it. Batches do
 * not nest. Closing the connection ends its batch first.
 */
public final class Batch implements AutoCloseable {
    private final Connection connection;
    // Guarded by the connection's call lock.
    private boolean open = true;

    Batch(Connection connection) {
        this.connection = connection;
    }

    /**
     * The connection the batch was begun on.
     *
     * @return the connection
     */
    public Connection connection() {
        return connection;
    }

    /**
     * Whether the batch is still open.
     *
     * @return false once it was ended, or its connection closed
     */
    public boolean isOpen() {
        return connection.batchOpen(this);
    }

    /**
     * Ends the batch ({@code SccEndBatch}). Later calls do nothing.
     *
     * @throws SccException when the provider reports an error; the batch counts as ended all the
     *         same
     */
    @Override
    public void close() throws SccException {
        connection.endBatch(this);
    }

    boolean isOpenLocked() {
        return open;
    }

    void endedLocked() {
        open = false;
    }

    /**
     * The connection and whether the batch is open.
     *
     * @return a description for logs
     */
    @Override
    public String toString() {
        return "Batch[" + connection + "]";
    }
}
