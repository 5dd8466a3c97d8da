// One provider context: what SccInitialize hands out and every other entry
// point receives. It knows the open project (working folder, store, user) and
// the text-out callback; the store on disk is read afresh by every command, so
// that several processes can share it.
#pragma once

#include "oskelsccih/scc_api.h"
#include "store.h"

#include <string>
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
    SCC_CAP_IGNORESPACE | SCC_CAP_POPULATELIST | SCC_CAP_DIFFALWAYS | SCC_CAP_GET_NOUI;

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
    struct Session {
        sys::FileLock lock;
        Index index;
        Workspace workspace;
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
    // False when a symbolic link between the working folder and the file (the
    // file included) leads out of the project or into the store.
    bool linksStayInside(const Target &target, PlainFolders *plain = nullptr) const;
    // Resolves every name, dropping repeats; problems go to `problems`.
    std::vector<Target> resolveAll(SCCLONG count, const char **names, Problems &problems) const;
    SCCRTN begin(Session &session, bool write) const;
    // The start most file commands share: the names checked and resolved (a
    // problem with any name stops the command), then the store opened, for
    // writing when `write`. SCC_OK to go on.
    SCCRTN startCommand(SCCLONG count, const char **names, bool write,
                        std::vector<Target> &targets, Session &session) const;
    SCCRTN saveIndex(Session &session) const;
    void saveWorkspace(Session &session) const;

    Working examine(const FileRecord &record, const Workspace &workspace, const std::string &path) const;
    SCCLONG statusOf(const FileRecord *record, const Working &working) const;
    bool mine(const Checkout &checkout) const;
    std::string holder(const Checkout &checkout) const;
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
};

} // namespace localstore
