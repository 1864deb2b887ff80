// The call-control state machine: the event queue, the state/event tables, the per-state backgrounds and
// the pass of the cooperative task. Everything else talks to it by posting events.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

extern const CallEventTable* const CallEventGrid[CALL_ROWS][CALL_COUNT];
extern const CallBackground CallBackgroundGrid[CALL_ROWS][CALL_COUNT];

void EventQueueInit(EventQueue* q);
// Queues an event (low bytes kept). With all nodes in use the event is dropped, counted and logged.
void PostCallEvent(AcuContext* acu, uint8_t event, uint8_t parameter);
void DispatchCallEvents(AcuContext* acu);
void DispatchStateBackground(AcuContext* acu);
// One pass of call control (the tick of the cooperative task).
void CallControlTick(AcuContext* acu);
// The command-mode step the task runs before the tick with slice setting 2 (nothing extra to do yet).
void CallControlCommandStep(AcuContext* acu);
void CallControlInit(AcuContext* acu);
void acu_recall_profile_deferred(AcuContext* acu);
// Hands a reset (Z) over to the deferred recall: re-initialise, load the profile, report "OK".
void acu_start_reset(AcuContext* acu, uint8_t profile);
// Parameter of the event being dispatched.
uint8_t acu_event_parameter(const AcuContext* acu);
