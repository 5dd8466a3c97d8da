// The JVM side of the Windows test bridge: a Linux library that a real JVM
// loads in place of liboskelsccih.so. It exports every native of the Java
// classes it was generated for (forwarders.inc); each forwards its call to the
// Windows side, a program under wine that runs the real oskelsccih.dll, and
// executes here, with the caller's real JNIEnv, every JNI function that the
// DLL calls meanwhile. The JVM's own checks (-Xcheck:jni) therefore see the
// DLL's JNI use as if the DLL ran in this process.
//
// Settings (environment):
//   OSKEL_WINBRIDGE_HOST   the Windows side program (winbridge-host.exe)
//   OSKEL_WINBRIDGE_DLLS   the DLLs it loads, ':'-separated Linux paths
//   OSKEL_WINBRIDGE_WINE   the wine command (default: wine)
//   OSKEL_WINBRIDGE_TIMEOUT seconds to wait for the Windows side (default 300)
#include <jni.h>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "wire.h"

extern char **environ;

namespace oskel::winbridge {
namespace {

JavaVM *gVm = nullptr;
int gListen = -1;
uint16_t gHostPort = 0;
std::atomic<bool> gHostGone{false};

// References, method and field ids as the Windows side sees them: the JVM's
// own values for a 64-bit Windows side; for a 32-bit one, small numbers that
// stand for them. A number that stands for nothing goes to the JVM as it is,
// so that a foreign reference reaches the JVM's checks instead of being
// dropped here; a stale one maps back to the stale value.
class Handles {
public:
    void setWide(bool wide) { wide_ = wide; }
    bool wide() const { return wide_; }

    uint64_t out(const void *value) {
        if (value == nullptr)
            return 0;
        const auto bits = reinterpret_cast<uintptr_t>(value);
        if (wide_)
            return bits;
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = ids_.find(bits);
        if (found != ids_.end())
            return found->second;
        const uint64_t id = kBase + kStep * values_.size();
        values_.push_back(bits);
        ids_.emplace(bits, id);
        return id;
    }

    template <typename T = jobject> T in(uint64_t id) {
        if (id == 0)
            return nullptr;
        if (wide_)
            return reinterpret_cast<T>(static_cast<uintptr_t>(id));
        std::lock_guard<std::mutex> lock(mutex_);
        if (id >= kBase && (id - kBase) % kStep == 0 && (id - kBase) / kStep < values_.size())
            return reinterpret_cast<T>(values_[(id - kBase) / kStep]);
        return reinterpret_cast<T>(static_cast<uintptr_t>(id));
    }

private:
    static constexpr uint64_t kBase = 0x10000, kStep = 16;
    bool wide_ = true;
    std::mutex mutex_;
    std::unordered_map<uintptr_t, uint64_t> ids_;
    std::vector<uintptr_t> values_;
};
Handles gHandles;

uint32_t pointerSize() { return gHandles.wide() ? 8 : 4; }

struct Lane {
    int socket = -1;
    bool broken = false;
    ~Lane() {
        if (socket >= 0)
            ::close(socket);
    }
};
thread_local Lane *tLane = nullptr;           // the lane of this thread, when it has one
thread_local std::unique_ptr<Lane> tOwnLane;  // a lane this thread opened

#define SLOT(name) (offsetof(JNINativeInterface_, name) / sizeof(void *))

// Typed JNI families, by descriptor letter.
#define OSKEL_PRIMITIVES(X)                                                                        \
    X('Z', Boolean, jboolean, z) X('B', Byte, jbyte, b) X('C', Char, jchar, c)                     \
    X('S', Short, jshort, s) X('I', Int, jint, i) X('J', Long, jlong, j) X('F', Float, jfloat, f)  \
    X('D', Double, jdouble, d)

uint64_t bitsOf(const jvalue &v, char type) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, elementSize(type));
    return bits;
}

jvalue valueOf(uint64_t bits, char type) {
    jvalue v;
    std::memset(&v, 0, sizeof v);
    if (type == 'L' || type == '[')
        v.l = gHandles.in(bits);
    else
        std::memcpy(&v, &bits, elementSize(type));
    return v;
}

