// src/kelz/gzfile_write.cpp - writing a gzFile: data gathered in `in`, compressed into gzip members.
//
// Small writes collect in `in` until it holds `size` bytes, so that a program writing a byte at a time does not
// call deflate per byte; a write at least that large is compressed straight from the caller's buffer. Compressed
// bytes reach the file when `out` fills or a flush asks for them. After Z_FINISH (gzflush or gzclose) the member
// is complete and the next data starts a new one; a member is never started without data, so gzflush(Z_FINISH)
// followed by gzclose writes one member, while a file closed with nothing written gets one empty member (a valid,
// empty gzip file). 'T' mode writes the data as it is, through the same buffering.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelz/gzfile_state.h"

namespace kel::z::gzfile {

namespace {

int writeFile(GzFile* state, const unsigned char* src, std::size_t count) {
    while (count) {
        // write() takes at most about 2 GB at a time on Linux; 1 GB keeps each call well inside that.
        const std::size_t chunk = count < (1u << 30) ? count : (1u << 30);
        const ssize_t n = write(state->fd, src, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(state, Z_ERRNO, std::strerror(errno));
            return -1;
        }
        src += n;
        count -= static_cast<std::size_t>(n);
    }
    return 0;
}

int makeBuffers(GzFile* state) {
    const unsigned size = state->bufferSize;
    // Twice the size: gzprintf formats up to `size` bytes behind at most `size` pending ones.
    state->in = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size) * 2));
    if (!state->in) {
        setError(state, Z_MEM_ERROR, "out of memory");
        return -1;
    }
    std::memset(&state->strm, 0, sizeof(state->strm));
    if (!state->direct) {
        state->out = static_cast<unsigned char*>(std::malloc(size));
        // 16 + 15: a gzip wrapper around a 32 KiB window; memory level 8 is deflate's default.
        if (!state->out ||
            deflateInit2(&state->strm, state->level, Z_DEFLATED, 16 + MAX_WBITS, 8, state->strategy) != Z_OK) {
            std::free(state->in);
            std::free(state->out);
            state->in = state->out = nullptr;
            setError(state, Z_MEM_ERROR, "out of memory");
            return -1;
        }
        state->streamReady = true;
        state->strm.next_out = state->out;
        state->strm.avail_out = size;
    }
    state->strm.next_in = state->in;
    state->strm.avail_in = 0;
    state->size = size;
    return 0;
}

// Compresses all pending input with `flush`; anything but Z_NO_FLUSH also writes out what is compressed.
int compressPending(GzFile* state, int flush) {
    if (state->size == 0 && makeBuffers(state) == -1) return -1;
    z_stream& strm = state->strm;
    if (state->direct) {
        if (writeFile(state, strm.next_in, strm.avail_in) == -1) return -1;
        strm.next_in = state->in;
        strm.avail_in = 0;
        return 0;
    }
    if (state->memberEnded) {
        if (strm.avail_in == 0) return 0;
        deflateReset(&strm);
        state->memberEnded = false;
    }
    for (;;) {
        if (strm.avail_out == 0) {
            if (writeFile(state, state->out, state->size) == -1) return -1;
            strm.next_out = state->out;
            strm.avail_out = state->size;
        }
        const uInt inBefore = strm.avail_in;
        const uInt outBefore = strm.avail_out;
        const int ret = deflate(&strm, flush);
        if (ret == Z_STREAM_ERROR) {
            setError(state, Z_STREAM_ERROR, "internal error: deflate stream corrupt");
            return -1;
        }
        if (strm.avail_out == 0) continue;
        // With output room left, deflate has taken all the input and finished the flush, or ended the member.
        // The progress check only guards against looping on an engine that stops short.
        const bool progress = strm.avail_in != inBefore || strm.avail_out != outBefore;
        if (progress && ((flush == Z_FINISH && ret != Z_STREAM_END) || strm.avail_in)) continue;
        break;
    }
    if (flush != Z_NO_FLUSH) {
        if (writeFile(state, state->out, static_cast<std::size_t>(strm.next_out - state->out)) == -1) return -1;
        strm.next_out = state->out;
        strm.avail_out = state->size;
    }
    if (flush == Z_FINISH) state->memberEnded = true;
    if (strm.avail_in == 0) strm.next_in = state->in;
    return 0;
}

// The zeros of a forward seek, first settled if one is pending. -1 after an error.
int settleSeek(GzFile* state) {
    if (!state->seekPending) return 0;
    state->seekPending = false;
    return writeZeros(state, state->skip);
}

// Accepts `count` bytes; returns how many, 0 after an error.
std::size_t writeData(GzFile* state, const unsigned char* src, std::size_t count) {
    if (count == 0) return 0;
    if (state->size == 0 && makeBuffers(state) == -1) return 0;
    if (settleSeek(state) == -1) return 0;
    z_stream& strm = state->strm;
    const std::size_t accepted = count;
    if (count < state->size) {
        // Pending input always starts at `in`: every compression takes all of it.
        while (count) {
            const unsigned pending = strm.avail_in;
            const unsigned n = static_cast<unsigned>(count < state->size - pending ? count : state->size - pending);
            std::memcpy(state->in + pending, src, n);
            strm.avail_in += n;
            state->exposed.pos += n;
            src += n;
            count -= n;
            if (count && compressPending(state, Z_NO_FLUSH) == -1) return 0;
        }
    } else {
        if (strm.avail_in && compressPending(state, Z_NO_FLUSH) == -1) return 0;
        while (count) {
            const unsigned n = count > UINT_MAX ? UINT_MAX : static_cast<unsigned>(count);
            strm.next_in = const_cast<unsigned char*>(src);
            strm.avail_in = n;
            state->exposed.pos += n;
            if (compressPending(state, Z_NO_FLUSH) == -1) return 0;
            src += n;
            count -= n;
        }
        strm.next_in = state->in;
    }
    return accepted;
}

