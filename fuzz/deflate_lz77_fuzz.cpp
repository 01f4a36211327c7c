// fuzz/deflate_lz77_fuzz.cpp - the hash-chain matchers called directly, from stream positions near 2^31 (and
// beyond, which no stream reaches but a caller may pass), so that the shift of positions runs in the middle of a
// stream: the items must rebuild the input, the counts must be those of the items, every final call must make
// progress and no position may pass 2^31.
//
// Input layout: byte 0 the level (mod 30); byte 1 the window (256 << (b % 8)) and hash table (256 << (b / 8 % 9))
// sizes; byte 2 the piece size and the item room per call; bytes 3 to 5 the first position (0 if all three are
// zero, else 2^31 - 256 KiB plus the value modulo 320 KiB); the rest is the data. Every table and item buffer is a
// heap block of exactly the documented size, so a sanitizer build notices any access past it.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dc/deflate/deflate_tables.h"
#include "keldc.h"

namespace {

Kel32u symbolOfDistance(Kel32u d) {
    const Kel32u d1 = d - 1;
    return d1 < 256 ? kel::deflate::litCodeTable[256 + d1] : kel::deflate::litCodeTable[512 + (d1 >> 7)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 6) return 0;
    const Kel32u level = data[0] % 30;
    const Kel32u windowSize = 256u << (data[1] % 8);
    const Kel32u hashSize = 256u << ((data[1] >> 3) % 9);
    const std::size_t piece = 1 + std::size_t(data[2] & 15) * 1999;
    const Kel32s room = 1 + Kel32s(data[2] >> 4) * 373;
    const Kel32u off = Kel32u(data[3]) | Kel32u(data[4]) << 8 | Kel32u(data[5]) << 16;
    Kel32u pos = off == 0 ? 0 : 0x7FFC0000u + off % 0x50000u;
    const std::uint8_t* src = data + 6;
    const std::size_t n = size - 6;

    std::vector<Kel32s> heads(hashSize, -32768), chain(windowSize, -32768);
    std::vector<DeflateCodeEntry> lit(286), dist(30);
    std::vector<Kel8u> litOut(static_cast<std::size_t>(room));
    std::vector<Kel16u> distOut(static_cast<std::size_t>(room));
    std::vector<Kel32u> litWant(286), distWant(30);
    std::vector<std::uint8_t> rebuilt;
    rebuilt.reserve(n);

    std::size_t done = 0, avail = 0;
    while (done < n) {
        avail = std::min(n, std::max(avail, done) + piece);
        const Kel32u flush = avail == n ? 2 : 0;
        const Kel8u* p = src + done;
        Kel32s len = Kel32s(avail - done), itemRoom = room;
        const Kel32u before = pos;
        if (kelsDeflateLZ77_8u(&p, &len, &pos, p, windowSize, heads.data(), chain.data(), hashSize, lit.data(),
                               dist.data(), litOut.data(), distOut.data(), &itemRoom, level, flush) != kelStatusOk) {
            std::abort();
        }
        const std::size_t consumed = std::size_t(p - (src + done));
        if (len != Kel32s(avail - done - consumed)) std::abort();
        // Positions advance by the bytes consumed, after a shift down to windowSize if there was one; they stay
        // below 2^31 whatever the first position was.
        if (pos != before + consumed && pos != windowSize + consumed) std::abort();
        if (pos > 0x7FFFFFFFu) std::abort();

        const Kel32s items = room - itemRoom;
        if (items < 0 || (items == 0) != (consumed == 0)) std::abort();
        for (Kel32s i = 0; i < items; ++i) {
            const Kel32u d = distOut[std::size_t(i)];
            if (d == 0) {
                rebuilt.push_back(litOut[std::size_t(i)]);
                ++litWant[litOut[std::size_t(i)]];
                continue;
            }
            const std::size_t l = litOut[std::size_t(i)] + 3u;
            if (d >= windowSize || d > rebuilt.size()) std::abort();
            for (std::size_t k = 0; k < l; ++k) rebuilt.push_back(rebuilt[rebuilt.size() - d]);
            ++litWant[257 + kel::deflate::litCodeTable[l - 3]];
            ++distWant[symbolOfDistance(d)];
        }
        if (rebuilt.size() != done + consumed ||
            !std::equal(rebuilt.begin() + long(done), rebuilt.end(), p - consumed)) {
            std::abort();
        }
        done += consumed;
        // A final call with item room must make progress; a call that may hold bytes back gets more next time.
        if (consumed == 0 && flush == 2) std::abort();
    }
    for (int s = 0; s < 286; ++s) {
        if (lit[std::size_t(s)].freqOrCode != Kel16u(litWant[std::size_t(s)]) || lit[std::size_t(s)].codeLength != 0) {
            std::abort();
        }
    }
    for (int s = 0; s < 30; ++s) {
        if (dist[std::size_t(s)].freqOrCode != Kel16u(distWant[std::size_t(s)])) std::abort();
    }
    return 0;
}
