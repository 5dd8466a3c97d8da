// The native object behind one connection to a source-control provider.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "oskelsccih/scc_api.h"
#include "core/message_list.h"
#include "core/provider.h"
#include "core/provider_library.h"
#include "platform/platform.h"

namespace oskel {

using messages::MessageList;

// Fixed text sizes, terminator included. The project name and the aux project
// path may be as long as the SCC API allows a provider to make them.
constexpr size_t kTextSize = 261;        // 260 bytes of text and the terminator
constexpr size_t kProjectTextSize = 301; // SCC_PRJPATH_LEN and the terminator
constexpr size_t kMaxKeyLength = 259;    // longest provider key that is looked up

// The four project texts, in the order in which they always travel.
struct ProjectTexts {
    char user[kTextSize] = {};
    char projectName[kProjectTextSize] = {};
    char localPath[kTextSize] = {};
    char auxProjPath[kProjectTextSize] = {};
};

// One populate list: owned copies of the names the provider reported, in
// order, kept in one block of storage (a list of ten thousand names is one
// buffer, not ten thousand).
class NameList {
public:
    size_t size() const { return starts_.size(); }
    bool empty() const { return starts_.empty(); }
    const char *operator[](size_t i) const { return bytes_.data() + starts_[i]; }
    const char *front() const { return (*this)[0]; }
    const char *back() const { return (*this)[size() - 1]; }
    void push(const char *name) {
        starts_.push_back(bytes_.size());
        bytes_.append(name);
        bytes_.push_back('\0');
    }
    void clear() {
        starts_.clear();
        bytes_.clear();
    }
    void reserve(size_t names) { starts_.reserve(names); }

private:
    std::string bytes_;
    std::vector<size_t> starts_;
};

// The keep and drop lists of one object (commands/populate_list.cpp): counts
// are the lists' sizes; capacities grow as documented for the lists and are
// kept from one call to the next.
struct PopulateLists {
    NameList keepItems;
    NameList dropItems;
    int32_t keepCapacity = 0;
    int32_t dropCapacity = 0;
};

// The current project of one object (projects/).
struct ProjectState {
    ProjectTexts texts;   // user, projectName, localPath, auxProjPath
    int32_t projectOpen = 0;
    SCCBOOL allowNew = 1; // the in/out new-project flag SccGetProjPath receives by address
};

// The connection to the provider (core/SccInterface.cpp): the provider,
// in-process or hosted, the context every call passes, and what
// SccInitialize reported.
struct Connection {
    std::unique_ptr<Provider> provider;
    ProviderLibrary *library = nullptr; // lives as long as the process
    uint64_t providerContext = 0;
    char sccName[kTextSize] = {};
    char auxPathLabel[kTextSize] = {};
    int32_t capabilities = 0;
    SCCLONG checkoutCommentLen = 0;
    SCCLONG commentLen = 0;
    // SccUninitialize has been called: the context is gone, and no call that
    // would pass it is made again.
    bool ended = false;
};

// The trace settings of one object (core/trace.cpp). They may be switched by
// one thread while others trace (outside the calling contract, but it must
// not corrupt memory): the level is atomic, and the path is replaced whole,
// never changed in place, so a writer keeps the copy it loaded.
class TraceSettings {
public:
    int32_t level() const { return traceLevel; }
    // The log's path, or null when none is set.
    std::shared_ptr<const std::string> path() const { return std::atomic_load(&traceFilePath); }
    void set(int32_t newLevel, std::shared_ptr<const std::string> newPath) {
        traceLevel = newLevel;
        std::atomic_store(&traceFilePath, std::move(newPath));
    }

private:
    std::atomic<int32_t> traceLevel{0};
    std::shared_ptr<const std::string> traceFilePath;
};

// The provider call a connection is running, as its text-out answers and a
// cancel request from another thread see it. Atomics only: cancel() takes no
// lock and waits for nothing.
struct CallControl {
    // Where text-out during the call goes: the connection's own list, or null
    // for the process-wide one.
    MessageList *messages = nullptr;
    std::atomic<bool> cancelMode{false};      // SCC_OPT_HASCANCELMODE is on
    std::atomic<int32_t> depth{0};            // provider calls running (nested by callbacks)
    std::atomic<bool> cancelRequested{false}; // until the outermost call returns
};
// The call control of the connection whose provider call runs on this thread;
// null outside any call.
const CallControl *currentCall();

// Receivers for the further entry points' callbacks; none may throw.
class NameChangeSink {
public:
    virtual ~NameChangeSink() = default;
    virtual void nameChanged(const char *oldName, const char *newName) noexcept = 0;
};
class ChangeSink {
public:
    virtual ~ChangeSink() = default;
    // False stops the provider.
    virtual bool change(const char *name, int32_t changeType, const char *latestName) noexcept = 0;
};
class DirItemSink {
public:
    virtual ~DirItemSink() = default;
    // False stops the provider.
    virtual bool item(bool folder, const char *name) noexcept = 0;
};

// The texts SccCreateSubProject and SccGetParentProjectPath write back.
struct ProjectPathTexts {
    std::string user;
    std::string auxProjPath;
    std::string result; // the sub-project's or the parent's path
};

constexpr int kCommandSlots = 10;
constexpr int32_t kNoEntryPoint = SCC_E_NONSPECIFICERROR;
extern const char kCallerName[];

// Whose message list a connection's provider fills: the process-wide one
// (JavaSCCInterface, whose callers serialise every call and each fetch drains
// what every connection sent), or one of the connection's own (the typed API,
// whose connections run side by side).
enum class MessageOwner { Process, Connection };

class SccInterface {
public:
    // Construction with a provider key (8-bit text), or of the default provider.
    explicit SccInterface(const char *providerKey, MessageOwner owner = MessageOwner::Process);
    explicit SccInterface(MessageOwner owner = MessageOwner::Process);
    ~SccInterface();
    SccInterface(const SccInterface &) = delete;
    SccInterface &operator=(const SccInterface &) = delete;

