// Conversions between 16-bit and 32-bit samples: widening with sign extension, narrowing with saturation.
// gen and mm run plain loops. ss (MMX) and wd (SSE2) run a scalar head until the destination is aligned (8 or 16
// bytes), then rounds of 8 or 16 elements; long vectors are written with non-temporal stores and a store fence so
// they do not evict the working set.
#include "layer1/vek/arith/lanes.h"
#include "layer1/vek/util/util.h"

namespace {

using vek::lanes::ld16;
using vek::lanes::ld32;
using vek::lanes::Mmx;
using vek::lanes::Sse2;
using vek::lanes::st16;
using vek::lanes::st32;

void widen_scalar(const int16_t* s, int32_t* d, int64_t from, int64_t to) {
    for (int64_t i = from; i < to; ++i) st32(d, i, ld16(s, i));
}
void narrow_scalar(const int32_t* s, int16_t* d, int64_t from, int64_t to) {
    for (int64_t i = from; i < to; ++i) {
        const int32_t x = ld32(s, i);
        st16(d, i, static_cast<int16_t>(x > 32767 ? 32767 : (x < -32768 ? -32768 : x)));
    }
}

// Elements until dst reaches `align` bytes; -1 when it never can (dst not aligned to its element size).
int64_t head_to(const void* dst, uintptr_t align, uintptr_t elem) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(dst);
    if (a % elem) return -1;
    return static_cast<int64_t>(((align - (a & (align - 1))) & (align - 1)) / elem);
}

// One SIMD conversion walk: head, rounds of kRound elements, tail; kNtAbove is the remaining length above which
// the rounds store non-temporally.
template <class L, int kRound, int64_t kNtAbove, class Src, class Dst, class Round, class Scalar>
void simd_walk(const Src* s, Dst* d, int64_t n, Round round, Scalar scalar) {
    int64_t h = head_to(d, L::kAlign, sizeof(Dst));
    if (h < 0) h = 0;  // unaligned destination: plain stores throughout
    if (h > n) h = n;
    scalar(s, d, 0, h);
    const bool aligned = (reinterpret_cast<uintptr_t>(d + h) & (L::kAlign - 1)) == 0;
    const bool nt = aligned && (n - h) - kRound > kNtAbove;
    int64_t i = h;
    for (; n - i >= kRound; i += kRound) round(s + i, d + i, nt);
    if (nt) _mm_sfence();
    L::done();
    scalar(s, d, i, n);
}

// MMX rounds of 8 elements.
void widen_round_mmx(const int16_t* s, int32_t* d, bool nt) {
    for (int k = 0; k < 8; k += 4) {
        const __m64 x = Mmx::load(s + k);
        const __m64 sign = _mm_srai_pi16(x, 15);
        const __m64 lo = _mm_unpacklo_pi16(x, sign), hi = _mm_unpackhi_pi16(x, sign);
        if (nt) {
            _mm_stream_pi(reinterpret_cast<__m64*>(d + k), lo);
            _mm_stream_pi(reinterpret_cast<__m64*>(d + k + 2), hi);
        } else {
            Mmx::store(d + k, lo);
            Mmx::store(d + k + 2, hi);
        }
    }
}
void narrow_round_mmx(const int32_t* s, int16_t* d, bool nt) {
    for (int k = 0; k < 8; k += 4) {
        const __m64 r = _mm_packs_pi32(Mmx::load(s + k), Mmx::load(s + k + 2));
        if (nt) {
            _mm_stream_pi(reinterpret_cast<__m64*>(d + k), r);
        } else {
            Mmx::store(d + k, r);
        }
    }
}

// SSE2 rounds of 16 elements.
void widen_round_sse2(const int16_t* s, int32_t* d, bool nt) {
    for (int k = 0; k < 16; k += 8) {
        const __m128i x = Sse2::load(s + k);
        const __m128i sign = _mm_srai_epi16(x, 15);
        const __m128i lo = _mm_unpacklo_epi16(x, sign), hi = _mm_unpackhi_epi16(x, sign);
        if (nt) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + k), lo);
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + k + 4), hi);
        } else {
            Sse2::store(d + k, lo);
            Sse2::store(d + k + 4, hi);
        }
    }
}
void narrow_round_sse2(const int32_t* s, int16_t* d, bool nt) {
    for (int k = 0; k < 16; k += 8) {
        const __m128i r = _mm_packs_epi32(Sse2::load(s + k), Sse2::load(s + k + 4));
        if (nt) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + k), r);
        } else {
            Sse2::store(d + k, r);
        }
    }
}

template <class Src, class Dst>
VekStatus check(const Src* s, const Dst* d, int32_t n) {
    if (s == nullptr || d == nullptr) return VEK_ERR_NULL_POINTER;
    if (n <= 0) return VEK_ERR_SIZE;
    return VEK_OK;
}

}  // namespace

VekStatus vek_convert_s16_s32_gen(const int16_t* s, int32_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    widen_scalar(s, d, 0, n);
    return VEK_OK;
}
VekStatus vek_convert_s16_s32_mm(const int16_t* s, int32_t* d, int32_t n) {
    return vek_convert_s16_s32_gen(s, d, n);
}
VekStatus vek_convert_s16_s32_ss(const int16_t* s, int32_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    simd_walk<Mmx, 8, 2723>(s, d, n, widen_round_mmx, widen_scalar);
    return VEK_OK;
}
VekStatus vek_convert_s16_s32_wd(const int16_t* s, int32_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    simd_walk<Sse2, 16, 43675>(s, d, n, widen_round_sse2, widen_scalar);
    return VEK_OK;
}

VekStatus vek_convert_s32_s16_sat_gen(const int32_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    narrow_scalar(s, d, 0, n);
    return VEK_OK;
}
VekStatus vek_convert_s32_s16_sat_mm(const int32_t* s, int16_t* d, int32_t n) {
    return vek_convert_s32_s16_sat_gen(s, d, n);
}
VekStatus vek_convert_s32_s16_sat_ss(const int32_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    simd_walk<Mmx, 8, 2723>(s, d, n, narrow_round_mmx, narrow_scalar);
    return VEK_OK;
}
VekStatus vek_convert_s32_s16_sat_wd(const int32_t* s, int16_t* d, int32_t n) {
    if (VekStatus st = check(s, d, n); st != VEK_OK) return st;
    simd_walk<Sse2, 16, 43675>(s, d, n, narrow_round_sse2, narrow_scalar);
    return VEK_OK;
}
