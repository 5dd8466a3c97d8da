// Faults found in review, each pinned by a case that failed before its fix.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/SccInterface.h"
#include "core/handles.h"
#include "core/provider.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "platform/testing.h"
#include "core_support.h"
#include "provider_harness.h"

// The replacements below pair malloc with free themselves.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Allocations on this thread fail while it is set (the handle table running
// out of memory).
namespace {
thread_local bool failAllocations = false;
}

void *operator new(std::size_t size) {
    if (failAllocations)
        throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace oskel::coretest {
namespace {

// ---- Provider settings from the registry -----------------------------------

struct SettingsCase {
    const char *name;
    const char *values; // .reg lines under the provider key
    bool hosted;
    uint32_t timeoutMs;
};

const SettingsCase kSettings[] = {
    {"none", "", false, 30000},
    {"dword_timeout", "\"SCCHostTimeout\"=dword:00003039\r\n", false, 12345},
    {"text_timeout", "\"SCCHostTimeout\"=\"12345\"\r\n", false, 12345},
    {"zero_timeout", "\"SCCHostTimeout\"=dword:00000000\r\n", false, 30000},
    {"text_not_a_number", "\"SCCHostTimeout\"=\"12ab\"\r\n", false, 30000},
    {"large_dword", "\"SCCHostTimeout\"=dword:ffffffff\r\n", false, 0xffffffffu},
    {"hosted_dword", "\"SCCHostProcess\"=dword:00000001\r\n", true, 30000},
    {"hosted_text", "\"SCCHostProcess\"=\"1\"\r\n", true, 30000},
    {"not_hosted_dword", "\"SCCHostProcess\"=dword:00000000\r\n", false, 30000},
    {"hosted_dword_49", "\"SCCHostProcess\"=dword:00000031\r\n", false, 30000},
};

class Settings : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(Settings, TypedValuesReadAsTheirType) {
    const SettingsCase &c = GetParam();
    testsupport::RegistryFixture registry(
        std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\") +
        kTestKey + "]\r\n\"SCCServerPath\"=\"x\"\r\n" + c.values);
    ASSERT_TRUE(registry.ok()) << registry.error();
    auto key = platform::RegistryKey::open(kTestKey);
    ASSERT_TRUE(key.isOpen());
    ProviderSettings s = readProviderSettings(key);
    EXPECT_EQ(c.hosted, s.hosted) << c.name << ": hosted";
    EXPECT_EQ(c.timeoutMs, s.timeoutMs) << c.name << ": timeout";
}

INSTANTIATE_TEST_SUITE_P(Registry, Settings, ::testing::ValuesIn(kSettings),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- Taking over a new interface object ------------------------------------

class Ownership : public ProviderTest {};

TEST_F(Ownership, AnObjectTheHandleTableCannotTakeIsStillTornDown) {
    // The table grows now and then; every addition until it does succeeds.
    for (int i = 0; i < 100000; ++i) {
        auto created = std::make_unique<SccInterface>(kTestKey);
        ASSERT_EQ(SCC_OK, created->initialize());
        SccInterface *raw = created.get();
        calls();
        failAllocations = true;
        try {
            handles::adopt(created);
            failAllocations = false;
        } catch (const std::bad_alloc &) {
            failAllocations = false;
            ASSERT_EQ(raw, created.get()) << "the object was let go before the table held it";
            EXPECT_EQ(nullptr, handles::find(reinterpret_cast<intptr_t>(raw)));
            created.reset();
            auto log = calls();
            ASSERT_FALSE(log.empty());
            EXPECT_EQ(0u, log.back().find("SccUninitialize context=0x5cc0c0de")) << log.back();
            return;
        }
        EXPECT_EQ(nullptr, created.get());
        EXPECT_EQ(raw, handles::find(reinterpret_cast<intptr_t>(raw)));
    }
    FAIL() << "the handle table never needed memory";
}

// ---- Hosted providers --------------------------------------------------------

#ifdef _WIN32
TEST(HostProcess, AChildThatCannotBePutInItsJobIsEndedAndNotStarted) {
    // Outside its job a hung host could outlive this process.
    platform::testing::failNextJobAssignment();
    platform::ChildProcess child;
    platform::Channel channel;
    std::string error;
    EXPECT_FALSE(child.start(hostProgram().c_str(), channel, error));
    EXPECT_NE(std::string::npos, error.find("cannot put the host in its job")) << error;
    EXPECT_FALSE(child.running());
    EXPECT_FALSE(channel.isOpen());
    ASSERT_TRUE(child.start(hostProgram().c_str(), channel, error)) << error;
    std::string how;
    child.finish(0, how);
}
#endif

class Hosted : public ProviderTest {
protected:
    void SetUp() override {
        ProviderTest::SetUp();
        setEnv("OSKELSCCIH_HOST", hostProgram());
        registerProvider("testprovider", "\"SCCHostProcess\"=dword:00000001\r\n"
                                         "\"SCCHostTimeout\"=dword:00002710\r\n");
    }
    // Whether the provider logs `line` within ten seconds (what its own threads
    // send reaches the log once sent).
    bool logged(const std::string &line) {
        for (int i = 0; i < 1000; ++i) {
            for (const auto &logLine : lines(readFile(logPath)))
                if (logLine == line)
                    return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(Hosted, AVersionLostWithItsHostIsZero) {
    script("crash SccGetVersion\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(SCC_OK, scc.initialize());
    EXPECT_EQ(0, scc.getVersion()) << "a hosted fault read as a version";
    script("");
    EXPECT_EQ(0, scc.getVersion()) << "the host is gone: still no version";
}

TEST_F(Hosted, TextOutFromAProviderThreadArrivesWhole) {
    // Messages longer than the channel holds at once go out in parts.
    constexpr int kEach = 50;
    const std::string text(300000, 't');
    script("message.thread SccGet " + std::to_string(kEach) + " 1 " + text + "\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(SCC_OK, scc.initialize());
    ASSERT_EQ(SCC_OK, scc.openProject("u", "p", "l", "a"));
    messages::takeMessages();
    const char *names[] = {"a.c"};
    EXPECT_EQ(SCC_OK, scc.getFiles(1, names, 0)) << "the call broke on interleaved messages";
    auto got = messages::takeMessages();
    EXPECT_EQ(size_t(2 * kEach), got.size());
    for (const auto &m : got)
        ASSERT_TRUE(m == "1 " + text) << "a message arrived changed";
}

TEST_F(Hosted, TextOutBetweenCallsIsFetchedWithoutAnotherCall) {
    script("message.later SccOpenProject 200 1 sent between calls\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(SCC_OK, scc.initialize());
    ASSERT_EQ(SCC_OK, scc.openProject("u", "p", "l", "a"));
    // The provider logs the message once the host has sent it.
    ASSERT_TRUE(logged("textout type=1 text=\"sent between calls\" -> 0"))
        << "the provider never sent the message";
    std::vector<std::string> got;
    scc.getErrList(got);
    EXPECT_EQ(std::vector<std::string>{"1 sent between calls"}, got);
}

TEST_F(Hosted, ARenameReportedBetweenCallsIsTakenAtTheNextFetch) {
    // The rename first, then a text message behind it on the channel.
    script("namechange.later SccOpenProject 50 old.c new.c\n"
           "message.later SccOpenProject 300 1 after the rename\n");
    struct Renames final : NameChangeSink {
        std::vector<std::string> &seen;
        explicit Renames(std::vector<std::string> &to) : seen(to) {}
        void nameChanged(const char *oldName, const char *newName) noexcept override {
            seen.push_back(std::string(oldName) + " -> " + newName);
        }
    };
    std::vector<std::string> renames;
    SccInterface scc(kTestKey);
    ASSERT_EQ(SCC_OK, scc.initialize());
    ASSERT_EQ(SCC_OK, scc.setNameChangeSink(std::make_unique<Renames>(renames)));
    ASSERT_EQ(SCC_OK, scc.openProject("u", "p", "l", "a"));
    ASSERT_TRUE(logged("namechange old=\"old.c\" new=\"new.c\" thread=later"))
        << "the provider never sent the rename";
    ASSERT_TRUE(logged("textout type=1 text=\"after the rename\" -> 0"))
        << "the provider never sent the message";
    std::vector<std::string> got;
    scc.getErrList(got);
    EXPECT_EQ(std::vector<std::string>{"1 after the rename"}, got)
        << "the fetch stopped at the rename report";
    EXPECT_EQ(SCC_OK, scc.beginBatch()) << "the rename report was taken for a broken host";
    EXPECT_EQ(std::vector<std::string>{"old.c -> new.c"}, renames)
        << "the report was lost, or not delivered once by the next call";
}

} // namespace
} // namespace oskel::coretest
