// Multi-rate FIR records ("FI11" real, "FI12" complex): polyphase tables, creation and the block loops.
#pragma once

#include "layer1/vek/fir/fir.h"

namespace fir {

// Derived sizes of a multi-rate filter with `len` taps, up factor U and down factor D.
struct MultirateSizes {
    std::int64_t n;     // taps per polyphase branch and length of the delay history: ceil(len / U)
    std::int64_t T;     // smallest multiple of 4*D greater than n: inputs appended to the delay window
    std::int64_t C;     // ceil(n / D): iterations that still reach into the history
    std::int64_t npad;  // n rounded up to 4 (padded layouts)
};
MultirateSizes multirate_sizes(std::int64_t len, std::int64_t up, std::int64_t down);

// Generic layout: 4*U*n tap entries as rows of four lanes, phase table of window offsets.
// Padded layout: every lane's taps contiguous and padded to npad, phase table of byte steps.
enum class MultirateLayout { Generic, Padded };

VekStatus init_multirate(FirState** out, const std::int32_t* taps, bool complex, std::int32_t len,
                         std::int32_t tapsFactor, std::int32_t up, std::int32_t upPhase, std::int32_t down,
                         std::int32_t downPhase, const void* delay, MultirateLayout layout);

inline bool has_padded_layout(const FirState* st) { return st->paddedLength != 0; }

// Block loops over `iterations` (D inputs in, U outputs out each). The generic loop reads the generic
// tables; the padded loop reads the padded tables with pairwise multiply-add kernels. Either one is
// chosen by the record's layout, whatever column calls it.
void multirate_block_real_generic(FirState* st, const std::int16_t* src, std::int16_t* dst,
                                  std::int64_t iterations, std::int32_t sf);
void multirate_block_complex_generic(FirState* st, const VekC16* src, VekC16* dst, std::int64_t iterations,
                                     std::int32_t sf);
void multirate_block_real_padded(FirState* st, const std::int16_t* src, std::int16_t* dst,
                                 std::int64_t iterations, std::int32_t sf);
void multirate_block_complex_padded(FirState* st, const VekC16* src, VekC16* dst, std::int64_t iterations,
                                    std::int32_t sf);

}  // namespace fir
