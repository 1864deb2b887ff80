// The rate choice of the receiver's training: the MSE limits of each data rate per symbol rate, and the
// highest rate whose limit the measured MSE meets.
#pragma once

#include <cstdint>

constexpr int32_t kV34RateNotAllowed = 2;   // a rate the symbol rate does not offer
constexpr int32_t kV34RateEnd = 1;          // the rates above the symbol rate's maximum
constexpr int32_t kV34RateEntries = 14;     // rate indexes 1-14 (2400 ... 33600 bit/s)

// The row of a symbol-rate index (0-5; others give the 2400-baud row): entry n - 1 for rate index n.
const int32_t* V34RateThresholds(int32_t symbolRateIndex);

// The MSE as the rate choice takes it: the sum of 256 squared errors >> 4, and 0.9 of that with the 64-state
// code (trellis field 2).
uint32_t V34ChoiceMse(uint64_t squaredErrorSum, int32_t trellisField);

// The chosen rate index: the entries are counted from the start, a rate not offered is passed over, the end
// stops the count, and so does a limit below the MSE (an MSE equal to the limit passes). 0: not even the
// lowest rate.
int32_t ChooseV34Rate(int32_t symbolRateIndex, uint32_t mse);
