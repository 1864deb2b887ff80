// The 16-bit FFT of dispatch slots 89 to 107: FftSpec records (complex, split, real) on the fixed-point path
// (Q14 kernels, one block shift in, one rounding shift out) or the float path (an inner FftSpec32f), and the
// ten transforms. One member per column; the buffer-size queries have a gen member (gen, mm, ss) and a wd one.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"
#include "layer1/vek/fft/engine/fft_engine.h"

// Twelve fields; the pointers make it larger than 48 bytes in a 64-bit build (field order kept, kind first).
struct FftSpec {
    std::int32_t kind;         // 1 complex, 2 split, 3 real; 0 once released
    std::int32_t order;        // 0..30
    std::int32_t fwdShift;     // fixed path: extra right shift of forward results
    std::int32_t invShift;     // fixed path: extra right shift of inverse results
    std::int32_t oddFlag;      // fixed path: both directions also times 1/sqrt(2)
    std::int32_t hint;         // as passed
    std::int32_t workBytes;    // work buffer a transform needs (0 at order 0)
    std::int32_t fixed;        // 1 fixed-point path, 0 float path
    std::int32_t* bitrev;      // fixed path: FftBitrevPairs of the complex order
    std::int16_t* twiddles;    // fixed path: Q14 quads of the complex order
    std::int16_t* recomb;      // fixed path, real: Q14 quads of the order
    FftSpec32f* inner;         // float path: kind 4, 5 or 6, same order and flag, hint 0
};

#define VEK_FFT16_DECLARE(col)                                                                                   \
    VekStatus vek_fft_init_complex_##col(FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint); \
    VekStatus vek_fft_init_split_##col(FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint);   \
    VekStatus vek_fft_init_real_##col(FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint);    \
    VekStatus vek_fft_free_complex_##col(FftSpec* spec);                                                         \
    VekStatus vek_fft_free_split_##col(FftSpec* spec);                                                           \
    VekStatus vek_fft_free_real_##col(FftSpec* spec);                                                            \
    VekStatus vek_fft_buffer_size_complex_##col(const FftSpec* spec, std::int32_t* size);                        \
    VekStatus vek_fft_buffer_size_split_##col(const FftSpec* spec, std::int32_t* size);                          \
    VekStatus vek_fft_buffer_size_real_##col(const FftSpec* spec, std::int32_t* size);                           \
    VekStatus vek_fft_fwd_complex_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,         \
                                        std::int32_t sf, std::uint8_t* work);                                    \
    VekStatus vek_fft_inv_complex_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,         \
                                        std::int32_t sf, std::uint8_t* work);                                    \
    VekStatus vek_fft_fwd_split_##col(const std::int16_t* srcRe, const std::int16_t* srcIm, std::int16_t* dstRe, \
                                      std::int16_t* dstIm, const FftSpec* spec, std::int32_t sf,                 \
                                      std::uint8_t* work);                                                       \
    VekStatus vek_fft_inv_split_##col(const std::int16_t* srcRe, const std::int16_t* srcIm, std::int16_t* dstRe, \
                                      std::int16_t* dstIm, const FftSpec* spec, std::int32_t sf,                 \
                                      std::uint8_t* work);                                                       \
    VekStatus vek_fft_fwd_real_pack1_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);                                 \
    VekStatus vek_fft_fwd_real_pack2_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);                                 \
    VekStatus vek_fft_fwd_real_pack3_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);                                 \
    VekStatus vek_fft_inv_real_pack1_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);                                 \
    VekStatus vek_fft_inv_real_pack2_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);                                 \
    VekStatus vek_fft_inv_real_pack3_##col(const std::int16_t* src, std::int16_t* dst, const FftSpec* spec,      \
                                           std::int32_t sf, std::uint8_t* work);
VEK_FFT16_DECLARE(gen)
VEK_FFT16_DECLARE(mm)
VEK_FFT16_DECLARE(ss)
VEK_FFT16_DECLARE(wd)
#undef VEK_FFT16_DECLARE

// Release of a record's tables and the record (not its inner float record); null does nothing.
void vek_k_fft16_spec_release(FftSpec* spec);
