// The shift and logic kernels of bits.h: one lane recipe per operation and element type, instantiated for the SSE2
// registers and the MMX registers. 8-bit shifts run as 16-bit lane shifts masked back to their bytes, so that no bit
// crosses into the neighbouring byte.
#include <emmintrin.h>
#include <mmintrin.h>

#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/bits.h"
#include "layer1/vek/util/kernel_access.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::kernels::ld;
using vek::kernels::st;
using vek::lanes::Mmx;
using vek::lanes::Sse2;

// Shift counts and constant broadcasts of each register set.
struct ShiftsSse2 : Sse2 {
    static V cnt(int k) { return _mm_cvtsi32_si128(k); }
    static V sll16(V a, int k) { return _mm_sll_epi16(a, cnt(k)); }
    static V srl16(V a, int k) { return _mm_srl_epi16(a, cnt(k)); }
    static V sra16(V a, int k) { return _mm_sra_epi16(a, cnt(k)); }
    static V sll32(V a, int k) { return _mm_sll_epi32(a, cnt(k)); }
    static V sra32(V a, int k) { return _mm_sra_epi32(a, cnt(k)); }
    static V bytes(uint8_t b) { return _mm_set1_epi8(static_cast<char>(b)); }
};
struct ShiftsMmx : Mmx {
    static V cnt(int k) { return _mm_cvtsi32_si64(k); }
    static V sll16(V a, int k) { return _mm_sll_pi16(a, cnt(k)); }
    static V srl16(V a, int k) { return _mm_srl_pi16(a, cnt(k)); }
    static V sra16(V a, int k) { return _mm_sra_pi16(a, cnt(k)); }
    static V sll32(V a, int k) { return _mm_sll_pi32(a, cnt(k)); }
    static V sra32(V a, int k) { return _mm_sra_pi32(a, cnt(k)); }
    static V bytes(uint8_t b) { return _mm_set1_pi8(static_cast<char>(b)); }
};

// --- element operations: scalar form and lane form --------------------------------------------------------------

