// The double-precision transform kernels and the element-wise complex multiplies. No slot and no library
// function calls them; a caller supplies every table and buffer. Kernels check nothing and return nothing.
//
// Tables the FFT kernels read (the caller builds them):
// - Stage layout (SSE2 members): one block per radix-4 stage c = 16, 64, ... (even orders) or 32, 128, ...
//   (odd orders) up to N; per butterfly pair (j, j+1) six 16-byte vectors: cos, -sin of j*2pi/c for both j,
//   then of 2j*2pi/c, then of 3j*2pi/c. A stage takes 12c bytes; 16-byte aligned.
// - Entry layout (x87 members): entries j = 0 .. N/4 of six doubles cos t, -sin t, cos 2t, -sin 2t, cos 3t,
//   -sin 3t with t = 2*pi*j/N.
// - Bit-reversal list: FftBitrevIndex of the order (entry g = 2 * rev(g) over order - 2 bits, then 0).
// The paired layout of the SSE2 members keeps two points a, b as re_a, re_b, im_a, im_b (32 bytes).
#pragma once

#include <cstdint>

// SSE2, orders 3..13. work: N * 16 bytes, 16-byte aligned. Neither direction scales.
void vek_k_fft64f_radix4_fwd_complex_reorder_wd(const double* src, double* dst, std::int32_t n,
                                                const double* twiddles, const std::int32_t* bitrev, double* work);
void vek_k_fft64f_radix4_inv_complex_reorder_wd(const double* src, double* dst, std::int32_t n,
                                                const double* twiddles, const std::int32_t* bitrev, double* work);
// Bit-reversed data in, natural order out; interleaved when layout is 1, the paired layout otherwise.
void vek_k_fft64f_radix4_fwd_complex_wd(double* data, std::int32_t n, const double* twiddles, double* work,
                                        std::int32_t layout);
void vek_k_fft64f_radix4_inv_complex_wd(double* data, std::int32_t n, const double* twiddles, double* work,
                                        std::int32_t layout);
void vek_k_fft64f_radix4_fwd_split_reorder_wd(const double* srcRe, const double* srcIm, double* dstRe,
                                              double* dstIm, std::int32_t n, const double* twiddles,
                                              const std::int32_t* bitrev, double* work);
void vek_k_fft64f_radix4_inv_split_reorder_wd(const double* srcRe, const double* srcIm, double* dstRe,
                                              double* dstIm, std::int32_t n, const double* twiddles,
                                              const std::int32_t* bitrev, double* work);
void vek_k_fft64f_radix4_fwd_split_wd(double* re, double* im, std::int32_t n, const double* twiddles,
                                      double* work);
void vek_k_fft64f_radix4_inv_split_wd(double* re, double* im, std::int32_t n, const double* twiddles,
                                      double* work);

// x87, orders 2..10 (odd orders up to 9), in place on bit-reversed data, entry-layout table.
void vek_k_fft64f_radix4_fwd_complex_ss(double* data, std::int32_t n, const double* twiddles);
void vek_k_fft64f_radix4_inv_complex_ss(double* data, std::int32_t n, const double* twiddles);
void vek_k_fft64f_radix4_fwd_split_ss(double* re, double* im, std::int32_t n, const double* twiddles);
void vek_k_fft64f_radix4_inv_split_ss(double* re, double* im, std::int32_t n, const double* twiddles);

// Column gather and scatter of one group of four columns k0..k0+3 of a level with c columns and r rows.
// Data pointers point at column k0 of row 0. Twiddle rows: r rows of 64 bytes (a(k0), a(k0+1)), (b(k0),
// b(k0+1)), (a(k0+2), a(k0+3)), (b(k0+2), b(k0+3)), multiplier a + ib (its conjugate unless direction is 1).
// Work: four columns of r points (column i at byte 16 * r * i); the gather writes them interleaved, the
// scatter reads them in the paired layout.
void vek_k_fft64f_gather_columns_complex_wd(const double* data, double* work, const double* rows,
                                            std::int32_t direction, std::int32_t c, std::int32_t r);
void vek_k_fft64f_gather_columns_split_wd(const double* re, const double* im, double* work, const double* rows,
                                          std::int32_t direction, std::int32_t c, std::int32_t r);
void vek_k_fft64f_scatter_columns_complex_wd(double* data, const double* work, std::int32_t c, std::int32_t r,
                                             std::int32_t layout);
void vek_k_fft64f_scatter_columns_split_wd(double* re, double* im, const double* work, std::int32_t c,
                                           std::int32_t r);

// Element-wise complex multiplies; len complex elements. 16-bit: the exact product times 2^-sf (floored),
// saturated; the ss members need len >= 1.
void vek_k_fft_mul_c16_inplace_scaled_wd(const std::int16_t* src, std::int16_t* srcDst, std::int32_t len,
                                         std::int32_t sf);
void vek_k_fft_mul_c16_scaled_wd(const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst,
                                 std::int32_t len, std::int32_t sf);
void vek_k_fft_mul_c16_inplace_scaled_ss(const std::int16_t* src, std::int16_t* srcDst, std::int32_t len,
                                         std::int32_t sf);
void vek_k_fft_mul_c16_scaled_ss(const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst,
                                 std::int32_t len, std::int32_t sf);
void vek_k_fft_mul_c32_inplace_wd(const float* src, float* srcDst, std::int32_t len);
void vek_k_fft_mul_c32_wd(const float* src1, const float* src2, float* dst, std::int32_t len);
void vek_k_fft_mul_c32_inplace_ss(const float* src, float* srcDst, std::int32_t len);
void vek_k_fft_mul_c32_ss(const float* src1, const float* src2, float* dst, std::int32_t len);
// srcDst[k] = src[k] * conj(srcDst[k]).
void vek_k_mul_packed_spectra_conj_pairs_wd(const float* src, float* srcDst, std::int32_t len);
void vek_k_mul_packed_spectra_conj_pairs_ss(const float* src, float* srcDst, std::int32_t len);
void vek_k_fft_mul_c64_wd(const double* src1, const double* src2, double* dst, std::int32_t len);
