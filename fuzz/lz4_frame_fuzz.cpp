// fuzz/lz4_frame_fuzz.cpp - the LZ4 frame reader on arbitrary input: an error or a result, never a crash.
//
// Inputs that do not start with the frame magic get it (and a valid descriptor) put in front half of the time,
// so that the block layer is reached. A result that the reader accepts must carry a consistent length.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stream/lz4_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> in(data, data + size);
    if (size > 0 && (data[0] & 1) && !kel::isLz4FrameMagic(data, size)) {
        // Magic, FLG (version 1, independent blocks, no checksums), BD (64 KiB), header checksum.
        const std::uint8_t head[] = {0x04, 0x22, 0x4D, 0x18, 0x60, 0x40, 0x82};
        in.insert(in.begin(), head, head + sizeof head);
    }
    std::vector<std::uint8_t> out;
    bool trailing = false;
    const std::string err = kel::lz4FrameDecompress(kel::memorySource(in, 4096), kel::memorySink(out), &trailing);
    if (err.empty() && out.size() > in.size() * 256 + 65536) std::abort();
    return 0;
}
