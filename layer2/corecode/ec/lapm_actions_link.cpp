// State-table actions of establishment, negotiation, reset and disconnection.
#include "layer2/corecode/ec/lapm_actions.h"

static void enter_transfer(LapmLink* link)
{
    link->status = LAPM_TRANSFER;
    ec_set_protocol_code(link->counters, EC_PROTOCOL_LAPM);
    link->window = link->neg.tx_k;
    lapm_t403_start(link);
    lapm_inactivity_restart(link);
}

// A SABME (re)starts numbering. I-frames not yet acknowledged are numbered afresh from 0 and sent again,
// so a SABME repeated because its UA was lost costs no DTE data; half-received frames are dropped.
static void reset_sequence(LapmLink* link)
{
    lapm_renumber_tx(link);
    lapm_release_oos(link);
    link->vr = 0;
    link->peer_busy = 0;
    link->poll_outstanding = 0;
    link->rej_outstanding = 0;
    link->rej_wanted = 0;
}

static void accept_sabme(LapmLink* link, uint8_t f)
{
    lapm_t401_stop(link);
    lapm_reload_t401(link);
    lapm_clear_retransmissions(link);
    reset_sequence(link);
    enter_transfer(link);
    lapm_send_u(link, false, LC_UA, f);
}

static void negotiation_failed(LapmLink* link, LapmDispatch* d)
{
    link->reason = LAPM_REASON_XID_FAILED;
    d->event = LE_DISC_P0;
}

void lapm_go_idle(LapmLink* link, LapmDispatch*) { link->status = LAPM_IDLE; }

void lapm_send_dm_f1(LapmLink* link, LapmDispatch*)
{
    link->disconnect_code = LAPM_DC_NORMAL;
    lapm_send_u(link, false, LC_DM, 1);
    link->reason = LAPM_REASON_DM;
}

// Also the end of a failed negotiation, whose reason stays.
void lapm_idle_send_dm(LapmLink* link, LapmDispatch*)
{
    link->status = LAPM_IDLE;
    link->disconnect_code = LAPM_DC_NORMAL;
    lapm_send_u(link, false, LC_DM, 0);
    if (link->reason != LAPM_REASON_XID_FAILED)
        link->reason = LAPM_REASON_DM;
}

void lapm_originate_xid(LapmLink* link, LapmDispatch*)
{
    link->status = LAPM_ESTABLISHING;
    link->window = 0;
    lapm_send_xid(link, true);
    lapm_t401_start(link);
    lapm_clear_retransmissions(link);
}

void lapm_answer_xid(LapmLink* link, LapmDispatch* d)
{
    if (!lapm_take_xid(link, d->frame)) {
        negotiation_failed(link, d);
        return;
    }
    if (!link->mnp_detected)
        lapm_send_xid(link, false);
}

void lapm_accept_sabme_f0(LapmLink* link, LapmDispatch*) { accept_sabme(link, 0); }
void lapm_accept_sabme_f1(LapmLink* link, LapmDispatch*) { accept_sabme(link, 1); }

void lapm_release(LapmLink* link, LapmDispatch*)
{
    if (link->host.line_stop)
        link->host.line_stop(link->host.context);
    lapm_t401_stop(link);
    lapm_t403_stop(link);
    link->status = LAPM_IDLE;
    link->disconnect_code = LAPM_DC_NORMAL;
}

static void clear_xid_pending(LapmLink* link)
{
    if (link->xid_frame) {
        FrameNode* frame = link->xid_frame;
        link->xid_frame = nullptr;
        lapm_frame_done(link, frame);
    }
}

void lapm_take_xid_response(LapmLink* link, LapmDispatch* d)
{
    clear_xid_pending(link);
    if (!lapm_take_xid(link, d->frame))
        negotiation_failed(link, d);
}

void lapm_refuse_dm(LapmLink* link, LapmDispatch*)
{
    link->status = LAPM_DISCONNECTING;
    lapm_send_u(link, false, LC_DM, 1);
    if (!link->xid_frame)
        lapm_t401_stop(link);
    lapm_t403_stop(link);
}

void lapm_xid_done_sabme(LapmLink* link, LapmDispatch* d)
{
    clear_xid_pending(link);
    if (!lapm_take_xid(link, d->frame)) {
        negotiation_failed(link, d);
        return;
    }
    if (link->mnp_detected)
        return;
    lapm_send_u(link, true, LC_SABME, 1);
    lapm_clear_retransmissions(link);
    lapm_t401_start(link);
}

