// Equaliser, carrier loop, decisions and rate words.
//
// Design: a fractionally spaced equaliser of 48 complex taps a third of a symbol apart (16 symbols) on the
// library's complex LMS filter, fed every interpolated sample (v32_rx_timing.cpp) and read once per symbol.
// The correlation with the known start of the training places the first training symbol; the taps learn the
// rest and the timing loop keeps them in place against the far clock. A second-order carrier loop after the
// equaliser follows slow phase changes. Steps: 4 (about 0.05 of the normalised step) on the 2-point training
// and on decisions, 2 on the 4-point training; the reference is used for the first 2000 symbols of the
// 4-point training, decisions after.
#include "layer1/modem/common/trellis_qam.h"
#include "layer1/modem/v32/v32_rx_internal.h"
#include "layer1/vek/core/vek_dispatch.h"
#include "platform/saturate.h"

namespace {

constexpr int32_t kTrn2Symbols = 256;
constexpr int32_t kReferenceSymbols = kTrn2Symbols + 2000;
constexpr int32_t kCentre = kV32EqualiserTaps / 2;
constexpr int32_t kTargetLevel = 4096;     // |z| into the equaliser
constexpr int32_t kEqualiserShift = 13;    // output = sum(tap x sample) >> 13 (a tap of 8192 is 1)
constexpr int32_t kErrorScale = 256;       // errors handed to the LMS update, for resolution
constexpr int32_t kSignalSamples = 24;     // samples a tone or alternation has held in data
// The first training symbol reaches the equaliser's centre this many samples after the S -> S-bar reversal
// (16 S-bar symbols, half the equaliser, the detector's lag and the interpolator's two samples).
constexpr int32_t kTrainingLag = 16 * 3 + kCentre - 4 + 2;

V32Point Rotate(V32Point p, uint32_t phase)
{
    const int32_t index = static_cast<int32_t>(phase >> 21);
    const int64_t c = V32Cos(index), s = V32Sin(index);
    return V32Point{static_cast<int32_t>((p.re * c - p.im * s) >> 15), static_cast<int32_t>((p.re * s + p.im * c) >> 15)};
}

int64_t Distance2(V32Point a, V32Point b)
{
    const int64_t dr = a.re - b.re, di = a.im - b.im;
    return dr * dr + di * di;
}

int32_t IntSqrt(int64_t v)
{
    if (v <= 0)
        return 0;
    int64_t x = 1;
    while (x * x < v)
        x <<= 1;
    for (int32_t k = 0; k < 40; ++k)
        x = (x + v / x) >> 1;
    while (x * x > v)
        --x;
    return static_cast<int32_t>(x);
}

bool FarIsCaller(const V32Modem* m) { return m->answering != 0; }

bool EqualiserState(int32_t s)
{
    return s == V32_RX_TRAIN || s == V32_RX_TRAIN2 || s == V32_RX_WAIT_E || s == V32_RX_DATA ||
           s == V32_RX_TRAIN_CALLER || s == V32_RX_FAR_SIGNAL || s == V32_RX_RENEGOTIATE_WORD;
}

// The error measure m = m - m/512 + d in 16.16, d being the squared distance in constellation units^2 x 4
// (d2 counts 1024ths): its whole part settles at 512 times the mean d, the fraction keeps small distances
// from rounding away (a whole-number d would hold m at 512 on any clean line). d is capped so that m stays
// below 2^31.
void Quality(V32Rx& r, int64_t d2)
{
    const int64_t d = d2 >> 2;
    r.errorMeasure = r.errorMeasure - r.errorMeasure / 512 + static_cast<int32_t>(d > 0x3FFFFF ? 0x3FFFFF : d);
    r.smoothedError = r.errorMeasure;
}

// Data decisions: the point the loop and the equaliser aim at; the decided bits (late for trellis) go out.
V32Point DataDecision(V32Modem* m, V32Point y)
{
    V32Rx& r = m->rx;
    const int32_t n = r.bitsPerSymbol;
    uint32_t line = 0;
    int32_t have = 0;
    V32Point d{};
    if (r.trellis) {
        int32_t nearest = 0;
        int32_t best[8], labels[8];
        V32SubsetMetrics(n, y, best, labels);
        const int32_t label = FaxViterbiSubsets(&r.viterbi, best, labels, &nearest);
        const TrellisPoint q = TrellisQamConstellation(n)[nearest];
        d = V32Point{q.re * kV32Unit, q.im * kV32Unit};
        if (label >= 0) {
            const int32_t pair = (label >> 1) & 3;
            line = static_cast<uint32_t>(TrellisDiffDecode(r.diffPrevious, pair)) | (static_cast<uint32_t>(label >> 3) << 2);
            r.diffPrevious = pair;
            have = 1;
        }
    } else if (n == 2) {
        const int32_t q = V32NearestTraining(y);
        d = V32Point4800(q);
        line = static_cast<uint32_t>(V32DiffDibit(r.diffPrevious, q));
        r.diffPrevious = q;
        have = 1;
    } else {
        int32_t best = 0;
        int64_t low = INT64_MAX;
        for (int32_t k = 0; k < 16; ++k) {
            const int64_t dist = Distance2(y, V32Point9600(k >> 2, k & 3));
            if (dist < low) {
                low = dist;
                best = k;
            }
        }
        d = V32Point9600(best >> 2, best & 3);
        line = static_cast<uint32_t>(V32DiffDibit(r.diffPrevious, best >> 2)) | (static_cast<uint32_t>(best & 3) << 2);
        r.diffPrevious = best >> 2;
        have = 1;
    }
    if (have) {
        const uint32_t bits = V32Descramble(&r.descrambler, line, n, FarIsCaller(m));
        if (m->port.putBits)
            m->port.putBits(m->port.owner, bits, n);
    }
    r.dataSymbols += 1;
    return d;
}

// A framed word that offers no rate (its marker bit cleared, or still set when a modem has no rate to
// offer at all): the exchange goes on to end with status 4 on both sides.
bool NoRateWord(uint16_t w) { return (w & 0x898F) == 0x8980 && (w & kV32WordRates) == 0; }

// A word seen twice, a group apart, in the states that wait for one.
void WordSearch(V32Modem* m, int32_t dibit, int32_t k)
{
    V32Rx& r = m->rx;
    const uint32_t bits = V32Descramble(&r.descrambler, static_cast<uint32_t>(dibit), 2, FarIsCaller(m));
    r.wordReg = static_cast<uint16_t>((r.wordReg >> 2) | (bits << 14));
    const uint16_t w = r.wordReg;
    if (r.state == V32_RX_WAIT_E) {
        if (V32WordIsE(w, r.wordType)) {
            m->progress = V32_PROGRESS_E;
            if (w & kV32WordRates)
                V32RxStartData(m, static_cast<uint16_t>(w & ~kV32WordE));
            else
                V32RxEnter(&r, V32_RX_IDLE);
        }
        return;
    }
    const int32_t type = V32WordType(w);
    const bool valid = (type && V32WordAccepted(w, type)) || NoRateWord(w);
    if (!valid)
        return;
    const bool confirmed = w == r.lastWord && k - r.wordAt == 8;
    r.lastWord = w;
    r.wordAt = k;
    if (!confirmed)
        return;
    if (type)
        r.wordType = type;
    else if (!r.wordType)
        r.wordType = 1;
    if (r.state == V32_RX_TRAIN && m->startType == V32_START_CALLER) {
        m->received[0] = w;
        m->progress = V32_PROGRESS_FIRST_WORD;
        m->detectFlag = 1;
        V32RxEnter(&r, V32_RX_WAIT_OWN_TRAINING);
    } else {
        m->received[1] = w;
        m->progress = r.state == V32_RX_RENEGOTIATE_WORD ? V32_PROGRESS_RENEGOTIATE_WORD : V32_PROGRESS_SECOND_WORD;
        V32RxEnter(&r, V32_RX_WAIT_E);
        r.count = 0;
    }
}

void CarrierLoop(V32Rx& r, V32Point y, V32Point d)
{
    const int64_t cross = static_cast<int64_t>(y.im) * d.re - static_cast<int64_t>(y.re) * d.im;
    const int64_t norm = static_cast<int64_t>(d.re) * d.re + static_cast<int64_t>(d.im) * d.im;
    if (norm == 0)
        return;
    // Phase error in 2^-16 radians, limited.
    int64_t err = (cross << 16) / norm;
    err = err > 8192 ? 8192 : (err < -8192 ? -8192 : err);
    r.loopFrequency += static_cast<int32_t>(err * 2);
    r.loopPhase += static_cast<uint32_t>(static_cast<int32_t>(err * 160) + r.loopFrequency);
}

// The 2-point training starts where the buffered input correlates best with the known sequence (C against
// A, opposite points): that sample becomes the first symbol at the equaliser's centre, and the centre tap
// starts as the inverse of the gain and phase the correlation shows.
void Align(V32Modem* m)
{
    V32Rx& r = m->rx;
    int32_t sign[kV32AlignSymbols];
    uint32_t gen = 0;
    for (int32_t k = 0; k < kV32AlignSymbols; ++k)
        sign[k] = V32Scramble(&gen, 1, 1, FarIsCaller(m)) ? 1 : -1;
    int64_t bestRe = 0, bestIm = 0, bestMag = -1;
    int32_t best = 0;
    for (int32_t s = 0; s <= 2 * kV32AlignSearch; ++s) {
        int64_t cr = 0, ci = 0;
        for (int32_t k = 0; k < kV32AlignSymbols; ++k) {
            cr += static_cast<int64_t>(sign[k]) * r.alignRe[s + 3 * k];
            ci += static_cast<int64_t>(sign[k]) * r.alignIm[s + 3 * k];
        }
        const int64_t mag = (cr >> 8) * (cr >> 8) + (ci >> 8) * (ci >> 8);
        if (mag > bestMag) {
            bestMag = mag;
            best = s;
            bestRe = cr;
            bestIm = ci;
        }
    }
    r.aligning = 0;
    r.markAt = r.alignFrom + static_cast<uint32_t>(best + kCentre);
    // h = c / (N C); the centre tap is 1 / h = N C conj(c) / |c|^2 in units of 8192.
    const V32Point c = V32TrainingPoint(2);
    const double cr = static_cast<double>(bestRe), ci = static_cast<double>(bestIm);
    const double norm = cr * cr + ci * ci;
    if (norm <= 0)
        return;
    const double n = kV32AlignSymbols * 8192.0;
    const double wr = n * (c.re * cr + c.im * ci) / norm;
    const double wi = n * (c.im * cr - c.re * ci) / norm;
    VekC32 taps[kV32EqualiserTaps] = {};
    const double lim = 32000.0;
    taps[kCentre].re = static_cast<int32_t>((wr > lim ? lim : (wr < -lim ? -lim : wr)) * 65536.0);
    taps[kCentre].im = static_cast<int32_t>((wi > lim ? lim : (wi < -lim ? -lim : wi)) * 65536.0);
    vek_lms_set_taps_complex(r.eq, taps);
}

V32Point Reference(V32Modem* m, int32_t k)
{
    V32Rx& r = m->rx;
    V32Point d{};
    while (r.refK <= k) {
        if (r.refK < kTrn2Symbols)
            d = V32TrainingPoint(V32Scramble(&r.reference, 1, 1, FarIsCaller(m)) ? 2 : 0);
        else
            d = V32TrainingPoint(static_cast<int32_t>(V32Scramble(&r.reference, 3, 2, FarIsCaller(m))));
        r.refK += 1;
    }
    return d;
}

void Symbol(V32Modem* m)
{
    V32Rx& r = m->rx;
    VekC32 out{};
    if (vek_lms_filter_complex(&out, r.eq) < 0)
        return;
    const int32_t k = static_cast<int32_t>(r.eqIndex - r.markAt) / 3;
    const V32Point y = Rotate(V32Point{out.re >> kEqualiserShift, out.im >> kEqualiserShift}, ~r.loopPhase + 1u);
    r.point = y;
    // The far end's renegotiation signal does not pass its pulse filter: nothing to learn from it.
    if (r.state == V32_RX_FAR_SIGNAL)
        return;
    V32Point d{};
    int32_t mu = 4;
    if (r.state == V32_RX_DATA) {
        d = DataDecision(m, y);
        // A tone or alternation building up in place of data (the far end's renegotiation signal or retrain):
        // its decisions are wrong, so neither the taps, the loops nor the error measure learn from them.
        if (r.steady >= kSignalSamples)
            return;
    } else if (k < r.trainEnd) {
        d = Reference(m, k);
        mu = k < kTrn2Symbols ? 4 : 2;
    } else {
        const int32_t dibit = V32NearestTraining(y);
        d = V32TrainingPoint(dibit);
        WordSearch(m, dibit, k);
    }
    Quality(r, Distance2(y, d));
    const V32Point e = Rotate(V32Point{d.re - y.re, d.im - y.im}, r.loopPhase);
    if (vek_lms_set_mu_complex(r.eq, mu) >= 0)
        vek_lms_update_complex(e.re * kErrorScale, e.im * kErrorScale, r.eq);
    if (k >= kTrn2Symbols)
        CarrierLoop(r, y, d);
    if (k > 2 * kTrn2Symbols)
        V32TimingCheck(&r);
}

}  // namespace

