#include "line/resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

constexpr double kStopbandDb = 80.0;

double BesselI0(double x)
{
    double sum = 1.0;
    double term = 1.0;
    const double q = x * x / 4.0;
    for (int k = 1; k < 64; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-17)
            break;
    }
    return sum;
}

double Sinc(double x)
{
    if (std::fabs(x) < 1e-12)
        return 1.0;
    const double px = M_PI * x;
    return std::sin(px) / px;
}

}  // namespace

void ResamplerBandEdges(uint32_t rateA, uint32_t rateB, double* passEdgeHz, double* stopEdgeHz)
{
    const double nyquist = std::min(rateA, rateB) / 2.0;
    if (nyquist >= 3600.0) {
        *passEdgeHz = 3400.0;
        *stopEdgeHz = 2.0 * nyquist - 3400.0;
    } else {
        *passEdgeHz = nyquist * 5.0 / 6.0;
        *stopEdgeHz = nyquist * 7.0 / 6.0;
    }
}

void Resampler::ConfigureRates(uint32_t inputHz, uint32_t outputHz)
{
    double pass = 0;
    double stop = 0;
    ResamplerBandEdges(inputHz, outputHz, &pass, &stop);
    Configure(inputHz, outputHz, inputHz, pass, stop);
}

void ExactPumpRate(uint32_t nominalHz, uint64_t* numerator, uint64_t* denominator)
{
    *numerator = nominalHz;
    *denominator = 1;
    if (nominalHz == 8229) {
        *numerator = 57600;
        *denominator = 7;
    } else if (nominalHz == 10287) {
        *numerator = 72000;
        *denominator = 7;
    }
}

void Resampler::ConfigureWide(uint64_t inputNum, uint64_t inputDen, uint64_t outputNum, uint64_t outputDen)
{
    const double in = static_cast<double>(inputNum) / static_cast<double>(inputDen);
    const double out = static_cast<double>(outputNum) / static_cast<double>(outputDen);
    const double nyquist = std::min(in, out) / 2.0;
    Configure(inputNum * outputDen, outputNum * inputDen, in, kWidePassEdgeHz, 2.0 * nyquist - kWidePassEdgeHz);
}

void Resampler::Configure(uint64_t inputRate, uint64_t outputRate, double inputRateHz, double passEdgeHz,
                          double stopEdgeHz)
{
    const uint64_t g = std::gcd(inputRate, outputRate);
    step_ = inputRate / g;
    denom_ = outputRate / g;
    identity_ = (step_ == 1 && denom_ == 1);
    stepWhole_ = step_ / denom_;
    stepFrac_ = step_ % denom_;
    table_.clear();
    if (identity_) {
        halfWidth_ = 0;
        taps_ = 0;
        Reset();
        return;
    }
    // Kaiser: taps = (A - 7.95) / (2.285 * transition in radians per input sample) + 1.
    const double transition = 2.0 * M_PI * (stopEdgeHz - passEdgeHz) / inputRateHz;
    const double n = (kStopbandDb - 7.95) / (2.285 * transition) + 1.0;
    halfWidth_ = static_cast<int>(std::ceil(n / 2.0));
    taps_ = static_cast<size_t>(2 * halfWidth_);
    const double beta = 0.1102 * (kStopbandDb - 8.7);
    const double cutoff = (passEdgeHz + stopEdgeHz) / inputRateHz;  // 2 fc / Fi
    interpolated_ = denom_ > kExactPhaseLimit;
    rows_ = interpolated_ ? kInterpolatedPhases + 1 : static_cast<int>(denom_);
    const double i0Beta = BesselI0(beta);
    table_.assign(static_cast<size_t>(rows_) * taps_, 0.0);
    for (int r = 0; r < rows_; ++r) {
        const double phase = interpolated_ ? static_cast<double>(r) / kInterpolatedPhases
                                           : static_cast<double>(r) / static_cast<double>(denom_);
        double sum = 0.0;
        for (size_t j = 0; j < taps_; ++j) {
            // Tap j weighs input (position - halfWidth + 1 + j); t is the distance from the output position.
            const double t = phase - (static_cast<double>(j) - halfWidth_ + 1);
            const double u = t / halfWidth_;
            double v = 0.0;
            if (std::fabs(u) < 1.0)
                v = cutoff * Sinc(cutoff * t) * BesselI0(beta * std::sqrt(1.0 - u * u)) / i0Beta;
            table_[static_cast<size_t>(r) * taps_ + j] = v;
            sum += v;
        }
        for (size_t j = 0; j < taps_; ++j)
            table_[static_cast<size_t>(r) * taps_ + j] /= sum;  // exact unity gain at DC
    }
    Reset();
}

void Resampler::Reset()
{
    // Half a kernel of silence ahead of the first input, so output 0 sits exactly on input 0 (no delay in the
    // signal; the latency is the halfWidth inputs the kernel reads ahead).
    frac_ = 0;
    buffer_.assign(static_cast<size_t>(halfWidth_), 0.0);
    ipos_ = buffer_.size();
    signalEnd_ = 0;
}

