// The file commands: eleven members of one family, each described by a row of
// facts (entry point, option slot, trace texts) and run through one shared
// path; the arguments each passes are its entry point's.
#include <cstdio>
#include <string>

#include "core/SccInterface.h"
#include "core/provider_calls.h"

namespace oskel {

// One member of the family. Which arguments it passes (a list of names or one
// name, a comment, flags, per-file words, an option slot) is its entry point's
// row; these are the facts the row does not give.
struct SccInterface::CommandRow {
    EntryPoint entryPoint;
    int slot; // option slot passed, or -1 for none
    const char *entryLine;
    const char *exitLine;
    const char *detailLabel; // single-file commands: detail line label
    bool statusDump;         // the per-file words are status words, dumped after the call
};

namespace {

// Indexes into kCommands.
enum : int { kGet, kCheckout, kCheckin, kUncheckout, kAdd, kRemove, kHistory, kDiff,
             kProperties, kQueryInfo, kRunScc };

const SccInterface::CommandRow kCommands[] = {
    {EntryPoint::Get, SCC_COMMAND_GET, "-->Getting files", "<--Getting files", nullptr, false},
    {EntryPoint::Checkout, SCC_COMMAND_CHECKOUT, "-->checking out", "<--checking out", nullptr,
     false},
    {EntryPoint::Checkin, SCC_COMMAND_CHECKIN, "-->checking in", "<--checking in", nullptr, false},
    {EntryPoint::Uncheckout, SCC_COMMAND_UNCHECKOUT, "-->Undo checkout", "<--Undo checkout",
     nullptr, false},
    {EntryPoint::Add, SCC_COMMAND_ADD, "-->Add", "<--Add", nullptr, false},
    {EntryPoint::Remove, SCC_COMMAND_REMOVE, "-->Removing", "<--Removing", nullptr, false},
    {EntryPoint::History, SCC_COMMAND_HISTORY, "-->History", "<--History", nullptr, false},
    {EntryPoint::Diff, SCC_COMMAND_DIFF, "-->Comparing", "<--Comparing", "Comparing file of ",
     false},
    {EntryPoint::Properties, -1, "-->Properties", "<--Properties", "Getting property of ", false},
    {EntryPoint::QueryInfo, -1, "-->Query Info", "<--Query Info", nullptr, true},
    {EntryPoint::RunScc, -1, "-->Launching native UI", "<--Launching native UI", nullptr, false},
};

const SccInterface::CommandRow *row(int index) { return &kCommands[index]; }
} // namespace

int32_t SccInterface::runCommand(const CommandRow &c, int32_t n, const char **names,
                                 const char *comment, int32_t flags, SCCLONG *extra) {
    trace(c.entryLine, 1);
    if (!takes(c.entryPoint, args::Name)) {
        if (traceLevel() > 3 && !c.statusDump)
            traceFileList(names, n);
    } else if (traceLevel() > 1) {
        std::string line = c.detailLabel;
        line += names[0] ? names[0] : "(null)";
        traceLine(line.c_str());
    }

    ProviderCall call = calls::fileCommand(c.entryPoint, n, names, comment, flags, extra,
                                           c.slot >= 0 ? commandOptions[c.slot] : 0);
    CallOutcome outcome = callProvider(call);
    int32_t result = outcome.missing ? kNoEntryPoint : outcome.code;

    if (c.statusDump && traceLevel() > 3 && tracingTo()) {
        std::string block = "Status:";
        char word[16];
        for (int32_t i = 0; i < n; ++i) {
            block += ' ';
            block += names[i] ? names[i] : "(null)";
            std::snprintf(word, sizeof word, "=0x%lx",
                          static_cast<unsigned long>(static_cast<uint32_t>(extra[i])));
            block += word;
        }
        block += '\n';
        writeRawBlock(block);
    }
    trace(c.exitLine, 1);
    return result;
}

int32_t SccInterface::getFiles(int32_t n, const char **names, int32_t flags) {
    return runCommand(*row(kGet), n, names, nullptr, flags, nullptr);
}
int32_t SccInterface::checkout(int32_t n, const char **names, const char *comment,
                               int32_t flags) {
    return runCommand(*row(kCheckout), n, names, comment, flags, nullptr);
}
int32_t SccInterface::checkin(int32_t n, const char **names, const char *comment,
                              int32_t flags) {
    return runCommand(*row(kCheckin), n, names, comment, flags, nullptr);
}
int32_t SccInterface::uncheckout(int32_t n, const char **names, int32_t flags) {
    return runCommand(*row(kUncheckout), n, names, nullptr, flags, nullptr);
}
int32_t SccInterface::add(int32_t n, const char **names, const char *comment,
                          SCCLONG *addFlags) {
    return runCommand(*row(kAdd), n, names, comment, 0, addFlags);
}
int32_t SccInterface::remove(int32_t n, const char **names, const char *comment,
                             int32_t flags) {
    return runCommand(*row(kRemove), n, names, comment, flags, nullptr);
}
int32_t SccInterface::history(int32_t n, const char **names, int32_t flags) {
    return runCommand(*row(kHistory), n, names, nullptr, flags, nullptr);
}
int32_t SccInterface::diff(const char *name, int32_t flags) {
    return runCommand(*row(kDiff), 1, &name, nullptr, flags, nullptr);
}
int32_t SccInterface::properties(const char *name) {
    return runCommand(*row(kProperties), 1, &name, nullptr, 0, nullptr);
}
int32_t SccInterface::queryInfo(int32_t n, const char **names, SCCLONG *status) {
    return runCommand(*row(kQueryInfo), n, names, nullptr, 0, status);
}
int32_t SccInterface::runScc(int32_t n, const char **names) {
    return runCommand(*row(kRunScc), n, names, nullptr, 0, nullptr);
}

} // namespace oskel
