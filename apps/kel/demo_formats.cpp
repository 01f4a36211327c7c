// apps/kel/demo_formats.cpp - the gzip, LZ4 and bzip2 rows of `kel demo`: each setting compresses all samples as
// one stream, decompresses the result and verifies it byte for byte.
#include "kel/demo.h"
#include "stream/bzip2_stream.h"
#include "stream/deflate_stream.h"
#include "stream/inflate_stream.h"
#include "stream/lz4_frame.h"

namespace kel::app {
namespace {

// level < 0 selects the single-pass fastest mode.
std::string gzipCompress(const ByteSource& in, const ByteSink& out, int level) {
    DeflateStream stream(DeflateFormat::Gzip, level < 0 ? 1 : level);
    if (level < 0) stream.setFastest();
    std::vector<std::uint8_t> buf(1 << 16);
    for (std::size_t got; (got = in(buf.data(), buf.size())) > 0;) {
        if (stream.write(buf.data(), got) != kelStatusOk) return "compression failed";
        if (!out(stream.output().data(), stream.output().size())) return "write error";
        stream.output().clear();
    }
    if (stream.finish() != kelStatusOk) return "compression failed";
    return out(stream.output().data(), stream.output().size()) ? "" : "write error";
}

std::string gunzip(const ByteSource& in, const ByteSink& out) { return inflateDecompress(InflateFormat::Gzip, in, out); }

}  // namespace

void demoCompressionFormats(const std::vector<DemoSample>& samples, DemoReport& report) {
    const std::vector<std::uint8_t> input = concatenateSamples(samples);
    for (int level : {1, 6, 9, -1}) {
        report.codecs.push_back(runStreamCodec(
            "gzip", level < 0 ? "fast" : std::to_string(level), input,
            [level](const ByteSource& in, const ByteSink& out) { return gzipCompress(in, out, level); }, gunzip));
    }
    for (int hc : {0, 9}) {
        Lz4FrameOptions options;
        options.hcLevel = hc;
        report.codecs.push_back(runStreamCodec(
            hc ? "lz4 hc" : "lz4", hc ? "9" : "-", input,
            [options](const ByteSource& in, const ByteSink& out) { return lz4FrameCompress(in, out, options); },
            [](const ByteSource& in, const ByteSink& out) { return lz4FrameDecompress(in, out); }));
    }
    report.codecs.push_back(runStreamCodec(
        "bzip2", "9", input, [](const ByteSource& in, const ByteSink& out) { return bzip2Compress(in, out, 9); },
        [](const ByteSource& in, const ByteSink& out) { return bzip2Decompress(in, out); }));
}

}  // namespace kel::app
