// src/ch/string/utf_convert_ref.cpp - the UTF-8/UTF-16 converters one character at a time, written straight from
// their rules: the readable definition and the oracle of utf_convert_ssse3.cpp.
#include "ch/string/utf8_tables.inc"
#include "ch/string/utf_convert_internal.h"

namespace {

// The smallest n with c <= UTF8_table1[n]: how many continuation bytes the shortest form of c needs.
int n8_minimalContinuation(Kel32u c) {
    int n = 0;
    while (n < 5 && c > UTF8_table1[n]) ++n;
    return n;
}

inline Kel16u n8_orderUnit(Kel32u u, bool swap) {
    return static_cast<Kel16u>(swap ? ((u & 0xFF) << 8) | ((u >> 8) & 0xFF) : u & 0xFFFF);
}

}  // namespace

void n8_ownsConvertUTF_8u16u_ref(const Kel8u* pSrc, Kel32u* pSrcLen, Kel16u* pDst, Kel32u* pDstLen, int bigEndian) {
    const bool swap = bigEndian != 0;
    Kel32u r = *pSrcLen, w = *pDstLen;
    const Kel8u* s = pSrc;
    Kel16u* d = pDst;
    while (r > 0 && w > 0) {
        const Kel32u b = s[0];
        Kel32u c = b, used = 1;
        if (b >= 0x80) {
            int ones = 0;
            while (ones < 7 && (b & (0x80u >> ones)) != 0) ++ones;
            const int n = ones - 1;
            // n = 0 (a stray continuation byte) and n = 6 (0xFE, 0xFF) stand for themselves.
            if (n >= 1 && n <= 5 && static_cast<Kel32u>(n) < r) {
                Kel32u v = (b & UTF8_table3[n]) << (6 * n);
                bool wellFormed = true;
                for (int k = 0; k < n && wellFormed; ++k) {
                    const Kel32u x = s[1 + k];
                    wellFormed = (x & 0xC0) == 0x80;
                    v |= (x & 0x3F) << (6 * (n - 1 - k));
                }
                if (wellFormed && n8_minimalContinuation(v) == n) {
                    c = v;
                    used = static_cast<Kel32u>(n) + 1;
                }
            }
        }
        if (c > 0xFFFF) {
            if (w < 2) break;
            d[0] = n8_orderUnit(0xD800 + (((c - 0x10000) >> 10) & 0x3FF), swap);
            d[1] = n8_orderUnit(0xDC00 + ((c - 0x10000) & 0x3FF), swap);
            d += 2;
            w -= 2;
        } else {
            *d++ = n8_orderUnit(c, swap);
            --w;
        }
        s += used;
        r -= used;
    }
    *pSrcLen -= r;
    *pDstLen -= w;
}

void n8_ownsConvertUTF_16u8u_ref(const Kel16u* pSrc, Kel32u* pSrcLen, Kel8u* pDst, Kel32u* pDstLen, int bigEndian) {
    const bool swap = bigEndian != 0;
    Kel32u r = *pSrcLen, w = *pDstLen;
    const Kel16u* s = pSrc;
    Kel8u* d = pDst;
    while (r > 0 && w > 0) {
        const Kel32u u = n8_orderUnit(s[0], swap);
        Kel32u c = u, used = 1;
        if (u >= 0xD800 && u <= 0xDBFF && r >= 2) {
            const Kel32u v = n8_orderUnit(s[1], swap);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                c = (((u & 0x3FF) << 10) | (v & 0x3FF)) + 0x10000;
                used = 2;
            }
        }
        const int n = n8_minimalContinuation(c);
        if (static_cast<Kel32u>(n) + 1 > w) break;
        for (int k = n; k >= 1; --k) {
            d[k] = static_cast<Kel8u>(0x80 | (c & 0x3F));
            c >>= 6;
        }
        d[0] = static_cast<Kel8u>(c | UTF8_table2[n]);
        d += n + 1;
        w -= static_cast<Kel32u>(n) + 1;
        s += used;
        r -= used;
    }
    *pSrcLen -= r;
    *pDstLen -= w;
}
