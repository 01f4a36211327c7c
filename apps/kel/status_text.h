// apps/kel/status_text.h - names and one-line explanations of kel status codes, for tools and their messages.
#pragma once

#include "kelbase.h"

namespace kel::app {

// The status name as the headers spell it ("kelStatusBadStream"), or "unknown status" for other values.
const char* statusName(KelStatus status);

// A short lower-case explanation for users ("corrupt compressed data").
const char* statusMessage(KelStatus status);

}  // namespace kel::app
