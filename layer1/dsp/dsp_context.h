// The data pump's whole state, one record per device, embedded in the device extension.
//
// Its first four fields are the head the controller may use: it receives this record's address when START
// completes. Everything after the head is the data pump's own. The emulated DSP (command dispatcher, register
// primitives, parameter directories) and the modes grow this record; the block thread and the sample stream
// use what is here.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer1/vek/core/vek_types.h"

#include "layer1/dsp/detector_state.h"
#include "window/dsp_interface_block.h"
#include "layer1/dsp/framer_tone_state.h"
#include "layer1/dsp/line_statistics.h"
#include "layer1/modem/fax/fax_pump.h"
#include "layer1/modem/fsk/fsk_state.h"
#include "layer1/dsp/parameter_directory.h"
#include "layer1/dsp/procedure_state.h"
#include "layer1/modem/v34/v34_pump.h"
#include "layer1/modem/v34/v34_services.h"
#include "layer1/dsp/sequencer.h"
#include "layer1/modem/v22/v22_mode.h"
#include "layer1/modem/v32/v32_mode.h"
#include "layer1/modem/voice/voice_state.h"
#include "layer1/drivers/wdm/lower_audio.h"

typedef void (*BlockHandler)(DspContext* context);
typedef void (*PerBlockRoutine)(DspContext* context);

// The command being handled: fetched into the first three fields, the reply left in the same three.
struct CommandRecord {
    uint8_t payload[16];
    uint8_t length;
    uint8_t code;
    int32_t digitBusy;       // 1 while a DTMF digit plays
    int32_t hold;            // commands 0x75 / 0x74
    int32_t holdSkip;
    int32_t filtersCreated;
    int32_t voiceActive;
};

// The option bytes of a connection start (0x68, 0x6E), as ParseConnectionOptions leaves them.
struct ConnectionOptions {
    int32_t rateCode;          // payload[0] bits 0-5
    int32_t rateOption;        // payload[0] bits 6-7
    int32_t modeOption;        // payload[1] bits 6-7
    int32_t lineOption;        // payload[2] bits 0-1
    int32_t originate;         // payload[2] bit 2: 1 originating, 0 answering
    int32_t procedureKind;     // payload[2] bits 3-4 (0 basic, 1 automode, 2 and 3 V.8)
    int32_t singleTone;        // payload[2] bit 5
    int32_t flag6;             // payload[2] bit 6
    int32_t phase2Kind;        // payload[3] bits 0-1 (0: no V.34 phase 2)
    int32_t phase2Flags[2];    // payload[3] bits 2 and 3
    uint8_t optionByte;        // payload[4] of a 6-byte 0x68 (bit 3 cleared), else 0
};

// The library objects made once at the first reset and kept until removal.
struct DspFilters {
    FirState* fir48[2];        // two real FIR filters of 48 taps
    LmsState* lms72;           // complex LMS, 72 taps
    LmsState* lms120;          // complex LMS, 120 taps
    LmsState* lmsReal60;       // real LMS, 60 taps
    LmsState* lms48[2][3];     // two groups of three complex LMS filters of 48 taps
    FirState* fir16[6];        // six real FIR filters of 16 taps: the V.34 modulator's polyphase branches
    FirState* v34PreEmphasis[kV34PreEmphasisFilters];  // the V.34 modulator's complex pre-emphasis filters
};

// Codec watchdog state (run from the idle transmit step).
struct CodecWatchdog {
    uint32_t counter;        // blocks; unsigned so a very long idle wraps instead of overflowing
    int32_t reinitialised;
};

struct DspContext {
    // --- head: the controller relies on these four fields only ---
    DspInterfaceBlock* interfaceBlock;
    DspCommandEntry commandEntry;
    BlockHandler blockHandler;
    PerBlockRoutine perBlockEntry;

    // --- sample stream ---
    LowerAudioInterface* lowerAudio;       // points at lowerAudioRecord once started
    LowerAudioInterface lowerAudioRecord;
    LowerDeviceRecord deviceRecord;        // filled by the sample-stream driver at start (code 20)
    uint8_t streamRunning;                 // 1 while the data pump has started the lower stream
    uint8_t hostControlCopy;               // last value of register 247 passed to the lower driver

    // --- commands ---
    CommandRecord command;

