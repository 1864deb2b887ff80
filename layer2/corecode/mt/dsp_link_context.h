// The DSP link context of call control: the country block and message queue the line-side handlers work
// with, the ready state, the ring-cadence detector fed by the data pump's detector reports, the tone results,
// the wait-for-carrier timer and the small message senders call control uses for its line-side work.
//
// One record per device, inside the device's DSP link record; everything here runs in the controller task.
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/dsp_hook_handler.h"
#include "layer2/corecode/mt/dsp_line_check.h"
#include "layer2/corecode/mt/dsp_restrictions.h"
#include "layer2/corecode/mt/dsp_router.h"
#include "layer2/corecode/mt/dsp_tone_detect.h"
#include "layer2/corecode/mt/dsp_tone_gen_handler.h"

struct CountryBlock;
struct DspLink;

constexpr int kCadenceHistory = 7;
constexpr int kToneResults = kToneTrackedIds;  // the tone detector's tracking table
constexpr uint8_t kOptionRingBit = 0x10;  // option word A: a ring burst is on

// Ring kinds posted by the cadence detector (class 1 type 3).
enum DspRingKind : uint8_t { kRingNone = 0, kRingOn = 1, kRingOff = 2, kRingValid = 3 };

struct DspCadenceEntry {
    uint8_t flag;       // 1: consumed by a completed cadence
    uint16_t rate;      // non-zero: a tone-on segment
    uint16_t duration;  // ms
};

struct DspCadenceState {
    uint16_t lastStamp;
    uint8_t resultIndex;   // winning table entry, 255 none
    uint8_t count;         // valid rings counted
    uint8_t reevaluate;    // set by a reset: the next evaluation uses the first segment list
    uint8_t mode;          // 0 valid rings only, 1 ring on/off only, 2 both
    uint8_t reportDelay;   // 100 ms units
    uint8_t state;         // 1 reset, 2 ring on, 4 ring off
    uint8_t delayTimer;    // timer ids (0 none)
    uint8_t holdTimer;
    DspCadenceEntry history[kCadenceHistory];  // newest last
};

// What the link context asks of the rest of the controller. Null entries are passed over.
struct DspLinkContextHooks {
    void* ctx;
    // Ring indicator towards the application.
    void (*raise_ri)(void* ctx);
    void (*drop_ri)(void* ctx);
    // Ring messages: the end of a ring, a ring indication {kind, duration in 100 ms, report delay}, a byte of
    // caller-ID data. A ring indication goes on only when ring_allowed agrees (null: always).
    void (*ring_off)(void* ctx);
    void (*ring_event)(void* ctx, const uint8_t payload[3]);
    void (*caller_id_byte)(void* ctx, uint8_t byte);
    bool (*ring_allowed)(void* ctx);
    // Call control: the wait for carrier (seconds), state and mode, the fax flag and its event queue.
    uint8_t (*carrier_wait_seconds)(void* ctx);
    uint8_t (*call_state)(void* ctx);
    uint8_t (*call_mode)(void* ctx);
    bool (*fax_mode)(void* ctx);
    void (*post_event)(void* ctx, uint8_t event, uint8_t parameter);
    // The line-side handlers: a dial step (digit, flash, end of dialling) has finished; the verdict of a
    // call-restriction check (1 allowed, 2 delayed, 3 refused).
    void (*step_done)(void* ctx);
    void (*restriction_verdict)(void* ctx, uint8_t verdict);
    // One pass of the call-waiting sequence (class 9 stepping).
    void (*call_waiting_step)(void* ctx);
};

struct DspLinkContext {
    const CountryBlock* country;
    DspMessageQueue* queue;
    DspLink* link;
    uint8_t* optionA;           // the command senders' option word A
    uint8_t ready;              // 0 not set up, 1 ready, 2 ready with the line-interface profile active, 3 kept
    uint8_t profileActive;      // the line-interface profile is active
    uint8_t profileIndex;       // current line-interface profile
    uint8_t lineParams[84];     // constant line parameters and their companions
    uint16_t lineParam16;
    uint8_t lineParam8;
    const uint8_t* lpohd;       // the "gpio_lpohd" option (null: off)
    uint8_t carrierWaitNotify;  // the wait-for-carrier expiry also posts class 7 type 5 (call state 7)
    DspCadenceState cadence;
    uint8_t timerIds[4];        // 0 wait-for-carrier, 1-3 call control's
    uint8_t toneResults[kToneResults][3];  // {tone id, state, flag}
    DspLinkContextHooks hooks;
    // The line-side handlers' own state (classes 3, 6, 4, 7 and 9).
    DspHookState hookState;
    DspToneGenState toneGen;
    DspToneDetectState toneDetect;
    DspRestrictionState restriction;
    DspLineCheckState lineCheck;
};

