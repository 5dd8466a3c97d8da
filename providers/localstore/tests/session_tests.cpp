// The provider through its exported entry points: start-up, projects, and the
// life of files in one store used by one or more users.
#include "fixture.h"

#include <cstring>
#include <functional>

namespace lstest {
namespace {

const SCCLONG kMine = SCC_STATUS_CONTROLLED | SCC_STATUS_CHECKEDOUT | SCC_STATUS_OUTBYUSER | SCC_STATUS_OUTEXCLUSIVE;
const SCCLONG kTheirs = SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOTHER | SCC_STATUS_OUTEXCLUSIVE;

std::vector<std::string> texts(const std::vector<Message> &messages) {
    std::vector<std::string> out;
    for (const Message &message : messages) {
        out.push_back(message.text);
    }
    return out;
}

// --- start-up -------------------------------------------------------------------------

TEST(StartUp, ReportsNameLabelCommentLengthsAndCapabilities) {
    std::string missing;
    const Entries &scc = provider(&missing);
    ASSERT_EQ(missing, "");
    void *context = nullptr;
    char name[SCC_NAME_LEN + 1];
    char label[SCC_AUXLABEL_LEN + 1];
    std::memset(name, 'x', sizeof name);
    std::memset(label, 'x', sizeof label);
    SCCLONG caps = 0, checkoutComment = 0, comment = 0;
    ASSERT_EQ(codeText(scc.initialize(&context, nullptr, "Marrowby for Java SCM v2", name, &caps, label,
                                      &checkoutComment, &comment)),
              codeText(SCC_OK));
    EXPECT_STREQ(name, "LocalStore");
    EXPECT_STREQ(label, "Store folder");
    EXPECT_EQ(checkoutComment, 1024);
    EXPECT_EQ(comment, 1024);
    const SCCLONG required = SCC_CAP_REMOVE | SCC_CAP_DIFF | SCC_CAP_HISTORY | SCC_CAP_PROPERTIES |
                             SCC_CAP_QUERYINFO | SCC_CAP_GETPROJPATH | SCC_CAP_TEXTOUT | SCC_CAP_COMMENTCHECKOUT |
                             SCC_CAP_COMMENTCHECKIN | SCC_CAP_COMMENTADD | SCC_CAP_COMMENTREMOVE |
                             SCC_CAP_POPULATELIST | SCC_CAP_GET_NOUI | SCC_CAP_RENAME | SCC_CAP_GETEVENTS |
                             SCC_CAP_ADDFROMSCC | SCC_CAP_BATCH | SCC_CAP_CREATESUBPROJECT |
                             SCC_CAP_GETPARENTPROJECT | SCC_CAP_DIRECTORYSTATUS | SCC_CAP_DIRECTORYDIFF |
                             SCC_CAP_MULTICHECKOUT;
    EXPECT_EQ(caps & required, required) << std::hex << "missing capabilities 0x" << (required & ~caps);
    // What it does not do, it does not claim.
    const SCCLONG absent = SCC_CAP_GETCOMMANDOPTIONS | SCC_CAP_ADD_STORELATEST | SCC_CAP_COMMENTPROJECT |
                           SCC_CAP_REENTRANT | SCC_CAP_SCCFILE;
    EXPECT_EQ(caps & absent, 0) << std::hex << "claimed 0x" << (caps & absent);
    EXPECT_EQ(scc.getVersion(), 0x00010001);
    EXPECT_EQ(codeText(scc.uninitialize(context)), codeText(SCC_OK));
}

TEST(StartUp, NoCommandHasOptions) {
    Client client;
    const Entries &scc = provider();
    for (int command = SCC_COMMAND_GET; command <= SCC_COMMAND_OPTIONS; ++command) {
        SCCCMDOPTS slot = reinterpret_cast<SCCCMDOPTS>(0x1234);
        EXPECT_EQ(codeText(scc.getCommandOptions(client.context(), nullptr, static_cast<SCCCOMMAND>(command), &slot)),
                  codeText(SCC_E_OPNOTSUPPORTED))
            << "command " << command;
        EXPECT_EQ(slot, reinterpret_cast<SCCCMDOPTS>(0x1234)) << "command " << command << " wrote its slot";
        EXPECT_EQ(codeText(scc.getCommandOptions(client.context(), nullptr, static_cast<SCCCOMMAND>(command), nullptr)),
                  codeText(SCC_E_OPNOTSUPPORTED))
            << "command " << command << " asked whether it has options";
    }
}

// After SccUninitialize the bridge passes a null context; nothing may crash.
TEST(StartUp, NullContextGetsAnErrorCode) {
    const Entries &scc = provider();
    const char *names[] = {"a.txt"};
    SCCLONG status[1] = {0};
    char text[261] = "";
    EXPECT_EQ(codeText(scc.uninitialize(nullptr)), codeText(SCC_OK));
    EXPECT_EQ(codeText(scc.openProject(nullptr, nullptr, text, text, "/tmp", text, "", collectMessage, 1)),
              codeText(SCC_E_NONSPECIFICERROR));
    EXPECT_EQ(codeText(scc.closeProject(nullptr)), codeText(SCC_E_PROJNOTOPEN));
    EXPECT_EQ(codeText(scc.checkout(nullptr, nullptr, 1, names, "", 0, nullptr)), codeText(SCC_E_PROJNOTOPEN));
    EXPECT_EQ(codeText(scc.queryInfo(nullptr, 1, names, status)), codeText(SCC_E_PROJNOTOPEN));
}

// --- project paths ----------------------------------------------------------------------

class ProjPathTest : public ::testing::Test {
protected:
    // Texts in 400-byte buffers; bytes from 261 on must stay as they are.
    struct Buffers {
        char user[400], project[400], local[400], aux[400];
        Buffers() {
            for (char *b : {user, project, local, aux}) {
                std::memset(b, '#', 400);
                b[0] = '\0';
            }
        }
        bool tailsUntouched() const {
            for (const char *b : {user, project, local, aux}) {
                for (int i = 261; i < 400; ++i) {
                    if (b[i] != '#') {
                        return false;
                    }
                }
            }
            return true;
        }
    };

