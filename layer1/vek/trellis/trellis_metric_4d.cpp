// 4D subset metrics: each 4D subset keeps the best of its pairs of 2D subsets (first point, second point),
// compared as unsigned 16-bit sums, the earlier pair winning ties. Entries 0-7 of the input belong to the first
// 2D point, 8-15 to the second. The mask is bounded to the record count, so no index leaves the input.
#include <cstddef>
#include <utility>

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

// With mask 0 the pairs of every record are fixed per state count: taken from the rule at compile time.
// Straight-line code: each record's pairs are constants of the instance, the choice a conditional move.
template <int32_t States, int32_t I>
inline TrellisMetric4d BestFixed(const int32_t* m) {
  constexpr Pairs p = PairsOf(States, I, I);
  uint16_t metric = 0, label = 0;
  for (int32_t n = 0; n < p.count; ++n) {
    const int32_t first = m[p.a[n]];
    const int32_t second = m[8 + p.b[n]];
    const auto sum = static_cast<uint16_t>(Distance(first) + Distance(second));
    const auto code = static_cast<uint16_t>(Code(first) | (Code(second) << 8));
    const bool take = n == 0 || sum < metric;
    metric = take ? sum : metric;
    label = take ? code : label;
  }
  return TrellisMetric4d{label, metric};
}

template <int32_t States, int32_t... I>
void UnmaskedFixed(const int32_t* m, TrellisMetric4d* out, std::integer_sequence<int32_t, I...>) {
  ((out[I] = BestFixed<States, I>(m)), ...);
}

template <int32_t States>
void Unmasked(const int32_t* m, TrellisMetric4d* out) {
  UnmaskedFixed<States>(m, out, std::make_integer_sequence<int32_t, ShapeOf(States).records4d>{});
}

VekStatus Metric4dTable(const int32_t* metrics2d, TrellisMetric4d* out, int32_t states, int32_t mask) {
  if (metrics2d == nullptr || out == nullptr) return VEK_ERR_NULL_POINTER;
  if (mask != 0) return Metric4dLoop(metrics2d, out, states, mask);
  switch (ShapeOf(states).states) {
    case 16:
      Unmasked<16>(metrics2d, out);
      break;
    case 32:
      Unmasked<32>(metrics2d, out);
      break;
    default:
      Unmasked<64>(metrics2d, out);
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
