// apps/kel/cmd_find.cpp - `kel find`: the byte offset of every occurrence of a fixed string in files.
//
// Files are read in 1 MiB pieces; each piece is searched after the last PATTERN-length - 1 bytes of the previous
// one, so an occurrence that straddles two pieces is found once (it cannot fit in the carried bytes alone).
// Occurrences may overlap: after a hit the search resumes one byte further on.
#include <cstdio>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kelch.h"

namespace kel::app {
namespace {

constexpr size_t kPiece = 1 << 20;

void printFindUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel find PATTERN [FILE...]\n"
                 "Print the byte offset (from 0) of every occurrence of PATTERN, taken as a fixed string of bytes,\n"
                 "in each FILE (standard input when there is none, or for -), one per line; overlapping occurrences\n"
                 "are all printed. With more than one FILE each line reads FILE:OFFSET.\n"
                 "Exit status: 0 if PATTERN was found, 1 if not, 2 on an error.\n");
}

// Returns false on a read error; adds the occurrences found to *pFound.
bool findInFile(const std::string& name, const std::string& pattern, bool prefixName, long long* pFound) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    const Kel8u* pat = reinterpret_cast<const Kel8u*>(pattern.data());
    const int patLen = static_cast<int>(pattern.size());
    const size_t keep = pattern.size() - 1;
    std::vector<Kel8u> buf(keep + kPiece);
    size_t have = 0;     // bytes in buf
    long long base = 0;  // file offset of buf[0]
    size_t n;
    // A failed write ends the search: there is no point reading on into a full disk or a closed pipe.
    while (!stdoutFailed() && (n = std::fread(buf.data() + have, 1, kPiece, f)) > 0) {
        have += n;
        int from = 0;
        int index;
        while (kelsFind_8u(buf.data() + from, static_cast<int>(have) - from, pat, patLen, &index) == kelStatusOk &&
               index >= 0) {
            const long long offset = base + from + index;
            if (prefixName) {
                std::printf("%s:%lld\n", name.c_str(), offset);
            } else {
                std::printf("%lld\n", offset);
            }
            ++*pFound;
            from += index + 1;
        }
        if (have > keep) {
            for (size_t i = 0; i < keep; ++i) buf[i] = buf[have - keep + i];
            base += static_cast<long long>(have - keep);
            have = keep;
        }
    }
    const bool ok = !std::ferror(f);
    if (!ok) reportError(name + ": read error");
    if (f != stdin) std::fclose(f);
    return ok;
}

}  // namespace

int cmdFind(int argc, char** argv) {
    std::vector<std::string> args;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printFindUsage(stdout);
            return finishStdout(kExitOk);
        } else if (!optionsDone && a.size() > 1 && a[0] == '-' && args.empty()) {
            reportError("find: unknown option '" + a + "' (use -- before a pattern that starts with -)");
            return kExitUsage;
        } else {
            args.push_back(a);
        }
    }
    if (args.empty() || args[0].empty()) {
        reportError("find: a non-empty PATTERN is required");
        printFindUsage(stderr);
        return kExitUsage;
    }
    const std::string pattern = args[0];
    std::vector<std::string> files(args.begin() + 1, args.end());
    if (files.empty()) files.push_back("-");
    // Statuses as grep's: 0 when something was found, 1 when nothing was, 2 when a file could not be read.
    long long found = 0;
    bool ok = true;
    for (size_t i = 0; i < files.size() && !stdoutFailed(); ++i) {
        ok = findInFile(files[i], pattern, files.size() > 1, &found) && ok;
    }
    return finishStdout(!ok ? kExitTrouble : found > 0 ? kExitOk : kExitFailure);
}

}  // namespace kel::app
