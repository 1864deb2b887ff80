// What distinguishes the four columns of the float FFT: arithmetic precision, table layouts, the orders of
// each route, work-buffer sizes and the first factor of every large order. One set of templates reads these
// traits, so the columns differ only where their tables say so.
#pragma once

#include <cstdint>
#include <type_traits>

#include "layer1/vek/fft/engine/fft_engine.h"
#include "layer1/vek/fft/engine/fft_radix.h"

namespace vekfft {

enum Column : int { kGen = 0, kMm = 1, kSs = 2, kWd = 3 };

// First factor of each large order (0: the block scheme of orders 11 and 12).
inline constexpr std::int8_t kFactorWd[31] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5,
                                              4, 3, 4, 11, 12, 11, 12, 12, 12, 11, 12, 13, 14, 10, 10};
inline constexpr std::int8_t kFactorOther[31] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 6, 7,
                                                 8, 8, 8, 10, 10, 10, 10, 8, 8, 10, 10, 10, 10, 10, 10};

template <int C>
struct ColumnTraits {
    static constexpr int column = C;
    static constexpr bool vector = (C == kSs || C == kWd);  // single precision, stage-block tables
    using Acc = std::conditional_t<vector, float, long double>;
    // Orders read through FftBitrevIndex by the reordering passes (complex, split); -1: none.
    static constexpr int indexLimitComplex = C == kWd ? 13 : (C == kSs ? 9 : -1);
    static constexpr int indexLimitSplit = C == kWd ? 14 : (C == kSs ? 8 : -1);
    // Largest order with a radix-4 twiddle table of its own (also the leaf limit of the large orders).
    static constexpr int directLimit = C == kWd ? 14 : 10;
    static constexpr std::int32_t margin = C == kWd ? 131088 : (C == kSs ? 8208 : 16);
    static constexpr const std::int8_t* factors = C == kWd ? kFactorWd : kFactorOther;

    static float* twiddles(std::int32_t order, const float* sine, std::uint32_t sineOrder)
    {
        return vector ? vek_k_fft_twiddle_table_wd(order, sine, sineOrder)
                      : vek_k_fft_twiddle_table(order, sine, sineOrder);
    }
    static std::int32_t* pairs(std::int32_t order)
    {
        return C == kWd ? vek_k_fft_bitrev_pairs_wd(order)
                        : (C == kGen ? vek_fft_bitrev_table(order) : vek_k_fft_bitrev_pairs(order));
    }
    static std::int32_t* index(std::int32_t order)
    {
        return C == kWd ? vek_bitrev_index(order) : vek_k_fft_bitrev_index_ss(order);
    }
    // The vector radix-4 kernels of the column (ss, wd).
    template <bool Inv>
    static void vector_complex(float* data, std::int64_t n, const float* t, float* work, std::int32_t form)
    {
        const auto n32 = static_cast<std::int32_t>(n);
        if (C == kWd) {
            (Inv ? vek_k_fft_radix4_inv_complex_wd : vek_k_fft_radix4_fwd_complex_wd)(data, n32, t, work, form);
        } else {
            (Inv ? vek_k_fft_radix4_inv_complex_ss : vek_k_fft_radix4_fwd_complex_ss)(data, n32, t, work, form);
        }
    }
    template <bool Inv>
    static void vector_split(float* re, float* im, std::int64_t n, const float* t, float* work)
    {
        const auto n32 = static_cast<std::int32_t>(n);
        if (C == kWd) {
            (Inv ? vek_k_fft_radix4_inv_split_wd : vek_k_fft_radix4_fwd_split_wd)(re, im, n32, t, work);
        } else {
            (Inv ? vek_k_fft_radix4_inv_split_ss : vek_k_fft_radix4_fwd_split_ss)(re, im, n32, t, work);
        }
    }
    template <bool Inv>
    static void vector_reorder(const float* src, float* dst, std::int64_t n, const float* t, const std::int32_t* index,
                               float* work)
    {
        const auto n32 = static_cast<std::int32_t>(n);
        if (C == kWd) {
            (Inv ? vek_k_fft_radix4_inv_complex_reorder_wd
                 : vek_k_fft_radix4_fwd_complex_reorder_wd)(src, dst, n32, t, index, work);
        } else {
            (Inv ? vek_k_fft_radix4_inv_complex_reorder_ss
                 : vek_k_fft_radix4_fwd_complex_reorder_ss)(src, dst, n32, t, index, work);
        }
    }
    template <bool Inv>
    static void vector_reorder(const float* sr, const float* si, float* dr, float* di, std::int64_t n, const float* t,
                               const std::int32_t* index, float* work)
    {
        const auto n32 = static_cast<std::int32_t>(n);
        if (C == kWd) {
            (Inv ? vek_k_fft_radix4_inv_split_reorder_wd
                 : vek_k_fft_radix4_fwd_split_reorder_wd)(sr, si, dr, di, n32, t, index, work);
        } else {
            (Inv ? vek_k_fft_radix4_inv_split_reorder_ss
                 : vek_k_fft_radix4_fwd_split_reorder_ss)(sr, si, dr, di, n32, t, index, work);
        }
    }
    static void scale(float factor, float* data, std::int64_t n)
    {
        if (vector) {
            vek_k_fft_scale_f32_wd(factor, data, static_cast<std::int32_t>(n));
        } else {
            vek_k_fft_scale_f32(factor, data, static_cast<std::int32_t>(n));
        }
    }
};

// The radix-4 passes of a column on bit-reversed data of 2^order points (order >= 3 in the vector columns)
// with that order's table; natural order out, interleaved or split as it came. The vector columns need the
// work buffer (8N bytes, aligned) for split data and for interleaved data that is not 16-byte aligned.
template <class Tr, bool Inv, class D>
void column_passes(const D& data, std::int32_t order, const float* table, float* work)
{
    const std::int64_t n = std::int64_t{1} << order;
    if constexpr (!Tr::vector) {
        radix4_all<typename Tr::Acc, Inv>(data, n, EntryTwiddles{table, n});
    } else if constexpr (D::kInterleaved) {
        Tr::template vector_complex<Inv>(data.d, n, table, work, 1);
    } else {
        Tr::template vector_split<Inv>(data.re, data.im, n, table, work);
    }
}

// Large orders (above the direct limit), on data already in bit-reversed order; scaled at the leaves.
template <class Tr, bool Inv, class D>
void large_transform(const FftSpec32f* spec, const D& data, std::int32_t order, float* work);

// The planner: fills twiddle, large1 and levels of a record of a large order; 0 or -9.
template <class Tr>
VekStatus large_tables(FftSpec32f* spec, std::int32_t order, const float* sine, std::uint32_t sineOrder);

}  // namespace vekfft
