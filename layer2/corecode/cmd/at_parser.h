// The command-line parser: the ordered table list, line preparation (spaces removed and upper case outside
// double quotes), matching the next command against the tables, and the validation pass.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"

enum TableListOp : uint8_t {
    TABLES_CLEAR = 0,
    TABLES_SAVE_AND_EMPTY = 1,
    TABLES_RESTORE = 2,
    TABLES_ADD_FRONT = 3,
    TABLES_REMOVE = 4,
};

// ManageCommandTables: returns the new count.
uint8_t at_table_list_op(AcuContext* acu, uint8_t op, const AtCommandEntry* table);
bool at_table_registered(const AcuContext* acu, const AtCommandEntry* table);

void at_begin_line(AcuContext* acu, const char* text);
// Spaces removed outside quotes, letters upper-cased outside quote pairs (in place).
void at_prepare_line(char* text);
// 0 one command executed, 1 error, 2 end of line.
int at_execute_step(AcuContext* acu);
int ExecuteNextCommand(AcuContext* acu);
// Runs the line held in the line buffer to completion; waits for pending output; returns the error flag.
uint8_t at_run_stored_line(AcuContext* acu);
// 1: only ValidationCommands registered; 0: the saved list back; other values set the error flag.
void at_validation_mode(AcuContext* acu, uint8_t on);
