// The Windows side of the test bridge: runs under wine, loads the real
// oskelsccih.dll (and any other DLL named), and calls its natives for the JVM
// side. The JNIEnv it hands them is the bridge's own: every JNI function is
// sent back over the caller's lane and executed by the real JVM with the
// caller's real JNIEnv, so references stay the JVM's, local frames and
// pending exceptions live where they would, and -Xcheck:jni judges each use.
// The JavaVM it hands out attaches a Windows thread by opening a lane of its
// own, on which the JVM side runs an attached JVM thread.
//
//   winbridge-host.exe JVM_PORT DLL...
//
// The registry file that the JVM side's tests fill (OSKELSCCIH_REGISTRY) is
// mirrored into the wine registry before every call: the Windows library reads
// the real registry.
#include <winsock2.h>
#include <windows.h>

#include <jni.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/regfile.h"
#include "wire.h"

using namespace oskel::winbridge;

namespace {

struct Lane;
struct BridgeEnv {
    const JNINativeInterface_ *functions;
    Lane *lane;
};
struct Lane {
    SOCKET socket = INVALID_SOCKET;
    BridgeEnv env{};
    DWORD thread = 0;
    bool attached = false;
};
thread_local Lane *tLane = nullptr;

JNINativeInterface_ gTable;
JNIInvokeInterface_ gInvoke;
JavaVM gVm;
std::vector<HMODULE> gDlls;
uint16_t gJvmPort = 0;

[[noreturn]] void fatal(const char *what, unsigned long number = 0) {
    std::fprintf(stderr, "winbridge host: %s %lu\n", what, number);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 70);
    for (;;) {
    }
}
// The JVM side is gone (the JVM ended): nothing is left to serve.
[[noreturn]] void gone() {
    TerminateProcess(GetCurrentProcess(), 0);
    for (;;) {
    }
}

uint64_t R(const void *p) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p)); }
template <typename T> T P(uint64_t bits) { return reinterpret_cast<T>(static_cast<uintptr_t>(bits)); }

template <typename T> T fromBits(uint64_t bits) {
    if constexpr (std::is_void_v<T>) {
        return;
    } else if constexpr (std::is_pointer_v<T>) {
        return P<T>(bits);
    } else {
        T value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
}
template <typename T> uint64_t toBits(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return R(value);
    } else {
        uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof value);
        return bits;
    }
}

Lane &laneOf(JNIEnv *env) {
    Lane *lane = reinterpret_cast<BridgeEnv *>(env)->lane;
    if (lane->thread != GetCurrentThreadId())
        fatal("a JNIEnv was used on a thread other than its own; thread", GetCurrentThreadId());
    return *lane;
}

void runCall(Lane &lane, const std::vector<uint8_t> &body);

// Waits on `lane` for a frame of kind `until`, running the natives the JVM
// side calls meanwhile (a Java method called through JNI may call one).
std::vector<uint8_t> waitFor(Lane &lane, uint8_t until) {
    std::vector<uint8_t> body;
    for (;;) {
        uint8_t kind = 0;
        if (!receiveFrame(lane.socket, kind, body))
            gone();
        if (kind == until)
            return body;
        if (kind != kCall)
            fatal("unexpected frame kind", kind);
        runCall(lane, body);
    }
}

// One JNI function, run by the JVM side: its answer.
struct Answer {
    std::vector<uint8_t> body;
    Reader in;
};
Writer jni(uint32_t fn) {
    Writer w(kJni);
    w.u32(fn);
    return w;
}
void ask(JNIEnv *env, Writer &w, Answer &answer) {
    Lane &lane = laneOf(env);
    if (!sendAll(lane.socket, w.frame()))
        gone();
    answer.body = waitFor(lane, kJniReply);
    answer.in = Reader(answer.body.data(), answer.body.size());
}

#define SLOT(name) (offsetof(JNINativeInterface_, name) / sizeof(void *))

// ---- Method signatures: what a va_list holds ---------------------------------

std::mutex gSignatureMutex;
std::unordered_map<uint64_t, std::string> gParameters; // method id -> parameter letters

std::string parameterLetters(const char *signature) {
    std::string letters;
    if (signature == nullptr || *signature != '(')
        return letters;
    for (const char *p = signature + 1; *p != '\0' && *p != ')'; ++p) {
        if (*p == '[') {
            while (*p == '[')
                ++p;
            if (*p == 'L')
                while (*p != '\0' && *p != ';')
                    ++p;
            letters += 'L';
        } else if (*p == 'L') {
            while (*p != '\0' && *p != ';')
                ++p;
            letters += 'L';
        } else {
            letters += *p;
        }
    }
    return letters;
}

std::string parametersOf(jmethodID method) {
    std::lock_guard<std::mutex> lock(gSignatureMutex);
    auto found = gParameters.find(R(method));
    if (found == gParameters.end())
        fatal("a method id that no GetMethodID of this bridge returned");
    return found->second;
}

