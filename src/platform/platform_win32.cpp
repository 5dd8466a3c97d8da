// Win32 platform layer: the registry under HKEY_LOCAL_MACHINE, read-only, and
// LoadLibraryA / GetProcAddress / FreeLibrary.
#include "platform/platform.h"
#include "platform/testing.h"

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0601
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // SetThreadErrorMode
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace oskel::platform {

namespace {

HKEY keyOf(void *handle) { return static_cast<HKEY>(handle); }

} // namespace


void RegistryKey::close()
{
    if (handle_ != nullptr) RegCloseKey(keyOf(handle_));
    handle_ = nullptr;
}

RegistryKey RegistryKey::open(const char *subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

bool RegistryKey::readText(const char *name, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    DWORD size = capacity;
    // ERROR_MORE_DATA (the value does not fit) is a failure like any other.
    if (RegQueryValueExA(keyOf(handle_), name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    // Data stored without its terminator gets one when there is room.
    if (size < capacity) {
        buffer[size] = '\0';
        return true;
    }
    return size == capacity && size > 0 && buffer[size - 1] == '\0';
}

bool RegistryKey::readValue(const char *name, RegistryValue &out, uint32_t capacity) const
{
    if (handle_ == nullptr) return false;
    std::vector<char> data(capacity > 0 ? capacity : 1);
    DWORD type = 0;
    DWORD size = capacity;
    if (RegQueryValueExA(keyOf(handle_), name, nullptr, &type, reinterpret_cast<LPBYTE>(data.data()), &size) !=
            ERROR_SUCCESS ||
        size > capacity)
        return false;
    out.type = type;
    out.bytes.assign(data.data(), size);
    return true;
}

bool RegistryKey::valueCount(uint32_t *count) const
{
    if (handle_ == nullptr || count == nullptr) return false;
    DWORD values = 0;
    if (RegQueryInfoKeyA(keyOf(handle_), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    *count = values;
    return true;
}

bool RegistryKey::valueName(uint32_t index, char *buffer, uint32_t capacity, bool *tooLong) const
{
    if (tooLong != nullptr) *tooLong = false;
    if (handle_ == nullptr || buffer == nullptr) return false;
    DWORD length = capacity;
    LONG result = RegEnumValueA(keyOf(handle_), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (tooLong != nullptr) *tooLong = result == ERROR_MORE_DATA;
    return result == ERROR_SUCCESS;
}

RegistryReadScope::RegistryReadScope() = default;
RegistryReadScope::~RegistryReadScope() = default;

bool namesNonRegularFile(const char *path)
{
    if (path == nullptr || *path == '\0') return false;
    // No access asked for: the handle only tells what the path names. A named
    // pipe opened this way does not wait for data.
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_PIPE_BUSY;
    BY_HANDLE_FILE_INFORMATION info{};
    bool other = GetFileType(file) != FILE_TYPE_DISK ||
                 (GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    CloseHandle(file);
    return other;
}

RegistrySource describeRegistry() { return {"HKEY_LOCAL_MACHINE (the Windows registry)", "ok"}; }

bool setRegistryFile(const char *) { return false; }
bool setRegistryFile(const Path &) { return false; }

bool pathFromUtf16(const char16_t *units, size_t count, Path &out)
{
    out.clear();
    for (size_t i = 0; i < count; ++i)
        if (units[i] == 0) return false; // the system would see a shorter name
    out.assign(units, units + count);
    return true;
}

namespace {
thread_local DWORD loadError = 0;
}

std::string lastLoadError()
{
    if (loadError == 0) return "no library path";
    char text[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, loadError, 0,
                             text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
    return "error " + std::to_string(loadError) + (n > 0 ? std::string(": ") + text : std::string());
}

LibraryHandle loadLibrary(const char *path)
{
    loadError = 0;
    if (path == nullptr || *path == '\0') return nullptr;
    if (namesNonRegularFile(path)) return nullptr;
    // A library that fails to load must not stop the process on a system
    // error box; the failure is reported as a null handle.
    DWORD previousMode = 0;
    BOOL modeChanged = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryA(path);
    if (module == nullptr) loadError = GetLastError();
    // Pinned: the module stays mapped whatever FreeLibrary calls follow.
    HMODULE pinned = nullptr;
    if (module != nullptr)
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<LPCSTR>(module), &pinned);
    if (modeChanged) SetThreadErrorMode(previousMode, nullptr);
    return module;
}

void *findSymbol(LibraryHandle library, const char *name)
{
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryHandle library)
{
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

SharedLibraryLock::~SharedLibraryLock()
{
    if (handle_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool SharedLibraryLock::open(LibraryHandle library, const char *)
{
    if (library == nullptr || handle_ != kNone) return false;
    char name[96];
    std::snprintf(name, sizeof name, "Local\\oskelsccih-%lu-%llx",
                  static_cast<unsigned long>(GetCurrentProcessId()),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(library)));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) return false;
    handle_ = reinterpret_cast<intptr_t>(mutex);
    return true;
}

bool SharedLibraryLock::acquire(int32_t timeoutMs)
{
    if (handle_ == kNone) return true;
    DWORD waited = WaitForSingleObject(reinterpret_cast<HANDLE>(handle_),
                                       timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0);
    // An abandoned mutex (its owner thread ended holding it) is ours now.
    return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED || waited == WAIT_FAILED;
}

void SharedLibraryLock::release()
{
    if (handle_ != kNone) ReleaseMutex(reinterpret_cast<HANDLE>(handle_));
}

// ---- Child processes and their channel -------------------------------------
// Two anonymous pipes. Anonymous pipes cannot wait with a timeout, so a read
// with one polls PeekNamedPipe: it spins briefly, then sleeps a millisecond
// at a time.

namespace {
HANDLE handleOf(intptr_t value) { return reinterpret_cast<HANDLE>(value); }
intptr_t valueOf(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }
void closeHandle(intptr_t value)
{
    if (value != -1 && value != 0) CloseHandle(handleOf(value));
}
} // namespace


void Channel::close()
{
    closeHandle(in_);
    closeHandle(out_);
    in_ = out_ = kNone;
    dropBuffered();
}

Channel Channel::fromArgument(const char *argument)
{
    unsigned long in = 0, out = 0;
    char extra = 0;
    if (argument == nullptr || std::sscanf(argument, "%lu,%lu%c", &in, &out, &extra) != 2 || in == 0 ||
        out == 0)
        return Channel();
    HANDLE inHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(in));
    HANDLE outHandle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(out));
    // Nothing this process starts inherits them.
    SetHandleInformation(inHandle, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outHandle, HANDLE_FLAG_INHERIT, 0);
    return Channel(valueOf(inHandle), valueOf(outHandle));
}

bool Channel::write(const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0 && out_ != kNone) {
        DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handleOf(out_), p, chunk, &written, nullptr)) return false;
        p += written;
        size -= written;
    }
    return size == 0;
}

Channel::Status Channel::receiveSome(void *data, size_t size, int32_t timeoutMs, size_t &got)
{
    if (in_ == kNone) return Status::Error;
    DWORD chunk = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
    if (timeoutMs >= 0) {
        const int64_t deadline = monotonicMs() + timeoutMs;
        for (int round = 0;; ++round) {
            DWORD available = 0;
            if (!PeekNamedPipe(handleOf(in_), nullptr, 0, nullptr, &available, nullptr))
                return GetLastError() == ERROR_BROKEN_PIPE ? Status::Closed : Status::Error;
            if (available > 0) {
                if (available < chunk) chunk = available;
                break;
            }
            if (monotonicMs() >= deadline) return Status::Timeout;
            if (round < 200)
                SwitchToThread();
            else
                Sleep(1);
        }
    }
    // A pipe read returns once bytes have arrived, up to `chunk` of them.
    DWORD n = 0;
    if (!ReadFile(handleOf(in_), data, chunk, &n, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? Status::Closed : Status::Error;
    if (n == 0) return Status::Closed;
    got = n;
    return Status::Ok;
}

bool Channel::systemReadable()
{
    if (in_ == kNone) return false;
    DWORD available = 0;
    // A pipe that fails here has ended or broken: the read says which.
    return !PeekNamedPipe(handleOf(in_), nullptr, 0, nullptr, &available, nullptr) || available > 0;
}

namespace {
std::atomic<bool> failJobAssignment{false};
} // namespace

void testing::failNextJobAssignment() { failJobAssignment = true; }

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
    // toChild: we write, the child reads; fromChild: the child writes.
    HANDLE toChildRead = nullptr, toChildWrite = nullptr, fromChildRead = nullptr, fromChildWrite = nullptr;
    if (!CreatePipe(&toChildRead, &toChildWrite, nullptr, 0)) {
        error = "CreatePipe failed";
        return false;
    }
    if (!CreatePipe(&fromChildRead, &fromChildWrite, nullptr, 0)) {
        CloseHandle(toChildRead);
        CloseHandle(toChildWrite);
        error = "CreatePipe failed";
        return false;
    }
    Channel ours(valueOf(fromChildRead), valueOf(toChildWrite));
    Channel theirs(valueOf(toChildRead), valueOf(fromChildWrite));
    // Only the child's two ends are inheritable, and only by this child.
    SetHandleInformation(toChildRead, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    SetHandleInformation(fromChildWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    HANDLE inherited[2] = {toChildRead, fromChildWrite};

    // The attribute list is deleted on every path once it is initialized.
    struct AttributeList {
        std::vector<char> store;
        LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
        ~AttributeList()
        {
            if (list != nullptr) DeleteProcThreadAttributeList(list);
        }
    } attributes;
    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    attributes.store.resize(attributeSize);
    auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.store.data());
    if (!InitializeProcThreadAttributeList(list, 1, 0, &attributeSize)) {
        error = "cannot restrict the inherited handles";
        return false;
    }
    attributes.list = list;
    if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited,
                                   nullptr, nullptr)) {
        error = "cannot restrict the inherited handles";
        return false;
    }
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = list;

    char arguments[64];
    std::snprintf(arguments, sizeof arguments, " %lu,%lu",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(toChildRead)),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(fromChildWrite)));
    std::string commandLine = std::string("\"") + program + "\"" + arguments;

    // The child runs only inside a job that kills it when this process ends:
    // a host that hangs must not outlive the Java VM.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr) {
        error = "cannot create a job object: error " + std::to_string(GetLastError());
        return false;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        error = "cannot set up the job object: error " + std::to_string(GetLastError());
        CloseHandle(job);
        return false;
    }
    SetHandleInformation(job, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION info{};
    BOOL created = CreateProcessA(program, commandLine.data(), nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW,
                                  nullptr, nullptr, &startup.StartupInfo, &info);
    DWORD createError = GetLastError();
    theirs.close();
    if (!created) {
        CloseHandle(job);
        error = std::string("cannot start ") + program + ": error " + std::to_string(createError);
        return false;
    }
    bool assigned = false;
    if (failJobAssignment.exchange(false))
        SetLastError(ERROR_ACCESS_DENIED);
    else
        assigned = AssignProcessToJobObject(job, info.hProcess) != FALSE;
    if (!assigned) {
        error = "cannot put the host in its job: error " + std::to_string(GetLastError());
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        CloseHandle(job);
        return false;
    }
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    process_ = valueOf(info.hProcess);
    job_ = valueOf(job);
    channel = std::move(ours);
    return true;
}

void ChildProcess::finish(int32_t graceMs, std::string &how)
{
    if (!running()) return;
    HANDLE process = handleOf(process_);
    process_ = kNone;
    if (WaitForSingleObject(process, graceMs < 0 ? 0 : static_cast<DWORD>(graceMs)) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    char text[48];
    if (code >= 0xC0000000u)
        std::snprintf(text, sizeof text, "ended by exception 0x%08lX", static_cast<unsigned long>(code));
    else
        std::snprintf(text, sizeof text, "exited with code %lu", static_cast<unsigned long>(code));
    how = text;
    CloseHandle(process);
    closeHandle(job_);
    job_ = kNone;
}

struct ChildProcess::Reaper {};

bool ChildProcess::ended() const
{
    return !running() || WaitForSingleObject(handleOf(process_), 0) == WAIT_OBJECT_0;
}

bool appendToFile(const Path &path, const void *data, size_t size)
{
    if (path.empty()) return false;
    // Append access only: the system puts every write at the end of the file,
    // whole, whoever else appends to it. Within this process the appends also
    // take turns, for systems that emulate append access (wine).
    static std::mutex appending;
    std::lock_guard<std::mutex> turn(appending);
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    const char *p = static_cast<const char *>(data);
    while (ok && size > 0) {
        DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
        DWORD written = 0;
        ok = WriteFile(file, p, chunk, &written, nullptr) && written > 0;
        p += written;
        size -= written;
    }
    CloseHandle(file);
    return ok;
}

std::string moduleDirectory()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&moduleDirectory), &module))
        return {};
    char path[MAX_PATH + 1];
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string text(path, n);
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

