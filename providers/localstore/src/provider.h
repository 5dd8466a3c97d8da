// One provider context: what SccInitialize hands out and every other entry
// point receives. It knows the open project (working folder, store, user) and
// the text-out callback; the store on disk is read afresh by every command, so
// that several processes can share it.
#pragma once

#include "oskelsccih/scc_api.h"
#include "store.h"

#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace localstore {

// What SccInitialize reports.
constexpr char kProviderName[] = "LocalStore";
constexpr char kAuxPathLabel[] = "Store folder";
constexpr SCCLONG kCommentLength = 1024;
constexpr SCCLONG kVersion = (1 << 16) | 1;  // SCC API 1.1
constexpr SCCLONG kCapabilities =
    SCC_CAP_REMOVE | SCC_CAP_DIFF | SCC_CAP_HISTORY | SCC_CAP_PROPERTIES | SCC_CAP_RUNSCC | SCC_CAP_QUERYINFO |
    SCC_CAP_GETPROJPATH | SCC_CAP_COMMENTCHECKOUT | SCC_CAP_COMMENTCHECKIN | SCC_CAP_COMMENTADD |
    SCC_CAP_COMMENTREMOVE | SCC_CAP_TEXTOUT | SCC_CAP_HISTORY_MULTFILE | SCC_CAP_IGNORECASE |
    SCC_CAP_IGNORESPACE | SCC_CAP_POPULATELIST | SCC_CAP_DIFFALWAYS | SCC_CAP_GET_NOUI | SCC_CAP_RENAME |
    SCC_CAP_GETEVENTS | SCC_CAP_ADDFROMSCC | SCC_CAP_BATCH | SCC_CAP_CREATESUBPROJECT | SCC_CAP_GETPARENTPROJECT |
    SCC_CAP_DIRECTORYSTATUS | SCC_CAP_DIRECTORYDIFF | SCC_CAP_MULTICHECKOUT;

// Project paths of SccCreateSubProject and SccGetParentProjectPath hold this
// many bytes and the terminator.
constexpr size_t kProjectPathLimit = 300;

// A batch (SccBeginBatch to SccEndBatch) belongs to the process, not to one
// context: every store that a command of the batch touches is locked once, at
// its first command, and kept locked, its index kept in memory, until the end
// of the batch, which saves what the batch changed.
SCCRTN beginBatch();
SCCRTN endBatch();
// One store of the running batch: its lock, held since the batch's first
// command on it, the index as the batch has changed it, the working-folder
// records, and the store paths to journal at the end.
struct BatchStore {
    std::mutex mutex;
    std::string folder;
    sys::FileLock lock;
    bool exclusive = false;
    Index index;
    bool dirty = false;
    std::map<std::string, Workspace> workspaces;  // by record path
    std::vector<Store::JournalLine> changed;  // to journal at the end, with the context that changed it
};

// Name of the store folder proposed inside a working folder.
constexpr char kDefaultStoreName[] = ".localstore";

class Provider {
public:
    explicit Provider(const char *callerName);

    SCCRTN getProjPath(char *user, char *projectName, char *localPath, char *auxPath, SCCBOOL allowChangePath,
                       SCCBOOL *isNew);
    SCCRTN openProject(char *user, char *projectName, const char *localPath, char *auxPath, const char *comment,
                       LPTEXTOUTPROC textOut, SCCLONG flags);
    SCCRTN closeProject();

    SCCRTN get(SCCLONG count, const char **names);
    SCCRTN checkout(SCCLONG count, const char **names, const char *comment);
    SCCRTN checkin(SCCLONG count, const char **names, const char *comment, SCCLONG flags);
    SCCRTN uncheckout(SCCLONG count, const char **names);
    SCCRTN add(SCCLONG count, const char **names, const char *comment, const SCCLONG *flags);
    SCCRTN remove(SCCLONG count, const char **names, const char *comment);
    SCCRTN diff(const char *name, SCCLONG flags);
    SCCRTN history(SCCLONG count, const char **names);
    SCCRTN properties(const char *name);
    SCCRTN queryInfo(SCCLONG count, const char **names, SCCLONG *status);
    SCCRTN runScc(SCCLONG count, const char **names);
    SCCRTN populateList(int command, SCCLONG count, const char **names, POPLISTFUNC populate, void *callerData,
                        SCCLONG *status, SCCLONG flags);

