// V.34 shell mapping: a K-bit index onto eight ring indices 0 ... M - 1, the tuples ordered by their total,
// then by the sum of the first four rings, then by the index of the last four and of the first four (each
// half ordered the same way by its two ring pairs).
#pragma once

#include <cstdint>

#include "layer1/modem/v34/v34_framing.h"

// rings[0..7] in transmission order; index below M^8 (z8 of the tables' last entry).
void ShellMap(uint32_t index, const V34FrameParams* tables, uint8_t rings[8]);
