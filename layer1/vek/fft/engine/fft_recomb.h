// Real-data recombination: the spectrum of N real values from the complex transform of the N/2 values
// z[n] = x[2n] + i*x[2n+1], and back. Bins 0 and N/2 belong to the drivers; these kernels do bins 1..H-1.
#pragma once

#include <xmmintrin.h>

#include <cstdint>
#include <type_traits>

namespace vekfft {

// Four bins k .. k+3 of interleaved data as real and imaginary vectors, and the four mirrored bins
// H-k .. H-k-3 in that (descending) order.
struct RecombQuad {
    __m128 re;
    __m128 im;
};

inline RecombQuad recomb_load_up(const float* p)
{
    const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
    return {_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))};
}

inline void recomb_store_up(float* p, __m128 re, __m128 im)
{
    _mm_storeu_ps(p, _mm_unpacklo_ps(re, im));
    _mm_storeu_ps(p + 4, _mm_unpackhi_ps(re, im));
}

inline __m128 reversed(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }

// p points at the lowest of the four mirrored bins (H-k-3).
inline RecombQuad recomb_load_down(const float* p)
{
    const RecombQuad q = recomb_load_up(p);
    return {reversed(q.re), reversed(q.im)};
}

inline void recomb_store_down(float* p, __m128 re, __m128 im) { recomb_store_up(p, reversed(re), reversed(im)); }

// Coefficients of bin k (1 <= k <= N/4) in the pair layout (gen, mm) or the block layout (ss, wd).
template <bool Blocks>
inline void recomb_coeffs(const float* t, std::int64_t k, float& a, float& b)
{
    if (Blocks) {
        const std::int64_t m = (k - 1) / 4;
        const std::int64_t l = (k - 1) % 4;
        a = t[8 * m + l];
        b = t[8 * m + 4 + l];
    } else {
        a = t[2 * k];
        b = t[2 * k + 1];
    }
}

// In place on the 2H floats of data holding Z[0..H-1]; floats 2..2H-1 become R(1), I(1), ...
template <class Acc, bool Blocks>
void recomb_fwd(float* data, std::int64_t h, const float* table)
{
    const std::int64_t n = 2 * h;
    std::int64_t k = 1;
    if constexpr (Blocks && std::is_same_v<Acc, float>) {  // four bins a step, the same operations lane-wise
        for (; k + 3 < h / 2; k += 4) {
            const __m128 a = _mm_load_ps(table + 2 * (k - 1)), b = _mm_load_ps(table + 2 * (k - 1) + 4);
            const RecombQuad x = recomb_load_up(data + 2 * k), y = recomb_load_down(data + n - 2 * k - 6);
            const __m128 s = _mm_add_ps(x.im, y.im);
            const __m128 d = _mm_sub_ps(x.re, y.re);
            const __m128 g = _mm_add_ps(_mm_mul_ps(d, b), _mm_mul_ps(s, a));
            const __m128 t = _mm_sub_ps(_mm_mul_ps(s, b), _mm_mul_ps(d, a));
            recomb_store_up(data + 2 * k, _mm_add_ps(y.re, g), _mm_sub_ps(t, y.im));
            recomb_store_down(data + n - 2 * k - 6, _mm_sub_ps(x.re, g), _mm_sub_ps(t, x.im));
        }
    }
    for (; k < h / 2; ++k) {
        float a, b;
        recomb_coeffs<Blocks>(table, k, a, b);
        const Acc ar = data[2 * k], ai = data[2 * k + 1];
        const Acc br = data[n - 2 * k], bi = data[n - 2 * k + 1];
        const Acc s = ai + bi;
        const Acc d = ar - br;
        const Acc g = d * Acc(b) + s * Acc(a);
        const Acc t = s * Acc(b) - d * Acc(a);
        data[2 * k] = static_cast<float>(br + g);
        data[2 * k + 1] = static_cast<float>(t - bi);
        data[n - 2 * k] = static_cast<float>(ar - g);
        data[n - 2 * k + 1] = static_cast<float>(t - ai);
    }
    data[h + 1] = -data[h + 1];
}

// Floats 2..2H-1 of src (bins 1..H-1) to 2*Z[1..H-1] in dst; src may equal dst.
template <class Acc, bool Blocks>
void recomb_inv(const float* src, float* dst, std::int64_t h, const float* table)
{
    const std::int64_t n = 2 * h;
    const float mr = src[h];
    const float mi = src[h + 1];
    std::int64_t k = 1;
    if constexpr (Blocks && std::is_same_v<Acc, float>) {
        for (; k + 3 < h / 2; k += 4) {
            const __m128 c = _mm_load_ps(table + 2 * (k - 1)), e = _mm_load_ps(table + 2 * (k - 1) + 4);
            const RecombQuad p = recomb_load_up(src + 2 * k), q = recomb_load_down(src + n - 2 * k - 6);
            const __m128 dr = _mm_sub_ps(p.re, q.re), si = _mm_add_ps(p.im, q.im);
            const __m128 d = _mm_sub_ps(_mm_mul_ps(dr, e), _mm_mul_ps(si, c));
            const __m128 u = _mm_add_ps(_mm_mul_ps(dr, c), _mm_mul_ps(si, e));
            const __m128 sr = _mm_add_ps(p.re, q.re), di = _mm_sub_ps(p.im, q.im);
            recomb_store_up(dst + 2 * k, _mm_add_ps(sr, d), _mm_add_ps(di, u));
            recomb_store_down(dst + n - 2 * k - 6, _mm_sub_ps(sr, d), _mm_sub_ps(u, di));
        }
    }
    for (; k < h / 2; ++k) {
        float c, e;
        recomb_coeffs<Blocks>(table, k, c, e);
        const Acc pr = src[2 * k], pi = src[2 * k + 1];
        const Acc qr = src[n - 2 * k], qi = src[n - 2 * k + 1];
        const Acc d = (pr - qr) * Acc(e) - (pi + qi) * Acc(c);
        const Acc u = (pr - qr) * Acc(c) + (pi + qi) * Acc(e);
        dst[2 * k] = static_cast<float>(pr + qr + d);
        dst[2 * k + 1] = static_cast<float>(pi - qi + u);
        dst[n - 2 * k] = static_cast<float>(pr + qr - d);
        dst[n - 2 * k + 1] = static_cast<float>(u - (pi - qi));
    }
    dst[h] = 2.0f * mr;
    dst[h + 1] = -2.0f * mi;
}

}  // namespace vekfft
