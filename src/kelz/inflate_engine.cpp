// src/kelz/inflate_engine.cpp - the resumable decoder behind inflate and inflateBack.
//
// Bits: `hold` keeps the input bits taken but not yet used, oldest in bit 0, exactly as kelsInflate_8u keeps its
// bit buffer, so the kernel continues where the header parser stopped and leaves the next block header in the
// same place. Every step first makes sure the bits it needs are held (taking input bytes one at a time, and only
// as many as it needs) and then uses them, so a step that runs out of input has consumed all of it and resumes
// with the next call; that is what callers that feed input in pieces expect (an input left unread means the
// output was full).
//
// Errors: the kernel reports every failure inside a block alike, while zlib's messages tell an invalid
// literal/length code, an invalid distance code and a distance before the history apart. On a failure the
// decoder replays the kernel's call slowly from the state saved before it, with canonical codes built from the
// block's code lengths, and names the first fault that replay meets. Failures end the stream, so the replay
// costs nothing in the normal case.
#include <algorithm>
#include <cstring>

#include "kelz/inflate_state.h"

namespace kel::z {
namespace {

// The order in which code-length code lengths are sent (RFC 1951, 3.2.7).
constexpr Kel8u kClOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Base values and extra bits of the length symbols 257..285 and of the distance symbols (RFC 1951, 3.2.5).
constexpr Kel16u kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr Kel8u kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr Kel16u kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                  33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr Kel8u kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// kelsInflate_8u's resume sub-states (the values it saves in resumeState while suspended).
enum ResumeState : Kel32u {
    kResumeLitLen = 1,
    kResumeLenExtra,
    kResumeDist,
    kResumeDistExtra,
    kResumeCopy,
    kResumeLiteral
};

void setError(InflateState& s, z_streamp strm, const char* why) {
    strm->msg = const_cast<char*>(why);
    s.mode = InflateMode::Bad;
}

// Makes sure n bits (n <= 32; more than 24 only when the held bits are whole bytes) are held.
inline bool need(InflateState& s, InflateRun& r, unsigned n) {
    while (s.bits < n) {
        if (r.have == 0) return false;
        s.hold |= Kel32u(*r.next++) << s.bits;
        s.bits += 8;
        --r.have;
    }
    return true;
}

inline bool pullByte(InflateState& s, InflateRun& r) {
    if (r.have == 0) return false;
    s.hold |= Kel32u(*r.next++) << s.bits;
    s.bits += 8;
    --r.have;
    return true;
}

inline unsigned peek(const InflateState& s, unsigned n) {
    return s.hold & ((1u << n) - 1);
}

inline void drop(InflateState& s, unsigned n) {
    s.hold = n >= 32 ? 0 : s.hold >> n;
    s.bits -= n;
}

inline void clearBits(InflateState& s) {
    s.hold = 0;
    s.bits = 0;
}

void crcBytes(Kel32u& crc, Kel32u value, int n) {
    Kel8u b[4];
    for (int i = 0; i < n; ++i) b[i] = Kel8u(value >> (8 * i));
    kelsCRC32_8u(b, n, &crc);
}

// A code-length set as zlib accepts it: not over-subscribed, and complete unless its longest code has one bit
// (a single code, or no code at all for distances).
bool acceptableSet(const Kel16u* lens, unsigned n) {
    unsigned count[16] = {};
    unsigned longest = 0;
    for (unsigned i = 0; i < n; ++i) {
        ++count[lens[i]];
        if (lens[i] > longest) longest = lens[i];
    }
    if (longest == 0) return true;
    int left = 1;
    for (unsigned len = 1; len <= 15; ++len) {
        left = left * 2 - int(count[len]);
        if (left < 0) return false;
    }
    return left == 0 || longest == 1;
}

// Builds the code-length code's table, or reports the set invalid. A set without any code is zlib's special
// case: every code length then reads as 0 from one bit.
bool buildCodeLengthTable(InflateState& s) {
    unsigned count[8] = {};
    for (unsigned i = 0; i < 19; ++i) ++count[s.lens[i]];
    if (count[0] == 19) {
        for (auto& e : s.clTable) e = Kel16u(1u << 8);
        return true;
    }
    count[0] = 0;
    int left = 1;
    for (unsigned len = 1; len <= 7; ++len) {
        left = left * 2 - int(count[len]);
        if (left < 0) return false;
    }
    if (left != 0) return false;
    unsigned next[8] = {}, code = 0;
    for (unsigned len = 1; len <= 7; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    for (unsigned sym = 0; sym < 19; ++sym) {
        const unsigned len = s.lens[sym];
        if (len == 0) continue;
        // The stream sends codes from their first bit, so the table index is the code reversed.
        unsigned c = next[len]++, rev = 0;
        for (unsigned i = 0; i < len; ++i) rev |= ((c >> i) & 1u) << (len - 1 - i);
        for (unsigned i = rev; i < 128; i += 1u << len) s.clTable[i] = Kel16u((len << 8) | sym);
    }
    return true;
}

// ---- The replay that names a failure inside a block ------------------------------------------------------------

// Canonical code for slow decoding: the number of codes of each length and the symbols in code order.
struct Canonical {
    Kel16u count[16];
    Kel16u symbol[288];
};

void buildCanonical(Canonical& c, const Kel16u* lens, unsigned n) {
    std::memset(c.count, 0, sizeof c.count);
    for (unsigned i = 0; i < n; ++i) ++c.count[lens[i]];
    c.count[0] = 0;
    Kel16u offs[16];
    offs[1] = 0;
    for (unsigned len = 1; len < 15; ++len) offs[len + 1] = Kel16u(offs[len] + c.count[len]);
    for (unsigned i = 0; i < n; ++i)
        if (lens[i] != 0) c.symbol[offs[lens[i]]++] = Kel16u(i);
}

struct SlowBits {
    Kel64u hold;
    unsigned bits;
    const Kel8u* p;
    const Kel8u* end;

    bool need(unsigned n) {
        while (bits < n) {
            if (p == end) return false;
            hold |= Kel64u(*p++) << bits;
            bits += 8;
        }
        return true;
    }
    unsigned take(unsigned n) {
        const unsigned v = unsigned(hold & ((Kel64u(1) << n) - 1));
        hold >>= n;
        bits -= n;
        return v;
    }
};

// The next symbol: >= 0, -1 for a bit pattern no code has, -2 when the input ends first.
int slowDecode(SlowBits& b, const Canonical& c) {
    int code = 0, first = 0, index = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        if (!b.need(1)) return -2;
        code |= int(b.take(1));
        const int count = c.count[len];
        if (code - count < first) return c.symbol[index + (code - first)];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

// What the kernel saw when a call began.
struct KernelEntry {
    Kel32u hold;
    unsigned bits;
    const Kel8u* src;
    int srcLen;
    int blockMode;
    Kel32u resumeState, resumeValue, resumeExtra, resumeDistance;
    std::size_t outPos;  // output bytes of this run before the call
};

const char* nameFailure(const InflateState& s, const KernelEntry& e) {
    // The tables live on the stack: about 1.3 KiB, only on this path.
    Canonical lit, dist;
    Kel16u fixedLens[320];
    const Kel16u* lens = s.lens;
    unsigned nlen = s.nlen, ndist = s.ndist;
    if (s.fixed) {
        for (unsigned i = 0; i < 288; ++i) fixedLens[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        for (unsigned i = 0; i < 32; ++i) fixedLens[288 + i] = 5;
        lens = fixedLens;
        nlen = 288;
        ndist = 32;
    }
    buildCanonical(lit, lens, nlen);
    buildCanonical(dist, lens + nlen, ndist);

    // History a distance may reach at output position pos.
    auto reach = [&](std::size_t pos) -> std::size_t {
        if (s.backLayout) return s.whave >= s.wsize ? s.wsize : pos;
        return pos + s.whave;
    };

    SlowBits b{e.hold, e.bits, e.src, e.src + (e.srcLen > 0 ? e.srcLen : 0)};
    std::size_t pos = e.outPos;
    Kel32u state = e.blockMode == 2 ? e.resumeState : kResumeLitLen;
    unsigned length = e.resumeValue, extra = e.resumeExtra & 15, distance = e.resumeDistance;
    for (;;) {
        switch (state) {
            case kResumeLitLen: {
                const int sym = slowDecode(b, lit);
                if (sym == -2) return "invalid distance too far back";
                if (sym < 0 || sym >= 286) return "invalid literal/length code";
                if (sym < 256) {
                    ++pos;
                    continue;
                }
                if (sym == 256) return "invalid distance too far back";
                length = kLengthBase[sym - 257];
                extra = kLengthExtra[sym - 257];
                state = kResumeLenExtra;
                continue;
            }
            case kResumeLenExtra:
                if (!b.need(extra)) return "invalid distance too far back";
                length += b.take(extra);
                state = kResumeDist;
                continue;
            case kResumeDist: {
                const int sym = slowDecode(b, dist);
                if (sym == -2) return "invalid distance too far back";
                if (sym < 0 || sym >= 30) return "invalid distance code";
                distance = kDistBase[sym];
                extra = kDistExtra[sym];
                state = kResumeDistExtra;
                continue;
            }
            case kResumeDistExtra:
                if (!b.need(extra)) return "invalid distance too far back";
                distance += b.take(extra);
                state = kResumeCopy;
                continue;
            case kResumeCopy:
                if (distance > reach(pos)) return "invalid distance too far back";
                pos += length;
                state = kResumeLitLen;
                continue;
            case kResumeLiteral:
                ++pos;
                state = kResumeLitLen;
                continue;
            default:
                return "invalid literal/length code";
        }
    }
}

// ---- The Huffman-coded payload --------------------------------------------------------------------------------

// Output and input handed to one kernel call, far below its int counts.
constexpr unsigned kMaxPiece = 1u << 30;
// Output of this run beyond which no distance (at most 32768) can reach the window.
constexpr std::size_t kHistoryCap = std::size_t(1) << 20;

// Copies the newest n bytes of history (window, then this run's output) to dst, oldest first.
void gatherHistory(const InflateState& s, const InflateRun& r, Kel8u* dst, std::size_t n) {
    const std::size_t fromRun = std::min<std::size_t>(n, std::size_t(r.put - r.outStart));
    std::size_t fromWindow = n - fromRun;
    if (fromWindow) {
        // The window's newest byte is at wnext - 1 (circularly once it is full).
        std::size_t start = (s.wnext + s.wsize - fromWindow) % s.wsize;
        const std::size_t first = std::min(fromWindow, std::size_t(s.wsize) - start);
        std::memcpy(dst, s.window + start, first);
        std::memcpy(dst + first, s.window, fromWindow - first);
        dst += fromWindow;
    }
    std::memcpy(dst, r.put - fromRun, fromRun);
}

// Decodes with the history contiguous in the stage and copies the output out, until this run's own output holds
// 32 KiB of history. Decoding into the caller's buffer, the kernel would fetch every match that reaches before
// this run's output from the circular window byte by byte; in the stage it copies them like any other match.
// Direct: the rest of the payload goes straight to the caller's buffer (also when the stage cannot be made).
enum class Staged { Stopped, Ended, Direct };

Staged decodeStaged(InflateState& s, InflateRun& r, z_streamp strm) {
    if (!s.stage) {
        s.stage = static_cast<Kel8u*>(allocate(strm, kStageHistory + kStageRoom));
        if (!s.stage) return Staged::Direct;
    }
    InflateContext& ctx = s.ctx;
    ctx.window = nullptr;
    ctx.windowSize = 0;
    // Distances reach at most 32768 bytes: a longer history is cut to that, a shorter one is all there is.
    std::size_t held = std::min<std::size_t>(kStageHistory, std::size_t(s.whave) + std::size_t(r.put - r.outStart));
    gatherHistory(s, r, s.stage, held);
    for (;;) {
        KernelEntry entry{s.hold,
                          s.bits,
                          r.have ? r.next : s.stage,
                          int(r.have > kMaxPiece ? kMaxPiece : r.have),
                          s.blockMode,
                          ctx.resumeState,
                          ctx.resumeValue,
                          ctx.resumeExtra,
                          ctx.resumeDistance,
                          std::size_t(r.put - r.outStart)};
        Kel8u* src = const_cast<Kel8u*>(entry.src);  // read only: the kernel never writes its source
        int srcLen = r.have ? entry.srcLen : 0;
        Kel8u* start = s.stage + held;
        Kel8u* dst = start;
        int dstLen = int(std::min(r.left, kStageRoom));
        const KelStatus st =
            kelsInflate_8u(&src, &srcLen, &s.hold, &s.bits, 0, &dst, &dstLen, Kel32u(held), &s.blockMode, &ctx);
        const unsigned used = unsigned((r.have ? entry.srcLen : 0) - srcLen), wrote = unsigned(dst - start);
        r.next += used;
        r.have -= used;
        std::memcpy(r.put, start, wrote);
        r.put += wrote;
        r.left -= wrote;
        s.hold &= s.bits >= 32 ? 0xFFFFFFFFu : (1u << s.bits) - 1;
        if (st != kelStatusOk) {
            setError(s, strm, nameFailure(s, entry));
            return Staged::Stopped;
        }
        if (s.blockMode == InflateModeEndOfBlock) return Staged::Ended;
        s.back = 0;
        if (r.have == 0 || r.left == 0 || (used == 0 && wrote == 0)) return Staged::Stopped;
        if (r.put - r.outStart >= std::ptrdiff_t(kStageHistory)) return Staged::Direct;
        // The stage is full: keep its newest history and go on.
        const std::size_t keep = std::min<std::size_t>(kStageHistory, held + wrote);
        std::memmove(s.stage, start + wrote - keep, keep);
        held = keep;
    }
}

// Decodes the current block's payload. Returns true at its end, false when input or room ran out (Z_OK) or the
// data is bad (mode Bad).
bool decodePayload(InflateState& s, InflateRun& r, z_streamp strm) {
    // Until this run's output holds a full history, matches may reach into the window: the stage makes them cheap.
    if (!s.backLayout && s.whave != 0 && r.left != 0 && r.put - r.outStart < std::ptrdiff_t(kStageHistory)) {
        const Staged how = decodeStaged(s, r, strm);
        if (how != Staged::Direct) return how == Staged::Ended;
    }
    InflateContext& ctx = s.ctx;
    Kel32u winPos = 0;
    if (s.backLayout) {
        const bool full = s.whave >= s.wsize;
        ctx.window = full ? s.window : nullptr;
        ctx.windowSize = full ? s.wsize : 0;
    } else {
        ctx.window = s.whave ? s.window : nullptr;
        ctx.windowSize = s.whave;
        winPos = s.whave < s.wsize ? s.whave : s.wnext;
    }
    for (;;) {
        Kel8u spare = 0;
        KernelEntry entry;
        entry.hold = s.hold;
        entry.bits = s.bits;
        entry.src = r.have ? r.next : &spare;
        entry.srcLen = int(r.have > kMaxPiece ? kMaxPiece : r.have);
        entry.blockMode = s.blockMode;
        entry.resumeState = ctx.resumeState;
        entry.resumeValue = ctx.resumeValue;
        entry.resumeExtra = ctx.resumeExtra;
        entry.resumeDistance = ctx.resumeDistance;
        entry.outPos = std::size_t(r.put - r.outStart);

        Kel8u* src = const_cast<Kel8u*>(entry.src);  // read only: the kernel never writes its source
        int srcLen = entry.srcLen;
        Kel8u* dst = r.put;
        int dstLen = int(r.left > kMaxPiece ? kMaxPiece : r.left);
        const Kel32u dstPos = Kel32u(entry.outPos > kHistoryCap ? kHistoryCap : entry.outPos);
        const KelStatus st =
            kelsInflate_8u(&src, &srcLen, &s.hold, &s.bits, winPos, &dst, &dstLen, dstPos, &s.blockMode, &ctx);
        const unsigned used = unsigned(entry.srcLen - srcLen), wrote = unsigned(dst - r.put);
        if (r.have) {
            r.next += used;
            r.have -= used;
        }
        r.put = dst;
        r.left -= wrote;
        s.hold &= s.bits >= 32 ? 0xFFFFFFFFu : (1u << s.bits) - 1;
        if (st != kelStatusOk) {
            setError(s, strm, nameFailure(s, entry));
            return false;
        }
        if (s.blockMode == InflateModeEndOfBlock) return true;
        s.back = 0;
        if (r.have == 0 || r.left == 0 || (used == 0 && wrote == 0)) return false;
    }
}

}  // namespace

void resetKeep(InflateState& s, z_streamp strm) {
    strm->total_in = strm->total_out = 0;
    s.total = 0;
    strm->msg = Z_NULL;
    if (s.wrap) strm->adler = uLong(s.wrap & 1);
    s.mode = InflateMode::Head;
    s.last = false;
    s.havedict = false;
    s.fixed = false;
    s.flags = -1;
    s.head = Z_NULL;
    clearBits(s);
    s.length = 0;
    s.nlen = s.ndist = s.ncode = s.have = 0;
    s.codesUsed = 0;
    s.back = -1;
    s.blockMode = 0;
    s.byteCount = 0;
    s.check = 0;
}

void updateCheck(InflateState& s, InflateRun& r, z_streamp strm) {
    const std::size_t n = std::size_t(r.put - r.checkFrom);
    strm->total_out += n;
    s.total += Kel32u(n);
    if ((s.wrap & 4) && n) {
        const Kel8u* p = r.checkFrom;
        std::size_t left = n;
        while (left) {
            const int piece = left > kMaxPiece ? int(kMaxPiece) : int(left);
            if (s.flags)
                kelsCRC32_8u(p, piece, &s.check);
            else
                kelsAdler32_8u(p, piece, &s.check);
            p += piece;
            left -= std::size_t(piece);
        }
        strm->adler = s.check;
    }
    r.checkFrom = r.put;
}

int runInflate(InflateState& s, InflateRun& r, z_streamp strm, int flush) {
    using M = InflateMode;
    for (;;) {
        switch (s.mode) {
            case M::Head: {
                if (s.wrap == 0) {
                    s.mode = M::TypeDo;
                    break;
                }
                if (!need(s, r, 16)) return Z_OK;
                if ((s.wrap & 2) && s.hold == 0x8b1f) {
                    if (s.wbits == 0) s.wbits = 15;
                    s.check = 0;
                    crcBytes(s.check, s.hold, 2);
                    clearBits(s);
                    s.mode = M::Flags;
                    break;
                }
                if (s.head) s.head->done = -1;
                if (!(s.wrap & 1) || ((peek(s, 8) << 8) + (s.hold >> 8)) % 31) {
                    setError(s, strm, "incorrect header check");
                    break;
                }
                if (peek(s, 4) != Z_DEFLATED) {
                    setError(s, strm, "unknown compression method");
                    break;
                }
                drop(s, 4);
                const unsigned len = peek(s, 4) + 8;
                if (s.wbits == 0) s.wbits = len;
                if (len > 15 || len > s.wbits) {
                    setError(s, strm, "invalid window size");
                    break;
                }
                s.flags = 0;
                strm->adler = s.check = 1;
                s.mode = s.hold & 0x200 ? M::DictId : M::Type;
                clearBits(s);
                break;
            }
            case M::Flags:
                if (!need(s, r, 16)) return Z_OK;
                s.flags = int(s.hold);
                if ((s.flags & 0xff) != Z_DEFLATED) {
                    setError(s, strm, "unknown compression method");
                    break;
                }
                if (s.flags & 0xe000) {
                    setError(s, strm, "unknown header flags set");
                    break;
                }
                if (s.head) s.head->text = int((s.hold >> 8) & 1);
                if ((s.flags & 0x0200) && (s.wrap & 4)) crcBytes(s.check, s.hold, 2);
                clearBits(s);
                s.mode = M::Time;
                [[fallthrough]];
            case M::Time:
                if (!need(s, r, 32)) return Z_OK;
                if (s.head) s.head->time = s.hold;
                if ((s.flags & 0x0200) && (s.wrap & 4)) crcBytes(s.check, s.hold, 4);
                clearBits(s);
                s.mode = M::Os;
                [[fallthrough]];
            case M::Os:
                if (!need(s, r, 16)) return Z_OK;
                if (s.head) {
                    s.head->xflags = int(s.hold & 0xff);
                    s.head->os = int(s.hold >> 8);
                }
                if ((s.flags & 0x0200) && (s.wrap & 4)) crcBytes(s.check, s.hold, 2);
                clearBits(s);
                s.mode = M::ExLen;
                [[fallthrough]];
            case M::ExLen:
                if (s.flags & 0x0400) {
                    if (!need(s, r, 16)) return Z_OK;
                    s.length = s.hold;
                    if (s.head) s.head->extra_len = s.hold;
                    if ((s.flags & 0x0200) && (s.wrap & 4)) crcBytes(s.check, s.hold, 2);
                    clearBits(s);
                } else if (s.head) {
                    s.head->extra = Z_NULL;
                }
                s.mode = M::Extra;
                [[fallthrough]];
            case M::Extra:
                if (s.flags & 0x0400) {
                    unsigned copy = s.length < r.have ? s.length : r.have;
                    if (copy) {
                        gz_headerp h = s.head;
                        if (h && h->extra) {
                            const unsigned at = h->extra_len - s.length;
                            if (at < h->extra_max)
                                std::memcpy(h->extra + at, r.next, at + copy > h->extra_max ? h->extra_max - at : copy);
                        }
                        if ((s.flags & 0x0200) && (s.wrap & 4)) kelsCRC32_8u(r.next, int(copy), &s.check);
                        r.have -= copy;
                        r.next += copy;
                        s.length -= copy;
                    }
                    if (s.length) return Z_OK;
                }
                s.length = 0;
                s.mode = M::Name;
                [[fallthrough]];
            case M::Name:
            case M::Comment: {
                const bool name = s.mode == M::Name;
                if (s.flags & (name ? 0x0800 : 0x1000)) {
                    if (r.have == 0) return Z_OK;
                    gz_headerp h = s.head;
                    Bytef* field = h ? (name ? h->name : h->comment) : Z_NULL;
                    const uInt max = h ? (name ? h->name_max : h->comm_max) : 0;
                    unsigned copy = 0, c;
                    do {
                        c = r.next[copy++];
                        if (field && s.length < max) field[s.length++] = Bytef(c);
                    } while (c && copy < r.have);
                    if ((s.flags & 0x0200) && (s.wrap & 4)) kelsCRC32_8u(r.next, int(copy), &s.check);
                    r.have -= copy;
                    r.next += copy;
                    if (c) return Z_OK;
                } else if (s.head) {
                    (name ? s.head->name : s.head->comment) = Z_NULL;
                }
                s.length = 0;
                s.mode = name ? M::Comment : M::HCrc;
                break;
            }
            case M::HCrc:
                if (s.flags & 0x0200) {
                    if (!need(s, r, 16)) return Z_OK;
                    if ((s.wrap & 4) && s.hold != (s.check & 0xffff)) {
                        setError(s, strm, "header crc mismatch");
                        break;
                    }
                    clearBits(s);
                }
                if (s.head) {
                    s.head->hcrc = (s.flags >> 9) & 1;
                    s.head->done = 1;
                }
                strm->adler = s.check = 0;
                s.mode = M::Type;
                break;
            case M::DictId:
                if (!need(s, r, 32)) return Z_OK;
                strm->adler = s.check = __builtin_bswap32(s.hold);
                clearBits(s);
                s.mode = M::Dict;
                [[fallthrough]];
            case M::Dict:
                if (!s.havedict) return Z_NEED_DICT;
                strm->adler = s.check = 1;
                s.mode = M::Type;
                [[fallthrough]];
            case M::Type:
                if (flush == Z_BLOCK || flush == Z_TREES) return Z_OK;
                [[fallthrough]];
            case M::TypeDo:
                if (s.last) {
                    drop(s, s.bits & 7);
                    s.mode = M::Check;
                    break;
                }
                if (!need(s, r, 3)) return Z_OK;
                s.last = peek(s, 1) != 0;
                drop(s, 1);
                switch (peek(s, 2)) {
                    case 0:
                        s.mode = M::Stored;
                        break;
                    case 1:
                        s.fixed = true;
                        s.ctx.tableKind = 0;
                        s.mode = M::Len_;
                        if (flush == Z_TREES) {
                            drop(s, 2);
                            return Z_OK;
                        }
                        break;
                    case 2:
                        s.mode = M::Table;
                        break;
                    default:
                        setError(s, strm, "invalid block type");
                }
                drop(s, 2);
                break;
            case M::Stored:
                drop(s, s.bits & 7);
                if (!need(s, r, 32)) return Z_OK;
                if ((s.hold & 0xffff) != ((s.hold >> 16) ^ 0xffff)) {
                    setError(s, strm, "invalid stored block lengths");
                    break;
                }
                s.length = s.hold & 0xffff;
                clearBits(s);
                s.mode = M::Copy_;
                if (flush == Z_TREES) return Z_OK;
                [[fallthrough]];
            case M::Copy_:
                s.mode = M::Copy;
                [[fallthrough]];
            case M::Copy: {
                unsigned copy = s.length;
                if (copy) {
                    if (copy > r.have) copy = r.have;
                    if (copy > r.left) copy = r.left;
                    if (copy == 0) return Z_OK;
                    std::memcpy(r.put, r.next, copy);
                    r.have -= copy;
                    r.next += copy;
                    r.left -= copy;
                    r.put += copy;
                    s.length -= copy;
                    break;
                }
                s.mode = M::Type;
                break;
            }
            case M::Table:
                if (!need(s, r, 14)) return Z_OK;
                s.nlen = peek(s, 5) + 257;
                drop(s, 5);
                s.ndist = peek(s, 5) + 1;
                drop(s, 5);
                s.ncode = peek(s, 4) + 4;
                drop(s, 4);
                if (s.nlen > 286 || s.ndist > 30) {
                    setError(s, strm, "too many length or distance symbols");
                    break;
                }
                s.have = 0;
                s.mode = M::LenLens;
                [[fallthrough]];
            case M::LenLens:
                while (s.have < s.ncode) {
                    if (!need(s, r, 3)) return Z_OK;
                    s.lens[kClOrder[s.have++]] = Kel16u(peek(s, 3));
                    drop(s, 3);
                }
                while (s.have < 19) s.lens[kClOrder[s.have++]] = 0;
                if (!buildCodeLengthTable(s)) {
                    setError(s, strm, "invalid code lengths set");
                    break;
                }
                s.have = 0;
                s.mode = M::CodeLens;
                [[fallthrough]];
            case M::CodeLens: {
                const unsigned total = s.nlen + s.ndist;
                bool bad = false;
                while (s.have < total) {
                    unsigned e;
                    for (;;) {
                        e = s.clTable[s.hold & 127];
                        if ((e >> 8) <= s.bits) break;
                        if (!pullByte(s, r)) return Z_OK;
                    }
                    const unsigned len = e >> 8, sym = e & 0xff;
                    if (sym < 16) {
                        drop(s, len);
                        s.lens[s.have++] = Kel16u(sym);
                        continue;
                    }
                    const unsigned extraBits = sym == 16 ? 2 : sym == 17 ? 3 : 7;
                    if (!need(s, r, len + extraBits)) return Z_OK;
                    drop(s, len);
                    if (sym == 16 && s.have == 0) {
                        bad = true;
                        break;
                    }
                    const Kel16u value = sym == 16 ? s.lens[s.have - 1] : 0;
                    const unsigned copy = peek(s, extraBits) + (sym == 18 ? 11 : 3);
                    drop(s, extraBits);
                    if (s.have + copy > total) {
                        bad = true;
                        break;
                    }
                    for (unsigned k = 0; k < copy; ++k) s.lens[s.have++] = value;
                }
                if (bad) {
                    setError(s, strm, "invalid bit length repeat");
                    break;
                }
                if (s.lens[256] == 0) {
                    setError(s, strm, "invalid code -- missing end-of-block");
                    break;
                }
                if (!acceptableSet(s.lens, s.nlen)) {
                    setError(s, strm, "invalid literal/lengths set");
                    break;
                }
                if (!acceptableSet(s.lens + s.nlen, s.ndist) ||
                    kelsInflateBuildHuffTable(s.lens, s.nlen, int(s.ndist), &s.ctx) != kelStatusOk) {
                    setError(s, strm, "invalid distances set");
                    break;
                }
                s.codesUsed += total;
                s.fixed = false;
                s.mode = M::Len_;
                if (flush == Z_TREES) return Z_OK;
                break;
            }
            case M::Len_:
                s.mode = M::Len;
                s.blockMode = InflateModeEndOfBlock;
                s.back = 0;
                [[fallthrough]];
            case M::Len:
                if (!decodePayload(s, r, strm)) {
                    if (s.mode == M::Bad) break;
                    return Z_OK;
                }
                s.back = -1;
                s.mode = M::Type;
                break;
            case M::Check:
                if (s.wrap) {
                    if (!need(s, r, 32)) return Z_OK;
                    updateCheck(s, r, strm);
                    r.trailerChecked = true;
                    if ((s.wrap & 4) && (s.flags ? s.hold : __builtin_bswap32(s.hold)) != s.check) {
                        setError(s, strm, "incorrect data check");
                        break;
                    }
                    clearBits(s);
                }
                s.mode = M::Length;
                [[fallthrough]];
            case M::Length:
                if (s.wrap && s.flags) {
                    if (!need(s, r, 32)) return Z_OK;
                    if ((s.wrap & 4) && s.hold != s.total) {
                        setError(s, strm, "incorrect length check");
                        break;
                    }
                    clearBits(s);
                }
                s.mode = M::Done;
                [[fallthrough]];
            case M::Done:
                return Z_STREAM_END;
            case M::Bad:
                return Z_DATA_ERROR;
            case M::Mem:
                return Z_MEM_ERROR;
            case M::Sync:
                return Z_STREAM_ERROR;
        }
    }
}

}  // namespace kel::z
