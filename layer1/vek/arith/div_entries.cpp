// Division entries of slots 210-212, 214-218 and 220-223 in every column. Each checks its arguments (null
// pointers -8, a length below 1 -6, a zero constant -10) and hands the whole vector to one routine: the generic
// kernel, or the split routine of its column. The MMX entries run their split routine with the x87 rounding
// control set to round to nearest and give the caller's rounding control back afterwards. In-place entries call
// the out-of-place entry with the vector as source and destination. The reverse division by a zero constant clears
// the destination through the column's zero service before anything else, whatever the source.
#include "layer1/vek/arith/core_link.h"
#include "layer1/vek/arith/div_kernels.h"

namespace {

using namespace vek::div;
using vek::core_link::Column;

template <class D>
struct Routines {
    Kernel<D> gen, mm, ss, wd;
};

#define VEK_DIV_ROUTINES(stem, D) \
    constexpr Routines<D> k##D{stem##_gen, stem##_split_mm, stem##_split_ss, stem##_split_wd};
VEK_DIV_OPERATIONS(VEK_DIV_ROUTINES)
#undef VEK_DIV_ROUTINES

template <class D>
constexpr const Routines<D>& routines() {
    if constexpr (std::is_same_v<D, Vec16>) return kVec16;
    else if constexpr (std::is_same_v<D, Vec8>) return kVec8;
    else if constexpr (std::is_same_v<D, VecC16>) return kVecC16;
    else if constexpr (std::is_same_v<D, Const8>) return kConst8;
    else if constexpr (std::is_same_v<D, ConstC16>) return kConstC16;
    else return kRev16u;
}

constexpr uint16_t kRoundingControl = 0x0C00;

template <Column C, class D>
VekStatus run(typename D::A a, const typename D::E* src, typename D::E* dst, int32_t n, int32_t sf) {
    const Routines<D>& r = routines<D>();
    if constexpr (C == Column::kGen) {
        return r.gen(a, src, dst, n, sf);
    } else if constexpr (C == Column::kMm) {
        const uint16_t cw = vek_fpu_set_control(0, kRoundingControl);
        const VekStatus st = r.mm(a, src, dst, n, sf);
        vek_fpu_set_control(cw, kRoundingControl);
        return st;
    } else if constexpr (C == Column::kSs) {
        return r.ss(a, src, dst, n, sf);
    } else {
        return r.wd(a, src, dst, n, sf);
    }
}

template <class K>
bool is_zero(K c) {
    if constexpr (std::is_same_v<K, VekC16>)
        return c.re == 0 && c.im == 0;
    else
        return c == 0;
}

// Vector forms: (divisor vector, dividend vector, destination).
template <Column C, class D>
VekStatus by_vector(typename D::A src1, const typename D::E* src2, typename D::E* dst, int32_t n, int32_t sf) {
    if (src1 == nullptr || src2 == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return run<C, D>(src1, src2, dst, n, sf);
}

// Constant forms: (source, constant, destination).
template <Column C, class D>
VekStatus by_constant(const typename D::E* src, typename D::A c, typename D::E* dst, int32_t n, int32_t sf) {
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    if (is_zero(c)) return VEK_ERR_DIV_BY_ZERO;
    return run<C, D>(c, src, dst, n, sf);
}

template <Column C>
VekStatus reverse(const uint16_t* src, uint16_t c, uint16_t* dst, int32_t n) {
    if (c == 0) return vek::core_link::zero16<C>(reinterpret_cast<int16_t*>(dst), n);
    if (src == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return run<C, Rev16u>(c, src, dst, n, 0);
}

}  // namespace

#define VEK_DIV_ENTRIES(col, C)                                                                                   \
    VekStatus vek_div_vec_16_scaled_##col(const int16_t* src1, const int16_t* src2, int16_t* dst, int32_t n,      \
                                          int32_t sf) {                                                           \
        return by_vector<C, Vec16>(src1, src2, dst, n, sf);                                                       \
    }                                                                                                             \
    VekStatus vek_div_vec_8_scaled_##col(const uint8_t* src1, const uint8_t* src2, uint8_t* dst, int32_t n,       \
                                         int32_t sf) {                                                            \
        return by_vector<C, Vec8>(src1, src2, dst, n, sf);                                                        \
    }                                                                                                             \
    VekStatus vek_div_vec_c16_scaled_##col(const VekC16* src1, const VekC16* src2, VekC16* dst, int32_t n,        \
                                           int32_t sf) {                                                          \
        return by_vector<C, VecC16>(src1, src2, dst, n, sf);                                                      \
    }                                                                                                             \
    VekStatus vek_div_const_8_scaled_##col(const uint8_t* src, uint8_t c, uint8_t* dst, int32_t n, int32_t sf) {  \
        return by_constant<C, Const8>(src, c, dst, n, sf);                                                        \
    }                                                                                                             \
    VekStatus vek_div_const_c16_scaled_##col(const VekC16* src, VekC16 c, VekC16* dst, int32_t n, int32_t sf) {   \
        return by_constant<C, ConstC16>(src, c, dst, n, sf);                                                      \
    }                                                                                                             \
    VekStatus vek_div_vec_16_inplace_scaled_##col(const int16_t* src, int16_t* srcdst, int32_t n, int32_t sf) {   \
        return vek_div_vec_16_scaled_##col(src, srcdst, srcdst, n, sf);                                           \
    }                                                                                                             \
    VekStatus vek_div_vec_8_inplace_scaled_##col(const uint8_t* src, uint8_t* srcdst, int32_t n, int32_t sf) {    \
        return vek_div_vec_8_scaled_##col(src, srcdst, srcdst, n, sf);                                            \
    }                                                                                                             \
    VekStatus vek_div_vec_c16_inplace_scaled_##col(const VekC16* src, VekC16* srcdst, int32_t n, int32_t sf) {    \
        return vek_div_vec_c16_scaled_##col(src, srcdst, srcdst, n, sf);                                          \
    }                                                                                                             \
    VekStatus vek_div_const_8_inplace_scaled_##col(uint8_t c, uint8_t* srcdst, int32_t n, int32_t sf) {           \
        return vek_div_const_8_scaled_##col(srcdst, c, srcdst, n, sf);                                            \
    }                                                                                                             \
    VekStatus vek_div_const_c16_inplace_scaled_##col(VekC16 c, VekC16* srcdst, int32_t n, int32_t sf) {           \
        return vek_div_const_c16_scaled_##col(srcdst, c, srcdst, n, sf);                                          \
    }                                                                                                             \
    VekStatus vek_divrev_const_16u_##col(const uint16_t* src, uint16_t c, uint16_t* dst, int32_t n) {             \
        return reverse<C>(src, c, dst, n);                                                                        \
    }                                                                                                             \
    VekStatus vek_divrev_const_16u_inplace_##col(uint16_t c, uint16_t* srcdst, int32_t n) {                       \
        return reverse<C>(srcdst, c, srcdst, n);                                                                  \
    }
VEK_DIV_ENTRIES(gen, Column::kGen)
VEK_DIV_ENTRIES(mm, Column::kMm)
VEK_DIV_ENTRIES(ss, Column::kSs)
VEK_DIV_ENTRIES(wd, Column::kWd)
#undef VEK_DIV_ENTRIES
