// Small JNI guards: every native and every Java-facing operation converts
// with these, so that nothing thrown in C++ crosses into Java and every JNI
// resource is released on every path.
#pragma once

#include <jni.h>

#include <cstdint>

namespace oskel {

// The low 32 bits of a Java long, read as a signed 32-bit number.
inline int32_t low32(jlong value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// Runs `body`, giving `fallback` if it throws (out of memory).
template <typename R, typename F> R guarded(R fallback, F &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

// A Java string's modified UTF-8 bytes, released on every path.
class UtfChars {
public:
    UtfChars(JNIEnv *env, jstring string) : env_(env), string_(string) {
        if (string_ != nullptr)
            chars_ = env_->GetStringUTFChars(string_, nullptr);
    }
    ~UtfChars() {
        if (chars_ != nullptr)
            env_->ReleaseStringUTFChars(string_, chars_);
    }
    UtfChars(const UtfChars &) = delete;
    UtfChars &operator=(const UtfChars &) = delete;
    const char *get() const { return chars_; }

private:
    JNIEnv *env_;
    jstring string_;
    const char *chars_ = nullptr;
};

// Collects Java exceptions raised while a native goes on with its work (a
// descriptor method that is missing or throws): each is taken and cleared at
// once, so that no JNI function runs with an exception pending, and the first
// is thrown again when the native returns.
class PendingExceptions {
public:
    explicit PendingExceptions(JNIEnv *env) : env_(env) {}
    ~PendingExceptions() {
        if (first_ != nullptr)
            env_->Throw(first_);
    }
    PendingExceptions(const PendingExceptions &) = delete;
    PendingExceptions &operator=(const PendingExceptions &) = delete;

    // Takes a pending exception, if any; true when there was one.
    bool take() {
        if (!env_->ExceptionCheck())
            return false;
        jthrowable thrown = env_->ExceptionOccurred();
        env_->ExceptionClear();
        if (first_ == nullptr)
            first_ = thrown;
        else
            env_->DeleteLocalRef(thrown);
        return true;
    }

private:
    JNIEnv *env_;
    jthrowable first_ = nullptr;
};

// A local reference, deleted when the guard goes.
template <typename T> class LocalRef {
public:
    LocalRef(JNIEnv *env, T ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr)
            env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef &) = delete;
    LocalRef &operator=(const LocalRef &) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    JNIEnv *env_;
    T ref_;
};

// A local frame for the references a loop creates, popped (with every
// reference made in it) when the guard goes. A run of at most kFreeRun
// references needs none (every native may hold 16 local references): they go
// when the native returns. When the VM cannot give a frame, its pending
// OutOfMemoryError is cleared and the loop deletes its references one by one
// instead (deleteEach()).
class LocalFrame {
public:
    static constexpr jint kFreeRun = 8;
    LocalFrame(JNIEnv *env, jint capacity)
        : env_(env), pushed_(capacity > kFreeRun && env->PushLocalFrame(capacity) == 0),
          deleteEach_(capacity > kFreeRun && !pushed_) {
        if (deleteEach_)
            env_->ExceptionClear();
    }
    ~LocalFrame() {
        if (pushed_)
            env_->PopLocalFrame(nullptr);
    }
    LocalFrame(const LocalFrame &) = delete;
    LocalFrame &operator=(const LocalFrame &) = delete;
    bool deleteEach() const { return deleteEach_; }

private:
    JNIEnv *env_;
    bool pushed_;
    bool deleteEach_;
};

} // namespace oskel
