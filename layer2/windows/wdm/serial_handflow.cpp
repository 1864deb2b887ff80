#include "layer2/windows/wdm/serial_handflow.h"

#include "layer2/corecode/mt/port_ops.h"
#include "layer2/windows/wdm/serial_ioctl.h"

void ModemHandflowToState(const ULONG hf[4], PortCommState* state)
{
    CommDcb dcb;
    port_state_to_dcb(state, &dcb);
    const ULONG control = hf[0];
    const ULONG flow = hf[1];
    dcb.f_binary = 1;
    ULONG dtr = control & SERIAL_DTR_MASK;
    dcb.f_dtr_control = dtr == SERIAL_DTR_HANDSHAKE ? 2 : dtr == SERIAL_DTR_CONTROL ? 1 : 0;
    dcb.f_outx_cts_flow = (control & SERIAL_CTS_HANDSHAKE) != 0;
    dcb.f_outx_dsr_flow = (control & SERIAL_DSR_HANDSHAKE) != 0;
    dcb.f_dsr_sensitivity = (control & SERIAL_DSR_SENSITIVITY) != 0;
    dcb.f_abort_on_error = (control & SERIAL_ERROR_ABORT) != 0;
    dcb.f_out_x = (flow & SERIAL_AUTO_TRANSMIT) != 0;
    dcb.f_in_x = (flow & SERIAL_AUTO_RECEIVE) != 0;
    dcb.f_error_char = (flow & SERIAL_ERROR_CHAR) != 0;
    dcb.f_null = (flow & SERIAL_NULL_STRIPPING) != 0;
    switch (flow & SERIAL_RTS_MASK) {
    case SERIAL_RTS_CONTROL: dcb.f_rts_control = 1; break;
    case SERIAL_RTS_HANDSHAKE: dcb.f_rts_control = 2; break;
    case SERIAL_TRANSMIT_TOGGLE: dcb.f_rts_control = 3; break;
    default: dcb.f_rts_control = 0; break;
    }
    dcb.f_tx_continue_on_xoff = (flow & SERIAL_XOFF_CONTINUE) != 0;
    dcb.xon_lim = static_cast<uint16_t>(hf[2]);
    dcb.xoff_lim = static_cast<uint16_t>(hf[3]);
    PortCommState next = *state;
    port_dcb_to_state(&dcb, &next);
    state->handshake = next.handshake;
    state->xon_limit = next.xon_limit;
    state->xoff_limit = next.xoff_limit;
}

void ModemHandflowFromState(const PortCommState* state, const ULONG stored[4], ULONG hf[4])
{
    CommDcb dcb;
    port_state_to_dcb(state, &dcb);
    ULONG control = 0;
    ULONG flow = 0;
    if (dcb.f_dtr_control == 1)
        control |= SERIAL_DTR_CONTROL;
    else if (dcb.f_dtr_control == 2)
        control |= SERIAL_DTR_HANDSHAKE;
    if (dcb.f_outx_cts_flow)
        control |= SERIAL_CTS_HANDSHAKE;
    if (dcb.f_outx_dsr_flow)
        control |= SERIAL_DSR_HANDSHAKE;
    if (dcb.f_dsr_sensitivity)
        control |= SERIAL_DSR_SENSITIVITY;
    if (dcb.f_abort_on_error)
        control |= SERIAL_ERROR_ABORT;
    control |= stored[0] & SERIAL_DCD_HANDSHAKE;
    if (dcb.f_out_x)
        flow |= SERIAL_AUTO_TRANSMIT;
    if (dcb.f_in_x)
        flow |= SERIAL_AUTO_RECEIVE;
    if (dcb.f_error_char)
        flow |= SERIAL_ERROR_CHAR;
    if (dcb.f_null)
        flow |= SERIAL_NULL_STRIPPING;
    static const ULONG kRts[4] = {0, SERIAL_RTS_CONTROL, SERIAL_RTS_HANDSHAKE, SERIAL_TRANSMIT_TOGGLE};
    flow |= kRts[dcb.f_rts_control & 3];
    if (dcb.f_tx_continue_on_xoff)
        flow |= SERIAL_XOFF_CONTINUE;
    flow |= stored[1] & SERIAL_BREAK_CHAR;
    hf[0] = control;
    hf[1] = flow;
    hf[2] = dcb.xon_lim;
    hf[3] = dcb.xoff_lim;
}
