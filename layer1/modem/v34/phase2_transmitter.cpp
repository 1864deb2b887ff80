#include "layer1/modem/v34/phase2_transmitter.h"

#include <cstring>

#include "layer1/modem/v34/bit_field.h"
#include "layer1/modem/v34/fixed_point.h"

namespace {

constexpr uint16_t kCallerStep = 8192;     // 1200 Hz
constexpr uint16_t kAnswererStep = 16384;  // 2400 Hz
constexpr uint16_t kSecondToneStep = 0x3000;  // 1800 Hz
constexpr uint16_t kHalfTurn = 0x8000;
constexpr int kMaxFrameBits = kTxFrameWords16 * 16;

// The DPSK amplitude per carrier and the probe's (each a Q15 product with 0x7FFF, as the level is set).
const int16_t kCallerSymbol = MulQ15(30121, 0x7FFF);    // 30120
const int16_t kAnswererSymbol = MulQ15(28765, 0x7FFF);  // 28764
const int16_t kProbeL1 = MulQ15(21698, 0x7FFF);         // 21697

void FillDelay(Phase2Transmitter* t, int16_t v)
{
    for (int16_t& d : t->delay)
        d = v;
}

void CopyFrame(Phase2Transmitter* t, const uint32_t* words, int32_t length)
{
    const int32_t n = (length + 15) / 16;
    for (int32_t k = 0; k < n; ++k)
        t->frame[k] = static_cast<uint16_t>(words[k / 2] >> (16 * (k % 2)));
}

// The DPSK symbol at a bit boundary of the frame modes.
void NextFrameBit(Phase2Transmitter* t)
{
    if (t->bitIndex >= t->frameLength && t->mode == kTxModeFrameRepeat)
        t->bitIndex = 0;  // back to back, no gap
    if (t->bitIndex < t->frameLength) {
        const uint32_t bit = GetBits16(t->frame, static_cast<uint16_t>(t->bitIndex), 1);
        t->bitIndex += 1;
        if (bit != 0)
            t->symbol = static_cast<int16_t>(-t->symbol);
        return;
    }
    // Mode 4 has run out: the carrier goes on unmodulated.
    t->done = 1;
    t->mode = kTxModeCarrier;
}

int32_t Shape(Phase2Transmitter* t)
{
    if (t->sampleInBit == 0) {
        t->delay[t->writeIndex] = t->symbol;
        t->row = 0;
        t->writeIndex = (t->writeIndex + kTxShapingTaps - 1) % kTxShapingTaps;
    }
    const int16_t* taps = kShapingTable[t->row];
    int32_t sum = 0;
    for (int k = 0; k < kTxShapingTaps; ++k)
        sum += taps[k] * t->delay[(t->writeIndex + k) % kTxShapingTaps];
    t->row = (t->row + 1) % kTxSamplesPerBit;
    return sum >> 15;
}

}  // namespace

const int16_t kShapingTable[kTxSamplesPerBit][kTxShapingTaps] = {
    {0, 24, 132, -748, 9412, -936, 109, 23},   {0, 20, 141, -414, 9205, -1043, 84, 23},
    {0, 14, 132, 44, 8807, -1053, 59, 21},     {0, 6, 103, 620, 8247, -1006, 33, 19},
    {1, -2, 46, 1319, 7536, -901, 11, 16},     {2, -12, -35, 2124, 6722, -755, -4, 13},
    {4, -19, -150, 3001, 5815, -601, -14, 10}, {6, -25, -284, 3946, 4841, -436, -18, 7},
    {8, -26, -445, 4916, 3896, -284, -19, 5},  {12, -22, -607, 5867, 2953, -150, -14, 3},
    {15, -11, -775, 6769, 2095, -42, -8, 2},   {18, 4, -916, 7587, 1296, 40, 0, 1},
    {22, 29, -1032, 8292, 609, 96, 6, 0},      {25, 56, -1087, 8845, 42, 126, 13, 0},
    {26, 84, -1067, 9228, -404, 135, 18, 0},   {26, 112, -960, 9420, -729, 128, 21, 0},
};

