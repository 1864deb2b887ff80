// Cuts a recording of what a modem sent into its bursts: stretches of signal above 500 units, separated by at
// least 200 ms (1600 samples at 8000 Hz) of near-silence.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace debugtest {

struct Burst {
    size_t first;
    size_t last;
};

template <typename Sample>
std::vector<Burst> Bursts(const std::vector<Sample>& x)
{
    std::vector<Burst> out;
    const size_t gap = 1600;
    size_t quiet = gap;
    for (size_t i = 0; i < x.size(); ++i) {
        if (std::fabs(static_cast<double>(x[i])) > 500) {
            if (quiet >= gap)
                out.push_back({i, i});
            out.back().last = i;
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return out;
}

}  // namespace debugtest
