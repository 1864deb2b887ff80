// The SSE2 double-precision radix-4 FFT. The working data sits in the paired layout (re_a, re_b, im_a, im_b
// per two points), so one vector operation serves two butterflies: one vector holds the real parts of two
// points, another their imaginary parts. Passes: the radix-4 first pass (reading natural order through the
// bit-reversal list, or consecutive points), for odd orders the 8-point pass, then radix-4 stages of size 16
// or 32 and each four times larger, reading the stage-layout table in the order the loop consumes it.
#include <emmintrin.h>

#include <cstdint>

#include "layer1/vek/fft/engine/fft64f.h"

namespace {

// Two points in the paired layout.
struct Pair {
    __m128d re;
    __m128d im;
};

inline Pair load_pair(const double* block) { return {_mm_load_pd(block), _mm_load_pd(block + 2)}; }

inline void store_pair(double* block, const Pair& p)
{
    _mm_store_pd(block, p.re);
    _mm_store_pd(block + 2, p.im);
}

inline Pair add(const Pair& a, const Pair& b) { return {_mm_add_pd(a.re, b.re), _mm_add_pd(a.im, b.im)}; }
inline Pair sub(const Pair& a, const Pair& b) { return {_mm_sub_pd(a.re, b.re), _mm_sub_pd(a.im, b.im)}; }

// z times (c + i*s), or times its conjugate for the inverse; (c, s) is a stored (cos, -sin).
template <bool Inv>
inline Pair twiddle(const Pair& z, __m128d c, __m128d s)
{
    if (Inv) {
        return {_mm_add_pd(_mm_mul_pd(c, z.re), _mm_mul_pd(s, z.im)),
                _mm_sub_pd(_mm_mul_pd(c, z.im), _mm_mul_pd(s, z.re))};
    }
    return {_mm_sub_pd(_mm_mul_pd(c, z.re), _mm_mul_pd(s, z.im)), _mm_add_pd(_mm_mul_pd(c, z.im), _mm_mul_pd(s, z.re))};
}

inline __m128d negate(__m128d v) { return _mm_xor_pd(v, _mm_set1_pd(-0.0)); }

// -i*z forward, +i*z inverse: the parts exchanged and one sign inverted.
template <bool Inv>
inline Pair rotate(const Pair& z)
{
    return Inv ? Pair{negate(z.im), z.re} : Pair{z.im, negate(z.re)};
}

// One interleaved point (re, im) as a vector; -i or +i times it lane-wise.
template <bool Inv>
inline __m128d rotate_point(__m128d v)
{
    const __m128d swapped = _mm_shuffle_pd(v, v, 1);
    return _mm_xor_pd(swapped, Inv ? _mm_set_pd(0.0, -0.0) : _mm_set_pd(-0.0, 0.0));
}

inline __m128d load_point(const double* p) { return _mm_loadu_pd(p); }
inline __m128d load_point(const double* re, const double* im, std::int64_t i) { return _mm_set_pd(im[i], re[i]); }

// The 4-point transform of u0..u3 (first pass, no twiddles) into blocks 2g and 2g+1 of the working area.
template <bool Inv>
inline void first_butterfly(double* w, std::int64_t g, __m128d u0, __m128d u1, __m128d u2, __m128d u3)
{
    const __m128d s = _mm_add_pd(u0, u1);
    const __m128d d = _mm_sub_pd(u0, u1);
    const __m128d t = _mm_add_pd(u2, u3);
    const __m128d e = rotate_point<Inv>(_mm_sub_pd(u2, u3));
    const __m128d y0 = _mm_add_pd(s, t), y1 = _mm_add_pd(d, e);
    const __m128d y2 = _mm_sub_pd(s, t), y3 = _mm_sub_pd(d, e);
    store_pair(w + 8 * g, {_mm_unpacklo_pd(y0, y1), _mm_unpackhi_pd(y0, y1)});
    store_pair(w + 8 * g + 4, {_mm_unpacklo_pd(y2, y3), _mm_unpackhi_pd(y2, y3)});
}

// The bit-reversal list walk: the first entry is used as it stands, the walk ends at the first later entry
// that is not positive.
template <class F>
inline void walk_list(const std::int32_t* bitrev, F&& quartet)
{
    std::int64_t g = 0;
    do {
        quartet(g, static_cast<std::int64_t>(bitrev[g] / 2));
        ++g;
    } while (bitrev[g] > 0);
}

// The 8-point pass of odd orders: y[k] +- w8^k * y[4 + k], w8 = e^(-2*pi*i/8), conjugated for the inverse.
template <bool Inv>
void pass8(double* w, std::int64_t n)
{
    const double s = 0.70710678118654746;
    const __m128d re01 = _mm_set_pd(s, 1.0), im01 = _mm_set_pd(-s, 0.0);
    const __m128d re23 = _mm_set_pd(-s, 0.0), im23 = _mm_set_pd(-s, -1.0);
    for (std::int64_t g = 0; g < n; g += 8) {
        double* b = w + 2 * g;
        const Pair a01 = load_pair(b), a23 = load_pair(b + 4);
        const Pair z01 = twiddle<Inv>(load_pair(b + 8), re01, im01);
        const Pair z23 = twiddle<Inv>(load_pair(b + 12), re23, im23);
        store_pair(b, add(a01, z01));
        store_pair(b + 4, add(a23, z23));
        store_pair(b + 8, sub(a01, z01));
        store_pair(b + 12, sub(a23, z23));
    }
}

// One radix-4 stage of size c; its table block starts at t.
template <bool Inv>
void stage4(double* w, std::int64_t n, std::int64_t c, const double* t)
{
    const std::int64_t q = c / 4;
    for (std::int64_t g = 0; g < n; g += c) {
        double* y = w + 2 * g;
        const double* tw = t;
        for (std::int64_t j = 0; j < q; j += 2, tw += 12) {
            const Pair a = load_pair(y + 2 * j);
            const Pair b = twiddle<Inv>(load_pair(y + 2 * (j + q)), _mm_load_pd(tw + 4), _mm_load_pd(tw + 6));
            const Pair cc = twiddle<Inv>(load_pair(y + 2 * (j + 2 * q)), _mm_load_pd(tw), _mm_load_pd(tw + 2));
            const Pair d = twiddle<Inv>(load_pair(y + 2 * (j + 3 * q)), _mm_load_pd(tw + 8), _mm_load_pd(tw + 10));
            const Pair s1 = add(a, b), d1 = sub(a, b);
            const Pair s2 = add(cc, d), r = rotate<Inv>(sub(cc, d));
            store_pair(y + 2 * j, add(s1, s2));
            store_pair(y + 2 * (j + 2 * q), sub(s1, s2));
            store_pair(y + 2 * (j + q), add(d1, r));
            store_pair(y + 2 * (j + 3 * q), sub(d1, r));
        }
    }
}

// Every pass after the first on the working area in the paired layout.
template <bool Inv>
void later_passes(double* w, std::int64_t n, const double* table)
{
    std::int64_t p = 4;
    if ((n & 0x5555555555555555LL) == 0) {  // odd order
        pass8<Inv>(w, n);
        p = 8;
    }
    std::int64_t offset = 0;  // in doubles; a stage of size c takes 12c bytes
    for (; n / p >= 4; p *= 4) {
        stage4<Inv>(w, n, 4 * p, table + offset);
        offset += 6 * p;
    }
}

inline bool aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0; }

