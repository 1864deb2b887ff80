// The receiver's symbol stages: the T/2 equaliser, derotation and the carrier loop, the 4- and 16-point
// decisions, gain control, differential decoding and the descrambler, the S1 detector and the timing error.
#include <bit>
#include <cmath>

#include "layer1/dsp/nco.h"
#include "layer1/modem/v22/v22_rx_internal.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

constexpr int32_t kHalfUnit = 3072;
constexpr int32_t kTimingStepLimit = 131071 << 8;  // a rate term of up to 3300 ppm  // the equaliser's output has the constellation in units of 3072
// Inverse of the transmit quadrant table: quadrant change (in quadrants) to the first two bits.
constexpr uint16_t kBitsOfChange[4] = {1, 0, 2, 3};

int32_t OnesComplementMagnitude(int32_t x) { return x < 0 ? -1 - x : x; }

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

uint16_t QuadrantOfSigns(int32_t re, int32_t im)
{
    if (re >= 0)
        return im >= 0 ? 0 : 12;
    return im >= 0 ? 4 : 8;
}

uint16_t DecideSixteen(int32_t re, int32_t im)
{
    const uint16_t q = QuadrantOfSigns(re, im);
    int32_t x;
    int32_t y;
    switch (q) {
    case 0: x = re; y = im; break;
    case 4: x = im; y = OnesComplementMagnitude(re); break;
    case 8: x = OnesComplementMagnitude(re); y = OnesComplementMagnitude(im); break;
    default: x = OnesComplementMagnitude(im); y = re; break;
    }
    return static_cast<uint16_t>(q | (x > 2 * kHalfUnit - 1 ? 1 : 0) | (y >= 2 * kHalfUnit ? 2 : 0));
}

// The 1200 bit/s points (1, 5, 9, 13) lie at 18.4 degrees within their quadrants: turned by a further 26.6
// degrees they sit on the diagonals and the signs decide.
uint16_t DecideFour(int32_t re, int32_t im)
{
    const int32_t x = (re * 29308 - im * 14654) >> 15;
    const int32_t y = (re * 14654 + im * 29308) >> 15;
    return static_cast<uint16_t>(QuadrantOfSigns(x, y) + 1);
}

void Rotate(int32_t re, int32_t im, int16_t c, int16_t s, int16_t* outRe, int16_t* outIm)
{
    *outRe = Saturate16(((re * c) >> 15) - ((im * s) >> 15));
    *outIm = Saturate16(((re * s) >> 15) + ((im * c) >> 15));
}

// Gain control, once a symbol: a magnitude estimate of the filter output (max + min/2, in quarters) is
// smoothed over about five symbols and steers the mantissa towards the target 4864 (a mean magnitude of about
// 18400, the constellation in units of 6144); the exponent keeps the mantissa within 12288 ... 24576.
uint32_t AdjustGain(V22RxState* r)
{
    const int32_t a = OnesComplementMagnitude(r->filt_re / 4);
    const int32_t b = OnesComplementMagnitude(r->filt_im / 4);
    const int32_t m = a + b - (a < b ? a : b) / 2;
    r->agc_average = static_cast<int16_t>(Clamp(((m * 6656) >> 15) + ((r->agc_average * 28672) >> 15), -32768, 32767));
    int32_t g = r->agc_mantissa + (((r->agc_average - r->agc_target) * r->agc_loop_gain) >> 15);
    if (g < 0 || g > 32767)
        g = 32767;
    if (g < 1536)
        g = 1536;
    int32_t e = r->agc_exponent;
    if (g > 24576 && e < 8) {
        e += 1;
        g >>= 1;
    } else if (g < 12288 && e > -10) {
        e -= 1;
        g = g * 2 > 32767 ? 32767 : g * 2;
    }
    r->agc_mantissa = static_cast<int16_t>(g);
    r->agc_exponent = static_cast<int16_t>(e);
    if ((r->control & V22_RX_LOSS_WATCH) && e == 8 && g >= 16384) {
        r->control &= static_cast<uint16_t>(~V22_RX_LOSS_WATCH);
        return V22_RX_EVENT_CARRIER_LOST;
    }
    return 0;
}

// The whole square root (rounded down): the double's root is within one of it, then corrected exactly.
uint64_t SquareRoot(uint64_t v)
{
    uint64_t root = static_cast<uint64_t>(std::sqrt(static_cast<double>(v)));
    while (root > 0 && (root > 0xFFFFFFFFu || root * root > v))
        --root;
    while (root < 0xFFFFFFFFu && (root + 1) * (root + 1) <= v)
        ++root;
    return root;
}

