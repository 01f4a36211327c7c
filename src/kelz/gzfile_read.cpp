// src/kelz/gzfile_read.cpp - reading a gzFile: gzip members decoded one after another, or a plain file copied.
//
// The file is examined where data starts and after each member ends: a gzip header (1f 8b) starts a member that
// inflate decodes (it checks the header and trailer itself); anything else is copied as the data when it is at
// the start of the file, and ignored as trailing garbage after a member. Decoded bytes wait in `out` and are
// handed out through the exposed {have, next, pos}, which zlib.h's gzgetc macro also consumes. A request at least
// as large as `out` is decoded (or read) straight into the caller's buffer, skipping the copy.
//
// A member cut short delivers what it decodes, then Z_BUF_ERROR "unexpected end of file": not a failure of the
// read (the file may still be growing, and gzclearerr lets a reader try again), but gzclose reports it.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "kelz/gzfile_state.h"

namespace kel::z::gzfile {

namespace {

// read() until `count` bytes or the end of the file; sets inputEnded at the end. -1 after a read error.
int readFile(GzFile* state, unsigned char* dst, unsigned count, unsigned* got) {
    *got = 0;
    while (*got < count) {
        // read() takes at most about 2 GB at a time on Linux; 1 GB keeps each call well inside that.
        const unsigned chunk = count - *got < (1u << 30) ? count - *got : (1u << 30);
        const ssize_t n = read(state->fd, dst + *got, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            setError(state, Z_ERRNO, std::strerror(errno));
            return -1;
        }
        if (n == 0) {
            state->inputEnded = true;
            break;
        }
        *got += static_cast<unsigned>(n);
    }
    return 0;
}

// Tops up `in` behind the unused input. -1 after an error.
int refillInput(GzFile* state) {
    if (!readable(state)) return -1;
    if (state->inputEnded) return 0;
    z_stream& strm = state->strm;
    if (strm.avail_in) std::memmove(state->in, strm.next_in, strm.avail_in);
    unsigned got;
    if (readFile(state, state->in + strm.avail_in, state->size - strm.avail_in, &got) == -1) return -1;
    strm.avail_in += got;
    strm.next_in = state->in;
    return 0;
}

int makeBuffers(GzFile* state) {
    const unsigned size = state->bufferSize;
    state->in = static_cast<unsigned char*>(std::malloc(size));
    state->out = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(size) * 2));
    std::memset(&state->strm, 0, sizeof(state->strm));
    // 16 + 15: a gzip wrapper with a window of any size up to 32 KiB.
    if (!state->in || !state->out || inflateInit2(&state->strm, 16 + MAX_WBITS) != Z_OK) {
        std::free(state->in);
        std::free(state->out);
        state->in = state->out = nullptr;
        setError(state, Z_MEM_ERROR, "out of memory");
        return -1;
    }
    state->streamReady = true;
    state->size = size;
    state->strm.avail_in = 0;
    state->strm.next_in = nullptr;
    return 0;
}

// Inflates into strm.next_out until it is full or the member ends; the bytes made become the exposed ones.
int inflateMore(GzFile* state) {
    z_stream& strm = state->strm;
    const unsigned room = strm.avail_out;
    int ret = Z_OK;
    do {
        if (strm.avail_in == 0 && refillInput(state) == -1) return -1;
        if (strm.avail_in == 0) {
            setError(state, Z_BUF_ERROR, "unexpected end of file");
            break;
        }
        ret = inflate(&strm, Z_NO_FLUSH);
        if (ret == Z_STREAM_ERROR || ret == Z_NEED_DICT) {
            setError(state, Z_STREAM_ERROR, "internal error: inflate stream corrupt");
            return -1;
        }
        if (ret == Z_MEM_ERROR) {
            setError(state, Z_MEM_ERROR, "out of memory");
            return -1;
        }
        if (ret == Z_DATA_ERROR) {
            setError(state, Z_DATA_ERROR, strm.msg ? strm.msg : "compressed data error");
            return -1;
        }
    } while (strm.avail_out && ret != Z_STREAM_END);
    state->exposed.have = room - strm.avail_out;
    state->exposed.next = strm.next_out - state->exposed.have;
    if (ret == Z_STREAM_END) state->source = Source::Undecided;
    return 0;
}

