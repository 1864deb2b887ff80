// The data pump's side of the sample stream: one block of receive and one of transmit samples, the block
// format, the gain table, and every control call to the sample-stream driver below.
//
// One record per device (it lives in the DspContext), so two modems in one process never share it.
#pragma once

#include <cstdint>

#include "layer1/drivers/wdm/lower_driver_interface.h"

constexpr int kLowerBufferSamples = 1024;
constexpr int kGainTableEntries = 96;

// Status values kept in LowerAudioInterface::status (control calls keep their kernel status there instead).
constexpr int32_t kLowerStatusOk = 0;
constexpr int32_t kLowerStatusBadCount = -5;
constexpr int32_t kLowerStatusBadGainIndex = -10;
constexpr int32_t kLowerStatusIoFailure = -1000;

struct LowerAudioInterface {
    int16_t rxBuffer[kLowerBufferSamples];
    int16_t txBuffer[kLowerBufferSamples];
    int16_t gainTable[kGainTableEntries];  // entry k: gain for -k dB
    LowerDriverInterface* lower;
    LowerFormat format;                    // last format sent with code 4
    int32_t readIndex;
    int32_t writeIndex;
    int32_t status;
    uint8_t lastArg13[4];
    uint8_t lastArg8[4];
    uint8_t lastArg14[4];
    uint8_t streamByte;                    // 1 after code 1, 0 after code 2; read by nothing
    // The stream's latency as the sample-stream driver reported it in the code-20 record (echo cancellers).
    uint16_t rxDepthBlocks;
    uint16_t txDepthBlocks;
    uint32_t extraSamples;
    // Receive-level references that the V.34 phase-2 receiver copies at its start (passed through).
    uint16_t rxLevelWords[2];
};

// The 96 gains in 1 dB steps, 0 dB .. -95 dB.
extern const int16_t kGainTable[kGainTableEntries];

LowerAudioInterface* SetupLowerAudio(LowerAudioInterface* record, LowerDriverInterface* lower);
void ResetBlockIndices(LowerAudioInterface* la);
int32_t ReadSampleBlock(LowerAudioInterface* la, int16_t* destination, int32_t n);
int32_t WriteSampleBlock(LowerAudioInterface* la, const int16_t* source, int32_t n);
int32_t LowerControl(LowerAudioInterface* la, uint32_t code, void* input, void* output);

int32_t StopLowerStream(LowerAudioInterface* la);   // code 1 (closes the loop: off hook)
int32_t StartLowerStream(LowerAudioInterface* la);  // code 2 (opens the loop: on hook)
int32_t SetLowerFormat(LowerAudioInterface* la, uint16_t rate, uint16_t blockLength);
int32_t SetLowerOption8(LowerAudioInterface* la, uint32_t value);
int32_t SetLowerCallerId(LowerAudioInterface* la, uint32_t value);
int32_t SetLowerHostControl(LowerAudioInterface* la, uint32_t value);
int32_t SetLowerHostActive(LowerAudioInterface* la, uint32_t value);
int32_t SetLowerHostIdle(LowerAudioInterface* la);
int32_t SetLowerGain30(LowerAudioInterface* la, uint32_t selector, uint32_t value, uint32_t level);
int16_t DbToGain(LowerAudioInterface* la, int32_t dB);
