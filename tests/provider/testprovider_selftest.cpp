// Self-test of the scriptable test provider: loads the built libraries the way
// the bridge does, drives their entry points under a script and compares the
// call log byte for byte with the format that README.md fixes.

#include "oskelsccih/scc_api.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <dlfcn.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define OSKEL_SELFTEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSKEL_SELFTEST_ASAN 1
#endif
#endif

#ifndef OSKEL_DEFAULT_PROVIDER_DIR
#define OSKEL_DEFAULT_PROVIDER_DIR "providers"
#endif

namespace {

const char *const kAllEntryPoints[] = {
    "SccInitialize", "SccUninitialize", "SccGetVersion",      "SccOpenProject",
    "SccCloseProject", "SccGetProjPath", "SccGet",             "SccCheckout",
    "SccCheckin",    "SccUncheckout",   "SccAdd",             "SccRemove",
    "SccDiff",       "SccHistory",      "SccProperties",      "SccQueryInfo",
    "SccRunScc",     "SccGetCommandOptions", "SccPopulateList"};

constexpr const char *kCaller = "Marrowby for Java SCM v2";

// The bytes of a string literal, embedded nulls included.
template <size_t N>
std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

std::string envOr(const char *name, const std::string &fallback) {
    const char *v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::string(v) : fallback;
}

// The provider reads the process environment, so that is what is set here.
void setEnv(const char *name, const std::string &value) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void unsetEnv(const char *name) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, nullptr);
#else
    unsetenv(name);
#endif
}

std::string tempDir() {
    std::string dir = envOr("OSKEL_TEST_TMP", "");
    if (!dir.empty()) {
        return dir;
    }
#ifdef _WIN32
    char buf[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof buf, buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string(".");
#else
    return envOr("TMPDIR", "/tmp");
#endif
}

std::string joinPath(const std::string &dir, const std::string &name) {
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') {
        return dir + "/" + name;
    }
    return dir + name;
}

std::string providerPath(const std::string &base) {
    std::string dir = envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR);
#ifdef _WIN32
    std::string path = joinPath(dir, base + ".dll");
    for (char &c : path) {
        if (c == '/') {
            c = '\\';  // LoadLibrary wants backslashes
        }
    }
    return path;
#else
    return joinPath(dir, "lib" + base + ".so");
#endif
}

// A loaded provider library, unloaded when it goes out of scope.
class Library {
public:
    explicit Library(const std::string &path) {
#ifdef _WIN32
        handle_ = LoadLibraryA(path.c_str());
        if (handle_ == nullptr) {
            error_ = "LoadLibrary failed with error " + std::to_string(GetLastError());
        }
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char *e = dlerror();
            error_ = e != nullptr ? e : "dlopen failed";
        }
#endif
    }
    ~Library() {
        if (handle_ != nullptr) {
#ifdef _WIN32
            FreeLibrary(handle_);
#else
            dlclose(handle_);
#endif
        }
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    bool loaded() const { return handle_ != nullptr; }
    const std::string &error() const { return error_; }

    bool has(const char *name) const { return address(name) != nullptr; }

    // The entry point `name` as type F; null when the library lacks it.
    template <typename F>
    F fn(const char *name) const {
        // Through the generic function pointer type, which converts to any other.
        return reinterpret_cast<F>(address(name));
    }

private:
    using Generic = void (*)(void);
    Generic address(const char *name) const {
        if (handle_ == nullptr) {
            return nullptr;
        }
#ifdef _WIN32
        return reinterpret_cast<Generic>(GetProcAddress(handle_, name));
#else
        return reinterpret_cast<Generic>(dlsym(handle_, name));
#endif
    }

#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void *handle_ = nullptr;
#endif
    std::string error_;
};

std::string readFile(const std::string &path) {
    std::string data;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return data;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        data.append(buf, n);
    }
    std::fclose(f);
    return data;
}

bool fileExists(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
        std::fclose(f);
        return true;
    }
    return false;
}

void writeFile(const std::string &path, const std::string &data) {
    FILE *f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << "cannot write " << path;
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
}

// What the callbacks below received, in order.
std::vector<std::string> g_callbacks;

SCCLONG SCC_CALL recordTextOut(const char *text, SCCLONG type) {
    g_callbacks.push_back("textout " + std::to_string(type) + " " +
                          (text != nullptr ? std::string(text) : std::string("<null>")));
    return type == SCC_MSG_ERROR ? -1 : 0;
}

