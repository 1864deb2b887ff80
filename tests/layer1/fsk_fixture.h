// Helpers of the FSK tests: asynchronous characters as bits, a plain character receiver, and the 8000 Hz line
// between a 9600 Hz modem and the far end (resampling both ways, noise at a stated signal-to-noise ratio).
#pragma once

#include <cmath>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "line/line_model.h"
#include "line/resampler.h"
#include "support/line_path.h"

namespace fsktest {

// Bits of a stream of 10-bit characters (start 0, eight data bits least significant first, stop 1) with
// markBefore ones in front and markAfter ones behind.
inline std::deque<int> AsyncBits(const std::vector<uint8_t>& bytes, int markBefore, int markAfter)
{
    std::deque<int> bits(static_cast<size_t>(markBefore), 1);
    for (uint8_t b : bytes) {
        bits.push_back(0);
        for (int k = 0; k < 8; ++k)
            bits.push_back((b >> k) & 1);
        bits.push_back(1);
    }
    bits.insert(bits.end(), static_cast<size_t>(markAfter), 1);
    return bits;
}

// A character receiver: hunts a start bit, takes eight data bits and checks the stop bit (a missing stop bit
// is counted as a framing error and the character still kept).
struct AsyncReceiver {
    std::vector<uint8_t> bytes;
    int framingErrors = 0;
    int state = -1;  // -1 hunting; 0-7 data bits taken; 8 waiting for the stop bit
    uint8_t value = 0;

    void Put(int bit)
    {
        if (state < 0) {
            if (bit == 0) {
                state = 0;
                value = 0;
            }
            return;
        }
        if (state < 8) {
            value = static_cast<uint8_t>(value | (bit << state));
            state += 1;
            return;
        }
        if (bit != 1)
            framingErrors += 1;
        bytes.push_back(value);
        state = -1;
    }
};

// For a failure message: sizes and the first byte that differs.
inline std::string Mismatch(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    size_t k = 0;
    while (k < got.size() && k < want.size() && got[k] == want[k])
        ++k;
    return ": " + std::to_string(got.size()) + " of " + std::to_string(want.size()) + " bytes, first difference at " +
           std::to_string(k);
}

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (uint8_t& b : out)
        b = static_cast<uint8_t>(rng());
    return out;
}

using linetest::LinePath;

// The level in dBm0 of a sine of this amplitude.
inline double SineDbm0(double amplitude)
{
    return kLineFullScaleSineDbm0 + 20.0 * std::log10(amplitude / 32767.0);
}

}  // namespace fsktest
