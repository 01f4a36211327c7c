// tests/dc/bzip2/bzip2_rle_test.cpp - the run-length stage, the dictionary mapping, move-to-front and zero runs.
#include <gtest/gtest.h>

#include "dc/bzip2/bzip2_internal.h"
#include "dc/bzip2/bzip2_test_util.h"
#include "support/test_util.h"

namespace {

using kel::test::bz2::Bytes;
using kel::test::bz2::Symbols;

// Encodes `in` feeding `piece` source bytes per call with `room` destination bytes per call, then flushes.
Bytes rleEncodePieces(const Bytes& in, int piece, int room, Bytes* inUse = nullptr) {
    Bytes state(264), out;
    kelsEncodeRLEInit_BZ2_8u(state.data());
    std::size_t pos = 0;
    Bytes dst(room);
    while (pos < in.size()) {
        const Kel8u* src = in.data() + pos;
        int srcLen = static_cast<int>(std::min<std::size_t>(piece, in.size() - pos));
        const int given = srcLen;
        int dstLen = room;
        const KelStatus st = kelsEncodeRLE_BZ2_8u(&src, &srcLen, dst.data(), &dstLen, state.data());
        EXPECT_EQ(st, srcLen > 0 ? kelStatusDstFull : kelStatusOk);
        EXPECT_LE(dstLen, room);
        out.insert(out.end(), dst.begin(), dst.begin() + dstLen);
        pos += given - srcLen;
    }
    int flushLen = 1;
    Kel8u tail = 0;
    EXPECT_EQ(kelsEncodeRLEFlush_BZ2_8u(&tail, &flushLen, state.data()), kelStatusOk);
    if (flushLen == 1) out.push_back(tail);
    if (inUse != nullptr) {
        inUse->assign(256, 0);
        kelsRLEGetInUseTable_8u(inUse->data(), state.data());
    }
    return out;
}

Bytes repeat(std::uint8_t b, int n) {
    return Bytes(n, b);
}

TEST(Bzip2Rle, EncodesRunsAtTheFormatLimits) {
    const std::uint8_t a = 'a';
    EXPECT_EQ(rleEncodePieces(repeat(a, 4), 100, 100), (Bytes{a, a, a, a, 0}));
    EXPECT_EQ(rleEncodePieces(repeat(a, 5), 100, 100), (Bytes{a, a, a, a, 1}));
    EXPECT_EQ(rleEncodePieces(repeat(a, 259), 1000, 1000), (Bytes{a, a, a, a, 255}));
    EXPECT_EQ(rleEncodePieces(repeat(a, 260), 1000, 1000), (Bytes{a, a, a, a, 255, a}));
    EXPECT_EQ(rleEncodePieces(Bytes{1, 2, 2, 2, 2, 2, 2, 3}, 100, 100), (Bytes{1, 2, 2, 2, 2, 2, 3}));
    Bytes inUse;
    rleEncodePieces(Bytes{'x', 'x', 'x', 'x', 'x', 'x', 'x'}, 100, 100, &inUse);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(inUse[v], (v == 'x' || v == 3) ? 1 : 0) << v;
}

TEST(Bzip2Rle, PiecesAndSmallRoomGiveTheSameOutput) {
    auto rng = kel::test::makeRng(1);
    SCOPED_TRACE(kel::test::seedNote());
    Bytes data;
    for (int i = 0; i < 3000; ++i) {
        const int len = static_cast<int>(rng() % 8 == 0 ? rng() % 600 : rng() % 6 + 1);
        data.insert(data.end(), len, static_cast<std::uint8_t>(rng() % 3));
    }
    const Bytes whole = rleEncodePieces(data, 1 << 30, 1 << 22);
    EXPECT_EQ(rleEncodePieces(data, 1, 1 << 22), whole);
    EXPECT_EQ(rleEncodePieces(data, 1 << 30, 1), whole);
    EXPECT_EQ(rleEncodePieces(data, 7, 3), whole);
    EXPECT_EQ(kel::test::bz2::runLengthDecode(whole, data.size()), data);
}

TEST(Bzip2Rle, OneByteRoomWritesOneBytePerCall) {
    const Bytes data = repeat('q', 12);
    Bytes state(264);
    kelsEncodeRLEInit_BZ2_8u(state.data());
    const Kel8u* src = data.data();
    int srcLen = 12, calls = 0;
    while (srcLen > 0) {
        Kel8u b;
        int dstLen = 1;
        const KelStatus st = kelsEncodeRLE_BZ2_8u(&src, &srcLen, &b, &dstLen, state.data());
        EXPECT_LE(dstLen, 1);
        if (srcLen > 0) EXPECT_EQ(st, kelStatusDstFull);
        ++calls;
    }
    EXPECT_EQ(calls, 5);  // four literals, then one call swallows the other eight copies into the run
}

TEST(Bzip2Rle, DecoderKeepsPendingCopiesOfARunThatDoesNotFit) {
    const Bytes coded{'a', 'a', 'a', 'a', 3, 'b'};
    Bytes state(264), out(16, 0);
    kelsDecodeRLEStateInit_BZ2_8u(state.data());
    const Kel8u* src = coded.data();
    int srcLen = 6;
    Kel8u* dst = out.data();
    int dstLen = 5;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusDstFull);
    EXPECT_EQ(srcLen, 1);
    EXPECT_EQ(dst - out.data(), 5);
    EXPECT_EQ(n8_loadI32(state.data() + 260), 2);
    dstLen = 10;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusOk);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 8), (Bytes{'a', 'a', 'a', 'a', 'a', 'a', 'a', 'b'}));
    EXPECT_EQ(dstLen, 7);
}

