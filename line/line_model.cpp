#include "line/line_model.h"

#include <algorithm>

#include "line/g711.h"

namespace {

// Blackman window of a half-length M at offset k (|k| <= M).
double Blackman(int k, int m)
{
    const double x = static_cast<double>(k + m) / (2.0 * m);
    return 0.42 - 0.5 * std::cos(2.0 * M_PI * x) + 0.08 * std::cos(4.0 * M_PI * x);
}

}  // namespace

double LinePowerOfDbm0(double dbm0)
{
    const double amplitude = 32767.0 * std::pow(10.0, (dbm0 - kLineFullScaleSineDbm0) / 20.0);
    return amplitude * amplitude / 2.0;
}

int16_t LineSaturate(double v)
{
    const double r = std::nearbyint(v);
    if (r > 32767.0)
        return 32767;
    if (r < -32768.0)
        return -32768;
    return static_cast<int16_t>(r);
}

void LineDirection::Configure(const LineModelParams& params)
{
    params_ = params;
    gain_ = std::pow(10.0, -params.attenuationDb / 20.0);
    noiseSigma_ = 0.0;
    if (std::isfinite(params.snrDb)) {
        const double noiseDbm0 = params.nominalLevelDbm0 - params.attenuationDb - params.snrDb;
        noiseSigma_ = std::sqrt(LinePowerOfDbm0(noiseDbm0));
    }
    rng_.seed(params.noiseSeed);
    normal_.reset();
    samples_ = 0;
    burstPeriod_ = static_cast<uint64_t>(std::max(0L, std::lround(params.burstPeriodMs * kLineRate / 1000.0)));
    burstLength_ = static_cast<uint64_t>(std::max(0L, std::lround(params.burstLengthMs * kLineRate / 1000.0)));
    burstSigma_ = std::sqrt(LinePowerOfDbm0(params.nominalLevelDbm0 - params.attenuationDb - params.burstSnrDb));

    delaySamples_ = std::max(0, static_cast<int>(std::lround(params.bulkDelayMs * kLineRate / 1000.0)));
    slipSamples_ = 0;
    slips_ = 0;
    if (params.skewPpm != 0.0) {
        // Ratio in units of 1e-8 so that a skew of 0.01 ppm is still exact.
        const int64_t scale = 100000000;
        const int64_t out = scale + static_cast<int64_t>(std::llround(params.skewPpm * 100.0));
        queue_.Configure(static_cast<uint64_t>(scale), static_cast<uint64_t>(std::max<int64_t>(out, 1)), kLineRate,
                         3700.0, 4300.0);
        delaySamples_ = std::max(delaySamples_, queue_.Lookahead() + 1);
        // A receiver with a slower clock takes fewer samples than are sent, a faster one more: the latter
        // drains the delay line, so it starts with the allowance of drift in hand, and slips (takes
        // that much silence again) should a call outlast it.
        const double allowance =
            params.skewAllowanceSeconds > 0.0 ? params.skewAllowanceSeconds : kLineSkewAllowanceSeconds;
        if (params.skewPpm < 0.0)
            slipSamples_ = static_cast<int>(std::ceil(-params.skewPpm * 1e-6 * kLineRate * allowance));
        delaySamples_ += slipSamples_;
    } else {
        queue_.Configure(1, 1, kLineRate, 0, 0);
    }
    queue_.PushSilence(static_cast<size_t>(delaySamples_));

    shifting_ = params.frequencyOffsetHz != 0.0 || (params.jitterHz != 0.0 && params.jitterDegrees != 0.0);
    phase_ = 0.0;
    jitterPhase_ = 0.0;
    channelHistory_.assign(params.channel.size(), 0.0);
    channelPos_ = 0;
    phaseStep_ = params.frequencyOffsetHz / kLineRate;
    const int m = kLineHilbertHalfLength;
    hilbert_.assign(static_cast<size_t>(2 * m + 1), 0.0);
    for (int k = -m; k <= m; ++k)
        if (k % 2 != 0)
            hilbert_[static_cast<size_t>(k + m)] = 2.0 / (M_PI * k) * Blackman(k, m);
    history_.assign(static_cast<size_t>(2 * m + 1), 0.0);
    historyPos_ = 0;
    underruns_ = 0;
}

