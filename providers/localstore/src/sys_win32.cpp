// The operating-system layer on Windows. File calls use the ANSI ("A") forms,
// so that the 8-bit names the caller passes reach the file system exactly as
// the caller's other Windows calls would pass them.
#include "sys.h"

#include <windows.h>

#include <algorithm>

namespace localstore::sys {

namespace {

std::string lastErrorText(DWORD code) {
    char *buffer = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer) {
        text.assign(buffer, length);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                                 text.back() == '.')) {
            text.pop_back();
        }
    }
    if (buffer) {
        LocalFree(buffer);
    }
    if (text.empty()) {
        text = "system error " + std::to_string(code);
    }
    return text;
}

Error systemError(DWORD code, const std::string &what, const std::string &path) {
    Error error;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        error.kind = ErrorKind::NotFound;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        error.kind = ErrorKind::AccessDenied;
        break;
    default:
        error.kind = ErrorKind::Other;
        break;
    }
    error.text = what + " " + path + ": " + lastErrorText(code);
    return error;
}

// A file handle closed on every path.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() {
        if (valid()) {
            CloseHandle(handle_);
        }
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    bool close() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != 0;
    }
    void reset(HANDLE handle) {
        close();
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

std::wstring toWide(const std::string &text) {
    if (text.empty()) {
        return std::wstring();
    }
    int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
    return wide;
}

std::string fromWide(const std::wstring &wide) {
    if (wide.empty()) {
        return std::string();
    }
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     nullptr, nullptr);
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length, nullptr,
                        nullptr);
    return text;
}

// Another program (a virus scanner, an indexer) may hold a file open for a
// moment; such failures are retried briefly.
bool transient(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

} // namespace

char separator() {
    return '\\';
}

std::filesystem::path toPath(const std::string &text) {
    return std::filesystem::path(toWide(text));
}

std::string fromPath(const std::filesystem::path &path) {
    return fromWide(path.wstring());
}

std::string pathKey(const std::string &relative) {
    std::wstring wide = toWide(relative);
    if (!wide.empty()) {
        CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    }
    return fromWide(wide);
}

bool isLink(const std::string &path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool realPath(const std::string &path, std::string &out) {
    // The final path of the deepest part that exists, as the system resolves
    // it on opening, then the parts that do not exist yet.
    std::filesystem::path existing = toPath(path);
    std::vector<std::filesystem::path> missing;
    while (GetFileAttributesW(existing.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (!existing.has_relative_path()) {
            return false;
        }
        missing.push_back(existing.filename());
        existing = existing.parent_path();
    }
    HANDLE handle = CreateFileW(existing.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::wstring resolved(32768, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, &resolved[0], static_cast<DWORD>(resolved.size()), 0);
    CloseHandle(handle);
    if (length == 0 || length >= resolved.size()) {
        return false;
    }
    resolved.resize(length);
    if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        resolved = L"\\\\" + resolved.substr(8);
    } else if (resolved.compare(0, 4, L"\\\\?\\") == 0) {
        resolved = resolved.substr(4);
    }
    std::filesystem::path real(resolved);
    for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
        real /= *part;
    }
    out = fromPath(real.lexically_normal().make_preferred());
    while (out.size() > 3 && out.back() == '\\') {
        out.pop_back();
    }
    return !out.empty();
}

bool statFile(const std::string &path, FileInfo &info, Error &error) {
    info = FileInfo();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_INVALID_NAME) {
            return true;
        }
        error = systemError(code, "cannot examine", path);
        return false;
    }
    info.exists = true;
    info.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.isRegular = !info.isDirectory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    info.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    info.mtime = static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                      data.ftLastWriteTime.dwLowDateTime);
    info.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

bool readFile(const std::string &path, std::string &data, Error &error) {
    data.clear();
    // FILE_SHARE_DELETE: a reader never stops a writer from renaming a new
    // version over the file.
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        error = systemError(GetLastError(), "cannot read", path);
        return false;
    }
    LARGE_INTEGER size;
    if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
        data.reserve(static_cast<size_t>(size.QuadPart));
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            error = systemError(GetLastError(), "cannot read", path);
            return false;
        }
        if (got == 0) {
            return true;
        }
        data.append(buffer, got);
    }
}