    SCCRTN query(Buffers &b, SCCBOOL allowChange, SCCBOOL *isNew) {
        return provider().getProjPath(client.context(), nullptr, b.user, b.project, b.local, b.aux, allowChange,
                                      isNew);
    }

    ScratchDir dir;
    Client client;
};

TEST_F(ProjPathTest, ProposesFolderNameAndStoreInsideWorkingFolder) {
    std::string work = dir / "Demo Project";
    makeDirs(work);
    Buffers b;
    std::strcpy(b.local, work.c_str());
    SCCBOOL isNew = 1;
    ASSERT_CODE(query(b, 0, &isNew), SCC_OK);
    EXPECT_STREQ(b.project, "Demo Project");
    EXPECT_EQ(std::string(b.aux), join(work, ".localstore"));
    EXPECT_STRNE(b.user, "") << "the user name was not filled in";
    EXPECT_LE(std::strlen(b.user), static_cast<size_t>(SCC_USER_LEN));
    EXPECT_EQ(isNew, 1);
    EXPECT_EQ(std::string(b.local), work);
    EXPECT_TRUE(b.tailsUntouched());
    EXPECT_FALSE(exists(join(work, ".localstore"))) << "a path query made the store";
}

TEST_F(ProjPathTest, ExistingStoreNamesItsProject) {
    std::string work = dir / "w";
    std::string store = dir / "s";
    makeDirs(work);
    {
        Client maker;
        ASSERT_CODE(maker.open("alice", work, store, SCC_OP_CREATEIFNEW, "Payroll"), SCC_OK);
    }
    Buffers b;
    std::strcpy(b.local, work.c_str());
    std::strcpy(b.aux, store.c_str());
    std::strcpy(b.user, "bob");
    SCCBOOL isNew = 1;
    ASSERT_CODE(query(b, 0, &isNew), SCC_OK);
    EXPECT_STREQ(b.project, "Payroll");
    EXPECT_EQ(std::string(b.aux), store);
    EXPECT_STREQ(b.user, "bob");
    EXPECT_EQ(isNew, 0);
    EXPECT_TRUE(b.tailsUntouched());
}

TEST_F(ProjPathTest, RefusesANewProjectWhenNoneMayBeMade) {
    Buffers b;
    std::strcpy(b.local, (dir / "w").c_str());
    std::strcpy(b.aux, (dir / "nostore").c_str());
    SCCBOOL isNew = 0;
    EXPECT_CODE(query(b, 0, &isNew), SCC_E_UNKNOWNPROJECT);
}

TEST_F(ProjPathTest, ChangesTheLocalPathOnlyWhenAllowed) {
    std::string given = dir.path() + separator() + "w" + separator() + "." + separator();
    for (SCCBOOL allow : {0, 1}) {
        Buffers b;
        std::strcpy(b.local, given.c_str());
        SCCBOOL isNew = 1;
        ASSERT_CODE(query(b, allow, &isNew), SCC_OK);
        EXPECT_EQ(std::string(b.local), allow ? dir / "w" : given) << "allowChangePath " << allow;
    }
}

TEST_F(ProjPathTest, EmptyLocalPathIsRefused) {
    Buffers b;
    SCCBOOL isNew = 1;
    EXPECT_CODE(query(b, 1, &isNew), SCC_E_INVALIDFILEPATH);
}

// --- opening projects ---------------------------------------------------------------------

struct OpenCase {
    const char *label;
    void (*prepare)(const std::string &work, const std::string &store);
    SCCLONG flags;
    const char *project;
    SCCRTN expected;
    const char *messagePart;  // in an error message, or "" for none expected
};

void PrintTo(const OpenCase &c, std::ostream *out) {
    *out << c.label;
}

void nothing(const std::string &, const std::string &) {}

void existingStore(const std::string &work, const std::string &store) {
    Client maker;
    maker.open("alice", work, store, SCC_OP_CREATEIFNEW, "Payroll");
}

void foreignFolder(const std::string &, const std::string &store) {
    writeFile(join(store, "notes.txt"), "mine\n");
}

void newerFormat(const std::string &work, const std::string &store) {
    existingStore(work, store);
    std::string index = readFile(join(store, "index.txt"));
    index.replace(index.find("format\t1"), 8, "format\t7");
    writeFile(join(store, "index.txt"), index);
}

void tornIndex(const std::string &work, const std::string &store) {
    existingStore(work, store);
    std::string index = readFile(join(store, "index.txt"));
    writeFile(join(store, "index.txt"), index.substr(0, index.size() / 2));
}

class OpenProject : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenProject, GivesTheCodeOfItsCase) {
    const OpenCase &c = GetParam();
    ScratchDir dir;
    std::string work = dir / "work";
    std::string store = dir / "store";
    makeDirs(work);
    c.prepare(work, store);
    takeMessages();
    Client client;
    SCCRTN code = client.open("alice", work, store, c.flags, c.project);
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(c.expected)) << describe(messages);
    if (*c.messagePart) {
        EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, c.messagePart))
            << "no error message with \"" << c.messagePart << "\"\n"
            << describe(messages);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenProject,
    ::testing::Values(OpenCase{"creates", nothing, SCC_OP_CREATEIFNEW, "", SCC_OK, ""},
                      OpenCase{"existing", existingStore, 0, "Payroll", SCC_OK, ""},
                      OpenCase{"existingUnnamed", existingStore, 0, "", SCC_OK, ""},
                      OpenCase{"missingWithoutCreate", nothing, 0, "", SCC_E_UNKNOWNPROJECT, "no store"},
                      OpenCase{"otherProject", existingStore, SCC_OP_CREATEIFNEW, "Billing",
                               SCC_E_UNKNOWNPROJECT, "holds the project Payroll"},
                      OpenCase{"foreignFolder", foreignFolder, SCC_OP_CREATEIFNEW, "", SCC_E_COULDNOTCREATEPROJECT,
                               "is not a store"},
                      OpenCase{"newerFormat", newerFormat, SCC_OP_CREATEIFNEW, "", SCC_E_ACCESSFAILURE,
                               "newer than this provider reads"},
                      OpenCase{"tornIndex", tornIndex, SCC_OP_CREATEIFNEW, "", SCC_E_ACCESSFAILURE, "damaged"}),
    [](const ::testing::TestParamInfo<OpenCase> &info) { return std::string(info.param.label); });

