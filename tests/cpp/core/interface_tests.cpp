// The interface object against the real test provider: lifecycle, the trace
// log and its formats, the file-command family, options, populate lists and
// the provider message list.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/SccInterface.h"
#include "messages/messages.h"
#include "provider_harness.h"

namespace oskel::coretest {
namespace {

using Lines = std::vector<std::string>;
const std::string kInitCall =
    "SccInitialize context=set window=null caller=\"Marrowby for Java SCM v2\" name=set caps=set "
    "auxlabel=set checkoutcommentlen=set commentlen=set";

class Lifecycle : public ProviderTest {};

TEST_F(Lifecycle, InitializeFillsWhatTheProviderReports) {
    script("init.context 0x1234\ninit.name Named \\xe9\ninit.caps 0x80000001\n"
           "init.auxlabel Label\ninit.checkoutcommentlen 7\ninit.commentlen 9\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    EXPECT_STREQ(scc.getSCCName(), "Named \xe9");
    EXPECT_EQ(scc.getCapabilities(), static_cast<int32_t>(0x80000001));
    EXPECT_EQ(calls(), Lines{kInitCall});
    EXPECT_EQ(scc.uninitialize(), 0);
    EXPECT_EQ(scc.uninitialize(), -15) << "the context is gone: no second SccUninitialize";
    EXPECT_EQ(calls(), (Lines{"SccUninitialize context=0x1234"}));
}

TEST_F(Lifecycle, AfterUninitializeOnlyCallsWithoutTheContextReachTheProvider) {
    script("init.context 0x1234\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(1, tracePath.c_str());
    ASSERT_EQ(scc.uninitialize(), 0);
    calls();
    const char *name = "a.c";
    EXPECT_EQ(scc.getFiles(1, &name, 0), -15);
    EXPECT_EQ(scc.closeProject(), -15);
    EXPECT_EQ(scc.getVersion(), 0x00010002);
    EXPECT_EQ(calls(), Lines{"SccGetVersion"});
    const auto trace = traceTexts();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Not called after SccUninitialize: SccGet"),
              trace.end());
}

TEST_F(Lifecycle, ProviderResultOfInitializeIsReturned) {
    script("return SccInitialize -1\n");
    SccInterface scc(kTestKey);
    EXPECT_EQ(scc.initialize(), -1);
}

TEST_F(Lifecycle, DefaultProviderComesFromProviderRegKey) {
    SccInterface scc;
    EXPECT_EQ(scc.initialize(), 0);
}

struct MissingCase {
    const char *name;
    std::string key;
};
void PrintTo(const MissingCase &c, std::ostream *os) { *os << c.name; }

class MissingProvider : public ProviderTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(MissingProvider, EveryEntryPointCountsAsMissing) {
    SccInterface scc(GetParam().key.c_str());
    EXPECT_EQ(scc.initialize(), -15) << GetParam().name;
    EXPECT_EQ(scc.getVersion(), 0) << GetParam().name;
    EXPECT_EQ(scc.uninitialize(), -15) << GetParam().name;
    EXPECT_TRUE(calls().empty()) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, MissingProvider,
    ::testing::Values(MissingCase{"absent key", "Software\\OskelTest\\Nothing"},
                      MissingCase{"key longer than 259", std::string(260, 'k')},
                      MissingCase{"empty key", ""}));

TEST_F(Lifecycle, LibraryThatDoesNotLoadGivesNoProvider) {
    registerProvider("no-such-provider");
    SccInterface scc(kTestKey);
    EXPECT_EQ(scc.initialize(), -15);
}

TEST_F(Lifecycle, UninitializeOnlyVariant) {
    registerProvider("testprovider_uninit");
    {
        SccInterface scc(kTestKey);
        EXPECT_EQ(scc.initialize(), -15);
    } // teardown calls SccUninitialize once, with a null context
    EXPECT_EQ(calls(), Lines{"SccUninitialize context=0x0"});
}

TEST_F(Lifecycle, MissingVersionGivesZeroAndTracesAtLevelTwo) {
    registerProvider("testprovider_initonly");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(2, tracePath.c_str());
    EXPECT_EQ(scc.getVersion(), 0);
    Lines t = traceTexts();
    ASSERT_GE(t.size(), 2u);
    EXPECT_EQ((Lines{t[t.size() - 2], t.back()}),
              (Lines{"-->Getting SCCI version", "<--Getting SCCI version"}));
}

// ---------------------------------------------------------------- tracing

class Tracing : public ProviderTest {};

TEST_F(Tracing, LevelOneWritesAnnouncementAndFullCapabilityReport) {
    script("init.caps 0\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(1, tracePath.c_str());
    Lines t = traceTexts();
    ASSERT_EQ(t.size(), 1u + 2u + 24u + 1u);
    EXPECT_EQ(t[0], "Setting tracing in " + tracePath + " level=1");
    // The ctime form with a two-digit day: "Tue Dec 08 03:06:16 2026".
    EXPECT_EQ(t[1].size(), 24u) << t[1];
    EXPECT_EQ(t[1][10], ' ');
    EXPECT_TRUE(t[1][8] >= '0' && t[1][8] <= '3') << t[1];
    EXPECT_EQ(t[2], "SCCIH: Missing capability");
    EXPECT_EQ(t[3], "No SCC_CAP_REMOVE");
    EXPECT_EQ(t[8], "No SCC_CAP_GETCOMMANDOPTIONS") << "0x20 is never reported";
    EXPECT_EQ(t[26], "No SCC_CAP_REENTRANT");
    EXPECT_EQ(t[27], "**********");
}

TEST_F(Tracing, EveryReportedBitSetLeavesOnlyTheFrame) {
    script("init.caps -1\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(7, tracePath.c_str());
    Lines t = traceTexts();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[2], "SCCIH: Missing capability");
    EXPECT_EQ(t[3], "**********");
}

TEST_F(Tracing, LevelZeroOrBelowWritesNothing) {
    for (int level : {0, -3}) {
        SccInterface scc(kTestKey);
        ASSERT_EQ(scc.initialize(), 0);
        scc.setTracing(level, tracePath.c_str());
        scc.checkout(0, nullptr, nullptr, 0);
        EXPECT_TRUE(readFile(tracePath).empty()) << "level " << level;
    }
}

TEST_F(Tracing, UnopenablePathIsASilentNoOp) {
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(4, tempDir().c_str()); // a directory
    const char *names[] = {"a"};
    script("return SccCheckout 6\n");
    EXPECT_EQ(scc.checkout(1, names, "c", 0), 6);
}

TEST_F(Tracing, LongTextsAreWrittenInFull) {
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    scc.setTracing(2, tracePath.c_str());
    std::string name(5000, 'n');
    scc.diff(name.c_str(), 0);
    Lines t = traceTexts();
    EXPECT_NE(std::find(t.begin(), t.end(), "Comparing file of " + name), t.end());
}

// ---------------------------------------------------------- file commands

struct CommandCase {
    const char *entryLine;
    const char *exitLine;
    const char *entryPoint;
    int32_t (*run)(SccInterface &, int32_t, const char **);
    const char *callAfterEntry; // call-log text after "<EntryPoint> context=0x5cc0c0de "
    bool onFiles;               // the On Files dump at level 4
};
void PrintTo(const CommandCase &c, std::ostream *os) { *os << c.entryPoint; }

const char *kNames[] = {"a.java", nullptr, "dir with space/c\xe9.txt"};

const CommandCase kCommandCases[] = {
    {"-->Getting files", "<--Getting files", "SccGet",
     [](SccInterface &s, int32_t n, const char **v) { return s.getFiles(n, v, 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] flags=0 options=0x0",
     true},
    {"-->checking out", "<--checking out", "SccCheckout",
     [](SccInterface &s, int32_t n, const char **v) { return s.checkout(n, v, "why", 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] comment=\"why\" "
     "flags=0 options=0x0",
     true},
    {"-->checking in", "<--checking in", "SccCheckin",
     [](SccInterface &s, int32_t n, const char **v) { return s.checkin(n, v, nullptr, 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] comment=null "
     "flags=0 options=0x0",
     true},
    {"-->Undo checkout", "<--Undo checkout", "SccUncheckout",
     [](SccInterface &s, int32_t n, const char **v) { return s.uncheckout(n, v, 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] flags=0 options=0x0",
     true},
    {"-->Add", "<--Add", "SccAdd",
     [](SccInterface &s, int32_t n, const char **v) {
         SCCLONG flags[3] = {0, 0, 0};
         return s.add(n, v, "new", flags);
     },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] comment=\"new\" "
     "flags=[0,0,0] options=0x0",
     true},
    {"-->Removing", "<--Removing", "SccRemove",
     [](SccInterface &s, int32_t n, const char **v) { return s.remove(n, v, "gone", 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] comment=\"gone\" "
     "flags=0 options=0x0",
     true},
    {"-->History", "<--History", "SccHistory",
     [](SccInterface &s, int32_t n, const char **v) { return s.history(n, v, 0); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"] flags=0 options=0x0",
     true},
    {"-->Launching native UI", "<--Launching native UI", "SccRunScc",
     [](SccInterface &s, int32_t n, const char **v) { return s.runScc(n, v); },
     "window=null count=3 names=[\"a.java\",null,\"dir with space/c\\xe9.txt\"]", true},
};

class FileCommand : public ProviderTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(FileCommand, PassesEveryArgumentAndTheResult) {
    const CommandCase &c = GetParam();
    script(std::string("return ") + c.entryPoint + " -11\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    scc.setTracing(4, tracePath.c_str());
    EXPECT_EQ(c.run(scc, 3, kNames), -11);
    EXPECT_EQ(calls(), Lines{std::string(c.entryPoint) + " context=0x5cc0c0de " + c.callAfterEntry});
    Lines t = traceTexts();
    Lines tail(t.end() - 3, t.end());
    EXPECT_EQ(tail, (Lines{c.entryLine, "On Files:a.java\tdir with space/c\xe9.txt\t", c.exitLine}));
}

TEST_P(FileCommand, MissingEntryPointGivesMinus15AndStillTraces) {
    const CommandCase &c = GetParam();
    registerProvider("testprovider_initonly");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    scc.setTracing(1, tracePath.c_str());
    EXPECT_EQ(c.run(scc, 3, kNames), -15);
    EXPECT_TRUE(calls().empty());
    Lines t = traceTexts();
    EXPECT_EQ(Lines(t.end() - 2, t.end()), (Lines{c.entryLine, c.exitLine}));
}

INSTANTIATE_TEST_SUITE_P(Family, FileCommand, ::testing::ValuesIn(kCommandCases));

class SingleFile : public ProviderTest {};

TEST_F(SingleFile, DiffAndPropertiesDetailLinesIncludingNullName) {
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    scc.setTracing(2, tracePath.c_str());
    EXPECT_EQ(scc.diff("x.c", 0), 0);
    EXPECT_EQ(scc.properties(nullptr), 0);
    EXPECT_EQ(calls(), (Lines{"SccDiff context=0x5cc0c0de window=null name=\"x.c\" flags=0 options=0x0",
                              "SccProperties context=0x5cc0c0de window=null name=null"}));
    Lines t = traceTexts();
    EXPECT_EQ(Lines(t.end() - 6, t.end()),
              (Lines{"-->Comparing", "Comparing file of x.c", "<--Comparing", "-->Properties",
                     "Getting property of (null)", "<--Properties"}));
}

TEST_F(SingleFile, QueryInfoStatusDump) {
    script("status 1 -1\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    scc.setTracing(4, tracePath.c_str());
    const char *names[] = {"a.java", nullptr};
    SCCLONG status[2] = {0, 0};
    EXPECT_EQ(scc.queryInfo(2, names, status), 0);
    EXPECT_EQ(status[1], -1);
    EXPECT_EQ(calls(), Lines{"SccQueryInfo context=0x5cc0c0de count=2 names=[\"a.java\",null] "
                             "status=[0,0]"});
    Lines t = traceTexts();
    EXPECT_EQ(Lines(t.end() - 3, t.end()),
              (Lines{"-->Query Info", "Status: a.java=0x0 (null)=0xffffffff", "<--Query Info"}));
    scc.queryInfo(0, names, status);
    EXPECT_EQ(traceTexts()[t.size() + 1], "Status:");
}

// --------------------------------------------------------- command options

class Options : public ProviderTest {};

TEST_F(Options, SlotReachesTheNextCommandOfItsNumberOnly) {
    script("options.store 1 0xfeed\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    EXPECT_EQ(scc.getCommandOptions(1), 0);
    EXPECT_EQ(scc.checkCommandOptions(1), 0);
    const char *names[] = {"a"};
    scc.checkout(1, names, nullptr, 0);
    scc.checkin(1, names, nullptr, 0);
    Lines log = calls();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "SccGetCommandOptions context=0x5cc0c0de window=null command=1 options=0x0");
    EXPECT_EQ(log[1], "SccGetCommandOptions context=0x5cc0c0de window=null command=1 options=null");
    EXPECT_NE(log[2].find("options=0xfeed"), std::string::npos) << log[2];
    EXPECT_NE(log[3].find("options=0x0"), std::string::npos) << log[3];
}

TEST_F(Options, CommandOutsideTheSlotsMakesNoCall) {
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    calls();
    scc.setTracing(3, tracePath.c_str());
    EXPECT_EQ(scc.getCommandOptions(10), -15);
    EXPECT_EQ(scc.getCommandOptions(-1), -15);
    EXPECT_TRUE(calls().empty());
    Lines t = traceTexts();
    EXPECT_EQ(Lines(t.end() - 3, t.end()),
              (Lines{"-->Get command option", "Getting command option: -1", "<--Get command option"}));
}

// ----------------------------------------------------------- populate lists

TEST(PopulateGrowth, DoublesUpToOneThousandThenAddsOneThousand) {
    const int32_t expected[] = {200, 400, 800, 1600, 2600, 3600};
    int32_t capacity = 100;
    for (int32_t want : expected) {
        capacity = grownCapacity(capacity);
        EXPECT_EQ(capacity, want);
    }
    EXPECT_EQ(grownCapacity(1000), 2000);
    EXPECT_EQ(grownCapacity(1001), 2001);
}

class Populate : public ProviderTest {};

TEST_F(Populate, CallbacksFillTheListsAndNullNamesAreSkipped) {
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += "populate " + std::to_string(i % 3 == 0 ? 0x100 : 1) + " f" + std::to_string(i) + "\n";
    text += "populate.null 1\npopulate 0 dropped\npopulate 0 dropped\n";
    script(text);
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    SCCLONG status[1] = {0};
    const char *names[] = {"x"};
    EXPECT_EQ(scc.populateList(2, 1, names, status, 0), 0);
    // A keep flag of 0x100 has its low 8 bits clear: the drop list.
    EXPECT_EQ(scc.getListNumber(1), 100);
    EXPECT_EQ(scc.getListNumber(0), 52);
    EXPECT_STREQ(scc.getList(1).front(), "f1");
    EXPECT_STREQ(scc.getList(0).back(), "dropped");
    Lines log = calls();
    EXPECT_NE(std::find(log.begin(), log.end(), "populate keep=1 name=null -> 1"), log.end());
}

TEST_F(Populate, MissingEntryPointEmptiesBothLists) {
    script("populate 1 kept\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    const char *names[] = {"x"};
    SCCLONG status[1] = {0};
    scc.populateList(2, 1, names, status, 0);
    ASSERT_EQ(scc.getListNumber(1), 1);
    registerProvider("testprovider_initonly");
    SccInterface other(kTestKey);
    ASSERT_EQ(other.initialize(), 0);
    EXPECT_EQ(other.populateList(2, 1, names, status, 0), -15);
    EXPECT_EQ(other.getListNumber(1), 0);
    EXPECT_EQ(other.getListNumber(0), 0);
}

// --------------------------------------------------------- provider messages

class Messages : public ProviderTest {};

TEST_F(Messages, EntriesAreTypeSpaceTextInArrivalOrder) {
    messages::resetMessageList();
    const struct {
        SCCLONG type;
        const char *text;
        const char *entry; // null: dropped
    } rows[] = {
        {1, "hello", "1 hello"},          {3, "", "3 "},
        {4, "status", nullptr},           {2, nullptr, nullptr},
        {-7, "neg", "-7 neg"},            {-2147483647 - 1, "min", "-2147483648 min"},
        {123456789, "big", "123456789 big"}, {1, "two\nlines", "1 two\nlines"},
    };
    std::vector<std::string> expected;
    for (const auto &row : rows) {
        EXPECT_EQ(messages::textOutCallback(row.text, row.type), 0);
        if (row.entry)
            expected.push_back(row.entry);
    }
    EXPECT_EQ(messages::takeMessages(), expected);
    EXPECT_TRUE(messages::takeMessages().empty());
}

TEST_F(Messages, ConstructionDropsUnfetchedMessagesAndTeardownFreesTheList) {
    messages::textOutCallback("old", 1);
    { SccInterface scc(kTestKey); }
    EXPECT_EQ(messages::messageCount(), 0u);
    for (int i = 0; i < 33; ++i)
        messages::textOutCallback(std::to_string(i).c_str(), 1);
    std::vector<std::string> got = messages::takeMessages();
    ASSERT_EQ(got.size(), 33u);
    EXPECT_EQ(got[32], "1 32");
}

TEST_F(Messages, ErrListDumpAtLevelFour) {
    script("message SccCheckout 2 careful\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    ASSERT_EQ(scc.openProject("u", "p", "l", "a"), 0);
    scc.setTracing(4, tracePath.c_str());
    const char *names[] = {"a"};
    scc.checkout(1, names, nullptr, 0);
    std::vector<std::string> got;
    scc.getErrList(got);
    EXPECT_EQ(got, std::vector<std::string>{"2 careful"});
    Lines t = traceTexts();
    EXPECT_EQ(Lines(t.end() - 2, t.end()),
              (Lines{"SCCIH errMsg> getErrList for 1 messages", "SCCIH errMsg> 2 careful"}));
}

// ----------------------------------------------------------------- projects

class Projects : public ProviderTest {};

TEST_F(Projects, ThreeHundredCharacterTextsTravelWhole) {
    const std::string aux(300, 'A'), name(300, 'N');
    script("projpath.aux " + aux + "\nprojpath.project " + name + "\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    ProjectTexts texts;
    std::strcpy(texts.user, "me");
    ASSERT_EQ(scc.getProjectPath(texts, 1, 1), 0);
    EXPECT_EQ(std::string(texts.auxProjPath), aux);
    EXPECT_EQ(std::string(texts.projectName), name);
    scc.resetProjectPath(texts);
    calls();
    ASSERT_EQ(scc.openProject(texts.user, texts.projectName, texts.localPath, texts.auxProjPath), 0);
    EXPECT_EQ(calls(), Lines{"SccOpenProject context=0x5cc0c0de window=null user=\"me\" project=\"" +
                             name + "\" local=\"\" aux=\"" + aux +
                             "\" comment=\"\" textout=set flags=1"});
}

TEST_F(Projects, ProviderWritingPastTheApiSizesOverrunsNothing) {
    const std::string huge(1500, 'H');
    script("projpath.user " + huge + "\nprojpath.aux " + huge + "\nopenproject.project " + huge +
           "\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    ProjectTexts texts;
    ASSERT_EQ(scc.getProjectPath(texts, 0, 0), 0);
    EXPECT_EQ(std::strlen(texts.user), 260u);
    EXPECT_EQ(std::strlen(texts.auxProjPath), 300u);
    ASSERT_EQ(scc.openProject("u", "p", "l", "a"), 0);
    EXPECT_EQ(std::strlen(scc.projectTexts().projectName), 300u);
}

TEST_F(Projects, FailedOpenKeepsTheTextsAndLeavesTheProjectClosed) {
    script("return SccOpenProject -3\nreturn SccCloseProject 5\n");
    SccInterface scc(kTestKey);
    ASSERT_EQ(scc.initialize(), 0);
    EXPECT_EQ(scc.openProject("u", "p", "l", "a"), -3);
    EXPECT_FALSE(scc.isProjectOpen());
    EXPECT_STREQ(scc.projectTexts().localPath, "l");
    EXPECT_EQ(scc.closeProject(), 5);
}

} // namespace
} // namespace oskel::coretest