// Single-sideband shift: the analytic signal (x delayed, Hilbert transform of x) turned by the offset phase.
double LineDirection::ShiftFrequency(double x)
{
    const int m = kLineHilbertHalfLength;
    const size_t len = history_.size();
    history_[historyPos_] = x;
    // Convolution centred m samples back: tap k (of -m..m) weighs the input m + k samples before the newest.
    double h = 0.0;
    for (int k = -m; k <= m; ++k) {
        const double c = hilbert_[static_cast<size_t>(k + m)];
        if (c == 0.0)
            continue;
        const size_t idx = (historyPos_ + len - static_cast<size_t>(m + k)) % len;
        h += c * history_[idx];
    }
    const double centre = history_[(historyPos_ + len - static_cast<size_t>(m)) % len];
    historyPos_ = (historyPos_ + 1) % len;
    double angle = 2.0 * M_PI * phase_;
    phase_ += phaseStep_;
    phase_ -= std::floor(phase_);
    if (params_.jitterHz != 0.0) {
        angle += params_.jitterDegrees * M_PI / 180.0 * std::sin(2.0 * M_PI * jitterPhase_);
        jitterPhase_ += params_.jitterHz / kLineRate;
        jitterPhase_ -= std::floor(jitterPhase_);
    }
    return centre * std::cos(angle) - h * std::sin(angle);
}

void LineDirection::Process(const int16_t* in, int16_t* out, size_t n)
{
    scratch_.resize(n);
    for (size_t i = 0; i < n; ++i)
        scratch_[i] = in[i];
    queue_.Push(scratch_.data(), n);
    if (slipSamples_ > 0 && queue_.InputNeeded(n) > 0) {
        ++slips_;
        queue_.PushSilence(static_cast<size_t>(slipSamples_));
    }
    const size_t got = queue_.Pull(scratch_.data(), n);
    if (got < n) {
        ++underruns_;
        std::fill(scratch_.begin() + static_cast<long>(got), scratch_.end(), 0.0);
    }
    const size_t taps = params_.channel.size();
    for (size_t i = 0; i < n; ++i) {
        double v = scratch_[i] * gain_;
        if (taps > 0) {
            // Tap k weighs the input k samples back.
            channelHistory_[channelPos_] = v;
            double y = 0.0;
            for (size_t k = 0; k < taps; ++k)
                y += params_.channel[k] * channelHistory_[(channelPos_ + taps - k) % taps];
            channelPos_ = (channelPos_ + 1) % taps;
            v = y;
        }
        if (shifting_)
            v = ShiftFrequency(v);
        if (noiseSigma_ > 0.0)
            v += noiseSigma_ * normal_(rng_);
        const uint64_t at = samples_++;
        if (burstPeriod_ != 0 && at >= burstPeriod_ && at % burstPeriod_ < burstLength_)
            v += burstSigma_ * normal_(rng_);
        out[i] = Compand(params_.companding, LineSaturate(v));
    }
}

void LineEcho::Configure(const LineEchoParams& params)
{
    gain_ = std::isfinite(params.lossDb) ? std::pow(10.0, -params.lossDb / 20.0) : 0.0;
    long delay = std::max(0L, std::lround(params.delayMs * kLineRate / 1000.0));
    shifting_ = params.frequencyOffsetHz != 0.0 && gain_ != 0.0;
    if (shifting_) {
        LineModelParams shift;
        shift.frequencyOffsetHz = params.frequencyOffsetHz;
        shift_.Configure(shift);
        delay = std::max(0L, delay - kLineHilbertHalfLength);
    }
    ring_.assign(static_cast<size_t>(delay) + 1, 0.0);
    pos_ = 0;
}

void LineEcho::Apply(const int16_t* sent, int16_t* received, size_t n)
{
    if (gain_ == 0.0)
        return;
    const size_t len = ring_.size();
    if (shifting_) {
        echo_.resize(n);
        shifted_.resize(n);
    }
    for (size_t i = 0; i < n; ++i) {
        ring_[pos_] = sent[i];
        // The oldest entry of the ring is exactly len - 1 samples back.
        const double echo = ring_[(pos_ + 1) % len] * gain_;
        pos_ = (pos_ + 1) % len;
        if (shifting_)
            echo_[i] = LineSaturate(echo);
        else
            received[i] = LineSaturate(received[i] + echo);
    }
    if (!shifting_)
        return;
    shift_.Process(echo_.data(), shifted_.data(), n);
    for (size_t i = 0; i < n; ++i)
        received[i] = LineSaturate(static_cast<double>(received[i]) + shifted_[i]);
}
