// Region kernels of the cross-correlation for float, double and complex data (see xcorr_kernels.h). One
// template per element type serves all four regions and both columns:
// - the results are cleared first (the head backward from out);
// - short head and tail work (the thresholds of Elem<E>) is summed one result at a time in extended
//   precision and stored once;
// - otherwise real data compute results one at a time as lane dot products until the result slot reaches a
//   16-byte boundary, and from there the results themselves are the accumulators: the anchored vector is
//   walked once and each of its elements adds its products to every result that has that term;
// - complex data always take the accumulator scheme.
// All accumulator sums stay in the element's own precision.
#include <cstdint>
#include <cstring>

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
        for (std::int64_t i = first; i < last; ++i) {
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
