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
    if (text == nullptr)
        return 0;
    if (type == SCC_MSG_STATUS) {
        if (statusSink == nullptr)
            return 0;
        statusSink->status(text);
    }
    try {
        appendMessage(formatMessage(type, text));
    } catch (...) {
        // Out of memory: the message is dropped; the provider goes on.
    }
    return 0;
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
