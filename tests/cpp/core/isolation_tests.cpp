// Connections of the typed API side by side: each keeps its own messages, one
// provider library is called by one thread at a time, a cancel can race the
// release of its connection, and what a provider sends is bounded.
#include <atomic>
#include <clocale>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/SccInterface.h"
#include "core/api_ops.h"
#include "core/handles.h"
#include "core/message_list.h"
#include "messages/messages.h"
#include "provider_harness.h"

namespace oskel::coretest {
namespace {

using Lines = std::vector<std::string>;

TEST(MessageListCap, KeepsUpToItsBoundsThenSaysHowManyWereDropped) {
    struct Case {
        size_t maxMessages, maxBytes, sent, kept;
    };
    const Case cases[] = {
        {3, 1000, 3, 3},  // exactly full: nothing dropped
        {3, 1000, 5, 3},  // by count
        {100, 25, 5, 2},  // by bytes: "1 message-N" is 11 bytes
    };
    for (const Case &c : cases) {
        messages::MessageList list(c.maxMessages, c.maxBytes);
        for (size_t i = 0; i < c.sent; ++i)
            list.append("1 message-" + std::to_string(i));
        Lines taken = list.take();
        const size_t dropped = c.sent - c.kept;
        ASSERT_EQ(taken.size(), c.kept + (dropped ? 1 : 0)) << c.sent << " sent";
        EXPECT_EQ(taken.front(), "1 message-0");
        if (dropped) {
            EXPECT_EQ(taken.back().rfind("2 " + std::to_string(dropped) + " provider messages dropped", 0), 0u)
                << taken.back();
        }
        EXPECT_TRUE(list.take().empty()) << "a take empties the list and its note";
    }
}

class Isolation : public ProviderTest {};

TEST_F(Isolation, EachTypedConnectionGetsTheMessagesOfItsOwnCallsAndTheRawListNone) {
    script("message SccGet 1 from get\nmessage SccCheckin 2 from checkin\n");
    SccInterface first(kTestKey, MessageOwner::Connection);
    SccInterface second(kTestKey, MessageOwner::Connection);
    ASSERT_EQ(first.initialize(), 0);
    ASSERT_EQ(second.initialize(), 0);
    ASSERT_EQ(first.openProject("u", "p", "/l", "a"), 0);
    ASSERT_EQ(second.openProject("u", "p", "/l", "a"), 0);
    messages::resetMessageList();
    const char *name = "f.c";
    first.getFiles(1, &name, 0);
    second.checkin(1, &name, "c", 0);
    EXPECT_EQ(first.takeOwnMessages(), Lines{"1 from get"});
    EXPECT_EQ(second.takeOwnMessages(), Lines{"2 from checkin"});
    EXPECT_TRUE(messages::takeMessages().empty()) << "the process-wide list is the raw natives' own";
}

TEST_F(Isolation, TheLibraryLockIsOneThreadsAndSaysWhyItWasRefused) {
    SccInterface scc(kTestKey, MessageOwner::Connection);
    ASSERT_EQ(scc.initialize(), 0);
    ProviderLibrary &library = *scc.providerLibrary();
    using Entry = ProviderLibrary::Entry;
    ASSERT_EQ(library.enter(0), Entry::Acquired);
    EXPECT_EQ(library.enter(0), Entry::Reentered) << "a listener calling back into the library";
    EXPECT_EQ(scc.getVersion(), 0x00010002) << "the holder's own provider calls go through";
    Entry other = Entry::Acquired;
    std::thread([&] { other = library.enter(20); }).join();
    EXPECT_EQ(other, Entry::Timeout);
    // A thread inside a call to another library does not wait for this one.
    ProviderLibrary &another = ProviderLibrary::forKey("isolation test library");
    std::thread([&] {
        ASSERT_EQ(another.enter(0), Entry::Acquired);
        other = library.enter(5000);
        another.leave();
    }).join();
    EXPECT_EQ(other, Entry::OtherHeld);
    EXPECT_TRUE(library.leave());
    EXPECT_FALSE(library.leave()) << "released";
    std::thread([&] {
        other = library.enter(0);
        library.leave();
    }).join();
    EXPECT_EQ(other, Entry::Acquired);
}

TEST_F(Isolation, CancelsRacingTheReleaseOfTheirConnectionTouchNoFreedObject) {
    // Under the sanitizers a cancel that wrote to a freed object fails here.
    std::atomic<int64_t> live{0};
    std::atomic<bool> stop{false};
    std::vector<std::thread> cancellers;
    for (int t = 0; t < 16; ++t)
        cancellers.emplace_back([&] {
            while (!stop.load())
                api::cancel(live.load());
        });
    for (int round = 0; round < 40; ++round) {
        auto scc = std::make_unique<SccInterface>(kTestKey, MessageOwner::Connection);
        ASSERT_EQ(scc->initialize(), 0);
        const int64_t handle = handles::adopt(scc);
        live = handle;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(api::release(handle), 0);
    }
    stop = true;
    for (auto &t : cancellers)
        t.join();
}

#if !defined(_WIN32)
TEST_F(Isolation, ATypedCallConvertsWithALocaleOfItsOwnAndLeavesTheProcessLocaleAlone) {
    // Other native libraries of the JVM share the process's C locale: a typed
    // call must not switch it under them.
    auto scc = std::make_unique<SccInterface>(kTestKey, MessageOwner::Connection);
    ASSERT_EQ(scc->initialize(), 0);
    const int64_t handle = handles::adopt(scc);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_EQ(api::enter(handle, 0), 0);
    EXPECT_NE(platform::threadLocaleName(), nullptr) << "the call's own locale is in use";
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    EXPECT_TRUE(api::leave(handle));
    EXPECT_EQ(platform::threadLocaleName(), nullptr);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    EXPECT_EQ(api::release(handle), 0);
}
#endif

TEST(SharedLibraryLock, CopiesOfThisModuleShareTheLockOfOneProviderLibrary) {
    // Each class loader's copy of the library opens its own lock on the
    // provider library they share: the locks must exclude each other.
    const std::string path = providerPath("testprovider");
    platform::LibraryHandle library = platform::loadLibrary(path.c_str());
    ASSERT_NE(library, nullptr);
    platform::SharedLibraryLock first, second;
    ASSERT_TRUE(first.open(library, path.c_str()));
    ASSERT_TRUE(second.open(library, path.c_str()));
    ASSERT_TRUE(first.acquire(0));
    bool taken = true;
    std::thread([&] { taken = second.acquire(50); }).join();
    EXPECT_FALSE(taken) << "the other copy's lock was taken while this one held it";
    first.release();
    std::thread([&] {
        taken = second.acquire(0);
        if (taken)
            second.release();
    }).join();
    EXPECT_TRUE(taken);
    platform::freeLibrary(library);
}

} // namespace
} // namespace oskel::coretest
