// tests/dc/lzo/lzo_test.cpp - LZO1X: known encodings, round trips through both decoders and liblzo2 in both
// directions, the multi-part container, and hostile input.
#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <vector>

#include "keldc.h"
#include "support/test_util.h"

namespace {

using Bytes = std::vector<Kel8u>;
using kel::test::GuardedBuffer;

Bytes encodeLzo(const Bytes& src) {
    Kel32u stateSize = 0;
    EXPECT_EQ(kelsEncodeLZOGetSize(0, Kel32u(src.size()), &stateSize), kelStatusOk);
    std::vector<Kel8u> state(stateSize);
    auto* st = reinterpret_cast<LZOState_8u*>(state.data());
    EXPECT_EQ(kelsEncodeLZOInit_8u(0, Kel32u(src.size()), st), kelStatusOk);
    Bytes dst(src.size() + src.size() / 16 + 67);
    Kel32u dstLen = 0;
    EXPECT_EQ(kelsEncodeLZO_8u(src.data(), Kel32u(src.size()), dst.data(), &dstLen, st), kelStatusOk);
    dst.resize(dstLen);
    return dst;
}

// Decodes into a buffer of exactly `capacity` bytes that ends at a page boundary.
KelStatus decodeExact(bool safe, const Bytes& comp, std::size_t capacity, Bytes& out) {
    GuardedBuffer src(comp.size());
    src.fill(comp.data(), comp.size());
    GuardedBuffer dst(capacity);
    Kel32u dstLen = Kel32u(capacity);
    const KelStatus st = safe ? kelsDecodeLZOSafe_8u(src.data(), Kel32u(comp.size()), dst.data(), &dstLen)
                              : kelsDecodeLZO_8u(src.data(), Kel32u(comp.size()), dst.data(), &dstLen);
    out.assign(dst.data(), dst.data() + std::min<std::size_t>(dstLen, capacity));
    return st;
}

// Decodes with the trusting decoder and no capacity (*pDstLen = 0) into a buffer of exactly `size` bytes that ends
// at a page boundary: a byte written past the stream's own output faults.
KelStatus decodeTrusted(const Bytes& comp, std::size_t size, Bytes& out) {
    GuardedBuffer src(comp.size());
    src.fill(comp.data(), comp.size());
    GuardedBuffer dst(size);
    Kel32u dstLen = 0;
    const KelStatus st = kelsDecodeLZO_8u(src.data(), Kel32u(comp.size()), dst.data(), &dstLen);
    out.assign(dst.data(), dst.data() + std::min<std::size_t>(dstLen, size));
    return st;
}

// liblzo2's checked decoder, the oracle: its status and output for a source and a capacity.
int peerDecode(const Bytes& comp, std::size_t capacity, Bytes& out) {
    out.assign(capacity, 0);
    lzo_uint len = capacity;
    const int r = lzo1x_decompress_safe(comp.data(), comp.size(), out.data(), &len, nullptr);
    out.resize(len);
    return r;
}

Bytes distinctBytes(int n) {
    Bytes v(n);
    for (int i = 0; i < n; ++i) v[i] = Kel8u(i);
    return v;
}

std::vector<Bytes> sampleInputs() {
    auto rng = kel::test::makeRng(7);
    std::vector<Bytes> inputs;
    for (const auto& name : kel::test::corpusFileNames()) inputs.push_back(kel::test::readCorpusFile(name));
    inputs.push_back(kel::test::randomBytes(rng, 100000));
    inputs.push_back(Bytes(300000, 'a'));
    Bytes periodic(200000);
    for (std::size_t i = 0; i < periodic.size(); ++i) periodic[i] = Kel8u("abcdefghij"[i % 10] + (i / 5000) % 3);
    inputs.push_back(periodic);
    for (int n : {1, 2, 3, 4, 13, 14, 15, 17, 64, 255, 4096}) inputs.push_back(kel::test::randomBytes(rng, n));
    return inputs;
}

TEST(LzoEncode, WritesTheKnownShortForms) {
    EXPECT_EQ(encodeLzo({'x'}), (Bytes{18, 'x', 17, 0, 0}));
    Bytes b238 = distinctBytes(238), expect238 = {255};
    expect238.insert(expect238.end(), b238.begin(), b238.end());
    expect238.insert(expect238.end(), {17, 0, 0});
    EXPECT_EQ(encodeLzo(b238), expect238);
    Bytes b239 = distinctBytes(239), expect239 = {0, 221};
    expect239.insert(expect239.end(), b239.begin(), b239.end());
    expect239.insert(expect239.end(), {17, 0, 0});
    EXPECT_EQ(encodeLzo(b239), expect239);
}

TEST(LzoEncode, ChecksArgumentsAndEmptyInput) {
    Kel32u size = 7;
    EXPECT_EQ(kelsEncodeLZOGetSize(2, 0, &size), kelStatusBadArgument);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(kelsEncodeLZOGetSize(1, 0, &size), kelStatusOk);
    EXPECT_EQ(size, 131104u);
    EXPECT_EQ(kelsEncodeLZOGetSize(0, 0, nullptr), kelStatusNullPointer);
    std::vector<Kel8u> state(size);
    auto* st = reinterpret_cast<LZOState_8u*>(state.data());
    EXPECT_EQ(kelsEncodeLZOInit_8u(5, 0, st), kelStatusBadArgument);
    EXPECT_EQ(kelsEncodeLZOInit_8u(0, 0, nullptr), kelStatusNullPointer);
    ASSERT_EQ(kelsEncodeLZOInit_8u(1, 0, st), kelStatusOk);
    Kel8u src[1] = {1}, dst[8] = {0xEE};
    Kel32u dstLen = 99;
    EXPECT_EQ(kelsEncodeLZO_8u(src, 1, dst, &dstLen, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeLZO_8u(src, 0, dst, &dstLen, st), kelStatusOk);
    EXPECT_EQ(dstLen, 0u);
    EXPECT_EQ(dst[0], 0xEE);
}

TEST(LzoDecode, EmptyAndEndMarkerOnlyGiveNothing) {
    Kel8u marker[3] = {17, 0, 0}, dst[4];
    Kel32u dstLen = 4;
    EXPECT_EQ(kelsDecodeLZOSafe_8u(marker, 3, dst, &dstLen), kelStatusOk);
    EXPECT_EQ(dstLen, 0u);
    dstLen = 4;
    EXPECT_EQ(kelsDecodeLZO_8u(marker, 0, dst, &dstLen), kelStatusOk);
    EXPECT_EQ(dstLen, 0u);
    EXPECT_EQ(kelsDecodeLZO_8u(nullptr, 3, dst, &dstLen), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeLZOSafe_8u(marker, 3, dst, nullptr), kelStatusNullPointer);
}

TEST(LzoRoundTrip, BothDecodersAndLiblzoRestoreOurStreams) {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    SCOPED_TRACE(kel::test::seedNote());
    for (const Bytes& src : sampleInputs()) {
        const Bytes comp = encodeLzo(src);
        ASSERT_LE(comp.size(), src.size() + src.size() / 16 + 67);
        for (bool safe : {false, true}) {
            Bytes out;
            ASSERT_EQ(decodeExact(safe, comp, src.size(), out), kelStatusOk) << src.size();
            ASSERT_EQ(out, src);
        }
        Bytes peer(src.size());
        lzo_uint peerLen = peer.size();
        ASSERT_EQ(lzo1x_decompress_safe(comp.data(), comp.size(), peer.data(), &peerLen, nullptr), LZO_E_OK);
        peer.resize(peerLen);
        ASSERT_EQ(peer, src);
    }
}

TEST(LzoRoundTrip, OurDecodersRestoreLiblzoStreams) {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    std::vector<Kel8u> work(LZO1X_999_MEM_COMPRESS);
    for (const Bytes& src : sampleInputs()) {
        for (bool best : {false, true}) {
            if (best && src.size() > 200000) continue;  // the optimal parser is slow on large inputs
            Bytes comp(src.size() + src.size() / 16 + 67);
            lzo_uint compLen = comp.size();
            const int r = best ? lzo1x_999_compress(src.data(), src.size(), comp.data(), &compLen, work.data())
                               : lzo1x_1_compress(src.data(), src.size(), comp.data(), &compLen, work.data());
            ASSERT_EQ(r, LZO_E_OK);
            comp.resize(compLen);
            for (bool safe : {false, true}) {
                Bytes out;
                ASSERT_EQ(decodeExact(safe, comp, src.size(), out), kelStatusOk);
                ASSERT_EQ(out, src);
            }
        }
    }
}

TEST(LzoDecode, CapacityOneShortIsBroken) {
    for (const Bytes& src : sampleInputs()) {
        const Bytes comp = encodeLzo(src);
        for (bool safe : {false, true}) {
            if (!safe && src.size() == 1) continue;  // capacity 0 tells the trusting decoder there is no capacity
            Bytes out;
            EXPECT_EQ(decodeExact(safe, comp, src.size() - 1, out), kelStatusLZOBrokenStream) << src.size();
        }
    }
}

TEST(LzoDecode, TrustingDecoderTakesZeroAsNoCapacity) {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    std::vector<Kel8u> work(LZO1X_999_MEM_COMPRESS);
    for (const Bytes& src : sampleInputs()) {
        // Our streams and liblzo2's (whose matches overlap and end differently) into exact-size buffers.
        Bytes peerComp(src.size() + src.size() / 16 + 67);
        lzo_uint peerLen = peerComp.size();
        ASSERT_EQ(lzo1x_1_compress(src.data(), src.size(), peerComp.data(), &peerLen, work.data()), LZO_E_OK);
        peerComp.resize(peerLen);
        for (const Bytes& comp : {encodeLzo(src), peerComp}) {
            Bytes out;
            ASSERT_EQ(decodeTrusted(comp, src.size(), out), kelStatusOk) << src.size();
            ASSERT_EQ(out, src);
        }
    }
    // A container is trusted the same way: its slices follow from its total.
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    const Kel32u half = Kel32u(text.size() / 2);
    const Bytes container = [&] {
        const Bytes a = encodeLzo(Bytes(text.begin(), text.begin() + half));
        const Bytes b = encodeLzo(Bytes(text.begin() + half, text.end()));
        Bytes c = {0x55, 2, 2 ^ 0x55};
        for (Kel32u v : {Kel32u(text.size()), Kel32u(a.size())}) {
            for (int k = 0; k < 4; ++k) c.push_back(Kel8u(v >> (8 * k)));
        }
        c.insert(c.end(), a.begin(), a.end());
        c.insert(c.end(), b.begin(), b.end());
        return c;
    }();
    Bytes out;
    ASSERT_EQ(decodeTrusted(container, text.size(), out), kelStatusOk);
    EXPECT_EQ(out, text);
    // The checking decoder keeps 0 as a capacity of 0.
    Kel8u dst[1];
    const Bytes one = encodeLzo({'x'});
    Kel32u dstLen = 0;
    EXPECT_EQ(kelsDecodeLZOSafe_8u(one.data(), Kel32u(one.size()), dst, &dstLen), kelStatusLZOBrokenStream);
}

TEST(LzoDecode, EveryEndMarkerFormEndsTheStream) {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    // Long-distance instructions at distance 16384 in any form: length 3, tail bits set, an extended length.
    const std::vector<Bytes> markers = {{17, 0, 0},        {17, 1, 0},    {17, 2, 0},         {17, 3, 0},
                                        {16, 0, 17, 0, 0}, {16, 5, 0, 0}, {16, 0, 0, 1, 0, 0}};
    for (const Bytes& marker : markers) {
        Bytes peer;
        ASSERT_EQ(peerDecode(marker, 16, peer), LZO_E_OK);
        ASSERT_TRUE(peer.empty());
        for (bool safe : {false, true}) {
            Bytes out;
            EXPECT_EQ(decodeExact(safe, marker, 16, out), kelStatusOk) << int(marker[0]) << " " << int(marker[1]);
            EXPECT_TRUE(out.empty());
        }
        // The same marker after one literal.
        Bytes after = {18, 'x'};
        after.insert(after.end(), marker.begin(), marker.end());
        ASSERT_EQ(peerDecode(after, 16, peer), LZO_E_OK);
        for (bool safe : {false, true}) {
            Bytes out;
            EXPECT_EQ(decodeExact(safe, after, 1, out), kelStatusOk);
            EXPECT_EQ(out, peer);
        }
    }
    // Read as hexadecimal the same bytes are broken for liblzo2 (0x17 opens a run of 6 literals), and for us.
    for (const Bytes& hex : {Bytes{0x17, 0, 0}, Bytes{0x17, 1, 0}, Bytes{0x17, 3, 0}, Bytes{0x16, 0, 0x17, 0, 0}}) {
        Bytes peer;
        EXPECT_NE(peerDecode(hex, 16, peer), LZO_E_OK);
        for (bool safe : {false, true}) {
            Bytes out;
            EXPECT_EQ(decodeExact(safe, hex, 16, out), kelStatusLZOBrokenStream);
        }
    }
}

Bytes makeContainer(const std::vector<Bytes>& parts, Kel32u total) {
    Bytes c = {0x55, Kel8u(parts.size()), Kel8u(parts.size() ^ 0x55)};
    auto put32 = [&c](Kel32u v) {
        for (int k = 0; k < 4; ++k) c.push_back(Kel8u(v >> (8 * k)));
    };
    put32(total);
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) put32(Kel32u(parts[i].size()));
    for (const auto& p : parts) c.insert(c.end(), p.begin(), p.end());
    return c;
}

TEST(LzoContainer, PartsDecodeIntoTheirSlices) {
    const Bytes text = kel::test::readCorpusFile("alice29.txt");
    for (Kel32u parts : {1u, 2u, 7u, 32u}) {
        const Kel32u total = Kel32u(text.size());
        const Kel32u slice = total / parts;
        std::vector<Bytes> coded;
        for (Kel32u i = 0; i < parts; ++i) {
            const std::size_t len = i + 1 < parts ? slice : slice + total % parts;
            coded.push_back(encodeLzo(Bytes(text.begin() + std::size_t(i) * slice, text.begin() + i * slice + len)));
        }
        const Bytes container = makeContainer(coded, total);
        for (bool safe : {false, true}) {
            Bytes out;
            ASSERT_EQ(decodeExact(safe, container, total, out), kelStatusOk) << parts;
            EXPECT_EQ(out, text);
            EXPECT_EQ(decodeExact(safe, container, total - 1, out), kelStatusLZOBrokenStream);
        }
    }
}

TEST(LzoContainer, PartsMayEndWithAnyEndMarkerForm) {
    // Slices of 1 and 2 bytes whose streams end with tail bits or an extended length, and an empty container whose
    // two parts are end markers only.
    const Bytes a = {18, 'a', 17, 2, 0}, b = {19, 'b', 'c', 16, 0, 17, 0, 0};
    const Bytes empty = makeContainer({{17, 1, 0}, {16, 0, 17, 0, 0}}, 0);
    for (bool safe : {false, true}) {
        Bytes out;
        ASSERT_EQ(decodeExact(safe, makeContainer({a, b}, 3), 3, out), kelStatusOk);
        EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
        ASSERT_EQ(decodeExact(safe, empty, 4, out), kelStatusOk);
        EXPECT_TRUE(out.empty());
    }
}

// Literals that our encoder leaves as they are (no repeated 3-byte string), so a stream of them begins with the
// header-like bytes chosen by the caller.
Bytes literalOnly(std::mt19937_64& rng, std::size_t n) {
    Bytes v = kel::test::randomBytes(rng, n);
    for (std::size_t i = 0; i < n; ++i) v[i] = Kel8u(v[i] | 0x80);  // never a small value that mimics a field
    return v;
}

// Our output and liblzo2's must come back through both of our decoders (with a capacity, and trusted without
// one) and through liblzo2.
void expectAllDecode(const Bytes& src) {
    std::vector<Kel8u> work(LZO1X_1_MEM_COMPRESS);
    Bytes peerComp(src.size() + src.size() / 16 + 67);
    lzo_uint peerLen = peerComp.size();
    ASSERT_EQ(lzo1x_1_compress(src.data(), src.size(), peerComp.data(), &peerLen, work.data()), LZO_E_OK);
    peerComp.resize(peerLen);
    const Bytes ours = encodeLzo(src);
    for (const Bytes& comp : {ours, peerComp}) {
        Bytes out;
        ASSERT_EQ(peerDecode(comp, src.size(), out), LZO_E_OK);
        ASSERT_EQ(out, src);
        for (bool safe : {false, true}) {
            ASSERT_EQ(decodeExact(safe, comp, src.size(), out), kelStatusOk) << src.size() << " " << int(src[0]);
            ASSERT_EQ(out, src);
        }
        ASSERT_EQ(decodeTrusted(comp, src.size(), out), kelStatusOk);
        ASSERT_EQ(out, src);
    }
}

TEST(LzoContainer, OurOutputIsNeverTakenForAContainer) {
    ASSERT_EQ(lzo_init(), LZO_E_OK);
    auto rng = kel::test::makeRng(19);
    SCOPED_TRACE(kel::test::seedNote());
    // 68 literals code as 0x55 (17 + 68) and then the literals, so 01 54 ... reads as a one-part header.
    Bytes src68 = literalOnly(rng, 68);
    src68[0] = 0x01, src68[1] = 0x54;
    ASSERT_EQ(encodeLzo(src68)[0], 0x55);
    expectAllDecode(src68);

    // Every part count with its check byte, over short inputs with and without repeats, and with a plausible total.
    for (std::size_t n = 2; n <= 320; n += n < 130 ? 1 : 19) {
        for (Kel8u parts = 1; parts <= 33; ++parts) {
            Bytes src = n % 3 == 0 ? kel::test::randomBytes(rng, n) : literalOnly(rng, n);
            src[0] = parts, src[1] = Kel8u(parts ^ 0x55);
            if (n >= 6) src[2] = Kel8u(n), src[3] = src[4] = src[5] = 0;
            expectAllDecode(src);
        }
    }

    // Input built so that, once our encoder has put 0x55 in front, every container check holds as well: the bytes
    // after the header are one part (p = 1) or two parts (p = 2, total 53: slices of 26 and 27) that decode to
    // their slices. The plain stream
    // still wins, since it is what was written.
    Bytes one = {0x01, 0x54, 61, 0, 0, 0, 17 + 61};
    const Bytes tail61 = literalOnly(rng, 61);
    one.insert(one.end(), tail61.begin(), tail61.end());
    Bytes two = {0x02, 0x57, 53, 0, 0, 0, 30, 0, 0, 0, 17 + 26};
    const Bytes first = literalOnly(rng, 26), second = literalOnly(rng, 27);
    two.insert(two.end(), first.begin(), first.end());
    two.insert(two.end(), {17, 0, 0, 17 + 27});
    two.insert(two.end(), second.begin(), second.end());
    for (const Bytes& src : {one, two}) {
        ASSERT_EQ(src.size(), 68u);
        ASSERT_EQ(encodeLzo(src)[0], 0x55);
        expectAllDecode(src);
    }
}

TEST(LzoContainer, BadHeadersAreReadAsPlainStreams) {
    const Bytes part = encodeLzo(Bytes(1000, 'q'));
    for (int variant = 0; variant < 3; ++variant) {
        Bytes c = makeContainer({part, part}, 2000);
        if (variant == 0) c[1] = 0, c[2] = 0x55;
        if (variant == 1) c[1] = 33, c[2] = 33 ^ 0x55;
        if (variant == 2) c[2] ^= 1;
        Bytes out;
        // Read as a plain stream these bytes are garbage: a clean failure, never the container's output.
        const KelStatus st = decodeExact(true, c, 2000, out);
        EXPECT_TRUE(st == kelStatusLZOBrokenStream || out != Bytes(2000, 'q')) << variant;
    }
    // A first-part size that points past the source must not be followed to read its end marker.
    Bytes lying = makeContainer({part, part}, 2000);
    lying[7] = 0xFF, lying[8] = 0xFF, lying[9] = 0xFF, lying[10] = 0x7F;
    Bytes out;
    decodeExact(true, lying, 2000, out);
    decodeExact(false, lying, 2000, out);
}

TEST(LzoDecode, TruncatedAndCorruptedStreamsFailCleanly) {
    auto rng = kel::test::makeRng(11);
    SCOPED_TRACE(kel::test::seedNote());
    const Bytes src = kel::test::readCorpusFile("html");
    const Bytes comp = encodeLzo(src);
    for (std::size_t cut : {std::size_t(1), std::size_t(2), comp.size() / 2, comp.size() - 1}) {
        Bytes out;
        EXPECT_EQ(decodeExact(true, Bytes(comp.begin(), comp.begin() + cut), src.size(), out),
                  kelStatusLZOBrokenStream);
    }
    for (int trial = 0; trial < 300; ++trial) {
        Bytes bad = comp;
        for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = Kel8u(rng());
        for (bool safe : {false, true}) {
            Bytes out;
            decodeExact(safe, bad, rng() % (src.size() + 1), out);  // must not fault; any status is fine
        }
    }
}

}  // namespace
