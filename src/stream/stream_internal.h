// src/stream/stream_internal.h - the machinery every format of libkelstream shares: the allocator, owned buffers,
// and the Engine each format implements per direction.
//
// The library is C++ without its runtime: no exceptions, no RTTI, no operator new or delete, nothing from
// libstdc++ that is not header-only. Objects are built with placement new in memory from the stream's allocator
// (make/dispose below) and buffers grow through Bytes/Array, whose growth reports failure instead of throwing.
// Engines are polymorphic through virtual functions with defaults (no pure virtuals, which would need the C++
// runtime's __cxa_pure_virtual) and a non-virtual destructor: dispose() runs the concrete destructor through
// EngineOf<T>::destroy(), so no deleting destructor (and no operator delete) is ever referenced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "kelstream.h"

namespace kel::stream {

// The caller's allocator hooks, or malloc/free.
struct Allocator {
    KelStreamAllocFn allocFn = nullptr;
    KelStreamFreeFn freeFn = nullptr;
    void* opaque = nullptr;

    static Allocator from(const KelStreamOptions& options);
    void* get(std::size_t nBytes) const;
    void put(void* p) const;
};

// A T built in memory from the allocator; null when the allocator fails.
template <class T, class... Args>
T* make(const Allocator& a, Args&&... args) {
    void* p = a.get(sizeof(T));
    return p ? new (p) T(static_cast<Args&&>(args)...) : nullptr;
}

template <class T>
void dispose(const Allocator& a, T* p) {
    if (p) {
        p->~T();
        a.put(p);
    }
}

// A growable array of trivially copyable T on the stream's allocator. Every growth returns false when memory runs
// out and leaves the contents as they were.
template <class T>
class Array {
public:
    Array() = default;
    explicit Array(const Allocator& a) : alloc_(a) {}
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    Array(Array&& o) noexcept : alloc_(o.alloc_), p_(o.p_), size_(o.size_), cap_(o.cap_) {
        o.p_ = nullptr;
        o.size_ = o.cap_ = 0;
    }
    ~Array() { alloc_.put(p_); }

    void setAllocator(const Allocator& a) { alloc_ = a; }
    T* data() { return p_; }
    const T* data() const { return p_; }
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return cap_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return p_[i]; }
    const T& operator[](std::size_t i) const { return p_[i]; }
    T* begin() { return p_; }
    T* end() { return p_ + size_; }

    bool reserve(std::size_t n) {
        if (n <= cap_) return true;
        std::size_t cap = cap_ < 64 ? 64 : cap_;
        while (cap < n) cap = cap > SIZE_MAX / 2 / sizeof(T) ? n : cap * 2;
        if (cap > SIZE_MAX / sizeof(T)) return false;
        T* q = static_cast<T*>(alloc_.get(cap * sizeof(T)));
        if (!q) return false;
        if (size_) std::memcpy(q, p_, size_ * sizeof(T));
        alloc_.put(p_);
        p_ = q;
        cap_ = cap;
        return true;
    }
    // New elements are left uninitialised.
    bool resize(std::size_t n) {
        if (!reserve(n)) return false;
        size_ = n;
        return true;
    }
    bool assign(std::size_t n, T value) {
        if (!resize(n)) return false;
        for (std::size_t i = 0; i < n; ++i) p_[i] = value;
        return true;
    }
    bool append(const T* src, std::size_t n) {
        if (n > SIZE_MAX - size_ || !reserve(size_ + n)) return false;
        if (n) std::memcpy(p_ + size_, src, n * sizeof(T));
        size_ += n;
        return true;
    }
    bool push(T value) { return append(&value, 1); }
    void clear() { size_ = 0; }
    // Drops the first n elements.
    void consume(std::size_t n) {
        if (n >= size_) {
            size_ = 0;
            return;
        }
        std::memmove(p_, p_ + n, (size_ - n) * sizeof(T));
        size_ -= n;
    }
    // Gives the memory back.
    void release() {
        alloc_.put(p_);
        p_ = nullptr;
        size_ = cap_ = 0;
    }

private:
    Allocator alloc_;
    T* p_ = nullptr;
    std::size_t size_ = 0;
    std::size_t cap_ = 0;
};

using Bytes = Array<std::uint8_t>;

// Output that an engine produced before the caller had room for it: drained first by every process call.
class Pending {
public:
    explicit Pending(const Allocator& a) : buf_(a) {}
    Bytes& buffer() { return buf_; }
    bool empty() const { return pos_ == buf_.size(); }
    // Moves what fits into dst[*produced, dstCap); clears the buffer once all of it has gone.
    void drain(std::uint8_t* dst, std::size_t dstCap, std::size_t* produced) {
        std::size_t n = buf_.size() - pos_;
        if (n > dstCap - *produced) n = dstCap - *produced;
        if (n) std::memcpy(dst + *produced, buf_.data() + pos_, n);
        *produced += n;
        pos_ += n;
        if (pos_ == buf_.size()) {
            buf_.clear();
            pos_ = 0;
        }
    }

private:
    Bytes buf_;
    std::size_t pos_ = 0;
};