    // --- block loop ---
    Sequencer seqA;
    Sequencer seqB;
    int16_t rxWork[kLowerBufferSamples];   // receive work buffer (one block)
    int16_t txWork[kLowerBufferSamples];   // transmit work buffer (one block)
    int32_t rxLevel;                       // BlockPowerDb of the last idle block
    int16_t rxLevelParam;                  // 8 - rxLevel (memory parameter 226)
    CodecWatchdog watchdog;
    LineStatistics lineStats;              // smoothed powers of the sample stream (line_statistics.h)
    uint16_t tableParam6191[3];            // codec settings A and B (table parameters 6191, 6186); the
    uint16_t tableParam6186[3];            // watchdog restores the low bytes of their first words

    // --- mode state shared by the modes ---
    int32_t modeNumber;                    // payload[1] bits 0-4 of the last connection start
    int32_t modeState;                     // -1 after a full reset, 0 idle, 5 caller ID during a call, ...
    int32_t detectorMode;
    int32_t modeBusy[2];                   // two mode-busy words the watchdog respects
    uint32_t modeFlags;

    // --- hold (commands 0x75 / 0x74) ---
    const StepEntry* fskV21Ch2List;        // the FSK pump's V.21 channel 2 list, set by that pump

    // --- emulated DSP: command state ---
    ConnectionOptions connection;
    int16_t txLevelDb;                     // transmit level (0x7B), dB
    int32_t txLevelFlag;                   // 0x7B payload[2] bit 0
    uint16_t pumpOption;                   // 0x64 payload[0]
    int32_t callerIdFlag;                  // 0x93
    uint8_t lineStateByte;                 // 0xA2
    int32_t faxRate;                       // 0x73 payload[0] low nibble
    int32_t faxModulation;                 // 0x73 payload[0] high nibble
    int32_t faxFlags[2];                   // 0x73 payload[1] bits 2 and 7
    uint16_t v32OptionWord;                // 0x6E in modes 12 and 16
    uint8_t modeFlagByte;                  // bit 1 cleared by a full reset
    uint8_t detectorWork[2098];            // the detector bank's work area, cleared by every directory build
    uint8_t rateModeOptions[64];           // the rate/mode option area, cleared likewise
    DspFilters filters;
    DetectorState detector;                // the tone-detector bank and the detector modes

    // --- data framer and tone generators ---
    FramerToneState signal;

    // --- low-speed FSK modems ---
    FskState fsk;

    // --- answer and originate procedures ---
    ProcedureState procedure;

    // --- fax pumps (V.27ter, V.29, V.17) ---
    FaxPumpState fax;

    // --- V.22 / V.22bis ---
    V22Pump v22;

    // --- V.32 / V.32bis ---
    V32Pump v32;

    // --- voice mode ---
    VoiceState voice;

    // --- parameter memory and the V.34 / PCM pumps' fields ---
    ParameterArea parameters;
    V34Link v34;
    PcmLink pcm;
    Phase2State phase2;
    Phase2Result phase2Result;
    V34Pump v34pump;                       // phases 3 and 4 and data mode
};

// The controller finds the interface block in the first field (InterfaceBlockOfContext).
static_assert(offsetof(DspContext, interfaceBlock) == 0, "the interface block pointer comes first");

// Set-up and reset of the emulated DSP (dsp_setup.cpp, dsp_reset.cpp, dsp_filters.cpp).
void InitDspContext(DspContext* context, LowerAudioInterface* lowerAudio, DspInterfaceBlock* block);
void InitInterfaceBlock(DspInterfaceBlock* block, ControllerCallback callback, DspCommandEntry commandEntry);
void CreateDspFilters(DspContext* context);
void DestroyDspFilters(DspContext* context);
void EnterIdleMode(DspContext* context);
void ReturnToIdle(DspContext* context);
void ResetDsp(DspContext* context);
void FullResetDsp(DspContext* context);  // the full reset whatever the command record holds
void CommandDispatcher(DspContext* context);

// Block loop (block_loop.cpp).
void PerBlockEntry(DspContext* context);
void UpdateStreamState(DspContext* context);
void IdleBlockHandler(DspContext* context);
void IdleRxStep(void* owner);
void IdleTxStep(void* owner);
int32_t BlockPowerDb(const int16_t* x, int32_t n);
void SetHold(DspContext* context);
void ReleaseHold(DspContext* context);

extern const StepEntry kIdleListA[];
extern const StepEntry kIdleListB[];
