// src/kelz/inflate_state.h - the state of zlib's inflate and inflateBack streams, and the decoder both drive.
//
// The modes are zlib's, one for each place where a call can stop, because programs observe them: data_type says
// whether the decoder stands at a block boundary or just after a block header, inflateMark where the current
// symbol began, inflateSyncPoint whether a stored block is about to start. Everything before the Huffman-coded
// payload (wrappers, block headers, stored blocks, the code-length code) is parsed here bit by bit and can stop at
// any input byte; the payload of each block goes to libkeldcn8's kelsInflate_8u, which decodes straight into the
// caller's output and reads older history from the window kept in this state.
#pragma once

#include "keldc.h"
#include "kelz/kelz_internal.h"

namespace kel::z {

enum class InflateMode : std::uint8_t {
    Head,   // zlib or gzip header, or nothing for raw data
    Flags,  // gzip: the rest of the fixed header
    Time,
    Os,
    ExLen,
    Extra,
    Name,
    Comment,
    HCrc,
    DictId,    // zlib: the dictionary's Adler-32
    Dict,      // waiting for inflateSetDictionary
    Type,      // at a block boundary (Z_BLOCK stops here)
    TypeDo,    // at a block boundary, past the Z_BLOCK stop
    Stored,    // stored block lengths
    Copy_,     // after the stored lengths (Z_TREES stops here)
    Copy,      // stored bytes
    Table,     // dynamic block: the three counts
    LenLens,   // the code-length code
    CodeLens,  // literal/length and distance code lengths
    Len_,      // after a block header (Z_TREES stops here)
    Len,       // the Huffman-coded payload
    Check,     // trailer: the check value
    Length,    // gzip trailer: the length
    Done,
    Bad,
    Mem,
    Sync,  // inside inflateSync
};

struct InflateState : internal_state {
    InflateMode mode;
    bool last;        // the current block is the final one
    bool havedict;    // a dictionary was given
    bool fixed;       // the current block uses the fixed codes
    bool backLayout;  // inflateBack: the output is the window itself
    int wrap;         // bit 0: zlib allowed, bit 1: gzip allowed, bit 2: check the check values; 0: raw
    int flags;        // gzip header flags, 0 for a zlib stream, -1 before any header (and for raw data)
    unsigned wbits;   // window bits; 0 until a zlib header gives them
    int back;         // bits back to the start of the current symbol, -1 outside a block
    Kel32u check;     // running Adler-32 or CRC-32 (also the header CRC while a gzip header is read)
    Kel32u total;     // output bytes of the stream, modulo 2^32
    gz_headerp head;

    Kel32u hold;    // held input bits, oldest in bit 0, zero above `bits`
    unsigned bits;  // 0 to 32

    unsigned length;  // stored bytes left, or the position in a gzip header field
    unsigned nlen, ndist, ncode, have;
    unsigned long codesUsed;

    Kel8u* window;  // 1 << wbits bytes from zalloc, made on first use; for inflateBack the caller's
    unsigned wsize, whave, wnext;
    // Small output rooms: the payload is decoded here behind a contiguous copy of the history and then copied
    // out (kStageHistory + kStageRoom bytes from zalloc, made on first use; inflate only).
    Kel8u* stage;

    int blockMode;   // kelsInflate_8u's block mode inside a Huffman-coded block
    Kel8u bytes[4];  // 32-bit fields collected a byte at a time
    unsigned byteCount;

    Kel16u clTable[128];  // code-length code: (length << 8) | symbol, indexed by 7 stream bits
    Kel16u lens[320];     // code lengths of the current dynamic block
    InflateContext ctx;
};

// One run of the decoder over the caller's buffers. outStart is where this run's output began: the bytes from
// there to put are history that the window does not hold yet. checkFrom is the first output byte not yet in the
// running check value.
constexpr unsigned kStageHistory = 32768;
constexpr unsigned kStageRoom = 32768;

struct InflateRun {
    const Kel8u* next;
    unsigned have;
    Kel8u* put;
    unsigned left;
    Kel8u* outStart;
    Kel8u* checkFrom;
    bool trailerChecked;  // the check value was compared in this run: its output is not kept as history
};

// Runs the decoder until it needs input or room, reaches a stop that flush asks for, the end of the stream, or an
// error. Returns Z_OK, Z_STREAM_END, Z_NEED_DICT or Z_DATA_ERROR (msg set in strm); never touches strm's buffers
// fields (the caller stores the run's pointers back).
int runInflate(InflateState& s, InflateRun& run, z_streamp strm, int flush);

// Adds the run's output since checkFrom to the check value and the total (zlib and gzip streams).
void updateCheck(InflateState& s, InflateRun& run, z_streamp strm);

// Restores the state of a new stream, keeping the window's memory (inflateResetKeep).
void resetKeep(InflateState& s, z_streamp strm);

}  // namespace kel::z
