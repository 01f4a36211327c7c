// src/dc/deflate/deflate_huff.cpp - Deflate Huffman writing: items to the bit stream of a block body.
//
// Two loops give the same bytes. Short runs use a 32-bit accumulator and look codes up item by item. From 2048
// items on, building per-call tables pays off: every length 3 to 258 and every distance 1 to 256 gets one entry
// holding its code and extra bits already joined, so an item costs two lookups and one branch-free append to a
// 64-bit accumulator, which stores eight bytes at a time.
//
// Bit layout: bits are appended above the `count` valid bits of the accumulator and leave it from the bottom,
// lowest bit first, as whole bytes in little-endian order. Only complete bytes are ever stored, so nothing is
// written past the final *pDstPos.
#include "core/dc_exports.h"
#include "dc/deflate/deflate_tables.h"

using namespace kel::deflate;

namespace {

constexpr Kel32u kCombinedLoopItems = 2048;

// The low n bits of x (n <= 32). Code tables come from the caller; bits above a code's length must not leak into
// the codes that follow it.
inline Kel64u n8_lowBits(Kel64u x, Kel32u n) {
    return x & ((Kel64u(1) << n) - 1);
}

// A code length as used for writing: lengths above 16 cannot come from a valid code; clamping them keeps every
// item within the documented worst case of the destination size.
inline Kel32u n8_codeBits(const DeflateCodeEntry& e) {
    return e.codeLength > 16 ? 16 : e.codeLength;
}

inline void n8_store32(Kel8u* p, Kel32u v) {
    __builtin_memcpy(p, &v, 4);
}
inline void n8_store64(Kel8u* p, Kel64u v) {
    __builtin_memcpy(p, &v, 8);
}

// Stores the whole bytes of the accumulator (count < 64) and keeps the rest.
inline void n8_flushWholeBytes(Kel8u* pDst, Kel32u& o, Kel64u& acc, Kel32u& count) {
    while (count >= 8) {
        pDst[o++] = Kel8u(acc);
        acc >>= 8;
        count -= 8;
    }
}

// The plain loop: a 32-bit accumulator (held in 64 bits so that a put of up to 16 bits above a full 32 needs no
// special case); whenever more than 32 bits are valid, the low 32 are stored.
struct BitWriter32 {
    Kel64u acc;
    Kel32u count;
    Kel8u* dst;
    Kel32u o;

