// apps/kel/text_options.h - what kel find, kel grep and kel replace share: the command line as GNU tools read it,
// the inputs they read (files, standard input, directories with -r) and the reading of text in blocks of whole
// lines.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "kelch.h"

namespace kel::app {

// One option of a command: a short letter (0 for none) and a long name (null for none). A plain switch sets *flag;
// any other option runs action with its value (empty for an option without one), which returns false to refuse it
// (after reporting why). optionalValue: a long option that may stand alone or take "=VALUE" ("--color[=WHEN]").
struct OptionRule {
    char shortName;
    const char* longName;
    bool* flag;
    bool takesValue = false;
    std::function<bool(const std::string& value)> action = nullptr;
    bool optionalValue = false;
};

// Reads the command line as GNU tools do: options may come anywhere before `--` (operands and options mix),
// short options cluster (-inv) and take their value attached or as the next word (-ePAT, -e PAT), long options
// take theirs after `=` or as the next word, and a lone `-` is an operand (standard input). `--help` prints the
// usage on stdout. Returns -1 when the command is to go on with *pOperands, else the status to end with: 0 after
// --help, 2 after an unknown option, a missing value or a refused one ("kel: COMMAND: ..." on stderr).
int parseCommandLine(int argc, char** argv, const std::string& command, const std::vector<OptionRule>& rules,
                     void (*printUsage)(std::FILE*), std::vector<std::string>* pOperands);

// The name under which an input is shown: "(standard input)" for "-", as grep names it, else the name itself.
std::string inputLabel(const std::string& name);

// How operands become inputs. Without recursion a directory operand is an error ("Is a directory"). With it, a
// directory is searched through, in the order the directory lists its entries, and the symbolic links met inside
// are followed only with followLinks (grep -R; grep -r follows only those named on the command line).
struct InputWalk {
    bool recursive = false;
    bool followLinks = false;
    bool quietErrors = false;  // grep -s: no message for missing or unreadable files (the status still says so)
};

// Calls onFile(label, file, underDirectory) for each input, opened for reading (underDirectory: found by the
// walk inside a directory operand); a missing or unreadable one is reported
// ("kel: NAME: reason") and skipped. With recursion and no operands the working directory is searched, its files
// named without a leading "./" as grep names them. onFile returns false to stop the walk (a failed write).
// Returns false when any input could not be opened or read.
bool forEachInput(const std::vector<std::string>& operands, const InputWalk& walk,
                  const std::function<bool(const std::string& label, std::FILE* f, bool underDirectory)>& onFile);

// Reads a file in blocks of whole lines: each block ends just after a newline, except the last one of the file,
// which ends where the file does. A line longer than a block makes the block grow until the line ends, so no line
// is ever cut. Blocks stay valid until the next call.
class LineBlockReader {
public:
    explicit LineBlockReader(std::FILE* f, size_t blockSize = size_t{1} << 19);

    // The next block in *pData, *pLen (not empty); false at the end of the file or on a read error (see failed()).
    bool next(const Kel8u** pData, size_t* pLen);
    bool failed() const { return failed_; }

private:
    std::FILE* f_;
    std::vector<Kel8u> buf_;
    size_t begin_ = 0, end_ = 0;  // buf_[begin_, end_) are bytes read and not yet handed out
    bool eof_ = false, failed_ = false;
};

// Calls onLine(line, len) for each line of a block (without its newline); a block's last line need not end with
// one. onLine returns false to stop.
void forEachLine(const Kel8u* data, size_t len, const std::function<bool(const Kel8u* line, size_t len)>& onLine);

// The offset of the first newline in data[0, len), or len when there is none (library byte search).
size_t findNewline(const Kel8u* data, size_t len);
// The offset just past the last newline in data[0, len), or 0 when there is none.
size_t lineStartBefore(const Kel8u* data, size_t len);

}  // namespace kel::app
