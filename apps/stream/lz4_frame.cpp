// apps/stream/lz4_frame.cpp - LZ4 frame writer and reader on the public kel LZ4 functions.
#include "stream/lz4_frame.h"

#include <algorithm>
#include <cstring>

#include "keldc.h"

namespace kel {
namespace {

constexpr std::uint32_t kFrameMagic = 0x184D2204u;
constexpr std::uint32_t kSkippableMagic = 0x184D2A50u;  // low four bits free
constexpr std::uint32_t kStoredFlag = 0x80000000u;
constexpr std::size_t kHistoryLen = 65536;
// The dictionary encoder counts stream positions in 31 bits; a linked stream restarts its count (and its history)
// before it gets near that.
constexpr std::int64_t kPositionRestart = std::int64_t(1) << 30;

std::uint32_t get32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(std::uint8_t(x >> (8 * i)));
}

std::size_t blockMaxOf(int id) {
    return std::size_t(1) << (8 + 2 * id);
}

// The worst-case block size plus the 8 bytes of scratch the unbounded encoders may write.
std::size_t packedBound(std::size_t n) {
    return n + n / 255 + 16 + 8;
}

}  // namespace

// ---- writer -------------------------------------------------------------------------------------------------

Lz4FrameWriter::Lz4FrameWriter(const Lz4FrameOptions& options) : opt_(options) {
    opt_.blockSizeId = std::clamp(opt_.blockSizeId, 4, 7);
    opt_.hcLevel = std::clamp(opt_.hcLevel, 0, kMaxLevel);
    blockMax_ = blockMaxOf(opt_.blockSizeId);
    Kel32u tableBytes = 0, hashBytes = 0, chainBytes = 0;
    kelsEncodeLZ4HashTableGetSize_8u(&tableBytes);
    table_.assign(tableBytes / 4, 0);
    if (opt_.hcLevel) {
        kelsEncodeLZ4HCHashTableGetSize_8u(&hashBytes, &chainBytes);
        hcHash_.assign(hashBytes / 4, 0);
        hcChain_.assign(chainBytes / 4, 0);
    }
    packed_.resize(packedBound(blockMax_));

    out_.clear();
    put32(out_, kFrameMagic);
    const std::size_t descStart = out_.size();
    out_.push_back(std::uint8_t(0x40 | (opt_.linkedBlocks ? 0 : 0x20) | (opt_.blockChecksum ? 0x10 : 0) |
                                (opt_.contentSize >= 0 ? 0x08 : 0) | (opt_.contentChecksum ? 0x04 : 0)));
    out_.push_back(std::uint8_t(opt_.blockSizeId << 4));
    if (opt_.contentSize >= 0) {
        put32(out_, std::uint32_t(opt_.contentSize));
        put32(out_, std::uint32_t(std::uint64_t(opt_.contentSize) >> 32));
    }
    out_.push_back(std::uint8_t(XxHash32::hash(out_.data() + descStart, out_.size() - descStart) >> 8));
}

KelStatus Lz4FrameWriter::write(const std::uint8_t* src, std::size_t n) {
    if (finished_) return kelStatusBadArgument;
    contentHash_.update(src, n);
    total_ += n;
    while (n > 0) {
        const std::size_t take = std::min(n, blockMax_ - pending_.size());
        pending_.insert(pending_.end(), src, src + take);
        src += take;
        n -= take;
        if (pending_.size() == blockMax_) {
            const KelStatus st = flushBlock();
            if (st != kelStatusOk) return st;
        }
    }
    return kelStatusOk;
}

KelStatus Lz4FrameWriter::finish() {
    if (finished_) return kelStatusOk;
    if (!pending_.empty()) {
        const KelStatus st = flushBlock();
        if (st != kelStatusOk) return st;
    }
    finished_ = true;
    put32(out_, 0);
    if (opt_.contentChecksum) put32(out_, contentHash_.digest());
    if (opt_.contentSize >= 0 && std::uint64_t(opt_.contentSize) != total_) return kelStatusBadSize;
    return kelStatusOk;
}

