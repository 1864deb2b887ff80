// LAPM life cycle: init, set-up, start, stop, hold, disconnect and parameter changes.
#include "layer2/corecode/ec/lapm_internal.h"
#include "layer2/corecode/ec/lapm_compress.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t LAPM_WINDOW = 15;
constexpr uint16_t LAPM_N401_DEFAULT = 128;

uint16_t clamp16(uint32_t v, uint32_t lo, uint32_t hi) { return static_cast<uint16_t>(std::clamp(v, lo, hi)); }

void reset_queues(LapmLink* link)
{
    ec_rx_pool_reset(&link->rx);
    ec_frame_queue_reset(&link->events, link->event_nodes, LAPM_EVENT_NODES, sizeof(LapmEventNode));
    ec_frame_queue_reset(&link->control, link->control_nodes, LAPM_CONTROL_NODES, sizeof(FrameNode));
    ec_frame_queue_reset(&link->iframes, link->tx_nodes, LAPM_TX_NODES, sizeof(FrameNode));
    for (FrameNode& n : link->control_nodes)
        n.owner = FRAME_OWNER_CONTROL;
    for (FrameNode& n : link->tx_nodes)
        n.owner = FRAME_OWNER_IFRAME;
    std::memset(&link->tx_ring, 0, sizeof link->tx_ring);
    link->tx_send = 0;
    link->tx_high = 0;
    link->building = nullptr;
    link->rx_queue = FrameList{};
    link->oos_queue = FrameList{};
    link->xid_frame = nullptr;
    link->break_frame = nullptr;
    std::memset(link->srej_requested, 0, sizeof link->srej_requested);
    std::memset(link->srej_resend, 0, sizeof link->srej_resend);
    KeInitializeSpinLock(&link->handover_lock);
    lapm_handover_reset(link);
}

void set_proposal(LapmLink* link)
{
    const LapmSetup& s = link->setup;
    LapmValues& p = link->proposal;
    p.tx_k = p.rx_k = LAPM_WINDOW;
    p.tx_n401 = p.rx_n401 = clamp16(s.info_size, 20, 128);
    p.srej = (s.srej_request & 0x03) ? 1 : 0;
    p.test = (s.test_request & 0x01) ? 1 : 0;
    p.fcs = (s.fcs_request == 1 || s.fcs_request == 2) ? 1 : 0;
    p.p0 = static_cast<uint8_t>(std::min<uint8_t>(s.p0, 3));
    p.p1 = clamp16(s.p1, 512, 2048);
    p.p2 = static_cast<uint8_t>(clamp16(s.p2, 6, 250));
    LapmValues& n = link->neg;
    n = LapmValues{};
    n.tx_k = n.rx_k = LAPM_WINDOW;
    n.tx_n401 = n.rx_n401 = LAPM_N401_DEFAULT;
    n.p1 = 512;
    n.p2 = 6;
}

void reset_record(LapmLink* link)
{
    link->status = LAPM_IDLE;
    link->state = LS_IDLE;
    link->prev_state = LS_IDLE;
    link->event = 0;
    link->prev_event = 0;
    link->originator = 0;
    link->disconnect_code = LAPM_DC_NONE;
    link->reason = 0;
    link->va = link->vr = link->next_ns = 0;
    link->window = 0;
    link->poll_outstanding = link->peer_busy = link->own_busy = 0;
    link->rej_outstanding = link->rej_wanted = link->rej_highest = 0;
    link->held = link->mnp_detected = link->sabme_seen = 0;
    link->break_in_progress = link->break_seq = link->mode3_waiting = 0;
    link->mode3_count = 0;
    link->rx_break_seq = 0xFF;
    link->rx_break_pending = 0;
    link->retransmissions = 0;
    link->mnp_frame_length = 0;
    LapmTimers& t = link->timers;
    t.setup = t.inactivity = t.t401 = t.t403 = t.delivery = -1;
    t.pending_ticks = 0;
}

}  // namespace

void lapm_init(LapmLink* link, const LapmHost* host, LapmCallValues* call, EcCounters* counters)
{
    std::memset(static_cast<void*>(link), 0, sizeof *link);
    link->host = *host;
    link->call = call;
    link->counters = counters;
    link->xid = &lapm_xid_hdlc_ops;
    reset_queues(link);
    reset_record(link);
}

