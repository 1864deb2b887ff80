// The arith family's rows of the variant table: scaled multiply, subtract and divide by a constant.
#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/entries.h"
#include "layer1/vek/core/vek_dispatch.h"

#define VEK_ARITH_ROW(name) rows.set<VekSlot::name>(name##_gen, name##_mm, name##_ss, name##_wd)

void vek_register_arith(VekRowWriter& rows) {
    VEK_ARITH_ROW(vek_mul_const_16_inplace);
    VEK_ARITH_ROW(vek_mul_const_16_inplace_scaled);
    VEK_ARITH_ROW(vek_mul_const_32_inplace_scaled);
    VEK_ARITH_ROW(vek_mul_vec_16_inplace_scaled);
    VEK_ARITH_ROW(vek_sub_vec_16_inplace);
    VEK_ARITH_ROW(vek_sub_vec_16_inplace_scaled);
    VEK_ARITH_ROW(vek_sub_vec_16);
    VEK_ARITH_ROW(vek_div_const_16_scaled);
    VEK_ARITH_ROW(vek_div_const_16_inplace_scaled);
#define VEK_ARITH_LIST_ROW(name, form, P, kind) VEK_ARITH_ROW_##kind(rows, name);
#define VEK_ARITH_WIDE_ROW(name, kind, params) VEK_ARITH_ROW_##kind(rows, name);
#define VEK_ARITH_DIV_ROW(name, params) VEK_ARITH_ROW(name);
    VEK_ARITH_ADD_ENTRIES(VEK_ARITH_LIST_ROW)
    VEK_ARITH_SUB_ENTRIES(VEK_ARITH_LIST_ROW)
    VEK_ARITH_MUL_ENTRIES(VEK_ARITH_LIST_ROW)
    VEK_ARITH_WIDE_ENTRIES(VEK_ARITH_WIDE_ROW)
    VEK_ARITH_DIV_ENTRIES(VEK_ARITH_DIV_ROW)
#undef VEK_ARITH_LIST_ROW
#undef VEK_ARITH_WIDE_ROW
#undef VEK_ARITH_DIV_ROW
}
