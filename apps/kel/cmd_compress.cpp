// apps/kel/cmd_compress.cpp - `kel c`: compress files as gzip does, in one of several formats chosen with -f.
//
// Each FILE becomes FILE plus the format's suffix, written under a temporary name in the same directory and
// renamed into place only when complete, so an error never leaves a partial output behind; the input is removed
// afterwards unless -k or -c is given. Without FILE (or for "-") standard input is compressed to standard output.
// Formats are rows of kFormats: the library does the work, a row says what the tool lets a user ask of it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "kel/output_file.h"
#include "kel/stream_util.h"
#include "kelstream.h"

namespace kel::app {
namespace {

// What the output may record about its input.
struct InputInfo {
    std::string baseName;    // file name without directories; empty for standard input
    std::int64_t mtime = 0;  // seconds since 1970; 0 if unknown
};

// What a format accepts beyond a level.
enum FormatUse : unsigned {
    kUsesThreads = 1,    // -T: independent members, streams or frames compressed in parallel
    kUsesFastest = 2,    // --fast
    kUsesLz4Modes = 4,   // --hc, --linked
    kIgnoresThreads = 8  // -T is accepted and the format is written on one thread (a single stream cannot be split)
};

struct Format {
    const char* name;
    const char* suffix;
    KelStreamFormat id;
    int maxLevel;
    int defaultLevel;
    unsigned uses;
};

const Format kFormats[] = {
    {"gzip", ".gz", kelFormatGzip, 29, 6, kUsesThreads | kUsesFastest},
    {"zlib", ".zz", kelFormatZlib, 29, 6, kUsesFastest | kIgnoresThreads},
    {"deflate", ".deflate", kelFormatDeflate, 29, 6, kUsesFastest | kIgnoresThreads},
    {"lz4", ".lz4", kelFormatLz4, 9, 9, kUsesThreads | kUsesLz4Modes},
    {"bzip2", ".bz2", kelFormatBzip2, 9, 9, kUsesThreads},
    {"lzo", ".lzo", kelFormatLzop, 0, 0, 0},
    {"lzss", ".lzss", kelFormatLzss, 0, 0, 0},
};

const Format* findFormat(const std::string& name) {
    for (const Format& f : kFormats) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

void printCompressUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel c [-f FORMAT] [-l LEVEL] [--hc] [--linked] [--fast] [-T N] [-c] [-k] [-F] [FILE...]\n"
                 "Compress each FILE to FILE.SUFFIX and remove FILE; with no FILE, or when FILE is -, compress\n"
                 "standard input to standard output.\n\n"
                 "  -f FORMAT, --format=FORMAT  gzip (.gz, the default), zlib (.zz), deflate (.deflate, raw) or\n"
                 "                              lz4 (.lz4, LZ4 frames of 4 MiB blocks with a content checksum) or\n"
                 "                              bzip2 (.bz2; LEVEL 1 to 9 sets blocks of LEVEL * 100 000 bytes,\n"
                 "                              default 9), lzo (.lzo, the lzop tool's format) or lzss\n"
                 "                              (.lzss, kel's LZSS container)\n"
                 "  -l LEVEL, --level=LEVEL     gzip, zlib, deflate: 1 (fastest) to 9 (smallest) as in gzip,\n"
                 "                              default 6; 0 is the default, 10 to 29 are variants\n"
                 "  -1 ... -9                   the same as -l 1 ... -l 9\n"
                 "  --hc                        lz4: the high-compression encoder at LEVEL (1 to 9, default 9);\n"
                 "                              without it lz4 uses its fast encoder and ignores LEVEL\n"
                 "  --linked                    lz4: blocks may refer to the 64 KiB before them\n"
                 "  --fast                      gzip, zlib, deflate: the fastest mode (one hash probe per byte,\n"
                 "                              codes from sampled counts), ignoring LEVEL; about 1.7 times\n"
                 "                              the speed of -1, output about a tenth larger\n"
                 "  -T N, --threads=N           gzip, bzip2, lz4: compress independent pieces on N threads,\n"
                 "                              each a complete member, stream or frame (the standard tools\n"
                 "                              decode the concatenation); zlib and deflate use one thread\n"
                 "  -c, --stdout                write to standard output, keep the input files\n"
                 "  -k, --keep                  keep the input files\n"
                 "  -F, --force                 overwrite existing outputs, compress files that already have the\n"
                 "                              suffix, symbolic links and files with other links, write\n"
                 "                              compressed data to a terminal\n"
                 "-f always takes a format name; an unknown name is an error and no file is touched. An option\n"
                 "that does not apply to the format (--hc with bzip2, -T with lzo) is an error too.\n"
                 "Exit status: 0 success, 1 a file could not be compressed, 2 usage error.\n");
}

struct Options {
    const Format* format = &kFormats[0];
    int level = -1;
    bool toStdout = false;
    bool keep = false;
    bool force = false;
    bool highCompression = false;
    bool linkedBlocks = false;
    bool fastest = false;
    int threads = 1;
    std::vector<std::string> files;
};

bool parseLevel(const std::string& text, int& level) {
    if (text.empty() || text.size() > 3) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    level = std::stoi(text);
    return true;
}

int usageError(const std::string& what) {
    return reportUsageError("c", what);
}

// Options that the chosen format would silently ignore are refused: a user who asks for --hc with bzip2 or four
// threads for lzo expects something the output will not have.
int checkApplies(const Options& o) {
    const Format& f = *o.format;
    const std::string name = f.name;
    if ((o.highCompression || o.linkedBlocks) && !(f.uses & kUsesLz4Modes)) {
        return usageError(std::string(o.highCompression ? "--hc" : "--linked") + " applies to lz4 only, not " + name);
    }
    if (o.fastest && !(f.uses & kUsesFastest))
        return usageError("--fast applies to gzip, zlib and deflate, not " + name);
    if (o.threads > 1 && !(f.uses & (kUsesThreads | kIgnoresThreads))) {
        return usageError("-T applies to gzip, bzip2 and lz4; " + name + " is written on one thread");
    }
    if (o.level > f.maxLevel) {
        return usageError("level " + std::to_string(o.level) + " is out of range for " + name + " (0 to " +
                          std::to_string(f.maxLevel) + ")");
    }
    return kExitOk;
}

// Returns kExitOk, or kExitUsage after reporting the problem.
int parseOptions(int argc, char** argv, Options& o, bool& helpShown) {
    helpShown = false;
    bool optionsDone = false;
    auto setFormat = [&](const std::string& name) {
        o.format = findFormat(name);
        return o.format != nullptr;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a == "-" || a.empty() || a[0] != '-') {
            o.files.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--help" || a == "-h") {
            printCompressUsage(stdout);
            helpShown = true;
            return kExitOk;
        } else if (a == "--stdout") {
            o.toStdout = true;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--force") {
            o.force = true;
        } else if (a == "--hc") {
            o.highCompression = true;
        } else if (a == "--linked") {
            o.linkedBlocks = true;
        } else if (a == "--fast") {
            o.fastest = true;
        } else if (a == "-T" || a.rfind("--threads", 0) == 0 || (a.rfind("-T", 0) == 0 && a.size() > 2)) {
            std::string text;
            if (a == "-T" || a == "--threads") {
                if (i + 1 >= argc) return usageError(a + " needs a number");
                text = argv[++i];
            } else if (a.rfind("--threads=", 0) == 0) {
                text = a.substr(10);
            } else if (a.rfind("-T", 0) == 0) {
                text = a.substr(2);
            } else {
                return usageError("unknown option '" + a + "'");
            }
            if (!parseThreadCount(text, &o.threads)) return usageError("invalid thread count '" + text + "'");
        } else if (a.rfind("--format", 0) == 0) {
            std::string name = a.size() > 8 && a[8] == '=' ? a.substr(9) : "";
            if (a.size() == 8) {
                if (i + 1 >= argc) return usageError("--format needs a format name");
                name = argv[++i];
            } else if (a[8] != '=') {
                return usageError("unknown option '" + a + "'");
            }
            if (!setFormat(name)) return usageError("unknown format '" + name + "'");
        } else if (a.rfind("--level", 0) == 0) {
            std::string text;
            if (a.size() == 7) {
                if (i + 1 >= argc) return usageError("--level needs a number");
                text = argv[++i];
            } else if (a[7] == '=') {
                text = a.substr(8);
            } else {
                return usageError("unknown option '" + a + "'");
            }
            if (!parseLevel(text, o.level)) return usageError("invalid level '" + text + "'");
        } else if (a.size() == 2 && a[1] >= '1' && a[1] <= '9') {
            o.level = a[1] - '0';
        } else if (a.rfind("-l", 0) == 0) {
            std::string text = a.substr(2);
            if (text.empty()) {
                if (i + 1 >= argc) return usageError("-l needs a number");
                text = argv[++i];
            }
            if (!parseLevel(text, o.level)) return usageError("invalid level '" + text + "'");
        } else if (a.rfind("-f", 0) == 0) {
            // -f always takes a format name: falling back to --force when the name is mistyped would overwrite
            // outputs and remove inputs the user meant to keep.
            std::string name = a.substr(2);
            if (name.empty()) {
                if (i + 1 >= argc) return usageError("-f needs a format name");
                name = argv[++i];
            }
            if (!setFormat(name)) {
                struct stat st;
                const bool isFile = stat(name.c_str(), &st) == 0;
                return usageError("unknown format '" + name + "'" + (isFile ? " (to force, use --force or -F)" : ""));
            }
        } else if (a.find_first_not_of("ckF", 1) == std::string::npos) {
            for (std::size_t k = 1; k < a.size(); ++k) {
                if (a[k] == 'c') o.toStdout = true;
                if (a[k] == 'k') o.keep = true;
                if (a[k] == 'F') o.force = true;
            }
        } else {
            return usageError("unknown option '" + a + "'");
        }
    }
    if (o.level < 0) o.level = o.format->defaultLevel;
    return checkApplies(o);
}

