// apps/kel/cmd_replace.cpp - `kel replace`: replace matches of a regular expression and write the text to stdout.
//
// The input is handled line by line, as sed does (lines may be longer than the 1 MiB read piece: an unfinished
// line is carried into the next piece), with the newline excluded, so an empty line is a subject too. The matches
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
#include "kelch.h"

namespace kel::app {
namespace {

constexpr size_t kPiece = 1 << 20;

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

// Returns false when the file could not be read; sets *pTrouble when a line was left unchanged.
bool replaceFile(Replacer& r, const std::string& name, bool* pTrouble) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    const std::string label = name == "-" ? "(standard input)" : name;
    std::vector<Kel8u> buf;
    std::vector<Kel8u> piece(kPiece);
    long long lineNo = 0;
    auto line = [&](const Kel8u* p, size_t len) {
        ++lineNo;
        const KelStatus st = replaceLine(r, p, static_cast<int>(len));
        if (st >= 0) return;
        const std::string what = st == kelStatusRegExpMatchLimit ? std::string("match limit exceeded")
                                                                 : "search failed with status " + std::to_string(st);
        reportError(label + ":" + std::to_string(lineNo) + ": " + what + "; line left unchanged");
        std::fwrite(p, 1, len, stdout);
        *pTrouble = true;
    };
    bool eof = false;
    // A failed write ends the file: there is no point reading on into a full disk or a closed pipe.
    while (!eof && !stdoutFailed()) {
        const size_t n = std::fread(piece.data(), 1, kPiece, f);
        if (n == 0) eof = true;
        buf.insert(buf.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        size_t start = 0;
        for (size_t i = 0; i < buf.size() && !stdoutFailed(); ++i) {
            if (buf[i] != '\n') continue;
            line(buf.data() + start, i - start);
            std::fputc('\n', stdout);
            start = i + 1;
        }
        if (eof && start < buf.size()) {
            line(buf.data() + start, buf.size() - start);
            start = buf.size();
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(start));
    }
    bool ok = true;
    if (std::ferror(f)) {
        reportError(name + ": read error");
        ok = false;
    }
    if (f != stdin) std::fclose(f);
    return ok;
}

}  // namespace

int cmdReplace(int argc, char** argv) {
    Replacer r;
    std::vector<std::string> args;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printReplaceUsage(stdout);
            return finishStdout(kExitOk);
        } else if (!optionsDone && args.empty() && a == "-g") {
            r.global = true;
        } else if (!optionsDone && args.empty() && a.size() > 1 && a[0] == '-') {
            reportError("replace: unknown option '" + a + "' (use -- before a pattern that starts with -)");
            return kExitUsage;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() < 2) {
        printReplaceUsage(stderr);
        return kExitUsage;
    }
    int errOffset = 0;
    const KelStatus st = r.matcher.init(args[0], "", &errOffset);
    if (st == kelStatusBadSize) {
        reportError("replace: pattern too long");
        return kExitUsage;
    }
    if (st != kelStatusOk) {
        reportError("replace: bad pattern at offset " + std::to_string(errOffset) + " (status " + std::to_string(st) +
                    ")");
        return kExitUsage;
    }
    if (!parseTemplate(args[1], r.pieces)) {
        reportError("replace: bad group reference in the template ($0; the whole match is $&)");
        return kExitUsage;
    }
    std::vector<std::string> files(args.begin() + 2, args.end());
    if (files.empty()) files.push_back("-");
    bool ok = true, trouble = false;
    for (size_t i = 0; i < files.size() && !stdoutFailed(); ++i) ok = replaceFile(r, files[i], &trouble) && ok;
    return finishStdout(trouble ? kExitTrouble : ok ? kExitOk : kExitFailure);
}

}  // namespace kel::app