TEST(OpenProjectTexts, FillsUserProjectAndStoreWhenEmpty) {
    ScratchDir dir;
    std::string work = dir / "Ledger";
    makeDirs(work);
    Client client;
    char user[261] = "", project[261] = "", aux[261] = "";
    ASSERT_CODE(provider().openProject(client.context(), nullptr, user, project, work.c_str(), aux, "",
                                       collectMessage, SCC_OP_CREATEIFNEW),
                SCC_OK);
    EXPECT_STRNE(user, "");
    EXPECT_STREQ(project, "Ledger");
    EXPECT_EQ(std::string(aux), join(work, ".localstore"));
    std::vector<Message> messages = takeMessages();
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_INFO, "Made a new store")) << describe(messages);
    EXPECT_TRUE(exists(join(aux, "index.txt")));
}

TEST(OpenProjectTexts, SecondOpenAndMissingFolderAreRefused) {
    ScratchDir dir;
    std::string work = dir / "work";
    makeDirs(work);
    Client client;
    ASSERT_CODE(client.open("alice", work, dir / "store"), SCC_OK);
    EXPECT_CODE(client.open("alice", work, dir / "store"), SCC_E_PROJECTALREADYOPEN);
    EXPECT_CODE(client.close(), SCC_OK);
    EXPECT_CODE(client.close(), SCC_E_PROJNOTOPEN);
    EXPECT_CODE(client.open("alice", dir / "absent", dir / "store"), SCC_E_INVALIDFILEPATH);
    EXPECT_CODE(client.open("alice", work, work), SCC_E_INVALIDFILEPATH);
    EXPECT_CODE(client.open("alice", work, dir / "store"), SCC_OK);
}

