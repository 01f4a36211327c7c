// src/stream/deflate_decoder.cpp - gzip, zlib and raw Deflate decompression around kelsInflate_8u.
//
// The reader parses what libkeldcn8 leaves to its caller: the zlib (RFC 1950) and gzip (RFC 1952, several members
// in a row) wrappers, block headers, stored blocks and the code-length code of dynamic blocks. It builds each
// dynamic block's tables with kelsInflateBuildHuffTable, decodes the payloads with kelsInflate_8u straight into
// the caller's output, keeps the 32 KiB history window and checks the trailers (Adler-32, or CRC-32 and length).
//
// Bits: the reader shares one bit buffer with the library. Header fields, stored-block lengths and code lengths are
// read from its low bits exactly as kelsInflate_8u reads codes, and whatever bits the library left behind at the
// end of a block are where the next header starts. Every step first makes sure all the bits it needs are held
// (pulling source bytes into the buffer) and only then consumes them, so the reader can stop at any byte of input
// and resume on the next call. Bytes pulled are consumed from the caller's point of view; the only ones handed
// back are whole bytes still held when the stream ends, and only those that came from the current call.
//
// History: within one call the library reads matches from the output written so far (dstPos = bytes of this
// call's output that belong to the current member) and from the 32 KiB window for anything older; the window is
// brought up to date only when the call returns. Until the window has been filled once, windowSize is the number
// of bytes it holds, so a distance reaching before the start of the data (or of the preset dictionary) is an error
// rather than a read of stale bytes.
//
// After a gzip member: the gzip magic starts another member; zero bytes are padding that gzip writers leave (tape
// blocks) and are consumed; any other byte ends the data and stays with the caller as trailing data. Telling these
// apart needs up to two bytes, which may arrive in separate calls: they are held in the bit buffer meanwhile.
#include <cstring>

#include "keldc.h"
#include "stream/gzip_header.h"
#include "stream/stream_internal.h"

namespace kel::stream {
namespace {

constexpr Kel32u kWindowSize = 32768;
// Output and input handed to one library call, far below the 32-bit position and count limits.
constexpr std::size_t kMaxPiece = std::size_t(1) << 30;
// gzip name and comment bytes kept for the header; longer fields are still read and covered by the header CRC.
constexpr std::size_t kMaxHeaderText = 65535;

// The order in which code-length code lengths are sent (RFC 1951, 3.2.7).
constexpr Kel8u kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

using gzip::kFlagComment;
using gzip::kFlagExtra;
using gzip::kFlagHeaderCrc;
using gzip::kFlagName;
using gzip::kFlagsReserved;

unsigned n8_reverseBits(unsigned code, unsigned len) {
    unsigned r = 0;
    for (unsigned i = 0; i < len; ++i) r |= ((code >> i) & 1u) << (len - 1 - i);
    return r;
}

// Adler-32 of a whole buffer in pieces the library's int lengths can take.
Kel32u n8_adler32(const std::uint8_t* p, std::size_t n) {
    Kel32u a = 1;
    while (n > 0) {
        const int piece = n > kMaxPiece ? int(kMaxPiece) : int(n);
        kelsAdler32_8u(p, piece, &a);
        p += piece;
        n -= std::size_t(piece);
    }
    return a;
}

// A code-length set with at least two codes and no room left: every bit pattern decodes to a symbol.
bool n8_isFullCode(const Kel16u* lens, unsigned n) {
    long left = 1L << 15;
    unsigned codes = 0;
    for (unsigned i = 0; i < n; ++i) {
        if (lens[i] == 0) continue;
        left -= 1L << (15 - lens[i]);
        ++codes;
    }
    return codes >= 2 && left == 0;
}

enum class Phase {
    ZlibHeader,
    ZlibDictId,
    WaitDictionary,  // zlib FDICT: nothing more until kelStreamSetDictionary
    GzipFixed,       // the 10 fixed header bytes
    GzipExtraLen,
    GzipExtra,
    GzipName,
    GzipComment,
    GzipHeaderCrc,
    BlockHeader,
    StoredLen,
    StoredNLen,
    StoredCopy,
    DynCounts,
    DynClens,
    DynLens,
    Huffman,
    Trailer,
    MemberStart,  // gzip: after a member, another one, padding or the end
    NextMember,   // gzip with stopAtEntries: the next member's magic is held; its header follows
    Padding,      // gzip: zero bytes after the last member
    Done,
    Failed,
};

enum class Step { Continue, NeedInput, NeedOutput, End, EntryEnd, NeedDictionary, Error };

class DeflateDecoder final : public EngineOf<DeflateDecoder> {
public:
    explicit DeflateDecoder(const Setup& s)
        : EngineOf(s),
          singleMember_(s.singleMember),
          stopAtEntries_(s.options.stopAtEntries != 0),
          presetDict_(s.alloc),
          name_(s.alloc),
          comment_(s.alloc),
          extra_(s.alloc) {}

