#include "vm.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_set>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "jni_function_names.h" // kJniFunctionNames: the slots of the function table, in order

namespace oskel::jnihost {

// The local references a native may hold at once without asking for more
// (HotSpot's -Xcheck:jni warns beyond this many).
constexpr size_t kLocalCapacity = 32;

[[noreturn]] static void fatal(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fputs("\njnihost: FATAL: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    std::fflush(stderr);
    std::abort();
}

// ---- text ------------------------------------------------------------------

std::u16string utf16(std::string_view s)
{
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        char32_t c = b;
        size_t n = b < 0x80 ? 1 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : 4;
        if (n > 1) c = b & (0x3f >> (n - 1));
        for (size_t k = 1; k < n && i + k < s.size(); ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3f);
        i += n;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

static void put(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xc0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xe0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    } else {
        out.push_back(static_cast<char>(0xf0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
    }
}

std::string utf8(std::u16string_view units)
{
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < units.size() && units[i + 1] >= 0xdc00 && units[i + 1] < 0xe000)
            c = 0x10000 + ((c - 0xd800) << 10) + (units[++i] - 0xdc00);
        put(out, c);
    }
    return out;
}

// Modified UTF-8: every unit alone (surrogates too), U+0000 as C0 80.
static std::string modifiedUtf8(std::u16string_view units)
{
    std::string out;
    for (char16_t u : units) {
        if (u == 0) {
            out += "\xc0\x80";
        } else {
            put(out, u);
        }
    }
    return out;
}

// Decodes modified UTF-8; false when the bytes are not that.
static bool fromModifiedUtf8(const char *bytes, std::u16string &out)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    while (*p) {
        if (p[0] < 0x80) {
            out.push_back(p[0]);
            p += 1;
        } else if ((p[0] & 0xe0) == 0xc0 && (p[1] & 0xc0) == 0x80) {
            char16_t c = static_cast<char16_t>(((p[0] & 0x1f) << 6) | (p[1] & 0x3f));
            if (c != 0 && c < 0x80) return false;
            out.push_back(c);
            p += 2;
        } else if ((p[0] & 0xf0) == 0xe0 && (p[1] & 0xc0) == 0x80 && (p[2] & 0xc0) == 0x80) {
            char16_t c = static_cast<char16_t>(((p[0] & 0x0f) << 12) | ((p[1] & 0x3f) << 6) | (p[2] & 0x3f));
            if (c < 0x800) return false;
            out.push_back(c);
            p += 3;
        } else {
            return false;
        }
    }
    return true;
}

// ---- objects and references ----------------------------------------------

enum class Kind { Class, String, ObjectArray, IntArray, Throwable, Descriptor };

struct Method {
    std::string name;
    std::string signature;
    const Object *owner;
};

struct Object {
    Kind kind;
    const Object *cls = nullptr;     // the object's class; null for a class
    std::string name;                // a class's name; a throwable's message
    std::u16string chars;            // a string
    std::vector<Object *> elements;  // an object array
    const Object *elementClass = nullptr;
    std::vector<jint> ints;          // an int array
    Descriptor *descriptor = nullptr;
    std::deque<Method> methods;      // a class
};

struct Handle {
    enum State { Local, Global, Dead } state;
    Object *object;
    size_t frame;
};

template <typename R, typename... A> using Native = R(JNICALL *)(JNIEnv *, jclass, A...);

// How a JVM names a native: on 32-bit Windows with the stdcall decoration
// (an underscore, and an at-sign with the argument bytes) first.
template <typename R, typename... A> std::vector<std::string> jniNames(const char *method)
{
    std::string name = std::string("Java_com_vantrel_oskel_managedprojects_scci_JavaSCCInterface__1") + method;
#if defined(_WIN32) && !defined(_WIN64)
    size_t bytes = 8 + ((sizeof(A) < 4 ? 4 : sizeof(A)) + ... + 0);
    return {"_" + name + "@" + std::to_string(bytes), name};
#else
    return {name};
#endif
}


struct Natives {
#define OSKEL_NATIVES(X)                                                                                   \
    X(initialize, jlong, jstring)                                                                      \
    X(uninitialize, jlong, jlong)                                                                      \
    X(getVersion, jlong, jlong)                                                                        \
    X(getSCCName, jstring, jlong)                                                                      \
    X(getCapabilities, jlong, jlong)                                                                   \
    X(setTracing, void, jlong, jint, jstring)                                                          \
    X(getProviders, jobjectArray)                                                                      \
    X(getProviderKey, jstring, jstring)                                                                \
    X(getErrList, jobjectArray, jlong)                                                                 \
    X(openProject, jlong, jlong, jobject)                                                              \
    X(closeProject, jlong, jlong)                                                                      \
    X(getProjPath, jlong, jlong, jobject, jboolean, jboolean)                                          \
    X(reGetProjPath, jlong, jlong, jobject, jstring, jstring, jboolean, jboolean)                      \
    X(getFiles, jlong, jlong, jlong, jobjectArray)                                                     \
    X(checkout, jlong, jlong, jlong, jobjectArray, jstring)                                            \
    X(checkin, jlong, jlong, jlong, jobjectArray, jstring)                                             \
    X(uncheckout, jlong, jlong, jlong, jobjectArray)                                                   \
    X(add, jlong, jlong, jlong, jobjectArray, jstring)                                                 \
    X(remove, jlong, jlong, jlong, jobjectArray, jstring)                                              \
    X(history, jlong, jlong, jlong, jobjectArray)                                                      \
    X(diff, jlong, jlong, jstring)                                                                     \
    X(properties, jlong, jlong, jstring)                                                               \
    X(queryInfo, jintArray, jlong, jlong, jobjectArray)                                                \
    X(runScc, jlong, jlong, jlong, jobjectArray)                                                       \
    X(getCommandOptions, jlong, jlong, jlong)                                                          \
    X(checkCommandOptions, jlong, jlong, jlong)                                                        \
    X(populateList, jlong, jlong, jlong, jlong, jobjectArray)                                          \
    X(getPopulateList, jobjectArray, jlong, jlong)
#define OSKEL_MEMBER(name, ...) Native<__VA_ARGS__> name = nullptr;
    OSKEL_NATIVES(OSKEL_MEMBER)
#undef OSKEL_MEMBER
};

struct Vm::Impl {
    // The environment the natives get; `vm` finds the VM from it.
    struct Env {
        JNIEnv_ env;
        Impl *vm;
    } env{};
    JNINativeInterface_ table{};

