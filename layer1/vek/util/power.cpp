// Power spectrum of a complex 16-bit vector, interleaved or split: P = re^2 + im^2 (exact in 32 unsigned bits; two
// -32768 parts give 2^31) scaled by 2^-sf and saturated to 16 bits. A positive sf truncates (a logical right shift),
// sf >= 32 gives 0, -13..-1 shifts left exactly, and below that only whether the element is zero survives (32767 or
// 0). The SIMD columns take that sign-only shortcut from sf = -15 on; at sf = -14 they shift the 16-bit saturated P
// left by 14, so P = 1 gives 16384 there where gen gives 32767.
//
// SIMD lanes: a multiply-add of each {re, im} pair with itself gives P in a 32-bit lane; for sf >= 0 a logical shift
// and a saturating pack to 16 bits; for -14 <= sf < 0 a saturating pack, a left shift in 32 bits and a second pack.
// The one lane value -32768 (P = 2^31 at sf = 0, or packed before a left shift) stands for a saturated positive
// value and becomes 32767.
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;
using vek::lanes::st16;

struct Interleaved {
    const int16_t* p;
    int16_t re(int64_t i) const { return ld16(p, 2 * i); }
    int16_t im(int64_t i) const { return ld16(p, 2 * i + 1); }
    // Two lane vectors of pairs {re, im} covering kLanes16 elements.
    template <class L>
    void pairs(int64_t i, typename L::V& lo, typename L::V& hi) const {
        lo = L::load(p + 2 * i);
        hi = L::load(p + 2 * i + L::kLanes16);
    }
};
struct Split {
    const int16_t* r;
    const int16_t* m;
    int16_t re(int64_t i) const { return ld16(r, i); }
    int16_t im(int64_t i) const { return ld16(m, i); }
    template <class L>
    void pairs(int64_t i, typename L::V& lo, typename L::V& hi) const {
        const typename L::V a = L::load(r + i), b = L::load(m + i);
        lo = L::unpacklo16(a, b);
        hi = L::unpackhi16(a, b);
    }
};

template <class Src>
uint32_t power(const Src& s, int64_t i) {
    const int32_t re = s.re(i), im = s.im(i);
    return static_cast<uint32_t>(re * re) + static_cast<uint32_t>(im * im);
}

int16_t sat_u(uint64_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : v);
}

// The value of one element; sign_from is the sf at and below which only zero or non-zero counts.
int16_t scale_power(uint32_t p, int32_t sf, int32_t sign_from) {
    if (sf >= 32) return 0;
    if (sf >= 0) return sat_u(p >> sf);
    if (sf <= sign_from) return static_cast<int16_t>(p != 0 ? 32767 : 0);
    if (sf == -14) return sat_u(static_cast<uint64_t>(sat_u(p)) << 14);  // SIMD columns only
    return sat_u(uint64_t{p} << -sf);
}

template <class L, class Src>
void power_simd(const Src& src, int16_t* d, int64_t n, int32_t sf) {
    struct Body {
        const Src& src;
        int16_t* d;
        int32_t sf;
        void scalar(int64_t i) { st16(d, i, scale_power(power(src, i), sf, -15)); }
        void vec(int64_t i) {
            typename L::V lo, hi;
            src.template pairs<L>(i, lo, hi);
            lo = L::madd16(lo, lo);
            hi = L::madd16(hi, hi);
            typename L::V r;
            if (sf >= 0) {
                r = L::packs32(L::srli32(lo, sf), L::srli32(hi, sf));
            } else {
                const typename L::V s = fix(L::packs32(lo, hi));  // P saturated to 16 bits, non-negative
                const typename L::V z = L::zero();
                r = L::packs32(L::slli32(L::unpacklo16(s, z), -sf), L::slli32(L::unpackhi16(s, z), -sf));
            }
            L::store(d + i, fix(r));
        }
        // -32768 stands for a saturated positive value: x ^ (x >> 15) maps it to 32767 and keeps x >= 0.
        static typename L::V fix(typename L::V x) { return L::xor_(x, L::srai16(x, 15)); }
    } b{src, d, sf};
    vek::walk::elements<L, L::kLanes16, 2>(d, n, b);
}

enum class Col { Gen, Mmx, Sse2 };

template <Col C, class Src>
void run(const Src& src, int16_t* d, int64_t n, int32_t sf) {
    if (C == Col::Gen || sf >= 32 || sf <= -15) {
        const int32_t sign_from = C == Col::Gen ? -14 : -15;
        for (int64_t i = 0; i < n; ++i) st16(d, i, scale_power(power(src, i), sf, sign_from));
    } else if constexpr (C == Col::Mmx) {
        power_simd<Mmx>(src, d, n, sf);
    } else if constexpr (C == Col::Sse2) {
        power_simd<Sse2>(src, d, n, sf);
    }
}

template <Col C>
VekStatus complex_entry(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    run<C>(Interleaved{reinterpret_cast<const int16_t*>(s)}, d, n, sf);
    return VEK_OK;
}

template <Col C>
VekStatus split_entry(const int16_t* re, const int16_t* im, int16_t* d, int32_t n, int32_t sf) {
    if (re == nullptr || im == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    run<C>(Split{re, im}, d, n, sf);
    return VEK_OK;
}

}  // namespace

#define VEK_POWER_ENTRIES(col, C)                                                                            \
    VekStatus vek_power_spectrum_complex_16_##col(const VekC16* s, int16_t* d, int32_t n, int32_t sf) {      \
        return complex_entry<C>(s, d, n, sf);                                                                \
    }                                                                                                        \
    VekStatus vek_power_spectrum_split_16_##col(const int16_t* re, const int16_t* im, int16_t* d, int32_t n, \
                                                int32_t sf) {                                                \
        return split_entry<C>(re, im, d, n, sf);                                                             \
    }
VEK_POWER_ENTRIES(gen, Col::Gen)
VEK_POWER_ENTRIES(mm, Col::Mmx)
VEK_POWER_ENTRIES(ss, Col::Mmx)
VEK_POWER_ENTRIES(wd, Col::Sse2)
#undef VEK_POWER_ENTRIES
