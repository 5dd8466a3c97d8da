#include "platform/regfile.h"

#include <utility>

namespace oskel::platform::regfile {

namespace {

char foldChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string fold(std::string_view text)
{
    std::string folded(text);
    for (char &c : folded) c = foldChar(c);
    return folded;
}

bool equalsFolded(std::string_view text, std::string_view lowerCase)
{
    if (text.size() != lowerCase.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (foldChar(text[i]) != lowerCase[i]) return false;
    return true;
}

bool startsWithFolded(std::string_view text, std::string_view lowerCase)
{
    return text.size() >= lowerCase.size() && equalsFolded(text.substr(0, lowerCase.size()), lowerCase);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    return text.substr(i);
}

std::string_view trimRight(std::string_view text)
{
    std::size_t n = text.size();
    while (n > 0 && isBlank(text[n - 1])) --n;
    return text.substr(0, n);
}

// Only blanks or a comment left on the line.
bool isLineEnd(std::string_view rest)
{
    rest = trimLeft(rest);
    return rest.empty() || rest[0] == ';';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void appendUtf8(std::string &out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE to UTF-8. An unpaired surrogate becomes U+FFFD; an odd last byte
// is dropped.
std::string utf16leToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 2);
    const std::size_t units = bytes.size() / 2;
    auto unitAt = [&](std::size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8;
    };
    for (std::size_t i = 0; i < units; ++i) {
        uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            uint32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        appendUtf8(out, unit);
    }
    return out;
}

// The file's text with any byte-order mark removed, UTF-16 converted.
class DecodedText {
public:
    explicit DecodedText(std::string_view bytes)
    {
        if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
            converted_ = utf16leToUtf8(bytes.substr(2));
            text_ = converted_;
            utf16_ = true;
        } else if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            text_ = bytes.substr(3);
        } else {
            text_ = bytes;
        }
    }
    DecodedText(const DecodedText &) = delete;
    DecodedText &operator=(const DecodedText &) = delete;
    std::string_view text() const { return text_; }
    bool utf16() const { return utf16_; }

private:
    std::string converted_;
    std::string_view text_;
    bool utf16_ = false;
};

// Physical lines, without their LF or CRLF.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}
    bool next(std::string_view &line)
    {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return true;
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// Reads a quoted text starting at text[pos] == '"'; pos ends after the closing
// quote. False when the quote is not closed.
bool readQuoted(std::string_view text, std::size_t &pos, std::string &out)
{
    ++pos;
    while (pos < text.size()) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
            out += text[pos + 1];
            pos += 2;
            continue;
        }
        out += c;
        ++pos;
    }
    return false;
}

// Comma-separated bytes in hex ("01,ff,2"), an optional trailing comma and
// comment. False on anything else.
bool readHexBytes(std::string_view text, std::string &out)
{
    std::size_t semicolon = text.find(';');
    if (semicolon != std::string_view::npos) text = text.substr(0, semicolon);
    text = trimRight(trimLeft(text));
    if (text.empty()) return true;
    std::size_t pos = 0;
    while (true) {
        std::size_t comma = text.find(',', pos);
        std::string_view token =
            trimRight(trimLeft(text.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos)));
        if (token.empty()) {
            // Only the last token may be empty: "01,02," is accepted.
            return comma == std::string_view::npos && pos > 0;
        }
        if (token.size() > 2) return false;
        int value = 0;
        for (char c : token) {
            int digit = hexDigit(c);
            if (digit < 0) return false;
            value = value * 16 + digit;
        }
        out += static_cast<char>(value);
        if (comma == std::string_view::npos) return true;
        pos = comma + 1;
    }
}

// What the parser reports while it reads a file.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void beginKey(const std::string &path) = 0;
    virtual void deleteKey(const std::string &path) = 0;
    virtual void setValue(Value value) = 0;
    virtual void removeValue(std::string_view name) = 0;
};

bool isBelow(std::string_view path, std::string_view ancestor)
{
    if (ancestor.empty()) return !path.empty();
    return path.size() > ancestor.size() && path[ancestor.size()] == '\\' &&
           path.substr(0, ancestor.size()) == ancestor;
}

class Parser {
public:
    Parser(std::string_view bytes, Sink &sink) : decoded_(bytes), lines_(decoded_.text()), sink_(sink) {}

