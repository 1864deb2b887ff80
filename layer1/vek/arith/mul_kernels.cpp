// The named 16-bit multiply kernels: thin wrappers that instantiate one lane recipe per scale-factor case for the
// lane set of their column. Minimum lengths below which a kernel runs element by element: 23 for the SSE2 sf0
// kernels, 19 for the MMX sf0 kernels, 15 for the other SSE2 kernels, 11 for the sign kernels and the MMX
// left-shift kernels, 7 for the MMX sf1 and sfpos kernels.
#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/recipes.h"

namespace {

using namespace vek::recipes;
using vek::lanes::Mmx;
using vek::lanes::MmxSse;
using vek::lanes::Sse2;

using MulSf0 = Widened<Product, ScaleSf0>;
using MulRound = Widened<Product, ScaleRound>;
using MulShl = Widened<Product, ScaleShiftLeft<true>>;
using MulSign = Widened<Product, ScaleSign>;

template <class L, int kMin, int kUnroll, class F>
inline void mul_const(const F& f, int16_t c, int16_t* v, int32_t n) {
    walk16<L, kMin, kUnroll>(f, ConstOperand<L>(c), v, v, n);
}
template <class L, int kMin, int kUnroll, class F>
inline void mul_vec(const F& f, const int16_t* src, int16_t* v, int32_t n) {
    walk16<L, kMin, kUnroll>(f, VecOperand<L>{src}, v, v, n);
}

}  // namespace

// sf = 0
void vek_k_mul_const_16_inplace_sf0_wd(int16_t c, int16_t* v, int32_t n) {
    mul_const<Sse2, 23, 2>(MulSf0{}, c, v, n);
}
void vek_k_mul_const_16_inplace_sf0_mmss(int16_t c, int16_t* v, int32_t n) {
    mul_const<Mmx, 19, 4>(MulSf0{}, c, v, n);
}
void vek_k_mul_vec_16_inplace_sf0_wd(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Sse2, 23, 2>(MulSf0{}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sf0_mmss(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Mmx, 19, 4>(MulSf0{}, s, v, n);
}

// sf = 1
void vek_k_mul_const_16_inplace_sf1_wd(int16_t c, int16_t* v, int32_t n) {
    mul_const<Sse2, 15, 1>(MulRound{ScaleRound(1)}, c, v, n);
}
void vek_k_mul_const_16_inplace_sf1_ss(int16_t c, int16_t* v, int32_t n) {
    mul_const<MmxSse, 7, 1>(MulRound{ScaleRound(1)}, c, v, n);
}
void vek_k_mul_const_16_inplace_sf1_mm(int16_t c, int16_t* v, int32_t n) {
    mul_const<Mmx, 7, 1>(MulRound{ScaleRound(1)}, c, v, n);
}
void vek_k_mul_vec_16_inplace_sf1_wd(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Sse2, 15, 1>(MulRound{ScaleRound(1)}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sf1_ss(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<MmxSse, 7, 1>(MulRound{ScaleRound(1)}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sf1_mm(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Mmx, 7, 1>(MulRound{ScaleRound(1)}, s, v, n);
}

// 2 <= sf <= 30
void vek_k_mul_const_16_inplace_sfpos_wd(int16_t c, int16_t* v, int32_t n, int32_t sf) {
    mul_const<Sse2, 15, 1>(MulRound{ScaleRound(sf)}, c, v, n);
}
void vek_k_mul_const_16_inplace_sfpos_ss(int16_t c, int16_t* v, int32_t n, int32_t sf) {
    mul_const<MmxSse, 7, 1>(MulRound{ScaleRound(sf)}, c, v, n);
}
void vek_k_mul_const_16_inplace_sfpos_mm(int16_t c, int16_t* v, int32_t n, int32_t sf) {
    mul_const<Mmx, 7, 1>(MulRound{ScaleRound(sf)}, c, v, n);
}
void vek_k_mul_vec_16_inplace_sfpos_wd(const int16_t* s, int16_t* v, int32_t n, int32_t sf) {
    mul_vec<Sse2, 15, 1>(MulRound{ScaleRound(sf)}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sfpos_ss(const int16_t* s, int16_t* v, int32_t n, int32_t sf) {
    mul_vec<MmxSse, 7, 1>(MulRound{ScaleRound(sf)}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sfpos_mm(const int16_t* s, int16_t* v, int32_t n, int32_t sf) {
    mul_vec<Mmx, 7, 1>(MulRound{ScaleRound(sf)}, s, v, n);
}

// -15 <= sf <= -1, given as the shift count k = -sf
void vek_k_mul_const_16_inplace_sfneg_wd(int16_t c, int16_t* v, int32_t n, int32_t k) {
    mul_const<Sse2, 15, 1>(MulShl{{k}}, c, v, n);
}
void vek_k_mul_const_16_inplace_sfneg_mmss(int16_t c, int16_t* v, int32_t n, int32_t k) {
    mul_const<Mmx, 11, 2>(MulShl{{k}}, c, v, n);
}
void vek_k_mul_vec_16_inplace_sfneg_wd(const int16_t* s, int16_t* v, int32_t n, int32_t k) {
    mul_vec<Sse2, 15, 1>(MulShl{{k}}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sfneg_mmss(const int16_t* s, int16_t* v, int32_t n, int32_t k) {
    mul_vec<Mmx, 11, 2>(MulShl{{k}}, s, v, n);
}

// sf <= -16
void vek_k_mul_const_16_inplace_sfsign_wd(int16_t c, int16_t* v, int32_t n) {
    mul_const<Sse2, 11, 1>(MulSign{}, c, v, n);
}
void vek_k_mul_const_16_inplace_sfsign_ss(int16_t c, int16_t* v, int32_t n) {
    mul_const<MmxSse, 11, 2>(MulSign{}, c, v, n);
}
void vek_k_mul_const_16_inplace_sfsign_mm(int16_t c, int16_t* v, int32_t n) {
    mul_const<Mmx, 11, 2>(MulSign{}, c, v, n);
}
void vek_k_mul_vec_16_inplace_sfsign_wd(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Sse2, 11, 1>(MulSign{}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sfsign_ss(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<MmxSse, 11, 2>(MulSign{}, s, v, n);
}
void vek_k_mul_vec_16_inplace_sfsign_mm(const int16_t* s, int16_t* v, int32_t n) {
    mul_vec<Mmx, 11, 2>(MulSign{}, s, v, n);
}
