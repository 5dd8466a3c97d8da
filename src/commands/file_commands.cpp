// The file commands: eleven members of one family, each described by a row of
// facts (entry point, call shape, option slot, trace texts) and run through one
// shared path.
#include <cstdio>
#include <string>

#include "core/SccInterface.h"

namespace oskel {

enum class Shape {
    // The call shapes (they decide what is traced).
    ListFlags,        // ctx, null, n, names, flags, slot
    ListCommentFlags, // ctx, null, n, names, comment, flags, slot
    ListCommentAdd,   // ctx, null, n, names, comment, per-file flags, slot
    OneFlags,         // ctx, null, name, flags, slot
    One,              // ctx, null, name
    ListStatus,       // ctx, n, names, status words
    List,             // ctx, null, n, names
};

struct SccInterface::CommandSpec {
    EntryPoint entryPoint;
    Shape shape;
    int slot; // option slot passed, or -1 for none
    const char *entryLine;
    const char *exitLine;
    const char *detailLabel; // single-file commands: detail line label
};

namespace {

// Indexes into kCommands.
enum : int { kGet, kCheckout, kCheckin, kUncheckout, kAdd, kRemove, kHistory, kDiff,
             kProperties, kQueryInfo, kRunScc };

const SccInterface::CommandSpec kCommands[] = {
    {EntryPoint::Get, Shape::ListFlags, SCC_COMMAND_GET, "-->Getting files", "<--Getting files", nullptr},
    {EntryPoint::Checkout, Shape::ListCommentFlags, SCC_COMMAND_CHECKOUT, "-->checking out",
     "<--checking out", nullptr},
    {EntryPoint::Checkin, Shape::ListCommentFlags, SCC_COMMAND_CHECKIN, "-->checking in",
     "<--checking in", nullptr},
    {EntryPoint::Uncheckout, Shape::ListFlags, SCC_COMMAND_UNCHECKOUT, "-->Undo checkout",
     "<--Undo checkout", nullptr},
    {EntryPoint::Add, Shape::ListCommentAdd, SCC_COMMAND_ADD, "-->Add", "<--Add", nullptr},
    {EntryPoint::Remove, Shape::ListCommentFlags, SCC_COMMAND_REMOVE, "-->Removing", "<--Removing",
     nullptr},
    {EntryPoint::History, Shape::ListFlags, SCC_COMMAND_HISTORY, "-->History", "<--History", nullptr},
    {EntryPoint::Diff, Shape::OneFlags, SCC_COMMAND_DIFF, "-->Comparing", "<--Comparing",
     "Comparing file of "},
    {EntryPoint::Properties, Shape::One, -1, "-->Properties", "<--Properties", "Getting property of "},
    {EntryPoint::QueryInfo, Shape::ListStatus, -1, "-->Query Info", "<--Query Info", nullptr},
    {EntryPoint::RunScc, Shape::List, -1, "-->Launching native UI", "<--Launching native UI", nullptr},
};

const SccInterface::CommandSpec *row(int index) { return &kCommands[index]; }

bool isList(Shape s) { return s != Shape::OneFlags && s != Shape::One; }
} // namespace

int32_t SccInterface::runCommand(const CommandSpec &c, int32_t n, const char **names,
                                 const char *comment, int32_t flags, SCCLONG *extra) {
    trace(c.entryLine, 1);
    if (isList(c.shape)) {
        if (traceLevel > 3 && c.shape != Shape::ListStatus)
            traceFileList(names, n);
    } else if (traceLevel > 1) {
        std::string line = c.detailLabel;
        line += names[0] ? names[0] : "(null)";
        traceLine(line.c_str());
    }

    ProviderCall call;
    call.entry = c.entryPoint;
    call.context = providerContext;
    call.count = n;
    call.names = names;
    call.comment = comment;
    call.flags = flags;
    call.perFile = extra;
    call.option = c.slot >= 0 ? commandOptions[c.slot] : 0;
    CallOutcome outcome = callProvider(call);
    int32_t result = outcome.missing ? kNoEntryPoint : outcome.code;

    if (c.shape == Shape::ListStatus && traceLevel > 3 && tracingTo()) {
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
