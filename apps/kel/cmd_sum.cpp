// apps/kel/cmd_sum.cpp - `kel sum`: checksums of files, one line each, like the familiar checksum tools.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "keldc.h"

namespace kel::app {
namespace {

enum class Algorithm { Adler32, Crc32, Crc32c, Bzip2Crc };

void printSumUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel sum [--adler32|--crc32|--crc32c|--bzip2-crc] [FILE...]\n"
                 "Print a checksum (8 hex digits) and the name of each FILE; with no FILE, or when FILE is -,\n"
                 "read standard input. The default is --crc32 (the gzip CRC).\n");
}

// Streams one input through the chosen checksum. Each algorithm starts and ends as its users expect: Adler-32
// from 1, the CRCs from 0, CRC-32C with the customary inversions done here (the library leaves them to the caller).
bool sumFile(const std::string& name, Algorithm alg, Kel32u& out) {
    std::FILE* f = openInput(name);
    if (!f) return false;
    Kel32u value = alg == Algorithm::Adler32 ? 1u : alg == Algorithm::Crc32c ? 0xFFFFFFFFu : 0u;
    static Kel8u buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        switch (alg) {
            case Algorithm::Adler32:
                kelsAdler32_8u(buf, int(n), &value);
                break;
            case Algorithm::Crc32:
                kelsCRC32_8u(buf, int(n), &value);
                break;
            case Algorithm::Crc32c:
                kelsCRC32C_8u(buf, Kel32u(n), &value);
                break;
            case Algorithm::Bzip2Crc:
                kelsCRC32_BZ2_8u(buf, int(n), &value);
                break;
        }
    }
    const bool ok = !std::ferror(f);
    if (!ok) reportError(name + ": read error");
    if (f != stdin) std::fclose(f);
    out = alg == Algorithm::Crc32c ? ~value : value;
    return ok;
}

}  // namespace

int cmdSum(int argc, char** argv) {
    Algorithm alg = Algorithm::Crc32;
    std::vector<std::string> files;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (!optionsDone && a == "--") {
            optionsDone = true;
        } else if (!optionsDone && a == "--help") {
            printSumUsage(stdout);
            return finishStdout(kExitOk);
        } else if (!optionsDone && a == "--adler32") {
            alg = Algorithm::Adler32;
        } else if (!optionsDone && a == "--crc32") {
            alg = Algorithm::Crc32;
        } else if (!optionsDone && a == "--crc32c") {
            alg = Algorithm::Crc32c;
        } else if (!optionsDone && a == "--bzip2-crc") {
            alg = Algorithm::Bzip2Crc;
        } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
            reportError("sum: unknown option '" + a + "'");
            printSumUsage(stderr);
            return kExitUsage;
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) files.push_back("-");
    int status = kExitOk;
    for (const auto& name : files) {
        if (stdoutFailed()) break;
        Kel32u value;
        if (!sumFile(name, alg, value)) {
            status = kExitFailure;
            continue;
        }
        std::printf("%08x  %s\n", value, name.c_str());
    }
    return finishStdout(status);
}

}  // namespace kel::app
