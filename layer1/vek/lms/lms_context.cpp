// LMS contexts: creation and free, taps, delay line, put and mu. Every column computes the same; a column's own
// copy differs only in which allocation it calls, so one template per operation serves all of them.
#include <cstring>
#include <limits>
#include <type_traits>

#include "layer1/vek/core/vek_copy.h"
#include "layer1/vek/core/vek_memory.h"
#include "layer1/vek/lms/lms_scalar.h"
#include "layer1/vek/lms/lms_state.h"

namespace vek_lms {
namespace {

// Types of the two kinds: the caller's samples and taps, and the words of the delay line (the complex line
// holds each packed sample as one 32-bit word).
template <bool Complex>
struct Kind {
  using Sample = std::conditional_t<Complex, VekC16, int16_t>;
  using Word = std::conditional_t<Complex, uint32_t, int16_t>;
  using Tap = std::conditional_t<Complex, VekC32, int32_t>;
  static constexpr int32_t kId = Complex ? kLmsKindComplex : kLmsKindReal;
  static constexpr int32_t kTapWords = Complex ? 2 : 1;
  static_assert(sizeof(Sample) == sizeof(Word));
};

template <bool Complex>
typename Kind<Complex>::Word* Line(const LmsState* s) {
  return static_cast<typename Kind<Complex>::Word*>(s->delayLine);
}

// The allocation, copy and zero primitives of each column.
template <int Col>
struct Primitives;
template <>
struct Primitives<kGen> {
  static void* Alloc32(int32_t n) { return vek_alloc_32_gen(n); }
  static void* Alloc64(int32_t n) { return vek_alloc_64_gen(n); }
  static void Copy(const void* src, void* dst, size_t bytes) { vek_k_copy_gen(src, dst, bytes); }
  static void Zero(void* dst, size_t bytes) { vek_k_zero_gen(dst, bytes); }
};
template <>
struct Primitives<kMm> {
  static void* Alloc32(int32_t n) { return vek_alloc_32_gen(n); }
  static void* Alloc64(int32_t n) { return vek_alloc_64_gen(n); }
  static void Copy(const void* src, void* dst, size_t bytes) { vek_k_copy_mm(src, dst, bytes); }
  static void Zero(void* dst, size_t bytes) { vek_k_zero_mm(dst, bytes); }
};
template <>
struct Primitives<kSs> {
  static void* Alloc32(int32_t n) { return vek_alloc_32_gen(n); }
  static void* Alloc64(int32_t n) { return vek_alloc_64_gen(n); }
  static void Copy(const void* src, void* dst, size_t bytes) { vek_k_copy_ss(src, dst, bytes); }
  static void Zero(void* dst, size_t bytes) { vek_k_zero_ss(dst, bytes); }
};
template <>
struct Primitives<kWd> {
  static void* Alloc32(int32_t n) { return vek_alloc_32_wd(n); }
  static void* Alloc64(int32_t n) { return vek_alloc_64_wd(n); }
  static void Copy(const void* src, void* dst, size_t bytes) { vek_k_copy_wd(src, dst, bytes); }
  static void Zero(void* dst, size_t bytes) { vek_k_zero_wd(dst, bytes); }
};

void ReleaseContext(LmsState* s) {
  if (s == nullptr) return;
  vek_free(s->delayLine);
  vek_free(s->taps);
  vek_free(s);
}

// Stored tap j is the caller's tap L - 1 - j; null clears all taps.
template <bool Complex, int Col>
void StoreTapsReversed(LmsState* s, const typename Kind<Complex>::Tap* taps) {
  const int32_t len = s->tapsLength;
  constexpr size_t kTapBytes = Kind<Complex>::kTapWords * sizeof(int32_t);
  if (taps == nullptr) {
    Primitives<Col>::Zero(s->taps, static_cast<size_t>(len) * kTapBytes);
    return;
  }
  for (int32_t j = 0; j < len; ++j) {
    std::memcpy(s->taps + static_cast<int64_t>(j) * Kind<Complex>::kTapWords, &taps[len - 1 - j], kTapBytes);
  }
}

template <bool Complex>
void LoadTapsReversed(const LmsState* s, typename Kind<Complex>::Tap* dst) {
  const int32_t len = s->tapsLength;
  constexpr size_t kTapBytes = Kind<Complex>::kTapWords * sizeof(int32_t);
  for (int32_t j = 0; j < len; ++j) {
    std::memcpy(&dst[len - 1 - j], s->taps + static_cast<int64_t>(j) * Kind<Complex>::kTapWords, kTapBytes);
  }
}

// Copies D samples into both halves of the doubled line; null clears all 2D positions.
template <bool Complex, int Col>
void StoreHistory(LmsState* s, const typename Kind<Complex>::Sample* samples) {
  const size_t bytes = static_cast<size_t>(s->delayLength) * sizeof(typename Kind<Complex>::Word);
  auto* line = Line<Complex>(s);
  if (samples == nullptr) {
    Primitives<Col>::Zero(line, 2 * bytes);
    return;
  }
  Primitives<Col>::Copy(samples, line, bytes);
  Primitives<Col>::Copy(samples, line + s->delayLength, bytes);
}

template <bool Complex, int Col>
VekStatus Init(LmsState** ctx, const typename Kind<Complex>::Tap* taps, int32_t len,
               const typename Kind<Complex>::Sample* delay, int32_t index, int32_t step, int32_t updateDelay,
               int32_t mu) {
  if (ctx == nullptr) return VEK_ERR_NULL_POINTER;
  if (len <= 0 || step <= 0) return VEK_ERR_SIZE;
  // A negative update delay would start the filter window before the line, and a line whose doubled length
  // does not fit in 32 bits cannot be addressed: both are refused like any other bad size.
  if (updateDelay < 0) return VEK_ERR_SIZE;
  const int64_t d = static_cast<int64_t>(updateDelay) + static_cast<int64_t>(len) * step;
  if (d > std::numeric_limits<int32_t>::max() / 2) return VEK_ERR_SIZE;
  if (index < 0 || index >= d) return VEK_ERR_SIZE;

  auto* s = static_cast<LmsState*>(vek_alloc_8(static_cast<int32_t>(sizeof(LmsState))));
  if (s == nullptr) {
    *ctx = nullptr;
    return VEK_ERR_NO_MEMORY;
  }
  s->kind = Kind<Complex>::kId;
  s->tapsLength = len;
  s->step = step;
  s->delayLength = static_cast<int32_t>(d);
  s->updateDelay = updateDelay;
  s->index = index;
  s->mu = mu;
  s->taps = static_cast<int32_t*>(Complex ? Primitives<Col>::Alloc64(len) : Primitives<Col>::Alloc32(len));
  const int32_t positions = static_cast<int32_t>(2 * d);
  s->delayLine = Complex ? Primitives<Col>::Alloc32(positions) : vek_alloc_16(positions);
  if (s->taps == nullptr || s->delayLine == nullptr) {
    ReleaseContext(s);
    *ctx = nullptr;
    return VEK_ERR_NO_MEMORY;
  }
  StoreTapsReversed<Complex, Col>(s, taps);
  StoreHistory<Complex, Col>(s, delay);
  *ctx = s;
  return VEK_OK;
}

template <bool Complex, int Col>
VekStatus SetTaps(LmsState* s, const typename Kind<Complex>::Tap* taps) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  StoreTapsReversed<Complex, Col>(s, taps);
  return VEK_OK;
}

template <bool Complex>
VekStatus GetTaps(const LmsState* s, typename Kind<Complex>::Tap* dst) {
  if (s == nullptr || dst == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  LoadTapsReversed<Complex>(s, dst);
  return VEK_OK;
}

VekStatus GetTapsPtr(LmsState* s, int32_t** out) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  *out = s->taps;
  return VEK_OK;
}

// The index is checked against the line (a put at an index outside 0..D-1 would write past the doubled
// line), after the kind so that the length read is an LMS length.
template <bool Complex, int Col>
VekStatus SetDelay(LmsState* s, const typename Kind<Complex>::Sample* samples, int32_t index) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  if (index < 0 || index >= s->delayLength) return VEK_ERR_SIZE;
  StoreHistory<Complex, Col>(s, samples);
  s->index = index;
  return VEK_OK;
}

