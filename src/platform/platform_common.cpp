// The parts of the platform layer that are the same on every platform: the
// moves and destruction of the handle-owning classes, around each platform's
// own close().
#include "platform/platform.h"

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

Channel::Channel(Channel &&other) noexcept : in_(other.in_), out_(other.out_)
{
    other.in_ = other.out_ = kNone;
}

Channel &Channel::operator=(Channel &&other) noexcept
{
    if (this != &other) {
        close();
        in_ = other.in_;
        out_ = other.out_;
        other.in_ = other.out_ = kNone;
    }
    return *this;
}

Channel::~Channel() { close(); }

} // namespace oskel::platform
