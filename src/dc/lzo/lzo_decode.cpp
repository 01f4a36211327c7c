// src/dc/lzo/lzo_decode.cpp - the LZO1X decoder, checking every read and write against the caller's buffers.
//
// An instruction's meaning below 16 depends on what came before it, so the decoder keeps one of three states:
// kLiteral (at the start, or after a match whose tail was 0: a byte below 16 opens a literal run), kAfterRun (after
// a run of 4 or more literals: a byte below 16 is a 3-byte match 2049 or more back) and kAfterTail (after a match
// with a tail of 1 to 3 literals: a byte below 16 is a 2-byte match). Bytes of 16 and above mean the same in
// every state. All bounds are checked once per instruction, before its bytes move; the copies then run with
// 8- and 16-byte moves where the margins allow, which keeps the checks cheap.
#include <string.h>

#include "dc/lzo/lzo_internal.h"

namespace {

enum class LzoState { kLiteral, kAfterRun, kAfterTail };

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

// Copies len literals; both ranges were checked by the caller. Short runs (the common case) move as one or two
// 16-byte blocks when both buffers have that much room left.
inline void n8_copyLiterals(Kel8u* op, const Kel8u* ip, Kel64u len, const Kel8u* ipEnd, const Kel8u* opEnd) {
    if (len <= 16 && ipEnd - ip >= 16 && opEnd - op >= 16) {
        memcpy(op, ip, 16);
        return;
    }
    memcpy(op, ip, len);
}

// Copies a match of len bytes from dist back; ranges checked by the caller. Overlapping matches (dist < len)
// repeat their period, so they are copied forwards in steps no longer than dist.
inline void n8_copyMatch(Kel8u* op, Kel32u dist, Kel64u len, const Kel8u* opEnd) {
    const Kel8u* from = op - dist;
    if (dist >= 8 && static_cast<Kel64u>(opEnd - op) >= len + 8) {
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
    for (Kel64u k = 0; k < len; ++k) op[k] = from[k];
}

}  // namespace

KelStatus n8_ownDecodeLZO1X(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u cap, Kel32u* pOut) {
    const Kel8u* ip = src;
    const Kel8u* const ipEnd = src + srcLen;
    Kel8u* op = dst;
    Kel8u* const opEnd = dst + cap;
    KelStatus status = kelStatusLZOBrokenStream;
    LzoState state = LzoState::kLiteral;

    if (ip >= ipEnd) goto done;
    if (*ip >= 16) {
        // First instruction: t - 17 literals (none for 16 and 17).
        const Kel32u t = *ip++;
        const Kel64u run = t > 17 ? t - 17 : 0;
        if (static_cast<Kel64u>(ipEnd - ip) < run || static_cast<Kel64u>(opEnd - op) < run) goto done;
        n8_copyLiterals(op, ip, run, ipEnd, opEnd);
        op += run;
        ip += run;
        state = run == 0 ? LzoState::kLiteral : run < 4 ? LzoState::kAfterTail : LzoState::kAfterRun;
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
                if (static_cast<Kel64u>(ipEnd - ip) < run || static_cast<Kel64u>(opEnd - op) < run) goto done;
                n8_copyLiterals(op, ip, run, ipEnd, opEnd);
                op += run;
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
                    status = kelStatusOk;  // end marker
                    goto done;
                }
            }
        }
        if (dist > static_cast<Kel64u>(op - dst) || static_cast<Kel64u>(opEnd - op) < len + tail ||
            static_cast<Kel32u>(ipEnd - ip) < tail) {
            goto done;
        }
        n8_copyMatch(op, dist, len, opEnd);
        op += len;
        for (Kel32u k = 0; k < tail; ++k) op[k] = ip[k];
        op += tail;
        ip += tail;
        state = tail ? LzoState::kAfterTail : LzoState::kLiteral;
    }

done:
    *pOut = static_cast<Kel32u>(op - dst);
    return status;
}
