// A store folder is shared, and what lies in it may be a FIFO, a link or a
// huge file instead of what a provider wrote: such a file is refused at once,
// with its name and the reason, never waited on or read without end. Also the
// end of the index's file ids, and an undo check-out that fails part way.
#include "fixture.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <future>

namespace lstest {
namespace {

namespace fs = std::filesystem;

// LinkOut: a link to a file outside the store, which would read (and for the
// journal, be appended to) in its place.
enum class Hostile { Fifo, LinkToDevZero, LinkOut, Oversized };
const char kOutside[] = "multi-checkout yes\n";

// Past every cap; sparse where the file system allows, so it costs no disk.
#ifdef _WIN32
constexpr uintmax_t kOversize = (uintmax_t(64) << 20) + 1;
#else
constexpr uintmax_t kOversize = uintmax_t(1) << 40;
#endif

const char *reasonFor(Hostile kind) {
    switch (kind) {
    case Hostile::Fifo:
        return "not a regular file (a FIFO)";
    case Hostile::LinkToDevZero:
    case Hostile::LinkOut:
#ifdef _WIN32
        return "not a regular file (a link";
#else
        return "not a regular file (a symbolic link)";
#endif
    default:
        return "larger than";
    }
}

// Puts the hostile file in place of `path`; "" or why it cannot be done here.
std::string plant(const std::string &path, Hostile kind, const std::string &outside) {
    std::error_code code;
    fs::remove(P(path), code);
    switch (kind) {
    case Hostile::LinkOut:
        writeFile(outside, kOutside);
        fs::create_symlink(P(outside), P(path), code);
        return code ? "no symbolic links here: " + code.message() : "";
    case Hostile::Fifo:
        return makeFifo(path) ? "" : "no FIFOs here";
    case Hostile::LinkToDevZero:
#ifdef _WIN32
        return "no /dev/zero here";
#else
        fs::create_symlink("/dev/zero", P(path), code);
        return code ? "no symbolic links here: " + code.message() : "";
#endif
    default:
        writeFile(path, "");
        fs::resize_file(P(path), kOversize, code);
        return code ? "cannot make a file that large: " + code.message() : "";
    }
}

class HostileStoreFile : public ProviderTest,
                         public ::testing::WithParamInterface<std::tuple<const char *, Hostile>> {};

TEST_P(HostileStoreFile, IsRefusedAtOnceWithItsNameAndWhy) {
    const std::string file = std::get<0>(GetParam());
    const Hostile kind = std::get<1>(GetParam());
    addFile("a.txt", "a\n");
    const std::string path = join(store, file);
    const std::string outside = dir / "outside.txt";
    if (const std::string why = plant(path, kind, outside); !why.empty()) {
        GTEST_SKIP() << why;
    }
    const std::string bobWork = dir / "bob";
    makeDirs(bobWork);
    Client bob;
    std::string eventName;
    // Each file is read by the command that needs it first.
    auto command = [&]() -> SCCRTN {
        if (file == "index.txt") {
            return bob.open("bob", bobWork, store, 0);
        }
        if (file == "settings.txt") {
            return alice->checkout({W("a.txt")});
        }
        if (file == "journal.txt") {
            // Followed by every context: it must not stop one from opening or
            // from hearing of a change, and the next writer replaces it.
            SCCRTN code = bob.open("bob", bobWork, store, 0);
            bob.query({join(bobWork, "a.txt")});
            if (code == SCC_OK) {
                code = alice->checkout({W("a.txt")});
            }
            char name[SCC_EVENT_NAME_SIZE] = "";
            SCCLONG status = 0, remaining = 0;
            if (code == SCC_OK) {
                code = provider().getEvents(bob.context(), name, &status, &remaining);
            }
            eventName = name;
            return code;
        }
        removeTree(W("a.txt"));
        return alice->get({W("a.txt")});
    };
    auto running = std::async(std::launch::async, command);
    const int64_t deadline = nowMs() + 20000;
    bool stuck = false;
    while (running.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        stuck = stuck || nowMs() > deadline;
        if (stuck) {
            releaseFifoReaders(path);  // only so that the test ends
        }
    }
    const SCCRTN code = running.get();
    const std::vector<Message> messages = takeMessages();
    EXPECT_FALSE(stuck) << file << " was waited on";
    if (kind == Hostile::LinkOut) {
        EXPECT_EQ(readFile(outside), kOutside) << "written through the link";
    }
    if (file == "journal.txt") {
        EXPECT_EQ(codeText(code), codeText(SCC_OK)) << describe(messages);
        EXPECT_EQ(eventName, join(bobWork, "a.txt")) << "the check-out was not reported";
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(P(path)))) << "the writer kept the hostile journal";
        return;
    }
    EXPECT_EQ(codeText(code), codeText(SCC_E_ACCESSFAILURE)) << describe(messages);
    const std::string name = file.substr(file.rfind('/') + 1);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, name)) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, reasonFor(kind))) << describe(messages);
}

INSTANTIATE_TEST_SUITE_P(
    StoreFiles, HostileStoreFile,
    ::testing::Combine(::testing::Values("index.txt", "journal.txt", "settings.txt", "versions/1.1"),
                       ::testing::Values(Hostile::Fifo, Hostile::LinkToDevZero, Hostile::LinkOut,
                                         Hostile::Oversized)),
    [](const auto &info) {
        std::string name;
        for (const char *p = std::get<0>(info.param); *p; ++p) {
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        }
        const Hostile kind = std::get<1>(info.param);
        return name + (kind == Hostile::Fifo            ? "_fifo"
                       : kind == Hostile::LinkToDevZero ? "_devzero"
                       : kind == Hostile::LinkOut       ? "_linkout"
                                                        : "_huge");
    });

