// apps/stream/deflate_fastest.h - raw Deflate blocks from the library's single-probe path, for the fastest mode of
// the zlib/gzip writer.
//
// FastestDeflater turns input into a sequence of complete Deflate blocks (RFC 1951) and leaves wrappers and
// checksums to its owner (DeflateStream). Per block it makes two passes: the library counts the symbols of its
// single-probe parse and builds codes from the counts, then encodes the block with those codes in one pass.
// Blocks below 1 KiB skip the counts and use the fixed codes in a single pass.
//
// Two ways to count. Exact: the counting pass covers the whole block (64 KiB), and since both passes parse alike
// the counts predict the block's size exactly, so the cheapest of a dynamic, fixed or stored block is chosen
// before encoding. Sampled (the default): the counts cover the first 32 KiB of a 256 KiB block, which takes most
// of the counting time away at a small cost in size; every symbol still gets a code, so the codes fit whatever the
// rest of the block holds, and a block that comes out larger than its stored form is replaced by the stored form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "keldc.h"

namespace kel {

class FastestDeflater {
public:
    enum class Counts { Sampled, Exact };

    explicit FastestDeflater(Counts counts = Counts::Sampled);
    ~FastestDeflater();
    FastestDeflater(const FastestDeflater&) = delete;
    FastestDeflater& operator=(const FastestDeflater&) = delete;

    // Starts a new stream (output state and history cleared; the tables are kept but can no longer match).
    void reset();

    // Preset dictionary, before the first write: its last 32 KiB become the history.
    KelStatus setDictionary(const std::uint8_t* dict, std::size_t n);

    // Compresses n more bytes, appending finished blocks to out. A long piece is encoded where it lies, without
    // copying; the output is the same however the input is split into pieces.
    KelStatus write(const std::uint8_t* src, std::size_t n, std::vector<std::uint8_t>& out);

    // Ends the current block and appends an empty stored block, so that out holds everything written so far, byte
    // aligned (a sync flush). Writing may go on afterwards.
    KelStatus flush(std::vector<std::uint8_t>& out);

    // Writes the rest as the final block and byte-aligns the output. Nothing may be written afterwards.
    KelStatus finish(std::vector<std::uint8_t>& out);

    // Blocks written so far, by kind (for tests and statistics).
    struct BlockCounts {
        std::uint32_t stored = 0, fixed = 0, dynamic = 0;
    };
    const BlockCounts& blockCounts() const { return counts_; }

private:
    struct Buffers;

    KelStatus writeBuffered(const std::uint8_t* src, std::size_t n, std::vector<std::uint8_t>& out);
    KelStatus emitBlock(bool final, Kel32u flushMode, std::vector<std::uint8_t>& out);
    KelStatus countSymbols(std::int64_t avail, Kel32u flushMode, bool& sampled, std::int64_t& counted);
    bool buildCodes();
    KelStatus encode(bool dynamic, const Kel8u* header, Kel32s headerBits, Kel32u flushMode,
                     std::vector<std::uint8_t>& out);
    void putStored(const std::uint8_t* p, std::int64_t n, bool final, std::vector<std::uint8_t>& out);
    void putBits(std::uint32_t bits, unsigned n, std::vector<std::uint8_t>& out);
    void alignToByte(std::vector<std::uint8_t>& out);
    void slide();
    void rebaseIfNeeded();

    Counts countsMode_;
    std::int64_t blockBytes_;   // unencoded bytes that trigger a block
    std::int64_t sampleBytes_;  // bytes counted per block (0: all)
    std::unique_ptr<Buffers> b_;
    // The bytes being encoded: the window buffer, or during a long write the caller's piece itself (bufEnd_ and
    // cur_ are offsets in it).
    const std::uint8_t* data_;
    std::int64_t winBase_ = 0;  // stream offset of the window buffer's first byte
    std::int64_t bufEnd_ = 0;   // bytes in the window buffer
    std::int64_t cur_ = 0;      // offset of the first byte not yet encoded
    Kel32u pos_ = 0;            // library position of cur_
    std::uint64_t bitAcc_ = 0;  // pending output bits, lowest first
    unsigned bitCount_ = 0;     // their number, below 8 between operations
    bool started_ = false;      // written to since construction or reset
    BlockCounts counts_;
};

}  // namespace kel
