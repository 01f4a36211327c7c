// src/stream/deflate_writer.h - raw Deflate blocks (RFC 1951) from the library's level matchers, for the gzip, zlib
// and raw compressor of libkelstream.
//
// The writer keeps the window, the hash tables and the position counter; per block it lets the library's matcher
// fill the item buffers, builds length-limited canonical Huffman codes from the counts, and writes the cheapest of
// a dynamic, fixed or stored block with its own bit writer and the library's Huffman writer. Wrappers, checksums
// and the output's hand-over belong to the owner: the writer appends whole bytes to the Bytes it was given and
// keeps fewer than 8 bits back between calls. The output is the same however the input is split into pieces.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keldc.h"
#include "stream/stream_internal.h"

namespace kel::stream {

class DeflateWriter {
public:
    // Levels 0 to 29 as this library numbers them: 1 to 9 trade speed for size as zlib's levels do, 2 to 9 each
    // served by a row of the matcher's level table (see rowOfLevel), 1 by a cheaper greedy search of the writer's
    // own (see init); 10 to 29 are the table's rows of the same number.
    static constexpr int kMaxLevel = 29;
    static int rowOfLevel(int level);

    // Output goes to *out, which must outlive the writer.
    DeflateWriter(const Allocator& a, Bytes* out) : alloc_(a), out_(out) {}
    ~DeflateWriter();
    DeflateWriter(const DeflateWriter&) = delete;
    DeflateWriter& operator=(const DeflateWriter&) = delete;

    // Allocates the buffers for `level` (0 to kMaxLevel); false when memory runs out. Matches reach at most
    // windowSize bytes back (256 to 32768, a power of two), so that a decoder with a smaller window reads the output.
    bool init(int level, Kel32u windowSize = 32768);
    // Starts a new stream: history, tables, bits and the result are cleared.
    void reset();

    // Preset dictionary, before the first write: its last 32 KiB become history the first bytes may match.
    KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n);
    // Compresses n more bytes; finished blocks are appended to the output. A long piece is matched where it lies.
    KelStreamResult write(const std::uint8_t* src, std::size_t n);
    // Ends the current block and appends an empty stored block, so that the output so far decodes to everything
    // written, byte-aligned (a sync flush). Writing may go on afterwards.
    KelStreamResult flush();
    // Writes the rest as the final block and byte-aligns the output.
    KelStreamResult finish();

    // The calls below serve zlib's interface (libkelz); libkelstream does not use them, so its output is unchanged.

    // How blocks are made from here on. level 0 writes stored blocks only; literalsOnly makes every byte a literal;
    // fixedCodes never sends dynamic codes. Data written before a change of the kind of block is first ended as
    // a block of the old kind.
    void configure(int level, bool literalsOnly, bool fixedCodes);
    // Consecutive blocks that come out stored are joined into one while it stays below 64 KiB, which keeps the
    // stored overhead of incompressible input below zlib's compressBound.
    void joinStoredBlocks(bool on) { joinStored_ = on; }
    // Ends the current block if it holds anything (nothing is aligned): everything written is then decodable but
    // for the last few bits (pendingBits).
    KelStreamResult endBlock();
    // An empty stored block (aligns the output) or an empty fixed block (10 bits), after endBlock.
    void putEmptyStored();
    void putEmptyFixed();
    // No later match reaches before this point.
    void forgetHistory();
    // Bits put in front of the next block (value's low n bits, n <= 16).
    void prime(std::uint32_t value, unsigned n) { putBits(value & ((1u << n) - 1), n); }
    unsigned pendingBits() const { return bitCount_; }
    // Copies the last up to windowSize bytes written (a dictionary included) to dst, if not null; returns how many.
    std::size_t history(std::uint8_t* dst) const;
    // Becomes a copy of o (its own buffers from its own allocator); false when memory runs out.
    bool copyFrom(const DeflateWriter& o);

    // kelStreamOk, or the first error (kelStreamErrMemory, kelStreamErrLibrary) with its message.
    KelStreamResult result() const { return result_; }
    const char* message() const { return message_; }

private:
    struct Buffers;

    void appendBuffered(const std::uint8_t* src, std::size_t n);
    void compressBuffered(Kel32u flushMode);
    void compressDirect(const std::uint8_t* src, std::size_t n, std::int64_t base);
    KelStatus match(const Kel8u** p, Kel32s* len, Kel32s* room, Kel32u flushMode);
    void putRaw(std::int64_t from, std::int64_t to);
    void putStoredRange(std::int64_t from, std::int64_t to, bool final);
    void settleStored();
    std::int64_t retainFrom() const { return heldStored_ >= 0 ? heldStored_ : blockStart_; }
    void takeStored();
    KelStatus takeLiterals(const Kel8u** p, Kel32s* len, Kel32s* room);
    void slideWindow();
    void emitBlock(bool final);
    void putBits(std::uint32_t bits, unsigned n);
    void putBytes(const std::uint8_t* p, std::size_t n);
    void alignToByte();
    void failLibrary(KelStatus st, const char* why);
    bool ok() const { return result_ == kelStreamOk; }

    Allocator alloc_;
    Bytes* out_;
    Buffers* b_ = nullptr;
    // The row of the library's level table that serves the level, or one of kOwnRow (ownParams_), kStoredRow and
    // kLiteralRow.
    static constexpr int kOwnRow = -1, kStoredRow = -2, kLiteralRow = -3;
    int row_ = 0;
    Kel32u window_ = 32768;
    bool fixedOnly_ = false;
    bool joinStored_ = false;
    // With joinStored_, the start of a stored block not yet written (it ends at blockStart_), or -1.
    std::int64_t heldStored_ = -1;
    DeflateMatchParams ownParams_ = {};  // the greedy search's parameters when row_ is -1
    std::int32_t blockItems_ = 0;        // items per block (every block but the last holds this many)
    KelStreamResult result_ = kelStreamOk;
    const char* message_ = "";

    std::int64_t winBase_ = 0;     // stream offset of the window buffer's first byte
    std::int64_t bufEnd_ = 0;      // bytes in the window buffer
    std::int64_t cur_ = 0;         // offset of the next byte the matcher has not consumed
    std::int64_t blockStart_ = 0;  // stream offset of the current block's first byte
    std::int32_t items_ = 0;       // items of the current block
    // A long write is matched in the caller's buffer: ext_ holds its n bytes from stream offset extBase_ on, extCur_
    // is the offset in it of the next unmatched byte. Null between writes.
    const std::uint8_t* ext_ = nullptr;
    std::int64_t extBase_ = 0;
    std::int64_t extLen_ = 0;
    std::int64_t extCur_ = 0;
    Kel32u pos_ = 0;  // stream position of cur_ for the matcher

    std::uint64_t bitAcc_ = 0;  // pending output bits, lowest first
    unsigned bitCount_ = 0;     // their number, below 8 between operations
};

}  // namespace kel::stream
