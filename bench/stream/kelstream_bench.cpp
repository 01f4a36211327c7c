// bench/stream/kelstream_bench.cpp - libkelstream beside the peers' own container code, and beside the bare
// primitives it is built on.
//
// Formats (kel: kelStream* calls; peers: zlib, libbz2, liblz4's frame API), over every corpus file and their
// concatenation, bytes of uncompressed data per second:
//   BM_GzipL1/L6/L9   gzip compression at levels 1, 6, 9: kelStreamProcess vs deflate (window bits 31)
//   BM_Gunzip         decompression of zlib's level-6 gzip file: kelStreamProcess vs inflate
//   BM_Bzip2          .bz2 compression, 900 kB blocks: kelStreamProcess vs BZ2_bzCompress
//   BM_Bunzip2        decompression of libbz2's file: kelStreamProcess vs BZ2_bzDecompress
//   Both sides stream in 64 KiB pieces of input and 64 KiB windows of output, the shape of a file filter.
//   BM_Lz4Frame       LZ4 frame compression, 4 MiB blocks, content checksum: kelStreamCompress vs
//                     LZ4F_compressFrame (whole buffer, one call each)
//   BM_Lz4FrameDecode decompression of liblz4's frame: kelStreamDecompress vs LZ4F_decompress
//
// Overhead of the library over the primitives it calls (impl "primitives": the same frame written or read by
// hand around kelsEncodeLZ4Safe_8u / kelsDecodeLZ4_8u; speedup below 1 is the library's cost, goal above 0.95):
//   BM_Lz4FrameOverhead       independent 4 MiB blocks, no checksums, over the corpus four times (three blocks);
//                             both sides produce the same bytes, checked before timing
//   BM_Lz4FrameDecodeOverhead decoding that frame
// bzip2 and Inflate have no such row: a hand-written driver for them would be a second copy of the library.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <lz4frame.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "keldc.h"
#include "kelstream.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPiece = 64 * 1024;

struct Input {
    std::string name;
    Bytes plain, gzip, bzip2, lz4;  // the peers' files, the decoders' common input
};

// ------------------------------------------------------------------------------------------------- kel streaming

// Runs src through a new stream in kPiece pieces, output into dst in kPiece windows; the size written, 0 on error.
std::size_t kelStreamPieces(KelStreamFormat format, KelStreamDirection dir, const KelStreamOptions* o, const Bytes& src,
                            Bytes& dst) {
    KelStream* s = nullptr;
    if (kelStreamCreate(&s, format, dir, o) != kelStreamOk) return 0;
    std::size_t in = 0, out = 0;
    KelStreamResult r = kelStreamOk;
    while (r == kelStreamOk) {
        std::size_t srcLen = std::min(kPiece, src.size() - in), dstLen = std::min(kPiece, dst.size() - out);
        const bool last = in + srcLen == src.size();
        r = kelStreamProcess(s, src.data() + in, &srcLen, dst.data() + out, &dstLen,
                             last ? kelFlushFinish : kelFlushNone);
        in += srcLen;
        out += dstLen;
        if (r == kelStreamOk && srcLen == 0 && dstLen == 0 && out == dst.size()) break;  // out of room
    }
    kelStreamFree(s);
    return r == kelStreamEnd ? out : 0;
}

KelStreamOptions levelOptions(int level) {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.level = level;
    return o;
}

// ------------------------------------------------------------------------------------------------------ peers

std::size_t zlibGzip(int level, const Bytes& src, Bytes& dst) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
    std::size_t in = 0;
    int r = Z_OK;
    while (r == Z_OK || r == Z_BUF_ERROR) {
        const std::size_t out = z.total_out;
        if (out == dst.size()) break;
        const std::size_t give = std::min(kPiece, src.size() - in);
        z.next_in = const_cast<Bytef*>(src.data() + in);
        z.avail_in = uInt(give);
        z.next_out = dst.data() + out;
        z.avail_out = uInt(std::min(kPiece, dst.size() - out));
        r = deflate(&z, in + give == src.size() ? Z_FINISH : Z_NO_FLUSH);
        in += give - z.avail_in;
    }
    const std::size_t n = r == Z_STREAM_END ? z.total_out : 0;
    deflateEnd(&z);
    return n;
}

