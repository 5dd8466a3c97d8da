// Encoding and decoding of the provider host messages.
#include "core/host_protocol.h"

#include <cstring>
#include <utility>

namespace oskel::hostproto {

Writer::Writer(Kind kind) : Writer(kind, std::vector<uint8_t>()) {}

Writer::Writer(Kind kind, std::vector<uint8_t> storage) : bytes_(std::move(storage)) {
    bytes_.clear();
    if (bytes_.capacity() < 256)
        bytes_.reserve(256);
    bytes_.resize(kHeaderSize, 0);
    bytes_[4] = static_cast<uint8_t>(static_cast<uint16_t>(kind) & 0xff);
    bytes_[5] = static_cast<uint8_t>(static_cast<uint16_t>(kind) >> 8);
}

bool Writer::room(size_t n) {
    if (!tooLarge_ && n > kMaxPayload - (bytes_.size() - kHeaderSize))
        tooLarge_ = true;
    return !tooLarge_;
}

void Writer::append(const void *data, size_t n) {
    const auto *p = static_cast<const uint8_t *>(data);
    bytes_.insert(bytes_.end(), p, p + n);
}

// Numbers travel little-endian, whatever the machine's own order.
template <typename T> void Writer::little(T v) {
    if (!room(sizeof v))
        return;
    uint8_t b[sizeof v];
    for (size_t i = 0; i < sizeof v; ++i)
        b[i] = static_cast<uint8_t>(v >> (8 * i));
    append(b, sizeof b);
}

void Writer::u32(uint32_t v) { little(v); }
void Writer::u64(uint64_t v) { little(v); }

void Writer::text(const char *s) {
    if (s == nullptr)
        u32(kNullLength);
    else
        text(s, std::strlen(s));
}

void Writer::text(const char *s, size_t n) {
    if (!room(n) || !room(4 + n))
        return;
    u32(static_cast<uint32_t>(n));
    append(s, n);
}

const std::vector<uint8_t> &Writer::finish() {
    auto length = static_cast<uint32_t>(bytes_.size() - kHeaderSize);
    for (int i = 0; i < 4; ++i)
        bytes_[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    return bytes_;
}

bool Reader::take(size_t n) {
    if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
        ok_ = false;
        return false;
    }
    return true;
}

template <typename T> T Reader::little() {
    if (!take(sizeof(T)))
        return 0;
    T v = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<T>(p_[i]) << (8 * i);
    p_ += sizeof(T);
    return v;
}

uint32_t Reader::u32() { return little<uint32_t>(); }
uint64_t Reader::u64() { return little<uint64_t>(); }

bool Reader::text(std::string &out) {
    out.clear();
    uint32_t n = u32();
    if (!ok_ || n == kNullLength)
        return false;
    if (!take(n))
        return false;
    out.assign(reinterpret_cast<const char *>(p_), n);
    p_ += n;
    return true;
}

bool readHeader(const uint8_t (&b)[kHeaderSize], Header &h) {
    h.length = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
               (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    uint16_t kind = static_cast<uint16_t>(b[4] | (b[5] << 8));
    if (b[6] != 0 || b[7] != 0 || kind < 1 || kind > kLastKind)
        return false;
    h.kind = static_cast<Kind>(kind);
    return h.length <= maxPayload(h.kind);
}

Writer helloMessage() {
    Writer hello(Kind::Hello);
    hello.u32(kMagic);
    hello.u32(kVersion);
    hello.u32(static_cast<uint32_t>(sizeof(void *) * 8));
    return hello;
}

uint32_t maxPayload(Kind kind) {
    switch (kind) {
    case Kind::Hello:
    case Kind::Loaded:
    case Kind::Answer:
        return 64u << 10;
    case Kind::Load:
        return 1u << 20;
    case Kind::Populate:
    case Kind::Change:
    case Kind::DirItem:
    case Kind::Renamed:
        return 4u << 20; // names
    case Kind::Text:
    case Kind::Ask:
        return 16u << 20; // as much as a connection keeps of its messages
    case Kind::Call:
    case Kind::Reply:
        break;
    }
    return kMaxPayload;
}

namespace {

void readText(Reader &r, NullableText &t) { t.null = !r.text(t.bytes); }

// Up to `size` - 1 bytes of a zero-terminated buffer of `size` bytes.
void boundedText(Writer &w, const char *buffer, size_t size) {
    if (buffer == nullptr)
        w.text(nullptr);
    else
        w.text(buffer, strnlen(buffer, size - 1));
}

// Copies a received text into a caller buffer of `size` bytes, terminated; a
// null text leaves the buffer as it is.
void intoBuffer(const NullableText &text, char *buffer, size_t size) {
    if (buffer == nullptr || text.null)
        return;
    const std::string &s = text.bytes;
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
}

// The pointers of a call that travel: those set among the arguments its entry
// point takes.
uint32_t presenceOf(const ProviderCall &c) {
    const EntryPoint e = c.entry;
    auto has = [e](Arg arg, bool set) { return set && takes(e, arg); };
    uint32_t p = 0;
    if (has(args::Names, c.names != nullptr) || has(args::Name, c.names != nullptr)) p |= kNames;
    if (has(args::PerFile, c.perFile != nullptr)) p |= kPerFile;
    if (has(args::OptionSlot, c.optionSlot != nullptr)) p |= kOptionSlot;
    if (has(args::User, c.projectTexts[0] && c.projectTexts[1] && c.projectTexts[2] &&
                            c.projectTexts[3]))
        p |= kProjectTexts;
    if (has(args::AllowNew, c.allowNew != nullptr)) p |= kAllowNew;
    if (has(args::ContextOut, c.contextOut != nullptr)) p |= kContextOut;
    if (has(args::SccName, c.sccName != nullptr)) p |= kSccName;
    if (has(args::AuxLabel, c.auxLabel != nullptr)) p |= kAuxLabel;
    if (has(args::Capabilities, c.capabilities != nullptr)) p |= kCapabilities;
    if (has(args::CheckoutCommentLen, c.checkoutCommentLen != nullptr)) p |= kCheckoutCommentLen;
    if (has(args::CommentLen, c.commentLen != nullptr)) p |= kCommentLen;
    if (has(args::TextOut, c.textOut != nullptr)) p |= kTextOut;
    if (has(args::Populate, c.populate != nullptr)) p |= kPopulate;
    if (has(args::CallerData, c.callerData != nullptr)) p |= kCallerData;
    if (has(args::Changes, c.changes != nullptr)) p |= kChanges;
    if (has(args::DirItems, c.dirItems != nullptr)) p |= kDirItems;
    if (has(args::OptionValue, c.nameChange != nullptr)) p |= kNameChange;
    if (has(args::EventName, c.eventName != nullptr)) p |= kEventName;
    if (has(args::Value, c.value != nullptr)) p |= kValue;
    if (has(args::Remaining, c.remaining != nullptr)) p |= kRemaining;
    if (has(args::Answer, c.answer != nullptr)) p |= kAnswer;
    if (has(args::AddedNames, c.added != nullptr)) p |= kAdded;
    return p;
}

// The in/out arrays travel both ways: the per-file words and the project
// texts, to the host with the call and back with its reply.
void writeInOut(Writer &w, const ProviderCall &c, uint32_t presence, uint32_t n) {
    if (presence & kPerFile) {
        w.u32(n);
        for (uint32_t i = 0; i < n; ++i)
            w.i32(c.perFile[i]);
    }
    if (presence & kProjectTexts)
        for (char *t : c.projectTexts)
            boundedText(w, t, kProjectScratchSize);
}

} // namespace

uint32_t listLength(const ProviderCall &c) { return c.count > 0 ? static_cast<uint32_t>(c.count) : 0; }

void encodeCall(Writer &w, const ProviderCall &c) {
    const uint32_t presence = presenceOf(c);
    w.u32(static_cast<uint32_t>(c.entry));
    w.u32(presence | (c.askTextOut ? kAskTextOut : 0u));
    w.u64(c.context);
    w.i32(c.count);
    w.i32(c.flags);
    w.i32(c.command);
    w.u64(c.option);
    w.u64(c.optionSlot ? *c.optionSlot : 0);
    w.u64(c.contextOut ? *c.contextOut : 0);
    w.i32(c.allowNew ? *c.allowNew : 0);
    w.i32(c.capabilities ? *c.capabilities : 0);
    w.i32(c.checkoutCommentLen ? *c.checkoutCommentLen : 0);
    w.i32(c.commentLen ? *c.commentLen : 0);
    w.text(c.comment);
    w.text(c.projectComment);
    w.text(c.callerName);
    const uint32_t n = listLength(c);
    if (presence & kNames) {
        w.u32(n);
        for (uint32_t i = 0; i < n; ++i)
            w.text(c.names[i]);
    }
    writeInOut(w, c, presence, n);
    w.i32(c.code);
    w.u64(static_cast<uint64_t>(c.optionValue));
    w.text(c.newName);
    w.text(c.path);
}

bool decodeCall(Reader &r, CallMessage &c) {
    c.entry = r.u32();
    c.presence = r.u32();
    c.context = r.u64();
    c.count = r.i32();
    c.flags = r.i32();
    c.command = r.i32();
    c.option = r.u64();
    c.optionSlot = r.u64();
    c.contextIn = r.u64();
    c.allowNew = r.i32();
    c.capabilities = r.i32();
    c.checkoutCommentLen = r.i32();
    c.commentLen = r.i32();
    readText(r, c.comment);
    readText(r, c.projectComment);
    readText(r, c.callerName);
    const uint32_t n = c.count > 0 ? static_cast<uint32_t>(c.count) : 0;
    c.perFile.clear();
    // Entries are added as they are read, so that a count the payload cannot
    // hold fails at the payload's end instead of asking for room first. The
    // names of the previous call, if any, lend their room to this one's.
    size_t names = 0;
    if (c.presence & kNames) {
        if (r.u32() != n || !r.ok()) {
            c.names.clear();
            return false;
        }
        for (; names < n; ++names) {
            if (names == c.names.size())
                c.names.emplace_back();
            readText(r, c.names[names]);
            if (!r.ok())
                break;
        }
    }
    c.names.resize(names);
    if (!r.ok())
        return false;
    if (c.presence & kPerFile) {
        if (r.u32() != n || !r.ok())
            return false;
        for (uint32_t i = 0; i < n; ++i) {
            int32_t v = r.i32();
            if (!r.ok())
                return false;
            c.perFile.push_back(v);
        }
    }
    if (c.presence & kProjectTexts)
        for (auto &t : c.projectTexts)
            readText(r, t);
    c.code = r.i32();
    c.optionValue = static_cast<int64_t>(r.u64());
    readText(r, c.newName);
    readText(r, c.path);
    return r.ok() && r.atEnd() && c.entry < static_cast<uint32_t>(EntryPoint::Count);
}

void encodeReply(Writer &w, const CallOutcome &o, const ProviderCall &c) {
    const uint32_t presence = o.missing ? 0 : presenceOf(c);
    w.u32(o.missing ? 1 : 0);
    w.i32(o.code);
    w.u32(presence);
    w.u64(c.contextOut ? *c.contextOut : 0);
    w.u64(c.optionSlot ? *c.optionSlot : 0);
    w.i32(c.allowNew ? *c.allowNew : 0);
    w.i32(c.capabilities ? *c.capabilities : 0);
    w.i32(c.checkoutCommentLen ? *c.checkoutCommentLen : 0);
    w.i32(c.commentLen ? *c.commentLen : 0);
    boundedText(w, presence & kSccName ? c.sccName : nullptr, kInitScratchSize);
    boundedText(w, presence & kAuxLabel ? c.auxLabel : nullptr, kInitScratchSize);
    const uint32_t n = listLength(c);
    writeInOut(w, c, presence, n);
    w.i32(c.value ? *c.value : 0);
    w.i32(c.remaining ? *c.remaining : 0);
    w.i32(c.answer ? *c.answer : 0);
    boundedText(w, presence & kEventName ? c.eventName : nullptr, SCC_EVENT_NAME_SIZE);
    if (presence & kAdded) {
        w.u32(static_cast<uint32_t>(c.added->size()));
        for (const std::string &name : *c.added)
            w.text(name.data(), name.size());
    }
}

bool decodeReply(Reader &r, CallOutcome &o, ProviderCall &c) {
    // Everything is read and checked first: a reply that does not fit the call
    // leaves the caller's outputs as they were.
    const uint32_t missing = r.u32();
    const int32_t code = r.i32();
    const uint32_t presence = r.u32();
    const uint64_t context = r.u64();
    const uint64_t slot = r.u64();
    const int32_t allowNew = r.i32();
    const int32_t caps = r.i32();
    const int32_t checkoutCommentLen = r.i32();
    const int32_t commentLen = r.i32();
    if (!r.ok() || missing > 1)
        return false;
    // Outputs travel only for pointers the call had; anything else is a fault.
    if (presence != (missing == 1 ? 0 : presenceOf(c)))
        return false;
    NullableText sccName, auxLabel, texts[4];
    readText(r, sccName);
    readText(r, auxLabel);
    const uint32_t n = listLength(c);
    std::vector<int32_t> perFile;
    if (presence & kPerFile) {
        if (r.u32() != n || !r.ok())
            return false;
        perFile.resize(n);
        for (auto &v : perFile)
            v = r.i32();
    }
    if (presence & kProjectTexts)
        for (auto &t : texts)
            readText(r, t);
    const int32_t value = r.i32();
    const int32_t remaining = r.i32();
    const int32_t answer = r.i32();
    NullableText eventName;
    readText(r, eventName);
    std::vector<std::string> added;
    if (presence & kAdded) {
        const uint32_t count = r.u32();
        // Names are added as they are read: a count the payload cannot hold
        // fails at the payload's end. A list beyond the bounds is refused
        // whole: no caller can use millions of names.
        if (count > kMaxReplyNames)
            return false;
        size_t bytes = 0;
        for (uint32_t i = 0; i < count && r.ok(); ++i) {
            std::string name;
            if (!r.text(name))
                return false; // a null name never travels
            bytes += name.size() + sizeof(std::string);
            if (bytes > kMaxReplyNameBytes)
                return false;
            added.push_back(std::move(name));
        }
    }
    if (!r.ok() || !r.atEnd())
        return false;

    o.missing = missing == 1;
    o.code = code;
    if (presence & kContextOut) *c.contextOut = context;
    if (presence & kOptionSlot) *c.optionSlot = slot;
    if (presence & kAllowNew) *c.allowNew = allowNew;
    if (presence & kCapabilities) *c.capabilities = caps;
    if (presence & kCheckoutCommentLen) *c.checkoutCommentLen = checkoutCommentLen;
    if (presence & kCommentLen) *c.commentLen = commentLen;
    if (presence & kSccName) intoBuffer(sccName, c.sccName, kInitScratchSize);
    if (presence & kAuxLabel) intoBuffer(auxLabel, c.auxLabel, kInitScratchSize);
    for (uint32_t i = 0; i < perFile.size(); ++i)
        c.perFile[i] = perFile[i];
    if (presence & kProjectTexts)
        for (int i = 0; i < 4; ++i)
            intoBuffer(texts[i], c.projectTexts[i], kProjectScratchSize);
    if (presence & kValue) *c.value = value;
    if (presence & kRemaining) *c.remaining = remaining;
    if (presence & kAnswer) *c.answer = answer;
    if (presence & kEventName) intoBuffer(eventName, c.eventName, SCC_EVENT_NAME_SIZE);
    if (presence & kAdded) {
        for (auto &name : added)
            c.added->push_back(std::move(name));
    }
    return true;
}

} // namespace oskel::hostproto
