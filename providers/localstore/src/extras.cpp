// The entry points beyond the file commands: rename, options, the event
// queue, capabilities, adding from the store, user options, sub-projects,
// folders, name-space changes, multiple check-outs and binding files.
#include "provider.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace localstore {

namespace {

std::string textOf(const char *text) {
    return text ? std::string(text) : std::string();
}

bool fits(const std::string &text, size_t limit) {
    return text.size() <= limit && text.find('\0') == std::string::npos;
}

void copyOut(char *buffer, const std::string &text) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

// Whether `path` lies below the store folder `folder` ("" is the top).
bool below(const std::string &folder, const std::string &path) {
    if (folder.empty()) {
        return true;
    }
    return path.size() > folder.size() + 1 && path[folder.size()] == '/' &&
           sys::pathKey(path.substr(0, folder.size())) == sys::pathKey(folder);
}

// Calls `visit` with every file the store keeps below the store folder `folder`
// ("" for all), in index order; removed files are left out.
template <typename Visit> void eachFileBelow(const Index &index, const std::string &folder, Visit visit) {
    for (const FileRecord &record : index.files) {
        if (!record.removed && below(folder, record.path)) {
            visit(record);
        }
    }
}

// A sub-project name: one folder name, nothing that leads elsewhere.
bool usableFolderName(const std::string &name) {
    if (name.empty() || name == "." || name == ".." || !fits(name, kProjectPathLimit)) {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == '/' || c == '\\' || c == ':' || c == 0x7f) {
            return false;
        }
    }
    return true;
}

// The folder of `project` (a project path) below the store's top project:
// "" for the top, the sub-project's folder otherwise; false for one the index
// does not know.
bool folderOfProject(const Index &index, const std::string &project, std::string &folder) {
    if (project == index.project) {
        folder.clear();
        return true;
    }
    const std::string top = index.project + "/";
    if (project.compare(0, top.size(), top) == 0 && index.hasSubproject(project.substr(top.size()))) {
        folder = project.substr(top.size());
        return true;
    }
    return false;
}

} // namespace

// --- rename -----------------------------------------------------------------------------

SCCRTN Provider::rename(const char *oldName, const char *newName) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    Target from, to;
    std::string problem;
    if (!resolve(oldName, from, problem) || !resolve(newName, to, problem)) {
        message(SCC_MSG_ERROR, problem);
        return SCC_E_INVALIDFILEPATH;
    }
    Session session;
    SCCRTN result = begin(session, true);
    if (result != SCC_OK) {
        return result;
    }
    FileRecord *record = session.index.find(from.relative);
    if (!record || record->removed) {
        message(SCC_MSG_ERROR, from.given + ": is not under source control.");
        return SCC_E_FILENOTCONTROLLED;
    }
    if (from.relative == to.relative) {
        message(SCC_MSG_ERROR, to.given + ": is the file's name already.");
        return SCC_E_OPNOTPERFORMED;
    }
    const FileRecord *taken = session.index.find(to.relative);
    if (taken && taken != record) {
        message(SCC_MSG_ERROR, to.given + (taken->removed ? ": a removed file of this name keeps its history there."
                                                           : ": is under source control already."));
        return SCC_E_FILEALREADYEXISTS;
    }
    if (const Checkout *other = otherCheckout(*record)) {
        // Their working file keeps the old name until they check it in.
        message(SCC_MSG_ERROR, from.given + ": is checked out by " + holder(*other) + ".");
        return SCC_E_FILEISCHECKEDOUT;
    }
    session.index.rename(*record, to.relative, sys::utcStamp(sys::now()), user_);
    if ((result = saveIndex(session, {from.relative, to.relative})) != SCC_OK) {
        return result;
    }
    // The working file is the caller's to rename; what the record of this
    // folder knows about it (by file id) holds for the new name as well.
    message(SCC_MSG_INFO, from.relative.substr(prefix_.size()) + " is now " + to.relative.substr(prefix_.size()) +
                              ", with its history.");
    if (nameChange_) {
        nameChange_(userData_, from.path.c_str(), to.path.c_str());
    }
    return SCC_OK;
}

// --- options and capabilities ----------------------------------------------------------------

