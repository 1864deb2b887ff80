// The scaled add, subtract and multiply entries: one list of (slot name, form, operation on a type), from which
// the declarations, the definitions in every column and the rows of the dispatch table are all generated.
//
// Forms (P::K is the constant's type, P::E the element type):
//   CI  (K c, E* srcdst, n, sf)                 CIU  the same without sf
//   CO  (const E* src, K c, E* dst, n, sf)
//   CI2 (int32 re, int32 im, VekC32* srcdst, n, sf)
//   CO2 (const VekC32* src, int32 re, int32 im, VekC32* dst, n, sf)
//   VI  (const E* src, E* srcdst, n, sf)        VIU  the same without sf
//   VO  (const E* src1, const E* src2, E* dst, n, sf)   VOU  the same without sf
#pragma once

#include "layer1/vek/arith/forms.h"

// clang-format off
#define VEK_ARITH_ADD_ENTRIES(X) \
    X(vek_add_const_16_inplace, CIU, Add_16, Shared) \
    X(vek_add_const_8_inplace_scaled, CI, Add_8, Each) \
    X(vek_add_const_16_inplace_scaled, CI, Add_16, Each) \
    X(vek_add_const_c16_inplace_scaled, CI, Add_c16, Each) \
    X(vek_add_const_32_inplace_scaled, CI, Add_32, Each) \
    X(vek_add_const_c32_inplace_scaled, CI2, Add_c32, Each) \
    X(vek_add_const_8_scaled, CO, Add_8, Each) \
    X(vek_add_const_16_scaled, CO, Add_16, Each) \
    X(vek_add_const_c16_scaled, CO, Add_c16, Each) \
    X(vek_add_const_32_scaled, CO, Add_32, Each) \
    X(vek_add_const_c32_scaled, CO2, Add_c32, Each) \
    X(vek_add_vec_16_inplace, VIU, Add_16, Each) \
    X(vek_add_vec_8_inplace_scaled, VI, Add_8, Each) \
    X(vek_add_vec_16_inplace_scaled, VI, Add_16, Each) \
    X(vek_add_vec_c16_inplace_scaled, VI, Add_c16, Each) \
    X(vek_add_vec_32_inplace_scaled, VI, Add_32, Each) \
    X(vek_add_vec_c32_inplace_scaled, VI, Add_c32, Each) \
    X(vek_add_vec_16, VOU, Add_16, Each) \
    X(vek_add_vec_8_scaled, VO, Add_8, Each) \
    X(vek_add_vec_16_scaled, VO, Add_16, Each) \
    X(vek_add_vec_c16_scaled, VO, Add_c16, Each) \
    X(vek_add_vec_32_scaled, VO, Add_32, Each) \
    X(vek_add_vec_c32_scaled, VO, Add_c32, Each)

#define VEK_ARITH_SUB_ENTRIES(X) \
    X(vek_sub_const_16_inplace, CIU, Sub_16, Shared) \
    X(vek_sub_const_8_inplace_scaled, CI, Sub_8, Each) \
    X(vek_subrev_const_8_inplace_scaled, CI, SubRev_8, Each) \
    X(vek_sub_const_16_inplace_scaled, CI, Sub_16, Each) \
    X(vek_sub_const_c16_inplace_scaled, CI, Sub_c16, Each) \
    X(vek_subrev_const_16_inplace_scaled, CI, SubRev_16, Each) \
    X(vek_subrev_const_c16_inplace_scaled, CI, SubRev_c16, Each) \
    X(vek_sub_const_32_inplace_scaled, CI, Sub_32, Each) \
    X(vek_sub_const_c32_inplace_scaled, CI2, Sub_c32, Each) \
    X(vek_subrev_const_32_inplace_scaled, CI, SubRev_32, Each) \
    X(vek_subrev_const_c32_inplace_scaled, CI2, SubRev_c32, Each) \
    X(vek_sub_const_8_scaled, CO, Sub_8, Each) \
    X(vek_subrev_const_8_scaled, CO, SubRev_8, Each) \
    X(vek_sub_const_16_scaled, CO, Sub_16, Each) \
    X(vek_sub_const_c16_scaled, CO, Sub_c16, Each) \
    X(vek_subrev_const_16_scaled, CO, SubRev_16, Each) \
    X(vek_subrev_const_c16_scaled, CO, SubRev_c16, Each) \
    X(vek_sub_const_32_scaled, CO, Sub_32, Each) \
    X(vek_sub_const_c32_scaled, CO2, Sub_c32, Each) \
    X(vek_subrev_const_32_scaled, CO, SubRev_32, Each) \
    X(vek_subrev_const_c32_scaled, CO2, SubRev_c32, Each) \
    X(vek_sub_vec_8_inplace_scaled, VI, Sub_8, Each) \
    X(vek_sub_vec_c16_inplace_scaled, VI, Sub_c16, Each) \
    X(vek_sub_vec_32_inplace_scaled, VI, Sub_32, Each) \
    X(vek_sub_vec_c32_inplace_scaled, VI, Sub_c32, Each) \
    X(vek_sub_vec_8_scaled, VO, Sub_8, Each) \
    X(vek_sub_vec_16_scaled, VO, Sub_16, Each) \
    X(vek_sub_vec_c16_scaled, VO, Sub_c16, Each) \
    X(vek_sub_vec_32_scaled, VO, Sub_32, Each) \
    X(vek_sub_vec_c32_scaled, VO, Sub_c32, Each)