// --- the life of a file -------------------------------------------------------------------------

TEST_F(ProviderTest, AddedFileIsControlledAndReadOnly) {
    writeFile(W("a.txt"), "one\n");
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_NOTCONTROLLED));
    ASSERT_CODE(alice->add({W("a.txt")}, "first"), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_TRUE(isReadOnly(W("a.txt")));
    EXPECT_EQ(readFile(W("a.txt")), "one\n");
}

TEST_F(ProviderTest, CheckoutEditCheckinMakesAVersion) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}, "fixing"), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(kMine));
    EXPECT_FALSE(isReadOnly(W("a.txt")));
    writeFile(W("a.txt"), "one\ntwo\n");
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(kMine | SCC_STATUS_MODIFIED));
    ASSERT_CODE(alice->checkin({W("a.txt")}, "second line\nand a note"), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_TRUE(isReadOnly(W("a.txt")));

    takeMessages();
    ASSERT_CODE(alice->history({W("a.txt")}), SCC_OK);
    std::vector<std::string> lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "History of a.txt (2 versions)");
    EXPECT_EQ(lines[1].rfind("Version 2 ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("alice"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("8 bytes"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "    second line");
    EXPECT_EQ(lines[3], "    and a note");
    EXPECT_EQ(lines[4].rfind("Version 1 ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5], "    added");
}

TEST_F(ProviderTest, KeepCheckedOutLeavesTheFileOut) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "two\n");
    ASSERT_CODE(alice->checkin({W("a.txt")}, "kept", SCC_KEEP_CHECKEDOUT), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(kMine));
    EXPECT_FALSE(isReadOnly(W("a.txt")));
    writeFile(W("a.txt"), "three\n");
    ASSERT_CODE(alice->checkin({W("a.txt")}), SCC_OK);
    takeMessages();
    alice->history({W("a.txt")});
    EXPECT_EQ(texts(takeMessages()).front(), "History of a.txt (3 versions)");
}

TEST_F(ProviderTest, UncheckoutRestoresTheLatestVersion) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "scribbles\n");
    ASSERT_CODE(alice->uncheckout({W("a.txt")}), SCC_OK);
    EXPECT_EQ(readFile(W("a.txt")), "one\n");
    EXPECT_TRUE(isReadOnly(W("a.txt")));
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
}

