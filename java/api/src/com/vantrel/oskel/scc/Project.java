package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Collection;
import java.util.List;
import java.util.Locale;
import java.util.Objects;

/**
 * A project open on a {@link Connection}, and the file commands that work in it.
 *
 * <p>Every command takes files as {@link Path}s, which are made absolute and normalised, or as
 * strings, which reach the provider as they stand. A command returns the provider's result when
 * it is {@link SccResult#OK} or informational (such as {@link SccResult#I_FILEDIFFERS} from a
 * diff) and throws {@link SccException} when the provider reports an error. Messages the provider
 * sends go to the connection's message listener and into the exception.
 *
 * <p>Closing the project ends it at the provider ({@code SccCloseProject}); the connection stays
 * open. Like its connection, a project may be used from any thread.
 */
public final class Project implements AutoCloseable {
    private final Connection connection;
    private final ProjectLocation location;
    // Guarded by the connection's call lock.
    private boolean open = true;

    Project(Connection connection, ProjectLocation location) {
        this.connection = connection;
        this.location = location;
    }

    /**
     * The connection the project is open on.
     *
     * @return the connection
     */
    public Connection connection() {
        return connection;
    }

    /**
     * The project texts as the provider left them when it opened the project.
     *
     * @return the location
     */
    public ProjectLocation location() {
        return location;
    }

