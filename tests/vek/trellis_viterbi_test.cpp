// A Viterbi decoder built only from the three trellis primitives decodes sequences of the 16-, 32- and
// 64-state codes without error, in every column: the test supplies the label maps, transition tables, an
// encoder, path-metric renormalisation and traceback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "trellis_test_support.h"

namespace {

std::vector<uint8_t> CodeTransitions(int states) {
  static const uint8_t kFixed[4][8] = {{0, 4, 9, 13, 2, 6, 11, 15},
                                       {16, 20, 25, 29, 18, 22, 27, 31},
                                       {1, 5, 8, 12, 3, 7, 10, 14},
                                       {17, 21, 24, 28, 19, 23, 26, 30}};
  const int branches = states / 4;
  std::vector<uint8_t> t(states * branches);
  for (int i = 0; i < states; ++i) {
    for (int j = 0; j < branches; ++j) {
      const int next = (states == 32) ? (kFixed[i & 3][j] + 4 * (i >> 2)) % 32 : (branches * i + j) % states;
      t[i * branches + j] = static_cast<uint8_t>(next);
    }
  }
  return t;
}

// The first pair of 2D subsets of each 4D subset (any pair of the subset would do).
std::pair<int, int> FirstPair(int states, int k) {
  if (states == 16) return {k >> 2, (k + (k >> 2)) % 4};
  if (states == 32) {
    const int j = (k & 8) ? k + 16 : k;
    const int a0 = (j ^ 8) >> 2;
    return {a0, ((j ^ 8) + a0) % 4};
  }
  return {k >> 2, (k + (k >> 2)) % 4};
}

// A random grid point of subset s within +-6 columns and rows.
std::pair<int, int> PointOfSubset(int s, int subsets, std::mt19937& rng) {
  for (;;) {
    const int c = static_cast<int>(rng() % 13) - 6;
    const int r = static_cast<int>(rng() % 13) - 6;
    if (SubsetOf(c, r, subsets, kIdentity) == s) return {GridX(c), GridX(r)};
  }
}

struct Symbol {
  int16_t p[2][2];  // two 2D points
};

class TrellisViterbi : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(TrellisViterbi, DecodesWithoutError) {
  const auto [column, states, noise] = GetParam();
  const TrellisColumnFns& f = kTrellisColumns[column];
  const int branches = states / 4;
  const int subsets = states == 16 ? 4 : 8;
  const int records = states == 16 ? 8 : states == 32 ? 16 : 32;
  const auto next = CodeTransitions(states);
  const auto map = LabelMap(subsets, kIdentity);
  std::mt19937 rng(100 + states + noise);

  // Encode from state 0 with random branches.
  constexpr int kSymbols = 150;
  std::vector<Symbol> sent(kSymbols), received(kSymbols);
  int state = 0;
  for (int t = 0; t < kSymbols; ++t) {
    const int j = static_cast<int>(rng() % branches);
    const auto [a, b] = FirstPair(states, (state & 1) + 2 * j);
    const auto p1 = PointOfSubset(a, subsets, rng);
    const auto p2 = PointOfSubset(b, subsets, rng);
    sent[t] = Symbol{{{static_cast<int16_t>(p1.first), static_cast<int16_t>(p1.second)},
                      {static_cast<int16_t>(p2.first), static_cast<int16_t>(p2.second)}}};
    for (int q = 0; q < 2; ++q) {
      for (int d = 0; d < 2; ++d) {
        const int n = noise ? static_cast<int>(rng() % (2 * noise + 1)) - noise : 0;
        received[t].p[q][d] = static_cast<int16_t>(sent[t].p[q][d] + n);
      }
    }
    state = next[state * branches + j];
  }

  // Decode.
  std::vector<uint16_t> oldM(states, 2000);
  oldM[0] = 0;
  std::vector<int32_t> survivors(states * kSymbols);
  std::vector<int32_t> corners(2 * kSymbols);
  for (int t = 0; t < kSymbols; ++t) {
    int32_t m[16] = {};
    ASSERT_EQ(f.metric2d(received[t].p[0], &corners[2 * t], m, map.data(), states), VEK_OK);
    ASSERT_EQ(f.metric2d(received[t].p[1], &corners[2 * t + 1], m + 8, map.data(), states), VEK_OK);
    std::vector<TrellisMetric4d> r4(records);
    ASSERT_EQ(f.metric4d(m, r4.data(), states, 0), VEK_OK);
    std::vector<uint16_t> newM(states, 65535);
    ASSERT_EQ(f.acs(oldM.data(), next.data(), newM.data(), r4.data(), survivors.data(), states, states * t), VEK_OK);
    const uint16_t low = *std::min_element(newM.begin(), newM.end());
    for (int s = 0; s < states; ++s) oldM[s] = static_cast<uint16_t>(newM[s] - low);
  }
  int best = static_cast<int>(std::min_element(oldM.begin(), oldM.end()) - oldM.begin());
  EXPECT_EQ(oldM[best], 0);
  for (int t = kSymbols - 1; t >= 0; --t) {
    const int32_t e = survivors[states * t + best];
    const int label = e & 0xFFFF;
    for (int q = 0; q < 2; ++q) {
      const int code = q == 0 ? (label & 0xFF) : (label >> 8);
      const int32_t corner = corners[2 * t + q];
      const int x = static_cast<int16_t>(corner & 0xFFFF) + 256 * kCodeOffset[code][0];
      const int y = static_cast<int16_t>(static_cast<uint32_t>(corner) >> 16) + 256 * kCodeOffset[code][1];
      ASSERT_EQ(x, sent[t].p[q][0]) << f.name << " symbol " << t << " point " << q;
      ASSERT_EQ(y, sent[t].p[q][1]) << f.name << " symbol " << t << " point " << q;
    }
    best = static_cast<int>(static_cast<uint32_t>(e) >> 16);
  }
  EXPECT_EQ(best, 0);
}

// Noiseless sequences, and sequences with noise below a quarter of the grid spacing.
INSTANTIATE_TEST_SUITE_P(Codes, TrellisViterbi,
                         ::testing::Combine(::testing::Range(0, 4), ::testing::Values(16, 32, 64),
                                            ::testing::Values(0, 60)),
                         [](const auto& info) {
                           return std::string(kTrellisColumns[std::get<0>(info.param)].name) + "_" +
                                  std::to_string(std::get<1>(info.param)) + "_states_noise_" +
                                  std::to_string(std::get<2>(info.param));
                         });

}  // namespace
