// src/kelz/gzfile_open.cpp - opening and closing gzFile handles, their error state and flags.
//
// gzopen's mode string is read letter by letter: one of r/w/a is required, '+' is refused (one handle never both
// reads and writes), a digit sets the level, f/h/R/F the strategy, T transparent writing, x exclusive creation,
// e close-on-exec; any other letter (b, a trailing space) is ignored, as stdio users expect.
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kelz/gzfile_state.h"

namespace kel::z::gzfile {

void setError(GzFile* state, int err, const char* text) {
    std::free(state->message);
    state->message = nullptr;
    if (err != Z_OK && err != Z_BUF_ERROR) state->exposed.have = 0;
    state->err = err;
    if (!text || err == Z_MEM_ERROR) return;
    const std::size_t pathLen = std::strlen(state->path);
    const std::size_t textLen = std::strlen(text);
    char* message = static_cast<char*>(std::malloc(pathLen + 2 + textLen + 1));
    if (!message) {
        state->err = Z_MEM_ERROR;
        return;
    }
    std::memcpy(message, state->path, pathLen);
    std::memcpy(message + pathLen, ": ", 2);
    std::memcpy(message + pathLen + 2, text, textLen + 1);
    state->message = message;
}

int destroy(GzFile* state, int result) {
    if (state->streamReady) {
        if (state->direction == Direction::Read)
            inflateEnd(&state->strm);
        else
            deflateEnd(&state->strm);
    }
    std::free(state->in);
    std::free(state->out);
    std::free(state->message);
    std::free(state->path);
    const int closed = close(state->fd);
    // A stale handle must not pass fileOf() if the memory is reused before a mistaken second close.
    state->direction = Direction{};
    std::free(state);
    return closed == -1 ? Z_ERRNO : result;
}

namespace {

struct OpenRequest {
    Direction direction;
    bool append = false;
    bool exclusive = false;
    bool closeOnExec = false;
    bool transparent = false;
    int level = Z_DEFAULT_COMPRESSION;
    int strategy = Z_DEFAULT_STRATEGY;
};

// False for a mode zlib refuses: no r/w/a, a '+', or transparent reading (reading finds that out by itself).
bool parseMode(const char* mode, OpenRequest& request) {
    bool haveDirection = false;
    for (const char* c = mode; *c; ++c) {
        if (*c >= '0' && *c <= '9') {
            request.level = *c - '0';
            continue;
        }
        switch (*c) {
            case 'r':
                request.direction = Direction::Read;
                request.append = false;
                haveDirection = true;
                break;
            case 'w':
                request.direction = Direction::Write;
                request.append = false;
                haveDirection = true;
                break;
            case 'a':
                request.direction = Direction::Write;
                request.append = true;
                haveDirection = true;
                break;
            case '+':
                return false;
            case 'x':
                request.exclusive = true;
                break;
            case 'e':
                request.closeOnExec = true;
                break;
            case 'f':
                request.strategy = Z_FILTERED;
                break;
            case 'h':
                request.strategy = Z_HUFFMAN_ONLY;
                break;
            case 'R':
                request.strategy = Z_RLE;
                break;
            case 'F':
                request.strategy = Z_FIXED;
                break;
            case 'T':
                request.transparent = true;
                break;
            default:
                break;
        }
    }
    return haveDirection && !(request.direction == Direction::Read && request.transparent);
}

int openFlags(const OpenRequest& request) {
    int flags = O_LARGEFILE;
    if (request.closeOnExec) flags |= O_CLOEXEC;
    if (request.direction == Direction::Read) return flags | O_RDONLY;
    flags |= O_WRONLY | O_CREAT | (request.append ? O_APPEND : O_TRUNC);
    if (request.exclusive) flags |= O_EXCL;
    return flags;
}

// Takes ownership of `path` (malloc'd); opens it unless fd is given (not -1). Null on any failure, with `path`
// freed and a given fd left open, as gzdopen's callers expect.
gzFile openHandle(char* path, int fd, const char* mode) {
    OpenRequest request;
    if (!mode || !parseMode(mode, request)) {
        std::free(path);
        return nullptr;
    }
    auto* state = static_cast<GzFile*>(std::calloc(1, sizeof(GzFile)));
    if (!state) {
        std::free(path);
        return nullptr;
    }
    if (fd == -1) fd = open(path, openFlags(request), 0666);
    if (fd == -1) {
        std::free(state);
        std::free(path);
        return nullptr;
    }
    state->direction = request.direction;
    state->fd = fd;
    state->path = path;
    state->bufferSize = kDefaultBufferSize;
    state->level = request.level;
    state->strategy = request.strategy;
    state->direct = request.direction == Direction::Read || request.transparent;
    state->source = Source::Undecided;
    state->err = Z_OK;
    if (request.append) lseek(fd, 0, SEEK_END);
    // gzdopen may get a descriptor in the middle of a file: rewinding returns there, not to offset 0.
    state->start = lseek(fd, 0, SEEK_CUR);
    if (state->start == -1) state->start = 0;
    return reinterpret_cast<gzFile>(state);
}

char* copyPath(const char* path) {
    const std::size_t n = std::strlen(path) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy) std::memcpy(copy, path, n);
    return copy;
}

}  // namespace

}  // namespace kel::z::gzfile