TEST_F(ProviderTest, RemovedFileIsDeletedAndCanComeBack) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->remove({W("a.txt")}, "obsolete"), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_DELETED));
    EXPECT_FALSE(isReadOnly(W("a.txt"))) << "a file no longer controlled stays read-only";
    EXPECT_EQ(readFile(W("a.txt")), "one\n");
    EXPECT_CODE(alice->checkout({W("a.txt")}), SCC_E_FILENOTCONTROLLED);

    writeFile(W("a.txt"), "again\n");
    ASSERT_CODE(alice->add({W("a.txt")}, "back"), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
    takeMessages();
    ASSERT_CODE(alice->history({W("a.txt")}), SCC_OK);
    std::vector<std::string> lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "History of a.txt (2 versions)");
    EXPECT_EQ(lines[1].rfind("Version 2 ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[3].rfind("Removed ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4], "    obsolete");
}

TEST_F(ProviderTest, SecondUserCannotCheckOutWhatIsOut) {
    addFile("a.txt", "one\n");
    auto bob = openAs("bob", dir / "bob");
    std::string bobFile = join(dir / "bob", "a.txt");
    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);

    SCCRTN code = bob->checkout({bobFile});
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(SCC_E_FILEOUTEXCLUSIVE)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, "checked out by alice")) << describe(messages);
    EXPECT_EQ(statusText(bob->status(bobFile)), statusText(kTheirs));
    EXPECT_TRUE(isReadOnly(bobFile));
    EXPECT_CODE(bob->checkin({bobFile}), SCC_E_NOTCHECKEDOUT);
    EXPECT_CODE(bob->uncheckout({bobFile}), SCC_E_NOTCHECKEDOUT);
    EXPECT_CODE(bob->remove({bobFile}), SCC_E_FILEISCHECKEDOUT);
}

TEST_F(ProviderTest, SameUserInAnotherFolderIsAnotherHolder) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    auto elsewhere = openAs("alice", dir / "laptop");
    std::string copy = join(dir / "laptop", "a.txt");
    EXPECT_CODE(elsewhere->checkout({copy}), SCC_E_FILEOUTEXCLUSIVE);
    EXPECT_EQ(statusText(elsewhere->status(copy)),
              statusText(kTheirs | SCC_STATUS_OUTBYUSER | SCC_STATUS_OUTOFDATE));
}

TEST_F(ProviderTest, CheckinElsewhereMakesCopiesOutOfDateUntilGet) {
    addFile("a.txt", "one\n");
    auto bob = openAs("bob", dir / "bob");
    std::string bobFile = join(dir / "bob", "a.txt");
    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    EXPECT_EQ(statusText(bob->status(bobFile)), statusText(SCC_STATUS_CONTROLLED));

    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "one\ntwo\n");
    ASSERT_CODE(alice->checkin({W("a.txt")}), SCC_OK);
    EXPECT_EQ(statusText(bob->status(bobFile)), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOFDATE));

    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    EXPECT_EQ(readFile(bobFile), "one\ntwo\n");
    EXPECT_TRUE(isReadOnly(bobFile));
    EXPECT_EQ(statusText(bob->status(bobFile)), statusText(SCC_STATUS_CONTROLLED));
}

TEST_F(ProviderTest, MissingWorkingFileIsOutOfDateAndGetBringsItBack) {
    addFile("sub/a.txt", "one\n");
    removeTree(W("sub"));
    EXPECT_EQ(statusText(alice->status(W("sub/a.txt"))), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOFDATE));
    ASSERT_CODE(alice->get({W("sub/a.txt")}), SCC_OK);
    EXPECT_EQ(readFile(W("sub/a.txt")), "one\n");
    EXPECT_EQ(statusText(alice->status(W("sub/a.txt"))), statusText(SCC_STATUS_CONTROLLED));
}

