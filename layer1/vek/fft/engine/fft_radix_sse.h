// Vector pieces of the ss and wd radix-4 kernels: four butterflies at once, the stage-block twiddles giving
// the cos and -sin of four consecutive butterflies in one aligned load each. The products and sums are those
// of the scalar pass in the same order, each rounded to single precision (no fused multiply-add).
#pragma once

#include <xmmintrin.h>

#include <cstdint>

namespace vekfft {

// Four consecutive complex values as real and imaginary vectors.
struct Quad {
    __m128 re;
    __m128 im;
};

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

// a, b, c, d already twiddled; y0 .. y3 as the scalar butterfly forms them.
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

}  // namespace vekfft