// The stream options for one input. Levels keep the meaning the tool has always given them: bzip2's 0 is its
// smallest block size, as before, where the library would take 0 as its default of 9.
KelStreamOptions streamOptions(const Options& o, const InputInfo& info) {
    KelStreamOptions so;
    kelStreamDefaultOptions(&so);
    so.level = o.level;
    switch (o.format->id) {
        case kelFormatGzip:
        case kelFormatZlib:
        case kelFormatDeflate:
            // The fastest mode records level 1 in the headers, as gzip -1 does.
            if (o.fastest) so.level = 1;
            so.fastest = o.fastest;
            break;
        case kelFormatLz4:
            so.lz4HighCompression = o.highCompression;
            so.lz4Linked = o.linkedBlocks;
            if (!o.highCompression) so.level = 0;
            break;
        case kelFormatBzip2:
            if (so.level == 0) so.level = 1;
            break;
        case kelFormatLzop:
            // lzop records the mode; kel has always stored plain 0644 for every file.
            so.mode = 0644;
            break;
        default:
            break;
    }
    if (o.format->uses & kUsesThreads) so.threads = o.threads;
    if (!info.baseName.empty()) so.name = info.baseName.c_str();
    so.mtime = info.mtime;
    return so;
}

bool writeAll(std::FILE* f, const std::uint8_t* p, std::size_t n) {
    return n == 0 || std::fwrite(p, 1, n, f) == n;
}

