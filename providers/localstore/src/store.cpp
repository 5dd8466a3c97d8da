#include "store.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace localstore {

namespace {

const char kIndexHeader[] = "localstore index";
const char kWorkspaceHeader[] = "localstore workspace";

// The most the provider reads of each file of the store before it calls the
// file damaged. An index of 10 000 files is about 1.2 MB, a workspace record
// of as many about 0.6 MB; writers start the journal afresh past 256 KiB, so
// only one enormous save can take it further. Version files are capped by the
// size the index records for them.
constexpr uint64_t kIndexLimit = 64ull << 20;
constexpr uint64_t kWorkspaceLimit = 64ull << 20;
constexpr uint64_t kJournalReadLimit = 64ull << 20;
constexpr uint64_t kSettingsLimit = 1ull << 20;

std::vector<std::string> splitFields(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool parseUnsigned(const std::string &text, uint64_t &value) {
    if (text.empty() || text.size() > 20) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        uint64_t next = value * 10 + static_cast<uint64_t>(c - '0');
        if (next / 10 != value) {
            return false;
        }
        value = next;
    }
    return true;
}

bool parseSigned(const std::string &text, int64_t &value) {
    uint64_t magnitude = 0;
    if (!text.empty() && text[0] == '-') {
        if (!parseUnsigned(text.substr(1), magnitude) || magnitude > static_cast<uint64_t>(INT64_MAX)) {
            return false;
        }
        value = -static_cast<int64_t>(magnitude);
        return true;
    }
    if (!parseUnsigned(text, magnitude) || magnitude > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    value = static_cast<int64_t>(magnitude);
    return true;
}

bool parseVersion(const std::string &text, int &value) {
    uint64_t number = 0;
    if (!parseUnsigned(text, number) || number == 0 || number > 0x7fffffff) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool parseHash(const std::string &text, uint64_t &value) {
    if (text.size() != 16) {
        return false;
    }
    value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else {
            return false;
        }
        value = (value << 4) | static_cast<uint64_t>(digit);
    }
    return true;
}

// Reads a "format N" line; refuses formats newer than this provider's.
bool checkFormat(const std::vector<std::string> &fields, int &format, std::string &problem) {
    uint64_t number = 0;
    if (fields.size() != 2 || fields[0] != "format" || !parseUnsigned(fields[1], number) || number == 0) {
        problem = "no format number";
        return false;
    }
    if (number > static_cast<uint64_t>(kStoreFormat)) {
        problem = "format " + fields[1] + " is newer than this provider reads (up to " +
                  std::to_string(kStoreFormat) + ")";
        return false;
    }
    format = static_cast<int>(number);
    return true;
}

std::string joinFields(std::initializer_list<std::string> fields) {
    std::string line;
    bool first = true;
    for (const std::string &field : fields) {
        if (!first) {
            line += '\t';
        }
        line += field;
        first = false;
    }
    line += '\n';
    return line;
}

} // namespace

std::string escapeField(const std::string &text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool unescapeField(const std::string &field, std::string &text) {
    text.clear();
    text.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c != '%') {
            text += c;
            continue;
        }
        if (i + 2 >= field.size()) {
            return false;
        }
        int value = 0;
        for (int k = 1; k <= 2; ++k) {
            char h = field[i + static_cast<size_t>(k)];
            value <<= 4;
            if (h >= '0' && h <= '9') {
                value |= h - '0';
            } else if (h >= 'A' && h <= 'F') {
                value |= h - 'A' + 10;
            } else if (h >= 'a' && h <= 'f') {
                value |= h - 'a' + 10;
            } else {
                return false;
            }
        }
        text += static_cast<char>(value);
        i += 2;
    }
    return true;
}

uint64_t contentHash(const std::string &data) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : data) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string hashText(uint64_t hash) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIx64, hash);
    return text;
}

bool isBinaryContent(const std::string &data) {
    return std::memchr(data.data(), '\0', data.size()) != nullptr;
}

// --- records -------------------------------------------------------------------

const Event *FileRecord::latest() const {
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        if (it->kind == Event::Kind::Version) {
            return &*it;
        }
    }
    return nullptr;
}

int FileRecord::latestVersion() const {
    const Event *event = latest();
    return event ? event->version : 0;
}