// Shifts a complex value down until both parts lie within +-2^14.
VekC32 Normalise(int64_t re, int64_t im)
{
    // x >> s lies within +-2^14 when x (or ~x, for a negative x) is below 2^(14 + s): one shift by the
    // bits above 14 is the same as that many single shifts.
    const uint64_t a = static_cast<uint64_t>(re < 0 ? ~re : re);
    const uint64_t b = static_cast<uint64_t>(im < 0 ? ~im : im);
    const int width = std::bit_width(a | b);
    const int shift = width > 14 ? width - 14 : 0;
    return VekC32{static_cast<int32_t>(re >> shift), static_cast<int32_t>(im >> shift)};
}

// While the rate step waits for the far end's 2400 bit/s ones it keeps deciding on four points: sixteen-point
// decisions on the 1200 bit/s points (18.4 degrees into each quadrant) have a second stable lock 53.1 degrees
// away, where every point lands exactly on its neighbour (3,1) -> (1,3), and the loops can slide into it over
// a long wait. The far end's sixteen-point signal shows as symbols whose nearest of the sixteen points is not
// the four-point decision (three in four of scrambled data, none of a 1200 bit/s signal when locked, whose
// points lie 18 degrees from any other decision region); 8 of the last 16 symbols switch the decisions.
// Until then such a symbol moves neither the loop nor the taps: its four-point error is not an error.
constexpr int kWidePointsToSwitch = 8;

void WatchForSixteenPoints(V22RxState* r)
{
    const bool wide = DecideSixteen(r->y_re, r->y_im) != r->decided_point;
    if (wide) {
        r->phase_error = 0;
        r->err_re = 0;
        r->err_im = 0;
    }
    r->wide_points = static_cast<uint16_t>((r->wide_points << 1) | (wide ? 1u : 0u));
    if (std::popcount(r->wide_points) >= kWidePointsToSwitch) {
        r->detect &= static_cast<uint16_t>(~V22_DETECT_FOUR_POINT);
        r->control &= static_cast<uint16_t>(~V22_RX_SIXTEEN_WATCH);
        r->wide_points = 0;
    }
}

}  // namespace

void V22EqualiserOutput(V22RxState* r)
{
    int64_t re = 0;
    int64_t im = 0;
    const VekC16* x = &r->eq_line[r->eq_index];
    for (int j = 0; j < kV22EqTaps; ++j) {
        const VekC32& c = r->taps[j];
        re += static_cast<int64_t>(c.re) * x[j].re - static_cast<int64_t>(c.im) * x[j].im;
        im += static_cast<int64_t>(c.im) * x[j].re + static_cast<int64_t>(c.re) * x[j].im;
    }
    r->eq_re = Saturate16(re >> 30);
    r->eq_im = Saturate16(im >> 30);
}

uint32_t V22DecideAndAdjustGain(V22RxState* r)
{
    int16_t s;
    int16_t c;
    NcoSinCos(r->phase_estimate, &s, &c);
    Rotate(r->eq_re, r->eq_im, c, s, &r->y_re, &r->y_im);
    r->decided_point = (r->detect & 3) ? DecideFour(r->y_re, r->y_im) : DecideSixteen(r->y_re, r->y_im);
    int16_t refRe;
    int16_t refIm;
    V22PointOf(r->decided_point, &refRe, &refIm);
    refRe = static_cast<int16_t>(refRe / 2);
    refIm = static_cast<int16_t>(refIm / 2);
    r->phase_error = Saturate16(((refIm * r->y_re) >> 15) - ((refRe * r->y_im) >> 15));
    r->err_re = Saturate16(refRe - r->y_re);
    r->err_im = Saturate16(refIm - r->y_im);
    if ((r->detect & 3) && (r->control & V22_RX_SIXTEEN_WATCH))
        WatchForSixteenPoints(r);
    r->squared_error = ((r->err_re * r->err_re) >> 15) + ((r->err_im * r->err_im) >> 15);
    return (r->control & V22_RX_AGC) ? AdjustGain(r) : 0;
}

void V22RotateErrorBack(V22RxState* r)
{
    int16_t s;
    int16_t c;
    NcoSinCos(static_cast<uint16_t>(0u - r->phase_estimate), &s, &c);
    Rotate(r->err_re, r->err_im, c, s, &r->err_rot_re, &r->err_rot_im);
}

// LMS: every tap moves by step x error x conj(input), in Q30.
void V22UpdateTaps(V22RxState* r)
{
    if (r->eq_step == 0)
        return;
    const int64_t e1 = static_cast<int64_t>(r->err_rot_re) * r->eq_step;
    const int64_t e2 = static_cast<int64_t>(r->err_rot_im) * r->eq_step;
    const VekC16* x = &r->eq_line[r->eq_index];
    for (int j = 0; j < kV22EqTaps; ++j) {
        VekC32& c = r->taps[j];
        c.re = static_cast<int32_t>(c.re + ((e1 * x[j].re + e2 * x[j].im) >> 15));
        c.im = static_cast<int32_t>(c.im + ((e2 * x[j].re - e1 * x[j].im) >> 15));
    }
}

