// fuzz/kelbz2_decompress_fuzz.cpp - libkelbz2's BZ2_bzDecompress on arbitrary input fed in arbitrary pieces,
// against its one-shot BZ2_bzBuffToBuffDecompress, and a round trip of the same bytes through BZ2_bzCompress.
//
// The first byte picks the piece and room sizes (1 to 16 and 1 to 256 bytes) and the block size. Every piece and
// room is an exact-size heap block, so a sanitizer build flags any access past one. The piecewise decoder must
// end in one of libbz2's codes, and agree with the one-shot call: the same stream end with the same bytes, or the
// same error. The compressor's output must read back to exactly what went in.
#include <bzlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Outcome {
    int code = BZ_OK;
    std::vector<std::uint8_t> out;
};

Outcome decodeInPieces(const std::uint8_t* data, std::size_t size, std::size_t piece, std::size_t room) {
    bz_stream s{};
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) std::abort();
    Outcome run;
    std::size_t pos = 0;
    for (int idle = 0; idle < 2;) {
        const std::size_t n = size - pos < piece ? size - pos : piece;
        auto* in = static_cast<char*>(std::malloc(n ? n : 1));
        auto* out = static_cast<char*>(std::malloc(room));
        if (n) std::memcpy(in, data + pos, n);
        s.next_in = in;
        s.avail_in = static_cast<unsigned>(n);
        s.next_out = out;
        s.avail_out = static_cast<unsigned>(room);
        run.code = BZ2_bzDecompress(&s);
        const std::size_t taken = n - s.avail_in, made = room - s.avail_out;
        if (taken > n || made > room) std::abort();
        pos += taken;
        run.out.insert(run.out.end(), out, out + made);
        std::free(in);
        std::free(out);
        if (run.code != BZ_OK) break;
        idle = (taken == 0 && made == 0) ? idle + 1 : 0;
    }
    if (run.code == BZ_OK && pos != size) std::abort();  // input left over without an end or an error
    if (run.code != BZ_OK && run.code != BZ_STREAM_END && run.code != BZ_DATA_ERROR &&
        run.code != BZ_DATA_ERROR_MAGIC) {
        std::abort();
    }
    if (s.total_out_lo32 != static_cast<unsigned>(run.out.size())) std::abort();
    if (BZ2_bzDecompressEnd(&s) != BZ_OK) std::abort();
    return run;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1 << 20)) return 0;
    const std::size_t piece = (data[0] & 15) + 1;
    const std::size_t room = (static_cast<std::size_t>(data[0]) << 4 & 0xF0) + 1;
    const int level = data[0] % 9 + 1;
    ++data;
    --size;

    const Outcome run = decodeInPieces(data, size, piece, room);
    std::vector<char> whole(run.out.size() + 64);
    unsigned wholeLen = static_cast<unsigned>(whole.size());
    std::vector<char> src(data, data + size);
    src.push_back(0);  // never empty: a null source is BZ_PARAM_ERROR
    const int oneShot =
        BZ2_bzBuffToBuffDecompress(whole.data(), &wholeLen, src.data(), static_cast<unsigned>(size), 0, 0);
    if (run.code == BZ_STREAM_END) {
        if (oneShot != BZ_OK || wholeLen != run.out.size() ||
            (wholeLen && std::memcmp(whole.data(), run.out.data(), wholeLen))) {
            std::abort();
        }
    } else if (run.code != BZ_OK && oneShot != run.code) {
        std::abort();
    }

    unsigned packedLen = static_cast<unsigned>(size + size / 50 + 600);
    std::vector<char> packed(packedLen);
    if (BZ2_bzBuffToBuffCompress(packed.data(), &packedLen, src.data(), static_cast<unsigned>(size), level, 0, 0) !=
        BZ_OK) {
        std::abort();
    }
    const Outcome back = decodeInPieces(reinterpret_cast<std::uint8_t*>(packed.data()), packedLen, piece * 97, room);
    if (back.code != BZ_STREAM_END || back.out.size() != size || (size && std::memcmp(back.out.data(), data, size))) {
        std::abort();
    }
    return 0;
}
