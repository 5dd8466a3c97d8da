// The trace log: every write opens the file for appending, writes and closes
// it again, so nothing stays open between writes.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/SccInterface.h"
#include "platform/platform.h"

namespace oskel {

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

File openTrace(const char *path) {
    if (path == nullptr)
        return nullptr;
    return File(std::fopen(path, "a+b"));
}

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

// The C library's ctime form, with the day of the month as two digits.
void formatCtime(const std::tm &tm, char (&out)[32]) {
    static const char *const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::snprintf(out, sizeof out, "%s %s %02d %02d:%02d:%02d %04d\n", days[tm.tm_wday % 7],
                  months[tm.tm_mon % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_year + 1900);
}

} // namespace

void SccInterface::setTracing(int32_t level, const char *path) {
    traceLevel = level;
    traceFilePath.reset();
    if (path != nullptr) {
        size_t n = std::strlen(path);
        traceFilePath = std::make_unique<char[]>(n + 1);
        std::memcpy(traceFilePath.get(), path, n + 1);
    }
    if (traceLevel < 1)
        return;
    std::string announcement = "Setting tracing in ";
    announcement += path ? path : "(null)";
    announcement += " level=";
    announcement += std::to_string(level);
    traceLine(announcement.c_str());
    writeCapabilityReport();
}

void SccInterface::traceLine(const char *text) const {
    File f = openTrace(traceFilePath.get());
    if (!f || text == nullptr)
        return;
    std::tm tm = localNow();
    char date[16], time[16];
    std::strftime(date, sizeof date, "%m/%d/%y", &tm);
    std::strftime(time, sizeof time, "%H:%M:%S", &tm);
    std::fprintf(f.get(), "%s %s SCCIH> %s\n", date, time, text);
}

void SccInterface::trace(const char *text, int32_t minLevel) const {
    if (traceLevel >= minLevel)
        traceLine(text);
}

void SccInterface::traceFileList(const char *const *names, int32_t count) const {
    if (!traceFilePath)
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
    if (!traceFilePath || traceLevel < 1)
        return;
    char stamp[32];
    formatCtime(localNow(), stamp);
    std::string block = stamp;
    block += "SCCIH: Missing capability\n";
    for (const auto &row : kCapabilityLines) {
        if ((static_cast<uint32_t>(capabilities) & row.bit) == 0)
            block += row.line;
    }
    block += "**********\n";
    writeRawBlock(block);
}

void SccInterface::writeRawBlock(const std::string &block) const {
    File f = openTrace(traceFilePath.get());
    if (!f)
        return;
    std::fwrite(block.data(), 1, block.size(), f.get());
}

} // namespace oskel