    // Copies the preset dictionary (its last 32 KiB; the Adler-32 a zlib stream names covers all of it).
    bool init(const KelStreamOptions& o) {
        if (o.dictionary) {
            hasPreset_ = true;
            presetAdler_ = n8_adler32(o.dictionary, o.dictionaryLen);
            const std::size_t keep = o.dictionaryLen > kWindowSize ? kWindowSize : o.dictionaryLen;
            if (!presetDict_.append(o.dictionary + (o.dictionaryLen - keep), keep)) return false;
        }
        return reset();
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override;
    KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n) override;
    void header(KelStreamHeader* h) const override;
    bool reset() override;

private:
    Step runSteps();
    bool pull(unsigned n);
    unsigned take(unsigned n);
    bool takeHeaderByte(unsigned& b);
    bool collect(unsigned n);
    void startMember();
    void flushOutput();
    void seedWindow(const std::uint8_t* dict, std::size_t n);
    Step stop(KelStreamResult r, const char* why);
    Step endOfData(bool trailing);
    Step stepZlibHeader();
    Step stepGzipHeader();
    Step stepBlockHeader();
    Step stepStored();
    Step stepDynamic();
    Step stepHuffman();
    Step stepTrailer();
    Step stepMemberStart();

    const bool singleMember_;
    const bool stopAtEntries_;

    // The preset dictionary of the options.
    bool hasPreset_ = false;
    Kel32u presetAdler_ = 0;
    Bytes presetDict_;

    // ---- Everything reset() restores ----
    Phase phase_ = Phase::BlockHeader;
    KelStreamResult error_ = kelStreamOk;
    KelStreamResult endResult_ = kelStreamEnd;  // what a call after the end returns without new input
    bool started_ = false;                      // a process call has been made (raw dictionaries come before)

    Kel32u winPos_ = 0;   // where the next window byte goes
    Kel32u winFill_ = 0;  // valid window bytes, up to kWindowSize; until full, the window is window[0, winFill)

    Kel32u bitBuf_ = 0;  // held bits, low first, zero above bitCount
    Kel32u bitCount_ = 0;

    bool finalBlock_ = false;
    bool fixedBlock_ = false;
    bool fullCodes_ = false;  // the dynamic block's two sets decode every bit pattern
    int blockMode_ = 0;

    Kel8u hdr_[10] = {};  // header or trailer bytes collected so far
    unsigned have_ = 0;
    unsigned skipLeft_ = 0;  // FEXTRA bytes still to read
    Kel32u headerCrc_ = 0;

    unsigned storedLen_ = 0, storedLeft_ = 0;
    unsigned hlit_ = 0, hdist_ = 0, hclen_ = 0, index_ = 0;

    Kel32u check_ = 0;       // running Adler-32 or CRC-32 of the member
    Kel32u memberSize_ = 0;  // its length modulo 2^32

    // Header fields of the current member (header()).
    std::uint32_t entry_ = 0;
    bool complete_ = false;
    bool haveFixed_ = false;  // gzip: the 10 fixed bytes are read
    unsigned gzipFlags_ = 0;
    int level_ = -1;
    std::int64_t mtime_ = 0;
    int os_ = -1;
    bool nameDone_ = false, commentDone_ = false, extraDone_ = false;
    bool hasDictId_ = false;
    Kel32u dictId_ = 0;

    // ---- The current call ----
    const std::uint8_t* in_ = nullptr;
    std::size_t inLen_ = 0;
    std::uint8_t* out_ = nullptr;
    std::uint8_t* outEnd_ = nullptr;
    std::uint8_t* histFrom_ = nullptr;   // first output byte of this call that belongs to the current member
    std::uint8_t* checkFrom_ = nullptr;  // first output byte not yet in the running checksum
    bool lastInput_ = false;

    Bytes name_, comment_, extra_;

