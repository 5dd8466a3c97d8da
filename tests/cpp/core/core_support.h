// What the core tests of connections share beyond the provider harness: the
// host program's place and a receiver of rename reports.
#pragma once

#include <string>
#include <vector>

#include "core/SccInterface.h"
#include "provider_harness.h"

namespace oskel::coretest {

// The provider host program built beside the tests.
inline std::string hostProgram() {
#if defined(_WIN32)
    return envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR) + "\\..\\src\\" +
           (sizeof(void *) == 8 ? "oskelsccih-host-x64.exe" : "oskelsccih-host-x86.exe");
#else
    return std::getenv("OSKEL_PROVIDER_DIR") ? std::string(std::getenv("OSKEL_PROVIDER_DIR")) +
                                                   "/../src/oskelsccih-host"
                                             : std::string(OSKEL_DEFAULT_HOST);
#endif
}

// Keeps the provider's rename reports as "old -> new" lines.
class RenameRecorder final : public NameChangeSink {
public:
    explicit RenameRecorder(std::vector<std::string> &seen) : seen_(seen) {}
    void nameChanged(const char *oldName, const char *newName) noexcept override {
        seen_.push_back(std::string(oldName) + " -> " + newName);
    }

private:
    std::vector<std::string> &seen_;
};

} // namespace oskel::coretest
