// src/stream/bzip2_format.h - the .bz2 framing shared by the encoder, the decoder and the parallel decoder.
//
// A stream is "BZh" and a block-size digit (1 to 9, blocks of up to digit * 100 000 run-length coded bytes), then
// blocks, each a 48-bit magic (0x314159265359), the bzip2 CRC of its input, a randomisation bit, the 24-bit origin
// pointer of the transform, the bitmap of byte values in use (16 bits saying which of the 16 ranges of 16 values
// occur, then 16 bits per range that does), the table-and-selector section and the Huffman-coded symbols; then a
// 48-bit end magic (0x177245385090) and the stream CRC (each block CRC folded in as crc = (crc <<< 1) ^ block),
// padded to a byte. All fields are bit strings written most significant bit first, with no byte alignment
// between blocks. Files may hold several streams in a row.
//
// libkeldcn8 supplies every stage (run-length coding, transform, move-to-front, zero-run and Huffman coding, their
// inverses and the fused block decoder) and the CRC; this library adds the headers, the bit-level framing and the
// block loop. Randomised blocks (written only by bzip2 versions before 0.9.5) are reported as unsupported.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelbase.h"
#include "stream/stream_internal.h"

namespace kel::stream {

constexpr int kBzip2BlockUnit = 100000;
constexpr int kBzip2MaxBlock = 9 * kBzip2BlockUnit;
constexpr std::uint32_t kBzip2BlockMagicHi = 0x314159, kBzip2BlockMagicLo = 0x265359;
constexpr std::uint32_t kBzip2EndMagicHi = 0x177245, kBzip2EndMagicLo = 0x385090;
constexpr std::uint64_t kBzip2BlockMagic = 0x314159265359ull, kBzip2EndMagic = 0x177245385090ull;
constexpr std::uint32_t kBzip2StreamMagic = 0x425A68;  // "BZh"

inline std::uint32_t bzip2FoldCrc(std::uint32_t streamCrc, std::uint32_t blockCrc) {
    return ((streamCrc << 1) | (streamCrc >> 31)) ^ blockCrc;
}

// The sequential decoder of concatenated streams, resumable at any byte of input and of room. The engine of
// bzip2_decoder.cpp wraps one; the parallel decoder drives one over its input buffer and lets it stop in front of
// every block (pauseAtBlocks) so that a block decoded by a worker can be put in its place, and its workers each
// use one to decode single block bodies (decodeBlockBody).
//
// Bits travel in libkeldcn8's convention: a 32-bit buffer filled from its most significant bit and a count of the
// valid bits. The reader takes its own fields through the same buffer that the library's section reader and
// symbol decoder use, so the input may stop at any byte and resume later.
class Bzip2Reader {
public:
    explicit Bzip2Reader(const Allocator& a);
    Bzip2Reader(const Bzip2Reader&) = delete;
    Bzip2Reader& operator=(const Bzip2Reader&) = delete;

    // Allocates the state blocks; false when memory runs out.
    bool init();
    // Back to the first byte of a new input (buffers are kept).
    void restart();
    // Allocates the block buffers for blocks of up to blockCap bytes; false when memory runs out.
    bool reserveBlocks(int blockCap);

    // Decodes src[0, srcLen) into dst[0, dstCap) with the results of kelStreamProcess; `last`: nothing follows
    // src. *consumed and *produced are set.
    KelStreamResult run(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                        std::size_t dstCap, std::size_t* produced, bool last);

    // Decodes one block body: src starts with the byte holding the first bit after the block magic, skipBits
    // (0-7) bits of it precede that bit. Symbols are decoded, checked and turned into the block's run-length coded
    // bytes in blockOut (room for blockCap); *endBit is the bit of src that follows the block. Ok on success, else
    // the error the sequential decoder would report (truncation included: src is all there is).
    KelStreamResult decodeBlockBody(int blockCap, const std::uint8_t* src, std::size_t srcLen, int skipBits,
                                    std::uint8_t* blockOut, int* blockLen, std::uint32_t* storedCrc,
                                    std::uint64_t* endBit);

