// Command option slots: ten opaque values, one per SCC command number, that
// only the provider writes and that the file commands hand back to it.
#include <string>

#include "core/SccInterface.h"
#include "core/provider_calls.h"

namespace oskel {

void SccInterface::resetCommandOptions() { commandOptions.fill(0); }

void SccInterface::freeCommandOptions() {
    // The slot array lives inside the object; what the values point to is the
    // provider's business.
    commandOptions.fill(0);
}

int32_t SccInterface::getCommandOptions(int32_t command) {
    trace("-->Get command option", 1);
    if (traceLevel() > 2)
        traceLine(("Getting command option: " + std::to_string(command)).c_str());
    int32_t result = kNoEntryPoint;
    if (command >= 0 && command < kCommandSlots) {
        ProviderCall call = calls::commandOptions(command, &commandOptions[command]);
        CallOutcome outcome = callProvider(call);
        if (!outcome.missing)
            result = outcome.code;
    }
    trace("<--Get command option", 1);
    return result;
}

int32_t SccInterface::checkCommandOptions(int32_t command) {
    trace("-->Check command option", 1);
    if (traceLevel() > 2)
        traceLine(("Checking command option: " + std::to_string(command)).c_str());
    ProviderCall call = calls::commandOptions(command, nullptr);
    CallOutcome outcome = callProvider(call);
    int32_t result = outcome.missing ? kNoEntryPoint : outcome.code;
    trace("<--Check command option", 1);
    return result;
}

} // namespace oskel
