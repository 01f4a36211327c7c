// apps/kel/io_util.h - file and error helpers shared by the kel subcommands.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kel::app {

// Exit statuses, as coreutils-style tools use them.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // a file could not be processed (the others still are)
constexpr int kExitUsage = 2;    // bad command line

// Prints "kel: <what>" on stderr.
void reportError(const std::string& what);

// Reads a whole file ("-" is standard input). Returns false and reports "kel: NAME: reason" on failure.
bool readWholeFile(const std::string& name, std::vector<std::uint8_t>& out);

// Opens a file for reading ("-" is standard input); reports the error and returns null on failure.
std::FILE* openInput(const std::string& name);

// The directory holding the bundled sample data: $KEL_DATA_DIR if set, else the source tree's bench/data.
std::string sampleDataDir();

// Seconds on a monotonic clock, for throughput figures.
double nowSeconds();

}  // namespace kel::app
