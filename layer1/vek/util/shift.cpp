// Shifts of a vector in place by one non-negative count: left shifts of 16-bit and 32-bit elements (the bits shifted
// out are lost) and arithmetic right shifts of signed 16-bit and 32-bit elements. A count at or beyond the element
// width clears the vector (left) or leaves each element's sign (-1 or 0) (right). gen runs plain loops; wd calls the
// SSE2 kernel set, ss and mm the MMX set, and each clears with its own column's zero kernel.
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/bits.h"
#include "layer1/vek/util/utilities.h"

namespace {

using vek::core_link::Column;

template <class T>
VekStatus check(int32_t shift, const T* v, int32_t n) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (shift < 0) return VEK_ERR_SHIFT;
    return VEK_OK;
}

template <Column C>
void zero_bytes(void* v, size_t bytes) {
    if constexpr (C == Column::kGen)
        vek_k_zero_gen(v, bytes);
    else if constexpr (C == Column::kMm)
        vek_k_zero_mm(v, bytes);
    else if constexpr (C == Column::kSs)
        vek_k_zero_ss(v, bytes);
    else
        vek_k_zero_wd(v, bytes);
}

template <class T>
void sign_fill(T* v, int64_t n) {
    for (int64_t i = 0; i < n; ++i) {
        T x;
        std::memcpy(&x, v + i, sizeof x);
        x = static_cast<T>(x < 0 ? -1 : 0);
        std::memcpy(v + i, &x, sizeof x);
    }
}

// The kernels of one column: wd the SSE2 set, ss and mm the MMX set; gen plain loops.
template <Column C>
struct Kernels {
    static void shl16(int32_t k, int16_t* v, int32_t n) {
        if constexpr (C == Column::kWd) vek_k_shl_16_inplace_sse2(k, v, n);
        else vek_k_shl_16_inplace_mmx(k, v, n);
    }
    static void shl32(int32_t k, int32_t* v, int32_t n) {
        if constexpr (C == Column::kWd) vek_k_shl_32_inplace_sse2(k, v, n);
        else vek_k_shl_32_inplace_mmx(k, v, n);
    }
    static void sar16(int32_t k, int16_t* v, int32_t n) {
        if constexpr (C == Column::kWd) vek_k_sar_16_inplace_sse2(k, v, n);
        else vek_k_sar_16_inplace_mmx(k, v, n);
    }
    static void sar32(int32_t k, int32_t* v, int32_t n) {
        if constexpr (C == Column::kWd) vek_k_sar_32_inplace_sse2(k, v, n);
        else vek_k_sar_32_inplace_mmx(k, v, n);
    }
};

template <class T, class F>
void plain(T* v, int64_t n, F f) {
    for (int64_t i = 0; i < n; ++i) {
        T x;
        std::memcpy(&x, v + i, sizeof x);
        x = f(x);
        std::memcpy(v + i, &x, sizeof x);
    }
}

template <Column C>
VekStatus shl16(int32_t k, uint16_t* u, int32_t n) {
    if (VekStatus st = check(k, u, n); st != VEK_OK) return st;
    auto* v = reinterpret_cast<int16_t*>(u);
    if (k > 15) {
        zero_bytes<C>(v, 2 * static_cast<size_t>(n));
    } else if constexpr (C == Column::kGen) {
        plain(u, n, [k](uint16_t x) { return static_cast<uint16_t>(x << k); });
    } else {
        Kernels<C>::shl16(k, v, n);
    }
    return VEK_OK;
}

template <Column C>
VekStatus shl32(int32_t k, int32_t* v, int32_t n) {
    if (VekStatus st = check(k, v, n); st != VEK_OK) return st;
    if (k > 31) {
        zero_bytes<C>(v, 4 * static_cast<size_t>(n));
    } else if constexpr (C == Column::kGen) {
        plain(v, n, [k](int32_t x) { return static_cast<int32_t>(static_cast<uint32_t>(x) << k); });
    } else {
        Kernels<C>::shl32(k, v, n);
    }
    return VEK_OK;
}

template <Column C>
VekStatus sar16(int32_t k, int16_t* v, int32_t n) {
    if (VekStatus st = check(k, v, n); st != VEK_OK) return st;
    if (k > 15) {
        sign_fill(v, n);
    } else if constexpr (C == Column::kGen) {
        plain(v, n, [k](int16_t x) { return static_cast<int16_t>(x >> k); });
    } else {
        Kernels<C>::sar16(k, v, n);
    }
    return VEK_OK;
}

template <Column C>
VekStatus sar32(int32_t k, int32_t* v, int32_t n) {
    if (VekStatus st = check(k, v, n); st != VEK_OK) return st;
    if (k > 31) {
        sign_fill(v, n);
    } else if constexpr (C == Column::kGen) {
        plain(v, n, [k](int32_t x) { return x >> k; });
    } else {
        Kernels<C>::sar32(k, v, n);
    }
    return VEK_OK;
}

}  // namespace

#define VEK_SHIFT_ENTRIES(col, C)                                                       \
    VekStatus vek_shift_u16_inplace_body_##col(int32_t k, uint16_t* v, int32_t n) {     \
        return shl16<C>(k, v, n);                                                       \
    }                                                                                   \
    VekStatus vek_shift_u16_inplace_##col(int32_t k, uint16_t* v, int32_t n) {          \
        return vek_shift_u16_inplace_body_##col(k, v, n);                               \
    }                                                                                   \
    VekStatus vek_shift_left_32_inplace_##col(int32_t k, int32_t* v, int32_t n) {       \
        return shl32<C>(k, v, n);                                                       \
    }                                                                                   \
    VekStatus vek_shift_16_inplace_##col(int32_t k, int16_t* v, int32_t n) {            \
        return sar16<C>(k, v, n);                                                       \
    }                                                                                   \
    VekStatus vek_shift_32_inplace_##col(int32_t k, int32_t* v, int32_t n) {            \
        return sar32<C>(k, v, n);                                                       \
    }
VEK_SHIFT_ENTRIES(gen, Column::kGen)
VEK_SHIFT_ENTRIES(mm, Column::kMm)
VEK_SHIFT_ENTRIES(ss, Column::kSs)
VEK_SHIFT_ENTRIES(wd, Column::kWd)
#undef VEK_SHIFT_ENTRIES
