// Other processes on one store: writers killed at random moments, and two
// users fighting over one file.
#include "content.h"
#include "fixture.h"

#include <iostream>
#include <map>
#include <random>
#include <sstream>

namespace lstest {
namespace {

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> splitTabs(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

// The 64-bit FNV-1a hash that the index records for each version.
std::string fnv1a(const std::string &data) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : data) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

int envNumber(const char *name, int fallback) {
    const char *value = std::getenv(name);
    return value && *value ? std::atoi(value) : fallback;
}

// Checks a store as its README describes it: a complete index, and for every
// version it names a file of the recorded size and hash; with `sequenced`,
// version n of file 1 must be the whole sequence content n. Returns the number
// of versions of each file id; problems go to `problems`.
std::map<std::string, int> checkStore(const std::string &store, bool sequenced, std::vector<std::string> &problems) {
    std::map<std::string, int> versions;
    std::string index = readFile(join(store, "index.txt"));
    if (index.size() < 4 || index.substr(index.size() - 4) != "end\n") {
        problems.push_back("the index does not end with its end line");
    }
    for (const std::string &line : splitLines(index)) {
        std::vector<std::string> f = splitTabs(line);
        if (f[0] != "version") {
            continue;
        }
        if (f.size() != 8) {
            problems.push_back("version line with " + std::to_string(f.size()) + " fields");
            continue;
        }
        const std::string path = join(store, "versions/" + f[1] + "." + f[2]);
        if (!exists(path)) {
            problems.push_back("version file " + f[1] + "." + f[2] + " is missing");
            continue;
        }
        std::string data = readFile(path);
        if (std::to_string(data.size()) != f[5] || fnv1a(data) != f[6]) {
            problems.push_back("version file " + f[1] + "." + f[2] + " does not match its size and hash");
        }
        if (sequenced && f[1] == "1") {
            uint64_t sequence = 0;
            if (!parseSequenceContent(data, sequence)) {
                problems.push_back("version " + f[2] + " of data.txt is not a whole sequence content (" +
                                   std::to_string(data.size()) + " bytes, begins \"" + data.substr(0, 12) + "\")");
            } else if (std::to_string(sequence) != f[2]) {
                problems.push_back("version " + f[2] + " of data.txt is sequence " + std::to_string(sequence));
            }
        }
        if (std::to_string(++versions[f[1]]) != f[2]) {
            problems.push_back("versions of file " + f[1] + " are not numbered 1, 2, 3...");
        }
    }
    return versions;
}

// Writers are killed (kill -9, TerminateProcess) at random moments while they
// check versions in; after every kill the store must read whole, with each
// version either absent or complete, and the next writer must carry on.
TEST(Crash, KilledWritersLeaveAWholeStore) {
    ScratchDir dir;
    const std::string store = dir / "store";
    const std::string work = dir / "writer";
    makeDirs(work);
    const int rounds = envNumber("LOCALSTORE_CRASH_ROUNDS", 25);
    std::mt19937 random(static_cast<unsigned>(envNumber("LOCALSTORE_CRASH_SEED", 20240501)));
    std::uniform_int_distribution<int> delay(0, 250);

    int lastVersions = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string ready = dir / "ready";
        removeTree(ready);
        ChildProcess writer;
        ASSERT_TRUE(writer.start({workerPath(), "writer", providerPath(), store, work, "crash", ready}))
            << "cannot start " << workerPath();
        int exitCode = 0;
        const int64_t deadline = nowMs() + 60000;
        while (!exists(ready) && nowMs() < deadline) {
            ASSERT_FALSE(writer.finished(&exitCode)) << "the writer ended with " << exitCode << " before it was ready";
            sleepMs(2);
        }
        ASSERT_TRUE(exists(ready)) << "the writer did not get ready";
        sleepMs(delay(random));
        ASSERT_FALSE(writer.finished(&exitCode)) << "round " << round << ": the writer ended by itself with "
                                                 << exitCode;
        writer.kill();
        writer.wait();

        std::vector<std::string> problems;
        std::map<std::string, int> versions = checkStore(store, true, problems);
        ASSERT_TRUE(problems.empty()) << "round " << round << ":\n" << ::testing::PrintToString(problems);
        ASSERT_GE(versions["1"], lastVersions) << "round " << round << ": versions were lost";
        lastVersions = versions["1"];
    }