// Set-up at call-control initialisation: the queue initialised, the context cleared and bound to the country
// block and queue, the handlers registered (classes 9, 1, 6, 3, 4, 7, 5, 8: `handlers[c]` for class c; the
// ring and cadence handlers of this link serve classes 1 and 5 when none is given), class 7 type 1 posted,
// ready marked, the cadence sample queue cleared.
void DspInterfaceSetup(DspLinkContext* ctx, DspMessageQueue* queue, DspLink* link, uint8_t* option_a,
                       const CountryBlock* country, const DspHandlerRequest* handlers, int handler_count,
                       const DspLinkContextHooks* hooks);
// Restart after a country change and at power-up.
void dsp_interface_restart(DspLinkContext* ctx);
// Tells call control that a dial step has finished (through the step_done hook, when there is one).
void dsp_report_step_done(DspLinkContext* ctx);
// Cancels the context timer whose id *id holds (0: none) and sets *id to 0.
void dsp_context_cancel_timer(DspLinkContext* ctx, uint8_t* id);
// Starts a router timer of ms milliseconds calling expired(arg), its id kept in *id (0 again once it ran);
// a timer already held in *id is cancelled first. False when no timer was free.
bool dsp_context_start_timer(DspLinkContext* ctx, uint8_t* id, uint32_t ms, void (*expired)(void* arg), void* arg);

// The pump of call control's event loop: elapsed time, one cadence step, dispatch.
void dsp_msg_pump(DspLinkContext* ctx);
// One cadence step: takes one detector sample from the receive path and evaluates it.
void dsp_cadence_step(DspLinkContext* ctx);
// One {rate, duration, time stamp} sample into the detector (the step's work after the take).
void dsp_cadence_sample(DspLinkContext* ctx, uint16_t rate, uint16_t duration, uint16_t stamp);
void dsp_cadence_reset(DspLinkContext* ctx);
// Handlers of classes 1 (ring) and 5 (cadence); user data is the context.
void dsp_on_ring_msg(DspMessageNode* node, void* user);
void dsp_on_cadence_msg(DspMessageNode* node, void* user);

// Message senders (false when no node was free).
bool dsp_table_request(DspLinkContext* ctx);
bool dsp_table_request_byte(DspLinkContext* ctx, uint8_t b);
bool dsp_country_step6(DspLinkContext* ctx);
bool dsp_country_step4(DspLinkContext* ctx);
bool dsp_country_step5(DspLinkContext* ctx);
bool dsp_line_check(DspLinkContext* ctx);
bool dsp_cadence_config(DspLinkContext* ctx, uint8_t enable, uint8_t delay);
bool dsp_detect_progress_tones(DspLinkContext* ctx);
bool dsp_stop_tone_detect(DspLinkContext* ctx);
bool dsp_detect_tone(DspLinkContext* ctx, uint8_t tone_id);
bool dsp_generate_dtmf(DspLinkContext* ctx, uint8_t digit, uint16_t on_time, uint16_t off_time);
int dsp_generate_tone_pair(DspLinkContext* ctx, uint16_t f1, uint16_t f2, uint16_t duration);

// Country data of the context.
const char* dsp_country_profile_name(const DspLinkContext* ctx);
bool dsp_gpio_hook_state(DspLinkContext* ctx);
// The first pending call-progress tone result (id 1, 5, 3 or 15 in state 2 with its flag), cleared; 0 none.
uint8_t dsp_take_tone_result(DspLinkContext* ctx);
// Country S-register defaults written at power-up (returns the power-up flag of the block).
uint8_t dsp_apply_s_defaults(const DspLinkContext* ctx, uint8_t* sreg, int count);

// The wait-for-carrier timer: S7 seconds; on expiry the hang-up event (10, argument) is posted.
void acu_start_wait_timer(DspLinkContext* ctx, uint8_t argument);
void acu_cancel_wait_timer(DspLinkContext* ctx);
