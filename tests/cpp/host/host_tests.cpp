// The provider host: the protocol's byte layout (what a peer of the other
// pointer width reads) and the host program running the test provider.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "core/provider.h"
#include "host/protocol.h"
#include "messages/messages.h"

namespace oskel {
namespace {

std::string hex(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// ---- Layout -----------------------------------------------------------------

struct Golden {
    const char *name;
    std::vector<uint8_t> (*build)();
    const char *bytes; // hex
};

std::vector<uint8_t> hello() {
    hostproto::Writer w(hostproto::Kind::Hello);
    w.u32(hostproto::kMagic);
    w.u32(hostproto::kVersion);
    w.u32(32);
    return w.finish();
}

const char *kNames[] = {"a", nullptr};

std::vector<uint8_t> getCall() {
    ProviderCall c;
    c.entry = EntryPoint::Get;
    c.context = 0x1122334455667788ull;
    c.count = 2;
    c.names = kNames;
    c.flags = -2;
    c.command = 0;
    c.option = 0xabcdef;
    hostproto::Writer w(hostproto::Kind::Call);
    hostproto::encodeCall(w, c);
    return w.finish();
}

std::vector<uint8_t> populateMessage() {
    hostproto::Writer w(hostproto::Kind::Populate);
    w.i32(1);
    w.i32(-1);
    w.text("x.c");
    return w.finish();
}

std::vector<uint8_t> queryReply() {
    SCCLONG status[2] = {0x1001, -1};
    ProviderCall c;
    c.entry = EntryPoint::QueryInfo;
    c.count = 2;
    c.names = kNames;
    c.perFile = status;
    hostproto::Writer w(hostproto::Kind::Reply);
    hostproto::encodeReply(w, CallOutcome{false, -11}, c);
    return w.finish();
}

const Golden kGolden[] = {
    {"hello", hello, "0c00000001000000" "4f534b48" "02000000" "20000000"},
    {"call", getCall,
     "7100000004000000"                   // length 113, kind 4
     "06000000" "01000000"                // SccGet, names present
     "8877665544332211"                   // context
     "02000000" "feffffff" "00000000"     // count, flags, command
     "efcdab0000000000"                   // option value
     "0000000000000000" "0000000000000000" // option slot, context in
     "00000000" "00000000" "00000000" "00000000" // allowNew, caps, lengths
     "ffffffff" "ffffffff" "ffffffff"     // comment, project comment, caller: null
     "02000000" "0100000061" "ffffffff"   // two names: "a", null
     "00000000" "0000000000000000"        // code, option value
     "ffffffff" "ffffffff"},              // new name, path: null
    {"populate", populateMessage, "0f00000006000000" "01000000" "ffffffff" "03000000782e63"},
    {"reply", queryReply,
     "5000000008000000"                   // length 80, kind 8
     "00000000" "f5ffffff" "03000000"     // called, -11, names and per-file words
     "0000000000000000" "0000000000000000"
     "00000000" "00000000" "00000000" "00000000"
     "ffffffff" "ffffffff"                // no name, no aux label
     "02000000" "01100000" "ffffffff"     // the status words
     "00000000" "00000000" "00000000"     // value, remaining, answer
     "ffffffff"},                         // no event name
};

class Layout : public ::testing::TestWithParam<Golden> {};

TEST_P(Layout, BytesAreFixedWidthLittleEndian) {
    const Golden &g = GetParam();
    EXPECT_EQ(g.bytes, hex(g.build())) << g.name << " message bytes differ";
}

INSTANTIATE_TEST_SUITE_P(Messages, Layout, ::testing::ValuesIn(kGolden),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(Layout, CallDecodesToWhatWasEncoded) {
    auto bytes = getCall();
    hostproto::Header h;
    uint8_t head[hostproto::kHeaderSize];
    std::memcpy(head, bytes.data(), sizeof head);
    ASSERT_TRUE(hostproto::readHeader(head, h));
    hostproto::Reader r(bytes.data() + hostproto::kHeaderSize, h.length);
    hostproto::CallMessage m;
    ASSERT_TRUE(hostproto::decodeCall(r, m));
    EXPECT_EQ(std::vector<std::string>({"a", ""}),
              std::vector<std::string>({m.names[0].bytes, m.names[1].bytes}));
    EXPECT_TRUE(m.names[1].null) << "a null name must stay null";
    EXPECT_EQ(0x1122334455667788ull, m.context);
    EXPECT_EQ(0xabcdefull, m.option);
    EXPECT_EQ(-2, m.flags);
}

TEST(Layout, TruncatedOrOversizedMessagesAreRefused) {
    auto bytes = getCall();
    hostproto::Reader r(bytes.data() + hostproto::kHeaderSize, bytes.size() - hostproto::kHeaderSize - 1);
    hostproto::CallMessage m;
    EXPECT_FALSE(hostproto::decodeCall(r, m)) << "a call one byte short decoded";
    uint8_t huge[hostproto::kHeaderSize] = {0xff, 0xff, 0xff, 0xff, 4, 0, 0, 0};
    hostproto::Header h;
    EXPECT_FALSE(hostproto::readHeader(huge, h)) << "a 4 GiB payload was accepted";
}

TEST(Layout, AReplyThatDoesNotFitLeavesEveryOutputAsItWas) {
    std::vector<char> name(kInitScratchSize), label(kInitScratchSize);
    uint64_t context = 0x77;
    SCCLONG caps = 5, ccl = 6, cl = 7;
    ProviderCall c;
    c.entry = EntryPoint::Initialize;
    c.contextOut = &context;
    c.sccName = name.data();
    c.auxLabel = label.data();
    c.capabilities = &caps;
    c.checkoutCommentLen = &ccl;
    c.commentLen = &cl;
    std::strcpy(name.data(), "Name");
    hostproto::Writer w(hostproto::Kind::Reply);
    hostproto::encodeReply(w, CallOutcome{false, 0}, c);
    auto bytes = w.finish();

    context = 0;
    caps = ccl = cl = 0;
    name[0] = '\0';
    CallOutcome o{false, 99};
    for (size_t cut : {size_t(1), size_t(5)}) {
        hostproto::Reader r(bytes.data() + hostproto::kHeaderSize,
                            bytes.size() - hostproto::kHeaderSize - cut);
        EXPECT_FALSE(hostproto::decodeReply(r, o, c)) << "a reply " << cut << " bytes short";
        EXPECT_EQ(std::vector<int64_t>({0, 0, 0, 0, 99}),
                  std::vector<int64_t>({static_cast<int64_t>(context), caps, ccl, cl, o.code}))
            << "outputs written from a reply " << cut << " bytes short";
        EXPECT_STREQ("", name.data());
    }
}

// ---- The host running the test provider ------------------------------------

std::string envOr(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return v && *v ? v : fallback;
}

#ifdef _WIN32
constexpr char kSep = '\\';
std::string library(const char *name) { return std::string(name) + ".dll"; }
std::string hostName() { return sizeof(void *) == 8 ? "oskelsccih-host-x64.exe" : "oskelsccih-host-x86.exe"; }
void setEnv(const char *n, const std::string &v) { _putenv_s(n, v.c_str()); }
#else
constexpr char kSep = '/';
std::string library(const char *name) { return std::string("lib") + name + ".so"; }
std::string hostName() { return "oskelsccih-host"; }
void setEnv(const char *n, const std::string &v) { setenv(n, v.c_str(), 1); }
#endif

class Hosted : public ::testing::Test {
protected:
    void SetUp() override {
        const char *providerDir = std::getenv("OSKEL_PROVIDER_DIR");
        // Under wine the providers' folder is given; the host is built next to the library.
        setEnv("OSKELSCCIH_HOST", providerDir ? std::string(providerDir) + kSep + ".." + kSep + "src" +
                                                    kSep + hostName()
                                              : std::string(OSKEL_DEFAULT_HOST));
        dir = envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR);
        tmp = envOr("OSKEL_TEST_TMP", envOr("TMPDIR", envOr("TEMP", "/tmp")));
        // One script per test: ctest runs the tests of this binary in parallel processes.
        script = tmp + kSep + "host-tests-script-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        setEnv("OSKEL_TESTPROVIDER_SCRIPT", script);
        writeScript("");
        messages::resetMessageList();
    }
    void TearDown() override { std::remove(script.c_str()); }
    void writeScript(const std::string &text) { std::ofstream(script, std::ios::binary) << text; }
    std::unique_ptr<Provider> open(const char *name, uint32_t timeoutMs = 30000) {
        ProviderSettings s;
        s.hosted = true;
        s.timeoutMs = timeoutMs;
        return openProvider((dir + kSep + library(name)).c_str(), s);
    }
    std::string dir, tmp, script;
};

std::vector<std::string> kept;
SCCBOOL SCC_CALL collect(void *data, SCCBOOL keep, SCCLONG, const char *name) {
    kept.push_back(std::to_string(keep) + (name ? name : "(null)") + (data ? "" : "!"));
    return 1;
}

TEST_F(Hosted, CallsReachTheProviderWithTheirOutputsAndCallbacks) {
    writeScript("init.context 0x77\ninit.name Hosted\ninit.caps 0x1234\n"
                "status * 0x20\npopulate 1 k.c\npopulate.null 0\nreturn SccQueryInfo 6\n");
    auto p = open("testprovider");
    ASSERT_TRUE(p) << "the host did not start";
    std::vector<char> name(kInitScratchSize), label(kInitScratchSize);
    uint64_t context = 0;
    SCCLONG caps = 0, ccl = 0, cl = 0;
    ProviderCall init;
    init.entry = EntryPoint::Initialize;
    init.contextOut = &context;
    init.callerName = "caller";
    init.sccName = name.data();
    init.auxLabel = label.data();
    init.capabilities = &caps;
    init.checkoutCommentLen = &ccl;
    init.commentLen = &cl;
    CallOutcome o = p->call(init);
    EXPECT_FALSE(o.missing);
    EXPECT_EQ(0, o.code);
    EXPECT_EQ(0x77u, context);
    EXPECT_STREQ("Hosted", name.data());
    EXPECT_EQ(0x1234, caps);

    const char *names[] = {"a", "b"};
    SCCLONG status[2] = {0, 0};
    ProviderCall query;
    query.entry = EntryPoint::QueryInfo;
    query.context = context;
    query.count = 2;
    query.names = names;
    query.perFile = status;
    o = p->call(query);
    EXPECT_EQ(6, o.code);
    EXPECT_EQ(0x20, status[0]);
    EXPECT_EQ(0x20, status[1]);

    kept.clear();
    int data = 0;
    ProviderCall populate;
    populate.entry = EntryPoint::PopulateList;
    populate.count = 2;
    populate.names = names;
    populate.perFile = status;
    populate.populate = collect;
    populate.callerData = &data;
    p->call(populate);
    EXPECT_EQ(std::vector<std::string>({"1k.c", "0(null)"}), kept) << "populate callbacks";
}

TEST_F(Hosted, AMissingEntryPointIsReportedWithoutACall) {
    auto p = open("testprovider_uninit");
    ASSERT_TRUE(p);
    ProviderCall c;
    c.entry = EntryPoint::GetVersion;
    EXPECT_TRUE(p->call(c).missing) << "SccGetVersion of a provider without it";
}

TEST_F(Hosted, ACrashEndsTheConnectionWithAMessage) {
    writeScript("crash SccGet\n");
    auto p = open("testprovider", 5000);
    ASSERT_TRUE(p);
    ProviderCall c;
    c.entry = EntryPoint::Get;
    CallOutcome o = p->call(c);
    EXPECT_FALSE(o.missing);
    EXPECT_EQ(SCC_E_NONSPECIFICERROR, o.code);
    auto list = messages::takeMessages();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(0u, list[0].find("3 SCC provider process ended: ")) << list[0];
    writeScript("");
    EXPECT_EQ(SCC_E_NONSPECIFICERROR, p->call(c).code) << "a call after the crash";
    auto again = open("testprovider");
    ASSERT_TRUE(again) << "a new host after the crash";
    EXPECT_EQ(0, again->call(c).code);
}

TEST_F(Hosted, ACallTooLargeForTheProtocolFailsAloneAndTheHostLives) {
    auto p = open("testprovider");
    auto other = open("testprovider"); // the same host process
    ASSERT_TRUE(p && other);
    const std::string comment(hostproto::kMaxPayload, 'c');
    const char *names[] = {"a"};
    ProviderCall big;
    big.entry = EntryPoint::Checkin;
    big.count = 1;
    big.names = names;
    big.comment = comment.c_str();
    EXPECT_EQ(SCC_E_NONSPECIFICERROR, p->call(big).code);
    auto list = messages::takeMessages();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(0u, list[0].find("3 SCC provider call too large for the provider process")) << list[0];
    ProviderCall small;
    small.entry = EntryPoint::Get;
    EXPECT_EQ(0, p->call(small).code) << "the connection whose call was refused";
    EXPECT_EQ(0, other->call(small).code) << "another connection to the same host";
}

#ifdef __linux__
// This process's children that run the host program.
std::vector<pid_t> hostChildren() {
    std::vector<pid_t> found;
    DIR *proc = opendir("/proc");
    if (proc == nullptr)
        return found;
    while (dirent *entry = readdir(proc)) {
        pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        size_t close = line.rfind(')');
        if (close == std::string::npos || line.find("(oskelsccih-host)") == std::string::npos)
            continue;
        char state = 0;
        long parent = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &parent) == 2 && parent == getpid())
            found.push_back(pid);
    }
    closedir(proc);
    return found;
}

bool processExists(pid_t pid) { return std::ifstream("/proc/" + std::to_string(pid) + "/stat").good(); }

TEST_F(Hosted, AHostThatDiesWhileIdleIsReapedAndReplaced) {
    const auto before = hostChildren();
    auto p = open("testprovider");
    ASSERT_TRUE(p);
    pid_t host = 0;
    for (pid_t pid : hostChildren())
        if (std::find(before.begin(), before.end(), pid) == before.end())
            host = pid;
    ASSERT_NE(0, host) << "no new host process found";
    ASSERT_EQ(0, kill(host, SIGKILL));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (processExists(host) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(processExists(host)) << "the host stayed a zombie while its connection was idle";

    ProviderCall c;
    c.entry = EntryPoint::Get;
    EXPECT_EQ(SCC_E_NONSPECIFICERROR, p->call(c).code);
    auto list = messages::takeMessages();
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ("3 SCC provider process ended: killed by signal 9", list[0]);
    auto again = open("testprovider");
    ASSERT_TRUE(again);
    EXPECT_EQ(0, again->call(c).code) << "a new connection while the dead host's one is still held";
}
#endif

} // namespace
} // namespace oskel