SCCRTN Provider::setOption(SCCLONG option, SCCOPTVALUE value) {
    switch (option) {
    case SCC_OPT_EVENTQUEUE:
        eventQueue_ = value != SCC_OPT_EQ_DISABLE;
        return SCC_OK;
    case SCC_OPT_USERDATA:
        userData_ = reinterpret_cast<void *>(value);
        return SCC_OK;
    case SCC_OPT_HASCANCELMODE:
        cancelMode_ = value == SCC_OPT_HCM_YES;
        return SCC_OK;
    case SCC_OPT_NAMECHANGEPFN:
        nameChange_ = reinterpret_cast<OPTNAMECHANGEPFN>(value);
        return SCC_OK;
    case SCC_OPT_SCCCHECKOUTONLY:
        // Check-outs happen only through the entry points anyway: there is no
        // user interface of the provider's own to take them elsewhere.
        checkoutOnly_ = value == SCC_OPT_SCO_YES;
        return SCC_OK;
    case SCC_OPT_SHARESUBPROJ:
        return SCC_I_SHARESUBPROJOK;  // SccAddFromScc takes a destination folder
    default:
        return SCC_E_OPNOTSUPPORTED;
    }
}

SCCRTN Provider::extendedCapability(SCCLONG capability, SCCBOOL *supported) const {
    if (!supported) {
        return SCC_E_NONSPECIFICERROR;
    }
    switch (capability) {
    case SCC_EXCAP_POPULATELIST_DIR:
    case SCC_EXCAP_QUERYCHANGES:
    case SCC_EXCAP_ADD_FILES_FROM_SCC:
    case SCC_EXCAP_GET_USER_OPTIONS:
    case SCC_EXCAP_RENAME_CHECKEDOUT:  // when it is checked out by this user alone
        *supported = 1;
        break;
    default:
        // No check-out option, background get, changed-file enumeration,
        // folder removal, removal of checked-out files, and SccQueryInfo uses
        // the context's state (the event queue), so it is not thread-safe.
        *supported = 0;
        break;
    }
    return SCC_OK;
}

SCCRTN Provider::projectSettings(Settings &settings) const {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    sys::Error error;
    std::string problem;
    if (!Store(store_).loadSettings(settings, error, problem)) {
        message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
        return SCC_E_NONSPECIFICERROR;
    }
    return SCC_OK;
}

SCCRTN Provider::userOption(SCCLONG option, SCCLONG *value) {
    if (!value) {
        return SCC_E_NONSPECIFICERROR;
    }
    if (option != SCC_USEROPT_CHECKOUT_LOCALVER) {
        return SCC_E_OPNOTSUPPORTED;
    }
    Settings settings;
    const SCCRTN result = projectSettings(settings);
    if (result == SCC_OK) {
        *value = settings.checkoutLocalVersion ? SCC_USEROPT_COLV_YES : SCC_USEROPT_COLV_NO;
    }
    return result;
}

SCCRTN Provider::multiCheckoutEnabled(SCCBOOL *enabled) {
    if (!enabled) {
        return SCC_E_NONSPECIFICERROR;
    }
    Settings settings;
    const SCCRTN result = projectSettings(settings);
    if (result == SCC_OK) {
        *enabled = settings.multiCheckout ? 1 : 0;
    }
    return result;
}

SCCRTN Provider::willCreateSccFile(SCCLONG count, const char **names, SCCBOOL *sccFiles) {
    if (count < 0 || (count > 0 && (!names || !sccFiles))) {
        return SCC_E_NONSPECIFICERROR;
    }
    // The binding of a project lives in the store and in what the caller keeps
    // (user, project, working folder, store folder): no file is ever written
    // into a working folder for it.
    for (SCCLONG i = 0; i < count; ++i) {
        sccFiles[i] = 0;
        if (!names[i] || !*names[i]) {
            return SCC_E_INVALIDFILEPATH;
        }
    }
    return SCC_OK;
}

// --- the event queue ---------------------------------------------------------------------

void Provider::watch(const std::string &relative, SCCLONG status) {
    Watched &entry = watched_[sys::pathKey(relative)];
    entry.relative = relative;
    entry.status = status;
}

