// src/kelz/inflate.cpp - zlib's decompression calls: stream set-up, inflate's bookkeeping around the decoder
// (totals, check value, window, data_type, Z_BUF_ERROR), dictionaries, sync search, copy and the queries.
//
// The decoder writes straight into next_out; the window (1 << windowBits bytes, made on first use) receives the
// newest output only when a call returns, as zlib's does, so a call whose output is large copies at most one
// window's worth. The rules that decide when the window is kept and when a call reports Z_BUF_ERROR are zlib's,
// because programs see them (inflateGetDictionary, return codes).
#include <cstring>
#include <new>

#include "kelz/inflate_state.h"

using kel::z::InflateMode;
using kel::z::InflateRun;
using kel::z::InflateState;

namespace kel::z {
namespace {

// The live inflate state of strm, or null (also when the hooks were cleared after init, as zlib checks).
InflateState* inflateStateOf(z_streamp strm) {
    internal_state* s = stateOf(strm, kInflateState);
    if (!s || !strm->zalloc || !strm->zfree) return nullptr;
    return static_cast<InflateState*>(s);
}

// Keeps the last `copy` bytes ending at end as history (zlib's updatewindow). False when the window cannot be made.
bool updateWindow(InflateState& s, z_streamp strm, const Kel8u* end, unsigned copy) {
    if (!s.window) {
        s.window = static_cast<Kel8u*>(allocate(strm, std::size_t(1) << s.wbits));
        if (!s.window) return false;
    }
    if (s.wsize == 0) {
        s.wsize = 1u << s.wbits;
        s.wnext = 0;
        s.whave = 0;
    }
    if (copy >= s.wsize) {
        std::memcpy(s.window, end - s.wsize, s.wsize);
        s.wnext = 0;
        s.whave = s.wsize;
        return true;
    }
    unsigned first = s.wsize - s.wnext;
    if (first > copy) first = copy;
    std::memcpy(s.window + s.wnext, end - copy, first);
    copy -= first;
    if (copy) {
        std::memcpy(s.window, end - copy, copy);
        s.wnext = copy;
        s.whave = s.wsize;
    } else {
        s.wnext += first;
        if (s.wnext == s.wsize) s.wnext = 0;
        if (s.whave < s.wsize) s.whave += first;
    }
    return true;
}

void resetWindow(InflateState& s) {
    s.wsize = 0;
    s.whave = 0;
    s.wnext = 0;
}

// zlib's search for 00 00 FF FF: `got` counts the pattern bytes matched so far, across calls.
unsigned syncSearch(unsigned* got, const Kel8u* buf, unsigned len) {
    unsigned g = *got, next = 0;
    while (next < len && g < 4) {
        if (buf[next] == (g < 2 ? 0 : 0xff))
            ++g;
        else if (buf[next])
            g = 0;
        else
            g = 4 - g;
        ++next;
    }
    *got = g;
    return next;
}

}  // namespace
}  // namespace kel::z

using namespace kel::z;

extern "C" {

int inflateResetKeep(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    resetKeep(*s, strm);
    return Z_OK;
}

int inflateReset(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    resetWindow(*s);
    resetKeep(*s, strm);
    return Z_OK;
}

int inflateReset2(z_streamp strm, int windowBits) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    int wrap;
    if (windowBits < 0) {
        if (windowBits < -15) return Z_STREAM_ERROR;
        wrap = 0;
        windowBits = -windowBits;
    } else {
        // 8..15 zlib, +16 gzip, +32 either; bit 2 asks for the check values to be checked.
        wrap = (windowBits >> 4) + 5;
        if (windowBits < 48) windowBits &= 15;
    }
    if (windowBits && (windowBits < 8 || windowBits > 15)) return Z_STREAM_ERROR;
    if (s->window && s->wbits != unsigned(windowBits)) {
        release(strm, s->window);
        s->window = nullptr;
    }
    s->wrap = wrap;
    s->wbits = unsigned(windowBits);
    return inflateReset(strm);
}

int inflateInit2_(z_streamp strm, int windowBits, const char* version, int stream_size) {
    if (!version || version[0] != ZLIB_VERSION[0] || stream_size != int(sizeof(z_stream))) return Z_VERSION_ERROR;
    if (!strm) return Z_STREAM_ERROR;
    strm->msg = Z_NULL;
    installDefaultAllocator(strm);
    void* memory = allocate(strm, sizeof(InflateState));
    if (!memory) return Z_MEM_ERROR;
    InflateState* s = new (memory) InflateState();
    s->strm = strm;
    s->kind = kInflateState;
    s->window = nullptr;
    s->mode = InflateMode::Head;
    strm->state = s;
    const int ret = inflateReset2(strm, windowBits);
    if (ret != Z_OK) {
        release(strm, s);
        strm->state = Z_NULL;
    }
    return ret;
}

