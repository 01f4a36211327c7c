// apps/stream/lz4_frame.h - the LZ4 frame format over the kel LZ4 block codecs: what the `lz4` tool writes and reads.
//
// A frame is the magic 0x184D2204, a descriptor (flags, block size, optional content size) closed by one byte of
// its 32-bit xxHash, then blocks of up to 64 KiB to 4 MiB of input, each a 32-bit length (top bit: stored as is)
// and its data with an optional xxHash, then a zero length and an optional xxHash of the whole content. All
// numbers are little-endian. Blocks are independent, or linked: a linked block may refer to the 64 KiB of content
// before it. Frames may follow each other; skippable frames (magic 0x184D2A50 to 0x184D2A5F) are passed over.
//
// Linked blocks are written with the dictionary encoder (the previous 64 KiB as an external dictionary, stream
// positions running on) or with the high-compression encoder over history and block in one buffer. The block
// decoder knows no history, so a linked block is decoded with its history put in front of it as extra literals
// of the first sequence, and the history's part of the output is dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kelbase.h"
#include "stream/byte_stream.h"
#include "stream/xxhash32.h"

namespace kel {

struct Lz4FrameOptions {
    int blockSizeId = 7;            // 4: 64 KiB, 5: 256 KiB, 6: 1 MiB, 7: 4 MiB
    bool linkedBlocks = false;      // blocks may refer to the content before them
    bool blockChecksum = false;     // an xxHash after every block
    bool contentChecksum = true;    // an xxHash of the whole content after the last block
    int hcLevel = 0;                // 0: the fast encoder; 1 to 9: the high-compression encoder at that level
    std::int64_t contentSize = -1;  // stored in the descriptor when not negative (must then be exact)
};

// Writes one frame. Feed input with write() in pieces of any size, then call finish(); compressed bytes collect
// in output(), which the caller empties as it likes.
class Lz4FrameWriter {
public:
    explicit Lz4FrameWriter(const Lz4FrameOptions& options = {});

    KelStatus write(const std::uint8_t* src, std::size_t n);
    KelStatus finish();
    std::vector<std::uint8_t>& output() { return out_; }

    static constexpr int kMaxLevel = 9;

private:
    KelStatus flushBlock();
    void rememberHistory(const std::uint8_t* block, std::size_t n);

    Lz4FrameOptions opt_;
    std::size_t blockMax_;
    std::vector<std::uint8_t> out_, pending_, packed_, history_, hcInput_;
    std::vector<std::uint32_t> table_, hcHash_, hcChain_;
    std::int64_t streamPos_ = 0;  // bytes of the stream before the pending block, as the dictionary encoder counts
    std::uint64_t total_ = 0;
    XxHash32 contentHash_;
    bool finished_ = false;
};

// Compresses everything `in` gives into one frame. Returns "" on success, else a one-line error.
std::string lz4FrameCompress(const ByteSource& in, const ByteSink& out, const Lz4FrameOptions& options = {});

// Decompresses one or more frames, verifying every checksum they carry. Returns "" on success, else "truncated
// input", "corrupt input: ..." or "wrong checksum". Sets *trailing when bytes that start no frame follow the last
// one (they are ignored).
std::string lz4FrameDecompress(const ByteSource& in, const ByteSink& out, bool* trailing = nullptr);

// True if the bytes start with the LZ4 frame magic.
bool isLz4FrameMagic(const std::uint8_t* data, std::size_t len);

}  // namespace kel
