// tests/dc/bzip2/bzip2_stream_test.cpp - .bz2 files: our writer and reader against libbz2 and the bzip2 tool.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dc/bzip2/bzip2_test_util.h"
#include "stream/bzip2_stream.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ourCompress(const Bytes& data, int level) {
    Bytes out;
    EXPECT_EQ(kel::Bzip2Writer::compress(data.data(), data.size(), level, out), kelStatusOk);
    return out;
}

// Decodes with input pieces of `piece` bytes and output room of `room` bytes per call.
std::string ourDecompress(const Bytes& file, Bytes& out, std::size_t piece = SIZE_MAX, std::size_t room = 1 << 20,
                          bool* trailing = nullptr) {
    out.clear();
    kel::Bzip2Reader r;
    std::size_t pos = 0;
    Bytes buf(room);
    for (;;) {
        const std::size_t n = std::min(piece, file.size() - pos);
        const std::uint8_t* in = file.data() + pos;
        std::size_t inLen = n;
        const bool last = pos + n == file.size();
        std::uint8_t* o = buf.data();
        std::size_t oLen = room;
        const kel::Bzip2Result res = r.decompress(in, inLen, o, oLen, last);
        pos += n - inLen;
        out.insert(out.end(), buf.data(), o);
        if (res == kel::Bzip2Result::End) {
            if (trailing) *trailing = r.trailingData() || pos < file.size();
            return "";
        }
        if (res != kel::Bzip2Result::Ok) return r.message();
        if (last && inLen == n && oLen == room && n == 0) return "no progress";
    }
}

Bytes libbz2Compress(const Bytes& data, int level) {
    unsigned int len = static_cast<unsigned int>(data.size() + data.size() / 50 + 1024);
    Bytes out(len);
    char empty[1] = {0};  // libbz2 refuses a null source even for 0 bytes
    EXPECT_EQ(
        BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                 data.empty() ? empty : const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                 static_cast<unsigned int>(data.size()), level, 0, 0),
        BZ_OK);
    out.resize(len);
    return out;
}

int libbz2Decompress(const Bytes& file, std::size_t expected, Bytes& out) {
    unsigned int len = static_cast<unsigned int>(expected + 1);
    out.assign(len, 0);
    const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &len,
                                              const_cast<char*>(reinterpret_cast<const char*>(file.data())),
                                              static_cast<unsigned int>(file.size()), 0, 0);
    out.resize(len);
    return rc;
}

std::vector<std::pair<std::string, Bytes>> inputs() {
    std::vector<std::pair<std::string, Bytes>> v;
    for (const auto& name : kel::test::corpusFileNames()) v.emplace_back(name, kel::test::readCorpusFile(name));
    auto rng = kel::test::makeRng(41);
    v.emplace_back("empty", Bytes{});
    v.emplace_back("one byte", Bytes{'x'});
    v.emplace_back("random", kel::test::randomBytes(rng, 250000));
    v.emplace_back("all equal", Bytes(1000000, 'A'));
    Bytes periodic(300000);
    for (std::size_t i = 0; i < periodic.size(); ++i) periodic[i] = static_cast<std::uint8_t>(i % 251);
    v.emplace_back("periodic", periodic);
    Bytes runs;
    for (int len : {3, 4, 5, 259, 260, 261, 1000}) runs.insert(runs.end(), len, static_cast<std::uint8_t>(len));
    v.emplace_back("runs", runs);
    return v;
}

TEST(Bzip2Stream, OurFilesDecodeWithLibbz2AndUs) {
    for (const auto& [name, data] : inputs()) {
        for (int level : {1, 9}) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            const Bytes file = ourCompress(data, level);
            Bytes back;
            ASSERT_EQ(libbz2Decompress(file, data.size(), back), BZ_OK);
            ASSERT_EQ(back, data);
            ASSERT_EQ(ourDecompress(file, back), "");
            ASSERT_EQ(back, data);
        }
    }
}

