// fuzz/edit_fuzz.cpp - splitting and trimming on arbitrary input, against plain models, plus the trimming and
// mapping kernels against their scalar twins.
//
// Input layout: byte 0 is the separator (and the trimmed byte), byte 1 the number of split buffers (1 to 16) and,
// with byte 2, the seed of their capacities; bytes 3 to 7 are the trim set; the rest is the string. All buffers are
// exact-size heap copies, so any access outside them is caught by the sanitizers.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ch/string/edit_internal.h"
#include "kelch.h"

namespace {

using Bytes = std::vector<Kel8u>;

void check(bool ok) {
    if (!ok) std::abort();
}

void checkSplit(const Bytes& src, Kel8u sep, int numBuf, std::uint32_t seed) {
    std::vector<Bytes> model;
    for (size_t start = 0; start < src.size();) {
        const auto it = std::find(src.begin() + static_cast<long>(start), src.end(), sep);
        model.emplace_back(src.begin() + static_cast<long>(start), it);
        start = static_cast<size_t>(it - src.begin()) + 1;
    }
    std::vector<Kel8u*> dst(static_cast<size_t>(numBuf));
    std::vector<int> cap(static_cast<size_t>(numBuf)), capIn;
    for (int i = 0; i < numBuf; ++i) {
        seed = seed * 1103515245u + 12345u;
        cap[size_t(i)] = static_cast<int>((seed >> 16) % 40);
        dst[size_t(i)] = new Kel8u[size_t(cap[size_t(i)]) + 1];
    }
    capIn = cap;
    Kel8u* copy = new Kel8u[src.size() + 1];
    std::copy(src.begin(), src.end(), copy);
    int count = numBuf;
    const KelStatus st = kelsSplitC_8u_D2L(copy, static_cast<int>(src.size()), sep, dst.data(), cap.data(), &count);
    const size_t written = std::min(model.size(), static_cast<size_t>(numBuf));
    check(count == static_cast<int>(written));
    bool cut = false;
    for (size_t i = 0; i < written; ++i) {
        const size_t keep = std::min(model[i].size(), static_cast<size_t>(capIn[i]));
        cut |= keep < model[i].size();
        check(cap[i] == static_cast<int>(keep) && std::equal(model[i].begin(), model[i].begin() + long(keep), dst[i]));
    }
    check(st == (model.size() > written ? kelStatusSplitMorePieces : cut ? kelStatusSplitPieceTruncated : kelStatusOk));
    for (auto* p : dst) delete[] p;
    delete[] copy;
}

void checkTrim(const Bytes& src, const Bytes& set, Kel8u odd) {
    const int len = static_cast<int>(src.size()), setLen = static_cast<int>(set.size());
    Kel8u* s = new Kel8u[src.size() + 1];
    Kel8u* d = new Kel8u[src.size() + 1];
    std::copy(src.begin(), src.end(), s);
    auto in = [&](Kel8u b) { return std::find(set.begin(), set.end(), b) != set.end(); };
    using Fn = KelStatus (*)(const Kel8u*, int, const Kel8u*, int, Kel8u*, int*);
    const struct {
        Fn f;
        bool front, back;
    } forms[] = {{kelsTrimCAny_8u, true, true}, {kelsTrimStartCAny_8u, true, false}, {kelsTrimEndCAny_8u, false, true}};
    for (const auto& form : forms) {
        size_t a = 0, e = src.size();
        while (form.front && a < e && in(src[a])) ++a;
        while (form.back && e > a && in(src[e - 1])) --e;
        int outLen = -1;
        check(form.f(s, len, set.data(), setLen, d, &outLen) == kelStatusOk);
        check(outLen == static_cast<int>(e - a) && std::equal(src.begin() + long(a), src.begin() + long(e), d));
    }
    size_t a = 0, e = src.size();
    while (a < e && src[a] == odd) ++a;
    while (e > a && src[e - 1] == odd) --e;
    int outLen = len;
    check(kelsTrimC_8u_I(s, &outLen, odd) == kelStatusOk);
    check(outLen == static_cast<int>(e - a) && std::equal(src.begin() + long(a), src.begin() + long(e), s));

    check(n8_ownsSpanCAny_8u(src.data(), len, set.data(), setLen) ==
          n8_ownsSpanCAny_8u_ref(src.data(), len, set.data(), setLen));
    check(n8_ownsSpanRevCAny_8u(src.data(), len, set.data(), setLen) ==
          n8_ownsSpanRevCAny_8u_ref(src.data(), len, set.data(), setLen));
    n8_ownsUppercaseLatin_8u(src.data(), d, len);
    Bytes ref(src.size());
    n8_ownsUppercaseLatin_8u_ref(src.data(), ref.data(), len);
    check(std::equal(ref.begin(), ref.end(), d));
    delete[] s;
    delete[] d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8 || size > (1 << 16)) return 0;
    const Kel8u sep = data[0];
    const int numBuf = 1 + data[1] % 16;
    const std::uint32_t seed = static_cast<std::uint32_t>(data[1]) << 8 | data[2];
    const Bytes set(data + 3, data + 3 + data[3] % 5 + 1);
    const Bytes src(data + 8, data + size);
    checkSplit(src, sep, numBuf, seed);
    checkTrim(src, set, sep);
    return 0;
}
