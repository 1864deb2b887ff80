// The transmit half of the decoder tests: random data bytes, scrambled and framed by the encoder, and the
// points the receiver sees after an ideal line whose response the precoder pre-distorted for (the precoder's
// filter output added back, so each point is its lattice point u x 128), with optional Gaussian noise.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "layer1/modem/v34/v34_encoder.h"
#include "layer1/modem/v34/v34_framing.h"
#include "layer1/modem/v34/v34_scrambler.h"

namespace v34test {

// One (symbol rate, data rate) pair the rules allow.
struct RatePair {
    int symbolRateIndex;
    int rate;   // multiples of 2400 bit/s
};

inline std::vector<RatePair> AllRatePairs()
{
    const int lowest[6] = {1, 2, 2, 2, 2, 2}, highest[6] = {9, 11, 11, 12, 13, 14};
    std::vector<RatePair> v;
    for (int s = 0; s < 6; ++s)
        for (int r = lowest[s]; r <= highest[s]; ++r)
            v.push_back({s, r});
    return v;
}

inline void SetRate(V34FrameParams* f, const RatePair& p, int shaping)
{
    f->symbolRateIndex = p.symbolRateIndex;
    f->rateMultiple = p.rate;
    f->extraMultiple = 0;
    f->row = shaping;
    f->symbolRate = V34SymbolRate(p.symbolRateIndex);
}

// A realistic precoder (Q14), and none.
inline const PackedComplex* Precoder(bool on)
{
    static const PackedComplex none[3] = {};
    static const PackedComplex some[3] = {PackComplex(3000, -1500), PackComplex(-2000, 800), PackComplex(700, 300)};
    return on ? some : none;
}

class TxChain {
public:
    TxChain(const RatePair& p, int shaping, int states, bool precoding, int polynomial, uint32_t seed)
        : rng_(seed), polynomial_(polynomial)
    {
        enc_ = V34EncoderState{};
        SetRate(&enc_.frame, p, shaping);
        InitV34Encoder(&enc_, states, 0, polynomial);
        for (int k = 0; k < 3; ++k)
            enc_.coefficients[k] = Precoder(precoding)[k];
    }

    const V34EncoderState& encoder() const { return enc_; }
    const std::vector<uint8_t>& sent() const { return sent_; }

    // The next mapping frame as received: eight points (1/128 grid units) with noise of sigma, and the same
    // without noise (the lattice points u x 128).
    void NextFrame(double sigma, PackedComplex received[8], PackedComplex ideal[8])
    {
        while (enc_.reservoir.count < MappingFrameBits(&enc_)) {
            uint32_t word = 0;
            for (int k = 0; k < 4; ++k) {
                const uint8_t b = static_cast<uint8_t>(rng_());
                sent_.push_back(b);
                word |= static_cast<uint32_t>(b) << (8 * k);
            }
            ReservoirPut(&enc_.reservoir, ScrambleWord(32, polynomial_, word, &reg_));
        }
        MappingFrame mf{};
        ParseMappingFrame(&enc_, &mf);
        PackedComplex out[8];
        EncodeFrame(&enc_, &mf, out);
        std::normal_distribution<double> noise(0.0, sigma > 0 ? sigma : 1.0);
        for (int n = 0; n < 8; ++n) {
            const PackedComplex p = PrecoderOutput(enc_.coefficients, past_);
            const int x = RealPart(out[n]) + RealPart(p);
            const int y = ImagPart(out[n]) + ImagPart(p);
            past_[2] = past_[1];
            past_[1] = past_[0];
            past_[0] = out[n];
            ideal[n] = PackComplex(x, y);
            const double nx = sigma > 0 ? noise(rng_) : 0.0, ny = sigma > 0 ? noise(rng_) : 0.0;
            received[n] = PackComplex(Clip(x + std::lround(nx)), Clip(y + std::lround(ny)));
        }
    }

private:
    static int Clip(long v) { return static_cast<int>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v)); }

    V34EncoderState enc_{};
    std::mt19937 rng_;
    int polynomial_;
    uint32_t reg_ = 0;
    PackedComplex past_[3] = {};
    std::vector<uint8_t> sent_;
};

}  // namespace v34test
