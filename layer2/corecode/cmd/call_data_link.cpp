// Call control's side of the data path: data mode starts at the connection with the flow control of +IFC
// and the escape settings S2 and S12; the DTE side is released once the connection has been reported; the
// escape from data mode holds the connection and keeps its data for the return with "O".
#include "layer2/corecode/cmd/at_collector.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/v80_poll.h"
#include "layer2/corecode/dce/data_link.h"
#include "layer2/corecode/dte/data_link_stubs.h"
#include "layer2/corecode/dte/dte.h"

namespace {

constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;

// DCE by DTE (+IFC first value): 1 XON/XOFF, 2 RTS, 3 XON/XOFF passed on as data too.
uint8_t input_options(uint8_t ifc) { return ifc == 1 || ifc == 3 ? 1 : ifc == 2 ? 2 : 0; }
// DTE by DCE (second value): 1 XON/XOFF, 2 CTS.
uint8_t output_options(uint8_t ifc) { return ifc == 1 ? 1 : ifc == 2 ? 2 : 0; }

}  // namespace

void acu_data_mode_params(const AcuContext* acu, uint8_t params[12])
{
    for (int i = 0; i < 12; ++i)
        params[i] = 0;
    params[3] = input_options(acu->set.ifc[0]);
    params[4] = kXon;
    params[5] = kXoff;
    params[6] = output_options(acu->set.ifc[1]);
    params[7] = kXon;
    params[8] = kXoff;
    params[9] = acu->set.ifc[0] == 3 ? 1 : 0;
    params[10] = acu->sreg[S_ESCAPE_CHAR];
    params[11] = acu->sreg[S_ESCAPE_GUARD];
}

void acu_start_data_link(AcuContext* acu)
{
    // Synchronous access (+ES) takes the connection instead of error control.
    if (conn_sync_access_requested(acu)) {
        v80_start(acu);
        return;
    }
    uint8_t params[12];
    acu_data_mode_params(acu, params);
    dte_data_mode_start(acu->dte, params);
    dte_clamp_on(acu->dte);  // until the connection has been reported
    DataLinkStart start;
    acu_data_link_values(acu, &start);
    ec_start(acu->dte, &start);
}

void acu_release_data_mode(AcuContext* acu)
{
    acu->seq.release_dte_pending = 0;
    acu_release_dte(acu);
    dte_to_data_mode(acu->dte);
}

void acu_hold_data_mode(AcuContext* acu) { dte_clamp_hold(acu->dte); }

void acu_data_link_monitor(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (acu->dte->escape_event.exchange(0) != 0)
        q.break_pending = 1;
    if (q.release_dte_pending)
        acu_release_data_mode(acu);
}
