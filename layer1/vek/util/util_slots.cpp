// The util family's rows of the variant table: conversion, sum, extrema, dot products, L1 norms, resampling,
// nearest-value search and phase.
#include "layer1/vek/core/vek_dispatch.h"
#include "layer1/vek/util/util.h"

#define VEK_UTIL_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd)

void vek_register_util(VekRowWriter& rows) {
    VEK_UTIL_ROW(vek_convert_s16_s32);
    VEK_UTIL_ROW(vek_convert_s32_s16_sat);
    VEK_UTIL_ROW(vek_sum_16);
    VEK_UTIL_ROW(vek_min_index_16);
    VEK_UTIL_ROW(vek_max_16);
    VEK_UTIL_ROW(vek_dot_16_to16);
    VEK_UTIL_ROW(vek_dot_16_c16_to32);
    VEK_UTIL_ROW(vek_norm_l1_16);
    VEK_UTIL_ROW(vek_norm_diff_l1_16);
    VEK_UTIL_ROW(vek_downsample_16);
    VEK_UTIL_ROW(vek_upsample_16);
    VEK_UTIL_ROW(vek_find_nearest);
    VEK_UTIL_ROW(vek_phase_complex_16);
    // One search function serves gen, mm and ss; wd has its own.
    rows.set<VekSlot::vek_find_nearest_one>(vek_find_nearest_one_gen, vek_find_nearest_one_gen,
                                            vek_find_nearest_one_gen, vek_find_nearest_one_wd);
}