// A proportional-integral loop on the decision-directed phase error (about 2600 per radian for a mean
// point): with the data gains (3000, 512) the loop's natural frequency is about 1.7 Hz with damping 0.6; the
// integrator (at most 32767, about 25 Hz) holds a carrier offset.
void V22CarrierLoop(V22RxState* r)
{
    r->loop_integrator = Clamp(r->loop_integrator + ((r->phase_error * r->loop_gain_i) >> 15), -32767, 32767);
    const int32_t step = ((r->phase_error * r->loop_gain_p) >> 15) + ((r->loop_integrator * 2710) >> 15);
    r->phase_estimate = static_cast<uint16_t>(r->phase_estimate + static_cast<uint16_t>(step));
}

// Differential decoding and descrambling: the quadrant change gives the first two bits, the in-quadrant
// point the last two; at 1200 bit/s (four-point decisions) only the first two are data.
void V22DecodeSymbol(V22Modem* m)
{
    V22RxState& r = m->rx;
    const uint16_t q = static_cast<uint16_t>(r.decided_point & 12);
    const uint16_t change = static_cast<uint16_t>(((q - r.prev_quadrant) >> 2) & 3);
    r.rx_group = static_cast<uint16_t>((kBitsOfChange[change] << 2) | (r.decided_point & 3));
    r.prev_quadrant = q;
    const int32_t count = (r.detect & V22_DETECT_FOUR_POINT) ? 2 : m->bits_per_symbol;
    uint32_t bits = 0;
    r.detect &= static_cast<uint16_t>(~V22_DETECT_ONES);
    for (int32_t i = 0; i < count; ++i) {
        const uint32_t out = V22Descramble(&r.descrambler, &r.rx_ones_run, (r.rx_group >> (3 - i)) & 1u);
        bits |= out << i;
        r.output = (r.output << 1) | out;
        r.ones_count = out ? static_cast<uint16_t>(r.ones_count < 1000 ? r.ones_count + 1 : 1000) : 0;
    }
    if (r.ones_count > 32)
        r.detect |= V22_DETECT_ONES;
    if (r.control & V22_RX_TO_FRAMER)
        m->port.putRxBits(m->port.owner, bits, count);
}

// S1 is unscrambled 00 and 11 in turn: the phase moves +90 and -90 degrees alternately, so the signal
// repeats every two symbols (four T/2 samples). Unscrambled ones turn -90 degrees every symbol (the signal
// is inverted after two symbols) and scrambled data has no such relation. The smoothed energies of the
// difference and the sum of samples two symbols apart tell them apart; 25 symbols in a row make S1 seen.
void V22DetectS1(V22RxState* r)
{
    V22S1Detector& d = r->s1;
    r->detect &= static_cast<uint16_t>(~V22_DETECT_S1);
    const VekC16* x = &r->eq_line[r->eq_index];
    int64_t same = 0;
    int64_t opposite = 0;
    for (int j = 0; j < 2; ++j) {
        const int64_t dr = x[j].re - x[j + 4].re;
        const int64_t di = x[j].im - x[j + 4].im;
        const int64_t sr = x[j].re + x[j + 4].re;
        const int64_t si = x[j].im + x[j + 4].im;
        same += (dr * dr + di * di) >> 12;
        opposite += (sr * sr + si * si) >> 12;
    }
    d.same = static_cast<int32_t>(Clamp(static_cast<int32_t>((d.same * 3LL) / 4 + (same >> 6)), 0, 1 << 30));
    d.opposite = static_cast<int32_t>(Clamp(static_cast<int32_t>((d.opposite * 3LL) / 4 + (opposite >> 6)), 0, 1 << 30));
    const bool looksLikeS1 = (r->detect & V22_DETECT_ENERGY) && d.same * 8LL < d.opposite;
    if (!looksLikeS1) {
        d.run = 0;
        return;
    }
    if (d.run < 1000)
        d.run += 1;
    if (d.run >= 25) {
        d.s1_seen = 1;
        r->detect |= V22_DETECT_S1;
    }
}

