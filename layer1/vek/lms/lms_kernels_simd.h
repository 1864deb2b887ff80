// The LMS inner loops written once over a vector type: the SSE2 kernels use 128-bit registers, the ss kernels
// 64-bit MMX registers. Both build 16-bit pairs and use the 16 x 16 multiply-and-add into 32-bit lanes, whose
// sums wrap exactly as the scalar 32-bit sums do, so every kernel equals the scalar loop bit for bit.
//
// A vector traits type T provides: V, kLanes (16-bit lanes per vector), Zero, Load<Aligned>, Store, Add32,
// Madd16, SraHigh (arithmetic shift right of 32-bit lanes by 16), SrlHigh (logical), Packs32, And,
// Set1, UnpackLo16/UnpackHi16, UnpackLo32/UnpackHi32, Even32 (lanes 0, 2, ... of two vectors of 32-bit
// lanes), SwapHalves (exchange the 16-bit halves of each 32-bit lane), HSum (wrapping sum of the 32-bit lanes),
// IsAligned and Done (leave the unit clean for floating-point code).
#pragma once

#include <cstdint>

#include "layer1/vek/lms/lms_scalar.h"

namespace vek_lms {

template <typename T>
struct SimdLms {
  using V = typename T::V;
  static constexpr int32_t W = T::kLanes;  // 16-bit lanes per vector
  static constexpr int32_t H = W / 2;      // 32-bit lanes per vector

  // The high halves of W consecutive taps, packed into one vector of 16-bit values.
  static V HighPairs(const int32_t* t) {
    return T::Packs32(T::SraHigh(T::template Load<false>(t)), T::SraHigh(T::template Load<false>(t + H)));
  }

  // Step 1: W taps meet W consecutive samples; two vectors per pass.
  template <bool Aligned>
  static int32_t FilterRealStep1(const int32_t* t, const int16_t* x, int32_t len, int32_t& j) {
    V acc0 = T::Zero();
    V acc1 = T::Zero();
    for (; j + 2 * W <= len; j += 2 * W) {
      acc0 = T::Add32(acc0, T::Madd16(HighPairs(t + j), T::template Load<Aligned>(x + j)));
      acc1 = T::Add32(acc1, T::Madd16(HighPairs(t + j + W), T::template Load<Aligned>(x + j + W)));
    }
    for (; j + W <= len; j += W) {
      acc0 = T::Add32(acc0, T::Madd16(HighPairs(t + j), T::template Load<false>(x + j)));
    }
    return T::HSum(T::Add32(acc0, acc1));
  }

  // Step 2: the pairs {tap high half, 0} meet consecutive samples, so every second sample is multiplied by 0.
  // A vector reads one sample past its last tap's sample, so the loop stops a tap short of the end.
  static int32_t FilterRealStep2(const int32_t* t, const int16_t* x, int32_t len, int32_t& j) {
    V acc0 = T::Zero();
    V acc1 = T::Zero();
    for (; j + 2 * H < len; j += 2 * H) {
      acc0 = T::Add32(acc0, T::Madd16(T::SrlHigh(T::template Load<false>(t + j)), T::template Load<false>(x + 2 * j)));
      acc1 = T::Add32(acc1, T::Madd16(T::SrlHigh(T::template Load<false>(t + j + H)),
                                      T::template Load<false>(x + 2 * j + W)));
    }
    for (; j + H < len; j += H) {
      acc0 = T::Add32(acc0, T::Madd16(T::SrlHigh(T::template Load<false>(t + j)), T::template Load<false>(x + 2 * j)));
    }
    return T::HSum(T::Add32(acc0, acc1));
  }

  // Any step: the samples are gathered one by one into a vector.
  static int32_t FilterRealGather(const int32_t* t, const int16_t* x, int32_t len, int32_t step, int32_t& j) {
    V acc = T::Zero();
    alignas(16) int16_t buf[W];
    for (; j + W <= len; j += W) {
      for (int32_t k = 0; k < W; ++k) buf[k] = x[static_cast<int64_t>(j + k) * step];
      acc = T::Add32(acc, T::Madd16(HighPairs(t + j), T::template Load<true>(buf)));
    }
    return T::HSum(acc);
  }

  static void FilterReal(const int32_t* t, const int16_t* x, int32_t len, int32_t step, int32_t* out) {
    int32_t j = 0;
    int32_t sum;
    if (step == 1) {
      sum = (T::IsAligned(x) && T::IsAligned(t)) ? FilterRealStep1<true>(t, x, len, j)
                                                 : FilterRealStep1<false>(t, x, len, j);
    } else if (step == 2 && T::Step2Allowed(x)) {
      sum = FilterRealStep2(t, x, len, j);
    } else {
      sum = FilterRealGather(t, x, len, step, j);
    }
    T::Done();
    const int64_t rest = static_cast<int64_t>(j) * step;
    *out = WrapAdd(sum, FilterRealScalar(t + j, x + rest, len - j, step));
  }

