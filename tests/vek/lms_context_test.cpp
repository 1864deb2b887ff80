// LMS contexts: argument checks, the edge cases of the filter and update arithmetic, history save and
// restore, and the contexts the data pump creates at setup. Each test runs on every column.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "lms_columns.h"

namespace {

class LmsColumn : public ::testing::TestWithParam<int> {
 protected:
  const LmsColumnFns& F() const { return kLmsColumns[GetParam()]; }
};

LmsState* const kUntouched = reinterpret_cast<LmsState*>(static_cast<uintptr_t>(0x5A5A5A50));

struct InitCase {
  int32_t len, step, updateDelay, index;
  VekStatus want;
};

TEST_P(LmsColumn, CreationChecksSizesAndAllocatesNothingOnError) {
  const InitCase cases[] = {
      {60, 1, 2, 0, VEK_OK},         {60, 1, 2, 61, VEK_OK},          {60, 1, 2, 62, VEK_ERR_SIZE},  // index = D
      {60, 0, 2, 0, VEK_ERR_SIZE},   {0, 1, 2, 0, VEK_ERR_SIZE},      {-1, 1, 2, 0, VEK_ERR_SIZE},
      {60, -1, 2, 0, VEK_ERR_SIZE},  {60, 1, 2, -1, VEK_ERR_SIZE},    {4, 1, -1, 0, VEK_ERR_SIZE},   // negative delay
      {1, 1, 0, 0, VEK_OK},          {0x40000000, 2, 0, 0, VEK_ERR_SIZE},                          // D overflows
      {2, 0x7FFFFFFF, 0, 0, VEK_ERR_SIZE},
  };
  for (const InitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "L " << c.len << " step " << c.step << " ud " << c.updateDelay << " index "
                                    << c.index);
    for (bool complex : {false, true}) {
      LmsState* ctx = kUntouched;
      const int64_t requests = vek_pool_requests();
      const VekStatus st = complex ? F().initComplex(&ctx, nullptr, c.len, nullptr, c.index, c.step, c.updateDelay, 0)
                                   : F().initReal(&ctx, nullptr, c.len, nullptr, c.index, c.step, c.updateDelay, 0);
      EXPECT_EQ(st, c.want);
      if (st == VEK_OK) {
        EXPECT_EQ(ctx->kind, complex ? kLmsKindComplex : kLmsKindReal);
        EXPECT_EQ(ctx->delayLength, c.updateDelay + c.len * c.step);
        EXPECT_EQ(F().free(ctx), VEK_OK);
      } else {
        EXPECT_EQ(ctx, kUntouched);
        EXPECT_EQ(vek_pool_requests(), requests);  // nothing allocated
      }
    }
  }
  EXPECT_EQ(F().initReal(nullptr, nullptr, 4, nullptr, 0, 1, 0, 0), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().initComplex(nullptr, nullptr, 0, nullptr, 0, 0, 0, 0), VEK_ERR_NULL_POINTER);
}

