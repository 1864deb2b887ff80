// The FSK demodulator: mix the received signal to baseband with the channel's carrier, low-pass (and
// decimate), scale by the AGC, take the frequency from the phase change between two filtered samples
// (discriminator), and decide one bit per bit time, re-centred on every sign change of the discriminator.
#include <cstdlib>
#include <cstring>

#include "layer1/modem/fsk/fsk_state.h"
#include "layer1/dsp/nco.h"

namespace {

constexpr int32_t kAgcExponent = 7;
constexpr int32_t kAgcMantissa = 0x3000;
constexpr int32_t kAgcLoopGain = 1280;
constexpr int32_t kAgcLevel = 1792;
constexpr int32_t kAgcTarget = 3915;
constexpr int32_t kAgcMaxExponent = 15;
constexpr int32_t kMantissaHigh = 0x6000;
constexpr int32_t kMantissaLow = 0x3000;
constexpr int32_t kStartDelayReload = 96;
constexpr int32_t kRetries = 100;

constexpr uint8_t kStateIdle = 0;
constexpr uint8_t kStateData = 2;
constexpr uint8_t kStateFax = 8;
constexpr uint8_t kInDataBit = 0x10;

int32_t Saturate(int64_t v)
{
    return static_cast<int32_t>(v > 0x7FFF ? 0x7FFF : (v < -0x7FFF ? -0x7FFF : v));
}

void Status(FskState* fsk, uint8_t value, int set)
{
    if (fsk->port.status)
        fsk->port.status(fsk->port.owner, value, set);
}

// Level estimate of the scaled filtered pair, then the gain loop. The magnitude is approximated by
// (max + min / 2) / 4 of |I| and |Q|.
void AgcSample(FskDemodulatorState& d)
{
    FskAgc& a = d.agc;
    const int32_t ai = std::abs(d.iCur);
    const int32_t aq = std::abs(d.qCur);
    const int32_t lo = ai < aq ? ai : aq;
    const int32_t m = (ai / 4 + aq / 4 - lo / 8);
    a.level = static_cast<int32_t>((static_cast<int64_t>(m) * 1638 + static_cast<int64_t>(a.level) * 31129) >> 15);
    if (a.frozen)
        return;
    a.mantissa += static_cast<int32_t>((static_cast<int64_t>(a.target - a.level) * a.loopGain) >> 15);
    if (a.mantissa <= 0)
        a.mantissa = 1;  // a gain never turns negative
    if (a.mantissa > kMantissaHigh) {
        if (a.exponent < kAgcMaxExponent) {
            a.mantissa >>= 1;
            a.exponent += 1;
        } else {
            a.mantissa = kMantissaHigh;
        }
    } else if (a.mantissa < kMantissaLow && a.exponent > 0) {
        a.mantissa <<= 1;
        a.exponent -= 1;
    }
}

int32_t Scale(const FskAgc& a, int32_t v)
{
    return Saturate((static_cast<int64_t>(v) * a.mantissa * (int64_t{1} << a.exponent)) >> 15);
}

bool LevelCounts(const FskAgc& a)
{
    return a.exponent <= 6 || (a.exponent == 7 && a.mantissa <= 20991);
}

bool LevelLost(const FskDemodulatorState& d)
{
    const FskAgc& a = d.agc;
    if (a.exponent > 8 || (a.exponent > 7 && a.mantissa > 0x4000))
        return true;
    return false;
}

bool FaxLevelLost(const FskDemodulatorState& d)
{
    const FskAgc& a = d.agc;
    if (d.dropExponent == 0)
        return false;
    return a.exponent > d.dropExponent || (a.exponent == d.dropExponent && a.mantissa > d.dropMantissa);
}

void DropCarrier(FskState* fsk)
{
    FskDemodulatorState& d = fsk->demod;
    d.carrierOn = 0;
    d.carrierCount = 0;
    d.onesCount = 0;
    Status(fsk, kStateIdle, 1);
    Status(fsk, kInDataBit, 0);
}

// Carrier detect, once per decided bit.
void CarrierDetect(FskState* fsk)
{
    FskDemodulatorState& d = fsk->demod;
    if (!d.carrierOn) {
        if (!LevelCounts(d.agc)) {
            d.carrierCount = 0;
            return;
        }
        d.carrierCount += 1;
        if (d.carrierCount <= d.requiredCount)
            return;
        switch (d.receiverKind) {
        case FSK_RX_FAX:
            d.carrierOn = 1;
            Status(fsk, kStateFax, 1);
            break;
        case FSK_RX_QUIET:
            d.carrierOn = 1;
            return;
        default:
            if (d.startDelayActive && d.startDelay > 0)
                return;  // taken as off again until the start delay has run out
            d.carrierOn = 1;
            d.retryCount = kRetries;
            Status(fsk, kStateData, 1);
            break;
        }
        Status(fsk, kInDataBit, 1);
        return;
    }
    if (LevelLost(d)) {
        d.carrierCount = 0;
        d.flagBase = fsk->port.rxFlagCount ? fsk->port.rxFlagCount(fsk->port.owner) : 0;
        FskResetAgc(&d.agc);
        if (d.receiverKind == FSK_RX_QUIET) {
            d.carrierOn = 0;
            return;
        }
        if (d.retryCount > 0) {
            d.retryCount -= 1;
            return;
        }
        DropCarrier(fsk);
        return;
    }
    if (d.receiverKind == FSK_RX_FAX && FaxLevelLost(d))
        DropCarrier(fsk);
}

void DecideBit(FskState* fsk)
{
    FskDemodulatorState& d = fsk->demod;
    const int32_t bit = (d.discriminator > 0 ? ~fsk->polarity : fsk->polarity) & 1;
    d.bit = bit;
    if (d.taker && d.taker(d.takerOwner, bit))
        return;
    if (!d.carrierOn && d.startDelayActive && d.startDelay > 0) {
        const bool beyond = d.threshold >= 0 ? d.discriminator > d.threshold : d.discriminator < d.threshold;
        if (beyond)
            d.startDelay -= 1;
        else
            d.startDelay = kStartDelayReload;
    }
    CarrierDetect(fsk);
    if (!d.carrierOn)
        return;
    d.onesCount = bit ? d.onesCount + 1 : 0;
    if (fsk->port.putRxBit)
        fsk->port.putRxBit(fsk->port.owner, bit);
}

// One output (i, q) of the low-pass filter: discriminator and bit timing.
void FilteredSample(FskState* fsk, int32_t i, int32_t q)
{
    FskDemodulatorState& d = fsk->demod;
    const FskRxChannel* ch = fsk->rx;
    d.iPrev = d.iCur;
    d.qPrev = d.qCur;
    d.iCur = Scale(d.agc, i);
    d.qCur = Scale(d.agc, q);
    d.previousDiscriminator = d.discriminator;
    d.discriminator = static_cast<int32_t>(
        (static_cast<int64_t>(d.qCur) * d.iPrev - static_cast<int64_t>(d.qPrev) * d.iCur) / 2);
    if ((d.discriminator < 0) != (d.previousDiscriminator < 0))
        d.bitPhase = ch->samplesPerBit / 2;
    d.bitPhase += 1;
    if (d.bitPhase >= ch->samplesPerBit) {
        d.bitPhase = 0;
        DecideBit(fsk);
    }
}

}  // namespace

