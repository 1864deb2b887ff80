// Two ways connection control ends or re-arms what runs beside a connection: the call-waiting watch, reset at
// the connection and at each of its ends, and the hang-up with "NO CARRIER" that the data path asks for (the
// end of a synchronous-access transmission).
#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/call_waiting.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_line_check.h"

namespace {

constexpr uint8_t kA8eAnswerMenu = 5;  // +A8E answer option: the V.8 menu runs in the detectors

}  // namespace

void conn_reset_call_waiting(AcuContext* acu, uint16_t flags)
{
    // The sequence goes back to its watch with its counters cleared, and the event flag word and the tone
    // register with it: the watch runs only while the flags carry its bit.
    acu_cw_arm(acu, (flags & kEventFlagCallWaiting) != 0);
}

void acu_hang_up_no_carrier(AcuContext* acu)
{
    if (acu->ext.a8e[1] == kA8eAnswerMenu && acu->dsp != nullptr)
        dsp_set_detector_mode(acu->dsp, 0);
    PostCallEvent(acu, EV_HANGUP, RC_NO_CARRIER);
    acu->conn.v8_exchange = 0;
}
