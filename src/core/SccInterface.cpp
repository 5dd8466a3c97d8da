// Interface object lifecycle: construction, provider loading, the start and
// the end of the provider connection.
#include "core/SccInterface.h"

#include <cstring>
#include <optional>

#include "core/connect_report.h"
#include "core/message_list.h"
#include "core/provider_calls.h"

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

SccInterface::SccInterface(const char *providerKey, MessageOwner owner) {
    resetConnectReport();
    connection.provider = loadProvider(providerKey);
    construct(owner);
}

SccInterface::SccInterface(MessageOwner owner) {
    resetConnectReport();
    connection.provider = loadDefaultProvider();
    construct(owner);
}

void SccInterface::construct(MessageOwner owner) {
    resetCommandOptions();
    createPopulateList(true);
    if (owner == MessageOwner::Connection) {
        ownMessages = std::make_unique<MessageList>();
        control.messages = ownMessages.get();
        if (connection.library)
            connection.library->addMember(ownMessages.get());
    } else {
        messages::resetMessageList();
        if (connection.library)
            connection.library->noteProcessListUser();
    }
    project.texts = ProjectTexts{};
    connection.auxPathLabel[0] = '\0';
}

SccInterface::~SccInterface() {
    forgetNameChanges();
    freePopulateList();
    if (!ownMessages)
        messages::freeMessageList();
    freeCommandOptions();
    tracing.set(tracing.level(), nullptr);
    uninitialize();
    connection.provider.reset();
    if (ownMessages && connection.library)
        connection.library->removeMember(ownMessages.get());
}

std::vector<std::string> SccInterface::takeOwnMessages() {
    if (!ownMessages)
        return {};
    if (connection.provider)
        connection.provider->collect();
    return ownMessages->take();
}

std::unique_ptr<Provider> SccInterface::loadDefaultProvider() {
    auto key = platform::RegistryKey::open(kProviderRootKey);
    if (!key.isOpen()) {
        connectFailed("the registry has no key Software\\SourceCodeControlProvider");
        return nullptr;
    }
    char value[kRegistryBuffer];
    if (!key.readText("ProviderRegKey", value, sizeof value)) {
        connectFailed("the registry names no default provider (no readable ProviderRegKey)");
        return nullptr;
    }
    key = platform::RegistryKey();
    return loadProvider(value);
}

namespace {
// A number from a registry value: a dword (or four binary bytes), or decimal
// text.
bool numberOf(const platform::RegistryValue &value, uint64_t &number) {
    using Type = platform::RegistryValue::Type;
    const std::string &b = value.bytes;
    if (value.type == Type::kDword || value.type == Type::kBinary) {
        if (b.size() != 4)
            return false;
        number = uint32_t(uint8_t(b[0])) | (uint32_t(uint8_t(b[1])) << 8) |
                 (uint32_t(uint8_t(b[2])) << 16) | (uint32_t(uint8_t(b[3])) << 24);
        return true;
    }
    if (value.type != Type::kString && value.type != Type::kExpandString)
        return false;
    size_t end = b.find('\0');
    if (end == std::string::npos)
        end = b.size();
    if (end == 0)
        return false;
    number = 0;
    for (size_t i = 0; i < end; ++i) {
        if (b[i] < '0' || b[i] > '9' || number > 0xffffffffu)
            return false;
        number = number * 10 + static_cast<uint64_t>(b[i] - '0');
    }
    return true;
}
} // namespace

ProviderSettings readProviderSettings(const platform::RegistryKey &key) {
    ProviderSettings settings;
    platform::RegistryValue value;
    uint64_t number = 0;
    // SCCHostProcess: 1 as a dword or as text.
    settings.hosted = key.readValue(kHostProcessValue, value, 16) && numberOf(value, number) &&
                      number == 1;
    // SCCHostTimeout: milliseconds; 0 or anything unreadable keeps the default.
    if (key.readValue(kHostTimeoutValue, value, 16) && numberOf(value, number) && number != 0 &&
        number <= 0xffffffffu)
        settings.timeoutMs = static_cast<uint32_t>(number);
    return settings;
}

