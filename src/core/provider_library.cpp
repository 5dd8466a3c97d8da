// The provider libraries of this process: their locks and the connections
// their messages go to.
#include "core/provider_library.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

namespace oskel {

namespace {

std::mutex librariesMutex;
// Never destroyed: a provider thread may use its library's callback at any
// time, even while the process ends.
auto *libraries = new std::map<std::string, std::unique_ptr<ProviderLibrary>>();
std::atomic<ProviderLibrary *> slots[ProviderLibrary::kSlots];
int nextSlot = 0;

// Libraries whose lock this thread holds.
thread_local int heldByThread = 0;

} // namespace

ProviderLibrary &ProviderLibrary::forKey(const std::string &key) {
    std::lock_guard<std::mutex> hold(librariesMutex);
    auto &entry = (*libraries)[key];
    if (!entry) {
        entry.reset(new ProviderLibrary());
        if (nextSlot < kSlots) {
            entry->slot_ = nextSlot;
            slots[nextSlot++].store(entry.get());
        }
    }
    return *entry;
}

ProviderLibrary *ProviderLibrary::atSlot(int slot) {
    return slot >= 0 && slot < kSlots ? slots[slot].load() : nullptr;
}

void ProviderLibrary::shareLock(platform::LibraryHandle library, const char *path) {
    std::lock_guard<std::mutex> hold(membersMutex_);
    if (!shared_.isOpen())
        shared_.open(library, path);
}

void ProviderLibrary::lockForThisThread(bool shared) {
    owner_.store(std::this_thread::get_id());
    depth_ = 1;
    sharedHeld_ = shared;
    ++heldByThread;
}

void ProviderLibrary::unlockForThisThread() {
    if (sharedHeld_)
        shared_.release();
    sharedHeld_ = false;
    depth_ = 0;
    owner_.store(std::thread::id());
    --heldByThread;
    mutex_.unlock();
}

ProviderLibrary::Entry ProviderLibrary::enter(int32_t waitMs) {
    if (heldByThisThread())
        return Entry::Reentered;
    const bool nested = heldByThread > 0;
    if (nested)
        waitMs = 0;
    const int64_t started = platform::monotonicMs();
    if (!(waitMs > 0 ? mutex_.try_lock_for(std::chrono::milliseconds(waitMs)) : mutex_.try_lock()))
        return nested ? Entry::OtherHeld : Entry::Timeout;
    // The other copies of this module in the process: what is left of the wait.
    const int64_t left = waitMs - (platform::monotonicMs() - started);
    if (!shared_.acquire(static_cast<int32_t>(left > 0 ? left : 0))) {
        mutex_.unlock();
        return nested ? Entry::OtherHeld : Entry::Timeout;
    }
    lockForThisThread(true);
    return Entry::Acquired;
}

bool ProviderLibrary::leave() {
    if (!heldByThisThread())
        return false;
    if (--depth_ == 0)
        unlockForThisThread();
    return true;
}

ProviderLibrary::CallHold::CallHold(ProviderLibrary &library) : library_(library) {
    if (!library_.heldByThisThread()) {
        library_.mutex_.lock();
        library_.lockForThisThread(false);
    } else {
        ++library_.depth_;
    }
}

ProviderLibrary::CallHold::~CallHold() { library_.leave(); }

void ProviderLibrary::addMember(MessageList *list) {
    std::lock_guard<std::mutex> hold(membersMutex_);
    members_.push_back(list);
}

void ProviderLibrary::removeMember(MessageList *list) {
    std::lock_guard<std::mutex> hold(membersMutex_);
    members_.erase(std::remove(members_.begin(), members_.end(), list), members_.end());
}

void ProviderLibrary::deliverOutsideCall(const std::string &entry) {
    bool toProcessList = processListUser_.load();
    {
        std::lock_guard<std::mutex> hold(membersMutex_);
        for (MessageList *list : members_)
            list->append(entry);
        toProcessList = toProcessList || members_.empty();
    }
    if (toProcessList)
        messages::appendMessage(entry);
}

} // namespace oskel