    std::deque<Object> objects;
    std::deque<Handle> handles;
    std::unordered_set<const Handle *> known;
    std::vector<std::vector<Handle *>> frames;
    size_t liveLocals = 0;  // in the innermost frame
    bool overCapacity = false;
    // Local frames pushed in the running native: where each starts among its
    // references, and the capacity it asked for.
    struct Pushed {
        size_t from;
        size_t capacity;
    };
    std::vector<Pushed> pushed;
    size_t pushedCapacity = 0;
    std::map<std::string, Object *> classes;
    Object *pending = nullptr;
    std::map<const char *, const Object *> utfCopies; // GetStringUTFChars not yet released
    std::vector<std::string> *problems = nullptr;
    Natives natives;
    std::vector<jlong> handlesGiven;

#ifdef _WIN32
    HMODULE library = nullptr;
#else
    void *library = nullptr;
#endif

    Object *make(Kind kind, const Object *cls)
    {
        objects.push_back(Object{});
        Object &o = objects.back();
        o.kind = kind;
        o.cls = cls;
        return &o;
    }
    Object *classNamed(const std::string &name)
    {
        Object *&c = classes[name];
        if (c == nullptr) {
            c = make(Kind::Class, nullptr);
            c->name = name;
        }
        return c;
    }
    Object *newString(std::u16string chars)
    {
        Object *s = make(Kind::String, classNamed("java/lang/String"));
        s->chars = std::move(chars);
        return s;
    }

    jobject local(Object *o, const char *function)
    {
        if (o == nullptr) return nullptr;
        if (frames.empty()) fatal("%s: a local reference outside of any native", function);
        if (++liveLocals > kLocalCapacity + pushedCapacity && !overCapacity) {
            overCapacity = true;
            problems->push_back(std::string(function) + ": more than " + std::to_string(kLocalCapacity) +
                                " live local references in one native");
        }
        handles.push_back(Handle{Handle::Local, o, frames.size()});
        Handle *h = &handles.back();
        known.insert(h);
        frames.back().push_back(h);
        return reinterpret_cast<jobject>(h);
    }

    Handle *handle(jobject ref, const char *function)
    {
        auto *h = reinterpret_cast<Handle *>(ref);
        if (known.count(h) == 0) fatal("%s: %p is not a reference this VM made", function, static_cast<void *>(ref));
        if (h->state == Handle::Dead) fatal("%s: a deleted or out-of-frame local reference", function);
        if (h->state == Handle::Local && h->frame != frames.size())
            fatal("%s: a local reference of another native's frame", function);
        return h;
    }

    // The object behind a reference (null for null), of the kind expected.
    Object *deref(jobject ref, const char *function, std::initializer_list<Kind> kinds = {})
    {
        if (ref == nullptr) return nullptr;
        Object *o = handle(ref, function)->object;
        bool fits = kinds.size() == 0;
        for (Kind k : kinds) fits = fits || o->kind == k;
        if (!fits) fatal("%s: a reference of the wrong kind", function);
        return o;
    }
    Object *required(jobject ref, const char *function, std::initializer_list<Kind> kinds)
    {
        if (ref == nullptr) fatal("%s: a null reference", function);
        return deref(ref, function, kinds);
    }

