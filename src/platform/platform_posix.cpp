// POSIX platform layer. Libraries load through dlopen. There is no system
// registry, so registry reads are answered from a registry export file (.reg):
// the file named through setRegistryFile, else by OSKELSCCIH_REGISTRY, else
// /etc/oskelsccih/registry.reg. The file is read afresh at every
// RegistryKey::open (once per RegistryReadScope), and an open key keeps the
// reading it came from, so edits are seen by the next open.
// A missing, unreadable or oversized file is an empty registry.
#include "platform/platform.h"
#include "platform/regfile.h"
#include "platform/testing.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <cwchar>
#include <functional>
#include <mutex>
#include <thread>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace oskel::platform {

namespace {

constexpr const char *kRegistryVariable = "OSKELSCCIH_REGISTRY";
constexpr const char *kDefaultRegistryFile = "/etc/oskelsccih/registry.reg";
// A provider registry is a few hundred bytes; anything near this is not one.
constexpr std::size_t kMaxRegistryFileBytes = 16u << 20;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

std::mutex &registryFileLock()
{
    static std::mutex lock;
    return lock;
}

std::string &chosenRegistryFile()
{
    static std::string *path = new std::string(); // never destroyed: read until the process ends
    return *path;
}

std::string registryFilePath()
{
    {
        std::lock_guard<std::mutex> hold(registryFileLock());
        if (!chosenRegistryFile().empty()) return chosenRegistryFile();
    }
    const char *path = std::getenv(kRegistryVariable);
    return path != nullptr ? path : kDefaultRegistryFile;
}

// Why the registry file could not be read whole; null when it could.
const char *readRegistryFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    // Non-blocking, so that a FIFO without a writer cannot hang the caller.
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return errno == ENOENT || errno == ENOTDIR ? "missing" : "unreadable";
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return "unreadable";
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > kMaxRegistryFileBytes)
        return "too large";

    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[16384];
    while (true) {
        ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            bytes.clear();
            return "unreadable";
        }
        if (n == 0) break;
        // The file may have grown since fstat.
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxRegistryFileBytes) {
            bytes.clear();
            return "too large";
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return nullptr;
}

// The registry file's bytes, or "" when it cannot be read whole.
std::string readRegistryFile()
{
    std::string bytes;
    readRegistryFile(registryFilePath(), bytes);
    return bytes;
}

// One reading of the registry file, parsed whole.
struct Registry {
    std::string bytes;
    regfile::RegFile keys;
};

// Files up to this size stay parsed between reads: a file whose bytes have
// not changed since the last reading is not parsed again.
constexpr std::size_t kMaxRememberedBytes = 4u << 20;

std::mutex lastReadingMutex;
std::shared_ptr<const Registry> *lastReading = new std::shared_ptr<const Registry>(); // never destroyed

thread_local int scopeDepth = 0;
thread_local std::shared_ptr<const Registry> scopeReading;

// The registry as a key opened now sees it.
std::shared_ptr<const Registry> currentRegistry()
{
    if (scopeDepth > 0 && scopeReading) return scopeReading;
    std::string bytes = readRegistryFile();
    std::shared_ptr<const Registry> reading;
    {
        std::lock_guard<std::mutex> lock(lastReadingMutex);
        if (*lastReading && (*lastReading)->bytes == bytes) reading = *lastReading;
    }
    if (!reading) {
        auto parsed = std::make_shared<Registry>();
        parsed->keys = regfile::parseAll(bytes);
        parsed->bytes = std::move(bytes);
        reading = parsed;
        std::lock_guard<std::mutex> lock(lastReadingMutex);
        *lastReading = reading->bytes.size() <= kMaxRememberedBytes ? reading : nullptr;
    }
    if (scopeDepth > 0) scopeReading = reading;
    return reading;
}

// An open key: the reading it came from, and its values in it.
struct KeySnapshot {
    std::shared_ptr<const Registry> registry;
    const regfile::KeyValues *values = nullptr;
};

const KeySnapshot *snapshotOf(void *handle) { return static_cast<const KeySnapshot *>(handle); }

} // namespace