void Resampler::Push(const double* input, size_t n)
{
    for (size_t i = n; i > 0; --i) {
        if (input[i - 1] != 0.0) {
            signalEnd_ = buffer_.size() + i;
            break;
        }
    }
    buffer_.insert(buffer_.end(), input, input + n);
}

void Resampler::PushSilence(size_t n)
{
    buffer_.insert(buffer_.end(), n, 0.0);
}

size_t Resampler::InputNeeded(size_t n) const
{
    if (n == 0)
        return 0;
    if (identity_) {
        const size_t have = buffer_.size() - ipos_;
        return n > have ? n - have : 0;
    }
    // Position of the last of the n outputs, then the last input its kernel reads.
    const unsigned __int128 advance = static_cast<unsigned __int128>(n - 1) * step_ + frac_;
    const size_t lastPos = ipos_ + static_cast<size_t>(advance / denom_);
    const size_t lastInput = lastPos + static_cast<size_t>(halfWidth_);
    return lastInput + 1 > buffer_.size() ? lastInput + 1 - buffer_.size() : 0;
}

size_t Resampler::Pull(double* output, size_t n)
{
    size_t produced = 0;
    if (identity_) {
        const size_t have = buffer_.size() - ipos_;
        produced = std::min(n, have);
        std::copy(buffer_.begin() + static_cast<long>(ipos_), buffer_.begin() + static_cast<long>(ipos_ + produced),
                  output);
        ipos_ += produced;
        Compact();
        return produced;
    }
    if (!interpolated_)
        produced = PullExact(output, n);
    while (produced < n) {
        if (ipos_ + static_cast<size_t>(halfWidth_) >= buffer_.size())
            break;
        const double* in = buffer_.data() + ipos_ + 1 - static_cast<size_t>(halfWidth_);
        double acc = 0.0;
        if (ipos_ + 1 - static_cast<size_t>(halfWidth_) >= signalEnd_) {
            // Only silence under the kernel: 0.0, as the products would give.
        } else if (!interpolated_) {
            const double* row = table_.data() + static_cast<size_t>(frac_) * taps_;
            for (size_t j = 0; j < taps_; ++j)
                acc += row[j] * in[j];
        } else {
            const unsigned __int128 scaled = static_cast<unsigned __int128>(frac_) * kInterpolatedPhases;
            const size_t r = static_cast<size_t>(scaled / denom_);
            const double alpha =
                static_cast<double>(static_cast<uint64_t>(scaled % denom_)) / static_cast<double>(denom_);
            const double* row0 = table_.data() + r * taps_;
            const double* row1 = row0 + taps_;
            for (size_t j = 0; j < taps_; ++j)
                acc += (row0[j] + alpha * (row1[j] - row0[j])) * in[j];
        }
        output[produced++] = acc;
        Advance(&ipos_, &frac_);
    }
    Compact();
    return produced;
}

// The outputs of an exact-phase table while the buffered input allows, four at a time; stops at the last few
// (the general loop takes those). Each output sums row[j] * in[j] for j upward from 0.0, as the general loop
// does; a kernel that reads only zeros gives 0.0 (the products of zeros add up to +0.0 exactly).
size_t Resampler::PullExact(double* output, size_t n)
{
    size_t produced = 0;
    const size_t hw = static_cast<size_t>(halfWidth_);
    while (n - produced >= 4) {
        size_t pos[4];
        uint64_t frac[4];
        size_t p = ipos_;
        uint64_t f = frac_;
        for (int k = 0; k < 4; ++k) {
            pos[k] = p;
            frac[k] = f;
            Advance(&p, &f);
        }
        if (pos[3] + hw >= buffer_.size())
            break;
        if (pos[0] + 1 - hw >= signalEnd_) {
            for (int k = 0; k < 4; ++k)
                output[produced + k] = 0.0;
        } else {
            const double* in[4];
            const double* row[4];
            for (int k = 0; k < 4; ++k) {
                in[k] = buffer_.data() + pos[k] + 1 - hw;
                row[k] = table_.data() + static_cast<size_t>(frac[k]) * taps_;
            }
            double a0 = 0.0, a1 = 0.0, a2 = 0.0, a3 = 0.0;
            for (size_t j = 0; j < taps_; ++j) {
                a0 += row[0][j] * in[0][j];
                a1 += row[1][j] * in[1][j];
                a2 += row[2][j] * in[2][j];
                a3 += row[3][j] * in[3][j];
            }
            output[produced] = a0;
            output[produced + 1] = a1;
            output[produced + 2] = a2;
            output[produced + 3] = a3;
        }
        produced += 4;
        ipos_ = p;
        frac_ = f;
    }
    return produced;
}

// Drops inputs no kernel will read again.
void Resampler::Compact()
{
    const size_t back = identity_ ? 0 : static_cast<size_t>(halfWidth_) - 1;
    const size_t keepFrom = ipos_ >= back ? ipos_ - back : 0;
    if (keepFrom < 4096)
        return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(keepFrom));
    ipos_ -= keepFrom;
    signalEnd_ = signalEnd_ > keepFrom ? signalEnd_ - keepFrom : 0;
}