    SCCRTN rename(const char *oldName, const char *newName);
    SCCRTN setOption(SCCLONG option, SCCOPTVALUE value);
    SCCRTN getEvents(char *fileName, SCCLONG *status, SCCLONG *remaining);
    SCCRTN extendedCapability(SCCLONG capability, SCCBOOL *supported) const;
    SCCRTN addFromScc(SCCLONG *count, const char ***names);
    SCCRTN userOption(SCCLONG option, SCCLONG *value);
    SCCRTN createSubProject(char *user, const char *parentPath, const char *name, char *auxPath, char *subPath);
    SCCRTN parentProjectPath(char *user, const char *projectPath, char *auxPath, char *parentPath);
    SCCRTN dirQueryInfo(SCCLONG count, const char **dirs, SCCLONG *status);
    SCCRTN dirDiff(const char *dir, SCCLONG flags);
    SCCRTN queryChanges(SCCLONG count, const char **names, QUERYCHANGESFUNC callback, void *callerData);
    SCCRTN populateDirList(SCCLONG count, const char **dirs, POPDIRLISTFUNC callback, void *callerData,
                           SCCLONG options);
    SCCRTN multiCheckoutEnabled(SCCBOOL *enabled);
    SCCRTN willCreateSccFile(SCCLONG count, const char **names, SCCBOOL *sccFiles);

    // Sends one message through the text-out callback, if there is one.
    void message(SCCLONG type, const std::string &text) const;

private:
    // A file name of a command, resolved against the working folder.
    struct Target {
        std::string given;     // as the caller wrote it
        std::string relative;  // below the working folder, '/'-separated: the store's name of the file
        std::string path;      // absolute path of the working file
        SCCLONG position = 0;  // index in the caller's list
    };

    // What a look at one working file found.
    struct Working {
        bool exists = false;
        bool regular = false;
        bool modified = false;  // differs from every version it could be a copy of
        int base = 0;           // the version the content is (or was taken from); 0 unknown
        bool unreadable = false;
        uint64_t size = 0;
    };

    // One command's view of the store: its lock, the index and the record
    // of this working folder, read under the lock.
    // In a batch the lock is the batch's, and the index a copy of the one the
    // batch keeps (a failed command leaves the batch's copy as it was).
    struct Session {
        sys::FileLock lock;
        Index index;
        Workspace workspace;
        Settings settings;
        BatchStore *batch = nullptr;
        std::unique_lock<std::mutex> batchGuard;
    };

    // The problems a command found; reported as error messages, the first
    // one's code is the command's result.
    class Problems {
    public:
        void add(SCCRTN code, std::string text) { list_.push_back({code, std::move(text)}); }
        bool empty() const { return list_.empty(); }
        SCCRTN report(const Provider &provider) const;

    private:
        std::vector<std::pair<SCCRTN, std::string>> list_;
    };