// Makes decoded bytes available in `out` (exposed.have > 0) unless the input is exhausted. -1 after an error.
int fetch(GzFile* state) {
    z_stream& strm = state->strm;
    do {
        switch (state->source) {
            case Source::Undecided:
                if (examineInput(state) == -1) return -1;
                if (state->source == Source::Undecided) return 0;
                break;
            case Source::Copy: {
                unsigned got;
                if (readFile(state, state->out, state->size * 2, &got) == -1) return -1;
                state->exposed.have = got;
                state->exposed.next = state->out;
                return 0;
            }
            case Source::Gzip:
                strm.avail_out = state->size * 2;
                strm.next_out = state->out;
                if (inflateMore(state) == -1) return -1;
                break;
        }
    } while (state->exposed.have == 0 && (!state->inputEnded || strm.avail_in));
    return 0;
}

// Delivers up to `count` bytes into dst; returns how many, 0 after an error (which the caller reads from err).
std::size_t readInto(GzFile* state, unsigned char* dst, std::size_t count) {
    if (count == 0) return 0;
    if (state->seekPending) {
        state->seekPending = false;
        if (skipAhead(state, state->skip) == -1) return 0;
    }
    gzFile_s& x = state->exposed;
    std::size_t delivered = 0;
    do {
        // z_stream counts in unsigned, so a huge request goes in pieces.
        unsigned n = count > UINT_MAX ? UINT_MAX : static_cast<unsigned>(count);
        if (x.have) {
            if (n > x.have) n = x.have;
            std::memcpy(dst, x.next, n);
            x.next += n;
            x.have -= n;
        } else if (state->inputEnded && state->strm.avail_in == 0) {
            state->pastEnd = true;
            break;
        } else if (state->source == Source::Undecided || n < state->size * 2) {
            if (fetch(state) == -1) return 0;
            continue;
        } else if (state->source == Source::Copy) {
            if (readFile(state, dst, n, &n) == -1) return 0;
        } else {
            state->strm.avail_out = n;
            state->strm.next_out = dst;
            if (inflateMore(state) == -1) return 0;
            n = x.have;
            x.have = 0;
        }
        count -= n;
        dst += n;
        delivered += n;
        x.pos += n;
    } while (count);
    return delivered;
}

}  // namespace

int examineInput(GzFile* state) {
    if (state->size == 0 && makeBuffers(state) == -1) return -1;
    z_stream& strm = state->strm;
    if (strm.avail_in < 2) {
        if (refillInput(state) == -1) return -1;
        if (strm.avail_in == 0) return 0;
    }
    if (strm.avail_in > 1 && strm.next_in[0] == 0x1f && strm.next_in[1] == 0x8b) {
        inflateReset(&strm);
        state->source = Source::Gzip;
        state->direct = false;
        return 0;
    }
    if (!state->direct) {
        // Not a member after a member: trailing garbage, which ends the data without an error.
        strm.avail_in = 0;
        state->inputEnded = true;
        state->exposed.have = 0;
        return 0;
    }
    // Not gzip from the start: the bytes read so far are data (`in` is no larger than half of `out`).
    std::memcpy(state->out, strm.next_in, strm.avail_in);
    state->exposed.next = state->out;
    state->exposed.have = strm.avail_in;
    strm.avail_in = 0;
    state->source = Source::Copy;
    state->direct = true;
    return 0;
}

int skipAhead(GzFile* state, z_off64_t count) {
    gzFile_s& x = state->exposed;
    while (count) {
        if (x.have) {
            const unsigned n = static_cast<z_off64_t>(x.have) > count ? static_cast<unsigned>(count) : x.have;
            x.have -= n;
            x.next += n;
            x.pos += n;
            count -= n;
        } else if (state->inputEnded && state->strm.avail_in == 0) {
            break;
        } else if (fetch(state) == -1) {
            return -1;
        }
    }
    return 0;
}

}  // namespace kel::z::gzfile

using namespace kel::z::gzfile;

