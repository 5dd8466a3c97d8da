#include "harness.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char **environ;
#endif

#ifndef LOCALSTORE_PROVIDER_DIR
#define LOCALSTORE_PROVIDER_DIR "."
#endif

namespace fs = std::filesystem;

namespace lstest {

// --- 8-bit names ----------------------------------------------------------------------

#ifdef _WIN32
fs::path P(const std::string &text) {
    if (text.empty()) {
        return fs::path();
    }
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return fs::path(wide);
}

std::string S(const fs::path &path) {
    std::wstring wide = path.wstring();
    if (wide.empty()) {
        return std::string();
    }
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr, nullptr);
    return text;
}

char separator() {
    return '\\';
}
#else
fs::path P(const std::string &text) {
    return fs::path(text);
}

std::string S(const fs::path &path) {
    return path.string();
}

char separator() {
    return '/';
}
#endif

std::string join(const std::string &root, const std::string &relative) {
    std::string out = root;
    if (!out.empty() && out.back() != separator()) {
        out += separator();
    }
    for (char c : relative) {
        out += c == '/' ? separator() : c;
    }
    return out;
}

// --- the library ----------------------------------------------------------------------

std::string providerPath() {
    const char *dir = std::getenv("OSKEL_PROVIDER_DIR");
    std::string folder = dir && *dir ? dir : LOCALSTORE_PROVIDER_DIR;
#ifdef _WIN32
    return join(folder, "localstore.dll");
#else
    return join(folder, "liblocalstore.so");
#endif
}

namespace {

void *openLibrary(const std::string &path, std::string &problem) {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        problem = "LoadLibrary(" + path + ") failed with error " + std::to_string(GetLastError());
    }
    return reinterpret_cast<void *>(module);
#else
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        problem = dlerror();
    }
    return module;
#endif
}

void *symbol(void *module, const char *name) {
#ifdef _WIN32
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(module), name));
#else
    return dlsym(module, name);
#endif
}

template <typename Fn>
void resolveEntry(void *module, const char *name, Fn &target, std::string &missing) {
    target = reinterpret_cast<Fn>(symbol(module, name));
    if (!target) {
        missing += std::string(missing.empty() ? "" : ", ") + name;
    }
}

std::vector<Message> &messageList() {
    static std::vector<Message> list;
    return list;
}

} // namespace

const Entries &loadProvider(const std::string &path, std::string *problem) {
    static Entries entries;
    static std::string loadedFrom;
    static std::string missing;
    if (loadedFrom.empty()) {
        std::string failure;
        void *module = openLibrary(path, failure);
        if (!module) {
            missing = "the library itself: " + failure;
        } else {
            resolveEntry(module, "SccInitialize", entries.initialize, missing);
            resolveEntry(module, "SccUninitialize", entries.uninitialize, missing);
            resolveEntry(module, "SccGetVersion", entries.getVersion, missing);
            resolveEntry(module, "SccOpenProject", entries.openProject, missing);
            resolveEntry(module, "SccCloseProject", entries.closeProject, missing);
            resolveEntry(module, "SccGetProjPath", entries.getProjPath, missing);
            resolveEntry(module, "SccGet", entries.get, missing);
            resolveEntry(module, "SccCheckout", entries.checkout, missing);
            resolveEntry(module, "SccCheckin", entries.checkin, missing);
            resolveEntry(module, "SccUncheckout", entries.uncheckout, missing);
            resolveEntry(module, "SccAdd", entries.add, missing);
            resolveEntry(module, "SccRemove", entries.remove, missing);
            resolveEntry(module, "SccDiff", entries.diff, missing);
            resolveEntry(module, "SccHistory", entries.history, missing);
            resolveEntry(module, "SccProperties", entries.properties, missing);
            resolveEntry(module, "SccQueryInfo", entries.queryInfo, missing);
            resolveEntry(module, "SccRunScc", entries.runScc, missing);
            resolveEntry(module, "SccGetCommandOptions", entries.getCommandOptions, missing);
            resolveEntry(module, "SccPopulateList", entries.populateList, missing);
            resolveEntry(module, "SccRename", entries.rename, missing);
            resolveEntry(module, "SccSetOption", entries.setOption, missing);
            resolveEntry(module, "SccGetEvents", entries.getEvents, missing);
            resolveEntry(module, "SccGetExtendedCapabilities", entries.getExtendedCapabilities, missing);
            resolveEntry(module, "SccAddFromScc", entries.addFromScc, missing);
            resolveEntry(module, "SccGetUserOption", entries.getUserOption, missing);
            resolveEntry(module, "SccBeginBatch", entries.beginBatch, missing);
            resolveEntry(module, "SccEndBatch", entries.endBatch, missing);
            resolveEntry(module, "SccCreateSubProject", entries.createSubProject, missing);
            resolveEntry(module, "SccGetParentProjectPath", entries.getParentProjectPath, missing);
            resolveEntry(module, "SccDirQueryInfo", entries.dirQueryInfo, missing);
            resolveEntry(module, "SccDirDiff", entries.dirDiff, missing);
            resolveEntry(module, "SccQueryChanges", entries.queryChanges, missing);
            resolveEntry(module, "SccPopulateDirList", entries.populateDirList, missing);
            resolveEntry(module, "SccIsMultiCheckoutEnabled", entries.isMultiCheckoutEnabled, missing);
            resolveEntry(module, "SccWillCreateSccFile", entries.willCreateSccFile, missing);
        }
        loadedFrom = path;
    }
    if (problem) {
        *problem = missing;
    }
    return entries;
}

