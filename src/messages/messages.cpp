// The text-out callback through which providers fill the process-wide message
// list, and its fetch.
#include "messages/messages.h"

#include <array>
#include <utility>

#include "core/SccInterface.h"
#include "core/provider.h"

namespace oskel::messages {

namespace {
thread_local StatusSink *statusSink = nullptr;
thread_local InterruptProbe *interruptProbe = nullptr;

SCCLONG textOut(ProviderLibrary *library, const char *text, SCCLONG type);

template <int Slot> SCCLONG SCC_CALL slotTextOut(const char *text, SCCLONG type) {
    return textOut(ProviderLibrary::atSlot(Slot), text, type);
}

template <int... Slots>
constexpr std::array<LPTEXTOUTPROC, sizeof...(Slots)> slotCallbacks(std::integer_sequence<int, Slots...>) {
    return {{&slotTextOut<Slots>...}};
}
constexpr auto kSlotCallbacks = slotCallbacks(std::make_integer_sequence<int, ProviderLibrary::kSlots>());
} // namespace

StatusSink *setStatusSink(StatusSink *sink) {
    StatusSink *previous = statusSink;
    statusSink = sink;
    return previous;
}

InterruptProbe *setInterruptProbe(InterruptProbe *probe) {
    InterruptProbe *previous = interruptProbe;
    interruptProbe = probe;
    return previous;
}

LPTEXTOUTPROC textOutFor(const ProviderLibrary *library) {
    if (library == nullptr || library->slot() < 0)
        return textOutCallback;
    return kSlotCallbacks[static_cast<size_t>(library->slot())];
}

extern "C" SCCLONG SCC_CALL textOutCallback(const char *text, SCCLONG type) {
    return textOut(nullptr, text, type);
}

namespace {
SCCLONG textOut(ProviderLibrary *library, const char *text, SCCLONG type) {
    // In cancel mode, a cancel requested for the call running on this thread
    // answers every message with SCC_MSG_RTN_CANCEL until that call returns,
    // and the provider's cancel question and its requests to show and hide a
    // cancel control are answered, not collected. Without it the answer is
    // always SCC_MSG_RTN_OK, as a provider not told of cancel mode expects.
    const CallControl *call = currentCall();
    const bool cancelMode = call != nullptr && call->cancelMode.load();
    // An interrupted caller cancels like cancel() does (the probe asks the
    // calling thread, so only text-out on that thread can see it).
    if (cancelMode && interruptProbe != nullptr && !call->cancelRequested.load() &&
        interruptProbe->interrupted())
        const_cast<CallControl *>(call)->cancelRequested = true;
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
        const std::string entry = formatMessage(type, text);
        if (call == nullptr && library != nullptr)
            library->deliverOutsideCall(entry);
        else
            appendForCurrentCall(entry);
    } catch (...) {
        // Out of memory: the message is dropped; the provider goes on.
    }
    return answer;
}
} // namespace

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
