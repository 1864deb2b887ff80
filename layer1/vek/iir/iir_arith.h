// The integer arithmetic of the IIR family: working values, exact products, sign-magnitude shifts and saturation,
// for real values and for complex values alike.
//
// Products of a 32-bit tap with a sample, a stored delay value or a 64-bit working value are exact (128-bit), and
// sums are formed in 128 bits; a left shift that would leave the range saturates instead of losing bits. Working
// values (accumulators, the signal between sections) are held in the 64-bit range, stored delay values in 32 bits,
// outputs in 16 bits, each saturated. Wherever no value leaves 64 bits this is the filters' 64-bit arithmetic
// exactly; where one would, the result saturates rather than wrapping.
#pragma once

#include <cstdint>
#include <cstring>

#include "layer1/vek/core/vek_types.h"

namespace vek::iir {

using i128 = __int128;

inline constexpr i128 kShiftLimit = static_cast<i128>(1) << 125;

inline i128 clamp(i128 v, i128 lo, i128 hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}
inline int64_t sat64(i128 v) {
    return static_cast<int64_t>(clamp(v, INT64_MIN, INT64_MAX));
}
inline int32_t sat32(i128 v) {
    return static_cast<int32_t>(clamp(v, INT32_MIN, INT32_MAX));
}
inline int16_t sat16(i128 v) {
    return static_cast<int16_t>(clamp(v, -32768, 32767));
}

// S(v, c): the magnitude of v shifted left by c (c > 0) or right by -c (cutting toward zero), the sign put back.
// Left shifts saturate at 2^125; right shifts of 128 places or more give 0.
inline i128 shift(i128 v, int64_t c) {
    if (v == 0 || c == 0) return v;
    const bool neg = v < 0;
    i128 m = neg ? -v : v;
    if (c > 0) {
        m = (c >= 125 || m > (kShiftLimit >> c)) ? kShiftLimit : m << c;
    } else {
        m = c <= -127 ? 0 : m >> -c;
    }
    return neg ? -m : m;
}

// Real values.
struct Real {
    using Tap = int32_t;
    using Sample = int16_t;
    using Wide = i128;   // a sum of products
    using Work = int64_t;  // a working value

    static Wide sample(Sample s) { return s; }
    static Wide stored(Tap d) { return d; }
    static Wide work(Work w) { return w; }
    static Wide zero() { return 0; }
    static Wide add(Wide a, Wide b) { return a + b; }
    static Wide sub(Wide a, Wide b) { return a - b; }
    static Wide sh(Wide v, int64_t c) { return shift(v, c); }
    static Work to_work(Wide v) { return sat64(v); }
    static Tap to_stored(Wide v) { return sat32(v); }
    static Sample to_sample(Wide v) { return sat16(v); }
    // A tap times a value given as a Wide (a sample, a stored value or a working value).
    static Wide mulw(Tap t, Wide v) { return static_cast<i128>(t) * v; }
};

// Complex values: each product is the complex product, each part saturated and shifted on its own.
struct Complex {
    struct Pair {
        i128 re, im;
    };
    using Tap = VekC32;
    using Sample = VekC16;
    using Wide = Pair;
    struct Work {
        int64_t re, im;
    };

    static Wide mulw(Tap t, Wide v) {
        return {static_cast<i128>(t.re) * v.re - static_cast<i128>(t.im) * v.im,
                static_cast<i128>(t.re) * v.im + static_cast<i128>(t.im) * v.re};
    }
    static Wide sample(Sample s) { return {s.re, s.im}; }
    static Wide stored(Tap d) { return {d.re, d.im}; }
    static Wide work(Work w) { return {w.re, w.im}; }
    static Wide zero() { return {0, 0}; }
    static Wide add(Wide a, Wide b) { return {a.re + b.re, a.im + b.im}; }
    static Wide sub(Wide a, Wide b) { return {a.re - b.re, a.im - b.im}; }
    static Wide sh(Wide v, int64_t c) { return {shift(v.re, c), shift(v.im, c)}; }
    static Work to_work(Wide v) { return {sat64(v.re), sat64(v.im)}; }
    static Tap to_stored(Wide v) { return {sat32(v.re), sat32(v.im)}; }
    static Sample to_sample(Wide v) { return {sat16(v.re), sat16(v.im)}; }
};

template <class T>
T load(const T* p, int64_t i) {
    T v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
template <class T>
void store(T* p, int64_t i, T v) {
    std::memcpy(p + i, &v, sizeof v);
}

}  // namespace vek::iir