enum How : uint8_t { kVirtual = 0, kNonvirtual = 1, kStatic = 2, kConstructor = 3 };

uint64_t invoke(JNIEnv *env, How how, char type, jobject object, jclass cls, jmethodID method,
                const jvalue *args) {
    const std::string letters = parametersOf(method);
    Writer w = jni(kFnCallMethod);
    w.u8(how).u8(static_cast<uint8_t>(type)).u64(R(object)).u64(R(cls)).u64(R(method));
    w.u32(static_cast<uint32_t>(letters.size()));
    for (size_t i = 0; i < letters.size(); ++i) {
        const char t = letters[i];
        w.u8(static_cast<uint8_t>(t));
        if (t == 'L') {
            w.u64(R(args[i].l));
        } else {
            uint64_t bits = 0;
            std::memcpy(&bits, &args[i], elementSize(t));
            w.u64(bits);
        }
    }
    Answer a;
    ask(env, w, a);
    return a.in.u64();
}

uint64_t invokeV(JNIEnv *env, How how, char type, jobject object, jclass cls, jmethodID method,
                 va_list ap) {
    const std::string letters = parametersOf(method);
    std::vector<jvalue> args(letters.size() + 1);
    for (size_t i = 0; i < letters.size(); ++i) {
        switch (letters[i]) {
        case 'Z': args[i].z = static_cast<jboolean>(va_arg(ap, int)); break;
        case 'B': args[i].b = static_cast<jbyte>(va_arg(ap, int)); break;
        case 'C': args[i].c = static_cast<jchar>(va_arg(ap, int)); break;
        case 'S': args[i].s = static_cast<jshort>(va_arg(ap, int)); break;
        case 'I': args[i].i = va_arg(ap, jint); break;
        case 'J': args[i].j = va_arg(ap, jlong); break;
        case 'F': args[i].f = static_cast<jfloat>(va_arg(ap, double)); break;
        case 'D': args[i].d = va_arg(ap, double); break;
        default: args[i].l = va_arg(ap, jobject); break;
        }
    }
    return invoke(env, how, type, object, cls, method, args.data());
}

// Virtual, static and constructor calls: (object or class, method, arguments).
template <typename T, char L, How H> T JNICALL callA(JNIEnv *env, jobject target, jmethodID m, const jvalue *a) {
    return fromBits<T>(H == kVirtual ? invoke(env, H, L, target, nullptr, m, a)
                                     : invoke(env, H, L, nullptr, static_cast<jclass>(target), m, a));
}
template <typename T, char L, How H> T JNICALL callV(JNIEnv *env, jobject target, jmethodID m, va_list ap) {
    return fromBits<T>(H == kVirtual ? invokeV(env, H, L, target, nullptr, m, ap)
                                     : invokeV(env, H, L, nullptr, static_cast<jclass>(target), m, ap));
}
template <typename T, char L, How H> T callVarargs(JNIEnv *env, jobject target, jmethodID m, ...) {
    va_list ap;
    va_start(ap, m);
    const uint64_t bits = H == kVirtual ? invokeV(env, H, L, target, nullptr, m, ap)
                                        : invokeV(env, H, L, nullptr, static_cast<jclass>(target), m, ap);
    va_end(ap);
    return fromBits<T>(bits);
}
template <typename T, char L> T JNICALL nvA(JNIEnv *env, jobject o, jclass c, jmethodID m, const jvalue *a) {
    return fromBits<T>(invoke(env, kNonvirtual, L, o, c, m, a));
}
template <typename T, char L> T JNICALL nvV(JNIEnv *env, jobject o, jclass c, jmethodID m, va_list ap) {
    return fromBits<T>(invokeV(env, kNonvirtual, L, o, c, m, ap));
}
template <typename T, char L> T nvVarargs(JNIEnv *env, jobject o, jclass c, jmethodID m, ...) {
    va_list ap;
    va_start(ap, m);
    const uint64_t bits = invokeV(env, kNonvirtual, L, o, c, m, ap);
    va_end(ap);
    return fromBits<T>(bits);
}

// ---- Fields and arrays -------------------------------------------------------

template <typename T, char L, bool Static> T JNICALL getField(JNIEnv *env, jobject o, jfieldID f) {
    Writer w = jni(kFnField);
    w.u8(0).u8(Static).u8(L).u64(R(o)).u64(R(f));
    Answer a;
    ask(env, w, a);
    return fromBits<T>(a.in.u64());
}
template <typename T, char L, bool Static> void JNICALL setField(JNIEnv *env, jobject o, jfieldID f, T value) {
    Writer w = jni(kFnField);
    w.u8(1).u8(Static).u8(L).u64(R(o)).u64(R(f)).u64(toBits(value));
    Answer a;
    ask(env, w, a);
}

