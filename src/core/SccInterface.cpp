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

// Provider-facing scratch texts are larger than what is kept, so that a
// provider that writes past the API's sizes overruns nothing of ours.
constexpr size_t kScratchSize = 4096;

void copyBounded(char *dst, size_t dstSize, const char *src) {
    size_t n = strnlen(src, dstSize - 1);
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}
} // namespace

SccInterface::SccInterface(const char *providerKey) {
    providerLibrary = loadProvider(providerKey);
    construct();
}

SccInterface::SccInterface() {
    providerLibrary = loadDefaultProvider();
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
    traceFilePath.reset();
    uninitialize();
    if (providerLibrary) {
        platform::freeLibrary(providerLibrary);
        providerLibrary = nullptr;
    }
}

platform::LibraryHandle SccInterface::loadDefaultProvider() {
    auto key = platform::RegistryKey::open(kProviderRootKey);
    if (!key.isOpen())
        return nullptr;
    char value[kRegistryBuffer];
    if (!key.readText("ProviderRegKey", value, sizeof value))
        return nullptr;
    key = platform::RegistryKey();
    return loadProvider(value);
}

platform::LibraryHandle SccInterface::loadProvider(const char *providerKey) {
    if (providerKey == nullptr || std::strlen(providerKey) > kMaxKeyLength)
        return nullptr;
    auto key = platform::RegistryKey::open(providerKey);
    if (!key.isOpen())
        return nullptr;
    char path[kRegistryBuffer];
    if (!key.readText("SCCServerPath", path, sizeof path))
        return nullptr;
    return platform::loadLibrary(path);
}

void *SccInterface::resolve(const char *entryPoint) const {
    if (!providerLibrary)
        return nullptr;
    return platform::findSymbol(providerLibrary, entryPoint);
}

int32_t SccInterface::initialize() {
    auto sccInitialize = entry<SccInitializeFn>("SccInitialize");
    if (!sccInitialize)
        return kNoEntryPoint;
    auto name = std::make_unique<char[]>(kScratchSize);
    auto label = std::make_unique<char[]>(kScratchSize);
    int32_t result = sccInitialize(&providerContext, nullptr, kCallerName, name.get(),
                                   &capabilities, label.get(), &checkoutCommentLen, &commentLen);
    name[kScratchSize - 1] = '\0';
    label[kScratchSize - 1] = '\0';
    copyBounded(sccName, sizeof sccName, name.get());
    copyBounded(auxPathLabel, sizeof auxPathLabel, label.get());
    return result;
}

int32_t SccInterface::uninitialize() {
    int32_t result = kNoEntryPoint;
    if (auto sccUninitialize = entry<SccUninitializeFn>("SccUninitialize"))
        result = sccUninitialize(providerContext);
    providerContext = nullptr;
    return result;
}

int32_t SccInterface::getVersion() {
    trace("-->Getting SCCI version", 2);
    int32_t result = 0;
    if (auto sccGetVersion = entry<SccGetVersionFn>("SccGetVersion"))
        result = sccGetVersion();
    trace("<--Getting SCCI version", 2);
    return result;
}

} // namespace oskel
