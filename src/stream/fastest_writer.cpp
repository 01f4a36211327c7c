// src/stream/fastest_writer.cpp - raw Deflate blocks from the library's single-probe path (see the header).
//
// Two head tables. The counting pass and the encoding pass hash into tables of their own: the encoder must not see
// positions of bytes it has not encoded. Counting a whole block that leaves the input's last 258 bytes for later
// (flushMode 0) stops exactly where the encoder stops and inserts exactly what it inserts, so the two tables stay
// equal and the counts are exact. A block that ends the input or a flush runs both passes to the end, where they
// part ways; the encoder's table is then copied over the counting one. A sampled count starts from a copy of the
// encoder's table, so that the sample sees the same history.
//
// Block ends. The codes of a block come from a sample at its start, so the block ends where its data stops looking
// like the sample: see contentChange. Without this, a block that runs from text into compressed data (or back)
// codes the second kind with the first kind's codes: over the bundled corpus concatenated, 4% of the output.
//
// Headers. The library's encoder writes a dynamic header by itself only at stream position 0 (there it copies the
// precomputed one given to it). Every later dynamic block gets its header from here: the three block bits, then
// the precomputed header from its bit 3 on.
#include "stream/fastest_writer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kel::stream {
namespace {

constexpr Kel32u kWindowSize = 32768;
// Heads for 13 of the hash's 15 bits. Measured over the bundled corpus concatenated: 8192 heads (a table that stays
// in the first-level cache) run about 10% faster than 32768 for 1.6% more output; 4096 another 4% faster for
// another 1.9%, and single texts then come out more than 3% larger than zlib's level 1 makes them.
constexpr Kel32u kHashSize = 8192;
// Measured: a 16 KiB sample counts faster but makes text output 2-3% larger (rare symbols get poor codes); 24 KiB
// still 1-2%. Blocks end early where the data changes (contentChange), so they may be long: 512 KiB blocks give
// the same output as 256 KiB ones over the corpus, and uniform data is counted half as much.
constexpr std::int64_t kBlockBytes = 512 * 1024;
constexpr std::int64_t kSampleBytes = 32 * 1024;
constexpr std::int64_t kBufSize = kWindowSize + 2 * kBlockBytes;
constexpr std::int64_t kFixedBelow = 1024;  // shorter blocks: fixed codes, single pass
constexpr std::int64_t kMaxMatch = 258;
// Encoder output room for a block of n bytes: literals take at most 15 bits per byte and matches at most 48 bits
// per 4 bytes, so 2 bytes per input byte, plus a header.
constexpr std::size_t encodeRoom(std::int64_t n) {
    return 2 * std::size_t(n) + 512;
}
// The content check (contentChange): every kCheckStride-th byte of each kCheckPiece bytes after the sample is
// compared with the sample, and the first piece that differs is narrowed down to kCheckRefine bytes. A piece
// differs when its bytes cost more than kCostlierPercent percent of the sample's per byte under the block's literal
// code, or when their share of bytes from 128 up differs from the sample's by more than kHighSharePercent percent
// of all bytes (a code fitted to binary data costs text no more, but fits it badly). Measured over the corpus: the
// output varies by less than 0.4% for thresholds from 120% and 10 points to 140% and 20 points; pieces of 8 to 32 KiB
// and strides of 8 to 16 bytes (with the narrowing) change it by less than 0.5%; without the narrowing, a cut 16 KiB
// early can leave the next block's sample straddling two kinds of data (1.3% more output).
constexpr std::int64_t kCheckPiece = 16 * 1024;
constexpr std::int64_t kCheckRefine = 4 * 1024;
constexpr std::int64_t kCheckStride = 16;
constexpr std::uint64_t kCostlierPercent = 125;
constexpr std::uint64_t kHighSharePercent = 12;
constexpr Kel32s kEmptyEntry = -32768;
constexpr Kel32u kRebaseAbove = 1u << 30;

constexpr unsigned kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr unsigned kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr unsigned fixedLitLength(int sym) {
    return sym < 144 ? 8 : sym < 256 ? 9 : sym < 280 ? 7 : 8;
}

// Bits of n bytes as stored blocks (each piece of up to 65535 bytes: 3 header bits, at most 7 bits of padding,
// LEN and NLEN).
constexpr std::uint64_t storedBits(std::int64_t n) {
    return 8 * std::uint64_t(n) + 42 * std::uint64_t(n / 65535 + 1);
}

void rebaseTable(Kel32s* t, Kel32s delta) {
    for (Kel32u i = 0; i < kHashSize; ++i) {
        const std::int64_t moved = std::int64_t(std::max(t[i], kEmptyEntry)) - delta;
        t[i] = moved < kEmptyEntry ? kEmptyEntry : Kel32s(moved);
    }
}

}  // namespace

