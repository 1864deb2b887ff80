// The vector radix-4 kernels of the ss and wd columns. The working data sits in the quad-block layout
// (blocks of eight floats: four real parts, then the four imaginary parts of four consecutive elements), so
// every radix-4 pass after the first works on whole aligned vectors, four butterflies at a time, with the
// stage-block twiddles of four butterflies in six aligned loads and no shuffles. Interleaving happens only
// in the first pass (while loading) and in the final store.
//
// The first pass is fused with the second: four quartets (even orders: the 4-point transforms, then the
// 16-point butterflies with table block 0) or two pairs of quartets (odd orders: the 4-point transforms, then
// the 8-point butterflies with the eighth roots) a step. The quartets are loaded with one quartet per lane,
// transformed lane-wise, and transposed so that the lanes then hold the butterflies of the next pass. Every
// product and sum is rounded to single precision in the order of the scalar passes; no fused multiply-add.
#include <xmmintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "layer1/vek/fft/engine/fft_engine.h"
#include "layer1/vek/fft/engine/fft_radix_sse.h"

using vekfft::butterfly4x4;
using vekfft::Quad;
using vekfft::twiddle4;

namespace {

// Eighth roots e^(-2 pi i k / 8), k = 0..3, real parts then imaginary parts; cos(pi/4) is the single whose
// bits are 0x3F3504F4, one unit above the nearest single to sqrt(1/2).
struct alignas(16) EighthRoots {
    float v[8];
};
constexpr float kS = std::bit_cast<float>(std::uint32_t{0x3F3504F4u});
constexpr EighthRoots kEighth = {{1.0f, kS, 0.0f, -kS, 0.0f, -kS, -1.0f, -kS}};

inline bool aligned16(const void* p) { return (reinterpret_cast<std::uintptr_t>(p) & 15) == 0; }

// Two interleaved elements a and b as (a.re, a.im, b.re, b.im), any alignment.
inline __m128 load_two(const float* a, const float* b)
{
    __m128 v = _mm_setzero_ps();
    v = _mm_loadl_pi(v, reinterpret_cast<const __m64*>(a));
    return _mm_loadh_pi(v, reinterpret_cast<const __m64*>(b));
}

// Element at[k] + off of interleaved data for the four lanes k.
inline Quad gather_interleaved(const float* d, const std::int64_t at[4], std::int64_t off)
{
    const __m128 p = load_two(d + 2 * (at[0] + off), d + 2 * (at[1] + off));
    const __m128 q = load_two(d + 2 * (at[2] + off), d + 2 * (at[3] + off));
    return {_mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1))};
}

inline Quad gather_split(const float* re, const float* im, const std::int64_t at[4], std::int64_t off)
{
    return {_mm_set_ps(re[at[3] + off], re[at[2] + off], re[at[1] + off], re[at[0] + off]),
            _mm_set_ps(im[at[3] + off], im[at[2] + off], im[at[1] + off], im[at[0] + off])};
}

inline Quad add(const Quad& a, const Quad& b) { return {_mm_add_ps(a.re, b.re), _mm_add_ps(a.im, b.im)}; }
inline Quad sub(const Quad& a, const Quad& b) { return {_mm_sub_ps(a.re, b.re), _mm_sub_ps(a.im, b.im)}; }

// The first pass lane-wise: v[m] holds element m of each lane's quartet; y0 = (u2 + u3) + (u0 + u1),
// y2 = (u0 + u1) - (u2 + u3), y1 and y3 = (u0 - u1) +- rho (u2 - u3), rho = -i forward, +i inverse.
template <bool Inv>
inline void four_point(Quad v[4])
{
    const Quad s = add(v[0], v[1]), d = sub(v[0], v[1]);
    const Quad t = add(v[2], v[3]), e0 = sub(v[2], v[3]);
    const __m128 zero = _mm_setzero_ps();
    const Quad e = Inv ? Quad{_mm_sub_ps(zero, e0.im), e0.re} : Quad{e0.im, _mm_sub_ps(zero, e0.re)};
    v[0] = add(t, s);
    v[2] = sub(s, t);
    v[1] = add(d, e);
    v[3] = sub(d, e);
}

