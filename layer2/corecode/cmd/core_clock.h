// What the controller's core code asks of the modem core that runs it (built by the driver frame): whether
// its tick runs, the millisecond clock the waits measure with, and short sleeps.
#pragma once

#include "platform/kernel.h"

struct ModemCore;

// True while the core's tick thread serves the controller task.
bool modem_core_tick_running(const ModemCore* core);
// Milliseconds of the precise (interrupt) time, low 32 bits: what the tick thread measures its gaps with.
// Where timers expire on clock ticks it equals tmr_tick_ms; where they do not (a 10 ms timer on a 15.625 ms
// tick), measuring with the tick count would see gaps of 0 and 15 ms and run the message clock fast.
ULONG tmr_elapsed_ms();
void tmr_delay_1ms();
void tmr_delay_ms(ULONG ms);
