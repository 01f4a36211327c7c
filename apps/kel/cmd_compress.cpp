// apps/kel/cmd_compress.cpp - `kel c`: compress files as gzip does, in one of several formats chosen with -f.
//
// Each FILE becomes FILE plus the format's suffix, written under a temporary name in the same directory and
// renamed into place only when complete, so an error never leaves a partial output behind; the input is removed
// afterwards unless -k or -c is given. Without FILE (or for "-") standard input is compressed to standard output.
// Formats are rows of kFormats: a new one needs a row and a Compressor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "stream/bzip2_stream.h"
#include "stream/deflate_stream.h"
#include "stream/lz4_frame.h"
#include "stream/lzop_file.h"
#include "stream/lzss_file.h"
#include "stream/status_text.h"

namespace kel::app {
namespace {

// What a format's compressor may know about its input.
struct InputInfo {
    std::string baseName;     // file name without directories; empty for standard input
    std::uint32_t mtime = 0;  // seconds since 1970; 0 if unknown
    // lz4 only: --hc selects the slower, stronger encoder; --linked lets blocks refer to the data before them.
    bool highCompression = false;
    bool linkedBlocks = false;
    // gzip, zlib, deflate: --fast selects the single-probe fastest mode.
    bool fastest = false;
};

class Compressor {
public:
    virtual ~Compressor() = default;
    virtual KelStatus write(const std::uint8_t* src, std::size_t n) = 0;
    virtual KelStatus finish() = 0;
    // Output produced so far and not yet taken; the caller clears it after writing it out.
    virtual std::vector<std::uint8_t>& output() = 0;
};

class DeflateCompressor : public Compressor {
public:
    // The fastest mode ignores the level; its header says "fastest" (level 1).
    DeflateCompressor(DeflateFormat format, int level, const InputInfo& info)
        : stream_(format, info.fastest ? 1 : level) {
        if (format == DeflateFormat::Gzip) stream_.setGzipHeader(GzipHeaderInfo{info.baseName, info.mtime});
        if (info.fastest) stream_.setFastest();
    }
    KelStatus write(const std::uint8_t* src, std::size_t n) override { return stream_.write(src, n); }
    KelStatus finish() override { return stream_.finish(); }
    std::vector<std::uint8_t>& output() override { return stream_.output(); }

private:
    DeflateStream stream_;
};

// LZ4 frames: the fast encoder, or with --hc the high-compression encoder at the given level (0 counts as 9).
class Lz4Compressor : public Compressor {
public:
    Lz4Compressor(int level, const InputInfo& info) : writer_(options(level, info)) {}
    KelStatus write(const std::uint8_t* src, std::size_t n) override { return writer_.write(src, n); }
    KelStatus finish() override { return writer_.finish(); }
    std::vector<std::uint8_t>& output() override { return writer_.output(); }

private:
    static Lz4FrameOptions options(int level, const InputInfo& info) {
        Lz4FrameOptions o;
        o.linkedBlocks = info.linkedBlocks;
        o.hcLevel = info.highCompression ? (level > 0 ? level : Lz4FrameWriter::kMaxLevel) : 0;
        return o;
    }
    Lz4FrameWriter writer_;
};

// bzip2 files: LEVEL 1 to 9 is the block size in units of 100 000 bytes (0 counts as 1).
class Bzip2Compressor : public Compressor {
public:
    explicit Bzip2Compressor(int level) : writer_(level > 0 ? level : 1) {}
    KelStatus write(const std::uint8_t* src, std::size_t n) override { return writer_.write(src, n); }
    KelStatus finish() override { return writer_.finish(); }
    std::vector<std::uint8_t>& output() override { return writer_.output(); }

private:
    Bzip2Writer writer_;
};

// lzop files (LZO1X in 256 KiB blocks with Adler-32 checksums, as the lzop tool writes them); no levels.
class LzopCompressor : public Compressor {
public:
    explicit LzopCompressor(const InputInfo& info) : writer_(LzopOptions{info.baseName, 0644, info.mtime}) {}
    KelStatus write(const std::uint8_t* src, std::size_t n) override {
        writer_.write(src, n);
        return kelStatusOk;
    }
    KelStatus finish() override {
        writer_.finish();
        return kelStatusOk;
    }
    std::vector<std::uint8_t>& output() override { return writer_.output(); }

private:
    LzopWriter writer_;
};

// The LZSS container of kel_stream (magic, stream, length and CRC-32 trailer); no levels.
class LzssCompressor : public Compressor {
public:
    KelStatus write(const std::uint8_t* src, std::size_t n) override {
        writer_.write(src, n);
        return kelStatusOk;
    }
    KelStatus finish() override {
        writer_.finish();
        return kelStatusOk;
    }
    std::vector<std::uint8_t>& output() override { return writer_.output(); }

private:
    LzssWriter writer_;
};

struct Format {
    const char* name;
    const char* suffix;
    int maxLevel;
    int defaultLevel;
    std::unique_ptr<Compressor> (*make)(int level, const InputInfo& info);
};

const Format kFormats[] = {
    {"gzip", ".gz", DeflateStream::kMaxLevel, 6,
     [](int level, const InputInfo& info) -> std::unique_ptr<Compressor> {
         return std::make_unique<DeflateCompressor>(DeflateFormat::Gzip, level, info);
     }},
    {"zlib", ".zz", DeflateStream::kMaxLevel, 6,
     [](int level, const InputInfo& info) -> std::unique_ptr<Compressor> {
         return std::make_unique<DeflateCompressor>(DeflateFormat::Zlib, level, info);
     }},
    {"deflate", ".deflate", DeflateStream::kMaxLevel, 6,
     [](int level, const InputInfo& info) -> std::unique_ptr<Compressor> {
         return std::make_unique<DeflateCompressor>(DeflateFormat::Raw, level, info);
     }},
    {"lz4", ".lz4", Lz4FrameWriter::kMaxLevel, Lz4FrameWriter::kMaxLevel,
     [](int level, const InputInfo& info) -> std::unique_ptr<Compressor> {
         return std::make_unique<Lz4Compressor>(level, info);
     }},
    {"bzip2", ".bz2", Bzip2Writer::kMaxLevel, Bzip2Writer::kMaxLevel,
     [](int level, const InputInfo&) -> std::unique_ptr<Compressor> {
         return std::make_unique<Bzip2Compressor>(level);
     }},
    {"lzo", ".lzo", 0, 0,
     [](int, const InputInfo& info) -> std::unique_ptr<Compressor> { return std::make_unique<LzopCompressor>(info); }},
    {"lzss", ".lzss", 0, 0,
     [](int, const InputInfo&) -> std::unique_ptr<Compressor> { return std::make_unique<LzssCompressor>(); }},
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
                 "  -l LEVEL, --level=LEVEL     0 to 29; 1 (fastest) to 9 (smallest) as in gzip, default 6;\n"
                 "                              0 is the single-probe matcher, 10 to 29 are variants\n"
                 "  -1 ... -9                   the same as -l 1 ... -l 9\n"
                 "  --hc                        lz4: the high-compression encoder at LEVEL (1 to 9, default 9);\n"
                 "                              without it lz4 uses its fast encoder and ignores LEVEL\n"
                 "  --linked                    lz4: blocks may refer to the 64 KiB before them\n"
                 "  --fast                      gzip, zlib, deflate: the fastest mode (one hash probe per byte,\n"
                 "                              codes from sampled counts), ignoring LEVEL; about 1.7 times\n"
                 "                              the speed of -1, output about a tenth larger\n"
                 "  -T N, --threads=N           gzip, bzip2, lz4: compress N pieces of 4 MiB at a time in\n"
                 "                              parallel, each a complete member, stream or frame (the standard\n"
                 "                              tools decode the concatenation); other formats use one thread\n"
                 "  -c, --stdout                write to standard output, keep the input files\n"
                 "  -k, --keep                  keep the input files\n"
                 "  -F, --force                 overwrite existing outputs, compress files that already have the\n"
                 "                              suffix, write compressed data to a terminal\n"
                 "-f always takes a format name; an unknown name is an error and no file is touched.\n"
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

// Returns kExitOk, or kExitUsage after reporting the problem.
int parseOptions(int argc, char** argv, Options& o, bool& helpShown) {
    helpShown = false;
    bool optionsDone = false;
    auto bad = [](const std::string& what) {
        reportError("c: " + what);
        printCompressUsage(stderr);
        return kExitUsage;
    };
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
                if (i + 1 >= argc) return bad(a + " needs a number");
                text = argv[++i];
            } else if (a.rfind("--threads=", 0) == 0) {
                text = a.substr(10);
            } else if (a.rfind("-T", 0) == 0) {
                text = a.substr(2);
            } else {
                return bad("unknown option '" + a + "'");
            }
            int n = 0;
            if (!parseLevel(text, n) || n < 1 || n > 256) return bad("invalid thread count '" + text + "'");
            o.threads = n;
        } else if (a.rfind("--format", 0) == 0) {
            std::string name = a.size() > 8 && a[8] == '=' ? a.substr(9) : "";
            if (a.size() == 8) {
                if (i + 1 >= argc) return bad("--format needs a format name");
                name = argv[++i];
            } else if (a[8] != '=') {
                return bad("unknown option '" + a + "'");
            }
            if (!setFormat(name)) return bad("unknown format '" + name + "'");
        } else if (a.rfind("--level", 0) == 0) {
            std::string text;
            if (a.size() == 7) {
                if (i + 1 >= argc) return bad("--level needs a number");
                text = argv[++i];
            } else if (a[7] == '=') {
                text = a.substr(8);
            } else {
                return bad("unknown option '" + a + "'");
            }
            if (!parseLevel(text, o.level)) return bad("invalid level '" + text + "'");
        } else if (a.size() == 2 && a[1] >= '1' && a[1] <= '9') {
            o.level = a[1] - '0';
        } else if (a.rfind("-l", 0) == 0) {
            std::string text = a.substr(2);
            if (text.empty()) {
                if (i + 1 >= argc) return bad("-l needs a number");
                text = argv[++i];
            }
            if (!parseLevel(text, o.level)) return bad("invalid level '" + text + "'");
        } else if (a.rfind("-f", 0) == 0) {
            // -f always takes a format name: falling back to --force when the name is mistyped would overwrite
            // outputs and remove inputs the user meant to keep.
            std::string name = a.substr(2);
            if (name.empty()) {
                if (i + 1 >= argc) return bad("-f needs a format name");
                name = argv[++i];
            }
            if (!setFormat(name)) {
                struct stat st;
                const bool isFile = stat(name.c_str(), &st) == 0;
                return bad("unknown format '" + name + "'" + (isFile ? " (to force, use --force or -F)" : ""));
            }
        } else if (a.find_first_not_of("ckF", 1) == std::string::npos) {
            for (std::size_t k = 1; k < a.size(); ++k) {
                if (a[k] == 'c') o.toStdout = true;
                if (a[k] == 'k') o.keep = true;
                if (a[k] == 'F') o.force = true;
            }
        } else {
            return bad("unknown option '" + a + "'");
        }
    }
    if (o.level < 0) o.level = o.format->defaultLevel;
    if (o.level > o.format->maxLevel) {
        return bad("level " + std::to_string(o.level) + " is out of range for " + o.format->name + " (0 to " +
                   std::to_string(o.format->maxLevel) + ")");
    }
    return kExitOk;
}

