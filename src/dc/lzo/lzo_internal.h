// src/dc/lzo/lzo_internal.h - the LZO1X kernels behind the exported functions, and the encoder state layout.
#pragma once

#include "kelbase.h"

// Encoder state block: a 32-byte header (mode word first) followed by the hash table of 16384 source positions,
// each held in 16 bits as its offset from a window start that moves with the scan (see lzo_encode.cpp). The
// reported size keeps room for 8-byte entries, so the layout can change without changing the interface.
constexpr Kel32u kLzoStateSize = 131104;
constexpr int kLzoHashBits = 14;
constexpr Kel32u kLzoHashSize = 1u << kLzoHashBits;
constexpr Kel32u kLzoStateHeaderSize = 32;

struct LzoEncoderState {
    Kel32u mode;
    Kel32u reserved[(kLzoStateHeaderSize - 4) / 4];
    Kel16u table[kLzoHashSize];
};
static_assert(sizeof(LzoEncoderState) <= kLzoStateSize);

// The worst-case stream length for n source bytes: incompressible input costs one extra byte per 255 literals,
// plus the run header and the end marker. Callers size their destination with it.
constexpr Kel32u n8_ownLzoWorstCase(Kel32u n) {
    return n + n / 16 + 67;
}

// Codes src[0, n) (n >= 1) as one LZO1X stream with end marker into dst, which has room for the worst case.
// Returns the stream length.
Kel32u n8_ownEncodeLZO1X(const Kel8u* src, Kel32u n, Kel8u* dst, LzoEncoderState* state);

// The LZO1X parser in three forms. Each reads one plain stream from src[0, srcLen), never past its end, and stops
// at the end marker. It writes the number of output bytes produced to *pOut and the number of source bytes read
// (through the end marker on success) to *pUsed, also on failure. A match may reach back to the first output byte
// at most. Returns kelStatusOk at the end marker, kelStatusLZOBrokenStream otherwise.
//
// n8_ownDecodeLZO1X writes into dst[0, cap) and fails rather than pass cap.
KelStatus n8_ownDecodeLZO1X(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u cap, Kel32u* pOut, Kel32u* pUsed);
// n8_ownDecodeLZO1XExact writes into dst with no capacity (the caller vouches that dst holds the stream's output)
// and writes no byte past the last one the stream produces; output beyond 2^32 - 1 bytes is broken.
KelStatus n8_ownDecodeLZO1XExact(const Kel8u* src, Kel32u srcLen, Kel8u* dst, Kel32u* pOut, Kel32u* pUsed);
// n8_ownScanLZO1X writes nothing: it reports whether src is a well-formed stream and how much it would produce.
KelStatus n8_ownScanLZO1X(const Kel8u* src, Kel32u srcLen, Kel32u* pOut, Kel32u* pUsed);
