// SSE2 LMS kernels: 128-bit registers, 16 real taps per pass.
#include <emmintrin.h>

#include <cstdint>

#include "layer1/vek/lms/lms_kernels_simd.h"

namespace vek_lms {
namespace {

struct Sse2 {
  using V = __m128i;
  static constexpr int32_t kLanes = 8;
  static V Zero() { return _mm_setzero_si128(); }
  template <bool Aligned>
  static V Load(const void* p) {
    if constexpr (Aligned) {
      return _mm_load_si128(static_cast<const __m128i*>(p));
    } else {
      return _mm_loadu_si128(static_cast<const __m128i*>(p));
    }
  }
  static void Store(void* p, V v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
  static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V Madd16(V a, V b) { return _mm_madd_epi16(a, b); }
  static V SraHigh(V a) { return _mm_srai_epi32(a, 16); }
  static V SrlHigh(V a) { return _mm_srli_epi32(a, 16); }
  static V Packs32(V a, V b) { return _mm_packs_epi32(a, b); }
  static V And(V a, V b) { return _mm_and_si128(a, b); }
  static V Set1(int32_t v) { return _mm_set1_epi32(v); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V UnpackLo32(V a, V b) { return _mm_unpacklo_epi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm_unpackhi_epi32(a, b); }
  static V Even32(V a, V b) {
    return _mm_unpacklo_epi64(_mm_shuffle_epi32(a, 0x08), _mm_shuffle_epi32(b, 0x08));
  }
  static V SwapHalves(V a) { return _mm_or_si128(_mm_slli_epi32(a, 16), _mm_srli_epi32(a, 16)); }
  static int32_t HSum(V a) {
    const V s = _mm_add_epi32(a, _mm_shuffle_epi32(a, 0x4E));
    return _mm_cvtsi128_si32(_mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1)));
  }
  static bool IsAligned(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15u) == 0; }
  static bool Step2Allowed(const void*) { return true; }
  static void Done() {}
};

using Kernels = SimdLms<Sse2>;

}  // namespace
}  // namespace vek_lms

void vek_lms_filter_kernel(const int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t* out) {
  vek_lms::Kernels::FilterReal(taps, x, len, step, out);
}
void vek_lms_update_kernel(int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t g) {
  vek_lms::Kernels::UpdateReal(taps, x, len, step, g);
}
void vek_lms_filter_kernel_complex(const int32_t* taps, const uint32_t* x, int32_t len, int32_t step,
                                   VekC32* out) {
  vek_lms::Kernels::FilterComplex(taps, x, len, step, out);
}
void vek_lms_update_kernel_complex(int32_t* taps, const uint32_t* x, int32_t len, int32_t step, int32_t gr,
                                   int32_t gi) {
  vek_lms::Kernels::UpdateComplex(taps, x, len, step, gr, gi);
}
