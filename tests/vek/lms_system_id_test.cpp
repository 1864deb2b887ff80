// System identification: an LMS filter learns an unknown echo path from its input and output, with the
// delayed update pipeline a data pump uses. The residual must fall by at least 30 dB in every column.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "lms_columns.h"

namespace {

class LmsSystemId : public ::testing::TestWithParam<int> {};

double Db(double ratio) { return 10.0 * std::log10(ratio); }

// Complex path of 48 taps (the echo-canceller shape: step 1, update delay 1).
TEST_P(LmsSystemId, ComplexEchoPathConverges) {
  const LmsColumnFns& f = kLmsColumns[GetParam()];
  constexpr int32_t kTaps = 48;
  constexpr int32_t kDelay = 1;
  std::mt19937 rng(17);
  std::vector<int32_t> hr(kTaps), hi(kTaps);
  for (int k = 0; k < kTaps; ++k) {
    const double env = 3000.0 * std::exp(-k / 10.0);
    hr[k] = static_cast<int32_t>(env * std::cos(0.7 * k));
    hi[k] = static_cast<int32_t>(env * std::sin(0.7 * k));
  }
  LmsState* ctx = nullptr;
  ASSERT_EQ(f.initComplex(&ctx, nullptr, kTaps, nullptr, 0, 1, kDelay, 12000), VEK_OK);
  std::vector<int32_t> xr(kTaps, 0), xi(kTaps, 0);  // newest first
  std::deque<std::pair<int32_t, int32_t>> pending;
  double first = 0, last = 0;
  constexpr int kSymbols = 6000;
  for (int n = 0; n < kSymbols; ++n) {
    const int16_t sr = static_cast<int16_t>((rng() & 1) ? 8192 : -8192);
    const int16_t si = static_cast<int16_t>((rng() & 1) ? 8192 : -8192);
    xr.insert(xr.begin(), sr);
    xi.insert(xi.begin(), si);
    xr.pop_back();
    xi.pop_back();
    int64_t dr = 0, di = 0;
    for (int k = 0; k < kTaps; ++k) {
      dr += static_cast<int64_t>(hr[k]) * xr[k] - static_cast<int64_t>(hi[k]) * xi[k];
      di += static_cast<int64_t>(hi[k]) * xr[k] + static_cast<int64_t>(hr[k]) * xi[k];
    }
    VekC32 y{};
    ASSERT_EQ(f.putFilterComplex(VekC16{sr, si}, &y, ctx), VEK_OK);
    const double er = static_cast<double>(dr - y.re), ei = static_cast<double>(di - y.im);
    const double p = er * er + ei * ei;
    if (n < 200) first += p;
    if (n >= kSymbols - 200) last += p;
    // The error of this output meets its window after updateDelay more puts.
    pending.emplace_back(static_cast<int32_t>((dr - y.re) >> 16), static_cast<int32_t>((di - y.im) >> 16));
    if (static_cast<int32_t>(pending.size()) > kDelay) {
      ASSERT_EQ(f.updateComplex(pending.front().first, pending.front().second, ctx), VEK_OK);
      pending.pop_front();
    }
  }
  f.free(ctx);
  RecordProperty("reduction_db", static_cast<int>(Db(first / last)));
  EXPECT_GE(Db(first / last), 30.0) << f.name;
}

// Real path of 60 taps with update delay 2 (the jitter predictor's shape).
TEST_P(LmsSystemId, RealPathConverges) {
  const LmsColumnFns& f = kLmsColumns[GetParam()];
  constexpr int32_t kTaps = 60;
  constexpr int32_t kDelay = 2;
  std::mt19937 rng(3);
  std::vector<int32_t> h(kTaps);
  for (int k = 0; k < kTaps; ++k) h[k] = static_cast<int32_t>(4000.0 * std::exp(-k / 12.0) * std::cos(0.4 * k));
  LmsState* ctx = nullptr;
  ASSERT_EQ(f.initReal(&ctx, nullptr, kTaps, nullptr, 0, 1, kDelay, 9000), VEK_OK);
  std::vector<int32_t> x(kTaps, 0);
  std::deque<int32_t> errors;
  double first = 0, last = 0;
  constexpr int kSamples = 8000;
  for (int n = 0; n < kSamples; ++n) {
    const int16_t s = static_cast<int16_t>(static_cast<int32_t>(rng() % 16384) - 8192);
    x.insert(x.begin(), s);
    x.pop_back();
    int64_t d = 0;
    for (int k = 0; k < kTaps; ++k) d += static_cast<int64_t>(h[k]) * x[k];
    int32_t y = 0;
    ASSERT_EQ(f.putFilterReal(s, &y, ctx), VEK_OK);
    const double e = static_cast<double>(d - y);
    if (n < 200) first += e * e;
    if (n >= kSamples - 200) last += e * e;
    errors.push_back(static_cast<int32_t>((d - y) >> 16));
    if (static_cast<int32_t>(errors.size()) > kDelay) {
      ASSERT_EQ(f.updateReal(errors.front(), ctx), VEK_OK);
      errors.pop_front();
    }
  }
  f.free(ctx);
  RecordProperty("reduction_db", static_cast<int>(Db(first / last)));
  EXPECT_GE(Db(first / last), 30.0) << f.name;
}

INSTANTIATE_TEST_SUITE_P(Columns, LmsSystemId, ::testing::Range(0, 4),
                         [](const auto& info) { return std::string(kLmsColumns[info.param].name); });

}  // namespace
