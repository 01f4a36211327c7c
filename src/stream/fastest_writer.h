// src/stream/fastest_writer.h - raw Deflate blocks from the library's single-probe path, for the fastest mode of the
// gzip, zlib and raw compressor.
//
// FastestWriter turns input into a sequence of complete Deflate blocks (RFC 1951) and leaves wrappers and checksums
// to its owner. Per block it makes two passes: the library counts the symbols of its single-probe parse and builds
// codes from the counts, then encodes the block with those codes in one pass. Blocks below 1 KiB skip the counts
// and use the fixed codes in a single pass.
//
// The counts cover the first 32 KiB of a block of up to 512 KiB, which takes most of the counting time away at a
// small cost in size; every symbol still gets a code, so the codes fit whatever the rest of the block holds, and a
// block that comes out larger than its stored form is replaced by the stored form. The block ends early where its
// bytes stop resembling the sample's. A block short enough to be counted whole is counted whole, and its counts then
// predict its size exactly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keldc.h"
#include "stream/stream_internal.h"

namespace kel::stream {

class FastestWriter {
public:
    // Output goes to *out, which must outlive the writer.
    FastestWriter(const Allocator& a, Bytes* out) : alloc_(a), out_(out) {}
    ~FastestWriter();
    FastestWriter(const FastestWriter&) = delete;
    FastestWriter& operator=(const FastestWriter&) = delete;

    // Allocates the buffers; false when memory runs out.
    bool init();
    // Starts a new stream (output state and history cleared; the tables are kept but can no longer match).
    void reset();

    // Preset dictionary, before the first write: its last 32 KiB become the history.
    KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n);
    // Compresses n more bytes, appending finished blocks to the output. A long piece is encoded where it lies,
    // without copying; the output is the same however the input is split into pieces.
    KelStreamResult write(const std::uint8_t* src, std::size_t n);
    // Ends the current block and appends an empty stored block, so that the output holds everything written so far,
    // byte-aligned (a sync flush). Writing may go on afterwards.
    KelStreamResult flush();
    // Writes the rest as the final block and byte-aligns the output.
    KelStreamResult finish();

    KelStreamResult result() const { return result_; }
    const char* message() const { return message_; }

private:
    struct Buffers;

    KelStreamResult writeBuffered(const std::uint8_t* src, std::size_t n);
    KelStatus emitBlock(bool final, Kel32u flushMode);
    KelStatus emitOneBlock(bool final, Kel32u flushMode);
    // Offset from start of the first stretch after the sample [0, sampleEnd) whose bytes differ from the sample's
    // (see kCostlierPercent), below end; 0 when none does. Needs the block's literal codes.
    std::int64_t contentChange(const Kel8u* start, std::int64_t sampleEnd, std::int64_t end) const;
    KelStatus countSymbols(std::int64_t avail, Kel32u flushMode, bool& sampled, std::int64_t& counted);
    bool buildCodes();
    // Encodes at most limit bytes (the encoder stops a maximal match before the end of them unless flushMode ends
    // the input).
    KelStatus encode(bool dynamic, const Kel8u* header, Kel32s headerBits, Kel32u flushMode, std::int64_t limit);
    void putStored(const std::uint8_t* p, std::int64_t n, bool final);
    void putBits(std::uint32_t bits, unsigned n);
    void putBytes(const std::uint8_t* p, std::size_t n);
    void alignToByte();
    void slide();
    void rebaseIfNeeded();
    KelStreamResult noteLibrary(KelStatus st, const char* why);
    bool ok() const { return result_ == kelStreamOk; }

    Allocator alloc_;
    Bytes* out_;
    Buffers* b_ = nullptr;
    KelStreamResult result_ = kelStreamOk;
    const char* message_ = "";
    // The bytes being encoded: the window buffer, or during a long write the caller's piece itself (bufEnd_ and
    // cur_ are offsets in it).
    const std::uint8_t* data_ = nullptr;
    std::int64_t winBase_ = 0;  // stream offset of the window buffer's first byte
    std::int64_t bufEnd_ = 0;   // bytes in the window buffer
    std::int64_t cur_ = 0;      // offset of the first byte not yet encoded
    Kel32u pos_ = 0;            // library position of cur_
    std::uint64_t bitAcc_ = 0;  // pending output bits, lowest first
    unsigned bitCount_ = 0;     // their number, below 8 between operations
    bool started_ = false;      // written to since construction or reset
};

}  // namespace kel::stream
