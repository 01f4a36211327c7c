// src/stream/parallel_members.cpp - decompression of multi-member gzip files and multi-frame LZ4 files on several
// threads, with results identical to the one-thread decoder for every input.
//
// Method: speculation checked by a chain. The input is taken into a window of a few MiB per thread. Every
// position in the window that starts like a member (gzip: 1f 8b 08 and a flag byte without reserved bits; LZ4: the
// frame magic 0x184D2204) is a candidate, and a worker decodes one member from each candidate with a one-member
// engine. Only a chain of exact fits is accepted: the first member starts at offset 0, and a member decoded from a
// known start that ends at offset e makes e the next known start, whose candidate's result is then taken. A
// candidate inside compressed data never lies on the chain, so its result is dropped unseen.
//
// A member longer than the window, or with more output than a task may hold, does not end inside its round: its
// engine is carried into the next round and continues from where it stopped (a single-member file is decoded this
// way, one window at a time, by one engine, as the one-thread decoder would). A failing member is the known start's
// own engine failing, so its output and error are those of the one-thread decoder. At a known start that is no
// candidate (trailing data, zero padding, a skippable or legacy LZ4 frame, a damaged header, the end of the input)
// the rest of the input goes to an ordinary one-thread engine. So that this engine judges the bytes as the one-thread
// decoder would after a member, and not as the start of a file, it is first given a tiny empty member of the format.
//
// One difference is visible: the window takes input ahead of the member being decoded, so when trailing data
// follows the last member, the bytes of it that earlier calls already took count as consumed (bytes of the call
// that reports kelStreamTrailingData are left unconsumed as usual).
#include "stream/parallel_common.h"
#include "stream/worker_pool.h"

namespace kel::stream {
namespace {

// Input window per worker thread, and the output one task may hold before it is carried into the next round.
constexpr std::size_t kWindowPerThread = std::size_t(2) << 20;
constexpr std::size_t kTaskOutCap = std::size_t(2) << 20;

// The smallest complete members: an empty gzip member (no name, an empty final fixed-Huffman block, CRC and size
// zero) and an empty LZ4 frame (independent 64 KiB blocks, no checksums, header checksum 0x82, end mark).
constexpr std::uint8_t kEmptyGzip[] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, 0, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint8_t kEmptyLz4[] = {0x04, 0x22, 0x4d, 0x18, 0x60, 0x40, 0x82, 0, 0, 0, 0};

std::uint32_t n8_readLe32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// A member may start at p (4 bytes readable). Stricter than the decoder's own test, so that everything a candidate
// decoder could disagree about goes to the one-thread engine.
bool n8_isCandidate(KelStreamFormat f, const std::uint8_t* p) {
    if (f == kelFormatGzip) return p[0] == 0x1f && p[1] == 0x8b && p[2] == 8 && (p[3] & 0xe0) == 0;
    return n8_readLe32(p) == 0x184D2204u;
}

// The header fields of a member, with copies of the strings its engine owned.
struct HeaderCopy {
    KelStreamHeader h;
    Bytes name, comment, extra;

    explicit HeaderCopy(const Allocator& a) : name(a), comment(a), extra(a) { clear(); }
    void clear() {
        std::memset(&h, 0, sizeof h);
        h.os = -1;
        h.level = -1;
        h.contentSize = -1;
    }
    // false when memory runs out.
    bool take(const KelStreamHeader& from) {
        h = from;
        name.clear();
        comment.clear();
        extra.clear();
        bool ok = true;
        if (from.name)
            ok = ok && name.append(reinterpret_cast<const std::uint8_t*>(from.name), std::strlen(from.name) + 1);
        if (from.comment) {
            ok = ok &&
                 comment.append(reinterpret_cast<const std::uint8_t*>(from.comment), std::strlen(from.comment) + 1);
        }
        if (from.extra) ok = ok && extra.append(from.extra, from.extraLen);
        h.name = from.name && ok ? reinterpret_cast<const char*>(name.data()) : nullptr;
        h.comment = from.comment && ok ? reinterpret_cast<const char*>(comment.data()) : nullptr;
        h.extra = from.extra && ok ? extra.data() : nullptr;
        return ok;
    }
    bool copyFrom(const HeaderCopy& o) {
        KelStreamHeader from = o.h;
        return take(from);
    }
};

class ParallelMemberDecoder;

// One member decoded from one candidate start.
struct DecodeTask {
    enum Outcome { Ended, Stalled, Failed };