uint64_t callMethod(JNIEnv *env, Reader &in) {
    const uint8_t how = in.u8();
    const char type = static_cast<char>(in.u8());
    jobject object = gHandles.in(in.u64());
    auto cls = gHandles.in<jclass>(in.u64());
    auto method = gHandles.in<jmethodID>(in.u64());
    const uint32_t count = in.u32();
    std::vector<jvalue> args(count + 1);
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        const char t = static_cast<char>(in.u8());
        args[i] = valueOf(in.u64(), t);
    }
    const jvalue *a = args.data();
    jvalue result;
    std::memset(&result, 0, sizeof result);
    if (how == 3)
        return gHandles.out(env->NewObjectA(cls, method, a));
    switch (type) {
#define OSKEL_CALL(letter, Name, ctype, field)                                                     \
    case letter:                                                                                   \
        result.field = how == 0   ? env->Call##Name##MethodA(object, method, a)                    \
                       : how == 1 ? env->CallNonvirtual##Name##MethodA(object, cls, method, a)     \
                                  : env->CallStatic##Name##MethodA(cls, method, a);                \
        return bitsOf(result, letter);
        OSKEL_PRIMITIVES(OSKEL_CALL)
#undef OSKEL_CALL
    case 'V':
        if (how == 0)
            env->CallVoidMethodA(object, method, a);
        else if (how == 1)
            env->CallNonvirtualVoidMethodA(object, cls, method, a);
        else
            env->CallStaticVoidMethodA(cls, method, a);
        return 0;
    default:
        return gHandles.out(how == 0   ? env->CallObjectMethodA(object, method, a)
                            : how == 1 ? env->CallNonvirtualObjectMethodA(object, cls, method, a)
                                       : env->CallStaticObjectMethodA(cls, method, a));
    }
}

void field(JNIEnv *env, Reader &in, Writer &out) {
    const bool set = in.u8() != 0, isStatic = in.u8() != 0;
    const char type = static_cast<char>(in.u8());
    jobject object = gHandles.in(in.u64());
    auto id = gHandles.in<jfieldID>(in.u64());
    auto cls = static_cast<jclass>(object);
    jvalue v = set ? valueOf(in.u64(), type) : jvalue{};
    switch (type) {
#define OSKEL_FIELD(letter, Name, ctype, f)                                                        \
    case letter:                                                                                   \
        if (set) {                                                                                 \
            if (isStatic) env->SetStatic##Name##Field(cls, id, v.f);                               \
            else env->Set##Name##Field(object, id, v.f);                                           \
        } else {                                                                                   \
            v.f = isStatic ? env->GetStatic##Name##Field(cls, id) : env->Get##Name##Field(object, id); \
        }                                                                                          \
        out.u64(bitsOf(v, letter));                                                                \
        return;
        OSKEL_PRIMITIVES(OSKEL_FIELD)
#undef OSKEL_FIELD
    default:
        if (set) {
            if (isStatic) env->SetStaticObjectField(cls, id, v.l);
            else env->SetObjectField(object, id, v.l);
            out.u64(0);
        } else {
            out.u64(gHandles.out(isStatic ? env->GetStaticObjectField(cls, id)
                                          : env->GetObjectField(object, id)));
        }
    }
}

void newArray(JNIEnv *env, Reader &in, Writer &out) {
    const char type = static_cast<char>(in.u8());
    const jint length = in.i32();
    jarray array = nullptr;
    switch (type) {
#define OSKEL_NEW(letter, Name, ctype, f)                                                          \
    case letter: array = env->New##Name##Array(length); break;
        OSKEL_PRIMITIVES(OSKEL_NEW)
#undef OSKEL_NEW
    }
    out.u64(gHandles.out(array));
}

void arrayRegion(JNIEnv *env, Reader &in, Writer &out) {
    const bool set = in.u8() != 0;
    const char type = static_cast<char>(in.u8());
    jarray array = gHandles.in<jarray>(in.u64());
    const jint start = in.i32(), length = in.i32();
    const size_t bytes = length > 0 ? static_cast<size_t>(length) * elementSize(type) : 0;
    std::vector<uint8_t> data(bytes);
    if (set) {
        uint32_t size = 0;
        const uint8_t *given = in.blob(size);
        if (given != nullptr)
            std::memcpy(data.data(), given, std::min<size_t>(size, bytes));
    }
    switch (type) {
#define OSKEL_REGION(letter, Name, ctype, f)                                                       \
    case letter:                                                                                   \
        if (set)                                                                                   \
            env->Set##Name##ArrayRegion(static_cast<ctype##Array>(array), start, length,           \
                                        reinterpret_cast<const ctype *>(data.data()));             \
        else                                                                                       \
            env->Get##Name##ArrayRegion(static_cast<ctype##Array>(array), start, length,           \
                                        reinterpret_cast<ctype *>(data.data()));                   \
        break;
        OSKEL_PRIMITIVES(OSKEL_REGION)
