// Win32 platform layer: the registry under HKEY_LOCAL_MACHINE, read-only, and
// LoadLibraryA / GetProcAddress / FreeLibrary.
#include "platform/platform.h"

#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0601
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // SetThreadErrorMode
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace oskel::platform {

namespace {

HKEY keyOf(void *handle) { return static_cast<HKEY>(handle); }

} // namespace

RegistryKey::RegistryKey(RegistryKey &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

RegistryKey &RegistryKey::operator=(RegistryKey &&other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

RegistryKey::~RegistryKey() { close(); }

void RegistryKey::close()
{
    if (handle_ != nullptr) RegCloseKey(keyOf(handle_));
    handle_ = nullptr;
}

RegistryKey RegistryKey::open(const char *subkey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return RegistryKey();
    return RegistryKey(key);
}

bool RegistryKey::readText(const char *name, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    DWORD size = capacity;
    // ERROR_MORE_DATA (the value does not fit) is a failure like any other.
    if (RegQueryValueExA(keyOf(handle_), name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    // Data stored without its terminator gets one when there is room.
    if (size < capacity) {
        buffer[size] = '\0';
        return true;
    }
    return size == capacity && size > 0 && buffer[size - 1] == '\0';
}

bool RegistryKey::valueCount(uint32_t *count) const
{
    if (handle_ == nullptr || count == nullptr) return false;
    DWORD values = 0;
    if (RegQueryInfoKeyA(keyOf(handle_), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    *count = values;
    return true;
}

bool RegistryKey::valueName(uint32_t index, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    DWORD length = capacity;
    return RegEnumValueA(keyOf(handle_), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

LibraryHandle loadLibrary(const char *path)
{
    if (path == nullptr || *path == '\0') return nullptr;
    // A library that fails to load must not stop the process on a system
    // error box; the failure is reported as a null handle.
    DWORD previousMode = 0;
    BOOL modeChanged = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previousMode);
    HMODULE module = LoadLibraryA(path);
    if (modeChanged) SetThreadErrorMode(previousMode, nullptr);
    return module;
}

void *findSymbol(LibraryHandle library, const char *name)
{
    if (library == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void freeLibrary(LibraryHandle library)
{
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

} // namespace oskel::platform