TEST(Bzip2Rle, DecoderFlushWritesWhatFits) {
    const Bytes coded{'z', 'z', 'z', 'z', 200, 'y'};
    Bytes state(264), out(300, 0);
    kelsDecodeRLEStateInit_BZ2_8u(state.data());
    const Kel8u* src = coded.data();
    int srcLen = 6;
    Kel8u* dst = out.data();
    int dstLen = 10;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusDstFull);
    dstLen = 100;
    EXPECT_EQ(kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &dst, &dstLen), kelStatusDstFull);
    EXPECT_EQ(dstLen, 0);
    EXPECT_EQ(n8_loadI32(state.data() + 256), 'z');
    dstLen = 200;
    EXPECT_EQ(kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &dst, &dstLen), kelStatusOk);
    EXPECT_EQ(dstLen, 106);
    EXPECT_EQ(n8_loadI32(state.data() + 256), -1);
    EXPECT_EQ(std::count(out.begin(), out.end(), 'z'), 204);
}

// Literal stretches of every length around 16-byte steps, with runs starting at every offset after them: the
// decoder copies literals 16 at a time and must still see each run where it starts, whatever room each call has.
TEST(Bzip2Rle, DecoderFindsRunsAtEveryOffsetWithAnyRoom) {
    auto rng = kel::test::makeRng(3);
    SCOPED_TRACE(kel::test::seedNote());
    Bytes data;
    for (int i = 0; i < 400; ++i) {
        const int lit = static_cast<int>(rng() % 40);
        for (int k = 0; k < lit; ++k) data.push_back(static_cast<std::uint8_t>(data.size() * 7 % 251));  // no repeats
        const int run = rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 3) : 4 + static_cast<int>(rng() % 300);
        data.insert(data.end(), run, static_cast<std::uint8_t>(rng()));
    }
    const Bytes coded = rleEncodePieces(data, 1 << 30, 1 << 22);
    ASSERT_EQ(kel::test::bz2::runLengthDecode(coded, data.size()), data);
    for (int room : {1, 3, 15, 16, 17, 19, 20, 31, 33, 300}) {
        Bytes state(264), out, dst(static_cast<std::size_t>(room));
        kelsDecodeRLEStateInit_BZ2_8u(state.data());
        const Kel8u* src = coded.data();
        int srcLen = static_cast<int>(coded.size());
        for (int calls = 0; srcLen > 0 || n8_loadI32(state.data() + 260) > 0; ++calls) {
            ASSERT_LT(calls, 1 << 20);
            Kel8u* pd = dst.data();
            int dstLen = room;
            if (srcLen > 0) {
                ASSERT_GE(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &pd, &dstLen, state.data()), 0);
            } else {
                ASSERT_GE(kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &pd, &dstLen), 0);
            }
            out.insert(out.end(), dst.begin(), dst.begin() + (room - dstLen));
        }
        EXPECT_EQ(out, data) << "room " << room;
    }
}

