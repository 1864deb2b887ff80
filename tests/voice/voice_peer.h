// The independent DTMF generator for the voice tests: keys at 8000 samples a second, followed by silence,
// optionally brought to another rate by the line's resampler.
#pragma once

#ifdef HAVE_SPANDSP
#include <cmath>
#include <cstdint>
#include <vector>

#include "line/resampler.h"

extern "C" {
#include <spandsp.h>
}

namespace voicetest {

inline std::vector<double> PeerDtmf(const char* keys, int levelDbm0, int twistDb, int onMs, int offMs,
                                    size_t silenceAfter = 2400)
{
    dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
    dtmf_tx_set_level(tx, levelDbm0, twistDb);
    dtmf_tx_set_timing(tx, onMs, offMs);
    dtmf_tx_put(tx, keys, -1);
    std::vector<double> x;
    int16_t buf[160];
    int n;
    while ((n = dtmf_tx(tx, buf, 160)) > 0)
        x.insert(x.end(), buf, buf + n);
    dtmf_tx_free(tx);
    x.insert(x.end(), silenceAfter, 0.0);
    return x;
}

// 8000 Hz samples at another rate, rounded and saturated to 16 bits.
inline std::vector<int16_t> AtRate(const std::vector<double>& x8, uint32_t rate)
{
    Resampler r;
    r.ConfigureRates(8000, rate);
    r.Push(x8.data(), x8.size());
    std::vector<double> y(x8.size() * 2 + 16);
    y.resize(r.Pull(y.data(), y.size()));
    std::vector<int16_t> out(y.size());
    for (size_t i = 0; i < y.size(); ++i)
        out[i] = static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, y[i]))));
    return out;
}

}  // namespace voicetest
#endif
