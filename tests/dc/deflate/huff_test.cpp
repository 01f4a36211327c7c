// tests/dc/deflate/huff_test.cpp - the Deflate Huffman writer against a bit-by-bit writer of the RFC 1951 rules,
// across call splits and both internal loops, and a fixed-code block that zlib must decode.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "dc/deflate/deflate_test_util.h"
#include "keldc.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct Items {
    Bytes lit;
    std::vector<Kel16u> dist;
};

struct Codes {
    std::array<DeflateCodeEntry, 286> lit{};
    std::array<DeflateCodeEntry, 30> dist{};
};

// The writer's state between calls.
struct Stream {
    Bytes bytes;
    Kel16u pending = 0;
    Kel32u pendingCount = 0;
    bool operator==(const Stream& o) const {
        return bytes == o.bytes && pending == o.pending && pendingCount == o.pendingCount;
    }
};

// Reference: appends bits one at a time, straight from the RFC tables.
struct RefWriter {
    Stream s;
    void put(unsigned value, unsigned n) {
        for (unsigned k = 0; k < n; ++k) {
            s.pending = Kel16u(s.pending | (((value >> k) & 1u) << s.pendingCount));
            if (++s.pendingCount == 8) {
                s.bytes.push_back(std::uint8_t(s.pending));
                s.pending = 0;
                s.pendingCount = 0;
            }
        }
    }
    void write(const Items& items, const Codes& c) {
        for (std::size_t i = 0; i < items.lit.size(); ++i) {
            if (items.dist[i] == 0) {
                put(c.lit[items.lit[i]].freqOrCode, c.lit[items.lit[i]].codeLength);
                continue;
            }
            const unsigned len = items.lit[i] + 3u, d = items.dist[i];
            int k = 28;
            while (kLenBase[k] > len) --k;
            put(c.lit[257 + k].freqOrCode, c.lit[257 + k].codeLength);
            put(len - kLenBase[k], kLenExtra[k]);
            int j = 29;
            while (kDistBase[j] > d) --j;
            put(c.dist[j].freqOrCode, c.dist[j].codeLength);
            put(d - kDistBase[j], kDistExtra[j]);
        }
    }
};

// Writes items through the library in pieces split at the given item indices.
Stream libraryWrite(const Items& items, const Codes& c, std::vector<std::size_t> cuts, Stream start = {}) {
    cuts.push_back(items.lit.size());
    Stream s = start;
    s.bytes.resize(start.bytes.size() + 6 * items.lit.size() + 2 * cuts.size() + 8, 0xEE);
    Kel32u pos = Kel32u(start.bytes.size());
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        const Kel32u before = pos;
        EXPECT_EQ(kelsDeflateHuff_8u(items.lit.data() + from, items.dist.data() + from, Kel32u(cut - from), &s.pending,
                                     &s.pendingCount, c.lit.data(), c.dist.data(), s.bytes.data(), &pos),
                  kelStatusOk);
        EXPECT_LT(s.pendingCount, 8u);
        // Nothing beyond the bytes reported is touched.
        for (std::size_t k = pos; k < s.bytes.size(); ++k) EXPECT_EQ(s.bytes[k], 0xEE) << "byte " << k;
        EXPECT_GE(pos, before);
        from = cut;
    }
    s.bytes.resize(pos);
    return s;
}

Codes randomCodes(std::mt19937_64& rng) {
    Codes c;
    auto fill = [&](DeflateCodeEntry& e) {
        e.codeLength = Kel16u(1 + rng() % 15);
        e.freqOrCode = Kel16u(rng() & ((1u << e.codeLength) - 1));
    };
    for (auto& e : c.lit) fill(e);
    for (auto& e : c.dist) fill(e);
    return c;
}

// Items of every kind: literals, all lengths, distances from 1 to 32768 with the code boundaries well covered.
Items randomItems(std::mt19937_64& rng, std::size_t n) {
    Items items;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned kind = rng() % 4;
        if (kind == 0) {
            items.lit.push_back(std::uint8_t(rng()));
            items.dist.push_back(0);
            continue;
        }
        items.lit.push_back(std::uint8_t(rng()));
        unsigned d;
        if (kind == 1) {
            d = 1 + unsigned(rng() % 32768);
        } else if (kind == 2) {
            d = 1 + unsigned(rng() % 300);
        } else {
            const unsigned j = unsigned(rng() % 30);
            d = kDistBase[j] + (rng() % 2 ? (1u << kDistExtra[j]) - 1 : 0);
        }
        items.dist.push_back(Kel16u(d));
    }
    return items;
}

