// libFuzzer target for the provider host protocol. An input is the byte stream
// of a session as both ends wrote it, in order: messages framed by their
// headers (the seed corpus was recorded from real sessions with
// record-host.sh). Each message is decoded as the end that receives it does,
// into storage of exactly the sizes that end uses, so that ASan sees any read
// or write past them. A Call that decodes is also checked to travel unchanged:
// what the host hands the provider, encoded again, decodes to the same call,
// up to what the provider's zero-terminated texts can carry.
#include "host/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace oskel;
using namespace oskel::hostproto;

namespace {

[[noreturn]] void broken(const char *what)
{
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

SCCLONG SCC_CALL noText(const char *, SCCLONG) { return 0; }
SCCBOOL SCC_CALL noPopulate(void *, SCCBOOL, SCCLONG, const char *) { return 1; }
SCCBOOL SCC_CALL noChange(void *, QUERYCHANGESDATA *) { return 0; }
SCCBOOL SCC_CALL noDirItem(void *, SCCBOOL, const char *) { return 0; }
void SCC_CALL noNameChange(void *, const char *, const char *) {}

// The provider's view of a decoded call, as the host builds it: texts are
// zero-terminated, project texts live in buffers of kProjectScratchSize.
struct HostedCall {
    CallMessage m;
    std::vector<const char *> names;
    std::vector<SCCLONG> perFile;
    std::unique_ptr<char[]> texts[4];
    std::unique_ptr<char[]> sccName = std::make_unique<char[]>(kInitScratchSize);
    std::unique_ptr<char[]> auxLabel = std::make_unique<char[]>(kInitScratchSize);
    uint64_t optionSlot = 0, contextOut = 0;
    SCCBOOL allowNew = 0;
    SCCLONG caps = 0, checkoutCommentLen = 0, commentLen = 0;
    int callerData = 0;
    std::unique_ptr<char[]> eventName = std::make_unique<char[]>(SCC_EVENT_NAME_SIZE);
    SCCLONG value = 0, remaining = 0;
    SCCBOOL answer = 0;
    std::vector<std::string> added;
    ProviderCall call;

    explicit HostedCall(CallMessage message) : m(std::move(message))
    {
        // Never a null array, even an empty one, as in the host.
        names.reserve(m.names.size() + 1);
        for (const auto &n : m.names) names.push_back(n.c_str());
        perFile.reserve(m.perFile.size() + 1);
        perFile.assign(m.perFile.begin(), m.perFile.end());
        optionSlot = m.optionSlot;
        contextOut = m.contextIn;
        allowNew = m.allowNew;
        caps = m.capabilities;
        checkoutCommentLen = m.checkoutCommentLen;
        commentLen = m.commentLen;
        ProviderCall &c = call;
        c.entry = static_cast<EntryPoint>(m.entry);
        c.context = m.context;
        c.count = m.count;
        c.names = (m.presence & kNames) ? names.data() : nullptr;
        c.comment = m.comment.c_str();
        c.flags = m.flags;
        c.perFile = (m.presence & kPerFile) ? perFile.data() : nullptr;
        c.command = m.command;
        c.option = m.option;
        c.optionSlot = (m.presence & kOptionSlot) ? &optionSlot : nullptr;
        if (m.presence & kProjectTexts) {
            for (int i = 0; i < 4; ++i) {
                texts[i] = std::make_unique<char[]>(kProjectScratchSize);
                const std::string &t = m.projectTexts[i].bytes;
                std::memcpy(texts[i].get(), t.data(), std::min(t.size(), kProjectScratchSize - 1));
                c.projectTexts[i] = texts[i].get();
            }
        }
        c.projectComment = m.projectComment.c_str();
        c.allowNew = (m.presence & kAllowNew) ? &allowNew : nullptr;
        c.contextOut = (m.presence & kContextOut) ? &contextOut : nullptr;
        c.callerName = m.callerName.c_str();
        c.sccName = (m.presence & kSccName) ? sccName.get() : nullptr;
        c.auxLabel = (m.presence & kAuxLabel) ? auxLabel.get() : nullptr;
        c.capabilities = (m.presence & kCapabilities) ? &caps : nullptr;
        c.checkoutCommentLen = (m.presence & kCheckoutCommentLen) ? &checkoutCommentLen : nullptr;
        c.commentLen = (m.presence & kCommentLen) ? &commentLen : nullptr;
        c.textOut = (m.presence & kTextOut) ? noText : nullptr;
        c.populate = (m.presence & kPopulate) ? noPopulate : nullptr;
        c.callerData = (m.presence & kCallerData) ? &callerData : nullptr;
        c.changes = (m.presence & kChanges) ? noChange : nullptr;
        c.dirItems = (m.presence & kDirItems) ? noDirItem : nullptr;
        c.nameChange = (m.presence & kNameChange) ? noNameChange : nullptr;
        c.code = m.code;
        c.optionValue = m.optionValue;
        c.newName = m.newName.c_str();
        c.path = m.path.c_str();
        c.eventName = (m.presence & kEventName) ? eventName.get() : nullptr;
        c.value = (m.presence & kValue) ? &value : nullptr;
        c.remaining = (m.presence & kRemaining) ? &remaining : nullptr;
        c.answer = (m.presence & kAnswer) ? &answer : nullptr;
        c.added = (m.presence & kAdded) ? &added : nullptr;
        c.askTextOut = (m.presence & kAskTextOut) != 0;
    }
};

// A text as a zero-terminated buffer of `limit` bytes holds it.
NullableText carried(const NullableText &t, size_t limit = SIZE_MAX)
{
    NullableText out;
    out.null = t.null;
    if (!t.null) out.bytes = t.bytes.substr(0, std::min(std::strlen(t.bytes.c_str()), limit));
    return out;
}

bool same(const NullableText &a, const NullableText &b) { return a.null == b.null && a.bytes == b.bytes; }

// The pointers that travel again once the host has made a call of the message:
// only those among the arguments its entry point takes.
uint32_t takenBy(uint32_t entry, uint32_t presence)
{
    const struct {
        uint32_t bit;
        Arg arg;
    } roles[] = {{kNames, args::Names},       {kNames, args::Name},
                 {kPerFile, args::PerFile},   {kOptionSlot, args::OptionSlot},
                 {kProjectTexts, args::User}, {kAllowNew, args::AllowNew},
                 {kContextOut, args::ContextOut}, {kSccName, args::SccName},
                 {kAuxLabel, args::AuxLabel}, {kCapabilities, args::Capabilities},
                 {kCheckoutCommentLen, args::CheckoutCommentLen},
                 {kCommentLen, args::CommentLen}, {kTextOut, args::TextOut},
                 {kPopulate, args::Populate}, {kCallerData, args::CallerData},
                 {kChanges, args::Changes}, {kDirItems, args::DirItems},
                 {kNameChange, args::OptionValue}, {kEventName, args::EventName},
                 {kValue, args::Value}, {kRemaining, args::Remaining},
                 {kAnswer, args::Answer}, {kAdded, args::AddedNames}};
    uint32_t taken = 0;
    for (const auto &role : roles)
        if (takes(static_cast<EntryPoint>(entry), role.arg)) taken |= role.bit;
    return presence & taken;
}

void checkRoundTrip(const CallMessage &m, const HostedCall &hosted)
{
    constexpr uint32_t kKnown = (kAskTextOut << 1) - 1;
    Writer w(Kind::Call);
    encodeCall(w, hosted.call);
    const std::vector<uint8_t> &bytes = w.finish();
    Reader r(bytes.data() + kHeaderSize, bytes.size() - kHeaderSize);
    CallMessage again;
    if (!decodeCall(r, again)) broken("a re-encoded call does not decode");
    // The in-values of the numbers travel whenever the host set their pointers;
    // which pointers the provider sees is up to the entry point.
    const uint32_t asked = m.presence & kKnown;
    const uint32_t p = takenBy(m.entry, asked) | (asked & kAskTextOut);
    const bool fixed = again.entry == m.entry && again.presence == p && again.context == m.context &&
                       again.count == m.count && again.flags == m.flags && again.command == m.command &&
                       again.option == m.option &&
                       again.optionSlot == ((asked & kOptionSlot) ? m.optionSlot : 0) &&
                       again.contextIn == ((asked & kContextOut) ? m.contextIn : 0) &&
                       again.allowNew == ((asked & kAllowNew) ? m.allowNew : 0) &&
                       again.capabilities == ((asked & kCapabilities) ? m.capabilities : 0) &&
                       again.checkoutCommentLen == ((asked & kCheckoutCommentLen) ? m.checkoutCommentLen : 0) &&
                       again.commentLen == ((asked & kCommentLen) ? m.commentLen : 0) &&
                       again.perFile == ((p & kPerFile) ? m.perFile : std::vector<int32_t>()) &&
                       again.code == m.code && again.optionValue == m.optionValue;
    if (!fixed) broken("a call's numbers changed on the way");
    bool texts = same(again.comment, carried(m.comment)) && same(again.projectComment, carried(m.projectComment)) &&
                 same(again.callerName, carried(m.callerName)) && same(again.newName, carried(m.newName)) &&
                 same(again.path, carried(m.path)) &&
                 again.names.size() == ((p & kNames) ? m.names.size() : 0);
    for (size_t i = 0; texts && i < again.names.size(); ++i) texts = same(again.names[i], carried(m.names[i]));
    for (int i = 0; texts && (p & kProjectTexts) && i < 4; ++i) {
        NullableText expected = carried(m.projectTexts[i], kProjectScratchSize - 1);
        expected.null = false;
        texts = same(again.projectTexts[i], expected);
    }
    if (!texts) broken("a call's texts changed on the way");
}

void checkTerminated(const char *buffer, size_t size, const char *what)
{
    if (buffer != nullptr && std::memchr(buffer, '\0', size) == nullptr) broken(what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    std::unique_ptr<HostedCall> pending; // the last call, which a reply answers
    while (size >= kHeaderSize) {
        uint8_t head[kHeaderSize];
        std::memcpy(head, data, kHeaderSize);
        Header header;
        // Either end drops the channel at a header that is not one.
        if (!readHeader(head, header) || header.length > size - kHeaderSize) break;
        // The payload in a block of its own size, as the receiving end holds it.
        std::vector<uint8_t> payload(data + kHeaderSize, data + kHeaderSize + header.length);
        data += kHeaderSize + header.length;
        size -= kHeaderSize + header.length;
        Reader r(payload.data(), payload.size());
        std::string text;
        switch (header.kind) {
        case Kind::Hello:
            r.u32(), r.u32(), r.u32();
            break;
        case Kind::Load:
            r.text(text);
            break;
        case Kind::Loaded:
        case Kind::Answer:
            r.i32();
            break;
        case Kind::Text:
        case Kind::Ask:
            r.i32();
            r.text(text);
            break;
        case Kind::Change:
            r.text(text);
            r.u32();
            r.text(text);
            break;
        case Kind::DirItem:
            r.i32();
            r.text(text);
            break;
        case Kind::Renamed:
            r.u64();
            r.text(text);
            r.text(text);
            break;
        case Kind::Populate:
            r.i32(), r.i32();
            r.text(text);
            break;
        case Kind::Call: {
            CallMessage m;
            if (!decodeCall(r, m)) {
                pending.reset();
                break;
            }
            pending = std::make_unique<HostedCall>(std::move(m));
            checkRoundTrip(pending->m, *pending);
            break;
        }
        case Kind::Reply: {
            if (!pending) pending = std::make_unique<HostedCall>(CallMessage());
            CallOutcome outcome;
            ProviderCall &c = pending->call;
            if (decodeReply(r, outcome, c)) {
                checkTerminated(c.sccName, kInitScratchSize, "the provider name is not terminated");
                checkTerminated(c.auxLabel, kInitScratchSize, "the aux label is not terminated");
                for (char *t : c.projectTexts) checkTerminated(t, kProjectScratchSize, "a project text is not terminated");
                checkTerminated(c.eventName, SCC_EVENT_NAME_SIZE, "the event name is not terminated");
            }
            pending.reset();
            break;
        }
        }
    }
    return 0;
}
