// The util family's rows of the variant table: the utilities the pumps use (conversion, sum, extrema, dot
// products, L1 norms, resampling, nearest-value search, phase) and those they do not (square root, conversion of
// bytes, magnitude, complex resampling, shifts, statistics, thresholds, maximum with index, conjugate, scaled dot
// products, power spectrum, absolute value, complex split and join).
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/util/util.h"
#include "layer1/vek/util/utilities.h"

#define VEK_UTIL_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd)

#define VEK_UTIL_ROWS(X)                                                                                            \
    X(vek_convert_s16_s32) X(vek_convert_s32_s16_sat) X(vek_sum_16) X(vek_min_index_16) X(vek_max_16)             \
    X(vek_dot_16_to16) X(vek_dot_16_c16_to32) X(vek_norm_l1_16) X(vek_norm_diff_l1_16) X(vek_downsample_16)        \
    X(vek_upsample_16) X(vek_find_nearest) X(vek_phase_complex_16) X(vek_sqrt_16_inplace) X(vek_sqrt_16)           \
    X(vek_magnitude_complex_16) X(vek_magnitude_split_16) X(vek_phase_split_16)              \
    X(vek_upsample_complex_16) X(vek_downsample_complex_16) X(vek_shift_u16_inplace) X(vek_shift_left_32_inplace)  \
    X(vek_shift_16_inplace) X(vek_shift_32_inplace) X(vek_mean_16) X(vek_mean_complex_16) X(vek_stddev_16)         \
    X(vek_stddev_16_scaled) X(vek_norm_l2_16) X(vek_norm_diff_inf_16) X(vek_norm_diff_l2_16)                      \
    X(vek_threshold_lt_16_inplace) X(vek_threshold_gt_16_inplace) X(vek_max_index_16) X(vek_conj_16_inplace)       \
    X(vek_conj_16) X(vek_dot_16_to32) X(vek_dot_16_c16_to16) X(vek_power_spectrum_complex_16)                      \
    X(vek_power_spectrum_split_16) X(vek_abs_16_inplace) X(vek_abs_16)
#define VEK_UTIL_ROW_STMT(name) VEK_UTIL_ROW(name);

void vek_register_util(VekRowWriter& rows) {
    VEK_UTIL_ROWS(VEK_UTIL_ROW_STMT)
    // One search function serves gen, mm and ss; wd has its own.
    rows.set<VekSlot::vek_find_nearest_one>(vek_find_nearest_one_gen, vek_find_nearest_one_gen,
                                            vek_find_nearest_one_gen, vek_find_nearest_one_wd);
    rows.set<VekSlot::vek_convert_s8_s16>(vek_convert_s8_s16_gen, vek_convert_s8_s16_mm, vek_convert_s8_s16_mm,
                                          vek_convert_s8_s16_wd);
    // Split and join: the mm and ss rows hold the gen form.
    rows.set<VekSlot::vek_complex_split_16>(vek_complex_split_16_gen, vek_complex_split_16_gen,
                                            vek_complex_split_16_gen, vek_complex_split_16_wd);
    rows.set<VekSlot::vek_complex_join_16>(vek_complex_join_16_gen, vek_complex_join_16_gen,
                                           vek_complex_join_16_gen, vek_complex_join_16_wd);
}
