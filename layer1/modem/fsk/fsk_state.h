// The state of the low-speed FSK modems: one modulator and one demodulator serve every channel; the channel
// records chosen at the start set frequencies, bit rate and filters. The modem takes its bits from and gives
// them to an FskPort (the data framer in the pump, a test's bit source and sink elsewhere).
#pragma once

#include <cstdint>

#include "layer1/dsp/detector_filters.h"
#include "layer1/modem/fsk/fsk_channels.h"
#include "layer1/dsp/sequencer.h"

// Receiver kinds of carrier detect.
enum FskReceiverKind : int32_t {
    FSK_RX_DATA = 0,   // data modes: status state 2 with bit 0x10 on carrier, retries before the loss
    FSK_RX_FAX = 1,    // V.21 channel 2 for fax: status state 8, the frame report after HDLC flags
    FSK_RX_QUIET = 2,  // no status changes
};

// A bit-pattern recogniser that may take a decided bit before the framer: returns 1 when it took the bit.
typedef int (*FskBitTaker)(void* owner, int32_t bit);

struct FskPort {
    void* owner;
    // The next transmit bit (0 or 1), or -1 when there is nothing to send.
    int32_t (*getTxBit)(void* owner);
    void (*putRxBit)(void* owner, int32_t bit);
    // HDLC flags the receive framer has counted since its restart.
    uint32_t (*rxFlagCount)(void* owner);
    void (*restartRxFramer)(void* owner);
    // Status register: a value 0-15 replaces the state, a larger value sets (set 1) or clears a bit; then the
    // controller is notified.
    void (*status)(void* owner, uint8_t value, int set);
};

struct FskModulatorState {
    int32_t sampleCount;
    int32_t silent;
    int32_t phaseStep;
    uint32_t basebandPhase;
    uint32_t carrierPhase;
    int16_t historyCos[kFskHistory];     // cosine and sine of the last baseband phases, newest first
    int16_t historySin[kFskHistory];
    int16_t gain;
};

struct FskAgc {
    int32_t exponent;                    // 0-15
    int32_t mantissa;                    // kept within 0x3000-0x6000 by the exponent
    int32_t loopGain;
    int32_t level;                       // level estimate of the scaled filtered signal
    int32_t target;
    int32_t frozen;
};

struct FskDemodulatorState {
    uint32_t carrierPhase;
    int16_t historyCos[kFskHistory];     // the last x cos and x sin of the carrier, newest first
    int16_t historySin[kFskHistory];
    int32_t sampleIndex;                 // counts input samples for the decimation
    int32_t iPrev, qPrev, iCur, qCur;    // filtered and scaled
    int32_t discriminator;
    int32_t previousDiscriminator;
    int32_t bitPhase;
    int32_t bit;
    FskAgc agc;
    int32_t carrierOn;
    int32_t carrierCount;                // consecutive bits at a level that counts
    int32_t requiredCount;
    int32_t retryCount;
    int32_t startDelay;                  // bits beyond the threshold still needed before the carrier counts
    int32_t startDelayActive;
    int32_t threshold;                   // of the discriminator during the start delay
    int32_t frameReported;               // fax kind: frames reported after the HDLC flags
    uint32_t flagBase;                   // the framer's flag count when the carrier was last lost
    int32_t savedExponent;
    int32_t savedMantissa;
    int32_t dropExponent;                // fax kind: the second pair of loss limits (0: none)
    int32_t dropMantissa;
    uint32_t onesCount;                  // consecutive ones received with the carrier on
    int32_t receiverKind;
    FskBitTaker taker;                   // caller-ID or answer-path recogniser, or null
    void* takerOwner;
};

// The caller-ID recogniser: channel seizure (alternating bits) and the mark signal are taken before the framer;
// the message that follows the marks goes to the framer until the carrier drops.
struct CallerIdRecogniser {
    int32_t passing;                     // 1 once the mark signal has been seen
    int32_t ones;
};

struct FskState {
    const FskTxChannel* tx;
    const FskRxChannel* rx;
    int32_t txId;
    int32_t rxId;
    int32_t polarity;
    int32_t type;                        // the start type
    const StepEntry* txList;             // the transmit list the restart step returns to
    int32_t carrierTimeout;              // kept for the mode; nothing reads it yet
    FskPort port;
    FskModulatorState mod;
    FskDemodulatorState demod;
    CallerIdRecogniser callerId;
    int32_t callerIdOption;              // caller ID during a call (command 0x93 with 3)
    int32_t rxStatus[2];                 // the two receive status bytes command 0x93 clears
    PreFilterState preFilter;            // fax receive: the detector pre-filter before the demodulator
    NotchToneDetector toneWait;          // fax receive: the 1650 Hz detector of the flag wait
};

// Channel choice and resets.
void FskSelectChannels(FskState* fsk, int32_t txId, int32_t rxId);
void FskResetModulator(FskState* fsk);
void FskResetReceiver(FskState* fsk);
void FskResetAgc(FskAgc* agc);

// Modulates n samples into out (added to nothing: written). Bits come from the port one at a time.
void FskModulate(FskState* fsk, int16_t* out, int32_t n);
// Demodulates n received samples; decided bits go to the recogniser or the port.
void FskDemodulate(FskState* fsk, const int16_t* in, int32_t n);
// Once per block after the demodulator: the fax receiver's frame report.
void FskAfterBlock(FskState* fsk);

// The caller-ID recogniser as an FskBitTaker (owner: the FskState).
int CallerIdTakeBit(void* owner, int32_t bit);
