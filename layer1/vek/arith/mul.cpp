// Scaled multiply entry points. Every column checks the arguments, handles the constants 0 and 1, picks the
// scale-factor case and hands it to its kernel; the generic column computes each case element by element.
#include "layer1/vek/arith/arith.h"
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/arith/scale.h"

namespace {

using vek::core_link::Column;
using vek::lanes::ld16;
using vek::lanes::ld32;
using vek::lanes::st16;
using vek::lanes::st32;
using vek::scale::SfCase;

// The kernels one SIMD column uses for one operand form (constant or vector).
template <class A>
struct MulKernelSet {
    void (*sf0)(A, int16_t*, int32_t);
    void (*sf1)(A, int16_t*, int32_t);
    void (*pos)(A, int16_t*, int32_t, int32_t);
    void (*neg)(A, int16_t*, int32_t, int32_t);
    void (*sign)(A, int16_t*, int32_t);
};

using ConstSet = MulKernelSet<int16_t>;
using VecSet = MulKernelSet<const int16_t*>;

constexpr ConstSet kConstWd{vek_k_mul_const_16_inplace_sf0_wd, vek_k_mul_const_16_inplace_sf1_wd,
                            vek_k_mul_const_16_inplace_sfpos_wd, vek_k_mul_const_16_inplace_sfneg_wd,
                            vek_k_mul_const_16_inplace_sfsign_wd};
constexpr ConstSet kConstSs{vek_k_mul_const_16_inplace_sf0_mmss, vek_k_mul_const_16_inplace_sf1_ss,
                            vek_k_mul_const_16_inplace_sfpos_ss, vek_k_mul_const_16_inplace_sfneg_mmss,
                            vek_k_mul_const_16_inplace_sfsign_ss};
constexpr ConstSet kConstMm{vek_k_mul_const_16_inplace_sf0_mmss, vek_k_mul_const_16_inplace_sf1_mm,
                            vek_k_mul_const_16_inplace_sfpos_mm, vek_k_mul_const_16_inplace_sfneg_mmss,
                            vek_k_mul_const_16_inplace_sfsign_mm};
constexpr VecSet kVecWd{vek_k_mul_vec_16_inplace_sf0_wd, vek_k_mul_vec_16_inplace_sf1_wd,
                        vek_k_mul_vec_16_inplace_sfpos_wd, vek_k_mul_vec_16_inplace_sfneg_wd,
                        vek_k_mul_vec_16_inplace_sfsign_wd};
constexpr VecSet kVecSs{vek_k_mul_vec_16_inplace_sf0_mmss, vek_k_mul_vec_16_inplace_sf1_ss,
                        vek_k_mul_vec_16_inplace_sfpos_ss, vek_k_mul_vec_16_inplace_sfneg_mmss,
                        vek_k_mul_vec_16_inplace_sfsign_ss};
constexpr VecSet kVecMm{vek_k_mul_vec_16_inplace_sf0_mmss, vek_k_mul_vec_16_inplace_sf1_mm,
                        vek_k_mul_vec_16_inplace_sfpos_mm, vek_k_mul_vec_16_inplace_sfneg_mmss,
                        vek_k_mul_vec_16_inplace_sfsign_mm};

template <Column C>
constexpr const ConstSet* const_set() {
    return C == Column::kWd ? &kConstWd : C == Column::kSs ? &kConstSs : &kConstMm;
}
template <Column C>
constexpr const VecSet* vec_set() {
    return C == Column::kWd ? &kVecWd : C == Column::kSs ? &kVecSs : &kVecMm;
}

// Runs the case of sf on v (the Zero case is handled by the caller). The generic column computes every element
// itself; the others call their kernel.
template <Column C, class A, class Elem>
void run_case(const MulKernelSet<A>* set, A a, Elem elem, int16_t* v, int32_t n, SfCase c, int32_t sf) {
    if constexpr (C == Column::kGen) {
        (void)set;
        vek::scale::with_case(c, [&](auto k) {
            for (int64_t i = 0; i < n; ++i) st16(v, i, vek::scale::scale16(elem(i), k.value, sf));
        });
    } else {
        (void)elem;
        switch (c) {
            case SfCase::Sf0:
                set->sf0(a, v, n);
                break;
            case SfCase::Sf1:
                set->sf1(a, v, n);
                break;
            case SfCase::Pos:
                set->pos(a, v, n, sf);
                break;
            case SfCase::Neg:
                set->neg(a, v, n, -sf);
                break;
            case SfCase::Sign:
                set->sign(a, v, n);
                break;
            case SfCase::Zero:
                break;
        }
    }
}

template <Column C>
VekStatus mul_const_16(int16_t c, int16_t* v, int32_t n, int32_t sf) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (c == 0) return vek::core_link::zero16<C>(v, n);
    if (c == 1 && sf == 0) return VEK_OK;
    const SfCase k = vek::scale::sf_case(sf, vek::scale::kProduct16);
    if (k == SfCase::Zero) return vek::core_link::zero16<C>(v, n);
    const ConstSet* set = nullptr;
    if constexpr (C != Column::kGen) set = const_set<C>();
    run_case<C>(
        set, c, [&](int64_t i) { return int32_t{ld16(v, i)} * c; }, v, n, k, sf);
    return VEK_OK;
}

