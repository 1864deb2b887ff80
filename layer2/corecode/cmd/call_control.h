// The call-control state machine: the event queue, the state/event tables, the per-state backgrounds and
// the pass of the cooperative task. Everything else talks to it by posting events.
#pragma once

#include <cstdint>

#include "layer2/corecode/cmd/at_context.h"
#include "layer2/corecode/cmd/at_sreg.h"
#include "layer2/corecode/cmd/conn_control.h"

extern const CallEventTable* const CallEventGrid[CALL_ROWS][CALL_COUNT];
extern const CallBackground CallBackgroundGrid[CALL_ROWS][CALL_COUNT];

void EventQueueInit(EventQueue* q);
// Queues an event (low bytes kept). With all nodes in use the event is dropped, counted and logged.
void PostCallEvent(AcuContext* acu, uint8_t event, uint8_t parameter);
void DispatchCallEvents(AcuContext* acu);
void DispatchStateBackground(AcuContext* acu);
// One pass of call control (the tick of the cooperative task).
void CallControlTick(AcuContext* acu);
// The command-mode step the task runs before the tick with slice setting 2 (nothing extra to do yet).
void CallControlCommandStep(AcuContext* acu);
void CallControlInit(AcuContext* acu);
void acu_recall_profile_deferred(AcuContext* acu);
// Hands a reset (Z) over to the deferred recall: re-initialise, load the profile, report "OK".
void acu_start_reset(AcuContext* acu, uint8_t profile);
// Parameter of the event being dispatched.
uint8_t acu_event_parameter(const AcuContext* acu);

// One 10 ms step of the call-control countdowns (run by the tick service).
void acu_call_tick_10ms(AcuContext* acu);
// The data pump finished the dial, flash or tone step in progress (called by the DSP message handlers).
void acu_dsp_step_done(AcuContext* acu);
// Verdict of the call-restriction check: 1 allowed, 2 delayed, 3 refused.
void acu_restriction_verdict(AcuContext* acu, uint8_t verdict);
// Starts a loop-back test of the given kind (&T): posts the test event.
void acu_request_test(AcuContext* acu, uint8_t kind);
// The data path of the tests (loopback_data.cpp). A local digital loop needs a held connection on the plain
// path; the step runs in place of error control while a test owns the data path.
bool acu_digital_loop_possible(AcuContext* acu);
void acu_digital_loop_start(AcuContext* acu);
void acu_digital_loop_stop(AcuContext* acu);
void acu_request_remote_loop(AcuContext* acu);
void acu_arm_test_timer(AcuContext* acu);
void acu_test_data_path(AcuContext* acu, bool on);  // &T6: the DTE's data over the far end's loop
void acu_selftest_step(AcuContext* acu);
void acu_selftest_report(AcuContext* acu);
void acu_test_data_step(AcuContext* acu);

// ---- shared between the call-control files ----

// Actions of the tables (call_control_actions.cpp, dial_string.cpp, answer.cpp, hangup.cpp, loopback.cpp).
void acu_report_result(AcuContext* acu);
void acu_report_result_idle(AcuContext* acu);
void acu_idle_input(AcuContext* acu);
void acu_enter_command(AcuContext* acu);
void acu_select_class(AcuContext* acu);
void acu_voice_class(AcuContext* acu);
void acu_command_done(AcuContext* acu);
void acu_idle_done(AcuContext* acu);
void acu_start_originate(AcuContext* acu);
void acu_start_answer(AcuContext* acu);
void acu_enter_online(AcuContext* acu);
void acu_online_to_command(AcuContext* acu);
void acu_originate_to_command(AcuContext* acu);
void acu_online_input(AcuContext* acu);
void acu_call_abort_by_dte(AcuContext* acu);
void acu_voice_call_input(AcuContext* acu);
void acu_test_input(AcuContext* acu);
void acu_online_break(AcuContext* acu);
void acu_online_result(AcuContext* acu);
void acu_call_result(AcuContext* acu);
void acu_ec_status(AcuContext* acu);
void acu_carrier_lost(AcuContext* acu);
void acu_retrain_started(AcuContext* acu);
void acu_start_hangup(AcuContext* acu);
void acu_hangup_done(AcuContext* acu);
void acu_fax_done(AcuContext* acu);
void acu_selftest_done(AcuContext* acu);
void acu_test_done(AcuContext* acu);
void acu_reset(AcuContext* acu);
void acu_enter_test(AcuContext* acu);
void acu_test_hangup(AcuContext* acu);
void acu_test_to_hangup(AcuContext* acu);
void acu_test_carrier_lost(AcuContext* acu);
void acu_test_retrain(AcuContext* acu);
void acu_test_break(AcuContext* acu);
void acu_test_to_command(AcuContext* acu);
void acu_select_selftest(AcuContext* acu);
void acu_fax_connect(AcuContext* acu);
void acu_fax_hangup(AcuContext* acu);
void acu_dtr_idle(AcuContext* acu);
void acu_dtr_command(AcuContext* acu);
void acu_dtr_call(AcuContext* acu);
void acu_dtr_online(AcuContext* acu);
void acu_dtr_test(AcuContext* acu);
void acu_dtr_selftest(AcuContext* acu);
void acu_dtr_fax_command(AcuContext* acu);
void acu_dtr_fax_online(AcuContext* acu);
void acu_dtr_voice(AcuContext* acu);
void acu_dtr_voice_online(AcuContext* acu);
void acu_voice_originate(AcuContext* acu);
void acu_voice_answer(AcuContext* acu);
void acu_voice_online(AcuContext* acu);
void acu_voice_hangup(AcuContext* acu);
void acu_voice_reset(AcuContext* acu);
void acu_voice_result(AcuContext* acu);
void acu_voice_call_result(AcuContext* acu);

