#include "boundary/discovery.h"

#include "boundary/text.h"
#include "core/SccInterface.h"
#include "platform/platform.h"

namespace oskel::discovery {

namespace {
constexpr const char kInstalledProviders[] =
    "Software\\SourceCodeControlProvider\\InstalledSCCProviders";
constexpr uint32_t kNameBuffer = 260;
constexpr uint32_t kDataBuffer = 260;
} // namespace

bool listProviderNames(std::vector<std::string> &names) {
    names.clear();
    auto key = platform::RegistryKey::open(kInstalledProviders);
    if (!key.isOpen())
        return false;
    uint32_t count = 0;
    if (!key.valueCount(&count))
        return false;
    names.reserve(count);
    char name[kNameBuffer];
    for (uint32_t i = 0; i < count; ++i) {
        bool tooLong = false;
        if (key.valueName(i, name, kNameBuffer, &tooLong)) {
            names.emplace_back(name);
        } else if (tooLong) {
            // One entry that no caller could name must not hide the others.
            traceToEveryLog(("Skipped installed provider " + std::to_string(i) +
                             ": its name is longer than " + std::to_string(kNameBuffer - 1) +
                             " bytes")
                                .c_str());
        } else {
            names.clear();
            return false;
        }
    }
    return true;
}

bool readProviderKey(const char *name, std::string &key) {
    auto installed = platform::RegistryKey::open(kInstalledProviders);
    if (!installed.isOpen())
        return false;
    char data[kDataBuffer];
    if (!installed.readText(name, data, kDataBuffer))
        return false;
    key = data;
    return true;
}

bool findRawProviderKey(const std::u16string &decoded, std::string &key) {
    platform::RegistryReadScope oneReading;
    std::vector<std::string> names;
    if (!listProviderNames(names))
        return false;
    std::string candidate;
    for (const auto &name : names) {
        if (readProviderKey(name.c_str(), candidate) && !text::isModifiedUtf8(candidate.c_str()) &&
            text::decodeForeign(candidate.c_str()) == decoded) {
            key = candidate;
            return true;
        }
    }
    return false;
}

} // namespace oskel::discovery
