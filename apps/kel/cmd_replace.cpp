// apps/kel/cmd_replace.cpp - `kel replace`: replace matches of a regular expression and write the text to stdout.
//
// The input is handled line by line, as sed does (read in blocks of whole lines, text_options.h, so a line may be
// longer than a block), with the newline excluded, so an empty line is a subject too. The matches
// come from the library's search (line_matches.h: one search over the whole line, however many matches it holds)
// and the tool assembles the output itself from the template, which it parses with its own escapes: the
// library's template syntax has no way to write a literal `\` or `$`.
//
// A line whose search fails (the match limit runs out) is reported on stderr with its file and line number and
// written unchanged; the lines after it are still replaced and the command ends with status 2.
#include <cstdio>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kel/line_matches.h"
#include "kel/pattern_error.h"
#include "kel/text_options.h"
#include "kelch.h"

namespace kel::app {
namespace {

void printReplaceUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel replace [-g] PATTERN TEMPLATE [FILE...]\n"
                 "Replace the first match of the regular expression PATTERN on each line of each FILE (standard\n"
                 "input when there is none, or for -) by TEMPLATE, or every match with -g, and write the text to\n"
                 "standard output. In TEMPLATE, $& is the whole match and $N group N (a group that took no part is\n"
                 "empty); a backslash takes the next byte literally (\\\\ is a backslash, \\$ a dollar sign); a $\n"
                 "followed by neither & nor a digit, and a backslash at the end, stand for themselves.\n"
                 "A line whose search exceeds the match limit is reported on stderr and written unchanged.\n"
                 "Exit status: 0 on success, 1 if a file could not be read, 2 after a line left unchanged or a\n"
                 "write error.\n");
}

// One piece of a parsed template: literal bytes, or group `group` of the match when group >= 0.
struct Piece {
    std::string text;
    int group = -1;
};

// Parses TEMPLATE; false for `$0`, which names no group.
bool parseTemplate(const std::string& t, std::vector<Piece>& out) {
    std::string literal;
    auto flush = [&]() {
        if (!literal.empty()) out.push_back({literal, -1});
        literal.clear();
    };
    for (size_t i = 0; i < t.size(); ++i) {
        const char c = t[i];
        if (c == '\\') {
            literal += i + 1 < t.size() ? t[++i] : '\\';
        } else if (c == '$' && i + 1 < t.size() && t[i + 1] == '&') {
            flush();
            out.push_back({std::string(), 0});
            ++i;
        } else if (c == '$' && i + 1 < t.size() && t[i + 1] >= '0' && t[i + 1] <= '9') {
            // All the digits belong to the number, as in the library's templates; beyond the pattern's groups
            // (at most 1000) any number is as good as another, so it saturates.
            int number = 0;
            while (i + 1 < t.size() && t[i + 1] >= '0' && t[i + 1] <= '9') {
                if (number < 100000) number = number * 10 + (t[i + 1] - '0');
                ++i;
            }
            if (number == 0) return false;
            flush();
            out.push_back({std::string(), number});
        } else {
            literal += c;
        }
    }
    flush();
    return true;
}

struct Replacer {
    LineMatcher matcher;
    std::vector<Piece> pieces;
    bool global = false;
};

void writeMatch(const Replacer& r, int match) {
    for (const Piece& p : r.pieces) {
        if (p.group < 0) {
            std::fwrite(p.text.data(), 1, p.text.size(), stdout);
        } else if (p.group < r.matcher.numGroups()) {
            const RegExpMatchRecord& g = r.matcher.record(match, p.group);
            if (g.lenFind > 0) std::fwrite(g.pFind, 1, static_cast<size_t>(g.lenFind), stdout);
        }
    }
}

// Writes the line with its matches replaced (without the newline). On a search error nothing is written and the
// status is returned.
KelStatus replaceLine(Replacer& r, const Kel8u* line, int len) {
    bool found = false;
    const KelStatus st = r.global ? r.matcher.all(line, len) : r.matcher.first(line, len, &found);
    if (st < 0) return st;
    int done = 0;  // line bytes already accounted for in the output
    for (int i = 0; i < r.matcher.count(); ++i) {
        const RegExpMatchRecord& m = r.matcher.record(i, 0);
        const int start = static_cast<int>(m.pFind - line);
        std::fwrite(line + done, 1, static_cast<size_t>(start - done), stdout);
        writeMatch(r, i);
        done = start + m.lenFind;
    }
    std::fwrite(line + done, 1, static_cast<size_t>(len - done), stdout);
    return kelStatusOk;
}

// Writes one input with its lines replaced; sets *pTrouble when a line was left unchanged. Returns false when a
// write failed.
bool replaceFile(Replacer& r, const std::string& label, std::FILE* f, bool* pTrouble) {
    LineBlockReader reader(f);
    const Kel8u* data = nullptr;
    size_t len = 0;
    long long lineNo = 0;
    // A failed write ends the file: there is no point reading on into a full disk or a closed pipe.
    while (!stdoutFailed() && reader.next(&data, &len)) {
        forEachLine(data, len, [&](const Kel8u* p, size_t n) {
            ++lineNo;
            const KelStatus st = replaceLine(r, p, static_cast<int>(n));
            if (st < 0) {
                const std::string what = st == kelStatusRegExpMatchLimit
                                             ? std::string("match limit exceeded")
                                             : "search failed with status " + std::to_string(st);
                reportError(label + ":" + std::to_string(lineNo) + ": " + what + "; line left unchanged");
                std::fwrite(p, 1, n, stdout);
                *pTrouble = true;
            }
            // The last line keeps its lack of a newline.
            if (p + n < data + len) std::fputc('\n', stdout);
            return !stdoutFailed();
        });
    }
    return !stdoutFailed();
}

}  // namespace

int cmdReplace(int argc, char** argv) {
    Replacer r;
    std::vector<std::string> args;
    const int end = parseCommandLine(argc, argv, "replace", {{'g', "global", &r.global}}, printReplaceUsage, &args);
    if (end >= 0) return end;
    if (args.size() < 2) {
        printReplaceUsage(stderr);
        return kExitUsage;
    }
    int errOffset = 0;
    const KelStatus st = r.matcher.init(args[0], "", &errOffset);
    if (st != kelStatusOk) {
        reportError("replace: " + describePatternError(args[0], st, errOffset));
        return kExitUsage;
    }
    if (!parseTemplate(args[1], r.pieces)) {
        reportError("replace: bad group reference in the template ($0; the whole match is $&)");
        return kExitUsage;
    }
    const std::vector<std::string> files(args.begin() + 2, args.end());
    bool trouble = false;
    const bool ok = forEachInput(files, InputWalk(), [&](const std::string& label, std::FILE* f, bool) {
        return replaceFile(r, label, f, &trouble);
    });
    return finishStdout(trouble ? kExitTrouble : ok ? kExitOk : kExitFailure);
}

}  // namespace kel::app
