// apps/kel/cmd_decompress.cpp - `kel d`: decompress files, as gzip -d does, for every format libkelstream reads.
//
// Formats are rows of kFormats: a name for --format and the file suffixes that select it (the first is the one
// stripped from output names by default). Without a suffix to go by (standard input, -c) the data says which format
// it is. Output goes to a temporary file beside the input that is renamed into place only when the whole stream
// decoded and verified, so an error never leaves a partial output file behind.
//
// lzop files may hold several entries (`lzop a b`, or lzop files concatenated): with -c their data is written one
// after the other; otherwise each entry after the first goes to the name stored in it, as lzop -d does, and both
// cases warn (status 2) as lzop does.
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

// A warning leaves the output complete and correct but tells the user something was off (gzip's status 2).
constexpr int kExitWarning = 2;

struct Format {
    const char* name;
    std::vector<std::string> suffixes;
    KelStreamFormat id;
};

const std::vector<Format>& formats() {
    static const std::vector<Format> kFormats = {
        {"gzip", {".gz", ".tgz", ".z"}, kelFormatGzip},
        {"zlib", {".zz", ".zlib"}, kelFormatZlib},
        {"deflate", {".deflate"}, kelFormatDeflate},
        {"lz4", {".lz4"}, kelFormatLz4},
        {"bzip2", {".bz2"}, kelFormatBzip2},
        {"lzo", {".lzo"}, kelFormatLzop},
        {"lzss", {".lzss"}, kelFormatLzss},
    };
    return kFormats;
}

void printDecompressUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel d [-c] [-k] [-f] [-P] [-T N] [--format NAME] [FILE...]\n"
                 "Decompress each FILE into the same name without its suffix (.gz, .tgz -> .tar, .zz, .deflate,\n"
                 ".lz4, .bz2, .lzo, .lzss) and remove FILE, as gzip -d does. With no FILE, or when FILE is -,\n"
                 "read standard input and write standard output. With -c, or from standard input, a FILE without\n"
                 "a known suffix is decoded as the format its data starts with.\n"
                 "\n"
                 "  -c, --stdout       write to standard output; keep input files\n"
                 "  -k, --keep         keep input files\n"
                 "  -f, -F, --force    overwrite existing output files, decompress symbolic links and files with\n"
                 "                     other links, read compressed data from a terminal\n"
                 "  -P                 lzop files with several entries: restore stored names that have directories\n"
                 "  -T N, --threads=N  gzip, bzip2, lz4: decode independent members, streams or frames on N threads\n"
                 "  --format NAME      read every input as NAME (gzip, zlib, deflate, lz4, bzip2, lzo, lzss),\n"
                 "                     whatever its suffix; a file with another suffix loses its last extension\n"
                 "\n"
                 "Data after the end of a stream is ignored with a warning, as gzip does; zero padding is accepted.\n"
                 "An lzop file of several entries writes each entry after the first to the name stored in it.\n"
                 "Exit status: 0 success, 1 a file could not be decompressed (the others still are), 2 usage error\n"
                 "or a warning.\n");
}

// The format a file name selects, and the output name (suffix removed, .tgz turned into .tar).
const Format* formatBySuffix(const std::string& name, std::string* outName) {
    for (const auto& f : formats()) {
        for (const auto& suf : f.suffixes) {
            if (!endsWith(name, suf)) continue;
            *outName = name.substr(0, name.size() - suf.size()) + (suf == ".tgz" ? ".tar" : "");
            return &f;
        }
    }
    return nullptr;
}

const Format* formatByName(const std::string& name) {
    for (const auto& f : formats()) {
        if (name == f.name) return &f;
    }
    return nullptr;
}

// --format with a name that has no known suffix: the last extension goes ("data.bin" -> "data"). A name without
// one has nothing to strip and no output name.
std::string stripExtension(const std::string& name) {
    const auto slash = name.find_last_of('/');
    const auto dot = name.find_last_of('.');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= start || dot + 1 == name.size()) return "";
    return name.substr(0, dot);
}

