// The DFT of any length: the 16-bit records of slots 241-244 (kind 10) and the float records beneath them
// (kind 13), which choose by length: small kernels (1 to 4), the complex FFT (powers of two), the direct DFT
// with a table of the length (5 to 150) or the chirp-z transform through a power-of-two FFT (above 150).
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"
#include "layer1/vek/fft/engine/fft_engine.h"

struct DftSpec32f {
    std::int32_t kind;       // 13; 0 once released
    std::int32_t length;     // N >= 1
    std::int32_t fwdScale;
    std::int32_t invScale;
    float factor;            // 1/N or 1/sqrt(N); 0 with no normalisation
    std::int32_t hint;       // passed on to the power-of-two FFT
    std::int32_t workBytes;
    std::int32_t isPow2;     // N >= 5 a power of two
    std::int32_t chirpSize;  // M, the chirp-z transform size
    float* directTable;      // e^(-2 pi i m / N), m < N (direct method)
    float* chirp;            // N complex e^(-i pi n^2 / N) (chirp-z)
    float* chirpSpectrum;    // M complex: the transformed chirp, divided by M (chirp-z)
    FftSpec32f* powerFft;    // complex FFT of order log2 N (power of two)
    FftSpec32f* chirpFft;    // complex FFT of order log2 M, unnormalised (chirp-z)
};

// 16-bit record; the pointer makes it larger than five words in a 64-bit build.
struct DftSpec {
    std::int32_t kind;       // 10; 0 once released
    std::int32_t length;
    std::int32_t hint;       // recorded, not read
    std::int32_t workBytes;  // 0 for N = 1, else 8N + 16 + the inner record's
    DftSpec32f* inner;       // null for N = 1
};

#define VEK_DFT_DECLARE(col)                                                                                      \
    VekStatus vek_dft_init_##col(DftSpec** out, std::int32_t len, std::int32_t flag, std::int32_t hint);         \
    VekStatus vek_dft_free_##col(DftSpec* spec);                                                                 \
    VekStatus vek_dft_fwd_##col(const VekC16* src, VekC16* dst, const DftSpec* spec, std::int32_t sf,            \
                                std::uint8_t* work);                                                              \
    VekStatus vek_dft_inv_##col(const VekC16* src, VekC16* dst, const DftSpec* spec, std::int32_t sf,            \
                                std::uint8_t* work);                                                              \
    VekStatus vek_k_dft32f_init_##col(DftSpec32f** out, std::int32_t len, std::int32_t flag, std::int32_t hint); \
    VekStatus vek_k_dft32f_free_##col(DftSpec32f* spec);                                                         \
    VekStatus vek_k_dft32f_fwd_##col(const float* src, float* dst, const DftSpec32f* spec, std::uint8_t* work);  \
    VekStatus vek_k_dft32f_inv_##col(const float* src, float* dst, const DftSpec32f* spec, std::uint8_t* work);  \
    void vek_k_dft32f_release_##col(DftSpec32f* spec);
VEK_DFT_DECLARE(gen)
VEK_DFT_DECLARE(mm)
VEK_DFT_DECLARE(ss)
VEK_DFT_DECLARE(wd)
#undef VEK_DFT_DECLARE

VekStatus vek_k_dft32f_buffer_size(const DftSpec32f* spec, std::int32_t* bytes);
VekStatus vek_k_dft32f_buffer_size_wd(const DftSpec32f* spec, std::int32_t* bytes);

// Table of length L: L points (cos, -sin) of 2 pi m / L; the ss and wd tables add 2L offsets 2 (e mod L).
float* vek_dft_chirp_table(std::int32_t len);
float* vek_k_dft_chirp_table_ss(std::int32_t len);
float* vek_k_dft_chirp_table_mm(std::int32_t len);
