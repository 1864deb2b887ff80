#include "line/exchange_tones.h"

#include <algorithm>
#include <cmath>

#include "line/line_model.h"

namespace {

constexpr uint64_t kSamplesPerMs = kLineRate / 1000;
constexpr double kTwoPi = 6.283185307179586476925;

// sin(2 pi f s / 8000), with the phase reduced exactly (f is a whole number of Hz).
double Sine(uint16_t f, uint64_t s)
{
    const uint64_t cycle = (static_cast<uint64_t>(f) * (s % kLineRate)) % kLineRate;
    return std::sin(kTwoPi * static_cast<double>(cycle) / kLineRate);
}

unsigned Pairs(const ExchangeSignal& signal)
{
    return std::min<unsigned>(signal.pairs, 4);
}

}  // namespace

uint64_t ExchangeSignalCycle(const ExchangeSignal& signal)
{
    uint64_t ms = 0;
    for (unsigned k = 0; k < Pairs(signal); ++k)
        ms += static_cast<uint64_t>(signal.onMs[k]) + signal.offMs[k];
    return ms * kSamplesPerMs;
}

bool ExchangeSignalOnAt(const ExchangeSignal& signal, uint64_t s)
{
    const uint64_t cycle = ExchangeSignalCycle(signal);
    if (cycle == 0)
        return true;  // continuous (a cadence of nothing but zero times counts as continuous too)
    uint64_t pos = s % cycle;
    for (unsigned k = 0; k < Pairs(signal); ++k) {
        const uint64_t on = signal.onMs[k] * kSamplesPerMs;
        const uint64_t off = signal.offMs[k] * kSamplesPerMs;
        if (pos < on)
            return true;
        pos -= on;
        if (pos < off)
            return false;
        pos -= off;
    }
    return false;
}

void ExchangeToneStart(ExchangeTonePlayer* player, const ExchangeSignal* signal)
{
    player->signal = signal;
    player->sample = 0;
}

void ExchangeToneRender(ExchangeTonePlayer* player, int16_t* out, size_t n)
{
    const ExchangeSignal* sig = player->signal;
    if (sig == nullptr || sig->f1 == 0) {
        std::fill(out, out + n, 0);
        player->sample += n;
        return;
    }
    // Level per frequency: a sine of mean power at -level dBm0.
    const double amplitude = std::sqrt(2.0 * LinePowerOfDbm0(-static_cast<double>(sig->level)));
    for (size_t i = 0; i < n; ++i) {
        const uint64_t s = player->sample++;
        double v = 0.0;
        if (ExchangeSignalOnAt(*sig, s)) {
            if (sig->modulated && sig->f2 != 0)
                v = amplitude * Sine(sig->f1, s) * (1.0 + 0.5 * Sine(sig->f2, s)) / 1.5;
            else
                v = amplitude * (Sine(sig->f1, s) + (sig->f2 != 0 ? Sine(sig->f2, s) : 0.0));
        }
        out[i] = LineSaturate(v);
    }
}