using namespace kel::z::gzfile;

extern "C" {

gzFile gzopen(const char* path, const char* mode) {
    if (!path) return nullptr;
    char* copy = copyPath(path);
    return copy ? openHandle(copy, -1, mode) : nullptr;
}

gzFile gzopen64(const char* path, const char* mode) {
    return gzopen(path, mode);
}

gzFile gzdopen(int fd, const char* mode) {
    if (fd == -1) return nullptr;
    constexpr std::size_t kNameSize = sizeof("<fd:>") + 3 * sizeof(int);
    char* name = static_cast<char*>(std::malloc(kNameSize));
    if (!name) return nullptr;
    std::snprintf(name, kNameSize, "<fd:%d>", fd);
    // A descriptor given here is opened already, so openHandle must not open `name`; -1 is never a valid fd.
    return openHandle(name, fd, mode);
}

int gzbuffer(gzFile file, unsigned size) {
    GzFile* state = fileOf(file);
    if (!state || state->size != 0) return -1;
    // Reading keeps twice the size for output, so the doubled size must fit in an unsigned.
    if ((size << 1) < size) return -1;
    // gzprintf needs room for at least one byte and its terminating null.
    state->bufferSize = size < 2 ? 2 : size;
    return 0;
}

int gzclose(gzFile file) {
    GzFile* state = fileOf(file);
    if (!state) return Z_STREAM_ERROR;
    return state->direction == Direction::Read ? gzclose_r(file) : gzclose_w(file);
}

const char* gzerror(gzFile file, int* errnum) {
    GzFile* state = fileOf(file);
    if (!state) return nullptr;
    if (errnum) *errnum = state->err;
    if (state->err == Z_MEM_ERROR) return "out of memory";
    return state->message ? state->message : "";
}

void gzclearerr(gzFile file) {
    GzFile* state = fileOf(file);
    if (!state) return;
    if (state->direction == Direction::Read) {
        state->inputEnded = false;
        state->pastEnd = false;
    }
    setError(state, Z_OK, nullptr);
}

int gzeof(gzFile file) {
    GzFile* state = fileOf(file);
    return state && state->direction == Direction::Read && state->pastEnd ? 1 : 0;
}

int gzdirect(gzFile file) {
    GzFile* state = fileOf(file);
    if (!state) return 0;
    // Before the first read nothing is known yet: look at the file now (this makes the buffers).
    if (state->direction == Direction::Read && state->source == Source::Undecided && state->exposed.have == 0)
        examineInput(state);
    return state->direct ? 1 : 0;
}

}  // extern "C"
