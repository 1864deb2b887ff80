// LMS contexts: creation and free, taps, delay line, put and mu. Every column computes the same; a column's own
// copy differs only in which allocation it calls, so one template per operation serves all of them.
#include <cstring>
#include <limits>
#include <type_traits>

#include "layer1/vek/lms/lms_scalar.h"
#include "layer1/vek/lms/lms_state.h"

namespace vek_lms {
namespace {

// Sample types of the two kinds: the real line holds int16, the complex line packed 32-bit words; a complex
// tap is two int32.
template <bool Complex>
struct Kind {
  using Sample = std::conditional_t<Complex, uint32_t, int16_t>;
  using Tap = std::conditional_t<Complex, VekLmsPair, int32_t>;
  static constexpr int32_t kId = Complex ? kLmsKindComplex : kLmsKindReal;
  static constexpr int32_t kTapWords = Complex ? 2 : 1;
};

template <bool Complex>
typename Kind<Complex>::Sample* Line(LmsState* s) {
  return static_cast<typename Kind<Complex>::Sample*>(s->delayLine);
}

void ReleaseContext(LmsState* s) {
  if (s == nullptr) return;
  if (s->delayLine != nullptr) vek_lms_link::Free(s->delayLine);
  if (s->taps != nullptr) vek_lms_link::Free(s->taps);
  vek_lms_link::Free(s);
}

// Stored tap j is the caller's tap L - 1 - j; null clears all taps.
template <bool Complex>
void StoreTapsReversed(LmsState* s, const typename Kind<Complex>::Tap* taps) {
  const int32_t len = s->tapsLength;
  const int32_t words = Kind<Complex>::kTapWords;
  if (taps == nullptr) {
    std::memset(s->taps, 0, static_cast<size_t>(len) * words * sizeof(int32_t));
    return;
  }
  for (int32_t j = 0; j < len; ++j) {
    std::memcpy(s->taps + static_cast<int64_t>(j) * words, &taps[len - 1 - j], words * sizeof(int32_t));
  }
}

template <bool Complex>
void LoadTapsReversed(const LmsState* s, typename Kind<Complex>::Tap* dst) {
  const int32_t len = s->tapsLength;
  const int32_t words = Kind<Complex>::kTapWords;
  for (int32_t j = 0; j < len; ++j) {
    std::memcpy(&dst[len - 1 - j], s->taps + static_cast<int64_t>(j) * words, words * sizeof(int32_t));
  }
}

// Copies D samples into both halves of the doubled line; null clears all 2D positions.
template <bool Complex>
void StoreHistory(LmsState* s, const typename Kind<Complex>::Sample* samples) {
  using Sample = typename Kind<Complex>::Sample;
  const size_t bytes = static_cast<size_t>(s->delayLength) * sizeof(Sample);
  Sample* line = Line<Complex>(s);
  if (samples == nullptr) {
    std::memset(line, 0, 2 * bytes);
    return;
  }
  std::memcpy(line, samples, bytes);
  std::memcpy(line + s->delayLength, samples, bytes);
}

template <bool Complex, int Col>
VekStatus Init(LmsState** ctx, const typename Kind<Complex>::Tap* taps, int32_t len,
               const typename Kind<Complex>::Sample* delay, int32_t index, int32_t step, int32_t updateDelay,
               int32_t mu) {
  using Sample = typename Kind<Complex>::Sample;
  if (ctx == nullptr) return VEK_ERR_NULL_POINTER;
  if (len <= 0 || step <= 0) return VEK_ERR_SIZE;
  // A negative update delay would start the filter window before the line, and a line whose doubled length
  // does not fit in 32 bits cannot be addressed: both are refused like any other bad size.
  if (updateDelay < 0) return VEK_ERR_SIZE;
  const int64_t d = static_cast<int64_t>(updateDelay) + static_cast<int64_t>(len) * step;
  if (d > std::numeric_limits<int32_t>::max() / 2) return VEK_ERR_SIZE;
  if (index < 0 || index >= d) return VEK_ERR_SIZE;

  auto* s = static_cast<LmsState*>(vek_lms_link::Alloc(Col, sizeof(LmsState)));
  if (s == nullptr) return VEK_ERR_NO_MEMORY;
  s->kind = Kind<Complex>::kId;
  s->taps = nullptr;
  s->delayLine = nullptr;
  s->tapsLength = len;
  s->step = step;
  s->delayLength = static_cast<int32_t>(d);
  s->updateDelay = updateDelay;
  s->index = index;
  s->mu = mu;
  s->taps = static_cast<int32_t*>(
      vek_lms_link::Alloc(Col, static_cast<size_t>(len) * Kind<Complex>::kTapWords * sizeof(int32_t)));
  s->delayLine = vek_lms_link::Alloc(Col, static_cast<size_t>(2 * d) * sizeof(Sample));
  if (s->taps == nullptr || s->delayLine == nullptr) {
    ReleaseContext(s);
    *ctx = nullptr;
    return VEK_ERR_NO_MEMORY;
  }
  StoreTapsReversed<Complex>(s, taps);
  StoreHistory<Complex>(s, delay);
  *ctx = s;
  return VEK_OK;
}

template <bool Complex>
VekStatus SetTaps(LmsState* s, const typename Kind<Complex>::Tap* taps) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  StoreTapsReversed<Complex>(s, taps);
  return VEK_OK;
}

template <bool Complex>
VekStatus GetTaps(LmsState* s, typename Kind<Complex>::Tap* dst) {
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
template <bool Complex>
VekStatus SetDelay(LmsState* s, const typename Kind<Complex>::Sample* samples, int32_t index) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  if (index < 0 || index >= s->delayLength) return VEK_ERR_SIZE;
  StoreHistory<Complex>(s, samples);
  s->index = index;
  return VEK_OK;
}

// Positions 0..D-1 in storage order, and the index.
template <bool Complex>
VekStatus GetDelay(LmsState* s, typename Kind<Complex>::Sample* dst, int32_t* index) {
  if (s == nullptr || dst == nullptr || index == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  std::memcpy(dst, s->delayLine, static_cast<size_t>(s->delayLength) * sizeof(typename Kind<Complex>::Sample));
  *index = s->index;
  return VEK_OK;
}

// The sample k positions after the start of the filter window. k is accepted up to D, but a position past the
// end of the doubled line is refused with the same code.
template <bool Complex>
VekStatus GetDelayValue(LmsState* s, int16_t* out, int32_t k) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  if (k < 0 || k > s->delayLength) return VEK_ERR_BAD_ARG;
  const int64_t pos = static_cast<int64_t>(s->index) + s->updateDelay + s->step - 1 + k;
  if (pos >= 2 * static_cast<int64_t>(s->delayLength)) return VEK_ERR_BAD_ARG;
  if constexpr (Complex) {
    const uint32_t v = Line<true>(s)[pos];
    out[0] = PackedRe(v);
    out[1] = PackedIm(v);
  } else {
    out[0] = Line<false>(s)[pos];
  }
  return VEK_OK;
}

template <bool Complex>
VekStatus PutValue(typename Kind<Complex>::Sample x, LmsState* s) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != Kind<Complex>::kId) return VEK_ERR_CONTEXT_MISMATCH;
  PutSample(s, x);
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
  VekStatus vek_lms_init_complex_##col(LmsState** ctx, const VekLmsPair* taps, int32_t len,                 \
                                       const uint32_t* delay, int32_t index, int32_t step,                  \
                                       int32_t updateDelay, int32_t mu) {                                   \
    return Init<true, id>(ctx, taps, len, delay, index, step, updateDelay, mu);                             \
  }                                                                                                         \
  VekStatus vek_lms_set_taps_real_##col(LmsState* ctx, const int32_t* taps) { return SetTaps<false>(ctx, taps); } \
  VekStatus vek_lms_set_taps_complex_##col(LmsState* ctx, const VekLmsPair* taps) {                         \
    return SetTaps<true>(ctx, taps);                                                                        \
  }                                                                                                         \
  VekStatus vek_lms_set_delay_real_##col(LmsState* ctx, const int16_t* samples, int32_t index) {            \
    return SetDelay<false>(ctx, samples, index);                                                            \
  }                                                                                                         \
  VekStatus vek_lms_set_delay_complex_##col(LmsState* ctx, const uint32_t* samples, int32_t index) {        \
    return SetDelay<true>(ctx, samples, index);                                                             \
  }                                                                                                         \
  VekStatus vek_lms_get_delay_real_##col(LmsState* ctx, int16_t* dst, int32_t* index) {                     \
    return GetDelay<false>(ctx, dst, index);                                                                \
  }                                                                                                         \
  VekStatus vek_lms_get_delay_complex_##col(LmsState* ctx, uint32_t* dst, int32_t* index) {                 \
    return GetDelay<true>(ctx, dst, index);                                                                 \
  }

