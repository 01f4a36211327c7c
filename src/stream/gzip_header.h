// src/stream/gzip_header.h - the fixed parts of a gzip member (RFC 1952): magic, method, flag bits, extra-flag
// values, the header and trailer sizes, and the CRC-32 that FHCRC keeps the low 16 bits of.
//
// Shared by the gzip writer and reader so that both name the same bits; kept to constants and one helper.
#pragma once

#include <cstddef>
#include <cstdint>

#include "keldc.h"

namespace kel::stream::gzip {

constexpr std::uint8_t kId1 = 0x1f;
constexpr std::uint8_t kId2 = 0x8b;
constexpr std::uint8_t kMethodDeflate = 8;

// FLG bits. The three high bits are reserved: a reader must reject a header that sets them.
constexpr std::uint8_t kFlagText = 0x01;
constexpr std::uint8_t kFlagHeaderCrc = 0x02;
constexpr std::uint8_t kFlagExtra = 0x04;
constexpr std::uint8_t kFlagName = 0x08;
constexpr std::uint8_t kFlagComment = 0x10;
constexpr std::uint8_t kFlagsReserved = 0xe0;

// XFL values for method 8: the slowest (best) and the fastest compression.
constexpr std::uint8_t kXflSlowest = 2;
constexpr std::uint8_t kXflFastest = 4;

constexpr std::uint8_t kOsUnix = 3;

// ID1 ID2 CM FLG MTIME(4) XFL OS, then the optional fields in the order extra, name, comment, header CRC.
constexpr std::size_t kFixedHeaderBytes = 10;
// CRC-32 of the data, then its length modulo 2^32, both little-endian.
constexpr std::size_t kTrailerBytes = 8;

// Chains the CRC-32 of p[0, n) onto *crc (0 to start), in pieces the library's int length can take. The header CRC
// (FHCRC) is the low 16 bits of this CRC over every header byte before it.
inline void crcUpdate(std::uint32_t* crc, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const std::size_t piece = n < (std::size_t(1) << 30) ? n : (std::size_t(1) << 30);
        kelsCRC32_8u(p, int(piece), crc);
        p += piece;
        n -= piece;
    }
}

}  // namespace kel::stream::gzip
