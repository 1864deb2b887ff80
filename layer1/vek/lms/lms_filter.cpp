// LMS filtering and adaptation entry points of every column. The checks, the put, the window positions and
// the rounding of mu x error are common; ss and wd hand the inner loop to their kernels, gen and mm run the
// scalar loop. The update kernels need a gain that fits in 16 bits; larger gains take the scalar loop.
#include "layer1/vek/lms/lms_scalar.h"
#include "layer1/vek/lms/lms_state.h"

namespace vek_lms {
namespace {

const int16_t* RealLine(const LmsState* s) { return static_cast<const int16_t*>(s->delayLine); }
const uint32_t* ComplexLine(const LmsState* s) { return static_cast<const uint32_t*>(s->delayLine); }

template <int Col>
void FilterRealWindow(const LmsState* s, int32_t* out) {
  const int16_t* x = RealLine(s) + FilterStart(s);
  if constexpr (Col == kWd) {
    vek_lms_filter_kernel(s->taps, x, s->tapsLength, s->step, out);
  } else if constexpr (Col == kSs) {
    vek_lms_filter_kernel_ss(s->taps, x, s->tapsLength, s->step, out);
  } else {
    *out = FilterRealScalar(s->taps, x, s->tapsLength, s->step);
  }
}

template <int Col>
void FilterComplexWindow(const LmsState* s, VekC32* out) {
  const uint32_t* x = ComplexLine(s) + FilterStart(s);
  if constexpr (Col == kWd) {
    vek_lms_filter_kernel_complex(s->taps, x, s->tapsLength, s->step, out);
  } else if constexpr (Col == kSs) {
    vek_lms_filter_kernel_complex_ss(s->taps, x, s->tapsLength, s->step, out);
  } else {
    *out = FilterComplexScalar(s->taps, x, s->tapsLength, s->step);
  }
}

template <int Col>
VekStatus FilterReal(int32_t* out, const LmsState* s) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindReal) return VEK_ERR_CONTEXT_MISMATCH;
  FilterRealWindow<Col>(s, out);
  return VEK_OK;
}

template <int Col>
VekStatus PutFilterReal(int16_t x, int32_t* out, LmsState* s) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindReal) return VEK_ERR_CONTEXT_MISMATCH;
  PutSample(s, x);
  FilterRealWindow<Col>(s, out);
  return VEK_OK;
}

template <int Col>
VekStatus FilterComplex(VekC32* out, const LmsState* s) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindComplex) return VEK_ERR_CONTEXT_MISMATCH;
  FilterComplexWindow<Col>(s, out);
  return VEK_OK;
}

template <int Col>
VekStatus PutFilterComplex(VekC16 x, VekC32* out, LmsState* s) {
  if (s == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindComplex) return VEK_ERR_CONTEXT_MISMATCH;
  PutSample(s, Pack(x.re, x.im));
  FilterComplexWindow<Col>(s, out);
  return VEK_OK;
}

template <int Col>
VekStatus UpdateReal(int32_t error, LmsState* s) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindReal) return VEK_ERR_CONTEXT_MISMATCH;
  const int32_t g = RoundedGain(s->mu, error);
  const int16_t* x = RealLine(s) + UpdateStart(s);
  if (Col == kWd && FitsKernel(g)) {
    vek_lms_update_kernel(s->taps, x, s->tapsLength, s->step, g);
  } else if (Col == kSs && FitsKernel(g)) {
    vek_lms_update_kernel_ss(s->taps, x, s->tapsLength, s->step, g);
  } else {
    UpdateRealScalar(s->taps, x, s->tapsLength, s->step, g);
  }
  return VEK_OK;
}

template <int Col>
VekStatus UpdateComplex(int32_t errorRe, int32_t errorIm, LmsState* s) {
  if (s == nullptr) return VEK_ERR_NULL_POINTER;
  if (s->kind != kLmsKindComplex) return VEK_ERR_CONTEXT_MISMATCH;
  const int32_t gr = RoundedGain(s->mu, errorRe);
  const int32_t gi = RoundedGain(s->mu, errorIm);
  const uint32_t* x = ComplexLine(s) + UpdateStart(s);
  const bool fits = FitsKernel(gr) && FitsKernel(gi);
  if (Col == kWd && fits) {
    vek_lms_update_kernel_complex(s->taps, x, s->tapsLength, s->step, gr, gi);
  } else if (Col == kSs && fits) {
    vek_lms_update_kernel_complex_ss(s->taps, x, s->tapsLength, s->step, gr, gi);
  } else {
    UpdateComplexScalar(s->taps, x, s->tapsLength, s->step, gr, gi);
  }
  return VEK_OK;
}

}  // namespace
}  // namespace vek_lms

using namespace vek_lms;

#define VEK_LMS_FILTER_COLUMN(col, id)                                                                      \
  VekStatus vek_lms_filter_real_##col(int32_t* out, const LmsState* ctx) { return FilterReal<id>(out, ctx); }    \
  VekStatus vek_lms_put_filter_real_##col(int16_t x, int32_t* out, LmsState* ctx) {                        \
    return PutFilterReal<id>(x, out, ctx);                                                                 \
  }                                                                                                        \
  VekStatus vek_lms_filter_complex_##col(VekC32* out, const LmsState* ctx) {                                 \
    return FilterComplex<id>(out, ctx);                                                                    \
  }                                                                                                        \
  VekStatus vek_lms_put_filter_complex_##col(VekC16 x, VekC32* out, LmsState* ctx) {                 \
    return PutFilterComplex<id>(x, out, ctx);                                                              \
  }                                                                                                        \
  VekStatus vek_lms_update_real_##col(int32_t error, LmsState* ctx) { return UpdateReal<id>(error, ctx); } \
  VekStatus vek_lms_update_complex_##col(int32_t errorRe, int32_t errorIm, LmsState* ctx) {                \
    return UpdateComplex<id>(errorRe, errorIm, ctx);                                                       \
  }

VEK_LMS_FILTER_COLUMN(gen, kGen)
VEK_LMS_FILTER_COLUMN(mm, kMm)
VEK_LMS_FILTER_COLUMN(ss, kSs)
VEK_LMS_FILTER_COLUMN(wd, kWd)
#undef VEK_LMS_FILTER_COLUMN
