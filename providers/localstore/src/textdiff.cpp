#include "textdiff.h"

#include <dtl.hpp>

#include <cstddef>

namespace localstore {

namespace {

const char kNoNewline[] = "\\ No newline at end of file";

// One line of a text: where it is, and the key it compares by.
struct Line {
    const std::string *text = nullptr;  // the line as written, without its '\n'
    bool lastWithoutNewline = false;
    std::string key;

    bool operator==(const Line &other) const { return key == other.key; }
};

std::vector<std::string> splitLines(const std::string &text, bool &endsWithNewline) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    endsWithNewline = text.empty() || text.back() == '\n';
    return lines;
}

std::vector<Line> keyed(const std::vector<std::string> &texts, bool endsWithNewline, const DiffOptions &options) {
    std::vector<Line> lines(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        Line &line = lines[i];
        line.text = &texts[i];
        line.lastWithoutNewline = !endsWithNewline && i + 1 == texts.size();
        line.key.reserve(texts[i].size() + 1);
        for (char c : texts[i]) {
            if (options.ignoreSpace && (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f')) {
                continue;
            }
            if (options.ignoreCase && c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            line.key += c;
        }
        if (line.lastWithoutNewline && !options.ignoreSpace) {
            line.key += '\n';  // never equal to the same line with its line end
        }
    }
    return lines;
}

void emit(std::vector<std::string> &out, char mark, const Line &line) {
    out.push_back(mark + *line.text);
    if (line.lastWithoutNewline) {
        out.push_back(kNoNewline);
    }
}

} // namespace

bool unifiedDiff(const std::string &before, const std::string &after, const DiffOptions &options,
                 std::vector<std::string> &lines) {
    bool beforeEnds = true;
    bool afterEnds = true;
    const std::vector<std::string> beforeTexts = splitLines(before, beforeEnds);
    const std::vector<std::string> afterTexts = splitLines(after, afterEnds);
    std::vector<Line> a = keyed(beforeTexts, beforeEnds, options);
    std::vector<Line> b = keyed(afterTexts, afterEnds, options);

    // Equal lines at both ends are left out of the comparison, all but the
    // few that a hunk shows around a change: a small edit of a large file
    // then costs little, whatever the size of the file.
    const size_t context = 3;
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        ++head;
    }
    if (head == a.size() && head == b.size()) {
        return false;
    }
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    const size_t skipHead = head > context ? head - context : 0;
    const size_t skipTail = tail > context ? tail - context : 0;
    std::vector<Line> middleA(a.begin() + static_cast<std::ptrdiff_t>(skipHead),
                              a.end() - static_cast<std::ptrdiff_t>(skipTail));
    std::vector<Line> middleB(b.begin() + static_cast<std::ptrdiff_t>(skipHead),
                              b.end() - static_cast<std::ptrdiff_t>(skipTail));

    // The comparison takes time in proportion to the product of the changed
    // parts at worst; beyond this the answer is only that the texts differ.
    const double limit = 4.0e8;
    if (static_cast<double>(middleA.size()) * static_cast<double>(middleB.size()) > limit) {
        lines.push_back("@@ -" + std::to_string(skipHead + 1) + "," + std::to_string(middleA.size()) + " +" +
                        std::to_string(skipHead + 1) + "," + std::to_string(middleB.size()) + " @@");
        lines.push_back("(too many changed lines to list them one by one)");
        return true;
    }

    dtl::Diff<Line> diff(middleA, middleB);
    diff.compose();
    diff.composeUnifiedHunks();
    for (const auto &hunk : diff.getUniHunks()) {
        long long beforeStart = hunk.a + static_cast<long long>(skipHead);
        long long afterStart = hunk.c + static_cast<long long>(skipHead);
        if (hunk.b == 0) {
            --beforeStart;  // an empty range names the line before it
        }
        if (hunk.d == 0) {
            --afterStart;
        }
        lines.push_back("@@ -" + std::to_string(beforeStart) + "," + std::to_string(hunk.b) + " +" +
                        std::to_string(afterStart) + "," + std::to_string(hunk.d) + " @@");
        for (const auto &element : hunk.common[0]) {
            emit(lines, ' ', element.first);
        }
        for (const auto &element : hunk.change) {
            switch (element.second.type) {
            case dtl::SES_ADD:
                emit(lines, '+', element.first);
                break;
            case dtl::SES_DELETE:
                emit(lines, '-', element.first);
                break;
            default:
                emit(lines, ' ', element.first);
                break;
            }
        }
        for (const auto &element : hunk.common[1]) {
            emit(lines, ' ', element.first);
        }
    }
    return true;
}

} // namespace localstore
