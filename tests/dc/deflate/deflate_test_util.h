// tests/dc/deflate/deflate_test_util.h - helpers of the Deflate encoder tests: zlib as the reference decoder, item
// expansion and repetitive test data.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

namespace kel::test {

// Inflates a whole stream with zlib. windowBits: -15 raw Deflate, 15 zlib, 31 gzip. A zlib stream that asks for a
// dictionary gets `dict`; a raw stream gets it up front. Returns false unless the stream ends cleanly with all
// input used.
inline bool zlibInflate(const std::vector<std::uint8_t>& in, int windowBits, std::vector<std::uint8_t>& out,
                        const std::vector<std::uint8_t>* dict = nullptr) {
    z_stream z{};
    if (inflateInit2(&z, windowBits) != Z_OK) return false;
    if (dict && windowBits < 0 && inflateSetDictionary(&z, dict->data(), uInt(dict->size())) != Z_OK) {
        inflateEnd(&z);
        return false;
    }
    out.clear();
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    std::uint8_t buf[1 << 15];
    int rc;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_NEED_DICT && dict) rc = inflateSetDictionary(&z, dict->data(), uInt(dict->size()));
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (rc == Z_OK);
    const bool ok = rc == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return ok;
}

// Bytes with long and short repeats at many distances: a random walk over a small vocabulary of random words,
// with occasional random bytes.
inline std::vector<std::uint8_t> repetitiveBytes(std::mt19937_64& rng, std::size_t n) {
    std::vector<std::vector<std::uint8_t>> words(64);
    for (auto& w : words) {
        w.resize(2 + rng() % 20);
        for (auto& b : w) b = std::uint8_t(rng() % 8 + 'a');
    }
    std::vector<std::uint8_t> v;
    while (v.size() < n) {
        if (rng() % 16 == 0) {
            v.push_back(std::uint8_t(rng()));
        } else if (rng() % 64 == 0 && v.size() > 300) {
            const std::size_t back = 1 + rng() % std::min<std::size_t>(v.size(), 40000);
            const std::size_t len = rng() % 400;
            for (std::size_t k = 0; k < len; ++k) v.push_back(v[v.size() - back]);
        } else {
            const auto& w = words[rng() % words.size()];
            v.insert(v.end(), w.begin(), w.end());
        }
    }
    v.resize(n);
    return v;
}

}  // namespace kel::test
