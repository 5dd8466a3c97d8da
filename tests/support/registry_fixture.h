// Test support: installs registry content for the code under test to read.
//
// The content is the text of a registry export file (.reg), bytes exactly as
// they would be on disk (any header, encoding, byte-order mark or line ends).
//   POSIX:   written to a temporary file that OSKELSCCIH_REGISTRY names for the
//            lifetime of the fixture (the earlier value is restored after).
//   Windows: the trees below are deleted from HKEY_LOCAL_MACHINE, then the
//            file is imported into the real registry with "regedit /S"; the
//            trees are deleted again when the fixture ends. Keys a test needs
//            besides the provider registry belong under kTestRoot, so that
//            every test starts from a clean registry.
// The same test then runs unchanged on both.
//
// Tests that use the fixture share the registry on Windows: they must not
// run in parallel there (ctest: RESOURCE_LOCK oskel_registry).
#pragma once

#include <string>

namespace oskel::testsupport {

class RegistryFixture {
public:
    // Trees the fixture owns and clears on Windows.
    static constexpr const char *kProviderRoot = "Software\\SourceCodeControlProvider";
    static constexpr const char *kTestRoot = "Software\\OskelTest";

    // An empty registry (no content installed).
    RegistryFixture();
    // Installs `regFile`; see ok().
    explicit RegistryFixture(const std::string &regFile);
    ~RegistryFixture();
    RegistryFixture(const RegistryFixture &) = delete;
    RegistryFixture &operator=(const RegistryFixture &) = delete;

    // Replaces the installed content; the next registry open sees it.
    bool install(const std::string &regFile);

    // False when the last install failed; error() says why.
    bool ok() const { return error_.empty(); }
    const std::string &error() const { return error_; }

private:
    void clear();
    std::string error_;
    std::string path_;          // the temporary .reg file
    std::string savedVariable_; // POSIX: OSKELSCCIH_REGISTRY before the fixture
    bool hadVariable_ = false;
};

// The UTF-16LE form (with byte-order mark) of UTF-8 text, for tests of
// Unicode registry files.
std::string toUtf16leFile(const std::string &utf8);

} // namespace oskel::testsupport
