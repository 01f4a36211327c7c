// fuzz/kelstream_lzss_fuzz.cpp - libkelstream's reader of the LZSS container on arbitrary input fed in arbitrary
// pieces, and a round trip through the writer (the shared body is in kelstream_reader_fuzz.h).
#include "kelstream_reader_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return kel::fuzz::fuzzReaderAndRoundTrip(kelFormatLzss, data, size);
}
