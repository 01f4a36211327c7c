// fuzz/kelstream_reader_fuzz.h - libkelstream's reader of one container format on arbitrary input fed in arbitrary
// pieces, and a round trip of the same bytes through the writer.
//
// Every input piece and output room is an exact-size heap block, so a sanitizer build flags any access past one.
// The reader must only ever consume what it is given, write what fits and end in a result; the writer's output
// must read back to exactly what went in.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelstream.h"

namespace kel::fuzz {

// Decodes data in pieces of 1 to piece bytes into rooms of 1 to room bytes; returns the last result.
inline KelStreamResult decodeInPieces(KelStreamFormat format, const std::uint8_t* data, std::size_t size,
                                      std::size_t piece, std::size_t room, std::vector<std::uint8_t>* out) {
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, format, kelDecompress, nullptr) != kelStreamOk) std::abort();
    KelStreamResult r = kelStreamOk;
    std::size_t pos = 0, idle = 0, budget = std::size_t(64) << 20;  // garbage can expand: stop early
    while (out->size() < budget) {
        const std::size_t give = size - pos < piece ? size - pos : piece;
        std::uint8_t* in = new std::uint8_t[give ? give : 1];
        if (give) std::memcpy(in, data + pos, give);
        std::uint8_t* dst = new std::uint8_t[room];
        std::size_t srcLen = give, dstLen = room;
        r = kelStreamProcess(s, in, &srcLen, dst, &dstLen, pos + give == size ? kelFlushFinish : kelFlushNone);
        if (srcLen > give || dstLen > room) std::abort();
        out->insert(out->end(), dst, dst + dstLen);
        delete[] in;
        delete[] dst;
        pos += srcLen;
        if (r != kelStreamOk) break;
        idle = srcLen == 0 && dstLen == 0 ? idle + 1 : 0;
        if (idle > 2) std::abort();  // no progress with input and room: the contract says this cannot happen
    }
    kelStreamFree(s);
    return r;
}

// The fuzz body shared by the container readers whose writer has no options worth varying beyond the level and
// the checksum kind.
inline int fuzzReaderAndRoundTrip(KelStreamFormat format, const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t piece = 1 + (data[0] & 0x0F) * 97, room = 1 + (data[0] >> 4) * 301;
    std::vector<std::uint8_t> out;
    const KelStreamResult r = decodeInPieces(format, data + 1, size - 1, piece, room, &out);
    if (r == kelStreamErrLibrary || r == kelStreamErrArgument) std::abort();

    // The same bytes as data: written, then read back whole and in pieces.
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = data[0] % 10;
    o.lzopCrc32 = data[0] & 1;
    const std::size_t bound = kelStreamCompressBound(format, size, &o);
    std::vector<std::uint8_t> coded(bound);
    std::size_t codedLen = bound;
    if (kelStreamCompress(format, data, size, coded.data(), &codedLen, &o) != kelStreamEnd) std::abort();
    std::vector<std::uint8_t> back;
    if (decodeInPieces(format, coded.data(), codedLen, piece, room, &back) != kelStreamEnd) std::abort();
    if (back.size() != size || std::memcmp(back.data(), data, size) != 0) std::abort();
    return 0;
}

}  // namespace kel::fuzz