    // The rule of JNI: with an exception pending only a few functions may run.
    void noPending(const char *function)
    {
        if (pending != nullptr)
            fatal("%s called with an exception pending (%s: %s)", function, pending->cls->name.c_str(),
                  pending->name.c_str());
    }
    void raise(const std::string &cls, const std::string &message)
    {
        Object *t = make(Kind::Throwable, classNamed(cls));
        t->name = message;
        pending = t;
    }
};

namespace {

Vm::Impl &vmOf(JNIEnv *env) { return *reinterpret_cast<Vm::Impl::Env *>(env)->vm; }

// ---- the JNI functions the natives use -------------------------------------

jint JNICALL jniVersion(JNIEnv *) { return JNI_VERSION_1_8; }

jclass JNICALL findClass(JNIEnv *env, const char *name)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("FindClass");
    auto it = vm.classes.find(name ? name : "");
    if (it == vm.classes.end()) {
        vm.raise("java/lang/NoClassDefFoundError", name ? name : "(null)");
        return nullptr;
    }
    return static_cast<jclass>(vm.local(it->second, "FindClass"));
}

jclass JNICALL getObjectClass(JNIEnv *env, jobject obj)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetObjectClass");
    Object *o = vm.required(obj, "GetObjectClass", {});
    if (o->kind == Kind::Class) return static_cast<jclass>(vm.local(vm.classNamed("java/lang/Class"), "GetObjectClass"));
    return static_cast<jclass>(vm.local(const_cast<Object *>(o->cls), "GetObjectClass"));
}

jmethodID JNICALL getMethodID(JNIEnv *env, jclass cls, const char *name, const char *signature)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetMethodID");
    Object *c = vm.required(cls, "GetMethodID", {Kind::Class});
    if (name == nullptr || signature == nullptr) fatal("GetMethodID: a null name or signature");
    for (Method &m : c->methods)
        if (m.name == name && m.signature == signature) return reinterpret_cast<jmethodID>(&m);
    vm.raise("java/lang/NoSuchMethodError", name);
    return nullptr;
}

// The descriptor method `id` of `obj`, checked.
Method &descriptorMethod(Vm::Impl &vm, jobject obj, jmethodID id, const char *function, const char *signature)
{
    vm.noPending(function);
    Object *o = vm.required(obj, function, {Kind::Descriptor});
    auto *m = reinterpret_cast<Method *>(id);
    bool ours = false;
    for (Method &candidate : const_cast<Object *>(o->cls)->methods) ours = ours || &candidate == m;
    if (!ours) fatal("%s: a method ID that is not one of the object's class", function);
    if (m->signature != signature) fatal("%s: method %s has signature %s", function, m->name.c_str(), m->signature.c_str());
    o->descriptor->calls.push_back(m->name);
    return *m;
}

Descriptor::Text *field(Descriptor &d, const std::string &method)
{
    static const std::pair<const char *, Descriptor::Text Descriptor::*> fields[] = {
        {"User", &Descriptor::user},           {"ProjectName", &Descriptor::projectName},
        {"LocalPath", &Descriptor::localPath}, {"AuxProjPath", &Descriptor::auxProjPath},
    };
    if (method == "reGetLocalPath") return &d.reGetLocalPath;
    for (const auto &f : fields)
        if (method.substr(3) == f.first) return &(d.*f.second);
    fatal("no descriptor field behind %s", method.c_str());
}

jobject JNICALL callObjectMethodV(JNIEnv *env, jobject obj, jmethodID id, va_list)
{
    Vm::Impl &vm = vmOf(env);
    Method &m = descriptorMethod(vm, obj, id, "CallObjectMethodV", "()Ljava/lang/String;");
    Descriptor &d = *vm.deref(obj, "CallObjectMethodV")->descriptor;
    if (d.throwing.count(m.name)) {
        vm.raise("java/lang/RuntimeException", m.name);
        return nullptr;
    }
    const Descriptor::Text &value = *field(d, m.name);
    return value ? vm.local(vm.newString(utf16(*value)), "CallObjectMethodV") : nullptr;
}

void JNICALL callVoidMethodV(JNIEnv *env, jobject obj, jmethodID id, va_list args)
{
    Vm::Impl &vm = vmOf(env);
    Method &m = descriptorMethod(vm, obj, id, "CallVoidMethodV", "(Ljava/lang/String;)V");
    jobject argument = va_arg(args, jobject);
    Object *value = vm.deref(argument, "CallVoidMethodV", {Kind::String});
    Descriptor &d = *vm.deref(obj, "CallVoidMethodV")->descriptor;
    if (d.throwing.count(m.name)) {
        vm.raise("java/lang/RuntimeException", m.name);
        return;
    }
    *field(d, m.name) = value ? std::optional<std::string>(utf8(value->chars)) : std::nullopt;
}