RegistryReadScope::RegistryReadScope() { ++scopeDepth; }

RegistryReadScope::~RegistryReadScope()
{
    if (--scopeDepth == 0) scopeReading.reset();
}

void RegistryKey::close()
{
    delete static_cast<KeySnapshot *>(handle_);
    handle_ = nullptr;
}

RegistryKey RegistryKey::open(const char *subkey)
{
    try {
        std::shared_ptr<const Registry> registry = currentRegistry();
        const regfile::KeyValues *values = registry->keys.find(subkey != nullptr ? subkey : "");
        if (values == nullptr) return RegistryKey();
        auto snapshot = std::make_unique<KeySnapshot>();
        snapshot->registry = std::move(registry);
        snapshot->values = values;
        return RegistryKey(snapshot.release());
    } catch (...) {
        // Out of memory: the key cannot be read.
        return RegistryKey();
    }
}

bool RegistryKey::readText(const char *name, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    const regfile::Value *value = snapshotOf(handle_)->values->find(name != nullptr ? name : "");
    if (value == nullptr) return false;
    const std::string &data = value->data;
    if (data.size() > capacity) return false;
    if (data.size() == capacity && (data.empty() || data.back() != '\0')) return false;
    std::memcpy(buffer, data.data(), data.size());
    if (data.size() < capacity) buffer[data.size()] = '\0';
    return true;
}

bool RegistryKey::readValue(const char *name, RegistryValue &out, uint32_t capacity) const
{
    if (handle_ == nullptr) return false;
    const regfile::Value *value = snapshotOf(handle_)->values->find(name != nullptr ? name : "");
    if (value == nullptr || value->data.size() > capacity) return false;
    out.type = value->type;
    out.bytes = value->data;
    return true;
}

bool RegistryKey::valueCount(uint32_t *count) const
{
    if (handle_ == nullptr || count == nullptr) return false;
    *count = static_cast<uint32_t>(snapshotOf(handle_)->values->size());
    return true;
}

bool RegistryKey::valueName(uint32_t index, char *buffer, uint32_t capacity, bool *tooLong) const
{
    if (tooLong != nullptr) *tooLong = false;
    if (handle_ == nullptr || buffer == nullptr) return false;
    const regfile::KeyValues &values = *snapshotOf(handle_)->values;
    if (index >= values.size()) return false;
    const std::string &name = values.at(index).name;
    if (name.size() >= capacity) {
        if (tooLong != nullptr) *tooLong = true;
        return false;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    return true;
}

RegistrySource describeRegistry()
{
    RegistrySource source;
    source.location = registryFilePath();
    std::string bytes;
    if (const char *problem = readRegistryFile(source.location, bytes))
        source.state = problem;
    else
        source.state = regfile::parseAll(bytes).keys().empty() ? "malformed" : "ok";
    return source;
}

bool setRegistryFile(const char *path)
{
    std::string chosen = path != nullptr ? path : "";
    std::lock_guard<std::mutex> hold(registryFileLock());
    chosenRegistryFile().swap(chosen);
    return true;
}

bool setRegistryFile(const Path &path) { return setRegistryFile(path.c_str()); }

namespace {

// The encoding of file names: the user's locale's, as the environment names
// it (the JVM names files so too), whatever the process's C locale is now.
// UTF-8 when the environment names none that exists, or plain ASCII.
struct FileNameEncoding {
    locale_t locale = locale_t(0); // set when not UTF-8
};

const FileNameEncoding &fileNameEncoding()
{
    static const FileNameEncoding encoding = [] {
        FileNameEncoding e;
        locale_t user = ::newlocale(LC_CTYPE_MASK, "", locale_t(0));
        if (user == locale_t(0)) return e;
        const char *codeset = ::nl_langinfo_l(CODESET, user);
        const bool utf8OrAscii = codeset == nullptr || std::strcmp(codeset, "UTF-8") == 0 ||
                                 std::strcmp(codeset, "ANSI_X3.4-1968") == 0 ||
                                 std::strcmp(codeset, "US-ASCII") == 0;
        if (utf8OrAscii)
            ::freelocale(user);
        else
            e.locale = user; // kept for the life of the process
        return e;
    }();
    return encoding;
}

} // namespace

bool pathFromUtf16(const char16_t *units, size_t count, Path &out)
{
    out.clear();
    for (size_t i = 0; i < count; ++i)
        if (units[i] == 0) return false; // the system would see a shorter name
    const FileNameEncoding &encoding = fileNameEncoding();
    if (encoding.locale == locale_t(0)) {
        out = utf16ToUtf8(units, count);
        return true;
    }
    // Through the locale's own conversion, on this thread only.
    const locale_t previous = ::uselocale(encoding.locale);
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i) {
        uint32_t c = units[i];
        if (c >= 0xd800 && c < 0xe000) {
            ok = c < 0xdc00 && i + 1 < count && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000;
            if (ok) c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00u);
        }
        const size_t n = ok ? std::wcrtomb(bytes, static_cast<wchar_t>(c), &state) : size_t(-1);
        ok = n != size_t(-1);
        if (ok) out.append(bytes, n);
    }
    if (ok) {
        const size_t n = std::wcrtomb(bytes, L'\0', &state); // back to the initial shift state
        ok = n != size_t(-1);
        if (ok && n > 1) out.append(bytes, n - 1);
    }
    ::uselocale(previous);
    if (!ok) out.clear();
    return ok;
}

