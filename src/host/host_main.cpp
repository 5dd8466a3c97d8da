// oskelsccih-host: loads one provider library and runs its entry points for the
// library oskelsccih over the channel it was started with. It exits when the
// channel closes, so it never outlives the process that started it.
//
//   oskelsccih-host CHANNEL [PARENT-PID]
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/provider.h"
#include "core/host_protocol.h"
#include "platform/platform.h"

namespace {

using namespace oskel;
using hostproto::Kind;

platform::Channel channel;
// A provider may call text-out from a thread of its own: each message goes
// out whole, one at a time.
std::mutex sending;
// A message that waits for an answer holds this from its sending to its
// answer, so that no other thread's answer is taken for it; the reply of a
// call is sent under it too, after `inCall` has been cleared, so that a
// question asked once the call is over is never left waiting for an answer
// the library will not send.
std::mutex exchanging;
bool inCall = false;   // guarded by `exchanging`
bool askTextOut = false; // the call running asks for text-out answers; guarded likewise

[[noreturn]] void quit() {
    channel.close();
    std::_Exit(0);
}

void send(hostproto::Writer &w) {
    const auto &bytes = w.finish();
    std::lock_guard<std::mutex> hold(sending);
    if (!channel.write(bytes.data(), bytes.size()))
        quit();
}

// Reads one message; the host ends when the channel closes or breaks.
Kind receive(std::vector<uint8_t> &payload) {
    uint8_t head[hostproto::kHeaderSize];
    hostproto::Header header;
    if (channel.read(head, sizeof head, -1) != platform::Channel::Status::Ok ||
        !hostproto::readHeader(head, header))
        quit();
    payload.resize(header.length);
    if (header.length && channel.read(payload.data(), header.length, -1) !=
                             platform::Channel::Status::Ok)
        quit();
    return header.kind;
}

// Sends a question and waits for its answer; the caller holds `exchanging`.
int32_t ask(hostproto::Writer &w) {
    send(w);
    std::vector<uint8_t> payload;
    if (receive(payload) != Kind::Answer)
        quit();
    hostproto::Reader r(payload.data(), payload.size());
    int32_t answer = r.i32();
    if (!r.ok() || !r.atEnd())
        quit();
    return answer;
}

// During a call whose caller is in cancel mode, the text-out answer comes from
// the library (a cancel request answers the provider's questions). Otherwise
// the message goes out unanswered (outside a call it is read during the
// library's next call) and the answer is 0.
SCCLONG SCC_CALL forwardTextOut(const char *text, SCCLONG type) {
    std::lock_guard<std::mutex> hold(exchanging);
    const bool asking = inCall && askTextOut;
    hostproto::Writer w(asking ? Kind::Ask : Kind::Text);
    w.i32(type);
    // A message past the protocol's limit arrives cut at the limit rather
    // than ending the host.
    if (text != nullptr)
        w.text(text, strnlen(text, hostproto::kMaxPayload - 8));
    else
        w.text(nullptr);
    if (!asking) {
        send(w);
        return 0;
    }
    return ask(w);
}

SCCBOOL SCC_CALL forwardPopulate(void *, SCCBOOL keep, SCCLONG status, const char *name) {
    std::lock_guard<std::mutex> hold(exchanging);
    hostproto::Writer w(Kind::Populate);
    w.i32(keep);
    w.i32(status);
    w.text(name);
    return ask(w);
}

SCCBOOL SCC_CALL forwardChange(void *, QUERYCHANGESDATA *change) {
    std::lock_guard<std::mutex> hold(exchanging);
    hostproto::Writer w(Kind::Change);
    w.text(change ? change->lpFileName : nullptr);
    w.u32(change ? change->dwChangeType : 0);
    w.text(change ? change->lpLatestName : nullptr);
    return ask(w);
}

SCCBOOL SCC_CALL forwardDirItem(void *, SCCBOOL folder, const char *name) {
    std::lock_guard<std::mutex> hold(exchanging);
    hostproto::Writer w(Kind::DirItem);
    w.i32(folder);
    w.text(name);
    return ask(w);
}

// The provider's rename reports: the caller data is the number the library
// set as user data, passed back as it came.
void SCC_CALL forwardNameChange(void *callerData, const char *oldName, const char *newName) {
    hostproto::Writer w(Kind::Renamed);
    w.u64(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(callerData)));
    w.text(oldName);
    w.text(newName);
    send(w);
}

