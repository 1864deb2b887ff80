// The MNP engine's entries for the error-control manager: binding, set-up from the manager's values,
// start, stop, hold and resume, disconnect, break, link parameters, and the reports of the line side.
#include <cstring>

#include "layer2/corecode/dte/dte_lock.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint8_t kHoldRefused = 145;

void clear_link(MnpLink* link)
{
    mnp_handover_reset(link);
    mnp_rx_reset(link);
    mnp_tx_reset(link);
    mnp_timers_reset(link);
    mnp5_reset(&link->mnp5);
    link->attn = MnpAttention{};
    link->attn.in_sequence = -1;
    link->held = 0;
    link->lr_due = 0;
    link->ld_due = 0;
    link->la_due = 0;
    link->rr_due = 0;
    link->ld_phase = 0;
    link->drain_passes = 0;
    link->compressor_failed = 0;
    link->reason = 0;
    link->user_reason = 0;
    link->peer_reason = 0;
    link->refusal = 0;
    mnp_own_values(link);
}

bool running_link(const MnpLink* link) { return link->state == MS_DATA; }

}  // namespace

void mnp_init(MnpLink* link, const MnpHost* host, const LapmCallValues* call, EcCounters* counters)
{
    std::memset(static_cast<void*>(link), 0, sizeof *link);
    link->host = *host;
    link->call = call;
    link->counters = counters;
    KeInitializeSpinLock(&link->handover_lock);
    KeInitializeSpinLock(&link->rx.ring_lock);
    KeInitializeSpinLock(&link->rx.frame_lock);
    clear_link(link);
    link->state = MS_IDLE;
    link->status = MNP_STATUS_IDLE;
}

void mnp_setup(MnpLink* link, const uint32_t* v, uint32_t count)
{
    uint32_t all[MNP_SETUP_VALUES] = {};
    for (uint32_t i = 0; i < count && i < MNP_SETUP_VALUES; ++i)
        all[i] = v[i];
    auto u8 = [&](int i) { return static_cast<uint8_t>(all[i]); };
    auto u16 = [&](int i) { return static_cast<uint16_t>(all[i]); };
    MnpSetup& s = link->setup;
    s = MnpSetup{u8(0),  u8(1),  u8(2),  u8(3),  u8(4),  u16(5), u16(6), u8(7),  u8(8),  u8(9),
                 u8(10), u8(11), u8(12), u16(13), u8(14), u8(15), u8(16), u16(17), u8(18), u8(19),
                 {u8(20), u8(21), u8(22)}, {u16(23), u16(24), u16(25), u16(26)}, u8(27)};
    // The engine runs MNP modes 1 and 2 in service classes up to 3; anything else refuses the set-up.
    link->setup_refused = s.mode > 2 || s.service_class > 3;
    mnp_own_values(link);
}

void mnp_start(MnpLink* link, uint8_t request)
{
    if (request == 2) {
        if (link->held) {
            link->held = 0;
            link->status = link->held_status;
        }
        return;
    }
    clear_link(link);
    link->request = request;
    if (link->setup_refused) {
        link->status = MNP_STATUS_FAILED;
        link->state = MS_DISCONNECTED;
        return;
    }
    if (link->setup.mode == 0) {
        link->status = MNP_STATUS_BUFFERED;
        link->state = MS_START_BUFFERED;
        return;
    }
    link->status = MNP_STATUS_ESTABLISHING;
    mnp_select_line(link, 0);  // octet-framed
    if (request == 0) {
        link->state = MS_ORIGINATE;
    } else {
        link->retries = mnp_retry_limit(link);
        mnp_timer_start(link, MT_LR_WAIT);
        link->state = MS_ANSWER;
    }
}

void mnp_stop(MnpLink* link)
{
    clear_link(link);
    link->state = MS_IDLE;
    link->status = MNP_STATUS_IDLE;
}

uint8_t mnp_hold(MnpLink* link)
{
    if (link->state != MS_DATA && link->state != MS_BUFFERED)
        return kHoldRefused;
    if (!link->held)
        link->held_status = link->status;
    link->held = 1;
    link->status = MNP_STATUS_HELD;
    return 0;
}

uint8_t mnp_disconnect(MnpLink* link, uint8_t reason)
{
    if (reason == 0)
        link->setup.buffered_allowed = 1;
    link->held = 0;
    if (link->state == MS_BUFFERED || link->state == MS_START_BUFFERED) {
        link->status = MNP_STATUS_IDLE;
        link->state = MS_IDLE;
        return 0;
    }
    if (link->state <= MS_DATA) {
        mnp_fail(link, MNP_REASON_USER);
        link->user_reason = reason;
    }
    return 0;
}

bool mnp_send_break(MnpLink* link, uint8_t length, uint16_t count)
{
    (void)length;
    const uint8_t mode = link->setup.break_mode;
    if (mode == 0 || mode > 3)
        return false;
    if (link->state == MS_BUFFERED) {
        // The line side's break hook; an in-sequence break waits for its bytes.
        if (mode == 3 && count != 0)
            link->attn.in_sequence = count;
        else if (link->host.line_break != nullptr)
            link->host.line_break(link->host.context, mode);
        return true;
    }
    MnpAttention& a = link->attn;
    if (!running_link(link) || a.tx_type != 0 || a.in_sequence >= 0)
        return false;
    if (mode == 3 && count != 0) {
        a.in_sequence = count;
        return true;
    }
    const uint8_t type = mode == 1 ? MNP_ATTN_DESTRUCTIVE : MNP_ATTN_EXPEDITED;
    if (type == MNP_ATTN_DESTRUCTIVE)
        mnp_attention_reset(link);
    a.tx_seq = static_cast<uint8_t>(a.tx_seq + 1);
    a.tx_type = type;
    a.tx_due = 1;
    a.retries = mnp_retry_limit(link);
    return true;
}

uint8_t mnp_set_link_params(MnpLink* link, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e)
{
    MnpSetup& s = link->setup;
    s.break_mode = a;
    s.break_type = b;
    s.inactivity_s = c;
    s.retry_count = d;
    s.info_size = e;
    mnp_inactivity_restart(link);
    return 0;
}

void mnp_line_abort(MnpLink* link, uint8_t reason)
{
    link->peer_reason = reason;
    mnp_handover_reset(link);
    if (link->setup.buffered_allowed) {
        link->status = MNP_STATUS_BUFFERED;
        link->state = MS_START_BUFFERED;
    } else {
        link->status = MNP_STATUS_IDLE;
        link->state = MS_IDLE;
    }
}

void mnp_notify(MnpLink* link, uint8_t)
{
    mnp_inactivity_restart(link);
    link->status = MNP_STATUS_BUFFERED;
    link->state = MS_BUFFERED;
}

uint8_t mnp_pending_bits(MnpLink* link)
{
    const MnpReceive& r = link->rx;
    const MnpTransmit& t = link->tx;
    bool waiting = t.built != 0 || t.stage_count != 0 || r.delivery.read != r.delivery.write || r.carried != nullptr;
    {
        DteLockHold hold(&link->rx.frame_lock);
        waiting |= r.received.read != r.received.write;
    }
    const bool sending = !mnp_handover_idle(link) || t.sent < t.built;
    return static_cast<uint8_t>((waiting ? 1 : 0) | (sending ? 2 : 0));
}
