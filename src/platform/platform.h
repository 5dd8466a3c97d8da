// The operating-system layer: read-only registry access under HKEY_LOCAL_MACHINE
// and dynamic loading of provider libraries. One implementation per platform
// (platform_win32.cpp, platform_posix.cpp); nothing above this header includes
// an operating-system header.
#pragma once

#include <cstdint>

namespace oskel::platform {

// Registry reads follow the Win32 contract the library relies on: a value that
// does not fit the caller's buffer is a failure, never a cut.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    RegistryKey(RegistryKey &&other) noexcept;
    RegistryKey &operator=(RegistryKey &&other) noexcept;
    ~RegistryKey();

    // Opens HKEY_LOCAL_MACHINE\subkey for reading. The result is not open on
    // failure (missing key, unreadable registry).
    static RegistryKey open(const char *subkey);
    bool isOpen() const { return handle_ != nullptr; }

    // Reads value `name` (null or "" for the default value) as zero-terminated
    // text into `buffer` of `capacity` bytes. False when the key is not open,
    // the value is missing, or its data and terminator do not fit. The data's
    // registry type is not examined (a dword reads as its four bytes).
    bool readText(const char *name, char *buffer, uint32_t capacity) const;

    // Number of values of the key.
    bool valueCount(uint32_t *count) const;

    // Name of value `index` in enumeration order into `buffer` of `capacity`
    // characters, terminator included. False when there is no such value or
    // the name and its terminator do not fit.
    bool valueName(uint32_t index, char *buffer, uint32_t capacity) const;

private:
    explicit RegistryKey(void *handle) : handle_(handle) {}
    void close();
    void *handle_ = nullptr;
};

// Dynamic loading. A library handle is opaque; null means none.
using LibraryHandle = void *;
LibraryHandle loadLibrary(const char *path);
void *findSymbol(LibraryHandle library, const char *name);
void freeLibrary(LibraryHandle library);

} // namespace oskel::platform
