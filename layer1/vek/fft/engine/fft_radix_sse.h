// Radix-4 pass of the vector columns (ss, wd) on four butterflies at once: the stage-block twiddles give
// the cos and -sin of four consecutive butterflies in one aligned load each. The products and sums are
// those of the scalar pass in the same order, each rounded to single precision (no fused multiply-add),
// so both give the same values.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

namespace vekfft {

// Four consecutive complex values as real and imaginary vectors.
struct Quad {
    __m128 re;
    __m128 im;
};

inline Quad load4(const float* p)  // interleaved
{
    const __m128 a = _mm_loadu_ps(p);
    const __m128 b = _mm_loadu_ps(p + 4);
    return {_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))};
}

inline void store4(float* p, const Quad& q)
{
    _mm_storeu_ps(p, _mm_unpacklo_ps(q.re, q.im));
    _mm_storeu_ps(p + 4, _mm_unpackhi_ps(q.re, q.im));
}

inline Quad load4(const float* re, const float* im) { return {_mm_loadu_ps(re), _mm_loadu_ps(im)}; }

inline void store4(float* re, float* im, const Quad& q)
{
    _mm_storeu_ps(re, q.re);
    _mm_storeu_ps(im, q.im);
}

template <bool Inv>
inline Quad twiddle4(const Quad& z, const float* cs)
{
    const __m128 c = _mm_load_ps(cs);
    const __m128 s = _mm_load_ps(cs + 4);
    if (Inv) {
        return {_mm_add_ps(_mm_mul_ps(c, z.re), _mm_mul_ps(s, z.im)), _mm_sub_ps(_mm_mul_ps(c, z.im), _mm_mul_ps(s, z.re))};
    }
    return {_mm_sub_ps(_mm_mul_ps(c, z.re), _mm_mul_ps(s, z.im)), _mm_add_ps(_mm_mul_ps(c, z.im), _mm_mul_ps(s, z.re))};
}

// a, b, c, d already twiddled; writes y0 .. y3 as the scalar butterfly does.
template <bool Inv>
inline void butterfly4x4(const Quad& a, const Quad& b, const Quad& c, const Quad& d, Quad* y)
{
    const __m128 s1r = _mm_add_ps(a.re, b.re), s1i = _mm_add_ps(a.im, b.im);
    const __m128 d1r = _mm_sub_ps(a.re, b.re), d1i = _mm_sub_ps(a.im, b.im);
    const __m128 s2r = _mm_add_ps(c.re, d.re), s2i = _mm_add_ps(c.im, d.im);
    const __m128 d2r = _mm_sub_ps(c.re, d.re), d2i = _mm_sub_ps(c.im, d.im);
    const __m128 zero = _mm_setzero_ps();
    const __m128 rr = Inv ? _mm_sub_ps(zero, d2i) : d2i;
    const __m128 ri = Inv ? d2r : _mm_sub_ps(zero, d2r);
    y[0] = {_mm_add_ps(s2r, s1r), _mm_add_ps(s2i, s1i)};
    y[2] = {_mm_sub_ps(s1r, s2r), _mm_sub_ps(s1i, s2i)};
    y[1] = {_mm_add_ps(d1r, rr), _mm_add_ps(d1i, ri)};
    y[3] = {_mm_sub_ps(d1r, rr), _mm_sub_ps(d1i, ri)};
}

// One radix-4 pass of size >= 16 over n points. Data: Interleaved or Split (see fft_radix.h); the twiddles
// of the stage start at `block`. The butterfly j = 0 goes through the table's unit twiddle as well; its
// products are exact, so the values equal the scalar pass's.
template <bool Inv, class D>
void pass4_vector(const D& x, std::int64_t n, std::int64_t size, const float* block)
{
    const std::int64_t q = size / 4;
    for (std::int64_t g = 0; g < n; g += size) {
        for (std::int64_t j = 0; j < q; j += 4) {
            const float* t = block + (j / 4) * 24;
            Quad v[4];
            for (int k = 0; k < 4; ++k) {
                if constexpr (D::kInterleaved) {
                    v[k] = load4(x.d + 2 * (g + j + k * q));
                } else {
                    v[k] = load4(x.re + g + j + k * q, x.im + g + j + k * q);
                }
            }
            Quad y[4];
            butterfly4x4<Inv>(v[0], twiddle4<Inv>(v[1], t + 8), twiddle4<Inv>(v[2], t), twiddle4<Inv>(v[3], t + 16), y);
            for (int k = 0; k < 4; ++k) {
                if constexpr (D::kInterleaved) {
                    store4(x.d + 2 * (g + j + k * q), y[k]);
                } else {
                    store4(x.re + g + j + k * q, x.im + g + j + k * q, y[k]);
                }
            }
        }
    }
}

}  // namespace vekfft
