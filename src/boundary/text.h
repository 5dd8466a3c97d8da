// Text conversion between Java's UTF-16 and 8-bit text, free of JNI so that it
// can be tested on its own.
//
// ANSI text is zero-terminated text in the multibyte encoding of the process's
// current C locale. Every conversion gives exactly what the C library's
// wcstombs and mbstowcs give; where the locale allows, it gets there faster:
// ASCII is copied byte for byte when the locale encodes it as itself, and
// UTF-8 locales are encoded and decoded directly. Where wchar_t is 32 bits a
// UTF-16 surrogate pair converts as the one character it encodes, and a lone
// surrogate cannot be converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace oskel::text {

// The code of a locale that writes every character as one byte (Latin-1, the
// Windows ANSI code pages): what each UTF-16 unit becomes and what each byte
// reads as, each asked of the C library once and then kept (text.cpp).
struct SingleByteCode;

// What the current C locale does with text, looked up once per conversion
// batch (a native call). Each thread keeps the traits of the locale it last
// saw, so that the lookup is a comparison of the locale's name.
struct LocaleTraits {
    bool asciiIdentity = false; // U+0001..U+007F convert to the same bytes and back
    bool utf8 = false;          // the locale's encoding is UTF-8
    const SingleByteCode *singleByte = nullptr; // set when every character is one byte
};
LocaleTraits currentLocale();

// The conversion into a caller's buffer, for callers that keep one: `room`
// is at least ansiCapacity(locale, n) bytes. Writes the ANSI bytes of `n`
// units (up to the first zero unit) and a terminator at `out` and returns
// their number without the terminator; kNotConverted, with nothing of
// meaning at `out`, when a character cannot be represented. Gives exactly
// what appendAnsi gives.
constexpr size_t kNotConverted = static_cast<size_t>(-1);
size_t ansiCapacity(const LocaleTraits &locale, size_t n);
size_t toAnsi(const LocaleTraits &locale, const char16_t *units, size_t n, char *out, size_t room);

// For a UTF-8 locale: turns the VM's modified UTF-8 of `units` UTF-16 units
// at `text` into the locale's text, in place (it never grows), and terminates
// it; returns its length, or kNotConverted for a lone surrogate. The same
// bytes as appendUtf8FromModified. Where `beyondLatin1` is given it tells
// whether the text held a character beyond U+00FF (or U+0000, or a surrogate).
size_t utf8FromModifiedInPlace(char *text, size_t units, bool *beyondLatin1 = nullptr);

// For a locale of single-byte characters that encodes ASCII as itself: the
// same from the VM's modified UTF-8, each unit turned in place into its byte
// (the text only shrinks). kNotConverted for a character the locale lacks;
// kNeedUnits for what only the C library converts (surrogates): the caller
// then converts the UTF-16 units with toAnsi. The same bytes as appendAnsi.
constexpr size_t kNeedUnits = static_cast<size_t>(-2);
size_t singleBytesFromModifiedInPlace(const LocaleTraits &locale, char *text, size_t units);

// True when each of the `n` bytes is below 0x80.
bool allAscii(const char *bytes, size_t n);
// True when each of the `n` UTF-16 units is at most U+00FF.
bool allLatin1Units(const char16_t *units, size_t n);

// Converts `n` UTF-16 units, up to the first zero unit, and appends the ANSI
// bytes and a terminator to `out`. Returns false, leaving `out` as it was,
// when a character cannot be represented in the locale's encoding.
bool appendAnsi(const char16_t *units, size_t n, std::string &out);
bool appendAnsi(const LocaleTraits &locale, const char16_t *units, size_t n, std::string &out);

// For a UTF-8 locale: appends the locale text of `units` UTF-16 units given
// as the VM's modified UTF-8 (as GetStringUTFRegion writes them), and a
// terminator; exactly what appendAnsi gives for those units. False, with `out`
// unchanged, for a lone surrogate.
bool appendUtf8FromModified(const char *modified, size_t units, std::string &out);

// The same through the C library alone (the reference the fast paths match).
bool appendAnsiPlain(const char16_t *units, size_t n, std::string &out);

// Converts zero-terminated ANSI text to UTF-16 units. Returns false when the
// text holds a byte sequence that is not a character of the locale's encoding.
bool toUtf16(const char *text, std::u16string &out);
bool toUtf16(const LocaleTraits &locale, const char *text, std::u16string &out);
bool toUtf16Plain(const char *text, std::u16string &out);

// How text in a UTF-8 locale reaches Java: as it is when it holds characters
// of the Basic Multilingual Plane alone (their UTF-8 is modified UTF-8 too),
// by decoding when it holds others, not at all when the C library would
// refuse it (overlong forms, encoded surrogates, cut sequences...).
enum class Utf8Kind { Invalid, Bmp, Supplementary };
Utf8Kind classifyUtf8(const char *text);

// True when every byte of the zero-terminated text is below 0x80.
bool isAscii(const char *text);

// True when `bytes` is valid modified UTF-8 as JNI's NewStringUTF reads it.
bool isModifiedUtf8(const char *bytes);

// Decodes 8-bit text that came from outside (the registry, a provider name)
// for handing to Java: through the C locale when it decodes there, otherwise
// byte by byte as ISO-8859-1. Never fails.
std::u16string decodeForeign(const char *bytes);

} // namespace oskel::text
