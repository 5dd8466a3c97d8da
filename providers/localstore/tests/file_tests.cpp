// Kinds of files and names, differences, bad input, populate lists, and the
// speed of the status query.
#include "fixture.h"

#include <cctype>
#include <filesystem>
#include <functional>
#include <iostream>

#ifdef _WIN32
#include <windows.h>
#endif

namespace lstest {
namespace {

std::vector<std::string> texts(const std::vector<Message> &messages) {
    std::vector<std::string> out;
    for (const Message &message : messages) {
        out.push_back(message.text);
    }
    return out;
}

// A name with characters beyond ASCII in the 8-bit form the caller uses:
// UTF-8 bytes on Linux, the ANSI code page on Windows.
std::string localName(const wchar_t *wide, const char *utf8) {
#ifdef _WIN32
    (void)utf8;
    int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length - 1 : 0), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &text[0], length, nullptr, nullptr);
    return text;
#else
    (void)wide;
    return utf8;
#endif
}

std::string allBytes() {
    std::string data;
    for (int round = 0; round < 3; ++round) {
        for (int c = 0; c < 256; ++c) {
            data += static_cast<char>(c);
        }
    }
    return data;
}

std::string tenMegabytes() {
    std::string data;
    data.reserve(10u << 20);
    for (int line = 0; data.size() < (10u << 20); ++line) {
        data += "line " + std::to_string(line) + " of a large text file, with some words to fill it\n";
    }
    data.resize(10u << 20);
    return data;
}

// --- names and sizes ----------------------------------------------------------------------

struct FileCase {
    const char *label;
    std::string (*name)();
    std::string (*content)();
};

void PrintTo(const FileCase &c, std::ostream *out) {
    *out << c.label;
}

class FileKinds : public ProviderTest, public ::testing::WithParamInterface<FileCase> {};

// Each kind of file goes in, out to a second working folder, through a
// check-out and check-in, and out again, byte for byte.
TEST_P(FileKinds, TravelsThroughTheStoreUnchanged) {
    const FileCase &c = GetParam();
    const std::string name = c.name();
    const std::string data = c.content();
    writeFile(W(name), data);
    ASSERT_CODE(alice->add({W(name)}), SCC_OK);

    const std::string bobFolder = dir / "bob";
    auto bob = openAs("bob", bobFolder);
    const std::string bobFile = join(bobFolder, name);
    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    EXPECT_TRUE(readFile(bobFile) == data) << "the copy got differs from what was added";
    EXPECT_EQ(statusText(bob->status(bobFile)), statusText(SCC_STATUS_CONTROLLED));

    ASSERT_CODE(alice->checkout({W(name)}), SCC_OK);
    const std::string changed = data + "changed\n";
    writeFile(W(name), changed);
    ASSERT_CODE(alice->checkin({W(name)}), SCC_OK);
    ASSERT_CODE(bob->get({bobFile}), SCC_OK);
    EXPECT_TRUE(readFile(bobFile) == changed) << "the copy got differs from what was checked in";

    ASSERT_CODE(bob->checkout({bobFile}), SCC_OK);
    ASSERT_CODE(bob->uncheckout({bobFile}), SCC_OK);
    EXPECT_TRUE(readFile(bobFile) == changed);
    EXPECT_EQ(statusText(alice->status(W(name))), statusText(SCC_STATUS_CONTROLLED));
    takeMessages();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, FileKinds,
    ::testing::Values(
        FileCase{"plain", [] { return std::string("plain.txt"); }, [] { return std::string("hello\n"); }},
        FileCase{"spaces", [] { return std::string("with space/and more.txt"); },
                 [] { return std::string("spaced out\n"); }},
        FileCase{"nonAscii", [] { return localName(L"caf\u00e9/na\u00efve \u00e9t\u00e9.txt", "caf\xC3\xA9/na\xC3\xAFve \xC3\xA9t\xC3\xA9.txt"); },
                 [] { return std::string("d\xE9j\xE0 vu\n"); }},
        FileCase{"empty", [] { return std::string("empty.txt"); }, [] { return std::string(); }},
        FileCase{"binary", [] { return std::string("all-bytes.bin"); }, allBytes},
        FileCase{"crlf", [] { return std::string("dos.txt"); }, [] { return std::string("a\r\nb\r\n"); }},
        FileCase{"noFinalNewline", [] { return std::string("last.txt"); },
                 [] { return std::string("no end"); }},
        FileCase{"tenMegabytes", [] { return std::string("big.log"); }, tenMegabytes}),
    [](const ::testing::TestParamInfo<FileCase> &info) { return std::string(info.param.label); });