std::string directoryOf(const std::string& path) {
    const auto cut = path.find_last_of('/');
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

struct Options {
    bool toStdout = false;
    bool keep = false;
    bool force = false;
    bool restorePaths = false;
    int threads = 1;
    const Format* format = nullptr;
};

std::uint32_t readBe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// lzop marks the files it writes for several inputs at once (lzop -c a b) with the multipart flag; lzop -d then
// restores every entry, the first too, to its stored name. A plain concatenation lacks it: its first entry goes
// to the file's own name. The flags word follows the versions, the method and (from version 0.94) the level.
bool lzopMultipartFlag(const std::uint8_t* p, std::size_t n) {
    constexpr std::uint32_t kMultipart = 0x400;
    if (n < 13) return false;
    const unsigned version = unsigned(p[9]) << 8 | p[10];
    const std::size_t flagsAt = version >= 0x0940 ? 17 : 14;
    return n >= flagsAt + 4 && (readBe32(p + flagsAt) & kMultipart) != 0;
}

// Where decoded bytes go: standard output, or one file per entry. begin() comes before the first byte of each
// entry (at its end for an empty one), when the entry's header is known; end() after its last byte. A false
// return stops the decoding (the output has said why).
class Output {
public:
    virtual ~Output() = default;
    virtual bool begin(const KelStreamHeader& h) = 0;
    virtual bool write(const std::uint8_t* p, std::size_t n) = 0;
    virtual bool end() = 0;
    virtual void abort() {}
};

class StdoutOutput final : public Output {
public:
    bool begin(const KelStreamHeader&) override { return true; }
    bool write(const std::uint8_t* p, std::size_t n) override {
        if (n == 0 || std::fwrite(p, 1, n, stdout) == n) return true;
        reportError(std::string("stdout: write error: ") + std::strerror(errno ? errno : EIO));
        return false;
    }
    bool end() override {
        if (std::fflush(stdout) == 0) return true;
        reportError(std::string("stdout: write error: ") + std::strerror(errno ? errno : EIO));
        return false;
    }
};

// Files beside the input. The first entry goes to outName; later entries of an lzop file (and the first of one
// lzop marked multipart) to their stored names, which must be plain file names unless -P. An entry that cannot be
// written (its name is refused or exists) is skipped and makes the status 1; the others are still written.
class FileOutput final : public Output {
public:
    FileOutput(const std::string& inName, const std::string& outName, const struct stat& inStat, const Options& opt,
               bool storedNamesFromStart)
        : inName_(inName), outName_(outName), inStat_(inStat), opt_(opt), storedNames_(storedNamesFromStart) {}

    int status() const { return status_; }
    bool skippedAny() const { return skipped_; }

    bool begin(const KelStreamHeader& h) override {
        std::string target = outName_;
        if (entry_++ > 0 || storedNames_) {
            if (!warned_) {
                reportError(inName_ + ": warning: multipart archive -- restoring file names");
                warned_ = true;
                note(kExitWarning);
            }
            if (!storedTarget(h, &target)) return skip();
        }
        struct stat existing;
        const bool exists = stat(target.c_str(), &existing) == 0 || lstat(target.c_str(), &existing) == 0;
        // Even with --force a stored name may not replace the archive being read: it is removed at the end.
        if (exists && existing.st_dev == inStat_.st_dev && existing.st_ino == inStat_.st_ino) {
            reportError(inName_ + ": entry " + std::to_string(h.entry + 1) + " would replace the input -- skipped");
            return skip();
        }
        if (!opt_.force && exists) {
            reportOutputExists(target);
            // The file's own output decides the whole run, as gzip; a stored name only skips its entry, as lzop.
            if (entry_ == 1 && !storedNames_) return false;
            return skip();
        }
        if (!file_.open(target)) return false;
        // lzop restores the time its header stores; gzip keeps the compressed file's time unless asked (-N).
        mtime_ = h.format == kelFormatLzop ? h.mtime : 0;
        return true;
    }

    bool write(const std::uint8_t* p, std::size_t n) override {
        return !file_.isOpen() || file_.write(p, n);  // a skipped entry's bytes are dropped
    }

    // The output takes the input's permissions, and the time lzop's header stores or else the input's.
    bool end() override { return !file_.isOpen() || file_.commit(inStat_, mtime_, opt_.force); }

    void abort() override { file_.abort(); }

private:
    void note(int s) {
        if (status_ != kExitFailure) status_ = s;
    }

    bool skip() {
        note(kExitFailure);
        skipped_ = true;
        return true;
    }

    // The stored name, beside the input. Names that would leave that directory need -P, as in lzop.
    bool storedTarget(const KelStreamHeader& h, std::string* target) {
        const std::string stored = h.name ? h.name : "";
        if (stored.empty()) {
            reportError(inName_ + ": entry " + std::to_string(h.entry + 1) + " stores no name -- skipped");
            return false;
        }
        const bool plain = stored.find('/') == std::string::npos && stored != "." && stored != "..";
        if (!plain && !opt_.restorePaths) {
            reportError(inName_ + ": " + stored + ": stored name has a directory -- skipped; use -P to restore it");
            return false;
        }
        *target = stored[0] == '/' ? stored : directoryOf(inName_) + stored;
        return true;
    }

    std::string inName_, outName_;
    struct stat inStat_;
    const Options& opt_;
    bool storedNames_;
    unsigned entry_ = 0;
    bool warned_ = false, skipped_ = false;
    int status_ = kExitOk;
    OutputFile file_;
    std::int64_t mtime_ = 0;
};

struct Decoded {
    bool ok = false;        // every byte decoded and verified, every output written
    bool trailing = false;  // bytes after the end that start no stream
    unsigned entries = 0;   // lzop entries (other formats count as one)
};

// Reads in through a decoder of fmt (null: the format the data starts with) into out. Reports decoder errors as
// "LABEL: what".
Decoded decode(std::FILE* in, const std::string& label, const Format* fmt, const Options& opt, Output& out,
               std::uint64_t totalBytes) {
    Decoded d;
    Progress progress(label, totalBytes);
    std::vector<std::uint8_t> inBuf(std::size_t(1) << 20), outBuf(std::size_t(1) << 20);
    std::size_t len = 0, pos = 0;
    bool atEnd = false;
    auto readMore = [&]() -> bool {
        len = std::fread(inBuf.data(), 1, inBuf.size(), in);
        pos = 0;
        progress.advance(len);
        if (len < inBuf.size()) {
            if (std::ferror(in)) {
                reportError(label + ": read error: " + std::strerror(errno ? errno : EIO));
                return false;
            }
            atEnd = true;
        }
        return true;
    };
    if (!readMore()) return d;

    KelStreamFormat id = fmt ? fmt->id : kelStreamDetectFormat(inBuf.data(), len);
    KelStreamOptions so;
    kelStreamDefaultOptions(&so);
    so.threads = opt.threads;
    // lzop entries are files of their own; the other formats' members only continue one output.
    so.stopAtEntries = id == kelFormatLzop;
    KelStream* raw = nullptr;
    const KelStreamResult created = kelStreamCreate(&raw, id, kelDecompress, &so);
    StreamPtr stream(raw);
    if (created < 0) {
        reportError(label + ": " + streamFailure(nullptr, created));
        return d;
    }

    bool open = false;
    auto beginEntry = [&]() -> bool {
        if (open) return true;
        KelStreamHeader h;
        kelStreamGetHeader(stream.get(), &h);
        open = true;
        return out.begin(h);
    };
    auto fail = [&](const std::string& why) {
        out.abort();
        reportError(label + ": " + why);
        return d;
    };
    for (;;) {
        if (pos == len && !atEnd && !readMore()) {
            out.abort();
            return d;
        }
        std::size_t consumed = len - pos, produced = outBuf.size();
        const KelStreamResult r = kelStreamProcess(stream.get(), inBuf.data() + pos, &consumed, outBuf.data(),
                                                   &produced, atEnd ? kelFlushFinish : kelFlushNone);
        pos += consumed;
        if (produced > 0 && (!beginEntry() || !out.write(outBuf.data(), produced))) {
            out.abort();
            return d;
        }
        if (r == kelStreamErrUnknownFormat) return fail("unknown format (try --format)");
        if (r < 0) return fail(streamFailure(stream.get(), r));
        if (r == kelStreamNeedDictionary) return fail(kelStreamResultText(r));
        if (r == kelStreamEntryEnd || r == kelStreamEnd || r == kelStreamTrailingData) {
            ++d.entries;
            if (!beginEntry() || !out.end()) {
                out.abort();
                return d;
            }
            open = false;
            if (r == kelStreamEntryEnd) continue;
            // Whatever follows a finished stream and was not taken as padding or another member is trailing data.
            d.trailing = r == kelStreamTrailingData || pos < len;
            if (!d.trailing && !atEnd) {
                if (!readMore()) return d;
                d.trailing = len > 0;
            }
            d.ok = true;
            return d;
        }
        if (consumed == 0 && produced == 0) {
            if (atEnd && pos == len) return fail(kelStreamResultText(kelStreamErrTruncated));
            if (pos < len)
                return fail(std::string(kelStreamResultText(kelStreamErrLibrary)) + ": the decoder made no progress");
        }
    }
}

int decompressStdin(const Options& opt) {
    if (!opt.force && isatty(STDIN_FILENO)) {
        reportError("compressed data not read from a terminal; use --force to force");
        return kExitFailure;
    }
    StdoutOutput out;
    const Decoded d = decode(stdin, "stdin", opt.format, opt, out, 0);
    if (!d.ok) return kExitFailure;
    int status = kExitOk;
    // Only lzop files count entries: their data, written one after the other, gets lzop's warning.
    if (d.entries > 1) {
        reportError("stdin: warning: this is a multipart archive");
        status = kExitWarning;
    }
    if (d.trailing) {
        reportError("stdin: decompression OK, trailing garbage ignored");
        status = kExitWarning;
    }
    return status;
}

int decompressFile(const std::string& name, const Options& opt) {
    // A missing file is reported as such before its name is judged: "unknown suffix" would hide the real problem.
    struct stat st {
    }, lst{};
    if (!statInput(name, &lst, &st)) return kExitFailure;
    std::string outName;
    const Format* fmt = formatBySuffix(name, &outName);
    if (opt.format) {
        fmt = opt.format;
        if (outName.empty()) outName = stripExtension(name);
    }
    if (!opt.toStdout && (!fmt || outName.empty())) {
        reportError(name + ": unknown suffix -- ignored");
        return kExitFailure;
    }
    if (S_ISDIR(st.st_mode)) {
        reportError(name + ": is a directory -- ignored");
        return kExitFailure;
    }
    if (!opt.force && !opt.toStdout && !inputMayBeReplaced(name, lst, st, "decompress")) return kExitFailure;
    std::FILE* in = std::fopen(name.c_str(), "rb");
    if (!in) {
        reportError(name + ": " + std::strerror(errno));
        return kExitFailure;
    }

    int status = kExitOk;
    Decoded d;
    if (opt.toStdout) {
        // Without a known suffix the data says what it is, as gzip -dc reads any file.
        StdoutOutput out;
        d = decode(in, name, fmt, opt, out, std::uint64_t(st.st_size));
        std::fclose(in);
        if (!d.ok) return kExitFailure;
        if (d.entries > 1) {
            reportError(name + ": warning: this is a multipart archive");
            status = kExitWarning;
        }
    } else {
        // lzop's multipart flag is read from the file's first header, before the decoder starts.
        std::uint8_t head[32];
        const std::size_t headLen = std::fread(head, 1, sizeof head, in);
        std::rewind(in);
        const bool storedNames = fmt->id == kelFormatLzop && lzopMultipartFlag(head, headLen);
        FileOutput out(name, outName, st, opt, storedNames);
        d = decode(in, name, fmt, opt, out, std::uint64_t(st.st_size));
        std::fclose(in);
        if (!d.ok) return kExitFailure;
        status = out.status();
        if (out.skippedAny()) return kExitFailure;  // the input holds data that was not written: keep it
    }
    if (d.trailing) {
        reportError(name + ": decompression OK, trailing garbage ignored");
        if (status == kExitOk) status = kExitWarning;
    }
    // The output is complete: the input goes, as gzip removes it even after a warning.
    if (!opt.toStdout && !opt.keep && unlink(name.c_str()) != 0) {
        reportError(name + ": " + std::strerror(errno));
        return kExitFailure;
    }
    return status;
}

int usageError(const std::string& what) {
    return reportUsageError("d", what);
}

}  // namespace

