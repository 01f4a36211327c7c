// apps/kel/cmd_grep.cpp - `kel grep`: print the lines of files that match a regular expression or fixed strings.
//
// Files are read in blocks of whole lines (text_options.h) and each block is searched as one subject: a fixed
// string with the library's byte search, a regular expression with one multi-line search (`^` and `$` at every
// line). Line boundaries are looked for only around a match, so the lines in between cost nothing but the search.
// That is only sound while no match can run over a newline: a pattern that could match one (\s, a negated class,
// a dot-all `.`, escapes of control bytes, anchors of the whole subject, ...) is searched line by line instead, as
// is the rest of a block whose search ran out of its match limit. Either way a line is a subject of its own as far
// as the pattern can tell: searches start at line starts, and what precedes a line start is a newline, which
// neither `\b`, `\B` nor the look-behinds a safe pattern can hold tell apart from the start of the subject.
//
// With -o (and for colouring) every match of a selected line comes from one search over the whole line
// (line_matches.h), so `^`, `\b` and look-behinds see the bytes before each match as grep's do.
//
// A line whose search fails (the match limit runs out on a pathological line) is reported on stderr with its file
// and line number, and the search goes on with the next line: one bad line costs its own result, not the rest of
// the file, and the command ends with status 2 as grep does after an error. A line whose search fails is neither
// selected nor rejected (so -v does not print it either), and with -o prints nothing.
//
// A file with a NUL byte in a block read so far is binary: instead of its lines, "kel: NAME: binary file matches"
// goes to stderr at its first selected line (as GNU grep 3.8 words and places it), unless -a.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

void printGrepUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel grep [OPTION...] PATTERN [FILE...]\n"
                 "       kel grep [OPTION...] -e PATTERN... [FILE...]\n"
                 "Print the lines of each FILE (standard input when there is none, or for -; the working directory\n"
                 "with -r) that contain a match of the regular expression PATTERN (Perl-style syntax). A PATTERN\n"
                 "holding newlines is one pattern per line.\n"
                 "  -e PAT  a pattern (repeatable: a line matching any is selected)\n"
                 "  -F      patterns are fixed strings       -i  ignore ASCII case\n"
                 "  -w      match whole words only           -x  match whole lines only\n"
                 "  -v      select non-matching lines        -c  print only a count of selected lines\n"
                 "  -n      prefix line numbers              -o  print only the matched parts, one per line\n"
                 "  -l      list files with a selected line  -L  list files without one\n"
                 "  -H / -h with / without file names (default: with, for several files or under -r)\n"
                 "  -q      print nothing, stop at the first selected line\n"
                 "  -s      no messages about missing or unreadable files\n"
                 "  -r      search directories recursively (symbolic links inside are skipped); -R follows them\n"
                 "  -a      search binary files as text      -I  take binary files as holding no match\n"
                 "  --color[=WHEN]  highlight matches, file names and line numbers: never, always or auto\n"
                 "                  (the default, when standard output is a terminal)\n"
                 "A file with a NUL byte is binary: a match is reported as 'NAME: binary file matches' on stderr.\n"
                 "A line whose search exceeds the match limit is reported on stderr and skipped.\n"
                 "Exit status: 0 if a line was selected, 1 if none, 2 on an error (also after a skipped line).\n");
}

struct GrepOptions {
    bool fixed = false, caseless = false, word = false, wholeLine = false, invert = false, count = false,
         number = false, only = false, listMatching = false, listOther = false, quiet = false, text = false,
         binaryNoMatch = false, color = false;
    int withName = -1;  // -1: by the number of inputs; 0: -h; 1: -H
};

constexpr size_t kWindow = size_t{1} << 15;

// GNU grep's default colours: matches bold red, file names magenta, line numbers green, separators cyan. Each
// piece ends with "erase to end of line" so a background colour would not bleed to the margin.
constexpr const char* kMatchStart = "\033[01;31m\033[K";
constexpr const char* kNameStart = "\033[35m\033[K";
constexpr const char* kNumberStart = "\033[32m\033[K";
constexpr const char* kSepStart = "\033[36m\033[K";
constexpr const char* kColorEnd = "\033[m\033[K";

