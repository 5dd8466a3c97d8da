// The operating-system layer of the localstore provider: paths, files, the
// store lock, the user name and the clock. One implementation per platform
// (sys_posix.cpp, sys_win32.cpp) plus the parts that <filesystem> does alike on
// both (sys_common.cpp); nothing above this header includes an operating-system
// header.
//
// Every path is 8-bit text as the caller handed it to the provider: bytes on
// POSIX, the ANSI code page on Windows. Conversions to the wide paths of
// <filesystem> on Windows go through the ANSI code page explicitly, so a name
// comes back byte for byte as it went in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace localstore::sys {

// NotRegular and TooLarge come from readStoreFile only.
enum class ErrorKind { None, NotFound, AccessDenied, NotRegular, TooLarge, Other };

// What went wrong in a system call: a kind to choose the result code from and
// a text for the message ("cannot write /x/y: Permission denied").
struct Error {
    ErrorKind kind = ErrorKind::None;
    std::string text;
    bool failed() const { return kind != ErrorKind::None; }
};

struct FileInfo {
    bool exists = false;
    bool isDirectory = false;
    bool isRegular = false;
    uint64_t size = 0;
    int64_t mtime = 0;      // modification time in the platform's finest unit
    bool readOnly = false;  // no write permission bit at all (POSIX), read-only attribute (Windows)
};

// --- paths -----------------------------------------------------------------

char separator();
std::filesystem::path toPath(const std::string &text);
std::string fromPath(const std::filesystem::path &path);

// Absolute, lexically normal form with native separators and no trailing
// separator (except for a root). False for an empty text.
bool absolutePath(const std::string &text, std::string &out);
// root + '/'-separated relative path, with native separators.
std::string join(const std::string &root, const std::string &relative);
// The '/'-separated path of `path` below `root` (both absolute and normal).
// False when `path` is `root` itself or lies outside it. Case-insensitive on
// Windows (ASCII letters), exact on POSIX.
bool relativeTo(const std::string &root, const std::string &path, std::string &relative);
// Key under which a relative path is looked up: the path itself on POSIX, with
// ASCII letters folded to lower case on Windows, whose file systems ignore case.
std::string pathKey(const std::string &relative);
std::string parentOf(const std::string &path);
// Whether `path` itself is a symbolic link (Windows: any reparse point, such
// as a junction). False when it does not exist.
bool isLink(const std::string &path);
// `path` (absolute) with every link on it resolved, as far as it exists, and
// the rest appended as it stands: where a read or write of `path` lands.
// False when it cannot be found out.
bool realPath(const std::string &path, std::string &out);
std::string lastComponent(const std::string &path);

// --- files -------------------------------------------------------------------

// Fills `info`; a missing file is exists == false and no error.
bool statFile(const std::string &path, FileInfo &info, Error &error);
bool readFile(const std::string &path, std::string &data, Error &error);
// Writes `data` to `tempPath`, flushes it to disk when `flush` is set, and
// renames it over `path` in one step: readers see the old or the new content,
// never a mix. A read-only `path` is replaced as well.
bool replaceFile(const std::string &tempPath, const std::string &path, const std::string &data,
                 bool flush, Error &error);
// Flushes one file's content to disk.
bool flushFile(const std::string &path, Error &error);
// Flushes every file written without `flush` on the file system that holds
// `path` (POSIX). Returns false where the platform has no such call; the
// caller then flushes each file itself.
bool flushFileSystem(const std::string &path);
bool canFlushFileSystem();
// Makes the entries of a directory (renames, new files) durable; best effort.
void flushDirectory(const std::string &path);
bool makeDirectories(const std::string &path, Error &error);
// Removing a missing file is no error.
bool removeFile(const std::string &path, Error &error);
bool setReadOnly(const std::string &path, bool readOnly, Error &error);
// Reads a file of the store from byte `offset` to its end (nothing when it is
// shorter). The store folder is shared, and what lies in it need not be what
// a provider wrote there: the file is opened without following a link in its
// last component and without waiting for a writer (a FIFO answers at once),
// and it must be a regular file of at most `limit` bytes. Anything else fails
// with kind NotRegular or TooLarge and a text that names the file and says
// why, before a byte is read.
bool readStoreFile(const std::string &path, uint64_t offset, uint64_t limit, std::string &data, Error &error);
// The two refusals of readStoreFile; `found` says what the file is instead
// ("a symbolic link", "a FIFO").
Error notRegularFile(const std::string &path, const std::string &found);
Error fileTooLarge(const std::string &path, uint64_t limit);
// Appends `data` to `path` (made when missing) in one write.
bool appendFile(const std::string &path, const std::string &data, Error &error);
// Names (not paths) of the entries of a directory.
bool listDirectory(const std::string &path, std::vector<std::string> &names, Error &error);

// An advisory lock on one file, shared or exclusive, held from acquire() until
// release() or destruction. Blocks until granted. Locks of other processes and
// of other FileLock objects of this process exclude each other; the operating
// system drops the lock of a process that dies.
class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock() { release(); }

    // `create`: make the lock file if it is missing (otherwise a missing file
    // is an error of kind NotFound).
    bool acquire(const std::string &path, bool exclusive, bool create, Error &error);
    void release();
    bool held() const { return handle_ != -1; }

private:
    intptr_t handle_ = -1;
};

// --- process -----------------------------------------------------------------

// Login name of the user running the process; "" when unknown.
std::string userName();
long processId();
// Seconds since 1970-01-01 UTC, and their ISO 8601 form "2024-05-01T10:00:00Z".
int64_t now();
std::string utcStamp(int64_t seconds);

} // namespace localstore::sys
