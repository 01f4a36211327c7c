// src/stream/lzop_format.h - the constants of the lzop file format, shared by its encoder and decoder.
//
// A file is a 9-byte magic, a header (versions, method, level, flags, mode, mtime, name) closed by its own
// checksum, then blocks of up to 256 KiB of input, each with its decoded and coded lengths and checksums, and a
// zero length to end. A block that does not shrink is stored as is. Every number is big-endian. `lzop -c a b`
// writes one such file per input back to back, each with its own magic and the multipart flag set.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keldc.h"

namespace kel::stream::lzop {

constexpr std::uint8_t kMagic[9] = {0x89, 'L', 'Z', 'O', 0x00, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint16_t kVersion = 0x1040;  // the lzop release whose format this follows
constexpr std::uint16_t kLibVersion = 0x20A0;
constexpr std::uint16_t kVersionNeeded = 0x0940;  // first release with the level byte and the 64-bit mtime
// Methods 1 (LZO1X-1), 2 (LZO1X-1(15)) and 3 (LZO1X-999) differ only in how hard the producer searched: all
// decode with the same LZO1X decoder. lzop's other methods (NRV, zlib) are not LZO1X.
constexpr std::uint8_t kMethodLzo1x1 = 1;
constexpr std::uint8_t kMethodLzo1x1_15 = 2;
constexpr std::uint8_t kMethodLzo1x999 = 3;
constexpr std::uint32_t kBlockSize = 256 * 1024;
// lzop never writes blocks above 64 MiB; a larger length is damage, and the bound keeps a decoder's buffers sane.
constexpr std::uint32_t kMaxBlockSize = 64 * 1024 * 1024;

// Header flags; the block checksum flags also say which checksums every block carries.
constexpr std::uint32_t kAdler32D = 0x0001;  // Adler-32 of each block's decoded data
constexpr std::uint32_t kAdler32C = 0x0002;  // Adler-32 of each block's coded data (when it shrank)
constexpr std::uint32_t kExtraField = 0x0040;
constexpr std::uint32_t kCrc32D = 0x0100;
constexpr std::uint32_t kCrc32C = 0x0200;
constexpr std::uint32_t kMultipart = 0x0400;  // set by lzop on every file of a multi-file archive
constexpr std::uint32_t kFilter = 0x0800;     // a 32-bit filter number follows the flags
constexpr std::uint32_t kHeaderCrc32 = 0x1000;
constexpr std::uint32_t kOsUnix = 0x03000000;

// Header: magic, then 12 fixed bytes (versions, method, level, flags), an optional filter word, 13 bytes (mode,
// mtime low and high, name length), the name and the 4-byte checksum of everything after the magic.
constexpr std::size_t kFixedLen = 9 + 12;
constexpr std::size_t kMaxHeaderLen = kFixedLen + 4 + 13 + 255 + 4;

inline std::uint32_t n8_be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

inline void n8_putBe32(std::uint8_t* p, std::uint32_t x) {
    p[0] = std::uint8_t(x >> 24);
    p[1] = std::uint8_t(x >> 16);
    p[2] = std::uint8_t(x >> 8);
    p[3] = std::uint8_t(x);
}

// Blocks stay below 2^31 bytes (kMaxBlockSize), so one call covers any of them.
inline std::uint32_t n8_adler32(const std::uint8_t* p, std::size_t n) {
    Kel32u sum = 1;
    kelsAdler32_8u(p, int(n), &sum);
    return sum;
}

inline std::uint32_t n8_crc32(const std::uint8_t* p, std::size_t n) {
    Kel32u crc = 0;
    if (n) kelsCRC32_8u(p, int(n), &crc);
    return crc;
}

}  // namespace kel::stream::lzop
