// apps/stream/inflate_stream.h - a streaming zlib / gzip / raw Deflate decompressor on the public kel API.
//
// kel::InflateStream parses what the library leaves to its caller: the zlib (RFC 1950) and gzip (RFC 1952,
// several members in a row) wrappers, block headers, stored blocks and the code-length code of dynamic blocks.
// It builds each dynamic block's tables with kelsInflateBuildHuffTable, decodes the payloads with
// kelsInflate_8u, keeps the 32 KiB history window and checks the trailer (Adler-32, or CRC-32 and length).
//
// Usage: call decompress() with whatever input and output room is at hand; it consumes input and produces output
// until one of them runs out, the stream ends or an error is found. Pass lastInput = true once no input follows
// the buffer given: a stream that is then incomplete is reported as truncated. Input and output may come in
// pieces of any size, down to single bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "stream/byte_stream.h"

namespace kel {

enum class InflateFormat {
    Deflate,  // raw RFC 1951 data, no wrapper and no checksum
    Zlib,     // RFC 1950: 2-byte header, Adler-32 trailer
    Gzip,     // RFC 1952: one or more members, each with CRC-32 and length trailer
};

enum class InflateResult {
    Ok,         // progress made; call again with more input (if all was used) or more room (if none is left)
    End,        // the stream is complete and its trailers are verified
    Corrupt,    // the data is not a valid stream of the format (message() says what)
    Truncated,  // the input ended (lastInput) before the stream did
    Checksum,   // a trailer checksum or length (or a gzip header CRC) does not match the data
};

class InflateStream {
public:
    explicit InflateStream(InflateFormat format);
    ~InflateStream();
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Starts a new stream of the same format.
    void reset();

    // Decodes from in[0, inLen) into out[0, outLen), advancing in and out and reducing the lengths by what was
    // consumed and produced. After End, in and inLen describe the input following the stream (for gzip: after
    // the last member); bytes that had been read ahead beyond the end and came from an earlier call count as
    // trailingData(). Errors are sticky: later calls return the same result.
    InflateResult decompress(const std::uint8_t*& in, std::size_t& inLen, std::uint8_t*& out, std::size_t& outLen,
                             bool lastInput);

    // What went wrong, for the error results ("invalid distance code", "unexpected end of input", ...).
    const char* message() const { return message_; }

    // After End: data followed the stream that could not be handed back through `in`, or (gzip) data followed
    // the last member that is not another member. Such data is not decoded.
    bool trailingData() const { return trailingData_; }

    // Bytes produced since the stream (for gzip: the first member) started.
    std::uint64_t totalOut() const { return totalOut_; }

private:
    struct State;
    enum class Step : int;
    Step runSteps();
    bool pull(unsigned n);
    unsigned take(unsigned n);
    bool takeHeaderByte(unsigned& b);
    bool collect(unsigned n);
    void startMember();
    void flushOutput();
    Step fail(InflateResult r, const char* why);
    Step stepBlockHeader();
    Step stepStored();
    Step stepDynamic();
    Step stepHuffman();
    Step stepTrailer();
    Step stepGzipHeader();

    InflateFormat format_;
    std::unique_ptr<State> s_;
    const char* message_ = "";
    bool trailingData_ = false;
    std::uint64_t totalOut_ = 0;

    // The current call's buffers.
    const std::uint8_t* in_ = nullptr;
    std::size_t inLen_ = 0;
    std::uint8_t* out_ = nullptr;
    std::uint8_t* outEnd_ = nullptr;
    std::uint8_t* histFrom_ = nullptr;   // first output byte of this call that belongs to the current member
    std::uint8_t* checkFrom_ = nullptr;  // first output byte not yet in the running checksum
    bool lastInput_ = false;
};

// Decompresses everything `in` gives as one stream of the format (gzip: all its members) into `out`. Returns an
// empty string on success, else a one-line error: "truncated input", "corrupt input: <what>", "wrong checksum:
// <what>" or "write error". Data after the stream is not decoded; *trailing (if given) tells whether there was any.
std::string inflateDecompress(InflateFormat format, const ByteSource& in, const ByteSink& out,
                              bool* trailing = nullptr);

}  // namespace kel
