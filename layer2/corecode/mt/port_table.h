// The port-operation table and calls through it.
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/port_record.h"

void port_table_fill(PortFunctionTable* table);
// Calls a slot; 0 (failure) for an empty slot or a port without a table.
int port_call(PortRecord* port, int slot, uintptr_t a1 = 0, uintptr_t a2 = 0, uintptr_t a3 = 0, uintptr_t a4 = 0);
// The receive-callback check timer's DPC.
KDEFERRED_ROUTINE port_read_check_dpc;
