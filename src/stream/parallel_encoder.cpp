// src/stream/parallel_encoder.cpp - compression on several threads for the formats whose files may be a
// concatenation of complete streams that every reader decodes as one: gzip members, bzip2 streams, LZ4 frames.
//
// The input is cut into pieces; each piece becomes a complete stream of the format, compressed by a one-thread
// engine on a worker, and the streams are handed out in input order. A piece is the unit of parallel work and of
// lost compression (each one starts with an empty window or a fresh block), so it is large: see kPieceBytes. At
// most 2 * threads pieces exist at once (threads being compressed while as many wait to be handed out or are
// being filled), which bounds memory whatever the caller's pace.
//
// What differs from the one-thread output: a gzip name, comment and extra field are written in the first member
// only (as parallel gzip tools do; readers show the first member's header), the modification time in every
// member; a sync flush ends the current piece, so it closes a complete member, stream or frame instead of a block.
// LZ4 frames cannot carry linked blocks or a content size across pieces: with lz4Linked or a contentSize the
// factory builds the one-thread engine instead.
#include "stream/parallel_common.h"
#include "stream/worker_pool.h"

namespace kel::stream {
namespace {

// gzip and LZ4 piece size. Measured on 16 MiB of the bench corpus, 1 MiB pieces cost 0.23% of the output at gzip
// level 6 and 0.14% with LZ4 (each piece starts with an empty window and adds a header and trailer), while a piece
// still takes a hundred (LZ4) to a thousand (gzip) times longer to compress than its hand-off between threads (a
// reset engine, a queue link, a wake-up). Smaller pieces would lose more ratio; larger ones would give 2 threads
// nothing to share on inputs under a few MiB and multiply the memory, which is 2 * threads pieces in and out.
constexpr std::size_t kPieceBytes = std::size_t(1) << 20;

// bzip2 pieces hold whole blocks, so a piece compresses exactly as the blocks of the one-thread stream would
// (blocks hold level * 100 000 run-length coded bytes; on input that has no runs of 4, that is the same count of
// input bytes): at least 1 MiB, as whole multiples of the block size.
std::size_t n8_pieceBytesFor(const KelStreamOptions& o, KelStreamFormat f) {
    if (f != kelFormatBzip2) return kPieceBytes;
    std::size_t block = std::size_t(o.level >= 1 && o.level <= 9 ? o.level : 9) * 100000;
    return (kPieceBytes + block - 1) / block * block;
}

class ParallelEncoder;

// One piece: its input, its compressed stream, and the job that makes one from the other.
struct EncodeSlot {
    PoolJob job;  // first member: the pool hands the job back and run() finds the slot from it
    ParallelEncoder* owner = nullptr;
    Bytes in, out;
    std::size_t outPos = 0;    // bytes of out already handed out
    bool first = false;        // the first piece carries the gzip name, comment and extra field
    Engine* engine = nullptr;  // kept from piece to piece (reset between them) except for the first piece's
    KelStreamResult result = kelStreamOk;
    char why[128] = {};
};

class ParallelEncoder final : public EngineOf<ParallelEncoder> {
public:
    ParallelEncoder(const Setup& s, Bytes&& name, Bytes&& comment, Bytes&& extra)
        : EngineOf(s),
          setup_(s),
          shared_(s.alloc),
          pool_(s.alloc),
          name_(static_cast<Bytes&&>(name)),
          comment_(static_cast<Bytes&&>(comment)),
          extra_(static_cast<Bytes&&>(extra)) {
        pieceBytes_ = n8_pieceBytesFor(s.options, s.format);
        nSlots_ = std::size_t(s.options.threads) * 2;
    }

    ~ParallelEncoder() {
        // Queued pieces run to their end before the slots they write go away.
        pool_.stop();
        if (slots_) {
            for (std::size_t i = 0; i < nSlots_; ++i) {
                if (slots_[i].engine) slots_[i].engine->destroy();
                slots_[i].~EncodeSlot();
            }
            alloc.put(slots_);
        }
    }

