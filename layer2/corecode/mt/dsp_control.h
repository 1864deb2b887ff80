// DSP control requests: resets, detector mode, caller-ID detector switch, DTMF timing and digits, transmit
// level, the line-interface profile, the link start and reset sequences, the power steps; and the
// "Connection Status:" screen.
#pragma once

#include <cstdint>

#include "layer2/corecode/mt/dsp_device.h"

// Full reset to idle: detector mode cleared, relays (voice, caller ID, speaker/handset) released, an
// on-hook message posted and the queued messages dispatched, the link reset, then ICD 0x60 {0}.
int dsp_reset_to_idle(DspDevice* dev);
// The light reset of the table-transfer path: ICD 0x60 {1}.
int dsp_light_reset(DspDevice* dev);
// Detector mode: 0-2 are sent as 0x65 {mode, 1} (mode 0 only when it differs from the last one sent);
// higher values are remembered without sending. The detector reset always sends {0, 1}.
int dsp_set_detector_mode(DspDevice* dev, uint8_t mode);
int dsp_detector_reset(DspDevice* dev);
int dsp_caller_id_detector(DspDevice* dev, bool on);
// A time for the one-byte fields of 0x66: ms, capped at 255.
uint8_t dsp_timing_byte(uint16_t ms);
int dsp_set_dtmf_timing(DspDevice* dev, uint8_t on_time, uint8_t off_time, uint8_t flag, uint16_t duration);
int dsp_start_digit(DspDevice* dev, uint8_t digit);
// Transmit level word: 0x7B, or 0x88 in level modes 0 and 5.
int dsp_set_tx_level(DspDevice* dev, uint8_t level_mode, uint16_t word);
// Marks the DSP reset state 2 and the interface state 3, posts class 3 type 9 and dispatches.
void dsp_send_line_profile(DspDevice* dev);
// Clears the connection state the senders keep before a new call.
void dsp_connection_state_reset(DspDevice* dev);
// Register 246 bit 0, trace ring emptied, 252 := 2, 66 := 1, 252 := 1.
void dsp_link_reset(DspDevice* dev);
// Power steps: 6 (D0), 7 (D1), 8 and 9 (D2, D3).
void dsp_power_step(DspDevice* dev, int step);

// DSP status register 54 and its connection state (low nibble).
uint8_t dsp_read_status(DspDevice* dev);

// What connection control knows of the connection, for the status screen.
struct DspConnectionFacts {
    uint8_t modulation;        // 0-24
    uint8_t v92;               // modulation 23 is shown as "V92"
    uint32_t txRate;
    uint32_t rxRate;
    uint32_t retrains;
    uint32_t renegotiations;
    bool pcm;                  // PCM facts below are valid
    uint8_t pcmSignature[8];
    int pcmSignatureLength;
    int32_t timingOffset;
    int32_t sqrint;
    const uint8_t* noiseReport;  // length + 4 bytes, null when none
    int noiseLength;
};

typedef void (*DspPrint)(void* ctx, const char* text, uint8_t mode);

// The modulation's name on the screen; null for codes 19-21 and above 24 (shown as a number).
const char* dsp_modulation_name(uint8_t code, bool v92);
// "Connection Status: " and the rest; argument 0 prints the first piece with print mode 3, otherwise 2.
// The connection log is printed by log_print (null: none).
void ShowConnectionStatus(DspDevice* dev, const DspConnectionFacts* facts, int argument, DspPrint print,
                          void* ctx, void (*log_print)(void* ctx));
