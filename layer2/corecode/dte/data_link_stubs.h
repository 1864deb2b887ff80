// Stand-ins for the data-link services that the modem core calls and that are not built yet: error
// control, the V.44 parameter checks, the line-block service and the trace hooks (the voice engine's ring
// check is declared here too). Each keeps the contract its callers rely on until the real routine replaces it.
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/v44.h"

struct DteContext;

// The data link of a connection (layer2/corecode/dce/data_link.cpp): ec_start hands over the values composed
// from the settings, ec_poll runs one step and returns the running protocol's status (1 while negotiating;
// LAPM 2 held, 4 disconnecting, 6 information transfer; MNP 3 connected, 5 buffered mode; 0 the link is
// down), ec_tick_10ms times it, ec_stop ends it at once. Without an error-control record bound to the device
// a started link runs buffered mode and answers 5.
struct DataLinkStart;
uint8_t ec_poll(DteContext* d);
void ec_start(DteContext* d, const DataLinkStart* start);
void ec_stop(DteContext* d);
// Asks a running error-corrected link (LAPM or MNP) to send its disconnect (DISC, LD) with the given reason;
// whether it does (false for buffered mode, detection, or no link). The link stops once the disconnect is
// done (LAPM: answered, MNP: sent), and ec_poll answers 0 from then on.
bool ec_disconnect(DteContext* d, uint8_t reason);
constexpr uint8_t EC_DISCONNECT_LOCAL = 255;  // the reason of a disconnect the call asks for
// Whether the disconnect asked by ec_disconnect is still under way.
bool ec_disconnecting(DteContext* d);
void ec_tick_10ms(DteContext* d);
// What the connection report prints of the link: the protocol code (6 LAPM, 3 MNP, 5 none) and the
// compression state 0-7 (0 none, 1-3 V.42bis receive / transmit / both, 4-6 the same for V.44).
void ec_report_values(DteContext* d, uint8_t* protocol, uint8_t* compression);
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