#undef OSKEL_REGION
    }
    if (!set)
        out.blob(data.data(), data.size());
}

void arrayElements(JNIEnv *env, Reader &in, Writer &out) {
    const bool release = in.u8() != 0;
    const char type = static_cast<char>(in.u8());
    jarray array = gHandles.in<jarray>(in.u64());
    if (!release) {
        void *elements = nullptr;
        switch (type) {
#define OSKEL_GET(letter, Name, ctype, f)                                                          \
    case letter: elements = env->Get##Name##ArrayElements(static_cast<ctype##Array>(array), nullptr); break;
            OSKEL_PRIMITIVES(OSKEL_GET)
#undef OSKEL_GET
        }
        out.u64(reinterpret_cast<uintptr_t>(elements));
        if (elements != nullptr) {
            const jsize length = env->GetArrayLength(array);
            out.blob(elements, static_cast<size_t>(length) * elementSize(type));
        } else {
            out.blob(nullptr, 0);
        }
        return;
    }
    void *elements = reinterpret_cast<void *>(static_cast<uintptr_t>(in.u64()));
    const jint mode = in.i32();
    uint32_t size = 0;
    const uint8_t *data = in.blob(size);
    if (mode != JNI_ABORT && data != nullptr && elements != nullptr)
        std::memcpy(elements, data, size);
    switch (type) {
#define OSKEL_RELEASE(letter, Name, ctype, f)                                                      \
    case letter:                                                                                   \
        env->Release##Name##ArrayElements(static_cast<ctype##Array>(array),                        \
                                          static_cast<ctype *>(elements), mode);                   \
        break;
        OSKEL_PRIMITIVES(OSKEL_RELEASE)
#undef OSKEL_RELEASE
    }
}