// Escapes a fixed string into a pattern matching exactly its bytes. Punctuation takes a backslash; spaces and
// control bytes are written in hex, since the `x` option would drop a plain space.
std::string escapeFixed(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
            out += static_cast<char>(c);
        } else if (c > ' ' && c < 0x7F) {
            out += '\\';
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

// True when a pattern holds no syntax at all: its text is what it matches.
bool isPlainLiteral(const std::string& p) {
    return !p.empty() && p.find_first_of("\\^$.[]|()?*+{}") == std::string::npos;
}

// True when no match of the pattern can contain a newline (nor depend on the bytes beyond a line), so one search
// over many lines finds exactly the matches of the lines searched one by one. Conservative: escapes other than
// \w \d \S \b \B and escaped punctuation, negated classes, the space and control POSIX classes, and any inline
// option group that could switch on dot-all make it false.
bool isLineSafe(const std::string& p) {
    for (size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '\\') {
            if (i + 1 >= p.size()) return false;
            const unsigned char e = static_cast<unsigned char>(p[++i]);
            const bool alnum = (e >= '0' && e <= '9') || (e >= 'a' && e <= 'z') || (e >= 'A' && e <= 'Z');
            if (alnum && !std::strchr("wdSbB", e)) return false;
        } else if (c == '[') {
            if (i + 1 < p.size() && p[i + 1] == '^') return false;
            if (p.compare(i, 2, "[:") == 0 && (p.compare(i, 9, "[:space:]") == 0 || p.compare(i, 9, "[:cntrl:]") == 0 ||
                                               p.compare(i, 3, "[:^") == 0)) {
                return false;
            }
        } else if (c == '(' && i + 1 < p.size() && p[i + 1] == '?') {
            for (size_t k = i + 2; k < p.size() && (std::isalpha(static_cast<unsigned char>(p[k])) || p[k] == '-');
                 ++k) {
                if (p[k] == 's') return false;
            }
        }
    }
    return true;
}

// The longest run of bytes every match must contain, or "" when none of two bytes or more can be told from the
// pattern cheaply. Conservative: any group or alternation, a \Q quote or a byte beyond ASCII gives up; classes,
// class escapes, anchors and `.` break a run; a byte under `?`, `*` or a brace bound is not required, and one under
// `+` ends its run.
std::string requiredLiteral(const std::string& p) {
    if (p.find_first_of("|(") != std::string::npos || p.find("\\Q") != std::string::npos) return std::string();
    for (unsigned char c : p) {
        if (c >= 0x80) return std::string();
    }
    std::string best, run;
    auto flush = [&]() {
        if (run.size() > best.size()) best = run;
        run.clear();
    };
    size_t i = 0;
    while (i < p.size()) {
        const char c = p[i];
        char lit;
        if (c == '[') {
            flush();
            size_t k = i + 1;
            if (k < p.size() && p[k] == '^') ++k;
            if (k < p.size() && p[k] == ']') ++k;
            while (k < p.size() && p[k] != ']') k += p[k] == '\\' ? 2 : 1;
            i = k + 1;
            continue;
        }
        if (c == '\\') {
            if (i + 1 >= p.size()) return std::string();
            const char e = p[i + 1];
            i += 2;
            if (std::isalnum(static_cast<unsigned char>(e))) {
                flush();
                continue;
            }
            lit = e;
        } else if (c == '.' || c == '^' || c == '$' || c == '*' || c == '+' || c == '?') {
            flush();
            ++i;
            continue;
        } else if (c == '{') {
            flush();
            const size_t close = p.find('}', i);
            if (close == std::string::npos) return std::string();
            i = close + 1;
            continue;
        } else {
            lit = c;
            ++i;
        }
        const char q = i < p.size() ? p[i] : 0;
        if (q == '?' || q == '*' || q == '{') {
            flush();  // the quantifier itself is skipped by the next turn
            continue;
        }
        run += lit;
        if (q == '+') flush();
    }
    flush();
    return best.size() >= 2 ? best : std::string();
}

