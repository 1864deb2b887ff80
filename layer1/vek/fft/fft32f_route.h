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

// Bit-reversed load through FftBitrevIndex: positions 4i..4i+3 take x[v], x[v + N/2], x[v + N/4],
// x[v + 3N/4] with v = entry i / 2.
inline void gather_index(const Interleaved& src, const Interleaved& dst, std::int64_t n, const std::int32_t* index)
{
    const auto* s = reinterpret_cast<const unsigned char*>(src.d);
    auto* d = reinterpret_cast<unsigned char*>(dst.d);
    for (std::int64_t i = 0; i < n / 4; ++i) {
        const std::int64_t v = index[i] / 2;
        const std::int64_t from[4] = {v, v + n / 2, v + n / 4, v + 3 * n / 4};
        for (int k = 0; k < 4; ++k) {
            std::memcpy(d + 8 * (4 * i + k), s + 8 * from[k], 8);
        }
    }
}

template <class D>
void gather_index(const D& src, const D& dst, std::int64_t n, const std::int32_t* index)
{
    for (std::int64_t i = 0; i < n / 4; ++i) {
        const std::int64_t v = index[i] / 2;
        const std::int64_t from[4] = {v, v + n / 2, v + n / 4, v + 3 * n / 4};
        for (int k = 0; k < 4; ++k) {
            float r, m;
            src.load(from[k], r, m);
            dst.store(4 * i + k, r, m);
        }
    }
}

inline bool same_data(const Interleaved& a, const Interleaved& b) { return a.d == b.d; }
inline bool same_data(const Split& a, const Split& b) { return a.re == b.re || a.im == b.im || a.re == b.im || a.im == b.re; }
inline Interleaved work_view(float* work, std::int64_t, Interleaved*) { return {work}; }
inline Split work_view(float* work, std::int64_t n, Split*) { return {work, work + n}; }

template <class Tr, bool Inv, class D>
void complex_route(const FftSpec32f* spec, std::int32_t order, const D& src, const D& dst, float* work,
                   int indexLimit)
{
    const std::int64_t n = std::int64_t{1} << order;
    if (order <= indexLimit) {
        const bool same = same_data(src, dst);
        const D area = same ? work_view(work, n, static_cast<D*>(nullptr)) : dst;
        gather_index(src, area, n, spec->bitrev);
        column_passes<Tr, Inv>(area, order, spec->twiddle);
        if (same) {
            for (std::int64_t i = 0; i < n; ++i) {
                float r, m;
                area.load(i, r, m);
                dst.store(i, r, m);
            }
        }
        scale_block<Tr, Inv>(spec, dst, n);
        return;
    }
    permute_pairs(src, dst, n, spec->bitrev);
    if (order <= Tr::directLimit) {
        column_passes<Tr, Inv>(dst, order, spec->twiddle);
        scale_block<Tr, Inv>(spec, dst, n);
    } else {
        large_transform<Tr, Inv>(spec, dst, order, work);
    }
}

}  // namespace vekfft
