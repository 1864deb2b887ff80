// Every LMS column against an independent model that keeps the history in time order (no doubled line, no
// reversed taps) and computes in 64 bits, reducing modulo 2^32 only where the filter defines a wrap. Contexts
// are created by one column and used by another, for all 16 pairs.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "layer1/vek/lms/lms_scalar.h"
#include "lms_columns.h"

namespace {

int32_t Mod32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
int16_t Re(uint32_t s) { return static_cast<int16_t>(s & 0xFFFF); }
int16_t Im(uint32_t s) { return static_cast<int16_t>(s >> 16); }

struct Config {
  bool complex;
  int32_t len;
  int32_t step;
  int32_t updateDelay;
};

// Reference filter. hist holds every sample ever in the line, oldest first; Age(0) is the newest.
struct Model {
  Config cfg;
  int32_t mu = 0;
  std::vector<int32_t> tr, ti;  // caller's order
  std::vector<uint32_t> hist;

  uint32_t Age(int32_t a) const { return hist[hist.size() - 1 - static_cast<size_t>(a)]; }

  // Caller tap k meets the sample k * step older than the newest.
  void Filter(int32_t* re, int32_t* im) const {
    int64_t sr = 0, si = 0;
    for (int32_t k = 0; k < cfg.len; ++k) {
      const uint32_t s = Age(k * cfg.step);
      const int64_t a = tr[k] >> 16, b = ti[k] >> 16;
      if (cfg.complex) {
        sr += a * Re(s) - b * Im(s);
        si += b * Re(s) + a * Im(s);
      } else {
        sr += a * Re(s);
      }
    }
    *re = Mod32(sr);
    *im = Mod32(si);
  }

  static int64_t Gain(int32_t mu, int32_t err) {
    const int64_t p = Mod32(static_cast<int64_t>(mu) * err);
    return (p + 16384) >> 15;
  }