struct FastestWriter::Buffers {
    std::uint8_t window[kBufSize];
    Kel32s heads[kHashSize];      // the encoder's
    Kel32s statHeads[kHashSize];  // the counting pass's
    Kel32s chain[kWindowSize];    // only for loading a dictionary: the single-probe path reads no chains
    DeflateCodeEntry lit[288];    // 286 and 287 stay empty
    DeflateCodeEntry dist[30];
    Kel32u litCount[286];
    Kel32u distCount[30];
    Kel8u header[320];
};

FastestWriter::~FastestWriter() {
    alloc_.put(b_);
}

bool FastestWriter::init() {
    b_ = static_cast<Buffers*>(alloc_.get(sizeof(Buffers)));
    if (!b_) return false;
    std::fill(std::begin(b_->heads), std::end(b_->heads), kEmptyEntry);
    std::fill(std::begin(b_->statHeads), std::end(b_->statHeads), kEmptyEntry);
    for (auto& e : b_->lit) e = DeflateCodeEntry{0, 0};
    for (auto& e : b_->dist) e = DeflateCodeEntry{0, 0};
    data_ = b_->window;
    return true;
}

void FastestWriter::reset() {
    // Moving the positions a window beyond everything the tables hold makes every old entry unusable, which
    // spares refilling them.
    pos_ += Kel32u(bufEnd_ - cur_) + kWindowSize;
    data_ = b_->window;
    bufEnd_ = cur_ = winBase_ = 0;
    bitAcc_ = 0;
    bitCount_ = 0;
    started_ = false;
    result_ = kelStreamOk;
    message_ = "";
}

KelStreamResult FastestWriter::noteLibrary(KelStatus st, const char* why) {
    if (st != kelStatusOk && ok()) {
        result_ = kelStreamErrLibrary;
        message_ = why;
    }
    return result_;
}

KelStreamResult FastestWriter::setDictionary(const std::uint8_t* dict, std::size_t n) {
    if (!ok()) return result_;
    if (started_ || bufEnd_ != 0) return noteLibrary(kelStatusBadArgument, "dictionary after the first write");
    const std::size_t m = std::min<std::size_t>(n, kWindowSize);
    if (m == 0) return kelStreamOk;
    rebaseIfNeeded();
    std::memcpy(b_->window, dict + (n - m), m);
    bufEnd_ = cur_ = std::int64_t(m);
    // The library's 4-byte hash insertion fills the head table the way the single-probe path reads it; its chain
    // table is written but not needed here.
    std::fill(std::begin(b_->chain), std::end(b_->chain), kEmptyEntry);
    const KelStatus st =
        kelsDeflateUpdateHash_8u(b_->window, pos_, Kel32u(m), b_->heads, kHashSize, b_->chain, kWindowSize, 1);
    pos_ += Kel32u(m);
    std::memcpy(b_->statHeads, b_->heads, sizeof b_->heads);
    return noteLibrary(st, "the Deflate dictionary loader failed");
}

void FastestWriter::putBytes(const std::uint8_t* p, std::size_t n) {
    if (!out_->append(p, n) && ok()) {
        result_ = kelStreamErrMemory;
        message_ = "out of memory for the compressed output";
    }
}

void FastestWriter::putBits(std::uint32_t bits, unsigned n) {
    if (n < 32) bits &= (1u << n) - 1;
    bitAcc_ |= std::uint64_t(bits) << bitCount_;
    bitCount_ += n;
    std::uint8_t bytes[8];
    std::size_t k = 0;
    while (bitCount_ >= 8) {
        bytes[k++] = std::uint8_t(bitAcc_);
        bitAcc_ >>= 8;
        bitCount_ -= 8;
    }
    if (k) putBytes(bytes, k);
}

void FastestWriter::alignToByte() {
    if (bitCount_ > 0) putBits(0, 8 - bitCount_);
}