// Backgrounds.
void acu_idle_bg(AcuContext* acu);
void acu_collect_bg(AcuContext* acu);
void acu_no_op(AcuContext* acu);
void acu_originate_bg(AcuContext* acu);
void acu_voice_originate_bg(AcuContext* acu);
void acu_answer_bg(AcuContext* acu);
void acu_hangup_bg(AcuContext* acu);
void acu_online_monitor_bg(AcuContext* acu);
void acu_test_bg(AcuContext* acu);
void acu_test_wait_bg(AcuContext* acu);
void acu_selftest_bg(AcuContext* acu);

// Line side (call_control_line.cpp), through the device's DSP link (AcuContext::dsp). Each works without a
// data pump bound (no line: idle, no carrier).
struct DspLineControl;
DspLineControl* acu_line(AcuContext* acu);  // null: no data pump bound
uint8_t acu_pump_state(AcuContext* acu);       // connection state: register 54, low nibble
bool acu_carrier_present(AcuContext* acu);
uint8_t acu_call_progress(AcuContext* acu);    // call-progress code, 0 none
uint8_t acu_take_event_char(AcuContext* acu);  // last event character of the data pump, 0 none
// Posts a DSP message; false when no message node was free (the step is tried again).
bool acu_dsp_message(AcuContext* acu, uint8_t msg_class, uint8_t type, bool urgent, const uint8_t* data,
                     int length);
// True when a handler takes messages of the class (without one a step completes at once).
bool acu_dsp_class_served(AcuContext* acu, uint8_t msg_class);
// After a change of country: the DSP message interface restarts and the country's parameters are applied
// afresh (line profile, call-restriction bookkeeping).
void acu_country_changed(AcuContext* acu);
// A ring indication of the cadence detector {kind, duration in 100 ms, cadence marker}: kind 1 ring on
// ("DRON="), 2 ring off ("DROF="), 3 a valid ring.
void acu_ring_event(AcuContext* acu, const uint8_t payload[3]);
// A valid ring of an incoming call: "RING", S1 counted, the caller-ID capture after the first ring, and the
// automatic answer once S0 rings have come.
void acu_valid_ring(AcuContext* acu, uint8_t cadence_marker);
// Caller ID (caller_id_capture.cpp): the capture after the first ring and its end, a byte of a message, and
// the service run once per pass of call control (takes the received bytes, reports a complete message).
void acu_cid_start(AcuContext* acu);
void acu_cid_end(AcuContext* acu);
// Ends a capture without a report (+VCID=0): receiver off, message dropped.
void acu_cid_cancel(AcuContext* acu);
void acu_cid_byte(AcuContext* acu, uint8_t byte);
void acu_cid_service(AcuContext* acu);
// The call-waiting sequence (call_waiting_control.cpp): armed (watching) when a data connection comes up,
// disarmed at its end; stepped by the DSP message pump while armed.
void acu_cw_arm(AcuContext* acu, bool watch);
void acu_cw_step(AcuContext* acu);
void acu_go_off_hook(AcuContext* acu, bool answering);
void acu_go_on_hook(AcuContext* acu);
// The start packet of a connection (originate or answer) and the data pump's hang-up request.
void acu_send_start_packet(AcuContext* acu, bool originate);
void acu_send_pump_hangup(AcuContext* acu, bool cleardown);
void acu_send_loop(AcuContext* acu, uint8_t kind, bool start);
// The analog loop of a modulation (connection code) at a line rate, originating or answering.
void acu_start_analog_loop(AcuContext* acu, uint8_t modulation, uint32_t rate, bool originate);

// The data path of a connection (call_data_link.cpp): data mode with the +IFC flow control and the S2/S12
// escape; the DTE side released once the connection is reported; the escape holding the data for "O".
void acu_data_mode_params(const AcuContext* acu, uint8_t params[12]);
void acu_start_data_link(AcuContext* acu);
// The error-control and compression values of the connection starting now, from the settings.
struct DataLinkStart;
void acu_data_link_values(const AcuContext* acu, DataLinkStart* start);
// Whether +DS asks to disconnect (its second value 1) and the link came up without compression in every
// direction that +DS asks for (`compression`: the report's state, 0 none, 1-3 V.42bis receive / transmit /
// both, 4-6 the same for V.44, 7 MNP class 5).
bool acu_compression_refused(const AcuContext* acu, uint8_t compression);
void acu_release_data_mode(AcuContext* acu);
void acu_hold_data_mode(AcuContext* acu);
// Each pass on line: a completed escape becomes a break event, a reported connection starts data mode.
void acu_data_link_monitor(AcuContext* acu);

// Common call settings and the answer timer.
void acu_common_call_settings(AcuContext* acu);
void acu_arm_answer_timer(AcuContext* acu);
// Call-progress detection of the X setting: dial tone (X2, X4) and busy (X3, X4).
inline bool acu_dialtone_detect(const AcuContext* acu) { return (at_opt_x_bits(acu) & 1) != 0; }
inline bool acu_busy_detect(const AcuContext* acu) { return (at_opt_x_bits(acu) & 2) != 0; }

// Bit of the stored line options that starts a call by itself (leased line).
constexpr uint8_t kLineOptionLeased = 0x04;
// Ticks of 10 ms in S-register seconds (S6, S7, S8), with an offset in milliseconds.
inline uint32_t acu_seconds_ticks(uint8_t seconds, uint32_t extra_ms = 0) { return seconds * 100u + extra_ms / 10u; }
