// Paths from Unicode text in the system's form, and a file appended to by
// such a name (the trace log's way of writing).
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace oskel::platform {
namespace {

// POSIX expectations hold for a UTF-8 or plain-ASCII user locale, or, with
// OSKEL_TEST_LATIN1 set, for an ISO 8859-1 one (a ctest entry of its own).
bool latin1Locale() { return std::getenv("OSKEL_TEST_LATIN1") != nullptr; }

struct PathCase {
    const char *name;
    std::u16string units;
    const char *utf8;   // the POSIX path in a UTF-8 locale; null: none
    const char *latin1; // the same in an ISO 8859-1 locale
};

void PrintTo(const PathCase &c, std::ostream *os) { *os << c.name; }

const PathCase kPathCases[] = {
    {"ascii", u"trace.log", "trace.log", "trace.log"},
    {"latin1", u"\u00e4\u00f6\u00fc", "\xc3\xa4\xc3\xb6\xc3\xbc", "\xe4\xf6\xfc"},
    {"cjk", u"\u65e5\u672c", "\xe6\x97\xa5\xe6\x9c\xac", nullptr},
    // Modified UTF-8 would make this two three-byte surrogates.
    {"supplementary", u"\U0001F600.log", "\xf0\x9f\x98\x80.log", nullptr},
    {"unpaired_surrogate", std::u16string(1, char16_t(0xd800)), "\xed\xa0\x80", nullptr},
    {"embedded_nul", std::u16string(u"a\0b", 3), nullptr, nullptr},
};

class PathFromText : public testing::TestWithParam<PathCase> {};

TEST_P(PathFromText, IsTheSystemsFormOfTheText)
{
    const PathCase &c = GetParam();
    Path path;
    const bool made = pathFromUtf16(c.units.data(), c.units.size(), path);
#if defined(_WIN32)
    const bool expected = c.units.find(char16_t(0)) == std::u16string::npos;
    ASSERT_EQ(expected, made);
    if (made) {
        EXPECT_EQ(std::wstring(c.units.begin(), c.units.end()), path);
    }
#else
    const char *expected = latin1Locale() ? c.latin1 : c.utf8;
    ASSERT_EQ(expected != nullptr, made);
    if (made) {
        EXPECT_EQ(std::string(expected), path);
    }
#endif
    // The trace keeps its path as UTF-8 text: the same path from there.
    if (made) {
        Path again;
        ASSERT_TRUE(pathFromUtf8(utf16ToUtf8(c.units.data(), c.units.size()).c_str(), again));
        EXPECT_EQ(path, again);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, PathFromText, testing::ValuesIn(kPathCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(PathFromUtf8, RefusesBytesThatAreNotUtf8)
{
    for (const char *bad : {"\xff", "a\xc0\x80", "\xe6\x97", "\xf4\x90\x80\x80", "\x80"}) {
        Path path;
        EXPECT_FALSE(pathFromUtf8(bad, path)) << bad;
    }
}

// The folder of temporary files as UTF-16 units (ASCII on POSIX).
std::u16string tempFolder()
{
#if defined(_WIN32)
    const wchar_t *tmp = _wgetenv(L"TEMP");
    const std::wstring folder = std::wstring(tmp ? tmp : L".") + L"\\";
#else
    const char *tmp = std::getenv("TMPDIR");
    const std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/";
#endif
    return std::u16string(folder.begin(), folder.end());
}

TEST(AppendToFile, ANonAsciiNameNamesThatFile)
{
    if (latin1Locale()) GTEST_SKIP() << "the name has characters ISO 8859-1 lacks";
    const std::string id = std::to_string(getpid()) + ".log";
    // The whole path as UTF-16, as a Java string has it.
    const std::u16string units = tempFolder() + u"trace-\u00e4\u00f6\u00fc-\u65e5\u672c-\U0001F600-" +
                                 std::u16string(id.begin(), id.end());
#if defined(_WIN32)
    const std::wstring expected(units.begin(), units.end());
#else
    const std::string expected = std::string(units.begin(), units.begin() + static_cast<long>(tempFolder().size())) +
                                 "trace-\xc3\xa4\xc3\xb6\xc3\xbc-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80-" + id;
#endif
    Path path;
    ASSERT_TRUE(pathFromUtf16(units.data(), units.size(), path));
    ASSERT_TRUE(appendToFile(path, "ab", 2));
    ASSERT_TRUE(appendToFile(path, "cd", 2));
#if defined(_WIN32)
    std::FILE *f = _wfopen(expected.c_str(), L"rb");
#else
    std::FILE *f = std::fopen(expected.c_str(), "rb");
#endif
    ASSERT_NE(nullptr, f) << "no file by the name given";
    char got[8] = {};
    const size_t n = std::fread(got, 1, sizeof got, f);
    std::fclose(f);
#if defined(_WIN32)
    _wremove(expected.c_str());
#else
    std::remove(expected.c_str());
#endif
    EXPECT_EQ("abcd", std::string(got, n));
}

} // namespace
} // namespace oskel::platform
