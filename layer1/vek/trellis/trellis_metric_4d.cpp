// 4D subset metrics: each 4D subset keeps the best of its pairs of 2D subsets (first point, second point),
// compared as unsigned 16-bit sums, the earlier pair winning ties. Entries 0-7 of the input belong to the first
// 2D point, 8-15 to the second. The mask is bounded to the record count, so no index leaves the input.
#include <array>
#include <cstddef>

#include "layer1/vek/trellis/trellis.h"
#include "layer1/vek/trellis/trellis_shape.h"

namespace vek_trellis {
namespace {

TrellisMetric4d Best(const int32_t* m, const Pairs& p) {
  TrellisMetric4d best{};
  for (int32_t n = 0; n < p.count; ++n) {
    const int32_t first = m[p.a[n]];
    const int32_t second = m[8 + p.b[n]];
    const auto sum = static_cast<uint16_t>(Distance(first) + Distance(second));
    if (n == 0 || sum < best.metric) {
      best.metric = sum;
      best.label = static_cast<uint16_t>(Code(first) | (Code(second) << 8));
    }
  }
  return best;
}

VekStatus Metric4dLoop(const int32_t* metrics2d, TrellisMetric4d* out, int32_t states, int32_t mask) {
  if (metrics2d == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  const Shape shape = ShapeOf(states);
  const int32_t bound = shape.records4d - 1;
  for (int32_t i = 0; i < shape.records4d; ++i) {
    out[i] = Best(metrics2d, PairsOf(shape.states, i, (i ^ mask) & bound));
  }
  return VEK_OK;
}

// With mask 0 the pairs of every record are fixed per state count: computed once from the rule.
template <int32_t States>
constexpr auto PairTable() {
  std::array<Pairs, ShapeOf(States).records4d> t{};
  for (int32_t i = 0; i < ShapeOf(States).records4d; ++i) t[i] = PairsOf(States, i, i);
  return t;
}

constexpr auto kPairs16 = PairTable<16>();
constexpr auto kPairs32 = PairTable<32>();
constexpr auto kPairs64 = PairTable<64>();

template <std::size_t N>
void Unmasked(const int32_t* m, TrellisMetric4d* out, const std::array<Pairs, N>& table) {
  for (std::size_t i = 0; i < N; ++i) out[i] = Best(m, table[i]);
}

VekStatus Metric4dTable(const int32_t* metrics2d, TrellisMetric4d* out, int32_t states, int32_t mask) {
  if (metrics2d == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (mask != 0) return Metric4dLoop(metrics2d, out, states, mask);
  switch (ShapeOf(states).states) {
    case 16:
      Unmasked(metrics2d, out, kPairs16);
      break;
    case 32:
      Unmasked(metrics2d, out, kPairs32);
      break;
    default:
      Unmasked(metrics2d, out, kPairs64);
      break;
  }
  return VEK_OK;
}

}  // namespace
}  // namespace vek_trellis

VekStatus vek_trellis_metric_4d_gen(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                    int32_t mask) {
  return vek_trellis::Metric4dLoop(metrics2d, metrics4d, states, mask);
}
VekStatus vek_trellis_metric_4d_ss(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                   int32_t mask) {
  return vek_trellis::Metric4dTable(metrics2d, metrics4d, states, mask);
}
VekStatus vek_trellis_metric_4d_wd(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                   int32_t mask) {
  return vek_trellis::Metric4dTable(metrics2d, metrics4d, states, mask);
}
