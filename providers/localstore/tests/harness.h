// Test support: loads the provider library the way the bridge does
// (dlopen/LoadLibrary, entry points by name), collects what it sends through
// the text-out callback, and makes scratch folders and files.
#pragma once

#include "oskelsccih/scc_api.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lstest {

// --- 8-bit names ------------------------------------------------------------------

// A path for <filesystem> from the 8-bit text handed to the provider (bytes on
// POSIX, the ANSI code page on Windows), and back.
std::filesystem::path P(const std::string &text);
std::string S(const std::filesystem::path &path);
char separator();
// `relative` ('/'-separated) below `root`, with native separators.
std::string join(const std::string &root, const std::string &relative);

// --- the library -------------------------------------------------------------------

struct Entries {
    SccInitializeFn initialize = nullptr;
    SccUninitializeFn uninitialize = nullptr;
    SccGetVersionFn getVersion = nullptr;
    SccOpenProjectFn openProject = nullptr;
    SccCloseProjectFn closeProject = nullptr;
    SccGetProjPathFn getProjPath = nullptr;
    SccGetFn get = nullptr;
    SccCheckoutFn checkout = nullptr;
    SccCheckinFn checkin = nullptr;
    SccUncheckoutFn uncheckout = nullptr;
    SccAddFn add = nullptr;
    SccRemoveFn remove = nullptr;
    SccDiffFn diff = nullptr;
    SccHistoryFn history = nullptr;
    SccPropertiesFn properties = nullptr;
    SccQueryInfoFn queryInfo = nullptr;
    SccRunSccFn runScc = nullptr;
    SccGetCommandOptionsFn getCommandOptions = nullptr;
    SccPopulateListFn populateList = nullptr;
    SccRenameFn rename = nullptr;
    SccSetOptionFn setOption = nullptr;
    SccGetEventsFn getEvents = nullptr;
    SccGetExtendedCapabilitiesFn getExtendedCapabilities = nullptr;
    SccAddFromSccFn addFromScc = nullptr;
    SccGetUserOptionFn getUserOption = nullptr;
    SccBeginBatchFn beginBatch = nullptr;
    SccEndBatchFn endBatch = nullptr;
    SccCreateSubProjectFn createSubProject = nullptr;
    SccGetParentProjectPathFn getParentProjectPath = nullptr;
    SccDirQueryInfoFn dirQueryInfo = nullptr;
    SccDirDiffFn dirDiff = nullptr;
    SccQueryChangesFn queryChanges = nullptr;
    SccPopulateDirListFn populateDirList = nullptr;
    SccIsMultiCheckoutEnabledFn isMultiCheckoutEnabled = nullptr;
    SccWillCreateSccFileFn willCreateSccFile = nullptr;
};

// Path of the provider library: $OSKEL_PROVIDER_DIR (or the build's providers
// folder) and the platform's file name.
std::string providerPath();

// The library, loaded once per process and kept; entry points looked up by
// name. `missing` names the entry points that were not found.
const Entries &provider(std::string *missing = nullptr);
const Entries &loadProvider(const std::string &path, std::string *problem);

// --- messages ----------------------------------------------------------------------

struct Message {
    SCCLONG type;
    std::string text;
};

// The text-out callback handed to SccOpenProject; it appends to a list that
// belongs to the process (the tests are single-threaded).
SCCLONG SCC_CALL collectMessage(const char *text, SCCLONG type);
std::vector<Message> takeMessages();
// All messages as one text, "type: text" per line, for failure output.
std::string describe(const std::vector<Message> &messages);
bool anyMessageContains(const std::vector<Message> &messages, SCCLONG type, const std::string &part);

// Readable forms for failure output: "SCC_E_FILEOUTEXCLUSIVE (-7)",
// "CONTROLLED|CHECKEDOUT".
std::string codeText(SCCRTN code);
std::string statusText(SCCLONG status);

// --- one provider context ---------------------------------------------------------------

class Client {
public:
    Client();
    ~Client();
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    void *context() const { return context_; }
    const std::string &sccName() const { return sccName_; }
    SCCLONG capabilities() const { return capabilities_; }

    SCCRTN open(const std::string &user, const std::string &local, const std::string &store,
                SCCLONG flags = SCC_OP_CREATEIFNEW, const std::string &project = "",
                LPTEXTOUTPROC textOut = collectMessage);
    SCCRTN close();
    SCCRTN add(const std::vector<std::string> &names, const char *comment = "added",
               std::vector<SCCLONG> flags = {});
    SCCRTN get(const std::vector<std::string> &names);
    SCCRTN checkout(const std::vector<std::string> &names, const char *comment = "");
    SCCRTN checkin(const std::vector<std::string> &names, const char *comment = "changed", SCCLONG flags = 0);
    SCCRTN uncheckout(const std::vector<std::string> &names);
    SCCRTN remove(const std::vector<std::string> &names, const char *comment = "removed");
    SCCRTN diff(const std::string &name, SCCLONG flags = 0);
    SCCRTN history(const std::vector<std::string> &names);
    SCCRTN properties(const std::string &name);
    SCCRTN runScc(const std::vector<std::string> &names);
    std::vector<SCCLONG> query(const std::vector<std::string> &names, SCCRTN *result = nullptr);
    SCCLONG status(const std::string &name);

private:
    const Entries &entries_;
    void *context_ = nullptr;
    std::string sccName_;
    SCCLONG capabilities_ = 0;
};

std::vector<const char *> pointers(const std::vector<std::string> &names);

// --- scratch files --------------------------------------------------------------------

// A fresh folder below $OSKEL_TEST_TMP (or the system's temporary folder),
// removed with everything in it when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &relative) const { return join(path_, relative); }

private:
    std::string path_;
};

void makeDirs(const std::string &path);
void writeFile(const std::string &path, const std::string &data);  // makes it writable first
std::string readFile(const std::string &path);
bool exists(const std::string &path);
bool isReadOnly(const std::string &path);
void setReadOnly(const std::string &path, bool readOnly);
// Marks a store read-only the way the provider recognises it.
void markStoreReadOnly(const std::string &store, bool readOnly);
// Removes a tree, clearing read-only marks first.
void removeTree(const std::string &path);

// --- other processes --------------------------------------------------------------------

// The folder of the running test program (the worker program lies beside it).
std::string programDir();
std::string workerPath();

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool start(const std::vector<std::string> &arguments);
    void kill();        // at once, as kill -9 / TerminateProcess
    int wait();         // exit code; -1 when killed or not started
    bool finished(int *exitCode);

private:
    intptr_t handle_ = 0;
    bool running_ = false;
};

// A FIFO at `path`; false where there are none (Windows).
bool makeFifo(const std::string &path);
// Lets whoever is stuck opening or reading the FIFO go on (they read its end).
void releaseFifoReaders(const std::string &path);

void sleepMs(int milliseconds);
int64_t nowMs();

} // namespace lstest