inline void transpose(Quad v[4])
{
    _MM_TRANSPOSE4_PS(v[0].re, v[1].re, v[2].re, v[3].re);
    _MM_TRANSPOSE4_PS(v[0].im, v[1].im, v[2].im, v[3].im);
}

inline void store_block(float* area, std::int64_t block, const Quad& q)
{
    _mm_store_ps(area + 8 * block, q.re);
    _mm_store_ps(area + 8 * block + 4, q.im);
}

inline Quad load_block(const float* area, std::int64_t block)
{
    return {_mm_load_ps(area + 8 * block), _mm_load_ps(area + 8 * block + 4)};
}

// Fused first step on four quartets whose elements are v[m] (lane k = quartet k): writes blocks first ..
// first + 3 of the area (even orders: sizes 4 and 16; odd orders: two steps of sizes 4 and 8). N = 8 has
// only two quartets: lanes 2 and 3 repeat them and their blocks are not stored.
template <bool Inv>
[[gnu::always_inline]] inline void fused_step(Quad v[4], bool oddOrder, const float* table, float* area, std::int64_t first, bool half)
{
    four_point<Inv>(v);
    transpose(v);  // v[k]: the 4-point outputs of quartet k, lanes m
    float* y = area + 8 * first;
    if (!oddOrder) {
        Quad r[4];
        butterfly4x4<Inv>(v[0], twiddle4<Inv>(v[1], table + 8), twiddle4<Inv>(v[2], table),
                          twiddle4<Inv>(v[3], table + 16), r);
        store_block(y, 0, r[0]);
        store_block(y, 1, r[1]);
        store_block(y, 2, r[2]);
        store_block(y, 3, r[3]);
        return;
    }
    for (int p = 0; p < (half ? 1 : 2); ++p) {
        const Quad z = twiddle4<Inv>(v[2 * p + 1], kEighth.v);
        store_block(y, 2 * p, add(v[2 * p], z));
        store_block(y, 2 * p + 1, sub(v[2 * p], z));
    }
}

// Where the last pass puts its blocks: the area itself or another array in the quad-block layout, or
// interleaved elements, or the two arrays of split data.
struct ToQuads {
    float* d;
    void operator()(std::int64_t b, const Quad& q) const
    {
        _mm_storeu_ps(d + 8 * b, q.re);
        _mm_storeu_ps(d + 8 * b + 4, q.im);
    }
};
struct ToInterleaved {
    float* d;
    void operator()(std::int64_t b, const Quad& q) const
    {
        _mm_storeu_ps(d + 8 * b, _mm_unpacklo_ps(q.re, q.im));
        _mm_storeu_ps(d + 8 * b + 4, _mm_unpackhi_ps(q.re, q.im));
    }
};
struct ToSplit {
    float* re;
    float* im;
    void operator()(std::int64_t b, const Quad& q) const
    {
        _mm_storeu_ps(re + 4 * b, q.re);
        _mm_storeu_ps(im + 4 * b, q.im);
    }
};

// Every radix-4 pass after the fused first step, on the area in the quad-block layout; the last one hands
// its blocks to the sink (the final store folded into it). Returns false when there is no such pass
// (N = 8, 16), so the caller stores the area itself.
template <bool Inv, class Sink>
bool later_passes(float* area, std::int32_t order, const float* table, const Sink& sink)
{
    const std::int64_t n = std::int64_t{1} << order;
    std::int32_t so = (order & 1) ? 5 : 6;
    for (; so <= order; so += 2) {
        const std::int64_t size = std::int64_t{1} << so;
        const std::int64_t q = size / 16;  // blocks in a quarter
        const float* section = table + vek_k_fft_stage_block_offset(order, so);
        const bool last = so + 2 > order;
        for (std::int64_t g = 0; g < n / 4; g += size / 4) {
            float* y0 = area + 8 * g;
            float* y1 = y0 + 8 * q;
            float* y2 = y1 + 8 * q;
            float* y3 = y2 + 8 * q;
            const float* t = section;
            for (std::int64_t b = 0; b < q; ++b, y0 += 8, y1 += 8, y2 += 8, y3 += 8, t += 24) {
                Quad y[4];
                butterfly4x4<Inv>(load_block(y0, 0), twiddle4<Inv>(load_block(y1, 0), t + 8),
                                  twiddle4<Inv>(load_block(y2, 0), t), twiddle4<Inv>(load_block(y3, 0), t + 16), y);
                if (last) {
                    sink(g + b, y[0]);
                    sink(g + b + q, y[1]);
                    sink(g + b + 2 * q, y[2]);
                    sink(g + b + 3 * q, y[3]);
                } else {
                    store_block(y0, 0, y[0]);
                    store_block(y1, 0, y[1]);
                    store_block(y2, 0, y[2]);
                    store_block(y3, 0, y[3]);
                }
            }
        }
    }
    return so != ((order & 1) ? 5 : 6);
}

