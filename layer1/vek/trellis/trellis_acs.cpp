// Add-compare-select: each old state adds its path metric to the metric of each branch's 4D subset
// ((state mod 2) + 2 x branch) and replaces the next state's new metric when strictly smaller, recording the
// label and the predecessor. Old states run in ascending order, so ties go to the lowest predecessor and,
// within it, the lowest branch. Next-state bytes are bounded to the state count.
//
// ss: with 16 states the four branches of an old state are added and compared at once (they lead to distinct
// next states). ss and wd: with 32 states the fixed transitions of states 0-3 write the new metrics and
// survivors of all 32 next states unconditionally, then states 4-31 follow the common loop. wd runs the
// common loop (all 16 states, 32-state states 4-31, all 64 states) branch-free, on one key per candidate
// (AcsStatesByKeys), which decides as the loop does for any table.
#include <emmintrin.h>
#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstring>

#include "layer1/vek/trellis/trellis.h"
#include "layer1/vek/trellis/trellis_shape.h"

namespace vek_trellis {
namespace {

struct AcsArgs {
  const uint16_t* oldMetrics;
  const uint8_t* nextState;
  uint16_t* newMetrics;
  const TrellisMetric4d* metrics4d;
  int32_t* survivors;
  int32_t offset;
};

void Record(const AcsArgs& a, int32_t next, uint32_t candidate, int32_t subset, int32_t from) {
  a.newMetrics[next] = static_cast<uint16_t>(candidate);
  a.survivors[a.offset + next] =
      static_cast<int32_t>(a.metrics4d[subset].label + (static_cast<uint32_t>(from) << 16));
}

void AcsStates(const AcsArgs& a, const Shape& s, int32_t first) {
  for (int32_t i = first; i < s.states; ++i) {
    const uint8_t* row = a.nextState + static_cast<int64_t>(i) * s.branches;
    for (int32_t j = 0; j < s.branches; ++j) {
      const int32_t next = row[j] & (s.states - 1);
      const int32_t subset = (i & 1) + 2 * j;
      const uint32_t candidate = static_cast<uint32_t>(a.oldMetrics[i]) + a.metrics4d[subset].metric;
      if (candidate < a.newMetrics[next]) Record(a, next, candidate, subset, i);
    }
  }
}

// States 0-3 of the 32-state code, from their fixed transitions.
void AcsFixed32(const AcsArgs& a) {
  for (int32_t i = 0; i < 4; ++i) {
    for (int32_t j = 0; j < 8; ++j) {
      const int32_t subset = (i & 1) + 2 * j;
      Record(a, kFixed32[i][j], static_cast<uint32_t>(a.oldMetrics[i]) + a.metrics4d[subset].metric, subset, i);
    }
  }
}

// The four branches of one old state of the 16-state code lead to subsets parity, parity + 2, + 4, + 6:
// the old metric is added to all four at once and the sums compared with the four next states' metrics in
// one instruction; the winners are then written in branch order (ss, on MMX registers).
struct MmxBranches {
  struct V {
    __m64 lo, hi;
  };
  static V Metrics(const TrellisMetric4d* m, int32_t parity) {
    return V{_mm_setr_pi32(m[parity].metric, m[parity + 2].metric),
             _mm_setr_pi32(m[parity + 4].metric, m[parity + 6].metric)};
  }
  static int Wins(V metrics, uint16_t old, const uint32_t* cur, uint32_t* cand) {
    const __m64 o = _mm_set1_pi32(old);
    const __m64 c0 = _mm_add_pi32(o, metrics.lo);
    const __m64 c1 = _mm_add_pi32(o, metrics.hi);
    std::memcpy(cand, &c0, 8);
    std::memcpy(cand + 2, &c1, 8);
    __m64 n0, n1;
    std::memcpy(&n0, cur, 8);
    std::memcpy(&n1, cur + 2, 8);
    const int lo = _mm_movemask_pi8(_mm_cmpgt_pi32(n0, c0));
    const int hi = _mm_movemask_pi8(_mm_cmpgt_pi32(n1, c1));
    return (lo & 0x01) | ((lo >> 3) & 0x02) | ((hi & 0x01) << 2) | ((hi >> 1) & 0x08);
  }
  static void Done() { _mm_empty(); }
};

template <typename Simd>
void Acs16Parallel(const AcsArgs& a) {
  const typename Simd::V metrics[2] = {Simd::Metrics(a.metrics4d, 0), Simd::Metrics(a.metrics4d, 1)};
  for (int32_t i = 0; i < 16; ++i) {
    const uint8_t* row = a.nextState + 4 * i;
    alignas(16) uint32_t cand[4];
    alignas(16) uint32_t cur[4];
    int32_t next[4];
    for (int32_t j = 0; j < 4; ++j) {
      next[j] = row[j] & 15;
      cur[j] = a.newMetrics[next[j]];
    }
    const int wins = Simd::Wins(metrics[i & 1], a.oldMetrics[i], cur, cand);
    for (int32_t j = 0; j < 4; ++j) {
      if ((wins >> j) & 1) Record(a, next[j], cand[j], (i & 1) + 2 * j, i);
    }
  }
  Simd::Done();
}

bool AnyNull(const uint16_t* o, const uint8_t* t, uint16_t* n, const TrellisMetric4d* m, int32_t* s) {
  return o == nullptr || t == nullptr || n == nullptr || m == nullptr || s == nullptr;
}

// The loop of AcsStates without its branches, for the SSE2 column. Each candidate becomes one key,
// (sum << 11) | (old state << 5) | (branch << 1) | 1, and every next state keeps the smallest key it is offered,
// starting from (its present metric << 11): the smallest sum wins, among equal sums the lowest state and then
// the lowest branch (the order of the loop), and a sum equal to the present metric loses to it as a strict
// comparison requires. Sums reach 17 bits, so the keys fit in 28. The keys of one old state's branches are
// formed four at a time.
template <int32_t States>
void AcsStatesByKeys(const AcsArgs& a, int32_t first) {
  constexpr int32_t kBranches = States / 4;
  constexpr int32_t kGroups = kBranches / 4;
  uint32_t best[States];
  for (int32_t n = 0; n < States; ++n) best[n] = static_cast<uint32_t>(a.newMetrics[n]) << 11;
  __m128i branchKeys[2][kGroups];
  for (int32_t parity = 0; parity < 2; ++parity)
    for (int32_t g = 0; g < kGroups; ++g) {
      alignas(16) uint32_t k[4];
      for (int32_t q = 0; q < 4; ++q) {
        const int32_t j = 4 * g + q;
        k[q] = (static_cast<uint32_t>(a.metrics4d[parity + 2 * j].metric) << 11) | (static_cast<uint32_t>(j) << 1) | 1u;
      }
      branchKeys[parity][g] = _mm_load_si128(reinterpret_cast<const __m128i*>(k));
    }
  // Next-state bytes are reduced to the state count a row at a time.
  const __m128i mask = _mm_set1_epi8(static_cast<char>(States - 1));
  for (int32_t i = first; i < States; ++i) {
    alignas(16) uint8_t row[16];
    __m128i bytes;
    if constexpr (kBranches == 16) {
      bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.nextState + 16 * static_cast<int64_t>(i)));
    } else {
      int64_t part = 0;
      std::memcpy(&part, a.nextState + kBranches * static_cast<int64_t>(i), kBranches);
      bytes = _mm_cvtsi64_si128(part);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(row), _mm_and_si128(bytes, mask));
    const __m128i base = _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(a.oldMetrics[i]) << 11) |
                                                         (static_cast<uint32_t>(i) << 5)));
    alignas(16) uint32_t keys[kBranches];
    for (int32_t g = 0; g < kGroups; ++g)
      _mm_store_si128(reinterpret_cast<__m128i*>(keys + 4 * g), _mm_add_epi32(base, branchKeys[i & 1][g]));
