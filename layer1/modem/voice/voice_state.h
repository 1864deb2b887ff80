// Voice mode's record in the data pump's context: the rate, format and sub-mode the controller chose, the
// coder pair and its two states, the voice transmit and receive sequencers, the silence detector, the DTMF
// and 1100 Hz detectors, the three resamplers, the line-control bytes, the sample buffers, and the two byte
// queues between the voice steps and the data mailboxes.
#pragma once

#include <cstdint>

#include "layer1/dsp/detector_filters.h"
#include "layer1/dsp/sequencer.h"
#include "layer1/modem/voice/voice_coders.h"
#include "layer1/modem/voice/voice_dtmf.h"
#include "layer1/modem/voice/voice_queue.h"
#include "layer1/modem/voice/voice_resampler.h"

constexpr int kVoiceMaxBlock = 110;        // samples of the largest voice block (rate code 4)
constexpr int kVoiceRxQueueBytes = 4096;   // recorded bytes waiting for the receive mailbox (0.37 s at 11 kHz)
constexpr int kVoiceTxQueueBytes = 256;    // bytes taken from the transmit mailbox, not yet played
constexpr int kVoiceLineIndices = 4;

struct VoiceState {
    int32_t startPending;          // 0x97 came outside detector mode 2: voice is entered later
    int32_t rateCode;              // 0x97 payload[0]
    int32_t formatCode;            // 0x97 payload[1]
    int32_t subMode;               // 0x97 payload[2]: the entry at which both voice lists start (0-5)
    int32_t sampleRate;            // the voice side's rate (11000 at rate code 4)
    int16_t sampleRate16;          // the rate the detectors see the block at (9600 at rate codes 3 and 4)
    int32_t blockLength;           // the stream block B
    int32_t voiceBlock;            // N: 110 at rate code 4, else B
    VoiceCoder coder;
    AdpcmCoderState txCoder;       // decoder of the played bytes
    AdpcmCoderState rxCoder;       // encoder of the recorded samples
    Sequencer txSeq;
    Sequencer rxSeq;

    // Silence detector: a block below threshold + 3 (in BlockPowerDb units) counts; silenceTime x 10 such
    // blocks make a period ('q' for the first, 's' for each further one).
    int16_t silenceThreshold;
    uint8_t silenceEnable;
    uint8_t silenceTime;           // 100 ms units
    int32_t paramsPending;         // 0x96 settings to keep over resets until voice mode ends
    uint8_t pendingEnable;
    uint8_t pendingTime;
    int32_t quietBlocks;
    int32_t silencePeriods;
    int32_t level;                 // BlockPowerDb of the last block

    DtmfDetector dtmf;
    NotchToneDetector callingTone; // 1100 Hz
    int32_t callingToneReported;   // 'N' goes once per voice start

    VoiceResampler resamplerA;          // voice rate to 9600 Hz for the DTMF detector
    VoiceResampler resamplerB;          // 96 line samples to about 110 for recording (rate code 4)
    VoiceResampler resamplerC;          // 110 decoded samples to 96 for playing (rate code 4)
    int32_t resampleDetect;        // resampler A runs (rate codes 0-2)

    uint8_t lineControl[kVoiceLineIndices][2];   // 0x9C {payload[3], payload[2]} per line index

    int16_t input[kVoiceMaxBlock];  // the block's line samples (replaced by resampler B's output)
    int16_t output[kVoiceMaxBlock];

    // Recorded bytes queue here until the receive mailbox takes them, in chunks of up to 30; bytes taken
    // from the transmit mailbox wait here until a whole voice block can be played. Neither is ever dropped
    // while there is room; a full receive queue counts what it could not keep.
    VoiceByteQueue<kVoiceRxQueueBytes> rxQueue;
    VoiceByteQueue<kVoiceTxQueueBytes> txQueue;
    uint32_t rxOverruns;
};
