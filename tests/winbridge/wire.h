// The frames between the JVM side of the Windows test bridge (a Linux library
// standing in for oskelsccih in a real JVM) and its Windows side (a program
// under wine that loads the real oskelsccih.dll and hands it a JNIEnv whose
// functions run back in the JVM).
//
// Every connection is one lane: one JVM thread paired with one Windows
// thread. A frame is a little-endian u32 length (of what follows), a kind
// byte and the kind's body. Either side, while it waits for its answer,
// serves the other side's requests on the same lane: a JNI function that
// calls a Java method whose code calls another native nests as deep as the
// real call would.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using bridge_socket = SOCKET;
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
using bridge_socket = int;
#endif

namespace oskel::winbridge {

enum Kind : uint8_t {
    kHello = 1,   // Windows -> JVM, first frame of the first lane: u32 pointer size, u32 port, text error
    kCall = 2,    // JVM -> Windows: text symbol, u32 count, count x (u8 size, u64 bits)
    kReturn = 3,  // Windows -> JVM: u64 bits of the native's result
    kJni = 4,     // Windows -> JVM: u32 function, arguments
    kJniReply = 5, // JVM -> Windows: the function's results
    kAttach = 6,  // Windows -> JVM, first frame of a lane a Windows thread opens: u8 daemon, text name, u64 group
    kDetach = 7,  // Windows -> JVM: the thread leaves the JVM; answered by kJniReply
};

// Pseudo function numbers beside the JNINativeInterface_ slot indices.
enum : uint32_t {
    kFnCallMethod = 1000,  // u8 how (0 virtual, 1 nonvirtual, 2 static, 3 constructor), u8 return type,
                           // ref object, ref class, ref method, u32 n, n x (u8 type, u64 bits)
    kFnNewArray = 1001,    // u8 element type, i32 length
    kFnArrayRegion = 1002, // u8 get(0)/set(1), u8 element type, ref array, i32 start, i32 length, [bytes]
    kFnArrayElements = 1003, // u8 get(0)/release(1), u8 type, ref array, [u64 real, i32 mode, bytes]
    kFnField = 1004,       // u8 get(0)/set(1), u8 static, u8 type, ref object, ref field, [u64 bits]
};

// Size in bytes of a Java element type (a descriptor letter).
inline uint32_t elementSize(char type) {
    switch (type) {
    case 'Z': case 'B': return 1;
    case 'C': case 'S': return 2;
    case 'I': case 'F': return 4;
    default: return 8;
    }
}

class Writer {
public:
    explicit Writer(uint8_t kind) : bytes_(5, 0) { bytes_[4] = kind; }
    Writer &u8(uint8_t v) { bytes_.push_back(v); return *this; }
    Writer &u32(uint32_t v) { return raw(&v, 4); }
    Writer &u64(uint64_t v) { return raw(&v, 8); }
    Writer &i32(int32_t v) { return raw(&v, 4); }
    Writer &raw(const void *data, size_t size) {
        const auto *p = static_cast<const uint8_t *>(data);
        bytes_.insert(bytes_.end(), p, p + size);
        return *this;
    }
    // A byte string, or none (null) with length 0xFFFFFFFF.
    Writer &text(const char *s) {
        if (s == nullptr)
            return u32(0xFFFFFFFFu);
        return blob(s, std::strlen(s));
    }
    Writer &blob(const void *data, size_t size) {
        u32(static_cast<uint32_t>(size));
        return raw(data, size);
    }
    // The frame, its length filled in.
    const std::vector<uint8_t> &frame() {
        const uint32_t length = static_cast<uint32_t>(bytes_.size() - 4);
        std::memcpy(bytes_.data(), &length, 4);
        return bytes_;
    }

private:
    std::vector<uint8_t> bytes_;
};

class Reader {
public:
    Reader() = default;
    Reader(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    uint8_t u8() { uint8_t v = 0; raw(&v, 1); return v; }
    uint32_t u32() { uint32_t v = 0; raw(&v, 4); return v; }
    int32_t i32() { int32_t v = 0; raw(&v, 4); return v; }
    uint64_t u64() { uint64_t v = 0; raw(&v, 8); return v; }
    void raw(void *out, size_t size) {
        if (static_cast<size_t>(end_ - p_) < size) {
            ok_ = false;
            std::memset(out, 0, size);
            return;
        }
        std::memcpy(out, p_, size);
        p_ += size;
    }
    // A blob: its bytes and size (null data for "none").
    const uint8_t *blob(uint32_t &size) {
        size = u32();
        if (size == 0xFFFFFFFFu) {
            size = 0;
            return nullptr;
        }
        if (static_cast<size_t>(end_ - p_) < size) {
            ok_ = false;
            size = 0;
            return nullptr;
        }
        const uint8_t *at = p_;
        p_ += size;
        return at;
    }
    // A text as a NUL-terminated string kept in `storage`; null for "none".
    const char *text(std::string &storage) {
        uint32_t size = 0;
        const uint8_t *at = blob(size);
        if (at == nullptr)
            return nullptr;
        storage.assign(reinterpret_cast<const char *>(at), size);
        return storage.c_str();
    }

private:
    const uint8_t *p_ = nullptr;
    const uint8_t *end_ = nullptr;
    bool ok_ = true;
};

inline bool sendAll(bridge_socket s, const std::vector<uint8_t> &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const int n = ::send(s, reinterpret_cast<const char *>(bytes.data()) + done,
                             static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

inline bool recvAll(bridge_socket s, void *out, size_t size) {
    auto *p = static_cast<char *>(out);
    while (size > 0) {
        const int n = ::recv(s, p, static_cast<int>(size), 0);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// One frame: its kind and body. False when the peer is gone.
inline bool receiveFrame(bridge_socket s, uint8_t &kind, std::vector<uint8_t> &body) {
    uint32_t length = 0;
    if (!recvAll(s, &length, 4) || length == 0 || length > (1u << 30))
        return false;
    body.resize(length - 1);
    return recvAll(s, &kind, 1) && (body.empty() || recvAll(s, body.data(), body.size()));
}

inline void noDelay(bridge_socket s) {
    int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
}

} // namespace oskel::winbridge
