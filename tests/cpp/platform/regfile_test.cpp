// The .reg parser, on every platform: each row is a file and the values that
// one key of it must have.
#include "platform/regfile.h"
#include "support/registry_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace oskel::platform::regfile {
namespace {

using testsupport::toUtf16leFile;

// A key as one line: `Name="text"` for a string value (its terminator not
// shown), `Name:type=bytes in hex` for anything else, "@" for the default
// value's name; "(no values)" for an empty key, "<no key>" for a missing one.
std::string escaped(std::string_view bytes)
{
    std::string out;
    for (char c : bytes) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        }
    }
    return out;
}

std::string describe(const KeyValues *key)
{
    if (key == nullptr) return "<no key>";
    if (key->size() == 0) return "(no values)";
    std::string out;
    for (std::size_t i = 0; i < key->size(); ++i) {
        const Value &value = key->at(i);
        if (i > 0) out += " | ";
        out += value.name.empty() ? "@" : escaped(value.name);
        if (value.type == RegistryValue::kString && !value.data.empty() && value.data.back() == '\0') {
            out += "=\"" + escaped(std::string_view(value.data).substr(0, value.data.size() - 1)) + "\"";
            continue;
        }
        out += ":" + std::to_string(value.type) + "=";
        for (std::size_t b = 0; b < value.data.size(); ++b) {
            char hex[4];
            std::snprintf(hex, sizeof hex, b == 0 ? "%02x" : " %02x", static_cast<unsigned char>(value.data[b]));
            out += hex;
        }
    }
    return out;
}

std::string describe(const std::optional<KeyValues> &key) { return describe(key ? &*key : nullptr); }

const std::string kHeader5 = "Windows Registry Editor Version 5.00\n\n";
const std::string kTestKey = "[HKEY_LOCAL_MACHINE\\Software\\Test]\n";

std::string v5(const std::string &body) { return kHeader5 + body; }
std::string test5(const std::string &values) { return kHeader5 + kTestKey + values; }
std::string test4(const std::string &values) { return "REGEDIT4\n\n" + kTestKey + values; }