SCCBOOL SCC_CALL recordPopulate(void *callerData, SCCBOOL keep, SCCLONG status,
                                const char *name) {
    g_callbacks.push_back("populate " + std::to_string(keep) + " " + std::to_string(status) + " " +
                          (name != nullptr ? std::string(name) : std::string("<null>")) +
                          (callerData == &g_callbacks ? "" : " wrong-caller-data"));
    return keep != 0 ? 1 : 0;
}

void *ctx(uintptr_t v) {
    return reinterpret_cast<void *>(v);
}

// Sets up a fresh script and log for each test and loads the full provider.
class ProviderFixture : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string stem = std::string("testprovider_selftest_") + info->test_suite_name() + "_" +
                           info->name();
        for (char &c : stem) {
            if (c == '/' || c == '\\' || c == ':') {
                c = '_';
            }
        }
        scriptPath_ = joinPath(tempDir(), stem + ".script");
        logPath_ = joinPath(tempDir(), stem + ".log");
        std::remove(scriptPath_.c_str());
        std::remove(logPath_.c_str());
        setEnv("OSKEL_TESTPROVIDER_SCRIPT", scriptPath_);
        setEnv("OSKEL_TESTPROVIDER_LOG", logPath_);
        g_callbacks.clear();
        lib_ = std::make_unique<Library>(providerPath("testprovider"));
        ASSERT_TRUE(lib_->loaded()) << providerPath("testprovider") << ": " << lib_->error();
    }

    void TearDown() override {
        lib_.reset();
        std::remove(scriptPath_.c_str());
        std::remove(logPath_.c_str());
        unsetEnv("OSKEL_TESTPROVIDER_SCRIPT");
        unsetEnv("OSKEL_TESTPROVIDER_LOG");
    }

    void script(const std::string &text) { writeFile(scriptPath_, text); }
    std::string log() const { return readFile(logPath_); }
    const Library &lib() const { return *lib_; }

    std::string scriptPath_;
    std::string logPath_;
    std::unique_ptr<Library> lib_;
};

// Outputs of SccInitialize, each buffer larger than the API's sizes and
// pre-filled so that the exact extent of a copy shows.
struct InitOutputs {
    void *context = ctx(0x77);
    char name[512];
    SCCLONG caps = 0x77;
    char aux[512];
    SCCLONG checkoutLen = 0x77;
    SCCLONG commentLen = 0x77;
    InitOutputs() {
        std::memset(name, '~', sizeof name);
        std::memset(aux, '~', sizeof aux);
    }
    SCCRTN call(const Library &lib, const char *caller = kCaller) {
        auto init = lib.fn<SccInitializeFn>("SccInitialize");
        return init(&context, nullptr, caller, name, &caps, aux, &checkoutLen, &commentLen);
    }
};

const std::string kInitLine =
    "SccInitialize context=set window=null caller=\"Marrowby for Java SCM v2\" name=set caps=set "
    "auxlabel=set checkoutcommentlen=set commentlen=set\n";

TEST_F(ProviderFixture, InitializeWithoutScriptWritesTheDefaults) {
    InitOutputs out;
    EXPECT_EQ(out.call(lib()), 0);
    EXPECT_EQ(out.context, ctx(0x5cc0c0de));
    EXPECT_STREQ(out.name, "Test Provider");
    EXPECT_EQ(out.caps, 0);
    EXPECT_STREQ(out.aux, "Test Aux Path");
    EXPECT_EQ(out.checkoutLen, 64);
    EXPECT_EQ(out.commentLen, 128);
    EXPECT_EQ(out.name[14], '~') << "the default name was copied beyond its terminator";
    EXPECT_EQ(log(), kInitLine);
}

TEST_F(ProviderFixture, InitializeCopiesScriptedValuesWhole) {
    const std::string longName(300, 'n');
    script("init.context 0x1234\ninit.name " + longName + "\ninit.caps 0x80000000\n" +
           "init.auxlabel Label \\x01\\\\\\xff\ninit.checkoutcommentlen -1\n" +
           "init.commentlen 0\nreturn SccInitialize -1\n");
    InitOutputs out;
    EXPECT_EQ(out.call(lib(), "q\"b\\s\x01\x7f\xff"), -1);
    EXPECT_EQ(out.context, ctx(0x1234));
    EXPECT_EQ(std::string(out.name), longName);
    EXPECT_EQ(out.name[301], '~') << "the name was copied beyond its terminator";
    EXPECT_EQ(out.caps, static_cast<SCCLONG>(0x80000000u));
    EXPECT_EQ(std::string(out.aux), "Label \x01\\\xff");
    EXPECT_EQ(out.checkoutLen, -1);
    EXPECT_EQ(out.commentLen, 0);
    EXPECT_EQ(log(),
              "SccInitialize context=set window=null caller=\"q\\\"b\\\\s\\x01\\x7f\\xff\" name=set "
              "caps=set auxlabel=set checkoutcommentlen=set commentlen=set\n");
}

