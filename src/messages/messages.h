// The process-wide provider message list and the text-out callback through
// which providers fill it.
#pragma once

#include <string>
#include <vector>

#include "core/message_list.h"
#include "oskelsccih/scc_api.h"

namespace oskel::messages {

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

// A fetch of the list (_getErrList, the typed API's message fetch): what the
// provider hosts have sent between calls joins the list first, as it would
// have at once in-process; then the list is drained.
std::vector<std::string> fetchMessages();

} // namespace oskel::messages
