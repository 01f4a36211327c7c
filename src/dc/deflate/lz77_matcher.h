// src/dc/deflate/lz77_matcher.h - the greedy and lazy hash-chain matchers, as templates over the match comparison.
//
// lz77_ssse3.cpp and lz77_ref.cpp each instantiate the matchers once, with a 16-byte vector comparison and with
// a byte loop; everything else (hashing, chain walks, item and count output, the bounds near the end of input)
// is this one text, so the two builds cannot drift apart.
//
// Positions are 32-bit stream positions (see keldc.h). The exported entries shift positions down or cut the source
// so that s + len stays at or below kPosLimit (deflate_internal.h), 258 below 2^31: every sum below (pos + best,
// pos + 3, the end of a match) is then free of overflow; a candidate c enters a sum only once it lies in the window.
// Candidates come from the caller's hash tables, which a careless caller may have filled with anything; the walks
// therefore accept a candidate c only if pos - windowSize < c < pos, which is always true for tables built by these
// functions and keeps every comparison inside the history and the bytes already seen.
#pragma once

#include "dc/deflate/deflate_internal.h"
#include "dc/deflate/deflate_tables.h"
#include "dc/deflate/rand_vec.h"

// The matcher's helpers must all inline into the loops: only then can the compiler keep the position, the item
// count and the table pointers in registers instead of in the matcher object.
#define KEL_DEFLATE_INLINE inline __attribute__((always_inline))

namespace kel::deflate {

// The matcher of one call. MatchLen::run(a, b, maxLen) counts equal leading bytes of a and b, at most maxLen,
// reading a[0..maxLen) and b[0..maxLen) only. kContiguous says the history ends where the source begins, so one
// pointer reaches every position.
template <class MatchLen, bool kContiguous>
class Lz77Matcher {
public:
    explicit Lz77Matcher(Lz77Job& job)
        : j_(job),
          src_(job.src),
          hist_(job.hist),
          s_(job.s),
          end_(job.s + job.len),
          ws_(job.windowSize),
          wmask_(Kel32u(job.windowSize) - 1),
          hmask_(job.hashMask),
          heads_(job.heads),
          chain_(job.chain),
          litCodes_(job.litLenCodes),
          distCodes_(job.distCodes),
          litOut_(job.litLenOut),
          distOut_(job.distOut),
          cap_(job.capacity),
          mp_(job.params),
          flushAll_(job.flushAll),
          pos_(job.s) {}

    KEL_DEFLATE_INLINE void runGreedy() {
        if (mp_.maxChain == 0) {
            greedy3();
        } else {
            greedyChain();
        }
        finish();
    }

    KEL_DEFLATE_INLINE void runLazy() {
        if (cap_ >= 2 && j_.len > 261) {
            lazy();
        } else {
            lazyAsGreedy();
        }
        finish();
    }

private:
    // ---- Bytes ---------------------------------------------------------------------------------------------
    // Source side: positions at or after s.
    KEL_DEFLATE_INLINE const Kel8u* at(Kel32s i) const { return src_ + (i - s_); }
    KEL_DEFLATE_INLINE Kel8u byteAt(Kel32s i) const { return *at(i); }

    // Four bytes from candidate position c on (c may lie in the history).
    KEL_DEFLATE_INLINE Kel32u candWord(Kel32s c) const {
        if (kContiguous || c >= s_) return n8_load32(src_ + (c - s_));
        if (c + 4 <= s_) return n8_load32(hist_ + (c - s_));
        Kel32u w = 0;
        for (int k = 3; k >= 0; --k) {
            const Kel32s i = c + k;
            w = (w << 8) | (i >= s_ ? src_[i - s_] : hist_[i - s_]);
        }
        return w;
    }

    // Equal bytes of positions pos and c (c < pos), at most maxLen. A candidate in a separate history is compared
    // up to the history's end and then continues in the source, which is where the following positions live.
    KEL_DEFLATE_INLINE Kel32s matchLen(Kel32s pos, Kel32s c, Kel32s maxLen) const {
        if (kContiguous || c >= s_) return MatchLen::run(at(pos), src_ + (c - s_), maxLen);
        const Kel32s inHist = s_ - c < maxLen ? s_ - c : maxLen;
        const Kel32s n = MatchLen::run(at(pos), hist_ + (c - s_), inHist);
        if (n < inHist || inHist == maxLen) return n;
        return n + MatchLen::run(at(pos + n), src_, maxLen - n);
    }

