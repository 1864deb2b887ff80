// State-table actions of information transfer: acknowledgements, busy conditions, rejects and timer
// recovery.
#include "layer2/corecode/ec/lapm_actions.h"

static uint8_t frame_nr(const LapmDispatch* d)
{
    return d->frame && d->frame->length >= 3 ? static_cast<uint8_t>(d->frame->data[2] >> 1) : 0;
}

static void start_t401_column0(LapmLink* link)
{
    lapm_reload_t401(link);
    lapm_t401_start(link);
}

// RR, REJ or RNR as the acknowledgement of received I-frames: REJ when an I-frame was discarded while
// busy and no REJ is outstanding.
static void send_ack(LapmLink* link, LapmDispatch* d, bool command, uint8_t pf)
{
    bool busy = lapm_decide_busy(link, d);
    if (!busy && link->rej_wanted && !link->rej_outstanding) {
        link->rej_wanted = 0;
        link->rej_outstanding = 1;
        link->rej_highest = link->vr;
        lapm_send_s(link, command, LC_REJ, link->vr, pf);
        return;
    }
    lapm_send_s(link, command, busy ? LC_RNR : LC_RR, link->vr, pf);
}

void lapm_poll_rr(LapmLink* link, LapmDispatch* d)
{
    lapm_send_rr_rnr(link, d, true, 1);
    lapm_clear_retransmissions(link);
    lapm_t403_stop(link);
    start_t401_column0(link);
    link->poll_outstanding = 1;
}

void lapm_ack_f1(LapmLink* link, LapmDispatch* d)
{
    link->window = link->neg.tx_k;
    lapm_send_rr_rnr(link, d, false, 1);
}

void lapm_ack_f0(LapmLink* link, LapmDispatch* d)
{
    bool busy = lapm_decide_busy(link, d);
    if (busy)
        lapm_send_s(link, false, LC_RNR, link->vr, 0);
    else if (!lapm_iframe_ready(link))
        lapm_send_s(link, false, LC_RR, link->vr, 0);
}

void lapm_peer_ready_f1(LapmLink* link, LapmDispatch* d)
{
    link->peer_busy = 0;
    link->window = link->neg.tx_k;
    lapm_send_rr_rnr(link, d, false, 1);
}

void lapm_reject_f1(LapmLink* link, LapmDispatch* d)
{
    link->window = link->neg.tx_k;
    lapm_rewind(link, frame_nr(d));
    lapm_send_rr_rnr(link, d, false, 1);
    link->peer_busy = 0;
}

void lapm_reject(LapmLink* link, LapmDispatch* d)
{
    link->window = link->neg.tx_k;
    lapm_rewind(link, frame_nr(d));
    link->peer_busy = 0;
}

static void peer_busy(LapmLink* link)
{
    link->window = 0;
    link->peer_busy = 1;
    lapm_clear_retransmissions(link);
}

void lapm_peer_busy_f1(LapmLink* link, LapmDispatch* d)
{
    link->window = 0;
    lapm_send_rr_rnr(link, d, false, 1);
    peer_busy(link);
    start_t401_column0(link);
    lapm_t403_stop(link);
}

void lapm_peer_busy(LapmLink* link, LapmDispatch*)
{
    peer_busy(link);
    start_t401_column0(link);
    lapm_t403_stop(link);
}

void lapm_peer_ready(LapmLink* link, LapmDispatch*)
{
    link->window = link->neg.tx_k;
    link->peer_busy = 0;
}

// Timer recovery starts: resend what waits for an answer, or count the unacknowledged frames as one
// retransmission, and poll.
static void poll_for_recovery(LapmLink* link, LapmDispatch* d, uint8_t control)
{
    if (!lapm_resend_pending(link) && lapm_unacked(link))
        lapm_count_retransmission(link, d);
    if (control == LC_RR)
        lapm_send_rr_rnr(link, d, true, 1);
    else
        lapm_send_s(link, true, control, link->vr, 1);
    link->window = 0;
    start_t401_column0(link);
    lapm_t403_stop(link);
    link->poll_outstanding = 1;
}