    /**
     * Whether the project is still open.
     *
     * @return false after {@link #close()} or after its connection closed
     */
    public boolean isOpen() {
        return !connection.isClosed() && connection.project().orElse(null) == this;
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the files
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult get(Collection<? extends Path> files) throws SccException {
        return listCommand("get", NativeText.fileNames(files), JavaSCCInterface::_getFiles);
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the file names
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult get(String... files) throws SccException {
        return listCommand("get", NativeText.fileNames(files), JavaSCCInterface::_getFiles);
    }

    /**
     * Checks files out ({@code SccCheckout}).
     *
     * @param files the files
     * @param comment the check-out comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult checkout(Collection<? extends Path> files, String comment)
            throws SccException {
        return commentCommand("checkout", NativeText.fileNames(files), comment,
                JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}).
     *
     * @param files the file names
     * @param comment the check-out comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult checkout(String[] files, String comment) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(files), comment,
                JavaSCCInterface::_checkout);
    }

    /**
     * Checks files in ({@code SccCheckin}).
     *
     * @param files the files
     * @param comment the check-in comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult checkin(Collection<? extends Path> files, String comment)
            throws SccException {
        return commentCommand("checkin", NativeText.fileNames(files), comment,
                JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}).
     *
     * @param files the file names
     * @param comment the check-in comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult checkin(String[] files, String comment) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(files), comment,
                JavaSCCInterface::_checkin);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the files
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult uncheckout(Collection<? extends Path> files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(files),
                JavaSCCInterface::_uncheckout);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the file names
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult uncheckout(String... files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(files),
                JavaSCCInterface::_uncheckout);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type.
     *
     * @param files the files
     * @param comment the comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult add(Collection<? extends Path> files, String comment) throws SccException {
        return commentCommand("add", NativeText.fileNames(files), comment, JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type.
     *
     * @param files the file names
     * @param comment the comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult add(String[] files, String comment) throws SccException {
        return commentCommand("add", NativeText.fileNames(files), comment, JavaSCCInterface::_add);
    }

    /**
     * Removes files from source control ({@code SccRemove}).
     *
     * @param files the files
     * @param comment the comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult remove(Collection<? extends Path> files, String comment)
            throws SccException {
        return commentCommand("remove", NativeText.fileNames(files), comment,
                JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}).
     *
     * @param files the file names
     * @param comment the comment, or null for none
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult remove(String[] files, String comment) throws SccException {
        return commentCommand("remove", NativeText.fileNames(files), comment,
                JavaSCCInterface::_remove);
    }

    /**
     * Shows the history of files ({@code SccHistory}); a provider without a user interface sends
     * it as messages.
     *
     * @param files the files
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult history(Collection<? extends Path> files) throws SccException {
        return listCommand("history", NativeText.fileNames(files), JavaSCCInterface::_history);
    }

    /**
     * Shows the history of files ({@code SccHistory}).
     *
     * @param files the file names
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult history(String... files) throws SccException {
        return listCommand("history", NativeText.fileNames(files), JavaSCCInterface::_history);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file
     * @return the provider's result; many providers answer {@link SccResult#I_FILEDIFFERS} when
     *         the file differs
     * @throws SccException when the provider reports an error
     */
    public SccResult diff(Path file) throws SccException {
        return fileCommand("diff", NativeText.fileName(file), JavaSCCInterface::_diff);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file name
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult diff(String file) throws SccException {
        return fileCommand("diff", NativeText.fileName(file), JavaSCCInterface::_diff);
    }

    /**
     * Shows the properties of a file ({@code SccProperties}).
     *
     * @param file the file
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult properties(Path file) throws SccException {
        return fileCommand("properties", NativeText.fileName(file),
                JavaSCCInterface::_properties);
    }

    /**
     * Shows the properties of a file ({@code SccProperties}).
     *
     * @param file the file name
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult properties(String file) throws SccException {
        return fileCommand("properties", NativeText.fileName(file),
                JavaSCCInterface::_properties);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the files
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult runScc(Collection<? extends Path> files) throws SccException {
        return listCommand("run", NativeText.fileNames(files), JavaSCCInterface::_runScc);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the file names
     * @return the provider's result
     * @throws SccException when the provider reports an error
     */
    public SccResult runScc(String... files) throws SccException {
        return listCommand("run", NativeText.fileNames(files), JavaSCCInterface::_runScc);
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}). The library does not pass the
     * provider's result code of a status query on; a file the provider could not tell about has
     * the status word the provider left, typically {@link FileStatus#INVALID} or 0.
     *
     * @param files the files
     * @return one status per file, in the order given
     */
    public List<FileStatus> status(Collection<? extends Path> files) {
        return status(NativeText.fileNames(files));
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}).
     *
     * @param files the file names
     * @return one status per file, in the order given
     */
    public List<FileStatus> status(String... files) {
        String[] names = NativeText.fileNames(files);
        int[] words = connection.call(h -> {
            checkOpen();
            return JavaSCCInterface._queryInfo(h, names.length, names);
        }).value();
        if (words == null || words.length != names.length) {
            throw new IllegalStateException("the library gave no status words");
        }
        List<FileStatus> statuses = new ArrayList<>(names.length);
        for (int i = 0; i < names.length; i++) {
            statuses.add(new FileStatus(names[i], words[i]));
        }
        return List.copyOf(statuses);
    }

    /**
     * Lets the provider sort files for a command into a keep list and a drop list
     * ({@code SccPopulateList}); for example, for {@link SccCommand#CHECKIN} the keep list holds
     * the files that can be checked in.
     *
     * @param command the command the list is for
     * @param files the files
     * @return the provider's result and both lists
     * @throws SccException when the provider reports an error
     */
    public PopulateResult populate(SccCommand command, Collection<? extends Path> files)
            throws SccException {
        return populateNames(command, NativeText.fileNames(files));
    }

    /**
     * Lets the provider sort files for a command into a keep list and a drop list
     * ({@code SccPopulateList}).
     *
     * @param command the command the list is for
     * @param files the file names
     * @return the provider's result and both lists
     * @throws SccException when the provider reports an error
     */
    public PopulateResult populate(SccCommand command, String... files) throws SccException {
        return populateNames(command, NativeText.fileNames(files));
    }

    private PopulateResult populateNames(SccCommand command, String[] names)
            throws SccException {
        Objects.requireNonNull(command, "command");
        record Lists(long code, String[] keep, String[] drop) {}
        Connection.Fetched<Lists> fetched = connection.call(h -> {
            checkOpen();
            long code = JavaSCCInterface._populateList(h, command.number(), names.length, names);
            return new Lists(code, JavaSCCInterface._getPopulateList(h, 1),
                    JavaSCCInterface._getPopulateList(h, 0));
        });
        Lists lists = fetched.value();
        SccResult result = Connection.check(
                "populate " + command.name().toLowerCase(Locale.ROOT), lists.code(),
                fetched.messages());
        return new PopulateResult(result, readable(lists.keep()), readable(lists.drop()));
    }

    private static List<String> readable(String[] entries) {
        List<String> list = new ArrayList<>();
        if (entries != null) {
            for (String entry : entries) {
                list.add(entry == null ? ProviderMessage.UNREADABLE : entry);
            }
        }
        return list;
    }

    /**
     * Closes the project ({@code SccCloseProject}). Later calls do nothing.
     *
     * @throws SccException when the provider reports an error; the project counts as closed all
     *         the same
     */
    @Override
    public void close() throws SccException {
        record Closed(boolean called, long code) {}
        Connection.Fetched<Closed> fetched;
        try {
            fetched = connection.call(h -> open ? new Closed(true, closeLocked())
                                                : new Closed(false, 0));
        } catch (IllegalStateException closedConnection) {
            return; // closing the connection closed the project
        }
        if (fetched.value().called()) {
            Connection.check("close project", fetched.value().code(), fetched.messages());
        }
    }

    /**
     * The project texts and whether it is open.
     *
     * @return a description for logs
     */
    @Override
    public String toString() {
        return "Project[" + location + "]";
    }

    // --- used under the connection's call lock -------------------------------------------------

    boolean isOpenLocked() {
        return open;
    }

    long closeLocked() {
        open = false;
        return JavaSCCInterface._closeProject(handleForLockedUse());
    }

    private long handleForLockedUse() {
        return connection.handleLocked();
    }

    private void checkOpen() {
        if (!open) {
            throw new IllegalStateException("project " + location.projectName() + " is closed");
        }
    }

    interface ListCall {
        long run(long handle, long count, String[] names);
    }

    interface CommentCall {
        long run(long handle, long count, String[] names, String comment);
    }

    interface FileCall {
        long run(long handle, String name);
    }

    private SccResult listCommand(String operation, String[] names, ListCall call)
            throws SccException {
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, names.length, names);
        });
        return Connection.check(operation, fetched.value(), fetched.messages());
    }

    private SccResult commentCommand(String operation, String[] names, String comment,
            CommentCall call) throws SccException {
        String text = NativeText.comment(comment);
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, names.length, names, text);
        });
        return Connection.check(operation, fetched.value(), fetched.messages());
    }

    private SccResult fileCommand(String operation, String name, FileCall call)
            throws SccException {
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, name);
        });
        return Connection.check(operation, fetched.value(), fetched.messages());
    }
}
