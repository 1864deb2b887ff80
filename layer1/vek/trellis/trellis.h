// Trellis primitives for Viterbi decoding of four-dimensional trellis codes with 16, 32 or 64 states: 2D
// branch metrics, 4D subset metrics and one add-compare-select step, per column.
//
// A 2D metric entry (one int32 per 2D subset) holds the distance in bits 0-15 and the candidate code in bits
// 16-31. A survivor entry (one int32 per state and symbol) holds the winning 4D label in bits 0-15 and the
// predecessor state in bits 16-31.
#pragma once

#include <cstdint>

#include "layer1/vek/core/vek_status.h"
#include "layer1/vek/core/vek_types.h"

// One 4D subset: label (low byte the candidate code of the first 2D point, high byte that of the second) and
// the sum of the two 2D distances.
struct TrellisMetric4d {
  uint16_t label;
  uint16_t metric;
};

// The same function in every column.
VekStatus vek_trellis_metric_2d_gen(const int16_t* point, int32_t* corner, int32_t* metrics2d,
                                    const uint8_t* labelMap, int32_t states);

// gen serves the gen and mm columns; ss and wd reach the same results by other loops.
VekStatus vek_trellis_metric_4d_gen(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                    int32_t mask);
VekStatus vek_trellis_metric_4d_ss(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                   int32_t mask);
VekStatus vek_trellis_metric_4d_wd(const int32_t* metrics2d, TrellisMetric4d* metrics4d, int32_t states,
                                   int32_t mask);

VekStatus vek_trellis_acs_gen(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                              const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset);
VekStatus vek_trellis_acs_ss(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                             const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset);
VekStatus vek_trellis_acs_wd(const uint16_t* oldMetrics, const uint8_t* nextState, uint16_t* newMetrics,
                             const TrellisMetric4d* metrics4d, int32_t* survivors, int32_t states, int32_t offset);