    PoolJob job;  // first member: run() finds the task from it
    ParallelMemberDecoder* owner = nullptr;
    Engine* engine = nullptr;  // carried into the next round while Stalled; kept for reuse after Ended
    bool fresh = true;         // the engine has not started this member yet (reset it before use)
    // This run's input (inside the window) and whether it is the last input there is.
    const std::uint8_t* in = nullptr;
    std::size_t inLen = 0;
    bool finish = false;
    std::uint64_t start = 0;  // absolute offset of the member's first byte
    std::uint64_t pos = 0;    // absolute offset up to which the engine has consumed
    Bytes out;
    std::size_t outPos = 0;
    Outcome outcome = Failed;
    KelStreamResult result = kelStreamOk;
    char why[128] = {};
    HeaderCopy header;

    explicit DecodeTask(const Allocator& a) : out(a), header(a) {}
    void dropEngine() {
        if (engine) engine->destroy();
        engine = nullptr;
    }
};

class ParallelMemberDecoder final : public EngineOf<ParallelMemberDecoder> {
public:
    explicit ParallelMemberDecoder(const Setup& s)
        : EngineOf(s), setup_(s), shared_(s.alloc), pool_(s.alloc), in_(s.alloc), current_(s.alloc) {
        int n = s.options.threads;
        window_ = kWindowPerThread * std::size_t(n);
        maxTasks_ = std::size_t(n) * 3;
    }

    ~ParallelMemberDecoder() {
        pool_.stop();
        if (tail_) tail_->destroy();
        if (tasks_) {
            for (std::size_t i = 0; i < maxTasks_; ++i) {
                tasks_[i].dropEngine();
                tasks_[i].~DecodeTask();
            }
            alloc.put(tasks_);
        }
    }

    bool init() {
        Allocator a = shared_.get();
        in_.setAllocator(a);
        current_.name.setAllocator(a);
        current_.comment.setAllocator(a);
        current_.extra.setAllocator(a);
        void* p = alloc.get(maxTasks_ * sizeof(DecodeTask));
        if (!p) return false;
        tasks_ = static_cast<DecodeTask*>(p);
        for (std::size_t i = 0; i < maxTasks_; ++i) {
            DecodeTask* t = new (&tasks_[i]) DecodeTask(a);
            t->job.run = &n8_runTask;
            t->owner = this;
        }
        return true;
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        if (tail_) return runTail(src, srcLen, consumed, dst, dstCap, produced, flush);
        if (!pool_.running()) {
            KelStreamResult r = pool_.start(setup_.options.threads);
            if (r < 0) return fail(r, r == kelStreamErrThread ? "cannot start a worker thread" : "out of memory");
        }
        if (!in_.reserve(window_)) return fail(kelStreamErrMemory, "out of memory");
        for (;;) {
            if (cur_) {
                KelStreamResult r = handOutCurrent(dst, dstCap, produced);
                if (r != kelStreamOk || cur_) return r;
            }
            if (!carry_) {
                // K is a member boundary: the start of the input or the end of a member.
                std::size_t avail = std::size_t(inBase_ + in_.size() - known_);
                bool final = flush == kelFlushFinish && *consumed == srcLen;
                if (avail < 4 && !final) {
                    if (*consumed == srcLen) return kelStreamOk;
                    endRound();
                    fill(src, srcLen, consumed);
                    continue;
                }
                if (avail < 4 || !n8_isCandidate(setup_.format, in_.data() + (known_ - inBase_))) {
                    KelStreamResult r = startTail();
                    if (r < 0) return r;
                    return runTail(src, srcLen, consumed, dst, dstCap, produced, flush);
                }
                if (members_ > 0 && setup_.options.stopAtEntries && !entryReported_) {
                    entryReported_ = true;
                    return kelStreamEntryEnd;
                }
            }
            // The next link of the chain: the carried engine, or the task started at K.
            DecodeTask* next = nextOnChain();
            if (next) {
                pool_.wait(&next->job);
                cur_ = next;
                if (!current_.take(next->header.h)) return fail(kelStreamErrMemory, "out of memory");
                current_.h.entry = members_;
                continue;
            }
            // No launched task covers K: start a new round once the window is full or the input is complete.
            endRound();
            fill(src, srcLen, consumed);
            bool final = flush == kelFlushFinish && *consumed == srcLen;
            if (in_.size() < window_ && !final) return kelStreamOk;
            KelStreamResult r = launchRound(final);
            if (r < 0) return r;
        }
    }