const Entries &provider(std::string *missing) {
    return loadProvider(providerPath(), missing);
}

// --- messages ----------------------------------------------------------------------------

SCCLONG SCC_CALL collectMessage(const char *text, SCCLONG type) {
    messageList().push_back({type, text ? text : "(null)"});
    return 0;
}

std::vector<Message> takeMessages() {
    std::vector<Message> taken;
    taken.swap(messageList());
    return taken;
}

std::string describe(const std::vector<Message> &messages) {
    std::string text;
    for (const Message &message : messages) {
        text += std::to_string(message.type) + ": " + message.text + "\n";
    }
    return text.empty() ? "(no messages)\n" : text;
}

bool anyMessageContains(const std::vector<Message> &messages, SCCLONG type, const std::string &part) {
    for (const Message &message : messages) {
        if (message.type == type && message.text.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string codeText(SCCRTN code) {
    static const char *const positive[] = {"SCC_OK", "SCC_I_ADV_SUPPORT", "SCC_I_OPERATIONCANCELED",
                                           "SCC_I_PROJECTCREATED", "SCC_I_FILENOTAFFECTED", "SCC_I_RELOADFILE",
                                           "SCC_I_FILEDIFFERS", "SCC_I_SHARESUBPROJOK"};
    static const char *const negative[] = {
        "SCC_E_INITIALIZEFAILED", "SCC_E_UNKNOWNPROJECT",   "SCC_E_COULDNOTCREATEPROJECT", "SCC_E_NOTCHECKEDOUT",
        "SCC_E_ALREADYCHECKEDOUT", "SCC_E_FILEISLOCKED",    "SCC_E_FILEOUTEXCLUSIVE",      "SCC_E_ACCESSFAILURE",
        "SCC_E_CHECKINCONFLICT",  "SCC_E_FILEALREADYEXISTS", "SCC_E_FILENOTCONTROLLED",    "SCC_E_FILEISCHECKEDOUT",
        "SCC_E_NOSPECIFIEDVERSION", "SCC_E_OPNOTSUPPORTED",  "SCC_E_NONSPECIFICERROR",     "SCC_E_OPNOTPERFORMED",
        "SCC_E_TYPENOTSUPPORTED", "SCC_E_VERIFYMERGE",       "SCC_E_FIXMERGE",             "SCC_E_SHELLFAILURE",
        "SCC_E_INVALIDUSER",      "SCC_E_PROJECTALREADYOPEN", "SCC_E_PROJSYNTAXERR",       "SCC_E_INVALIDFILEPATH",
        "SCC_E_PROJNOTOPEN",      "SCC_E_NOTAUTHORIZED",     "SCC_E_FILESYNTAXERR",        "SCC_E_FILENOTEXIST",
        "SCC_E_CONNECTIONFAILURE", "SCC_E_UNKNOWNERROR"};
    std::string name = "unknown code";
    if (code >= 0 && code < 8) {
        name = positive[code];
    } else if (code < 0 && code >= -30) {
        name = negative[-code - 1];
    }
    return name + " (" + std::to_string(code) + ")";
}

std::string statusText(SCCLONG status) {
    if (status == SCC_STATUS_INVALID) {
        return "INVALID";
    }
    static const std::pair<SCCLONG, const char *> bits[] = {
        {SCC_STATUS_CONTROLLED, "CONTROLLED"}, {SCC_STATUS_CHECKEDOUT, "CHECKEDOUT"},
        {SCC_STATUS_OUTOTHER, "OUTOTHER"},     {SCC_STATUS_OUTEXCLUSIVE, "OUTEXCLUSIVE"},
        {SCC_STATUS_OUTMULTIPLE, "OUTMULTIPLE"}, {SCC_STATUS_OUTOFDATE, "OUTOFDATE"},
        {SCC_STATUS_DELETED, "DELETED"},       {SCC_STATUS_LOCKED, "LOCKED"},
        {SCC_STATUS_MERGED, "MERGED"},         {SCC_STATUS_SHARED, "SHARED"},
        {SCC_STATUS_PINNED, "PINNED"},         {SCC_STATUS_MODIFIED, "MODIFIED"},
        {SCC_STATUS_OUTBYUSER, "OUTBYUSER"},   {SCC_STATUS_NOMERGE, "NOMERGE"}};
    std::string text;
    SCCLONG rest = status;
    for (const auto &bit : bits) {
        if (status & bit.first) {
            text += (text.empty() ? "" : "|") + std::string(bit.second);
            rest &= ~bit.first;
        }
    }
    if (rest) {
        text += (text.empty() ? "" : "|") + std::to_string(rest);
    }
    return text.empty() ? "NOTCONTROLLED" : text;
}

// --- one provider context ------------------------------------------------------------------

std::vector<const char *> pointers(const std::vector<std::string> &names) {
    std::vector<const char *> out;
    for (const std::string &name : names) {
        out.push_back(name.c_str());
    }
    out.push_back(nullptr);
    return out;
}

Client::Client() : entries_(provider()) {
    if (!entries_.initialize) {
        throw std::runtime_error("the provider library is not loaded");
    }
    char name[SCC_NAME_LEN + 1] = {};
    char label[SCC_AUXLABEL_LEN + 1] = {};
    SCCLONG checkoutComment = 0;
    SCCLONG comment = 0;
    if (entries_.initialize(&context_, nullptr, "Marrowby for Java SCM v2", name, &capabilities_, label,
                            &checkoutComment, &comment) != SCC_OK) {
        throw std::runtime_error("SccInitialize failed");
    }
    sccName_ = name;
}

Client::~Client() {
    if (context_) {
        entries_.uninitialize(context_);
    }
}

SCCRTN Client::open(const std::string &user, const std::string &local, const std::string &store, SCCLONG flags,
                    const std::string &project, LPTEXTOUTPROC textOut) {
    char userBuffer[261] = {};
    char projectBuffer[261] = {};
    char auxBuffer[261] = {};
    user.copy(userBuffer, 260);
    project.copy(projectBuffer, 260);
    store.copy(auxBuffer, 260);
    return entries_.openProject(context_, nullptr, userBuffer, projectBuffer, local.c_str(), auxBuffer, "",
                                textOut, flags);
}

SCCRTN Client::close() {
    return entries_.closeProject(context_);
}

SCCRTN Client::add(const std::vector<std::string> &names, const char *comment, std::vector<SCCLONG> flags) {
    flags.resize(names.size(), 0);
    auto list = pointers(names);
    return entries_.add(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), comment, flags.data(),
                        nullptr);
}

SCCRTN Client::get(const std::vector<std::string> &names) {
    auto list = pointers(names);
    return entries_.get(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), 0, nullptr);
}

SCCRTN Client::checkout(const std::vector<std::string> &names, const char *comment) {
    auto list = pointers(names);
    return entries_.checkout(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), comment, 0,
                             nullptr);
}

