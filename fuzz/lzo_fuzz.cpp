// fuzz/lzo_fuzz.cpp - both LZO1X decoders on arbitrary bytes, plain streams and multi-part containers alike.
//
// The first two input bytes choose the destination capacity; the rest is the source, copied into an exact-size
// buffer so a sanitizer sees any read past it. Whatever the status, nothing may be written past the capacity
// (checked by ASan on the exact-size destination) and the reported length must not exceed it.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const Kel32u cap = (Kel32u(data[0]) << 8 | data[1]) * 7u;
    std::vector<Kel8u> src(data + 2, data + size);
    src.reserve(1);  // a non-null pointer even for an empty source
    for (int safe = 0; safe < 2; ++safe) {
        std::vector<Kel8u> dst(cap ? cap : 1);
        Kel32u dstLen = cap;
        const KelStatus st = safe ? kelsDecodeLZOSafe_8u(src.data(), Kel32u(src.size()), dst.data(), &dstLen)
                                  : kelsDecodeLZO_8u(src.data(), Kel32u(src.size()), dst.data(), &dstLen);
        if (st != kelStatusOk && st != kelStatusLZOBrokenStream) std::abort();
        if (dstLen > cap) std::abort();
    }
    return 0;
}