bool writable(const GzFile* state) {
    return state->err == Z_OK;
}

}  // namespace

int writeZeros(GzFile* state, z_off64_t count) {
    if (state->size == 0 && makeBuffers(state) == -1) return -1;
    z_stream& strm = state->strm;
    if (strm.avail_in && compressPending(state, Z_NO_FLUSH) == -1) return -1;
    bool zeroed = false;
    while (count) {
        const unsigned n = static_cast<z_off64_t>(state->size) < count ? state->size : static_cast<unsigned>(count);
        if (!zeroed) {
            std::memset(state->in, 0, n);
            zeroed = true;
        }
        strm.next_in = state->in;
        strm.avail_in = n;
        state->exposed.pos += n;
        if (compressPending(state, Z_NO_FLUSH) == -1) return -1;
        count -= n;
    }
    return 0;
}

}  // namespace kel::z::gzfile

using namespace kel::z::gzfile;

extern "C" {

int gzwrite(gzFile file, voidpc buf, unsigned len) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return 0;
    if (len > INT_MAX) {
        setError(state, Z_DATA_ERROR, "requested length does not fit in int");
        return 0;
    }
    return static_cast<int>(writeData(state, static_cast<const unsigned char*>(buf), len));
}

z_size_t gzfwrite(voidpc buf, z_size_t size, z_size_t nitems, gzFile file) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return 0;
    const z_size_t total = size * nitems;
    if (size && total / size != nitems) {
        setError(state, Z_STREAM_ERROR, "request does not fit in a size_t");
        return 0;
    }
    return total ? writeData(state, static_cast<const unsigned char*>(buf), total) / size : 0;
}

int gzputc(gzFile file, int c) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return -1;
    if (settleSeek(state) == -1) return -1;
    z_stream& strm = state->strm;
    if (state->size && strm.avail_in < state->size) {
        state->in[strm.avail_in++] = static_cast<unsigned char>(c);
        state->exposed.pos++;
        return c & 0xff;
    }
    const unsigned char byte = static_cast<unsigned char>(c);
    return writeData(state, &byte, 1) == 1 ? c & 0xff : -1;
}

int gzputs(gzFile file, const char* s) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return -1;
    const std::size_t len = std::strlen(s);
    if (len > INT_MAX) {
        setError(state, Z_STREAM_ERROR, "string length does not fit in int");
        return -1;
    }
    const std::size_t put = writeData(state, reinterpret_cast<const unsigned char*>(s), len);
    return put < len ? -1 : static_cast<int>(len);
}

int gzvprintf(gzFile file, const char* format, va_list va) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return Z_STREAM_ERROR;
    if (state->size == 0 && makeBuffers(state) == -1) return state->err;
    if (settleSeek(state) == -1) return state->err;
    z_stream& strm = state->strm;
    const unsigned size = state->size;
    char* text = reinterpret_cast<char*>(state->in) + strm.avail_in;
    // A formatted text of `size` bytes or more is refused whole, with nothing written (the documented limit is
    // one less than the buffer size); the sentinel catches a vsnprintf that overran without saying so.
    text[size - 1] = '\0';
    const int len = std::vsnprintf(text, size, format, va);
    if (len <= 0 || static_cast<unsigned>(len) >= size || text[size - 1] != '\0') return 0;
    strm.avail_in += static_cast<unsigned>(len);
    state->exposed.pos += len;
    if (strm.avail_in >= size) {
        const unsigned overflow = strm.avail_in - size;
        strm.avail_in = size;
        if (compressPending(state, Z_NO_FLUSH) == -1) return state->err;
        std::memmove(state->in, state->in + size, overflow);
        strm.next_in = state->in;
        strm.avail_in = overflow;
    }
    return len;
}

int gzprintf(gzFile file, const char* format, ...) {
    va_list va;
    va_start(va, format);
    const int result = gzvprintf(file, format, va);
    va_end(va);
    return result;
}

int gzflush(gzFile file, int flush) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return Z_STREAM_ERROR;
    if (flush < 0 || flush > Z_FINISH) return Z_STREAM_ERROR;
    if (settleSeek(state) == -1) return state->err;
    compressPending(state, flush);
    return state->err;
}

int gzsetparams(gzFile file, int level, int strategy) {
    GzFile* state = writerOf(file);
    if (!state || !writable(state)) return Z_STREAM_ERROR;
    if (level == state->level && strategy == state->strategy) return Z_OK;
    if (settleSeek(state) == -1) return state->err;
    // Data given so far is compressed with the parameters it was given under; before the first write there is
    // no stream yet and makeBuffers() starts it with the new ones.
    if (state->size && !state->direct) {
        if (state->strm.avail_in && compressPending(state, Z_BLOCK) == -1) return state->err;
        deflateParams(&state->strm, level, strategy);
    }
    state->level = level;
    state->strategy = strategy;
    return Z_OK;
}

int gzclose_w(gzFile file) {
    GzFile* state = writerOf(file);
    if (!state) return Z_STREAM_ERROR;
    int result = Z_OK;
    if (settleSeek(state) == -1) result = state->err;
    if (compressPending(state, Z_FINISH) == -1) result = state->err;
    return destroy(state, result);
}

}  // extern "C"