void reportWriteError(const std::string& outLabel) {
    reportError(outLabel + ": write error: " + std::strerror(errno ? errno : EIO));
}

// One input through a new stream of the options' format into out. Reports its own errors, naming the input for
// what the compressor says and the output for failed writes.
bool compressWith(std::FILE* in, std::FILE* out, const Options& o, const InputInfo& info, const std::string& label,
                  const std::string& outLabel, std::uint64_t totalBytes) {
    const KelStreamOptions so = streamOptions(o, info);
    KelStream* raw = nullptr;
    const KelStreamResult created = kelStreamCreate(&raw, o.format->id, kelCompress, &so);
    StreamPtr stream(raw);
    if (created < 0) {
        reportError(label + ": " + streamFailure(nullptr, created));
        return false;
    }
    Progress progress(label, totalBytes);
    std::vector<std::uint8_t> inBuf(std::size_t(1) << 20), outBuf(std::size_t(1) << 20);
    bool atEnd = false;
    for (;;) {
        std::size_t len = 0;
        if (!atEnd) {
            len = std::fread(inBuf.data(), 1, inBuf.size(), in);
            if (len < inBuf.size()) {
                if (std::ferror(in)) {
                    reportError(label + ": read error: " + std::strerror(errno ? errno : EIO));
                    return false;
                }
                atEnd = true;
            }
            progress.advance(len);
        }
        const KelStreamFlush flush = atEnd ? kelFlushFinish : kelFlushNone;
        std::size_t pos = 0;
        for (;;) {
            std::size_t consumed = len - pos, produced = outBuf.size();
            const KelStreamResult r =
                kelStreamProcess(stream.get(), inBuf.data() + pos, &consumed, outBuf.data(), &produced, flush);
            pos += consumed;
            if (!writeAll(out, outBuf.data(), produced)) {
                reportWriteError(outLabel);
                return false;
            }
            if (r < 0) {
                reportError(label + ": " + streamFailure(stream.get(), r));
                return false;
            }
            if (r == kelStreamEnd) {
                if (std::fflush(out) != 0) {
                    reportWriteError(outLabel);
                    return false;
                }
                return true;
            }
            if (pos == len && flush == kelFlushNone) break;
            if (consumed == 0 && produced == 0) {
                // Room was given: a call that does nothing would loop for ever.
                reportError(label + ": " + kelStreamResultText(kelStreamErrLibrary) +
                            ": the compressor made no progress");
                return false;
            }
        }
    }
}

