// apps/stream/inflate_stream.cpp - zlib / gzip / raw Deflate decompression around kelsInflate_8u.
//
// The reader shares one bit buffer with the library: header fields, stored-block lengths and code lengths are
// read from its low bits exactly as kelsInflate_8u reads codes, and whatever bits the library left behind at the
// end of a block are where the next header starts. Every step first makes sure all the bits it needs are held
// (pulling source bytes into the buffer) and only then consumes them, so the reader can stop at any byte of
// input and resume on the next call.
//
// History: within one call the library reads matches from the output written so far (dstPos = bytes of this
// call's output that belong to the current member) and from the 32 KiB window for anything older; the window is
// brought up to date only when the call returns. Until the window has been filled once, windowSize is the
// number of bytes it holds, so a distance reaching before the start of the data is an error rather than a read
// of stale bytes.
#include "stream/inflate_stream.h"

#include <climits>
#include <cstring>
#include <vector>

#include "keldc.h"

namespace kel {
namespace {

constexpr Kel32u kWindowSize = 32768;
// Output and input handed to one library call, far below the 32-bit position and count limits.
constexpr std::size_t kMaxPiece = std::size_t(1) << 30;

// The order in which code-length code lengths are sent (RFC 1951, 3.2.7).
constexpr Kel8u kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

unsigned reverseBits(unsigned code, unsigned len) {
    unsigned r = 0;
    for (unsigned i = 0; i < len; ++i) r |= ((code >> i) & 1u) << (len - 1 - i);
    return r;
}

}  // namespace

enum class InflateStream::Step : int { Continue, NeedInput, NeedOutput, End, Error };

enum class Phase {
    ZlibHeader,
    GzipFixed,  // the 10 fixed header bytes
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
    MemberStart,  // gzip: after a member, another one or the end
    Done,
    Failed,
};

// Everything reset() restores. The large buffers (State below) need no reset: nothing reads them before a
// block writes them.
struct StreamVars {
    Kel32u winPos = 0;   // where the next window byte goes
    Kel32u winFill = 0;  // valid window bytes, up to kWindowSize; until full, the window is window[0, winFill)

    Kel32u bitBuf = 0;  // held bits, low first, zero above bitCount
    Kel32u bitCount = 0;

    Phase phase = Phase::BlockHeader;
    InflateResult error = InflateResult::Ok;
    bool finalBlock = false;
    int blockMode = 0;

    Kel8u hdr[10] = {};  // header or trailer bytes collected so far
    unsigned have = 0;
    unsigned gzipFlags = 0;
    unsigned skipLeft = 0;  // FEXTRA bytes still to skip
    Kel32u headerCrc = 0;

    unsigned storedLen = 0, storedLeft = 0;

    unsigned hlit = 0, hdist = 0, hclen = 0, index = 0;

