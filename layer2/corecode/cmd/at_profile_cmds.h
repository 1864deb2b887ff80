// Handlers of the profile commands in BasicCommands: &W, &Y, &Z and &V.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

void at_amp_W(AcuContext* acu, uint8_t* args);
void at_amp_Y(AcuContext* acu, uint8_t* args);
void at_amp_Z(AcuContext* acu, uint8_t* args);
void at_amp_V(AcuContext* acu, uint8_t* args);
