// apps/kel/line_matches.h - every match of a regular expression in one line, for kel grep -o and kel replace.
//
// The library reports the first match of a subject, or with the g option every match; it takes no start offset.
// Searching a suffix of the line for the next match would make the suffix's first byte a subject start, so `^`,
// `\b` and look-behinds would judge it without the bytes before it. All matches therefore come from one global
// search over the whole line. The search runs through kelsRegExpReplace_8u with an empty template because that
// call returns each match's full set of records (the whole match first, then the groups), which a global
// kelsRegExpFind_8u does not when the pattern has groups; its output is not used.
#pragma once

#include <string>
#include <vector>

#include "kelch.h"

namespace kel::app {

class LineMatcher {
public:
    // Compiles pattern with the given option letters (without g). Returns the status of kelsRegExpInit, with
    // *pErrOffset set as it sets it, or kelStatusBadSize for a pattern too long for a state.
    KelStatus init(const std::string& pattern, const std::string& options, int* pErrOffset);

    // Finds the first match in line[0, len); an empty line is a valid subject. On success *pFound tells whether
    // there is one, and record(0, g) then reads its groups. Negative on a search error.
    KelStatus first(const Kel8u* line, int len, bool* pFound);

    // Finds every match in line[0, len), in order and without overlap; count() and record() then read them.
    // Two kinds of match the library reports are dropped, as sed and grep do not take them: a match starting
    // inside a UTF-8 character (the library steps over an empty match by one byte, not one character), and an
    // empty match where the previous match ended. Negative on a search error.
    KelStatus all(const Kel8u* line, int len);

    int count() const { return numMatches_; }
    int numGroups() const { return numGroups_; }
    // Group g (0 = the whole match) of match i; lenFind is -1 for a group that took no part.
    const RegExpMatchRecord& record(int i, int g) const { return rec_[static_cast<size_t>(i * numGroups_ + g)]; }

private:
    RegExpState* plain() { return reinterpret_cast<RegExpState*>(plain_.data()); }
    RegExpState* global() { return reinterpret_cast<RegExpState*>(global_.data()); }

    // The compiled states must not move once compiled: they hold pointers into themselves.
    std::vector<Kel8u> plain_, global_, noTemplate_;
    std::vector<RegExpMatchRecord> rec_;
    int numGroups_ = 0;  // 1 + capturing groups; 0 until a first match has told
    int numMatches_ = 0;
};

}  // namespace kel::app
