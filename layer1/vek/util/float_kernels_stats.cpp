// Statistics, extremum and dot-product kernels without an entry. The floating-point sums are formed in the
// element's precision with four partial sums added at the end, except where a kernel's comment says otherwise; the
// absolute value clears the sign bit; extremum searches keep the first occurrence.
#include <algorithm>
#include <cmath>

#include "layer1/vek/util/float_kernels.h"
#include "layer1/vek/util/kernel_access.h"

using vek::kernels::ld;
using vek::kernels::st;

namespace {

// Four partial sums of f(i), added pairwise at the end.
template <class T, class F>
T sum4(int32_t n, F f) {
    T p[4] = {0, 0, 0, 0};
    int64_t i = 0;
    for (; n - i >= 4; i += 4)
        for (int k = 0; k < 4; ++k) p[k] += f(i + k);
    for (int k = 0; i < n; ++i, ++k) p[k] += f(i);
    return (p[0] + p[1]) + (p[2] + p[3]);
}

template <class T, class F>
T max_of(int32_t n, F f) {
    T m = f(0);
    for (int64_t i = 1; i < n; ++i) m = std::fmax(m, f(i));
    return m;
}

// sqrt(max(0, n S2 - S1^2) / (n (n - 1))) with the sums in extended precision.
template <class T>
T stddev(const T* s, int32_t n) {
    long double s1 = 0, s2 = 0;
    for (int64_t i = 0; i < n; ++i) {
        const long double x = ld(s, i);
        s1 += x;
        s2 += x * x;
    }
    const long double q = (n * s2 - s1 * s1) / (static_cast<long double>(n) * (n - 1));
    return static_cast<T>(q > 0 ? std::sqrt(q) : 0);
}

// The first index holding the extremum (strictly smaller or larger replaces).
template <bool kMax, class T>
T index_walk(const T* s, int32_t n, int32_t* index) {
    T best = ld(s, 0);
    int32_t at = 0;
    for (int32_t i = 1; i < n; ++i) {
        const T x = ld(s, i);
        if (kMax ? x > best : x < best) {
            best = x;
            at = i;
        }
    }
    *index = at;
    return best;
}

}  // namespace

int32_t vek_k_norm_inf_16(const int16_t* s, int32_t n, int32_t* out) {
    int32_t m = 0;
    for (int64_t i = 0; i < n; ++i) {
        const int32_t x = ld(s, i);
        m = std::max(m, x < 0 ? -x : x);
    }
    *out = m;
    return m;
}

#define VEK_DEFINE_NORMS(t, T)                                                                                    \
    void vek_k_norm_inf_##t(const T* s, int32_t n, T* out) {                                                      \
        *out = max_of<T>(n, [&](int64_t i) { return std::fabs(ld(s, i)); });                                     \
    }                                                                                                             \
    void vek_k_norm_l1_##t(const T* s, int32_t n, T* out) {                                                       \
        *out = sum4<T>(n, [&](int64_t i) { return std::fabs(ld(s, i)); });                                       \
    }                                                                                                             \
    void vek_k_norm_l2_##t(const T* s, int32_t n, T* out) {                                                       \
        *out = sum4<T>(n, [&](int64_t i) { return ld(s, i) * ld(s, i); });                                       \
    }                                                                                                             \
    void vek_k_norm_diff_inf_##t(const T* a, const T* b, int32_t n, T* out) {                                     \
        *out = max_of<T>(n, [&](int64_t i) { return std::fabs(ld(a, i) - ld(b, i)); });                          \
    }                                                                                                             \
    void vek_k_norm_diff_l1_##t(const T* a, const T* b, int32_t n, T* out) {                                      \
        *out = sum4<T>(n, [&](int64_t i) { return std::fabs(ld(a, i) - ld(b, i)); });                            \
    }                                                                                                             \
    void vek_k_norm_diff_l2_##t(const T* a, const T* b, int32_t n, T* out) {                                      \
        *out = sum4<T>(n, [&](int64_t i) { const T d = ld(a, i) - ld(b, i); return d * d; });                    \
    }                                                                                                             \
    void vek_k_stddev_##t(const T* s, int32_t n, T* out) {                                                        \
        *out = stddev(s, n);                                                                                      \
    }                                                                                                             \
    T vek_k_sum_##t(const T* s, int32_t n) {                                                                      \
        return sum4<T>(n, [&](int64_t i) { return ld(s, i); });                                                  \
    }
VEK_NORM_KERNELS(VEK_DEFINE_NORMS)
#undef VEK_DEFINE_NORMS

void vek_k_sum_complex_f32(const VekC32f* s, int32_t n, double out[2]) {
    long double re = 0, im = 0;
    for (int64_t i = 0; i < n; ++i) {
        const VekC32f z = ld(s, i);
        re += z.re;
        im += z.im;
    }
    out[0] = static_cast<double>(re);
    out[1] = static_cast<double>(im);
}

// --- extrema ------------------------------------------------------------------------------------------------------

// Floating maximum and minimum follow the SSE instructions: a comparison with a NaN keeps the second operand, the
// new element.
#define VEK_DEFINE_EXTREMA(t, T)                                     \
    void vek_k_max_##t(const T* s, int32_t n, T* out) {              \
        T m = ld(s, 0);                                              \
        for (int64_t i = 1; i < n; ++i) {                            \
            const T x = ld(s, i);                                    \
            m = m > x ? m : x;                                       \
        }                                                            \
        *out = m;                                                    \
    }                                                                \
    void vek_k_min_##t(const T* s, int32_t n, T* out) {              \
        T m = ld(s, 0);                                              \
        for (int64_t i = 1; i < n; ++i) {                            \
            const T x = ld(s, i);                                    \
            m = m < x ? m : x;                                       \
        }                                                            \
        *out = m;                                                    \
    }