    void run()
    {
        std::string_view line;
        if (!lines_.next(line)) return;
        line = trimRight(line);
        if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4") return;
        while (lines_.next(line)) {
            std::string_view text = trimLeft(line);
            if (text.empty() || text[0] == ';') continue;
            if (text[0] == '[')
                section(trimRight(text));
            else
                value(text);
        }
    }

private:
    void section(std::string_view text)
    {
        inKey_ = false;
        if (text.size() < 2 || text.back() != ']') return;
        std::string_view inner = text.substr(1, text.size() - 2);
        bool deleting = !inner.empty() && inner[0] == '-';
        if (deleting) inner.remove_prefix(1);
        std::size_t slash = inner.find('\\');
        std::string_view root = inner.substr(0, slash);
        std::string_view rest = slash == std::string_view::npos ? std::string_view() : inner.substr(slash + 1);
        if (!equalsFolded(root, "hkey_local_machine") && !equalsFolded(root, "hklm")) return;
        std::optional<std::string> path = foldKeyPath(rest);
        if (!path) return;
        if (deleting) {
            if (!path->empty()) sink_.deleteKey(*path);
            return;
        }
        sink_.beginKey(*path);
        inKey_ = true;
    }

    void value(std::string_view text)
    {
        Value value;
        std::size_t pos = 0;
        if (text[0] == '@') {
            pos = 1;
        } else if (text[0] == '"') {
            if (!readQuoted(text, pos, value.name)) return;
        } else {
            return;
        }
        std::string_view rest = trimLeft(text.substr(pos));
        if (rest.empty() || rest[0] != '=') return;
        rest = trimLeft(rest.substr(1));

        if (!rest.empty() && rest[0] == '-') {
            if (isLineEnd(rest.substr(1)) && inKey_) sink_.removeValue(value.name);
            return;
        }
        if (!rest.empty() && rest[0] == '"') {
            pos = 0;
            if (!readQuoted(rest, pos, value.data) || !isLineEnd(rest.substr(pos))) return;
            value.data += '\0';
            value.type = RegistryValue::kString;
            store(std::move(value));
            return;
        }
        if (startsWithFolded(rest, "dword:")) {
            rest.remove_prefix(6);
            std::size_t digits = 0;
            uint32_t number = 0;
            while (digits < rest.size() && hexDigit(rest[digits]) >= 0) {
                number = number * 16 + static_cast<uint32_t>(hexDigit(rest[digits]));
                ++digits;
            }
            if (digits == 0 || digits > 8 || !isLineEnd(rest.substr(digits))) return;
            for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
            value.type = RegistryValue::kDword;
            store(std::move(value));
            return;
        }
        if (startsWithFolded(rest, "hex")) {
            rest.remove_prefix(3);
            value.type = RegistryValue::kBinary;
            if (!rest.empty() && rest[0] == '(') {
                std::size_t close = rest.find(')');
                if (close == std::string_view::npos || close == 1 || close > 9) return skipContinuation(rest);
                uint32_t type = 0;
                for (char c : rest.substr(1, close - 1)) {
                    int digit = hexDigit(c);
                    if (digit < 0) return skipContinuation(rest);
                    type = type * 16 + static_cast<uint32_t>(digit);
                }
                value.type = type;
                rest.remove_prefix(close + 1);
            }
            if (rest.empty() || rest[0] != ':') return skipContinuation(rest);
            std::string joined = joinContinuation(rest.substr(1));
            if (!readHexBytes(joined, value.data)) return;
            if (decoded_.utf16() &&
                (value.type == RegistryValue::kString || value.type == RegistryValue::kExpandString ||
                 value.type == RegistryValue::kMultiString))
                value.data = utf16leToUtf8(value.data);
            store(std::move(value));
            return;
        }
    }

    // The hex data of a value with its "\" continuation lines appended.
    std::string joinContinuation(std::string_view first)
    {
        std::string joined(first);
        while (true) {
            std::string_view end = trimRight(joined);
            if (end.empty() || end.back() != '\\') return joined;
            joined.resize(end.size() - 1);
            std::string_view line;
            if (!lines_.next(line)) return joined;
            joined += trimLeft(line);
        }
    }

    // A hex value that does not parse still owns its continuation lines.
    void skipContinuation(std::string_view first) { joinContinuation(first); }

    void store(Value value)
    {
        if (inKey_) sink_.setValue(std::move(value));
    }

    DecodedText decoded_;
    LineReader lines_;
    Sink &sink_;
    bool inKey_ = false;
};

class AllKeysSink final : public Sink {
public:
    explicit AllKeysSink(std::map<std::string, KeyValues> &keys) : keys_(keys) {}

    void beginKey(const std::string &path) override { current_ = &keys_[path]; }

