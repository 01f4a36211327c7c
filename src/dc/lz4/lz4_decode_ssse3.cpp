// src/dc/lz4/lz4_decode_ssse3.cpp - the fast LZ4 block decoder: unchecked block copies inside wide margins.
//
// While the source position is more than 32 bytes and the output position more than 64 bytes from their ends,
// a sequence can be decoded with fixed-size copies that may run past its own end: short literal runs are copied
// as one 16-byte block, long runs in 32-byte blocks, matches in 16-byte blocks. Those copies stay inside the
// buffers because of the margins; every length that could break them (a long literal run, a long match) is
// tested before it is copied, and such a sequence is left to the careful loop (lz4_decode_ref.cpp), which also
// decodes everything after the fast loop ends. Offsets are checked in both loops, so the output is exactly the
// careful loop's; only bytes past the decoded length may differ (scratch from the block copies).
//
// Matches closer than 16 bytes overlap their own output. Their repeating pattern is built in a register with one
// byte shuffle (PSHUFB, mask j mod offset) and stored every offset * floor(16 / offset) bytes, a whole number of
// periods, so that each 16-byte store continues the pattern in phase.
#include <tmmintrin.h>

#include "dc/lz4/lz4_internal.h"

namespace {

constexpr int kSrcMargin = 32;
constexpr int kDstMargin = 64;

// kPatternMask[d][j] = j mod d for d = 1..15; row 0 is unused.
struct PatternTables {
    Kel8u mask[16][16];
    Kel8u step[16];
};

constexpr PatternTables n8_makePatternTables() {
    PatternTables t{};
    for (int d = 1; d < 16; ++d) {
        for (int j = 0; j < 16; ++j) t.mask[d][j] = Kel8u(j % d);
        t.step[d] = Kel8u(16 / d * d);
    }
    return t;
}

constexpr PatternTables kPattern = n8_makePatternTables();

inline void n8_copy16(Kel8u* d, const Kel8u* s) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
}

inline void n8_copy32(Kel8u* d, const Kel8u* s) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), b);
}

// Reads a length extension with a bound check per byte (runs of 255 are rare and long ones rarer).
inline bool n8_readExtension(const Kel8u*& ip, const Kel8u* srcEnd, size_t* pLen) {
    size_t len = *pLen;
    for (;;) {
        if (ip == srcEnd) return false;
        const unsigned b = *ip++;
        len += b;
        if (b != 255) break;
    }
    *pLen = len;
    return true;
}

}  // namespace

KelStatus n8_ownsDecodeLZ4_8u(const Kel8u* pSrc, int srcLen, Kel8u* pDst, int* pDstLen) {
    const Kel8u* ip = pSrc;
    const Kel8u* const srcEnd = pSrc + srcLen;
    Kel8u* op = pDst;
    Kel8u* const dstEnd = pDst + *pDstLen;

    if (srcLen > kSrcMargin && *pDstLen > kDstMargin) {
        const Kel8u* const srcFastEnd = srcEnd - kSrcMargin;
        Kel8u* const dstFastEnd = dstEnd - kDstMargin;
        // Invariant at the top: ip < srcFastEnd and op < dstFastEnd.
        while (ip < srcFastEnd && op < dstFastEnd) {
            const Kel8u* const seqStart = ip;
            const unsigned token = *ip++;
            size_t litLen = token >> 4;
            if (litLen < 15) {
                // Reads ip .. ip + 15 < srcEnd - 16; writes op .. op + 15 < dstEnd - 48.
                n8_copy16(op, ip);
            } else {
                if (!n8_readExtension(ip, srcEnd, &litLen)) goto malformed;
                // The 32-byte blocks read up to ip + litLen + 31 and write up to op + litLen + 31; both stay inside
                // while the run ends before the margins. Otherwise the careful loop takes this sequence. A long
                // extension may have carried ip past srcFastEnd, hence the signed comparisons.
                if (ptrdiff_t(litLen) >= srcFastEnd - ip || ptrdiff_t(litLen) >= dstFastEnd - op) {
                    ip = seqStart;
                    break;
                }
                if (litLen <= 64) {
                    for (size_t i = 0; i < litLen; i += 32) n8_copy32(op + i, ip + i);
                } else {
                    __builtin_memcpy(op, ip, litLen);  // long runs: the library's block copy
                }
            }
            op += litLen;
            ip += litLen;
            // Here ip < srcFastEnd + 15, so the block cannot end before the offset: at least 17 bytes remain.

            const size_t offset = n8_lz4Read16(ip);
            ip += 2;
            size_t matchLen = token & 15;
            if (matchLen == 15 && !n8_readExtension(ip, srcEnd, &matchLen)) goto malformed;
            matchLen += 4;
            // Offset 0 wraps to the largest value, so one comparison refuses it and offsets before pDst.
            if (offset - 1 >= size_t(op - pDst)) goto malformed;
            const Kel8u* const match = op - offset;

            // op may already lie up to 14 bytes inside the margin, hence the signed comparison.
            if (ptrdiff_t(matchLen) >= dstFastEnd - op) {
                // A match reaching into the margin: exact length check, exact copy.
                if (matchLen > size_t(dstEnd - op)) goto malformed;
                for (size_t i = 0; i < matchLen; ++i) op[i] = match[i];
                op += matchLen;
                continue;
            }
            // From here writes end before op + max(matchLen, 32) + 16 < dstEnd - 16 (op < dstFastEnd + 14). The
            // first two blocks are copied whatever the length, which spares a mispredicted loop exit on the
            // common short matches.
            if (offset >= 16) {
                // Each block reads bytes at least 16 before the block it writes: all already final.
                n8_copy16(op, match);
                n8_copy16(op + 16, match + 16);
                for (size_t i = 32; i < matchLen; i += 16) n8_copy16(op + i, match + i);
            } else {
                // The load reads match .. match + 15 < op + 15, inside the destination; the mask picks only the
                // offset bytes before op.
                const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(match));
                const __m128i pattern =
                    _mm_shuffle_epi8(raw, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPattern.mask[offset])));
                const size_t step = kPattern.step[offset];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(op), pattern);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(op + step), pattern);
                for (size_t i = 2 * step; i < matchLen; i += step) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(op + i), pattern);
                }
            }
            op += matchLen;
        }
    }
    return n8_ownsDecodeLZ4Tail(ip, srcEnd, pDst, op, dstEnd, pDstLen);

malformed:
    *pDstLen = -1;
    return kelStatusStreamOverrun;
}
