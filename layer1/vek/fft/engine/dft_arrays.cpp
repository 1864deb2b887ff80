// The array kernels of the chirp-z transform: complex product, conjugate copy and complex zero fill.
#include <xmmintrin.h>

#include <cstring>

#include "layer1/vek/fft/engine/dft_kernels.h"

namespace {

template <class Acc>
inline void mul_one(const float* a, const float* b, float* dst, std::int64_t i)
{
    const Acc ar = a[2 * i], ai = a[2 * i + 1], br = b[2 * i], bi = b[2 * i + 1];
    dst[2 * i] = static_cast<float>(ar * br - ai * bi);
    dst[2 * i + 1] = static_cast<float>(ar * bi + ai * br);
}

void conj_copy(const float* src, float* dst, std::int32_t n)
{
    for (std::int32_t i = 0; i < n; ++i) {
        dst[2 * i] = src[2 * i];
        dst[2 * i + 1] = -src[2 * i + 1];
    }
}

void zero_fill(float* dst, std::int32_t n)
{
    if (n > 0) {
        std::memset(dst, 0, static_cast<std::size_t>(n) * 8);
    }
}

}  // namespace

void vek_k_mul_c32f_wd(const float* a, const float* b, float* dst, std::int32_t n)
{
    std::int64_t top = n;
    for (; top >= 4; top -= 4) {  // elements top - 4 .. top - 1, real and imaginary parts in separate lanes
        const float* pa = a + 2 * (top - 4);
        const float* pb = b + 2 * (top - 4);
        const __m128 a0 = _mm_loadu_ps(pa), a1 = _mm_loadu_ps(pa + 4);
        const __m128 b0 = _mm_loadu_ps(pb), b1 = _mm_loadu_ps(pb + 4);
        const __m128 ar = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0)), ai = _mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 br = _mm_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0)), bi = _mm_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1));
        const __m128 re = _mm_sub_ps(_mm_mul_ps(ar, br), _mm_mul_ps(ai, bi));
        const __m128 im = _mm_add_ps(_mm_mul_ps(ar, bi), _mm_mul_ps(ai, br));
        _mm_storeu_ps(dst + 2 * (top - 4), _mm_unpacklo_ps(re, im));
        _mm_storeu_ps(dst + 2 * (top - 4) + 4, _mm_unpackhi_ps(re, im));
    }
    for (std::int64_t i = 0; i < top; ++i) {
        mul_one<float>(a, b, dst, i);
    }
}

void vek_k_mul_c32f(const float* a, const float* b, float* dst, std::int32_t n)
{
    for (std::int64_t i = 0; i < n; ++i) {
        mul_one<long double>(a, b, dst, i);
    }
}

void vek_k_conj_c32f_wd(const float* src, float* dst, std::int32_t n) { conj_copy(src, dst, n); }
void vek_k_conj_c32f_ss(const float* src, float* dst, std::int32_t n) { conj_copy(src, dst, n); }
void vek_k_conj_c32f(const float* src, float* dst, std::int32_t n) { conj_copy(src, dst, n); }
void vek_k_zero_c32f_wd(float* dst, std::int32_t n) { zero_fill(dst, n); }
void vek_k_zero_c32f_ss(float* dst, std::int32_t n) { zero_fill(dst, n); }
void vek_k_zero_c32f(float* dst, std::int32_t n) { zero_fill(dst, n); }
