// The command side of one modem: the AT interpreter (collector, parser, argument buffer, table list),
// the S-register file, the settings the basic commands keep, the response output state and the
// call-control state machine with its event queue. One record per device (AcuContext); every routine of
// the interpreter and of call control takes it first. All of it runs in the controller's cooperative task.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer2/corecode/cmd/at_ext_settings.h"
#include "layer2/corecode/cmd/call_waiting.h"
#include "layer2/corecode/cmd/caller_id.h"
#include "layer2/corecode/cmd/call_control_state.h"
#include "layer2/corecode/cmd/conn_state.h"
#include "layer2/corecode/cmd/diag_record.h"
#include "layer2/corecode/cmd/modem_hold.h"
#include "layer2/corecode/cmd/table_dialogue.h"
#include "layer2/corecode/fax/fax_engine.h"
#include "layer2/corecode/voice/voice_engine.h"

struct DteContext;
struct CoreSettings;
struct ModemCore;
struct AcuContext;

// ---- command tables ----

typedef void (*AtHandler)(AcuContext* acu, uint8_t* args);

enum : uint8_t {
    AT_FLAG_EXTENDED = 0x01,   // must be followed by ";" or the end of the line
    AT_FLAG_KEEP_SEARCH = 0x02,
};

struct AtCommandEntry {
    const char* name;   // upper-case; "" ends a table
    AtHandler handler;  // called with the argument buffer (type 0: the buffer is not meaningful)
    uint8_t arg_type;   // 0-20
    uint8_t flags;
    uint8_t reserved[2];
};

constexpr unsigned AT_MAX_TABLES = 15;
constexpr unsigned AT_LINE_MAX = 80;      // characters after "AT"
constexpr unsigned AT_LINE_BUFFER = 96;   // at least 81 characters and a terminator
constexpr unsigned AT_ARG_BUFFER = 80;

enum CollectorStateValue : uint8_t {
    COLLECT_WAIT_PREFIX = 0,
    COLLECT_LINE = 1,
    COLLECT_COMPLETE = 2,
    COLLECT_EXECUTE = 3,
    COLLECT_REPORT = 4,
    COLLECT_PAUSED = 5,
    COLLECT_RETURN_ONLINE = 6,
};

// ---- call control ----

enum CallEventNumber : uint8_t {
    EV_RESULT = 0,
    EV_DTE_INPUT = 1,
    EV_ORIGINATE = 2,
    EV_ANSWER = 3,
    EV_CONNECTED = 4,
    EV_TO_IDLE = 5,
    EV_RESET = 6,
    EV_EC_STATUS = 7,
    EV_PROGRESS = 8,
    EV_CARRIER_LOST = 9,
    EV_HANGUP = 10,
    EV_RETRAIN = 11,
    EV_TEST = 12,
    EV_COMMAND = 13,
    EV_DTE_SIGNAL = 14,
    EV_UNUSED_15 = 15,
    EV_BREAK = 16,
    EV_COUNT = 18,  // table entries per state (entry 17 is never used)
};

enum CallStateValue : uint8_t {
    CALL_IDLE = 0,
    CALL_COMMAND = 1,
    CALL_ORIGINATE = 2,
    CALL_ANSWER = 3,
    CALL_ONLINE = 4,
    CALL_HANGUP = 5,
    CALL_TEST = 6,
    CALL_UNUSED = 7,
    CALL_COUNT = 8,
};

constexpr unsigned CALL_ROWS = 14;
constexpr unsigned CALL_EVENT_NODES = 20;

typedef void (*CallAction)(AcuContext* acu);
typedef void (*CallBackground)(AcuContext* acu);

struct CallEventEntry {
    uint32_t next_state;
    CallAction action;  // null: no action
};

struct CallEventTable {
    CallEventEntry entry[EV_COUNT];
};

struct CallEventNode {
    CallEventNode* link;
    uint16_t event;
    uint16_t parameter;
};

struct EventQueue {
    CallEventNode nodes[CALL_EVENT_NODES];
    CallEventNode* ready_head;
    CallEventNode* ready_tail;
    CallEventNode* free_head;
    CallEventNode* free_tail;
    uint32_t dropped;  // events dropped because all nodes were in use
};

