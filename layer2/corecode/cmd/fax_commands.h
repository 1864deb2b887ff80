// The fax command tables and their registration in the interpreter's table list.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

// The service class, adaptive answer and fax identification (registered from the start).
extern const AtCommandEntry FaxCommands[];
// The class 1 commands (registered while the modem offers class 1 and the voice set is not selected).
extern const AtCommandEntry FaxClass1Commands[];

// 1 adds the table at the front of the table list, anything else removes it.
void fax_cmd_table_enable(AcuContext* acu, uint8_t on);
void fax_class1_cmd_table_enable(AcuContext* acu, uint8_t on);
// +FRS: one step of the wait for silence (a character from the application ends it, sound restarts it).
void fax_silence_step(AcuContext* acu);
