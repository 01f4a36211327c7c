// tests/dc/bzip2/bzip2_test_util.h - helpers for the bzip2 stage tests: a naive rotation sort and a block pipeline
// built from the stages, as a bzip2 compressor and decompressor would chain them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

#include "keldc.h"

namespace kel::test::bz2 {

using Bytes = std::vector<std::uint8_t>;
using Symbols = std::vector<Kel16u>;

// Last column and the set of valid indices (every position holding a copy of rotation 0), by sorting rotations.
inline Bytes naiveBwt(const Bytes& s, std::vector<int>* validIndex) {
    const int n = static_cast<int>(s.size());
    std::vector<int> rot(n);
    std::iota(rot.begin(), rot.end(), 0);
    auto cmp = [&](int a, int b) {
        for (int k = 0; k < n; ++k) {
            const std::uint8_t x = s[(a + k) % n], y = s[(b + k) % n];
            if (x != y) return x < y;
        }
        return false;
    };
    std::stable_sort(rot.begin(), rot.end(), cmp);
    Bytes last(n);
    validIndex->clear();
    for (int k = 0; k < n; ++k) {
        last[k] = s[(rot[k] + n - 1) % n];
        if (!cmp(rot[k], 0) && !cmp(0, rot[k])) validIndex->push_back(k);
    }
    return last;
}

inline KelStatus bwtForward(const Bytes& s, Bytes& last, int& index, int method = -1) {
    const int n = static_cast<int>(s.size());
    int size = 0;
    if (method < 0) {
        kelsBWTFwdGetSize_8u(n, &size);
    } else {
        kelsBWTFwdGetBufSize_SelectSort_8u(n, &size, static_cast<Kel32u>(method));
    }
    Bytes buf(size);
    last.assign(n, 0);
    return method < 0 ? kelsBWTFwd_8u(s.data(), last.data(), n, &index, buf.data())
                      : kelsBWTFwd_SelectSort_8u(s.data(), last.data(), n, &index, buf.data(), method);
}

inline Bytes bwtInverse(const Bytes& last, int index) {
    const int n = static_cast<int>(last.size());
    int size = 0;
    kelsBWTInvGetSize_8u(n, &size);
    Bytes buf(size), out(n);
    EXPECT_EQ(kelsBWTInv_8u(last.data(), out.data(), n, index, buf.data()), kelStatusOk);
    return out;
}

// One coded block: what a bzip2 block carries besides its header bits.
struct CodedBlock {
    Bytes inUse = Bytes(256);
    int origin = 0;
    Bytes bits;        // table section and symbols, then the last partial byte
    int tailBits = 0;  // valid bits in the last byte of `bits` (0 = the last byte is whole)
    int stage1Len = 0;
};

// Stage-1 data of a block: the run-length coded bytes and their in-use table.
inline Bytes runLengthEncode(const Bytes& data, Bytes& inUse) {
    Bytes state(264), out(data.size() + data.size() / 4 + 16);
    kelsEncodeRLEInit_BZ2_8u(state.data());
    const Kel8u* src = data.data();
    int srcLen = static_cast<int>(data.size());
    int outLen = static_cast<int>(out.size());
    if (srcLen > 0) {
        EXPECT_EQ(kelsEncodeRLE_BZ2_8u(&src, &srcLen, out.data(), &outLen, state.data()), kelStatusOk);
    } else {
        outLen = 0;
    }
    int flushLen = 1;
    kelsEncodeRLEFlush_BZ2_8u(out.data() + outLen, &flushLen, state.data());
    out.resize(outLen + flushLen);
    inUse.assign(256, 0);
    kelsRLEGetInUseTable_8u(inUse.data(), state.data());
    return out;
}

inline Bytes runLengthDecode(const Bytes& coded, std::size_t expected) {
    Bytes state(264), out(expected + 1);
    kelsDecodeRLEStateInit_BZ2_8u(state.data());
    const Kel8u* src = coded.data();
    int srcLen = static_cast<int>(coded.size());
    Kel8u* dst = out.data();
    int dstLen = static_cast<int>(out.size());
    while (srcLen > 0) {
        if (kelsDecodeRLEState_BZ2_8u(&src, &srcLen, &dst, &dstLen, state.data()) < 0) return {};
    }
    if (kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &dst, &dstLen) != kelStatusOk) return {};
    out.resize(out.size() - dstLen);
    return out;
}