    void put(Kel32u bits, Kel32u n) {
        acc |= n8_lowBits(bits, n) << count;
        count += n;
        if (count > 32) {
            n8_store32(dst + o, Kel32u(acc));
            o += 4;
            acc >>= 32;
            count -= 32;
        }
    }
};

void n8_writePlain(const Kel8u* lit, const Kel16u* dist, Kel32u n, const DeflateCodeEntry* litCodes,
                   const DeflateCodeEntry* distCodes, BitWriter32& w) {
    for (Kel32u i = 0; i < n; ++i) {
        const Kel32u v = lit[i], d = dist[i];
        if (d == 0) {
            w.put(litCodes[v].freqOrCode, n8_codeBits(litCodes[v]));
            continue;
        }
        const Kel32u k = litCodeTable[v];
        w.put(litCodes[257 + k].freqOrCode, n8_codeBits(litCodes[257 + k]));
        w.put(v - litBaseTable[k], litExtraTable[k]);
        const Kel32u d1 = d - 1;
        const Kel32u j = d1 < 256 ? litCodeTable[256 + d1] : litCodeTable[512 + (d1 >> 7)];
        w.put(distCodes[j].freqOrCode, n8_codeBits(distCodes[j]));
        w.put(d1 - distBaseTable[j], distExtraTable[j]);
    }
}

// A code with its extra bits joined: `bits` holds code then extra bits (at most 16 + 13), `n` their number.
struct Joined {
    Kel32u bits;
    Kel32u n;
};

// A distance code for the distances above 256, by (d - 1) >> 7: code bits and length, base, extra-bit count.
struct FarCode {
    Kel32u bits;
    Kel32u n;
    Kel32u base;
    Kel32u extra;
};

constexpr Kel32u kStageBytes = 4096;
// Items per staged run: each adds at most 50 bits, and the 8-byte store after the last one reaches 8 bytes past
// the bytes it completes, so a run of this many items stays inside the stage.
constexpr Kel32u kStageItems = (kStageBytes - 8) * 8 / 50;

// The combined loop. Item i is one table entry for its literal or length and, for a match, one for its distance
// (the near table, indexed by the distance 1 to 256, or the far table plus the extra value), joined into at most
// 50 bits and appended without a flush test: with fewer than 8 bits pending the 64-bit accumulator always has
// room, so all eight bytes are stored and the output advances by the complete ones. Those stores run ahead of the
// complete bytes, so they go to a stage on the stack, and only complete bytes are copied to the destination, run
// by run.
void n8_writeCombined(const Kel8u* lit, const Kel16u* dist, Kel32u n, const DeflateCodeEntry* litCodes,
                      const DeflateCodeEntry* distCodes, Kel8u* pDst, Kel32u& o, Kel64u& acc, Kel32u& count) {
    Joined litOrLen[512], near[257], distCode[30];
    FarCode far[256];
    for (Kel32u j = 0; j < 30; ++j) {
        const Kel32u cn = n8_codeBits(distCodes[j]);
        distCode[j] = {Kel32u(n8_lowBits(distCodes[j].freqOrCode, cn)), cn};
    }
    for (Kel32u v = 0; v < 256; ++v) {
        const Kel32u cn = n8_codeBits(litCodes[v]);
        litOrLen[v] = {Kel32u(n8_lowBits(litCodes[v].freqOrCode, cn)), cn};
        const DeflateCodeEntry& e = litCodes[257 + litCodeTable[v]];
        const Kel32u ln = n8_codeBits(e);
        const ExtPair x = litExtTable[v];
        litOrLen[256 + v] = {Kel32u(n8_lowBits(e.freqOrCode, ln)) | (Kel32u(x.value) << ln), ln + x.bits};
        const Joined& c = distCode[litCodeTable[256 + v]];
        const ExtPair y = distExtTable[v];
        near[1 + v] = {c.bits | (Kel32u(y.value) << c.n), c.n + y.bits};
        const Kel32u j = litCodeTable[512 + v];
        far[v] = {distCode[j].bits, distCode[j].n, distBaseTable[j], distExtraTable[j]};
    }
    near[0] = {0, 0};  // unused: distance 0 marks a literal

    n8_flushWholeBytes(pDst, o, acc, count);
    // The stage's byte stores may alias anything, so the accumulator lives in locals while items are appended.
    Kel64u bits = acc;
    Kel32u nBits = count;
    Kel8u stage[kStageBytes];
    for (Kel32u i = 0; i < n;) {
        const Kel32u runEnd = n - i < kStageItems ? n : i + kStageItems;
        Kel32u so = 0;
        for (; i < runEnd; ++i) {
            const Kel32u v = lit[i], d = dist[i];
            Kel64u item;
            Kel32u itemBits;
            if (d == 0) {
                item = litOrLen[v].bits;
                itemBits = litOrLen[v].n;
            } else {
                const Joined& l = litOrLen[256 + v];
                Kel64u dbits;
                Kel32u dn;
                if (d <= 256) {
                    dbits = near[d].bits;
                    dn = near[d].n;
                } else {
                    const Kel32u d1 = d - 1;
                    const FarCode& f = far[d1 >> 7];
                    dbits = f.bits | (Kel64u(d1 - f.base) << f.n);
                    dn = f.n + f.extra;
                }
                item = Kel64u(l.bits) | (dbits << l.n);
                itemBits = l.n + dn;
            }
            bits |= item << nBits;
            nBits += itemBits;
            n8_store64(stage + so, bits);
            so += nBits >> 3;
            bits >>= nBits & 56;
            nBits &= 7;
        }
        __builtin_memcpy(pDst + o, stage, so);
        o += so;
    }
    acc = bits;
    count = nBits;
}

}  // namespace

extern "C" KelStatus n8_kelsDeflateHuff_8u(const Kel8u* pLitLenIn, const Kel16u* pDistIn, Kel32u itemCount,
                                           Kel16u* pPendingBits, Kel32u* pPendingCount,
                                           const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes,
                                           Kel8u* pDst, Kel32u* pDstPos) {
    if (pLitLenIn == nullptr || pDistIn == nullptr || pPendingBits == nullptr || pPendingCount == nullptr ||
        pLitLenCodes == nullptr || pDistCodes == nullptr || pDst == nullptr || pDstPos == nullptr) {
        return kelStatusNullPointer;
    }
    // The pending value has 16 bits; a larger count would stand for zero bits beyond them and make the writer
    // store bytes the caller never reserved room for.
    if (*pPendingCount > 16) return kelStatusBadArgument;

    Kel64u acc = *pPendingBits;
    Kel32u count = *pPendingCount;
    acc = n8_lowBits(acc, count);
    Kel32u o = *pDstPos;
    if (itemCount >= kCombinedLoopItems) {
        n8_writeCombined(pLitLenIn, pDistIn, itemCount, pLitLenCodes, pDistCodes, pDst, o, acc, count);
    } else {
        BitWriter32 w{acc, count, pDst, o};
        n8_writePlain(pLitLenIn, pDistIn, itemCount, pLitLenCodes, pDistCodes, w);
        acc = w.acc;
        count = w.count;
        o = w.o;
    }
    n8_flushWholeBytes(pDst, o, acc, count);
    *pPendingBits = Kel16u(acc);
    *pPendingCount = count;
    *pDstPos = o;
    return kelStatusOk;
}
