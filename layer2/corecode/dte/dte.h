// The DTE side of the modem core: rings, application queues, emulated lines and flow control.
// Every routine takes the device's DteContext first.
#pragma once

#include <cstdint>

#include "layer2/corecode/dte/dte_context.h"

// Serial event bits of the port layer's event word.
enum : uint32_t {
    SERIAL_EV_RXCHAR = 0x0001,
    SERIAL_EV_RXFLAG = 0x0002,
    SERIAL_EV_TXEMPTY = 0x0004,
    SERIAL_EV_CTS = 0x0008,
    SERIAL_EV_DSR = 0x0010,
    SERIAL_EV_RLSD = 0x0020,
    SERIAL_EV_BREAK = 0x0040,
    SERIAL_EV_ERR = 0x0080,
    SERIAL_EV_RING = 0x0100,
    SERIAL_EV_RX80FULL = 0x0400,
    SERIAL_EV_DSR_ON = 0x0800,
    SERIAL_EV_RLSD_ON = 0x1000,
    SERIAL_EV_RING_TRAIL = 0x2000,
    SERIAL_EV_TXCHAR = 0x4000,
};

// Modem-status byte bits.
enum : uint8_t {
    MSR_DCTS = 0x01,
    MSR_DDSR = 0x02,
    MSR_TERI = 0x04,
    MSR_DDCD = 0x08,
    MSR_CTS = 0x10,
    MSR_DSR = 0x20,
    MSR_RI = 0x40,
    MSR_DCD = 0x80,
};

// Comm error bits.
enum : uint32_t {
    COMM_ERROR_OVERRUN = 0x0001,
    COMM_ERROR_BREAK = 0x0010,
};

void dte_init(DteContext* d, PortRecord* port);

// Data rings.
void dte_from_clear(DteContext* d);
uint16_t dte_from_count(DteContext* d);
uint16_t dte_from_free(DteContext* d);
int dte_from_put(DteContext* d, uint8_t c);
uint8_t dte_from_char(DteContext* d);
void dte_to_clear(DteContext* d);
uint16_t dte_to_count(DteContext* d);
uint16_t dte_to_free(DteContext* d);
void dte_to_put(DteContext* d, uint8_t c);
void dte_to_drain(DteContext* d);

// Command rings.
void dte_cmd_in_clear(DteContext* d);
uint16_t dte_cmd_in_count(DteContext* d);
uint16_t dte_cmd_in_free(DteContext* d);
uint8_t dte_cmd_in_get(DteContext* d);
int dte_cmd_in_put(DteContext* d, uint8_t c);
void dte_cmd_out_clear(DteContext* d);
void dte_cmd_out_put(DteContext* d, uint8_t c);
uint16_t dte_cmd_out_pending(DteContext* d);
uint16_t dte_cmd_out_free(DteContext* d);
void dte_cmd_out_flush(DteContext* d);
void dte_cmd_flag_set(DteContext* d);
void dte_cmd_flag_clear(DteContext* d);

// On-line sniff ring.
void dte_sniff_put(DteContext* d, uint8_t c);
void dte_sniff_clear(DteContext* d);
uint16_t dte_sniff_count(DteContext* d);
uint8_t dte_sniff_get(DteContext* d);

// Application queues.
int dte_app_tx_put(DteContext* d, uint8_t c);
uint32_t dte_app_tx_count(DteContext* d);
uint8_t dte_app_tx_peek(DteContext* d);
uint8_t dte_app_tx_get(DteContext* d);
int dte_app_rx_put(DteContext* d, uint8_t c);
uint8_t dte_app_rx_get(DteContext* d);
uint8_t dte_app_rx_peek(DteContext* d);
uint32_t dte_app_rx_count(DteContext* d);
uint32_t dte_app_rx_free(DteContext* d);
void dte_app_queues_reset(DteContext* d, uint8_t type);
void dte_app_queues_clear_all(DteContext* d);