    void deleteKey(const std::string &path) override
    {
        current_ = nullptr;
        bool existed = false;
        auto exact = keys_.find(path);
        if (exact != keys_.end()) {
            keys_.erase(exact);
            existed = true;
        }
        std::string prefix = path + '\\';
        auto it = keys_.lower_bound(prefix);
        while (it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
            it = keys_.erase(it);
            existed = true;
        }
        // The parent of a deleted key stays.
        std::size_t slash = path.rfind('\\');
        if (existed && slash != std::string::npos) keys_[path.substr(0, slash)];
    }

    void setValue(Value value) override
    {
        if (current_) current_->set(std::move(value));
    }

    void removeValue(std::string_view name) override
    {
        if (current_) current_->remove(name);
    }

private:
    std::map<std::string, KeyValues> &keys_;
    KeyValues *current_ = nullptr;
};

class OneKeySink final : public Sink {
public:
    explicit OneKeySink(std::string path) : path_(std::move(path)), exists_(path_.empty()) {}

    void beginKey(const std::string &path) override
    {
        current_ = path == path_;
        if (current_ || isBelow(path, path_)) exists_ = true;
    }

    void deleteKey(const std::string &path) override
    {
        current_ = false;
        if (path == path_ || isBelow(path_, path)) {
            exists_ = false;
            values_.clear();
        }
    }

    void setValue(Value value) override
    {
        if (current_) values_.set(std::move(value));
    }

    void removeValue(std::string_view name) override
    {
        if (current_) values_.remove(name);
    }

    std::optional<KeyValues> result()
    {
        if (!exists_) return std::nullopt;
        values_.compact();
        return std::move(values_);
    }

private:
    std::string path_;
    bool exists_;
    bool current_ = false;
    KeyValues values_;
};

} // namespace

const Value *KeyValues::find(std::string_view name) const
{
    auto it = index_.find(fold(name));
    return it == index_.end() ? nullptr : &values_[it->second];
}

void KeyValues::set(Value value)
{
    std::string folded = fold(value.name);
    auto it = index_.find(folded);
    if (it != index_.end()) {
        Value &existing = values_[it->second];
        existing.type = value.type;
        existing.data = std::move(value.data);
        return;
    }
    index_.emplace(std::move(folded), values_.size());
    values_.push_back(std::move(value));
    removed_.push_back(false);
}

void KeyValues::remove(std::string_view name)
{
    // Marked here and dropped by compact(), so that many deletions stay linear.
    auto it = index_.find(fold(name));
    if (it == index_.end()) return;
    removed_[it->second] = true;
    values_[it->second] = Value();
    ++removedCount_;
    index_.erase(it);
}

void KeyValues::clear()
{
    values_.clear();
    removed_.clear();
    removedCount_ = 0;
    index_.clear();
}

void KeyValues::compact()
{
    if (removedCount_ == 0) return;
    std::vector<Value> kept;
    kept.reserve(values_.size() - removedCount_);
    for (std::size_t i = 0; i < values_.size(); ++i)
        if (!removed_[i]) kept.push_back(std::move(values_[i]));
    values_ = std::move(kept);
    removed_.assign(values_.size(), false);
    removedCount_ = 0;
    index_.clear();
    for (std::size_t i = 0; i < values_.size(); ++i) index_.emplace(fold(values_[i].name), i);
}

std::optional<std::string> foldKeyPath(std::string_view path)
{
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.empty()) return std::string();
    if (path.front() == '\\') return std::nullopt;
    std::string folded;
    folded.reserve(path.size());
    // The first character is not a backslash, so back() exists when one comes.
    for (char c : path)
        if (c != '\\' || folded.back() != '\\') folded += foldChar(c);
    return folded;
}

const KeyValues *RegFile::find(std::string_view path) const
{
    static const KeyValues kEmpty;
    std::optional<std::string> folded = foldKeyPath(path);
    if (!folded) return nullptr;
    auto exact = keys_.find(*folded);
    if (exact != keys_.end()) return &exact->second;
    if (folded->empty()) return &kEmpty; // the root always exists
    std::string prefix = *folded + '\\';
    auto below = keys_.lower_bound(prefix);
    if (below != keys_.end() && below->first.compare(0, prefix.size(), prefix) == 0) return &kEmpty;
    return nullptr;
}

RegFile parseAll(std::string_view bytes)
{
    RegFile file;
    AllKeysSink sink(file.keys_);
    Parser(bytes, sink).run();
    for (auto &key : file.keys_) key.second.compact();
    return file;
}

std::optional<KeyValues> parseKey(std::string_view bytes, std::string_view path)
{
    std::optional<std::string> folded = foldKeyPath(path);
    if (!folded) return std::nullopt;
    OneKeySink sink(*folded);
    Parser(bytes, sink).run();
    return sink.result();
}

} // namespace oskel::platform::regfile