jstring JNICALL newString(JNIEnv *env, const jchar *units, jsize length)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("NewString");
    if (length < 0 || (length > 0 && units == nullptr)) fatal("NewString: length %d with %p", int(length), (void *)units);
    std::u16string chars(reinterpret_cast<const char16_t *>(units), static_cast<size_t>(length));
    return static_cast<jstring>(vm.local(vm.newString(std::move(chars)), "NewString"));
}

jsize JNICALL getStringLength(JNIEnv *env, jstring s)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetStringLength");
    return static_cast<jsize>(vm.required(s, "GetStringLength", {Kind::String})->chars.size());
}

// True when [start, start + length) lies in the string; raises otherwise.
bool inString(Vm::Impl &vm, const Object *s, jsize start, jsize length)
{
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > s->chars.size()) {
        vm.raise("java/lang/StringIndexOutOfBoundsException", std::to_string(start) + "+" + std::to_string(length));
        return false;
    }
    return true;
}

void JNICALL getStringRegion(JNIEnv *env, jstring str, jsize start, jsize length, jchar *buffer)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetStringRegion");
    Object *s = vm.required(str, "GetStringRegion", {Kind::String});
    if (inString(vm, s, start, length) && length > 0)
        std::memcpy(buffer, s->chars.data() + start, static_cast<size_t>(length) * sizeof(jchar));
}

void JNICALL getStringUTFRegion(JNIEnv *env, jstring str, jsize start, jsize length, char *buffer)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetStringUTFRegion");
    Object *s = vm.required(str, "GetStringUTFRegion", {Kind::String});
    if (!inString(vm, s, start, length)) return;
    // Like HotSpot: the bytes and a terminator.
    std::string bytes = modifiedUtf8(std::u16string_view(s->chars).substr(static_cast<size_t>(start), static_cast<size_t>(length)));
    std::memcpy(buffer, bytes.c_str(), bytes.size() + 1);
}

jsize JNICALL getStringUTFLength(JNIEnv *env, jstring str)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetStringUTFLength");
    return static_cast<jsize>(modifiedUtf8(vm.required(str, "GetStringUTFLength", {Kind::String})->chars).size());
}

const char *JNICALL getStringUTFChars(JNIEnv *env, jstring str, jboolean *isCopy)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetStringUTFChars");
    Object *s = vm.required(str, "GetStringUTFChars", {Kind::String});
    std::string bytes = modifiedUtf8(s->chars);
    char *copy = static_cast<char *>(std::malloc(bytes.size() + 1));
    if (copy == nullptr) fatal("GetStringUTFChars: out of memory");
    std::memcpy(copy, bytes.c_str(), bytes.size() + 1);
    vm.utfCopies[copy] = s;
    if (isCopy) *isCopy = JNI_TRUE;
    return copy;
}

void JNICALL releaseStringUTFChars(JNIEnv *env, jstring str, const char *chars)
{
    Vm::Impl &vm = vmOf(env);
    Object *s = vm.required(str, "ReleaseStringUTFChars", {Kind::String});
    auto it = vm.utfCopies.find(chars);
    if (it == vm.utfCopies.end()) fatal("ReleaseStringUTFChars: %p is no copy this VM gave", (const void *)chars);
    if (it->second != s) fatal("ReleaseStringUTFChars: the copy belongs to another string");
    vm.utfCopies.erase(it);
    std::free(const_cast<char *>(chars));
}

jstring JNICALL newStringUTF(JNIEnv *env, const char *bytes)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("NewStringUTF");
    if (bytes == nullptr) return nullptr;
    std::u16string chars;
    if (!fromModifiedUtf8(bytes, chars)) {
        std::string shown;
        for (const char *p = bytes; *p && shown.size() < 200; ++p) {
            char hex[8];
            std::snprintf(hex, sizeof hex, (*p & 0x80) ? "\\x%02x" : "%c", static_cast<unsigned char>(*p));
            shown += hex;
        }
        fatal("NewStringUTF: not modified UTF-8: \"%s\"", shown.c_str());
    }
    return static_cast<jstring>(vm.local(vm.newString(std::move(chars)), "NewStringUTF"));
}

jsize JNICALL getArrayLength(JNIEnv *env, jarray array)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetArrayLength");
    Object *a = vm.required(array, "GetArrayLength", {Kind::ObjectArray, Kind::IntArray});
    return static_cast<jsize>(a->kind == Kind::IntArray ? a->ints.size() : a->elements.size());
}

bool inArray(Vm::Impl &vm, size_t size, jsize start, jsize length)
{
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > size) {
        vm.raise("java/lang/ArrayIndexOutOfBoundsException", std::to_string(start) + "+" + std::to_string(length));
        return false;
    }
    return true;
}

