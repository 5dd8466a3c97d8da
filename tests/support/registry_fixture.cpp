#include "support/registry_fixture.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#if !defined(_WIN32_WINNT) || _WIN32_WINNT < 0x0600
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600 // RegDeleteTreeA
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace oskel::testsupport {

namespace {

bool writeFile(const std::string &path, const std::string &bytes, std::string &error)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write " + path;
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written) error = "cannot write " + path;
    return written;
}

#ifdef _WIN32

std::string regeditPath()
{
    // regedit writes the registry view of its own bitness: a 32-bit test
    // on 64-bit Windows needs the 32-bit regedit.
    char directory[MAX_PATH] = {};
    BOOL wow64 = FALSE;
    UINT length = 0;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        length = GetSystemWow64DirectoryA(directory, MAX_PATH);
    else
        length = GetWindowsDirectoryA(directory, MAX_PATH);
    return std::string(directory, length) + "\\regedit.exe";
}

bool runRegedit(const std::string &file, std::string &error)
{
    std::string program = regeditPath();
    std::string commandLine = "\"" + program + "\" /S \"" + file + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        error = "cannot start " + program + " (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    DWORD waited = WaitForSingleObject(process.hProcess, 120000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (waited != WAIT_OBJECT_0 || exitCode != 0) {
        error = "regedit /S " + file + " failed (exit code " + std::to_string(exitCode) + ")";
        return false;
    }
    return true;
}

#endif

} // namespace

RegistryFixture::RegistryFixture()
{
#ifdef _WIN32
    clear();
#else
    const char *saved = std::getenv("OSKELSCCIH_REGISTRY");
    hadVariable_ = saved != nullptr;
    if (hadVariable_) savedVariable_ = saved;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/oskel-registry-XXXXXX.reg";
    int fd = ::mkstemps(&pattern[0], 4);
    if (fd < 0) {
        error_ = "cannot create a temporary file like " + pattern;
        return;
    }
    ::close(fd);
    path_ = pattern;
    ::setenv("OSKELSCCIH_REGISTRY", path_.c_str(), 1);
#endif
}

RegistryFixture::RegistryFixture(const std::string &regFile) : RegistryFixture()
{
    if (ok()) install(regFile);
}

RegistryFixture::~RegistryFixture()
{
#ifdef _WIN32
    clear();
#else
    if (hadVariable_)
        ::setenv("OSKELSCCIH_REGISTRY", savedVariable_.c_str(), 1);
    else
        ::unsetenv("OSKELSCCIH_REGISTRY");
    if (!path_.empty()) ::unlink(path_.c_str());
#endif
}

void RegistryFixture::clear()
{
#ifdef _WIN32
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kProviderRoot);
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestRoot);
#endif
}

bool RegistryFixture::install(const std::string &regFile)
{
#ifdef _WIN32
    error_.clear();
    clear();
    char directory[MAX_PATH + 1] = {};
    char file[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > MAX_PATH || GetTempFileNameA(directory, "okr", 0, file) == 0) {
        error_ = "cannot create a temporary file";
        return false;
    }
    bool imported = writeFile(file, regFile, error_) && runRegedit(file, error_);
    DeleteFileA(file);
    return imported;
#else
    if (path_.empty()) return false; // the constructor failed; error_ says why
    error_.clear();
    return writeFile(path_, regFile, error_);
#endif
}

std::string toUtf16leFile(const std::string &utf8)
{
    std::string out = "\xFF\xFE";
    auto unit = [&out](uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

} // namespace oskel::testsupport