void lapm_t401_poll(LapmLink* link, LapmDispatch* d) { poll_for_recovery(link, d, LC_RR); }
void lapm_t401_recover(LapmLink* link, LapmDispatch* d) { poll_for_recovery(link, d, LC_RNR); }

void lapm_ui_response(LapmLink* link, LapmDispatch* d)
{
    if (!lapm_take_break_ack(link, d->frame))
        return;
    lapm_timers_by_ring(link);
    lapm_clear_retransmissions(link);
}

void lapm_ready_f1(LapmLink* link, LapmDispatch* d)
{
    lapm_send_rr_rnr(link, d, false, 1);
    link->peer_busy = 0;
}

void lapm_clear_peer_busy(LapmLink* link, LapmDispatch*) { link->peer_busy = 0; }

void lapm_srej(LapmLink* link, LapmDispatch* d) { lapm_resend_ns(link, frame_nr(d)); }

// The peer answered the poll: timer recovery ends, and the retransmission budget counts afresh for the next
// one (a link that recovers from every noise burst is not ended by their sum).
void lapm_recover_rr(LapmLink* link, LapmDispatch* d)
{
    link->retransmissions = 0;
    link->poll_outstanding = 0;
    link->peer_busy = 0;
    link->window = link->neg.tx_k;
    lapm_rewind(link, frame_nr(d));
    lapm_timers_by_ring(link);
    lapm_reload_t401(link);
}

void lapm_recover_rej(LapmLink* link, LapmDispatch* d) { lapm_recover_rr(link, d); }

void lapm_recover_busy_f1(LapmLink* link, LapmDispatch* d)
{
    peer_busy(link);
    lapm_send_rr_rnr(link, d, false, 1);
}

void lapm_recover_busy(LapmLink* link, LapmDispatch*) { peer_busy(link); }

// The peer answered the poll, busy: it is alive, so the retransmission budget counts afresh (a reader that
// stops for long must not end the link).
void lapm_recover_rnr(LapmLink* link, LapmDispatch* d)
{
    link->retransmissions = 0;
    link->poll_outstanding = 0;
    link->window = 0;
    link->peer_busy = 1;
    start_t401_column0(link);
    lapm_t403_stop(link);
    lapm_rewind(link, frame_nr(d));
}

void lapm_t403_poll(LapmLink* link, LapmDispatch* d)
{
    if (lapm_resend_pending(link))
        return;
    lapm_send_rr_rnr(link, d, true, 1);
    lapm_count_retransmission(link, d);
    start_t401_column0(link);
    lapm_t403_stop(link);
}

void lapm_ack_cmd(LapmLink* link, LapmDispatch* d)
{
    bool busy = lapm_decide_busy(link, d);
    if (busy)
        return;
    send_ack(link, d, true, 0);
}

void lapm_i_ack_f1(LapmLink* link, LapmDispatch* d)
{
    link->window = link->neg.tx_k;
    send_ack(link, d, false, 1);
}

void lapm_i_ack_f0(LapmLink* link, LapmDispatch* d) { send_ack(link, d, false, 0); }

void lapm_ack_rr_f0(LapmLink* link, LapmDispatch* d) { lapm_send_rr_rnr(link, d, false, 0); }

static void peer_busy_poll(LapmLink* link)
{
    peer_busy(link);
    if (link->timers.t401 < 0) {
        start_t401_column0(link);
        lapm_t403_stop(link);
    }
}

void lapm_peer_busy_poll_f1(LapmLink* link, LapmDispatch* d)
{
    link->window = 0;
    lapm_send_rr_rnr(link, d, false, 1);
    peer_busy_poll(link);
}

void lapm_peer_busy_poll(LapmLink* link, LapmDispatch*) { peer_busy_poll(link); }
