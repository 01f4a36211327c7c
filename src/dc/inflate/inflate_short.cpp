// src/dc/inflate/inflate_short.cpp - the short-table loop: flat tables indexed by maxLitLen / maxDistLen bits.
//
// Blocks whose codes are all short (literal/length up to 11 bits, distance up to 10) decode with one lookup per
// code and no subtables. Literal/length entries are 16 bits: code length in bits 0-3, kind in bits 4-7 (0
// literal, 8 + extra bits for a length, 0xF end of block, anything else invalid), value in bits 8-15 (the byte,
// or length - 3). Distance entries are an info byte (extra << 4 | code length) and a 16-bit base, 1024 bytes
// apart. The fast kernel works like the two-level one (inflate_hotspot.cpp): 8-byte refills to 56..63 bits,
// which cover the longest match here (11 + 5 + 10 + 13 bits) or four literals.
#include <cstddef>

#include "dc/inflate/inflate_internal.h"
#include "dc/inflate/inflate_machine.h"

namespace kel::inflate {
namespace {

struct ShortForm {
    const Kel8u* lit;       // 2^litBits 16-bit entries
    const Kel8u* distInfo;  // 2^distBits info bytes
    const Kel8u* distBase;  // 2^distBits 16-bit bases
    unsigned litBits;
    unsigned distBits;  // 0: the block has no distance code

    static Sym litSym(unsigned e) {
        const unsigned n = e & 15, kind = (e >> 4) & 15;
        if (n == 0) return {0, SymKind::Invalid, 0, 0};
        if (kind == 0) return {n, SymKind::Literal, e >> 8, 0};
        if (kind >= 8 && kind <= 13) return {n, SymKind::Length, (e >> 8) + 3, kind - 8};
        if (kind == kShortKindEnd) return {n, SymKind::EndOfBlock, 0, 0};
        return {n, SymKind::Invalid, 0, 0};
    }

    Sym litLen(Io& io) const {
        n8_loadTo(io, litBits + 1);
        return litSym(n8_load16(lit + 2 * (unsigned(io.bitBuf) & kMaskBits[litBits])));
    }

    Sym dist(Io& io) const {
        if (distBits == 0) return {0, SymKind::Invalid, 0, 0};
        n8_loadTo(io, distBits + 1);
        const unsigned idx = unsigned(io.bitBuf) & kMaskBits[distBits];
        const unsigned info = distInfo[idx], n = info & 15, x = info >> 4;
        if (n == 0 || x > 13) return {n, SymKind::Invalid, 0, 0};
        return {n, SymKind::Distance, n8_load16(distBase + 2 * idx), x};
    }

    static bool fastReady(const Io& io) { return io.srcEnd - io.src > 6 && io.dstEnd - io.dst > 8; }

    // Exact match copies for a room that overlaps the window (Io::exactCopies), block copies otherwise.
    int fast(Io& io) const { return io.exactCopies ? fastLoop<true>(io) : fastLoop<false>(io); }

    template <bool kExact>
    int fastLoop(Io& io) const;

    static Kel32u resumeExtra(Kel32u e) { return e & 15; }
};

// Contract as n8_ownDecodeLZ77DHF_HotSpot, for the short form; returns 0 without decoding when fewer than 8
// source bytes are left for the first refill. kExact: every match writes its own bytes only.
template <bool kExact>
int ShortForm::fastLoop(Io& io) const {
    const Kel8u* src = io.src;
    const Kel8u* const srcStart = src;
    const Kel8u* const srcLimit = io.srcEnd - 8;
    Kel8u* out = io.dst;
    Kel8u* const outEnd = io.dstEnd;
    Kel8u* const hist = io.histStart;
    Kel64u bb = io.bitBuf;
    unsigned bc = io.bitCount;
    const unsigned litMask = kMaskBits[litBits], distMask = kMaskBits[distBits];
    int result = 0;

    while (src <= srcLimit && out != outEnd) {
        bb |= n8_load64(src) << bc;
        src += (63 - bc) >> 3;
        bc |= 56;

        unsigned e = n8_load16(lit + 2 * (unsigned(bb) & litMask));
        if ((e & 0xFF) - 1 < 15) {
            // Literals (kind 0, length 1..11): up to four from one refill.
            unsigned k = 0;
            do {
                bb >>= e & 15;
                bc -= e & 15;
                *out++ = Kel8u(e >> 8);
                e = n8_load16(lit + 2 * (unsigned(bb) & litMask));
            } while (++k < 4 && (e & 0xFF) - 1 < 15 && out != outEnd);
            continue;
        }
        const unsigned n = e & 15, kind = (e >> 4) & 15;
        bb >>= n;
        bc -= n;
        if (n == 0 || kind < 8 || kind > 13) {
            result = n != 0 && kind == kShortKindEnd ? kFastEndOfBlock : kFastInvalid;
            break;
        }
        const unsigned x = kind - 8;
        const unsigned len = (e >> 8) + 3 + (unsigned(bb) & kMaskBits[x]);
        bb >>= x;
        bc -= x;

        if (distBits == 0) {
            result = kFastInvalid;
            break;
        }
        const unsigned idx = unsigned(bb) & distMask;
        const unsigned info = distInfo[idx], dn = info & 15, dx = info >> 4;
        bb >>= dn;
        bc -= dn;
        if (dn == 0 || dx > 13) {
            result = kFastInvalid;
            break;
        }
        const unsigned dist = n8_load16(distBase + 2 * idx) + (unsigned(bb) & kMaskBits[dx]);
        bb >>= dx;
        bc -= dx;

        const std::size_t room = std::size_t(outEnd - out);
        if (len > room || dist > 0xFFFF) {
            result = dist > 0xFFFF ? kFastInvalid : int((len << 16) | dist);
            break;
        }
        if (dist > std::size_t(out - hist)) {
            io.dst = out;
            if (!n8_copyMatchExact(io, len, dist)) {
                result = kFastNoHistory;
                break;
            }
            out = io.dst;
            continue;
        }
        if (kExact)
            n8_copyMatchTight(out, dist, len);
        else if (room - len >= 16)
            n8_copyMatchWide(out, dist, len);
        else
            n8_copyBackExact(out, dist, len);
        out += len;
    }

    io.src = src;
    io.bitBuf = bb;
    io.bitCount = bc;
    io.dst = out;
    n8_fastGiveBack(io, srcStart);
    return result;
}

}  // namespace

KelStatus n8_ownsInflateShort_8u(Io& io, int* pMode, InflateContext* pContext) {
    // A damaged context must not send the lookups outside the table area.
    if (pContext->maxLitLen < 1 || pContext->maxLitLen > kShortMaxLit || pContext->maxDistLen > kShortMaxDist)
        return kelStatusBadStream;
    const Kel8u* t = pContext->tables;
    const Kel8u* distInfo = t + 2 * (std::size_t(1) << pContext->maxLitLen);
    ShortForm form{t, distInfo, distInfo + 1024, pContext->maxLitLen, pContext->maxDistLen};
    return n8_runMachine(io, form, pMode, pContext);
}

}  // namespace kel::inflate
