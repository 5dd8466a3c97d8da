// The operating-system layer on POSIX systems (Linux).
#include "sys.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace localstore::sys {

namespace {

Error systemError(int code, const std::string &what, const std::string &path) {
    Error error;
    switch (code) {
    case ENOENT:
    case ENOTDIR:
        error.kind = ErrorKind::NotFound;
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        error.kind = ErrorKind::AccessDenied;
        break;
    default:
        error.kind = ErrorKind::Other;
        break;
    }
    error.text = what + " " + path + ": " + std::strerror(code);
    return error;
}

// A file descriptor closed on every path.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now and reports the result (a failed close can mean lost data).
    bool close() {
        int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool writeAll(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

char separator() {
    return '/';
}

std::filesystem::path toPath(const std::string &text) {
    return std::filesystem::path(text);
}

std::string fromPath(const std::filesystem::path &path) {
    return path.string();
}

std::string pathKey(const std::string &relative) {
    return relative;
}

bool isLink(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool realPath(const std::string &path, std::string &out) {
    std::error_code code;
    std::filesystem::path real = std::filesystem::weakly_canonical(toPath(path), code);
    if (code) {
        return false;
    }
    out = fromPath(real.lexically_normal());
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return !out.empty();
}

bool statFile(const std::string &path, FileInfo &info, Error &error) {
    info = FileInfo();
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return true;
        }
        error = systemError(errno, "cannot examine", path);
        return false;
    }
    info.exists = true;
    info.isDirectory = S_ISDIR(st.st_mode);
    info.isRegular = S_ISREG(st.st_mode);
    info.size = static_cast<uint64_t>(st.st_size);
    info.mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    info.readOnly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return true;
}

namespace {

// Reads `fd` to its end into `data`, taking at most `most` bytes: 0 when done,
// -1 when more arrived than that, else the read's errno.
int readToEnd(int fd, uint64_t most, std::string &data) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return 0;
        }
        if (static_cast<uint64_t>(got) > most - data.size()) {
            return -1;
        }
        data.append(buffer, static_cast<size_t>(got));
    }
}

} // namespace

bool readFile(const std::string &path, std::string &data, Error &error) {
    data.clear();
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        error = systemError(errno, "cannot read", path);
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) {
        data.reserve(static_cast<size_t>(st.st_size));
    }
    if (int failed = readToEnd(fd.get(), UINT64_MAX, data)) {
        error = systemError(failed, "cannot read", path);
        return false;
    }
    return true;
}

namespace {

const char *kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}

} // namespace

bool readStoreFile(const std::string &path, uint64_t offset, uint64_t limit, std::string &data, Error &error) {
    data.clear();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer, forever. O_NOFOLLOW: a link is refused, not read through.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        if (errno == ELOOP) {
            error = notRegularFile(path, "a symbolic link");
        } else {
            error = systemError(errno, "cannot read", path);
        }
        return false;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
        error = systemError(errno, "cannot read", path);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = notRegularFile(path, kindOf(st.st_mode));
        return false;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    if (size > limit) {
        error = fileTooLarge(path, limit);
        return false;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags == -1 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) == -1) {
        error = systemError(errno, "cannot read", path);
        return false;
    }
    if (size <= offset) {
        return true;
    }
    if (::lseek(fd.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(-1)) {
        error = systemError(errno, "cannot read", path);
        return false;
    }
    data.reserve(static_cast<size_t>(size - offset));
    // The file may grow while it is read: no more than the limit is taken.
    if (int failed = readToEnd(fd.get(), limit - offset, data)) {
        error = failed < 0 ? fileTooLarge(path, limit) : systemError(failed, "cannot read", path);
        data.clear();
        return false;
    }
    return true;
}

bool replaceFile(const std::string &tempPath, const std::string &path, const std::string &data,
                 bool flush, Error &error) {
    Descriptor fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        error = systemError(errno, "cannot write", tempPath);
        return false;
    }
    bool ok = writeAll(fd.get(), data.data(), data.size());
    int code = errno;
    if (ok && flush && ::fsync(fd.get()) != 0) {
        ok = false;
        code = errno;
    }
    if (!fd.close() && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(tempPath.c_str());
        error = systemError(code, "cannot write", tempPath);
        return false;
    }
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        code = errno;
        ::unlink(tempPath.c_str());
        error = systemError(code, "cannot replace", path);
        return false;
    }
    return true;
}

bool flushFile(const std::string &path, Error &error) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        error = systemError(errno, "cannot flush", path);
        return false;
    }
    return true;
}

bool flushFileSystem(const std::string &path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        ::sync();
        return true;
    }
    if (::syncfs(fd.get()) != 0) {
        ::sync();
    }
    return true;
}

bool canFlushFileSystem() {
    return true;
}

void flushDirectory(const std::string &path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::fsync(fd.get());
    }
}

bool removeFile(const std::string &path, Error &error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = systemError(errno, "cannot delete", path);
        return false;
    }
    return true;
}

bool setReadOnly(const std::string &path, bool readOnly, Error &error) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        error = systemError(errno, "cannot change permissions of", path);
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    if (readOnly) {
        mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    if (mode != (st.st_mode & 07777) && ::chmod(path.c_str(), mode) != 0) {
        error = systemError(errno, "cannot change permissions of", path);
        return false;
    }
    return true;
}

bool FileLock::acquire(const std::string &path, bool exclusive, bool create, Error &error) {
    release();
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // a store we may only read
    }
    if (fd < 0) {
        error = systemError(errno, "cannot open the lock file", path);
        return false;
    }
    // flock() locks belong to the open file, so two FileLock objects of one
    // process exclude each other just as two processes do.
    while (::flock(fd, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            error = systemError(errno, "cannot lock", path);
            ::close(fd);
            return false;
        }
    }
    handle_ = fd;
    return true;
}

void FileLock::release() {
    if (handle_ != -1) {
        ::close(static_cast<int>(handle_));  // drops the lock
        handle_ = -1;
    }
}

std::string userName() {
    if (const char *name = ::getenv("USER"); name && *name) {
        return name;
    }
    if (const char *name = ::getenv("LOGNAME"); name && *name) {
        return name;
    }
    struct passwd entry;
    struct passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found) {
        return found->pw_name;
    }
    return "";
}

long processId() {
    return static_cast<long>(::getpid());
}

} // namespace localstore::sys