// Positions 0..D-1 in storage order, and the index.
template <bool Complex, int Col>
VekStatus GetDelay(const LmsState* s, typename Kind<Complex>::Sample* dst, int32_t* index) {
  if (s == nullptr || dst == nullptr || index == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  Primitives<Col>::Copy(s->delayLine, dst, static_cast<size_t>(s->delayLength) * sizeof(typename Kind<Complex>::Word));
  *index = s->index;
  return VEK_OK;
}

// The sample k positions after the start of the filter window. k is accepted up to D, but a position past the
// end of the doubled line is refused with the same code.
template <bool Complex>
VekStatus GetDelayValue(const LmsState* s, typename Kind<Complex>::Sample* out, int32_t k) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  if (k < 0 || k > s->delayLength) return VEK_ERR_BAD_ARG;
  const int64_t pos = FilterStart(s) + k;
  if (pos >= 2 * static_cast<int64_t>(s->delayLength)) return VEK_ERR_BAD_ARG;
  std::memcpy(out, Line<Complex>(s) + pos, sizeof *out);
  return VEK_OK;
}

template <bool Complex>
VekStatus PutValue(typename Kind<Complex>::Sample x, LmsState* s) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  typename Kind<Complex>::Word w;
  std::memcpy(&w, &x, sizeof w);
  PutSample(s, w);
  return VEK_OK;
}

