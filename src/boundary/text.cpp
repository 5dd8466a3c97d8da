#include "boundary/text.h"

#include <atomic>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <type_traits>

#include "platform/platform.h"

namespace oskel::text {

namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool isHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Copies the units up to the first zero into wide characters, combining
// surrogate pairs where wchar_t is wide enough. False for a lone surrogate.
bool widen(const char16_t *units, size_t n, std::wstring &wide) {
    wide.clear();
    wide.reserve(n);
    for (size_t i = 0; i < n && units[i] != 0; ++i) {
        uint32_t u = units[i];
        if (kWideIsUtf16) {
            wide.push_back(static_cast<wchar_t>(u));
        } else if (isHigh(u) && i + 1 < n && isLow(units[i + 1])) {
            uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00);
            wide.push_back(static_cast<wchar_t>(cp));
            ++i;
        } else if (isHigh(u) || isLow(u)) {
            return false;
        } else {
            wide.push_back(static_cast<wchar_t>(u));
        }
    }
    return true;
}

} // namespace

// Filled as units are met: a unit's byte is asked of the C library the first
// time a text holds it. A locale whose characters are single bytes has no
// shift states, so a text converts as its characters do one by one.
struct SingleByteCode {
    static constexpr int16_t kUnknown = -2;    // not asked yet
    static constexpr int16_t kUnmappable = -1; // the locale has no such character
    static constexpr int16_t kLibrary = -3;    // left to the C library: a surrogate,
                                               // or a character it writes otherwise
    SingleByteCode() {
        for (auto &unit : encode)
            unit.store(kUnknown, std::memory_order_relaxed);
        for (int b = 1; b < 256; ++b) {
            const char byte[2] = {static_cast<char>(b), 0};
            wchar_t wide[4] = {};
            size_t n = std::mbstowcs(wide, byte, 4);
            uint32_t c = static_cast<uint32_t>(wide[0]);
            if (n == static_cast<size_t>(-1))
                decode[b] = -1;
            else if (n == 1 && c != 0 && c < 0x10000 && !(c >= 0xD800 && c <= 0xDFFF))
                decode[b] = static_cast<int32_t>(c);
            else
                decodes = false;
        }
    }
    // The byte of a unit other than U+0000, or one of the marks above.
    int16_t byteOf(char16_t unit) const {
        int16_t known = encode[unit].load(std::memory_order_relaxed);
        if (known != kUnknown)
            return known;
        known = ask(unit);
        encode[unit].store(known, std::memory_order_relaxed);
        return known;
    }
    static int16_t ask(char16_t unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF)
            return kLibrary;
        const wchar_t wide[2] = {static_cast<wchar_t>(unit), 0};
        char bytes[MB_LEN_MAX + 1];
        size_t n = std::wcstombs(bytes, wide, sizeof bytes);
        if (n == static_cast<size_t>(-1))
            return kUnmappable;
        return n == 1 ? static_cast<int16_t>(static_cast<unsigned char>(bytes[0])) : kLibrary;
    }

    mutable std::atomic<int16_t> encode[0x10000];
    int32_t decode[256] = {}; // the unit each byte reads as; -1: not a character
    bool decodes = true;      // every byte reads as one unit of the BMP or as none
};