TEST_P(LmsColumn, NullPointersAndKindsAreCheckedInOrder) {
  LmsState* real = nullptr;
  LmsState* cplx = nullptr;
  ASSERT_EQ(F().initReal(&real, nullptr, 4, nullptr, 0, 1, 1, 0), VEK_OK);
  ASSERT_EQ(F().initComplex(&cplx, nullptr, 4, nullptr, 0, 1, 1, 0), VEK_OK);
  int32_t out = 7;
  VekC32 pair{7, 7};
  int32_t taps[4] = {};
  VekC32 ptaps[4] = {};
  int16_t hist[8] = {};
  VekC16 phist[8] = {};
  int32_t index = 0;
  int32_t* ptr = nullptr;
  int16_t value[2] = {};
  VekC16 cvalue{};

  EXPECT_EQ(F().filterReal(nullptr, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().filterReal(&out, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().filterReal(nullptr, cplx), VEK_ERR_NULL_POINTER);  // output before kind
  EXPECT_EQ(F().filterReal(&out, cplx), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().putFilterReal(1, nullptr, real), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().putFilterReal(1, &out, cplx), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().filterComplex(&pair, real), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().putFilterComplex(VekC16{1, 0}, nullptr, cplx), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().putFilterComplex(VekC16{1, 0}, &pair, real), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(out, 7);
  EXPECT_EQ(pair.re, 7);
  EXPECT_EQ(F().putReal(1, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().putReal(1, cplx), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().putComplex(VekC16{1, 0}, real), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().updateReal(1, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().updateReal(1, cplx), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().updateComplex(1, 1, real), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().setMuReal(nullptr, 1), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().setMuReal(cplx, 1), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().setMuComplex(real, 1), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().setTapsReal(nullptr, taps), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().setTapsReal(cplx, taps), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().setTapsComplex(real, ptaps), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getTapsReal(real, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getTapsReal(cplx, taps), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getTapsComplex(real, ptaps), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getTapsPtr(real, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getTapsPtr(nullptr, &ptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getTapsPtr(cplx, &ptr), VEK_OK);  // no kind check: one function for both kinds
  EXPECT_EQ(ptr, cplx->taps);
  EXPECT_EQ(F().setDelayReal(nullptr, hist, 0), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().setDelayReal(cplx, hist, 0), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().setDelayComplex(real, phist, 0), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getDelayReal(real, hist, nullptr), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getDelayReal(real, nullptr, &index), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getDelayReal(cplx, hist, &index), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getDelayComplex(real, phist, &index), VEK_ERR_CONTEXT_MISMATCH);
  EXPECT_EQ(F().getDelayValueReal(real, nullptr, 0), VEK_ERR_NULL_POINTER);
  EXPECT_EQ(F().getDelayValueReal(cplx, value, 99), VEK_ERR_CONTEXT_MISMATCH);  // kind before k
  EXPECT_EQ(F().getDelayValueComplex(real, &cvalue, 0), VEK_ERR_CONTEXT_MISMATCH);
  // The free function takes either kind.
  EXPECT_EQ(F().free(cplx), VEK_OK);
  EXPECT_EQ(F().free(real), VEK_OK);
  EXPECT_EQ(F().free(nullptr), VEK_OK);
}

// taps in the caller's order; get returns them unchanged, the record holds them reversed.
TEST_P(LmsColumn, TapsRoundTripAndAreStoredReversed) {
  const int32_t taps[3] = {0x00010000, 0x7FFF0001, static_cast<int32_t>(0x80000002u)};
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, taps, 3, nullptr, 0, 1, 0, 0), VEK_OK);
  int32_t back[3] = {};
  ASSERT_EQ(F().getTapsReal(ctx, back), VEK_OK);
  EXPECT_EQ(std::vector<int32_t>(back, back + 3), std::vector<int32_t>(taps, taps + 3));
  int32_t* stored = nullptr;
  ASSERT_EQ(F().getTapsPtr(ctx, &stored), VEK_OK);
  EXPECT_EQ(stored[0], taps[2]);
  EXPECT_EQ(stored[2], taps[0]);
  ASSERT_EQ(F().setTapsReal(ctx, nullptr), VEK_OK);
  ASSERT_EQ(F().getTapsReal(ctx, back), VEK_OK);
  EXPECT_EQ(back[0] | back[1] | back[2], 0);
  F().free(ctx);

  const VekC32 ptaps[2] = {{1, 2}, {3, 4}};
  ASSERT_EQ(F().initComplex(&ctx, nullptr, 2, nullptr, 0, 1, 0, 0), VEK_OK);
  ASSERT_EQ(F().setTapsComplex(ctx, ptaps), VEK_OK);
  VekC32 pback[2] = {};
  ASSERT_EQ(F().getTapsComplex(ctx, pback), VEK_OK);
  EXPECT_EQ(pback[0].re, 1);
  EXPECT_EQ(pback[0].im, 2);
  EXPECT_EQ(pback[1].re, 3);
  EXPECT_EQ(pback[1].im, 4);
  F().free(ctx);
}

// Caller arrays may sit at any byte offset: taps and history go in and come back unchanged, and nothing
// outside the destination is written.
TEST_P(LmsColumn, CallerArraysAtAnyOffset) {
  for (bool complex : {false, true}) {
    const int32_t len = 13;
    const int32_t d = 2 + len;  // update delay 2, step 1
    const size_t tapBytes = len * (complex ? 8 : 4);
    const size_t lineBytes = d * (complex ? 4 : 2);
    for (size_t off = 0; off < 8; ++off) {
      vektest::GuardedBuffer taps(tapBytes, off), line(lineBytes, off), tapsOut(tapBytes, off), lineOut(lineBytes, off);
      taps.fill_random(static_cast<uint32_t>(off));
      line.fill_random(static_cast<uint32_t>(off + 100));
      LmsState* ctx = nullptr;
      const VekStatus st =
          complex ? F().initComplex(&ctx, taps.as<VekC32>(), len, line.as<VekC16>(), 3, 1, 2, 0)
                  : F().initReal(&ctx, taps.as<int32_t>(), len, line.as<int16_t>(), 3, 1, 2, 0);
      ASSERT_EQ(st, VEK_OK);
      int32_t index = -1;
      if (complex) {
        ASSERT_EQ(F().getTapsComplex(ctx, tapsOut.as<VekC32>()), VEK_OK);
        ASSERT_EQ(F().getDelayComplex(ctx, lineOut.as<VekC16>(), &index), VEK_OK);
      } else {
        ASSERT_EQ(F().getTapsReal(ctx, tapsOut.as<int32_t>()), VEK_OK);
        ASSERT_EQ(F().getDelayReal(ctx, lineOut.as<int16_t>(), &index), VEK_OK);
      }
      EXPECT_EQ(index, 3);
      EXPECT_EQ(std::memcmp(taps.data(), tapsOut.data(), tapBytes), 0) << "offset " << off;
      EXPECT_EQ(std::memcmp(line.data(), lineOut.data(), lineBytes), 0) << "offset " << off;
      EXPECT_TRUE(tapsOut.intact());
      EXPECT_TRUE(lineOut.intact());
      F().free(ctx);
    }
  }
}

// Null taps and history: every output is 0 until taps are set.
TEST_P(LmsColumn, FreshContextOutputsZero) {
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initComplex(&ctx, nullptr, 48, nullptr, 0, 1, 1, 0), VEK_OK);
  VekC32 out{1, 1};
  for (int i = 0; i < 60; ++i) {
    ASSERT_EQ(F().putFilterComplex(ToC16(0x7FFF8000u), &out, ctx), VEK_OK);
    ASSERT_EQ(out.re, 0);
    ASSERT_EQ(out.im, 0);
  }
  F().free(ctx);
}

// One tap, step 1, no update delay: the output is (tap >> 16) * newest and the update uses that sample.
// Ties of mu * error round up: 16384 -> 1, -16384 -> 0, -16385 -> -1; mu 0 changes nothing. A product just
// below 2^31 rounds to +65536 (the rounding add does not wrap). A sum past 2^31 - 1 wraps.
TEST_P(LmsColumn, OneTapArithmetic) {
  struct Case {
    int32_t mu, error;
    int16_t x;
    int32_t tapDelta;
  };
  const Case cases[] = {
      {1, 16384, 100, 100},   {1, -16384, 100, 0},     {1, -16385, 100, -100}, {0, 123456, 100, 0},
      {16384, 1, -7, -7},     {0x7FFFFFFF, 1, 1, 65536}, {-32768, 32767, -32768, -32767 * -32768},
      {1, -1073741824, -32768, 1073741824},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mu " << c.mu << " error " << c.error);
    const int32_t tap0 = 3 << 16;
    LmsState* ctx = nullptr;
    ASSERT_EQ(F().initReal(&ctx, &tap0, 1, nullptr, 0, 1, 0, c.mu), VEK_OK);
    int32_t out = 0;
    ASSERT_EQ(F().putFilterReal(c.x, &out, ctx), VEK_OK);
    EXPECT_EQ(out, 3 * c.x);
    ASSERT_EQ(F().updateReal(c.error, ctx), VEK_OK);
    int32_t tap = 0;
    ASSERT_EQ(F().getTapsReal(ctx, &tap), VEK_OK);
    EXPECT_EQ(tap, static_cast<int32_t>(static_cast<uint32_t>(tap0) + static_cast<uint32_t>(c.tapDelta)));
    F().free(ctx);
  }

  // Two taps of high half -32768 meeting -32768 twice: 2^30 + 2^30 wraps to -2^31.
  const int32_t big[2] = {static_cast<int32_t>(0x80000000u), static_cast<int32_t>(0x80000000u)};
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, big, 2, nullptr, 0, 1, 0, 0), VEK_OK);
  int32_t out = 0;
  F().putReal(-32768, ctx);
  ASSERT_EQ(F().putFilterReal(-32768, &out, ctx), VEK_OK);
  EXPECT_EQ(out, INT32_MIN);
  F().free(ctx);
}

// Sums wrap at 32 bits in every column, also through the vector loops: tap high halves of -32768 meeting
// samples of -32768 give 2^30 per real tap and 2^31 per complex imaginary part.
TEST_P(LmsColumn, SumsWrapAtExtremes) {
  std::vector<int32_t> taps(60, static_cast<int32_t>(0x80000000u));
  taps[0] = 1 << 16;  // meets the newest sample, 1
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, taps.data(), 60, nullptr, 0, 1, 2, 0), VEK_OK);
  for (int i = 0; i < 70; ++i) F().putReal(-32768, ctx);
  int32_t out = 0;
  ASSERT_EQ(F().putFilterReal(1, &out, ctx), VEK_OK);
  EXPECT_EQ(out, static_cast<int32_t>(59u * 0x40000000u + 1u));  // 3 * 2^30 + 1 as int32
  F().free(ctx);

  std::vector<VekC32> ptaps(47, VekC32{static_cast<int32_t>(0x80000000u), static_cast<int32_t>(0x80000000u)});
  ASSERT_EQ(F().initComplex(&ctx, ptaps.data(), 47, nullptr, 0, 2, 6, 0), VEK_OK);
  VekC32 pout{};
  for (int i = 0; i < 110; ++i) ASSERT_EQ(F().putFilterComplex(VekC16{-32768, -32768}, &pout, ctx), VEK_OK);
  EXPECT_EQ(pout.re, 0);
  EXPECT_EQ(pout.im, INT32_MIN);
  F().free(ctx);
}

// D + 1 puts bring the index back to its start plus one; the caller's tap 0 meets the newest sample, tap 1
// the one `step` older, so with step 2 the samples in between enter the window one put later.
TEST_P(LmsColumn, WindowFollowsPutsAndStep) {
  const int32_t taps[3] = {1 << 16, 10 << 16, 100 << 16};
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, taps, 3, nullptr, 5, 2, 1, 0), VEK_OK);  // D = 7
  int32_t out = 0;
  for (int16_t s = 1; s <= 8; ++s) ASSERT_EQ(F().putFilterReal(s, &out, ctx), VEK_OK);
  EXPECT_EQ(ctx->index, (5 + 8) % 7);
  EXPECT_EQ(out, 8 + 10 * 6 + 100 * 4);
  ASSERT_EQ(F().putFilterReal(9, &out, ctx), VEK_OK);
  EXPECT_EQ(out, 9 + 10 * 7 + 100 * 5);
  int16_t v = 0;
  // The filter window starts updateDelay + step - 1 = 2 positions after the index: the oldest sample it sees.
  ASSERT_EQ(F().getDelayValueReal(ctx, &v, 0), VEK_OK);
  EXPECT_EQ(v, 5);
  ASSERT_EQ(F().getDelayValueReal(ctx, &v, 4), VEK_OK);
  EXPECT_EQ(v, 9);
  F().free(ctx);
}

