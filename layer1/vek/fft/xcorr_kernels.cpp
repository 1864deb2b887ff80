// Region kernels of the cross-correlation for float, double and complex data (see xcorr_kernels.h). One
// template per element type serves all four regions and both columns:
// - the results are cleared first (the head backward from out);
// - short head and tail work (the thresholds of Elem<E>) is summed one result at a time in extended
//   precision and stored once;
// - otherwise real data compute results one at a time as lane dot products until the result slot reaches a
//   16-byte boundary, and from there the results themselves are the accumulators: the anchored vector is
//   walked once and each of its elements adds its products to every result that has that term;
// - complex data always take the accumulator scheme.
// All accumulator sums stay in the element's own precision; the accumulator step runs a register of
// consecutive results at a time (SSE for single, SSE2 for double precision).
#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "layer1/vek/fft/xcorr_kernels.h"

namespace {

template <class E>
struct Elem;
template <>
struct Elem<float> {
    using S = float;
    static constexpr bool complex = false;
    static constexpr int lanes = 4;
    static constexpr std::int64_t minN = 7, minCount = 6;
};
template <>
struct Elem<double> {
    using S = double;
    static constexpr bool complex = false;
    static constexpr int lanes = 2;
    static constexpr std::int64_t minN = 7, minCount = 4;
};
template <>
struct Elem<VekC32f> {
    using S = float;
    static constexpr bool complex = true;
    static constexpr int lanes = 1;
    static constexpr std::int64_t minN = 3, minCount = 3;
};
template <>
struct Elem<VekC64f> {
    using S = double;
    static constexpr bool complex = true;
    static constexpr int lanes = 1;
    static constexpr std::int64_t minN = 3, minCount = 3;
};

enum class Region { tail, head, src1Inside, src2Inside };

template <Region R>
struct Walk {
    // Terms of the i-th result, the moving element of its t-th term, the slot it is stored in.
    static std::int64_t terms(std::int64_t n, std::int64_t i)
    {
        return R == Region::tail || R == Region::head ? n - i : n;
    }
    template <class E>
    static const E& moving(const E* m, std::int64_t i, std::int64_t t)
    {
        return R == Region::src2Inside ? m[t - i] : m[i + t];
    }
    template <class E>
    static E* slot(E* out, std::int64_t i)
    {
        return R == Region::head ? out - i : out + i;
    }
    // The head and src2-inside regions conjugate the moving vector, the others the anchored one.
    static constexpr bool conjMoving = R == Region::head || R == Region::src2Inside;
};

// Adds term(anchored element, moving element) in the accumulator's precision.
template <bool conjMoving, class A, class C>
void add_term(A& re, A& im, const C& a, const C& m)
{
    const A ar = a.re, ai = a.im, mr = m.re, mi = m.im;
    if (conjMoving) {  // a * conj(m)
        re += ar * mr + ai * mi;
        im += ai * mr - ar * mi;
    } else {  // m * conj(a)
        re += mr * ar + mi * ai;
        im += mi * ar - mr * ai;
    }
}

// One result summed in extended precision and stored once.
template <Region R, class E>
void scalar_result(const E* moving, const E* anchored, std::int64_t n, E* out, std::int64_t i)
{
    using W = Walk<R>;
    using S = typename Elem<E>::S;
    const std::int64_t k = W::terms(n, i);
    if constexpr (Elem<E>::complex) {
        long double re = 0, im = 0;
        for (std::int64_t t = 0; t < k; ++t) {
            add_term<W::conjMoving>(re, im, anchored[t], W::moving(moving, i, t));
        }
        *W::slot(out, i) = E{static_cast<S>(re), static_cast<S>(im)};
    } else {
        long double acc = 0;
        for (std::int64_t t = 0; t < k; ++t) {
            acc += static_cast<long double>(anchored[t]) * W::moving(moving, i, t);
        }
        *W::slot(out, i) = static_cast<S>(acc);
    }
}

// One real result as a dot product in lanes of the element's precision.
template <Region R, class E>
E lane_dot(const E* moving, const E* anchored, std::int64_t n, std::int64_t i)
{
    using W = Walk<R>;
    constexpr int lanes = Elem<E>::lanes;
    E acc[lanes] = {};
    const std::int64_t k = W::terms(n, i);
    for (std::int64_t t = 0; t < k; ++t) {
        acc[t % lanes] += anchored[t] * W::moving(moving, i, t);
    }
    if constexpr (lanes == 4) {
        return (acc[0] + acc[2]) + (acc[1] + acc[3]);
    } else {
        return acc[0] + acc[1];
    }
}

// ---- The accumulator step in vector registers -----------------------------------------------------------
// One anchored element a (term t) added to the results first .. last-1, a register of consecutive results at
// a time (four singles, two doubles, two single complex or one double complex); returns the first result
// left for the scalar step. Lanes hold the results in memory order, so the head (results growing downward)
// and the src2-inside region (moving vector read backward) reverse the moving elements they load. Each lane
// forms the scalar step's product (complex: its sum of two products) and then adds it, so the values equal
// the scalar step's.
inline __m128 reverse_lanes(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
inline __m128d reverse_lanes(__m128d v) { return _mm_shuffle_pd(v, v, 1); }
inline __m128 swap_pairs(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)); }
inline __m128 swap_parts(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 3, 0, 1)); }
inline __m128d swap_parts(__m128d v) { return _mm_shuffle_pd(v, v, 1); }
// Complex elements in reverse order: two single complex swap places; one double complex stays.
inline __m128 reorder_elems(__m128 v, int) { return swap_pairs(v); }
inline __m128d reorder_elems(__m128d v, int) { return v; }

