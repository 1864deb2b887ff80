#include "layer1/modem/v34/info_receiver.h"

#include <cstring>

#include "layer1/modem/v34/fixed_point.h"

namespace {

constexpr int16_t kAgcRate = 1638;
constexpr int16_t kAgcTarget = 4000;
constexpr int16_t kReversal = static_cast<int16_t>(0xF000);
constexpr int32_t kLowEnergy = 14;          // energy at or below this is no signal
constexpr int32_t kNoSignalSamples = 150;
constexpr int32_t kToneSamples = 256;
constexpr int32_t kReversalRunSamples = 512;
constexpr int32_t kSingleReversalSamples = 31;
constexpr int32_t kToneAfterReversal = 128;
constexpr int32_t kProductLimit = 1 << 26;
// The envelope's smoothing (1/32 a sample) and the spread a steady tone keeps within (a quarter of its mean).
constexpr int32_t kEnvelopeShift = 5;
constexpr int32_t kEnvelopeScale = 8;
constexpr int32_t kSteadySpreadShift = 2;
// The search register's last 11 bits: 111 (end of the fill) then the sync 01110010, newest bit in bit 15.
constexpr uint16_t kSyncMask = 0xFFE0;
constexpr uint16_t kSyncPattern = 0x4EE0;

int16_t RunFir(const int16_t* coef, int16_t* history, int32_t n, int32_t* index, int16_t x)
{
    CircularFir f{coef, history, n, *index};
    const int16_t y = CircularFir16(&f, x);
    *index = f.writeIndex;
    return y;
}

// A product of the demodulator scaled to 16 bits. Products of 2^26 or more in size saturate to the rail of
// their sign.
int32_t ScaleProduct(int64_t p)
{
    if (p >= kProductLimit)
        return 0x7FFF;
    if (p < -kProductLimit)
        return -0x8000;
    return static_cast<int32_t>(p >> 11);
}

// The in-phase and quadrature filters over the shared history, as CircularFir16 forms them: coefficient 0
// weighs the oldest of the 63 samples, coefficient k >= 1 the sample k - 1 back. The tables' 64th entry is 0,
// so the loop runs over 64 products.
void FilterPair(InfoReceiver* r, int16_t y, int16_t* i, int16_t* q)
{
    int32_t w = r->filterIndex;
    r->history[w] = y;
    r->history[w + kInfoRxFilterTaps] = y;
    w = w == 0 ? kInfoRxFilterTaps - 1 : w - 1;
    r->filterIndex = w;
    const int16_t* h = r->history + w;
    const int16_t* ci = r->coefI;
    const int16_t* cq = r->coefQ;
    uint32_t si = 0, sq = 0;
    for (int k = 0; k < kInfoRxFilterTable; ++k) {
        si += static_cast<uint32_t>((static_cast<int32_t>(ci[k]) * h[k]) >> 4);
        sq += static_cast<uint32_t>((static_cast<int32_t>(cq[k]) * h[k]) >> 4);
    }
    *i = static_cast<int16_t>(static_cast<int32_t>(si) >> 11);
    *q = static_cast<int16_t>(static_cast<int32_t>(sq) >> 11);
}

// The demodulator: returns the product with one bit earlier; *energy gets the current output's energy.
int32_t Demodulate(InfoReceiver* r, int16_t y, int32_t* energy)
{
    int16_t i, q;
    FilterPair(r, y, &i, &q);
    const int32_t now = r->delayIndex;
    const int32_t then = now == 0 ? kInfoSamplesPerBit : now - 1;
    r->delayI[now] = i;
    r->delayQ[now] = q;
    r->delayIndex = now == 0 ? kInfoSamplesPerBit : now - 1;
    const int64_t p = static_cast<int64_t>(i) * r->delayI[then] + static_cast<int64_t>(q) * r->delayQ[then];
    *energy = ScaleProduct(static_cast<int64_t>(i) * i + static_cast<int64_t>(q) * q);
    return ScaleProduct(p);
}

// Step 7: the bit of phase f goes to its search register or to the body it collects.
void CollectBit(InfoReceiver* r, int32_t f, uint32_t bit)
{
    int32_t& count = r->bitCount[f];
    if (count < r->maxLength) {
        if (count < 0) {
            uint16_t& reg = r->bits[f][0];
            reg = static_cast<uint16_t>((reg >> 1) | (bit << 15));
            if ((reg & kSyncMask) == kSyncPattern) {
                count = 0;
                r->syncPhase = f;
                r->crc[f] = 0xFFFF;
                r->state = kInfoRxSync;
            }
        } else {
            uint16_t& reg = r->bits[f][count / 16];
            reg = static_cast<uint16_t>((reg >> 1) | (bit << 15));
            r->crc[f] = Crc16BitStep(bit, r->crc[f]);
            count += 1;
            r->toneCount = 0;
        }
    } else if (f == r->syncPhase && r->foundPhase < 0 && r->crc[f] != 0) {
        r->state = kInfoRxCrcError;
    }
}

// Behind the narrow carrier filter, noise keeps the phase of one bit earlier as a carrier does and would pass
// for a steady tone; only its envelope tells it apart: a tone's energy stays within a quarter of its mean,
// while filtered noise wanders about as far as its mean.
bool EnvelopeSteady(InfoReceiver* r, int32_t energy)
{
    const int32_t x = energy << kEnvelopeScale;
    r->envelopeMean += (x - r->envelopeMean) >> kEnvelopeShift;
    const int32_t d = x > r->envelopeMean ? x - r->envelopeMean : r->envelopeMean - x;
    r->envelopeSpread += (d - r->envelopeSpread) >> kEnvelopeShift;
    return (r->envelopeSpread << kSteadySpreadShift) < r->envelopeMean;
}

// Steps 8 and 9: steady tone, single reversals and runs of reversals. With the carrier filter on, a sample
// whose envelope is not steady also restarts the steady-tone count: noise is no tone.
void TrackEvents(InfoReceiver* r, bool steady)
{
    if (r->decision == kReversal) {
        if (r->toneCount >= kToneSamples)
            r->reversalCount = 0;
        if (r->reversalCount >= 0)
            r->reversalCount += 1;
        r->reversalRunCount += 1;
        r->toneCount = 0;
        if (r->state == kInfoRxTone)
            r->state = kInfoRxNothing;
    } else {
        r->toneCount += 1;
        r->reversalRunCount = 0;
        if (r->reversalCount >= 0 && r->reversalCount <= kSingleReversalSamples)
            r->state = kInfoRxReversal;
        r->reversalCount = -1;
    }
    if (!steady) {
        r->toneCount = 0;
        if (r->state == kInfoRxTone)
            r->state = kInfoRxNothing;
    }
    // A frame or CRC report is held until it is read.
    if (r->state == kInfoRxFrame || r->state == kInfoRxCrcError)
        return;
    if (r->toneCount > kToneSamples) {
        r->state = kInfoRxTone;
    } else if (r->reversalRunCount > kReversalRunSamples) {
        r->state = kInfoRxReversalRun;
        r->reversalRunCount = 0;
    }
    if (r->state == kInfoRxReversal && r->toneCount > kToneAfterReversal)
        r->state = kInfoRxTone;
}

}  // namespace

