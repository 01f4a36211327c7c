// src/dc/deflate/fastest_encode.cpp - kelsDeflateLZ77FastestPrecompHeader_8u and kelsDeflateLZ77Fastest_8u: the
// single-pass encoder, from bytes straight to Deflate bits.
//
// One head probe per position: a match is taken when the four bytes at the newest earlier position of the same
// hash agree, then extended to at most 258 bytes; only the three positions after a match's start are hashed. No
// item buffers: each literal or match goes into a 64-bit bit accumulator as one combined value (code and extra
// bits, prepared per call in small tables), and after each item the accumulator's whole 16-bit units are stored
// (four and then two bytes, or while 8 bytes of room remain, one 8-byte store advanced by the units it holds, so
// bytes of pDst beyond the final *pDstPos may be overwritten; none beyond dstLen).
//
// Bit budget. In the main loop fewer than 16 bits are pending before an item and an item has at most
// 15 + 5 + 15 + 13 = 48 bits, so the accumulator never holds more than 63 bits and one item stores at most six
// bytes. The main loop runs while at least five bytes of room are left; an item that would need the sixth byte
// (48 bits or more pending) is left for the next call. Near the end of the input items are stored byte by byte,
// and an item is taken only if what it leaves pending after filling the room fits the 16 pending bits the caller
// keeps. Room of 8 bytes therefore always lets a call make progress; below that an item may have to wait.
#include "core/dc_exports.h"
#include "dc/deflate/fastest_internal.h"

using namespace kel::deflate;

