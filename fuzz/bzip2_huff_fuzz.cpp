// fuzz/bzip2_huff_fuzz.cpp - the bzip2 table-section reader and symbol decoder alone, on arbitrary bytes.
//
// Input: bytes 0-1 pick the alphabet size (1 to 258), bytes 2-4 the block size n the state is sized for (1 to
// 1 000 000 symbols), byte 5 the source piece size and byte 6 the destination room per call; the rest is the bit
// stream. The state is a heap block of exactly the size kelsDecodeHuffGetSize_BZ2_8u16u(n) reports, so a sanitizer
// build notices any byte written or read past it, whatever selector count the section announces. Every call must
// stay inside its buffers, keep the bit count within 0 to 32, consume no more source than it was given, and
// decode only symbols of the alphabet.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

namespace {

// A piece of the source as an exact-size heap copy; one spare byte keeps the pointer valid for an empty piece.
struct Piece {
    std::vector<std::uint8_t> bytes;
    int len;
};

Piece nextPiece(const std::vector<std::uint8_t>& src, std::size_t pos, int piece) {
    const std::size_t left = src.size() - pos;
    const int n = static_cast<int>(left < static_cast<std::size_t>(piece) ? left : static_cast<std::size_t>(piece));
    Piece p{std::vector<std::uint8_t>(src.begin() + static_cast<std::ptrdiff_t>(pos),
                                      src.begin() + static_cast<std::ptrdiff_t>(pos) + n),
            n};
    if (n == 0) p.bytes.push_back(0);
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 7) return 0;
    const int alphabet = 1 + (data[0] | (data[1] << 8)) % 258;
    const int n =
        1 + static_cast<int>((data[2] | (data[3] << 8) | (static_cast<std::uint32_t>(data[4]) << 16)) % 1000000u);
    const int piece = 1 + data[5] % 64;
    const int room = 1 + data[6] % 200;
    const std::vector<std::uint8_t> src(data + 7, data + size);

    int stateSize = 0;
    if (kelsDecodeHuffGetSize_BZ2_8u16u(n, &stateSize) != kelStatusOk || stateSize < 1) std::abort();
    auto* state = new Kel8u[static_cast<std::size_t>(stateSize)];
    if (kelsDecodeHuffInit_BZ2_8u16u(alphabet, state) != kelStatusOk) std::abort();

    Kel32u code = 0;
    int codeBits = 0;
    std::size_t pos = 0;
    KelStatus st = kelStatusSrcExhausted;
    while (st == kelStatusSrcExhausted && pos < src.size()) {
        Piece p = nextPiece(src, pos, piece);
        const Kel8u* ptr = p.bytes.data();
        int len = p.len;
        st = kelsUnpackHuffContext_BZ2_8u16u(&code, &codeBits, &ptr, &len, state);
        if (len < 0 || len > p.len || ptr != p.bytes.data() + (p.len - len)) std::abort();
        if (codeBits < 0 || codeBits > 32) std::abort();
        if (st != kelStatusOk && st != kelStatusSrcExhausted && st != kelStatusBadStream) std::abort();
        pos += static_cast<std::size_t>(p.len - len);
    }
    if (st != kelStatusOk) {
        delete[] state;
        return 0;
    }

    // Symbols until the end-of-block symbol, an error or the source runs dry; a block of n symbols never needs
    // more than n + 1 of them, so stop there too.
    long total = 0;
    for (;;) {
        Piece p = nextPiece(src, pos, piece);
        const Kel8u* ptr = p.bytes.data();
        int len = p.len;
        std::vector<Kel16u> out(static_cast<std::size_t>(room));
        int got = room;
        st = kelsDecodeHuff_BZ2_8u16u(&code, &codeBits, &ptr, &len, out.data(), &got, state);
        if (len < 0 || len > p.len || ptr != p.bytes.data() + (p.len - len)) std::abort();
        if (codeBits < 0 || codeBits > 32 || got < 0 || got > room) std::abort();
        const int stored = st == kelStatusOk && got < room ? got + 1 : got;  // the end-of-block symbol is stored
        for (int i = 0; i < stored; ++i) {
            if (out[static_cast<std::size_t>(i)] >= alphabet) std::abort();
        }
        if (st == kelStatusOk && got < room && out[static_cast<std::size_t>(got)] != alphabet - 1) std::abort();
        pos += static_cast<std::size_t>(p.len - len);
        total += got;
        if (st == kelStatusOk || st == kelStatusBadStream) break;
        if (st != kelStatusSrcExhausted && st != kelStatusDstFull) std::abort();
        if (st == kelStatusSrcExhausted && p.len == 0) break;
        if (total > static_cast<long>(n) + 1) break;
    }
    delete[] state;
    return 0;
}