    // Builds the slots; false when memory runs out.
    bool init() {
        Allocator a = shared_.get();
        void* p = alloc.get(nSlots_ * sizeof(EncodeSlot));
        if (!p) return false;
        slots_ = static_cast<EncodeSlot*>(p);
        for (std::size_t i = 0; i < nSlots_; ++i) {
            EncodeSlot* slot = new (&slots_[i]) EncodeSlot();
            slot->job.run = &n8_runPiece;
            slot->owner = this;
            slot->in.setAllocator(a);
            slot->out.setAllocator(a);
        }
        return true;
    }

    KelStreamResult process(const std::uint8_t* src, std::size_t srcLen, std::size_t* consumed, std::uint8_t* dst,
                            std::size_t dstCap, std::size_t* produced, KelStreamFlush flush) override {
        *consumed = 0;
        *produced = 0;
        if (!pool_.running()) {
            KelStreamResult r = pool_.start(setup_.options.threads);
            if (r < 0) return fail(r, r == kelStreamErrThread ? "cannot start a worker thread" : "out of memory");
        }
        for (;;) {
            // Hand out finished pieces in order; block on the oldest only when nothing else can move.
            bool mustWait = *consumed < srcLen ? !filling_ && inFlight_ == nSlots_ : flush != kelFlushNone;
            KelStreamResult r = handOut(dst, dstCap, produced, mustWait);
            if (r != kelStreamOk) return r;
            if (*consumed < srcLen) {
                if (!filling_) {
                    // Every slot is in flight and the oldest could not be handed out: the room is full.
                    if (inFlight_ == nSlots_) return kelStreamOk;
                    filling_ = &slots_[(head_ + inFlight_) % nSlots_];
                    filling_->in.clear();
                    if (!filling_->in.reserve(pieceBytes_)) return fail(kelStreamErrMemory, "out of memory");
                }
                std::size_t n = pieceBytes_ - filling_->in.size();
                if (n > srcLen - *consumed) n = srcLen - *consumed;
                filling_->in.append(src + *consumed, n);  // within the reserved room: cannot fail
                *consumed += n;
                if (filling_->in.size() == pieceBytes_) submitFilling();
                continue;
            }
            if (flush == kelFlushNone) return kelStreamOk;
            // Sync and finish close the current piece; finish also makes one (empty) stream from an empty input,
            // so the output is always a valid file of the format.
            if (filling_ && (!filling_->in.empty() || (flush == kelFlushFinish && !anySubmitted_))) {
                submitFilling();
            } else if (flush == kelFlushFinish && !anySubmitted_) {
                if (inFlight_ == nSlots_) return kelStreamOk;
                filling_ = &slots_[(head_ + inFlight_) % nSlots_];
                filling_->in.clear();
                submitFilling();
            } else if (filling_ && filling_->in.empty()) {
                filling_ = nullptr;
            }
            if (inFlight_ > 0) {
                // handOut() above waited for the oldest piece and could not hand all of it out.
                if (*produced == dstCap) return kelStreamOk;
                continue;
            }
            return flush == kelFlushFinish ? kelStreamEnd : kelStreamFlushed;
        }
    }

    void header(KelStreamHeader* h) const override {
        const KelStreamOptions& o = setup_.options;
        if (setup_.format == kelFormatGzip) {
            h->name = name_.empty() ? nullptr : reinterpret_cast<const char*>(name_.data());
            h->comment = comment_.empty() ? nullptr : reinterpret_cast<const char*>(comment_.data());
            h->extra = o.extra ? extra_.data() : nullptr;
            h->extraLen = o.extra ? extra_.size() : 0;
            h->mtime = o.mtime;
            h->os = o.os;
            h->headerCrc = o.headerCrc != 0;
            h->complete = 1;
        } else if (setup_.format == kelFormatLz4) {
            h->lz4BlockSizeId = o.lz4BlockSizeId;
            h->lz4BlockChecksum = o.lz4BlockChecksum != 0;
            h->lz4ContentChecksum = o.lz4ContentChecksum != 0;
            h->hasDictId = o.hasDictId != 0;
            h->dictId = o.dictId;
            h->complete = 1;
        }
        h->entry = std::uint32_t(submitted_ > 0 ? submitted_ - 1 : 0);
    }

