// The channel's reads: whatever has arrived is taken at once and kept, so a
// read must give back exactly the bytes asked for, in order, however the
// peer's writes were cut or joined on the way.
#include "platform/platform.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace oskel::platform {
namespace {

using Bytes = std::vector<uint8_t>;

// A message as the host protocol frames them: a u32 length, 4 more header
// bytes, the payload.
Bytes message(size_t length, uint8_t fill)
{
    Bytes m(8 + length, fill);
    for (int i = 0; i < 4; ++i) m[static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
    return m;
}

// The reading end as a Channel, the writing end as a descriptor.
struct Pair {
    Channel reader;
    int writer = -1;
    int readerFd = -1;
    Pair()
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return;
        readerFd = sv[0];
        writer = sv[1];
        reader = Channel::fromArgument(std::to_string(sv[0]).c_str());
    }
    ~Pair()
    {
        if (writer >= 0) ::close(writer);
    }
    void write(const uint8_t *p, size_t n)
    {
        while (n > 0) {
            ssize_t k = ::send(writer, p, n, 0);
            ASSERT_GT(k, 0);
            p += k;
            n -= static_cast<size_t>(k);
        }
    }
    // Blocks until the reader has taken every byte sent so far.
    void waitDrained()
    {
        int queued = 1;
        while (::ioctl(readerFd, FIONREAD, &queued) == 0 && queued > 0) std::this_thread::yield();
    }
};

// Reads one framed message: the header, then the payload it announces.
::testing::AssertionResult readMessage(Channel &c, const Bytes &expected, int32_t timeoutMs = -1)
{
    uint8_t head[8];
    if (c.read(head, sizeof head, timeoutMs) != Channel::Status::Ok)
        return ::testing::AssertionFailure() << "header not read";
    size_t length = static_cast<size_t>(head[0]) | static_cast<size_t>(head[1]) << 8 |
                    static_cast<size_t>(head[2]) << 16 | static_cast<size_t>(head[3]) << 24;
    Bytes got(head, head + 8);
    got.resize(8 + length);
    if (length && c.read(got.data() + 8, length, timeoutMs) != Channel::Status::Ok)
        return ::testing::AssertionFailure() << "payload not read";
    if (got != expected) return ::testing::AssertionFailure() << "bytes changed";
    return ::testing::AssertionSuccess();
}

TEST(Channel, MessagesCutAnywhereOrJoinedArriveWhole)
{
    // Two messages sent as two parts, cut at every byte: a header split, a
    // payload split, the end of one message arriving with the next.
    const Bytes first = message(5, 0x11), second = message(3, 0x22);
    Bytes stream = first;
    stream.insert(stream.end(), second.begin(), second.end());
    for (size_t cut = 1; cut < stream.size(); ++cut) {
        Pair pair;
        ASSERT_TRUE(pair.reader.isOpen());
        pair.write(stream.data(), cut);
        std::thread rest([&] {
            pair.waitDrained(); // the reader holds the first part only
            pair.write(stream.data() + cut, stream.size() - cut);
        });
        EXPECT_TRUE(readMessage(pair.reader, first)) << "cut at " << cut;
        EXPECT_TRUE(readMessage(pair.reader, second, 10000)) << "cut at " << cut;
        rest.join();
    }
}

TEST(Channel, ALargeMessageAfterASmallOneInOneWrite)
{
    // Larger than the read-ahead: read partly from what was taken with the
    // small message, the rest straight into its place.
    const Bytes small = message(2, 0x33), large = message(3 * Channel::kReadAhead + 7, 0x44);
    Bytes stream = small;
    stream.insert(stream.end(), large.begin(), large.end());
    stream.insert(stream.end(), small.begin(), small.end());
    Pair pair;
    std::thread writer([&] { pair.write(stream.data(), stream.size()); });
    EXPECT_TRUE(readMessage(pair.reader, small));
    EXPECT_TRUE(readMessage(pair.reader, large));
    EXPECT_TRUE(readMessage(pair.reader, small));
    writer.join();
}

TEST(Channel, AMessageTakenWithThePreviousOneIsReadable)
{
    // Both arrive in one receive: the second waits in the channel, not in the
    // socket, and must still count as readable.
    const Bytes one = message(4, 0x55), two = message(6, 0x66);
    Bytes stream = one;
    stream.insert(stream.end(), two.begin(), two.end());
    Pair pair;
    pair.write(stream.data(), stream.size());
    EXPECT_TRUE(readMessage(pair.reader, one));
    EXPECT_TRUE(pair.reader.readable());
    EXPECT_TRUE(readMessage(pair.reader, two, 0));
    EXPECT_FALSE(pair.reader.readable());
}

TEST(Channel, EndsAndTimeoutsMidMessage)
{
    struct Row {
        const char *what;
        size_t sent;        // bytes of a 16-byte message the peer sends
        bool peerCloses;
        Channel::Status status;
    };
    const Row rows[] = {
        {"nothing sent", 0, false, Channel::Status::Timeout},
        {"header cut", 5, false, Channel::Status::Timeout},
        {"payload cut", 12, false, Channel::Status::Timeout},
        {"peer gone before the header ends", 5, true, Channel::Status::Closed},
        {"peer gone before the payload ends", 12, true, Channel::Status::Closed},
    };
    const Bytes m = message(8, 0x77);
    for (const Row &row : rows) {
        Pair pair;
        pair.write(m.data(), row.sent);
        if (row.peerCloses) {
            ::close(pair.writer);
            pair.writer = -1;
        }
        uint8_t got[16];
        Channel::Status status = pair.reader.read(got, 8, 20);
        if (status == Channel::Status::Ok) status = pair.reader.read(got + 8, 8, 20);
        EXPECT_EQ(row.status, status) << row.what;
        if (row.status == Channel::Status::Timeout && row.sent == 0) {
            // A read that timed out leaves the channel usable.
            std::thread late([&] {
                pair.waitDrained();
                pair.write(m.data(), m.size());
            });
            EXPECT_TRUE(readMessage(pair.reader, m)) << row.what;
            late.join();
        }
    }
}

} // namespace
} // namespace oskel::platform
#endif
