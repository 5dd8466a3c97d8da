// RegistryKey through the platform layer of the build: the .reg-backed
// registry on POSIX, the real registry (filled by regedit) on Windows. The
// same rows run on both.
#include "platform/platform.h"
#include "support/registry_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <stdlib.h>
#include <unistd.h>
#endif

namespace oskel::platform {
namespace {

using testsupport::RegistryFixture;
using testsupport::toUtf16leFile;

const std::string k259(259, 'n');
const std::string k260(260, 'n');

// Value names are in alphabetical order within each key: the Windows registry
// (and wine's) may enumerate values sorted rather than in file order.
const std::string kRegistry = "Windows Registry Editor Version 5.00\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Read]\r\n"
                              "@=\"default text\"\r\n"
                              "\"Binary\"=hex:41,42,43\r\n"
                              "\"Dword\"=dword:00434241\r\n"
                              "\"Empty\"=\"\"\r\n"
                              "\"Expand\"=hex(2):41,42,00\r\n"
                              "\"Len259\"=\"" + std::string(259, 'x') + "\"\r\n"
                              "\"Len260\"=\"" + std::string(260, 'x') + "\"\r\n"
                              "\"Plain\"=\"C:\\\\Providers\\\\scc.dll\"\r\n"
                              "\"Quote\"=\"say \\\"hi\\\"\"\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Gone]\r\n"
                              "\"A\"=\"1\"\r\n"
                              "\r\n"
                              "[-HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Gone]\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\NoValues]\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Parent\\Child]\r\n"
                              "\"A\"=\"1\"\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\List]\r\n"
                              "\"Alpha\"=\"1\"\r\n"
                              "\"Beta\"=\"2\"\r\n"
                              "\"Delta\"=\"4\"\r\n"
                              "\"Gamma\"=\"3\"\r\n"
                              "\"BETA\"=\"5\"\r\n"
                              "\"Delta\"=-\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Names259]\r\n"
                              "\"" + k259 + "\"=\"1\"\r\n"
                              "\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Names260]\r\n"
                              "\"" + k260 + "\"=\"1\"\r\n";

// One registry for every test of a suite: on Windows each install runs regedit.
class RegistryTest {
protected:
    static void install(const std::string &content)
    {
        fixture_ = std::make_unique<RegistryFixture>(content);
        ASSERT_TRUE(fixture_->ok()) << fixture_->error();
    }
    static void uninstall() { fixture_.reset(); }
    static std::unique_ptr<RegistryFixture> fixture_;
};
std::unique_ptr<RegistryFixture> RegistryTest::fixture_;

const char *const kFail = "<fail>";

std::string readValue(const char *key, const char *name, uint32_t capacity)
{
    RegistryKey opened = RegistryKey::open(key);
    if (!opened.isOpen()) return "<not open>";
    std::vector<char> buffer(capacity + 1, '#');
    if (!opened.readText(name, buffer.data(), capacity)) return kFail;
    if (buffer[capacity] != '#') return "<wrote past capacity>";
    return std::string(buffer.data());
}

struct ReadCase {
    const char *name;
    const char *key;
    const char *value; // null: the default value
    uint32_t capacity;
    std::string expected; // the text read, or kFail
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

class RegistryRead : public RegistryTest, public testing::TestWithParam<ReadCase> {
protected:
    static void SetUpTestSuite() { install(kRegistry); }
    static void TearDownTestSuite() { uninstall(); }
};

TEST_P(RegistryRead, ReadsTextWithinCapacity)
{
    const ReadCase &c = GetParam();
    EXPECT_EQ(c.expected, readValue(c.key, c.value, c.capacity))
        << "value " << (c.value ? c.value : "(default)") << " of " << c.key << " with capacity " << c.capacity;
}

const char *const kRead = "Software\\OskelTest\\Read";

INSTANTIATE_TEST_SUITE_P(
    Values, RegistryRead,
    testing::Values(
        ReadCase{"Plain", kRead, "Plain", 260, "C:\\Providers\\scc.dll"},
        ReadCase{"NameAnyCase", kRead, "pLAIN", 260, "C:\\Providers\\scc.dll"},
        ReadCase{"KeyAnyCase", "SOFTWARE\\oskeltest\\rEAD", "Plain", 260, "C:\\Providers\\scc.dll"},
        ReadCase{"ExactFit", kRead, "Plain", 21, "C:\\Providers\\scc.dll"},
        ReadCase{"NoRoomForTerminator", kRead, "Plain", 20, kFail},
        ReadCase{"FarTooSmall", kRead, "Plain", 4, kFail},
        ReadCase{"Escapes", kRead, "Quote", 260, "say \"hi\""},
        ReadCase{"DefaultByNull", kRead, nullptr, 260, "default text"},
        ReadCase{"DefaultByEmptyName", kRead, "", 260, "default text"},
        ReadCase{"Missing", kRead, "Absent", 260, kFail},
        ReadCase{"Empty", kRead, "Empty", 1, ""},
        ReadCase{"EmptyInNoSpace", kRead, "Empty", 0, kFail},
        ReadCase{"Len259InBuffer260", kRead, "Len259", 260, std::string(259, 'x')},
        ReadCase{"Len260InBuffer260", kRead, "Len260", 260, kFail},
        ReadCase{"DwordAsBytes", kRead, "Dword", 260, "ABC"},
        ReadCase{"DwordEndingInZeroFitsFour", kRead, "Dword", 4, "ABC"},
        ReadCase{"DwordInThree", kRead, "Dword", 3, kFail},
        ReadCase{"BinaryGetsTerminator", kRead, "Binary", 4, "ABC"},
        ReadCase{"BinaryWithoutRoomForTerminator", kRead, "Binary", 3, kFail},
        ReadCase{"ExpandStringAsText", kRead, "Expand", 260, "AB"},
        ReadCase{"ExpandStringExactFit", kRead, "Expand", 3, "AB"}),
    [](const testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

struct KeyCase {
    const char *name;
    const char *key;
    int count; // values of the key, -1: the key must not open
};

void PrintTo(const KeyCase &c, std::ostream *os) { *os << c.name; }

class RegistryOpen : public RegistryTest, public testing::TestWithParam<KeyCase> {
protected:
    static void SetUpTestSuite() { install(kRegistry); }
    static void TearDownTestSuite() { uninstall(); }
};

TEST_P(RegistryOpen, OpensExistingKeysAndCountsValues)
{
    const KeyCase &c = GetParam();
    RegistryKey key = RegistryKey::open(c.key);
    uint32_t count = 0;
    int seen = !key.isOpen() ? -1 : key.valueCount(&count) ? static_cast<int>(count) : -2;
    EXPECT_EQ(c.count, seen) << c.key << " (-1: did not open, -2: no value count)";
}

INSTANTIATE_TEST_SUITE_P(
    Keys, RegistryOpen,
    testing::Values(KeyCase{"WithValues", kRead, 9}, KeyCase{"AnyCase", "software\\OSKELTEST\\read", 9},
                    KeyCase{"Missing", "Software\\OskelTest\\Absent", -1},
                    KeyCase{"Deleted", "Software\\OskelTest\\Gone", -1},
                    KeyCase{"WithoutValues", "Software\\OskelTest\\NoValues", 0},
                    KeyCase{"ParentOfKey", "Software\\OskelTest\\Parent", 0},
                    KeyCase{"DuplicatesAndDeletion", "Software\\OskelTest\\List", 3},
                    KeyCase{"BelowAValue", "Software\\OskelTest\\Read\\Plain", -1},
                    KeyCase{"TrailingBackslash", "Software\\OskelTest\\Read\\", 9},
                    KeyCase{"LeadingBackslash", "\\Software\\OskelTest\\Read", -1},
                    KeyCase{"DoubledBackslash", "Software\\\\OskelTest\\Read", 9},
                    KeyCase{"Root", "", 0}),
    [](const testing::TestParamInfo<KeyCase> &info) { return std::string(info.param.name); });

struct NameCase {
    const char *name;
    const char *key;
    uint32_t index;
    uint32_t capacity;
    std::string expected; // the name, or kFail
};

void PrintTo(const NameCase &c, std::ostream *os) { *os << c.name; }

class RegistryValueName : public RegistryTest, public testing::TestWithParam<NameCase> {
protected:
    static void SetUpTestSuite() { install(kRegistry); }
    static void TearDownTestSuite() { uninstall(); }
};

TEST_P(RegistryValueName, EnumeratesNamesWithinCapacity)
{
    const NameCase &c = GetParam();
    RegistryKey key = RegistryKey::open(c.key);
    ASSERT_TRUE(key.isOpen()) << c.key;
    std::vector<char> buffer(c.capacity + 1, '#');
    std::string seen = key.valueName(c.index, buffer.data(), c.capacity) ? std::string(buffer.data()) : kFail;
    if (buffer[c.capacity] != '#') seen = "<wrote past capacity>";
    EXPECT_EQ(c.expected, seen) << "name " << c.index << " of " << c.key << " with capacity " << c.capacity;
}

const char *const kList = "Software\\OskelTest\\List";

INSTANTIATE_TEST_SUITE_P(
    Names, RegistryValueName,
    testing::Values(NameCase{"First", kList, 0, 260, "Alpha"},
                    NameCase{"DuplicateKeepsFirstSpelling", kList, 1, 260, "Beta"},
                    NameCase{"AfterDeletedValue", kList, 2, 260, "Gamma"},
                    NameCase{"PastTheEnd", kList, 3, 260, kFail},
                    NameCase{"ExactFit", kList, 0, 6, "Alpha"},
                    NameCase{"NoRoomForTerminator", kList, 0, 5, kFail},
                    NameCase{"ZeroCapacity", kList, 0, 0, kFail},
                    NameCase{"DefaultValueHasEmptyName", kRead, 0, 260, ""},
                    NameCase{"Name259InBuffer260", "Software\\OskelTest\\Names259", 0, 260, k259},
                    NameCase{"Name260InBuffer260", "Software\\OskelTest\\Names260", 0, 260, kFail}),
    [](const testing::TestParamInfo<NameCase> &info) { return std::string(info.param.name); });

TEST(RegistryKeyHandle, ClosedKeyReadsNothing)
{
    RegistryFixture fixture(kRegistry);
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    RegistryKey opened = RegistryKey::open(kRead);
    ASSERT_TRUE(opened.isOpen());
    RegistryKey moved(std::move(opened));
    RegistryKey assigned;
    assigned = RegistryKey::open(kList);
    assigned = std::move(moved); // closes the List key

    char buffer[260];
    uint32_t count = 0;
    RegistryKey never;
    for (RegistryKey *closed : {&never, &opened, &moved}) {
        EXPECT_FALSE(closed->isOpen());
        EXPECT_FALSE(closed->readText("Plain", buffer, sizeof buffer)) << "read from a closed key";
        EXPECT_FALSE(closed->valueCount(&count)) << "counted values of a closed key";
        EXPECT_FALSE(closed->valueName(0, buffer, sizeof buffer)) << "listed a name of a closed key";
    }
    ASSERT_TRUE(assigned.isOpen());
    EXPECT_TRUE(assigned.readText("Plain", buffer, sizeof buffer) && std::string(buffer) == "C:\\Providers\\scc.dll")
        << "the moved key does not read the Read key";
}

TEST(RegistryKeyHandle, NextOpenSeesEditedRegistry)
{
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Edit]\r\n";
    RegistryFixture fixture(head + "\"V\"=\"one\"\r\n");
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    EXPECT_EQ("one", readValue("Software\\OskelTest\\Edit", "V", 260));
    ASSERT_TRUE(fixture.install(head + "\"V\"=\"two\"\r\n")) << fixture.error();
    EXPECT_EQ("two", readValue("Software\\OskelTest\\Edit", "V", 260)) << "the edit was not seen";
    ASSERT_TRUE(fixture.install("Windows Registry Editor Version 5.00\r\n")) << fixture.error();
    EXPECT_FALSE(RegistryKey::open("Software\\OskelTest\\Edit").isOpen()) << "the removed key still opens";
}

TEST(RegistryKeyHandle, ReadsUtf16File)
{
    RegistryFixture fixture(toUtf16leFile("Windows Registry Editor Version 5.00\r\n\r\n"
                                          "[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Wide]\r\n"
                                          "\"Path\"=\"C:\\\\wide\\\\scc.dll\"\r\n"
                                          "\"Expand\"=hex(2):41,00,42,00,00,00\r\n"));
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    EXPECT_EQ("C:\\wide\\scc.dll", readValue("Software\\OskelTest\\Wide", "Path", 260));
    EXPECT_EQ("AB", readValue("Software\\OskelTest\\Wide", "Expand", 3)) << "UTF-16 string data in hex";
}

TEST(RegistryKeyHandle, ProviderTreeStartsClean)
{
    {
        RegistryFixture first("Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider]\r\n"
                              "\"ProviderRegKey\"=\"Software\\\\OskelTest\\\\P\"\r\n");
        ASSERT_TRUE(first.ok()) << first.error();
        EXPECT_EQ("Software\\OskelTest\\P", readValue("Software\\SourceCodeControlProvider", "ProviderRegKey", 260));
    }
    RegistryFixture second("Windows Registry Editor Version 5.00\r\n");
    ASSERT_TRUE(second.ok()) << second.error();
    EXPECT_FALSE(RegistryKey::open("Software\\SourceCodeControlProvider").isOpen())
        << "the previous fixture's provider key is still there";
}

TEST(RegistryKeyHandle, Latin1BytesPassThrough)
{
    RegistryFixture fixture("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Latin]\n\"Caf\xE9\"=\"\xE9t\xE9\"\n");
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    RegistryKey key = RegistryKey::open("Software\\OskelTest\\Latin");
    char buffer[260];
    ASSERT_TRUE(key.valueName(0, buffer, sizeof buffer));
    EXPECT_EQ("Caf\xE9", std::string(buffer)) << "value name bytes changed";
    EXPECT_EQ("\xE9t\xE9", readValue("Software\\OskelTest\\Latin", "Caf\xE9", 260)) << "value bytes changed";
}

#ifndef _WIN32

// The .reg-backed registry only.

std::string registryPath()
{
    const char *path = getenv("OSKELSCCIH_REGISTRY");
    return path ? path : "";
}

TEST(RegistryFile, OpenKeyKeepsItsSnapshot)
{
    const std::string head = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Snap]\n";
    RegistryFixture fixture(head + "\"V\"=\"before\"\n");
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    RegistryKey key = RegistryKey::open("Software\\OskelTest\\Snap");
    ASSERT_TRUE(fixture.install(head + "\"V\"=\"after\"\n\"W\"=\"new\"\n"));
    char buffer[260];
    uint32_t count = 0;
    ASSERT_TRUE(key.readText("V", buffer, sizeof buffer));
    EXPECT_EQ("before", std::string(buffer)) << "an open key saw a later edit";
    EXPECT_TRUE(key.valueCount(&count) && count == 1) << "an open key saw a value added later";
}

struct UnreadableCase {
    const char *name;
    void (*prepare)(const std::string &path); // makes OSKELSCCIH_REGISTRY unreadable
};

void PrintTo(const UnreadableCase &c, std::ostream *os) { *os << c.name; }

const std::string kValid = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\OskelTest\\Read]\n\"Plain\"=\"x\"\n";

class RegistryFileUnreadable : public testing::TestWithParam<UnreadableCase> {};

TEST_P(RegistryFileUnreadable, IsAnEmptyRegistry)
{
    RegistryFixture fixture(kValid);
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    ASSERT_TRUE(RegistryKey::open(kRead).isOpen()) << "the valid file did not work to begin with";
    GetParam().prepare(registryPath());
    EXPECT_FALSE(RegistryKey::open(kRead).isOpen()) << GetParam().name;
    EXPECT_TRUE(RegistryKey::open("").isOpen()) << "the root key must still open";
}

INSTANTIATE_TEST_SUITE_P(
    Files, RegistryFileUnreadable,
    testing::Values(
        UnreadableCase{"Missing", [](const std::string &path) { unlink(path.c_str()); }},
        UnreadableCase{"EmptyVariable", [](const std::string &) { setenv("OSKELSCCIH_REGISTRY", "", 1); }},
        UnreadableCase{"Directory",
                       [](const std::string &path) { setenv("OSKELSCCIH_REGISTRY", (path + "/..").c_str(), 1); }},
        UnreadableCase{"PathThroughAFile",
                       [](const std::string &path) { setenv("OSKELSCCIH_REGISTRY", (path + "/x").c_str(), 1); }},
        UnreadableCase{"LargerThan16MiB",
                       [](const std::string &path) {
                           std::FILE *file = std::fopen(path.c_str(), "ab");
                           std::string filler(1 << 20, ';');
                           filler.back() = '\n';
                           for (int i = 0; i < 17 && file; ++i) std::fwrite(filler.data(), 1, filler.size(), file);
                           if (file) std::fclose(file);
                       }}),
    [](const testing::TestParamInfo<UnreadableCase> &info) { return std::string(info.param.name); });

TEST(RegistryFile, FileJustUnder16MiBIsRead)
{
    std::string content = kValid;
    std::string filler(1 << 20, ';');
    filler.back() = '\n';
    while (content.size() + filler.size() < (16u << 20)) content += filler;
    RegistryFixture fixture(content);
    ASSERT_TRUE(fixture.ok()) << fixture.error();
    EXPECT_EQ("x", readValue(kRead, "Plain", 260)) << "a " << content.size() << "-byte file was not read";
}

#endif

} // namespace
} // namespace oskel::platform
