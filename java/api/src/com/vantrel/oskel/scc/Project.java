package com.vantrel.oskel.scc;

import com.vantrel.oskel.managedprojects.scci.JavaSCCInterface;
import com.vantrel.oskel.scc.internal.NativeBridge;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.List;
import java.util.Locale;
import java.util.Objects;
import java.util.Set;

/**
 * A project open on a {@link Connection}, and the file commands that work in it.
 *
 * <p>Every command over files comes in one family of three: {@code (Path...)},
 * {@code (Collection<Path>)} and {@code (String...)}. Commands that take a comment have each of
 * them twice more, with a {@link Comment} first ({@code checkin(Comment.of("fix the greeting"),
 * file)}): a comment is never a plain string, so a file name cannot be taken for one. Relative
 * names, paths and strings alike, are taken against the project's working folder (its
 * {@link ProjectLocation#localPath()}); names are made absolute and normalised. Diff and
 * properties work on one file. A command returns a {@link CommandResult}: the provider's result when it is
 * {@link SccResult#OK} or informational (such as {@link SccResult#I_FILEDIFFERS} from a diff)
 * together with the messages the provider sent during that call, which are the output of history,
 * diff and properties. It throws {@link SccException} when the provider reports an error. Messages
 * also go to the connection's message listener.
 *
 * <p>Beyond the file commands, a project reaches the provider's calls on folders
 * ({@link #dirStatus(Path...)}, {@link #dirList(Set, Path...)}, {@link #dirDiff(Path)}), renames
 * ({@link #rename(Path, Path)}) and name changes in the store ({@link #queryChanges(Path...)}),
 * adding files from the store ({@link #addFromScc()}) and the project's settings. Commands that
 * report lists return a {@link ListResult}.
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
        Path folder = null;
        try {
            folder = location.localPath().isEmpty() ? null
                                                    : Path.of(location.localPath()).toAbsolutePath();
        } catch (java.nio.file.InvalidPathException e) {
            // a working folder that is no path here: relative names stay as they are
        }
        this.base = folder;
    }

    /** What relative file names are taken against: the project's working folder. */
    private final Path base;

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
        return listCommand("get", NativeText.fileNames(base, Arrays.asList(files)), JavaSCCInterface::_getFiles);
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult get(Collection<? extends Path> files) throws SccException {
        return listCommand("get", NativeText.fileNames(base, files), JavaSCCInterface::_getFiles);
    }

    /**
     * Gets the latest versions of files ({@code SccGet}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult get(String... files) throws SccException {
        return listCommand("get", NativeText.fileNames(base, files), JavaSCCInterface::_getFiles);
    }

    /**
     * Checks files out ({@code SccCheckout}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(Comment comment, Path... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, Arrays.asList(files)), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(Comment comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}), with a comment.
     *
     * @param comment the comment
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(Comment comment, String... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(Path... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, Arrays.asList(files)), null, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(Collection<? extends Path> files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, files), null, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files out ({@code SccCheckout}), without a comment.
     *
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkout(String... files) throws SccException {
        return commentCommand("checkout", NativeText.fileNames(base, files), null, JavaSCCInterface::_checkout);
    }

    /**
     * Checks files in ({@code SccCheckin}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(Comment comment, Path... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, Arrays.asList(files)), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(Comment comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}), with a comment.
     *
     * @param comment the comment
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(Comment comment, String... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(Path... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, Arrays.asList(files)), null, JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(Collection<? extends Path> files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, files), null, JavaSCCInterface::_checkin);
    }

    /**
     * Checks files in ({@code SccCheckin}), without a comment.
     *
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult checkin(String... files) throws SccException {
        return commentCommand("checkin", NativeText.fileNames(base, files), null, JavaSCCInterface::_checkin);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(Path... files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(base, Arrays.asList(files)), JavaSCCInterface::_uncheckout);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(Collection<? extends Path> files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(base, files), JavaSCCInterface::_uncheckout);
    }

    /**
     * Undoes the check-out of files ({@code SccUncheckout}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult uncheckout(String... files) throws SccException {
        return listCommand("uncheckout", NativeText.fileNames(base, files), JavaSCCInterface::_uncheckout);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type. with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(Comment comment, Path... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, Arrays.asList(files)), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type. with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(Comment comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type. with a comment.
     *
     * @param comment the comment
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(Comment comment, String... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type., without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(Path... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, Arrays.asList(files)), null, JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type., without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(Collection<? extends Path> files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, files), null, JavaSCCInterface::_add);
    }

    /**
     * Puts files under source control ({@code SccAdd}); the provider decides each file's type., without a comment.
     *
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult add(String... files) throws SccException {
        return commentCommand("add", NativeText.fileNames(base, files), null, JavaSCCInterface::_add);
    }

    /**
     * Removes files from source control ({@code SccRemove}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(Comment comment, Path... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, Arrays.asList(files)), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}), with a comment.
     *
     * @param comment the comment
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(Comment comment, Collection<? extends Path> files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}), with a comment.
     *
     * @param comment the comment
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(Comment comment, String... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, files), Objects.requireNonNull(comment, "comment").text(), JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(Path... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, Arrays.asList(files)), null, JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}), without a comment.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(Collection<? extends Path> files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, files), null, JavaSCCInterface::_remove);
    }

    /**
     * Removes files from source control ({@code SccRemove}), without a comment.
     *
     * @param files the file names; relative ones are taken against the project's working folder
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult remove(String... files) throws SccException {
        return commentCommand("remove", NativeText.fileNames(base, files), null, JavaSCCInterface::_remove);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(Path... files) throws SccException {
        return listCommand("history", NativeText.fileNames(base, Arrays.asList(files)), JavaSCCInterface::_history);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(Collection<? extends Path> files) throws SccException {
        return listCommand("history", NativeText.fileNames(base, files), JavaSCCInterface::_history);
    }

    /**
     * The history of files ({@code SccHistory}); a provider without a user interface sends it as messages, which {@link CommandResult#text()} gives.
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult history(String... files) throws SccException {
        return listCommand("history", NativeText.fileNames(base, files), JavaSCCInterface::_history);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(Path... files) throws SccException {
        return listCommand("run", NativeText.fileNames(base, Arrays.asList(files)), JavaSCCInterface::_runScc);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the files
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(Collection<? extends Path> files) throws SccException {
        return listCommand("run", NativeText.fileNames(base, files), JavaSCCInterface::_runScc);
    }

    /**
     * Lets the provider open its own user interface on files ({@code SccRunScc}).
     *
     * @param files the file names, as they stand
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult runScc(String... files) throws SccException {
        return listCommand("run", NativeText.fileNames(base, files), JavaSCCInterface::_runScc);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file
     * @return the provider's result; many providers answer {@link SccResult#I_FILEDIFFERS} when the file differs, and send the differences as messages, and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult diff(Path file) throws SccException {
        return fileCommand("diff", NativeText.fileName(base, file), JavaSCCInterface::_diff);
    }

    /**
     * Compares a working file with its controlled version ({@code SccDiff}).
     *
     * @param file the file
     * @return the provider's result; many providers answer {@link SccResult#I_FILEDIFFERS} when the file differs, and send the differences as messages, and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult diff(String file) throws SccException {
        return fileCommand("diff", NativeText.fileName(base, file), JavaSCCInterface::_diff);
    }

    /**
     * The properties of a file ({@code SccProperties}); a provider without a user interface sends them as messages.
     *
     * @param file the file
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult properties(Path file) throws SccException {
        return fileCommand("properties", NativeText.fileName(base, file), JavaSCCInterface::_properties);
    }

    /**
     * The properties of a file ({@code SccProperties}); a provider without a user interface sends them as messages.
     *
     * @param file the file
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult properties(String file) throws SccException {
        return fileCommand("properties", NativeText.fileName(base, file), JavaSCCInterface::_properties);
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}). A failed query is thrown, never
     * read as files that are not controlled.
     *
     * @param files the files
     * @return one status per file, in the order given, and the messages of the call
     * @throws SccException when the provider reports an error; {@link SccResult#E_OPNOTSUPPORTED}
     *         when it does not support status queries
     */
    public StatusResult status(Path... files) throws SccException {
        return statusOf(NativeText.fileNames(base, Arrays.asList(files)));
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}).
     *
     * @param files the files
     * @return one status per file, in the order given, and the messages of the call
     * @throws SccException when the provider reports an error or does not support status queries
     */
    public StatusResult status(Collection<? extends Path> files) throws SccException {
        return statusOf(NativeText.fileNames(base, files));
    }

    /**
     * The source-control status of files ({@code SccQueryInfo}).
     *
     * @param files the file names, as they stand
     * @return one status per file, in the order given, and the messages of the call
     * @throws SccException when the provider reports an error or does not support status queries
     */
    public StatusResult status(String... files) throws SccException {
        return statusOf(NativeText.fileNames(base, files));
    }

    private StatusResult statusOf(String[] names) throws SccException {
        int[] words = new int[names.length];
        Connection.Fetched<Long> fetched = openCall(h -> NativeBridge.queryInfo(h, names, words));
        long code = fetched.value();
        if ((code == SccResult.E_OPNOTSUPPORTED.code() || code == SccResult.E_NONSPECIFICERROR.code())
                && !connection.has(Capability.QUERYINFO)) {
            // A provider without the capability that refuses (or lacks SccQueryInfo): say so.
            throw new SccException("status", SccResult.E_OPNOTSUPPORTED.code(),
                    fetched.messages(), "status: the provider does not support status queries"
                    + " (SccQueryInfo; it reports no SCC_CAP_QUERYINFO): SCC_E_OPNOTSUPPORTED"
                    + " (-14)");
        }
        Connection.check("status", code, fetched.messages());
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
        return populateNames(command, NativeText.fileNames(base, files));
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
        return populateNames(command, NativeText.fileNames(base, files));
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
        return populateNames(command, NativeText.fileNames(base, Arrays.asList(files)));
    }

    private PopulateResult populateNames(SccCommand command, String[] names)
            throws SccException {
        Objects.requireNonNull(command, "command");
        record Lists(long code, String[] keep, String[] drop) {}
        Connection.Fetched<Lists> fetched = openCall(h -> {
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

    // --- rename, folders, changes and the rest of the provider's project calls ---------------

    /**
     * Renames or moves a file in the store ({@code SccRename}); a provider with
     * {@link Capability#RENAME} offers it. The provider changes only the store: renaming the
     * working file is the caller's job, before or after.
     *
     * @param oldName the file's name now
     * @param newName its new name; another folder moves it
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult rename(Path oldName, Path newName) throws SccException {
        return renameNames(NativeText.fileName(base, oldName), NativeText.fileName(base, newName));
    }

    /**
     * Renames or moves a file in the store ({@code SccRename}).
     *
     * @param oldName the file's name now, as it stands
     * @param newName its new name, as it stands
     * @return the provider's result and the messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult rename(String oldName, String newName) throws SccException {
        return renameNames(NativeText.fileName(base, oldName), NativeText.fileName(base, newName));
    }

    private CommandResult renameNames(String oldName, String newName) throws SccException {
        Connection.Fetched<Long> fetched = openCall(h -> NativeBridge.rename(h, oldName, newName));
        return result("rename", fetched);
    }

    /**
     * The source-control status of folders ({@code SccDirQueryInfo}); a provider with
     * {@link Capability#DIRECTORYSTATUS} offers it.
     *
     * @param folders the folders
     * @return the provider's result, one status per folder in the order given, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FolderStatus> dirStatus(Path... folders) throws SccException {
        return dirStatusOf(NativeText.fileNames(base, Arrays.asList(folders)));
    }

    /**
     * The source-control status of folders ({@code SccDirQueryInfo}).
     *
     * @param folders the folders
     * @return the provider's result, one status per folder in the order given, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FolderStatus> dirStatus(Collection<? extends Path> folders)
            throws SccException {
        return dirStatusOf(NativeText.fileNames(base, folders));
    }

    /**
     * The source-control status of folders ({@code SccDirQueryInfo}).
     *
     * @param folders the folder names, as they stand
     * @return the provider's result, one status per folder in the order given, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FolderStatus> dirStatus(String... folders) throws SccException {
        return dirStatusOf(NativeText.fileNames(base, folders));
    }

    private ListResult<FolderStatus> dirStatusOf(String[] names) throws SccException {
        // The words go in as well as out: start them as "not controlled", as providers expect.
        int[] words = new int[names.length];
        Connection.Fetched<Long> fetched =
                openCall(h -> NativeBridge.dirQueryInfo(h, names, words));
        List<FolderStatus> statuses = new ArrayList<>(names.length);
        for (int i = 0; i < names.length; i++) {
            statuses.add(new FolderStatus(names[i], words[i]));
        }
        return listResult("dirstatus", fetched, statuses);
    }

    /**
     * The folders, and with {@link DirListOption#INCLUDE_FILES} the files, under source control
     * below folders ({@code SccPopulateDirList}); a provider with
     * {@link ExtendedCapability#POPULATELIST_DIR} offers it.
     *
     * @param options what to list; empty for one level of folders
     * @param folders the folders to look in
     * @return the provider's result, the items in the order reported, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<DirEntry> dirList(Set<DirListOption> options, Path... folders)
            throws SccException {
        return dirListOf(options, NativeText.fileNames(base, Arrays.asList(folders)));
    }

    /**
     * The folders (and files) under source control below folders ({@code SccPopulateDirList}).
     *
     * @param options what to list; empty for one level of folders
     * @param folders the folders to look in
     * @return the provider's result, the items in the order reported, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<DirEntry> dirList(Set<DirListOption> options,
            Collection<? extends Path> folders) throws SccException {
        return dirListOf(options, NativeText.fileNames(base, folders));
    }

    /**
     * The folders (and files) under source control below folders ({@code SccPopulateDirList}).
     *
     * @param options what to list; empty for one level of folders
     * @param folders the folder names, as they stand
     * @return the provider's result, the items in the order reported, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<DirEntry> dirList(Set<DirListOption> options, String... folders)
            throws SccException {
        return dirListOf(options, NativeText.fileNames(base, folders));
    }

    private ListResult<DirEntry> dirListOf(Set<DirListOption> options, String[] names)
            throws SccException {
        int word = DirListOption.encode(Objects.requireNonNull(options, "options"));
        List<DirEntry> items = new ArrayList<>();
        Connection.Fetched<Long> fetched =
                openCall(h -> NativeBridge.populateDirList(h, names, word, (folder, name) -> {
                    items.add(new DirEntry(NativeText.path(name), folder));
                    return true;
                }));
        return listResult("dirlist", fetched, items);
    }

    /**
     * Compares a working folder with its project in the store ({@code SccDirDiff}); a provider
     * with {@link Capability#DIRECTORYDIFF} offers it.
     *
     * @param folder the folder
     * @return the provider's result, {@link SccResult#I_FILEDIFFERS} when they differ, and the
     *         messages of the call, which a provider without a user interface fills with the
     *         differences
     * @throws SccException when the provider reports an error
     */
    public CommandResult dirDiff(Path folder) throws SccException {
        return dirDiffOf(NativeText.fileName(base, folder));
    }

    /**
     * Compares a working folder with its project in the store ({@code SccDirDiff}).
     *
     * @param folder the folder name, as it stands
     * @return the provider's result, {@link SccResult#I_FILEDIFFERS} when they differ, and the
     *         messages of the call
     * @throws SccException when the provider reports an error
     */
    public CommandResult dirDiff(String folder) throws SccException {
        return dirDiffOf(NativeText.fileName(base, folder));
    }

    private CommandResult dirDiffOf(String name) throws SccException {
        Connection.Fetched<Long> fetched = openCall(h -> NativeBridge.dirDiff(h, name, 0));
        return result("dirdiff", fetched);
    }

    /**
     * How the names of files changed in the store: renamed or moved, added, removed
     * ({@code SccQueryChanges}); a provider with {@link ExtendedCapability#QUERYCHANGES} offers
     * it.
     *
     * @param files the files
     * @return the provider's result, one change per file it reported on, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FileChange> queryChanges(Path... files) throws SccException {
        return changesOf(NativeText.fileNames(base, Arrays.asList(files)));
    }

    /**
     * How the names of files changed in the store ({@code SccQueryChanges}).
     *
     * @param files the files
     * @return the provider's result, one change per file it reported on, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FileChange> queryChanges(Collection<? extends Path> files)
            throws SccException {
        return changesOf(NativeText.fileNames(base, files));
    }

    /**
     * How the names of files changed in the store ({@code SccQueryChanges}).
     *
     * @param files the file names, as they stand
     * @return the provider's result, one change per file it reported on, and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<FileChange> queryChanges(String... files) throws SccException {
        return changesOf(NativeText.fileNames(base, files));
    }

    private ListResult<FileChange> changesOf(String[] names) throws SccException {
        List<FileChange> changes = new ArrayList<>();
        Connection.Fetched<Long> fetched =
                openCall(h -> NativeBridge.queryChanges(h, names, (name, type, latest) -> {
                    ChangeKind kind = ChangeKind.forNumber(type);
                    Path file = NativeText.path(name);
                    // Without a latest name, the file keeps its own, except for a rename whose
                    // other name did not convert.
                    Path latestName = latest != null || kind == ChangeKind.RENAMED_TO
                            || kind == ChangeKind.RENAMED_FROM ? NativeText.path(latest) : file;
                    changes.add(new FileChange(file, kind, latestName));
                    return true;
                }));
        return listResult("changes", fetched, changes);
    }

    /**
     * Lets the provider add files from the store to the project ({@code SccAddFromScc}),
     * typically through its own dialog; a provider with {@link Capability#ADDFROMSCC} offers it.
     *
     * @return the provider's result ({@link SccResult#I_OPERATIONCANCELED} when the user
     *         cancelled), the files added as the provider names them (the SCC API asks for names
     *         without folders; some providers give full paths), and the messages
     * @throws SccException when the provider reports an error
     */
    public ListResult<String> addFromScc() throws SccException {
        return addFromSccTo(null);
    }

    /**
     * Lets the provider add files from the store into a local folder of the project
     * ({@code SccAddFromScc} with a destination folder).
     *
     * @param destination the local folder the files go to
     * @return the provider's result, the files added as the provider names them, and the
     *         messages
     * @throws SccException when the provider reports an error
     * @throws UnsupportedOperationException when the provider takes no destination folder
     *         ({@link Connection#sharesSubProjects()} is false)
     */
    public ListResult<String> addFromScc(Path destination) throws SccException {
        return addFromSccTo(NativeText.fileName(base, destination));
    }

    private ListResult<String> addFromSccTo(String destination) throws SccException {
        record Added(Long code, String[] names) {}
        String[][] names = new String[1][];
        Connection.Fetched<Added> fetched = openCall(h -> {
            if (destination != null) {
                // Only a provider that answers yes here may be handed a destination folder.
                long answer = NativeBridge.setOption(h, SCC_OPT_SHARESUBPROJ, 0);
                if (answer != SccResult.I_SHARESUBPROJOK.code()) {
                    return new Added(null, null);
                }
            }
            return new Added(NativeBridge.addFromScc(h, destination, names), names[0]);
        });
        Added added = fetched.value();
        if (added.code() == null) {
            throw new UnsupportedOperationException(connection.providerName()
                    + " takes no destination folder for files added from source control");
        }
        SccResult result = Connection.check("addfromscc", added.code(), fetched.messages());
        return new ListResult<>("addfromscc", result, readable(added.names()),
                fetched.messages());
    }

    private static final int SCC_OPT_SHARESUBPROJ = 6;

    /**
     * Whether this project lets several users check a file out at once
     * ({@code SccIsMultiCheckoutEnabled}); a provider with {@link Capability#MULTICHECKOUT}
     * answers.
     *
     * @return the provider's answer
     * @throws SccException when the provider reports an error or lacks the entry point
     */
    public boolean isMultiCheckoutEnabled() throws SccException {
        boolean[] enabled = new boolean[1];
        Connection.Fetched<Long> fetched =
                openCall(h -> NativeBridge.isMultiCheckoutEnabled(h, enabled));
        Connection.check("multi-checkout", fetched.value(), fetched.messages());
        return enabled[0];
    }

    /**
     * Whether the provider will keep the source-control binding of files in a file of its own
     * beside them ({@code SccWillCreateSccFile}); a provider with {@link Capability#SCCFILE}
     * answers.
     *
     * @param files the files
     * @return one answer per file, in the order given
     * @throws SccException when the provider reports an error or lacks the entry point
     */
    public List<Boolean> willCreateSccFile(Path... files) throws SccException {
        return sccFilesOf(NativeText.fileNames(base, Arrays.asList(files)));
    }

    /**
     * Whether the provider will keep the source-control binding of files in a file of its own
     * ({@code SccWillCreateSccFile}).
     *
     * @param files the files
     * @return one answer per file, in the order given
     * @throws SccException when the provider reports an error or lacks the entry point
     */
    public List<Boolean> willCreateSccFile(Collection<? extends Path> files) throws SccException {
        return sccFilesOf(NativeText.fileNames(base, files));
    }

    /**
     * Whether the provider will keep the source-control binding of files in a file of its own
     * ({@code SccWillCreateSccFile}).
     *
     * @param files the file names, as they stand
     * @return one answer per file, in the order given
     * @throws SccException when the provider reports an error or lacks the entry point
     */
    public List<Boolean> willCreateSccFile(String... files) throws SccException {
        return sccFilesOf(NativeText.fileNames(base, files));
    }

    private List<Boolean> sccFilesOf(String[] names) throws SccException {
        boolean[] answers = new boolean[names.length];
        Connection.Fetched<Long> fetched =
                openCall(h -> NativeBridge.willCreateSccFile(h, names, answers));
        Connection.check("will create scc file", fetched.value(), fetched.messages());
        List<Boolean> list = new ArrayList<>(answers.length);
        for (boolean answer : answers) {
            list.add(answer);
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

    /** Runs one native call of this project, which must still be open when the call starts. */
    private <T> Connection.Fetched<T> openCall(Connection.NativeCall<T> call) {
        return connection.call(h -> {
            checkOpen();
            return call.run(h);
        });
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
        Connection.Fetched<Long> fetched = openCall(h -> call.run(h, names.length, names));
        return result(operation, fetched);
    }

    private CommandResult commentCommand(String operation, String[] names, String comment,
            CommentCall call) throws SccException {
        String text = NativeText.comment(comment);
        // The provider said how long a comment it takes (SccInitialize): a longer one is refused
        // here, before it could be cut or overrun; one that takes none gets none.
        int limit = operation.equals("checkout") ? connection.checkoutCommentLimit()
                                                 : connection.commentLimit();
        if (limit == 0) {
            text = null;
        } else if (text != null && limit > 0) {
            NativeText.check(text, operation + " comment", limit);
        }
        String passed = text;
        Connection.Fetched<Long> fetched = openCall(h -> call.run(h, names.length, names, passed));
        return result(operation, fetched);
    }

    private CommandResult fileCommand(String operation, String name, FileCall call)
            throws SccException {
        Connection.Fetched<Long> fetched = openCall(h -> call.run(h, name));
        return result(operation, fetched);
    }

    private static CommandResult result(String operation, Connection.Fetched<Long> fetched)
            throws SccException {
        SccResult result = Connection.check(operation, fetched.value(), fetched.messages());
        return new CommandResult(operation, result, fetched.messages());
    }

    private static <T> ListResult<T> listResult(String operation, Connection.Fetched<Long> fetched,
            List<T> items) throws SccException {
        SccResult result = Connection.check(operation, fetched.value(), fetched.messages());
        return new ListResult<>(operation, result, items, fetched.messages());
    }
}