std::unique_ptr<Provider> SccInterface::loadProvider(const char *providerKey) {
    if (providerKey == nullptr || std::strlen(providerKey) > kMaxKeyLength) {
        connectFailed("the provider key is missing or longer than 259 bytes");
        return nullptr;
    }
    connectReport().providerKey = providerKey;
    auto key = platform::RegistryKey::open(providerKey);
    if (!key.isOpen()) {
        connectFailed("the registry has no provider key by that name");
        return nullptr;
    }
    char path[kRegistryBuffer];
    if (!key.readText("SCCServerPath", path, sizeof path)) {
        connectFailed("the provider key has no readable SCCServerPath value");
        return nullptr;
    }
    connectReport().libraryPath = path;
    ProviderSettings settings = readProviderSettings(key);
    connectReport().hosted = settings.hosted;
    key = platform::RegistryKey();
    return openProvider(path, settings, connection.library);
}

namespace {
thread_local CallControl *runningCall = nullptr;

// Marks a provider call of one connection as running on this thread; the
// outermost one ends any cancel request when it returns.
class RunningCall {
public:
    explicit RunningCall(CallControl &control) : control_(control), previous_(runningCall) {
        if (control_.depth.fetch_add(1) == 0)
            control_.cancelRequested = false;
        runningCall = &control_;
    }
    ~RunningCall() {
        runningCall = previous_;
        if (control_.depth.fetch_sub(1) == 1)
            control_.cancelRequested = false;
    }
    RunningCall(const RunningCall &) = delete;
    RunningCall &operator=(const RunningCall &) = delete;

private:
    CallControl &control_;
    CallControl *previous_;
};
} // namespace

const CallControl *currentCall() { return runningCall; }

namespace messages {
void appendForCurrentCall(const std::string &entry) {
    if (runningCall != nullptr && runningCall->messages != nullptr)
        runningCall->messages->append(entry);
    else
        appendMessage(entry);
}
} // namespace messages

bool SccInterface::cancel() {
    if (control.depth.load() == 0)
        return false;
    control.cancelRequested = true;
    return true;
}

CallOutcome SccInterface::callProvider(ProviderCall &call) {
    if (!connection.provider)
        return {true, 0};
    // After SccUninitialize no provider knows the context any more: passing
    // it (null) again crashes real providers. SccGetVersion and the batch
    // calls take none.
    if (connection.ended && takes(call.entry, args::Context)) {
        if (traceLevel() >= 1)
            traceLine((std::string("Not called after SccUninitialize: ") +
                       entryPointName(call.entry))
                          .c_str());
        return {true, 0};
    }
    // One call at a time per provider library, from every connection to it.
    std::optional<ProviderLibrary::CallHold> serialised;
    if (connection.library)
        serialised.emplace(*connection.library);
    RunningCall running(control);
    call.askTextOut = control.cancelMode.load();
    // Renames reported since this connection's last call (from another
    // thread, or between calls) arrive before the call is made.
    deliverNameChanges();
    call.context = connection.providerContext;
    return connection.provider->call(call);
}

int32_t SccInterface::initialize() {
    auto name = std::make_unique<char[]>(kInitScratchSize);
    auto label = std::make_unique<char[]>(kInitScratchSize);
    ProviderCall call = calls::initialize(&connection.providerContext, kCallerName, name.get(),
                                          label.get(), &connection.capabilities,
                                          &connection.checkoutCommentLen, &connection.commentLen);
    CallOutcome outcome = callProvider(call);
    if (outcome.missing) {
        connectFailed(connection.provider ? "the provider library has no SccInitialize"
                               : "the provider could not be loaded");
        return kNoEntryPoint;
    }
    connectReport().initializeCalled = true;
    connectReport().initializeCode = outcome.code;
    if (outcome.code != SCC_OK)
        connectFailed("SccInitialize failed");
    name[kInitScratchSize - 1] = '\0';
    label[kInitScratchSize - 1] = '\0';
    copyBounded(connection.sccName, sizeof connection.sccName, name.get());
    copyBounded(connection.auxPathLabel, sizeof connection.auxPathLabel, label.get());
    return outcome.code;
}

int32_t SccInterface::uninitialize() {
    ProviderCall call = calls::plain(EntryPoint::Uninitialize);
    CallOutcome outcome = callProvider(call);
    connection.providerContext = 0;
    connection.ended = true;
    return outcome.missing ? kNoEntryPoint : outcome.code;
}

int32_t SccInterface::getVersion() {
    trace("-->Getting SCCI version", 2);
    ProviderCall call = calls::plain(EntryPoint::GetVersion);
    CallOutcome outcome = callProvider(call);
    trace("<--Getting SCCI version", 2);
    // A version is a number, not a code: a provider that has no answer (no
    // entry point, or its host ended during the call) gives 0, "unknown".
    return outcome.missing || outcome.faulted ? 0 : outcome.code;
}

} // namespace oskel