// Stage-1 data to a coded block through transform, dictionary, move-to-front, zero runs and Huffman coding.
inline CodedBlock encodeBlock(const Bytes& stage1, const Bytes& inUse) {
    CodedBlock b;
    b.inUse = inUse;
    b.stage1Len = static_cast<int>(stage1.size());
    const int n = b.stage1Len;
    Bytes last;
    EXPECT_EQ(bwtForward(stage1, last, b.origin), kelStatusOk);
    int dict = 0;
    EXPECT_EQ(kelsReduceDictionary_8u_I(inUse.data(), last.data(), n, &dict), kelStatusOk);
    Bytes mtfState(256), mtf(n);
    kelsMTFInit_8u(mtfState.data());
    kelsMTFFwd_8u(last.data(), mtf.data(), n, mtfState.data());
    std::vector<Kel32u> freq(258, 0);
    Symbols sym(n + 1);
    const Kel8u* src = mtf.data();
    int srcLen = n;
    int symLen = n;
    EXPECT_EQ(kelsEncodeZ1Z2_BZ2_8u16u(&src, &srcLen, sym.data(), &symLen, freq.data()), kelStatusOk);
    const int alpha = dict + 2;
    sym[symLen++] = static_cast<Kel16u>(alpha - 1);
    ++freq[alpha - 1];
    sym.resize(symLen);
    int stateSize = 0;
    kelsEncodeHuffGetSize_BZ2_16u8u(symLen, &stateSize);
    Bytes state(stateSize);
    EXPECT_EQ(kelsEncodeHuffInit_BZ2_16u8u(alpha, freq.data(), sym.data(), symLen, state.data()), kelStatusOk);
    b.bits.assign(symLen * 3 + 4096, 0);
    Kel32u code = 0;
    int codeBits = 0;
    int len = static_cast<int>(b.bits.size());
    EXPECT_EQ(kelsPackHuffContext_BZ2_16u8u(&code, &codeBits, b.bits.data(), &len, state.data()), kelStatusOk);
    int used = len;
    const Kel16u* ps = sym.data();
    int count = symLen;
    len = static_cast<int>(b.bits.size()) - used;
    EXPECT_EQ(kelsEncodeHuff_BZ2_16u8u(&code, &codeBits, &ps, &count, b.bits.data() + used, &len, state.data()),
              kelStatusOk);
    used += len;
    while (codeBits >= 8) {
        b.bits[used++] = static_cast<std::uint8_t>(code >> 24);
        code <<= 8;
        codeBits -= 8;
    }
    if (codeBits > 0) b.bits[used++] = static_cast<std::uint8_t>(code >> 24);
    b.tailBits = codeBits;
    b.bits.resize(used);
    return b;
}

// Coded block back to stage-1 data, feeding the source in pieces of `piece` bytes. Empty on any error.
inline Bytes decodeBlock(const CodedBlock& b, int capacity, int piece = 1 << 30) {
    int dict = 0;
    for (int v = 0; v < 256; ++v) dict += b.inUse[v] != 0;
    const int alpha = dict + 2;
    int stateSize = 0;
    kelsDecodeHuffGetSize_BZ2_8u16u(900000, &stateSize);
    Bytes state(stateSize);
    if (kelsDecodeHuffInit_BZ2_8u16u(alpha, state.data()) != kelStatusOk) return {};
    Kel32u code = 0;
    int codeBits = 0;
    // The bit stream ends with padding; 8 zero bytes stand for whatever follows a block in a file.
    Bytes src = b.bits;
    src.insert(src.end(), 8, 0);
    std::size_t pos = 0;
    auto next = [&](const Kel8u*& p, int& len) {
        const std::size_t take = std::min<std::size_t>(piece, src.size() - pos);
        p = src.data() + pos;
        len = static_cast<int>(take);
        pos += take;
    };
    const Kel8u* p = nullptr;
    int len = 0;
    KelStatus st;
    do {
        if (len == 0) next(p, len);
        if (len == 0) return {};
        st = kelsUnpackHuffContext_BZ2_8u16u(&code, &codeBits, &p, &len, state.data());
    } while (st == kelStatusSrcExhausted);
    if (st != kelStatusOk) return {};
    Symbols sym(capacity + 1);
    int have = 0;
    for (;;) {
        int room = static_cast<int>(sym.size()) - have;
        if (len == 0) next(p, len);
        st = kelsDecodeHuff_BZ2_8u16u(&code, &codeBits, &p, &len, sym.data() + have, &room, state.data());
        have += room;
        if (st == kelStatusOk) break;
        if (st != kelStatusSrcExhausted) return {};
        if (pos == src.size() && len == 0) return {};
    }
    if (have == 0) return {};
    int bufSize = 0;
    kelsDecodeBlockGetSize_BZ2_8u(static_cast<Kel32u>(capacity), &bufSize);
    Bytes buf(bufSize), out(capacity);
    int outLen = capacity;
    if (kelsDecodeBlock_BZ2_16u8u(sym.data(), have, out.data(), &outLen, b.origin, static_cast<Kel32u>(dict),
                                  b.inUse.data(), buf.data()) != kelStatusOk) {
        return {};
    }
    out.resize(outLen);
    return out;
}

