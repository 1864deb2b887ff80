// Both directions of a line between two pumps that send at the same time, for the echo-cancelling modems:
// each side's samples (rateHz) are resampled to the 8000 Hz line, cross the line model of their direction
// (noise, bulk delay, clock skew) and are resampled back; each side also hears its own signal back through a
// near echo (its hybrid) and a far echo (the far end's hybrid, reflected back across the line). Both sides
// run in lock step, one block each per call; the receive side is a queue, so each block takes exactly n
// samples once the line's latency has filled it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "line/line_model.h"
#include "line/resampler.h"

namespace linetest {

struct DuplexSide {
    double snrDb = INFINITY;       // of the signal arriving at this side
    double nearLossDb = INFINITY;  // echo return loss of this side's hybrid
    double nearDelayMs = 0.5;
    double farLossDb = INFINITY;   // this side's signal reflected by the far hybrid
    double farDelayMs = 0.0;       // bulk delay of that reflection (round trip)
    double skewPpm = 0.0;          // this side's clock against the far side's
    // The signal arriving at this side: the channel (FIR taps at 8000 Hz), attenuation, frequency offset and
    // phase jitter; and this side's far echo's own frequency offset.
    std::vector<double> channel;
    double attenuationDb = 0.0;
    double offsetHz = 0.0;
    double jitterHz = 0.0;
    double jitterDegrees = 0.0;
    double farOffsetHz = 0.0;
};

struct DuplexParams {
    uint32_t rateHz = 7200;
    double levelDbm0 = -10.0;      // level the signal-to-noise ratios refer to
    double bulkDelayMs = 0.0;      // one way
    uint32_t seed = 1;
    double skewAllowanceSeconds = 0.0;  // of the line model: a run longer than this at a skew slips
    // Converters passing 150-3750 Hz (the V.34 and PCM pumps) instead of the narrowband ones.
    bool wideband = false;
    DuplexSide side[2];
};

class DuplexLine {
public:
    explicit DuplexLine(const DuplexParams& p) : rate_(p.rateHz)
    {
        for (int s = 0; s < 2; ++s) {
            const DuplexSide& me = p.side[s];
            const DuplexSide& other = p.side[1 - s];
            if (p.wideband) {
                uint64_t num;
                uint64_t den;
                ExactPumpRate(p.rateHz, &num, &den);
                up_[s].ConfigureWide(num, den, kLineRate, 1);
                down_[s].ConfigureWide(kLineRate, 1, num, den);
            } else {
                up_[s].ConfigureRates(p.rateHz, kLineRate);
                down_[s].ConfigureRates(kLineRate, p.rateHz);
            }
            // Direction s -> 1 - s: the receiver's clock against the sender's.
            LineModelParams lp;
            lp.snrDb = other.snrDb;
            lp.nominalLevelDbm0 = p.levelDbm0;
            lp.noiseSeed = p.seed * 2 + static_cast<uint32_t>(s);
            lp.bulkDelayMs = p.bulkDelayMs;
            lp.skewPpm = other.skewPpm - me.skewPpm;
            lp.skewAllowanceSeconds = p.skewAllowanceSeconds;
            lp.channel = other.channel;
            lp.attenuationDb = other.attenuationDb;
            lp.frequencyOffsetHz = other.offsetHz;
            lp.jitterHz = other.jitterHz;
            lp.jitterDegrees = other.jitterDegrees;
            line_[s].Configure(lp);
            near_[s].Configure(LineEchoParams{me.nearLossDb, me.nearDelayMs});
            far_[s].Configure(LineEchoParams{me.farLossDb, me.farDelayMs, me.farOffsetHz});
        }
    }

