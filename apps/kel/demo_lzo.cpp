// apps/kel/demo_lzo.cpp - the LZO and LZSS rows of `kel demo`: the lzop file format and the LZSS container.
#include "kel/demo.h"
#include "stream/lzop_file.h"
#include "stream/lzss_file.h"

namespace kel::app {

void demoLzoFormats(const std::vector<DemoSample>& samples, DemoReport& report) {
    const std::vector<std::uint8_t> input = concatenateSamples(samples);
    report.codecs.push_back(runStreamCodec(
        "lzo", "-", input, [](const ByteSource& in, const ByteSink& out) { return lzopCompress(in, out); },
        lzopDecompress));
    report.codecs.push_back(runStreamCodec("lzss", "-", input, lzssCompress, lzssDecompress));
}

}  // namespace kel::app