int64_t monotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

std::tm localTime(std::time_t when)
{
    std::tm tm{};
    localtime_s(&tm, &when);
    return tm;
}

bool localeIsUtf8() { return false; }

void *detail::newLowJump(void *target)
{
#if defined(_WIN64) && (defined(_M_X64) || defined(__x86_64__))
    // The system places nothing low on request: try each allocation unit
    // upward from the lowest, skipping what is taken.
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t unit = system.dwAllocationGranularity;
    const uintptr_t least = reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress);
    for (uintptr_t at = (least + unit - 1) / unit * unit; at + system.dwPageSize <= 0x80000000u;) {
        MEMORY_BASIC_INFORMATION region;
        if (VirtualQuery(reinterpret_cast<void *>(at), &region, sizeof region) == 0) break;
        const uintptr_t regionEnd = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (region.State == MEM_FREE && regionEnd - at >= system.dwPageSize) {
            void *page = VirtualAlloc(reinterpret_cast<void *>(at), system.dwPageSize, MEM_RESERVE | MEM_COMMIT,
                                      PAGE_READWRITE);
            if (page != nullptr) {
                writeLowJump(static_cast<unsigned char *>(page), target);
                DWORD before = 0;
                if (!VirtualProtect(page, system.dwPageSize, PAGE_EXECUTE_READ, &before)) {
                    VirtualFree(page, 0, MEM_RELEASE);
                    return nullptr;
                }
                FlushInstructionCache(GetCurrentProcess(), page, kLowJumpSize);
                return page;
            }
            at += unit; // taken meanwhile, or not at a unit's start
        } else {
            at = (regionEnd + unit - 1) / unit * unit;
        }
    }
    return nullptr;