  // The update meets the window the filter used updateDelay samples ago.
  void Update(int32_t er, int32_t ei) {
    const int64_t gr = Gain(mu, er), gi = Gain(mu, ei);
    for (int32_t k = 0; k < cfg.len; ++k) {
      const uint32_t s = Age(cfg.updateDelay + k * cfg.step);
      if (cfg.complex) {
        tr[k] = Mod32(tr[k] + gr * Re(s) + gi * Im(s));
        ti[k] = Mod32(ti[k] + gi * Re(s) - gr * Im(s));
      } else {
        tr[k] = Mod32(tr[k] + gr * Re(s));
      }
    }
  }
};

int16_t EdgeOrRandom(std::mt19937& rng) {
  static const int16_t kEdges[] = {-32768, -32767, -1, 0, 1, 32767};
  if (rng() % 4 == 0) return kEdges[rng() % 6];
  return static_cast<int16_t>(rng());
}

class LmsModelTest : public ::testing::TestWithParam<std::tuple<int, int>> {};

const Config kConfigs[] = {
    {false, 60, 1, 2}, {false, 1, 1, 0}, {false, 17, 2, 3}, {false, 33, 3, 1}, {false, 16, 2, 0},
    {false, 7, 5, 4},  {true, 48, 1, 1}, {true, 72, 2, 6},  {true, 120, 1, 3}, {true, 9, 3, 2},
    {true, 5, 2, 0},   {true, 1, 1, 0},  {true, 24, 2, 1},
};

TEST_P(LmsModelTest, ColumnsMatchModelAcrossCreatorAndUser) {
  const LmsColumnFns& maker = kLmsColumns[std::get<0>(GetParam())];
  const LmsColumnFns& user = kLmsColumns[std::get<1>(GetParam())];
  std::mt19937 rng(1234 + 7 * std::get<0>(GetParam()) + std::get<1>(GetParam()));
  for (const Config& cfg : kConfigs) {
    SCOPED_TRACE(testing::Message() << "complex " << cfg.complex << " L " << cfg.len << " step " << cfg.step
                                    << " ud " << cfg.updateDelay);
    const int32_t d = cfg.updateDelay + cfg.len * cfg.step;
    Model m{cfg, 0, {}, {}, {}};
    m.mu = static_cast<int32_t>(rng() % 2000);
    m.tr.resize(cfg.len);
    m.ti.resize(cfg.len);
    std::vector<int32_t> realTaps(cfg.len);
    std::vector<VekC32> pairTaps(cfg.len);
    for (int32_t k = 0; k < cfg.len; ++k) {
      m.tr[k] = static_cast<int32_t>(rng());
      m.ti[k] = cfg.complex ? static_cast<int32_t>(rng()) : 0;
      if (k == 0) m.tr[k] = static_cast<int32_t>(0x80000000u);  // high half -32768
      realTaps[k] = m.tr[k];
      pairTaps[k] = {m.tr[k], m.ti[k]};
    }
    // Initial line: D samples in storage order; index is where the oldest sits.
    std::vector<uint32_t> line(d);
    std::vector<int16_t> line16(d);
    std::vector<VekC16> line16c(d);
    for (int32_t p = 0; p < d; ++p) {
      line[p] = cfg.complex ? (static_cast<uint32_t>(static_cast<uint16_t>(EdgeOrRandom(rng))) |
                               static_cast<uint32_t>(static_cast<uint16_t>(EdgeOrRandom(rng))) << 16)
                            : static_cast<uint16_t>(EdgeOrRandom(rng));
      line16[p] = Re(line[p]);
      line16c[p] = ToC16(line[p]);
    }
    const int32_t index = static_cast<int32_t>(rng() % d);
    for (int32_t p = 0; p < d; ++p) m.hist.push_back(line[(index + p) % d]);

    LmsState* ctx = nullptr;
    const VekStatus st = cfg.complex ? maker.initComplex(&ctx, pairTaps.data(), cfg.len, line16c.data(), index,
                                                         cfg.step, cfg.updateDelay, m.mu)
                                     : maker.initReal(&ctx, realTaps.data(), cfg.len, line16.data(), index,
                                                      cfg.step, cfg.updateDelay, m.mu);
    ASSERT_EQ(st, VEK_OK);

    std::vector<int32_t> gotReal(cfg.len);
    std::vector<VekC32> gotPair(cfg.len);
    for (int op = 0; op < 300; ++op) {
      const int kind = static_cast<int>(rng() % 8);
      if (kind <= 2) {  // put and filter
        const uint32_t s = static_cast<uint16_t>(EdgeOrRandom(rng)) |
                           (cfg.complex ? static_cast<uint32_t>(static_cast<uint16_t>(EdgeOrRandom(rng))) << 16 : 0u);
        m.hist.push_back(s);
        int32_t er, ei;
        m.Filter(&er, &ei);
        if (cfg.complex) {
          VekC32 out{};
          ASSERT_EQ(user.putFilterComplex(ToC16(s), &out, ctx), VEK_OK);
          ASSERT_EQ(out.re, er);
          ASSERT_EQ(out.im, ei);
        } else {
          int32_t out = 0;
          ASSERT_EQ(user.putFilterReal(Re(s), &out, ctx), VEK_OK);
          ASSERT_EQ(out, er);
        }
      } else if (kind == 3) {  // put alone, then filter
        const uint32_t s = static_cast<uint32_t>(rng()) & (cfg.complex ? 0xFFFFFFFFu : 0xFFFFu);
        m.hist.push_back(s);
        int32_t er, ei;
        m.Filter(&er, &ei);
        if (cfg.complex) {
          VekC32 out{};
          ASSERT_EQ(user.putComplex(ToC16(s), ctx), VEK_OK);
          ASSERT_EQ(user.filterComplex(&out, ctx), VEK_OK);
          ASSERT_EQ(out.re, er);
          ASSERT_EQ(out.im, ei);
        } else {
          int32_t out = 0;
          ASSERT_EQ(user.putReal(Re(s), ctx), VEK_OK);
          ASSERT_EQ(user.filterReal(&out, ctx), VEK_OK);
          ASSERT_EQ(out, er);
        }
      } else if (kind <= 6) {  // update; a third of them with a gain beyond 16 bits (scalar path)
        int32_t er = static_cast<int32_t>(rng() % 65536) - 32768;
        int32_t ei = static_cast<int32_t>(rng() % 65536) - 32768;
        if (rng() % 3 == 0) {
          er = static_cast<int32_t>(rng());
          ei = static_cast<int32_t>(rng());
        }
        m.Update(er, cfg.complex ? ei : 0);
        if (cfg.complex) {
          ASSERT_EQ(user.updateComplex(er, ei, ctx), VEK_OK);
          ASSERT_EQ(user.getTapsComplex(ctx, gotPair.data()), VEK_OK);
          for (int32_t k = 0; k < cfg.len; ++k) {
            ASSERT_EQ(gotPair[k].re, m.tr[k]) << "tap " << k << " op " << op;
            ASSERT_EQ(gotPair[k].im, m.ti[k]) << "tap " << k << " op " << op;
          }
        } else {
          ASSERT_EQ(user.updateReal(er, ctx), VEK_OK);
          ASSERT_EQ(user.getTapsReal(ctx, gotReal.data()), VEK_OK);
          for (int32_t k = 0; k < cfg.len; ++k) ASSERT_EQ(gotReal[k], m.tr[k]) << "tap " << k << " op " << op;
        }
      } else {  // new mu, sometimes large or negative
        m.mu = (rng() % 2) ? static_cast<int32_t>(rng() % 4000) - 2000 : static_cast<int32_t>(rng());
        ASSERT_EQ(cfg.complex ? user.setMuComplex(ctx, m.mu) : user.setMuReal(ctx, m.mu), VEK_OK);
      }
    }
    ASSERT_EQ(user.free(ctx), VEK_OK);
  }
}

INSTANTIATE_TEST_SUITE_P(AllPairs, LmsModelTest,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::Range(0, 4)),
                         [](const auto& info) {
                           return std::string(kLmsColumns[std::get<0>(info.param)].name) + "_to_" +
                                  kLmsColumns[std::get<1>(info.param)].name;
                         });

