// The call-control grids against the transition and background tables as designed: every (row, state)
// cell, every event: next state and action; cells without a table; rows without a background.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "layer2/corecode/cmd/call_control.h"

namespace {

// "row state" then, for events 0-7, 9-14 and 16, "next:action" ("-" is the no-op action).
const char* const kEventTables = R"(
0 0 0:acu_report_result_idle 0:acu_idle_input 2:acu_start_originate 3:acu_start_answer 0:- 0:acu_idle_done 0:acu_reset 0:- 0:- 5:acu_start_hangup 0:- 6:acu_enter_test 1:acu_enter_command 0:acu_dtr_idle 0:-
0 1 1:acu_report_result 1:- 2:acu_start_originate 3:acu_start_answer 4:acu_enter_online 0:acu_command_done 0:acu_reset 1:- 1:- 5:acu_start_hangup 1:- 6:acu_enter_test 1:acu_select_class 1:acu_dtr_idle 1:-
0 5 5:- 5:- 5:- 5:- 5:- 0:acu_hangup_done 0:acu_reset 5:acu_ec_status 5:- 5:- 5:- 5:- 1:- 5:- 5:-
2 5 5:- 5:- 5:- 5:- 5:- 0:acu_hangup_done 0:acu_reset 5:acu_ec_status 5:- 5:- 5:- 5:- 1:- 5:- 5:-
1 0 0:acu_report_result_idle 0:acu_idle_input 0:- 0:- 4:- 0:- 0:acu_reset 0:acu_ec_status 0:acu_carrier_lost 5:acu_start_hangup 0:acu_retrain_started 6:acu_enter_test 1:acu_enter_command 0:acu_dtr_command 0:-
1 1 1:acu_report_result_idle 1:- 1:- 1:- 4:- 0:acu_command_done 0:acu_reset 1:acu_ec_status 1:acu_carrier_lost 5:acu_start_hangup 1:acu_retrain_started 6:acu_enter_test 1:- 1:acu_dtr_command 1:-
2 2 2:acu_call_result 2:acu_call_abort_by_dte 2:- 3:acu_start_answer 4:acu_enter_online 0:- 0:acu_reset 2:- 2:- 5:acu_start_hangup 2:- 2:- 1:acu_originate_to_command 2:acu_dtr_call 2:-
2 3 3:acu_call_result 3:acu_call_abort_by_dte 3:- 3:- 4:acu_enter_online 0:- 0:acu_reset 3:- 3:- 5:acu_start_hangup 3:- 3:- 3:- 3:acu_dtr_call 3:-
1 4 4:acu_online_result 4:acu_online_input 4:- 4:- 4:- 0:acu_online_to_command 0:acu_reset 4:acu_ec_status 4:acu_carrier_lost 5:acu_start_hangup 4:acu_retrain_started 6:acu_enter_test 4:- 4:acu_dtr_online 4:acu_online_break
2 4 4:acu_online_result 4:acu_online_input 4:- 4:- 4:- 0:acu_online_to_command 0:acu_reset 4:acu_ec_status 4:acu_carrier_lost 5:acu_start_hangup 4:acu_retrain_started 6:acu_enter_test 4:- 4:acu_dtr_online 4:acu_online_break
3 0 0:acu_report_result_idle 0:acu_idle_input 0:- 0:- 4:acu_enter_online 0:- 0:acu_reset 0:- 0:- 5:acu_fax_hangup 0:- 6:- 1:acu_enter_command 0:acu_dtr_fax_command 0:-
3 1 1:acu_report_result 1:- 1:acu_fax_connect 1:acu_fax_connect 4:- 0:acu_command_done 0:acu_reset 1:- 1:- 5:acu_fax_hangup 1:- 1:- 1:- 1:acu_dtr_fax_command 1:-
3 4 4:- 4:- 4:- 4:- 4:- 0:acu_fax_done 0:acu_reset 4:- 4:- 5:acu_fax_hangup 4:- 4:- 4:- 4:acu_dtr_fax_online 4:-
4 0 0:acu_report_result_idle 0:acu_idle_input 0:- 0:- 4:- 0:- 0:acu_reset 0:- 0:acu_test_carrier_lost 6:acu_test_hangup 0:acu_test_retrain 0:- 1:acu_enter_command 0:acu_dtr_selftest 0:-
4 1 1:acu_report_result_idle 1:- 1:- 1:- 4:- 0:acu_selftest_done 0:acu_reset 1:- 1:acu_test_carrier_lost 6:acu_test_hangup 1:- 6:acu_select_selftest 1:- 1:acu_dtr_command 1:-
6 0 0:acu_voice_result 0:acu_idle_input 2:acu_voice_originate 0:acu_voice_answer 0:- 0:- 0:acu_reset 0:- 0:- 0:acu_voice_reset 0:- 0:- 1:acu_enter_command 0:acu_dtr_voice 0:-
6 1 1:acu_voice_result 1:- 2:acu_voice_originate 0:acu_voice_answer 4:acu_voice_online 0:- 0:acu_reset 1:- 1:- 0:acu_voice_hangup 1:- 1:- 1:acu_voice_class 1:acu_dtr_idle 1:-
6 2 2:acu_voice_call_result 2:acu_voice_call_input 2:- 0:acu_voice_answer 2:- 0:- 0:acu_reset 2:- 2:- 0:acu_voice_reset 2:- 2:- 1:acu_originate_to_command 2:acu_dtr_call 2:-
6 4 4:- 4:- 4:- 4:- 4:- 0:- 0:acu_reset 4:- 4:- 0:acu_voice_hangup 4:- 4:- 4:- 4:acu_dtr_voice_online 4:-
10 6 6:acu_online_result 6:acu_test_input 6:- 6:- 6:- 0:acu_test_done 6:acu_reset 6:- 6:acu_test_carrier_lost 6:acu_test_hangup 6:- 6:- 1:acu_test_to_command 6:acu_dtr_test 0:acu_test_break
11 6 6:acu_online_result 6:acu_test_input 6:- 6:- 6:- 0:acu_test_done 6:acu_reset 6:- 6:acu_test_carrier_lost 6:acu_test_hangup 6:- 6:- 1:acu_test_to_command 6:acu_dtr_test 0:acu_test_break
12 6 6:- 6:- 6:- 6:- 4:- 0:- 6:acu_reset 6:- 6:acu_carrier_lost 5:acu_test_to_hangup 6:- 6:- 1:- 6:acu_dtr_test 6:-
13 6 6:- 6:- 6:- 6:- 4:- 0:- 6:acu_reset 6:- 6:acu_carrier_lost 5:acu_test_to_hangup 6:- 6:- 1:- 6:acu_dtr_test 6:-
)";

