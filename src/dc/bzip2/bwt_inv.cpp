// src/dc/bzip2/bwt_inv.cpp - the inverse Burrows-Wheeler transform.
//
// With cum[b] the number of bytes of L below b, T[cum[L[i]]++] = i links each sorted rotation to the next one in
// text order, and the walk p = T[p] from the origin spells the block. Below 2^24 bytes a link and the byte it leads
// to share one 32-bit entry (link << 8 | byte), so each output byte costs one dependent load instead of two.
#include "core/dc_exports.h"
#include "dc/bzip2/bzip2_internal.h"
#include "primitives/primitives.h"

namespace {

// 4n + 1024 must stay within int32.
constexpr int kInvMaxLen = (0x7FFFFFFF - 1024) / 4;
constexpr int kPackedMaxLen = 1 << 24;

}  // namespace

extern "C" KelStatus n8_kelsBWTInvGetSize_8u(int len, int* pBWTInvBuffSize) {
    if (pBWTInvBuffSize == nullptr) return kelStatusNullPointer;
    if (len < 1 || len > kInvMaxLen) return kelStatusBadSize;
    *pBWTInvBuffSize = 4 * len + 1024;
    return kelStatusOk;
}

extern "C" KelStatus n8_kelsBWTInv_8u(const Kel8u* pSrc, Kel8u* pDst, int len, int index, Kel8u* pBWTInvBuff) {
    if (pSrc == nullptr || pDst == nullptr || pBWTInvBuff == nullptr) return kelStatusNullPointer;
    if (len < 1 || len > kInvMaxLen) return kelStatusBadSize;
    if (index < 0 || index >= len) return kelStatusBadSize;
    if (len == 1) {
        pDst[0] = pSrc[0];
        return kelStatusOk;
    }

    // 256 counters, then the n-entry vector; the buffer's 1024 spare bytes cover the alignment.
    Kel32u* const cum = reinterpret_cast<Kel32u*>(n8_alignUp(pBWTInvBuff, 4));
    Kel32u* const t = cum + 256;
    for (int b = 0; b < 256; ++b) cum[b] = 0;
    for (int i = 0; i < len; ++i) ++cum[pSrc[i]];
    Kel32u sum = 0;
    for (int b = 0; b < 256; ++b) {
        const Kel32u c = cum[b];
        cum[b] = sum;
        sum += c;
    }

    if (len < kPackedMaxLen) {
        // Entry j links to i = T[j], and the byte read after moving there is L[i] = b.
        for (int i = 0; i < len; ++i) {
            const Kel8u b = pSrc[i];
            t[cum[b]++] = (static_cast<Kel32u>(i) << 8) | b;
        }
        Kel32u p = static_cast<Kel32u>(index);
        for (int k = 0; k < len; ++k) {
            const Kel32u e = t[p];
            pDst[k] = static_cast<Kel8u>(e);
            p = e >> 8;
        }
        return kelStatusOk;
    }

    for (int i = 0; i < len; ++i) t[cum[pSrc[i]]++] = static_cast<Kel32u>(i);
    Kel32u p = static_cast<Kel32u>(index);
    for (int k = 0; k < len; ++k) {
        p = t[p];
        pDst[k] = pSrc[p];
    }
    return kelStatusOk;
}