struct Reg32 {
    using V = __m128;
    static V load(const float* p) { return _mm_loadu_ps(p); }
    static void store(float* p, V v) { _mm_storeu_ps(p, v); }
    static V set1(float x) { return _mm_set1_ps(x); }
    static V add(V a, V b) { return _mm_add_ps(a, b); }
    static V mul(V a, V b) { return _mm_mul_ps(a, b); }
    static V signs() { return _mm_set_ps(-1.0f, 1.0f, -1.0f, 1.0f); }  // +1 on real parts, -1 on imaginary
};
struct Reg64 {
    using V = __m128d;
    static V load(const double* p) { return _mm_loadu_pd(p); }
    static void store(double* p, V v) { _mm_storeu_pd(p, v); }
    static V set1(double x) { return _mm_set1_pd(x); }
    static V add(V a, V b) { return _mm_add_pd(a, b); }
    static V mul(V a, V b) { return _mm_mul_pd(a, b); }
    static V signs() { return _mm_set_pd(-1.0, 1.0); }
};

// Moving elements of results i .. i + w - 1 (w per register) as the lanes want them.
template <Region R, class G, class S>
typename G::V moving_lanes(const S* m, std::int64_t i, std::int64_t t, int w, int scalarsPerElem)
{
    if (R == Region::src2Inside) {
        const typename G::V v = G::load(m + scalarsPerElem * (t - i - (w - 1)));
        return scalarsPerElem == 1 ? reverse_lanes(v) : reorder_elems(v, w);
    }
    const typename G::V v = G::load(m + scalarsPerElem * (i + t));
    return R == Region::head ? (scalarsPerElem == 1 ? reverse_lanes(v) : reorder_elems(v, w)) : v;
}

template <Region R, class E>
std::int64_t accumulate_block(const E* moving, const E& a, E* out, std::int64_t t, std::int64_t first, std::int64_t last)
{
    using W = Walk<R>;
    using S = typename Elem<E>::S;
    using G = std::conditional_t<std::is_same_v<S, float>, Reg32, Reg64>;
    constexpr int scalarsPerElem = Elem<E>::complex ? 2 : 1;
    constexpr int w = 16 / static_cast<int>(sizeof(E));  // results per register
    const auto* m = reinterpret_cast<const S*>(moving);
    std::int64_t i = first;
    for (; i + w <= last; i += w) {
        // The lowest address of the w result slots.
        S* r = reinterpret_cast<S*>(R == Region::head ? out - i - (w - 1) : out + i);
        const typename G::V mv = moving_lanes<R, G>(m, i, t, w, scalarsPerElem);
        typename G::V product;
        if constexpr (Elem<E>::complex) {
            const typename G::V t1 = G::mul(mv, G::set1(a.re));
            const typename G::V t2 = G::mul(swap_parts(mv), G::set1(a.im));
            // m * conj(a) = (t1.re + t2.re, t1.im - t2.im); a * conj(m) = (t1.re + t2.re, t2.im - t1.im).
            product = W::conjMoving ? G::add(G::mul(t1, G::signs()), t2) : G::add(t1, G::mul(t2, G::signs()));
        } else {
            product = G::mul(G::set1(a), mv);
        }
        G::store(r, G::add(G::load(r), product));
    }
    return i;
}

