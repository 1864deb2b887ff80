// The FIR family's implementations per column (gen, mm, ss, wd), as the variant rows list them. Functions
// without a column suffix serve every column.
#pragma once

#include "layer1/vek/fir/fir.h"
#include "layer1/vek/fir/fir_context.h"

// Creation: the generic layout (gen, mm and ss columns) and the wide real layout of the SSE2 column; the
// multi-rate tables in the generic layout (gen, mm) and padded (ss, wd).
VekStatus vek_fir_init_real_gen(FirState** state, const std::int32_t* taps, std::int32_t len,
                                std::int32_t tapsFactor, const std::int16_t* delay);
VekStatus vek_fir_init_real_wd(FirState** state, const std::int32_t* taps, std::int32_t len,
                               std::int32_t tapsFactor, const std::int16_t* delay);
VekStatus vek_fir_init_complex_all(FirState** state, const VekC32* taps, std::int32_t len,
                                   std::int32_t tapsFactor, const VekC16* delay);
VekStatus vek_fir_init_real_multirate_gen(FirState** state, const std::int32_t* taps, std::int32_t len,
                                          std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase,
                                          std::int32_t downFactor, std::int32_t downPhase,
                                          const std::int16_t* delay);
VekStatus vek_fir_init_real_multirate_ss(FirState** state, const std::int32_t* taps, std::int32_t len,
                                         std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase,
                                         std::int32_t downFactor, std::int32_t downPhase,
                                         const std::int16_t* delay);
VekStatus vek_fir_init_complex_multirate_gen(FirState** state, const VekC32* taps, std::int32_t len,
                                             std::int32_t tapsFactor, std::int32_t upFactor,
                                             std::int32_t upPhase, std::int32_t downFactor,
                                             std::int32_t downPhase, const VekC16* delay);
VekStatus vek_fir_init_complex_multirate_ss(FirState** state, const VekC32* taps, std::int32_t len,
                                            std::int32_t tapsFactor, std::int32_t upFactor,
                                            std::int32_t upPhase, std::int32_t downFactor,
                                            std::int32_t downPhase, const VekC16* delay);

// Filtering, one set per column.
VekStatus vek_fir_one_real_gen(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_complex_gen(VekC16 in, VekC16* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_real_gen(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* state,
                              std::int32_t sf);
VekStatus vek_fir_block_complex_gen(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                 std::int32_t sf);
VekStatus vek_fir_block_real_inplace_gen(std::int16_t* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_complex_inplace_gen(VekC16* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_real_mm(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_complex_mm(VekC16 in, VekC16* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_real_mm(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* state,
                              std::int32_t sf);
VekStatus vek_fir_block_complex_mm(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                 std::int32_t sf);
VekStatus vek_fir_block_real_inplace_mm(std::int16_t* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_complex_inplace_mm(VekC16* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_real_ss(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_complex_ss(VekC16 in, VekC16* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_real_ss(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* state,
                              std::int32_t sf);
VekStatus vek_fir_block_complex_ss(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                 std::int32_t sf);
VekStatus vek_fir_block_real_inplace_ss(std::int16_t* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_complex_inplace_ss(VekC16* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_real_wd(std::int16_t in, std::int16_t* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_one_complex_wd(VekC16 in, VekC16* out, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_real_wd(const std::int16_t* src, std::int16_t* dst, std::int32_t count, FirState* state,
                              std::int32_t sf);
VekStatus vek_fir_block_complex_wd(const VekC16* src, VekC16* dst, std::int32_t count, FirState* state,
                                 std::int32_t sf);
VekStatus vek_fir_block_real_inplace_wd(std::int16_t* buf, std::int32_t count, FirState* state, std::int32_t sf);
VekStatus vek_fir_block_complex_inplace_wd(VekC16* buf, std::int32_t count, FirState* state, std::int32_t sf);
