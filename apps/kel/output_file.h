// apps/kel/output_file.h - how `kel c` and `kel d` turn an input file into an output file beside it, as gzip does:
// which inputs may be replaced, which outputs may be written, and an output that appears under its name only when
// it is complete.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kel::app {

// lstat and stat of an input named on the command line; reports "kel: NAME: reason" and returns false on failure.
bool statInput(const std::string& name, struct stat* pLink, struct stat* pTarget);

// Whether an input may be replaced by its converted copy without --force. A symbolic link or a file with other
// hard links is refused, as gzip refuses them: removing it after writing the copy would cut it from what it points
// to or shares its data with. verb ("compress", "decompress") completes the hint to --force.
bool inputMayBeReplaced(const std::string& name, const struct stat& link, const struct stat& target, const char* verb);

// Reports "kel: NAME already exists; use --force to overwrite".
void reportOutputExists(const std::string& name);

// Whether s ends with suffix and has something before it.
bool endsWith(const std::string& s, const std::string& suffix);

// An output file written under a temporary name in its target's directory and moved to the target only by
// commit(), so that a failure or a signal (through createTempFile's cleanup) never leaves a partial output behind.
// Every failure is reported, naming the target. Destroying an uncommitted file removes it.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { abort(); }

    // Creates the temporary file for target. Only one output is open at a time (the signal cleanup holds one name).
    bool open(const std::string& target);

    bool isOpen() const { return file_ != nullptr; }
    std::FILE* file() const { return file_; }
    const std::string& target() const { return target_; }

    // Writes n bytes; false after reporting "TARGET: write error: reason".
    bool write(const std::uint8_t* p, std::size_t n);

    // Flushes the data, gives the file the permissions and access and modification times of from (the
    // modification time replaced by mtime when mtime > 0, for formats that store one), closes it and moves it to
    // the target. With replace the target is overwritten if it exists; without, an existing target - also one that
    // appeared since it was checked - is left alone and the output is dropped.
    bool commit(const struct stat& from, std::int64_t mtime, bool replace);

    // Closes and removes an uncommitted temporary file; nothing if none is open.
    void abort();

private:
    bool fail(const std::string& why);

    std::FILE* file_ = nullptr;
    std::string tmpName_, target_;
};

}  // namespace kel::app