// get-delay-value accepts k up to D; D + 1 and any position past the doubled line give -5.
TEST_P(LmsColumn, DelayValueBounds) {
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, nullptr, 60, nullptr, 0, 1, 2, 0), VEK_OK);  // D = 62, window at 2
  int16_t v = 1;
  EXPECT_EQ(F().getDelayValueReal(ctx, &v, 62), VEK_OK);
  EXPECT_EQ(F().getDelayValueReal(ctx, &v, 63), VEK_ERR_BAD_ARG);
  EXPECT_EQ(F().getDelayValueReal(ctx, &v, -1), VEK_ERR_BAD_ARG);
  ASSERT_EQ(F().setDelayReal(ctx, nullptr, 61), VEK_OK);  // window now at 63: k = D would pass 2D - 1
  EXPECT_EQ(F().getDelayValueReal(ctx, &v, 60), VEK_OK);
  v = 77;
  EXPECT_EQ(F().getDelayValueReal(ctx, &v, 61), VEK_ERR_BAD_ARG);
  EXPECT_EQ(v, 77);
  F().free(ctx);

  ASSERT_EQ(F().initComplex(&ctx, nullptr, 2, nullptr, 0, 1, 0, 0), VEK_OK);
  const VekC16 line[2] = {{1, 2}, {-32768, -1}};
  ASSERT_EQ(F().setDelayComplex(ctx, line, 0), VEK_OK);
  VekC16 pairValue{};
  ASSERT_EQ(F().getDelayValueComplex(ctx, &pairValue, 1), VEK_OK);
  EXPECT_EQ(pairValue.re, -32768);
  EXPECT_EQ(pairValue.im, -1);
  F().free(ctx);
}

