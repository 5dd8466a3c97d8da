// The store on disk: a folder with a text index of the controlled files, one
// file per stored version, and one record per working folder. README.md of
// the provider describes the format; this header is its only reader and writer.
#pragma once

#include "sys.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace localstore {

// Newest format number this provider reads and writes. A reader takes every
// format up to its own and refuses newer ones. An index is written in format 2
// only when it holds what format 1 cannot say (a rename, a second check-out of
// one file, a sub-project), so that a store that uses none of these stays
// readable by providers that know format 1 only. Workspace records stay 1.
constexpr int kStoreFormat = 2;
constexpr int kBaseFormat = 1;

// Fields of the line-based files are separated by tabs; escapeField writes
// '%', tab, CR, LF and the other control bytes as %XX, so that any 8-bit text
// fits into one field and the rest stays readable.
std::string escapeField(const std::string &text);
bool unescapeField(const std::string &field, std::string &text);

// 64-bit FNV-1a: tells versions and working files apart, nothing more.
uint64_t contentHash(const std::string &data);
std::string hashText(uint64_t hash);

// Content with a NUL byte is binary; everything else is text.
bool isBinaryContent(const std::string &data);

struct Event {
    enum class Kind { Version, Removed, Renamed };
    Kind kind = Kind::Version;
    int version = 0;  // Version only
    std::string time;
    std::string user;
    std::string comment;
    uint64_t size = 0;  // Version only
    uint64_t hash = 0;  // Version only
    std::string from;   // Renamed only: the old and the new relative path
    std::string to;
};

struct Checkout {
    std::string user;
    std::string folder;  // the working folder it was made from
    std::string time;
    std::string comment;
    int base = 0;  // latest version when it was made
};

struct FileRecord {
    uint64_t id = 0;
    std::string path;  // relative to the project folder, '/'-separated, as first added
    bool binary = false;
    bool removed = false;
    std::vector<Event> events;  // oldest first
    // Who has it out: at most one, unless the store allows multiple check-outs.
    std::vector<Checkout> checkouts;

    bool checkedOut() const { return !checkouts.empty(); }
    const Event *latest() const;
    int latestVersion() const;
    const Event *version(int number) const;
};

struct Index {
    int format = kStoreFormat;
    std::string project;
    std::string created;
    std::string createdBy;
    std::string comment;
    uint64_t nextId = 1;
    uint64_t generation = 0;
    std::vector<FileRecord> files;
    // Sub-projects: relative folder paths ('/'-separated) recorded as projects
    // of their own below this one, in the order they were made.
    std::vector<std::string> subprojects;

    // Look-up by sys::pathKey of the relative path.
    FileRecord *find(const std::string &relative);
    const FileRecord *find(const std::string &relative) const;
    FileRecord &add(const std::string &relative, bool binary);
    // How many more files add() can number: the last id, 2^64-1, is never
    // handed out, so that next-id stays above every id.
    uint64_t idsLeft() const { return UINT64_MAX - nextId; }
    // The file that was last renamed away from `relative`, if any.
    const FileRecord *formerlyAt(const std::string &relative) const;
    // Moves a record to a new path and records the rename in its history.
    void rename(FileRecord &record, const std::string &relative, const std::string &time, const std::string &user);
    bool hasSubproject(const std::string &relative) const;
    // The format this index needs: kBaseFormat unless it uses something newer.
    int neededFormat() const;

private:
    friend bool parseIndex(const std::string &, Index &, std::string &);
    std::unordered_map<std::string, size_t> keys_;
    std::unordered_map<std::string, size_t> former_;
};

// Store-wide settings, kept in settings.txt of the store folder ("name value"
// lines, '#' starts a comment), written by whoever administers the store.
struct Settings {
    bool multiCheckout = false;         // multi-checkout yes|no
    bool checkoutLocalVersion = false;  // checkout-local-version yes|no
};
bool parseSettings(const std::string &text, Settings &settings, std::string &problem);

bool parseIndex(const std::string &text, Index &index, std::string &problem);
std::string formatIndex(const Index &index);

// What the provider last wrote to (or found in) one working file: the version
// its content is, and the size, time and hash of the file at that moment.
struct WorkspaceEntry {
    int base = 0;
    uint64_t size = 0;
    int64_t mtime = 0;
    uint64_t hash = 0;
};

// The record of one working folder of one user.
struct Workspace {
    std::string user;
    std::string folder;
    std::map<uint64_t, WorkspaceEntry> entries;  // by file id
};

bool parseWorkspace(const std::string &text, Workspace &workspace, std::string &problem);
std::string formatWorkspace(const Workspace &workspace);

class Store {
public:
    explicit Store(std::string folder) : folder_(std::move(folder)) {}

    const std::string &folder() const { return folder_; }
    std::string indexPath() const;
    std::string lockPath() const;
    std::string versionPath(uint64_t id, int version) const;
    std::string workspacePath(const std::string &user, const std::string &workingFolder) const;

    // A folder is a store when it holds an index.
    bool exists() const;
    // Makes the folders, the lock file and the first index.
    bool create(Index &index, sys::Error &error);
    // A store marked read-only (its index file, or on POSIX its folder, has no
    // write permission) is only read, whoever runs the provider.
    bool markedReadOnly() const;

    // Reads the index; `problem` tells what is wrong with one that does not
    // parse or is of a newer format (error stays empty then).
    bool load(Index &index, sys::Error &error, std::string &problem) const;
    // Raises the generation and replaces the index in one rename.
    bool save(Index &index, sys::Error &error) const;

    // Stores one version: written to a temporary file and renamed into place,
    // not yet flushed to disk.
    bool writeVersion(uint64_t id, int version, const std::string &data, sys::Error &error) const;
    // A version file longer than the index records is refused as damaged.
    bool readVersion(uint64_t id, const Event &version, std::string &data, sys::Error &error) const;
    // Flushes the versions written (file id, version) to disk; called before
    // the index that names them is saved. A few are flushed one by one, many
    // with one flush of the file system where the platform has one.
    bool flushVersions(const std::vector<std::pair<uint64_t, int>> &written, sys::Error &error) const;

    bool loadWorkspace(Workspace &workspace, sys::Error &error) const;
    bool saveWorkspace(const Workspace &workspace, sys::Error &error) const;

    // Missing settings.txt: the defaults. False (with `problem`) for a file
    // that does not read.
    bool loadSettings(Settings &settings, sys::Error &error, std::string &problem) const;

    // The journal (journal.txt): one line per file whose store state a save
    // changed, appended under the exclusive lock after the index is replaced.
    // Other contexts follow it from the offset they read up to, so that finding
    // out what changed costs a stat when nothing did. `writer` tells the
    // context that made the change; a long journal is started afresh (with a
    // new first line) by the next writer.
    std::string journalPath() const;
    struct JournalLine {
        std::string writer;
        std::string path;
    };
    void appendJournal(uint64_t generation, const std::vector<JournalLine> &lines) const;
    // Reads the journal from `offset` on. `start` is the journal's first line
    // as last seen; when it has changed (a fresh journal) everything is read,
    // and `restarted` is set: lines may have been missed.
    bool readJournal(std::string &start, uint64_t &offset, std::vector<JournalLine> &lines, bool &restarted) const;
    // The journal's size now (0 when there is none), for a cheap look.
    uint64_t journalSize() const;

    // Deletes what writers killed in the middle of their work left in the
    // temporary folder. Only under the exclusive lock.
    void clearTemporaries() const;

private:
    std::string tempPath(const std::string &name) const;
    std::string folder_;
};

} // namespace localstore