    // Connection (lifecycle).
    int32_t initialize();
    int32_t uninitialize();
    // Ends the connection for good (the typed API's close): SccUninitialize,
    // then lets go of the provider (unloads its library, or leaves its host
    // to end with its last connection). Returns SccUninitialize's code, or
    // -15 when it is missing.
    int32_t end();
    int32_t getVersion();
    const char *getSCCName() const { return connection.sccName; }
    int32_t getCapabilities() const { return connection.capabilities; }
    // The comment lengths SccInitialize reported (bytes, terminator excluded).
    int32_t getCheckoutCommentLength() const { return static_cast<int32_t>(connection.checkoutCommentLen); }
    int32_t getCommentLength() const { return static_cast<int32_t>(connection.commentLen); }

    // Trace log.
    void setTracing(int32_t level, const char *path);
    void traceLine(const char *text) const;
    void trace(const char *text, int32_t minLevel) const;
    void traceFileList(const char *const *names, int32_t count) const;
    void writeCapabilityReport() const;
    // The first use of a further entry point by this connection: the report
    // of their capability bits follows the capability report from then on
    // (and is written now when tracing).
    void noteFurtherUse();
    // Appends a raw block (no date, time or tag) with one open and close.
    void writeRawBlock(const std::string &block) const;
    bool tracingTo() const { return tracing.path() != nullptr; }
    int32_t traceLevel() const { return tracing.level(); }

    // Provider messages.
    void getErrList(std::vector<std::string> &messages);
    // A connection with a list of its own: what its provider sent since the
    // last take (a host's messages sent between calls first collected).
    std::vector<std::string> takeOwnMessages();
    bool ownsMessages() const { return ownMessages != nullptr; }
    // The library this connection's provider runs (null when none loaded).
    ProviderLibrary *providerLibrary() const { return connection.library; }

    // Projects.
    // `flags` are SccOpenProject's (SCC_OP_*); the natives always create.
    int32_t openProject(const char *user, const char *projectName, const char *localPath,
                        const char *auxProjPath, int32_t flags = SCC_OP_CREATEIFNEW);
    int32_t getProjectPath(ProjectTexts &texts, int32_t allowChangePath, int32_t allowNewFlag);
    int32_t closeProject();
    void returnProjectPath(ProjectTexts &texts) const;
    void resetProjectPath(const ProjectTexts &texts);
    bool isProjectOpen() const { return project.projectOpen != 0; }
    const ProjectTexts &projectTexts() const { return project.texts; }

    // File commands: the members of one family, run through one shared path.
    int32_t getFiles(int32_t n, const char **names, int32_t flags);
    int32_t checkout(int32_t n, const char **names, const char *comment, int32_t flags);
    int32_t checkin(int32_t n, const char **names, const char *comment, int32_t flags);
    int32_t uncheckout(int32_t n, const char **names, int32_t flags);
    int32_t add(int32_t n, const char **names, const char *comment, SCCLONG *addFlags);
    int32_t remove(int32_t n, const char **names, const char *comment, int32_t flags);
    int32_t history(int32_t n, const char **names, int32_t flags);
    int32_t diff(const char *name, int32_t flags);
    int32_t properties(const char *name);
    int32_t queryInfo(int32_t n, const char **names, SCCLONG *status);
    int32_t runScc(int32_t n, const char **names);

    // Command options.
    int32_t getCommandOptions(int32_t command);
    int32_t checkCommandOptions(int32_t command);

