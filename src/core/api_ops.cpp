// Operations the typed Java API needs beside the natives of JavaSCCInterface:
// its own message lists, the provider library lock held across a call,
// cancel and the release of a connection. JNI-free, so that C++ tests reach
// them.
#include "core/api_ops.h"

#include <atomic>
#include <mutex>
#include <thread>

#include "core/SccInterface.h"
#include "core/handles.h"
#include "platform/platform.h"

namespace oskel {

int32_t SccInterface::end() {
    int32_t code = uninitialize();
    connection.provider.reset();
    return code;
}

namespace api {

namespace {
// cancel() calls between their lookup and their return, counted in the slot
// of the generation they started in: release() frees no object while a
// cancel that may have found it is still running. Each release starts a new
// generation and waits only for the one before, so cancels that keep coming
// never hold it up.
std::mutex releasing;
std::atomic<unsigned> generation{0};
std::atomic<int> cancelsRunning[2];
} // namespace

int32_t finish(int64_t handle) {
    SccInterface *object = handles::find(handle);
    return object ? object->end() : kBadHandle;
}

int32_t release(int64_t handle) {
    SccInterface *object = handles::find(handle);
    if (object == nullptr || !handles::remove(handle))
        return kBadHandle;
    // A cancel that counts itself from here on no longer finds the handle;
    // one that may have found it is waited for (it stores one flag and
    // returns).
    {
        std::lock_guard<std::mutex> hold(releasing);
        const unsigned before = generation.fetch_add(1, std::memory_order_seq_cst);
        while (cancelsRunning[before & 1].load(std::memory_order_seq_cst) != 0)
            std::this_thread::yield();
    }
    int32_t code = object->end();
    if (object->ownsMessages()) {
        delete object;
        return code;
    }
    // A connection of the process-wide list: its destructor empties the
    // list, and what other connections' providers sent and nobody fetched yet
    // is kept.
    std::vector<std::string> pending;
    try {
        pending = messages::takeMessages();
    } catch (...) {
    }
    delete object;
    try {
        for (const auto &entry : pending)
            messages::appendMessage(entry);
    } catch (...) {
        // Out of memory: the rest of the entries are lost.
    }
    return code;
}

bool cancel(int64_t handle) {
    std::atomic<int> &running = cancelsRunning[generation.load(std::memory_order_seq_cst) & 1];
    running.fetch_add(1, std::memory_order_seq_cst);
    SccInterface *object = handles::find(handle);
    if (object != nullptr)
        object->cancel();
    running.fetch_sub(1, std::memory_order_seq_cst);
    return object != nullptr;
}

namespace {
// The locale this thread used before its typed-API call: the call converts
// with the user's default locale of its own, and the process's C locale,
// shared with every other native library of the JVM, is left alone.
thread_local void *localeBefore = nullptr;
} // namespace

int32_t enter(int64_t handle, int32_t waitMs) {
    SccInterface *object = handles::find(handle);
    if (object == nullptr)
        return kBadHandle;
    ProviderLibrary *library = object->providerLibrary();
    const ProviderLibrary::Entry entry =
        library ? library->enter(waitMs) : ProviderLibrary::Entry::Acquired;
    if (entry == ProviderLibrary::Entry::Acquired)
        localeBefore = platform::useUserLocale();
    return static_cast<int32_t>(entry);
}

bool leave(int64_t handle) {
    platform::restoreLocale(localeBefore);
    localeBefore = nullptr;
    SccInterface *object = handles::find(handle);
    ProviderLibrary *library = object ? object->providerLibrary() : nullptr;
    return library != nullptr && library->leave();
}

bool takeMessages(int64_t handle, std::vector<std::string> &out) {
    SccInterface *object = handles::find(handle);
    if (object == nullptr || !object->ownsMessages())
        return false;
    out = object->takeOwnMessages();
    return true;
}

} // namespace api
} // namespace oskel
