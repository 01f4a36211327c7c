// apps/kel/demo.h - the pieces of `kel demo`: the sample data, the result table and one section per family.
//
// Each family contributes a section: a function that runs its operations over the samples and appends rows.
// Adding a family to the demo is one function here and one entry in kDemoSections (cmd_demo.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kel::app {

struct DemoSample {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

struct DemoRow {
    std::string family;     // "checksum", "gzip", ...
    std::string operation;  // "crc32", "compress -6", ...
    std::string detail;     // a result worth showing (a checksum value, "ratio 2.81", a match count)
    double inBytes = 0;     // bytes processed, for the throughput figure
    double seconds = 0;     // time taken
    bool verified = true;   // false if a round trip or cross-check failed
};

using DemoTable = std::vector<DemoRow>;

// Runs fn repeatedly for at least minSeconds (and at least once); returns seconds per run.
template <typename Fn>
double timeRepeated(Fn&& fn, double minSeconds = 0.05);

void demoChecksums(const std::vector<DemoSample>& samples, DemoTable& table);

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
