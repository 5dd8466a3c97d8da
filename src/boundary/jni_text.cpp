#include "boundary/jni_text.h"

#include "boundary/jni_support.h"
#include "boundary/text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace oskel {

namespace {
constexpr size_t kNull = static_cast<size_t>(-1);

// Bytes that grow without being cleared first: each text is written once,
// by the VM or by the conversion, straight into its place.
class ByteBuffer {
public:
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    char *data() { return data_.get(); }
    // Room for `n` more bytes after the present ones: size() grows by n and
    // the result is where they start (their contents are unspecified).
    char *extend(size_t n) {
        if (n > capacity_ - size_)
            grow(n);
        char *at = data_.get() + size_;
        size_ += n;
        return at;
    }
    void truncate(size_t size) { size_ = size; }

private:
    void grow(size_t n) {
        if (n > SIZE_MAX / 2 - size_)
            throw std::bad_alloc();
        size_t want = std::max(std::max(size_ + n, capacity_ * 2), size_t{1024});
        std::unique_ptr<char[]> bigger(new char[want]);
        if (size_ > 0)
            std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        capacity_ = want;
    }
    std::unique_ptr<char[]> data_;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// Appends the ANSI text of a Java string and its terminator to `out`; false,
// with `out` as it was, when it does not convert. One pass over the string
// after the VM's copy:
//
// Under a UTF-8 locale the VM writes the string's modified UTF-8 in place.
// When its first n bytes are all below 0x80 they are the n characters
// U+0001..U+007F and the text itself (any other character, U+0000 included,
// starts with a byte of 0xC0 or more within them); otherwise it is turned
// into UTF-8 where it lies; in a locale of single-byte characters each unit
// becomes its byte where it lies. Elsewhere the VM copies the UTF-16 units
// out and the locale's conversion writes the text in place.
//
// `wide` says which copy to ask of the VM. A string of characters up to
// U+00FF is kept as bytes in the VM, whose modified UTF-8 copy of them is
// the cheaper one; a string with a character beyond is kept as UTF-16 units,
// which the VM copies out as they are, where its modified UTF-8 takes a
// branch or two per character. The names of one list tend to look alike, so
// a name is read the way its predecessor would have been best read; both
// ways give the same text.
template <typename Out>
bool appendJavaString(JNIEnv *env, const text::LocaleTraits &locale, jstring string,
                      std::u16string &units, Out &out, bool &wide) {
    const jsize n = env->GetStringLength(string);
    const size_t count = n > 0 ? static_cast<size_t>(n) : 0;
    if (count > (SIZE_MAX - 1) / 16)
        throw std::bad_alloc(); // a 32-bit process: more than its memory holds
    const size_t start = out.size();
    // The string as UTF-16 units, converted in one pass.
    auto fromUnits = [&]() -> size_t {
        units.resize(count);
        if (count > 0)
            env->GetStringRegion(string, 0, n, reinterpret_cast<jchar *>(&units[0]));
        const size_t room = text::ansiCapacity(locale, count);
        return text::toAnsi(locale, units.data(), count, out.extend(room), room);
    };
    // The VM's modified UTF-8 written where the name goes: null when it is
    // all ASCII, and so already final.
    auto modifiedCopy = [&]() -> char * {
        char *text = out.extend(count * 3 + 1);
        if (count > 0)
            env->GetStringUTFRegion(string, 0, n, text);
        if (!text::allAscii(text, count))
            return text;
        text[count] = '\0';
        return nullptr;
    };
    size_t length = count;
    const bool narrowable = locale.utf8 || (locale.singleByte != nullptr && locale.asciiIdentity);
    if (narrowable && wide) {
        length = fromUnits();
        wide = !text::allLatin1Units(units.data(), count);
    } else if (locale.utf8) {
        if (char *text = modifiedCopy())
            length = text::utf8FromModifiedInPlace(text, count, &wide);
    } else if (narrowable) {
        // The same copy, narrowed in place through the locale's code.
        if (char *text = modifiedCopy()) {
            length = text::singleBytesFromModifiedInPlace(locale, text, count);
            // A character the locale lacks (Cyrillic in Latin-1...): the next
            // name likely holds one too, and the units are the cheaper copy.
            wide = length == text::kNotConverted || length == text::kNeedUnits;
            if (length == text::kNeedUnits) {
                out.truncate(start);
                length = fromUnits();
            }
        }
    } else {
        length = fromUnits();
    }
    if (length == text::kNotConverted) {
        out.truncate(start);
        return false;
    }
    out.truncate(start + length + 1);
    return true;
}

// The references one local frame holds while an array is read.
constexpr jsize kFrameSize = 256;
// Storage a thread keeps for its next array, unless it grew past this.
constexpr size_t kKeptBytes = size_t{4} << 20;
} // namespace

struct TextArray::Storage {
    ByteBuffer bytes;
    std::u16string units; // one name's UTF-16 units, where the locale needs them
    std::vector<size_t> offsets;
    std::vector<const char *> pointers;
};

namespace {
thread_local std::unique_ptr<TextArray::Storage> spareStorage;
} // namespace

// The text of an AnsiText: in the guard while it fits, else on the heap.
struct AnsiTextBytes {
    AnsiText &t;
    size_t size() const { return t.size_; }
    char *extend(size_t n) {
        if (n > t.capacity_ - t.size_) {
            if (n > SIZE_MAX / 2 - t.size_)
                throw std::bad_alloc();
            const size_t want = std::max(t.size_ + n, t.capacity_ * 2);
            std::unique_ptr<char[]> bigger(new char[want]);
            std::memcpy(bigger.get(), t.text_, t.size_);
            if (t.text_ != t.inline_)
                delete[] t.text_;
            t.text_ = bigger.release();
            t.capacity_ = want;
        }
        char *at = t.text_ + t.size_;
        t.size_ += n;
        return at;
    }
    void truncate(size_t size) { t.size_ = size; }
};

AnsiText::AnsiText(JNIEnv *env, jstring string) {
    if (string != nullptr) {
        AnsiTextBytes out{*this};
        std::u16string units;
        bool wide = false;
        valid_ = appendJavaString(env, text::currentLocale(), string, units, out, wide);
        size_ = valid_ ? size_ - 1 : 0; // the terminator appended by the conversion
    }
}

AnsiText::AnsiText(JNIEnv *env, jstring string, const text::LocaleTraits &locale) {
    if (string != nullptr) {
        AnsiTextBytes out{*this};
        std::u16string units;
        bool wide = false;
        valid_ = appendJavaString(env, locale, string, units, out, wide);
        size_ = valid_ ? size_ - 1 : 0;
    }
}

AnsiText::AnsiText(AnsiText &&other) noexcept
    : size_(other.size_), capacity_(other.capacity_), valid_(other.valid_) {
    if (other.text_ == other.inline_) {
        if (valid_)
            std::memcpy(inline_, other.inline_, size_ + 1); // the text and its terminator
        capacity_ = kInline;
    } else {
        text_ = other.text_; // the heap block changes hands
        other.text_ = other.inline_;
        other.capacity_ = kInline;
    }
    other.size_ = 0;
    other.valid_ = false;
}

AnsiText::~AnsiText() {
    if (text_ != inline_)
        delete[] text_;
}

TextArray::TextArray(JNIEnv *env, jobjectArray array, jsize limit)
    : storage_(std::move(spareStorage)) {
    if (!storage_)
        storage_ = std::make_unique<Storage>();
    if (array == nullptr)
        return;
    jsize n = env->GetArrayLength(array);
    if (limit >= 0 && limit < n)
        n = limit;
    convert(env, array, n, text::currentLocale());
}

TextArray::TextArray(JNIEnv *env, jobjectArray array, jsize limit, jsize length,
                     const text::LocaleTraits &locale)
    : storage_(std::move(spareStorage)) {
    if (!storage_)
        storage_ = std::make_unique<Storage>();
    if (array != nullptr)
        convert(env, array, limit >= 0 && limit < length ? limit : length, locale);
}

void TextArray::convert(JNIEnv *env, jobjectArray array, jsize n,
                        const text::LocaleTraits &locale) {
    Storage &s = *storage_;
    s.bytes.truncate(0);
    s.offsets.resize(static_cast<size_t>(n));
    bool wide = false; // how the previous name was best read
    // A frame per run of elements instead of a deletion per element.
    for (jsize base = 0; base < n; base += kFrameSize) {
        const jsize end = n - base < kFrameSize ? n : base + kFrameSize;
        LocalFrame frame(env, end - base);
        for (jsize i = base; i < end; ++i) {
            auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
            const size_t start = s.bytes.size();
            const bool converted =
                element != nullptr && appendJavaString(env, locale, element, s.units, s.bytes, wide);
            s.offsets[static_cast<size_t>(i)] = converted ? start : kNull;
            if (element != nullptr && frame.deleteEach())
                env->DeleteLocalRef(element);
        }
    }
    // The storage is final now: turn the offsets into pointers.
    s.pointers.resize(static_cast<size_t>(n));
    for (size_t i = 0; i < s.pointers.size(); ++i)
        s.pointers[i] = s.offsets[i] == kNull ? nullptr : s.bytes.data() + s.offsets[i];
    size_ = static_cast<size_t>(n);
}

TextArray::~TextArray() {
    if (storage_ && !spareStorage && storage_->bytes.capacity() <= kKeptBytes)
        spareStorage = std::move(storage_);
}

const char **TextArray::data() { return size_ == 0 ? empty_ : storage_->pointers.data(); }

jstring toJavaString(JNIEnv *env, const char *text) {
    return toJavaString(env, text::currentLocale(), text);
}

jstring toJavaString(JNIEnv *env, const text::LocaleTraits &locale, const char *text) {
    if (text == nullptr)
        return nullptr;
    // ASCII is the same in the locale and in modified UTF-8; so is the UTF-8
    // of the Basic Multilingual Plane.
    // (strlen and the word-wise check beat a check byte by byte.)
    if (locale.asciiIdentity && text::allAscii(text, std::strlen(text)))
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
