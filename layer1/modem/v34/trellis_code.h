// The four-dimensional trellis codes of V.34 with 16, 32 and 64 states. A four-dimensional subset is the
// parity bit Y0 (bit 0 of the two points' two-dimensional labels, added) with a 4-bit label w; the codes are
// systematic with feedback: Y0 of the next symbol is bit 0 of the state, and the state moves on with Y0 and
// the coded bits of w (bits 0-1 for 16 states; 0, 1 and 3 for 32; 0-3 for 64; the others are uncoded and
// choose among parallel branches).
#pragma once

#include <cstdint>

// The state after a symbol with label w from state; the parity the next symbol must carry is bit 0 of it.
uint8_t TrellisNextState(uint8_t state, int32_t states, uint32_t label);
// The coded bits of w of a code: 0x3, 0xB or 0xF.
uint32_t TrellisCodedMask(int32_t states);
