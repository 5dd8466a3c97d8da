// The trace log: every write opens the file for appending, writes and closes
// it again, so nothing stays open between writes. Each line and each block is
// appended with one write, so that objects tracing to one file from several
// threads never split each other's lines or blocks.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "core/SccInterface.h"
#include "platform/platform.h"

namespace oskel {

namespace {

std::tm localNow() { return platform::localTime(std::time(nullptr)); }

struct CapabilityLine {
    uint32_t bit;
    const char *line;
};

constexpr CapabilityLine kCapabilityLines[] = {
    {0x00000001, "No SCC_CAP_REMOVE\n"},
    {0x00000002, "No SCC_CAP_RENAME\n"},
    {0x00000004, "No SCC_CAP_DIFF\n"},
    {0x00000008, "No SCC_CAP_HISTORY\n"},
    {0x00000010, "No SCC_CAP_PROPERTIES\n"},
    {0x00000040, "No SCC_CAP_GETCOMMANDOPTIONS\n"},
    {0x00000080, "No SCC_CAP_QUERYINFO\n"},
    {0x00000100, "No SCC_CAP_GETEVENTS\n"},
    {0x00000200, "No SCC_CAP_GETPROJPATH\n"},
    {0x00000400, "No SCC_CAP_ADDFROMSCC\n"},
    {0x00000800, "No SCC_CAP_COMMENTCHECKOUT\n"},
    {0x00001000, "No SCC_CAP_COMMENTCHECKIN\n"},
    {0x00002000, "No SCC_CAP_COMMENTADD\n"},
    {0x00004000, "No SCC_CAP_COMMENTREMOVE\n"},
    {0x00008000, "No SCC_CAP_TEXTOUT\n"},
    {0x00200000, "No SCC_CAP_ADD_STORELATEST\n"},
    {0x00400000, "No SCC_CAP_HISTORY_MULTFILE\n"},
    {0x00800000, "No SCC_CAP_IGNORECASE\n"},
    {0x01000000, "No SCC_CAP_IGNORESPACE\n"},
    {0x02000000, "No SCC_CAP_POPULATELIST\n"},
    {0x04000000, "No SCC_CAP_COMMENTPROJECT\n"},
    {0x10000000, "No SCC_CAP_DIFFALWAYS\n"},
    {0x20000000, "No SCC_CAP_GET_NOUI\n"},
    {0x40000000, "No SCC_CAP_REENTRANT\n"},
};

// The capability bits of the further entry points. They have a block of
// their own, written once a connection uses one of those entry points, so
// that the report of a connection that does not stays as it always was.
constexpr CapabilityLine kFurtherCapabilityLines[] = {
    {0x00010000, "No SCC_CAP_CREATESUBPROJECT\n"},
    {0x00020000, "No SCC_CAP_GETPARENTPROJECT\n"},
    {0x00040000, "No SCC_CAP_BATCH\n"},
    {0x00080000, "No SCC_CAP_DIRECTORYSTATUS\n"},
    {0x00100000, "No SCC_CAP_DIRECTORYDIFF\n"},
    {0x08000000, "No SCC_CAP_MULTICHECKOUT\n"},
    {0x80000000, "No SCC_CAP_SCCFILE\n"},
};

// The C library's ctime form, with the day of the month as two digits.
void formatCtime(const std::tm &tm, char (&out)[32]) {
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(out, sizeof out, "%s %s %02d %02d:%02d:%02d %04d\n", days[tm.tm_wday % 7],
                  months[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
}

// The header, a line per capability the provider lacks, the closing line.
template <size_t N>
std::string capabilityReport(int32_t capabilities, const CapabilityLine (&lines)[N],
                             const char *header) {
    char stamp[32];
    formatCtime(localNow(), stamp);
    std::string block = stamp;
    block += header;
    for (const auto &row : lines) {
        if ((static_cast<uint32_t>(capabilities) & row.bit) == 0)
            block += row.line;
    }
    block += "**********\n";
    return block;
}

std::string capabilityReport(int32_t capabilities) {
    return capabilityReport(capabilities, kCapabilityLines, "SCCIH: Missing capability\n");
}

std::string furtherCapabilityReport(int32_t capabilities) {
    return capabilityReport(capabilities, kFurtherCapabilityLines,
                            "SCCIH: Missing further capability\n");
}

// Trace paths are kept as UTF-8 text (they appear in the trace itself) and
// become the system's form of the path at each append. A path the system's
// form cannot hold opens nothing.
bool appendTo(const std::string &path, const void *data, size_t size) {
    platform::Path file;
    return platform::pathFromUtf8(path.c_str(), file) && platform::appendToFile(file, data, size);
}

// "%s %s SCCIH> %s\n" with the local date and time, in one append.
void appendTraceLine(const std::string &path, const char *text) {
    std::tm tm = localNow();
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S SCCIH> ", &tm);
    std::string line = stamp;
    line += text;
    line += '\n';
    appendTo(path, line.data(), line.size());
}

// The paths of the objects that trace at level 1 or more. An entry lapses
// when its object switches tracing again or goes.
std::mutex logsMutex;
auto *activeLogs = new std::vector<std::weak_ptr<const std::string>>(); // never destroyed

void rememberLog(const std::shared_ptr<const std::string> &path) {
    std::lock_guard<std::mutex> lock(logsMutex);
    activeLogs->erase(std::remove_if(activeLogs->begin(), activeLogs->end(),
                                     [](const auto &log) { return log.expired(); }),
                      activeLogs->end());
    activeLogs->push_back(path);
}

} // namespace

void traceToEveryLog(const char *text) {
    std::vector<std::shared_ptr<const std::string>> paths;
    {
        std::lock_guard<std::mutex> lock(logsMutex);
        for (const auto &log : *activeLogs) {
            auto path = log.lock();
            if (path && std::none_of(paths.begin(), paths.end(),
                                     [&](const auto &seen) { return *seen == *path; }))
                paths.push_back(std::move(path));
        }
    }
    for (const auto &path : paths)
        appendTraceLine(*path, text);
}

void SccInterface::setTracing(int32_t level, const char *path) {
    // Both are replaced whole: a thread tracing meanwhile writes with the old
    // or the new path, never with a freed one.
    auto copy = path != nullptr ? std::make_shared<const std::string>(path)
                                : std::shared_ptr<const std::string>();
    tracing.set(level, copy);
    if (level < 1 || !copy)
        return;
    rememberLog(copy);
    // Both go to the path just set, even when another thread has set another
    // one meanwhile.
    appendTraceLine(*copy, ("Setting tracing in " + *copy + " level=" + std::to_string(level)).c_str());
    std::string report = capabilityReport(getCapabilities());
    if (furtherUsed)
        report += furtherCapabilityReport(getCapabilities());
    appendTo(*copy, report.data(), report.size());
}

void SccInterface::noteFurtherUse() {
    if (furtherUsed.exchange(true) || tracing.level() < 1 || !tracingTo())
        return;
    writeRawBlock(furtherCapabilityReport(getCapabilities()));
}

void SccInterface::traceLine(const char *text) const {
    std::shared_ptr<const std::string> path = tracing.path();
    if (!path)
        return;
    if (text == nullptr) {
        appendTo(*path, "", 0); // creates the file, writes nothing
        return;
    }
    appendTraceLine(*path, text);
}

void SccInterface::trace(const char *text, int32_t minLevel) const {
    if (tracing.level() >= minLevel)
        traceLine(text);
}

void SccInterface::traceFileList(const char *const *names, int32_t count) const {
    if (!tracingTo())
        return;
    std::string block = "On Files:";
    for (int32_t i = 0; i < count; ++i) {
        if (names[i] != nullptr) {
            block += names[i];
            block += '\t';
        }
    }
    block += '\n';
    writeRawBlock(block);
}

void SccInterface::writeCapabilityReport() const {
    if (!tracingTo() || tracing.level() < 1)
        return;
    writeRawBlock(capabilityReport(getCapabilities()));
}

void SccInterface::writeRawBlock(const std::string &block) const {
    if (std::shared_ptr<const std::string> path = tracing.path())
        appendTo(*path, block.data(), block.size());
}

} // namespace oskel