    void header(KelStreamHeader* h) const override {
        if (tail_) {
            tail_->header(h);
            if (tailPrefix_ && h->entry == 0) {
                // Still on the empty member that stands in for the last real one: show that one.
                *h = current_.h;
                return;
            }
            h->entry += tailEntryBase_;
            return;
        }
        *h = current_.h;
    }

    bool reset() override {
        endRound();
        if (carry_) carry_->dropEngine();
        if (cur_) cur_->dropEngine();
        carry_ = cur_ = nullptr;
        carryLaunched_ = false;
        if (tail_) tail_->destroy();
        tail_ = nullptr;
        in_.clear();
        inBase_ = known_ = 0;
        members_ = 0;
        entryReported_ = false;
        current_.clear();
        return true;
    }

private:
    static void n8_runTask(PoolJob* job) {
        DecodeTask* t = reinterpret_cast<DecodeTask*>(job);
        t->owner->decodeTask(t);
    }

    // Worker thread: decode from t->start (or on from t->pos with a carried engine) over t's input, until the
    // member ends, the input or the output room runs out, or the data is bad.
    void decodeTask(DecodeTask* t) {
        // Engines are reused through reset(): building one costs its window and block buffers (4 MiB for an LZ4
        // frame of 4 MiB blocks), more than decoding a small member.
        if (t->fresh && t->engine && !t->engine->reset()) t->dropEngine();
        t->fresh = false;
        if (!t->engine) {
            CreateError e;
            t->engine = createEngine(n8_pieceSetup(setup_, shared_.get(), true), &e);
            if (!t->engine) {
                t->outcome = DecodeTask::Failed;
                t->result = e.result < 0 ? e.result : kelStreamErrMemory;
                n8_copyMessage(t->why, sizeof t->why, e.why);
                return;
            }
        }
        t->out.clear();
        t->outPos = 0;
        std::size_t inPos = 0;
        for (;;) {
            // The whole cap at once: only the pages a member writes are ever touched, and growing by doubling
            // would copy and fault in every member's output twice over.
            if (t->out.capacity() < kTaskOutCap) {
                if (!t->out.reserve(kTaskOutCap)) {
                    setFailed(t, kelStreamErrMemory, "out of memory");
                    break;
                }
            }
            std::size_t room = t->out.capacity() - t->out.size();
            if (room == 0) {
                t->outcome = DecodeTask::Stalled;
                break;
            }
            std::size_t c = 0, p = 0;
            KelStreamResult r = t->engine->process(t->in + inPos, t->inLen - inPos, &c, t->out.data() + t->out.size(),
                                                   room, &p, t->finish ? kelFlushFinish : kelFlushNone);
            inPos += c;
            t->out.resize(t->out.size() + p);  // within the capacity: cannot fail
            if (r == kelStreamEnd) {
                t->outcome = DecodeTask::Ended;
                break;
            }
            if (r < 0) {
                setFailed(t, r, t->engine->message);
                break;
            }
            if (r != kelStreamOk) {
                // A one-member engine has nothing else to report; anything else is not a member this decoder can
                // vouch for.
                setFailed(t, kelStreamErrLibrary, "unexpected result from a member decoder");
                break;
            }
            if (c == 0 && p == 0) {
                if (t->finish) {
                    setFailed(t, kelStreamErrLibrary, "a member decoder stopped making progress");
                } else {
                    t->outcome = DecodeTask::Stalled;
                }
                break;
            }
        }
        t->pos += inPos;
        KelStreamHeader h;
        std::memset(&h, 0, sizeof h);
        h.os = -1;
        h.level = -1;
        h.contentSize = -1;
        if (t->engine) t->engine->header(&h);
        if (!t->header.take(h) && t->outcome != DecodeTask::Failed) setFailed(t, kelStreamErrMemory, "out of memory");
        if (t->outcome == DecodeTask::Failed) t->dropEngine();
    }

    static void setFailed(DecodeTask* t, KelStreamResult r, const char* why) {
        t->outcome = DecodeTask::Failed;
        t->result = r;
        n8_copyMessage(t->why, sizeof t->why, why);
    }

