// Element access at any address for the kernels without an entry, and the exact scaled rounding they share.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace vek::kernels {

template <class T>
T ld(const T* p, int64_t i) {
    T v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
template <class T>
void st(T* p, int64_t i, T v) {
    std::memcpy(p + i, &v, sizeof v);
}

// Runs f(i) for i < n.
template <class F>
void each(int32_t n, F&& f) {
    for (int64_t i = 0; i < n; ++i) f(i);
}

// v * 2^-sf (exact in long double for any sf in range), rounded by the mode (0 truncates, others to nearest with
// ties to even, independent of the caller's rounding mode) and clamped to [lo, hi]; a NaN gives hi.
inline long double scaled_round(long double v, int32_t sf, int32_t mode, long double lo, long double hi) {
    if (std::isnan(v)) return hi;
    const int e = sf > 20000 ? 20000 : (sf < -20000 ? -20000 : sf);
    v = std::ldexp(v, -e);
    long double r;
    if (mode == 0) {
        r = std::trunc(v);
    } else {
        const long double f = std::floor(v), d = v - f;
        r = (d > 0.5L || (d == 0.5L && std::fmod(f, 2.0L) != 0)) ? f + 1 : f;
    }
    return r < lo ? lo : (r > hi ? hi : r);
}

}  // namespace vek::kernels