// Result-code indices used as event parameters.
enum ResultIndex : uint8_t {
    RC_OK = 0,
    RC_CONNECT = 1,
    RC_RING = 2,
    RC_NO_CARRIER = 3,
    RC_ERROR = 4,
    RC_NO_DIALTONE = 6,
    RC_BUSY = 7,
    RC_NO_ANSWER = 8,
    RC_FCERROR = 11,
    RC_DRON = 15,             // "DRON=" and the ring-on duration
    RC_DROF = 16,             // "DROF=" and the ring-off duration
    RC_DLE_RING = 17,         // voice: DLE "R"
    RC_DLE_REPORT_START = 18, // voice: DLE "X"
    RC_DLE_REPORT_END = 19,   // voice: DLE "."
    RC_CONNECT_REPORT = 20,
    RC_NONE = 21,
    RC_CUSTOM_BARE = 254,
    RC_CUSTOM = 255,
};

// ---- S-registers and kept settings ----

constexpr unsigned S_REGISTER_COUNT = 120;

// The S-registers the controller reads or writes by name (AcuContext::sreg[S_...]).
enum SRegister : unsigned {
    S_AUTO_ANSWER_RINGS = 0,     // rings before answering; 0: no auto-answer
    S_RING_COUNT = 1,
    S_ESCAPE_CHAR = 2,
    S_CR_CHAR = 3,               // command line terminator, written for CR in responses
    S_LF_CHAR = 4,               // written for LF in responses
    S_BS_CHAR = 5,               // backspace character
    S_DIAL_TONE_WAIT = 6,        // seconds
    S_CARRIER_WAIT = 7,          // seconds
    S_COMMA_PAUSE = 8,           // "," pause, 100 ms units
    S_CARRIER_DETECT_TIME = 9,
    S_CARRIER_LOSS_TIME = 10,
    S_ESCAPE_GUARD = 12,         // two-tick units
    S_OPTIONS = 14,              // S14_* bits
    S_TEST_TIMER = 18,           // seconds; 0: none
    S_DTE_OPTIONS = 21,
    S_RESULT_OPTIONS = 22,       // L, M, X and &P; S22_CONNECT_REPORT
    S_DTE_FORMAT = 23,           // S23_* fields
    S_LINE_OPTIONS = 27,         // S27_* fields
    S_INACTIVITY_TIME = 30,
    S_ALTERNATE_TIMING = 63,     // sent in place of S91 when S27_ALTERNATE_TIMING is set
    S_LEVEL_81 = 81,             // S81-S83 and S91-S93: level bytes kept in non-volatile memory
    S_LEVEL_82 = 82,
    S_LEVEL_83 = 83,
    S_LEVEL_91 = 91,
    S_LEVEL_92 = 92,
    S_LEVEL_93 = 93,
    S_TIMING_108 = 108,          // the last call-progress timing byte
};

// Bits and fields of the bit-mapped S-registers.
constexpr uint8_t S14_ECHO = 0x02;
constexpr uint8_t S14_QUIET = 0x04;
constexpr uint8_t S14_VERBAL = 0x08;
constexpr uint8_t S14_PULSE = 0x20;
constexpr uint8_t S14_ORIGINATE = 0x80;
constexpr uint8_t S22_CONNECT_REPORT = 0x40;  // CONNECT carries the rate (an X bit)
constexpr uint8_t S23_RATE_CODE = 0x0E;
constexpr uint8_t S23_PARITY = 0x30;
constexpr uint8_t S27_LINE_MODE = 0x03;
constexpr uint8_t S27_ALTERNATE_TIMING = 0x04;