// Compresses the pending block; stores it as is when compression does not make it smaller.
KelStatus Lz4FrameWriter::flushBlock() {
    const std::uint8_t* src = pending_.data();
    const int n = int(pending_.size());
    int packedLen = -1;
    if (opt_.hcLevel) {
        Kel8u* tables[2] = {reinterpret_cast<Kel8u*>(hcHash_.data()), reinterpret_cast<Kel8u*>(hcChain_.data())};
        KelStatus st = kelsEncodeLZ4HCHashTableInit_8u(tables);
        const std::uint8_t* base = src;
        int srcIdx = 0;
        if (opt_.linkedBlocks && !history_.empty()) {
            hcInput_.assign(history_.begin(), history_.end());
            hcInput_.insert(hcInput_.end(), pending_.begin(), pending_.end());
            base = hcInput_.data();
            srcIdx = int(history_.size());
        }
        int srcLen = n, dstLen = 0;
        if (st == kelStatusOk) {
            st = kelsEncodeLZ4HC_8u(base, srcIdx, &srcLen, packed_.data(), &dstLen, tables, nullptr, 0, opt_.hcLevel);
        }
        if (st != kelStatusOk) return st;
        if (dstLen < n) packedLen = dstLen;
    } else if (n > 1) {
        // The bounded encoders with a capacity one below the block: a block that does not fit is stored.
        int srcLen = n, dstLen = n - 1;
        KelStatus st;
        Kel8u* table = reinterpret_cast<Kel8u*>(table_.data());
        if (opt_.linkedBlocks) {
            if (streamPos_ + n > kPositionRestart) {
                streamPos_ = 0;
                history_.clear();
            }
            st = kelsEncodeLZ4DictSafe_8u(src, int(streamPos_), &srcLen, packed_.data(), &dstLen, table,
                                          history_.empty() ? nullptr : history_.data(), int(history_.size()));
        } else {
            st = kelsEncodeLZ4Safe_8u(src, &srcLen, packed_.data(), &dstLen, table);
        }
        if (st < 0) return st;
        if (st == kelStatusOk && srcLen == n) packedLen = dstLen;
    }

    const std::uint8_t* data = packedLen >= 0 ? packed_.data() : src;
    const std::size_t len = packedLen >= 0 ? std::size_t(packedLen) : std::size_t(n);
    put32(out_, std::uint32_t(len) | (packedLen >= 0 ? 0 : kStoredFlag));
    out_.insert(out_.end(), data, data + len);
    if (opt_.blockChecksum) put32(out_, XxHash32::hash(data, len));
    if (opt_.linkedBlocks) rememberHistory(src, std::size_t(n));
    streamPos_ += n;
    pending_.clear();
    return kelStatusOk;
}

void Lz4FrameWriter::rememberHistory(const std::uint8_t* block, std::size_t n) {
    if (n >= kHistoryLen) {
        history_.assign(block + n - kHistoryLen, block + n);
        return;
    }
    const std::size_t keep = std::min(history_.size(), kHistoryLen - n);
    history_.erase(history_.begin(), history_.end() - std::ptrdiff_t(keep));
    history_.insert(history_.end(), block, block + n);
}

std::string lz4FrameCompress(const ByteSource& in, const ByteSink& out, const Lz4FrameOptions& options) {
    Lz4FrameWriter w(options);
    std::vector<std::uint8_t> buf(1 << 16);
    for (;;) {
        const std::size_t n = in(buf.data(), buf.size());
        if (n == 0) break;
        if (w.write(buf.data(), n) != kelStatusOk) return "compression failed";
        if (!w.output().empty()) {
            if (!out(w.output().data(), w.output().size())) return "write error";
            w.output().clear();
        }
    }
    if (w.finish() != kelStatusOk) return "compression failed";
    if (!out(w.output().data(), w.output().size())) return "write error";
    return "";
}

// ---- reader -------------------------------------------------------------------------------------------------

namespace {

class FrameReader {
public:
    FrameReader(SourceReader& in, const ByteSink& out) : in_(in), out_(out) {}