#define VEK_ARITH_MUL_ENTRIES(X) \
    X(vek_mul_const_8_inplace_scaled, CI, Mul_8, Each) \
    X(vek_mul_const_c16_inplace_scaled, CI, CMul_c16, Each) \
    X(vek_mul_const_c32_inplace_scaled, CI2, CMul_c32, Each) \
    X(vek_mul_const_8_scaled, CO, Mul_8, Each) \
    X(vek_mul_const_16_scaled, CO, Mul_16, Each) \
    X(vek_mul_const_c16_scaled, CO, CMul_c16, Each) \
    X(vek_mul_const_32_scaled, CO, Mul_32, Each) \
    X(vek_mul_const_c32_scaled, CO2, CMul_c32, Each) \
    X(vek_mul_vec_16_inplace, VIU, Mul_16, Shared) \
    X(vek_mul_vec_8_inplace_scaled, VI, Mul_8, Each) \
    X(vek_mul_vec_c16_inplace_scaled, VI, CMul_c16, Each) \
    X(vek_mul_vec_32_inplace_scaled, VI, Mul_32, Each) \
    X(vek_mul_vec_c32_inplace_scaled, VI, CMul_c32, Each) \
    X(vek_mul_vec_16, VOU, Mul_16, Shared) \
    X(vek_mul_vec_8_scaled, VO, Mul_8, Each) \
    X(vek_mul_vec_16_scaled, VO, Mul_16, Each) \
    X(vek_mul_vec_c16_scaled, VO, CMul_c16, Each) \
    X(vek_mul_vec_32_scaled, VO, Mul_32, Each) \
    X(vek_mul_vec_c32_scaled, VO, CMul_c32, Each)

// The widening and unsigned entries, same code in every column: (src1, src2, dst, n[, sf]).
#define VEK_ARITH_WIDE_ENTRIES(X) \
    X(vek_add_vec_8_to16u, Each, (const uint8_t* src1, const uint8_t* src2, uint16_t* dst, int32_t n)) \
    X(vek_mul_vec_8_to16u, Shared, (const uint8_t* src1, const uint8_t* src2, uint16_t* dst, int32_t n)) \
    X(vek_add_vec_16u_sat, Shared, (const uint16_t* src1, const uint16_t* src2, uint16_t* dst, int32_t n)) \
    X(vek_add_vec_32u_sat, Shared, (const uint32_t* src1, const uint32_t* src2, uint32_t* dst, int32_t n)) \
    X(vek_mul_vec_16_to32_scaled, Each, (const int16_t* src1, const int16_t* src2, int32_t* dst, int32_t n, int32_t sf))
// clang-format on

// Parameter lists and calls of each form.
#define VEK_FORM_PARAMS_CI(P) (P::K c, P::E* srcdst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_CI(C, P) vek::forms::const_inplace<C, P>(c, srcdst, n, sf)
#define VEK_FORM_PARAMS_CIU(P) (P::K c, P::E* srcdst, int32_t n)
#define VEK_FORM_CALL_CIU(C, P) vek::forms::const_inplace_unscaled<C, P>(c, srcdst, n)
#define VEK_FORM_PARAMS_CO(P) (const P::E* src, P::K c, P::E* dst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_CO(C, P) vek::forms::const_out<C, P>(src, c, dst, n, sf)
#define VEK_FORM_PARAMS_CI2(P) (int32_t re, int32_t im, VekC32* srcdst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_CI2(C, P) vek::forms::const_inplace_c32<C, P>(re, im, srcdst, n, sf)
#define VEK_FORM_PARAMS_CO2(P) (const VekC32* src, int32_t re, int32_t im, VekC32* dst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_CO2(C, P) vek::forms::const_out_c32<C, P>(src, re, im, dst, n, sf)
#define VEK_FORM_PARAMS_VI(P) (const P::E* src, P::E* srcdst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_VI(C, P) vek::forms::vec_inplace<C, P>(src, srcdst, n, sf)
#define VEK_FORM_PARAMS_VIU(P) (const P::E* src, P::E* srcdst, int32_t n)
#define VEK_FORM_CALL_VIU(C, P) vek::forms::vec_inplace_unscaled<C, P>(src, srcdst, n)
#define VEK_FORM_PARAMS_VO(P) (const P::E* src1, const P::E* src2, P::E* dst, int32_t n, int32_t sf)
#define VEK_FORM_CALL_VO(C, P) vek::forms::vec_out<C, P>(src1, src2, dst, n, sf)
#define VEK_FORM_PARAMS_VOU(P) (const P::E* src1, const P::E* src2, P::E* dst, int32_t n)
#define VEK_FORM_CALL_VOU(C, P) vek::forms::vec_out_unscaled<C, P>(src1, src2, dst, n)

