// The LAPM state table: for each state the events that do something, with the next state (K: keep)
// and the action. Cells not listed keep the state and do nothing. States 12 and 13 have no cells.
#include "layer2/corecode/ec/lapm_actions.h"

namespace {

constexpr uint8_t K = LAPM_KEEP;

struct SparseCell {
    uint8_t state;
    uint8_t event;
    uint8_t next;
    uint8_t action;
};

constexpr SparseCell kCells[] = {
    // state 0
    {0, 0, K, LA_GO_IDLE}, {0, 4, 2, LA_ORIGINATE_XID}, {0, 5, K, LA_SEND_DM_F1}, {0, 6, K, LA_IDLE_SEND_DM},
    {0, 7, K, LA_COUNT_ERROR}, {0, 8, K, LA_COUNT_ERROR}, {0, 37, K, LA_GO_IDLE}, {0, 38, K, LA_GO_IDLE},
    {0, 39, 2, LA_NONE}, {0, 40, 1, LA_NONE},
    // state 1
    {1, 1, 4, LA_ACCEPT_SABME_F1}, {1, 2, 4, LA_ACCEPT_SABME_F0}, {1, 3, 0, LA_RELEASE},
    {1, 5, 0, LA_SEND_DM_F1}, {1, 6, 0, LA_IDLE_SEND_DM}, {1, 8, K, LA_COUNT_ERROR},
    {1, 10, K, LA_SEND_DM_F1}, {1, 16, K, LA_SEND_DM_F1}, {1, 33, K, LA_SEND_DM_F1}, {1, 41, 0, LA_REFUSE_DM},
    {1, 43, K, LA_ANSWER_XID}, {1, 44, K, LA_TAKE_XID_RESPONSE},
    // state 2
    {2, 1, K, LA_SEND_UA_F1}, {2, 2, K, LA_SEND_UA_F0}, {2, 3, 0, LA_RELEASE}, {2, 5, 0, LA_SEND_DM_F1},
    {2, 6, 0, LA_IDLE_SEND_DM}, {2, 7, 4, LA_ENTER_DATA}, {2, 8, K, LA_COUNT_ERROR},
    {2, 34, K, LA_SETUP_RETRY}, {2, 36, 0, LA_SETUP_GIVE_UP}, {2, 39, K, LA_ORIGINATE_XID},
    {2, 41, 3, LA_SEND_DISC}, {2, 43, K, LA_ANSWER_XID}, {2, 44, K, LA_XID_DONE_SABME},
    // state 3
    {3, 1, 0, LA_DM_F1_REASON96}, {3, 2, 0, LA_DM_F0_REASON96}, {3, 3, 0, LA_STOP_TIMERS},
    {3, 5, K, LA_SEND_UA_F1}, {3, 6, K, LA_SEND_UA_F0}, {3, 7, 0, LA_STOP_TIMERS}, {3, 8, K, LA_COUNT_ERROR},
    {3, 34, 0, LA_STOP_TIMERS}, {3, 36, 0, LA_FAIL_REASON93}, {3, 43, K, LA_DM_F0_REASON96},
    // state 4
    {4, 1, K, LA_RESABME_F1}, {4, 2, K, LA_RESABME_F0}, {4, 3, K, LA_COUNT_ERROR}, {4, 4, 0, LA_STOP_TIMERS},
    {4, 5, 3, LA_DISC_UA_F1}, {4, 6, 3, LA_DISC_UA_F0}, {4, 7, K, LA_COUNT_ERROR}, {4, 8, K, LA_COUNT_ERROR},
    {4, 9, 0, LA_STOP_TIMERS}, {4, 10, K, LA_ACK_F1}, {4, 11, K, LA_ACK_F0}, {4, 12, K, LA_PEER_READY_F1},
    {4, 13, K, LA_PEER_READY}, {4, 14, 7, LA_PEER_BUSY_F1}, {4, 15, 7, LA_PEER_BUSY},
    {4, 16, K, LA_REJECT_F1}, {4, 17, K, LA_REJECT}, {4, 18, K, LA_SREJ}, {4, 19, K, LA_COUNT_ERROR},
    {4, 20, K, LA_PEER_READY}, {4, 21, K, LA_COUNT_ERROR}, {4, 22, 7, LA_PEER_BUSY},
    {4, 23, K, LA_COUNT_ERROR}, {4, 24, K, LA_REJECT}, {4, 25, K, LA_SREJ}, {4, 28, K, LA_UI_RESPONSE},
    {4, 33, 3, LA_FRMR_DISC}, {4, 34, 5, LA_T401_POLL}, {4, 35, 5, LA_POLL_RR}, {4, 36, 0, LA_FAIL_REASON93},
    {4, 37, 6, LA_NONE}, {4, 41, 3, LA_SEND_DISC}, {4, 43, K, LA_ANSWER_XID}, {4, 45, K, LA_TEST_ECHO},
    // state 5
    {5, 1, 4, LA_RESABME_F1}, {5, 2, 4, LA_RESABME_F0}, {5, 3, 0, LA_STOP_TIMERS}, {5, 4, 0, LA_STOP_TIMERS},
    {5, 5, 3, LA_DISC_UA_F1}, {5, 6, 3, LA_DISC_UA_F0}, {5, 7, K, LA_COUNT_ERROR}, {5, 8, K, LA_COUNT_ERROR},
    {5, 9, 0, LA_STOP_TIMERS}, {5, 10, K, LA_ACK_F1}, {5, 11, K, LA_ACK_F0}, {5, 12, K, LA_READY_F1},
    {5, 13, K, LA_CLEAR_PEER_BUSY}, {5, 14, 10, LA_RECOVER_BUSY_F1}, {5, 15, 10, LA_RECOVER_BUSY},
    {5, 16, K, LA_READY_F1}, {5, 17, K, LA_CLEAR_PEER_BUSY}, {5, 18, K, LA_SREJ}, {5, 19, 4, LA_RECOVER_RR},
    {5, 20, K, LA_CLEAR_PEER_BUSY}, {5, 21, 7, LA_RECOVER_RNR}, {5, 22, 10, LA_RECOVER_BUSY},
    {5, 23, 4, LA_RECOVER_REJ}, {5, 24, K, LA_CLEAR_PEER_BUSY}, {5, 25, K, LA_SREJ},
    {5, 28, K, LA_UI_RESPONSE}, {5, 33, 3, LA_FRMR_DISC}, {5, 34, K, LA_T403_POLL},
    {5, 36, 0, LA_FAIL_REASON93}, {5, 37, 9, LA_NONE}, {5, 41, 3, LA_SEND_DISC}, {5, 43, K, LA_ANSWER_XID},
    {5, 45, K, LA_TEST_ECHO},
    // state 6
    {6, 0, K, LA_ACK_CMD}, {6, 1, 4, LA_RESABME_F1}, {6, 2, 4, LA_RESABME_F0}, {6, 3, K, LA_COUNT_ERROR},
    {6, 4, 0, LA_STOP_TIMERS}, {6, 5, 3, LA_DISC_UA_F1}, {6, 6, 3, LA_DISC_UA_F0}, {6, 7, K, LA_COUNT_ERROR},
    {6, 8, K, LA_COUNT_ERROR}, {6, 9, 0, LA_STOP_TIMERS}, {6, 10, K, LA_I_ACK_F1}, {6, 11, K, LA_I_ACK_F0},
    {6, 12, K, LA_PEER_READY_F1}, {6, 13, K, LA_PEER_READY}, {6, 14, 8, LA_PEER_BUSY_F1},
    {6, 15, 8, LA_PEER_BUSY}, {6, 16, K, LA_REJECT_F1}, {6, 17, K, LA_REJECT}, {6, 18, K, LA_SREJ},
    {6, 19, K, LA_COUNT_ERROR}, {6, 20, K, LA_PEER_READY}, {6, 21, K, LA_COUNT_ERROR},
    {6, 22, 8, LA_PEER_BUSY}, {6, 23, K, LA_COUNT_ERROR}, {6, 24, K, LA_REJECT}, {6, 25, K, LA_SREJ},
    {6, 28, K, LA_UI_RESPONSE}, {6, 33, 3, LA_FRMR_DISC}, {6, 34, 9, LA_T401_RECOVER}, {6, 35, 9, LA_POLL_RR},
    {6, 36, 0, LA_FAIL_REASON93}, {6, 38, 4, LA_NONE}, {6, 41, 3, LA_SEND_DISC}, {6, 43, K, LA_ANSWER_XID},
    {6, 45, K, LA_TEST_ECHO},
    // state 7
    {7, 1, 4, LA_RESABME_F1}, {7, 2, 4, LA_RESABME_F0}, {7, 3, K, LA_COUNT_ERROR}, {7, 4, 0, LA_STOP_TIMERS},
    {7, 5, 3, LA_DISC_UA_F1}, {7, 6, 3, LA_DISC_UA_F0}, {7, 9, 0, LA_STOP_TIMERS}, {7, 10, K, LA_ACK_F1},
    {7, 11, K, LA_ACK_RR_F0}, {7, 12, 4, LA_PEER_READY_F1}, {7, 13, 4, LA_PEER_READY},
    {7, 14, K, LA_PEER_BUSY_POLL_F1}, {7, 15, K, LA_PEER_BUSY_POLL}, {7, 16, 4, LA_REJECT_F1},
    {7, 17, 4, LA_REJECT}, {7, 18, K, LA_SREJ}, {7, 19, K, LA_COUNT_ERROR}, {7, 20, 4, LA_PEER_READY},
    {7, 21, K, LA_COUNT_ERROR}, {7, 22, K, LA_PEER_BUSY_POLL}, {7, 23, K, LA_COUNT_ERROR},
    {7, 24, 4, LA_REJECT}, {7, 25, K, LA_SREJ}, {7, 28, K, LA_UI_RESPONSE}, {7, 33, 3, LA_FRMR_DISC},
    {7, 34, 10, LA_T401_POLL}, {7, 35, K, LA_POLL_RR}, {7, 36, 0, LA_FAIL_REASON93}, {7, 37, 8, LA_NONE},
    {7, 41, 3, LA_SEND_DISC}, {7, 43, K, LA_ANSWER_XID}, {7, 45, K, LA_TEST_ECHO},
    // state 8
    {8, 0, K, LA_ACK_CMD}, {8, 1, 4, LA_RESABME_F1}, {8, 2, 4, LA_RESABME_F0}, {8, 3, K, LA_COUNT_ERROR},
    {8, 4, 0, LA_STOP_TIMERS}, {8, 5, 3, LA_DISC_UA_F1}, {8, 6, 3, LA_DISC_UA_F0}, {8, 7, K, LA_COUNT_ERROR},
    {8, 8, K, LA_COUNT_ERROR}, {8, 9, 0, LA_STOP_TIMERS}, {8, 10, K, LA_I_ACK_F1}, {8, 11, K, LA_I_ACK_F0},
    {8, 12, 6, LA_PEER_READY_F1}, {8, 13, 6, LA_PEER_READY}, {8, 14, K, LA_PEER_BUSY_POLL_F1},
    {8, 15, K, LA_PEER_BUSY_POLL}, {8, 16, 6, LA_REJECT_F1}, {8, 17, 6, LA_REJECT}, {8, 18, K, LA_SREJ},
    {8, 19, K, LA_COUNT_ERROR}, {8, 20, 6, LA_PEER_READY}, {8, 21, K, LA_COUNT_ERROR},
    {8, 22, K, LA_PEER_BUSY_POLL}, {8, 23, K, LA_COUNT_ERROR}, {8, 24, 6, LA_REJECT}, {8, 25, K, LA_SREJ},
    {8, 28, K, LA_UI_RESPONSE}, {8, 33, 3, LA_FRMR_DISC}, {8, 34, 11, LA_T401_RECOVER},
    {8, 35, K, LA_POLL_RR}, {8, 36, 0, LA_FAIL_REASON93}, {8, 38, 7, LA_NONE}, {8, 41, 3, LA_SEND_DISC},
    {8, 43, K, LA_ANSWER_XID}, {8, 45, K, LA_TEST_ECHO},
    // state 9
    {9, 0, K, LA_ACK_CMD}, {9, 1, 4, LA_RESABME_F1}, {9, 2, 4, LA_RESABME_F0}, {9, 3, K, LA_COUNT_ERROR},
    {9, 4, 0, LA_STOP_TIMERS}, {9, 5, 3, LA_DISC_UA_F1}, {9, 6, 3, LA_DISC_UA_F0}, {9, 7, K, LA_COUNT_ERROR},
    {9, 8, K, LA_COUNT_ERROR}, {9, 9, 0, LA_STOP_TIMERS}, {9, 10, K, LA_I_ACK_F1}, {9, 11, K, LA_I_ACK_F0},
    {9, 12, K, LA_READY_F1}, {9, 13, K, LA_CLEAR_PEER_BUSY}, {9, 14, 11, LA_RECOVER_BUSY_F1},
    {9, 15, 11, LA_RECOVER_BUSY}, {9, 16, K, LA_READY_F1}, {9, 17, K, LA_CLEAR_PEER_BUSY},
    {9, 18, K, LA_SREJ}, {9, 19, 6, LA_RECOVER_RR}, {9, 21, 8, LA_RECOVER_RNR}, {9, 22, 11, LA_RECOVER_BUSY},
    {9, 23, 6, LA_RECOVER_REJ}, {9, 24, K, LA_CLEAR_PEER_BUSY}, {9, 25, K, LA_SREJ},
    {9, 28, K, LA_UI_RESPONSE}, {9, 33, 3, LA_FRMR_DISC}, {9, 34, K, LA_T401_RECOVER},
    {9, 36, 0, LA_FAIL_REASON93}, {9, 38, 5, LA_NONE}, {9, 41, 3, LA_SEND_DISC}, {9, 43, K, LA_ANSWER_XID},
    {9, 45, K, LA_TEST_ECHO},
    // state 10
    {10, 1, 4, LA_RESABME_F1}, {10, 2, 4, LA_RESABME_F0}, {10, 3, K, LA_COUNT_ERROR},
    {10, 4, 0, LA_STOP_TIMERS}, {10, 5, 3, LA_DISC_UA_F1}, {10, 6, 3, LA_DISC_UA_F0},
    {10, 7, K, LA_COUNT_ERROR}, {10, 8, K, LA_COUNT_ERROR}, {10, 9, 0, LA_STOP_TIMERS},
    {10, 10, K, LA_ACK_F1}, {10, 11, K, LA_ACK_F0}, {10, 12, 5, LA_READY_F1}, {10, 13, 5, LA_CLEAR_PEER_BUSY},
    {10, 14, K, LA_RECOVER_BUSY_F1}, {10, 15, K, LA_RECOVER_BUSY}, {10, 16, 5, LA_READY_F1},
    {10, 17, 5, LA_CLEAR_PEER_BUSY}, {10, 18, K, LA_SREJ}, {10, 19, 4, LA_RECOVER_RR},
    {10, 20, 5, LA_CLEAR_PEER_BUSY}, {10, 21, 7, LA_RECOVER_RNR}, {10, 22, K, LA_RECOVER_BUSY},
    {10, 23, 4, LA_RECOVER_REJ}, {10, 24, 5, LA_CLEAR_PEER_BUSY}, {10, 25, K, LA_SREJ},
    {10, 28, K, LA_UI_RESPONSE}, {10, 33, 3, LA_FRMR_DISC}, {10, 34, K, LA_T403_POLL},
    {10, 36, 0, LA_FAIL_REASON93}, {10, 37, 11, LA_NONE}, {10, 38, 5, LA_NONE}, {10, 41, 3, LA_SEND_DISC},
    {10, 43, K, LA_ANSWER_XID}, {10, 45, K, LA_TEST_ECHO},
    // state 11
    {11, 0, K, LA_ACK_CMD}, {11, 1, 4, LA_RESABME_F1}, {11, 2, 4, LA_RESABME_F0}, {11, 3, K, LA_COUNT_ERROR},
    {11, 4, 0, LA_STOP_TIMERS}, {11, 5, 3, LA_DISC_UA_F1}, {11, 6, 3, LA_DISC_UA_F0},
    {11, 7, K, LA_COUNT_ERROR}, {11, 8, K, LA_COUNT_ERROR}, {11, 9, 0, LA_STOP_TIMERS},
    {11, 10, K, LA_I_ACK_F1}, {11, 11, K, LA_I_ACK_F0}, {11, 12, 9, LA_READY_F1},
    {11, 13, 9, LA_CLEAR_PEER_BUSY}, {11, 14, K, LA_RECOVER_BUSY_F1}, {11, 15, K, LA_RECOVER_BUSY},
    {11, 16, 9, LA_READY_F1}, {11, 17, 9, LA_CLEAR_PEER_BUSY}, {11, 18, K, LA_SREJ},
    {11, 19, 6, LA_RECOVER_RR}, {11, 20, 9, LA_CLEAR_PEER_BUSY}, {11, 21, 8, LA_RECOVER_RNR},
    {11, 22, K, LA_RECOVER_BUSY}, {11, 23, 6, LA_RECOVER_REJ}, {11, 24, 9, LA_CLEAR_PEER_BUSY},
    {11, 25, K, LA_SREJ}, {11, 28, K, LA_UI_RESPONSE}, {11, 33, 3, LA_FRMR_DISC},
    {11, 34, K, LA_T401_RECOVER}, {11, 36, 0, LA_FAIL_REASON93}, {11, 38, 10, LA_NONE},
    {11, 41, 3, LA_SEND_DISC}, {11, 43, K, LA_ANSWER_XID}, {11, 45, K, LA_TEST_ECHO},
};

struct FullTable {
    LapmCell cell[LAPM_STATES][LAPM_EVENTS];
};

constexpr FullTable expand()
{
    FullTable t{};
    for (auto& row : t.cell)
        for (auto& c : row)
            c = LapmCell{K, LA_NONE};
    for (const SparseCell& s : kCells)
        t.cell[s.state][s.event] = LapmCell{s.next, s.action};
    return t;
}

constexpr FullTable kTable = expand();

}  // namespace

const LapmCell* lapm_cell(uint8_t state, uint16_t event)
{
    if (state >= LAPM_STATES || event >= LAPM_EVENTS)
        return nullptr;
    return &kTable.cell[state][event];
}
