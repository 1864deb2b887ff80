// Slot 117: the cross-correlation c(L) = sum src1[j] * src2[j + L] of two 16-bit vectors over a range of
// lags, scaled by 2^-sf, rounded to nearest and saturated. Lags without terms are zero; the others go by
// the direct route (one kernel per overlap region) or, when the estimated work is above 383, by a real FFT.
// Lag bookkeeping is done in 64 bits, and the result count never exceeds the caller's dstLen.
#include <algorithm>
#include <cstring>
#include <type_traits>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/fft32f.h"
#include "layer1/vek/fft/fft_convert.h"
#include "layer1/vek/fft/xcorr.h"

namespace {

// ---- Region kernels -------------------------------------------------------------------------------------

// gen and mm: exact float images, products and sums in extended precision, each result rounded once.
template <class Get>
float dot_float(const float* anchored, std::int64_t n, Get moving)
{
    long double acc = 0;
    for (std::int64_t t = 0; t < n; ++t) {
        acc += static_cast<long double>(anchored[t]) * moving(t);
    }
    return static_cast<float>(acc);
}

// ss and wd: terms taken in pairs from the anchored vector's element 0, each pair an exact 32-bit sum of two
// 16-bit products (an anchored -32768 at an odd index taken as -32767, so no pair sum reaches 2^31),
// added in single precision; a last unpaired term exact. Short head and tail work is summed exactly.
template <class Get>
float dot_pairs(const std::int16_t* anchored, std::int64_t n, Get moving, bool exact)
{
    if (exact) {
        std::int64_t acc = 0;
        for (std::int64_t t = 0; t < n; ++t) {
            acc += std::int64_t{anchored[t]} * moving(t);
        }
        return static_cast<float>(acc);
    }
    float acc = 0.0f;
    std::int64_t t = 0;
    for (; t + 1 < n; t += 2) {
        const std::int32_t odd = anchored[t + 1] == -32768 ? -32767 : anchored[t + 1];
        const std::int32_t pair = std::int32_t{anchored[t]} * moving(t) + odd * moving(t + 1);
        acc += static_cast<float>(pair);
    }
    if (t < n) {
        acc += static_cast<float>(std::int32_t{anchored[t]} * moving(t));
    }
    return acc;
}

template <class E>
float region_dot(const E* anchored, std::int64_t n, const E* moving, std::int64_t step, bool exact)
{
    auto get = [&](std::int64_t t) { return moving[t * step]; };
    if constexpr (std::is_same_v<E, float>) {
        (void)exact;
        return dot_float(anchored, n, get);
    } else {
        return dot_pairs(anchored, n, get, exact);
    }
}

// Tail: out[i] = sum over t < n - i of anchored[t] * moving[i + t].
template <class E>
void tail(const E* moving, const E* anchored, std::int64_t n, float* out, std::int64_t count, bool scalar)
{
    for (std::int64_t i = 0; i < count; ++i) {
        out[i] = region_dot(anchored, n - i, moving + i, 1, scalar);
    }
}

// Head: the same sums, stored backward from out.
template <class E>
void head(const E* moving, const E* anchored, std::int64_t n, float* out, std::int64_t count, bool scalar)
{
    for (std::int64_t i = 0; i < count; ++i) {
        out[-i] = region_dot(anchored, n - i, moving + i, 1, scalar);
    }
}

template <class E>
void src1_inside(const E* moving, const E* anchored, std::int64_t n, float* out, std::int64_t count)
{
    for (std::int64_t i = 0; i < count; ++i) {
        out[i] = region_dot(anchored, n, moving + i, 1, false);
    }
}

// out[i] = sum over t < n of anchored[t] * moving[t - i].
template <class E>
void src2_inside(const E* moving, const E* anchored, std::int64_t n, float* out, std::int64_t count)
{
    for (std::int64_t i = 0; i < count; ++i) {
        out[i] = region_dot(anchored, n, moving - i, 1, false);
    }
}

// The walk over the regions from lag `lag` for `r` lags; a and b are src1 and src2 in the kernels' type.
template <class E>
void walk(const E* a, std::int64_t len1, const E* b, std::int64_t len2, std::int64_t lag, std::int64_t r, float* p)
{
    const std::int64_t d = len1 > len2 ? len1 - len2 : len2 - len1;
    const bool short1 = len1 <= len2;
    const std::int64_t headEnd = short1 ? 0 : -d;  // head lags are below this
    if (r > 0 && lag < headEnd) {
        const std::int64_t h = std::min(headEnd - lag, r);
        const std::int64_t lh = lag + h - 1;
        // The 16-bit head and tail kernels sum short work exactly (n < 7 or count < 6).
        const bool scalar = (len1 + lh) < 7 || h < 6;
        head(a - lh, b, len1 + lh, p + h - 1, h, scalar);
        r -= h;
        p += h;
        lag += h;
    }
    if (r > 0 && short1 && lag < d) {
        const std::int64_t c = std::min(d - lag, r);
        src1_inside(b + lag, a, len1, p, c);
        r -= c;
        p += c;
        lag += c;
    } else if (r > 0 && !short1 && lag < 0) {
        const std::int64_t c = std::min(-lag, r);
        src2_inside(a - lag, b, len2, p, c);
        r -= c;
        p += c;
        lag += c;
    }
    if (r > 0) {
        const bool scalar = (len2 - lag) < 7 || r < 6;
        tail(b + lag, a, len2 - lag, p, r, scalar);
    }
}

// ---- The FFT route --------------------------------------------------------------------------------------

VekStatus fft_route(int col, const std::int16_t* s1, std::int64_t len1, const std::int16_t* s2, std::int64_t len2,
                    std::int16_t* dst, std::int64_t count, std::int64_t offset, std::int32_t sf)
{
    const Fft32fOps& ops = vek_fft32f_ops(col);
    const auto toFloat = col == 0 ? vek_k_convert_s16_f32_gen
                                  : (col == 1 ? vek_k_convert_s16_f32_mm
                                              : (col == 2 ? vek_k_convert_s16_f32_ss : vek_k_convert_s16_f32_wd));
    const auto toInt = col == 0 ? vek_k_convert_f32_s16_scaled_gen
                                : (col == 1 ? vek_k_convert_f32_s16_scaled_mm
                                            : (col == 2 ? vek_k_convert_f32_s16_scaled_ss
                                                        : vek_k_convert_f32_s16_scaled_wd));
    std::int32_t order = 1;
    while ((std::int64_t{1} << order) < len1 + len2 - 1) {
        ++order;
    }
    FftSpec32f* spec = nullptr;
    VekStatus st = ops.init[2](&spec, order, VEK_FFT_NORM_INV, 0);
    if (st != VEK_OK) {
        return st;
    }
    std::int32_t bytes = 0;
    ops.size[2](spec, &bytes);
    auto* work = static_cast<std::uint8_t*>(vek_alloc_8(bytes));  // none: the drivers find their own
    const std::int64_t n = std::int64_t{1} << order;
    auto* a = static_cast<float*>(col == 3 ? vek_alloc_32_wd(static_cast<std::int32_t>(2 * n))
                                           : vek_alloc_32_gen(static_cast<std::int32_t>(2 * n)));
    if (a == nullptr) {
        ops.free[2](spec);
        vek_free(work);
        return VEK_ERR_NO_MEMORY;
    }
    float* b = a + n;
    std::memset(a, 0, static_cast<std::size_t>(8 * n));
    toFloat(s1, a, static_cast<std::int32_t>(len1));
    toFloat(s2, b + len1 - 1, static_cast<std::int32_t>(len2));
    st = ops.realFwd[1](a, a, spec, work);
    if (st == VEK_OK) {
        st = ops.realFwd[1](b, b, spec, work);
    }
    if (st == VEK_OK) {
        ops.mulPacked(b, a, static_cast<std::int32_t>(n));
        st = ops.realInv[1](a, b, spec, work);
    }
    if (st == VEK_OK) {
        toInt(b + offset, dst, static_cast<std::int32_t>(count), 1, sf);
    }
    ops.free[2](spec);
    vek_free(a);
    vek_free(work);
    return st;
}

VekStatus cross_corr(int col, const std::int16_t* src1, std::int32_t len1, const std::int16_t* src2,
                     std::int32_t len2, std::int16_t* dst, std::int32_t dstLen, std::int32_t lowLag, std::int32_t sf)
{
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) {
        return VEK_ERR_NULL_POINTER;
    }
    if (len1 <= 0 || len2 <= 0 || dstLen <= 0) {
        return VEK_ERR_SIZE;
    }
    std::int64_t count = dstLen;
    std::int64_t lag = lowLag;
    const std::int64_t z = 1 - std::int64_t{len1} - lag;
    if (z > 0) {
        std::memset(dst, 0, static_cast<std::size_t>(std::min(z, count)) * 2);
        if (z >= count) {
            return VEK_OK;
        }
        dst += z;
        count -= z;
        lag = 1 - std::int64_t{len1};
    }
    const std::int64_t offset = std::max<std::int64_t>(0, len1 + lag - 1);
    const std::int64_t t = std::max<std::int64_t>(0, len2 - lag);
    if (count > t) {
        std::memset(dst + t, 0, static_cast<std::size_t>(count - t) * 2);
        count = t;
    }
    if (count == 0) {
        return VEK_OK;
    }
    const std::int64_t lo = std::min(len1, len2), hi = std::max(len1, len2);
    const std::int64_t w = col <= 1 ? static_cast<std::int64_t>(static_cast<double>(count) * lo / hi)
                                    : static_cast<std::int64_t>(static_cast<float>(count) * static_cast<float>(lo) /
                                                                static_cast<float>(hi));
    if (w > 383) {
        return fft_route(col, src1, len1, src2, len2, dst, count, offset, sf);
    }
    auto* out = static_cast<float*>(col == 3 ? vek_alloc_32_wd(static_cast<std::int32_t>(count))
                                             : vek_alloc_32_gen(static_cast<std::int32_t>(count)));
    if (col <= 1) {
        auto* f1 = static_cast<float*>(vek_alloc_32_gen(len1));
        auto* f2 = static_cast<float*>(vek_alloc_32_gen(len2));
        if (out == nullptr || f1 == nullptr || f2 == nullptr) {
            vek_free(out);
            vek_free(f1);
            vek_free(f2);
            return VEK_ERR_NO_MEMORY;
        }
        const auto toFloat = col == 0 ? vek_k_convert_s16_f32_gen : vek_k_convert_s16_f32_mm;
        toFloat(src1, f1, len1);
        toFloat(src2, f2, len2);
        walk<float>(f1, len1, f2, len2, lag, count, out);
        (col == 0 ? vek_k_convert_f32_s16_scaled_gen : vek_k_convert_f32_s16_scaled_mm)(
            out, dst, static_cast<std::int32_t>(count), 1, sf);
        vek_free(f1);
        vek_free(f2);
    } else {
        if (out == nullptr) {
            return VEK_ERR_NO_MEMORY;
        }
        walk<std::int16_t>(src1, len1, src2, len2, lag, count, out);
        (col == 2 ? vek_k_convert_f32_s16_scaled_ss : vek_k_convert_f32_s16_scaled_wd)(
            out, dst, static_cast<std::int32_t>(count), 1, sf);
    }
    vek_free(out);
    return VEK_OK;
}

}  // namespace

#define VEK_XCORR_MEMBER(col, C)                                                                                   \
    VekStatus vek_cross_corr_16_##col(const std::int16_t* src1, std::int32_t len1, const std::int16_t* src2,      \
                                      std::int32_t len2, std::int16_t* dst, std::int32_t dstLen,                  \
                                      std::int32_t lowLag, std::int32_t sf)                                       \
    {                                                                                                              \
        return cross_corr(C, src1, len1, src2, len2, dst, dstLen, lowLag, sf);                                     \
    }
VEK_XCORR_MEMBER(gen, 0)
VEK_XCORR_MEMBER(mm, 1)
VEK_XCORR_MEMBER(ss, 2)
VEK_XCORR_MEMBER(wd, 3)
#undef VEK_XCORR_MEMBER
