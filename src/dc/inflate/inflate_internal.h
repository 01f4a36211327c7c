// src/dc/inflate/inflate_internal.h - shared pieces of the Inflate family: constant tables, the table layouts
// inside InflateContext, the bit reader, the history-aware match copy and the two decoding loops.
//
// Two table forms exist. The two-level form (tableKind 0 with the built-in fixed table, 1 with the context's own)
// keeps value bytes and info bytes in separate arrays, 10-bit first levels and 2^(L-10)-entry subtables for
// longer codes. The short form (tableKind 2) is one flat array per alphabet, indexed by maxLitLen / maxDistLen
// bits, used when no code is too long for that to stay small. Both loops run the same sub-state machine
// (inflate_machine.h) and differ only in their lookups and fast kernels.
#pragma once

#include <emmintrin.h>

#include <cstddef>

#include "keldc.h"

namespace kel::inflate {

// ---- Context layout -----------------------------------------------------------------------------------------

constexpr std::size_t kTablesBytes = 7168;
constexpr std::size_t kTwoLevelBytes = 6912;

// Byte offsets inside the two-level table area (tables[]). Value and info bytes of one alphabet live in separate
// arrays so that each first level is a plain 1024-byte array per field.
constexpr std::size_t kLitVal1 = 0;       // 1024 literal/length first-level value bytes
constexpr std::size_t kLitVal2 = 1024;    // 512 second-level value bytes
constexpr std::size_t kLitInfo1 = 1536;   // 1024 first-level info bytes
constexpr std::size_t kLitInfo2 = 2560;   // 512 second-level info bytes
constexpr std::size_t kDistVal1 = 3072;   // 1024 distance first-level 16-bit values
constexpr std::size_t kDistVal2 = 5120;   // 256 second-level 16-bit values
constexpr std::size_t kDistInfo1 = 5632;  // 1024 first-level info bytes
constexpr std::size_t kDistInfo2 = 6656;  // 256 second-level info bytes
constexpr unsigned kLitSub = 512;         // second-level capacity, literal/length
constexpr unsigned kDistSub = 256;        // second-level capacity, distance

// Info-byte kinds of the two-level literal/length table (bits 4-7). Bit 7 marks a length, bits 4-6 then hold
// the extra bits still to be read. kInvalidLit marks codes no valid stream contains (symbols 286, 287, the free
// pattern of a one-code set): it carries the code length so that a short bit buffer still reads "need input".
constexpr unsigned kKindEndOfBlock = 0x60;
constexpr unsigned kInvalidLit = 0x10;
// A distance info byte with this many extra bits (above 13) is an invalid code.
constexpr unsigned kInvalidDist = 0xF0;

// Short-table literal/length entry kinds (bits 4-7 of the 16-bit entry).
constexpr unsigned kShortKindEnd = 0xF;
constexpr unsigned kShortKindInvalid = 0x1;
constexpr unsigned kShortMaxLit = 11;
constexpr unsigned kShortMaxDist = 10;

// Sub-states of the decoder, as saved in resumeState.
enum SubState : unsigned {
    kStateLitLen = 1,
    kStateLenExtra = 2,
    kStateDist = 3,
    kStateDistExtra = 4,
    kStateCopy = 5,
    kStateLiteral = 6,
};

// ---- Constant tables ------------------------------------------------------------------------------------------

// Length symbols 257..285 (index symbol - 256; index 0 unused): ((base - 3) << 8) | 0x80 | (extra << 4).
constexpr Kel16u kLenExtr[30] = {
    0,      0x0080, 0x0180, 0x0280, 0x0380, 0x0480, 0x0580, 0x0680, 0x0780, 0x0890,
    0x0A90, 0x0C90, 0x0E90, 0x10A0, 0x14A0, 0x18A0, 0x1CA0, 0x20B0, 0x28B0, 0x30B0,
    0x38B0, 0x40C0, 0x50C0, 0x60C0, 0x70C0, 0x80D0, 0xA0D0, 0xC0D0, 0xE0D0, 0xFF80,
};

// Distance symbols 0..29: extra bits << 4 and base distance.
struct DistCode {
    Kel8u extra;
    Kel16u base;
};
constexpr DistCode kDistExtr[30] = {
    {0x00, 1},    {0x00, 2},    {0x00, 3},    {0x00, 4},     {0x10, 5},     {0x10, 7},     {0x20, 9},    {0x20, 13},
    {0x30, 17},   {0x30, 25},   {0x40, 33},   {0x40, 49},    {0x50, 65},    {0x50, 97},    {0x60, 129},  {0x60, 193},
    {0x70, 257},  {0x70, 385},  {0x80, 513},  {0x80, 769},   {0x90, 1025},  {0x90, 1537},  {0xA0, 2049}, {0xA0, 3073},
    {0xB0, 4097}, {0xB0, 6145}, {0xC0, 8193}, {0xC0, 12289}, {0xD0, 16385}, {0xD0, 24577},
};

// 2^n - 1 for n = 0..15.
constexpr Kel16u kMaskBits[16] = {0x0000, 0x0001, 0x0003, 0x0007, 0x000F, 0x001F, 0x003F, 0x007F,
                                  0x00FF, 0x01FF, 0x03FF, 0x07FF, 0x0FFF, 0x1FFF, 0x3FFF, 0x7FFF};

// 5-bit reversal: the continuation of a long code after its first 10 bits, turned from stream order into code
// order; a right shift by 15 - L keeps the top L - 10 bits.
constexpr Kel8u kTablofinv[32] = {0, 16, 8, 24, 4, 20, 12, 28, 2, 18, 10, 26, 6, 22, 14, 30,
                                  1, 17, 9, 25, 5, 21, 13, 29, 3, 19, 11, 27, 7, 23, 15, 31};

// The two-level table of the fixed code, 6912 bytes (built at compile time by the same code as dynamic tables).
const Kel8u* n8_fixedHuffmanTable();

// ---- Little-endian access -------------------------------------------------------------------------------------

inline Kel16u n8_load16(const Kel8u* p) {
    return Kel16u(p[0] | (p[1] << 8));
}

inline Kel64u n8_load64(const Kel8u* p) {
    Kel64u v;
    __builtin_memcpy(&v, p, 8);
    return v;
}

inline void n8_store64(Kel8u* p, Kel64u v) {
    __builtin_memcpy(p, &v, 8);
}

inline void n8_copy16(Kel8u* dst, const Kel8u* src) {
    // One unaligned 16-byte load and store: the read happens before the write, so a source that ends where the
    // destination starts is still read intact.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
}

// ---- Call state -----------------------------------------------------------------------------------------------

// Everything one call works on, in locals: the caller's in-out values are read once at entry and written back
// once at the end.
struct Io {
    const Kel8u* src;  // next source byte
    const Kel8u* srcEnd;
    Kel64u bitBuf;  // held bits in the low bitCount bits; the bits above are zero outside the fast kernels
    unsigned bitCount;
    Kel8u* dst;  // next output byte
    Kel8u* dstEnd;
    Kel8u* histStart;  // first valid destination byte: the call's *pDstPtr minus dstPos
    const Kel8u* window;
    Kel32u windowSize;
    Kel32u winPos;
    // The room [dst, dstEnd) overlaps the window: bytes past the output are history that later matches may read
    // (a caller decoding straight into its circular window), so matches must write exactly their own bytes.
    // Decided once per call; otherwise the fast kernels copy in blocks that may run past a match's end.
    bool exactCopies;
};

// Appends one source byte above the held bits, if any is left.
inline bool n8_pullByte(Io& io) {
    if (io.src == io.srcEnd) return false;
    io.bitBuf |= Kel64u(*io.src++) << io.bitCount;
    io.bitCount += 8;
    return true;
}

// Loads to n bits: appends source bytes while fewer than n bits are held and source remains.
inline void n8_loadTo(Io& io, unsigned n) {
    while (io.bitCount < n && n8_pullByte(io)) {
    }
}

// The extra-bit load rule: with at most n bits held, append (n - held + 8) / 8 bytes while the source lasts.
inline void n8_loadExtra(Io& io, unsigned n) {
    if (io.bitCount > n) return;
    for (unsigned k = (n - io.bitCount + 8) / 8; k > 0 && n8_pullByte(io); --k) {
    }
}

inline void n8_consume(Io& io, unsigned n) {
    io.bitBuf >>= n;
    io.bitCount -= n;
}

// Copies len bytes of a back-reference at distance dist to io.dst (len fits the room, checked by the caller),
// taking bytes from the window for the part older than the destination's valid bytes. Returns false when the
// history cannot hold the distance: no window, or further back than windowSize. Never writes past dst + len.
bool n8_copyMatchExact(Io& io, unsigned len, unsigned dist);

// Copies len bytes from dist bytes back inside the destination (the source lies in [histStart, dst)). Byte
// exact: writes dst[0..len) only.
inline void n8_copyBackExact(Kel8u* dst, unsigned dist, unsigned len) {
    const Kel8u* from = dst - dist;
    if (dist >= 8) {
        while (len >= 8) {
            n8_store64(dst, n8_load64(from));
            dst += 8;
            from += 8;
            len -= 8;
        }
    }
    while (len-- > 0) *dst++ = *from++;
}

// For distances 2..7: the smallest multiple of the distance that is at least 8. Output is periodic with the
// distance, so copying from that far back in 8-byte blocks gives the same bytes once that many exist.
constexpr Kel8u kPatternStride[8] = {0, 0, 8, 9, 8, 10, 12, 14};

// Copies a match of len bytes from dist back (dist <= bytes already valid in the destination); the room
// after out + len is at least 16 bytes.
inline void n8_copyMatchWide(Kel8u* out, unsigned dist, unsigned len) {
    Kel8u* o = out;
    Kel8u* const e = out + len;
    const Kel8u* f = out - dist;
    if (dist >= 16) {
        do {
            n8_copy16(o, f);
            o += 16;
            f += 16;
        } while (o < e);
    } else if (dist >= 8) {
        do {
            n8_store64(o, n8_load64(f));
            o += 8;
            f += 8;
        } while (o < e);
    } else if (dist == 1) {
        const Kel64u v = Kel64u(*f) * 0x0101010101010101ull;
        do {
            n8_store64(o, v);
            n8_store64(o + 8, v);
            o += 16;
        } while (o < e);
    } else {
        // Byte copies until one stride of the pattern precedes o, then 8-byte blocks from one stride back.
        const unsigned stride = kPatternStride[dist];
        const unsigned lead = stride - dist;  // at most 7
        for (unsigned i = 0; i < lead; ++i) o[i] = f[i];
        o += lead;
        while (o < e) {
            n8_store64(o, n8_load64(o - stride));
            o += 8;
        }
    }
}

// As n8_copyMatchWide, but writes out[0..len) only: for a room whose bytes past the output are still history.
// Blocks are used where they stay inside the match; a tail of 1..7 bytes after at least 8 takes one 8-byte
// block ending at out + len, which rewrites up to 7 final bytes with the same values (each byte of a match
// equals the byte dist before it, and dist >= 8 keeps that block's source behind the bytes still unwritten).
inline void n8_copyMatchTight(Kel8u* out, unsigned dist, unsigned len) {
    Kel8u* o = out;
    Kel8u* const e = out + len;
    if (dist >= 8) {
        if (dist >= 16) {
            for (; e - o >= 16; o += 16) n8_copy16(o, o - dist);
        }
        for (; e - o >= 8; o += 8) n8_store64(o, n8_load64(o - dist));
        if (o == e) return;
        if (len >= 8) {
            n8_store64(e - 8, n8_load64(e - 8 - dist));
            return;
        }
    } else if (dist == 1) {
        const Kel64u v = Kel64u(o[-1]) * 0x0101010101010101ull;
        for (; e - o >= 8; o += 8) n8_store64(o, v);
    } else if (dist != 0 && len >= 16) {
        // Byte copies until one stride of the pattern precedes o, then 8-byte blocks from one stride back.
        const unsigned stride = kPatternStride[dist];
        for (const Kel8u* lead = out + (stride - dist); o < lead; ++o) *o = *(o - dist);
        for (; e - o >= 8; o += 8) n8_store64(o, n8_load64(o - stride));
    }
    for (; o < e; ++o) *o = *(o - dist);
}

// Bytes a fast loop keeps free past its output pointer while it skips room checks: the longest match plus the
// overrun of n8_copyMatchSlack.
constexpr unsigned kOutSlack = 258 + 64;

// As n8_copyMatchWide, but with at least 64 bytes of room after out + len: the first 32 bytes are copied without
// a length test, which covers most matches in one step.
inline void n8_copyMatchSlack(Kel8u* out, unsigned dist, unsigned len) {
    Kel8u* o = out;
    const Kel8u* f = out - dist;
    if (dist >= 16) {
        // Each 16-byte block reads bytes at least 16 behind it, all written by earlier blocks.
        n8_copy16(o, f);
        n8_copy16(o + 16, f + 16);
        if (len > 32) {
            Kel8u* const e = out + len;
            o += 32;
            f += 32;
            do {
                n8_copy16(o, f);
                n8_copy16(o + 16, f + 16);
                o += 32;
                f += 32;
            } while (o < e);
        }
    } else if (dist >= 8) {
        Kel8u* const e = out + len;
        do {
            n8_store64(o, n8_load64(f));
            n8_store64(o + 8, n8_load64(f + 8));
            n8_store64(o + 16, n8_load64(f + 16));
            n8_store64(o + 24, n8_load64(f + 24));
            o += 32;
            f += 32;
        } while (o < e);
    } else {
        n8_copyMatchWide(out, dist, len);
    }
}

// Result codes of the fast kernels: 0 (margins reached, at a symbol boundary), a pending match
// (length << 16 | distance, its bits consumed, longer than the room), or one of these (all negative).
constexpr int kFastEndOfBlock = int(0x80000000u | kKindEndOfBlock);
constexpr int kFastInvalid = int(0x80000000u | kInvalidLit);
constexpr int kFastNoHistory = -1;

// The fast kernel of the two-level form: see inflate_hotspot.cpp.
int n8_ownDecodeLZ77DHF_HotSpot(Io& io, const Kel8u* tables);

// ---- Packed first levels --------------------------------------------------------------------------------------

// The context keeps value and info bytes in separate arrays (a documented layout), so a lookup there costs two
// loads. For calls that decode enough to repay it, the two first levels are repacked into one 32-bit entry per
// index, which the packed kernel decodes with one load; second levels stay in the context (codes over 10 bits
// are rare). The packed form is a cache of the context, never written back.
//
// Every entry is one of three forms, told apart by bit 31 and bit 7:
//   plain literals (bit 31): one literal of 1..10 bits, or two whose codes fit the 10 index bits together
//     bits 0-7    bits the entry consumes (both codes)
//     bits 8-15   the first literal
//     bits 16-23  the second literal (zero for one)
//     bit 30      two literals
//   plain length or distance (bits 31 and 7 clear): a code of 1..10 bits, at most 5 (length) or 13 (distance)
//   extra bits x; a plain distance never exceeds kMaxDistance, whatever the context holds
//     bits 0-7    bits the entry consumes: n + x
//     bits 8-15   the code length n: the extra bits are bits n .. n + x - 1 of the buffer
//     bits 16-31  the base (length value + 3, at most 258; the distance or its base)
//   anything else (bit 7 set): subtable pointers, end of block, invalid or uncovered entries, codes of a damaged
//   table
//     bits 8-15   the info byte as the context stores it
//     bits 16-31  the value as stored
//   which the kernel decides exactly as the unpacked kernel does.
constexpr unsigned kPackedEntries = 2048;  // 1024 literal/length entries, then 1024 distance entries
constexpr Kel32u kPackedLiteral = 0x80000000u;
constexpr Kel32u kPackedPair = 0x40000000u;  // with kPackedLiteral
constexpr Kel32u kPackedSlow = 0x80u;
// The farthest distance a stream may use. Once this much output precedes the position, no plain distance entry
// can reach before the history, and the packed loop stops checking them.
constexpr Kel32u kMaxDistance = 32768;

// Branch-free, selecting with masks.
constexpr Kel32u n8_packLitEntry(Kel32u info, Kel32u val) {
    const Kel32u n = info & 15, x = (info >> 4) & 7;
    const Kel32u plain = Kel32u(n - 1 < 10);
    const Kel32u literal = 0u - (plain & Kel32u(info < 0x10));          // all ones for a plain literal
    const Kel32u length = 0u - (plain & (info >> 7) & Kel32u(x <= 5));  // all ones for a plain length
    const Kel32u slow = ~(literal | length);
    return ((kPackedLiteral | (val << 8) | n) & literal) | ((((val + 3) << 16) | (n << 8) | (n + x)) & length) |
           (((val << 16) | (info << 8) | kPackedSlow) & slow);
}

constexpr Kel32u n8_packDistEntry(Kel32u info, Kel32u val) {
    const Kel32u n = info & 15, x = info >> 4;
    const Kel32u plain = 0u - Kel32u(n - 1 < 10 && x <= 13 && val + kMaskBits[x] <= kMaxDistance);
    return (((val << 16) | (n << 8) | (n + x)) & plain) | (((val << 16) | (info << 8) | kPackedSlow) & ~plain);
}

// Repacks the first levels of a two-level table t into packed[kPackedEntries], sixteen entries per step in vector
// registers: every call over a dynamic block pays it, and on inputs of 100 KB the scalar form took 7% of the time.
void n8_packTwoLevel(const Kel8u* t, Kel32u* packed);
// The definition: each entry repacked on its own. For every table, damaged or not, both give the same entries.
void n8_packTwoLevel_ref(const Kel8u* t, Kel32u* packed);

// The packed first levels of the built-in fixed table (made at compile time).
const Kel32u* n8_fixedPackedTable();

// The fast kernel over packed first levels (packed) and the context's second levels (t); contract as
// n8_ownDecodeLZ77DHF_HotSpot, with the same results for every table the builder makes (and, like it, never
// outside the buffers for any table).
int n8_ownDecodeLZ77DHF_Packed(Io& io, const Kel32u* packed, const Kel8u* t);

// The loops, one per table form. Each runs the block from the given mode; returns a status and sets *pMode.
KelStatus n8_ownsInflateTwoLevel_8u(Io& io, const Kel8u* tables, int* pMode, InflateContext* pContext);
KelStatus n8_ownsInflateShort_8u(Io& io, int* pMode, InflateContext* pContext);

}  // namespace kel::inflate