void FastestWriter::putStored(const std::uint8_t* p, std::int64_t n, bool final) {
    do {
        const std::uint32_t piece = std::uint32_t(std::min<std::int64_t>(n, 65535));
        n -= piece;
        putBits((final && n == 0) ? 1 : 0, 3);
        alignToByte();
        putBits(piece | ((~piece & 0xFFFFu) << 16), 32);
        putBytes(p, piece);
        p += piece;
    } while (n > 0);
}

void FastestWriter::slide() {
    const std::int64_t keepFrom = std::max<std::int64_t>(cur_ - std::int64_t(kWindowSize), 0);
    if (keepFrom == 0) return;
    std::uint8_t* w = b_->window;
    std::memmove(w, w + keepFrom, std::size_t(bufEnd_ - keepFrom));
    bufEnd_ -= keepFrom;
    cur_ -= keepFrom;
    winBase_ += keepFrom;
}

// Positions shift down long before the library would have to do it during a call (both tables alike).
void FastestWriter::rebaseIfNeeded() {
    if (pos_ <= kRebaseAbove) return;
    const Kel32s delta = Kel32s(pos_ - kWindowSize);
    rebaseTable(b_->heads, delta);
    rebaseTable(b_->statHeads, delta);
    pos_ = kWindowSize;
}

KelStatus FastestWriter::countSymbols(std::int64_t avail, Kel32u flushMode, bool& sampled, std::int64_t& counted) {
    Buffers& b = *b_;
    std::fill(std::begin(b.litCount), std::end(b.litCount), 0u);
    std::fill(std::begin(b.distCount), std::end(b.distCount), 0u);
    sampled = avail > kSampleBytes + 2 * kMaxMatch;
    if (sampled) std::memcpy(b.statHeads, b.heads, sizeof b.heads);
    const Kel8u* start = data_ + cur_;
    const Kel8u* p = start;
    Kel32s len = Kel32s(sampled ? kSampleBytes + kMaxMatch : avail);
    Kel32u pos = pos_;
    const KelStatus st = kelsDeflateLZ77FastestGetStat_8u(&p, &len, &pos, start, kWindowSize, b.statHeads, kHashSize,
                                                          b.litCount, b.distCount, sampled ? 0 : flushMode);
    counted = p - start;
    b.litCount[256] = 1;  // the end-of-block code
    return st;
}

// Codes from the counts into b.lit / b.dist. A limit the flattening cannot meet (hugely skewed counts) is met by
// halving the counts; false if even that fails.
bool FastestWriter::buildCodes() {
    Buffers& b = *b_;
    Kel32u lit[286], dist[30];
    std::copy(std::begin(b.litCount), std::end(b.litCount), lit);
    std::copy(std::begin(b.distCount), std::end(b.distCount), dist);
    for (int attempt = 0; attempt < 32; ++attempt) {
        if (kelsDeflateLZ77FastestGenHuffTable_8u(lit, dist, b.lit, b.dist) == kelStatusOk) return true;
        for (Kel32u& c : lit) c = (c + 1) >> 1;
        for (Kel32u& c : dist) c = (c + 1) >> 1;
    }
    return false;
}

KelStatus FastestWriter::encode(bool dynamic, const Kel8u* header, Kel32s headerBits, Kel32u flushMode,
                                std::int64_t limit) {
    const Kel8u* start = data_ + cur_;
    const Kel8u* p = start;
    Kel32s len = Kel32s(std::min(bufEnd_ - cur_, limit));
    Kel16u pending = Kel16u(bitAcc_);
    Kel32u pendingCount = bitCount_;
    Kel32u o = 0;
    // The library writes straight into the output, at its end: copying a block's code out of a buffer of its own
    // cost up to 3% of the time.
    const std::size_t at = out_->size();
    const std::size_t room = encodeRoom(len);
    if (!out_->resize(at + room)) {
        if (ok()) {
            result_ = kelStreamErrMemory;
            message_ = "out of memory for the compressed output";
        }
        return kelStatusOk;
    }
    Kel8u* dst = out_->data() + at;
    const DeflateCodeEntry* lit = dynamic ? b_->lit : nullptr;
    const DeflateCodeEntry* dist = dynamic ? b_->dist : nullptr;
    const KelStatus st =
        header != nullptr ? kelsDeflateLZ77FastestPrecompHeader_8u(
                                &p, &len, &pos_, p, kWindowSize, b_->heads, kHashSize, &pending, &pendingCount, dst,
                                Kel32u(room), &o, lit, dist, header, headerBits, flushMode)
                          : kelsDeflateLZ77Fastest_8u(&p, &len, &pos_, p, kWindowSize, b_->heads, kHashSize, &pending,
                                                      &pendingCount, dst, Kel32u(room), &o, lit, dist, flushMode);
    out_->resize(at + (st == kelStatusOk ? o : 0));
    if (st != kelStatusOk) return st;
    // The room never runs out, so fewer than 8 bits are left.
    bitAcc_ = pending & ((1u << pendingCount) - 1);
    bitCount_ = pendingCount;
    cur_ += p - start;
    return kelStatusOk;
}

