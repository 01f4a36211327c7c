// src/dc/inflate/inflate_machine.h - the resumable sub-state machine shared by both table forms.
//
// The machine decodes one symbol at a time from a bit buffer that it fills byte by byte, so it can stop at any
// bit: when the source runs dry, when the destination is full, at the end of the block or at an invalid code.
// Whatever is half done (a length waiting for its extra bits, a match waiting for room) is saved in the
// context's resume fields. At symbol boundaries with enough source and room it hands over to the form's fast
// kernel, which needs no per-byte bounds checks inside those margins.
//
// A table form T provides:
//   Sym litLen(Io&), Sym dist(Io&)  load bytes by the form's rule, look up the next code; nbits may exceed the
//                                   held bits (the code is incomplete), nothing is consumed;
//   bool fastReady(const Io&)       the fast kernel's entry margins hold;
//   int fast(Io&)                   run the fast kernel from a symbol boundary (result codes in
//                                   inflate_internal.h), leaving at most 32 held bits;
//   Kel32u resumeExtra(Kel32u)      how a saved extra-bit count is read back.
#pragma once

#include "dc/inflate/inflate_internal.h"

namespace kel::inflate {

enum class SymKind { Literal, Length, EndOfBlock, Distance, Invalid };

struct Sym {
    unsigned nbits;  // bits the code (with any folded extra bits) occupies
    SymKind kind;
    unsigned value;  // literal byte, length (3..258 before extra bits), or distance (before extra bits)
    unsigned extra;  // extra bits still to read after the code
};

// Ends a fast-kernel visit: when more than 8 bits are held, gives whole unconsumed bytes back to the source, at
// most as many as the visit read, and clears the bits above the count. At most 32 bits stay held: either fewer
// than 8 remain, or every byte of the visit went back and what is left is part of the at most 32 bits the visit
// started with.
inline void n8_fastGiveBack(Io& io, const Kel8u* srcAtStart) {
    if (io.bitCount > 8) {
        const unsigned held = io.bitCount / 8;
        const unsigned read = unsigned(io.src - srcAtStart);
        const unsigned n = held < read ? held : read;
        io.src -= n;
        io.bitCount -= 8 * n;
    }
    io.bitBuf &= io.bitCount >= 64 ? ~Kel64u(0) : (Kel64u(1) << io.bitCount) - 1;
}

template <class T>
KelStatus n8_runMachine(Io& io, T& t, int* pMode, InflateContext* ctx) {
    unsigned state = kStateLitLen;
    Kel32u value = 0, extra = 0, distance = 0;
    if (*pMode == 2) {
        state = ctx->resumeState;
        value = ctx->resumeValue;
        extra = t.resumeExtra(ctx->resumeExtra);
        distance = ctx->resumeDistance;
    }
    auto suspend = [&](unsigned s) {
        ctx->resumeState = s;
        ctx->resumeValue = value;
        ctx->resumeExtra = extra;
        ctx->resumeDistance = distance;
        *pMode = 2;
        return kelStatusOk;
    };

    for (;;) {
        switch (state) {
            case kStateLitLen: {
                if (t.fastReady(io)) {
                    const int r = t.fast(io);
                    if (r > 0) {
                        value = unsigned(r) >> 16;
                        distance = unsigned(r) & 0xFFFF;
                        state = kStateCopy;
                        continue;
                    }
                    if (r == kFastEndOfBlock) {
                        *pMode = 0;
                        return kelStatusOk;
                    }
                    if (r < 0) return kelStatusBadStream;
                    // Margins reached at a symbol boundary: the next symbol is decoded below, whatever the room.
                }
                const Sym s = t.litLen(io);
                if (s.nbits > io.bitCount) {
                    *pMode = 1;
                    return kelStatusOk;
                }
                n8_consume(io, s.nbits);
                if (s.kind == SymKind::Literal) {
                    value = s.value;
                    state = kStateLiteral;
                } else if (s.kind == SymKind::Length) {
                    value = s.value;
                    extra = s.extra;
                    state = extra != 0 ? kStateLenExtra : kStateDist;
                } else if (s.kind == SymKind::EndOfBlock) {
                    *pMode = 0;
                    return kelStatusOk;
                } else {
                    return kelStatusBadStream;
                }
                break;
            }
            case kStateLenExtra:
                n8_loadExtra(io, extra);
                if (io.bitCount < extra) return suspend(kStateLenExtra);
                value += unsigned(io.bitBuf) & kMaskBits[extra & 15];
                n8_consume(io, extra);
                state = kStateDist;
                break;
            case kStateDist: {
                const Sym s = t.dist(io);
                if (s.nbits > io.bitCount) return suspend(kStateDist);
                n8_consume(io, s.nbits);
                if (s.kind != SymKind::Distance) return kelStatusBadStream;
                distance = s.value;
                extra = s.extra;
                state = kStateDistExtra;
                break;
            }
            case kStateDistExtra:
                n8_loadExtra(io, extra);
                if (io.bitCount < extra) return suspend(kStateDistExtra);
                distance += unsigned(io.bitBuf) & kMaskBits[extra & 15];
                n8_consume(io, extra);
                state = kStateCopy;
                break;
            case kStateCopy: {
                const std::size_t room = std::size_t(io.dstEnd - io.dst);
                const unsigned n = value <= room ? value : unsigned(room);
                if (n != 0 && !n8_copyMatchExact(io, n, distance)) return kelStatusBadStream;
                value -= n;
                if (value != 0) return suspend(kStateCopy);
                state = kStateLitLen;
                break;
            }
            case kStateLiteral:
                if (io.dst == io.dstEnd) return suspend(kStateLiteral);
                *io.dst++ = Kel8u(value);
                state = kStateLitLen;
                break;
            default:
                return kelStatusBadStream;  // a resume state no call saves
        }
    }
}

}  // namespace kel::inflate
