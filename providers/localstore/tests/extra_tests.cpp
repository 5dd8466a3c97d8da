// The entry points beyond the file commands: rename, name-space changes,
// folders, sub-projects, multiple check-outs, options, events from another
// process, batches and cancel.
#include "fixture.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

namespace lstest {
namespace {

constexpr size_t kPathSize = SCC_PRJPATH_LEN + 1;  // project paths: 300 bytes and the terminator

std::string indexFormat(const std::string &store) {
    std::istringstream in(readFile(join(store, "index.txt")));
    std::string header, format;
    std::getline(in, header);
    std::getline(in, format);
    return format;
}

struct NameChange {
    std::string oldName, newName;
    int calls = 0;
};

void SCC_CALL recordNameChange(void *data, const char *oldName, const char *newName) {
    auto *change = static_cast<NameChange *>(data);
    change->oldName = oldName;
    change->newName = newName;
    ++change->calls;
}

TEST_F(ProviderTest, RenameKeepsTheHistoryUnderTheNewName) {
    const Entries &scc = provider();
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "two\n");
    ASSERT_CODE(alice->checkin({W("a.txt")}), SCC_OK);
    addFile("taken.txt", "t\n");
    writeFile(W("loose.txt"), "l\n");
    EXPECT_EQ(indexFormat(store), "format\t1");  // nothing that needs more yet

    const struct {
        const char *from, *to;
        SCCRTN code;
    } refused[] = {
        {"a.txt", "../outside.txt", SCC_E_INVALIDFILEPATH},
        {"a.txt", "taken.txt", SCC_E_FILEALREADYEXISTS},
        {"loose.txt", "new.txt", SCC_E_FILENOTCONTROLLED},
    };
    for (const auto &row : refused) {
        EXPECT_CODE(scc.rename(alice->context(), nullptr, W(row.from).c_str(), W(row.to).c_str()), row.code);
    }

    NameChange change;
    ASSERT_CODE(scc.setOption(alice->context(), SCC_OPT_USERDATA, reinterpret_cast<SCCOPTVALUE>(&change)), SCC_OK);
    ASSERT_CODE(scc.setOption(alice->context(), SCC_OPT_NAMECHANGEPFN, reinterpret_cast<SCCOPTVALUE>(&recordNameChange)),
                SCC_OK);
    ASSERT_CODE(scc.rename(alice->context(), nullptr, W("a.txt").c_str(), W("moved/b.txt").c_str()), SCC_OK);
    EXPECT_EQ(change.calls, 1);
    EXPECT_EQ(change.oldName, W("a.txt"));
    EXPECT_EQ(change.newName, W("moved/b.txt"));
    EXPECT_TRUE(exists(W("a.txt"))) << "the working file is the caller's to rename";
    EXPECT_EQ(indexFormat(store), "format\t2");

