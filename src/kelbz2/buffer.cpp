// src/kelbz2/buffer.cpp - BZ2_bzBuffToBuffCompress and BZ2_bzBuffToBuffDecompress: one stream in one call.
//
// Both run one BZ2_bzCompress or BZ2_bzDecompress call over the whole buffers, as libbz2 defines them, so their
// results follow from the stream calls: a compression that could not finish did not fit (BZ_OUTBUFF_FULL); a
// decompression that neither ended nor failed ran out of room (BZ_OUTBUFF_FULL) or, with room left, of input
// (BZ_UNEXPECTED_EOF). Only the first stream of the source is decoded; what follows it is ignored.
#include <cstring>

#include "kelbz2/kelbz2_internal.h"

extern "C" {

int BZ2_bzBuffToBuffCompress(char* dest, unsigned int* destLen, char* source, unsigned int sourceLen, int blockSize100k,
                             int verbosity, int workFactor) {
    if (!dest || !destLen || !source || blockSize100k < 1 || blockSize100k > 9 || verbosity < 0 || verbosity > 4 ||
        workFactor < 0 || workFactor > 250) {
        return BZ_PARAM_ERROR;
    }
    bz_stream strm;
    std::memset(&strm, 0, sizeof strm);
    int r = BZ2_bzCompressInit(&strm, blockSize100k, verbosity, workFactor);
    if (r != BZ_OK) return r;
    strm.next_in = source;
    strm.avail_in = sourceLen;
    strm.next_out = dest;
    strm.avail_out = *destLen;
    r = BZ2_bzCompress(&strm, BZ_FINISH);
    if (r == BZ_STREAM_END) *destLen -= strm.avail_out;
    BZ2_bzCompressEnd(&strm);
    if (r == BZ_STREAM_END) return BZ_OK;
    return r == BZ_FINISH_OK ? BZ_OUTBUFF_FULL : r;
}

int BZ2_bzBuffToBuffDecompress(char* dest, unsigned int* destLen, char* source, unsigned int sourceLen, int small,
                               int verbosity) {
    if (!dest || !destLen || !source || (small != 0 && small != 1) || verbosity < 0 || verbosity > 4) {
        return BZ_PARAM_ERROR;
    }
    bz_stream strm;
    std::memset(&strm, 0, sizeof strm);
    int r = BZ2_bzDecompressInit(&strm, verbosity, small);
    if (r != BZ_OK) return r;
    strm.next_in = source;
    strm.avail_in = sourceLen;
    strm.next_out = dest;
    strm.avail_out = *destLen;
    r = BZ2_bzDecompress(&strm);
    if (r == BZ_STREAM_END) *destLen -= strm.avail_out;
    const bool roomLeft = strm.avail_out > 0;
    BZ2_bzDecompressEnd(&strm);
    if (r == BZ_STREAM_END) return BZ_OK;
    if (r == BZ_OK) return roomLeft ? BZ_UNEXPECTED_EOF : BZ_OUTBUFF_FULL;
    return r;
}

}  // extern "C"