bool namesNonRegularFile(const char *path)
{
    struct stat info {};
    return path != nullptr && ::stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

namespace {
thread_local std::string loadError;
}

LibraryHandle loadLibrary(const char *path)
{
    // dlopen takes a null or empty path as the main program: not a provider.
    if (path == nullptr || *path == '\0') {
        loadError = "no library path";
        return nullptr;
    }
    // dlopen would open a FIFO and wait for a writer for ever.
    if (namesNonRegularFile(path)) {
        loadError = std::string(path) + ": not a regular file";
        return nullptr;
    }
    LibraryHandle library = ::dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char *text = ::dlerror();
        loadError = text != nullptr ? text : "dlopen failed";
    }
    return library;
}

std::string lastLoadError() { return loadError; }

void *findSymbol(LibraryHandle library, const char *name)
{
    // dlsym would search every loaded object for a null handle.
    if (library == nullptr || name == nullptr) return nullptr;
    return ::dlsym(library, name);
}

void freeLibrary(LibraryHandle library)
{
    if (library != nullptr) ::dlclose(library);
}

SharedLibraryLock::~SharedLibraryLock()
{
    if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

bool SharedLibraryLock::open(LibraryHandle library, const char *path)
{
    if (library == nullptr || path == nullptr || handle_ != kNone) return false;
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool SharedLibraryLock::acquire(int32_t timeoutMs)
{
    if (handle_ == kNone) return true;
    const int fd = static_cast<int>(handle_);
    const int64_t deadline = monotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return true; // no lock to be had: go on unlocked
        if (monotonicMs() >= deadline) return false;
        ::usleep(500);
    }
}

void SharedLibraryLock::release()
{
    if (handle_ != kNone) ::flock(static_cast<int>(handle_), LOCK_UN);
}

// ---- Child processes and their channel -------------------------------------

extern "C" char **environ;

namespace {

// Children are started from one thread that lives as long as the process: a
// child's parent-death signal follows the thread that started it, and the
// thread of a caller may end long before the connection does.
class SpawnThread {
public:
    static SpawnThread &instance()
    {
        static SpawnThread *thread = new SpawnThread(); // never destroyed: outlives every caller
        return *thread;
    }

    void run(const std::function<void()> &task)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return task_ == nullptr; });
        bool done = false;
        task_ = &task;
        done_ = &done;
        wake_.notify_all();
        idle_.wait(lock, [&done] { return done; });
    }

private:
    SpawnThread()
    {
        std::thread([this] { loop(); }).detach();
    }

    void loop()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return task_ != nullptr; });
            (*task_)();
            *done_ = true;
            task_ = nullptr;
            done_ = nullptr;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    const std::function<void()> *task_ = nullptr;
    bool *done_ = nullptr;
};