int cmdDecompress(int argc, char** argv) {
    Options opt;
    std::vector<std::string> files;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsDone || a == "-" || a.size() < 2 || a[0] != '-') {
            files.push_back(a);
        } else if (a == "--") {
            optionsDone = true;
        } else if (a == "--help" || a == "-h") {
            printDecompressUsage(stdout);
            return kExitOk;
        } else if (a == "--stdout") {
            opt.toStdout = true;
        } else if (a == "--keep") {
            opt.keep = true;
        } else if (a == "--force") {
            opt.force = true;
        } else if (a == "-T" || a == "--threads" || a.rfind("--threads=", 0) == 0 || a.rfind("-T", 0) == 0) {
            std::string text;
            if (a == "-T" || a == "--threads") {
                if (i + 1 >= argc) return usageError(a + " needs a number");
                text = argv[++i];
            } else {
                text = a.substr(a[1] == '-' ? 10 : 2);
            }
            if (!parseThreadCount(text, &opt.threads)) return usageError("invalid thread count '" + text + "'");
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            std::string value;
            if (a == "--format") {
                if (i + 1 >= argc) return usageError("--format needs a value");
                value = argv[++i];
            } else {
                value = a.substr(9);
            }
            opt.format = formatByName(value);
            if (!opt.format) return usageError("unknown format '" + value + "'");
        } else if (a[1] != '-') {
            // Bundled short options: -ck, -kf, ...
            for (std::size_t k = 1; k < a.size(); ++k) {
                switch (a[k]) {
                    case 'c':
                        opt.toStdout = true;
                        break;
                    case 'k':
                        opt.keep = true;
                        break;
                    case 'f':
                    case 'F':  // kel c spells force -F because its -f takes a format
                        opt.force = true;
                        break;
                    case 'P':
                        opt.restorePaths = true;
                        break;
                    case 'd':
                        break;  // gzip's "decompress", implied
                    default:
                        return usageError(std::string("unknown option '-") + a[k] + "'");
                }
            }
        } else {
            return usageError("unknown option '" + a + "'");
        }
    }
    if (opt.threads > 1 && opt.format &&
        !(opt.format->id == kelFormatGzip || opt.format->id == kelFormatBzip2 || opt.format->id == kelFormatLz4)) {
        return usageError(std::string("-T applies to gzip, bzip2 and lz4; ") + opt.format->name +
                          " is read on one thread");
    }
    if (files.empty()) files.push_back("-");
    installTempFileCleanup();
    int status = kExitOk;
    for (const auto& name : files) {
        const int s = name == "-" ? decompressStdin(opt) : decompressFile(name, opt);
        // A failure outranks a warning, as in gzip.
        if (s == kExitFailure || (s == kExitWarning && status == kExitOk)) status = s;
    }
    return status;
}

}  // namespace kel::app
