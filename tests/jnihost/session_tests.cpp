// Whole sessions through the natives as a JVM calls them, without a JVM: the
// library is loaded and its natives found by their JNI names (vm.h). On Linux
// this runs against liboskelsccih.so, on Windows (under wine) against
// oskelsccih.dll, whose natives no JVM here can run. Each session runs with
// the provider loaded in-process and in a provider host process, in whatever
// locale the run gives (UTF-8, ISO-8859-1, code page 1252): names with
// characters of that locale, and ones outside it, go both ways.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <direct.h>
#else
#include <langinfo.h>
#include <sys/stat.h>
#endif

#include "oskelsccih/scc_api.h"
#include "provider_harness.h"
#include "vm.h"

namespace oskel::jnihost {
namespace {

using coretest::envOr;
using coretest::kSep;
using coretest::regQuote;
using Bytes = std::optional<std::string>;

constexpr jlong kNonspecific = SCC_E_NONSPECIFICERROR;
constexpr const char *kName = "JNI Test Provider";
constexpr const char *kLocalstoreKey = "Software\\OskelTest\\JniLocalstore";

std::string libraryPath()
{
#if defined(_WIN32)
    // The DLL and its host program lie in the build's src folder, beside providers.
    // OSKEL_JNIHOST_LIBRARY names another copy: the x64 library with the x86
    // build's providers, each of which must then run in the x86 host beside it.
    return envOr("OSKEL_JNIHOST_LIBRARY",
                 envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR) + "\\..\\src\\oskelsccih.dll");
#else
    return OSKEL_DEFAULT_LIBRARY;
#endif
}

// The C locale's encoding, once _initialize has set it.
enum class Encoding { Utf8, Latin1, Cp1252, Other };

Encoding currentEncoding()
{
#if defined(_WIN32)
    std::string name = std::setlocale(LC_CTYPE, nullptr);
    std::string page = name.substr(name.rfind('.') + 1);
    return page == "1252" ? Encoding::Cp1252 : page == "65001" || page == "utf8" ? Encoding::Utf8 : Encoding::Other;
#else
    std::string set = nl_langinfo(CODESET);
    return set == "UTF-8" ? Encoding::Utf8 : set == "ISO-8859-1" ? Encoding::Latin1 : Encoding::Other;
#endif
}

// A text with its bytes in each encoding; nullopt where it has none.
struct Sample {
    const char *utf8;
    Bytes latin1, cp1252;
    Bytes in(Encoding e) const
    {
        switch (e) {
        case Encoding::Utf8: return std::string(utf8);
        case Encoding::Latin1: return latin1;
        case Encoding::Cp1252: return cp1252;
        case Encoding::Other: break;
        }
        return std::nullopt;
    }
};

const Sample kAscii{"plain.txt", "plain.txt", "plain.txt"};
const Sample kLatin{"caf\xc3\xa9.txt", "caf\xe9.txt", "caf\xe9.txt"};              // é
const Sample kEuro{"\xe2\x82\xac 5.txt", std::nullopt, "\x80 5.txt"};               // € (only cp1252 of the 8-bit ones)
const Sample kHan{"\xe4\xb8\xad.txt", std::nullopt, std::nullopt};                   // 中
const Sample kEmoji{"\xf0\x9f\x98\x80.txt", std::nullopt, std::nullopt};            // a surrogate pair in Java

// How the test provider's call log writes a text.
std::string logged(const Bytes &bytes)
{
    if (!bytes) return "null";
    std::string out = "\"";
    for (unsigned char c : *bytes) {
        char hex[8];
        if (c < 0x20 || c >= 0x7f) {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            if (c == '\\' || c == '"') out += '\\';
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The script's escape for any bytes.
std::string scripted(const std::string &bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += hex;
    }
    return out;
}

struct Hosting {
    const char *name;
    const char *extra; // registry values of the provider key
};
const Hosting kHostings[] = {{"InProcess", ""}, {"Hosted", "\"SCCHostProcess\"=\"1\"\r\n"}};

class JniSession : public coretest::ProviderTest, public ::testing::WithParamInterface<Hosting> {
protected:
    // One VM for the process, as with Java: the library may keep global references.
    static Vm &sharedVm()
    {
        static Vm *vm = new Vm;
        return *vm;
    }
    void SetUp() override
    {
        ProviderTest::SetUp();
        static bool loaded = vm.load(libraryPath());
        ASSERT_TRUE(loaded) << vm.error();
        problemsBefore = vm.problems().size();
    }
    void TearDown() override
    {
        std::vector<std::string> problems(vm.problems().begin() + static_cast<long>(problemsBefore), vm.problems().end());
        EXPECT_EQ(std::vector<std::string>(), problems) << "JNI misuse the VM noticed";
        ProviderTest::TearDown();
    }
    void installProviders(const std::string &key, const std::string &library)
    {
        std::string extra = GetParam().extra;
        extra += "\r\n[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider\\InstalledSCCProviders]\r\n\"" +
                 std::string(kName) + "\"=\"" + regQuote(key) + "\"\r\n";
        if (key != coretest::kTestKey)
            extra += "\r\n[HKEY_LOCAL_MACHINE\\" + key + "]\r\n\"SCCServerPath\"=\"" +
                     regQuote(coretest::providerPath(library)) + "\"\r\n" + GetParam().extra;
        registerProvider("testprovider", extra);
    }
    jlong connect(const std::string &key)
    {
        jlong handle = vm.initialize(vm.string(key));
        encoding = currentEncoding();
        static bool shown = false;
        if (!shown) {
            shown = true;
            std::printf("locale of the run: %s\n", std::setlocale(LC_CTYPE, nullptr));
        }
        return handle;
    }
    Strings errList(jlong handle) { return vm.strings(vm.getErrList(handle)).value_or(Strings{{"(null list)"}}); }

    Vm &vm = sharedVm();
    size_t problemsBefore = 0;
    Encoding encoding = Encoding::Other;
};

TEST_P(JniSession, TestProviderSession)
{
    installProviders(coretest::kTestKey, "testprovider");
    EXPECT_EQ(Strings{{kName}}, vm.strings(vm.getProviders()));
    EXPECT_EQ(std::string(coretest::kTestKey), vm.text(vm.getProviderKey(vm.string(kName))));

    script("init.name Caf\\xc3\\xa9 Provider\ninit.caps 0x1234\nversion 0x00020003\n");
    const jlong h = connect(coretest::kTestKey);
    ASSERT_NE(0, h);
    ASSERT_NE(Encoding::Other, encoding) << "run in a UTF-8, ISO-8859-1 or code page 1252 locale";
    // The provider's name crosses as modified UTF-8, untouched by the locale.
    EXPECT_EQ(std::string("Caf\xc3\xa9 Provider"), vm.text(vm.getSCCName(h)));
    EXPECT_EQ(0x1234, vm.getCapabilities(h));
    EXPECT_EQ(0x00020003, vm.getVersion(h));
    vm.setTracing(h, 4, vm.string(tracePath));
    calls();

    const Sample samples[] = {kAscii, kLatin, kEuro, kHan, kEmoji};
    Strings names;
    std::string loggedNames;
    for (const Sample &s : samples) {
        names.push_back(std::string(s.utf8));
        loggedNames += (loggedNames.empty() ? "" : ",") + logged(s.in(encoding));
    }
    names.push_back(std::nullopt);
    loggedNames += ",null";
    Object *files = vm.stringArray(names);
    const Bytes comment = kLatin.in(encoding);

    // Messages and names from the provider, in the locale's bytes.
    std::string lines;
    for (const Sample &s : samples)
        if (s.in(encoding)) lines += "message SccCheckout 2 " + scripted(*s.in(encoding)) + "\n";
    lines += "populate 1 " + scripted(*kLatin.in(encoding)) + "\npopulate 0 " + scripted(*kAscii.in(encoding)) + "\n";
    lines += "status * 0x1001\nstatus 1 7\n";
    script(lines);

    // The project: the descriptor's getters feed the provider, its setters get the answers.
    Descriptor project;
    project.user = "jane";
    project.projectName = kLatin.utf8;
    project.localPath = "work";
    project.auxProjPath = "";
    script(lines + "openproject.user " + scripted(*kLatin.in(encoding)) + "\nmessage SccOpenProject 1 opened\n");
    EXPECT_EQ(0, vm.openProject(h, vm.descriptor(project)));
    EXPECT_EQ("", vm.thrown());
    EXPECT_EQ(std::optional<std::string>(kLatin.utf8), project.user);
    EXPECT_EQ(std::optional<std::string>(kLatin.utf8), project.projectName);
    EXPECT_EQ(Strings{{"1 opened"}}, errList(h));
    script(lines);
    calls();

    EXPECT_EQ(0, vm.checkout(h, 6, files, vm.string(comment ? kLatin.utf8 : "c")));
    Strings expectedMessages;
    for (const Sample &s : samples)
        if (s.in(encoding)) expectedMessages.push_back("2 " + std::string(s.utf8));
    EXPECT_EQ(expectedMessages, errList(h));
    EXPECT_EQ(0, vm.getFiles(h, 2, files));
    // A count beyond the array reaches no provider.
    EXPECT_EQ(kNonspecific, vm.getFiles(h, 7, files));
    EXPECT_EQ(std::optional<std::vector<int>>({0x1001, 7, 0x1001}), vm.ints(vm.queryInfo(h, 3, files)));
    EXPECT_EQ(0, vm.populateList(h, 0, 2, files));
    EXPECT_EQ(Strings{{kLatin.utf8}}, vm.strings(vm.getPopulateList(h, 1)));
    EXPECT_EQ(Strings{{kAscii.utf8}}, vm.strings(vm.getPopulateList(h, 0)));
    EXPECT_EQ(0, vm.diff(h, vm.string(kEuro.utf8)));

    std::vector<std::string> log = calls();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ("SccCheckout context=0x5cc0c0de window=null count=6 names=[" + loggedNames + "] comment=" +
                  logged(comment ? comment : Bytes("c")) + " flags=0 options=0x0",
              log[0]);
    std::string second = log.size() > expectedMessages.size() + 1 ? log[expectedMessages.size() + 1] : "";
    EXPECT_EQ("SccGet context=0x5cc0c0de window=null count=2 names=[" + logged(kAscii.in(encoding)) + "," +
                  logged(kLatin.in(encoding)) + "] flags=0 options=0x0",
              second);
    EXPECT_EQ("SccDiff context=0x5cc0c0de window=null name=" + logged(kEuro.in(encoding)) + " flags=0 options=0x0",
              log.back());

    EXPECT_EQ(0, vm.closeProject(h));
    EXPECT_EQ(0, vm.uninitialize(h));
    std::string trace = coretest::readFile(tracePath);
    EXPECT_NE(std::string::npos, trace.find("-->checking out")) << trace;
}

// Long lists are read and built in runs of local references: every name of
// several runs reaches the provider in its place (null where the element is
// null or the locale lacks a character), and every name the provider reports
// comes back in order.
TEST_P(JniSession, LongNameListsArriveWhole)
{
    // The natives are the same either way; a host started by an earlier test
    // keeps that test's script and log.
    if (std::string(GetParam().name) == "Hosted")
        GTEST_SKIP() << "the in-process run covers the natives";
    installProviders(coretest::kTestKey, "testprovider");
    const jlong h = connect(coretest::kTestKey);
    ASSERT_NE(0, h);
    const Sample samples[] = {kAscii, kLatin, kEuro, kHan, kEmoji};
    Strings names;
    std::string loggedNames, lines;
    Strings reported;
    for (int i = 0; i < 600; ++i) {
        const Sample &s = samples[i % 5];
        const std::string prefix = std::to_string(i) + "-";
        const Bytes bytes = s.in(encoding);
        const bool null = i % 7 == 3;
        names.push_back(null ? std::nullopt : std::optional<std::string>(prefix + s.utf8));
        loggedNames += (i ? "," : "") + logged(null || !bytes ? Bytes() : Bytes(prefix + *bytes));
        if (i < 300 && bytes) {
            lines += "populate 1 " + scripted(prefix + *bytes) + "\n";
            reported.push_back(prefix + s.utf8);
        }
    }
    script(lines);
    calls();
    Object *files = vm.stringArray(names);
    EXPECT_EQ(0, vm.checkout(h, 600, files, vm.string("c")));
    EXPECT_EQ(0, vm.populateList(h, 0, 1, files));
    EXPECT_EQ(reported, vm.strings(vm.getPopulateList(h, 1)));
    std::vector<std::string> log = calls();
    ASSERT_GE(log.size(), 1u);
    EXPECT_EQ("SccCheckout context=0x5cc0c0de window=null count=600 names=[" + loggedNames +
                  "] comment=\"c\" flags=0 options=0x0",
              log[0]);
    EXPECT_EQ(0, vm.uninitialize(h));
}

TEST_P(JniSession, DescriptorExceptionsAreThrownWhenTheNativeReturns)
{
    installProviders(coretest::kTestKey, "testprovider");
    const jlong h = connect(coretest::kTestKey);
    ASSERT_NE(0, h);
    struct Case {
        const char *what;
        std::set<std::string> missing, throwing;
        const char *thrown;
    } cases[] = {
        {"a missing getter", {"getAuxProjPath"}, {}, "java/lang/NoSuchMethodError: getAuxProjPath"},
        {"a missing setter", {"setUser"}, {}, "java/lang/NoSuchMethodError: setUser"},
        {"a throwing getter", {}, {"getUser"}, "java/lang/RuntimeException: getUser"},
        {"the first of two", {"getProjectName"}, {"setLocalPath"}, "java/lang/NoSuchMethodError: getProjectName"},
    };
    for (const Case &c : cases) {
        Descriptor d;
        d.user = "u", d.projectName = "p", d.localPath = "l", d.auxProjPath = "a";
        d.missing = c.missing;
        d.throwing = c.throwing;
        vm.openProject(h, vm.descriptor(d));
        EXPECT_EQ(c.thrown, vm.thrown()) << c.what;
        vm.closeProject(h);
    }
    EXPECT_EQ(0, vm.uninitialize(h));
}

TEST_P(JniSession, HandlesNoInitializeReturnedAreNeverUsed)
{
    installProviders(coretest::kTestKey, "testprovider");
    Object *files = vm.stringArray({std::string("a")});
    for (jlong forged : {jlong(0), jlong(1), jlong(0x7fff0000), jlong(-8)}) {
        EXPECT_EQ(kNonspecific, vm.getFiles(forged, 1, files)) << forged;
        EXPECT_EQ(std::nullopt, vm.text(vm.getSCCName(forged))) << forged;
        EXPECT_EQ(std::nullopt, vm.ints(vm.queryInfo(forged, 1, files))) << forged;
        EXPECT_EQ(std::nullopt, vm.strings(vm.getPopulateList(forged, 1))) << forged;
        vm.setTracing(forged, 4, vm.string(tracePath));
    }
    EXPECT_EQ(0, vm.initialize(vm.string("Software\\OskelTest\\NoSuchKey")));
}

bool makeFolder(const std::string &path)
{
#if defined(_WIN32)
    return _mkdir(path.c_str()) == 0;
#else
    return mkdir(path.c_str(), 0777) == 0;
#endif
}

TEST_P(JniSession, LocalstoreSession)
{
    installProviders(kLocalstoreKey, "localstore");
    // The working folder's name is the locale's own text.
    const jlong h = connect(kLocalstoreKey);
    ASSERT_NE(0, h);
    const std::string work = coretest::tempDir() + kSep + "jnihost-" + std::to_string(processId()) + "-" +
                             GetParam().name + "-" + *kLatin.in(encoding);
    ASSERT_TRUE(makeFolder(work)) << work;
    const Sample names[] = {kAscii, kLatin, kEuro};
    Strings files;
    for (const Sample &s : names)
        if (s.in(encoding)) {
            coretest::writeFile(work + kSep + *s.in(encoding), std::string("one of ") + s.utf8 + "\n");
            files.push_back(std::string(s.utf8));
        }
    const auto n = static_cast<jlong>(files.size());
    Object *all = vm.stringArray(files);
    Object *first = vm.stringArray({files[0]});
    const std::string workUtf8 = work.substr(0, work.size() - kLatin.in(encoding)->size()) + kLatin.utf8;

    Descriptor project;
    project.user = "jane", project.projectName = "", project.localPath = workUtf8, project.auxProjPath = "";
    project.reGetLocalPath = workUtf8;
    EXPECT_EQ(0, vm.getProjPath(h, vm.descriptor(project), false, true));
    EXPECT_EQ(0, vm.openProject(h, vm.descriptor(project))) << ::testing::PrintToString(errList(h));
    EXPECT_EQ("", vm.thrown());
    errList(h);

    EXPECT_EQ(0, vm.add(h, n, all, vm.string("first " + std::string(kLatin.utf8)))) << ::testing::PrintToString(errList(h));
    EXPECT_EQ(std::optional<std::vector<int>>(std::vector<int>(files.size(), SCC_STATUS_CONTROLLED)),
              vm.ints(vm.queryInfo(h, n, all)));
    EXPECT_EQ(0, vm.checkout(h, 1, first, vm.string("edit")));
    EXPECT_EQ(std::optional<std::vector<int>>(std::vector<int>{SCC_STATUS_CONTROLLED | SCC_STATUS_CHECKEDOUT | SCC_STATUS_OUTBYUSER | SCC_STATUS_OUTEXCLUSIVE}),
              vm.ints(vm.queryInfo(h, 1, first)));
    coretest::writeFile(work + kSep + *kAscii.in(encoding), "changed\n");
    EXPECT_EQ(SCC_I_FILEDIFFERS, vm.diff(h, vm.string(files[0].value())));
    errList(h);
    EXPECT_EQ(0, vm.checkin(h, 1, first, vm.string("second")));
    EXPECT_EQ(SCC_E_NOTCHECKEDOUT, vm.uncheckout(h, 1, first));
    errList(h);
    EXPECT_EQ(0, vm.history(h, 1, first));
    Strings history = errList(h);
    ASSERT_FALSE(history.empty());
    EXPECT_NE(std::string::npos, history[0].value_or("").find("(2 versions)")) << ::testing::PrintToString(history);
    EXPECT_EQ(0, vm.populateList(h, 0, n, all));
    EXPECT_EQ(vm.strings(all), vm.strings(vm.getPopulateList(h, 1)));
    EXPECT_EQ(0, vm.remove(h, 1, first, vm.string("gone")));
    EXPECT_EQ(0, vm.closeProject(h));
    EXPECT_EQ(0, vm.uninitialize(h));
}

INSTANTIATE_TEST_SUITE_P(Hosting, JniSession, ::testing::ValuesIn(kHostings),
                         [](const ::testing::TestParamInfo<Hosting> &info) { return std::string(info.param.name); });

} // namespace
} // namespace oskel::jnihost