bool writeAll(std::FILE* f, const std::vector<std::uint8_t>& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

// Streams in through a compressor to out. Reports its own errors with `label`.
bool compressStream(std::FILE* in, std::FILE* out, Compressor& c, const std::string& label, const std::string& outLabel,
                    std::uint64_t totalBytes) {
    Progress progress(label, totalBytes);
    std::vector<std::uint8_t> buf(1 << 20);
    for (;;) {
        const std::size_t n = std::fread(buf.data(), 1, buf.size(), in);
        if (n > 0) {
            const KelStatus st = c.write(buf.data(), n);
            if (st != kelStatusOk) {
                reportError(label + ": " + statusMessage(st));
                return false;
            }
            if (!writeAll(out, c.output())) {
                reportError(outLabel + ": " + std::strerror(errno));
                return false;
            }
            c.output().clear();
            progress.advance(n);
        }
        if (n < buf.size()) break;
    }
    if (std::ferror(in)) {
        reportError(label + ": read error");
        return false;
    }
    const KelStatus st = c.finish();
    if (st != kelStatusOk) {
        reportError(label + ": " + statusMessage(st));
        return false;
    }
    if (!writeAll(out, c.output()) || std::fflush(out) != 0) {
        reportError(outLabel + ": " + std::strerror(errno));
        return false;
    }
    c.output().clear();
    return true;
}

// Formats whose files may be a concatenation of complete streams that every reader (and the standard tool)
// decodes as one: gzip members, bzip2 streams, LZ4 frames. -T compresses independent pieces of the input in
// parallel and writes them in order.
bool concatenates(const Format& f) {
    const std::string name = f.name;
    return name == "gzip" || name == "bzip2" || name == "lz4";
}

// -T N: reads N pieces of kThreadPiece bytes at a time, compresses each into a complete stream on its own
// thread, and writes the streams in input order. Memory stays at about 2 * N pieces.
bool compressStreamParallel(std::FILE* in, std::FILE* out, const Options& o, const InputInfo& info,
                            const std::string& label, const std::string& outLabel, std::uint64_t totalBytes) {
    constexpr std::size_t kThreadPiece = std::size_t(4) << 20;
    Progress progress(label, totalBytes);
    std::vector<std::vector<std::uint8_t>> pieces(std::size_t(o.threads)), packed(std::size_t(o.threads));
    std::vector<KelStatus> status(std::size_t(o.threads));
    bool wroteAny = false;
    for (;;) {
        std::size_t filled = 0;
        bool atEnd = false;
        for (auto& piece : pieces) {
            piece.resize(kThreadPiece);
            const std::size_t n = std::fread(piece.data(), 1, piece.size(), in);
            piece.resize(n);
            if (n == 0) break;
            ++filled;
            if (n < kThreadPiece) {
                atEnd = true;
                break;
            }
        }
        if (std::ferror(in)) {
            reportError(label + ": read error");
            return false;
        }
        // Empty input still makes one (empty) stream, so the output is a valid file of the format.
        if (filled == 0 && !wroteAny) filled = 1;
        std::vector<std::thread> workers;
        for (std::size_t t = 0; t < filled; ++t) {
            workers.emplace_back([&, t] {
                auto c = o.format->make(o.level, info);
                KelStatus st = c->write(pieces[t].data(), pieces[t].size());
                if (st == kelStatusOk) st = c->finish();
                status[t] = st;
                packed[t].swap(c->output());
            });
        }
        for (auto& w : workers) w.join();
        for (std::size_t t = 0; t < filled; ++t) {
            if (status[t] != kelStatusOk) {
                reportError(label + ": " + statusMessage(status[t]));
                return false;
            }
            if (!writeAll(out, packed[t])) {
                reportError(outLabel + ": " + std::strerror(errno));
                return false;
            }
            progress.advance(pieces[t].size());
            wroteAny = true;
        }
        if (atEnd || filled < pieces.size()) break;
    }
    if (std::fflush(out) != 0) {
        reportError(outLabel + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// One input through the options' format, on one thread or (-T) several.
bool compressWith(std::FILE* in, std::FILE* out, const Options& o, const InputInfo& info, const std::string& label,
                  const std::string& outLabel, std::uint64_t totalBytes) {
    if (o.threads > 1 && concatenates(*o.format)) {
        return compressStreamParallel(in, out, o, info, label, outLabel, totalBytes);
    }
    auto c = o.format->make(o.level, info);
    return compressStream(in, out, *c, label, outLabel, totalBytes);
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
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
    InputInfo info;
    info.highCompression = o.highCompression;
    info.linkedBlocks = o.linkedBlocks;
    info.fastest = o.fastest;
    return compressWith(stdin, stdout, o, info, "(stdin)", "(stdout)", 0);
}

// Moves the finished temporary file to its name. Without force an existing file is never replaced: link() fails
// if the name exists, atomically; file systems without hard links fall back to a checked rename.
bool publish(const std::string& tmp, const std::string& outName, bool force) {
    if (force) {
        if (std::rename(tmp.c_str(), outName.c_str()) == 0) return true;
        reportError(outName + ": " + std::strerror(errno));
        return false;
    }
    if (link(tmp.c_str(), outName.c_str()) == 0) {
        unlink(tmp.c_str());
        return true;
    }
    if (errno == EEXIST) {
        reportError(outName + " already exists; use --force to overwrite");
        return false;
    }
    struct stat st;
    if (lstat(outName.c_str(), &st) == 0) {
        reportError(outName + " already exists; use --force to overwrite");
        return false;
    }
    if (std::rename(tmp.c_str(), outName.c_str()) == 0) return true;
    reportError(outName + ": " + std::strerror(errno));
    return false;
}

bool compressFile(const std::string& name, const Options& o) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) {
        reportError(name + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        reportError(name + ": not a regular file");
        return false;
    }
    const std::string suffix = o.format->suffix;
    if (!o.force && !o.toStdout && endsWith(name, suffix)) {
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
    info.mtime = st.st_mtime > 0 && st.st_mtime <= 0xFFFFFFFF ? std::uint32_t(st.st_mtime) : 0;
    info.highCompression = o.highCompression;
    info.linkedBlocks = o.linkedBlocks;
    info.fastest = o.fastest;
    const std::uint64_t totalBytes = std::uint64_t(st.st_size);

    if (o.toStdout) {
        if (!o.force && isatty(STDOUT_FILENO)) {
            std::fclose(in);
            reportError("compressed data not written to a terminal; use --force to force");
            return false;
        }
        const bool ok = compressWith(in, stdout, o, info, name, "(stdout)", totalBytes);
        std::fclose(in);
        return ok;
    }

    const std::string outName = name + suffix;
    struct stat existing;
    if (!o.force && lstat(outName.c_str(), &existing) == 0) {
        std::fclose(in);
        reportError(outName + " already exists; use --force to overwrite");
        return false;
    }
    std::string tmp;
    const int fd = createTempFile(outName + ".kel-XXXXXX", &tmp);
    if (fd < 0) {
        std::fclose(in);
        reportError(outName + ": " + std::strerror(errno));
        return false;
    }
    std::FILE* out = fdopen(fd, "wb");
    if (!out) {
        close(fd);
        unlink(tmp.c_str());
        releaseTempFile();
        std::fclose(in);
        reportError(outName + ": " + std::strerror(errno));
        return false;
    }
    bool ok = compressWith(in, out, o, info, name, outName, totalBytes);
    std::fclose(in);
    if (ok) {
        // The output takes the input's permissions and times, as gzip does.
        fchmod(fd, st.st_mode & 07777);
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(fd, times);
    }
    if (std::fclose(out) != 0 && ok) {
        reportError(outName + ": " + std::strerror(errno));
        ok = false;
    }
    if (ok) ok = publish(tmp, outName, o.force);
    if (!ok) unlink(tmp.c_str());
    releaseTempFile();
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
