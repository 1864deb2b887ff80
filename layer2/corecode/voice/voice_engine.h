// The voice engine: the +V command front end, the codec table, the transfer machine that plays and records
// sampled audio through the serial port with DLE shielding, and the event reporter that turns the data
// pump's event characters and call-progress results into DLE codes.
//
// One record per device, held in the command side's record (AcuContext::voice). Call control runs the
// transfer machine (voice_run) from its task while the voice class is selected, and voice_tick from its
// 10 ms tick service.
#pragma once

#include <cstdint>

#include "layer2/corecode/voice/voice_stream.h"

struct AcuContext;
struct AtCommandEntry;

constexpr int kVoiceCodecCount = 8;
constexpr int kVoiceRateCount = 5;

struct VoiceCodecEntry {
    uint8_t method;             // +VSM method id
    const char* name;           // name in reports
    const char* vendor;         // "Morva"
    uint8_t bits_count;         // bits-per-sample list
    uint8_t bits[1];
    uint8_t rate_count;         // sample-rate list
    uint16_t rates[kVoiceRateCount];
    uint8_t options[3];         // option bytes (+VSM tags 3 and 4 must equal the first two)
    uint32_t play_mask;         // event masks by transfer state
    uint32_t record_mask;
    uint32_t idle_mask;
};

// Event mask bits.
enum : uint32_t {
    VOICE_EV_FAX_F = 1u << 5,        // 'f'
    VOICE_EV_ANSWER_TONE = 1u << 6,  // 'a'
    VOICE_EV_DIAL_TONE = 1u << 11,   // 'd'
    VOICE_EV_BUSY = 1u << 12,        // 'b'
    VOICE_EV_RINGBACK = 1u << 13,    // 'r'
    VOICE_EV_E = 1u << 24,           // 'e'
    VOICE_EV_CALLING_TONE = 1u << 25,// 'c'
    VOICE_EV_DTMF = 1u << 27,        // DTMF digits
    VOICE_EV_HANGUP = 1u << 28,      // rings and hang-up results are reported
};

// Transfer states.
enum VoiceTransferState : uint8_t {
    VS_OFF = 0,
    VS_RESET = 1,
    VS_WAITING = 2,
    VS_RINGBACK = 3,       // 3-4: ringback supervision after dialling
    VS_RINGBACK_RUN = 4,
    VS_CONNECT = 5,
    VS_STOP_DETECTORS = 6,
    VS_IDLE = 7,
    VS_PLAY_START = 8,     // 8, 10/11, 12, 13: play
    VS_RECORD_START = 9,   // 9, 14, 15, 16: record
    VS_PLAY_WAIT = 10,
    VS_PLAY_RESTART = 11,
    VS_PLAY = 12,
    VS_PLAY_DRAIN = 13,
    VS_RECORD_WAIT = 14,
    VS_RECORD = 15,
    VS_RECORD_END = 16,
    VS_TONES = 17,         // +VTS items playing
    VS_RESTART = 22,
};

// Voice DTE states.
enum : uint8_t {
    VOICE_DTE_NONE = 0,
    VOICE_DTE_COMMAND = 1,
    VOICE_DTE_RECORD = 2,
    VOICE_DTE_PLAY = 3,
};

// Results of voice_command (to the front end) and of voice_run (to call control).
enum : uint8_t {
    VOICE_RESULT_TRANSFER = 0,      // a transfer starts: CONNECT
    VOICE_RESULT_OK = 1,            // command: OK (text, if any, in VoiceEngine::text)
    VOICE_RESULT_DONE = 2,          // run: the transfer ended, OK
    VOICE_RESULT_ERROR = 2,         // command: ERROR
    VOICE_RESULT_RUNNING = 3,
    VOICE_RESULT_LINE_RELEASED = 4, // +VLS: the voice connection flag of call control cleared
    VOICE_RESULT_LINE_TAKEN = 5,    // +VLS: set
    VOICE_RESULT_CONNECTED = 6,
    VOICE_RESULT_INACTIVITY = 7,
    VOICE_RESULT_RINGBACK = 8,
    VOICE_RESULT_BUSY = 9,
    VOICE_RESULT_TEXT = 10,         // command: print VoiceEngine::text (CR/LF mode 3)
};

// Repeat guards, one per reported event.
enum VoiceGuard : uint8_t {
    VG_BUSY,
    VG_CALLING,
    VG_E,
    VG_DIAL,
    VG_RINGBACK,
    VG_ANSWER,
    VG_FAX_F,
    VG_QUIET,
    VG_COUNT,
};

constexpr uint16_t kVoiceTextSize = 640;
constexpr int kVoiceToneItems = 20;

// One +VTS item: a DTMF digit (digit != 0) or a pair of frequencies, for a duration in 10 ms units.
struct VoiceTone {
    uint8_t digit;
    uint16_t f1;
    uint16_t f2;
    uint16_t duration;
};

struct VoiceEngine {
    VoiceCodecEntry codecs[kVoiceCodecCount];
    uint8_t gain_min;              // bounds of +VGR and +VGT (121-131)
    uint8_t gain_max;

