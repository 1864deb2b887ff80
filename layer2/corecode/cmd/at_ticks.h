// The tick service of the command side: the 10 ms countdowns of the interpreter and call control, counted
// from the platform clock, and the waits of the cooperative task.
//
// Waits inside the task (output drain, a stored line run to completion) run the countdowns only, never a
// call-control step, so call control is not re-entered from inside one of its own actions.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

uint32_t acu_now_ms();
void acu_sleep_1ms();
// False once the modem core's timers have stopped (port closed): a wait must give up then.
bool acu_may_wait(const AcuContext* acu);
// Runs one countdown step per 10 ms elapsed since the last call.
void acu_service_countdowns(AcuContext* acu);
// The tick service of a call-control pass (acu_service_ticks): the countdowns.
void acu_service_ticks(AcuContext* acu);
// One 10 ms step of every countdown.
void acu_tick_10ms(AcuContext* acu);