TEST(Bzip2Stream, Libbz2FilesDecodeWithUs) {
    for (const auto& [name, data] : inputs()) {
        for (int level : {1, 5, 9}) {
            SCOPED_TRACE(name + " level " + std::to_string(level));
            Bytes back;
            ASSERT_EQ(ourDecompress(libbz2Compress(data, level), back), "");
            ASSERT_EQ(back, data);
        }
    }
}

TEST(Bzip2Stream, SizeIsCloseToLibbz2) {
    const Bytes text = kel::test::readCorpusFile("lcet10.txt");
    const double ours = static_cast<double>(ourCompress(text, 9).size());
    const double theirs = static_cast<double>(libbz2Compress(text, 9).size());
    EXPECT_LT(ours, theirs * 1.01);
}

TEST(Bzip2Stream, AnyPieceAndRoomSize) {
    auto rng = kel::test::makeRng(42);
    Bytes data = kel::test::readCorpusFile("alice29.txt");
    data.insert(data.end(), 5000, 'z');
    // Two streams, a level-1 one with several blocks first.
    Bytes big = kel::test::readCorpusFile("plrabn12.txt");
    Bytes file = ourCompress(big, 1);
    const Bytes second = libbz2Compress(data, 9);
    file.insert(file.end(), second.begin(), second.end());
    Bytes expect = big;
    expect.insert(expect.end(), data.begin(), data.end());
    for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7), std::size_t(4096)}) {
        for (std::size_t room : {std::size_t(1), std::size_t(333), std::size_t(1) << 20}) {
            if (piece == 1 && room == 1) continue;  // same paths as below, far slower
            Bytes back;
            ASSERT_EQ(ourDecompress(file, back, piece, room), "") << piece << " " << room;
            ASSERT_EQ(back, expect) << piece << " " << room;
        }
    }
    // Writer fed in odd pieces gives the same file as one call.
    kel::Bzip2Writer w(2);
    for (std::size_t pos = 0; pos < big.size();) {
        const std::size_t n = std::min<std::size_t>(1 + rng() % 9000, big.size() - pos);
        ASSERT_EQ(w.write(big.data() + pos, n), kelStatusOk);
        pos += n;
    }
    ASSERT_EQ(w.finish(), kelStatusOk);
    EXPECT_EQ(w.output(), ourCompress(big, 2));
}

TEST(Bzip2Stream, ReportsDamage) {
    const Bytes data = kel::test::readCorpusFile("asyoulik.txt");
    const Bytes file = ourCompress(data, 9);
    Bytes back;
    EXPECT_EQ(ourDecompress(Bytes(file.begin(), file.end() - 3), back), "unexpected end of input");
    Bytes flipped = file;
    flipped[file.size() / 2] ^= 0x10;
    EXPECT_NE(ourDecompress(flipped, back), "");
    Bytes badCrc = file;
    badCrc[10] ^= 1;  // inside the block CRC
    EXPECT_EQ(ourDecompress(badCrc, back), "block CRC mismatch");
    bool trailing = false;
    Bytes withGarbage = file;
    withGarbage.insert(withGarbage.end(), {'j', 'u', 'n', 'k', 'y'});
    EXPECT_EQ(ourDecompress(withGarbage, back, SIZE_MAX, 1 << 20, &trailing), "");
    EXPECT_TRUE(trailing);
    EXPECT_EQ(back, data);
    EXPECT_EQ(ourDecompress(Bytes{'B', 'Z', 'h', '0'}, back), "invalid block size");
    EXPECT_EQ(ourDecompress(Bytes{'P', 'K', 3, 4}, back), "not a bzip2 stream");
    // Random damage anywhere: an error or the right data, never a crash.
    auto rng = kel::test::makeRng(43);
    const Bytes small = ourCompress(Bytes(data.begin(), data.begin() + 20000), 1);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes bad = small;
        bad[4 + rng() % (bad.size() - 4)] ^= static_cast<std::uint8_t>(1 + rng() % 255);
        ourDecompress(bad, back);
    }
}

