// The S-register file S0-S119: which registers exist, their limits and factory values, and the checked
// write and read that "=" and "?" use.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

struct SRegisterDescriptor {
    uint8_t exists;
    uint8_t minimum;
    uint8_t maximum;
    uint8_t factory;
};

extern const SRegisterDescriptor SRegisterTable[S_REGISTER_COUNT];

// Factory values into every existing register (S81-S83 and S91-S93 get their non-volatile reset values).
void at_sreg_factory(AcuContext* acu);
// Writes register n with the clamp of its limits; false when refused (no such register, S30 above 255).
bool at_sreg_write(AcuContext* acu, uint32_t n, uint32_t value);
// The value of an existing register, else 0.
uint8_t at_sreg_read(const AcuContext* acu, uint32_t n);