// Fixed strings found with the library's byte searches, without the regular-expression engine, whose cost per
// call would dominate when matches are dense. Several strings: each one's next occurrence is kept until the
// search passes it, so every string is scanned once per block however many lines match. Caseless (ASCII letters,
// as the engine's `i`): the scan looks for both cases of the string's rarest letter in English text and compares
// the whole string around each hit.
class LiteralSet {
public:
    void init(const std::vector<std::string>& strings, bool caseless) {
        static const char kByFrequency[] = "etaoinshrdlcumwfgypbvkjxqz";
        caseless_ = caseless;
        for (const std::string& t : strings) {
            Needle n;
            n.text = t;
            int bestRank = -2;
            for (size_t k = 0; k < t.size(); ++k) {
                const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(t[k])));
                const char* f = std::strchr(kByFrequency, lower);
                const int rank = t[k] == ' ' ? -1 : f && lower ? static_cast<int>(f - kByFrequency) : 26;
                if (rank > bestRank) {
                    bestRank = rank;
                    n.scan = k;
                }
            }
            const unsigned char c = static_cast<unsigned char>(t[n.scan]);
            n.set[0] = static_cast<Kel8u>(caseless ? std::tolower(c) : c);
            n.set[1] = static_cast<Kel8u>(caseless ? std::toupper(c) : c);
            needles_.push_back(n);
        }
    }

    // True for strings this search can take: not empty, and ASCII when caseless (it folds no other letter).
    static bool usable(const std::vector<std::string>& strings, bool caseless) {
        for (const std::string& t : strings) {
            if (t.empty()) return false;
            for (unsigned char c : t) {
                if (caseless && c >= 0x80) return false;
            }
        }
        return true;
    }

    // Forgets the occurrences kept: the next searches are over new bytes.
    void reset() {
        for (Needle& n : needles_) n.known = false;
    }

    // The first occurrence of any string in data[0, len); calls between two resets must not go backwards.
    bool find(const Kel8u* data, size_t len, size_t* pStart) {
        const Kel8u* end = data + len;
        if (end != end_) {
            reset();
            end_ = end;
        }
        const Kel8u* best = nullptr;
        for (Needle& n : needles_) {
            if (!n.known || (n.hit && n.hit < data)) {
                n.hit = findOne(n, data, len);
                n.known = true;
            }
            if (n.hit && (!best || n.hit < best)) best = n.hit;
        }
        if (!best) return false;
        *pStart = static_cast<size_t>(best - data);
        return true;
    }

private:
    struct Needle {
        std::string text;
        size_t scan = 0;  // the byte looked for
        Kel8u set[2] = {0, 0};
        bool known = false;
        const Kel8u* hit = nullptr;  // the next occurrence, when known (null: none before the end)
    };

    const Kel8u* findOne(const Needle& n, const Kel8u* data, size_t len) const {
        const Kel8u* t = reinterpret_cast<const Kel8u*>(n.text.data());
        const size_t tl = n.text.size();
        if (tl > len) return nullptr;
        if (!caseless_) {
            int index = -1;
            kelsFind_8u(data, static_cast<int>(len), t, static_cast<int>(tl), &index);
            return index < 0 ? nullptr : data + index;
        }
        // Candidates: the scanned byte at offset n.scan of an occurrence that fits in data.
        size_t from = n.scan;
        const size_t last = len - tl + n.scan;  // the last position the scanned byte may take
        while (from <= last) {
            int index = -1;
            kelsFindCAny_8u(data + from, static_cast<int>(last + 1 - from), n.set, n.set[0] == n.set[1] ? 1 : 2,
                            &index);
            if (index < 0) return nullptr;
            const Kel8u* start = data + from + index - n.scan;
            int diff = 1;
            kelsCompareIgnoreCaseLatin_8u(start, t, static_cast<int>(tl), &diff);
            if (diff == 0) return start;
            from += static_cast<size_t>(index) + 1;
        }
        return nullptr;
    }

    std::vector<Needle> needles_;
    bool caseless_ = false;
    const Kel8u* end_ = nullptr;
};

class Grep {
public:
    explicit Grep(const GrepOptions& o) : o_(o) {}

    // Builds the searches from the patterns; false (reported) on a pattern that does not compile.
    bool init(const std::vector<std::string>& patterns);

    // Searches one input; false on a search error in one of its lines (reported, the rest still searched).
    bool file(const std::string& label, std::FILE* f, bool showName);

