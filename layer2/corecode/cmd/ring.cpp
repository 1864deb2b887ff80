// Ring reports of an incoming call: the ring-on and ring-off durations ("DRON=", "DROF=") and the voice DLE
// codes, the "RING" result of a valid ring, the ring count in S1 with its ring-off timer, the caller-ID
// capture between the first and second ring, and the automatic answer after S0 rings.
#include "layer2/corecode/cmd/at_basic_util.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/country_block.h"
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

// Voice class with the voice relay closed: rings are reported as DLE codes.
bool voice_reports(AcuContext* acu)
{
    return acu_fax8(acu) && acu->dsp != nullptr && dsp_voice_relay_on(&acu->dsp->link);
}

bool distinctive_ring(const AcuContext* acu)
{
    const CountryBlock* country = acu->dsp != nullptr ? acu->dsp->context.country : nullptr;
    return country != nullptr && cb_u8(*country, CB_DISTINCTIVE_RING) != 0;
}

void automatic_answer(AcuContext* acu)
{
    if (acu_fax8(acu)) {
        PostCallEvent(acu, EV_ANSWER, 0);
        return;
    }
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

}  // namespace

void acu_valid_ring(AcuContext* acu, uint8_t cadence_marker)
{
    if (voice_reports(acu) && !distinctive_ring(acu)) {
        PostCallEvent(acu, EV_RESULT, RC_DLE_RING);
    } else {
        PostCallEvent(acu, EV_RESULT, RC_RING);
        if (voice_reports(acu) && cadence_marker != 0)
            PostCallEvent(acu, EV_RESULT, RC_DLE_REPORT_END);
    }
    if (acu->sreg[S_RING_COUNT] < 255)
        acu->sreg[S_RING_COUNT] = static_cast<uint8_t>(acu->sreg[S_RING_COUNT] + 1);
    acu->ring_timer = kRingOffTicks;
    // Caller ID arrives between the first and the second ring.
    if (acu->sreg[S_RING_COUNT] == 1)
        acu_cid_start(acu);
    else
        acu_cid_end(acu);
    if (answer_due(acu))
        automatic_answer(acu);
}

void acu_ring_event(AcuContext* acu, const uint8_t payload[3])
{
    switch (payload[0]) {
    case kRingOn:
        if (voice_reports(acu))
            PostCallEvent(acu, EV_RESULT, RC_DLE_REPORT_START);
        acu->dr_number = payload[1];
        PostCallEvent(acu, EV_RESULT, RC_DRON);
        break;
    case kRingOff:
        acu->dr_number = payload[1];
        PostCallEvent(acu, EV_RESULT, RC_DROF);
        if (payload[2] == 0 && voice_reports(acu))
            PostCallEvent(acu, EV_RESULT, RC_DLE_REPORT_END);
        break;
    case kRingValid:
        acu_valid_ring(acu, payload[2]);
        break;
    default:
        break;
    }
}