std::int32_t order_of(std::int32_t n)
{
    std::int32_t order = 0;
    while ((std::int32_t{1} << order) < n) {
        ++order;
    }
    return order;
}

// The first pass over all steps. Quartet i starts at element start(i) of the source and its element m is
// element start(i) + offs[m]; gather reads one element of four quartets into the lanes of a vector.
template <bool Inv, class Start, class Gather>
void first_pass(std::int32_t n, const float* table, float* area, Start&& start, Gather&& gather,
                const std::int64_t offs[4])
{
    const bool odd = (order_of(n) & 1) != 0;
    const std::int64_t quartets = n / 4;
    for (std::int64_t i = 0; i < quartets; i += 4) {
        std::int64_t at[4];
        const int live = quartets - i < 4 ? static_cast<int>(quartets - i) : 4;  // 2 only when N = 8
        for (int k = 0; k < 4; ++k) {
            at[k] = start(i + (k < live ? k : k - live));
        }
        Quad v[4];
        for (int m = 0; m < 4; ++m) {
            v[m] = gather(at, offs[m]);
        }
        fused_step<Inv>(v, odd, table, area, i, live < 4);
    }
}

// Quad-block area to interleaved elements, in place or into another array.
void quads_to_interleaved(const float* area, float* dst, std::int64_t n)
{
    for (std::int64_t b = 0; b < n / 4; ++b) {
        const Quad q = load_block(area, b);
        _mm_storeu_ps(dst + 8 * b, _mm_unpacklo_ps(q.re, q.im));
        _mm_storeu_ps(dst + 8 * b + 4, _mm_unpackhi_ps(q.re, q.im));
    }
}

void quads_to_split(const float* area, float* re, float* im, std::int64_t n)
{
    for (std::int64_t b = 0; b < n / 4; ++b) {
        _mm_storeu_ps(re + 4 * b, _mm_load_ps(area + 8 * b));
        _mm_storeu_ps(im + 4 * b, _mm_load_ps(area + 8 * b + 4));
    }
}

// Bit-reversed load: quartet i from index entry i (v / 2 and its quarters); natural-order source.
template <bool Inv>
void complex_reorder(const float* src, float* dst, std::int32_t n, const float* table, const std::int32_t* index,
                     float* work)
{
    float* area = (dst != src && aligned16(dst)) ? dst : work;
    const std::int64_t offs[4] = {0, n / 2, n / 4, 3 * std::int64_t{n} / 4};
    first_pass<Inv>(
        n, table, area, [index](std::int64_t i) { return std::int64_t{index[i] / 2}; },
        [src](const std::int64_t at[4], std::int64_t off) { return gather_interleaved(src, at, off); }, offs);
    if (!later_passes<Inv>(area, order_of(n), table, ToInterleaved{dst})) {
        quads_to_interleaved(area, dst, n);
    }
}

template <bool Inv>
void split_reorder(const float* sr, const float* si, float* dr, float* di, std::int32_t n, const float* table,
                   const std::int32_t* index, float* work)
{
    const std::int64_t offs[4] = {0, n / 2, n / 4, 3 * std::int64_t{n} / 4};
    first_pass<Inv>(
        n, table, work, [index](std::int64_t i) { return std::int64_t{index[i] / 2}; },
        [sr, si](const std::int64_t at[4], std::int64_t off) { return gather_split(sr, si, at, off); }, offs);
    if (!later_passes<Inv>(work, order_of(n), table, ToSplit{dr, di})) {
        quads_to_split(work, dr, di, n);
    }
}

