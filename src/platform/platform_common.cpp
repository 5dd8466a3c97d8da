// The parts of the platform layer that are the same on every platform: the
// moves and destruction of the handle-owning classes, around each platform's
// own close().
#include "platform/platform.h"

#include <cstring>
#include <new>
#include <utility>

namespace oskel::platform {

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
