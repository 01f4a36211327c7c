// apps/kel/pattern_error.cpp - the compile-error description shared by kel regex, grep and replace.
#include "kel/pattern_error.h"

#include "kel/status_text.h"

namespace kel::app {

std::string describePatternError(const std::string& pattern, int status, int offset) {
    const auto st = static_cast<KelStatus>(status);
    std::string text = std::string(statusName(st)) + " (" + statusMessage(st) + ") at offset " + std::to_string(offset);
    if (st == kelStatusRegExpBadOption) return text;  // the offset counts option letters, not pattern bytes
    std::string shown, caret;
    const std::size_t at = offset < 0 ? 0 : static_cast<std::size_t>(offset);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const auto c = static_cast<unsigned char>(pattern[i]);
        const bool control = c < 0x20 || c == 0x7f;
        shown += control ? '.' : static_cast<char>(c);
        // A continuation byte belongs to the character before it and takes no column of its own.
        if (i < at && (c & 0xc0) != 0x80) caret += ' ';
    }
    text += "\n  " + shown + "\n  " + caret + "^";
    return text;
}

}  // namespace kel::app