// Paired layout to interleaved points, two blocks (four points) a step; in place when to == from.
void paired_to_interleaved(const double* from, double* to, std::int64_t n)
{
    for (std::int64_t b = 0; b < n / 2; ++b) {
        const Pair p = load_pair(from + 4 * b);
        _mm_storeu_pd(to + 4 * b, _mm_unpacklo_pd(p.re, p.im));
        _mm_storeu_pd(to + 4 * b + 2, _mm_unpackhi_pd(p.re, p.im));
    }
}

void paired_to_split(const double* from, double* re, double* im, std::int64_t n)
{
    for (std::int64_t b = 0; b < n / 2; ++b) {
        _mm_storeu_pd(re + 2 * b, _mm_load_pd(from + 4 * b));
        _mm_storeu_pd(im + 2 * b, _mm_load_pd(from + 4 * b + 2));
    }
}

template <bool Inv>
void complex_reorder(const double* src, double* dst, std::int32_t n, const double* table, const std::int32_t* bitrev,
                     double* work)
{
    const std::int64_t N = n;
    double* w = (dst != src && aligned16(dst)) ? dst : work;
    walk_list(bitrev, [&](std::int64_t g, std::int64_t r) {
        first_butterfly<Inv>(w, g, load_point(src + 2 * r), load_point(src + 2 * (r + N / 2)),
                             load_point(src + 2 * (r + N / 4)), load_point(src + 2 * (r + 3 * N / 4)));
    });
    later_passes<Inv>(w, N, table);
    paired_to_interleaved(w, dst, N);
}

