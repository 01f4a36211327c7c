// src/stream/worker_pool.cpp - the worker threads of the parallel engines: one mutex, one queue, two condition
// variables. Jobs are coarse (a piece of a megabyte or more), so a single lock costs nothing measurable and keeps
// the ordering rules obvious.
#include "stream/worker_pool.h"

namespace kel::stream {

WorkerPool::WorkerPool(const Allocator& a) : alloc_(a), threads_(a) {
    pthread_mutex_init(&mutex_, nullptr);
    pthread_cond_init(&workReady_, nullptr);
    pthread_cond_init(&jobDone_, nullptr);
}

WorkerPool::~WorkerPool() {
    stop();
    pthread_cond_destroy(&jobDone_);
    pthread_cond_destroy(&workReady_);
    pthread_mutex_destroy(&mutex_);
}

KelStreamResult WorkerPool::start(int nThreads) {
    if (nThreads_ > 0) return kelStreamOk;
    if (nThreads < 1) nThreads = 1;
    if (!threads_.resize(std::size_t(nThreads))) return kelStreamErrMemory;
    stopping_ = false;
    for (int i = 0; i < nThreads; ++i) {
        if (pthread_create(&threads_[std::size_t(i)], nullptr, n8_workerMain, this) != 0) {
            // nThreads_ counts the threads that exist, so stop() joins exactly those.
            stop();
            return kelStreamErrThread;
        }
        ++nThreads_;
    }
    return kelStreamOk;
}

void WorkerPool::submit(PoolJob* job) {
    pthread_mutex_lock(&mutex_);
    job->done = false;
    job->next = nullptr;
    if (tail_) {
        tail_->next = job;
    } else {
        head_ = job;
    }
    tail_ = job;
    pthread_cond_signal(&workReady_);
    pthread_mutex_unlock(&mutex_);
}

void WorkerPool::wait(PoolJob* job) {
    pthread_mutex_lock(&mutex_);
    while (!job->done) pthread_cond_wait(&jobDone_, &mutex_);
    pthread_mutex_unlock(&mutex_);
}

bool WorkerPool::finished(PoolJob* job) {
    pthread_mutex_lock(&mutex_);
    bool done = job->done;
    pthread_mutex_unlock(&mutex_);
    return done;
}

void WorkerPool::stop() {
    if (nThreads_ == 0) return;
    pthread_mutex_lock(&mutex_);
    stopping_ = true;
    pthread_cond_broadcast(&workReady_);
    pthread_mutex_unlock(&mutex_);
    for (int i = 0; i < nThreads_; ++i) pthread_join(threads_[std::size_t(i)], nullptr);
    nThreads_ = 0;
    stopping_ = false;
    threads_.release();
}

void* WorkerPool::n8_workerMain(void* self) {
    WorkerPool* pool = static_cast<WorkerPool*>(self);
    pthread_mutex_lock(&pool->mutex_);
    for (;;) {
        // Queued jobs run even when stopping, so no submitted job is left with done == false.
        while (!pool->head_ && !pool->stopping_) pthread_cond_wait(&pool->workReady_, &pool->mutex_);
        PoolJob* job = pool->head_;
        if (!job) break;
        pool->head_ = job->next;
        if (!pool->head_) pool->tail_ = nullptr;
        pthread_mutex_unlock(&pool->mutex_);
        job->run(job);
        pthread_mutex_lock(&pool->mutex_);
        job->done = true;
        pthread_cond_broadcast(&pool->jobDone_);
    }
    pthread_mutex_unlock(&pool->mutex_);
    return nullptr;
}

}  // namespace kel::stream
