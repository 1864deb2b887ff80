// The call-control grids: for each row and state the table of {next state, action} per event, and the
// background routine of the state. A cell without a table keeps the state and runs nothing.
#include "layer2/corecode/cmd/call_control.h"

namespace {

struct Cell {
    uint32_t next;
    CallAction action;
};

// Builds a table from the cells of events 0-7, 9-14 and 16; events 8 and 15 keep the state with no
// action and event 17 is {0, none}.
constexpr CallEventTable T(uint32_t self, const Cell (&c)[15])
{
    CallEventTable t{};
    const int events[15] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 16};
    for (int k = 0; k < 15; ++k)
        t.entry[events[k]] = CallEventEntry{c[k].next, c[k].action};
    t.entry[8] = CallEventEntry{self, nullptr};
    t.entry[15] = CallEventEntry{self, nullptr};
    t.entry[17] = CallEventEntry{0, nullptr};
    return t;
}

constexpr CallAction _ = acu_no_op;

//                     0                             1                       2                           3                        4                          5                             6                 7                  9                            10                          11                           12                          13                              14                         16
const CallEventTable kIdle = T(0, {{0, acu_report_result_idle}, {0, acu_idle_input}, {2, acu_start_originate}, {3, acu_start_answer}, {0, _}, {0, acu_idle_done}, {0, acu_reset}, {0, _}, {0, _}, {5, acu_start_hangup}, {0, _}, {6, acu_enter_test}, {1, acu_enter_command}, {0, acu_dtr_idle}, {0, _}});
const CallEventTable kCommand = T(1, {{1, acu_report_result}, {1, _}, {2, acu_start_originate}, {3, acu_start_answer}, {4, acu_enter_online}, {0, acu_command_done}, {0, acu_reset}, {1, _}, {1, _}, {5, acu_start_hangup}, {1, _}, {6, acu_enter_test}, {1, acu_select_class}, {1, acu_dtr_idle}, {1, _}});
const CallEventTable kHangup = T(5, {{5, _}, {5, _}, {5, _}, {5, _}, {5, _}, {0, acu_hangup_done}, {0, acu_reset}, {5, acu_ec_status}, {5, _}, {5, _}, {5, _}, {5, _}, {1, _}, {5, _}, {5, _}});
const CallEventTable kIdleHeld = T(0, {{0, acu_report_result_idle}, {0, acu_idle_input}, {0, _}, {0, _}, {4, _}, {0, _}, {0, acu_reset}, {0, acu_ec_status}, {0, acu_carrier_lost}, {5, acu_start_hangup}, {0, acu_retrain_started}, {6, acu_enter_test}, {1, acu_enter_command}, {0, acu_dtr_command}, {0, _}});
const CallEventTable kCommandHeld = T(1, {{1, acu_report_result_idle}, {1, _}, {1, _}, {1, _}, {4, _}, {0, acu_command_done}, {0, acu_reset}, {1, acu_ec_status}, {1, acu_carrier_lost}, {5, acu_start_hangup}, {1, acu_retrain_started}, {6, acu_enter_test}, {1, _}, {1, acu_dtr_command}, {1, _}});
const CallEventTable kOriginate = T(2, {{2, acu_call_result}, {2, acu_call_abort_by_dte}, {2, _}, {3, acu_start_answer}, {4, acu_enter_online}, {0, _}, {0, acu_reset}, {2, _}, {2, _}, {5, acu_start_hangup}, {2, _}, {2, _}, {1, acu_originate_to_command}, {2, acu_dtr_call}, {2, _}});
const CallEventTable kAnswer = T(3, {{3, acu_call_result}, {3, acu_call_abort_by_dte}, {3, _}, {3, _}, {4, acu_enter_online}, {0, _}, {0, acu_reset}, {3, _}, {3, _}, {5, acu_start_hangup}, {3, _}, {3, _}, {3, _}, {3, acu_dtr_call}, {3, _}});
const CallEventTable kOnline = T(4, {{4, acu_online_result}, {4, acu_online_input}, {4, _}, {4, _}, {4, _}, {0, acu_online_to_command}, {0, acu_reset}, {4, acu_ec_status}, {4, acu_carrier_lost}, {5, acu_start_hangup}, {4, acu_retrain_started}, {6, acu_enter_test}, {4, _}, {4, acu_dtr_online}, {4, acu_online_break}});
const CallEventTable kIdleFax = T(0, {{0, acu_report_result_idle}, {0, acu_idle_input}, {0, _}, {0, _}, {4, acu_enter_online}, {0, _}, {0, acu_reset}, {0, _}, {0, _}, {5, acu_fax_hangup}, {0, _}, {6, _}, {1, acu_enter_command}, {0, acu_dtr_fax_command}, {0, _}});
const CallEventTable kCommandFax = T(1, {{1, acu_report_result}, {1, _}, {1, acu_fax_connect}, {1, acu_fax_connect}, {4, _}, {0, acu_command_done}, {0, acu_reset}, {1, _}, {1, _}, {5, acu_fax_hangup}, {1, _}, {1, _}, {1, _}, {1, acu_dtr_fax_command}, {1, _}});
const CallEventTable kOnlineFax = T(4, {{4, _}, {4, _}, {4, _}, {4, _}, {4, _}, {0, acu_fax_done}, {0, acu_reset}, {4, _}, {4, _}, {5, acu_fax_hangup}, {4, _}, {4, _}, {4, _}, {4, acu_dtr_fax_online}, {4, _}});
const CallEventTable kIdleSelftest = T(0, {{0, acu_report_result_idle}, {0, acu_idle_input}, {0, _}, {0, _}, {4, _}, {0, _}, {0, acu_reset}, {0, _}, {0, acu_test_carrier_lost}, {6, acu_test_hangup}, {0, acu_test_retrain}, {0, _}, {1, acu_enter_command}, {0, acu_dtr_selftest}, {0, _}});
const CallEventTable kCommandSelftest = T(1, {{1, acu_report_result_idle}, {1, _}, {1, _}, {1, _}, {4, _}, {0, acu_selftest_done}, {0, acu_reset}, {1, _}, {1, acu_test_carrier_lost}, {6, acu_test_hangup}, {1, _}, {6, acu_select_selftest}, {1, _}, {1, acu_dtr_command}, {1, _}});
const CallEventTable kIdleVoice = T(0, {{0, acu_voice_result}, {0, acu_idle_input}, {2, acu_voice_originate}, {0, acu_voice_answer}, {0, _}, {0, _}, {0, acu_reset}, {0, _}, {0, _}, {0, acu_voice_reset}, {0, _}, {0, _}, {1, acu_enter_command}, {0, acu_dtr_voice}, {0, _}});
const CallEventTable kCommandVoice = T(1, {{1, acu_voice_result}, {1, _}, {2, acu_voice_originate}, {0, acu_voice_answer}, {4, acu_voice_online}, {0, _}, {0, acu_reset}, {1, _}, {1, _}, {0, acu_voice_hangup}, {1, _}, {1, _}, {1, acu_voice_class}, {1, acu_dtr_idle}, {1, _}});
const CallEventTable kOriginateVoice = T(2, {{2, acu_voice_call_result}, {2, acu_voice_call_input}, {2, _}, {0, acu_voice_answer}, {2, _}, {0, _}, {0, acu_reset}, {2, _}, {2, _}, {0, acu_voice_reset}, {2, _}, {2, _}, {1, acu_originate_to_command}, {2, acu_dtr_call}, {2, _}});
const CallEventTable kOnlineVoice = T(4, {{4, _}, {4, _}, {4, _}, {4, _}, {4, _}, {0, _}, {0, acu_reset}, {4, _}, {4, _}, {0, acu_voice_hangup}, {4, _}, {4, _}, {4, _}, {4, acu_dtr_voice_online}, {4, _}});
const CallEventTable kTest = T(6, {{6, acu_online_result}, {6, acu_test_input}, {6, _}, {6, _}, {6, _}, {0, acu_test_done}, {6, acu_reset}, {6, _}, {6, acu_test_carrier_lost}, {6, acu_test_hangup}, {6, _}, {6, _}, {1, acu_test_to_command}, {6, acu_dtr_test}, {0, acu_test_break}});
const CallEventTable kTestByPump = T(6, {{6, _}, {6, _}, {6, _}, {6, _}, {4, _}, {0, _}, {6, acu_reset}, {6, _}, {6, acu_carrier_lost}, {5, acu_test_to_hangup}, {6, _}, {6, _}, {1, _}, {6, acu_dtr_test}, {6, _}});

}  // namespace

