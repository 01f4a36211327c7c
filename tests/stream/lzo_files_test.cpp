// tests/stream/lzo_files_test.cpp - the lzop file format and the LZSS container: round trips in every piece size,
// interop with the lzop tool in both directions, and damaged files reported, not crashed on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "stream/lzop_file.h"
#include "stream/lzss_file.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> inputs() {
    std::vector<Bytes> v = {{}, {'x'}, Bytes(700000, 'q')};
    for (const char* name : {"alice29.txt", "fireworks.jpeg", "html_x_4", "kppkn.gtb"}) {
        v.push_back(kel::test::readCorpusFile(name));
    }
    auto rng = kel::test::makeRng(31);
    v.push_back(kel::test::randomBytes(rng, 300000));
    return v;
}

// Runs a shell command; skips the test when the tool is missing outside CI.
bool haveTool(const char* tool) {
    const bool present = std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
    if (!present && std::getenv("CI")) ADD_FAILURE() << tool << " is required in CI";
    return present;
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& data) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

std::string tempPath(const std::string& leaf) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/kel_lzo_files_test_" + std::to_string(getpid()) + "_" + leaf;
}

TEST(LzopFile, RoundTripsInAnyPieceSize) {
    for (const Bytes& src : inputs()) {
        for (std::size_t piece : {std::size_t(1) << 30, std::size_t(4099)}) {
            Bytes file, back;
            ASSERT_EQ(kel::lzopCompress(kel::memorySource(src, piece), kel::memorySink(file), {"f.txt", 0644, 5}), "");
            ASSERT_TRUE(kel::isLzopMagic(file.data(), file.size()));
            ASSERT_EQ(kel::lzopDecompress(kel::memorySource(file, piece == 4099 ? 1 : piece), kel::memorySink(back)),
                      "");
            ASSERT_EQ(back, src);
        }
    }
}

TEST(LzopFile, TheLzopToolReadsOursAndWeReadItsFiles) {
    if (!haveTool("lzop")) GTEST_SKIP() << "lzop not installed";
    for (const Bytes& src : inputs()) {
        const std::string plain = tempPath("plain"), packed = plain + ".lzo", back = tempPath("back");
        Bytes file;
        ASSERT_EQ(kel::lzopCompress(kel::memorySource(src), kel::memorySink(file), {"plain"}), "");
        writeFile(packed, file);
        ASSERT_EQ(std::system(("lzop -d -c " + packed + " > " + back).c_str()), 0);
        EXPECT_EQ(readFile(back), src);

        writeFile(plain, src);
        for (const char* level : {"-1", "-3", "-9"}) {
            ASSERT_EQ(std::system(("lzop -f " + std::string(level) + " -o " + packed + " " + plain).c_str()), 0);
            Bytes ours;
            ASSERT_EQ(kel::lzopDecompress(kel::memorySource(readFile(packed)), kel::memorySink(ours)), "") << level;
            EXPECT_EQ(ours, src);
        }
        std::remove(plain.c_str());
        std::remove(packed.c_str());
        std::remove(back.c_str());
    }
}

TEST(LzopFile, DamageIsReportedAsSuch) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    Bytes file;
    ASSERT_EQ(kel::lzopCompress(kel::memorySource(src), kel::memorySink(file)), "");
    Bytes out;
    EXPECT_EQ(kel::lzopDecompress(kel::memorySource(Bytes(file.begin(), file.end() - 5)), kel::memorySink(out)),
              "truncated input");
    Bytes flipped = file;
    flipped[file.size() / 2] ^= 0x10;
    out.clear();
    const std::string err = kel::lzopDecompress(kel::memorySource(flipped), kel::memorySink(out));
    EXPECT_TRUE(err == "wrong checksum" || err.rfind("corrupt input", 0) == 0) << err;
    auto rng = kel::test::makeRng(32);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes bad = file;
        bad[rng() % bad.size()] = std::uint8_t(rng());
        bad.resize(rng() % (bad.size() + 1));
        out.clear();
        kel::lzopDecompress(kel::memorySource(bad), kel::memorySink(out));  // any error, never a crash
    }
}

TEST(LzssFile, RoundTripsAndChecksItsTrailer) {
    for (const Bytes& src : inputs()) {
        Bytes file, back;
        ASSERT_EQ(kel::lzssCompress(kel::memorySource(src, 70001), kel::memorySink(file)), "");
        ASSERT_EQ(kel::lzssDecompress(kel::memorySource(file, 333), kel::memorySink(back)), "");
        ASSERT_EQ(back, src);
    }
    const Bytes src = kel::test::readCorpusFile("html");
    Bytes file, out;
    ASSERT_EQ(kel::lzssCompress(kel::memorySource(src), kel::memorySink(file)), "");
    EXPECT_EQ(kel::lzssDecompress(kel::memorySource(Bytes(file.begin(), file.begin() + 8)), kel::memorySink(out)),
              "truncated input");
    Bytes badCrc = file;
    badCrc.back() ^= 1;
    out.clear();
    EXPECT_EQ(kel::lzssDecompress(kel::memorySource(badCrc), kel::memorySink(out)), "wrong checksum");
}

}  // namespace
