// Channel tables and their filters.
//
// Filter design. Every filter has 64 taps at 9600 samples per second, linear phase, group delay 31.5 samples
// (3.28 ms): a sinc windowed by a Kaiser window (FskDesignLowPass below), 6 dB down at its cut-off.
//  - Kaiser beta 5: flat within 0.05 dB up to cut-off - 230 Hz, 1 dB down at cut-off - 130 Hz, at least 50 dB
//    down (52 dB typical) from cut-off + 245 Hz on.
//  - Kaiser beta 4 (a sharper edge for the duplex receivers): flat within 0.1 dB up to cut-off - 180 Hz, 1 dB
//    down at cut-off - 115 Hz, at least 45 dB down from cut-off + 200 Hz on.
//
//  Transmit shaping filters (beta 5) act on the complex baseband FM signal (deviation d, bit rate R) before it
//  is moved to the carrier; DC gain 1/2, so a full-scale baseband gives an output amplitude equal to the gain:
//   - V.21 and Bell 103 (d 100, R 300): cut-off 550 Hz, passband to 315 Hz, stopband from 795 Hz from the
//     carrier, which keeps the sidebands out of the other channel of the pair (670 Hz and 955 Hz away).
//   - V.23 1200 (d 400): cut-off 1600 Hz, passband to 1370 Hz, stopband from 1845 Hz.
//   - V.23 600 (d 200): cut-off 800 Hz, passband to 570 Hz, stopband from 1045 Hz.
//   - V.23 backward (d 30, R 75): cut-off 250 Hz, 0.7 dB down at 100 Hz, stopband from 495 Hz (below the
//     forward channel's 880 Hz).
//  Receive low-pass filters follow the mix to baseband; DC gain 1:
//   - V.21 and Bell 103 (beta 4): cut-off 380 Hz, passband to 200 Hz (the tones at +-100 Hz; 1 dB down at
//     265 Hz), 45 dB down from 580 Hz: the nearest tone of the other channel of the pair (570 Hz away, the
//     near end's own signal in a duplex call) is 40 dB down, the mixing image at twice the carrier further.
//     Output at 4800 Hz (decimation 2).
//   - V.23 1200 (beta 4): cut-off 1050 Hz, passband to 860 Hz (3 dB down at 1000 Hz, the outer sidebands of
//     the 1200 bit/s signal), 45 dB down from 1250 Hz: the backward channel 1250-1310 Hz away. No decimation.
//   - V.23 600 (beta 5): cut-off 700 Hz, passband to 470 Hz, stopband from 945 Hz. No decimation.
//   - V.23 backward (beta 5): cut-off 250 Hz, stopband from 495 Hz (the forward channel at 880 Hz and more, the
//     image at 840 Hz); computed once every 16 samples (600 Hz output, 8 samples per bit).
#include "layer1/modem/fsk/fsk_channels.h"

#include <cmath>


