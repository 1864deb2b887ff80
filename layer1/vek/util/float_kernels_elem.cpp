// Element-wise kernels without an entry: square roots, conversions, magnitude and phase of float and 16-bit complex
// data, power spectra, absolute values, and the split and join of 32-bit and 64-bit complex data.
#include <xmmintrin.h>

#include <algorithm>
#include <cfloat>
#include <complex>
#include <limits>

#include "layer1/vek/util/float_kernels.h"
#include "layer1/vek/util/kernel_access.h"
#include "layer1/vek/util/root.h"

using vek::kernels::each;
using vek::kernels::ld;
using vek::kernels::scaled_round;
using vek::kernels::st;

// --- square roots -------------------------------------------------------------------------------------------------

// x * rsqrt(x) refined by one Newton step, four lanes at a time; the rounding control is set to nearest for the
// loop and the caller's MXCSR written back afterwards.
void vek_k_sqrt_32f_approx(const float* s, float* d, int32_t n) {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved & ~0x6000u);
    int64_t i = 0;
    auto four = [](__m128 x) {
        const __m128 r = _mm_rsqrt_ps(x);
        const __m128 y = _mm_mul_ps(_mm_mul_ps(_mm_set1_ps(0.5f), r),
                                    _mm_sub_ps(_mm_set1_ps(3.0f), _mm_mul_ps(_mm_mul_ps(x, r), r)));
        const __m128 root = _mm_mul_ps(x, y);
        return _mm_andnot_ps(_mm_cmpeq_ps(x, _mm_setzero_ps()), root);  // sqrt(0) = 0, not 0 * inf
    };
    for (; n - i >= 4; i += 4) _mm_storeu_ps(d + i, four(_mm_loadu_ps(s + i)));
    for (; i < n; ++i) st(d, i, _mm_cvtss_f32(four(_mm_set_ss(ld(s, i)))));
    _mm_setcsr(saved);
}
void vek_k_sqrt_32f(const float* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::sqrt(ld(s, i))); });
}
void vek_k_sqrt_64f(const double* s, double* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::sqrt(ld(s, i))); });
}
// Both parts are halved first so that no square overflows; the root is scaled back by sqrt(2).
void vek_k_sqrt_c64f(const VekC64f* s, VekC64f* d, int32_t n) {
    each(n, [&](int64_t i) {
        const VekC64f z = ld(s, i);
        const std::complex<double> r = std::sqrt(std::complex<double>(z.re * 0.5, z.im * 0.5)) * std::sqrt(2.0);
        st(d, i, VekC64f{r.real(), r.imag()});
    });
}

namespace {

// round(sqrt(x) * 2^-sf), ties to even, for 0 <= x < 2^32; saturated to hi (at most 2^31 - 1).
uint64_t root_scaled(uint64_t x, int32_t sf, uint64_t hi) {
    if (x == 0) return 0;
    if (sf > 20) return 0;  // sqrt(2^32) * 2^-21 < 1/2
    if (sf >= 0) return std::min(vek::root::round_root(x, sf), hi);
    const int64_t s = -int64_t{sf};
    if (s >= 31 || x > ((uint64_t{1} << 62) >> (2 * s))) return hi;  // the root is 2^31 or more
    return std::min(vek::root::round_root(x << (2 * s), 0), hi);
}

}  // namespace

void vek_k_sqrt_32s_scaled(const int32_t* s, int32_t* d, int32_t n, int32_t sf) {
    each(n, [&](int64_t i) {
        const int32_t x = ld(s, i);
        st<int32_t>(d, i, x <= 0 ? 0 : static_cast<int32_t>(root_scaled(static_cast<uint64_t>(x), sf, INT32_MAX)));
    });
}
void vek_k_sqrt_16u_scaled(const uint16_t* s, uint16_t* d, int32_t n, int32_t sf) {
    each(n, [&](int64_t i) { st(d, i, static_cast<uint16_t>(root_scaled(ld(s, i), sf, 65535))); });
}
void vek_k_sqrt_64s(const int64_t* s, int64_t* d, int32_t n) {
    each(n, [&](int64_t i) {
        const int64_t x = ld(s, i);
        if (x <= 0) {
            st<int64_t>(d, i, 0);
            return;
        }
        const uint64_t f = vek::root::isqrt(static_cast<uint64_t>(x));
        // (f + 1/2)^2 = f^2 + f + 1/4: round up when x > f^2 + f
        st(d, i, static_cast<int64_t>(static_cast<uint64_t>(x) - f * f > f ? f + 1 : f));
    });
}
void vek_k_lookup_8u(const uint8_t* s, uint8_t* d, int32_t n, const uint8_t* table) {
    each(n, [&](int64_t i) { d[i] = table[s[i]]; });
}