template <bool Complex>
VekStatus SetMu(LmsState* s, int32_t mu) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  s->mu = mu;
  return VEK_OK;
}

}  // namespace
}  // namespace vek_lms

using namespace vek_lms;

VekStatus vek_lms_free_gen(LmsState* ctx) {
  ReleaseContext(ctx);
  return VEK_OK;
}

#define VEK_LMS_CONTEXT_COLUMN(col, id)                                                                      \
  VekStatus vek_lms_init_real_##col(LmsState** ctx, const int32_t* taps, int32_t len, const int16_t* delay, \
                                    int32_t index, int32_t step, int32_t updateDelay, int32_t mu) {         \
    return Init<false, id>(ctx, taps, len, delay, index, step, updateDelay, mu);                            \
  }                                                                                                         \
  VekStatus vek_lms_init_complex_##col(LmsState** ctx, const VekC32* taps, int32_t len,                 \
                                       const VekC16* delay, int32_t index, int32_t step,                  \
                                       int32_t updateDelay, int32_t mu) {                                   \
    return Init<true, id>(ctx, taps, len, delay, index, step, updateDelay, mu);                             \
  }                                                                                                         \
  VekStatus vek_lms_set_taps_real_##col(LmsState* ctx, const int32_t* taps) { return SetTaps<false, id>(ctx, taps); } \
  VekStatus vek_lms_set_taps_complex_##col(LmsState* ctx, const VekC32* taps) {                         \
    return SetTaps<true, id>(ctx, taps);                                                                        \
  }                                                                                                         \
  VekStatus vek_lms_set_delay_real_##col(LmsState* ctx, const int16_t* samples, int32_t index) {            \
    return SetDelay<false, id>(ctx, samples, index);                                                            \
  }                                                                                                         \
  VekStatus vek_lms_set_delay_complex_##col(LmsState* ctx, const VekC16* samples, int32_t index) {        \
    return SetDelay<true, id>(ctx, samples, index);                                                             \
  }                                                                                                         \
  VekStatus vek_lms_get_delay_real_##col(const LmsState* ctx, int16_t* dst, int32_t* index) {                     \
    return GetDelay<false, id>(ctx, dst, index);                                                                \
  }                                                                                                         \
  VekStatus vek_lms_get_delay_complex_##col(const LmsState* ctx, VekC16* dst, int32_t* index) {                 \
    return GetDelay<true, id>(ctx, dst, index);                                                                 \
  }

VEK_LMS_CONTEXT_COLUMN(gen, kGen)
VEK_LMS_CONTEXT_COLUMN(mm, kMm)
VEK_LMS_CONTEXT_COLUMN(ss, kSs)
VEK_LMS_CONTEXT_COLUMN(wd, kWd)
#undef VEK_LMS_CONTEXT_COLUMN

VekStatus vek_lms_get_taps_real_gen(const LmsState* ctx, int32_t* dst) { return GetTaps<false>(ctx, dst); }
VekStatus vek_lms_get_taps_real_wd(const LmsState* ctx, int32_t* dst) { return GetTaps<false>(ctx, dst); }
VekStatus vek_lms_get_taps_complex_gen(const LmsState* ctx, VekC32* dst) { return GetTaps<true>(ctx, dst); }
VekStatus vek_lms_get_taps_complex_wd(const LmsState* ctx, VekC32* dst) { return GetTaps<true>(ctx, dst); }
VekStatus vek_lms_get_taps_ptr_gen(LmsState* ctx, int32_t** out) { return GetTapsPtr(ctx, out); }
VekStatus vek_lms_get_taps_ptr_wd(LmsState* ctx, int32_t** out) { return GetTapsPtr(ctx, out); }
VekStatus vek_lms_get_delay_value_real_gen(const LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<false>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_real_wd(const LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<false>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_complex_gen(const LmsState* ctx, VekC16* out, int32_t k) {
  return GetDelayValue<true>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_complex_wd(const LmsState* ctx, VekC16* out, int32_t k) {
  return GetDelayValue<true>(ctx, out, k);
}
VekStatus vek_lms_put_value_real_gen(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_real_mm(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_real_wd(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_complex_gen(VekC16 x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_put_value_complex_mm(VekC16 x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_put_value_complex_wd(VekC16 x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_set_mu_real_gen(LmsState* ctx, int32_t mu) { return SetMu<false>(ctx, mu); }
VekStatus vek_lms_set_mu_real_wd(LmsState* ctx, int32_t mu) { return SetMu<false>(ctx, mu); }
VekStatus vek_lms_set_mu_complex_gen(LmsState* ctx, int32_t mu) { return SetMu<true>(ctx, mu); }
VekStatus vek_lms_set_mu_complex_wd(LmsState* ctx, int32_t mu) { return SetMu<true>(ctx, mu); }
