package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.List;
import java.util.Locale;
import java.util.Objects;

/**
 * A project open on a {@link Connection}, and the file commands that work in it.
 *
 * <p>Every command over files comes in one family of three: {@code (Path...)},
 * {@code (Collection<Path>)} and {@code (String...)}, with the comment first where the command
 * takes one ({@code checkin("fix the greeting", file)}; null for no comment). Paths are made
 * absolute and normalised; strings reach the provider as they stand. Diff and properties work on
 * one file. A command returns a {@link CommandResult}: the provider's result when it is
 * {@link SccResult#OK} or informational (such as {@link SccResult#I_FILEDIFFERS} from a diff)
 * together with the messages the provider sent during that call, which are the output of history,
 * diff and properties. It throws {@link SccException} when the provider reports an error. Messages
 * also go to the connection's message listener.
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
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult get(Path... files) throws SccException {
        return listCommand("get", NativeText.fileNames(Arrays.asList(files)), JavaSCCInterface::_getFiles);
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult get(Collection<? extends Path> files) throws SccException {
        return listCommand("get", NativeText.fileNames(files), JavaSCCInterface::_getFiles);
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult get(String... files) throws SccException {
        return listCommand("get", NativeText.fileNames(files), JavaSCCInterface::_getFiles);
    }

    /**
     * Checks files out ({@code SccCheckout}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(String comment, Path... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(Arrays.asList(files)), comment, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(String comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(files), comment, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}).
     *
     * @param comment the comment, or null for none
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(String comment, String... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(files), comment, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files in ({@code SccCheckin}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(String comment, Path... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(Arrays.asList(files)), comment, JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(String comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(files), comment, JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}).
     *
     * @param comment the comment, or null for none
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(String comment, String... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(files), comment, JavaSCCInterface::_checkin);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(Path... files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(Arrays.asList(files)), JavaSCCInterface::_uncheckout);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(Collection<? extends Path> files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(files), JavaSCCInterface::_uncheckout);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(String... files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(files), JavaSCCInterface::_uncheckout);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type.
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(String comment, Path... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(Arrays.asList(files)), comment, JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type.
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(String comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("add", NativeText.fileNames(files), comment, JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type.
     *
     * @param comment the comment, or null for none
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(String comment, String... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(files), comment, JavaSCCInterface::_add);
    }

    /**
     * Removes files from source control ({@code SccRemove}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(String comment, Path... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(Arrays.asList(files)), comment, JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}).
     *
     * @param comment the comment, or null for none
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(String comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(files), comment, JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}).
     *
     * @param comment the comment, or null for none
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(String comment, String... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(files), comment, JavaSCCInterface::_remove);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(Path... files) throws SccException {
        return listCommand("history", NativeText.fileNames(Arrays.asList(files)), JavaSCCInterface::_history);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(Collection<? extends Path> files) throws SccException {
        return listCommand("history", NativeText.fileNames(files), JavaSCCInterface::_history);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(String... files) throws SccException {
        return listCommand("history", NativeText.fileNames(files), JavaSCCInterface::_history);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(Path... files) throws SccException {
        return listCommand("run", NativeText.fileNames(Arrays.asList(files)), JavaSCCInterface::_runScc);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(Collection<? extends Path> files) throws SccException {
        return listCommand("run", NativeText.fileNames(files), JavaSCCInterface::_runScc);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(String... files) throws SccException {
        return listCommand("run", NativeText.fileNames(files), JavaSCCInterface::_runScc);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file
     * @return the provider's result; many providers answer {@link SccResult#I_FILEDIFFERS} when the file differs, and send the differences as messages, and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult diff(Path file) throws SccException {
        return fileCommand("diff", NativeText.fileName(file), JavaSCCInterface::_diff);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file
     * @return the provider's result; many providers answer {@link SccResult#I_FILEDIFFERS} when the file differs, and send the differences as messages, and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult diff(String file) throws SccException {
        return fileCommand("diff", NativeText.fileName(file), JavaSCCInterface::_diff);
    }

    /**
     * The properties of a file ({@code SccProperties}); a provider without a user interface sends them as messages.
     *
     * @param file the file
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult properties(Path file) throws SccException {
        return fileCommand("properties", NativeText.fileName(file), JavaSCCInterface::_properties);
    }

    /**
     * The properties of a file ({@code SccProperties}); a provider without a user interface sends them as messages.
     *
     * @param file the file
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult properties(String file) throws SccException {
        return fileCommand("properties", NativeText.fileName(file), JavaSCCInterface::_properties);
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}). The library does not pass the
     * provider's result code of a status query on; a file the provider could not tell about has
     * the status word the provider left, typically {@link FileStatus#INVALID} or 0.
     *
     * @param files the files
     * @return one status per file, in the order given, and the messages of the call
     */
    public StatusResult status(Path... files) {
        return statusOf(NativeText.fileNames(Arrays.asList(files)));
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}).
     *
     * @param files the files
     * @return one status per file, in the order given, and the messages of the call
     */
    public StatusResult status(Collection<? extends Path> files) {
        return statusOf(NativeText.fileNames(files));
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}).
     *
     * @param files the file names, as they stand
     * @return one status per file, in the order given, and the messages of the call
     */
    public StatusResult status(String... files) {
        return statusOf(NativeText.fileNames(files));
    }

    private StatusResult statusOf(String[] names) {
        Connection.Fetched<int[]> fetched = connection.call(h -> {
            checkOpen();
            return JavaSCCInterface._queryInfo(h, names.length, names);
        });
        int[] words = fetched.value();
        if (words == null || words.length != names.length) {
            throw new IllegalStateException("the library gave no status words");
        }
        List<FileStatus> statuses = new ArrayList<>(names.length);
        for (int i = 0; i < names.length; i++) {
            statuses.add(new FileStatus(names[i], words[i]));
        }
        return new StatusResult(statuses, fetched.messages());
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

    /**
     * Lets the provider sort files for a command into a keep list and a drop list
     * ({@code SccPopulateList}).
     *
     * @param command the command the list is for
     * @param files the files
     * @return the provider's result and both lists
     * @throws SccException when the provider reports an error
     */
    public PopulateResult populate(SccCommand command, Path... files) throws SccException {
        return populateNames(command, NativeText.fileNames(Arrays.asList(files)));
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
        return new PopulateResult(result, readable(lists.keep()), readable(lists.drop()),
                fetched.messages());
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

    private CommandResult listCommand(String operation, String[] names, ListCall call)
            throws SccException {
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, names.length, names);
        });
        return result(operation, fetched);
    }

    private CommandResult commentCommand(String operation, String[] names, String comment,
            CommentCall call) throws SccException {
        String text = NativeText.comment(comment);
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, names.length, names, text);
        });
        return result(operation, fetched);
    }

    private CommandResult fileCommand(String operation, String name, FileCall call)
            throws SccException {
        Connection.Fetched<Long> fetched = connection.call(h -> {
            checkOpen();
            return call.run(h, name);
        });
        return result(operation, fetched);
    }

    private static CommandResult result(String operation, Connection.Fetched<Long> fetched)
            throws SccException {
        SccResult result = Connection.check(operation, fetched.value(), fetched.messages());
        return new CommandResult(operation, result, fetched.messages());
    }
}
