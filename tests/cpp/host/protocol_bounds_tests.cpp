// The host decodes every call message before it touches the provider: a list
// count larger than the payload could hold is refused without the decoder
// first making room for that many entries (found by fuzz_hostproto).
#include <cstdint>

#include <gtest/gtest.h>

#include "host/protocol.h"

namespace oskel {
namespace {

using namespace hostproto;

// A call whose fixed part claims `count` entries, and `lists` (names and/or
// status words) that also claim `count`, with nothing after.
std::vector<uint8_t> callClaiming(int32_t count, uint32_t lists) {
    Writer w(Kind::Call);
    w.u32(static_cast<uint32_t>(EntryPoint::QueryInfo));
    w.u32(lists);
    w.u64(0x5cc0c0de); // context
    w.i32(count);
    for (int i = 0; i < 2; ++i)
        w.i32(0); // flags, command
    for (int i = 0; i < 3; ++i)
        w.u64(0); // option, slot, context in
    for (int i = 0; i < 4; ++i)
        w.i32(0); // allowNew .. commentLen
    for (int i = 0; i < 3; ++i)
        w.text(nullptr); // comment, project comment, caller name
    w.u32(static_cast<uint32_t>(count));
    return w.finish();
}

TEST(ProtocolBounds, ACountThePayloadCannotHoldIsRefused) {
    const struct {
        const char *what;
        uint32_t lists;
    } cases[] = {{"names", kNames}, {"status words", kPerFile}};
    for (const auto &c : cases) {
        for (int32_t count : {0x7fffffff, 0x01000000}) {
            std::vector<uint8_t> bytes = callClaiming(count, c.lists);
            Reader r(bytes.data() + kHeaderSize, bytes.size() - kHeaderSize);
            CallMessage m;
            bool decoded = true;
            EXPECT_NO_THROW(decoded = decodeCall(r, m)) << c.what << " " << count;
            EXPECT_FALSE(decoded) << c.what << " " << count;
            EXPECT_LT(m.names.capacity() + m.perFile.capacity(), 1024u) << c.what << " " << count;
        }
    }
}

} // namespace
} // namespace oskel
