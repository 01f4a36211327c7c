// src/dc/deflate/fastest_header.cpp - dynamic block headers of the single-probe path: the run-length coding of code
// lengths, kelsDeflateLZ77FastestGenHeader_8u (a complete header, computed once and copied by the encoder), and
// the shorter header the encoder generates on the spot.
//
// The two differ on purpose. The precomputed header is written once per code pair and can afford the full
// construction for its code-length code (lengths up to 7) and always declares all 286 + 30 codes. The on-the-spot
// header trims the declared counts and gives the code-length code just two lengths, s and s + 1, chosen so that
// the code is complete: with c symbols in use and 2^(s-1) < c <= 2^s, the m = 2^(s+1) - c most frequent get s bits
// and the other c - m get s + 1 bits, since m / 2^s + (c - m) / 2^(s+1) = 1.
#include "core/dc_exports.h"
#include "dc/deflate/fastest_internal.h"
#include "primitives/primitives.h"

namespace kel::deflate {

int n8_ownsFastestRunLengths(const DeflateCodeEntry* codes, int n, CodeLengthRun* out) {
    int count = 0;
    int prev = -1;  // the previous length, or none
    for (int i = 0; i < n;) {
        const int v = codes[i].codeLength;
        if (v == 0) {
            int run = 1;
            while (run < 138 && i + run < n && codes[i + run].codeLength == 0) ++run;
            if (run >= 11) {
                out[count++] = CodeLengthRun{18, Kel8u(run - 11)};
            } else if (run >= 3) {
                out[count++] = CodeLengthRun{17, Kel8u(run - 3)};
            } else {
                for (int k = 0; k < run; ++k) out[count++] = CodeLengthRun{0, 0};
            }
            i += run;
            prev = -1;
        } else if (v != prev) {
            out[count++] = CodeLengthRun{Kel8u(v), 0};
            prev = v;
            ++i;
        } else {
            int run = 1;
            while (run < 6 && i + run < n && codes[i + run].codeLength == v) ++run;
            if (run >= 3) {
                out[count++] = CodeLengthRun{16, Kel8u(run - 3)};
            } else {
                for (int k = 0; k < run; ++k) out[count++] = CodeLengthRun{Kel8u(v), 0};
            }
            i += run;
        }
    }
    return count;
}

void n8_ownsFastestWriteHeaderBody(HeaderBitWriter& w, const CodeLengthRun* runs, int nRuns, const int* clLen, int hlit,
                                   int hdist) {
    DeflateCodeEntry clCodes[kFastCodeLengthSymbols];
    n8_ownsFastestCanonicalCodes(clLen, kFastCodeLengthSymbols, clCodes);
    // HCLEN: the lengths up to the last used symbol in transmission order; the format cannot send fewer than 4.
    int hclen = 4;
    for (int k = 0; k < kFastCodeLengthSymbols; ++k) {
        if (clLen[cod_len_cod[k]] != 0 && k + 1 > hclen) hclen = k + 1;
    }
    w.put(Kel32u(hlit - 257), 5);
    w.put(Kel32u(hdist - 1), 5);
    w.put(Kel32u(hclen - 4), 4);
    for (int k = 0; k < hclen; ++k) w.put(Kel32u(clLen[cod_len_cod[k]]), 3);
    for (int r = 0; r < nRuns; ++r) {
        const DeflateCodeEntry& e = clCodes[runs[r].sym];
        w.put(e.freqOrCode, e.codeLength);
        const Kel32u extra = n8_runExtraBits(runs[r].sym);
        if (extra != 0) w.put(runs[r].extra, extra);
    }
}

Kel32s n8_ownsFastestSpotHeader(const DeflateCodeEntry* pLitLenCodes, const DeflateCodeEntry* pDistCodes, Kel8u* out) {
    int hlit = 257;
    for (int i = 257; i < 288; ++i) {
        if (pLitLenCodes[i].codeLength != 0) hlit = i + 1;
    }
    int hdist = 1;
    for (int i = 0; i < kFastDistSymbols; ++i) {
        if (pDistCodes[i].codeLength != 0) hdist = i + 1;
    }
    CodeLengthRun runs[288 + kFastDistSymbols];
    int nRuns = n8_ownsFastestRunLengths(pLitLenCodes, hlit, runs);
    nRuns += n8_ownsFastestRunLengths(pDistCodes, hdist, runs + nRuns);

    Kel32s freq[kFastCodeLengthSymbols] = {};
    for (int r = 0; r < nRuns; ++r) ++freq[runs[r].sym];
    int used = 0;
    for (int sym = 0; sym < kFastCodeLengthSymbols; ++sym) used += freq[sym] != 0;
    int s = 4, m = 32 - used;
    if (used < 4) {
        s = 1;
        m = 4 - used;
    } else if (used < 8) {
        s = 2;
        m = 8 - used;
    } else if (used < 16) {
        s = 3;
        m = 16 - used;
    }
    // Rank by count over all 19 symbols: the used ones take the first places (their counts are positive), in the
    // order the sort gives equal counts.
    Kel32s ranked[kFastCodeLengthSymbols];
    int idx[kFastCodeLengthSymbols];
    for (int sym = 0; sym < kFastCodeLengthSymbols; ++sym) ranked[sym] = freq[sym];
    n8_kelsSortIndexDescend_32s_I(ranked, idx, kFastCodeLengthSymbols);
    int clLen[kFastCodeLengthSymbols] = {};
    for (int r = 0; r < kFastCodeLengthSymbols; ++r) {
        const int sym = idx[r];
        if (freq[sym] != 0) clLen[sym] = r < m ? s : s + 1;
    }

    HeaderBitWriter w(out);
    n8_ownsFastestWriteHeaderBody(w, runs, nRuns, clLen, hlit, hdist);
    return w.finish();
}

}  // namespace kel::deflate

