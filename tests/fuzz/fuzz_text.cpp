// Differential fuzz target for the text conversions: the fast paths (ASCII
// copy, direct UTF-8) must give exactly what the C library's wcstombs and
// mbstowcs give, under every locale the library is tested in, and a text that
// converted must convert back to what it was.
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "boundary/text.h"
#include "../support/modified_utf8.h"

using namespace oskel::text;

namespace {
const char *const kLocales[] = {"C", "C.UTF-8", "en_US.ISO-8859-1"};

[[noreturn]] void fail(const char *what) {
    std::fprintf(stderr, "conversion mismatch: %s\n", what);
    std::abort();
}

using oskel::testsupport::modifiedUtf8;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    if (!std::setlocale(LC_ALL, kLocales[data[0] % 3]))
        return 0;
    const LocaleTraits locale = currentLocale();
    ++data, --size;

    // UTF-16 units toward locale text.
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    std::string fast = "prefix", plain = "prefix";
    bool fastOk = appendAnsi(locale, units.data(), units.size(), fast);
    bool plainOk = appendAnsiPlain(units.data(), units.size(), plain);
    if (fastOk != plainOk || fast != plain)
        fail("UTF-16 to locale text");
    if (fastOk) {
        std::u16string back;
        if (!toUtf16(locale, fast.c_str() + 6, back))
            fail("converted text does not convert back");
        size_t end = units.find(u'\0');
        if (back != units.substr(0, end))
            fail("round trip from UTF-16");
    }

    // Under UTF-8 the VM's modified UTF-8 of the same units converts directly.
    if (locale.utf8) {
        std::string modified = modifiedUtf8(units);
        std::string direct = "prefix";
        bool directOk = appendUtf8FromModified(modified.c_str(), units.size(), direct);
        if (directOk != plainOk || direct != plain)
            fail("modified UTF-8 to UTF-8");
    }

    // In a locale of single-byte characters the modified UTF-8 narrows in place.
    if (locale.singleByte != nullptr && locale.asciiIdentity) {
        std::string modified = modifiedUtf8(units);
        modified.push_back('\0');
        size_t n = singleBytesFromModifiedInPlace(locale, &modified[0], units.size());
        if (n != kNeedUnits && ((n != kNotConverted) != plainOk ||
                                (plainOk && "prefix" + modified.substr(0, n + 1) != plain)))
            fail("modified UTF-8 to single bytes");
    }

    // Locale text toward UTF-16.
    std::string bytes(reinterpret_cast<const char *>(data), size);
    bytes = bytes.substr(0, bytes.find('\0'));
    std::u16string fastUnits, plainUnits;
    fastOk = toUtf16(locale, bytes.c_str(), fastUnits);
    plainOk = toUtf16Plain(bytes.c_str(), plainUnits);
    if (fastOk != plainOk || (fastOk && fastUnits != plainUnits))
        fail("locale text to UTF-16");
    if (fastOk) {
        std::string again;
        if (!appendAnsi(locale, fastUnits.data(), fastUnits.size(), again) ||
            again != bytes + '\0')
            fail("round trip from locale text");
    }
    (void)decodeForeign(bytes.c_str()); // never fails, never crashes
    (void)isModifiedUtf8(bytes.c_str());
    return 0;
}
