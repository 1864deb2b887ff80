// The data pump's whole state, one record per device, embedded in the device extension.
//
// Its first four fields are the head the controller may use: it receives this record's address when START
// completes. Everything after the head is the data pump's own. The emulated DSP (command dispatcher, register
// primitives, parameter directories) and the modes grow this record; the block thread and the sample stream
// use what is here.
#pragma once

#include <cstdint>

#include "layer1/dsp/dsp_interface_block.h"
#include "layer1/dsp/sequencer.h"
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
    uint16_t tableParam6191;               // codec settings restored by the watchdog (low bytes)
    uint16_t tableParam6186;

    // --- mode state shared by the modes ---
    int32_t modeNumber;                    // payload[1] bits 0-4 of the last connection start
    int32_t modeState;                     // -1 after a full reset, 0 idle, 5 caller ID during a call, ...
    int32_t detectorMode;
    int32_t modeBusy[2];                   // two mode-busy words the watchdog respects
    uint32_t modeFlags;

    // --- hold (commands 0x75 / 0x74) ---
    const StepEntry* fskV21Ch2List;        // the FSK pump's V.21 channel 2 list, set by that pump
    Sequencer faxInner;                    // the fax pump's inner sequencer
};

// Set-up seams of the emulated DSP (dsp_setup.cpp holds the frame's minimal versions).
void InitDspContext(DspContext* context, LowerAudioInterface* lowerAudio, DspInterfaceBlock* block);
void InitInterfaceBlock(DspInterfaceBlock* block, ControllerCallback callback, DspCommandEntry commandEntry);
void DestroyDspFilters(DspContext* context);
void EnterIdleMode(DspContext* context);
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

// Register access used by the block loop before the register primitives exist: relaxed single-byte loads
// and stores on the shared window.
uint8_t LoadWindowRegister(DspInterfaceBlock* block, int reg);
void StoreWindowRegister(DspInterfaceBlock* block, int reg, uint8_t value);
