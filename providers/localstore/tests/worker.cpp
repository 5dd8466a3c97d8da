// localstore_worker: a second process on a store, for the crash and
// contention tests. It loads the provider library itself and works on the
// store until it is killed or its work is done.
//
//   localstore_worker writer <provider> <store> <work folder> <user> <ready file>
//       Checks data.txt out and in forever, each version the next sequence
//       content; adds a small file every few rounds. Writes the ready file
//       once the project is open. Exit codes other than 0 name what went wrong.
//
//   localstore_worker contender <provider> <store> <work folder> <user> <tag> <rounds> <start file> <result file>
//       Waits for the start file, races to add race.txt, then appends
//       "<tag> <i>" to counter.txt in <rounds> check-out/check-in rounds,
//       retrying while the other user has it out. Writes "race <code>" and
//       "retries <n>" to the result file.
//
//   localstore_worker once <provider> <store> <work folder> <user> checkout|status <file> <started file> <result file>
//       Opens the project, writes the started file, runs the one command on
//       the file and writes "<code> <status word>" to the result file.
#include "content.h"
#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using namespace lstest;

namespace {

int fail(int code, const std::string &what) {
    std::fprintf(stderr, "localstore_worker: %s\n%s", what.c_str(), describe(takeMessages()).c_str());
    return code;
}

int writer(char **argv) {
    const std::string store = argv[3], work = argv[4], user = argv[5], ready = argv[6];
    Client client;
    if (client.open(user, work, store) != SCC_OK) {
        return fail(2, "cannot open the project");
    }
    const std::string file = join(work, "data.txt");
    if (client.status(file) == SCC_STATUS_NOTCONTROLLED) {
        writeFile(file, sequenceContent(1));
        SCCRTN code = client.add({file}, "sequence 1");
        if (code != SCC_OK) {
            return fail(3, "add: " + codeText(code));
        }
    }
    writeFile(ready, "ready\n");
    for (uint64_t round = 0;; ++round) {
        SCCRTN code = client.checkout({file});
        if (code == SCC_E_ALREADYCHECKEDOUT) {
            // A writer killed after its check-out: start again from the latest version.
            code = client.uncheckout({file});
            if (code != SCC_OK) {
                return fail(4, "uncheckout: " + codeText(code));
            }
            code = client.checkout({file});
        }
        if (code != SCC_OK) {
            return fail(5, "checkout: " + codeText(code));
        }
        uint64_t sequence = 0;
        if (!parseSequenceContent(readFile(file), sequence)) {
            return fail(6, "the checked-out file is not a whole version");
        }
        writeFile(file, sequenceContent(sequence + 1));
        code = client.checkin({file}, ("sequence " + std::to_string(sequence + 1)).c_str());
        if (code != SCC_OK) {
            return fail(7, "checkin: " + codeText(code));
        }
        if (round % 4 == 3) {
            const std::string extra = join(work, "extra/" + std::to_string(sequence + 1) + ".txt");
            writeFile(extra, "extra " + std::to_string(sequence + 1) + "\n");
            code = client.add({extra});
            if (code != SCC_OK) {
                return fail(8, "add of an extra file: " + codeText(code));
            }
        }
        takeMessages();
    }
}

int contender(char **argv) {
    const std::string store = argv[3], work = argv[4], user = argv[5], tag = argv[6];
    const int rounds = std::atoi(argv[7]);
    const std::string start = argv[8], result = argv[9];
    Client client;
    if (client.open(user, work, store) != SCC_OK) {
        return fail(2, "cannot open the project");
    }
    for (int waited = 0; !exists(start); ++waited) {
        if (waited > 60000) {
            return fail(3, "no start signal");
        }
        sleepMs(1);
    }
    const std::string race = join(work, "race.txt");
    writeFile(race, tag + "\n");
    SCCRTN raced = client.add({race});
    const std::string counter = join(work, "counter.txt");
    SCCRTN code = client.get({counter});
    if (code != SCC_OK) {
        return fail(4, "get: " + codeText(code));
    }
    long retries = 0;
    const int64_t deadline = nowMs() + 300000;
    for (int i = 0; i < rounds;) {
        code = client.checkout({counter});
        if (code == SCC_E_FILEOUTEXCLUSIVE) {
            ++retries;
            if (nowMs() > deadline) {
                return fail(5, "never got the check-out");
            }
            takeMessages();
            sleepMs(1);
            continue;
        }
        if (code != SCC_OK) {
            return fail(6, "checkout: " + codeText(code));
        }
        std::string data = readFile(counter);
        data += tag + " " + std::to_string(i) + "\n";
        writeFile(counter, data);
        code = client.checkin({counter}, (tag + " " + std::to_string(i)).c_str());
        if (code != SCC_OK) {
            return fail(7, "checkin: " + codeText(code));
        }
        ++i;
        takeMessages();
    }
    std::ofstream out(P(result), std::ios::binary);
    out << "race " << raced << "\nretries " << retries << "\n";
    return out ? 0 : fail(8, "cannot write the result");
}

int once(char **argv) {
    const std::string store = argv[3], work = argv[4], user = argv[5], command = argv[6];
    const std::string file = join(work, argv[7]), started = argv[8], result = argv[9];
    writeFile(started, "started\n");
    Client client;
    if (client.open(user, work, store) != SCC_OK) {
        return fail(2, "cannot open the project");
    }
    SCCRTN code = command == "checkout" ? client.checkout({file}) : SCC_OK;
    const SCCLONG status = client.status(file);
    std::ofstream out(P(result), std::ios::binary);
    out << code << " " << status << "\n";
    return out ? 0 : fail(8, "cannot write the result");
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: localstore_worker writer|contender ...\n");
        return 64;
    }
    const std::string mode = argv[1];
    if ((mode == "writer" && argc != 7) || (mode == "contender" && argc != 10) || (mode == "once" && argc != 10) ||
        (mode != "writer" && mode != "contender" && mode != "once")) {
        std::fprintf(stderr, "localstore_worker: wrong arguments for %s\n", mode.c_str());
        return 64;
    }
    std::string problem;
    loadProvider(argv[2], &problem);
    if (!problem.empty()) {
        std::fprintf(stderr, "localstore_worker: %s\n", problem.c_str());
        return 65;
    }
    try {
        return mode == "writer" ? writer(argv) : mode == "once" ? once(argv) : contender(argv);
    } catch (const std::exception &error) {
        return fail(66, error.what());
    }
}
