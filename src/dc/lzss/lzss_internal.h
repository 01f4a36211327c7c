// src/dc/lzss/lzss_internal.h - the LZSS state block shared by the encoder and the decoder.
//
// One block of 327744 bytes serves either side. The encoder keeps a 64-byte header, the hash heads (32768 signed
// positions at offset 64), the chains (32768 positions at offset 131136, indexed by position mod 32768) and a
// 65536-byte window at offset 262208 holding up to 32768 bytes of history followed by the first bytes of the chunk
// being coded. The decoder keeps its header and a 32768-byte ring of recent output at the same window offset.
// The block holds no pointers, so it may be copied between calls.
#pragma once

#include "kelbase.h"

constexpr int kLzssStateSize = 327744;
constexpr int kLzssWindowSize = 32768;      // history reach: distances 1 to 32767
constexpr int kLzssMaxMatch = 258;
constexpr int kLzssMinMatch = 3;
constexpr int kLzssMaxChain = 16;           // candidates examined per position
constexpr Kel32s kLzssEmpty = -32768;       // a position at least a window back from every position coded
constexpr Kel32u kLzssEncoderMagic = 0x4C5A5345;  // "LZSE": the block was prepared by the encoder's Init
constexpr Kel32u kLzssDecoderMagic = 0x4C5A5344;  // "LZSD": the block was prepared by the decoder's Init

struct LzssEncoderHeader {
    Kel32u magic;
    Kel32s historyLen;   // bytes of history at the start of the window (at most 32768)
    Kel32s streamPos;    // position of the next byte to code; positions count from Init (rebased near 2^30)
    Kel32s bitCount;     // bits pending in bitBuf (low bits, most recent last)
    Kel64u bitBuf;
    Kel8u reserved[40];
};

struct LzssDecoderHeader {
    Kel32u magic;
    Kel32s bitCount;     // bits held in bitBuf, aligned to its top
    Kel32u bitBuf;
    Kel32s pendingDist;  // a match cut short by a full destination: its distance ...
    Kel32s pendingLen;   // ... and the bytes still to copy
    Kel32u ringPos;      // where the next output byte goes in the ring (mod 32768)
    Kel8u reserved[40];
};

struct LzssStateLayout {
    union {
        LzssEncoderHeader enc;
        LzssDecoderHeader dec;
    } header;
    Kel32s head[32768];
    Kel32s chain[32768];
    Kel8u window[65536];
};

static_assert(sizeof(LzssEncoderHeader) == 64 && sizeof(LzssDecoderHeader) == 64);
static_assert(sizeof(LzssStateLayout) == kLzssStateSize);
static_assert(__builtin_offsetof(LzssStateLayout, head) == 64);
static_assert(__builtin_offsetof(LzssStateLayout, chain) == 131136);
static_assert(__builtin_offsetof(LzssStateLayout, window) == 262208);
