// Stand-ins for the data-link services that the modem core calls and that are not built yet: error
// control, the V.44 parameter checks, the line-block service and the trace hooks (the voice engine's ring
// check is declared here too). Each keeps the contract its callers rely on until the real routine replaces it.
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/v44.h"

struct DteContext;

// The data link of a connection (layer2/corecode/dce/data_link.cpp). Until error control is wired in, a
// started link runs buffered mode: ec_poll returns 1 until ec_start, then 5 (buffered mode) while it moves
// the connection's bytes; ec_stop ends it and stops the line block.
uint8_t ec_poll(DteContext* d);
void ec_start(DteContext* d);
void ec_stop(DteContext* d);
// Always 0 (profiles that need it are refused).
int ec_hook_false();

// +DS44 range checks, non-zero when the value is accepted. Direction, negotiation, capability and string
// length are the data link's own (v44.h); the size checks stand in for the ones against the device's
// supported maxima (v44.h) and take the ranges of the unlimited maxima.
int v44_check_tx_codewords(uint32_t value);
int v44_check_rx_codewords(uint32_t value);
int v44_check_tx_history(uint32_t value);
int v44_check_rx_history(uint32_t value);
void v44_free_dictionaries(DteContext* d);

// Rings are reported outside voice mode, and in voice mode when the active event mask asks for them
// (layer2/corecode/voice).
int voice_ring_allowed(DteContext* d);

// Shared hooks (empty).
void core_error_report(const char* source, int line);
void trace_data(const uint8_t* buffer, uint32_t length, int direction);
void trace_hook(uint32_t value);
void* stub_return_null();