template <typename A, char L> A JNICALL newArray(JNIEnv *env, jsize length) {
    Writer w = jni(kFnNewArray);
    w.u8(L).i32(length);
    Answer a;
    ask(env, w, a);
    return P<A>(a.in.u64());
}
template <typename A, typename T, char L>
void JNICALL getRegion(JNIEnv *env, A array, jsize start, jsize length, T *buffer) {
    Writer w = jni(kFnArrayRegion);
    w.u8(0).u8(L).u64(R(array)).i32(start).i32(length);
    Answer a;
    ask(env, w, a);
    uint32_t size = 0;
    const uint8_t *data = a.in.blob(size);
    if (data != nullptr && buffer != nullptr && length > 0)
        std::memcpy(buffer, data, std::min<size_t>(size, static_cast<size_t>(length) * sizeof(T)));
}
template <typename A, typename T, char L>
void JNICALL setRegion(JNIEnv *env, A array, jsize start, jsize length, const T *buffer) {
    Writer w = jni(kFnArrayRegion);
    w.u8(1).u8(L).u64(R(array)).i32(start).i32(length);
    w.blob(buffer, buffer != nullptr && length > 0 ? static_cast<size_t>(length) * sizeof(T) : 0);
    Answer a;
    ask(env, w, a);
}

// Copies handed out for Get*Chars and Get*ArrayElements, with the JVM's own
// pointer each stands for and its size. A pointer released that the bridge
// never handed out goes to the JVM as it is.
struct Copy {
    uint64_t real;
    size_t size;
};
std::mutex gCopyMutex;
std::unordered_map<const void *, Copy> gCopies;

// A copy of the bytes a Get*Chars or Get*ArrayElements answer carries (the
// JVM's pointer, then the bytes), `terminator` zero bytes longer; null when
// the JVM gave none.
template <typename T> T *takeCopy(Answer &a, jboolean *isCopy, size_t terminator) {
    const uint64_t real = a.in.u64();
    uint32_t size = 0;
    const uint8_t *data = a.in.blob(size);
    if (real == 0)
        return nullptr;
    void *copy = std::calloc(size + terminator, 1);
    if (copy == nullptr)
        fatal("out of memory for a copy of bytes", static_cast<unsigned long>(size));
    if (size > 0)
        std::memcpy(copy, data, size);
    {
        std::lock_guard<std::mutex> lock(gCopyMutex);
        gCopies[copy] = {real, size};
    }
    if (isCopy != nullptr)
        *isCopy = JNI_TRUE;
    return static_cast<T *>(copy);
}

// The record of a copy being released (`known` false, and the pointer
// itself, for one the bridge never handed out); `forget` drops the record.
Copy findCopy(const void *copy, bool forget, bool &known) {
    std::lock_guard<std::mutex> lock(gCopyMutex);
    auto found = gCopies.find(copy);
    known = found != gCopies.end();
    if (!known)
        return {R(copy), 0};
    const Copy record = found->second;
    if (forget)
        gCopies.erase(found);
    return record;
}

template <typename A, typename T, char L> T *JNICALL getElements(JNIEnv *env, A array, jboolean *isCopy) {
    Writer w = jni(kFnArrayElements);
    w.u8(0).u8(L).u64(R(array));
    Answer a;
    ask(env, w, a);
    return takeCopy<T>(a, isCopy, 0);
}
template <typename A, typename T, char L>
void JNICALL releaseElements(JNIEnv *env, A array, T *elements, jint mode) {
    bool known = false;
    const Copy copy = findCopy(elements, mode != JNI_COMMIT, known);
    Writer w = jni(kFnArrayElements);
    w.u8(1).u8(L).u64(R(array)).u64(copy.real).i32(mode);
    w.blob(known ? elements : nullptr, copy.size);
    Answer a;
    ask(env, w, a);
    if (known && mode != JNI_COMMIT)
        std::free(elements);
}

// ---- The plain functions -----------------------------------------------------

Answer simple(JNIEnv *env, uint32_t fn, std::initializer_list<uint64_t> refs) {
    Writer w = jni(fn);
    for (uint64_t r : refs)
        w.u64(r);
    Answer a;
    ask(env, w, a);
    return a;
}

