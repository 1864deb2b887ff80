// Helpers of the tests of the utilities the pumps do not call: the layouts every function is run at (every length
// 1..70 at every byte offset 0..15, and large blocks at a few offsets), and exact rounding references.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "vekutil_support.h"

namespace utiltest {

struct Layout {
    int n;
    size_t offset;
};

// Every length 1..70 at every offset 0..15, then 4095, 4096 and 65537 at offsets 0, 1, 2, 6.
inline std::vector<Layout> layouts() {
    std::vector<Layout> v;
    for (int n = 1; n <= 70; ++n)
        for (size_t off = 0; off < 16; ++off) v.push_back({n, off});
    for (int n : {4095, 4096, 65537})
        for (size_t off : {0, 1, 2, 6}) v.push_back({n, off});
    return v;
}

// A second offset derived from the first, so that source and destination alignments differ.
inline size_t other_offset(size_t off) {
    return (off * 7 + 3) % 16;
}

// Sign of (k + 1/2)^2 * den - num: whether k + 1/2 lies above sqrt(num / den).
inline int midpoint_sign(uint64_t k, unsigned __int128 num, unsigned __int128 den) {
    const unsigned __int128 m = 2 * static_cast<unsigned __int128>(k) + 1;
    const unsigned __int128 l = m * m * den, r = 4 * num;
    return l > r ? 1 : (l < r ? -1 : 0);
}

// sqrt(num / den) rounded to nearest, ties to even, by exact comparisons (num / den < 2^60).
inline uint64_t round_sqrt_ratio(unsigned __int128 num, unsigned __int128 den) {
    uint64_t k = 0;
    for (int bit = 40; bit >= 0; --bit) {  // largest k with (k - 1/2)^2 <= num / den
        const uint64_t t = k | (uint64_t{1} << bit);
        if (midpoint_sign(t - 1, num, den) <= 0) k = t;
    }
    if (k > 0 && midpoint_sign(k - 1, num, den) == 0 && (k & 1)) --k;  // a tie below goes to even
    return k;
}

}  // namespace utiltest