// The bzip2 tool, where it exists (CI must have it).
std::string toolPath() {
    for (const char* p : {"/usr/bin/bzip2", "/bin/bzip2", "/usr/local/bin/bzip2"}) {
        if (access(p, X_OK) == 0) return p;
    }
    return "";
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST(Bzip2Tool, RoundTripsWithTheBzip2Tool) {
    const std::string tool = toolPath();
    if (tool.empty()) {
        if (std::getenv("CI") != nullptr) FAIL() << "bzip2 is required in CI";
        GTEST_SKIP() << "bzip2 not installed";
    }
    char dir[] = "/tmp/kel-bz2-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string d = dir;
    Bytes data = kel::test::readCorpusFile("lcet10.txt");
    const Bytes extra = kel::test::readCorpusFile("kppkn.gtb");
    data.insert(data.end(), extra.begin(), extra.end());
    for (int level : {1, 9}) {
        writeFile(d + "/ours.bz2", ourCompress(data, level));
        ASSERT_EQ(std::system((tool + " -d -c " + d + "/ours.bz2 > " + d + "/ours.out").c_str()), 0);
        EXPECT_EQ(readFile(d + "/ours.out"), data) << level;
        writeFile(d + "/plain", data);
        ASSERT_EQ(
            std::system((tool + " -" + std::to_string(level) + " -c " + d + "/plain > " + d + "/theirs.bz2").c_str()),
            0);
        Bytes back;
        ASSERT_EQ(ourDecompress(readFile(d + "/theirs.bz2"), back), "");
        EXPECT_EQ(back, data) << level;
    }
#ifdef KEL_TOOL
    // kel c -f bzip2 and kel d, through files.
    writeFile(d + "/t.txt", data);
    ASSERT_EQ(std::system((std::string(KEL_TOOL) + " c -f bzip2 -l 1 -k " + d + "/t.txt").c_str()), 0);
    ASSERT_EQ(std::system((tool + " -d -c " + d + "/t.txt.bz2 > " + d + "/t.check").c_str()), 0);
    EXPECT_EQ(readFile(d + "/t.check"), data);
    ASSERT_EQ(std::system((tool + " -9 -c " + d + "/t.txt > " + d + "/u.bz2").c_str()), 0);
    ASSERT_EQ(std::system((std::string(KEL_TOOL) + " d " + d + "/u.bz2").c_str()), 0);
    EXPECT_EQ(readFile(d + "/u"), data);
#endif
    std::system(("rm -rf " + d).c_str());
}

// A block announcing more selectors than it uses (the 15-bit count allows 32767; libbz2 keeps 18002 and reads past
// the rest) decodes through the reader and through kel d.
TEST(Bzip2Stream, BlocksAnnouncingExtraSelectorsDecode) {
    const Bytes data = kel::test::readCorpusFile("lcet10.txt");
    const Bytes one(data.begin(), data.begin() + 200000);
    const Bytes file = libbz2Compress(one, 9);
    char dir[] = "/tmp/kel-bz2sel-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string d = dir;
    for (int count : {18003, 20000, 32767}) {
        SCOPED_TRACE(count);
        const Bytes edited = kel::test::bz2::rewriteSelectorCount(file, count);
        Bytes back;
        ASSERT_EQ(libbz2Decompress(edited, one.size(), back), BZ_OK);
        ASSERT_EQ(back, one);
        ASSERT_EQ(ourDecompress(edited, back), "");
        EXPECT_EQ(back, one);
        ASSERT_EQ(ourDecompress(edited, back, 7, 1000), "");
        EXPECT_EQ(back, one);
#ifdef KEL_TOOL
        writeFile(d + "/sel.bz2", edited);
        ASSERT_EQ(std::system((std::string(KEL_TOOL) + " d -f " + d + "/sel.bz2").c_str()), 0);
        EXPECT_EQ(readFile(d + "/sel"), one);
        std::remove((d + "/sel").c_str());
#endif
    }
    std::system(("rm -rf " + d).c_str());
}

}  // namespace
