// Conversions between UTF-16 units and locale text, under the locales the
// library lives in: on Linux C, C.UTF-8 and a Latin-1 locale; on Windows the C
// runtime's code page 1252.
#include <clocale>
#include <string>

#include <gtest/gtest.h>

#include "boundary/text.h"
#include "../../support/modified_utf8.h"

using oskel::text::appendAnsi;
using oskel::text::decodeForeign;
using oskel::text::isModifiedUtf8;
using oskel::text::toUtf16;

namespace {

// Switches the process's C locale for one test and back afterwards.
class ScopedLocale {
public:
    explicit ScopedLocale(const char *name) {
        const char *old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        ok_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ScopedLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    bool ok() const { return ok_; }

private:
    std::string saved_;
    bool ok_ = false;
};

#if defined(_WIN32)
constexpr const char *kUtf8Locale = nullptr; // the Windows C runtime has none
constexpr const char *kLatinLocale = ".1252";
#else
constexpr const char *kUtf8Locale = "C.UTF-8";
constexpr const char *kLatinLocale = "en_US.ISO-8859-1";
#endif

std::string hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
        out += ' ';
    }
    return out;
}

using oskel::testsupport::modifiedUtf8;

// nullopt-like marker for "conversion fails".
const std::string kFails = "<fails>";

std::string toAnsi(const std::u16string &units) {
    std::string out;
    if (!appendAnsi(units.data(), units.size(), out))
        return kFails;
    EXPECT_FALSE(out.empty()) << "a converted text always carries its terminator";
    EXPECT_EQ(out.back(), '\0');
    out.pop_back();
    return out;
}

struct AnsiCase {
    const char *name;
    const char *locale; // "utf8", "latin1" or "C"
    std::u16string input;
    std::string expected; // kFails when the conversion must fail
};
void PrintTo(const AnsiCase &c, std::ostream *os) { *os << c.name << " (" << c.locale << ")"; }

const char *localeFor(const std::string &which) {
    if (which == "utf8")
        return kUtf8Locale;
    if (which == "latin1")
        return kLatinLocale;
    return "C";
}

class ToAnsi : public ::testing::TestWithParam<AnsiCase> {};

TEST_P(ToAnsi, ConvertsLikeTheCLibrary) {
    const AnsiCase &c = GetParam();
    const char *locale = localeFor(c.locale);
    if (locale == nullptr)
        GTEST_SKIP() << "no such locale on this platform";
    ScopedLocale scoped(locale);
    ASSERT_TRUE(scoped.ok()) << "locale " << locale << " is not installed";
    std::string got = toAnsi(c.input);
    EXPECT_EQ(got == kFails ? got : hex(got), c.expected == kFails ? c.expected : hex(c.expected))
        << c.name;
}

const AnsiCase kAnsiCases[] = {
    {"empty", "C", u"", ""},
    {"ascii", "C", u"src/Main.java", "src/Main.java"},
    {"zero inside ends the text", "C", std::u16string(u"ab\0cd", 5), "ab"},
    {"space and tab", "C", u"a b\tc", "a b\tc"},
    {"latin1 e-acute", "latin1", u"caf\u00e9", "caf\xe9"},
    {"latin1 cjk fails", "latin1", u"\u4e2d", kFails},
    {"latin1 one bad element fails whole", "latin1", u"ok\u4e2dok", kFails},
    {"utf8 e-acute", "utf8", u"caf\u00e9", "caf\xc3\xa9"},
    {"utf8 cjk", "utf8", u"\u4e2d", "\xe4\xb8\xad"},
    {"utf8 surrogate pair", "utf8", u"\U0001F600.txt", "\xf0\x9f\x98\x80.txt"},
#if !defined(_WIN32)
    {"utf8 lone high surrogate", "utf8", std::u16string(1, char16_t(0xD83D)), kFails},
    {"utf8 lone low surrogate", "utf8", std::u16string(1, char16_t(0xDE00)), kFails},
    {"utf8 reversed pair", "utf8", std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, kFails},
    {"C locale refuses non-ascii", "C", u"caf\u00e9", kFails},
#endif
};

