// src/kelz/gzfile_state.h - the state behind a gzFile handle, shared by the open, read, write and position calls.
//
// A handle is one direction for its whole life: reading decodes a sequence of gzip members (or copies a file that
// is not gzip), writing compresses into one member at a time. Both directions work through two buffers allocated
// at the first transfer (so that gzbuffer can still change their size): reading keeps `bufferSize` bytes of file
// input and twice that of decoded output (the spare half is room for gzungetc); writing keeps twice `bufferSize`
// of pending input (gzprintf formats into the half after what is pending) and `bufferSize` of compressed output.
//
// The library's own deflate and inflate do the coding; files go through open/read/write/lseek/close and memory
// through malloc/free, as the interface promises (the handle has no allocator hooks).
#pragma once

#include "kelz/kelz_internal.h"

namespace kel::z::gzfile {

enum class Direction : std::uint8_t { Read = 0x52, Write = 0x57 };

// What reading does with the bytes of the file, decided at the start and again after each gzip member.
enum class Source : std::uint8_t {
    Undecided,  // next bytes not examined yet: a gzip header starts a member, anything else is copied or ignored
    Copy,       // the file is not gzip: its bytes are the data
    Gzip,       // inside a member: bytes go through inflate
};

constexpr unsigned kDefaultBufferSize = 8192;

struct GzFile {
    // zlib.h's gzgetc macro reads and advances this in the caller's code, so it stays first and stays exact:
    // while reading, `have` bytes at `next` are decoded and not yet delivered, and `pos` counts the bytes
    // delivered. While writing, `have` stays 0 (the macro then calls gzgetc, which refuses) and `pos` counts the
    // bytes accepted.
    gzFile_s exposed;

    Direction direction;
    int fd;
    char* path;  // as given, or "<fd:N>" for gzdopen; the prefix of every error message

    unsigned bufferSize;  // what gzbuffer asked for
    unsigned size;        // the size the buffers were made with; 0 until the first transfer makes them
    unsigned char* in;
    unsigned char* out;
    z_stream strm;
    bool streamReady;  // strm went through deflateInit2 or inflateInit2 and needs its End call

    int level;
    int strategy;
    // Reading: the data is the file's bytes rather than decoded gzip; starts true, so an empty file is "direct".
    // Writing: 'T' asked for the bytes to go to the file as they are.
    bool direct;

    Source source;
    bool inputEnded;   // read() has returned 0: the file has no more bytes for now
    bool pastEnd;      // a read asked for more than was left: what gzeof reports
    bool memberEnded;  // writing: Z_FINISH closed the member; the next data starts another

    z_off64_t start;  // file offset where reading began, for rewinding
    bool seekPending;
    z_off64_t skip;  // bytes to skip (reading) or zeros to write (writing) before the next transfer

    int err;
    char* message;  // "path: text" for err, or null
};

// The handle's state if it is one of ours in a usable direction, else null.
inline GzFile* fileOf(gzFile file) {
    auto* state = reinterpret_cast<GzFile*>(file);
    if (!state || (state->direction != Direction::Read && state->direction != Direction::Write)) return nullptr;
    return state;
}

inline GzFile* readerOf(gzFile file) {
    GzFile* state = fileOf(file);
    return state && state->direction == Direction::Read ? state : nullptr;
}

inline GzFile* writerOf(gzFile file) {
    GzFile* state = fileOf(file);
    return state && state->direction == Direction::Write ? state : nullptr;
}

// A reader may go on after Z_BUF_ERROR (a truncated member: the file may still be growing); any other error stops
// every transfer until gzclearerr.
inline bool readable(const GzFile* state) {
    return state->err == Z_OK || state->err == Z_BUF_ERROR;
}

// Records err with "path: text" (text null: no message). A hard error drops decoded bytes not yet delivered, as
// they may be wrong. Z_MEM_ERROR keeps no message of its own, since making one could fail too.
void setError(GzFile* state, int err, const char* text);

// Reading: skips `count` decoded bytes (the pending part of a forward seek); -1 after an error.
int skipAhead(GzFile* state, z_off64_t count);

// Reading: decides what the file holds from its next bytes; makes the buffers on first use. -1 after an error.
int examineInput(GzFile* state);

// Writing: appends `count` zero bytes (the pending part of a forward seek); -1 after an error.
int writeZeros(GzFile* state, z_off64_t count);

// Releases the handle's memory and closes its descriptor; Z_ERRNO if close fails, else `result`.
int destroy(GzFile* state, int result);

}  // namespace kel::z::gzfile