namespace {

// Looks the traits of a locale up by converting every ASCII character both ways.
LocaleTraits probeLocale() {
    LocaleTraits traits;
    wchar_t wide[128];
    char bytes[128];
    for (int c = 1; c < 128; ++c) {
        wide[c - 1] = static_cast<wchar_t>(c);
        bytes[c - 1] = static_cast<char>(c);
    }
    wide[127] = 0;
    bytes[127] = 0;
    char narrow[128 * 8];
    wchar_t back[129];
    traits.asciiIdentity = std::wcstombs(narrow, wide, sizeof narrow) == 127 &&
                           std::memcmp(narrow, bytes, 128) == 0 &&
                           std::mbstowcs(back, bytes, 129) == 127 &&
                           std::memcmp(back, wide, sizeof(wchar_t) * 128) == 0;
    traits.utf8 = traits.asciiIdentity && !kWideIsUtf16 && platform::localeIsUtf8();
    return traits;
}

// Walks UTF-8 as the C library reads it for a UTF-8 locale, handing each code
// point to `emit`: overlong forms, encoded surrogates, code points above
// U+10FFFF and cut sequences are not characters (false).
template <typename Emit> bool walkUtf8(const unsigned char *s, Emit &&emit) {
    while (*s) {
        uint32_t c = *s;
        if (c < 0x80) {
            emit(c);
            ++s;
            continue;
        }
        int extra;
        uint32_t min;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1, min = 0x80, c &= 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2, min = 0x800, c &= 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3, min = 0x10000, c &= 0x07;
        } else {
            return false;
        }
        ++s;
        for (int k = 0; k < extra; ++k, ++s) {
            if ((*s & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (*s & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        emit(c);
    }
    return true;
}

bool decodeUtf8(const unsigned char *s, std::u16string &out) {
    out.clear();
    return walkUtf8(s, [&out](uint32_t c) {
        if (c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    });
}

} // namespace

LocaleTraits currentLocale() {
    // A thread that converts with a locale of its own (the typed API) names
    // that one: the process's locale may be another.
    const char *name = platform::threadLocaleName();
    if (name == nullptr)
        name = std::setlocale(LC_CTYPE, nullptr);
    if (name == nullptr)
        return probeLocale();
    // The locale this thread saw last: a comparison of names, no lock.
    struct Seen {
        std::string name;
        LocaleTraits traits;
        bool known = false;
    };
    thread_local Seen seen;
    if (seen.known && seen.name == name)
        return seen.traits;
    // Every locale seen, with its code, kept for the life of the process: a
    // thread may still be converting with a code it looked up earlier.
    struct Known {
        LocaleTraits traits;
        std::unique_ptr<SingleByteCode> code;
    };
    static std::mutex lock;
    static auto *known = new std::map<std::string, Known>(); // never destroyed
    LocaleTraits traits;
    {
        std::lock_guard<std::mutex> hold(lock);
        auto found = known->find(name);
        if (found == known->end()) {
            Known entry;
            entry.traits = probeLocale();
            if (!entry.traits.utf8 && MB_CUR_MAX == 1) {
                entry.code = std::make_unique<SingleByteCode>();
                entry.traits.singleByte = entry.code.get();
            }
            found = known->emplace(name, std::move(entry)).first;
        }
        traits = found->second.traits;
    }
    seen.name = name;
    seen.traits = traits;
    seen.known = true;
    return traits;
}

Utf8Kind classifyUtf8(const char *text) {
    bool supplementary = false;
    bool valid = walkUtf8(reinterpret_cast<const unsigned char *>(text),
                          [&supplementary](uint32_t c) { supplementary |= c >= 0x10000; });
    return !valid ? Utf8Kind::Invalid : supplementary ? Utf8Kind::Supplementary : Utf8Kind::Bmp;
}

bool isAscii(const char *text) {
    for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
        if (*p >= 0x80)
            return false;
    }
    return true;
}

bool appendAnsiPlain(const char16_t *units, size_t n, std::string &out) {
    std::wstring wide;
    if (!widen(units, n, wide))
        return false;
    const size_t start = out.size();
    const size_t room = wide.size() * MB_CUR_MAX + 1;
    out.resize(start + room);
    size_t written = std::wcstombs(&out[start], wide.c_str(), room);
    if (written == static_cast<size_t>(-1)) {
        out.resize(start);
        return false;
    }
    out.resize(start + written + 1);
    return true;
}

namespace {
// The bitwise OR of `n` units read a word at a time (the last few one by one,
// each in the low lanes of the word).
template <typename Unit> uint64_t orOfUnits(const Unit *units, size_t n) {
    constexpr size_t kPerWord = 8 / sizeof(Unit);
    size_t i = 0;
    uint64_t all = 0;
    for (; i + kPerWord <= n; i += kPerWord) {
        uint64_t word;
        std::memcpy(&word, units + i, 8);
        all |= word;
    }
    for (; i < n; ++i)
        all |= static_cast<std::make_unsigned_t<Unit>>(units[i]);
    return all;
}
} // namespace

bool allAscii(const char *bytes, size_t n) {
    return (orOfUnits(bytes, n) & 0x8080808080808080ull) == 0;
}

bool allLatin1Units(const char16_t *units, size_t n) {
    return (orOfUnits(units, n) & 0xFF00FF00FF00FF00ull) == 0;
}

namespace {
// The UTF-16 unit at `at` in modified UTF-8 (1 to 3 bytes): its value and its length.
size_t modifiedUnitAt(const unsigned char *at, uint32_t &value) {
    if (at[0] < 0x80) {
        value = at[0];
        return 1;
    }
    if (at[0] < 0xE0) {
        value = ((at[0] & 0x1Fu) << 6) | (at[1] & 0x3Fu);
        return 2;
    }
    value = ((at[0] & 0x0Fu) << 12) | ((at[1] & 0x3Fu) << 6) | (at[2] & 0x3Fu);
    return 3;
}
} // namespace

size_t utf8FromModifiedInPlace(char *text, size_t units, bool *beyondLatin1) {
    // What differs from UTF-8: U+0000 (C0 80), which ends the text, and a
    // surrogate pair (two 3-byte units), which becomes one 4-byte character.
    // Neither grows, so the output never overtakes the input.
    auto *p = reinterpret_cast<unsigned char *>(text);
    // Up to the first of them the text stays where it is: walk it. The lead
    // bytes of U+0080..U+00FF are C2 and C3; any other but C0 has one of the
    // bits 3C set.
    unsigned leads = 0;
    size_t i = 0;
    for (; i < units; ++i) {
        const unsigned char b = *p;
        if (b < 0x80) {
            ++p;
        } else if (b < 0xE0) {
            if (b == 0xC0)
                break; // C0 80: U+0000
            leads |= b;
            p += 2;
        } else if (b == 0xED && p[1] >= 0xA0) {
            break; // a surrogate
        } else {
            leads |= b;
            p += 3;
        }
    }
    if (beyondLatin1 != nullptr)
        *beyondLatin1 = (leads & 0x3C) != 0 || i < units;
    unsigned char *q = p;
    for (; i < units; ++i) {
        uint32_t u;
        size_t len = modifiedUnitAt(p, u);
        if (u == 0)
            break; // U+0000 ends the text
        if (isHigh(u) && i + 1 < units) {
            uint32_t low;
            size_t lowLen = modifiedUnitAt(p + len, low);
            if (isLow(low)) {
                uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                p += len + lowLen;
                *q++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
                *q++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
                *q++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
                *q++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
                ++i;
                continue;
            }
        }
        if (isHigh(u) || isLow(u))
            return kNotConverted;
        if (q != p)
            std::memmove(q, p, len);
        p += len;
        q += len;
    }
    *q = '\0';
    return static_cast<size_t>(q - reinterpret_cast<unsigned char *>(text));
}

size_t singleBytesFromModifiedInPlace(const LocaleTraits &locale, char *text, size_t units) {
    const SingleByteCode &code = *locale.singleByte;
    auto *p = reinterpret_cast<unsigned char *>(text);
    unsigned char *q = p;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u;
        p += modifiedUnitAt(p, u);
        if (u == 0)
            break; // U+0000 ends the text
        if (u < 0x80) {
            *q++ = static_cast<unsigned char>(u);
            continue;
        }
        int16_t byte = code.byteOf(static_cast<char16_t>(u));
        if (byte >= 0)
            *q++ = static_cast<unsigned char>(byte);
        else if (byte == SingleByteCode::kUnmappable)
            return kNotConverted;
        else
            return kNeedUnits;
    }
    *q = '\0';
    return static_cast<size_t>(q - reinterpret_cast<unsigned char *>(text));
}

bool appendUtf8FromModified(const char *modified, size_t units, std::string &out) {
    // The bytes of the `units` units.
    const auto *p = reinterpret_cast<const unsigned char *>(modified);
    size_t bytes = 0;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u;
        bytes += modifiedUnitAt(p + bytes, u);
    }
    const size_t start = out.size();
    out.append(modified, bytes);
    out.push_back('\0');
    size_t length = utf8FromModifiedInPlace(&out[start], units);
    if (length == kNotConverted) {
        out.resize(start);
        return false;
    }
    out.resize(start + length + 1);
    return true;
}

size_t ansiCapacity(const LocaleTraits &locale, size_t n) {
    if (locale.singleByte != nullptr)
        return n + 1;
    if (locale.utf8)
        return n * 3 + 1;
    return n * MB_CUR_MAX + 1;
}

namespace {
// The C library's conversion into `out`.
size_t toAnsiPlain(const char16_t *units, size_t n, char *out, size_t room) {
    thread_local std::wstring wide;
    if (!widen(units, n, wide))
        return kNotConverted;
    size_t written = std::wcstombs(out, wide.c_str(), room);
    if (written == static_cast<size_t>(-1) || written >= room)
        return kNotConverted;
    out[written] = '\0';
    return written;
}

// A locale whose characters are single bytes: through its code, unit by unit.
size_t toSingleBytes(const LocaleTraits &locale, const char16_t *units, size_t n, char *out,
                     size_t room) {
    const SingleByteCode &code = *locale.singleByte;
    size_t i = 0;
    for (; i < n && units[i] != 0; ++i) {
        char16_t u = units[i];
        if (u < 0x80 && locale.asciiIdentity) {
            out[i] = static_cast<char>(u);
            continue;
        }
        int16_t byte = code.byteOf(u);
        if (byte >= 0) {
            out[i] = static_cast<char>(byte);
        } else if (byte == SingleByteCode::kUnmappable) {
            return kNotConverted;
        } else {
            return toAnsiPlain(units, n, out, room);
        }
    }
    out[i] = '\0';
    return i;
}

// UTF-16 to UTF-8 as the C library does it for a UTF-8 locale.
size_t toUtf8(const char16_t *units, size_t n, char *out) {
    char *p = out;
    for (size_t i = 0; i < n && units[i] != 0; ++i) {
        uint32_t u = units[i];
        if (u < 0x80) {
            *p++ = static_cast<char>(u);
        } else if (u < 0x800) {
            *p++ = static_cast<char>(0xC0 | (u >> 6));
            *p++ = static_cast<char>(0x80 | (u & 0x3F));
        } else if (isHigh(u) && i + 1 < n && isLow(units[i + 1])) {
            uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (uint32_t(units[++i]) - 0xDC00);
            *p++ = static_cast<char>(0xF0 | (cp >> 18));
            *p++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (cp & 0x3F));
        } else if (isHigh(u) || isLow(u)) {
            return kNotConverted;
        } else {
            *p++ = static_cast<char>(0xE0 | (u >> 12));
            *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    *p = '\0';
    return static_cast<size_t>(p - out);
}
} // namespace

size_t toAnsi(const LocaleTraits &locale, const char16_t *units, size_t n, char *out,
              size_t room) {
    if (locale.singleByte != nullptr && room >= n + 1)
        return toSingleBytes(locale, units, n, out, room);
    if (locale.asciiIdentity) {
        size_t ascii = 0;
        while (ascii < n && units[ascii] != 0 && units[ascii] < 0x80)
            ++ascii;
        if ((ascii == n || units[ascii] == 0) && room > ascii) {
            for (size_t i = 0; i < ascii; ++i)
                out[i] = static_cast<char>(units[i]);
            out[ascii] = '\0';
            return ascii;
        }
        if (locale.utf8 && room >= n * 3 + 1)
            return toUtf8(units, n, out);
    }
    return toAnsiPlain(units, n, out, room);
}

bool appendAnsi(const LocaleTraits &locale, const char16_t *units, size_t n, std::string &out) {
    const size_t start = out.size();
    const size_t room = ansiCapacity(locale, n);
    out.resize(start + room);
    size_t length = toAnsi(locale, units, n, &out[start], room);
    if (length == kNotConverted) {
        out.resize(start);
        return false;
    }
    out.resize(start + length + 1);
    return true;
}

bool appendAnsi(const char16_t *units, size_t n, std::string &out) {
    return appendAnsi(currentLocale(), units, n, out);
}

bool toUtf16Plain(const char *text, std::u16string &out) {
    out.clear();
    const size_t n = std::strlen(text);
    auto wide = std::make_unique<wchar_t[]>(n + 1);
    size_t count = std::mbstowcs(wide.get(), text, n + 1);
    if (count == static_cast<size_t>(-1))
        return false;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = static_cast<uint32_t>(wide[i]);
        if (kWideIsUtf16 || c < 0x10000) {
            out.push_back(static_cast<char16_t>(c));
        } else if (c <= 0x10FFFF) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            return false;
        }
    }
    return true;
}

