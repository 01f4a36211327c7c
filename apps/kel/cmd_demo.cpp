// apps/kel/cmd_demo.cpp - `kel demo`: runs every family over the bundled sample data and prints one table.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kel/commands.h"
#include "kel/demo.h"
#include "kel/io_util.h"

namespace kel::app {
namespace {

struct DemoSection {
    const char* name;
    void (*run)(const std::vector<DemoSample>&, DemoReport&);
};

constexpr DemoSection kDemoSections[] = {
    {"compression", demoCompressionFormats},
    {"lzo", demoLzoFormats},
    {"checksums", demoChecksums},
    {"text", demoText},
};

void printDemoUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: kel demo [--data DIR]\n"
                 "Run every library family over the sample files in DIR (default: the bundled corpus, or\n"
                 "$KEL_DATA_DIR) and print what each does with them: results, throughput and verification.\n");
}

}  // namespace

int cmdDemo(int argc, char** argv) {
    std::string dir = sampleDataDir();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            printDemoUsage(stdout);
            return kExitOk;
        } else if (a == "--data" && i + 1 < argc) {
            dir = argv[++i];
        } else {
            reportError("demo: unexpected argument '" + a + "'");
            printDemoUsage(stderr);
            return kExitUsage;
        }
    }

    std::vector<DemoSample> samples;
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.is_regular_file() && entry.path().extension() != ".md") paths.push_back(entry.path());
    }
    if (ec || paths.empty()) {
        reportError("demo: no sample data in '" + dir + "'");
        return kExitFailure;
    }
    std::sort(paths.begin(), paths.end());
    std::size_t total = 0;
    for (const auto& p : paths) {
        DemoSample s{p.filename().string(), {}};
        if (!readWholeFile(p.string(), s.bytes)) return kExitFailure;
        total += s.bytes.size();
        samples.push_back(std::move(s));
    }
    std::printf("kel demo: %zu sample files, %zu bytes, from %s\n\n", samples.size(), total, dir.c_str());

    DemoReport report;
    for (const auto& section : kDemoSections) section.run(samples, report);

    bool allVerified = true;
    std::printf("%-8s %-6s %12s %12s %7s %14s %16s %7s\n", "format", "level", "input", "output", "ratio",
                "compress MB/s", "decompress MB/s", "check");
    for (const auto& row : report.codecs) {
        const double ratio = row.outBytes > 0 ? row.inBytes / row.outBytes : 0;
        const double cMbps = row.compressSeconds > 0 ? row.inBytes / row.compressSeconds / 1e6 : 0;
        const double dMbps = row.decompressSeconds > 0 ? row.inBytes / row.decompressSeconds / 1e6 : 0;
        std::printf("%-8s %-6s %12.0f %12.0f %7.3f %14.1f %16.1f %7s\n", row.format.c_str(), row.level.c_str(),
                    row.inBytes, row.outBytes, ratio, cMbps, dMbps, row.verified ? "ok" : "FAIL");
        if (!row.error.empty()) std::printf("    %s\n", row.error.c_str());
        allVerified = allVerified && row.verified;
    }
    std::printf("\n%-10s %-22s %-28s %10s %6s\n", "family", "operation", "result", "MB/s", "check");
    for (const auto& row : report.operations) {
        const double mbps = row.seconds > 0 ? row.inBytes / row.seconds / 1e6 : 0;
        std::printf("%-10s %-22s %-28s %10.1f %6s\n", row.family.c_str(), row.operation.c_str(), row.detail.c_str(),
                    mbps, row.verified ? "ok" : "FAIL");
        allVerified = allVerified && row.verified;
    }
    std::printf("\n%s\n", allVerified ? "all results verified" : "SOME RESULTS FAILED VERIFICATION");
    return allVerified ? kExitOk : kExitFailure;
}

}  // namespace kel::app