// In place on bit-reversed data: quartet i is elements 4i .. 4i + 3.
template <bool Inv>
void complex_inplace(float* data, std::int32_t n, const float* table, float* work, std::int32_t form)
{
    float* area = aligned16(data) ? data : work;
    const std::int64_t offs[4] = {0, 1, 2, 3};
    first_pass<Inv>(
        n, table, area, [](std::int64_t i) { return 4 * i; },
        [data](const std::int64_t at[4], std::int64_t off) { return gather_interleaved(data, at, off); }, offs);
    if (form == 1) {
        if (!later_passes<Inv>(area, order_of(n), table, ToInterleaved{data})) {
            quads_to_interleaved(area, data, n);
        }
    } else if (!later_passes<Inv>(area, order_of(n), table, ToQuads{data}) && area != data) {
        std::memcpy(data, area, static_cast<std::size_t>(n) * 8);
    }
}

template <bool Inv>
void split_inplace(float* re, float* im, std::int32_t n, const float* table, float* work)
{
    const std::int64_t offs[4] = {0, 1, 2, 3};
    first_pass<Inv>(
        n, table, work, [](std::int64_t i) { return 4 * i; },
        [re, im](const std::int64_t at[4], std::int64_t off) { return gather_split(re, im, at, off); }, offs);
    if (!later_passes<Inv>(work, order_of(n), table, ToSplit{re, im})) {
        quads_to_split(work, re, im, n);
    }
}

}  // namespace

#define VEK_RADIX4_VECTOR(col)                                                                                     \
    void vek_k_fft_radix4_fwd_complex_reorder_##col(const float* src, float* dst, std::int32_t n, const float* t, \
                                                    const std::int32_t* index, float* work)                        \
    {                                                                                                              \
        complex_reorder<false>(src, dst, n, t, index, work);                                                       \
    }                                                                                                              \
    void vek_k_fft_radix4_inv_complex_reorder_##col(const float* src, float* dst, std::int32_t n, const float* t, \
                                                    const std::int32_t* index, float* work)                        \
    {                                                                                                              \
        complex_reorder<true>(src, dst, n, t, index, work);                                                        \
    }                                                                                                              \
    void vek_k_fft_radix4_fwd_complex_##col(float* data, std::int32_t n, const float* t, float* work,             \
                                            std::int32_t form)                                                     \
    {                                                                                                              \
        complex_inplace<false>(data, n, t, work, form);                                                            \
    }                                                                                                              \
    void vek_k_fft_radix4_inv_complex_##col(float* data, std::int32_t n, const float* t, float* work,             \
                                            std::int32_t form)                                                     \
    {                                                                                                              \
        complex_inplace<true>(data, n, t, work, form);                                                             \
    }                                                                                                              \
    void vek_k_fft_radix4_fwd_split_reorder_##col(const float* sr, const float* si, float* dr, float* di,         \
                                                  std::int32_t n, const float* t, const std::int32_t* index,      \
                                                  float* work)                                                     \
    {                                                                                                              \
        split_reorder<false>(sr, si, dr, di, n, t, index, work);                                                   \
    }                                                                                                              \
    void vek_k_fft_radix4_inv_split_reorder_##col(const float* sr, const float* si, float* dr, float* di,         \
                                                  std::int32_t n, const float* t, const std::int32_t* index,      \
                                                  float* work)                                                     \
    {                                                                                                              \
        split_reorder<true>(sr, si, dr, di, n, t, index, work);                                                    \
    }                                                                                                              \
    void vek_k_fft_radix4_fwd_split_##col(float* re, float* im, std::int32_t n, const float* t, float* work)      \
    {                                                                                                              \
        split_inplace<false>(re, im, n, t, work);                                                                  \
    }                                                                                                              \
    void vek_k_fft_radix4_inv_split_##col(float* re, float* im, std::int32_t n, const float* t, float* work)      \
    {                                                                                                              \
        split_inplace<true>(re, im, n, t, work);                                                                   \
    }
VEK_RADIX4_VECTOR(ss)
VEK_RADIX4_VECTOR(wd)
#undef VEK_RADIX4_VECTOR
