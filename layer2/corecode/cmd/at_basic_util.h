// Small helpers shared by the basic command handlers.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

inline bool acu_voice(const AcuContext* acu) { return acu->voice_mode != 0; }
inline bool acu_fax8(const AcuContext* acu) { return acu->fax_class == 8; }

// Sets or clears bit `bit` of S-register n.
inline void at_sreg_bit(AcuContext* acu, unsigned n, unsigned bit, bool on)
{
    if (on)
        acu->sreg[n] = static_cast<uint8_t>(acu->sreg[n] | (1u << bit));
    else
        acu->sreg[n] = static_cast<uint8_t>(acu->sreg[n] & ~(1u << bit));
}

// Replaces the bits of S-register n selected by mask with value (already shifted).
inline void at_sreg_field(AcuContext* acu, unsigned n, uint8_t mask, uint8_t value)
{
    acu->sreg[n] = static_cast<uint8_t>((acu->sreg[n] & ~mask) | (value & mask));
}

// True (and the error flag set) when the byte argument lies above max.
inline bool at_refuse_above(AcuContext* acu, const uint8_t* args, uint8_t max)
{
    if (args[0] > max) {
        acu->command_error = 1;
        return true;
    }
    return false;
}

void at_apply_ifc(AcuContext* acu, uint8_t a, uint8_t b);
// Q and W are in both basic tables.
void at_Q(AcuContext* acu, uint8_t* args);
void at_W(AcuContext* acu, uint8_t* args);
