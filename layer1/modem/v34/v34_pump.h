// The V.34 pump from phase 3 on: the record inside the DspContext, the transmitter's symbol state, the words
// the transmitter and the receiver share, and the entry points of the phase-3 start, the preset start and the
// block handler. The receiver's symbol path and echo canceller are part of the record; the receive training
// steps that drive them per symbol run as its receive script.
#pragma once

#include <cstddef>
#include <cstdint>

#include "layer1/dsp/sequencer.h"
#include "layer1/modem/v34/mp_frame.h"
#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_modulator.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_rx_data.h"

struct DspContext;
struct FirState;

// Receive status codes the scripts wait for (written by the receiver; 6 and 7 by the transmitter).
enum V34ReceiveStatus : int32_t {
    kV34RxIdle = -1,
    kV34RxReset = 0,
    kV34RxJSeen = 1,
    kV34RxSSeen = 2,
    kV34RxGoodMp = 3,
    kV34RxGoodMpAck = 4,
    kV34RxMpDone = 5,
    kV34RxEchoTraining = 6,
    kV34RxTraining = 7,
    kV34RxStepDone = 8,
};

// Transmit states of the block handler.
enum V34TxState : int32_t {
    kV34TxRunning = 0,
    kV34TxRenegotiate = 1,
    kV34TxCarrierLost = 3,
    kV34TxRestartPhase2 = 4,
    kV34TxRenegotiating = 5,
};

// The J patterns: the far end's phase-4 TRN with 16 points or with 4.
constexpr uint16_t kV34J16Point = 0x89B0;
constexpr uint16_t kV34J4Point = 0x8990;
constexpr uint16_t kV34JPrime = 0x899F;

// The first 44 bytes of the pump: they survive ResetV34Pump.
struct V34PumpKept {
    int32_t optionWords[3];     // set by the phase-3 start (0, 1, 1) and the preset start
    int32_t retrainType;        // the phase-2 restart type of transmit state 4
    int32_t rateChangeTimer;    // blocks; loaded by no step (kept idle)
    int32_t rateChangeAsked;
    int32_t symbolRateLimit;    // the stored symbol-rate value of a rate change
    int32_t presetLevelIndex;   // the level the last preset start used
    int32_t reserved[3];
};
static_assert(sizeof(V34PumpKept) == 44, "the kept head is 44 bytes");

// What the transmitter and the receiver exchange.
struct V34SharedWords {
    int32_t rxCode;             // V34ReceiveStatus
    int32_t rxExpected;         // the code the receiver should reach before its time-out (TxTimeout)
    int32_t rxTimeoutBlocks;
    int32_t jType;              // the J the receiver detected: 1 four-point, 0 sixteen-point
    int32_t mpReceived;
    int32_t echoNoTraining;     // the echo canceller asks for no training segment
    int32_t echoTrainingSymbols;
    int32_t farEchoFlag;        // clear: symbols after the mark are sent as 0 for 200 symbols
    int32_t echoMark;           // -1: no gap
    int32_t farRetrainRequest;  // the receiver heard the far end restart
};

// The transmit side: symbol buffer, script, training-signal state and the encoder.
struct V34Transmitter {
    Sequencer sequencer;
    PackedComplex symbols[kV34BlockSymbols];
    int32_t count;
    PackedComplex sPoint;           // the last point of S or S-bar
    int32_t scale;
    int32_t gain;
    int32_t nonlinear;
    uint8_t quadrant;
    uint32_t scrambler;
    int32_t polynomial;             // 1 in the calling modem
    uint16_t jPattern;
    int32_t jIndex;
    int32_t fourPoint;              // TRN, MP, MP' and E with 2 bits per symbol
    int32_t bitsPerSymbol;
    int32_t ppIndex;
    uint32_t mpWords[kMpMaxWords];
    int32_t mpBits;
    int32_t mpPosition;
    int32_t echoSymbol;             // index in the echo-training segment
    uint32_t echoPhase;             // the sweep's phase and step (quarter-wave steps)
    uint32_t echoStep;
    int32_t connectReport;          // report the connection after the first data frame
    int32_t zeroCountSet;           // the opening silence has its length
    int32_t framePosition;          // next of the eight points of the current mapping frame (8: none)
    int32_t framesLeft;             // mapping frames left of the first data frame
    PackedComplex framePoints[8];
    MpFrame mp;                     // what MP and MP' carry
    V34EncoderState encoder;
};

