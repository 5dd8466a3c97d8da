// What the typed Java API needs of the core: releasing a connection, the
// handle table after releases, the report of a failed connect, the registry
// file named by the caller, and status lines for a progress receiver.
#include <string>
#include <vector>

#include "core/SccInterface.h"
#include "core/api_ops.h"
#include "core/connect_report.h"
#include "core/handles.h"
#include "messages/messages.h"
#include "platform/platform.h"
#include "provider_harness.h"

namespace oskel::coretest {
namespace {

using Lines = std::vector<std::string>;

class Release : public ProviderTest {};

TEST_F(Release, EndsTheConnectionOnceForgetsTheHandleAndKeepsOthersMessages) {
    script("init.context 0x77\n");
    auto *scc = new SccInterface(kTestKey);
    ASSERT_EQ(scc->initialize(), 0);
    const int64_t handle = handles::add(scc);
    calls();
    messages::resetMessageList();
    messages::appendMessage("1 sent on another connection");
    EXPECT_EQ(api::release(handle), 0);
    EXPECT_EQ(calls(), Lines{"SccUninitialize context=0x77"});
    EXPECT_EQ(handles::find(handle), nullptr);
    EXPECT_EQ(api::release(handle), -15) << "a released handle is not live";
    EXPECT_EQ(messages::takeMessages(), Lines{"1 sent on another connection"});
    EXPECT_TRUE(calls().empty());
}

TEST(HandleTable, ReleasedHandlesAreGoneAndTheRestStayFoundThroughManyCycles) {
    // Addresses that are never dereferenced; spaced like heap blocks.
    auto fake = [](int i) { return reinterpret_cast<SccInterface *>(static_cast<intptr_t>(0x7000000 + 64 * i)); };
    std::vector<int64_t> kept;
    for (int i = 0; i < 200; ++i)
        kept.push_back(handles::add(fake(i)));
    for (int round = 0; round < 50; ++round) {
        std::vector<int64_t> churn;
        for (int i = 0; i < 40; ++i)
            churn.push_back(handles::add(fake(1000 + round * 40 + i)));
        for (size_t i = 0; i < churn.size(); ++i) {
            ASSERT_TRUE(handles::remove(churn[i])) << round << "/" << i;
            ASSERT_FALSE(handles::remove(churn[i])) << "removed twice";
        }
        for (int64_t h : churn)
            ASSERT_EQ(handles::find(h), nullptr) << round;
    }
    for (size_t i = 0; i < kept.size(); ++i)
        ASSERT_NE(handles::find(kept[i]), nullptr) << "kept handle " << i;
    for (int64_t h : kept)
        ASSERT_TRUE(handles::remove(h));
}

struct ReportCase {
    const char *name;
    const char *library; // registered under kTestKey; null: nothing registered
    const char *script;
    const char *extra;   // more values of the provider key
    const char *failure;
    bool libraryKnown;
    bool loaderError;
    bool hostError;
};
void PrintTo(const ReportCase &c, std::ostream *os) { *os << c.name; }

class ConnectReportTest : public ProviderTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ConnectReportTest, NamesTheStepThatFailedAndWhy) {
    const ReportCase &c = GetParam();
    if (c.library)
        registerProvider(c.library, c.extra);
    else
        ASSERT_TRUE(registry.install("Windows Registry Editor Version 5.00\r\n\r\n"
                                     "[HKEY_LOCAL_MACHINE\\Software\\OskelTest]\r\n\"a\"=\"b\"\r\n"));
    script(c.script);
    setEnv("OSKELSCCIH_HOST", std::string(1, kSep) + "no-such-host-program");
    {
        SccInterface scc(kTestKey);
        int32_t code = scc.initialize();
        EXPECT_NE(code, 0);
    }
    setEnv("OSKELSCCIH_HOST", "");
    const ConnectReport &report = connectReport();
    EXPECT_EQ(report.failure, c.failure);
    EXPECT_EQ(report.providerKey, kTestKey);
    EXPECT_EQ(!report.libraryPath.empty(), c.libraryKnown) << report.libraryPath;
    EXPECT_EQ(!report.loaderError.empty(), c.loaderError) << report.loaderError;
    EXPECT_EQ(!report.hostError.empty(), c.hostError) << report.hostError;
    if (c.hostError) {
        EXPECT_NE(report.hostError.find("no-such-host-program"), std::string::npos)
            << report.hostError;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ConnectReportTest,
    ::testing::Values(
        ReportCase{"noKey", nullptr, "", "", "the registry has no provider key by that name", false,
                   false, false},
        ReportCase{"libraryMissing", "no-such-provider", "", "",
                   "the provider library did not load", true, true, false},
        ReportCase{"initializeFails", "testprovider", "return SccInitialize -1\n", "",
                   "SccInitialize failed", true, false, false},
        ReportCase{"noInitialize", "testprovider_uninit", "", "",
                   "the provider library has no SccInitialize", true, false, false},
        ReportCase{"hostMissing", "testprovider", "", "\"SCCHostProcess\"=\"1\"\r\n",
                   "the provider host process did not start", true, false, true}));

#ifndef _WIN32
TEST(RegistryFile, TheCallersFileWinsAndItsStateIsTold) {
    const std::string dir = tempDir() + "/oskelcore-registry-" + std::to_string(getpid());
    const std::string missing = dir + "-missing.reg", malformed = dir + "-malformed.reg",
                      good = dir + "-good.reg";
    writeFile(malformed, "REGEDIT5\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n");
    writeFile(good, "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\X]\r\n\"v\"=\"w\"\r\n");
    struct Case {
        std::string file, state;
    };
    for (const Case &c : {Case{missing, "missing"}, Case{malformed, "malformed"}, Case{good, "ok"}}) {
        ASSERT_TRUE(platform::setRegistryFile(c.file.c_str()));
        platform::RegistrySource source = platform::describeRegistry();
        EXPECT_EQ(source.location, c.file);
        EXPECT_EQ(source.state, c.state) << c.file;
        EXPECT_EQ(platform::RegistryKey::open("Software\\X").isOpen(), c.state == "ok") << c.file;
    }
    ASSERT_TRUE(platform::setRegistryFile(nullptr));
    EXPECT_NE(platform::describeRegistry().location, good) << "back to the environment";
    std::remove(malformed.c_str());
    std::remove(good.c_str());
}
#endif

class RecordingSink final : public messages::StatusSink {
public:
    void status(const char *text) noexcept override { lines.push_back(text); }
    std::vector<std::string> lines;
};

TEST(StatusLines, ReachAnInstalledSinkAndTheListOtherwiseAreDropped) {
    messages::resetMessageList();
    messages::textOutCallback("dropped", SCC_MSG_STATUS);
    RecordingSink sink;
    EXPECT_EQ(messages::setStatusSink(&sink), nullptr);
    messages::textOutCallback("step 1", SCC_MSG_STATUS);
    messages::textOutCallback("plain", SCC_MSG_INFO);
    EXPECT_EQ(messages::setStatusSink(nullptr), &sink);
    messages::textOutCallback("dropped again", SCC_MSG_STATUS);
    EXPECT_EQ(sink.lines, Lines{"step 1"});
    EXPECT_EQ(messages::takeMessages(), (Lines{"4 step 1", "1 plain"}));
}

} // namespace
} // namespace oskel::coretest
