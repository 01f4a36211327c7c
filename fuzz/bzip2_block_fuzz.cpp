// fuzz/bzip2_block_fuzz.cpp - the bzip2 block reading chain on arbitrary bytes: table-and-selector section,
// symbol decoding and the fused block decoder, with the source fed in pieces.
//
// Input: byte 0 picks the alphabet size (3 to 258), byte 1 the source piece size, bytes 2-3 the block capacity
// and the origin pointer, byte 4 a quarter of the in-use bitmap pattern; the rest is the block's bit stream. Every
// call must stay inside its buffers (the buffers are exact-size heap copies, the decoder state exactly the size
// its size function reports for the block's capacity) and return a defined status; a block that decodes is
// checked to have the length reported.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) return 0;
    const int alphabet = 3 + data[0] % 256;
    const int piece = 1 + data[1] % 64;
    const int capacity = 1 + (data[2] | (data[3] << 8)) % 5000;
    const int origin = (data[2] * 131 + data[3]) % capacity;
    const std::vector<std::uint8_t> src(data + 5, data + size);

    int stateSize = 0;
    if (kelsDecodeHuffGetSize_BZ2_8u16u(capacity + 1, &stateSize) != kelStatusOk) std::abort();
    std::vector<std::uint8_t> state(static_cast<std::size_t>(stateSize));
    if (kelsDecodeHuffInit_BZ2_8u16u(alphabet, state.data()) != kelStatusOk) std::abort();

    Kel32u code = 0;
    int codeBits = 0;
    std::size_t pos = 0;
    KelStatus st = kelStatusSrcExhausted;
    while (st == kelStatusSrcExhausted && pos < src.size()) {
        const int n = static_cast<int>(src.size() - pos < static_cast<std::size_t>(piece) ? src.size() - pos : piece);
        std::vector<std::uint8_t> chunk(src.begin() + static_cast<std::ptrdiff_t>(pos),
                                        src.begin() + static_cast<std::ptrdiff_t>(pos) + n);
        const Kel8u* p = chunk.data();
        int len = n;
        st = kelsUnpackHuffContext_BZ2_8u16u(&code, &codeBits, &p, &len, state.data());
        if (len < 0 || len > n || codeBits < 0 || codeBits > 32) std::abort();
        pos += static_cast<std::size_t>(n - len);
    }
    if (st != kelStatusOk) return 0;

    std::vector<Kel16u> sym(static_cast<std::size_t>(capacity) + 1);
    int have = 0;
    for (;;) {
        const int n = static_cast<int>(src.size() - pos < static_cast<std::size_t>(piece) ? src.size() - pos : piece);
        std::vector<std::uint8_t> chunk(src.begin() + static_cast<std::ptrdiff_t>(pos),
                                        src.begin() + static_cast<std::ptrdiff_t>(pos) + n);
        chunk.push_back(0);  // a valid pointer even for an empty piece
        const Kel8u* p = chunk.data();
        int len = n;
        int room = static_cast<int>(sym.size()) - have;
        if (room < 1) return 0;
        std::vector<Kel16u> out(static_cast<std::size_t>(room));
        st = kelsDecodeHuff_BZ2_8u16u(&code, &codeBits, &p, &len, out.data(), &room, state.data());
        if (room < 0 || room > static_cast<int>(out.size()) || len < 0 || len > n) std::abort();
        for (int i = 0; i < room; ++i) sym[static_cast<std::size_t>(have + i)] = out[static_cast<std::size_t>(i)];
        have += room;
        pos += static_cast<std::size_t>(n - len);
        if (st == kelStatusOk) break;
        if (st != kelStatusSrcExhausted && st != kelStatusDstFull) return 0;
        if (st == kelStatusSrcExhausted && n == 0) return 0;
    }
    if (have < 1) return 0;

    // Values in use: a pattern from byte 4, as many as the alphabet implies where possible.
    std::vector<std::uint8_t> inUse(256, 0);
    int dict = 0;
    for (int v = 0; v < 256 && dict < alphabet - 2; ++v) {
        if (((v * 7 + data[4]) & 3) != 0) {
            inUse[static_cast<std::size_t>(v)] = 1;
            ++dict;
        }
    }
    int bufSize = 0;
    kelsDecodeBlockGetSize_BZ2_8u(static_cast<Kel32u>(capacity), &bufSize);
    std::vector<std::uint8_t> buf(static_cast<std::size_t>(bufSize)), block(static_cast<std::size_t>(capacity));
    std::vector<Kel16u> exact(sym.begin(), sym.begin() + have);
    int blockLen = capacity;
    st = kelsDecodeBlock_BZ2_16u8u(exact.data(), have, block.data(), &blockLen, origin, static_cast<Kel32u>(dict),
                                   inUse.data(), buf.data());
    if (st == kelStatusOk && (blockLen < 1 || blockLen > capacity)) std::abort();
    if (st != kelStatusOk && st != kelStatusError) std::abort();
    return 0;
}
