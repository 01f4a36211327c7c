// tests/dc/bzip2/bzip2_block_test.cpp - the fused block decoder and whole blocks through every stage and back.
#include <gtest/gtest.h>

#include "dc/bzip2/bzip2_test_util.h"
#include "support/test_util.h"

namespace {

using kel::test::bz2::Bytes;
using kel::test::bz2::Symbols;

// b a n a n a: last column n n b a a a, index 3; over the alphabet a b n the move-to-front values 2 0 2 2 0 0.
const Symbols kBananaSymbols{3, 0, 3, 3, 1};

Bytes bananaInUse() {
    Bytes inUse(256, 0);
    inUse['a'] = inUse['b'] = inUse['n'] = 1;
    return inUse;
}

KelStatus decodeSymbols(const Symbols& sym, int cap, int index, Kel32u dict, const Bytes& inUse, Bytes& out) {
    int size = 0;
    kelsDecodeBlockGetSize_BZ2_8u(static_cast<Kel32u>(cap), &size);
    kel::test::GuardedBuffer buf(size > 0 ? size : 1);
    kel::test::GuardedBuffer dst(cap > 0 ? cap : 1);
    int len = cap;
    const KelStatus st = kelsDecodeBlock_BZ2_16u8u(sym.data(), static_cast<int>(sym.size()), dst.data(), &len, index,
                                                   dict, inUse.data(), buf.data());
    out.assign(dst.data(), dst.data() + (st == kelStatusOk ? len : 0));
    return st;
}

TEST(Bzip2BlockDecode, Banana) {
    Bytes out;
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 7, 3, 3, bananaInUse(), out), kelStatusOk);
    EXPECT_EQ(out, (Bytes{'b', 'a', 'n', 'a', 'n', 'a'}));
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 5, 3, 3, bananaInUse(), out), kelStatusError);
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 7, 3, 4, bananaInUse(), out), kelStatusError);
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 7, 7, 3, bananaInUse(), out), kelStatusBadSize);
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 7, 6, 3, bananaInUse(), out), kelStatusError);       // index past the block
    EXPECT_EQ(decodeSymbols(Symbols{3, 0, 5, 3}, 7, 3, 3, bananaInUse(), out), kelStatusError);  // position 4 of 3
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 7, 3, 257, bananaInUse(), out), kelStatusBadSize);
    int size = 0;
    EXPECT_EQ(kelsDecodeBlockGetSize_BZ2_8u(1u << 24, &size), kelStatusBadSize);
    EXPECT_EQ(kelsDecodeBlockGetSize_BZ2_8u((1u << 24) - 1, &size), kelStatusOk);
}

// A caller who sizes the destination to the block must be able to decode it.
TEST(Bzip2BlockDecode, BlockThatFillsTheCapacityExactlyIsValid) {
    Bytes out;
    EXPECT_EQ(decodeSymbols(kBananaSymbols, 6, 3, 3, bananaInUse(), out), kelStatusOk);
    EXPECT_EQ(out, (Bytes{'b', 'a', 'n', 'a', 'n', 'a'}));
    // A long final run that ends exactly at the capacity, and one that passes it by one byte.
    Bytes inUse(256, 0);
    inUse['x'] = inUse['y'] = 1;
    Symbols sym{2};                    // 'y' to the front
    sym.insert(sym.end(), {1, 1, 1});  // RUNB RUNB RUNB: 2 + 4 + 8 = 14 more copies of 'y'
    EXPECT_EQ(decodeSymbols(sym, 15, 0, 2, inUse, out), kelStatusOk);
    EXPECT_EQ(out.size(), 15u);
    EXPECT_EQ(decodeSymbols(sym, 14, 0, 2, inUse, out), kelStatusError);
}

TEST(Bzip2BlockDecode, CorruptSymbolsNeverPassTheBuffers) {
    auto rng = kel::test::makeRng(31);
    for (int trial = 0; trial < 500; ++trial) {
        Symbols sym(1 + rng() % 200);
        for (auto& s : sym) s = static_cast<Kel16u>(rng() % 4 == 0 ? rng() % 300 : rng() % 3);
        Bytes inUse(256, 0);
        const int dict = 1 + static_cast<int>(rng() % 40);
        for (int v = 0; v < dict; ++v) inUse[v * 3] = 1;
        const int cap = 1 + static_cast<int>(rng() % 300);
        Bytes out;
        const KelStatus st = decodeSymbols(sym, cap, static_cast<int>(rng() % cap), dict, inUse, out);
        EXPECT_TRUE(st == kelStatusOk || st == kelStatusError) << st;
    }
}

// The decoder's definition, step by step: zero runs and move-to-front undone over the values in use, then the
// link vector and one walk of len steps from the index, whatever the links form.
Bytes referenceDecode(const Symbols& sym, int index, const Bytes& inUse) {
    std::vector<std::uint8_t> list;
    for (int v = 0; v < 256; ++v) {
        if (inUse[v] != 0) list.push_back(static_cast<std::uint8_t>(v));
    }
    Bytes last;
    std::size_t run = 0, place = 0;
    for (std::size_t i = 0; i <= sym.size(); ++i) {
        if (i < sym.size() && sym[i] < 2) {
            run += static_cast<std::size_t>(sym[i] + 1) << place++;
            continue;
        }
        last.insert(last.end(), run, list[0]);
        run = place = 0;
        if (i == sym.size()) break;
        const std::size_t pos = sym[i] - 1u;
        const std::uint8_t v = list[pos];
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(pos));
        list.insert(list.begin(), v);
        last.push_back(v);
    }
    std::size_t cum[257] = {};
    for (std::uint8_t b : last) ++cum[b + 1];
    for (int b = 0; b < 256; ++b) cum[b + 1] += cum[b];
    std::vector<std::uint32_t> link(last.size());
    for (std::size_t i = 0; i < last.size(); ++i) link[cum[last[i]]++] = static_cast<std::uint32_t>(i);
    Bytes out(last.size());
    std::uint32_t p = static_cast<std::uint32_t>(index);
    for (auto& o : out) {
        p = link[p];
        o = last[p];
    }
    return out;
}

