// src/dc/lzo/lzo_internal.h - the LZO1X kernels behind the exported functions, and the encoder state layout.
#pragma once

#include "kelbase.h"

// Encoder state block: a 32-byte header (mode word first) followed by the hash table of 16384 source positions.
// The reported size keeps room for 8-byte entries, so the layout can grow without changing the interface.
constexpr Kel32u kLzoStateSize = 131104;
constexpr int kLzoHashBits = 14;
constexpr Kel32u kLzoHashSize = 1u << kLzoHashBits;
constexpr Kel32u kLzoStateHeaderSize = 32;

struct LzoEncoderState {
    Kel32u mode;
    Kel32u reserved[(kLzoStateHeaderSize - 4) / 4];
    Kel32u table[kLzoHashSize];
};
static_assert(sizeof(LzoEncoderState) <= kLzoStateSize);

// The worst-case stream length for n source bytes: incompressible input costs one extra byte per 255 literals,
// plus the run header and the end marker. Callers size their destination with it.
constexpr Kel32u n8_ownLzoWorstCase(Kel32u n) { return n + n / 16 + 67; }

// Codes src[0, n) (n >= 1) as one LZO1X stream with end marker into dst, which has room for the worst case.
// Returns the stream length.
Kel32u n8_ownEncodeLZO1X(const Kel8u* src, Kel32u n, Kel8u* dst, LzoEncoderState* state);

// Decodes one plain LZO1X stream from src[0, srcLen) into dst[0, cap). Every read and write is checked; a match may
// reach back to dst[0] at most. Writes the number of bytes produced to *pOut (also on failure).
// Returns kelStatusOk or kelStatusLZOBrokenStream.
KelStatus n8_ownDecodeLZO1X(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u cap, Kel32u* pOut);
