// Modem on hold: the hold messages exchanged with the far end through the data pump, holding the line and
// reconnecting, one step per connection-control pass.
#include "layer2/corecode/cmd/modem_hold.h"

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_output.h"
#include "layer2/corecode/cmd/call_control.h"
#include "layer2/corecode/cmd/conn_control.h"
#include "layer2/corecode/dte/dte_context.h"
#include "layer2/corecode/mt/dsp_control.h"
#include "layer2/corecode/mt/dsp_device.h"

namespace {

enum HoldState : uint8_t {
    HOLD_IDLE = 1,
    HOLD_MESSAGE = 2,
    HOLD_SEND = 3,
    HOLD_AWAIT_GRANT = 4,
    HOLD_ENTER = 5,
    HOLD_CLEAR = 6,
    HOLD_AWAIT_CLEAR = 7,
    HOLD_ON_HOLD = 8,
    HOLD_GRANTED = 9,
    HOLD_AWAIT_RETURN = 10,
    HOLD_RECONNECT = 11,
    HOLD_END = 17,
};

// Message types (low nibble of a hold code).
enum HoldMessage : uint8_t {
    MSG_REQUEST = 9,
    MSG_GRANT = 10,
    MSG_DENY_CLEAR = 11,
    MSG_QUERY = 12,
    MSG_CLEAR = 13,
    MSG_REFUSE = 14,
};

constexpr uint8_t kCodeAskHold = 221;
constexpr uint8_t kCodeNoHoldTime = 238;
constexpr uint8_t kCodeRefused = 187;
constexpr uint16_t kSendCountdown = 15;
constexpr uint8_t kTicksPerSecond = 100;

int send(AcuContext* acu, uint8_t code, uint8_t a, uint8_t b)
{
    if (acu->dsp == nullptr)
        return kIcdNotTaken;
    const uint8_t payload[2] = {a, b};
    return dsp_send_command(&acu->dsp->link, code, payload, 2, kReplyAck, nullptr);
}

void light_reset_and_detectors(AcuContext* acu, uint8_t detector)
{
    if (acu->dsp == nullptr)
        return;
    dsp_light_reset(acu->dsp);
    send(acu, IcdConfigDetectors, detector, 0);
}

// Reports a hold index: kept as the last one, and in command mode printed and followed by OK.
void report(AcuContext* acu, uint8_t index)
{
    acu->moh.last_index = index;
    if (acu->dte == nullptr || !acu->dte->flow.clamp.load())
        return;
    char digits[12];
    char text[24] = "+PMHR: ";
    const char* number = at_decimal_text(digits, index);
    for (int n = 7; *number != 0 && n < 22; ++n, ++number) {
        text[n] = *number;
        text[n + 1] = 0;
    }
    PrintToDte(acu, text, at_text_mode(acu));
    PostCallEvent(acu, EV_RESULT, RC_OK);
}

uint8_t type_of(uint8_t code) { return code & 0x0F; }
uint8_t argument_of(uint8_t code) { return code >> 4; }

void message(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    const uint8_t code = m.received;
    switch (type_of(code)) {
    case MSG_REQUEST:
        acu->set.pending_request = kCodeAskHold;
        m.argument = argument_of(code);
        m.state = HOLD_SEND;
        break;
    case MSG_GRANT: {
        const uint8_t index = hold_reverse4(argument_of(code));
        m.hold_time = kHoldTimes[index];
        report(acu, index);
        light_reset_and_detectors(acu, 2);
        m.state = HOLD_GRANTED;
        moh_set_flags(acu, kHoldInForce);
        moh_clear_flags(acu, kHoldReturnAsked);
        break;
    }
    case MSG_DENY_CLEAR:
        m.hold_time = 0;
        m.state = HOLD_ENTER;
        break;
    case MSG_QUERY:
        acu->set.pending_request = acu->ext.pmht == 0 ? kCodeNoHoldTime
                                       : static_cast<uint8_t>(hold_reverse4(acu->ext.pmht & 0x0F) * 16 + MSG_GRANT);
        m.state = HOLD_SEND;
        break;
    case MSG_CLEAR: m.state = HOLD_CLEAR; break;
    case MSG_REFUSE:
        acu->set.pending_request = kCodeRefused;
        report(acu, 0);
        m.state = HOLD_SEND;
        break;
    default: m.state = HOLD_IDLE; break;
    }
    m.received = 0;
    moh_clear_flags(acu, kHoldMessage | kHoldSent);
}

void send_pending(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    send(acu, IcdRestartPhase2, acu->set.pending_request, 0);
    moh_set_flags(acu, kHoldSent);
    m.countdown = kSendCountdown;
    switch (type_of(acu->set.pending_request)) {
    case MSG_GRANT:
        m.state = HOLD_AWAIT_GRANT;
        m.hold_time = kHoldTimes[hold_reverse4(argument_of(acu->set.pending_request))];
        break;
    case MSG_DENY_CLEAR: m.state = HOLD_AWAIT_RETURN; break;
    case MSG_CLEAR: m.state = HOLD_AWAIT_CLEAR; break;
    default: m.state = HOLD_IDLE; break;
    }
    acu->set.pending_request = 0;
}

void enter_hold(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    light_reset_and_detectors(acu, 0);
    m.originate = 0;
    acu->qc.flags |= kQcRetrain;
    moh_set_flags(acu, kHoldInForce);
    conn_send_start_packet(acu, false);
    m.countdown = m.hold_time;
    m.state = HOLD_ON_HOLD;
}

void reconnect(AcuContext* acu)
{
    light_reset_and_detectors(acu, 0);
    acu->moh.originate = 1;
    acu->qc.flags |= kQcRetrain;
    conn_send_start_packet(acu, true);
    moh_reset(acu);
}

}  // namespace

