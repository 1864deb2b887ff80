// Lane sets for the SIMD kernels of the arithmetic and utility families.
//
// A kernel recipe is written once against a lane set L and instantiated for the MMX registers (`Mmx`, the mm
// column), the MMX registers with the SSE integer extensions (`MmxSse`, the ss column) and the SSE2 registers
// (`Sse2`, the wd column). Memory is reached through memcpy so that any address works; the kernels align the
// destination where they can and otherwise run the same body on unaligned data.
#pragma once

#include <emmintrin.h>
#include <mmintrin.h>
#include <xmmintrin.h>
#include <cstdint>
#include <cstring>

namespace vek::lanes {

// Element access at any address (odd addresses included).
inline int16_t ld16(const int16_t* p, int64_t i) {
    int16_t v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
inline void st16(int16_t* p, int64_t i, int16_t v) {
    std::memcpy(p + i, &v, sizeof v);
}
inline int32_t ld32(const int32_t* p, int64_t i) {
    int32_t v;
    std::memcpy(&v, p + i, sizeof v);
    return v;
}
inline void st32(int32_t* p, int64_t i, int32_t v) {
    std::memcpy(p + i, &v, sizeof v);
}

// 64-bit MMX registers: four 16-bit or two 32-bit lanes.
struct Mmx {
    using V = __m64;
    static constexpr int kLanes16 = 4;
    static constexpr uintptr_t kAlign = 8;

    static V load(const void* p) {
        int64_t t;
        std::memcpy(&t, p, 8);
        return _mm_cvtsi64_m64(t);
    }
    static void store(void* p, V v) {
        int64_t t = _mm_cvtm64_si64(v);
        std::memcpy(p, &t, 8);
    }
    static V zero() { return _mm_setzero_si64(); }
    static V set1_16(int16_t x) { return _mm_set1_pi16(x); }
    static V set1_32(int32_t x) { return _mm_set1_pi32(x); }
    static V pair16(int16_t lo, int16_t hi) { return _mm_set_pi16(hi, lo, hi, lo); }
    static V mullo16(V a, V b) { return _mm_mullo_pi16(a, b); }
    static V mulhi16(V a, V b) { return _mm_mulhi_pi16(a, b); }
    static V madd16(V a, V b) { return _mm_madd_pi16(a, b); }
    static V unpacklo16(V a, V b) { return _mm_unpacklo_pi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm_unpackhi_pi16(a, b); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_pi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_pi32(a, b); }
    static V packs32(V a, V b) { return _mm_packs_pi32(a, b); }
    static V add16(V a, V b) { return _mm_add_pi16(a, b); }
    static V add32(V a, V b) { return _mm_add_pi32(a, b); }
    static V sub16(V a, V b) { return _mm_sub_pi16(a, b); }
    static V adds16(V a, V b) { return _mm_adds_pi16(a, b); }
    static V sub32(V a, V b) { return _mm_sub_pi32(a, b); }
    static V subs16(V a, V b) { return _mm_subs_pi16(a, b); }
    static V subus16(V a, V b) { return _mm_subs_pu16(a, b); }
    static V and_(V a, V b) { return _mm_and_si64(a, b); }
    static V andnot(V a, V b) { return _mm_andnot_si64(a, b); }
    static V or_(V a, V b) { return _mm_or_si64(a, b); }
    static V xor_(V a, V b) { return _mm_xor_si64(a, b); }
    static V cmpgt16(V a, V b) { return _mm_cmpgt_pi16(a, b); }
    static V cmpeq16(V a, V b) { return _mm_cmpeq_pi16(a, b); }
    static V cmpeq32(V a, V b) { return _mm_cmpeq_pi32(a, b); }
    static V srai16(V a, int k) { return _mm_sra_pi16(a, _mm_cvtsi32_si64(k)); }
    static V srai32(V a, int k) { return _mm_sra_pi32(a, _mm_cvtsi32_si64(k)); }
    static V srli32(V a, int k) { return _mm_srl_pi32(a, _mm_cvtsi32_si64(k)); }
    static V slli32(V a, int k) { return _mm_sll_pi32(a, _mm_cvtsi32_si64(k)); }
    // Plain MMX has no packed minimum or maximum: compare and select.
    static V min16(V a, V b) {
        V m = cmpgt16(a, b);
        return or_(and_(m, b), andnot(m, a));
    }
    static V max16(V a, V b) {
        V m = cmpgt16(a, b);
        return or_(and_(m, a), andnot(m, b));
    }
    // Lane values in memory order.
    static void lanes16(V v, int16_t out[4]) { store(out, v); }
    static void done() { _mm_empty(); }
};

// MMX registers with the SSE integer extensions (packed signed minimum and maximum, byte masks).
struct MmxSse : Mmx {
    static V min16(V a, V b) { return _mm_min_pi16(a, b); }
    static V max16(V a, V b) { return _mm_max_pi16(a, b); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_NTA); }
};

// 128-bit SSE2 registers: eight 16-bit or four 32-bit lanes.
struct Sse2 {
    using V = __m128i;
    static constexpr int kLanes16 = 8;
    static constexpr uintptr_t kAlign = 16;