// A file that parses but is longer than a store's own would be is refused
// too, rather than read whole.
TEST_F(ProviderTest, SettingsOverOneMebibyteAreRefused) {
    addFile("a.txt", "a\n");
    writeFile(join(store, "settings.txt"), std::string(1 << 20, '#') + "\nmulti-checkout yes\n");
    EXPECT_CODE(alice->checkout({W("a.txt")}), SCC_E_ACCESSFAILURE);
    writeFile(join(store, "settings.txt"), std::string((1 << 20) - 100, '#') + "\nmulti-checkout yes\n");
    EXPECT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
}

// --- the end of the file ids -----------------------------------------------------------

struct IdCase {
    const char *nextId;  // as the index says
    int newFiles;        // added in one call
    bool readd;          // plus a removed file added again (keeps its id)
    SCCRTN expected;
};

class FileIds : public ProviderTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(FileIds, RunOutWithoutBreakingTheIndex) {
    const IdCase &c = GetParam();
    addFile("old.txt", "old\n");
    ASSERT_CODE(alice->remove({W("old.txt")}), SCC_OK);
    std::string index = readFile(join(store, "index.txt"));
    const size_t at = index.find("next-id\t2\n");
    ASSERT_NE(at, std::string::npos) << index;
    index.replace(at, 10, std::string("next-id\t") + c.nextId + "\n");
    writeFile(join(store, "index.txt"), index);

    std::vector<std::string> names;
    for (int i = 0; i < c.newFiles; ++i) {
        names.push_back(W("new" + std::to_string(i) + ".txt"));
        writeFile(names.back(), "new\n");
    }
    if (c.readd) {
        names.push_back(W("old.txt"));
    }
    EXPECT_CODE(alice->add(names), c.expected);
    if (c.expected != SCC_OK) {
        EXPECT_EQ(readFile(join(store, "index.txt")), index) << "a refused add changed the index";
    }
    Client again;  // the store still reads its own index
    ASSERT_CODE(again.open("alice", work, store, 0), SCC_OK);
    for (const std::string &name : names) {
        EXPECT_EQ(statusText(again.status(name)),
                  statusText(c.expected == SCC_OK ? SCC_STATUS_CONTROLLED : SCC_STATUS_NOTCONTROLLED))
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Edge, FileIds,
                         ::testing::Values(IdCase{"18446744073709551614", 1, false, SCC_OK},  // the last id
                                           IdCase{"18446744073709551614", 2, false, SCC_E_OPNOTPERFORMED},
                                           IdCase{"18446744073709551615", 1, false, SCC_E_OPNOTPERFORMED},
                                           IdCase{"18446744073709551615", 0, true, SCC_OK}));

// --- undo check-out that cannot finish --------------------------------------------------

TEST_F(ProviderTest, UndoCheckoutWhoseIndexCannotBeSavedSaysWhatItDid) {
    addFile("a.txt", "version 1\n");
    ASSERT_CODE(alice->checkout({W("a.txt")}), SCC_OK);
    writeFile(W("a.txt"), "edited\n");
    // The index is written in tmp/ first: a file in its place makes that fail
    // after the working file went back, as a full disk does.
    removeTree(join(store, "tmp"));
    writeFile(join(store, "tmp"), "");
    EXPECT_EQ(codeText(alice->uncheckout({W("a.txt")})), codeText(SCC_E_ACCESSFAILURE));
    const std::vector<Message> messages = takeMessages();
    EXPECT_FALSE(anyMessageContains(messages, SCC_MSG_ERROR, "Nothing was changed")) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, "not released")) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_WARNING, W("a.txt") + ": holds version 1 now"))
        << describe(messages);
    EXPECT_EQ(readFile(W("a.txt")), "version 1\n");
    EXPECT_TRUE(alice->status(W("a.txt")) & SCC_STATUS_CHECKEDOUT);

    removeTree(join(store, "tmp"));
    makeDirs(join(store, "tmp"));
    EXPECT_CODE(alice->uncheckout({W("a.txt")}), SCC_OK);
    EXPECT_EQ(statusText(alice->status(W("a.txt"))), statusText(SCC_STATUS_CONTROLLED));
}

TEST_F(ProviderTest, UndoCheckoutThatFailsPartWayNamesTheFilesItPutBack) {
    addFile("a.txt", "a 1\n");
    addFile("b.txt", "b 1\n");
    ASSERT_CODE(alice->checkout({W("a.txt"), W("b.txt")}), SCC_OK);
    writeFile(W("a.txt"), "a edited\n");
    writeFile(W("b.txt"), "b edited\n");
    removeTree(join(store, "versions/2.1"));
    EXPECT_EQ(codeText(alice->uncheckout({W("a.txt"), W("b.txt")})), codeText(SCC_E_FILENOTEXIST));
    const std::vector<Message> messages = takeMessages();
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_ERROR, W("b.txt"))) << describe(messages);
    EXPECT_TRUE(anyMessageContains(messages, SCC_MSG_WARNING, W("a.txt") + ": holds version 1 now"))
        << describe(messages);
    EXPECT_FALSE(anyMessageContains(messages, SCC_MSG_WARNING, W("b.txt"))) << describe(messages);
    EXPECT_EQ(readFile(W("a.txt")), "a 1\n");
    EXPECT_EQ(readFile(W("b.txt")), "b edited\n");
    EXPECT_TRUE(alice->status(W("a.txt")) & SCC_STATUS_CHECKEDOUT);
}

} // namespace
} // namespace lstest
