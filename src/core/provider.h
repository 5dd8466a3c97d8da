// "The provider" as the interface object sees it: one generic call record per
// entry-point call, run either in this process (the loaded library) or in a
// provider host process. No operation knows which of the two it talks to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/entry_points.h"
#include "oskelsccih/scc_api.h"
#include "platform/platform.h"

namespace oskel {

// Sizes of the provider-facing scratch texts: larger than the API allows, so
// that a provider writing past the API's sizes overruns nothing of ours.
constexpr size_t kInitScratchSize = 4096;    // SccInitialize's name and aux label
constexpr size_t kProjectScratchSize = 2048; // each project text

// Every argument slot an entry point uses. Outputs are pointers owned by the
// caller; a pointer left null is passed to the provider as null.
struct ProviderCall {
    EntryPoint entry = EntryPoint::GetVersion;
    uint64_t context = 0;              // the provider's opaque context
    int32_t count = 0;                 // number of names
    const char **names = nullptr;      // `count` names (a single file: one)
    const char *comment = nullptr;
    int32_t flags = 0;                 // command flags, populate options, allowChangePath
    SCCLONG *perFile = nullptr;        // add flags or status words, `count` of them (in/out)
    int32_t command = 0;               // SCC command number
    uint64_t option = 0;               // option slot value passed to a file command
    uint64_t *optionSlot = nullptr;    // SccGetCommandOptions: the slot (in/out), or null
    // SccOpenProject / SccGetProjPath: four buffers of kProjectScratchSize bytes
    // (user, project name, local path, aux project path), read and written.
    char *projectTexts[4] = {nullptr, nullptr, nullptr, nullptr};
    const char *projectComment = nullptr; // SccOpenProject's comment
    SCCBOOL *allowNew = nullptr;          // SccGetProjPath's new-project flag (in/out)
    // SccInitialize: the context is written to `contextOut` (in/out), the name
    // and aux label to buffers of kInitScratchSize bytes.
    uint64_t *contextOut = nullptr;
    const char *callerName = nullptr;
    char *sccName = nullptr;
    char *auxLabel = nullptr;
    SCCLONG *capabilities = nullptr;
    SCCLONG *checkoutCommentLen = nullptr;
    SCCLONG *commentLen = nullptr;
    // Callbacks. The hosted provider calls them on the calling thread, during
    // the call, in the order the provider made them.
    LPTEXTOUTPROC textOut = nullptr;
    POPLISTFUNC populate = nullptr;
    void *callerData = nullptr;
    QUERYCHANGESFUNC changes = nullptr;
    POPDIRLISTFUNC dirItems = nullptr;

    // The further entry points.
    const char *newName = nullptr; // SccRename's new name, SccCreateSubProject's sub-project name
    // SccCreateSubProject's parent path, SccGetParentProjectPath's project
    // path, SccAddFromScc's destination folder (null: none).
    const char *path = nullptr;
    // The path written back goes to projectTexts[1]; the user and the aux
    // project path are projectTexts[0] and [3], as for the project calls.
    int32_t code = 0;          // option, extended capability or user option number
    int64_t optionValue = 0;   // SccSetOption's value (a number)
    // SccSetOption(SCC_OPT_NAMECHANGEPFN): the callback, passed as the value
    // when set. A hosted provider gets the host's forwarder instead, and the
    // reports it makes come back through this callback.
    OPTNAMECHANGEPFN nameChange = nullptr;
    char *eventName = nullptr;     // SccGetEvents: SCC_EVENT_NAME_SIZE bytes (out)
    SCCLONG *value = nullptr;      // event status, user option value (out)
    SCCLONG *remaining = nullptr;  // events still queued (out)
    SCCBOOL *answer = nullptr;     // supported, multi-checkout (out)
    // SccAddFromScc: receives copies of the names the provider reported (set:
    // the call is made). The provider's array is handed back to it for
    // freeing by a second call where the first one ran.
    std::vector<std::string> *added = nullptr;
    // The caller answers text-out (it is in cancel mode): a hosted provider's
    // text-out during the call waits for the answer. Otherwise the answer is
    // always SCC_MSG_RTN_OK and the messages travel one way.
    bool askTextOut = false;
};

struct CallOutcome {
    constexpr CallOutcome() = default;
    constexpr CallOutcome(bool missingEntry, int32_t result, bool fault = false)
        : code(result), missing(missingEntry), faulted(fault) {}
    int32_t code = 0;
    bool missing = false; // the provider library has no such entry point: nothing was called
    // The call did not complete: the provider host ended or broke the
    // protocol. `code` is then SCC_E_NONSPECIFICERROR, not the provider's.
    bool faulted = false;
};

class Provider {
public:
    virtual ~Provider() = default;
    virtual CallOutcome call(ProviderCall &call) = 0;
    // Hands what the provider sent outside any call to its text-out callback
    // without waiting (a host's messages wait in its channel until then;
    // in-process they were delivered when sent).
    virtual void collect() {}
};

class ProviderLibrary;

// How a provider is to be run, from its registry key.
struct ProviderSettings {
    bool hosted = false;
    uint32_t timeoutMs = 30000;
};

// The settings under a provider's registry key: SCCHostProcess (1 runs the
// provider in a host process) and SCCHostTimeout (milliseconds), each a dword
// or decimal text.
ProviderSettings readProviderSettings(const platform::RegistryKey &key);

// The provider library at `path`, loaded here or started in a host process as
// `settings` (and, on Windows, the library's machine type) ask. Null when the
// library cannot be loaded or the host cannot be started. `library` receives
// the library's lock and message routing (shared by every connection to it).
std::unique_ptr<Provider> openProvider(const char *path, const ProviderSettings &settings,
                                       ProviderLibrary *&library);
inline std::unique_ptr<Provider> openProvider(const char *path, const ProviderSettings &settings) {
    ProviderLibrary *library = nullptr;
    return openProvider(path, settings, library);
}

// Delivers to the text-out callbacks what every running provider host has
// sent from a provider thread of its own since its last call, without waiting:
// in-process such a message is in the message list at once. A host busy with
// a call is skipped (the call delivers its messages).
void collectHostMessages();

// The in-process provider, for a library loaded by the caller (taken over).
std::unique_ptr<Provider> inProcessProvider(void *library);

// A loaded library's entry points, looked up once when it loads; null where
// the library lacks one.
struct EntryPoints {
    void *symbols[kEntryPointCount] = {};
};
// Looks every entry point of the table up in `library` (null: none found).
EntryPoints resolveEntryPoints(void *library);

// Runs one call: the entry point of the record through its row of the table.
// Shared by the in-process provider and the host program.
CallOutcome callLibrary(const EntryPoints &entryPoints, ProviderCall &call);

} // namespace oskel