void closeDescriptor(intptr_t fd)
{
    if (fd >= 0) ::close(static_cast<int>(fd));
}

} // namespace


void Channel::close()
{
    closeDescriptor(in_);
    in_ = out_ = kNone;
    dropBuffered();
    systemTimeoutMs_ = -1;
}

Channel Channel::fromArgument(const char *argument)
{
    char *end = nullptr;
    long fd = argument ? std::strtol(argument, &end, 10) : -1;
    if (argument == nullptr || end == argument || *end != '\0' || fd < 0 || fd > 65535) return Channel();
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return Channel(fd, fd);
}

bool Channel::write(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0 && out_ >= 0) {
        ssize_t n = ::send(static_cast<int>(out_), p, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return size == 0;
}

Channel::Status Channel::receiveSome(void *data, size_t size, int32_t timeoutMs, size_t &got)
{
    // The wait is the receive's own (SO_RCVTIMEO), set again only when the
    // timeout changes: one system call per receive, no poll before it.
    if (in_ < 0) return Status::Error;
    const int fd = static_cast<int>(in_);
    const int64_t deadline = timeoutMs > 0 ? monotonicMs() + timeoutMs : 0;
    int32_t waitMs = timeoutMs;
    for (;;) {
        int flags = 0;
        if (waitMs == 0) {
            flags = MSG_DONTWAIT;
        } else if (waitMs != systemTimeoutMs_) {
            // A negative timeout is no timeout: zero, for the socket.
            timeval tv{};
            if (waitMs > 0) {
                tv.tv_sec = waitMs / 1000;
                tv.tv_usec = (waitMs % 1000) * 1000;
            }
            if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return Status::Error;
            systemTimeoutMs_ = waitMs;
        }
        ssize_t n = ::recv(fd, data, size, flags);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return Status::Ok;
        }
        if (n == 0) return Status::Closed;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return waitMs < 0 ? Status::Error : Status::Timeout;
        if (errno != EINTR) return Status::Error;
        // Interrupted: wait only what is left of the timeout.
        if (timeoutMs > 0) {
            int64_t left = deadline - monotonicMs();
            waitMs = left > 0 ? static_cast<int32_t>(left) : 0;
        }
    }
}