TEST_F(ProviderTest, GetLeavesTheUsersCheckedOutFileAlone) {
    addFile("a.txt", "one\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "work in progress\n");
    SCCRTN code = alice->get({W("a.txt")});
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(SCC_OK)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_INFO, "checked out by you")) << describe(messages);
    EXPECT_EQ(readFile(W("a.txt")), "work in progress\n");
}

TEST_F(ProviderTest, GetDoesNotOverwriteChangesMadeWithoutCheckout) {
    addFile("a.txt", "one\n");
    writeFile(W("a.txt"), "edited anyway\n");  // made writable by hand
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_MODIFIED));
    EXPECT_CODE(alice->get({W("a.txt")}), SCC_E_OPNOTPERFORMED);
    EXPECT_EQ(readFile(W("a.txt")), "edited anyway\n");
}

TEST_F(ProviderTest, CheckoutKeepsEditsOfTheLatestVersion) {
    addFile("a.txt", "one\n");
    writeFile(W("a.txt"), "edited before checking out\n");
    SCCRTN code = alice->checkout({W("a.txt")});
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(SCC_OK)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_INFO, "kept the changes")) << describe(messages);
    EXPECT_EQ(readFile(W("a.txt")), "edited before checking out\n");
}

TEST_F(ProviderTest, CheckoutRefusesEditsOfAnOldVersion) {
    addFile("a.txt", "one\n");
    auto bob = openAs("bob", dir / "bob");
    std::string bobFile = join(dir / "bob", "a.txt");
    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "two\n");
    ASSERT_CODE(alice->checkin({W("a.txt")}), SCC_OK);
    writeFile(bobFile, "bob's edit of version 1\n");
    SCCRTN code = bob->checkout({bobFile});
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(SCC_E_OPNOTPERFORMED)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, "not a copy of the latest version 2"))
        << describe(messages);
    EXPECT_EQ(readFile(bobFile), "bob's edit of version 1\n");
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
}

TEST_F(ProviderTest, CommandOnSeveralFilesChangesAllOrNone) {
    writeFile(W("a.txt"), "a\n");
    EXPECT_CODE(alice->add({W("a.txt"), W("missing.txt")}), SCC_E_FILENOTEXIST);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_NOTCONTROLLED));

    writeFile(W("b.txt"), "b\n");
    ASSERT_CODE(alice->add({W("a.txt"), W("b.txt")}), SCC_OK);
    auto bob = openAs("bob", dir / "bob");
    ASSERT_CODE(bob->checkout({join(dir / "bob", "b.txt")}), SCC_OK);
    EXPECT_CODE(alice->checkout({W("a.txt"), W("b.txt")}), SCC_E_FILEOUTEXCLUSIVE);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_TRUE(isReadOnly(W("a.txt")));
}

TEST_F(ProviderTest, RelativeAndRepeatedNamesMeanTheirFile) {
    writeFile(W("dir/a.txt"), "a\n");
    ASSERT_CODE(alice->add({"dir/a.txt", W("dir/a.txt"), W("dir/../dir/a.txt")}), SCC_OK);
    EXPECT_EQ(statusText(alice->status("dir/a.txt")), statusText(SCC_STATUS_CONTROLLED));
    takeMessages();
    ASSERT_CODE(alice->history({W("dir/a.txt")}), SCC_OK);
    EXPECT_EQ(texts(takeMessages()).front(), "History of dir/a.txt (1 version)");
}

TEST_F(ProviderTest, PropertiesDescribeTheFile) {
    addFile("a.txt", "one\n");
    auto bob = openAs("bob", dir / "bob");
    ASSERT_CODE(bob->checkout({join(dir / "bob", "a.txt")}), SCC_OK);
    takeMessages();
    ASSERT_CODE(alice->properties(W("a.txt")), SCC_OK);
    std::vector<std::string> lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 7u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[0], "File:           a.txt");
    EXPECT_EQ(lines[2], "Type:           text");
    EXPECT_EQ(lines[3].rfind("Latest version: 1 of ", 0), 0u) << lines[3];
    EXPECT_NE(lines[3].find("by alice, 4 bytes"), std::string::npos) << lines[3];
    EXPECT_EQ(lines[4].rfind("Checked out:    by bob in ", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5], "Working file:   up to date");
}