// --- conversions --------------------------------------------------------------------------------------------------

#define VEK_DEFINE_WIDEN(a, b, S, D)                                                               \
    void vek_k_convert_##a##_##b(const S* s, D* d, int32_t n) {                                    \
        each(n, [&](int64_t i) { st(d, i, static_cast<D>(ld(s, i))); });                           \
    }
#define VEK_DEFINE_NARROW(a, b, S, D)                                                                               \
    void vek_k_convert_##a##_##b##_scaled(const S* s, D* d, int32_t n, int32_t mode, int32_t sf) {                  \
        each(n, [&](int64_t i) {                                                                                    \
            st(d, i, static_cast<D>(scaled_round(ld(s, i), sf, mode, std::numeric_limits<D>::min(),                \
                                                 std::numeric_limits<D>::max())));                                  \
        });                                                                                                         \
    }
VEK_WIDEN_KERNELS(VEK_DEFINE_WIDEN)
VEK_NARROW_KERNELS(VEK_DEFINE_NARROW)
#undef VEK_DEFINE_WIDEN
#undef VEK_DEFINE_NARROW

void vek_k_convert_f64_f32(const double* s, float* d, int32_t n) {
    each(n, [&](int64_t i) {
        const double x = ld(s, i);
        st(d, i, static_cast<float>(x > FLT_MAX ? FLT_MAX : (x < -FLT_MAX ? -FLT_MAX : x)));
    });
}
void vek_k_convert_16s_f32_times(const int16_t* s, float* d, int32_t n, const float* factor) {
    const float f = *factor;
    each(n, [&](int64_t i) { st(d, i, static_cast<float>(ld(s, i)) * f); });
}
void vek_k_convert_16s_f64_times(const int16_t* s, double* d, int32_t n, const double* factor) {
    const double f = *factor;
    each(n, [&](int64_t i) { st(d, i, static_cast<double>(ld(s, i)) * f); });
}

// --- magnitude, phase, power ----------------------------------------------------------------------------------------

void vek_k_magnitude_c32f(const VekC32f* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC32f z = ld(s, i); st(d, i, std::sqrt(z.re * z.re + z.im * z.im)); });
}
void vek_k_magnitude_split_32f(const float* re, const float* im, float* d, int32_t n) {
    each(n, [&](int64_t i) { const float a = ld(re, i), b = ld(im, i); st(d, i, std::sqrt(a * a + b * b)); });
}
void vek_k_magnitude_c64f(const VekC64f* s, double* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC64f z = ld(s, i); st(d, i, std::sqrt(z.re * z.re + z.im * z.im)); });
}
void vek_k_magnitude_split_64f(const double* re, const double* im, double* d, int32_t n) {
    each(n, [&](int64_t i) { const double a = ld(re, i), b = ld(im, i); st(d, i, std::sqrt(a * a + b * b)); });
}
void vek_k_magnitude_c16_32f(const VekC16* s, float* d, int32_t n) {
    each(n, [&](int64_t i) {
        const VekC16 z = ld(s, i);
        st(d, i, static_cast<float>(std::sqrt(double(z.re) * z.re + double(z.im) * z.im)));
    });
}
void vek_k_phase_c32f(const VekC32f* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC32f z = ld(s, i); st(d, i, std::atan2(z.im, z.re)); });
}
void vek_k_phase_split_32f(const float* re, const float* im, float* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::atan2(ld(im, i), ld(re, i))); });
}
void vek_k_phase_c64f(const VekC64f* s, double* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC64f z = ld(s, i); st(d, i, std::atan2(z.im, z.re)); });
}
void vek_k_phase_split_64f(const double* re, const double* im, double* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::atan2(ld(im, i), ld(re, i))); });
}
void vek_k_phase_c16_32f(const VekC16* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC16 z = ld(s, i); st(d, i, std::atan2(float(z.im), float(z.re))); });
}
void vek_k_phase_split_16_32f(const int16_t* re, const int16_t* im, float* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::atan2(float(ld(im, i)), float(ld(re, i)))); });
}

