// src/stream/deflate_writer.cpp - raw Deflate blocks from the library's level matchers (see the header).
//
// Window. One buffer holds up to 32 KiB of history followed by the bytes not yet matched. The matcher runs with
// "more input follows" (it stops about 261 bytes short of the end) whenever the input reaches a multiple of kStep
// stream bytes, and the buffer slides down so that 32 KiB of history stay in front of the unmatched bytes. The
// matcher reads the history through the same pointer as the source, so both must be contiguous, which the slide
// keeps. A long write is matched in the caller's buffer instead, once a window of it lies behind the first
// unmatched byte: same calls at the same stream offsets, no copy. Positions are the matcher's; it rebases them
// itself before they overflow.
//
// Blocks. A block ends when its item buffers are full (or at a flush or the end). Its counts become length-limited
// Huffman codes (package-merge: optimal under the 15-bit limit, and 7 bits for the code-length code); the block is
// then written in whichever of the dynamic, fixed and stored forms is shortest, computed exactly. The stored form
// needs the block's raw bytes, which the window keeps for blocks of up to kStoredMax bytes.
//
// Size. A block never costs more than its stored form when it has at most kStoredMax raw bytes; a longer one holds
// kBlockItems items of at most 48 bits (31 with the fixed codes), far below its raw size. Every block but the last
// holds kBlockItems items, so at least that many bytes: the stored overhead (at most 42 bits per 65535 bytes) stays
// below 1/1024 of the input, which deflateBound in deflate_encoder.cpp relies on.
#include "stream/deflate_writer.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kel::stream {
namespace {

constexpr Kel32u kWindowSize = 32768;
constexpr Kel32u kHashSize = 32768;  // the 4-byte hash values have 15 bits
// The matcher runs (with more input to follow) over the input up to each multiple of kStep stream bytes, in
// one call per step or more when the item buffers fill, however the input arrives: the parse, and with it the
// output, does not depend on how the caller splits the input.
constexpr std::int64_t kStep = 65536;
// Blocks of at most this many raw bytes may become stored blocks; the window keeps such a block's bytes.
constexpr std::int64_t kStoredMax = 65536;
// History (or a storable block) + a step + the matcher's held-back tail fit with room to spare.
constexpr std::int64_t kBufSize = 3 * 65536;
// Items per block: the room of the item buffers, below 65536 so that no count wraps. Level 1 fills all of it;
// the other levels end a block at kBlockItems, which keeps their sizes (at 16384 items the lazy levels' output
// grows slightly, as the codes adapt less often; at level 1 the fewer code constructions save a few percent of the
// time and the size stays the same).
constexpr std::int32_t kMaxBlockItems = 16384;
constexpr std::int32_t kBlockItems = 8192;
constexpr std::int32_t kEmptyEntry = -32768;  // below every usable position
// A write at least this long is matched straight from the caller's buffer (after a lead through the window).
constexpr std::size_t kDirectMin = 4 * std::size_t(kStep);

constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxCodeLengthBits = 7;
constexpr int kLitLenSymbols = 286;
constexpr int kDistSymbols = 30;
constexpr int kEndOfBlock = 256;

constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// Order in which the code-length code's lengths are sent (RFC 1951 3.2.7).
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr int kMaxSymbols = 288;

// Optimal (unlimited) code lengths of weights sorted ascending, computed in place: on return w[k] is the length of
// the k-th weight (non-increasing in k). The two-pass method of Moffat and Katajainen: the first pass builds the
// tree bottom-up, leaving parent indices in w; the second turns them into depths; the third assigns leaf depths.
// m >= 2.
void huffmanLengthsInPlace(std::uint32_t* w, int m) {
    int root = 0, leaf = 2;
    w[0] += w[1];
    for (int next = 1; next < m - 1; ++next) {
        if (leaf >= m || w[root] < w[leaf]) {
            w[next] = w[root];
            w[root++] = std::uint32_t(next);
        } else {
            w[next] = w[leaf++];
        }
        if (leaf >= m || (root < next && w[root] < w[leaf])) {
            w[next] += w[root];
            w[root++] = std::uint32_t(next);
        } else {
            w[next] += w[leaf++];
        }
    }
    w[m - 2] = 0;
    for (int next = m - 3; next >= 0; --next) w[next] = w[w[next]] + 1;
    int avail = 1, used = 0, depth = 0, next = m - 1;
    root = m - 2;
    while (avail > 0) {
        while (root >= 0 && int(w[root]) == depth) {
            ++used;
            --root;
        }
        while (avail > used) {
            w[next--] = std::uint32_t(depth);
            --avail;
        }
        avail = 2 * used;
        ++depth;
        used = 0;
    }
}

// Optimal lengths of at most maxBits bits for weights sorted ascending (package-merge). Level j merges the leaves
// with the pairs (packages) of level j - 1; the first 2m - 2 items of the last level decide the lengths: a prefix of
// k items at level j holds some leaves (the smallest ones, each one bit deeper) and some packages, which stand for
// the first 2 * packages items of level j - 1. m <= 2^maxBits.
void limitedLengths(const std::uint32_t* w, int m, unsigned maxBits, std::uint32_t* lens) {
    static constexpr int kCap = 2 * kMaxSymbols;
    std::uint64_t weight[2][kCap];
    bool isPackage[kMaxCodeBits][kCap];
    int size = m;
    for (int k = 0; k < m; ++k) {
        weight[0][k] = w[k];
        isPackage[0][k] = false;
        lens[k] = 0;
    }
    for (unsigned j = 1; j < maxBits; ++j) {
        const std::uint64_t* prev = weight[(j - 1) & 1];
        std::uint64_t* cur = weight[j & 1];
        const int packages = size / 2;
        int leaf = 0, pkg = 0, n = 0;
        while (leaf < m || pkg < packages) {
            const std::uint64_t pw = pkg < packages ? prev[2 * pkg] + prev[2 * pkg + 1] : 0;
            if (pkg == packages || (leaf < m && w[leaf] <= pw)) {
                cur[n] = w[leaf++];
                isPackage[j][n++] = false;
            } else {
                cur[n] = pw;
                isPackage[j][n++] = true;
                ++pkg;
            }
        }
        size = n;
    }
    int take = 2 * m - 2;
    for (int j = int(maxBits) - 1; j >= 0 && take > 0; --j) {
        int packages = 0;
        for (int k = 0; k < take; ++k) packages += isPackage[j][k];
        for (int k = 0; k < take - packages; ++k) ++lens[k];
        take = 2 * packages;
    }
}

// Optimal code lengths of at most maxBits bits for the symbols with non-zero frequency. At least two symbols
// always get a code (unused ones are added as needed), so the code is complete, as decoders require. Most blocks
// need no limiting; the package-merge runs only when the unlimited code is too deep.
void buildCodeLengths(const std::uint32_t* freq, int n, unsigned maxBits, std::uint8_t* lens) {
    // Sort keys: frequency above the symbol, so that equal frequencies keep symbol order.
    std::uint64_t keys[kMaxSymbols];
    int m = 0;
    for (int i = 0; i < n; ++i) {
        lens[i] = 0;
        if (freq[i] != 0) keys[m++] = (std::uint64_t(freq[i]) << 16) | unsigned(i);
    }
    for (int i = 0; m < 2 && i < n; ++i) {
        if (freq[i] == 0) keys[m++] = unsigned(i);
    }
    std::sort(keys, keys + m);
    std::uint32_t w[kMaxSymbols], len[kMaxSymbols];
    for (int k = 0; k < m; ++k) w[k] = std::uint32_t(keys[k] >> 16);
    std::copy(w, w + m, len);
    huffmanLengthsInPlace(len, m);
    if (len[0] > maxBits) limitedLengths(w, m, maxBits, len);
    for (int k = 0; k < m; ++k) lens[keys[k] & 0xFFFF] = std::uint8_t(len[k]);
}

// Canonical codes from lengths, bit-reversed for least-significant-first output, into the library's code tables.
void assignCodes(const std::uint8_t* lens, int n, DeflateCodeEntry* codes) {
    unsigned count[16] = {}, next[16] = {};
    for (int i = 0; i < n; ++i) ++count[lens[i]];
    count[0] = 0;
    unsigned code = 0;
    for (unsigned bits = 1; bits < 16; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int i = 0; i < n; ++i) {
        const unsigned len = lens[i];
        unsigned c = len ? next[len]++ : 0, r = 0;
        for (unsigned b = 0; b < len; ++b, c >>= 1) r = (r << 1) | (c & 1);
        codes[i].freqOrCode = static_cast<Kel16u>(r);
        codes[i].codeLength = static_cast<Kel16u>(len);
    }
}

// The code-length sequence of a dynamic header as (symbol, extra value) pairs, with 16/17/18 run codes.
struct LengthRun {
    std::uint8_t sym;
    std::uint8_t extra;
};

// At most one run per length: kLitLenSymbols + kDistSymbols entries.
constexpr int kMaxRuns = kLitLenSymbols + kDistSymbols;

// Returns the number of runs written to out.
int runLengthCode(const std::uint8_t* lens, int n, LengthRun* out) {
    int count = 0;
    for (int i = 0; i < n;) {
        const std::uint8_t v = lens[i];
        int run = 1;
        while (i + run < n && lens[i + run] == v) ++run;
        i += run;
        if (v == 0) {
            while (run >= 11) {
                const int r = std::min(run, 138);
                out[count++] = {18, std::uint8_t(r - 11)};
                run -= r;
            }
            if (run >= 3) {
                out[count++] = {17, std::uint8_t(run - 3)};
                run = 0;
            }
        } else {
            out[count++] = {v, 0};
            --run;
            while (run >= 3) {
                const int r = std::min(run, 6);
                out[count++] = {16, std::uint8_t(r - 3)};
                run -= r;
            }
        }
        for (; run > 0; --run) out[count++] = {v, 0};
    }
    return count;
}

constexpr unsigned runExtraBits(unsigned sym) {
    return sym == 16 ? 2 : sym == 17 ? 3 : sym == 18 ? 7 : 0;
}

void fixedLengths(std::uint8_t* litLens, std::uint8_t* distLens) {
    for (int i = 0; i < 288; ++i) litLens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    for (int i = 0; i < 30; ++i) distLens[i] = 5;
}

}  // namespace

