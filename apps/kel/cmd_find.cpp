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
#include "kel/text_options.h"
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

// Prints the occurrences in one input and adds them to *pFound; false when a write failed.
bool findInFile(const std::string& label, std::FILE* f, const std::string& pattern, bool prefixName,
                long long* pFound) {
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
                std::printf("%s:%lld\n", label.c_str(), offset);
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
    return !stdoutFailed();
}

}  // namespace

int cmdFind(int argc, char** argv) {
    std::vector<std::string> args;
    const int end = parseCommandLine(argc, argv, "find", {}, printFindUsage, &args);
    if (end >= 0) return end;
    if (args.empty() || args[0].empty()) {
        reportError("find: a non-empty PATTERN is required");
        printFindUsage(stderr);
        return kExitUsage;
    }
    const std::string pattern = args[0];
    const std::vector<std::string> files(args.begin() + 1, args.end());
    // Statuses as grep's: 0 when something was found, 1 when nothing was, 2 when a file could not be read.
    long long found = 0;
    const bool ok = forEachInput(files, InputWalk(), [&](const std::string& label, std::FILE* f, bool) {
        return findInFile(label, f, pattern, files.size() > 1, &found);
    });
    return finishStdout(!ok ? kExitTrouble : found > 0 ? kExitOk : kExitFailure);
}

}  // namespace kel::app
