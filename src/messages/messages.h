// The process-wide provider message list and the text-out callback through
// which providers fill it.
#pragma once

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

// Receives the provider's status lines (SCC_MSG_STATUS) sent on the thread
// that installed it, while a provider call runs. Without one, status lines
// are dropped, as they always were for the natives of JavaSCCInterface; with
// one, they are also kept in the message list.
class StatusSink {
public:
    virtual ~StatusSink() = default;
    virtual void status(const char *text) noexcept = 0;
};
// Installs `sink` for this thread (null: none); returns the one it replaces.
StatusSink *setStatusSink(StatusSink *sink);

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type);

} // namespace oskel::messages
