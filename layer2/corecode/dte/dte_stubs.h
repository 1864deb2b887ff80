// Services of the modem core and the data link that the DTE side calls and that are not built yet.
// Each keeps the contract its callers rely on; the real routines replace these.
#pragma once

#include <cstdint>

struct DteContext;

// A break from the application: returns 1 when the from-DTE ring must be emptied.
int acu_dte_break(DteContext* d, uint8_t length_ticks, uint16_t waiting);