// What every engine is created from.
struct Setup {
    KelStreamFormat format;
    KelStreamDirection direction;
    KelStreamOptions options;  // the caller's pointers (name, comment, extra, dictionary) are valid only during create
    Allocator alloc;
    // Internal: decode exactly one member / stream / frame and stop at its end with kelStreamEnd, leaving what
    // follows unconsumed and unexamined (the parallel decoders split the input at member boundaries themselves).
    bool singleMember = false;
};

// One format in one direction. The defaults reject the call; each format overrides what it supports.
class Engine {
public:
    explicit Engine(const Setup& s) : alloc(s.alloc), format(s.format) {}

    // The contract of kelStreamProcess, with the sizes split into in and out parameters. Engines never see a
    // call after they returned an error: the dispatcher keeps errors sticky.
    virtual KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed,
                                    std::uint8_t* dst, std::size_t dstCap, std::size_t* produced,
                                    KelStreamFlush flush) {
        (void)src, (void)srcLen, (void)consumed, (void)dst, (void)dstCap, (void)produced, (void)flush;
        return fail(kelStreamErrArgument, "not supported in this direction");
    }
    virtual KelStreamResult setDictionary(const std::uint8_t* dict, std::size_t n) {
        (void)dict, (void)n;
        return fail(kelStreamErrUnsupported, "this format has no preset dictionary");
    }
    // Fills the format-specific fields; the dispatcher sets format, totalIn and totalOut.
    virtual void header(KelStreamHeader* h) const { (void)h; }
    // Starts a new stream with the same setup; false when memory runs out (the engine is then recreated).
    virtual bool reset() { return false; }
    // Runs the concrete destructor and frees the memory (see EngineOf).
    virtual void destroy() {}

    KelStreamResult fail(KelStreamResult r, const char* why) {
        message = why;
        return r;
    }

    Allocator alloc;
    KelStreamFormat format;
    const char* message = "";  // static text, or text the engine owns until its next call
};

// Base for a concrete engine T: supplies destroy().
template <class T>
class EngineOf : public Engine {
public:
    using Engine::Engine;
    void destroy() override {
        Allocator a = alloc;
        T* self = static_cast<T*>(this);
        self->~T();
        a.put(self);
    }
};

// The factories, one per format family and direction. Each returns null and sets *error (kelStreamErrMemory or
// kelStreamErrArgument with *why) when it cannot build the engine.
struct CreateError {
    KelStreamResult result = kelStreamOk;
    const char* why = "";
};
Engine* newDeflateEncoder(const Setup& s, CreateError* e);  // gzip, zlib, raw
Engine* newDeflateDecoder(const Setup& s, CreateError* e);
Engine* newBzip2Encoder(const Setup& s, CreateError* e);
Engine* newBzip2Decoder(const Setup& s, CreateError* e);
Engine* newLz4Encoder(const Setup& s, CreateError* e);
Engine* newLz4Decoder(const Setup& s, CreateError* e);
Engine* newLzopEncoder(const Setup& s, CreateError* e);
Engine* newLzopDecoder(const Setup& s, CreateError* e);
Engine* newLzssEncoder(const Setup& s, CreateError* e);
Engine* newLzssDecoder(const Setup& s, CreateError* e);
// Parallel engines (threads > 1): the compressor for gzip, bzip2 and lz4, the decompressors for gzip and lz4
// (member or frame boundaries) and for bzip2 (block boundaries).
Engine* newParallelEncoder(const Setup& s, CreateError* e);
Engine* newParallelMemberDecoder(const Setup& s, CreateError* e);
Engine* newParallelBzip2Decoder(const Setup& s, CreateError* e);

// Worst-case compressed size of srcLen bytes (headers and trailers included) per format family.
std::size_t deflateBound(const KelStreamOptions& o, KelStreamFormat f, std::size_t srcLen);
std::size_t bzip2Bound(const KelStreamOptions& o, std::size_t srcLen);
std::size_t lz4Bound(const KelStreamOptions& o, std::size_t srcLen);
std::size_t lzopBound(const KelStreamOptions& o, std::size_t srcLen);
std::size_t lzssBound(const KelStreamOptions& o, std::size_t srcLen);

// Engine creation with the setup's options applied (used by the dispatcher and by the parallel engines for their
// per-piece engines).
Engine* createEngine(const Setup& s, CreateError* e);

}  // namespace kel::stream
