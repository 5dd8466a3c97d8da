// Interface object lifecycle: construction, provider loading, the start and
// the end of the provider connection.
#include "core/SccInterface.h"

#include <cstring>

#include "messages/messages.h"

namespace oskel {

const char kCallerName[] = "Marrowby for Java SCM v2";

namespace {
constexpr const char kProviderRootKey[] = "Software\\SourceCodeControlProvider";
constexpr uint32_t kRegistryBuffer = 260;

constexpr const char kHostProcessValue[] = "SCCHostProcess";
constexpr const char kHostTimeoutValue[] = "SCCHostTimeout";

void copyBounded(char *dst, size_t dstSize, const char *src) {
    size_t n = strnlen(src, dstSize - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}
} // namespace

SccInterface::SccInterface(const char *providerKey) {
    provider = loadProvider(providerKey);
    construct();
}

SccInterface::SccInterface() {
    provider = loadDefaultProvider();
    construct();
}

void SccInterface::construct() {
    resetCommandOptions();
    createPopulateList(true);
    messages::resetMessageList();
    project = ProjectTexts{};
    auxPathLabel[0] = '\0';
}

SccInterface::~SccInterface() {
    freePopulateList();
    messages::freeMessageList();
    freeCommandOptions();
    std::atomic_store(&traceFilePath, std::shared_ptr<const std::string>());
    uninitialize();
    provider.reset();
}

std::unique_ptr<Provider> SccInterface::loadDefaultProvider() {
    auto key = platform::RegistryKey::open(kProviderRootKey);
    if (!key.isOpen())
        return nullptr;
    char value[kRegistryBuffer];
    if (!key.readText("ProviderRegKey", value, sizeof value))
        return nullptr;
    key = platform::RegistryKey();
    return loadProvider(value);
}

namespace {
// SCCHostProcess: "1", or a dword 1 (read as text, its first byte is 1).
bool hostRequested(const platform::RegistryKey &key) {
    char value[16] = {};
    if (!key.readText(kHostProcessValue, value, sizeof value))
        return false;
    return std::strcmp(value, "1") == 0 || std::strcmp(value, "\x01") == 0;
}

// SCCHostTimeout: milliseconds as decimal text, or a dword (its four bytes).
uint32_t hostTimeout(const platform::RegistryKey &key) {
    constexpr uint32_t kDefault = 30000;
    unsigned char value[16] = {};
    if (!key.readText(kHostTimeoutValue, reinterpret_cast<char *>(value), sizeof value))
        return kDefault;
    uint64_t ms = 0;
    bool decimal = value[0] != 0;
    for (size_t i = 0; value[i] != 0 && decimal; ++i) {
        if (value[i] < '0' || value[i] > '9' || ms > 0xffffffffu)
            decimal = false;
        else
            ms = ms * 10 + static_cast<uint64_t>(value[i] - '0');
    }
    if (!decimal)
        ms = value[0] | (uint32_t(value[1]) << 8) | (uint32_t(value[2]) << 16) |
             (uint32_t(value[3]) << 24);
    return ms == 0 || ms > 0xffffffffu ? kDefault : static_cast<uint32_t>(ms);
}
} // namespace

std::unique_ptr<Provider> SccInterface::loadProvider(const char *providerKey) {
    if (providerKey == nullptr || std::strlen(providerKey) > kMaxKeyLength)
        return nullptr;
    auto key = platform::RegistryKey::open(providerKey);
    if (!key.isOpen())
        return nullptr;
    char path[kRegistryBuffer];
    if (!key.readText("SCCServerPath", path, sizeof path))
        return nullptr;
    ProviderSettings settings;
    settings.hosted = hostRequested(key);
    settings.timeoutMs = hostTimeout(key);
    key = platform::RegistryKey();
    return openProvider(path, settings);
}

CallOutcome SccInterface::callProvider(ProviderCall &call) {
    if (!provider)
        return {true, 0};
    return provider->call(call);
}

int32_t SccInterface::initialize() {
    auto name = std::make_unique<char[]>(kInitScratchSize);
    auto label = std::make_unique<char[]>(kInitScratchSize);
    ProviderCall call;
    call.entry = EntryPoint::Initialize;
    call.contextOut = &providerContext;
    call.callerName = kCallerName;
    call.sccName = name.get();
    call.auxLabel = label.get();
    call.capabilities = &capabilities;
    call.checkoutCommentLen = &checkoutCommentLen;
    call.commentLen = &commentLen;
    CallOutcome outcome = callProvider(call);
    if (outcome.missing)
        return kNoEntryPoint;
    name[kInitScratchSize - 1] = '\0';
    label[kInitScratchSize - 1] = '\0';
    copyBounded(sccName, sizeof sccName, name.get());
    copyBounded(auxPathLabel, sizeof auxPathLabel, label.get());
    return outcome.code;
}

int32_t SccInterface::uninitialize() {
    ProviderCall call;
    call.entry = EntryPoint::Uninitialize;
    call.context = providerContext;
    CallOutcome outcome = callProvider(call);
    providerContext = 0;
    return outcome.missing ? kNoEntryPoint : outcome.code;
}

int32_t SccInterface::getVersion() {
    trace("-->Getting SCCI version", 2);
    ProviderCall call;
    call.entry = EntryPoint::GetVersion;
    CallOutcome outcome = callProvider(call);
    trace("<--Getting SCCI version", 2);
    return outcome.missing ? 0 : outcome.code;
}

} // namespace oskel