void vek_k_power_spectrum_c64f(const VekC64f* s, double* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC64f z = ld(s, i); st(d, i, z.re * z.re + z.im * z.im); });
}
void vek_k_power_spectrum_split_64f(const double* re, const double* im, double* d, int32_t n) {
    each(n, [&](int64_t i) { const double a = ld(re, i), b = ld(im, i); st(d, i, a * a + b * b); });
}
void vek_k_power_spectrum_c32f(const VekC32f* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { const VekC32f z = ld(s, i); st(d, i, z.re * z.re + z.im * z.im); });
}
void vek_k_power_spectrum_split_32f(const float* re, const float* im, float* d, int32_t n) {
    each(n, [&](int64_t i) { const float a = ld(re, i), b = ld(im, i); st(d, i, a * a + b * b); });
}
// P is exact in 32 unsigned bits (two -32768 parts give 2^31) and converted from that.
void vek_k_power_spectrum_16_to32f(const VekC16* s, float* d, int32_t n) {
    each(n, [&](int64_t i) {
        const VekC16 z = ld(s, i);
        st(d, i, static_cast<float>(uint32_t(int32_t{z.re} * z.re) + uint32_t(int32_t{z.im} * z.im)));
    });
}
void vek_k_power_spectrum_split_16_to32f(const int16_t* re, const int16_t* im, float* d, int32_t n) {
    each(n, [&](int64_t i) {
        const int32_t a = ld(re, i), b = ld(im, i);
        st(d, i, static_cast<float>(uint32_t(a * a) + uint32_t(b * b)));
    });
}

// --- absolute value, split and join -------------------------------------------------------------------------------

void vek_k_abs_32f(const float* s, float* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::fabs(ld(s, i))); });
}
void vek_k_abs_64f(const double* s, double* d, int32_t n) {
    each(n, [&](int64_t i) { st(d, i, std::fabs(ld(s, i))); });
}
void vek_k_abs_64f_inplace(double* v, int32_t n) {
    vek_k_abs_64f(v, v, n);
}
void vek_k_complex_real_32(const int32_t* c, int32_t* re, int32_t n) {
    each(n, [&](int64_t i) { st(re, i, ld(c, 2 * i)); });
}
void vek_k_complex_imag_32(const int32_t* c, int32_t* im, int32_t n) {
    each(n, [&](int64_t i) { st(im, i, ld(c, 2 * i + 1)); });
}
void vek_k_complex_join_32(const int32_t* re, const int32_t* im, int32_t* c, int32_t n) {
    each(n, [&](int64_t i) { st(c, 2 * i, ld(re, i)); st(c, 2 * i + 1, ld(im, i)); });
}
void vek_k_complex_join_re_32(const int32_t* re, int32_t* c, int32_t n) {
    each(n, [&](int64_t i) { st(c, 2 * i, ld(re, i)); st(c, 2 * i + 1, 0); });
}
void vek_k_complex_join_im_32(const int32_t* im, int32_t* c, int32_t n) {
    each(n, [&](int64_t i) { st(c, 2 * i, 0); st(c, 2 * i + 1, ld(im, i)); });
}
void vek_k_complex_real_64(const int64_t* c, int64_t* re, int32_t n) {
    each(n, [&](int64_t i) { st(re, i, ld(c, 2 * i)); });
}
void vek_k_complex_join_64(const int64_t* re, const int64_t* im, int64_t* c, int32_t n) {
    each(n, [&](int64_t i) { st(c, 2 * i, ld(re, i)); st(c, 2 * i + 1, ld(im, i)); });
}