const Event *FileRecord::version(int number) const {
    for (const Event &event : events) {
        if (event.kind == Event::Kind::Version && event.version == number) {
            return &event;
        }
    }
    return nullptr;
}

FileRecord *Index::find(const std::string &relative) {
    auto it = keys_.find(sys::pathKey(relative));
    return it == keys_.end() ? nullptr : &files[it->second];
}

const FileRecord *Index::find(const std::string &relative) const {
    auto it = keys_.find(sys::pathKey(relative));
    return it == keys_.end() ? nullptr : &files[it->second];
}

FileRecord &Index::add(const std::string &relative, bool binary) {
    FileRecord record;
    record.id = nextId++;
    record.path = relative;
    record.binary = binary;
    keys_[sys::pathKey(relative)] = files.size();
    former_.erase(sys::pathKey(relative));
    files.push_back(std::move(record));
    return files.back();
}

const FileRecord *Index::formerlyAt(const std::string &relative) const {
    auto it = former_.find(sys::pathKey(relative));
    return it == former_.end() ? nullptr : &files[it->second];
}

void Index::rename(FileRecord &record, const std::string &relative, const std::string &time,
                   const std::string &user) {
    const size_t position = static_cast<size_t>(&record - files.data());
    Event event;
    event.kind = Event::Kind::Renamed;
    event.time = time;
    event.user = user;
    event.from = record.path;
    event.to = relative;
    keys_.erase(sys::pathKey(record.path));
    former_[sys::pathKey(record.path)] = position;
    former_.erase(sys::pathKey(relative));
    keys_[sys::pathKey(relative)] = position;
    record.path = relative;
    record.events.push_back(std::move(event));
}

bool Index::hasSubproject(const std::string &relative) const {
    for (const std::string &sub : subprojects) {
        if (sys::pathKey(sub) == sys::pathKey(relative)) {
            return true;
        }
    }
    return false;
}

int Index::neededFormat() const {
    if (!subprojects.empty()) {
        return 2;
    }
    for (const FileRecord &record : files) {
        if (record.checkouts.size() > 1) {
            return 2;
        }
        for (const Event &event : record.events) {
            if (event.kind == Event::Kind::Renamed) {
                return 2;
            }
        }
    }
    return kBaseFormat;
}

// --- index file ------------------------------------------------------------------

