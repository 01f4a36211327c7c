// fuzz/kelstream_lz4_fuzz.cpp - libkelstream's LZ4 decoder on arbitrary input, and its encoder in a round trip.
//
// Inputs that do not start with an LZ4 magic get the frame magic and a valid descriptor put in front when their
// first byte is odd, so that the block layer is reached. The descriptor sits at the format's maxima: 4 MiB blocks,
// and by the first byte's other bits linked or independent blocks, block and content checksums, an 8-byte content
// size (all ones, or the input's own length) and a dictionary ID. Input and output go through the streaming call
// in pieces whose sizes the input chooses. A result the decoder accepts must carry a consistent length, and at
// least the content size that the descriptor declares. Short inputs are also compressed with options their first
// byte chooses and must decode to themselves.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kelstream.h"
#include "stream/xxhash.cpp"  // the descriptor check byte; the library does not export the hash

namespace {

// Decodes in through pieces of 1 + (k * 977 % maxPiece) bytes; returns the result and sets *total.
KelStreamResult decodeAll(const std::vector<std::uint8_t>& in, std::size_t maxPiece, std::vector<std::uint8_t>* keep,
                          std::uint64_t* total) {
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, kelFormatLz4, kelDecompress, nullptr) != kelStreamOk) std::abort();
    std::vector<std::uint8_t> buf(1 << 16);
    std::size_t pos = 0, k = 0;
    KelStreamResult r = kelStreamOk;
    *total = 0;
    for (int idle = 0; idle < 4;) {
        const std::size_t piece = 1 + (++k * 977) % maxPiece;
        std::size_t srcLen = std::min(piece, in.size() - pos), dstLen = 1 + (k * 131) % buf.size();
        const bool last = pos + srcLen == in.size();
        r = kelStreamProcess(s, in.data() + pos, &srcLen, buf.data(), &dstLen, last ? kelFlushFinish : kelFlushNone);
        if (pos + srcLen > in.size() || dstLen > buf.size()) std::abort();
        pos += srcLen;
        *total += dstLen;
        if (keep) keep->insert(keep->end(), buf.begin(), buf.begin() + std::ptrdiff_t(dstLen));
        if (r != kelStreamOk) break;
        idle = srcLen == 0 && dstLen == 0 ? idle + 1 : 0;
    }
    if (r == kelStreamOk) std::abort();  // the last piece came with kelFlushFinish: the decoder must conclude
    kelStreamFree(s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> in(data, data + size);
    std::int64_t declared = -1;
    if (size > 0 && (data[0] & 1) && kelStreamDetectFormat(data, size) != kelFormatLz4) {
        const unsigned bits = data[0];
        // FLG: version 1; independent blocks (0x20), block checksums (0x10), content size (0x08), content checksum
        // (0x04) and dictionary ID (0x01) as the input's first byte chooses. BD: the largest block size, 4 MiB.
        const std::uint8_t flg =
            std::uint8_t(0x40 | (bits & 0x02 ? 0x20 : 0) | (bits & 0x04 ? 0x10 : 0) | (bits & 0x08 ? 0x08 : 0) |
                         (bits & 0x10 ? 0x04 : 0) | ((bits & 0xE0) == 0xE0 ? 0x01 : 0));
        std::vector<std::uint8_t> desc = {flg, 0x70};
        if (flg & 0x08) {
            // Either the largest value the field holds, or the length the payload has as stored blocks.
            const std::uint64_t value = (bits & 0x20) ? ~std::uint64_t(0) : std::uint64_t(size - 1);
            for (int k = 0; k < 8; ++k) desc.push_back(std::uint8_t(value >> (8 * k)));
            if (!(bits & 0x20)) declared = std::int64_t(value);
        }
        if (flg & 0x01) desc.insert(desc.end(), {0xFF, 0xFF, 0xFF, 0xFF});
        desc.push_back(std::uint8_t(kel::stream::XxHash32::hash(desc.data(), desc.size()) >> 8));
        std::vector<std::uint8_t> head = {0x04, 0x22, 0x4D, 0x18};
        head.insert(head.end(), desc.begin(), desc.end());
        in.erase(in.begin());
        in.insert(in.begin(), head.begin(), head.end());
    }
    std::uint64_t total = 0;
    const KelStreamResult r = decodeAll(in, size > 2 ? 1 + data[size - 1] % 4096 : 4096, nullptr, &total);
    const bool accepted = r == kelStreamEnd || r == kelStreamTrailingData;
    // Legacy blocks hold up to 8 MiB from about 32 KiB: no accepted input expands more than 255 times.
    if (accepted && total > std::uint64_t(in.size()) * 256 + 65536) std::abort();
    // Further frames may follow the first, so its declared size is a lower bound of the whole output.
    if (accepted && declared >= 0 && total < std::uint64_t(declared)) std::abort();

    if (size == 0 || size > 65536) return 0;
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    const unsigned bits = data[0];
    o.lz4BlockSizeId = 4 + (bits & 3);
    o.lz4Linked = bits & 4;
    o.lz4BlockChecksum = bits & 8;
    o.lz4ContentChecksum = bits & 16;
    o.lz4HighCompression = bits & 32;
    o.level = int(bits >> 6) * 3;
    o.contentSize = bits & 64 ? std::int64_t(size) : -1;
    std::vector<std::uint8_t> frame(kelStreamCompressBound(kelFormatLz4, size, &o));
    std::size_t frameLen = frame.size();
    if (kelStreamCompress(kelFormatLz4, data, size, frame.data(), &frameLen, &o) != kelStreamEnd) std::abort();
    frame.resize(frameLen);
    std::vector<std::uint8_t> back;
    if (decodeAll(frame, 1 + bits * 37 % 1000, &back, &total) != kelStreamEnd) std::abort();
    if (back.size() != size || std::memcmp(back.data(), data, size) != 0) std::abort();
    return 0;
}
