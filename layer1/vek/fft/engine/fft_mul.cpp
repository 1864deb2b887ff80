// Element-wise complex multiplies outside the dispatch: 16-bit complex with a scale factor, float complex
// plain and with the conjugate of the second operand, double complex.
//
// 16-bit: the products R = Are*Bre - Aim*Bim and I = Are*Bim + Aim*Bre are exact, except that I = 2^31 (all
// four parts -32768) is held as 2^31 - 1, as the word multiply-add leaves it. Scaling floors (arithmetic right
// shift, 0 or -1 from a shift of 32 on); a negative scale factor shifts left with saturation (a non-zero
// product that leaves the 32-bit range saturates by its sign), then each part saturates to int16.
#include <emmintrin.h>
#include <xmmintrin.h>

#include <cstdint>

#include "layer1/vek/fft/engine/fft64f.h"

namespace {

inline std::int64_t scale_product(std::int64_t v, std::int32_t sf)
{
    if (sf > 0) {
        return sf >= 32 ? (v < 0 ? -1 : 0) : (v >> sf);
    }
    if (sf < 0) {
        if (v == 0) {
            return 0;
        }
        const std::int64_t limit = std::int64_t{1} << 31;
        if (sf <= -32) {
            return v < 0 ? -limit : limit - 1;
        }
        const std::int64_t s = v * (std::int64_t{1} << -sf);  // |v| <= 2^31, so this stays within 63 bits
        return s < -limit ? -limit : (s >= limit ? limit - 1 : s);
    }
    return v;
}

inline std::int16_t saturate16(std::int64_t v)
{
    return static_cast<std::int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

inline void mul16(const std::int16_t* a, const std::int16_t* b, std::int16_t* out, std::int32_t sf)
{
    const std::int64_t r = std::int64_t{a[0]} * b[0] - std::int64_t{a[1]} * b[1];
    std::int64_t i = std::int64_t{a[0]} * b[1] + std::int64_t{a[1]} * b[0];
    if (i > INT32_MAX) {
        i = INT32_MAX;
    }
    out[0] = saturate16(scale_product(r, sf));
    out[1] = saturate16(scale_product(i, sf));
}

// Four elements a step with the word multiply-add, for 0 <= sf < 32; returns the elements done.
std::int32_t mul16_vector(const std::int16_t* a, const std::int16_t* b, std::int16_t* out, std::int32_t len,
                          std::int32_t sf)
{
    if (sf < 0 || sf >= 32) {
        return 0;
    }
    const __m128i minWord = _mm_set1_epi32(static_cast<std::int32_t>(0x8000u << 16));  // -32768 in odd words
    const __m128i shift = _mm_cvtsi32_si128(sf);
    std::int32_t k = 0;
    for (; k + 4 <= len; k += 4) {
        const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * k));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * k));
        // R: (Are, Aim) . (Bre, -Bim'), Bim' = Bim with -32768 taken as -32767, plus Aim where Bim was -32768.
        const __m128i bimMin = _mm_cmpeq_epi32(_mm_and_si128(vb, _mm_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u))),
                                               minWord);
        const __m128i bAdj = _mm_add_epi16(vb, _mm_and_si128(bimMin, _mm_set1_epi32(0x00010000)));
        const __m128i negIm = _mm_sub_epi16(_mm_setzero_si128(), _mm_and_si128(bAdj, _mm_set1_epi32(static_cast<std::int32_t>(0xFFFF0000u))));
        const __m128i bR = _mm_or_si128(_mm_and_si128(bAdj, _mm_set1_epi32(0x0000FFFF)), negIm);
        const __m128i aim = _mm_srai_epi32(va, 16);
        __m128i r = _mm_add_epi32(_mm_madd_epi16(va, bR), _mm_and_si128(bimMin, aim));
        // I: (Are, Aim) . (Bim, Bre); its one overflow (-2^31 from four parts -32768) is held as 2^31 - 1.
        const __m128i bI = _mm_shufflelo_epi16(_mm_shufflehi_epi16(vb, _MM_SHUFFLE(2, 3, 0, 1)), _MM_SHUFFLE(2, 3, 0, 1));
        __m128i i = _mm_madd_epi16(va, bI);
        const __m128i allMin = _mm_and_si128(_mm_cmpeq_epi32(va, _mm_set1_epi32(static_cast<std::int32_t>(0x80008000u))),
                                             _mm_cmpeq_epi32(vb, _mm_set1_epi32(static_cast<std::int32_t>(0x80008000u))));
        i = _mm_add_epi32(i, allMin);  // -2^31 + (-1) wraps to 2^31 - 1
        r = _mm_sra_epi32(r, shift);
        i = _mm_sra_epi32(i, shift);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * k), _mm_packs_epi32(_mm_unpacklo_epi32(r, i), _mm_unpackhi_epi32(r, i)));
    }
    return k;
}

