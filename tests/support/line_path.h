// One direction of the line for the pump tests: samples of rateIn Hz are resampled to 8000 Hz, pass the line
// model (noise at snrDb against a signal of levelDbm0 at the receiving end, an optional frequency offset and
// attenuation) and are resampled to rateOut Hz. Identity conversions are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "line/line_model.h"
#include "line/resampler.h"

namespace linetest {

class LinePath {
public:
    LinePath(uint32_t rateIn, uint32_t rateOut, double snrDb, double levelDbm0, uint32_t seed = 1,
             double offsetHz = 0.0, double attenuationDb = 0.0)
    {
        up_.ConfigureRates(rateIn, kLineRate);
        down_.ConfigureRates(kLineRate, rateOut);
        LineModelParams p;
        p.snrDb = snrDb;
        p.nominalLevelDbm0 = levelDbm0;
        p.noiseSeed = seed;
        p.frequencyOffsetHz = offsetHz;
        p.attenuationDb = attenuationDb;
        line_.Configure(p);
    }

    // Pushes samples in and returns what came out (may be fewer or more than went in).
    std::vector<int16_t> Process(const int16_t* in, size_t n)
    {
        std::vector<double> x(in, in + n);
        up_.Push(x.data(), x.size());
        std::vector<double> mid(n * 2 + 16);
        const size_t m = up_.Pull(mid.data(), mid.size());
        std::vector<int16_t> m16(m), l16(m);
        for (size_t i = 0; i < m; ++i)
            m16[i] = LineSaturate(mid[i]);
        line_.Process(m16.data(), l16.data(), m);
        std::vector<double> l(l16.begin(), l16.end());
        down_.Push(l.data(), l.size());
        std::vector<double> out(m * 2 + 16);
        const size_t k = down_.Pull(out.data(), out.size());
        std::vector<int16_t> o(k);
        for (size_t i = 0; i < k; ++i)
            o[i] = LineSaturate(out[i]);
        return o;
    }

private:
    Resampler up_;
    Resampler down_;
    LineDirection line_;
};

}  // namespace linetest