#define VEK_ARITH_DECLARE_ENTRY(name, form, P, kind) VEK_ARITH_DECLARE_##kind(name, VEK_FORM_PARAMS_##form(vek::forms::P))
#define VEK_ARITH_DECLARE_Each(name, params) \
    VekStatus name##_gen params;             \
    VekStatus name##_mm params;              \
    VekStatus name##_ss params;              \
    VekStatus name##_wd params;
#define VEK_ARITH_DECLARE_Shared(name, params) \
    VekStatus name##_gen params;               \
    VekStatus name##_mmss params;              \
    VekStatus name##_wd params;
#define VEK_ARITH_DECLARE_WIDE(name, kind, params) VEK_ARITH_DECLARE_##kind(name, params)
// The division entries of every column (div_entries.cpp), same forms.
#define VEK_ARITH_DIV_ENTRIES(X)                                                                       \
    X(vek_div_vec_16_scaled, (const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n, int32_t sf)) \
    X(vek_div_vec_8_scaled, (const uint8_t* src1, const uint8_t* src2, uint8_t* dst, int32_t n, int32_t sf))  \
    X(vek_div_vec_c16_scaled, (const VekC16* src1, const VekC16* src2, VekC16* dst, int32_t n, int32_t sf))   \
    X(vek_div_const_8_scaled, (const uint8_t* src, uint8_t c, uint8_t* dst, int32_t n, int32_t sf))           \
    X(vek_div_const_c16_scaled, (const VekC16* src, VekC16 c, VekC16* dst, int32_t n, int32_t sf))            \
    X(vek_div_vec_16_inplace_scaled, (const int16_t* src, int16_t* srcdst, int32_t n, int32_t sf))            \
    X(vek_div_vec_8_inplace_scaled, (const uint8_t* src, uint8_t* srcdst, int32_t n, int32_t sf))             \
    X(vek_div_vec_c16_inplace_scaled, (const VekC16* src, VekC16* srcdst, int32_t n, int32_t sf))             \
    X(vek_div_const_8_inplace_scaled, (uint8_t c, uint8_t* srcdst, int32_t n, int32_t sf))                    \
    X(vek_div_const_c16_inplace_scaled, (VekC16 c, VekC16* srcdst, int32_t n, int32_t sf))                    \
    X(vek_divrev_const_16u, (const uint16_t* src, uint16_t c, uint16_t* dst, int32_t n))                      \
    X(vek_divrev_const_16u_inplace, (uint16_t c, uint16_t* srcdst, int32_t n))

VEK_ARITH_ADD_ENTRIES(VEK_ARITH_DECLARE_ENTRY)
VEK_ARITH_SUB_ENTRIES(VEK_ARITH_DECLARE_ENTRY)
VEK_ARITH_MUL_ENTRIES(VEK_ARITH_DECLARE_ENTRY)
VEK_ARITH_WIDE_ENTRIES(VEK_ARITH_DECLARE_WIDE)
VEK_ARITH_DIV_ENTRIES(VEK_ARITH_DECLARE_Each)
#undef VEK_ARITH_DECLARE_ENTRY
#undef VEK_ARITH_DECLARE_WIDE

// Definitions of one list entry in its columns (used by the entry files). A Shared entry is one function in the
// mm and ss columns (name_mmss, plain MMX).
#define VEK_ARITH_DEFINE_ONE(name, suffix, form, P, C) \
    VekStatus name##suffix VEK_FORM_PARAMS_##form(vek::forms::P) { return VEK_FORM_CALL_##form(C, vek::forms::P); }
#define VEK_ARITH_DEFINE_Each(name, form, P)                                   \
    VEK_ARITH_DEFINE_ONE(name, _mm, form, P, vek::core_link::Column::kMm)     \
    VEK_ARITH_DEFINE_ONE(name, _ss, form, P, vek::core_link::Column::kSs)
#define VEK_ARITH_DEFINE_Shared(name, form, P) \
    VEK_ARITH_DEFINE_ONE(name, _mmss, form, P, vek::core_link::Column::kMm)
#define VEK_ARITH_DEFINE_ENTRY(name, form, P, kind)                            \
    VEK_ARITH_DEFINE_ONE(name, _gen, form, P, vek::core_link::Column::kGen)   \
    VEK_ARITH_DEFINE_##kind(name, form, P)                                     \
    VEK_ARITH_DEFINE_ONE(name, _wd, form, P, vek::core_link::Column::kWd)

// The dispatch row of one list entry.
#define VEK_ARITH_ROW_Each(rows, name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd)
#define VEK_ARITH_ROW_Shared(rows, name) rows.set<VekSlot::name>(name##_gen, name##_mmss, name##_mmss, name##_wd)
