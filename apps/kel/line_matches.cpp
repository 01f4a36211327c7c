// apps/kel/line_matches.cpp - every match of a regular expression in one line, for kel grep -o and kel replace.
#include "kel/line_matches.h"

#include <climits>

namespace kel::app {
namespace {

// Room for one match's records whatever the pattern: a pattern has at most 1000 capturing groups.
constexpr int kMaxGroups = 1001;

// The length of the UTF-8 sequence a lead byte announces, as the matcher reads characters (shortest forms of up
// to six bytes); 0 for a byte that cannot lead one.
int sequenceLength(Kel8u lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF7) return 4;
    if (lead >= 0xF8 && lead <= 0xFB) return 5;
    if (lead >= 0xFC && lead <= 0xFD) return 6;
    return 0;
}

// True when pos lies strictly inside a complete multi-byte character of line[0, len). A stray continuation byte
// is a character of its own, so a position before it is a character boundary.
bool insideCharacter(const Kel8u* line, int len, int pos) {
    if (pos <= 0 || pos >= len || (line[pos] & 0xC0) != 0x80) return false;
    for (int k = 1; k <= 5 && pos - k >= 0; ++k) {
        const Kel8u b = line[pos - k];
        if ((b & 0xC0) == 0x80) continue;
        const int need = sequenceLength(b);
        if (need <= k || pos - k + need > len) return false;
        for (int j = pos - k + 1; j < pos - k + need; ++j) {
            if ((line[j] & 0xC0) != 0x80) return false;
        }
        return true;
    }
    return false;
}

}  // namespace

KelStatus LineMatcher::init(const std::string& pattern, const std::string& options, int* pErrOffset) {
    int size = 0;
    KelStatus st = kelsRegExpGetSize(pattern.c_str(), &size);
    if (st != kelStatusOk) return st;
    plain_.assign(static_cast<size_t>(size), 0);
    global_.assign(static_cast<size_t>(size), 0);
    st = kelsRegExpInit(pattern.c_str(), options.c_str(), plain(), pErrOffset);
    if (st != kelStatusOk) return st;
    st = kelsRegExpInit(pattern.c_str(), (options + "g").c_str(), global(), pErrOffset);
    if (st != kelStatusOk) return st;
    kelsRegExpReplaceGetSize(nullptr, &size);
    noTemplate_.assign(static_cast<size_t>(size), 0);
    kelsRegExpReplaceInit(nullptr, reinterpret_cast<RegExpReplaceState*>(noTemplate_.data()));
    rec_.resize(kMaxGroups);
    return kelStatusOk;
}

KelStatus LineMatcher::first(const Kel8u* line, int len, bool* pFound) {
    static const Kel8u kEmpty[1] = {0};
    int n = kMaxGroups;
    if (rec_.size() < static_cast<size_t>(kMaxGroups)) rec_.resize(kMaxGroups);
    numMatches_ = 0;
    *pFound = false;
    // The library wants a subject address even for no bytes; an empty line may have none of its own.
    const Kel8u* subject = len ? line : kEmpty;
    const KelStatus st = kelsRegExpFind_8u(subject, len, plain(), rec_.data(), &n);
    if (st < 0) return st;
    if (subject != line) {
        for (int g = 0; g < n; ++g) {
            if (rec_[static_cast<size_t>(g)].pFind) rec_[static_cast<size_t>(g)].pFind = line;
        }
    }
    if (n > 0) {
        // Without g the record count is clamped to the pattern's groups: the one way to learn their number.
        numGroups_ = n;
        numMatches_ = 1;
        *pFound = true;
    }
    return st;
}

KelStatus LineMatcher::all(const Kel8u* line, int len) {
    bool found = false;
    // The replacement call needs a subject byte; an empty line holds at most its one empty match.
    if (len == 0 || numGroups_ == 0) {
        const KelStatus st = first(line, len, &found);
        if (st < 0 || !found || len == 0) return st;
    }
    // A line of n bytes holds at most 2n + 1 matches (an empty one before each byte, a one-byte one at each,
    // and an empty one at the end), so a capacity of 2n + 2 sets is never filled; below that, a full record
    // array may have cut the list short, and the search is repeated with twice the room.
    const long long maxSets = 2LL * len + 2;
    long long sets = 64;
    for (;;) {
        if (sets > maxSets) sets = maxSets;
        const long long records = sets * numGroups_;
        if (records > INT_MAX) return kelStatusBadSize;
        if (rec_.size() < static_cast<size_t>(records)) rec_.resize(static_cast<size_t>(records));
        int srcLen = len, dstLen = 1, numRec = static_cast<int>(records);
        Kel8u unused[1];
        const KelStatus st = kelsRegExpReplace_8u(line, &srcLen, unused, &dstLen, rec_.data(), &numRec, global(),
                                                  reinterpret_cast<RegExpReplaceState*>(noTemplate_.data()));
        if (st < 0) return st;
        if (numRec < records || sets == maxSets) {
            numMatches_ = numRec / numGroups_;
            break;
        }
        sets *= 2;
    }
    int kept = 0;
    int lastEnd = -1;  // end of the last match kept
    for (int i = 0; i < numMatches_; ++i) {
        const int start = static_cast<int>(record(i, 0).pFind - line);
        const int end = start + record(i, 0).lenFind;
        // sed and grep take no empty match where the previous match ended ("abc" with b* gives -a-c-).
        if (insideCharacter(line, len, start) || (start == end && start == lastEnd)) continue;
        lastEnd = end;
        if (kept != i) {
            for (int g = 0; g < numGroups_; ++g) {
                rec_[static_cast<size_t>(kept * numGroups_ + g)] = rec_[static_cast<size_t>(i * numGroups_ + g)];
            }
        }
        ++kept;
    }
    numMatches_ = kept;
    return kelStatusOk;
}

}  // namespace kel::app