void InitInfoReceiver(InfoReceiver* r, int32_t caller, int32_t expectedLength)
{
    std::memset(r, 0, sizeof(*r));
    // The caller hears the answerer's 2400 Hz carrier, the answerer the caller's 1200 Hz.
    r->coefI = InfoRxFilterI(caller);
    r->coefQ = InfoRxFilterQ(caller);
    r->carrierCoef = InfoCarrierFilter(caller);
    r->agcGain = 0x7FFF;
    r->reversalCount = -1;
    r->syncPhase = -1;
    ExpectInfoLength(r, expectedLength);
}

void InfoReceiverRearm(InfoReceiver* r)
{
    for (int f = 0; f < kInfoSamplesPerBit; ++f) {
        r->bitCount[f] = -1;
        r->crc[f] = 0xFFFF;
    }
    r->toneCount = 0;
    r->reversalRunCount = 0;
    r->foundPhase = -1;
    r->state = kInfoRxNothing;
}

void InfoReceiverDropReport(InfoReceiver* r)
{
    if (r->state != kInfoRxFrame && r->state != kInfoRxCrcError)
        return;
    for (int f = 0; f < kInfoSamplesPerBit; ++f) {
        r->bitCount[f] = -1;
        r->crc[f] = 0xFFFF;
    }
    r->foundPhase = -1;
    r->state = kInfoRxNothing;
}