#pragma GCC unroll 16
    for (int32_t j = 0; j < kBranches; ++j) {
      uint32_t& b = best[row[j]];
      b = keys[j] < b ? keys[j] : b;
    }
  }
  for (int32_t n = 0; n < States; ++n) {
    const uint32_t key = best[n];
    if ((key & 1u) == 0) continue;
    const int32_t from = static_cast<int32_t>((key >> 5) & 63u);
    Record(a, n, key >> 11, (from & 1) + 2 * static_cast<int32_t>((key >> 1) & 15u), from);
  }
}

template <typename Simd>
VekStatus AcsVector(const AcsArgs& a, int32_t states) {
  const Shape s = ShapeOf(states);
  if (s.states == 16) {
    Acs16Parallel<Simd>(a);
  } else if (s.states == 32) {
    AcsFixed32(a);
    AcsStates(a, s, 4);
  } else {
    AcsStates(a, s, 0);
  }
  return VEK_OK;
}

VekStatus AcsKeyed(const AcsArgs& a, int32_t states) {
  const Shape s = ShapeOf(states);
  if (s.states == 16) {
    AcsStatesByKeys<16>(a, 0);
  } else if (s.states == 32) {
    AcsFixed32(a);
    AcsStatesByKeys<32>(a, 4);
  } else {
    AcsStatesByKeys<64>(a, 0);
  }
  return VEK_OK;
}

}  // namespace
}  // namespace vek_trellis

using vek_trellis::AcsArgs;

VekStatus vek_trellis_acs_gen(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                              const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset) {
  if (vek_trellis::AnyNull(oldMetrics, nextState, newMetrics, metrics4d, survivors)) return VEK_ERR_NULL_POINTER;
  vek_trellis::AcsStates(AcsArgs{oldMetrics, nextState, newMetrics, metrics4d, survivors, offset},
                         vek_trellis::ShapeOf(states), 0);
  return VEK_OK;
}
VekStatus vek_trellis_acs_ss(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                             const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset) {
  if (vek_trellis::AnyNull(oldMetrics, nextState, newMetrics, metrics4d, survivors)) return VEK_ERR_NULL_POINTER;
  return vek_trellis::AcsVector<vek_trellis::MmxBranches>(
      AcsArgs{oldMetrics, nextState, newMetrics, metrics4d, survivors, offset}, states);
}
VekStatus vek_trellis_acs_wd(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                             const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset) {
  if (vek_trellis::AnyNull(oldMetrics, nextState, newMetrics, metrics4d, survivors)) return VEK_ERR_NULL_POINTER;
  return vek_trellis::AcsKeyed(AcsArgs{oldMetrics, nextState, newMetrics, metrics4d, survivors, offset}, states);
}
