// Helpers of the fax pump tests: the 8000 Hz line between a 9600 Hz pump and the far end (resampling both
// ways, a carrier frequency offset and white noise at a stated signal-to-noise ratio), bit sources and sinks.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "line/line_model.h"
#include "line/resampler.h"
#include "support/line_path.h"

namespace faxtest {

#if defined(MODEM_UNDER_SANITIZER)
constexpr double kPageSeconds = 1.5;
#else
constexpr double kPageSeconds = 20.0;
#endif

using linetest::LinePath;

inline std::vector<uint8_t> RandomBits(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(rng() & 1u);
    return out;
}

// Where want starts in got (its first 64 bits matched exactly), or -1.
inline long FindStart(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    const size_t key = want.size() < 64 ? want.size() : 64;
    for (size_t at = 0; at + key <= got.size(); ++at) {
        size_t k = 0;
        while (k < key && got[at + k] == want[k])
            ++k;
        if (k == key)
            return static_cast<long>(at);
    }
    return -1;
}

// Bit errors of got against want from the place where want starts; every bit of want missing counts.
inline size_t BitErrors(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want, std::string* why)
{
    const long at = FindStart(got, want);
    if (at < 0) {
        *why = "data never found in " + std::to_string(got.size()) + " bits";
        return want.size();
    }
    size_t errors = 0;
    size_t first = want.size();
    for (size_t k = 0; k < want.size(); ++k) {
        const size_t g = static_cast<size_t>(at) + k;
        if (g >= got.size() || got[g] != want[k]) {
            errors += 1;
            if (first == want.size())
                first = k;
        }
    }
    *why = std::to_string(errors) + " errors of " + std::to_string(want.size()) + ", first at " + std::to_string(first);
    return errors;
}

// The TCF check: the longest run of zeros received must cover the n zeros sent (an error inside breaks it).
inline bool HasZeroRun(const std::vector<uint8_t>& got, size_t n, std::string* why)
{
    size_t run = 0, longest = 0;
    for (uint8_t b : got) {
        run = b == 0 ? run + 1 : 0;
        longest = run > longest ? run : longest;
    }
    *why = "longest run of zeros " + std::to_string(longest) + " of " + std::to_string(n);
    return longest >= n;
}

}  // namespace faxtest