void V32RxSetGain(V32Rx* r)
{
    // energy is |z|^2 >> 8.
    const int32_t level = IntSqrt(static_cast<int64_t>(r->energy) << 8);
    r->agc = level > 0 ? static_cast<int32_t>((static_cast<int64_t>(kTargetLevel) << 12) / level) : 4096;
}

void V32RxEqualiserInput(V32Modem* m, int32_t zr, int32_t zi)
{
    V32Rx& r = m->rx;
    if (!r.eq)
        return;
    VekC16 x;
    x.re = Saturate16((static_cast<int64_t>(zr) * r.agc) >> 12);
    x.im = Saturate16((static_cast<int64_t>(zi) * r.agc) >> 12);
    V32TimingInput(m, x);
}

void V32RxEqualiserPut(V32Modem* m, VekC16 x)
{
    V32Rx& r = m->rx;
    r.eqIndex += 1;
    vek_lms_put_value_complex(x, r.eq);
    if (!EqualiserState(r.state))
        return;
    if (r.aligning) {
        const uint32_t at = r.eqIndex - r.alignFrom;
        if (at < static_cast<uint32_t>(kV32AlignSamples)) {
            r.alignRe[at] = x.re;
            r.alignIm[at] = x.im;
            if (at == static_cast<uint32_t>(kV32AlignSamples) - 1)
                Align(m);
        }
        return;
    }
    const int32_t since = static_cast<int32_t>(r.eqIndex - r.markAt);
    if (since < 0 || since % 3 != 0)
        return;
    Symbol(m);
}