// The settings of the basic commands that are not S-registers (the stored profile keeps them later).
struct AtSettings {
    uint8_t w;             // connection report set (W)
    uint8_t x;             // call-progress set (X)
    uint8_t bs_a;          // \A
    uint8_t pct_a;         // %A
    uint8_t bs_c;          // \C
    uint8_t pct_c;         // %C
    uint8_t pct_e;         // %E
    uint8_t pct_g;         // %G
    uint8_t bs_g;          // \G
    uint8_t bs_j;          // \J
    uint8_t bs_l;          // \L
    uint8_t bs_n;          // \N mode
    uint8_t bs_x;          // \X
    uint8_t bs_v;          // \V (bit 1 of the result-format options)
    uint8_t dash_j;        // -J
    uint8_t dash_c;        // -C
    uint8_t dash_q;        // -Q
    uint8_t amp_u;         // &U
    uint8_t amp_k;         // &K value shown by &V
    uint8_t paren_m;       // )M
    uint8_t last_amp_f;    // last &F argument
    uint8_t pulse_make;    // pulse make/break ratio
    uint8_t pulse_break;
    uint8_t line_options;  // bit 1 &U, bit 3 -C, bit 4 %E, bit 5 %G
    uint8_t g_companion;   // %G1 with a modulation code above 15
    uint8_t break_length;  // \B length (tens of ms), 0 = none set
    uint8_t break_type;    // +EB type (internal coding)
    uint8_t break_destructive;
    uint8_t break_timed;
    uint8_t ec_changed;    // error-control parameters changed
    uint8_t es[3];         // +ES origination request, origination fallback, answer fallback
    uint16_t ds[4];        // +DS direction, negotiation, dictionary size, maximum string length
    uint8_t ifc[2];        // +IFC
    uint8_t mr, dr, er, ilrr;  // connection report options
    uint8_t pending_request;   // !M= request code
    uint8_t n1_allowed;        // mode mark that permits \N1
    uint8_t dsp_option_reply;  // reply the DSP link gives to -B/-U (0 until the DSP link exists)
    uint32_t dte_rate;         // kept DTE rate
    uint8_t fixed_rate;        // the kept rate is used instead of the port's
    uint8_t high_rate;         // DTE rate of 2400 or more
    uint8_t dte_format[2];     // character-format bytes
    // Further profile settings (see profile.cpp for the byte each one is stored in).
    uint8_t parity_type;       // detected parity type
    uint8_t format_option;     // character-format option
    uint8_t ma_mark;           // +MA selection mark
    uint8_t dial_option;       // dial option byte (sent with the call-progress timing)
    uint8_t ds_copy;           // second copy of the +DS direction
    uint8_t rate_bytes[3];     // the DTE rate as a profile keeps it (low, middle, high byte)
    uint8_t dl_option[13];     // options kept for the data link, in profile order
};

// Line-side services reached from the S-register write and the profile loads; the DSP link fills them when
// it binds to the controller. Each may be null (nothing is sent then).
struct AcuLineHooks {
    void* ctx;
    void (*send_cp_timing)(void* ctx, const uint8_t timing[7]);  // S9 S7 S10 dial-option S91 timing S108
    void (*set_auto_answer)(void* ctx, uint8_t on);
    void (*speaker_off)(void* ctx);
};

// ---- the record ----

struct AcuContext {
    DteContext* dte;
    CoreSettings* settings;  // may be null (no country data, no non-volatile image)
    ModemCore* core;         // may be null: waits then sleep without the core's run check
    struct DspDevice* dsp;   // the DSP link of the device; may be null (no data pump bound)

    // Interpreter.
    const AtCommandEntry* tables[AT_MAX_TABLES + 1];
    uint8_t table_count;
    const AtCommandEntry* saved_tables[AT_MAX_TABLES + 1];
    uint8_t saved_count;
    char line[AT_LINE_BUFFER];
    uint8_t line_length;
    uint8_t args[AT_ARG_BUFFER];
    uint8_t command_error;    // CommandErrorFlag
    const char* cursor;
    unsigned entry_index;
    unsigned table_index;
    uint8_t parser_state;     // 0 idle, 1 prepare line, 2 executing
    const AtCommandEntry* matched;
    uint8_t collector;        // CollectorStateValue
    uint8_t prefix_letter;    // last "A" or "a" seen (0 none)
    uint16_t post_line_delay;
    uint16_t post_line_start; // 13 in the data command set
    uint8_t report_ok;
    uint8_t reset_pending;    // Z: profile number + 4, 0 none
    uint8_t end_with_event2;
    uint8_t end_with_online;   // "O" on a held connection: the line ends with CONNECT and data mode
    uint8_t validation_active;
    uint8_t current_sreg;
    uint16_t pause_countdown;     // "," pause
    uint16_t return_countdown;    // "O" return
    uint8_t return_wait;          // O1/O3: the line waits for the retrain or renegotiation to end
    uint16_t ring_timer;
    uint16_t dtr_debounce;
    uint8_t dtr_seen;
    uint8_t echo_hold;        // call control's two echo-suppressing marks
    uint8_t voice_mode;       // the voice command set is selected
    uint8_t fax_class;        // +FCLASS value (0 data)
    uint8_t online;           // a data connection is up
    uint8_t test_state;       // running test (0 none)
    uint8_t hangup_pending;   // a hang-up was marked by H or Z
    uint8_t return_to_command;// the hang-up returns to the command state
    uint8_t termination_cause;// diagnostic key 60
    uint8_t debug_tables;     // the debug table is registered
    char dial_string[AT_ARG_BUFFER];  // the dial command's string (D)
    uint8_t dial_stored;      // the dial names a stored number (S)