void Provider::followJournal() {
    Store store(store_);
    const uint64_t size = store.journalSize();
    if (size == journalSeen_) {
        return;  // nothing changed: one stat
    }
    journalSeen_ = size;
    std::vector<Store::JournalLine> lines;
    bool restarted = false;
    if (!store.readJournal(journalStart_, journalOffset_, lines, restarted)) {
        return;
    }
    std::set<std::string> touched;
    for (const Store::JournalLine &line : lines) {
        const std::string key = sys::pathKey(line.path);
        if (line.writer != writer_ && watched_.count(key)) {
            touched.insert(key);
        }
    }
    if (restarted) {
        // Lines may have gone with the old journal: look at every watched file.
        for (const auto &entry : watched_) {
            touched.insert(entry.first);
        }
    }
    if (touched.empty()) {
        return;
    }
    Session session;
    if (beginReading(session, false) != SCC_OK) {
        return;
    }
    for (const std::string &key : touched) {
        Watched &entry = watched_[key];
        std::string path;
        if (!localPathOf(entry.relative, path)) {
            continue;
        }
        const FileRecord *record = session.index.find(entry.relative);
        const SCCLONG status =
            record ? statusOf(record, examine(*record, session.workspace, path)) : SCC_STATUS_NOTCONTROLLED;
        if (status != entry.status) {
            entry.status = status;
            events_.emplace_back(path, status);
        }
    }
}

SCCRTN Provider::getEvents(char *fileName, SCCLONG *status, SCCLONG *remaining) {
    if (!fileName || !status || !remaining) {
        return SCC_E_NONSPECIFICERROR;
    }
    fileName[0] = '\0';
    *status = 0;
    *remaining = 0;
    if (!open_) {
        return SCC_OK;
    }
    if (eventQueue_ && events_.empty()) {
        followJournal();
    }
    while (!events_.empty()) {
        auto event = std::move(events_.front());
        events_.pop_front();
        if (fits(event.first, SCC_EVENT_NAME_SIZE - 1)) {
            copyOut(fileName, event.first);
            *status = event.second;
            break;
        }
        message(SCC_MSG_WARNING, event.first + ": changed, but the name is too long for the event queue.");
    }
    *remaining = static_cast<SCCLONG>(events_.size());
    return SCC_OK;
}

// --- adding from the store -----------------------------------------------------------------

SCCRTN Provider::addFromScc(SCCLONG *count, const char ***names) {
    if (!count) {
        addedPointers_.clear();
        addedNames_.clear();
        return SCC_OK;
    }
    if (!names) {
        return SCC_E_NONSPECIFICERROR;
    }
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    // There is nothing to browse without a user interface: the choice is every
    // file of the store (below the destination folder, when one is given) that
    // is missing from the working folder. They are got into their places, so
    // that they stay under source control.
    Target folder;
    folder.relative = prefix_.empty() ? "" : prefix_.substr(0, prefix_.size() - 1);
    if (*count == 1 && *names && (*names)[0]) {
        std::string problem;
        if (!resolveFolder((*names)[0], folder, problem)) {
            message(SCC_MSG_ERROR, problem);
            return SCC_E_INVALIDFILEPATH;
        }
    }
    *count = 0;
    *names = nullptr;
    std::vector<std::string> missing;
    {
        Session session;
        SCCRTN result = begin(session, false);
        if (result != SCC_OK) {
            return result;
        }
        for (const FileRecord &record : session.index.files) {
            std::string path;
            sys::FileInfo info;
            sys::Error error;
            if (!record.removed && below(folder.relative, record.path) && localPathOf(record.path, path) &&
                sys::statFile(path, info, error) && !info.exists) {
                missing.push_back(path);
            }
        }
    }
    std::vector<const char *> pointers;
    for (const std::string &path : missing) {
        pointers.push_back(path.c_str());
    }
    std::vector<std::string> fetched;
    SCCRTN result = SCC_OK;
    if (!missing.empty()) {
        result = getFiles(static_cast<SCCLONG>(pointers.size()), pointers.data(), true, &fetched);
    }
    if (result != SCC_OK && result != SCC_I_OPERATIONCANCELED) {
        return result;
    }
    addedNames_ = std::move(fetched);
    addedPointers_.clear();
    for (const std::string &path : addedNames_) {
        addedPointers_.push_back(path.c_str());
    }
    *count = static_cast<SCCLONG>(addedPointers_.size());
    *names = addedPointers_.empty() ? nullptr : addedPointers_.data();
    return result;
}

// --- sub-projects ---------------------------------------------------------------------

SCCRTN Provider::beginProjectIn(const std::string &folder, const char *projectPath, bool write, Session &session,
                                std::string &projectFolder) {
    const std::string savedStore = store_;
    store_ = folder;
    const SCCRTN result = Store(folder).exists() ? begin(session, write) : SCC_E_UNKNOWNPROJECT;
    store_ = savedStore;
    if (result != SCC_OK) {
        if (result == SCC_E_UNKNOWNPROJECT) {
            message(SCC_MSG_ERROR, "There is no store in " + folder + ".");
        }
        return result;
    }
    if (!folderOfProject(session.index, projectPath, projectFolder)) {
        message(SCC_MSG_ERROR, "The store in " + folder + " has no project " + projectPath + ".");
        return SCC_E_UNKNOWNPROJECT;
    }
    return SCC_OK;
}