TEST(DeflateHuff, PendingBitsWithoutItems) {
    Codes c;
    const Kel8u noLit[1] = {0};
    const Kel16u noDist[1] = {0};
    Bytes dst(4, 0xEE);
    Kel16u bits = 0xABC;
    Kel32u count = 12, pos = 0;
    ASSERT_EQ(kelsDeflateHuff_8u(noLit, noDist, 0, &bits, &count, c.lit.data(), c.dist.data(), dst.data(), &pos),
              kelStatusOk);
    EXPECT_EQ(dst[0], 0xBC);
    EXPECT_EQ(dst[1], 0xEE);
    EXPECT_EQ(pos, 1u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(bits, 0xA);
}

TEST(DeflateHuff, EightBitLiteralFillsOneByte) {
    Codes c;
    c.lit['A'] = {0x5A, 8};
    const Items items{{'A'}, {0}};
    const Stream s = libraryWrite(items, c, {});
    EXPECT_EQ(s.bytes, Bytes{0x5A});
    EXPECT_EQ(s.pendingCount, 0u);
}

TEST(DeflateHuff, LongestLengthAndFarthestDistances) {
    Codes c;
    c.lit[285] = {0x5, 3};  // length 258: no extra bits
    c.lit[257] = {0x1, 1};  // length 3
    c.dist[29] = {0x3, 2};  // 24577 to 32768: 13 extra bits
    c.dist[16] = {0x0, 2};  // 257 to 384: 7 extra bits
    const Items items{{255, 0}, {32768, 257}};
    // 101 | 11 | 1111111111111 (8191) | 1 | 00 | 0000000 (257 - 257), lowest bit first.
    RefWriter ref;
    ref.put(0x5, 3);
    ref.put(0x3, 2);
    ref.put(8191, 13);
    ref.put(0x1, 1);
    ref.put(0x0, 2);
    ref.put(0, 7);
    const Stream s = libraryWrite(items, c, {});
    EXPECT_EQ(s, ref.s);
    EXPECT_EQ(s.bytes.size(), 3u);
    EXPECT_EQ(s.pendingCount, 4u);
}

TEST(DeflateHuff, MatchesBitByBitReferenceInAnySplit) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(41);
    for (std::size_t n : {1, 2, 7, 100, 2047, 2048, 2049, 9000}) {
        SCOPED_TRACE("items " + std::to_string(n));
        const Codes c = randomCodes(rng);
        const Items items = randomItems(rng, n);
        // A few pending bits to start with, as after a block header.
        Stream start;
        start.bytes = {0x12, 0x34};
        start.pending = Kel16u(rng() & 0x1FFF);
        start.pendingCount = 13;
        RefWriter ref;
        ref.s.bytes = start.bytes;
        ref.put(start.pending, 13);
        ref.write(items, c);

        EXPECT_EQ(libraryWrite(items, c, {}, start), ref.s);
        for (int trial = 0; trial < 6; ++trial) {
            std::vector<std::size_t> cuts;
            std::size_t at = 0;
            while (true) {
                at += 1 + rng() % (trial < 3 ? 5 : 3000);
                if (at >= n) break;
                cuts.push_back(at);
            }
            ASSERT_EQ(libraryWrite(items, c, cuts, start), ref.s) << "trial " << trial;
        }
        // Splits with empty calls in between.
        ASSERT_EQ(libraryWrite(items, c, {0, n / 2, n / 2}, start), ref.s);
    }
}

TEST(DeflateHuff, LoopsAgreeAt2047And2048Items) {
    auto rng = kel::test::makeRng(43);
    const Codes c = randomCodes(rng);
    Items items;
    for (int i = 0; i < 2048; ++i) {
        items.lit.push_back(200);
        items.dist.push_back(20000);
    }
    const Stream all = libraryWrite(items, c, {});
    items.lit.pop_back();
    items.dist.pop_back();
    const Stream fewer = libraryWrite(items, c, {});
    ASSERT_LE(fewer.bytes.size(), all.bytes.size());
    EXPECT_TRUE(std::equal(fewer.bytes.begin(), fewer.bytes.end(), all.bytes.begin()));
}

