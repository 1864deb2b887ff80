// Exact integer square roots for the square-root and magnitude families: floor(sqrt(n)) of any 64-bit value, and
// sqrt(n) / 2^sh rounded to nearest with ties to even. Every column's results are defined by these.
#pragma once

#include <cmath>
#include <cstdint>

namespace vek::root {

using u128 = unsigned __int128;

// floor(sqrt(n)), starting from a double-precision estimate and corrected by exact squares.
inline uint64_t isqrt(uint64_t n) {
    uint64_t r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
    while (static_cast<u128>(r) * r > n) --r;
    while (static_cast<u128>(r + 1) * (r + 1) <= n) ++r;
    return r;
}

// Whether sqrt(n) / 2^sh lies above the midpoint f + 1/2, or on it with f odd: the test that turns the floor f of
// the scaled root into the root rounded half to even. Exact for n < 2^62 and sh <= 16.
inline bool rounds_up(uint64_t n, uint64_t f, int sh) {
    const u128 m = static_cast<u128>(2 * f + 1) << sh;  // twice the midpoint, on the scale of sqrt(n)
    const u128 lhs = static_cast<u128>(n) * 4, rhs = m * m;
    return lhs > rhs || (lhs == rhs && (f & 1));
}

// sqrt(n) / 2^sh rounded half to even (0 <= sh <= 16, n < 2^62).
inline uint64_t round_root(uint64_t n, int sh) {
    const uint64_t f = isqrt(n) >> sh;
    return rounds_up(n, f, sh) ? f + 1 : f;
}

}  // namespace vek::root
