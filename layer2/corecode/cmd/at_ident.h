// The identification texts of the I command.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

extern const char kIdentProduct[];
extern const char kIdentShort[];
extern const char kIdentRelease[];

void at_identify(AcuContext* acu, uint8_t which);
