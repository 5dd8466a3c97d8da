// The further entry points over the host protocol: each row's inputs reach
// the host as the library set them, and its outputs come back into the
// library's record; the callback messages are known kinds.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/protocol.h"

namespace oskel {
namespace {

using namespace hostproto;

SCCBOOL SCC_CALL changes(void *, QUERYCHANGESDATA *) { return 0; }
SCCBOOL SCC_CALL dirItems(void *, SCCBOOL, const char *) { return 0; }
void SCC_CALL nameChange(void *, const char *, const char *) {}

// The outputs of one call, on either side.
struct Outputs {
    char event[SCC_EVENT_NAME_SIZE] = {};
    SCCLONG value = 0, remaining = 0;
    SCCBOOL answer = 0;
    std::vector<std::string> added;
    char texts[4][kProjectScratchSize] = {};
    SCCLONG perFile[2] = {0, 0};

    // Points the record's output pointers that its entry point takes here.
    void attach(ProviderCall &c) {
        c.eventName = takes(c.entry, args::EventName) ? event : nullptr;
        c.value = takes(c.entry, args::Value) ? &value : nullptr;
        c.remaining = takes(c.entry, args::Remaining) ? &remaining : nullptr;
        c.answer = takes(c.entry, args::Answer) ? &answer : nullptr;
        c.added = takes(c.entry, args::AddedNames) ? &added : nullptr;
        c.perFile = takes(c.entry, args::PerFile) ? perFile : nullptr;
        if (takes(c.entry, args::ResultPath))
            for (int i = 0; i < 4; ++i)
                c.projectTexts[i] = texts[i];
    }
    std::string render() const {
        std::string s = std::string(event) + "|" + std::to_string(value) + "|" +
                        std::to_string(remaining) + "|" + std::to_string(answer) + "|";
        for (const auto &a : added)
            s += a + ",";
        for (const auto &t : texts)
            s += std::string("|") + t;
        return s + "|" + std::to_string(perFile[0]) + "," + std::to_string(perFile[1]);
    }
};

const char *kTwo[] = {"/w/a", "/w/b c"};

struct Row {
    EntryPoint entry;
    void (*fill)(ProviderCall &);
    uint32_t presence; // the pointers that travel
};

const Row kRows[] = {
    {EntryPoint::Rename, [](ProviderCall &c) { c.count = 1; c.names = kTwo; c.newName = "/w/new"; },
     kNames},
    {EntryPoint::SetOption, [](ProviderCall &c) { c.code = SCC_OPT_EVENTQUEUE; c.optionValue = -2; }, 0},
    {EntryPoint::SetOption, [](ProviderCall &c) { c.code = SCC_OPT_NAMECHANGEPFN; c.nameChange = nameChange; },
     kNameChange},
    {EntryPoint::GetEvents, [](ProviderCall &) {}, kEventName | kValue | kRemaining},
    {EntryPoint::GetExtendedCapabilities, [](ProviderCall &c) { c.code = SCC_EXCAP_QUERYCHANGES; }, kAnswer},
    {EntryPoint::AddFromScc, [](ProviderCall &c) { c.path = "/w/dest"; }, kAdded},
    {EntryPoint::GetUserOption, [](ProviderCall &c) { c.code = SCC_USEROPT_CHECKOUT_LOCALVER; }, kValue},
    {EntryPoint::BeginBatch, [](ProviderCall &) {}, 0},
    {EntryPoint::CreateSubProject, [](ProviderCall &c) { c.path = "$/p"; c.newName = "sub"; }, kProjectTexts},
    {EntryPoint::GetParentProjectPath, [](ProviderCall &c) { c.path = "$/p/sub"; }, kProjectTexts},
    {EntryPoint::DirQueryInfo, [](ProviderCall &c) { c.count = 2; c.names = kTwo; }, kNames | kPerFile},
    {EntryPoint::DirDiff, [](ProviderCall &c) { c.count = 1; c.names = kTwo; c.flags = 0x10; }, kNames},
    {EntryPoint::QueryChanges,
     [](ProviderCall &c) { c.count = 2; c.names = kTwo; c.changes = changes; c.callerData = &c; },
     kNames | kChanges | kCallerData},
    {EntryPoint::PopulateDirList,
     [](ProviderCall &c) { c.count = 1; c.names = kTwo; c.dirItems = dirItems; c.callerData = &c; c.flags = 3; },
     kNames | kDirItems | kCallerData},
    {EntryPoint::IsMultiCheckoutEnabled, [](ProviderCall &) {}, kAnswer},
    {EntryPoint::WillCreateSccFile, [](ProviderCall &c) { c.count = 2; c.names = kTwo; }, kNames | kPerFile},
};

TEST(FurtherRows, InputsReachTheHostAndOutputsComeBack) {
    for (const Row &row : kRows) {
        const std::string what = entryPointName(row.entry);
        ProviderCall mine;
        mine.entry = row.entry;
        mine.context = 0x5cc0c0de;
        row.fill(mine);
        mine.askTextOut = row.entry == EntryPoint::Rename; // travels with any call
        Outputs before;
        before.attach(mine);

        Writer call(Kind::Call);
        encodeCall(call, mine);
        const auto &bytes = call.finish();
        Reader r(bytes.data() + kHeaderSize, bytes.size() - kHeaderSize);
        CallMessage m;
        ASSERT_TRUE(decodeCall(r, m)) << what;
        EXPECT_EQ(row.presence, m.presence & ~kAskTextOut) << what;
        EXPECT_EQ(mine.askTextOut, (m.presence & kAskTextOut) != 0) << what;
        EXPECT_EQ(mine.code, m.code) << what;
        EXPECT_EQ(mine.optionValue, m.optionValue) << what;
        EXPECT_EQ(mine.newName ? mine.newName : "(null)", m.newName.null ? "(null)" : m.newName.bytes) << what;
        EXPECT_EQ(mine.path ? mine.path : "(null)", m.path.null ? "(null)" : m.path.bytes) << what;
        EXPECT_EQ(static_cast<size_t>(m.presence & kNames ? mine.count : 0), m.names.size()) << what;

        // The host's record (the same pointers set, to storage of its own),
        // with the outputs the provider wrote.
        ProviderCall theirs = mine;
        Outputs written;
        written.attach(theirs);
        std::strcpy(written.event, "/w/changed");
        written.value = 2050;
        written.remaining = 3;
        written.answer = 1;
        written.added = {"a.h", "", "b c.h"};
        std::strcpy(written.texts[0], "bob");
        std::strcpy(written.texts[1], "$/p/result");
        std::strcpy(written.texts[3], "srv:1");
        written.perFile[0] = 1;
        written.perFile[1] = -1;
        Writer reply(Kind::Reply);
        encodeReply(reply, CallOutcome{false, 7}, theirs);
        const auto &out = reply.finish();
        Reader rr(out.data() + kHeaderSize, out.size() - kHeaderSize);
        CallOutcome outcome;
        ASSERT_TRUE(decodeReply(rr, outcome, mine)) << what;
        EXPECT_EQ(7, outcome.code) << what;

        // Exactly the outputs the entry point has arrived.
        Outputs expected;
        ProviderCall shape;
        shape.entry = row.entry;
        expected.attach(shape);
        if (shape.eventName) std::strcpy(expected.event, written.event);
        if (shape.value) expected.value = written.value;
        if (shape.remaining) expected.remaining = written.remaining;
        if (shape.answer) expected.answer = written.answer;
        if (shape.added) expected.added = written.added;
        if (shape.projectTexts[0])
            for (int i = 0; i < 4; ++i)
                std::strcpy(expected.texts[i], written.texts[i]);
        if (shape.perFile && mine.count == 2)
            std::memcpy(expected.perFile, written.perFile, sizeof expected.perFile);
        EXPECT_EQ(expected.render(), before.render()) << what;
    }
}

TEST(FurtherRows, CallbackMessagesAreKnownKinds) {
    for (Kind kind : {Kind::Ask, Kind::Change, Kind::DirItem, Kind::Renamed}) {
        Writer w(kind);
        w.i32(0);
        const auto &bytes = w.finish();
        uint8_t head[kHeaderSize];
        std::memcpy(head, bytes.data(), sizeof head);
        Header h;
        EXPECT_TRUE(readHeader(head, h)) << static_cast<int>(kind);
        EXPECT_EQ(kind, h.kind);
    }
    uint8_t unknown[kHeaderSize] = {0, 0, 0, 0, kLastKind + 1, 0, 0, 0};
    Header h;
    EXPECT_FALSE(readHeader(unknown, h));
}

} // namespace
} // namespace oskel
