// The complex route of the float drivers for orders 4 and up: reordering passes through FftBitrevIndex,
// the direct radix-4 passes after a permutation with FftBitrevPairs, or the large-order transforms; and the
// work-buffer handling shared by all drivers. Orders 0 to 3 take the small kernels (small_kernels.h).
#pragma once

#include <cstdint>
#include <cstring>

#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/fft/engine/fft_large.h"

namespace vekfft {

// A caller's buffer rounded up to 16 bytes, or one allocated for the call (owned set), or null when the
// record needs none. Returns false when the allocation fails.
inline bool take_work(const FftSpec32f* spec, std::uint8_t* given, float** work, std::uint8_t** owned)
{
    *owned = nullptr;
    *work = nullptr;
    if (spec->workBytes <= 0) {
        return true;
    }
    std::uint8_t* p = given;
    if (p == nullptr) {
        p = static_cast<std::uint8_t*>(vek_alloc_8(spec->workBytes));
        if (p == nullptr) {
            return false;
        }
        *owned = p;
    }
    const std::uintptr_t a = (reinterpret_cast<std::uintptr_t>(p) + 15) & ~std::uintptr_t{15};
    *work = reinterpret_cast<float*>(a);
    return true;
}

inline void permute_pairs(const Interleaved& src, const Interleaved& dst, std::int64_t n, const std::int32_t* pairs)
{
    if (src.d == dst.d) {
        vek_k_fft_permute_inplace_gen(dst.d, static_cast<std::int32_t>(n), pairs);
    } else {
        vek_permute_copy(src.d, dst.d, static_cast<std::int32_t>(n), pairs);
    }
}

inline void permute_pairs(const Split& src, const Split& dst, std::int64_t n, const std::int32_t* pairs)
{
    const auto cnt = static_cast<std::int32_t>(n);
    if (src.re == dst.re) {
        vek_k_fft_permute_split_inplace_gen(dst.re, cnt, pairs);
    } else {
        vek_k_fft_permute_split_copy_gen(src.re, dst.re, cnt, pairs);
    }
    if (src.im == dst.im) {
        vek_k_fft_permute_split_inplace_gen(dst.im, cnt, pairs);
    } else {
        vek_k_fft_permute_split_copy_gen(src.im, dst.im, cnt, pairs);
    }
}

template <class Tr, bool Inv, class D>
void complex_route(const FftSpec32f* spec, std::int32_t order, const D& src, const D& dst, float* work,
                   int indexLimit)
{
    const std::int64_t n = std::int64_t{1} << order;
    if constexpr (Tr::vector) {
        if (order <= indexLimit) {  // the bit-reversed load of the vector kernels
            if constexpr (D::kInterleaved) {
                Tr::template vector_reorder<Inv>(src.d, dst.d, n, spec->twiddle, spec->bitrev, work);
            } else {
                Tr::template vector_reorder<Inv>(src.re, src.im, dst.re, dst.im, n, spec->twiddle, spec->bitrev, work);
            }
            scale_block<Tr, Inv>(spec, dst, n);
            return;
        }
    }
    permute_pairs(src, dst, n, spec->bitrev);
    if (order <= Tr::directLimit) {
        column_passes<Tr, Inv>(dst, order, spec->twiddle, work);
        scale_block<Tr, Inv>(spec, dst, n);
    } else {
        large_transform<Tr, Inv>(spec, dst, order, work);
    }
}

}  // namespace vekfft
