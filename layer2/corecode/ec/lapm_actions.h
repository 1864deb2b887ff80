// The actions of the LAPM state table, numbered as the table refers to them.
#pragma once

#include "layer2/corecode/ec/lapm_internal.h"

enum LapmAction : uint8_t {
    LA_NONE = 0,
    LA_TEST_ECHO,
    LA_GO_IDLE,
    LA_SEND_DM_F1,
    LA_IDLE_SEND_DM,
    LA_ORIGINATE_XID,
    LA_ANSWER_XID,
    LA_ACCEPT_SABME_F0,
    LA_ACCEPT_SABME_F1,
    LA_RELEASE,
    LA_TAKE_XID_RESPONSE,
    LA_REFUSE_DM,
    LA_XID_DONE_SABME,
    LA_SETUP_RETRY,
    LA_SETUP_GIVE_UP,
    LA_SEND_DISC,
    LA_ENTER_DATA,
    LA_SEND_UA_F1,
    LA_SEND_UA_F0,
    LA_DM_F0_REASON96,
    LA_DM_F1_REASON96,
    LA_STOP_TIMERS,
    LA_FAIL_REASON93,
    LA_RESABME_F1,
    LA_RESABME_F0,
    LA_DISC_UA_F1,
    LA_DISC_UA_F0,
    LA_FRMR_DISC,
    LA_POLL_RR,
    LA_ACK_F1,
    LA_ACK_F0,
    LA_PEER_READY_F1,
    LA_REJECT_F1,
    LA_REJECT,
    LA_PEER_BUSY_F1,
    LA_PEER_BUSY,
    LA_PEER_READY,
    LA_T401_POLL,
    LA_UI_RESPONSE,
    LA_READY_F1,
    LA_CLEAR_PEER_BUSY,
    LA_SREJ,
    LA_RECOVER_RR,
    LA_RECOVER_REJ,
    LA_RECOVER_BUSY_F1,
    LA_RECOVER_BUSY,
    LA_RECOVER_RNR,
    LA_T403_POLL,
    LA_ACK_CMD,
    LA_I_ACK_F1,
    LA_I_ACK_F0,
    LA_T401_RECOVER,
    LA_ACK_RR_F0,
    LA_PEER_BUSY_POLL_F1,
    LA_PEER_BUSY_POLL,
    LA_COUNT_ERROR,
    LA_COUNT_OF_ACTIONS,
};

void lapm_test_echo(LapmLink* link, LapmDispatch* d);
void lapm_go_idle(LapmLink* link, LapmDispatch* d);
void lapm_send_dm_f1(LapmLink* link, LapmDispatch* d);
void lapm_idle_send_dm(LapmLink* link, LapmDispatch* d);
void lapm_originate_xid(LapmLink* link, LapmDispatch* d);
void lapm_answer_xid(LapmLink* link, LapmDispatch* d);
void lapm_accept_sabme_f0(LapmLink* link, LapmDispatch* d);
void lapm_accept_sabme_f1(LapmLink* link, LapmDispatch* d);
void lapm_release(LapmLink* link, LapmDispatch* d);
void lapm_take_xid_response(LapmLink* link, LapmDispatch* d);
void lapm_refuse_dm(LapmLink* link, LapmDispatch* d);
void lapm_xid_done_sabme(LapmLink* link, LapmDispatch* d);
void lapm_setup_retry(LapmLink* link, LapmDispatch* d);
void lapm_setup_give_up(LapmLink* link, LapmDispatch* d);
void lapm_send_disc(LapmLink* link, LapmDispatch* d);
void lapm_enter_data(LapmLink* link, LapmDispatch* d);
void lapm_send_ua_f1(LapmLink* link, LapmDispatch* d);
void lapm_send_ua_f0(LapmLink* link, LapmDispatch* d);
void lapm_dm_f0_reason96(LapmLink* link, LapmDispatch* d);
void lapm_dm_f1_reason96(LapmLink* link, LapmDispatch* d);
void lapm_stop_timers(LapmLink* link, LapmDispatch* d);
void lapm_fail_reason93(LapmLink* link, LapmDispatch* d);
void lapm_resabme_f1(LapmLink* link, LapmDispatch* d);
void lapm_resabme_f0(LapmLink* link, LapmDispatch* d);
void lapm_disc_ua_f1(LapmLink* link, LapmDispatch* d);
void lapm_disc_ua_f0(LapmLink* link, LapmDispatch* d);
void lapm_frmr_disc(LapmLink* link, LapmDispatch* d);
void lapm_poll_rr(LapmLink* link, LapmDispatch* d);
void lapm_ack_f1(LapmLink* link, LapmDispatch* d);
void lapm_ack_f0(LapmLink* link, LapmDispatch* d);
void lapm_peer_ready_f1(LapmLink* link, LapmDispatch* d);
void lapm_reject_f1(LapmLink* link, LapmDispatch* d);
void lapm_reject(LapmLink* link, LapmDispatch* d);
void lapm_peer_busy_f1(LapmLink* link, LapmDispatch* d);
void lapm_peer_busy(LapmLink* link, LapmDispatch* d);
void lapm_peer_ready(LapmLink* link, LapmDispatch* d);
void lapm_t401_poll(LapmLink* link, LapmDispatch* d);
void lapm_ui_response(LapmLink* link, LapmDispatch* d);
void lapm_ready_f1(LapmLink* link, LapmDispatch* d);
void lapm_clear_peer_busy(LapmLink* link, LapmDispatch* d);
void lapm_srej(LapmLink* link, LapmDispatch* d);
void lapm_recover_rr(LapmLink* link, LapmDispatch* d);
void lapm_recover_rej(LapmLink* link, LapmDispatch* d);
void lapm_recover_busy_f1(LapmLink* link, LapmDispatch* d);
void lapm_recover_busy(LapmLink* link, LapmDispatch* d);
void lapm_recover_rnr(LapmLink* link, LapmDispatch* d);
void lapm_t403_poll(LapmLink* link, LapmDispatch* d);
void lapm_ack_cmd(LapmLink* link, LapmDispatch* d);
void lapm_i_ack_f1(LapmLink* link, LapmDispatch* d);
void lapm_i_ack_f0(LapmLink* link, LapmDispatch* d);
void lapm_t401_recover(LapmLink* link, LapmDispatch* d);
void lapm_ack_rr_f0(LapmLink* link, LapmDispatch* d);
void lapm_peer_busy_poll_f1(LapmLink* link, LapmDispatch* d);
void lapm_peer_busy_poll(LapmLink* link, LapmDispatch* d);
void lapm_count_error(LapmLink* link, LapmDispatch* d);
