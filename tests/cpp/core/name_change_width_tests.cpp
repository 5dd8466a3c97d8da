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

namespace oskel::coretest {
namespace {

#if defined(_WIN32)
std::string hostProgram() {
    return envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR) + "\\..\\src\\" +
           (sizeof(void *) == 8 ? "oskelsccih-host-x64.exe" : "oskelsccih-host-x86.exe");
}
#else
std::string hostProgram() {
    return std::getenv("OSKEL_PROVIDER_DIR") ? std::string(std::getenv("OSKEL_PROVIDER_DIR")) +
                                                   "/../src/oskelsccih-host"
                                             : std::string(OSKEL_DEFAULT_HOST);
}
#endif

class Renames final : public NameChangeSink {
public:
    explicit Renames(std::vector<std::string> &seen) : seen_(seen) {}
    void nameChanged(const char *oldName, const char *newName) noexcept override {
        seen_.push_back(std::string(oldName) + " -> " + newName);
    }

private:
    std::vector<std::string> &seen_;
};

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
    ASSERT_EQ(SCC_OK, scc.setNameChangeSink(std::make_unique<Renames>(seen)));
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
