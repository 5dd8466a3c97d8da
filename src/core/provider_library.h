// One provider library as this process uses it, whatever the number of
// connections to it: loaded here (every connection to it shares the one
// loaded image and its state), or loaded by a provider host. Providers are not
// thread-safe, so the calls to one library are serialised by its lock; calls
// to different libraries run side by side.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/message_list.h"
#include "oskelsccih/scc_api.h"
#include "platform/platform.h"

namespace oskel {

using messages::MessageList;

class ProviderLibrary {
public:
    // The library known by `key` ("in-process" plus the loaded image, or
    // "hosted" plus the host program and the library path); made on first
    // use and kept for the rest of the process, like the library itself.
    static ProviderLibrary &forKey(const std::string &key);

    // Shares the lock with the other copies of this module in the process
    // (in-process libraries: they share the loaded image). Once, at load.
    void shareLock(platform::LibraryHandle library, const char *path);

    // What taking the lock for a typed-API call gave.
    enum class Entry {
        Acquired,
        Timeout,    // another thread holds it: try again (the caller checks for interrupts)
        Reentered,  // this thread already holds it: it runs inside a call to this library
        OtherHeld,  // this thread holds another library's lock, and this one is busy
    };
    // Takes the lock for a whole call of the typed API (several provider
    // calls and the fetch of their messages), waiting at most `waitMs`. A
    // thread inside a call to another library (a listener) does not wait, so
    // that two such threads cannot wait for each other.
    Entry enter(int32_t waitMs);
    // Lets go of what enter() took. False when this thread does not hold it.
    bool leave();

    // Held by a provider call: takes the lock unless this thread holds it
    // already (the typed API entered, or a provider call is running).
    class CallHold {
    public:
        explicit CallHold(ProviderLibrary &library);
        ~CallHold();
        CallHold(const CallHold &) = delete;
        CallHold &operator=(const CallHold &) = delete;

    private:
        ProviderLibrary &library_;
    };
    bool heldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }

    // Libraries get a text-out callback of their own (messages/), so that a
    // message a provider thread sends outside any call is known to come from
    // this library: a slot number below kSlots, or -1 once all are taken.
    static constexpr int kSlots = 64;
    int slot() const { return slot_; }
    static ProviderLibrary *atSlot(int slot);

    // Connections whose messages are their own (the typed API). Messages
    // sent outside any call go to each of them; while the library also has
    // a connection of JavaSCCInterface, or has no typed one, they go to the
    // process-wide list as well.
    void addMember(MessageList *list);
    void removeMember(MessageList *list);
    void noteProcessListUser() { processListUser_ = true; }
    void deliverOutsideCall(const std::string &entry);

private:
    ProviderLibrary() = default;
    void lockForThisThread(bool shared);
    void unlockForThisThread();

    std::timed_mutex mutex_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;          // touched by the owner only
    bool sharedHeld_ = false; // the copies' lock is held too (typed API)
    platform::SharedLibraryLock shared_;
    int slot_ = -1;          // the text-out callback of its own, if one was free

    std::mutex membersMutex_;
    std::vector<MessageList *> members_;
    std::atomic<bool> processListUser_{false};
};

} // namespace oskel