    long long selected() const { return selectedTotal_; }
    bool quitNow() const { return quit_; }

private:
    // Finds the first match in data[0, len) searched as one subject: 1 with *pStart set, 0 for none, negative on a
    // search error.
    int findInBlock(const Kel8u* data, size_t len, size_t* pStart);
    // Line mode: 1 when the line holds a match, 0 when not, negative on a search error.
    int lineMatches(const Kel8u* line, size_t len);
    void searchBlock(const Kel8u* data, size_t len);
    // Searches the next line alone and selects it or not; a search error is reported and the line skipped.
    void judgeLine(const Kel8u* line, size_t len);
    void searchLines(const Kel8u* data, size_t len);
    // A binary file's lines end at NUL bytes too, as grep splits them: a NUL is never part of a match.
    void searchBinary(const Kel8u* data, size_t len);
    // Lines holding the required string, each searched alone; the others hold no match.
    void searchRequired(const Kel8u* data, size_t len);
    // Takes one line decided to be selected (or, for errors, reported); returns false to stop the file.
    bool select(const Kel8u* line, size_t len);
    void lineError(int status);
    void printPrefix(char sep);
    void printName();
    void skipLines(const Kel8u* data, size_t len);

    const GrepOptions& o_;
    LineMatcher line_;
    std::vector<Kel8u> blockState_;
    std::vector<RegExpMatchRecord> rec_;
    LiteralSet literals_;
    LiteralSet required_;  // a string every match holds: only the lines holding it meet the engine
    bool useRequired_ = false;
    bool useLiterals_ = false;  // fixed strings found by byte search; the regular expression runs for -o and colour
    bool blockRegex_ = false;
    bool matchesEverything_ = false;

    // The file being searched.
    std::string label_;
    bool showName_ = false, binary_ = false, stopFile_ = false, ok_ = true, quit_ = false;
    long long lineNo_ = 0, selected_ = 0, selectedTotal_ = 0;
};

bool Grep::init(const std::vector<std::string>& patterns) {
    std::vector<std::string> alternatives;
    bool safe = true;
    for (const std::string& p : patterns) {
        if (o_.fixed || isPlainLiteral(p)) {
            alternatives.push_back(escapeFixed(p));
        } else {
            alternatives.push_back(p);
            safe = safe && isLineSafe(p);
        }
    }
    std::string regex;
    if (alternatives.size() == 1) {
        regex = alternatives[0];
    } else {
        for (size_t i = 0; i < alternatives.size(); ++i) regex += (i ? "|(?:" : "(?:") + alternatives[i] + ")";
    }
    if (o_.wholeLine) {
        regex = "^(?:" + regex + ")$";
    } else if (o_.word) {
        regex = "(?<!\\w)(?:" + regex + ")(?!\\w)";
    }
    // One plain string, as given or with -F, is searched for as bytes; no need of the engine until -o or colour.
    const bool allFixed = std::all_of(patterns.begin(), patterns.end(),
                                      [&](const std::string& p) { return o_.fixed || isPlainLiteral(p); });
    if (allFixed && !o_.word && !o_.wholeLine && LiteralSet::usable(patterns, o_.caseless)) {
        literals_.init(patterns, o_.caseless);
        useLiterals_ = true;
    } else if (patterns.size() == 1 && !o_.fixed) {
        const std::string req = requiredLiteral(patterns[0]);
        if (!req.empty()) {
            required_.init({req}, o_.caseless);
            useRequired_ = true;
        }
    }
    matchesEverything_ = !o_.wholeLine && !o_.word &&
                         std::any_of(patterns.begin(), patterns.end(), [](const std::string& p) { return p.empty(); });
    const std::string options = o_.caseless ? "i" : "";
    int errOffset = 0;
    const KelStatus st = line_.init(regex, options, &errOffset);
    if (st != kelStatusOk) {
        // The pattern shown is the one compiled: the patterns joined, and wrapped for -w and -x.
        reportError("grep: " + describePatternError(regex, st, errOffset));
        return false;
    }
    if (!useLiterals_ && !matchesEverything_ && safe) {
        int size = 0;
        kelsRegExpGetSize(regex.c_str(), &size);
        blockState_.assign(static_cast<size_t>(size), 0);
        blockRegex_ = kelsRegExpInit(regex.c_str(), (options + "m").c_str(),
                                     reinterpret_cast<RegExpState*>(blockState_.data()), &errOffset) == kelStatusOk;
        rec_.resize(1001);
    }
    return true;
}

int Grep::findInBlock(const Kel8u* data, size_t len, size_t* pStart) {
    if (useLiterals_) return literals_.find(data, len, pStart) ? 1 : 0;
    int n = static_cast<int>(rec_.size());
    const KelStatus st = kelsRegExpFind_8u(data, static_cast<int>(len),
                                           reinterpret_cast<RegExpState*>(blockState_.data()), rec_.data(), &n);
    if (st < 0) return st;
    if (n == 0) return 0;
    *pStart = static_cast<size_t>(rec_[0].pFind - data);
    return 1;
}

