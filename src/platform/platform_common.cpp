// The parts of the platform layer that are the same on every platform: the
// moves and destruction of the handle-owning classes, around each platform's
// own close(); text to paths; the cache of low-address jumps.
#include "platform/platform.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace oskel::platform {

namespace {

void appendUtf8(uint32_t c, std::string &out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xc0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xe0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (c & 0x3f));
    }
}

// UTF-8 as UTF-16 units; a surrogate's three-byte form gives that unit.
// False for an overlong form, a stray or missing continuation byte, or a
// value beyond U+10FFFF.
bool utf8ToUtf16(const char *text, std::u16string &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(text);
    while (*p != 0) {
        const unsigned char lead = *p++;
        uint32_t c;
        int more;
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            continue;
        } else if ((lead & 0xe0) == 0xc0) {
            c = lead & 0x1fu;
            more = 1;
        } else if ((lead & 0xf0) == 0xe0) {
            c = lead & 0x0fu;
            more = 2;
        } else if ((lead & 0xf8) == 0xf0) {
            c = lead & 0x07u;
            more = 3;
        } else {
            return false;
        }
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xc0) != 0x80) return false;
            c = (c << 6) | (*p & 0x3fu);
        }
        static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
        if (c < kLeast[more] || c > 0x10ffff) return false;
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            c -= 0x10000;
            out += static_cast<char16_t>(0xd800 + (c >> 10));
            out += static_cast<char16_t>(0xdc00 + (c & 0x3ff));
        }
    }
    return true;
}

} // namespace

std::string utf16ToUtf8(const char16_t *units, size_t count)
{
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint32_t c = units[i];
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < count && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000)
            c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00u);
        appendUtf8(c, out);
    }
    return out;
}

bool pathFromUtf8(const char *text, Path &out)
{
    std::u16string units;
    return text != nullptr && utf8ToUtf16(text, units) && pathFromUtf16(units.data(), units.size(), out);
}

void *lowAddressJump(void *target)
{
    if (sizeof(void *) <= 4 || reinterpret_cast<uintptr_t>(target) < 0x80000000u) return target;
    // A handful of targets for the life of the process: a list will do.
    static std::mutex lock;
    static auto *made = new std::vector<std::pair<void *, void *>>(); // never destroyed
    std::lock_guard<std::mutex> hold(lock);
    for (const auto &jump : *made)
        if (jump.first == target) return jump.second;
    void *jump = detail::newLowJump(target);
    if (jump != nullptr) made->emplace_back(target, jump);
    return jump;
}

void detail::writeLowJump(unsigned char *at, void *target)
{
    const auto address = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(target));
    at[0] = 0x48; // movabs rax, imm64
    at[1] = 0xb8;
    for (int i = 0; i < 8; ++i)
        at[2 + i] = static_cast<unsigned char>(address >> (8 * i));
    at[10] = 0xff; // jmp rax
    at[11] = 0xe0;
}

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

Channel::Channel(Channel &&other) noexcept
    : in_(other.in_), out_(other.out_), buffer_(std::move(other.buffer_)), start_(other.start_),
      end_(other.end_), systemTimeoutMs_(other.systemTimeoutMs_)
{
    other.in_ = other.out_ = kNone;
    other.dropBuffered();
    other.systemTimeoutMs_ = -1;
}

Channel &Channel::operator=(Channel &&other) noexcept
{
    if (this != &other) {
        close();
        in_ = other.in_;
        out_ = other.out_;
        buffer_ = std::move(other.buffer_);
        start_ = other.start_;
        end_ = other.end_;
        systemTimeoutMs_ = other.systemTimeoutMs_;
        other.in_ = other.out_ = kNone;
        other.dropBuffered();
        other.systemTimeoutMs_ = -1;
    }
    return *this;
}

Channel::Status Channel::read(void *data, size_t size, int32_t timeoutMs)
{
    auto *p = static_cast<uint8_t *>(data);
    for (;;) {
        const size_t buffered = end_ - start_;
        const size_t n = buffered < size ? buffered : size;
        if (n > 0) {
            std::memcpy(p, buffer_.get() + start_, n);
            p += n;
            size -= n;
            start_ += n;
        }
        if (size == 0) return Status::Ok;
        // The buffer is empty here. A part too large for it goes straight to
        // its place; anything smaller fills the buffer with what has arrived.
        if (!buffer_ && size < kReadAhead) buffer_.reset(new (std::nothrow) uint8_t[kReadAhead]);
        size_t got = 0;
        if (size >= kReadAhead || !buffer_) {
            Status status = receiveSome(p, size, timeoutMs, got);
            if (status != Status::Ok) return status;
            p += got;
            size -= got;
            if (size == 0) return Status::Ok;
            continue;
        }
        Status status = receiveSome(buffer_.get(), kReadAhead, timeoutMs, got);
        if (status != Status::Ok) return status;
        start_ = 0;
        end_ = got;
    }
}

Channel::Status Channel::readSome(void *data, size_t size, int32_t timeoutMs, size_t &got)
{
    got = 0;
    if (size == 0) return Status::Ok;
    if (start_ == end_) {
        if (!buffer_ && size < kReadAhead) buffer_.reset(new (std::nothrow) uint8_t[kReadAhead]);
        if (!buffer_ || size >= kReadAhead) return receiveSome(data, size, timeoutMs, got);
        size_t n = 0;
        Status status = receiveSome(buffer_.get(), kReadAhead, timeoutMs, n);
        if (status != Status::Ok) return status;
        start_ = 0;
        end_ = n;
    }
    const size_t buffered = end_ - start_;
    const size_t n = buffered < size ? buffered : size;
    std::memcpy(data, buffer_.get() + start_, n);
    start_ += n;
    got = n;
    return Status::Ok;
}

bool Channel::readable() { return start_ != end_ || systemReadable(); }

Channel::~Channel() { close(); }

} // namespace oskel::platform
