// apps/kel/pattern_error.h - the one way kel commands describe a pattern that does not compile.
#pragma once

#include <string>

namespace kel::app {

// Describes a failed kelsRegExpInit for a user: "<status name> (<explanation>) at offset N", then - unless the
// status is about the option letters, which are not part of the pattern - the pattern and a caret under the byte at
// the offset, each on its own line indented by two spaces. There is no "kel: " prefix and no final newline, so a
// command passes it to reportError behind its own name: reportError("grep: " + describePatternError(p, st, off)).
// Control bytes in the pattern are shown as '.', so a tab or newline cannot push the caret away from its byte;
// UTF-8 continuation bytes take no column, so the caret stays under a character after multibyte text.
std::string describePatternError(const std::string& pattern, int status, int offset);

}  // namespace kel::app