TEST(Bzip2Rle, DecoderNeverPassesItsBuffers) {
    // Source ending in four equal bytes (count byte missing), runs merging across the room, one byte of room.
    auto rng = kel::test::makeRng(2);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes coded(1 + rng() % 40);
        for (auto& b : coded) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : 'k');
        kel::test::GuardedBuffer src(coded.size());
        src.fill(coded.data(), coded.size());
        const int room = 1 + static_cast<int>(rng() % 20);
        kel::test::GuardedBuffer dst(room);
        Bytes state(264);
        kelsDecodeRLEStateInit_BZ2_8u(state.data());
        const Kel8u* ps = src.data();
        int srcLen = static_cast<int>(coded.size());
        Kel8u* pd = dst.data();
        int dstLen = room;
        const KelStatus st = kelsDecodeRLEState_BZ2_8u(&ps, &srcLen, &pd, &dstLen, state.data());
        EXPECT_GE(srcLen, 0);
        EXPECT_GE(dstLen, 0);
        EXPECT_EQ(st == kelStatusDstFull, srcLen > 0 || n8_loadI32(state.data() + 260) > 0);
    }
}

// The call that leaves source bytes unconsumed because the room ran out says so, in the last bytes too.
TEST(Bzip2Rle, DecoderReportsUnconsumedTailBytes) {
    const Bytes coded{'a', 'b', 'c', 'd', 'e', 'f'};
    Bytes state(264), out(6, 0);
    kelsDecodeRLEStateInit_BZ2_8u(state.data());
    const Kel8u* src = coded.data();
    int srcLen = 6;
    Kel8u* dst = out.data();
    int dstLen = 4;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusDstFull);
    EXPECT_EQ(srcLen, 2);
    dstLen = 2;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusOk);
    EXPECT_EQ(out, coded);
}

TEST(Bzip2Rle, ArgumentChecksComeInOrder) {
    Bytes state(264), buf(8);
    const Kel8u* src = buf.data();
    int srcLen = 0, dstLen = 8, size = 0;
    EXPECT_EQ(kelsRLEGetSize_BZ2_8u(&size), kelStatusOk);
    EXPECT_EQ(size, 264);
    EXPECT_EQ(kelsEncodeRLE_BZ2_8u(&src, &srcLen, nullptr, &dstLen, state.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeRLE_BZ2_8u(&src, &srcLen, buf.data(), &dstLen, nullptr), kelStatusNullPointer);
    EXPECT_EQ(kelsEncodeRLE_BZ2_8u(&src, &srcLen, buf.data(), &dstLen, state.data()), kelStatusBadSize);
    srcLen = 1;
    dstLen = 0;
    EXPECT_EQ(kelsEncodeRLE_BZ2_8u(&src, &srcLen, buf.data(), &dstLen, state.data()), kelStatusBadSize);
    EXPECT_EQ(kelsEncodeRLEFlush_BZ2_8u(buf.data(), &dstLen, state.data()), kelStatusBadSize);
    Kel8u* dst = buf.data();
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusBadSize);
    dst = nullptr;
    EXPECT_EQ(kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()), kelStatusNullPointer);
    EXPECT_EQ(kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &dst, &dstLen), kelStatusNullPointer);
}

TEST(Bzip2Dictionary, ReducesAndExpands) {
    Bytes inUse(256, 0);
    inUse[10] = inUse[200] = 1;
    Bytes data{10, 200, 200, 10};
    int size = 0;
    EXPECT_EQ(kelsReduceDictionary_8u_I(inUse.data(), data.data(), 4, &size), kelStatusOk);
    EXPECT_EQ(size, 2);
    EXPECT_EQ(data, (Bytes{0, 1, 1, 0}));
    EXPECT_EQ(kelsExpandDictionary_8u_I(inUse.data(), data.data(), 4, 3), kelStatusError);
    EXPECT_EQ(data, (Bytes{0, 1, 1, 0}));
    EXPECT_EQ(kelsExpandDictionary_8u_I(inUse.data(), data.data(), 4, 2), kelStatusOk);
    EXPECT_EQ(data, (Bytes{10, 200, 200, 10}));
    EXPECT_EQ(kelsExpandDictionary_8u_I(inUse.data(), data.data(), 0, 2), kelStatusBadSize);
    EXPECT_EQ(kelsExpandDictionary_8u_I(inUse.data(), data.data(), 4, 0), kelStatusBadSize);
    EXPECT_EQ(kelsReduceDictionary_8u_I(inUse.data(), data.data(), 4, nullptr), kelStatusNullPointer);
}

