// The in-process provider: the call record unpacked into a call of the loaded
// library's entry point, looked up by name at every call.
#include "core/provider.h"

#include "platform/platform.h"

namespace oskel {

namespace {

const char *const kEntryNames[] = {
    "SccInitialize", "SccUninitialize", "SccGetVersion",  "SccOpenProject",
    "SccCloseProject", "SccGetProjPath", "SccGet",         "SccCheckout",
    "SccCheckin",    "SccUncheckout",   "SccAdd",         "SccRemove",
    "SccHistory",    "SccDiff",         "SccProperties",  "SccQueryInfo",
    "SccRunScc",     "SccGetCommandOptions", "SccPopulateList",
};
static_assert(sizeof kEntryNames / sizeof kEntryNames[0] ==
                  static_cast<size_t>(EntryPoint::Count),
              "one name per entry point");

void *pointer(uint64_t value) { return reinterpret_cast<void *>(static_cast<uintptr_t>(value)); }
uint64_t value(void *p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }

class InProcessProvider final : public Provider {
public:
    explicit InProcessProvider(void *library) : library_(library) {}
    ~InProcessProvider() override { platform::freeLibrary(library_); }
    InProcessProvider(const InProcessProvider &) = delete;
    InProcessProvider &operator=(const InProcessProvider &) = delete;
    CallOutcome call(ProviderCall &c) override { return callLibrary(library_, c); }

private:
    void *library_;
};

} // namespace

const char *entryPointName(EntryPoint entry) {
    auto i = static_cast<size_t>(entry);
    return i < static_cast<size_t>(EntryPoint::Count) ? kEntryNames[i] : nullptr;
}

CallOutcome callLibrary(void *library, ProviderCall &c) {
    const char *name = entryPointName(c.entry);
    void *fn = library && name ? platform::findSymbol(library, name) : nullptr;
    if (fn == nullptr)
        return {true, 0};
    void *ctx = pointer(c.context);
    SCCCMDOPTS option = pointer(c.option);
    char **t = c.projectTexts;
    int32_t r = 0;
    switch (c.entry) {
    case EntryPoint::Initialize: {
        void *out = c.contextOut ? pointer(*c.contextOut) : nullptr;
        r = reinterpret_cast<SccInitializeFn>(fn)(c.contextOut ? &out : nullptr, nullptr,
                                                  c.callerName, c.sccName, c.capabilities,
                                                  c.auxLabel, c.checkoutCommentLen, c.commentLen);
        if (c.contextOut)
            *c.contextOut = value(out);
        break;
    }
    case EntryPoint::Uninitialize:
        r = reinterpret_cast<SccUninitializeFn>(fn)(ctx);
        break;
    case EntryPoint::GetVersion:
        r = reinterpret_cast<SccGetVersionFn>(fn)();
        break;
    case EntryPoint::OpenProject:
        r = reinterpret_cast<SccOpenProjectFn>(fn)(ctx, nullptr, t[0], t[1], t[2], t[3],
                                                   c.projectComment, c.textOut, c.flags);
        break;
    case EntryPoint::CloseProject:
        r = reinterpret_cast<SccCloseProjectFn>(fn)(ctx);
        break;
    case EntryPoint::GetProjPath:
        r = reinterpret_cast<SccGetProjPathFn>(fn)(ctx, nullptr, t[0], t[1], t[2], t[3], c.flags,
                                                   c.allowNew);
        break;
    case EntryPoint::Get:
    case EntryPoint::Uncheckout:
    case EntryPoint::History:
        r = reinterpret_cast<SccGetFn>(fn)(ctx, nullptr, c.count, c.names, c.flags, option);
        break;
    case EntryPoint::Checkout:
    case EntryPoint::Checkin:
    case EntryPoint::Remove:
        r = reinterpret_cast<SccCheckoutFn>(fn)(ctx, nullptr, c.count, c.names, c.comment, c.flags,
                                                option);
        break;
    case EntryPoint::Add:
        r = reinterpret_cast<SccAddFn>(fn)(ctx, nullptr, c.count, c.names, c.comment, c.perFile,
                                           option);
        break;
    case EntryPoint::Diff:
        r = reinterpret_cast<SccDiffFn>(fn)(ctx, nullptr, c.names ? c.names[0] : nullptr, c.flags,
                                            option);
        break;
    case EntryPoint::Properties:
        r = reinterpret_cast<SccPropertiesFn>(fn)(ctx, nullptr, c.names ? c.names[0] : nullptr);
        break;
    case EntryPoint::QueryInfo:
        r = reinterpret_cast<SccQueryInfoFn>(fn)(ctx, c.count, c.names, c.perFile);
        break;
    case EntryPoint::RunScc:
        r = reinterpret_cast<SccRunSccFn>(fn)(ctx, nullptr, c.count, c.names);
        break;
    case EntryPoint::GetCommandOptions: {
        SCCCMDOPTS slot = c.optionSlot ? pointer(*c.optionSlot) : nullptr;
        r = reinterpret_cast<SccGetCommandOptionsFn>(fn)(
            ctx, nullptr, static_cast<SCCCOMMAND>(c.command), c.optionSlot ? &slot : nullptr);
        if (c.optionSlot)
            *c.optionSlot = value(slot);
        break;
    }
    case EntryPoint::PopulateList:
        r = reinterpret_cast<SccPopulateListFn>(fn)(ctx, static_cast<SCCCOMMAND>(c.command),
                                                    c.count, c.names, c.populate, c.callerData,
                                                    c.perFile, c.flags);
        break;
    case EntryPoint::Count:
        return {true, 0};
    }
    return {false, r};
}

std::unique_ptr<Provider> inProcessProvider(void *library) {
    if (library == nullptr)
        return nullptr;
    return std::make_unique<InProcessProvider>(library);
}

} // namespace oskel
