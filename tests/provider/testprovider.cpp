// The scriptable test provider: an SCC provider library that records every
// call in a call log and does what a script file tells it. The script
// directives, the environment variables and the exact log format are described
// in README.md next to this file; tests depend on them byte for byte.
//
// One source, three libraries: TESTPROVIDER_FULL exports every entry point,
// TESTPROVIDER_INITONLY only SccInitialize and SccUninitialize,
// TESTPROVIDER_UNINIT only SccUninitialize. The entry points that a variant
// does not export are still compiled, just not exported (hidden visibility).

#include "oskelsccih/scc_api.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#if defined(TESTPROVIDER_FULL)
#define TP_EXPORT_ALL SCC_EXPORT
#define TP_EXPORT_INIT SCC_EXPORT
#elif defined(TESTPROVIDER_INITONLY)
#define TP_EXPORT_ALL
#define TP_EXPORT_INIT SCC_EXPORT
#elif defined(TESTPROVIDER_UNINIT)
#define TP_EXPORT_ALL
#define TP_EXPORT_INIT
#else
#error "define one of TESTPROVIDER_FULL, TESTPROVIDER_INITONLY, TESTPROVIDER_UNINIT"
#endif
#define TP_EXPORT_UNINIT SCC_EXPORT

namespace {

// ---------------------------------------------------------------------------
// Environment and files

constexpr const char *kScriptVar = "OSKEL_TESTPROVIDER_SCRIPT";
constexpr const char *kLogVar = "OSKEL_TESTPROVIDER_LOG";
// A script larger than this is read up to this size; the rest is ignored.
constexpr long kMaxScriptBytes = 16L * 1024 * 1024;

// Reads an environment variable; empty when unset. On Windows the process
// environment is read directly, so a value set with SetEnvironmentVariable (or
// _putenv of any C runtime) after this library's runtime started is seen.
std::string envValue(const char *name) {
#ifdef _WIN32
    char small[1024];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) {
        return std::string();
    }
    if (n < sizeof small) {
        return std::string(small, n);
    }
    std::vector<char> big(n + 1);
    DWORD m = GetEnvironmentVariableA(name, big.data(), n + 1);
    if (m == 0 || m > n) {
        return std::string();
    }
    return std::string(big.data(), m);
#else
    const char *v = std::getenv(name);
    return v != nullptr ? std::string(v) : std::string();
#endif
}

struct FileCloser {
    void operator()(FILE *f) const {
        if (f != nullptr) {
            std::fclose(f);
        }
    }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

std::string readScriptFile() {
    std::string path = envValue(kScriptVar);
    if (path.empty()) {
        return std::string();
    }
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) {
        return std::string();
    }
    std::string data;
    char chunk[4096];
    while (static_cast<long>(data.size()) < kMaxScriptBytes) {
        size_t want = sizeof chunk;
        size_t room = static_cast<size_t>(kMaxScriptBytes) - data.size();
        if (want > room) {
            want = room;
        }
        size_t got = std::fread(chunk, 1, want, f.get());
        if (got == 0) {
            break;
        }
        data.append(chunk, got);
    }
    return data;
}

// Appends one line and a line feed to the call log; open, write, close.
void logLine(const std::string &line) {
    std::string path = envValue(kLogVar);
    if (path.empty()) {
        return;
    }
    FilePtr f(std::fopen(path.c_str(), "ab"));
    if (!f) {
        return;
    }
    std::string out = line;
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), f.get());
}

// ---------------------------------------------------------------------------
// Script