TEST(Bzip2Mtf, KnownSequencesAndCarriedState) {
    Bytes fwd(256), inv(256), out(4);
    kelsMTFInit_8u(fwd.data());
    kelsMTFInit_8u(inv.data());
    const Bytes in{2, 2, 2, 0};
    EXPECT_EQ(kelsMTFFwd_8u(in.data(), out.data(), 4, fwd.data()), kelStatusOk);
    EXPECT_EQ(out, (Bytes{2, 0, 0, 1}));
    EXPECT_EQ(kelsMTFInv_8u(out.data(), out.data(), 4, inv.data()), kelStatusOk);
    EXPECT_EQ(out, in);
    const Bytes before = fwd;
    EXPECT_EQ(kelsMTFFwd_8u(in.data(), out.data(), 0, fwd.data()), kelStatusBadSize);
    EXPECT_EQ(fwd, before);

    auto rng = kel::test::makeRng(3);
    const Bytes data = kel::test::randomBytes(rng, 5000);
    Bytes whole(5000), split(5000), back(5000);
    Bytes s1(256), s2(256), s3(256);
    kelsMTFInit_8u(s1.data());
    kelsMTFInit_8u(s2.data());
    kelsMTFInit_8u(s3.data());
    kelsMTFFwd_8u(data.data(), whole.data(), 5000, s1.data());
    kelsMTFFwd_8u(data.data(), split.data(), 1234, s2.data());
    kelsMTFFwd_8u(data.data() + 1234, split.data() + 1234, 5000 - 1234, s2.data());
    EXPECT_EQ(whole, split);
    EXPECT_EQ(s1, s2);
    kelsMTFInv_8u(whole.data(), back.data(), 17, s3.data());
    kelsMTFInv_8u(whole.data() + 17, back.data() + 17, 5000 - 17, s3.data());
    EXPECT_EQ(back, data);
}

TEST(Bzip2Mtf, VectorKernelsMatchScalar) {
    auto rng = kel::test::makeRng(4);
    SCOPED_TRACE(kel::test::seedNote());
    for (int trial = 0; trial < 360; ++trial) {
        // Every length to 256 and longer random ones; bytes of a wide or narrow spread, or runs of the values
        // that sit at signed-compare boundaries.
        const int len = trial < 256 ? trial + 1 : 1 + static_cast<int>(rng() % 3000);
        Bytes src(len);
        const int spread = trial % 3 == 0 ? 256 : (trial % 3 == 1 ? 20 : 3);
        const std::uint8_t edge[] = {0x00, 0x7F, 0x80, 0xFF};
        for (auto& b : src) b = static_cast<std::uint8_t>(rng() % spread + (trial % 5 == 0 ? 200 : 0));
        if (trial % 7 == 0) {
            for (int i = 0; i < len; ++i) src[i] = edge[(i / 9) % 4];
        }
        Bytes list(256);
        for (int i = 0; i < 256; ++i) list[i] = static_cast<std::uint8_t>(i);
        std::shuffle(list.begin(), list.end(), rng);
        Bytes l1 = list, l2 = list, d1(len), d2(len);
        n8_ownsMTFFwd_8u(src.data(), d1.data(), len, l1.data());
        n8_ownsMTFFwd_8u_ref(src.data(), d2.data(), len, l2.data());
        ASSERT_EQ(d1, d2);
        ASSERT_EQ(l1, l2);
        l1 = l2 = list;
        n8_ownsMTFInv_8u(src.data(), d1.data(), len, l1.data());
        n8_ownsMTFInv_8u_ref(src.data(), d2.data(), len, l2.data());
        ASSERT_EQ(d1, d2);
        ASSERT_EQ(l1, l2);

        // The block decoder's pass: symbols of this block's alphabet, runs included.
        const int dict = 1 + static_cast<int>(rng() % 256);
        Symbols sym(len);
        for (auto& s : sym) s = static_cast<Kel16u>(rng() % 2 ? rng() % 2 : 2 + rng() % dict);
        const int cap = trial % 4 == 0 ? len / 2 + 1 : 1 << 20;
        kel::test::GuardedBuffer o1(static_cast<std::size_t>(cap)), o2(static_cast<std::size_t>(cap));
        Kel32u c1[256] = {}, c2[256] = {};
        l1 = l2 = list;
        const int r1 = n8_ownsBZ2UnMTF_16u8u(sym.data(), len, o1.data(), cap, l1.data(), dict, c1);
        const int r2 = n8_ownsBZ2UnMTF_16u8u_ref(sym.data(), len, o2.data(), cap, l2.data(), dict, c2);
        ASSERT_EQ(r1, r2);
        if (r1 >= 0) {
            ASSERT_EQ(Bytes(o1.data(), o1.data() + r1), Bytes(o2.data(), o2.data() + r2));
            ASSERT_TRUE(std::equal(c1, c1 + 256, c2));
        }
    }
}

