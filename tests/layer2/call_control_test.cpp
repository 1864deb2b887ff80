// Call control's dispatch rules and its sequences over a scripted data pump: cells without a table, the
// leased-line start, the DTR rules, exactly one "OK" for H and Z, answering, the hang-up's wait for the
// carrier, and the analog loop-back test.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "call_fixture.h"

using calltest::CallRig;

namespace {

constexpr uint8_t kStart = IcdStartConnection;  // the start packet of a call
constexpr uint8_t kIdle = IcdGoIdle;

// A data call up and reported (dialled blind, the pump connects).
void Connect(CallRig& r)
{
    r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
    r.Type("ATD5\r");
    for (int t = 0; t < 5000 && r.IcdCount(kStart) == 0; t += 10)
        r.Run(10);
    r.PumpState(2);
    r.Run(200);
    ASSERT_EQ(r.A()->call_state, CALL_ONLINE);
    ASSERT_NE(r.Output().find("CONNECT"), std::string::npos);
}

TEST(CallControlTest, ACellWithoutATableRunsNoActionNotEvenThePreviousOne)
{
    CallRig r;
    AcuContext* a = r.A();
    // Idle with the hang-up: the table runs the start of the hang-up.
    a->hangup_reason = 99;
    a->call_state = CALL_ORIGINATE;  // row 0 has no Originate table
    PostCallEvent(a, EV_HANGUP, RC_BUSY);
    PostCallEvent(a, EV_ANSWER, 0);
    DispatchCallEvents(a);
    EXPECT_EQ(a->call_state, CALL_ORIGINATE);
    EXPECT_EQ(a->hangup_reason, 99);
    EXPECT_EQ(a->answering, 0);
    EXPECT_EQ(a->queue.ready_head, nullptr);
}

TEST(CallControlTest, EventTenInIdleIsHangUpBeforeItsActionRuns)
{
    CallRig r;
    AcuContext* a = r.A();
    PostCallEvent(a, EV_HANGUP, RC_NONE);
    DispatchCallEvents(a);
    EXPECT_EQ(a->call_state, CALL_HANGUP);
    EXPECT_EQ(a->state_variant[CALL_HANGUP], 2);
    EXPECT_EQ(a->hangup_reason, RC_NONE);
    ASSERT_TRUE(r.RunUntilSettled(6000));
    EXPECT_EQ(a->call_state, CALL_IDLE);
    EXPECT_EQ(r.IcdCount(kIdle), 0u) << "nothing to clear down on an idle line";
}

TEST(CallControlTest, LeasedLineStartUsesTheOrdinaryOriginateRow)
{
    CallRig r;
    AcuContext* a = r.A();
    a->set.line_options |= kLineOptionLeased;
    a->sreg[7] = 2;
    PostCallEvent(a, EV_ORIGINATE, 0);
    r.Run(50);
    EXPECT_EQ(a->call_state, CALL_ORIGINATE);
    EXPECT_EQ(a->state_variant[CALL_ORIGINATE], 2);
    EXPECT_EQ(r.IcdCount(kStart), 1u) << "no dialling, straight to the connection";
    ASSERT_TRUE(r.RunUntilSettled(5000)) << "the machine never freezes";
    EXPECT_EQ(r.Output(), "\r\nNO CARRIER\r\n");
}

TEST(CallControlTest, HAndZEachGiveExactlyOneOk)
{
    for (const char* line : {"ATH\r", "ATH0\r", "ATZ\r", "ATZ0\r", "ATE0H\r"}) {
        CallRig r;
        r.Type(line);
        r.Run(3000);
        EXPECT_EQ(r.Output(), "\r\nOK\r\n") << line;
        EXPECT_EQ(r.A()->call_state, CALL_IDLE) << line;
    }
}

TEST(CallControlTest, H1TakesTheLineOffHookAndH0PutsItBack)
{
    CallRig r;
    r.Type("ATH1\r");
    r.Run(500);
    EXPECT_EQ(r.Output(), "\r\nOK\r\n");
    EXPECT_TRUE(r.Saw(kMsgHook, 3)) << "off-hook request";
    EXPECT_EQ(r.A()->seq.line_off_hook, 1);
    r.Type("ATH0\r");
    r.Run(3000);
    EXPECT_EQ(r.Output(), "\r\nOK\r\n");
    EXPECT_TRUE(r.Saw(kMsgHook, 4)) << "on-hook request";
    EXPECT_EQ(r.A()->seq.line_off_hook, 0);
}

TEST(CallControlTest, H1IsIgnoredWhileAConnectionHoldsTheLine)
{
    for (uint8_t state : {2, 8}) {
        CallRig r;
        r.PumpState(state);
        r.Type("ATH1\r");
        r.Run(500);
        EXPECT_FALSE(r.Saw(kMsgHook, 3)) << "pump state " << int(state);
    }
}

TEST(CallControlTest, DtrDropOnLineFollowsAmpD)
{
    struct Case {
        uint8_t d;
        uint8_t state_after;
        bool hangs_up;
        bool reinitialised;
    };
    const Case cases[] = {
        {0, CALL_ONLINE, false, false},
        {1, CALL_IDLE, false, false},  // to the command state, the connection held
        {2, CALL_IDLE, true, false},
        {3, CALL_IDLE, true, true},  // the reset also releases the line
    };
    for (const Case& c : cases) {
        CallRig r;
        dte_set_dtr(r.dte.get());
        r.Run(50);
        r.A()->sreg[21] = static_cast<uint8_t>((r.A()->sreg[21] & ~0x18) | (c.d << 3));
        Connect(r);
        r.A()->sreg[10] = 99;  // the reset brings back the factory value
        dte_clear_dtr(r.dte.get());
        if (c.hangs_up) {
            r.PumpState(0);
        }
        r.Run(1000);
        EXPECT_EQ(r.A()->call_state, c.state_after) << "&D" << int(c.d);
        EXPECT_EQ(r.IcdCount(kIdle) != 0, c.hangs_up) << "&D" << int(c.d);
        if (c.hangs_up) {
            EXPECT_EQ(r.A()->seq.line_off_hook, 0) << "&D" << int(c.d);
        }
        if (c.d == 2) {
            EXPECT_EQ(r.A()->seq.disconnect_reason, DISC_DTR);
        }
        if (c.d == 1) {
            EXPECT_EQ(r.A()->state_variant[CALL_IDLE], 1) << "line held";
        }
        EXPECT_EQ(r.A()->sreg[10], c.reinitialised ? 14 : 99) << "&D" << int(c.d);
        EXPECT_EQ(r.A()->initialised, 1);
    }
}

TEST(CallControlTest, DtrDialling)
{
    for (uint8_t mode : {2, 3}) {
        CallRig r;
        r.A()->seq.dtr_dial_mode = mode;
        r.A()->sreg[22] &= static_cast<uint8_t>(~0x10);
        dte_set_dtr(r.dte.get());
        r.Run(50);
        EXPECT_EQ(r.A()->call_state, CALL_ORIGINATE) << int(mode);
        EXPECT_EQ(r.A()->seq.dial_substate, mode == 2 ? DIAL_CONNECT_WAIT : DIAL_WAITING) << int(mode);
    }
}

TEST(CallControlTest, AnswerStartsAsAnswererAndTheAnswerTimerEndsWithNoCarrier)
{
    CallRig r;
    r.A()->sreg[7] = 3;
    r.Type("ATA\r");
    r.Run(2500);
    EXPECT_TRUE(r.Saw(kMsgHook, 3)) << "off hook";
    ASSERT_EQ(r.IcdCount(kStart), 1u);
    for (const IcdLogEntry& e : r.Icd())
        if (e.code == kStart) {
            EXPECT_EQ(e.payload.at(2) & 0x04, 0) << "originate bit clear";
        }
    r.PumpState(1);
    ASSERT_TRUE(r.RunUntilSettled(5000));
    EXPECT_EQ(r.Output(), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(r.A()->seq.line_off_hook, 0);
}

TEST(CallControlTest, AnsweredCallConnects)
{
    CallRig r;
    r.Type("ATA\r");
    for (int t = 0; t < 5000 && r.IcdCount(kStart) == 0; t += 10)
        r.Run(10);
    r.PumpState(2);
    r.Run(300);
    EXPECT_EQ(r.A()->call_state, CALL_ONLINE);
    EXPECT_EQ(r.Output().rfind("\r\nCONNECT", 0), 0u);
}

// With the carrier still present the hang-up waits 2.5 s after "NO CARRIER" and 5 s otherwise.
TEST(CallControlTest, HangUpWaitsForTheCarrierByReason)
{
    struct Case {
        uint8_t reason;
        int wait_ms;
    };
    for (const Case& c : {Case{RC_NO_CARRIER, 2500}, Case{RC_OK, 5000}}) {
        CallRig r;
        Connect(r);
        PostCallEvent(r.A(), EV_HANGUP, c.reason);
        int t = 0;
        while (r.IcdCount(kIdle) == 0 && t < 1000) {
            r.Run(10);
            t += 10;
        }
        ASSERT_EQ(r.IcdCount(kIdle), 1u);
        size_t before = r.messages.size();
        int waited = 0;
        while (!r.Saw(kMsgHook, 4) && waited < 10000) {
            r.Run(10);
            waited += 10;
        }
        EXPECT_GE(waited, c.wait_ms - 30) << int(c.reason);
        EXPECT_LE(waited, c.wait_ms + 30) << int(c.reason);
        EXPECT_GT(r.messages.size(), before);
        r.Run(100);
        EXPECT_EQ(r.A()->call_state, CALL_IDLE);
    }
}

TEST(CallControlTest, AnalogLoopBackTestRunsForItsTestTime)
{
    for (uint8_t seconds : {1, 0}) {  // 0: no test time, the test ends as soon as the loop is up
        CallRig r;
        r.A()->sreg[18] = seconds;
        r.Type("AT&T1\r");
        r.Run(500);
        ASSERT_EQ(r.IcdCount(IcdStartDataPump), 1u);
        EXPECT_EQ(r.A()->call_state, CALL_TEST);
        r.PumpState(5);
        r.Run(100);
        EXPECT_EQ(r.Output().rfind("\r\nCONNECT", 0), 0u);
        EXPECT_EQ(r.IcdCount(kIdle), seconds == 0 ? 1u : 0u) << int(seconds);
        r.Run(seconds * 1000);
        EXPECT_EQ(r.IcdCount(kIdle), 1u) << "the loop is released when the test time is over";
        r.PumpState(0);
        ASSERT_TRUE(r.RunUntilSettled(4000));
        EXPECT_EQ(r.Output(), "\r\nOK\r\n");
        EXPECT_EQ(r.A()->test_state, 0);
        EXPECT_EQ(r.A()->state_variant[CALL_IDLE], 0);
    }
}

TEST(CallControlTest, LoopBackTestsThatNeedTheDataPathAreRefused)
{
    for (const char* line : {"AT&T3\r", "AT&T6\r", "AT&T7\r"}) {
        CallRig r;
        r.Type(line);
        r.Run(500);
        EXPECT_EQ(r.Output(), "\r\nERROR\r\n") << line;
        EXPECT_EQ(r.IcdCount(kStart), 0u) << line;
    }
}

}  // namespace

namespace {

// Random events of the kinds the rest of the controller posts, with a randomly behaving pump: the machine
// never lands in a state whose row has no table (it would ignore every event from then on, even a reset),
// and a reset always brings it back to Idle.
TEST(CallControlTest, RandomEventsNeverLeaveTheMachineDeaf)
{
#if defined(MODEM_UNDER_SANITIZER) || defined(MODEM_UNDER_TSAN)
    const int trials = 4;
#else
    const int trials = 20;
#endif
    struct Ev {
        uint8_t event;
        uint8_t parameters[4];
        uint8_t count;
    };
    const Ev events[] = {
        {EV_RESULT, {0, 3, 7, 21}, 4}, {EV_ORIGINATE, {0, 1, 2, 0}, 3}, {EV_ANSWER, {0}, 1},
        {EV_TO_IDLE, {0, 1, 0, 0}, 2},  {EV_EC_STATUS, {1, 2, 3, 7}, 4}, {EV_PROGRESS, {2, 7, 13, 14}, 4},
        {EV_CARRIER_LOST, {0}, 1},      {EV_HANGUP, {0, 3, 4, 21}, 4},   {EV_RETRAIN, {0}, 1},
        {EV_TEST, {0, 1, 2, 0}, 3},     {EV_COMMAND, {0, 1, 3, 6}, 4},   {EV_DTE_SIGNAL, {1, 2, 3, 4}, 4},
        {EV_BREAK, {0}, 1},
    };
    std::mt19937 rng(7);
    for (int trial = 0; trial < trials; ++trial) {
        CallRig r;
        r.A()->sreg[7] = 2;
        for (int k = 0; k < 300; ++k) {
            const Ev& e = events[rng() % (sizeof events / sizeof events[0])];
            PostCallEvent(r.A(), e.event, e.parameters[rng() % e.count]);
            if (rng() % 10 == 0)
                r.PumpState(static_cast<uint8_t>(rng() % 9));
            if (rng() % 10 == 0)
                r.tone = static_cast<uint8_t>(rng() % 16);
            r.Run(10 * static_cast<int>(1 + rng() % 20));
            uint8_t s = r.A()->call_state;
            uint8_t row = r.A()->state_variant[s];
            ASSERT_LT(s, CALL_COUNT);
            ASSERT_NE(CallEventGrid[row][s], nullptr) << "trial " << trial << " step " << k << ": state "
                                                       << int(s) << " row " << int(row);
        }
        r.PumpState(0);  // (a pump in its test state would ask for a test again)
        PostCallEvent(r.A(), EV_RESET, 0);
        r.Run(30);
        EXPECT_EQ(r.A()->call_state, CALL_IDLE);
        EXPECT_EQ(r.A()->initialised, 1);
    }
}

}  // namespace
