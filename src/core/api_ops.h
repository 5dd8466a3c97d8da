// Operations the typed Java API needs beside the natives of JavaSCCInterface.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "oskelsccih/scc_api.h"

namespace oskel::api {

// What the operations return for a handle that is not live: the code every
// native gives for a handle no _initialize returned.
constexpr int32_t kBadHandle = SCC_E_NONSPECIFICERROR;

// Ends the connection of `handle` (SccUninitialize; the provider is let go)
// and keeps its object, so that the messages of the end can still be taken.
// Returns SccUninitialize's code, -15 without it, kBadHandle for a handle
// that is not live.
int32_t finish(int64_t handle);

// Ends the connection of `handle` for good (unless finish() did) and frees its
// interface object: the handle is forgotten first, so that it can never reach
// a provider again, and the object is freed once every cancel() that found
// it has returned. Returns the provider's SccUninitialize code (-15 for a
// provider without SccUninitialize or already finished), or kBadHandle for a
// handle that is not live. The caller makes sure that no other call on the
// handle runs meanwhile.
int32_t release(int64_t handle);

// Asks the call running on `handle` to stop (any thread, at any time, even
// while another thread releases the handle). False for a handle that is not
// live.
bool cancel(int64_t handle);

// What taking a connection's provider library lock gave (ProviderLibrary::Entry
// as a number the Java side knows), or kBadHandle.
int32_t enter(int64_t handle, int32_t waitMs);
// Lets go of the lock enter() took; false when this thread holds none.
bool leave(int64_t handle);

// The messages of a connection with a list of its own. False for a handle
// that is not live or has none.
bool takeMessages(int64_t handle, std::vector<std::string> &out);

} // namespace oskel::api