TEST(Bzip2ZeroRun, CodesRunsInBijectiveBaseTwo) {
    auto encode = [](const Bytes& in, int room, Symbols& out, std::vector<Kel32u>& freq, int& consumed) {
        const Kel8u* src = in.data();
        int srcLen = static_cast<int>(in.size());
        out.assign(room, 0xFFFF);
        int dstLen = room;
        const KelStatus st = kelsEncodeZ1Z2_BZ2_8u16u(&src, &srcLen, out.data(), &dstLen, freq.data());
        out.resize(dstLen);
        consumed = static_cast<int>(in.size()) - srcLen;
        return st;
    };
    std::vector<Kel32u> freq(258, 0);
    Symbols out;
    int consumed = 0;
    EXPECT_EQ(encode(Bytes{0, 0, 0, 5, 0}, 10, out, freq, consumed), kelStatusOk);
    EXPECT_EQ(out, (Symbols{0, 0, 6, 0}));
    EXPECT_EQ(freq[0], 3u);
    EXPECT_EQ(freq[6], 1u);
    const Symbols expect[] = {{0}, {1}, {0, 0}, {1, 0}};
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(encode(Bytes(k, 0), 10, out, freq, consumed), kelStatusOk);
        EXPECT_EQ(out, expect[k - 1]) << k;
    }
    EXPECT_EQ(encode(Bytes{0, 0, 7}, 1, out, freq, consumed), kelStatusDstFull);
    EXPECT_EQ(out, (Symbols{1}));
    EXPECT_EQ(consumed, 2);
    // Seven zeros need three digits; two symbols of room code six of them.
    EXPECT_EQ(encode(Bytes(7, 0), 2, out, freq, consumed), kelStatusDstFull);
    EXPECT_EQ(out, (Symbols{1, 1}));
    EXPECT_EQ(consumed, 6);

    auto decode = [](const Symbols& in, int room, Bytes& out, int& consumed) {
        const Kel16u* src = in.data();
        int srcLen = static_cast<int>(in.size());
        out.assign(room, 0xEE);
        int dstLen = room;
        const KelStatus st = kelsDecodeZ1Z2_BZ2_16u8u(&src, &srcLen, out.data(), &dstLen);
        out.resize(dstLen);
        consumed = static_cast<int>(in.size()) - srcLen;
        return st;
    };
    Bytes bytes;
    EXPECT_EQ(decode(Symbols{1, 0, 3}, 3, bytes, consumed), kelStatusDstFull);
    EXPECT_EQ(bytes.size(), 0u);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(decode(Symbols{1, 0, 3}, 5, bytes, consumed), kelStatusOk);
    EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0, 2}));
    EXPECT_EQ(decode(Symbols(40, 1), 100, bytes, consumed), kelStatusDstFull);
}

TEST(Bzip2ZeroRun, RoundTripsMoveToFrontOutput) {
    auto rng = kel::test::makeRng(5);
    Bytes data;
    for (int i = 0; i < 20000; ++i) data.push_back(rng() % 3 ? 0 : static_cast<std::uint8_t>(rng()));
    data.insert(data.end(), 70000, 0);
    std::vector<Kel32u> freq(258, 0);
    Symbols sym(data.size());
    const Kel8u* src = data.data();
    int srcLen = static_cast<int>(data.size()), symLen = static_cast<int>(sym.size());
    ASSERT_EQ(kelsEncodeZ1Z2_BZ2_8u16u(&src, &srcLen, sym.data(), &symLen, freq.data()), kelStatusOk);
    Kel64u total = 0;
    for (Kel32u f : freq) total += f;
    EXPECT_EQ(total, static_cast<Kel64u>(symLen));
    Bytes back(data.size());
    const Kel16u* ps = sym.data();
    int n = symLen, outLen = static_cast<int>(back.size());
    ASSERT_EQ(kelsDecodeZ1Z2_BZ2_16u8u(&ps, &n, back.data(), &outLen), kelStatusOk);
    EXPECT_EQ(back, data);
}

}  // namespace