// ---- Bit-level editing of .bz2 files -----------------------------------------------------------------------------

// Bits of a byte string, most significant first.
struct BitReader {
    const Bytes& bytes;
    std::size_t pos = 0;  // in bits

    std::uint32_t get(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((bytes[pos / 8] >> (7 - pos % 8)) & 1);
        return v;
    }
    std::size_t left() const { return bytes.size() * 8 - pos; }
};

struct BitWriter {
    Bytes out;
    std::size_t pos = 0;  // in bits

    void put(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i, ++pos) {
            if (pos % 8 == 0) out.push_back(0);
            if ((v >> i) & 1) out.back() |= static_cast<std::uint8_t>(0x80 >> (pos % 8));
        }
    }
};

// Rewrites the first block of a single-stream .bz2 file to announce `count` selectors, more than it has: the extra
// selectors go after the block's own ones, so no group uses them, and the block CRC and stream CRC stay valid.
// Extra selectors are move-to-front values 0 and 1 (bits 0 and 10), mixed so that the inserted bits make whole
// bytes and the file's final padding still ends it exactly. When `block` is given it receives the block's in-use
// table, origin and bits from the table section on (the file's tail included), for decodeBlock.
inline Bytes rewriteSelectorCount(const Bytes& file, int count, CodedBlock* block = nullptr) {
    BitReader in{file};
    BitWriter w;
    w.put(in.get(32), 32);  // BZh9
    const std::uint32_t magicHi = in.get(24), magicLo = in.get(24);
    EXPECT_EQ(magicHi, 0x314159u);
    EXPECT_EQ(magicLo, 0x265359u);
    w.put(magicHi, 24);
    w.put(magicLo, 24);
    w.put(in.get(32), 32);  // block CRC
    w.put(in.get(1), 1);    // randomised
    const std::uint32_t origin = in.get(24);
    w.put(origin, 24);
    const std::uint32_t ranges = in.get(16);
    w.put(ranges, 16);
    Bytes inUse(256, 0);
    for (int r = 0; r < 16; ++r) {
        if (!(ranges & (0x8000u >> r))) continue;
        const std::uint32_t bits = in.get(16);
        w.put(bits, 16);
        for (int k = 0; k < 16; ++k) inUse[16 * r + k] = (bits >> (15 - k)) & 1;
    }
    const std::size_t sectionBit = w.pos;
    w.put(in.get(3), 3);
    const int own = static_cast<int>(in.get(15));
    EXPECT_LT(own, count);
    w.put(static_cast<std::uint32_t>(count), 15);
    for (int g = 0; g < own; ++g) {
        int ones = 0;
        while (in.get(1) == 1) ++ones;
        w.put((1u << (ones + 1)) - 2, ones + 1);
    }
    const int extra = count - own;
    const int twoBit = (8 - extra % 8) % 8;
    for (int g = 0; g < extra; ++g) {
        if (g < twoBit) {
            w.put(2, 2);
        } else {
            w.put(0, 1);
        }
    }
    while (in.left() > 0) w.put(in.get(1), 1);
    EXPECT_EQ(w.pos % 8, 0u);
    if (block != nullptr) {
        block->inUse = inUse;
        block->origin = static_cast<int>(origin);
        BitReader tail{w.out};
        tail.pos = sectionBit;
        BitWriter t;
        while (tail.left() > 0) t.put(tail.get(1), 1);
        block->bits = t.out;
        block->tailBits = 0;
    }
    return w.out;
}

}  // namespace kel::test::bz2
