// Single-rate FIR kernels of the SIMD columns: the SSE column's (MMX registers with the SSE integer
// extensions; its complex kernels also serve the SSE2 column) and the SSE2 column's kernels.
#pragma once

#include "layer1/vek/fir/fir.h"

namespace fir {

std::int16_t ss_one_real(FirState* st, std::int16_t in, std::int32_t sf);
void ss_block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count, std::int32_t sf);
VekC16 ss_one_complex(FirState* st, VekC16 in, std::int32_t sf);
void ss_block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf);

std::int16_t wd_one_real(FirState* st, std::int16_t in, std::int32_t sf);
void wd_block_real(FirState* st, const std::int16_t* src, std::int16_t* dst, std::int64_t count, std::int32_t sf);
// Complex blocks whose window fits on the stack (up to 32 taps); others go to ss_block_complex.
void wd_block_complex(FirState* st, const VekC16* src, VekC16* dst, std::int64_t count, std::int32_t sf);

}  // namespace fir