std::int64_t FastestWriter::contentChange(const Kel8u* start, std::int64_t sampleEnd, std::int64_t end) const {
    // Per byte value: its literal code length, and in the upper half whether it is 128 or more.
    std::uint64_t weight[256];
    for (int v = 0; v < 256; ++v) weight[v] = b_->lit[v].codeLength | (std::uint64_t(v >> 7) << 32);
    struct Profile {
        std::uint64_t cost, high, n;
    };
    auto profile = [&](std::int64_t from, std::int64_t to) {
        std::uint64_t sum = 0, n = 0;
        for (std::int64_t i = from; i < to; i += kCheckStride, ++n) sum += weight[start[i]];
        return Profile{sum & 0xFFFFFFFFu, sum >> 32, n};
    };
    const Profile sample = profile(0, sampleEnd);
    auto differs = [&](std::int64_t from, std::int64_t to) {
        const Profile p = profile(from, to);
        if (p.cost * sample.n * 100 > kCostlierPercent * sample.cost * p.n) return true;
        const std::uint64_t a = p.high * sample.n, b = sample.high * p.n;
        return (a > b ? a - b : b - a) * 100 > kHighSharePercent * p.n * sample.n;
    };
    for (std::int64_t piece = sampleEnd; piece + kCheckPiece <= end; piece += kCheckPiece) {
        if (!differs(piece, piece + kCheckPiece)) continue;
        for (std::int64_t part = piece; part < piece + kCheckPiece; part += kCheckRefine) {
            if (differs(part, part + kCheckRefine)) return part;
        }
        return piece;  // no part alone differs enough: the change is gradual
    }
    return 0;
}

KelStatus FastestWriter::emitBlock(bool final, Kel32u flushMode) {
    if (flushMode == 0) return emitOneBlock(false, 0);
    // The rest of the input: blocks until all of it is covered, as contentChange may end them early.
    do {
        const KelStatus st = emitOneBlock(final, flushMode);
        if (st != kelStatusOk) return st;
    } while (ok() && cur_ < bufEnd_);
    return kelStatusOk;
}