    // Another user gets the latest version whole and can change it.
    ScratchDir checkDir;
    Client checker;
    ASSERT_CODE(checker.open("checker", checkDir.path(), store), SCC_OK);
    const std::string copy = join(checkDir.path(), "data.txt");
    ASSERT_CODE(checker.get({copy}), SCC_OK);
    uint64_t sequence = 0;
    ASSERT_TRUE(parseSequenceContent(readFile(copy), sequence)) << "the latest version is not whole";
    EXPECT_EQ(static_cast<int>(sequence), lastVersions);
    std::cout << "[ measured ] " << rounds << " writers killed; data.txt reached version " << lastVersions << "\n";
    RecordProperty("versions", lastVersions);
    EXPECT_GT(lastVersions, rounds / 2) << "the writers hardly got anything done";
}

// Two users in two processes append to one file through check-out and
// check-in as fast as they can: no line may be lost, and the one check-out
// never goes to both.
TEST(Contention, TwoProcessesNeverShareACheckoutOrLoseAVersion) {
    ScratchDir dir;
    const std::string store = dir / "store";
    const std::string work = dir / "setup";
    makeDirs(work);
    const int rounds = envNumber("LOCALSTORE_CONTENTION_ROUNDS", 40);
    {
        Client setup;
        ASSERT_CODE(setup.open("setup", work, store), SCC_OK);
        writeFile(join(work, "counter.txt"), "start\n");
        ASSERT_CODE(setup.add({join(work, "counter.txt")}), SCC_OK);
    }
    const std::string start = dir / "start";
    ChildProcess ann, ben;
    for (auto *child : {&ann, &ben}) {
        const std::string user = child == &ann ? "ann" : "ben";
        makeDirs(dir / user);
        ASSERT_TRUE(child->start({workerPath(), "contender", providerPath(), store, dir / user, user, user,
                                  std::to_string(rounds), start, dir / (user + ".result")}))
            << "cannot start " << workerPath();
    }
    writeFile(start, "go\n");
    EXPECT_EQ(ann.wait(), 0) << "ann's worker failed";
    EXPECT_EQ(ben.wait(), 0) << "ben's worker failed";

    std::map<std::string, std::string> results;
    for (const char *user : {"ann", "ben"}) {
        results[user] = readFile(dir / (std::string(user) + ".result"));
    }
    const int raceWins = (results["ann"].rfind("race 0\n", 0) == 0) + (results["ben"].rfind("race 0\n", 0) == 0);
    const int raceLosses = (results["ann"].rfind("race -10\n", 0) == 0) + (results["ben"].rfind("race -10\n", 0) == 0);
    EXPECT_EQ(raceWins, 1) << "both or neither added race.txt:\n" << results["ann"] << results["ben"];
    EXPECT_EQ(raceLosses, 1) << results["ann"] << results["ben"];

    Client checker;
    ScratchDir checkDir;
    ASSERT_CODE(checker.open("checker", checkDir.path(), store), SCC_OK);
    const std::string copy = join(checkDir.path(), "counter.txt");
    ASSERT_CODE(checker.get({copy}), SCC_OK);
    std::vector<std::string> lines = splitLines(readFile(copy));
    std::map<std::string, int> next;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::istringstream in(lines[i]);
        std::string tag;
        int number = -1;
        in >> tag >> number;
        EXPECT_EQ(number, next[tag]) << "line " << i << " \"" << lines[i] << "\" is out of order: a version was lost";
        next[tag] = number + 1;
    }
    EXPECT_EQ(lines.size(), static_cast<size_t>(1 + 2 * rounds)) << "lines were lost";
    takeMessages();
    ASSERT_CODE(checker.history({copy}), SCC_OK);
    std::vector<Message> history = takeMessages();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history.front().text, "History of counter.txt (" + std::to_string(1 + 2 * rounds) + " versions)");
    std::vector<std::string> problems;
    checkStore(store, false, problems);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    std::cout << "[ measured ] " << 2 * rounds << " contended check-ins; " << results["ann"] << results["ben"];
}

} // namespace
} // namespace lstest