// Moving application bytes into the modem core.
void mc_rx_int(DteContext* d);
void mc_tx_notify_check(DteContext* d);
int dte_route_char(DteContext* d, uint8_t c);
int dte_rx_char(DteContext* d, uint8_t c);

// Flow control of the application by the from-DTE ring watermarks.
void dte_flow_off_check(DteContext* d);
void dte_flow_on_check(DteContext* d);
void dte_set_flow_thresholds(DteContext* d, uint16_t off_mark, uint16_t on_mark);
void dte_ring_sizes(DteContext* d, uint16_t* size, uint16_t* off_mark, uint16_t* on_mark);
void dte_itf_query(DteContext* d, uint16_t* size, uint16_t* off_mark, uint16_t* on_mark, uint16_t* off_min,
                   uint16_t* off_max, uint16_t* on_min, uint16_t* on_max, uint16_t* waiting);

// Emulated lines and line settings.
void dte_set_dtr(DteContext* d);
void dte_clear_dtr(DteContext* d);
void dte_set_rts(DteContext* d);
void dte_clear_rts(DteContext* d);
void dte_raise_dsr(DteContext* d);
void dte_drop_dsr(DteContext* d);
void dte_raise_cts(DteContext* d);
void dte_drop_cts(DteContext* d);
void dte_raise_dcd(DteContext* d);
void dte_drop_dcd(DteContext* d);
void dte_raise_ri(DteContext* d);
void dte_drop_ri(DteContext* d);
void dte_set_break(DteContext* d);
void dte_clear_break(DteContext* d);
int dte_set_baud_rate(DteContext* d, uint32_t baud);
int dte_set_data_bits(DteContext* d, uint8_t bits);
void dte_set_stop_bits(DteContext* d, uint8_t code);
void dte_set_parity(DteContext* d, uint8_t code);
uint32_t dte_get_baud_rate(DteContext* d);
uint8_t dte_get_data_bits(DteContext* d);
uint8_t dte_get_parity(DteContext* d);
uint8_t dte_get_parity_mode(DteContext* d, uint8_t* ignored, uint8_t* out1, uint8_t* out2);
DteLineState* dte_get_line_state(DteContext* d);
uint8_t dte_get_signal(DteContext* d, int index);
void dte_port_state_reset(DteContext* d);

// Modes and the clamp.
void dte_data_mode_start(DteContext* d, const uint8_t params[12]);
void dte_set_data_params(DteContext* d, const uint8_t params[12]);
void dte_clamp_on(DteContext* d);
void dte_clamp_off(DteContext* d);
void dte_clamp_enter(DteContext* d);
void dte_clamp_begin(DteContext* d);
// The command state on line: application bytes go to the command ring, and the bytes that wait in both
// data rings stay for the return to data (dte_clamp_release).
void dte_clamp_hold(DteContext* d);
void dte_clamp_release(DteContext* d);
void dte_end_clamp(DteContext* d);
void dte_command_mode_reset(DteContext* d);
void dte_to_command_mode(DteContext* d);
void dte_to_data_mode(DteContext* d);
// Voice transfers: application bytes go to the from-DTE ring as they are (the voice engine takes them).
void dte_voice_mode_start(DteContext* d, uint8_t in_options, uint8_t out_options);
void dte_leave_voice_mode(DteContext* d);

// Breaks towards the application: type 1 destructive, 2 expedited, 3 (and above) in sequence.
constexpr uint16_t DTE_BREAK_TICKS = 30;  // length of a break signalled towards the application
void dte_to_break(DteContext* d, uint8_t type);
void dte_break_tick(DteContext* d);
bool dte_break_reached(DteContext* d);

// The 10 ms data-path tick and the port layer's elapsed-time counters.
void dte_periodic_tick(DteContext* d);
void dte_add_elapsed(DteContext* d, uint32_t ms);