// Runs one JNI function the Windows side asked for; its results go to `out`.
void execute(JNIEnv *env, uint32_t fn, Reader &in, Writer &out) {
    std::string s1, s2;
    auto ref = [&] { return gHandles.in(in.u64()); };
    auto put = [&](const void *value) { out.u64(gHandles.out(value)); };
    switch (fn) {
    case SLOT(GetVersion): out.i32(env->GetVersion()); break;
    case SLOT(FindClass): put(env->FindClass(in.text(s1))); break;
    case SLOT(GetSuperclass): put(env->GetSuperclass(static_cast<jclass>(ref()))); break;
    case SLOT(IsAssignableFrom): {
        auto a = static_cast<jclass>(ref());
        out.u8(env->IsAssignableFrom(a, static_cast<jclass>(ref())));
        break;
    }
    case SLOT(Throw): out.i32(env->Throw(static_cast<jthrowable>(ref()))); break;
    case SLOT(ThrowNew): {
        auto cls = static_cast<jclass>(ref());
        out.i32(env->ThrowNew(cls, in.text(s1)));
        break;
    }
    case SLOT(ExceptionOccurred): put(env->ExceptionOccurred()); break;
    case SLOT(ExceptionDescribe): env->ExceptionDescribe(); break;
    case SLOT(ExceptionClear): env->ExceptionClear(); break;
    case SLOT(FatalError): env->FatalError(in.text(s1)); break;
    case SLOT(ExceptionCheck): out.u8(env->ExceptionCheck()); break;
    case SLOT(PushLocalFrame): out.i32(env->PushLocalFrame(in.i32())); break;
    case SLOT(PopLocalFrame): put(env->PopLocalFrame(ref())); break;
    case SLOT(NewGlobalRef): put(env->NewGlobalRef(ref())); break;
    case SLOT(DeleteGlobalRef): env->DeleteGlobalRef(ref()); break;
    case SLOT(DeleteLocalRef): env->DeleteLocalRef(ref()); break;
    case SLOT(IsSameObject): {
        jobject a = ref();
        out.u8(env->IsSameObject(a, ref()));
        break;
    }
    case SLOT(NewLocalRef): put(env->NewLocalRef(ref())); break;
    case SLOT(EnsureLocalCapacity): out.i32(env->EnsureLocalCapacity(in.i32())); break;
    case SLOT(AllocObject): put(env->AllocObject(static_cast<jclass>(ref()))); break;
    case SLOT(GetObjectClass): put(env->GetObjectClass(ref())); break;
    case SLOT(IsInstanceOf): {
        jobject a = ref();
        out.u8(env->IsInstanceOf(a, static_cast<jclass>(ref())));
        break;
    }
    case SLOT(GetMethodID):
    case SLOT(GetStaticMethodID):
    case SLOT(GetFieldID):
    case SLOT(GetStaticFieldID): {
        auto cls = static_cast<jclass>(ref());
        const char *name = in.text(s1), *sig = in.text(s2);
        const void *id = fn == SLOT(GetMethodID)         ? static_cast<const void *>(env->GetMethodID(cls, name, sig))
                         : fn == SLOT(GetStaticMethodID) ? static_cast<const void *>(env->GetStaticMethodID(cls, name, sig))
                         : fn == SLOT(GetFieldID)        ? static_cast<const void *>(env->GetFieldID(cls, name, sig))
                                                         : static_cast<const void *>(env->GetStaticFieldID(cls, name, sig));
        put(id);
        break;
    }
    case SLOT(NewString): {
        uint32_t size = 0;
        const uint8_t *units = in.blob(size);
        std::vector<jchar> chars(size / 2 + 1);
        if (units != nullptr)
            std::memcpy(chars.data(), units, size);
        put(env->NewString(units != nullptr ? chars.data() : nullptr, static_cast<jsize>(size / 2)));
        break;
    }
    case SLOT(GetStringLength): out.i32(env->GetStringLength(static_cast<jstring>(ref()))); break;
    case SLOT(GetStringUTFLength): out.i32(env->GetStringUTFLength(static_cast<jstring>(ref()))); break;
    case SLOT(GetStringChars): {
        auto str = static_cast<jstring>(ref());
        const jchar *chars = env->GetStringChars(str, nullptr);
        out.u64(reinterpret_cast<uintptr_t>(chars));
        if (chars != nullptr)
            out.blob(chars, static_cast<size_t>(env->GetStringLength(str)) * 2);
        else
            out.blob(nullptr, 0);
        break;
    }
    case SLOT(ReleaseStringChars): {
        auto str = static_cast<jstring>(ref());
        env->ReleaseStringChars(str, reinterpret_cast<const jchar *>(static_cast<uintptr_t>(in.u64())));
        break;
    }
    case SLOT(NewStringUTF): put(env->NewStringUTF(in.text(s1))); break;
    case SLOT(GetStringUTFChars): {
        const char *chars = env->GetStringUTFChars(static_cast<jstring>(ref()), nullptr);
        out.u64(reinterpret_cast<uintptr_t>(chars));
        out.text(chars);
        break;
    }
    case SLOT(ReleaseStringUTFChars): {
        auto str = static_cast<jstring>(ref());
        env->ReleaseStringUTFChars(str, reinterpret_cast<const char *>(static_cast<uintptr_t>(in.u64())));
        break;
    }
    case SLOT(GetArrayLength): out.i32(env->GetArrayLength(static_cast<jarray>(ref()))); break;
    case SLOT(NewObjectArray): {
        const jint length = in.i32();
        auto cls = static_cast<jclass>(ref());
        put(env->NewObjectArray(length, cls, ref()));
        break;
    }
    case SLOT(GetObjectArrayElement): {
        auto array = static_cast<jobjectArray>(ref());
        put(env->GetObjectArrayElement(array, in.i32()));
        break;
    }
    case SLOT(SetObjectArrayElement): {
        auto array = static_cast<jobjectArray>(ref());
        const jint index = in.i32();
        env->SetObjectArrayElement(array, index, ref());
        break;
    }
    case SLOT(MonitorEnter): out.i32(env->MonitorEnter(ref())); break;
    case SLOT(MonitorExit): out.i32(env->MonitorExit(ref())); break;
    case SLOT(GetStringRegion): {
        auto str = static_cast<jstring>(ref());
        const jint start = in.i32(), length = in.i32();
        std::vector<jchar> chars(length > 0 ? static_cast<size_t>(length) : 0);
        env->GetStringRegion(str, start, length, chars.data());
        out.blob(chars.data(), chars.size() * 2);
        break;
    }
    case SLOT(GetStringUTFRegion): {
        auto str = static_cast<jstring>(ref());
        const jint start = in.i32(), length = in.i32();
        // Modified UTF-8 has no zero byte: the written length is where the zeros begin.
        std::vector<char> bytes(length > 0 ? static_cast<size_t>(length) * 3 + 1 : 1, '\0');
        env->GetStringUTFRegion(str, start, length, bytes.data());
        out.blob(bytes.data(), std::strlen(bytes.data()));
        break;
    }
    case SLOT(NewWeakGlobalRef): put(env->NewWeakGlobalRef(ref())); break;
    case SLOT(DeleteWeakGlobalRef): env->DeleteWeakGlobalRef(static_cast<jweak>(ref())); break;
    case SLOT(GetObjectRefType): out.i32(env->GetObjectRefType(ref())); break;
    case SLOT(GetModule): put(env->GetModule(static_cast<jclass>(ref()))); break;
    case kFnCallMethod: out.u64(callMethod(env, in)); break;
    case kFnNewArray: newArray(env, in, out); break;
    case kFnArrayRegion: arrayRegion(env, in, out); break;
    case kFnArrayElements: arrayElements(env, in, out); break;
    case kFnField: field(env, in, out); break;
    default:
        std::fprintf(stderr, "winbridge: JNI function %u is not carried by the bridge\n", fn);
        std::fflush(stderr);
        std::abort();
    }
    if (!in.ok()) {
        std::fprintf(stderr, "winbridge: malformed request for JNI function %u\n", fn);
        std::abort();
    }
}