    // Transfer machine.
    uint8_t state;                 // VoiceTransferState
    uint8_t dte_state;             // voice DTE state
    uint8_t codec;                 // selected codec index
    uint16_t rate;                 // sample rate (Hz)
    uint32_t masks[3];             // play, record and idle event masks in use
    uint16_t wait;                 // ticks a state waits (start-up, drains, ringback supervision)
    uint16_t startup_delay;        // ticks before an empty transmit ring counts as an underrun
    uint8_t dle_pending;           // the application's last byte was DLE
    uint8_t underrun_reported;
    uint8_t overrun_reported;
    uint8_t ring_pending;          // a ring arrived while waiting with no transfer
    uint8_t dsp_wait;              // a DSP request waits for the engine
    uint8_t connection_flag;       // call control's voice-connection flag (set by +VLS)
    uint8_t line_taken;            // the voice path is up (line or speakerphone)

    // Settings.
    uint8_t gain_tx;               // +VGT
    uint8_t gain_rx;               // +VGR
    uint8_t gain_mic;              // +VGM
    uint8_t gain_spk;              // +VGS
    uint16_t mark_low;             // buffer marks (+VBT)
    uint16_t mark_high;
    uint8_t silence_sensitivity;   // +VSD
    uint8_t silence_duration;
    uint8_t tone_duration;         // +VTD, 10 ms units
    uint8_t vit;                   // +VIT
    uint32_t inactivity_ticks;     // +VIT x 10
    uint32_t inactivity_countdown;
    uint8_t inactivity_enabled;
    uint8_t vra;                   // +VRA
    uint8_t vrn;                   // +VRN
    uint16_t ringback_countdown;   // +VRA (ringback gone) and +VRN x 10 (ringback never came)
    uint16_t no_ringback_countdown;
    uint8_t vls;                   // +VLS
    uint8_t device_type;           // 0 none, 1 line, 2 speakerphone
    uint8_t vsps;                  // #VSPS
    uint8_t vsp;                   // +VSP
    uint16_t record_overrun_level; // line receive ring level that reports an overrun

    // AT settings handed over by the command side.
    uint8_t voice_mark;
    uint8_t speaker_bits;
    uint8_t flo;
    uint8_t vcid;

    // Events.
    uint16_t guard[VG_COUNT];      // repeat guards (ticks)
    uint8_t handset_polls;         // consecutive off-hook polls of the local phone
    uint8_t handset_off;           // DLE 'H' was reported
    uint8_t handset_armed;         // the local phone's input has read on hook once
    uint8_t last_progress;         // call-progress value last reported

    // Stream state: the play side's DLE and nibble holder, the record side's packing.
    VoicePlayStream play;
    VoiceRecordStream record;
    uint8_t record_dle;            // the application's last byte while recording was DLE
    uint8_t etx_sent;              // the end of a recording: DLE ETX is in the to-DTE ring

    // +VTS: the tones still to play and the state to return to.
    VoiceTone tones[kVoiceToneItems];
    uint8_t tone_count;
    uint8_t tone_next;
    uint8_t tone_return;

    char text[kVoiceTextSize];     // the answer of a query command
};

extern const AtCommandEntry VoiceCommands[];

// Start-up: the codec table, codec 6 (method 140) at 8000 Hz, the marks, state 0, the event masks.
void voice_init(AcuContext* acu);
// The defaults of the voice settings (+VRA, +VRN, silence, tone duration, marks, gains).
void voice_defaults(AcuContext* acu);
// The AT settings the voice engine reads: voice mark, speaker volume bits, +FLO, +VCID.
void voice_set_params(AcuContext* acu, uint8_t voice_mark, uint8_t speaker_bits, uint8_t flo, uint8_t vcid);
// One 10 ms tick of the engine's timers.
void voice_tick(AcuContext* acu);
// One step of the transfer machine; the result for call control (0 nothing).
uint8_t voice_run(AcuContext* acu);
// Call control's pass: follows the voice class (the engine starts in state 1 when the voice command set is
// selected with class 8 and ends when either goes), runs voice_run and posts the events for its result.
void voice_poll(AcuContext* acu);
// Ends a transfer at once and goes to state 1.
void voice_stop(AcuContext* acu);
void voice_set_idle(AcuContext* acu);
// Leaves voice mode: transfer stopped, voice path down, state 0.
void voice_end(AcuContext* acu);
// 0: stop the detectors and supervise ringback after dialling; 1: go off hook and stop the detectors.
void voice_action(AcuContext* acu, uint8_t action);
// The voice path: 1 on (line-interface row, gains, voice mode of the data pump), 0 off.
void voice_path_enable(AcuContext* acu, uint8_t on);
void voice_path_reset(AcuContext* acu);
int voice_path_active(const AcuContext* acu);
void voice_clear_wait_state(AcuContext* acu);
// A DSP request that the engine answers (bounded wait); false when the engine did not answer in time.
bool voice_dsp_request_wait(AcuContext* acu);
// The +V commands: number (1-49) and, for "=" forms, the argument buffer; the result for the front end.
uint8_t voice_command(AcuContext* acu, uint8_t number, const uint8_t* args);

// Text helpers: decimal (1-3 digits, no leading zeros; larger values print all their digits), two and eight
// upper-case hexadecimal digits. Each appends to text, bounded by size.
void txt_append_dec(char* text, unsigned size, uint32_t value);
void txt_append_hex2(char* text, unsigned size, uint8_t value);
void txt_append_hex8(char* text, unsigned size, uint32_t value);
void txt_append(char* text, unsigned size, const char* more);
