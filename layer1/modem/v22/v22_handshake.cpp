// The receiver's settings through the handshake, one operation per receive step: what each stage turns on
// and how fast the loops adapt. The glue's step lists decide how long each stage lasts.
//
// Loop targets (the constellation in units of 3072 at the equaliser output, a mean point about 9400):
// - carrier loop (phase error about 2900 per radian): acquisition (24000, 3072), training (10000, 1536) natural
//   frequency about 3 Hz, damping 1.2; data (3000, 512) about 1.7 Hz, damping 0.6.
// - equaliser step: 6912 while training (a tap error settles in about 10 symbols), 4096, 2816 during the rate
//   change, 512 in data (about 150 symbols: tracks the line without noise in the taps).
// - timing: proportional 16384 and integral 256 after the reference (about 1 Hz, damping 0.6; the rate term
//   holds up to 3300 ppm), integral 64 in data.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "layer1/modem/v22/v22.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int16_t kAgcTarget = 4864;
// Seeds of the equaliser, Q15: half the gain of the filter output (constellation units 6144 to 3072).
constexpr int32_t kSeedSingle = 16384;
constexpr int32_t kSeedPair = 8192;

constexpr int32_t kTwoPi = 51472;  // radians x 8192

// The angle of a sum (radians x 8192), or false when it has none.
bool AngleOf(const V22Turn& t, int32_t* angle)
{
    int64_t re = t.re;
    int64_t im = t.im;
    while (re > 32767 || re < -32767 || im > 32767 || im < -32767) {
        re /= 2;
        im /= 2;
    }
    if (re == 0 && im == 0)
        return false;
    const VekC16 v{static_cast<int16_t>(re), static_cast<int16_t>(im)};
    int16_t a = 0;
    if (vek_phase_complex_16(&v, &a, 1, -13) < 0)
        return false;
    *angle = a;
    return true;
}

// The filter phase nearest the symbol centres: its fourth powers carry the least interference from the
// neighbouring symbols, so its turn sum is the largest (compared on a shared scale).
int32_t ClearestPhase(const V22RxState* r)
{
    int64_t largest = 0;
    for (const V22Turn& t : r->turn1) {
        largest = std::max({largest, t.re < 0 ? -t.re : t.re, t.im < 0 ? -t.im : t.im});
    }
    int32_t shift = 0;
    while ((largest >> shift) > (int64_t{1} << 30))
        ++shift;
    int32_t best = 0;
    uint64_t bestPower = 0;
    for (int32_t k = 0; k < 4; ++k) {
        const int64_t re = r->turn1[k].re >> shift;
        const int64_t im = r->turn1[k].im >> shift;
        const uint64_t power = static_cast<uint64_t>(re * re) + static_cast<uint64_t>(im * im);
        if (power > bestPower) {
            bestPower = power;
            best = k;
        }
    }
    return best;
}

// The carrier offset measured during settling starts the loop's integrator. On the clearest filter phase the
// turn over one symbol (four times the carrier's turn, unambiguous up to 75 Hz) picks which of the turns over
// four symbols (four times finer, ambiguous by a quarter of that range) is the offset: a few symbols of
// scrambled ones then give the offset within a fraction of a hertz. The integrator adds integrator x 2710 /
// 32768 phase units (65536 a turn) per symbol, against the turn.
void PresetCarrierLoop(V22RxState* r)
{
    const int32_t k = ClearestPhase(r);
    int32_t coarse = 0;
    if (!AngleOf(r->turn1[k], &coarse))
        return;
    int32_t sixteenTurns = 4 * coarse;  // the fourth power's turn over four symbols
    int32_t fine = 0;
    if (AngleOf(r->turn4[k], &fine)) {
        int32_t bestGap = INT32_MAX;
        for (int32_t j = -2; j <= 2; ++j) {
            const int32_t candidate = fine + j * kTwoPi;
            const int32_t gap = std::abs(candidate - 4 * coarse);
            if (gap < bestGap) {
                bestGap = gap;
                sixteenTurns = candidate;
            }
        }
    }
    const int64_t unitsPerSymbol = static_cast<int64_t>(sixteenTurns) * 10430 / (8192 * 16);
    const int64_t integrator = -unitsPerSymbol * 32768 / 2710;
    r->loop_integrator = static_cast<int32_t>(integrator > 32767 ? 32767 : (integrator < -32767 ? -32767 : integrator));
}

void SetTap(V22RxState* r, int32_t specIndex, int32_t value)
{
    // Taps are kept by age; tap 0 of the seeding rule is the oldest (age 21).
    r->taps[kV22EqTaps - 1 - specIndex].re = value << 15;
}

}  // namespace

void V22RxInit(V22Modem* m)
{
    V22RxState& r = m->rx;
    const int16_t step = r.rx_carrier_step;
    std::memset(&r, 0, sizeof(r));
    r.rx_carrier_step = step;
    r.agc_exponent = 3;
    r.agc_mantissa = 32767;
    r.agc_loop_gain = -8192;
    r.agc_target = kAgcTarget;
    (void)V22RxFilter();
}

void V22RxReset(V22Modem* m)
{
    V22RxState& r = m->rx;
    // The S1 detector keeps its state: after a retrain it is the far end's S1, already seen, whose end the
    // listening step waits for. (R-init clears it; settling clears what it saw.)
    r.control = 0;
    r.loop_integrator = 0;
    r.loop_gain_p = 32000;
    r.loop_gain_i = 0;
    r.phase_estimate = 0;
    r.eq_step = 0;
    r.rx_ones_run = 0;
    r.ones_count = 0;
    r.timing = V22TimingLoop{};
    r.timing.timing_step_weight = 8192;
    r.timing.timing_fraction = kV22TimingPeriod / 2;
    r.detect = V22_DETECT_FOUR_POINT;
}