// Serves JNI requests on `lane` until the frame that ends the wait: a return
// (for a call) or a detach (for an attached thread). False when the Windows
// side is gone.
bool serve(JNIEnv *env, Lane &lane, uint8_t until, std::vector<uint8_t> &body) {
    for (;;) {
        uint8_t kind = 0;
        if (!receiveFrame(lane.socket, kind, body))
            return false;
        if (kind == until)
            return true;
        if (kind != kJni)
            return false;
        Reader in(body.data(), body.size());
        const uint32_t fn = in.u32();
        Writer out(kJniReply);
        execute(env, fn, in, out);
        if (!sendAll(lane.socket, out.frame()))
            return false;
    }
}

int connectTo(uint16_t port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    noDelay(s);
    return s;
}

Lane *laneOfThisThread() {
    if (tLane == nullptr) {
        tOwnLane.reset(new Lane);
        tOwnLane->socket = connectTo(gHostPort);
        tOwnLane->broken = tOwnLane->socket < 0;
        tLane = tOwnLane.get();
    }
    return tLane;
}

// A Windows thread that attached itself: its JVM thread runs here until it detaches.
void attachedThread(int socket, std::vector<uint8_t> request) {
    Reader in(request.data(), request.size());
    const bool daemon = in.u8() != 0;
    std::string name;
    const char *threadName = in.text(name);
    jobject group = gHandles.in(in.u64());
    JavaVMAttachArgs args{JNI_VERSION_1_6, const_cast<char *>(threadName), group};
    JNIEnv *env = nullptr;
    const jint status = daemon ? gVm->AttachCurrentThreadAsDaemon(reinterpret_cast<void **>(&env), &args)
                               : gVm->AttachCurrentThread(reinterpret_cast<void **>(&env), &args);
    Lane lane;
    lane.socket = socket;
    Writer reply(kJniReply);
    reply.i32(status);
    if (!sendAll(socket, reply.frame()) || status != JNI_OK)
        return;
    tLane = &lane;
    std::vector<uint8_t> body;
    const bool detached = serve(env, lane, kDetach, body);
    tLane = nullptr;
    gVm->DetachCurrentThread();
    if (detached) {
        Writer done(kJniReply);
        done.i32(JNI_OK);
        sendAll(socket, done.frame());
    }
}

void acceptAttaches() {
    for (;;) {
        const int s = ::accept(gListen, nullptr, nullptr);
        if (s < 0)
            return;
        noDelay(s);
        uint8_t kind = 0;
        std::vector<uint8_t> body;
        if (!receiveFrame(s, kind, body) || kind != kAttach) {
            ::close(s);
            continue;
        }
        std::thread(attachedThread, s, std::move(body)).detach();
    }
}

