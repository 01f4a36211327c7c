// src/kelz/uncompress.cpp - zlib's one-call decompression of a whole zlib stream.
//
// The rules are zlib's: the source is fed as one piece (in uInt-sized parts), *sourceLen says how much of it the
// stream used, and a stream that stops short is Z_DATA_ERROR unless it stopped because dest was full
// (Z_BUF_ERROR). With *destLen 0 a one-byte scratch buffer tells the two apart.
#include "kelz/kelz_internal.h"

extern "C" {

int uncompress2(Bytef* dest, uLongf* destLen, const Bytef* source, uLong* sourceLen) {
    const uInt max = uInt(-1);
    uLong len = *sourceLen, left;
    Byte scratch[1];
    if (*destLen) {
        left = *destLen;
        *destLen = 0;
    } else {
        left = 1;
        dest = scratch;
    }
    z_stream stream;
    stream.next_in = const_cast<Bytef*>(source);
    stream.avail_in = 0;
    stream.zalloc = Z_NULL;
    stream.zfree = Z_NULL;
    stream.opaque = Z_NULL;
    int err = inflateInit(&stream);
    if (err != Z_OK) return err;
    stream.next_out = dest;
    stream.avail_out = 0;
    do {
        if (stream.avail_out == 0) {
            stream.avail_out = left > uLong(max) ? max : uInt(left);
            left -= stream.avail_out;
        }
        if (stream.avail_in == 0) {
            stream.avail_in = len > uLong(max) ? max : uInt(len);
            len -= stream.avail_in;
        }
        err = inflate(&stream, Z_NO_FLUSH);
    } while (err == Z_OK);
    *sourceLen -= len + stream.avail_in;
    if (dest != scratch)
        *destLen = stream.total_out;
    else if (stream.total_out && err == Z_BUF_ERROR)
        left = 1;
    inflateEnd(&stream);
    return err == Z_STREAM_END                                  ? Z_OK
           : err == Z_NEED_DICT                                 ? Z_DATA_ERROR
           : err == Z_BUF_ERROR && left + stream.avail_out != 0 ? Z_DATA_ERROR
                                                                : err;
}

int uncompress(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
    return uncompress2(dest, destLen, source, &sourceLen);
}

}  // extern "C"