KelStatus FastestWriter::emitOneBlock(bool final, Kel32u flushMode) {
    rebaseIfNeeded();
    Buffers& b = *b_;
    const Kel8u* start = data_ + cur_;
    const std::int64_t avail = bufEnd_ - cur_;
    const std::uint32_t bfinal = final ? 1 : 0;
    const std::size_t outBefore = out_->size();
    const std::uint64_t accBefore = bitAcc_;
    const unsigned countBefore = bitCount_;
    const std::int64_t curBefore = cur_;
    KelStatus st = kelStatusOk;

    if (avail < kFixedBelow) {
        putBits(bfinal | (1 << 1), 3);
        if (avail > 0) st = encode(false, nullptr, 0, flushMode, avail);
        putBits(0, 7);  // end of block: fixed code 256 is seven zero bits
        if (flushMode >= 2) std::memcpy(b.statHeads, b.heads, sizeof b.heads);
        return st;
    }

    bool sampled = false;
    std::int64_t counted = 0;
    st = countSymbols(avail, flushMode, sampled, counted);
    if (st != kelStatusOk) return st;
    // Bytes the block covers: all with flushMode 2; otherwise exactly up to where a full count stopped, or about
    // one maximal match short of the end after a sample.
    std::int64_t covered = flushMode >= 2 ? avail : sampled ? avail - kMaxMatch : counted;
    const bool usable = buildCodes();
    // A block cut short leaves the rest for the next one, which the encoder continues into (it stops on its own a
    // maximal match before the end of what it is given).
    const std::int64_t cut = usable && sampled ? contentChange(start, counted, avail - kMaxMatch) : 0;
    if (cut != 0) {
        covered = cut;
        flushMode = 0;
    }
    const std::int64_t limit = cut != 0 ? cut + kMaxMatch : avail;
    Kel32s headerBytes = 0, headerBits = 0;
    if (usable) {
        st = kelsDeflateLZ77FastestGenHeader_8u(b.lit, b.dist, b.header, &headerBytes, &headerBits);
        if (st != kelStatusOk) return st;
    }

    // Sizes in bits: exact for a full count (approximate at the end of the input, where the passes differ
    // slightly), else the sample's scaled to the block.
    std::uint64_t dynamicBits = 0, fixedBits = 0, extra = 0;
    for (int k = 0; k < 29; ++k) extra += std::uint64_t(b.litCount[257 + k]) * kLengthExtra[k];
    for (int k = 0; k < 30; ++k) extra += std::uint64_t(b.distCount[k]) * kDistExtra[k];
    for (int i = 0; i < 286; ++i) {
        dynamicBits += std::uint64_t(b.litCount[i]) * b.lit[i].codeLength;
        fixedBits += std::uint64_t(b.litCount[i]) * fixedLitLength(i);
    }
    for (int k = 0; k < 30; ++k) {
        dynamicBits += std::uint64_t(b.distCount[k]) * b.dist[k].codeLength;
        fixedBits += std::uint64_t(b.distCount[k]) * 5;
    }
    dynamicBits += extra;
    fixedBits += extra;
    if (sampled && counted > 0) {
        dynamicBits = dynamicBits * std::uint64_t(covered) / std::uint64_t(counted);
        fixedBits = fixedBits * std::uint64_t(covered) / std::uint64_t(counted);
    }
    dynamicBits = usable ? dynamicBits + std::uint64_t(headerBits) : ~std::uint64_t(0);
    fixedBits += 3;

    if (storedBits(covered) < dynamicBits && storedBits(covered) < fixedBits) {
        putStored(start, covered, final && cut == 0);
        cur_ += covered;
        pos_ += Kel32u(covered);
        // The encoder's table would have received what a full count inserted. After a sample the stored bytes
        // stay out of the table (stored blocks hold data that hardly matches anyway).
        if (!sampled) std::memcpy(b.heads, b.statHeads, sizeof b.heads);
        if (flushMode >= 2) std::memcpy(b.statHeads, b.heads, sizeof b.heads);
        return kelStatusOk;
    }
    if (fixedBits <= dynamicBits) {
        putBits(bfinal | (1 << 1), 3);
        st = encode(false, nullptr, 0, flushMode, limit);
        putBits(0, 7);
    } else {
        putBits(bfinal | (2 << 1), 3);
        if (pos_ == 0) {
            st = encode(true, b.header, headerBits, flushMode, limit);
        } else {
            // The precomputed header from bit 3 on, a byte (or the rest of one) at a time.
            for (Kel32s bit = 3; bit < headerBits;) {
                const unsigned n = unsigned(std::min<Kel32s>(8 - (bit & 7), headerBits - bit));
                putBits(unsigned(b.header[bit >> 3]) >> (bit & 7), n);
                bit += Kel32s(n);
            }
            st = encode(true, nullptr, 0, flushMode, limit);
        }
        putBits(b.lit[256].freqOrCode, b.lit[256].codeLength);
    }
    if (st != kelStatusOk) return st;
    // A final block cut short is not the last one: its BFINAL bit, the first it wrote, goes back to 0.
    const bool last = final && cur_ == bufEnd_;
    if (final && !last && ok()) {
        if (out_->size() > outBefore) {
            out_->data()[outBefore] &= std::uint8_t(~(1u << countBefore));
        } else {
            bitAcc_ &= ~(std::uint64_t(1) << countBefore);
        }
    }
    if (flushMode >= 2) std::memcpy(b.statHeads, b.heads, sizeof b.heads);

    // Codes built from a sample may fit the rest of the block badly: a block larger than its stored form is
    // replaced by it (the encoder has hashed its bytes all the same).
    const std::int64_t encoded = cur_ - curBefore;
    const std::uint64_t blockBits = 8 * std::uint64_t(out_->size() - outBefore) + bitCount_ - countBefore;
    if (ok() && encoded > 0 && blockBits > storedBits(encoded)) {
        out_->resize(outBefore);
        bitAcc_ = accBefore;
        bitCount_ = countBefore;
        putStored(data_ + curBefore, encoded, last);
    }
    return kelStatusOk;
}