// clang-format off
const uint16_t kHoldTimes[16] = {0, 10, 20, 30, 40, 60, 120, 180, 240, 360, 480, 720, 960, 0, 0, 0};
// clang-format on

uint8_t hold_reverse4(uint8_t v)
{
    uint8_t r = 0;
    for (int bit = 0; bit < 4; ++bit)
        if (v & (1u << bit))
            r |= static_cast<uint8_t>(1u << (3 - bit));
    return r;
}

uint32_t moh_flags(const AcuContext* acu)
{
    return acu->dsp != nullptr ? acu->dsp->link.events.kindMask.load() : 0;
}

void moh_set_flags(AcuContext* acu, uint32_t bits)
{
    if (acu->dsp != nullptr)
        acu->dsp->link.events.kindMask.fetch_or(bits);
}

void moh_clear_flags(AcuContext* acu, uint32_t bits)
{
    if (acu->dsp != nullptr)
        acu->dsp->link.events.kindMask.fetch_and(~bits);
}

void moh_reset(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    m.state = HOLD_IDLE;
    moh_clear_flags(acu, 0xFFFFFFFFu);
    m.received = 0;
    acu->set.pending_request = 0;
    m.countdown = 0;
}

void moh_step(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    if (m.state == 0)
        m.state = HOLD_IDLE;
    uint32_t flags = moh_flags(acu);
    if ((flags & kHoldSent) && m.countdown == 0) {
        m.state = HOLD_END;
        moh_clear_flags(acu, kHoldSent);
        if (flags & kHoldLocalRequest)
            report(acu, 0);
    }
    flags = moh_flags(acu);
    switch (m.state) {
    case HOLD_IDLE:
        if (flags & kHoldMessage) {
            m.received = acu->dsp != nullptr ? acu->dsp->link.events.kind0Value.load() : 0;
            m.state = HOLD_MESSAGE;
        } else if (acu->set.pending_request != 0) {
            m.state = HOLD_SEND;
        }
        break;
    case HOLD_MESSAGE: message(acu); break;
    case HOLD_SEND: send_pending(acu); break;
    case HOLD_AWAIT_GRANT:
        if (flags & (kHoldEvent1 | kHoldEvent2)) {
            m.state = HOLD_ENTER;
            moh_clear_flags(acu, kHoldSent);
        }
        break;
    case HOLD_ENTER: enter_hold(acu); break;
    case HOLD_AWAIT_CLEAR:
        if (flags & (kHoldEvent1 | kHoldEvent2))
            m.state = HOLD_CLEAR;
        break;
    case HOLD_CLEAR:
        conn_hangup(acu, 0);
        moh_reset(acu);
        break;
    case HOLD_ON_HOLD:
        if (m.countdown == 0 && m.hold_time != 0)
            m.state = HOLD_CLEAR;
        if (flags & kHoldEvent8)
            moh_reset(acu);
        break;
    case HOLD_GRANTED:
        if (flags & kHoldReturnAsked) {
            moh_clear_flags(acu, kHoldInForce);
            m.state = HOLD_RECONNECT;
        }
        break;
    case HOLD_AWAIT_RETURN:
        if (flags & kHoldEvent3)
            m.state = HOLD_RECONNECT;
        break;
    case HOLD_RECONNECT: reconnect(acu); break;
    case HOLD_END:
        send(acu, IcdPcmControl, 8, 0);
        moh_reset(acu);
        break;
    default: moh_reset(acu); break;
    }
}

void moh_qc_tick_10ms(AcuContext* acu)
{
    ModemOnHold& m = acu->moh;
    if (++m.second_divider >= kTicksPerSecond) {
        m.second_divider = 0;
        if (m.countdown > 0)
            --m.countdown;
    }
    if (acu->qc.countdown > 0)
        --acu->qc.countdown;
}