std::size_t zlibGunzip(const Bytes& src, Bytes& dst) {
    z_stream z{};
    if (inflateInit2(&z, 31) != Z_OK) return 0;
    std::size_t in = 0;
    int r = Z_OK;
    while (r == Z_OK) {
        const std::size_t give = std::min(kPiece, src.size() - in), out = z.total_out;
        z.next_in = const_cast<Bytef*>(src.data() + in);
        z.avail_in = uInt(give);
        z.next_out = dst.data() + out;
        z.avail_out = uInt(std::min(kPiece, dst.size() - out));
        r = inflate(&z, Z_NO_FLUSH);
        in += give - z.avail_in;
        if (r == Z_BUF_ERROR && z.total_out < dst.size() && in < src.size()) r = Z_OK;
    }
    const std::size_t n = r == Z_STREAM_END ? z.total_out : 0;
    inflateEnd(&z);
    return n;
}

std::size_t bzCompress(const Bytes& src, Bytes& dst) {
    bz_stream b{};
    if (BZ2_bzCompressInit(&b, 9, 0, 0) != BZ_OK) return 0;
    std::size_t in = 0, out = 0;
    int r = BZ_RUN_OK;
    while (r == BZ_RUN_OK || r == BZ_FINISH_OK) {
        const std::size_t give = std::min(kPiece, src.size() - in), room = std::min(kPiece, dst.size() - out);
        if (room == 0) break;
        b.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(src.data() + in));
        b.avail_in = unsigned(give);
        b.next_out = reinterpret_cast<char*>(dst.data() + out);
        b.avail_out = unsigned(room);
        r = BZ2_bzCompress(&b, in + give == src.size() ? BZ_FINISH : BZ_RUN);
        in += give - b.avail_in;
        out += room - b.avail_out;
    }
    BZ2_bzCompressEnd(&b);
    return r == BZ_STREAM_END ? out : 0;
}

std::size_t bzDecompress(const Bytes& src, Bytes& dst) {
    bz_stream b{};
    if (BZ2_bzDecompressInit(&b, 0, 0) != BZ_OK) return 0;
    std::size_t in = 0, out = 0;
    int r = BZ_OK;
    while (r == BZ_OK) {
        const std::size_t give = std::min(kPiece, src.size() - in), room = std::min(kPiece, dst.size() - out);
        b.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(src.data() + in));
        b.avail_in = unsigned(give);
        b.next_out = reinterpret_cast<char*>(dst.data() + out);
        b.avail_out = unsigned(room);
        r = BZ2_bzDecompress(&b);
        in += give - b.avail_in;
        out += room - b.avail_out;
        if (r == BZ_OK && give == 0 && room == 0) break;
    }
    BZ2_bzDecompressEnd(&b);
    return r == BZ_STREAM_END ? out : 0;
}

LZ4F_preferences_t lz4Prefs() {
    LZ4F_preferences_t p;
    std::memset(&p, 0, sizeof p);
    p.frameInfo.blockSizeID = LZ4F_max4MB;
    p.frameInfo.blockMode = LZ4F_blockIndependent;
    p.frameInfo.contentChecksumFlag = LZ4F_contentChecksumEnabled;
    return p;
}

std::size_t lz4fCompress(const Bytes& src, Bytes& dst) {
    const LZ4F_preferences_t p = lz4Prefs();
    const std::size_t n = LZ4F_compressFrame(dst.data(), dst.size(), src.data(), src.size(), &p);
    return LZ4F_isError(n) ? 0 : n;
}

std::size_t lz4fDecompress(const Bytes& src, Bytes& dst) {
    LZ4F_dctx* d = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&d, LZ4F_VERSION))) return 0;
    std::size_t in = 0, out = 0, hint = 1;
    while (hint != 0 && in < src.size()) {
        std::size_t srcLen = src.size() - in, dstLen = dst.size() - out;
        hint = LZ4F_decompress(d, dst.data() + out, &dstLen, src.data() + in, &srcLen, nullptr);
        if (LZ4F_isError(hint)) break;
        in += srcLen;
        out += dstLen;
    }
    LZ4F_freeDecompressionContext(d);
    return hint == 0 ? out : 0;
}

