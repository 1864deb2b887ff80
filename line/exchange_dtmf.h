// The exchange's DTMF receiver: recognises the digits a subscriber keys (or a modem dials) on 8000 Hz line
// samples, within the limits telephone exchanges apply to DTMF signalling:
//   - frequency: each tone within 1.5 % of its nominal frequency is accepted, beyond 3.5 % rejected (the
//     decision lies at 2.5 %);
//   - twist: the high-group tone up to 4 dB above the low-group one and up to 8 dB below it is accepted
//     (decisions at 5 and 9 dB);
//   - level: each tone down to -25 dBm0 is accepted, below -35 dBm0 ignored;
//   - duration: a digit of 40 ms or more is accepted, one of 23 ms or less rejected (decision at 31 ms);
//   - pauses: a pause of 40 ms or more separates two digits, an interruption of 10 ms or less is bridged
//     (decision at 20 ms);
//   - the two tones must carry most of the signal's power (speech or noise does not make a digit).
//
// Each of the eight frequencies is demodulated to baseband and low-passed by three cascaded 5 ms moving
// averages (nulls every 200 Hz; a tone of the other group lies at least 268 Hz away and is 40 dB down).
// The arithmetic is exact: the oscillators come from a table of one second (every frequency is a whole number
// of Hz at 8000 Hz), the products are integers, and the three averages are computed as three running sums
// (integrators, wrapping) followed, once per millisecond, by three differences over 5 ms (combs); the sums
// of the three stages fit in 64 bits, so nothing drifts and nothing needs renormalising.
// Every millisecond the strongest channel of each group is taken; while the same pair stays present the
// receiver sums its power and the phase advance of its baseband signal. When the pair has been gone for more
// than the bridging time, the digit is judged: its frequencies from the mean phase advance, its duration from
// the energy over the peak power (exact for a tone longer than the filter, after a fixed correction for the
// filter's edges), its twist and levels from the powers.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>

constexpr int kDtmfChannels = 8;
constexpr int kDtmfAverage = 40;      // samples per moving average (5 ms)
constexpr int kDtmfDecimation = 8;    // one decision step per millisecond
constexpr int kDtmfCombDelay = kDtmfAverage / kDtmfDecimation;  // decision steps per moving average
// Real and imaginary part of each channel, then the power and one unused lane (an even count of lanes lets the
// integrators run two lanes per instruction).
constexpr int kDtmfLanes = 2 * kDtmfChannels + 2;

struct DtmfVerdict {
    char digit = 0;          // the key, 0 when rejected
    double durationMs = 0;
    double lowHz = 0;
    double highHz = 0;
    double lowDbm0 = 0;
    double highDbm0 = 0;
    const char* reject = nullptr;  // why it was rejected
};

struct DtmfReceiver {
    // Demodulators: each channel's oscillator phase (in 1/8000 of a cycle), the three integrators of every
    // lane and the combs' delay lines at the decision rate.
    const int32_t* cosine = nullptr;  // the oscillator table, 2^30 x cos(2 pi n / 8000)
    const int32_t* sine = nullptr;
    int32_t oscillator[kDtmfChannels] = {};
    uint64_t integrator[3][kDtmfLanes] = {};
    uint64_t comb[3][kDtmfCombDelay][kDtmfLanes] = {};
    int combPos = 0;
    int phase = 0;          // samples into the current decision step
    std::complex<double> last[kDtmfChannels];
    // The digit being received.
    bool inRun = false;
    int runLow = -1, runHigh = -1;
    int gap = 0;
    double energy = 0, peak = 0, peakLow = 0, peakHigh = 0;
    double powerLow = 0, powerHigh = 0;
    std::complex<double> advanceLow, advanceHigh;
    double edgeMs = 0;      // the filter's edge loss of a tone's duration
    double minPower = 0;    // power of the weakest tone that counts as present
    // Verdicts of the digits that ended, for the caller to take.
    DtmfVerdict verdicts[8];
    int verdictCount = 0;
};

void DtmfReceiverInit(DtmfReceiver* r);
// Runs the receiver over n samples; verdicts of the digits that ended are appended (at most 8 kept).
void DtmfReceiverRun(DtmfReceiver* r, const int16_t* samples, size_t n);
// Whether a digit is being received now (a pair of tones present).
bool DtmfReceiverActive(const DtmfReceiver* r);