// A result slot where the block scheme may start: for the head, whose blocks grow downward, the slot above
// the block's top must lie on the boundary.
template <Region R, class E>
bool block_start(E* out, std::int64_t i)
{
    const E* p = Walk<R>::slot(out, i) + (R == Region::head ? 1 : 0);
    return reinterpret_cast<std::uintptr_t>(p) % 16 == 0;
}

template <Region R, class E>
void region(const E* moving, const E* anchored, std::int32_t n32, E* out, std::int32_t count32)
{
    using W = Walk<R>;
    using T = Elem<E>;
    const std::int64_t n = n32, count = count32;
    if (count <= 0) {
        return;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        std::memset(static_cast<void*>(W::slot(out, i)), 0, sizeof(E));
    }
    if ((R == Region::tail || R == Region::head) && (n < T::minN || count < T::minCount)) {
        for (std::int64_t i = 0; i < count; ++i) {
            scalar_result<R>(moving, anchored, n, out, i);
        }
        return;
    }
    std::int64_t first = 0;
    if constexpr (!T::complex) {
        for (; first < count && !block_start<R>(out, first); ++first) {
            *W::slot(out, first) = lane_dot<R>(moving, anchored, n, first);
        }
    }
    if (first == count) {
        return;
    }
    // Each anchored element adds its products to every remaining result that has its term.
    const std::int64_t most = W::terms(n, first);
    for (std::int64_t t = 0; t < most; ++t) {
        // Head and tail results i have the term t while t < n - i.
        const std::int64_t last = (R == Region::tail || R == Region::head) ? (n - t < count ? n - t : count) : count;
        for (std::int64_t i = accumulate_block<R>(moving, anchored[t], out, t, first, last); i < last; ++i) {
            E& r = *W::slot(out, i);
            if constexpr (T::complex) {
                add_term<W::conjMoving>(r.re, r.im, anchored[t], W::moving(moving, i, t));
            } else {
                r += anchored[t] * W::moving(moving, i, t);
            }
        }
    }
}

}  // namespace

#define VEK_XCORR_REGION_DEFINE(tag, E, col)                                                                      \
    void vek_k_cross_corr_##tag##_tail_##col(const E* moving, const E* anchored, std::int32_t n, E* out,          \
                                             std::int32_t count)                                                  \
    {                                                                                                             \
        region<Region::tail>(moving, anchored, n, out, count);                                                    \
    }                                                                                                             \
    void vek_k_cross_corr_##tag##_head_##col(const E* moving, const E* anchored, std::int32_t n, E* out,          \
                                             std::int32_t count)                                                  \
    {                                                                                                             \
        region<Region::head>(moving, anchored, n, out, count);                                                    \
    }                                                                                                             \
    void vek_k_cross_corr_##tag##_src1_inside_##col(const E* moving, const E* anchored, std::int32_t n, E* out,   \
                                                    std::int32_t count)                                           \
    {                                                                                                             \
        region<Region::src1Inside>(moving, anchored, n, out, count);                                              \
    }                                                                                                             \
    void vek_k_cross_corr_##tag##_src2_inside_##col(const E* moving, const E* anchored, std::int32_t n, E* out,   \
                                                    std::int32_t count)                                           \
    {                                                                                                             \
        region<Region::src2Inside>(moving, anchored, n, out, count);                                              \
    }
VEK_XCORR_REGION_DEFINE(32f, float, wd)
VEK_XCORR_REGION_DEFINE(32fc, VekC32f, wd)
VEK_XCORR_REGION_DEFINE(64f, double, wd)
VEK_XCORR_REGION_DEFINE(64fc, VekC64f, wd)
VEK_XCORR_REGION_DEFINE(32f, float, ss)
VEK_XCORR_REGION_DEFINE(32fc, VekC32f, ss)
#undef VEK_XCORR_REGION_DEFINE