    // ---- Hashing -------------------------------------------------------------------------------------------
    KEL_DEFLATE_INLINE Kel32u hash4(Kel32u w) const { return n8_hash4(w, hmask_); }

    // Inserts position p (its four bytes lie in the source) and returns the previous head of its hash.
    KEL_DEFLATE_INLINE Kel32s insert4(Kel32s p) { return insert4(p, hash4(n8_load32(at(p)))); }

    // The same with p's hash h already computed.
    KEL_DEFLATE_INLINE Kel32s insert4(Kel32s p, Kel32u h) {
        const Kel32s c = heads_[h];
        chain_[Kel32u(p) & wmask_] = c;
        heads_[h] = p;
        return c;
    }

    // Inserts positions from to to - 1. Each reads its own four bytes, the last reaching to + 2. (A plain loop:
    // matches inserted this way are short, and unrolling only adds branches.)
    KEL_DEFLATE_INLINE void insertRange(Kel32s from, Kel32s to) {
        for (Kel32s p = from; p < to; ++p) insert4(p);
    }

    // ---- Items ---------------------------------------------------------------------------------------------
    KEL_DEFLATE_INLINE void emitLiteral(Kel8u v) {
        litOut_[count_] = v;
        distOut_[count_] = 0;
        ++litCodes_[v].freqOrCode;
        ++count_;
    }

    KEL_DEFLATE_INLINE void emitMatch(Kel32s len, Kel32s dist) {
        const Kel32u m = Kel32u(len - 3);
        const Kel32u d1 = Kel32u(dist - 1);
        litOut_[count_] = Kel8u(m);
        distOut_[count_] = Kel16u(dist);
        ++litCodes_[257 + litCodeTable[m]].freqOrCode;
        ++distCodes_[d1 < 256 ? litCodeTable[256 + d1] : litCodeTable[512 + (d1 >> 7)]].freqOrCode;
        ++count_;
    }

    // pos - windowSize < c < pos, as one unsigned comparison (pos - 1 - c wraps to a huge value for c >= pos).
    KEL_DEFLATE_INLINE bool n8_inWindow(Kel32s pos, Kel32s c) const {
        return Kel32u(pos - 1) - Kel32u(c) < Kel32u(ws_ - 1);
    }

    // ---- Chain walk ----------------------------------------------------------------------------------------
    // Walks the chain from candidate c for position pos. A candidate is compared only if the four bytes ending at
    // the current best length agree (cheap rejection of hash collisions and of candidates that cannot improve);
    // only a strictly longer match replaces the best, so the most recent candidate wins ties. With kQuarter the
    // budget is quartered once, the first time a match reaches goodLength. Returns the best length (at least the
    // best passed in) and leaves its candidate in bestPos when it improved.
    template <bool kQuarter>
    KEL_DEFLATE_INLINE Kel32s walk(Kel32s pos, Kel32s c, Kel32s best, Kel32s budget, Kel32s nice, Kel32s maxLen,
                                   Kel32s& bestPos) {
        const Kel32s fullBudget = budget;
        const Kel32s good = mp_.goodLength;
        Kel32u probe = n8_load32(at(pos + best - 3));
        for (Kel32s examined = 0; examined < budget && n8_inWindow(pos, c); ++examined) {
            const Kel32s next = chain_[Kel32u(c) & wmask_];
            if (candWord(c + best - 3) == probe) {
                const Kel32s len = matchLen(pos, c, maxLen);
                if (len > best) {
                    if (kQuarter && len >= good && budget == fullBudget) budget >>= 2;
                    best = len;
                    bestPos = c;
                    if (len >= nice) break;
                    probe = n8_load32(at(pos + best - 3));
                }
            }
            c = next;
        }
        return best;
    }