    // Decodes the frame whose magic has been read.
    std::string frame() {
        std::uint8_t desc[2 + 8 + 4 + 1];  // FLG, BD, content size, dictionary ID, header checksum
        if (!in_.readExact(desc, 2)) return "truncated input";
        const unsigned flg = desc[0], bd = desc[1];
        if ((flg >> 6) != 1) return "corrupt input: unsupported frame version";
        if ((flg & 0x02) || (bd & 0x8F)) return "corrupt input: reserved descriptor bits set";
        const int sizeId = int(bd >> 4) & 7;
        if (sizeId < 4) return "corrupt input: bad block size";
        const bool independent = flg & 0x20, blockSum = flg & 0x10, hasSize = flg & 0x08, contentSum = flg & 0x04;
        const std::size_t descLen = 2 + (hasSize ? 8 : 0) + ((flg & 0x01) ? 4 : 0);
        if (!in_.readExact(desc + 2, descLen - 2 + 1)) return "truncated input";
        if (desc[descLen] != std::uint8_t(XxHash32::hash(desc, descLen) >> 8)) return "wrong checksum";
        if (flg & 0x01) return "corrupt input: frames with a dictionary ID are not supported";
        const std::size_t blockMax = blockMaxOf(sizeId);

        XxHash32 content;
        std::uint64_t total = 0;
        history_.clear();
        std::vector<std::uint8_t> block;
        for (;;) {
            std::uint8_t word[4];
            if (!in_.readExact(word, 4)) return "truncated input";
            const std::uint32_t head = get32(word);
            if (head == 0) break;
            const std::size_t len = head & ~kStoredFlag;
            if (len > blockMax) return "corrupt input: block larger than the frame allows";
            block.resize(len);
            if (!in_.readExact(block.data(), len)) return "truncated input";
            if (blockSum) {
                if (!in_.readExact(word, 4)) return "truncated input";
                if (get32(word) != XxHash32::hash(block.data(), len)) return "wrong checksum";
            }
            const std::uint8_t* data = block.data();
            std::size_t dataLen = len;
            if (!(head & kStoredFlag)) {
                const std::string err = decodeBlock(block, blockMax, !independent, &data, &dataLen);
                if (!err.empty()) return err;
            }
            content.update(data, dataLen);
            total += dataLen;
            if (!out_(data, dataLen)) return "write error";
            if (!independent) remember(data, dataLen);
        }
        if (contentSum) {
            std::uint8_t word[4];
            if (!in_.readExact(word, 4)) return "truncated input";
            if (get32(word) != content.digest()) return "wrong checksum";
        }
        if (hasSize) {
            std::uint64_t size = 0;
            for (int i = 7; i >= 0; --i) size = size << 8 | desc[2 + i];
            if (size != total) return "corrupt input: content size differs from the header";
        }
        return "";
    }

private:
    // Decodes one compressed block into decoded_; a linked block gets its history as a literal prefix.
    std::string decodeBlock(const std::vector<std::uint8_t>& block, std::size_t blockMax, bool linked,
                            const std::uint8_t** pData, std::size_t* pLen) {
        const std::uint8_t* src = block.data();
        std::size_t srcLen = block.size();
        std::size_t skip = 0;
        if (linked && !history_.empty()) {
            // First token's literal count, with its extension.
            std::size_t lit = block[0] >> 4, i = 1;
            if (lit == 15) {
                for (;;) {
                    if (i >= block.size()) return "corrupt input: bad LZ4 block";
                    const unsigned b = block[i++];
                    lit += b;
                    if (b != 255) break;
                }
            }
            const std::size_t h = history_.size(), total = h + lit;
            prefixed_.clear();
            prefixed_.push_back(std::uint8_t((std::min<std::size_t>(total, 15) << 4) | (block[0] & 15)));
            if (total >= 15) {
                std::size_t e = total - 15;
                for (; e >= 255; e -= 255) prefixed_.push_back(255);
                prefixed_.push_back(std::uint8_t(e));
            }
            prefixed_.insert(prefixed_.end(), history_.begin(), history_.end());
            prefixed_.insert(prefixed_.end(), block.begin() + std::ptrdiff_t(i), block.end());
            src = prefixed_.data();
            srcLen = prefixed_.size();
            skip = h;
        }
        decoded_.resize(skip + blockMax);
        int len = int(decoded_.size());
        if (kelsDecodeLZ4_8u(src, int(srcLen), decoded_.data(), &len) != kelStatusOk) {
            return "corrupt input: bad LZ4 block";
        }
        if (std::size_t(len) < skip) return "corrupt input: bad LZ4 block";
        *pData = decoded_.data() + skip;
        *pLen = std::size_t(len) - skip;
        return "";
    }

    void remember(const std::uint8_t* data, std::size_t n) {
        if (n >= kHistoryLen) {
            history_.assign(data + n - kHistoryLen, data + n);
            return;
        }
        const std::size_t keep = std::min(history_.size(), kHistoryLen - n);
        history_.erase(history_.begin(), history_.end() - std::ptrdiff_t(keep));
        history_.insert(history_.end(), data, data + n);
    }

    SourceReader& in_;
    const ByteSink& out_;
    std::vector<std::uint8_t> history_, prefixed_, decoded_;
};

}  // namespace

std::string lz4FrameDecompress(const ByteSource& in, const ByteSink& out, bool* trailing) {
    SourceReader reader(in);
    FrameReader frames(reader, out);
    if (trailing) *trailing = false;
    bool any = false;
    for (;;) {
        if (reader.atEnd()) return any ? "" : "truncated input";
        std::uint8_t m[4];
        const bool whole = reader.readExact(m, 4);
        const std::uint32_t magic = whole ? get32(m) : 0;
        if (whole && (magic & 0xFFFFFFF0u) == kSkippableMagic) {
            if (!reader.readExact(m, 4)) return "truncated input";
            std::uint32_t skip = get32(m);
            std::uint8_t sink[4096];
            while (skip) {
                const std::uint32_t take = std::min<std::uint32_t>(skip, sizeof sink);
                if (!reader.readExact(sink, take)) return "truncated input";
                skip -= take;
            }
            continue;
        }
        if (!whole || magic != kFrameMagic) {
            if (!any) return whole ? "corrupt input: not an LZ4 frame" : "truncated input";
            if (trailing) *trailing = true;
            return "";
        }
        const std::string err = frames.frame();
        if (!err.empty()) return err;
        any = true;
    }
}

bool isLz4FrameMagic(const std::uint8_t* data, std::size_t len) {
    return len >= 4 && get32(data) == kFrameMagic;
}

}  // namespace kel