bool parseIndex(const std::string &text, Index &index, std::string &problem) {
    index = Index();
    std::vector<std::string> lines = splitLines(text);
    if (lines.size() < 2 || lines[0] != kIndexHeader) {
        problem = "not a localstore index";
        return false;
    }
    if (!checkFormat(splitFields(lines[1]), index.format, problem)) {
        return false;
    }
    bool ended = false;
    FileRecord *current = nullptr;
    std::vector<std::pair<std::string, size_t>> renames;  // old path key, file position
    for (size_t n = 2; n < lines.size(); ++n) {
        const std::string &line = lines[n];
        if (ended) {
            problem = "text after the end line";
            return false;
        }
        std::vector<std::string> f = splitFields(line);
        const std::string &kind = f[0];
        bool ok = true;
        auto owner = [&](const std::string &idField) -> FileRecord * {
            uint64_t id = 0;
            if (!current || !parseUnsigned(idField, id) || id != current->id) {
                return nullptr;
            }
            return current;
        };
        if (kind == "end" && f.size() == 1) {
            ended = true;
        } else if (kind == "project" && f.size() == 2) {
            ok = unescapeField(f[1], index.project);
        } else if (kind == "created" && f.size() == 3) {
            ok = unescapeField(f[1], index.created) && unescapeField(f[2], index.createdBy);
        } else if (kind == "comment" && f.size() == 2) {
            ok = unescapeField(f[1], index.comment);
        } else if (kind == "next-id" && f.size() == 2) {
            ok = parseUnsigned(f[1], index.nextId);
        } else if (kind == "generation" && f.size() == 2) {
            ok = parseUnsigned(f[1], index.generation);
        } else if (kind == "file" && f.size() == 5) {
            FileRecord record;
            ok = parseUnsigned(f[1], record.id) && (f[2] == "text" || f[2] == "binary") &&
                 (f[3] == "active" || f[3] == "removed") && unescapeField(f[4], record.path) &&
                 !record.path.empty() && record.id < index.nextId;
            if (ok) {
                record.binary = f[2] == "binary";
                record.removed = f[3] == "removed";
                std::string key = sys::pathKey(record.path);
                ok = index.keys_.emplace(key, index.files.size()).second;
                index.files.push_back(std::move(record));
                current = &index.files.back();
            }
        } else if (kind == "version" && f.size() == 8) {
            Event event;
            FileRecord *record = owner(f[1]);
            ok = record && parseVersion(f[2], event.version) && unescapeField(f[3], event.time) &&
                 unescapeField(f[4], event.user) && parseUnsigned(f[5], event.size) &&
                 parseHash(f[6], event.hash) && unescapeField(f[7], event.comment) &&
                 event.version == record->latestVersion() + 1;
            if (ok) {
                record->events.push_back(std::move(event));
            }
        } else if (kind == "removed" && f.size() == 5) {
            Event event;
            event.kind = Event::Kind::Removed;
            FileRecord *record = owner(f[1]);
            ok = record && unescapeField(f[2], event.time) && unescapeField(f[3], event.user) &&
                 unescapeField(f[4], event.comment);
            if (ok) {
                record->events.push_back(std::move(event));
            }
        } else if (kind == "renamed" && f.size() == 6 && index.format >= 2) {
            Event event;
            event.kind = Event::Kind::Renamed;
            FileRecord *record = owner(f[1]);
            ok = record && unescapeField(f[2], event.time) && unescapeField(f[3], event.user) &&
                 unescapeField(f[4], event.from) && unescapeField(f[5], event.to) && !event.from.empty() &&
                 !event.to.empty();
            if (ok) {
                renames.emplace_back(sys::pathKey(event.from), index.files.size() - 1);
                record->events.push_back(std::move(event));
            }
        } else if (kind == "subproject" && f.size() == 2 && index.format >= 2) {
            std::string sub;
            ok = unescapeField(f[1], sub) && !sub.empty();
            if (ok) {
                index.subprojects.push_back(sub);
            }
        } else if (kind == "checkout" && f.size() == 7) {
            FileRecord *record = owner(f[1]);
            ok = record && (record->checkouts.empty() || index.format >= 2);
            if (ok) {
                Checkout out;
                ok = unescapeField(f[2], out.user) && unescapeField(f[3], out.time) &&
                     parseVersion(f[4], out.base) && unescapeField(f[5], out.folder) &&
                     unescapeField(f[6], out.comment);
                record->checkouts.push_back(std::move(out));
            }
        } else {
            ok = false;
        }
        if (!ok) {
            problem = "line " + std::to_string(n + 1) + " cannot be read";
            return false;
        }
    }
    if (!ended) {
        problem = "the end line is missing";
        return false;
    }
    for (const FileRecord &record : index.files) {
        if (record.latestVersion() == 0) {
            problem = "file " + std::to_string(record.id) + " has no version";
            return false;
        }
    }
    // The last rename away from a name wins; a file now at that name hides it.
    for (auto &[key, position] : renames) {
        index.former_[key] = position;
    }
    for (auto it = index.former_.begin(); it != index.former_.end();) {
        it = index.keys_.count(it->first) ? index.former_.erase(it) : std::next(it);
    }
    return true;
}

std::string formatIndex(const Index &index) {
    std::string out;
    out.reserve(64 + index.files.size() * 160);
    out += kIndexHeader;
    out += '\n';
    out += joinFields({"format", std::to_string(index.neededFormat())});
    out += joinFields({"project", escapeField(index.project)});
    out += joinFields({"created", escapeField(index.created), escapeField(index.createdBy)});
    out += joinFields({"comment", escapeField(index.comment)});
    out += joinFields({"next-id", std::to_string(index.nextId)});
    out += joinFields({"generation", std::to_string(index.generation)});
    for (const std::string &sub : index.subprojects) {
        out += joinFields({"subproject", escapeField(sub)});
    }
    for (const FileRecord &record : index.files) {
        const std::string id = std::to_string(record.id);
        out += joinFields({"file", id, record.binary ? "binary" : "text", record.removed ? "removed" : "active",
                           escapeField(record.path)});
        for (const Event &event : record.events) {
            if (event.kind == Event::Kind::Version) {
                out += joinFields({"version", id, std::to_string(event.version), escapeField(event.time),
                                   escapeField(event.user), std::to_string(event.size), hashText(event.hash),
                                   escapeField(event.comment)});
            } else if (event.kind == Event::Kind::Removed) {
                out += joinFields({"removed", id, escapeField(event.time), escapeField(event.user),
                                   escapeField(event.comment)});
            } else {
                out += joinFields({"renamed", id, escapeField(event.time), escapeField(event.user),
                                   escapeField(event.from), escapeField(event.to)});
            }
        }
        for (const Checkout &c : record.checkouts) {
            out += joinFields({"checkout", id, escapeField(c.user), escapeField(c.time), std::to_string(c.base),
                               escapeField(c.folder), escapeField(c.comment)});
        }
    }
    out += "end\n";
    return out;
}

