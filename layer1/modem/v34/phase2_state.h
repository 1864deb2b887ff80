// V.34 phase 2 (probing and ranging): the Phase2State record inside the DspContext, the Phase2Result record
// that phases 3 and 4 and PCM mode read, and the entry points the data-pump runtime calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer1/dsp/sequencer.h"
#include "layer1/modem/v34/info_frames.h"
#include "layer1/modem/v34/info_receiver.h"
#include "layer1/modem/v34/phase2_transmitter.h"
#include "layer1/modem/v34/probe_analysis.h"

struct DspContext;

constexpr int kPhase2BlockSamples = 96;  // one block: 10 ms at 9600 Hz, one tick per sample
constexpr int kProbeCombinations = 11;   // symbol rate x carrier; 3429 has one carrier (combination 10)
constexpr int kSpectrumBins = 64;

// Phase2State::flags.
constexpr uint16_t kPhase2Caller = 1u << 0;        // transmits on 1200 Hz, receives 2400 Hz
constexpr uint16_t kPhase2PcmCandidate = 1u << 1;  // phase 2 may end in PCM mode
constexpr uint16_t kPhase2Restarting = 1u << 2;
constexpr uint16_t kPhase2AwaitInfo1 = 1u << 3;    // waiting for an INFO1 after a time-out restart
constexpr uint16_t kPhase2Finished = 1u << 14;     // set by the last step of every phase-2 list

// The restart type that falls back from PCM to V.34.
constexpr int32_t kRestartV34Fallback = 9;

// The phase-2 outcome, read by the controller through the parameter directory (ids 0x1663 on, word n at id
// 0x1663 + n, except the 4-byte id 0x1685 at word 36; the spectrum from 0x1693) and by phases 3 and 4.
// INFO1a carries the answerer's decisions for the caller's transmitter, INFO1c the caller's proposals for
// the answerer's.
struct Phase2Result {
    // words 0-7: the caller's transmitter (INFO1a; MD length and frequency offset from INFO1c)
    uint16_t callerRateIndex;       // 0-5 (2400 ... 3429), 6 in PCM mode
    uint16_t callerHighCarrier;
    uint16_t callerPreEmphasis;
    uint16_t callerMaxRate;
    uint16_t callerMdLength;        // 35 ms units
    uint16_t callerFreqOffset;
    uint16_t callerPowerReduction;
    uint16_t callerExtraReduction;
    // words 8-15: the answerer's transmitter (INFO1c entry of the answerer's rate; reductions from INFO1c)
    uint16_t answererRateIndex;
    uint16_t answererHighCarrier;
    uint16_t answererPreEmphasis;
    uint16_t answererMaxRate;
    uint16_t answererPowerReduction;
    uint16_t answererExtraReduction;
    uint16_t answererMdLength;
    uint16_t answererFreqOffset;
    // words 16-35: measurements
    uint16_t rtdWord;               // MdLengthForRtd of the round trip for the caller's rate
    uint16_t probeLevel;
    uint32_t gainExponent;          // words 18-19
    uint16_t probeNoise;
    uint16_t info0FirstWord;        // word 21: the first 16 body bits of the received INFO0,
    uint16_t capabilityWords[6];    // words 22-27, per symbol rate (id 0x1678 reads words 21-27)
    uint16_t rtd;                   // samples
    uint16_t dcLevel;
    uint16_t powerSuggestion;
    uint16_t originate;             // word 31: the originate word at the start (0 for a PCM candidate)
    uint32_t probeLevel32;          // words 32-33
    uint16_t reserved34[2];
    uint32_t freqOffset;            // words 36-37 (id 0x1685): the negated measured frequency offset
    uint16_t remotePcmFields[4];    // words 38-41: from a PCM-candidate INFO0
    uint32_t restarting;            // words 42-43: 1 while RestartPhase2 starts its list
    uint16_t reserved44[4];
    uint32_t spectrum[kSpectrumBins];  // word 48 on (ids 0x1693 + 8k, 16 bytes each)
};
static_assert(offsetof(Phase2Result, info0FirstWord) == 21 * 2, "id 0x1678 reads word 21");
static_assert(offsetof(Phase2Result, freqOffset) == 36 * 2, "id 0x1685 reads word 36");
static_assert(offsetof(Phase2Result, spectrum) == 48 * 2, "the spectrum starts at id 0x1693");

