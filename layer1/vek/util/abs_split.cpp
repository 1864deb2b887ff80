// Absolute value of a 16-bit vector (in place or into a second vector; -32768 saturates to 32767), and the split
// of a complex 16-bit vector into real and imaginary arrays and its join back, where a missing array counts as
// zeros.
//
// Absolute value: per lane, m = (0 > x) and |x| = (x XOR m) -sat m; wd in SSE2 registers, ss and mm in MMX
// registers. Split and join exist as gen and wd (SSE2); the mm and ss rows hold the gen form.
#include <cstring>

#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/utilities.h"
#include "layer1/vek/util/walk.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::Mmx;
using vek::lanes::Sse2;
using vek::lanes::st16;

int16_t abs_one(int16_t x) {
    return static_cast<int16_t>(x >= 0 ? x : (x == -32768 ? 32767 : -x));
}

void abs_gen(const int16_t* s, int16_t* d, int64_t n) {
    int64_t i = 0;
    for (; n - i >= 4; i += 4)
        for (int k = 0; k < 4; ++k) st16(d, i + k, abs_one(ld16(s, i + k)));
    for (; i < n; ++i) st16(d, i, abs_one(ld16(s, i)));
}

template <class L>
void abs_simd(const int16_t* s, int16_t* d, int64_t n) {
    struct Body {
        const int16_t* s;
        int16_t* d;
        void scalar(int64_t i) { st16(d, i, abs_one(ld16(s, i))); }
        void vec(int64_t i) {
            const typename L::V x = L::load(s + i), m = L::cmpgt16(L::zero(), x);
            L::store(d + i, L::subs16(L::xor_(x, m), m));
        }
    } b{s, d};
    vek::walk::elements<L, L::kLanes16, 2>(d, n, b);
}

enum class Col { Gen, Mmx, Sse2 };

template <Col C>
void abs_any(const int16_t* s, int16_t* d, int32_t n) {
    if constexpr (C == Col::Gen)
        abs_gen(s, d, n);
    else if constexpr (C == Col::Mmx)
        abs_simd<Mmx>(s, d, n);
    else
        abs_simd<Sse2>(s, d, n);
}

// --- split and join ---------------------------------------------------------------------------------------------

// Real (part 0) or imaginary (part 1) halves of eight complex elements: shift each 32-bit pair so the wanted half
// is the sign-extended low half, then pack.
template <int kPart>
void extract_sse2(const int16_t* c, int16_t* d, int64_t n) {
    struct Body {
        const int16_t* c;
        int16_t* d;
        void scalar(int64_t i) { st16(d, i, ld16(c, 2 * i + kPart)); }
        void vec(int64_t i) {
            __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 2 * i));
            __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 2 * i + 8));
            if (kPart == 0) {
                a = _mm_slli_epi32(a, 16);
                b = _mm_slli_epi32(b, 16);
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i),
                             _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16)));
        }
    } body{c, d};
    vek::walk::elements<Sse2, 8, 2>(d, n, body);
}

// Join eight elements: the missing part is zero.
template <bool kRe, bool kIm>
void join_sse2(const int16_t* re, const int16_t* im, int16_t* c, int64_t n) {
    struct Body {
        const int16_t* re;
        const int16_t* im;
        int16_t* c;
        void scalar(int64_t i) {
            st16(c, 2 * i, kRe ? ld16(re, i) : int16_t{0});
            st16(c, 2 * i + 1, kIm ? ld16(im, i) : int16_t{0});
        }
        void vec(int64_t i) {
            const __m128i r = kRe ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(re + i)) : _mm_setzero_si128();
            const __m128i m = kIm ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(im + i)) : _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 2 * i), _mm_unpacklo_epi16(r, m));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(c + 2 * i + 8), _mm_unpackhi_epi16(r, m));
        }
    } body{re, im, c};
    vek::walk::elements<Sse2, 8, 4>(c, n, body);
}

