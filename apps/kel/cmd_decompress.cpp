// apps/kel/cmd_decompress.cpp - `kel d`: decompress files, as gzip -d does, for every format kel_stream reads.
//
// Formats are rows of kFormats: a name for --format, the file suffixes that select it (the first is the one
// stripped from output names by default), an optional sniffer for standard input, and a decoder over a byte
// source and sink. Adding a format (LZ4 frames, bzip2, lzop) is one row. Output goes to a temporary file beside
// the input that is renamed into place only when the whole stream decoded and verified, so an error never
// leaves a partial output file behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/io_util.h"
#include "stream/byte_stream.h"
#include "stream/bzip2_stream.h"
#include "stream/inflate_stream.h"
#include "stream/lz4_frame.h"
#include "stream/lzop_file.h"
#include "stream/lzss_file.h"

namespace kel::app {
namespace {

// Decodes one whole input; returns "" or a one-line error ("truncated input", "corrupt input: ...", ...).
// Sets *trailing when data followed the compressed stream (ignored, with a warning).
using Decoder = std::string (*)(const ByteSource& in, const ByteSink& out, bool* trailing);

struct Format {
    const char* name;
    std::vector<std::string> suffixes;
    bool (*sniff)(const std::uint8_t* head, std::size_t n);  // may be null: never chosen by content
    Decoder decode;
};

bool sniffGzip(const std::uint8_t* h, std::size_t n) {
    return n >= 2 && h[0] == 0x1F && h[1] == 0x8B;
}

bool sniffZlib(const std::uint8_t* h, std::size_t n) {
    return n >= 2 && (h[0] & 15) == 8 && (h[0] >> 4) <= 7 && (h[0] * 256u + h[1]) % 31 == 0;
}

template <InflateFormat F>
std::string decodeInflate(const ByteSource& in, const ByteSink& out, bool* trailing) {
    return inflateDecompress(F, in, out, trailing);
}

const std::vector<Format>& formats() {
    static const std::vector<Format> kFormats = {
        {"gzip", {".gz", ".tgz", ".z"}, sniffGzip, decodeInflate<InflateFormat::Gzip>},
        {"zlib", {".zz", ".zlib"}, sniffZlib, decodeInflate<InflateFormat::Zlib>},
        {"deflate", {".deflate"}, nullptr, decodeInflate<InflateFormat::Deflate>},
        {"lz4", {".lz4"}, isLz4FrameMagic, lz4FrameDecompress},
        {"bzip2", {".bz2"}, isBzip2Magic, bzip2Decompress},
        {"lzo",
         {".lzo"},
         isLzopMagic,
         [](const ByteSource& in, const ByteSink& out, bool*) { return lzopDecompress(in, out); }},
        {"lzss",
         {".lzss"},
         isLzssMagic,
         [](const ByteSource& in, const ByteSink& out, bool*) { return lzssDecompress(in, out); }},
    };
    return kFormats;
}

void printDecompressUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel d [-c] [-k] [-f] [--format gzip|zlib|deflate|lz4|bzip2|lzo|lzss] [FILE...]\n"
                 "Decompress each FILE into the same name without its suffix (.gz, .tgz -> .tar, .zz, .deflate,\n"
                 ".lz4, .bz2, .lzo, .lzss) and remove FILE, as gzip -d does. With no FILE, or when FILE is -,\n"
                 "read standard input and write standard output (the format is recognised from the data unless\n"
                 "--format is given).\n"
                 "\n"
                 "  -c, --stdout      write to standard output; keep input files\n"
                 "  -k, --keep        keep input files\n"
                 "  -f, -F, --force   overwrite existing output files\n"
                 "  --format NAME     read every input as NAME, whatever its suffix\n"
                 "\n"
                 "Exit status: 0 success, 1 a file could not be decompressed (the others still are), 2 usage.\n");
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
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

struct Options {
    bool toStdout = false;
    bool keep = false;
    bool force = false;
    const Format* format = nullptr;
};

ByteSource fileSource(std::FILE* f, Progress* progress = nullptr) {
    return [f, progress](std::uint8_t* buf, std::size_t cap) {
        const std::size_t n = std::fread(buf, 1, cap, f);
        if (progress) progress->advance(n);
        return n;
    };
}

ByteSink fileSink(std::FILE* f) {
    return [f](const std::uint8_t* data, std::size_t len) { return std::fwrite(data, 1, len, f) == len; };
}

// Standard input to standard output. Without --format the first bytes choose the format.
bool decompressStdin(const Options& opt) {
    std::vector<std::uint8_t> head(16);  // enough for every format's magic number
    std::size_t headLen = 0, headPos = 0;
    const Format* fmt = opt.format;
    if (!fmt) {
        headLen = std::fread(head.data(), 1, head.size(), stdin);
        for (const auto& f : formats()) {
            if (f.sniff && f.sniff(head.data(), headLen)) {
                fmt = &f;
                break;
            }
        }
        if (!fmt) {
            reportError(headLen == 0 ? "stdin: truncated input" : "stdin: unknown format (try --format)");
            return false;
        }
    }
    // The bytes read for sniffing come first.
    ByteSource in = [&](std::uint8_t* buf, std::size_t cap) -> std::size_t {
        if (headPos < headLen) {
            std::size_t n = headLen - headPos < cap ? headLen - headPos : cap;
            std::memcpy(buf, head.data() + headPos, n);
            headPos += n;
            return n;
        }
        return std::fread(buf, 1, cap, stdin);
    };
    bool trailing = false;
    const std::string err = fmt->decode(in, fileSink(stdout), &trailing);
    std::fflush(stdout);
    if (!err.empty()) {
        reportError("stdin: " + err);
        return false;
    }
    if (trailing) reportError("stdin: decompression OK, trailing garbage ignored");
    return true;
}

bool decompressFile(const std::string& name, const Options& opt) {
    // A missing file is reported as such before its name is judged: "unknown suffix" would hide the real problem.
    struct stat st {};
    if (stat(name.c_str(), &st) != 0) {
        reportError(name + ": " + std::strerror(errno));
        return false;
    }
    std::string outName;
    const Format* fmt = formatBySuffix(name, &outName);
    if (opt.format) fmt = opt.format;
    if (!fmt || (!opt.toStdout && outName.empty())) {
        reportError(name + ": unknown suffix -- ignored");
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        reportError(name + ": is a directory -- ignored");
        return false;
    }
    std::FILE* in = std::fopen(name.c_str(), "rb");
    if (!in) {
        reportError(name + ": " + std::strerror(errno));
        return false;
    }

    bool trailing = false;
    std::string err;
    Progress progress(name, std::uint64_t(st.st_size));
    if (opt.toStdout) {
        err = fmt->decode(fileSource(in, &progress), fileSink(stdout), &trailing);
        std::fflush(stdout);
        if (std::ferror(in)) err = "read error";
        std::fclose(in);
        if (!err.empty()) {
            reportError(name + ": " + err);
            return false;
        }
        if (trailing) reportError(name + ": decompression OK, trailing garbage ignored");
        return true;
    }

    struct stat outSt {};
    if (!opt.force && lstat(outName.c_str(), &outSt) == 0) {
        std::fclose(in);
        reportError(outName + ": already exists; use -f to overwrite");
        return false;
    }
    std::string tmpName;
    const int fd = createTempFile(outName + ".kel-XXXXXX", &tmpName);
    if (fd < 0) {
        std::fclose(in);
        reportError(outName + ": " + std::strerror(errno));
        return false;
    }
    std::FILE* out = fdopen(fd, "wb");
    if (!out) {
        close(fd);
        unlink(tmpName.c_str());
        releaseTempFile();
        std::fclose(in);
        reportError(outName + ": " + std::strerror(errno));
        return false;
    }
    err = fmt->decode(fileSource(in, &progress), fileSink(out), &trailing);
    if (err.empty() && std::ferror(in)) err = "read error";
    std::fclose(in);
    if (std::fclose(out) != 0 && err.empty()) err = "write error";
    if (err.empty()) {
        fchmodat(AT_FDCWD, tmpName.c_str(), st.st_mode & 07777, 0);
        if (std::rename(tmpName.c_str(), outName.c_str()) != 0)
            err = std::string("cannot rename: ") + std::strerror(errno);
    }
    if (!err.empty()) unlink(tmpName.c_str());
    releaseTempFile();
    if (!err.empty()) {
        reportError(name + ": " + err);
        return false;
    }
    if (trailing) reportError(name + ": decompression OK, trailing garbage ignored");
    if (!opt.keep && unlink(name.c_str()) != 0) reportError(name + ": " + std::strerror(errno));
    return true;
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
        } else if (a == "--format" || a.rfind("--format=", 0) == 0) {
            std::string value;
            if (a == "--format") {
                if (i + 1 >= argc) {
                    reportError("d: --format needs a value");
                    return kExitUsage;
                }
                value = argv[++i];
            } else {
                value = a.substr(9);
            }
            opt.format = formatByName(value);
            if (!opt.format) {
                reportError("d: unknown format '" + value + "'");
                printDecompressUsage(stderr);
                return kExitUsage;
            }
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
                    case 'd':
                        break;  // gzip's "decompress", implied
                    default:
                        reportError(std::string("d: unknown option '-") + a[k] + "'");
                        printDecompressUsage(stderr);
                        return kExitUsage;
                }
            }
        } else {
            reportError("d: unknown option '" + a + "'");
            printDecompressUsage(stderr);
            return kExitUsage;
        }
    }
    if (files.empty()) files.push_back("-");
    installTempFileCleanup();
    int status = kExitOk;
    for (const auto& name : files) {
        const bool ok = name == "-" ? decompressStdin(opt) : decompressFile(name, opt);
        if (!ok) status = kExitFailure;
    }
    return status;
}

}  // namespace kel::app