VEK_LMS_CONTEXT_COLUMN(gen, kGen)
VEK_LMS_CONTEXT_COLUMN(mm, kMm)
VEK_LMS_CONTEXT_COLUMN(ss, kSs)
VEK_LMS_CONTEXT_COLUMN(wd, kWd)
#undef VEK_LMS_CONTEXT_COLUMN

VekStatus vek_lms_get_taps_real_gen(LmsState* ctx, int32_t* dst) { return GetTaps<false>(ctx, dst); }
VekStatus vek_lms_get_taps_real_wd(LmsState* ctx, int32_t* dst) { return GetTaps<false>(ctx, dst); }
VekStatus vek_lms_get_taps_complex_gen(LmsState* ctx, VekLmsPair* dst) { return GetTaps<true>(ctx, dst); }
VekStatus vek_lms_get_taps_complex_wd(LmsState* ctx, VekLmsPair* dst) { return GetTaps<true>(ctx, dst); }
VekStatus vek_lms_get_taps_ptr_gen(LmsState* ctx, int32_t** out) { return GetTapsPtr(ctx, out); }
VekStatus vek_lms_get_taps_ptr_wd(LmsState* ctx, int32_t** out) { return GetTapsPtr(ctx, out); }
VekStatus vek_lms_get_delay_value_real_gen(LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<false>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_real_wd(LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<false>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_complex_gen(LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<true>(ctx, out, k);
}
VekStatus vek_lms_get_delay_value_complex_wd(LmsState* ctx, int16_t* out, int32_t k) {
  return GetDelayValue<true>(ctx, out, k);
}
VekStatus vek_lms_put_value_real_gen(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_real_mm(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_real_wd(int16_t x, LmsState* ctx) { return PutValue<false>(x, ctx); }
VekStatus vek_lms_put_value_complex_gen(uint32_t x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_put_value_complex_mm(uint32_t x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_put_value_complex_wd(uint32_t x, LmsState* ctx) { return PutValue<true>(x, ctx); }
VekStatus vek_lms_set_mu_real_gen(LmsState* ctx, int32_t mu) { return SetMu<false>(ctx, mu); }
VekStatus vek_lms_set_mu_real_wd(LmsState* ctx, int32_t mu) { return SetMu<false>(ctx, mu); }
VekStatus vek_lms_set_mu_complex_gen(LmsState* ctx, int32_t mu) { return SetMu<true>(ctx, mu); }
VekStatus vek_lms_set_mu_complex_wd(LmsState* ctx, int32_t mu) { return SetMu<true>(ctx, mu); }