bool toUtf16(const LocaleTraits &locale, const char *text, std::u16string &out) {
    if (locale.asciiIdentity && isAscii(text)) {
        out.assign(text, text + std::strlen(text));
        return true;
    }
    if (locale.utf8)
        return decodeUtf8(reinterpret_cast<const unsigned char *>(text), out);
    if (locale.singleByte != nullptr && locale.singleByte->decodes) {
        out.clear();
        for (const auto *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
            int32_t unit = locale.singleByte->decode[*p];
            if (unit < 0)
                return false;
            out.push_back(static_cast<char16_t>(unit));
        }
        return true;
    }
    return toUtf16Plain(text, out);
}

bool toUtf16(const char *text, std::u16string &out) { return toUtf16(currentLocale(), text, out); }

bool isModifiedUtf8(const char *bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    while (*p) {
        unsigned char b = *p;
        if (b < 0x80) {
            ++p;
        } else if ((b & 0xE0) == 0xC0) {
            if ((p[1] & 0xC0) != 0x80)
                return false;
            // Overlong forms are refused, except C0 80 for U+0000.
            if (b < 0xC2 && !(b == 0xC0 && p[1] == 0x80))
                return false;
            p += 2;
        } else if ((b & 0xF0) == 0xE0) {
            if ((p[1] & 0xC0) != 0x80 || (p[2] & 0xC0) != 0x80)
                return false;
            if (b == 0xE0 && p[1] < 0xA0)
                return false;
            p += 3;
        } else {
            return false;
        }
    }
    return true;
}

std::u16string decodeForeign(const char *bytes) {
    std::u16string out;
    if (toUtf16(bytes, out))
        return out;
    // Character by character: what the locale decodes stays, every byte it
    // cannot decode is taken as ISO-8859-1.
    out.clear();
    const char *p = bytes;
    size_t left = std::strlen(bytes);
    std::mbstate_t state{};
    while (left > 0) {
        wchar_t wc = 0;
        size_t used = std::mbrtowc(&wc, p, left, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2) || used == 0) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
            state = std::mbstate_t{};
            used = 1;
        } else {
            uint32_t c = static_cast<uint32_t>(wc);
            if (!kWideIsUtf16 && c >= 0x10000 && c <= 0x10FFFF) {
                c -= 0x10000;
                out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
                out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
            } else {
                out.push_back(static_cast<char16_t>(c));
            }
        }
        p += used;
        left -= used;
    }
    return out;
}

} // namespace oskel::text