    // Large buffers last: nothing reads them before a block or a dictionary writes them, so reset() leaves them.
    InflateContext ctx_;
    Kel8u clLens_[19];
    Kel16u clTable_[128];  // (code length << 8) | symbol, indexed by 7 stream bits
    Kel16u lens_[320];
    Kel8u window_[kWindowSize];
};

bool DeflateDecoder::reset() {
    phase_ = format == kelFormatZlib   ? Phase::ZlibHeader
             : format == kelFormatGzip ? Phase::GzipFixed
                                       : Phase::BlockHeader;
    error_ = kelStreamOk;
    endResult_ = kelStreamEnd;
    started_ = false;
    winPos_ = winFill_ = 0;
    bitBuf_ = bitCount_ = 0;
    finalBlock_ = fixedBlock_ = fullCodes_ = false;
    blockMode_ = 0;
    have_ = skipLeft_ = 0;
    headerCrc_ = 0;
    storedLen_ = storedLeft_ = 0;
    hlit_ = hdist_ = hclen_ = index_ = 0;
    check_ = format == kelFormatZlib ? 1 : 0;
    memberSize_ = 0;
    entry_ = 0;
    complete_ = format == kelFormatDeflate;
    haveFixed_ = false;
    gzipFlags_ = 0;
    level_ = -1;
    mtime_ = 0;
    os_ = -1;
    nameDone_ = commentDone_ = extraDone_ = false;
    hasDictId_ = false;
    dictId_ = 0;
    name_.clear();
    comment_.clear();
    extra_.clear();
    message = "";
    // Raw data starts with the preset dictionary as its history; zlib only when the stream names it.
    if (format == kelFormatDeflate && hasPreset_) seedWindow(presetDict_.data(), presetDict_.size());
    return true;
}

void DeflateDecoder::header(KelStreamHeader* h) const {
    h->entry = entry_;
    h->complete = complete_ ? 1 : 0;
    if (format == kelFormatGzip) {
        h->os = haveFixed_ ? os_ : -1;
        h->level = haveFixed_ ? level_ : -1;
        h->mtime = mtime_;
        h->name = nameDone_ ? reinterpret_cast<const char*>(name_.data()) : nullptr;
        h->comment = commentDone_ ? reinterpret_cast<const char*>(comment_.data()) : nullptr;
        h->extra = extraDone_ ? extra_.data() : nullptr;
        h->extraLen = extraDone_ ? extra_.size() : 0;
        h->headerCrc = complete_ && (gzipFlags_ & kFlagHeaderCrc) ? 1 : 0;
    } else if (format == kelFormatZlib) {
        h->level = level_;
        h->hasDictId = hasDictId_ ? 1 : 0;
        h->dictId = dictId_;
    }
}

KelStreamResult DeflateDecoder::setDictionary(const std::uint8_t* dict, std::size_t n) {
    if (format == kelFormatGzip) return fail(kelStreamErrUnsupported, "gzip has no preset dictionary");
    if (format == kelFormatDeflate) {
        if (started_) return fail(kelStreamErrArgument, "a raw dictionary must come before the first data");
        seedWindow(dict, n);
        return kelStreamOk;
    }
    if (phase_ != Phase::WaitDictionary) return fail(kelStreamErrArgument, "no dictionary was asked for");
    if (n8_adler32(dict, n) != dictId_) return fail(kelStreamErrArgument, "dictionary does not match the stream's");
    seedWindow(dict, n);
    phase_ = Phase::BlockHeader;
    return kelStreamOk;
}

// The last 32 KiB of the dictionary become the history, as if they had just been decoded.
void DeflateDecoder::seedWindow(const std::uint8_t* dict, std::size_t n) {
    const std::size_t keep = n > kWindowSize ? kWindowSize : n;
    if (keep) std::memcpy(window_, dict + (n - keep), keep);
    winFill_ = Kel32u(keep);
    winPos_ = Kel32u(keep % kWindowSize);
}

// ---- Bits -----------------------------------------------------------------------------------------------------

// Makes sure n bits (n <= 24) are held; false when the input ran out first (the bytes pulled stay held).
bool DeflateDecoder::pull(unsigned n) {
    while (bitCount_ < n) {
        if (inLen_ == 0) return false;
        bitBuf_ |= Kel32u(*in_++) << bitCount_;
        bitCount_ += 8;
        --inLen_;
    }
    return true;
}

// Consumes n held bits (n <= 24), first bit lowest.
unsigned DeflateDecoder::take(unsigned n) {
    const unsigned v = bitBuf_ & ((1u << n) - 1);
    bitBuf_ >>= n;
    bitCount_ -= n;
    return v;
}

// One gzip header byte, counted into the header CRC.
bool DeflateDecoder::takeHeaderByte(unsigned& b) {
    if (!pull(8)) return false;
    b = take(8);
    const Kel8u byte = Kel8u(b);
    kelsCRC32_8u(&byte, 1, &headerCrc_);
    return true;
}

// Collects header or trailer bytes into hdr until n are there.
bool DeflateDecoder::collect(unsigned n) {
    while (have_ < n) {
        if (!pull(8)) return false;
        hdr_[have_++] = Kel8u(take(8));
    }
    return true;
}

Step DeflateDecoder::stop(KelStreamResult r, const char* why) {
    phase_ = Phase::Failed;
    error_ = r;
    message = why;
    return Step::Error;
}

// ---- Output bookkeeping ---------------------------------------------------------------------------------------

// Adds the output produced since the last flush to the member's checksum and length.
void DeflateDecoder::flushOutput() {
    const Kel8u* p = checkFrom_;
    std::size_t n = std::size_t(out_ - checkFrom_);
    memberSize_ += Kel32u(n);
    while (n > 0 && format != kelFormatDeflate) {
        const int piece = n > kMaxPiece ? int(kMaxPiece) : int(n);
        if (format == kelFormatZlib) {
            kelsAdler32_8u(p, piece, &check_);
        } else {
            kelsCRC32_8u(p, piece, &check_);
        }
        p += piece;
        n -= std::size_t(piece);
    }
    checkFrom_ = out_;
}

// A gzip member starts: checksum and length restart, no match may reach into the previous member, and the header
// fields describe the new member.
void DeflateDecoder::startMember() {
    flushOutput();
    check_ = 0;
    memberSize_ = 0;
    winPos_ = winFill_ = 0;
    histFrom_ = out_;
    have_ = 0;
    headerCrc_ = 0;
    ++entry_;
    complete_ = haveFixed_ = false;
    nameDone_ = commentDone_ = extraDone_ = false;
    level_ = os_ = -1;
    mtime_ = 0;
    name_.clear();
    comment_.clear();
    extra_.clear();
    phase_ = Phase::GzipFixed;
}

// ---- Steps ----------------------------------------------------------------------------------------------------

Step DeflateDecoder::stepZlibHeader() {
    if (phase_ == Phase::ZlibHeader) {
        if (!pull(16)) return Step::NeedInput;
        const unsigned cmf = take(8), flg = take(8);
        if ((cmf & 15) != 8) return stop(kelStreamErrCorrupt, "unknown compression method");
        if ((cmf >> 4) > 7) return stop(kelStreamErrCorrupt, "invalid window size");
        if ((cmf * 256 + flg) % 31 != 0) return stop(kelStreamErrCorrupt, "incorrect header check");
        level_ = int(flg >> 6);
        if (!(flg & 0x20)) {
            complete_ = true;
            phase_ = Phase::BlockHeader;
            return Step::Continue;
        }
        have_ = 0;
        phase_ = Phase::ZlibDictId;
    }
    if (!collect(4)) return Step::NeedInput;
    hasDictId_ = true;
    dictId_ = Kel32u(hdr_[0]) << 24 | Kel32u(hdr_[1]) << 16 | Kel32u(hdr_[2]) << 8 | hdr_[3];
    complete_ = true;
    if (hasPreset_ && presetAdler_ == dictId_) {
        seedWindow(presetDict_.data(), presetDict_.size());
        phase_ = Phase::BlockHeader;
        return Step::Continue;
    }
    phase_ = Phase::WaitDictionary;
    return Step::NeedDictionary;
}

Step DeflateDecoder::stepGzipHeader() {
    unsigned b = 0;
    switch (phase_) {
        case Phase::GzipFixed:
            while (have_ < gzip::kFixedHeaderBytes) {
                if (!takeHeaderByte(b)) return Step::NeedInput;
                hdr_[have_++] = Kel8u(b);
                if (have_ == 2 && (hdr_[0] != gzip::kId1 || hdr_[1] != gzip::kId2)) {
                    return stop(kelStreamErrCorrupt, "not in gzip format");
                }
            }
            if (hdr_[2] != gzip::kMethodDeflate) return stop(kelStreamErrCorrupt, "unknown compression method");
            // gzip itself refuses reserved flags: a later version may have given them a field this reader would skip
            // wrongly.
            if (hdr_[3] & kFlagsReserved) return stop(kelStreamErrCorrupt, "reserved header flags set");
            gzipFlags_ = hdr_[3];
            mtime_ =
                std::int64_t(Kel32u(hdr_[4]) | Kel32u(hdr_[5]) << 8 | Kel32u(hdr_[6]) << 16 | Kel32u(hdr_[7]) << 24);
            level_ = hdr_[8];
            os_ = hdr_[9];
            haveFixed_ = true;
            have_ = 0;
            phase_ = Phase::GzipExtraLen;
            return Step::Continue;
        case Phase::GzipExtraLen:
            if (gzipFlags_ & kFlagExtra) {
                while (have_ < 2) {
                    if (!takeHeaderByte(b)) return Step::NeedInput;
                    hdr_[have_++] = Kel8u(b);
                }
                skipLeft_ = hdr_[0] | (hdr_[1] << 8);
                if (!extra_.reserve(skipLeft_)) return stop(kelStreamErrMemory, "out of memory");
            }
            phase_ = Phase::GzipExtra;
            return Step::Continue;
        case Phase::GzipExtra:
            while (skipLeft_ > 0) {
                if (!takeHeaderByte(b)) return Step::NeedInput;
                extra_.push(Kel8u(b));  // reserved above: cannot fail
                --skipLeft_;
            }
            extraDone_ = (gzipFlags_ & kFlagExtra) != 0;
            phase_ = Phase::GzipName;
            return Step::Continue;
        case Phase::GzipName:
        case Phase::GzipComment: {
            const bool isName = phase_ == Phase::GzipName;
            if (gzipFlags_ & (isName ? kFlagName : kFlagComment)) {
                Bytes& text = isName ? name_ : comment_;
                do {
                    if (!takeHeaderByte(b)) return Step::NeedInput;
                    if (b == 0 || text.size() < kMaxHeaderText) {
                        if (!text.push(Kel8u(b))) return stop(kelStreamErrMemory, "out of memory");
                    }
                } while (b != 0);
                (isName ? nameDone_ : commentDone_) = true;
            }
            phase_ = isName ? Phase::GzipComment : Phase::GzipHeaderCrc;
            have_ = 0;
            return Step::Continue;
        }
        default:  // GzipHeaderCrc
            if (gzipFlags_ & kFlagHeaderCrc) {
                if (!collect(2)) return Step::NeedInput;
                if (Kel32u(hdr_[0] | (hdr_[1] << 8)) != (headerCrc_ & 0xFFFF)) {
                    return stop(kelStreamErrChecksum, "header CRC mismatch");
                }
            }
            complete_ = true;
            phase_ = Phase::BlockHeader;
            return Step::Continue;
    }
}

Step DeflateDecoder::stepBlockHeader() {
    if (!pull(3)) return Step::NeedInput;
    finalBlock_ = take(1) != 0;
    switch (take(2)) {
        case 0:
            take(bitCount_ % 8);  // stored blocks start on a byte boundary
            phase_ = Phase::StoredLen;
            break;
        case 1:
            ctx_.tableKind = 0;
            fixedBlock_ = true;
            blockMode_ = InflateModeEndOfBlock;
            phase_ = Phase::Huffman;
            break;
        case 2:
            phase_ = Phase::DynCounts;
            break;
        default:
            return stop(kelStreamErrCorrupt, "invalid block type");
    }
    return Step::Continue;
}

Step DeflateDecoder::stepStored() {
    if (phase_ == Phase::StoredLen) {
        if (!pull(16)) return Step::NeedInput;
        storedLen_ = take(16);
        phase_ = Phase::StoredNLen;
    }
    if (phase_ == Phase::StoredNLen) {
        if (!pull(16)) return Step::NeedInput;
        if ((take(16) ^ 0xFFFF) != storedLen_) return stop(kelStreamErrCorrupt, "invalid stored block lengths");
        storedLeft_ = storedLen_;
        phase_ = Phase::StoredCopy;
    }
    // Bytes already in the bit buffer come first (it is byte-aligned here), then straight from the input.
    while (storedLeft_ > 0 && bitCount_ >= 8) {
        if (out_ == outEnd_) return Step::NeedOutput;
        *out_++ = Kel8u(take(8));
        --storedLeft_;
    }
    while (storedLeft_ > 0) {
        std::size_t n = storedLeft_;
        if (n > inLen_) n = inLen_;
        if (n > std::size_t(outEnd_ - out_)) n = std::size_t(outEnd_ - out_);
        if (n == 0) return out_ == outEnd_ ? Step::NeedOutput : Step::NeedInput;
        std::memcpy(out_, in_, n);
        out_ += n;
        in_ += n;
        inLen_ -= n;
        storedLeft_ -= unsigned(n);
    }
    phase_ = finalBlock_ ? Phase::Trailer : Phase::BlockHeader;
    have_ = 0;
    return Step::Continue;
}

Step DeflateDecoder::stepDynamic() {
    if (phase_ == Phase::DynCounts) {
        if (!pull(14)) return Step::NeedInput;
        hlit_ = take(5) + 257;
        hdist_ = take(5) + 1;
        hclen_ = take(4) + 4;
        if (hlit_ > 286 || hdist_ > 30) return stop(kelStreamErrCorrupt, "too many length or distance symbols");
        for (auto& l : clLens_) l = 0;
        index_ = 0;
        phase_ = Phase::DynClens;
    }
    if (phase_ == Phase::DynClens) {
        while (index_ < hclen_) {
            if (!pull(3)) return Step::NeedInput;
            clLens_[kClOrder[index_++]] = Kel8u(take(3));
        }
        // The code-length code must be complete; its table is indexed by 7 bit-reversed stream bits.
        unsigned count[8] = {};
        for (Kel8u l : clLens_) ++count[l];
        count[0] = 0;
        int left = 1;
        for (unsigned len = 1; len <= 7; ++len) {
            left = left * 2 - int(count[len]);
            if (left < 0) break;
        }
        if (left != 0) return stop(kelStreamErrCorrupt, "invalid code lengths set");
        unsigned next[8] = {}, code = 0;
        for (unsigned len = 1; len <= 7; ++len) {
            code = (code + count[len - 1]) << 1;
            next[len] = code;
        }
        for (unsigned sym = 0; sym < 19; ++sym) {
            const unsigned l = clLens_[sym];
            if (l == 0) continue;
            for (unsigned i = n8_reverseBits(next[l]++, l); i < 128; i += 1u << l) clTable_[i] = Kel16u((l << 8) | sym);
        }
        index_ = 0;
        phase_ = Phase::DynLens;
    }
    // The loop keeps the bit buffer, the input and the index in locals, written back at every exit: as members they
    // would be reloaded after each store into lens_, which the compiler cannot tell apart from them.
    const unsigned total = hlit_ + hdist_;
    Kel32u bits = bitBuf_, held = bitCount_;
    const std::uint8_t* in = in_;
    std::size_t inLen = inLen_;
    unsigned index = index_;
    const auto saveBits = [&] {
        bitBuf_ = bits;
        bitCount_ = held;
        in_ = in;
        inLen_ = inLen;
        index_ = index;
    };
    while (index < total) {
        // Atomic per symbol: the code and its repeat bits are consumed together or not at all.
        for (; held < 14 && inLen != 0; held += 8, --inLen) bits |= Kel32u(*in++) << held;
        const unsigned e = clTable_[bits & 127], len = e >> 8, sym = e & 0xFF;
        if (len > held) {
            saveBits();
            return Step::NeedInput;
        }
        if (sym < 16) {
            bits >>= len;
            held -= len;
            lens_[index++] = Kel16u(sym);
            continue;
        }
        const unsigned extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
        if (len + extra > held) {
            saveBits();
            return Step::NeedInput;
        }
        bits >>= len;
        const unsigned repeat = (bits & ((1u << extra) - 1)) + (sym == 18 ? 11 : 3);
        bits >>= extra;
        held -= len + extra;
        if ((sym == 16 && index == 0) || index + repeat > total) {
            saveBits();
            return stop(kelStreamErrCorrupt, "invalid bit length repeat");
        }
        const Kel16u value = sym == 16 ? lens_[index - 1] : 0;
        for (unsigned k = 0; k < repeat; ++k) lens_[index++] = value;
    }
    saveBits();
    if (lens_[256] == 0) return stop(kelStreamErrCorrupt, "invalid code -- missing end-of-block");
    if (kelsInflateBuildHuffTable(lens_, hlit_, int(hdist_), &ctx_) != kelStatusOk) {
        return stop(kelStreamErrCorrupt, "invalid literal/length or distance code lengths");
    }
    // With both sets full, no bit pattern is an invalid code: a failure inside the block can then only be a
    // distance reaching before the history (see stepHuffman).
    fullCodes_ = n8_isFullCode(lens_, hlit_) && n8_isFullCode(lens_ + hlit_, hdist_);
    fixedBlock_ = false;
    blockMode_ = InflateModeEndOfBlock;
    phase_ = Phase::Huffman;
    return Step::Continue;
}

Step DeflateDecoder::stepHuffman() {
    const bool full = winFill_ >= kWindowSize;
    ctx_.window = window_;
    ctx_.windowSize = full ? kWindowSize : winFill_;
    const Kel32u winPos = full ? winPos_ : winFill_;

    // The library rejects null pointers even with nothing to read or no room; a local byte stands in for them.
    Kel8u spare = 0;
    Kel8u* src = inLen_ ? const_cast<Kel8u*>(in_) : &spare;  // read only: the library never writes its source
    int srcLen = int(inLen_ > kMaxPiece ? kMaxPiece : inLen_);
    Kel8u* dst = out_ ? out_ : &spare;
    int dstLen = int(outEnd_ - out_);
    const Kel32u dstPos = Kel32u(out_ - histFrom_);
    const KelStatus st =
        kelsInflate_8u(&src, &srcLen, &bitBuf_, &bitCount_, winPos, &dst, &dstLen, dstPos, &blockMode_, &ctx_);
    if (inLen_) {
        inLen_ -= std::size_t(src - in_);
        in_ = src;
    }
    if (out_) out_ = dst;
    bitBuf_ &= bitCount_ >= 32 ? 0xFFFFFFFFu : (1u << bitCount_) - 1;
    if (st != kelStatusOk) {
        // The library reports every failure alike; what the block allows tells them apart. Full codes leave only a
        // distance beyond the history; with a full window no distance can reach beyond it.
        const bool historyFull = std::size_t(ctx_.windowSize) + std::size_t(out_ - histFrom_) >= kWindowSize;
        if (fullCodes_ && !fixedBlock_) return stop(kelStreamErrCorrupt, "invalid distance too far back");
        if (historyFull) return stop(kelStreamErrCorrupt, "invalid literal/length or distance code");
        return stop(kelStreamErrCorrupt, "invalid code or distance too far back");
    }
    if (blockMode_ == InflateModeEndOfBlock) {
        if (finalBlock_) {
            take(bitCount_ % 8);  // the trailer (or the end of raw data) is byte-aligned
            have_ = 0;
            phase_ = Phase::Trailer;
        } else {
            phase_ = Phase::BlockHeader;
        }
        return Step::Continue;
    }
    if (blockMode_ == InflateModeSuspended && out_ == outEnd_) return Step::NeedOutput;
    return Step::NeedInput;
}

Step DeflateDecoder::stepTrailer() {
    if (format == kelFormatDeflate) return endOfData(false);
    const unsigned n = format == kelFormatZlib ? 4 : unsigned(gzip::kTrailerBytes);
    if (!collect(n)) return Step::NeedInput;
    flushOutput();
    const Kel8u* h = hdr_;
    if (format == kelFormatZlib) {
        const Kel32u adler = (Kel32u(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
        if (adler != check_) return stop(kelStreamErrChecksum, "incorrect data check (Adler-32)");
        return endOfData(false);
    }
    const Kel32u crc = h[0] | (h[1] << 8) | (h[2] << 16) | (Kel32u(h[3]) << 24);
    const Kel32u size = h[4] | (h[5] << 8) | (h[6] << 16) | (Kel32u(h[7]) << 24);
    if (crc != check_) return stop(kelStreamErrChecksum, "incorrect data check (CRC-32)");
    if (size != memberSize_) return stop(kelStreamErrChecksum, "incorrect length check");
    if (singleMember_) return endOfData(false);
    phase_ = Phase::MemberStart;
    return Step::Continue;
}

Step DeflateDecoder::endOfData(bool trailing) {
    phase_ = Phase::Done;
    if (trailing) endResult_ = kelStreamTrailingData;
    return Step::End;
}

// After a gzip member: 1f 8b starts another one; zero bytes are padding; anything else is trailing data. The bytes
// looked at stay held (pulled, not taken) until they are known to belong to a member.
Step DeflateDecoder::stepMemberStart() {
    if (phase_ == Phase::MemberStart) {
        if (!pull(8)) return lastInput_ ? endOfData(false) : Step::NeedInput;
        const unsigned first = bitBuf_ & 0xFF;
        if (first == 0) {
            take(8);
            phase_ = Phase::Padding;
            return Step::Continue;
        }
        if (first != gzip::kId1) return endOfData(true);
        if (!pull(16)) return lastInput_ ? endOfData(true) : Step::NeedInput;
        if ((bitBuf_ & 0xFFFF) != (unsigned(gzip::kId2) << 8 | gzip::kId1)) return endOfData(true);
        if (stopAtEntries_) {
            phase_ = Phase::NextMember;
            return Step::EntryEnd;
        }
        startMember();
        return Step::Continue;
    }
    // Padding: zero bytes up to the end of the input; a non-zero byte after them is trailing data.
    while (pull(8)) {
        if ((bitBuf_ & 0xFF) != 0) return endOfData(true);
        take(8);
    }
    return lastInput_ ? endOfData(false) : Step::NeedInput;
}

Step DeflateDecoder::runSteps() {
    for (;;) {
        Step st = Step::Continue;
        switch (phase_) {
            case Phase::ZlibHeader:
            case Phase::ZlibDictId:
                st = stepZlibHeader();
                break;
            case Phase::WaitDictionary:
                return Step::NeedDictionary;
            case Phase::GzipFixed:
            case Phase::GzipExtraLen:
            case Phase::GzipExtra:
            case Phase::GzipName:
            case Phase::GzipComment:
            case Phase::GzipHeaderCrc:
                st = stepGzipHeader();
                break;
            case Phase::BlockHeader:
                st = stepBlockHeader();
                break;
            case Phase::StoredLen:
            case Phase::StoredNLen:
            case Phase::StoredCopy:
                st = stepStored();
                break;
            case Phase::DynCounts:
            case Phase::DynClens:
            case Phase::DynLens:
                st = stepDynamic();
                break;
            case Phase::Huffman:
                st = stepHuffman();
                break;
            case Phase::Trailer:
                st = stepTrailer();
                break;
            case Phase::MemberStart:
            case Phase::Padding:
                st = stepMemberStart();
                break;
            case Phase::NextMember:
                startMember();
                break;
            case Phase::Done:
                return Step::End;
            case Phase::Failed:
                return Step::Error;
        }
        if (st != Step::Continue) return st;
    }
}

KelStreamResult DeflateDecoder::process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed,
                                        std::uint8_t* dst, std::size_t dstCap, std::size_t* produced,
                                        KelStreamFlush flush) {
    *consumed = 0;
    *produced = 0;
    started_ = true;
    if (phase_ == Phase::Failed) return error_;
    if (phase_ == Phase::WaitDictionary) return kelStreamNeedDictionary;
    if (phase_ == Phase::Done) {
        // The stream is over: new bytes start nothing (a gzip decoder has already looked for another member).
        if (srcLen > 0 && !singleMember_) return kelStreamTrailingData;
        return endResult_;
    }
    in_ = src;
    inLen_ = srcLen;
    out_ = dst;
    outEnd_ = dst + (dstCap > kMaxPiece ? kMaxPiece : dstCap);
    histFrom_ = dst;
    checkFrom_ = dst;
    lastInput_ = flush == kelFlushFinish;

    Step st = runSteps();
    if (st == Step::NeedInput && lastInput_ && inLen_ == 0) st = stop(kelStreamErrTruncated, "unexpected end of input");

    flushOutput();
    // Bring the window up to date with this call's output of the current member (its last 32 KiB at most). At the
    // end of the data nothing reads it again (only reset() leaves Done, and it empties or reseeds the window), and
    // the copy would cost a one-call decode of a small input several percent.
    const std::size_t n = st == Step::End ? 0 : std::size_t(out_ - histFrom_);
    const std::uint8_t* p = out_ - n;
    if (n >= kWindowSize) {
        std::memcpy(window_, p + (n - kWindowSize), kWindowSize);
        winPos_ = 0;
        winFill_ = kWindowSize;
    } else if (n > 0) {
        const std::size_t first = n < kWindowSize - winPos_ ? n : kWindowSize - winPos_;
        std::memcpy(window_ + winPos_, p, first);
        std::memcpy(window_, p + first, n - first);
        winPos_ = Kel32u((winPos_ + n) % kWindowSize);
        winFill_ = winFill_ + n >= kWindowSize ? kWindowSize : Kel32u(winFill_ + n);
    }

    if (st == Step::End) {
        // Whole bytes read ahead past the end go back to the input when they came from this call's input; bytes
        // held from an earlier call cannot, and count as trailing data.
        const std::size_t held = bitCount_ / 8;
        const std::size_t fromCall = std::size_t(in_ - src);
        const std::size_t back = held < fromCall ? held : fromCall;
        in_ -= back;
        inLen_ += back;
        if (held > back && !singleMember_) endResult_ = kelStreamTrailingData;
        bitBuf_ = 0;
        bitCount_ = 0;
        // zlib and raw data end at their last byte: anything given after it is trailing data.
        if (inLen_ > 0 && !singleMember_) endResult_ = kelStreamTrailingData;
    }
    *consumed = srcLen - inLen_;
    *produced = std::size_t(out_ - dst);
    switch (st) {
        case Step::End:
            return endResult_;
        case Step::EntryEnd:
            return kelStreamEntryEnd;
        case Step::NeedDictionary:
            return kelStreamNeedDictionary;
        case Step::Error:
            return error_;
        default:
            return kelStreamOk;
    }
}

}  // namespace

Engine* newDeflateDecoder(const Setup& s, CreateError* e) {
    DeflateDecoder* d = make<DeflateDecoder>(s.alloc, s);
    if (!d || !d->init(s.options)) {
        if (d) d->destroy();
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    return d;
}

}  // namespace kel::stream