    // Populate lists.
    int32_t populateList(int32_t command, int32_t n, const char **names, SCCLONG *status,
                         int32_t options);
    int32_t getListNumber(int32_t which) const;
    const NameList &getList(int32_t which) const;
    // Called by the populate callback with the keep flag and the reported name.
    void addPopulateEntry(SCCBOOL keep, const char *fileName);

    // The further entry points (commands/further_commands.cpp).
    int32_t rename(const char *oldName, const char *newName);
    // SccSetOption with a numeric value; cancel mode is followed here too.
    int32_t setOption(int32_t option, int64_t value);
    // Installs `sink` as the receiver of the provider's rename reports (user
    // data, then the callback), or removes it (null). The provider's code for
    // SCC_OPT_NAMECHANGEPFN.
    int32_t setNameChangeSink(std::unique_ptr<NameChangeSink> sink);
    // `name` receives the file's name ("" for an empty queue).
    int32_t getEvents(std::string &name, SCCLONG &status, SCCLONG &remaining);
    int32_t getExtendedCapabilities(int32_t capability, SCCBOOL &supported);
    // `destination`: the local folder, or null; `names` receives the names added.
    int32_t addFromScc(const char *destination, std::vector<std::string> &names);
    int32_t getUserOption(int32_t option, SCCLONG &value);
    int32_t beginBatch();
    int32_t endBatch();
    int32_t createSubProject(const char *user, const char *parentPath, const char *name,
                             const char *auxProjPath, const char *subProjPath,
                             ProjectPathTexts &out);
    int32_t getParentProjectPath(const char *user, const char *path, const char *auxProjPath,
                                 const char *parentPath, ProjectPathTexts &out);
    int32_t dirQueryInfo(int32_t n, const char **dirs, SCCLONG *status);
    int32_t dirDiff(const char *dir, int32_t flags);
    int32_t queryChanges(int32_t n, const char **names, ChangeSink &sink);
    int32_t populateDirList(int32_t n, const char **dirs, int32_t options, DirItemSink &sink);
    int32_t isMultiCheckoutEnabled(SCCBOOL &enabled);
    int32_t willCreateSccFile(int32_t n, const char **names, SCCBOOL *answers);
    // Asks the running provider call to stop (any thread): until it returns,
    // text-out answers SCC_MSG_RTN_CANCEL. False when no call is running.
    bool cancel();
    // Hands the rename reports queued so far to the receiver (the thread of a
    // call of this connection).
    void deliverNameChanges();
    // Queues a rename report (any thread).
    void queueNameChange(const char *oldName, const char *newName);
    CallControl &callControl() { return control; }

    // Runs one provider call with the connection's context; "missing" when
    // there is no provider or it lacks the entry point.
    CallOutcome callProvider(ProviderCall &call);

    // One row of the file-command family.
    struct CommandRow;

private:
    int32_t runCommand(const CommandRow &command, int32_t n, const char **names,
                       const char *comment, int32_t flags, SCCLONG *extra);
    void construct(MessageOwner owner);
    std::unique_ptr<Provider> loadProvider(const char *key);
    std::unique_ptr<Provider> loadDefaultProvider();
    void resetCommandOptions();
    void freeCommandOptions();
    void createPopulateList(bool initial);
    void freePopulateList();
    void traceProjectTexts(const ProjectTexts &texts) const;

    // Each subsystem's state; only its own code touches it (the others go
    // through the members above).
    Connection connection;                                // core/SccInterface.cpp
    TraceSettings tracing;                                // core/trace.cpp
    ProjectState project;                                 // projects/
    std::array<uint64_t, kCommandSlots> commandOptions{}; // commands/command_options.cpp
    PopulateLists lists;                                  // commands/populate_list.cpp
    CallControl control;
    std::unique_ptr<MessageList> ownMessages; // MessageOwner::Connection only
    std::atomic<bool> furtherUsed{false};
    // Rename reports: queued from any thread, delivered on a call's thread.
    // The provider is handed `id` as user data, never the object's address,
    // so that a report made after the object went finds nothing.
    struct NameChanges {
        std::mutex mutex;
        std::vector<std::pair<std::string, std::string>> queued;
        std::unique_ptr<NameChangeSink> sink;
        uint64_t id = 0; // 0 until a receiver is first installed
    } nameChanges;
    void forgetNameChanges();
};

// Writes a trace line that belongs to no interface object (found by a native
// that has none) to the trace log of every object that traces at level 1 or
// more, once per file.
void traceToEveryLog(const char *text);

// The capacity a populate list grows to from `capacity`.
int32_t grownCapacity(int32_t capacity);

} // namespace oskel
