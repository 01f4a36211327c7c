// tests/dc/inflate/inflate_stream_test.cpp - kel::InflateStream's wrappers and `kel d`, as users meet them.
//
// The wrappers: gzip members and optional header fields, every trailer and header check, data after the end;
// the tool: agreement with gzip -d on files gzip made, exit statuses, messages, and no output file left behind
// when a file fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "inflate_test_util.h"

namespace kel::test {
namespace {

Bytes gzipWithHeader(const Bytes& plain, bool extraFields) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
    gz_header h{};
    static Bytef extra[] = {'k', 'l', 4, 0, 1, 2, 3, 4};
    static char name[] = "sample.txt";
    static char comment[] = "a comment";
    if (extraFields) {
        h.extra = extra;
        h.extra_len = sizeof extra;
        h.name = reinterpret_cast<Bytef*>(name);
        h.comment = reinterpret_cast<Bytef*>(comment);
        h.hcrc = 1;
        deflateSetHeader(&z, &h);
    }
    Bytes out(deflateBound(&z, plain.size()) + 64);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = uInt(plain.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

DecodeResult decode(InflateFormat f, const Bytes& src, std::size_t inChunk = 0, std::size_t outChunk = 0) {
    return streamDecode(f, src, inChunk, outChunk, 1 << 24);
}

TEST(InflateStream, GzipMembersAndHeaderFieldsInAnyPieces) {
    std::mt19937_64 rng = makeRng(20);
    const Bytes a = repetitiveBytes(rng, 70000), b = readCorpusFile("html"), empty;
    const Bytes file = cat(cat(gzipWithHeader(a, true), gzipWithHeader(empty, false)), gzipWithHeader(b, true));
    for (const std::size_t in : {0, 1, 5}) {
        for (const std::size_t out : {0, 1, 1000}) {
            const DecodeResult r = decode(InflateFormat::Gzip, file, in, out);
            EXPECT_EQ(r.result, InflateResult::End) << in << " " << out;
            EXPECT_TRUE(r.out == cat(a, b)) << in << " " << out;
        }
    }
}

TEST(InflateStream, EveryTrailerAndHeaderCheckIsVerified) {
    const Bytes plain = readCorpusFile("alice29.txt");
    const Bytes gz = gzipWithHeader(plain, true), zl = zlibDeflate(plain, 6);
    struct Case {
        const char* what;
        InflateFormat format;
        Bytes data;
        std::size_t flip;
        InflateResult expected;
    };
    const Case cases[] = {
        {"gzip CRC", InflateFormat::Gzip, gz, gz.size() - 8, InflateResult::Checksum},
        {"gzip length", InflateFormat::Gzip, gz, gz.size() - 2, InflateResult::Checksum},
        {"gzip header CRC", InflateFormat::Gzip, gz, 15, InflateResult::Checksum},  // inside the extra field
        {"gzip magic", InflateFormat::Gzip, gz, 1, InflateResult::Corrupt},
        {"gzip method", InflateFormat::Gzip, gz, 2, InflateResult::Corrupt},
        {"zlib Adler-32", InflateFormat::Zlib, zl, zl.size() - 1, InflateResult::Checksum},
        {"zlib header check", InflateFormat::Zlib, zl, 1, InflateResult::Corrupt},
        {"zlib method", InflateFormat::Zlib, zl, 0, InflateResult::Corrupt},
    };
    for (const Case& c : cases) {
        Bytes bad = c.data;
        bad[c.flip] ^= 0x01;
        EXPECT_EQ(decode(c.format, bad).result, c.expected) << c.what;
        EXPECT_EQ(decode(c.format, c.data).result, InflateResult::End) << c.what;
    }
    // A preset dictionary cannot be supplied through this reader.
    Bytes dict = {0x78, 0xBB, 0, 0, 0, 1};
    EXPECT_EQ(decode(InflateFormat::Zlib, dict).result, InflateResult::Corrupt);
    for (const InflateFormat f : {InflateFormat::Deflate, InflateFormat::Zlib, InflateFormat::Gzip})
        EXPECT_EQ(decode(f, Bytes()).result, InflateResult::Truncated);
}

TEST(InflateStream, DataAfterTheStreamIsHandedBackOrFlagged) {
    const Bytes plain = readCorpusFile("asyoulik.txt");
    const Bytes junk = {'j', 'u', 'n', 'k', '!'};
    // One call: the bytes after the zlib trailer stay in the input.
    const Bytes zl = cat(zlibDeflate(plain, 9), junk);
    InflateStream s(InflateFormat::Zlib);
    Bytes out(plain.size());
    const std::uint8_t* in = zl.data();
    std::size_t inLen = zl.size(), room = out.size();
    std::uint8_t* o = out.data();
    ASSERT_EQ(s.decompress(in, inLen, o, room, true), InflateResult::End);
    EXPECT_EQ(inLen, junk.size());
    EXPECT_EQ(std::memcmp(in, junk.data(), junk.size()), 0);
    EXPECT_FALSE(s.trailingData());
    EXPECT_EQ(s.totalOut(), plain.size());
    // Gzip: data after a member that is not another member ends the stream and is reported.
    const DecodeResult r = decode(InflateFormat::Gzip, cat(gzipWithHeader(plain, false), junk), 1, 0);
    EXPECT_EQ(r.result, InflateResult::End);
    EXPECT_TRUE(r.out == plain);
    bool trailing = false;
    Bytes sink;
    const Bytes gz = cat(gzipWithHeader(plain, false), junk);
    EXPECT_EQ(inflateDecompress(InflateFormat::Gzip, memorySource(gz, 7), memorySink(sink), &trailing), "");
    EXPECT_TRUE(trailing);
    EXPECT_TRUE(sink == plain);
}

TEST(InflateStream, ConvenienceDecoderNamesEachFailure) {
    const Bytes plain = readCorpusFile("paper-100k.pdf");
    const Bytes gz = gzipWithHeader(plain, false);
    Bytes sink;
    EXPECT_EQ(inflateDecompress(InflateFormat::Gzip, memorySource(gz), memorySink(sink)), "");
    EXPECT_TRUE(sink == plain);
    const Bytes truncated(gz.begin(), gz.end() - 100);
    EXPECT_EQ(inflateDecompress(InflateFormat::Gzip, memorySource(truncated), memorySink(sink)), "truncated input");
    Bytes badCrc = gz;
    badCrc[gz.size() - 5] ^= 0x80;
    EXPECT_EQ(inflateDecompress(InflateFormat::Gzip, memorySource(badCrc), memorySink(sink)).rfind("wrong checksum", 0),
              0u);
    Bytes badBlock = gz;
    badBlock[10] = 0xFF;  // block type 3
    EXPECT_EQ(inflateDecompress(InflateFormat::Gzip, memorySource(badBlock), memorySink(sink)),
              "corrupt input: invalid block type");
}

TEST(InflateStream, StoredBlocksInPieces) {
    std::mt19937_64 rng = makeRng(21);
    const Bytes plain = randomBytes(rng, 200000);
    const Bytes raw = zlibDeflate(plain, 0, Z_DEFAULT_STRATEGY, -15);
    for (const std::size_t in : {0, 1, 3}) {
        const DecodeResult r = decode(InflateFormat::Deflate, raw, in, 777);
        EXPECT_EQ(r.result, InflateResult::End);
        EXPECT_TRUE(r.out == plain);
    }
}

// ---- kel d --------------------------------------------------------------------------------------------------------

struct ToolRun {
    int status;
    std::string out, err;
};

class TempDir {
public:
    TempDir() {
        char t[] = "/tmp/kel-inflate-XXXXXX";
        path_ = mkdtemp(t);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    std::string path() const { return path_; }

private:
    std::string path_;
};

ToolRun run(const std::string& command, const TempDir& dir) {
    const std::string out = dir / ".stdout", err = dir / ".stderr";
    const int st = std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
    auto slurp = [](const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    };
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(out), slurp(err)};
}

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

const std::string kKel = KEL_TOOL;

TEST(KelDecompress, AgreesWithGzipOnFilesGzipMade) {
    const bool haveGzip = std::system("command -v gzip >/dev/null 2>&1") == 0;
    if (!haveGzip) {
        if (std::getenv("CI") != nullptr) FAIL() << "gzip is required in CI";
        GTEST_SKIP() << "gzip not installed";
    }
    TempDir dir;
    for (const auto& name : corpusFileNames()) {
        for (const char* level : {"-1", "-9"}) {
            const std::string src = std::string(KEL_DATA_DIR) + "/" + name, gz = dir / (name + ".gz");
            ASSERT_EQ(std::system(("gzip -c " + std::string(level) + " '" + src + "' >'" + gz + "'").c_str()), 0);
            const ToolRun theirs = run("gzip -dc '" + gz + "'", dir);
            const ToolRun ours = run(kKel + " d -c '" + gz + "'", dir);
            ASSERT_EQ(ours.status, 0) << name << ": " << ours.err;
            EXPECT_TRUE(ours.out == theirs.out) << name << " " << level;
            EXPECT_TRUE(Bytes(ours.out.begin(), ours.out.end()) == readCorpusFile(name)) << name;
        }
    }
    // Several members, as `cat a.gz b.gz` makes them, through standard input.
    const std::string two = dir / "two.gz";
    const std::string data = KEL_DATA_DIR;
    ASSERT_EQ(std::system(("(gzip -c '" + data + "/html'; gzip -c '" + data + "/urls.10K') >'" + two + "'").c_str()),
              0);
    const ToolRun ours = run(kKel + " d <'" + two + "'", dir), theirs = run("gzip -dc '" + two + "'", dir);
    EXPECT_EQ(ours.status, 0) << ours.err;
    EXPECT_TRUE(ours.out == theirs.out);
}

TEST(KelDecompress, ReplacesTheFileLikeGzip) {
    TempDir dir;
    const Bytes plain = readCorpusFile("kppkn.gtb");
    writeFile(dir / "a.gz", gzipWithHeader(plain, true));
    ToolRun r = run(kKel + " d '" + (dir / "a.gz") + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readFile(dir / "a") == plain);
    EXPECT_FALSE(exists(dir / "a.gz"));

    writeFile(dir / "a.gz", gzipWithHeader(plain, false));
    r = run(kKel + " d -k '" + (dir / "a.gz") + "'", dir);
    EXPECT_EQ(r.status, 1) << "the output exists";
    EXPECT_NE(r.err.find("already exists"), std::string::npos);
    r = run(kKel + " d -kf '" + (dir / "a.gz") + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(exists(dir / "a.gz"));

    writeFile(dir / "b.zz", zlibDeflate(plain, 9));
    writeFile(dir / "c.deflate", zlibDeflate(plain, 1, Z_DEFAULT_STRATEGY, -15));
    writeFile(dir / "d.bin", zlibDeflate(plain, 1));
    r = run(kKel + " d '" + (dir / "b.zz") + "' '" + (dir / "c.deflate") + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readFile(dir / "b") == plain);
    EXPECT_TRUE(readFile(dir / "c") == plain);
    r = run(kKel + " d --format zlib -c <'" + (dir / "d.bin") + "'", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Bytes(r.out.begin(), r.out.end()) == plain);
    r = run(kKel + " d '" + (dir / "d.bin") + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown suffix"), std::string::npos);
    EXPECT_EQ(run(kKel + " d --format lzma x.gz", dir).status, 2);
    EXPECT_EQ(run(kKel + " d --bogus", dir).status, 2);
}

TEST(KelDecompress, FailuresNameTheFileAndLeaveNoOutput) {
    TempDir dir;
    const Bytes plain = readCorpusFile("lcet10.txt");
    const Bytes gz = gzipWithHeader(plain, false);
    Bytes corrupt = gz;
    corrupt[10] = 0xFF;  // the first block header: block type 3
    Bytes badCrc = gz;
    badCrc[gz.size() - 6] ^= 1;
    struct Case {
        const char* file;
        Bytes data;
        const char* message;
    };
    const Case cases[] = {
        {"corrupt.gz", corrupt, "corrupt input"},
        {"truncated.gz", Bytes(gz.begin(), gz.begin() + std::ptrdiff_t(gz.size() / 3)), "truncated input"},
        {"crc.gz", badCrc, "wrong checksum"}};
    for (const Case& c : cases) {
        writeFile(dir / c.file, c.data);
        const ToolRun r = run(kKel + " d '" + (dir / c.file) + "'", dir);
        EXPECT_EQ(r.status, 1) << c.file;
        EXPECT_NE(r.err.find(c.file), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(exists(dir / c.file)) << "the input stays";
    }
    // Nothing but the three inputs (and the captured output) is left in the directory.
    const ToolRun ls = run("ls -A '" + dir.path() + "' | grep -v '^\\.std' | sort | tr '\\n' ' '", dir);
    EXPECT_EQ(ls.out, "corrupt.gz crc.gz truncated.gz ");
}

}  // namespace
}  // namespace kel::test
