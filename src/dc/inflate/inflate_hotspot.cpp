// src/dc/inflate/inflate_hotspot.cpp - the fast kernel of the two-level form: whole symbols and matches per
// iteration, no per-byte bounds checks.
//
// The bit buffer is widened to 64 bits and refilled with one unaligned 8-byte load per iteration: the load is
// ORed in above the held bits and the source advances by the whole bytes that fit, leaving 56..63 bits held.
// All 64 bits are then stream bits: those above the count are the next bytes, which the next refill ORs in again
// unchanged, so the buffer never needs masking inside the loop, and a table lookup stays valid across a refill.
// 56 bits cover the longest match: a 15-bit length code, 5 extra bits (7 in a damaged table), a 15-bit
// distance code and 13 extra bits. Literals whose codes fit the first level are taken up to five per refill.
//
// The next literal/length entry is looked up before a match is copied, so the table load overlaps the copy.
// The loop runs in two variants: while at least kOutSlack bytes of room remain, nothing checks the room and
// matches are copied in blocks that may run up to 31 bytes past their end (45 in the packed loop; inside the
// room, overwritten later or left as don't-care bytes past the returned pointer); near the end of the room every
// write is checked and blocks are used only where 16 bytes of room remain past the match. Both variants exist a
// second time with exact match copies, for a room that overlaps the window (Io::exactCopies): there the bytes
// past the output are older history, which a later match may still read.
//
// Larger calls run the packed loop (n8_packedLoop) over one-load 32-bit entries instead; it hands over to the
// guarded loop of this file near the end of the room.
#include <cstddef>

#include "dc/inflate/inflate_internal.h"

