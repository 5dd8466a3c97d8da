// The operating-system layer: read-only registry access under HKEY_LOCAL_MACHINE
// and dynamic loading of provider libraries. One implementation per platform
// (platform_win32.cpp, platform_posix.cpp); nothing above this header includes
// an operating-system header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "platform/registry_value.h"

namespace oskel::platform {

// Registry reads follow the Win32 contract the library relies on: a value that
// does not fit the caller's buffer is a failure, never a cut.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    RegistryKey(RegistryKey &&other) noexcept;
    RegistryKey &operator=(RegistryKey &&other) noexcept;
    ~RegistryKey();

    // Opens HKEY_LOCAL_MACHINE\subkey for reading. The result is not open on
    // failure (missing key, unreadable registry).
    static RegistryKey open(const char *subkey);
    bool isOpen() const { return handle_ != nullptr; }

    // Reads value `name` (null or "" for the default value) as zero-terminated
    // text into `buffer` of `capacity` bytes. False when the key is not open,
    // the value is missing, or its data and terminator do not fit. The data's
    // registry type is not examined (a dword reads as its four bytes).
    bool readText(const char *name, char *buffer, uint32_t capacity) const;

    // Reads value `name` with its type. False when the key is not open, the
    // value is missing, or its data is longer than `capacity` bytes.
    bool readValue(const char *name, RegistryValue &value, uint32_t capacity) const;

    // Number of values of the key.
    bool valueCount(uint32_t *count) const;

    // Name of value `index` in enumeration order into `buffer` of `capacity`
    // characters, terminator included. False when there is no such value or
    // the name and its terminator do not fit; `tooLong`, when given, is set
    // to whether the value exists and only its name does not fit.
    bool valueName(uint32_t index, char *buffer, uint32_t capacity, bool *tooLong = nullptr) const;

private:
    explicit RegistryKey(void *handle) : handle_(handle) {}
    void close();
    void *handle_ = nullptr;
};

// Where registry reads come from, and whether that source can be read: on
// Win32 the system registry (always "ok"); on POSIX the registry file and one
// of "ok", "missing", "unreadable", "not a regular file", "too large" or
// "malformed" (no header a registry export starts with, or no key in it).
struct RegistrySource {
    std::string location;
    std::string state;
};
RegistrySource describeRegistry();

// A path in the form the system's file calls take: UTF-16 for the wide API
// on Win32; on POSIX bytes in the encoding of the user's locale (the
// environment's, whatever the process's C locale is now), UTF-8 when that
// locale is plain ASCII ("C", "POSIX").
#if defined(_WIN32)
using Path = std::wstring;
#else
using Path = std::string;
#endif

// The path of the text `units` (`count` UTF-16 units, as a Java string holds
// them). False when the system's form cannot hold it: on POSIX a character
// the locale's encoding lacks, or, outside UTF-8, an unpaired surrogate (in
// UTF-8 one is kept as its three-byte form, as Java's own text has it).
bool pathFromUtf16(const char16_t *units, size_t count, Path &out);
// The same from standard UTF-8 text (a supplementary character as four
// bytes); an unpaired surrogate's three-byte form is taken as that unit.
// False also for bytes that are not such text.
bool pathFromUtf8(const char *text, Path &out);

// UTF-16 units as UTF-8: a supplementary character from its surrogate pair as
// four bytes, an unpaired surrogate as its three-byte form.
std::string utf16ToUtf8(const char16_t *units, size_t count);

// Names the registry file for the reads that follow (POSIX); null or "" goes
// back to OSKELSCCIH_REGISTRY and the default file. False where the registry
// is not a file (Win32). The text is taken as the system's bytes; the Path
// form is what callers holding Unicode text use.
bool setRegistryFile(const char *path);
bool setRegistryFile(const Path &path);

// True when `path` names something that exists and is not a regular file: a
// FIFO, a device, a folder, a pipe. Such a path is never read or loaded, since
// opening a FIFO or a pipe can block until a peer appears. Found without
// reading anything.
bool namesNonRegularFile(const char *path);

