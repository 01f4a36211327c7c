// src/kelbz2/kelbz2_internal.h - libbz2's declarations with default visibility (every other symbol of the library
// is hidden), and what the parts of libkelbz2 share.
#pragma once

#include <cstdio>

#pragma GCC visibility push(default)
#include <bzlib.h>
#pragma GCC visibility pop

#include "stream/stream_internal.h"
