// The one list of the library's 252 dispatch slots: slot number, API name, return type, parameter list, and
// whether the data pumps reach the slot through an entry point (E) or not (N). Everything that depends on a
// slot's signature (the typed variant rows, the placeholders, the entry points, the registration checks) is
// generated from this list, so a signature is written exactly once, here.
//
// Conventions of the parameter lists: vectors are raw element pointers, lengths and scale factors int32_t,
// complex 16-bit elements VekC16 (one packed 32-bit word when passed by value), complex 32-bit elements
// VekC32; 8-bit unsigned constants uint8_t, 16-bit constants int16_t, 32-bit complex constants two int32_t.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_types.h"

// clang-format off
#define VEK_SLOT_LIST(X) \
    X(0, vek_get_version, const VekVersion*, (), N) \
    X(1, vek_status_text, const char*, (VekStatus code), N) \
    X(2, vek_alloc_8, void*, (std::int32_t n), N) \
    X(3, vek_alloc_16, void*, (std::int32_t n), N) \
    X(4, vek_alloc_32, void*, (std::int32_t n), N) \
    X(5, vek_alloc_8_b, void*, (std::int32_t n), N) \
    X(6, vek_alloc_16_b, void*, (std::int32_t n), N) \
    X(7, vek_alloc_32_b, void*, (std::int32_t n), N) \
    X(8, vek_alloc_64, void*, (std::int32_t n), N) \
    X(9, vek_alloc_16_c, void*, (std::int32_t n), N) \
    X(10, vek_alloc_32_c, void*, (std::int32_t n), N) \
    X(11, vek_alloc_64_b, void*, (std::int32_t n), N) \
    X(12, vek_alloc_128, void*, (std::int32_t n), N) \
    X(13, vek_free, void, (void* block), N) \
    X(14, vek_copy_8, VekStatus, (const std::uint8_t* src, std::uint8_t* dst, std::int32_t n), E) \
    X(15, vek_copy_16, VekStatus, (const std::int16_t* src, std::int16_t* dst, std::int32_t n), E) \
    X(16, vek_copy_32, VekStatus, (const std::int32_t* src, std::int32_t* dst, std::int32_t n), N) \
    X(17, vek_zero_8, VekStatus, (std::uint8_t* dst, std::int32_t n), E) \
    X(18, vek_zero_16, VekStatus, (std::int16_t* dst, std::int32_t n), E) \
    X(19, vek_zero_32, VekStatus, (std::int32_t* dst, std::int32_t n), N) \
    X(20, vek_complex_split_16, VekStatus, (const VekC16* src, std::int16_t* re, std::int16_t* im, std::int32_t n), N) \
    X(21, vek_complex_join_16, VekStatus, (const std::int16_t* re, const std::int16_t* im, VekC16* dst, std::int32_t n), N) \
    X(22, vek_abs_16_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n), N) \
    X(23, vek_abs_16, VekStatus, (const std::int16_t* src, std::int16_t* dst, std::int32_t n), N) \
    X(24, vek_fir_init_real, VekStatus, (FirState** state, const std::int32_t* taps, std::int32_t len, std::int32_t tapsFactor, const std::int16_t* delay), E) \
    X(25, vek_fir_init_real_multirate, VekStatus, (FirState** state, const std::int32_t* taps, std::int32_t len, std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase, std::int32_t downFactor, std::int32_t downPhase, const std::int16_t* delay), N) \
    X(26, vek_fir_init_complex, VekStatus, (FirState** state, const VekC32* taps, std::int32_t len, std::int32_t tapsFactor, const VekC16* delay), E) \
    X(27, vek_fir_init_complex_multirate, VekStatus, (FirState** state, const VekC32* taps, std::int32_t len, std::int32_t tapsFactor, std::int32_t upFactor, std::int32_t upPhase, std::int32_t downFactor, std::int32_t downPhase, const VekC16* delay), N) \
    X(28, vek_fir_free_real, VekStatus, (FirState* state), E) \
    X(29, vek_fir_free_complex, VekStatus, (FirState* state), E) \
    X(30, vek_fir_get_taps_real, VekStatus, (const FirState* state, std::int32_t* dst, std::int32_t* tapsFactor), N) \
    X(31, vek_fir_get_taps_complex, VekStatus, (const FirState* state, VekC32* dst, std::int32_t* tapsFactor), N) \
    X(32, vek_fir_get_delay_real, VekStatus, (const FirState* state, std::int16_t* dst), N) \
    X(33, vek_fir_set_delay_real, VekStatus, (FirState* state, const std::int16_t* src), E) \
    X(34, vek_fir_get_delay_complex, VekStatus, (const FirState* state, VekC16* dst), N) \
    X(35, vek_fir_set_delay_complex, VekStatus, (FirState* state, const VekC16* src), N) \
    X(36, vek_fir_one_real, VekStatus, (std::int16_t x, std::int16_t* y, FirState* state, std::int32_t sf), E) \
    X(37, vek_fir_one_complex, VekStatus, (VekC16 x, VekC16* y, FirState* state, std::int32_t sf), N) \
    X(38, vek_fir_block_real, VekStatus, (const std::int16_t* src, std::int16_t* dst, std::int32_t n, FirState* state, std::int32_t sf), E) \
    X(39, vek_fir_block_complex, VekStatus, (const VekC16* src, VekC16* dst, std::int32_t n, FirState* state, std::int32_t sf), N) \
    X(40, vek_fir_block_real_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n, FirState* state, std::int32_t sf), N) \
    X(41, vek_fir_block_complex_inplace, VekStatus, (VekC16* srcdst, std::int32_t n, FirState* state, std::int32_t sf), E) \
    X(42, vek_iir_init_real, VekStatus, (IirState** state, const std::int32_t* taps, std::int32_t order, std::int32_t tapsFactor, const std::int32_t* delay), N) \
    X(43, vek_iir_init_complex, VekStatus, (IirState** state, const VekC32* taps, std::int32_t order, std::int32_t tapsFactor, const VekC32* delay), N) \
    X(44, vek_iir_free_real, VekStatus, (IirState* state), N) \
    X(45, vek_iir_free_complex, VekStatus, (IirState* state), N) \
    X(46, vek_iir_init_biquad_real, VekStatus, (IirState** state, const std::int32_t* taps, std::int32_t sections, std::int32_t tapsFactor, const std::int32_t* delay), N) \
    X(47, vek_iir_init_biquad_complex, VekStatus, (IirState** state, const VekC32* taps, std::int32_t sections, std::int32_t tapsFactor, const VekC32* delay), N) \
    X(48, vek_iir_one_real, VekStatus, (std::int16_t x, std::int16_t* y, IirState* state, std::int32_t sf), N) \
    X(49, vek_iir_one_complex, VekStatus, (VekC16 x, VekC16* y, IirState* state, std::int32_t sf), N) \
    X(50, vek_iir_block_real, VekStatus, (const std::int16_t* src, std::int16_t* dst, std::int32_t n, IirState* state, std::int32_t sf), N) \
    X(51, vek_iir_block_complex, VekStatus, (const VekC16* src, VekC16* dst, std::int32_t n, IirState* state, std::int32_t sf), N) \
    X(52, vek_iir_block_real_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n, IirState* state, std::int32_t sf), N) \
    X(53, vek_iir_block_complex_inplace, VekStatus, (VekC16* srcdst, std::int32_t n, IirState* state, std::int32_t sf), N) \
    X(54, vek_iir_get_delay_real, VekStatus, (const IirState* state, std::int32_t* dst), N) \
    X(55, vek_iir_set_delay_real, VekStatus, (IirState* state, const std::int32_t* src), N) \
    X(56, vek_iir_get_delay_complex, VekStatus, (const IirState* state, VekC32* dst), N) \
    X(57, vek_iir_set_delay_complex, VekStatus, (IirState* state, const VekC32* src), N) \
    X(58, vek_power_spectrum_complex_16, VekStatus, (const VekC16* src, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(59, vek_power_spectrum_split_16, VekStatus, (const std::int16_t* re, const std::int16_t* im, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(60, vek_find_nearest_one, VekStatus, (std::uint16_t value, std::uint16_t* nearest, std::int32_t* index, const std::uint16_t* table, std::int32_t tableLen), E) \
    X(61, vek_find_nearest, VekStatus, (const std::uint16_t* src, std::uint16_t* nearest, std::int32_t* index, std::int32_t n, const std::uint16_t* table, std::int32_t tableLen), E) \
    X(62, vek_lms_direct_one, VekStatus, (std::int16_t x, std::int16_t desired, std::int16_t* y, std::int32_t* taps, std::int32_t len, std::int32_t mu, std::int16_t* delay, std::int32_t* index), N) \
    X(63, vek_lms_filter_real, VekStatus, (std::int32_t* out, const LmsState* state), E) \
    X(64, vek_lms_put_filter_real, VekStatus, (std::int16_t x, std::int32_t* out, LmsState* state), E) \
    X(65, vek_lms_filter_complex, VekStatus, (VekC32* out, const LmsState* state), E) \
    X(66, vek_lms_put_filter_complex, VekStatus, (VekC16 x, VekC32* out, LmsState* state), E) \
    X(67, vek_lms_init_real, VekStatus, (LmsState** state, const std::int32_t* taps, std::int32_t len, const std::int16_t* delay, std::int32_t index, std::int32_t step, std::int32_t updateDelay, std::int32_t mu), E) \
    X(68, vek_lms_free, VekStatus, (LmsState* state), E) \
    X(69, vek_lms_init_complex, VekStatus, (LmsState** state, const VekC32* taps, std::int32_t len, const VekC16* delay, std::int32_t index, std::int32_t step, std::int32_t updateDelay, std::int32_t mu), E) \
    X(70, vek_lms_free_complex, VekStatus, (LmsState* state), E) \
    X(71, vek_lms_set_taps_real, VekStatus, (LmsState* state, const std::int32_t* taps), E) \
    X(72, vek_lms_get_taps_real, VekStatus, (const LmsState* state, std::int32_t* dst), E) \
    X(73, vek_lms_get_taps_ptr, VekStatus, (LmsState* state, std::int32_t** taps), N) \
    X(74, vek_lms_set_taps_complex, VekStatus, (LmsState* state, const VekC32* taps), E) \
    X(75, vek_lms_get_taps_complex, VekStatus, (const LmsState* state, VekC32* dst), E) \
    X(76, vek_lms_get_taps_ptr_complex, VekStatus, (LmsState* state, std::int32_t** taps), N) \
    X(77, vek_lms_set_delay_real, VekStatus, (LmsState* state, const std::int16_t* samples, std::int32_t index), E) \
    X(78, vek_lms_get_delay_real, VekStatus, (const LmsState* state, std::int16_t* dst, std::int32_t* index), N) \
    X(79, vek_lms_get_delay_value_real, VekStatus, (const LmsState* state, std::int16_t* out, std::int32_t k), N) \
    X(80, vek_lms_set_delay_complex, VekStatus, (LmsState* state, const VekC16* samples, std::int32_t index), E) \
    X(81, vek_lms_get_delay_complex, VekStatus, (const LmsState* state, VekC16* dst, std::int32_t* index), E) \
    X(82, vek_lms_get_delay_value_complex, VekStatus, (const LmsState* state, VekC16* out, std::int32_t k), N) \
    X(83, vek_lms_put_value_real, VekStatus, (std::int16_t x, LmsState* state), E) \
    X(84, vek_lms_put_value_complex, VekStatus, (VekC16 x, LmsState* state), E) \
    X(85, vek_lms_set_mu_real, VekStatus, (LmsState* state, std::int32_t mu), E) \
    X(86, vek_lms_set_mu_complex, VekStatus, (LmsState* state, std::int32_t mu), E) \
    X(87, vek_lms_update_real, VekStatus, (std::int32_t error, LmsState* state), E) \
    X(88, vek_lms_update_complex, VekStatus, (std::int32_t errorRe, std::int32_t errorIm, LmsState* state), E) \
    X(89, vek_fft_init_complex, VekStatus, (FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint), N) \
    X(90, vek_fft_init_split, VekStatus, (FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint), N) \
    X(91, vek_fft_init_real, VekStatus, (FftSpec** spec, std::int32_t order, std::int32_t flag, std::int32_t hint), N) \
    X(92, vek_fft_free_complex, VekStatus, (FftSpec* spec), N) \
    X(93, vek_fft_free_split, VekStatus, (FftSpec* spec), N) \
    X(94, vek_fft_free_real, VekStatus, (FftSpec* spec), N) \
    X(95, vek_fft_buffer_size_complex, VekStatus, (const FftSpec* spec, std::int32_t* size), N) \
    X(96, vek_fft_buffer_size_split, VekStatus, (const FftSpec* spec, std::int32_t* size), N) \
    X(97, vek_fft_buffer_size_real, VekStatus, (const FftSpec* spec, std::int32_t* size), N) \
    X(98, vek_fft_fwd_complex, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(99, vek_fft_inv_complex, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(100, vek_fft_fwd_split, VekStatus, (const std::int16_t* srcRe, const std::int16_t* srcIm, std::int16_t* dstRe, std::int16_t* dstIm, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(101, vek_fft_inv_split, VekStatus, (const std::int16_t* srcRe, const std::int16_t* srcIm, std::int16_t* dstRe, std::int16_t* dstIm, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(102, vek_fft_fwd_real_pack1, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(103, vek_fft_inv_real_pack1, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(104, vek_fft_fwd_real_pack2, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(105, vek_fft_inv_real_pack2, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(106, vek_fft_fwd_real_pack3, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(107, vek_fft_inv_real_pack3, VekStatus, (const std::int16_t* src, std::int16_t* dst, const FftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(108, vek_mean_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int16_t* mean, std::int32_t sf), N) \
    X(109, vek_mean_complex_16, VekStatus, (const VekC16* src, std::int32_t n, VekC16* mean, std::int32_t sf), N) \
    X(110, vek_stddev_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int32_t* stddev, std::int32_t sf), N) \
    X(111, vek_stddev_16_scaled, VekStatus, (const std::int16_t* src, std::int32_t n, std::int16_t* stddev, std::int32_t sf), N) \
    X(112, vek_norm_l1_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int32_t* norm, std::int32_t sf), E) \
    X(113, vek_norm_l2_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int32_t* norm, std::int32_t sf), N) \
    X(114, vek_norm_diff_inf_16, VekStatus, (const std::int16_t* a, const std::int16_t* b, std::int32_t n, std::int32_t* norm, std::int32_t sf), N) \
    X(115, vek_norm_diff_l1_16, VekStatus, (const std::int16_t* a, const std::int16_t* b, std::int32_t n, std::int32_t* norm, std::int32_t sf), E) \
    X(116, vek_norm_diff_l2_16, VekStatus, (const std::int16_t* a, const std::int16_t* b, std::int32_t n, std::int32_t* norm, std::int32_t sf), N) \
    X(117, vek_cross_corr_16, VekStatus, (const std::int16_t* src1, std::int32_t len1, const std::int16_t* src2, std::int32_t len2, std::int16_t* dst, std::int32_t dstLen, std::int32_t lowLag, std::int32_t sf), N) \
    X(118, vek_upsample_16, VekStatus, (const std::int16_t* src, std::int32_t srcLen, std::int16_t* dst, std::int32_t* dstLen, std::int32_t factor, std::int32_t* phase), E) \
    X(119, vek_upsample_complex_16, VekStatus, (const VekC16* src, std::int32_t srcLen, VekC16* dst, std::int32_t* dstLen, std::int32_t factor, std::int32_t* phase), N) \
    X(120, vek_downsample_16, VekStatus, (const std::int16_t* src, std::int32_t srcLen, std::int16_t* dst, std::int32_t* dstLen, std::int32_t factor, std::int32_t* phase), E) \
    X(121, vek_downsample_complex_16, VekStatus, (const VekC16* src, std::int32_t srcLen, VekC16* dst, std::int32_t* dstLen, std::int32_t factor, std::int32_t* phase), N) \
    X(122, vek_min_index_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int16_t* min, std::int32_t* index), E) \
    X(123, vek_max_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int16_t* max), E) \
    X(124, vek_threshold_lt_16_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n, std::int16_t level), N) \
    X(125, vek_threshold_gt_16_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n, std::int16_t level), N) \
    X(126, vek_add_const_16_inplace, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n), N) \
    X(127, vek_sub_const_16_inplace, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n), N) \
    X(128, vek_mul_const_16_inplace, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n), E) \
    X(129, vek_add_const_8_inplace_scaled, VekStatus, (std::uint8_t c, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(130, vek_sub_const_8_inplace_scaled, VekStatus, (std::uint8_t c, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(131, vek_subrev_const_8_inplace_scaled, VekStatus, (std::uint8_t c, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(132, vek_mul_const_8_inplace_scaled, VekStatus, (std::uint8_t c, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(133, vek_add_const_16_inplace_scaled, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(134, vek_sub_const_16_inplace_scaled, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(135, vek_mul_const_16_inplace_scaled, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), E) \
    X(136, vek_add_const_c16_inplace_scaled, VekStatus, (VekC16 c, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(137, vek_sub_const_c16_inplace_scaled, VekStatus, (VekC16 c, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(138, vek_mul_const_c16_inplace_scaled, VekStatus, (VekC16 c, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(139, vek_subrev_const_16_inplace_scaled, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(140, vek_subrev_const_c16_inplace_scaled, VekStatus, (VekC16 c, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(141, vek_add_const_32_inplace_scaled, VekStatus, (std::int32_t c, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(142, vek_add_const_c32_inplace_scaled, VekStatus, (std::int32_t cRe, std::int32_t cIm, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(143, vek_sub_const_32_inplace_scaled, VekStatus, (std::int32_t c, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(144, vek_sub_const_c32_inplace_scaled, VekStatus, (std::int32_t cRe, std::int32_t cIm, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(145, vek_subrev_const_32_inplace_scaled, VekStatus, (std::int32_t c, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(146, vek_subrev_const_c32_inplace_scaled, VekStatus, (std::int32_t cRe, std::int32_t cIm, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(147, vek_mul_const_32_inplace_scaled, VekStatus, (std::int32_t c, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), E) \
    X(148, vek_mul_const_c32_inplace_scaled, VekStatus, (std::int32_t cRe, std::int32_t cIm, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(149, vek_add_const_8_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t c, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(150, vek_sub_const_8_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t c, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(151, vek_subrev_const_8_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t c, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(152, vek_mul_const_8_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t c, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(153, vek_add_const_16_scaled, VekStatus, (const std::int16_t* src, std::int16_t c, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(154, vek_add_const_c16_scaled, VekStatus, (const VekC16* src, VekC16 c, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(155, vek_sub_const_16_scaled, VekStatus, (const std::int16_t* src, std::int16_t c, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(156, vek_sub_const_c16_scaled, VekStatus, (const VekC16* src, VekC16 c, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(157, vek_subrev_const_16_scaled, VekStatus, (const std::int16_t* src, std::int16_t c, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(158, vek_subrev_const_c16_scaled, VekStatus, (const VekC16* src, VekC16 c, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(159, vek_mul_const_16_scaled, VekStatus, (const std::int16_t* src, std::int16_t c, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(160, vek_mul_const_c16_scaled, VekStatus, (const VekC16* src, VekC16 c, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(161, vek_add_const_32_scaled, VekStatus, (const std::int32_t* src, std::int32_t c, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(162, vek_add_const_c32_scaled, VekStatus, (const VekC32* src, std::int32_t cRe, std::int32_t cIm, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(163, vek_sub_const_32_scaled, VekStatus, (const std::int32_t* src, std::int32_t c, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(164, vek_sub_const_c32_scaled, VekStatus, (const VekC32* src, std::int32_t cRe, std::int32_t cIm, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(165, vek_subrev_const_32_scaled, VekStatus, (const std::int32_t* src, std::int32_t c, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(166, vek_subrev_const_c32_scaled, VekStatus, (const VekC32* src, std::int32_t cRe, std::int32_t cIm, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(167, vek_mul_const_32_scaled, VekStatus, (const std::int32_t* src, std::int32_t c, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(168, vek_mul_const_c32_scaled, VekStatus, (const VekC32* src, std::int32_t cRe, std::int32_t cIm, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(169, vek_add_vec_16_inplace, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n), N) \
    X(170, vek_sub_vec_16_inplace, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n), E) \
    X(171, vek_mul_vec_16_inplace, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n), N) \
    X(172, vek_add_vec_8_inplace_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(173, vek_sub_vec_8_inplace_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(174, vek_mul_vec_8_inplace_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(175, vek_add_vec_16_inplace_scaled, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(176, vek_add_vec_c16_inplace_scaled, VekStatus, (const VekC16* src, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(177, vek_sub_vec_16_inplace_scaled, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), E) \
    X(178, vek_sub_vec_c16_inplace_scaled, VekStatus, (const VekC16* src, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(179, vek_mul_vec_16_inplace_scaled, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), E) \
    X(180, vek_mul_vec_c16_inplace_scaled, VekStatus, (const VekC16* src, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(181, vek_add_vec_32_inplace_scaled, VekStatus, (const std::int32_t* src, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(182, vek_add_vec_c32_inplace_scaled, VekStatus, (const VekC32* src, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(183, vek_sub_vec_32_inplace_scaled, VekStatus, (const std::int32_t* src, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(184, vek_sub_vec_c32_inplace_scaled, VekStatus, (const VekC32* src, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(185, vek_mul_vec_32_inplace_scaled, VekStatus, (const std::int32_t* src, std::int32_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(186, vek_mul_vec_c32_inplace_scaled, VekStatus, (const VekC32* src, VekC32* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(187, vek_add_vec_8_to16u, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint16_t* dst, std::int32_t n), N) \
    X(188, vek_mul_vec_8_to16u, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint16_t* dst, std::int32_t n), N) \
    X(189, vek_add_vec_16, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n), N) \
    X(190, vek_sub_vec_16, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n), E) \
    X(191, vek_mul_vec_16, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n), N) \
    X(192, vek_add_vec_16u_sat, VekStatus, (const std::uint16_t* src1, const std::uint16_t* src2, std::uint16_t* dst, std::int32_t n), N) \
    X(193, vek_add_vec_32u_sat, VekStatus, (const std::uint32_t* src1, const std::uint32_t* src2, std::uint32_t* dst, std::int32_t n), N) \
    X(194, vek_add_vec_8_scaled, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(195, vek_sub_vec_8_scaled, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(196, vek_mul_vec_8_scaled, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(197, vek_add_vec_16_scaled, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(198, vek_add_vec_c16_scaled, VekStatus, (const VekC16* src1, const VekC16* src2, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(199, vek_sub_vec_16_scaled, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(200, vek_sub_vec_c16_scaled, VekStatus, (const VekC16* src1, const VekC16* src2, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(201, vek_mul_vec_16_scaled, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(202, vek_mul_vec_c16_scaled, VekStatus, (const VekC16* src1, const VekC16* src2, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(203, vek_mul_vec_16_to32_scaled, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(204, vek_add_vec_32_scaled, VekStatus, (const std::int32_t* src1, const std::int32_t* src2, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(205, vek_add_vec_c32_scaled, VekStatus, (const VekC32* src1, const VekC32* src2, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(206, vek_sub_vec_32_scaled, VekStatus, (const std::int32_t* src1, const std::int32_t* src2, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(207, vek_sub_vec_c32_scaled, VekStatus, (const VekC32* src1, const VekC32* src2, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(208, vek_mul_vec_32_scaled, VekStatus, (const std::int32_t* src1, const std::int32_t* src2, std::int32_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(209, vek_mul_vec_c32_scaled, VekStatus, (const VekC32* src1, const VekC32* src2, VekC32* dst, std::int32_t n, std::int32_t sf), N) \
    X(210, vek_div_vec_16_scaled, VekStatus, (const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(211, vek_div_vec_8_scaled, VekStatus, (const std::uint8_t* src1, const std::uint8_t* src2, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(212, vek_div_vec_c16_scaled, VekStatus, (const VekC16* src1, const VekC16* src2, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(213, vek_div_const_16_scaled, VekStatus, (const std::int16_t* src, std::int16_t c, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(214, vek_div_const_8_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t c, std::uint8_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(215, vek_div_const_c16_scaled, VekStatus, (const VekC16* src, VekC16 c, VekC16* dst, std::int32_t n, std::int32_t sf), N) \
    X(216, vek_div_vec_16_inplace_scaled, VekStatus, (const std::int16_t* src, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(217, vek_div_vec_8_inplace_scaled, VekStatus, (const std::uint8_t* src, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(218, vek_div_vec_c16_inplace_scaled, VekStatus, (const VekC16* src, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(219, vek_div_const_16_inplace_scaled, VekStatus, (std::int16_t c, std::int16_t* srcdst, std::int32_t n, std::int32_t sf), E) \
    X(220, vek_div_const_8_inplace_scaled, VekStatus, (std::uint8_t c, std::uint8_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(221, vek_div_const_c16_inplace_scaled, VekStatus, (VekC16 c, VekC16* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(222, vek_divrev_const_16u, VekStatus, (const std::uint16_t* src, std::uint16_t c, std::uint16_t* dst, std::int32_t n), N) \
    X(223, vek_divrev_const_16u_inplace, VekStatus, (std::uint16_t c, std::uint16_t* srcdst, std::int32_t n), N) \
    X(224, vek_shift_u16_inplace, VekStatus, (std::int32_t shift, std::uint16_t* srcdst, std::int32_t n), N) \
    X(225, vek_shift_left_32_inplace, VekStatus, (std::int32_t shift, std::int32_t* srcdst, std::int32_t n), N) \
    X(226, vek_shift_16_inplace, VekStatus, (std::int32_t shift, std::int16_t* srcdst, std::int32_t n), N) \
    X(227, vek_shift_32_inplace, VekStatus, (std::int32_t shift, std::int32_t* srcdst, std::int32_t n), N) \
    X(228, vek_magnitude_complex_16, VekStatus, (const VekC16* src, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(229, vek_magnitude_split_16, VekStatus, (const std::int16_t* re, const std::int16_t* im, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(230, vek_phase_complex_16, VekStatus, (const VekC16* src, std::int16_t* dst, std::int32_t n, std::int32_t sf), E) \
    X(231, vek_phase_split_16, VekStatus, (const std::int16_t* re, const std::int16_t* im, std::int16_t* dst, std::int32_t n, std::int32_t sf), N) \
    X(232, vek_dot_16_to16, VekStatus, (const std::int16_t* a, const std::int16_t* b, std::int32_t n, std::int16_t* result, std::int32_t sf), E) \
    X(233, vek_dot_16_to32, VekStatus, (const std::int16_t* a, const std::int16_t* b, std::int32_t n, std::int32_t* result, std::int32_t sf), N) \
    X(234, vek_dot_16_c16_to16, VekStatus, (const std::int16_t* a, const VekC16* b, std::int32_t n, VekC16* result, std::int32_t sf), N) \
    X(235, vek_dot_16_c16_to32, VekStatus, (const std::int16_t* a, const VekC16* b, std::int32_t n, VekC32* result, std::int32_t sf), E) \
    X(236, vek_conj_16_inplace, VekStatus, (VekC16* srcdst, std::int32_t n), N) \
    X(237, vek_conj_16, VekStatus, (const VekC16* src, VekC16* dst, std::int32_t n), N) \
    X(238, vek_trellis_metric_2d, VekStatus, (const std::int16_t* point, std::int32_t* corner, std::int32_t* metrics2d, const std::uint8_t* labelMap, std::int32_t states), E) \
    X(239, vek_trellis_acs, VekStatus, (const std::uint16_t* oldMetrics, const std::uint8_t* nextState, std::uint16_t* newMetrics, const TrellisMetric4d* metrics4d, std::int32_t* survivors, std::int32_t states, std::int32_t offset), E) \
    X(240, vek_trellis_metric_4d, VekStatus, (const std::int32_t* metrics2d, TrellisMetric4d* metrics4d, std::int32_t states, std::int32_t mask), E) \
    X(241, vek_dft_init, VekStatus, (DftSpec** spec, std::int32_t len, std::int32_t flag, std::int32_t hint), N) \
    X(242, vek_dft_free, VekStatus, (DftSpec* spec), N) \
    X(243, vek_dft_fwd, VekStatus, (const VekC16* src, VekC16* dst, const DftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(244, vek_dft_inv, VekStatus, (const VekC16* src, VekC16* dst, const DftSpec* spec, std::int32_t sf, std::uint8_t* work), N) \
    X(245, vek_max_index_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int16_t* max, std::int32_t* index), N) \
    X(246, vek_sum_16, VekStatus, (const std::int16_t* src, std::int32_t n, std::int32_t* sum, std::int32_t sf), E) \
    X(247, vek_convert_s8_s16, VekStatus, (const std::int8_t* src, std::int16_t* dst, std::int32_t n), N) \
    X(248, vek_convert_s16_s32, VekStatus, (const std::int16_t* src, std::int32_t* dst, std::int32_t n), E) \
    X(249, vek_convert_s32_s16_sat, VekStatus, (const std::int32_t* src, std::int16_t* dst, std::int32_t n), E) \
    X(250, vek_sqrt_16_inplace, VekStatus, (std::int16_t* srcdst, std::int32_t n, std::int32_t sf), N) \
    X(251, vek_sqrt_16, VekStatus, (const std::int16_t* src, std::int16_t* dst, std::int32_t n, std::int32_t sf), N)
// clang-format on

inline constexpr int VEK_SLOT_COUNT = 252;
inline constexpr int VEK_ENTRY_COUNT = 58;