// ------------------------------------------------------------------------------------- the bare primitives

// xxHash32 of a few bytes (the frame descriptor): the short-input path of the published algorithm.
std::uint32_t xxh32Short(const std::uint8_t* p, std::size_t n) {
    constexpr std::uint32_t k1 = 2654435761u, k2 = 2246822519u, k3 = 3266489917u, k4 = 668265263u, k5 = 374761393u;
    auto rotl = [](std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); };
    std::uint32_t h = k5 + std::uint32_t(n);
    for (; n >= 4; p += 4, n -= 4) {
        h += (std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24) *
             k3;
        h = rotl(h, 17) * k4;
    }
    for (; n; ++p, --n) h = rotl(h + *p * k5, 11) * k1;
    h ^= h >> 15, h *= k2, h ^= h >> 13, h *= k3, h ^= h >> 16;
    return h;
}

void put32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v), p[1] = std::uint8_t(v >> 8), p[2] = std::uint8_t(v >> 16), p[3] = std::uint8_t(v >> 24);
}
std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

constexpr std::size_t kBlock = 4u << 20;
constexpr std::uint32_t kStored = 0x80000000u;

KelStreamOptions overheadOptions() {
    KelStreamOptions o;
    kelStreamDefaultOptions(&o);
    o.lz4BlockSizeId = 7;
    o.lz4ContentChecksum = 0;
    return o;
}

// What the library does for those options, written out: header, then per block the bounded encoder with a
// capacity one below the block (a block that does not shrink is stored), then the end mark.
std::size_t primitivesLz4Frame(const Bytes& src, Bytes& dst) {
    static thread_local Bytes table;
    Kel32u tableBytes = 0;
    kelsEncodeLZ4HashTableGetSize_8u(&tableBytes);
    table.resize(tableBytes);
    std::uint8_t* o = dst.data();
    put32(o, 0x184D2204u);
    o[4] = 0x60;    // version 1, independent blocks, no checksums, no content size
    o[5] = 7 << 4;  // 4 MiB blocks
    o[6] = std::uint8_t(xxh32Short(o + 4, 2) >> 8);
    o += 7;
    for (std::size_t at = 0; at < src.size(); at += kBlock) {
        const int n = int(std::min(kBlock, src.size() - at));
        int len = n, packed = n - 1;
        KelStatus st = n > 1 ? kelsEncodeLZ4Safe_8u(src.data() + at, &len, o + 4, &packed, table.data()) : 1;
        if (st == kelStatusOk && len == n) {
            put32(o, std::uint32_t(packed));
            o += 4 + packed;
        } else {
            put32(o, std::uint32_t(n) | kStored);
            std::memcpy(o + 4, src.data() + at, std::size_t(n));
            o += 4 + n;
        }
    }
    put32(o, 0);
    return std::size_t(o + 4 - dst.data());
}

// Reads the frame primitivesLz4Frame writes (independent blocks, no checksums); 0 on anything else.
std::size_t primitivesLz4Decode(const Bytes& src, Bytes& dst) {
    if (src.size() < 11 || get32(src.data()) != 0x184D2204u || src[4] != 0x60) return 0;
    std::size_t in = 7, out = 0;
    for (;;) {
        if (in + 4 > src.size()) return 0;
        const std::uint32_t word = get32(src.data() + in);
        in += 4;
        if (word == 0) return out;
        const std::size_t n = word & ~kStored;
        if (n > src.size() - in || n > kBlock) return 0;
        if (word & kStored) {
            if (n > dst.size() - out) return 0;
            std::memcpy(dst.data() + out, src.data() + in, n);
            out += n;
        } else {
            int dstLen = int(std::min(kBlock, dst.size() - out));
            if (dstLen < 1 || kelsDecodeLZ4_8u(src.data() + in, int(n), dst.data() + out, &dstLen) != kelStatusOk) {
                return 0;
            }
            out += std::size_t(dstLen);
        }
        in += n;
    }
}

// --------------------------------------------------------------------------------------------------- inputs