    bool reset() override {
        for (std::size_t i = 0; i < nSlots_; ++i) pool_.wait(&slots_[i].job);
        head_ = inFlight_ = 0;
        filling_ = nullptr;
        anySubmitted_ = false;
        submitted_ = 0;
        return true;
    }

private:
    static void n8_runPiece(PoolJob* job) {
        EncodeSlot* slot = reinterpret_cast<EncodeSlot*>(job);
        slot->owner->compressPiece(slot);
    }

    // Worker thread: one piece into one complete stream. Touches only the slot and the read-only setups.
    void compressPiece(EncodeSlot* slot) {
        // Engines are reused through reset(): building one costs its tables and buffers (megabytes for LZ4 and
        // bzip2 blocks), which would otherwise be allocated and faulted in again for every piece.
        Engine* engine = slot->first ? nullptr : slot->engine;
        if (engine && !engine->reset()) {
            engine->destroy();
            engine = slot->engine = nullptr;
        }
        if (!engine) {
            Setup s = n8_pieceSetup(setup_, shared_.get(), false);
            KelStreamOptions& o = s.options;
            o.name = slot->first && !name_.empty() ? reinterpret_cast<const char*>(name_.data()) : nullptr;
            o.comment = slot->first && !comment_.empty() ? reinterpret_cast<const char*>(comment_.data()) : nullptr;
            o.extra = slot->first && setup_.options.extra ? extra_.data() : nullptr;
            o.extraLen = o.extra ? extra_.size() : 0;
            CreateError e;
            engine = createEngine(s, &e);
            if (!engine) {
                slot->result = e.result < 0 ? e.result : kelStreamErrMemory;
                n8_copyMessage(slot->why, sizeof slot->why, e.why);
                return;
            }
            if (!slot->first) slot->engine = engine;
        }
        slot->out.clear();
        slot->result = kelStreamOk;
        std::size_t inPos = 0, n = slot->in.size();
        // A guess that holds most pieces in one go; the loop grows it when the data does not compress.
        std::size_t guess = n + n / 8 + 4096;
        for (;;) {
            if (slot->out.size() == slot->out.capacity()) {
                std::size_t want = slot->out.capacity() < guess ? guess : slot->out.capacity() * 2;
                if (!slot->out.reserve(want)) {
                    slot->result = kelStreamErrMemory;
                    n8_copyMessage(slot->why, sizeof slot->why, "out of memory");
                    break;
                }
            }
            std::size_t c = 0, p = 0, room = slot->out.capacity() - slot->out.size();
            KelStreamResult r = engine->process(slot->in.data() + inPos, n - inPos, &c,
                                                slot->out.data() + slot->out.size(), room, &p, kelFlushFinish);
            inPos += c;
            slot->out.resize(slot->out.size() + p);  // within the capacity: cannot fail
            if (r == kelStreamEnd) break;
            if (r < 0) {
                slot->result = r;
                n8_copyMessage(slot->why, sizeof slot->why, engine->message);
                break;
            }
            if (c == 0 && p == 0 && room > 0) {
                slot->result = kelStreamErrLibrary;
                n8_copyMessage(slot->why, sizeof slot->why, "a piece compressor stopped making progress");
                break;
            }
        }
        // An engine that failed, or the first piece's (it writes the name), is not reused.
        if (slot->first || slot->result < 0) {
            engine->destroy();
            if (slot->engine == engine) slot->engine = nullptr;
        }
    }

