// src/ch/string/bit_scan.h - lowest and highest set bit of the compare masks the string kernels produce.
//
// The kernels turn 16 or 64 byte compares into a bit mask whose lowest set bit is the first hit and whose highest
// set bit is the last one. The compiler's count-trailing-zeros builtin is emitted as tzcnt under generic tuning, an
// instruction outside the n8 target, so the forward scan is written as bsf directly. The count-leading-zeros
// builtin already becomes bsr. All functions require a nonzero mask (bsf and bsr leave the result undefined for 0).
#pragma once

#include <stdint.h>

inline int n8_lowestBit32(uint32_t mask) {
    uint32_t index;
    __asm__("bsf %1, %0" : "=r"(index) : "rm"(mask) : "cc");
    return static_cast<int>(index);
}

inline int n8_lowestBit64(uint64_t mask) {
    uint64_t index;
    __asm__("bsf %1, %0" : "=r"(index) : "rm"(mask) : "cc");
    return static_cast<int>(index);
}

inline int n8_highestBit32(uint32_t mask) {
    return 31 ^ __builtin_clz(mask);
}
inline int n8_highestBit64(uint64_t mask) {
    return 63 ^ __builtin_clzll(mask);
}
