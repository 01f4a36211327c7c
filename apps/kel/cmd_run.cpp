// apps/kel/cmd_run.cpp - `kel run -- COMMAND [ARGS...]`: runs an unmodified program with kel's zlib and libbz2
// (libkelz, libkelbz2) preloaded, so its zlib and libbz2 calls run on kel's engines.
//
// The two libraries carry the system libraries' sonames, so once preloaded they also satisfy the program's own
// NEEDED entries for libz.so.1 and libbz2.so.1.0: the system copies are never loaded beside them. They are looked
// for next to the tool (<bindir>/<lib>/kel when installed) and then in the build tree the tool came from.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kel/commands.h"
#include "kel/io_util.h"

namespace kel::app {

namespace {

constexpr const char* kPreloaded[] = {"libz.so.1", "libbz2.so.1.0"};

void printRunUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel run [--print] [--] COMMAND [ARGS...]\n\n"
                 "Runs COMMAND with kel's zlib (libz.so.1) and libbz2 (libbz2.so.1.0) preloaded, so a program\n"
                 "linked against zlib or libbz2 compresses and decompresses with kel without being rebuilt.\n\n"
                 "  --print   print the LD_PRELOAD value that would be used, and run nothing\n");
}

bool isFile(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

// The directory that holds both libraries, or "" when there is none.
std::string findLibraryDir() {
    std::string candidates[2];
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string exe(self, static_cast<std::size_t>(n));
        const std::string libDir = KEL_LIB_FROM_BIN;
        candidates[0] = (libDir[0] == '/' ? libDir : exe.substr(0, exe.rfind('/')) + "/" + libDir) + "/kel";
    }
    candidates[1] = KEL_BUILD_PRELOAD_DIR;
    for (const std::string& dir : candidates) {
        if (dir.empty()) continue;
        bool all = true;
        for (const char* lib : kPreloaded) all = all && isFile(dir + "/" + lib);
        char clean[PATH_MAX];
        if (all) return realpath(dir.c_str(), clean) ? std::string(clean) : dir;
    }
    return "";
}

}  // namespace

int cmdRun(int argc, char** argv) {
    int first = 1;
    bool printOnly = false;
    for (; first < argc && argv[first][0] == '-'; ++first) {
        if (!std::strcmp(argv[first], "--")) {
            ++first;
            break;
        }
        if (!std::strcmp(argv[first], "--help") || !std::strcmp(argv[first], "-h")) {
            printRunUsage(stdout);
            return finishStdout(kExitOk);
        }
        if (!std::strcmp(argv[first], "--print")) {
            printOnly = true;
            continue;
        }
        return reportUsageError("run", std::string("unknown option '") + argv[first] + "'");
    }
    if (first >= argc && !printOnly) return reportUsageError("run", "no command given");

    const std::string dir = findLibraryDir();
    if (dir.empty()) {
        reportError("run: kel's libz.so.1 and libbz2.so.1.0 were not found next to the tool");
        return kExitTrouble;
    }
    // Ours go first; whatever the caller already preloads stays after them.
    std::string preload;
    for (const char* lib : kPreloaded) preload += (preload.empty() ? "" : ":") + dir + "/" + lib;
    if (const char* old = std::getenv("LD_PRELOAD"); old && *old) preload += std::string(":") + old;
    if (printOnly) {
        std::printf("%s\n", preload.c_str());
        return finishStdout(kExitOk);
    }
    setenv("LD_PRELOAD", preload.c_str(), 1);
    execvp(argv[first], argv + first);
    // As env(1) and the shells: 127 when the command does not exist, 126 when it cannot be run.
    const int err = errno;
    reportError(std::string("run: ") + argv[first] + ": " + std::strerror(err));
    return err == ENOENT ? 127 : 126;
}

}  // namespace kel::app
