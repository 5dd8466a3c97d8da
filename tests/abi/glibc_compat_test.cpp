// Exercises, on the build machine, every replacement the shipped binaries are linked with for
// glibc 2.28 (src/platform/glibc_compat.c): this program is linked the same way. Prints one line
// per failed check; exit status 1 when any failed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>

namespace {

int failures = 0;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        std::printf("FAIL: %s\n", what.c_str());
        ++failures;
    }
}

// Counted by the constructor of a global: the program's start ran the init array, once.
int constructorRuns = 0;
struct Constructed {
    Constructed() { ++constructorRuns; }
};
Constructed constructed;

[[gnu::noinline]] void throwFromDeep(int depth)
{
    if (depth == 0) {
        throw std::runtime_error("deep");
    }
    throwFromDeep(depth - 1);
}

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

}  // namespace

int main()
{
    check(constructorRuns == 1, "constructors of globals ran once before main (ran " +
                                    std::to_string(constructorRuns) + " times)");

    std::random_device device("default");
    std::set<unsigned> values;
    for (int i = 0; i < 8; ++i) {
        values.insert(device());
    }
    check(values.size() > 1, "std::random_device(\"default\") gives varying numbers");

    bool caught = false;
    try {
        throwFromDeep(20);
    } catch (const std::runtime_error& e) {
        caught = std::string(e.what()) == "deep";
    }
    check(caught, "an exception unwinds 20 frames to its handler");

    std::atomic<int> threadCaught{0};
    std::vector<std::thread> threads;
    auto shared = std::make_shared<int>(7);
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&threadCaught, shared] {
            thread_local std::string local = "per thread";
            try {
                throwFromDeep(5);
            } catch (const std::exception&) {
                if (local == "per thread" && *shared == 7) {
                    ++threadCaught;
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    check(threadCaught == 4 && shared.use_count() == 1,
          "threads start, unwind, keep thread_local and shared_ptr counts right");

    std::mutex mutex;
    std::condition_variable condition;
    {
        std::unique_lock<std::mutex> lock(mutex);
        auto start = Clock::now();
        bool timedOut = condition.wait_until(lock, start + milliseconds(60)) == std::cv_status::timeout;
        check(timedOut && Clock::now() - start >= milliseconds(60),
              "a steady-clock wait with no notify times out, not before its deadline");
    }
    {
        bool ready = false;
        std::thread notifier([&] {
            std::this_thread::sleep_for(milliseconds(20));
            std::lock_guard<std::mutex> guard(mutex);
            ready = true;
            condition.notify_one();
        });
        std::unique_lock<std::mutex> lock(mutex);
        auto start = Clock::now();
        bool woke = condition.wait_until(lock, start + std::chrono::seconds(20), [&] { return ready; });
        lock.unlock();
        notifier.join();
        check(woke && Clock::now() - start < std::chrono::seconds(10),
              "a steady-clock wait wakes on notify");
    }
    {
        std::timed_mutex timed;
        std::atomic<bool> held{false}, release{false};
        std::thread holder([&] {
            std::lock_guard<std::timed_mutex> guard(timed);
            held = true;
            while (!release) {
                std::this_thread::sleep_for(milliseconds(1));
            }
        });
        while (!held) {
            std::this_thread::sleep_for(milliseconds(1));
        }
        auto start = Clock::now();
        bool got = timed.try_lock_until(start + milliseconds(40));
        check(!got && Clock::now() - start >= milliseconds(40),
              "a steady-clock lock of a held mutex times out at its deadline");
        release = true;
        holder.join();
        check(timed.try_lock_until(Clock::now() + milliseconds(40)), "a free timed mutex locks");
        timed.unlock();
    }

    std::error_code error;
    auto status = std::filesystem::status("/proc/self/exe", error);
    auto link = std::filesystem::symlink_status("/proc/self/exe", error);
    check(std::filesystem::is_regular_file(status) && std::filesystem::is_symlink(link),
          "stat and lstat tell the program from the link to it");
    check(!std::filesystem::exists("/no/such/file/here", error) && !error,
          "stat of a missing file says missing");

    void* libc = dlopen("libc.so.6", RTLD_NOW);
    void* getpidSymbol = libc ? dlsym(libc, "getpid") : nullptr;
    Dl_info info{};
    check(getpidSymbol && dladdr(getpidSymbol, &info) != 0 && info.dli_fname,
          "dlopen, dlsym and dladdr find getpid in the C library");
    check(dlopen("/no/such/library.so", RTLD_NOW) == nullptr && dlerror() != nullptr,
          "dlopen of a missing library fails with a dlerror text");
    check(libc && dlclose(libc) == 0, "dlclose");

    std::printf("%s: %d failed\n", failures ? "FAIL" : "ok", failures);
    return failures ? 1 : 0;
}
