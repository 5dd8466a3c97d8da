// A hosted provider that breaks the rules (tests/cpp/host/hostile_host.cpp)
// beside a good one: the good connection's calls stay quick, the memory the
// hostile one can make the library hold is bounded, and a rename report it
// forges for another connection is dropped.
#if !defined(_WIN32)
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/SccInterface.h"
#include "messages/messages.h"
#include "provider_harness.h"
#include "core_support.h"

namespace oskel::coretest {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char *kGoodKey = "Software\\OskelTest\\Good";

// What the process may grow by while a hostile host does its worst. A
// sanitizer keeps freed memory in quarantine, so its resident size says
// nothing about what the library holds: the bound is checked without one.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kGrowthMiB = 1 << 20;
#else
constexpr long kGrowthMiB = 64;
#endif

long residentMiB() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE) / (1 << 20);
}

template <typename Body> long millisecondsOf(Body &&body) {
    const auto start = Clock::now();
    body();
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

class HostileHost : public ProviderTest {
protected:
    // The hostile host under kTestKey (hosted), the test provider in this
    // process under kGoodKey.
    void start(const std::string &mode) {
        install(mode);
        connectGood();
        connectHostile();
    }
    void install(const std::string &mode) {
        setEnv("OSKEL_HOSTILE", mode);
        setEnv("OSKELSCCIH_HOST", OSKEL_HOSTILE_HOST);
        const std::string reg =
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\" + std::string(kTestKey) + "]\r\n"
            "\"SCCServerPath\"=\"" + regQuote(providerPath("testprovider_uninit")) + "\"\r\n"
            "\"SCCHostProcess\"=\"1\"\r\n\"SCCHostTimeout\"=\"20000\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\" + std::string(kGoodKey) + "]\r\n"
            "\"SCCServerPath\"=\"" + regQuote(providerPath("testprovider")) + "\"\r\n";
        ASSERT_TRUE(registry.install(reg)) << registry.error();
    }
    void connectGood() {
        good = std::make_unique<SccInterface>(kGoodKey, MessageOwner::Connection);
        ASSERT_EQ(good->initialize(), 0);
        ASSERT_EQ(good->openProject("u", "p", "/l", "a"), 0);
    }
    void connectHostile() {
        hostile = std::make_unique<SccInterface>(kTestKey, MessageOwner::Connection);
        ASSERT_EQ(hostile->initialize(), 0);
        ASSERT_EQ(hostile->openProject("u", "p", "/l", "a"), 0);
    }
    void TearDown() override {
        setEnv("OSKELSCCIH_HOST", OSKEL_DEFAULT_HOST);
        hostile.reset();
        good.reset();
        ProviderTest::TearDown();
    }
    // The good connection's call, and every fetch, stay quick.
    void expectOthersUnharmed() {
        const char *name = "f.c";
        EXPECT_LT(millisecondsOf([&] { good->getFiles(1, &name, 0); }), 1000);
        EXPECT_LT(millisecondsOf([&] { hostile->takeOwnMessages(); }), 1000);
        EXPECT_LT(millisecondsOf([&] { messages::fetchMessages(); }), 1000);
    }
    std::unique_ptr<SccInterface> good, hostile;
};

TEST_F(HostileHost, AMessageDrippedByteByByteHoldsNoFetchAndNoCall) {
    start("drip");
    for (int i = 0; i < 3; ++i) {
        expectOthersUnharmed();
        usleep(300 * 1000);
    }
}

TEST_F(HostileHost, MessagesWithoutEndAreCappedPerConnection) {
    const long before = residentMiB();
    start("spam");
    size_t kept = 0;
    for (int fetch = 0; fetch < 12; ++fetch) {
        auto taken = hostile->takeOwnMessages();
        kept += taken.size();
        ASSERT_LE(taken.size(), messages::MessageList::kMaxMessages + 1);
    }
    EXPECT_GT(kept, 0u);
    expectOthersUnharmed();
    EXPECT_LT(residentMiB() - before, kGrowthMiB) << "resident MiB grew from " << before;
}

TEST_F(HostileHost, AHugeAnnouncedFrameIsAFaultBeforeAnythingIsAllocated) {
    start("frame");
    const long before = residentMiB();
    const char *name = "f.c";
    int32_t code = 0;
    EXPECT_LT(millisecondsOf([&] { code = hostile->getFiles(1, &name, 0); }), 1000);
    EXPECT_EQ(code, SCC_E_NONSPECIFICERROR);
    EXPECT_LT(residentMiB() - before, kGrowthMiB);
    auto said = hostile->takeOwnMessages();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind("3 SCC provider process ended: malformed message", 0), 0u) << said[0];
    expectOthersUnharmed();
}

TEST_F(HostileHost, AListReplyBeyondItsBoundsIsRefused) {
    start("list");
    const long before = residentMiB();
    std::vector<std::string> names;
    EXPECT_EQ(hostile->addFromScc(nullptr, names), SCC_E_NONSPECIFICERROR);
    EXPECT_TRUE(names.empty());
    EXPECT_LT(residentMiB() - before, kGrowthMiB);
}

TEST_F(HostileHost, ARenameReportForAnotherProvidersConnectionIsDropped) {
    // The good connection's receiver, and the number its provider was given,
    // which the hostile host is told so that it forges the one report that
    // would reach that receiver.
    install("forge");
    connectGood();
    std::vector<std::string> seen;
    calls();
    ASSERT_EQ(good->setNameChangeSink(std::make_unique<RenameRecorder>(seen)), 0);
    std::string id;
    for (const auto &line : calls())
        if (line.find("option=2 value=") != std::string::npos)
            id = line.substr(line.find("value=") + 6);
    ASSERT_FALSE(id.empty());
    setEnv("OSKEL_HOSTILE_ID", id);
    connectHostile();
    EXPECT_EQ(hostile->getVersion(), 0);
    hostile->takeOwnMessages();
    messages::fetchMessages();
    good->getVersion();
    EXPECT_TRUE(seen.empty()) << seen.front();
    // The good provider's own reports still arrive.
    script("namechange SccGetVersion old new\n");
    good->getVersion();
    EXPECT_EQ(seen, std::vector<std::string>{"old -> new"});
}

} // namespace
} // namespace oskel::coretest
#endif
