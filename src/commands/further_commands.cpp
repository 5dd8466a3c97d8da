// The provider API's entry points beyond the file commands and projects:
// rename, options and the name-change callback, events, extended
// capabilities, add from source control, user options, batches, sub-projects,
// folder status, list and diff, query changes, multi-checkout and .scc files.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>

#include "core/SccInterface.h"
#include "platform/platform.h"

namespace oskel {

namespace {

// The connections that have a rename receiver, by the number their provider
// was handed as user data. A report reaches an object only while it is here.
std::mutex registryMutex;
auto *registry = new std::map<uint64_t, SccInterface *>(); // never destroyed

// A number for a new receiver: not in use, not 0, below 2^31 (a provider that
// keeps its user data in 32 bits keeps it whole), and not guessable, so that
// a provider cannot aim a report at another provider's connection.
uint64_t unusedId() {
    static std::mt19937 numbers{std::random_device{}()};
    for (;;) {
        const uint64_t id = numbers() & 0x7fffffffu;
        if (id != 0 && registry->find(id) == registry->end())
            return id;
    }
}

void SCC_CALL nameChangeCallback(void *userData, const char *oldName, const char *newName) {
    const auto id = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(userData));
    SccInterface *object = nullptr;
    {
        std::lock_guard<std::mutex> hold(registryMutex);
        auto found = registry->find(id);
        if (found == registry->end())
            return;
        object = found->second;
        object->queueNameChange(oldName, newName);
    }
    // On the thread of one of its calls the object lives until that call
    // returns: the report is delivered now. From elsewhere it waits for the
    // connection's next call.
    if (currentCall() == &object->callControl())
        object->deliverNameChanges();
}

// The callback as providers get it: through a jump below 2 GiB, since the
// option's value is a LONG to many providers, which keep it in 32 bits and
// widen it back with its sign.
OPTNAMECHANGEPFN providerNameChangeCallback() {
    static const OPTNAMECHANGEPFN callback = [] {
        void *low = platform::lowAddressJump(reinterpret_cast<void *>(&nameChangeCallback));
        return low != nullptr ? reinterpret_cast<OPTNAMECHANGEPFN>(low) : nameChangeCallback;
    }();
    return callback;
}

SCCBOOL SCC_CALL changeCallback(void *callerData, QUERYCHANGESDATA *change) {
    auto *sink = static_cast<ChangeSink *>(callerData);
    if (sink == nullptr || change == nullptr)
        return SCC_OK;
    return sink->change(change->lpFileName, static_cast<int32_t>(change->dwChangeType),
                        change->lpLatestName)
               ? SCC_OK
               : SCC_I_OPERATIONCANCELED;
}

SCCBOOL SCC_CALL dirItemCallback(void *callerData, SCCBOOL folder, const char *name) {
    auto *sink = static_cast<DirItemSink *>(callerData);
    if (sink == nullptr)
        return SCC_OK;
    return sink->item(folder != 0, name) ? SCC_OK : SCC_I_OPERATIONCANCELED;
}

int32_t resultOf(const CallOutcome &outcome) {
    return outcome.missing ? kNoEntryPoint : outcome.code;
}

void copyBounded(char *dst, size_t size, const char *src) {
    if (src == nullptr)
        return;
    size_t n = strnlen(src, size - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

// One member of the family: its entry point, and the trace lines around its
// call with the level they need. What it passes and reads back is its own.
struct FurtherRow {
    EntryPoint entry;
    const char *entryLine;
    const char *exitLine;
    int32_t level;
};

// Indexes into kFurther.
enum : int { kRename, kSetOption, kSetNameChange, kGetEvents, kExtendedCapability, kAddFromScc,
             kGetUserOption, kBeginBatch, kEndBatch, kCreateSubProject, kParentProjectPath,
             kDirQueryInfo, kDirDiff, kQueryChanges, kPopulateDirList, kMultiCheckout,
             kWillCreateSccFile };

const FurtherRow kFurther[] = {
    {EntryPoint::Rename, "-->Rename", "<--Rename", 1},
    {EntryPoint::SetOption, "-->Set option", "<--Set option", 1},
    {EntryPoint::SetOption, "-->Set name change callback", "<--Set name change callback", 1},
    {EntryPoint::GetEvents, "-->Get events", "<--Get events", 2},
    {EntryPoint::GetExtendedCapabilities, "-->Get extended capability",
     "<--Get extended capability", 2},
    {EntryPoint::AddFromScc, "-->Add from source control", "<--Add from source control", 1},
    {EntryPoint::GetUserOption, "-->Get user option", "<--Get user option", 1},
    {EntryPoint::BeginBatch, "-->Begin batch", "<--Begin batch", 1},
    {EntryPoint::EndBatch, "-->End batch", "<--End batch", 1},
    {EntryPoint::CreateSubProject, "-->Create sub-project", "<--Create sub-project", 1},
    {EntryPoint::GetParentProjectPath, "-->Get parent project path", "<--Get parent project path",
     1},
    {EntryPoint::DirQueryInfo, "-->Folder query info", "<--Folder query info", 1},
    {EntryPoint::DirDiff, "-->Comparing folder", "<--Comparing folder", 1},
    {EntryPoint::QueryChanges, "-->Query changes", "<--Query changes", 1},
    {EntryPoint::PopulateDirList, "-->Populate folder list", "<--Populate folder list", 1},
    {EntryPoint::IsMultiCheckoutEnabled, "-->Is multi-checkout enabled",
     "<--Is multi-checkout enabled", 2},
    {EntryPoint::WillCreateSccFile, "-->Will create SCC file", "<--Will create SCC file", 1},
};

struct NothingAfter {
    void operator()(int32_t &) const {}
};

// The one path every member takes: the use noted, the way in traced; `fill`
// traces the member's arguments and states its fields; the provider called
// (with the connection's context); `after` reads back what the call wrote
// and may replace the result; the way out traced.
template <typename Fill, typename After = NothingAfter>
int32_t runFurther(SccInterface &scc, int row, Fill &&fill, After &&after = {}) {
    const FurtherRow &r = kFurther[row];
    scc.noteFurtherUse();
    scc.trace(r.entryLine, r.level);
    ProviderCall call;
    call.entry = r.entry;
    fill(call);
    int32_t result = resultOf(scc.callProvider(call));
    after(result);
    scc.trace(r.exitLine, r.level);
    return result;
}

// A list of names passed whole, traced at level 4.
void passNames(SccInterface &scc, ProviderCall &call, int32_t n, const char **names) {
    if (scc.traceLevel() > 3)
        scc.traceFileList(names, n);
    call.count = n;
    call.names = names;
}

// A text argument as the trace lines show it.
const char *shown(const char *text) { return text ? text : "(null)"; }

// The four project text buffers the sub-project calls travel in: user, the
// given and then the resulting path, (unused), aux project path.
struct PathScratch {
    char texts[4][kProjectScratchSize] = {};

    static std::unique_ptr<PathScratch> into(ProviderCall &call, const char *user, const char *path,
                                             const char *auxProjPath) {
        auto scratch = std::make_unique<PathScratch>();
        copyBounded(scratch->texts[0], kProjectScratchSize, user);
        copyBounded(scratch->texts[1], kProjectScratchSize, path);
        copyBounded(scratch->texts[3], kProjectScratchSize, auxProjPath);
        for (int i = 0; i < 4; ++i)
            call.projectTexts[i] = scratch->texts[i];
        return scratch;
    }
    // Hands the texts to `out` and traces the resulting path after `label`.
    void drain(const SccInterface &scc, const char *label, ProjectPathTexts &out) const {
        out.user = texts[0];
        out.result = texts[1];
        out.auxProjPath = texts[3];
        if (scc.traceLevel() > 1)
            scc.traceLine((label + out.result).c_str());
    }
};

} // namespace

void SccInterface::queueNameChange(const char *oldName, const char *newName) {
    std::lock_guard<std::mutex> hold(nameChanges.mutex);
    try {
        nameChanges.queued.emplace_back(oldName ? oldName : "", newName ? newName : "");
    } catch (...) {
        // Out of memory: the report is lost.
    }
}

void SccInterface::deliverNameChanges() {
    std::vector<std::pair<std::string, std::string>> reports;
    {
        std::lock_guard<std::mutex> hold(nameChanges.mutex);
        if (nameChanges.queued.empty())
            return;
        reports.swap(nameChanges.queued);
    }
    for (const auto &report : reports) {
        if (traceLevel() > 1)
            traceLine(("Renamed by the provider: " + report.first + " -> " + report.second).c_str());
        if (nameChanges.sink)
            nameChanges.sink->nameChanged(report.first.c_str(), report.second.c_str());
    }
}

void SccInterface::forgetNameChanges() {
    std::lock_guard<std::mutex> hold(registryMutex);
    if (nameChanges.id != 0)
        registry->erase(nameChanges.id);
}

int32_t SccInterface::rename(const char *oldName, const char *newName) {
    return runFurther(*this, kRename, [&](ProviderCall &call) {
        if (traceLevel() > 1)
            traceLine(
                (std::string("Renaming ") + shown(oldName) + " to " + shown(newName)).c_str());
        call.count = 1;
        call.names = &oldName;
        call.newName = newName;
    });
}

int32_t SccInterface::setOption(int32_t option, int64_t value) {
    return runFurther(
        *this, kSetOption,
        [&](ProviderCall &call) {
            if (traceLevel() > 2)
                traceLine(
                    ("Setting option " + std::to_string(option) + " to " + std::to_string(value))
                        .c_str());
            call.code = option;
            call.optionValue = value;
        },
        [&](int32_t &result) {
            // The caller answers the cancel question once the provider has
            // taken the option; a provider that refused it asks nothing.
            if (option == SCC_OPT_HASCANCELMODE && result >= 0)
                control.cancelMode = value == SCC_OPT_HCM_YES;
        });
}

int32_t SccInterface::setNameChangeSink(std::unique_ptr<NameChangeSink> sink) {
    bool on = false;
    return runFurther(
        *this, kSetNameChange,
        [&](ProviderCall &data) {
            if (sink) {
                std::lock_guard<std::mutex> hold(registryMutex);
                if (nameChanges.id == 0) {
                    nameChanges.id = unusedId();
                    (*registry)[nameChanges.id] = this;
                }
            }
            // Replaced between calls only (this thread runs none of this
            // connection's calls now), so no delivery uses the old one meanwhile.
            nameChanges.sink = std::move(sink);
            on = nameChanges.sink != nullptr;
            data.code = SCC_OPT_USERDATA;
            data.optionValue = on ? static_cast<int64_t>(nameChanges.id) : 0;
        },
        [&](int32_t &result) {
            if (result < 0)
                return;
            ProviderCall callback;
            callback.entry = EntryPoint::SetOption;
            callback.code = SCC_OPT_NAMECHANGEPFN;
            callback.nameChange = on ? providerNameChangeCallback() : nullptr;
            result = resultOf(callProvider(callback));
        });
}

int32_t SccInterface::getEvents(std::string &name, SCCLONG &status, SCCLONG &remaining) {
    char buffer[SCC_EVENT_NAME_SIZE] = {};
    return runFurther(
        *this, kGetEvents,
        [&](ProviderCall &call) {
            status = 0;
            remaining = 0;
            call.eventName = buffer;
            call.value = &status;
            call.remaining = &remaining;
        },
        [&](int32_t &) {
            buffer[sizeof buffer - 1] = '\0';
            name = buffer;
            if (traceLevel() > 3 && !name.empty())
                traceLine(("Event: " + name + " status=" + std::to_string(status) +
                           " remaining=" + std::to_string(remaining))
                              .c_str());
        });
}

int32_t SccInterface::getExtendedCapabilities(int32_t capability, SCCBOOL &supported) {
    return runFurther(*this, kExtendedCapability, [&](ProviderCall &call) {
        if (traceLevel() > 2)
            traceLine(("Extended capability: " + std::to_string(capability)).c_str());
        supported = 0;
        call.code = capability;
        call.answer = &supported;
    });
}

int32_t SccInterface::addFromScc(const char *destination, std::vector<std::string> &names) {
    return runFurther(
        *this, kAddFromScc,
        [&](ProviderCall &call) {
            if (traceLevel() > 1 && destination != nullptr)
                traceLine((std::string("Into folder ") + destination).c_str());
            names.clear();
            call.path = destination;
            call.added = &names;
        },
        [&](int32_t &) {
            if (traceLevel() > 3 && tracingTo()) {
                std::string block = "Added:";
                for (const auto &name : names)
                    block.append(name).push_back('\t');
                block += '\n';
                writeRawBlock(block);
            }
        });
}

int32_t SccInterface::getUserOption(int32_t option, SCCLONG &value) {
    return runFurther(*this, kGetUserOption, [&](ProviderCall &call) {
        if (traceLevel() > 2)
            traceLine(("User option: " + std::to_string(option)).c_str());
        value = 0;
        call.code = option;
        call.value = &value;
    });
}

// Batches have no context: they go to this connection's provider, which
// every connection to the same library shares (in-process or hosted).
int32_t SccInterface::beginBatch() {
    return runFurther(*this, kBeginBatch, [](ProviderCall &) {});
}

int32_t SccInterface::endBatch() {
    return runFurther(*this, kEndBatch, [](ProviderCall &) {});
}

int32_t SccInterface::createSubProject(const char *user, const char *parentPath, const char *name,
                                       const char *auxProjPath, const char *subProjPath,
                                       ProjectPathTexts &out) {
    std::unique_ptr<PathScratch> scratch;
    return runFurther(
        *this, kCreateSubProject,
        [&](ProviderCall &call) {
            if (traceLevel() > 1)
                traceLine((std::string("Sub-project ") + shown(name) + " of " + shown(parentPath))
                              .c_str());
            scratch = PathScratch::into(call, user, subProjPath, auxProjPath);
            call.path = parentPath;
            call.newName = name;
        },
        [&](int32_t &) { scratch->drain(*this, "Sub-project path: ", out); });
}

int32_t SccInterface::getParentProjectPath(const char *user, const char *path,
                                           const char *auxProjPath, const char *parentPath,
                                           ProjectPathTexts &out) {
    std::unique_ptr<PathScratch> scratch;
    return runFurther(
        *this, kParentProjectPath,
        [&](ProviderCall &call) {
            if (traceLevel() > 1)
                traceLine((std::string("Parent of ") + shown(path)).c_str());
            scratch = PathScratch::into(call, user, parentPath, auxProjPath);
            call.path = path;
        },
        [&](int32_t &) { scratch->drain(*this, "Parent project path: ", out); });
}

int32_t SccInterface::dirQueryInfo(int32_t n, const char **dirs, SCCLONG *status) {
    return runFurther(*this, kDirQueryInfo, [&](ProviderCall &call) {
        passNames(*this, call, n, dirs);
        call.perFile = status;
    });
}

int32_t SccInterface::dirDiff(const char *dir, int32_t flags) {
    return runFurther(*this, kDirDiff, [&](ProviderCall &call) {
        if (traceLevel() > 1)
            traceLine((std::string("Comparing folder ") + shown(dir)).c_str());
        call.count = 1;
        call.names = &dir;
        call.flags = flags;
    });
}

int32_t SccInterface::queryChanges(int32_t n, const char **names, ChangeSink &sink) {
    return runFurther(*this, kQueryChanges, [&](ProviderCall &call) {
        passNames(*this, call, n, names);
        call.changes = changeCallback;
        call.callerData = &sink;
    });
}

int32_t SccInterface::populateDirList(int32_t n, const char **dirs, int32_t options,
                                      DirItemSink &sink) {
    return runFurther(*this, kPopulateDirList, [&](ProviderCall &call) {
        passNames(*this, call, n, dirs);
        call.dirItems = dirItemCallback;
        call.callerData = &sink;
        call.flags = options;
    });
}

int32_t SccInterface::isMultiCheckoutEnabled(SCCBOOL &enabled) {
    return runFurther(*this, kMultiCheckout, [&](ProviderCall &call) {
        enabled = 0;
        call.answer = &enabled;
    });
}

int32_t SccInterface::willCreateSccFile(int32_t n, const char **names, SCCBOOL *answers) {
    return runFurther(*this, kWillCreateSccFile, [&](ProviderCall &call) {
        passNames(*this, call, n, names);
        call.perFile = answers;
    });
}

} // namespace oskel
