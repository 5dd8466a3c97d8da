// The provider message list belongs to the process: messages from every
// provider connection land in it in arrival order, and each fetch drains it.
// A lock keeps it whole even when a provider calls text-out from a thread of
// its own.
#include "core/message_list.h"

#include <mutex>

namespace oskel::messages {

namespace {
constexpr size_t kGrowth = 32;

std::mutex &listLock() {
    static std::mutex lock;
    return lock;
}

std::vector<std::string> &list() {
    static std::vector<std::string> entries;
    return entries;
}
} // namespace

void freeMessageList() {
    std::lock_guard<std::mutex> hold(listLock());
    std::vector<std::string>().swap(list());
}

void resetMessageList() {
    std::vector<std::string> fresh;
    fresh.reserve(kGrowth);
    std::lock_guard<std::mutex> hold(listLock());
    list().swap(fresh);
}

void appendMessage(const std::string &entry) {
    std::lock_guard<std::mutex> hold(listLock());
    auto &entries = list();
    if (entries.size() == entries.capacity())
        entries.reserve(entries.capacity() + kGrowth);
    entries.push_back(entry);
}

std::string formatMessage(SCCLONG type, const char *text) {
    std::string entry = std::to_string(type);
    entry += ' ';
    entry += text;
    return entry;
}

std::vector<std::string> takeMessages() {
    std::vector<std::string> fresh;
    fresh.reserve(kGrowth);
    std::lock_guard<std::mutex> hold(listLock());
    list().swap(fresh);
    return fresh;
}

void MessageList::append(const std::string &entry) noexcept {
    std::lock_guard<std::mutex> hold(mutex_);
    if (dropped_ == 0 && entries_.size() < maxMessages_ && bytes_ + entry.size() <= maxBytes_) {
        try {
            entries_.push_back(entry);
            bytes_ += entry.size();
            return;
        } catch (...) {
            // Out of memory: counted as dropped below.
        }
    }
    ++dropped_;
}

std::vector<std::string> MessageList::take() {
    std::vector<std::string> taken;
    size_t dropped = 0;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        taken.swap(entries_);
        dropped = dropped_;
        bytes_ = 0;
        dropped_ = 0;
    }
    if (dropped > 0)
        taken.push_back(formatMessage(
            SCC_MSG_WARNING,
            (std::to_string(dropped) + " provider messages dropped: a connection keeps at most " +
             std::to_string(maxMessages_) + " messages (" + std::to_string(maxBytes_ >> 20) +
             " MiB) between fetches")
                .c_str()));
    return taken;
}

size_t messageCount() {
    std::lock_guard<std::mutex> hold(listLock());
    return list().size();
}

} // namespace oskel::messages
