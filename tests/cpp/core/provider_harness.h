// Test harness for the core tests: the scriptable test provider registered in
// the registry (a .reg file on POSIX, the real registry under Windows), its
// script and its call log, and temporary files.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

#include "support/registry_fixture.h"

namespace oskel::coretest {

inline std::string envOr(const char *name, const std::string &fallback) {
    const char *value = std::getenv(name);
    return value && *value ? value : fallback;
}

#if defined(_WIN32)
constexpr char kSep = '\\';
inline std::string libraryFile(const std::string &name) { return name + ".dll"; }
#else
constexpr char kSep = '/';
inline std::string libraryFile(const std::string &name) { return "lib" + name + ".so"; }
#endif

inline std::string providerPath(const std::string &name) {
    return envOr("OSKEL_PROVIDER_DIR", OSKEL_DEFAULT_PROVIDER_DIR) + kSep + libraryFile(name);
}

inline std::string tempDir() {
#if defined(_WIN32)
    return envOr("OSKEL_TEST_TMP", envOr("TEMP", "."));
#else
    return envOr("OSKEL_TEST_TMP", envOr("TMPDIR", "/tmp"));
#endif
}

inline void setEnv(const char *name, const std::string &value) {
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

inline std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

// Escapes a text for a quoted .reg value.
inline std::string regQuote(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

constexpr const char *kTestKey = "Software\\OskelTest\\Provider";

// A fresh registry, script and call log for each test.
class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Test processes run side by side (ctest -j): the process id keeps
        // their files apart.
        std::string stem = tempDir() + kSep + "oskelcore-" + std::to_string(processId()) + "-" +
                           std::to_string(counter()++);
        scriptPath = stem + ".script";
        logPath = stem + ".log";
        tracePath = stem + ".trace";
        std::remove(scriptPath.c_str());
        std::remove(logPath.c_str());
        std::remove(tracePath.c_str());
        setEnv("OSKEL_TESTPROVIDER_SCRIPT", scriptPath);
        setEnv("OSKEL_TESTPROVIDER_LOG", logPath);
        (void)info;
        registerProvider("testprovider");
    }
    void TearDown() override {
        std::remove(scriptPath.c_str());
        std::remove(logPath.c_str());
        std::remove(tracePath.c_str());
    }

    // Registers `library` (a provider built beside the tests) under kTestKey,
    // and as the default provider.
    void registerProvider(const std::string &library, const std::string &extra = "") {
        std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\Software\\SourceCodeControlProvider]\r\n"
                          "\"ProviderRegKey\"=\"" + regQuote(kTestKey) + "\"\r\n\r\n"
                          "[HKEY_LOCAL_MACHINE\\" + std::string(kTestKey) + "]\r\n"
                          "\"SCCServerPath\"=\"" + regQuote(providerPath(library)) + "\"\r\n" +
                          extra;
        ASSERT_TRUE(registry.install(reg)) << registry.error();
    }

    void script(const std::string &text) { writeFile(scriptPath, text); }
    std::vector<std::string> calls() {
        auto out = lines(readFile(logPath));
        std::remove(logPath.c_str());
        return out;
    }
    std::vector<std::string> traceTexts() {
        // Trace lines lose their "MM/DD/YY HH:MM:SS SCCIH> " prefix; raw
        // lines stay as they are.
        std::vector<std::string> out;
        for (const auto &line : lines(readFile(tracePath))) {
            bool stamped = line.size() > 26 && line[2] == '/' && line[5] == '/' &&
                           line[8] == ' ' && line[11] == ':' && line[14] == ':' &&
                           line.compare(17, 8, " SCCIH> ") == 0;
            out.push_back(stamped ? line.substr(25) : line);
        }
        return out;
    }

    static long processId() {
#if defined(_WIN32)
        return static_cast<long>(_getpid());
#else
        return static_cast<long>(getpid());
#endif
    }
    static int &counter() {
        static int n = 0;
        return n;
    }

    testsupport::RegistryFixture registry;
    std::string scriptPath, logPath, tracePath;
};

} // namespace oskel::coretest