std::string swapBytePairs(std::string bytes)
{
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

std::string withCrLf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct ParseCase {
    const char *name;
    std::string file;
    const char *key; // under HKEY_LOCAL_MACHINE
    std::string expected;
};

void PrintTo(const ParseCase &c, std::ostream *os) { *os << c.name; }

class RegFileParse : public testing::TestWithParam<ParseCase> {};

TEST_P(RegFileParse, KeyHasExpectedValues)
{
    const ParseCase &c = GetParam();
    std::string one = describe(parseKey(c.file, c.key));
    EXPECT_EQ(c.expected, one) << "key " << c.key << " read alone";
    std::string all = describe(parseAll(c.file).find(c.key));
    EXPECT_EQ(one, all) << "key " << c.key << ": reading the whole file disagrees with reading the key alone";
}

std::string caseName(const testing::TestParamInfo<ParseCase> &info) { return info.param.name; }

const char *const kKey = "Software\\Test";

INSTANTIATE_TEST_SUITE_P(
    HeaderAndEncoding, RegFileParse,
    testing::Values(
        ParseCase{"Version5", test5("\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"Regedit4", test4("\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"HeaderWithTrailingBlanks",
                  "Windows Registry Editor Version 5.00 \t\r\n" + kTestKey + "\"A\"=\"1\"\n", kKey, R"(A="1")"},
        ParseCase{"MissingHeader", kTestKey + "\"A\"=\"1\"\n", kKey, "<no key>"},
        ParseCase{"WrongVersion", "Windows Registry Editor Version 4.00\n" + kTestKey, kKey, "<no key>"},
        ParseCase{"HeaderNotOnFirstLine", "\n" + test5("\"A\"=\"1\"\n"), kKey, "<no key>"},
        ParseCase{"HeaderAnyCaseRejected", "windows registry editor version 5.00\n" + kTestKey, kKey, "<no key>"},
        ParseCase{"EmptyFile", "", kKey, "<no key>"},
        ParseCase{"HeaderOnly", v5(""), kKey, "<no key>"},
        ParseCase{"Utf8ByteOrderMark", "\xEF\xBB\xBF" + test5("\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"Utf8BytesKept", test5("\"Caf\xC3\xA9\"=\"\xE2\x82\xAC\"\n"), kKey, R"(Caf\xc3\xa9="\xe2\x82\xac")"},
        ParseCase{"Latin1BytesKept", test5("\"Caf\xE9\"=\"\xE9t\xE9\"\n"), kKey, R"(Caf\xe9="\xe9t\xe9")"},
        ParseCase{"Utf16", toUtf16leFile(withCrLf(test5("\"Caf\xC3\xA9\"=\"\xF0\x9F\x98\x80\"\n"))), kKey,
                  R"(Caf\xc3\xa9="\xf0\x9f\x98\x80")"},
        ParseCase{"Utf16UnpairedSurrogate",
                  toUtf16leFile(test5("\"A\"=\"")) + std::string("\x00\xD8", 2) + toUtf16leFile("\"\n").substr(2),
                  kKey, R"(A="\xef\xbf\xbd")"},
        ParseCase{"Utf16OddLastByteDropped", toUtf16leFile(test5("\"A\"=\"1\"\n")) + "\x41", kKey, R"(A="1")"},
        ParseCase{"Utf16WithoutByteOrderMark", toUtf16leFile(test5("\"A\"=\"1\"\n")).substr(2), kKey, "<no key>"},
        ParseCase{"Utf16BigEndianRejected", swapBytePairs(toUtf16leFile(test5("\"A\"=\"1\"\n"))), kKey, "<no key>"},
        ParseCase{"CrLfLineEnds", withCrLf(test5("\"A\"=\"1\"\n\"B\"=\"2\"\n")), kKey, R"(A="1" | B="2")"},
        ParseCase{"MixedLineEnds", "REGEDIT4\r\n\n" + kTestKey + "\"A\"=\"1\"\r\n\"B\"=\"2\"", kKey,
                  R"(A="1" | B="2")"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Sections, RegFileParse,
    testing::Values(
        ParseCase{"ShortRootName", v5("[HKLM\\Software\\Test]\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"RootNameAnyCase", v5("[hkey_Local_machine\\Software\\Test]\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"KeyPathAnyCase", test5("\"A\"=\"1\"\n"), "SOFTWARE\\test", R"(A="1")"},
        ParseCase{"OtherRootIgnored", v5("[HKEY_CURRENT_USER\\Software\\Test]\n\"A\"=\"1\"\n"), kKey, "<no key>"},
        ParseCase{"OtherRootValuesNotCarriedOver",
                  test5("\"A\"=\"1\"\n[HKEY_CURRENT_USER\\Software\\Test]\n\"B\"=\"2\"\n"), kKey, R"(A="1")"},
        ParseCase{"LongerRootNameIgnored", v5("[HKEY_LOCAL_MACHINEX\\Software\\Test]\n\"A\"=\"1\"\n"), kKey,
                  "<no key>"},
        ParseCase{"UnclosedSectionDropsItsValues",
                  test5("\"A\"=\"1\"\n[HKEY_LOCAL_MACHINE\\Software\\Test\n\"B\"=\"2\"\n"), kKey, R"(A="1")"},
        ParseCase{"SectionWithDoubledBackslash", v5("[HKEY_LOCAL_MACHINE\\Software\\\\Test]\n\"A\"=\"1\"\n"),
                  kKey, R"(A="1")"},
        ParseCase{"SectionWithLeadingBackslashSkipped",
                  v5("[HKEY_LOCAL_MACHINE\\\\Software\\Test]\n\"A\"=\"1\"\n"), kKey, "<no key>"},
        ParseCase{"SectionWithTrailingBackslash", v5("[HKEY_LOCAL_MACHINE\\Software\\Test\\]\n\"A\"=\"1\"\n"),
                  kKey, R"(A="1")"},
        ParseCase{"LookupWithTrailingBackslash", test5("\"A\"=\"1\"\n"), "Software\\Test\\", R"(A="1")"},
        ParseCase{"LookupWithDoubledBackslash", test5("\"A\"=\"1\"\n"), "Software\\\\Test", R"(A="1")"},
        ParseCase{"LookupWithLeadingBackslash", test5("\"A\"=\"1\"\n"), "\\Software\\Test", "<no key>"},
        ParseCase{"RepeatedSectionsMerge",
                  test5("\"A\"=\"1\"\n[HKLM\\Software\\Other]\n\"X\"=\"0\"\n" + kTestKey + "\"B\"=\"2\"\n"), kKey,
                  R"(A="1" | B="2")"},
        ParseCase{"ParentOfSectionExists", v5("[HKLM\\Software\\Test\\Sub\\Deeper]\n\"A\"=\"1\"\n"), kKey,
                  "(no values)"},
        ParseCase{"SiblingIsNotParent", v5("[HKLM\\Software\\TestSub]\n\"A\"=\"1\"\n"), kKey, "<no key>"},
        ParseCase{"RootAlwaysExists", v5(""), "", "(no values)"},
        ParseCase{"RootSection", v5("[HKEY_LOCAL_MACHINE]\n\"A\"=\"1\"\n"), "", R"(A="1")"},
        ParseCase{"RootCannotBeDeleted", v5("[HKEY_LOCAL_MACHINE]\n\"A\"=\"1\"\n[-HKEY_LOCAL_MACHINE]\n"), "",
                  R"(A="1")"},
        ParseCase{"DeletedKey", test5("\"A\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\Software\\Test]\n"), kKey, "<no key>"},
        ParseCase{"DeletedKeyWrittenAgain",
                  test5("\"A\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\Software\\Test]\n" + kTestKey + "\"B\"=\"2\"\n"), kKey,
                  R"(B="2")"},
        ParseCase{"DeletedParent", test5("\"A\"=\"1\"\n[-HKLM\\Software]\n"), kKey, "<no key>"},
        ParseCase{"DeletedSubkeyLeavesParent", v5("[HKLM\\Software\\Test\\Sub]\n[-HKLM\\Software\\Test\\Sub]\n"),
                  kKey, "(no values)"},
        ParseCase{"DeletedSubkeyLeavesParentValues",
                  test5("\"A\"=\"1\"\n[HKLM\\Software\\Test\\Sub]\n[-HKLM\\Software\\Test\\Sub]\n"), kKey,
                  R"(A="1")"},
        ParseCase{"DeletingMissingSubkeyCreatesNothing", v5("[-HKLM\\Software\\Test\\Sub]\n"), kKey, "<no key>"},
        ParseCase{"DeletedKeysWithCommonPrefix",
                  test5("\"A\"=\"1\"\n[-HKLM\\Software\\Tes]\n[-HKLM\\Software\\TestX]\n[-HKLM\\Software\\Test!]\n"),
                  kKey, R"(A="1")"},
        ParseCase{"DeletionAnyCase", test5("\"A\"=\"1\"\n[-hklm\\SOFTWARE\\test]\n"), kKey, "<no key>"},
        ParseCase{"ValuesAfterDeletionIgnored", test5("\"A\"=\"1\"\n[-HKLM\\Software\\Test]\n\"B\"=\"2\"\n"),
                  kKey, "<no key>"},
        ParseCase{"ValuesBeforeFirstSectionIgnored", v5("\"B\"=\"2\"\n" + kTestKey + "\"A\"=\"1\"\n"), kKey,
                  R"(A="1")"}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Values, RegFileParse,
    testing::Values(
        ParseCase{"DefaultValue", test5("@=\"d\"\n"), kKey, R"(@="d")"},
        ParseCase{"DefaultValueDeleted", test5("@=\"d\"\n\"A\"=\"1\"\n@=-\n"), kKey, R"(A="1")"},
        ParseCase{"Escapes", test5(R"("Quote\"Name"="a\\b\"c")" "\n"), kKey, R"(Quote\"Name="a\\b\"c")"},
        ParseCase{"UnknownEscapeKeepsBackslash", test5(R"("Path"="C:\temp\new")" "\n"), kKey,
                  R"(Path="C:\\temp\\new")"},
        ParseCase{"EscapedBackslashBeforeQuote", test5(R"("Dir"="C:\\")" "\n"), kKey, R"(Dir="C:\\")"},
        ParseCase{"EqualsSignInName", test5("\"a=b\"=\"c\"\n"), kKey, R"(a=b="c")"},
        ParseCase{"BlanksAroundEquals", test5("\"A\" \t= \t\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"CommentsAndIndentation", test5("; comment\n  \"A\"=\"1\"\n\t; \"B\"=\"2\"\n\n"), kKey,
                  R"(A="1")"},
        ParseCase{"TrailingComment", test5("\"A\"=\"1\" ; note\n\"B\"=dword:2;x\n"), kKey,
                  R"(A="1" | B:4=02 00 00 00)"},
        ParseCase{"TrailingGarbageSkipsLine", test5("\"A\"=\"1\" x\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"UnterminatedDataSkipsLine", test5("\"A\"=\"1\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"UnterminatedNameSkipsLine", test5("\"A=1\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"UnquotedNameSkipsLine", test5("A=\"1\"\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"MissingEqualsSkipsLine", test5("\"A\" \"1\"\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"UnknownTypeSkipsLine", test5("\"A\"=qword:1\n\"B\"=\"2\"\n"), kKey, R"(B="2")"},
        ParseCase{"EmptyString", test5("\"A\"=\"\"\n"), kKey, R"(A="")"},
        ParseCase{"NulByteKept", test5(std::string("\"A\"=\"x\0y\"\n", 10)), kKey, R"(A="x\x00y")"},
        ParseCase{"FileOrder", test5("\"Zeta\"=\"1\"\n\"alpha\"=\"2\"\n\"Mid\"=\"3\"\n"), kKey,
                  R"(Zeta="1" | alpha="2" | Mid="3")"},
        ParseCase{"LaterDuplicateWinsInFirstPlace", test5("\"A\"=\"1\"\n\"B\"=\"2\"\n\"a\"=\"3\"\n"), kKey,
                  R"(A="3" | B="2")"},
        ParseCase{"DuplicateAcrossSections", test5("\"A\"=\"1\"\n" + kTestKey + "\"A\"=dword:7\n"), kKey,
                  R"(A:4=07 00 00 00)"},
        ParseCase{"DeletedValue", test5("\"A\"=\"1\"\n\"B\"=\"2\"\n\"a\"=-\n"), kKey, R"(B="2")"},
        ParseCase{"DeletedValueWrittenAgainComesLast", test5("\"A\"=\"1\"\n\"B\"=\"2\"\n\"A\"=-\n\"A\"=\"3\"\n"),
                  kKey, R"(B="2" | A="3")"},
        ParseCase{"DeletingMissingValue", test5("\"A\"=\"1\"\n\"X\"=-\n"), kKey, R"(A="1")"},
        ParseCase{"MalformedDeletionSkipped", test5("\"A\"=\"1\"\n\"A\"=-x\n"), kKey, R"(A="1")"},
        ParseCase{"Dword", test5("\"D\"=dword:0000002a\n"), kKey, R"(D:4=2a 00 00 00)"},
        ParseCase{"DwordUpperCase", test5("\"D\"=DWORD:ABCDEF01\n"), kKey, R"(D:4=01 ef cd ab)"},
        ParseCase{"DwordFewDigits", test5("\"D\"=dword:1\n"), kKey, R"(D:4=01 00 00 00)"},
        ParseCase{"DwordNineDigitsSkipped", test5("\"D\"=dword:123456789\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"DwordNotHexSkipped", test5("\"D\"=dword:12x4\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"DwordWithoutDigitsSkipped", test5("\"D\"=dword:\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"Binary", test5("\"B\"=hex:01,ff,2\n"), kKey, R"(B:3=01 ff 02)"},
        ParseCase{"BinaryEmpty", test5("\"B\"=hex:\n"), kKey, R"(B:3=)"},
        ParseCase{"BinaryTrailingComma", test5("\"B\"=hex:01,02,\n"), kKey, R"(B:3=01 02)"},
        ParseCase{"BinaryBlanks", test5("\"B\"=hex: 01 , 02\n"), kKey, R"(B:3=01 02)"},
        ParseCase{"BinaryComment", test5("\"B\"=hex:01,02 ; two bytes\n"), kKey, R"(B:3=01 02)"},
        ParseCase{"BinaryContinued", withCrLf(test5("\"B\"=hex:01,02,\\\n  03,04,\\\n  05\n\"A\"=\"1\"\n")), kKey,
                  R"(B:3=01 02 03 04 05 | A="1")"},
        ParseCase{"BinaryContinuedAtEndOfFile", test5("\"B\"=hex:01,\\"), kKey, R"(B:3=01)"},
        ParseCase{"BinaryBadByteSkipsContinuation",
                  test5("\"B\"=hex:01,zz,\\\n  \"A\"=\"1\"\n\"C\"=\"3\"\n"), kKey, R"(C="3")"},
        ParseCase{"BinaryThreeDigitByteSkipped", test5("\"B\"=hex:100\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"BinaryDoubleCommaSkipped", test5("\"B\"=hex:01,,02\n\"A\"=\"1\"\n"), kKey, R"(A="1")"},
        ParseCase{"TypedHex", test5("\"Q\"=hex(b):01,00,00,00,00,00,00,80\n"), kKey,
                  R"(Q:11=01 00 00 00 00 00 00 80)"},
        ParseCase{"TypedHexBadTypeSkipped",
                  test5("\"Q\"=hex(xy):01\n\"R\"=hex():01\n\"S\"=hex(1:01\n\"T\"=hex(123456789):01\n\"A\"=\"1\"\n"),
                  kKey, R"(A="1")"},
        ParseCase{"StringAsHexInUtf16File", toUtf16leFile(test5("\"S\"=hex(1):e9,00,41,00,00,00\n")), kKey,
                  R"(S="\xc3\xa9A")"},
        ParseCase{"ExpandStringInUtf16File", toUtf16leFile(test5("\"E\"=hex(2):25,00,41,00,25,00,00,00\n")), kKey,
                  R"(E:2=25 41 25 00)"},
        ParseCase{"MultiStringInUtf16File", toUtf16leFile(test5("\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\n")),
                  kKey, R"(M:7=61 00 62 00 00)"},
        ParseCase{"BinaryInUtf16FileKept", toUtf16leFile(test5("\"B\"=hex:61,00,62\n")), kKey, R"(B:3=61 00 62)"},
        ParseCase{"ExpandStringIn8BitVersion5File", test5("\"E\"=hex(2):25,41,e9,00\n"), kKey,
                  R"(E:2=25 41 e9 00)"},
        ParseCase{"ExpandStringInRegedit4", test4("\"E\"=hex(2):25,41,e9,00\n"), kKey, R"(E:2=25 41 e9 00)"},
        ParseCase{"ValueOfOtherKeyNotMixedIn", test5("\"A\"=\"1\"\n[HKLM\\Software\\Test\\Sub]\n\"B\"=\"2\"\n"),
                  kKey, R"(A="1")"}),
    caseName);

struct LookupCase {
    const char *name;
    const char *valueName; // looked up in kLookupFile
    const char *found;     // the name of the value found, or null
};

void PrintTo(const LookupCase &c, std::ostream *os) { *os << c.name; }

const std::string kLookupFile = test5("@=\"d\"\n\"Path\"=\"p\"\n\"\xC3\x84rger\"=\"x\"\n\"MiXeD\"=\"m\"\n");

class RegFileLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(RegFileLookup, FindsValueIgnoringAsciiCase)
{
    const LookupCase &c = GetParam();
    std::optional<KeyValues> key = parseKey(kLookupFile, kKey);
    ASSERT_TRUE(key.has_value());
    const Value *value = key->find(c.valueName);
    EXPECT_EQ(c.found ? std::string(c.found) : "<none>", value ? value->name : "<none>")
        << "looking up \"" << escaped(c.valueName) << "\"";
}

INSTANTIATE_TEST_SUITE_P(Names, RegFileLookup,
                         testing::Values(LookupCase{"Exact", "Path", "Path"}, LookupCase{"Lower", "path", "Path"},
                                         LookupCase{"Upper", "MIXED", "MiXeD"}, LookupCase{"Default", "", ""},
                                         LookupCase{"Missing", "Paths", nullptr},
                                         LookupCase{"NonAsciiNotFolded", "\xC3\xA4rger", nullptr},
                                         LookupCase{"NonAsciiExact", "\xC3\x84rger", "\xC3\x84rger"}),
                         [](const testing::TestParamInfo<LookupCase> &info) { return std::string(info.param.name); });

// Sizes a crafted file can reach without the parser falling over.
TEST(RegFileLimits, MegabyteValueIsRead)
{
    std::string big(1 << 20, 'x');
    std::optional<KeyValues> key = parseKey(test5("\"Big\"=\"" + big + "\"\n\"A\"=\"1\"\n"), kKey);
    ASSERT_TRUE(key.has_value());
    const Value *value = key->find("Big");
    ASSERT_NE(nullptr, value);
    EXPECT_EQ(big + '\0', value->data) << "the 1 MiB value was not read whole";
    EXPECT_EQ(2u, key->size());
}

TEST(RegFileLimits, HugeMalformedLinesAreSkipped)
{
    std::string garbage(4 << 20, 'x');
    std::string unterminated = "\"A\"=\"" + std::string(2 << 20, 'y');
    std::string continued = "\"B\"=hex:" + std::string(1 << 20, ',') + "\\\n";
    std::optional<KeyValues> key =
        parseKey(test5(garbage + "\n" + unterminated + "\n" + continued + "\"C\"=\"3\"\n\"D\"=\"4\"\n"), kKey);
    // The continuation swallows the "C" line; "D" survives.
    EXPECT_EQ(R"(D="4")", describe(key));
}

TEST(RegFileLimits, ManyValuesAndDeletionsStayFast)
{
    const int count = 100000;
    std::string body;
    for (int i = 0; i < count; ++i) body += "\"V" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    for (int i = 0; i < count; i += 2) body += "\"v" + std::to_string(i) + "\"=-\n";
    auto start = std::chrono::steady_clock::now();
    std::optional<KeyValues> key = parseKey(test5(body), kKey);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(static_cast<std::size_t>(count / 2), key->size());
    EXPECT_EQ("V1", key->at(0).name) << "first surviving value";
    EXPECT_EQ(nullptr, key->find("V2")) << "deleted value still found";
    EXPECT_LT(seconds, 10.0) << "parsing 100000 values and 50000 deletions took " << seconds << " s";
}

} // namespace
} // namespace oskel::platform::regfile
