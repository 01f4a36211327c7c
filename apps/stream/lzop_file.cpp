// apps/stream/lzop_file.cpp - the lzop file format over the LZO1X codec.
#include "stream/lzop_file.h"

#include <algorithm>
#include <vector>

#include "keldc.h"

namespace kel {
namespace {

constexpr std::uint8_t kMagic[9] = {0x89, 'L', 'Z', 'O', 0x00, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint16_t kVersion = 0x1040;        // the lzop release whose format this follows
constexpr std::uint16_t kLibVersion = 0x20A0;
constexpr std::uint16_t kVersionNeeded = 0x0940;  // first release with the level byte and the 64-bit mtime
constexpr std::uint8_t kMethodLzo1x1 = 1;         // methods 1 (LZO1X-1), 2 (LZO1X-1(15)) and 3 (LZO1X-999)
constexpr std::uint8_t kMethodLzo1x999 = 3;       // all decode with the same LZO1X decoder
constexpr std::uint32_t kBlockSize = 256 * 1024;
constexpr std::uint32_t kMaxBlockSize = 64 * 1024 * 1024;

// Header and block flags.
constexpr std::uint32_t kAdler32D = 0x0001;      // Adler-32 of each block's decoded data
constexpr std::uint32_t kAdler32C = 0x0002;      // Adler-32 of each block's coded data (when it shrank)
constexpr std::uint32_t kExtraField = 0x0040;
constexpr std::uint32_t kCrc32D = 0x0100;
constexpr std::uint32_t kCrc32C = 0x0200;
constexpr std::uint32_t kMultipart = 0x0400;
constexpr std::uint32_t kFilter = 0x0800;
constexpr std::uint32_t kHeaderCrc32 = 0x1000;
constexpr std::uint32_t kOsUnix = 0x03000000;

void putBe16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(std::uint8_t(x >> 8));
    v.push_back(std::uint8_t(x));
}

void putBe32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    putBe16(v, x >> 16);
    putBe16(v, x & 0xFFFF);
}

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

std::uint32_t adler32(const std::uint8_t* p, std::size_t n) {
    Kel32u sum = 1;
    while (n > 0) {
        const int piece = n > (1u << 30) ? (1 << 30) : int(n);
        kelsAdler32_8u(p, piece, &sum);
        p += piece;
        n -= std::size_t(piece);
    }
    return sum;
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    Kel32u crc = 0;
    if (n) kelsCRC32_8u(p, int(n), &crc);
    return crc;
}

}  // namespace

bool isLzopMagic(const std::uint8_t* data, std::size_t len) {
    if (len < sizeof kMagic) return false;
    for (std::size_t k = 0; k < sizeof kMagic; ++k) {
        if (data[k] != kMagic[k]) return false;
    }
    return true;
}

LzopWriter::LzopWriter(const LzopOptions& options) {
    out_.assign(kMagic, kMagic + sizeof kMagic);
    const std::size_t checked = out_.size();
    putBe16(out_, kVersion);
    putBe16(out_, kLibVersion);
    putBe16(out_, kVersionNeeded);
    out_.push_back(kMethodLzo1x1);
    out_.push_back(5);  // the level lzop records for its default method
    putBe32(out_, kAdler32D | kAdler32C | kOsUnix);
    putBe32(out_, options.mode);
    putBe32(out_, std::uint32_t(options.mtime));
    putBe32(out_, std::uint32_t(options.mtime >> 32));
    const std::string name = options.name.size() > 255 ? options.name.substr(0, 255) : options.name;
    out_.push_back(std::uint8_t(name.size()));
    out_.insert(out_.end(), name.begin(), name.end());
    putBe32(out_, adler32(out_.data() + checked, out_.size() - checked));

    Kel32u stateSize = 0;
    kelsEncodeLZOGetSize(0, kBlockSize, &stateSize);
    state_.resize(stateSize);
    kelsEncodeLZOInit_8u(0, kBlockSize, reinterpret_cast<LZOState_8u*>(state_.data()));
    coded_.resize(kBlockSize + kBlockSize / 16 + 67);
    block_.reserve(kBlockSize);
}

void LzopWriter::write(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const std::size_t take = std::min<std::size_t>(n, kBlockSize - block_.size());
        block_.insert(block_.end(), data, data + take);
        data += take;
        n -= take;
        if (block_.size() == kBlockSize) emitBlock();
    }
}

void LzopWriter::emitBlock() {
    const std::size_t n = block_.size();
    if (n == 0) return;
    Kel32u codedLen = 0;
    kelsEncodeLZO_8u(block_.data(), Kel32u(n), coded_.data(), &codedLen, reinterpret_cast<LZOState_8u*>(state_.data()));
    const bool stored = codedLen >= n;
    putBe32(out_, std::uint32_t(n));
    putBe32(out_, stored ? std::uint32_t(n) : codedLen);
    putBe32(out_, adler32(block_.data(), n));
    if (!stored) putBe32(out_, adler32(coded_.data(), codedLen));
    const std::uint8_t* body = stored ? block_.data() : coded_.data();
    out_.insert(out_.end(), body, body + (stored ? n : codedLen));
    block_.clear();
}

