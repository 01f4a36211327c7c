// apps/kel/cmd_grep.cpp - `kel grep`: print the lines of files that match a regular expression.
//
// Files are read in 1 MiB pieces; complete lines are searched one at a time (without their newline) and the
// unfinished last line of a piece is carried into the next, so a line may be longer than a piece. With -o every
// match comes from one search over the whole line (line_matches.h), so `^`, `\b` and look-behinds see the bytes
// before each match as grep's do.
//
// A line whose search fails (the match limit runs out on a pathological line) is reported on stderr with its file
// and line number, and the search goes on with the next line: one bad line costs its own result, not the rest of
// the file, and the command ends with status 2 as grep does after an error. A line whose search fails is neither
// selected nor rejected (so -v does not print it either), and with -o prints nothing.
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

void printGrepUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel grep [-i] [-v] [-c] [-n] [-o] PATTERN [FILE...]\n"
                 "Print the lines of each FILE (standard input when there is none, or for -) that contain a match\n"
                 "of the regular expression PATTERN (Perl-style syntax).\n"
                 "  -i  ignore ASCII case      -v  select non-matching lines   -c  print only a count of lines\n"
                 "  -n  prefix line numbers    -o  print only the matched parts, one per line\n"
                 "A line whose search exceeds the match limit is reported on stderr and skipped.\n"
                 "Exit status: 0 if a line was selected, 1 if none, 2 on an error (also after a skipped line).\n");
}

struct GrepOptions {
    bool invert = false, count = false, number = false, only = false, prefixName = false;
};

// The status of the failed search on a search error (the line's output may be partial with -o), else 1 when the
// line is selected and 0 when it is not.
int grepLine(LineMatcher& m, const GrepOptions& o, const std::string& label, long long lineNo, const Kel8u* line,
             int len, long long* pSelected) {
    const bool listMatches = o.only && !o.invert && !o.count;
    bool hit = false;
    const KelStatus st = listMatches ? m.all(line, len) : m.first(line, len, &hit);
    if (st < 0) return st;
    if (listMatches) hit = m.count() > 0;
    if (hit == o.invert) return 0;
    ++*pSelected;
    if (o.count || (o.only && o.invert)) return 1;
    auto prefix = [&]() {
        if (o.prefixName) std::printf("%s:", label.c_str());
        if (o.number) std::printf("%lld:", lineNo);
    };
    if (!listMatches) {
        prefix();
        std::fwrite(line, 1, static_cast<size_t>(len), stdout);
        std::fputc('\n', stdout);
        return 1;
    }
    // Empty matches select the line but print nothing, as with grep -o.
    for (int i = 0; i < m.count(); ++i) {
        const RegExpMatchRecord& r = m.record(i, 0);
        if (r.lenFind <= 0) continue;
        prefix();
        std::fwrite(r.pFind, 1, static_cast<size_t>(r.lenFind), stdout);
        std::fputc('\n', stdout);
    }
    return 1;
}

// Reports a line whose search failed; the caller goes on with the next line.
void reportLineError(const std::string& name, long long lineNo, int status) {
    const std::string what = status == kelStatusRegExpMatchLimit
                                 ? std::string("match limit exceeded")
                                 : "search failed with status " + std::to_string(status);
    reportError(name + ":" + std::to_string(lineNo) + ": " + what + "; line skipped");
}

// Returns false on a read error or when the search of a line failed; adds the selected lines to *pSelected.
bool grepFile(LineMatcher& m, const GrepOptions& o, const std::string& name, long long* pSelected) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    const std::string label = name == "-" ? "(standard input)" : name;
    std::vector<Kel8u> buf;
    long long lineNo = 0, selected = 0;
    bool ok = true;
    std::vector<Kel8u> piece(kPiece);
    size_t n;
    bool eof = false;
    auto line = [&](const Kel8u* p, size_t len) {
        ++lineNo;
        const int r = grepLine(m, o, label, lineNo, p, static_cast<int>(len), &selected);
        if (r < 0) {
            reportLineError(label, lineNo, r);
            ok = false;
        }
    };
    // A failed write ends the file: there is no point reading on into a full disk or a closed pipe.
    while (!eof && !stdoutFailed()) {
        n = std::fread(piece.data(), 1, kPiece, f);
        if (n == 0) eof = true;
        buf.insert(buf.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        size_t start = 0;
        for (size_t i = 0; i < buf.size() && !stdoutFailed(); ++i) {
            if (buf[i] != '\n') continue;
            line(buf.data() + start, i - start);
            start = i + 1;
        }
        if (eof && start < buf.size()) {
            line(buf.data() + start, buf.size() - start);
            start = buf.size();
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(start));
    }
    if (std::ferror(f)) {
        reportError(name + ": read error");
        ok = false;
    }
    if (f != stdin) std::fclose(f);
    if (o.count) {
        if (o.prefixName) std::printf("%s:", label.c_str());
        std::printf("%lld\n", selected);
    }
    *pSelected += selected;
    return ok;
}

}  // namespace

int cmdGrep(int argc, char** argv) {
    GrepOptions o;
    bool caseless = false;
    std::vector<std::string> args;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printGrepUsage(stdout);
            return finishStdout(kExitOk);
        } else if (!optionsDone && args.empty() && a.size() > 1 && a[0] == '-') {
            for (size_t k = 1; k < a.size(); ++k) {
                switch (a[k]) {
                    case 'i':
                        caseless = true;
                        break;
                    case 'v':
                        o.invert = true;
                        break;
                    case 'c':
                        o.count = true;
                        break;
                    case 'n':
                        o.number = true;
                        break;
                    case 'o':
                        o.only = true;
                        break;
                    default:
                        reportError("grep: unknown option '" + a + "'");
                        return kExitUsage;
                }
            }
        } else {
            args.push_back(a);
        }
    }
    if (args.empty()) {
        printGrepUsage(stderr);
        return kExitUsage;
    }
    LineMatcher m;
    int errOffset = 0;
    const KelStatus st = m.init(args[0], caseless ? "i" : "", &errOffset);
    if (st == kelStatusBadSize) {
        reportError("grep: pattern too long");
        return kExitUsage;
    }
    if (st != kelStatusOk) {
        reportError("grep: bad pattern at offset " + std::to_string(errOffset) + " (status " + std::to_string(st) +
                    ")");
        return kExitUsage;
    }
    std::vector<std::string> files(args.begin() + 1, args.end());
    if (files.empty()) files.push_back("-");
    o.prefixName = files.size() > 1;
    long long selected = 0;
    bool ok = true;
    for (size_t i = 0; i < files.size() && !stdoutFailed(); ++i) ok = grepFile(m, o, files[i], &selected) && ok;
    return finishStdout(!ok ? kExitTrouble : selected > 0 ? kExitOk : kExitFailure);
}

}  // namespace kel::app
