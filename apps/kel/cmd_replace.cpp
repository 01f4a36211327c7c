// apps/kel/cmd_replace.cpp - `kel replace`: replace matches of a regular expression and write the text to stdout.
//
// The input is handled line by line (lines may be longer than the 1 MiB read piece: an unfinished line is carried
// into the next piece). Each line is replaced with its newline excluded; the output buffer starts at twice the
// line and doubles whenever the library stops before a piece that does not fit, resuming from the reported
// consumed length.
#include <cstdio>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kelch.h"

namespace kel::app {
namespace {

constexpr size_t kPiece = 1 << 20;
constexpr int kRecords = 1 << 16;

void printReplaceUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel replace [-g] PATTERN TEMPLATE [FILE...]\n"
                 "Replace the first match of the regular expression PATTERN on each line of each FILE (standard\n"
                 "input when there is none, or for -) by TEMPLATE, or every match with -g, and write the text to\n"
                 "standard output. In TEMPLATE, $& is the whole match, $N group N, and a backslash takes the next\n"
                 "byte literally.\n");
}

struct Replacer {
    std::vector<std::uint8_t> pattern, tmpl;
    std::vector<RegExpMatchRecord> rec;
    RegExpState* state() { return reinterpret_cast<RegExpState*>(pattern.data()); }
    RegExpReplaceState* rstate() { return reinterpret_cast<RegExpReplaceState*>(tmpl.data()); }
};

// An empty line is written as it is: the library needs at least one subject byte.
bool replaceLine(Replacer& r, bool global, const Kel8u* line, int len) {
    std::vector<Kel8u> out(static_cast<size_t>(len) * 2 + 64);
    int at = 0;
    while (at < len) {
        int srcLen = len - at;
        int dstLen = static_cast<int>(out.size());
        int numFind = static_cast<int>(r.rec.size());
        const KelStatus st = kelsRegExpReplace_8u(line + at, &srcLen, out.data(), &dstLen, r.rec.data(), &numFind,
                                                  r.state(), r.rstate());
        if (st < 0) return false;
        if (srcLen == 0 && dstLen == 0) {
            out.resize(out.size() * 2);
            continue;
        }
        std::fwrite(out.data(), 1, static_cast<size_t>(dstLen), stdout);
        at += srcLen;
        // Without -g only the first match is replaced: whatever the call left over is copied as it is.
        if (!global && numFind > 0 && at < len) {
            std::fwrite(line + at, 1, static_cast<size_t>(len - at), stdout);
            at = len;
        }
    }
    return true;
}

bool replaceFile(Replacer& r, bool global, const std::string& name) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    std::vector<Kel8u> buf;
    std::vector<Kel8u> piece(kPiece);
    bool ok = true, eof = false;
    while (ok && !eof) {
        const size_t n = std::fread(piece.data(), 1, kPiece, f);
        if (n == 0) eof = true;
        buf.insert(buf.end(), piece.begin(), piece.begin() + static_cast<long>(n));
        size_t start = 0;
        for (size_t i = 0; i < buf.size() && ok; ++i) {
            if (buf[i] != '\n') continue;
            ok = replaceLine(r, global, buf.data() + start, static_cast<int>(i - start));
            std::fputc('\n', stdout);
            start = i + 1;
        }
        if (eof && ok && start < buf.size()) {
            ok = replaceLine(r, global, buf.data() + start, static_cast<int>(buf.size() - start));
            start = buf.size();
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<long>(start));
    }
    if (!ok) reportError(name + ": match limit exceeded");
    if (std::ferror(f)) {
        reportError(name + ": read error");
        ok = false;
    }
    if (f != stdin) std::fclose(f);
    return ok;
}

}  // namespace

int cmdReplace(int argc, char** argv) {
    bool global = false;
    std::vector<std::string> args;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printReplaceUsage(stdout);
            return kExitOk;
        } else if (!optionsDone && args.empty() && a == "-g") {
            global = true;
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
    Replacer r;
    int size = 0;
    if (kelsRegExpGetSize(args[0].c_str(), &size) != kelStatusOk) {
        reportError("replace: pattern too long");
        return kExitUsage;
    }
    r.pattern.resize(static_cast<size_t>(size));
    int errOffset = 0;
    KelStatus st = kelsRegExpInit(args[0].c_str(), global ? "g" : "", r.state(), &errOffset);
    if (st != kelStatusOk) {
        reportError("replace: bad pattern at offset " + std::to_string(errOffset) + " (status " + std::to_string(st) +
                    ")");
        return kExitUsage;
    }
    const Kel8u* tmpl = reinterpret_cast<const Kel8u*>(args[1].c_str());
    kelsRegExpReplaceGetSize(tmpl, &size);
    r.tmpl.resize(static_cast<size_t>(size));
    if (kelsRegExpReplaceInit(tmpl, r.rstate()) != kelStatusOk) {
        reportError("replace: bad group reference in the template");
        return kExitUsage;
    }
    r.rec.resize(kRecords);
    std::vector<std::string> files(args.begin() + 2, args.end());
    if (files.empty()) files.push_back("-");
    bool ok = true;
    for (const auto& f : files) ok = replaceFile(r, global, f) && ok;
    return ok ? kExitOk : kExitFailure;
}

}  // namespace kel::app