void V32RxStartTraining(V32Modem* m, uint32_t mark)
{
    V32Rx& r = m->rx;
    const VekC32 zeros[kV32EqualiserTaps] = {};
    vek_lms_set_taps_complex(r.eq, zeros);
    r.aligning = 1;
    // The mark counts input samples; the equaliser's count differs by what the interpolator held back or added.
    r.alignFrom = mark + (r.eqIndex - r.sampleIndex) + kTrainingLag - kCentre - kV32AlignSearch;
    r.markAt = r.alignFrom + 0x40000000u;  // no symbols until the start is found
    r.reference = 0;
    r.refK = 0;
    r.loopPhase = 0;
    r.loopFrequency = 0;
    r.trainEnd = kReferenceSymbols;
    r.tapsSaved = 0;
    r.timingCheck = kV32TimingCheck;
    V32RxStartWords(&r);
}

void V32RxStartWords(V32Rx* r)
{
    r->lastWord = 0;
    r->wordAt = -100;
    r->wordReg = 0;
}

void V32RxStartData(V32Modem* m, uint16_t word)
{
    V32Rx& r = m->rx;
    const V32RateSetting s = V32SettingOfWord(word);
    r.bitsPerSymbol = s.bitsPerSymbol;
    r.trellis = s.trellis;
    r.diffPrevious = 0;
    r.dataSymbols = 0;
    FaxViterbiReset(&r.viterbi);
    // The transmitter's encoder starts data in state 0: the other states start far behind.
    for (int32_t k = 1; k < kTrellisStates; ++k)
        r.viterbi.metrics[k] = 2048;
    m->rateCode = s.rateCode;
    m->agreed = word;
    m->dataRunning = 1;
    V32RxEnter(&r, V32_RX_DATA);
    if (m->port.status) {
        m->port.status(m->port.owner, 0x10, 1);
        m->port.status(m->port.owner, m->startType == V32_START_DIRECT ? 5 : 2, 1);
    }
}
