// fuzz/deflate_fastest_fuzz.cpp - the single-probe Deflate path on arbitrary input: counts, codes, a precomputed
// or generated header or fixed codes, and the encoder fed in pieces into small destinations; zlib's inflate must
// give back exactly the bytes consumed.
//
// The first three bytes choose the parameters: code mode (fixed, on-the-spot header, precomputed header) and the
// first position (byte 0 / 3: 0; 1 to 3 positions where streams once stalled; else 2^31 - 256 KiB plus a multiple
// of 4160: positions shift down in the middle of the stream; the caller then writes the dynamic header, which the
// encoder writes only at position 0), the destination room per call (1 to 64 bytes), window and hash table sizes and
// the size of the input pieces. Tables, counts and destinations are heap blocks of exactly the documented sizes, so
// that a sanitizer build notices any access past them. A call that makes no progress in a room below 8 bytes is
// repeated with 8 bytes (an item may need that much beside the pending bits, and the forced first literal of a short
// stream wants 6); with 8 bytes or more every final call must make progress.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "keldc.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool inflateRaw(const Bytes& in, Bytes& out, std::size_t expect) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return false;
    out.assign(expect + 1, 0);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    out.resize(z.total_out);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const unsigned mode = data[0] % 3;  // 0 fixed, 1 on-the-spot header, 2 precomputed header
    // Positions where streams of small blocks once stalled come first.
    constexpr Kel32u kStalled[] = {2147401728u, 2147417112u, 2147418112u};
    const Kel32u sel = data[0] / 3;
    const Kel32u firstPos = sel == 0 ? 0 : sel <= 3 ? kStalled[sel - 1] : 0x7FFC0000u + sel * 4160;
    const Kel32u room = 1 + data[1] % 64;
    const Kel32u windowSize = 256u << (data[2] % 8);
    const Kel32u hashSize = 256u << ((data[2] >> 3) % 9);
    const std::size_t piece = 259 + std::size_t(data[2] >> 5) * 700;
    const Bytes src(data + 3, data + size);

    std::vector<DeflateCodeEntry> litCodes(288), distCodes(30);  // the encoder reads 288 entries, 286 are built
    DeflateCodeEntry* const lit = litCodes.data();
    DeflateCodeEntry* const dist = distCodes.data();
    Bytes headerBlock(286);  // 14 + 19 * 3 + 316 * 7 bits at most
    Kel8u* const header = headerBlock.data();
    Kel32s headerBytes = 0, headerBits = 0;
    bool dynamic = mode != 0 && !src.empty();  // with no input the encoder never runs to write a header
    if (dynamic) {
        std::vector<Kel32s> heads(hashSize, -32768);
        std::vector<Kel32u> litCounts(286), distCounts(30);
        Kel32u* const litCount = litCounts.data();
        Kel32u* const distCount = distCounts.data();
        const Kel8u* p = src.data();
        Kel32s len = Kel32s(src.size());
        Kel32u pos = firstPos;
        // In pieces, as the encoder runs: every call must advance, and positions must never pass 2^31.
        for (std::size_t got = 0; got < src.size();) {
            const std::size_t end = std::min(src.size(), got + piece);
            len = Kel32s(end - got);
            const Kel32u flush = end == src.size() ? 2 : 0;
            const Kel32u before = pos;
            if (kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, p, windowSize, heads.data(), hashSize, litCount,
                                                 distCount, flush) != kelStatusOk) {
                std::abort();
            }
            const std::size_t now = std::size_t(p - src.data());
            if (pos > 0x7FFFFFFFu || (pos != before + (now - got) && pos != windowSize + (now - got))) std::abort();
            // A final call leaves at most three bytes uncounted; a call that may hold bytes back gets more next.
            if (flush == 2) {
                if (src.size() - now > 3) std::abort();
                break;
            }
            if (now == got && end - got > 300) std::abort();
            got = now;
        }
        const KelStatus gs = kelsDeflateLZ77FastestGenHuffTable_8u(litCount, distCount, lit, dist);
        if (gs == kelStatusCodeLengthLimit) {
            dynamic = false;
        } else if (gs != kelStatusOk ||
                   kelsDeflateLZ77FastestGenHeader_8u(lit, dist, header, &headerBytes, &headerBits) != kelStatusOk ||
                   headerBytes > 286) {
            std::abort();
        }
    }

    std::vector<Kel32s> heads(hashSize, -32768);
    Kel16u pending = dynamic ? 5 : 3;  // final block, type 2 or 1
    Kel32u pendingCount = 3, pos = firstPos;
    Bytes out;
    if (dynamic && firstPos != 0) {
        // Not at position 0 the encoder continues a block: the caller writes its header.
        out.assign(header, header + headerBits / 8);
        pendingCount = Kel32u(headerBits % 8);
        pending = Kel16u(header[headerBits / 8] & ((1u << pendingCount) - 1));
    }
    std::size_t done = 0, avail = 0;
    Kel32u thisRoom = dynamic ? 600 : room;  // the header goes out with the first call
    while (done < src.size()) {
        avail = std::min(src.size(), std::max(avail, done) + piece);
        const Kel8u* p = src.data() + done;
        Kel32s len = Kel32s(avail - done);
        Bytes dst(thisRoom);
        Kel32u o = 0;
        const Kel32u flush = avail == src.size() ? 2 : 0;
        const KelStatus s = mode == 2 && dynamic
                                ? kelsDeflateLZ77FastestPrecompHeader_8u(
                                      &p, &len, &pos, p, windowSize, heads.data(), hashSize, &pending, &pendingCount,
                                      dst.data(), thisRoom, &o, lit, dist, header, headerBits, flush)
                                : kelsDeflateLZ77Fastest_8u(&p, &len, &pos, p, windowSize, heads.data(), hashSize,
                                                            &pending, &pendingCount, dst.data(), thisRoom, &o,
                                                            dynamic ? lit : nullptr, dynamic ? dist : nullptr, flush);
        // A short stream's forced first literal may ask for more room than a tiny destination has.
        if (s == kelStatusBadSize && thisRoom < 8 && avail <= 258) {
            thisRoom = 8;
            continue;
        }
        if (s != kelStatusOk || o > thisRoom || pendingCount > 16 || pos > 0x7FFFFFFFu) std::abort();
        out.insert(out.end(), dst.begin(), dst.begin() + o);
        const std::size_t now = std::size_t(p - src.data());
        const bool progress = now != done || o != 0;
        done = now;
        if (progress || flush == 0) {
            thisRoom = room;
        } else if (thisRoom < 8) {
            thisRoom = 8;
        } else {
            std::abort();  // a final call with room to spare must make progress
        }
    }

    // End of block (fixed: seven zero bits), then the last partial byte.
    std::uint64_t acc = pending & ((1u << pendingCount) - 1);
    unsigned n = pendingCount + (dynamic ? lit[256].codeLength : 7);
    if (dynamic) acc |= std::uint64_t(lit[256].freqOrCode) << pendingCount;
    for (; n >= 8; n -= 8, acc >>= 8) out.push_back(std::uint8_t(acc));
    if (n) out.push_back(std::uint8_t(acc));

    Bytes back;
    if (!inflateRaw(out, back, src.size()) || back != src) std::abort();
    return 0;
}
