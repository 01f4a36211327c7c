// src/dc/lzo/lzo_encode.cpp - the LZO1X encoder: one hash probe (two for far candidates) per position, greedy.
//
// Positions from 4 up to n - 14 are hashed over their first four bytes into a 16384-entry table of the latest
// position seen with that hash. A candidate is usable when it lies 1 to 49151 bytes back; a far candidate (over
// 2048 back) whose fourth byte already differs is swapped for a second table slot, which a far match must fill
// exactly. The first match of at least 3 bytes is taken; positions inside a match are not entered, which keeps
// the encoder fast at a small cost in ratio. The last 13 bytes are never the start of a match, so the match
// length loop may read 8-byte words up to the end of the source.
#include <string.h>

#include "dc/lzo/lzo_internal.h"
#include "dc/lzo/lzo_rand_vec.h"

namespace {

constexpr Kel32u kEmpty = 0xFFFFFFFFu;  // no position: fails the range test for every i
constexpr Kel32u kMaxDistance = 49151;  // 16384 + 32767, the reach of the long-distance form
constexpr Kel32u kM2MaxDistance = 2048;  // reach of the two-byte match form
constexpr Kel32u kM3MaxDistance = 16384;
constexpr Kel32u kTailMargin = 13;

inline Kel32u n8_load32(const Kel8u* p) {
    Kel32u v;
    memcpy(&v, p, 4);
    return v;
}

// The hash of the four bytes of a little-endian word.
inline Kel32u n8_hash4(Kel32u w) {
    return (kLzoRandVec.v[w & 0xFF] ^ kLzoRandVec.v[256 + ((w >> 8) & 0xFF)] ^ kLzoRandVec.v[512 + ((w >> 16) & 0xFF)] ^
            kLzoRandVec.v[768 + (w >> 24)]) &
           (kLzoHashSize - 1);
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

// Writes t pending literals. A run of 1 to 3 goes into the tail field (low two bits) of the previous match's last
// distance byte, two bytes back; the encoder guarantees a match precedes such a run.
inline Kel8u* n8_putLiterals(Kel8u* op, const Kel8u* lit, Kel32u t) {
    if (t == 0) return op;
    if (t < 4) {
        op[-2] = static_cast<Kel8u>(op[-2] | t);
    } else if (t <= 18) {
        *op++ = static_cast<Kel8u>(t - 3);
    } else {
        *op++ = 0;
        op = n8_putExtension(op, t - 18);
    }
    memcpy(op, lit, t);
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

}  // namespace

Kel32u n8_ownEncodeLZO1X(const Kel8u* src, Kel32u n, Kel8u* dst, LzoEncoderState* state) {
    Kel32u* table = state->table;
    for (Kel32u k = 0; k < kLzoHashSize; ++k) table[k] = kEmpty;

    Kel8u* op = dst;
    Kel32u litStart = 0;
    if (n > kTailMargin) {
        const Kel32u end = n - kTailMargin;
        Kel32u i = 4;
        while (i < end) {
            // The tests run on whole words and combine without branches, leaving one unpredictable branch per
            // position. A candidate matches when its first three bytes equal ours (a length of at least 3), and
            // a far one must match the fourth byte as well, or the second slot is tried instead.
            const Kel8u* ip = src + i;
            const Kel32u word = n8_load32(ip);
            const Kel32u slot = n8_hash4(word);
            const Kel32u cand = table[slot];
            table[slot] = i;
            const Kel32u dist = i - cand;  // huge for kEmpty, which is never below end
            const bool inRange = (cand < end) & (dist - 1 < kMaxDistance);
            const Kel32u diff = n8_load32(src + (inRange ? cand : i)) ^ word;
            const bool far = dist > kM2MaxDistance;
            const bool fourthDiffers = (diff >> 24) != 0;
            Kel32u matchPos = cand;
            if (!(inRange & ((diff & 0xFFFFFF) == 0) & !(far & fourthDiffers))) {
                if (!(inRange & far & fourthDiffers)) {
                    ++i;
                    continue;
                }
                // Second probe: the first slot keeps its old position, the second one gets ours.
                table[slot] = cand;
                const Kel32u slot2 = (slot & 0x7FF) ^ 0x201F;
                const Kel32u cand2 = table[slot2];
                table[slot2] = i;
                const Kel32u dist2 = i - cand2;
                if (cand2 >= end || dist2 - 1 >= kMaxDistance || n8_load32(src + cand2) != word) {
                    ++i;
                    continue;
                }
                matchPos = cand2;
            }
            // Three bytes are known equal; when the fourth is too, the rest is measured a word at a time.
            const Kel32u len = matchPos == cand && fourthDiffers
                                   ? 3
                                   : 4 + n8_matchLength(src + matchPos + 4, ip + 4, n - i - 4);
            op = n8_putLiterals(op, src + litStart, i - litStart);
            op = n8_putMatch(op, len, i - matchPos);
            i += len;
            litStart = i;
        }
    }

    const Kel32u t = n - litStart;
    if (op == dst && t <= 238) {
        *op++ = static_cast<Kel8u>(17 + t);
        memcpy(op, src, t);
        op += t;
    } else {
        op = n8_putLiterals(op, src + litStart, t);
    }
    *op++ = 17;
    *op++ = 0;
    *op++ = 0;
    return static_cast<Kel32u>(op - dst);
}