VekC32 V22BandEdgeProduct(const V22RxState* r)
{
    // e^(-j pi n / 4) for n = 0 ... 7, Q14.
    static constexpr int32_t kCos[8] = {16384, 11585, 0, -11585, -16384, -11585, 0, 11585};
    static constexpr int32_t kSin[8] = {0, -11585, -16384, -11585, 0, 11585, 16384, 11585};
    // The weights repeat every 8 taps: the taps (in whole units of 2^15) are summed by tap number mod 8
    // first, then weighted once each; the sums are exact integers, so the order changes nothing.
    int64_t groupRe[8] = {};
    int64_t groupIm[8] = {};
    for (int j = 0; j < kV22EqTaps; ++j) {
        groupRe[j & 7] += r->taps[j].re >> 15;
        groupIm[j & 7] += r->taps[j].im >> 15;
    }
    int64_t pr = 0, pi = 0, mr = 0, mi = 0;
    for (int g = 0; g < 8; ++g) {
        const int64_t cr = groupRe[g];
        const int64_t ci = groupIm[g];
        const int64_t wc = kCos[g];
        const int64_t ws = kSin[g];
        // Response at +150 Hz uses w, at -150 Hz its conjugate.
        pr += cr * wc - ci * ws;
        pi += cr * ws + ci * wc;
        mr += cr * wc + ci * ws;
        mi += ci * wc - cr * ws;
    }
    const VekC32 p = Normalise(pr, pi);
    const VekC32 q = Normalise(mr, mi);
    // p x conj(q)
    return Normalise(static_cast<int64_t>(p.re) * q.re + static_cast<int64_t>(p.im) * q.im,
                     static_cast<int64_t>(p.im) * q.re - static_cast<int64_t>(p.re) * q.im);
}

// Timing error, once a symbol: the angle of the band-edge product moves by -pi per symbol period of delay
// in the equaliser. Its sine against the reference taken once the equaliser has converged (positive when the
// equaliser's delay has grown, that is when the far end's symbols arrive later) drives the fraction later.
void V22TimingError(V22RxState* r)
{
    V22TimingLoop& t = r->timing;
    t.last = V22BandEdgeProduct(r);
    if (!t.timing_enable)
        return;
    const int64_t re = static_cast<int64_t>(t.reference.re) * t.last.re + static_cast<int64_t>(t.reference.im) * t.last.im;
    const int64_t im = static_cast<int64_t>(t.reference.im) * t.last.re - static_cast<int64_t>(t.reference.re) * t.last.im;
    const uint64_t magnitude = SquareRoot(static_cast<uint64_t>(re * re) + static_cast<uint64_t>(im * im));
    t.timing_error = magnitude == 0 ? 0 : static_cast<int16_t>((-im * 32767) / static_cast<int64_t>(magnitude));
    // The rate term keeps 8 bits below the error's resolution, so small steady errors still integrate.
    t.timing_step = Clamp(t.timing_step + ((t.timing_scale * t.timing_error) >> 7), -kTimingStepLimit, kTimingStepLimit);
}

// The equaliser can turn as a whole to follow a carrier offset the loop has not taken (its taps move faster
// than the loop's integrator), and then holds a share of the offset for good: its slow turn costs a lag error
// on every symbol and, on sixteen points, a lock on the wrong points. Once a block the equaliser's turn (the
// angle of the sum of its taps: its phase at the band centre) is taken out of the taps and put into the
// carrier phase, which leaves the output as it was; the turn per symbol also goes into the loop's integrator
// (half of it, so that noise in the taps averages out over a few blocks), which then holds the whole offset.
void V22TransferEqualiserTurn(V22RxState* r, int32_t symbols)
{
    int64_t re = 0;
    int64_t im = 0;
    for (int j = 0; j < kV22EqTaps; ++j) {
        re += r->taps[j].re;
        im += r->taps[j].im;
    }
    const VekC32 sum = Normalise(re, im);
    if ((sum.re == 0 && sum.im == 0) || symbols <= 0)
        return;
    const VekC16 v{static_cast<int16_t>(sum.re), static_cast<int16_t>(sum.im)};
    int16_t angle = 0;  // radians x 8192
    if (vek_phase_complex_16(&v, &angle, 1, -13) < 0 || angle == 0)
        return;
    int16_t s;
    int16_t c;
    NcoSinCos(static_cast<uint16_t>(-((angle * 10430) >> 13)), &s, &c);
    for (int j = 0; j < kV22EqTaps; ++j) {
        VekC32& t = r->taps[j];
        const int64_t tr = t.re;
        const int64_t ti = t.im;
        t.re = static_cast<int32_t>((tr * c - ti * s) >> 15);
        t.im = static_cast<int32_t>((tr * s + ti * c) >> 15);
    }
    const int32_t units = (angle * 10430) >> 13;  // 65536 a turn
    r->phase_estimate = static_cast<uint16_t>(r->phase_estimate + static_cast<uint16_t>(units));
    const int64_t perSymbol = static_cast<int64_t>(units) * 32768 / (2710LL * symbols);
    r->loop_integrator = Clamp(static_cast<int32_t>(r->loop_integrator + perSymbol / 2), -32767, 32767);
}
