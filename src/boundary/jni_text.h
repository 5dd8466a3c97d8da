// Java strings and string arrays as ANSI text, and back. Each guard converts in
// its constructor and releases everything in its destructor.
#pragma once

#include <jni.h>

#include <string>
#include <vector>

#include "boundary/text.h"

namespace oskel {

// One Java string as owned ANSI text; null for a null or unconvertible string.
class AnsiText {
public:
    AnsiText(JNIEnv *env, jstring string);
    const char *get() const { return valid_ ? text_.c_str() : nullptr; }
    size_t size() const { return valid_ ? text_.size() : 0; }

private:
    std::string text_;
    bool valid_ = false;
};

// A Java String[] as an array of ANSI text pointers, one entry per element,
// null where the element is null or does not convert. All texts of one array
// share one block of storage.
class TextArray {
public:
    // Converts the first `limit` elements (all of them for a negative limit).
    TextArray(JNIEnv *env, jobjectArray array, jsize limit = -1);
    // Never null: an empty array still hands the provider a valid pointer.
    const char **data() { return pointers_.empty() ? empty_ : pointers_.data(); }
    size_t size() const { return pointers_.size(); }

private:
    std::string storage_;
    std::vector<const char *> pointers_;
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

// Reads the UTF-16 units of a Java string.
std::u16string javaChars(JNIEnv *env, jstring string);

} // namespace oskel