struct DeflateWriter::Buffers {
    std::uint8_t window[kBufSize];
    Kel32s heads[kHashSize];
    Kel32s chain[kWindowSize];
    DeflateCodeEntry litLen[288];
    DeflateCodeEntry dist[32];
    Kel8u litOut[kMaxBlockItems];
    Kel16u distOut[kMaxBlockItems];
    LengthRun runs[kMaxRuns];
    // The coded items of one block: at most 48 bits per item plus the pending bits handed in.
    std::uint8_t body[6 * std::size_t(kMaxBlockItems) + 16];
};

int DeflateWriter::rowOfLevel(int level) {
    // Chosen by measurement over the bundled corpus against zlib at the same level: each of 6 to 9 takes the
    // cheapest row whose output stays about as small as zlib's, so 9 runs the 192-candidate lazy row and 6 the
    // 32-candidate one; 2 to 4 keep their rows (the greedy rows are all about equally fast). Level 1 runs the
    // writer's own single-candidate search instead (see kLevel1Params); its row here serves only callers that ask
    // for a row. Level 0 and 10 to 29 are the table's rows themselves.
    static constexpr int kRows[10] = {0, 1, 2, 3, 4, 15, 5, 6, 7, 8};
    return level >= 0 && level <= 9 ? kRows[level] : level;
}