INSTANTIATE_TEST_SUITE_P(Locales, ToAnsi, ::testing::ValuesIn(kAnsiCases));

struct JavaCase {
    const char *name;
    const char *locale;
    std::string input;
    std::u16string expected;
    bool fails;
};
void PrintTo(const JavaCase &c, std::ostream *os) { *os << c.name << " (" << c.locale << ")"; }

class ToJava : public ::testing::TestWithParam<JavaCase> {};

TEST_P(ToJava, ConvertsLikeTheCLibrary) {
    const JavaCase &c = GetParam();
    const char *locale = localeFor(c.locale);
    if (locale == nullptr)
        GTEST_SKIP() << "no such locale on this platform";
    ScopedLocale scoped(locale);
    ASSERT_TRUE(scoped.ok()) << "locale " << locale << " is not installed";
    std::u16string got;
    bool ok = toUtf16(c.input.c_str(), got);
    EXPECT_EQ(!ok, c.fails) << c.name;
    if (ok && !c.fails) {
        EXPECT_TRUE(got == c.expected) << c.name << ": " << got.size() << " units";
    }
}

const JavaCase kJavaCases[] = {
    {"empty", "C", "", u"", false},
    {"ascii", "C", "a.java", u"a.java", false},
    {"latin1 byte", "latin1", "caf\xe9", u"caf\u00e9", false},
#if defined(_WIN32)
    {"code page 1252 high bytes", "latin1", "\xff\x80", u"\u00ff\u20ac", false},
#else
    {"latin1 high bytes", "latin1", "\xff\x80", u"\u00ff\u0080", false},
#endif
    {"utf8 two bytes", "utf8", "caf\xc3\xa9", u"caf\u00e9", false},
    {"utf8 four bytes become a pair", "utf8", "\xf0\x9f\x98\x80", u"\U0001F600", false},
    {"utf8 truncated sequence", "utf8", "ab\xc3", u"", true},
    {"utf8 stray continuation", "utf8", "\x80", u"", true},
    {"utf8 encoded surrogate", "utf8", "\xed\xa0\xbd", u"", true},
};

INSTANTIATE_TEST_SUITE_P(Locales, ToJava, ::testing::ValuesIn(kJavaCases));