  // Tap j += g * x_j: each sample is paired with 0 and meets the pair {g, 0}.
  static void UpdateReal(int32_t* t, const int16_t* x, int32_t len, int32_t step, int32_t g) {
    const V gv = T::Set1(static_cast<int32_t>(static_cast<uint16_t>(g)));
    const V zero = T::Zero();
    int32_t j = 0;
    if (step == 1) {
      for (; j + W <= len; j += W) {
        const V xs = T::template Load<false>(x + j);
        T::Store(t + j, T::Add32(T::template Load<false>(t + j), T::Madd16(T::UnpackLo16(xs, zero), gv)));
        T::Store(t + j + H, T::Add32(T::template Load<false>(t + j + H), T::Madd16(T::UnpackHi16(xs, zero), gv)));
      }
    } else if (step == 2 && T::Step2Allowed(x)) {
      for (; j + H < len; j += H) {
        T::Store(t + j, T::Add32(T::template Load<false>(t + j), T::Madd16(T::template Load<false>(x + 2 * j), gv)));
      }
    } else {
      alignas(16) int16_t buf[W];
      for (; j + W <= len; j += W) {
        for (int32_t k = 0; k < W; ++k) buf[k] = x[static_cast<int64_t>(j + k) * step];
        const V xs = T::template Load<true>(buf);
        T::Store(t + j, T::Add32(T::template Load<false>(t + j), T::Madd16(T::UnpackLo16(xs, zero), gv)));
        T::Store(t + j + H, T::Add32(T::template Load<false>(t + j + H), T::Madd16(T::UnpackHi16(xs, zero), gv)));
      }
    }
    T::Done();
    UpdateRealScalar(t + j, x + static_cast<int64_t>(j) * step, len - j, step, g);
  }

  // H complex samples of the window starting at tap j, whatever the step.
  static V ComplexSamples(const uint32_t* x, int32_t j, int32_t step, uint32_t* buf) {
    if (step == 1) return T::template Load<false>(x + j);
    if (step == 2) return T::Even32(T::template Load<false>(x + 2 * j), T::template Load<false>(x + 2 * j + H));
    for (int32_t k = 0; k < H; ++k) buf[k] = x[static_cast<int64_t>(j + k) * step];
    return T::template Load<true>(buf);
  }

  // How many taps the vector loops of a complex kernel may take: at step 2 a vector reads one sample past
  // its last tap's sample.
  static int32_t ComplexVectorEnd(int32_t len, int32_t step) {
    const int32_t limit = (step == 2) ? len - 1 : len;
    return limit < H ? 0 : (limit / H) * H;
  }

  // The products tr*xr and ti*xi stay in separate lanes and are subtracted at the end, so no 16-bit value is
  // ever negated; {ti, tr} against {xr, xi} gives the imaginary part directly.
  static void FilterComplex(const int32_t* t, const uint32_t* x, int32_t len, int32_t step, VekC32* out) {
    const V lowMask = T::Set1(0x0000FFFF);
    const V highMask = T::Set1(static_cast<int32_t>(0xFFFF0000u));
    V accRr = T::Zero();
    V accIi = T::Zero();
    V accIm = T::Zero();
    alignas(16) uint32_t buf[H];
    const int32_t end = ComplexVectorEnd(len, step);
    int32_t j = 0;
    for (; j < end; j += H) {
      const V tp = HighPairs(t + 2 * j);
      const V xs = ComplexSamples(x, j, step, buf);
      accRr = T::Add32(accRr, T::Madd16(T::And(tp, lowMask), xs));
      accIi = T::Add32(accIi, T::Madd16(T::And(tp, highMask), xs));
      accIm = T::Add32(accIm, T::Madd16(T::SwapHalves(tp), xs));
    }
    const int32_t re = WrapSub(T::HSum(accRr), T::HSum(accIi));
    const int32_t im = T::HSum(accIm);
    T::Done();
    const VekC32 rest = FilterComplexScalar(t + 2 * j, x + static_cast<int64_t>(j) * step, len - j, step);
    out->re = WrapAdd(re, rest.re);
    out->im = WrapAdd(im, rest.im);
  }

  // tap.re += gr*xr + gi*xi and tap.im += gi*xr + (-gr)*xi: two multiply-and-adds of the packed samples
  // against {gr, gi} and {gi, -gr}; -gr is safe in 16 bits because |gr| <= 32767.
  static void UpdateComplex(int32_t* t, const uint32_t* x, int32_t len, int32_t step, int32_t gr, int32_t gi) {
    const V g1 = T::Set1(static_cast<int32_t>(Pack(static_cast<int16_t>(gr), static_cast<int16_t>(gi))));
    const V g2 = T::Set1(static_cast<int32_t>(Pack(static_cast<int16_t>(gi), static_cast<int16_t>(-gr))));
    alignas(16) uint32_t buf[H];
    const int32_t end = ComplexVectorEnd(len, step);
    int32_t j = 0;
    for (; j < end; j += H) {
      const V xs = ComplexSamples(x, j, step, buf);
      const V re = T::Madd16(xs, g1);
      const V im = T::Madd16(xs, g2);
      T::Store(t + 2 * j, T::Add32(T::template Load<false>(t + 2 * j), T::UnpackLo32(re, im)));
      T::Store(t + 2 * j + H, T::Add32(T::template Load<false>(t + 2 * j + H), T::UnpackHi32(re, im)));
    }
    T::Done();
    UpdateComplexScalar(t + 2 * j, x + static_cast<int64_t>(j) * step, len - j, step, gr, gi);
  }
};

}  // namespace vek_lms
