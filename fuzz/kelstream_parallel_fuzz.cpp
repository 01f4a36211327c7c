// fuzz/kelstream_parallel_fuzz.cpp - libkelstream's parallel member decoder against its one-thread decoder.
//
// The first byte chooses the format (even: gzip, odd: LZ4) and the thread count (2 to 5); the rest is the stream.
// Both decoders run through the one-shot call with the same room, and must agree on the result and on every
// output byte: the parallel decoder may only speed up what the one-thread decoder does, whatever the input
// (members inside members, damaged headers, trailing bytes). Short inputs are also compressed on several threads
// and must decode to themselves.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelstream.h"

namespace {

KelStreamResult decode(KelStreamFormat f, int threads, const std::uint8_t* p, std::size_t n,
                       std::vector<std::uint8_t>& out) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.threads = threads;
    out.assign(std::size_t(1) << 20, 0);
    std::size_t len = out.size();
    KelStreamResult r = kelStreamDecompress(f, p, n, out.data(), &len, &o);
    if (len > out.size()) std::abort();
    out.resize(len);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    KelStreamFormat f = data[0] & 1 ? kelFormatLz4 : kelFormatGzip;
    int threads = 2 + (data[0] >> 1) % 4;
    const std::uint8_t* p = data + 1;
    std::size_t n = size - 1;
    std::vector<std::uint8_t> one, many;
    KelStreamResult a = decode(f, 1, p, n, one);
    KelStreamResult b = decode(f, threads, p, n, many);
    if (a != b || one != many) std::abort();

    if (n <= 4096) {
        KelStreamOptions o;
        kelStreamDefaultOptions(&o);
        o.threads = threads;
        std::vector<std::uint8_t> packed(kelStreamCompressBound(f, n, &o));
        std::size_t len = packed.size();
        if (kelStreamCompress(f, p, n, packed.data(), &len, &o) != kelStreamEnd) std::abort();
        std::vector<std::uint8_t> back;
        if (decode(f, threads, packed.data(), len, back) != kelStreamEnd) std::abort();
        if (back.size() != n || (n && std::memcmp(back.data(), p, n) != 0)) std::abort();
    }
    return 0;
}