struct Shl8 {
    int k;
    uint8_t one(uint8_t x) const { return static_cast<uint8_t>(x << k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::and_(L::sll16(x, k), L::bytes(static_cast<uint8_t>(0xFF << k))); }
};
struct Shr8 {
    int k;
    uint8_t one(uint8_t x) const { return static_cast<uint8_t>(x >> k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::and_(L::srl16(x, k), L::bytes(static_cast<uint8_t>(0xFF >> k))); }
};
struct Shl16 {
    int k;
    int16_t one(int16_t x) const { return static_cast<int16_t>(static_cast<uint16_t>(x) << k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::sll16(x, k); }
};
struct Shr16u {
    int k;
    uint16_t one(uint16_t x) const { return static_cast<uint16_t>(x >> k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::srl16(x, k); }
};
struct Sar16 {
    int k;
    int16_t one(int16_t x) const { return static_cast<int16_t>(x >> k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::sra16(x, k); }
};
struct Shl32 {
    int k;
    int32_t one(int32_t x) const { return static_cast<int32_t>(static_cast<uint32_t>(x) << k); }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::sll32(x, k); }
};
struct Sar32 {
    int k;
    int32_t one(int32_t x) const { return x >> k; }
    template <class L>
    typename L::V vec(typename L::V x) const { return L::sra32(x, k); }
};

// A unary walk: dst[i] = op(src[i]).
template <class L, class T, class Op>
void unary(const T* src, T* dst, int64_t n, Op op) {
    struct Body {
        const T* s;
        T* d;
        Op op;
        void scalar(int64_t i) { st(d, i, op.one(ld(s, i))); }
        void vec(int64_t i) { L::store(d + i, op.template vec<L>(L::load(s + i))); }
    } b{src, dst, op};
    vek::walk::elements<L, sizeof(typename L::V) / sizeof(T), sizeof(T)>(dst, n, b);
}

// Logic: dst[i] = a[i] op b[i], with a either a broadcast constant or a vector.
struct And {
    template <class T>
    static T one(T a, T b) { return static_cast<T>(a & b); }
    template <class L>
    static typename L::V vec(typename L::V a, typename L::V b) { return L::and_(a, b); }
};
struct Or {
    template <class T>
    static T one(T a, T b) { return static_cast<T>(a | b); }
    template <class L>
    static typename L::V vec(typename L::V a, typename L::V b) { return L::or_(a, b); }
};
struct Xor {
    template <class T>
    static T one(T a, T b) { return static_cast<T>(a ^ b); }
    template <class L>
    static typename L::V vec(typename L::V a, typename L::V b) { return L::xor_(a, b); }
};

template <class L, class T>
typename L::V broadcast(T c) {
    if constexpr (sizeof(T) == 1)
        return L::bytes(c);
    else
        return L::set1_16(static_cast<int16_t>(c));
}

template <class L, class Op, class T>
void logic_const(const T* src, T c, T* dst, int64_t n) {
    struct Body {
        const T* s;
        T c;
        typename L::V vc;
        T* d;
        void scalar(int64_t i) { st(d, i, Op::one(ld(s, i), c)); }
        void vec(int64_t i) { L::store(d + i, Op::template vec<L>(L::load(s + i), vc)); }
    } b{src, c, broadcast<L>(c), dst};
    vek::walk::elements<L, sizeof(typename L::V) / sizeof(T), sizeof(T)>(dst, n, b);
}

template <class L, class Op, class T>
void logic_vec(const T* a, const T* bsrc, T* dst, int64_t n) {
    struct Body {
        const T* a;
        const T* b;
        T* d;
        void scalar(int64_t i) { st(d, i, Op::one(ld(a, i), ld(b, i))); }
        void vec(int64_t i) { L::store(d + i, Op::template vec<L>(L::load(a + i), L::load(b + i))); }
    } body{a, bsrc, dst};
    vek::walk::elements<L, sizeof(typename L::V) / sizeof(T), sizeof(T)>(dst, n, body);
}

using Op_shl_8u = Shl8;
using Op_shr_8u = Shr8;
using Op_shl_16 = Shl16;
using Op_shr_16u = Shr16u;
using Op_sar_16 = Sar16;
using Op_shl_32 = Shl32;
using Op_sar_32 = Sar32;
using Logic_and = And;
using Logic_or = Or;
using Logic_xor = Xor;

}  // namespace

#define VEK_SHIFT_DEFINE(name, T, set, L)                                                     \
    void vek_k_##name##_inplace_##set(int32_t count, T* v, int32_t n) {                      \
        unary<L>(v, v, n, Op_##name{count});                                                  \
    }                                                                                         \
    void vek_k_##name##_##set(const T* src, int32_t count, T* dst, int32_t n) {              \
        unary<L>(src, dst, n, Op_##name{count});                                              \
    }
#define VEK_LOGIC_DEFINE(op, ty, T, set, L)                                                   \
    void vek_k_##op##_const_##ty##_inplace_##set(int32_t value, T* v, int32_t n) {           \
        logic_const<L, Logic_##op>(v, static_cast<T>(value), v, n);                           \
    }                                                                                         \
    void vek_k_##op##_const_##ty##_##set(const T* src, int32_t value, T* dst, int32_t n) {   \
        logic_const<L, Logic_##op>(src, static_cast<T>(value), dst, n);                       \
    }                                                                                         \
    void vek_k_##op##_vec_##ty##_inplace_##set(const T* src, T* srcdst, int32_t n) {         \
        logic_vec<L, Logic_##op>(src, srcdst, srcdst, n);                                     \
    }                                                                                         \
    void vek_k_##op##_vec_##ty##_##set(const T* src1, const T* src2, T* dst, int32_t n) {    \
        logic_vec<L, Logic_##op>(src1, src2, dst, n);                                         \
    }
#define VEK_SHIFT_SSE2(name, T) VEK_SHIFT_DEFINE(name, T, sse2, ShiftsSse2)
#define VEK_SHIFT_MMX(name, T) VEK_SHIFT_DEFINE(name, T, mmx, ShiftsMmx)
#define VEK_LOGIC_SSE2(op, ty, T) VEK_LOGIC_DEFINE(op, ty, T, sse2, ShiftsSse2)
#define VEK_LOGIC_MMX(op, ty, T) VEK_LOGIC_DEFINE(op, ty, T, mmx, ShiftsMmx)
VEK_SHIFT_KERNELS(VEK_SHIFT_SSE2)
VEK_SHIFT_KERNELS(VEK_SHIFT_MMX)
VEK_LOGIC_KERNELS(VEK_LOGIC_SSE2)
VEK_LOGIC_KERNELS(VEK_LOGIC_MMX)