// Registry reads that belong together, such as those of one native call, see
// one reading of the registry: while a scope lives on a thread, every key that
// thread opens comes from the same reading. POSIX reads and parses the
// registry file once for the scope, instead of once per key. Scopes nest; the
// next scope sees the edits made meanwhile. Win32 reads the live registry.
class RegistryReadScope {
public:
    RegistryReadScope();
    ~RegistryReadScope();
    RegistryReadScope(const RegistryReadScope &) = delete;
    RegistryReadScope &operator=(const RegistryReadScope &) = delete;
};

// Dynamic loading. A library handle is opaque; null means none. A path that
// names a non-regular file gives null without an attempt to load it.
using LibraryHandle = void *;
LibraryHandle loadLibrary(const char *path);
// The loader's text for the last loadLibrary of this thread that failed.
std::string lastLoadError();
void *findSymbol(LibraryHandle library, const char *name);
// Libraries once loaded stay mapped for the life of the process (POSIX:
// RTLD_NODELETE; Win32: the module is pinned): a provider thread that
// outlives its connection never runs unmapped code. freeLibrary only drops
// the reference.
void freeLibrary(LibraryHandle library);

// A lock on one loaded library that every copy of this module in the process
// shares (class loaders of one JVM each load a copy of their own; they share
// the provider library, so they must share its lock too). POSIX: flock on a
// descriptor of the library file, which excludes other descriptors of the same
// process; Win32: a named mutex for the process and the module. Not
// re-entrant: the caller tracks its own ownership.
class SharedLibraryLock {
public:
    SharedLibraryLock() = default;
    SharedLibraryLock(const SharedLibraryLock &) = delete;
    SharedLibraryLock &operator=(const SharedLibraryLock &) = delete;
    ~SharedLibraryLock();
    // Prepares the lock of `library`, loaded from `path`. False when the
    // system offers none (the library then has only this copy's lock).
    bool open(LibraryHandle library, const char *path);
    bool isOpen() const { return handle_ != kNone; }
    // Takes the lock, waiting at most `timeoutMs` (0: a single try). False
    // when it was not taken in time.
    bool acquire(int32_t timeoutMs);
    void release();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;
};

// A two-way byte stream between the library and a child process: a socket
// pair on POSIX, two anonymous pipes on Win32. Not copyable; closing (or
// destroying) it ends the stream for both sides.
class Channel {
public:
    Channel() = default;
    Channel(const Channel &) = delete;
    Channel &operator=(const Channel &) = delete;
    Channel(Channel &&other) noexcept;
    Channel &operator=(Channel &&other) noexcept;
    ~Channel();

    // The child's end, from the argument its parent put on its command line.
    static Channel fromArgument(const char *argument);

    bool isOpen() const { return in_ != kNone; }
    void close();

    // Writes every byte; false when the stream is broken.
    bool write(const void *data, size_t size);

    enum class Status { Ok, Closed, Timeout, Error };
    // Reads exactly `size` bytes, waiting at most `timeoutMs` milliseconds for
    // each part to arrive (a negative timeout waits as long as it takes).
    // Whatever has arrived is taken in one system call and kept for the reads
    // that follow, so that a message's header and payload, sent together,
    // cost one receive.
    Status read(void *data, size_t size, int32_t timeoutMs);
    // Reads 1 to `size` bytes: what has arrived already, else what arrives
    // within `timeoutMs` (0: none is waited for, and Timeout says that nothing
    // had arrived; negative: as long as it takes). `got` receives the count.
    // A caller that must bound a whole message recomputes its wait each time.
    Status readSome(void *data, size_t size, int32_t timeoutMs, size_t &got);
    // True when a read would not wait: bytes have arrived, or the stream has
    // ended or broken (which the read then reports). Never waits itself.
    bool readable();