// "row" then the background of states 0-7 ("." none, "-" the no-op).
const char* const kBackgrounds = R"(
0 acu_idle_bg CollectCommandLine . . . . . .
1 acu_online_monitor_bg CollectCommandLine . . . . . .
2 . . acu_originate_bg acu_answer_bg acu_online_monitor_bg acu_hangup_bg . .
3 - CollectCommandLine . . - . . .
4 acu_selftest_bg CollectCommandLine . . . . . .
5 . . - acu_answer_bg - - . .
6 - CollectCommandLine acu_voice_originate_bg - - - - -
10 . . . . . . acu_test_bg .
12 . . . . . . acu_test_wait_bg .
13 . . . . . . - .
)";

const std::map<std::string, CallAction>& Actions()
{
    static const std::map<std::string, CallAction> m = {
        {"-", acu_no_op},
        {"acu_answer_bg", acu_answer_bg},
        {"acu_call_abort_by_dte", acu_call_abort_by_dte},
        {"acu_call_result", acu_call_result},
        {"acu_carrier_lost", acu_carrier_lost},
        {"acu_command_done", acu_command_done},
        {"acu_dtr_call", acu_dtr_call},
        {"acu_dtr_command", acu_dtr_command},
        {"acu_dtr_fax_command", acu_dtr_fax_command},
        {"acu_dtr_fax_online", acu_dtr_fax_online},
        {"acu_dtr_idle", acu_dtr_idle},
        {"acu_dtr_online", acu_dtr_online},
        {"acu_dtr_selftest", acu_dtr_selftest},
        {"acu_dtr_test", acu_dtr_test},
        {"acu_dtr_voice", acu_dtr_voice},
        {"acu_dtr_voice_online", acu_dtr_voice_online},
        {"acu_ec_status", acu_ec_status},
        {"acu_enter_command", acu_enter_command},
        {"acu_enter_online", acu_enter_online},
        {"acu_enter_test", acu_enter_test},
        {"acu_fax_connect", acu_fax_connect},
        {"acu_fax_done", acu_fax_done},
        {"acu_fax_hangup", acu_fax_hangup},
        {"acu_hangup_bg", acu_hangup_bg},
        {"acu_hangup_done", acu_hangup_done},
        {"acu_idle_bg", acu_idle_bg},
        {"acu_idle_done", acu_idle_done},
        {"acu_idle_input", acu_idle_input},
        {"acu_online_break", acu_online_break},
        {"acu_online_input", acu_online_input},
        {"acu_online_monitor_bg", acu_online_monitor_bg},
        {"acu_online_result", acu_online_result},
        {"acu_online_to_command", acu_online_to_command},
        {"acu_originate_bg", acu_originate_bg},
        {"acu_originate_to_command", acu_originate_to_command},
        {"acu_report_result", acu_report_result},
        {"acu_report_result_idle", acu_report_result_idle},
        {"acu_reset", acu_reset},
        {"acu_retrain_started", acu_retrain_started},
        {"acu_select_class", acu_select_class},
        {"acu_select_selftest", acu_select_selftest},
        {"acu_selftest_bg", acu_selftest_bg},
        {"acu_selftest_done", acu_selftest_done},
        {"acu_start_answer", acu_start_answer},
        {"acu_start_hangup", acu_start_hangup},
        {"acu_start_originate", acu_start_originate},
        {"acu_test_bg", acu_test_bg},
        {"acu_test_break", acu_test_break},
        {"acu_test_carrier_lost", acu_test_carrier_lost},
        {"acu_test_done", acu_test_done},
        {"acu_test_hangup", acu_test_hangup},
        {"acu_test_input", acu_test_input},
        {"acu_test_retrain", acu_test_retrain},
        {"acu_test_to_command", acu_test_to_command},
        {"acu_test_to_hangup", acu_test_to_hangup},
        {"acu_test_wait_bg", acu_test_wait_bg},
        {"acu_voice_answer", acu_voice_answer},
        {"acu_voice_call_input", acu_voice_call_input},
        {"acu_voice_call_result", acu_voice_call_result},
        {"acu_voice_class", acu_voice_class},
        {"acu_voice_hangup", acu_voice_hangup},
        {"acu_voice_online", acu_voice_online},
        {"acu_voice_originate", acu_voice_originate},
        {"acu_voice_originate_bg", acu_voice_originate_bg},
        {"acu_voice_reset", acu_voice_reset},
        {"acu_voice_result", acu_voice_result},
    };
    return m;
}