// Kernels called directly on windows at every alignment, inside buffers of exactly the size they may read
// (the sanitizer build catches any read past the window), against the scalar loops.
TEST(LmsKernels, EveryOffsetLengthAndStepEqualsScalar) {
  std::mt19937 rng(99);
  for (int32_t step = 1; step <= 4; ++step) {
    for (int32_t len = 1; len <= 40; ++len) {
      for (int32_t offset = 0; offset < 8; ++offset) {
        const int64_t span = static_cast<int64_t>(len - 1) * step + 1;
        std::vector<int16_t> x16(offset + span);
        std::vector<uint32_t> x32(offset + span);
        for (auto& v : x16) v = EdgeOrRandom(rng);
        for (auto& v : x32) v = static_cast<uint32_t>(rng());
        std::vector<int32_t> taps(2 * len);
        for (auto& t : taps) t = static_cast<int32_t>(rng());
        const int16_t* w16 = x16.data() + offset;
        const uint32_t* w32 = x32.data() + offset;

        const int32_t wantReal = vek_lms::FilterRealScalar(taps.data(), w16, len, step);
        const VekC32 wantPair = vek_lms::FilterComplexScalar(taps.data(), w32, len, step);
        int32_t got = 0;
        VekC32 gotPair{};
        vek_lms_filter_kernel(taps.data(), w16, len, step, &got);
        ASSERT_EQ(got, wantReal) << "wd L " << len << " step " << step << " offset " << offset;
        vek_lms_filter_kernel_ss(taps.data(), w16, len, step, &got);
        ASSERT_EQ(got, wantReal) << "ss L " << len << " step " << step << " offset " << offset;
        vek_lms_filter_kernel_complex(taps.data(), w32, len, step, &gotPair);
        ASSERT_EQ(gotPair.re, wantPair.re);
        ASSERT_EQ(gotPair.im, wantPair.im);
        vek_lms_filter_kernel_complex_ss(taps.data(), w32, len, step, &gotPair);
        ASSERT_EQ(gotPair.re, wantPair.re);
        ASSERT_EQ(gotPair.im, wantPair.im);

        for (int32_t g : {-32767, -1, 0, 1, 12345, 32767}) {
          std::vector<int32_t> want = taps, a = taps, b = taps;
          vek_lms::UpdateRealScalar(want.data(), w16, len, step, g);
          vek_lms_update_kernel(a.data(), w16, len, step, g);
          vek_lms_update_kernel_ss(b.data(), w16, len, step, g);
          ASSERT_EQ(a, want) << "wd update L " << len << " step " << step << " g " << g;
          ASSERT_EQ(b, want) << "ss update L " << len << " step " << step << " g " << g;
          want = taps, a = taps, b = taps;
          vek_lms::UpdateComplexScalar(want.data(), w32, len, step, g, -g / 2 - 1);
          vek_lms_update_kernel_complex(a.data(), w32, len, step, g, -g / 2 - 1);
          vek_lms_update_kernel_complex_ss(b.data(), w32, len, step, g, -g / 2 - 1);
          ASSERT_EQ(a, want) << "wd complex update L " << len << " step " << step << " g " << g;
          ASSERT_EQ(b, want) << "ss complex update L " << len << " step " << step << " g " << g;
        }
      }
    }
  }
}

}  // namespace