namespace {

// Code bits (least significant first) and their number.
struct BitCode {
    Kel32u bits;
    Kel32u n;
};

struct EncodeJob {
    const Kel8u* src;
    const Kel8u* hist;
    Kel32s s;    // position of src[0]
    Kel32s len;  // usable source bytes (positions stay at or below kPosLimit)
    Kel32s windowSize;
    Kel32u hashMask;
    Kel32s* heads;
    const DeflateCodeEntry* lit;   // 286 entries used
    const DeflateCodeEntry* dist;  // 30 entries
    bool dynamic;                  // caller's codes (a first literal is forced at the start of a short stream)
    bool flushAll;                 // the input ends with this call
    Kel8u* dst;
    Kel32u dstLen;
    // In-out.
    Kel32u dstPos;
    Kel64u acc;  // pending bits, lowest first
    Kel32u cnt;  // their number
    Kel32s consumed;
};

// A distance code with its extra bits still to be filled in: for every distance code the extra bits are the low
// bits of distance - 1 (each code's first distance - 1 is a multiple of its extra-bit range), so the combined bits
// are bits | ((distance - 1) & extraMask) << n, total bits long.
struct DistCode {
    Kel32u bits;
    Kel16u extraMask;
    Kel8u n;
    Kel8u total;
};

// The per-call tables: literal codes, length codes with their extra bits (index length - 3), and distance codes
// indexed by n8_distIndex.
struct EncodeTables {
    BitCode lit[256];
    BitCode len[256];
    DistCode dist[512];
};

// Distances up to 256 have an entry each; above, codes cover whole multiples of 128 distances.
inline size_t n8_distIndex(Kel32u d1) {
    return d1 < 256 ? d1 : 256 + (d1 >> 7);
}

BitCode n8_entryCode(const DeflateCodeEntry& e) {
    const Kel32u n = e.codeLength;
    return BitCode{Kel32u(e.freqOrCode) & ((1u << n) - 1), n};
}

void n8_buildTables(const DeflateCodeEntry* lit, const DeflateCodeEntry* dist, EncodeTables& t) {
    for (int v = 0; v < 256; ++v) t.lit[v] = n8_entryCode(lit[v]);
    for (Kel32u m = 0; m < 256; ++m) {
        const Kel32u k = litCodeTable[m];
        const BitCode c = n8_entryCode(lit[257 + k]);
        const Kel32u extraBits = addNumBitLenTable[k];
        t.len[m] = BitCode{c.bits | ((m & ((1u << extraBits) - 1)) << c.n), c.n + extraBits};
    }
    for (Kel32u i = 0; i < 512; ++i) {
        const Kel32u k = i < 256 ? litCodeTable[256 + i] : litCodeTable[512 + (i - 256)];
        const BitCode c = n8_entryCode(dist[k]);
        const Kel32u extraBits = addNumBitDistTable[k];
        t.dist[i] = DistCode{c.bits, Kel16u((1u << extraBits) - 1), Kel8u(c.n), Kel8u(c.n + extraBits)};
    }
}

// Combined bits of a match (length code, length extra, distance code, distance extra): at most 48 bits.
inline Kel64u n8_matchBits(const EncodeTables& t, Kel32s len, Kel32s distance, Kel32u& n) {
    const BitCode lc = t.len[len - 3];
    const Kel32u d1 = Kel32u(distance - 1);
    const DistCode dc = t.dist[n8_distIndex(d1)];
    n = lc.n + dc.total;
    return Kel64u(lc.bits) | (Kel64u(dc.bits | ((d1 & dc.extraMask) << dc.n)) << lc.n);
}

// Accumulator state between the loops of one call.
struct BitState {
    Kel64u acc;
    Kel32u cnt;  // below 16 between items
    Kel32u o;    // offset in dst of the next byte to store
};

// The main loop while at least 8 bytes of room are left, for history and source in one buffer (a candidate is then
// simply ip - distance). After an item its whole 16-bit units of bits (up to six bytes: what the four- and
// two-byte stores of the general loop would store) go out as one 8-byte store of the accumulator, advancing by the
// units stored; the bytes beyond are rewritten later. Runs from pos while pos < mainEnd and returns the position
// reached. Preconditions: dstLen >= 8, bs.o <= dstLen - 8, pos < mainEnd.
//
// kRoomChecked: the room may run out before mainEnd, so it is checked after every item; the caller leaves the
// check out when the room holds 15 bits per source byte (a literal's longest code; a match has at most 48 bits for
// at least four bytes). kMask: see n8_fastConstMask; a constant leaves the mask and the window size out of the
// registers.
template <Kel32u kMask, bool kRoomChecked>
__attribute__((noinline)) Kel32s n8_mainLoopContiguous(const EncodeJob& j, const EncodeTables& t, Kel32s pos,
                                                       Kel32s mainEnd, BitState& bs) {
    const Kel8u* ip = j.src + (pos - j.s);
    const Kel8u* const ipEnd = j.src + (mainEnd - j.s);
    Kel32u p = Kel32u(pos);  // position of ip
    Kel8u* op = j.dst + bs.o;
    Kel8u* const opLimit = j.dst + (j.dstLen - 8);
    Kel64u acc = bs.acc;
    Kel32u cnt = bs.cnt;
    Kel32s* const heads = j.heads;
    const Kel32u mask = j.hashMask;
    const Kel32u wsMinus1 = kMask != 0 ? 32767 : Kel32u(j.windowSize) - 1;
    // Stores the whole 16-bit units of the pending bits.
    auto storeUnits = [&] {
        __builtin_memcpy(op, &acc, 8);
        const Kel32u units = cnt >> 4;
        op += 2 * units;
        acc >>= 16 * units;
        cnt &= 15;
    };
    auto more = [&] { return ip < ipEnd && (!kRoomChecked || op <= opLimit); };
    // The hash of the next position is computed one step ahead: a literal moves on to it, a match inserts it. Its
    // head entry can then be loaded before the current step's branch is resolved.
    size_t h = n8_fastHash4<kMask>(n8_load32(ip), mask);
    for (;;) {
        // A run of literals, in a loop of its own so that its registers are allocated for it alone.
        Kel64u ahead, diff;
        Kel32u d;
        size_t hNext;
        for (;;) {
            diff = n8_probeContiguous<kMask>(ip, p, heads, h, mask, wsMinus1, ahead, hNext, d);
            if (Kel32u(diff) == 0) break;
            const BitCode lc = t.lit[ahead & 255];
            acc |= Kel64u(lc.bits) << cnt;
            cnt += lc.n;
            ++ip;
            ++p;
            h = hNext;
            storeUnits();
            if (!more()) goto done;
        }
        const Kel32s len = n8_takeMatchContiguous<kMask>(ip, p, d, diff, heads, hNext, mask);
        const BitCode lc = t.len[len - 3];
        const Kel32u d1 = d - 1;
        const DistCode dc = t.dist[n8_distIndex(d1)];
        const Kel64u bits = Kel64u(lc.bits) | (Kel64u(dc.bits | ((d1 & dc.extraMask) << dc.n)) << lc.n);
        acc |= bits << cnt;
        cnt += lc.n + dc.total;
        ip += len;
        p += Kel32u(len);
        storeUnits();
        if (!more()) break;
        // Only a position below the loop's end has its four bytes inside the source for sure.
        h = n8_fastHash4<kMask>(n8_load32(ip), mask);
    }
done:
    bs.acc = acc;
    bs.cnt = cnt;
    bs.o = Kel32u(op - j.dst);
    return pos + Kel32s(ip - (j.src + (pos - j.s)));
}

Kel32s n8_runMainLoopContiguous(const EncodeJob& j, const EncodeTables& t, Kel32s pos, Kel32s mainEnd, BitState& bs) {
    // The bits of the items from pos to mainEnd: at most 15 per byte and one item beyond (48 bits), stored
    // from below 16 pending bits with an 8-byte store at the end.
    const bool roomForAll = Kel64u(j.dstLen) - 8 - bs.o >= 2 * Kel64u(mainEnd - pos) + 16;
    switch (n8_fastConstMask(j.hashMask, Kel32u(j.windowSize))) {
        case 0x7FFF:
            return roomForAll ? n8_mainLoopContiguous<0x7FFF, false>(j, t, pos, mainEnd, bs)
                              : n8_mainLoopContiguous<0x7FFF, true>(j, t, pos, mainEnd, bs);
        case 0x1FFF:
            return roomForAll ? n8_mainLoopContiguous<0x1FFF, false>(j, t, pos, mainEnd, bs)
                              : n8_mainLoopContiguous<0x1FFF, true>(j, t, pos, mainEnd, bs);
        default:
            return roomForAll ? n8_mainLoopContiguous<0, false>(j, t, pos, mainEnd, bs)
                              : n8_mainLoopContiguous<0, true>(j, t, pos, mainEnd, bs);
    }
}

template <bool kContiguous>
KelStatus n8_encode(EncodeJob& j, const EncodeTables& t) {
    const FastWindow<kContiguous> w{j.src, j.hist, j.s};
    Kel8u* const dst = j.dst;
    const Kel32u dstLen = j.dstLen;
    Kel32s* const heads = j.heads;
    const Kel32u mask = j.hashMask;
    const Kel32s ws = j.windowSize;
    Kel64u acc = j.acc;
    Kel32u cnt = j.cnt;
    Kel32u o = j.dstPos;

    auto store32 = [&] {
        const Kel32u v = Kel32u(acc);
        __builtin_memcpy(dst + o, &v, 4);
        o += 4;
        acc >>= 32;
        cnt -= 32;
    };
    auto store16 = [&] {
        dst[o] = Kel8u(acc);
        dst[o + 1] = Kel8u(acc >> 8);
        o += 2;
        acc >>= 16;
        cnt -= 16;
    };
    auto storeBytes = [&] {
        while (cnt >= 8 && o < dstLen) {
            dst[o++] = Kel8u(acc);
            acc >>= 8;
            cnt -= 8;
        }
    };
    auto hashAt = [&](Kel32s p) { return n8_hash4(n8_load32(w.at(p)), mask); };

    // Entry: at most 16 pending bits (31 after an on-the-spot header, whose room check left two bytes for this).
    if (cnt >= 16) {
        if (dstLen - o >= 2) {
            store16();
        } else {
            storeBytes();
        }
    }

    const Kel32s end = j.s + j.len;
    Kel32s pos = j.s;
    if (dstLen >= 4) {
        // At the start of a short stream the first byte is always a literal (inserted when it can be hashed).
        if (j.dynamic && end >= 1 && end <= kFastMaxMatch && pos < end) {
            const BitCode c = t.lit[*w.at(pos)];
            const Kel32u total = cnt + c.n;  // below 31
            const Kel32u stores = total >= 16 ? 2 : 0;
            if (stores != 0 && Kel64u(o) + stores > dstLen - 4) return kelStatusBadSize;
            if (end - pos >= 4) heads[hashAt(pos)] = pos;
            acc |= Kel64u(c.bits) << cnt;
            cnt = total;
            if (cnt >= 16) store16();
            ++pos;
        }

        // Main loop: a full-length match and the hashing after it stay inside the source below end - 258. A
        // candidate c is usable when 1 <= pos - c < windowSize (computed modulo 2^32, so that any table entry is
        // safe): c < pos rejects entries that do not come from an earlier position of this stream.
        const Kel32s mainEnd = end - kFastMaxMatch;
        const Kel32u wsMinus1 = Kel32u(ws) - 1;

        if (kContiguous && dstLen >= 8 && o <= dstLen - 8 && pos < mainEnd) {
            BitState bs{acc, cnt, o};
            pos = n8_runMainLoopContiguous(j, t, pos, mainEnd, bs);
            acc = bs.acc;
            cnt = bs.cnt;
            o = bs.o;
        }
        while (pos < mainEnd && dstLen - o >= 5) {
            const Kel32u cur = n8_load32(w.at(pos));
            const Kel32u h = n8_hash4(cur, mask);
            const Kel32s c = heads[h];
            if (Kel32u(pos) - Kel32u(c) - 1 < wsMinus1 && w.word(c) == cur) {
                const Kel32s len = w.matchLen(pos, c, kFastMaxMatch);
                Kel32u n;
                const Kel64u bits = n8_matchBits(t, len, pos - c, n);
                if (cnt + n >= 48 && dstLen - o < 6) break;
                heads[h] = pos;
                heads[hashAt(pos + 1)] = pos + 1;
                heads[hashAt(pos + 2)] = pos + 2;
                heads[hashAt(pos + 3)] = pos + 3;
                acc |= bits << cnt;
                cnt += n;
                pos += len;
            } else {
                heads[h] = pos;
                const BitCode lc = t.lit[cur & 255];
                acc |= Kel64u(lc.bits) << cnt;
                cnt += lc.n;
                ++pos;
            }
            if (cnt >= 32) store32();
            if (cnt >= 16) store16();
        }
    }
    storeBytes();

    if (j.flushAll) {
        // The last bytes: matches limited to the source end, hashing only positions whose four bytes exist, output
        // stored byte by byte into whatever room is left.
        bool stopped = false;
        while (pos < end - 3 && o < dstLen) {
            const Kel32s maxLen = end - pos < kFastMaxMatch ? end - pos : kFastMaxMatch;
            const Kel32u cur = n8_load32(w.at(pos));
            const Kel32u h = n8_hash4(cur, mask);
            const Kel32s c = heads[h];
            Kel64u bits;
            Kel32u n;
            Kel32s step = 1;
            const bool match = c > pos - ws && c < pos && w.word(c) == cur;
            if (match) {
                step = w.matchLen(pos, c, maxLen);
                bits = n8_matchBits(t, step, pos - c, n);
            } else {
                bits = t.lit[cur & 255].bits;
                n = t.lit[cur & 255].n;
            }
            if (Kel64u(cnt) + n > 8 * Kel64u(dstLen - o) + 16) {
                stopped = true;
                break;
            }
            heads[h] = pos;
            if (match) {
                for (Kel32s p = pos + 1; p <= pos + 3 && p + 4 <= end; ++p) heads[hashAt(p)] = p;
            }
            acc |= bits << cnt;
            cnt += n;
            storeBytes();
            pos += step;
        }
        // Fewer than 8 bits are pending whenever room is left, so a literal (at most 15 bits) always fits.
        while (!stopped && pos < end && o < dstLen) {
            const BitCode lc = t.lit[*w.at(pos)];
            acc |= Kel64u(lc.bits) << cnt;
            cnt += lc.n;
            storeBytes();
            ++pos;
        }
    }

    j.acc = acc;
    j.cnt = cnt;
    j.dstPos = o;
    j.consumed = pos - j.s;
    return kelStatusOk;
}

// Appends n (0 to 16) bits to the accumulator, storing four bytes whenever 32 have gathered; the caller has
// checked the room for every store.
struct HeaderAppender {
    EncodeJob& j;
    void put(Kel32u v, Kel32u n) {
        j.acc |= Kel64u(v) << j.cnt;
        j.cnt += n;
        if (j.cnt >= 32) {
            const Kel32u word = Kel32u(j.acc);
            __builtin_memcpy(j.dst + j.dstPos, &word, 4);
            j.dstPos += 4;
            j.acc >>= 32;
            j.cnt -= 32;
        }
    }
    // Bits from..to - 1 of a bit string held least significant bit first.
    void putString(const Kel8u* p, Kel64s from, Kel64s to) {
        while (from < to) {
            const Kel64s toByteEnd = 8 - (from & 7);
            const Kel32u n = Kel32u(to - from < toByteEnd ? to - from : toByteEnd);
            put((Kel32u(p[from >> 3]) >> (from & 7)) & ((1u << n) - 1), n);
            from += n;
        }
    }
};

// The precomputed header: its bits from bit 3 on follow the pending bits (the caller has put the final flag and
// block type there). Needs room for the whole bytes of the result plus one.
KelStatus n8_putPrecomputedHeader(EncodeJob& j, const Kel8u* pHeader, Kel32s headerBits) {
    const Kel64s body = headerBits > 3 ? headerBits - 3 : 0;
    const Kel64s total = Kel64s(j.cnt) + body;
    if (Kel64s(j.dstPos) + total / 8 + 1 > Kel64s(j.dstLen)) return kelStatusBadSize;
    HeaderAppender a{j};
    a.putString(pHeader, 3, 3 + body);
    while (j.cnt >= 8) {
        j.dst[j.dstPos++] = Kel8u(j.acc);
        j.acc >>= 8;
        j.cnt -= 8;
    }
    return kelStatusOk;
}

// The on-the-spot header after the pending bits. Every four-byte store must fit, and so must the two bytes the
// encoder stores next when 16 or more bits are left over.
KelStatus n8_putSpotHeader(EncodeJob& j, const DeflateCodeEntry* lit, const DeflateCodeEntry* dist) {
    Kel8u header[kFastSpotHeaderBytes];
    const Kel32s bits = n8_ownsFastestSpotHeader(lit, dist, header);
    const Kel64s total = Kel64s(j.cnt) + bits;
    const Kel64s need = total / 32 * 4 + (total % 32 >= 16 ? 2 : 0);
    if (Kel64s(j.dstPos) + need > Kel64s(j.dstLen)) return kelStatusBadSize;
    HeaderAppender a{j};
    a.putString(header, 0, bits);
    return kelStatusOk;
}

KelStatus n8_fastestEncode(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd,
                           Kel32u windowSize, Kel32s* pHashHeads, Kel32u hashTableSize, Kel16u* pPendingBits,
                           Kel32u* pPendingCount, Kel8u* pDst, Kel32u dstLen, Kel32u* pDstPos,
                           const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes,
                           const Kel8u* pHeader, Kel32s headerBits, Kel32u flushMode) {
    if (pSrcPtr == nullptr || pSrcLen == nullptr || pSrcPos == nullptr || pHistoryEnd == nullptr ||
        pHashHeads == nullptr || pPendingBits == nullptr || pPendingCount == nullptr || pDst == nullptr ||
        pDstPos == nullptr || *pSrcPtr == nullptr) {
        return kelStatusNullPointer;
    }
    if (!n8_fastSizesValid(windowSize, hashTableSize)) return kelStatusBadSize;
    if (*pDstPos >= dstLen) return kelStatusBadSize;
    if (pLitLenCodes != nullptr) {
        if (pDistCodes == nullptr) return kelStatusNullPointer;
        if (pHeader != nullptr && headerBits < 1) return kelStatusBadSize;
    } else if (pDistCodes != nullptr || pHeader != nullptr) {
        return kelStatusNullPointer;
    }
    // The pending bits must fit their 16-bit holder, and code lengths must be ones Deflate can carry (longer ones
    // would overflow the bit accumulator).
    if (*pPendingCount > 16) return kelStatusBadArgument;
    if (pLitLenCodes != nullptr &&
        (!n8_fastLengthsValid(pLitLenCodes, 288) || !n8_fastLengthsValid(pDistCodes, kFastDistSymbols))) {
        return kelStatusBadArgument;
    }

    const Kel32s len = *pSrcLen;
    Kel32u s = *pSrcPos;
    // Positions shift down before they can overflow, exactly as the hash-chain matchers rebase (heads only).
    if (n8_needsRebase(s, len, windowSize)) {
        n8_fastRebaseHeads(pHashHeads, hashTableSize, Kel32s(s - windowSize));
        s = windowSize;
        *pSrcPos = s;
    }
    const Kel32s useLen = n8_usableLength(s, len);

    EncodeJob j;
    j.src = *pSrcPtr;
    j.hist = pHistoryEnd;
    j.s = Kel32s(s);
    j.len = useLen;
    j.windowSize = Kel32s(windowSize);
    j.hashMask = hashTableSize - 1;
    j.heads = pHashHeads;
    j.dynamic = pLitLenCodes != nullptr;
    j.lit = j.dynamic ? pLitLenCodes : static_ltree;
    j.dist = j.dynamic ? pDistCodes : static_dtree;
    j.flushAll = flushMode >= 2 && useLen == len;
    j.dst = pDst;
    j.dstLen = dstLen;
    j.dstPos = *pDstPos;
    j.cnt = *pPendingCount;
    j.acc = Kel64u(*pPendingBits) & ((Kel64u(1) << j.cnt) - 1);
    j.consumed = 0;

    // A dynamic block's header goes out at the start of the stream only; later calls continue the block.
    if (j.dynamic && s == 0) {
        const KelStatus st = pHeader != nullptr ? n8_putPrecomputedHeader(j, pHeader, headerBits)
                                                : n8_putSpotHeader(j, pLitLenCodes, pDistCodes);
        if (st != kelStatusOk) return st;
    }

    EncodeTables t;
    n8_buildTables(j.lit, j.dist, t);
    const KelStatus st = j.hist == j.src ? n8_encode<true>(j, t) : n8_encode<false>(j, t);
    if (st != kelStatusOk) return st;

    *pPendingBits = Kel16u(j.acc);
    *pPendingCount = j.cnt;
    *pDstPos = j.dstPos;
    *pSrcPtr += j.consumed;
    *pSrcLen = len - j.consumed;
    *pSrcPos = s + Kel32u(j.consumed);
    return kelStatusOk;
}

}  // namespace