#ifndef _WIN32
// On POSIX a name is bytes: one that is not UTF-8 works as well.
TEST_F(ProviderTest, NameInAnotherEncodingIsKeptAsBytes) {
    addFile("\xE9t\xE9.txt", "latin-1 name\n");
    EXPECT_EQ(statusText(alice->status(W("\xE9t\xE9.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_EQ(statusText(alice->status(W("\xC3\xA9t\xC3\xA9.txt"))), statusText(SCC_STATUS_NOTCONTROLLED));
}
#else
TEST_F(ProviderTest, NamesDifferingInCaseAreOneFile) {
    addFile("Readme.TXT", "one\n");
    EXPECT_EQ(statusText(alice->status(W("README.txt"))), statusText(SCC_STATUS_CONTROLLED));
    EXPECT_CODE(alice->add({W("readme.txt")}), SCC_E_FILEALREADYEXISTS);
}

// A name rooted on the current drive (\dir\file, as a caller with
// POSIX-style names may pass) is that file, not a name below the project.
TEST_F(ProviderTest, ANameRootedWithoutADriveIsTheFileItNames) {
    writeFile(W("b.txt"), "b\n");
    const std::string full = W("b.txt");
    ASSERT_EQ(full.substr(1, 2), ":\\") << full;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(std::filesystem::path(full).parent_path()); // its drive
    const SCCRTN added = alice->add({full.substr(2)});
    std::filesystem::current_path(before);
    EXPECT_CODE(added, SCC_OK);
    EXPECT_EQ(statusText(alice->status(full)), statusText(SCC_STATUS_CONTROLLED));
}
#endif

TEST_F(ProviderTest, BinaryContentIsFoundWithoutAFlag) {
    addFile("image.bin", std::string("GIF89a\0\x01\x02", 9));
    addFile("forced.dat", "looks like text\n");
    writeFile(W("typed.dat"), "text\n");
    ASSERT_CODE(alice->add({W("typed.dat")}, "typed", {SCC_FILETYPE_BINARY}), SCC_OK);
    for (const char *name : {"image.bin", "typed.dat"}) {
        takeMessages();
        ASSERT_CODE(alice->properties(W(name)), SCC_OK);
        EXPECT_EQ(texts(takeMessages())[2], "Type:           binary") << name;
    }
    ASSERT_CODE(alice->properties(W("forced.dat")), SCC_OK);
    EXPECT_EQ(texts(takeMessages())[2], "Type:           text");
}

// --- differences ---------------------------------------------------------------------------

TEST_F(ProviderTest, DiffSendsAUnifiedDiffOfTheWorkingFile) {
    addFile("a.txt", "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "one\n2\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\neleven\n");
    takeMessages();
    ASSERT_CODE(alice->diff(W("a.txt")), SCC_I_FILEDIFFERS);
    std::vector<std::string> expected = {"--- a.txt\t(version 1)",
                                         "+++ a.txt\t(working file)",
                                         "@@ -1,5 +1,5 @@",
                                         " one",
                                         "-two",
                                         "+2",
                                         " three",
                                         " four",
                                         " five",
                                         "@@ -8,3 +8,4 @@",
                                         " eight",
                                         " nine",
                                         " ten",
                                         "+eleven"};
    EXPECT_EQ(texts(takeMessages()), expected);
}

TEST_F(ProviderTest, DiffMarksAMissingFinalNewline) {
    addFile("a.txt", "one\ntwo\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "one\ntwo");
    takeMessages();
    ASSERT_CODE(alice->diff(W("a.txt")), SCC_I_FILEDIFFERS);
    std::vector<std::string> expected = {"--- a.txt\t(version 1)", "+++ a.txt\t(working file)", "@@ -1,2 +1,2 @@",
                                         " one", "-two", "+two", "\\ No newline at end of file"};
    EXPECT_EQ(texts(takeMessages()), expected);
}

TEST_F(ProviderTest, DiffOfEmptyAgainstText) {
    addFile("a.txt", "");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "new\nlines\n");
    takeMessages();
    ASSERT_CODE(alice->diff(W("a.txt")), SCC_I_FILEDIFFERS);
    std::vector<std::string> expected = {"--- a.txt\t(version 1)", "+++ a.txt\t(working file)", "@@ -0,0 +1,2 @@",
                                         "+new", "+lines"};
    EXPECT_EQ(texts(takeMessages()), expected);
}

TEST_F(ProviderTest, DiffOfASmallChangeInATenMegabyteFile) {
    std::string data = tenMegabytes();
    addFile("big.log", data);
    ASSERT_CODE(alice->checkout({W("big.log")}), SCC_OK);
    data.replace(data.size() / 2, 4, "LINE");
    writeFile(W("big.log"), data);
    takeMessages();
    int64_t start = nowMs();
    ASSERT_CODE(alice->diff(W("big.log")), SCC_I_FILEDIFFERS);
    int64_t took = nowMs() - start;
    std::vector<std::string> lines = texts(takeMessages());
    ASSERT_EQ(lines.size(), 11u) << ::testing::PrintToString(lines);
    EXPECT_EQ(lines[6].substr(0, 1), "-");
    EXPECT_EQ(lines[7].substr(0, 1), "+");
    // Generous for a busy machine (about 3 s under sanitizers on a quiet one); a diff quadratic in
    // the file's length takes far longer.
    EXPECT_LT(took, 20000) << "diff of a 10 MB file took " << took << " ms";
}

struct DiffCase {
    const char *label;
    SCCLONG flags;
    const char *working;
    SCCRTN expected;
    bool output;  // whether lines of a diff are sent
};

void PrintTo(const DiffCase &c, std::ostream *out) {
    *out << c.label;
}

class DiffFlags : public ProviderTest, public ::testing::WithParamInterface<DiffCase> {};

TEST_P(DiffFlags, DecideWhatCountsAsADifference) {
    const DiffCase &c = GetParam();
    addFile("a.txt", "One two\nthree\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), c.working);
    takeMessages();
    SCCRTN code = alice->diff(W("a.txt"), c.flags);
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(c.expected)) << describe(messages);
    bool listed = anyMessageContains(messages, SCC_MSG_INFO, "@@ ");
    EXPECT_EQ(listed, c.output) << describe(messages);
    if (c.flags & (SCC_DIFF_QD_CONTENTS | SCC_DIFF_QD_CHECKSUM | SCC_DIFF_QD_TIME)) {
        EXPECT_TRUE(messages.empty()) << "a quick diff sent messages:\n" << describe(messages);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiffFlags,
    ::testing::Values(DiffCase{"same", 0, "One two\nthree\n", SCC_OK, false},
                      DiffCase{"caseCounts", 0, "one two\nthree\n", SCC_I_FILEDIFFERS, true},
                      DiffCase{"ignoreCase", SCC_DIFF_IGNORECASE, "ONE TWO\nThree\n", SCC_OK, false},
                      DiffCase{"ignoreCaseNotWords", SCC_DIFF_IGNORECASE, "one three\nthree\n", SCC_I_FILEDIFFERS,
                               true},
                      DiffCase{"spaceCounts", 0, "One  two\nthree\n", SCC_I_FILEDIFFERS, true},
                      DiffCase{"ignoreSpace", SCC_DIFF_IGNORESPACE, "One\ttwo \r\n three\r\n", SCC_OK, false},
                      DiffCase{"quickSame", SCC_DIFF_QD_CONTENTS, "One two\nthree\n", SCC_OK, false},
                      DiffCase{"quickDiffers", SCC_DIFF_QD_CONTENTS, "One two\nthree\nfour\n",
                               SCC_I_FILEDIFFERS, false},
                      DiffCase{"checksumDiffers", SCC_DIFF_QD_CHECKSUM, "x", SCC_I_FILEDIFFERS, false},
                      DiffCase{"timeDiffers", SCC_DIFF_QD_TIME, "x", SCC_I_FILEDIFFERS, false}),
    [](const ::testing::TestParamInfo<DiffCase> &info) { return std::string(info.param.label); });

TEST_F(ProviderTest, DiffOfBinaryFilesSaysTheyDiffer) {
    addFile("a.bin", std::string("\0\1\2", 3));
    ASSERT_CODE(alice->checkout({W("a.bin")}), SCC_OK);
    writeFile(W("a.bin"), std::string("\0\1\3", 3));
    takeMessages();
    ASSERT_CODE(alice->diff(W("a.bin")), SCC_I_FILEDIFFERS);
    EXPECT_EQ(texts(takeMessages()),
              std::vector<std::string>{"a.bin: the binary working file differs from version 1."});
}

// --- bad input ----------------------------------------------------------------------------------

struct BadCase {
    const char *label;
    std::function<SCCRTN(ProviderTest &, Client &)> call;
    SCCRTN expected;
    const char *messagePart;
};

void PrintTo(const BadCase &c, std::ostream *out) {
    *out << c.label;
}

class BadInput : public ProviderTest, public ::testing::WithParamInterface<BadCase> {
public:
    // Lets the cases reach the fixture's members.
    std::string file(const std::string &relative) const { return W(relative); }
    const std::string &storeFolder() const { return store; }
    const ScratchDir &scratch() const { return dir; }
};

BadInput &fixture(ProviderTest &test) {
    return static_cast<BadInput &>(test);
}

// Every case starts from a.txt under control and b.txt only on disk; none
// may crash, each gives its code and an error message that names the problem.
TEST_P(BadInput, GetsItsCodeAndAMessage) {
    const BadCase &c = GetParam();
    addFile("a.txt", "a\n");
    writeFile(W("b.txt"), "b\n");
    makeDirs(W("folder"));
    takeMessages();
    SCCRTN code = c.call(*this, *alice);
    std::vector<Message> messages = takeMessages();
    EXPECT_EQ(codeText(code), codeText(c.expected)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, c.messagePart))
        << "no error message with \"" << c.messagePart << "\"\n"
        << describe(messages);
    markStoreReadOnly(store, false);
}

const Entries &scc() {
    return provider();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadInput,
    ::testing::Values(
        BadCase{"outsideProject",
                [](ProviderTest &t, Client &c) { return c.add({fixture(t).scratch() / "elsewhere.txt"}); },
                SCC_E_INVALIDFILEPATH, "outside the project folder"},
        BadCase{"insideStore",
                [](ProviderTest &t, Client &c) {
                    return c.add({join(fixture(t).storeFolder(), "index.txt")});
                },
                SCC_E_INVALIDFILEPATH, "lies in the store folder"},
        BadCase{"parentEscape", [](ProviderTest &, Client &c) { return c.add({"../outside.txt"}); },
                SCC_E_INVALIDFILEPATH, "outside the project folder"},
        BadCase{"missingFile",
                [](ProviderTest &t, Client &c) { return c.add({fixture(t).file("nope.txt")}); },
                SCC_E_FILENOTEXIST, "does not exist"},
        BadCase{"folderNotFile",
                [](ProviderTest &t, Client &c) { return c.add({fixture(t).file("folder")}); },
                SCC_E_INVALIDFILEPATH, "is not a file"},
        BadCase{"nullName",
                [](ProviderTest &, Client &c) {
                    const char *names[] = {nullptr};
                    SCCLONG flags[] = {0};
                    return scc().add(c.context(), nullptr, 1, names, "", flags, nullptr);
                },
                SCC_E_INVALIDFILEPATH, "name is missing"},
        BadCase{"nullList",
                [](ProviderTest &, Client &c) { return scc().checkout(c.context(), nullptr, 2, nullptr, "", 0, nullptr); },
                SCC_E_NONSPECIFICERROR, "list of files is missing"},
        BadCase{"negativeCount",
                [](ProviderTest &, Client &c) {
                    const char *names[] = {"a.txt"};
                    return scc().get(c.context(), nullptr, -1, names, 0, nullptr);
                },
                SCC_E_NONSPECIFICERROR, "list of files is missing"},
        BadCase{"addTwice", [](ProviderTest &t, Client &c) { return c.add({fixture(t).file("a.txt")}); },
                SCC_E_FILEALREADYEXISTS, "under source control already"},
        BadCase{"checkoutUncontrolled",
                [](ProviderTest &t, Client &c) { return c.checkout({fixture(t).file("b.txt")}); },
                SCC_E_FILENOTCONTROLLED, "not under source control"},
        BadCase{"checkoutTwice",
                [](ProviderTest &t, Client &c) {
                    c.checkout({fixture(t).file("a.txt")});
                    takeMessages();
                    return c.checkout({fixture(t).file("a.txt")});
                },
                SCC_E_ALREADYCHECKEDOUT, "checked out by you already"},
        BadCase{"checkinNotOut", [](ProviderTest &t, Client &c) { return c.checkin({fixture(t).file("a.txt")}); },
                SCC_E_NOTCHECKEDOUT, "is not checked out"},
        BadCase{"checkinMissingWorkingFile",
                [](ProviderTest &t, Client &c) {
                    c.checkout({fixture(t).file("a.txt")});
                    removeTree(fixture(t).file("a.txt"));
                    takeMessages();
                    return c.checkin({fixture(t).file("a.txt")});
                },
                SCC_E_FILENOTEXIST, "working file does not exist"},
        BadCase{"uncheckoutNotOut",
                [](ProviderTest &t, Client &c) { return c.uncheckout({fixture(t).file("a.txt")}); },
                SCC_E_NOTCHECKEDOUT, "is not checked out"},
        BadCase{"removeCheckedOut",
                [](ProviderTest &t, Client &c) {
                    c.checkout({fixture(t).file("a.txt")});
                    takeMessages();
                    return c.remove({fixture(t).file("a.txt")});
                },
                SCC_E_FILEISCHECKEDOUT, "is checked out by you"},
        BadCase{"removeUncontrolled",
                [](ProviderTest &t, Client &c) { return c.remove({fixture(t).file("b.txt")}); },
                SCC_E_FILENOTCONTROLLED, "not under source control"},
        BadCase{"historyUncontrolled",
                [](ProviderTest &t, Client &c) { return c.history({fixture(t).file("b.txt")}); },
                SCC_E_FILENOTCONTROLLED, "not under source control"},
        BadCase{"propertiesUncontrolled",
                [](ProviderTest &t, Client &c) { return c.properties(fixture(t).file("b.txt")); },
                SCC_E_FILENOTCONTROLLED, "not under source control"},
        BadCase{"diffMissingWorkingFile",
                [](ProviderTest &t, Client &c) {
                    removeTree(fixture(t).file("a.txt"));
                    return c.diff(fixture(t).file("a.txt"));
                },
                SCC_E_FILENOTEXIST, "working file does not exist"},
        BadCase{"diffNullName", [](ProviderTest &, Client &c) { return scc().diff(c.context(), nullptr, nullptr, 0, nullptr); },
                SCC_E_INVALIDFILEPATH, "name is missing"},
        BadCase{"noProjectOpen",
                [](ProviderTest &t, Client &c) {
                    c.close();
                    return c.checkout({fixture(t).file("a.txt")});
                },
                SCC_E_PROJNOTOPEN, "No project is open"},
        BadCase{"readOnlyStore",
                [](ProviderTest &t, Client &c) {
                    markStoreReadOnly(fixture(t).storeFolder(), true);
                    return c.add({fixture(t).file("b.txt")});
                },
                SCC_E_ACCESSFAILURE, "read-only"},
        BadCase{"unknownPopulateCommand",
                [](ProviderTest &, Client &c) {
                    const char *names[] = {"a.txt"};
                    SCCLONG status[1];
                    return scc().populateList(c.context(), static_cast<SCCCOMMAND>(SCC_COMMAND_OPTIONS), 1, names,
                                              nullptr, nullptr, status, 0);
                },
                SCC_E_OPNOTSUPPORTED, "has no file list"}),
    [](const ::testing::TestParamInfo<BadCase> &info) { return std::string(info.param.label); });

// --- populate lists -----------------------------------------------------------------------------

struct PopulateCase {
    SCCCOMMAND command;
    const char *label;
    std::vector<std::string> kept;  // of free, mine, theirs, new, gone
};

void PrintTo(const PopulateCase &c, std::ostream *out) {
    *out << c.label;
}

class PopulateList : public ProviderTest, public ::testing::WithParamInterface<PopulateCase> {};

struct Callback {
    std::vector<std::pair<bool, std::string>> calls;
    std::vector<SCCLONG> statuses;
    int stopAfter = -1;
};

SCCBOOL SCC_CALL populateCallback(void *data, SCCBOOL keep, SCCLONG status, const char *name) {
    auto *callback = static_cast<Callback *>(data);
    callback->calls.emplace_back((keep & 0xff) != 0, name ? name : "(null)");
    callback->statuses.push_back(status);
    return callback->stopAfter < 0 || static_cast<int>(callback->calls.size()) < callback->stopAfter;
}

// Files in five states; each command keeps the ones it applies to.
TEST_P(PopulateList, KeepsTheFilesTheCommandAppliesTo) {
    const PopulateCase &c = GetParam();
    for (const char *name : {"free", "mine", "theirs", "new", "gone"}) {
        writeFile(W(name), std::string(name) + "\n");
    }
    ASSERT_CODE(alice->add({W("free"), W("mine"), W("theirs"), W("gone")}), SCC_OK);
    ASSERT_CODE(alice->checkout({W("mine")}), SCC_OK);
    ASSERT_CODE(alice->remove({W("gone")}), SCC_OK);
    auto bob = openAs("bob", dir / "bob");
    ASSERT_CODE(bob->checkout({join(dir / "bob", "theirs")}), SCC_OK);

    const std::vector<std::string> files = {W("free"), W("mine"), W("theirs"), W("new"), W("gone")};
    auto names = pointers(files);
    std::vector<SCCLONG> status(files.size(), 0x5a5a);
    Callback callback;
    takeMessages();
    ASSERT_CODE(provider().populateList(alice->context(), c.command, static_cast<SCCLONG>(files.size()),
                                        names.data(), populateCallback, &callback, status.data(), 0),
                SCC_OK);
    std::vector<std::string> kept;
    std::vector<std::string> called;
    for (const auto &call : callback.calls) {
        called.push_back(call.second);
        if (call.first) {
            kept.push_back(lstest::S(lstest::P(call.second).filename()));
        }
    }
    EXPECT_EQ(called, files) << "one callback per file, in order";
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(status, alice->query(files)) << "status words differ from the status query";
    EXPECT_EQ(callback.statuses, status);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, PopulateList,
    ::testing::Values(PopulateCase{SCC_COMMAND_GET, "get", {"free", "theirs"}},
                      PopulateCase{SCC_COMMAND_CHECKOUT, "checkout", {"free"}},
                      PopulateCase{SCC_COMMAND_CHECKIN, "checkin", {"mine"}},
                      PopulateCase{SCC_COMMAND_UNCHECKOUT, "uncheckout", {"mine"}},
                      PopulateCase{SCC_COMMAND_ADD, "add", {"new", "gone"}},
                      PopulateCase{SCC_COMMAND_REMOVE, "remove", {"free"}},
                      PopulateCase{SCC_COMMAND_DIFF, "diff", {"free", "mine", "theirs"}},
                      PopulateCase{SCC_COMMAND_HISTORY, "history", {"free", "mine", "theirs", "gone"}},
                      PopulateCase{SCC_COMMAND_RENAME, "rename", {}},
                      PopulateCase{SCC_COMMAND_PROPERTIES, "properties", {"free", "mine", "theirs"}}),
    [](const ::testing::TestParamInfo<PopulateCase> &info) { return std::string(info.param.label); });

TEST_F(ProviderTest, PopulateStopsWhenTheCallbackSaysSo) {
    addFile("a", "a\n");
    addFile("b", "b\n");
    const std::vector<std::string> files = {W("a"), W("b")};
    auto names = pointers(files);
    SCCLONG status[2];
    Callback callback;
    callback.stopAfter = 1;
    ASSERT_CODE(provider().populateList(alice->context(), SCC_COMMAND_CHECKOUT, 2, names.data(), populateCallback,
                                        &callback, status, 0),
                SCC_OK);
    EXPECT_EQ(callback.calls.size(), 1u);
}

// --- symbolic links ------------------------------------------------------------------------------

struct LinkCase {
    const char *label;
    std::function<SCCRTN(Client &, const std::string &work)> run;
    SCCRTN expected;
};

void PrintTo(const LinkCase &c, std::ostream *out) {
    *out << c.label;
}

class Links : public ProviderTest, public ::testing::WithParamInterface<LinkCase> {};

// "sub" was a folder when sub/x.txt was added and is now a link to a folder
// outside the project; "leak.txt" is a link to a file outside; "alias" is a
// link to the project's own folder "inner". Nothing is read or written
// through a link that leaves the project.
TEST_P(Links, ThatLeaveTheProjectAreRefused) {
    const std::string outside = dir / "outside";
    makeDirs(outside);
    writeFile(join(outside, "secret.txt"), "secret");
    addFile("sub/x.txt", "version 1\n");
    writeFile(W("inner/y.txt"), "inner\n");
    removeTree(W("sub"));
    std::error_code code;
    std::filesystem::create_directory_symlink(P(outside), P(W("sub")), code);
    if (!code) {
        std::filesystem::create_symlink(P(join(outside, "secret.txt")), P(W("leak.txt")), code);
    }
    if (!code) {
        std::filesystem::create_directory_symlink(P("inner"), P(W("alias")), code);
    }
    if (code) {
        GTEST_SKIP() << "no symbolic links here: " << code.message();
    }
    EXPECT_CODE(GetParam().run(*alice, work), GetParam().expected);
    EXPECT_FALSE(exists(join(outside, "x.txt"))) << "a file was written outside the project";
    EXPECT_EQ(readFile(join(outside, "secret.txt")), "secret");
    EXPECT_FALSE(anyMessageContains(takeMessages(), SCC_MSG_INFO, "secret")) << "outside content was read";
}

const LinkCase kLinkCases[] = {
    {"get through a linked folder", [](Client &c, const std::string &w) { return c.get({join(w, "sub/x.txt")}); },
     SCC_E_INVALIDFILEPATH},
    {"check-out through a linked folder",
     [](Client &c, const std::string &w) { return c.checkout({join(w, "sub/x.txt")}); }, SCC_E_INVALIDFILEPATH},
    {"add through a linked folder",
     [](Client &c, const std::string &w) { return c.add({join(w, "sub/secret.txt")}); }, SCC_E_INVALIDFILEPATH},
    {"add of a linked file", [](Client &c, const std::string &w) { return c.add({join(w, "leak.txt")}); },
     SCC_E_INVALIDFILEPATH},
    {"diff through a linked folder", [](Client &c, const std::string &w) { return c.diff(join(w, "sub/x.txt")); },
     SCC_E_INVALIDFILEPATH},
    {"add through a link inside the project",
     [](Client &c, const std::string &w) { return c.add({join(w, "alias/y.txt")}); }, SCC_OK},
};

INSTANTIATE_TEST_SUITE_P(Symlinks, Links, ::testing::ValuesIn(kLinkCases), [](const auto &info) {
    std::string name;
    for (const char *p = info.param.label; *p; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    }
    return name;
});

// --- speed ----------------------------------------------------------------------------------------

TEST_F(ProviderTest, QueryInfoOnTenThousandFilesIsRightAndNotQuadratic) {
    const int count = 10000;
    std::vector<std::string> files;
    for (int i = 0; i < count; ++i) {
        files.push_back(W("src/module" + std::to_string(i % 50) + "/file" + std::to_string(i) + ".txt"));
        writeFile(files.back(), "content of file " + std::to_string(i) + "\n");
    }
    int64_t start = nowMs();
    ASSERT_CODE(alice->add(files), SCC_OK);
    int64_t added = nowMs() - start;
    ASSERT_CODE(alice->checkout({files[7]}), SCC_OK);
    writeFile(files[7], "changed\n");

    int64_t best = 1 << 30;
    std::vector<SCCLONG> status;
    for (int round = 0; round < 3; ++round) {
        start = nowMs();
        SCCRTN code = SCC_E_UNKNOWNERROR;
        status = alice->query(files, &code);
        best = std::min(best, nowMs() - start);
        ASSERT_EQ(codeText(code), codeText(SCC_OK));
    }
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        SCCLONG expected = i == 7 ? (SCC_STATUS_CONTROLLED | SCC_STATUS_CHECKEDOUT | SCC_STATUS_OUTBYUSER |
                                     SCC_STATUS_OUTEXCLUSIVE | SCC_STATUS_MODIFIED)
                                  : SCC_STATUS_CONTROLLED;
        wrong += status[static_cast<size_t>(i)] != expected;
    }
    EXPECT_EQ(wrong, 0) << "files with a wrong status word";
    std::cout << "[ measured ] add of " << count << " files: " << added << " ms; status query: " << best
              << " ms (best of 3)\n";
    RecordProperty("add_ms", static_cast<int>(added));
    RecordProperty("query_ms", static_cast<int>(best));
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__) && !defined(_WIN32)
    // The bound holds for an optimised build; it is there to catch a query
    // that grows faster than the file count. A debug or sanitizer build is
    // measured and reported only, and so is the Windows build, which runs
    // under wine here: every file-system call (one attribute read per file
    // for the link check among them) is emulated, and its time follows the
    // machine's load more than the code. The query's logic is the same on
    // both, so the Linux bound covers it.
    // The bound is generous (the query takes 0.3-0.4 s on a quiet machine) so that a busy machine
    // does not fail it; a query quadratic in the file count takes minutes.
    EXPECT_LT(best, 3000) << "status query of " << count << " files took " << best << " ms";
#endif
}

} // namespace
} // namespace lstest
