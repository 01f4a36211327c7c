// fuzz/lz4_frame_fuzz.cpp - the LZ4 frame reader on arbitrary input: an error or a result, never a crash.
//
// Inputs that do not start with the frame magic get it and a valid descriptor put in front when their first byte
// is odd, so that the block layer is reached. The descriptor sits at the format's maxima: 4 MiB blocks, and by
// the first byte's other bits linked or independent blocks, block and content checksums, an 8-byte content size
// (all ones, or the input's own length) and a dictionary ID. A result that the reader accepts must carry a
// consistent length, and at least the content size that the descriptor declares.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stream/lz4_frame.h"
#include "stream/xxhash32.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> in(data, data + size);
    std::int64_t declared = -1;
    if (size > 0 && (data[0] & 1) && !kel::isLz4FrameMagic(data, size)) {
        const unsigned bits = data[0];
        // FLG: version 1; independent blocks (0x20), block checksums (0x10), content size (0x08), content checksum
        // (0x04) and dictionary ID (0x01) as the input's first byte chooses. BD: the largest block size, 4 MiB.
        const std::uint8_t flg =
            std::uint8_t(0x40 | (bits & 0x02 ? 0x20 : 0) | (bits & 0x04 ? 0x10 : 0) | (bits & 0x08 ? 0x08 : 0) |
                         (bits & 0x10 ? 0x04 : 0) | (bits & 0xE0) == 0xE0);
        std::vector<std::uint8_t> desc = {flg, 0x70};
        if (flg & 0x08) {
            // Either the largest value the field holds, or the length the payload has as stored blocks.
            const std::uint64_t value = (bits & 0x20) ? ~std::uint64_t(0) : std::uint64_t(size - 1);
            for (int k = 0; k < 8; ++k) desc.push_back(std::uint8_t(value >> (8 * k)));
            if (!(bits & 0x20)) declared = std::int64_t(value);
        }
        if (flg & 0x01) desc.insert(desc.end(), {0xFF, 0xFF, 0xFF, 0xFF});
        desc.push_back(std::uint8_t(kel::XxHash32::hash(desc.data(), desc.size()) >> 8));
        std::vector<std::uint8_t> head = {0x04, 0x22, 0x4D, 0x18};
        head.insert(head.end(), desc.begin(), desc.end());
        in.erase(in.begin());
        in.insert(in.begin(), head.begin(), head.end());
    }
    std::vector<std::uint8_t> out;
    bool trailing = false;
    const std::string err = kel::lz4FrameDecompress(kel::memorySource(in, 4096), kel::memorySink(out), &trailing);
    if (err.empty() && out.size() > in.size() * 256 + 65536) std::abort();
    // Further frames may follow the first, so its declared size is a lower bound of the whole output.
    if (err.empty() && declared >= 0 && out.size() < std::uint64_t(declared)) std::abort();
    return 0;
}
