// src/dc/inflate/inflate.cpp - kelsInflate_8u: argument checks, dispatch by table form, the two-level loop and
// the history-aware match copy.
//
// All in-out values are read into locals (Io) once and written back once, so a failed check leaves the caller's
// values untouched, and a stop anywhere (source dry, destination full, end of block, invalid code) hands back a
// consistent state: every byte moved into the bit buffer is accounted for in the source pointer and count.
#include <cstddef>
#include <cstdint>

#include "core/dc_exports.h"
#include "dc/inflate/inflate_internal.h"
#include "dc/inflate/inflate_machine.h"

// The context layout is part of the interface: callers set window, windowSize and tableKind directly.
static_assert(offsetof(InflateContext, window) == 0);
static_assert(offsetof(InflateContext, windowSize) == 8);
static_assert(offsetof(InflateContext, tableKind) == 12);
static_assert(offsetof(InflateContext, reserved) == 16);
static_assert(offsetof(InflateContext, resumeState) == 24);
static_assert(offsetof(InflateContext, resumeValue) == 28);
static_assert(offsetof(InflateContext, resumeExtra) == 32);
static_assert(offsetof(InflateContext, resumeDistance) == 36);
static_assert(offsetof(InflateContext, maxLitLen) == 40);
static_assert(offsetof(InflateContext, maxDistLen) == 44);
static_assert(offsetof(InflateContext, tables) == 48);
static_assert(sizeof(InflateContext) == 7216);

namespace kel::inflate {

bool n8_copyMatchExact(Io& io, unsigned len, unsigned dist) {
    if (dist == 0) return false;
    Kel8u* out = io.dst;
    const std::size_t avail = std::size_t(out - io.histStart);
    if (dist > avail) {
        // The older part lies in the circular window, whose newest byte is window[winPos - 1]: start `back`
        // bytes before winPos, wrap at the window's end, and continue in the destination at histStart once
        // winPos is reached (the source then advances in step with the output, dist bytes behind it).
        if (io.window == nullptr) return false;
        const std::size_t back = dist - avail;
        if (back > io.windowSize) return false;
        std::size_t pos = back <= io.winPos ? io.winPos - back : io.windowSize + io.winPos - back;
        const unsigned n = back < len ? unsigned(back) : len;
        // Byte by byte: a caller may keep its destination inside its own window buffer.
        for (unsigned k = 0; k < n; ++k) {
            out[k] = io.window[pos];
            if (++pos == io.windowSize) pos = 0;
        }
        out += n;
        len -= n;
    }
    n8_copyBackExact(out, dist, len);
    io.dst = out + len;
    return true;
}

namespace {

// The two-level form: 10-bit first levels, subtables for longer codes (layout in inflate_internal.h).
struct TwoLevelForm {
    const Kel8u* t;
    const Kel32u* packed;  // packed first levels of t (inflate_internal.h), or null: the kernel reads t itself

    // The continuation of a code longer than 10 bits, as a subtable index (code order, L - 10 bits).
    static unsigned subIndex(Kel64u bits, unsigned L) { return kTablofinv[(bits >> 10) & 31] >> (15 - L); }

    Sym litLen(Io& io) const {
        if (io.bitCount <= 10) n8_loadTo(io, 11);
        const unsigned idx = unsigned(io.bitBuf) & 1023;
        unsigned info = t[kLitInfo1 + idx];
        unsigned val = t[kLitVal1 + idx];
        if ((info & 15) > 10) {
            n8_loadExtra(io, info & 15);
            // Starts are stored halved; the mask keeps even a damaged context inside the second level.
            const unsigned k = (val * 2 + subIndex(io.bitBuf, info & 15)) & (kLitSub - 1);
            info = t[kLitInfo2 + k];
            val = t[kLitVal2 + k];
        }
        const unsigned n = info & 15;
        if (n == 0) return {0, SymKind::Invalid, 0, 0};
        if (info & 0x80) return {n, SymKind::Length, val + 3, (info >> 4) & 7};
        if ((info & 0x70) == 0) return {n, SymKind::Literal, val, 0};
        if ((info & 0x70) == kKindEndOfBlock) return {n, SymKind::EndOfBlock, 0, 0};
        return {n, SymKind::Invalid, 0, 0};
    }

    Sym dist(Io& io) const {
        if (io.bitCount <= 10) n8_loadTo(io, 11);
        const unsigned idx = unsigned(io.bitBuf) & 1023;
        unsigned info = t[kDistInfo1 + idx];
        unsigned val = n8_load16(t + kDistVal1 + 2 * idx);
        if ((info & 15) > 10) {
            n8_loadExtra(io, info & 15);
            const unsigned k = (val + subIndex(io.bitBuf, info & 15)) & (kDistSub - 1);
            info = t[kDistInfo2 + k];
            val = n8_load16(t + kDistVal2 + 2 * k);
        }
        const unsigned n = info & 15, x = info >> 4;
        if (n == 0 || x > 13) return {n, SymKind::Invalid, 0, 0};
        return {n, SymKind::Distance, val, x};
    }