TEST_F(ProviderTest, RunSccListsTheStateOfEveryFile) {
    addFile("a.txt", "a\n");
    addFile("b.txt", "b\n");
    ASSERT_CODE(alice->checkout({W("b.txt")}), SCC_OK);
    writeFile(W("b.txt"), "bb\n");
    takeMessages();
    ASSERT_CODE(alice->runScc({}), SCC_OK);
    std::vector<std::string> lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 3u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "a.txt  version 1");
    EXPECT_EQ(lines[2], "b.txt  version 1, checked out by you, changed");
    ASSERT_CODE(alice->runScc({W("b.txt")}), SCC_OK);
    lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[1], "b.txt  version 1, checked out by you, changed");
}

// --- the store on disk -------------------------------------------------------------------------

TEST_F(ProviderTest, StoreIsReadableTextAndPlainFiles) {
    addFile("docs/read me.txt", "hello\n");
    ASSERT_CODE(alice->checkout({W("docs/read me.txt")}, "tab\there"), SCC_OK);
    writeFile(W("docs/read me.txt"), "hello\nworld\n");
    ASSERT_CODE(alice->checkin({W("docs/read me.txt")}, "50% more\nwords"), SCC_OK);

    std::string index = readFile(join(store, "index.txt"));
    EXPECT_EQ(index.rfind("localstore index\nformat\t1\nproject\twork\n", 0), 0u) << index;
    EXPECT_NE(index.find("\nfile\t1\ttext\tactive\tdocs/read me.txt\n"), std::string::npos) << index;
    EXPECT_NE(index.find("\talice\t12\t"), std::string::npos) << index;
    EXPECT_NE(index.find("\t50%25 more%0Awords\n"), std::string::npos) << index;
    EXPECT_EQ(index.substr(index.size() - 4), "end\n") << index;
    EXPECT_EQ(readFile(join(store, "versions/1.1")), "hello\n");
    EXPECT_EQ(readFile(join(store, "versions/1.2")), "hello\nworld\n");
}

TEST_F(ProviderTest, ReadOnlyStoreCanBeReadButNotChanged) {
    addFile("a.txt", "one\n");
    writeFile(W("b.txt"), "b\n");
    std::string before = readFile(join(store, "index.txt"));
    markStoreReadOnly(store, true);
    struct Restore {
        std::string store;
        ~Restore() { markStoreReadOnly(store, false); }
    } restore{store};

    auto reader = openAs("bob", dir / "bob");
    std::string bobFile = join(dir / "bob", "a.txt");
    EXPECT_TRUE(anyMessageContains(takeMessages(), SCC_MSG_WARNING, "read-only"));
    EXPECT_CODE(alice->history({W("a.txt")}), SCC_OK);
    EXPECT_EQ(statusText(reader->status(bobFile)), statusText(SCC_STATUS_CONTROLLED | SCC_STATUS_OUTOFDATE));
    EXPECT_CODE(alice->diff(W("a.txt")), SCC_OK);

    EXPECT_CODE(reader->get({bobFile}), SCC_OK);
    EXPECT_EQ(readFile(bobFile), "one\n");

    struct Change {
        const char *label;
        std::function<SCCRTN()> run;
    };
    const Change changes[] = {{"add", [&] { return alice->add({W("b.txt")}); }},
                              {"checkout", [&] { return alice->checkout({W("a.txt")}); }},
                              {"remove", [&] { return alice->remove({W("a.txt")}); }}};
    for (const Change &change : changes) {
        SCCRTN code = change.run();
        std::vector<Message> messages = takeMessages();
        EXPECT_EQ(codeText(code), codeText(SCC_E_ACCESSFAILURE)) << change.label << "\n" << describe(messages);
        EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, "read-only"))
            << change.label << "\n" << describe(messages);
    }
    EXPECT_EQ(readFile(join(store, "index.txt")), before);
}

} // namespace
} // namespace lstest