// What the line probing of phase 2 leaves for the results (filled by the probe analysis).
struct Phase2ProbeResults {
    uint16_t preEmphasis[kProbeCombinations];  // best filter per combination (2 x rate + high carrier)
    uint16_t maxRate[kProbeCombinations];      // data-rate code per combination
    uint16_t reduction[2];                     // suggested minimum and additional power reduction
    uint16_t exclude;                          // 3200 and 3429 baud unusable (the top of the band is lost)
    uint16_t powerSuggestion;
    uint32_t gainExponent;
    uint16_t level;
    uint16_t noise;
    uint16_t dcLevel;
    int32_t frequencyOffset;                   // measured
    uint32_t spectrum[kSpectrumBins];
};

struct Phase2State {
    Sequencer sequencer;            // runs the phase-2 lists; owner: this record; one tick per sample
    int16_t txBlock[kPhase2BlockSamples];
    int16_t rxBlock[kPhase2BlockSamples];
    Info0Fields remoteInfo0;
    Info0Fields localInfo0;
    Info1cFields info1c;
    Info1aFields info1a;
    int32_t timeout;                // samples, counted down while positive (32 bits: no wrap for long loads)
    int16_t rtdCounter;             // samples, counted up while positive (round-trip measurement)
    int16_t rtd;
    int32_t pathLatency;            // delay of the sample path, samples
    int32_t waitCounter;
    Phase2ProbeResults probe;
    ProbeAnalysis analysis;         // the line-probing measurement
    InfoReceiver receiver;
    Phase2Transmitter transmitter;
    int32_t rxEvent;                // the receiver's state for the current sample
    int32_t sampleEvent;            // cleared before each tick of the sequencer
    int16_t lastSample;
    uint32_t keptWord0;             // survive ResetPhase2State
    uint32_t keptWord1;
    Phase2Result* result;
    uint16_t flags;
    int16_t restartKind;
    int32_t restartType;
    int32_t exchangeState;
    uint16_t only2400;              // set by the pump-options command: keep only 2400 baud
    int16_t initialWait;            // ms, 0-30
    int32_t shortAnswer;
    int16_t overflow;               // clipping flag of the saturating helpers (per device)
    uint16_t levelWords[2];         // receive-level references copied from the sample stream at start
    uint32_t lowerStatus;           // the status word handed to the sample-stream driver at start
    int32_t eventPending;           // the PCM choice event is still to be delivered
    DspContext* context;            // the device this state belongs to
};

// Entry points (phase2_control.cpp).
Phase2Result* StartPhase2(DspContext* context);
void ResetPhase2State(DspContext* context);
Phase2Result* RestartPhase2(DspContext* context, int32_t type);
// Option 0 limits the symbol rates (returns nonzero), 1 clears the restart kind (0), 2 sets the short answer
// (returns it), 3 the initial wait in ms, clamped to 0-30 (returns it); any other returns option - 3.
int32_t Phase2SetOption(DspContext* context, int32_t option, int32_t value);
void Phase2BlockHandler(DspContext* context);
void CollectPhase2Results(DspContext* context);
void FinishPhase2(DspContext* context);
// Posts the PCM choice event again when it could not be delivered yet (every block).
void DeliverPendingPhase2Event(DspContext* context);
// The empty step.
void HoldStep(void* owner);

// The MD length (rate index -1, 35 ms units) or the rate word for a round trip of rtd samples.
int32_t MdLengthForRtd(int32_t rtd, int32_t rateIndex, int32_t caller);

// The phase-2 step lists (phase2_lists.cpp): the first list of each side, the restart lists by type (any
// type without a list of its own gives the default restart list), the main lists, the short answerer list
// and the retry lists.
const StepEntry* Phase2FirstList(int32_t caller);
const StepEntry* Phase2RestartList(int32_t type, int32_t caller);
const StepEntry* Phase2MainList(int32_t caller);
const StepEntry* Phase2ShortAnswererList();
const StepEntry* Phase2RetryList(int32_t caller);
