// The file commands of the provider. Commands that change the store check
// every file first and change nothing when one of them fails; then they write
// the new versions, flush them, and replace the index in one rename.
#include "provider.h"

#include "textdiff.h"

#include <algorithm>

namespace localstore {

namespace {

SCCRTN codeFor(const sys::Error &error) {
    return error.kind == sys::ErrorKind::NotFound ? SCC_E_FILENOTEXIST : SCC_E_ACCESSFAILURE;
}

std::string textOf(const char *text) {
    return text ? std::string(text) : std::string();
}

std::string plural(uint64_t count, const char *word) {
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string describeEvent(const Event &event) {
    if (event.kind == Event::Kind::Removed) {
        return "Removed     " + event.time + "  " + event.user;
    }
    if (event.kind == Event::Kind::Renamed) {
        return "Renamed     " + event.time + "  " + event.user + "  from " + event.from + " to " + event.to;
    }
    return "Version " + std::to_string(event.version) + "   " + event.time + "  " + event.user + "  " +
           std::to_string(event.size) + " bytes";
}

// A comment as indented lines below its event.
void commentLines(std::vector<std::string> &out, const std::string &comment) {
    size_t start = 0;
    while (start < comment.size()) {
        size_t end = comment.find('\n', start);
        std::string line = comment.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        out.push_back("    " + line);
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
}

} // namespace

// --- changing the store -------------------------------------------------------------------

SCCRTN Provider::add(SCCLONG count, const char **names, const char *comment, const SCCLONG *flags) {
    std::vector<Target> targets;
    Session session;
    SCCRTN result = startCommand(count, names, true, targets, session);
    if (result != SCC_OK) {
        return result;
    }
    Problems problems;
    // Ids are never used twice, and one past the last would wrap next-id to 0,
    // an index the store refuses to read: the add is refused instead.
    uint64_t idsLeft = session.index.idsLeft();
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        sys::FileInfo info;
        sys::Error error;
        if (record && !record->removed) {
            problems.add(SCC_E_FILEALREADYEXISTS, target.given + ": is under source control already.");
        } else if (!record && idsLeft-- == 0) {
            idsLeft = 0;
            problems.add(SCC_E_OPNOTPERFORMED, target.given + ": the store has no file id left for it (next-id " +
                                                   std::to_string(session.index.nextId) + ").");
        } else if (!sys::statFile(target.path, info, error)) {
            problems.add(codeFor(error), error.text);
        } else if (!info.exists) {
            problems.add(SCC_E_FILENOTEXIST, target.given + ": the file does not exist.");
        } else if (!info.isRegular) {
            problems.add(SCC_E_INVALIDFILEPATH, target.given + ": is not a file.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }

    Store store(store_);
    const std::string time = sys::utcStamp(sys::now());
    std::vector<std::pair<int, uint64_t>> added;  // version, hash per target
    std::vector<std::pair<uint64_t, int>> written;
    for (const Target &target : targets) {
        std::string data;
        sys::Error error;
        if (!sys::readFile(target.path, data, error)) {
            problems.add(codeFor(error), error.text);
            break;
        }
        const SCCLONG type = flags ? flags[target.position] : SCC_FILETYPE_AUTO;
        const bool binary = (type & SCC_FILETYPE_BINARY)  ? true
                            : (type & SCC_FILETYPE_TEXT) ? false
                                                         : isBinaryContent(data);
        FileRecord *record = session.index.find(target.relative);
        if (!record) {
            record = &session.index.add(target.relative, binary);
        }
        record->removed = false;
        record->binary = binary;
        Event event;
        event.version = record->latestVersion() + 1;
        event.time = time;
        event.user = user_;
        event.comment = textOf(comment);
        event.size = data.size();
        event.hash = contentHash(data);
        if (!store.writeVersion(record->id, event.version, data, error)) {
            problems.add(codeFor(error), "Nothing was added: " + error.text);
            break;
        }
        written.emplace_back(record->id, event.version);
        added.emplace_back(event.version, event.hash);
        record->events.push_back(std::move(event));
    }
    sys::Error flushError;
    if (problems.empty() && !store.flushVersions(written, flushError)) {
        problems.add(codeFor(flushError), "Nothing was added: " + flushError.text);
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }
    if ((result = saveIndex(session, storePaths(targets))) != SCC_OK) {
        return result;
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        const FileRecord *record = session.index.find(targets[i].relative);
        sys::Error error;
        if (!sys::setReadOnly(targets[i].path, true, error)) {
            message(SCC_MSG_WARNING, error.text);
        }
        remember(session.workspace, *record, added[i].first, targets[i].path, added[i].second);
    }
    saveWorkspace(session);
    return SCC_OK;
}

SCCRTN Provider::checkout(SCCLONG count, const char **names, const char *comment) {
    std::vector<Target> targets;
    Session session;
    SCCRTN result = startCommand(count, names, true, targets, session);
    if (result != SCC_OK) {
        return result;
    }
    Problems problems;
    std::vector<Working> working;
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        if (!record || record->removed) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
            working.emplace_back();
            continue;
        }
        if (myCheckout(*record)) {
            problems.add(SCC_E_ALREADYCHECKEDOUT, target.given + ": is checked out by you already.");
        } else if (record->checkedOut() && !session.settings.multiCheckout) {
            problems.add(SCC_E_FILEOUTEXCLUSIVE,
                         target.given + ": is checked out by " + holder(*otherCheckout(*record)) + ".");
        }
        working.push_back(examine(*record, session.workspace, target.path));
        const Working &w = working.back();
        const int latest = record->latestVersion();
        if (w.exists && !w.regular) {
            problems.add(SCC_E_INVALIDFILEPATH, target.given + ": is not a file.");
        } else if (w.exists && w.modified && w.base != latest) {
            problems.add(SCC_E_OPNOTPERFORMED,
                         target.given + ": has changes of its own and is not a copy of the latest version " +
                             std::to_string(latest) +
                             "; keep the changes elsewhere, get the latest version, and check it out again.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }
    const std::string time = sys::utcStamp(sys::now());
    for (const Target &target : targets) {
        FileRecord *record = session.index.find(target.relative);
        Checkout out;
        out.user = user_;
        out.folder = topRoot_;
        out.time = time;
        out.comment = textOf(comment);
        out.base = record->latestVersion();
        record->checkouts.push_back(std::move(out));
    }
    if ((result = saveIndex(session, storePaths(targets))) != SCC_OK) {
        return result;
    }
    Store store(store_);
    for (size_t i = 0; i < targets.size(); ++i) {
        const Target &target = targets[i];
        const FileRecord *record = session.index.find(target.relative);
        const Event *latest = record->latest();
        const Working &w = working[i];
        sys::Error error;
        if (w.exists && w.base == latest->version) {
            if (!sys::setReadOnly(target.path, false, error)) {
                problems.add(SCC_E_ACCESSFAILURE, error.text);
            }
            if (w.modified) {
                message(SCC_MSG_INFO, target.given + ": kept the changes of the working file.");
            } else {
                remember(session.workspace, *record, latest->version, target.path, latest->hash);
            }
            continue;
        }
        std::string data;
        if (!store.readVersion(record->id, *latest, data, error) ||
            !writeWorking(target.path, data, false, error)) {
            problems.add(codeFor(error), target.given + ": is checked out, but " + error.text);
            continue;
        }
        remember(session.workspace, *record, latest->version, target.path, latest->hash);
    }
    saveWorkspace(session);
    return problems.report(*this);
}

SCCRTN Provider::checkin(SCCLONG count, const char **names, const char *comment, SCCLONG flags) {
    std::vector<Target> targets;
    Session session;
    SCCRTN result = startCommand(count, names, true, targets, session);
    if (result != SCC_OK) {
        return result;
    }
    Problems problems;
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        sys::FileInfo info;
        sys::Error error;
        if (!record || record->removed) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
        } else if (!record->checkedOut()) {
            problems.add(SCC_E_NOTCHECKEDOUT, target.given + ": is not checked out.");
        } else if (!myCheckout(*record)) {
            problems.add(SCC_E_NOTCHECKEDOUT,
                         target.given + ": is checked out by " + holder(*otherCheckout(*record)) + ", not by you here.");
        } else if (myCheckout(*record)->base < record->latestVersion()) {
            // Someone else checked in while this user had it out too; there is
            // no merging: the newer version would be lost.
            problems.add(SCC_E_CHECKINCONFLICT,
                         target.given + ": version " + std::to_string(record->latestVersion()) +
                             " was checked in since your check-out of version " +
                             std::to_string(myCheckout(*record)->base) +
                             "; keep your changes elsewhere, undo the check-out and check it out again.");
        } else if (!sys::statFile(target.path, info, error)) {
            problems.add(codeFor(error), error.text);
        } else if (!info.exists) {
            problems.add(SCC_E_FILENOTEXIST, target.given + ": the working file does not exist.");
        } else if (!info.isRegular) {
            problems.add(SCC_E_INVALIDFILEPATH, target.given + ": is not a file.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }

    Store store(store_);
    const bool keep = (flags & SCC_KEEP_CHECKEDOUT) != 0;
    const std::string time = sys::utcStamp(sys::now());
    std::vector<std::pair<uint64_t, int>> written;
    for (const Target &target : targets) {
        FileRecord *record = session.index.find(target.relative);
        std::string data;
        sys::Error error;
        if (!sys::readFile(target.path, data, error)) {
            problems.add(codeFor(error), "Nothing was checked in: " + error.text);
            return problems.report(*this);
        }
        Event event;
        event.version = record->latestVersion() + 1;
        event.time = time;
        event.user = user_;
        event.comment = textOf(comment);
        event.size = data.size();
        event.hash = contentHash(data);
        if (!store.writeVersion(record->id, event.version, data, error)) {
            problems.add(codeFor(error), "Nothing was checked in: " + error.text);
            return problems.report(*this);
        }
        written.emplace_back(record->id, event.version);
        record->events.push_back(std::move(event));
        auto &holders = record->checkouts;
        for (auto it = holders.begin(); it != holders.end(); ++it) {
            if (mine(*it)) {
                if (keep) {
                    it->base = record->latestVersion();
                } else {
                    holders.erase(it);
                }
                break;
            }
        }
    }
    sys::Error flushError;
    if (!store.flushVersions(written, flushError)) {
        problems.add(codeFor(flushError), "Nothing was checked in: " + flushError.text);
        return problems.report(*this);
    }
    if ((result = saveIndex(session, storePaths(targets))) != SCC_OK) {
        return result;
    }
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        sys::Error error;
        if (!keep && !sys::setReadOnly(target.path, true, error)) {
            message(SCC_MSG_WARNING, error.text);
        }
        remember(session.workspace, *record, record->latestVersion(), target.path, record->latest()->hash);
    }
    saveWorkspace(session);
    return SCC_OK;
}

SCCRTN Provider::uncheckout(SCCLONG count, const char **names) {
    std::vector<Target> targets;
    Session session;
    SCCRTN result = startCommand(count, names, true, targets, session);
    if (result != SCC_OK) {
        return result;
    }
    Problems problems;
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        if (!record || record->removed) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
        } else if (!record->checkedOut()) {
            problems.add(SCC_E_NOTCHECKEDOUT, target.given + ": is not checked out.");
        } else if (!myCheckout(*record)) {
            problems.add(SCC_E_NOTCHECKEDOUT,
                         target.given + ": is checked out by " + holder(*otherCheckout(*record)) + ", not by you here.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }
    // The working files go back first and the check-outs are released after:
    // a crash in between leaves the files checked out, so that the next undo
    // finishes the work, instead of free files that still hold the changes.
    Store store(store_);
    std::vector<std::pair<const Target *, int>> reverted;  // working files at the latest version now
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        const Event *latest = record->latest();
        Working w = examine(*record, session.workspace, target.path);
        sys::Error error;
        if (w.exists && w.regular && !w.modified && w.base == latest->version) {
            if (!sys::setReadOnly(target.path, true, error)) {
                message(SCC_MSG_WARNING, error.text);
            }
        } else {
            std::string data;
            if (!store.readVersion(record->id, *latest, data, error) ||
                !writeWorking(target.path, data, true, error)) {
                problems.add(codeFor(error), target.given + ": " + error.text);
                continue;
            }
        }
        reverted.emplace_back(&target, latest->version);
        remember(session.workspace, *record, latest->version, target.path, latest->hash);
    }
    // When the check-outs cannot be released after all, the caller learns
    // which working files already lost their changes.
    auto reportReverted = [&]() {
        for (const auto &[target, version] : reverted) {
            message(SCC_MSG_WARNING, target->given + ": holds version " + std::to_string(version) +
                                         " now (read-only), but is still checked out; undo the check-out again.");
        }
    };
    if (!problems.empty()) {
        saveWorkspace(session);
        const SCCRTN code = problems.report(*this);
        reportReverted();
        return code;
    }
    for (const Target &target : targets) {
        auto &holders = session.index.find(target.relative)->checkouts;
        holders.erase(std::remove_if(holders.begin(), holders.end(), [&](const Checkout &c) { return mine(c); }),
                      holders.end());
    }
    if ((result = saveIndex(session, storePaths(targets), "The check-outs were not released")) != SCC_OK) {
        // The record still learns what the working files hold now.
        saveWorkspace(session);
        reportReverted();
        return result;
    }
    saveWorkspace(session);
    return SCC_OK;
}

SCCRTN Provider::remove(SCCLONG count, const char **names, const char *comment) {
    std::vector<Target> targets;
    Session session;
    SCCRTN result = startCommand(count, names, true, targets, session);
    if (result != SCC_OK) {
        return result;
    }
    Problems problems;
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        if (!record || record->removed) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
        } else if (record->checkedOut()) {
            problems.add(SCC_E_FILEISCHECKEDOUT,
                         target.given + ": is checked out by " + holder(record->checkouts.front()) + " and stays.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }
    const std::string time = sys::utcStamp(sys::now());
    for (const Target &target : targets) {
        FileRecord *record = session.index.find(target.relative);
        Event event;
        event.kind = Event::Kind::Removed;
        event.time = time;
        event.user = user_;
        event.comment = textOf(comment);
        record->events.push_back(std::move(event));
        record->removed = true;
    }
    if ((result = saveIndex(session, storePaths(targets))) != SCC_OK) {
        return result;
    }
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        session.workspace.entries.erase(record->id);
        sys::FileInfo info;
        sys::Error error;
        // No longer under source control: the working file is the user's to edit.
        if (sys::statFile(target.path, info, error) && info.isRegular && !sys::setReadOnly(target.path, false, error)) {
            message(SCC_MSG_WARNING, error.text);
        }
    }
    saveWorkspace(session);
    return SCC_OK;
}

SCCRTN Provider::get(SCCLONG count, const char **names) {
    return getFiles(count, names, true, nullptr);
}

bool Provider::cancelled() const {
    return cancelMode_ && textOut_ && textOut_("", SCC_MSG_DOCANCEL) == SCC_MSG_RTN_CANCEL;
}

SCCRTN Provider::getFiles(SCCLONG count, const char **names, bool cancellable, std::vector<std::string> *fetched) {
    SCCRTN result = SCC_OK;
    if (!checkNames(count, names, result)) {
        return result;
    }
    Problems problems;
    std::vector<Target> targets = resolveAll(count, names, problems);
    if (!problems.empty()) {
        return problems.report(*this);
    }
    // A get changes no version; from a read-only store it still fills the
    // working folder, only the record of the folder stays as it was.
    const bool storeWritable = !Store(store_).markedReadOnly();
    Session session;
    if ((result = begin(session, storeWritable)) != SCC_OK) {
        return result;
    }
    std::vector<Working> working;
    std::vector<bool> skip;
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        working.emplace_back();
        skip.push_back(false);
        if (!record || record->removed) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
            continue;
        }
        working.back() = examine(*record, session.workspace, target.path);
        const Working &w = working.back();
        if (myCheckout(*record)) {
            skip.back() = true;  // the user's copy to work on: never replaced
            message(SCC_MSG_INFO, target.given + ": is checked out by you; the working file stays as it is.");
        } else if (w.exists && !w.regular) {
            problems.add(SCC_E_INVALIDFILEPATH, target.given + ": is not a file.");
        } else if (w.exists && w.modified) {
            problems.add(SCC_E_OPNOTPERFORMED,
                         target.given + ": the working file has changes of its own that a get would overwrite.");
        }
    }
    if (!problems.empty()) {
        return problems.report(*this);
    }
    Store store(store_);
    // With cancel mode on, the caller is asked between files whether to stop:
    // every file is replaced whole, and the record of the folder names those
    // written so far, so a stop leaves nothing half done.
    const bool askCancel = cancellable && cancelMode_ && textOut_;
    bool stopped = false;
    if (askCancel) {
        textOut_("", SCC_MSG_STARTCANCEL);
    }
    for (size_t i = 0; i < targets.size(); ++i) {
        if (skip[i]) {
            continue;
        }
        if (askCancel && cancelled()) {
            stopped = true;
            break;
        }
        const Target &target = targets[i];
        const FileRecord *record = session.index.find(target.relative);
        const Event *latest = record->latest();
        const Working &w = working[i];
        sys::Error error;
        if (fetched) {
            fetched->push_back(target.path);
        }
        if (w.exists && w.base == latest->version) {
            if (!sys::setReadOnly(target.path, true, error)) {
                message(SCC_MSG_WARNING, error.text);
            }
        } else {
            std::string data;
            if (!store.readVersion(record->id, *latest, data, error) ||
                !writeWorking(target.path, data, true, error)) {
                problems.add(codeFor(error), target.given + ": " + error.text);
                continue;
            }
        }
        remember(session.workspace, *record, latest->version, target.path, latest->hash);
    }
    if (storeWritable) {
        saveWorkspace(session);
    }
    if (askCancel) {
        textOut_("", SCC_MSG_STOPCANCEL);
    }
    if (stopped) {
        message(SCC_MSG_INFO, "The get was cancelled; the files got so far stay.");
        problems.report(*this);
        return SCC_I_OPERATIONCANCELED;
    }
    return problems.report(*this);
}

// --- examining the store ------------------------------------------------------------------

SCCRTN Provider::diff(const char *name, SCCLONG flags) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    Target target;
    std::string problem;
    if (!resolve(name, target, problem)) {
        message(SCC_MSG_ERROR, problem);
        return SCC_E_INVALIDFILEPATH;
    }
    Session session;
    SCCRTN result = begin(session, false);
    if (result != SCC_OK) {
        return result;
    }
    const FileRecord *record = session.index.find(target.relative);
    if (!record || record->removed) {
        message(SCC_MSG_ERROR, target.given + ": is not under source control.");
        return SCC_E_FILENOTCONTROLLED;
    }
    sys::FileInfo info;
    sys::Error error;
    if (!sys::statFile(target.path, info, error) || !info.exists) {
        message(SCC_MSG_ERROR, target.given + ": the working file does not exist.");
        return SCC_E_FILENOTEXIST;
    }
    // Stored versions never change once the index names them: the comparison
    // needs no lock.
    session.lock.release();
    session.batchGuard = std::unique_lock<std::mutex>();
    return compareFile(*record, target, flags, (flags & SCC_DIFF_QUICK_DIFF) != 0);
}

SCCRTN Provider::compareFile(const FileRecord &record, const Target &target, SCCLONG flags, bool quiet) const {
    const Event *latest = record.latest();
    std::string working;
    std::string stored;
    sys::Error error;
    if (!sys::readFile(target.path, working, error) ||
        !Store(store_).readVersion(record.id, *latest, stored, error)) {
        message(SCC_MSG_ERROR, error.text);
        return codeFor(error);
    }
    const bool sameBytes = working == stored;
    if (quiet) {
        return sameBytes ? SCC_OK : SCC_I_FILEDIFFERS;
    }
    const std::string label = target.relative.substr(prefix_.size());
    if (sameBytes) {
        message(SCC_MSG_INFO, label + ": no differences from version " + std::to_string(latest->version) + ".");
        return SCC_OK;
    }
    if (record.binary || isBinaryContent(working) || isBinaryContent(stored)) {
        message(SCC_MSG_INFO, label + ": the binary working file differs from version " +
                                  std::to_string(latest->version) + ".");
        return SCC_I_FILEDIFFERS;
    }
    DiffOptions options;
    options.ignoreCase = (flags & SCC_DIFF_IGNORECASE) != 0;
    options.ignoreSpace = (flags & SCC_DIFF_IGNORESPACE) != 0;
    std::vector<std::string> lines;
    if (!unifiedDiff(stored, working, options, lines)) {
        message(SCC_MSG_INFO, label + ": no differences from version " + std::to_string(latest->version) +
                                  " but in case or blanks.");
        return SCC_OK;
    }
    message(SCC_MSG_INFO, "--- " + label + "\t(version " + std::to_string(latest->version) + ")");
    message(SCC_MSG_INFO, "+++ " + label + "\t(working file)");
    for (const std::string &line : lines) {
        message(SCC_MSG_INFO, line);
    }
    return SCC_I_FILEDIFFERS;
}

SCCRTN Provider::history(SCCLONG count, const char **names) {
    SCCRTN result = SCC_OK;
    if (!checkNames(count, names, result)) {
        return result;
    }
    Problems problems;
    std::vector<Target> targets = resolveAll(count, names, problems);
    Session session;
    if ((result = beginReading(session, false)) != SCC_OK) {
        return result;
    }
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        if (!record) {
            problems.add(SCC_E_FILENOTCONTROLLED, target.given + ": is not under source control.");
            continue;
        }
        std::vector<std::string> lines;
        lines.push_back("History of " + record->path + " (" + plural(record->latestVersion(), "version") +
                        (record->removed ? ", removed" : "") + ")");
        for (auto it = record->events.rbegin(); it != record->events.rend(); ++it) {
            lines.push_back(describeEvent(*it));
            commentLines(lines, it->comment);
        }
        for (const std::string &line : lines) {
            message(SCC_MSG_INFO, line);
        }
    }
    return problems.report(*this);
}

SCCRTN Provider::properties(const char *name) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    Target target;
    std::string problem;
    if (!resolve(name, target, problem)) {
        message(SCC_MSG_ERROR, problem);
        return SCC_E_INVALIDFILEPATH;
    }
    Session session;
    const SCCRTN result = beginReading(session, false);
    if (result != SCC_OK) {
        return result;
    }
    const FileRecord *record = session.index.find(target.relative);
    if (!record || record->removed) {
        message(SCC_MSG_ERROR, target.given + ": is not under source control.");
        return SCC_E_FILENOTCONTROLLED;
    }
    const Event *latest = record->latest();
    Working w = examine(*record, session.workspace, target.path);
    std::string state;
    if (!w.exists) {
        state = "missing";
    } else if (w.modified) {
        state = "changed";
    } else if (w.base < latest->version) {
        state = "version " + std::to_string(w.base) + ", out of date";
    } else {
        state = "up to date";
    }
    message(SCC_MSG_INFO, "File:           " + record->path);
    message(SCC_MSG_INFO, "Project:        " + project_);
    message(SCC_MSG_INFO, std::string("Type:           ") + (record->binary ? "binary" : "text"));
    message(SCC_MSG_INFO, "Latest version: " + std::to_string(latest->version) + " of " + latest->time + " by " +
                              latest->user + ", " + plural(latest->size, "byte"));
    if (record->checkedOut()) {
        for (const Checkout &checkout : record->checkouts) {
            message(SCC_MSG_INFO, "Checked out:    by " + holder(checkout) + " since " + checkout.time);
        }
    } else {
        message(SCC_MSG_INFO, "Checked out:    no");
    }
    message(SCC_MSG_INFO, "Working file:   " + state);
    message(SCC_MSG_INFO, "Store:          " + store_);
    return SCC_OK;
}

SCCRTN Provider::queryInfo(SCCLONG count, const char **names, SCCLONG *status) {
    if (!requireProject()) {
        return SCC_E_PROJNOTOPEN;
    }
    if (count < 0 || (count > 0 && (!names || !status))) {
        message(SCC_MSG_ERROR, "The list of files or of status words is missing.");
        return SCC_E_NONSPECIFICERROR;
    }
    for (SCCLONG i = 0; i < count; ++i) {
        status[i] = SCC_STATUS_INVALID;
    }
    Session session;
    const SCCRTN result = beginReading(session, false);
    if (result != SCC_OK) {
        return result;
    }
    PlainFolders plain;
    for (SCCLONG i = 0; i < count; ++i) {
        Target target;
        std::string problem;
        if (!resolve(names[i], target, problem, &plain)) {
            continue;
        }
        const FileRecord *record = session.index.find(target.relative);
        status[i] = record ? statusOf(record, examine(*record, session.workspace, target.path))
                           : SCC_STATUS_NOTCONTROLLED;
        watch(target.relative, status[i]);
    }
    return SCC_OK;
}

SCCRTN Provider::runScc(SCCLONG count, const char **names) {
    SCCRTN result = SCC_OK;
    if (!checkNames(count, names, result)) {
        return result;
    }
    Problems problems;
    std::vector<Target> targets = resolveAll(count, names, problems);
    Session session;
    if ((result = beginReading(session, false)) != SCC_OK) {
        return result;
    }
    if (count == 0) {
        for (const FileRecord &record : session.index.files) {
            Target target;
            if (!record.removed && localPathOf(record.path, target.path)) {
                target.given = record.path;
                target.relative = record.path.substr(prefix_.size());
                const bool inside = linksStayInside(target);
                target.relative = record.path;
                if (inside) {
                    targets.push_back(std::move(target));
                } else {
                    message(SCC_MSG_INFO, record.path + "  not examined: a symbolic link leads out of the project");
                }
            }
        }
    }
    message(SCC_MSG_INFO, "Project " + project_ + " in " + store_ + ", working folder " + root_ + ":");
    for (const Target &target : targets) {
        const FileRecord *record = session.index.find(target.relative);
        if (!record) {
            message(SCC_MSG_INFO, target.relative + "  not under source control");
            continue;
        }
        if (record->removed) {
            message(SCC_MSG_INFO, record->path + "  removed");
            continue;
        }
        Working w = examine(*record, session.workspace, target.path);
        SCCLONG status = statusOf(record, w);
        std::string line = record->path + "  version " + std::to_string(record->latestVersion());
        if (status & SCC_STATUS_CHECKEDOUT) {
            line += ", checked out by you";
        } else if (status & SCC_STATUS_OUTOTHER) {
            line += ", checked out by " + holder(*otherCheckout(*record));
        }
        if (!w.exists) {
            line += ", working file missing";
        } else if (status & SCC_STATUS_MODIFIED) {
            line += ", changed";
        }
        if (w.exists && (status & SCC_STATUS_OUTOFDATE)) {
            line += ", out of date";
        }
        message(SCC_MSG_INFO, line);
    }
    return problems.report(*this);
}

SCCRTN Provider::populateList(int command, SCCLONG count, const char **names, POPLISTFUNC populate,
                              void *callerData, SCCLONG *status, SCCLONG) {
    SCCRTN result = SCC_OK;
    if (!checkNames(count, names, result)) {
        return result;
    }
    if (command < SCC_COMMAND_GET || command > SCC_COMMAND_PROPERTIES) {
        message(SCC_MSG_ERROR, "Command " + std::to_string(command) + " has no file list.");
        return SCC_E_OPNOTSUPPORTED;
    }
    Session session;
    if ((result = beginReading(session, false)) != SCC_OK) {
        return result;
    }
    PlainFolders plain;
    for (SCCLONG i = 0; i < count; ++i) {
        Target target;
        std::string problem;
        if (status) {
            status[i] = SCC_STATUS_INVALID;
        }
        if (!names[i]) {
            continue;  // nothing to name in a callback
        }
        bool keep = false;
        if (resolve(names[i], target, problem, &plain)) {
            const FileRecord *record = session.index.find(target.relative);
            sys::FileInfo info;
            sys::Error error;
            const bool isFile = sys::statFile(target.path, info, error) && info.isRegular;
            Working w;
            if (record) {
                w = examine(*record, session.workspace, target.path);
            }
            const SCCLONG word = statusOf(record, w);
            if (status) {
                status[i] = word;
            }
            const bool controlled = record && !record->removed;
            const bool free = controlled && !record->checkedOut();
            const bool ours = controlled && myCheckout(*record);
            const bool mayCheckOut = controlled && !ours && (free || session.settings.multiCheckout);
            switch (command) {
            case SCC_COMMAND_GET:
                keep = controlled && !ours && !(w.exists && w.modified);
                break;
            case SCC_COMMAND_CHECKOUT:
                keep = mayCheckOut && !(w.exists && w.modified && w.base != record->latestVersion());
                break;
            case SCC_COMMAND_CHECKIN:
                keep = ours && isFile;
                break;
            case SCC_COMMAND_UNCHECKOUT:
                keep = ours;
                break;
            case SCC_COMMAND_ADD:
                keep = !controlled && isFile;
                break;
            case SCC_COMMAND_REMOVE:
                keep = free;
                break;
            case SCC_COMMAND_DIFF:
                keep = controlled && isFile;
                break;
            case SCC_COMMAND_HISTORY:
                keep = record != nullptr;
                break;
            case SCC_COMMAND_PROPERTIES:
                keep = controlled;
                break;
            default:  // rename: not offered
                keep = false;
                break;
            }
        }
        if (populate && !populate(callerData, keep ? 1 : 0, status ? status[i] : 0, names[i])) {
            break;  // the caller wants no more
        }
    }
    return SCC_OK;
}

} // namespace localstore