extern "C" KelStatus n8_kelsDeflateLZ77FastestPrecompHeader_8u(
    const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos, const Kel8u* pHistoryEnd, Kel32u windowSize,
    Kel32s* pHashHeads, Kel32u hashTableSize, Kel16u* pPendingBits, Kel32u* pPendingCount, Kel8u* pDst, Kel32u dstLen,
    Kel32u* pDstPos, const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes, const Kel8u* pHeader,
    Kel32s headerBits, Kel32u flushMode) {
    return n8_fastestEncode(pSrcPtr, pSrcLen, pSrcPos, pHistoryEnd, windowSize, pHashHeads, hashTableSize, pPendingBits,
                            pPendingCount, pDst, dstLen, pDstPos, pLitLenCodes, pDistCodes, pHeader, headerBits,
                            flushMode);
}

extern "C" KelStatus n8_kelsDeflateLZ77Fastest_8u(const Kel8u** pSrcPtr, Kel32s* pSrcLen, Kel32u* pSrcPos,
                                                  const Kel8u* pHistoryEnd, Kel32u windowSize, Kel32s* pHashHeads,
                                                  Kel32u hashTableSize, Kel16u* pPendingBits, Kel32u* pPendingCount,
                                                  Kel8u* pDst, Kel32u dstLen, Kel32u* pDstPos,
                                                  const DeflateCodeEntry* pLitLenCodes,
                                                  const DeflateCodeEntry* pDistCodes, Kel32u flushMode) {
    return n8_fastestEncode(pSrcPtr, pSrcLen, pSrcPos, pHistoryEnd, windowSize, pHashHeads, hashTableSize, pPendingBits,
                            pPendingCount, pDst, dstLen, pDstPos, pLitLenCodes, pDistCodes, nullptr, 0, flushMode);
}