jobjectArray JNICALL newObjectArray(JNIEnv *env, jsize length, jclass elementClass, jobject initial)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("NewObjectArray");
    Object *c = vm.required(elementClass, "NewObjectArray", {Kind::Class});
    Object *init = vm.deref(initial, "NewObjectArray");
    if (init != nullptr && init->cls != c) fatal("NewObjectArray: an initial element not of class %s", c->name.c_str());
    if (length < 0) {
        vm.raise("java/lang/NegativeArraySizeException", std::to_string(length));
        return nullptr;
    }
    Object *a = vm.make(Kind::ObjectArray, vm.classNamed("[L" + c->name + ";"));
    a->elementClass = c;
    a->elements.assign(static_cast<size_t>(length), init);
    return static_cast<jobjectArray>(vm.local(a, "NewObjectArray"));
}

jobject JNICALL getObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("GetObjectArrayElement");
    Object *a = vm.required(array, "GetObjectArrayElement", {Kind::ObjectArray});
    if (!inArray(vm, a->elements.size(), index, 1)) return nullptr;
    return vm.local(a->elements[static_cast<size_t>(index)], "GetObjectArrayElement");
}

void JNICALL setObjectArrayElement(JNIEnv *env, jobjectArray array, jsize index, jobject value)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("SetObjectArrayElement");
    Object *a = vm.required(array, "SetObjectArrayElement", {Kind::ObjectArray});
    Object *v = vm.deref(value, "SetObjectArrayElement");
    if (!inArray(vm, a->elements.size(), index, 1)) return;
    if (v != nullptr && v->cls != a->elementClass) {
        vm.raise("java/lang/ArrayStoreException", v->cls->name);
        return;
    }
    a->elements[static_cast<size_t>(index)] = v;
}

jintArray JNICALL newIntArray(JNIEnv *env, jsize length)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("NewIntArray");
    if (length < 0) {
        vm.raise("java/lang/NegativeArraySizeException", std::to_string(length));
        return nullptr;
    }
    Object *a = vm.make(Kind::IntArray, vm.classNamed("[I"));
    a->ints.assign(static_cast<size_t>(length), 0);
    return static_cast<jintArray>(vm.local(a, "NewIntArray"));
}

void JNICALL setIntArrayRegion(JNIEnv *env, jintArray array, jsize start, jsize length, const jint *values)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("SetIntArrayRegion");
    Object *a = vm.required(array, "SetIntArrayRegion", {Kind::IntArray});
    if (inArray(vm, a->ints.size(), start, length) && length > 0)
        std::memcpy(a->ints.data() + start, values, static_cast<size_t>(length) * sizeof(jint));
}

jint JNICALL throwObject(JNIEnv *env, jthrowable throwable)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("Throw");
    vm.pending = vm.required(throwable, "Throw", {Kind::Throwable});
    return 0;
}

jthrowable JNICALL exceptionOccurred(JNIEnv *env)
{
    Vm::Impl &vm = vmOf(env);
    return static_cast<jthrowable>(vm.local(vm.pending, "ExceptionOccurred"));
}

void JNICALL exceptionClear(JNIEnv *env) { vmOf(env).pending = nullptr; }

jboolean JNICALL exceptionCheck(JNIEnv *env) { return vmOf(env).pending ? JNI_TRUE : JNI_FALSE; }

void JNICALL deleteLocalRef(JNIEnv *env, jobject ref)
{
    Vm::Impl &vm = vmOf(env);
    if (ref == nullptr) return;
    Handle *h = vm.handle(ref, "DeleteLocalRef");
    if (h->state != Handle::Local) fatal("DeleteLocalRef: a global reference");
    h->state = Handle::Dead;
    --vm.liveLocals;
}

jint JNICALL pushLocalFrame(JNIEnv *env, jint capacity)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("PushLocalFrame");
    if (capacity < 0) fatal("PushLocalFrame: a negative capacity");
    vm.pushed.push_back({vm.frames.back().size(), static_cast<size_t>(capacity)});
    vm.pushedCapacity += static_cast<size_t>(capacity);
    return 0;
}

jobject JNICALL popLocalFrame(JNIEnv *env, jobject result)
{
    Vm::Impl &vm = vmOf(env);
    if (vm.pushed.empty()) fatal("PopLocalFrame: no frame pushed");
    Object *kept = vm.deref(result, "PopLocalFrame");
    std::vector<Handle *> &refs = vm.frames.back();
    for (size_t i = vm.pushed.back().from; i < refs.size(); ++i) {
        if (refs[i]->state == Handle::Local) {
            refs[i]->state = Handle::Dead;
            --vm.liveLocals;
        }
    }
    refs.resize(vm.pushed.back().from);
    vm.pushedCapacity -= vm.pushed.back().capacity;
    vm.pushed.pop_back();
    return vm.local(kept, "PopLocalFrame");
}