    // Hands out cur_'s output, then settles it: a member that ended moves K on, a carried one waits for the next
    // round, a failed one reports its error. Leaves cur_ set while output is left.
    KelStreamResult handOutCurrent(std::uint8_t* dst, std::size_t dstCap, std::size_t* produced) {
        DecodeTask* t = cur_;
        std::size_t n = t->out.size() - t->outPos;
        if (n > dstCap - *produced) n = dstCap - *produced;
        if (n) std::memcpy(dst + *produced, t->out.data() + t->outPos, n);
        *produced += n;
        t->outPos += n;
        if (t->outPos < t->out.size()) return kelStreamOk;
        cur_ = nullptr;
        switch (t->outcome) {
            case DecodeTask::Ended:
                known_ = t->pos;
                ++members_;
                entryReported_ = false;
                return kelStreamOk;
            case DecodeTask::Stalled:
                carry_ = t;
                return kelStreamOk;
            case DecodeTask::Failed:
                break;
        }
        n8_copyMessage(why_, sizeof why_, t->why);
        return fail(t->result, why_);
    }

    // The task that continues the chain at K in the current round, or null.
    DecodeTask* nextOnChain() {
        if (carry_ && carryLaunched_) {
            DecodeTask* t = carry_;
            carry_ = nullptr;
            carryLaunched_ = false;
            return t;
        }
        if (carry_) return nullptr;
        while (chain_ < launched_ && order_[chain_]->start < known_) ++chain_;
        if (chain_ < launched_ && order_[chain_]->start == known_) return order_[chain_++];
        return nullptr;
    }

    // Waits for every task of the round and frees those not carried on.
    void endRound() {
        for (std::size_t i = 0; i < launched_; ++i) {
            DecodeTask* t = order_[i];
            pool_.wait(&t->job);
        }
        launched_ = chain_ = 0;
    }

    // Moves the window to the first byte still needed and tops it up from the caller's input.
    void fill(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed) {
        std::uint64_t keep = carry_ ? carry_->pos : known_;
        in_.consume(std::size_t(keep - inBase_));
        inBase_ = keep;
        std::size_t n = window_ - in_.size();
        if (n > srcLen - *consumed) n = srcLen - *consumed;
        in_.append(src + *consumed, n);  // within the reserved window: cannot fail
        *consumed += n;
    }

    // Starts the carried engine and a task for every candidate in the window, in input order.
    KelStreamResult launchRound(bool final) {
        const std::uint8_t* base = in_.data();
        std::uint64_t end = inBase_ + in_.size();
        std::uint64_t scanFrom;
        launched_ = chain_ = 0;
        // Free task records: every one but the carried.
        std::size_t nextFree = 0;
        auto take = [&]() -> DecodeTask* {
            while (nextFree < maxTasks_ && &tasks_[nextFree] == carry_) ++nextFree;
            return nextFree < maxTasks_ ? &tasks_[nextFree++] : nullptr;
        };
        if (carry_) {
            DecodeTask* t = carry_;
            t->in = base + (t->pos - inBase_);
            t->inLen = std::size_t(end - t->pos);
            t->finish = final;
            order_[launched_++] = t;
            carryLaunched_ = true;
            scanFrom = t->pos;
        } else {
            scanFrom = known_;
        }
        for (std::uint64_t at = scanFrom; at + 4 <= end && launched_ < maxTasks_;) {
            const std::uint8_t* p = base + (at - inBase_);
            std::uint8_t first = setup_.format == kelFormatGzip ? 0x1f : 0x04;
            const void* hit = std::memchr(p, first, std::size_t(end - at) - 3);
            if (!hit) break;
            at += std::uint64_t(static_cast<const std::uint8_t*>(hit) - p);
            if (n8_isCandidate(setup_.format, base + (at - inBase_)) && !(carry_ && at == scanFrom)) {
                DecodeTask* t = take();
                if (!t) break;
                t->fresh = true;
                t->start = t->pos = at;
                t->in = base + (at - inBase_);
                t->inLen = std::size_t(end - at);
                t->finish = final;
                order_[launched_++] = t;
            }
            ++at;
        }
        for (std::size_t i = 0; i < launched_; ++i) pool_.submit(&order_[i]->job);
        return kelStreamOk;
    }

