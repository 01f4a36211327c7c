// apps/kel/main.cpp - the kel command-line tool: one subcommand per library family, built on the public API only.
#include <cstdio>
#include <cstring>

#include "kel/commands.h"
#include "kel/io_util.h"

namespace {

struct Subcommand {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

constexpr Subcommand kSubcommands[] = {
    {"c", kel::app::cmdCompress, "compress files to gzip, zlib, deflate, lz4, bzip2, lzo or lzss (like gzip)"},
    {"d", kel::app::cmdDecompress, "decompress .gz, .zz, .deflate, .lz4, .bz2, .lzo and .lzss files (like gzip -d)"},
    {"demo", kel::app::cmdDemo, "run every family over the bundled sample data and print a table"},
    {"find", kel::app::cmdFind, "print the byte offsets of a fixed string in files"},
    {"grep", kel::app::cmdGrep, "print the lines of files that match a regular expression (like grep -P)"},
    {"iconv", kel::app::cmdIconv, "convert text between UTF-8, UTF-16LE and UTF-16BE"},
    {"regex", kel::app::cmdRegex, "compile a regular expression and list its node program (--dump)"},
    {"replace", kel::app::cmdReplace, "replace regular-expression matches in files and print the text"},
    {"run", kel::app::cmdRun, "run a program with kel's zlib and libbz2 preloaded (kel run -- COMMAND...)"},
    {"sum", kel::app::cmdSum, "print Adler-32 / CRC-32 / CRC-32C / bzip2 CRC checksums of files"},
    {"version", kel::app::cmdVersion, "print the versions of kel and both libraries (also kel --version)"},
};

void printUsage(std::FILE* out) {
    std::fprintf(out, "Usage: kel COMMAND [ARGS...]\n\nCommands:\n");
    for (const auto& c : kSubcommands) std::fprintf(out, "  %-10s %s\n", c.name, c.summary);
    std::fprintf(out, "\nRun 'kel COMMAND --help' for the options of a command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return kel::app::kExitUsage;
    }
    if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        printUsage(stdout);
        return kel::app::kExitOk;
    }
    if (!std::strcmp(argv[1], "--version")) return kel::app::cmdVersion(1, argv + 1);
    for (const auto& c : kSubcommands) {
        if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
    }
    kel::app::reportError(std::string("'") + argv[1] + "' is not a kel command; see 'kel --help'");
    return kel::app::kExitUsage;
}