int Grep::lineMatches(const Kel8u* line, size_t len) {
    if (matchesEverything_) return 1;
    if (useLiterals_) {
        size_t at = 0;
        return literals_.find(line, len, &at) ? 1 : 0;
    }
    bool hit = false;
    const KelStatus st = line_.first(line, static_cast<int>(len), &hit);
    return st < 0 ? st : hit;
}

void Grep::printName() {
    if (o_.color) {
        std::printf("%s%s%s", kNameStart, label_.c_str(), kColorEnd);
    } else {
        std::fputs(label_.c_str(), stdout);
    }
}

void Grep::printPrefix(char sep) {
    if (showName_) {
        printName();
        if (o_.color) {
            std::printf("%s%c%s", kSepStart, sep, kColorEnd);
        } else {
            std::fputc(sep, stdout);
        }
    }
    if (o_.number) {
        if (o_.color) {
            std::printf("%s%lld%s%s%c%s", kNumberStart, lineNo_, kColorEnd, kSepStart, sep, kColorEnd);
        } else {
            std::printf("%lld%c", lineNo_, sep);
        }
    }
}

void Grep::lineError(int status) {
    const std::string what = status == kelStatusRegExpMatchLimit
                                 ? std::string("match limit exceeded")
                                 : "search failed with status " + std::to_string(status);
    reportError(label_ + ":" + std::to_string(lineNo_) + ": " + what + "; line skipped");
    ok_ = false;
}

bool Grep::select(const Kel8u* line, size_t len) {
    ++selected_;
    if (o_.quiet) {
        quit_ = true;
        return false;
    }
    if (o_.listMatching || o_.listOther) return false;
    if (o_.count) return true;
    if (binary_) {
        std::fflush(stdout);
        reportError(label_ + ": binary file matches");
        return false;
    }
    if (o_.only && o_.invert) return true;
    const bool wantMatches = !o_.invert && (o_.only || o_.color);
    if (wantMatches) {
        const KelStatus st = line_.all(line, static_cast<int>(len));
        if (st < 0) {
            lineError(st);
            return !stdoutFailed();
        }
    }
    if (o_.only) {
        // Empty matches select the line but print nothing, as with grep -o.
        for (int i = 0; i < line_.count(); ++i) {
            const RegExpMatchRecord& r = line_.record(i, 0);
            if (r.lenFind <= 0) continue;
            printPrefix(':');
            if (o_.color) std::fputs(kMatchStart, stdout);
            std::fwrite(r.pFind, 1, static_cast<size_t>(r.lenFind), stdout);
            if (o_.color) std::fputs(kColorEnd, stdout);
            std::fputc('\n', stdout);
        }
        return !stdoutFailed();
    }
    printPrefix(':');
    if (wantMatches) {
        size_t done = 0;
        for (int i = 0; i < line_.count(); ++i) {
            const RegExpMatchRecord& r = line_.record(i, 0);
            if (r.lenFind <= 0) continue;
            const size_t start = static_cast<size_t>(r.pFind - line);
            std::fwrite(line + done, 1, start - done, stdout);
            std::fputs(kMatchStart, stdout);
            std::fwrite(r.pFind, 1, static_cast<size_t>(r.lenFind), stdout);
            std::fputs(kColorEnd, stdout);
            done = start + static_cast<size_t>(r.lenFind);
        }
        std::fwrite(line + done, 1, len - done, stdout);
    } else {
        std::fwrite(line, 1, len, stdout);
    }
    std::fputc('\n', stdout);
    return !stdoutFailed();
}

// Lines that hold no match: selected with -v, else only counted for their numbers.
void Grep::skipLines(const Kel8u* data, size_t len) {
    if (len == 0) return;
    if (!o_.invert) {
        if (o_.number) lineNo_ += std::count(data, data + len, '\n');
        return;
    }
    forEachLine(data, len, [&](const Kel8u* line, size_t n) {
        ++lineNo_;
        if (!select(line, n)) stopFile_ = true;
        return !stopFile_;
    });
}

void Grep::judgeLine(const Kel8u* line, size_t len) {
    ++lineNo_;
    const int r = lineMatches(line, len);
    if (r < 0) {
        lineError(r);
    } else if ((r > 0) != o_.invert && !select(line, len)) {
        stopFile_ = true;
    }
}

