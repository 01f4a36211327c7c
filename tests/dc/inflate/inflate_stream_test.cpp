// tests/dc/inflate/inflate_stream_test.cpp - `kel d` on gzip, zlib and raw Deflate files, as users meet it.
//
// Agreement with gzip -d on files gzip made, exit statuses, messages, and no output file left behind when a file
// fails. The decoder itself (members, header fields, checks, data after the end) is tested through libkelstream.
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
