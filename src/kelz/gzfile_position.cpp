// src/kelz/gzfile_position.cpp - positions in a gzFile: gzseek, gzrewind, gztell, gzoffset.
//
// Positions count uncompressed bytes. A seek only records where the next transfer starts; the work waits for that
// transfer (or gzclose), so consecutive seeks cost nothing. Reading moves backwards by rewinding to where reading
// began and decoding forward again; a plain (copied) file moves with lseek instead. Writing moves only forwards,
// by compressing zeros. SEEK_END is refused: the end of compressed data is not known without decoding it all.
#include <unistd.h>

#include "kelz/gzfile_state.h"

using namespace kel::z::gzfile;

extern "C" {

int gzrewind(gzFile file) {
    GzFile* state = readerOf(file);
    if (!state || !readable(state)) return -1;
    if (lseek(state->fd, state->start, SEEK_SET) == -1) return -1;
    state->exposed.have = 0;
    state->exposed.pos = 0;
    state->inputEnded = false;
    state->pastEnd = false;
    state->seekPending = false;
    state->source = Source::Undecided;
    state->strm.avail_in = 0;
    setError(state, Z_OK, nullptr);
    return 0;
}

z_off64_t gzseek64(gzFile file, z_off64_t offset, int whence) {
    GzFile* state = fileOf(file);
    if (!state || !readable(state)) return -1;
    if (whence != SEEK_SET && whence != SEEK_CUR) return -1;
    gzFile_s& x = state->exposed;
    // From here on `offset` is relative to the position the caller last saw (pending skip included).
    if (whence == SEEK_SET)
        offset -= x.pos;
    else if (state->seekPending)
        offset += state->skip;
    state->seekPending = false;

    const bool reading = state->direction == Direction::Read;
    if (reading && state->source == Source::Copy && x.pos + offset >= 0) {
        // The file is the data: move the descriptor, accounting for the bytes read ahead into the buffer.
        if (lseek(state->fd, offset - static_cast<z_off64_t>(x.have), SEEK_CUR) == -1) return -1;
        x.have = 0;
        state->inputEnded = false;
        state->pastEnd = false;
        state->strm.avail_in = 0;
        setError(state, Z_OK, nullptr);
        x.pos += offset;
        return x.pos;
    }
    if (offset < 0) {
        if (!reading) return -1;
        offset += x.pos;
        if (offset < 0) return -1;
        if (gzrewind(file) == -1) return -1;
    }
    if (reading) {
        // What is decoded already covers the start of the skip.
        const unsigned n = static_cast<z_off64_t>(x.have) > offset ? static_cast<unsigned>(offset) : x.have;
        x.have -= n;
        x.next += n;
        x.pos += n;
        offset -= n;
    }
    if (offset) {
        state->seekPending = true;
        state->skip = offset;
    }
    return x.pos + offset;
}

z_off_t gzseek(gzFile file, z_off_t offset, int whence) {
    const z_off64_t position = gzseek64(file, offset, whence);
    return position == static_cast<z_off_t>(position) ? static_cast<z_off_t>(position) : -1;
}

z_off64_t gztell64(gzFile file) {
    GzFile* state = fileOf(file);
    if (!state) return -1;
    return state->exposed.pos + (state->seekPending ? state->skip : 0);
}

z_off_t gztell(gzFile file) {
    const z_off64_t position = gztell64(file);
    return position == static_cast<z_off_t>(position) ? static_cast<z_off_t>(position) : -1;
}

z_off64_t gzoffset64(gzFile file) {
    GzFile* state = fileOf(file);
    if (!state) return -1;
    z_off64_t offset = lseek(state->fd, 0, SEEK_CUR);
    if (offset == -1) return -1;
    // Input read ahead but not yet decoded is not part of the position.
    if (state->direction == Direction::Read) offset -= state->strm.avail_in;
    return offset;
}

z_off_t gzoffset(gzFile file) {
    const z_off64_t offset = gzoffset64(file);
    return offset == static_cast<z_off_t>(offset) ? static_cast<z_off_t>(offset) : -1;
}

}  // extern "C"
