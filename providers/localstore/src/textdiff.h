// Line differences of two texts in the unified format, computed with the dtl
// library (Debian's libdtl-dev).
#pragma once

#include <string>
#include <vector>

namespace localstore {

struct DiffOptions {
    bool ignoreCase = false;   // ASCII letters compare without case
    bool ignoreSpace = false;  // blanks, tabs and carriage returns do not count
};

// False when the texts have the same lines (under `options`). Otherwise true,
// with the hunks of a unified diff ("@@ -1,3 +1,4 @@", then " ", "-" and "+"
// lines) appended to `lines`. A last line without a line end is followed by
// "\ No newline at end of file", as diff(1) writes it. Texts whose changed
// middle part is too large for a line-by-line comparison get one line saying so.
bool unifiedDiff(const std::string &before, const std::string &after, const DiffOptions &options,
                 std::vector<std::string> &lines);

} // namespace localstore