// --- workspace records ---------------------------------------------------------------

bool parseWorkspace(const std::string &text, Workspace &workspace, std::string &problem) {
    workspace = Workspace();
    std::vector<std::string> lines = splitLines(text);
    int format = 0;
    if (lines.size() < 2 || lines[0] != kWorkspaceHeader) {
        problem = "not a localstore workspace record";
        return false;
    }
    if (!checkFormat(splitFields(lines[1]), format, problem)) {
        return false;
    }
    bool ended = false;
    for (size_t n = 2; n < lines.size(); ++n) {
        std::vector<std::string> f = splitFields(lines[n]);
        bool ok = !ended;
        if (!ok) {
        } else if (f[0] == "end" && f.size() == 1) {
            ended = true;
        } else if (f[0] == "user" && f.size() == 2) {
            ok = unescapeField(f[1], workspace.user);
        } else if (f[0] == "folder" && f.size() == 2) {
            ok = unescapeField(f[1], workspace.folder);
        } else if (f[0] == "entry" && f.size() == 6) {
            uint64_t id = 0;
            WorkspaceEntry entry;
            ok = parseUnsigned(f[1], id) && parseVersion(f[2], entry.base) && parseUnsigned(f[3], entry.size) &&
                 parseSigned(f[4], entry.mtime) && parseHash(f[5], entry.hash);
            if (ok) {
                workspace.entries[id] = entry;
            }
        } else {
            ok = false;
        }
        if (!ok) {
            problem = "line " + std::to_string(n + 1) + " cannot be read";
            return false;
        }
    }
    if (!ended) {
        problem = "the end line is missing";
        return false;
    }
    return true;
}

std::string formatWorkspace(const Workspace &workspace) {
    std::string out;
    out.reserve(64 + workspace.entries.size() * 64);
    out += kWorkspaceHeader;
    out += '\n';
    out += joinFields({"format", std::to_string(kBaseFormat)});
    out += joinFields({"user", escapeField(workspace.user)});
    out += joinFields({"folder", escapeField(workspace.folder)});
    for (const auto &[id, entry] : workspace.entries) {
        out += joinFields({"entry", std::to_string(id), std::to_string(entry.base), std::to_string(entry.size),
                           std::to_string(entry.mtime), hashText(entry.hash)});
    }
    out += "end\n";
    return out;
}

// --- the store folder ------------------------------------------------------------------

std::string Store::indexPath() const {
    return sys::join(folder_, "index.txt");
}

std::string Store::lockPath() const {
    return sys::join(folder_, "lock");
}

std::string Store::versionPath(uint64_t id, int version) const {
    return sys::join(folder_, "versions/" + std::to_string(id) + "." + std::to_string(version));
}

std::string Store::workspacePath(const std::string &user, const std::string &workingFolder) const {
    std::string key = user;
    key += '\n';
    key += sys::pathKey(workingFolder);
    return sys::join(folder_, "workspaces/" + hashText(contentHash(key)) + ".txt");
}

std::string Store::tempPath(const std::string &name) const {
    return sys::join(folder_, "tmp/" + name + "." + std::to_string(sys::processId()));
}

bool Store::exists() const {
    sys::FileInfo info;
    sys::Error error;
    return sys::statFile(indexPath(), info, error) && info.exists;
}

bool Store::create(Index &index, sys::Error &error) {
    for (const char *sub : {"versions", "workspaces", "tmp"}) {
        if (!sys::makeDirectories(sys::join(folder_, sub), error)) {
            return false;
        }
    }
    sys::FileLock lock;
    if (!lock.acquire(lockPath(), true, true, error)) {
        return false;
    }
    if (exists()) {
        return true;  // made by someone else meanwhile; the caller loads it
    }
    return save(index, error);
}