// A set-delay index outside the line is refused and leaves the context unchanged (a put at such an index
// would write past the doubled line).
TEST_P(LmsColumn, SetDelayRejectsIndexOutsideLine) {
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initReal(&ctx, nullptr, 4, nullptr, 1, 1, 0, 0), VEK_OK);  // D = 4
  const int16_t line[4] = {1, 2, 3, 4};
  EXPECT_EQ(F().setDelayReal(ctx, line, 4), VEK_ERR_SIZE);
  EXPECT_EQ(F().setDelayReal(ctx, line, -1), VEK_ERR_SIZE);
  int16_t back[4] = {9, 9, 9, 9};
  int32_t index = -1;
  ASSERT_EQ(F().getDelayReal(ctx, back, &index), VEK_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(back[0] | back[1] | back[2] | back[3], 0);
  F().free(ctx);
}

// get-delay and set-delay save and restore a filter's history: the outputs after a restore repeat exactly.
TEST_P(LmsColumn, HistorySaveAndRestore) {
  std::vector<VekC32> taps(72);
  for (int k = 0; k < 72; ++k) taps[k] = {(k * 977 - 30000) << 16, (k * 331 - 9000) << 16};
  LmsState* ctx = nullptr;
  ASSERT_EQ(F().initComplex(&ctx, taps.data(), 72, nullptr, 0, 2, 6, 0), VEK_OK);
  VekC32 out{};
  for (uint32_t s = 0; s < 200; ++s) F().putFilterComplex(ToC16(s * 0x01230457u), &out, ctx);
  std::vector<VekC16> saved(150);
  int32_t savedIndex = -1;
  ASSERT_EQ(F().getDelayComplex(ctx, saved.data(), &savedIndex), VEK_OK);
  std::vector<VekC32> first, second;
  for (uint32_t s = 0; s < 40; ++s) {
    F().putFilterComplex(ToC16(s * 0x7654321u), &out, ctx);
    first.push_back(out);
  }
  ASSERT_EQ(F().setDelayComplex(ctx, saved.data(), savedIndex), VEK_OK);
  for (uint32_t s = 0; s < 40; ++s) {
    F().putFilterComplex(ToC16(s * 0x7654321u), &out, ctx);
    second.push_back(out);
  }
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(first[i].re, second[i].re);
    EXPECT_EQ(first[i].im, second[i].im);
  }
  F().free(ctx);
}