void ExpectInfoLengths(InfoReceiver* r, const int32_t* list, int32_t count)
{
    InfoReceiverRearm(r);
    r->lengthCount = 0;
    r->maxLength = 0;
    const int32_t n = count < kInfoMaxLengths ? count : kInfoMaxLengths;
    for (int32_t k = 0; k < n; ++k) {
        // A body longer than the phase's registers could not be held: such a length is never accepted.
        if (list[k] <= 0 || list[k] > kInfoMaxBody)
            continue;
        r->lengths[r->lengthCount++] = list[k];
        r->maxLength = list[k] > r->maxLength ? list[k] : r->maxLength;
    }
}

void ExpectInfoLength(InfoReceiver* r, int32_t n)
{
    ExpectInfoLengths(r, &n, 1);
}

void SetCarrierFilter(InfoReceiver* r, int32_t on)
{
    r->carrierFilterOn = on == 1;
    if (on == 1) {
        std::memset(r->carrierHistory, 0, sizeof(r->carrierHistory));
        r->carrierIndex = 0;
        r->envelopeMean = 0;
        r->envelopeSpread = 0;
        r->toneCount = 0;
        r->reversalRunCount = 0;
    }
}

int32_t InfoReceiverSample(InfoReceiver* r, int16_t sample)
{
    int16_t y = AgcSample(sample, &r->agcGain, kAgcRate, kAgcTarget);
    if (r->carrierFilterOn)
        y = RunFir(r->carrierCoef, r->carrierHistory, kInfoCarrierTaps, &r->carrierIndex, y);
    int32_t energy;
    const int32_t e = Demodulate(r, y, &energy);
    r->level = SmoothAbs(r->level, e);
    const int32_t threshold = r->level >> 18;
    if (r->decision != 0 && e > threshold)
        r->decision = 0;
    else if (r->decision == 0 && e < -threshold)
        r->decision = kReversal;
    const bool steady = EnvelopeSteady(r, energy) || !r->carrierFilterOn;
    if (energy > kLowEnergy) {
        r->lowEnergyCount = 0;
    } else if (r->lowEnergyCount < kNoSignalSamples) {
        r->lowEnergyCount += 1;
    }
    if (r->lowEnergyCount >= kNoSignalSamples) {
        r->toneCount = 0;
        r->reversalRunCount = 0;
        r->state = kInfoRxNothing;
        return r->state;
    }
    if (r->state == kInfoRxFrame || r->state == kInfoRxCrcError)
        return r->state;
    const int32_t f = static_cast<int32_t>(r->phaseCounter % kInfoSamplesPerBit);
    for (int32_t k = 0; k < r->lengthCount; ++k) {
        if (r->bitCount[f] == r->lengths[k] && r->crc[f] == 0) {
            r->foundPhase = f;
            r->foundLength = r->lengths[k];
            r->state = kInfoRxFrame;
        }
    }
    // The phase whose frame was just found takes no further bit, so its words hold exactly the body.
    if (r->foundPhase != f)
        CollectBit(r, f, r->decision == kReversal ? 1u : 0u);
    TrackEvents(r, steady);
    r->phaseCounter += 1;
    return r->state;
}

int32_t InfoReceiverRead(InfoReceiver* r, uint16_t* words, int32_t* length)
{
    const int32_t was = r->state;
    if (was == kInfoRxFrame && words != nullptr) {
        const int32_t n = r->foundLength;
        std::memcpy(words, r->bits[r->foundPhase], static_cast<size_t>((n + 15) / 16) * sizeof(uint16_t));
        if (length != nullptr)
            *length = n;
    }
    if (was == kInfoRxFrame || was == kInfoRxCrcError)
        InfoReceiverRearm(r);
    r->state = kInfoRxNothing;
    return was;
}
