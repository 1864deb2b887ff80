// Thresholds of a 16-bit vector in place: slot 124 raises every element below the level to the level, slot 125
// lowers every element above it. Both entries of a column forward to one body with mode 0 (raise) or 4 (lower);
// the SIMD bodies turn mode 4 into kernel mode 1 and call their column's kernel:
// - wd: SSE2 signed maximum (raise) or minimum (lower) with the broadcast level, eight elements a step;
// - ss: the same with the MMX signed maximum and minimum of the SSE extensions;
// - mm: plain MMX, which has neither: for lowering with a level >= 0, c = 32767 - level and each element becomes
//   (x +sat c) -sat c; for raising with a level < 0, c = -32768 - level likewise. The other two cases take
//   (((x +sat K) -sat level) -sat K) +sat level with K = 32767 (lower) or -32768 (raise). Short vectors (below 4)
//   run element by element.
#include <algorithm>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::MmxSse;
using vek::lanes::Sse2;
using vek::lanes::st16;

constexpr int32_t kModeRaise = 0, kModeLower = 4;

int16_t clamp_one(int16_t x, int16_t level, bool lower) {
    return lower ? std::min(x, level) : std::max(x, level);
}

// Kernels with a packed minimum and maximum (SSE2, MMX with the SSE extensions).
template <class L>
void threshold_minmax(const int16_t* s, int16_t* d, int32_t n, int16_t level, bool lower) {
    struct Body {
        const int16_t* s;
        int16_t* d;
        int16_t level;
        typename L::V vl;
        bool lower;
        void scalar(int64_t i) { st16(d, i, clamp_one(ld16(s, i), level, lower)); }
        void vec(int64_t i) {
            const typename L::V x = L::load(s + i);
            L::store(d + i, lower ? L::min16(x, vl) : L::max16(x, vl));
        }
    } b{s, d, level, L::set1_16(level), lower};
    vek::walk::elements<L, L::kLanes16, 2>(d, n, b);
}

// Plain MMX by saturating arithmetic.
void threshold_saturating(const int16_t* s, int16_t* d, int32_t n, int16_t level, bool lower) {
    if (n < 4) {
        for (int64_t i = 0; i < n; ++i) st16(d, i, clamp_one(ld16(s, i), level, lower));
        return;
    }
    const bool one_step = lower ? level >= 0 : level < 0;
    struct Body {
        const int16_t* s;
        int16_t* d;
        int16_t level;
        bool lower, one_step;
        __m64 c, k, vl;
        void scalar(int64_t i) { st16(d, i, clamp_one(ld16(s, i), level, lower)); }
        void vec(int64_t i) {
            const __m64 x = Mmx::load(s + i);
            __m64 r;
            if (one_step) {
                r = _mm_subs_pi16(_mm_adds_pi16(x, c), c);
            } else {
                r = _mm_adds_pi16(_mm_subs_pi16(_mm_subs_pi16(_mm_adds_pi16(x, k), vl), k), vl);
            }
            Mmx::store(d + i, r);
        }
    } b{s, d, level, lower, one_step,
        _mm_set1_pi16(static_cast<int16_t>(lower ? 32767 - level : -32768 - level)),
        _mm_set1_pi16(static_cast<int16_t>(lower ? 32767 : -32768)), _mm_set1_pi16(level)};
    vek::walk::elements<Mmx, 4, 2>(d, n, b);
}

enum class Col { Gen, Mm, Ss, Wd };

template <Col C>
VekStatus body(int16_t* v, int32_t n, int16_t level, int32_t mode) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if constexpr (C == Col::Gen) {
        for (int64_t i = 0; i < n; ++i) {
            const int16_t x = ld16(v, i);
            if (mode == kModeRaise ? level > x : level < x) st16(v, i, level);
        }
    } else {
        const int32_t kmode = mode == kModeLower ? 1 : 0;
        if constexpr (C == Col::Wd)
            vek_threshold_16_kernel(v, v, n, level, kmode);
        else if constexpr (C == Col::Ss)
            vek_k_threshold_16_ss(v, v, n, level, kmode);
        else
            vek_k_threshold_16_mm(v, v, n, level, kmode);
    }
    return VEK_OK;
}

}  // namespace

void vek_threshold_16_kernel(const int16_t* s, int16_t* d, int32_t n, int16_t level, int32_t mode) {
    threshold_minmax<Sse2>(s, d, n, level, mode != 0);
}
void vek_k_threshold_16_ss(const int16_t* s, int16_t* d, int32_t n, int16_t level, int32_t mode) {
    threshold_minmax<MmxSse>(s, d, n, level, mode == 1);
}
void vek_k_threshold_16_mm(const int16_t* s, int16_t* d, int32_t n, int16_t level, int32_t mode) {
    threshold_saturating(s, d, n, level, mode == 1);
}

#define VEK_THRESHOLD_ENTRIES(col, C)                                                             \
    VekStatus vek_threshold_16_body_##col(int16_t* v, int32_t n, int16_t level, int32_t mode) {   \
        return body<C>(v, n, level, mode);                                                        \
    }                                                                                             \
    VekStatus vek_threshold_lt_16_inplace_##col(int16_t* v, int32_t n, int16_t level) {           \
        return vek_threshold_16_body_##col(v, n, level, kModeRaise);                              \
    }                                                                                             \
    VekStatus vek_threshold_gt_16_inplace_##col(int16_t* v, int32_t n, int16_t level) {           \
        return vek_threshold_16_body_##col(v, n, level, kModeLower);                              \
    }
VEK_THRESHOLD_ENTRIES(gen, Col::Gen)
VEK_THRESHOLD_ENTRIES(mm, Col::Mm)
VEK_THRESHOLD_ENTRIES(ss, Col::Ss)
VEK_THRESHOLD_ENTRIES(wd, Col::Wd)
#undef VEK_THRESHOLD_ENTRIES
