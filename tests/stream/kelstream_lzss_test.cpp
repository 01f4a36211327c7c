// tests/stream/kelstream_lzss_test.cpp - the LZSS container through libkelstream: round trips in random pieces,
// its layout checked independently, what follows the trailer, and damaged containers.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "kelstream.h"
#include "support/kelstream_util.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::runStream;

std::vector<Bytes> inputs() {
    std::vector<Bytes> v = {{}, {'x'}, Bytes(700000, 'q')};
    for (const char* name : {"alice29.txt", "fireworks.jpeg", "html_x_4", "kppkn.gtb"}) {
        v.push_back(kel::test::readCorpusFile(name));
    }
    auto rng = kel::test::makeRng(41);
    v.push_back(kel::test::randomBytes(rng, 300000));
    return v;
}

Bytes compress(const Bytes& src, std::size_t maxPiece = 0, std::uint32_t seed = 1) {
    kel::test::StreamRun run = runStream(kelFormatLzss, kelCompress, src, nullptr, maxPiece, seed);
    EXPECT_EQ(run.result, kelStreamEnd) << run.message;
    return run.out;
}

// One-shot decompression from and into buffers that end at an inaccessible page.
KelStreamResult decodeGuarded(const Bytes& file, std::size_t room, Bytes* out = nullptr) {
    kel::test::GuardedBuffer in(file.size()), dst(room);
    if (!file.empty()) in.fill(file.data(), file.size());
    std::size_t dstLen = room;
    KelStreamResult r = kelStreamDecompress(kelFormatLzss, in.data(), file.size(), dst.data(), &dstLen, nullptr);
    if (out) out->assign(dst.data(), dst.data() + dstLen);
    return r;
}

TEST(LzssStream, RoundTripsInRandomPiecesWithTheDocumentedLayout) {
    for (const Bytes& src : inputs()) {
        const Bytes whole = compress(src);
        EXPECT_EQ(compress(src, 70001, 3), whole) << "the output must not depend on the input pieces";
        ASSERT_GE(whole.size(), 17u);
        EXPECT_EQ(std::string(whole.begin(), whole.begin() + 5), std::string("KLZS\x01", 5));
        std::uint64_t length = 0;
        for (int k = 7; k >= 0; --k) length = length << 8 | whole[whole.size() - 12 + std::size_t(k)];
        std::uint32_t crc = 0;
        for (int k = 3; k >= 0; --k) crc = crc << 8 | whole[whole.size() - 4 + std::size_t(k)];
        EXPECT_EQ(length, src.size());
        EXPECT_EQ(crc, ::crc32(0, src.data(), uInt(src.size())));
        EXPECT_LE(whole.size(), kelStreamCompressBound(kelFormatLzss, src.size(), nullptr));
        for (std::size_t piece : {std::size_t(0), std::size_t(333), std::size_t(7)}) {
            if (piece == 7 && src.size() > 200000) continue;
            kel::test::StreamRun back = runStream(kelFormatLzss, kelDecompress, whole, nullptr, piece, 11);
            ASSERT_EQ(back.result, kelStreamEnd) << back.message << " piece " << piece;
            ASSERT_EQ(back.out, src);
            EXPECT_EQ(back.consumed, whole.size());
        }
        Bytes back;
        EXPECT_EQ(decodeGuarded(whole, src.size(), &back), kelStreamEnd);
        EXPECT_EQ(back, src);
    }
}

// A container assembled bit by bit from the documented layout: literals (1, 8 bits), a match (0, 15-bit distance,
// 8-bit length - 3), zero padding, then the length and CRC-32 little-endian.
TEST(LzssStream, ReadsAContainerWrittenByHand) {
    std::string bits;
    auto put = [&](unsigned value, int width) {
        for (int k = width - 1; k >= 0; --k) bits += char('0' + ((value >> k) & 1));
    };
    for (char c : std::string("abc")) put(0x100u | std::uint8_t(c), 9);
    put(0, 1), put(3, 15), put(9 - 3, 8);  // distance 3, length 9
    while (bits.size() % 8) bits += '0';
    Bytes file = {'K', 'L', 'Z', 'S', 1};
    for (std::size_t k = 0; k < bits.size(); k += 8)
        file.push_back(std::uint8_t(std::stoul(bits.substr(k, 8), nullptr, 2)));
    const std::string text = "abcabcabcabc";
    const Bytes expect(text.begin(), text.end());
    for (int k = 0; k < 8; ++k) file.push_back(std::uint8_t(expect.size() >> (8 * k)));
    const std::uint32_t crc = std::uint32_t(::crc32(0, expect.data(), uInt(expect.size())));
    for (int k = 0; k < 4; ++k) file.push_back(std::uint8_t(crc >> (8 * k)));
    for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(2)}) {
        kel::test::StreamRun r = runStream(kelFormatLzss, kelDecompress, file, nullptr, piece, 17);
        EXPECT_EQ(r.result, kelStreamEnd) << r.message;
        EXPECT_EQ(r.out, expect);
    }
}

