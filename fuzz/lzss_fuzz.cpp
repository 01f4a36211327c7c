// fuzz/lzss_fuzz.cpp - the LZSS decoder on arbitrary streams fed in arbitrary pieces, and a round trip of the
// same bytes through the encoder.
//
// The decoder must stay inside its buffers whatever the stream says; the encoder's output must give back exactly
// what went in. The state block is a heap block of exactly the size kelsLZSSGetSize_8u reports, and every source
// piece and destination one of exactly its length (the final destination: the input's length), so ASan flags any
// byte touched past them. The stream's fields have no header to bound them: distances up to 32767 (beyond the
// output so far they read the window) and lengths up to 258 come straight from the fuzzed bits.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

namespace {

std::vector<Kel8u> newState() {
    int size = 0;
    kelsLZSSGetSize_8u(&size);
    return std::vector<Kel8u>(std::size_t(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t piece = 1 + data[0] % 64, room = 1 + data[1] % 512;
    const std::vector<Kel8u> input(data + 2, data + size);

    // Arbitrary stream, decoded piece by piece into exact-size destinations.
    std::vector<Kel8u> state = newState();
    auto* st = reinterpret_cast<LZSSState_8u*>(state.data());
    kelsDecodeLZSSInit_8u(st);
    std::size_t budget = 1 << 20;  // garbage can expand 85-fold; stop early rather than burn time
    for (std::size_t off = 0; off < input.size() && budget > 0; off += piece) {
        std::vector<Kel8u> src(input.begin() + long(off), input.begin() + long(std::min(off + piece, input.size())));
        const Kel8u* p = src.data();
        Kel32u left = Kel32u(src.size());
        KelStatus s;
        do {
            std::vector<Kel8u> dst(room);
            Kel8u* d = dst.data();
            Kel32u dLen = Kel32u(room);
            s = kelsDecodeLZSS_8u(&p, &left, &d, &dLen, st);
            if (s != kelStatusOk && s != kelStatusDstFull) std::abort();
            budget -= budget < room ? budget : room;
        } while (s == kelStatusDstFull && budget > 0);
    }

    // Round trip: the input as data, coded in pieces, flushed, decoded in one go.
    std::vector<Kel8u> coded;
    kelsEncodeLZSSInit_8u(st);
    for (std::size_t off = 0; off < input.size(); off += piece) {
        const Kel8u* p = input.data() + off;
        Kel32u left = Kel32u(std::min(piece, input.size() - off));
        while (left > 0) {
            std::vector<Kel8u> dst(room);
            Kel8u* d = dst.data();
            Kel32u dLen = Kel32u(room);
            kelsEncodeLZSS_8u(&p, &left, &d, &dLen, st);
            coded.insert(coded.end(), dst.data(), d);
        }
    }
    KelStatus flushed;
    do {
        std::vector<Kel8u> dst(room);
        Kel8u* d = dst.data();
        Kel32u dLen = Kel32u(room);
        flushed = kelsEncodeLZSSFlush_8u(&d, &dLen, st);
        coded.insert(coded.end(), dst.data(), d);
    } while (flushed == kelStatusDstFull);

    kelsDecodeLZSSInit_8u(st);
    std::vector<Kel8u> back(input.size());
    const Kel8u* p = coded.data();
    Kel32u left = Kel32u(coded.size());
    Kel8u* d = back.data();
    Kel32u dLen = Kel32u(back.size());
    if (!coded.empty()) {
        const KelStatus s = kelsDecodeLZSS_8u(&p, &left, &d, &dLen, st);
        if (s != kelStatusOk && s != kelStatusDstFull) std::abort();
    }
    if (std::size_t(d - back.data()) != input.size()) std::abort();
    for (std::size_t k = 0; k < input.size(); ++k) {
        if (back[k] != input[k]) std::abort();
    }
    return 0;
}