bool parseNumber(const std::string &word, int64_t &out) {
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '-' || word[i] == '+')) {
        negative = word[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i + 1 < word.size() && word[i] == '0' && (word[i + 1] == 'x' || word[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= word.size()) {
        return false;
    }
    uint64_t value = 0;
    for (; i < word.size(); ++i) {
        char c = word[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        if (value > (UINT64_MAX - digit) / base) {
            return false;  // does not fit in 64 bits
        }
        value = value * base + digit;
    }
    if (negative) {
        value = 0 - value;
    }
    out = static_cast<int64_t>(value);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Resolves the escapes of a TEXT; an unknown or incomplete escape stays as written.
std::string unescape(const std::string &raw) {
    std::string out;
    out.reserve(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (c != '\\' || i + 1 >= raw.size()) {
            out.push_back(c);
            continue;
        }
        char e = raw[i + 1];
        if (e == '\\') {
            out.push_back('\\');
            ++i;
        } else if (e == 't') {
            out.push_back('\t');
            ++i;
        } else if (e == 'n') {
            out.push_back('\n');
            ++i;
        } else if (e == 'r') {
            out.push_back('\r');
            ++i;
        } else if (e == 'x' && i + 3 < raw.size() && hexDigit(raw[i + 2]) >= 0 &&
                   hexDigit(raw[i + 3]) >= 0) {
            out.push_back(static_cast<char>(hexDigit(raw[i + 2]) * 16 + hexDigit(raw[i + 3])));
            i += 3;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

struct EntryNumber {  // return ENTRY NUMBER, exit ENTRY CODE
    std::string entry;
    int64_t value;
};
struct CallbackExit {  // exit.callback ENTRY N CODE
    std::string entry;
    int64_t after;
    int64_t code;
};
struct Message {  // message / message.null
    std::string entry;
    int64_t type;
    bool isNull;
    std::string text;
};
struct ThreadMessages {  // message.thread ENTRY N TYPE TEXT
    std::string entry;
    int64_t count;
    int64_t type;
    std::string text;
};
struct LaterMessage {  // message.later ENTRY MS TYPE TEXT
    std::string entry;
    int64_t delayMs;
    int64_t type;
    std::string text;
};
struct Populate {  // populate / populate.null
    int64_t keep;
    bool isNull;
    std::string name;
};
struct IndexNumber {  // status INDEX NUMBER, options.store COMMAND NUMBER
    bool all;
    int64_t index;
    int64_t value;
};
struct OptText {
    bool set = false;
    std::string text;
};
struct OptNumber {
    bool set = false;
    int64_t value = 0;
};

struct NameReport {  // namechange[.thread] ENTRY OLD NEW, namechange.later ENTRY MS OLD NEW
    std::string entry;
    bool otherThread;
    std::string oldName;
    std::string newName;
    int64_t laterMs = -1;  // namechange.later: sent this long after the call began
};
struct Change {  // change TYPE NAME LATEST
    int64_t type;
    std::string name;
    std::string latest;
};

struct Script {
    std::vector<EntryNumber> returns;
    // The further entry points.
    std::vector<NameReport> nameReports;
    bool nameChangeLong32 = false;  // namechange.long32
    OptNumber eventStatus, eventRemaining;
    OptText eventName;
    std::vector<IndexNumber> excaps;      // excap CODE VALUE
    std::vector<IndexNumber> userOptions; // useroption OPTION VALUE
    std::vector<std::string> addFromScc;  // addfromscc TEXT
    OptNumber addFromSccCount;            // addfromscc.count NUMBER
    OptText outUser, outAux, outPath;     // outpath.user / .aux / .path TEXT
    std::vector<Change> changes;
    std::vector<Populate> dirItems;       // diritem FOLDER TEXT
    OptNumber multiCheckout;
    std::vector<EntryNumber> cancelPolls; // cancelpoll ENTRY N
    OptNumber version;
    int64_t initContext = 0x5cc0c0de;
    std::string initName = "Test Provider";
    int64_t initCaps = 0;
    std::string initAuxLabel = "Test Aux Path";
    int64_t initCheckoutCommentLen = 64;
    int64_t initCommentLen = 128;
    bool initNoWrite = false;
    std::vector<Message> messages;
    std::vector<ThreadMessages> threadMessages;
    std::vector<LaterMessage> laterMessages;
    OptText projUser, projProject, projLocal, projAux;
    OptNumber projAllowNew;
    OptText openUser, openProject, openAux;
    std::vector<IndexNumber> optionStores;
    std::vector<Populate> populates;
    std::vector<IndexNumber> statuses;
    std::vector<std::string> crashes, aborts, hangs;
    std::vector<EntryNumber> exits;
    std::vector<CallbackExit> callbackExits;
};

bool entryMatches(const std::string &pattern, const char *entry) {
    return pattern == "*" || pattern == entry;
}

bool listMatches(const std::vector<std::string> &list, const char *entry) {
    for (const std::string &p : list) {
        if (entryMatches(p, entry)) {
            return true;
        }
    }
    return false;
}

// Splits off the next space-separated word; false when none is left.
bool nextWord(const std::string &line, size_t &pos, std::string &word) {
    if (pos > line.size()) {
        return false;
    }
    size_t end = line.find(' ', pos);
    if (end == std::string::npos) {
        end = line.size();
    }
    word = line.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

// The rest of the line after the words taken so far; empty when nothing is left.
std::string restText(const std::string &line, size_t pos) {
    return pos >= line.size() ? std::string() : unescape(line.substr(pos));
}

// Reads one directive line into the script; a malformed line is ignored.
void parseLine(const std::string &line, Script &s) {
    size_t pos = 0;
    std::string keyword;
    if (!nextWord(line, pos, keyword)) {
        return;
    }
    std::string w1, w2;
    int64_t n1 = 0, n2 = 0;
    auto word = [&](std::string &w) { return nextWord(line, pos, w) && !w.empty(); };
    auto number = [&](int64_t &n) {
        std::string w;
        return nextWord(line, pos, w) && parseNumber(w, n);
    };
    auto lastNumber = [&](int64_t &n) { return number(n) && pos > line.size(); };
    auto text = [&](OptText &t) {
        t.set = true;
        t.text = restText(line, pos);
    };

    if (keyword == "return") {
        if (word(w1) && lastNumber(n1)) {
            s.returns.push_back({w1, n1});
        }
    } else if (keyword == "version") {
        if (lastNumber(n1)) {
            s.version = {true, n1};
        }
    } else if (keyword == "init.context") {
        if (lastNumber(n1)) {
            s.initContext = n1;
        }
    } else if (keyword == "init.name") {
        s.initName = restText(line, pos);
    } else if (keyword == "init.caps") {
        if (lastNumber(n1)) {
            s.initCaps = n1;
        }
    } else if (keyword == "init.auxlabel") {
        s.initAuxLabel = restText(line, pos);
    } else if (keyword == "init.checkoutcommentlen") {
        if (lastNumber(n1)) {
            s.initCheckoutCommentLen = n1;
        }
    } else if (keyword == "init.commentlen") {
        if (lastNumber(n1)) {
            s.initCommentLen = n1;
        }
    } else if (keyword == "init.nowrite") {
        if (pos > line.size()) {
            s.initNoWrite = true;
        }
    } else if (keyword == "message") {
        if (word(w1) && number(n1)) {
            s.messages.push_back({w1, n1, false, restText(line, pos)});
        }
    } else if (keyword == "message.thread") {
        if (word(w1) && number(n1) && number(n2)) {
            s.threadMessages.push_back({w1, n1, n2, restText(line, pos)});
        }
    } else if (keyword == "message.later") {
        if (word(w1) && number(n1) && number(n2)) {
            s.laterMessages.push_back({w1, n1, n2, restText(line, pos)});
        }
    } else if (keyword == "message.null") {
        if (word(w1) && lastNumber(n1)) {
            s.messages.push_back({w1, n1, true, std::string()});
        }
    } else if (keyword == "projpath.user") {
        text(s.projUser);
    } else if (keyword == "projpath.project") {
        text(s.projProject);
    } else if (keyword == "projpath.local") {
        text(s.projLocal);
    } else if (keyword == "projpath.aux") {
        text(s.projAux);
    } else if (keyword == "projpath.allownew") {
        if (lastNumber(n1)) {
            s.projAllowNew = {true, n1};
        }
    } else if (keyword == "openproject.user") {
        text(s.openUser);
    } else if (keyword == "openproject.project") {
        text(s.openProject);
    } else if (keyword == "openproject.aux") {
        text(s.openAux);
    } else if (keyword == "options.store" || keyword == "status") {
        size_t save = pos;
        bool all = nextWord(line, pos, w1) && w1 == "*";
        if (!all) {
            pos = save;
        }
        if ((all || number(n1)) && lastNumber(n2)) {
            (keyword == "status" ? s.statuses : s.optionStores).push_back({all, n1, n2});
        }
    } else if (keyword == "populate") {
        if (number(n1)) {
            s.populates.push_back({n1, false, restText(line, pos)});
        }
    } else if (keyword == "populate.null") {
        if (lastNumber(n1)) {
            s.populates.push_back({n1, true, std::string()});
        }
    } else if (keyword == "crash" || keyword == "abort" || keyword == "hang") {
        if (word(w1) && pos > line.size()) {
            (keyword == "crash" ? s.crashes : keyword == "abort" ? s.aborts : s.hangs).push_back(w1);
        }
    } else if (keyword == "exit") {
        if (word(w1) && lastNumber(n1)) {
            s.exits.push_back({w1, n1});
        }
    } else if (keyword == "namechange" || keyword == "namechange.thread") {
        if (word(w1) && word(w2)) {
            std::string w3;
            if (word(w3) && pos > line.size()) {
                s.nameReports.push_back({w1, keyword == "namechange.thread", w2, w3});
            }
        }
    } else if (keyword == "namechange.long32") {
        if (pos > line.size()) {
            s.nameChangeLong32 = true;
        }
    } else if (keyword == "namechange.later") {
        std::string w3;
        if (word(w1) && number(n1) && word(w2) && word(w3) && pos > line.size()) {
            s.nameReports.push_back({w1, true, w2, w3, n1});
        }
    } else if (keyword == "event") {
        if (number(n1) && number(n2)) {
            s.eventStatus = {true, n1};
            s.eventRemaining = {true, n2};
            text(s.eventName);
        }
    } else if (keyword == "excap" || keyword == "useroption") {
        if (number(n1) && lastNumber(n2)) {
            (keyword == "excap" ? s.excaps : s.userOptions).push_back({false, n1, n2});
        }
    } else if (keyword == "addfromscc") {
        s.addFromScc.push_back(restText(line, pos));
    } else if (keyword == "addfromscc.count") {
        if (lastNumber(n1)) {
            s.addFromSccCount = {true, n1};
        }
    } else if (keyword == "outpath.user") {
        text(s.outUser);
    } else if (keyword == "outpath.aux") {
        text(s.outAux);
    } else if (keyword == "outpath.path") {
        text(s.outPath);
    } else if (keyword == "change") {
        if (number(n1) && word(w1)) {
            s.changes.push_back({n1, w1, restText(line, pos)});
        }
    } else if (keyword == "diritem") {
        if (number(n1)) {
            s.dirItems.push_back({n1, false, restText(line, pos)});
        }
    } else if (keyword == "multicheckout") {
        if (lastNumber(n1)) {
            s.multiCheckout = {true, n1};
        }
    } else if (keyword == "cancelpoll") {
        if (word(w1) && lastNumber(n1)) {
            s.cancelPolls.push_back({w1, n1});
        }
    } else if (keyword == "exit.callback") {
        if (word(w1) && number(n1) && lastNumber(n2)) {
            s.callbackExits.push_back({w1, n1, n2});
        }
    }
}

Script loadScript() {
    Script s;
    std::string data = readScriptFile();
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) {
            end = data.size();
        }
        std::string line = data.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        parseLine(line, s);
    }
    return s;
}

// The result code of ENTRY: a line naming it wins over a `*` line; among
// lines of the same kind the last one wins.
int64_t resultFor(const Script &s, const char *entry) {
    int64_t result = 0;
    bool named = false;
    for (const EntryNumber &r : s.returns) {
        if (r.entry == entry) {
            result = r.value;
            named = true;
        } else if (r.entry == "*" && !named) {
            result = r.value;
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// Log formatting

std::string quoted(const char *text) {
    if (text == nullptr) {
        return "null";
    }
    static const char hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
        unsigned char c = *p;
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else if (c < 0x20 || c >= 0x7f) {
            out += "\\x";
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xf]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
    return out;
}

std::string setOrNull(const void *p) {
    return p != nullptr ? "set" : "null";
}

template <typename F>
std::string fnSetOrNull(F f) {
    return f != nullptr ? "set" : "null";
}

std::string opaque(const void *p) {
    static const char hex[] = "0123456789abcdef";
    auto v = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p));
    std::string digits;
    do {
        digits.insert(digits.begin(), hex[v & 0xf]);
        v >>= 4;
    } while (v != 0);
    return "0x" + digits;
}

std::string nameArray(SCCLONG count, const char **names) {
    if (names == nullptr) {
        return "null";
    }
    std::string out = "[";
    for (SCCLONG i = 0; i < count; ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        out += quoted(names[i]);
    }
    out.push_back(']');
    return out;
}

std::string numberArray(SCCLONG count, const SCCLONG *values) {
    if (values == nullptr) {
        return "null";
    }
    std::string out = "[";
    for (SCCLONG i = 0; i < count; ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        out += std::to_string(values[i]);
    }
    out.push_back(']');
    return out;
}

// Builds "Entry key=value key=value ...".
class Line {
public:
    explicit Line(const char *entry) : text_(entry) {}
    Line &field(const char *key, const std::string &value) {
        text_.push_back(' ');
        text_ += key;
        text_.push_back('=');
        text_ += value;
        return *this;
    }
    Line &field(const char *key, long long value) { return field(key, std::to_string(value)); }
    const std::string &str() const { return text_; }

private:
    std::string text_;
};

// ---------------------------------------------------------------------------
// State kept between calls

struct State {
    LPTEXTOUTPROC textOut = nullptr;  // the one SccOpenProject received most recently
    void *context = nullptr;          // what SccInitialize handed out last
    OPTNAMECHANGEPFN nameChange = nullptr;  // SccSetOption(SCC_OPT_NAMECHANGEPFN)
    SCCOPTVALUE userData = 0;               // SccSetOption(SCC_OPT_USERDATA)
    const char **added = nullptr;           // SccAddFromScc's array, until freed
    std::vector<std::string> addedNames;    // its names' storage
};
State g_state;

// Read through to crash: the compiler cannot know that it is null.
int *volatile g_nullPointer = nullptr;

// ---------------------------------------------------------------------------
// What every entry point does

// A real fault, also in sanitizer builds (where the null check would end the
// process with its own report instead).
#if defined(__GNUC__) || defined(__clang__)
__attribute__((no_sanitize("null")))
#endif
void crashNow() {
    *g_nullPointer = 0x5cc;
}

// Callbacks made so far in the current call (exit.callback counts them).
int64_t g_callbacksMade = 0;

// Counts a callback that has returned; ends the process when an exit.callback
// line of ENTRY asks for it after this many.
void afterCallback(const Script &s, const char *entry) {
    ++g_callbacksMade;
    for (const CallbackExit &e : s.callbackExits) {
        if (entryMatches(e.entry, entry) && e.after == g_callbacksMade) {
            std::fflush(nullptr);
            std::exit(static_cast<int>(e.code));
        }
    }
}

// Runs the fatal directives of ENTRY, if any: they act right after its log line.
void fatalActions(const Script &s, const char *entry) {
    g_callbacksMade = 0;
    if (listMatches(s.crashes, entry)) {
        crashNow();
    }
    if (listMatches(s.aborts, entry)) {
        std::abort();
    }
    for (const EntryNumber &e : s.exits) {
        if (entryMatches(e.entry, entry)) {
            std::fflush(nullptr);
            std::exit(static_cast<int>(e.value));
        }
    }
    if (listMatches(s.hangs, entry)) {
        for (;;) {
#ifdef _WIN32
            Sleep(1000);
#else
            sleep(1);
#endif
        }
    }
}

// message.thread: the calling thread and a thread of the provider's own each
// send the text N times at once; neither is logged.
void sendThreadMessages(const Script &s, const char *entry) {
    for (const ThreadMessages &m : s.threadMessages) {
        LPTEXTOUTPROC textOut = g_state.textOut;
        if (!entryMatches(m.entry, entry) || textOut == nullptr) {
            continue;
        }
        auto send = [&m, textOut] {
            for (int64_t i = 0; i < m.count; ++i) {
                textOut(m.text.c_str(), static_cast<SCCLONG>(m.type));
            }
        };
        std::thread other(send);
        send();
        other.join();
    }
}

// message.later: a thread of the provider's own sends the text MS
// milliseconds from now, most likely after the call has returned, and logs it
// once the callback has returned. The thread is left to run: the library must
// stay loaded until it has sent (the out-of-process tests).
void startLaterMessages(const Script &s, const char *entry) {
    for (const LaterMessage &m : s.laterMessages) {
        LPTEXTOUTPROC textOut = g_state.textOut;
        if (!entryMatches(m.entry, entry) || textOut == nullptr) {
            continue;
        }
        std::thread([m, textOut] {
            std::this_thread::sleep_for(std::chrono::milliseconds(m.delayMs));
            auto type = static_cast<SCCLONG>(m.type);
            SCCLONG r = textOut(m.text.c_str(), type);
            logLine(Line("textout").field("type", type).field("text", quoted(m.text.c_str())).str() +
                    " -> " + std::to_string(r));
        }).detach();
    }
}

void logNameReport(const NameReport &r, const char *thread) {
    logLine(Line("namechange")
                .field("old", quoted(r.oldName.c_str()))
                .field("new", quoted(r.newName.c_str()))
                .field("thread", thread)
                .str());
}

// namechange lines: the rename reports of ENTRY, made during the call with the
// user data set last; a `.thread` one from a thread of the provider's own, a
// `.later` one from a thread that is not waited for.
void sendNameReports(const Script &s, const char *entry) {
    for (const NameReport &r : s.nameReports) {
        OPTNAMECHANGEPFN report = g_state.nameChange;
        if (!entryMatches(r.entry, entry) || report == nullptr) {
            continue;
        }
        void *data = reinterpret_cast<void *>(g_state.userData);
        if (r.laterMs >= 0) {
            // Like message.later: most likely between calls, not waited for.
            std::thread([r, report, data] {
                std::this_thread::sleep_for(std::chrono::milliseconds(r.laterMs));
                report(data, r.oldName.c_str(), r.newName.c_str());
                logNameReport(r, "later");
            }).detach();
            continue;
        }
        if (r.otherThread) {
            std::thread other([&] { report(data, r.oldName.c_str(), r.newName.c_str()); });
            other.join();
        } else {
            report(data, r.oldName.c_str(), r.newName.c_str());
        }
        logNameReport(r, r.otherThread ? "other" : "caller");
    }
}

// cancelpoll ENTRY N: a long command in cancel mode. It shows the cancel
// control, asks "cancelled?" up to N times a millisecond apart and stops at
// the first SCC_MSG_RTN_CANCEL, hides the control again and returns
// SCC_I_OPERATIONCANCELED when it was cancelled.
bool pollCancel(const Script &s, const char *entry) {
    bool cancelled = false;
    for (const EntryNumber &c : s.cancelPolls) {
        LPTEXTOUTPROC textOut = g_state.textOut;
        if (!entryMatches(c.entry, entry) || textOut == nullptr) {
            continue;
        }
        SCCLONG shown = textOut("Working", SCC_MSG_STARTCANCEL);
        int64_t polls = 0;
        while (polls < c.value && !cancelled) {
            ++polls;
            cancelled = textOut("Cancel?", SCC_MSG_DOCANCEL) == SCC_MSG_RTN_CANCEL;
            if (!cancelled) {
#ifdef _WIN32
                Sleep(1);
#else
                usleep(1000);
#endif
            }
        }
        SCCLONG hidden = textOut("Done", SCC_MSG_STOPCANCEL);
        logLine(Line("cancelpoll")
                    .field("start", static_cast<long long>(shown))
                    .field("cancelled", cancelled ? 1 : 0)
                    .field("stop", static_cast<long long>(hidden))
                    .str());
    }
    return cancelled;
}

void sendMessages(const Script &s, const char *entry) {
    startLaterMessages(s, entry);
    sendNameReports(s, entry);
    sendThreadMessages(s, entry);
    for (const Message &m : s.messages) {
        if (!entryMatches(m.entry, entry) || g_state.textOut == nullptr) {
            continue;
        }
        const char *text = m.isNull ? nullptr : m.text.c_str();
        auto type = static_cast<SCCLONG>(m.type);
        SCCLONG r = g_state.textOut(text, type);
        logLine(Line("textout").field("type", type).field("text", quoted(text)).str() + " -> " +
                std::to_string(r));
        afterCallback(s, entry);
    }
}

// Copies the script's bytes and a terminator into a caller buffer, whatever their length.
void copyText(char *dest, const std::string &text) {
    if (dest != nullptr) {
        std::memcpy(dest, text.data(), text.size());
        dest[text.size()] = '\0';
    }
}

void copyText(char *dest, const OptText &text) {
    if (text.set) {
        copyText(dest, text.text);
    }
}

// The common start of an entry point: read the script, write the call's line,
// run the fatal directives.
Script begin(const char *entry, const std::string &line) {
    Script s = loadScript();
    logLine(line);
    fatalActions(s, entry);
    return s;
}

// Nothing thrown inside may leave an entry point.
template <typename Body>
SCCRTN guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return SCC_E_UNKNOWNERROR;
    }
}

// The plain file commands: script, messages, result.
SCCRTN simpleCommand(const char *entry, const Line &line) {
    return guarded([&] {
        Script s = begin(entry, line.str());
        sendMessages(s, entry);
        if (pollCancel(s, entry)) {
            return static_cast<SCCRTN>(SCC_I_OPERATIONCANCELED);
        }
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry points

extern "C" {

TP_EXPORT_INIT SCCRTN SCC_CALL SccInitialize(void **context, SCCHWND window,
                                             const char *callerName, char *sccName,
                                             SCCLONG *capabilities, char *auxPathLabel,
                                             SCCLONG *checkoutCommentLen, SCCLONG *commentLen) {
    const char *entry = "SccInitialize";
    return guarded([&] {
        Line line(entry);
        line.field("context", setOrNull(context))
            .field("window", setOrNull(window))
            .field("caller", quoted(callerName))
            .field("name", setOrNull(sccName))
            .field("caps", setOrNull(capabilities))
            .field("auxlabel", setOrNull(auxPathLabel))
            .field("checkoutcommentlen", setOrNull(checkoutCommentLen))
            .field("commentlen", setOrNull(commentLen));
        Script s = begin(entry, line.str());
        if (!s.initNoWrite) {
            void *ctx = reinterpret_cast<void *>(static_cast<uintptr_t>(s.initContext));
            if (context != nullptr) {
                *context = ctx;
                g_state.context = ctx;
            }
            copyText(sccName, s.initName);
            if (capabilities != nullptr) {
                *capabilities = static_cast<SCCLONG>(s.initCaps);
            }
            copyText(auxPathLabel, s.initAuxLabel);
            if (checkoutCommentLen != nullptr) {
                *checkoutCommentLen = static_cast<SCCLONG>(s.initCheckoutCommentLen);
            }
            if (commentLen != nullptr) {
                *commentLen = static_cast<SCCLONG>(s.initCommentLen);
            }
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_UNINIT SCCRTN SCC_CALL SccUninitialize(void *context) {
    return simpleCommand("SccUninitialize", Line("SccUninitialize").field("context", opaque(context)));
}

TP_EXPORT_ALL SCCLONG SCC_CALL SccGetVersion(void) {
    const char *entry = "SccGetVersion";
    return guarded([&] {
        Script s = begin(entry, Line(entry).str());
        sendMessages(s, entry);
        // A `version` line decides; without one a `return SccGetVersion N` line
        // does; a `return *` line does not apply.
        int64_t version = 0x00010002;
        if (s.version.set) {
            version = s.version.value;
        } else {
            for (const EntryNumber &r : s.returns) {
                if (r.entry == entry) {
                    version = r.value;
                }
            }
        }
        return static_cast<SCCLONG>(version);
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccOpenProject(void *context, SCCHWND window, char *user,
                                             char *projectName, const char *localProjPath,
                                             char *auxProjPath, const char *comment,
                                             LPTEXTOUTPROC textOut, SCCLONG flags) {
    const char *entry = "SccOpenProject";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("user", quoted(user))
            .field("project", quoted(projectName))
            .field("local", quoted(localProjPath))
            .field("aux", quoted(auxProjPath))
            .field("comment", quoted(comment))
            .field("textout", fnSetOrNull(textOut))
            .field("flags", flags);
        Script s = begin(entry, line.str());
        g_state.textOut = textOut;
        copyText(user, s.openUser);
        copyText(projectName, s.openProject);
        copyText(auxProjPath, s.openAux);
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccCloseProject(void *context) {
    return simpleCommand("SccCloseProject", Line("SccCloseProject").field("context", opaque(context)));
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetProjPath(void *context, SCCHWND window, char *user,
                                             char *projectName, char *localPath,
                                             char *auxProjPath, SCCBOOL allowChangePath,
                                             SCCBOOL *isNew) {
    const char *entry = "SccGetProjPath";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("user", quoted(user))
            .field("project", quoted(projectName))
            .field("local", quoted(localPath))
            .field("aux", quoted(auxProjPath))
            .field("allowchangepath", allowChangePath)
            .field("allownew", isNew != nullptr ? std::to_string(*isNew) : std::string("null"));
        Script s = begin(entry, line.str());
        copyText(user, s.projUser);
        copyText(projectName, s.projProject);
        copyText(localPath, s.projLocal);
        copyText(auxProjPath, s.projAux);
        if (s.projAllowNew.set && isNew != nullptr) {
            *isNew = static_cast<SCCBOOL>(s.projAllowNew.value);
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

namespace {

// SccGet, SccUncheckout, SccHistory.
SCCRTN namesFlagsCommand(const char *entry, void *context, SCCHWND window, SCCLONG count,
                         const char **names, SCCLONG flags, SCCCMDOPTS options) {
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("flags", flags)
            .field("options", opaque(options));
        return simpleCommand(entry, line);
    });
}

// SccCheckout, SccCheckin, SccRemove.
SCCRTN namesCommentCommand(const char *entry, void *context, SCCHWND window, SCCLONG count,
                           const char **names, const char *comment, SCCLONG flags,
                           SCCCMDOPTS options) {
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("comment", quoted(comment))
            .field("flags", flags)
            .field("options", opaque(options));
        return simpleCommand(entry, line);
    });
}

}  // namespace

TP_EXPORT_ALL SCCRTN SCC_CALL SccGet(void *context, SCCHWND window, SCCLONG count,
                                     const char **names, SCCLONG flags, SCCCMDOPTS options) {
    return namesFlagsCommand("SccGet", context, window, count, names, flags, options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccCheckout(void *context, SCCHWND window, SCCLONG count,
                                          const char **names, const char *comment, SCCLONG flags,
                                          SCCCMDOPTS options) {
    return namesCommentCommand("SccCheckout", context, window, count, names, comment, flags,
                               options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccCheckin(void *context, SCCHWND window, SCCLONG count,
                                         const char **names, const char *comment, SCCLONG flags,
                                         SCCCMDOPTS options) {
    return namesCommentCommand("SccCheckin", context, window, count, names, comment, flags,
                               options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccUncheckout(void *context, SCCHWND window, SCCLONG count,
                                            const char **names, SCCLONG flags,
                                            SCCCMDOPTS options) {
    return namesFlagsCommand("SccUncheckout", context, window, count, names, flags, options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccAdd(void *context, SCCHWND window, SCCLONG count,
                                     const char **names, const char *comment, SCCLONG *flags,
                                     SCCCMDOPTS options) {
    const char *entry = "SccAdd";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("comment", quoted(comment))
            .field("flags", numberArray(count, flags))
            .field("options", opaque(options));
        return simpleCommand(entry, line);
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccRemove(void *context, SCCHWND window, SCCLONG count,
                                        const char **names, const char *comment, SCCLONG flags,
                                        SCCCMDOPTS options) {
    return namesCommentCommand("SccRemove", context, window, count, names, comment, flags,
                               options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccDiff(void *context, SCCHWND window, const char *name,
                                      SCCLONG flags, SCCCMDOPTS options) {
    const char *entry = "SccDiff";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("name", quoted(name))
            .field("flags", flags)
            .field("options", opaque(options));
        return simpleCommand(entry, line);
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccHistory(void *context, SCCHWND window, SCCLONG count,
                                         const char **names, SCCLONG flags, SCCCMDOPTS options) {
    return namesFlagsCommand("SccHistory", context, window, count, names, flags, options);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccProperties(void *context, SCCHWND window, const char *name) {
    const char *entry = "SccProperties";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("name", quoted(name));
        return simpleCommand(entry, line);
    });
}

namespace {

// Applies the `status` directives to the caller's words, in file order.
void writeStatus(const Script &s, SCCLONG count, SCCLONG *status) {
    if (status == nullptr) {
        return;
    }
    for (const IndexNumber &st : s.statuses) {
        for (SCCLONG i = 0; i < count; ++i) {
            if (st.all || st.index == i) {
                status[i] = static_cast<SCCLONG>(st.value);
            }
        }
    }
}

}  // namespace

TP_EXPORT_ALL SCCRTN SCC_CALL SccQueryInfo(void *context, SCCLONG count, const char **names,
                                           SCCLONG *status) {
    const char *entry = "SccQueryInfo";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("status", numberArray(count, status));
        Script s = begin(entry, line.str());
        writeStatus(s, count, status);
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccRunScc(void *context, SCCHWND window, SCCLONG count,
                                        const char **names) {
    const char *entry = "SccRunScc";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("count", count)
            .field("names", nameArray(count, names));
        return simpleCommand(entry, line);
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetCommandOptions(void *context, SCCHWND window,
                                                   enum SCCCOMMAND command,
                                                   SCCCMDOPTS *options) {
    const char *entry = "SccGetCommandOptions";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("command", static_cast<long long>(command))
            .field("options", options != nullptr ? opaque(*options) : std::string("null"));
        Script s = begin(entry, line.str());
        if (options != nullptr) {
            for (const IndexNumber &o : s.optionStores) {
                if (o.all || o.index == static_cast<int64_t>(command)) {
                    *options = reinterpret_cast<SCCCMDOPTS>(static_cast<uintptr_t>(o.value));
                }
            }
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccPopulateList(void *context, enum SCCCOMMAND command,
                                              SCCLONG count, const char **names,
                                              POPLISTFUNC populate, void *callerData,
                                              SCCLONG *status, SCCLONG flags) {
    const char *entry = "SccPopulateList";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("command", static_cast<long long>(command))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("populate", fnSetOrNull(populate))
            .field("callerdata", setOrNull(callerData))
            .field("status", setOrNull(status))
            .field("flags", flags);
        Script s = begin(entry, line.str());
        writeStatus(s, count, status);
        sendMessages(s, entry);
        if (populate != nullptr) {
            for (const Populate &p : s.populates) {
                const char *name = p.isNull ? nullptr : p.name.c_str();
                auto keep = static_cast<SCCBOOL>(p.keep);
                SCCBOOL r = populate(callerData, keep, SCC_STATUS_NOTCONTROLLED, name);
                logLine(Line("populate").field("keep", keep).field("name", quoted(name)).str() +
                        " -> " + std::to_string(r));
                afterCallback(s, entry);
            }
        }
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

// ---------------------------------------------------------------------------
// The further entry points

TP_EXPORT_ALL SCCRTN SCC_CALL SccRename(void *context, SCCHWND window, const char *fileName,
                                        const char *newName) {
    const char *entry = "SccRename";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("name", quoted(fileName))
            .field("newname", quoted(newName));
        return simpleCommand(entry, line);
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccSetOption(void *context, SCCLONG option, SCCOPTVALUE value) {
    const char *entry = "SccSetOption";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context)).field("option", option);
        if (option == SCC_OPT_NAMECHANGEPFN) {
            line.field("value", setOrNull(reinterpret_cast<void *>(value)));
        } else {
            line.field("value", static_cast<long long>(value));
        }
        Script s = begin(entry, line.str());
        if (s.nameChangeLong32 && (option == SCC_OPT_NAMECHANGEPFN || option == SCC_OPT_USERDATA)) {
            // As the 1.1 header's LONG: kept in 32 bits, widened back with its sign.
            const auto kept = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uintptr_t>(value)));
            value = static_cast<SCCOPTVALUE>(kept);
        }
        if (option == SCC_OPT_NAMECHANGEPFN) {
            g_state.nameChange = reinterpret_cast<OPTNAMECHANGEPFN>(value);
        } else if (option == SCC_OPT_USERDATA) {
            g_state.userData = value;
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetEvents(void *context, char *fileName, SCCLONG *status,
                                           SCCLONG *eventsRemaining) {
    const char *entry = "SccGetEvents";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("name", setOrNull(fileName))
            .field("status", setOrNull(status))
            .field("remaining", setOrNull(eventsRemaining));
        Script s = begin(entry, line.str());
        if (s.eventName.set && fileName != nullptr) {
            std::string name = s.eventName.text.substr(0, SCC_EVENT_NAME_SIZE - 1);
            copyText(fileName, name);
        }
        if (s.eventStatus.set && status != nullptr) {
            *status = static_cast<SCCLONG>(s.eventStatus.value);
        }
        if (s.eventRemaining.set && eventsRemaining != nullptr) {
            *eventsRemaining = static_cast<SCCLONG>(s.eventRemaining.value);
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

namespace {
// The value of the last `excap`/`useroption` line for CODE; false for none.
bool lookup(const std::vector<IndexNumber> &lines, SCCLONG code, int64_t &value) {
    bool found = false;
    for (const IndexNumber &l : lines) {
        if (l.index == code) {
            value = l.value;
            found = true;
        }
    }
    return found;
}
}  // namespace

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetExtendedCapabilities(void *context, SCCLONG capability,
                                                         SCCBOOL *supported) {
    const char *entry = "SccGetExtendedCapabilities";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("capability", capability)
            .field("supported", setOrNull(supported));
        Script s = begin(entry, line.str());
        int64_t value = 0;
        if (supported != nullptr) {
            *supported = lookup(s.excaps, capability, value) ? static_cast<SCCBOOL>(value) : 0;
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

// First call: the `addfromscc` lines become an array the provider owns
// (`addfromscc.count` overrides the count reported). Second call (null
// count): logs whether the array handed back is the one it made, frees it.
TP_EXPORT_ALL SCCRTN SCC_CALL SccAddFromScc(void *context, SCCHWND window, SCCLONG *count,
                                            const char ***names) {
    const char *entry = "SccAddFromScc";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context)).field("window", setOrNull(window));
        if (count == nullptr) {
            line.field("count", "null");
            line.field("names", names == nullptr ? "null"
                                : *names != nullptr && *names == g_state.added ? "own"
                                                                                : "other");
            logLine(line.str());
            if (names != nullptr && *names == g_state.added) {
                delete[] g_state.added;
                g_state.added = nullptr;
                g_state.addedNames.clear();
            }
            return static_cast<SCCRTN>(SCC_OK);
        }
        line.field("count", *count);
        line.field("names", names == nullptr ? std::string("null")
                                             : nameArray(*count > 0 ? 1 : 0, *names));
        Script s = begin(entry, line.str());
        if (names != nullptr) {
            delete[] g_state.added;
            g_state.addedNames = s.addFromScc;
            g_state.added = new const char *[g_state.addedNames.size() + 1];
            for (size_t i = 0; i < g_state.addedNames.size(); ++i) {
                g_state.added[i] = g_state.addedNames[i].c_str();
            }
            *names = g_state.added;
            *count = s.addFromSccCount.set ? static_cast<SCCLONG>(s.addFromSccCount.value)
                                           : static_cast<SCCLONG>(g_state.addedNames.size());
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetUserOption(void *context, SCCLONG option, SCCLONG *value) {
    const char *entry = "SccGetUserOption";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("option", option)
            .field("value", setOrNull(value));
        Script s = begin(entry, line.str());
        int64_t v = 0;
        if (value != nullptr && lookup(s.userOptions, option, v)) {
            *value = static_cast<SCCLONG>(v);
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccBeginBatch(void) {
    return simpleCommand("SccBeginBatch", Line("SccBeginBatch"));
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccEndBatch(void) {
    return simpleCommand("SccEndBatch", Line("SccEndBatch"));
}

namespace {
// SccCreateSubProject, SccGetParentProjectPath: the `outpath` lines fill the
// user, aux project path and resulting path buffers.
void writeOutPaths(const Script &s, char *user, char *aux, char *path) {
    copyText(user, s.outUser);
    copyText(aux, s.outAux);
    copyText(path, s.outPath);
}
}  // namespace

TP_EXPORT_ALL SCCRTN SCC_CALL SccCreateSubProject(void *context, SCCHWND window, char *user,
                                                  const char *parentProjPath,
                                                  const char *subProjName, char *auxProjPath,
                                                  char *subProjPath) {
    const char *entry = "SccCreateSubProject";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("user", quoted(user))
            .field("parent", quoted(parentProjPath))
            .field("name", quoted(subProjName))
            .field("aux", quoted(auxProjPath))
            .field("subpath", quoted(subProjPath));
        Script s = begin(entry, line.str());
        writeOutPaths(s, user, auxProjPath, subProjPath);
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccGetParentProjectPath(void *context, SCCHWND window, char *user,
                                                      const char *projPath, char *auxProjPath,
                                                      char *parentProjPath) {
    const char *entry = "SccGetParentProjectPath";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("user", quoted(user))
            .field("path", quoted(projPath))
            .field("aux", quoted(auxProjPath))
            .field("parent", quoted(parentProjPath));
        Script s = begin(entry, line.str());
        writeOutPaths(s, user, auxProjPath, parentProjPath);
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

namespace {
// SccDirQueryInfo, SccWillCreateSccFile: names and a word per name, written
// by the `status` lines.
SCCRTN namesWordsCommand(const char *entry, void *context, SCCLONG count, const char **names,
                         SCCLONG *words) {
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("status", numberArray(count, words));
        Script s = begin(entry, line.str());
        writeStatus(s, count, words);
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}
}  // namespace

TP_EXPORT_ALL SCCRTN SCC_CALL SccDirQueryInfo(void *context, SCCLONG count, const char **dirs,
                                              SCCLONG *status) {
    return namesWordsCommand("SccDirQueryInfo", context, count, dirs, status);
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccDirDiff(void *context, SCCHWND window, const char *dir,
                                         SCCLONG flags, SCCCMDOPTS options) {
    const char *entry = "SccDirDiff";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("window", setOrNull(window))
            .field("name", quoted(dir))
            .field("flags", flags)
            .field("options", opaque(options));
        return simpleCommand(entry, line);
    });
}

// The `change` lines, in file order, until the callback answers anything but
// SCC_OK.
TP_EXPORT_ALL SCCRTN SCC_CALL SccQueryChanges(void *context, SCCLONG count, const char **names,
                                              QUERYCHANGESFUNC callback, void *callerData) {
    const char *entry = "SccQueryChanges";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("count", count)
            .field("names", nameArray(count, names))
            .field("callback", fnSetOrNull(callback))
            .field("callerdata", setOrNull(callerData));
        Script s = begin(entry, line.str());
        sendMessages(s, entry);
        if (callback != nullptr) {
            for (const Change &c : s.changes) {
                QUERYCHANGESDATA data{sizeof(QUERYCHANGESDATA), c.name.c_str(),
                                      static_cast<uint32_t>(c.type), c.latest.c_str()};
                SCCBOOL r = callback(callerData, &data);
                logLine(Line("change")
                            .field("name", quoted(c.name.c_str()))
                            .field("type", c.type)
                            .field("latest", quoted(c.latest.c_str()))
                            .str() +
                        " -> " + std::to_string(r));
                afterCallback(s, entry);
                if (r != SCC_OK) {
                    break;
                }
            }
        }
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

// The `diritem` lines, in file order, until the callback answers anything
// but SCC_OK.
TP_EXPORT_ALL SCCRTN SCC_CALL SccPopulateDirList(void *context, SCCLONG count, const char **dirs,
                                                 POPDIRLISTFUNC callback, void *callerData,
                                                 SCCLONG options) {
    const char *entry = "SccPopulateDirList";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context))
            .field("count", count)
            .field("names", nameArray(count, dirs))
            .field("callback", fnSetOrNull(callback))
            .field("callerdata", setOrNull(callerData))
            .field("options", options);
        Script s = begin(entry, line.str());
        sendMessages(s, entry);
        if (callback != nullptr) {
            for (const Populate &item : s.dirItems) {
                auto folder = static_cast<SCCBOOL>(item.keep);
                SCCBOOL r = callback(callerData, folder, item.name.c_str());
                logLine(Line("diritem").field("folder", folder).field("name", quoted(item.name.c_str())).str() +
                        " -> " + std::to_string(r));
                afterCallback(s, entry);
                if (r != SCC_OK) {
                    break;
                }
            }
        }
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccIsMultiCheckoutEnabled(void *context, SCCBOOL *multiCheckout) {
    const char *entry = "SccIsMultiCheckoutEnabled";
    return guarded([&] {
        Line line(entry);
        line.field("context", opaque(context)).field("enabled", setOrNull(multiCheckout));
        Script s = begin(entry, line.str());
        if (s.multiCheckout.set && multiCheckout != nullptr) {
            *multiCheckout = static_cast<SCCBOOL>(s.multiCheckout.value);
        }
        sendMessages(s, entry);
        return static_cast<SCCRTN>(resultFor(s, entry));
    });
}

TP_EXPORT_ALL SCCRTN SCC_CALL SccWillCreateSccFile(void *context, SCCLONG count, const char **names,
                                                   SCCBOOL *sccFiles) {
    return namesWordsCommand("SccWillCreateSccFile", context, count, names, sccFiles);
}

}  // extern "C"

// Every entry point has exactly the type the bridge calls it through.
static_assert(std::is_same_v<decltype(&SccInitialize), SccInitializeFn>);
static_assert(std::is_same_v<decltype(&SccUninitialize), SccUninitializeFn>);
static_assert(std::is_same_v<decltype(&SccGetVersion), SccGetVersionFn>);
static_assert(std::is_same_v<decltype(&SccOpenProject), SccOpenProjectFn>);
static_assert(std::is_same_v<decltype(&SccCloseProject), SccCloseProjectFn>);
static_assert(std::is_same_v<decltype(&SccGetProjPath), SccGetProjPathFn>);
static_assert(std::is_same_v<decltype(&SccGet), SccGetFn>);
static_assert(std::is_same_v<decltype(&SccCheckout), SccCheckoutFn>);
static_assert(std::is_same_v<decltype(&SccCheckin), SccCheckinFn>);
static_assert(std::is_same_v<decltype(&SccUncheckout), SccUncheckoutFn>);
static_assert(std::is_same_v<decltype(&SccAdd), SccAddFn>);
static_assert(std::is_same_v<decltype(&SccRemove), SccRemoveFn>);
static_assert(std::is_same_v<decltype(&SccDiff), SccDiffFn>);
static_assert(std::is_same_v<decltype(&SccHistory), SccHistoryFn>);
static_assert(std::is_same_v<decltype(&SccProperties), SccPropertiesFn>);
static_assert(std::is_same_v<decltype(&SccQueryInfo), SccQueryInfoFn>);
static_assert(std::is_same_v<decltype(&SccRunScc), SccRunSccFn>);
static_assert(std::is_same_v<decltype(&SccGetCommandOptions), SccGetCommandOptionsFn>);
static_assert(std::is_same_v<decltype(&SccPopulateList), SccPopulateListFn>);
static_assert(std::is_same_v<decltype(&SccRename), SccRenameFn>);
static_assert(std::is_same_v<decltype(&SccSetOption), SccSetOptionFn>);
static_assert(std::is_same_v<decltype(&SccGetEvents), SccGetEventsFn>);
static_assert(std::is_same_v<decltype(&SccGetExtendedCapabilities), SccGetExtendedCapabilitiesFn>);
static_assert(std::is_same_v<decltype(&SccAddFromScc), SccAddFromSccFn>);
static_assert(std::is_same_v<decltype(&SccGetUserOption), SccGetUserOptionFn>);
static_assert(std::is_same_v<decltype(&SccBeginBatch), SccBeginBatchFn>);
static_assert(std::is_same_v<decltype(&SccEndBatch), SccEndBatchFn>);
static_assert(std::is_same_v<decltype(&SccCreateSubProject), SccCreateSubProjectFn>);
static_assert(std::is_same_v<decltype(&SccGetParentProjectPath), SccGetParentProjectPathFn>);
static_assert(std::is_same_v<decltype(&SccDirQueryInfo), SccDirQueryInfoFn>);
static_assert(std::is_same_v<decltype(&SccDirDiff), SccDirDiffFn>);
static_assert(std::is_same_v<decltype(&SccQueryChanges), SccQueryChangesFn>);
static_assert(std::is_same_v<decltype(&SccPopulateDirList), SccPopulateDirListFn>);
static_assert(std::is_same_v<decltype(&SccIsMultiCheckoutEnabled), SccIsMultiCheckoutEnabledFn>);
static_assert(std::is_same_v<decltype(&SccWillCreateSccFile), SccWillCreateSccFileFn>);
