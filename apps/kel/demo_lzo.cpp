// apps/kel/demo_lzo.cpp - the LZO and LZSS rows of `kel demo`: the lzop file format and the LZSS container.
#include "kel/demo.h"

namespace kel::app {

void demoLzoFormats(const std::vector<DemoSample>& samples, DemoReport& report) {
    const std::vector<std::uint8_t> input = concatenateSamples(samples);
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    report.codecs.push_back(runStreamCodec("lzo", "-", input, kelFormatLzop, o));
    report.codecs.push_back(runStreamCodec("lzss", "-", input, kelFormatLzss, o));
}

}  // namespace kel::app
