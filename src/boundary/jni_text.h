// Java strings and string arrays as ANSI text, and back. Each guard converts in
// its constructor and releases everything in its destructor.
#pragma once

#include <jni.h>

#include <memory>
#include <string>
#include <vector>

#include "boundary/jni_support.h"
#include "boundary/text.h"

namespace oskel {

// One Java string as owned ANSI text; null for a null or unconvertible string.
// A short text (a comment, a file name) is kept in the guard itself.
class AnsiText {
public:
    AnsiText(JNIEnv *env, jstring string);
    // The same with the locale looked up once for all the texts of a call.
    AnsiText(JNIEnv *env, jstring string, const text::LocaleTraits &locale);
    ~AnsiText();
    AnsiText(AnsiText &&other) noexcept;
    AnsiText(const AnsiText &) = delete;
    AnsiText &operator=(const AnsiText &) = delete;
    const char *get() const { return valid_ ? text_ : nullptr; }
    size_t size() const { return valid_ ? size_ : 0; }

    static constexpr size_t kInline = 256;

private:
    char *text_ = inline_;
    size_t size_ = 0;     // bytes of text, terminator excluded
    size_t capacity_ = kInline;
    bool valid_ = false;
    char inline_[kInline];
    friend struct AnsiTextBytes;
};

// A Java String[] as an array of ANSI text pointers, one entry per element,
// null where the element is null or does not convert. All texts of one array
// share one block of storage, which the thread keeps for its next array.
class TextArray {
public:
    // Converts the first `limit` elements (all of them for a negative limit).
    TextArray(JNIEnv *env, jobjectArray array, jsize limit = -1);
    // The same for a caller that has the array's length at hand and the
    // locale looked up for all the texts of its call.
    TextArray(JNIEnv *env, jobjectArray array, jsize limit, jsize length,
              const text::LocaleTraits &locale);
    ~TextArray();
    TextArray(const TextArray &) = delete;
    TextArray &operator=(const TextArray &) = delete;
    // Never null: an empty array still hands the provider a valid pointer.
    const char **data();
    size_t size() const { return size_; }

    struct Storage; // the texts and their pointers (jni_text.cpp)

private:
    void convert(JNIEnv *env, jobjectArray array, jsize n, const text::LocaleTraits &locale);
    std::unique_ptr<Storage> storage_;
    size_t size_ = 0;
    const char *empty_[1] = {nullptr};
};

// ANSI text as a new Java string; null for a null or unconvertible text.
jstring toJavaString(JNIEnv *env, const char *text);
// The same with the locale looked up once for a batch of texts.
jstring toJavaString(JNIEnv *env, const text::LocaleTraits &locale, const char *text);

// 8-bit text from outside (registry, provider name) as a Java string that is
// always well formed: valid modified UTF-8 passes as it is, anything else is
// decoded (see text::decodeForeign).
jstring foreignToJavaString(JNIEnv *env, const char *bytes);

// A new String[] of `count` elements, each "" at first; null on failure.
jobjectArray newStringArray(JNIEnv *env, jsize count);

// A new String[] of the texts text(0) .. text(count - 1), each converted as
// toJavaString converts it (null where one does not convert); null, with the
// VM's exception pending, when the VM fails. The references it makes go
// with a local frame per run of elements.
template <typename Texts>
jobjectArray toJavaStringArray(JNIEnv *env, jsize count, Texts &&text) {
    jobjectArray result = newStringArray(env, count);
    if (result == nullptr)
        return nullptr;
    const text::LocaleTraits locale = text::currentLocale();
    constexpr jsize kRun = 256;
    for (jsize base = 0; base < count; base += kRun) {
        const jsize end = count - base < kRun ? count : base + kRun;
        LocalFrame frame(env, end - base);
        for (jsize i = base; i < end; ++i) {
            jstring entry = toJavaString(env, locale, text(i));
            if (entry == nullptr && env->ExceptionCheck())
                return nullptr;
            env->SetObjectArrayElement(result, i, entry);
            if (entry != nullptr && frame.deleteEach())
                env->DeleteLocalRef(entry);
        }
    }
    return result;
}

// Reads the UTF-16 units of a Java string.
std::u16string javaChars(JNIEnv *env, jstring string);

} // namespace oskel
