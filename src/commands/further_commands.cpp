// The provider API's entry points beyond the file commands and projects:
// rename, options and the name-change callback, events, extended
// capabilities, add from source control, user options, batches, sub-projects,
// folder status, list and diff, query changes, multi-checkout and .scc files.
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/SccInterface.h"

namespace oskel {

namespace {

// The connections that have a rename receiver, by the number their provider
// was handed as user data. A report reaches an object only while it is here.
std::mutex registryMutex;
auto *registry = new std::map<uint64_t, SccInterface *>(); // never destroyed
uint64_t lastId = 0;

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

// The four project text buffers the sub-project calls travel in: user, the
// resulting path, (unused), aux project path.
struct PathScratch {
    char texts[4][kProjectScratchSize] = {};
    void setInto(ProviderCall &call) {
        for (int i = 0; i < 4; ++i)
            call.projectTexts[i] = texts[i];
    }
    void drain(ProjectPathTexts &out) const {
        out.user = texts[0];
        out.result = texts[1];
        out.auxProjPath = texts[3];
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
    noteFurtherUse();
    trace("-->Rename", 1);
    if (traceLevel() > 1)
        traceLine((std::string("Renaming ") + (oldName ? oldName : "(null)") + " to " +
                   (newName ? newName : "(null)"))
                      .c_str());
    ProviderCall call;
    call.entry = EntryPoint::Rename;
    call.context = connection.providerContext;
    call.count = 1;
    call.names = &oldName;
    call.newName = newName;
    int32_t result = resultOf(callProvider(call));
    trace("<--Rename", 1);
    return result;
}

int32_t SccInterface::setOption(int32_t option, int64_t value) {
    noteFurtherUse();
    trace("-->Set option", 1);
    if (traceLevel() > 2)
        traceLine(("Setting option " + std::to_string(option) + " to " + std::to_string(value))
                      .c_str());
    ProviderCall call;
    call.entry = EntryPoint::SetOption;
    call.context = connection.providerContext;
    call.code = option;
    call.optionValue = value;
    int32_t result = resultOf(callProvider(call));
    // The caller answers the cancel question once the provider has taken the
    // option; a provider that refused it asks nothing.
    if (option == SCC_OPT_HASCANCELMODE && result >= 0)
        control.cancelMode = value == SCC_OPT_HCM_YES;
    trace("<--Set option", 1);
    return result;
}

int32_t SccInterface::setNameChangeSink(std::unique_ptr<NameChangeSink> sink) {
    noteFurtherUse();
    trace("-->Set name change callback", 1);
    if (sink) {
        std::lock_guard<std::mutex> hold(registryMutex);
        if (nameChanges.id == 0) {
            nameChanges.id = ++lastId;
            (*registry)[nameChanges.id] = this;
        }
    }
    // Replaced between calls only (this thread runs none of this
    // connection's calls now), so no delivery uses the old one meanwhile.
    nameChanges.sink = std::move(sink);
    const bool on = nameChanges.sink != nullptr;

    ProviderCall data;
    data.entry = EntryPoint::SetOption;
    data.context = connection.providerContext;
    data.code = SCC_OPT_USERDATA;
    data.optionValue = on ? static_cast<int64_t>(nameChanges.id) : 0;
    int32_t result = resultOf(callProvider(data));
    if (result >= 0) {
        ProviderCall callback;
        callback.entry = EntryPoint::SetOption;
        callback.context = connection.providerContext;
        callback.code = SCC_OPT_NAMECHANGEPFN;
        callback.nameChange = on ? nameChangeCallback : nullptr;
        result = resultOf(callProvider(callback));
    }
    trace("<--Set name change callback", 1);
    return result;
}

int32_t SccInterface::getEvents(std::string &name, SCCLONG &status, SCCLONG &remaining) {
    noteFurtherUse();
    trace("-->Get events", 2);
    char buffer[SCC_EVENT_NAME_SIZE] = {};
    status = 0;
    remaining = 0;
    ProviderCall call;
    call.entry = EntryPoint::GetEvents;
    call.context = connection.providerContext;
    call.eventName = buffer;
    call.value = &status;
    call.remaining = &remaining;
    int32_t result = resultOf(callProvider(call));
    buffer[sizeof buffer - 1] = '\0';
    name = buffer;
    if (traceLevel() > 3 && !name.empty())
        traceLine(("Event: " + name + " status=" + std::to_string(status) +
                   " remaining=" + std::to_string(remaining))
                      .c_str());
    trace("<--Get events", 2);
    return result;
}

int32_t SccInterface::getExtendedCapabilities(int32_t capability, SCCBOOL &supported) {
    noteFurtherUse();
    trace("-->Get extended capability", 2);
    if (traceLevel() > 2)
        traceLine(("Extended capability: " + std::to_string(capability)).c_str());
    supported = 0;
    ProviderCall call;
    call.entry = EntryPoint::GetExtendedCapabilities;
    call.context = connection.providerContext;
    call.code = capability;
    call.answer = &supported;
    int32_t result = resultOf(callProvider(call));
    trace("<--Get extended capability", 2);
    return result;
}

int32_t SccInterface::addFromScc(const char *destination, std::vector<std::string> &names) {
    noteFurtherUse();
    trace("-->Add from source control", 1);
    if (traceLevel() > 1 && destination != nullptr)
        traceLine((std::string("Into folder ") + destination).c_str());
    names.clear();
    ProviderCall call;
    call.entry = EntryPoint::AddFromScc;
    call.context = connection.providerContext;
    call.path = destination;
    call.added = &names;
    int32_t result = resultOf(callProvider(call));
    if (traceLevel() > 3 && tracingTo()) {
        std::string block = "Added:";
        for (const auto &name : names)
            block.append(name).push_back('\t');
        block += '\n';
        writeRawBlock(block);
    }
    trace("<--Add from source control", 1);
    return result;
}

int32_t SccInterface::getUserOption(int32_t option, SCCLONG &value) {
    noteFurtherUse();
    trace("-->Get user option", 1);
    if (traceLevel() > 2)
        traceLine(("User option: " + std::to_string(option)).c_str());
    value = 0;
    ProviderCall call;
    call.entry = EntryPoint::GetUserOption;
    call.context = connection.providerContext;
    call.code = option;
    call.value = &value;
    int32_t result = resultOf(callProvider(call));
    trace("<--Get user option", 1);
    return result;
}

// Batches have no context: they go to this connection's provider, which
// every connection to the same library shares (in-process or hosted).
int32_t SccInterface::beginBatch() {
    noteFurtherUse();
    trace("-->Begin batch", 1);
    ProviderCall call;
    call.entry = EntryPoint::BeginBatch;
    int32_t result = resultOf(callProvider(call));
    trace("<--Begin batch", 1);
    return result;
}

int32_t SccInterface::endBatch() {
    noteFurtherUse();
    trace("-->End batch", 1);
    ProviderCall call;
    call.entry = EntryPoint::EndBatch;
    int32_t result = resultOf(callProvider(call));
    trace("<--End batch", 1);
    return result;
}

int32_t SccInterface::createSubProject(const char *user, const char *parentPath, const char *name,
                                       const char *auxProjPath, const char *subProjPath,
                                       ProjectPathTexts &out) {
    noteFurtherUse();
    trace("-->Create sub-project", 1);
    if (traceLevel() > 1)
        traceLine((std::string("Sub-project ") + (name ? name : "(null)") + " of " +
                   (parentPath ? parentPath : "(null)"))
                      .c_str());
    auto scratch = std::make_unique<PathScratch>();
    copyBounded(scratch->texts[0], kProjectScratchSize, user);
    copyBounded(scratch->texts[1], kProjectScratchSize, subProjPath);
    copyBounded(scratch->texts[3], kProjectScratchSize, auxProjPath);
    ProviderCall call;
    call.entry = EntryPoint::CreateSubProject;
    call.context = connection.providerContext;
    scratch->setInto(call);
    call.path = parentPath;
    call.newName = name;
    int32_t result = resultOf(callProvider(call));
    scratch->drain(out);
    if (traceLevel() > 1)
        traceLine(("Sub-project path: " + out.result).c_str());
    trace("<--Create sub-project", 1);
    return result;
}

int32_t SccInterface::getParentProjectPath(const char *user, const char *path,
                                           const char *auxProjPath, const char *parentPath,
                                           ProjectPathTexts &out) {
    noteFurtherUse();
    trace("-->Get parent project path", 1);
    if (traceLevel() > 1)
        traceLine((std::string("Parent of ") + (path ? path : "(null)")).c_str());
    auto scratch = std::make_unique<PathScratch>();
    copyBounded(scratch->texts[0], kProjectScratchSize, user);
    copyBounded(scratch->texts[1], kProjectScratchSize, parentPath);
    copyBounded(scratch->texts[3], kProjectScratchSize, auxProjPath);
    ProviderCall call;
    call.entry = EntryPoint::GetParentProjectPath;
    call.context = connection.providerContext;
    scratch->setInto(call);
    call.path = path;
    int32_t result = resultOf(callProvider(call));
    scratch->drain(out);
    if (traceLevel() > 1)
        traceLine(("Parent project path: " + out.result).c_str());
    trace("<--Get parent project path", 1);
    return result;
}

int32_t SccInterface::dirQueryInfo(int32_t n, const char **dirs, SCCLONG *status) {
    noteFurtherUse();
    trace("-->Folder query info", 1);
    if (traceLevel() > 3)
        traceFileList(dirs, n);
    ProviderCall call;
    call.entry = EntryPoint::DirQueryInfo;
    call.context = connection.providerContext;
    call.count = n;
    call.names = dirs;
    call.perFile = status;
    int32_t result = resultOf(callProvider(call));
    trace("<--Folder query info", 1);
    return result;
}

int32_t SccInterface::dirDiff(const char *dir, int32_t flags) {
    noteFurtherUse();
    trace("-->Comparing folder", 1);
    if (traceLevel() > 1)
        traceLine((std::string("Comparing folder ") + (dir ? dir : "(null)")).c_str());
    ProviderCall call;
    call.entry = EntryPoint::DirDiff;
    call.context = connection.providerContext;
    call.count = 1;
    call.names = &dir;
    call.flags = flags;
    int32_t result = resultOf(callProvider(call));
    trace("<--Comparing folder", 1);
    return result;
}

int32_t SccInterface::queryChanges(int32_t n, const char **names, ChangeSink &sink) {
    noteFurtherUse();
    trace("-->Query changes", 1);
    if (traceLevel() > 3)
        traceFileList(names, n);
    ProviderCall call;
    call.entry = EntryPoint::QueryChanges;
    call.context = connection.providerContext;
    call.count = n;
    call.names = names;
    call.changes = changeCallback;
    call.callerData = &sink;
    int32_t result = resultOf(callProvider(call));
    trace("<--Query changes", 1);
    return result;
}

int32_t SccInterface::populateDirList(int32_t n, const char **dirs, int32_t options,
                                      DirItemSink &sink) {
    noteFurtherUse();
    trace("-->Populate folder list", 1);
    if (traceLevel() > 3)
        traceFileList(dirs, n);
    ProviderCall call;
    call.entry = EntryPoint::PopulateDirList;
    call.context = connection.providerContext;
    call.count = n;
    call.names = dirs;
    call.dirItems = dirItemCallback;
    call.callerData = &sink;
    call.flags = options;
    int32_t result = resultOf(callProvider(call));
    trace("<--Populate folder list", 1);
    return result;
}

int32_t SccInterface::isMultiCheckoutEnabled(SCCBOOL &enabled) {
    noteFurtherUse();
    trace("-->Is multi-checkout enabled", 2);
    enabled = 0;
    ProviderCall call;
    call.entry = EntryPoint::IsMultiCheckoutEnabled;
    call.context = connection.providerContext;
    call.answer = &enabled;
    int32_t result = resultOf(callProvider(call));
    trace("<--Is multi-checkout enabled", 2);
    return result;
}

int32_t SccInterface::willCreateSccFile(int32_t n, const char **names, SCCBOOL *answers) {
    noteFurtherUse();
    trace("-->Will create SCC file", 1);
    if (traceLevel() > 3)
        traceFileList(names, n);
    ProviderCall call;
    call.entry = EntryPoint::WillCreateSccFile;
    call.context = connection.providerContext;
    call.count = n;
    call.names = names;
    call.perFile = answers;
    int32_t result = resultOf(callProvider(call));
    trace("<--Will create SCC file", 1);
    return result;
}

} // namespace oskel