    Kel32u check = 0;       // running Adler-32 or CRC-32 of the member
    Kel32u memberSize = 0;  // its length modulo 2^32
};

struct InflateStream::State : StreamVars {
    InflateContext ctx;
    Kel8u window[kWindowSize];
    Kel8u clLens[19];
    Kel16u clTable[128];  // (code length << 8) | symbol, indexed by 7 stream bits
    Kel16u lens[320];
};

// Default-initialised on purpose: the buffers need no zeroing (see StreamVars).
InflateStream::InflateStream(InflateFormat format) : format_(format), s_(new State) {
    reset();
}

InflateStream::~InflateStream() = default;

void InflateStream::reset() {
    static_cast<StreamVars&>(*s_) = StreamVars{};
    message_ = "";
    trailingData_ = false;
    totalOut_ = 0;
    s_->phase = format_ == InflateFormat::Zlib   ? Phase::ZlibHeader
                : format_ == InflateFormat::Gzip ? Phase::GzipFixed
                                                 : Phase::BlockHeader;
    s_->check = format_ == InflateFormat::Zlib ? 1 : 0;
}

// ---- Bits -----------------------------------------------------------------------------------------------------

// Makes sure n bits (n <= 24) are held; false when the input ran out first (the bytes pulled stay held).
bool InflateStream::pull(unsigned n) {
    while (s_->bitCount < n) {
        if (inLen_ == 0) return false;
        s_->bitBuf |= Kel32u(*in_++) << s_->bitCount;
        s_->bitCount += 8;
        --inLen_;
    }
    return true;
}

// Consumes n held bits (n <= 24), first bit lowest.
unsigned InflateStream::take(unsigned n) {
    const unsigned v = s_->bitBuf & ((1u << n) - 1);
    s_->bitBuf >>= n;
    s_->bitCount -= n;
    return v;
}

// One gzip header byte, counted into the header CRC.
bool InflateStream::takeHeaderByte(unsigned& b) {
    if (!pull(8)) return false;
    b = take(8);
    const Kel8u byte = Kel8u(b);
    kelsCRC32_8u(&byte, 1, &s_->headerCrc);
    return true;
}

// Collects header or trailer bytes into hdr until n are there.
bool InflateStream::collect(unsigned n) {
    while (s_->have < n) {
        if (!pull(8)) return false;
        s_->hdr[s_->have++] = Kel8u(take(8));
    }
    return true;
}

InflateStream::Step InflateStream::fail(InflateResult r, const char* why) {
    s_->phase = Phase::Failed;
    s_->error = r;
    message_ = why;
    return Step::Error;
}

// ---- Output bookkeeping ---------------------------------------------------------------------------------------

// Adds the output produced since the last flush to the member's checksum and length.
void InflateStream::flushOutput() {
    const Kel8u* p = checkFrom_;
    std::size_t n = std::size_t(out_ - checkFrom_);
    s_->memberSize += Kel32u(n);
    totalOut_ += n;
    while (n > 0 && format_ != InflateFormat::Deflate) {
        const int piece = n > kMaxPiece ? int(kMaxPiece) : int(n);
        if (format_ == InflateFormat::Zlib)
            kelsAdler32_8u(p, piece, &s_->check);
        else
            kelsCRC32_8u(p, piece, &s_->check);
        p += piece;
        n -= std::size_t(piece);
    }
    checkFrom_ = out_;
}

// A gzip member starts: checksum and length restart, and no match may reach into the previous member.
void InflateStream::startMember() {
    flushOutput();
    s_->check = 0;
    s_->memberSize = 0;
    s_->winPos = s_->winFill = 0;
    histFrom_ = out_;
    s_->have = 0;
    s_->headerCrc = 0;
    s_->phase = Phase::GzipFixed;
}

// ---- Steps ----------------------------------------------------------------------------------------------------

InflateStream::Step InflateStream::stepGzipHeader() {
    State& s = *s_;
    unsigned b = 0;
    switch (s.phase) {
        case Phase::GzipFixed:
            while (s.have < 10) {
                if (!takeHeaderByte(b)) return Step::NeedInput;
                s.hdr[s.have++] = Kel8u(b);
                if (s.have == 2 && (s.hdr[0] != 0x1F || s.hdr[1] != 0x8B))
                    return fail(InflateResult::Corrupt, "not in gzip format");
            }
            if (s.hdr[2] != 8) return fail(InflateResult::Corrupt, "unknown compression method");
            if (s.hdr[3] & 0xE0) return fail(InflateResult::Corrupt, "reserved header flags set");
            s.gzipFlags = s.hdr[3];
            s.have = 0;
            s.phase = Phase::GzipExtraLen;
            return Step::Continue;
        case Phase::GzipExtraLen:
            if (s.gzipFlags & 4) {
                while (s.have < 2) {
                    if (!takeHeaderByte(b)) return Step::NeedInput;
                    s.hdr[s.have++] = Kel8u(b);
                }
                s.skipLeft = s.hdr[0] | (s.hdr[1] << 8);
            }
            s.phase = Phase::GzipExtra;
            return Step::Continue;
        case Phase::GzipExtra:
            while (s.skipLeft > 0) {
                if (!takeHeaderByte(b)) return Step::NeedInput;
                --s.skipLeft;
            }
            s.phase = Phase::GzipName;
            return Step::Continue;
        case Phase::GzipName:
        case Phase::GzipComment:
            if (s.gzipFlags & (s.phase == Phase::GzipName ? 8 : 16)) {
                do {
                    if (!takeHeaderByte(b)) return Step::NeedInput;
                } while (b != 0);
            }
            s.phase = s.phase == Phase::GzipName ? Phase::GzipComment : Phase::GzipHeaderCrc;
            s.have = 0;
            return Step::Continue;
        default:  // GzipHeaderCrc
            if (s.gzipFlags & 2) {
                if (!collect(2)) return Step::NeedInput;
                if (Kel32u(s.hdr[0] | (s.hdr[1] << 8)) != (s.headerCrc & 0xFFFF))
                    return fail(InflateResult::Checksum, "header CRC mismatch");
            }
            s.phase = Phase::BlockHeader;
            return Step::Continue;
    }
}

InflateStream::Step InflateStream::stepBlockHeader() {
    State& s = *s_;
    if (!pull(3)) return Step::NeedInput;
    s.finalBlock = take(1) != 0;
    switch (take(2)) {
        case 0:
            take(s.bitCount % 8);  // stored blocks start on a byte boundary
            s.phase = Phase::StoredLen;
            break;
        case 1:
            s.ctx.tableKind = 0;
            s.blockMode = InflateModeEndOfBlock;
            s.phase = Phase::Huffman;
            break;
        case 2:
            s.phase = Phase::DynCounts;
            break;
        default:
            return fail(InflateResult::Corrupt, "invalid block type");
    }
    return Step::Continue;
}

InflateStream::Step InflateStream::stepStored() {
    State& s = *s_;
    if (s.phase == Phase::StoredLen) {
        if (!pull(16)) return Step::NeedInput;
        s.storedLen = take(16);
        s.phase = Phase::StoredNLen;
    }
    if (s.phase == Phase::StoredNLen) {
        if (!pull(16)) return Step::NeedInput;
        if ((take(16) ^ 0xFFFF) != s.storedLen) return fail(InflateResult::Corrupt, "invalid stored block lengths");
        s.storedLeft = s.storedLen;
        s.phase = Phase::StoredCopy;
    }
    // Bytes already in the bit buffer come first (it is byte-aligned here), then straight from the input.
    while (s.storedLeft > 0 && s.bitCount >= 8) {
        if (out_ == outEnd_) return Step::NeedOutput;
        *out_++ = Kel8u(take(8));
        --s.storedLeft;
    }
    while (s.storedLeft > 0) {
        std::size_t n = s.storedLeft;
        if (n > inLen_) n = inLen_;
        if (n > std::size_t(outEnd_ - out_)) n = std::size_t(outEnd_ - out_);
        if (n == 0) return out_ == outEnd_ ? Step::NeedOutput : Step::NeedInput;
        std::memcpy(out_, in_, n);
        out_ += n;
        in_ += n;
        inLen_ -= n;
        s.storedLeft -= unsigned(n);
    }
    s.phase = s.finalBlock ? Phase::Trailer : Phase::BlockHeader;
    s.have = 0;
    return Step::Continue;
}

InflateStream::Step InflateStream::stepDynamic() {
    State& s = *s_;
    if (s.phase == Phase::DynCounts) {
        if (!pull(14)) return Step::NeedInput;
        s.hlit = take(5) + 257;
        s.hdist = take(5) + 1;
        s.hclen = take(4) + 4;
        if (s.hlit > 286 || s.hdist > 30) return fail(InflateResult::Corrupt, "too many length or distance symbols");
        for (auto& l : s.clLens) l = 0;
        s.index = 0;
        s.phase = Phase::DynClens;
    }
    if (s.phase == Phase::DynClens) {
        while (s.index < s.hclen) {
            if (!pull(3)) return Step::NeedInput;
            s.clLens[kClOrder[s.index++]] = Kel8u(take(3));
        }
        // The code-length code must be complete; its table is indexed by 7 bit-reversed stream bits.
        unsigned count[8] = {};
        for (Kel8u l : s.clLens) ++count[l];
        count[0] = 0;
        int left = 1;
        for (unsigned len = 1; len <= 7; ++len) {
            left = left * 2 - int(count[len]);
            if (left < 0) break;
        }
        if (left != 0) return fail(InflateResult::Corrupt, "invalid code lengths set");
        unsigned next[8] = {}, code = 0;
        for (unsigned len = 1; len <= 7; ++len) {
            code = (code + count[len - 1]) << 1;
            next[len] = code;
        }
        for (unsigned sym = 0; sym < 19; ++sym) {
            const unsigned l = s.clLens[sym];
            if (l == 0) continue;
            for (unsigned i = reverseBits(next[l]++, l); i < 128; i += 1u << l) s.clTable[i] = Kel16u((l << 8) | sym);
        }
        s.index = 0;
        s.phase = Phase::DynLens;
    }
    const unsigned total = s.hlit + s.hdist;
    while (s.index < total) {
        // Atomic per symbol: the code and its repeat bits are consumed together or not at all.
        pull(14);
        const unsigned e = s.clTable[s.bitBuf & 127], len = e >> 8, sym = e & 0xFF;
        if (len > s.bitCount) return Step::NeedInput;
        if (sym < 16) {
            take(len);
            s.lens[s.index++] = Kel16u(sym);
            continue;
        }
        const unsigned extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
        if (len + extra > s.bitCount) return Step::NeedInput;
        take(len);
        const unsigned repeat = take(extra) + (sym == 18 ? 11 : 3);
        if (sym == 16 && s.index == 0) return fail(InflateResult::Corrupt, "invalid bit length repeat");
        if (s.index + repeat > total) return fail(InflateResult::Corrupt, "invalid bit length repeat");
        const Kel16u value = sym == 16 ? s.lens[s.index - 1] : 0;
        for (unsigned k = 0; k < repeat; ++k) s.lens[s.index++] = value;
    }
    if (s.lens[256] == 0) return fail(InflateResult::Corrupt, "invalid code -- missing end-of-block");
    if (kelsInflateBuildHuffTable(s.lens, s.hlit, int(s.hdist), &s.ctx) != kelStatusOk)
        return fail(InflateResult::Corrupt, "invalid literal/length or distance code lengths");
    s.blockMode = InflateModeEndOfBlock;
    s.phase = Phase::Huffman;
    return Step::Continue;
}

InflateStream::Step InflateStream::stepHuffman() {
    State& s = *s_;
    const bool full = s.winFill >= kWindowSize;
    s.ctx.window = s.window;
    s.ctx.windowSize = full ? kWindowSize : s.winFill;
    const Kel32u winPos = full ? s.winPos : s.winFill;

    Kel8u* src = const_cast<Kel8u*>(in_);  // read only: the library never writes its source
    int srcLen = int(inLen_ > kMaxPiece ? kMaxPiece : inLen_);
    Kel8u* dst = out_;
    int dstLen = int(outEnd_ - out_);
    const KelStatus st = kelsInflate_8u(&src, &srcLen, &s.bitBuf, &s.bitCount, winPos, &dst, &dstLen,
                                        Kel32u(out_ - histFrom_), &s.blockMode, &s.ctx);
    inLen_ -= std::size_t(src - in_);
    in_ = src;
    out_ = dst;
    s.bitBuf &= s.bitCount >= 32 ? 0xFFFFFFFFu : (1u << s.bitCount) - 1;
    if (st != kelStatusOk) return fail(InflateResult::Corrupt, "invalid compressed data");
    if (s.blockMode == InflateModeEndOfBlock) {
        if (s.finalBlock) {
            take(s.bitCount % 8);  // the trailer (or the end of raw data) is byte-aligned
            s.have = 0;
            s.phase = Phase::Trailer;
        } else {
            s.phase = Phase::BlockHeader;
        }
        return Step::Continue;
    }
    if (s.blockMode == InflateModeSuspended && out_ == outEnd_) return Step::NeedOutput;
    return Step::NeedInput;
}

InflateStream::Step InflateStream::stepTrailer() {
    State& s = *s_;
    if (format_ == InflateFormat::Deflate) {
        s.phase = Phase::Done;
        return Step::End;
    }
    const unsigned n = format_ == InflateFormat::Zlib ? 4 : 8;
    if (!collect(n)) return Step::NeedInput;
    flushOutput();
    const Kel8u* h = s.hdr;
    if (format_ == InflateFormat::Zlib) {
        const Kel32u adler = (Kel32u(h[0]) << 24) | (h[1] << 16) | (h[2] << 8) | h[3];
        if (adler != s.check) return fail(InflateResult::Checksum, "incorrect data check (Adler-32)");
        s.phase = Phase::Done;
        return Step::End;
    }
    const Kel32u crc = h[0] | (h[1] << 8) | (h[2] << 16) | (Kel32u(h[3]) << 24);
    const Kel32u size = h[4] | (h[5] << 8) | (h[6] << 16) | (Kel32u(h[7]) << 24);
    if (crc != s.check) return fail(InflateResult::Checksum, "incorrect data check (CRC-32)");
    if (size != s.memberSize) return fail(InflateResult::Checksum, "incorrect length check");
    s.phase = Phase::MemberStart;
    return Step::Continue;
}

InflateStream::Step InflateStream::runSteps() {
    for (;;) {
        State& s = *s_;
        Step st = Step::Continue;
        switch (s.phase) {
            case Phase::ZlibHeader: {
                if (!pull(16)) return Step::NeedInput;
                const unsigned cmf = take(8), flg = take(8);
                if ((cmf & 15) != 8) return fail(InflateResult::Corrupt, "unknown compression method");
                if ((cmf >> 4) > 7) return fail(InflateResult::Corrupt, "invalid window size");
                if ((cmf * 256 + flg) % 31 != 0) return fail(InflateResult::Corrupt, "incorrect header check");
                if (flg & 0x20) return fail(InflateResult::Corrupt, "preset dictionary not supported");
                s.phase = Phase::BlockHeader;
                break;
            }
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
                // Another member follows when the next two bytes are the gzip magic; nothing at all is the end.
                if (!pull(16)) {
                    if (!lastInput_) return Step::NeedInput;
                    if (s.bitCount != 0) trailingData_ = true;
                    s.phase = Phase::Done;
                    return Step::End;
                }
                if ((s.bitBuf & 0xFFFF) != 0x8B1F) {
                    trailingData_ = true;
                    s.phase = Phase::Done;
                    return Step::End;
                }
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

InflateResult InflateStream::decompress(const std::uint8_t*& in, std::size_t& inLen, std::uint8_t*& out,
                                        std::size_t& outLen, bool lastInput) {
    State& s = *s_;
    if (s.phase == Phase::Failed) return s.error;
    if (s.phase == Phase::Done) return InflateResult::End;
    const std::uint8_t* const inStart = in;
    in_ = in;
    inLen_ = inLen;
    out_ = out;
    outEnd_ = out + (outLen > kMaxPiece ? kMaxPiece : outLen);
    histFrom_ = out;
    checkFrom_ = out;
    lastInput_ = lastInput;

    Step st = runSteps();
    if (st == Step::NeedInput && lastInput && inLen_ == 0)
        st = fail(InflateResult::Truncated, "unexpected end of input");

    flushOutput();
    // Bring the window up to date with this call's output of the current member (its last 32 KiB at most).
    std::size_t n = std::size_t(out_ - histFrom_);
    const std::uint8_t* p = out_ - n;
    if (n >= kWindowSize) {
        p += n - kWindowSize;
        std::memcpy(s.window, p, kWindowSize);
        s.winPos = 0;
        s.winFill = kWindowSize;
    } else if (n > 0) {
        const std::size_t first = n < kWindowSize - s.winPos ? n : kWindowSize - s.winPos;
        std::memcpy(s.window + s.winPos, p, first);
        std::memcpy(s.window, p + first, n - first);
        s.winPos = Kel32u((s.winPos + n) % kWindowSize);
        s.winFill = s.winFill + n >= kWindowSize ? kWindowSize : Kel32u(s.winFill + n);
    }

    if (st == Step::End) {
        // Whole bytes read ahead past the end go back to the input when they came from this call's input.
        const std::size_t held = s.bitCount / 8;
        const std::size_t back = held < std::size_t(in_ - inStart) ? held : std::size_t(in_ - inStart);
        in_ -= back;
        inLen_ += back;
        if (held > back) trailingData_ = true;
        s.bitBuf = 0;
        s.bitCount = 0;
    }
    in = in_;
    inLen = inLen_;
    outLen -= std::size_t(out_ - out);
    out = out_;
    switch (st) {
        case Step::End:
            return InflateResult::End;
        case Step::Error:
            return s.error;
        default:
            return InflateResult::Ok;
    }
}

std::string inflateDecompress(InflateFormat format, const ByteSource& in, const ByteSink& out, bool* trailing) {
    InflateStream stream(format);
    std::vector<std::uint8_t> inBuf(std::size_t(1) << 16), outBuf(std::size_t(1) << 18);
    const std::uint8_t* ip = inBuf.data();
    std::size_t inLen = 0;
    bool eof = false;
    for (;;) {
        if (inLen == 0 && !eof) {
            ip = inBuf.data();
            inLen = in(inBuf.data(), inBuf.size());
            eof = inLen == 0;
        }
        std::uint8_t* op = outBuf.data();
        std::size_t room = outBuf.size();
        const InflateResult r = stream.decompress(ip, inLen, op, room, eof);
        const std::size_t produced = std::size_t(op - outBuf.data());
        if (produced > 0 && !out(outBuf.data(), produced)) return "write error";
        switch (r) {
            case InflateResult::Ok:
                break;
            case InflateResult::End:
                if (trailing) *trailing = stream.trailingData() || inLen > 0 || (!eof && in(inBuf.data(), 1) > 0);
                return "";
            case InflateResult::Corrupt:
                return std::string("corrupt input: ") + stream.message();
            case InflateResult::Truncated:
                return "truncated input";
            case InflateResult::Checksum:
                return std::string("wrong checksum: ") + stream.message();
        }
    }
}

}  // namespace kel
