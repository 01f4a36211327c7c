// apps/stream/bzip2_stream.h - .bz2 files over the kel bzip2 stages: what the `bzip2` tool writes and reads.
//
// A stream is "BZh" and a block-size digit (1 to 9, blocks of up to digit * 100 000 run-length coded bytes), then
// blocks, each a 48-bit magic (0x314159265359), the bzip2 CRC of its input, a randomisation bit, the 24-bit origin
// pointer of the transform, the bitmap of byte values in use (16 bits saying which of the 16 ranges of 16 values
// occur, then 16 bits per range that does), the table-and-selector section and the Huffman-coded symbols; then a
// 48-bit end magic (0x177245385090) and the stream CRC (each block CRC folded in as crc = (crc <<< 1) ^ block),
// padded to a byte. All fields are bit strings written most significant bit first, with no byte alignment
// between blocks. Files may hold several streams in a row.
//
// The library supplies every stage (run-length coding, transform, move-to-front, zero-run and Huffman coding,
// their inverses and the fused block decoder) and the CRC; this file adds the headers, the bit-level framing and
// the block loop. Randomised blocks (written only by bzip2 versions before 0.9.5) are not supported.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kelbase.h"
#include "stream/byte_stream.h"

namespace kel {

// Writes one stream. Feed input with write() in pieces of any size, then call finish(); compressed bytes collect
// in output(), which the caller empties as it likes.
class Bzip2Writer {
public:
    static constexpr int kMaxLevel = 9;

    // level 1 to 9: blocks of level * 100 000 bytes (less 19, as bzip2 keeps them). Other levels leave status()
    // at kelStatusBadSize and every call fails with it.
    explicit Bzip2Writer(int level = kMaxLevel);
    ~Bzip2Writer();
    Bzip2Writer(const Bzip2Writer&) = delete;
    Bzip2Writer& operator=(const Bzip2Writer&) = delete;

    KelStatus status() const { return status_; }
    KelStatus write(const std::uint8_t* src, std::size_t n);
    // Compresses the last block and writes the stream trailer; nothing may be written afterwards.
    KelStatus finish();
    std::vector<std::uint8_t>& output() { return out_; }

    // The whole input as one stream.
    static KelStatus compress(const std::uint8_t* src, std::size_t n, int level, std::vector<std::uint8_t>& out);

private:
    struct Work;
    KelStatus fail(KelStatus st);
    KelStatus flushBlock();
    KelStatus codeBlock(int n);
    void putBits(std::uint32_t bits, int count);
    void alignBits();

    int level_;
    int blockMax_;  // run-length coded bytes per block
    std::unique_ptr<Work> w_;
    std::vector<std::uint8_t> out_;
    std::uint64_t bitAcc_ = 0;  // pending output bits at the top
    int bitCount_ = 0;
    int used_ = 0;  // run-length coded bytes in the block
    std::uint32_t blockCrc_ = 0, streamCrc_ = 0;
    bool headerDone_ = false, finished_ = false;
    KelStatus status_ = kelStatusOk;
};

enum class Bzip2Result {
    Ok,         // progress made; call again with more input (if all was used) or more room (if none is left)
    End,        // every stream is complete and its CRCs are verified
    Corrupt,    // the data is not a valid bzip2 stream (message() says what)
    Truncated,  // the input ended (lastInput) before the stream did
    Checksum,   // a block or stream CRC does not match the data
};

// Reads one or more streams in a row, resuming at any byte of the input and any byte of room.
class Bzip2Reader {
public:
    Bzip2Reader();
    ~Bzip2Reader();
    Bzip2Reader(const Bzip2Reader&) = delete;
    Bzip2Reader& operator=(const Bzip2Reader&) = delete;

    // Decodes from in[0, inLen) into out[0, outLen), advancing both and reducing the lengths. Pass lastInput once
    // no input follows the buffer: End then means the input held complete streams (and perhaps data after them
    // that is not a stream, see trailingData()); an incomplete stream gives Truncated. Errors are sticky.
    Bzip2Result decompress(const std::uint8_t*& in, std::size_t& inLen, std::uint8_t*& out, std::size_t& outLen,
                           bool lastInput);

    const char* message() const { return message_; }
    // After End: bytes followed the last stream that do not start another one; they are not decoded.
    bool trailingData() const { return trailingData_; }
    std::uint64_t totalOut() const { return totalOut_; }

private:
    struct State;
    std::unique_ptr<State> s_;
    const char* message_ = "";
    bool trailingData_ = false;
    std::uint64_t totalOut_ = 0;
};

// True for the first bytes of a .bz2 file ("BZh" and a digit; two bytes "BZ" are enough to guess).
bool isBzip2Magic(const std::uint8_t* head, std::size_t n);

// Compresses everything `in` gives into one stream; "" on success, else a one-line error.
std::string bzip2Compress(const ByteSource& in, const ByteSink& out, int level);

// Decompresses all streams `in` gives; "" on success, else "truncated input", "corrupt input: <what>", "wrong
// checksum: <what>" or "write error". *trailing (if given) tells whether data that is no stream followed.
std::string bzip2Decompress(const ByteSource& in, const ByteSink& out, bool* trailing = nullptr);

}  // namespace kel
