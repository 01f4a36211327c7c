// tests/dc/lz4/lz4_frame_test.cpp - LZ4 frames: the xxHash, our frames read by liblz4 and the lz4 tool, theirs read
// by us, damaged frames, and the kel tool's lz4 format against the lz4 tool.
#include <gtest/gtest.h>
#include <lz4frame.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "stream/lz4_frame.h"
#include "stream/xxhash32.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes writeFrame(const Bytes& src, const kel::Lz4FrameOptions& o, std::size_t piece = SIZE_MAX) {
    Bytes out;
    EXPECT_EQ(kel::lz4FrameCompress(kel::memorySource(src, piece), kel::memorySink(out), o), "");
    return out;
}

std::string readFrames(const Bytes& frame, Bytes* out, bool* trailing = nullptr) {
    out->clear();
    return kel::lz4FrameDecompress(kel::memorySource(frame, 1000), kel::memorySink(*out), trailing);
}

// liblz4's frame decoder, which checks every checksum and the descriptor.
bool liblz4Decode(const Bytes& frame, Bytes* out) {
    LZ4F_dctx* ctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&ctx, LZ4F_VERSION))) return false;
    out->clear();
    Bytes buf(1 << 16);
    std::size_t pos = 0, ret = 1;
    while (pos < frame.size() && ret != 0) {
        std::size_t inLen = frame.size() - pos, outLen = buf.size();
        ret = LZ4F_decompress(ctx, buf.data(), &outLen, frame.data() + pos, &inLen, nullptr);
        if (LZ4F_isError(ret)) break;
        pos += inLen;
        out->insert(out->end(), buf.begin(), buf.begin() + std::ptrdiff_t(outLen));
    }
    LZ4F_freeDecompressionContext(ctx);
    return ret == 0 && pos == frame.size();
}

Bytes liblz4Encode(const Bytes& src, int sizeId, bool linked, bool blockSum, bool contentSum, int level,
                   bool withSize) {
    LZ4F_preferences_t p{};
    p.frameInfo.blockSizeID = LZ4F_blockSizeID_t(sizeId);
    p.frameInfo.blockMode = linked ? LZ4F_blockLinked : LZ4F_blockIndependent;
    p.frameInfo.blockChecksumFlag = blockSum ? LZ4F_blockChecksumEnabled : LZ4F_noBlockChecksum;
    p.frameInfo.contentChecksumFlag = contentSum ? LZ4F_contentChecksumEnabled : LZ4F_noContentChecksum;
    p.frameInfo.contentSize = withSize ? src.size() : 0;
    p.compressionLevel = level;
    Bytes out(LZ4F_compressFrameBound(src.size(), &p));
    out.resize(LZ4F_compressFrame(out.data(), out.size(), src.data(), src.size(), &p));
    return out;
}

Bytes sample() {
    Bytes s = kel::test::readCorpusFile("html_x_4");
    const Bytes j = kel::test::readCorpusFile("fireworks.jpeg");
    s.insert(s.end(), j.begin(), j.end());
    const Bytes t = kel::test::readCorpusFile("alice29.txt");
    s.insert(s.end(), t.begin(), t.end());
    return s;
}

TEST(Lz4FrameXxHash, KnownValuesAndSplits) {
    EXPECT_EQ(kel::XxHash32::hash(nullptr, 0), 0x02CC5D05u);
    EXPECT_EQ(kel::XxHash32::hash(reinterpret_cast<const std::uint8_t*>("abc"), 3), 0x32D153FFu);
    auto rng = kel::test::makeRng(2);
    const Bytes data = kel::test::randomBytes(rng, 1000);
    for (std::size_t n : {0, 1, 15, 16, 17, 100, 1000}) {
        const std::uint32_t whole = kel::XxHash32::hash(data.data(), n, 7);
        for (std::size_t cut = 0; cut <= n; cut += 1 + cut / 3) {
            kel::XxHash32 h(7);
            h.update(data.data(), cut);
            h.update(data.data() + cut, n - cut);
            ASSERT_EQ(h.digest(), whole) << n << " " << cut;
        }
    }
}

// Every option combination of our writer decodes with liblz4 and with our reader.
TEST(Lz4Frame, WrittenFramesDecodeWithLiblz4) {
    const Bytes src = sample();
    for (int sizeId : {4, 5, 7}) {
        for (bool linked : {false, true}) {
            for (int level : {0, 4, 9}) {
                if (level == 9 && sizeId != 4) continue;
                kel::Lz4FrameOptions o;
                o.blockSizeId = sizeId;
                o.linkedBlocks = linked;
                o.hcLevel = level;
                o.blockChecksum = sizeId == 5;
                o.contentSize = sizeId == 4 ? std::int64_t(src.size()) : -1;
                SCOPED_TRACE(std::to_string(sizeId) + (linked ? " linked" : "") + " level " + std::to_string(level));
                const Bytes frame = writeFrame(src, o, 70000);
                Bytes a, b;
                ASSERT_TRUE(liblz4Decode(frame, &a));
                EXPECT_TRUE(a == src);
                ASSERT_EQ(readFrames(frame, &b), "");
                EXPECT_TRUE(b == src);
            }
        }
    }
    // Linking pays off with small blocks.
    kel::Lz4FrameOptions o;
    o.blockSizeId = 4;
    const std::size_t independent = writeFrame(src, o).size();
    o.linkedBlocks = true;
    EXPECT_LT(writeFrame(src, o).size(), independent);
}