template <bool Inv>
void complex_inplace(double* data, std::int32_t n, const double* table, double* work, std::int32_t layout)
{
    const std::int64_t N = n;
    double* w = aligned16(data) ? data : work;
    for (std::int64_t g = 0; g < N / 4; ++g) {
        const double* u = data + 8 * g;
        first_butterfly<Inv>(w, g, load_point(u), load_point(u + 2), load_point(u + 4), load_point(u + 6));
    }
    later_passes<Inv>(w, N, table);
    if (layout == 1) {
        paired_to_interleaved(w, data, N);
    } else if (w != data) {
        for (std::int64_t i = 0; i < 2 * N; i += 2) {
            _mm_storeu_pd(data + i, _mm_load_pd(w + i));
        }
    }
}

template <bool Inv>
void split_reorder(const double* sr, const double* si, double* dr, double* di, std::int32_t n, const double* table,
                   const std::int32_t* bitrev, double* work)
{
    const std::int64_t N = n;
    walk_list(bitrev, [&](std::int64_t g, std::int64_t r) {
        first_butterfly<Inv>(work, g, load_point(sr, si, r), load_point(sr, si, r + N / 2),
                             load_point(sr, si, r + N / 4), load_point(sr, si, r + 3 * N / 4));
    });
    later_passes<Inv>(work, N, table);
    paired_to_split(work, dr, di, N);
}

template <bool Inv>
void split_inplace(double* re, double* im, std::int32_t n, const double* table, double* work)
{
    const std::int64_t N = n;
    for (std::int64_t g = 0; g < N / 4; ++g) {
        const std::int64_t i = 4 * g;
        first_butterfly<Inv>(work, g, load_point(re, im, i), load_point(re, im, i + 1), load_point(re, im, i + 2),
                             load_point(re, im, i + 3));
    }
    later_passes<Inv>(work, N, table);
    paired_to_split(work, re, im, N);
}

}  // namespace

void vek_k_fft64f_radix4_fwd_complex_reorder_wd(const double* src, double* dst, std::int32_t n, const double* t,
                                                const std::int32_t* bitrev, double* work)
{
    complex_reorder<false>(src, dst, n, t, bitrev, work);
}
void vek_k_fft64f_radix4_inv_complex_reorder_wd(const double* src, double* dst, std::int32_t n, const double* t,
                                                const std::int32_t* bitrev, double* work)
{
    complex_reorder<true>(src, dst, n, t, bitrev, work);
}
void vek_k_fft64f_radix4_fwd_complex_wd(double* data, std::int32_t n, const double* t, double* work,
                                        std::int32_t layout)
{
    complex_inplace<false>(data, n, t, work, layout);
}
void vek_k_fft64f_radix4_inv_complex_wd(double* data, std::int32_t n, const double* t, double* work,
                                        std::int32_t layout)
{
    complex_inplace<true>(data, n, t, work, layout);
}
void vek_k_fft64f_radix4_fwd_split_reorder_wd(const double* sr, const double* si, double* dr, double* di,
                                              std::int32_t n, const double* t, const std::int32_t* bitrev,
                                              double* work)
{
    split_reorder<false>(sr, si, dr, di, n, t, bitrev, work);
}
void vek_k_fft64f_radix4_inv_split_reorder_wd(const double* sr, const double* si, double* dr, double* di,
                                              std::int32_t n, const double* t, const std::int32_t* bitrev,
                                              double* work)
{
    split_reorder<true>(sr, si, dr, di, n, t, bitrev, work);
}
void vek_k_fft64f_radix4_fwd_split_wd(double* re, double* im, std::int32_t n, const double* t, double* work)
{
    split_inplace<false>(re, im, n, t, work);
}
void vek_k_fft64f_radix4_inv_split_wd(double* re, double* im, std::int32_t n, const double* t, double* work)
{
    split_inplace<true>(re, im, n, t, work);
}
