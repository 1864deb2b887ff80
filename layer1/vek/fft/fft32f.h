// The float FFT front end of every column: creation, size query and release of FftSpec32f records (complex,
// split, real), the forward and inverse drivers (the real ones in packed layouts 1, 2 and 3), and the
// multiplication of packed real spectra. Only the 16-bit FFT, the DFT and the cross-correlation call these.
#pragma once

#include <cstdint>

#include "layer1/vek/fft/engine/fft_engine.h"

#define VEK_FFT32F_DECLARE(col)                                                                                     \
    VekStatus vek_k_fft32f_init_complex_##col(FftSpec32f** out, std::int32_t order, std::int32_t flag,             \
                                              std::int32_t hint);                                                   \
    VekStatus vek_k_fft32f_init_split_##col(FftSpec32f** out, std::int32_t order, std::int32_t flag,               \
                                            std::int32_t hint);                                                     \
    VekStatus vek_k_fft32f_init_real_##col(FftSpec32f** out, std::int32_t order, std::int32_t flag,                \
                                           std::int32_t hint);                                                      \
    VekStatus vek_k_fft32f_free_complex_##col(FftSpec32f* spec);                                                    \
    VekStatus vek_k_fft32f_free_split_##col(FftSpec32f* spec);                                                      \
    VekStatus vek_k_fft32f_free_real_##col(FftSpec32f* spec);                                                       \
    VekStatus vek_k_fft32f_fwd_complex_##col(const float* src, float* dst, const FftSpec32f* spec,                 \
                                             std::uint8_t* work);                                                   \
    VekStatus vek_k_fft32f_inv_complex_##col(const float* src, float* dst, const FftSpec32f* spec,                 \
                                             std::uint8_t* work);                                                   \
    VekStatus vek_k_fft32f_fwd_split_##col(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,     \
                                           const FftSpec32f* spec, std::uint8_t* work);                             \
    VekStatus vek_k_fft32f_inv_split_##col(const float* srcRe, const float* srcIm, float* dstRe, float* dstIm,     \
                                           const FftSpec32f* spec, std::uint8_t* work);                             \
    VekStatus vek_k_fft32f_fwd_real_pack1_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);                                                \
    VekStatus vek_k_fft32f_fwd_real_pack2_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);                                                \
    VekStatus vek_k_fft32f_fwd_real_pack3_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);                                                \
    VekStatus vek_k_fft32f_inv_real_pack1_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);                                                \
    VekStatus vek_k_fft32f_inv_real_pack2_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);                                                \
    VekStatus vek_k_fft32f_inv_real_pack3_##col(const float* src, float* dst, const FftSpec32f* spec,              \
                                                std::uint8_t* work);
VEK_FFT32F_DECLARE(gen)
VEK_FFT32F_DECLARE(mm)
VEK_FFT32F_DECLARE(ss)
VEK_FFT32F_DECLARE(wd)
#undef VEK_FFT32F_DECLARE

// Buffer-size queries: one function serves gen, mm and ss; wd has its own (they behave alike).
VekStatus vek_k_fft32f_buffer_size_complex(const FftSpec32f* spec, std::int32_t* out);
VekStatus vek_k_fft32f_buffer_size_split(const FftSpec32f* spec, std::int32_t* out);
VekStatus vek_k_fft32f_buffer_size_real(const FftSpec32f* spec, std::int32_t* out);
VekStatus vek_k_fft32f_buffer_size_complex_wd(const FftSpec32f* spec, std::int32_t* out);
VekStatus vek_k_fft32f_buffer_size_split_wd(const FftSpec32f* spec, std::int32_t* out);
VekStatus vek_k_fft32f_buffer_size_real_wd(const FftSpec32f* spec, std::int32_t* out);

// Release of any float FFT record with every table it owns; null does nothing.
void vek_k_fft32f_spec_release(FftSpec32f* spec);

// srcDst = src * conj(srcDst) pair by pair on packed layout 2 (an odd n: R(0) then pairs). gen serves mm.
VekStatus vek_k_mul_packed_spectra_conj_gen(const float* src, float* srcDst, std::int32_t n);
VekStatus vek_k_mul_packed_spectra_conj_ss(const float* src, float* srcDst, std::int32_t n);
VekStatus vek_k_mul_packed_spectra_conj_wd(const float* src, float* srcDst, std::int32_t n);

// The float FFT operations of one column, as a table (the 16-bit FFT, DFT and correlation pick theirs).
struct Fft32fOps {
    VekStatus (*init[3])(FftSpec32f**, std::int32_t, std::int32_t, std::int32_t);  // complex, split, real
    VekStatus (*free[3])(FftSpec32f*);
    VekStatus (*size[3])(const FftSpec32f*, std::int32_t*);
    VekStatus (*complex[2])(const float*, float*, const FftSpec32f*, std::uint8_t*);  // fwd, inv
    VekStatus (*split[2])(const float*, const float*, float*, float*, const FftSpec32f*, std::uint8_t*);
    VekStatus (*realFwd[3])(const float*, float*, const FftSpec32f*, std::uint8_t*);  // layouts 1, 2, 3
    VekStatus (*realInv[3])(const float*, float*, const FftSpec32f*, std::uint8_t*);
    VekStatus (*mulPacked)(const float*, float*, std::int32_t);
    void (*scale)(float, float*, std::int32_t);
};
const Fft32fOps& vek_fft32f_ops(int column);