int inflateInit_(z_streamp strm, const char* version, int stream_size) {
    return inflateInit2_(strm, MAX_WBITS, version, stream_size);
}

int inflate(z_streamp strm, int flush) {
    InflateState* s = inflateStateOf(strm);
    if (!s || !strm->next_out || (!strm->next_in && strm->avail_in != 0)) return Z_STREAM_ERROR;
    if (s->mode == InflateMode::Type) s->mode = InflateMode::TypeDo;  // the Z_BLOCK stop is behind us
    if (s->mode == InflateMode::Sync) return Z_STREAM_ERROR;
    if (s->mode == InflateMode::Mem) return Z_MEM_ERROR;

    const unsigned inStart = strm->avail_in, outStart = strm->avail_out;
    InflateRun run{strm->next_in,  strm->avail_in, strm->next_out, strm->avail_out,
                   strm->next_out, strm->next_out, false};
    int ret = runInflate(*s, run, strm, flush);
    if (ret == Z_NEED_DICT) {
        // zlib leaves here without its bookkeeping: the totals do not count the header yet.
        strm->next_in = const_cast<Bytef*>(run.next);
        strm->avail_in = run.have;
        return ret;
    }
    // Whole bytes the kernel read ahead go back to the caller's input where the decoder stops for anything but
    // input: at the end, at a block boundary asked for, or with the output full inside a block. A decoder that
    // stopped for want of input keeps all of it, as callers that feed pieces expect. Only bytes of this call can
    // go back.
    const bool readAhead = s->mode == InflateMode::Done ||
                           (s->mode == InflateMode::Type && (flush == Z_BLOCK || flush == Z_TREES)) ||
                           (s->mode == InflateMode::Len && run.left == 0);
    if (readAhead && s->bits >= 8) {
        unsigned back = s->bits / 8;
        const unsigned read = inStart - run.have;
        if (back > read) back = read;
        run.next -= back;
        run.have += back;
        s->bits -= 8 * back;
        s->hold &= s->bits >= 32 ? 0xFFFFFFFFu : (1u << s->bits) - 1;
    }
    strm->next_in = const_cast<Bytef*>(run.next);
    strm->avail_in = run.have;
    strm->next_out = run.put;
    strm->avail_out = run.left;

    // Output before a trailer check in this call neither enters the window nor counts as progress, as in zlib.
    const unsigned in = inStart - run.have, out = run.trailerChecked ? 0 : outStart - run.left;
    if (s->wsize || (out != 0 && s->mode < InflateMode::Bad && (s->mode < InflateMode::Check || flush != Z_FINISH))) {
        if (!updateWindow(*s, strm, run.put, out)) {
            s->mode = InflateMode::Mem;
            return Z_MEM_ERROR;
        }
    }
    strm->total_in += in;
    updateCheck(*s, run, strm);
    strm->data_type = int(s->bits) + (s->last ? 64 : 0) + (s->mode == InflateMode::Type ? 128 : 0) +
                      (s->mode == InflateMode::Len_ || s->mode == InflateMode::Copy_ ? 256 : 0);
    if (((in == 0 && out == 0) || flush == Z_FINISH) && ret == Z_OK) ret = Z_BUF_ERROR;
    return ret;
}

int inflateEnd(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    release(strm, s->window);
    release(strm, s->stage);
    s->kind = 0;
    release(strm, s);
    strm->state = Z_NULL;
    return Z_OK;
}

int inflateGetDictionary(z_streamp strm, Bytef* dictionary, uInt* dictLength) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (s->whave && dictionary) {
        std::memcpy(dictionary, s->window + s->wnext, s->whave - s->wnext);
        std::memcpy(dictionary + s->whave - s->wnext, s->window, s->wnext);
    }
    if (dictLength) *dictLength = s->whave;
    return Z_OK;
}

int inflateSetDictionary(z_streamp strm, const Bytef* dictionary, uInt dictLength) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (s->wrap != 0 && s->mode != InflateMode::Dict) return Z_STREAM_ERROR;
    if (s->mode == InflateMode::Dict) {
        Kel32u id = 1;
        if (dictLength) kelsAdler32_8u(dictionary, int(dictLength), &id);
        if (id != s->check) return Z_DATA_ERROR;
    }
    // A raw stream's wbits are known; a zlib stream's were set by its header before Z_NEED_DICT.
    if (!updateWindow(*s, strm, dictionary + dictLength, dictLength)) {
        s->mode = InflateMode::Mem;
        return Z_MEM_ERROR;
    }
    s->havedict = true;
    return Z_OK;
}