bool Store::markedReadOnly() const {
    sys::FileInfo info;
    sys::Error error;
    if (sys::statFile(indexPath(), info, error) && info.exists && info.readOnly) {
        return true;
    }
#ifndef _WIN32
    // A Windows folder's read-only attribute says nothing about its files.
    if (sys::statFile(folder_, info, error) && info.exists && info.readOnly) {
        return true;
    }
#endif
    return false;
}

bool Store::load(Index &index, sys::Error &error, std::string &problem) const {
    std::string text;
    if (!sys::readStoreFile(indexPath(), 0, kIndexLimit, text, error)) {
        return false;
    }
    if (!parseIndex(text, index, problem)) {
        problem = "the index " + indexPath() + " is damaged or unknown: " + problem;
        return false;
    }
    return true;
}

bool Store::save(Index &index, sys::Error &error) const {
    ++index.generation;
    if (!sys::replaceFile(tempPath("index.txt"), indexPath(), formatIndex(index), true, error)) {
        --index.generation;
        return false;
    }
    sys::flushDirectory(folder_);
    return true;
}

bool Store::writeVersion(uint64_t id, int version, const std::string &data, sys::Error &error) const {
    std::string name = std::to_string(id) + "." + std::to_string(version);
    return sys::replaceFile(tempPath(name), versionPath(id, version), data, false, error);
}

bool Store::readVersion(uint64_t id, const Event &version, std::string &data, sys::Error &error) const {
    return sys::readStoreFile(versionPath(id, version.version), 0, version.size, data, error);
}

bool Store::flushVersions(const std::vector<std::pair<uint64_t, int>> &written, sys::Error &error) const {
    if (written.size() > 16 && sys::canFlushFileSystem()) {
        sys::flushFileSystem(folder_);
    } else {
        // Written first and flushed afterwards, the files share the disk's
        // work: most of them are on disk by the time their turn comes.
        for (const auto &[id, version] : written) {
            if (!sys::flushFile(versionPath(id, version), error)) {
                return false;
            }
        }
    }
    sys::flushDirectory(sys::join(folder_, "versions"));
    return true;
}

bool Store::loadWorkspace(Workspace &workspace, sys::Error &error) const {
    std::string path = workspacePath(workspace.user, workspace.folder);
    std::string text;
    if (!sys::readStoreFile(path, 0, kWorkspaceLimit, text, error)) {
        workspace.entries.clear();
        // None yet, or damaged like one that does not parse (the next save
        // replaces it): either way every working file is looked at.
        if (error.kind == sys::ErrorKind::NotFound || error.kind == sys::ErrorKind::NotRegular ||
            error.kind == sys::ErrorKind::TooLarge) {
            error = sys::Error();
            return true;
        }
        return false;
    }
    Workspace read;
    std::string problem;
    if (!parseWorkspace(text, read, problem) || read.user != workspace.user) {
        // A damaged record only costs a look at file contents.
        workspace.entries.clear();
        return true;
    }
    workspace.entries = std::move(read.entries);
    return true;
}

bool Store::saveWorkspace(const Workspace &workspace, sys::Error &error) const {
    std::string path = workspacePath(workspace.user, workspace.folder);
    return sys::replaceFile(tempPath(sys::lastComponent(path)), path, formatWorkspace(workspace), true, error);
}

bool parseSettings(const std::string &text, Settings &settings, std::string &problem) {
    settings = Settings();
    std::vector<std::string> lines = splitLines(text);
    for (size_t n = 0; n < lines.size(); ++n) {
        std::string line = lines[n];
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') {
            continue;
        }
        const size_t gap = line.find_first_of(" \t", start);
        const std::string name = line.substr(start, gap == std::string::npos ? std::string::npos : gap - start);
        std::string value;
        if (gap != std::string::npos) {
            const size_t from = line.find_first_not_of(" \t", gap);
            const size_t to = line.find_last_not_of(" \t");
            if (from != std::string::npos) {
                value = line.substr(from, to - from + 1);
            }
        }
        bool *flag = name == "multi-checkout"           ? &settings.multiCheckout
                     : name == "checkout-local-version" ? &settings.checkoutLocalVersion
                                                        : nullptr;
        if (!flag || (value != "yes" && value != "no")) {
            problem = "line " + std::to_string(n + 1) + " cannot be read";
            return false;
        }
        *flag = value == "yes";
    }
    return true;
}