bool Channel::systemReadable()
{
    if (in_ < 0) return false;
    pollfd pfd{static_cast<int>(in_), POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&pfd, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// The thread that waits for one child and reaps it the moment it ends, so
// that a child dying while nobody talks to it does not stay a zombie. No
// SIGCHLD handler: the process (a JVM) owns its signal handlers.
struct ChildProcess::Reaper {
    std::mutex mutex;
    std::condition_variable done;
    bool reaped = false;
    bool known = false; // `status` is what waitpid gave
    int status = 0;
    std::thread thread;
};

namespace {
void reapWhenEnded(ChildProcess::Reaper &reaper, pid_t pid);
}

void testing::failNextJobAssignment() {} // children have no job here

ChildProcess::~ChildProcess()
{
    std::string ignored;
    finish(0, ignored);
}

bool ChildProcess::start(const char *program, Channel &channel, std::string &error)
{
    if (running()) {
        error = "already started";
        return false;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    // The child's end becomes descriptor 3 there; dup2 clears close-on-exec on it.
    constexpr int kChildFd = 3;
    std::string parent = std::to_string(::getpid());
    std::string fdText = std::to_string(kChildFd);
    int spawnError = 0;
    pid_t pid = -1;
    SpawnThread::instance().run([&] {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_adddup2(&actions, sv[1], kChildFd);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        char *argv[] = {const_cast<char *>(program), fdText.data(), parent.data(), nullptr};
        spawnError = ::posix_spawn(&pid, program, &actions, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    });
    ::close(sv[1]);
    if (spawnError != 0) {
        ::close(sv[0]);
        error = std::string("cannot start ") + program + ": " + std::strerror(spawnError);
        return false;
    }
    process_ = pid;
    channel = Channel(sv[0], sv[0]);
    try {
        auto reaper = std::make_shared<Reaper>();
        reaper->thread = std::thread([reaper, pid] { reapWhenEnded(*reaper, pid); });
        reaper_ = std::move(reaper);
    } catch (...) {
        // No thread to spare: finish() reaps the child, as it ends or is killed.
        reaper_.reset();
    }
    return true;
}

namespace {
std::string describe(int status)
{
    if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    return "ended";
}
} // namespace

namespace {
void reapWhenEnded(ChildProcess::Reaper &reaper, pid_t pid)
{
    // Wait without reaping, then reap under the lock: finish() never sends a
    // signal to a process id that has already been handed back to the system.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
    }
    std::lock_guard<std::mutex> lock(reaper.mutex);
    int status = 0;
    pid_t got = -1;
    while ((got = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    reaper.known = got == pid;
    reaper.status = status;
    reaper.reaped = true;
    reaper.done.notify_all();
}
} // namespace

bool ChildProcess::ended() const
{
    if (!running()) return true;
    if (reaper_) {
        std::lock_guard<std::mutex> lock(reaper_->mutex);
        return reaper_->reaped;
    }
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(process_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid != 0;
}

void ChildProcess::finish(int32_t graceMs, std::string &how)
{
    if (!running()) return;
    const pid_t pid = static_cast<pid_t>(process_);
    process_ = kNone;
    if (std::shared_ptr<Reaper> reaper = std::move(reaper_)) {
        {
            std::unique_lock<std::mutex> lock(reaper->mutex);
            auto ended = [&reaper] { return reaper->reaped; };
            if (!reaper->done.wait_for(lock, std::chrono::milliseconds(graceMs > 0 ? graceMs : 0), ended)) {
                ::kill(pid, SIGKILL); // not reaped yet: the id is still this child's
                reaper->done.wait(lock, ended);
            }
            how = reaper->known ? describe(reaper->status) : "ended";
        }
        reaper->thread.join();
        return;
    }
    int status = 0;
    const int64_t deadline = monotonicMs() + graceMs;
    for (;;) {
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            how = describe(status);
            return;
        }
        if (r < 0 && errno != EINTR) {
            how = "ended";
            return;
        }
        if (monotonicMs() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    how = describe(status);
}

bool appendToFile(const Path &path, const void *data, size_t size)
{
    if (path.empty()) return false;
    // Non-blocking: a FIFO without a reader is refused instead of waited for.
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666));
    if (file.get() < 0) return false;
    // One write for the whole block: appends to a regular file are made
    // under the file's lock, whole. Only a signal or a full disk splits one.
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        ssize_t n = ::write(file.get(), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string moduleDirectory()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void *>(&moduleDirectory), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::tm localTime(std::time_t when)
{
    std::tm tm{};
    localtime_r(&when, &tm);
    return tm;
}

bool localeIsUtf8()
{
    const char *codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0;
}

void *detail::newLowJump(void *target)
{
#if defined(__x86_64__) && defined(MAP_32BIT)
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const size_t size = pageSize > 0 ? static_cast<size_t>(pageSize) : 4096;
    void *page = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (page == MAP_FAILED) return nullptr;
    if (reinterpret_cast<uintptr_t>(page) + size > 0x80000000u) {
        ::munmap(page, size);
        return nullptr;
    }
    writeLowJump(static_cast<unsigned char *>(page), target);
    if (::mprotect(page, size, PROT_READ | PROT_EXEC) != 0) {
        ::munmap(page, size);
        return nullptr;
    }
    return page;
#else
    (void)target;
    return nullptr;
#endif
}

HostProgram hostProgramFor(const char *) { return {"oskelsccih-host", false}; }

bool prepareHostProcess(const char *parentId)
{
#if defined(__linux__)
    // Ends with the process that started it, even while a provider call hangs.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (parentId != nullptr && std::strtol(parentId, nullptr, 10) != static_cast<long>(getppid()))
        return false;
#else
    (void)parentId;
#endif
    return true;
}

} // namespace oskel::platform