void Grep::searchLines(const Kel8u* data, size_t len) {
    forEachLine(data, len, [&](const Kel8u* line, size_t n) {
        judgeLine(line, n);
        return !stopFile_ && !stdoutFailed();
    });
}

void Grep::searchBinary(const Kel8u* data, size_t len) {
    static const Kel8u kEnds[2] = {'\n', 0};
    size_t pos = 0;
    while (pos < len && !stopFile_ && !stdoutFailed()) {
        int index = -1;
        kelsFindCAny_8u(data + pos, static_cast<int>(len - pos), kEnds, 2, &index);
        const size_t end = index < 0 ? len : pos + static_cast<size_t>(index);
        judgeLine(data + pos, end - pos);
        pos = end + 1;
    }
}

void Grep::searchRequired(const Kel8u* data, size_t len) {
    size_t pos = 0;  // always a line start
    while (pos < len && !stopFile_ && !stdoutFailed()) {
        size_t at = 0;
        if (!required_.find(data + pos, len - pos, &at)) {
            skipLines(data + pos, len - pos);
            return;
        }
        at += pos;
        const size_t start = pos + lineStartBefore(data + pos, at - pos);
        const size_t end = at + findNewline(data + at, len - at);
        skipLines(data + pos, start - pos);
        if (stopFile_) return;
        judgeLine(data + start, end - start);
        pos = end + 1;
    }
}

void Grep::searchBlock(const Kel8u* data, size_t len) {
    if (binary_) {
        searchBinary(data, len);
        return;
    }
    if (useRequired_) {
        searchRequired(data, len);
        return;
    }
    if (!blockRegex_ && !useLiterals_) {
        searchLines(data, len);
        return;
    }
    size_t pos = 0;  // always a line start
    while (pos < len && !stopFile_) {
        // The engine's cost per search grows with the subject it is given, not only with the bytes it reaches
        // before the first match (a caseless literal showed it: ten times slower over 512 KiB than line by line),
        // so a regular expression is given windows of whole lines of about 32 KiB.
        size_t stop = len;
        if (!useLiterals_ && len - pos > kWindow) {
            stop = pos + kWindow + findNewline(data + pos + kWindow, len - pos - kWindow);
            if (stop < len) ++stop;
        }
        size_t at = 0;
        const int r = findInBlock(data + pos, stop - pos, &at);
        if (r < 0) {
            // The match limit covers one search; line by line each line has a limit of its own, as before.
            searchLines(data + pos, stop - pos);
            pos = stop;
            continue;
        }
        // `^` also matches after a final newline, where no line starts.
        if (r == 0 || (pos + at == stop && data[stop - 1] == '\n')) {
            skipLines(data + pos, stop - pos);
            pos = stop;
            continue;
        }
        at += pos;
        const size_t start = pos + lineStartBefore(data + pos, at - pos);
        const size_t end = at + findNewline(data + at, len - at);
        skipLines(data + pos, start - pos);
        if (stopFile_) return;
        ++lineNo_;
        if (!o_.invert && !select(data + start, end - start)) stopFile_ = true;
        if (stdoutFailed()) stopFile_ = true;
        pos = end + 1;
    }
}

bool Grep::file(const std::string& label, std::FILE* f, bool showName) {
    label_ = label;
    showName_ = showName;
    binary_ = stopFile_ = false;
    ok_ = true;
    lineNo_ = selected_ = 0;
    LineBlockReader reader(f);
    const Kel8u* data = nullptr;
    size_t len = 0;
    while (!stopFile_ && !stdoutFailed() && reader.next(&data, &len)) {
        if (!o_.text && !binary_ && std::memchr(data, 0, len)) {
            binary_ = true;
            // -I: a binary file holds no match; its lines are not looked at further.
            if (o_.binaryNoMatch) {
                selected_ = 0;
                break;
            }
        }
        literals_.reset();
        required_.reset();
        searchBlock(data, len);
    }
    if (o_.count && !o_.quiet) {
        if (showName_) {
            printName();
            if (o_.color) {
                std::printf("%s:%s", kSepStart, kColorEnd);
            } else {
                std::fputc(':', stdout);
            }
        }
        std::printf("%lld\n", selected_);
    }
    if ((o_.listMatching && selected_ > 0) || (o_.listOther && selected_ == 0)) {
        if (!o_.quiet) {
            printName();
            std::fputc('\n', stdout);
        }
    }
    selectedTotal_ += selected_;
    return ok_;
}