SCCRTN Provider::createSubProject(char *user, const char *parentPath, const char *name, char *auxPath,
                                  char *subPath) {
    if (!user || !parentPath || !name || !auxPath || !subPath) {
        message(SCC_MSG_ERROR, "The project texts are missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    if (!usableFolderName(name)) {
        message(SCC_MSG_ERROR, "\"" + textOf(name) + "\" cannot name a sub-project folder.");
        return SCC_E_PROJSYNTAXERR;
    }
    std::string folder;
    if (!*auxPath || !sys::absolutePath(auxPath, folder)) {
        message(SCC_MSG_ERROR, "The store folder of the parent project is missing.");
        return SCC_E_INVALIDFILEPATH;
    }
    if (!*user) {
        const std::string login = sys::userName();
        if (login.empty() || !fits(login, SCC_USER_LEN)) {
            message(SCC_MSG_ERROR, "The user name is unknown.");
            return SCC_E_INVALIDUSER;
        }
        copyOut(user, login);
    }
    // The store of this context's project, or another one.
    Session session;
    std::string parentFolder;
    const SCCRTN result = beginProjectIn(folder, parentPath, true, session, parentFolder);
    if (result != SCC_OK) {
        return result;
    }
    // A name in use gets a number: name_2, name_3, ...
    const std::string base = (parentFolder.empty() ? "" : parentFolder + "/") + name;
    std::string relative = base;
    for (int n = 2; session.index.hasSubproject(relative) || session.index.find(relative); ++n) {
        relative = base + "_" + std::to_string(n);
    }
    const std::string projectPath = session.index.project + "/" + relative;
    if (!fits(projectPath, kProjectPathLimit)) {
        message(SCC_MSG_ERROR, "The project path " + projectPath + " is too long.");
        return SCC_E_PROJSYNTAXERR;
    }
    session.index.subprojects.push_back(relative);
    Store store(folder);
    if (session.batch) {
        session.batch->index = session.index;
        session.batch->dirty = true;
    } else {
        sys::Error error;
        if (!store.save(session.index, error)) {
            message(SCC_MSG_ERROR, "No sub-project was made: " + error.text);
            return SCC_E_COULDNOTCREATEPROJECT;
        }
    }
    copyOut(subPath, projectPath);
    // With the parent open here, the sub-project's folder is made as well.
    std::string local;
    sys::Error error;
    if (open_ && sys::pathKey(store_) == sys::pathKey(folder) && localPathOf(relative + "/x", local)) {
        sys::makeDirectories(sys::parentOf(local), error);
    }
    message(SCC_MSG_INFO, "Made the sub-project " + projectPath + ".");
    return SCC_OK;
}

SCCRTN Provider::parentProjectPath(char *user, const char *projectPath, char *auxPath, char *parentPath) {
    if (!user || !projectPath || !auxPath || !parentPath) {
        message(SCC_MSG_ERROR, "The project texts are missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    std::string folder;
    if (!*auxPath || !sys::absolutePath(auxPath, folder)) {
        message(SCC_MSG_ERROR, "The store folder of the project is missing.");
        return SCC_E_INVALIDFILEPATH;
    }
    Session session;
    std::string sub;
    const SCCRTN result = beginProjectIn(folder, projectPath, false, session, sub);
    if (result != SCC_OK) {
        return result;
    }
    std::string parent = projectPath;  // a top project is its own parent
    if (!sub.empty()) {
        const size_t slash = sub.rfind('/');
        parent = session.index.project + (slash == std::string::npos ? "" : "/" + sub.substr(0, slash));
    }
    copyOut(parentPath, parent);
    return SCC_OK;
}

// --- folders ---------------------------------------------------------------------------

SCCRTN Provider::dirQueryInfo(SCCLONG count, const char **dirs, SCCLONG *status) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    if (count < 0 || (count > 0 && (!dirs || !status))) {
        message(SCC_MSG_ERROR, "The list of folders or of status words is missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    for (SCCLONG i = 0; i < count; ++i) {
        status[i] = SCC_DIRSTATUS_INVALID;
    }
    Session session;
    const SCCRTN result = beginReading(session, false);
    if (result != SCC_OK) {
        return result;
    }
    // Every folder that holds a controlled file, at any depth.
    std::set<std::string> used;
    eachFileBelow(session.index, "", [&](const FileRecord &record) {
        used.insert("");
        for (size_t slash = record.path.find('/'); slash != std::string::npos;
             slash = record.path.find('/', slash + 1)) {
            used.insert(sys::pathKey(record.path.substr(0, slash)));
        }
    });
    for (SCCLONG i = 0; i < count; ++i) {
        Target folder;
        std::string problem;
        if (!resolveFolder(dirs[i], folder, problem)) {
            continue;
        }
        if (used.count(sys::pathKey(folder.relative))) {
            status[i] = SCC_DIRSTATUS_CONTROLLED;
        } else if (folder.relative.empty() || session.index.hasSubproject(folder.relative)) {
            status[i] = SCC_DIRSTATUS_CONTROLLED | SCC_DIRSTATUS_EMPTYPROJ;
        } else {
            status[i] = SCC_DIRSTATUS_NOTCONTROLLED;
        }
    }
    return SCC_OK;
}

SCCRTN Provider::populateDirList(SCCLONG count, const char **dirs, POPDIRLISTFUNC callback, void *callerData,
                                 SCCLONG options) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    if (count < 0 || (count > 0 && !dirs)) {
        message(SCC_MSG_ERROR, "The list of folders is missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    Session session;
    const SCCRTN result = beginReading(session, true);
    if (result != SCC_OK) {
        return result;
    }
    const bool recursive = (options & SCC_PDL_RECURSIVE) != 0;
    const bool files = (options & SCC_PDL_INCLUDEFILES) != 0;
    for (SCCLONG i = 0; i < count; ++i) {
        Target folder;
        std::string problem;
        if (!resolveFolder(dirs[i], folder, problem)) {
            message(SCC_MSG_WARNING, problem);
            continue;
        }
        const std::string base = folder.relative.empty() ? "" : folder.relative + "/";
        std::map<std::string, std::string> folders, found;  // by key: store path
        auto addFolders = [&](const std::string &path, bool withLast) {
            // The folders between `base` and `path` (one level: the first only).
            for (size_t slash = path.find('/', base.size()); slash != std::string::npos;
                 slash = path.find('/', slash + 1)) {
                folders.emplace(sys::pathKey(path.substr(0, slash)), path.substr(0, slash));
                if (!recursive) {
                    return;
                }
            }
            if (withLast) {
                folders.emplace(sys::pathKey(path), path);
            }
        };
        eachFileBelow(session.index, folder.relative, [&](const FileRecord &record) {
            addFolders(record.path, false);
            if (files && (recursive || record.path.find('/', base.size()) == std::string::npos)) {
                found.emplace(sys::pathKey(record.path), record.path);
            }
        });
        for (const std::string &sub : session.index.subprojects) {
            if (below(folder.relative, sub)) {
                addFolders(sub, recursive || sub.find('/', base.size()) == std::string::npos);
            }
        }
        for (auto *list : {&folders, &found}) {
            const SCCBOOL isFolder = list == &folders ? 1 : 0;
            for (const auto &entry : *list) {
                std::string path;
                if (localPathOf(entry.second, path) && callback &&
                    callback(callerData, isFolder, path.c_str()) != SCC_OK) {
                    return SCC_OK;  // the caller has seen enough
                }
            }
        }
    }
    return SCC_OK;
}

SCCRTN Provider::dirDiff(const char *dir, SCCLONG flags) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    Target folder;
    std::string problem;
    if (!resolveFolder(dir, folder, problem)) {
        message(SCC_MSG_ERROR, problem);
        return SCC_E_INVALIDFILEPATH;
    }
    sys::FileInfo info;
    sys::Error error;
    if (!sys::statFile(folder.path, info, error) || !info.isDirectory) {
        message(SCC_MSG_ERROR, folder.given + ": the folder does not exist.");
        return SCC_E_FILENOTEXIST;
    }
    Session session;
    const SCCRTN result = beginReading(session, true);
    if (result != SCC_OK) {
        return result;
    }
    std::map<std::string, const FileRecord *> stored;  // by key of the store path
    eachFileBelow(session.index, folder.relative,
                  [&](const FileRecord &record) { stored.emplace(sys::pathKey(record.path), &record); });
    if (stored.empty() && !folder.relative.empty() && !session.index.hasSubproject(folder.relative)) {
        message(SCC_MSG_ERROR, folder.given + ": is not under source control.");
        return SCC_E_FILENOTCONTROLLED;
    }
    // The working files below the folder, links and the store left out.
    std::map<std::string, std::string> local;  // by key: store path
    std::vector<std::pair<std::string, std::string>> pending{{folder.path, folder.relative}};
    while (!pending.empty()) {
        auto [path, relative] = pending.back();
        pending.pop_back();
        std::vector<std::string> names;
        if (!sys::listDirectory(path, names, error)) {
            continue;
        }
        for (const std::string &name : names) {
            const std::string child = sys::join(path, name);
            const std::string childRelative = relative.empty() ? name : relative + "/" + name;
            sys::FileInfo childInfo;
            if (sys::pathKey(child) == sys::pathKey(store_) || sys::isLink(child) ||
                !sys::statFile(child, childInfo, error)) {
                continue;
            }
            if (childInfo.isDirectory) {
                pending.emplace_back(child, childRelative);
            } else if (childInfo.isRegular && !(name.size() > 15 && name[0] == '.' &&
                                                name.compare(name.size() - 15, 15, ".localstore-new") == 0)) {
                local.emplace(sys::pathKey(childRelative), childRelative);
            }
        }
    }
    const bool quiet = (flags & SCC_DIFF_QUICK_DIFF) != 0;
    bool differs = false;
    for (const auto &[key, record] : stored) {
        Target target;
        target.relative = record->path;
        localPathOf(record->path, target.path);
        if (!local.count(key)) {
            differs = true;
            if (!quiet) {
                message(SCC_MSG_INFO, record->path.substr(prefix_.size()) + ": missing from the working folder.");
            }
            continue;
        }
        SCCRTN compared = compareFile(*record, target, flags, quiet);
        if (compared == SCC_I_FILEDIFFERS) {
            differs = true;
        } else if (compared != SCC_OK) {
            return compared;
        }
    }
    for (const auto &[key, relative] : local) {
        if (!stored.count(key)) {
            differs = true;
            if (!quiet) {
                message(SCC_MSG_INFO, relative.substr(prefix_.size()) + ": not under source control.");
            }
        }
    }
    if (!differs && !quiet) {
        message(SCC_MSG_INFO, folder.given + ": no differences.");
    }
    return differs ? SCC_I_FILEDIFFERS : SCC_OK;
}

// --- name-space changes ------------------------------------------------------------------

SCCRTN Provider::queryChanges(SCCLONG count, const char **names, QUERYCHANGESFUNC callback, void *callerData) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    if (count < 0 || (count > 0 && !names)) {
        message(SCC_MSG_ERROR, "The list of files is missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    Session session;
    const SCCRTN result = beginReading(session, true);
    if (result != SCC_OK) {
        return result;
    }
    for (SCCLONG i = 0; i < count; ++i) {
        QUERYCHANGESDATA change{};
        change.dwSize = sizeof change;
        change.lpFileName = names[i];
        change.lpLatestName = names[i];
        change.dwChangeType = SCC_CHANGE_UNKNOWN;
        std::string latest;
        Target target;
        std::string problem;
        if (names[i] && resolve(names[i], target, problem)) {
            sys::FileInfo info;
            sys::Error error;
            const bool present = sys::statFile(target.path, info, error) && info.exists;
            const FileRecord *record = session.index.find(target.relative);
            const FileRecord *moved = record ? nullptr : session.index.formerlyAt(target.relative);
            if (record && record->removed) {
                change.dwChangeType = SCC_CHANGE_DATABASE_DELETED;
            } else if (record) {
                // Gone from here: deleted by the user when the provider put it
                // here once, else added to the store by someone else.
                change.dwChangeType = present                                   ? SCC_CHANGE_UNCHANGED
                                      : session.workspace.entries.count(record->id) ? SCC_CHANGE_LOCAL_DELETED
                                                                                    : SCC_CHANGE_DATABASE_ADDED;
            } else if (moved) {
                change.dwChangeType = SCC_CHANGE_RENAMED_TO;
                if (!localPathOf(moved->path, latest)) {
                    latest = moved->path;  // moved out of this sub-project: its store path
                }
                change.lpLatestName = latest.c_str();
            } else {
                change.dwChangeType = present ? SCC_CHANGE_LOCAL_ADDED : SCC_CHANGE_NONEXISTENT;
            }
        }
        if (callback && callback(callerData, &change) != SCC_OK) {
            break;  // the caller asks to stop
        }
    }
    return SCC_OK;
}

} // namespace localstore
