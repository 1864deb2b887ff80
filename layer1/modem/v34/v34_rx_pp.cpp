// The PP captures, the frequency offset and the initial equaliser. The analysis runs once per training, in
// double precision (round to nearest, no reassociation), between two symbols.
#include "layer1/modem/v34/v34_rx_pp.h"

#include <cmath>
#include <complex>

#include "layer1/modem/v34/v34_power.h"
#include "layer1/modem/v34/v34_rx.h"
#include "layer1/modem/v34/v34_tx_steps.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

using Complex = std::complex<double>;

constexpr int32_t kCarrierOutputGain = 0x147AE14;
constexpr int32_t kOutputShift = 11;            // the receiver's output: its 32-bit sum >> 11
constexpr double kTwoPi = 6.283185307179586;
constexpr double kTurn = 4294967296.0;          // phase-word units per turn

Complex ToComplex(PackedComplex p) { return Complex(RealPart(p), ImagPart(p)); }

// The frequency of bin m of the 72-point transform, in cycles per symbol (negative from bin 36 on).
double BinFrequency(int32_t m)
{
    return (m < kV34PpSamples / 2 ? m : m - kV34PpSamples) / static_cast<double>(kV34PpPeriod);
}

// The 48-point spectrum of PP as transmitted (modulator input units).
void PpSpectrum(Complex spectrum[kV34PpPeriod])
{
    Complex s[kV34PpPeriod];
    for (int32_t n = 0; n < kV34PpPeriod; ++n)
        s[n] = ToComplex(ScaleTransmitPoint(0, kV34PpScale, kV34TrainingGain, V34PpPoint(n)));
    for (int32_t k = 0; k < kV34PpPeriod; ++k) {
        Complex sum = 0.0;
        for (int32_t n = 0; n < kV34PpPeriod; ++n)
            sum += s[n] * std::polar(1.0, -kTwoPi * k * n / kV34PpPeriod);
        spectrum[k] = sum;
    }
}

int32_t WordOf(double turns)
{
    const double wrapped = turns - std::floor(turns);
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(std::llround(wrapped * kTurn))));
}

// Taps for a delay of d symbols from the equaliser's frequency response (delay 0), and the tap of most power.
int32_t TapsForDelay(const Complex response[kV34PpSamples], int32_t d, double scale, VekC32 taps[kV34PpSamples])
{
    int32_t peak = 0;
    double best = -1.0;
    for (int32_t k = 0; k < kV34PpSamples; ++k) {
        Complex sum = 0.0;
        for (int32_t m = 0; m < kV34PpSamples; ++m) {
            const double delay = -BinFrequency(m) * d;
            sum += response[m] * std::polar(1.0, kTwoPi * (delay + static_cast<double>(m * k % kV34PpSamples) / kV34PpSamples));
        }
        sum *= scale / kV34PpSamples;
        const double re = std::fmax(-32767.0, std::fmin(32767.0, sum.real()));
        const double im = std::fmax(-32767.0, std::fmin(32767.0, sum.imag()));
        taps[k].re = static_cast<int32_t>(std::lround(re * 65536.0));
        taps[k].im = static_cast<int32_t>(std::lround(im * 65536.0));
        if (std::norm(sum) > best) {
            best = std::norm(sum);
            peak = k;
        }
    }
    return peak;
}

}  // namespace

int32_t CapturePp(const LmsState* equaliser, PpCapture* c)
{
    if (c->count >= kV34PpCaptures)
        return -1;
    VekC16 line[2 * kV34EqualiserLine];  // room beyond the line the library copies
    int32_t index = 0;
    if (equaliser == nullptr || vek_lms_get_delay_complex(equaliser, line, &index) != VEK_OK)
        return -2;
    // Tap k multiplies the sample 2k entries before the newest (index - 1): the capture takes taps 71 ... 0.
    PackedComplex* out = c->samples[c->count];
    for (int32_t i = 0; i < kV34PpSamples; ++i) {
        const int32_t at = ((index - 1 - 2 * (kV34PpSamples - 1 - i)) % kV34EqualiserLine + kV34EqualiserLine) % kV34EqualiserLine;
        out[i] = PackComplex(line[at].re, line[at].im);
        c->energy += static_cast<uint32_t>((int32_t{line[at].re} * line[at].re + int32_t{line[at].im} * line[at].im) >> 16);
    }
    c->count += 1;
    return 0;
}

int32_t PpFrequencyOffset(const PpCapture* c)
{
    if (c->count < 2)
        return 0;
    Complex sum = 0.0;
    for (int32_t k = 1; k < c->count; ++k)
        for (int32_t i = 0; i < kV34PpSamples; ++i)
            sum += ToComplex(c->samples[k][i]) * std::conj(ToComplex(c->samples[k - 1][i]));
    // One period apart: the turn over 48 symbols.
    const double turns = std::arg(sum) / kTwoPi / kV34PpPeriod;
    return static_cast<int32_t>(std::llround(turns * kTurn));
}

