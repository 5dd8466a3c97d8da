// The text-out callback through which providers fill the process-wide message
// list, and its fetch.
#include "messages/messages.h"

#include "core/SccInterface.h"
#include "core/provider.h"

namespace oskel::messages {

namespace {
thread_local StatusSink *statusSink = nullptr;
}

StatusSink *setStatusSink(StatusSink *sink) {
    StatusSink *previous = statusSink;
    statusSink = sink;
    return previous;
}

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type) {
    // In cancel mode, a cancel requested for the call running on this thread
    // answers every message with SCC_MSG_RTN_CANCEL until that call returns,
    // and the provider's cancel question and its requests to show and hide a
    // cancel control are answered, not collected. Without it the answer is
    // always SCC_MSG_RTN_OK, as a provider not told of cancel mode expects.
    const CallControl *call = currentCall();
    const bool cancelMode = call != nullptr && call->cancelMode.load();
    const SCCLONG answer =
        cancelMode && call->cancelRequested.load() ? SCC_MSG_RTN_CANCEL : SCC_MSG_RTN_OK;
    if (cancelMode &&
        (type == SCC_MSG_DOCANCEL || type == SCC_MSG_STARTCANCEL || type == SCC_MSG_STOPCANCEL))
        return answer;
    if (text == nullptr)
        return answer;
    if (type == SCC_MSG_STATUS) {
        if (statusSink == nullptr)
            return answer;
        statusSink->status(text);
    }
    try {
        appendMessage(formatMessage(type, text));
    } catch (...) {
        // Out of memory: the message is dropped; the provider goes on.
    }
    return answer;
}

std::vector<std::string> fetchMessages() {
    collectHostMessages();
    return takeMessages();
}

} // namespace oskel::messages

namespace oskel {

void SccInterface::getErrList(std::vector<std::string> &out) {
    out = messages::fetchMessages();
    if (traceLevel() >= 4 && tracingTo()) {
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

} // namespace oskel
