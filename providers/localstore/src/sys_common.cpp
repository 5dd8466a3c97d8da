// The parts of the operating-system layer that <filesystem> does alike on
// every platform.
#include "sys.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace localstore::sys {

namespace {

Error fromErrorCode(const std::error_code &code, const std::string &what, const std::string &path) {
    Error error;
    if (code == std::errc::no_such_file_or_directory || code == std::errc::not_a_directory) {
        error.kind = ErrorKind::NotFound;
    } else if (code == std::errc::permission_denied || code == std::errc::operation_not_permitted ||
               code == std::errc::read_only_file_system) {
        error.kind = ErrorKind::AccessDenied;
    } else {
        error.kind = ErrorKind::Other;
    }
    error.text = what + " " + path + ": " + code.message();
    return error;
}

} // namespace

bool absolutePath(const std::string &text, std::string &out) {
    if (text.empty()) {
        return false;
    }
    std::error_code code;
    fs::path path = toPath(text);
    if (!path.is_absolute()) {
        path = fs::absolute(path, code);
        if (code) {
            return false;
        }
    }
    path = path.lexically_normal();
    while (!path.has_filename() && path.has_relative_path()) {
        path = path.parent_path();
    }
    out = fromPath(path.make_preferred());
    return !out.empty();
}

std::string join(const std::string &root, const std::string &relative) {
    std::string out = root;
    if (!out.empty() && out.back() != separator() && out.back() != '/') {
        out += separator();
    }
    for (char c : relative) {
        out += c == '/' ? separator() : c;
    }
    return out;
}

bool relativeTo(const std::string &root, const std::string &path, std::string &relative) {
    fs::path rootPath = toPath(root);
    fs::path filePath = toPath(path);
    auto r = rootPath.begin();
    auto f = filePath.begin();
    for (; r != rootPath.end(); ++r, ++f) {
        if (r->empty()) {
            continue;  // trailing separator of a root
        }
        if (f == filePath.end() || pathKey(fromPath(*r)) != pathKey(fromPath(*f))) {
            return false;
        }
    }
    relative.clear();
    for (; f != filePath.end(); ++f) {
        std::string part = fromPath(*f);
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            return false;
        }
        if (!relative.empty()) {
            relative += '/';
        }
        relative += part;
    }
    return !relative.empty();
}

std::string parentOf(const std::string &path) {
    return fromPath(toPath(path).parent_path());
}

std::string lastComponent(const std::string &path) {
    return fromPath(toPath(path).filename());
}

bool makeDirectories(const std::string &path, Error &error) {
    std::error_code code;
    fs::create_directories(toPath(path), code);
    if (code) {
        error = fromErrorCode(code, "cannot create folder", path);
        return false;
    }
    return true;
}

bool listDirectory(const std::string &path, std::vector<std::string> &names, Error &error) {
    std::error_code code;
    names.clear();
    for (fs::directory_iterator it(toPath(path), code), end; !code && it != end; it.increment(code)) {
        names.push_back(fromPath(it->path().filename()));
    }
    if (code) {
        error = fromErrorCode(code, "cannot list folder", path);
        return false;
    }
    return true;
}

Error notRegularFile(const std::string &path, const std::string &found) {
    Error error;
    error.kind = ErrorKind::NotRegular;
    error.text = "cannot read " + path + ": not a regular file (" + found + ")";
    return error;
}

Error fileTooLarge(const std::string &path, uint64_t limit) {
    Error error;
    error.kind = ErrorKind::TooLarge;
    error.text = "cannot read " + path + ": larger than " + std::to_string(limit) + " bytes";
    return error;
}

bool appendFile(const std::string &path, const std::string &data, Error &error) {
    std::ofstream out(toPath(path), std::ios::binary | std::ios::app);
    if (!out || !out.write(data.data(), static_cast<std::streamsize>(data.size())) || !out.flush()) {
        error = fromErrorCode(std::make_error_code(std::errc::io_error), "cannot write", path);
        return false;
    }
    return true;
}

int64_t now() {
    using namespace std::chrono;
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string utcStamp(int64_t seconds) {
    // Civil date from a day count (the proleptic Gregorian calendar), so that
    // no time-zone or thread-unsafe C library call is involved.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

} // namespace localstore::sys
