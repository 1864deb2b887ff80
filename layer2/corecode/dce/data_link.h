// The data link of one device: the error-control manager bound to the device's DTE rings and line block.
// LAPM frames travel through the line block's framed path (the data pump adds flags and FCS), the V.42
// detection phase through its detection path, and buffered mode through the plain path. Call control starts
// it at the connection with the values composed from its settings, polls it on every pass and ticks it every
// 10 ms; everything runs in call control's task except the line block's service.
#pragma once

#include <cstdint>

#include "layer2/corecode/ec/ec_manager.h"

struct DteContext;
struct LineBlock;

// Bit 2 of the MNP line-side option bits (EcParams slot 15) beside the plain path's LinePlainOption bits 0
// and 1: keep the raw bytes received during the set-up (slot 7 is the drop time in seconds, slot 16 the
// fall-back character).
constexpr uint8_t EC_LINE_RAW_BUFFERING = 0x04;

// What call control hands over when a connection starts.
struct DataLinkStart {
    EcParams params;
    uint8_t request;           // 0 originate, 1 answer
    uint16_t tx_rate;          // line rates in bit/s
    uint16_t rx_rate;
    uint8_t delivery_setting;  // delivery after disconnect (0 off)
    uint16_t delivery_time;
    uint8_t connection_mode;   // 2: the retransmission budget applies
    V44Params v44;             // +DS44 request (direction 0: V.44 not offered)
};

struct DataLink {
    EcManager ec;
    LapmCallValues call;
    DteContext* dte;
    LineBlock* lb;
    uint8_t started;
    uint8_t ending;            // ec_disconnect asked the link to send its disconnect
    uint8_t fell_back;         // the MNP set-up gave way to the plain path, which keeps what it received
    uint8_t ticks;             // 10 ms ticks towards the next 100 ms protocol tick
    uint16_t line_rate;
};

// Binds the data link to the device's DTE side and line block (sets dte->data_link and the line block's
// frame operations). The manager is idle afterwards.
void data_link_bind(DataLink* dl, DteContext* dte, LineBlock* lb);
void data_link_unbind(DataLink* dl);
