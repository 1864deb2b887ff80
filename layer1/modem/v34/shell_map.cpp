// Shell mapping by the tables of V34FrameParameters: the total ring sum from z8, the split of each half and
// of each pair from g4 and g2.
#include "layer1/modem/v34/shell_map.h"

#include <algorithm>

namespace {

// The two rings of a pair with sum s and remainder r (0 <= r < g2(s)).
void SplitPair(int32_t s, uint64_t r, int32_t m, uint8_t* rings)
{
    const int32_t ri = static_cast<int32_t>(r);
    if (s < m) {
        rings[0] = static_cast<uint8_t>(ri);
        rings[1] = static_cast<uint8_t>(s - ri);
    } else {
        rings[0] = static_cast<uint8_t>(s - m + 1 + ri);
        rings[1] = static_cast<uint8_t>(m - 1 - ri);
    }
}

// Four rings with sum h and remainder r (0 <= r < g4(h)).
void SplitHalf(int32_t h, uint64_t r, const V34FrameParams* t, uint8_t* rings)
{
    const int32_t top = 2 * (t->M - 1);
    int32_t p = h > top ? h - top : 0;
    for (;; ++p) {
        const uint64_t term = static_cast<uint32_t>(t->g2[p]) * t->g2[h - p];   // below 2^32
        if (r < term || p == (h < top ? h : top))
            break;
        r -= term;
    }
    // r < 2^32 (it comes from a 32-bit index), so the quotient takes a 32-bit division.
    const uint32_t g = t->g2[p];
    const uint32_t r32 = static_cast<uint32_t>(r);
    SplitPair(p, r32 % g, t->M, rings);
    SplitPair(h - p, r32 / g, t->M, rings + 2);
}

}  // namespace

void ShellMap(uint32_t index, const V34FrameParams* t, uint8_t rings[8])
{
    const int32_t m = t->M;
    if (m <= 1) {
        for (int k = 0; k < 8; ++k)
            rings[k] = 0;
        return;
    }
    // The largest sum i <= 8 (M - 1) with z8(i) <= index (z8 rises strictly from z8(0) = 0).
    const int32_t last = 8 * (m - 1);
    const int32_t i = static_cast<int32_t>(std::upper_bound(t->z8 + 1, t->z8 + last + 1, uint64_t{index}) - (t->z8 + 1));
    uint64_t r = index - t->z8[i];
    const int32_t top = 4 * (m - 1);
    int32_t j = i > top ? i - top : 0;
    for (;; ++j) {
        const uint64_t term = static_cast<uint64_t>(t->g4[j]) * t->g4[i - j];
        if (r < term || j == (i < top ? i : top))
            break;
        r -= term;
    }
    const uint32_t g = t->g4[j];
    const uint32_t r32 = static_cast<uint32_t>(r);   // below 2^32, like the index
    SplitHalf(j, r32 % g, t, rings);
    SplitHalf(i - j, r32 / g, t, rings + 4);
}