template <Column C>
VekStatus mul_vec_16(const int16_t* src, int16_t* v, int32_t n, int32_t sf) {
    if (src == nullptr || v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    const SfCase k = vek::scale::sf_case(sf, vek::scale::kProduct16);
    if (k == SfCase::Zero) return vek::core_link::zero16<C>(v, n);
    const VecSet* set = nullptr;
    if constexpr (C != Column::kGen) set = vec_set<C>();
    run_case<C>(
        set, src, [&](int64_t i) { return int32_t{ld16(v, i)} * ld16(src, i); }, v, n, k, sf);
    return VEK_OK;
}

// The 32-bit form runs the same scalar computation in every column: 64-bit products, shifts in 64 bits.
template <Column C>
VekStatus mul_const_32(int32_t c, int32_t* v, int32_t n, int32_t sf) {
    if (v == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (c == 0) return vek::core_link::zero32<C>(v, n);
    if (c == 1 && sf == 0) return VEK_OK;
    const SfCase k = vek::scale::sf_case(sf, vek::scale::kProduct32);
    if (k == SfCase::Zero) return vek::core_link::zero32<C>(v, n);
    vek::scale::with_case(k, [&](auto kc) {
        for (int64_t i = 0; i < n; ++i) st32(v, i, vek::scale::scale32(int64_t{ld32(v, i)} * c, kc.value, sf));
    });
    return VEK_OK;
}

}  // namespace

#define VEK_MUL_ENTRIES(col, C)                                                                            \
    VekStatus vek_mul_const_16_inplace_##col(int16_t c, int16_t* v, int32_t n) {                           \
        return mul_const_16<C>(c, v, n, 0);                                                                \
    }                                                                                                      \
    VekStatus vek_mul_const_16_inplace_scaled_##col(int16_t c, int16_t* v, int32_t n, int32_t sf) {        \
        return mul_const_16<C>(c, v, n, sf);                                                               \
    }                                                                                                      \
    VekStatus vek_mul_const_32_inplace_scaled_##col(int32_t c, int32_t* v, int32_t n, int32_t sf) {        \
        return mul_const_32<C>(c, v, n, sf);                                                               \
    }                                                                                                      \
    VekStatus vek_mul_vec_16_inplace_scaled_##col(const int16_t* src, int16_t* v, int32_t n, int32_t sf) { \
        return mul_vec_16<C>(src, v, n, sf);                                                               \
    }
VEK_MUL_ENTRIES(gen, Column::kGen)
VEK_MUL_ENTRIES(mm, Column::kMm)
VEK_MUL_ENTRIES(ss, Column::kSs)
VEK_MUL_ENTRIES(wd, Column::kWd)
#undef VEK_MUL_ENTRIES