TEST(CallGridTest, EveryCellMatchesTheTransitionTables)
{
    const int events[15] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11, 12, 13, 14, 16};
    bool listed[CALL_ROWS][CALL_COUNT] = {};
    std::istringstream lines(kEventTables);
    std::string line;
    int tables = 0;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        std::istringstream in(line);
        unsigned row = 0, state = 0;
        in >> row >> state;
        ASSERT_LT(row, CALL_ROWS);
        ASSERT_LT(state, CALL_COUNT);
        listed[row][state] = true;
        ++tables;
        const CallEventTable* t = CallEventGrid[row][state];
        ASSERT_NE(t, nullptr) << "row " << row << " state " << state;
        for (int e : events) {
            std::string cell;
            in >> cell;
            size_t colon = cell.find(':');
            ASSERT_NE(colon, std::string::npos) << cell;
            unsigned next = static_cast<unsigned>(std::stoul(cell.substr(0, colon)));
            auto it = Actions().find(cell.substr(colon + 1));
            ASSERT_NE(it, Actions().end()) << cell;
            EXPECT_EQ(t->entry[e].next_state, next) << "row " << row << " state " << state << " event " << e;
            EXPECT_EQ(t->entry[e].action, it->second) << "row " << row << " state " << state << " event " << e;
        }
        // Event 8 and 15: the state stays, nothing runs. Event 17: {0, none}.
        EXPECT_EQ(t->entry[8].next_state, state);
        EXPECT_EQ(t->entry[8].action, nullptr);
        EXPECT_EQ(t->entry[15].next_state, state);
        EXPECT_EQ(t->entry[15].action, nullptr);
        EXPECT_EQ(t->entry[17].next_state, 0u);
        EXPECT_EQ(t->entry[17].action, nullptr);
    }
    EXPECT_EQ(tables, 23);
    for (unsigned r = 0; r < CALL_ROWS; ++r)
        for (unsigned s = 0; s < CALL_COUNT; ++s)
            if (!listed[r][s]) {
                EXPECT_EQ(CallEventGrid[r][s], nullptr) << "row " << r << " state " << s;
            }
}

TEST(CallGridTest, EveryBackgroundMatches)
{
    std::map<std::string, CallBackground> bg = {
        {"acu_idle_bg", acu_idle_bg}, {"CollectCommandLine", acu_collect_bg}, {"-", acu_no_op},
        {"acu_online_monitor_bg", acu_online_monitor_bg}, {"acu_originate_bg", acu_originate_bg},
        {"acu_answer_bg", acu_answer_bg}, {"acu_hangup_bg", acu_hangup_bg}, {"acu_selftest_bg", acu_selftest_bg},
        {"acu_voice_originate_bg", acu_voice_originate_bg}, {"acu_test_bg", acu_test_bg},
        {"acu_test_wait_bg", acu_test_wait_bg}, {".", nullptr},
    };
    bool listed[CALL_ROWS] = {};
    std::istringstream lines(kBackgrounds);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        std::istringstream in(line);
        unsigned row = 0;
        in >> row;
        ASSERT_LT(row, CALL_ROWS);
        listed[row] = true;
        for (unsigned s = 0; s < CALL_COUNT; ++s) {
            std::string name;
            in >> name;
            ASSERT_EQ(bg.count(name), 1u) << name;
            EXPECT_EQ(CallBackgroundGrid[row][s], bg[name]) << "row " << row << " state " << s;
        }
    }
    for (unsigned r = 0; r < CALL_ROWS; ++r)
        if (!listed[r])
            for (unsigned s = 0; s < CALL_COUNT; ++s) {
                EXPECT_EQ(CallBackgroundGrid[r][s], nullptr) << "row " << r << " state " << s;
            }
}

}  // namespace
