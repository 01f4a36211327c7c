// tests/dc/inflate/inflate_test_util.h - helpers shared by the Inflate suites: zlib as the reference encoder and a
// bit writer for hand-made block payloads.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_util.h"

namespace kel::test {

using Bytes = std::vector<std::uint8_t>;

// zlib's deflate: windowBits 15 zlib, -15 raw, 31 gzip.
inline Bytes zlibDeflate(const Bytes& src, int level, int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy);
    Bytes out(deflateBound(&z, src.size()) + 16);
    z.next_in = const_cast<Bytef*>(src.data());
    z.avail_in = uInt(src.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Text-like data with long repeats, short repeats and runs: every match shape an encoder emits.
inline Bytes repetitiveBytes(std::mt19937_64& rng, std::size_t n) {
    static const char* words[] = {"inflate ", "deflate ", "window ", "the ", "a ", "zzzzzzzzzzzzzzzzzzzzzzzzzzz", "\n"};
    Bytes v;
    while (v.size() < n) {
        const unsigned pick = unsigned(rng() % 10);
        if (pick < 7) {
            const std::string w = words[pick];
            v.insert(v.end(), w.begin(), w.end());
        } else if (pick == 7 && v.size() > 300) {
            const std::size_t from = v.size() - 1 - rng() % 300, len = 3 + rng() % 300;
            for (std::size_t k = 0; k < len; ++k) v.push_back(v[from + k]);
        } else {
            v.insert(v.end(), 1 + rng() % 40, std::uint8_t(rng()));
        }
    }
    v.resize(n);
    return v;
}

// LSB-first bit writer for hand-made Deflate payloads; Huffman codes go in most-significant bit first.
class BitWriter {
public:
    void bits(std::uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) put((v >> i) & 1u);
    }
    void code(std::uint32_t c, unsigned len) {
        for (unsigned i = len; i-- > 0;) put((c >> i) & 1u);
    }
    std::size_t bitCount() const { return count_; }
    // The bytes written so far, the last one padded with zero bits.
    const Bytes& bytes() const { return bytes_; }

private:
    void put(unsigned b) {
        if (count_ % 8 == 0) bytes_.push_back(0);
        bytes_.back() |= std::uint8_t(b << (count_ % 8));
        ++count_;
    }
    Bytes bytes_;
    std::size_t count_ = 0;
};

// RFC 1951 length and distance symbol tables.
constexpr unsigned kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr unsigned kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

inline unsigned lengthSymbol(unsigned len) {
    unsigned s = 28;  // 258 is symbol 285 (index 28); shorter lengths take the largest base not above them
    while (kLenBase[s] > len) --s;
    return s;
}

inline unsigned distanceSymbol(unsigned dist) {
    unsigned s = 29;
    while (kDistBase[s] > dist) --s;
    return s;
}

// Canonical codes of a length set (RFC 1951, 3.2.2).
inline std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint16_t>& lens) {
    unsigned count[16] = {}, next[16] = {};
    for (auto l : lens) ++count[l];
    count[0] = 0;
    unsigned code = 0;
    for (unsigned len = 1; len < 16; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<std::uint32_t> codes(lens.size());
    for (std::size_t i = 0; i < lens.size(); ++i) codes[i] = lens[i] ? next[lens[i]]++ : 0;
    return codes;
}

// Writes payload symbols with given literal/length and distance code lengths.
class PayloadWriter {
public:
    PayloadWriter(std::vector<std::uint16_t> litLens, std::vector<std::uint16_t> distLens)
        : litLens_(std::move(litLens)),
          distLens_(std::move(distLens)),
          litCodes_(canonicalCodes(litLens_)),
          distCodes_(canonicalCodes(distLens_)) {}

    // The fixed code (symbols 0..287 and 0..31).
    static PayloadWriter fixed() {
        std::vector<std::uint16_t> lit(288), dist(32, 5);
        for (unsigned i = 0; i < 288; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        return PayloadWriter(lit, dist);
    }

    void symbol(unsigned s) { w.code(litCodes_[s], litLens_[s]); }
    void literal(std::uint8_t b) { symbol(b); }
    void endOfBlock() { symbol(256); }
    void distanceSym(unsigned d) { w.code(distCodes_[d], distLens_[d]); }
    void match(unsigned len, unsigned dist) {
        const unsigned ls = lengthSymbol(len), ds = distanceSymbol(dist);
        symbol(257 + ls);
        w.bits(len - kLenBase[ls], kLenExtra[ls]);
        distanceSym(ds);
        w.bits(dist - kDistBase[ds], kDistExtra[ds]);
    }
    const std::vector<std::uint16_t>& litLens() const { return litLens_; }
    const std::vector<std::uint16_t>& distLens() const { return distLens_; }

    BitWriter w;

private:
    std::vector<std::uint16_t> litLens_, distLens_;
    std::vector<std::uint32_t> litCodes_, distCodes_;
};

}  // namespace kel::test
