// What the last attempt of this thread to start a provider connection found
// on its way: which step failed and the facts that say why. Filled as the
// interface object is built and initialized; read by the typed Java API after
// a failed connect. Kept per thread, so that connects on other threads do not
// mix their reports.
#pragma once

#include <cstdint>
#include <string>

namespace oskel {

struct ConnectReport {
    std::string failure;      // the step that failed, in words; "" when none did
    std::string providerKey;  // the key looked up ("" for none yet)
    std::string libraryPath;  // SCCServerPath, once read
    std::string loaderError;  // the loader's text when the library did not load
    bool hosted = false;      // the key asks for a provider host process
    std::string hostProgram;  // the host program, when one was to start
    std::string hostError;    // why the host did not start or load the library
    bool initializeCalled = false;
    int32_t initializeCode = 0;
};

// This thread's report.
ConnectReport &connectReport();

// Starts a new report (at the start of a construction).
void resetConnectReport();

// Records the failed step, keeping the first one recorded. Never throws.
void connectFailed(const char *failure) noexcept;

} // namespace oskel