    // Escape (on-line command) detector.
    uint8_t escape_state;
    uint8_t escape_pending;
    uint8_t escape_reported;
    uint16_t escape_countdown;
    uint8_t escape_divider;

    // Output.
    uint8_t response_sent;
    char custom_text[64];
    char scratch[40];
    uint32_t format_args[8];
    const char* format_texts[4];
    uint8_t format_arg_count;
    uint8_t format_text_count;
    uint32_t drain_reports;   // output waits that ran past their countdown
    uint8_t dr_number;        // number printed after "DRON="/"DROF="

    // Connection facts the connection report reads (filled by connection control).
    uint8_t modulation;       // modulation code 0-24
    uint32_t line_rate;
    uint32_t connect_rate;
    uint8_t ec_protocol;      // 5 none, 6 LAPM, other alternative
    uint8_t ec_first_state;   // the link is in its first state
    uint8_t compression_state;// 0-7
    uint8_t v92_marks;
    uint8_t voice_data_mode;

    // S-registers and settings.
    uint8_t sreg[S_REGISTER_COUNT];
    AtSettings set;
    AtExtSettings ext;         // extended-command settings
    CidState cid;              // caller-ID capture on hook
    CwSequence cw;             // the call-waiting sequence during a data connection
    uint32_t cw_last_ms;       // time of its last step
    AcuLineHooks line_hooks;
    uint8_t auto_answer;       // auto-answer option (S0 not 0)
    uint8_t dial_pause;        // dial-pause byte (copied from S8)
    uint8_t amp_c_working;     // &C working option (S21 bit 5 at the last profile load)
    uint8_t speaker_volume;    // speaker volume taken from S22 bits 0-1 at the last profile load
    uint8_t loopback_grant;    // remote-loopback grant taken from S23 bit 0 at the last profile load
    uint8_t connection_timing; // the connection's timing byte (connection control)
    uint8_t timing_offset[2];  // DSP timing offset bytes read from the non-volatile image
    uint8_t diag_working;      // diagnostic working byte (cleared at power-up)
    uint8_t v92_working;       // V.92 working byte (cleared at power-up)

    // Call control.
    uint8_t call_state;
    uint8_t state_variant[CALL_COUNT];  // CallStateVariant: row per state
    EventQueue queue;
    CallEventNode* current_node;
    uint8_t initialised;
    uint8_t hangup_reason;
    uint8_t recall_pending;   // deferred profile recall: bits 0-1 profile, bit 2 requested, bit 3 re-initialised
    uint8_t recall_respond;
    uint8_t originating;
    uint8_t answering;
    uint32_t ticks_served;    // 10 ms ticks consumed by the tick service
    uint32_t last_ms;         // millisecond clock at the last tick service
    uint8_t clock_started;
    uint8_t in_service;       // re-entry guard of the tick service
    uint32_t steps;           // call-control passes
    CallSequences seq;        // originate, answer, hang-up and test sequences
    ConnControl conn;         // connection control
    DiagnosticRecord diag;    // what "#UD" and "I34" print
    TableDialogue table_dialogue;  // the table upload and download dialogue
    ModemOnHold moh;          // modem on hold
    QuickConnect qc;          // quick connect and its data area

    // Debug set and command sets.
    uint32_t debug_display_count;  // DSP words shown by *D? and *P? (*SD)
    uint8_t signal_test_running;   // a *TT signal test runs until a character arrives
    uint8_t mode_state;            // ModeState
    const AtCommandEntry* voice_table;  // the voice layer's command table (null: none)
    VoiceEngine voice;             // the voice engine (layer2/corecode/voice)
    FaxClass1Engine fax;           // the fax class 1 engine (layer2/corecode/fax)
};

// Prepares the record (tables, S-registers, call control) for a device; does not start anything.
void AcuInit(AcuContext* acu, DteContext* dte, CoreSettings* settings, ModemCore* core);

// The command-error flag.
inline void at_set_error(AcuContext* acu) { acu->command_error = 1; }
