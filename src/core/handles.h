// The process-wide record of the interface objects that _initialize handed
// out. A handle that is not in it is never dereferenced.
#pragma once

#include <cstdint>
#include <memory>

namespace oskel {
class SccInterface;

namespace handles {
// Records a live object and returns its handle.
int64_t add(SccInterface *object);
// Records `object` and takes it over once it is recorded: when recording
// fails (out of memory, thrown) the object is still the caller's, to tear
// down.
int64_t adopt(std::unique_ptr<SccInterface> &object);
// Forgets a handle, so that find() no longer gives its object; false when it
// was not recorded. The caller destroys the object, and must make sure that
// no call on the handle can still be running.
bool remove(int64_t handle);
// The object behind a handle, or null when no successful _initialize
// returned that handle.
SccInterface *find(int64_t handle);
} // namespace handles
} // namespace oskel
