// apps/kel/demo_codecs.cpp - the shared machinery of the codec rows of `kel demo`.
#include "kel/demo.h"

namespace kel::app {

std::vector<std::uint8_t> concatenateSamples(const std::vector<DemoSample>& samples) {
    std::vector<std::uint8_t> all;
    for (const auto& s : samples) all.insert(all.end(), s.bytes.begin(), s.bytes.end());
    return all;
}

CodecRow runStreamCodec(const std::string& format, const std::string& level, const std::vector<std::uint8_t>& input,
                        const std::function<std::string(const ByteSource&, const ByteSink&)>& compress,
                        const std::function<std::string(const ByteSource&, const ByteSink&)>& decompress) {
    CodecRow row;
    row.format = format;
    row.level = level;
    row.inBytes = double(input.size());
    std::vector<std::uint8_t> packed, unpacked;
    row.compressSeconds = timeRepeated([&] {
        packed.clear();
        if (row.error.empty()) row.error = compress(memorySource(input), memorySink(packed));
    });
    row.outBytes = double(packed.size());
    if (!row.error.empty()) return row;
    row.decompressSeconds = timeRepeated([&] {
        unpacked.clear();
        if (row.error.empty()) row.error = decompress(memorySource(packed), memorySink(unpacked));
    });
    row.verified = row.error.empty() && unpacked == input;
    return row;
}

}  // namespace kel::app
