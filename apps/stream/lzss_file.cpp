// apps/stream/lzss_file.cpp - the LZSS container: magic, version, the bit stream, length and CRC-32 trailer.
#include "stream/lzss_file.h"

#include <vector>

#include "keldc.h"

namespace kel {
namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kTrailerSize = 12;
constexpr std::size_t kChunk = 1 << 18;  // input per encoder call: large chunks code better (see the encoder)

struct LzssState {
    std::vector<std::uint8_t> mem;
    LzssState() {
        int size = 0;
        kelsLZSSGetSize_8u(&size);
        mem.resize(std::size_t(size));
    }
    LZSSState_8u* get() { return reinterpret_cast<LZSSState_8u*>(mem.data()); }
};

void updateCrc(Kel32u& crc, const std::uint8_t* p, std::size_t n) {
    if (n) kelsCRC32_8u(p, int(n), &crc);
}

}  // namespace

bool isLzssMagic(const std::uint8_t* data, std::size_t len) {
    return len >= 4 && data[0] == kLzssFileMagic[0] && data[1] == kLzssFileMagic[1] &&
           data[2] == kLzssFileMagic[2] && data[3] == kLzssFileMagic[3];
}

LzssWriter::LzssWriter() : out_{kLzssFileMagic[0], kLzssFileMagic[1], kLzssFileMagic[2], kLzssFileMagic[3], kVersion} {
    int size = 0;
    kelsLZSSGetSize_8u(&size);
    state_.resize(std::size_t(size));
    kelsEncodeLZSSInit_8u(reinterpret_cast<LZSSState_8u*>(state_.data()));
    coded_.resize(kChunk * 9 / 8 + 64);
    chunk_.reserve(kChunk);
}

void LzssWriter::write(const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const std::size_t take = n < kChunk - chunk_.size() ? n : kChunk - chunk_.size();
        chunk_.insert(chunk_.end(), data, data + take);
        data += take;
        n -= take;
        if (chunk_.size() == kChunk) codeChunk();
    }
}

void LzssWriter::codeChunk() {
    if (chunk_.empty()) return;
    total_ += chunk_.size();
    Kel32u crc = crc_;
    updateCrc(crc, chunk_.data(), chunk_.size());
    crc_ = crc;
    const Kel8u* src = chunk_.data();
    Kel32u srcLen = Kel32u(chunk_.size());
    auto* st = reinterpret_cast<LZSSState_8u*>(state_.data());
    while (srcLen > 0) {
        Kel8u* dst = coded_.data();
        Kel32u room = Kel32u(coded_.size());
        kelsEncodeLZSS_8u(&src, &srcLen, &dst, &room, st);
        out_.insert(out_.end(), coded_.data(), dst);
    }
    chunk_.clear();
}

void LzssWriter::finish() {
    if (finished_) return;
    codeChunk();
    auto* st = reinterpret_cast<LZSSState_8u*>(state_.data());
    KelStatus flushed;
    do {
        Kel8u* dst = coded_.data();
        Kel32u room = Kel32u(coded_.size());
        flushed = kelsEncodeLZSSFlush_8u(&dst, &room, st);
        out_.insert(out_.end(), coded_.data(), dst);
    } while (flushed == kelStatusDstFull);
    for (int k = 0; k < 8; ++k) out_.push_back(std::uint8_t(total_ >> (8 * k)));
    for (int k = 0; k < 4; ++k) out_.push_back(std::uint8_t(crc_ >> (8 * k)));
    finished_ = true;
}

std::string lzssCompress(const ByteSource& in, const ByteSink& out) {
    LzssWriter writer;
    return pumpWriter(writer, in, out);
}

std::string lzssDecompress(const ByteSource& in, const ByteSink& out) {
    SourceReader reader(in);
    std::uint8_t head[5];
    if (!reader.readExact(head, sizeof head)) return "truncated input";
    if (!isLzssMagic(head, 4)) return "corrupt input: not an LZSS container";
    if (head[4] != kVersion) return "corrupt input: unknown LZSS container version";

    LzssState st;
    kelsDecodeLZSSInit_8u(st.get());
    // The last 12 bytes are the trailer, not stream: each piece read is decoded only up to what may still be
    // trailer, which stays behind in `held`.
    std::vector<std::uint8_t> held, piece(1 << 16), decoded(1 << 18);
    std::uint64_t total = 0;
    Kel32u crc = 0;
    for (;;) {
        const std::size_t got = reader.readSome(piece.data(), piece.size());
        if (got == 0) break;
        held.insert(held.end(), piece.data(), piece.data() + got);
        if (held.size() <= kTrailerSize) continue;
        const Kel8u* src = held.data();
        Kel32u srcLen = Kel32u(held.size() - kTrailerSize);
        while (srcLen > 0) {
            Kel8u* dst = decoded.data();
            Kel32u room = Kel32u(decoded.size());
            kelsDecodeLZSS_8u(&src, &srcLen, &dst, &room, st.get());
            const std::size_t produced = std::size_t(dst - decoded.data());
            total += produced;
            updateCrc(crc, decoded.data(), produced);
            if (!out(decoded.data(), produced)) return "write error";
        }
        held.erase(held.begin(), held.end() - kTrailerSize);
    }
    if (held.size() < kTrailerSize) return "truncated input";
    std::uint64_t expectTotal = 0;
    std::uint32_t expectCrc = 0;
    for (int k = 0; k < 8; ++k) expectTotal |= std::uint64_t(held[k]) << (8 * k);
    for (int k = 0; k < 4; ++k) expectCrc |= std::uint32_t(held[8 + k]) << (8 * k);
    if (total != expectTotal) return total < expectTotal ? "truncated input" : "corrupt input: length mismatch";
    if (crc != expectCrc) return "wrong checksum";
    return "";
}

}  // namespace kel
