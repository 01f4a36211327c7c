// tests/dc/lzss/lzss_test.cpp - LZSS: known bit strings, and round trips with every way of cutting the input,
// the stream and the output into pieces.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "keldc.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<Kel8u>;

struct State {
    std::vector<Kel8u> mem;
    State() {
        int size = 0;
        EXPECT_EQ(kelsLZSSGetSize_8u(&size), kelStatusOk);
        EXPECT_EQ(size, 327744);
        mem.resize(size);
    }
    LZSSState_8u* get() { return reinterpret_cast<LZSSState_8u*>(mem.data()); }
};

// Encodes src fed in chunks whose sizes come from nextChunk, into destination pieces of sizes from nextRoom.
template <typename ChunkFn, typename RoomFn>
Bytes encodeLzss(const Bytes& src, ChunkFn nextChunk, RoomFn nextRoom) {
    State st;
    EXPECT_EQ(kelsEncodeLZSSInit_8u(st.get()), kelStatusOk);
    Bytes out;
    std::size_t off = 0;
    while (off < src.size()) {
        const Kel32u chunk = Kel32u(std::min<std::size_t>(nextChunk(), src.size() - off));
        const Kel8u* p = src.data() + off;
        Kel32u left = chunk;
        for (;;) {
            Bytes room(nextRoom());
            Kel8u* d = room.data();
            Kel32u dLen = Kel32u(room.size());
            const KelStatus s = kelsEncodeLZSS_8u(&p, &left, &d, &dLen, st.get());
            out.insert(out.end(), room.data(), d);
            if (s == kelStatusOk) break;
            EXPECT_EQ(s, kelStatusDstFull);
        }
        EXPECT_EQ(left, 0u);
        off += chunk;
    }
    for (;;) {
        Bytes room(nextRoom());
        Kel8u* d = room.data();
        Kel32u dLen = Kel32u(room.size());
        const KelStatus s = kelsEncodeLZSSFlush_8u(&d, &dLen, st.get());
        out.insert(out.end(), room.data(), d);
        if (s == kelStatusOk) break;
        EXPECT_EQ(s, kelStatusDstFull);
    }
    return out;
}

template <typename ChunkFn, typename RoomFn>
Bytes decodeLzss(const Bytes& comp, ChunkFn nextChunk, RoomFn nextRoom) {
    State st;
    EXPECT_EQ(kelsDecodeLZSSInit_8u(st.get()), kelStatusOk);
    Bytes out;
    std::size_t off = 0;
    do {
        const Kel32u chunk = Kel32u(std::min<std::size_t>(nextChunk(), comp.size() - off));
        const Kel8u* p = comp.data() + off;
        Kel32u left = chunk;
        KelStatus s;
        do {
            Bytes room(nextRoom());
            Kel8u* d = room.data();
            Kel32u dLen = Kel32u(room.size());
            s = kelsDecodeLZSS_8u(&p, &left, &d, &dLen, st.get());
            out.insert(out.end(), room.data(), d);
        } while (s == kelStatusDstFull || left > 0);
        off += chunk;
    } while (off < comp.size());
    return out;
}

auto fixed(std::size_t n) {
    return [n] { return n; };
}

std::vector<bool> toBits(const Bytes& b) {
    std::vector<bool> bits;
    for (Kel8u x : b)
        for (int k = 7; k >= 0; --k) bits.push_back((x >> k) & 1);
    return bits;
}

void appendBits(std::vector<bool>& bits, Kel32u value, int n) {
    for (int k = n - 1; k >= 0; --k) bits.push_back((value >> k) & 1);
}

TEST(LzssEncode, CodesThreeLiteralsIn27BitsPaddedTo32) {
    const Bytes comp = encodeLzss({'a', 'b', 'c'}, fixed(100), fixed(100));
    std::vector<bool> expect;
    for (Kel8u c : {'a', 'b', 'c'}) appendBits(expect, 0x100u | c, 9);
    appendBits(expect, 0, 5);
    EXPECT_EQ(toBits(comp), expect);
}

TEST(LzssEncode, TenEqualBytesAreLiteralMatchAndTwoLiterals) {
    const Bytes src(10, 'a');
    const Bytes comp = encodeLzss(src, fixed(100), fixed(100));
    std::vector<bool> expect;
    appendBits(expect, 0x100u | 'a', 9);
    appendBits(expect, (1u << 8) | (7 - 3), 24);
    appendBits(expect, 0x100u | 'a', 9);
    appendBits(expect, 0x100u | 'a', 9);
    while (expect.size() % 8) expect.push_back(false);
    EXPECT_EQ(toBits(comp), expect);
    EXPECT_EQ(decodeLzss(comp, fixed(100), fixed(100)), src);
}

