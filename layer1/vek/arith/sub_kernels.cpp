// The named 16-bit subtract kernels: one lane recipe per scale-factor case, instantiated per column. The ss and mm
// members run the same MMX walk. Minimum lengths: 23 for the SSE2 sf0 kernels, 19 for the MMX sf0 kernels, 15 for
// the SSE2 sf1, sfpos and sfneg kernels, 11 for the sign kernels and the MMX left-shift kernels, 7 for the MMX sf1
// and sfpos kernels.
#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/recipes.h"

namespace {

using namespace vek::recipes;
using vek::lanes::Mmx;
using vek::lanes::MmxSse;
using vek::lanes::Sse2;

using SubRound = Widened<Difference, ScaleRound>;
using SubShl = Widened<Difference, ScaleShiftLeft<false>>;

template <class L, int kMin, int kUnroll, class F>
inline void sub_inplace(const F& f, const int16_t* src, int16_t* v, int32_t n) {
    walk16<L, kMin, kUnroll>(f, VecOperand<L>{src}, v, v, n);
}

// The walks of one column: the lane set and the two minimum lengths that differ between SSE2 and MMX.
template <class L, int kMinSf0, int kMinRound, int kMinShl, int kUnroll0>
struct SubColumn {
    static void sf0(const int16_t* s, int16_t* v, int32_t n) {
        sub_inplace<L, kMinSf0, kUnroll0>(SatDifference{}, s, v, n);
    }
    static void sf1(const int16_t* s, int16_t* v, int32_t n) {
        sub_inplace<L, kMinRound, 1>(SubRound{ScaleRound(1)}, s, v, n);
    }
    static void pos(const int16_t* s, int16_t* v, int32_t n, int32_t sf) {
        sub_inplace<L, kMinRound, 1>(SubRound{ScaleRound(sf)}, s, v, n);
    }
    static void neg(const int16_t* s, int16_t* v, int32_t n, int32_t k) {
        sub_inplace<L, kMinShl, 1>(SubShl{{k}}, s, v, n);
    }
    static void sign(const int16_t* s, int16_t* v, int32_t n) { sub_inplace<L, 11, 1>(SignDifference{}, s, v, n); }
    static void into(const int16_t* s1, const int16_t* s2, int16_t* d, int32_t n) {
        walk16<L, kMinSf0, kUnroll0>(SatDifference{}, VecOperand<L>{s1}, s2, d, n);
    }
};

using Wd = SubColumn<Sse2, 23, 15, 15, 2>;
using Ss = SubColumn<MmxSse, 19, 7, 11, 4>;
using Mm = SubColumn<Mmx, 19, 7, 11, 4>;

}  // namespace

#define VEK_SUB_DEFINE(col, C)                                                                       \
    void vek_k_sub_vec_16_inplace_sf0_##col(const int16_t* s, int16_t* v, int32_t n) {               \
        C::sf0(s, v, n);                                                                             \
    }                                                                                                \
    void vek_k_sub_vec_16_inplace_sf1_##col(const int16_t* s, int16_t* v, int32_t n) {               \
        C::sf1(s, v, n);                                                                             \
    }                                                                                                \
    void vek_k_sub_vec_16_inplace_sfpos_##col(const int16_t* s, int16_t* v, int32_t n, int32_t sf) { \
        C::pos(s, v, n, sf);                                                                         \
    }                                                                                                \
    void vek_k_sub_vec_16_inplace_sfneg_##col(const int16_t* s, int16_t* v, int32_t n, int32_t k) {  \
        C::neg(s, v, n, k);                                                                          \
    }                                                                                                \
    void vek_k_sub_vec_16_inplace_sfsign_##col(const int16_t* s, int16_t* v, int32_t n) {            \
        C::sign(s, v, n);                                                                            \
    }                                                                                                \
    void vek_k_sub_vec_16_sf0_##col(const int16_t* s1, const int16_t* s2, int16_t* d, int32_t n) {   \
        C::into(s1, s2, d, n);                                                                       \
    }
VEK_SUB_DEFINE(wd, Wd)
VEK_SUB_DEFINE(ss, Ss)
VEK_SUB_DEFINE(mm, Mm)
#undef VEK_SUB_DEFINE
