// fuzz/deflate_fuzz.cpp - whatever the input, level, mode, format, piece sizes and flushes, zlib's inflate restores
// exactly what libkelstream's gzip, zlib or raw Deflate compressor wrote, the output stays within
// kelStreamCompressBound when it is written in one go, and every sync flush leaves a decodable prefix.
//
// Input layout: byte 0 picks the level (mod 31: 30 is the fastest mode, 0 the default), byte 1 the format (mod 3)
// and whether a preset dictionary (the first quarter of the data) is used, byte 2 seeds the sizes of the input
// and output pieces and where sync flushes go; the rest is the data.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kelstream.h"

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
    const int pick = data[0] % 31;
    const KelStreamFormat formats[3] = {kelFormatDeflate, kelFormatZlib, kelFormatGzip};
    const KelStreamFormat format = formats[data[1] % 3];
    const bool useDict = format != kelFormatGzip && (data[1] & 0x80) != 0;
    std::uint32_t rng = 0x9E3779B9u * (data[2] + 1u);
    const std::uint8_t* src = data + 3;
    const std::size_t n = size - 3;
    const std::size_t dictLen = useDict ? n / 4 : 0;

    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = pick == 30 ? 0 : pick;
    o.fastest = pick == 30;
    if (useDict) {
        o.dictionary = src;
        o.dictionaryLen = dictLen;
    }
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, format, kelCompress, &o) != kelStreamOk) std::abort();
    std::vector<std::uint8_t> packed, buf(1 << 17);
    // Input consumed and output written at each completed sync flush.
    std::vector<std::size_t> flushPoints, flushBytes;
    for (std::size_t at = dictLen;;) {
        rng = rng * 1103515245u + 12345u;
        std::size_t piece = std::min<std::size_t>(n - at, (rng >> 8) % 70000 + 1);
        const bool last = at + piece == n;
        const KelStreamFlush flush = last ? kelFlushFinish : (rng >> 28) == 0 ? kelFlushSync : kelFlushNone;
        KelStreamResult r;
        do {
            rng = rng * 1103515245u + 12345u;
            std::size_t room = (rng >> 12) % 3 == 0 ? (rng >> 16) % 64 + 1 : buf.size();
            std::size_t srcLen = piece;
            r = kelStreamProcess(s, src + at, &srcLen, buf.data(), &room, flush);
            if (r < 0 || srcLen > piece || room > buf.size()) std::abort();
            at += srcLen;
            piece -= srcLen;
            packed.insert(packed.end(), buf.begin(), buf.begin() + room);
        } while (flush == kelFlushNone ? piece > 0 : flush == kelFlushSync ? r != kelStreamFlushed : r != kelStreamEnd);
        if (flush == kelFlushSync) {
            flushPoints.push_back(at);
            flushBytes.push_back(packed.size());
        }
        if (last) break;
    }
    kelStreamFree(s);

    const int windowBits = format == kelFormatDeflate ? -15 : format == kelFormatZlib ? 15 : 31;
    std::vector<std::uint8_t> restored;
    if (!inflateAll(packed, windowBits, useDict ? src : nullptr, dictLen, restored)) std::abort();
    if (restored.size() != n - dictLen || !std::equal(restored.begin(), restored.end(), src + dictLen)) std::abort();

    // The prefix up to each sync flush decodes to the input up to it.
    for (std::size_t k = 0; k < flushPoints.size() && k < 4; ++k) {
        z_stream z{};
        if (inflateInit2(&z, windowBits) != Z_OK) std::abort();
        if (useDict && windowBits < 0) inflateSetDictionary(&z, src, uInt(dictLen));
        std::vector<std::uint8_t> out(flushPoints[k] - dictLen + 1);
        z.next_in = packed.data();
        z.avail_in = uInt(flushBytes[k]);
        z.next_out = out.data();
        z.avail_out = uInt(out.size());
        int rc = inflate(&z, Z_SYNC_FLUSH);
        if (rc == Z_NEED_DICT) {
            inflateSetDictionary(&z, src, uInt(dictLen));
            rc = inflate(&z, Z_SYNC_FLUSH);
        }
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || z.total_out != flushPoints[k] - dictLen) std::abort();
        if (!std::equal(out.begin(), out.begin() + long(z.total_out), src + dictLen)) std::abort();
        inflateEnd(&z);
    }

    // One call with the bound's room.
    std::vector<std::uint8_t> whole(kelStreamCompressBound(format, n - dictLen, &o));
    std::size_t wholeLen = whole.size();
    if (kelStreamCompress(format, src + dictLen, n - dictLen, whole.data(), &wholeLen, &o) != kelStreamEnd)
        std::abort();
    whole.resize(wholeLen);
    if (flushPoints.empty() && whole != packed) std::abort();  // the pieces do not change the bytes
    return 0;
}
