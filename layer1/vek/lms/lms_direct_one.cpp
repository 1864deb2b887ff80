// One-sample normalised LMS without a context: the caller owns L taps (its own order, all 32 bits used), a
// doubled delay line of 2L samples and the write index. gen and mm work in integers, ss and wd share one
// extended-precision floating-point kernel.
#include <cmath>
#include <cstdint>
#include <limits>

#include "layer1/vek/lms/lms_state.h"

namespace vek_lms {
namespace {

using Int128 = __int128;

VekStatus CheckDirectOne(const int16_t* y, const int32_t* taps, int32_t len, const int16_t* delay,
                         const int32_t* index) {
  if (taps == nullptr || delay == nullptr || index == nullptr || y == nullptr) return VEK_ERR_NULL_POINTER;
  if (len <= 0) return VEK_ERR_SIZE;
  if (*index < 0 || *index >= len) return VEK_ERR_DELAY_INDEX;
  return VEK_OK;
}

// Writes x into both copies of the line, advances the index and returns the window, oldest sample first.
const int16_t* PutDirect(int16_t x, int32_t len, int16_t* delay, int32_t* index) {
  int32_t idx = *index;
  delay[idx + len] = x;
  delay[idx] = x;
  idx = (idx + 1 == len) ? 0 : idx + 1;
  *index = idx;
  return delay + idx;
}

template <typename Wide>
int32_t Saturate32(Wide v) {
  if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

int16_t Saturate16(Int128 v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

// Integer form. Every intermediate is exact: the tap products (48 bits) and their sum in 128 bits, the output
// rounded half to even, the error times mu times a sample in 128 bits, the correction truncated toward zero.
void DirectOneInteger(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                      int16_t* delay, int32_t* index) {
  const int16_t* w = PutDirect(x, len, delay, index);
  Int128 acc = 0;
  int64_t energy = 0;
  for (int32_t i = 0; i < len; ++i) {
    acc += static_cast<int64_t>(taps[i]) * w[i];
    energy += static_cast<int64_t>(w[i]) * w[i];
  }
  const Int128 out = (acc + ((acc >> 15) & 1) + 16383) >> 15;
  *y = Saturate16(out);
  if (energy == 0) return;
  const Int128 g = (static_cast<Int128>(desired) - out) * mu;
  for (int32_t i = 0; i < len; ++i) {
    const Int128 t = (g * w[i]) / energy;
    taps[i] = Saturate32(static_cast<Int128>(taps[i]) + t);
  }
}

// Rounds in the current rounding mode and saturates to 32 bits.
int32_t RoundSaturate32(long double v) {
  if (v >= 2147483648.0L) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483649.0L) return std::numeric_limits<int32_t>::min();
  return Saturate32(std::llrint(v));
}

template <int Col>
VekStatus DirectOne(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                    int16_t* delay, int32_t* index) {
  const VekStatus st = CheckDirectOne(y, taps, len, delay, index);
  if (st != VEK_OK) return st;
  if constexpr (Col == 2 || Col == 3) {
    vek_lms_direct_one_kernel(x, desired, y, taps, len, mu, delay, index);
  } else {
    DirectOneInteger(x, desired, y, taps, len, mu, delay, index);
  }
  return VEK_OK;
}

}  // namespace
}  // namespace vek_lms

// Floating-point form: sums in extended precision, the output clamped as a floating value and rounded in the
// current rounding mode; the error uses the clamped, unrounded output; the step is rounded to double; each new
// tap is rounded in the current mode and saturated.
void vek_lms_direct_one_kernel(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                               int16_t* delay, int32_t* index) {
  const int16_t* w = vek_lms::PutDirect(x, len, delay, index);
  long double acc = 0.0L;
  long double energy = 0.0L;
  for (int32_t i = 0; i < len; ++i) {
    acc += static_cast<long double>(taps[i]) * w[i];
    energy += static_cast<long double>(w[i]) * w[i];
  }
  long double out = acc / 32768.0L;
  if (out < -32768.0L) out = -32768.0L;
  if (out > 32767.0L) out = 32767.0L;
  *y = static_cast<int16_t>(std::llrint(out));
  if (energy == 0.0L) return;
  const double f = static_cast<double>((static_cast<long double>(desired) - out) * mu / energy);
  for (int32_t i = 0; i < len; ++i) {
    taps[i] = vek_lms::RoundSaturate32(static_cast<long double>(taps[i]) + static_cast<long double>(f) * w[i]);
  }
}

VekStatus vek_lms_direct_one_gen(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                                 int16_t* delay, int32_t* index) {
  return vek_lms::DirectOne<0>(x, desired, y, taps, len, mu, delay, index);
}
VekStatus vek_lms_direct_one_mm(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                                int16_t* delay, int32_t* index) {
  return vek_lms::DirectOne<1>(x, desired, y, taps, len, mu, delay, index);
}
VekStatus vek_lms_direct_one_ss(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                                int16_t* delay, int32_t* index) {
  return vek_lms::DirectOne<2>(x, desired, y, taps, len, mu, delay, index);
}
VekStatus vek_lms_direct_one_wd(int16_t x, int16_t desired, int16_t* y, int32_t* taps, int32_t len, int32_t mu,
                                int16_t* delay, int32_t* index) {
  return vek_lms::DirectOne<3>(x, desired, y, taps, len, mu, delay, index);
}
