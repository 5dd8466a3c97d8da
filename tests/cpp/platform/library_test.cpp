// Dynamic loading through the platform layer, against a library built for it.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>

namespace oskel::platform {
namespace {

using IntFunction = int (*)();

// The test library's path as the build wrote it. Under wine a build
// machine path "/..." lies on drive Z:.
std::string testLibrary()
{
    std::string path = OSKEL_PLATFORM_TESTLIB;
#ifdef _WIN32
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
#endif
    return path;
}

IntFunction function(LibraryHandle library, const char *name)
{
    return reinterpret_cast<IntFunction>(findSymbol(library, name));
}

struct LoadCase {
    const char *name;
    std::optional<std::string> path; // nothing: a null path
    bool loads;
};

void PrintTo(const LoadCase &c, std::ostream *os) { *os << c.name; }

class LibraryLoad : public testing::TestWithParam<LoadCase> {};

TEST_P(LibraryLoad, LoadsOnlyLibraries)
{
    const LoadCase &c = GetParam();
    LibraryHandle library = loadLibrary(c.path ? c.path->c_str() : nullptr);
    EXPECT_EQ(c.loads, library != nullptr) << "loading " << (c.path ? "\"" + *c.path + "\"" : "a null path");
    freeLibrary(library);
}

std::string textFile()
{
    static const std::string path = [] {
        std::string name = testing::TempDir() + "oskel-not-a-library.dll";
        if (std::FILE *file = std::fopen(name.c_str(), "wb")) {
            std::fputs("not a library\n", file);
            std::fclose(file);
        }
        return name;
    }();
    return path;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LibraryLoad,
    testing::Values(LoadCase{"TestLibrary", testLibrary(), true}, LoadCase{"NullPath", std::nullopt, false},
                    // dlopen would hand out the main program for "".
                    LoadCase{"EmptyPath", "", false},
                    LoadCase{"MissingFile", testLibrary() + ".missing", false},
                    LoadCase{"NotALibrary", textFile(), false}),
    [](const testing::TestParamInfo<LoadCase> &info) { return std::string(info.param.name); });

struct SymbolCase {
    const char *name;
    bool useLibrary; // false: look up in the null handle
    const char *symbol;
    int result; // what the function returns; 0: must not be found
};

void PrintTo(const SymbolCase &c, std::ostream *os) { *os << c.name; }

class LibrarySymbol : public testing::TestWithParam<SymbolCase> {};

TEST_P(LibrarySymbol, FindsExportedFunctionsOnly)
{
    const SymbolCase &c = GetParam();
    LibraryHandle library = loadLibrary(testLibrary().c_str());
    ASSERT_NE(nullptr, library) << testLibrary();
    IntFunction found = function(c.useLibrary ? library : nullptr, c.symbol);
    int result = found ? found() : 0;
    EXPECT_EQ(c.result, result) << "symbol " << (c.symbol ? c.symbol : "(null)")
                                << (c.useLibrary ? " in the test library" : " in no library");
    freeLibrary(library);
}

INSTANTIATE_TEST_SUITE_P(
    Symbols, LibrarySymbol,
    testing::Values(SymbolCase{"Exported", true, "oskelPlatformTestAnswer", 42},
                    SymbolCase{"Missing", true, "SccInitialize", 0},
                    SymbolCase{"CaseMatters", true, "OSKELPLATFORMTESTANSWER", 0},
                    SymbolCase{"NullName", true, nullptr, 0},
                    // dlsym would search every loaded object for a null handle.
                    SymbolCase{"NullLibrary", false, "oskelPlatformTestAnswer", 0}),
    [](const testing::TestParamInfo<SymbolCase> &info) { return std::string(info.param.name); });

TEST(LibraryLifetime, LoadsAreCounted)
{
    LibraryHandle first = loadLibrary(testLibrary().c_str());
    LibraryHandle second = loadLibrary(testLibrary().c_str());
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    IntFunction counter = function(second, "oskelPlatformTestCounter");
    ASSERT_NE(nullptr, counter);
    int before = counter();
    freeLibrary(first);
    // Still loaded through the second load: same code, same state.
    counter = function(second, "oskelPlatformTestCounter");
    ASSERT_NE(nullptr, counter) << "the library went away after one of two loads was freed";
    EXPECT_EQ(before + 1, counter()) << "the library was reloaded: its state was lost";
    freeLibrary(second);
}

TEST(LibraryLifetime, FreeingNothingIsHarmless) { freeLibrary(nullptr); }

} // namespace
} // namespace oskel::platform