const int16_t kProbeWaveform[kProbePeriod] = {
    32226,  17287,  -20721, -7053,  9164,   -30925, 618,    10944,  -24360, 17649,  -1851,  -28022, 23152,
    23217,  24966,  12822,  -23955, 6761,   29033,  24267,  -1345,  -30875, 4872,   1878,   -32767, 7886,
    26043,  -14834, -27210, -11000, -17866, -32054, -17866, -11000, -27210, -14834, 26043,  7886,   -32767,
    1878,   4872,   -30875, -1345,  24267,  29033,  6761,   -23955, 12822,  24966,  23217,  23152,  -28022,
    -1851,  17649,  -24360, 10944,  618,    -30925, 9164,   -7053,  -20721, 17287,  32226,  32054,
};

void InitPhase2Transmitter(Phase2Transmitter* t, int32_t answerer)
{
    std::memset(t, 0, sizeof(*t));
    t->carrierStep = answerer != 0 ? kAnswererStep : kCallerStep;
    t->symbol = answerer != 0 ? kAnswererSymbol : kCallerSymbol;
    t->mode = kTxModeSilence;
}

int16_t Phase2TransmitSample(Phase2Transmitter* t)
{
    if (t->mode == kTxModeSilence)
        return 0;
    if (t->mode == kTxModeProbe) {
        const int32_t v = (t->probeAmplitude * kProbeWaveform[t->probeIndex]) >> 15;
        t->probeIndex = (t->probeIndex + 1) % kProbePeriod;
        return static_cast<int16_t>(v);
    }
    if (t->sampleInBit == 0) {
        if (t->mode == kTxModeReversals)
            t->symbol = static_cast<int16_t>(-t->symbol);
        else if (t->mode == kTxModeFrameOnce || t->mode == kTxModeFrameRepeat)
            NextFrameBit(t);
    }
    const int32_t shaped = Shape(t);
    t->carrierPhase = static_cast<uint16_t>(t->carrierPhase + t->carrierStep);
    int16_t sine;
    int16_t cosine;
    SinCosQ15(t->carrierPhase, &sine, &cosine);
    int32_t out = (MulQ15(static_cast<int16_t>(shaped), cosine) * 11) >> 3;
    if (t->secondToneAmplitude != 0) {
        t->secondTonePhase = static_cast<uint16_t>(t->secondTonePhase + kSecondToneStep);
        SinCosQ15(t->secondTonePhase, &sine, &cosine);
        out += (sine * t->secondToneAmplitude) >> 15;
    }
    t->sampleInBit = (t->sampleInBit + 1) % kTxSamplesPerBit;
    return Sat16(out, nullptr);
}

void TxSilence(Phase2Transmitter* t)
{
    t->mode = kTxModeSilence;
}

void TxCarrier(Phase2Transmitter* t)
{
    t->sampleInBit = 0;
    FillDelay(t, t->symbol);
    t->done = 0;
    t->mode = kTxModeCarrier;
}

void TxReversals(Phase2Transmitter* t)
{
    t->sampleInBit = 0;
    FillDelay(t, 0);
    t->done = 0;
    t->mode = kTxModeReversals;
}

void TxReversal(Phase2Transmitter* t)
{
    t->carrierPhase = static_cast<uint16_t>(t->carrierPhase - kHalfTurn);
}

void TxProbeL1(Phase2Transmitter* t)
{
    t->probeIndex = 0;
    t->probeAmplitude = kProbeL1;
    t->mode = kTxModeProbe;
}

void TxProbeL2(Phase2Transmitter* t)
{
    t->probeIndex %= kProbePeriod;
    t->probeAmplitude = static_cast<int16_t>(kProbeL1 >> 1);
    t->mode = kTxModeProbe;
}

void TxFrame(Phase2Transmitter* t, const uint32_t* words, int32_t length)
{
    if (length < 0 || length > kMaxFrameBits)
        length = length < 0 ? 0 : kMaxFrameBits;
    CopyFrame(t, words, length);
    t->frameLength = length;
    t->bitIndex = 0;
    t->sampleInBit = 0;
    FillDelay(t, t->symbol);
    t->done = 0;
    t->mode = kTxModeFrameOnce;
}

void TxRewriteFrame(Phase2Transmitter* t, const uint32_t* words, int32_t length)
{
    CopyFrame(t, words, length < 0 ? 0 : (length > kMaxFrameBits ? kMaxFrameBits : length));
}

void TxSetMode(Phase2Transmitter* t, int32_t mode)
{
    t->mode = mode;
}

int32_t TxTakeDone(Phase2Transmitter* t)
{
    const int32_t d = t->done;
    t->done = 0;
    return d;
}

void SetSecondTone(Phase2Transmitter* t, int16_t amplitude)
{
    t->secondToneAmplitude = amplitude;
}