    void submitFilling() {
        EncodeSlot* slot = filling_;
        filling_ = nullptr;
        slot->first = !anySubmitted_;
        slot->outPos = 0;
        anySubmitted_ = true;
        ++submitted_;
        ++inFlight_;
        pool_.submit(&slot->job);
    }

    // Moves finished pieces to dst in input order. With mustWait, blocks until the oldest piece is done (at most
    // once per call, so the caller's output room decides the pace). kelStreamOk or a piece's error.
    KelStreamResult handOut(std::uint8_t* dst, std::size_t dstCap, std::size_t* produced, bool mustWait) {
        while (inFlight_ > 0) {
            EncodeSlot& slot = slots_[head_];
            if (!pool_.finished(&slot.job)) {
                if (!mustWait || *produced == dstCap) return kelStreamOk;
                pool_.wait(&slot.job);
                mustWait = false;
            }
            if (slot.result < 0) {
                n8_copyMessage(why_, sizeof why_, slot.why);
                return fail(slot.result, why_);
            }
            std::size_t n = slot.out.size() - slot.outPos;
            if (n > dstCap - *produced) n = dstCap - *produced;
            if (n) std::memcpy(dst + *produced, slot.out.data() + slot.outPos, n);
            *produced += n;
            slot.outPos += n;
            if (slot.outPos < slot.out.size()) return kelStreamOk;
            // Keep the memory of an ordinary piece for the next one; give back what an incompressible one grew.
            if (slot.out.capacity() > 2 * pieceBytes_) slot.out.release();
            head_ = (head_ + 1) % nSlots_;
            --inFlight_;
        }
        return kelStreamOk;
    }

    Setup setup_;
    SharedAllocator shared_;
    WorkerPool pool_;
    Bytes name_, comment_, extra_;  // NUL-terminated copies of the caller's strings (extra as given)
    std::size_t pieceBytes_ = 0;
    std::size_t nSlots_ = 0;
    EncodeSlot* slots_ = nullptr;
    std::size_t head_ = 0;      // oldest piece not yet handed out
    std::size_t inFlight_ = 0;  // pieces submitted and not yet handed out, from head_ on
    EncodeSlot* filling_ = nullptr;
    bool anySubmitted_ = false;
    std::uint64_t submitted_ = 0;
    char why_[128] = {};
};

bool n8_copyText(Bytes& into, const void* p, std::size_t n, bool terminate) {
    if (!p) return true;
    return into.append(static_cast<const std::uint8_t*>(p), n) && (!terminate || into.push(0));
}

}  // namespace

Engine* newParallelEncoder(const Setup& s, CreateError* e) {
    const KelStreamOptions& o = s.options;
    if (s.format == kelFormatLz4 && (o.lz4Linked || o.contentSize >= 0)) {
        Setup one = s;
        one.options.threads = 1;
        return createEngine(one, e);
    }
    // A one-thread engine built and dropped here checks the options now instead of at the first piece.
    Engine* probe = createEngine(n8_pieceSetup(s, s.alloc, false), e);
    if (!probe) return nullptr;
    probe->destroy();
    Bytes name(s.alloc), comment(s.alloc), extra(s.alloc);
    bool copied = n8_copyText(name, o.name, o.name ? std::strlen(o.name) : 0, true) &&
                  n8_copyText(comment, o.comment, o.comment ? std::strlen(o.comment) : 0, true) &&
                  n8_copyText(extra, o.extra, o.extraLen, false);
    ParallelEncoder* engine = copied ? make<ParallelEncoder>(s.alloc, s, static_cast<Bytes&&>(name),
                                                             static_cast<Bytes&&>(comment), static_cast<Bytes&&>(extra))
                                     : nullptr;
    if (engine && !engine->init()) {
        engine->destroy();
        engine = nullptr;
    }
    if (!engine) *e = {kelStreamErrMemory, "out of memory"};
    return engine;
}

}  // namespace kel::stream