std::string setting(const char *name, const char *fallback) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// Linux path -> the same file through wine's Z: drive.
std::string windowsPath(const std::string &path) {
    std::string out = "Z:";
    for (char c : path)
        out += c == '/' ? '\\' : c;
    return out;
}

bool fail(const std::string &why) {
    std::fprintf(stderr, "winbridge: %s\n", why.c_str());
    std::fflush(stderr);
    return false;
}

bool startWindowsSide() {
    const std::string host = setting("OSKEL_WINBRIDGE_HOST", "");
    const std::string dlls = setting("OSKEL_WINBRIDGE_DLLS", "");
    if (host.empty() || dlls.empty())
        return fail("OSKEL_WINBRIDGE_HOST and OSKEL_WINBRIDGE_DLLS must name the Windows side");
    gListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (gListen < 0 || ::bind(gListen, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(gListen, 64) != 0 ||
        ::getsockname(gListen, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail("cannot listen on the loopback interface");

    std::vector<std::string> arguments{setting("OSKEL_WINBRIDGE_WINE", "wine"), host,
                                       std::to_string(ntohs(address.sin_port))};
    size_t from = 0;
    while (from <= dlls.size()) {
        const size_t to = std::min(dlls.find(':', from), dlls.size());
        if (to > from)
            arguments.push_back(windowsPath(dlls.substr(from, to - from)));
        from = to + 1;
    }
    std::vector<char *> argv;
    for (auto &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return fail("cannot start " + arguments[0]);

    pollfd waiting{gListen, POLLIN, 0};
    const int timeout = std::atoi(setting("OSKEL_WINBRIDGE_TIMEOUT", "300").c_str()) * 1000;
    if (::poll(&waiting, 1, timeout) != 1)
        return fail("the Windows side did not connect in time");
    const int control = ::accept(gListen, nullptr, nullptr);
    uint8_t kind = 0;
    std::vector<uint8_t> body;
    if (control < 0 || !receiveFrame(control, kind, body) || kind != kHello)
        return fail("the Windows side did not say hello");
    Reader hello(body.data(), body.size());
    const uint32_t size = hello.u32();
    gHostPort = static_cast<uint16_t>(hello.u32());
    std::string error;
    hello.text(error);
    if (!error.empty())
        return fail("the Windows side failed: " + error);
    gHandles.setWide(size == 8);
    // The control connection stays open for the JVM's lifetime: its end tells
    // the Windows side to go.
    std::thread(acceptAttaches).detach();
    return true;
}

} // namespace

struct Arg {
    uint8_t size;
    uint64_t bits;
};

inline Arg ref(const void *value) { return {static_cast<uint8_t>(pointerSize()), gHandles.out(value)}; }
inline Arg word(uint32_t value) { return {4, value}; }
inline Arg wide(uint64_t value) { return {8, value}; }
template <typename T> T refResult(uint64_t bits) {
    // A 32-bit native's result is EAX alone.
    return gHandles.in<T>(gHandles.wide() ? bits : bits & 0xFFFFFFFFu);
}

// Calls `symbol` of the DLL on the Windows side; returns the bits of its result.
uint64_t forward(JNIEnv *env, jclass cls, const char *symbol, std::initializer_list<Arg> args) {
    Lane *lane = laneOfThisThread();
    if (!lane->broken && !gHostGone) {
        Writer call(kCall);
        call.text(symbol).u32(static_cast<uint32_t>(args.size() + 1));
        const Arg self = ref(cls);
        call.u8(self.size).u64(self.bits);
        for (const Arg &a : args)
            call.u8(a.size).u64(a.bits);
        std::vector<uint8_t> body;
        if (sendAll(lane->socket, call.frame()) && serve(env, *lane, kReturn, body)) {
            Reader in(body.data(), body.size());
            return in.u64();
        }
        lane->broken = true;
    }
    gHostGone = true;
    if (!env->ExceptionCheck()) {
        jclass error = env->FindClass("java/lang/IllegalStateException");
        if (error != nullptr)
            env->ThrowNew(error, "the Windows side of the test bridge is gone");
    }
    return 0;
}

} // namespace oskel::winbridge

extern "C" JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM *vm, void *) {
    oskel::winbridge::gVm = vm;
    return oskel::winbridge::startWindowsSide() ? JNI_VERSION_1_8 : JNI_ERR;
}

#include "forwarders.inc"