VEK_EXTREMUM_KERNELS(VEK_DEFINE_EXTREMA)
#undef VEK_DEFINE_EXTREMA

float vek_k_min_block_32f(const float* s, int32_t n) {
    float m;
    vek_k_min_32f(s, n, &m);
    return m;
}
float vek_k_max_block_32f(const float* s, int32_t n) {
    float m;
    vek_k_max_32f(s, n, &m);
    return m;
}
int32_t vek_k_find_value_index_32(const int32_t* s, int32_t value) {
    int32_t i = 0;
    while (ld(s, i) != value) ++i;
    return i;
}
float vek_k_min_index_32f(const float* s, int32_t n, int32_t* index) {
    return index_walk<false>(s, n, index);
}
float vek_k_max_index_32f(const float* s, int32_t n, int32_t* index) {
    return index_walk<true>(s, n, index);
}
double vek_k_min_index_64f(const double* s, int32_t n, int32_t* index) {
    return index_walk<false>(s, n, index);
}
double vek_k_max_index_64f(const double* s, int32_t n, int32_t* index) {
    return index_walk<true>(s, n, index);
}

// --- dot products -------------------------------------------------------------------------------------------------

namespace {

int16_t scale16(int32_t x, int32_t sf) {
    if (sf > 30) sf = 31;
    if (sf < -13) sf = -14;
    int64_t v = x;
    if (sf > 0) v = (v + ((int64_t{1} << (sf - 1)) - 1) + ((v >> sf) & 1)) >> sf;
    if (sf < 0) v *= int64_t{1} << -sf;
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}

}  // namespace

// Complex by complex: real sum(ar br - ai bi), imaginary sum(ar bi + ai br); 32-bit sums that wrap, then the
// 16-bit scale-factor rule (sf clamped to -14..31, ties to even, saturated).
void vek_k_dot_c16_to16(const VekC16* a, const VekC16* b, int32_t n, VekC16* out, int32_t sf) {
    int64_t s[2];
    vek_k_dot_c16_to64(a, b, n, s);
    *out = VekC16{scale16(static_cast<int32_t>(static_cast<uint32_t>(s[0])), sf),
                  scale16(static_cast<int32_t>(static_cast<uint32_t>(s[1])), sf)};
}
void vek_k_dot_c16_to64(const VekC16* a, const VekC16* b, int32_t n, int64_t out[2]) {
    int64_t re = 0, im = 0;
    for (int64_t i = 0; i < n; ++i) {
        const VekC16 x = ld(a, i), y = ld(b, i);
        re += int64_t{x.re} * y.re - int64_t{x.im} * y.im;
        im += int64_t{x.re} * y.im + int64_t{x.im} * y.re;
    }
    out[0] = re;
    out[1] = im;
}
float vek_k_dot_32f(const float* a, const float* b, int32_t n) {
    return sum4<float>(n, [&](int64_t i) { return ld(a, i) * ld(b, i); });
}
VekC32f vek_k_dot_c32f(const VekC32f* a, const VekC32f* b, int32_t n) {
    const float re = sum4<float>(n, [&](int64_t i) { return ld(a, i).re * ld(b, i).re - ld(a, i).im * ld(b, i).im; });
    const float im = sum4<float>(n, [&](int64_t i) { return ld(a, i).re * ld(b, i).im + ld(a, i).im * ld(b, i).re; });
    return {re, im};
}
VekC32f vek_k_dot_32f_c32f(const float* a, const VekC32f* b, int32_t n) {
    return {sum4<float>(n, [&](int64_t i) { return ld(a, i) * ld(b, i).re; }),
            sum4<float>(n, [&](int64_t i) { return ld(a, i) * ld(b, i).im; })};
}
double vek_k_dot_64f(const double* a, const double* b, int32_t n) {
    return sum4<double>(n, [&](int64_t i) { return ld(a, i) * ld(b, i); });
}
VekC64f vek_k_dot_c64f(const VekC64f* a, const VekC64f* b, int32_t n) {
    const double re = sum4<double>(n, [&](int64_t i) { return ld(a, i).re * ld(b, i).re - ld(a, i).im * ld(b, i).im; });
    const double im = sum4<double>(n, [&](int64_t i) { return ld(a, i).re * ld(b, i).im + ld(a, i).im * ld(b, i).re; });
    return {re, im};
}
VekC64f vek_k_dot_64f_c64f(const double* a, const VekC64f* b, int32_t n) {
    return {sum4<double>(n, [&](int64_t i) { return ld(a, i) * ld(b, i).re; }),
            sum4<double>(n, [&](int64_t i) { return ld(a, i) * ld(b, i).im; })};
}
// Products in double precision (exact for floats), accumulated in extended precision.
double vek_k_dot_32f_to64f(const float* a, const float* b, int32_t n) {
    long double s = 0;
    for (int64_t i = 0; i < n; ++i) s += static_cast<double>(ld(a, i)) * ld(b, i);
    return static_cast<double>(s);
}
double vek_k_dot_16_32_to64f(const int16_t* a, const int32_t* b, int32_t n) {
    double s = 0;
    for (int64_t i = 0; i < n; ++i) s += static_cast<double>(ld(a, i)) * ld(b, i);
    return s;
}
