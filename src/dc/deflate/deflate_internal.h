// src/dc/deflate/deflate_internal.h - kernels of the Deflate encoder stages and the job block they share.
//
// The exported functions check their arguments, rebase positions and fill an Lz77Job; the matcher kernels then run
// without further checks. Each matcher exists twice: `n8_owns..._8u` compares match candidates 16 bytes at a time,
// the `_ref` twin byte by byte. Both produce identical items, counts and hash tables.
#pragma once

#include "keldc.h"

namespace kel::deflate {

// One call of a matcher with its arguments resolved. Positions are stream positions (signed, see keldc.h); the
// byte of position i is src[i - s] for i >= s and hist[i - s] below s.
struct Lz77Job {
    const Kel8u* src;   // byte of position s
    const Kel8u* hist;  // just past the history; equal to src when history and source are contiguous
    Kel32s s;           // position of src[0]
    Kel32s len;         // source bytes available, 0 to 0x7FFFFFFF - s - 65536 (so no position arithmetic overflows)
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