jobject JNICALL newGlobalRef(JNIEnv *env, jobject ref)
{
    Vm::Impl &vm = vmOf(env);
    vm.noPending("NewGlobalRef");
    Object *o = vm.deref(ref, "NewGlobalRef");
    if (o == nullptr) return nullptr;
    vm.handles.push_back(Handle{Handle::Global, o, 0});
    vm.known.insert(&vm.handles.back());
    return reinterpret_cast<jobject>(&vm.handles.back());
}

void JNICALL deleteGlobalRef(JNIEnv *env, jobject ref)
{
    Vm::Impl &vm = vmOf(env);
    if (ref == nullptr) return;
    Handle *h = vm.handle(ref, "DeleteGlobalRef");
    if (h->state != Handle::Global) fatal("DeleteGlobalRef: a local reference");
    h->state = Handle::Dead;
}

// Every other slot: the function's name, and the end.
template <size_t Slot> void JNICALL unimplemented(JNIEnv *)
{
    fatal("the natives called JNI function %s, which this test VM does not implement", kJniFunctionNames[Slot]);
}

constexpr size_t kSlots = sizeof(JNINativeInterface_) / sizeof(void *);
static_assert(sizeof(kJniFunctionNames) / sizeof(kJniFunctionNames[0]) == kSlots,
              "the JNI function names do not match jni.h");

template <size_t... Slot> void fillUnimplemented(void **slots, std::index_sequence<Slot...>)
{
    ((slots[Slot] = reinterpret_cast<void *>(&unimplemented<Slot>)), ...);
}

// ---- the natives -------------------------------------------------------------

} // namespace

// A native's frame: its local references die with it, an exception it leaves
// pending is what it throws, and no UTF copy may outlive it.
class Vm::Frame {
public:
    explicit Frame(Vm &vm) : vm_(vm), impl_(*vm.impl_)
    {
        if (!impl_.frames.empty()) fatal("natives do not nest here");
        impl_.frames.emplace_back();
        impl_.liveLocals = 0;
        impl_.overCapacity = false;
        impl_.pushed.clear();
        impl_.pushedCapacity = 0;
        vm_.thrown_.clear();
        cls_ = static_cast<jclass>(impl_.local(impl_.classNamed("com/vantrel/oskel/managedprojects/scci/JavaSCCInterface"), "call"));
    }
    ~Frame()
    {
        if (impl_.pending) {
            vm_.thrown_ = impl_.pending->cls->name + ": " + impl_.pending->name;
            impl_.pending = nullptr;
        }
        if (!impl_.pushed.empty())
            vm_.problems_.push_back(std::to_string(impl_.pushed.size()) + " local frames not popped");
        for (Handle *h : impl_.frames.back())
            if (h->state == Handle::Local) h->state = Handle::Dead;
        impl_.frames.pop_back();
        if (!impl_.utfCopies.empty()) {
            vm_.problems_.push_back(std::to_string(impl_.utfCopies.size()) + " GetStringUTFChars copies not released");
            impl_.utfCopies.clear();
        }
    }
    JNIEnv *env() { return reinterpret_cast<JNIEnv *>(&impl_.env); }
    jclass cls() { return cls_; }
    template <typename T> T arg(Object *o) { return static_cast<T>(impl_.local(o, "call")); }
    // A result, read while its reference lives.
    Object *result(jobject ref) { return impl_.deref(ref, "the native's result"); }
    Natives &natives() { return impl_.natives; }

private:
    Vm &vm_;
    Vm::Impl &impl_;
    jclass cls_;
};

Vm::Vm() : impl_(std::make_unique<Impl>())
{
    Impl &vm = *impl_;
    vm.problems = &problems_;
    void *slots[kSlots];
    fillUnimplemented(slots, std::make_index_sequence<kSlots>());
    std::memcpy(static_cast<void *>(&vm.table), slots, sizeof slots);
    JNINativeInterface_ &t = vm.table;
    t.GetVersion = jniVersion;
    t.FindClass = findClass;
    t.GetObjectClass = getObjectClass;
    t.GetMethodID = getMethodID;
    t.CallObjectMethodV = callObjectMethodV;
    t.CallVoidMethodV = callVoidMethodV;
    t.NewString = newString;
    t.GetStringLength = getStringLength;
    t.GetStringRegion = getStringRegion;
    t.GetStringUTFRegion = getStringUTFRegion;
    t.GetStringUTFLength = getStringUTFLength;
    t.GetStringUTFChars = getStringUTFChars;
    t.ReleaseStringUTFChars = releaseStringUTFChars;
    t.NewStringUTF = newStringUTF;
    t.GetArrayLength = getArrayLength;
    t.NewObjectArray = newObjectArray;
    t.GetObjectArrayElement = getObjectArrayElement;
    t.SetObjectArrayElement = setObjectArrayElement;
    t.NewIntArray = newIntArray;
    t.SetIntArrayRegion = setIntArrayRegion;
    t.Throw = throwObject;
    t.ExceptionOccurred = exceptionOccurred;
    t.ExceptionClear = exceptionClear;
    t.ExceptionCheck = exceptionCheck;
    t.DeleteLocalRef = deleteLocalRef;
    t.PushLocalFrame = pushLocalFrame;
    t.PopLocalFrame = popLocalFrame;
    t.NewGlobalRef = newGlobalRef;
    t.DeleteGlobalRef = deleteGlobalRef;
    vm.env.env.functions = &vm.table;
    vm.env.vm = &vm;
    for (const char *name : {"java/lang/String", "java/lang/Object", "java/lang/Class"}) vm.classNamed(name);
}

