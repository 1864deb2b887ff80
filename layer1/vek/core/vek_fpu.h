// Access to the x87 control word for variants that set precision or rounding for one call.
#pragma once

#include <cstdint>

// Returns the current x87 control word and, when (old & ~mask) | (value & mask) differs from it, loads that
// word. A mask of 0 only reads. Mask 0x0F00 covers precision and rounding control, 0x0C00 rounding only.
std::uint16_t vek_fpu_set_control(std::uint16_t value, std::uint16_t mask);

// Loads a control word, typically the one vek_fpu_set_control returned.
void vek_fpu_load_control(std::uint16_t controlWord);