void lapm_setup_retry(LapmLink* link, LapmDispatch* d)
{
    lapm_t401_start(link);
    lapm_count_retransmission(link, d);
    if (!lapm_resend_pending(link))
        lapm_send_u(link, true, LC_SABME, 1);
}

void lapm_setup_give_up(LapmLink* link, LapmDispatch* d)
{
    link->disconnect_code = LAPM_DC_SETUP_FAILED;
    d->event = LE_CONSUMED;
}

void lapm_send_disc(LapmLink* link, LapmDispatch*)
{
    lapm_send_u(link, true, LC_DISC, 1);
    lapm_clear_retransmissions(link);
    lapm_t403_stop(link);
    lapm_t401_start(link);
}

void lapm_enter_data(LapmLink* link, LapmDispatch*)
{
    lapm_t401_stop(link);
    lapm_reload_t401(link);
    enter_transfer(link);
}

void lapm_send_ua_f1(LapmLink* link, LapmDispatch*) { lapm_send_u(link, false, LC_UA, 1); }
void lapm_send_ua_f0(LapmLink* link, LapmDispatch*) { lapm_send_u(link, false, LC_UA, 0); }

static void dm_reason96(LapmLink* link, uint8_t f)
{
    link->disconnect_code = LAPM_DC_REFUSED;
    link->reason = LAPM_REASON_DM_DISCONNECTING;
    lapm_send_u(link, false, LC_DM, f);
    lapm_t401_stop(link);
    lapm_t403_stop(link);
}

void lapm_dm_f0_reason96(LapmLink* link, LapmDispatch*) { dm_reason96(link, 0); }
void lapm_dm_f1_reason96(LapmLink* link, LapmDispatch*) { dm_reason96(link, 1); }

void lapm_stop_timers(LapmLink* link, LapmDispatch*)
{
    lapm_t401_stop(link);
    lapm_t403_stop(link);
}

void lapm_fail_reason93(LapmLink* link, LapmDispatch* d)
{
    lapm_t401_stop(link);
    lapm_t403_stop(link);
    link->disconnect_code = LAPM_DC_SETUP_FAILED;
    link->reason = LAPM_REASON_RETRIES;
    d->event = LE_CONSUMED;
}

static void resabme(LapmLink* link, LapmDispatch* d, uint8_t f)
{
    if (link->sabme_seen) {
        lapm_send_u(link, false, LC_DM, 1);
        d->event = LE_DM_F0;
        return;
    }
    link->sabme_seen = 1;
    accept_sabme(link, f);
}

void lapm_resabme_f1(LapmLink* link, LapmDispatch* d) { resabme(link, d, 1); }
void lapm_resabme_f0(LapmLink* link, LapmDispatch* d) { resabme(link, d, 0); }

static void start_disconnect_timer(LapmLink* link)
{
    link->timers.t401_limit = lapm_rate_value(link, 2);
    lapm_t401_start(link);
    lapm_t403_stop(link);
}

static void disc_ua(LapmLink* link, uint8_t f)
{
    link->disconnect_code = LAPM_DC_NORMAL;
    link->status = LAPM_DISCONNECTING;
    lapm_send_u(link, false, LC_UA, f);
    start_disconnect_timer(link);
}

void lapm_disc_ua_f1(LapmLink* link, LapmDispatch*) { disc_ua(link, 1); }

void lapm_disc_ua_f0(LapmLink* link, LapmDispatch*)
{
    disc_ua(link, 0);
    link->reason = LAPM_REASON_PEER_DISC;
}

void lapm_frmr_disc(LapmLink* link, LapmDispatch* d)
{
    link->status = LAPM_DISCONNECTING;
    lapm_send_frmr(link, d);
    lapm_send_u(link, true, LC_DISC, 1);
    start_disconnect_timer(link);
    link->reason = LAPM_REASON_FRMR;
}

void lapm_test_echo(LapmLink* link, LapmDispatch* d)
{
    if (!link->neg.test || !d->frame)
        return;
    FrameNode* frame = d->frame;
    d->frame = nullptr;  // the frame goes back out as the response
    frame->data[0] = link->peer_cmd_addr;
    frame->data[1] = LC_TEST;
    lapm_queue_built(link, frame, false);
}

void lapm_count_error(LapmLink* link, LapmDispatch*) { ec_count_error(link->counters); }