TEST(RoundTrip, UnderUtf8EveryBmpAndAstralCharacterSurvives) {
    if (kUtf8Locale == nullptr)
        GTEST_SKIP() << "no UTF-8 C locale on this platform";
    ScopedLocale scoped(kUtf8Locale);
    ASSERT_TRUE(scoped.ok());
    for (char32_t cp : {U'a', U'\u00e9', U'\u0416', U'\u4e2d', U'\uffee', U'\U00010348',
                        U'\U0001F600', U'\U0010FFFD'}) {
        std::u16string units;
        if (cp < 0x10000) {
            units.push_back(static_cast<char16_t>(cp));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        std::string ansi;
        ASSERT_TRUE(appendAnsi(units.data(), units.size(), ansi)) << std::hex << cp;
        std::u16string back;
        ASSERT_TRUE(toUtf16(ansi.c_str(), back)) << std::hex << cp;
        EXPECT_TRUE(back == units) << std::hex << cp;
    }
}

TEST(Append, FailureLeavesEarlierTextsInPlace) {
    ScopedLocale scoped("C");
    std::string out;
    ASSERT_TRUE(appendAnsi(u"one", 3, out));
    const std::string before = out;
    const std::u16string bad = u"\u4e2d";
    EXPECT_FALSE(appendAnsi(bad.data(), bad.size(), out));
    EXPECT_EQ(out, before);
}

struct Mutf8Case {
    const char *bytes;
    bool valid;
};
void PrintTo(const Mutf8Case &c, std::ostream *os) {
    *os << "bytes " << hex(c.bytes) << (c.valid ? "valid" : "invalid");
}

class ModifiedUtf8 : public ::testing::TestWithParam<Mutf8Case> {};

TEST_P(ModifiedUtf8, Recognised) {
    EXPECT_EQ(isModifiedUtf8(GetParam().bytes), GetParam().valid) << hex(GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, ModifiedUtf8,
    ::testing::Values(Mutf8Case{"", true}, Mutf8Case{"plain ascii", true},
                      Mutf8Case{"caf\xc3\xa9", true}, Mutf8Case{"\xc0\x80", true},
                      Mutf8Case{"\xe4\xb8\xad", true}, Mutf8Case{"\xed\xa0\xbd\xed\xb8\x80", true},
                      Mutf8Case{"caf\xe9", false}, Mutf8Case{"\xc3", false},
                      Mutf8Case{"\xc1\xbf", false}, Mutf8Case{"\xe0\x80\x80", false},
                      Mutf8Case{"\xf0\x9f\x98\x80", false}, Mutf8Case{"\x80", false},
                      Mutf8Case{"\xff", false}));

TEST(DecodeForeign, FallsBackToLatin1WhereTheLocaleCannotDecode) {
    ScopedLocale scoped("C");
    EXPECT_TRUE(decodeForeign("Prov\xe9" "der") == u"Prov\u00e9der");
    EXPECT_TRUE(decodeForeign("\xff") == u"\u00ff");
    EXPECT_TRUE(decodeForeign("plain") == u"plain");
}

TEST(DecodeForeign, UsesTheLocaleWhereItDecodes) {
    if (kUtf8Locale == nullptr)
        GTEST_SKIP() << "no UTF-8 C locale on this platform";
    ScopedLocale scoped(kUtf8Locale);
    ASSERT_TRUE(scoped.ok());
    EXPECT_TRUE(decodeForeign("\xf0\x9f\x98\x80") == u"\U0001F600");
}

} // namespace

namespace {

// The fast paths against the C library alone, on random texts weighted toward
// what file names hold: ASCII, Latin-1, other BMP characters, pairs and lone
// surrogates. Runs under every locale this platform has.
class Differential : public ::testing::TestWithParam<const char *> {};

TEST_P(Differential, FastPathsGiveTheCLibrarysBytes) {
    const char *name = localeFor(GetParam());
    if (name == nullptr)
        GTEST_SKIP() << "no such locale on this platform";
    ScopedLocale scoped(name);
    ASSERT_TRUE(scoped.ok()) << name;
    const oskel::text::LocaleTraits locale = oskel::text::currentLocale();
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 20000; ++round) {
        std::u16string units(next() % 40, u'a');
        for (auto &u : units) {
            switch (next() % 8) {
            case 0: u = static_cast<char16_t>(0x80 + next() % 0x80); break;
            case 1: u = static_cast<char16_t>(0x100 + next() % 0xD700); break;
            case 2: u = static_cast<char16_t>(0xD800 + next() % 0x800); break;
            case 3: u = static_cast<char16_t>(0xE000 + next() % 0x2000); break;
            case 4: u = static_cast<char16_t>(next() % 0x80); break;
            default: u = static_cast<char16_t>(0x20 + next() % 0x5F); break;
            }
        }
        std::string fast, plain;
        bool fastOk = oskel::text::appendAnsi(locale, units.data(), units.size(), fast);
        bool plainOk = oskel::text::appendAnsiPlain(units.data(), units.size(), plain);
        ASSERT_EQ(fastOk, plainOk) << "round " << round;
        ASSERT_EQ(hex(fast), hex(plain)) << "round " << round;
        if (locale.singleByte != nullptr && locale.asciiIdentity) {
            // The VM's modified UTF-8 narrowed in place gives the same.
            std::string text = modifiedUtf8(units);
            text.push_back('\0');
            size_t n = oskel::text::singleBytesFromModifiedInPlace(locale, &text[0], units.size());
            if (n != oskel::text::kNeedUnits) {
                ASSERT_EQ(n != oskel::text::kNotConverted, plainOk) << "round " << round;
                if (plainOk) {
                    ASSERT_EQ(hex(text.substr(0, n + 1)), hex(plain)) << "round " << round;
                }
            }
        }

        std::string bytes(next() % 40, 'a');
        for (auto &b : bytes)
            b = static_cast<char>(next() % 4 == 0 ? 0x80 + next() % 0x80 : 0x01 + next() % 0x7F);
        std::u16string fastUnits, plainUnits;
        fastOk = oskel::text::toUtf16(locale, bytes.c_str(), fastUnits);
        plainOk = oskel::text::toUtf16Plain(bytes.c_str(), plainUnits);
        ASSERT_EQ(fastOk, plainOk) << "round " << round << ": " << hex(bytes);
        if (fastOk) {
            ASSERT_TRUE(fastUnits == plainUnits) << "round " << round << ": " << hex(bytes);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, Differential, ::testing::Values("C", "utf8", "latin1"));

} // namespace

namespace {

TEST(ModifiedUtf8ToUtf8, GivesWhatTheUtf16ConversionGives) {
    if (kUtf8Locale == nullptr)
        GTEST_SKIP() << "no UTF-8 C locale on this platform";
    ScopedLocale scoped(kUtf8Locale);
    ASSERT_TRUE(scoped.ok());
    const oskel::text::LocaleTraits locale = oskel::text::currentLocale();
    ASSERT_TRUE(locale.utf8);
    uint32_t seed = 777;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 20000; ++round) {
        std::u16string units(next() % 30, u'a');
        for (auto &u : units) {
            switch (next() % 7) {
            case 0: u = static_cast<char16_t>(next() % 0x80); break; // U+0000 included
            case 1: u = static_cast<char16_t>(0x80 + next() % 0x780); break;
            case 2: u = static_cast<char16_t>(0x800 + next() % 0xD000); break;
            case 3: u = static_cast<char16_t>(0xD800 + next() % 0x800); break;
            default: u = static_cast<char16_t>(0x20 + next() % 0x5F); break;
            }
        }
        std::string expected = "x", got = "x";
        bool expectedOk = oskel::text::appendAnsi(locale, units.data(), units.size(), expected);
        std::string modified = modifiedUtf8(units);
        bool gotOk = oskel::text::appendUtf8FromModified(modified.c_str(), units.size(), got);
        ASSERT_EQ(gotOk, expectedOk) << "round " << round;
        ASSERT_EQ(hex(got), hex(expected)) << "round " << round;
    }
}

} // namespace

namespace {

// classifyUtf8 says Bmp exactly when the C library decodes the text into
// units without surrogates, Supplementary when with, Invalid when it refuses.
TEST(ClassifyUtf8, AgreesWithTheCLibrary) {
    if (kUtf8Locale == nullptr)
        GTEST_SKIP() << "no UTF-8 C locale on this platform";
    ScopedLocale scoped(kUtf8Locale);
    ASSERT_TRUE(scoped.ok());
    uint32_t seed = 4242;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int round = 0; round < 20000; ++round) {
        std::string bytes(next() % 12, 'a');
        for (auto &b : bytes)
            b = static_cast<char>(next() % 3 == 0 ? 0x01 + next() % 0x7F : 0x80 + next() % 0x80);
        std::u16string units;
        bool ok = oskel::text::toUtf16Plain(bytes.c_str(), units);
        bool astral = false;
        for (char16_t u : units)
            astral |= u >= 0xD800 && u <= 0xDFFF;
        auto kind = oskel::text::classifyUtf8(bytes.c_str());
        auto expected = !ok ? oskel::text::Utf8Kind::Invalid
                            : astral ? oskel::text::Utf8Kind::Supplementary
                                     : oskel::text::Utf8Kind::Bmp;
        ASSERT_EQ(static_cast<int>(kind), static_cast<int>(expected)) << hex(bytes);
    }
}

} // namespace
