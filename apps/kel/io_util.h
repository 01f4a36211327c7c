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
constexpr int kExitTrouble = 2;  // the output is incomplete: a write failed, or a line could not be searched

// Prints "kel: <what>" on stderr.
void reportError(const std::string& what);

// Reports an option error of `kel COMMAND` as one line and a pointer to --help (the whole usage text would bury the
// line that matters). Returns kExitUsage.
int reportUsageError(const char* command, const std::string& what);

// The thread count of -T N: 1 to 256, in decimal digits only. False for anything else.
bool parseThreadCount(const std::string& text, int* threads);

// Standard output as GNU tools treat it: a command stops at the first failed write instead of producing the rest
// of its output into a full disk or a closed pipe, and ends with status 2 and "kel: write error: <reason>".
// stdoutFailed() is cheap enough to call after every line; it keeps the errno of the first failure, before later
// calls can overwrite it.
bool stdoutFailed();

// Flushes and closes standard output. Returns status unchanged when every write succeeded; otherwise reports the
// write error and returns 2.
int finishStdout(int status);

// Removal of a temporary output file when SIGINT, SIGTERM or SIGHUP ends the process, as gzip does: the handler
// unlinks the file and re-raises the signal with its default action, so the exit status still shows the signal.
// Signals the process ignores stay ignored.
void installTempFileCleanup();

// Creates a temporary file from a mkstemp template (ending in XXXXXX) and arms its removal on those signals. The
// signals are blocked while the file is created and the name recorded, so no signal can leave it behind. Returns
// the descriptor, or -1 with errno set; *pName receives the file's name.
int createTempFile(const std::string& nameTemplate, std::string* pName);

// Disarms the removal once the temporary file has been renamed into place or removed.
void releaseTempFile();

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