extern "C" {

int gzread(gzFile file, voidp buf, unsigned len) {
    GzFile* state = readerOf(file);
    if (!state || !readable(state)) return -1;
    if (len > INT_MAX) {
        setError(state, Z_STREAM_ERROR, "request does not fit in an int");
        return -1;
    }
    const std::size_t n = readInto(state, static_cast<unsigned char*>(buf), len);
    if (n == 0 && !readable(state)) return -1;
    return static_cast<int>(n);
}

z_size_t gzfread(voidp buf, z_size_t size, z_size_t nitems, gzFile file) {
    GzFile* state = readerOf(file);
    if (!state || !readable(state)) return 0;
    const z_size_t total = size * nitems;
    if (size && total / size != nitems) {
        setError(state, Z_STREAM_ERROR, "request does not fit in a size_t");
        return 0;
    }
    return total ? readInto(state, static_cast<unsigned char*>(buf), total) / size : 0;
}

// zlib.h also defines gzgetc as a macro that takes buffered bytes itself; the parentheses name the function.
int(gzgetc)(gzFile file) {
    GzFile* state = readerOf(file);
    if (!state || !readable(state)) return -1;
    gzFile_s& x = state->exposed;
    if (x.have) {
        x.have--;
        x.pos++;
        return *x.next++;
    }
    unsigned char c;
    return readInto(state, &c, 1) == 1 ? c : -1;
}

int gzgetc_(gzFile file) {
    return (gzgetc)(file);
}

int gzungetc(int c, gzFile file) {
    GzFile* state = readerOf(file);
    if (!state || !readable(state)) return -1;
    if (state->seekPending) {
        state->seekPending = false;
        if (skipAhead(state, state->skip) == -1) return -1;
    }
    if (c < 0) return -1;
    gzFile_s& x = state->exposed;
    // Just opened: examining the file first makes the buffers and keeps the pushed byte ahead of the file's.
    if (state->source == Source::Undecided && x.have == 0 && examineInput(state) == -1) return -1;
    if (state->size == 0) return -1;
    const unsigned capacity = state->size * 2;
    unsigned char* end = state->out + capacity;
    if (x.have == 0) {
        x.next = end - 1;
    } else {
        if (x.have == capacity) {
            setError(state, Z_DATA_ERROR, "out of room to push characters");
            return -1;
        }
        // Pushed bytes go in front of the waiting ones; move those to the end of `out` to make room.
        if (x.next == state->out) {
            std::memmove(end - x.have, x.next, x.have);
            x.next = end - x.have;
        }
        x.next--;
    }
    *x.next = static_cast<unsigned char>(c);
    x.have++;
    x.pos--;
    state->pastEnd = false;
    return c & 0xff;
}

char* gzgets(gzFile file, char* buf, int len) {
    GzFile* state = readerOf(file);
    if (!state || !buf || len < 1 || !readable(state)) return nullptr;
    if (state->seekPending) {
        state->seekPending = false;
        if (skipAhead(state, state->skip) == -1) return nullptr;
    }
    gzFile_s& x = state->exposed;
    const unsigned room = static_cast<unsigned>(len) - 1;
    unsigned left = room;
    char* dst = buf;
    while (left) {
        if (x.have == 0 && fetch(state) == -1) return nullptr;
        if (x.have == 0) {
            state->pastEnd = true;
            break;
        }
        unsigned n = x.have < left ? x.have : left;
        const void* newline = std::memchr(x.next, '\n', n);
        if (newline) n = static_cast<unsigned>(static_cast<const unsigned char*>(newline) - x.next) + 1;
        std::memcpy(dst, x.next, n);
        x.have -= n;
        x.next += n;
        x.pos += n;
        left -= n;
        dst += n;
        if (newline) break;
    }
    // Nothing read (end of file, or len 1): the buffer stays as it was.
    if (left == room) return nullptr;
    *dst = '\0';
    return buf;
}

int gzclose_r(gzFile file) {
    GzFile* state = readerOf(file);
    if (!state) return Z_STREAM_ERROR;
    return destroy(state, state->err == Z_BUF_ERROR ? Z_BUF_ERROR : Z_OK);
}

}  // extern "C"
