// src/dc/lzo/lzo_encode.cpp - the LZO1X encoder: one hash probe (two for far candidates) per position, greedy.
//
// Positions from 4 up to n - 14 are hashed over their first four bytes into a 16384-entry table of the latest
// position seen with that hash. A candidate is usable when it lies 1 to 49151 bytes back; a far candidate (over
// 2048 back) whose fourth byte already differs is swapped for a second table slot, which a far match must fill
// exactly. The first match of at least 3 bytes is taken; positions inside a match are not entered, which keeps
// the encoder fast at a small cost in ratio. The last 13 bytes are never the start of a match, so the match
// length loop may read 8-byte words up to the end of the source.
//
// Every position must be examined (there is no skipping through incompressible stretches), so the cost per
// position is what counts: the hash rolls forward with one table load per position, the table holds 16-bit
// offsets from a moving window start so that it stays in the first-level cache and a candidate is one addition
// away from its entry, the first eight bytes compared decide most match lengths at once, and literals move in
// 16-byte blocks into the slack that the worst-case destination size leaves.
#include <emmintrin.h>
#include <string.h>

#include "dc/lzo/lzo_internal.h"
#include "dc/lzo/lzo_rand_vec.h"

namespace {

constexpr Kel32u kMaxDistance = 49151;   // 16384 + 32767, the reach of the long-distance form
constexpr Kel32u kM2MaxDistance = 2048;  // reach of the two-byte match form
constexpr Kel32u kM3MaxDistance = 16384;
constexpr Kel32u kTailMargin = 13;

inline Kel32u n8_load32(const Kel8u* p) {
    Kel32u v;
    memcpy(&v, p, 4);
    return v;
}

// The hash rows packed per byte value: lane k (bits 16k to 16k + 15) of kHashLanes.q[b] is row 3 - k of
// kLzoRandVec at b. The hash of position i is the XOR of row j at s[i + j] for j = 0 to 3, so a byte enters the
// hashes of four consecutive positions, with rows 3, 2, 1 and 0 in turn. A 64-bit accumulator that takes
// q[s[i + 3]] and shifts down by one lane per position therefore holds the full hash of position i in its low
// lane (the rows are 15-bit, so lanes never carry into each other) and the partial hashes of the next three
// positions above it: one table load per position instead of four.
struct LzoHashLanes {
    Kel64u q[256];
};

constexpr LzoHashLanes n8_makeHashLanes() {
    LzoHashLanes t{};
    for (int b = 0; b < 256; ++b) {
        for (int k = 0; k < 4; ++k) t.q[b] |= Kel64u(kLzoRandVec.v[(3 - k) * 256 + b]) << (16 * k);
    }
    return t;
}

inline constexpr LzoHashLanes kHashLanes = n8_makeHashLanes();

// The accumulator for position p from scratch, as if the four bytes at p had been shifted in one by one.
inline Kel64u n8_hashLanesAt(const Kel8u* p) {
    const Kel32u w = n8_load32(p);
    return (kHashLanes.q[w & 0xFF] >> 48) ^ (kHashLanes.q[(w >> 8) & 0xFF] >> 32) ^
           (kHashLanes.q[(w >> 16) & 0xFF] >> 16) ^ kHashLanes.q[w >> 24];
}

inline Kel64u n8_load64(const Kel8u* p) {
    Kel64u v;
    memcpy(&v, p, 8);
    return v;
}

// Length of the common prefix of a and b (a < b), at most maxLen.
inline Kel32u n8_matchLength(const Kel8u* a, const Kel8u* b, Kel32u maxLen) {
    Kel32u len = 0;
    while (len + 8 <= maxLen) {
        const Kel64u diff = n8_load64(a + len) ^ n8_load64(b + len);
        if (diff) return len + (static_cast<Kel32u>(__builtin_ctzll(diff)) >> 3);
        len += 8;
    }
    while (len < maxLen && a[len] == b[len]) ++len;
    return len;
}

// Writes the extension of a run or length: one zero byte per 255, then the remainder (1 to 255).
inline Kel8u* n8_putExtension(Kel8u* op, Kel32u x) {
    while (x > 255) {
        *op++ = 0;
        x -= 255;
    }
    *op++ = static_cast<Kel8u>(x);
    return op;
}

// Writes the header of a run of t >= 4 literals: t - 3 in one byte up to 18, else 0 and the extension of t - 18.
inline Kel8u* n8_putRunHeader(Kel8u* op, Kel32u t) {
    if (t <= 18) {
        *op++ = static_cast<Kel8u>(t - 3);
        return op;
    }
    *op++ = 0;
    return n8_putExtension(op, t - 18);
}

// Writes t pending literals, exactly: no byte outside op[-2, t + header) is written and none outside lit[0, t) is
// read. A run of 1 to 3 goes into the tail field (low two bits) of the previous match's last distance byte, two
// bytes back; the encoder guarantees a match precedes such a run. Used where no slack is known (the final run).
inline Kel8u* n8_putLiteralsExact(Kel8u* op, const Kel8u* lit, Kel32u t) {
    if (t == 0) return op;
    if (t < 4) {
        op[-2] = static_cast<Kel8u>(op[-2] | t);
    } else {
        op = n8_putRunHeader(op, t);
    }
    memcpy(op, lit, t);
    return op + t;
}

// Writes the t literals that precede a match at position i of the main loop (i < n - 13), in 16-byte moves that
// may run up to 15 bytes past the run in the destination; the match written next overwrites what lies beyond.
//
// Reads: lit + t is position i, so a 16-byte move of a run of 4 to 16 reads below i + 12 < n; longer runs move
// whole 16-byte blocks and finish with one block that ends exactly at i. A run of 1 to 3 moves 4 bytes, below
// i + 3 < n.
//
// Writes: the stream up to a match at position p never exceeds p + p / 16 bytes. A literal run of up to 18 costs
// one header byte and a longer one 1 + ceil((t - 18) / 255) <= t / 16 + 1, and each run is followed by a match of
// length L written in at most L - 1 bytes (3 bytes reach only 2048 back, in 2 bytes; farther matches hold at least
// 4 bytes and take 3, plus one byte per 255 of length beyond 9 or 33), which pays for the header's extra byte. So
// a move that ends 15 bytes past a run ending at i stays below i + i / 16 + 16 < n + n / 16 + 67, the room the
// caller provides.
inline Kel8u* n8_putLiteralsFast(Kel8u* op, const Kel8u* lit, Kel32u t) {
    if (t < 4) {
        // No test for an empty run, the commonest case between matches: it ORs 0 into the byte and moves
        // bytes that the match overwrites. Only the first run follows no match, and it holds at least 4 literals.
        op[-2] = static_cast<Kel8u>(op[-2] | t);
        memcpy(op, lit, 4);
        return op + t;
    }
    if (t <= 16) {
        *op++ = static_cast<Kel8u>(t - 3);
        memcpy(op, lit, 16);
        return op + t;
    }
    op = n8_putRunHeader(op, t);
    for (Kel32u k = 0; k + 16 < t; k += 16) memcpy(op + k, lit + k, 16);
    memcpy(op + t - 16, lit + t - 16, 16);
    return op + t;
}

inline Kel8u* n8_putMatch(Kel8u* op, Kel32u len, Kel32u dist) {
    if (len <= 8 && dist <= kM2MaxDistance) {
        const Kel32u d = dist - 1;
        *op++ = static_cast<Kel8u>(((len - 1) << 5) | ((d & 7) << 2));
        *op++ = static_cast<Kel8u>(d >> 3);
        return op;
    }
    Kel32u d16;
    if (dist <= kM3MaxDistance) {
        if (len <= 33) {
            *op++ = static_cast<Kel8u>(32 | (len - 2));
        } else {
            *op++ = 32;
            op = n8_putExtension(op, len - 33);
        }
        d16 = (dist - 1) << 2;
    } else {
        const Kel32u d = dist - 16384;
        const Kel32u high = (d & 0x4000) >> 11;
        if (len <= 9) {
            *op++ = static_cast<Kel8u>(16 | high | (len - 2));
        } else {
            *op++ = static_cast<Kel8u>(16 | high);
            op = n8_putExtension(op, len - 9);
        }
        d16 = (d << 2) & 0xFFFF;
    }
    *op++ = static_cast<Kel8u>(d16);
    *op++ = static_cast<Kel8u>(d16 >> 8);
    return op;
}

// The pending literals and the match after them.
inline Kel8u* n8_putSequence(Kel8u* op, const Kel8u* lit, Kel32u t, Kel32u len, Kel32u dist) {
    return n8_putMatch(n8_putLiteralsFast(op, lit, t), len, dist);
}

// The table holds each position as its offset from a window start, in 16 bits, so that a candidate lies at the
// window's base pointer plus the entry (no distance arithmetic between the table load and the candidate load)
// and the distance is the scan offset minus the entry. The window starts 49152 bytes before the scan position
// where it was last moved, just out of reach, and moves at least every 16384 positions, so offsets stay within
// 16 bits. An entry of 0 then names the window start, which the range test always rejects: it serves as the empty
// entry, and a move is one saturating subtraction per entry (every entry that falls out of reach becomes 0).
// Until the scan is 49152 bytes in, the window starts at the source's start, where offset 0 is a real position;
// there the empty entry is 65535, beyond every position scanned, and the first move to a later start turns it
// into 0. The table takes 32 KiB instead of 64, which keeps it in the first-level cache beside the source.
constexpr Kel32u kRebaseInterval = 16384;
constexpr Kel32u kWindowLag = kMaxDistance + 1;
constexpr Kel16u kEmptyAtSourceStart = 0xFFFF;

// Shifts the entries down by `by` for a window start moved that far, from a start past the source's start.
__attribute__((noinline)) void n8_shiftTable(Kel16u* table, Kel32u by) {
    if (by > 0xFFFF) {
        for (Kel32u k = 0; k < kLzoHashSize; ++k) table[k] = 0;
        return;
    }
    // One saturating subtraction per 8 entries (the compiler makes a compare and a select of the plain form).
    const __m128i by16 = _mm_set1_epi16(static_cast<short>(by));
    for (Kel32u k = 0; k < kLzoHashSize; k += 8) {
        __m128i* p = reinterpret_cast<__m128i*>(table + k);
        _mm_storeu_si128(p, _mm_subs_epu16(_mm_loadu_si128(p), by16));
    }
}

// The same from the source's start, where the empty entry is 65535.
__attribute__((noinline)) void n8_shiftTableFromSourceStart(Kel16u* table, Kel32u by) {
    const Kel16u by16 = static_cast<Kel16u>(by);  // below 65536: the old start is 0 and the new one below 65536
    for (Kel32u k = 0; k < kLzoHashSize; ++k) {
        const Kel16u e = table[k];
        table[k] = static_cast<Kel16u>(e > by16 && e != kEmptyAtSourceStart ? e - by16 : 0);
    }
}

// The scan's window: positions are offsets from start, base is the source at start, and the scan stops at
// offset limit for the next move or at offset end (the end of the scan), whichever comes first.
struct LzoWindow {
    Kel32u start;
    const Kel8u* base;
    Kel32u end;
    Kel32u limit;
};

// Where a scan from offset r must stop for the next window move or the end, whichever comes first.
inline Kel32u n8_scanLimit(Kel32u r, Kel32u end) {
    return end - r > kRebaseInterval ? r + kRebaseInterval : end;
}

// Moves the window for a scan that resumes at offset r, so that it starts just out of reach, and returns r as an
// offset from the new start.
inline Kel32u n8_moveWindow(Kel16u* table, const Kel8u* src, Kel32u scanEnd, LzoWindow* w, Kel32u r) {
    const Kel32u to = w->start + r;
    const Kel32u next = to > kWindowLag ? to - kWindowLag : 0;
    if (w->start != 0) {
        n8_shiftTable(table, next - w->start);
    } else if (next != 0) {
        n8_shiftTableFromSourceStart(table, next);
    }
    w->start = next;
    w->base = src + next;
    w->end = scanEnd - next;
    r = to - next;
    w->limit = n8_scanLimit(r, w->end);
    return r;
}

}  // namespace

