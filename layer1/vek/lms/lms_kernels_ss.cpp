// LMS kernels of the ss column: 64-bit MMX registers (8 real taps per pass) with the SSE extensions; the
// step-2 loop runs only on a window that starts on an 8-byte boundary. The MMX state is cleared on exit.
#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

#include "layer1/vek/lms/lms_kernels_simd.h"

namespace vek_lms {
namespace {

struct Mmx {
  using V = __m64;
  static constexpr int32_t kLanes = 4;
  static V Zero() { return _mm_setzero_si64(); }
  template <bool Aligned>
  static V Load(const void* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void Store(void* p, V v) { std::memcpy(p, &v, sizeof v); }
  static V Add32(V a, V b) { return _mm_add_pi32(a, b); }
  static V Madd16(V a, V b) { return _mm_madd_pi16(a, b); }
  static V SraHigh(V a) { return _mm_srai_pi32(a, 16); }
  static V SrlHigh(V a) { return _mm_srli_pi32(a, 16); }
  static V Packs32(V a, V b) { return _mm_packs_pi32(a, b); }
  static V And(V a, V b) { return _mm_and_si64(a, b); }
  static V Set1(int32_t v) { return _mm_set1_pi32(v); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_pi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_pi16(a, b); }
  static V UnpackLo32(V a, V b) { return _mm_unpacklo_pi32(a, b); }
  static V UnpackHi32(V a, V b) { return _mm_unpackhi_pi32(a, b); }
  static V Even32(V a, V b) { return _mm_unpacklo_pi32(a, b); }
  static V SwapHalves(V a) { return _mm_shuffle_pi16(a, 0xB1); }
  static int32_t HSum(V a) { return _mm_cvtsi64_si32(_mm_add_pi32(a, _mm_unpackhi_pi32(a, a))); }
  static bool IsAligned(const void*) { return false; }
  static bool Step2Allowed(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 7u) == 0; }
  static void Done() { _mm_empty(); }
};

using Kernels = SimdLms<Mmx>;

}  // namespace
}  // namespace vek_lms

void vek_lms_filter_kernel_ss(const int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t* out) {
  vek_lms::Kernels::FilterReal(taps, x, len, step, out);
}
void vek_lms_update_kernel_ss(int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t g) {
  vek_lms::Kernels::UpdateReal(taps, x, len, step, g);
}
void vek_lms_filter_kernel_complex_ss(const int32_t* taps, const uint32_t* x, int32_t len, int32_t step,
                                      VekC32* out) {
  vek_lms::Kernels::FilterComplex(taps, x, len, step, out);
}
void vek_lms_update_kernel_complex_ss(int32_t* taps, const uint32_t* x, int32_t len, int32_t step, int32_t gr,
                                      int32_t gi) {
  vek_lms::Kernels::UpdateComplex(taps, x, len, step, gr, gi);
}