DeflateWriter::~DeflateWriter() {
    alloc_.put(b_);
}

// Level 1 searches one candidate per position (the latest with the same 4-byte hash) and enters the positions
// inside matches of up to 6 bytes. Measured over the bundled corpus against zlib's level 1: row 1 (4 candidates,
// 8) made the output 6.4% smaller than zlib's but ran only about 1.3 times as fast; one candidate costs 4% of that
// size and gains about 15% in speed, so the output stays about 2.4% smaller than zlib's. Entering fewer positions
// (4) gained nothing measurable for 1.5% more output; a smaller head table (8192 or 16384 entries) was slower
// as well as larger; the 3-byte single-probe rows and the fastest path run faster but leave the output larger
// than zlib's.
constexpr DeflateMatchParams kLevel1Params = {1, 8, 8, 6};

bool DeflateWriter::init(int level, Kel32u windowSize) {
    window_ = windowSize;
    row_ = level == 1 ? kOwnRow : rowOfLevel(level);
    ownParams_ = kLevel1Params;
    blockItems_ = level == 1 ? kMaxBlockItems : kBlockItems;
    b_ = static_cast<Buffers*>(alloc_.get(sizeof(Buffers)));
    if (!b_) return false;
    reset();
    return true;
}

void DeflateWriter::reset() {
    Buffers& b = *b_;
    std::fill(std::begin(b.heads), std::end(b.heads), kEmptyEntry);
    std::fill(std::begin(b.chain), std::end(b.chain), kEmptyEntry);
    for (auto& e : b.litLen) e = DeflateCodeEntry{0, 0};
    for (auto& e : b.dist) e = DeflateCodeEntry{0, 0};
    result_ = kelStreamOk;
    message_ = "";
    winBase_ = bufEnd_ = cur_ = blockStart_ = 0;
    items_ = 0;
    heldStored_ = -1;
    ext_ = nullptr;
    extBase_ = extLen_ = extCur_ = 0;
    pos_ = 0;
    bitAcc_ = 0;
    bitCount_ = 0;
}