    // One block: out[s] is what side s sends (n samples at rateHz); in[s] gets n samples it receives.
    void Step(const int16_t* const out[2], int16_t* const in[2], size_t n)
    {
        std::vector<int16_t> sent[2];
        for (int s = 0; s < 2; ++s)
            sent[s] = ToLine(s, out[s], n);
        for (int s = 0; s < 2; ++s)
            carry_[s].insert(carry_[s].end(), sent[s].begin(), sent[s].end());
        const size_t k = carry_[0].size() < carry_[1].size() ? carry_[0].size() : carry_[1].size();
        std::vector<int16_t> a[2], across[2];
        for (int s = 0; s < 2; ++s) {
            a[s].assign(carry_[s].begin(), carry_[s].begin() + static_cast<long>(k));
            carry_[s].erase(carry_[s].begin(), carry_[s].begin() + static_cast<long>(k));
            across[s].resize(k);
            line_[s].Process(a[s].data(), across[s].data(), k);
        }
        for (int s = 0; s < 2; ++s) {
            std::vector<int16_t>& heard = across[1 - s];
            near_[s].Apply(a[s].data(), heard.data(), k);
            far_[s].Apply(a[s].data(), heard.data(), k);
            FromLine(s, heard);
            for (size_t i = 0; i < n; ++i) {
                if (queue_[s].empty()) {
                    in[s][i] = 0;
                    underruns_ += 1;
                    continue;
                }
                in[s][i] = queue_[s].front();
                queue_[s].pop_front();
            }
        }
    }

    // Receive latency added at the start (samples at rateHz), so the queues never run dry.
    void Prefill(size_t n)
    {
        for (int s = 0; s < 2; ++s)
            queue_[s].insert(queue_[s].end(), n, 0);
    }
    uint64_t Underruns() const { return underruns_; }
    // Gaps and slips of the line model's delay lines (each a glitch the modems hear).
    uint64_t LineGlitches() const
    {
        return line_[0].Underruns() + line_[1].Underruns() + line_[0].Slips() + line_[1].Slips();
    }

    // Samples (at rateHz) from a sample sent by side 0 to the peak of its own echo, with `prefill` samples
    // of receive latency: the stream latency a modem on this line would be told.
    static int32_t EchoLatency(const DuplexParams& params, size_t prefill)
    {
        DuplexParams p = params;
        p.side[0] = DuplexSide{};
        p.side[1] = DuplexSide{};
        p.side[0].nearLossDb = 0.0;
        p.side[0].nearDelayMs = 0.0;
        DuplexLine line(p);
        line.Prefill(prefill);
        const size_t n = 48;
        std::vector<int16_t> a(n, 0), b(n, 0), ra(n), rb(n);
        a[0] = 16000;
        int32_t best = 0, at = 0;
        for (int32_t block = 0; block < 40; ++block) {
            const int16_t* out[2] = {a.data(), b.data()};
            int16_t* in[2] = {ra.data(), rb.data()};
            line.Step(out, in, n);
            a[0] = 0;
            for (size_t i = 0; i < n; ++i) {
                const int32_t v = ra[i] < 0 ? -ra[i] : ra[i];
                if (v > best) {
                    best = v;
                    at = block * static_cast<int32_t>(n) + static_cast<int32_t>(i);
                }
            }
        }
        return at;
    }

private:
    std::vector<int16_t> ToLine(int s, const int16_t* x, size_t n)
    {
        std::vector<double> d(x, x + n);
        up_[s].Push(d.data(), n);
        std::vector<double> mid(n * 2 + 16);
        const size_t m = up_[s].Pull(mid.data(), mid.size());
        std::vector<int16_t> o(m);
        for (size_t i = 0; i < m; ++i)
            o[i] = LineSaturate(mid[i]);
        return o;
    }

    void FromLine(int s, const std::vector<int16_t>& x)
    {
        std::vector<double> d(x.begin(), x.end());
        down_[s].Push(d.data(), d.size());
        std::vector<double> o(d.size() * 2 + 16);
        const size_t k = down_[s].Pull(o.data(), o.size());
        for (size_t i = 0; i < k; ++i)
            queue_[s].push_back(LineSaturate(o[i]));
    }

    uint32_t rate_;
    Resampler up_[2];
    Resampler down_[2];
    LineDirection line_[2];
    LineEcho near_[2];
    LineEcho far_[2];
    std::deque<int16_t> carry_[2];
    std::deque<int16_t> queue_[2];
    uint64_t underruns_ = 0;
};

}  // namespace linetest
