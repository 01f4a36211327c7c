// apps/stream/lzop_file.h - the lzop file format over the LZO1X codec: what `lzop` writes and reads.
//
// A file is a 9-byte magic, a header (versions, method, flags, mode, mtime, name) with its own checksum, then
// blocks of up to 256 KiB of input, each with its decoded and coded lengths and Adler-32 checksums, and a zero
// length to end. A block that does not shrink is stored as is. Every number is big-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "stream/byte_stream.h"

namespace kel {

struct LzopOptions {
    std::string name;         // the original file name, stored in the header (may be empty)
    std::uint32_t mode = 0;   // the original file mode
    std::uint64_t mtime = 0;  // the original modification time, seconds since the epoch
};

// Push-style writer: feed input with write(), end with finish(); the file's bytes collect in output(), which the
// caller drains (clears) whenever it likes. Used by lzopCompress and by tools that read their input themselves.
class LzopWriter {
public:
    explicit LzopWriter(const LzopOptions& options = {});
    void write(const std::uint8_t* data, std::size_t n);
    void finish();
    std::vector<std::uint8_t>& output() { return out_; }

private:
    void emitBlock();

    std::vector<std::uint8_t> out_, block_, coded_, state_;
    bool finished_ = false;
};

// Compresses everything `in` gives into one lzop file. Returns an empty string on success, else a one-line error.
std::string lzopCompress(const ByteSource& in, const ByteSink& out, const LzopOptions& options = {});

// Decompresses one lzop file (methods 1 to 3, all LZO1X), verifying every checksum the file carries. Returns an
// empty string on success, else "truncated input", "corrupt input: ..." or "wrong checksum".
std::string lzopDecompress(const ByteSource& in, const ByteSink& out);

// True if the bytes start with the lzop magic.
bool isLzopMagic(const std::uint8_t* data, std::size_t len);

}  // namespace kel
