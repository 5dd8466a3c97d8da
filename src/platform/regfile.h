// Reader for registry export files (.reg), the text format regedit writes and
// imports. The POSIX platform layer answers registry reads from such a file;
// this parser knows nothing of files, environment variables or the operating
// system, so it builds and is tested the same way everywhere.
//
// Format accepted:
// - Header line "Windows Registry Editor Version 5.00" or "REGEDIT4".
// - Encoding: 8-bit text, an optional UTF-8 byte-order mark (bytes are taken
//   as they stand, not validated), or UTF-16LE with its byte-order mark
//   (converted to UTF-8). LF or CRLF line ends.
// - Sections [HKEY_LOCAL_MACHINE\Path\To\Key] ("HKLM" accepted as the root
//   name). Keys under other roots are skipped with their values. A section
//   [-HKEY_LOCAL_MACHINE\Path] deletes that key and its subkeys from what has
//   been read so far. A key exists when it or one of its subkeys has a section.
//   Paths are taken as foldKeyPath below reads them.
// - Values: "Name"="text" (escapes \\ and \"; a backslash before any other
//   character stays a backslash), @="text" for the default value,
//   dword:xxxxxxxx (four little-endian bytes), hex:bb,bb,... and
//   hex(t):bb,... with "\" line continuations. "Name"=- deletes a value.
// - Blank lines and ";" comments are ignored; a line that does not parse is
//   skipped and the rest of the file still counts. Values that follow a
//   section header that does not parse belong to no key and are skipped.
//
// Key paths and value names compare case-insensitively (ASCII letters only).
// Values keep the order in which they first appear; a later duplicate replaces
// the data but keeps the first one's position, as an import into the real
// registry would. A value deleted and written again moves to the end.
//
// Data is stored as RegQueryValueExA hands it out: a string value's text with
// its terminating zero, a dword's four bytes, a binary value's bytes. String
// types written in hex (hex(1), hex(2), hex(7)) are in the file's encoding, as
// regedit reads them: UTF-16LE in a UTF-16 file (converted to UTF-8), the bytes
// as they stand in an 8-bit file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/registry_value.h"

namespace oskel::platform::regfile {

// Value types are the registry's (RegistryValue::Type).
struct Value {
    std::string name; // as written in the file; "" for the default value
    uint32_t type = RegistryValue::kNone;
    std::string data; // the bytes a registry read returns
};

// The values of one key in enumeration order.
class KeyValues {
public:
    std::size_t size() const { return values_.size(); }
    const Value &at(std::size_t index) const { return values_[index]; }
    // Value by name, ignoring ASCII case; "" is the default value.
    const Value *find(std::string_view name) const;

    // Building (used by the parser): size() and at() are valid again after
    // compact().
    void set(Value value);
    void remove(std::string_view name);
    void clear();
    void compact();

private:
    std::vector<Value> values_;
    std::vector<bool> removed_; // parallel to values_ until compact()
    std::size_t removedCount_ = 0;
    std::unordered_map<std::string, std::size_t> index_; // folded name -> position
};

// Every key of a file under HKEY_LOCAL_MACHINE.
class RegFile {
public:
    // The key at `path` (relative to HKEY_LOCAL_MACHINE, "" for the root), or
    // null when the file does not create it. A key that exists only because a
    // subkey of it has a section has no values.
    const KeyValues *find(std::string_view path) const;

    // Keys that have a section of their own, by folded path.
    const std::map<std::string, KeyValues> &keys() const { return keys_; }

private:
    friend RegFile parseAll(std::string_view bytes);
    std::map<std::string, KeyValues> keys_;
};

// Parses a whole file. A file without a valid header is an empty registry.
RegFile parseAll(std::string_view bytes);

// Parses a file for one key only: its values, or nothing when the key does
// not exist. Gives the same answer as parseAll(bytes).find(path) while
// keeping only that key's values.
std::optional<KeyValues> parseKey(std::string_view bytes, std::string_view path);

// The canonical form of a key path, as the registry reads one: ASCII letters
// lowered, a run of backslashes taken as one, trailing backslashes dropped.
// Nothing for a path that starts with a backslash.
std::optional<std::string> foldKeyPath(std::string_view path);

} // namespace oskel::platform::regfile
