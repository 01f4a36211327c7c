// tests/support/test_util.h - shared helpers for the test suites: seeded randomness, guard-page buffers, corpus files.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kel::test {

// The seed for every randomised test: KEL_TEST_SEED when set, else a fixed value. Tests print it on failure
// through SCOPED_TRACE(seedNote()).
inline std::uint64_t testSeed() {
    const char* s = std::getenv("KEL_TEST_SEED");
    return s ? std::strtoull(s, nullptr, 0) : 0x6B656C2D74657374ull;
}

inline std::string seedNote() { return "KEL_TEST_SEED=" + std::to_string(testSeed()); }

inline std::mt19937_64 makeRng(std::uint64_t salt = 0) { return std::mt19937_64(testSeed() ^ (salt * 0x9E3779B97F4A7C15ull)); }

inline std::vector<std::uint8_t> randomBytes(std::mt19937_64& rng, std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(rng());
    return v;
}

// A buffer of n bytes placed so that its last byte is the last byte before an inaccessible page: any read or write
// past the end faults at once, in every build.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t n) : size_(n) {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        mapLen_ = (n + page - 1) / page * page + page;
        base_ = static_cast<std::uint8_t*>(mmap(nullptr, mapLen_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) std::abort();
        mprotect(base_ + mapLen_ - page, page, PROT_NONE);
        data_ = base_ + mapLen_ - page - n;
    }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    ~GuardedBuffer() { munmap(base_, mapLen_); }

    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }
    void fill(const void* src, std::size_t n) { std::memcpy(data_, src, n < size_ ? n : size_); }

private:
    std::size_t size_;
    std::size_t mapLen_;
    std::uint8_t* base_;
    std::uint8_t* data_;
};

// The bundled corpus (bench/data), by file name.
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

}  // namespace kel::test