// A pattern with newlines is several patterns, one per line, as grep splits them.
void addPatterns(const std::string& value, std::vector<std::string>* pPatterns) {
    size_t from = 0;
    for (;;) {
        const size_t nl = value.find('\n', from);
        pPatterns->push_back(value.substr(from, nl == std::string::npos ? nl : nl - from));
        if (nl == std::string::npos) return;
        from = nl + 1;
    }
}

}  // namespace

int cmdGrep(int argc, char** argv) {
    GrepOptions o;
    InputWalk walk;
    std::vector<std::string> patterns, operands;
    bool patternGiven = false, noName = false, withName = false, derefRecursive = false;
    std::string colorWhen = "auto";
    const std::vector<OptionRule> rules = {
        {'e', "regexp", nullptr, true,
         [&](const std::string& v) {
             addPatterns(v, &patterns);
             patternGiven = true;
             return true;
         }},
        {'F', "fixed-strings", &o.fixed},
        {'i', "ignore-case", &o.caseless},
        {'w', "word-regexp", &o.word},
        {'x', "line-regexp", &o.wholeLine},
        {'v', "invert-match", &o.invert},
        {'c', "count", &o.count},
        {'n', "line-number", &o.number},
        {'o', "only-matching", &o.only},
        {'l', "files-with-matches", &o.listMatching},
        {'L', "files-without-match", &o.listOther},
        {'H', "with-filename", &withName},
        {'h', "no-filename", &noName},
        {'q', "quiet", &o.quiet},
        {'s', "no-messages", &walk.quietErrors},
        {'r', "recursive", &walk.recursive},
        {'R', "dereference-recursive", &derefRecursive},
        {'a', "text", &o.text},
        {'I', nullptr, &o.binaryNoMatch},
        {0, "color", nullptr, false,
         [&](const std::string& v) {
             colorWhen = v.empty() ? "auto" : v;
             if (colorWhen == "yes" || colorWhen == "force") colorWhen = "always";
             if (colorWhen == "no" || colorWhen == "none") colorWhen = "never";
             if (colorWhen == "tty" || colorWhen == "if-tty") colorWhen = "auto";
             if (colorWhen == "always" || colorWhen == "never" || colorWhen == "auto") return true;
             reportError("grep: invalid argument '" + v + "' for --color (always, never or auto)");
             return false;
         },
         true},
    };
    const int end = parseCommandLine(argc, argv, "grep", rules, printGrepUsage, &operands);
    if (end >= 0) return end;
    if (derefRecursive) walk.recursive = walk.followLinks = true;
    // The later of -H and -h would win in grep; given together here, -h does.
    if (withName || noName) o.withName = noName ? 0 : 1;
    if (!patternGiven) {
        if (operands.empty()) {
            printGrepUsage(stderr);
            return kExitUsage;
        }
        addPatterns(operands.front(), &patterns);
        operands.erase(operands.begin());
    }
    if (colorWhen == "always") {
        o.color = true;
    } else if (colorWhen == "auto") {
        const char* term = std::getenv("TERM");
        o.color = isatty(STDOUT_FILENO) && term && std::strcmp(term, "dumb") != 0;
    }
    // -q stops at the first selected line and -l / -L at a file's first; either way nothing is counted.
    if (o.quiet || o.listMatching || o.listOther) o.count = false;
    Grep grep(o);
    if (!grep.init(patterns)) return kExitUsage;
    // Output in large pieces: with many short selected lines the writes, not the search, would set the pace.
    static char outBuf[1 << 16];
    std::setvbuf(stdout, outBuf, _IOFBF, sizeof outBuf);
    const bool manyInputs = operands.size() > 1;
    bool ok = true;
    const bool inputsOk =
        forEachInput(operands, walk, [&](const std::string& label, std::FILE* f, bool underDirectory) {
            const bool showName = o.withName >= 0 ? o.withName == 1 : manyInputs || underDirectory;
            ok = grep.file(label, f, showName) && ok;
            return !grep.quitNow() && !stdoutFailed();
        });
    ok = ok && inputsOk;
    if (o.quiet && grep.selected() > 0) return finishStdout(kExitOk);
    return finishStdout(!ok ? kExitTrouble : grep.selected() > 0 ? kExitOk : kExitFailure);
}

}  // namespace kel::app
