#include "core/handles.h"

#include <mutex>
#include <unordered_set>

namespace oskel::handles {

namespace {
std::mutex &lock() {
    static std::mutex m;
    return m;
}
std::unordered_set<int64_t> &live() {
    static std::unordered_set<int64_t> set;
    return set;
}
} // namespace

int64_t add(SccInterface *object) {
    // A 32-bit address is sign-extended like every 32-bit result.
    auto handle = static_cast<int64_t>(reinterpret_cast<intptr_t>(object));
    std::lock_guard<std::mutex> hold(lock());
    live().insert(handle);
    return handle;
}

SccInterface *find(int64_t handle) {
    if (sizeof(void *) == 4) // a 32-bit address travels in the low 32 bits
        handle = static_cast<int32_t>(static_cast<uint32_t>(handle));
    if (handle == 0)
        return nullptr;
    std::lock_guard<std::mutex> hold(lock());
    if (live().count(handle) == 0)
        return nullptr;
    return reinterpret_cast<SccInterface *>(static_cast<intptr_t>(handle));
}

} // namespace oskel::handles