int inflateGetHeader(z_streamp strm, gz_headerp head) {
    InflateState* s = inflateStateOf(strm);
    if (!s || (s->wrap & 2) == 0) return Z_STREAM_ERROR;
    s->head = head;
    head->done = 0;
    return Z_OK;
}

int inflateSync(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (strm->avail_in == 0 && s->bits < 8) return Z_BUF_ERROR;
    if (s->mode != InflateMode::Sync) {
        // The search starts at the next byte boundary and includes the whole bytes still held.
        s->mode = InflateMode::Sync;
        s->hold >>= s->bits & 7;
        s->bits -= s->bits & 7;
        Kel8u held[4];
        unsigned len = 0;
        while (s->bits >= 8) {
            held[len++] = Kel8u(s->hold);
            s->hold >>= 8;
            s->bits -= 8;
        }
        s->have = 0;
        syncSearch(&s->have, held, len);
    }
    const unsigned len = syncSearch(&s->have, strm->next_in, strm->avail_in);
    strm->avail_in -= len;
    strm->next_in += len;
    strm->total_in += len;
    if (s->have != 4) return Z_DATA_ERROR;
    // Past a full flush no check value can be verified; a stream whose header was never read is taken as raw.
    if (s->flags == -1)
        s->wrap = 0;
    else
        s->wrap &= ~4;
    const int flags = s->flags;
    const uLong in = strm->total_in, out = strm->total_out;
    inflateReset(strm);
    strm->total_in = in;
    strm->total_out = out;
    s->flags = flags;
    s->mode = InflateMode::Type;
    return Z_OK;
}

int inflateSyncPoint(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    return s->mode == InflateMode::Stored && s->bits == 0;
}

int inflateCopy(z_streamp dest, z_streamp source) {
    InflateState* s = inflateStateOf(source);
    if (!s || !dest) return Z_STREAM_ERROR;
    void* memory = allocate(source, sizeof(InflateState));
    if (!memory) return Z_MEM_ERROR;
    Kel8u* window = nullptr;
    if (s->window) {
        window = static_cast<Kel8u*>(allocate(source, std::size_t(1) << s->wbits));
        if (!window) {
            release(source, memory);
            return Z_MEM_ERROR;
        }
        std::memcpy(window, s->window, std::size_t(1) << s->wbits);
    }
    std::memcpy(static_cast<void*>(dest), source, sizeof(z_stream));
    InflateState* copy = static_cast<InflateState*>(memory);
    std::memcpy(static_cast<void*>(copy), s, sizeof(InflateState));
    copy->strm = dest;
    copy->window = window;
    copy->stage = nullptr;  // scratch: made again when needed
    dest->state = copy;
    return Z_OK;
}

int inflatePrime(z_streamp strm, int bits, int value) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (bits < 0) {
        s->hold = 0;
        s->bits = 0;
        return Z_OK;
    }
    if (bits > 16 || s->bits + unsigned(bits) > 32) return Z_STREAM_ERROR;
    if (bits == 0) return Z_OK;
    const Kel32u v = Kel32u(value) & ((1u << bits) - 1);
    s->hold += v << s->bits;
    s->bits += unsigned(bits);
    return Z_OK;
}

// Upper 16 bits: bits back to the start of the current symbol, -1 outside a Huffman-coded block; lower: the
// stored bytes left to copy. The decoder reports symbol boundaries only, so inside a block the value is 0.
long inflateMark(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return -(1L << 16);
    return long(static_cast<unsigned long>(long(s->back)) << 16) + (s->mode == InflateMode::Copy ? long(s->length) : 0);
}

int inflateUndermine(z_streamp strm, int) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    return Z_DATA_ERROR;  // distances before the history are never allowed
}

int inflateValidate(z_streamp strm, int check) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return Z_STREAM_ERROR;
    if (check && s->wrap)
        s->wrap |= 4;
    else
        s->wrap &= ~4;
    return Z_OK;
}

// The code lengths of the dynamic blocks read since the last reset: a count that only grows.
unsigned long inflateCodesUsed(z_streamp strm) {
    InflateState* s = inflateStateOf(strm);
    if (!s) return static_cast<unsigned long>(-1);
    return s->codesUsed;
}

}  // extern "C"
