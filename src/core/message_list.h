// The process-wide provider message list. Core code appends to it (a provider
// host that ended says so here); the messages subsystem fills it through the
// text-out callback and drains it for Java.
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

} // namespace oskel::messages
