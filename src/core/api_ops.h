// Operations the typed Java API needs beside the natives of JavaSCCInterface.
#pragma once

#include <cstdint>

namespace oskel::api {

// Ends the connection of `handle` for good and frees its interface object:
// the handle is forgotten first, so that it can never reach a provider
// again. Returns the provider's SccUninitialize code, or -15 for a
// handle that is not live or a provider without SccUninitialize. The
// caller makes sure that no other call on the handle runs meanwhile.
int32_t release(int64_t handle);

} // namespace oskel::api