const CallEventTable* const CallEventGrid[CALL_ROWS][CALL_COUNT] = {
    //         Idle             Command            Originate         Answer    On line       Hang-up   Test          7
    /*  0 */ {&kIdle,          &kCommand,         nullptr,          nullptr,  nullptr,      &kHangup, nullptr,      nullptr},
    /*  1 */ {&kIdleHeld,      &kCommandHeld,     nullptr,          nullptr,  &kOnline,     nullptr,  nullptr,      nullptr},
    /*  2 */ {nullptr,         nullptr,           &kOriginate,      &kAnswer, &kOnline,     &kHangup, nullptr,      nullptr},
    /*  3 */ {&kIdleFax,       &kCommandFax,      nullptr,          nullptr,  &kOnlineFax,  nullptr,  nullptr,      nullptr},
    /*  4 */ {&kIdleSelftest,  &kCommandSelftest, nullptr,          nullptr,  nullptr,      nullptr,  nullptr,      nullptr},
    /*  5 */ {},
    /*  6 */ {&kIdleVoice,     &kCommandVoice,    &kOriginateVoice, nullptr,  &kOnlineVoice, nullptr, nullptr,      nullptr},
    /*  7 */ {},
    /*  8 */ {},
    /*  9 */ {},
    /* 10 */ {nullptr,         nullptr,           nullptr,          nullptr,  nullptr,      nullptr,  &kTest,       nullptr},
    /* 11 */ {nullptr,         nullptr,           nullptr,          nullptr,  nullptr,      nullptr,  &kTest,       nullptr},
    /* 12 */ {nullptr,         nullptr,           nullptr,          nullptr,  nullptr,      nullptr,  &kTestByPump, nullptr},
    /* 13 */ {nullptr,         nullptr,           nullptr,          nullptr,  nullptr,      nullptr,  &kTestByPump, nullptr},
};

