// Small senders that wrap single DSP commands for the rest of the controller (speaker, data-pump start,
// voice mode, line-control fields of the two line channels, the line-interface mode table, idle, voice,
// caller ID, version), and the option-flag words call control reads.
//
// Each fills the link's packet buffer and sends it; the result is the transport's (0 sent, 1 busy, 2 not
// taken, 3 no reply).
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/dsp_link.h"
#include "layer2/corecode/mt/dsp_router.h"

constexpr int kLineModeRows = 22;

struct LineModeRow {
    uint8_t hook;
    uint8_t voice;
    uint8_t callerId;
    uint8_t bits2Ch0;
    uint8_t bits12Ch0;
    uint8_t bits2Ch1;
    uint8_t bits12Ch1;
    uint8_t speaker;
};

extern const LineModeRow LineModeTable[kLineModeRows];

// Per-device state of the command senders.
struct DspLineControl {
    DspLink* link;
    DspMessageQueue* queue;
    uint8_t speakerVolume;    // 1-255
    uint8_t speakerOn;
    uint8_t bits2Flag[2];     // last bits 2-3 flag per channel
    uint8_t bits12Value[2];   // last bits 12-13 value per channel
    uint8_t bits12Saved[2];   // saved by the hold function
    uint8_t lineModeRow;
    uint8_t optionA;
    uint8_t optionB;
    uint8_t optionC;
    uint8_t connectionState;  // 3 once a data-pump start was sent
    uint8_t voiceFlags[3];
    int16_t voiceSetting;     // fifteenth voice-path word
    uint8_t progress;         // register 56 as last read
    struct DteContext* dte;   // the virtual lines towards the application (null: none)
    uint8_t ctsHeld;          // bit 0x08: CTS raised and held by the line-side code
    uint8_t detectorMode;     // last detector mode (0x65)
    uint8_t resetState;       // DSP reset state (2: the line-interface profile is being sent)
    // Call control's tone result (0 none); null: none.
    uint8_t (*take_tone_result)(void* ctx);
    void* toneCtx;
};

void dsp_line_control_init(DspLineControl* lc, DspLink* link, DspMessageQueue* queue);

// DSP rate code of a line rate (bit/s).
uint8_t dsp_rate_code(uint32_t rate);

int dsp_set_speaker(DspLineControl* lc, bool on);
int dsp_set_speaker_volume(DspLineControl* lc, uint8_t volume);
int dsp_set_option_6c(DspLineControl* lc, uint8_t b);
int dsp_start_data_pump(DspLineControl* lc, uint8_t flags, uint32_t rate, uint8_t mode);
int dsp_set_voice_mode(DspLineControl* lc, uint8_t c);
int dsp_set_line_control(DspLineControl* lc, uint16_t keep, uint16_t value, uint8_t channel);
// Command 0x99 with one byte: the in-band escape code the data link hands the data pump.
int dsp_send_escape_code(DspLineControl* lc, uint8_t b);
int dsp_go_idle(DspLineControl* lc);
int dsp_start_voice(DspLineControl* lc, uint8_t a, uint8_t b, uint8_t c);
int dsp_set_voice_params(DspLineControl* lc, uint8_t a, uint8_t b);
int dsp_set_caller_id_mode(DspLineControl* lc, uint8_t m);
// The version report's payload (16 bytes) goes to reply_out when given.
int dsp_query_version(DspLineControl* lc, uint8_t* reply_out = nullptr);
int dsp_reset_with_line_byte(DspLineControl* lc);
int dsp_write_gain_word(DspLineControl* lc, uint8_t b);

// The fields of a channel's 16-bit line-control word, named by their bits: 2-3 (set to 3 by flag 1, else 0;
// the flag is remembered per channel), 12-13, 10-11 and 8-9 (set to v & 3). The hold saves both channels'
// bits 12-13 and clears them, and restores them when released; the "both" setter puts bits 2-3 of both
// channels to 3 for flag 0, else 0.
int dsp_set_line_field_2_3(DspLineControl* lc, uint8_t flag, uint8_t channel);
int dsp_set_line_field_12_13(DspLineControl* lc, uint8_t v, uint8_t channel);
int dsp_set_line_field_10_11(DspLineControl* lc, uint8_t v, uint8_t channel);
int dsp_set_line_field_8_9(DspLineControl* lc, uint8_t v, uint8_t channel);
void dsp_line_field_12_13_hold(DspLineControl* lc, bool hold);
void dsp_line_field_2_3_both(DspLineControl* lc, uint8_t flag);

// The hook message (urgent class-3 message: type 3 off hook, 4 on hook); keeps the hook option bit.
bool dsp_set_hook(DspLineControl* lc, bool off_hook);
void dsp_apply_line_mode(DspLineControl* lc, uint8_t row);
void dsp_line_mode_default(DspLineControl* lc);

// Voice-path set-up: line control of both channels and the 15 voice-path words, written as 7 + 7 + 1 words
// at the three DSP addresses that hold them.
int dsp_load_voice_path_params(DspLineControl* lc);
constexpr uint32_t kVoicePathAddress[3] = {0x101D8, 0x101DF, 0x101E6};
constexpr uint32_t kGainWordAddress = 0x10234;
constexpr uint32_t kVoiceMarkAddress = 0x92;

// Sends the version query and prints "\r\nDSP Software Version : a.b.c.d" through the link's print hook.
int dsp_show_version(DspLineControl* lc);
uint8_t dsp_read_progress(DspLineControl* lc);
uint8_t dsp_get_call_progress(DspLineControl* lc);

// Option-flag words A, B and C: one setter per bit.
void opt_set(uint8_t* word, uint8_t bit, uint8_t flag);