Vm::~Vm()
{
    // The library stays loaded, as in a JVM: its objects live to the end of
    // the process.
}

bool Vm::load(const std::string &path)
{
    Impl &vm = *impl_;
#ifdef _WIN32
    vm.library = LoadLibraryA(path.c_str());
    auto symbol = [&](const std::string &name) { return reinterpret_cast<void *>(GetProcAddress(vm.library, name.c_str())); };
#else
    vm.library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto symbol = [&](const std::string &name) { return dlsym(vm.library, name.c_str()); };
#endif
    if (vm.library == nullptr) {
        error_ = "cannot load " + path;
        return false;
    }
    // A JVM would call JNI_OnLoad with its JavaVM, which this one lacks.
    if (symbol("JNI_OnLoad") != nullptr) {
        error_ = path + " exports JNI_OnLoad, which needs a JavaVM this test VM does not have";
        return false;
    }
    Natives &n = vm.natives;
#define OSKEL_FIND(name, ...)                                                                                   \
    for (const std::string &candidate : jniNames<__VA_ARGS__>(#name))                                        \
        if (n.name == nullptr) n.name = reinterpret_cast<decltype(n.name)>(symbol(candidate));                 \
    if (n.name == nullptr) {                                                                                    \
        error_ = path + " has no native _" #name;                                                               \
        return false;                                                                                           \
    }
    OSKEL_NATIVES(OSKEL_FIND)
#undef OSKEL_FIND
    return true;
}

// ---- objects for the tests ----------------------------------------------------

Object *Vm::string(std::string_view text) { return impl_->newString(utf16(text)); }

Object *Vm::stringArray(const Strings &elements)
{
    Object *a = impl_->make(Kind::ObjectArray, impl_->classNamed("[Ljava/lang/String;"));
    a->elementClass = impl_->classNamed("java/lang/String");
    for (const auto &e : elements) a->elements.push_back(e ? string(*e) : nullptr);
    return a;
}

Object *Vm::descriptor(Descriptor &state)
{
    static const char *const getters[] = {"getUser", "getProjectName", "getLocalPath", "getAuxProjPath", "reGetLocalPath"};
    static const char *const setters[] = {"setUser", "setProjectName", "setLocalPath", "setAuxProjPath"};
    // A class of its own: each descriptor may lack other methods.
    Object *cls = impl_->make(Kind::Class, nullptr);
    cls->name = "ProjDescriptor" + std::to_string(impl_->objects.size());
    for (const char *g : getters)
        if (!state.missing.count(g)) cls->methods.push_back(Method{g, "()Ljava/lang/String;", cls});
    for (const char *s : setters)
        if (!state.missing.count(s)) cls->methods.push_back(Method{s, "(Ljava/lang/String;)V", cls});
    Object *d = impl_->make(Kind::Descriptor, cls);
    d->descriptor = &state;
    return d;
}

std::optional<std::string> Vm::text(const Object *s)
{
    if (s == nullptr) return std::nullopt;
    if (s->kind != Kind::String) fatal("a result that is not a string");
    return utf8(s->chars);
}

std::optional<Strings> Vm::strings(const Object *a)
{
    if (a == nullptr) return std::nullopt;
    if (a->kind != Kind::ObjectArray || a->elementClass == nullptr || a->elementClass->name != "java/lang/String")
        fatal("a result that is not a String[]");
    Strings out;
    for (const Object *e : a->elements) out.push_back(text(e));
    return out;
}

std::optional<std::vector<int>> Vm::ints(const Object *a)
{
    if (a == nullptr) return std::nullopt;
    if (a->kind != Kind::IntArray) fatal("a result that is not an int[]");
    return std::vector<int>(a->ints.begin(), a->ints.end());
}

// ---- the natives' wrappers ----------------------------------------------------------

#define OSKEL_LONG(name, ...)                                                                                    \
    {                                                                                                            \
        Frame f(*this);                                                                                          \
        return f.natives().name(f.env(), f.cls(), __VA_ARGS__);                                                \
    }
#define OSKEL_OBJECT(name, ...)                                                                                  \
    {                                                                                                            \
        Frame f(*this);                                                                                          \
        return f.result(f.natives().name(f.env(), f.cls(), __VA_ARGS__));                                     \
    }

jlong Vm::initialize(Object *key)
{
    Frame f(*this);
    jlong handle = f.natives().initialize(f.env(), f.cls(), f.arg<jstring>(key));
    // The object behind a handle lives to the end of the process, and the Java
    // side keeps the handle: so does this VM (which also tells LeakSanitizer).
    if (handle != 0) impl_->handlesGiven.push_back(handle);
    return handle;
}
jlong Vm::uninitialize(jlong h) OSKEL_LONG(uninitialize, h)
jlong Vm::getVersion(jlong h) OSKEL_LONG(getVersion, h)
Object *Vm::getSCCName(jlong h) OSKEL_OBJECT(getSCCName, h)
jlong Vm::getCapabilities(jlong h) OSKEL_LONG(getCapabilities, h)
void Vm::setTracing(jlong h, jint level, Object *path) OSKEL_LONG(setTracing, h, level, f.arg<jstring>(path))
Object *Vm::getProviders()
{
    Frame f(*this);
    return f.result(f.natives().getProviders(f.env(), f.cls()));
}
Object *Vm::getProviderKey(Object *name) OSKEL_OBJECT(getProviderKey, f.arg<jstring>(name))
Object *Vm::getErrList(jlong h) OSKEL_OBJECT(getErrList, h)
jlong Vm::openProject(jlong h, Object *d) OSKEL_LONG(openProject, h, f.arg<jobject>(d))
jlong Vm::closeProject(jlong h) OSKEL_LONG(closeProject, h)
jlong Vm::getProjPath(jlong h, Object *d, bool change, bool isNew)
    OSKEL_LONG(getProjPath, h, f.arg<jobject>(d), jboolean(change), jboolean(isNew))
jlong Vm::reGetProjPath(jlong h, Object *d, Object *user, Object *local, bool change, bool isNew)
    OSKEL_LONG(reGetProjPath, h, f.arg<jobject>(d), f.arg<jstring>(user), f.arg<jstring>(local), jboolean(change),
               jboolean(isNew))
jlong Vm::getFiles(jlong h, jlong n, Object *files) OSKEL_LONG(getFiles, h, n, f.arg<jobjectArray>(files))
jlong Vm::checkout(jlong h, jlong n, Object *files, Object *comment)
    OSKEL_LONG(checkout, h, n, f.arg<jobjectArray>(files), f.arg<jstring>(comment))
jlong Vm::checkin(jlong h, jlong n, Object *files, Object *comment)
    OSKEL_LONG(checkin, h, n, f.arg<jobjectArray>(files), f.arg<jstring>(comment))
jlong Vm::uncheckout(jlong h, jlong n, Object *files) OSKEL_LONG(uncheckout, h, n, f.arg<jobjectArray>(files))
jlong Vm::add(jlong h, jlong n, Object *files, Object *comment)
    OSKEL_LONG(add, h, n, f.arg<jobjectArray>(files), f.arg<jstring>(comment))
jlong Vm::remove(jlong h, jlong n, Object *files, Object *comment)
    OSKEL_LONG(remove, h, n, f.arg<jobjectArray>(files), f.arg<jstring>(comment))
jlong Vm::history(jlong h, jlong n, Object *files) OSKEL_LONG(history, h, n, f.arg<jobjectArray>(files))
jlong Vm::diff(jlong h, Object *file) OSKEL_LONG(diff, h, f.arg<jstring>(file))
jlong Vm::properties(jlong h, Object *file) OSKEL_LONG(properties, h, f.arg<jstring>(file))
Object *Vm::queryInfo(jlong h, jlong n, Object *files) OSKEL_OBJECT(queryInfo, h, n, f.arg<jobjectArray>(files))
jlong Vm::runScc(jlong h, jlong n, Object *files) OSKEL_LONG(runScc, h, n, f.arg<jobjectArray>(files))
jlong Vm::getCommandOptions(jlong h, jlong command) OSKEL_LONG(getCommandOptions, h, command)
jlong Vm::checkCommandOptions(jlong h, jlong command) OSKEL_LONG(checkCommandOptions, h, command)
jlong Vm::populateList(jlong h, jlong command, jlong n, Object *files)
    OSKEL_LONG(populateList, h, command, n, f.arg<jobjectArray>(files))
Object *Vm::getPopulateList(jlong h, jlong which) OSKEL_OBJECT(getPopulateList, h, which)

} // namespace oskel::jnihost
