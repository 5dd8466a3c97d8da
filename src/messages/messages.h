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

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type);

} // namespace oskel::messages
