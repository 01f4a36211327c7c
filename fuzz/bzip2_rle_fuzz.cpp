// fuzz/bzip2_rle_fuzz.cpp - the bzip2 run-length decoder on arbitrary bytes, and the encoder's round trip.
//
// Byte 0 picks the destination room per call (1 to 256). The rest is decoded as run-length coded data with that
// room, resuming until the source and the pending copies are used up; every call must stay inside its exact-size
// buffers and make progress. Then the same bytes are encoded in pieces of varied size and decoded back, which
// must give them exactly.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

namespace {

// A run-length state of exactly the size the library reports, so a sanitizer build notices a byte past it.
std::vector<std::uint8_t> rleState() {
    int size = 0;
    if (kelsRLEGetSize_BZ2_8u(&size) != kelStatusOk || size < 1) std::abort();
    return std::vector<std::uint8_t>(static_cast<std::size_t>(size));
}

// Decodes coded[0, n) with `room` bytes per call; appends to out. False if the decoder reported an error.
bool decodeAll(const std::uint8_t* coded, int n, int room, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> state = rleState();
    kelsDecodeRLEStateInit_BZ2_8u(state.data());
    std::vector<std::uint8_t> src(coded, coded + n);
    const Kel8u* p = src.data();
    int left = n;
    while (left > 0) {
        std::vector<std::uint8_t> dst(static_cast<std::size_t>(room));
        Kel8u* d = dst.data();
        int dstLen = room;
        const int before = left;
        const KelStatus st = kelsDecodeRLEState_BZ2_8u(&p, &left, &d, &dstLen, state.data());
        if (st < 0) return false;
        const int written = room - dstLen;
        if (written < 0 || written > room || left < 0 || left > before) std::abort();
        if (written == 0 && left == before) std::abort();  // no progress
        out.insert(out.end(), dst.begin(), dst.begin() + written);
        if (out.size() > (std::size_t{1} << 26)) return true;
    }
    for (;;) {
        std::vector<std::uint8_t> dst(static_cast<std::size_t>(room));
        Kel8u* d = dst.data();
        int dstLen = room;
        const KelStatus st = kelsDecodeRLEStateFlush_BZ2_8u(state.data(), &d, &dstLen);
        out.insert(out.end(), dst.begin(), dst.begin() + (room - dstLen));
        if (st == kelStatusOk) return true;
        if (st != kelStatusDstFull || dstLen != 0) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int room = 1 + data[0];
    const int n = static_cast<int>(size - 1);
    std::vector<std::uint8_t> decoded;
    decodeAll(data + 1, n, room, decoded);

    // Round trip of the raw bytes through the encoder, fed in pieces of 1 to 16 bytes.
    std::vector<std::uint8_t> state = rleState(), coded;
    kelsEncodeRLEInit_BZ2_8u(state.data());
    std::size_t pos = 0;
    while (pos < static_cast<std::size_t>(n)) {
        const int piece = 1 + static_cast<int>((pos * 7 + data[0]) % 16);
        std::vector<std::uint8_t> src(
            data + 1 + pos,
            data + 1 + pos + (n - pos < static_cast<std::size_t>(piece) ? n - pos : static_cast<std::size_t>(piece)));
        const Kel8u* p = src.data();
        int left = static_cast<int>(src.size());
        while (left > 0) {
            std::vector<std::uint8_t> dst(static_cast<std::size_t>(room));
            int dstLen = room;
            if (kelsEncodeRLE_BZ2_8u(&p, &left, dst.data(), &dstLen, state.data()) < 0) std::abort();
            coded.insert(coded.end(), dst.begin(), dst.begin() + dstLen);
        }
        pos += src.size();
    }
    std::uint8_t last = 0;
    int one = 1;
    kelsEncodeRLEFlush_BZ2_8u(&last, &one, state.data());
    if (one == 1) coded.push_back(last);
    std::vector<std::uint8_t> back;
    if (!coded.empty() && !decodeAll(coded.data(), static_cast<int>(coded.size()), room, back)) std::abort();
    if (back != std::vector<std::uint8_t>(data + 1, data + size)) std::abort();
    return 0;
}