bool Store::loadSettings(Settings &settings, sys::Error &error, std::string &problem) const {
    settings = Settings();
    const std::string path = sys::join(folder_, "settings.txt");
    std::string text;
    if (!sys::readStoreFile(path, 0, kSettingsLimit, text, error)) {
        if (error.kind == sys::ErrorKind::NotFound) {
            error = sys::Error();
            return true;
        }
        return false;
    }
    if (!parseSettings(text, settings, problem)) {
        problem = "the settings " + path + " cannot be read: " + problem;
        return false;
    }
    return true;
}

std::string Store::journalPath() const {
    return sys::join(folder_, "journal.txt");
}

namespace {
// A journal longer than this is started afresh by the next writer.
constexpr uint64_t kJournalLimit = 256 * 1024;
const char kJournalHeader[] = "localstore journal";
} // namespace

void Store::appendJournal(uint64_t generation, const std::vector<JournalLine> &lines) const {
    if (lines.empty()) {
        return;
    }
    std::string text;
    for (const JournalLine &line : lines) {
        text += joinFields({std::to_string(generation), escapeField(line.writer), escapeField(line.path)});
    }
    sys::Error error;
    const uint64_t size = journalSize();
    std::string last;
    // Appended to only when it is a regular file of ours: anything else (a
    // link, a FIFO, one grown past the limit) is replaced by a fresh journal.
    if (size == 0 || size > kJournalLimit ||
        !sys::readStoreFile(journalPath(), size - 1, kJournalLimit, last, error)) {
        // A fresh journal: its first line differs from the last one's, which
        // tells its readers to start from the top.
        const std::string start = joinFields({kJournalHeader, std::to_string(generation)});
        sys::replaceFile(tempPath("journal.txt"), journalPath(), start + text, false, error);
        return;
    }
    if (last != "\n") {
        text.insert(0, "\n");  // a writer died in the middle of its line: end it
    }
    sys::appendFile(journalPath(), text, error);
}

uint64_t Store::journalSize() const {
    sys::FileInfo info;
    sys::Error error;
    return sys::statFile(journalPath(), info, error) && info.exists ? info.size : 0;
}

bool Store::readJournal(std::string &start, uint64_t &offset, std::vector<JournalLine> &lines,
                        bool &restarted) const {
    restarted = false;
    std::string text;
    sys::Error error;
    if (!sys::readStoreFile(journalPath(), 0, kJournalReadLimit, text, error)) {
        if (error.kind == sys::ErrorKind::NotRegular || error.kind == sys::ErrorKind::TooLarge) {
            // Not a journal of ours: whatever it said is lost, so its readers
            // look at everything they watch, and the next writer replaces it.
            restarted = !start.empty() || offset > 0;
            start.clear();
            offset = 0;
            return true;
        }
        return error.kind == sys::ErrorKind::NotFound;
    }
    const size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos) {
        return true;
    }
    const std::string first = text.substr(0, firstEnd);
    if (first != start || offset > text.size() || offset <= firstEnd) {
        restarted = !start.empty() || offset > 0;
        start = first;
        offset = firstEnd + 1;
    }
    // Only whole lines: a writer may be in the middle of the last one.
    const size_t end = text.rfind('\n');
    for (size_t pos = static_cast<size_t>(offset); pos < end;) {
        const size_t next = text.find('\n', pos);
        std::vector<std::string> f = splitFields(text.substr(pos, next - pos));
        JournalLine line;
        if (f.size() == 3 && unescapeField(f[1], line.writer) && unescapeField(f[2], line.path)) {
            lines.push_back(std::move(line));
        }
        pos = next + 1;
    }
    offset = end + 1;
    return true;
}

void Store::clearTemporaries() const {
    std::vector<std::string> names;
    sys::Error error;
    std::string folder = sys::join(folder_, "tmp");
    if (!sys::listDirectory(folder, names, error)) {
        return;
    }
    for (const std::string &name : names) {
        sys::removeFile(sys::join(folder, name), error);
    }
}

} // namespace localstore
