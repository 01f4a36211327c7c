// tests/dc/lz4/lz4_decode_test.cpp - the LZ4 block decoder: known blocks, malformed blocks, the fast loop against
// the careful loop, and blocks written by liblz4.
#include <gtest/gtest.h>
#include <lz4.h>
#include <lz4hc.h>

#include <vector>

#include "dc/lz4/lz4_internal.h"
#include "keldc.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using kel::test::GuardedBuffer;

// Decodes src (copied to a guarded buffer of exactly its size) into a guarded destination of cap bytes.
KelStatus decodeGuarded(const Bytes& src, int cap, Bytes* out, int* pLen) {
    GuardedBuffer in(src.size()), dst(cap);
    in.fill(src.data(), src.size());
    int len = cap;
    const KelStatus st = kelsDecodeLZ4_8u(in.data(), int(src.size()), dst.data(), &len);
    *pLen = len;
    if (st == kelStatusOk && out) out->assign(dst.data(), dst.data() + len);
    return st;
}

Bytes liblz4Compress(const Bytes& src, int hcLevel) {
    Bytes out(LZ4_compressBound(int(src.size())));
    const int n = hcLevel
                      ? LZ4_compress_HC(reinterpret_cast<const char*>(src.data()), reinterpret_cast<char*>(out.data()),
                                        int(src.size()), int(out.size()), hcLevel)
                      : LZ4_compress_default(reinterpret_cast<const char*>(src.data()),
                                             reinterpret_cast<char*>(out.data()), int(src.size()), int(out.size()));
    out.resize(n);
    return out;
}

// A random, well-formed block: sequences of random literals and matches of random offsets (within the output so
// far) and lengths, including long extensions, short overlapping offsets and a block ending after a match.
Bytes randomBlock(std::mt19937_64& rng, int* pDecodedLen) {
    Bytes blk;
    int outLen = 0;
    const int seqs = int(rng() % 40);
    auto ext = [&](size_t n) {
        while (n >= 255) {
            blk.push_back(255);
            n -= 255;
        }
        blk.push_back(std::uint8_t(n));
    };
    for (int s = 0; s <= seqs; ++s) {
        const bool last = s == seqs;
        size_t lit = rng() % 4 == 0 ? rng() % 600 : rng() % 20;
        if (outLen == 0 && lit == 0) lit = 1;
        size_t ml = rng() % 4 == 0 ? 4 + rng() % 700 : 4 + rng() % 20;
        blk.push_back(std::uint8_t((std::min<size_t>(lit, 15) << 4) | (last ? 0 : std::min<size_t>(ml - 4, 15))));
        if (lit >= 15) ext(lit - 15);
        for (size_t i = 0; i < lit; ++i) blk.push_back(std::uint8_t(rng() % 4 ? 'a' + rng() % 3 : rng()));
        outLen += int(lit);
        if (last) break;
        const int maxOff = std::min(outLen, 65535);
        const int off = rng() % 2 ? 1 + int(rng() % std::min(maxOff, 20)) : 1 + int(rng() % maxOff);
        blk.push_back(std::uint8_t(off));
        blk.push_back(std::uint8_t(off >> 8));
        if (ml - 4 >= 15) ext(ml - 19);
        outLen += int(ml);
        if (rng() % 20 == 0) break;  // end right after a match
    }
    *pDecodedLen = outLen;
    return blk;
}

TEST(Lz4Decode, KnownBlocks) {
    Bytes out;
    int len;
    // One token of five literals.
    EXPECT_EQ(decodeGuarded({0x50, 'h', 'e', 'l', 'l', 'o'}, 5, &out, &len), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.end()), Bytes({'h', 'e', 'l', 'l', 'o'}));
    // Offset 1, length 100 after "a": 101 bytes of 'a', the match ending exactly at the capacity.
    EXPECT_EQ(decodeGuarded({0x1F, 'a', 1, 0, 81}, 101, &out, &len), kelStatusOk);
    EXPECT_EQ(out, Bytes(101, 'a'));
    // One byte less room: overrun.
    EXPECT_EQ(decodeGuarded({0x1F, 'a', 1, 0, 81}, 100, nullptr, &len), kelStatusStreamOverrun);
    EXPECT_EQ(len, -1);
    // Literal count 15 (one extension byte 0) and 270 (15, 255, 0).
    Bytes b15 = {0xF0, 0};
    for (int i = 0; i < 15; ++i) b15.push_back(std::uint8_t(i));
    EXPECT_EQ(decodeGuarded(b15, 15, &out, &len), kelStatusOk);
    EXPECT_EQ(len, 15);
    Bytes b270 = {0xF0, 255, 0};
    b270.resize(3 + 270, 7);
    EXPECT_EQ(decodeGuarded(b270, 300, &out, &len), kelStatusOk);
    EXPECT_EQ(out, Bytes(270, 7));
    // A block ending at a token boundary, right after a match.
    EXPECT_EQ(decodeGuarded({0x40, 'a', 'b', 'c', 'd', 4, 0}, 8, &out, &len), kelStatusOk);
    EXPECT_EQ(out, Bytes({'a', 'b', 'c', 'd', 'a', 'b', 'c', 'd'}));
}

