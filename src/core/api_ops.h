// Operations the typed Java API needs beside the natives of JavaSCCInterface.
#pragma once

#include <cstdint>

#include "oskelsccih/scc_api.h"

namespace oskel::api {

// What release returns for a handle that is not live: the code every native
// gives for a handle no _initialize returned.
constexpr int32_t kBadHandle = SCC_E_NONSPECIFICERROR;

// Ends the connection of `handle` for good and frees its interface object:
// the handle is forgotten first, so that it can never reach a provider
// again. Returns the provider's SccUninitialize code (-15 for a provider
// without SccUninitialize), or kBadHandle for a handle that is not live. The
// caller makes sure that no other call on the handle runs meanwhile.
int32_t release(int64_t handle);

} // namespace oskel::api