    // ---- Greedy, single candidate, 3-byte rolling hash -----------------------------------------------------
    KEL_DEFLATE_INLINE void greedy3Step(Kel32u& h, Kel32s maxLen) {
        const Kel32s pos = pos_;
        h = ((h << 5) ^ byteAt(pos + 2)) & hmask_;
        const Kel32s c = heads_[h];
        heads_[h] = pos;
        const Kel64s d = Kel64s(pos) - c;
        Kel32s len = 0;
        if (d > 0 && d < ws_) len = matchLen(pos, c, maxLen);
        if (len >= 3) {
            emitMatch(len, Kel32s(d));
            for (Kel32s p = pos + 1; p < pos + len; ++p) {
                h = ((h << 5) ^ byteAt(p + 2)) & hmask_;
                heads_[h] = p;
            }
            pos_ = pos + len;
        } else {
            emitLiteral(byteAt(pos));
            pos_ = pos + 1;
        }
    }

    KEL_DEFLATE_INLINE void greedy3() {
        // The rolling hash starts from the first two bytes; with fewer than three bytes no step runs.
        Kel32u h = 0;
        if (end_ - s_ > 2) h = (Kel32u(byteAt(s_)) << 5) ^ byteAt(s_ + 1);
        while (end_ - pos_ > 260 && count_ < cap_) greedy3Step(h, 258);
        if (!flushAll_) return;
        while (end_ - pos_ > 2 && count_ < cap_) {
            const Kel32s maxLen = end_ - pos_ - 2 < 258 ? end_ - pos_ - 2 : 258;
            greedy3Step(h, maxLen);
        }
        while (pos_ < end_ && count_ < cap_) {
            emitLiteral(byteAt(pos_));
            ++pos_;
        }
    }

    // ---- Greedy, hash chains, 4-byte hash ------------------------------------------------------------------
    // One greedy step at pos_: the longest match of at least 4 bytes, else a literal. Positions inside a match are
    // inserted only when the match is at most lazyLimit long (long matches are skipped over to save time).
    template <bool kQuarter>
    KEL_DEFLATE_INLINE void greedyStep(Kel32s maxLen, Kel32s nice, Kel32s lazyLimit) {
        const Kel32s pos = pos_;
        Kel32s c = insert4(pos);
        Kel32s bestPos = c;
        const Kel32s best = walk<kQuarter>(pos, c, 3, mp_.maxChain, nice, maxLen, bestPos);
        if (best >= 4) {
            emitMatch(best, pos - bestPos);
            if (best <= lazyLimit) insertRange(pos + 1, pos + best);
            pos_ = pos + best;
        } else {
            emitLiteral(byteAt(pos));
            pos_ = pos + 1;
        }
    }

    KEL_DEFLATE_INLINE void greedyChain() {
        const DeflateMatchParams& mp = mp_;
        // With more input to come, stop 261 bytes before the end so that every hash and comparison stays inside
        // the source (a length-258 match at pos reads pos + 258 for the pre-check and inserts up to pos + 257,
        // whose hash reads pos + 260). A source of exactly 261 bytes still yields its first position.
        const Kel32s bound = (!flushAll_ && j_.origLen == 261) ? end_ - 260 : end_ - 261;
        if (pos_ < bound && count_ < cap_) {
            // The main loop computes the hash of pos + 1 during the step at pos, before the chain walk: a literal
            // moves on to it and a match inserts it first, so no hash is computed twice, and the next step's head
            // load does not wait for the walk's outcome.
            Kel32u h = hash4(n8_load32(at(pos_)));
            do {
                const Kel32s pos = pos_;
                const Kel32s c = insert4(pos, h);
                const Kel32u hNext = hash4(n8_load32(at(pos + 1)));
                Kel32s bestPos = c;
                const Kel32s best = walk<true>(pos, c, 3, mp.maxChain, mp.niceLength, 258, bestPos);
                if (best >= 4) {
                    emitMatch(best, pos - bestPos);
                    if (best <= mp.lazyLimit) {
                        insert4(pos + 1, hNext);
                        insertRange(pos + 2, pos + best);
                    }
                    pos_ = pos + best;
                    // Only a position below bound has its four bytes inside the source for sure.
                    if (pos_ < bound) h = hash4(n8_load32(at(pos_)));
                } else {
                    emitLiteral(byteAt(pos));
                    pos_ = pos + 1;
                    h = hNext;
                }
            } while (pos_ < bound && count_ < cap_);
        }
        if (!flushAll_) return;
        while (end_ - pos_ > 3 && count_ < cap_) {
            const Kel32s maxLen = end_ - pos_ - 3 < 258 ? end_ - pos_ - 3 : 258;
            greedyStep<false>(maxLen, mp.niceLength, mp.lazyLimit);
        }
        finalLiterals();
    }

