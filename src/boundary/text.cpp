#include "boundary/text.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>

namespace oskel::text {

namespace {

constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool isHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Copies the units up to the first zero into wide characters, combining
// surrogate pairs where wchar_t is wide enough. False for a lone surrogate.
bool widen(const char16_t *units, size_t n, std::wstring &wide) {
    wide.clear();
    wide.reserve(n);
    for (size_t i = 0; i < n && units[i] != 0; ++i) {
        char16_t u = units[i];
        if (kWideIsUtf16) {
            wide.push_back(static_cast<wchar_t>(u));
        } else if (isHigh(u) && i + 1 < n && isLow(units[i + 1])) {
            uint32_t cp = 0x10000 + ((uint32_t(u) - 0xD800) << 10) + (uint32_t(units[i + 1]) - 0xDC00);
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

bool appendAnsi(const char16_t *units, size_t n, std::string &out) {
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
    out[start + written] = '\0';
    return true;
}

bool toUtf16(const char *text, std::u16string &out) {
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
    out.clear();
    for (const auto *p = reinterpret_cast<const unsigned char *>(bytes); *p; ++p)
        out.push_back(static_cast<char16_t>(*p));
    return out;
}

} // namespace oskel::text
