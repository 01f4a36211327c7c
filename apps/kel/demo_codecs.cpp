// apps/kel/demo_codecs.cpp - the shared machinery of the codec rows of `kel demo`.
#include <string>

#include "kel/demo.h"

namespace kel::app {

std::vector<std::uint8_t> concatenateSamples(const std::vector<DemoSample>& samples) {
    std::vector<std::uint8_t> all;
    for (const auto& s : samples) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
}

CodecRow runStreamCodec(const std::string& name, const std::string& level, const std::vector<std::uint8_t>& input,
                        KelStreamFormat format, const KelStreamOptions& options) {
    CodecRow row;
    row.format = name;
    row.level = level;
    row.inBytes = double(input.size());
    std::vector<std::uint8_t> packed(kelStreamCompressBound(format, input.size(), &options));
    std::vector<std::uint8_t> unpacked(input.size());
    std::size_t packedLen = 0, unpackedLen = 0;
    KelStreamResult r = kelStreamEnd;
    row.compressSeconds = timeRepeated([&] {
        if (r != kelStreamEnd) return;
        packedLen = packed.size();
        r = kelStreamCompress(format, input.data(), input.size(), packed.data(), &packedLen, &options);
    });
    if (r != kelStreamEnd) {
        row.error = std::string("compression: ") + kelStreamResultText(r);
        return row;
    }
    row.outBytes = double(packedLen);
    row.decompressSeconds = timeRepeated([&] {
        if (r != kelStreamEnd) return;
        unpackedLen = unpacked.size();
        r = kelStreamDecompress(format, packed.data(), packedLen, unpacked.data(), &unpackedLen, &options);
    });
    if (r != kelStreamEnd) {
        row.error = std::string("decompression: ") + kelStreamResultText(r);
        return row;
    }
    row.verified = unpackedLen == input.size() && unpacked == input;
    return row;
}

}  // namespace kel::app
