// POSIX platform layer. Libraries load through dlopen. There is no system
// registry, so registry reads are answered from a registry export file (.reg):
// the file named by OSKELSCCIH_REGISTRY, /etc/oskelsccih/registry.reg when the
// variable is unset. The file is read afresh at every RegistryKey::open, and an
// open key keeps a snapshot of its values, so edits are seen by the next open.
// A missing, unreadable or oversized file is an empty registry.
#include "platform/platform.h"
#include "platform/regfile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace oskel::platform {

namespace {

constexpr const char *kRegistryVariable = "OSKELSCCIH_REGISTRY";
constexpr const char *kDefaultRegistryFile = "/etc/oskelsccih/registry.reg";
// A provider registry is a few hundred bytes; anything near this is not one.
constexpr std::size_t kMaxRegistryFileBytes = 16u << 20;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

private:
    int fd_;
};

// The registry file's bytes, or "" when it cannot be read whole.
std::string readRegistryFile()
{
    const char *path = std::getenv(kRegistryVariable);
    if (path == nullptr) path = kDefaultRegistryFile;
    // Non-blocking, so that a FIFO without a writer cannot hang the caller.
    FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) return {};
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    if (info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > kMaxRegistryFileBytes) return {};

    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(info.st_size));
    char chunk[16384];
    while (true) {
        ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return {};
        }
        if (n == 0) break;
        // The file may have grown since fstat.
        if (bytes.size() + static_cast<std::size_t>(n) > kMaxRegistryFileBytes) return {};
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    return bytes;
}

struct KeySnapshot {
    regfile::KeyValues values;
};

const KeySnapshot *snapshotOf(void *handle) { return static_cast<const KeySnapshot *>(handle); }

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
    delete static_cast<KeySnapshot *>(handle_);
    handle_ = nullptr;
}

RegistryKey RegistryKey::open(const char *subkey)
{
    try {
        std::optional<regfile::KeyValues> values =
            regfile::parseKey(readRegistryFile(), subkey != nullptr ? subkey : "");
        if (!values) return RegistryKey();
        auto snapshot = std::make_unique<KeySnapshot>();
        snapshot->values = std::move(*values);
        return RegistryKey(snapshot.release());
    } catch (...) {
        // Out of memory: the key cannot be read.
        return RegistryKey();
    }
}

bool RegistryKey::readText(const char *name, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    const regfile::Value *value = snapshotOf(handle_)->values.find(name != nullptr ? name : "");
    if (value == nullptr) return false;
    const std::string &data = value->data;
    if (data.size() > capacity) return false;
    if (data.size() == capacity && (data.empty() || data.back() != '\0')) return false;
    std::memcpy(buffer, data.data(), data.size());
    if (data.size() < capacity) buffer[data.size()] = '\0';
    return true;
}

bool RegistryKey::valueCount(uint32_t *count) const
{
    if (handle_ == nullptr || count == nullptr) return false;
    *count = static_cast<uint32_t>(snapshotOf(handle_)->values.size());
    return true;
}

bool RegistryKey::valueName(uint32_t index, char *buffer, uint32_t capacity) const
{
    if (handle_ == nullptr || buffer == nullptr) return false;
    const regfile::KeyValues &values = snapshotOf(handle_)->values;
    if (index >= values.size()) return false;
    const std::string &name = values.at(index).name;
    if (name.size() >= capacity) return false;
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    return true;
}

LibraryHandle loadLibrary(const char *path)
{
    // dlopen takes a null or empty path as the main program: not a provider.
    if (path == nullptr || *path == '\0') return nullptr;
    return ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void *findSymbol(LibraryHandle library, const char *name)
{
    // dlsym would search every loaded object for a null handle.
    if (library == nullptr || name == nullptr) return nullptr;
    return ::dlsym(library, name);
}

void freeLibrary(LibraryHandle library)
{
    if (library != nullptr) ::dlclose(library);
}

} // namespace oskel::platform