TEST(LzssStream, SyncFlushHandsOutWhatIsCompleteWithoutChangingTheOutput) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    KelStream* s = nullptr;
    ASSERT_EQ(kelStreamCreate(&s, kelFormatLzss, kelCompress, nullptr), kelStreamOk);
    Bytes out, buf(1 << 20);
    for (std::size_t pos = 0; pos < src.size();) {
        std::size_t srcLen = std::min<std::size_t>(50000, src.size() - pos), dstLen = buf.size();
        ASSERT_EQ(kelStreamProcess(s, src.data() + pos, &srcLen, buf.data(), &dstLen, kelFlushSync), kelStreamFlushed);
        pos += srcLen;
        out.insert(out.end(), buf.begin(), buf.begin() + long(dstLen));
    }
    std::size_t srcLen = 0, dstLen = buf.size();
    ASSERT_EQ(kelStreamProcess(s, nullptr, &srcLen, buf.data(), &dstLen, kelFlushFinish), kelStreamEnd);
    out.insert(out.end(), buf.begin(), buf.begin() + long(dstLen));
    kelStreamFree(s);
    EXPECT_EQ(out, compress(src));
}

TEST(LzssStream, BytesAfterTheTrailerAreTrailingData) {
    const Bytes src = kel::test::readCorpusFile("html");
    const Bytes file = compress(src);
    for (const Bytes& tail : {Bytes{'j', 'u', 'n', 'k'}, Bytes(40, 0), file, Bytes{0}}) {
        Bytes in = file;
        in.insert(in.end(), tail.begin(), tail.end());
        for (std::size_t piece : {std::size_t(0), std::size_t(5), std::size_t(4000)}) {
            kel::test::StreamRun r = runStream(kelFormatLzss, kelDecompress, in, nullptr, piece, 13);
            EXPECT_EQ(r.result, kelStreamTrailingData) << tail.size() << " piece " << piece << " " << r.message;
            EXPECT_EQ(r.out, src);
            EXPECT_EQ(r.consumed, file.size());
        }
        Bytes back;
        EXPECT_EQ(decodeGuarded(in, src.size(), &back), kelStreamTrailingData);
        EXPECT_EQ(back, src);
    }
    // An empty container followed by bytes.
    Bytes empty = compress({});
    empty.push_back('z');
    kel::test::StreamRun r = runStream(kelFormatLzss, kelDecompress, empty, nullptr, 1, 2);
    EXPECT_EQ(r.result, kelStreamTrailingData);
    EXPECT_TRUE(r.out.empty());
    EXPECT_EQ(r.consumed, empty.size() - 1);
}

TEST(LzssStream, DamagedContainersGiveErrorsNeverWildAccesses) {
    const Bytes src = kel::test::readCorpusFile("alice29.txt");
    const Bytes small = compress(Bytes(src.begin(), src.begin() + 2000));
    for (std::size_t cut = 0; cut < small.size(); ++cut) {
        EXPECT_LT(decodeGuarded(Bytes(small.begin(), small.begin() + long(cut)), 2000), 0) << cut;
    }
    for (std::size_t at = 0; at < small.size(); ++at) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes bad = small, out;
            bad[at] ^= std::uint8_t(1 << bit);
            // A flip may leave the container valid (a padding bit; a distance bit between two equal stretches of
            // text): it must then decode to the same bytes.
            if (decodeGuarded(bad, 2000, &out) >= 0) EXPECT_EQ(out, Bytes(src.begin(), src.begin() + 2000)) << at;
        }
    }
    Bytes badCrc = small;
    badCrc.back() ^= 1;
    EXPECT_EQ(decodeGuarded(badCrc, 2000), kelStreamErrChecksum);
    Bytes shorter = small;
    shorter[small.size() - 12] -= 1;  // a length one below what the stream holds
    EXPECT_EQ(decodeGuarded(shorter, 4000), kelStreamErrCorrupt);
    Bytes longer = small;
    longer[small.size() - 12] += 1;
    EXPECT_EQ(decodeGuarded(longer, 4000), kelStreamErrTruncated);
    Bytes version = small;
    version[4] = 2;
    EXPECT_EQ(decodeGuarded(version, 2000), kelStreamErrUnsupported);
    Bytes magic = small;
    magic[0] = 'X';
    EXPECT_EQ(decodeGuarded(magic, 2000), kelStreamErrCorrupt);
    EXPECT_EQ(decodeGuarded(small, 1999), kelStreamErrNoRoom);

    const Bytes big = compress(src);
    auto rng = kel::test::makeRng(42);
    for (int trial = 0; trial < 100; ++trial) {
        Bytes bad = big;
        for (int k = 0; k < 1 + int(rng() % 3); ++k) bad[rng() % bad.size()] = std::uint8_t(rng());
        if (trial % 2) bad.resize(rng() % (bad.size() + 1));
        Bytes out;
        const KelStreamResult r = decodeGuarded(bad, src.size() + 100, &out);
        if (r == kelStreamEnd) EXPECT_EQ(out, src) << kel::test::seedNote();
    }
}

}  // namespace
