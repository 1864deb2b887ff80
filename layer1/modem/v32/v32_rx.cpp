// The receiver's front end: high-pass, a 19-tap phase splitter (odd taps only) whose in-phase branch is the
// input delayed by 9 samples, demodulation by the 1800 Hz carrier (a quarter turn per sample, so the carrier
// factors are 1, -j, -1, j), and the pattern detectors the handshake listens with:
//   c3: the demodulated signal against itself one symbol earlier. A steady tone (AA, CC) gives +|z|^2, an
//       alternation of opposite points (AC, CA) -|z|^2, S and S-bar (points a quarter turn apart) a large
//       imaginary part of alternating sign (c3q, kept as its magnitude) while c6 stays high; random training
//       points give a large c3q too, but c6 about 0.
//   c6: the same four symbols apart: positive in every one of those patterns, negative for a while at a
//       phase reversal (AC -> CA, AA -> CC, S -> S-bar; the pulse filter spreads the last over two symbols,
//       which a shorter lag would not see across). The lowest point of such a dip marks the reversal.
#include "layer1/modem/v32/v32.h"
#include "layer1/modem/v32/v32_rx_internal.h"

#include <cmath>

namespace {

constexpr int32_t kHalf = kV32HilbertTaps / 2;  // 9

const int32_t* HilbertTaps()
{
    // h[k] = 2 / (pi k) for odd k, Hamming window, Q15; index k = 1, 3, 5, 7, 9 at [k / 2].
    static const auto taps = [] {
        struct T {
            int32_t v[5];
        } t{};
        for (int32_t k = 1; k <= kHalf; k += 2) {
            const double w = 0.54 + 0.46 * std::cos(M_PI * k / (kHalf + 1));
            t.v[k / 2] = static_cast<int32_t>(std::lround(32768.0 * 2.0 / (M_PI * k) * w));
        }
        return t;
    }();
    return taps.v;
}

int16_t Sat16(int32_t v) { return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

}  // namespace

int32_t V32HighPass(V32Rx* r, int32_t x)
{
    // a = x - 3/16 s1 - 3/16 s2 style section: a = x * 16384 - 3 s2 - 3 s1; s1 += a >> 4; s2 += s1 >> 8.
    const int64_t a = static_cast<int64_t>(x) * 16384 - 3LL * r->hp[1] - 3LL * r->hp[0];
    r->hp[0] = static_cast<int32_t>(r->hp[0] + (a >> 4));
    r->hp[1] = static_cast<int32_t>(r->hp[1] + (r->hp[0] >> 8));
    return static_cast<int32_t>(a >> 14);
}

void V32Demodulate(V32Rx* r, int32_t x, int32_t* zr, int32_t* zi)
{
    const int32_t n = kV32HilbertTaps;
    r->linePos = r->linePos == 0 ? n - 1 : r->linePos - 1;
    r->line[r->linePos] = r->line[r->linePos + n] = Sat16(x);
    const int16_t* d = &r->line[r->linePos];  // d[0] newest ... d[18] oldest
    const int32_t* h = HilbertTaps();
    int64_t q = 0;
    for (int32_t k = 1; k <= kHalf; k += 2)
        q += static_cast<int64_t>(h[k / 2]) * (d[kHalf + k] - d[kHalf - k]);
    const int32_t i = d[kHalf] * 2;
    const int32_t qq = static_cast<int32_t>(q >> 14);
    switch (r->sampleIndex & 3) {
    case 0: *zr = i; *zi = qq; break;
    case 1: *zr = qq; *zi = -i; break;
    case 2: *zr = -i; *zi = -qq; break;
    default: *zr = -qq; *zi = i; break;
    }
}

void V32Patterns(V32Rx* r, int32_t zr, int32_t zi)
{
    const int32_t slot = static_cast<int32_t>(r->sampleIndex & 15);
    r->zRe[slot] = zr;
    r->zIm[slot] = zi;
    const int32_t s3 = (slot - 3) & 15, s6 = (slot - 12) & 15;
    const int64_t e = (static_cast<int64_t>(zr) * zr + static_cast<int64_t>(zi) * zi) >> 8;
    const int64_t c3 = (static_cast<int64_t>(zr) * r->zRe[s3] + static_cast<int64_t>(zi) * r->zIm[s3]) >> 8;
    int64_t c3q = (static_cast<int64_t>(zi) * r->zRe[s3] - static_cast<int64_t>(zr) * r->zIm[s3]) >> 8;
    c3q = c3q < 0 ? -c3q : c3q;
    const int64_t c6 = (static_cast<int64_t>(zr) * r->zRe[s6] + static_cast<int64_t>(zi) * r->zIm[s6]) >> 8;
    r->energy += static_cast<int32_t>((e - r->energy) >> 3);
    r->c3 += static_cast<int32_t>((c3 - r->c3) >> 3);
    r->c3q += static_cast<int32_t>((c3q - r->c3q) >> 3);
    r->c6 += static_cast<int32_t>((c6 - r->c6) >> 2);
}

V32Pattern V32Classify(const V32Rx* r)
{
    if (r->energy < kV32EnergyFloor)
        return V32_PATTERN_QUIET;
    if (r->c3 > r->energy / 2)
        return V32_PATTERN_TONE;
    if (r->c3 < -r->energy / 2)
        return V32_PATTERN_ALTERNATION;
    if (r->c3q > r->energy / 2 && r->c6 > r->energy / 2)
        return V32_PATTERN_S;
    return V32_PATTERN_OTHER;
}

bool V32ReversalSeen(V32Rx* r)
{
    if (r->energy < kV32EnergyFloor)
        return false;
    if (!r->inDip) {
        if (r->c6 >= -r->energy / 4)
            return false;
        r->inDip = 1;
        r->dipLow = 1 << 30;
        r->dipStart = r->sampleIndex;
    }
    const int32_t ratio = static_cast<int32_t>((static_cast<int64_t>(r->c6) * 256) / (r->energy + 1));
    if (ratio < r->dipLow) {
        r->dipLow = ratio;
        r->dipAt = r->sampleIndex;
    }
    // The lowest point within two symbols of the dip's start: what follows may be random training.
    if (r->sampleIndex - r->dipStart >= kV32DipWindow) {
        r->inDip = 0;
        return true;
    }
    return false;
}

void V32RxSample(V32Modem* m, int32_t x)
{
    V32Rx& r = m->rx;
    int32_t zr, zi;
    r.sampleIndex += 1;
    const int32_t h = V32HighPass(&r, x);
    V32Demodulate(&r, h, &zr, &zi);
    // While the caller sends AA or CC (its point on the carrier) its own echo reaches the detectors as a
    // constant, which pulls the answerer's alternation towards a tone: with a near echo only a few dB below
    // the far signal the alternation would not be recognised. The detectors hear the signal less its mean
    // (over about 8 samples; the alternation lies at +-1200 Hz, where this takes off less than 0.5 dB).
    int32_t pr = zr, pi = zi;
    if (!m->answering && (m->tx.state == 1 || m->tx.state == 2)) {
        r.dcRe += ((zr * 16) - r.dcRe) >> 3;
        r.dcIm += ((zi * 16) - r.dcIm) >> 3;
        pr -= r.dcRe >> 4;
        pi -= r.dcIm >> 4;
    } else {
        r.dcRe = r.dcIm = 0;
    }
    V32Patterns(&r, pr, pi);
    V32RxEqualiserInput(m, zr, zi);
    V32RxHandshake(m, x);
}