bool readStoreFile(const std::string &path, uint64_t offset, uint64_t limit, std::string &data, Error &error) {
    data.clear();
    auto open = [&](DWORD flags) {
        return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    };
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link (or junction) itself, which
    // is then refused below, instead of the file it leads to.
    Handle file(open(FILE_FLAG_OPEN_REPARSE_POINT));
    if (!file.valid()) {
        error = systemError(GetLastError(), "cannot read", path);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(file.get()) == FILE_TYPE_DISK && GetFileInformationByHandle(file.get(), &info) &&
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        FILE_ATTRIBUTE_TAG_INFO tag;
        if (!GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
            IsReparseTagNameSurrogate(tag.ReparseTag)) {
            error = notRegularFile(path, "a link or junction");
            return false;
        }
        // Another kind of reparse point (a deduplicated or cloud file) holds
        // the file's own content: read it as the system presents it.
        file.reset(open(0));
        if (!file.valid()) {
            error = systemError(GetLastError(), "cannot read", path);
            return false;
        }
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        error = notRegularFile(path, "a device or pipe");
        return false;
    }
    if (!GetFileInformationByHandle(file.get(), &info)) {
        error = systemError(GetLastError(), "cannot read", path);
        return false;
    }
    if (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
        error = notRegularFile(path, "a folder or device");
        return false;
    }
    const uint64_t size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > limit) {
        error = fileTooLarge(path, limit);
        return false;
    }
    if (size <= offset) {
        return true;
    }
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file.get(), position, nullptr, FILE_BEGIN)) {
        error = systemError(GetLastError(), "cannot read", path);
        return false;
    }
    data.reserve(static_cast<size_t>(size - offset));
    // The file may grow while it is read: no more than the limit is taken.
    const uint64_t most = limit - offset;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            error = systemError(GetLastError(), "cannot read", path);
            data.clear();
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (got > most - data.size()) {
            error = fileTooLarge(path, limit);
            data.clear();
            return false;
        }
        data.append(buffer, got);
    }
}

bool replaceFile(const std::string &tempPath, const std::string &path, const std::string &data,
                 bool flush, Error &error) {
    {
        Handle file(CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            error = systemError(GetLastError(), "cannot write", tempPath);
            return false;
        }
        size_t done = 0;
        bool ok = true;
        DWORD code = 0;
        while (ok && done < data.size()) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 24));
            DWORD written = 0;
            if (!WriteFile(file.get(), data.data() + done, chunk, &written, nullptr)) {
                ok = false;
                code = GetLastError();
            }
            done += written;
        }
        if (ok && flush && !FlushFileBuffers(file.get())) {
            ok = false;
            code = GetLastError();
        }
        if (!file.close() && ok) {
            ok = false;
            code = GetLastError();
        }
        if (!ok) {
            DeleteFileA(tempPath.c_str());
            error = systemError(code, "cannot write", tempPath);
            return false;
        }
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    DWORD code = 0;
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (MoveFileExA(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        code = GetLastError();
        if (!transient(code)) {
            break;
        }
        Sleep(20);
    }
    DeleteFileA(tempPath.c_str());
    error = systemError(code, "cannot replace", path);
    return false;
}

bool flushFile(const std::string &path, Error &error) {
    Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || !FlushFileBuffers(file.get())) {
        error = systemError(GetLastError(), "cannot flush", path);
        return false;
    }
    return true;
}

bool flushFileSystem(const std::string &) {
    return false;
}

bool canFlushFileSystem() {
    return false;
}

void flushDirectory(const std::string &) {
    // MoveFileEx with MOVEFILE_WRITE_THROUGH has already made the rename durable.
}

bool removeFile(const std::string &path, Error &error) {
    if (DeleteFileA(path.c_str())) {
        return true;
    }
    DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (code == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (DeleteFileA(path.c_str())) {
            return true;
        }
        code = GetLastError();
    }
    error = systemError(code, "cannot delete", path);
    return false;
}

bool setReadOnly(const std::string &path, bool readOnly, Error &error) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = systemError(GetLastError(), "cannot change the attributes of", path);
        return false;
    }
    DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                            : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (wanted != attributes && !SetFileAttributesA(path.c_str(), wanted)) {
        error = systemError(GetLastError(), "cannot change the attributes of", path);
        return false;
    }
    return true;
}

bool FileLock::acquire(const std::string &path, bool exclusive, bool create, Error &error) {
    release();
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                              create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);  // a store we may only read
    }
    if (file == INVALID_HANDLE_VALUE) {
        error = systemError(GetLastError(), "cannot open the lock file", path);
        return false;
    }
    // Locks belong to the handle: two FileLock objects of one process exclude
    // each other just as two processes do. One byte is enough.
    OVERLAPPED where = {};
    if (!LockFileEx(file, exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &where)) {
        error = systemError(GetLastError(), "cannot lock", path);
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

void FileLock::release() {
    if (handle_ != -1) {
        HANDLE file = reinterpret_cast<HANDLE>(handle_);
        OVERLAPPED where = {};
        UnlockFileEx(file, 0, 1, 0, &where);
        CloseHandle(file);
        handle_ = -1;
    }
}

std::string userName() {
    char buffer[256];
    DWORD length = GetEnvironmentVariableA("USERNAME", buffer, sizeof buffer);
    if (length > 0 && length < sizeof buffer) {
        return std::string(buffer, length);
    }
    DWORD size = sizeof buffer;
    if (GetUserNameA(buffer, &size) && size > 1) {
        return std::string(buffer, size - 1);
    }
    return "";
}

long processId() {
    return static_cast<long>(GetCurrentProcessId());
}

} // namespace localstore::sys
