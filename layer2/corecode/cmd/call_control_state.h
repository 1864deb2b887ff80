// Per-device state of the call-control sequences: originate and the dial-string executor, answer, hang-up,
// the loop-back tests and the watchers of the dispatch pass. Held in AcuContext (`seq`); everything here
// runs in the controller's cooperative task.
#pragma once

#include <cstdint>

#include "layer2/corecode/dce/loop_test.h"

// Dial sub-states of the originate background.
enum DialSubstate : uint8_t {
    DIAL_NONE = 0,
    DIAL_START = 1,
    DIAL_RESUME = 2,
    DIAL_TONE_WAIT = 3,
    DIAL_NEXT = 4,
    DIAL_CONNECT = 5,
    DIAL_CONNECT_WAIT = 7,
    DIAL_WAITING = 8,
};

// What sub-state 8 waits for.
enum DialWaitKind : uint8_t {
    WAIT_RESTRICTION = 0,  // the call-restriction verdict
    WAIT_TIMER = 1,        // a pause (",", "W" without detection): the timer returns to sub-state 4
    WAIT_QUIET = 2,        // "@": ringback, then silence
    WAIT_STEP = 3,         // a digit, flash or tone step of the data pump
    WAIT_DIAL_TONE = 4,    // "W" with dial-tone detection
};

// Test kinds (&T).
enum TestKind : uint8_t {
    TEST_NONE = 0,
    TEST_ANALOG = 1,
    TEST_DIGITAL = 3,
    TEST_REMOTE = 6,
    TEST_REMOTE_SELF = 7,
    TEST_ANALOG_SELF = 8,
};

// Disconnect reasons (diagnostic key of the last call).
enum DisconnectReason : uint8_t {
    DISC_NONE = 0,
    DISC_BUSY_SECOND = 2,
    DISC_BUSY = 3,
    DISC_NO_CONNECTION = 4,
    DISC_NO_COMMON_MODULATION = 25,  // the V.8 menus share no modulation
    DISC_DTR = 32,
    DISC_BLACKLISTED = 41,
    DISC_ANSWER_TIMER = 44,
    DISC_NO_DIALTONE = 47,
    DISC_HOLD_TIME = 52,
    DISC_CARRIER_LOST = 60,
    DISC_CLEARDOWN = 65,
    DISC_LINK_MISMATCH = 91,
};

struct CallSequences {
    // Originate and the dial-string executor.
    uint8_t dial_substate;
    uint8_t wait_kind;
    uint8_t dialling_active;
    uint8_t return_to_command;  // ";" ended the string
    uint8_t semicolon_ended;    // the last dial string was ended by ";"
    uint8_t reverse;            // "R": originate as answerer
    uint8_t flag_j;
    uint8_t flag_k;
    uint8_t ringback_seen;      // "@": ringback was heard
    uint8_t restriction_state;  // 3 delayed, 4 blacklisted
    uint8_t restriction_busy;   // a check is outstanding
    uint8_t step_done;          // the data pump finished the step in progress
    uint8_t leased_line;        // this call was started by the leased-line option
    const char* dial_ptr;       // next character of the dial string
    char stored_number[32];     // copy of a stored number being dialled
    uint8_t pulse;              // pulse dialling selected for this call
    uint8_t pump_left_idle;     // the data pump left its idle state after the start packet
    uint32_t dial_timer;        // 10 ms ticks left
    uint8_t dial_timer_kind;    // what its expiry does (DialTimerKind); DTIMER_NONE: stopped
    uint32_t silence_timer;     // "@": silence after ringback, 10 ms ticks
    uint8_t silence_armed;
    uint32_t connect_timer;     // wait for the connection (S7), 10 ms ticks
    uint8_t connect_armed;
    uint8_t progress_ended;     // the call ended on a progress tone

    // Answer.
    uint8_t answer_substate;
    uint16_t answer_countdown;
    uint16_t answer_timer;      // S7 answer timer, 10 ms ticks; 0 stopped
    uint8_t answer_timer_armed;
    uint8_t no_voice_seen;      // "N" event character of adaptive answer
    uint8_t connect_reported;   // a connection was reported during this call

    // Hang-up.
    uint8_t hangup_substate;
    uint16_t hangup_countdown;
    uint8_t disconnect_reason;
    uint8_t hold_flag;
    uint8_t hold_time;          // hold-time byte (255 after initialisation)
    uint8_t line_off_hook;      // the line is off hook
    uint8_t on_hook_flag;       // an on-hook request was posted

    // Tests.
    uint8_t test_kind;
    uint8_t test_substate;
    uint16_t test_countdown;
    uint16_t test_timer;        // S18 test time, 10 ms ticks; 0 none
    uint8_t test_timer_armed;
    SelfTestState selftest;     // the pattern of &T7 and &T8 and its error count
    uint8_t digital_loop;       // &T3: the held connection's received bytes go back to the line
    uint8_t data_path_test;     // the far modem asked for a loop: this side loops the line
    uint8_t test_saved_state;   // call state when the data pump asked for a test
    uint8_t test_saved_row;     // Idle row saved at test start
    uint8_t test_command_pending;

    // Watchers.
    uint8_t carrier_seen;
    uint8_t pump_state_seen;
    uint8_t last_ec_status;
    uint8_t last_progress_flag;
    uint32_t carrier_losses;
    uint8_t rts_forced;
    uint8_t dtr_dial_mode;      // 0 none, 1-3 DTR dialling
    uint8_t dtr_dial_counter;
    uint8_t break_pending;
    uint8_t release_dte_pending;  // the connection was reported: data mode starts on the next pass
    uint8_t retrain_step;
    uint8_t progress;           // call-progress code read once per pass (0 none)
};

enum DialTimerKind : uint8_t {
    DTIMER_NONE = 0,
    DTIMER_NEXT = 1,         // expiry: continue with the next character
    DTIMER_NO_DIALTONE = 2,  // expiry: "NO DIALTONE"
    DTIMER_NO_ANSWER = 3,    // expiry: "NO ANSWER"
    DTIMER_BLIND = 4,        // blind dialling wait, then the first character
};
