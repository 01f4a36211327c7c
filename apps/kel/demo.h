// apps/kel/demo.h - the pieces of `kel demo`: the sample data, the two result tables and one section per family.
//
// Each family contributes a section: a function that runs its operations over the samples and appends rows,
// codec rows (compress, decompress, verify) or operation rows (checksums, searches, conversions). Adding a family
// to the demo is one function here and one entry in kDemoSections (cmd_demo.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kelstream.h"

namespace kel::app {

struct DemoSample {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

// One compression format at one setting, over all samples as one stream.
struct CodecRow {
    std::string format;  // "gzip", "lzo", ...
    std::string level;   // "6", "fast", "-" ...
    double inBytes = 0;
    double outBytes = 0;
    double compressSeconds = 0;
    double decompressSeconds = 0;
    bool verified = false;  // the decompressed bytes equal the input
    std::string error;      // what went wrong, if anything
};

// Any other operation: a checksum, a search, a conversion.
struct OperationRow {
    std::string family;     // "checksum", "grep", "utf", ...
    std::string operation;  // "crc32", "[a-z]+ing", ...
    std::string detail;     // a result worth showing (a checksum value, a match count)
    double inBytes = 0;     // bytes processed, for the throughput figure
    double seconds = 0;
    bool verified = true;  // false if a cross-check failed
};

struct DemoReport {
    std::vector<CodecRow> codecs;
    std::vector<OperationRow> operations;
};

// All samples concatenated: the input of every codec row.
std::vector<std::uint8_t> concatenateSamples(const std::vector<DemoSample>& samples);

// Runs fn repeatedly for at least minSeconds (and at least once); returns seconds per run.
template <typename Fn>
double timeRepeated(Fn&& fn, double minSeconds = 0.05);

// Times a container format: compress `input` whole with these options and decompress the result (libkelstream's
// one-shot calls), verify the round trip, and fill a row.
CodecRow runStreamCodec(const std::string& name, const std::string& level, const std::vector<std::uint8_t>& input,
                        KelStreamFormat format, const KelStreamOptions& options);

void demoChecksums(const std::vector<DemoSample>& samples, DemoReport& report);
void demoCompressionFormats(const std::vector<DemoSample>& samples, DemoReport& report);
void demoLzoFormats(const std::vector<DemoSample>& samples, DemoReport& report);
void demoText(const std::vector<DemoSample>& samples, DemoReport& report);

}  // namespace kel::app

#include "kel/io_util.h"

template <typename Fn>
double kel::app::timeRepeated(Fn&& fn, double minSeconds) {
    int runs = 0;
    const double start = nowSeconds();
    double elapsed = 0;
    do {
        fn();
        ++runs;
        elapsed = nowSeconds() - start;
    } while (elapsed < minSeconds);
    return elapsed / runs;
}
