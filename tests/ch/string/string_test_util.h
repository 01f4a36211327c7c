// tests/ch/string/string_test_util.h - helpers shared by the string suites: byte views of text, random strings over
// small alphabets (so that matches are frequent), and buffers guarded on both sides.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "kelbase.h"

namespace kel::test {

inline const Kel8u* bytes(const char* s) {
    return reinterpret_cast<const Kel8u*>(s);
}
inline const Kel8u* bytes(const std::string& s) {
    return reinterpret_cast<const Kel8u*>(s.data());
}

// v.data(), but never null: an empty vector's data() may be null, which the library rejects as a missing argument.
template <typename T>
const T* dataOf(const std::vector<T>& v) {
    static const T kNone{};
    return v.empty() ? &kNone : v.data();
}

template <typename T>
T* dataOf(std::vector<T>& v) {
    static T none{};
    return v.empty() ? &none : v.data();
}

// n bytes drawn from the first alphabetSize values of a fixed list that mixes letters with the byte values that
// expose signed-compare mistakes (0x00, 0x7F, 0x80, 0xFF).
inline std::vector<Kel8u> randomString(std::mt19937_64& rng, std::size_t n, int alphabetSize) {
    static const Kel8u kAlphabet[] = {'a', 0xFF, 'b', 0x00, 0x80, 0x7F, 'A', 'Z', 'z', ' ', '@', '[', '`', '{'};
    std::vector<Kel8u> v(n);
    for (auto& b : v) {
        b = alphabetSize >= 256 ? static_cast<Kel8u>(rng()) : kAlphabet[rng() % static_cast<unsigned>(alphabetSize)];
    }
    return v;
}

// A buffer of n bytes with an inaccessible page right before its first byte and right after its last one, so
// that a read or write one byte outside faults in every build. atEnd = false places the data against the front
// guard instead of the back one.
class TwoSidedGuard {
public:
    TwoSidedGuard(std::size_t n, bool atEnd) : size_(n) {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        const std::size_t dataPages = (n + page_ - 1) / page_ + 1;
        mapLen_ = (dataPages + 2) * page_;
        base_ = static_cast<Kel8u*>(mmap(nullptr, mapLen_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (base_ == MAP_FAILED) std::abort();
        mprotect(base_, page_, PROT_NONE);
        mprotect(base_ + mapLen_ - page_, page_, PROT_NONE);
        data_ = atEnd ? base_ + mapLen_ - page_ - n : base_ + page_;
    }
    TwoSidedGuard(const TwoSidedGuard&) = delete;
    TwoSidedGuard& operator=(const TwoSidedGuard&) = delete;
    ~TwoSidedGuard() { munmap(base_, mapLen_); }
    Kel8u* data() { return data_; }
    std::size_t size() const { return size_; }

private:
    std::size_t size_, page_, mapLen_;
    Kel8u* base_;
    Kel8u* data_;
};

}  // namespace kel::test
