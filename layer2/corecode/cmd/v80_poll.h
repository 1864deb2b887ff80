// Synchronous access as call control runs it: started at the connection when +ES asks for it, polled on each
// pass instead of error control, ended with the call.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

// Synchronous access runs on this device's line.
bool v80_running(AcuContext* acu);
// At the connection: DTE mode 5 (held until the connection is reported), the +ESA parameters, the line's
// synchronous path in transparent sub-mode.
void v80_start(AcuContext* acu);
void v80_end(AcuContext* acu);
// One step; answers as error control's poll does for a link without error control (5) while it runs.
uint8_t v80_poll(AcuContext* acu);