    // The last bytes as literals. Fewer than four bytes remain (unless the items ran out), so they cannot be
    // hashed; a chain entry left over from an older position that would look newer than its slot is cleared.
    KEL_DEFLATE_INLINE void finalLiterals() {
        while (pos_ < end_ && count_ < cap_) {
            emitLiteral(byteAt(pos_));
            if (end_ - pos_ >= 4) {
                insert4(pos_);
            } else {
                Kel32s& e = chain_[Kel32u(pos_) & wmask_];
                if (e >= pos_ || e < s_) e = -ws_;
            }
            ++pos_;
        }
    }

    // ---- Lazy matcher in greedy form (one item of room, or a short source) ---------------------------------
    KEL_DEFLATE_INLINE void lazyGreedyStep(Kel32s maxLen) {
        const Kel32s pos = pos_;
        Kel32s c = insert4(pos);
        Kel32s bestPos = c;
        const Kel32s best = walk<false>(pos, c, 3, mp_.maxChain, maxLen, maxLen, bestPos);
        if (best >= 4) {
            emitMatch(best, pos - bestPos);
            insertRange(pos + 1, pos + best);
            pos_ = pos + best;
        } else {
            emitLiteral(byteAt(pos));
            pos_ = pos + 1;
        }
    }

    KEL_DEFLATE_INLINE void lazyAsGreedy() {
        Kel32s bound = end_ - 261, maxLen = 258;
        if (!flushAll_ && j_.origLen == 261) {
            bound = end_ - 260;
            maxLen = 257;
        }
        while (pos_ < bound && count_ < cap_) lazyGreedyStep(maxLen);
        if (!flushAll_) return;
        while (end_ - pos_ > 3 && count_ < cap_) lazyGreedyStep(end_ - pos_ - 3 < 258 ? end_ - pos_ - 3 : 258);
        finalLiterals();
    }

    // ---- Lazy matcher --------------------------------------------------------------------------------------
    // The item for the previous position is held back (pendLen, pendDist, pendByte) until the search at the
    // current position shows whether a longer match starts here. pendLen is 0 (nothing pending), 3 (a literal
    // pending: no match of 4 or more was found) or the pending match length.
    KEL_DEFLATE_INLINE void lazyStep(Kel32s maxLen) {
        const DeflateMatchParams& mp = mp_;
        Kel32s pos = pos_;
        const Kel32s c = insert4(pos);
        Kel32s curLen = pendLen_, curPos = c;
        if (pendLen_ < mp.lazyLimit) {
            const Kel32s budget = pendLen_ >= mp.goodLength ? mp.maxChain >> 2 : mp.maxChain;
            curLen = walk<false>(pos, c, pendLen_ > 3 ? pendLen_ : 3, budget, mp.niceLength, maxLen, curPos);
        }
        if (pendLen_ > 1) {
            if (pendLen_ < curLen || pendLen_ < 4) {
                emitLiteral(pendByte_);
            } else {
                // The pending match started at pos - 1; pos itself is already inserted.
                emitMatch(pendLen_, pendDist_);
                insertRange(pos + 1, pos + pendLen_ - 1);
                pos += pendLen_ - 2;
                curLen = 0;
            }
        }
        // curPos is a real candidate only when curLen is a match; the difference is taken modulo 2^32 so that
        // an arbitrary head value cannot overflow it.
        pendLen_ = curLen;
        pendDist_ = Kel32s(Kel32u(pos) - Kel32u(curPos));
        pendByte_ = byteAt(pos);
        pos_ = pos + 1;
    }