void FskResetAgc(FskAgc* agc)
{
    agc->exponent = kAgcExponent;
    agc->mantissa = kAgcMantissa;
    agc->loopGain = kAgcLoopGain;
    agc->level = kAgcLevel;
    agc->target = kAgcTarget;
    agc->frozen = 0;
}

void FskResetReceiver(FskState* fsk)
{
    FskDemodulatorState& d = fsk->demod;
    const int32_t kind = d.receiverKind;
    const int32_t required = d.requiredCount;
    const int32_t threshold = d.threshold;
    const int32_t delayActive = d.startDelayActive;
    const FskBitTaker taker = d.taker;
    void* takerOwner = d.takerOwner;
    std::memset(&d, 0, sizeof(d));
    d.receiverKind = kind;
    d.requiredCount = required;
    d.threshold = threshold;
    d.startDelayActive = delayActive;
    d.startDelay = delayActive ? kStartDelayReload : 0;
    d.taker = taker;
    d.takerOwner = takerOwner;
    d.flagBase = fsk->port.rxFlagCount ? fsk->port.rxFlagCount(fsk->port.owner) : 0;
    FskResetAgc(&d.agc);
    fsk->callerId = CallerIdRecogniser{0, 0};
}

namespace {

// Up to kFskChunk samples in three passes: the carrier mix fills the filter window, the low-pass filter runs at
// the decimated sample times, then each sample runs the decisions of a filter output and the AGC in turn.
void DemodulateRun(FskState* fsk, const int16_t* in, int32_t n)
{
    FskDemodulatorState& d = fsk->demod;
    const FskRxChannel* ch = fsk->rx;
    FskWindow w;
    FskWindowLoad(&w, d.historyCos, d.historySin);
    uint32_t carrierPhase = d.carrierPhase;
    for (int32_t k = 0; k < n; ++k) {
        carrierPhase += ch->carrierStep;
        int16_t s, c;
        NcoSinCos(carrierPhase, &s, &c);
        const int32_t x = in[k];
        *w.Re(k) = static_cast<int16_t>((x * c) / 32768);
        *w.Im(k) = static_cast<int16_t>((x * s) / 32768);
    }
    d.carrierPhase = carrierPhase;
    int32_t fi[kFskChunk], fq[kFskChunk];
    int32_t index = d.sampleIndex;
    for (int32_t k = 0; k < n; ++k) {
        index += 1;
        if (index < ch->decimation)
            continue;
        index = 0;
        if (ch->decimate)
            ch->decimate(ch, w.Re(k), w.Im(k), &fi[k], &fq[k]);
        else
            FskFilter(ch->taps, w.Re(k), w.Im(k), &fi[k], &fq[k]);
    }
    FskWindowSave(&w, n, d.historyCos, d.historySin);
    for (int32_t k = 0; k < n; ++k) {
        d.sampleIndex += 1;
        if (d.sampleIndex >= ch->decimation) {
            d.sampleIndex = 0;
            FilteredSample(fsk, fi[k], fq[k]);
        }
        AgcSample(d);
    }
}

}  // namespace

void FskDemodulate(FskState* fsk, const int16_t* in, int32_t n)
{
    for (int32_t done = 0; done < n; done += kFskChunk)
        DemodulateRun(fsk, in + done, n - done < kFskChunk ? n - done : kFskChunk);
}

void FskAfterBlock(FskState* fsk)
{
    FskDemodulatorState& d = fsk->demod;
    if (d.receiverKind != FSK_RX_FAX || !d.carrierOn || d.frameReported)
        return;
    if (!fsk->port.rxFlagCount || fsk->port.rxFlagCount(fsk->port.owner) - d.flagBase <= 2)
        return;
    Status(fsk, kStateFax, 1);
    Status(fsk, kInDataBit, 1);
    d.frameReported = 1;
    if (fsk->port.restartRxFramer)
        fsk->port.restartRxFramer(fsk->port.owner);
    d.savedExponent = d.agc.exponent;
    d.savedMantissa = d.agc.mantissa;
    // The second pair of loss limits: 12 dB below the level the frames arrived at.
    d.dropExponent = d.agc.exponent + 2;
    d.dropMantissa = d.agc.mantissa;
}