#else
    (void)target;
    return nullptr;
#endif
}

namespace {

constexpr uint16_t kMachineX86 = 0x14c;
constexpr uint16_t kMachineX64 = 0x8664;

// The machine type of a PE file (0x14c x86, 0x8664 x64); 0 when not one.
uint16_t peMachine(const char *path)
{
    std::FILE *f = std::fopen(path, "rb");
    if (f == nullptr) return 0;
    unsigned char dos[64];
    unsigned char nt[6];
    uint16_t machine = 0;
    if (std::fread(dos, 1, sizeof dos, f) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        long offset =
            static_cast<long>(dos[60] | (dos[61] << 8) | (dos[62] << 16) | (static_cast<uint32_t>(dos[63]) << 24));
        if (offset > 0 && std::fseek(f, offset, SEEK_SET) == 0 && std::fread(nt, 1, sizeof nt, f) == sizeof nt &&
            nt[0] == 'P' && nt[1] == 'E' && nt[2] == 0 && nt[3] == 0)
            machine = static_cast<uint16_t>(nt[4] | (nt[5] << 8));
    }
    std::fclose(f);
    return machine;
}

} // namespace

HostProgram hostProgramFor(const char *libraryPath)
{
    const uint16_t own = sizeof(void *) == 8 ? kMachineX64 : kMachineX86;
    uint16_t machine = libraryPath != nullptr ? peMachine(libraryPath) : 0;
    const bool foreign = (machine == kMachineX86 || machine == kMachineX64) && machine != own;
    if (!foreign) machine = own;
    return {machine == kMachineX86 ? "oskelsccih-host-x86.exe" : "oskelsccih-host-x64.exe", foreign};
}

bool prepareHostProcess(const char *)
{
    // A crashing provider ends the host at once, without an error box that
    // would keep it (and the call) waiting.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    return true;
}

} // namespace oskel::platform
