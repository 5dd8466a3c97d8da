#include "boundary/jni_text.h"

#include "boundary/jni_support.h"
#include "boundary/text.h"

#include <memory>

namespace oskel {

namespace {
constexpr size_t kNull = static_cast<size_t>(-1);

// Appends the ANSI text of a Java string and its terminator to `out`; false,
// with `out` unchanged, when it does not convert.
//
// Most names are ASCII. In a locale that encodes ASCII as itself the VM writes
// the string's modified UTF-8 into scratch space and, when its first n bytes
// are all below 0x80, those bytes are the n characters U+0001..U+007F and the
// text itself (any other character, U+0000 included, starts with a byte of
// 0xC0 or more within them). Under a UTF-8 locale the modified UTF-8 converts
// directly; elsewhere other strings are read as UTF-16 into `units` and
// converted.
bool appendJavaString(JNIEnv *env, const text::LocaleTraits &locale, jstring string,
                      std::u16string &units, std::string &out) {
    const jsize n = env->GetStringLength(string);
    const size_t count = static_cast<size_t>(n);
    if (locale.asciiIdentity) {
        thread_local std::unique_ptr<char[]> scratch;
        thread_local size_t scratchSize = 0;
        const size_t need = count * 3 + 1; // modified UTF-8 takes at most 3 bytes a unit
        if (scratchSize < need) {
            scratch.reset(new char[need]);
            scratchSize = need;
        }
        if (n > 0)
            env->GetStringUTFRegion(string, 0, n, scratch.get());
        const auto *bytes = reinterpret_cast<const unsigned char *>(scratch.get());
        unsigned char high = 0;
        for (size_t i = 0; i < count; ++i)
            high |= bytes[i];
        if (high < 0x80) {
            out.append(scratch.get(), count);
            out.push_back('\0');
            return true;
        }
        // Under UTF-8 the modified UTF-8 at hand converts directly.
        if (locale.utf8)
            return text::appendUtf8FromModified(scratch.get(), count, out);
    }
    units.resize(count);
    if (n > 0)
        env->GetStringRegion(string, 0, n, reinterpret_cast<jchar *>(&units[0]));
    return text::appendAnsi(locale, units.data(), units.size(), out);
}

// Bytes a typical file name takes, for reserving a text array's storage once.
constexpr size_t kTypicalName = 64;
} // namespace

AnsiText::AnsiText(JNIEnv *env, jstring string) {
    if (string == nullptr)
        return;
    std::u16string units;
    valid_ = appendJavaString(env, text::currentLocale(), string, units, text_);
    if (valid_)
        text_.pop_back(); // the terminator appended by the conversion
}

TextArray::TextArray(JNIEnv *env, jobjectArray array, jsize limit) {
    if (array == nullptr)
        return;
    jsize n = env->GetArrayLength(array);
    if (limit >= 0 && limit < n)
        n = limit;
    const text::LocaleTraits locale = text::currentLocale();
    thread_local std::vector<size_t> offsets;
    thread_local std::u16string units;
    offsets.assign(static_cast<size_t>(n), kNull);
    storage_.reserve(static_cast<size_t>(n) * kTypicalName);
    for (jsize i = 0; i < n; ++i) {
        LocalRef<jstring> element(env, static_cast<jstring>(env->GetObjectArrayElement(array, i)));
        if (!element)
            continue;
        size_t start = storage_.size();
        if (appendJavaString(env, locale, element.get(), units, storage_))
            offsets[static_cast<size_t>(i)] = start;
    }
    // The storage is final now: turn the offsets into pointers.
    pointers_.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < pointers_.size(); ++i)
        pointers_[i] = offsets[i] == kNull ? nullptr : storage_.data() + offsets[i];
}

jstring toJavaString(JNIEnv *env, const char *text) {
    return toJavaString(env, text::currentLocale(), text);
}

jstring toJavaString(JNIEnv *env, const text::LocaleTraits &locale, const char *text) {
    if (text == nullptr)
        return nullptr;
    // ASCII is the same in the locale and in modified UTF-8; so is the UTF-8
    // of the Basic Multilingual Plane.
    if (locale.asciiIdentity && text::isAscii(text))
        return env->NewStringUTF(text);
    if (locale.utf8) {
        switch (text::classifyUtf8(text)) {
        case text::Utf8Kind::Invalid:
            return nullptr;
        case text::Utf8Kind::Bmp:
            return env->NewStringUTF(text);
        case text::Utf8Kind::Supplementary:
            break;
        }
    }
    std::u16string units;
    if (!text::toUtf16(locale, text, units))
        return nullptr;
    return env->NewString(reinterpret_cast<const jchar *>(units.data()),
                          static_cast<jsize>(units.size()));
}

jstring foreignToJavaString(JNIEnv *env, const char *bytes) {
    if (bytes == nullptr)
        return nullptr;
    if (text::isModifiedUtf8(bytes))
        return env->NewStringUTF(bytes);
    std::u16string units = text::decodeForeign(bytes);
    return env->NewString(reinterpret_cast<const jchar *>(units.data()),
                          static_cast<jsize>(units.size()));
}

jobjectArray newStringArray(JNIEnv *env, jsize count) {
    // The class is looked up once and kept for the life of the process.
    static jclass stringClass = [env] {
        LocalRef<jclass> local(env, env->FindClass("java/lang/String"));
        return local ? static_cast<jclass>(env->NewGlobalRef(local.get())) : nullptr;
    }();
    if (stringClass == nullptr)
        return nullptr;
    LocalRef<jstring> empty(env, env->NewStringUTF(""));
    if (!empty)
        return nullptr;
    return env->NewObjectArray(count, stringClass, empty.get());
}

std::u16string javaChars(JNIEnv *env, jstring string) {
    std::u16string units;
    jsize n = env->GetStringLength(string);
    units.resize(static_cast<size_t>(n));
    if (n > 0)
        env->GetStringRegion(string, 0, n, reinterpret_cast<jchar *>(&units[0]));
    return units;
}

} // namespace oskel