Kel32u n8_ownEncodeLZO1X(const Kel8u* src, Kel32u n, Kel8u* dst, LzoEncoderState* state) {
    Kel16u* const table = state->table;
    Kel8u* op = dst;
    const Kel8u* lit = src;
    if (n > kTailMargin + 4) {
        for (Kel32u k = 0; k < kLzoHashSize; ++k) table[k] = kEmptyAtSourceStart;
        const Kel32u scanEnd = n - kTailMargin;
        Kel32u r = 4;
        LzoWindow w = {0, src, scanEnd, n8_scanLimit(r, scanEnd)};
        Kel64u lanes = n8_hashLanesAt(w.base + r);
        for (;;) {
            // A candidate matches when its first three bytes equal ours (a length of at least 3), and a far one
            // must match the fourth byte as well, or the second slot is tried instead. The tests are left to the
            // compiler's branches: a predicted branch lets the candidate load start right after the table load,
            // while masks put their arithmetic between the two; branch-free forms (masked addresses, or both slots
            // probed at every position) ran 5 to 30% slower, on incompressible data too.
            const Kel8u* ip = w.base + r;
            const Kel64u word8 = n8_load64(ip);
            const Kel32u slot = static_cast<Kel32u>(lanes) & (kLzoHashSize - 1);
            const Kel32u stored = table[slot];
            const Kel32u dist = r - stored;
            const bool inRange = dist - 1 < kMaxDistance;
            Kel64u diff8 = n8_load64(inRange ? w.base + stored : ip) ^ word8;
            const bool fourthDiffers = (static_cast<Kel32u>(diff8) >> 24) != 0;
            const bool secondProbe = inRange & (dist > kM2MaxDistance) & fourthDiffers;
            // The first slot takes our position, except when the second slot is probed: then it keeps its own.
            table[slot] = static_cast<Kel16u>(secondProbe ? stored : r);
            Kel32u matchDist = dist;
            if (!(inRange & ((diff8 & 0xFFFFFF) == 0) & !secondProbe)) {
                bool found = false;
                if (secondProbe) {
                    const Kel32u slot2 = (slot & 0x7FF) ^ 0x201F;
                    const Kel32u stored2 = table[slot2];
                    table[slot2] = static_cast<Kel16u>(r);
                    matchDist = r - stored2;
                    found = matchDist - 1 < kMaxDistance &&
                            static_cast<Kel32u>(diff8 = n8_load64(w.base + stored2) ^ word8) == 0;
                }
                if (!found) {
                    if (++r >= w.limit) {
                        if (r >= w.end) break;
                        r = n8_moveWindow(table, src, scanEnd, &w, r);
                    }
                    lanes = (lanes >> 16) ^ kHashLanes.q[ip[4]];
                    continue;
                }
            }
            // The eight bytes compared already give the length of most matches (3 when only the fourth byte
            // differs); past eight, the rest is measured a word at a time. Both positions are below n - 13, so
            // the words lie inside the source.
            const Kel32u len =
                diff8 != 0 ? static_cast<Kel32u>(__builtin_ctzll(diff8)) >> 3
                           : 8 + n8_matchLength(ip - matchDist + 8, ip + 8, static_cast<Kel32u>(src + n - ip) - 8);
            op = n8_putSequence(op, lit, static_cast<Kel32u>(ip - lit), len, matchDist);
            r += len;
            lit = ip + len;
            // Below the limit nothing is due. Past it, either the end is reached or the window moves.
            if (r >= w.limit) {
                if (r >= w.end) break;
                r = n8_moveWindow(table, src, scanEnd, &w, r);
            }
            lanes = n8_hashLanesAt(w.base + r);
        }
    }

    const Kel32u litStart = static_cast<Kel32u>(lit - src);
    const Kel32u t = n - litStart;
    if (op == dst && t <= 238) {
        *op++ = static_cast<Kel8u>(17 + t);
        memcpy(op, src, t);
        op += t;
    } else {
        op = n8_putLiteralsExact(op, src + litStart, t);
    }
    *op++ = 17;
    *op++ = 0;
    *op++ = 0;
    return static_cast<Kel32u>(op - dst);
}
