// Trellis metrics against brute force, their edge cases, and every column against gen for the 4D metrics and
// add-compare-select.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "trellis_test_support.h"

namespace {

int Term(int d) { return (d * d) >> 4; }

// Every entry is the distance to the nearest point of its subset (each axis term truncated on its own), and its
// code names a point of that subset at that distance.
TEST(TrellisMetric2d, EqualsBruteForceNearestPointOfEverySubset) {
  std::mt19937 rng(8);
  for (int subsets : {4, 8}) {
    for (int trial = 0; trial < 3; ++trial) {
      std::array<int, 8> perm = kIdentity;
      if (trial > 0) std::shuffle(perm.begin(), perm.begin() + subsets, rng);
      const auto map = LabelMap(subsets, perm);
      for (int y = -1400; y <= 1400; y += 37) {
        for (int x = -1400; x <= 1400; x += 29) {
          const int16_t point[2] = {static_cast<int16_t>(x), static_cast<int16_t>(y)};
          int32_t corner = 0;
          int32_t m[8];
          std::fill(m, m + 8, -1);
          ASSERT_EQ(vek_trellis_metric_2d_gen(point, &corner, m, map.data(), subsets == 4 ? 16 : 64), VEK_OK);
          const int cornerX = static_cast<int16_t>(corner & 0xFFFF);
          const int cornerY = static_cast<int16_t>(static_cast<uint32_t>(corner) >> 16);
          ASSERT_EQ(cornerX, GridX(FloorDiv256(x - 128)));
          ASSERT_EQ(cornerY, GridX(FloorDiv256(y - 128)));
          for (int s = 0; s < subsets; ++s) {
            int best = 1 << 30;
            for (int c = FloorDiv256(x) - 4; c <= FloorDiv256(x) + 4; ++c) {
              for (int r = FloorDiv256(y) - 4; r <= FloorDiv256(y) + 4; ++r) {
                if (SubsetOf(c, r, subsets, perm) == s) best = std::min(best, Term(GridX(c) - x) + Term(GridX(r) - y));
              }
            }
            const int code = m[s] >> 16;
            ASSERT_EQ(m[s] & 0xFFFF, best) << "x " << x << " y " << y << " subset " << s;
            ASSERT_TRUE(code >= 0 && code < (subsets == 4 ? 4 : 12));
            const int px = cornerX + 256 * kCodeOffset[code][0];
            const int py = cornerY + 256 * kCodeOffset[code][1];
            ASSERT_EQ(SubsetOf(FloorDiv256(px), FloorDiv256(py), subsets, perm), s) << "code " << code;
            ASSERT_EQ(Term(px - x) + Term(py - y), best) << "code " << code;
          }
        }
      }
    }
  }
}

TEST(TrellisMetric2d, EdgeCases) {
  const auto map = LabelMap(8, kIdentity);
  int32_t corner = 0;
  int32_t m[8] = {};
  // On a grid point: distance 0, code 0, for the subset of that point.
  const int16_t onGrid[2] = {static_cast<int16_t>(GridX(3)), static_cast<int16_t>(GridX(-2))};
  ASSERT_EQ(vek_trellis_metric_2d_gen(onGrid, &corner, m, map.data(), 32), VEK_OK);
  EXPECT_EQ(m[SubsetOf(3, -2, 8, kIdentity)], 0);
  // Midway between two columns: codes 0 and 1 have equal x terms A(128) = 1024.
  const int16_t midway[2] = {512, static_cast<int16_t>(GridX(0))};
  ASSERT_EQ(vek_trellis_metric_2d_gen(midway, &corner, m, map.data(), 32), VEK_OK);
  EXPECT_EQ(m[SubsetOf(1, 0, 8, kIdentity)], 1024);
  EXPECT_EQ(m[SubsetOf(2, 0, 8, kIdentity)], 1024 + 65536);
  // Equal candidates of an outer entry go to codes 8-11: fx = fy gives codes 4 and 8 equal distances.
  const int16_t diagonal[2] = {static_cast<int16_t>(GridX(0) + 64), static_cast<int16_t>(GridX(0) + 64)};
  ASSERT_EQ(vek_trellis_metric_2d_gen(diagonal, &corner, m, map.data(), 32), VEK_OK);
  EXPECT_EQ(m[SubsetOf(0, 2, 8, kIdentity)] >> 16, 8);
  // Any state count but 16 gives 8 subsets.
  int32_t m48[8] = {}, m64[8] = {};
  ASSERT_EQ(vek_trellis_metric_2d_gen(diagonal, &corner, m48, map.data(), 48), VEK_OK);
  ASSERT_EQ(vek_trellis_metric_2d_gen(diagonal, &corner, m64, map.data(), 64), VEK_OK);
  EXPECT_TRUE(std::equal(m48, m48 + 8, m64));
}

TEST(TrellisPrimitives, NullPointersWriteNothing) {
  const auto map = LabelMap(8, kIdentity);
  const int16_t point[2] = {100, 100};
  int32_t corner = 7;
  int32_t m[16] = {};
  TrellisMetric4d r4[32] = {};
  uint16_t oldM[64] = {}, newM[64] = {};
  uint8_t next[64 * 16] = {};
  int32_t surv[64] = {};
  for (const TrellisColumnFns& f : kTrellisColumns) {
    EXPECT_EQ(f.metric2d(nullptr, &corner, m, map.data(), 32), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.metric2d(point, nullptr, m, map.data(), 32), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.metric2d(point, &corner, nullptr, map.data(), 32), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.metric2d(point, &corner, m, nullptr, 32), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(corner, 7);
    EXPECT_EQ(f.metric4d(nullptr, r4, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.metric4d(m, nullptr, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.acs(nullptr, next, newM, r4, surv, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.acs(oldM, nullptr, newM, r4, surv, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.acs(oldM, next, nullptr, r4, surv, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.acs(oldM, next, newM, nullptr, surv, 32, 0), VEK_ERR_NULL_POINTER);
    EXPECT_EQ(f.acs(oldM, next, newM, r4, nullptr, 32, 0), VEK_ERR_NULL_POINTER);
  }
}

// The pairs of first and second 2D subsets each 4D subset covers, written out from the rule.
std::vector<std::pair<int, int>> PairsOfRecord(int states, int i, int k) {
  if (states == 16) {
    const int a = k >> 2, b = (k + (k >> 2)) % 4;
    return {{a, b}, {(a + 2) % 4, (b + 2) % 4}};
  }
  if (states == 32) {
    const int j = (i & 8) ? k + 16 : k;
    const int a0 = (j ^ 8) >> 2, b0 = ((j ^ 8) + a0) % 4, a2 = j >> 2, b2 = (j + a2) % 4;
    return {{a0, b0}, {(a0 + 4) % 8, b0 + 4}, {a2, b2}, {(a2 + 4) % 8, b2 + 4}};
  }
  const int a = k >> 2, b = (k + a) % 4;
  return {{a, b}, {(a + 4) % 8, b + 4}};
}

// Each code's 4D subsets partition all pairs of 2D subsets, so a noiseless 4D point has exactly one zero
// metric; record 0 of the 32-state code covers (2, 2), (6, 6), (0, 0), (4, 4).
TEST(TrellisMetric4d, RecordsPartitionThePairs) {
  for (int states : {16, 32, 64}) {
    const int records = states == 16 ? 8 : states == 32 ? 16 : 32;
    const int subsets = states == 16 ? 4 : 8;
    std::vector<int> seen(64, 0);
    for (int i = 0; i < records; ++i) {
      for (auto [a, b] : PairsOfRecord(states, i, i)) ++seen[a * 8 + b];
    }
    for (int a = 0; a < subsets; ++a) {
      for (int b = 0; b < subsets; ++b) EXPECT_EQ(seen[a * 8 + b], 1) << states << " " << a << "," << b;
    }
  }
  const std::vector<std::pair<int, int>> want = {{2, 2}, {6, 6}, {0, 0}, {4, 4}};
  EXPECT_EQ(PairsOfRecord(32, 0, 0), want);
}

TEST(TrellisMetric4d, BestPairPerRecordInEveryColumnAndMask) {
  std::mt19937 rng(21);
  for (int states : {16, 32, 64, 0, 48}) {
    const int eff = (states == 16 || states == 32) ? states : 64;
    const int records = eff == 16 ? 8 : eff == 32 ? 16 : 32;
    for (int trial = 0; trial < 60; ++trial) {
      std::vector<int32_t> m(16);  // exactly the 16 entries the function may read
      for (auto& e : m) e = static_cast<int32_t>(rng() % 3000 + (rng() % 12) * 65536);
      if (trial % 3 == 0) m[1] = m[0];  // forces ties between pairs
      const int32_t mask = (trial < 10) ? 0 : static_cast<int32_t>(rng() % 100);
      for (const TrellisColumnFns& f : kTrellisColumns) {
        std::vector<TrellisMetric4d> out(records);
        ASSERT_EQ(f.metric4d(m.data(), out.data(), states, mask), VEK_OK);
        for (int i = 0; i < records; ++i) {
          const int k = (i ^ mask) & (records - 1);
          uint16_t best = 0;
          uint16_t label = 0;
          bool first = true;
          for (auto [a, b] : PairsOfRecord(eff, i, k)) {
            const auto sum = static_cast<uint16_t>((m[a] & 0xFFFF) + (m[8 + b] & 0xFFFF));
            if (first || sum < best) {
              best = sum;
              label = static_cast<uint16_t>(((m[a] >> 16) & 0xFF) | (((m[8 + b] >> 16) & 0xFF) << 8));
              first = false;
            }
          }
          ASSERT_EQ(out[i].metric, best) << f.name << " states " << states << " record " << i;
          ASSERT_EQ(out[i].label, label) << f.name << " states " << states << " record " << i;
        }
      }
    }
  }
}

// A transition table for each code: the 32-state one begins with the code's fixed rows.
std::vector<uint8_t> Transitions(int states) {
  static const uint8_t kFixed[4][8] = {{0, 4, 9, 13, 2, 6, 11, 15},
                                       {16, 20, 25, 29, 18, 22, 27, 31},
                                       {1, 5, 8, 12, 3, 7, 10, 14},
                                       {17, 21, 24, 28, 19, 23, 26, 30}};
  const int branches = states / 4;
  std::vector<uint8_t> t(states * branches);
  for (int i = 0; i < states; ++i) {
    for (int j = 0; j < branches; ++j) {
      int next = (branches * i + j) % states;
      if (states == 32) next = (kFixed[i & 3][j] + 4 * (i >> 2)) % 32;
      t[i * branches + j] = static_cast<uint8_t>(next);
    }
  }
  return t;
}

// Add-compare-select: every column equals gen (new metrics preset to 65535); with 32 states ss and wd do not
// need the preset; ties go to the lowest predecessor; out-of-range next-state bytes stay inside the arrays.
TEST(TrellisAcs, ColumnsAgreeAndTiesGoToTheLowestPredecessor) {
  std::mt19937 rng(5);
  for (int states : {16, 32, 64}) {
    const int branches = states / 4;
    const int records = states == 16 ? 8 : states == 32 ? 16 : 32;
    const auto next = Transitions(states);
    for (int trial = 0; trial < 40; ++trial) {
      std::vector<uint16_t> oldM(states);
      for (auto& v : oldM) v = static_cast<uint16_t>(rng() % (trial % 2 ? 4 : 3000));  // small ranges make ties
      std::vector<TrellisMetric4d> r4(records);
      for (auto& r : r4) r = {static_cast<uint16_t>(rng()), static_cast<uint16_t>(rng() % (trial % 2 ? 3 : 5000))};
      const int32_t offset = states * (trial % 3);
      std::vector<uint16_t> wantM(states, 65535);
      std::vector<int32_t> wantS(offset + states, -1);
      // Reference: for each next state, the smallest candidate; ties to the lowest state, then branch.
      for (int n = 0; n < states; ++n) {
        uint32_t best = 65535;
        for (int i = 0; i < states; ++i) {
          for (int j = 0; j < branches; ++j) {
            const uint32_t cand = oldM[i] + r4[(i & 1) + 2 * j].metric;
            if (next[i * branches + j] == n && cand < best) {
              best = cand;
              wantM[n] = static_cast<uint16_t>(cand);
              wantS[offset + n] = r4[(i & 1) + 2 * j].label + i * 65536;
            }
          }
        }
      }
      for (const TrellisColumnFns& f : kTrellisColumns) {
        std::vector<uint16_t> newM(states, 65535);
        std::vector<int32_t> surv(offset + states, -1);
        ASSERT_EQ(f.acs(oldM.data(), next.data(), newM.data(), r4.data(), surv.data(), states, offset), VEK_OK);
        ASSERT_EQ(newM, wantM) << f.name << " states " << states;
        ASSERT_EQ(surv, wantS) << f.name << " states " << states;
      }
      if (states == 32) {
        for (int col : {VEK_CPU_SS, VEK_CPU_WD}) {
          std::vector<uint16_t> newM(states, 0);  // no preset needed
          std::vector<int32_t> surv(offset + states, -1);
          kTrellisColumns[col].acs(oldM.data(), next.data(), newM.data(), r4.data(), surv.data(), states, offset);
          ASSERT_EQ(newM, wantM) << kTrellisColumns[col].name;
          ASSERT_EQ(surv, wantS) << kTrellisColumns[col].name;
        }
      }
    }
  }
  // Next-state bytes at or above the state count are reduced to it: writes stay inside exactly-sized arrays.
  for (int states : {16, 32, 64, 7}) {
    const int eff = (states == 16 || states == 32) ? states : 64;
    const int branches = eff / 4;
    std::vector<uint8_t> wild(eff * branches, 0xFF);
    if (eff == 32) {
      const auto fixed = Transitions(32);
      std::copy(fixed.begin(), fixed.begin() + 32, wild.begin());
    }
    std::vector<uint16_t> oldM(eff, 0), newM(eff, 65535);
    std::vector<TrellisMetric4d> r4(eff == 16 ? 8 : eff == 32 ? 16 : 32, TrellisMetric4d{1, 1});
    std::vector<int32_t> surv(eff);
    for (const TrellisColumnFns& f : kTrellisColumns) {
      ASSERT_EQ(f.acs(oldM.data(), wild.data(), newM.data(), r4.data(), surv.data(), states, 0), VEK_OK);
    }
  }
}

// Any table (rows with repeated next states beyond 16 states, 32-state rows after the fixed four drawn at random), metrics over
// the whole 16-bit range (sums past 16 bits never win) and presets below 65535 (a sum equal to the preset
// loses): every column writes the same new metrics and survivors as gen, and leaves the rest alone.
TEST(TrellisAcs, ColumnsAgreeOnRandomTablesMetricsAndPresets) {
  std::mt19937 rng(11);
  for (int states : {16, 32, 64}) {
    const int branches = states / 4;
    const int records = states == 16 ? 8 : states == 32 ? 16 : 32;
    const auto fixed = Transitions(states);
    for (int trial = 0; trial < 300; ++trial) {
      // The 16-state rows lead to distinct next states (ss and wd compare a row's four branches at once).
      std::vector<uint8_t> next(states * branches);
      for (size_t k = 0; k < next.size(); ++k)
        next[k] = (states == 32 && k < 32) || (states == 16 && trial % 2 == 0)
                      ? fixed[k]
                      : static_cast<uint8_t>(rng() % (trial % 3 == 0 ? 4 : 256));
      if (states == 16 && trial % 2 != 0)
        for (int i = 0; i < 16; ++i) {
          std::vector<uint8_t> row(16);
          for (int n = 0; n < 16; ++n) row[n] = static_cast<uint8_t>(n + 16 * (rng() % 16));
          std::shuffle(row.begin(), row.end(), rng);
          std::copy(row.begin(), row.begin() + 4, next.begin() + 4 * i);
        }
      const uint32_t range = trial % 4 == 0 ? 3u : (trial % 4 == 1 ? 70000u : 2000u);
      std::vector<uint16_t> oldM(states);
      for (auto& v : oldM) v = static_cast<uint16_t>(std::min<uint32_t>(rng() % range, 65535u));
      std::vector<TrellisMetric4d> r4(records);
      for (auto& r : r4) r = {static_cast<uint16_t>(rng()), static_cast<uint16_t>(std::min<uint32_t>(rng() % range, 65535u))};
      std::vector<uint16_t> preset(states);
      for (auto& v : preset) v = trial % 2 ? 65535 : static_cast<uint16_t>(rng() % (2 * range + 1));
      const int32_t offset = states * (trial % 3);
      std::vector<uint16_t> wantM = preset;
      std::vector<int32_t> wantS(offset + states, -7);
      ASSERT_EQ(kTrellisColumns[VEK_CPU_GEN].acs(oldM.data(), next.data(), wantM.data(), r4.data(), wantS.data(),
                                                 states, offset),
                VEK_OK);
      for (int c = 0; c < VEK_COLUMN_COUNT; ++c) {
        const TrellisColumnFns& f = kTrellisColumns[c];
        // ss and wd write every 32-state next state from the fixed rows: they compare with the 65535 preset
        // and sums below it.
        if (states == 32 && (c == VEK_CPU_SS || c == VEK_CPU_WD) && (trial % 2 == 0 || range > 65535u / 2)) continue;
        std::vector<uint16_t> newM = preset;
        std::vector<int32_t> surv(offset + states, -7);
        ASSERT_EQ(f.acs(oldM.data(), next.data(), newM.data(), r4.data(), surv.data(), states, offset), VEK_OK);
        ASSERT_EQ(newM, wantM) << f.name << " states " << states << " trial " << trial;
        ASSERT_EQ(surv, wantS) << f.name << " states " << states << " trial " << trial;
      }
    }
  }
}

}  // namespace