void DeflateWriter::failLibrary(KelStatus st, const char* why) {
    (void)st;
    if (ok()) {
        result_ = kelStreamErrLibrary;
        message_ = why;
    }
}

KelStreamResult DeflateWriter::setDictionary(const std::uint8_t* dict, std::size_t n) {
    if (!ok()) return result_;
    const Kel32u m = Kel32u(std::min<std::size_t>(n, window_));
    const Kel32u hashMode = row_ % 10 == 0 ? 0 : 1;  // rows 0, 10, 20 match with the 3-byte hash, level 1's 4-byte
    std::uint8_t* w = b_->window;
    if (m >= 4) {
        // Only the last 32 KiB can be reached; the loader takes them from the end of what it is given.
        const std::uint8_t* tail = dict + (n - m);
        KelStatus st = kelsDeflateDictionarySet_8u(tail, m, b_->heads, kHashSize, b_->chain, w, window_, hashMode);
        // The loader leaves the dictionary's last 257 positions unhashed; they are history here, so hash them too.
        const Kel32u from = m >= 258 ? m - 257 : 0;
        if (st == kelStatusOk) {
            st = kelsDeflateUpdateHash_8u(w + from, from, m - from, b_->heads, kHashSize, b_->chain, window_, hashMode);
        }
        if (st != kelStatusOk) {
            failLibrary(st, "the Deflate dictionary loader failed");
            return result_;
        }
    } else if (m > 0) {
        std::memcpy(w, dict + (n - m), m);
    }
    bufEnd_ = cur_ = blockStart_ = m;
    pos_ = m;
    return kelStreamOk;
}

void DeflateWriter::putBytes(const std::uint8_t* p, std::size_t n) {
    if (!out_->append(p, n) && ok()) {
        result_ = kelStreamErrMemory;
        message_ = "out of memory for the compressed output";
    }
}