TEST_F(ProviderFixture, InitializeWithNowriteLeavesEveryOutput) {
    script("init.nowrite\ninit.name Ignored\n");
    InitOutputs out;
    EXPECT_EQ(out.call(lib()), 0);
    EXPECT_EQ(out.context, ctx(0x77));
    EXPECT_EQ(out.name[0], '~');
    EXPECT_EQ(out.caps, 0x77);
    EXPECT_EQ(out.aux[0], '~');
    EXPECT_EQ(out.checkoutLen, 0x77);
    EXPECT_EQ(out.commentLen, 0x77);
    EXPECT_EQ(log(), kInitLine);
}

TEST_F(ProviderFixture, InitializeWithNullOutputsLogsThemAndWritesNothing) {
    auto init = lib().fn<SccInitializeFn>("SccInitialize");
    EXPECT_EQ(init(nullptr, ctx(1), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(log(),
              "SccInitialize context=null window=set caller=null name=null caps=null auxlabel=null "
              "checkoutcommentlen=null commentlen=null\n");
}

TEST_F(ProviderFixture, WithoutLogVariableNothingIsLogged) {
    unsetEnv("OSKEL_TESTPROVIDER_LOG");
    auto get = lib().fn<SccGetFn>("SccGet");
    EXPECT_EQ(get(nullptr, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_FALSE(fileExists(logPath_)) << "a log was written although the variable is unset";
}

// Messages go through the text-out callback that SccOpenProject received last.
TEST_F(ProviderFixture, MessagesUseTheMostRecentTextOut) {
    script("message SccOpenProject 1 opening \"now\"\n"
           "message * 2 \n"
           "message.null SccGet 3\n"
           "message SccGet -4 tab\\there\n");
    auto open = lib().fn<SccOpenProjectFn>("SccOpenProject");
    auto get = lib().fn<SccGetFn>("SccGet");
    char user[] = "u", project[] = "p", aux[] = "a";

    EXPECT_EQ(get(ctx(0xc), nullptr, 0, nullptr, 0, nullptr), 0);  // no callback yet
    EXPECT_EQ(open(ctx(0xc), nullptr, user, project, "l", aux, "", recordTextOut, 1), 0);
    EXPECT_EQ(get(ctx(0xc), nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(open(ctx(0xc), nullptr, user, project, "l", aux, "", nullptr, 1), 0);
    EXPECT_EQ(get(ctx(0xc), nullptr, 0, nullptr, 0, nullptr), 0);  // callback withdrawn

    EXPECT_EQ(log(),
              "SccGet context=0xc window=null count=0 names=null flags=0 options=0x0\n"
              "SccOpenProject context=0xc window=null user=\"u\" project=\"p\" local=\"l\" "
              "aux=\"a\" comment=\"\" textout=set flags=1\n"
              "textout type=1 text=\"opening \\\"now\\\"\" -> 0\n"
              "textout type=2 text=\"\" -> 0\n"
              "SccGet context=0xc window=null count=0 names=null flags=0 options=0x0\n"
              "textout type=2 text=\"\" -> 0\n"
              "textout type=3 text=null -> -1\n"
              "textout type=-4 text=\"tab\\x09here\" -> 0\n"
              "SccOpenProject context=0xc window=null user=\"u\" project=\"p\" local=\"l\" "
              "aux=\"a\" comment=\"\" textout=null flags=1\n"
              "SccGet context=0xc window=null count=0 names=null flags=0 options=0x0\n");
    EXPECT_EQ(g_callbacks, (std::vector<std::string>{"textout 1 opening \"now\"", "textout 2 ",
                                                      "textout 2 ", "textout 3 <null>",
                                                      "textout -4 tab\there"}));
}

TEST_F(ProviderFixture, ReloadingForgetsTheTextOut) {
    script("message SccGet 1 hello\n");
    char text[] = "t";
    lib().fn<SccOpenProjectFn>("SccOpenProject")(nullptr, nullptr, text, text, text, text, "",
                                                  recordTextOut, 1);
    lib_.reset();
    lib_ = std::make_unique<Library>(providerPath("testprovider"));
    ASSERT_TRUE(lib_->loaded()) << lib_->error();
    lib().fn<SccGetFn>("SccGet")(nullptr, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_EQ(g_callbacks, std::vector<std::string>())
        << "a library loaded afresh used the text-out callback of its previous load";
}

TEST_F(ProviderFixture, OpenProjectRewritesTheNamedWritableTexts) {
    script("openproject.user \\x01new user\nopenproject.aux \n");
    auto open = lib().fn<SccOpenProjectFn>("SccOpenProject");
    char user[64] = "old user", project[64] = "old project", aux[64] = "old aux";
    EXPECT_EQ(open(nullptr, nullptr, user, project, nullptr, aux, nullptr, nullptr, 0), 0);
    EXPECT_STREQ(user, "\x01new user");
    EXPECT_STREQ(project, "old project");
    EXPECT_STREQ(aux, "");
    EXPECT_EQ(log(),
              "SccOpenProject context=0x0 window=null user=\"old user\" project=\"old project\" "
              "local=null aux=\"old aux\" comment=null textout=null flags=0\n");
}

TEST_F(ProviderFixture, GetProjPathRewritesTheNamedTextsAndTheNewFlag) {
    const std::string longUser(300, 'u');
    script("projpath.user " + longUser + "\nprojpath.aux \nprojpath.allownew 0\n");
    auto getProjPath = lib().fn<SccGetProjPathFn>("SccGetProjPath");
    // 300 characters and the terminator, then a guard byte.
    char user[302], project[302] = "P", local[302] = "L", aux[302] = "A";
    std::memset(user, '~', sizeof user);
    std::strcpy(user, "U");
    SCCBOOL isNew = 1;
    EXPECT_EQ(getProjPath(ctx(0x5cc0c0de), nullptr, user, project, local, aux, 0, &isNew), 0);
    EXPECT_EQ(std::string(user), longUser);
    EXPECT_EQ(user[301], '~') << "the user text was copied beyond its terminator";
    EXPECT_STREQ(project, "P");
    EXPECT_STREQ(local, "L");
    EXPECT_STREQ(aux, "");
    EXPECT_EQ(isNew, 0);
    EXPECT_EQ(log(),
              "SccGetProjPath context=0x5cc0c0de window=null user=\"U\" project=\"P\" "
              "local=\"L\" aux=\"A\" allowchangepath=0 allownew=1\n");
}

TEST_F(ProviderFixture, QueryInfoWritesStatusWordsInFileOrder) {
    script("status * 1\nstatus 1 0x20\nstatus 3 9\nstatus -1 9\n");
    auto queryInfo = lib().fn<SccQueryInfoFn>("SccQueryInfo");
    const char *names[] = {"a", "b", "c"};
    SCCLONG status[4] = {-1, 0, 5, 77};
    EXPECT_EQ(queryInfo(ctx(1), 3, names, status), 0);
    EXPECT_EQ(std::vector<SCCLONG>(status, status + 4), (std::vector<SCCLONG>{1, 0x20, 1, 77}));
    EXPECT_EQ(log(),
              "SccQueryInfo context=0x1 count=3 names=[\"a\",\"b\",\"c\"] status=[-1,0,5]\n");
}

TEST_F(ProviderFixture, PopulateListCallsBackInFileOrder) {
    script("populate 1 a.java\npopulate 0 b \\x22.java\npopulate.null 1\npopulate 256 \n"
           "status 0 2\n");
    auto populateList = lib().fn<SccPopulateListFn>("SccPopulateList");
    const char *names[] = {"x"};
    SCCLONG status[1] = {0};
    EXPECT_EQ(populateList(ctx(2), SCC_COMMAND_CHECKIN, 1, names, recordPopulate, &g_callbacks,
                           status, 0),
              0);
    EXPECT_EQ(status[0], 2);
    EXPECT_EQ(log(),
              "SccPopulateList context=0x2 command=2 count=1 names=[\"x\"] populate=set "
              "callerdata=set status=set flags=0\n"
              "populate keep=1 name=\"a.java\" -> 1\n"
              "populate keep=0 name=\"b \\\".java\" -> 0\n"
              "populate keep=1 name=null -> 1\n"
              "populate keep=256 name=\"\" -> 1\n");
    EXPECT_EQ(g_callbacks, (std::vector<std::string>{"populate 1 0 a.java", "populate 0 0 b \".java",
                                                      "populate 1 0 <null>", "populate 256 0 "}));
}

TEST_F(ProviderFixture, GetCommandOptionsStoresOnlyForItsCommand) {
    script("options.store 1 0xfeed\noptions.store 2 2\n");
    auto getOptions = lib().fn<SccGetCommandOptionsFn>("SccGetCommandOptions");
    SCCCMDOPTS slot1 = nullptr, slot3 = ctx(7);
    EXPECT_EQ(getOptions(ctx(3), nullptr, SCC_COMMAND_CHECKOUT, &slot1), 0);
    EXPECT_EQ(getOptions(ctx(3), nullptr, SCC_COMMAND_UNCHECKOUT, &slot3), 0);
    EXPECT_EQ(getOptions(ctx(3), nullptr, SCC_COMMAND_CHECKOUT, nullptr), 0);
    EXPECT_EQ(slot1, ctx(0xfeed));
    EXPECT_EQ(slot3, ctx(7));
    EXPECT_EQ(log(),
              "SccGetCommandOptions context=0x3 window=null command=1 options=0x0\n"
              "SccGetCommandOptions context=0x3 window=null command=3 options=0x7\n"
              "SccGetCommandOptions context=0x3 window=null command=1 options=null\n");
}

// --- The log line of every entry point --------------------------------------

struct LogCase {
    const char *name;
    std::function<void(const Library &)> call;
    const char *line;
};

const char *kAB[] = {"a", "b"};
const char *kWithNull[] = {"a", nullptr, "c\\d"};

const LogCase kLogCases[] = {
    {"Uninitialize",
     [](const Library &l) { l.fn<SccUninitializeFn>("SccUninitialize")(ctx(0xabc)); },
     "SccUninitialize context=0xabc"},
    {"UninitializeNullContext",
     [](const Library &l) { l.fn<SccUninitializeFn>("SccUninitialize")(nullptr); },
     "SccUninitialize context=0x0"},
    {"GetVersion", [](const Library &l) { l.fn<SccGetVersionFn>("SccGetVersion")(); },
     "SccGetVersion"},
    {"CloseProject",
     [](const Library &l) { l.fn<SccCloseProjectFn>("SccCloseProject")(ctx(0x5cc0c0de)); },
     "SccCloseProject context=0x5cc0c0de"},
    {"GetProjPathNullNewFlag",
     [](const Library &l) {
         char t[8] = "t";
         l.fn<SccGetProjPathFn>("SccGetProjPath")(ctx(1), nullptr, t, nullptr, t, t, 1, nullptr);
     },
     "SccGetProjPath context=0x1 window=null user=\"t\" project=null local=\"t\" aux=\"t\" "
     "allowchangepath=1 allownew=null"},
    {"Get",
     [](const Library &l) { l.fn<SccGetFn>("SccGet")(ctx(1), nullptr, 2, kAB, 0, nullptr); },
     "SccGet context=0x1 window=null count=2 names=[\"a\",\"b\"] flags=0 options=0x0"},
    {"GetNullEntryAndFewerThanTheArray",
     [](const Library &l) { l.fn<SccGetFn>("SccGet")(ctx(1), nullptr, 2, kWithNull, 4, ctx(0xf)); },
     "SccGet context=0x1 window=null count=2 names=[\"a\",null] flags=4 options=0xf"},
    {"GetNegativeCount",
     [](const Library &l) { l.fn<SccGetFn>("SccGet")(ctx(1), nullptr, -3, kAB, 0, nullptr); },
     "SccGet context=0x1 window=null count=-3 names=[] flags=0 options=0x0"},
    {"Checkout",
     [](const Library &l) {
         l.fn<SccCheckoutFn>("SccCheckout")(ctx(1), nullptr, 1, kAB, "c", 0, ctx(0xa1));
     },
     "SccCheckout context=0x1 window=null count=1 names=[\"a\"] comment=\"c\" flags=0 options=0xa1"},
    {"CheckinNullComment",
     [](const Library &l) {
         l.fn<SccCheckinFn>("SccCheckin")(ctx(1), nullptr, 3, kWithNull, nullptr, 0, nullptr);
     },
     "SccCheckin context=0x1 window=null count=3 names=[\"a\",null,\"c\\\\d\"] comment=null "
     "flags=0 options=0x0"},
    {"Uncheckout",
     [](const Library &l) {
         l.fn<SccUncheckoutFn>("SccUncheckout")(ctx(1), nullptr, 0, kAB, 0, nullptr);
     },
     "SccUncheckout context=0x1 window=null count=0 names=[] flags=0 options=0x0"},
    {"Add",
     [](const Library &l) {
         SCCLONG flags[] = {0, -2, 9};
         l.fn<SccAddFn>("SccAdd")(ctx(1), nullptr, 2, kAB, nullptr, flags, nullptr);
     },
     "SccAdd context=0x1 window=null count=2 names=[\"a\",\"b\"] comment=null flags=[0,-2] "
     "options=0x0"},
    {"AddNullFlags",
     [](const Library &l) {
         l.fn<SccAddFn>("SccAdd")(ctx(1), nullptr, 1, kAB, "", nullptr, ctx(4));
     },
     "SccAdd context=0x1 window=null count=1 names=[\"a\"] comment=\"\" flags=null options=0x4"},
    {"Remove",
     [](const Library &l) {
         l.fn<SccRemoveFn>("SccRemove")(ctx(1), nullptr, 1, kAB, "gone", 0, nullptr);
     },
     "SccRemove context=0x1 window=null count=1 names=[\"a\"] comment=\"gone\" flags=0 "
     "options=0x0"},
    {"DiffNullName",
     [](const Library &l) { l.fn<SccDiffFn>("SccDiff")(ctx(1), nullptr, nullptr, 0, ctx(6)); },
     "SccDiff context=0x1 window=null name=null flags=0 options=0x6"},
    {"History",
     [](const Library &l) { l.fn<SccHistoryFn>("SccHistory")(ctx(1), nullptr, 1, kAB, 0, nullptr); },
     "SccHistory context=0x1 window=null count=1 names=[\"a\"] flags=0 options=0x0"},
    {"Properties",
     [](const Library &l) { l.fn<SccPropertiesFn>("SccProperties")(ctx(1), nullptr, "a"); },
     "SccProperties context=0x1 window=null name=\"a\""},
    {"QueryInfoNullArrays",
     [](const Library &l) { l.fn<SccQueryInfoFn>("SccQueryInfo")(ctx(1), 2, nullptr, nullptr); },
     "SccQueryInfo context=0x1 count=2 names=null status=null"},
    {"RunScc",
     [](const Library &l) { l.fn<SccRunSccFn>("SccRunScc")(ctx(1), nullptr, 2, kAB); },
     "SccRunScc context=0x1 window=null count=2 names=[\"a\",\"b\"]"},
    {"GetCommandOptionsSlotValue",
     [](const Library &l) {
         SCCCMDOPTS slot = ctx(0xbeef);
         l.fn<SccGetCommandOptionsFn>("SccGetCommandOptions")(ctx(1), nullptr, SCC_COMMAND_HISTORY,
                                                              &slot);
     },
     "SccGetCommandOptions context=0x1 window=null command=7 options=0xbeef"},
    {"PopulateListNullCallback",
     [](const Library &l) {
         l.fn<SccPopulateListFn>("SccPopulateList")(ctx(1), SCC_COMMAND_GET, -1, kAB, nullptr,
                                                    nullptr, nullptr, 0);
     },
     "SccPopulateList context=0x1 command=0 count=-1 names=[] populate=null callerdata=null "
     "status=null flags=0"},
};

class LogLineTest : public ProviderFixture, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogLineTest, MatchesTheDocumentedFormat) {
    // Callbacks are available to the script but must not be triggered.
    script("populate 1 never\nmessage * 1 never\n");
    GetParam().call(lib());
    EXPECT_EQ(log(), std::string(GetParam().line) + "\n");
}

INSTANTIATE_TEST_SUITE_P(EveryEntryPoint, LogLineTest, ::testing::ValuesIn(kLogCases),
                         [](const ::testing::TestParamInfo<LogCase> &info) {
                             return std::string(info.param.name);
                         });

// --- Result codes ------------------------------------------------------------

struct ResultCase {
    const char *name;
    const char *script;
    bool version;  // call SccGetVersion, otherwise SccGet
    long expected;
};

const ResultCase kResultCases[] = {
    {"DefaultCode", "", false, 0},
    {"EveryEntryPoint", "return * -15\n", false, -15},
    {"NamedWinsOverStarBefore", "return SccGet 3\nreturn * -15\n", false, 3},
    {"NamedWinsOverStarAfter", "return * -15\nreturn SccGet 3\nreturn SccGet 4\n", false, 4},
    {"OtherEntryPointIgnored", "return SccCheckout 5\n", false, 0},
    {"HexWrapsTo32Bits", "return SccGet 0xffffffff\n", false, -1},
    {"PositiveCode", "return SccGet 6\n", false, 6},
    {"CrLfLines", "# comment\r\n\r\nreturn SccGet 2\r\n", false, 2},
    {"DefaultVersion", "", true, 0x00010002},
    {"Version", "version 0x20001\n", true, 0x20001},
    {"StarDoesNotSetVersion", "return * 5\n", true, 0x00010002},
    {"ReturnSetsVersion", "return SccGetVersion 9\n", true, 9},
    {"VersionWinsOverReturn", "version 7\nreturn SccGetVersion 9\n", true, 7},
};

class ResultTest : public ProviderFixture, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(ResultTest, ReturnsTheScriptedCode) {
    script(GetParam().script);
    long got = GetParam().version
                   ? lib().fn<SccGetVersionFn>("SccGetVersion")()
                   : lib().fn<SccGetFn>("SccGet")(nullptr, nullptr, 0, nullptr, 0, nullptr);
    EXPECT_EQ(got, GetParam().expected) << "script:\n" << GetParam().script;
}

INSTANTIATE_TEST_SUITE_P(Scripts, ResultTest, ::testing::ValuesIn(kResultCases),
                         [](const ::testing::TestParamInfo<ResultCase> &info) {
                             return std::string(info.param.name);
                         });

// --- TEXT escapes ------------------------------------------------------------

struct EscapeCase {
    const char *name;
    std::string scriptText;  // after "init.name "
    std::string bytes;       // expected in sccName, terminator included
};

const EscapeCase kEscapeCases[] = {
    {"Plain", "Name with  spaces ", bytes("Name with  spaces \0")},
    {"Named", "a\\\\b\\tc\\nd\\re", bytes("a\\b\tc\nd\re\0")},
    {"Hex", "\\x41\\x7f\\xFF\\x00z", bytes("A\x7f\xff\0z\0")},
    {"UnknownKeptAsWritten", "\\q\\x4\\xzz\\", bytes("\\q\\x4\\xzz\\\0")},
    {"Empty", "", bytes("\0")},
};

class EscapeTest : public ProviderFixture, public ::testing::WithParamInterface<EscapeCase> {};

TEST_P(EscapeTest, CopiesTheResolvedBytes) {
    script("init.name " + GetParam().scriptText + "\n");
    InitOutputs out;
    ASSERT_EQ(out.call(lib()), 0);
    const std::string &want = GetParam().bytes;
    EXPECT_EQ(std::string(out.name, want.size()), want);
    EXPECT_EQ(out.name[want.size()], '~') << "more bytes copied than the text holds";
}

INSTANTIATE_TEST_SUITE_P(Texts, EscapeTest, ::testing::ValuesIn(kEscapeCases),
                         [](const ::testing::TestParamInfo<EscapeCase> &info) {
                             return std::string(info.param.name);
                         });

// --- Malformed scripts act as empty ones ----------------------------------

struct MalformedCase {
    const char *name;
    std::string script;
};

const MalformedCase kMalformedCases[] = {
    {"MissingNumber", "return SccGet\nversion\ninit.caps\n"},
    {"BadNumbers", "return SccGet x12\nversion 0x\ninit.caps 12abc\ninit.context --1\n"},
    {"Overflow", "version 99999999999999999999\nreturn SccGet 0x10000000000000000\n"},
    {"DoubleSpaces", "return  SccGet 1\nreturn SccGet  1\nversion  3\n"},
    {"TrailingWords", "return SccGet 1 2\nversion 3 4\ninit.nowrite x\n"},
    {"UnknownDirectives", "retrun SccGet 1\nRETURN SccGet 1\n init.nowrite\n"},
    {"EmptyEntry", "return  1\nstatus\npopulate\nmessage SccGet\noptions.store\n"},
    {"Binary", bytes("\0\x01\xff\\\n\0return SccGet 1\n\\x")},
    {"LongLine", "init.name " + std::string(1 << 20, 'x') + "\x01 1\nreturn SccGet"},
};

class MalformedTest : public ProviderFixture, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedTest, BehavesAsAnEmptyScript) {
    script(GetParam().script);
    InitOutputs out;
    const bool longName = std::string(GetParam().name) == "LongLine";
    if (longName) {  // the name line itself is well formed: give it room
        std::vector<char> bigName((1 << 20) + 64, '~');
        auto init = lib().fn<SccInitializeFn>("SccInitialize");
        EXPECT_EQ(init(&out.context, nullptr, kCaller, bigName.data(), &out.caps, out.aux,
                       &out.checkoutLen, &out.commentLen),
                  0);
        EXPECT_EQ(std::strlen(bigName.data()), (1u << 20) + 3);
    } else {
        EXPECT_EQ(out.call(lib()), 0);
        EXPECT_STREQ(out.name, "Test Provider");
    }
    EXPECT_EQ(out.context, ctx(0x5cc0c0de));
    EXPECT_EQ(out.caps, 0);
    EXPECT_EQ(lib().fn<SccGetFn>("SccGet")(nullptr, nullptr, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(lib().fn<SccGetVersionFn>("SccGetVersion")(), 0x00010002);
}

INSTANTIATE_TEST_SUITE_P(Scripts, MalformedTest, ::testing::ValuesIn(kMalformedCases),
                         [](const ::testing::TestParamInfo<MalformedCase> &info) {
                             return std::string(info.param.name);
                         });

// --- Exports of the three variants -------------------------------------------

struct VariantCase {
    const char *library;
    std::vector<std::string> exported;
};

const VariantCase kVariantCases[] = {
    {"testprovider", std::vector<std::string>(std::begin(kAllEntryPoints), std::end(kAllEntryPoints))},
    {"testprovider_initonly", {"SccInitialize", "SccUninitialize"}},
    {"testprovider_uninit", {"SccUninitialize"}},
};

class VariantTest : public ::testing::TestWithParam<VariantCase> {};

TEST_P(VariantTest, ExportsExactlyItsEntryPoints) {
    Library lib(providerPath(GetParam().library));
    ASSERT_TRUE(lib.loaded()) << providerPath(GetParam().library) << ": " << lib.error();
    std::vector<std::string> found;
    for (const char *name : kAllEntryPoints) {
        if (lib.has(name)) {
            found.push_back(name);
        }
    }
    EXPECT_EQ(found, GetParam().exported);
}

INSTANTIATE_TEST_SUITE_P(Libraries, VariantTest, ::testing::ValuesIn(kVariantCases),
                         [](const ::testing::TestParamInfo<VariantCase> &info) {
                             return std::string(info.param.library);
                         });

// --- Fatal directives ------------------------------------------------------------

#if GTEST_HAS_DEATH_TEST
using ProviderDeathTest = ProviderFixture;

void callGet(const Library &lib) {
    lib.fn<SccGetFn>("SccGet")(nullptr, nullptr, 0, nullptr, 0, nullptr);
}

const char kGetLine[] = "SccGet context=0x0 window=null count=0 names=null flags=0 options=0x0\n";

TEST_F(ProviderDeathTest, ExitEndsTheProcessWithTheCodeAfterLogging) {
    script("exit SccCheckout 9\nexit SccGet 7\n");
    EXPECT_EXIT(callGet(lib()), ::testing::ExitedWithCode(7), "");
    EXPECT_EQ(log(), kGetLine);
}

TEST_F(ProviderDeathTest, AbortEndsTheProcessAfterLogging) {
    script("abort *\n");
#ifdef _WIN32
    EXPECT_EXIT(callGet(lib()), ::testing::ExitedWithCode(3), "");
#else
    EXPECT_EXIT(callGet(lib()), ::testing::KilledBySignal(SIGABRT), "");
#endif
    EXPECT_EQ(log(), kGetLine);
}

TEST_F(ProviderDeathTest, CrashEndsTheProcessAfterLogging) {
    script("crash SccGet\n");
#if defined(_WIN32)
    EXPECT_EXIT(callGet(lib()), ::testing::ExitedWithCode(static_cast<int>(0xC0000005u)), "");
#elif defined(OSKEL_SELFTEST_ASAN)
    // AddressSanitizer reports the fault and ends the process with code 1.
    EXPECT_EXIT(callGet(lib()), ::testing::ExitedWithCode(1), "SEGV");
#else
    EXPECT_EXIT(callGet(lib()), ::testing::KilledBySignal(SIGSEGV), "");
#endif
    EXPECT_EQ(log(), kGetLine);
}
#endif

}  // namespace