SCCRTN Client::checkin(const std::vector<std::string> &names, const char *comment, SCCLONG flags) {
    auto list = pointers(names);
    return entries_.checkin(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), comment, flags,
                            nullptr);
}

SCCRTN Client::uncheckout(const std::vector<std::string> &names) {
    auto list = pointers(names);
    return entries_.uncheckout(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), 0, nullptr);
}

SCCRTN Client::remove(const std::vector<std::string> &names, const char *comment) {
    auto list = pointers(names);
    return entries_.remove(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), comment, 0, nullptr);
}

SCCRTN Client::diff(const std::string &name, SCCLONG flags) {
    return entries_.diff(context_, nullptr, name.c_str(), flags, nullptr);
}

SCCRTN Client::history(const std::vector<std::string> &names) {
    auto list = pointers(names);
    return entries_.history(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data(), 0, nullptr);
}

SCCRTN Client::properties(const std::string &name) {
    return entries_.properties(context_, nullptr, name.c_str());
}

SCCRTN Client::runScc(const std::vector<std::string> &names) {
    auto list = pointers(names);
    return entries_.runScc(context_, nullptr, static_cast<SCCLONG>(names.size()), list.data());
}

std::vector<SCCLONG> Client::query(const std::vector<std::string> &names, SCCRTN *result) {
    std::vector<SCCLONG> status(names.size(), 0x5a5a5a5a);
    auto list = pointers(names);
    SCCRTN code = entries_.queryInfo(context_, static_cast<SCCLONG>(names.size()), list.data(), status.data());
    if (result) {
        *result = code;
    }
    return status;
}