    // -- Parallel decoding: with pauseAtBlocks, run() returns Ok in front of every block magic (pausedAtBlock())
    // until told what to do with the block there: decode it itself (decodeNextBlock) or emit a block decoded
    // elsewhere (useDecodedBlock).
    bool pausedAtBlock() const { return pauseAtBlocks && !passBlock_ && step_ == Step::BlockMagicHi; }
    // Bits of input taken so far less those still held: the bit position of the next field.
    std::uint64_t bitPosition() const { return fed_ * 8 - static_cast<std::uint64_t>(codeBits_); }
    std::uint64_t bytesTaken() const { return fed_; }
    // Between two streams or before the first: the next bytes may end the input, so they are read from the
    // caller's buffer directly.
    bool betweenStreams() const { return step_ == Step::StreamMagic || step_ == Step::NextStream; }
    bool finished() const { return step_ == Step::Done; }
    void decodeNextBlock() { passBlock_ = true; }
    // The block at bitPosition() has been decoded into block[0, blockLen) and ends at input bit endBit.
    void useDecodedBlock(const std::uint8_t* block, int blockLen, std::uint32_t storedCrc, std::uint64_t endBit);
    bool emitting() const { return step_ == Step::Emit || step_ == Step::Skip; }
    int blockCap() const { return blockCap_; }

    bool pauseAtBlocks = false;
    bool singleStream = false;
    bool stopAtEntries = false;

    // Header fields: the stream being read (0-based) and its block-size digit.
    std::uint32_t entry = 0;
    int level = -1;
    bool headerComplete = false;
    const char* message = "";

private:
    enum class Step {
        StreamMagic,  // "BZh" of the first stream
        NextStream,   // after a complete stream: another "BZh", zero padding, trailing data or the end
        Level,
        BlockMagicHi,
        BlockMagicLo,
        BlockCrcHi,
        BlockCrcLo,
        Randomised,
        Origin,
        Ranges,
        RangeBits,
        Section,
        Symbols,
        Skip,  // passing over input a worker has decoded
        Emit,
        StreamCrcHi,
        StreamCrcLo,
        Done,
    };

    // Takes input bytes until n <= 24 bits are held; false if the input runs out first (nothing is lost).
    bool need(int n) {
        while (codeBits_ < n) {
            if (inLen_ == 0) return false;
            code_ |= static_cast<Kel32u>(*in_++) << (24 - codeBits_);
            codeBits_ += 8;
            --inLen_;
            ++fed_;
        }
        return true;
    }
    // Takes n bits, 0 <= n <= 24.
    std::uint32_t take(int n) {
        if (n == 0) return 0;
        const std::uint32_t v = code_ >> (32 - n);
        code_ <<= n;
        codeBits_ -= n;
        return v;
    }
    // Whether the symbols still held in the bit buffer, the input being used up, end the block; if so they are
    // decoded and taken.
    bool blockEndsInHeldBits();
    void advance(const std::uint8_t* p) {
        const std::size_t n = static_cast<std::size_t>(p - in_);
        fed_ += n;
        inLen_ -= n;
        in_ = p;
    }

    Allocator alloc_;
    Step step_ = Step::StreamMagic;
    bool endMagic_ = false;  // the magic being read ends the stream
    bool passBlock_ = false;
    bool stopBeforeEmit_ = false;  // decodeBlockBody: the block is done once its bytes are in place
    bool padding_ = false;         // zero bytes after the last stream are being passed over
    bool entryReported_ = false;
    int held_ = 0;  // bytes of "BZh" matched after a stream and taken from the input
    Kel32u code_ = 0;
    int codeBits_ = 0;
    std::uint64_t fed_ = 0;  // input bytes taken into the bit buffer or passed over
    std::uint64_t skipTo_ = 0;
    int blockCap_ = 0;
    std::uint32_t storedCrc_ = 0, blockCrc_ = 0, streamCrc_ = 0, storedStreamCrc_ = 0;
    int origin_ = 0;
    std::uint32_t ranges_ = 0;
    int range_ = 0;
    int dict_ = 0;
    int nSym_ = 0;
    int blockLen_ = 0;
    std::uint8_t inUse_[256] = {};
    Bytes huffState_, rleState_;
    Bytes huffTrial_;  // a copy of huffState_ for decoding the end of a block from padded bits (blockEndsInHeldBits)
    // Sized for the largest block seen and left uninitialised: each block writes before it reads.
    Bytes block_, blockBuf_;
    Array<Kel16u> sym_;
    int allocatedCap_ = 0;
    std::uint8_t* blockOut_ = nullptr;  // where the block's bytes go: block_, or the caller's in decodeBlockBody
    const Kel8u* emitSrc_ = nullptr;
    int emitLeft_ = 0;

    // Input of the current call.
    const std::uint8_t* in_ = nullptr;
    std::size_t inLen_ = 0;
};

}  // namespace kel::stream
