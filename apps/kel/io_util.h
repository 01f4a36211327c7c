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

// A progress line on standard error for long runs ("kel: NAME: 42%"), shown only when standard error is a
// terminal and the run has lasted over a second; redrawn at most four times a second and erased at the end.
class Progress {
public:
    Progress(std::string label, std::uint64_t totalBytes);
    ~Progress();
    void advance(std::uint64_t bytes);

private:
    std::string label_;
    std::uint64_t total_, done_ = 0;
    double start_, lastDraw_ = 0;
    bool enabled_, drawn_ = false;
};

}  // namespace kel::app