// The receiver's parameters that the set-up fills (the receiver proper is built elsewhere).
struct V34ReceiverParams {
    int32_t answerer;
    int32_t pathLatency;
    int32_t mdSymbols;
    int32_t rateCarrierCode;        // 2 x rate index + high carrier of the far end's transmitter
    int32_t script;                 // 0 caller, 1 answerer, 2 retrain (preset start)
    int32_t farEchoPosition;
    int32_t symbolRate;
    uint32_t carrierConstant;
    int32_t inputGainExponent;
    int32_t inputGainMantissa;
    int32_t gainWord;
    int32_t tracking[2];
    int32_t txRateIndex;
};

struct V34Pump {
    V34PumpKept kept;               // first: survives ResetV34Pump
    DspContext* context;
    int32_t caller;
    int32_t directStart;
    int32_t lowerWords[3];          // the sample stream's receive and transmit depth (blocks) and extra samples
    FirState* branches[6];          // the polyphase branches made at DSP set-up
    int32_t connectionType;
    int32_t rateIndex;              // transmit symbol rate 0-5
    int32_t symbolRate;
    int32_t highCarrier;
    int32_t preEmphasis;
    int32_t mdSymbols;
    int32_t longRoundTrip;
    int32_t pathLatency;            // symbols
    int32_t farEchoPosition;
    int32_t echoGainWord;
    int32_t blockLength;
    int32_t rateCodes[2];           // data-rate codes: [0] transmit, [1] receive (14 = 33600)
    int32_t maxRates[2];
    uint16_t rateMask;              // data-rate capability mask
    int32_t txState;                // V34TxState
    int32_t renegotiating;
    int32_t retrainCountdown;
    int32_t blockLevel;
    int16_t rxBlock[kV34BlockSamples];
    int16_t txBlock[kV34BlockSamples];
    V34SharedWords shared;
    V34ReceiverParams rx;
    V34Transmitter tx;
    V34ModulatorState modulator;
    V34Receiver receiver;           // the symbol path and the echo canceller (whose ring the modulator fills)
    Sequencer rxScript;             // the receive script: one tick per received symbol
    int32_t rxSymbols;              // symbols of the current receive step
    V34RxWatch watch;
    V34DataDecisions rxData;        // data mode: trellis decoder, demapper and byte descrambler
};
static_assert(offsetof(V34Pump, kept) == 0, "the kept head comes first");

// The transmit level words: 1 dB steps from entry 2 (0 dB) to 42; entries 0 and 1 are not levels.
const int16_t* TxLevelTable();
constexpr int kTxLevelEntries = 43;
// The level of a table index held to the levels 2-42.
int16_t TxLevelFor(int32_t index);

// Entry points (phase3_start.cpp, v34_block.cpp); StartV34Phase3, ResetV34Pump and InstallV34BlockHandler
// are declared with the runtime's view of the pump (v34_services.h).
void SetupV34Transmitter(DspContext* context);
void SetupV34Receiver(DspContext* context);
void V34PresetStart(DspContext* context);
void V34BlockHandler(DspContext* context);
// Makes and frees the library objects of the V.34 transmitter (at DSP set-up and removal).
void CreateV34Objects(DspContext* context);
void FreeV34Objects(DspContext* context);

// The transmit scripts (v34_tx_scripts.cpp) and their start.
enum V34TxScript : int32_t { kV34ScriptCaller, kV34ScriptAnswerer, kV34ScriptRenegotiation, kV34ScriptPreset };
const StepEntry* V34TransmitScript(int32_t script);
void StartV34TransmitScript(V34Pump* pump, int32_t script);
// Ticks the transmit script until the symbol buffer holds a block.
void FillV34TransmitBlock(V34Pump* pump);

// The receive side (v34_rx_block.cpp): links the receiver to the DSP set-up's library objects (after every
// pump reset), sets it up from the receive parameters, and runs one received block.
void AttachV34ReceiveSide(DspContext* context);
void SetupV34ReceiveSide(DspContext* context);
void V34ReceiveBlock(DspContext* context);
