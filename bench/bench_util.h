// bench/bench_util.h - inputs for the benchmarks: the bundled corpus and synthetic buffers.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kel::bench {

inline std::vector<std::uint8_t> readCorpusFile(const std::string& name) {
    std::ifstream in(std::string(KEL_DATA_DIR) + "/" + name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline const std::vector<std::string>& corpusFileNames() {
    static const std::vector<std::string> names = {"alice29.txt", "asyoulik.txt", "fireworks.jpeg", "geo.protodata",
                                                   "html",        "html_x_4",     "kppkn.gtb",      "lcet10.txt",
                                                   "paper-100k.pdf", "plrabn12.txt", "urls.10K"};
    return names;
}

// All corpus files concatenated: one input that mixes text, markup and binary data.
inline const std::vector<std::uint8_t>& corpusAll() {
    static const std::vector<std::uint8_t> all = [] {
        std::vector<std::uint8_t> v;
        for (const auto& n : corpusFileNames()) {
            auto f = readCorpusFile(n);
            v.insert(v.end(), f.begin(), f.end());
        }
        return v;
    }();
    return all;
}

inline std::vector<std::uint8_t> randomBuffer(std::size_t n, std::uint64_t seed = 42) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

}  // namespace kel::bench
