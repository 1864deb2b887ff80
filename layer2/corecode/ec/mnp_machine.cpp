// The MNP link machine: one step per pass of call control's task. Establishment by link request (the
// originator sends LR and answers the answerer's LR with LA; the answerer answers an LR with its own),
// the switch to the data pump's framing in service class 3, data transfer, the disconnect with LD, and the
// fall-back to buffered mode.
#include "layer2/corecode/dce/line_block.h"
#include "layer2/corecode/ec/mnp_internal.h"

namespace {

constexpr uint8_t kDefaultRetries = 12;     // when the set-up gives 0
constexpr uint8_t kAltRetriesOriginate = 15;
constexpr uint8_t kAltRetriesConnected = 16;
constexpr uint8_t kAltLtSize = 32;
constexpr int32_t kDisconnectWaitTicks = 20;
constexpr uint8_t kDrainPasses = 200;       // passes the disconnect waits for the DTE to take data
constexpr uint32_t kSettleOctets = 64;      // a frame and what the pump's framer holds before it
constexpr int32_t kSettleTicksMin = 2;

void count_frame(MnpLink* link, const FrameNode* f)
{
    if (link->counters == nullptr)
        return;
    if (f->bad)
        ec_count_bad_frame(link->counters);
    else
        ec_count_good_frame(link->counters);
}

// The next good frame with a sound header; bad and malformed frames are counted and dropped.
FrameNode* next_frame(MnpLink* link, MnpFrameView* v)
{
    while (FrameNode* f = mnp_rx_take(link)) {
        count_frame(link, f);
        if (!f->bad && mnp_parse(f->data, f->length, v))
            return f;
        if (!f->bad)
            ++link->malformed;
        mnp_rx_release(link, f);
    }
    return nullptr;
}

// A received link request: its parameters read and negotiated; 0 when it is taken.
uint8_t take_request(MnpLink* link, const FrameNode* f, bool originator)
{
    MnpOffer offer;
    uint8_t code = mnp_take_lr(f->data, f->length, &offer);
    if (code == 0)
        code = mnp_negotiate(link, &offer, originator);
    link->refusal = code;
    return code;
}

void originate(MnpLink* link)
{
    link->retries = link->setup.alt_framing ? kAltRetriesOriginate : mnp_retry_limit(link);
    link->lr_due = 1;
    mnp_timer_start(link, MT_LR_WAIT);
    link->state = MS_WAIT_LR;
}

void wait_for_answer(MnpLink* link)
{
    MnpFrameView v;
    if (FrameNode* f = next_frame(link, &v)) {
        const bool request = v.type == MNP_LR;
        if (v.type == MNP_LD)
            link->peer_reason = v.a;
        const bool taken = request && take_request(link, f, true) == 0;
        mnp_rx_release(link, f);
        if (!taken) {
            mnp_fail(link, MNP_REASON_SETUP);
            return;
        }
        link->la_due = 1;  // with credit 0 until data transfer
        mnp_timer_stop(link, MT_LR_WAIT);
        mnp_timer_start(link, MT_ACK_WAIT);
        link->retries = link->setup.alt_framing ? kAltRetriesConnected : mnp_retry_limit(link);
        link->state = MS_ORIGINATOR_UP;
        return;
    }
    if (!mnp_timer_expired(link, MT_LR_WAIT))
        return;
    if (--link->retries == 0) {
        mnp_fail(link, MNP_REASON_RETRIES);
        return;
    }
    link->lr_due = 1;
    mnp_timer_start(link, MT_LR_WAIT);
}

// The answerer waits for a link request (state 3) and then for the first LA or LT (state 4); an LR that
// comes again means our answer was lost and is answered again.
void answer(MnpLink* link)
{
    MnpFrameView v;
    if (FrameNode* f = next_frame(link, &v)) {
        if (v.type == MNP_LR) {
            const bool taken = take_request(link, f, false) == 0;
            mnp_rx_release(link, f);
            if (!taken) {
                mnp_fail(link, MNP_REASON_SETUP);
                return;
            }
            link->lr_due = 1;
            mnp_timer_stop(link, MT_LR_WAIT);
            mnp_timer_start(link, MT_ACK_WAIT);
            link->retries = link->setup.alt_framing ? kAltRetriesConnected : mnp_retry_limit(link);
            link->state = MS_ANSWER_WAIT_LA;
            return;
        }
        if (link->state == MS_ANSWER_WAIT_LA && (v.type == MNP_LA || v.type == MNP_LT)) {
            link->rx.carried = f;  // taken again in data transfer
            link->state = MS_ANSWERER_UP;
            return;
        }
        const bool disconnect = link->state == MS_ANSWER_WAIT_LA && v.type == MNP_LD;
        if (disconnect)
            link->peer_reason = v.a;
        mnp_rx_release(link, f);
        if (disconnect)
            mnp_fail(link, v.a);
        return;
    }
    const uint8_t timer = link->state == MS_ANSWER ? MT_LR_WAIT : MT_ACK_WAIT;
    if (!mnp_timer_expired(link, timer))
        return;
    if (--link->retries == 0) {
        mnp_fail(link, MNP_REASON_RETRIES);
        return;
    }
    if (link->state == MS_ANSWER_WAIT_LA)
        link->lr_due = 1;
    mnp_timer_start(link, timer);
}

// Ticks the line needs to carry what the line block handed to the data pump last (a frame of up to
// kSettleOctets octets as ten-bit characters), and one more for the tick's phase.
int32_t settle_ticks(const MnpLink* link)
{
    const uint32_t rate = link->call != nullptr && link->call->tx_rate != 0 ? link->call->tx_rate : 300;
    return static_cast<int32_t>(kSettleTicksMin + kSettleOctets * 10u * 10u / rate);
}

// In service class 3 the data pump's framing changes once the last frame of the link request exchange has
// left the line: the framer starts afresh at the change, and a frame still inside it would be cut off.
void come_up(MnpLink* link)
{
    if (!mnp_handover_idle(link))
        return;
    if (link->neg.service_class == 3) {
        if (link->timers.wait_ticks < 0)
            link->timers.wait_ticks = settle_ticks(link);
        if (link->timers.wait_ticks > 0)
            return;
        link->timers.wait_ticks = -1;
        mnp_select_line(link, LINE_MODE_MNP_FRAMED);
    }
    link->state = MS_CONNECT;
}

void connect(MnpLink* link)
{
    FrameNode* carried = link->rx.carried;
    mnp_tx_reset(link);
    mnp_rx_flush(link);
    link->rx.carried = carried;
    link->rx.last_ns = 0;
    link->rx.credit_sent = 0;
    mnp5_reset(&link->mnp5);
    MnpTransmit& t = link->tx;
    t.lt_size = link->setup.alt_framing ? kAltLtSize : link->neg.max_lt;
    mnp_timer_stop(link, MT_ACK_WAIT);
    mnp_timer_start(link, MT_LA_PACE);
    mnp_timer_start(link, MT_LA_PACE2);
    mnp_inactivity_restart(link);
    if (link->counters != nullptr) {
        ec_set_protocol_code(link->counters, EC_PROTOCOL_MNP);
        ec_set_link_value(link->counters, t.lt_size);
        if (link->neg.mnp5)
            ec_set_event_code(link->counters, 0, 0, 1);
    }
    link->status = MNP_STATUS_CONNECTED;
    link->state = MS_DATA;
}

void data_timers(MnpLink* link)
{
    MnpTransmit& t = link->tx;
    if (mnp_timer_expired(link, MT_ACK_WAIT)) {
        if (t.high == 0) {
            mnp_timer_stop(link, MT_ACK_WAIT);
        } else if (--link->retries == 0) {
            mnp_fail(link, MNP_REASON_RETRIES);
            return;
        } else {
            mnp_resend(link, 0);
            t.resend_guard = 1;
            mnp_timer_start(link, MT_ACK_WAIT);
        }
    }
    MnpAttention& a = link->attn;
    if (mnp_timer_expired(link, MT_LN_WAIT)) {
        mnp_timer_stop(link, MT_LN_WAIT);
        if (a.tx_type != 0) {
            if (--a.retries == 0) {
                mnp_fail(link, MNP_REASON_RETRIES);
                return;
            }
            a.tx_due = 1;
        }
    }
    MnpReceive& r = link->rx;
    if (mnp_timer_expired(link, MT_RR_WAIT)) {
        mnp_timer_stop(link, MT_RR_WAIT);
        if (r.rr_sent && r.rr_retries != 0 && --r.rr_retries != 0)
            link->rr_due = 1;
    }
}

void data_transfer(MnpLink* link)
{
    mnp_receive(link);
    if (link->state != MS_DATA)
        return;
    mnp_deliver(link);
    if (link->compressor_failed) {
        mnp_fail(link, MNP_REASON_COMPRESSOR);
        return;
    }
    data_timers(link);
}

void disconnect(MnpLink* link)
{
    link->status = MNP_STATUS_FAILED;
    // Frames still arriving are not looked at any more.
    while (FrameNode* f = mnp_rx_take(link))
        mnp_rx_release(link, f);
    switch (link->ld_phase) {
    case 0:
        link->ld_due = 1;
        link->ld_phase = 1;
        break;
    case 1:
        if (!mnp_handover_idle(link))
            break;
        link->ld_due = 1;
        link->ld_phase = 2;
        link->timers.wait_ticks = kDisconnectWaitTicks;
        break;
    default:
        if (mnp_handover_idle(link) || link->timers.wait_ticks == 0)
            link->state = MS_DISCONNECTED;
        break;
    }
}

void start_buffered(MnpLink* link)
{
    mnp_select_line(link, LINE_MODE_PLAIN);
    mnp_inactivity_restart(link);
    link->status = MNP_STATUS_BUFFERED;
    link->state = MS_BUFFERED;
}

// Received data still queued goes to the DTE first; then buffered mode when it is allowed.
void disconnected(MnpLink* link)
{
    mnp_deliver(link);
    if (link->rx.delivery.read != link->rx.delivery.write && !link->compressor_failed &&
        link->drain_passes++ < kDrainPasses)
        return;
    mnp_rx_flush(link);
    mnp_handover_reset(link);
    if (link->setup.buffered_allowed) {
        start_buffered(link);
        return;
    }
    link->status = MNP_STATUS_IDLE;
    link->state = MS_IDLE;
}

void inactive(MnpLink* link)
{
    if (link->state == MS_BUFFERED) {
        link->status = MNP_STATUS_IDLE;
        link->state = MS_IDLE;
    } else if (link->state == MS_DATA) {
        mnp_fail(link, MNP_REASON_INACTIVITY);
    }
}

}  // namespace

