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
            results_[Key{name.substr(0, cut1), input}][impl] = it->second.value;
        }
    }

    void printRatios() const {
        std::printf("\n%-28s %-26s %-12s %10s %10s %8s\n", "family", "input", "peer", "kel MB/s", "peer MB/s",
                    "ratio");
        for (const auto& [key, impls] : results_) {
            auto ours = impls.find("kel");
            if (ours == impls.end()) continue;
            for (const auto& [impl, bps] : impls) {
                if (impl == "kel" || bps <= 0) continue;
                std::printf("%-28s %-26s %-12s %10.1f %10.1f %8.2f\n", key.family.c_str(), key.input.c_str(),
                            impl.c_str(), ours->second / 1e6, bps / 1e6, ours->second / bps);
            }
        }
    }

private:
    std::map<Key, std::map<std::string, double>> results_;
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
