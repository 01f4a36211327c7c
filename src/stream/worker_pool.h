// src/stream/worker_pool.h - a fixed set of pthreads that run queued jobs in order of submission, for the engines
// that compress or decompress independent pieces at once.
//
// Jobs are intrusive (the caller embeds a PoolJob in its own record and owns its memory), so submitting never
// allocates and a job cannot be lost to an allocation failure halfway through a stream. The only allocation is the
// thread table at start(). Jobs run in FIFO order; wait() blocks the calling thread until one given job has run.
// The pool never outlives its owner's buffers: stop() (and the destructor) lets queued jobs finish and joins every
// thread before returning.
#pragma once

#include <pthread.h>

#include "stream/stream_internal.h"

namespace kel::stream {

// One unit of work. run() is called on a worker thread with the job itself; the owner finds its data around it
// (the job is normally the first member of the owner's record).
struct PoolJob {
    void (*run)(PoolJob* job) = nullptr;
    PoolJob* next = nullptr;  // queue link, owned by the pool while the job is queued
    bool done = true;         // guarded by the pool's mutex; true when the job is not queued or running
};

class WorkerPool {
public:
    explicit WorkerPool(const Allocator& a);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    // Starts nThreads workers (at least 1). kelStreamOk, kelStreamErrMemory (the thread table) or kelStreamErrThread
    // (pthread_create failed; the threads already started are joined again). Calling it on a running pool is a
    // no-op that returns kelStreamOk.
    KelStreamResult start(int nThreads);
    bool running() const { return nThreads_ > 0; }
    int threads() const { return nThreads_; }

    // Queues job (which must not be queued or running already). The job's memory must stay valid until wait()
    // returns for it or the pool is stopped.
    void submit(PoolJob* job);
    // Blocks until job has run; returns at once for a job that was never submitted or has already run.
    void wait(PoolJob* job);
    // True when job has run (no blocking).
    bool finished(PoolJob* job);
    // Runs every queued job to its end and joins the threads; the pool may be started again afterwards.
    void stop();

private:
    static void* n8_workerMain(void* self);

    Allocator alloc_;
    Array<pthread_t> threads_;
    int nThreads_ = 0;
    pthread_mutex_t mutex_;
    pthread_cond_t workReady_;  // signalled when a job is queued or the pool stops
    pthread_cond_t jobDone_;    // broadcast when any job finishes
    PoolJob* head_ = nullptr;   // FIFO of queued jobs
    PoolJob* tail_ = nullptr;
    bool stopping_ = false;
};

}  // namespace kel::stream