    // Hands the rest of the input, from K, to a one-thread engine.
    KelStreamResult startTail() {
        endRound();
        Setup s = n8_pieceSetup(setup_, shared_.get(), false);
        CreateError e;
        tail_ = createEngine(s, &e);
        if (!tail_) return fail(e.result < 0 ? e.result : kelStreamErrMemory, e.why);
        tailPrefix_ = members_ > 0;
        tailEntryBase_ = members_ > 0 ? members_ - 1 : 0;
        if (tailPrefix_) {
            prefix_ = setup_.format == kelFormatGzip ? kEmptyGzip : kEmptyLz4;
            prefixLen_ = setup_.format == kelFormatGzip ? sizeof kEmptyGzip : sizeof kEmptyLz4;
        }
        prefixPos_ = 0;
        heldPos_ = std::size_t(known_ - inBase_);
        return kelStreamOk;
    }

    // Forwards to the one-thread engine: the empty member first, then the window's bytes from K, then the caller's.
    KelStreamResult runTail(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) {
        for (;;) {
            const std::uint8_t* p;
            std::size_t n;
            bool lastHeld;
            if (prefixPos_ < prefixLen_) {
                p = prefix_ + prefixPos_;
                n = prefixLen_ - prefixPos_;
                lastHeld = heldPos_ == in_.size();
            } else if (heldPos_ < in_.size()) {
                p = in_.data() + heldPos_;
                n = in_.size() - heldPos_;
                lastHeld = true;
            } else {
                break;
            }
            bool finish = lastHeld && flush == kelFlushFinish && *consumed == srcLen;
            std::size_t c = 0, q = 0;
            KelStreamResult r = tail_->process(p, n, &c, dst + *produced, dstCap - *produced, &q,
                                               finish ? kelFlushFinish : kelFlushNone);
            if (prefixPos_ < prefixLen_) {
                prefixPos_ += c;
            } else {
                heldPos_ += c;
            }
            *produced += q;
            if (r != kelStreamOk || (c == 0 && q == 0)) return forwardTail(r);
        }
        std::size_t c = 0, q = 0;
        KelStreamResult r =
            tail_->process(src + *consumed, srcLen - *consumed, &c, dst + *produced, dstCap - *produced, &q, flush);
        *consumed += c;
        *produced += q;
        return forwardTail(r);
    }

    KelStreamResult forwardTail(KelStreamResult r) {
        if (r < 0) {
            n8_copyMessage(why_, sizeof why_, tail_->message);
            message = why_;
        }
        return r;
    }

    Setup setup_;
    SharedAllocator shared_;
    WorkerPool pool_;
    std::size_t window_ = 0, maxTasks_ = 0;
    Bytes in_;  // the window: input bytes from absolute offset inBase_ on
    std::uint64_t inBase_ = 0;
    std::uint64_t known_ = 0;     // K: where the next member starts (or, with carry_, where the carried one started)
    std::uint32_t members_ = 0;   // members handed out completely
    bool entryReported_ = false;  // kelStreamEntryEnd already returned for the boundary at K
    DecodeTask* tasks_ = nullptr;
    DecodeTask* order_[768] = {};  // the round's tasks by start offset (maxTasks_ <= 3 * 256)
    std::size_t launched_ = 0, chain_ = 0;
    DecodeTask* cur_ = nullptr;    // the task whose output is being handed out
    DecodeTask* carry_ = nullptr;  // a member that continues in the next round
    bool carryLaunched_ = false;
    HeaderCopy current_;  // header fields of the member being handed out
    // The one-thread engine for the rest of the input, and what it is fed before the caller's bytes.
    Engine* tail_ = nullptr;
    bool tailPrefix_ = false;
    std::uint32_t tailEntryBase_ = 0;
    const std::uint8_t* prefix_ = nullptr;
    std::size_t prefixLen_ = 0, prefixPos_ = 0, heldPos_ = 0;
    char why_[128] = {};
};

}  // namespace

Engine* newParallelMemberDecoder(const Setup& s, CreateError* e) {
    // A one-thread engine built and dropped here checks the options now.
    Engine* probe = createEngine(n8_pieceSetup(s, s.alloc, true), e);
    if (!probe) return nullptr;
    probe->destroy();
    ParallelMemberDecoder* engine = make<ParallelMemberDecoder>(s.alloc, s);
    if (engine && !engine->init()) {
        engine->destroy();
        engine = nullptr;
    }
    if (!engine) *e = {kelStreamErrMemory, "out of memory"};
    return engine;
}

}  // namespace kel::stream
