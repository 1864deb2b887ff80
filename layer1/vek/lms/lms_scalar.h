// Scalar loops of the LMS family: the arithmetic every column must reproduce. Sums and tap corrections wrap
// at 32 bits (written on unsigned types so the wrap is defined).
#pragma once

#include <cstdint>

#include "layer1/vek/lms/lms_state.h"

namespace vek_lms {

// Column index of a variant: gen, mm (MMX), ss (SSE), wd (SSE2).
enum Column : int { kGen = 0, kMm = 1, kSs = 2, kWd = 3 };

inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

inline int16_t PackedRe(uint32_t s) { return static_cast<int16_t>(s & 0xFFFFu); }
inline int16_t PackedIm(uint32_t s) { return static_cast<int16_t>(s >> 16); }
inline uint32_t Pack(int16_t re, int16_t im) {
  return static_cast<uint32_t>(static_cast<uint16_t>(re)) | (static_cast<uint32_t>(static_cast<uint16_t>(im)) << 16);
}

// The 16-bit value a tap contributes to the filter: its high half.
inline int32_t TapHigh(int32_t tap) { return tap >> 16; }

// Correction gain from mu and an error: the product wraps at 32 bits as defined; the rounding add is done in
// 64 bits so that a product just below 2^31 rounds to +65536 instead of flipping sign.
inline int32_t RoundedGain(int32_t mu, int32_t error) {
  const int64_t g = WrapMul(mu, error);
  return static_cast<int32_t>((g + 16384) >> 15);
}

inline bool FitsKernel(int32_t g) { return g >= -32767 && g <= 32767; }

inline int32_t FilterRealScalar(const int32_t* taps, const int16_t* x, int32_t len, int32_t step) {
  uint32_t acc = 0;
  for (int32_t j = 0; j < len; ++j) {
    acc += static_cast<uint32_t>(TapHigh(taps[j]) * x[static_cast<int64_t>(j) * step]);
  }
  return static_cast<int32_t>(acc);
}

inline VekC32 FilterComplexScalar(const int32_t* taps, const uint32_t* x, int32_t len, int32_t step) {
  uint32_t re = 0;
  uint32_t im = 0;
  for (int32_t j = 0; j < len; ++j) {
    const int32_t tr = TapHigh(taps[2 * j]);
    const int32_t ti = TapHigh(taps[2 * j + 1]);
    const uint32_t s = x[static_cast<int64_t>(j) * step];
    const int32_t xr = PackedRe(s);
    const int32_t xi = PackedIm(s);
    re += static_cast<uint32_t>(tr * xr) - static_cast<uint32_t>(ti * xi);
    im += static_cast<uint32_t>(ti * xr) + static_cast<uint32_t>(tr * xi);
  }
  return VekC32{static_cast<int32_t>(re), static_cast<int32_t>(im)};
}

inline void UpdateRealScalar(int32_t* taps, const int16_t* x, int32_t len, int32_t step, int32_t g) {
  for (int32_t j = 0; j < len; ++j) {
    taps[j] = WrapAdd(taps[j], WrapMul(g, x[static_cast<int64_t>(j) * step]));
  }
}

// The tap moves by g times the conjugate of the sample.
inline void UpdateComplexScalar(int32_t* taps, const uint32_t* x, int32_t len, int32_t step, int32_t gr,
                                int32_t gi) {
  for (int32_t j = 0; j < len; ++j) {
    const uint32_t s = x[static_cast<int64_t>(j) * step];
    const int32_t xr = PackedRe(s);
    const int32_t xi = PackedIm(s);
    taps[2 * j] = WrapAdd(taps[2 * j], WrapAdd(WrapMul(gr, xr), WrapMul(gi, xi)));
    taps[2 * j + 1] = WrapAdd(taps[2 * j + 1], WrapSub(WrapMul(gi, xr), WrapMul(gr, xi)));
  }
}

// Windows of a context whose index sits after the newest sample: the filter window starts at
// index + updateDelay + step - 1, the update window (the filter window updateDelay samples earlier) at
// index + step - 1. Neither ever passes the end of the doubled line.
inline int64_t FilterStart(const LmsState* s) {
  return static_cast<int64_t>(s->index) + s->updateDelay + s->step - 1;
}
inline int64_t UpdateStart(const LmsState* s) { return static_cast<int64_t>(s->index) + s->step - 1; }

// Writes a sample into both copies of the line and advances the index.
template <typename Sample>
inline void PutSample(LmsState* s, Sample x) {
  Sample* line = static_cast<Sample*>(s->delayLine);
  line[s->index + s->delayLength] = x;
  line[s->index] = x;
  s->index = (s->index + 1 == s->delayLength) ? 0 : s->index + 1;
}

}  // namespace vek_lms
