// A valid ring of an incoming call: the "RING" result, the ring count in S1 with its ring-off timer, and the
// automatic answer after S0 rings.
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/dte/dte.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_options.h"

namespace {

constexpr uint16_t kRingOffTicks = 800;  // ring interval: S1 is cleared when no ring came for 8 s

// S0 rings counted, and with caller ID on at least two, so that the caller-ID burst after the first ring can
// arrive before the line goes off hook.
bool answer_due(const AcuContext* acu)
{
    const uint8_t s0 = acu->sreg[S_AUTO_ANSWER_RINGS];
    const uint8_t s1 = acu->sreg[S_RING_COUNT];
    return s0 != 0 && s1 >= s0 && (acu->ext.vcid == 0 || s1 >= 2);
}

}  // namespace

void acu_valid_ring(AcuContext* acu)
{
    PostCallEvent(acu, EV_RESULT, RC_RING);
    if (acu->sreg[S_RING_COUNT] < 255)
        acu->sreg[S_RING_COUNT] = static_cast<uint8_t>(acu->sreg[S_RING_COUNT] + 1);
    acu->ring_timer = kRingOffTicks;
    if (!answer_due(acu))
        return;
    // Without DTR dialling (or with mode 1) the modem answers unless &D2 holds DTR off; in modes 2 and 3 it
    // answers only with DTR on.
    const uint8_t mode = acu->seq.dtr_dial_mode;
    const bool dtr = acu->dte != nullptr && dte_get_signal(acu->dte, 1) != 0;
    const bool answer = mode <= 1 ? (at_opt_amp_d(acu) != 2 || dtr) : dtr;
    if (!answer)
        return;
    acu->sreg[S_OPTIONS] = static_cast<uint8_t>(acu->sreg[S_OPTIONS] & ~S14_ORIGINATE);  // answering, not originating
    if (mode == 1 && acu->dsp != nullptr)
        port_set_cts(&acu->dsp->line, 0);
    PostCallEvent(acu, EV_ANSWER, 0);
}
