// Fixed-point (Q14) kernels of the 16-bit FFT: Q14 sine tables and twiddle quads, the in-place radix-4
// decimation-in-frequency FFT on 32-bit (re, im) pairs (output in bit-reversed order), and the two real-data
// recombination steps. The gen forms round each Q14 product (4096 added before the 13-bit shift); the
// forms shared by mm, ss and wd truncate, except in the inverse recombination.
#pragma once

#include <cstdint>

// Q14 sine table of an order: N/4 + 1 entries trunc(0.5 + 16384 sin(2 pi i / N)).
std::int16_t* vek_k_fft_sin_table_q14_gen(std::int32_t order);
std::int16_t* vek_k_fft_sin_table_q14_mm(std::int32_t order);
std::int16_t* vek_fft_sin_table_q14(std::int32_t order);
std::int16_t* vek_sin_q14(std::int32_t order);

// N quads (C, S, -S, C) of angle 2 pi j / N, read from a sine table of order >= order.
std::int16_t* vek_k_fft_twiddle_q14(std::int32_t order, const std::int16_t* sine, std::int32_t sineOrder);
std::int16_t* vek_twiddle_q14(std::int32_t order, const std::int16_t* sine, std::int32_t sineOrder);

// In place on n pairs (n a power of two >= 2); direction < 0 gives the inverse. Result bit-reversed.
void vek_k_fft_radix4_q14_gen(std::int32_t* data, std::int32_t n, std::int32_t direction, const std::int16_t* quads);
void vek_k_fft_radix4_q14_mm(std::int32_t* data, std::int32_t n, std::int32_t direction, const std::int16_t* quads);
void vek_fft16_radix4(std::int32_t* data, std::int32_t n, std::int32_t direction, const std::int16_t* quads);

// Recombination of m pairs with the quads of order log2(2m).
void vek_k_fft_real_recomb_q14_fwd_gen(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);
void vek_k_fft_real_recomb_q14_fwd_mm(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);
void vek_k_fft_real_recomb_q14_fwd_wd(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);
void vek_k_fft_real_recomb_q14_inv_gen(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);
void vek_k_fft_real_recomb_q14_inv_mm(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);
void vek_k_fft_real_recomb_q14_inv_wd(std::int32_t* data, std::int32_t m, std::int32_t dir, const std::int16_t* q);

// Permutation of n 8-byte pairs from bit-reversed into natural order (the FftBitrevPairs list of the order).
void vek_k_fft_permute_q14_inplace_wd(std::int32_t* data, std::int32_t n, const std::int32_t* pairs);
