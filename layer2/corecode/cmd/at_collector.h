// The command-line collector (one step per call-control pass), the DTE input poll, the clamp around mode
// changes, the on-line command detector and the interpreter's start-up.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

constexpr uint16_t POST_LINE_DELAY_TICKS = 13;
constexpr uint16_t POST_LINE_DELAY_SWITCHED = 5;
// Fax class 1: the far end starts its training check 75 ms after its last frame, and the application's +FRM
// (often after +FTS) must have the page receiver running by then. The short delay still swallows a line feed
// that follows the carriage return.
constexpr uint16_t POST_LINE_DELAY_FAX = 3;

void CollectCommandLine(AcuContext* acu);
// Posts the DTE-input event when the command input ring holds characters.
void at_poll_dte_input(AcuContext* acu);
void acu_clamp_dte(AcuContext* acu);
void acu_release_dte(AcuContext* acu);
// Echoes a character when the echo option is on and no echo hold is in force.
void at_echo(AcuContext* acu, uint8_t c);
// Reads the DTE rate (the kept one when the rate is fixed) and codes it into S23 bits 1-3.
void at_update_dte_rate(AcuContext* acu);

// The on-line command detector.
void at_escape_arm(AcuContext* acu);
void at_escape_step(AcuContext* acu);
void at_escape_tick(AcuContext* acu);
void at_escape_reset(AcuContext* acu);

void AtInterpreterInit(AcuContext* acu);
