// A registry value as the registry keeps it, shared by the registry reads of
// every platform and the .reg file reader behind the POSIX ones.
#pragma once

#include <cstdint>
#include <string>

namespace oskel::platform {

// Its type, numbered as the registry numbers them, and its bytes.
struct RegistryValue {
    enum Type : uint32_t {
        kNone = 0,
        kString = 1,
        kExpandString = 2,
        kBinary = 3,
        kDword = 4,
        kMultiString = 7,
    };
    uint32_t type = kNone;
    std::string bytes;
};

} // namespace oskel::platform
