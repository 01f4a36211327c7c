// bench/bench_main.cpp - the main of every kel benchmark program: runs the registered benchmarks, then prints the
// throughput of kel beside each peer measured in the same run.
//
// Benchmarks are named BM_<Family>/<impl>/<input>: runs that differ only in <impl> are compared, and each row of
// the closing table is one input with kel's throughput divided by the peer's (above 1.0: kel is faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Key {
    std::string family, input;
    bool operator<(const Key& o) const { return family != o.family ? family < o.family : input < o.input; }
};

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            if (run.run_type == Run::RT_Iteration && run.repetitions > 1) continue;
            std::string name = run.run_name.str();
            auto cut1 = name.find('/');
            if (cut1 == std::string::npos) continue;
            auto cut2 = name.find('/', cut1 + 1);
            std::string impl = name.substr(cut1 + 1, cut2 == std::string::npos ? std::string::npos : cut2 - cut1 - 1);
            std::string input = cut2 == std::string::npos ? "" : name.substr(cut2 + 1);
            auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end()) continue;
            Measure& m = results_[Key{name.substr(0, cut1), input}][impl];
            m.bytesPerSecond = it->second.value;
            auto ratio = run.counters.find("ratio");
            if (ratio != run.counters.end()) m.compressionRatio = ratio->second.value;
        }
    }

    // The closing table: one row per (benchmark, input, peer) with kel's throughput divided by the peer's (speedup)
    // and the compression ratios, input / output, where the benchmark reports them (kel comp, peer comp).
    // bench/report parses these rows.
    void printRatios() const {
        std::printf("\n%-28s %-26s %-12s %10s %10s %8s %9s %9s\n", "family", "input", "peer", "kel MB/s",
                    "peer MB/s", "speedup", "kel comp", "peer comp");
        for (const auto& [key, impls] : results_) {
            auto ours = impls.find("kel");
            if (ours == impls.end()) continue;
            for (const auto& [impl, m] : impls) {
                if (impl == "kel" || m.bytesPerSecond <= 0) continue;
                char oursSize[16] = "-", peerSize[16] = "-";
                if (ours->second.compressionRatio > 0) {
                    std::snprintf(oursSize, sizeof oursSize, "%.3f", ours->second.compressionRatio);
                }
                if (m.compressionRatio > 0) std::snprintf(peerSize, sizeof peerSize, "%.3f", m.compressionRatio);
                std::printf("%-28s %-26s %-12s %10.1f %10.1f %8.2f %9s %9s\n", key.family.c_str(), key.input.c_str(),
                            impl.c_str(), ours->second.bytesPerSecond / 1e6, m.bytesPerSecond / 1e6,
                            ours->second.bytesPerSecond / m.bytesPerSecond, oursSize, peerSize);
            }
        }
    }

private:
    struct Measure {
        double bytesPerSecond = 0;
        double compressionRatio = 0;  // input / output, when the benchmark compresses
    };
    std::map<Key, std::map<std::string, Measure>> results_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
