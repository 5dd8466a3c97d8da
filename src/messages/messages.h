// The process-wide provider message list and the text-out callback through
// which providers fill it.
#pragma once

#include <string>
#include <vector>

#include "core/message_list.h"
#include "core/provider_library.h"
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

// Tells whether the thread of the running call has been asked to stop (a
// Java interrupt): in cancel mode, the provider's next "cancelled?" question
// is then answered yes. Installed for this thread like the status sink.
class InterruptProbe {
public:
    virtual ~InterruptProbe() = default;
    virtual bool interrupted() noexcept = 0;
};
InterruptProbe *setInterruptProbe(InterruptProbe *probe);

// Text-out of a provider whose library is unknown: outside any call its
// messages go to the process-wide list.
extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type);
// The text-out callback for a provider library: during a call its messages go
// to the calling connection's list; sent by a thread of the provider's own
// outside any call, to the lists of the connections of that library.
LPTEXTOUTPROC textOutFor(const ProviderLibrary *library);

// A fetch of the list (_getErrList, the typed API's message fetch): what the
// provider hosts have sent between calls joins the list first, as it would
// have at once in-process; then the list is drained.
std::vector<std::string> fetchMessages();

} // namespace oskel::messages
