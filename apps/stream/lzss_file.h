// apps/stream/lzss_file.h - a small container for the LZSS stream, of this project's own design.
//
// Layout: the magic "KLZS", a version byte (1), the LZSS bit stream (flushed to a whole byte), then a 12-byte
// trailer: the decoded length (64-bit little-endian) and the CRC-32 (gzip's) of the decoded bytes (32-bit
// little-endian). The LZSS stream has no end marker; the trailer tells the reader where the data ends and lets it
// check what it produced.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/byte_stream.h"

namespace kel {

constexpr std::uint8_t kLzssFileMagic[4] = {'K', 'L', 'Z', 'S'};

// Push-style writer: feed input with write(), end with finish(); the container's bytes collect in output(), which
// the caller drains (clears) whenever it likes.
class LzssWriter {
public:
    LzssWriter();
    void write(const std::uint8_t* data, std::size_t n);
    void finish();
    std::vector<std::uint8_t>& output() { return out_; }

private:
    void codeChunk();

    std::vector<std::uint8_t> out_, chunk_, coded_, state_;
    std::uint64_t total_ = 0;
    std::uint32_t crc_ = 0;
    bool finished_ = false;
};

// Compresses everything `in` gives. Returns an empty string on success, else a one-line error.
std::string lzssCompress(const ByteSource& in, const ByteSink& out);

// Decompresses one container, checking its length and CRC-32. Returns an empty string on success, else
// "truncated input", "corrupt input: ..." or "wrong checksum".
std::string lzssDecompress(const ByteSource& in, const ByteSink& out);

bool isLzssMagic(const std::uint8_t* data, std::size_t len);

}  // namespace kel