void LzopWriter::finish() {
    if (finished_) return;
    emitBlock();
    putBe32(out_, 0);
    finished_ = true;
}

std::string lzopCompress(const ByteSource& in, const ByteSink& out, const LzopOptions& options) {
    LzopWriter writer(options);
    return pumpWriter(writer, in, out);
}

std::string lzopDecompress(const ByteSource& in, const ByteSink& out) {
    SourceReader reader(in);
    std::uint8_t fixed[9 + 2 + 2 + 2 + 1 + 1 + 4];
    if (!reader.readExact(fixed, sizeof fixed)) return "truncated input";
    if (!isLzopMagic(fixed, sizeof fixed)) return "corrupt input: not an lzop file";
    const std::uint16_t version = std::uint16_t((fixed[9] << 8) | fixed[10]);
    if (version < kVersionNeeded) return "corrupt input: lzop format version too old";
    const std::uint8_t method = fixed[15];
    if (method < kMethodLzo1x1 || method > kMethodLzo1x999) return "corrupt input: unsupported lzop method";
    const std::uint32_t flags = be32(fixed + 17);
    if (flags & (kMultipart | kFilter)) return "corrupt input: unsupported lzop flags (filter or multipart)";

    std::vector<std::uint8_t> header(fixed + 9, fixed + sizeof fixed);
    std::uint8_t rest[13];
    if (!reader.readExact(rest, sizeof rest)) return "truncated input";
    header.insert(header.end(), rest, rest + sizeof rest);
    std::vector<std::uint8_t> name(rest[12]);
    if (!reader.readExact(name.data(), name.size())) return "truncated input";
    header.insert(header.end(), name.begin(), name.end());
    std::uint8_t sum[4];
    if (!reader.readExact(sum, 4)) return "truncated input";
    const std::uint32_t headerSum =
        (flags & kHeaderCrc32) ? crc32(header.data(), header.size()) : adler32(header.data(), header.size());
    if (headerSum != be32(sum)) return "wrong checksum (header)";
    if (flags & kExtraField) {
        std::uint8_t len[4];
        if (!reader.readExact(len, 4)) return "truncated input";
        if (be32(len) > kMaxBlockSize) return "corrupt input: extra field too long";
        std::vector<std::uint8_t> extra(be32(len) + 4u);
        if (!reader.readExact(extra.data(), extra.size())) return "truncated input";
    }

    std::vector<std::uint8_t> coded, block;
    for (;;) {
        std::uint8_t lens[8];
        if (!reader.readExact(lens, 4)) return "truncated input";
        const std::uint32_t dstLen = be32(lens);
        if (dstLen == 0) break;
        if (!reader.readExact(lens + 4, 4)) return "truncated input";
        const std::uint32_t srcLen = be32(lens + 4);
        if (dstLen > kMaxBlockSize || srcLen > dstLen || srcLen == 0) return "corrupt input: bad block length";
        std::uint8_t sums[16];
        std::size_t nSums = 0;
        const bool coded_ = srcLen < dstLen;
        const int dSums = ((flags & kAdler32D) != 0) + ((flags & kCrc32D) != 0);
        const int cSums = coded_ ? ((flags & kAdler32C) != 0) + ((flags & kCrc32C) != 0) : 0;
        nSums = 4 * std::size_t(dSums + cSums);
        if (!reader.readExact(sums, nSums)) return "truncated input";
        coded.resize(srcLen);
        if (!reader.readExact(coded.data(), srcLen)) return "truncated input";
        const std::uint8_t* sumPtr = sums;
        const std::uint32_t dAdler = (flags & kAdler32D) ? be32(sumPtr) : 0;
        if (flags & kAdler32D) sumPtr += 4;
        const std::uint32_t dCrc = (flags & kCrc32D) ? be32(sumPtr) : 0;
        if (flags & kCrc32D) sumPtr += 4;
        if (coded_) {
            if ((flags & kAdler32C) && adler32(coded.data(), srcLen) != be32(sumPtr)) return "wrong checksum";
            if (flags & kAdler32C) sumPtr += 4;
            if ((flags & kCrc32C) && crc32(coded.data(), srcLen) != be32(sumPtr)) return "wrong checksum";
            block.resize(dstLen);
            Kel32u produced = dstLen;
            if (kelsDecodeLZOSafe_8u(coded.data(), srcLen, block.data(), &produced) != kelStatusOk ||
                produced != dstLen) {
                return "corrupt input: damaged compressed block";
            }
        } else {
            block.swap(coded);
        }
        if ((flags & kAdler32D) && adler32(block.data(), dstLen) != dAdler) return "wrong checksum";
        if ((flags & kCrc32D) && crc32(block.data(), dstLen) != dCrc) return "wrong checksum";
        if (!out(block.data(), dstLen)) return "write error";
    }
    return "";
}

}  // namespace kel
