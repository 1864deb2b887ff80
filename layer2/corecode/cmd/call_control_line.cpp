// The line side of call control: what it reads from the data pump (connection state, carrier, call
// progress, event characters) and the DSP messages and commands it sends (hook, start, hang-up, loop).
// Without a data pump the line reads as idle with no carrier, so every call attempt fails at once.
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/cmd/profile.h"
#include "layer2/corecode/mt/dsp_commands.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"
#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_router.h"

namespace {

// Byte 2 flag of the start packet: the analog loop instead of a call.
constexpr uint8_t kStartFlagLoop = 0x02;
// The V.8 procedure's reports in the call-progress register.
constexpr uint8_t kProgressV8MenuEarly = 31;
constexpr uint8_t kProgressV8Menu = 32;
constexpr uint8_t kProgressV8Running = 34;
// Modulation and rate of the analog loop.
constexpr uint8_t kStartModulation = 18;
constexpr uint32_t kStartRate = 33600;

DspLink* link_of(AcuContext* acu)
{
    return acu->dsp != nullptr ? &acu->dsp->link : nullptr;
}

// Tells the data pump to go idle. Going idle drops the pump's detector step, so the idle detectors with
// ring-energy reports are set again at once: without them no later incoming call would be seen.
void pump_go_idle(AcuContext* acu, DspLineControl* lc)
{
    dsp_go_idle(lc);
    dsp_detector_reset(acu->dsp);
}

}  // namespace

DspLineControl* acu_line(AcuContext* acu)
{
    return acu->dsp != nullptr ? &acu->dsp->line : nullptr;
}

uint8_t acu_pump_state(AcuContext* acu)
{
    DspLink* link = link_of(acu);
    if (link == nullptr)
        return 0;
    return static_cast<uint8_t>(dsp_reg_read(link, kRegStatus) & 0x0F);
}

bool acu_carrier_present(AcuContext* acu)
{
    switch (acu_pump_state(acu)) {
    case 2:   // connected
    case 3:   // retraining
    case 5:   // test loop
    case 6:
    case 8:   // fax connected
    case 13:  // renegotiating
        return true;
    default:
        return false;
    }
}

uint8_t acu_call_progress(AcuContext* acu)
{
    DspLineControl* lc = acu_line(acu);
    if (lc == nullptr)
        return 0;
    const uint8_t p = dsp_get_call_progress(lc);
    // The V.8 procedure's reports in the same register (31 and 32 the call menu may go, 34 the procedure runs,
    // written on every block) are no call-progress codes: the tone detection's result (busy) still counts
    // meanwhile. Connection control reads them from the value kept by the read.
    if (p == kProgressV8MenuEarly || p == kProgressV8Menu || p == kProgressV8Running)
        return lc->take_tone_result != nullptr ? lc->take_tone_result(lc->toneCtx) : 0;
    return p;
}

uint8_t acu_take_event_char(AcuContext* acu)
{
    DspLink* link = link_of(acu);
    if (link == nullptr)
        return 0;
    return link->events.lastEventChar.exchange(0);
}

bool acu_dsp_message(AcuContext* acu, uint8_t msg_class, uint8_t type, bool urgent, const uint8_t* data,
                     int length)
{
    DspLineControl* lc = acu_line(acu);
    if (lc == nullptr || lc->queue == nullptr)
        return true;  // no data pump: nothing to send, the step is taken
    return dsp_msg_send(lc->queue, msg_class, type, urgent, data, length);
}

bool acu_dsp_class_served(AcuContext* acu, uint8_t msg_class)
{
    DspLineControl* lc = acu_line(acu);
    return lc != nullptr && lc->queue != nullptr && dsp_msg_find_handler(lc->queue, msg_class) != nullptr;
}

void acu_go_off_hook(AcuContext* acu, bool answering)
{
    CallSequences& q = acu->seq;
    if (q.on_hook_flag || !q.line_off_hook) {
        q.on_hook_flag = 0;
        if (DspLineControl* lc = acu_line(acu))
            dsp_set_hook(lc, true);
    }
    q.line_off_hook = 1;
    // Speaker for call progress in speaker modes 1 and 2 (and 3 while answering).
    uint8_t mode = at_opt_speaker_mode(acu);
    if (mode == 1 || mode == 2 || (answering && mode == 3))
        acu_dsp_message(acu, kMsgCadence, 1, false, nullptr, 0);
}

void acu_go_on_hook(AcuContext* acu)
{
    CallSequences& q = acu->seq;
    if (!q.on_hook_flag) {
        q.on_hook_flag = 1;
        if (DspLineControl* lc = acu_line(acu))
            dsp_set_hook(lc, false);
    }
    q.line_off_hook = 0;
}

void acu_send_start_packet(AcuContext* acu, bool originate)
{
    if (acu_line(acu) == nullptr)
        return;
    // The call's transmit level first (data from S91, fax from S92, voice from S93, each on the country's
    // base): without it the pumps would send at the level word's 0 dB, 10 dB above the factory level.
    const unsigned kind = acu->fax_class == 0 ? 2u : (acu->fax_class == 8 ? 4u : 3u);
    const uint16_t word = static_cast<uint16_t>(at_line_level(acu, kind, false) << 8 | at_line_level(acu, kind, true));
    if (word != 0)  // 0: no country record to take the level from
        dsp_set_tx_level(acu->dsp, static_cast<uint8_t>(kind), word);
    conn_send_start_packet(acu, originate);
}

void acu_send_pump_hangup(AcuContext* acu, bool cleardown)
{
    // The data pump runs its clear-down whenever it is told to go idle from a connection.
    conn_hangup(acu, cleardown ? 1 : 0);
    if (DspLineControl* lc = acu_line(acu))
        pump_go_idle(acu, lc);
}

void acu_send_loop(AcuContext* acu, uint8_t kind, bool start)
{
    (void)kind;
    DspLineControl* lc = acu_line(acu);
    if (lc == nullptr)
        return;
    if (start)
        acu_start_analog_loop(acu, kStartModulation, kStartRate, false);
    else
        pump_go_idle(acu, lc);
}

void acu_start_analog_loop(AcuContext* acu, uint8_t modulation, uint32_t rate, bool originate)
{
    DspLineControl* lc = acu_line(acu);
    if (lc != nullptr)
        dsp_start_data_pump(lc, static_cast<uint8_t>(kStartFlagLoop | (originate ? 1 : 0)), rate, modulation);
}

void acu_country_changed(AcuContext* acu)
{
    if (acu->dsp == nullptr)
        return;
    DspLinkContext* ctx = &acu->dsp->context;
    dsp_interface_restart(ctx);
    // The restart fills the message nodes; they are carried out before the country message is posted.
    if (ctx->queue != nullptr)
        dsp_msg_dispatch(ctx->queue);
    acu_dsp_message(acu, kMsgCountry, 1, false, nullptr, 0);
}