// The contexts the data pump creates at setup (taps zero, no history, index 0, mu 0).
TEST_P(LmsColumn, PumpSetupContexts) {
  struct Setup {
    bool complex;
    int32_t len, step, updateDelay, d;
  };
  const Setup setups[] = {{true, 72, 2, 6, 150}, {true, 120, 1, 3, 123}, {false, 60, 1, 2, 62}, {true, 48, 1, 1, 49}};
  for (const Setup& s : setups) {
    LmsState* ctx = nullptr;
    const VekStatus st = s.complex ? F().initComplex(&ctx, nullptr, s.len, nullptr, 0, s.step, s.updateDelay, 0)
                                   : F().initReal(&ctx, nullptr, s.len, nullptr, 0, s.step, s.updateDelay, 0);
    ASSERT_EQ(st, VEK_OK);
    EXPECT_EQ(ctx->delayLength, s.d);
    EXPECT_EQ(ctx->index, 0);
    EXPECT_EQ(ctx->mu, 0);
    EXPECT_EQ(F().free(ctx), VEK_OK);
  }
}

// Creation allocates the record, the taps and the line; whichever fails, nothing is left allocated and -9 is
// returned.
TEST_P(LmsColumn, CreationReleasesEverythingWhenAnAllocationFails) {
  for (bool complex : {false, true}) {
    for (int failing = 1; failing <= 3; ++failing) {
      const int64_t before = vek_pool_outstanding();
      vek_pool_fail_at(failing);
      LmsState* ctx = kUntouched;
      const VekStatus st = complex ? F().initComplex(&ctx, nullptr, 48, nullptr, 0, 1, 1, 0)
                                   : F().initReal(&ctx, nullptr, 60, nullptr, 0, 1, 2, 0);
      vek_pool_fail_at(0);
      EXPECT_EQ(st, VEK_ERR_NO_MEMORY) << "request " << failing;
      EXPECT_EQ(ctx, nullptr);
      EXPECT_EQ(vek_pool_outstanding(), before);
    }
  }
}

