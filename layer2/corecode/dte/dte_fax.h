// The fax DTE (DTE mode 3): the application's bytes during a class 1 command go to the from-DTE ring as they
// are (eight bits, no escape detection), only the flow characters being honoured when the command asks for it.
#pragma once

#include <cstdint>

struct DteContext;

// Data mode `mode` (3 fax, 5 synchronous access) with eight bits, no parity, the flow characters 0x11/0x13
// both ways and the escape character and guard given; the data rings emptied.
void dte_binary_mode_start(DteContext* d, uint8_t mode, uint8_t in_options, uint8_t out_options, uint8_t escape,
                           uint8_t guard);
// Data mode for a fax command: input options (bit 0 honour XON/XOFF from the application, bit 1 RTS), output
// options (bit 0 send XON/XOFF, bit 1 drive CTS); both data rings emptied, eight bits without parity.
void fax_dte_start(DteContext* d, uint8_t in_options, uint8_t out_options);
// Back to the command state: DTE mode 1, application bytes to the command ring.
void fax_dte_stop(DteContext* d);
// One byte from the application; 1 refused (the from-DTE ring is full).
int fax_dte_put(DteContext* d, uint8_t c);