    static V load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static V zero() { return _mm_setzero_si128(); }
    static V set1_16(int16_t x) { return _mm_set1_epi16(x); }
    static V set1_32(int32_t x) { return _mm_set1_epi32(x); }
    static V pair16(int16_t lo, int16_t hi) { return _mm_set_epi16(hi, lo, hi, lo, hi, lo, hi, lo); }
    static V mullo16(V a, V b) { return _mm_mullo_epi16(a, b); }
    static V mulhi16(V a, V b) { return _mm_mulhi_epi16(a, b); }
    static V madd16(V a, V b) { return _mm_madd_epi16(a, b); }
    static V unpacklo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
    static V unpackhi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
    static V unpacklo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
    static V unpackhi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
    static V packs32(V a, V b) { return _mm_packs_epi32(a, b); }
    static V add16(V a, V b) { return _mm_add_epi16(a, b); }
    static V add32(V a, V b) { return _mm_add_epi32(a, b); }
    static V sub16(V a, V b) { return _mm_sub_epi16(a, b); }
    static V adds16(V a, V b) { return _mm_adds_epi16(a, b); }
    static V sub32(V a, V b) { return _mm_sub_epi32(a, b); }
    static V subs16(V a, V b) { return _mm_subs_epi16(a, b); }
    static V subus16(V a, V b) { return _mm_subs_epu16(a, b); }
    static V and_(V a, V b) { return _mm_and_si128(a, b); }
    static V andnot(V a, V b) { return _mm_andnot_si128(a, b); }
    static V or_(V a, V b) { return _mm_or_si128(a, b); }
    static V xor_(V a, V b) { return _mm_xor_si128(a, b); }
    static V cmpgt16(V a, V b) { return _mm_cmpgt_epi16(a, b); }
    static V cmpeq16(V a, V b) { return _mm_cmpeq_epi16(a, b); }
    static V cmpeq32(V a, V b) { return _mm_cmpeq_epi32(a, b); }
    static V srai16(V a, int k) { return _mm_sra_epi16(a, _mm_cvtsi32_si128(k)); }
    static V srai32(V a, int k) { return _mm_sra_epi32(a, _mm_cvtsi32_si128(k)); }
    static V srli32(V a, int k) { return _mm_srl_epi32(a, _mm_cvtsi32_si128(k)); }
    static V slli32(V a, int k) { return _mm_sll_epi32(a, _mm_cvtsi32_si128(k)); }
    static V min16(V a, V b) { return _mm_min_epi16(a, b); }
    static V max16(V a, V b) { return _mm_max_epi16(a, b); }
    static void prefetch(const void* p) { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_NTA); }
    static void lanes16(V v, int16_t out[8]) { store(out, v); }
    static void done() {}
};

// Elements a destination pointer needs to reach the lane set's alignment (0 for an odd address, which can never
// be aligned; the body then runs unaligned).
template <class L>
inline int32_t align_head16(const void* dst) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(dst);
    if (a & 1) return 0;
    return static_cast<int32_t>(((L::kAlign - (a & (L::kAlign - 1))) & (L::kAlign - 1)) / 2);
}

}  // namespace vek::lanes
