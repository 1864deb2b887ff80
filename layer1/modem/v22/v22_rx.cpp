// The receiver's front end and symbol clock: pre-filter, demodulation to baseband, timing interpolation, the
// receive low-pass with gain control, and the table of per-sample handlers that runs the symbol stages.
//
// Timing: every received sample is demodulated; the interpolator makes one baseband sample per received
// sample at a position between the three newest, set by the timing fraction (0 ... 23100 = one sample). When
// the timing loop pushes the fraction past either end, one interpolated sample is left out or one extra is
// made, so the symbol clock (16 interpolated samples per symbol) follows the far end's clock for as long as
// the call lasts, whatever the difference between the two clocks.
#include <cstring>

#include "layer1/dsp/nco.h"
#include "layer1/modem/v22/v22_rx_internal.h"

namespace {

void Demodulate(V22RxState* r, int32_t x)
{
    r->rx_carrier_phase = static_cast<uint16_t>(r->rx_carrier_phase + static_cast<uint16_t>(r->rx_carrier_step));
    NcoSinCos(r->rx_carrier_phase, &r->sin, &r->cos);
    r->demod[0] = r->demod[1];
    r->demod[1] = r->demod[2];
    r->demod[2].re = Saturate16((static_cast<int64_t>(x) * r->cos) >> 15);
    r->demod[2].im = Saturate16(-((static_cast<int64_t>(x) * r->sin) >> 15));
}

// Quadratic B-spline between the three newest values: weights (1-u)^2/2, (1+2u-2u^2)/2 and u^2/2 on the
// oldest, middle and newest, u = fraction / 23100 (the position moves from 0.5 to 1.5 samples after the
// oldest as u goes from 0 to 1).
void Interpolate(V22RxState* r)
{
    const int32_t f = r->timing.timing_fraction;
    const int32_t b = (f * f) >> 15;
    const int32_t c = ((f * kV22TimingPeriod) >> 15) * 2;
    const int32_t k0 = b;
    const int32_t k1 = c - 2 * b + 16285;
    const int32_t k2 = b - c + 16285;
    const VekC16* d = r->demod;
    VekC16 v;
    v.re = Saturate16((static_cast<int64_t>(k1) * d[1].re + static_cast<int64_t>(k2) * d[0].re +
                          static_cast<int64_t>(k0) * d[2].re) >> 15);
    v.im = Saturate16((static_cast<int64_t>(k1) * d[1].im + static_cast<int64_t>(k2) * d[0].im +
                          static_cast<int64_t>(k0) * d[2].im) >> 15);
    r->baseband_index = static_cast<uint16_t>((r->baseband_index + kV22RxFilterTaps - 1) % kV22RxFilterTaps);
    r->baseband_re[r->baseband_index] = v.re;
    r->baseband_re[r->baseband_index + kV22RxFilterTaps] = v.re;
    r->baseband_im[r->baseband_index] = v.im;
    r->baseband_im[r->baseband_index + kV22RxFilterTaps] = v.im;
}

int16_t ApplyGain(const V22RxState* r, int32_t v)
{
    const int32_t e = r->agc_exponent;
    int64_t x = v;
    if (e > 0)
        x = ((x << (e - 1)) * r->agc_mantissa >> 15) * 2;
    else
        x = (x >> (-e < 31 ? -e : 31)) * r->agc_mantissa >> 15;
    return Saturate16(x);
}

// The receive low-pass over the 128 newest baseband values (rounded to 16 bits), then the gain.
void ReceiveFilter(V22RxState* r)
{
    // One plain dot product of 16-bit values per component (the compiler pairs the products): the same sums
    // as folding the symmetric taps. The sum of the taps' magnitudes is below 65536, so the 32-bit sums
    // cannot overflow.
    const int16_t* h = V22RxFilter();
    const int16_t* xr = &r->baseband_re[r->baseband_index];
    const int16_t* xi = &r->baseband_im[r->baseband_index];
    int32_t re = 0, im = 0;
    for (int k = 0; k < kV22RxFilterTaps; ++k) {
        re += h[k] * xr[k];
        im += h[k] * xi[k];
    }
    r->filt_re = ApplyGain(r, (re + 16384) >> 15);
    r->filt_im = ApplyGain(r, (im + 16384) >> 15);
}

void PushEqualiser(V22RxState* r)
{
    r->eq_index = static_cast<uint16_t>((r->eq_index + kV22EqTaps - 1) % kV22EqTaps);
    const VekC16 v{r->filt_re, r->filt_im};
    r->eq_line[r->eq_index] = v;
    r->eq_line[r->eq_index + kV22EqTaps] = v;
}

int32_t Energy(const V22RxState* r)
{
    return ((r->filt_re * r->filt_re) >> 15) + ((r->filt_im * r->filt_im) >> 15);
}

constexpr int32_t kEnergyThreshold = 2097153;  // |filt| of about 1448

// The per-sample handlers; each returns V22RxEvent bits.
uint32_t Phase0(V22Modem* m)
{
    ReceiveFilter(&m->rx);
    V22EqualiserOutput(&m->rx);
    return 0;
}
uint32_t Phase1(V22Modem* m) { return V22DecideAndAdjustGain(&m->rx); }
uint32_t Phase2(V22Modem* m)
{
    V22RotateErrorBack(&m->rx);
    return 0;
}
uint32_t Phase3(V22Modem* m)
{
    V22UpdateTaps(&m->rx);
    return 0;
}
uint32_t PhaseFilterPush(V22Modem* m)
{
    ReceiveFilter(&m->rx);
    PushEqualiser(&m->rx);
    return 0;
}
uint32_t PhaseNothing(V22Modem*) { return 0; }
uint32_t Phase6(V22Modem* m)
{
    V22RxState& r = m->rx;
    const int32_t e = (r.filt_re * r.filt_re) + (r.filt_im * r.filt_im);
    if (e >= kEnergyThreshold || e < 0)
        r.detect |= V22_DETECT_ENERGY;
    else
        r.detect &= static_cast<uint16_t>(~V22_DETECT_ENERGY);
    return 0;
}
uint32_t Phase7(V22Modem* m)
{
    V22DetectS1(&m->rx);
    return 0;
}
// The filter output of phase 8 serves only the start energies.
uint32_t Phase8(V22Modem* m)
{
    if (m->rx.control & V22_RX_START_ENERGY)
        ReceiveFilter(&m->rx);
    return 0;
}
uint32_t Phase9(V22Modem* m)
{
    V22CarrierLoop(&m->rx);
    return 0;
}
uint32_t Phase10(V22Modem* m)
{
    if (m->rx.control & V22_RX_DATA)
        V22DecodeSymbol(m);
    return 0;
}
uint32_t Phase14(V22Modem* m)
{
    if (m->rx.control & V22_RX_TIMING)
        V22TimingError(&m->rx);
    return 0;
}
uint32_t Phase15(V22Modem* m)
{
    V22RxState& r = m->rx;
    if (r.s1.s1_seen && (r.control & V22_RX_RETRAIN_WATCH)) {
        r.control &= static_cast<uint16_t>(~V22_RX_RETRAIN_WATCH);
        return V22_RX_EVENT_RETRAIN;
    }
    return 0;
}

typedef uint32_t (*PhaseHandler)(V22Modem* m);
// V22PhaseHandlers: 0 filter and equaliser output; 1 decision and gain; 2 error back-rotation; 3 tap update;
// 4 and 12 filter into the equaliser; 6 energy; 7 S1; 8 filter; 9 carrier loop; 10 decoding; 14 timing;
// 15 retrain watch.
constexpr PhaseHandler V22PhaseHandlers[kV22SamplesPerSymbol] = {
    Phase0, Phase1, Phase2, Phase3, PhaseFilterPush, PhaseNothing, Phase6, Phase7,
    Phase8, Phase9, Phase10, PhaseNothing, PhaseFilterPush, PhaseNothing, Phase14, Phase15,
};

// The timing loop's per-sample part: the rate term and the proportional term accumulate, and each overflow
// moves the fraction by 1/300 sample.
void AdvanceTiming(V22RxState* r)
{
    V22TimingLoop& t = r->timing;
    int32_t s = t.timing_accumulator + static_cast<int32_t>((static_cast<int64_t>(t.timing_step_weight) * t.timing_step) >> 23) +
                ((t.timing_gain * t.timing_error) >> 15);
    int32_t f = t.timing_fraction;
    while (s > 32767) {
        f += kV22TimingNudge;
        s -= 32767;
    }
    while (s < 0) {
        f -= kV22TimingNudge;
        s += 32767;
    }
    t.timing_accumulator = static_cast<int16_t>(s);
    t.timing_fraction = static_cast<int16_t>(f);
}

void AddTurn(V22Turn* sum, VekC16 now, VekC16 before)
{
    sum->re += static_cast<int64_t>(now.re) * before.re + static_cast<int64_t>(now.im) * before.im;
    sum->im += static_cast<int64_t>(now.im) * before.re - static_cast<int64_t>(now.re) * before.im;
}

// The fourth power of filter phase k's output, and its turn against one and four symbols before.
void AccumulateOffset(V22RxState* r, int32_t k)
{
    const int32_t a = r->filt_re;
    const int32_t b = r->filt_im;
    const int32_t sr = (a * a - b * b) >> 15;
    const int32_t si = (a * b) >> 14;
    const VekC16 z4{Saturate16((static_cast<int64_t>(sr) * sr - static_cast<int64_t>(si) * si) >> 15),
                    Saturate16((static_cast<int64_t>(sr) * si) >> 14)};
    if (k == 0)
        r->offset_symbols = static_cast<uint16_t>(r->offset_symbols + 1);
    const uint32_t slot = r->offset_symbols & 3u;
    AddTurn(&r->turn1[k], z4, r->fourth[(slot + 3) & 3u][k]);
    AddTurn(&r->turn4[k], z4, r->fourth[slot][k]);
    r->fourth[slot][k] = z4;
}

uint32_t OneOutput(V22Modem* m)
{
    V22RxState& r = m->rx;
    Interpolate(&r);
    const uint16_t phase = r.sample_phase;
    uint32_t events = V22PhaseHandlers[phase](m);
    AdvanceTiming(&r);
    if (r.control & V22_RX_START_ENERGY) {
        if ((phase & 3) == 0)
            AccumulateOffset(&r, phase >> 2);
        const int32_t e = Energy(&r);
        if (phase == 0)
            r.start_energy_a = Saturate16(r.start_energy_a + (e >> 4));
        else if (phase == 4)
            r.start_energy_b = Saturate16(r.start_energy_b + (e >> 4));
        else if (phase == 8)
            r.start_energy_a = Saturate16(r.start_energy_a - (e >> 4));
        else if (phase == 12)
            r.start_energy_b = Saturate16(r.start_energy_b - (e >> 4));
    }
    r.sample_phase = static_cast<uint16_t>((phase + 1) & (kV22SamplesPerSymbol - 1));
    return events;
}

}  // namespace

