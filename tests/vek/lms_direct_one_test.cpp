// The one-sample normalised LMS in every column: checks, a worked example of each form (gen and mm truncate
// the correction, ss and wd round the new tap), zero energy, saturation, and exact wide intermediates.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "lms_columns.h"

namespace {

class LmsDirectOne : public ::testing::TestWithParam<int> {
 protected:
  const LmsColumnFns& F() const { return kLmsColumns[GetParam()]; }
  bool FloatForm() const { return GetParam() >= 2; }
};

TEST_P(LmsDirectOne, ChecksWriteNothing) {
  int32_t taps[3] = {1, 2, 3};
  int16_t delay[6] = {4, 4, 4, 4, 4, 4};
  int32_t index = 0;
  int16_t y = 99;
  struct Case {
    bool nullTaps, nullDelay, nullIndex, nullY;
    int32_t len, index;
    VekStatus want;
  };
  const Case cases[] = {
      {true, false, false, false, 3, 0, VEK_ERR_NULL_POINTER},  {false, true, false, false, 3, 0, VEK_ERR_NULL_POINTER},
      {false, false, true, false, 3, 0, VEK_ERR_NULL_POINTER},  {false, false, false, true, 3, 0, VEK_ERR_NULL_POINTER},
      {true, false, false, false, 0, 9, VEK_ERR_NULL_POINTER},  {false, false, false, false, 0, 9, VEK_ERR_SIZE},
      {false, false, false, false, -2, 0, VEK_ERR_SIZE},        {false, false, false, false, 3, 3, VEK_ERR_DELAY_INDEX},
      {false, false, false, false, 3, -1, VEK_ERR_DELAY_INDEX},
  };
  for (const Case& c : cases) {
    index = c.index;
    const VekStatus st = F().directOne(1000, 1000, c.nullY ? nullptr : &y, c.nullTaps ? nullptr : taps, c.len, 16384,
                                       c.nullDelay ? nullptr : delay, c.nullIndex ? nullptr : &index);
    EXPECT_EQ(st, c.want);
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(y, 99);
    EXPECT_EQ(taps[0] + taps[1] + taps[2], 6);
    for (int16_t d : delay) EXPECT_EQ(d, 4);
  }
}

// Two taps of 1.0 (Q15); after two samples the forms differ only in how the correction is turned into an
// integer: truncation toward zero (gen, mm) or rounding of the new tap (ss, wd).
TEST_P(LmsDirectOne, WorkedExample) {
  int32_t taps[2] = {32768, 0};
  int16_t delay[4] = {};
  int32_t index = 0;
  int16_t y = -1;
  ASSERT_EQ(F().directOne(100, 200, &y, taps, 2, 16384, delay, &index), VEK_OK);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(taps[0], 32768);
  EXPECT_EQ(taps[1], 32768);  // 200 * 16384 * 100 / 10000 = 32768 exactly
  ASSERT_EQ(F().directOne(50, 0, &y, taps, 2, 16384, delay, &index), VEK_OK);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(y, 150);
  // Corrections -19660.8 and -9830.4.
  EXPECT_EQ(taps[0], FloatForm() ? 13107 : 13108);
  EXPECT_EQ(taps[1], 22938);
}

TEST_P(LmsDirectOne, ZeroEnergyLeavesTapsUnchanged) {
  int32_t taps[4] = {5, -6, 7, INT32_MIN};
  int16_t delay[8] = {};
  int32_t index = 3;
  int16_t y = 1;
  ASSERT_EQ(F().directOne(0, 1234, &y, taps, 4, 30000, delay, &index), VEK_OK);
  EXPECT_EQ(y, 0);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(taps[0], 5);
  EXPECT_EQ(taps[1], -6);
  EXPECT_EQ(taps[2], 7);
  EXPECT_EQ(taps[3], INT32_MIN);
}

// A correction that passes 2^31 - 1 (or -2^31) stores the bound, in every column.
TEST_P(LmsDirectOne, TapsSaturate) {
  for (int sign : {1, -1}) {
    int32_t taps[2] = {sign * -(1 << 21), sign * (INT32_MAX - 100)};
    int16_t delay[4] = {0, 1000, 0, 1000};  // the put writes x at index 0 and 2
    int32_t index = 0;
    int16_t y = 0;
    ASSERT_EQ(F().directOne(1, static_cast<int16_t>(sign > 0 ? 32767 : -32768), &y, taps, 2, INT32_MAX, delay, &index),
              VEK_OK);
    EXPECT_EQ(taps[0], sign > 0 ? INT32_MAX : INT32_MIN);
    EXPECT_EQ(taps[1], sign > 0 ? INT32_MAX : INT32_MIN);
  }
}

// Products of a tap and a sample need 48 bits: a tap of 2^20 against 4096 gives 2^32, an output far above
// 32767 (a 32-bit product would wrap to 0).
TEST_P(LmsDirectOne, IntermediatesAreExact) {
  int32_t taps[1] = {1 << 20};
  int16_t delay[2] = {};
  int32_t index = 0;
  int16_t y = 0;
  ASSERT_EQ(F().directOne(4096, 0, &y, taps, 1, 1, delay, &index), VEK_OK);
  EXPECT_EQ(y, 32767);
  // Integer form: e = -131072, correction -131072 * 4096 / 2^24 = -32; the float form takes e from the clamped
  // output, -32767 * 4096 / 2^24 = -7.9998, rounded.
  EXPECT_EQ(taps[0], FloatForm() ? (1 << 20) - 8 : (1 << 20) - 32);

  // Error times mu times sample is about 2^77 in the integer form (beyond 64 bits): the tap saturates. The
  // float form takes its error from the clamped output -32768 and lands exactly on 0.
  taps[0] = INT32_MAX;
  index = 0;
  ASSERT_EQ(F().directOne(-32768, 0, &y, taps, 1, INT32_MAX, delay, &index), VEK_OK);
  EXPECT_EQ(y, -32768);
  EXPECT_EQ(taps[0], FloatForm() ? 0 : INT32_MIN);
}

// Away from halves and clamps, the two forms agree to one unit per tap and exactly on the output.
TEST_P(LmsDirectOne, AgreesWithTheOtherFormWithinOneUnit) {
  std::mt19937 rng(11);
  constexpr int32_t kLen = 16;
  std::vector<int32_t> mine(kLen), gen(kLen);
  for (int32_t k = 0; k < kLen; ++k) mine[k] = gen[k] = static_cast<int32_t>(rng() % 8000) - 4000;
  std::vector<int16_t> dm(2 * kLen, 0), dg(2 * kLen, 0);
  int32_t im = 0, ig = 0;
  for (int n = 0; n < 200; ++n) {
    const int16_t x = static_cast<int16_t>(static_cast<int32_t>(rng() % 8000) - 4000);
    const int16_t d = static_cast<int16_t>(static_cast<int32_t>(rng() % 8000) - 4000);
    int16_t ym = 0, yg = 0;
    std::vector<int32_t> before = gen;
    ASSERT_EQ(F().directOne(x, d, &ym, mine.data(), kLen, 300, dm.data(), &im), VEK_OK);
    ASSERT_EQ(vek_lms_direct_one_gen(x, d, &yg, gen.data(), kLen, 300, dg.data(), &ig), VEK_OK);
    EXPECT_NEAR(ym, yg, 1);
    for (int32_t k = 0; k < kLen; ++k) ASSERT_NEAR(mine[k], gen[k], 1) << "n " << n << " k " << k;
    mine = gen;  // keep the two runs on the same taps
    EXPECT_EQ(dm, dg);
    EXPECT_EQ(im, ig);
  }
}

INSTANTIATE_TEST_SUITE_P(Columns, LmsDirectOne, ::testing::Range(0, 4),
                         [](const auto& info) { return std::string(kLmsColumns[info.param].name); });

// The MMX kernels leave the x87 unit empty, and no LMS function changes a rounding or precision mode.
TEST(LmsFpState, UnchangedByEveryColumn) {
  const vektest::FpState before = vektest::FpState::capture();
  for (const LmsColumnFns& f : kLmsColumns) {
    LmsState* r = nullptr;
    LmsState* c = nullptr;
    ASSERT_EQ(f.initReal(&r, nullptr, 60, nullptr, 0, 1, 2, 100), VEK_OK);
    ASSERT_EQ(f.initComplex(&c, nullptr, 72, nullptr, 0, 2, 6, 100), VEK_OK);
    int32_t out = 0;
    VekC32 pair{};
    for (int i = 0; i < 10; ++i) {
      f.putFilterReal(static_cast<int16_t>(i * 1000), &out, r);
      f.updateReal(1000, r);
      f.putFilterComplex(ToC16(static_cast<uint32_t>(i) * 0x10001000u), &pair, c);
      f.updateComplex(1000, -1000, c);
    }
    f.free(r);
    f.free(c);
    int32_t taps[4] = {};
    int16_t delay[8] = {};
    int32_t index = 0;
    int16_t y = 0;
    f.directOne(3, 4, &y, taps, 4, 100, delay, &index);
    const vektest::FpState after = vektest::FpState::capture();
    EXPECT_TRUE(after == before) << f.name;
    EXPECT_EQ(after.x87Tags, 0xFFFF) << f.name;
  }
}

}  // namespace
