// apps/kel/status_text.cpp - names and one-line explanations of kel status codes.
#include "kel/status_text.h"

namespace kel::app {
namespace {

struct StatusText {
    KelStatus status;
    const char* name;
    const char* message;
};

constexpr StatusText kStatusTexts[] = {
    {kelStatusSortLimitReached, "kelStatusSortLimitReached", "sort work budget exhausted"},
    {kelStatusDstFull, "kelStatusDstFull", "destination full"},
    {kelStatusSrcExhausted, "kelStatusSrcExhausted", "source exhausted"},
    {kelStatusSplitPieceTruncated, "kelStatusSplitPieceTruncated", "split piece truncated"},
    {kelStatusSplitMorePieces, "kelStatusSplitMorePieces", "more pieces than buffers"},
    {kelStatusRegExpGroupsTruncated, "kelStatusRegExpGroupsTruncated", "group records truncated"},
    {kelStatusOk, "kelStatusOk", "success"},
    {kelStatusCodeLengthLimit, "kelStatusCodeLengthLimit", "code lengths over the limit"},
    {kelStatusError, "kelStatusError", "internal consistency check failed"},
    {kelStatusBadArgument, "kelStatusBadArgument", "bad argument"},
    {kelStatusBadSize, "kelStatusBadSize", "bad size"},
    {kelStatusOutOfRange, "kelStatusOutOfRange", "argument out of range"},
    {kelStatusNullPointer, "kelStatusNullPointer", "null pointer"},
    {kelStatusStreamOverrun, "kelStatusStreamOverrun", "corrupt or truncated compressed data"},
    {kelStatusNotSupportedMode, "kelStatusNotSupportedMode", "mode not supported"},
    {kelStatusBadLength, "kelStatusBadLength", "negative length"},
    {kelStatusRegExpBadEscape, "kelStatusRegExpBadEscape", "malformed escape in pattern"},
    {kelStatusRegExpBadClass, "kelStatusRegExpBadClass", "malformed character class in pattern"},
    {kelStatusRegExpBadReference, "kelStatusRegExpBadReference", "reference to a nonexistent group"},
    {kelStatusRegExpBadGroup, "kelStatusRegExpBadGroup", "unbalanced or malformed group in pattern"},
    {kelStatusRegExpBadQuantifier, "kelStatusRegExpBadQuantifier", "malformed quantifier in pattern"},
    {kelStatusRegExpMatchLimit, "kelStatusRegExpMatchLimit", "match limit exhausted"},
    {kelStatusRegExpBadState, "kelStatusRegExpBadState", "pattern state not initialised"},
    {kelStatusRegExpBadOption, "kelStatusRegExpBadOption", "unknown pattern option"},
    {kelStatusBadStream, "kelStatusBadStream", "corrupt compressed data"},
    {kelStatusLZOBrokenStream, "kelStatusLZOBrokenStream", "corrupt LZO data"},
};

const StatusText* findStatus(KelStatus status) {
    for (const auto& t : kStatusTexts) {
        if (t.status == status) return &t;
    }
    return nullptr;
}

}  // namespace

const char* statusName(KelStatus status) {
    const StatusText* t = findStatus(status);
    return t ? t->name : "unknown status";
}

const char* statusMessage(KelStatus status) {
    const StatusText* t = findStatus(status);
    return t ? t->message : "unknown status";
}

}  // namespace kel::app
