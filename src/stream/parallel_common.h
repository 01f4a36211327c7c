// src/stream/parallel_common.h - what the parallel engines share besides the worker pool: the caller's allocator
// made safe to call from several threads, and the setup of the one-thread engine that handles a single piece.
#pragma once

#include <pthread.h>

#include "stream/stream_internal.h"

namespace kel::stream {

// The caller's alloc and free hooks, called under one mutex. A caller that supplies hooks and asks for threads
// must not have to make the hooks thread-safe: every allocation of a parallel engine and of the per-piece engines
// its workers build goes through here. The default (malloc and free) is thread-safe already and is passed through
// unlocked. The object must not move once get() has been called: the hooks find it through their opaque pointer.
class SharedAllocator {
public:
    explicit SharedAllocator(const Allocator& a) : inner_(a) { pthread_mutex_init(&mutex_, nullptr); }
    SharedAllocator(const SharedAllocator&) = delete;
    SharedAllocator& operator=(const SharedAllocator&) = delete;
    ~SharedAllocator() { pthread_mutex_destroy(&mutex_); }

    Allocator get() {
        if (!inner_.allocFn) return inner_;
        Allocator a;
        a.allocFn = &n8_lockedAlloc;
        a.freeFn = &n8_lockedFree;
        a.opaque = this;
        return a;
    }

private:
    static void* n8_lockedAlloc(void* opaque, std::size_t nBytes) {
        SharedAllocator* self = static_cast<SharedAllocator*>(opaque);
        pthread_mutex_lock(&self->mutex_);
        void* p = self->inner_.get(nBytes);
        pthread_mutex_unlock(&self->mutex_);
        return p;
    }
    static void n8_lockedFree(void* opaque, void* p) {
        SharedAllocator* self = static_cast<SharedAllocator*>(opaque);
        pthread_mutex_lock(&self->mutex_);
        self->inner_.put(p);
        pthread_mutex_unlock(&self->mutex_);
    }

    Allocator inner_;
    pthread_mutex_t mutex_;
};

// The setup of a one-thread engine for one piece: same format, direction and options, on the given allocator.
inline Setup n8_pieceSetup(const Setup& s, const Allocator& a, bool singleMember) {
    Setup p = s;
    p.options.threads = 1;
    p.alloc = a;
    p.options.alloc = a.allocFn;
    p.options.free = a.freeFn;
    p.options.opaque = a.opaque;
    p.singleMember = singleMember;
    return p;
}

// Copies an engine's one-line message into a fixed buffer that outlives the engine.
inline void n8_copyMessage(char* into, std::size_t cap, const char* why) {
    std::size_t n = why ? std::strlen(why) : 0;
    if (n >= cap) n = cap - 1;
    if (n) std::memcpy(into, why, n);
    into[n] = 0;
}

}  // namespace kel::stream
