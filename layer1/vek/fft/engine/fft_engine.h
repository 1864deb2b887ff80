// The float transform engine: the record of a power-of-two float FFT, the tables it owns (quarter-wave sine,
// twiddles, bit reversal, real recombination, large-order levels) and the kernels that read them. Kernels take
// raw pointers and counts, check nothing and allocate nothing.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"

// Record kinds (the first word of every transform record).
inline constexpr std::int32_t VEK_KIND_FFT16_COMPLEX = 1;
inline constexpr std::int32_t VEK_KIND_FFT16_SPLIT = 2;
inline constexpr std::int32_t VEK_KIND_FFT16_REAL = 3;
inline constexpr std::int32_t VEK_KIND_FFT32F_COMPLEX = 4;
inline constexpr std::int32_t VEK_KIND_FFT32F_SPLIT = 5;
inline constexpr std::int32_t VEK_KIND_FFT32F_REAL = 6;
inline constexpr std::int32_t VEK_KIND_DFT16 = 10;
inline constexpr std::int32_t VEK_KIND_DFT32F = 13;

// Normalisation flags of every FFT and DFT record.
inline constexpr std::int32_t VEK_FFT_NORM_FWD = 1;
inline constexpr std::int32_t VEK_FFT_NORM_INV = 2;
inline constexpr std::int32_t VEK_FFT_NORM_SQRT = 4;
inline constexpr std::int32_t VEK_FFT_NORM_NONE = 8;

// Record of a float FFT of 2^order points. The pointers make it larger than its 19 words of a 32-bit build;
// the field order is kept (kind first).
struct FftSpec32f {
    std::int32_t kind;       // 4 complex, 5 split, 6 real; 0 once released
    std::int32_t order;      // 0..30
    std::int32_t fwdScale;   // forward results times factor
    std::int32_t invScale;   // inverse results times factor
    float factor;            // 1/N or 1/sqrt(N); 0 with no normalisation
    std::int32_t hint;       // stored, never read
    std::int32_t workBytes;  // work buffer a transform needs (0: none)
    std::int32_t* bitrev;    // FftBitrevIndex or FftBitrevPairs of the complex order
    float* twiddle;          // radix-4 twiddles of the direct order, or of the leaves
    float* large1;           // block-scheme twiddles (orders taking the block scheme)
    float* large2;           // never set
    float* recombFwd;        // real records: forward recombination table
    float* recombInv;        // real records: inverse recombination table
    float* levels[6];        // large orders: per-depth factor twiddles (0..2) and level twiddles (3..5)
};

// ---- Tables ----------------------------------------------------------------------------------------------

// Quarter-wave sine table of order T: N/4 + 1 floats sin(2*pi*i/N) (one value for T < 2).
float* vek_k_fft_sin_table_gen(std::uint32_t order);
float* vek_k_fft_sin_table_mm(std::uint32_t order);
float* vek_k_fft_sin_table_ss(std::uint32_t order);
float* vek_k_fft_sin_table_wd(std::uint32_t order);

// Radix-4 twiddles of order n from a sine table of order T >= n: entry layout (gen, mm) and stage-block
// layout (ss, wd).
float* vek_k_fft_twiddle_table(std::int32_t order, const float* sine, std::uint32_t sineOrder);
float* vek_k_fft_twiddle_table_ss(std::int32_t order, const float* sine, std::uint32_t sineOrder);
float* vek_k_fft_twiddle_table_wd(std::int32_t order, const float* sine, std::uint32_t sineOrder);

// Offset in floats of the stage block of a stage of 2^stageOrder points in a stage-block table of order n.
std::int32_t vek_k_fft_stage_block_offset(std::int32_t order, std::int32_t stageOrder);

// The twiddle (cos, -sin) of angle 2*pi*e/S, folded from a sine table read with stride (T - log2 S).
void vek_k_fft_fold_twiddle(const float* sine, std::uint32_t sineOrder, std::int32_t sizeOrder, std::int64_t e,
                            float* re, float* im);

// Bit-reversal tables of order L: swap list and index table (M + 1 values, M = N/4).
std::int32_t* vek_k_fft_bitrev_pairs_wd(std::int32_t order);
std::int32_t* vek_k_fft_bitrev_pairs(std::int32_t order);
std::int32_t* vek_fft_bitrev_table(std::int32_t order);
std::int32_t* vek_bitrev_index(std::int32_t order);
std::int32_t* vek_k_fft_bitrev_index_ss(std::int32_t order);

// ---- Permutations into bit-reversed order ---------------------------------------------------------------

// In place and copying, for 8-byte (complex float) and 4-byte (one split array) elements; n elements.
void vek_k_fft_permute_inplace_gen(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_inplace_ss(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_inplace_wd(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_copy_gen(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs);
void vek_permute_copy(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_inplace_gen(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_inplace_mm(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_inplace_ss(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_inplace_wd(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_copy_gen(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_split_copy_wd(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs);
// 16-byte elements (no caller in the library).
void vek_k_fft_permute_e16_inplace_wd(void* data, std::int32_t n, const std::int32_t* pairs);
void vek_k_fft_permute_e16_copy_wd(const void* src, void* dst, std::int32_t n, const std::int32_t* pairs);

// ---- Vector radix-4 passes (ss, wd) -------------------------------------------------------------------------
// N >= 8 (wd up to 16384, ss up to 1024); stage-block twiddles of the order; work: 8N bytes, 16-byte aligned.
// Bit-reversed load: natural-order source read through FftBitrevIndex; dst may be src. In place: data in
// bit-reversed order; form 1 leaves interleaved elements, any other form the quad-block layout (four real
// parts, then four imaginary parts, per four elements); work may be null when data is 16-byte aligned.
#define VEK_RADIX4_VECTOR_DECLARE(dir, col)                                                                        \
    void vek_k_fft_radix4_##dir##_complex_reorder_##col(const float* src, float* dst, std::int32_t n,              \
                                                        const float* twiddles, const std::int32_t* index,          \
                                                        float* work);                                              \
    void vek_k_fft_radix4_##dir##_complex_##col(float* data, std::int32_t n, const float* twiddles, float* work,   \
                                                std::int32_t form);                                                \
    void vek_k_fft_radix4_##dir##_split_reorder_##col(const float* srcRe, const float* srcIm, float* dstRe,        \
                                                      float* dstIm, std::int32_t n, const float* twiddles,         \
                                                      const std::int32_t* index, float* work);                     \
    void vek_k_fft_radix4_##dir##_split_##col(float* re, float* im, std::int32_t n, const float* twiddles,         \
                                              float* work);
VEK_RADIX4_VECTOR_DECLARE(fwd, ss)
VEK_RADIX4_VECTOR_DECLARE(inv, ss)
VEK_RADIX4_VECTOR_DECLARE(fwd, wd)
VEK_RADIX4_VECTOR_DECLARE(inv, wd)
#undef VEK_RADIX4_VECTOR_DECLARE

// ---- Scaling ---------------------------------------------------------------------------------------------

void vek_k_fft_scale_f32(float factor, float* data, std::int32_t n);
void vek_k_fft_scale_f32_wd(float factor, float* data, std::int32_t n);

// ---- Real recombination tables (order L >= 4, N/2 floats) -----------------------------------------------

float* vek_k_fft_real_recomb_table_fwd_gen(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_inv_gen(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_fwd_mm(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_inv_mm(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_fwd_ss(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_inv_ss(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_fwd_wd(std::int32_t order, const float* sine);
float* vek_k_fft_real_recomb_table_inv_wd(std::int32_t order, const float* sine);