const std::vector<Input>& inputs() {
    static const std::vector<Input> all = [] {
        std::vector<Input> v;
        for (const auto& n : kel::bench::corpusFileNames()) v.push_back({n, kel::bench::readCorpusFile(n), {}, {}, {}});
        v.push_back({"all", kel::bench::corpusAll(), {}, {}, {}});
        for (auto& in : v) {
            Bytes room(in.plain.size() + in.plain.size() / 2 + (1 << 20));
            in.gzip.assign(room.begin(), room.begin() + std::ptrdiff_t(zlibGzip(6, in.plain, room)));
            in.bzip2.assign(room.begin(), room.begin() + std::ptrdiff_t(bzCompress(in.plain, room)));
            in.lz4.assign(room.begin(), room.begin() + std::ptrdiff_t(lz4fCompress(in.plain, room)));
        }
        return v;
    }();
    return all;
}

const Bytes& overheadInput() {
    static const Bytes x4 = [] {
        Bytes v;
        for (int i = 0; i < 4; ++i) v.insert(v.end(), kel::bench::corpusAll().begin(), kel::bench::corpusAll().end());
        return v;
    }();
    return x4;
}

// ------------------------------------------------------------------------------------------------ benchmarks

using Codec = std::size_t (*)(const Bytes& src, Bytes& dst);
using Check = std::size_t (*)(const Bytes& src, Bytes& dst);  // a peer decoder that verifies compressed output

// Times compression of `plain`; before timing, the output must decode back through `check`.
void runCompress(benchmark::State& state, const Bytes& plain, Codec codec, Check check) {
    Bytes dst(plain.size() + plain.size() / 2 + (1 << 20)), back(plain.size() + 1);
    const std::size_t n = codec(plain, dst);
    Bytes packed(dst.begin(), dst.begin() + std::ptrdiff_t(n));
    if (n == 0 || check(packed, back) != plain.size() || !std::equal(plain.begin(), plain.end(), back.begin())) {
        state.SkipWithError("compressed output does not decode back");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(codec(plain, dst));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(plain.size()));
    state.counters["ratio"] = double(plain.size()) / double(n);
}

void runDecompress(benchmark::State& state, const Bytes& packed, const Bytes& plain, Codec codec) {
    Bytes dst(plain.size());
    if (packed.empty() || codec(packed, dst) != plain.size() || dst != plain) {
        state.SkipWithError("decode mismatch");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(codec(packed, dst));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(plain.size()));
}

template <int Level>
std::size_t kelGzip(const Bytes& src, Bytes& dst) {
    static const KelStreamOptions o = levelOptions(Level);
    return kelStreamPieces(kelFormatGzip, kelCompress, &o, src, dst);
}
template <int Level>
std::size_t peerGzip(const Bytes& src, Bytes& dst) {
    return zlibGzip(Level, src, dst);
}
std::size_t kelGunzip(const Bytes& src, Bytes& dst) {
    return kelStreamPieces(kelFormatGzip, kelDecompress, nullptr, src, dst);
}
std::size_t kelBzip2(const Bytes& src, Bytes& dst) {
    static const KelStreamOptions o = levelOptions(9);
    return kelStreamPieces(kelFormatBzip2, kelCompress, &o, src, dst);
}
std::size_t kelBunzip2(const Bytes& src, Bytes& dst) {
    return kelStreamPieces(kelFormatBzip2, kelDecompress, nullptr, src, dst);
}
std::size_t kelLz4(const Bytes& src, Bytes& dst) {
    std::size_t n = dst.size();
    return kelStreamCompress(kelFormatLz4, src.data(), src.size(), dst.data(), &n, nullptr) == kelStreamEnd ? n : 0;
}
std::size_t kelUnlz4(const Bytes& src, Bytes& dst) {
    std::size_t n = dst.size();
    return kelStreamDecompress(kelFormatLz4, src.data(), src.size(), dst.data(), &n, nullptr) == kelStreamEnd ? n : 0;
}
std::size_t kelLz4Overhead(const Bytes& src, Bytes& dst) {
    static const KelStreamOptions o = overheadOptions();
    std::size_t n = dst.size();
    return kelStreamCompress(kelFormatLz4, src.data(), src.size(), dst.data(), &n, &o) == kelStreamEnd ? n : 0;
}

