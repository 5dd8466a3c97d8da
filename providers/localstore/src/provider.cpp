#include "provider.h"

#include "textdiff.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_set>

namespace localstore {

namespace {

// Text buffers the caller hands to SccGetProjPath and SccOpenProject hold at
// least this many bytes and the terminator (the user name: SCC_USER_LEN).
constexpr size_t kTextLimit = 260;

bool fits(const std::string &text, size_t limit) {
    return text.size() <= limit && text.find('\0') == std::string::npos;
}

void copyOut(char *buffer, const std::string &text) {
    std::memcpy(buffer, text.c_str(), text.size() + 1);
}

std::string textOf(const char *text) {
    return text ? std::string(text) : std::string();
}

std::atomic<unsigned long> contextCount{0};

// The components of a '/'-separated path.
std::vector<std::string> components(const std::string &relative) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < relative.size()) {
        size_t slash = relative.find('/', start);
        if (slash == std::string::npos) {
            slash = relative.size();
        }
        if (slash > start) {
            parts.push_back(relative.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

} // namespace

// --- batches ----------------------------------------------------------------------

namespace {

struct Batch {
    std::mutex mutex;
    bool running = false;
    std::map<std::string, std::unique_ptr<BatchStore>> stores;  // by store folder key
};

Batch &batch() {
    static Batch *instance = new Batch;  // never destroyed: entry points may run during exit
    return *instance;
}

// Saves what the batch changed in one store; false when the index could not be saved.
bool flushBatchStore(BatchStore &entry) {
    Store store(entry.folder);
    sys::Error error;
    bool ok = true;
    if (entry.dirty) {
        if (store.save(entry.index, error)) {
            store.appendJournal(entry.index.generation, entry.changed);
        } else {
            ok = false;
        }
        for (const auto &record : entry.workspaces) {
            store.saveWorkspace(record.second, error);
        }
    }
    entry.dirty = false;
    entry.changed.clear();
    return ok;
}

} // namespace

// The index as the running batch has it, when the batch holds the store in
// `folder`: the lock is this process's already, and a second lock on the file
// would wait for ever.
static bool indexOfBatch(const std::string &folder, Index &index) {
    Batch &b = batch();
    std::lock_guard<std::mutex> guard(b.mutex);
    auto entry = b.stores.find(sys::pathKey(folder));
    if (!b.running || entry == b.stores.end()) {
        return false;
    }
    std::lock_guard<std::mutex> storeGuard(entry->second->mutex);
    index = entry->second->index;
    return true;
}

SCCRTN beginBatch() {
    Batch &b = batch();
    std::lock_guard<std::mutex> guard(b.mutex);
    if (b.running) {
        return SCC_E_OPNOTPERFORMED;  // batches do not nest
    }
    b.running = true;
    return SCC_OK;
}

SCCRTN endBatch() {
    Batch &b = batch();
    std::lock_guard<std::mutex> guard(b.mutex);
    if (!b.running) {
        return SCC_E_OPNOTPERFORMED;
    }
    bool ok = true;
    for (auto &entry : b.stores) {
        std::lock_guard<std::mutex> storeGuard(entry.second->mutex);
        ok = flushBatchStore(*entry.second) && ok;
        entry.second->lock.release();
    }
    b.stores.clear();
    b.running = false;
    return ok ? SCC_OK : SCC_E_ACCESSFAILURE;
}

SCCRTN Provider::Problems::report(const Provider &provider) const {
    for (const auto &problem : list_) {
        provider.message(SCC_MSG_ERROR, problem.second);
    }
    return list_.empty() ? SCC_OK : list_.front().first;
}

Provider::Provider(const char *callerName)
    : callerName_(textOf(callerName)),
      writer_(std::to_string(sys::processId()) + ":" + std::to_string(++contextCount)) {}

void Provider::message(SCCLONG type, const std::string &text) const {
    if (textOut_) {
        textOut_(text.c_str(), type);
    }
}

// --- projects ---------------------------------------------------------------------

SCCRTN Provider::getProjPath(char *user, char *projectName, char *localPath, char *auxPath,
                             SCCBOOL allowChangePath, SCCBOOL *isNew) {
    if (!user || !projectName || !localPath || !auxPath) {
        message(SCC_MSG_ERROR, "The project texts are missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    std::string root;
    if (!sys::absolutePath(localPath, root) || !fits(root, kTextLimit)) {
        message(SCC_MSG_ERROR, "No usable working folder was given: \"" + textOf(localPath) + "\".");
        return SCC_E_INVALIDFILEPATH;
    }
    std::string userName = user;
    if (userName.empty()) {
        userName = sys::userName();
        if (userName.empty() || !fits(userName, SCC_USER_LEN)) {
            message(SCC_MSG_ERROR, "The user name is unknown.");
            return SCC_E_INVALIDUSER;
        }
    }
    std::string storeText = auxPath;
    if (storeText.empty()) {
        storeText = sys::join(root, kDefaultStoreName);
    }
    std::string storeFolder;
    if (!sys::absolutePath(storeText, storeFolder) || !fits(storeText, kTextLimit)) {
        message(SCC_MSG_ERROR, "No usable store folder: \"" + storeText + "\".");
        return SCC_E_INVALIDFILEPATH;
    }
    Store store(storeFolder);
    std::string name = projectName;
    bool created = false;
    if (store.exists()) {
        sys::FileLock lock;
        sys::Error error;
        std::string problem;
        Index index;
        if (!indexOfBatch(storeFolder, index)) {
            lock.acquire(store.lockPath(), false, false, error);
            if (!store.load(index, error, problem)) {
                message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
                return SCC_E_ACCESSFAILURE;
            }
        }
        name = index.project;
    } else {
        if (isNew && !*isNew) {
            message(SCC_MSG_ERROR, "There is no store in " + storeFolder + ", and no new project may be made.");
            return SCC_E_UNKNOWNPROJECT;
        }
        if (name.empty()) {
            name = sys::lastComponent(root);
        }
        if (name.empty()) {
            name = "project";
        }
        created = true;
    }
    if (!fits(name, kTextLimit)) {
        message(SCC_MSG_ERROR, "The project name is too long.");
        return SCC_E_PROJSYNTAXERR;
    }
    copyOut(user, userName);
    copyOut(projectName, name);
    copyOut(auxPath, storeText);
    if (allowChangePath) {
        copyOut(localPath, root);
    }
    if (isNew) {
        *isNew = created ? 1 : 0;
    }
    return SCC_OK;
}

SCCRTN Provider::openProject(char *user, char *projectName, const char *localPath, char *auxPath,
                             const char *comment, LPTEXTOUTPROC textOut, SCCLONG flags) {
    if (open_) {
        message(SCC_MSG_ERROR, "The project " + project_ + " is open already; close it first.");
        return SCC_E_PROJECTALREADYOPEN;
    }
    textOut_ = textOut;
    std::string userName = textOf(user);
    if (userName.empty()) {
        userName = sys::userName();
        if (userName.empty() || !fits(userName, SCC_USER_LEN)) {
            message(SCC_MSG_ERROR, "The user name is unknown.");
            return SCC_E_INVALIDUSER;
        }
    }
    std::string root;
    sys::FileInfo info;
    sys::Error error;
    if (!sys::absolutePath(textOf(localPath), root)) {
        message(SCC_MSG_ERROR, "No working folder was given.");
        return SCC_E_INVALIDFILEPATH;
    }
    if (!sys::statFile(root, info, error) || !info.isDirectory) {
        message(SCC_MSG_ERROR, "The working folder " + root + " does not exist.");
        return SCC_E_INVALIDFILEPATH;
    }
    std::string storeText = textOf(auxPath);
    if (storeText.empty()) {
        storeText = sys::join(root, kDefaultStoreName);
    }
    std::string storeFolder;
    if (!sys::absolutePath(storeText, storeFolder)) {
        message(SCC_MSG_ERROR, "No usable store folder: \"" + storeText + "\".");
        return SCC_E_INVALIDFILEPATH;
    }
    std::string ignored;
    if (storeFolder == root || sys::relativeTo(storeFolder, root, ignored)) {
        message(SCC_MSG_ERROR, "The store folder " + storeFolder + " cannot hold the working folder " + root + ".");
        return SCC_E_INVALIDFILEPATH;
    }
    Store store(storeFolder);
    if (!store.exists()) {
        if (!(flags & SCC_OP_CREATEIFNEW)) {
            message(SCC_MSG_ERROR, "There is no store in " + storeFolder + ".");
            return SCC_E_UNKNOWNPROJECT;
        }
        std::vector<std::string> entries;
        sys::Error listError;
        if (sys::statFile(storeFolder, info, error) && info.exists &&
            (!info.isDirectory || !sys::listDirectory(storeFolder, entries, listError) || !entries.empty())) {
            message(SCC_MSG_ERROR, storeFolder + " is not a store, and a new store is made only in an empty or new folder.");
            return SCC_E_COULDNOTCREATEPROJECT;
        }
        Index index;
        index.project = textOf(projectName);
        if (index.project.empty()) {
            index.project = sys::lastComponent(root);
        }
        index.created = sys::utcStamp(sys::now());
        index.createdBy = userName;
        index.comment = textOf(comment);
        if (!store.create(index, error)) {
            message(SCC_MSG_ERROR, "Cannot make a store in " + storeFolder + ": " + error.text);
            return SCC_E_COULDNOTCREATEPROJECT;
        }
        message(SCC_MSG_INFO, "Made a new store for project " + index.project + " in " + storeFolder + ".");
    }
    Index index;
    if (!indexOfBatch(storeFolder, index)) {
        sys::FileLock lock;
        std::string problem;
        lock.acquire(store.lockPath(), false, false, error);
        error = sys::Error();
        if (!store.load(index, error, problem)) {
            message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
            return SCC_E_ACCESSFAILURE;
        }
    }
    std::string name = textOf(projectName);
    std::string prefix;
    if (!name.empty() && name != index.project) {
        // A sub-project: "<project>/<folder>", with the folder recorded in the index.
        const std::string top = index.project + "/";
        if (name.compare(0, top.size(), top) == 0 && index.hasSubproject(name.substr(top.size()))) {
            prefix = name.substr(top.size()) + "/";
        } else {
            message(SCC_MSG_ERROR, "The store in " + storeFolder + " holds the project " + index.project +
                                       ", not " + name + ".");
            return SCC_E_UNKNOWNPROJECT;
        }
    }
    if (user && textOf(user).empty()) {
        copyOut(user, userName);
    }
    if (projectName && name.empty() && fits(index.project, kTextLimit)) {
        copyOut(projectName, index.project);
    }
    if (auxPath && textOf(auxPath).empty() && fits(storeText, kTextLimit)) {
        copyOut(auxPath, storeText);
    }
    open_ = true;
    user_ = userName;
    project_ = prefix.empty() ? index.project : name;
    root_ = root;
    store_ = storeFolder;
    prefix_ = prefix;
    // A sub-project opened in its folder below the top project's shares that
    // project's check-outs: they record the top folder.
    topRoot_ = root_;
    const std::vector<std::string> parts = components(prefix_);
    for (auto it = parts.rbegin(); it != parts.rend() && !topRoot_.empty(); ++it) {
        if (sys::pathKey(sys::lastComponent(topRoot_)) != sys::pathKey(*it)) {
            topRoot_.clear();
        } else {
            topRoot_ = sys::parentOf(topRoot_);
        }
    }
    if (topRoot_.empty()) {
        topRoot_ = root_;
    }
    // The event queue reports what others change from now on.
    watched_.clear();
    events_.clear();
    journalStart_.clear();
    journalOffset_ = 0;
    std::vector<Store::JournalLine> earlier;
    bool restarted = false;
    journalSeen_ = store.journalSize();
    store.readJournal(journalStart_, journalOffset_, earlier, restarted);
    if (!sys::realPath(root_, realRoot_)) {
        realRoot_ = root_;
    }
    if (!sys::realPath(store_, realStore_)) {
        realStore_ = store_;
    }
    if (store.markedReadOnly()) {
        message(SCC_MSG_WARNING, "The store in " + storeFolder + " is read-only: files can be got and examined, not changed.");
    }
    return SCC_OK;
}

SCCRTN Provider::closeProject() {
    if (!open_) {
        message(SCC_MSG_ERROR, "No project is open.");
        return SCC_E_PROJNOTOPEN;
    }
    open_ = false;
    // What a batch changed in this store is saved now; the lock stays with
    // the batch until its end.
    Batch &b = batch();
    std::unique_lock<std::mutex> guard(b.mutex);
    auto entry = b.stores.find(sys::pathKey(store_));
    if (entry != b.stores.end()) {
        std::lock_guard<std::mutex> storeGuard(entry->second->mutex);
        if (!flushBatchStore(*entry->second)) {
            message(SCC_MSG_ERROR, "The changes of the batch could not be saved in " + store_ + ".");
            return SCC_E_ACCESSFAILURE;
        }
    }
    return SCC_OK;
}

// --- common steps ---------------------------------------------------------------------

bool Provider::requireProject() const {
    if (!open_) {
        message(SCC_MSG_ERROR, "No project is open.");
        return false;
    }
    return true;
}

bool Provider::checkNames(SCCLONG count, const char **names, SCCRTN &result) const {
    if (!requireProject()) {
        result = SCC_E_PROJNOTOPEN;
        return false;
    }
    if (count < 0 || (count > 0 && !names)) {
        message(SCC_MSG_ERROR, "The list of files is missing.");
        result = SCC_E_NONSPECIFICERROR;
        return false;
    }
    return true;
}

namespace {
// A name the caller gives relative to the project folder. On Windows a name
// like \src\a.c (or /src/a.c) is no such name: it is rooted on the
// current drive, and the full path finds it.
bool belowProject(const std::string &text) {
    const auto path = sys::toPath(text);
    return !path.is_absolute() && !path.has_root_directory();
}
} // namespace

bool Provider::resolve(const char *name, Target &target, std::string &problem, PlainFolders *plain) const {
    if (!name || !*name) {
        problem = "A file name is missing.";
        return false;
    }
    target.given = name;
    std::string text = name;
    if (belowProject(text)) {
        text = sys::join(root_, text);
    }
    if (!sys::absolutePath(text, target.path)) {
        problem = target.given + ": not a usable file name.";
        return false;
    }
    std::string inStore;
    if (target.path == store_ || sys::relativeTo(store_, target.path, inStore)) {
        problem = target.given + ": lies in the store folder, not in the project.";
        return false;
    }
    if (!sys::relativeTo(root_, target.path, target.relative)) {
        problem = target.given + ": lies outside the project folder " + root_ + ".";
        return false;
    }
    if (!linksStayInside(target, plain)) {
        problem = target.given + ": a symbolic link leads out of the project folder " + root_ + ".";
        return false;
    }
    target.relative = prefix_ + target.relative;
    return true;
}

bool Provider::resolveFolder(const char *name, Target &target, std::string &problem) const {
    if (!name || !*name) {
        problem = "A folder name is missing.";
        return false;
    }
    std::string text = name;
    if (belowProject(text)) {
        text = sys::join(root_, text);
    }
    std::string path;
    if (sys::absolutePath(text, path) && sys::pathKey(path) == sys::pathKey(root_)) {
        target.given = name;
        target.path = root_;
        target.relative = prefix_.empty() ? "" : prefix_.substr(0, prefix_.size() - 1);
        return true;
    }
    return resolve(name, target, problem);
}

bool Provider::localPathOf(const std::string &storePath, std::string &path) const {
    if (storePath.size() <= prefix_.size() ||
        sys::pathKey(storePath.substr(0, prefix_.size())) != sys::pathKey(prefix_)) {
        return false;
    }
    path = sys::join(root_, storePath.substr(prefix_.size()));
    return true;
}

bool Provider::linksStayInside(const Target &target, PlainFolders *plain) const {
    // Most paths have no link at all: one lstat per part finds that out.
    const std::string &relative = target.relative;
    bool linked = false;
    for (size_t start = 0; start <= relative.size() && !linked;) {
        size_t slash = relative.find('/', start);
        if (slash == std::string::npos) {
            slash = relative.size();
        }
        const std::string part = relative.substr(0, slash);
        const bool folder = slash < relative.size();
        if (!folder || !plain || !plain->count(part)) {
            linked = sys::isLink(sys::join(root_, part));
            if (folder && plain && !linked) {
                plain->insert(part);
            }
        }
        start = slash + 1;
    }
    if (!linked) {
        return true;
    }
    std::string real, below;
    return sys::realPath(target.path, real) && sys::relativeTo(realRoot_, real, below) && real != realStore_ &&
           !sys::relativeTo(realStore_, real, below);
}

std::vector<Provider::Target> Provider::resolveAll(SCCLONG count, const char **names, Problems &problems) const {
    std::vector<Target> targets;
    std::unordered_set<std::string> seen;
    PlainFolders plain;
    for (SCCLONG i = 0; i < count; ++i) {
        Target target;
        target.position = i;
        std::string problem;
        if (!resolve(names[i], target, problem, &plain)) {
            problems.add(SCC_E_INVALIDFILEPATH, problem);
            continue;
        }
        if (seen.insert(sys::pathKey(target.relative)).second) {
            targets.push_back(std::move(target));
        }
    }
    return targets;
}

SCCRTN Provider::startCommand(SCCLONG count, const char **names, bool write,
                              std::vector<Target> &targets, Session &session) const {
    SCCRTN result = SCC_OK;
    if (!checkNames(count, names, result)) {
        return result;
    }
    Problems problems;
    targets = resolveAll(count, names, problems);
    if (!problems.empty()) {
        return problems.report(*this);
    }
    return begin(session, write);
}

SCCRTN Provider::begin(Session &session, bool write) const {
    Store store(store_);
    sys::Error error;
    if (write && store.markedReadOnly()) {
        message(SCC_MSG_ERROR, "The store in " + store_ + " is read-only; nothing was changed.");
        return SCC_E_ACCESSFAILURE;
    }
    std::string problem;
    if (!store.loadSettings(session.settings, error, problem)) {
        message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
        return SCC_E_ACCESSFAILURE;
    }
    settings_ = session.settings;
    {
        Batch &b = batch();
        std::unique_lock<std::mutex> guard(b.mutex);
        if (b.running) {
            std::unique_ptr<BatchStore> &slot = b.stores[sys::pathKey(store_)];
            if (!slot) {
                auto entry = std::make_unique<BatchStore>();
                entry->folder = store_;
                entry->exclusive = !store.markedReadOnly();
                if (!entry->lock.acquire(store.lockPath(), entry->exclusive, entry->exclusive, error) &&
                    (entry->exclusive || error.kind != sys::ErrorKind::NotFound)) {
                    b.stores.erase(sys::pathKey(store_));
                    message(SCC_MSG_ERROR, error.text);
                    return SCC_E_ACCESSFAILURE;
                }
                error = sys::Error();
                if (!store.load(entry->index, error, problem)) {
                    b.stores.erase(sys::pathKey(store_));
                    message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
                    return SCC_E_ACCESSFAILURE;
                }
                if (entry->exclusive) {
                    store.clearTemporaries();
                }
                slot = std::move(entry);
            }
            BatchStore &entry = *slot;
            guard.unlock();
            session.batchGuard = std::unique_lock<std::mutex>(entry.mutex);
            if (write && !entry.exclusive) {
                message(SCC_MSG_ERROR, "The store in " + store_ + " is read-only; nothing was changed.");
                return SCC_E_ACCESSFAILURE;
            }
            session.batch = &entry;
            session.index = entry.index;
            session.workspace.user = user_;
            session.workspace.folder = root_;
            const std::string key = store.workspacePath(user_, root_);
            auto known = entry.workspaces.find(key);
            if (known != entry.workspaces.end()) {
                session.workspace = known->second;
            } else {
                store.loadWorkspace(session.workspace, error);
            }
            return SCC_OK;
        }
    }
    if (!session.lock.acquire(store.lockPath(), write, write, error)) {
        if (write || error.kind != sys::ErrorKind::NotFound) {
            message(SCC_MSG_ERROR, error.text);
            return SCC_E_ACCESSFAILURE;
        }
        // A store without a lock file that we may not make: read it unlocked;
        // its index is only ever replaced whole.
    }
    error = sys::Error();
    if (!store.load(session.index, error, problem)) {
        message(SCC_MSG_ERROR, error.failed() ? error.text : problem);
        return SCC_E_ACCESSFAILURE;
    }
    if (write) {
        store.clearTemporaries();
    }
    session.workspace.user = user_;
    session.workspace.folder = root_;
    store.loadWorkspace(session.workspace, error);
    return SCC_OK;
}

SCCRTN Provider::beginReading(Session &session, bool letBatchGo) const {
    const SCCRTN result = begin(session, false);
    if (result == SCC_OK) {
        session.lock.release();
        if (letBatchGo) {
            session.batchGuard = std::unique_lock<std::mutex>();
        }
    }
    return result;
}

SCCRTN Provider::saveIndex(Session &session, const std::vector<std::string> &changed, const char *failure) const {
    if (session.batch) {
        session.batch->index = session.index;
        session.batch->dirty = true;
        for (const std::string &path : changed) {
            session.batch->changed.push_back({writer_, path});
        }
        return SCC_OK;
    }
    sys::Error error;
    Store store(store_);
    if (!store.save(session.index, error)) {
        message(SCC_MSG_ERROR, std::string(failure) + ": " + error.text);
        return SCC_E_ACCESSFAILURE;
    }
    std::vector<Store::JournalLine> lines;
    for (const std::string &path : changed) {
        lines.push_back({writer_, path});
    }
    store.appendJournal(session.index.generation, lines);
    return SCC_OK;
}

std::vector<std::string> Provider::storePaths(const std::vector<Target> &targets) {
    std::vector<std::string> paths;
    for (const Target &target : targets) {
        paths.push_back(target.relative);
    }
    return paths;
}

void Provider::saveWorkspace(Session &session) const {
    if (session.batch) {
        session.batch->workspaces[Store(store_).workspacePath(user_, root_)] = session.workspace;
        session.batch->dirty = true;
        return;
    }
    sys::Error error;
    if (!Store(store_).saveWorkspace(session.workspace, error)) {
        message(SCC_MSG_WARNING, "The record of this working folder was not updated: " + error.text);
    }
}

bool Provider::mine(const Checkout &checkout) const {
    return checkout.user == user_ && sys::pathKey(checkout.folder) == sys::pathKey(topRoot_);
}

const Checkout *Provider::myCheckout(const FileRecord &record) const {
    for (const Checkout &checkout : record.checkouts) {
        if (mine(checkout)) {
            return &checkout;
        }
    }
    return nullptr;
}

const Checkout *Provider::otherCheckout(const FileRecord &record) const {
    for (const Checkout &checkout : record.checkouts) {
        if (!mine(checkout)) {
            return &checkout;
        }
    }
    return nullptr;
}

std::string Provider::holder(const Checkout &checkout) const {
    if (checkout.user == user_) {
        return "you in " + checkout.folder;
    }
    return checkout.user + " in " + checkout.folder;
}

Provider::Working Provider::examine(const FileRecord &record, const Workspace &workspace,
                                    const std::string &path) const {
    Working working;
    sys::FileInfo info;
    sys::Error error;
    if (!sys::statFile(path, info, error) || !info.exists) {
        return working;
    }
    working.exists = true;
    working.regular = info.isRegular;
    working.size = info.size;
    if (!info.isRegular) {
        working.modified = true;
        return working;
    }
    auto entry = workspace.entries.find(record.id);
    if (entry != workspace.entries.end() && entry->second.size == info.size && entry->second.mtime == info.mtime &&
        record.version(entry->second.base)) {
        working.base = entry->second.base;
        return working;
    }
    // Changed since the provider last saw it, or never seen: compare contents.
    std::string data;
    if (!sys::readFile(path, data, error)) {
        working.unreadable = true;
        working.modified = true;
        return working;
    }
    uint64_t hash = contentHash(data);
    if (entry != workspace.entries.end() && entry->second.size == data.size() && entry->second.hash == hash &&
        record.version(entry->second.base)) {
        working.base = entry->second.base;
        return working;
    }
    for (auto it = record.events.rbegin(); it != record.events.rend(); ++it) {
        if (it->kind == Event::Kind::Version && it->size == data.size() && it->hash == hash) {
            working.base = it->version;
            return working;
        }
    }
    working.modified = true;
    if (entry != workspace.entries.end() && record.version(entry->second.base)) {
        working.base = entry->second.base;
    }
    return working;
}

SCCLONG Provider::statusOf(const FileRecord *record, const Working &working) const {
    if (!record) {
        return SCC_STATUS_NOTCONTROLLED;
    }
    if (record->removed) {
        return SCC_STATUS_DELETED;
    }
    SCCLONG status = SCC_STATUS_CONTROLLED;
    if (record->checkedOut()) {
        status |= record->checkouts.size() > 1 ? SCC_STATUS_OUTMULTIPLE : SCC_STATUS_OUTEXCLUSIVE;
        for (const Checkout &checkout : record->checkouts) {
            if (mine(checkout)) {
                status |= SCC_STATUS_CHECKEDOUT | SCC_STATUS_OUTBYUSER;
            } else {
                status |= SCC_STATUS_OUTOTHER;
                if (checkout.user == user_) {
                    status |= SCC_STATUS_OUTBYUSER;
                }
            }
        }
    }
    if (!working.exists) {
        status |= SCC_STATUS_OUTOFDATE;
    } else {
        if (working.modified) {
            status |= SCC_STATUS_MODIFIED;
        }
        if (working.base > 0 && working.base < record->latestVersion()) {
            status |= SCC_STATUS_OUTOFDATE;
        }
    }
    return status;
}

void Provider::remember(Workspace &workspace, const FileRecord &record, int version, const std::string &path,
                        uint64_t hash) const {
    sys::FileInfo info;
    sys::Error error;
    if (!sys::statFile(path, info, error) || !info.exists) {
        workspace.entries.erase(record.id);
        return;
    }
    WorkspaceEntry &entry = workspace.entries[record.id];
    entry.base = version;
    entry.size = info.size;
    entry.mtime = info.mtime;
    entry.hash = hash;
}

bool Provider::writeWorking(const std::string &path, const std::string &data, bool readOnly,
                            sys::Error &error) const {
    std::string folder = sys::parentOf(path);
    if (!sys::makeDirectories(folder, error)) {
        return false;
    }
    std::string temp = sys::join(folder, "." + sys::lastComponent(path) + ".localstore-new");
    if (!sys::replaceFile(temp, path, data, false, error)) {
        return false;
    }
    return sys::setReadOnly(path, readOnly, error);
}

} // namespace localstore
