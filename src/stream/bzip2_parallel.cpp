// src/stream/bzip2_parallel.cpp - .bz2 decompression with the blocks decoded on worker threads.
//
// Blocks are not byte-aligned and carry no length, but each starts with a 48-bit magic, so their starts can be
// guessed by scanning the bits of the buffered input: a block is taken to run from one magic (block or end of
// stream) to the next, and a worker decodes it from its bits alone (table section, symbols, the fused inverse
// stages) into its run-length coded bytes. Only the sequential reader decides what the stream is: it reads the
// input in order and stops in front of each block; if a worker has decoded a block starting exactly there, the
// reader emits that block and skips to the bit where the worker's decoding ended, otherwise it decodes the block
// itself. A worker's result for a given start bit is what the reader would compute from that bit (the same code
// on the same bits with the same block size), so the output and every result, error and message are those of the
// sequential decoder whatever the input. A magic that occurs by chance inside block data only costs work: the
// block around it runs out of bits at the false magic and is decoded by the reader instead, and the false block
// is never reached. Run-length decoding and the CRCs stay with the reader, which writes straight into the
// caller's room.
//
// Input is copied into one buffer as it arrives, up to a few coded blocks per worker ahead of the reader. A
// possible end of stream (the end magic) stops the copying at the byte where that stream would end: what follows
// may be trailing data that must stay with the caller, so the reader reads the bytes after a stream end from the
// caller's buffer itself and copying resumes once it is inside the next stream.
#include <pthread.h>

#include <cstring>

#include "keldc.h"
#include "stream/bzip2_format.h"

namespace kel::stream {

namespace {

constexpr std::uint64_t kNone = ~std::uint64_t{0};
constexpr std::size_t kIntakeChunk = 1 << 16;
// Buffered input ahead of the reader, per worker; the fixed part holds the largest coded block (900 001 symbols of
// up to 20 bits and a section under 24 KiB, about 2.3 MB) so that any block can be handed out whole.
constexpr std::size_t kAheadPerThread = 2u << 20;
constexpr std::size_t kAheadFixed = 3u << 20;

// Values of bytes k + 1 and k + 2 of a magic starting at bit s of byte k: bits 24 + s .. 39 + s of it.
struct Prefilter {
    bool hit[65536] = {};
    constexpr Prefilter() {
        for (int s = 0; s < 8; ++s) {
            hit[(kBzip2BlockMagic >> (24 + s)) & 0xFFFF] = true;
            hit[(kBzip2EndMagic >> (24 + s)) & 0xFFFF] = true;
        }
    }
    bool operator[](std::size_t i) const { return hit[i]; }
};
constexpr Prefilter kPrefilter{};

struct Job {
    explicit Job(const Allocator& a) : input(a), block(a) {}
    enum class State { Free, Queued, Running, Done };
    State state = State::Free;
    bool discard = false;  // no longer wanted: freed by the worker when it finishes
    std::uint64_t seq = 0;
    std::uint64_t startBit = 0;   // input bit of the block magic
    std::uint64_t inputByte = 0;  // input byte of input[0]
    int skipBits = 0;
    int blockCap = 0;
    Bytes input, block;
    KelStreamResult result = kelStreamOk;
    int blockLen = 0;
    std::uint32_t storedCrc = 0;
    std::uint64_t endBit = 0;  // input bit after the block
};

class ParallelBzip2Decoder;

struct Worker {
    Worker(const Allocator& a, ParallelBzip2Decoder* o) : reader(a), owner(o) {}
    Bzip2Reader reader;
    ParallelBzip2Decoder* owner;
    pthread_t thread{};
    bool started = false;
};

void* workerMain(void* arg);

class ParallelBzip2Decoder final : public EngineOf<ParallelBzip2Decoder> {
public:
    explicit ParallelBzip2Decoder(const Setup& s)
        : EngineOf(s),
          core_(s.alloc),
          buf_(s.alloc),
          cands_(s.alloc),
          ends_(s.alloc),
          jobs_(s.alloc),
          workers_(s.alloc),
          threads_(s.options.threads) {
        core_.pauseAtBlocks = true;
        core_.stopAtEntries = s.options.stopAtEntries != 0;
        limit_ = kAheadFixed + kAheadPerThread * static_cast<std::size_t>(threads_);
    }