// Symbols that are no transformed block give links of several cycles, or one through the origin shorter than the
// block; large blocks are walked in segments side by side, and these must still come out as the one walk from the
// index that defines the result (repeating the origin's cycle), not as segments that never joined up.
TEST(Bzip2BlockDecode, LargeBlocksOfArbitrarySymbolsMatchTheDefinition) {
    auto rng = kel::test::makeRng(33);
    SCOPED_TRACE(kel::test::seedNote());
    int compared = 0;
    for (int trial = 0; trial < 40; ++trial) {
        Bytes inUse(256, 0);
        const int dict = 2 + static_cast<int>(rng() % 6);
        for (int v = 0; v < dict; ++v) inUse[40 + 17 * v] = 1;
        // Mostly single values, with short runs as real blocks have them.
        Symbols sym(40000 + rng() % 60000);
        for (auto& v : sym) v = static_cast<Kel16u>(rng() % 3 == 0 ? rng() % 2 : 2 + rng() % (dict - 1));
        const std::size_t len = referenceDecode(sym, 0, inUse).size();
        const int index = static_cast<int>(rng() % len);
        Bytes out;
        ASSERT_EQ(decodeSymbols(sym, 400000, index, static_cast<Kel32u>(dict), inUse, out), kelStatusOk);
        ASSERT_EQ(out, referenceDecode(sym, index, inUse)) << "trial " << trial;
        ++compared;
    }
    // Symbols repeating a short pattern: links of many short cycles.
    for (int period : {1, 2, 3, 7, 1000}) {
        Bytes inUse(256, 0);
        inUse['p'] = inUse['q'] = inUse['r'] = 1;
        Symbols sym;
        for (int i = 0; i < 60000; ++i) sym.push_back(static_cast<Kel16u>(2 + (i % period) % 2));
        for (int index : {0, 1, 29999, 59999}) {
            Bytes out;
            ASSERT_EQ(decodeSymbols(sym, 60000, index, 3, inUse, out), kelStatusOk);
            ASSERT_EQ(out, referenceDecode(sym, index, inUse)) << "period " << period << " index " << index;
            ++compared;
        }
    }
    EXPECT_EQ(compared, 60);
}

void roundTrip(const Bytes& data, const char* what) {
    SCOPED_TRACE(what);
    Bytes inUse;
    const Bytes stage1 = kel::test::bz2::runLengthEncode(data, inUse);
    ASSERT_FALSE(stage1.empty());
    const kel::test::bz2::CodedBlock block = kel::test::bz2::encodeBlock(stage1, inUse);
    const Bytes back = kel::test::bz2::decodeBlock(block, static_cast<int>(stage1.size()));
    ASSERT_EQ(back, stage1);
    ASSERT_EQ(kel::test::bz2::runLengthDecode(back, data.size()), data);
    // The same block read in small source pieces.
    ASSERT_EQ(kel::test::bz2::decodeBlock(block, static_cast<int>(stage1.size()), 3), stage1);
}

TEST(Bzip2Pipeline, CorpusFilesRoundTrip) {
    for (const auto& name : kel::test::corpusFileNames()) {
        Bytes data = kel::test::readCorpusFile(name);
        if (data.size() > 400000) data.resize(400000);
        roundTrip(data, name.c_str());
    }
}

TEST(Bzip2Pipeline, ShapedDataRoundTrips) {
    auto rng = kel::test::makeRng(32);
    SCOPED_TRACE(kel::test::seedNote());
    roundTrip(Bytes{'b', 'a', 'n', 'a', 'n', 'a'}, "banana");
    roundTrip(Bytes{7}, "one byte");
    roundTrip(Bytes(1000, 0), "zeros");
    roundTrip(Bytes(300000, 0xFF), "long run");
    roundTrip(kel::test::randomBytes(rng, 200000), "random");
    Bytes periodic(100000);
    for (std::size_t i = 0; i < periodic.size(); ++i) periodic[i] = static_cast<std::uint8_t>("xyzzy"[i % 5]);
    roundTrip(periodic, "periodic");
    // A file made of copies of a long stretch: the links form one cycle per copy, each crossing many segments.
    const Bytes stretch = kel::test::randomBytes(rng, 45000);
    for (int copies : {2, 3, 4}) {
        Bytes copied;
        for (int c = 0; c < copies; ++c) copied.insert(copied.end(), stretch.begin(), stretch.end());
        roundTrip(copied, "copies of a stretch");
    }
    Bytes all(256 * 20);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 37);
    roundTrip(all, "every byte value");
    for (int n : {199, 200, 2400, 49, 50, 51}) {
        Bytes s(n);
        for (auto& b : s) b = static_cast<std::uint8_t>('a' + rng() % 5);
        roundTrip(s, "small");
    }
}

}  // namespace