    bool requireProject() const;
    bool checkNames(SCCLONG count, const char **names, SCCRTN &result) const;
    // Folders (relative, '/'-separated) already found not to be links, so
    // that a command on many files in few folders examines each folder once.
    using PlainFolders = std::unordered_set<std::string>;
    bool resolve(const char *name, Target &target, std::string &problem, PlainFolders *plain = nullptr) const;
    // A folder of the project: as resolve, but the working folder itself is
    // allowed (relative path ""); the store folder and what lies in it are not.
    bool resolveFolder(const char *name, Target &target, std::string &problem) const;
    // The working path of a store path, false for one outside this (sub-)project.
    bool localPathOf(const std::string &storePath, std::string &path) const;
    // False when a symbolic link between the working folder and the file (the
    // file included) leads out of the project or into the store.
    bool linksStayInside(const Target &target, PlainFolders *plain = nullptr) const;
    // Resolves every name, dropping repeats; problems go to `problems`.
    std::vector<Target> resolveAll(SCCLONG count, const char **names, Problems &problems) const;
    // The store's settings as they are now, for a call that needs the project
    // open: SCC_OK, else the code of the problem, which is reported.
    SCCRTN projectSettings(Settings &settings) const;
    SCCRTN begin(Session &session, bool write) const;
    // The start of a command that only reads: the store opened, its lock let go
    // as soon as the index is read. With `letBatchGo` the commands of a running
    // batch may go on as well (for the commands that call back into the caller).
    SCCRTN beginReading(Session &session, bool letBatchGo) const;
    // Opens the store in `folder`, which may be another project's, and finds
    // the folder of `projectPath` in it; SCC_OK to go on, the problem reported
    // otherwise. This context keeps its own store.
    SCCRTN beginProjectIn(const std::string &folder, const char *projectPath, bool write, Session &session,
                          std::string &projectFolder);
    // The start most file commands share: the names checked and resolved (a
    // problem with any name stops the command), then the store opened, for
    // writing when `write`. SCC_OK to go on.
    SCCRTN startCommand(SCCLONG count, const char **names, bool write,
                        std::vector<Target> &targets, Session &session) const;
    // Saves the index and journals `changed` (store paths); in a batch the
    // batch keeps both until its end.
    // `failure` opens the error message when the save fails: by default
    // "Nothing was changed", which only a command that has not yet touched
    // a working file may say.
    SCCRTN saveIndex(Session &session, const std::vector<std::string> &changed,
                     const char *failure = "Nothing was changed") const;
    static std::vector<std::string> storePaths(const std::vector<Target> &targets);
    void saveWorkspace(Session &session) const;

    Working examine(const FileRecord &record, const Workspace &workspace, const std::string &path) const;
    SCCLONG statusOf(const FileRecord *record, const Working &working) const;
    bool mine(const Checkout &checkout) const;
    std::string holder(const Checkout &checkout) const;
    // This user's check-out from this working folder, and the first other one.
    const Checkout *myCheckout(const FileRecord &record) const;
    const Checkout *otherCheckout(const FileRecord &record) const;
    // With cancel mode on: asks the caller whether to stop (true = stop).
    bool cancelled() const;
    // Follows the journal of the store; queues status changes of watched files.
    void followJournal();
    void watch(const std::string &relative, SCCLONG status);
    // Fetches the files; `cancellable` with cancel mode on.
    SCCRTN getFiles(SCCLONG count, const char **names, bool cancellable, std::vector<std::string> *fetched);
    // Compares one working file with the latest version; the lines of a
    // unified diff go through text-out unless `quiet`.
    SCCRTN compareFile(const FileRecord &record, const Target &target, SCCLONG flags, bool quiet) const;
    void remember(Workspace &workspace, const FileRecord &record, int version, const std::string &path,
                  uint64_t hash) const;
    bool writeWorking(const std::string &path, const std::string &data, bool readOnly, sys::Error &error) const;

    std::string callerName_;
    LPTEXTOUTPROC textOut_ = nullptr;
    bool open_ = false;
    std::string user_;
    std::string project_;
    std::string root_;   // the working folder, absolute
    std::string store_;  // the store folder, absolute
    std::string realRoot_;  // both with their links resolved
    std::string realStore_;
    // A sub-project's folder below the store's top ('/'-separated, ending in
    // '/'); empty for the top project. Store paths are prefix + relative path.
    std::string prefix_;
    // The working folder of the top project as check-outs record it.
    std::string topRoot_;
    mutable Settings settings_;  // as the last command read them

    // Options of SccSetOption.
    bool eventQueue_ = true;
    bool cancelMode_ = false;
    bool checkoutOnly_ = false;
    void *userData_ = nullptr;
    OPTNAMECHANGEPFN nameChange_ = nullptr;

    // The event queue: files asked about through SccQueryInfo with the status
    // last reported, the journal read so far, and changes not yet taken.
    struct Watched {
        std::string relative;  // store path
        SCCLONG status = 0;
    };
    std::unordered_map<std::string, Watched> watched_;  // by sys::pathKey
    std::deque<std::pair<std::string, SCCLONG>> events_;  // working path, status
    std::string journalStart_;
    uint64_t journalOffset_ = 0;
    uint64_t journalSeen_ = 0;  // its size at the last look
    std::string writer_;        // this context in the journal

    // The array of SccAddFromScc, kept until the second call frees it.
    std::vector<std::string> addedNames_;
    std::vector<const char *> addedPointers_;
};

} // namespace localstore