    ~ParallelBzip2Decoder() {
        pthread_mutex_lock(&mutex_);
        stop_ = true;
        pthread_cond_broadcast(&workCv_);
        pthread_mutex_unlock(&mutex_);
        for (Worker* w : workers_) {
            if (w->started) pthread_join(w->thread, nullptr);
            dispose(alloc, w);
        }
        for (Job* j : jobs_) dispose(alloc, j);
        pthread_mutex_destroy(&mutex_);
        pthread_cond_destroy(&workCv_);
        pthread_cond_destroy(&doneCv_);
    }

    // Allocates the jobs and the workers' state (their block buffers for the largest block size, so that no
    // allocation happens off the caller's thread) and starts the threads.
    CreateError init() {
        if (!core_.init()) return {kelStreamErrMemory, "out of memory"};
        const std::size_t nJobs = 2 * static_cast<std::size_t>(threads_) + 2;
        for (std::size_t i = 0; i < nJobs; ++i) {
            Job* j = make<Job>(alloc, alloc);
            if (!j || !jobs_.push(j)) {
                dispose(alloc, j);
                return {kelStreamErrMemory, "out of memory"};
            }
        }
        for (int i = 0; i < threads_; ++i) {
            Worker* w = make<Worker>(alloc, alloc, this);
            if (!w || !workers_.push(w)) {
                dispose(alloc, w);
                return {kelStreamErrMemory, "out of memory"};
            }
            if (!w->reader.init() || !w->reader.reserveBlocks(kBzip2MaxBlock)) {
                return {kelStreamErrMemory, "out of memory"};
            }
        }
        for (Worker* w : workers_) {
            if (pthread_create(&w->thread, nullptr, workerMain, w) != 0) {
                return {kelStreamErrThread, "cannot start a worker thread"};
            }
            w->started = true;
        }
        return {};
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        const bool finish = flush == kelFlushFinish;
        for (;;) {
            const std::uint64_t intakeBefore = intakeEnd_;
            if (!direct()) {
                releaseHold();
                if (!intake(src, srcLen, consumed)) return fail(kelStreamErrMemory, "out of memory");
            }
            if (core_.pausedAtBlock() && !decide(*consumed == srcLen && !finish)) {
                return kelStreamOk;  // the caller's input is used up before the end of the next block arrived
            }
            std::size_t c = 0, p = 0;
            KelStreamResult r;
            if (direct()) {
                r = core_.run(src + *consumed, srcLen - *consumed, &c, dst + *produced, dstCap - *produced, &p, finish);
                *consumed += c;
                intakeEnd_ += c;
                if (!core_.betweenStreams()) restartBuffer();
            } else {
                const std::size_t at = static_cast<std::size_t>(core_.bytesTaken() - base_);
                const bool last = finish && *consumed == srcLen;
                r = core_.run(buf_.data() + at, buf_.size() - at, &c, dst + *produced, dstCap - *produced, &p, last);
            }
            *produced += p;
            if (r < 0) return fail(r, core_.message);
            if (r != kelStreamOk) return r;
            if (c == 0 && p == 0 && !core_.pausedAtBlock() && intakeEnd_ == intakeBefore) return kelStreamOk;
            if (*produced == dstCap && core_.emitting()) return kelStreamOk;
            compact();
        }
    }

    void header(KelStreamHeader* h) const override {
        h->entry = core_.entry;
        h->complete = core_.headerComplete;
        h->level = core_.level;
    }

    // Picks the oldest queued job; null when told to stop. Called by the workers.
    Job* nextJob() {
        pthread_mutex_lock(&mutex_);
        Job* best = nullptr;
        for (;;) {
            if (stop_) break;
            for (Job* j : jobs_) {
                if (j->state == Job::State::Queued && (!best || j->seq < best->seq)) best = j;
            }
            if (best) break;
            pthread_cond_wait(&workCv_, &mutex_);
        }
        if (best) best->state = Job::State::Running;
        pthread_mutex_unlock(&mutex_);
        return best;
    }

    void jobDone(Job* j) {
        pthread_mutex_lock(&mutex_);
        j->state = j->discard ? Job::State::Free : Job::State::Done;
        j->discard = false;
        pthread_cond_broadcast(&doneCv_);
        pthread_mutex_unlock(&mutex_);
    }

private:
    // The reader takes the caller's bytes itself between streams, once it has used up the buffer.
    bool direct() const { return core_.betweenStreams() && core_.bytesTaken() == intakeEnd_; }

    // The reader is inside a new stream after reading its header from the caller's buffer: buffering starts
    // afresh at the reader's position.
    void restartBuffer() {
        buf_.clear();
        base_ = intakeEnd_;
        scanPos_ = intakeEnd_;
        window_ = 0;
        cands_.clear();
        ends_.clear();
    }