    static bool fastReady(const Io& io) { return io.srcEnd - io.src >= 16 && io.dst != io.dstEnd; }

    int fast(Io& io) const {
        const Kel8u* start = io.src;
        const int r = packed ? n8_ownDecodeLZ77DHF_Packed(io, packed, t) : n8_ownDecodeLZ77DHF_HotSpot(io, t);
        n8_fastGiveBack(io, start);
        return r;
    }

    static Kel32u resumeExtra(Kel32u e) { return e & 15; }
};

}  // namespace

// Repacking the context's first levels costs about as much as decoding a few hundred bytes; calls with less
// source or room than this keep to the unpacked kernel.
constexpr std::ptrdiff_t kPackMinSource = 512;
constexpr std::ptrdiff_t kPackMinRoom = 2048;

// A frame of its own, so that only calls that repack reserve the 8 KiB of packed entries on the stack.
__attribute__((noinline)) KelStatus n8_runPacked(Io& io, const Kel8u* tables, int* pMode, InflateContext* pContext) {
    alignas(64) Kel32u packed[kPackedEntries];
    n8_packTwoLevel(tables, packed);
    TwoLevelForm form{tables, packed};
    return n8_runMachine(io, form, pMode, pContext);
}

KelStatus n8_ownsInflateTwoLevel_8u(Io& io, const Kel8u* tables, int* pMode, InflateContext* pContext) {
    if (tables == n8_fixedHuffmanTable()) {
        TwoLevelForm form{tables, n8_fixedPackedTable()};
        return n8_runMachine(io, form, pMode, pContext);
    }
    if (io.srcEnd - io.src >= kPackMinSource && io.dstEnd - io.dst >= kPackMinRoom)
        return n8_runPacked(io, tables, pMode, pContext);
    TwoLevelForm form{tables, nullptr};
    return n8_runMachine(io, form, pMode, pContext);
}

}  // namespace kel::inflate

using namespace kel::inflate;

extern "C" KelStatus n8_kelsInflate_8u(Kel8u** pSrcPtr, int* pSrcLen, Kel32u* pBitBuf, Kel32u* pBitCount, Kel32u winPos,
                                       Kel8u** pDstPtr, int* pDstLen, Kel32u dstPos, int* pBlockMode,
                                       InflateContext* pContext) {
    if (pSrcPtr == nullptr || pSrcLen == nullptr || pBitBuf == nullptr || pBitCount == nullptr || pDstPtr == nullptr ||
        pDstLen == nullptr || pBlockMode == nullptr || pContext == nullptr || *pSrcPtr == nullptr ||
        *pDstPtr == nullptr)
        return kelStatusNullPointer;
    if (*pBitCount > 32) return kelStatusBadSize;
    if (winPos > pContext->windowSize) return kelStatusBadSize;

    // Negative counts mean no bytes. The bits above the held count are the caller's business: cleared here.
    const int srcLen = *pSrcLen > 0 ? *pSrcLen : 0;
    const int dstLen = *pDstLen > 0 ? *pDstLen : 0;
    Io io;
    io.src = *pSrcPtr;
    io.srcEnd = io.src + srcLen;
    io.bitCount = *pBitCount;
    io.bitBuf = *pBitBuf & (io.bitCount == 32 ? 0xFFFFFFFFull : (Kel64u(1) << io.bitCount) - 1);
    io.dst = *pDstPtr;
    io.dstEnd = io.dst + dstLen;
    io.histStart = io.dst - dstPos;
    io.window = pContext->window;
    io.windowSize = pContext->windowSize;
    io.winPos = winPos;
    // Compared as addresses: the room and the window may be unrelated objects, where pointer order means nothing.
    const std::uintptr_t roomLo = std::uintptr_t(io.dst), roomHi = std::uintptr_t(io.dstEnd);
    const std::uintptr_t winLo = std::uintptr_t(io.window), winHi = winLo + io.windowSize;
    io.exactCopies = io.window != nullptr && roomLo < winHi && winLo < roomHi;

    int mode = *pBlockMode;
    KelStatus status = kelStatusBadStream;
    switch (pContext->tableKind) {
        case 0:
            status = n8_ownsInflateTwoLevel_8u(io, n8_fixedHuffmanTable(), &mode, pContext);
            break;
        case 1:
            status = n8_ownsInflateTwoLevel_8u(io, pContext->tables, &mode, pContext);
            break;
        case 2:
            status = n8_ownsInflateShort_8u(io, &mode, pContext);
            break;
        default:
            break;  // nothing decoded: the in-out values go back unchanged
    }

    *pSrcLen -= int(io.src - *pSrcPtr);
    *pSrcPtr = const_cast<Kel8u*>(io.src);
    *pBitBuf = Kel32u(io.bitBuf);
    *pBitCount = io.bitCount;
    *pDstLen -= int(io.dst - *pDstPtr);
    *pDstPtr = io.dst;
    if (status == kelStatusOk) *pBlockMode = mode;
    return status;
}