namespace kel::inflate {
namespace {

struct HotState {
    const Kel8u* src;
    Kel8u* out;
    Kel64u bb;
    unsigned bc;
    // Read from memory inside the loop on purpose: fewer long-lived registers keep the compiler from spilling
    // the bit count, whose stack store would make table loads wait (4 KiB aliasing) depending on addresses.
    const Kel8u* srcLimit;  // last position from which an 8-byte refill stays inside the source
    Kel8u* outLimit;        // unguarded loop: last position with kOutSlack bytes of room
    Kel8u* outEnd;
    Kel8u* hist;
    const Kel8u* tables;  // the context's two-level table (second levels of the packed loop)
};

// Runs the loop while at least 8 source bytes remain and, unguarded, while out <= outLimit (kOutSlack bytes of
// room), guarded, while out != outEnd. kExact: every match writes its own bytes only. Returns 0 when a margin
// stops it, else a result code (see below).
template <bool kGuarded, bool kExact>
__attribute__((noinline)) int n8_hotLoop(HotState& st, Io& io, const Kel8u* t) {
    // Every array is addressed from t with a constant offset, which keeps one register for all of them.
    const Kel8u* src = st.src;
    Kel8u* out = st.out;
    Kel64u bb = st.bb;
    unsigned bc = st.bc;
    int result = 0;

    if (src > st.srcLimit || (kGuarded ? out == st.outEnd : out > st.outLimit)) return 0;
    bb |= n8_load64(src) << bc;
    src += (63 - bc) >> 3;
    bc |= 56;
    unsigned idx = unsigned(bb) & 1023;
    unsigned info = t[kLitInfo1 + idx];

    // Invariant at the top: 56..63 bits held, info/idx the entry of the next code.
    for (;;) {
        if (info - 1 < 10) {
            // Literals of 1..10 bits (kind 0): up to five from one refill (50 of the 56 bits; the lookup after
            // the fifth still reads stream bits, 64 - 50 >= 10).
            unsigned k = 0;
            do {
                const unsigned v = t[kLitVal1 + idx];
                bb >>= info;
                bc -= info;
                idx = unsigned(bb) & 1023;
                info = t[kLitInfo1 + idx];
                *out++ = Kel8u(v);
            } while (++k < 5 && info - 1 < 10 && (!kGuarded || out != st.outEnd));
            if (src > st.srcLimit || (kGuarded ? out == st.outEnd : out > st.outLimit)) break;
            bb |= n8_load64(src) << bc;
            src += (63 - bc) >> 3;
            bc |= 56;
            continue;
        }

        unsigned val = t[kLitVal1 + idx];
        unsigned n = info & 15;
        if (n > 10) {
            // Subtable: the start (halved) is the value byte, the index the next n - 10 bits in code order.
            const unsigned k = (val * 2 + (kTablofinv[(bb >> 10) & 31] >> (15 - n))) & (kLitSub - 1);
            info = t[kLitInfo2 + k];
            val = t[kLitVal2 + k];
            n = info & 15;
        }
        if (n != 0 && info < 0x10) {
            bb >>= n;
            bc -= n;
            *out++ = Kel8u(val);
            if (src > st.srcLimit || (kGuarded ? out == st.outEnd : out > st.outLimit)) break;
            bb |= n8_load64(src) << bc;
            src += (63 - bc) >> 3;
            bc |= 56;
            idx = unsigned(bb) & 1023;
            info = t[kLitInfo1 + idx];
            continue;
        }
        if (!(info & 0x80)) {
            // End of block (kind 6) or a code no valid stream contains (kinds 1-5, 7, uncovered entries).
            bb >>= n;
            bc -= n;
            result = (info & 0x70) == kKindEndOfBlock && n != 0 ? kFastEndOfBlock : kFastInvalid;
            break;
        }

        // A length: the value is length - 3 and bits 4-6 the extra bits not folded into the entry. Code and
        // extra bits leave the buffer in one shift; the extra bits are taken from the buffer before it.
        unsigned x = (info >> 4) & 7;
        const unsigned len = val + 3 + (unsigned(bb >> n) & kMaskBits[x]);
        bb >>= n + x;
        bc -= n + x;

        idx = unsigned(bb) & 1023;
        info = t[kDistInfo1 + idx];
        unsigned dist = n8_load16(t + kDistVal1 + 2 * idx);
        n = info & 15;
        if (n > 10) {
            const unsigned k = (dist + (kTablofinv[(bb >> 10) & 31] >> (15 - n))) & (kDistSub - 1);
            info = t[kDistInfo2 + k];
            dist = n8_load16(t + kDistVal2 + 2 * k);
            n = info & 15;
        }
        x = info >> 4;
        if (n == 0 || x > 13) {
            bb >>= n;
            bc -= n;
            result = kFastInvalid;
            break;
        }
        // Code and extra bits leave the buffer in one shift; the extra bits are taken from the old buffer.
        dist += unsigned(bb >> n) & kMaskBits[x];
        bb >>= n + x;
        bc -= n + x;

        if (kGuarded && len > std::size_t(st.outEnd - out)) {
            // Only a damaged table gives a distance beyond 16 bits; it cannot travel in the result.
            result = dist > 0xFFFF ? kFastInvalid : int((len << 16) | dist);
            break;
        }
        if (dist > std::size_t(out - st.hist)) {
            io.dst = out;
            if (!n8_copyMatchExact(io, len, dist)) {
                result = kFastNoHistory;
                break;
            }
            out = io.dst;
            if (src > st.srcLimit || (kGuarded ? out == st.outEnd : out > st.outLimit)) break;
            bb |= n8_load64(src) << bc;
            src += (63 - bc) >> 3;
            bc |= 56;
            idx = unsigned(bb) & 1023;
            info = t[kLitInfo1 + idx];
            continue;
        }
        // Refill and look up the next code before copying (when the source allows another refill).
        const bool more = src <= st.srcLimit;
        if (more) {
            bb |= n8_load64(src) << bc;
            src += (63 - bc) >> 3;
            bc |= 56;
            idx = unsigned(bb) & 1023;
            info = t[kLitInfo1 + idx];
        }
        if (kExact)
            n8_copyMatchTight(out, dist, len);
        else if (!kGuarded)
            n8_copyMatchSlack(out, dist, len);
        else if (std::size_t(st.outEnd - out) - len >= 16)
            n8_copyMatchWide(out, dist, len);
        else
            n8_copyBackExact(out, dist, len);
        out += len;
        if (!more || (kGuarded ? out == st.outEnd : out > st.outLimit)) break;
    }

    st.src = src;
    st.out = out;
    st.bb = bb;
    st.bc = bc;
    return result;
}

// The unguarded loop while the room allows, then the guarded one; one instance per copy discipline, so that the
// choice costs nothing inside the loops.
template <bool kExact>
int n8_hotKernel(Io& io, const Kel8u* t) {
    HotState st{io.src, io.dst, io.bitBuf, io.bitCount, io.srcEnd - 8, nullptr, io.dstEnd, io.histStart, t};
    int result = 0;
    if (std::size_t(io.dstEnd - io.dst) > kOutSlack) {
        st.outLimit = io.dstEnd - kOutSlack;
        result = n8_hotLoop<false, kExact>(st, io, t);
    }
    if (result == 0) result = n8_hotLoop<true, kExact>(st, io, t);
    io.src = st.src;
    io.bitBuf = st.bb;
    io.bitCount = st.bc;
    io.dst = st.out;
    return result;
}

// Copies a match of len bytes from dist back (dist <= bytes already valid in the destination), with at least 64
// bytes of room after out + len: whole 16-byte blocks that may end up to 45 bytes past the match (at least 48
// bytes are written, which covers most matches without a loop test). Kept to plain
// 16-byte moves so that the compiler emits no overlap tests of its own.
inline void n8_copyMatchChunks(Kel8u* out, unsigned dist, unsigned len) {
    Kel8u* o = out;
    Kel8u* const e = out + len;
    if (dist >= 16) {
        // Each block reads bytes at least 16 behind it, all written before it.
        const Kel8u* f = out - dist;
        n8_copy16(o, f);
        n8_copy16(o + 16, f + 16);
        n8_copy16(o + 32, f + 32);
        for (o += 48, f += 48; o < e; o += 16, f += 16) n8_copy16(o, f);
    } else if (dist >= 8) {
        const Kel8u* f = out - dist;
        for (; o < e; o += 8, f += 8) n8_store64(o, n8_load64(f));
    } else if (dist == 1) {
        const Kel64u v = Kel64u(o[-1]) * 0x0101010101010101ull;
        for (; o < e; o += 16) {
            n8_store64(o, v);
            n8_store64(o + 8, v);
        }
    } else {
        n8_copyMatchWide(out, dist, len);
    }
}

// Writes the one or two literals of a plain literal entry e and consumes their bits. Without kExact both bytes
// are stored in one move; for a single literal the second byte is a don't-care byte inside the room, which the
// next output overwrites.
template <bool kExact>
inline void n8_putLiterals(Kel8u*& out, Kel64u& bb, Kel32u& bc, Kel32u e) {
    bb >>= e & 63;
    bc -= e;
    if (kExact) {
        out[0] = Kel8u(e >> 8);
        if (e & kPackedPair) out[1] = Kel8u(e >> 16);
    } else {
        const Kel16u two = Kel16u(e >> 8);
        __builtin_memcpy(out, &two, 2);
    }
    out += (e >> 30) - 1;  // 2 for one literal (bit 31), 3 for two
}

// The loop of n8_hotLoop over packed first levels (layout in inflate_internal.h), unguarded only: the caller
// runs n8_hotLoop<true> over the context's tables near the end of the room. One load per first-level lookup;
// plain literal entries carry one or two literals, plain lengths and distances take their extra bits without
// touching the context. Other entries carry the context's own bytes and are decided as n8_hotLoop decides them.
//
// The bit count is only ever used modulo 64: entries are subtracted whole (their bits above the low byte borrow
// into bits that nothing reads), and the refill and the shifts look at the low six bits. The entry of the next
// code is looked up as soon as the previous code leaves the buffer; a refill only ORs the same stream bits over
// the bits above the count, so the entry stays valid across it and the lookup chain never waits for the refill.
// How many more iterations of n8_packedLoop the margins allow: each refills once (the source advances at most 7
// bytes, and must start at or before srcLimit) and then writes at most 258 bytes of output (and may overrun
// into the slack), starting at or before outLimit. Checking one count instead of both margins saves two
// loads, compares and branches per symbol; it is recomputed when it runs out.
inline std::size_t n8_packedBudget(const HotState& st, const Kel8u* src, const Kel8u* out) {
    if (src > st.srcLimit || out > st.outLimit) return 0;
    const std::size_t bySrc = std::size_t(st.srcLimit - src) / 7 + 1;
    const std::size_t byOut = std::size_t(st.outLimit - out) / 258 + 1;
    return bySrc < byOut ? bySrc : byOut;
}

// kFarIn: at least kMaxDistance bytes of output precede the position (they stay so, the output only grows), so a
// plain distance entry needs no history check; distances from the context's own entries are still checked.
template <bool kExact, bool kFarIn>
__attribute__((noinline)) int n8_packedLoop(HotState& st, Io& io, const Kel32u* pk) {
    const Kel8u* src = st.src;
    Kel8u* out = st.out;
    Kel64u bb = st.bb;
    Kel32u bc = st.bc;
    int result = 0;

    std::size_t budget = n8_packedBudget(st, src, out);
    if (budget == 0) return 0;
    bb |= n8_load64(src) << (bc & 63);
    src += 7 - ((bc >> 3) & 7);
    bc |= 56;
    Kel32u e = pk[bb & 1023];

    // Invariant at the top: 56..63 bits held (all 64 bits are stream bits), e the entry of the next code. Each
    // iteration decodes a run of literals or one match, then refills.
    for (;;) {
        if (Kel32s(e) < 0) {
            // Plain literal entries: up to five per refill, at most 50 bits, so the lookup after the fifth
            // still sees 10 stream bits. Written out rather than counted: no loop counter to keep.
            n8_putLiterals<kExact>(out, bb, bc, e);
            e = pk[bb & 1023];
            if (Kel32s(e) < 0) {
                n8_putLiterals<kExact>(out, bb, bc, e);
                e = pk[bb & 1023];
                if (Kel32s(e) < 0) {
                    n8_putLiterals<kExact>(out, bb, bc, e);
                    e = pk[bb & 1023];
                    if (Kel32s(e) < 0) {
                        n8_putLiterals<kExact>(out, bb, bc, e);
                        e = pk[bb & 1023];
                        if (Kel32s(e) < 0) {
                            n8_putLiterals<kExact>(out, bb, bc, e);
                            e = pk[bb & 1023];
                        }
                    }
                }
            }
        } else {
            unsigned len;
            if (!(e & kPackedSlow)) {
                // Plain length: the extra bits are bits n .. total - 1, total (at most 15) leaves in one shift.
                len = (e >> 16) + ((Kel32u(bb) & ((1u << (e & 31)) - 1)) >> ((e >> 8) & 31));
                bb >>= e & 63;
                bc -= e;
            } else {
                unsigned info = (e >> 8) & 0xFF;
                unsigned val = (e >> 16) & 0xFF;
                unsigned n = info & 15;
                if (n > 10) {
                    const unsigned k = (val * 2 + (kTablofinv[(bb >> 10) & 31] >> (15 - n))) & (kLitSub - 1);
                    info = st.tables[kLitInfo2 + k];
                    val = st.tables[kLitVal2 + k];
                    n = info & 15;
                }
                if (!(info & 0x80)) {
                    bb >>= n;
                    bc -= n;
                    if (n == 0 || info >= 0x10) {
                        // End of block (kind 6) or a code no valid stream contains.
                        result = (info & 0x70) == kKindEndOfBlock && n != 0 ? kFastEndOfBlock : kFastInvalid;
                        break;
                    }
                    // A literal from a subtable.
                    *out++ = Kel8u(val);
                    e = pk[bb & 1023];
                    goto next;
                }
                const unsigned x = (info >> 4) & 7;
                len = val + 3 + (unsigned(bb >> n) & kMaskBits[x]);
                bb >>= n + x;
                bc -= n + x;
            }

            const Kel32u d = pk[1024 + (bb & 1023)];
            unsigned dist;
            bool checked = kFarIn;
            if (!(d & kPackedSlow)) {
                // Total at most 23 bits.
                dist = (d >> 16) + ((Kel32u(bb) & ((1u << (d & 31)) - 1)) >> ((d >> 8) & 31));
                bb >>= d & 63;
                bc -= d;
            } else {
                unsigned info = (d >> 8) & 0xFF;
                dist = d >> 16;
                unsigned n = info & 15;
                if (n > 10) {
                    const unsigned k = (dist + (kTablofinv[(bb >> 10) & 31] >> (15 - n))) & (kDistSub - 1);
                    info = st.tables[kDistInfo2 + k];
                    dist = n8_load16(st.tables + kDistVal2 + 2 * k);
                    n = info & 15;
                }
                const unsigned x = info >> 4;
                if (n == 0 || x > 13) {
                    bb >>= n;
                    bc -= n;
                    result = kFastInvalid;
                    break;
                }
                dist += unsigned(bb >> n) & kMaskBits[x];
                bb >>= n + x;
                bc -= n + x;
                checked = false;
            }

            // A match takes at most 50 bits since the refill, so the low 10 bits are still stream bits: the
            // next lookup need not wait for the refill, and overlaps the copy.
            e = pk[bb & 1023];
            // Both rare cases are marked so: the compiler then lays the block copy and the refill out in line,
            // and a match costs two taken branches instead of four.
            if (__builtin_expect(!checked && dist > std::size_t(out - st.hist), 0)) {
                io.dst = out;
                if (!n8_copyMatchExact(io, len, dist)) {
                    result = kFastNoHistory;
                    break;
                }
                out = io.dst;
            } else {
                if (kExact)
                    n8_copyMatchTight(out, dist, len);
                else
                    n8_copyMatchChunks(out, dist, len);
                out += len;
            }
        }
    next:
        if (__builtin_expect(--budget == 0, 0)) {
            budget = n8_packedBudget(st, src, out);
            if (budget == 0) break;
        }
        bb |= n8_load64(src) << (bc & 63);
        src += 7 - ((bc >> 3) & 7);
        bc |= 56;
    }

    st.src = src;
    st.out = out;
    st.bb = bb;
    st.bc = bc & 63;
    return result;
}

template <bool kExact>
int n8_packedKernel(Io& io, const Kel32u* pk, const Kel8u* t) {
    HotState st{io.src, io.dst, io.bitBuf, io.bitCount, io.srcEnd - 8, nullptr, io.dstEnd, io.histStart, t};
    int result = 0;
    if (std::size_t(io.dstEnd - io.dst) > kOutSlack) {
        Kel8u* const outLimit = io.dstEnd - kOutSlack;
        // Checked distances until kMaxDistance bytes of output lie behind, then the loop without the check. The
        // first loop may also stop at the source margin: the second then returns at once.
        const std::size_t behind = std::size_t(io.dst - io.histStart);
        if (behind < kMaxDistance) {
            st.outLimit = std::size_t(outLimit - io.histStart) > kMaxDistance ? io.histStart + kMaxDistance : outLimit;
            result = n8_packedLoop<kExact, false>(st, io, pk);
        }
        if (result == 0 && std::size_t(st.out - io.histStart) >= kMaxDistance) {
            st.outLimit = outLimit;
            result = n8_packedLoop<kExact, true>(st, io, pk);
        }
    }
    // Near the end of the room every write is checked: the unpacked loop does that, over the same tables.
    if (result == 0) result = n8_hotLoop<true, kExact>(st, io, t);
    io.src = st.src;
    io.bitBuf = st.bb;
    io.bitCount = st.bc;
    io.dst = st.out;
    return result;
}

}  // namespace

int n8_ownDecodeLZ77DHF_Packed(Io& io, const Kel32u* pk, const Kel8u* t) {
    return io.exactCopies ? n8_packedKernel<true>(io, pk, t) : n8_packedKernel<false>(io, pk, t);
}

// Contract: io holds at least 16 source bytes and at least one byte of room; the table is a two-level table (it
// may be damaged: every index is masked into its array). Decodes symbols until, after a symbol, fewer than 8
// source bytes or no room remain (0), an end-of-block or invalid code (kFastEndOfBlock, kFastInvalid, its bits
// consumed), a match longer than the room (length << 16 | distance, its bits consumed, nothing copied) or a
// match reaching before the history (kFastNoHistory). With io.exactCopies nothing past a match's end is
// written. On return io.bitCount may exceed 32 and the bits above it are not cleared: the caller gives bytes
// back (n8_fastGiveBack).
int n8_ownDecodeLZ77DHF_HotSpot(Io& io, const Kel8u* t) {
    return io.exactCopies ? n8_hotKernel<true>(io, t) : n8_hotKernel<false>(io, t);
}

}  // namespace kel::inflate
