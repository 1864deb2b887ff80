// Line statistics for the controller's diagnostic screens: the levels of the sent and received signal, the
// echo the echo canceller models and the round-trip delay it was placed by, served as live memory
// parameters (their addresses are in window/parameter_ids.h) in the units the controller's level formulas
// take.
#pragma once

#include <cstdint>

struct DspContext;

struct LineStatistics {
    uint64_t rxPower;  // smoothed mean square of the received samples (squared sample units)
    uint64_t txPower;  // of the sent samples
};

void ResetLineStatistics(DspContext* context);
// After every block: the block's received and sent samples as the sample stream carried them.
void UpdateLineStatistics(DspContext* context);
void RegisterLineStatistics(DspContext* context);
// Whether the memory id is one of the statistics, and its value (little-endian, at most 16 bytes).
bool IsLineStatistic(uint32_t id);
void ReadLineStatistic(DspContext* context, uint32_t id, uint8_t* out);

// A level reading of a mean square: sqrt(ms x 36.5), so that 0 dBm0 (a sine of amplitude 22826, full scale
// being +3.14 dBm0) reads 97513 = 10^(25544 / 5120), the reading the controller's level formula takes for 0 dB.
uint32_t LineLevelReading(uint64_t meanSquare);
// The echo reference of a transmit mean square: sqrt(ms x 26.872), 10^(3659 / 2560) = 26.872 being the
// offset the controller's echo-loss formula takes out, so the loss comes out as the ratio of the two powers.
uint32_t LineEchoReference(uint64_t meanSquare);
