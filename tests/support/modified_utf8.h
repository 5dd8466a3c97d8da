// The VM's modified UTF-8 of UTF-16 units, as GetStringUTFRegion writes it:
// every unit on its own (surrogates too), U+0000 as C0 80. The text tests and
// the text fuzz target feed the conversions with it.
#pragma once

#include <cstdint>
#include <string>

namespace oskel::testsupport {

inline std::string modifiedUtf8(const std::u16string &units) {
    std::string out;
    for (char16_t c : units) {
        uint32_t u = c;
        if (u != 0 && u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

} // namespace oskel::testsupport