// forwardNameChange as the provider gets it: through a jump below 2 GiB, for
// a provider that keeps SccSetOption's value in a 32-bit LONG.
OPTNAMECHANGEPFN providerNameChange() {
    static const OPTNAMECHANGEPFN forward = [] {
        void *low = platform::lowAddressJump(reinterpret_cast<void *>(&forwardNameChange));
        return low != nullptr ? reinterpret_cast<OPTNAMECHANGEPFN>(low) : forwardNameChange;
    }();
    return forward;
}

// Runs one call message against the library and sends the reply.
void serve(const EntryPoints &entryPoints, hostproto::CallMessage &m) {
    // Storage the provider sees, sized as in the library.
    std::vector<const char *> names;
    names.reserve(m.names.size() + 1);
    for (auto &n : m.names)
        names.push_back(n.c_str());
    std::vector<SCCLONG> perFile;
    perFile.reserve(m.perFile.size() + 1); // never a null array, even when empty
    perFile.assign(m.perFile.begin(), m.perFile.end());
    std::unique_ptr<char[]> texts[4];
    // Output buffers exist only for the pointers the call has, zeroed as the
    // library's own are.
    auto scratch = [&m](uint32_t pointer, size_t size) {
        return (m.presence & pointer) ? std::make_unique<char[]>(size) : nullptr;
    };
    auto sccName = scratch(hostproto::kSccName, kInitScratchSize);
    auto auxLabel = scratch(hostproto::kAuxLabel, kInitScratchSize);
    uint64_t optionSlot = m.optionSlot, contextOut = m.contextIn;
    SCCBOOL allowNew = m.allowNew;
    SCCLONG caps = m.capabilities, checkoutCommentLen = m.checkoutCommentLen,
            commentLen = m.commentLen;
    int callerData = 0;
    auto eventName = scratch(hostproto::kEventName, SCC_EVENT_NAME_SIZE);
    SCCLONG value = 0, remaining = 0;
    SCCBOOL answer = 0;
    std::vector<std::string> added;

    ProviderCall c;
    c.entry = static_cast<EntryPoint>(m.entry);
    c.context = m.context;
    c.count = m.count;
    c.names = (m.presence & hostproto::kNames) ? names.data() : nullptr;
    c.comment = m.comment.c_str();
    c.flags = m.flags;
    c.perFile = (m.presence & hostproto::kPerFile) ? perFile.data() : nullptr;
    c.command = m.command;
    c.option = m.option;
    c.optionSlot = (m.presence & hostproto::kOptionSlot) ? &optionSlot : nullptr;
    if (m.presence & hostproto::kProjectTexts) {
        for (int i = 0; i < 4; ++i) {
            texts[i] = std::make_unique<char[]>(kProjectScratchSize);
            const std::string &t = m.projectTexts[i].bytes;
            size_t n = t.size() < kProjectScratchSize - 1 ? t.size() : kProjectScratchSize - 1;
            std::memcpy(texts[i].get(), t.data(), n);
            c.projectTexts[i] = texts[i].get();
        }
    }
    c.projectComment = m.projectComment.c_str();
    c.allowNew = (m.presence & hostproto::kAllowNew) ? &allowNew : nullptr;
    c.contextOut = (m.presence & hostproto::kContextOut) ? &contextOut : nullptr;
    c.callerName = m.callerName.c_str();
    c.sccName = (m.presence & hostproto::kSccName) ? sccName.get() : nullptr;
    c.auxLabel = (m.presence & hostproto::kAuxLabel) ? auxLabel.get() : nullptr;
    c.capabilities = (m.presence & hostproto::kCapabilities) ? &caps : nullptr;
    c.checkoutCommentLen = (m.presence & hostproto::kCheckoutCommentLen) ? &checkoutCommentLen
                                                                          : nullptr;
    c.commentLen = (m.presence & hostproto::kCommentLen) ? &commentLen : nullptr;
    c.textOut = (m.presence & hostproto::kTextOut) ? forwardTextOut : nullptr;
    c.populate = (m.presence & hostproto::kPopulate) ? forwardPopulate : nullptr;
    c.callerData = (m.presence & hostproto::kCallerData) ? &callerData : nullptr;
    c.changes = (m.presence & hostproto::kChanges) ? forwardChange : nullptr;
    c.dirItems = (m.presence & hostproto::kDirItems) ? forwardDirItem : nullptr;
    c.code = m.code;
    c.optionValue = m.optionValue;
    c.nameChange = (m.presence & hostproto::kNameChange) ? providerNameChange() : nullptr;
    c.newName = m.newName.c_str();
    c.path = m.path.c_str();
    c.eventName = (m.presence & hostproto::kEventName) ? eventName.get() : nullptr;
    c.value = (m.presence & hostproto::kValue) ? &value : nullptr;
    c.remaining = (m.presence & hostproto::kRemaining) ? &remaining : nullptr;
    c.answer = (m.presence & hostproto::kAnswer) ? &answer : nullptr;
    c.added = (m.presence & hostproto::kAdded) ? &added : nullptr;

    {
        std::lock_guard<std::mutex> hold(exchanging);
        inCall = true;
        askTextOut = (m.presence & hostproto::kAskTextOut) != 0;
    }
    CallOutcome outcome = callLibrary(entryPoints, c);
    std::lock_guard<std::mutex> hold(exchanging);
    inCall = false;
    if (c.eventName)
        c.eventName[SCC_EVENT_NAME_SIZE - 1] = '\0';
    if (c.sccName)
        c.sccName[kInitScratchSize - 1] = '\0';
    if (c.auxLabel)
        c.auxLabel[kInitScratchSize - 1] = '\0';
    for (char *t : c.projectTexts)
        if (t)
            t[kProjectScratchSize - 1] = '\0';
    hostproto::Writer reply(Kind::Reply);
    hostproto::encodeReply(reply, outcome, c);
    send(reply);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2)
        return 2;
    if (!platform::prepareHostProcess(argc > 2 ? argv[2] : nullptr))
        return 3; // the parent is already gone
    channel = platform::Channel::fromArgument(argv[1]);
    if (!channel.isOpen())
        return 2;

    hostproto::Writer hello(Kind::Hello);
    hello.u32(hostproto::kMagic);
    hello.u32(hostproto::kVersion);
    hello.u32(static_cast<uint32_t>(sizeof(void *) * 8));
    send(hello);

    std::vector<uint8_t> payload;
    if (receive(payload) != Kind::Load)
        quit();
    std::string path;
    {
        hostproto::Reader r(payload.data(), payload.size());
        if (!r.text(path) || !r.atEnd())
            quit();
    }
    void *library = platform::loadLibrary(path.c_str());
    hostproto::Writer loaded(Kind::Loaded);
    loaded.i32(library ? 0 : 1);
    if (!library)
        loaded.text(platform::lastLoadError().c_str());
    send(loaded);
    if (!library)
        quit();

    const EntryPoints entryPoints = resolveEntryPoints(library);
    hostproto::CallMessage message;
    for (;;) {
        if (receive(payload) != Kind::Call)
            quit();
        hostproto::Reader r(payload.data(), payload.size());
        if (!hostproto::decodeCall(r, message))
            quit();
        serve(entryPoints, message);
    }
}
