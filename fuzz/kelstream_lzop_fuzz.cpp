// fuzz/kelstream_lzop_fuzz.cpp - libkelstream's reader of lzop files on arbitrary input fed in arbitrary pieces,
// and a round trip through the writer (the shared body is in kelstream_reader_fuzz.h).
#include "kelstream_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return kel::fuzz::fuzzReaderAndRoundTrip(kelFormatLzop, data, size);
}