namespace {

constexpr double kRate = 9600.0;

// Modified Bessel function of the first kind, order 0 (series).
double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    for (int k = 1; k < 40; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// Decimating low-pass: the same 64-tap dot product, evaluated only at the output samples.
void DecimateDot(const FskRxChannel* channel, const int16_t* re, const int16_t* im, int32_t* i, int32_t* q)
{
    FskFilter(channel->taps, re, im, i, q);
}

struct ChannelTables {
    int16_t txTaps[FSK_CHANNEL_COUNT][kFskTaps];
    int16_t rxTaps[FSK_CHANNEL_COUNT][kFskTaps];
    FskTxChannel tx[FSK_CHANNEL_COUNT];
    FskRxChannel rx[FSK_CHANNEL_COUNT];

    ChannelTables()
    {
        struct Row {
            int16_t step;          // deviation as a phase step
            int16_t samplesPerBit;
            uint16_t txCarrier;
            double txCutoff;
            int16_t rxSamplesPerBit;
            int16_t decimation;
            uint16_t rxCarrier;
            double rxCutoff;
            double rxBeta;
        };
        // The receive carrier steps equal the transmit ones (7372 = 0x1CCC and so on).
        static constexpr Row kRows[FSK_CHANNEL_COUNT] = {
            {682, 32, 0x1CCC, 550.0, 16, 2, 7372, 380.0, 4.0},    // V.21 channel 1, 1080 Hz
            {682, 32, 0x2EAA, 550.0, 16, 2, 11946, 380.0, 4.0},   // V.21 channel 2, 1750 Hz
            {682, 32, 0x1F33, 550.0, 16, 2, 7987, 380.0, 4.0},    // Bell 103 originate, 1170 Hz
            {682, 32, 0x38AA, 550.0, 16, 2, 14506, 380.0, 4.0},   // Bell 103 answer, 2125 Hz
            // V.23 backward, 420 Hz: 128 samples per bit at 9600 Hz are 8 at the 600 Hz decimated rate.
            {204, 128, 0x0B33, 250.0, 8, 16, 2867, 250.0, 5.0},
            {1365, 16, 0x2800, 800.0, 16, 1, 10240, 700.0, 5.0},  // V.23 600 bit/s, 1500 Hz
            {2730, 8, 0x2D55, 1600.0, 8, 1, 11605, 1050.0, 4.0},  // V.23 1200 bit/s, 1700 Hz
        };
        for (int c = 0; c < FSK_CHANNEL_COUNT; ++c) {
            const Row& r = kRows[c];
            FskDesignLowPass(txTaps[c], r.txCutoff, 5.0, 16384);
            FskDesignLowPass(rxTaps[c], r.rxCutoff, r.rxBeta, 32767);
            tx[c] = FskTxChannel{static_cast<int16_t>(-r.step), r.step, r.samplesPerBit, r.txCarrier, txTaps[c]};
            rx[c] = FskRxChannel{r.rxSamplesPerBit, r.decimation, r.rxCarrier, rxTaps[c],
                                 r.decimation > 1 ? DecimateDot : nullptr, r.decimation};
        }
    }
};

const ChannelTables& Tables()
{
    static const ChannelTables tables;
    return tables;
}

int32_t Bounded(int32_t id)
{
    return (id >= 0 && id < FSK_CHANNEL_COUNT) ? id : FSK_V21_CH2;
}

}  // namespace

void FskDesignLowPass(int16_t* taps, double cutoffHz, double beta, int32_t dcSum)
{
    const double pi = std::acos(-1.0);
    const double fc = cutoffHz / kRate;
    const double mid = (kFskTaps - 1) / 2.0;
    double h[kFskTaps];
    double sum = 0.0;
    for (int k = 0; k < kFskTaps; ++k) {
        const double t = k - mid;
        const double sinc = std::sin(2.0 * pi * fc * t) / (pi * t);
        const double r = t / mid;
        const double w = BesselI0(beta * std::sqrt(1.0 - r * r)) / BesselI0(beta);
        h[k] = sinc * w;
        sum += h[k];
    }
    for (int k = 0; k < kFskTaps; ++k)
        taps[k] = static_cast<int16_t>(std::lround(h[k] * dcSum / sum));
}

bool FskTapsFitSums(const int16_t* taps)
{
    int64_t magnitude = 0;
    for (int k = 0; k < kFskTaps; ++k)
        magnitude += taps[k] < 0 ? -taps[k] : taps[k];
    return magnitude * 32767 <= INT32_MAX;
}

const FskTxChannel* FskTxChannelOf(int32_t id) { return &Tables().tx[Bounded(id)]; }
const FskRxChannel* FskRxChannelOf(int32_t id) { return &Tables().rx[Bounded(id)]; }

int32_t FskPolarityOf(int32_t id)
{
    return (id == FSK_BELL103_ORIGINATE || id == FSK_BELL103_ANSWER) ? 1 : 0;
}