// The pumps' entry points reach the installed column; a context made by one column's setup is used through
// another column's table.
TEST(LmsDispatch, EntryPointsUseTheInstalledColumn) {
  vektest::DispatchTableGuard guard;
  LmsState* ctx = nullptr;
  ASSERT_EQ(vek_install_column(VEK_CPU_MM), 1);
  ASSERT_EQ(vek_lms_init_complex(&ctx, nullptr, 48, nullptr, 0, 1, 1, 4000), VEK_OK);
  ASSERT_EQ(vek_install_column(VEK_CPU_WD), 1);
  EXPECT_EQ(vek_dispatched<VekSlot::vek_lms_update_complex>(), &vek_lms_update_complex_wd);
  VekC32 out{1, 1};
  ASSERT_EQ(vek_lms_put_filter_complex(VekC16{100, -100}, &out, ctx), VEK_OK);
  EXPECT_EQ(out.re, 0);
  ASSERT_EQ(vek_lms_put_value_complex(VekC16{5, 5}, ctx), VEK_OK);
  ASSERT_EQ(vek_lms_update_complex(30000, 0, ctx), VEK_OK);
  VekC32 taps[48];
  ASSERT_EQ(vek_lms_get_taps_complex(ctx, taps), VEK_OK);
  // mu 4000 * 30000 rounds to g = 3662; with update delay 1 the caller's tap 0 meets the sample one put older
  // than the newest, (100, -100), and moves by g times its conjugate.
  EXPECT_EQ(taps[0].re, 366200);
  EXPECT_EQ(taps[0].im, 366200);
  EXPECT_EQ(taps[1].re, 0);
  EXPECT_EQ(vek_lms_free_complex(ctx), VEK_OK);
}

INSTANTIATE_TEST_SUITE_P(Columns, LmsColumn, ::testing::Range(0, 4),
                         [](const auto& info) { return std::string(kLmsColumns[info.param].name); });

}  // namespace