uint8_t mnp_retry_limit(const MnpLink* link)
{
    return link->setup.retry_count != 0 ? link->setup.retry_count : kDefaultRetries;
}

void mnp_fail(MnpLink* link, uint8_t reason)
{
    link->reason = reason;
    link->user_reason = 0;
    link->ld_phase = 0;
    link->drain_passes = 0;
    link->status = MNP_STATUS_FAILED;
    link->state = MS_DISCONNECT;
}

void mnp_select_line(MnpLink* link, uint8_t mode)
{
    link->line_mode = mode;
    FrameNode* buffer = nullptr;
    if (mode != LINE_MODE_PLAIN) {
        buffer = link->rx.line_buffer;
        if (buffer == nullptr)
            buffer = mnp_rx_done(link, nullptr);
    }
    if (link->host.line_mode != nullptr)
        link->host.line_mode(link->host.context, mode, buffer);
}

uint8_t mnp_poll(MnpLink* link)
{
    if (link->held)
        return link->status;
    if (mnp_timers_run(link))
        inactive(link);
    switch (link->state) {
    case MS_ORIGINATE: originate(link); break;
    case MS_WAIT_LR: wait_for_answer(link); break;
    case MS_ORIGINATOR_UP:
    case MS_ANSWERER_UP:
    case 15: come_up(link); break;
    case MS_ANSWER:
    case MS_ANSWER_WAIT_LA: answer(link); break;
    case MS_CONNECT: connect(link); break;
    case MS_DATA: data_transfer(link); break;
    case MS_DISCONNECT:
    case 9:
    case 16: disconnect(link); break;
    case MS_DISCONNECTED: disconnected(link); break;
    case MS_START_BUFFERED: start_buffered(link); break;
    case MS_BUFFERED: mnp_buffered_step(link); break;
    default: break;  // idle, and the hooks of the optional link variant
    }
    if (link->state <= MS_DISCONNECT || link->state == 9 || link->state == 16)
        mnp_transmit(link);
    return link->status;
}