jint JNICALL GetVersion(JNIEnv *env) { return simple(env, SLOT(GetVersion), {}).in.i32(); }
jclass JNICALL FindClass(JNIEnv *env, const char *name) {
    Writer w = jni(SLOT(FindClass));
    w.text(name);
    Answer a;
    ask(env, w, a);
    return P<jclass>(a.in.u64());
}
jclass JNICALL GetSuperclass(JNIEnv *env, jclass c) { return P<jclass>(simple(env, SLOT(GetSuperclass), {R(c)}).in.u64()); }
jboolean JNICALL IsAssignableFrom(JNIEnv *env, jclass a, jclass b) {
    return simple(env, SLOT(IsAssignableFrom), {R(a), R(b)}).in.u8();
}
jint JNICALL Throw(JNIEnv *env, jthrowable t) { return simple(env, SLOT(Throw), {R(t)}).in.i32(); }
jint JNICALL ThrowNew(JNIEnv *env, jclass c, const char *message) {
    Writer w = jni(SLOT(ThrowNew));
    w.u64(R(c)).text(message);
    Answer a;
    ask(env, w, a);
    return a.in.i32();
}
jthrowable JNICALL ExceptionOccurred(JNIEnv *env) { return P<jthrowable>(simple(env, SLOT(ExceptionOccurred), {}).in.u64()); }
void JNICALL ExceptionDescribe(JNIEnv *env) { simple(env, SLOT(ExceptionDescribe), {}); }
void JNICALL ExceptionClear(JNIEnv *env) { simple(env, SLOT(ExceptionClear), {}); }
void JNICALL FatalError(JNIEnv *env, const char *message) {
    Writer w = jni(SLOT(FatalError));
    w.text(message);
    Answer a;
    ask(env, w, a);
    fatal("FatalError returned");
}
jboolean JNICALL ExceptionCheck(JNIEnv *env) { return simple(env, SLOT(ExceptionCheck), {}).in.u8(); }
jint JNICALL PushLocalFrame(JNIEnv *env, jint capacity) {
    Writer w = jni(SLOT(PushLocalFrame));
    w.i32(capacity);
    Answer a;
    ask(env, w, a);
    return a.in.i32();
}
jobject JNICALL PopLocalFrame(JNIEnv *env, jobject result) { return P<jobject>(simple(env, SLOT(PopLocalFrame), {R(result)}).in.u64()); }
jobject JNICALL NewGlobalRef(JNIEnv *env, jobject o) { return P<jobject>(simple(env, SLOT(NewGlobalRef), {R(o)}).in.u64()); }
void JNICALL DeleteGlobalRef(JNIEnv *env, jobject o) { simple(env, SLOT(DeleteGlobalRef), {R(o)}); }
void JNICALL DeleteLocalRef(JNIEnv *env, jobject o) { simple(env, SLOT(DeleteLocalRef), {R(o)}); }
jboolean JNICALL IsSameObject(JNIEnv *env, jobject a, jobject b) { return simple(env, SLOT(IsSameObject), {R(a), R(b)}).in.u8(); }
jobject JNICALL NewLocalRef(JNIEnv *env, jobject o) { return P<jobject>(simple(env, SLOT(NewLocalRef), {R(o)}).in.u64()); }
jint JNICALL EnsureLocalCapacity(JNIEnv *env, jint capacity) {
    Writer w = jni(SLOT(EnsureLocalCapacity));
    w.i32(capacity);
    Answer a;
    ask(env, w, a);
    return a.in.i32();
}
jobject JNICALL AllocObject(JNIEnv *env, jclass c) { return P<jobject>(simple(env, SLOT(AllocObject), {R(c)}).in.u64()); }
jclass JNICALL GetObjectClass(JNIEnv *env, jobject o) { return P<jclass>(simple(env, SLOT(GetObjectClass), {R(o)}).in.u64()); }
jboolean JNICALL IsInstanceOf(JNIEnv *env, jobject o, jclass c) { return simple(env, SLOT(IsInstanceOf), {R(o), R(c)}).in.u8(); }

template <uint32_t Fn> void *JNICALL memberId(JNIEnv *env, jclass c, const char *name, const char *signature) {
    Writer w = jni(Fn);
    w.u64(R(c)).text(name).text(signature);
    Answer a;
    ask(env, w, a);
    const uint64_t id = a.in.u64();
    if (id != 0 && (Fn == SLOT(GetMethodID) || Fn == SLOT(GetStaticMethodID))) {
        std::lock_guard<std::mutex> lock(gSignatureMutex);
        gParameters[id] = parameterLetters(signature);
    }
    return P<void *>(id);
}

