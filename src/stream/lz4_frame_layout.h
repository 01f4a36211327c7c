// src/stream/lz4_frame_layout.h - the byte layout of LZ4 frames, shared by the frame encoder and decoder.
//
// A frame is the magic 0x184D2204, a descriptor (FLG, BD, an optional 8-byte content size, an optional 4-byte
// dictionary ID) closed by the second byte of the descriptor's 32-bit xxHash, then blocks of up to 64 KiB to 4 MiB
// of content, each a 32-bit length (top bit: the data is stored as is) and the data with an optional xxHash, then a
// zero length and an optional xxHash of the whole content. All numbers are little-endian. Blocks are independent,
// or linked: a linked block may refer to the 64 KiB of content before it, never to a previous frame.
//
// Two more kinds of unit may stand where a frame may: skippable frames (magic 0x184D2A50 to 0x184D2A5F, a 32-bit
// length and that many bytes of anything) and legacy streams (magic 0x184C2102, then independent blocks of up to
// 8 MiB of content, each a 32-bit compressed length and the data; no end mark: the stream ends with the input or
// where a length reads as one of the magics).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel::stream::lz4 {

constexpr std::uint32_t kFrameMagic = 0x184D2204u;
constexpr std::uint32_t kSkippableMagic = 0x184D2A50u;  // the low four bits are free
constexpr std::uint32_t kSkippableMask = 0xFFFFFFF0u;
constexpr std::uint32_t kLegacyMagic = 0x184C2102u;
constexpr std::uint32_t kStoredFlag = 0x80000000u;  // block length word: the data is the content itself

// FLG: version 01 in bits 7-6, then independent blocks, block checksums, content size, content checksum, a
// reserved bit and the dictionary ID flag. BD: the block size ID in bits 6-4; bits 7 and 3-0 are reserved.
constexpr unsigned kFlgVersion = 0x40;
constexpr unsigned kFlgIndependent = 0x20;
constexpr unsigned kFlgBlockChecksum = 0x10;
constexpr unsigned kFlgContentSize = 0x08;
constexpr unsigned kFlgContentChecksum = 0x04;
constexpr unsigned kFlgReserved = 0x02;
constexpr unsigned kFlgDictId = 0x01;
constexpr unsigned kBdReserved = 0x8F;

// FLG, BD, content size and dictionary ID: the longest descriptor before its check byte.
constexpr std::size_t kMaxDescriptorLen = 2 + 8 + 4;
constexpr std::size_t kHistoryLen = 65536;  // how far back a linked block may refer

// Legacy streams: 8 MiB of content per block, so no block is longer than the worst case of 8 MiB of incompressible
// content, n + n / 255 + 16. A length above that cannot be a block and ends the stream.
constexpr std::size_t kLegacyBlockMax = std::size_t(8) << 20;
constexpr std::size_t kLegacyPackedMax = kLegacyBlockMax + kLegacyBlockMax / 255 + 16;

// Block size IDs 4 to 7: 64 KiB, 256 KiB, 1 MiB, 4 MiB.
inline std::size_t blockMaxOf(int id) {
    return std::size_t(1) << (8 + 2 * id);
}

inline std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

inline void put32(std::uint8_t* p, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(x >> (8 * i));
}

}  // namespace kel::stream::lz4