// Canonical fixed codes, bit-reversed for lowest-bit-first output.
Codes fixedCodes() {
    Codes c;
    std::array<unsigned, 288> lens{};
    for (int i = 0; i < 288; ++i) lens[std::size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    unsigned count[16] = {}, next[16] = {};
    for (unsigned l : lens) ++count[l];
    for (unsigned b = 1, code = 0; b < 16; ++b) next[b] = code = (code + count[b - 1]) << 1;
    auto rev = [](unsigned v, unsigned n) {
        unsigned r = 0;
        for (unsigned k = 0; k < n; ++k) r |= ((v >> k) & 1u) << (n - 1 - k);
        return r;
    };
    for (int i = 0; i < 288; ++i) {
        const unsigned code = next[lens[std::size_t(i)]]++;
        if (i < 286) c.lit[std::size_t(i)] = {Kel16u(rev(code, lens[std::size_t(i)])), Kel16u(lens[std::size_t(i)])};
    }
    for (unsigned j = 0; j < 30; ++j) c.dist[j] = {Kel16u(rev(j, 5)), 5};
    return c;
}

TEST(DeflateHuff, FixedCodeBlockDecodesWithZlib) {
    SCOPED_TRACE(kel::test::seedNote());
    auto rng = kel::test::makeRng(47);
    Items items;
    Bytes expected;
    for (int i = 0; i < 40000; ++i) {
        const std::uint8_t b = std::uint8_t(rng() % 7 == 0 ? rng() : 'a' + rng() % 3);
        items.lit.push_back(b);
        items.dist.push_back(0);
        expected.push_back(b);
    }
    const Items more = randomItems(rng, 5000);
    for (std::size_t i = 0; i < more.lit.size(); ++i) {
        items.lit.push_back(more.lit[i]);
        items.dist.push_back(more.dist[i]);
        if (more.dist[i] == 0) {
            expected.push_back(more.lit[i]);
        } else {
            for (unsigned k = 0; k < more.lit[i] + 3u; ++k)
                expected.push_back(expected[expected.size() - more.dist[i]]);
        }
    }
    const Codes c = fixedCodes();
    Stream start;
    start.pending = 0x3;  // final block, fixed codes
    start.pendingCount = 3;
    Stream s = libraryWrite(items, c, {1000, 30000, 41000}, start);
    // End-of-block: seven zero bits, then padding to a byte.
    const unsigned bits = s.pendingCount + 7;
    s.bytes.push_back(std::uint8_t(s.pending));
    if (bits > 8) s.bytes.push_back(0);
    Bytes out;
    ASSERT_TRUE(kel::test::zlibInflate(s.bytes, -15, out));
    EXPECT_EQ(out, expected);
}

TEST(DeflateHuff, ArgumentChecksTouchNothing) {
    Codes c;
    const Items items{{'x'}, {0}};
    Bytes dst(8, 0xEE);
    Kel16u bits = 0x1;
    Kel32u count = 1, pos = 0;
    EXPECT_EQ(
        kelsDeflateHuff_8u(nullptr, items.dist.data(), 1, &bits, &count, c.lit.data(), c.dist.data(), dst.data(), &pos),
        kelStatusNullPointer);
    EXPECT_EQ(kelsDeflateHuff_8u(items.lit.data(), items.dist.data(), 1, &bits, &count, c.lit.data(), nullptr,
                                 dst.data(), &pos),
              kelStatusNullPointer);
    EXPECT_EQ(kelsDeflateHuff_8u(items.lit.data(), items.dist.data(), 1, &bits, &count, c.lit.data(), c.dist.data(),
                                 dst.data(), nullptr),
              kelStatusNullPointer);
    count = 17;
    EXPECT_EQ(kelsDeflateHuff_8u(items.lit.data(), items.dist.data(), 1, &bits, &count, c.lit.data(), c.dist.data(),
                                 dst.data(), &pos),
              kelStatusBadArgument);
    EXPECT_EQ(dst, Bytes(8, 0xEE));
    EXPECT_EQ(bits, 0x1);
    EXPECT_EQ(count, 17u);
    EXPECT_EQ(pos, 0u);
}

}  // namespace
