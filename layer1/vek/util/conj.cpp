// Complex conjugate of 16-bit complex vectors, in place and into a second vector; the imaginary part is negated
// with saturation, so -32768 becomes 32767. gen works element by element. The three SIMD columns share one MMX
// kernel: each pair of complex elements is XORed with {0, -1, 0, -1} and added with signed saturation to
// {0, 1, 0, 1}, which is the saturated negation on the imaginary lanes and leaves the real lanes alone. The same
// step builds a conjugated and reversed copy.
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::Mmx;

VekC16 conj_one(VekC16 z) {
    return VekC16{z.re, static_cast<int16_t>(z.im == -32768 ? 32767 : -z.im)};
}
VekC16 ld(const VekC16* p, int64_t i) {
    VekC16 z;
    std::memcpy(&z, p + i, sizeof z);
    return z;
}
void st(VekC16* p, int64_t i, VekC16 z) {
    std::memcpy(p + i, &z, sizeof z);
}

__m64 conj_lanes(__m64 v) {
    return _mm_adds_pi16(_mm_xor_si64(v, _mm_set_pi16(-1, 0, -1, 0)), _mm_set_pi16(1, 0, 1, 0));
}

void conj_mmx(const VekC16* s, VekC16* d, int64_t n) {
    struct Body {
        const VekC16* s;
        VekC16* d;
        void scalar(int64_t i) { st(d, i, conj_one(ld(s, i))); }
        void vec(int64_t i) { Mmx::store(d + i, conj_lanes(Mmx::load(s + i))); }
    } b{s, d};
    vek::walk::elements<Mmx, 2, 4>(d, n, b);
}

VekStatus conj_gen(const VekC16* s, VekC16* d, int32_t n) {
    for (int64_t i = 0; i < n; ++i) st(d, i, conj_one(ld(s, i)));
    return VEK_OK;
}

}  // namespace

void vek_k_conj_16_inplace(VekC16* v, int32_t n) {
    conj_mmx(v, v, n);
}
void vek_k_conj_16(const VekC16* s, VekC16* d, int32_t n) {
    conj_mmx(s, d, n);
}

void vek_k_conj_flip_16(const VekC16* s, VekC16* d, int32_t n) {
    int64_t i = 0;
    for (; n - i >= 2; i += 2) {
        const __m64 c = conj_lanes(Mmx::load(s + i));  // conj s[i], conj s[i+1]
        Mmx::store(d + (n - 2 - i), _mm_unpacklo_pi32(_mm_unpackhi_pi32(c, c), c));
    }
    Mmx::done();
    for (; i < n; ++i) st(d, n - 1 - i, conj_one(ld(s, i)));
}

void vek_k_copy_conj_flip_16(const VekC16* s, VekC16* copy, VekC16* flip, int32_t n) {
    for (int64_t i = 0; i < n; ++i) st(copy, i, ld(s, i));
    vek_k_conj_flip_16(s, flip, n);
}

#define VEK_CONJ_ENTRIES(col, INPLACE, INTO)                                          \
    VekStatus vek_conj_16_inplace_##col(VekC16* v, int32_t n) {                       \
        if (v == nullptr) return VEK_ERR_NULL_POINTER;                                \
        if (n <= 0) return VEK_ERR_SIZE;                                              \
        INPLACE;                                                                      \
        return VEK_OK;                                                                \
    }                                                                                 \
    VekStatus vek_conj_16_##col(const VekC16* s, VekC16* d, int32_t n) {              \
        if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;                \
        if (n <= 0) return VEK_ERR_SIZE;                                              \
        INTO;                                                                         \
        return VEK_OK;                                                                \
    }
VEK_CONJ_ENTRIES(gen, conj_gen(v, v, n), conj_gen(s, d, n))
VEK_CONJ_ENTRIES(mm, vek_k_conj_16_inplace(v, n), vek_k_conj_16(s, d, n))
VEK_CONJ_ENTRIES(ss, vek_k_conj_16_inplace(v, n), vek_k_conj_16(s, d, n))
VEK_CONJ_ENTRIES(wd, vek_k_conj_16_inplace(v, n), vek_k_conj_16(s, d, n))
#undef VEK_CONJ_ENTRIES