// Listening: the gain control runs while there is energy (back to its start gain when it goes).
void V22RxWaitSettings(V22Modem* m)
{
    V22RxState& r = m->rx;
    r.loop_gain_p = 0;
    if (r.detect & V22_DETECT_ENERGY) {
        r.control |= V22_RX_AGC;
    } else {
        r.control &= static_cast<uint16_t>(~V22_RX_AGC);
        r.agc_exponent = 3;
    }
}

void V22RxSettle(V22Modem* m)
{
    V22RxState& r = m->rx;
    // The settling step calls this every block: the offset sums start only on its first.
    if (!(r.control & V22_RX_START_ENERGY)) {
        std::memset(r.fourth, 0, sizeof(r.fourth));
        std::memset(r.turn1, 0, sizeof(r.turn1));
        std::memset(r.turn4, 0, sizeof(r.turn4));
        r.offset_symbols = 0;
    }
    r.control |= V22_RX_START_ENERGY | V22_RX_LOSS_WATCH;
    r.s1.s1_seen = 0;
    r.eq_step = 0;
    r.loop_gain_p = 0;
    r.agc_loop_gain = -1280;
    r.detect = V22_DETECT_FOUR_POINT;
}

// The symbol-rate part of the signal power (phases 0/8 against 4/12 of the symbol clock) shows where the
// symbol centres lie; the centre taps are set there.
void V22RxSeed(V22Modem* m)
{
    V22RxState& r = m->rx;
    r.eq_step = 6912;
    r.control &= static_cast<uint16_t>(~V22_RX_START_ENERGY);
    r.control |= V22_RX_LOSS_WATCH;
    std::memset(r.taps, 0, sizeof(r.taps));
    const int32_t a = (r.start_energy_a * 23170) >> 15;
    const int32_t b = (r.start_energy_b * 23170) >> 15;
    const bool diffNegative = a - b < 0;
    const bool sumNegative = a + b < 0;
    if (diffNegative && sumNegative) {
        SetTap(&r, 8, kSeedPair);
        SetTap(&r, 9, kSeedPair);
    } else if (diffNegative) {
        SetTap(&r, 8, kSeedSingle);
    } else if (sumNegative) {
        SetTap(&r, 9, kSeedSingle);
    } else {
        SetTap(&r, 9, kSeedPair);
        SetTap(&r, 10, kSeedPair);
    }
    r.start_energy_a = 0;
    r.start_energy_b = 0;
    PresetCarrierLoop(&r);
}

void V22RxTrain1(V22Modem* m)
{
    V22RxState& r = m->rx;
    r.control |= V22_RX_TIMING;
    // Acquisition: a wide loop (proportional 24000, integral 3072) pulls in a carrier offset of up to about
    // 10 Hz within a few symbols on the four-point decisions; the integrator then holds it.
    r.loop_gain_p = 24000;
    r.loop_gain_i = 3072;
    // The equaliser adapts slowly meanwhile: a fast one would turn its taps with the offset and leave the
    // carrier loop only part of it.
    r.eq_step = 1024;
}

void V22RxTrain2(V22Modem* m)
{
    V22RxState& r = m->rx;
    r.control |= V22_RX_DATA | V22_RX_LOSS_WATCH;
    // The preset from the scrambled ones is within about a hertz and a half: this step's integral gain still
    // pulls a preset several hertz off in before the sixteen-point decisions start (where a residual of about
    // a hertz leaves the narrow data loop slipping cycles), but at a third of the acquisition step's the
    // decision noise of an equaliser still converging moves the integrator less.
    r.loop_gain_p = 10000;
    r.loop_gain_i = 1024;
    r.eq_step = 4096;
}

void V22RxTimingReference(V22Modem* m)
{
    V22TimingLoop& t = m->rx.timing;
    t.timing_enable = 32767;
    t.timing_gain = 16384;
    t.timing_scale = 256;
    t.reference = V22BandEdgeProduct(&m->rx);
}

// The rate step: four-point decisions go on until the far end's sixteen-point signal is seen (the watch in
// the decision stage), then the descrambled ones at 2400 bit/s end the step.
void V22RxRateSettings(V22Modem* m)
{
    V22RxState& r = m->rx;
    r.detect = V22_DETECT_FOUR_POINT;
    r.wide_points = 0;
    r.control |= V22_RX_RETRAIN_WATCH | V22_RX_SIXTEEN_WATCH;
    r.loop_gain_p = 3000;
    r.loop_gain_i = 512;
    r.eq_step = 2816;
}

void V22RxConnect(V22Modem* m, int32_t bis)
{
    V22RxState& r = m->rx;
    r.eq_step = 512;
    r.timing.timing_gain = 16384;
    r.timing.timing_scale = 64;
    r.control |= V22_RX_TO_FRAMER;
    r.detect = bis ? V22_DETECT_UNREPORTED : (V22_DETECT_UNREPORTED | V22_DETECT_FOUR_POINT);
}

int V22RxS1Ended(const V22RxState* r)
{
    return r->s1.s1_seen && !(r->detect & V22_DETECT_S1);
}