const CallBackground CallBackgroundGrid[CALL_ROWS][CALL_COUNT] = {
    //         Idle                   Command         Originate               Answer         On line                Hang-up        Test              7
    /*  0 */ {acu_idle_bg,           acu_collect_bg, nullptr,                nullptr,       nullptr,               nullptr,       nullptr,          nullptr},
    /*  1 */ {acu_online_monitor_bg, acu_collect_bg, nullptr,                nullptr,       nullptr,               nullptr,       nullptr,          nullptr},
    /*  2 */ {nullptr,               nullptr,        acu_originate_bg,       acu_answer_bg, acu_online_monitor_bg, acu_hangup_bg, nullptr,          nullptr},
    /*  3 */ {acu_no_op,             acu_collect_bg, nullptr,                nullptr,       acu_no_op,             nullptr,       nullptr,          nullptr},
    /*  4 */ {acu_selftest_bg,       acu_collect_bg, nullptr,                nullptr,       nullptr,               nullptr,       nullptr,          nullptr},
    /*  5 */ {nullptr,               nullptr,        acu_no_op,              acu_answer_bg, acu_no_op,             acu_no_op,     nullptr,          nullptr},
    /*  6 */ {acu_no_op,             acu_collect_bg, acu_voice_originate_bg, acu_no_op,     acu_no_op,             acu_no_op,     acu_no_op,        acu_no_op},
    /*  7 */ {},
    /*  8 */ {},
    /*  9 */ {},
    /* 10 */ {nullptr,               nullptr,        nullptr,                nullptr,       nullptr,               nullptr,       acu_test_bg,      nullptr},
    /* 11 */ {},
    /* 12 */ {nullptr,               nullptr,        nullptr,                nullptr,       nullptr,               nullptr,       acu_test_wait_bg, nullptr},
    /* 13 */ {nullptr,               nullptr,        nullptr,                nullptr,       nullptr,               nullptr,       acu_no_op,        nullptr},
};
