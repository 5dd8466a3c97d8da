// The provider host protocol: messages between the library and a provider host
// process. Every field has a fixed width and is little-endian, whatever the
// peer's pointer width, so that a 64-bit library drives a 32-bit host.
//
// A message is an 8-byte header (u32 payload length, u16 kind, u16 zero) and
// the payload. A text is a u32 byte count (0xffffffff for a null pointer) and
// the bytes, without a terminator.
//
//   host -> library  Hello    u32 magic "OSKH", u32 version, u32 pointer bits
//   library -> host  Load     text library path
//   host -> library  Loaded   i32 0 when loaded, else the system's error number
//   library -> host  Call     one provider call with all its names (encodeCall)
//   host -> library  Text     i32 type, text   (text-out, no answer)
//   host -> library  Populate i32 keep, i32 status, text name (during a call)
//   library -> host  Answer   i32 the callback's result (Populate, Ask, Change, DirItem)
//   host -> library  Reply    the call's outcome and outputs (encodeReply)
//   host -> library  Ask      i32 type, text   (text-out during a call that asks
//                             for answers, kAskTextOut: the caller's cancel answers)
//   host -> library  Change   text name, u32 change type, text latest name (during a call)
//   host -> library  DirItem  i32 folder flag, text name (during a call)
//   host -> library  Renamed  u64 caller data, text old name, text new name (no
//                             answer; from any thread, read during a call)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/provider.h"

namespace oskel::hostproto {

constexpr uint32_t kMagic = 0x484b534fu; // "OSKH" as bytes on the wire
constexpr uint32_t kVersion = 2;
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kMaxPayload = 256u << 20;
constexpr uint32_t kNullLength = 0xffffffffu;

enum class Kind : uint16_t {
    Hello = 1,
    Load = 2,
    Loaded = 3,
    Call = 4,
    Text = 5,
    Populate = 6,
    Answer = 7,
    Reply = 8,
    Ask = 9,
    Change = 10,
    DirItem = 11,
    Renamed = 12,
};
constexpr uint16_t kLastKind = 12;

// Which pointers of a call are set (the call) or which outputs travel (the reply).
enum Presence : uint32_t {
    kNames = 1u << 0,
    kPerFile = 1u << 1,
    kOptionSlot = 1u << 2,
    kProjectTexts = 1u << 3,
    kAllowNew = 1u << 4,
    kContextOut = 1u << 5,
    kSccName = 1u << 6,
    kAuxLabel = 1u << 7,
    kCapabilities = 1u << 8,
    kCheckoutCommentLen = 1u << 9,
    kCommentLen = 1u << 10,
    kTextOut = 1u << 11,
    kPopulate = 1u << 12,
    kCallerData = 1u << 13,
    kChanges = 1u << 14,
    kDirItems = 1u << 15,
    kNameChange = 1u << 16,
    kEventName = 1u << 17,
    kValue = 1u << 18,
    kRemaining = 1u << 19,
    kAnswer = 1u << 20,
    kAdded = 1u << 21,
    kAskTextOut = 1u << 22, // not a pointer: text-out during the call is answered
};

class Writer {
public:
    explicit Writer(Kind kind);
    // Writes into `storage`, whatever it held: a sender that keeps the bytes
    // of its last message (release()) saves their allocation.
    Writer(Kind kind, std::vector<uint8_t> storage);
    void u32(uint32_t v);
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void u64(uint64_t v);
    void text(const char *s); // null or zero-terminated
    void text(const char *s, size_t n);
    // The finished message: header and payload.
    const std::vector<uint8_t> &finish();
    // True once the payload would have grown past kMaxPayload: what came
    // after was dropped, and the message must not be sent.
    bool tooLarge() const { return tooLarge_; }
    // The bytes, for the next Writer to reuse.
    std::vector<uint8_t> release() { return std::move(bytes_); }

private:
    bool room(size_t n);
    void append(const void *data, size_t n);
    template <typename T> void little(T v);
    std::vector<uint8_t> bytes_;
    bool tooLarge_ = false;
};

class Reader {
public:
    Reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64();
    // False for a null text; `out` holds the bytes otherwise.
    bool text(std::string &out);
    bool ok() const { return ok_; }
    bool atEnd() const { return p_ == end_; }

private:
    bool take(size_t n);
    template <typename T> T little();
    const uint8_t *p_;
    const uint8_t *end_;
    bool ok_ = true;
};

struct Header {
    uint32_t length = 0;
    Kind kind = Kind::Hello;
};
// Decodes a header; false when it is not one (unknown kind, nonzero reserved
// field, oversized payload).
bool readHeader(const uint8_t (&bytes)[kHeaderSize], Header &header);

// The longest payload a message of `kind` may announce: a header announcing
// more is a protocol fault before anything is allocated for it.
uint32_t maxPayload(Kind kind);
// The most names a reply may hand back (SccAddFromScc), and their bytes.
constexpr uint32_t kMaxReplyNames = 1u << 20;
constexpr size_t kMaxReplyNameBytes = size_t(64) << 20;

struct NullableText {
    bool null = true;
    std::string bytes;
    const char *c_str() const { return null ? nullptr : bytes.c_str(); }
};

// A decoded call: the record's inputs, owning their storage.
struct CallMessage {
    uint32_t entry = 0;
    uint32_t presence = 0;
    uint64_t context = 0;
    int32_t count = 0;
    int32_t flags = 0;
    int32_t command = 0;
    uint64_t option = 0;
    uint64_t optionSlot = 0;
    uint64_t contextIn = 0;
    int32_t allowNew = 0;
    int32_t capabilities = 0;
    int32_t checkoutCommentLen = 0;
    int32_t commentLen = 0;
    NullableText comment;
    NullableText projectComment;
    NullableText callerName;
    std::vector<NullableText> names;
    std::vector<int32_t> perFile;
    NullableText projectTexts[4];
    // The further entry points.
    int32_t code = 0;
    int64_t optionValue = 0;
    NullableText newName;
    NullableText path;
};

// The greeting a host sends first: magic, version and its pointer width.
Writer helloMessage();

// The number of names and per-file words a call carries.
uint32_t listLength(const ProviderCall &call);

void encodeCall(Writer &w, const ProviderCall &call);
bool decodeCall(Reader &r, CallMessage &call);

// The reply: outcome and every output the call's pointers ask for. The text
// outputs are read up to their buffers' sizes less the terminator.
void encodeReply(Writer &w, const CallOutcome &outcome, const ProviderCall &call);
// Applies a reply to the caller's record; false when the reply does not fit it.
bool decodeReply(Reader &r, CallOutcome &outcome, ProviderCall &call);

} // namespace oskel::hostproto