jstring JNICALL NewString(JNIEnv *env, const jchar *units, jsize length) {
    Writer w = jni(SLOT(NewString));
    if (units == nullptr)
        w.u32(0xFFFFFFFFu);
    else
        w.blob(units, length > 0 ? static_cast<size_t>(length) * 2 : 0);
    Answer a;
    ask(env, w, a);
    return P<jstring>(a.in.u64());
}
// Get/ReleaseStringChars and Get/ReleaseStringUTFChars: a copy whose release
// goes to the JVM with the JVM's own pointer.
template <typename C, uint32_t Fn, size_t Terminator>
const C *JNICALL getChars(JNIEnv *env, jstring s, jboolean *isCopy) {
    Answer a = simple(env, Fn, {R(s)});
    return takeCopy<const C>(a, isCopy, Terminator);
}
template <typename C, uint32_t Fn> void JNICALL releaseChars(JNIEnv *env, jstring s, const C *chars) {
    bool known = false;
    simple(env, Fn, {R(s), findCopy(chars, true, known).real});
    if (known)
        std::free(const_cast<C *>(chars));
}
jsize JNICALL GetStringLength(JNIEnv *env, jstring s) { return simple(env, SLOT(GetStringLength), {R(s)}).in.i32(); }
jsize JNICALL GetStringUTFLength(JNIEnv *env, jstring s) { return simple(env, SLOT(GetStringUTFLength), {R(s)}).in.i32(); }
jstring JNICALL NewStringUTF(JNIEnv *env, const char *bytes) {
    Writer w = jni(SLOT(NewStringUTF));
    w.text(bytes);
    Answer a;
    ask(env, w, a);
    return P<jstring>(a.in.u64());
}
jsize JNICALL GetArrayLength(JNIEnv *env, jarray array) { return simple(env, SLOT(GetArrayLength), {R(array)}).in.i32(); }
jobjectArray JNICALL NewObjectArray(JNIEnv *env, jsize length, jclass c, jobject initial) {
    Writer w = jni(SLOT(NewObjectArray));
    w.i32(length).u64(R(c)).u64(R(initial));
    Answer a;
    ask(env, w, a);
    return P<jobjectArray>(a.in.u64());
}
jobject JNICALL GetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index) {
    Writer w = jni(SLOT(GetObjectArrayElement));
    w.u64(R(array)).i32(index);
    Answer a;
    ask(env, w, a);
    return P<jobject>(a.in.u64());
}
void JNICALL SetObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index, jobject value) {
    Writer w = jni(SLOT(SetObjectArrayElement));
    w.u64(R(array)).i32(index).u64(R(value));
    Answer a;
    ask(env, w, a);
}
jint JNICALL MonitorEnter(JNIEnv *env, jobject o) { return simple(env, SLOT(MonitorEnter), {R(o)}).in.i32(); }
jint JNICALL MonitorExit(JNIEnv *env, jobject o) { return simple(env, SLOT(MonitorExit), {R(o)}).in.i32(); }
jint JNICALL GetJavaVM(JNIEnv *, JavaVM **vm) {
    *vm = &gVm;
    return JNI_OK;
}
void JNICALL GetStringRegion(JNIEnv *env, jstring s, jsize start, jsize length, jchar *buffer) {
    Writer w = jni(SLOT(GetStringRegion));
    w.u64(R(s)).i32(start).i32(length);
    Answer a;
    ask(env, w, a);
    uint32_t size = 0;
    const uint8_t *data = a.in.blob(size);
    if (data != nullptr && buffer != nullptr)
        std::memcpy(buffer, data, size);
}
void JNICALL GetStringUTFRegion(JNIEnv *env, jstring s, jsize start, jsize length, char *buffer) {
    Writer w = jni(SLOT(GetStringUTFRegion));
    w.u64(R(s)).i32(start).i32(length);
    Answer a;
    ask(env, w, a);
    uint32_t size = 0;
    const uint8_t *data = a.in.blob(size);
    if (buffer != nullptr) {
        if (data != nullptr)
            std::memcpy(buffer, data, size);
        buffer[size] = '\0';
    }
}
jweak JNICALL NewWeakGlobalRef(JNIEnv *env, jobject o) { return P<jweak>(simple(env, SLOT(NewWeakGlobalRef), {R(o)}).in.u64()); }
void JNICALL DeleteWeakGlobalRef(JNIEnv *env, jweak o) { simple(env, SLOT(DeleteWeakGlobalRef), {R(o)}); }
jobjectRefType JNICALL GetObjectRefType(JNIEnv *env, jobject o) {
    return static_cast<jobjectRefType>(simple(env, SLOT(GetObjectRefType), {R(o)}).in.i32());
}
jobject JNICALL GetModule(JNIEnv *env, jclass c) { return P<jobject>(simple(env, SLOT(GetModule), {R(c)}).in.u64()); }

// A slot the bridge does not carry: stops the program, naming it.
template <size_t N> void JNICALL unbridged() { fatal("JNI function not carried by the bridge: slot", N); }
template <size_t... I> void fillUnbridged(void **slots, std::index_sequence<I...>) {
    ((slots[I] = (I >= 4 && slots[I] == nullptr) ? reinterpret_cast<void *>(&unbridged<I>) : slots[I]), ...);
}

#define SET(slot, function) gTable.slot = reinterpret_cast<decltype(gTable.slot)>(function)