TEST(Lz4Frame, ReadsLiblz4Frames) {
    const Bytes src = sample();
    for (int sizeId : {4, 6, 7}) {
        for (bool linked : {false, true}) {
            for (int level : {1, 9}) {
                SCOPED_TRACE(std::to_string(sizeId) + (linked ? " linked" : "") + " level " + std::to_string(level));
                const Bytes frame = liblz4Encode(src, sizeId, linked, sizeId == 6, sizeId != 7, level, sizeId == 4);
                Bytes out;
                ASSERT_EQ(readFrames(frame, &out), "");
                EXPECT_TRUE(out == src);
            }
        }
    }
    // Two frames with a skippable frame between them, then bytes that start no frame.
    const Bytes small(src.begin(), src.begin() + 5000);
    Bytes cat = liblz4Encode(small, 4, false, false, true, 1, false);
    const Bytes skip = {0x5A, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 1, 2, 3};
    cat.insert(cat.end(), skip.begin(), skip.end());
    const Bytes second = writeFrame(small, {});
    cat.insert(cat.end(), second.begin(), second.end());
    cat.push_back(0);
    Bytes out;
    bool trailing = false;
    ASSERT_EQ(readFrames(cat, &out, &trailing), "");
    EXPECT_TRUE(trailing);
    EXPECT_EQ(out.size(), 10000u);
}

// Any damaged byte or any cut is reported, never a crash or a false success (checksums on).
TEST(Lz4Frame, DamagedFramesFail) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    kel::Lz4FrameOptions o;
    o.blockSizeId = 4;
    o.linkedBlocks = true;
    o.blockChecksum = true;
    const Bytes frame = writeFrame(src, o);
    auto rng = kel::test::makeRng(4);
    Bytes out;
    for (int i = 0; i < 200; ++i) {
        Bytes bad = frame;
        bad[rng() % bad.size()] ^= std::uint8_t(1 + rng() % 255);
        EXPECT_NE(readFrames(bad, &out), "");
    }
    for (std::size_t cut : {std::size_t(0), std::size_t(3), std::size_t(6), frame.size() / 2, frame.size() - 1}) {
        EXPECT_EQ(readFrames(Bytes(frame.begin(), frame.begin() + std::ptrdiff_t(cut)), &out), "truncated input");
    }
}

// ---- the command-line tools ------------------------------------------------------------------------------------

bool haveLz4Tool() {
    return std::system("lz4 --version >/dev/null 2>&1") == 0;
}

#define REQUIRE_LZ4_TOOL()                                                     \
    do {                                                                       \
        if (!haveLz4Tool()) {                                                  \
            if (std::getenv("CI")) FAIL() << "the lz4 tool is required in CI"; \
            GTEST_SKIP() << "lz4 tool not installed";                          \
        }                                                                      \
    } while (0)

class Lz4Tools : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            std::filesystem::temp_directory_path() / ("kel_lz4_" + std::to_string(getpid()) + "_" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static void save(const std::string& p, const Bytes& b) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
    }
    static Bytes load(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

    std::filesystem::path dir_;
};

TEST_F(Lz4Tools, Lz4ToolReadsOurFramesAndWeReadItsFrames) {
    REQUIRE_LZ4_TOOL();
    const Bytes src = sample();
    save(path("in"), src);
    for (int variant = 0; variant < 4; ++variant) {
        kel::Lz4FrameOptions o;
        o.linkedBlocks = variant & 1;
        o.hcLevel = variant & 2 ? 9 : 0;
        o.blockSizeId = 4 + variant;
        save(path("ours.lz4"), writeFrame(src, o));
        ASSERT_EQ(run("lz4 -d -f -q " + path("ours.lz4") + " " + path("ours.out")), 0) << variant;
        EXPECT_TRUE(load(path("ours.out")) == src) << variant;
    }
    for (const char* flags : {"-1", "-9 -BD", "-B4 -BD --content-size -BX"}) {
        ASSERT_EQ(run(std::string("lz4 -f -q ") + flags + " " + path("in") + " " + path("theirs.lz4")), 0) << flags;
        Bytes out;
        ASSERT_EQ(readFrames(load(path("theirs.lz4")), &out), "") << flags;
        EXPECT_TRUE(out == src) << flags;
    }
}

// `kel c -f lz4` output restored by `lz4 -d`, and `lz4` output restored by `kel d`.
TEST_F(Lz4Tools, KelToolInteroperatesWithLz4Tool) {
    REQUIRE_LZ4_TOOL();
    const std::string kel = KEL_TOOL;
    const Bytes src = sample();
    for (const char* flags : {"", "--linked", "--hc -l 4", "--hc -l 9 --linked"}) {
        save(path("a"), src);
        ASSERT_EQ(run(kel + " c -f lz4 " + flags + " " + path("a")), 0) << flags;
        ASSERT_EQ(run("lz4 -d -f -q " + path("a.lz4") + " " + path("a.out")), 0) << flags;
        EXPECT_TRUE(load(path("a.out")) == src) << flags;
        std::filesystem::remove(path("a.lz4"));
    }
    for (const char* flags : {"-1", "-9 -BD -B4"}) {
        save(path("b"), src);
        ASSERT_EQ(run(std::string("lz4 -f -q --rm ") + flags + " " + path("b") + " " + path("b.lz4")), 0) << flags;
        ASSERT_EQ(run(kel + " d " + path("b.lz4")), 0) << flags;
        EXPECT_TRUE(load(path("b")) == src) << flags;
    }
}

}  // namespace