TEST(LzssEncode, ZeroRoomReturnsDstFullWithoutConsuming) {
    State st;
    ASSERT_EQ(kelsEncodeLZSSInit_8u(st.get()), kelStatusOk);
    const Kel8u src[4] = {1, 2, 3, 4};
    const Kel8u* p = src;
    Kel32u len = 4, room = 0;
    Kel8u dst[1];
    Kel8u* d = dst;
    EXPECT_EQ(kelsEncodeLZSS_8u(&p, &len, &d, &room, st.get()), kelStatusDstFull);
    EXPECT_EQ(p, src);
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(kelsEncodeLZSS_8u(&p, &len, &d, &room, nullptr), kelStatusNullPointer);
    room = 0;
    EXPECT_EQ(kelsEncodeLZSSFlush_8u(&d, &room, st.get()), kelStatusBadSize);
    EXPECT_EQ(kelsDecodeLZSS_8u(&p, &len, &d, &room, st.get()), kelStatusBadSize);
    EXPECT_EQ(kelsLZSSGetSize_8u(nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeLZSSInit_8u(nullptr), kelStatusNullPointer);
}

TEST(LzssRoundTrip, CorpusAndSyntheticDataInOneCall) {
    std::vector<Bytes> inputs;
    for (const auto& name : kel::test::corpusFileNames()) inputs.push_back(kel::test::readCorpusFile(name));
    auto rng = kel::test::makeRng(21);
    inputs.push_back(kel::test::randomBytes(rng, 70000));
    inputs.push_back(Bytes(100000, 0));
    for (const Bytes& src : inputs) {
        const Bytes comp = encodeLzss(src, fixed(src.size()), fixed(src.size() * 2 + 16));
        EXPECT_EQ(decodeLzss(comp, fixed(comp.size()), fixed(src.size() + 1)), src);
    }
}

TEST(LzssRoundTrip, MatchesReachIntoEarlierChunks) {
    // Two identical 20000-byte blocks of random data: the second compresses to a few matches only if the encoder
    // finds the first one across the chunk boundary.
    auto rng = kel::test::makeRng(22);
    Bytes half = kel::test::randomBytes(rng, 20000);
    Bytes src = half;
    src.insert(src.end(), half.begin(), half.end());
    const Bytes comp = encodeLzss(src, fixed(20000), fixed(1 << 20));
    EXPECT_LT(comp.size(), 20000 * 9 / 8 + 2000);
    EXPECT_EQ(decodeLzss(comp, fixed(comp.size()), fixed(1 << 20)), src);
}

TEST(LzssRoundTrip, AnyChunkingOnBothSides) {
    auto rng = kel::test::makeRng(23);
    SCOPED_TRACE(kel::test::seedNote());
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    const Bytes src(text.begin(), text.begin() + 60000);
    const Bytes reference = encodeLzss(src, fixed(src.size()), fixed(1 << 20));
    for (int trial = 0; trial < 6; ++trial) {
        std::uniform_int_distribution<std::size_t> chunk(1, trial < 3 ? 40 : 5000), room(1, trial % 2 ? 3 : 700);
        const Bytes comp = encodeLzss(src, [&] { return chunk(rng); }, [&] { return room(rng); });
        EXPECT_EQ(decodeLzss(comp, [&] { return chunk(rng); }, [&] { return room(rng); }), src);
        // Destination pieces do not change the bits; only the source chunking does.
        if (trial == 0) EXPECT_EQ(encodeLzss(src, fixed(src.size()), fixed(1)), reference);
    }
    EXPECT_EQ(decodeLzss(reference, fixed(1), fixed(1)), src);
}

TEST(LzssDecode, OneByteRoomStopsAfterEveryByteEvenInsideAMatch) {
    const Bytes src(40, 'z');
    const Bytes comp = encodeLzss(src, fixed(40), fixed(100));
    State st;
    ASSERT_EQ(kelsDecodeLZSSInit_8u(st.get()), kelStatusOk);
    const Kel8u* p = comp.data();
    Kel32u left = Kel32u(comp.size());
    Bytes out;
    for (int i = 0; i < 40; ++i) {
        Kel8u byte = 0;
        Kel8u* d = &byte;
        Kel32u room = 1;
        ASSERT_EQ(kelsDecodeLZSS_8u(&p, &left, &d, &room, st.get()), kelStatusDstFull) << i;
        out.push_back(byte);
    }
    EXPECT_EQ(out, src);
}

TEST(LzssDecode, ArbitraryStreamsStayInsideTheirBuffers) {
    auto rng = kel::test::makeRng(24);
    for (int trial = 0; trial < 200; ++trial) {
        const Bytes junk = kel::test::randomBytes(rng, 1 + rng() % 300);
        kel::test::GuardedBuffer src(junk.size());
        src.fill(junk.data(), junk.size());
        kel::test::GuardedBuffer dst(1 + rng() % 500);
        State st;
        kelsDecodeLZSSInit_8u(st.get());
        const Kel8u* p = src.data();
        Kel32u left = Kel32u(junk.size());
        Kel8u* d = dst.data();
        Kel32u room = Kel32u(dst.size());
        const KelStatus s = kelsDecodeLZSS_8u(&p, &left, &d, &room, st.get());
        EXPECT_TRUE(s == kelStatusOk || s == kelStatusDstFull);
    }
}

}  // namespace
