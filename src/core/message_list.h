// The process-wide provider message list. Core code appends to it (a provider
// host that ended says so here); the messages subsystem fills it through the
// text-out callback and drains it for Java.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "oskelsccih/scc_api.h"

namespace oskel::messages {

// Releases every entry and the storage; the list is unallocated afterwards.
void freeMessageList();
// Empties the list and gives it fresh storage.
void resetMessageList();
// Appends an owned copy of a formatted entry.
void appendMessage(const std::string &entry);
// Formats "<type> <text>" with the type in full signed decimal.
std::string formatMessage(SCCLONG type, const char *text);
// Moves the entries out and leaves the list empty (with fresh storage).
std::vector<std::string> takeMessages();
// Number of entries now held.
size_t messageCount();

// The message list of one typed-API connection: what its provider sent during
// its calls, and between calls. Bounded, so that a provider (or a host) that
// sends without end cannot take the process's memory: past the cap the
// messages are counted, not kept, and the next take ends with one message
// saying how many were dropped.
class MessageList {
public:
    static constexpr size_t kMaxMessages = 10000;
    static constexpr size_t kMaxBytes = size_t(16) << 20;
    explicit MessageList(size_t maxMessages = kMaxMessages, size_t maxBytes = kMaxBytes)
        : maxMessages_(maxMessages), maxBytes_(maxBytes) {}
    MessageList(const MessageList &) = delete;
    MessageList &operator=(const MessageList &) = delete;

    // Keeps an entry, or counts it as dropped once the list is full. Never
    // throws: out of memory counts as dropped too.
    void append(const std::string &entry) noexcept;
    // Moves the entries out (and the note of those dropped) and empties the list.
    std::vector<std::string> take();

private:
    std::mutex mutex_;
    std::vector<std::string> entries_;
    size_t bytes_ = 0;
    size_t dropped_ = 0;
    const size_t maxMessages_;
    const size_t maxBytes_;
};

// Appends an entry to the list of the connection whose provider call runs on
// this thread (the process-wide list for the connections of JavaSCCInterface,
// and outside any call).
void appendForCurrentCall(const std::string &entry);

} // namespace oskel::messages