KelStreamResult FastestWriter::write(const std::uint8_t* src, std::size_t n) {
    if (!ok()) return result_;
    started_ = true;
    if (n < std::size_t(2 * kBlockBytes + kWindowSize)) return writeBuffered(src, n);
    // A long piece: blocks go through the window until the first unencoded byte lies a window deep in the piece;
    // the rest is encoded where it lies (no copy, no slide), block by block at the same offsets as through the
    // window, so the output is the same.
    const std::int64_t base = winBase_ + bufEnd_;  // stream offset of src[0]
    std::size_t done = 0;
    while (done < n && winBase_ + cur_ - base < std::int64_t(kWindowSize)) {
        const std::size_t piece = std::min<std::size_t>(n - done, std::size_t(kBlockBytes));
        if (writeBuffered(src + done, piece) != kelStreamOk) return result_;
        done += piece;
    }
    if (done == n) return result_;
    if (winBase_ + cur_ - base > std::int64_t(done)) {
        return noteLibrary(kelStatusBadArgument, "the fastest Deflate writer lost its place");  // cannot happen
    }
    // The window holds src[..done) from stream offset base on; switch to src itself.
    data_ = src;
    cur_ = winBase_ + cur_ - base;
    const std::int64_t total = std::int64_t(n);
    while (ok() && total - cur_ >= kBlockBytes) {
        bufEnd_ = cur_ + kBlockBytes;
        const std::int64_t before = cur_;
        const KelStatus st = emitBlock(false, 0);
        if (st != kelStatusOk) {
            noteLibrary(st, "the fastest Deflate path failed");
            break;
        }
        if (cur_ == before) {
            noteLibrary(kelStatusBadArgument, "the fastest Deflate path made no progress");  // cannot happen
            break;
        }
    }
    // After a failure the loop stopped anywhere in the piece, and its rest may exceed the window buffer; the writer
    // is dead and keeps nothing.
    if (!ok()) {
        data_ = b_->window;
        return result_;
    }
    // The unencoded rest and a window of history in front of it go into the window buffer.
    const std::int64_t keep = std::max<std::int64_t>(cur_ - std::int64_t(kWindowSize), 0);
    std::memcpy(b_->window, src + keep, std::size_t(total - keep));
    data_ = b_->window;
    winBase_ = base + keep;
    bufEnd_ = total - keep;
    cur_ -= keep;
    return result_;
}

KelStreamResult FastestWriter::writeBuffered(const std::uint8_t* src, std::size_t n) {
    while (n > 0 && ok()) {
        if (bufEnd_ == kBufSize) slide();
        // Up to a block's worth of unencoded bytes at a time.
        const std::int64_t want = std::max<std::int64_t>(kBlockBytes - (bufEnd_ - cur_), 1);
        const std::size_t take = std::min<std::size_t>({n, std::size_t(kBufSize - bufEnd_), std::size_t(want)});
        std::memcpy(b_->window + bufEnd_, src, take);
        bufEnd_ += std::int64_t(take);
        src += take;
        n -= take;
        // A block leaves the last 258 bytes (or a few more) for the next one.
        if (bufEnd_ - cur_ >= kBlockBytes) {
            const std::int64_t before = cur_;
            const KelStatus st = emitBlock(false, 0);
            if (st != kelStatusOk) return noteLibrary(st, "the fastest Deflate path failed");
            if (cur_ == before) {
                // Cannot happen with these block sizes.
                return noteLibrary(kelStatusBadArgument, "the fastest Deflate path made no progress");
            }
        }
    }
    return result_;
}

KelStreamResult FastestWriter::flush() {
    if (!ok()) return result_;
    started_ = true;
    if (bufEnd_ > cur_) {
        const KelStatus st = emitBlock(false, 2);
        if (st != kelStatusOk) return noteLibrary(st, "the fastest Deflate path failed");
    }
    putBits(0, 3);
    alignToByte();
    putBits(0xFFFF0000u, 32);
    return result_;
}

KelStreamResult FastestWriter::finish() {
    if (!ok()) return result_;
    started_ = true;
    const KelStatus st = emitBlock(true, 2);
    alignToByte();
    return noteLibrary(st, "the fastest Deflate path failed");
}

}  // namespace kel::stream