void fillTable() {
    std::memset(&gTable, 0, sizeof gTable);
    SET(GetVersion, &GetVersion);
    SET(FindClass, &FindClass);
    SET(GetSuperclass, &GetSuperclass);
    SET(IsAssignableFrom, &IsAssignableFrom);
    SET(Throw, &Throw);
    SET(ThrowNew, &ThrowNew);
    SET(ExceptionOccurred, &ExceptionOccurred);
    SET(ExceptionDescribe, &ExceptionDescribe);
    SET(ExceptionClear, &ExceptionClear);
    SET(FatalError, &FatalError);
    SET(ExceptionCheck, &ExceptionCheck);
    SET(PushLocalFrame, &PushLocalFrame);
    SET(PopLocalFrame, &PopLocalFrame);
    SET(NewGlobalRef, &NewGlobalRef);
    SET(DeleteGlobalRef, &DeleteGlobalRef);
    SET(DeleteLocalRef, &DeleteLocalRef);
    SET(IsSameObject, &IsSameObject);
    SET(NewLocalRef, &NewLocalRef);
    SET(EnsureLocalCapacity, &EnsureLocalCapacity);
    SET(AllocObject, &AllocObject);
    SET(GetObjectClass, &GetObjectClass);
    SET(IsInstanceOf, &IsInstanceOf);
    SET(GetMethodID, &memberId<SLOT(GetMethodID)>);
    SET(GetStaticMethodID, &memberId<SLOT(GetStaticMethodID)>);
    SET(GetFieldID, &memberId<SLOT(GetFieldID)>);
    SET(GetStaticFieldID, &memberId<SLOT(GetStaticFieldID)>);
    SET(NewString, &NewString);
    SET(GetStringLength, &GetStringLength);
    SET(GetStringChars, (&getChars<jchar, SLOT(GetStringChars), 2>));
    SET(ReleaseStringChars, (&releaseChars<jchar, SLOT(ReleaseStringChars)>));
    SET(NewStringUTF, &NewStringUTF);
    SET(GetStringUTFLength, &GetStringUTFLength);
    SET(GetStringUTFChars, (&getChars<char, SLOT(GetStringUTFChars), 1>));
    SET(ReleaseStringUTFChars, (&releaseChars<char, SLOT(ReleaseStringUTFChars)>));
    SET(GetArrayLength, &GetArrayLength);
    SET(NewObjectArray, &NewObjectArray);
    SET(GetObjectArrayElement, &GetObjectArrayElement);
    SET(SetObjectArrayElement, &SetObjectArrayElement);
    SET(MonitorEnter, &MonitorEnter);
    SET(MonitorExit, &MonitorExit);
    SET(GetJavaVM, &GetJavaVM);
    SET(GetStringRegion, &GetStringRegion);
    SET(GetStringUTFRegion, &GetStringUTFRegion);
    SET(NewWeakGlobalRef, &NewWeakGlobalRef);
    SET(DeleteWeakGlobalRef, &DeleteWeakGlobalRef);
    SET(GetObjectRefType, &GetObjectRefType);
    SET(GetModule, &GetModule);
    SET(NewObject, (&callVarargs<jobject, 'L', kConstructor>));
    SET(NewObjectV, (&callV<jobject, 'L', kConstructor>));
    SET(NewObjectA, (&callA<jobject, 'L', kConstructor>));

#define OSKEL_CALLS(Name, T, L)                                                                    \
    SET(Call##Name##Method, (&callVarargs<T, L, kVirtual>));                                       \
    SET(Call##Name##MethodV, (&callV<T, L, kVirtual>));                                            \
    SET(Call##Name##MethodA, (&callA<T, L, kVirtual>));                                            \
    SET(CallStatic##Name##Method, (&callVarargs<T, L, kStatic>));                                  \
    SET(CallStatic##Name##MethodV, (&callV<T, L, kStatic>));                                       \
    SET(CallStatic##Name##MethodA, (&callA<T, L, kStatic>));                                       \
    SET(CallNonvirtual##Name##Method, (&nvVarargs<T, L>));                                         \
    SET(CallNonvirtual##Name##MethodV, (&nvV<T, L>));                                              \
    SET(CallNonvirtual##Name##MethodA, (&nvA<T, L>));
    OSKEL_CALLS(Object, jobject, 'L')
    OSKEL_CALLS(Void, void, 'V')
#define OSKEL_TYPED(Name, T, L)                                                                    \
    OSKEL_CALLS(Name, T, L)                                                                        \
    SET(Get##Name##Field, (&getField<T, L, false>));                                               \
    SET(Set##Name##Field, (&setField<T, L, false>));                                               \
    SET(GetStatic##Name##Field, (&getField<T, L, true>));                                          \
    SET(SetStatic##Name##Field, (&setField<T, L, true>));
#define OSKEL_ARRAYS(Name, T, L)                                                                   \
    OSKEL_TYPED(Name, T, L)                                                                        \
    SET(New##Name##Array, (&newArray<T##Array, L>));                                               \
    SET(Get##Name##ArrayRegion, (&getRegion<T##Array, T, L>));                                     \
    SET(Set##Name##ArrayRegion, (&setRegion<T##Array, T, L>));                                     \
    SET(Get##Name##ArrayElements, (&getElements<T##Array, T, L>));                                 \
    SET(Release##Name##ArrayElements, (&releaseElements<T##Array, T, L>));
    OSKEL_ARRAYS(Boolean, jboolean, 'Z')
    OSKEL_ARRAYS(Byte, jbyte, 'B')
    OSKEL_ARRAYS(Char, jchar, 'C')
    OSKEL_ARRAYS(Short, jshort, 'S')
    OSKEL_ARRAYS(Int, jint, 'I')
    OSKEL_ARRAYS(Long, jlong, 'J')
    OSKEL_ARRAYS(Float, jfloat, 'F')
    OSKEL_ARRAYS(Double, jdouble, 'D')
    SET(GetObjectField, (&getField<jobject, 'L', false>));
    SET(SetObjectField, (&setField<jobject, 'L', false>));
    SET(GetStaticObjectField, (&getField<jobject, 'L', true>));
    SET(SetStaticObjectField, (&setField<jobject, 'L', true>));

    constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void *);
    fillUnbridged(reinterpret_cast<void **>(&gTable), std::make_index_sequence<kSlots>{});
}

// ---- The JavaVM ----------------------------------------------------------------

SOCKET connectToJvm() {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(gJvmPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s == INVALID_SOCKET || ::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        gone();
    noDelay(s);
    return s;
}

jint attach(void **penv, void *argument, bool daemon) {
    if (tLane != nullptr) {
        *penv = &tLane->env;
        return JNI_OK;
    }
    auto *args = static_cast<JavaVMAttachArgs *>(argument);
    Writer w(kAttach);
    w.u8(daemon ? 1 : 0).text(args != nullptr ? args->name : nullptr).u64(args != nullptr ? R(args->group) : 0);
    auto *lane = new Lane;
    lane->socket = connectToJvm();
    lane->env = {&gTable, lane};
    lane->thread = GetCurrentThreadId();
    lane->attached = true;
    if (!sendAll(lane->socket, w.frame()))
        gone();
    std::vector<uint8_t> body = waitFor(*lane, kJniReply);
    Reader in(body.data(), body.size());
    const jint status = in.i32();
    if (status != JNI_OK) {
        closesocket(lane->socket);
        delete lane;
        return status;
    }
    tLane = lane;
    *penv = &lane->env;
    return JNI_OK;
}
jint JNICALL AttachCurrentThread(JavaVM *, void **penv, void *args) { return attach(penv, args, false); }
jint JNICALL AttachCurrentThreadAsDaemon(JavaVM *, void **penv, void *args) { return attach(penv, args, true); }
jint JNICALL DetachCurrentThread(JavaVM *) {
    Lane *lane = tLane;
    if (lane == nullptr)
        return JNI_OK;
    if (!lane->attached)
        return JNI_ERR; // a thread the JVM called in on: it cannot leave in the middle of a call
    Writer w(kDetach);
    if (!sendAll(lane->socket, w.frame()))
        gone();
    waitFor(*lane, kJniReply);
    closesocket(lane->socket);
    tLane = nullptr;
    delete lane;
    return JNI_OK;
}
jint JNICALL GetEnv(JavaVM *, void **penv, jint) {
    if (tLane == nullptr) {
        *penv = nullptr;
        return JNI_EDETACHED;
    }
    *penv = &tLane->env;
    return JNI_OK;
}
jint JNICALL DestroyJavaVM(JavaVM *) { return JNI_ERR; }

// ---- The registry file, mirrored -------------------------------------------------

std::mutex gRegistryMutex;
std::string gRegistryMirrored = "\x01never";
std::vector<std::string> gKeysWritten;

std::string readFile(const std::string &path) {
    std::string bytes;
    FILE *f = path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return bytes;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        bytes.append(buffer, n);
    std::fclose(f);
    return bytes;
}

void mirrorRegistry() {
    std::lock_guard<std::mutex> lock(gRegistryMutex);
    const char *file = std::getenv("OSKELSCCIH_REGISTRY");
    const std::string bytes = readFile(file != nullptr ? file : "");
    if (bytes == gRegistryMirrored)
        return;
    gRegistryMirrored = bytes;
    for (const std::string &key : gKeysWritten)
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\SourceCodeControlProvider");
    gKeysWritten.clear();
    const auto parsed = oskel::platform::regfile::parseAll(bytes);
    for (const auto &[path, values] : parsed.keys()) {
        HKEY key = nullptr;
        if (path.empty() || RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        gKeysWritten.push_back(path);
        for (size_t i = 0; i < values.size(); ++i) {
            const auto &v = values.at(i);
            RegSetValueExA(key, v.name.c_str(), 0, v.type, reinterpret_cast<const BYTE *>(v.data.data()),
                           static_cast<DWORD>(v.data.size()));
        }
        RegCloseKey(key);
    }
}

// ---- Calls of the natives ---------------------------------------------------------

std::mutex gSymbolMutex;
std::unordered_map<std::string, void *> gSymbols;

void *symbol(const std::string &name) {
    std::lock_guard<std::mutex> lock(gSymbolMutex);
    auto found = gSymbols.find(name);
    if (found != gSymbols.end())
        return found->second;
    void *address = nullptr;
    for (HMODULE dll : gDlls)
        if ((address = reinterpret_cast<void *>(GetProcAddress(dll, name.c_str()))) != nullptr)
            break;
    if (address == nullptr) {
        std::fprintf(stderr, "winbridge host: no DLL exports %s\n", name.c_str());
        fatal("missing native");
    }
    gSymbols.emplace(name, address);
    return address;
}

using Word = uintptr_t;
template <size_t> using WordAt = Word;
template <size_t... I> uint64_t callWords(void *fn, const Word *w, std::index_sequence<I...>) {
    using Function = uint64_t(JNICALL *)(WordAt<I>...);
    return reinterpret_cast<Function>(fn)(w[I]...);
}
template <size_t N> uint64_t callWith(void *fn, const Word *w) {
    return callWords(fn, w, std::make_index_sequence<N>{});
}
template <size_t... N> constexpr auto callers(std::index_sequence<N...>) {
    return std::array<uint64_t (*)(void *, const Word *), sizeof...(N)>{&callWith<N>...};
}
constexpr auto kCallers = callers(std::make_index_sequence<33>{});

void runCall(Lane &lane, const std::vector<uint8_t> &body) {
    Reader in(body.data(), body.size());
    std::string name;
    in.text(name);
    const uint32_t count = in.u32();
    std::vector<Word> words{reinterpret_cast<Word>(&lane.env)};
    for (uint32_t i = 0; i < count && in.ok(); ++i) {
        const uint8_t size = in.u8();
        const uint64_t bits = in.u64();
        words.push_back(static_cast<Word>(bits));
        if (size == 8 && sizeof(Word) == 4)
            words.push_back(static_cast<Word>(bits >> 32));
    }
    if (!in.ok() || words.size() >= kCallers.size())
        fatal("malformed call of a native with words", static_cast<unsigned long>(words.size()));
    mirrorRegistry();
    const uint64_t result = kCallers[words.size()](symbol(name), words.data());
    Writer w(kReturn);
    w.u64(result);
    if (!sendAll(lane.socket, w.frame()))
        gone();
}

// A lane the JVM side opened for one of its threads: runs its calls.
void serveLane(SOCKET s) {
    Lane lane;
    lane.socket = s;
    lane.env = {&gTable, &lane};
    lane.thread = GetCurrentThreadId();
    tLane = &lane;
    std::vector<uint8_t> body;
    for (;;) {
        uint8_t kind = 0;
        if (!receiveFrame(s, kind, body))
            break;
        if (kind != kCall)
            fatal("unexpected frame kind on a call lane", kind);
        runCall(lane, body);
    }
    tLane = nullptr;
    closesocket(s);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: winbridge-host JVM_PORT DLL...\n");
        return 2;
    }
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 3;
    gJvmPort = static_cast<uint16_t>(std::atoi(argv[1]));
    fillTable();
    std::memset(&gInvoke, 0, sizeof gInvoke);
    gInvoke.DestroyJavaVM = &DestroyJavaVM;
    gInvoke.AttachCurrentThread = &AttachCurrentThread;
    gInvoke.DetachCurrentThread = &DetachCurrentThread;
    gInvoke.GetEnv = &GetEnv;
    gInvoke.AttachCurrentThreadAsDaemon = &AttachCurrentThreadAsDaemon;
    gVm.functions = &gInvoke;

    std::string error;
    for (int i = 2; i < argc; ++i) {
        HMODULE dll = LoadLibraryA(argv[i]);
        if (dll == nullptr)
            error += std::string(error.empty() ? "" : "; ") + "cannot load " + argv[i] + " (error " +
                     std::to_string(GetLastError()) + ")";
        else
            gDlls.push_back(dll);
    }

    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener == INVALID_SOCKET || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, 64) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        error += "cannot listen on the loopback interface";

    SOCKET control = connectToJvm();
    Writer hello(kHello);
    hello.u32(sizeof(void *)).u32(ntohs(address.sin_port)).text(error.c_str());
    if (!sendAll(control, hello.frame()) || !error.empty())
        return 1;

    std::thread([listener] {
        for (;;) {
            SOCKET s = ::accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET)
                return;
            noDelay(s);
            std::thread(serveLane, s).detach();
        }
    }).detach();

    // The control connection ends with the JVM.
    char ignored;
    while (::recv(control, &ignored, 1, 0) > 0) {
    }
    gone();
}
