// apps/kel/demo_formats.cpp - the gzip, LZ4 and bzip2 rows of `kel demo`: each setting compresses all samples as
// one stream, decompresses the result and verifies it byte for byte.
#include "kel/demo.h"

namespace kel::app {

void demoCompressionFormats(const std::vector<DemoSample>& samples, DemoReport& report) {
    const std::vector<std::uint8_t> input = concatenateSamples(samples);
    KelStreamOptions o;
    // level < 0 selects the single-pass fastest mode.
    for (int level : {1, 6, 9, -1}) {
        kelStreamDefaultOptions(&o);
        o.level = level < 0 ? 1 : level;
        o.fastest = level < 0;
        report.codecs.push_back(
            runStreamCodec("gzip", level < 0 ? "fast" : std::to_string(level), input, kelFormatGzip, o));
    }
    for (int hc : {0, 9}) {
        kelStreamDefaultOptions(&o);
        o.lz4HighCompression = hc != 0;
        o.level = hc;
        report.codecs.push_back(runStreamCodec(hc ? "lz4 hc" : "lz4", hc ? "9" : "-", input, kelFormatLz4, o));
    }
    kelStreamDefaultOptions(&o);
    o.level = 9;
    report.codecs.push_back(runStreamCodec("bzip2", "9", input, kelFormatBzip2, o));
}

}  // namespace kel::app
