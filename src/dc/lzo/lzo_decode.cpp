// src/dc/lzo/lzo_decode.cpp - the LZO1X decoder, checking every read and write against the caller's buffers.
//
// An instruction's meaning below 16 depends on what came before it, so the decoder keeps one of three states:
// kLiteral (at the start, or after a match whose tail was 0: a byte below 16 opens a literal run), kAfterRun (after
// a run of 4 or more literals: a byte below 16 is a 3-byte match 2049 or more back) and kAfterTail (after a match
// with a tail of 1 to 3 literals: a byte below 16 is a 2-byte match). Bytes of 16 and above mean the same in
// every state. All bounds are checked once per instruction, before its bytes move; the copies then run with
// 8- and 16-byte moves where the margins allow, which keeps the checks cheap.
//
// One parser serves three uses, chosen at compile time so that each loop carries only its own work: decoding into
// a buffer of known capacity, decoding trusted data whose size the caller vouches for (no byte is written past the
// last one the stream produces), and scanning a stream without writing it, which the container test relies on.
#include <string.h>

#include "dc/lzo/lzo_internal.h"

namespace {

enum class LzoState { kLiteral, kAfterRun, kAfterTail };

enum class LzoOutput {
    kCapacity,  // writes into dst[0, cap); moves may run past the end of an item while they stay below cap
    kExact,     // writes into dst, never past the stream's own last byte: the caller knows only that size
    kNone,      // writes nothing; distances and lengths are still checked against the output it would produce
};

// Reads a run or length extension: each zero byte adds 255, the first non-zero byte adds its value. Returns false
// if the source ends first. The count of zero bytes is bounded by the source length, so the sum fits in 64 bits.
inline bool n8_readExtension(const Kel8u*& ip, const Kel8u* ipEnd, Kel64u& value) {
    Kel64u sum = 0;
    while (ip < ipEnd && *ip == 0) {
        sum += 255;
        ++ip;
    }
    if (ip >= ipEnd) return false;
    value = sum + *ip++;
    return true;
}

// Copies len literals; both ranges were checked by the caller. With kCapacity, short runs (the common case) move
// as one 16-byte block when both buffers have that much room left.
template <LzoOutput kOut>
inline void n8_copyLiterals(Kel8u* op, const Kel8u* ip, Kel64u len, const Kel8u* ipEnd, const Kel8u* opEnd) {
    if (kOut == LzoOutput::kCapacity && len <= 16 && ipEnd - ip >= 16 && opEnd - op >= 16) {
        memcpy(op, ip, 16);
        return;
    }
    memcpy(op, ip, len);
}

// Copies a match of len bytes from dist back; ranges checked by the caller. Overlapping matches (dist < len)
// repeat their period, so they are copied forwards in steps no longer than dist.
template <LzoOutput kOut>
inline void n8_copyMatch(Kel8u* op, Kel32u dist, Kel64u len, const Kel8u* opEnd) {
    const Kel8u* from = op - dist;
    if (kOut == LzoOutput::kCapacity && dist >= 8 && static_cast<Kel64u>(opEnd - op) >= len + 8) {
        // Word copies may write up to 7 bytes past the match, inside the destination; later output overwrites them.
        Kel8u* const end = op + len;
        do {
            Kel64u w;
            memcpy(&w, from, 8);
            memcpy(op, &w, 8);
            op += 8;
            from += 8;
        } while (op < end);
        return;
    }
    if (kOut == LzoOutput::kExact && dist >= 8) {
        // Whole words while 8 or more bytes remain, then the rest byte by byte: nothing lands past the match.
        Kel64u k = 0;
        for (; k + 8 <= len; k += 8) {
            Kel64u w;
            memcpy(&w, from + k, 8);
            memcpy(op + k, &w, 8);
        }
        for (; k < len; ++k) op[k] = from[k];
        return;
    }
    for (Kel64u k = 0; k < len; ++k) op[k] = from[k];
}

// The parser. pos counts the output bytes produced so far; every instruction is checked against src[0, srcLen)
// and against the room left, cap - pos, before it moves anything. cap is at most 2^32 - 1 in every mode, so pos
// and each run or match length (bounded by the source length times 255) stay far below 2^64.
template <LzoOutput kOut>
KelStatus n8_parseLzo1x(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel64u cap, Kel32u* pOut, Kel32u* pUsed) {
    const Kel8u* ip = src;
    const Kel8u* const ipEnd = src + srcLen;
    Kel64u pos = 0;
    // Only kCapacity moves past the end of an item, and only below dst + cap, so opEnd is formed only there.
    const Kel8u* const opEnd = kOut == LzoOutput::kCapacity ? dst + cap : nullptr;
    KelStatus status = kelStatusLZOBrokenStream;
    LzoState state = LzoState::kLiteral;

    if (ip >= ipEnd) goto done;
    if (*ip > 17) {
        // A first byte above 17 is a run of t - 17 literals. 16 and 17 are ordinary long-distance instructions
        // (at the start of the output only their end-marker form is valid), so the loop below reads them.
        const Kel32u t = *ip++;
        const Kel64u run = t - 17;
        if (static_cast<Kel64u>(ipEnd - ip) < run || cap - pos < run) goto done;
        if (kOut != LzoOutput::kNone) n8_copyLiterals<kOut>(dst + pos, ip, run, ipEnd, opEnd);
        pos += run;
        ip += run;
        state = run < 4 ? LzoState::kAfterTail : LzoState::kAfterRun;
    }

    for (;;) {
        if (ip >= ipEnd) goto done;
        const Kel32u t = *ip++;
        Kel64u len;
        Kel32u dist;
        Kel32u tail;
        if (t < 16) {
            if (state == LzoState::kLiteral) {
                Kel64u run;
                if (t == 0) {
                    if (!n8_readExtension(ip, ipEnd, run)) goto done;
                    run += 18;
                } else {
                    run = t + 3;
                }
                if (static_cast<Kel64u>(ipEnd - ip) < run || cap - pos < run) goto done;
                if (kOut != LzoOutput::kNone) n8_copyLiterals<kOut>(dst + pos, ip, run, ipEnd, opEnd);
                pos += run;
                ip += run;
                state = LzoState::kAfterRun;
                continue;
            }
            if (ip >= ipEnd) goto done;
            const Kel32u next = *ip++;
            if (state == LzoState::kAfterRun) {
                len = 3;
                dist = 2049 + (t >> 2) + (next << 2);
            } else {
                len = 2;
                dist = 1 + (t >> 2) + (next << 2);
            }
            tail = t & 3;
        } else if (t >= 64) {
            if (ip >= ipEnd) goto done;
            len = (t >> 5) + 1;
            dist = 1 + ((t >> 2) & 7) + (Kel32u(*ip++) << 3);
            tail = t & 3;
        } else {
            if (t >= 32) {
                len = t & 31;
                if (len == 0) {
                    if (!n8_readExtension(ip, ipEnd, len)) goto done;
                    len += 31;
                }
                len += 2;
            } else {
                len = t & 7;
                if (len == 0) {
                    if (!n8_readExtension(ip, ipEnd, len)) goto done;
                    len += 7;
                }
                len += 2;
            }
            if (ipEnd - ip < 2) goto done;
            const Kel32u d16 = ip[0] | (Kel32u(ip[1]) << 8);
            ip += 2;
            tail = d16 & 3;
            if (t >= 32) {
                dist = 1 + (d16 >> 2);
            } else {
                dist = 16384 + ((t & 8) << 11) + (d16 >> 2);
                if (dist == 16384) {
                    // The end marker, whatever its length field and tail bits say: neither is acted on.
                    status = kelStatusOk;
                    goto done;
                }
            }
        }
        if (dist > pos || cap - pos < len + tail || static_cast<Kel32u>(ipEnd - ip) < tail) goto done;
        if (kOut != LzoOutput::kNone) {
            Kel8u* const op = dst + pos;
            n8_copyMatch<kOut>(op, dist, len, opEnd);
            for (Kel32u k = 0; k < tail; ++k) op[len + k] = ip[k];
        }
        pos += len + tail;
        ip += tail;
        state = tail ? LzoState::kAfterTail : LzoState::kLiteral;
    }

done:
    *pOut = static_cast<Kel32u>(pos);
    *pUsed = static_cast<Kel32u>(ip - src);
    return status;
}

// The largest output any call can report: lengths are 32-bit.
constexpr Kel64u kLzoMaxOutput = 0xFFFFFFFFu;

}  // namespace

KelStatus n8_ownDecodeLZO1X(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u cap, Kel32u* pOut, Kel32u* pUsed) {
    return n8_parseLzo1x<LzoOutput::kCapacity>(src, srcLen, dst, cap, pOut, pUsed);
}

KelStatus n8_ownDecodeLZO1XExact(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u* pOut, Kel32u* pUsed) {
    return n8_parseLzo1x<LzoOutput::kExact>(src, srcLen, dst, kLzoMaxOutput, pOut, pUsed);
}

KelStatus n8_ownScanLZO1X(const Kel8u* src, Kel32u srcLen, Kel32u* pOut, Kel32u* pUsed) {
    return n8_parseLzo1x<LzoOutput::kNone>(src, srcLen, nullptr, kLzoMaxOutput, pOut, pUsed);
}
