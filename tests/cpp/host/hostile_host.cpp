// A provider host that breaks the rules, for the tests of what the library
// bounds: it greets and loads like the real host, answers every call with
// success, and misbehaves as OSKEL_HOSTILE says:
//   drip      after each reply, starts a Text message and sends it a byte every 200 ms
//   spam      after each reply, sends 2000 Text messages of 16 KiB (32 MiB)
//   frame     answers a call with a header announcing a 200 MiB Text message
//   list      answers SccAddFromScc with 2^21 empty names (a 8 MiB payload)
//   forge     after each reply, sends a rename report with the user data in
//             OSKEL_HOSTILE_ID (a decimal number)
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/host_protocol.h"
#include "platform/platform.h"

using namespace oskel;
using hostproto::Kind;

namespace {

platform::Channel channel;

void send(hostproto::Writer &w) {
    const auto &bytes = w.finish();
    if (!channel.write(bytes.data(), bytes.size()))
        std::exit(0);
}

Kind receive(std::vector<uint8_t> &payload) {
    uint8_t head[hostproto::kHeaderSize];
    hostproto::Header header;
    if (channel.read(head, sizeof head, -1) != platform::Channel::Status::Ok ||
        !hostproto::readHeader(head, header))
        std::exit(0);
    payload.resize(header.length);
    if (header.length && channel.read(payload.data(), header.length, -1) != platform::Channel::Status::Ok)
        std::exit(0);
    return header.kind;
}

// A successful reply that fits the call: every output it has, left as it came.
void reply(const hostproto::CallMessage &m, std::vector<std::string> added = {}) {
    ProviderCall c;
    c.entry = static_cast<EntryPoint>(m.entry);
    std::vector<const char *> names(m.names.size() + 1, "");
    std::vector<SCCLONG> perFile(m.perFile.begin(), m.perFile.end());
    perFile.push_back(0);
    char texts[4][kProjectScratchSize] = {};
    char sccName[kInitScratchSize] = {}, auxLabel[kInitScratchSize] = {};
    char eventName[SCC_EVENT_NAME_SIZE] = {};
    uint64_t slot = m.optionSlot, context = m.contextIn;
    SCCBOOL allowNew = m.allowNew, answer = 0;
    SCCLONG caps = 0, lengths[2] = {}, value = 0, remaining = 0;
    const uint32_t p = m.presence;
    c.count = m.count;
    if (p & hostproto::kNames) c.names = names.data();
    if (p & hostproto::kPerFile) c.perFile = perFile.data();
    if (p & hostproto::kOptionSlot) c.optionSlot = &slot;
    if (p & hostproto::kProjectTexts)
        for (int i = 0; i < 4; ++i) c.projectTexts[i] = texts[i];
    if (p & hostproto::kAllowNew) c.allowNew = &allowNew;
    if (p & hostproto::kContextOut) c.contextOut = &context;
    if (p & hostproto::kSccName) c.sccName = sccName;
    if (p & hostproto::kAuxLabel) c.auxLabel = auxLabel;
    if (p & hostproto::kCapabilities) c.capabilities = &caps;
    if (p & hostproto::kCheckoutCommentLen) c.checkoutCommentLen = &lengths[0];
    if (p & hostproto::kCommentLen) c.commentLen = &lengths[1];
    if (p & hostproto::kEventName) c.eventName = eventName;
    if (p & hostproto::kValue) c.value = &value;
    if (p & hostproto::kRemaining) c.remaining = &remaining;
    if (p & hostproto::kAnswer) c.answer = &answer;
    if (p & hostproto::kAdded) c.added = &added;
    // Callbacks count as set, as the library's call had them.
    if (p & hostproto::kTextOut) c.textOut = [](const char *, SCCLONG) -> SCCLONG { return 0; };
    if (p & hostproto::kPopulate) c.populate = [](void *, SCCBOOL, SCCLONG, const char *) -> SCCBOOL { return 1; };
    if (p & hostproto::kCallerData) c.callerData = &caps;
    if (p & hostproto::kChanges) c.changes = [](void *, QUERYCHANGESDATA *) -> SCCBOOL { return 0; };
    if (p & hostproto::kDirItems) c.dirItems = [](void *, SCCBOOL, const char *) -> SCCBOOL { return 0; };
    if (p & hostproto::kNameChange) c.nameChange = [](void *, const char *, const char *) {};
    hostproto::Writer w(Kind::Reply);
    hostproto::encodeReply(w, CallOutcome{false, 0}, c);
    send(w);
}

void text(const std::string &bytes) {
    hostproto::Writer w(Kind::Text);
    w.i32(SCC_MSG_INFO);
    w.text(bytes.data(), bytes.size());
    send(w);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || !platform::prepareHostProcess(argc > 2 ? argv[2] : nullptr))
        return 2;
    channel = platform::Channel::fromArgument(argv[1]);
    const char *modeText = std::getenv("OSKEL_HOSTILE");
    const std::string mode = modeText ? modeText : "";
    hostproto::Writer hello = hostproto::helloMessage();
    send(hello);
    std::vector<uint8_t> payload;
    if (receive(payload) != Kind::Load)
        return 0;
    hostproto::Writer loaded(Kind::Loaded);
    loaded.i32(0);
    send(loaded);

    std::thread dripper;
    for (;;) {
        if (receive(payload) != Kind::Call)
            return 0;
        hostproto::Reader r(payload.data(), payload.size());
        hostproto::CallMessage m;
        if (!hostproto::decodeCall(r, m))
            return 0;
        if (mode == "frame" && m.entry == static_cast<uint32_t>(EntryPoint::Get)) {
            // 200 MiB announced (0x0c800000, little-endian), none sent.
            const uint8_t head[hostproto::kHeaderSize] = {0x00, 0x00, 0x80, 0x0c, 5, 0, 0, 0};
            channel.write(head, sizeof head);
            continue;
        }
        if (mode == "list" && m.entry == static_cast<uint32_t>(EntryPoint::AddFromScc)) {
            reply(m, std::vector<std::string>(size_t(1) << 21));
            continue;
        }
        reply(m);
        if (mode == "spam") {
            const std::string block(16 << 10, 'x');
            for (int i = 0; i < 2000; ++i)
                text(block);
        } else if (mode == "drip" && !dripper.joinable()) {
            dripper = std::thread([] {
                hostproto::Writer w(Kind::Text);
                w.i32(SCC_MSG_INFO);
                w.text("never whole");
                const auto &bytes = w.finish();
                for (uint8_t byte : bytes) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                    channel.write(&byte, 1);
                }
            });
            dripper.detach();
        } else if (mode == "forge") {
            const char *id = std::getenv("OSKEL_HOSTILE_ID");
            hostproto::Writer w(Kind::Renamed);
            w.u64(id ? std::strtoull(id, nullptr, 10) : 1);
            w.text("forged-old");
            w.text("forged-new");
            send(w);
        }
    }
}
