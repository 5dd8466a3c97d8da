// Contents that say which they are: the crash and contention tests tell a
// whole version from a torn one by regenerating it from its first line.
#pragma once

#include <cstdint>
#include <string>

namespace lstest {

// Version `sequence` of the crash test's file: "seq N" and filler lines, from
// 64 KiB to 1 MiB long, so that writing it takes a while.
inline std::string sequenceContent(uint64_t sequence) {
    std::string data = "seq " + std::to_string(sequence) + "\n";
    const size_t size = (64u << 10) * (1 + (sequence * 7919) % 16);
    for (uint64_t line = 0; data.size() < size; ++line) {
        data += "line " + std::to_string(line) + " of version " + std::to_string(sequence) + "\n";
    }
    return data;
}

// The sequence number of a content made by sequenceContent, or false when the
// content is not one of them, whole.
inline bool parseSequenceContent(const std::string &data, uint64_t &sequence) {
    if (data.compare(0, 4, "seq ") != 0) {
        return false;
    }
    size_t end = data.find('\n');
    if (end == std::string::npos || end > 30) {
        return false;
    }
    try {
        sequence = std::stoull(data.substr(4, end - 4));
    } catch (...) {
        return false;
    }
    return data == sequenceContent(sequence);
}

} // namespace lstest