namespace {

// Gains at the edge of the kernels' 16-bit range: -32767 and 32767 take the kernel, -32768 and beyond the
// scalar loop; every column must end with the taps gen computes.
TEST(LmsKernels, GainBoundaryMatchesGen) {
  const int32_t errors[] = {-32767 * 32768, -32768 * 32768, 32767 * 32768, 32767 * 32768 + 16384, 65535 * 32768};
  for (int32_t e1 : errors) {
    for (int32_t e2 : errors) {
      std::vector<std::vector<VekC32>> complexTaps;
      std::vector<std::vector<int32_t>> realTaps;
      for (const LmsColumnFns& f : kLmsColumns) {
        std::mt19937 rng(5);
        LmsState* c = nullptr;
        LmsState* r = nullptr;
        ASSERT_EQ(f.initComplex(&c, nullptr, 48, nullptr, 0, 1, 1, 1), VEK_OK);
        ASSERT_EQ(f.initReal(&r, nullptr, 60, nullptr, 0, 1, 2, 1), VEK_OK);
        for (int i = 0; i < 70; ++i) {
          f.putComplex(ToC16(static_cast<uint32_t>(rng())), c);
          f.putReal(static_cast<int16_t>(rng()), r);
        }
        f.updateComplex(e1, e2, c);
        f.updateReal(e1, r);
        complexTaps.emplace_back(48);
        realTaps.emplace_back(60);
        f.getTapsComplex(c, complexTaps.back().data());
        f.getTapsReal(r, realTaps.back().data());
        f.free(c);
        f.free(r);
      }
      for (size_t col = 1; col < 4; ++col) {
        EXPECT_EQ(realTaps[col], realTaps[0]) << kLmsColumns[col].name;
        for (int k = 0; k < 48; ++k) {
          ASSERT_EQ(complexTaps[col][k].re, complexTaps[0][k].re) << kLmsColumns[col].name;
          ASSERT_EQ(complexTaps[col][k].im, complexTaps[0][k].im) << kLmsColumns[col].name;
        }
      }
    }
  }
}

}  // namespace