    // No input is copied past the first possible stream end ahead of the reader.
    std::uint64_t holdByte() const { return ends_.empty() ? kNone : ends_[0]; }

    // A possible stream end that the reader has passed inside a stream was a chance match: copying goes on (up to
    // the next one, if any).
    void releaseHold() {
        std::size_t n = 0;
        while (n < ends_.size() && core_.bytesTaken() >= ends_[n] && !core_.betweenStreams()) ++n;
        ends_.consume(n);
    }

    // Copies caller bytes into the buffer and scans them for magics, while fewer than a block's worth of
    // candidates wait for a free job, the reader is not too far behind and no possible stream end is in the way.
    bool intake(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed) {
        dispatch();
        while (*consumed < srcLen && intakeEnd_ < holdByte() && cands_.size() < 2 &&
               intakeEnd_ - core_.bytesTaken() < limit_) {
            std::size_t n = srcLen - *consumed;
            if (n > kIntakeChunk) n = kIntakeChunk;
            if (holdByte() - intakeEnd_ < n) n = static_cast<std::size_t>(holdByte() - intakeEnd_);
            if (!buf_.append(src + *consumed, n)) return false;
            *consumed += n;
            intakeEnd_ += n;
            if (!scan()) return false;
            if (intakeEnd_ > holdByte()) {
                // Bytes past a possible stream end go back to the caller.
                const std::size_t extra = static_cast<std::size_t>(intakeEnd_ - holdByte());
                buf_.resize(buf_.size() - extra);
                *consumed -= extra;
                intakeEnd_ = holdByte();
                if (scanPos_ > intakeEnd_) scanPos_ = intakeEnd_;
            }
            dispatch();
        }
        return true;
    }

    // Finds block and end magics at any bit offset in the bytes not scanned yet. window_ holds the last 8 bytes
    // read; once byte k + 6 is in, a magic starting at bit s (0-7) of byte k sits at bits 8 - s .. 55 - s from
    // its bottom. Bytes k + 1 and k + 2 lie inside the magic whatever s is, and the 16 values they can take for
    // the two magics prefilter the positions (one in 4096 of random data passes) before the full comparison.
    bool scan() {
        const std::uint8_t* p = buf_.data() + (scanPos_ - base_);
        const std::uint8_t* end = buf_.data() + (intakeEnd_ - base_);
        std::uint64_t w = window_;
        for (; p != end; ++p) {
            w = (w << 8) | *p;
            ++scanPos_;
            if (!kPrefilter[(w >> 32) & 0xFFFF]) continue;
            const std::uint64_t k = scanPos_ - 7;  // byte k + 6 was just read
            if (scanPos_ < 7) continue;
            for (int s = 0; s < 8; ++s) {
                const std::uint64_t v = (w >> (8 - s)) & 0xFFFFFFFFFFFFull;
                if (v != kBzip2BlockMagic && v != kBzip2EndMagic) continue;
                const std::uint64_t bit = 8 * k + static_cast<std::uint64_t>(s);
                const bool isEnd = v == kBzip2EndMagic;
                if (!cands_.push(bit * 2 + (isEnd ? 1 : 0))) return false;
                if (isEnd && !ends_.push((bit + 80 + 7) / 8)) return false;
            }
        }
        window_ = w;
        return true;
    }

    Job* freeJob() {
        for (Job* j : jobs_) {
            if (j->state == Job::State::Free) return j;
        }
        return nullptr;
    }

    // Hands candidate blocks to the workers: a block magic and the magic after it, when both lie ahead of the
    // reader and the reader knows the block size.
    void dispatch() {
        const std::uint64_t readerBit = core_.bitPosition();
        while (cands_.size() >= 2) {
            const std::uint64_t c0 = cands_[0], c1 = cands_[1];
            if ((c0 & 1) || c0 / 2 < readerBit) {
                cands_.consume(1);
                continue;
            }
            if (core_.blockCap() == 0) return;
            pthread_mutex_lock(&mutex_);
            Job* j = freeJob();
            pthread_mutex_unlock(&mutex_);
            if (!j) return;
            const std::uint64_t start = c0 / 2;
            const std::uint64_t first = (start + 48) / 8;
            std::uint64_t last = (c1 / 2) / 8 + 7;  // the next magic is in, and with it 6 bytes past its start
            if (last > intakeEnd_) last = intakeEnd_;
            j->input.clear();
            if (first >= last || !j->block.resize(static_cast<std::size_t>(core_.blockCap())) ||
                !j->input.append(buf_.data() + (first - base_), static_cast<std::size_t>(last - first))) {
                // Out of memory or nothing to decode: the reader decodes this block itself.
                cands_.consume(1);
                continue;
            }
            j->startBit = start;
            j->inputByte = first;
            j->skipBits = static_cast<int>((start + 48) % 8);
            j->blockCap = core_.blockCap();
            j->seq = ++seq_;
            pthread_mutex_lock(&mutex_);
            j->state = Job::State::Queued;
            pthread_cond_signal(&workCv_);
            pthread_mutex_unlock(&mutex_);
            cands_.consume(1);
        }
    }

