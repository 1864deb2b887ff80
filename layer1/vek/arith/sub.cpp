// Scaled subtract entry points: the result is always the second operand minus the first. Each column checks the
// arguments, picks the scale-factor case of the 16-bit difference and hands it to its kernel; the generic column
// computes each case element by element.
#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"

namespace {

using vek::core_link::Column;
using vek::lanes::ld16;
using vek::lanes::st16;
using vek::scale::SfCase;

struct SubKernelSet {
    void (*sf0)(const int16_t*, int16_t*, int32_t);
    void (*sf1)(const int16_t*, int16_t*, int32_t);
    void (*pos)(const int16_t*, int16_t*, int32_t, int32_t);
    void (*neg)(const int16_t*, int16_t*, int32_t, int32_t);
    void (*sign)(const int16_t*, int16_t*, int32_t);
    void (*into)(const int16_t*, const int16_t*, int16_t*, int32_t);
};

#define VEK_SUB_SET(col)                                                                \
    SubKernelSet {                                                                      \
        vek_k_sub_vec_16_inplace_sf0_##col, vek_k_sub_vec_16_inplace_sf1_##col,         \
            vek_k_sub_vec_16_inplace_sfpos_##col, vek_k_sub_vec_16_inplace_sfneg_##col, \
            vek_k_sub_vec_16_inplace_sfsign_##col, vek_k_sub_vec_16_sf0_##col           \
    }
constexpr SubKernelSet kWd = VEK_SUB_SET(wd);
constexpr SubKernelSet kSs = VEK_SUB_SET(ss);
constexpr SubKernelSet kMm = VEK_SUB_SET(mm);
#undef VEK_SUB_SET

template <Column C>
constexpr const SubKernelSet& set() {
    return C == Column::kWd ? kWd : C == Column::kSs ? kSs : kMm;
}

template <Column C>
VekStatus sub_inplace(const int16_t* src, int16_t* v, int32_t n, int32_t sf) {
    if (src == nullptr || v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const SfCase k = vek::scale::sf_case(sf, vek::scale::kDifference16);
    if (k == SfCase::Zero) return vek::core_link::zero16<C>(v, n);
    if constexpr (C == Column::kGen) {
        vek::scale::with_case(k, [&](auto kc) {
            for (int64_t i = 0; i < n; ++i)
                st16(v, i, vek::scale::scale16(int32_t{ld16(v, i)} - ld16(src, i), kc.value, sf));
        });
    } else {
        const SubKernelSet& s = set<C>();
        switch (k) {
            case SfCase::Sf0:
                s.sf0(src, v, n);
                break;
            case SfCase::Sf1:
                s.sf1(src, v, n);
                break;
            case SfCase::Pos:
                s.pos(src, v, n, sf);
                break;
            case SfCase::Neg:
                s.neg(src, v, n, -sf);
                break;
            case SfCase::Sign:
                s.sign(src, v, n);
                break;
            case SfCase::Zero:
                break;
        }
    }
    return VEK_OK;
}

template <Column C>
VekStatus sub_into(const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n) {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if constexpr (C == Column::kGen) {
        for (int64_t i = 0; i < n; ++i) st16(dst, i, vek::scale::sat16(int32_t{ld16(src2, i)} - ld16(src1, i)));
    } else {
        set<C>().into(src1, src2, dst, n);
    }
    return VEK_OK;
}

}  // namespace

#define VEK_SUB_ENTRIES(col, C)                                                                            \
    VekStatus vek_sub_vec_16_inplace_##col(const int16_t* src, int16_t* v, int32_t n) {                    \
        return sub_inplace<C>(src, v, n, 0);                                                               \
    }                                                                                                      \
    VekStatus vek_sub_vec_16_inplace_scaled_##col(const int16_t* src, int16_t* v, int32_t n, int32_t sf) { \
        return sub_inplace<C>(src, v, n, sf);                                                              \
    }                                                                                                      \
    VekStatus vek_sub_vec_16_##col(const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n) {    \
        return sub_into<C>(src1, src2, dst, n);                                                            \
    }
VEK_SUB_ENTRIES(gen, Column::kGen)
VEK_SUB_ENTRIES(mm, Column::kMm)
VEK_SUB_ENTRIES(ss, Column::kSs)
VEK_SUB_ENTRIES(wd, Column::kWd)
#undef VEK_SUB_ENTRIES
