#include "boundary/jni_text.h"

#include "boundary/text.h"

namespace oskel {

namespace {
constexpr size_t kNull = static_cast<size_t>(-1);

// Appends the ANSI text of a Java string to `out`; false when it does not
// convert. `units` is scratch space reused across calls.
bool appendJavaString(JNIEnv *env, jstring string, std::u16string &units, std::string &out) {
    jsize n = env->GetStringLength(string);
    units.resize(static_cast<size_t>(n));
    if (n > 0)
        env->GetStringRegion(string, 0, n, reinterpret_cast<jchar *>(&units[0]));
    return text::appendAnsi(units.data(), units.size(), out);
}
} // namespace

AnsiText::AnsiText(JNIEnv *env, jstring string) {
    if (string == nullptr)
        return;
    std::u16string units;
    valid_ = appendJavaString(env, string, units, text_);
    if (valid_)
        text_.pop_back(); // the terminator appended by the conversion
}

TextArray::TextArray(JNIEnv *env, jobjectArray array, jsize limit) {
    if (array == nullptr)
        return;
    jsize n = env->GetArrayLength(array);
    if (limit >= 0 && limit < n)
        n = limit;
    std::vector<size_t> offsets(static_cast<size_t>(n), kNull);
    std::u16string units;
    for (jsize i = 0; i < n; ++i) {
        auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
        if (element == nullptr)
            continue;
        size_t start = storage_.size();
        if (appendJavaString(env, element, units, storage_))
            offsets[static_cast<size_t>(i)] = start;
        env->DeleteLocalRef(element);
    }
    pointers_.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < offsets.size(); ++i)
        pointers_[i] = offsets[i] == kNull ? nullptr : storage_.data() + offsets[i];
}

jstring toJavaString(JNIEnv *env, const char *text) {
    if (text == nullptr)
        return nullptr;
    std::u16string units;
    if (!text::toUtf16(text, units))
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
    jclass stringClass = env->FindClass("java/lang/String");
    if (stringClass == nullptr)
        return nullptr;
    jstring empty = env->NewStringUTF("");
    if (empty == nullptr)
        return nullptr;
    jobjectArray array = env->NewObjectArray(count, stringClass, empty);
    env->DeleteLocalRef(empty);
    env->DeleteLocalRef(stringClass);
    return array;
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
