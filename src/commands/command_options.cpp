// Command option slots: ten opaque values, one per SCC command number, that
// only the provider writes and that the file commands hand back to it.
#include <string>

#include "core/SccInterface.h"

namespace oskel {

void SccInterface::resetCommandOptions() { commandOptions.fill(nullptr); }

void SccInterface::freeCommandOptions() {
    // The slot array lives inside the object; what the values point to is the
    // provider's business.
    commandOptions.fill(nullptr);
}

void *SccInterface::commandOption(int32_t command) const {
    return command >= 0 && command < kCommandSlots ? commandOptions[command] : nullptr;
}

int32_t SccInterface::getCommandOptions(int32_t command) {
    trace("-->Get command option", 1);
    auto sccGetCommandOptions = entry<SccGetCommandOptionsFn>("SccGetCommandOptions");
    if (traceLevel > 2)
        traceLine(("Getting command option: " + std::to_string(command)).c_str());
    int32_t result = kNoEntryPoint;
    if (sccGetCommandOptions && command >= 0 && command < kCommandSlots)
        result = sccGetCommandOptions(providerContext, nullptr,
                                      static_cast<SCCCOMMAND>(command), &commandOptions[command]);
    trace("<--Get command option", 1);
    return result;
}

int32_t SccInterface::checkCommandOptions(int32_t command) {
    trace("-->Check command option", 1);
    auto sccGetCommandOptions = entry<SccGetCommandOptionsFn>("SccGetCommandOptions");
    if (traceLevel > 2)
        traceLine(("Checking command option: " + std::to_string(command)).c_str());
    int32_t result = kNoEntryPoint;
    if (sccGetCommandOptions)
        result = sccGetCommandOptions(providerContext, nullptr, static_cast<SCCCOMMAND>(command),
                                      nullptr);
    trace("<--Check command option", 1);
    return result;
}

} // namespace oskel