const int kRegistered = [] {
    struct Compressor {
        const char* family;
        const char* peer;
        Codec kel, other;
        Check check;
    };
    static const Compressor compressors[] = {
        {"BM_GzipL1", "zlib", kelGzip<1>, peerGzip<1>, zlibGunzip},
        {"BM_GzipL6", "zlib", kelGzip<6>, peerGzip<6>, zlibGunzip},
        {"BM_GzipL9", "zlib", kelGzip<9>, peerGzip<9>, zlibGunzip},
        {"BM_Bzip2", "libbz2", kelBzip2, bzCompress, bzDecompress},
        {"BM_Lz4Frame", "liblz4", kelLz4, lz4fCompress, lz4fDecompress},
    };
    struct Decompressor {
        const char* family;
        const char* peer;
        Codec kel, other;
        Bytes Input::*packed;
    };
    static const Decompressor decompressors[] = {
        {"BM_Gunzip", "zlib", kelGunzip, zlibGunzip, &Input::gzip},
        {"BM_Bunzip2", "libbz2", kelBunzip2, bzDecompress, &Input::bzip2},
        {"BM_Lz4FrameDecode", "liblz4", kelUnlz4, lz4fDecompress, &Input::lz4},
    };
    for (std::size_t i = 0; i < inputs().size(); ++i) {
        const std::string input = "/" + inputs()[i].name;
        for (const Compressor& c : compressors) {
            for (const auto& [impl, codec] : {std::pair{"kel", c.kel}, std::pair{c.peer, c.other}}) {
                const Codec fn = codec;  // a structured binding is not captured by every compiler
                const Check check = c.check;
                benchmark::RegisterBenchmark(
                    (std::string(c.family) + "/" + impl + input).c_str(),
                    [i, fn, check](benchmark::State& st) { runCompress(st, inputs()[i].plain, fn, check); });
            }
        }
        for (const Decompressor& d : decompressors) {
            for (const auto& [impl, codec] : {std::pair{"kel", d.kel}, std::pair{d.peer, d.other}}) {
                const Codec fn = codec;
                const auto member = d.packed;
                benchmark::RegisterBenchmark((std::string(d.family) + "/" + impl + input).c_str(),
                                             [i, fn, member](benchmark::State& st) {
                                                 runDecompress(st, inputs()[i].*member, inputs()[i].plain, fn);
                                             });
            }
        }
    }

    // The library's cost over the primitives: the same frame both ways, so only the stream machinery differs.
    benchmark::RegisterBenchmark("BM_Lz4FrameOverhead/kel/all_x4", [](benchmark::State& st) {
        Bytes a(overheadInput().size() + (1 << 20)), b(a.size());
        const std::size_t na = kelLz4Overhead(overheadInput(), a), nb = primitivesLz4Frame(overheadInput(), b);
        if (na == 0 || na != nb || !std::equal(a.begin(), a.begin() + std::ptrdiff_t(na), b.begin())) {
            st.SkipWithError("the library and the hand-written frame differ");
            return;
        }
        runCompress(st, overheadInput(), kelLz4Overhead, primitivesLz4Decode);
    });
    benchmark::RegisterBenchmark("BM_Lz4FrameOverhead/primitives/all_x4", [](benchmark::State& st) {
        runCompress(st, overheadInput(), primitivesLz4Frame, primitivesLz4Decode);
    });
    static Bytes overheadFrame;
    auto frame = []() -> const Bytes& {
        if (overheadFrame.empty()) {
            Bytes dst(overheadInput().size() + (1 << 20));
            overheadFrame.assign(dst.begin(), dst.begin() + std::ptrdiff_t(primitivesLz4Frame(overheadInput(), dst)));
        }
        return overheadFrame;
    };
    benchmark::RegisterBenchmark("BM_Lz4FrameDecodeOverhead/kel/all_x4", [frame](benchmark::State& st) {
        runDecompress(st, frame(), overheadInput(), kelUnlz4);
    });
    benchmark::RegisterBenchmark("BM_Lz4FrameDecodeOverhead/primitives/all_x4", [frame](benchmark::State& st) {
        runDecompress(st, frame(), overheadInput(), primitivesLz4Decode);
    });
    return 0;
}();

}  // namespace