int32_t InitialEqualiser(const PackedComplex period[kV34PpSamples], int32_t gain, VekC32 taps[kV34PpSamples])
{
    static const struct Reference {
        Complex v[kV34PpPeriod];
        Reference() { PpSpectrum(v); }
    } reference;
    // The line's response at each bin, with the capture's time origin in it.
    Complex line[kV34PpSamples];
    double power[kV34PpSamples];
    double most = 0.0;
    for (int32_t m = 0; m < kV34PpSamples; ++m) {
        Complex sum = 0.0;
        for (int32_t i = 0; i < kV34PpSamples; ++i)
            sum += ToComplex(period[i]) * std::polar(1.0, -kTwoPi * (m * i % kV34PpSamples) / kV34PpSamples);
        const int32_t k = m < kV34PpSamples / 2 ? m : m - (kV34PpSamples - kV34PpPeriod);
        line[m] = sum / reference.v[k];
        power[m] = std::norm(line[m]);
        most = std::fmax(most, power[m]);
    }
    if (!(most > 0.0))
        return -1;
    // Bins a symbol rate apart fold onto one symbol-rate frequency: 12 ... 35 with 36 ... 59.
    double folded[kV34PpSamples];
    for (int32_t m = 0; m < kV34PpSamples; ++m)
        folded[m] = power[m];
    for (int32_t m = 36; m < 60; ++m)
        folded[m] = folded[m - 24] = power[m] + power[m - 24];
    // The response that undoes the line, referred to the newest sample (tap 0), a floor 40 dB under the
    // strongest bin keeping it bounded.
    Complex response[kV34PpSamples];
    const double floor = most * 1e-4;
    for (int32_t m = 0; m < kV34PpSamples; ++m) {
        const double newest = -static_cast<double>(m * (kV34PpSamples - 1) % kV34PpSamples) / kV34PpSamples;
        response[m] = std::conj(line[m]) / (folded[m] + floor) * std::polar(1.0, kTwoPi * newest);
    }
    // Output = transmitted x (72 / 48) / 72 per bin sum: scale for the gain and the output shift.
    const double scale = static_cast<double>(gain) / 32768.0 * (1 << kOutputShift) * kV34PpSamples / kV34PpPeriod;
    const int32_t peak = TapsForDelay(response, 0, scale, taps);
    // Whole symbols of delay move the peak by 3/2 taps: bring it near the middle.
    int32_t d = static_cast<int32_t>(std::lround((kV34PpPeakTap - peak) / 1.5));
    d = ((d % kV34PpPeriod) + kV34PpPeriod) % kV34PpPeriod;
    return TapsForDelay(response, d, scale, taps);
}

int32_t AnalysePp(V34Receiver* rx, const PpCapture* c)
{
    if (c->count < kV34PpCaptures)
        return -1;
    const int32_t offset = PpFrequencyOffset(c);
    const double perSymbol = static_cast<double>(offset) / kTurn;  // turns
    PackedComplex average[kV34PpSamples];
    for (int32_t i = 0; i < kV34PpSamples; ++i) {
        Complex sum = 0.0;
        for (int32_t k = 0; k < kV34PpCaptures; ++k) {
            const double symbols = k * kV34PpPeriod + i * 2.0 / 3.0;
            sum += ToComplex(c->samples[k][i]) * std::polar(1.0, -kTwoPi * perSymbol * symbols);
        }
        sum /= kV34PpCaptures;
        average[i] = PackComplex(static_cast<int32_t>(std::lround(sum.real())), static_cast<int32_t>(std::lround(sum.imag())));
    }
    VekC32 taps[kV34PpSamples];
    const int32_t gain = static_cast<int32_t>(int64_t{rx->reencode.scale} * 32768 / kFourPointScale);
    if (InitialEqualiser(average, gain, taps) < 0)
        return -1;
    if (rx->equaliser == nullptr || vek_lms_set_taps_complex(rx->equaliser, taps) != VEK_OK)
        return -2;
    // The equaliser holds the phase of the first capture's first sample; by the next symbol the offset has
    // turned the line on by the captures' span and one symbol more.
    const double elapsed = (kV34PpCaptures - 1) * kV34PpPeriod + (kV34PpSamples - 1) * 2.0 / 3.0 + 1.0;
    rx->carrier.phase = WordOf(-perSymbol * elapsed);
    rx->carrier.integrator = static_cast<int32_t>(std::llround(-perSymbol * kTurn * 2147483648.0 / kCarrierOutputGain));
    rx->carrier.output = kCarrierOutputGain;
    rx->timing.output = 0x7FFFFFFF;
    return 0;
}
