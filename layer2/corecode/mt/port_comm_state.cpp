// The comm state: validation and application of a new state, the baud map, the DCB form, the comm
// configuration and the provider properties.
#include <cstring>

#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/port_ops.h"

namespace {

void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
void put16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }
uint32_t get32(const uint8_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t get16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

struct BaudMapping {
    uint32_t from;
    uint32_t to;
};

// Requests that are not a plain rate: the old index codes and the two high-speed aliases.
constexpr BaudMapping kBaudMap[] = {
    {110, 300},     {300, 300},     {600, 600},     {1200, 1200},   {2400, 2400},   {4800, 4800},
    {7200, 7200},   {9600, 9600},   {12000, 12000}, {14400, 14400}, {16800, 16800}, {19200, 19200},
    {21600, 21600}, {24000, 24000}, {26400, 26400}, {28800, 28800}, {31200, 31200}, {33600, 33600},
    {36000, 36000}, {56000, 57600}, {57600, 57600}, {65311, 57600}, {65315, 115200}, {115200, 115200},
    {65296, 300},   {65297, 300},   {65298, 600},   {65299, 1200},  {65300, 2400},  {65301, 4800},
    {65302, 9600},  {65303, 14400}, {65304, 19200},
};

// Recompute the lines required for sending from the hold time-out words and output flow flags.
void recompute_hold_lines(PortRecord* p)
{
    uint8_t req = 0;
    uint8_t inf = 0;
    const PortCommState& s = p->state;
    if (s.dcd_timeout != 0) {
        req |= MSR_DCD;
        if (s.dcd_timeout == PORT_MAXDWORD)
            inf |= MSR_DCD;
    }
    if (s.cts_timeout != 0) {
        req |= MSR_CTS;
        if (s.cts_timeout == PORT_MAXDWORD)
            inf |= MSR_CTS;
    }
    if (s.dsr_timeout != 0) {
        req |= MSR_DSR;
        if (s.dsr_timeout == PORT_MAXDWORD)
            inf |= MSR_DSR;
    }
    if (s.handshake & PCS_CTS_OUT_FLOW)
        req |= MSR_CTS;
    if (s.handshake & PCS_DSR_OUT_FLOW)
        req |= MSR_DSR;
    p->hold_required = req;
    p->hold_infinite = inf;
}

void apply_handshake(PortRecord* p)
{
    DteContext* d = p->dte;
    uint32_t hs = p->state.handshake;
    uint8_t rx_hs = 0;
    if (hs & PCS_RTS_DISABLED) {
        dte_clear_rts(d);
    } else {
        dte_set_rts(d);
        if (hs & PCS_RTS_HANDSHAKE)
            rx_hs |= 2;
    }
    dte_set_dtr(d);
    if (!(hs & PCS_DTR_DISABLED) && (hs & PCS_DTR_HANDSHAKE))
        rx_hs |= 1;
    p->rx_handshake = rx_hs;
    recompute_hold_lines(p);
}

}  // namespace

uint32_t port_map_baud(uint32_t requested)
{
    if (requested < 2 || requested > 115200)
        requested = 65307;
    for (const BaudMapping& m : kBaudMap)
        if (m.from == requested)
            return m.to;
    return 38400;
}

void port_comm_state_defaults(PortCommState* s)
{
    std::memset(s, 0, sizeof *s);
    s->length = sizeof(PortCommState);
    s->baud = 38400;
    s->handshake = PCS_BINARY | PCS_PARITY_CHECK;
    s->xon_limit = PORT_MAXDWORD;
    s->xoff_limit = PORT_MAXDWORD;
    s->byte_size = 8;
    s->xon_char = 17;
    s->xoff_char = 19;
    s->eof_char = 26;
}

