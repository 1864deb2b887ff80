// Integer down- and up-sampling without filtering, of 16-bit vectors and of 16-bit complex vectors (each complex
// value moved as one 32-bit word). The loops are scalar in every column; a factor of 1 copies the source with the
// column's own copy primitive of the element's width.
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/kernel_access.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::core_link::Column;
using vek::kernels::ld;
using vek::kernels::st;

template <Column C, class T>
VekStatus copy(const T* src, T* dst, int32_t n) {
    if constexpr (sizeof(T) == 2)
        return vek::core_link::copy16<C>(reinterpret_cast<const int16_t*>(src), reinterpret_cast<int16_t*>(dst), n);
    else
        return vek::core_link::copy32<C>(reinterpret_cast<const int32_t*>(src), reinterpret_cast<int32_t*>(dst), n);
}

template <class T>
VekStatus check(const T* src, int32_t src_len, const T* dst, const int32_t* dst_len, int32_t factor,
                const int32_t* phase) {
    if (src == nullptr || dst == nullptr || dst_len == nullptr || phase == nullptr) return VEK_ERR_NULL_POINTER;
    if (src_len <= 0) return VEK_ERR_SIZE;
    if (factor <= 0) return VEK_ERR_SAMPLE_FACTOR;
    if (*phase < 0 || *phase >= factor) return VEK_ERR_SAMPLE_PHASE;
    return VEK_OK;
}

// Keeps every factor-th element from the phase on; the phase becomes that of the next block, so consecutive blocks
// form one continuous decimated stream.
template <Column C, class T>
VekStatus down(const T* src, int32_t src_len, T* dst, int32_t* dst_len, int32_t factor, int32_t* phase) {
    if (VekStatus st = check(src, src_len, dst, dst_len, factor, phase); st != VEK_OK) return st;
    if (factor == 1) {
        copy<C>(src, dst, src_len);
        *dst_len = src_len;
        return VEK_OK;
    }
    int64_t j = *phase, k = 0;
    for (; j < src_len; j += factor) st(dst, k++, ld(src, j));
    *dst_len = static_cast<int32_t>(k);
    *phase = static_cast<int32_t>(j - src_len);
    return VEK_OK;
}

// Puts each element at i * factor + phase and zeros everywhere else. A destination length that does not fit in 32
// bits is a size error (the destination could not be described).
template <Column C, class T>
VekStatus up(const T* src, int32_t src_len, T* dst, int32_t* dst_len, int32_t factor, int32_t* phase) {
    if (VekStatus st = check(src, src_len, dst, dst_len, factor, phase); st != VEK_OK) return st;
    const int64_t total = int64_t{src_len} * factor;
    if (total > INT32_MAX) return VEK_ERR_SIZE;
    *dst_len = static_cast<int32_t>(total);
    if (factor == 1) return copy<C>(src, dst, src_len);
    const int64_t p = *phase;
    const T zero{};
    for (int64_t i = 0; i < src_len; ++i) {
        const int64_t base = i * factor;
        for (int64_t z = 0; z < factor; ++z) st(dst, base + z, z == p ? ld(src, i) : zero);
    }
    return VEK_OK;
}

}  // namespace

#define VEK_RESAMPLE_ENTRIES(col, C)                                                                             \
    VekStatus vek_downsample_16_##col(const int16_t* src, int32_t src_len, int16_t* dst, int32_t* dst_len,       \
                                      int32_t factor, int32_t* phase) {                                          \
        return down<C>(src, src_len, dst, dst_len, factor, phase);                                               \
    }                                                                                                            \
    VekStatus vek_upsample_16_##col(const int16_t* src, int32_t src_len, int16_t* dst, int32_t* dst_len,         \
                                    int32_t factor, int32_t* phase) {                                            \
        return up<C>(src, src_len, dst, dst_len, factor, phase);                                                 \
    }                                                                                                            \
    VekStatus vek_downsample_complex_16_##col(const VekC16* src, int32_t src_len, VekC16* dst, int32_t* dst_len, \
                                              int32_t factor, int32_t* phase) {                                  \
        return down<C>(src, src_len, dst, dst_len, factor, phase);                                               \
    }                                                                                                            \
    VekStatus vek_upsample_complex_16_##col(const VekC16* src, int32_t src_len, VekC16* dst, int32_t* dst_len,   \
                                            int32_t factor, int32_t* phase) {                                    \
        return up<C>(src, src_len, dst, dst_len, factor, phase);                                                 \
    }
VEK_RESAMPLE_ENTRIES(gen, Column::kGen)
VEK_RESAMPLE_ENTRIES(mm, Column::kMm)
VEK_RESAMPLE_ENTRIES(ss, Column::kSs)
VEK_RESAMPLE_ENTRIES(wd, Column::kWd)
#undef VEK_RESAMPLE_ENTRIES
