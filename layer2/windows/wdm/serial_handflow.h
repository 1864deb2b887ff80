// Conversion between the serial handflow record and the port's comm state (through the DCB form).
#pragma once

#include "layer2/corecode/mt/port_record.h"
#include "platform/kernel.h"

// hf: control handshake, flow replace, XON limit, XOFF limit.
void ModemHandflowToState(const ULONG hf[4], PortCommState* state);
// The two bits the DCB cannot carry (DCD handshake, break character) come from the stored record.
void ModemHandflowFromState(const PortCommState* state, const ULONG stored[4], ULONG hf[4]);
