// The filtering entries of every column: a null context gives -8, a kind of the wrong data type -17; otherwise the
// column's kernel for the context's form runs (it checks the data pointers and the length itself). The mm and ss
// columns share one kernel set.
#include "layer1/vek/iir/iir.h"

namespace {

struct Kernels {
    VekStatus (*arb_real_one)(int16_t, int16_t*, IirState*, int32_t);
    VekStatus (*biquad_real_one)(int16_t, int16_t*, IirState*, int32_t);
    VekStatus (*arb_complex_one)(uint32_t, VekC16*, IirState*, int32_t);
    VekStatus (*biquad_complex_one)(uint32_t, VekC16*, IirState*, int32_t);
    VekStatus (*arb_real_block)(const int16_t*, int16_t*, int32_t, IirState*, int32_t);
    VekStatus (*biquad_real_block)(const int16_t*, int16_t*, int32_t, IirState*, int32_t);
    VekStatus (*arb_complex_block)(const VekC16*, VekC16*, int32_t, IirState*, int32_t);
    VekStatus (*biquad_complex_block)(const VekC16*, VekC16*, int32_t, IirState*, int32_t);
};

#define VEK_IIR_KERNEL_SET(col)                                                                                 \
    Kernels {                                                                                                   \
        vek_k_iir_arb_real_one_##col, vek_k_iir_biquad_real_one_##col, vek_k_iir_arb_complex_one_##col,         \
            vek_k_iir_biquad_complex_one_##col, vek_k_iir_arb_real_block_##col,                                 \
            vek_k_iir_biquad_real_block_##col, vek_k_iir_arb_complex_block_##col,                               \
            vek_k_iir_biquad_complex_block_##col                                                                \
    }
constexpr Kernels kGen = VEK_IIR_KERNEL_SET(gen);
constexpr Kernels kMmss = VEK_IIR_KERNEL_SET(mmss);
constexpr Kernels kWd = VEK_IIR_KERNEL_SET(wd);
#undef VEK_IIR_KERNEL_SET

// Picks the arbitrary-order or the biquad kernel by kind; -8 for no context, -17 for another data type's kind.
template <class F, class... A>
VekStatus route(const IirState* st, uint32_t arbitrary, uint32_t biquad, F arb, F bq, A... args) {
    if (st == nullptr) return VEK_ERR_NULL_POINTER;
    if (st->kind == arbitrary) return arb(args...);
    if (st->kind == biquad) return bq(args...);
    return VEK_ERR_CONTEXT_MISMATCH;
}

uint32_t pack(VekC16 x) {
    return static_cast<uint16_t>(x.re) | (uint32_t{static_cast<uint16_t>(x.im)} << 16);
}

VekStatus one_real(const Kernels& k, int16_t x, int16_t* y, IirState* st, int32_t sf) {
    return route(st, VEK_IIR_REAL_ARBITRARY, VEK_IIR_REAL_BIQUAD, k.arb_real_one, k.biquad_real_one, x, y, st, sf);
}
VekStatus one_complex(const Kernels& k, VekC16 x, VekC16* y, IirState* st, int32_t sf) {
    return route(st, VEK_IIR_COMPLEX_ARBITRARY, VEK_IIR_COMPLEX_BIQUAD, k.arb_complex_one, k.biquad_complex_one,
                 pack(x), y, st, sf);
}
VekStatus block_real(const Kernels& k, const int16_t* s, int16_t* d, int32_t n, IirState* st, int32_t sf) {
    return route(st, VEK_IIR_REAL_ARBITRARY, VEK_IIR_REAL_BIQUAD, k.arb_real_block, k.biquad_real_block, s, d, n,
                 st, sf);
}
VekStatus block_complex(const Kernels& k, const VekC16* s, VekC16* d, int32_t n, IirState* st, int32_t sf) {
    return route(st, VEK_IIR_COMPLEX_ARBITRARY, VEK_IIR_COMPLEX_BIQUAD, k.arb_complex_block, k.biquad_complex_block,
                 s, d, n, st, sf);
}

}  // namespace

#define VEK_IIR_ENTRIES(col, K)                                                                                 \
    VekStatus vek_iir_one_real_##col(int16_t x, int16_t* y, IirState* st, int32_t sf) {                         \
        return one_real(K, x, y, st, sf);                                                                       \
    }                                                                                                           \
    VekStatus vek_iir_one_complex_##col(VekC16 x, VekC16* y, IirState* st, int32_t sf) {                        \
        return one_complex(K, x, y, st, sf);                                                                    \
    }                                                                                                           \
    VekStatus vek_iir_block_real_##col(const int16_t* s, int16_t* d, int32_t n, IirState* st, int32_t sf) {     \
        return block_real(K, s, d, n, st, sf);                                                                  \
    }                                                                                                           \
    VekStatus vek_iir_block_complex_##col(const VekC16* s, VekC16* d, int32_t n, IirState* st, int32_t sf) {    \
        return block_complex(K, s, d, n, st, sf);                                                               \
    }                                                                                                           \
    VekStatus vek_iir_block_real_inplace_##col(int16_t* v, int32_t n, IirState* st, int32_t sf) {               \
        return block_real(K, v, v, n, st, sf);                                                                  \
    }                                                                                                           \
    VekStatus vek_iir_block_complex_inplace_##col(VekC16* v, int32_t n, IirState* st, int32_t sf) {             \
        return block_complex(K, v, v, n, st, sf);                                                               \
    }
VEK_IIR_ENTRIES(gen, kGen)
VEK_IIR_ENTRIES(mm, kMmss)
VEK_IIR_ENTRIES(ss, kMmss)
VEK_IIR_ENTRIES(wd, kWd)
#undef VEK_IIR_ENTRIES