SCCLONG Client::status(const std::string &name) {
    return query({name}).front();
}

// --- scratch files --------------------------------------------------------------------------

namespace {

std::string scratchRoot() {
    const char *dir = std::getenv("OSKEL_TEST_TMP");
    if (dir && *dir) {
        return dir;
    }
    return S(fs::temp_directory_path());
}

long currentProcessId() {
#ifdef _WIN32
    return static_cast<long>(GetCurrentProcessId());
#else
    return static_cast<long>(getpid());
#endif
}

} // namespace

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    path_ = join(scratchRoot(), "localstore-test-" + std::to_string(currentProcessId()) + "-" +
                                    std::to_string(counter++));
    removeTree(path_);
    makeDirs(path_);
}

ScratchDir::~ScratchDir() {
    try {
        removeTree(path_);
    } catch (const std::exception &) {
        // left behind in the temporary folder; nothing else to do
    }
}

void makeDirs(const std::string &path) {
    fs::create_directories(P(path));
}

void writeFile(const std::string &path, const std::string &data) {
    fs::path target = P(path);
    fs::create_directories(target.parent_path());
    if (fs::exists(target)) {
        setReadOnly(path, false);
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string readFile(const std::string &path) {
    std::ifstream in(P(path), std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

bool exists(const std::string &path) {
    std::error_code code;
    return fs::exists(P(path), code);
}

bool isReadOnly(const std::string &path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesW(P(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
#endif
}

void setReadOnly(const std::string &path, bool readOnly) {
    fs::perms write = fs::perms::owner_write;
#ifndef _WIN32
    if (readOnly) {
        write |= fs::perms::group_write | fs::perms::others_write;
    }
#endif
    fs::permissions(P(path), write, readOnly ? fs::perm_options::remove : fs::perm_options::add);
}

void markStoreReadOnly(const std::string &store, bool readOnly) {
    setReadOnly(join(store, "index.txt"), readOnly);
#ifndef _WIN32
    setReadOnly(store, readOnly);
    if (!readOnly) {
        fs::permissions(P(store), fs::perms::owner_all, fs::perm_options::add);
    }
#endif
}

void removeTree(const std::string &path) {
    std::error_code code;
    fs::path root = P(path);
    if (!fs::exists(root, code)) {
        return;
    }
    fs::permissions(root, fs::perms::owner_write | fs::perms::owner_read, fs::perm_options::add, code);
    for (fs::recursive_directory_iterator it(root, code), end; !code && it != end; it.increment(code)) {
        fs::permissions(it->path(), fs::perms::owner_write | fs::perms::owner_read, fs::perm_options::add, code);
        if (it->is_directory(code)) {
            fs::permissions(it->path(), fs::perms::owner_exec, fs::perm_options::add, code);
        }
    }
    code.clear();
    fs::remove_all(root, code);
    if (code) {
        throw std::runtime_error("cannot remove " + path + ": " + code.message());
    }
}

// --- other processes ---------------------------------------------------------------------------

std::string programDir() {
#ifdef _WIN32
    char buffer[MAX_PATH * 2];
    DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    return S(P(std::string(buffer, length)).parent_path());
#else
    return S(fs::read_symlink("/proc/self/exe").parent_path());
#endif
}

std::string workerPath() {
#ifdef _WIN32
    return join(programDir(), "localstore_worker.exe");
#else
    return join(programDir(), "localstore_worker");
#endif
}

ChildProcess::~ChildProcess() {
    if (running_) {
        kill();
        wait();
    }
}

#ifdef _WIN32
namespace {

// One argument quoted for CommandLineToArgvW's rules.
std::string quoted(const std::string &argument) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            out.append(backslashes * 2 + 1, '\\');
        } else {
            out.append(backslashes, '\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

} // namespace

bool ChildProcess::start(const std::vector<std::string> &arguments) {
    std::string line;
    for (const std::string &argument : arguments) {
        line += (line.empty() ? "" : " ") + quoted(argument);
    }
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<intptr_t>(info.hProcess);
    running_ = true;
    return true;
}

void ChildProcess::kill() {
    if (running_) {
        TerminateProcess(reinterpret_cast<HANDLE>(handle_), 137);
    }
}

int ChildProcess::wait() {
    if (!running_) {
        return -1;
    }
    HANDLE process = reinterpret_cast<HANDLE>(handle_);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    running_ = false;
    return code == 137 ? -1 : static_cast<int>(code);
}

bool ChildProcess::finished(int *exitCode) {
    if (!running_) {
        return true;
    }
    if (WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) != WAIT_OBJECT_0) {
        return false;
    }
    *exitCode = wait();
    return true;
}
#else
bool ChildProcess::start(const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    for (const std::string &argument : arguments) {
        argv.push_back(const_cast<char *>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    handle_ = pid;
    running_ = true;
    return true;
}

void ChildProcess::kill() {
    if (running_) {
        ::kill(static_cast<pid_t>(handle_), SIGKILL);
    }
}

int ChildProcess::wait() {
    if (!running_) {
        return -1;
    }
    int status = 0;
    while (waitpid(static_cast<pid_t>(handle_), &status, 0) < 0 && errno == EINTR) {
    }
    running_ = false;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool ChildProcess::finished(int *exitCode) {
    if (!running_) {
        return true;
    }
    int status = 0;
    pid_t done = waitpid(static_cast<pid_t>(handle_), &status, WNOHANG);
    if (done == 0) {
        return false;
    }
    running_ = false;
    *exitCode = done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}
#endif

bool makeFifo(const std::string &path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    return ::mkfifo(path.c_str(), 0644) == 0;
#endif
}

void releaseFifoReaders(const std::string &path) {
#ifdef _WIN32
    (void)path;
#else
    // Fails at once (ENXIO) when nobody waits to read.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
    }
#endif
}

void sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

int64_t nowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace lstest
