// The provider message list belongs to the process: messages from every
// provider connection land in it in arrival order, and each fetch drains it.
// A lock keeps it whole even when a provider calls text-out from a thread of
// its own.
#include "messages/messages.h"

#include <mutex>

#include "core/SccInterface.h"

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

size_t messageCount() {
    std::lock_guard<std::mutex> hold(listLock());
    return list().size();
}

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type) {
    if (text == nullptr || type == SCC_MSG_STATUS)
        return 0;
    try {
        appendMessage(formatMessage(type, text));
    } catch (...) {
        // Out of memory: the message is dropped; the provider goes on.
    }
    return 0;
}

} // namespace oskel::messages

namespace oskel {

void SccInterface::getErrList(std::vector<std::string> &out) {
    out = messages::takeMessages();
    if (traceLevel >= 4 && tracingTo()) {
        std::string block = "SCCIH errMsg> getErrList for " + std::to_string(out.size()) +
                            " messages\n";
        for (const auto &m : out) {
            block += "SCCIH errMsg> ";
            block += m;
            block += '\n';
        }
        writeRawBlock(block);
    }
}

void SccInterface::resetErrList() { messages::resetMessageList(); }

} // namespace oskel
