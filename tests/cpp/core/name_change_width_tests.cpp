// The 1.1 header declares SccSetOption's value a LONG, and providers built
// from it keep the name-change callback and its user data in 32 bits, then
// widen them back with their sign. Our modules load above 4 GiB, so the
// callback a provider gets must survive that, in process and in the host.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/SccInterface.h"
#include "provider_harness.h"
#include "core_support.h"

namespace oskel::coretest {
namespace {

struct WidthCase {
    const char *name;
    bool hosted;
    const char *report; // the script's rename directive
};

const WidthCase kWidthCases[] = {
    {"in_process", false, "namechange"},
    {"in_process_provider_thread", false, "namechange.thread"},
    {"hosted", true, "namechange"},
    {"hosted_provider_thread", true, "namechange.thread"},
};

class NameChangeKeptInLong : public ProviderTest, public ::testing::WithParamInterface<WidthCase> {
protected:
    void SetUp() override {
        ProviderTest::SetUp();
        if (GetParam().hosted) {
            setEnv("OSKELSCCIH_HOST", hostProgram());
            registerProvider("testprovider", "\"SCCHostProcess\"=dword:00000001\r\n"
                                             "\"SCCHostTimeout\"=dword:00002710\r\n");
        }
    }
};

TEST_P(NameChangeKeptInLong, TheRenameReachesTheReceiver) {
    script(std::string("namechange.long32\n") + GetParam().report + " SccGetVersion old.c new.c\n");
    std::vector<std::string> seen;
    SccInterface scc(kTestKey);
    ASSERT_EQ(SCC_OK, scc.initialize());
    ASSERT_EQ(SCC_OK, scc.setNameChangeSink(std::make_unique<RenameRecorder>(seen)));
    EXPECT_NE(0, scc.getVersion()) << "the provider (or its host) died in the callback";
    // A report from a provider thread in process waits for the next call.
    EXPECT_NE(0, scc.getVersion()) << "the connection did not live on";
    ASSERT_FALSE(seen.empty()) << "no rename arrived";
    for (const std::string &rename : seen)
        EXPECT_EQ("old.c -> new.c", rename);
}

INSTANTIATE_TEST_SUITE_P(Modes, NameChangeKeptInLong, ::testing::ValuesIn(kWidthCases),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace oskel::coretest
