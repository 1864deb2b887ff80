// Echo canceller: two real adaptive filters on the transmitted line samples, one at the sample stream's
// latency (the near echo of the local hybrid and the line interface, 96 samples) and one placed around the
// measured round-trip delay (the far echo, 160 samples). Both run on the library's LMS filters.
//
// Design: line samples rather than baseband symbols, because at 3 samples per symbol the sample-spaced
// filter costs the same as three symbol-spaced phases and needs no carrier phase of its own; the far echo of
// the test lines carries no frequency offset (the far hybrid reflects at the far end's clock, which the
// signal crosses twice). The step (mu) is normalised to the transmit power: 4 is fast (about 1/20 of the
// inverse power per tap), 1 the finest, 0 holds the taps.
#include "layer1/modem/v32/v32.h"
#include "layer1/vek/core/vek_dispatch.h"

namespace {

// mu of the library filters for a step of 1: 2^46 x 0.0125 / (taps x transmit power 8000^2), with the error
// given sixteen times larger for resolution.
constexpr int32_t kMuUnit = 6;
// The filters hear the transmitted samples 16 times smaller (and the error 16 times larger): a correction is
// the rounded product of mu and the error times the sample, so at full scale and the finest step a residual
// below about -33 dB of the signal rounds every correction to nothing and the taps stop short; a sixteenth of the sample moves
// that floor 24 dB down, while the smaller sample's rounding stays near -75 dB.
constexpr int32_t kInputShift = 4;
// The near window starts this many samples before the stream latency (in case it is overstated).
constexpr int32_t kNearLead = 16;
// Powers of the estimates follow over about 256 samples.
constexpr int kPowerShift = 8;

void SmoothPower(uint64_t* power, int64_t estimate)
{
    const int64_t step = (estimate * estimate - static_cast<int64_t>(*power)) / (1 << kPowerShift);
    *power = static_cast<uint64_t>(static_cast<int64_t>(*power) + step);
}

}  // namespace

void V32EchoReset(V32Echo* e, int32_t roundTrip)
{
    const int32_t zeros[kV32FarEchoTaps] = {};
    const int16_t line[2 * kV32FarEchoTaps + 4] = {};
    if (e->near) {
        vek_lms_set_taps_real(e->near, zeros);
        vek_lms_set_delay_real(e->near, line, 0);
    }
    if (e->far) {
        vek_lms_set_taps_real(e->far, zeros);
        vek_lms_set_delay_real(e->far, line, 0);
    }
    for (int16_t& h : e->history)
        h = 0;
    e->pos = 0;
    e->nearDelay = e->latency > kNearLead ? e->latency - kNearLead : 0;
    // The measured round trip holds the far end's stream latency and its reaction as well as the line:
    // assume a latency like ours and centre the window a little before what remains.
    const int32_t farEcho = roundTrip - e->latency - kV32FarReaction;
    int32_t far = farEcho - kV32FarEchoTaps / 2;
    const int32_t nearEnd = e->nearDelay + kV32NearEchoTaps;
    // A far window that would leave a short gap after the near one closes it: on a short line the round trip
    // measured from the reversals reads long (each end's reaction has a floor), and an echo in the gap
    // would stay uncancelled.
    if (roundTrip <= 0 || far < nearEnd + kV32FarEchoTaps / 2)
        far = nearEnd;
    if (far > kV32EchoHistory - kV32FarEchoTaps - 1)
        far = kV32EchoHistory - kV32FarEchoTaps - 1;
    e->farDelay = far;
    e->mu = 0;
    e->power = 0;
    e->nearPower = 0;
    e->farPower = 0;
}

int32_t V32EchoEstimate(V32Echo* e, int16_t sent)
{
    e->pos = (e->pos + 1) & (kV32EchoHistory - 1);
    e->history[e->pos] = sent;
    const int32_t half = 1 << (kInputShift - 1);
    const auto recent = static_cast<int16_t>((e->history[(e->pos - e->nearDelay) & (kV32EchoHistory - 1)] + half) >> kInputShift);
    const auto old = static_cast<int16_t>((e->history[(e->pos - e->farDelay) & (kV32EchoHistory - 1)] + half) >> kInputShift);
    int32_t nearOut = 0, farOut = 0;
    if (!e->near || !e->far)
        return 0;
    vek_lms_put_filter_real(recent, &nearOut, e->near);
    vek_lms_put_filter_real(old, &farOut, e->far);
    const int64_t sum = static_cast<int64_t>(nearOut) + farOut;
    constexpr int32_t shift = 15 - kInputShift;
    SmoothPower(&e->nearPower, (static_cast<int64_t>(nearOut) + (1 << (shift - 1))) >> shift);
    SmoothPower(&e->farPower, (static_cast<int64_t>(farOut) + (1 << (shift - 1))) >> shift);
    return static_cast<int32_t>((sum + (1 << (shift - 1))) >> shift);
}

void V32EchoAdapt(V32Echo* e, int32_t residual)
{
    const int64_t r2 = static_cast<int64_t>(residual) * residual;
    e->power += static_cast<int32_t>((r2 - e->power) >> 8);
    if (e->mu == 0 || !e->near || !e->far)
        return;
    const int32_t mu = e->mu * kMuUnit;
    if (vek_lms_set_mu_real(e->near, mu) < 0 || vek_lms_set_mu_real(e->far, mu) < 0)
        return;
    int32_t err = residual * (16 << kInputShift);
    if (err > 0x7FFFFF)
        err = 0x7FFFFF;
    if (err < -0x7FFFFF)
        err = -0x7FFFFF;
    vek_lms_update_real(err, e->near);
    vek_lms_update_real(err, e->far);
}