void lapm_setup(LapmLink* link, const LapmSetup* setup)
{
    reset_queues(link);
    reset_record(link);
    link->setup = *setup;
    set_proposal(link);
    ec_set_link_value(link->counters, link->proposal.tx_n401);
    link->timers.t403_limit = lapm_rate_value(link, 1);
    lapm_reload_t401(link);
    link->timers.inactivity_limit = setup->inactivity_s * 10u;
}

void lapm_start(LapmLink* link, uint8_t request)
{
    if (request <= 1 && link->host.line_start)
        link->host.line_start(link->host.context, request == 0 ? link->setup.line_option : 0);
    switch (request) {
    case 0:
        link->originator = 1;
        link->own_cmd_addr = LAPM_ADDR_ORIGINATOR_CMD;
        link->peer_cmd_addr = LAPM_ADDR_ANSWERER_CMD;
        link->status = LAPM_ESTABLISHING;
        lapm_post_event(link, LE_START_ORIGINATE, nullptr);
        link->timers.setup = 0;
        break;
    case 1:
        link->originator = 0;
        link->own_cmd_addr = LAPM_ADDR_ANSWERER_CMD;
        link->peer_cmd_addr = LAPM_ADDR_ORIGINATOR_CMD;
        link->status = LAPM_ESTABLISHING;
        lapm_post_event(link, LE_START_ANSWER, nullptr);
        break;
    case 2:
        if (!link->held)
            return;
        link->status = LAPM_TRANSFER;
        link->held = 0;
        lapm_post_event(link, LE_OWN_READY, nullptr);
        lapm_queue_control_frame(link, 0, LC_RR);
        break;
    default: break;
    }
}

void lapm_stop(LapmLink* link)
{
    if (link->host.line_stop)
        link->host.line_stop(link->host.context);
    reset_queues(link);
    if (link->compression)
        lapm_compression_stop(link->compression);
    link->state = LS_IDLE;
    link->status = LAPM_IDLE;
}

void lapm_tick(LapmLink* link) { ++link->timers.pending_ticks; }

void lapm_disconnect(LapmLink* link, uint8_t local)
{
    if (link->status != LAPM_ESTABLISHING && link->status != LAPM_HELD && link->status != LAPM_TRANSFER)
        return;
    link->status = LAPM_DISCONNECTING;
    lapm_post_event(link, LE_LOCAL_DISC, nullptr);
    link->disconnect_code = local ? LAPM_DC_LOCAL : LAPM_DC_NONE;
}

void lapm_request_disconnect_tx(LapmLink* link)
{
    link->disconnect_code = LAPM_DC_COMPRESSOR;
    lapm_post_event(link, LE_LOCAL_DISC, nullptr);
}

uint8_t lapm_hold(LapmLink* link)
{
    link->held = 1;
    link->status = LAPM_HELD;
    if (!lapm_post_event(link, LE_OWN_BUSY, nullptr))
        return 1;
    lapm_queue_control_frame(link, 0, LC_RNR);
    return 0;
}

uint8_t lapm_set_link_params(LapmLink* link, uint8_t a, uint8_t b, uint16_t c, uint8_t d, uint16_t e,
                             uint8_t f, uint8_t g)
{
    LapmSetup& s = link->setup;
    s.break_mode = a;
    s.pass_break = b;
    s.inactivity_s = c;
    link->timers.inactivity_limit = c * 10u;
    lapm_inactivity_restart(link);
    s.retry_budget = d;
    if (!link->xid_frame) {
        s.info_size = e;
        s.srej_request = f;
        s.test_request = g;
        LapmValues& p = link->proposal;
        p.tx_n401 = p.rx_n401 = clamp16(e, 20, 128);
        p.tx_k = p.rx_k = LAPM_WINDOW;
        p.srej = (f & 0x03) ? 1 : 0;
        p.test = (g & 0x01) ? 1 : 0;
    }
    return 0;
}

uint8_t lapm_pending_bits(LapmLink* link)
{
    uint8_t bits = 0;
    const LapmHost& h = link->host;
    if ((h.dte_pending && h.dte_pending(h.context) != 0) || lapm_rx_pending(link) ||
        ec_tx_ring_depth(&link->tx_ring) != 0 || link->tx_send != link->tx_ring.read || link->building)
        bits |= 1;
    if (ec_tx_ring_depth(&link->tx_ring) != 0 || !lapm_handover_idle(link))
        bits |= 2;
    return bits;
}