    // The most a read takes from the system ahead of what it was asked for.
    static constexpr size_t kReadAhead = 64 * 1024;

private:
    static constexpr intptr_t kNone = -1;
    Channel(intptr_t in, intptr_t out) : in_(in), out_(out) {}
    friend class ChildProcess;
    // Each platform's part of read() and readable(): waits at most
    // `timeoutMs` for bytes, then takes what there is, 1 to `size` bytes.
    Status receiveSome(void *data, size_t size, int32_t timeoutMs, size_t &got);
    bool systemReadable();
    void dropBuffered() { start_ = end_ = 0; }
    intptr_t in_ = kNone;  // descriptor or handle read from
    intptr_t out_ = kNone; // written to (the same descriptor on POSIX)
    std::unique_ptr<uint8_t[]> buffer_; // kReadAhead bytes once a read needed it
    size_t start_ = 0, end_ = 0;        // the bytes of buffer_ not read yet
    int32_t systemTimeoutMs_ = -1;      // the receive timeout the descriptor has (POSIX)
};

// A child process started with one end of a channel and nothing else of
// ours: every other descriptor or handle of this process is close-on-exec or
// not inheritable. The child is killed and reaped when the object goes.
class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ~ChildProcess();

    // Starts `program` with the channel argument as its one argument (POSIX:
    // and the parent's process id as a second one). On Win32 the child is put
    // in a job object that kills it when this process ends. False with a
    // reason in `error` when it cannot be started.
    bool start(const char *program, Channel &channel, std::string &error);
    bool running() const { return process_ != kNone; }

    // Waits up to `graceMs` for the child to end and reaps it; otherwise kills
    // it and reaps it. `how` says how it ended ("exited with code 3",
    // "killed by signal 9").
    void finish(int32_t graceMs, std::string &how);

    // True once the child has ended, whether or not finish() ran. On POSIX a
    // child that ends is reaped at once by a thread that waits for it, so it
    // never lingers as a zombie; finish() then reports how it ended.
    bool ended() const;

    struct Reaper; // each platform's own

private:
    static constexpr intptr_t kNone = -1;
    intptr_t process_ = kNone; // pid or process handle
#if defined(_WIN32)
    intptr_t job_ = kNone; // the job object that ends the child with this process
#endif
    std::shared_ptr<Reaper> reaper_; // POSIX: the waiting thread's state
};

// Appends `size` bytes to the file at `path`, created when missing, with one
// open, one write and one close: a block lands whole, never interleaved with
// what other writers append to the same file meanwhile. Size 0 only creates
// the file. False when it does not open (a folder, no permission, a FIFO
// without a reader) or the write fails. Line ends are not translated.
bool appendToFile(const Path &path, const void *data, size_t size);

// The folder of the module (shared library, DLL or program) holding this
// code, without a trailing separator; "" when it cannot be found.
std::string moduleDirectory();

// Milliseconds since some fixed point, for timeouts.
int64_t monotonicMs();

// The separator between a folder and a file name in a path.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The local date and time of `when`.
std::tm localTime(std::time_t when);

// Whether the character set of the current C locale is UTF-8 (always false on
// Win32, whose ANSI code pages the C library does not report as such).
bool localeIsUtf8();

// The provider host program that can load the library at `libraryPath`: its
// file name (beside this module), and whether the library must run there
// because this process cannot load it (a Win32 library built for the other
// machine type).
struct HostProgram {
    const char *fileName;
    bool required;
};
HostProgram hostProgramFor(const char *libraryPath);

// A jump to `target` placed below 2 GiB, for a function pointer handed to
// code that may keep it in a 32-bit LONG (a provider's SccSetOption value):
// the pointer then survives being cut to 32 bits and sign-extended back. Made
// once per target and never freed (a provider may call it at any time). Where
// pointers are 32 bits, or `target` is low already, `target` itself; null
// when no low memory can be had or the machine has no such jump here.
void *lowAddressJump(void *target);
namespace detail {
// Each platform's part of lowAddressJump: a new jump to `target` below
// 2 GiB, made read+execute once written; null when there can be none.
void *newLowJump(void *target);
// The x86-64 code of such a jump, kLowJumpSize bytes: movabs rax, target;
// jmp rax. rax carries no argument in either calling convention.
constexpr size_t kLowJumpSize = 12;
void writeLowJump(unsigned char *at, void *target);
} // namespace detail

// Set-up at the start of the provider host program: a crashing provider ends
// it without a dialog, and it ends with the process that started it. False
// when that process (`parentId`, if given) is already gone.
bool prepareHostProcess(const char *parentId);

} // namespace oskel::platform