    // The caller renames the working file; a new context reads the store afresh.
    makeDirs(W("moved"));
    std::filesystem::rename(P(W("a.txt")), P(W("moved/b.txt")));
    alice.reset();
    alice = std::make_unique<Client>();
    ASSERT_CODE(alice->open("alice", work, store), SCC_OK);
    takeMessages();
    EXPECT_EQ(statusText(alice->status(W("moved/b.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_NOTCONTROLLED));
    ASSERT_CODE(alice->history({W("moved/b.txt")}), SCC_OK);
    std::vector<Message> lines = takeMessages();
    EXPECT_TRUE(anyMessageContains(lines, SCC_MSG_INFO, "History of moved/b.txt (2 versions)")) << describe(lines);
    EXPECT_TRUE(anyMessageContains(lines, SCC_MSG_INFO, "from a.txt to moved/b.txt")) << describe(lines);
    // The old name is free for a new file of its own.
    writeFile(W("a.txt"), "new\n");
    EXPECT_CODE(alice->add({W("a.txt")}), SCC_OK);
}

std::vector<std::pair<uint32_t, std::string>> *changeSink = nullptr;

SCCBOOL SCC_CALL collectChange(void *, QUERYCHANGESDATA *change) {
    changeSink->emplace_back(change->dwChangeType, change->lpLatestName);
    return SCC_OK;
}

TEST_F(ProviderTest, QueryChangesReportsRenamesRemovalsAndAdditions) {
    const Entries &scc = provider();
    for (const char *name : {"same.txt", "old.txt", "gone.txt", "deleted.txt"}) {
        addFile(name, "x\n");
    }
    ASSERT_CODE(scc.rename(alice->context(), nullptr, W("old.txt").c_str(), W("new.txt").c_str()), SCC_OK);
    ASSERT_CODE(alice->remove({W("gone.txt")}), SCC_OK);
    setReadOnly(W("deleted.txt"), false);
    std::filesystem::remove(P(W("deleted.txt")));
    writeFile(W("local.txt"), "y\n");
    auto bob = openAs("bob", dir / "bob");
    writeFile(join(dir / "bob", "theirs.txt"), "z\n");
    ASSERT_CODE(bob->add({join(dir / "bob", "theirs.txt")}), SCC_OK);

    const std::map<std::string, std::pair<uint32_t, std::string>> expected = {
        {"same.txt", {SCC_CHANGE_UNCHANGED, W("same.txt")}},
        {"old.txt", {SCC_CHANGE_RENAMED_TO, W("new.txt")}},
        {"gone.txt", {SCC_CHANGE_DATABASE_DELETED, W("gone.txt")}},
        {"deleted.txt", {SCC_CHANGE_LOCAL_DELETED, W("deleted.txt")}},
        {"local.txt", {SCC_CHANGE_LOCAL_ADDED, W("local.txt")}},
        {"theirs.txt", {SCC_CHANGE_DATABASE_ADDED, W("theirs.txt")}},
        {"never.txt", {SCC_CHANGE_NONEXISTENT, W("never.txt")}},
    };
    std::vector<std::string> names;
    for (const auto &row : expected) {
        names.push_back(W(row.first));
    }
    std::vector<std::pair<uint32_t, std::string>> seen;
    changeSink = &seen;
    std::vector<const char *> list = pointers(names);
    ASSERT_CODE(scc.queryChanges(alice->context(), static_cast<SCCLONG>(list.size() - 1), list.data(), collectChange,
                                 nullptr),
                SCC_OK);
    ASSERT_EQ(seen.size(), expected.size());
    size_t i = 0;
    for (const auto &row : expected) {
        EXPECT_EQ(seen[i].first, row.second.first) << row.first;
        EXPECT_EQ(seen[i].second, row.second.second) << row.first;
        ++i;
    }
}

std::vector<std::string> *dirSink = nullptr;
size_t dirStopAfter = 0;

SCCBOOL SCC_CALL collectDirEntry(void *, SCCBOOL folder, const char *name) {
    dirSink->push_back(std::string(folder ? "D " : "F ") + name);
    return dirSink->size() == dirStopAfter ? SCC_I_OPERATIONCANCELED : SCC_OK;
}

TEST_F(ProviderTest, FolderStatusListAndDiff) {
    const Entries &scc = provider();
    for (const char *name : {"top.txt", "src/a.txt", "src/deep/b.txt"}) {
        addFile(name, std::string(name) + "\n");
    }
    makeDirs(W("empty"));

    const std::vector<std::string> dirs = {work, W("src"), W("src/deep"), W("empty"), dir / "elsewhere"};
    std::vector<const char *> list = pointers(dirs);
    std::vector<SCCLONG> status(dirs.size(), 99);
    ASSERT_CODE(scc.dirQueryInfo(alice->context(), static_cast<SCCLONG>(list.size() - 1), list.data(), status.data()),
                SCC_OK);
    EXPECT_EQ(status, (std::vector<SCCLONG>{SCC_DIRSTATUS_CONTROLLED, SCC_DIRSTATUS_CONTROLLED,
                                            SCC_DIRSTATUS_CONTROLLED, SCC_DIRSTATUS_NOTCONTROLLED,
                                            SCC_DIRSTATUS_INVALID}));

    const struct {
        SCCLONG options;
        std::vector<std::string> entries;
    } listings[] = {
        {SCC_PDL_ONELEVEL, {"D " + W("src")}},
        {SCC_PDL_RECURSIVE, {"D " + W("src"), "D " + W("src/deep")}},
        {SCC_PDL_INCLUDEFILES, {"D " + W("src"), "F " + W("top.txt")}},
        {SCC_PDL_RECURSIVE | SCC_PDL_INCLUDEFILES,
         {"D " + W("src"), "D " + W("src/deep"), "F " + W("src/a.txt"), "F " + W("src/deep/b.txt"),
          "F " + W("top.txt")}},
    };
    const char *top = work.c_str();
    for (const auto &row : listings) {
        std::vector<std::string> seen;
        dirSink = &seen;
        dirStopAfter = 0;
        ASSERT_CODE(scc.populateDirList(alice->context(), 1, &top, collectDirEntry, nullptr, row.options), SCC_OK);
        EXPECT_EQ(seen, row.entries) << "options " << row.options;
    }
    std::vector<std::string> stopped;
    dirSink = &stopped;
    dirStopAfter = 2;
    ASSERT_CODE(scc.populateDirList(alice->context(), 1, &top, collectDirEntry, nullptr,
                                    SCC_PDL_RECURSIVE | SCC_PDL_INCLUDEFILES),
                SCC_OK);
    EXPECT_EQ(stopped.size(), 2u) << "the callback's stop is honoured";

    EXPECT_CODE(scc.dirDiff(alice->context(), nullptr, W("src").c_str(), 0, nullptr), SCC_OK);
    takeMessages();
    ASSERT_CODE(alice->checkout({W("src/deep/b.txt")}), SCC_OK);
    writeFile(W("src/deep/b.txt"), "changed\n");
    writeFile(W("src/extra.txt"), "extra\n");
    EXPECT_CODE(scc.dirDiff(alice->context(), nullptr, W("src").c_str(), SCC_DIFF_QD_CONTENTS, nullptr),
                SCC_I_FILEDIFFERS);
    EXPECT_TRUE(takeMessages().empty()) << "a quick diff is silent";
    EXPECT_CODE(scc.dirDiff(alice->context(), nullptr, W("src").c_str(), 0, nullptr), SCC_I_FILEDIFFERS);
    std::vector<Message> lines = takeMessages();
    EXPECT_TRUE(anyMessageContains(lines, SCC_MSG_INFO, "+changed")) << describe(lines);
    EXPECT_TRUE(anyMessageContains(lines, SCC_MSG_INFO, "src/extra.txt: not under source control")) << describe(lines);
    EXPECT_CODE(scc.dirDiff(alice->context(), nullptr, W("empty").c_str(), 0, nullptr), SCC_E_FILENOTCONTROLLED);
}

TEST_F(ProviderTest, SubProjectsAreFoldersWithTheirOwnProjectPaths) {
    const Entries &scc = provider();
    char user[SCC_USER_LEN + 1] = "alice";
    char aux[kPathSize] = {};
    char sub[kPathSize] = {};
    char parent[kPathSize] = {};
    std::strcpy(aux, store.c_str());
    const std::string project = "work";  // named after the working folder
    ASSERT_CODE(scc.createSubProject(alice->context(), nullptr, user, project.c_str(), "lib", aux, sub), SCC_OK);
    EXPECT_STREQ(sub, "work/lib");
    EXPECT_TRUE(exists(W("lib"))) << "the parent is open here: its folder is made";
    char again[kPathSize] = {};
    ASSERT_CODE(scc.createSubProject(alice->context(), nullptr, user, project.c_str(), "lib", aux, again), SCC_OK);
    EXPECT_STREQ(again, "work/lib_2");
    char nested[kPathSize] = {};
    ASSERT_CODE(scc.createSubProject(alice->context(), nullptr, user, "work/lib", "core", aux, nested), SCC_OK);
    EXPECT_STREQ(nested, "work/lib/core");
    EXPECT_CODE(scc.createSubProject(alice->context(), nullptr, user, project.c_str(), "a/b", aux, again),
                SCC_E_PROJSYNTAXERR);
    EXPECT_CODE(scc.createSubProject(alice->context(), nullptr, user, "work/none", "x", aux, again),
                SCC_E_UNKNOWNPROJECT);

    const struct {
        const char *project, *parent;
        SCCRTN code;
    } parents[] = {
        {"work", "work", SCC_OK},
        {"work/lib", "work", SCC_OK},
        {"work/lib/core", "work/lib", SCC_OK},
        {"work/none", "", SCC_E_UNKNOWNPROJECT},
    };
    for (const auto &row : parents) {
        std::memset(parent, 0, sizeof parent);
        EXPECT_CODE(scc.getParentProjectPath(alice->context(), nullptr, user, row.project, aux, parent), row.code);
        EXPECT_STREQ(parent, row.parent) << row.project;
    }

    // The sub-project opened in its folder: its files are the parent's files below it.
    Client lib;
    ASSERT_CODE(lib.open("alice", W("lib"), store, 0, "work/lib"), SCC_OK);
    writeFile(W("lib/x.txt"), "x\n");
    ASSERT_CODE(lib.add({W("lib/x.txt")}), SCC_OK);
    ASSERT_CODE(lib.checkout({W("lib/x.txt")}), SCC_OK);
    const SCCLONG mine = SCC_STATUS_CONTROLLED | SCC_STATUS_CHECKEDOUT | SCC_STATUS_OUTBYUSER | SCC_STATUS_OUTEXCLUSIVE;
    EXPECT_EQ(statusText(alice->status(W("lib/x.txt"))), statusText(mine)) << "one check-out, seen from both";
    EXPECT_EQ(statusText(lib.status(W("lib/x.txt"))), statusText(mine));
    Client unknown;
    EXPECT_CODE(unknown.open("alice", W("lib"), store, 0, "work/nothing"), SCC_E_UNKNOWNPROJECT);
}

TEST_F(ProviderTest, MultipleCheckoutsAreAStoreSetting) {
    const Entries &scc = provider();
    addFile("shared.txt", "one\n");
    auto bob = openAs("bob", dir / "bob");
    const std::string theirs = join(dir / "bob", "shared.txt");
    ASSERT_CODE(alice->checkout({W("shared.txt")}), SCC_OK);
    SCCBOOL enabled = 7;
    SCCLONG localVersion = 7;
    ASSERT_CODE(scc.isMultiCheckoutEnabled(bob->context(), &enabled), SCC_OK);
    ASSERT_CODE(scc.getUserOption(bob->context(), SCC_USEROPT_CHECKOUT_LOCALVER, &localVersion), SCC_OK);
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(localVersion, SCC_USEROPT_COLV_NO);
    EXPECT_CODE(bob->checkout({theirs}), SCC_E_FILEOUTEXCLUSIVE);

    writeFile(join(store, "settings.txt"), "# by the administrator\nmulti-checkout yes\ncheckout-local-version yes\n");
    ASSERT_CODE(scc.isMultiCheckoutEnabled(bob->context(), &enabled), SCC_OK);
    ASSERT_CODE(scc.getUserOption(bob->context(), SCC_USEROPT_CHECKOUT_LOCALVER, &localVersion), SCC_OK);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(localVersion, SCC_USEROPT_COLV_YES);
    EXPECT_CODE(scc.getUserOption(bob->context(), 99, &localVersion), SCC_E_OPNOTSUPPORTED);
    ASSERT_CODE(bob->checkout({theirs}), SCC_OK);
    EXPECT_EQ(statusText(bob->status(theirs)), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_CHECKEDOUT |
                                                          SCC_STATUS_OUTBYUSER | SCC_STATUS_OUTOTHER |
                                                          SCC_STATUS_OUTMULTIPLE));
    writeFile(W("shared.txt"), "alice's\n");
    ASSERT_CODE(alice->checkin({W("shared.txt")}), SCC_OK);
    writeFile(theirs, "bob's\n");
    EXPECT_CODE(bob->checkin({theirs}), SCC_E_CHECKINCONFLICT);  // no merging: alice's version would be lost
    EXPECT_EQ(readFile(theirs), "bob's\n");

    writeFile(join(store, "settings.txt"), "multi-checkout perhaps\n");
    EXPECT_CODE(scc.isMultiCheckoutEnabled(bob->context(), &enabled), SCC_E_NONSPECIFICERROR);
}

TEST_F(ProviderTest, OptionsAndExtendedCapabilities) {
    const Entries &scc = provider();
    const struct {
        SCCLONG option;
        SCCOPTVALUE value;
        SCCRTN code;
    } options[] = {
        {SCC_OPT_EVENTQUEUE, SCC_OPT_EQ_DISABLE, SCC_OK},  {SCC_OPT_EVENTQUEUE, SCC_OPT_EQ_ENABLE, SCC_OK},
        {SCC_OPT_HASCANCELMODE, SCC_OPT_HCM_YES, SCC_OK},  {SCC_OPT_SCCCHECKOUTONLY, SCC_OPT_SCO_YES, SCC_OK},
        {SCC_OPT_SHARESUBPROJ, 0, SCC_I_SHARESUBPROJOK},   {SCC_OPT_NAMECHANGEPFN, 0, SCC_OK},
        {99, 1, SCC_E_OPNOTSUPPORTED},
    };
    for (const auto &row : options) {
        SCOPED_TRACE("option " + std::to_string(row.option));
        EXPECT_CODE(scc.setOption(alice->context(), row.option, row.value), row.code);
    }
    const std::map<SCCLONG, SCCBOOL> capabilities = {
        {SCC_EXCAP_CHECKOUT_LOCALVER, 0}, {SCC_EXCAP_BACKGROUND_GET, 0},     {SCC_EXCAP_ENUM_CHANGED_FILES, 0},
        {SCC_EXCAP_POPULATELIST_DIR, 1},  {SCC_EXCAP_QUERYCHANGES, 1},       {SCC_EXCAP_ADD_FILES_FROM_SCC, 1},
        {SCC_EXCAP_GET_USER_OPTIONS, 1},  {SCC_EXCAP_THREADSAFE_QUERY_INFO, 0}, {SCC_EXCAP_REMOVE_DIR, 0},
        {SCC_EXCAP_DELETE_CHECKEDOUT, 0}, {SCC_EXCAP_RENAME_CHECKEDOUT, 1},  {1234, 0},
    };
    for (const auto &[code, expected] : capabilities) {
        SCCBOOL supported = 7;
        EXPECT_CODE(scc.getExtendedCapabilities(alice->context(), code, &supported), SCC_OK);
        EXPECT_EQ(supported, expected) << "extended capability " << code;
    }
    const std::vector<std::string> files = {W("a.txt"), W("b/c.txt")};
    std::vector<const char *> list = pointers(files);
    SCCBOOL answers[2] = {7, 7};
    EXPECT_CODE(scc.willCreateSccFile(alice->context(), 2, list.data(), answers), SCC_OK);
    EXPECT_EQ(answers[0] + answers[1], 0);
}

TEST_F(ProviderTest, AddFromSccGetsWhatIsMissingHere) {
    const Entries &scc = provider();
    for (const char *name : {"top.txt", "src/a.txt", "src/b.txt"}) {
        addFile(name, std::string(name) + "\n");
    }
    auto bob = openAs("bob", dir / "bob");
    const std::string bobs = dir / "bob";
    const std::string destination = join(bobs, "src");
    const char *in[] = {destination.c_str()};
    const char **names = in;
    SCCLONG count = 1;
    ASSERT_CODE(scc.addFromScc(bob->context(), nullptr, &count, &names), SCC_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(std::vector<std::string>(names, names + count),
              (std::vector<std::string>{join(bobs, "src/a.txt"), join(bobs, "src/b.txt")}));
    EXPECT_FALSE(exists(join(bobs, "top.txt"))) << "only below the destination";
    ASSERT_CODE(scc.addFromScc(bob->context(), nullptr, nullptr, &names), SCC_OK);  // frees the array

    count = 0;
    names = nullptr;
    ASSERT_CODE(scc.addFromScc(bob->context(), nullptr, &count, &names), SCC_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(std::string(names[0]), join(bobs, "top.txt"));
    EXPECT_EQ(readFile(join(bobs, "top.txt")), "top.txt\n");
    EXPECT_EQ(statusText(bob->status(join(bobs, "top.txt"))), statusText(SCC_STATUS_CONTROLLED));
    ASSERT_CODE(scc.addFromScc(bob->context(), nullptr, nullptr, &names), SCC_OK);
}

// --- another process --------------------------------------------------------------------

struct Once {
    SCCRTN code = SCC_E_UNKNOWNERROR;
    SCCLONG status = 0;
};

// Runs one command in a second process (the worker); `whileRunning` runs once
// the worker has opened the project.
template <typename Body>
Once runInWorker(const ScratchDir &dir, const std::string &store, const std::string &work, const std::string &user,
                 const std::string &command, const std::string &file, Body whileRunning) {
    const std::string started = dir / (user + ".started"), result = dir / (user + ".result");
    ChildProcess child;
    EXPECT_TRUE(child.start({workerPath(), "once", providerPath(), store, work, user, command, file, started, result}))
        << "cannot start " << workerPath();
    for (int waited = 0; !exists(started) && waited < 60000; ++waited) {
        sleepMs(1);
    }
    whileRunning(child);
    EXPECT_EQ(child.wait(), 0);
    Once once;
    std::istringstream in(readFile(result));
    in >> once.code >> once.status;
    return once;
}

TEST_F(ProviderTest, EventsReportWhatAnotherProcessChanged) {
    const Entries &scc = provider();
    addFile("watched.txt", "w\n");
    addFile("unwatched.txt", "u\n");
    addFile("mine.txt", "m\n");
    makeDirs(dir / "bob");
    std::vector<SCCLONG> before = alice->query({W("watched.txt"), W("mine.txt")});
    char name[SCC_EVENT_NAME_SIZE];
    SCCLONG status = 0, remaining = 99;
    ASSERT_CODE(scc.getEvents(alice->context(), name, &status, &remaining), SCC_OK);
    EXPECT_STREQ(name, "") << "nothing happened yet";

    ASSERT_CODE(alice->checkout({W("mine.txt")}), SCC_OK);  // this context's own change: no event
    for (const char *file : {"watched.txt", "unwatched.txt"}) {
        Once bob = runInWorker(dir, store, dir / "bob", "bob", "checkout", file, [](ChildProcess &) {});
        ASSERT_EQ(codeText(bob.code), codeText(SCC_OK)) << file;
    }
    ASSERT_CODE(scc.getEvents(alice->context(), name, &status, &remaining), SCC_OK);
    EXPECT_STREQ(name, W("watched.txt").c_str());
    EXPECT_EQ(statusText(status), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOTHER | SCC_STATUS_OUTEXCLUSIVE));
    EXPECT_EQ(remaining, 0);
    ASSERT_CODE(scc.getEvents(alice->context(), name, &status, &remaining), SCC_OK);
    EXPECT_STREQ(name, "") << "each change is reported once";

    // With the queue off nothing is read; switched on again, what happened meanwhile comes.
    ASSERT_CODE(scc.setOption(alice->context(), SCC_OPT_EVENTQUEUE, SCC_OPT_EQ_DISABLE), SCC_OK);
    auto bob = openAs("bob", dir / "bob");
    ASSERT_CODE(bob->uncheckout({join(dir / "bob", "watched.txt")}), SCC_OK);
    ASSERT_CODE(scc.getEvents(alice->context(), name, &status, &remaining), SCC_OK);
    EXPECT_STREQ(name, "");
    ASSERT_CODE(scc.setOption(alice->context(), SCC_OPT_EVENTQUEUE, SCC_OPT_EQ_ENABLE), SCC_OK);
    ASSERT_CODE(scc.getEvents(alice->context(), name, &status, &remaining), SCC_OK);
    EXPECT_STREQ(name, W("watched.txt").c_str());
    EXPECT_EQ(statusText(status), statusText(before[0]));
}

TEST_F(ProviderTest, ABatchHoldsTheStoreLockUntilItsEnd) {
    const Entries &scc = provider();
    EXPECT_CODE(scc.endBatch(), SCC_E_OPNOTPERFORMED);  // no batch running
    addFile("a.txt", "a\n");
    addFile("b.txt", "b\n");
    ASSERT_CODE(scc.beginBatch(), SCC_OK);
    EXPECT_CODE(scc.beginBatch(), SCC_E_OPNOTPERFORMED);  // batches do not nest
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    const std::string onDisk = readFile(join(store, "index.txt"));
    ASSERT_CODE(alice->checkout({W("b.txt")}), SCC_OK);
    EXPECT_EQ(readFile(join(store, "index.txt")), onDisk) << "the batch saves at its end";
    EXPECT_EQ(statusText(alice->status(W("b.txt")) & SCC_STATUS_CHECKEDOUT), statusText(SCC_STATUS_CHECKEDOUT));
    Client again;  // a project opened in the batch reads the batch's index, not the locked file
    EXPECT_CODE(again.open("alice", work, store, 0), SCC_OK);
    EXPECT_EQ(statusText(again.status(W("a.txt")) & SCC_STATUS_CHECKEDOUT), statusText(SCC_STATUS_CHECKEDOUT));
    makeDirs(dir / "bob");
    // Another process waits for the lock until the batch ends, then sees both check-outs.
    Once bob = runInWorker(dir, store, dir / "bob", "bob", "status", "b.txt", [&](ChildProcess &child) {
        sleepMs(300);
        int exitCode = 0;
        EXPECT_FALSE(child.finished(&exitCode)) << "the other process got the lock during the batch";
        EXPECT_CODE(scc.endBatch(), SCC_OK);
    });
    EXPECT_EQ(statusText(bob.status), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOTHER |
                                                 SCC_STATUS_OUTEXCLUSIVE | SCC_STATUS_OUTOFDATE));
}

TEST_F(ProviderTest, ABatchOfCheckoutsAgainstSingleCalls) {
    const Entries &scc = provider();
    const int count = 1000;
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(W("f/" + std::to_string(i) + ".txt"));
        writeFile(files.back(), "file " + std::to_string(i) + "\n");
    }
    ASSERT_CODE(alice->add(files), SCC_OK);
    auto checkOutEach = [&]() {
        int64_t start = nowMs();
        for (const std::string &file : files) {
            SCCRTN code = alice->checkout({file});
            EXPECT_EQ(codeText(code), codeText(SCC_OK)) << file;
        }
        return nowMs() - start;
    };
    const int64_t single = checkOutEach();
    ASSERT_CODE(alice->uncheckout(files), SCC_OK);
    int64_t start = nowMs();
    ASSERT_CODE(scc.beginBatch(), SCC_OK);
    const int64_t inBatch = checkOutEach();
    ASSERT_CODE(scc.endBatch(), SCC_OK);
    const int64_t batch = nowMs() - start;
    EXPECT_EQ(statusText(alice->status(files.back()) & SCC_STATUS_CHECKEDOUT), statusText(SCC_STATUS_CHECKEDOUT));
    std::cout << "[ measured ] " << count << " check-outs one by one: " << single << " ms; in a batch: " << batch
              << " ms (commands " << inBatch << " ms, end of batch " << batch - inBatch << " ms)\n";
}

// --- cancel ---------------------------------------------------------------------------

struct CancelLog {
    std::vector<SCCLONG> types;
    int polls = 0;
    int cancelAt = 0;
};
CancelLog *cancelLog = nullptr;

SCCLONG SCC_CALL cancellingTextOut(const char *, SCCLONG type) {
    cancelLog->types.push_back(type);
    if (type == SCC_MSG_DOCANCEL && ++cancelLog->polls == cancelLog->cancelAt) {
        return SCC_MSG_RTN_CANCEL;
    }
    return SCC_MSG_RTN_OK;
}

TEST_F(ProviderTest, CancelStopsAGetOfAThousandFilesCleanly) {
    const Entries &scc = provider();
    const int count = 1000;
    std::vector<std::string> files, theirs;
    for (int i = 0; i < count; ++i) {
        const std::string name = "f/" + std::to_string(i) + ".txt";
        files.push_back(W(name));
        theirs.push_back(join(dir / "bob", name));
        writeFile(files.back(), "file " + std::to_string(i) + "\n");
    }
    ASSERT_CODE(alice->add(files), SCC_OK);
    makeDirs(dir / "bob");
    CancelLog log;
    log.cancelAt = 400;
    cancelLog = &log;
    Client bob;
    ASSERT_CODE(bob.open("bob", dir / "bob", store, 0, "", cancellingTextOut), SCC_OK);
    ASSERT_CODE(scc.setOption(bob.context(), SCC_OPT_HASCANCELMODE, SCC_OPT_HCM_YES), SCC_OK);
    EXPECT_CODE(bob.get(theirs), SCC_I_OPERATIONCANCELED);
    ASSERT_FALSE(log.types.empty());
    EXPECT_EQ(log.types.front(), SCC_MSG_STARTCANCEL);
    EXPECT_EQ(std::count(log.types.begin(), log.types.end(), SCC_MSG_STOPCANCEL), 1);
    int got = 0;
    for (int i = 0; i < count; ++i) {
        if (exists(theirs[static_cast<size_t>(i)])) {
            ++got;
            EXPECT_EQ(readFile(theirs[static_cast<size_t>(i)]), "file " + std::to_string(i) + "\n");
        }
    }
    EXPECT_EQ(got, log.cancelAt - 1) << "the files before the cancel, whole, and no other";
    // The store and the folder's record are sound: the rest comes with the next get.
    log.cancelAt = 0;
    EXPECT_CODE(bob.get(theirs), SCC_OK);
    std::vector<SCCLONG> status = bob.query(theirs);
    EXPECT_EQ(std::count(status.begin(), status.end(), SCC_STATUS_CONTROLLED), count);
}

} // namespace
} // namespace lstest
