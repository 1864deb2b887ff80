// Threshold kernels without an entry: clamping of float and integer data, clamping of complex data by magnitude, and
// substitution of a given value, each by a comparison with the level.
#include <cmath>

#include "layer1/vek/util/float_kernels.h"
#include "layer1/vek/util/kernel_access.h"

using vek::kernels::each;
using vek::kernels::ld;
using vek::kernels::st;

namespace {

template <class T>
T clamp_one(T x, T level, bool lower) {
    return lower ? (x > level ? level : x) : (x < level ? level : x);
}

template <class T>
void clamp_all(const T* s, T* d, int32_t n, T level, bool lower) {
    each(n, [&](int64_t i) { st(d, i, clamp_one(ld(s, i), level, lower)); });
}

template <class T>
void substitute(const T* s, T* d, int32_t n, T level, T value, bool greater) {
    each(n, [&](int64_t i) {
        const T x = ld(s, i);
        st(d, i, (greater ? x > level : x < level) ? value : x);
    });
}

// Scales z to the magnitude `level` (lowered from above or raised from below); a zero raised becomes {level, 0}.
template <class C, class T>
C to_level(C z, T level, long double p, bool lower) {
    if (!lower && p == 0) return C{level, 0};
    const long double f = std::sqrt(static_cast<long double>(level) * level / p);
    return C{static_cast<decltype(z.re)>(z.re * f), static_cast<decltype(z.im)>(z.im * f)};
}

template <class C, class T>
void magnitude_clamp(T level, const C* s, C* d, int32_t n, bool lower) {
    const long double l2 = static_cast<long double>(level) * level;
    each(n, [&](int64_t i) {
        const C z = ld(s, i);
        const long double p = static_cast<long double>(z.re) * z.re + static_cast<long double>(z.im) * z.im;
        st(d, i, (lower ? p > l2 : !(l2 <= p)) ? to_level(z, level, p, lower) : z);
    });
}

template <class C, class T>
void magnitude_substitute(const C* s, C* d, int32_t n, T level, C value, bool greater) {
    const long double l2 = static_cast<long double>(level) * level;
    each(n, [&](int64_t i) {
        const C z = ld(s, i);
        const long double p = static_cast<long double>(z.re) * z.re + static_cast<long double>(z.im) * z.im;
        st(d, i, (greater ? p > l2 : p < l2) ? value : z);
    });
}

int16_t sat16(long double v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

}  // namespace

void vek_k_threshold_32f(const float* s, float* d, int32_t n, float level, int32_t mode) {
    clamp_all(s, d, n, level, mode == 1);
}
void vek_k_threshold_32f_inplace(float* v, int32_t n, float level, int32_t mode) {
    clamp_all(v, v, n, level, mode == 1);
}
void vek_k_threshold_64f(const double* s, double* d, int32_t n, double level, int32_t mode) {
    clamp_all(s, d, n, level, mode != 0);
}
void vek_k_threshold_32s(const int32_t* s, int32_t* d, int32_t n, int32_t level, int32_t mode) {
    clamp_all(s, d, n, level, mode == 1);
}
void vek_k_threshold_32s_inplace(int32_t* v, int32_t n, int32_t level, int32_t mode) {
    clamp_all(v, v, n, level, mode == 1);
}
void vek_k_threshold_64s_inplace(int64_t* v, int32_t n, int64_t level, int32_t mode) {
    clamp_all(v, v, n, level, mode == 1);
}

// 16-bit complex: each scaled part is sign * trunc(|part| * f + c), c just above 0 when lowering (a lowered element
// never exceeds the level) and just below 1 when raising (a raised one reaches it), saturated to 16 bits.
void vek_k_threshold_c16(int16_t level, const VekC16* s, VekC16* d, int32_t n, int32_t mode) {
    const bool lower = mode != 0;
    const int64_t l2 = int64_t{level} * level;
    const long double c = lower ? 1e-10L : 0.9999999999L;
    each(n, [&](int64_t i) {
        const VekC16 z = ld(s, i);
        const int64_t p = int64_t{z.re} * z.re + int64_t{z.im} * z.im;
        if (!(lower ? p > l2 : p < l2)) return st(d, i, z);
        if (!lower && p == 0) return st(d, i, VekC16{level, 0});
        const long double f = std::sqrt(static_cast<long double>(l2) / p);
        auto part = [&](int16_t v) {
            const long double m = std::trunc(std::fabs(static_cast<long double>(v)) * f + c);
            return sat16(v < 0 ? -m : m);
        };
        st(d, i, VekC16{part(z.re), part(z.im)});
    });
}
void vek_k_threshold_c32f(float level, const VekC32f* s, VekC32f* d, int32_t n, int32_t mode) {
    magnitude_clamp(level, s, d, n, mode == 1);
}
void vek_k_threshold_c64f(double level, const VekC64f* s, VekC64f* d, int32_t n, int32_t mode) {
    magnitude_clamp(level, s, d, n, mode != 0);
}

#define VEK_DEFINE_THRESHOLD_VALUE(t, T)                                                        \
    void vek_k_threshold_lt_val_##t(const T* s, T* d, int32_t n, T level, T value) {            \
        substitute(s, d, n, level, value, false);                                               \
    }                                                                                           \
    void vek_k_threshold_gt_val_##t(const T* s, T* d, int32_t n, T level, T value) {            \
        substitute(s, d, n, level, value, true);                                                \
    }
VEK_THRESHOLD_VALUE_KERNELS(VEK_DEFINE_THRESHOLD_VALUE)
#undef VEK_DEFINE_THRESHOLD_VALUE

void vek_k_threshold_lt_val_64s_inplace(int64_t* v, int32_t n, int64_t level, int64_t value) {
    substitute(v, v, n, level, value, false);
}
void vek_k_threshold_gt_val_64s_inplace(int64_t* v, int32_t n, int64_t level, int64_t value) {
    substitute(v, v, n, level, value, true);
}
// The squared magnitude is exact (two -32768 parts give 2^31, the largest of all).
void vek_k_threshold_lt_val_c16(const VekC16* s, VekC16* d, int32_t n, int16_t level, VekC16 value) {
    magnitude_substitute(s, d, n, level, value, false);
}
void vek_k_threshold_gt_val_c16(const VekC16* s, VekC16* d, int32_t n, int16_t level, VekC16 value) {
    magnitude_substitute(s, d, n, level, value, true);
}
void vek_k_threshold_lt_val_c32f(const VekC32f* s, VekC32f* d, int32_t n, float level, VekC32f value) {
    magnitude_substitute(s, d, n, level, value, false);
}
void vek_k_threshold_gt_val_c32f(const VekC32f* s, VekC32f* d, int32_t n, float level, VekC32f value) {
    magnitude_substitute(s, d, n, level, value, true);
}
void vek_k_threshold_lt_val_c64f(const VekC64f* s, VekC64f* d, int32_t n, double level, VekC64f value) {
    magnitude_substitute(s, d, n, level, value, false);
}
void vek_k_threshold_gt_val_c64f(const VekC64f* s, VekC64f* d, int32_t n, double level, VekC64f value) {
    magnitude_substitute(s, d, n, level, value, true);
}