// Float complex products on four elements a step (real and imaginary parts gathered into separate vectors).
template <bool Conj>
inline void mul_c32_four(const float* x, const float* y, float* out)
{
    const __m128 x0 = _mm_loadu_ps(x), x1 = _mm_loadu_ps(x + 4);
    const __m128 y0 = _mm_loadu_ps(y), y1 = _mm_loadu_ps(y + 4);
    const __m128 a = _mm_shuffle_ps(x0, x1, _MM_SHUFFLE(2, 0, 2, 0)), b = _mm_shuffle_ps(x0, x1, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 c = _mm_shuffle_ps(y0, y1, _MM_SHUFFLE(2, 0, 2, 0)), d = _mm_shuffle_ps(y0, y1, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 re = Conj ? _mm_add_ps(_mm_mul_ps(a, c), _mm_mul_ps(b, d)) : _mm_sub_ps(_mm_mul_ps(a, c), _mm_mul_ps(b, d));
    const __m128 im = Conj ? _mm_sub_ps(_mm_mul_ps(b, c), _mm_mul_ps(a, d)) : _mm_add_ps(_mm_mul_ps(a, d), _mm_mul_ps(b, c));
    _mm_storeu_ps(out, _mm_unpacklo_ps(re, im));
    _mm_storeu_ps(out + 4, _mm_unpackhi_ps(re, im));
}

template <bool Conj>
inline void mul_c32_one(const float* x, const float* y, float* out)
{
    const float a = x[0], b = x[1], c = y[0], d = y[1];
    const float re = Conj ? a * c + b * d : a * c - b * d;
    const float im = Conj ? b * c - a * d : a * d + b * c;
    out[0] = re;
    out[1] = im;
}

// x * y (or x * conj(y)) for len elements; the SSE tier prefetches both inputs 64 bytes ahead.
template <bool Conj, bool Prefetch>
void mul_c32(const float* x, const float* y, float* out, std::int32_t len)
{
    std::int32_t k = 0;
    for (; k + 4 <= len; k += 4) {
        if (Prefetch) {
            _mm_prefetch(reinterpret_cast<const char*>(x + 2 * k + 16), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(y + 2 * k + 16), _MM_HINT_T0);
        }
        mul_c32_four<Conj>(x + 2 * k, y + 2 * k, out + 2 * k);
    }
    for (; k < len; ++k) {
        mul_c32_one<Conj>(x + 2 * k, y + 2 * k, out + 2 * k);
    }
}

}  // namespace

void vek_k_fft_mul_c16_inplace_scaled_wd(const std::int16_t* src, std::int16_t* srcDst, std::int32_t len,
                                         std::int32_t sf)
{
    vek_k_fft_mul_c16_scaled_wd(src, srcDst, srcDst, len, sf);
}

void vek_k_fft_mul_c16_scaled_wd(const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst,
                                 std::int32_t len, std::int32_t sf)
{
    for (std::int32_t k = mul16_vector(src1, src2, dst, len, sf); k < len; ++k) {
        mul16(src1 + 2 * k, src2 + 2 * k, dst + 2 * k, sf);
    }
}

// The MMX tier: the same values, element by element (no MMX state to clear).
void vek_k_fft_mul_c16_inplace_scaled_ss(const std::int16_t* src, std::int16_t* srcDst, std::int32_t len,
                                         std::int32_t sf)
{
    vek_k_fft_mul_c16_scaled_ss(src, srcDst, srcDst, len, sf);
}

void vek_k_fft_mul_c16_scaled_ss(const std::int16_t* src1, const std::int16_t* src2, std::int16_t* dst,
                                 std::int32_t len, std::int32_t sf)
{
    for (std::int32_t k = 0; k < len; ++k) {
        mul16(src1 + 2 * k, src2 + 2 * k, dst + 2 * k, sf);
    }
}

void vek_k_fft_mul_c32_inplace_wd(const float* src, float* srcDst, std::int32_t len)
{
    mul_c32<false, false>(src, srcDst, srcDst, len);
}
void vek_k_fft_mul_c32_wd(const float* src1, const float* src2, float* dst, std::int32_t len)
{
    mul_c32<false, false>(src1, src2, dst, len);
}
void vek_k_fft_mul_c32_inplace_ss(const float* src, float* srcDst, std::int32_t len)
{
    mul_c32<false, true>(src, srcDst, srcDst, len);
}
void vek_k_fft_mul_c32_ss(const float* src1, const float* src2, float* dst, std::int32_t len)
{
    mul_c32<false, true>(src1, src2, dst, len);
}
void vek_k_mul_packed_spectra_conj_pairs_wd(const float* src, float* srcDst, std::int32_t len)
{
    mul_c32<true, false>(src, srcDst, srcDst, len);
}
void vek_k_mul_packed_spectra_conj_pairs_ss(const float* src, float* srcDst, std::int32_t len)
{
    mul_c32<true, true>(src, srcDst, srcDst, len);
}

void vek_k_fft_mul_c64_wd(const double* src1, const double* src2, double* dst, std::int32_t len)
{
    for (std::int32_t k = 0; k < len; ++k) {
        const __m128d x = _mm_loadu_pd(src1 + 2 * k);  // (a, b)
        const __m128d y = _mm_loadu_pd(src2 + 2 * k);  // (c, d)
        const __m128d p = _mm_mul_pd(x, _mm_unpacklo_pd(y, y));              // (ac, bc)
        const __m128d q = _mm_mul_pd(_mm_shuffle_pd(x, x, 1), _mm_unpackhi_pd(y, y));  // (bd, ad)
        const __m128d re = _mm_sub_sd(p, q);                                   // ac - bd
        const __m128d im = _mm_add_sd(_mm_unpackhi_pd(p, p), _mm_unpackhi_pd(q, q));  // bc + ad
        _mm_storeu_pd(dst + 2 * k, _mm_unpacklo_pd(re, im));
    }
}