uint32_t V22RxBlock(V22Modem* m, const int16_t* in, int32_t n)
{
    V22RxState& r = m->rx;
    uint32_t events = 0;
    for (int32_t i = 0; i < n; ++i) {
        // Pre-filter: removes DC and low-frequency hum, gain 1/2.
        const int64_t a = 3 * (5461 * static_cast<int64_t>(in[i]) - r.prefilter[0] - r.prefilter[1]);
        r.prefilter[0] = static_cast<int32_t>(r.prefilter[0] + (a >> 4));
        r.prefilter[1] = static_cast<int32_t>(r.prefilter[1] + (r.prefilter[0] >> 3));
        Demodulate(&r, static_cast<int32_t>(a >> 15));
        if (r.timing.timing_fraction > kV22TimingPeriod) {
            // The far end's clock is slower: this sample makes no output.
            r.timing.timing_fraction = static_cast<int16_t>(r.timing.timing_fraction - kV22TimingPeriod);
            continue;
        }
        events |= OneOutput(m);
        if (r.timing.timing_fraction < 0) {
            // The far end's clock is faster: one more output from the same samples, a sample later.
            r.timing.timing_fraction = static_cast<int16_t>(r.timing.timing_fraction + kV22TimingPeriod);
            events |= OneOutput(m);
        }
    }
    if (r.eq_step != 0)
        V22TransferEqualiserTurn(&r, n / kV22SamplesPerSymbol);
    return events;
}
