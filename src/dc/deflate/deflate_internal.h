// src/dc/deflate/deflate_internal.h - kernels of the Deflate encoder stages and the job block they share.
//
// The exported functions check their arguments, rebase positions and fill an Lz77Job; the matcher kernels then run
// without further checks. Each matcher exists twice: `n8_owns..._8u` compares match candidates 16 bytes at a time,
// the `_ref` twin byte by byte. Both produce identical items, counts and hash tables.
#pragma once

#include "keldc.h"

namespace kel::deflate {

// ---- Positions ------------------------------------------------------------------------------------------------
// Every entry that reads or writes a head table starts the same way: it decides whether the stream's positions
// shift down (n8_needsRebase), shifts the tables, and cuts the source to what keeps its positions at or below
// kPosLimit (n8_usableLength). The kernels may then form pos + 258 or end + 3 freely.
//
// The shift rule is the documented one: s > windowSize and 0x7FFFFFFF - len <= s + windowSize + len, in unsigned
// 32-bit arithmetic. When it does not fire (for a position below 2^31 and a non-negative length), s + 2 len +
// windowSize stays below 0x7FFFFFFF, so the call's end is at most 0x7FFFFFFF - 257 - len: the cut below never
// applies to such a call, and every call with input makes progress. After a shift s is windowSize, and only a
// source of nearly 2 GiB in one call is cut (the rest is consumed by the next calls).

inline constexpr Kel32u kPosLimit = 0x7FFFFFFFu - 258;

// Whether positions shift down before a call at s with len bytes. Besides the documented rule, a position at or
// beyond 2^31 (which no stream reaches, but a caller may pass) shifts too: the rule, evaluated modulo 2^32, can
// miss it.
inline bool n8_needsRebase(Kel32u s, Kel32s len, Kel32u windowSize) {
    if (s <= windowSize) return false;
    return 0x7FFFFFFFu - Kel32u(len) <= s + windowSize + Kel32u(len) || s > 0x7FFFFFFFu;
}

// The bytes of a call at s (at most 0x7FFFFFFF) that keep its positions at or below kPosLimit: a negative length
// counts as 0, a longer source is cut and its rest stays unconsumed.
inline Kel32s n8_usableLength(Kel32u s, Kel32s len) {
    if (len <= 0) return 0;
    const Kel64s room = Kel64s(kPosLimit) - Kel64s(s);
    if (Kel64s(len) > room) return room > 0 ? Kel32s(room) : 0;
    return len;
}

// Shifts table entries down by delta; entries below -32768 count as -32768 and nothing falls below it, so empty
// entries stay empty and no entry wraps.
inline void n8_rebaseTable(Kel32s* table, Kel32u n, Kel32s delta) {
    constexpr Kel32s kFloor = -32768;
    for (Kel32u i = 0; i < n; ++i) {
        const Kel64s e = table[i] < kFloor ? kFloor : table[i];
        const Kel64s moved = e - delta;
        table[i] = moved < kFloor ? kFloor : Kel32s(moved);
    }
}

// One call of a matcher with its arguments resolved. Positions are stream positions (signed, see keldc.h); the
// byte of position i is src[i - s] for i >= s and hist[i - s] below s.
struct Lz77Job {
    const Kel8u* src;   // byte of position s
    const Kel8u* hist;  // just past the history; equal to src when history and source are contiguous
    Kel32s s;           // position of src[0]
    Kel32s len;         // source bytes available, 0 to kPosLimit - s (so no position arithmetic overflows)
    Kel32s origLen;     // the caller's length, for the one bound that depends on it exactly
    Kel32s windowSize;  // 256 to 32768, a power of two
    Kel32u hashMask;    // hash table size minus 1
    Kel32s* heads;
    Kel32s* chain;
    DeflateCodeEntry* litLenCodes;
    DeflateCodeEntry* distCodes;
    Kel8u* litLenOut;
    Kel16u* distOut;
    Kel32s capacity;  // items that fit in litLenOut/distOut (may be 0 or negative: then nothing is produced)
    DeflateMatchParams params;
    bool flushAll;  // the input ends with this call: consume everything
    // Results.
    Kel32s consumed;  // bytes turned into items
    Kel32s items;     // items written
};

// Greedy matcher: maxChain 0 runs the single-candidate 3-byte mode, otherwise the 4-byte hash-chain mode.
// Preconditions: every pointer valid for the ranges the job describes, params validated, windowSize and hash size
// powers of two in range; the history holds at least min(s, windowSize) bytes when hist != src. Reads source
// bytes s to s + len - 1 only, history bytes only at positions the hash tables offer, writes at most capacity
// items and the hash tables.
void n8_ownsDeflateLZ77Greedy_8u(Lz77Job& job);
void n8_ownsDeflateLZ77Greedy_8u_ref(Lz77Job& job);

// Lazy matcher (maxChain >= 1). Same contract as the greedy matcher.
void n8_ownsDeflateLZ77Lazy_8u(Lz77Job& job);
void n8_ownsDeflateLZ77Lazy_8u_ref(Lz77Job& job);

// Number of equal leading bytes of a and b, at most maxLen (0 to 258). Reads a[0..maxLen) and b[0..maxLen) only.
Kel32s n8_ownsDeflateMatchLen_8u(const Kel8u* a, const Kel8u* b, Kel32s maxLen);
Kel32s n8_ownsDeflateMatchLen_8u_ref(const Kel8u* a, const Kel8u* b, Kel32s maxLen);

}  // namespace kel::deflate