void DeflateWriter::putBits(std::uint32_t bits, unsigned n) {
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

void DeflateWriter::alignToByte() {
    if (bitCount_ > 0) putBits(0, 8 - bitCount_);
}

KelStreamResult DeflateWriter::write(const std::uint8_t* src, std::size_t n) {
    if (!ok()) return result_;
    // Stored blocks are cut from the window, so stored input always goes through it.
    if (n >= kDirectMin && row_ != kStoredRow) {
        // The lead, up to the first step end with a window of the caller's bytes before its held-back tail, goes
        // through the window; from there on the matcher reads the caller's buffer, with no copy and no slide.
        const std::int64_t base = winBase_ + bufEnd_;
        const std::int64_t leadEnd = (base + std::int64_t(kWindowSize) + 512) / kStep * kStep + kStep;
        appendBuffered(src, std::size_t(leadEnd - base));
        const std::int64_t matched = winBase_ + cur_ - base;
        if (ok() && matched >= std::int64_t(kWindowSize)) {
            compressDirect(src, n, base);
            return result_;
        }
        src += leadEnd - base;
        n -= std::size_t(leadEnd - base);
    }
    appendBuffered(src, n);
    return result_;
}

void DeflateWriter::appendBuffered(const std::uint8_t* src, std::size_t n) {
    while (n > 0 && ok()) {
        if (bufEnd_ == kBufSize) slideWindow();
        const std::int64_t end = winBase_ + bufEnd_;
        const std::int64_t stepEnd = (end / kStep + 1) * kStep;
        const std::size_t take =
            std::min<std::size_t>({n, std::size_t(kBufSize - bufEnd_), std::size_t(stepEnd - end)});
        std::memcpy(b_->window + bufEnd_, src, take);
        bufEnd_ += std::int64_t(take);
        src += take;
        n -= take;
        if (winBase_ + bufEnd_ == stepEnd) compressBuffered(0);
    }
}

void DeflateWriter::compressDirect(const std::uint8_t* src, std::size_t n, std::int64_t base) {
    Buffers& b = *b_;
    ext_ = src;
    extBase_ = base;
    extLen_ = std::int64_t(n);
    extCur_ = winBase_ + cur_ - base;
    // Step by step as the window would go; a step ends at most kStep bytes after the previous one.
    for (std::int64_t stepEnd = (base + extCur_) / kStep * kStep + kStep; stepEnd <= base + extLen_; stepEnd += kStep) {
        while (ok()) {
            const Kel8u* p = src + extCur_;
            Kel32s len = Kel32s(stepEnd - base - extCur_);
            Kel32s room = blockItems_ - items_;
            const Kel32s roomBefore = room;
            const KelStatus st = match(&p, &len, &room, 0);
            if (st != kelStatusOk) {
                failLibrary(st, "the Deflate matcher failed");
                break;
            }
            const std::int64_t consumed = p - (src + extCur_);
            extCur_ += consumed;
            items_ += roomBefore - room;
            if (items_ >= blockItems_) {
                emitBlock(false);
                continue;
            }
            if (consumed == 0 || len == 0) break;
        }
        if (!ok()) break;
    }
    // After a failure the matcher stopped anywhere in the piece, so its tail may exceed the window buffer; the
    // writer is dead and keeps nothing.
    if (!ok()) {
        ext_ = nullptr;
        return;
    }
    // The unmatched tail and a window of history in front of it go into the window buffer, with the current
    // block's bytes while it may still become a stored block, as a slide would keep them. A held stored block
    // that would not fit is written now, while its bytes are still at hand.
    std::int64_t keep = std::max<std::int64_t>(extCur_ - std::int64_t(kWindowSize), 0);
    if (heldStored_ >= 0 && heldStored_ < extBase_ + keep) settleStored();
    const std::int64_t block = blockStart_ - extBase_;
    if (block >= 0 && block < keep && extCur_ - block <= kStoredMax) keep = block;
    std::memcpy(b.window, src + keep, std::size_t(extLen_ - keep));
    winBase_ = extBase_ + keep;
    bufEnd_ = extLen_ - keep;
    cur_ = extCur_ - keep;
    ext_ = nullptr;
}

void DeflateWriter::putRaw(std::int64_t from, std::int64_t to) {
    const std::int64_t winEnd = winBase_ + bufEnd_;
    if (from < winEnd) {
        const std::int64_t upTo = std::min(to, winEnd);
        putBytes(b_->window + (from - winBase_), std::size_t(upTo - from));
        from = upTo;
    }
    if (from < to) putBytes(ext_ + (from - extBase_), std::size_t(to - from));
}

void DeflateWriter::slideWindow() {
    std::int64_t keepFrom = std::max<std::int64_t>(cur_ - std::int64_t(kWindowSize), 0);
    if (heldStored_ >= 0 && heldStored_ - winBase_ < keepFrom) settleStored();
    // Keep the current block's raw bytes too while it may still become a stored block.
    const std::int64_t block = blockStart_ - winBase_;
    if (block >= 0 && block < keepFrom && cur_ - block <= kStoredMax) keepFrom = block;
    if (keepFrom == 0) return;
    std::uint8_t* w = b_->window;
    std::memmove(w, w + keepFrom, std::size_t(bufEnd_ - keepFrom));
    bufEnd_ -= keepFrom;
    cur_ -= keepFrom;
    winBase_ += keepFrom;
}

// One matcher call from *p at pos_ (the source is also the history's end), into the current block's items.
KelStatus DeflateWriter::match(const Kel8u** p, Kel32s* len, Kel32s* room, Kel32u flushMode) {
    Buffers& b = *b_;
    if (row_ == kLiteralRow) return takeLiterals(p, len, room);
    if (row_ == kOwnRow) {
        return kelsDeflateLZ77Fast_8u(p, len, &pos_, *p, window_, b.heads, b.chain, kHashSize, b.litLen, b.dist,
                                      b.litOut + items_, b.distOut + items_, room, &ownParams_, flushMode);
    }
    return kelsDeflateLZ77_8u(p, len, &pos_, *p, window_, b.heads, b.chain, kHashSize, b.litLen, b.dist,
                              b.litOut + items_, b.distOut + items_, room, Kel32u(row_), flushMode);
}

// Every byte becomes a literal; the hash tables are left alone, as nothing is matched.
KelStatus DeflateWriter::takeLiterals(const Kel8u** p, Kel32s* len, Kel32s* room) {
    Buffers& b = *b_;
    const Kel32s n = std::min(*len, *room);
    const Kel8u* src = *p;
    for (Kel32s i = 0; i < n; ++i) {
        b.litOut[items_ + i] = src[i];
        b.distOut[items_ + i] = 0;
        ++b.litLen[src[i]].freqOrCode;
    }
    *p += n;
    *len -= n;
    *room -= n;
    pos_ += Kel32u(n);
    return kelStatusOk;
}

// Level 0: every byte is taken as it comes, and each 65535 bytes become a stored block (the most one holds).
void DeflateWriter::takeStored() {
    pos_ += Kel32u(bufEnd_ - cur_);
    cur_ = bufEnd_;
    while (ok() && winBase_ + cur_ - blockStart_ >= 65535) {
        putStoredRange(blockStart_, blockStart_ + 65535, false);
        blockStart_ += 65535;
    }
}

void DeflateWriter::compressBuffered(Kel32u flushMode) {
    Buffers& b = *b_;
    if (row_ == kStoredRow) {
        takeStored();
        return;
    }
    while (ok()) {
        const Kel8u* p = b.window + cur_;
        Kel32s len = Kel32s(bufEnd_ - cur_);
        if (len == 0) break;
        Kel32s room = blockItems_ - items_;
        const Kel32s roomBefore = room;
        const KelStatus st = match(&p, &len, &room, flushMode);
        if (st != kelStatusOk) {
            failLibrary(st, "the Deflate matcher failed");
            break;
        }
        const std::int64_t consumed = p - (b.window + cur_);
        cur_ += consumed;
        items_ += roomBefore - room;
        if (items_ >= blockItems_) {
            emitBlock(false);
            continue;
        }
        if (consumed == 0 || len == 0) break;
    }
}

void DeflateWriter::emitBlock(bool final) {
    Buffers& b = *b_;
    std::uint32_t litFreq[kLitLenSymbols], distFreq[kDistSymbols];
    for (int i = 0; i < kLitLenSymbols; ++i) litFreq[i] = b.litLen[i].freqOrCode;
    for (int i = 0; i < kDistSymbols; ++i) distFreq[i] = b.dist[i].freqOrCode;
    litFreq[kEndOfBlock] = 1;

    std::uint64_t extraBits = 0;
    for (int k = 0; k < 29; ++k) extraBits += std::uint64_t(litFreq[257 + k]) * kLengthExtra[k];
    for (int k = 0; k < kDistSymbols; ++k) extraBits += std::uint64_t(distFreq[k]) * kDistExtra[k];

    // Dynamic codes and their header.
    std::uint8_t litLens[288] = {}, distLens[32] = {};
    buildCodeLengths(litFreq, kLitLenSymbols, kMaxCodeBits, litLens);
    buildCodeLengths(distFreq, kDistSymbols, kMaxCodeBits, distLens);
    int hlit = kLitLenSymbols, hdist = kDistSymbols;
    while (hlit > 257 && litLens[hlit - 1] == 0) --hlit;
    while (hdist > 1 && distLens[hdist - 1] == 0) --hdist;
    std::uint8_t allLens[kLitLenSymbols + kDistSymbols];
    std::memcpy(allLens, litLens, std::size_t(hlit));
    std::memcpy(allLens + hlit, distLens, std::size_t(hdist));
    const int runCount = runLengthCode(allLens, hlit + hdist, b.runs);
    std::uint32_t clFreq[19] = {};
    for (int i = 0; i < runCount; ++i) ++clFreq[b.runs[i].sym];
    std::uint8_t clLens[19];
    buildCodeLengths(clFreq, 19, kMaxCodeLengthBits, clLens);
    int hclen = 19;
    while (hclen > 4 && clLens[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

    std::uint64_t dynamicBits = 3 + 5 + 5 + 4 + 3 * std::uint64_t(hclen) + extraBits;
    for (int i = 0; i < runCount; ++i) dynamicBits += clLens[b.runs[i].sym] + runExtraBits(b.runs[i].sym);
    for (int i = 0; i < kLitLenSymbols; ++i) dynamicBits += std::uint64_t(litFreq[i]) * litLens[i];
    for (int i = 0; i < kDistSymbols; ++i) dynamicBits += std::uint64_t(distFreq[i]) * distLens[i];

    std::uint8_t fixedLit[288], fixedDist[30];
    fixedLengths(fixedLit, fixedDist);
    std::uint64_t fixedBits = 3 + extraBits;
    for (int i = 0; i < kLitLenSymbols; ++i) fixedBits += std::uint64_t(litFreq[i]) * fixedLit[i];
    for (int i = 0; i < kDistSymbols; ++i) fixedBits += std::uint64_t(distFreq[i]) * fixedDist[i];

    // Stored: each piece of up to 65535 bytes has its 3 header bits, padding to a byte, LEN and NLEN. Only blocks of
    // at most kStoredMax bytes qualify (the window keeps their bytes; in a direct write the caller's buffer
    // continues them), so that the choice does not depend on how the input arrived.
    const std::int64_t curOff = ext_ ? extBase_ + extCur_ : winBase_ + cur_;
    const std::int64_t rawLen =
        blockStart_ >= winBase_ && curOff - blockStart_ <= kStoredMax ? curOff - blockStart_ : -1;
    std::uint64_t storedBits = ~std::uint64_t(0);
    if (rawLen >= 0) {
        storedBits = 0;
        unsigned at = bitCount_;
        std::int64_t left = rawLen;
        do {
            const std::int64_t piece = std::min<std::int64_t>(left, 65535);
            storedBits += 3 + (8 - (at + 3) % 8) % 8 + 32 + 8 * std::uint64_t(piece);
            at = 0;
            left -= piece;
        } while (left > 0);
    }

    if (fixedOnly_) dynamicBits = ~std::uint64_t(0);
    // Joined stored blocks share one header, so a block that joins a held one costs its bytes alone, and one that
    // starts a hold its share of a full block's header (blocks that may follow will pay the rest). Compared so,
    // a block coded with Huffman codes costs at most about 5 bits more than its raw bytes, and every stored group
    // ends next to a block that comes out smaller than its raw bytes, or at 64 KiB: the output stays within zlib's
    // compressBound however close to incompressible the input is.
    std::uint64_t storedCost = storedBits;
    // A block ended by a flush or the end is written at once, and pays its whole header unless it joins.
    if (joinStored_ && rawLen >= 0) {
        const bool joins = heldStored_ >= 0 && curOff - heldStored_ <= 65535;
        const bool full = !final && items_ >= blockItems_;
        if (joins) {
            storedCost = 8 * std::uint64_t(rawLen);
        } else if (full) {
            storedCost = 8 * std::uint64_t(rawLen) + 40 * std::uint64_t(rawLen) / 65535 + 1;
        }
    }
    const bool storedWins = storedCost < dynamicBits && storedCost < fixedBits;
    // A held stored block and this one join while together they fit one stored block; otherwise the held one
    // goes out first.
    if (heldStored_ >= 0 && !(storedWins && curOff - heldStored_ <= 65535)) settleStored();
    if (storedWins && joinStored_ && !final) {
        if (heldStored_ < 0) heldStored_ = blockStart_;
    } else if (storedWins) {
        putStoredRange(heldStored_ >= 0 ? heldStored_ : blockStart_, curOff, final);
        heldStored_ = -1;
    } else {
        if (dynamicBits < fixedBits) {
            putBits((final ? 1 : 0) | (2 << 1), 3);
            putBits(unsigned(hlit - 257), 5);
            putBits(unsigned(hdist - 1), 5);
            putBits(unsigned(hclen - 4), 4);
            for (int i = 0; i < hclen; ++i) putBits(clLens[kCodeLengthOrder[i]], 3);
            DeflateCodeEntry clCodes[19];
            assignCodes(clLens, 19, clCodes);
            for (int i = 0; i < runCount; ++i) {
                const LengthRun& r = b.runs[i];
                putBits(clCodes[r.sym].freqOrCode, clCodes[r.sym].codeLength);
                if (runExtraBits(r.sym) != 0) putBits(r.extra, runExtraBits(r.sym));
            }
            assignCodes(litLens, kLitLenSymbols, b.litLen);
            assignCodes(distLens, kDistSymbols, b.dist);
        } else {
            putBits((final ? 1 : 0) | (1 << 1), 3);
            // All 288 lengths: the unused symbols 286 and 287 still shape the canonical codes of the 9-bit ones.
            assignCodes(fixedLit, 288, b.litLen);
            assignCodes(fixedDist, kDistSymbols, b.dist);
        }
        // Hand the pending bits (fewer than 8) to the library's writer and take them back afterwards.
        Kel16u pending = Kel16u(bitAcc_);
        Kel32u pendingCount = bitCount_;
        Kel32u o = 0;
        const KelStatus st = kelsDeflateHuff_8u(b.litOut, b.distOut, Kel32u(items_), &pending, &pendingCount, b.litLen,
                                                b.dist, b.body, &o);
        putBytes(b.body, o);
        if (st != kelStatusOk) failLibrary(st, "the Deflate Huffman writer failed");
        bitAcc_ = pending;
        bitCount_ = pendingCount;
        putBits(b.litLen[kEndOfBlock].freqOrCode, b.litLen[kEndOfBlock].codeLength);
    }

    for (auto& e : b.litLen) e = DeflateCodeEntry{0, 0};
    for (auto& e : b.dist) e = DeflateCodeEntry{0, 0};
    items_ = 0;
    blockStart_ = curOff;
}

void DeflateWriter::putStoredRange(std::int64_t from, std::int64_t to, bool final) {
    do {
        const std::uint32_t piece = std::uint32_t(std::min<std::int64_t>(to - from, 65535));
        putBits((final && from + piece == to) ? 1 : 0, 3);
        alignToByte();
        putBits(piece | ((~piece & 0xFFFFu) << 16), 32);
        putRaw(from, from + piece);
        from += piece;
    } while (from < to);
}

// The held stored block ends at blockStart_.
void DeflateWriter::settleStored() {
    if (heldStored_ < 0) return;
    const std::int64_t from = heldStored_;
    heldStored_ = -1;
    putStoredRange(from, blockStart_, false);
}

void DeflateWriter::configure(int level, bool literalsOnly, bool fixedCodes) {
    const int row = level == 0 ? kStoredRow : literalsOnly ? kLiteralRow : level == 1 ? kOwnRow : rowOfLevel(level);
    const bool kindChanges = (row == kStoredRow) != (row_ == kStoredRow) ||
                             (row == kLiteralRow) != (row_ == kLiteralRow) || fixedCodes != fixedOnly_;
    if (b_ && kindChanges) endBlock();
    row_ = row;
    fixedOnly_ = fixedCodes;
    blockItems_ = level == 1 ? kMaxBlockItems : kBlockItems;
    if (b_ && ok() && items_ >= blockItems_) emitBlock(false);
}

KelStreamResult DeflateWriter::endBlock() {
    if (!ok()) return result_;
    compressBuffered(2);
    if (!ok()) return result_;
    if (row_ == kStoredRow) {
        const std::int64_t end = winBase_ + cur_;
        if (end > blockStart_) {
            putStoredRange(blockStart_, end, false);
            blockStart_ = end;
        }
    } else if (items_ > 0) {
        emitBlock(false);
    }
    settleStored();
    return result_;
}

void DeflateWriter::putEmptyStored() {
    putBits(0, 3);
    alignToByte();
    putBits(0xFFFF0000u, 32);
}

void DeflateWriter::putEmptyFixed() {
    putBits(1 << 1, 3);
    putBits(0, 7);  // end of block: fixed code 256 is seven zero bits
}

void DeflateWriter::forgetHistory() {
    std::fill(std::begin(b_->heads), std::end(b_->heads), kEmptyEntry);
}

std::size_t DeflateWriter::history(std::uint8_t* dst) const {
    const std::size_t n = std::size_t(std::min<std::int64_t>(bufEnd_, window_));
    if (dst && n) std::memcpy(dst, b_->window + (bufEnd_ - std::int64_t(n)), n);
    return n;
}

bool DeflateWriter::copyFrom(const DeflateWriter& o) {
    if (!b_) b_ = static_cast<Buffers*>(alloc_.get(sizeof(Buffers)));
    if (!b_) return false;
    std::memcpy(static_cast<void*>(b_), o.b_, sizeof(Buffers));
    row_ = o.row_;
    window_ = o.window_;
    fixedOnly_ = o.fixedOnly_;
    joinStored_ = o.joinStored_;
    heldStored_ = o.heldStored_;
    ownParams_ = o.ownParams_;
    blockItems_ = o.blockItems_;
    result_ = o.result_;
    message_ = o.message_;
    winBase_ = o.winBase_;
    bufEnd_ = o.bufEnd_;
    cur_ = o.cur_;
    blockStart_ = o.blockStart_;
    items_ = o.items_;
    ext_ = nullptr;
    extBase_ = extLen_ = extCur_ = 0;
    pos_ = o.pos_;
    bitAcc_ = o.bitAcc_;
    bitCount_ = o.bitCount_;
    return true;
}

KelStreamResult DeflateWriter::flush() {
    if (!ok()) return result_;
    compressBuffered(2);
    if (!ok()) return result_;
    emitBlock(false);
    // An empty stored block: its LEN field starts on a byte boundary, which aligns everything before it.
    putBits(0, 3);
    alignToByte();
    putBits(0xFFFF0000u, 32);
    return result_;
}

KelStreamResult DeflateWriter::finish() {
    if (!ok()) return result_;
    compressBuffered(2);
    if (!ok()) return result_;
    if (row_ == kStoredRow) {
        settleStored();
        putStoredRange(blockStart_, winBase_ + cur_, true);
        blockStart_ = winBase_ + cur_;
    } else {
        emitBlock(true);
    }
    alignToByte();
    return result_;
}

}  // namespace kel::stream