    // The reader waits in front of the block at its position: gives it a worker's result, lets it decode the
    // block itself, or returns false when the block's end has not arrived yet and more input can come.
    bool decide(bool moreInput) {
        const std::uint64_t at = core_.bitPosition();
        Job* mine = nullptr;
        pthread_mutex_lock(&mutex_);
        for (Job* j : jobs_) {
            if (j->state == Job::State::Free) continue;
            if (j->startBit == at && !j->discard && !mine) {
                mine = j;
            } else if (j->startBit <= at) {
                // Blocks behind the reader (emitted ones, or chance magics it has passed) are dropped.
                if (j->state == Job::State::Running) {
                    j->discard = true;
                } else {
                    j->state = Job::State::Free;
                }
            }
        }
        if (mine) {
            while (mine->state != Job::State::Done) pthread_cond_wait(&doneCv_, &mutex_);
        }
        pthread_mutex_unlock(&mutex_);
        if (mine) {
            if (mine->result == kelStreamOk && mine->blockCap == core_.blockCap()) {
                // The job stays allocated until the reader comes to the next block: it emits from mine->block.
                core_.useDecodedBlock(mine->block.data(), mine->blockLen, mine->storedCrc, mine->endBit);
                mine->startBit = 0;
            } else {
                mine->state = Job::State::Free;
                core_.decodeNextBlock();
            }
            return true;
        }
        const bool waiting = (!cands_.empty() && cands_[cands_.size() - 1] == at * 2) || scanPos_ < at / 8 + 7;
        if (waiting && moreInput && intakeEnd_ - core_.bytesTaken() < limit_) return false;
        core_.decodeNextBlock();
        return true;
    }

    // Drops the buffered bytes that neither the reader nor a waiting candidate needs.
    void compact() {
        std::uint64_t keep = core_.bytesTaken();
        if (!cands_.empty() && cands_[0] / 16 < keep) keep = cands_[0] / 16;
        const std::uint64_t drop = keep > base_ ? keep - base_ : 0;
        if (drop < (1u << 20) || drop < buf_.size() / 2) return;
        buf_.consume(static_cast<std::size_t>(drop));
        base_ += drop;
    }

    Bzip2Reader core_;
    Bytes buf_;                   // input bytes [base_, intakeEnd_)
    Array<std::uint64_t> cands_;  // magics ahead of the reader, in order: bit * 2 + (1 for an end magic)
    Array<std::uint64_t> ends_;   // where the stream would end at each end magic found (bytes, ascending)
    Array<Job*> jobs_;
    Array<Worker*> workers_;
    int threads_;
    std::size_t limit_;
    std::uint64_t base_ = 0, intakeEnd_ = 0;
    std::uint64_t scanPos_ = 0;  // next input byte to scan
    std::uint64_t window_ = 0;
    std::uint64_t seq_ = 0;
    pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t workCv_ = PTHREAD_COND_INITIALIZER;
    pthread_cond_t doneCv_ = PTHREAD_COND_INITIALIZER;
    bool stop_ = false;
};

void* workerMain(void* arg) {
    Worker* w = static_cast<Worker*>(arg);
    while (Job* j = w->owner->nextJob()) {
        std::uint64_t endBit = 0;
        j->result = w->reader.decodeBlockBody(j->blockCap, j->input.data(), j->input.size(), j->skipBits,
                                              j->block.data(), &j->blockLen, &j->storedCrc, &endBit);
        j->endBit = j->inputByte * 8 + endBit;
        w->owner->jobDone(j);
    }
    return nullptr;
}

}  // namespace

Engine* newParallelBzip2Decoder(const Setup& s, CreateError* e) {
    ParallelBzip2Decoder* d = make<ParallelBzip2Decoder>(s.alloc, s);
    if (!d) {
        *e = {kelStreamErrMemory, "out of memory"};
        return nullptr;
    }
    const CreateError r = d->init();
    if (r.result != kelStreamOk) {
        d->destroy();
        *e = r;
        return nullptr;
    }
    return d;
}

}  // namespace kel::stream