std::string baseName(const std::string& path) {
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool compressStdin(const Options& o) {
    if (!o.force && isatty(STDOUT_FILENO)) {
        reportError("compressed data not written to a terminal; use --force to force");
        return false;
    }
    return compressWith(stdin, stdout, o, InputInfo{}, "stdin", "stdout", 0);
}

bool compressFile(const std::string& name, const Options& o) {
    struct stat lst, st;
    if (!statInput(name, &lst, &st)) return false;
    if (!S_ISREG(st.st_mode)) {
        reportError(name + ": not a regular file");
        return false;
    }
    const bool replacing = !o.force && !o.toStdout;
    if (replacing && !inputMayBeReplaced(name, lst, st, "compress")) return false;
    const std::string suffix = o.format->suffix;
    if (replacing && endsWith(name, suffix)) {
        reportError(name + " already has the " + suffix + " suffix; use --force to compress it again");
        return false;
    }
    std::FILE* in = std::fopen(name.c_str(), "rb");
    if (!in) {
        reportError(name + ": " + std::strerror(errno));
        return false;
    }
    InputInfo info;
    info.baseName = baseName(name);
    info.mtime = st.st_mtime > 0 && st.st_mtime <= 0xFFFFFFFF ? std::int64_t(st.st_mtime) : 0;
    const std::uint64_t totalBytes = std::uint64_t(st.st_size);

    if (o.toStdout) {
        if (!o.force && isatty(STDOUT_FILENO)) {
            std::fclose(in);
            reportError("compressed data not written to a terminal; use --force to force");
            return false;
        }
        const bool ok = compressWith(in, stdout, o, info, name, "stdout", totalBytes);
        std::fclose(in);
        return ok;
    }

    const std::string outName = name + suffix;
    struct stat existing;
    OutputFile out;
    bool ok = false;
    if (!o.force && lstat(outName.c_str(), &existing) == 0) {
        reportOutputExists(outName);
    } else if (out.open(outName)) {
        // The output takes the input's permissions and times, as gzip does.
        ok = compressWith(in, out.file(), o, info, name, outName, totalBytes) && out.commit(st, 0, o.force);
    }
    std::fclose(in);
    if (!ok) return false;
    if (!o.keep && unlink(name.c_str()) != 0) {
        reportError(name + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

}  // namespace

int cmdCompress(int argc, char** argv) {
    Options o;
    bool helpShown;
    const int parsed = parseOptions(argc, argv, o, helpShown);
    if (parsed != kExitOk || helpShown) return parsed;
    if (o.files.empty()) o.files.push_back("-");
    installTempFileCleanup();
    int status = kExitOk;
    for (const std::string& name : o.files) {
        const bool ok = name == "-" ? compressStdin(o) : compressFile(name, o);
        if (!ok) status = kExitFailure;
    }
    return status;
}

}  // namespace kel::app
