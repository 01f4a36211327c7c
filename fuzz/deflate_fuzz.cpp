// fuzz/deflate_fuzz.cpp - whatever the input, level, format and write pattern, zlib's inflate restores exactly what
// the Deflate stream writer compressed.
//
// Input layout: byte 0 picks the level (mod 30), byte 1 the format (mod 3) and whether a preset dictionary (the
// first quarter of the data) is used, byte 2 seeds the sizes of the pieces written and where sync flushes go; the
// rest is the data. The writer is compiled into the target on top of the library's entry points.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "stream/deflate_stream.h"

namespace {

bool inflateAll(const std::vector<std::uint8_t>& in, int windowBits, const std::uint8_t* dict, std::size_t dictLen,
                std::vector<std::uint8_t>& out) {
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) return false;
    if (dict && windowBits < 0) inflateSetDictionary(&z, dict, uInt(dictLen));
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    std::uint8_t buf[1 << 14];
    int rc;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_NEED_DICT && dict) rc = inflateSetDictionary(&z, dict, uInt(dictLen));
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (rc == Z_OK);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int level = data[0] % 30;
    const auto format = static_cast<kel::DeflateFormat>(data[1] % 3);
    const bool useDict = format != kel::DeflateFormat::Gzip && (data[1] & 0x80) != 0;
    std::uint32_t rng = 0x9E3779B9u * (data[2] + 1u);
    const std::uint8_t* src = data + 3;
    const std::size_t n = size - 3;
    const std::size_t dictLen = useDict ? n / 4 : 0;

    kel::DeflateStream s(format, level);
    if (useDict && s.setDictionary(src, dictLen) != kelStatusOk) std::abort();
    std::vector<std::uint8_t> packed;
    for (std::size_t at = dictLen; at < n;) {
        rng = rng * 1103515245u + 12345u;
        const std::size_t piece = std::min<std::size_t>(n - at, (rng >> 8) % 70000 + 1);
        if (s.write(src + at, piece) != kelStatusOk) std::abort();
        at += piece;
        if ((rng >> 28) == 0 && s.flush() != kelStatusOk) std::abort();
        packed.insert(packed.end(), s.output().begin(), s.output().end());
        s.output().clear();
    }
    if (s.finish() != kelStatusOk) std::abort();
    packed.insert(packed.end(), s.output().begin(), s.output().end());

    const int windowBits = format == kel::DeflateFormat::Raw ? -15 : format == kel::DeflateFormat::Zlib ? 15 : 31;
    std::vector<std::uint8_t> restored;
    if (!inflateAll(packed, windowBits, useDict ? src : nullptr, dictLen, restored)) std::abort();
    if (restored.size() != n - dictLen || !std::equal(restored.begin(), restored.end(), src + dictLen)) std::abort();
    return 0;
}