VekStatus split_check(const VekC16* s, const int16_t* re, const int16_t* im, int32_t n) {
    if (s == nullptr || re == nullptr || im == nullptr) return VEK_ERR_NULL_POINTER;
    if (n < 1) return VEK_ERR_SIZE;
    return VEK_OK;
}

VekStatus join_check(const int16_t* re, const int16_t* im, const VekC16* d, int32_t n) {
    if (d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n < 1) return VEK_ERR_SIZE;
    if (re == nullptr && im == nullptr) return VEK_ERR_NULL_POINTER;
    return VEK_OK;
}

}  // namespace

#define VEK_ABS_ENTRIES(col, C)                                                   \
    VekStatus vek_abs_16_inplace_##col(int16_t* v, int32_t n) {                   \
        if (v == nullptr) return VEK_ERR_NULL_POINTER;                            \
        if (n <= 0) return VEK_ERR_SIZE;                                          \
        abs_any<C>(v, v, n);                                                      \
        return VEK_OK;                                                            \
    }                                                                             \
    VekStatus vek_abs_16_##col(const int16_t* s, int16_t* d, int32_t n) {         \
        if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;            \
        if (n <= 0) return VEK_ERR_SIZE;                                          \
        abs_any<C>(s, d, n);                                                      \
        return VEK_OK;                                                            \
    }
VEK_ABS_ENTRIES(gen, Col::Gen)
VEK_ABS_ENTRIES(mm, Col::Mmx)
VEK_ABS_ENTRIES(ss, Col::Mmx)
VEK_ABS_ENTRIES(wd, Col::Sse2)
#undef VEK_ABS_ENTRIES

// Generic split: real parts in groups of four, then imaginary parts, then the leftovers of each.
VekStatus vek_complex_split_16_gen(const VekC16* s, int16_t* re, int16_t* im, int32_t n) {
    if (VekStatus st = split_check(s, re, im, n); st != VEK_OK) return st;
    const auto* c = reinterpret_cast<const int16_t*>(s);
    const int64_t body = n - n % 4;
    for (int64_t i = 0; i < body; ++i) st16(re, i, ld16(c, 2 * i));
    for (int64_t i = 0; i < body; ++i) st16(im, i, ld16(c, 2 * i + 1));
    for (int64_t i = body; i < n; ++i) st16(re, i, ld16(c, 2 * i));
    for (int64_t i = body; i < n; ++i) st16(im, i, ld16(c, 2 * i + 1));
    return VEK_OK;
}

VekStatus vek_complex_split_16_wd(const VekC16* s, int16_t* re, int16_t* im, int32_t n) {
    if (VekStatus st = split_check(s, re, im, n); st != VEK_OK) return st;
    extract_sse2<0>(reinterpret_cast<const int16_t*>(s), re, n);
    extract_sse2<1>(reinterpret_cast<const int16_t*>(s), im, n);
    return VEK_OK;
}

VekStatus vek_complex_join_16_gen(const int16_t* re, const int16_t* im, VekC16* d, int32_t n) {
    if (VekStatus st = join_check(re, im, d, n); st != VEK_OK) return st;
    auto* c = reinterpret_cast<int16_t*>(d);
    for (int64_t i = 0; i < n; ++i) {
        st16(c, 2 * i, re != nullptr ? ld16(re, i) : int16_t{0});
        st16(c, 2 * i + 1, im != nullptr ? ld16(im, i) : int16_t{0});
    }
    return VEK_OK;
}

VekStatus vek_complex_join_16_wd(const int16_t* re, const int16_t* im, VekC16* d, int32_t n) {
    if (VekStatus st = join_check(re, im, d, n); st != VEK_OK) return st;
    auto* c = reinterpret_cast<int16_t*>(d);
    if (re != nullptr && im != nullptr)
        join_sse2<true, true>(re, im, c, n);
    else if (re != nullptr)
        join_sse2<true, false>(re, im, c, n);
    else
        join_sse2<false, true>(re, im, c, n);
    return VEK_OK;
}