using namespace kel::deflate;

extern "C" KelStatus n8_kelsDeflateLZ77FastestGenHeader_8u(const DeflateCodeEntry* pLitLenCodes,
                                                           const DeflateCodeEntry* pDistCodes, Kel8u* pHeader,
                                                           Kel32s* pHeaderBytes, Kel32s* pHeaderBits) {
    if (pLitLenCodes == nullptr || pDistCodes == nullptr) return kelStatusNullPointer;
    if (pHeader == nullptr || pHeaderBytes == nullptr || pHeaderBits == nullptr) return kelStatusNullPointer;
    // A length above 15 cannot be sent (and would index past the code-length alphabet).
    if (!n8_fastLengthsValid(pLitLenCodes, kFastLitLenSymbols) || !n8_fastLengthsValid(pDistCodes, kFastDistSymbols)) {
        return kelStatusBadArgument;
    }

    CodeLengthRun runs[kFastLitLenSymbols + kFastDistSymbols];
    int nRuns = n8_ownsFastestRunLengths(pLitLenCodes, kFastLitLenSymbols, runs);
    nRuns += n8_ownsFastestRunLengths(pDistCodes, kFastDistSymbols, runs + nRuns);

    // The code-length code over the symbols in use, taken in symbol order.
    Kel32s freq[kFastCodeLengthSymbols] = {};
    for (int r = 0; r < nRuns; ++r) ++freq[runs[r].sym];
    Kel32s usedFreq[kFastCodeLengthSymbols];
    int usedSym[kFastCodeLengthSymbols];
    int used = 0;
    for (int sym = 0; sym < kFastCodeLengthSymbols; ++sym) {
        if (freq[sym] == 0) continue;
        usedFreq[used] = freq[sym];
        usedSym[used] = sym;
        ++used;
    }
    int usedLen[kFastCodeLengthSymbols];
    n8_ownsFastestCodeLengths(usedFreq, used, 7, usedLen);
    int clLen[kFastCodeLengthSymbols] = {};
    for (int k = 0; k < used; ++k) clLen[usedSym[k]] = usedLen[k];

    HeaderBitWriter w(pHeader);
    w.put(1, 1);  // final block
    w.put(2, 2);  // dynamic Huffman codes
    n8_ownsFastestWriteHeaderBody(w, runs, nRuns, clLen, kFastLitLenSymbols, kFastDistSymbols);
    const Kel32s bits = w.finish();
    *pHeaderBytes = (bits + 7) / 8;
    *pHeaderBits = bits;
    return kelStatusOk;
}