int port_set_comm_state(PortRecord* p, const PortCommState* s, uint32_t mask)
{
    if (p == nullptr || s == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    DteContext* d = p->dte;
    if (mask & PCS_SET_STOP_BITS) {
        if (s->stop_bits >= 3) {
            p->last_error = PORT_ERR_BAD_STATE;
            return 0;
        }
        p->state.stop_bits = s->stop_bits;
        dte_set_stop_bits(d, s->stop_bits);
    }
    if (mask & PCS_SET_PARITY) {
        if (s->parity >= 5) {
            p->last_error = PORT_ERR_BAD_STATE;
            return 0;
        }
        p->state.parity = s->parity;
        dte_set_parity(d, s->parity);
    }
    if (mask & PCS_SET_BYTE_SIZE) {
        if (s->byte_size < 5 || s->byte_size > 8) {
            p->last_error = PORT_ERR_BYTE_SIZE;
            return 0;
        }
        p->state.byte_size = s->byte_size;
        dte_set_data_bits(d, s->byte_size);
    }
    if (mask & PCS_SET_BAUD) {
        p->state.baud = port_map_baud(s->baud);
        dte_set_baud_rate(d, p->state.baud);
    }
    if (mask & PCS_SET_PARITY)
        p->state.xon_limit = s->xon_limit;
    if (mask & PCS_SET_XOFF_LIMIT)
        p->state.xoff_limit = s->xoff_limit;
    if (mask & PCS_SET_XON_CHAR)
        p->state.xon_char = s->xon_char;
    if (mask & PCS_SET_XOFF_CHAR)
        p->state.xoff_char = s->xoff_char;
    if (mask & PCS_SET_ERROR_CHAR)
        p->state.error_char = s->error_char;
    if (mask & PCS_SET_EOF_CHAR)
        p->state.eof_char = s->eof_char;
    if (mask & PCS_SET_EVENT_CHAR1)
        p->state.event_char1 = s->event_char1;
    if (mask & PCS_SET_EVENT_CHAR2)
        p->state.event_char2 = s->event_char2;
    if (mask & PCS_SET_DCD_TIMEOUT)
        p->state.dcd_timeout = s->dcd_timeout;
    if (mask & PCS_SET_CTS_TIMEOUT)
        p->state.cts_timeout = s->cts_timeout;
    if (mask & PCS_SET_DSR_TIMEOUT)
        p->state.dsr_timeout = s->dsr_timeout;
    if (mask & PCS_SET_SPARE48)
        p->state.spare48 = s->spare48;
    if (mask & PCS_SET_ESCAPE_BYTE)
        p->state.escape_byte = s->escape_byte;
    p->state.spare20 = s->spare20;
    if (mask & (PCS_SET_DCD_TIMEOUT | PCS_SET_CTS_TIMEOUT | PCS_SET_DSR_TIMEOUT))
        recompute_hold_lines(p);
    if (mask & PCS_SET_HANDSHAKE) {
        p->state.handshake = s->handshake;
        apply_handshake(p);
    }
    // Receive flow limit: receive size less the XOFF limit (an XOFF limit beyond the queue leaves
    // no room for receive flow control, so the limit is the whole queue).
    uint32_t size = p->dte->app.rx_size;
    p->rx_flow_limit = p->state.xoff_limit < size ? size - p->state.xoff_limit : size;
    port_eval_output_hold(p);
    p->hold &= ~(PORT_HOLD_XOFF_SENT | PORT_HOLD_XOFF_RECEIVED);
    p->rx_flow_asserted &= static_cast<uint8_t>(~(PORT_RXFLOW_XOFF_SENT | PORT_RXFLOW_XOFF_PENDING));
    port_rebuild_msr(p);
    p->state_set = 1;
    return 1;
}

int port_get_comm_state(PortRecord* p, PortCommState* s)
{
    if (p == nullptr || s == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    *s = p->state;
    return 1;
}

void port_state_to_dcb(const PortCommState* s, CommDcb* dcb)
{
    std::memset(dcb, 0, sizeof *dcb);
    uint32_t hs = s->handshake;
    dcb->length = COMM_DCB_SIZE;
    dcb->baud = s->baud;
    dcb->xon_lim = static_cast<uint16_t>(s->xon_limit);
    dcb->xoff_lim = static_cast<uint16_t>(s->xoff_limit);
    dcb->byte_size = s->byte_size;
    dcb->parity = s->parity;
    dcb->stop_bits = s->stop_bits;
    dcb->xon_char = s->xon_char;
    dcb->xoff_char = s->xoff_char;
    dcb->error_char = s->error_char;
    dcb->eof_char = s->eof_char;
    dcb->evt_char = s->event_char1;
    dcb->f_binary = (hs & PCS_BINARY) != 0;
    dcb->f_parity = (hs & PCS_PARITY_CHECK) != 0;
    dcb->f_outx_cts_flow = (hs & PCS_CTS_OUT_FLOW) != 0;
    dcb->f_outx_dsr_flow = (hs & PCS_DSR_OUT_FLOW) != 0;
    dcb->f_out_x = (hs & PCS_XON_XOFF_OUT) != 0;
    dcb->f_in_x = (hs & PCS_XON_XOFF_IN) != 0;
    dcb->f_error_char = (hs & PCS_ERROR_CHAR) != 0;
    dcb->f_null = (hs & PCS_NULL_DISCARD) != 0;
    dcb->f_dsr_sensitivity = (hs & PCS_DSR_SENSITIVITY) != 0;
    dcb->f_tx_continue_on_xoff = (hs & PCS_TX_CONTINUE_ON_XOFF) != 0;
    dcb->f_abort_on_error = (hs & PCS_ABORT_ON_ERROR) != 0;
    if (hs & PCS_DTR_DISABLED)
        dcb->f_dtr_control = 0;
    else if (hs & PCS_DTR_HANDSHAKE)
        dcb->f_dtr_control = 2;
    else if (hs & PCS_DTR_ENABLED)
        dcb->f_dtr_control = 1;
    if (hs & PCS_RTS_DISABLED)
        dcb->f_rts_control = 0;
    else if (hs & PCS_RTS_HANDSHAKE)
        dcb->f_rts_control = 2;
    else if (hs & PCS_RTS_TOGGLE)
        dcb->f_rts_control = 3;
    else if (hs & PCS_RTS_ENABLED)
        dcb->f_rts_control = 1;
}

void port_dcb_to_state(const CommDcb* dcb, PortCommState* s)
{
    uint32_t hs = 0;
    if (dcb->f_binary) hs |= PCS_BINARY;
    if (dcb->f_parity) hs |= PCS_PARITY_CHECK;
    if (dcb->f_outx_cts_flow) hs |= PCS_CTS_OUT_FLOW;
    if (dcb->f_outx_dsr_flow) hs |= PCS_DSR_OUT_FLOW;
    if (dcb->f_out_x) hs |= PCS_XON_XOFF_OUT;
    if (dcb->f_in_x) hs |= PCS_XON_XOFF_IN;
    if (dcb->f_error_char) hs |= PCS_ERROR_CHAR;
    if (dcb->f_null) hs |= PCS_NULL_DISCARD;
    if (dcb->f_dsr_sensitivity) hs |= PCS_DSR_SENSITIVITY;
    if (dcb->f_tx_continue_on_xoff) hs |= PCS_TX_CONTINUE_ON_XOFF;
    if (dcb->f_abort_on_error) hs |= PCS_ABORT_ON_ERROR;
    switch (dcb->f_dtr_control) {
    case 0: hs |= PCS_DTR_DISABLED; break;
    case 2: hs |= PCS_DTR_HANDSHAKE; break;
    default: hs |= PCS_DTR_ENABLED; break;
    }
    switch (dcb->f_rts_control) {
    case 0: hs |= PCS_RTS_DISABLED; break;
    case 2: hs |= PCS_RTS_HANDSHAKE; break;
    case 3: hs |= PCS_RTS_TOGGLE; break;
    default: hs |= PCS_RTS_ENABLED; break;
    }
    s->length = sizeof(PortCommState);
    s->baud = dcb->baud;
    s->handshake = hs;
    s->xon_limit = dcb->xon_lim;
    s->xoff_limit = dcb->xoff_lim;
    s->byte_size = dcb->byte_size;
    s->parity = dcb->parity;
    s->stop_bits = dcb->stop_bits;
    s->xon_char = dcb->xon_char;
    s->xoff_char = dcb->xoff_char;
    s->error_char = dcb->error_char;
    s->eof_char = dcb->eof_char;
    s->event_char1 = dcb->evt_char;
    s->event_char2 = 0;
    s->dcd_timeout = 0;
    s->cts_timeout = 0;
    s->dsr_timeout = 0;
}

// Byte image of the DCB: length, rate, flag word (bit 0 binary, 1 parity, 2 CTS flow, 3 DSR flow,
// 4-5 DTR control, 6 DSR sensitivity, 7 continue on XOFF, 8 XON/XOFF out, 9 XON/XOFF in, 10 error
// character, 11 null discard, 12-13 RTS control, 14 abort on error), a spare half-word, the XON and
// XOFF limits, byte size, parity, stop bits, the five characters and a spare half-word.
void port_dcb_pack(const CommDcb* dcb, uint8_t out[COMM_DCB_SIZE])
{
    std::memset(out, 0, COMM_DCB_SIZE);
    uint32_t f = 0;
    f |= (dcb->f_binary & 1u) << 0;
    f |= (dcb->f_parity & 1u) << 1;
    f |= (dcb->f_outx_cts_flow & 1u) << 2;
    f |= (dcb->f_outx_dsr_flow & 1u) << 3;
    f |= (dcb->f_dtr_control & 3u) << 4;
    f |= (dcb->f_dsr_sensitivity & 1u) << 6;
    f |= (dcb->f_tx_continue_on_xoff & 1u) << 7;
    f |= (dcb->f_out_x & 1u) << 8;
    f |= (dcb->f_in_x & 1u) << 9;
    f |= (dcb->f_error_char & 1u) << 10;
    f |= (dcb->f_null & 1u) << 11;
    f |= (dcb->f_rts_control & 3u) << 12;
    f |= (dcb->f_abort_on_error & 1u) << 14;
    put32(out + 0, dcb->length);
    put32(out + 4, dcb->baud);
    put32(out + 8, f);
    put16(out + 14, dcb->xon_lim);
    put16(out + 16, dcb->xoff_lim);
    out[18] = dcb->byte_size;
    out[19] = dcb->parity;
    out[20] = dcb->stop_bits;
    out[21] = dcb->xon_char;
    out[22] = dcb->xoff_char;
    out[23] = dcb->error_char;
    out[24] = dcb->eof_char;
    out[25] = dcb->evt_char;
}

void port_dcb_unpack(const uint8_t in[COMM_DCB_SIZE], CommDcb* dcb)
{
    std::memset(dcb, 0, sizeof *dcb);
    uint32_t f = get32(in + 8);
    dcb->length = get32(in + 0);
    dcb->baud = get32(in + 4);
    dcb->f_binary = f & 1;
    dcb->f_parity = (f >> 1) & 1;
    dcb->f_outx_cts_flow = (f >> 2) & 1;
    dcb->f_outx_dsr_flow = (f >> 3) & 1;
    dcb->f_dtr_control = (f >> 4) & 3;
    dcb->f_dsr_sensitivity = (f >> 6) & 1;
    dcb->f_tx_continue_on_xoff = (f >> 7) & 1;
    dcb->f_out_x = (f >> 8) & 1;
    dcb->f_in_x = (f >> 9) & 1;
    dcb->f_error_char = (f >> 10) & 1;
    dcb->f_null = (f >> 11) & 1;
    dcb->f_rts_control = (f >> 12) & 3;
    dcb->f_abort_on_error = (f >> 14) & 1;
    dcb->xon_lim = get16(in + 14);
    dcb->xoff_lim = get16(in + 16);
    dcb->byte_size = in[18];
    dcb->parity = in[19];
    dcb->stop_bits = in[20];
    dcb->xon_char = in[21];
    dcb->xoff_char = in[22];
    dcb->error_char = in[23];
    dcb->eof_char = in[24];
    dcb->evt_char = in[25];
}

// Comm configuration: size (48), version 0x100, the DCB at offset 8, provider sub-type, offset and
// size (all zero).
int port_get_comm_config(PortRecord* p, uint8_t* buffer, uint32_t* size)
{
    if (p == nullptr || size == nullptr || buffer == nullptr || *size < COMM_CONFIG_SIZE) {
        if (size)
            *size = COMM_CONFIG_SIZE;
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    std::memset(buffer, 0, COMM_CONFIG_SIZE);
    put32(buffer, COMM_CONFIG_SIZE);
    put16(buffer + 4, 0x100);
    CommDcb dcb;
    port_state_to_dcb(&p->state, &dcb);
    port_dcb_pack(&dcb, buffer + 8);
    *size = COMM_CONFIG_SIZE;
    return 1;
}

int port_set_comm_config(PortRecord* p, const uint8_t* buffer, uint32_t size)
{
    if (p == nullptr || buffer == nullptr || size < COMM_CONFIG_SIZE) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    CommDcb dcb;
    port_dcb_unpack(buffer + 8, &dcb);
    PortCommState s = p->state;
    port_dcb_to_state(&dcb, &s);
    return port_set_comm_state(p, &s, PORT_MAXDWORD);
}

// Provider properties (64 bytes): packet length and version, service mask, a spare word, maximum
// queues, maximum rate, provider sub-type and capabilities, settable parameters, rates, data sizes
// and stop/parity, current queues, two provider words and the provider character.
int port_get_properties(PortRecord* p, uint8_t* out)
{
    if (p == nullptr || out == nullptr) {
        if (p)
            p->last_error = PORT_ERR_BAD_ARG;
        return 0;
    }
    std::memset(out, 0, COMM_PROP_SIZE);
    put16(out + 0, 64);
    put16(out + 2, 2);
    put32(out + 4, 1);
    put32(out + 12, 0);
    put32(out + 16, 0);
    put32(out + 20, 0x10000000);
    put32(out + 24, 1);
    put32(out + 28, 255);
    put32(out + 32, 127);
    put32(out + 36, 0x1001FFFF);
    put16(out + 40, 15);
    put16(out + 42, 0x1F07);
    put32(out + 44, p->dte->app.tx_size);
    put32(out + 48, p->dte->app.rx_size);
    put32(out + 52, 10);
    put32(out + 56, 11997);
    put16(out + 60, 0);
    return 1;
}