    // lazyStep for the main loop (below end - 261, full-length matches), with the hash of the step's position
    // passed in and the next step's hash passed out: the hash of pos + 1 is computed before the walk, and both
    // outcomes use it (the next step, or the first insertion inside the written match).
    KEL_DEFLATE_INLINE void lazyMainStep(Kel32u& h, Kel32s bound) {
        const DeflateMatchParams& mp = mp_;
        Kel32s pos = pos_;
        const Kel32s c = insert4(pos, h);
        const Kel32u hNext = hash4(n8_load32(at(pos + 1)));
        Kel32s curLen = pendLen_, curPos = c;
        if (pendLen_ < mp.lazyLimit) {
            const Kel32s budget = pendLen_ >= mp.goodLength ? mp.maxChain >> 2 : mp.maxChain;
            curLen = walk<false>(pos, c, pendLen_ > 3 ? pendLen_ : 3, budget, mp.niceLength, 258, curPos);
        }
        h = hNext;
        if (pendLen_ > 1) {
            if (pendLen_ < curLen || pendLen_ < 4) {
                emitLiteral(pendByte_);
            } else {
                emitMatch(pendLen_, pendDist_);
                insert4(pos + 1, hNext);
                insertRange(pos + 2, pos + pendLen_ - 1);
                pos += pendLen_ - 2;
                curLen = 0;
                // Only a position below bound has its four bytes inside the source for sure.
                if (pos + 1 < bound) h = hash4(n8_load32(at(pos + 1)));
            }
        }
        pendLen_ = curLen;
        pendDist_ = Kel32s(Kel32u(pos) - Kel32u(curPos));
        pendByte_ = byteAt(pos);
        pos_ = pos + 1;
    }

    // Writes the held-back item. The pending match started at pos_ - 1 and pos_ was not inserted.
    KEL_DEFLATE_INLINE void lazyWritePending() {
        if (pendLen_ <= 1) return;
        if (pendLen_ < 4) {
            emitLiteral(pendByte_);
        } else {
            emitMatch(pendLen_, pendDist_);
            insertRange(pos_ + 1, pos_ + pendLen_ - 1);
            pos_ += pendLen_ - 1;
        }
        pendLen_ = 0;
    }

    KEL_DEFLATE_INLINE void lazy() {
        // One item of room is always kept for the held-back item.
        const Kel32s bound = end_ - 261;
        if (pos_ < bound && count_ < cap_ - 1) {
            Kel32u h = hash4(n8_load32(at(pos_)));
            do {
                lazyMainStep(h, bound);
            } while (pos_ < bound && count_ < cap_ - 1);
        }
        if (!flushAll_) {
            lazyWritePending();
            return;
        }
        while (end_ - pos_ > 3 && count_ < cap_ - 1) lazyStep(end_ - pos_ - 3 < 258 ? end_ - pos_ - 3 : 258);
        lazyWritePending();
        finalLiterals();
    }

    KEL_DEFLATE_INLINE void finish() {
        j_.consumed = pos_ - s_;
        j_.items = count_;
    }

    Lz77Job& j_;
    const Kel8u* const src_;
    const Kel8u* const hist_;
    const Kel32s s_, end_, ws_;
    const Kel32u wmask_, hmask_;
    Kel32s* const heads_;
    Kel32s* const chain_;
    DeflateCodeEntry* const litCodes_;
    DeflateCodeEntry* const distCodes_;
    Kel8u* const litOut_;
    Kel16u* const distOut_;
    const Kel32s cap_;
    const DeflateMatchParams mp_;
    const bool flushAll_;
    Kel32s pos_;
    Kel32s count_ = 0;
    Kel32s pendLen_ = 0, pendDist_ = 0;
    Kel8u pendByte_ = 0;
};

template <class MatchLen>
void n8_runGreedy(Lz77Job& job) {
    if (job.hist == job.src) {
        Lz77Matcher<MatchLen, true>(job).runGreedy();
    } else {
        Lz77Matcher<MatchLen, false>(job).runGreedy();
    }
}

template <class MatchLen>
void n8_runLazy(Lz77Job& job) {
    if (job.hist == job.src) {
        Lz77Matcher<MatchLen, true>(job).runLazy();
    } else {
        Lz77Matcher<MatchLen, false>(job).runLazy();
    }
}

}  // namespace kel::deflate
