// Typed port-layer operations. The port-operation table holds thin adapters to these.
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/port_record.h"

// The 28-byte DCB form of the comm state, as fields (the byte image is written by port_dcb_pack).
struct CommDcb {
    uint32_t length;  // 28
    uint32_t baud;
    uint8_t f_binary;
    uint8_t f_parity;
    uint8_t f_outx_cts_flow;
    uint8_t f_outx_dsr_flow;
    uint8_t f_dtr_control;  // 0 disabled, 1 enabled, 2 handshake
    uint8_t f_dsr_sensitivity;
    uint8_t f_tx_continue_on_xoff;
    uint8_t f_out_x;
    uint8_t f_in_x;
    uint8_t f_error_char;
    uint8_t f_null;
    uint8_t f_rts_control;  // 0 disabled, 1 enabled, 2 handshake, 3 toggle
    uint8_t f_abort_on_error;
    uint16_t xon_lim;
    uint16_t xoff_lim;
    uint8_t byte_size;
    uint8_t parity;
    uint8_t stop_bits;
    uint8_t xon_char;
    uint8_t xoff_char;
    uint8_t error_char;
    uint8_t eof_char;
    uint8_t evt_char;
};

constexpr uint32_t COMM_DCB_SIZE = 28;
constexpr uint32_t COMM_CONFIG_SIZE = 48;
constexpr uint32_t COMM_PROP_SIZE = 64;

// Set-up of the port record and its operation table (run by the modem-core start).
void port_layer_setup(PortRecord* port, ModemDeviceExtension* ext, DteContext* dte, volatile uint8_t* window,
                      uint32_t irq_level);
void port_comm_state_defaults(PortCommState* s);

// The operations, in slot order.
int port_set_comm_state(PortRecord* port, const PortCommState* state, uint32_t mask);
int port_get_comm_state(PortRecord* port, PortCommState* state);
int port_setup_queues(PortRecord* port, uint8_t* rx_buffer, uint32_t rx_size, uint8_t* tx_buffer, uint32_t tx_size);
int port_transmit_char(PortRecord* port, uint8_t c);
int port_close(PortRecord* port);
int port_get_queue_status(PortRecord* port, PortQueueStatus* status);
int port_clear_error(PortRecord* port, PortQueueStatus* status, uint32_t* errors);
int port_set_msr_shadow(PortRecord* port, uint8_t* shadow);
int port_get_properties(PortRecord* port, uint8_t* commprop64);
int port_escape(PortRecord* port, uint32_t function, uintptr_t argument, uintptr_t* out);
int port_purge(PortRecord* port, uint32_t which);  // 0 transmit, 1 receive, 2 both
int port_set_event_mask(PortRecord* port, uint32_t mask, uint32_t* event_word);
int port_get_event_mask(PortRecord* port, uint32_t clear_mask, uint32_t* out);
int port_write(PortRecord* port, const uint8_t* data, uint32_t length, uint32_t* count);
int port_read(PortRecord* port, uint8_t* buffer, uint32_t length, uint32_t* count);
int port_enable_notification(PortRecord* port, PortCallback routine, void* data);
int port_set_read_callback(PortRecord* port, uint32_t threshold, PortCallback routine, void* data);
int port_set_write_callback(PortRecord* port, uint32_t threshold, PortCallback routine, void* data);
int port_get_modem_status(PortRecord* port, uint32_t* status);
int port_get_comm_config(PortRecord* port, uint8_t* buffer, uint32_t* size);
int port_set_comm_config(PortRecord* port, const uint8_t* buffer, uint32_t size);
int port_get_error(PortRecord* port, int32_t* out);
PortRecord* port_open(PortRecord* port, const uint8_t name[12], uint32_t value, int32_t* error);

// Conversions and maps.
uint32_t port_map_baud(uint32_t requested);
void port_state_to_dcb(const PortCommState* s, CommDcb* dcb);
void port_dcb_to_state(const CommDcb* dcb, PortCommState* s);
void port_dcb_pack(const CommDcb* dcb, uint8_t out[COMM_DCB_SIZE]);
void port_dcb_unpack(const uint8_t in[COMM_DCB_SIZE], CommDcb* dcb);

// Services the DTE side and the modem core call.
void port_post_events(PortRecord* port, uint32_t events);
void port_notify(PortRecord* port, uint32_t code);
void port_update_msr(PortRecord* port, int op, uint8_t bits);
void port_modify_msr(PortRecord* port, int op, uint8_t bits);
void port_set_cts(PortRecord* port, int on);
void port_rebuild_msr(PortRecord* port);
void port_eval_output_hold(PortRecord* port);
uint32_t port_now_ms(PortRecord* port);
void port_empty_callback(PortRecord* port, void* data, uint32_t code, uint32_t events);
int port_get_dtr(PortRecord* port);
int port_always_true(PortRecord* port);
void port_no_op(PortRecord* port);
void port_read_check(PortRecord* port);
void port_abort_read(PortRecord* port);
void port_abort_write(PortRecord* port);
