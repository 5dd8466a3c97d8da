// Text conversion between Java's UTF-16 and 8-bit text, free of JNI so that it
// can be tested on its own.
//
// ANSI text is zero-terminated text in the multibyte encoding of the process's
// current C locale; conversions go through the C library (wcstombs, mbstowcs)
// and give exactly the bytes and characters it gives. Where wchar_t is 32 bits
// a UTF-16 surrogate pair converts as the one character it encodes, and a lone
// surrogate cannot be converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace oskel::text {

// Converts `n` UTF-16 units, up to the first zero unit, and appends the ANSI
// bytes and a terminator to `out`. Returns false, leaving `out` as it was,
// when a character cannot be represented in the locale's encoding.
bool appendAnsi(const char16_t *units, size_t n, std::string &out);

// Converts zero-terminated ANSI text to UTF-16 units. Returns false when the
// text holds a byte sequence that is not a character of the locale's encoding.
bool toUtf16(const char *text, std::u16string &out);

// True when `bytes` is valid modified UTF-8 as JNI's NewStringUTF reads it.
bool isModifiedUtf8(const char *bytes);

// Decodes 8-bit text that came from outside (the registry, a provider name)
// for handing to Java: through the C locale when it decodes there, otherwise
// byte by byte as ISO-8859-1. Never fails.
std::u16string decodeForeign(const char *bytes);

} // namespace oskel::text