TEST(Lz4Decode, ArgumentChecksInOrder) {
    Kel8u src[1] = {0}, dst[4];
    int len = 4;
    EXPECT_EQ(kelsDecodeLZ4_8u(nullptr, 1, dst, &len), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeLZ4_8u(src, 1, nullptr, &len), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeLZ4_8u(src, 1, dst, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeLZ4_8u(src, 0, dst, &len), kelStatusBadSize);
    len = 0;
    EXPECT_EQ(kelsDecodeLZ4_8u(src, 1, dst, &len), kelStatusBadSize);
    EXPECT_EQ(len, 0);
}

// Offsets of 0 and offsets reaching before the output, blocks cut inside an offset or an extension: all
// malformed, in the careful loop and in the fast loop alike (the long prefix of literals puts the fault inside
// the fast loop's margins).
TEST(Lz4Decode, RejectsMalformedBlocksInBothLoops) {
    for (int prefix : {0, 200}) {
        SCOPED_TRACE(prefix);
        auto make = [&](Bytes tail, size_t pad) {
            Bytes b;
            if (prefix) {
                b = {0xF0, std::uint8_t(prefix - 15)};
                for (int i = 0; i < prefix; ++i) b.push_back(std::uint8_t(i));
                b.push_back(8);  // offset 8, length 4: a valid first match
                b.push_back(0);
            }
            b.insert(b.end(), tail.begin(), tail.end());
            b.insert(b.end(), pad, std::uint8_t(pad ? tail.back() : 0));
            return b;
        };
        const int cap = prefix + 4 + 40000;
        const int before = prefix + (prefix ? 4 : 0) + 4 + 1;  // one byte more than the output so far
        const Bytes faults[] = {
            make({0x44, 'a', 'b', 'c', 'd', 0, 0}, 0),                                             // offset 0
            make({0x44, 'a', 'b', 'c', 'd', std::uint8_t(before), std::uint8_t(before >> 8)}, 0),  // before start
            make({0x40, 'a', 'b', 'c', 'd', 1}, 0),                                                // cut in offset
            make({0x4F, 'a', 'b', 'c', 'd', 1, 0}, 0),                                             // cut, no ext
            make({0x4F, 'a', 'b', 'c', 'd', 1, 0, 255}, 60),                                       // cut in ext
            make({0xF0, 255}, 60),                                                                 // cut in literal ext
            make({0x50, 'a', 'b'}, 0),                                                             // literals past end
        };
        for (size_t i = 0; i < std::size(faults); ++i) {
            for (size_t trail : {0, 40}) {
                Bytes blk = faults[i];
                // Trailing sequences move the fault inside the fast loop's margins, where it can be; a cut block
                // has nothing after the fault.
                if (i < 2) blk.insert(blk.end(), trail, 0x00);
                int len = 0;
                EXPECT_EQ(decodeGuarded(blk, cap, nullptr, &len), kelStatusStreamOverrun) << "fault " << i;
                EXPECT_EQ(len, -1);
            }
        }
    }
}

// The fast loop must give the careful loop's result on every block, well-formed or damaged, at every capacity
// around the decoded size (guarded buffers of exact size catch any access beyond them).
TEST(Lz4Decode, FastLoopMatchesCarefulLoop) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(1);
    for (int iter = 0; iter < 1500; ++iter) {
        int decoded = 0;
        Bytes blk = randomBlock(rng, &decoded);
        if (iter % 3 == 1 && !blk.empty()) blk[rng() % blk.size()] ^= std::uint8_t(1 + rng() % 255);
        if (iter % 3 == 2 && blk.size() > 1) blk.resize(1 + rng() % (blk.size() - 1));
        for (int cap : {decoded - 1, decoded, decoded + 1, decoded + 64, decoded + 200}) {
            if (cap < 1) continue;
            GuardedBuffer in(blk.size()), d1(cap), d2(cap);
            in.fill(blk.data(), blk.size());
            int len1 = cap, len2 = cap;
            const KelStatus s1 = n8_ownsDecodeLZ4_8u(in.data(), int(blk.size()), d1.data(), &len1);
            const KelStatus s2 = n8_ownsDecodeLZ4_8u_ref(in.data(), int(blk.size()), d2.data(), &len2);
            ASSERT_EQ(s1, s2) << "iter " << iter << " cap " << cap;
            ASSERT_EQ(len1, len2);
            if (s1 == kelStatusOk) {
                ASSERT_EQ(0, std::memcmp(d1.data(), d2.data(), len1)) << "iter " << iter;
            }
            if (iter % 3 == 0) EXPECT_EQ(s1, cap >= decoded ? kelStatusOk : kelStatusStreamOverrun);
        }
    }
}

// Blocks from liblz4's fast and high-compression encoders decode to the original.
TEST(Lz4Decode, DecodesLiblz4Blocks) {
    for (const auto& name : kel::test::corpusFileNames()) {
        SCOPED_TRACE(name);
        const Bytes src = kel::test::readCorpusFile(name);
        ASSERT_FALSE(src.empty());
        for (int level : {0, 4, 9, 12}) {
            const Bytes blk = liblz4Compress(src, level);
            Bytes out;
            int len;
            ASSERT_EQ(decodeGuarded(blk, int(src.size()), &out, &len), kelStatusOk) << "level " << level;
            EXPECT_TRUE(out == src) << "level " << level;
        }
    }
}

}  // namespace
