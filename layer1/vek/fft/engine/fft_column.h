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
    static void scale(float factor, float* data, std::int64_t n)
    {
        if (vector) {
            vek_k_fft_scale_f32_wd(factor, data, static_cast<std::int32_t>(n));
        } else {
            vek_k_fft_scale_f32(factor, data, static_cast<std::int32_t>(n));
        }
    }
};

// The radix-4 passes of a column on bit-reversed data of 2^order points with that order's table.
template <class Tr, bool Inv, class D>
void column_passes(const D& data, std::int32_t order, const float* table)
{
    const std::int64_t n = std::int64_t{1} << order;
    if constexpr (Tr::vector) {
        radix4_all<typename Tr::Acc, Inv>(data, n, StageTwiddles{table, order});
    } else {
        radix4_all<typename Tr::Acc, Inv>(data, n, EntryTwiddles{table, n});
    }
}

// Large orders (above the direct limit), on data already in bit-reversed order; scaled at the leaves.
template <class Tr, bool Inv, class D>
void large_transform(const FftSpec32f* spec, const D& data, std::int32_t order, float* work);

// The planner: fills twiddle, large1 and levels of a record of a large order; 0 or -9.
template <class Tr>
VekStatus large_tables(FftSpec32f* spec, std::int32_t order, const float* sine, std::uint32_t sineOrder);

}  // namespace vekfft
